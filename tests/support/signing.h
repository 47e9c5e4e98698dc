// Signing manifests in tests the way minisign does, with libsodium: the
// stand-in's test key from fixtures/signing/test.key (kept without a
// password), or a fresh key pair that no build trusts. Tests that include
// this link libsodium (target `sodium`).
#pragma once

#include <sodium.h>

#include <cstring>
#include <string>

#include "base/paths.h"

namespace ember::launcher::testing {

class TestSigner {
public:
    // The stand-in's test key. ok() is false when the file does not read.
    static TestSigner standinKey() {
        TestSigner signer;
        std::string text;
        if (!readWholeFile(std::string(EMBER_SOURCE_DIR) + "/fixtures/signing/test.key", text)) return signer;
        size_t line = text.find('\n');
        std::string b64 = text.substr(line + 1);
        b64 = b64.substr(0, b64.find_first_of("\r\n"));
        // Ed, kdf (none), checksum kind, salt (32), limits (16), key id, secret key, checksum.
        unsigned char raw[158];
        size_t got = 0;
        if (sodium_base642bin(raw, sizeof raw, b64.data(), b64.size(), nullptr, &got, nullptr,
                              sodium_base64_VARIANT_ORIGINAL) != 0 ||
            got != sizeof raw || raw[2] != 0 || raw[3] != 0) {
            return signer;
        }
        std::memcpy(signer.id_, raw + 54, 8);
        std::memcpy(signer.sk_, raw + 62, 64);
        signer.ok_ = true;
        return signer;
    }
    // A key pair of its own (an unknown key to every build).
    static TestSigner freshKey() {
        TestSigner signer;
        if (sodium_init() < 0) return signer;
        unsigned char pk[32];
        crypto_sign_keypair(pk, signer.sk_);
        randombytes_buf(signer.id_, sizeof signer.id_);
        signer.ok_ = true;
        return signer;
    }
    bool ok() const { return ok_; }

    // A signature file for `bytes` with this trusted comment.
    std::string sign(const std::string& bytes, const std::string& trustedComment, bool prehashed = true) const {
        if (sodium_init() < 0) return "";
        unsigned char line[74];
        line[0] = 'E';
        line[1] = prehashed ? 'D' : 'd';
        std::memcpy(line + 2, id_, 8);
        const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
        if (prehashed) {
            unsigned char hash[64];
            crypto_generichash(hash, sizeof hash, data, bytes.size(), nullptr, 0);
            crypto_sign_detached(line + 10, nullptr, hash, sizeof hash, sk_);
        } else {
            crypto_sign_detached(line + 10, nullptr, data, bytes.size(), sk_);
        }
        std::string global(reinterpret_cast<const char*>(line + 10), 64);
        global += trustedComment;
        unsigned char globalSig[64];
        crypto_sign_detached(globalSig, nullptr, reinterpret_cast<const unsigned char*>(global.data()), global.size(),
                             sk_);
        return "untrusted comment: signature from a test\n" + base64(line, sizeof line) + "\ntrusted comment: " +
               trustedComment + "\n" + base64(globalSig, sizeof globalSig) + "\n";
    }

    static std::string base64(const unsigned char* bytes, size_t size) {
        std::string out(sodium_base64_encoded_len(size, sodium_base64_VARIANT_ORIGINAL), '\0');
        sodium_bin2base64(&out[0], out.size(), bytes, size, sodium_base64_VARIANT_ORIGINAL);
        out.pop_back();  // the terminating NUL
        return out;
    }

private:
    unsigned char sk_[64] = {};
    unsigned char id_[8] = {};
    bool ok_ = false;
};

// The launcher's trusted comment.
inline std::string manifestTerms(unsigned long long sequence, const std::string& expires = "2099-01-01T00:00:00Z") {
    return "emberlane-manifest sequence=" + std::to_string(sequence) + " expires=" + expires;
}

}  // namespace ember::launcher::testing
