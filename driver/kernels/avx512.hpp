// The AVX-512 kernel: a block as one 64-byte vector, its masks straight from
// the compares, where the CPU has AVX512BW and VBMI2 (with BMI1, BMI2 and
// POPCNT) and the system saves the 512-bit registers.  Blanks are removed by
// VBMI2's byte compress into a register, then a store: the compress's form
// that writes memory is slow on AMD's cores.
#pragma once

#include <cpuid.h>

#include <cstddef>
#include <cstdint>
#include <immintrin.h>

#include "driver/scanmodel.hpp"

namespace avx512kernel
{
// Whether the CPU runs the kernel: AVX512BW, VBMI2, BMI1, BMI2 and POPCNT,
// with the system saving the state that AVX-512 adds (XCR0: the SSE and AVX
// registers, the mask registers and both upper parts of the 512-bit
// registers).  Outside the kernel's target, as it runs before the choice.
inline bool usable()
{
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d))
        return false;
    constexpr unsigned popcnt = 1u << 23, osxsave = 1u << 27;
    if ((c & (popcnt | osxsave)) != (popcnt | osxsave))
        return false;
    unsigned xcr0, xcr0high;
    asm("xgetbv" : "=a"(xcr0), "=d"(xcr0high) : "c"(0));
    constexpr unsigned zmmstate = 0xe6; // bits 1, 2, 5, 6 and 7
    if ((xcr0 & zmmstate) != zmmstate)
        return false;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d))
        return false;
    constexpr unsigned bmi1 = 1u << 3, bmi2 = 1u << 8, avx512f = 1u << 16, avx512bw = 1u << 30;
    constexpr unsigned vbmi2 = 1u << 6;
    return (b & (bmi1 | bmi2 | avx512f | avx512bw)) == (bmi1 | bmi2 | avx512f | avx512bw) && (c & vbmi2) != 0;
}
} // namespace avx512kernel

// Brackets code compiled for the AVX-512 kernel's instructions: every
// function declared in between, templates included, may use them.
#if defined(__clang__)
#define LINEBENCH_AVX512_BEGIN                                                                               \
    _Pragma(                                                                                                 \
        "clang attribute push(__attribute__((target(\"avx512f,avx512bw,avx512vbmi2,bmi,bmi2,popcnt\"))), \
                                  apply_to = function)")
#define LINEBENCH_AVX512_END _Pragma("clang attribute pop")
#else
#define LINEBENCH_AVX512_BEGIN                                                                               \
    _Pragma("GCC push_options") _Pragma("GCC target(\"avx512f,avx512bw,avx512vbmi2,bmi,bmi2,popcnt\")")
#define LINEBENCH_AVX512_END _Pragma("GCC pop_options")
#endif
// The same by the kernel's name, for code made from the kernels' list.
#define LINEBENCH_BEGIN_avx512 LINEBENCH_AVX512_BEGIN
#define LINEBENCH_END_avx512 LINEBENCH_AVX512_END

LINEBENCH_AVX512_BEGIN
namespace avx512kernel
{
struct block {
    static constexpr std::size_t width = 64;
    static constexpr bool cheapcompact = true;

    // Bytes equal to their entry in this table (written from the last byte),
    // indexed by their low four bits, are blanks: space (0x20), tab (0x09)
    // and carriage return (0x0d).
    // Every other entry differs from its index in the low four bits, and a
    // byte from 0x80 up is shuffled to 0, so nothing else matches.
    [[gnu::always_inline]] static blockmasks classify(const char *at)
    {
        const __m512i table = _mm512_set_epi8(0, 0, '\r', 0, 0, 0, '\t', 0, 0, 0, 0, 0, 0, 0, 0, ' ', //
                                              0, 0, '\r', 0, 0, 0, '\t', 0, 0, 0, 0, 0, 0, 0, 0, ' ', //
                                              0, 0, '\r', 0, 0, 0, '\t', 0, 0, 0, 0, 0, 0, 0, 0, ' ', //
                                              0, 0, '\r', 0, 0, 0, '\t', 0, 0, 0, 0, 0, 0, 0, 0, ' ');
        __m512i bytes = _mm512_loadu_si512(at);
        return {_mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8('\n')) | _mm512_testn_epi8_mask(bytes, bytes),
                _mm512_cmpeq_epi8_mask(_mm512_shuffle_epi8(table, bytes), bytes)};
    }
    [[gnu::always_inline]] static void copy(char *to, const char *from)
    {
        _mm512_storeu_si512(to, _mm512_loadu_si512(from));
    }
    [[gnu::always_inline]] static void compact(char *to, const char *from, std::uint64_t keep, unsigned)
    {
        _mm512_storeu_si512(to, _mm512_maskz_compress_epi8(keep, _mm512_loadu_si512(from)));
    }
    [[gnu::always_inline]] static unsigned first(std::uint64_t mask)
    {
        return static_cast<unsigned>(_tzcnt_u64(mask));
    }
    [[gnu::always_inline]] static unsigned count(std::uint64_t mask)
    {
        return static_cast<unsigned>(_mm_popcnt_u64(mask));
    }
};
#include "driver/scanstep.hpp"
} // namespace avx512kernel
LINEBENCH_AVX512_END
