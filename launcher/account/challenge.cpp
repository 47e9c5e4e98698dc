// The proof-of-work solver and the building of a challenge answer.
//
// The service asks for the smallest nonce n such that SHA-256(salt bytes +
// decimal digits of n) starts with `difficulty` zero bits. Every player signs
// in through this loop, so it avoids the obvious waste:
//   - the salt's whole 64-byte blocks are compressed once, and only the last
//     one or two blocks (salt tail, digits, padding) are compressed per nonce;
//   - the digits are counted up in place in that block instead of formatting
//     each number, and the padding is rewritten only when the digit count
//     grows;
//   - when the message ends in two blocks, the first one changes only when a
//     carry reaches a digit inside it, so its state is kept between nonces;
//   - compression goes through Sha256State, i.e. the SHA extensions where the
//     processor has them.
#include "launcher/account/challenge.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "base/log.h"
#include "base/text.h"
#include "launcher/net/sha256.h"

namespace ember::launcher::account {

namespace {

constexpr uint64_t kCheckEvery = 65536;  // nonces between stop/expiry tests

// "SHA-256", "sha256" and no name at all mean SHA-256.
bool supportedAlgorithm(const std::string& alg) {
    std::string name;
    for (char c : alg) {
        if (c == '-') {
            continue;
        }
        name += asciiLower(c);
    }
    return name.empty() || name == "sha256";
}

// Pairs of hex characters from the start; a pair that is not valid hex
// gives whatever strtoul makes of it (the service's own decoder does the
// same), and an odd last character is dropped.
std::string saltBytes(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        char pair[3] = {hex[i], hex[i + 1], '\0'};
        bytes += char(uint8_t(std::strtoul(pair, nullptr, 16)));
    }
    return bytes;
}

uint64_t nonceBudget(const Challenge& challenge) {
    if (challenge.maxIters != 0) {
        return challenge.maxIters;
    }
    return challenge.difficulty < 59 ? uint64_t(16) << challenge.difficulty : UINT64_MAX;
}

bool expired(int64_t expiresAt) {
    if (expiresAt == 0) {
        return false;
    }
    return unixSeconds() > expiresAt;
}

// Leading zero bits of the digest, read from the chaining words (word 0 is
// the digest's first four bytes, most significant first), at least `wanted`.
bool enoughZeroBits(const uint32_t words[8], uint32_t wanted) {
    for (int i = 0; i < 8 && wanted > 0; ++i) {
        if (wanted < 32) {
            return (words[i] >> (32 - wanted)) == 0;
        }
        if (words[i] != 0) {
            return false;
        }
        wanted -= 32;
    }
    return true;
}

// The end of the message (salt bytes after the last whole block, the
// nonce's digits, the padding) laid out in one or two blocks, with the
// digits counted up in place.
class NonceBlocks {
public:
    NonceBlocks(const std::string& salt, const Sha256State& prefix, uint64_t first)
        : prefix_(prefix), saltLength_(salt.size()) {
        size_t whole = salt.size() / 64 * 64;
        tailLength_ = salt.size() - whole;
        std::memcpy(buffer_, salt.data() + whole, tailLength_);
        setDigits(first);
    }

    // Hashes the current nonce; the state holds the digest's words after.
    void hash(Sha256State& out) {
        if (blocks_ == 2) {
            if (firstDirty_) {
                firstBlock_ = prefix_;
                firstBlock_.compress(buffer_, 1);
                firstDirty_ = false;
            }
            out = firstBlock_;
            out.compress(buffer_ + 64, 1);
        } else {
            out = prefix_;
            out.compress(buffer_, 1);
        }
    }

