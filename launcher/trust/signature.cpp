// Reading and checking minisign signatures with libsodium.
#include "launcher/trust/signature.h"

#include <sodium.h>

#include <cstdio>
#include <cstring>

#include "base/text.h"

namespace ember::launcher::trust {

namespace {

constexpr const char kUntrustedPrefix[] = "untrusted comment: ";
constexpr const char kTrustedPrefix[] = "trusted comment: ";
constexpr const char kTermsPrefix[] = "emberlane-manifest sequence=";
constexpr const char kExpiresWord[] = " expires=";
constexpr size_t kSignatureLineBytes = 2 + 8 + 64;

Failure fail(FailureKind kind, const std::string& message) {
    Failure f;
    f.kind = kind;
    f.message = message;
    return f;
}

// Canonical base64 (standard alphabet, '=' padding) of exactly `size` bytes.
bool decodeExact(const std::string& text, uint8_t* out, size_t size) {
    if (text.size() != sodium_base64_encoded_len(size, sodium_base64_VARIANT_ORIGINAL) - 1) return false;
    size_t written = 0;
    const char* end = nullptr;
    if (sodium_base642bin(out, size, text.data(), text.size(), nullptr, &written, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0) {
        return false;
    }
    return written == size && end == text.data() + text.size();
}

// The lines of a file, each ended by "\n" or "\r\n" (the last may end the
// file instead). False on a stray "\r" or a NUL.
bool splitLines(const std::string& text, std::vector<std::string>& lines) {
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find('\r') != std::string::npos || line.find('\0') != std::string::npos) return false;
        lines.push_back(line);
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return true;
}

std::string hex(const uint8_t* bytes, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < size; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

bool digitsOnly(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (!isAsciiDigit(c)) return false;
    }
    return true;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

unsigned daysInMonth(unsigned year, unsigned month) {
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

// "YYYY-MM-DDTHH:MM:SSZ", every field in range.
bool parseUtc(const std::string& text, int64_t& seconds) {
    if (text.size() != 20) return false;
    const char* shape = "dddd-dd-ddTdd:dd:ddZ";
    for (size_t i = 0; i < 20; ++i) {
        if (shape[i] == 'd' ? !isAsciiDigit(text[i]) : text[i] != shape[i]) return false;
    }
    auto num = [&](size_t at, size_t n) {
        unsigned v = 0;
        for (size_t i = 0; i < n; ++i) v = v * 10 + static_cast<unsigned>(text[at + i] - '0');
        return v;
    };
    const unsigned year = num(0, 4), month = num(5, 2), day = num(8, 2);
    const unsigned hour = num(11, 2), minute = num(14, 2), second = num(17, 2);
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month)) return false;
    if (hour > 23 || minute > 59 || second > 59) return false;
    seconds = daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    return true;
}

bool sodiumReady() {
    // sodium_init is safe to call from any thread, any number of times.
    return sodium_init() >= 0;
}

}  // namespace

const char* kindName(FailureKind kind) {
    switch (kind) {
        case FailureKind::none: return "none";
        case FailureKind::missing: return "missing";
        case FailureKind::tooLarge: return "too-large";
        case FailureKind::malformed: return "malformed";
        case FailureKind::unknownKey: return "unknown-key";
        case FailureKind::badSignature: return "bad-signature";
        case FailureKind::badTrustedComment: return "bad-trusted-comment";
        case FailureKind::badTerms: return "bad-terms";
        case FailureKind::rollback: return "rollback";
        case FailureKind::fork: return "fork";
        case FailureKind::expired: return "expired";
    }
    return "unknown";
}

std::string keyIdText(const std::array<uint8_t, 8>& id) {
    // minisign shows the id as a little-endian number.
    char out[17];
    for (int i = 0; i < 8; ++i) std::snprintf(out + 2 * i, 3, "%02X", id[7 - i]);
    return std::string(out, 16);
}

bool parsePublicKey(const std::string& text, PublicKey& key, std::string& error) {
    std::vector<std::string> lines;
    if (text.size() > 1024 || !splitLines(text, lines) || lines.empty()) {
        error = "not a minisign public key";
        return false;
    }
    // A whole .pub file: its untrusted comment, then the key.
    std::string line = lines[0];
    if (startsWith(line, kUntrustedPrefix)) line = lines.size() >= 2 ? lines[1] : "";
    uint8_t raw[2 + 8 + 32];
    if (!decodeExact(line, raw, sizeof raw) || raw[0] != 'E' || raw[1] != 'd') {
        error = "not a minisign public key";
        return false;
    }
    std::memcpy(key.id.data(), raw + 2, 8);
    std::memcpy(key.key.data(), raw + 10, 32);
    return true;
}

Failure readSignatureFile(const std::string& text, SignatureFile& out) {
    if (text.empty()) return fail(FailureKind::missing, "the signature file is empty");
    if (text.size() > kMaxSignatureBytes) {
        return fail(FailureKind::tooLarge, "the signature file is larger than " + std::to_string(kMaxSignatureBytes) +
                                               " bytes");
    }
    std::vector<std::string> lines;
    if (!splitLines(text, lines) || lines.size() != 4) {
        return fail(FailureKind::malformed, "the signature file does not have the four lines of a minisign signature");
    }
    if (!startsWith(lines[0], kUntrustedPrefix)) {
        return fail(FailureKind::malformed, "the signature file does not begin with \"untrusted comment: \"");
    }
    uint8_t raw[kSignatureLineBytes];
    if (!decodeExact(lines[1], raw, sizeof raw)) {
        return fail(FailureKind::malformed, "the signature line is not base64 of a minisign signature");
    }
    if (raw[0] == 'E' && raw[1] == 'D') {
        out.prehashed = true;
    } else if (raw[0] == 'E' && raw[1] == 'd') {
        out.prehashed = false;
    } else {
        return fail(FailureKind::malformed, "the signature's algorithm is neither Ed25519 nor prehashed Ed25519");
    }
    std::memcpy(out.keyId.data(), raw + 2, 8);
    std::memcpy(out.signature.data(), raw + 10, 64);
    if (!startsWith(lines[2], kTrustedPrefix)) {
        return fail(FailureKind::malformed, "the third line does not begin with \"trusted comment: \"");
    }
    out.trustedComment = lines[2].substr(std::strlen(kTrustedPrefix));
    if (!decodeExact(lines[3], out.globalSignature.data(), out.globalSignature.size())) {
        return fail(FailureKind::malformed, "the global signature line is not base64 of a signature");
    }
    return Failure();
}

Failure parseTerms(const std::string& comment, Terms& terms) {
    const Failure bad = fail(FailureKind::badTerms, "the trusted comment is not \"emberlane-manifest sequence=N "
                                                    "expires=YYYY-MM-DDTHH:MM:SSZ\": " + comment.substr(0, 120));
    if (!startsWith(comment, kTermsPrefix)) return bad;
    const size_t numberAt = std::strlen(kTermsPrefix);
    const size_t space = comment.find(' ', numberAt);
    if (space == std::string::npos) return bad;
    const std::string number = comment.substr(numberAt, space - numberAt);
    if (!digitsOnly(number) || number.size() > 18 || (number.size() > 1 && number[0] == '0')) return bad;
    if (comment.compare(space, std::strlen(kExpiresWord), kExpiresWord) != 0) return bad;
    const std::string when = comment.substr(space + std::strlen(kExpiresWord));
    int64_t expires = 0;
    if (!parseUtc(when, expires)) return bad;
    terms.sequence = std::stoull(number);
    terms.expires = expires;
    terms.expiresText = when;
    return Failure();
}

Failure verifyManifest(const std::string& bytes, const std::string& signatureText, const std::vector<PublicKey>& keys,
                       Verified& out) {
    if (!sodiumReady()) return fail(FailureKind::badSignature, "the signature library could not start");
    SignatureFile sig;
    Failure read = readSignatureFile(signatureText, sig);
    if (read.failed()) return read;

    const PublicKey* key = nullptr;
    for (const PublicKey& k : keys) {
        if (k.id == sig.keyId) key = &k;
    }
    if (key == nullptr) {
        return fail(FailureKind::unknownKey, "signed by key " + keyIdText(sig.keyId) + ", which this launcher does not "
                                             "trust");
    }

    // One pass over the bytes: the prehashed form signs their BLAKE2b-512,
    // and the digest kept for the fork check is made from that hash too.
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    unsigned char hash[crypto_generichash_BYTES_MAX];
    crypto_generichash(hash, sizeof hash, data, bytes.size(), nullptr, 0);
    const int good = sig.prehashed
                         ? crypto_sign_verify_detached(sig.signature.data(), hash, sizeof hash, key->key.data())
                         : crypto_sign_verify_detached(sig.signature.data(), data, bytes.size(), key->key.data());
    if (good != 0) return fail(FailureKind::badSignature, "the manifest is not what key " + keyIdText(key->id) + " signed");

    std::string global(reinterpret_cast<const char*>(sig.signature.data()), sig.signature.size());
    global += sig.trustedComment;
    if (crypto_sign_verify_detached(sig.globalSignature.data(), reinterpret_cast<const unsigned char*>(global.data()),
                                    global.size(), key->key.data()) != 0) {
        return fail(FailureKind::badTrustedComment, "the trusted comment is not what key " + keyIdText(key->id) +
                                                        " signed");
    }

    Terms terms;
    Failure parsed = parseTerms(sig.trustedComment, terms);
    if (parsed.failed()) return parsed;

    unsigned char digest[32];
    crypto_generichash(digest, sizeof digest, hash, sizeof hash, nullptr, 0);
    out.key = *key;
    out.terms = terms;
    out.digest = hex(digest, sizeof digest);
    return Failure();
}

Failure checkTerms(const Verified& v, const AcceptedRecord& record, int64_t nowUnix, bool checkExpiry) {
    if (!record.digest.empty()) {
        if (v.terms.sequence < record.sequence) {
            return fail(FailureKind::rollback, "sequence " + std::to_string(v.terms.sequence) +
                                                   " is older than the " + std::to_string(record.sequence) +
                                                   " already accepted");
        }
        if (v.terms.sequence == record.sequence && v.digest != record.digest) {
            return fail(FailureKind::fork, "sequence " + std::to_string(v.terms.sequence) +
                                               " was accepted before with other contents");
        }
    }
    if (checkExpiry && v.terms.expires < nowUnix - kExpirySkewSeconds) {
        return fail(FailureKind::expired, "the manifest expired at " + v.terms.expiresText);
    }
    return Failure();
}

std::string signatureUrlFor(const std::string& url) {
    const size_t query = url.find_first_of("?#");
    if (query == std::string::npos) return url + ".minisig";
    return url.substr(0, query) + ".minisig" + url.substr(query);
}

}  // namespace ember::launcher::trust
