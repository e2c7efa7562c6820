// The AVX2 kernel: a block as two 32-byte vectors, where the CPU has AVX2
// (with BMI1 and POPCNT, which every AVX2 CPU has).  Blanks are removed 8
// bytes at a time by a byte shuffle from a table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <immintrin.h>

#include "driver/keptorder.hpp"
#include "driver/scanmodel.hpp"

namespace avx2kernel
{
// Whether the CPU runs the kernel: AVX2, BMI1 and POPCNT, with the system
// saving the AVX registers, which __builtin_cpu_supports also asks.  Outside
// the kernel's target, as it runs before the choice.
inline bool usable()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
           __builtin_cpu_supports("popcnt");
}
} // namespace avx2kernel

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
// The same by the kernel's name, for code made from the kernels' list.
#define LINEBENCH_BEGIN_avx2 LINEBENCH_AVX2_BEGIN
#define LINEBENCH_END_avx2 LINEBENCH_AVX2_END

LINEBENCH_AVX2_BEGIN
namespace avx2kernel
{
struct block {
    static constexpr std::size_t width = 64;

    [[gnu::always_inline]] static std::uint64_t bits(__m256i low, __m256i high)
    {
        return static_cast<std::uint32_t>(_mm256_movemask_epi8(low)) |
               std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(high))} << 32;
    }
    // Bytes equal to their entry in a table indexed by their low four bits:
    // each entry that is no byte of the class differs from its index in the
    // low four bits, or has the top bit set, and a byte from 0x80 up is
    // shuffled to 0, which it is not equal to.
    [[gnu::always_inline]] static __m256i lookup(__m256i table, __m256i bytes)
    {
        return _mm256_cmpeq_epi8(_mm256_shuffle_epi8(table, bytes), bytes);
    }
    // Line feed (0x0a) and NUL (0x00).
    [[gnu::always_inline]] static __m256i endbytes(__m256i bytes)
    {
        const __m256i table = _mm256_setr_epi8(
            0, -128, -128, -128, -128, -128, -128, -128, -128, -128, '\n', -128, -128, -128, -128, -128, //
            0, -128, -128, -128, -128, -128, -128, -128, -128, -128, '\n', -128, -128, -128, -128, -128);
        return lookup(table, bytes);
    }
    // Space (0x20), tab (0x09) and carriage return (0x0d).
    [[gnu::always_inline]] static __m256i blankbytes(__m256i bytes)
    {
        const __m256i table = _mm256_setr_epi8(' ', 0, 0, 0, 0, 0, 0, 0, 0, '\t', 0, 0, 0, '\r', 0, 0, //
                                               ' ', 0, 0, 0, 0, 0, 0, 0, 0, '\t', 0, 0, 0, '\r', 0, 0);
        return lookup(table, bytes);
    }
    [[gnu::always_inline]] static blockmasks classify(const char *at)
    {
        __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(at));
        __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(at + 32));
        return {bits(endbytes(low), endbytes(high)), bits(blankbytes(low), blankbytes(high))};
    }
    [[gnu::always_inline]] static void copy(char *to, const char *from)
    {
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(to),
                            _mm256_loadu_si256(reinterpret_cast<const __m256i *>(from)));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(to + 32),
                            _mm256_loadu_si256(reinterpret_cast<const __m256i *>(from + 32)));
    }
    // Every group of 8 is shuffled into place and stored with 8 bytes, so the
    // writes end at to[63] at the latest; those past the kept bytes are
    // garbage.  Only the first half's groups are needed when count lies in
    // it, as on short lines.
    [[gnu::always_inline]] static void compact(char *to, const char *from, std::uint64_t keep, unsigned count)
    {
        std::size_t kept = 0;
        unsigned groups = count <= width / 2 ? width / 16 : width / 8;
        for (unsigned group = 0; group < groups; ++group) {
            auto mask = static_cast<unsigned>(keep >> (8 * group)) & 0xff;
            __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(from + 8 * group));
            __m128i order = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(&keptorders.order[mask]));
            _mm_storel_epi64(reinterpret_cast<__m128i *>(to + kept), _mm_shuffle_epi8(bytes, order));
            kept += static_cast<std::size_t>(__builtin_popcount(mask));
        }
    }
    [[gnu::always_inline]] static unsigned first(std::uint64_t mask)
    {
        return static_cast<unsigned>(_tzcnt_u64(mask));
    }
    [[gnu::always_inline]] static unsigned count(std::uint64_t mask)
    {
        return static_cast<unsigned>(__builtin_popcountll(mask));
    }
};
#include "driver/scanstep.hpp"
} // namespace avx2kernel
LINEBENCH_AVX2_END
