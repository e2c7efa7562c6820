// The SSE2 kernel: the scanner's blocks with the instructions of every
// x86-64.
#pragma once

#include <cstddef>
#include <cstdint>
#include <immintrin.h>

#include "driver/scanmodel.hpp"

// 64 bytes at a time as four 16-byte vectors, with the instructions of every
// x86-64.
namespace sse2kernel
{
struct block {
    static constexpr std::size_t width = 64;
    __m128i part[4];

    [[gnu::always_inline]] static block load(const char *at)
    {
        block b;
        for (unsigned i = 0; i < 4; ++i)
            b.part[i] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at + 16 * i));
        return b;
    }
    [[gnu::always_inline]] void store(char *at) const
    {
        for (unsigned i = 0; i < 4; ++i)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(at + 16 * i), part[i]);
    }
    [[gnu::always_inline]] static std::uint64_t bits(const __m128i (&marks)[4])
    {
        std::uint64_t mask = 0;
        for (unsigned i = 0; i < 4; ++i)
            mask |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(marks[i])))
                    << (16 * i);
        return mask;
    }
    // Bit i is set when byte i equals c.
    [[gnu::always_inline]] std::uint64_t equal(char c) const
    {
        __m128i marks[4];
        for (unsigned i = 0; i < 4; ++i)
            marks[i] = _mm_cmpeq_epi8(part[i], _mm_set1_epi8(c));
        return bits(marks);
    }
    // Bit i is set when byte i is at most 32 (unsigned): min(b, 32) == b.
    [[gnu::always_inline]] std::uint64_t special() const
    {
        __m128i marks[4];
        for (unsigned i = 0; i < 4; ++i)
            marks[i] = _mm_cmpeq_epi8(_mm_min_epu8(part[i], _mm_set1_epi8(' ')), part[i]);
        return bits(marks);
    }
    // Bit i is set when byte i is a blank.
    [[gnu::always_inline]] std::uint64_t blank() const
    {
        __m128i marks[4];
        for (unsigned i = 0; i < 4; ++i)
            marks[i] = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(part[i], _mm_set1_epi8(' ')),
                                                 _mm_cmpeq_epi8(part[i], _mm_set1_epi8('\t'))),
                                    _mm_cmpeq_epi8(part[i], _mm_set1_epi8('\r')));
        return bits(marks);
    }
    // Stores the 32 bytes at from at to, and returns the index of the first
    // that is at most 32, or 32 if none is.
    [[gnu::always_inline]] static unsigned firstspecial32(const char *from, char *to)
    {
        unsigned mask = 0;
        for (unsigned i = 0; i < 2; ++i) {
            __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + 16 * i));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(to + 16 * i), bytes);
            __m128i marks = _mm_cmpeq_epi8(_mm_min_epu8(bytes, _mm_set1_epi8(' ')), bytes);
            mask |= static_cast<unsigned>(_mm_movemask_epi8(marks)) << (16 * i);
        }
        return mask == 0 ? 32 : static_cast<unsigned>(__builtin_ctz(mask));
    }
    // The index of the lowest bit set in the 128 bits high:low; one must be set.
    [[gnu::always_inline]] static unsigned firstof(std::uint64_t low, std::uint64_t high)
    {
        return low != 0 ? static_cast<unsigned>(__builtin_ctzll(low))
                        : 64 + static_cast<unsigned>(__builtin_ctzll(high));
    }
    // The number of bits set, by adding neighbouring fields in place: baseline
    // x86-64 has no POPCNT, and the compiler's popcount would be a call.
    [[gnu::always_inline]] static unsigned countof(std::uint64_t mask)
    {
        mask -= (mask >> 1) & 0x5555555555555555u;
        mask = (mask & 0x3333333333333333u) + ((mask >> 2) & 0x3333333333333333u);
        mask = (mask + (mask >> 4)) & 0x0f0f0f0f0f0f0f0fu;
        return static_cast<unsigned>((mask * 0x0101010101010101u) >> 56);
    }
    // Copies the bytes of from[0] to from[count - 1] whose bit is set in keep
    // to at, in order, and returns how many.  Writes at[0] to at[count - 1].
    [[gnu::always_inline]] static std::size_t compact(char *at, const char *from, std::uint64_t keep,
                                                      unsigned count)
    {
        std::size_t kept = 0;
        for (unsigned i = 0; i < count; ++i) {
            at[kept] = from[i];
            kept += (keep >> i) & 1;
        }
        return kept;
    }
};
#include "driver/scanstep.hpp"
} // namespace sse2kernel
