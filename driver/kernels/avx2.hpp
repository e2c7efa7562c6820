// The AVX2 kernel: the scanner's blocks with AVX2, where the CPU has it (with
// BMI1 and POPCNT, which every AVX2 CPU has).
#pragma once

#include <cstddef>
#include <cstdint>
#include <immintrin.h>

#include "driver/scanmodel.hpp"

// Brackets code compiled for the AVX2 kernel's instructions: every function
// declared in between, templates included, may use them.
#if defined(__clang__)
#define LINEBENCH_AVX2_BEGIN                                                                                 \
    _Pragma("clang attribute push(__attribute__((target(\"avx2,bmi,popcnt\"))), apply_to = function)")
#define LINEBENCH_AVX2_END _Pragma("clang attribute pop")
#else
#define LINEBENCH_AVX2_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"avx2,bmi,popcnt\")")
#define LINEBENCH_AVX2_END _Pragma("GCC pop_options")
#endif

LINEBENCH_AVX2_BEGIN
// 64 bytes at a time as two 32-byte vectors, with AVX2; blanks are removed 8
// bytes at a time by a byte shuffle from a table.
namespace avx2kernel
{
// For each set of kept bytes among 8 (bit i: byte i), the shuffle that moves
// them to the front in order.
struct shuffletable {
    std::uint64_t order[256];
};
inline constexpr shuffletable shuffles = [] {
    shuffletable table{};
    for (unsigned keep = 0; keep < 256; ++keep) {
        unsigned slot = 0;
        for (unsigned i = 0; i < 8; ++i)
            if ((keep >> i) & 1)
                table.order[keep] |= std::uint64_t{i} << (8 * slot++);
    }
    return table;
}();

struct block {
    static constexpr std::size_t width = 64;
    __m256i low, high;

    [[gnu::always_inline]] static block load(const char *at)
    {
        return {_mm256_loadu_si256(reinterpret_cast<const __m256i *>(at)),
                _mm256_loadu_si256(reinterpret_cast<const __m256i *>(at + 32))};
    }
    [[gnu::always_inline]] void store(char *at) const
    {
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(at), low);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(at + 32), high);
    }
    [[gnu::always_inline]] static std::uint64_t bits(__m256i lowmarks, __m256i highmarks)
    {
        return static_cast<std::uint32_t>(_mm256_movemask_epi8(lowmarks)) |
               static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(highmarks))) << 32;
    }
    [[gnu::always_inline]] std::uint64_t equal(char c) const
    {
        __m256i value = _mm256_set1_epi8(c);
        return bits(_mm256_cmpeq_epi8(low, value), _mm256_cmpeq_epi8(high, value));
    }
    [[gnu::always_inline]] std::uint64_t special() const
    {
        __m256i space = _mm256_set1_epi8(' ');
        return bits(_mm256_cmpeq_epi8(_mm256_min_epu8(low, space), low),
                    _mm256_cmpeq_epi8(_mm256_min_epu8(high, space), high));
    }
    // Bytes equal to their entry in this table, indexed by their low four
    // bits, are blanks: space (0x20), tab (0x09) and carriage return (0x0d).
    // Every other entry differs from its index in the low four bits, and a
    // byte from 0x80 up is shuffled to 0, so nothing else matches.
    [[gnu::always_inline]] static __m256i blankbytes(__m256i bytes)
    {
        const __m256i table = _mm256_setr_epi8(' ', 0, 0, 0, 0, 0, 0, 0, 0, '\t', 0, 0, 0, '\r', 0, 0, //
                                               ' ', 0, 0, 0, 0, 0, 0, 0, 0, '\t', 0, 0, 0, '\r', 0, 0);
        return _mm256_cmpeq_epi8(_mm256_shuffle_epi8(table, bytes), bytes);
    }
    [[gnu::always_inline]] std::uint64_t blank() const { return bits(blankbytes(low), blankbytes(high)); }
    // tzcnt gives the width for a mask of none, so neither needs a branch.
    [[gnu::always_inline]] static unsigned firstspecial32(const char *from, char *to)
    {
        __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(from));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(to), bytes);
        __m256i marks = _mm256_cmpeq_epi8(_mm256_min_epu8(bytes, _mm256_set1_epi8(' ')), bytes);
        return _tzcnt_u32(static_cast<std::uint32_t>(_mm256_movemask_epi8(marks)));
    }
    [[gnu::always_inline]] static unsigned firstof(std::uint64_t low, std::uint64_t high)
    {
        auto first = static_cast<unsigned>(_tzcnt_u64(low));
        return low != 0 ? first : 64 + static_cast<unsigned>(_tzcnt_u64(high));
    }
    [[gnu::always_inline]] static unsigned countof(std::uint64_t mask)
    {
        return static_cast<unsigned>(__builtin_popcountll(mask));
    }
    // Every group of 8 is shuffled into place and stored with 8 bytes, so the
    // writes end at at[width - 1] at the latest; those past the kept bytes
    // are garbage.  Only the first half's groups are needed when count lies
    // in it, as on short lines: keep has no bit at or past count.
    [[gnu::always_inline]] static std::size_t compact(char *at, const char *from, std::uint64_t keep,
                                                      unsigned count)
    {
        std::size_t kept = 0;
        unsigned groups = count <= width / 2 ? width / 16 : width / 8;
        for (unsigned group = 0; group < groups; ++group) {
            auto mask = static_cast<unsigned>(keep >> (8 * group)) & 0xff;
            __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(from + 8 * group));
            __m128i order = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(&shuffles.order[mask]));
            _mm_storel_epi64(reinterpret_cast<__m128i *>(at + kept), _mm_shuffle_epi8(bytes, order));
            kept += static_cast<std::size_t>(__builtin_popcount(mask));
        }
        return kept;
    }
};
#include "driver/scanstep.hpp"
} // namespace avx2kernel
LINEBENCH_AVX2_END
