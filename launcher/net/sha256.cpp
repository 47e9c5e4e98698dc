// SHA-256 (FIPS 180-4): the streaming context, the portable compression, the
// choice of compression engine, hex digests and file hashing.
#include "launcher/net/sha256.h"

#include <atomic>
#include <cstring>
#include <memory>

#include "base/paths.h"
#include "launcher/net/sha256_internal.h"

namespace ember::launcher {
namespace sha256_detail {
namespace {

inline uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

// Big-endian words; on little-endian machines a byte swap of a plain load or
// store, which compilers turn into one instruction.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ && defined(__GNUC__)
inline uint32_t loadBigEndian(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return __builtin_bswap32(v);
}

inline void storeBigEndian(uint8_t* p, uint32_t v) {
    v = __builtin_bswap32(v);
    std::memcpy(p, &v, 4);
}
#else
inline uint32_t loadBigEndian(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

inline void storeBigEndian(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}
#endif

// Initial hash values: the first 32 bits of the fractional parts of the
// square roots of the first 8 primes.
constexpr uint32_t kInitial[8] = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

}  // namespace

void compressPortable(uint32_t state[8], const uint8_t* data, size_t blocks) {
    for (; blocks > 0; --blocks, data += 64) {
        // The message schedule lives in a rolling window of 16 words.
        uint32_t w[16];
        for (int i = 0; i < 16; ++i) {
            w[i] = loadBigEndian(data + 4 * i);
        }
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        // Maj(a, b, c) = b ^ ((a ^ b) & (b ^ c)), and the next round's b ^ c
        // is this round's a ^ b: carrying it saves an operation per round.
        uint32_t bc = b ^ c;

        // One round; the caller rotates the roles of a..h instead of moving
        // the values, so eight rounds bring them back where they started.
#define EMBER_SHA_ROUND(a, b, c, d, e, f, g, h, k, x)                                        \
    do {                                                                                     \
        uint32_t t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + (g ^ (e & (f ^ g))) + \
                      (k) + (x);                                                             \
        uint32_t ab = a ^ b;                                                                 \
        uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + (b ^ (ab & bc));           \
        bc = ab;                                                                             \
        d += t1;                                                                             \
        h = t1 + t2;                                                                         \
    } while (0)
        // Word i of the schedule for rounds 16..63, computed in place.
#define EMBER_SHA_NEXT(i)                                                                          \
    (w[(i) & 15] += (rotr(w[((i) + 14) & 15], 17) ^ rotr(w[((i) + 14) & 15], 19) ^                \
                     (w[((i) + 14) & 15] >> 10)) +                                                 \
                    w[((i) + 9) & 15] +                                                            \
                    (rotr(w[((i) + 1) & 15], 7) ^ rotr(w[((i) + 1) & 15], 18) ^ (w[((i) + 1) & 15] >> 3)))
#define EMBER_SHA_EIGHT(base, W)                                          \
    EMBER_SHA_ROUND(a, b, c, d, e, f, g, h, kRound[j + (base)], W((base)));     \
    EMBER_SHA_ROUND(h, a, b, c, d, e, f, g, kRound[j + (base) + 1], W((base) + 1)); \
    EMBER_SHA_ROUND(g, h, a, b, c, d, e, f, kRound[j + (base) + 2], W((base) + 2)); \
    EMBER_SHA_ROUND(f, g, h, a, b, c, d, e, kRound[j + (base) + 3], W((base) + 3)); \
    EMBER_SHA_ROUND(e, f, g, h, a, b, c, d, kRound[j + (base) + 4], W((base) + 4)); \
    EMBER_SHA_ROUND(d, e, f, g, h, a, b, c, kRound[j + (base) + 5], W((base) + 5)); \
    EMBER_SHA_ROUND(c, d, e, f, g, h, a, b, kRound[j + (base) + 6], W((base) + 6)); \
    EMBER_SHA_ROUND(b, c, d, e, f, g, h, a, kRound[j + (base) + 7], W((base) + 7))
#define EMBER_SHA_FIRST(i) w[(i)]

        // Rounds 0..15 take the message words as they are.
        int j = 0;
        EMBER_SHA_EIGHT(0, EMBER_SHA_FIRST);
        EMBER_SHA_EIGHT(8, EMBER_SHA_FIRST);
        // Rounds 16..63 extend the schedule as they go.
        for (j = 16; j < 64; j += 16) {
            EMBER_SHA_EIGHT(0, EMBER_SHA_NEXT);
            EMBER_SHA_EIGHT(8, EMBER_SHA_NEXT);
        }
#undef EMBER_SHA_FIRST
#undef EMBER_SHA_EIGHT
#undef EMBER_SHA_NEXT
#undef EMBER_SHA_ROUND

        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

namespace {

// The engine in use. It starts as a resolver that picks the best engine on
// the first call, so the processor is asked once and no static initialiser
// order matters. Racing first calls store the same value.
void resolveAndCompress(uint32_t state[8], const uint8_t* data, size_t blocks);
std::atomic<CompressFn> gCompress{resolveAndCompress};

CompressFn bestEngine() {
    return cpuHasShaExtensions() ? compressShaExtensions : compressPortable;
}

void resolveAndCompress(uint32_t state[8], const uint8_t* data, size_t blocks) {
    CompressFn best = bestEngine();
    gCompress.store(best, std::memory_order_relaxed);
    best(state, data, blocks);
}

inline void compress(uint32_t state[8], const uint8_t* data, size_t blocks) {
    gCompress.load(std::memory_order_relaxed)(state, data, blocks);
}

}  // namespace

bool useEngine(Engine engine) {
    if (engine == Engine::shaExtensions) {
        if (!cpuHasShaExtensions()) {
            return false;
        }
        gCompress.store(compressShaExtensions, std::memory_order_relaxed);
        return true;
    }
    gCompress.store(compressPortable, std::memory_order_relaxed);
    return true;
}

Engine currentEngine() {
    CompressFn fn = gCompress.load(std::memory_order_relaxed);
    if (fn == resolveAndCompress) {
        fn = bestEngine();
    }
    return fn == compressShaExtensions ? Engine::shaExtensions : Engine::portable;
}

void useBestEngine() { gCompress.store(bestEngine(), std::memory_order_relaxed); }

}  // namespace sha256_detail

using sha256_detail::compress;
using sha256_detail::storeBigEndian;

void Sha256::reset() {
    std::memcpy(state_, sha256_detail::kInitial, sizeof state_);
    count_ = 0;
    buffered_ = 0;
}

void Sha256::update(const void* data, size_t length) {
    if (length == 0) {
        return;  // also keeps a null pointer away from memcpy
    }
    const uint8_t* in = static_cast<const uint8_t*>(data);
    count_ += length;

    // Top up a partly filled block first.
    if (buffered_ > 0) {
        size_t take = 64 - buffered_;
        if (take > length) {
            take = length;
        }
        std::memcpy(buffer_ + buffered_, in, take);
        buffered_ += take;
        in += take;
        length -= take;
        if (buffered_ < 64) {
            return;
        }
        compress(state_, buffer_, 1);
        buffered_ = 0;
    }

    // Whole blocks straight from the caller's memory.
    size_t blocks = length / 64;
    if (blocks > 0) {
        compress(state_, in, blocks);
        in += blocks * 64;
        length -= blocks * 64;
    }

    // Keep the tail for the next call.
    if (length > 0) {
        std::memcpy(buffer_, in, length);
        buffered_ = length;
    }
}

Sha256Digest Sha256::final() {
    // Padding: 0x80, zeros up to 56 bytes into a block, then the message
    // length in bits as a big-endian 64-bit number.
    uint64_t bits = count_ * 8;
    buffer_[buffered_++] = 0x80;
    if (buffered_ > 56) {
        std::memset(buffer_ + buffered_, 0, 64 - buffered_);
        compress(state_, buffer_, 1);
        buffered_ = 0;
    }
    std::memset(buffer_ + buffered_, 0, 56 - buffered_);
    storeBigEndian(buffer_ + 56, uint32_t(bits >> 32));
    storeBigEndian(buffer_ + 60, uint32_t(bits));
    compress(state_, buffer_, 1);
    buffered_ = 0;

    // The digest is the chaining words in big-endian order.
    Sha256Digest digest;
    for (int i = 0; i < 8; ++i) {
        storeBigEndian(digest.data() + 4 * i, state_[i]);
    }
    return digest;
}

Sha256Digest sha256(const void* data, size_t length) {
    Sha256 hasher;
    hasher.update(data, length);
    return hasher.final();
}

Sha256State::Sha256State() { std::memcpy(words, sha256_detail::kInitial, sizeof words); }

void Sha256State::compress(const uint8_t* data, size_t blocks) {
    sha256_detail::compress(words, data, blocks);
}

Sha256Digest Sha256State::digest() const {
    Sha256Digest out;
    for (int i = 0; i < 8; ++i) {
        storeBigEndian(out.data() + 4 * i, words[i]);
    }
    return out;
}

std::string toHex(const Sha256Digest& digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text(64, '0');
    for (size_t i = 0; i < digest.size(); ++i) {
        text[2 * i] = kDigits[digest[i] >> 4];
        text[2 * i + 1] = kDigits[digest[i] & 15];
    }
    return text;
}

bool sha256File(const std::string& path, std::string& out) {
    // Open for binary reading; a file that cannot be opened leaves `out` alone.
    FILE* file = openFile(path, "rb");
    if (file == nullptr) {
        return false;
    }

    // Feed the file through one 64 KiB buffer, so any size hashes in
    // constant memory.
    constexpr size_t kChunk = 0x10000;
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kChunk]);
    Sha256 hasher;
    for (;;) {
        size_t got = std::fread(buffer.get(), 1, kChunk, file);
        if (got == 0) {
            break;
        }
        hasher.update(buffer.get(), got);
    }

    // A read error would yield the digest of whatever came before it, which
    // no caller could tell from the real one; report it like an unreadable
    // file instead (this is also what a directory opened as a file gives).
    bool readFailed = std::ferror(file) != 0;
    std::fclose(file);
    if (readFailed) {
        return false;
    }
    out = toHex(hasher.final());
    return true;
}

}  // namespace ember::launcher
