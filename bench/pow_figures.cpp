// Proof-of-work figures as a plain program, so the same code measures
// natively and under Wine (the Windows build has no benchmark library):
// solvePow's nonces per second on one thread beside whole 40-byte SHA-256
// hashes, on each engine the processor has. Best of five runs each.
//
// Usage: pow_figures [nonces per run, default 4194304]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "launcher/account/challenge.h"
#include "launcher/net/sha256.h"
#include "launcher/net/sha256_internal.h"

namespace {

using namespace ember::launcher;
using sha256_detail::Engine;

// Best rate (per second) of five runs of `work`, which does `count` units.
double bestRate(uint64_t count, const std::function<void()>& work) {
    double best = 0;
    for (int run = 0; run < 5; ++run) {
        auto start = std::chrono::steady_clock::now();
        work();
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::max(best, double(count) / took.count());
    }
    return best;
}

double solveRate(uint64_t nonces, const char* saltHex) {
    account::Challenge challenge;
    challenge.salt = saltHex;
    challenge.difficulty = 64;  // never met: every nonce of the budget is hashed
    challenge.maxIters = nonces;
    return bestRate(nonces, [&] {
        uint64_t n = 0;
        if (account::solvePow(challenge, n)) {
            std::printf("unexpected solution %llu\n", (unsigned long long)n);
        }
    });
}

double message40Rate(uint64_t count) {
    uint8_t message[40];
    std::memcpy(message, "ember-pow:challenge-0123456789:00000000", 40);
    volatile uint8_t sink = 0;
    return bestRate(count, [&] {
        Sha256 hasher;
        for (uint64_t n = 0; n < count; ++n) {
            std::memcpy(message + 32, &n, 8);
            hasher.reset();
            hasher.update(message, sizeof message);
            sink = sink ^ hasher.final()[0];
        }
    });
}

}  // namespace

int main(int argc, char** argv) {
    const uint64_t nonces = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 4194304;
    // 16 salt bytes (the usual), 100 (a whole block before the nonce) and
    // 60 (digits and padding spill into a second block).
    const struct {
        const char* name;
        const char* salt;
    } salts[] = {
        {"16-byte salt", "00112233445566778899aabbccddeeff"},
        {"100-byte salt", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f202122232425262728292a"
                          "2b2c2d2e2f303132333435363738393a3b3c3d3e3f404142434445464748494a4b4c4d4e4f50515253545556"
                          "5758595a5b5c5d5e5f60616263"},
        {"60-byte salt", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f202122232425262728292a"
                         "2b2c2d2e2f303132333435363738393a3b"},
    };
    for (Engine engine : {Engine::shaExtensions, Engine::portable}) {
        if (!sha256_detail::useEngine(engine)) {
            std::printf("%-16s not on this processor\n", "SHA extensions:");
            continue;
        }
        const char* name = engine == Engine::portable ? "portable" : "SHA extensions";
        for (const auto& s : salts) {
            std::printf("%-16s solvePow, %-14s %8.2f M hashes/s\n", name, s.name, solveRate(nonces, s.salt) / 1e6);
        }
        std::printf("%-16s 40-byte SHA-256 (whole)  %8.2f M hashes/s\n", name, message40Rate(nonces) / 1e6);
    }
    sha256_detail::useBestEngine();
    return 0;
}
