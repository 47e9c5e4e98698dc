// Proof-of-work throughput on one thread: solvePow's nonces per second
// beside one whole SHA-256 of a 40-byte message (the launcher's hasher and
// OpenSSL's low-level calls) and OpenSSL's bare block compression, in the
// same run. solvePow hashes one block per nonce for short salts, so the
// bare compression is its ceiling and the 40-byte hash is the rate of the
// obvious loop (format the number, hash the whole message).
#include <benchmark/benchmark.h>
#include <openssl/sha.h>

#include <algorithm>
#include <cstring>

#include "launcher/account/challenge.h"
#include "launcher/net/sha256.h"
#include "launcher/net/sha256_internal.h"

namespace {

using namespace ember::launcher;
using sha256_detail::Engine;

constexpr uint64_t kNoncesPerIteration = 65536;

struct EngineScope {
    explicit EngineScope(Engine engine) : ok(sha256_detail::useEngine(engine)) {}
    ~EngineScope() { sha256_detail::useBestEngine(); }
    bool ok;
};

void solvePowRate(benchmark::State& state, Engine engine, const char* saltHex) {
    EngineScope scope(engine);
    if (!scope.ok) {
        state.SkipWithError("engine not available on this processor");
        return;
    }
    account::Challenge challenge;
    challenge.salt = saltHex;
    challenge.difficulty = 64;  // never met: the whole budget is hashed
    challenge.maxIters = kNoncesPerIteration;
    for (auto _ : state) {
        uint64_t n = 0;
        benchmark::DoNotOptimize(account::solvePow(challenge, n));
    }
    state.SetItemsProcessed(int64_t(state.iterations() * kNoncesPerIteration));
}

const char* const kSalt16 = "00112233445566778899aabbccddeeff";
// 60 bytes: the digits and the padding spill into a second block.
const char* const kSalt60 =
    "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"
    "202122232425262728292a2b2c2d2e2f303132333435363738393a3b";

void BM_SolvePow_Salt16(benchmark::State& s) { solvePowRate(s, sha256_detail::currentEngine(), kSalt16); }
void BM_SolvePow_Salt60(benchmark::State& s) { solvePowRate(s, sha256_detail::currentEngine(), kSalt60); }
void BM_SolvePow_Salt16Portable(benchmark::State& s) { solvePowRate(s, Engine::portable, kSalt16); }

// --- The 40-byte whole-hash loads (as in bench_sha256) -----------------------

struct Candidate {
    uint8_t bytes[40];
    Candidate() { std::memcpy(bytes, "ember-pow:challenge-0123456789:00000000", 40); }
    void next(uint64_t n) { std::memcpy(bytes + 32, &n, 8); }
};

void BM_Message40_Ember(benchmark::State& state) {
    Candidate candidate;
    Sha256 hasher;
    uint64_t n = 0;
    for (auto _ : state) {
        candidate.next(n++);
        hasher.reset();
        hasher.update(candidate.bytes, sizeof candidate.bytes);
        Sha256Digest digest = hasher.final();
        benchmark::DoNotOptimize(digest);
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}

// OpenSSL 3 deprecates the low-level calls; they are still its quickest
// path for tiny messages, which is the comparison wanted.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
void BM_Message40_OpenSSLLowLevel(benchmark::State& state) {
    Candidate candidate;
    uint64_t n = 0;
    SHA256_CTX ctx;
    unsigned char digest[32];
    for (auto _ : state) {
        candidate.next(n++);
        SHA256_Init(&ctx);
        SHA256_Update(&ctx, candidate.bytes, sizeof candidate.bytes);
        SHA256_Final(digest, &ctx);
        benchmark::DoNotOptimize(digest);
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}

// One 64-byte block through OpenSSL's compression, nothing else.
void BM_Block_OpenSSLTransform(benchmark::State& state) {
    SHA256_CTX ctx;
    SHA256_Init(&ctx);
    uint8_t block[64] = {};
    uint64_t n = 0;
    for (auto _ : state) {
        std::memcpy(block, &n, 8);
        ++n;
        SHA256_Transform(&ctx, block);
        benchmark::DoNotOptimize(ctx);
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}
#pragma GCC diagnostic pop

// The machine is shared: with --benchmark_repetitions, "max" (the highest
// rate over the repetitions) is the least disturbed figure.
double best(const std::vector<double>& v) { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); }
double bestRate(const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

#define EMBER_BENCH(fn) BENCHMARK(fn)->ComputeStatistics("min", best)->ComputeStatistics("max", bestRate)

EMBER_BENCH(BM_SolvePow_Salt16);
EMBER_BENCH(BM_SolvePow_Salt60);
EMBER_BENCH(BM_SolvePow_Salt16Portable);
EMBER_BENCH(BM_Message40_Ember);
EMBER_BENCH(BM_Message40_OpenSSLLowLevel);
EMBER_BENCH(BM_Block_OpenSSLTransform);

}  // namespace

BENCHMARK_MAIN();
