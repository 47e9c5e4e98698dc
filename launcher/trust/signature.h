// Manifest signatures: a detached minisign signature beside the manifest,
// made offline by the publisher, checked against the keys built into this
// launcher before any byte of the manifest is parsed.
//
// The signature file has four lines: an untrusted comment, the signature
// (algorithm "Ed": over the bytes; "ED": over their BLAKE2b-512, minisign's
// default), a trusted comment, and the global signature over the signature
// and the trusted comment. The trusted comment carries the launcher's terms:
//
//     emberlane-manifest sequence=<N> expires=<YYYY-MM-DDTHH:MM:SSZ>
//
// N is a decimal whole number (no sign, no leading zero, at most 18 digits);
// the time is UTC. Nothing else, single spaces, in that order.
//
// Everything here is a value: a Failure with a kind and a message, never an
// exception. The cryptography is libsodium's.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ember::launcher::trust {

enum class FailureKind {
    none,
    missing,          // no signature was published (or it could not be fetched)
    tooLarge,         // the signature file is larger than any real one
    malformed,        // not a minisign signature file
    unknownKey,       // signed by a key this launcher does not trust
    badSignature,     // the manifest's bytes are not what was signed
    badTrustedComment,// the trusted comment is not what was signed
    badTerms,         // signed, but the trusted comment is not the launcher's grammar
    rollback,         // an older manifest than one already accepted
    fork,             // the same sequence as an accepted manifest, other bytes
    expired,          // past its expiry
};

// The one spelling of each kind (logs and reports).
const char* kindName(FailureKind kind);

struct Failure {
    FailureKind kind = FailureKind::none;
    std::string message;
    bool failed() const { return kind != FailureKind::none; }
};

// Why a key is pinned: the publisher's key in use, the one that follows it
// after a rotation, or the stand-in's test key (test builds only).
enum class KeyRole : uint8_t { current, next, test };
// "current", "next", "test" (as trusted-keys.txt and --check-manifest spell them).
const char* spelling(KeyRole role);

// A public key: minisign's key id (8 bytes, as stored) and the Ed25519 key.
struct PublicKey {
    std::array<uint8_t, 8> id{};
    std::array<uint8_t, 32> key{};
    KeyRole role = KeyRole::current;
};

// The key id as minisign prints it (16 upper-case hex digits).
std::string keyIdText(const std::array<uint8_t, 8>& id);

// A public key from the base64 line of a minisign .pub file (or the whole
// file: the line after its untrusted comment). False with `error` set when
// it is not one.
bool parsePublicKey(const std::string& text, PublicKey& key, std::string& error);

// The largest signature file read (a real one is about 300 bytes; the
// comments may be long, but not this long).
inline constexpr size_t kMaxSignatureBytes = 4096;

struct SignatureFile {
    bool prehashed = false;  // "ED": the signature is over BLAKE2b-512 of the bytes
    std::array<uint8_t, 8> keyId{};
    std::array<uint8_t, 64> signature{};
    std::string trustedComment;  // without "trusted comment: "
    std::array<uint8_t, 64> globalSignature{};
};

// Reads a signature file strictly: the size limit, exactly four lines (each
// ended by "\n" or "\r\n", the last one's end optional), the comment
// prefixes, canonical base64 of the exact lengths, a known algorithm.
Failure readSignatureFile(const std::string& text, SignatureFile& out);

// The launcher's terms from the trusted comment.
struct Terms {
    uint64_t sequence = 0;
    int64_t expires = 0;       // Unix seconds
    std::string expiresText;   // as written
};
Failure parseTerms(const std::string& trustedComment, Terms& terms);

// What a good signature says.
struct Verified {
    PublicKey key;
    Terms terms;
    std::string digest;  // BLAKE2b-256 of the BLAKE2b-512 of the manifest bytes, hex
};

// Checks `signatureText` over `manifestBytes` with one of `keys`: the
// reader, the key id, the signature over the bytes, the global signature
// over the signature and trusted comment, the terms' grammar.
Failure verifyManifest(const std::string& manifestBytes, const std::string& signatureText,
                       const std::vector<PublicKey>& keys, Verified& out);

// The highest manifest accepted so far from one address.
struct AcceptedRecord {
    uint64_t sequence = 0;
    std::string digest;  // empty: nothing accepted yet
};

// The clock skew allowed on the expiry.
inline constexpr int64_t kExpirySkewSeconds = 600;

// Rollback and freeze: refuses a lower sequence than the record's, the same
// sequence with other bytes, and (when `checkExpiry`) an expiry more than
// the skew in the past.
Failure checkTerms(const Verified& verified, const AcceptedRecord& record, int64_t nowUnix, bool checkExpiry);

// The keys this build trusts (from launcher/trust/trusted-keys.txt, and
// the stand-in's test key in builds that trust it).
const std::vector<PublicKey>& pinnedKeys();
// True when this build trusts the stand-in service's test key.
bool trustsTestKey();

// Where a manifest's signature is published: the URL's path + ".minisig",
// its query (if any) kept after it.
std::string signatureUrlFor(const std::string& manifestUrl);

}  // namespace ember::launcher::trust
