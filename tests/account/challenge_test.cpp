#include "launcher/account/challenge.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "launcher/net/sha256.h"
#include "launcher/net/sha256_internal.h"

namespace ember::launcher::account {
namespace {

using sha256_detail::Engine;

std::vector<Engine> availableEngines() {
    std::vector<Engine> engines{Engine::portable};
    if (sha256_detail::cpuHasShaExtensions()) {
        engines.push_back(Engine::shaExtensions);
    }
    return engines;
}

struct EngineGuard {
    ~EngineGuard() { sha256_detail::useBestEngine(); }
};

Challenge challengeOf(const std::string& salt, uint32_t difficulty, uint64_t maxIters = 0) {
    Challenge c;
    c.token = "tok";
    c.alg = "SHA-256";
    c.salt = salt;
    c.difficulty = difficulty;
    c.maxIters = maxIters;
    return c;
}

// The rule written plainly with the streaming hasher and std::to_string.
uint64_t slowFirstNonce(const std::string& saltBytes, uint32_t difficulty) {
    for (uint64_t n = 0;; ++n) {
        std::string message = saltBytes + std::to_string(n);
        Sha256Digest d = sha256(message.data(), message.size());
        uint32_t zeros = 0;
        for (uint8_t byte : d) {
            if (byte != 0) {
                zeros += uint32_t(__builtin_clz(byte)) - 24;
                break;
            }
            zeros += 8;
        }
        if (zeros >= difficulty) {
            return n;
        }
    }
}

// --- Agreement with Python's hashlib (tools/make-pow-vectors) ----------------

TEST(SolvePow, FindsTheSameFirstNonceAsHashlibOnEveryEngine) {
    std::ifstream in(std::string(EMBER_SOURCE_DIR) + "/tests/data/pow-challenges.txt");
    struct Row {
        std::string salt;
        uint32_t difficulty;
        uint64_t maxIters;
        std::string nonce;
    };
    std::vector<Row> rows;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream fields(line);
        Row r;
        fields >> r.salt >> r.difficulty >> r.maxIters >> r.nonce;
        rows.push_back(r);
    }
    ASSERT_GE(rows.size(), 300u) << "tests/data/pow-challenges.txt missing or short";

