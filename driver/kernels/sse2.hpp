// The SSE2 kernel: a block as four 16-byte vectors, with the instructions of
// every x86-64.  Blanks are removed a byte at a time, without a branch per
// byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <immintrin.h>

#include "driver/scanmodel.hpp"

// Baseline x86-64: the kernel's code needs no target of its own.
#define LINEBENCH_BEGIN_sse2
#define LINEBENCH_END_sse2

namespace sse2kernel
{
struct block {
    static constexpr std::size_t width = 64;

    [[gnu::always_inline]] static blockmasks classify(const char *at)
    {
        blockmasks masks{0, 0};
        for (unsigned i = 0; i < 4; ++i) {
            __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at + 16 * i));
            __m128i ends = _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n')),
                                        _mm_cmpeq_epi8(bytes, _mm_setzero_si128()));
            __m128i blanks = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(' ')),
                                                       _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\t'))),
                                          _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r')));
            masks.ends |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(ends))} << (16 * i);
            masks.blanks |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(blanks))} << (16 * i);
        }
        return masks;
    }
    [[gnu::always_inline]] static void copy(char *to, const char *from)
    {
        for (unsigned i = 0; i < 4; ++i)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(to + 16 * i),
                             _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + 16 * i)));
    }
    // Every byte is stored at the next free place, which moves on only past a
    // kept byte.
    [[gnu::always_inline]] static void compact(char *to, const char *from, std::uint64_t keep, unsigned count)
    {
        std::size_t kept = 0;
        for (unsigned i = 0; i < count; ++i) {
            to[kept] = from[i];
            kept += (keep >> i) & 1;
        }
    }
    [[gnu::always_inline]] static unsigned first(std::uint64_t mask)
    {
        return static_cast<unsigned>(__builtin_ctzll(mask));
    }
    // The bits set, by adding neighbouring fields in place: baseline x86-64
    // has no POPCNT, and the compiler's popcount would be a call.
    [[gnu::always_inline]] static unsigned count(std::uint64_t mask)
    {
        mask -= (mask >> 1) & 0x5555555555555555u;
        mask = (mask & 0x3333333333333333u) + ((mask >> 2) & 0x3333333333333333u);
        mask = (mask + (mask >> 4)) & 0x0f0f0f0f0f0f0f0fu;
        return static_cast<unsigned>((mask * 0x0101010101010101u) >> 56);
    }
};
#include "driver/scanstep.hpp"
} // namespace sse2kernel
