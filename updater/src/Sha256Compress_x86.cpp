// SHA-256 compression with the x86 SHA extensions (SHA-NI), used where the
// processor reports them through cpuid.
#include "Sha256Compress.h"

#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)
#define KW_SHA_X86 1
#include <immintrin.h>
#if defined(_MSC_VER)
#include <intrin.h>
#define KW_SHA_TARGET
#else
#include <cpuid.h>
#define KW_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))
#endif
#endif

namespace sha256utils {
namespace detail {

#if defined(KW_SHA_X86)

namespace {

void Cpuid(int leaf, int subleaf, unsigned regs[4])
{
#if defined(_MSC_VER)
    int r[4];
    __cpuidex(r, leaf, subleaf);
    for (int i = 0; i < 4; ++i)
        regs[i] = static_cast<unsigned>(r[i]);
#else
    __cpuid_count(leaf, subleaf, regs[0], regs[1], regs[2], regs[3]);
#endif
}

} // namespace

bool sha_extensions_available()
{
    unsigned regs[4];
    Cpuid(0, 0, regs);
    if (regs[0] < 7)
        return false;
    Cpuid(1, 0, regs);
    const bool ssse3 = (regs[2] >> 9) & 1, sse41 = (regs[2] >> 19) & 1;
    Cpuid(7, 0, regs);
    const bool sha = (regs[1] >> 29) & 1;
    return ssse3 && sse41 && sha;
}

KW_SHA_TARGET void compress_sha_extensions(std::uint32_t state[8], const unsigned char* blocks, std::size_t count)
{
    // Message words arrive big-endian; the instructions want them little-endian.
    const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);

    // The instructions keep the state as ABEF and CDGH.
    __m128i tmp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
    __m128i state1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
    tmp = _mm_shuffle_epi32(tmp, 0xB1);          // CDAB
    state1 = _mm_shuffle_epi32(state1, 0x1B);    // EFGH
    __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);  // ABEF
    state1 = _mm_blend_epi16(state1, tmp, 0xF0); // CDGH

    for (; count > 0; --count, blocks += 64) {
        const __m128i abef_saved = state0, cdgh_saved = state1;
        __m128i msg[4];
        for (int i = 0; i < 4; ++i)
            msg[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)), byte_swap);

        // Sixteen groups of four rounds; the schedule for later groups is
        // built in the four message registers in turn.
#if defined(__clang__)
#pragma unroll
#elif defined(__GNUC__)
#pragma GCC unroll 16
#endif
        for (int i = 0; i < 16; ++i) {
            const __m128i current = msg[i & 3];
            __m128i words = _mm_add_epi32(current, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kRoundConstants + 4 * i)));
            state1 = _mm_sha256rnds2_epu32(state1, state0, words);
            if (i >= 3 && i < 15) {
                __m128i& next = msg[(i + 1) & 3];
                next = _mm_add_epi32(next, _mm_alignr_epi8(current, msg[(i - 1) & 3], 4));
                next = _mm_sha256msg2_epu32(next, current);
            }
            words = _mm_shuffle_epi32(words, 0x0E);
            state0 = _mm_sha256rnds2_epu32(state0, state1, words);
            if (i >= 1 && i < 13)
                msg[(i - 1) & 3] = _mm_sha256msg1_epu32(msg[(i - 1) & 3], current);
        }
        state0 = _mm_add_epi32(state0, abef_saved);
        state1 = _mm_add_epi32(state1, cdgh_saved);
    }

    tmp = _mm_shuffle_epi32(state0, 0x1B);       // FEBA
    state1 = _mm_shuffle_epi32(state1, 0xB1);    // DCHG
    state0 = _mm_blend_epi16(tmp, state1, 0xF0); // DCBA
    state1 = _mm_alignr_epi8(state1, tmp, 8);    // HGFE
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), state0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), state1);
}

#else

bool sha_extensions_available() { return false; }

void compress_sha_extensions(std::uint32_t state[8], const unsigned char* blocks, std::size_t count)
{
    compress_portable(state, blocks, count);
}

#endif

} // namespace detail
} // namespace sha256utils