    EngineGuard guard;
    for (Engine engine : availableEngines()) {
        ASSERT_TRUE(sha256_detail::useEngine(engine));
        for (const Row& r : rows) {
            Challenge c = challengeOf(r.salt == "-" ? "" : r.salt, r.difficulty, r.maxIters);
            uint64_t n = 0;
            bool found = solvePow(c, n);
            std::string got = found ? std::to_string(n) : "-";
            EXPECT_EQ(got, r.nonce) << "engine " << int(engine) << ", salt " << r.salt.size()
                                    << " hex chars, difficulty " << r.difficulty << ", maxIters " << r.maxIters;
        }
    }
}

// --- Refusals, budget, stop and expiry -------------------------------------

TEST(SolvePow, RefusesChecksAndStopsWhereTheRuleSays) {
    const int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    struct Case {
        const char* name;
        const char* alg;
        uint32_t difficulty;
        uint64_t maxIters;
        int64_t expiresAt;
        int stopOnCall;  // the stop test answers true on this call; 0 never
        bool solved;
        int stopCalls;  // how often the stop test ran
    };
    const Case cases[] = {
        {"capitals and a dash", "SHA-256", 8, 0, 0, 0, true, 1},
        {"plain name", "sha256", 8, 0, 0, 0, true, 1},
        {"no name", "", 8, 0, 0, 0, true, 1},
        {"dashes anywhere", "s-h-a-2-5-6", 8, 0, 0, 0, true, 1},
        {"other hash", "sha1", 8, 0, 0, 0, false, 0},
        {"bigger hash", "SHA-512", 8, 0, 0, 0, false, 0},
        {"trailing space", "sha256 ", 8, 0, 0, 0, false, 0},
        {"difficulty 0", "sha256", 0, 0, 0, 0, false, 0},
        {"difficulty 257", "sha256", 257, 0, 0, 0, false, 0},
        {"difficulty 256 runs", "sha256", 256, 1, 0, 0, false, 1},
        {"expired before n = 0", "sha256", 1, 0, 1, 0, false, 1},
        {"not yet expired", "sha256", 8, 0, now + 3600, 0, true, 1},
        {"stop before n = 0", "sha256", 1, 0, 0, 1, false, 1},
        {"tests every 65536", "sha256", 64, 2 * 65536 + 1, 0, 0, false, 3},
        {"budget of one round", "sha256", 64, 65536, 0, 0, false, 1},
        {"stop at the second test", "sha256", 64, 10 * 65536, 0, 2, false, 2},
    };
    for (const Case& c : cases) {
        Challenge challenge = challengeOf("00ff", c.difficulty, c.maxIters);
        challenge.alg = c.alg;
        challenge.expiresAt = c.expiresAt;
        int calls = 0;
        uint64_t n = 12345;
        bool solved = solvePow(challenge, n, [&] { return ++calls == c.stopOnCall; });
        EXPECT_EQ(solved, c.solved) << c.name;
        EXPECT_EQ(calls, c.stopCalls) << c.name;
        if (solved) {
            EXPECT_EQ(n, slowFirstNonce(std::string("\x00\xff", 2), c.difficulty)) << c.name;
        }
    }
}

TEST(SolvePow, ADemandWithoutEndGivesUpAfterTheTimeLimit) {
    struct Case {
        const char* name;
        uint32_t difficulty;
        uint64_t maxIters;
    } cases[] = {
        {"difficulty 256", 256, 0},
        {"difficulty 40 with a budget of 10^19", 40, 10000000000000000000u},
    };
    for (const Case& c : cases) {
        uint64_t n = 0;
        // The stop test runs once a round of 65,536 nonces: count the rounds
        // begun once the time limit had surely passed (the solver starts its
        // clock a moment after this one). A solver that ignores its limit
        // runs on for ever (until the test's time-out).
        const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(300 + 500);
        int roundsPastTheLimit = 0;
        const auto pastLimit = [&] {
            if (std::chrono::steady_clock::now() >= limit) ++roundsPastTheLimit;
            return false;
        };
        EXPECT_FALSE(solvePow(challengeOf("00ff", c.difficulty, c.maxIters), n, pastLimit, 300)) << c.name;
        EXPECT_LE(roundsPastTheLimit, 1) << c.name << " ran on past its time limit";
    }
}

TEST(SolvePow, DecodesTheSaltPairByPair) {
    // The pair decoding of strtoul: invalid characters end a pair's number,
    // an odd last character is dropped.
    const struct {
        const char* hex;
        std::string bytes;
    } cases[] = {
        {"abc", "\xab"},
        {"AbCd", "\xab\xcd"},
        {"1g", "\x01"},
        {"zz12", std::string("\x00\x12", 2)},
        {"x", ""},
    };
    for (const auto& c : cases) {
        uint64_t n = 0;
        ASSERT_TRUE(solvePow(challengeOf(c.hex, 12), n)) << c.hex;
        EXPECT_EQ(n, slowFirstNonce(c.bytes, 12)) << c.hex;
    }
}

// --- Building the answer ---------------------------------------------------

TEST(Solve, AnswersTheLayersTheDemandRequires) {
    const struct {
        const char* name;
        std::vector<std::string> required;
        uint32_t difficulty;
        bool ok;
        bool hasPow;
        bool hasVisual;
        bool solverRan;
    } cases[] = {
        {"visual only never solves", {"visual"}, 0, true, false, true, false},
        {"both parts", {"pow", "visual"}, 4, true, true, true, true},
        {"pow only", {"pow"}, 4, true, true, false, true},
        {"failed pow keeps the visual part", {"visual", "pow"}, 300, false, false, true, false},
        {"nothing required", {}, 4, true, false, false, false},
    };
    for (const auto& c : cases) {
        Demand demand;
        demand.required = c.required;
        demand.challenge = challengeOf("c0ffee", c.difficulty);
        demand.challenge.token = "T-1";
        Solution solution;
        solution.powN = 99;  // stale values must not survive
        bool ran = false;
        bool ok = solve(demand, "123456", solution, [&] { return ran = true, false; });
        EXPECT_EQ(ok, c.ok) << c.name;
        EXPECT_EQ(ran, c.solverRan) << c.name;
        EXPECT_EQ(solution.hasPow, c.hasPow) << c.name;
        EXPECT_EQ(solution.hasVisual, c.hasVisual) << c.name;
        if (c.hasPow) {
            EXPECT_EQ(solution.powToken, "T-1") << c.name;
            EXPECT_EQ(solution.powN, slowFirstNonce("\xc0\xff\xee", c.difficulty)) << c.name;
        } else {
            EXPECT_EQ(solution.powN, 0u) << c.name;
        }
        if (c.hasVisual) {
            EXPECT_EQ(solution.visualToken, "T-1") << c.name;
            EXPECT_EQ(solution.visualAnswer, "123456") << c.name;
        }
    }
}

}  // namespace
}  // namespace ember::launcher::account
