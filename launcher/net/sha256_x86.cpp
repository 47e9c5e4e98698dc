// SHA-256 compression on the x86 SHA extensions (SHA-NI).
//
// Only the one function below is compiled for SHA/SSE4.1, so the rest of the
// program still runs on processors without them; cpuHasShaExtensions() is
// asked once and decides whether it is ever called.
#include "launcher/net/sha256_internal.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define EMBER_SHA_X86 1
#endif

namespace ember::launcher::sha256_detail {

#if EMBER_SHA_X86

namespace {

bool detectShaExtensions() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    // Leaf 1: SSSE3 (ecx bit 9) and SSE4.1 (ecx bit 19) for the shuffles
    // and blends around the SHA instructions.
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) {
        return false;
    }
    if ((ecx & (1u << 9)) == 0 || (ecx & (1u << 19)) == 0) {
        return false;
    }
    // Leaf 7, sub-leaf 0: SHA (ebx bit 29).
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) {
        return false;
    }
    return (ebx & (1u << 29)) != 0;
}

}  // namespace

bool cpuHasShaExtensions() {
    static const bool has = detectShaExtensions();
    return has;
}

__attribute__((target("sha,sse4.1"))) void compressShaExtensions(uint32_t state[8], const uint8_t* data,
                                                                  size_t blocks) {
    // Message words are big-endian: reverse the bytes of each 32-bit lane.
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);

    // The instructions keep the state as ABEF and CDGH (high lane first).
    __m128i tmp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));     // DCBA
    __m128i state1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));  // HGFE
    tmp = _mm_shuffle_epi32(tmp, 0xB1);                                              // CDAB
    state1 = _mm_shuffle_epi32(state1, 0x1B);                                        // EFGH
    __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);                                // ABEF
    state1 = _mm_blend_epi16(state1, tmp, 0xF0);                                     // CDGH

    for (; blocks > 0; --blocks, data += 64) {
        const __m128i saved0 = state0;
        const __m128i saved1 = state1;
        __m128i m[4];
        __m128i msg;

        // Four rounds per step: two rnds2 over the four schedule words plus
        // constants. Steps 3..14 finish the schedule words of the next step
        // (msg2), steps 1..12 start those three steps ahead (msg1).
#define EMBER_SHA_STEP(i)                                                                         \
    do {                                                                                          \
        if ((i) < 4) {                                                                            \
            m[(i)] = _mm_shuffle_epi8(                                                            \
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * (i))), byteSwap);    \
        }                                                                                         \
        msg = _mm_add_epi32(m[(i) & 3],                                                           \
                            _mm_load_si128(reinterpret_cast<const __m128i*>(&kRound[4 * (i)]))); \
        state1 = _mm_sha256rnds2_epu32(state1, state0, msg);                                      \
        if ((i) >= 3 && (i) <= 14) {                                                              \
            tmp = _mm_alignr_epi8(m[(i) & 3], m[((i) + 3) & 3], 4);                               \
            m[((i) + 1) & 3] = _mm_add_epi32(m[((i) + 1) & 3], tmp);                              \
            m[((i) + 1) & 3] = _mm_sha256msg2_epu32(m[((i) + 1) & 3], m[(i) & 3]);                \
        }                                                                                         \
        msg = _mm_shuffle_epi32(msg, 0x0E);                                                       \
        state0 = _mm_sha256rnds2_epu32(state0, state1, msg);                                      \
        if ((i) >= 1 && (i) <= 12) {                                                              \
            m[((i) + 3) & 3] = _mm_sha256msg1_epu32(m[((i) + 3) & 3], m[(i) & 3]);                \
        }                                                                                         \
    } while (0)

        EMBER_SHA_STEP(0);
        EMBER_SHA_STEP(1);
        EMBER_SHA_STEP(2);
        EMBER_SHA_STEP(3);
        EMBER_SHA_STEP(4);
        EMBER_SHA_STEP(5);
        EMBER_SHA_STEP(6);
        EMBER_SHA_STEP(7);
        EMBER_SHA_STEP(8);
        EMBER_SHA_STEP(9);
        EMBER_SHA_STEP(10);
        EMBER_SHA_STEP(11);
        EMBER_SHA_STEP(12);
        EMBER_SHA_STEP(13);
        EMBER_SHA_STEP(14);
        EMBER_SHA_STEP(15);
#undef EMBER_SHA_STEP

        state0 = _mm_add_epi32(state0, saved0);
        state1 = _mm_add_epi32(state1, saved1);
    }

    // Back from ABEF/CDGH to the natural word order.
    tmp = _mm_shuffle_epi32(state0, 0x1B);        // FEBA
    state1 = _mm_shuffle_epi32(state1, 0xB1);     // DCHG
    state0 = _mm_blend_epi16(tmp, state1, 0xF0);  // DCBA
    state1 = _mm_alignr_epi8(state1, tmp, 8);     // HGFE
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), state0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), state1);
}

#else  // not x86: only the portable engine exists

bool cpuHasShaExtensions() { return false; }

void compressShaExtensions(uint32_t state[8], const uint8_t* data, size_t blocks) {
    compressPortable(state, data, blocks);
}

#endif

}  // namespace ember::launcher::sha256_detail
