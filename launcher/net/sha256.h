// SHA-256 (FIPS 180-4) and hex digests.
//
// One implementation for the whole program: downloads are hashed as they
// arrive, installed files are hashed from disk in one 64 KiB buffer, and the
// proof-of-work hashes millions of short candidates. Where the processor has
// the SHA extensions they are used (chosen once at run time); the portable
// code is the fallback and both are tested on the same vectors.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/text.h"  // isSha256Hex, sameDigest

namespace ember::launcher {

using Sha256Digest = std::array<uint8_t, 32>;

class Sha256 {
public:
    Sha256() { reset(); }
    void reset();
    void update(const void* data, size_t length);
    Sha256Digest final();  // the context is not reused afterwards

private:
    // Chaining words, bytes fed so far, and the partial block (0..63 bytes).
    uint32_t state_[8];
    uint64_t count_ = 0;
    uint8_t buffer_[64];
    size_t buffered_ = 0;
};

Sha256Digest sha256(const void* data, size_t length);

// The raw chaining state, for callers that hash many messages sharing a
// long prefix (the proof-of-work): compress the prefix's whole blocks once,
// copy the state, and compress only the last block(s) of each message. The
// caller lays out the blocks itself, padding included. Compression uses the
// same engine as Sha256 (the SHA extensions where the processor has them).
struct Sha256State {
    uint32_t words[8];  // FIPS 180-4 H0..H7; starts at the initial values

    Sha256State();
    // Compresses `blocks` consecutive 64-byte blocks into `words`.
    void compress(const uint8_t* data, size_t blocks);
    // The words as a digest (big-endian), meaningful after the padded last
    // block.
    Sha256Digest digest() const;
};
std::string toHex(const Sha256Digest& digest);
// The lower-case hex digest of `bytes`, as manifests spell it.
inline std::string sha256Hex(std::string_view bytes) { return toHex(sha256(bytes.data(), bytes.size())); }
// Hashes a whole file (UTF-8 path) in 64 KiB chunks and stores the lower-case
// hex digest in `out`; false when the file cannot be opened or a read fails
// part way (a folder, a bad sector), and then `out` is untouched.
bool sha256File(const std::string& path, std::string& out);

}  // namespace ember::launcher
