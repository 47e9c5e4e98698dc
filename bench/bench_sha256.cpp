// SHA-256 throughput: the launcher's hasher (best engine and the portable
// fallback alone) beside OpenSSL, on the three loads the launcher has:
// 64 KiB buffers (downloads), a large file through sha256File (verifying an
// install) and 40-byte messages, one whole hash each (the proof-of-work).
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "launcher/net/sha256.h"
#include "launcher/net/sha256_internal.h"

namespace {

using namespace ember::launcher;
using sha256_detail::Engine;

constexpr size_t kBuffer = 64 * 1024;
constexpr size_t kFileSize = 256u * 1024 * 1024;
const char* const kFilePath = "/tmp/ember-sha256-bench.bin";

std::vector<uint8_t> pseudoRandom(size_t length) {
    std::vector<uint8_t> out(length);
    uint32_t x = 12345;
    for (auto& byte : out) {
        x = x * 1664525u + 1013904223u;
        byte = uint8_t(x >> 24);
    }
    return out;
}

// The big file is made once and kept in /tmp across runs.
bool ensureBigFile() {
    if (FILE* f = std::fopen(kFilePath, "rb")) {
        std::fseek(f, 0, SEEK_END);
        long size = std::ftell(f);
        std::fclose(f);
        if (size == long(kFileSize)) {
            return true;
        }
    }
    FILE* f = std::fopen(kFilePath, "wb");
    if (f == nullptr) {
        return false;
    }
    std::vector<uint8_t> chunk = pseudoRandom(kBuffer);
    bool ok = true;
    for (size_t done = 0; done < kFileSize && ok; done += kBuffer) {
        chunk[0] = uint8_t(done >> 16);  // not the same block over and over
        ok = std::fwrite(chunk.data(), 1, kBuffer, f) == kBuffer;
    }
    return std::fclose(f) == 0 && ok;
}

// Selects an engine for one benchmark and restores the automatic choice.
struct EngineScope {
    explicit EngineScope(Engine engine) : ok(sha256_detail::useEngine(engine)) {}
    ~EngineScope() { sha256_detail::useBestEngine(); }
    bool ok;
};

// --- 64 KiB buffers in memory --------------------------------------------

void bufferEmber(benchmark::State& state, Engine engine) {
    EngineScope scope(engine);
    if (!scope.ok) {
        state.SkipWithError("engine not available on this processor");
        return;
    }
    const std::vector<uint8_t> data = pseudoRandom(kBuffer);
    for (auto _ : state) {
        Sha256Digest digest = sha256(data.data(), data.size());
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBuffer));
}

void BM_Buffer64K_Ember(benchmark::State& state) { bufferEmber(state, sha256_detail::currentEngine()); }
void BM_Buffer64K_EmberPortable(benchmark::State& state) { bufferEmber(state, Engine::portable); }

void BM_Buffer64K_OpenSSL(benchmark::State& state) {
    const std::vector<uint8_t> data = pseudoRandom(kBuffer);
    unsigned char digest[32];
    for (auto _ : state) {
        EVP_Digest(data.data(), data.size(), digest, nullptr, EVP_sha256(), nullptr);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBuffer));
}

// --- A 256 MiB file -------------------------------------------------------

void BM_File256M_Ember(benchmark::State& state) {
    if (!ensureBigFile()) {
        state.SkipWithError("cannot write the test file in /tmp");
        return;
    }
    for (auto _ : state) {
        std::string hex;
        if (!sha256File(kFilePath, hex)) {
            state.SkipWithError("sha256File failed");
            return;
        }
        benchmark::DoNotOptimize(hex);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kFileSize));
}

// The same streaming loop (fread of 64 KiB) with OpenSSL's hasher.
void BM_File256M_OpenSSL(benchmark::State& state) {
    if (!ensureBigFile()) {
        state.SkipWithError("cannot write the test file in /tmp");
        return;
    }
    std::vector<uint8_t> buffer(kBuffer);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    for (auto _ : state) {
        FILE* f = std::fopen(kFilePath, "rb");
        EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
        size_t got;
        while ((got = std::fread(buffer.data(), 1, buffer.size(), f)) > 0) {
            EVP_DigestUpdate(ctx, buffer.data(), got);
        }
        std::fclose(f);
        unsigned char digest[32];
        EVP_DigestFinal_ex(ctx, digest, nullptr);
        benchmark::DoNotOptimize(digest);
    }
    EVP_MD_CTX_free(ctx);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kFileSize));
}

// --- 40-byte messages, one whole hash each ---------------------------------

// A proof-of-work candidate: a fixed prefix and a changing counter.
struct Candidate {
    uint8_t bytes[40];
    Candidate() { std::memcpy(bytes, "ember-pow:challenge-0123456789:00000000", 40); }
    void next(uint64_t n) { std::memcpy(bytes + 32, &n, 8); }
};

void messageEmber(benchmark::State& state, Engine engine) {
    EngineScope scope(engine);
    if (!scope.ok) {
        state.SkipWithError("engine not available on this processor");
        return;
    }
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

void BM_Message40_Ember(benchmark::State& state) { messageEmber(state, sha256_detail::currentEngine()); }
void BM_Message40_EmberPortable(benchmark::State& state) { messageEmber(state, Engine::portable); }

// OpenSSL 3 deprecates the low-level calls; they are still the quickest way
// to hash tiny messages there, which is the comparison wanted.
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
#pragma GCC diagnostic pop

void BM_Message40_OpenSSLEvp(benchmark::State& state) {
    Candidate candidate;
    uint64_t n = 0;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    const EVP_MD* md = EVP_sha256();
    unsigned char digest[32];
    for (auto _ : state) {
        candidate.next(n++);
        EVP_DigestInit_ex(ctx, md, nullptr);
        EVP_DigestUpdate(ctx, candidate.bytes, sizeof candidate.bytes);
        EVP_DigestFinal_ex(ctx, digest, nullptr);
        benchmark::DoNotOptimize(digest);
    }
    EVP_MD_CTX_free(ctx);
    state.SetItemsProcessed(int64_t(state.iterations()));
}

// The machine is shared: with --benchmark_repetitions, "best" (the least
// time and the highest rate over the repetitions) is the least disturbed
// figure.
double best(const std::vector<double>& v) { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); }
double bestRate(const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

#define EMBER_BENCH(fn) BENCHMARK(fn)->ComputeStatistics("min", best)->ComputeStatistics("max", bestRate)

EMBER_BENCH(BM_Buffer64K_Ember);
EMBER_BENCH(BM_Buffer64K_OpenSSL);
EMBER_BENCH(BM_Buffer64K_EmberPortable);
EMBER_BENCH(BM_File256M_Ember)->Unit(benchmark::kMillisecond)->MinTime(2.0);
EMBER_BENCH(BM_File256M_OpenSSL)->Unit(benchmark::kMillisecond)->MinTime(2.0);
EMBER_BENCH(BM_Message40_Ember);
EMBER_BENCH(BM_Message40_OpenSSLLowLevel);
EMBER_BENCH(BM_Message40_OpenSSLEvp);
EMBER_BENCH(BM_Message40_EmberPortable);

}  // namespace

BENCHMARK_MAIN();