    // n + 1: a carry walks left through the nines; one past the first digit
    // means one more digit ("99" -> "100") and a new layout.
    void next(uint64_t nextValue) {
        size_t i = tailLength_ + digits_;
        while (i > tailLength_) {
            --i;
            if (buffer_[i] != '9') {
                ++buffer_[i];
                firstDirty_ = firstDirty_ || i < 64;
                return;
            }
            buffer_[i] = '0';
        }
        setDigits(nextValue);
    }

private:
    void setDigits(uint64_t n) {
        char text[24];
        size_t length = 0;
        do {
            text[length++] = char('0' + n % 10);
            n /= 10;
        } while (n != 0);
        digits_ = length;
        for (size_t i = 0; i < length; ++i) {
            buffer_[tailLength_ + i] = uint8_t(text[length - 1 - i]);
        }
        // Padding: 0x80, zeros, then the message length in bits in the last
        // 8 bytes of the last block.
        size_t end = tailLength_ + digits_;
        blocks_ = end + 9 <= 64 ? 1 : 2;
        size_t total = blocks_ * 64;
        buffer_[end] = 0x80;
        std::memset(buffer_ + end + 1, 0, total - end - 1);
        uint64_t bits = uint64_t(saltLength_ + digits_) * 8;
        for (int i = 0; i < 8; ++i) {
            buffer_[total - 1 - i] = uint8_t(bits >> (8 * i));
        }
        firstDirty_ = true;
    }

    Sha256State prefix_;      // after the salt's whole blocks
    Sha256State firstBlock_;  // after the first of two last blocks
    size_t saltLength_;
    size_t tailLength_;  // salt bytes in the last block(s)
    size_t digits_ = 0;
    size_t blocks_ = 1;
    bool firstDirty_ = true;
    uint8_t buffer_[128];
};

}  // namespace

bool solvePow(const Challenge& challenge, uint64_t& nonce, const std::function<bool()>& stop,
              uint32_t timeLimitMs) {
    // Refuse what cannot be solved before any hashing.
    if (!supportedAlgorithm(challenge.alg)) {
        return false;
    }
    if (challenge.difficulty == 0 || challenge.difficulty > 256) {
        return false;
    }
    const std::string salt = saltBytes(challenge.salt);
    const uint64_t budget = nonceBudget(challenge);

    // The salt's whole blocks are the same for every nonce.
    Sha256State prefix;
    prefix.compress(reinterpret_cast<const uint8_t*>(salt.data()), salt.size() / 64);
    NonceBlocks blocks(salt, prefix, 0);

    // Rounds of 65,536 nonces, each opened by the stop, expiry and time tests.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeLimitMs);
    Sha256State digest;
    for (uint64_t n = 0; n < budget;) {
        if (stop && stop()) {
            return false;
        }
        if (expired(challenge.expiresAt)) {
            return false;
        }
        if (n != 0 && std::chrono::steady_clock::now() > deadline) {
            logLine("proof-of-work: given up after " + std::to_string(timeLimitMs) + " ms (difficulty " +
                    std::to_string(challenge.difficulty) + ")");
            return false;
        }
        const uint64_t roundEnd = std::min(budget, n + std::min(kCheckEvery, UINT64_MAX - n));
        for (; n < roundEnd; ++n) {
            blocks.hash(digest);
            if (enoughZeroBits(digest.words, challenge.difficulty)) {
                nonce = n;
                return true;
            }
            blocks.next(n + 1);
        }
    }
    return false;
}

bool solve(const Demand& demand, const std::string& answer, Solution& solution,
           const std::function<bool()>& stop, uint32_t timeLimitMs) {
    solution = Solution{};
    const auto& required = demand.required;
    bool ok = true;
    if (std::find(required.begin(), required.end(), "pow") != required.end()) {
        uint64_t n = 0;
        if (solvePow(demand.challenge, n, stop, timeLimitMs)) {
            solution.hasPow = true;
            solution.powToken = demand.challenge.token;
            solution.powN = n;
        } else {
            ok = false;
        }
    }
    if (std::find(required.begin(), required.end(), "visual") != required.end()) {
        solution.hasVisual = true;
        solution.visualToken = demand.challenge.token;
        solution.visualAnswer = answer;
    }
    return ok;
}

}  // namespace ember::launcher::account
