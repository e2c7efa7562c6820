// The line scanner: cuts the mapped text of the input file into the lines that
// every pass counts, stores or looks up.  This file chooses the kernel that the
// passes run and calls its pass; the rest lives in files of their own:
//   scanmodel.hpp    the byte model (scanlineplain), which defines the rules;
//   scanstep.hpp     the step and the pass, written once over a kernel's block
//                    of 64 bytes and included once per kernel: the masks of
//                    the block at hand are carried from line to line;
//   kernels/NAME.hpp one kernel each, its block's operations for one
//                    instruction set:
//     sse2    four 16-byte vectors, on every x86-64;
//     avx2    two 32-byte vectors, where the CPU has AVX2;
//     avx512  one 64-byte vector, where the CPU has AVX512BW and VBMI2 and
//             the system saves the 512-bit registers;
//     neon    four 16-byte vectors, on every arm64;
//     plain   the model itself, for comparisons.
// A new kernel is a file in kernels/ and a line in the choice below.
//
// The widest kernel that the CPU runs is chosen once, at start-up: on arm64
// the NEON kernel, where the system reports Advanced SIMD, as it does on
// every arm64 CPU that runs Linux.  On other architectures the passes run
// the model.  The build option LINEBENCH_SCANNERKERNEL fixes one instead
// (sse2, avx2 or avx512 on x86-64, neon on arm64, or plain for the model),
// for comparisons; a build then holds that kernel alone.
//
// Each kernel's step and pass are compiled for the kernel's instructions, so a
// binary built for baseline x86-64 carries them all and a pass inlines its
// kernel's step.  arm64 has Advanced SIMD in its baseline, so its kernel needs
// no target of its own.  The step makes no call, so that a pass's time is the
// scanning plus the pass's own work.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver/kernels/plain.hpp"
#include "driver/scanmodel.hpp"
#if defined(__x86_64__)
#include <cpuid.h>

#include "driver/kernels/avx2.hpp"
#include "driver/kernels/avx512.hpp"
#include "driver/kernels/sse2.hpp"
#elif defined(__aarch64__)
#include <asm/hwcap.h>
#include <sys/auxv.h>

#include "driver/kernels/neon.hpp"
#endif

enum class scannerkernel { plain, sse2, avx2, avx512, neon };

inline const char *kernelname(scannerkernel kernel)
{
    switch (kernel) {
    case scannerkernel::plain:
        return "plain";
    case scannerkernel::sse2:
        return "sse2";
    case scannerkernel::avx2:
        return "avx2";
    case scannerkernel::avx512:
        return "avx512";
    case scannerkernel::neon:
        return "neon";
    }
    return "?";
}

#if defined(__x86_64__)
// Whether this CPU has AVX512BW, VBMI2, BMI1, BMI2 and POPCNT, and the system
// saves the state that AVX-512 adds (XCR0: the SSE and AVX registers, the
// mask registers and both upper parts of the 512-bit registers).
inline bool avx512usable()
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
#endif

// Whether this CPU, and the system under it, can run the kernel.  Each block
// kernel is built for its architecture alone.
inline bool kernelsupported(scannerkernel kernel)
{
    switch (kernel) {
    case scannerkernel::plain:
        return true;
#if defined(__x86_64__)
    case scannerkernel::sse2:
        return true;
    case scannerkernel::avx2:
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
               __builtin_cpu_supports("popcnt");
    case scannerkernel::avx512:
        return avx512usable();
#elif defined(__aarch64__)
    case scannerkernel::neon:
        return (getauxval(AT_HWCAP) & HWCAP_ASIMD) != 0;
#endif
    default:
        return false;
    }
}

// The kernel that the passes run: the one the build fixes, else the widest
// that this CPU runs.
inline scannerkernel passkernel()
{
#ifdef LINEBENCH_SCANNERKERNEL
    return scannerkernel::LINEBENCH_SCANNERKERNEL;
#elif defined(__x86_64__)
    if (kernelsupported(scannerkernel::avx512))
        return scannerkernel::avx512;
    if (kernelsupported(scannerkernel::avx2))
        return scannerkernel::avx2;
    return scannerkernel::sse2;
#elif defined(__aarch64__)
    if (kernelsupported(scannerkernel::neon))
        return scannerkernel::neon;
    return scannerkernel::plain;
#else
    return scannerkernel::plain;
#endif
}

// The pass of the kernel named, whatever kernel the build fixes, for the
// tests and benchmarks that run each kernel.  Call it only for a kernel that
// kernelsupported says this CPU runs.
template <scannerkernel Kernel, std::size_t Distance = prefetchdistance, typename Work>
[[gnu::always_inline]] inline Work scanpasswith(const char *text, const char *end, char *linebuf, Work work)
{
#if defined(__x86_64__)
    if constexpr (Kernel == scannerkernel::avx512)
        return avx512kernel::scanpass<Distance>(text, end, linebuf, work);
    else if constexpr (Kernel == scannerkernel::avx2)
        return avx2kernel::scanpass<Distance>(text, end, linebuf, work);
    else if constexpr (Kernel == scannerkernel::sse2)
        return sse2kernel::scanpass<Distance>(text, end, linebuf, work);
    else
#elif defined(__aarch64__)
    if constexpr (Kernel == scannerkernel::neon)
        return neonkernel::scanpass<Distance>(text, end, linebuf, work);
    else
#endif
        return plainkernel::scanpass<Distance>(text, end, linebuf, work);
}

#define LINEBENCH_KERNELNAMESPACEOF(name) name##kernel
#define LINEBENCH_KERNELNAMESPACE(name) LINEBENCH_KERNELNAMESPACEOF(name)

// One pass over the text with the kernel given: a step per line, each line
// handed to work, which is returned.  The kernel is chosen here once per
// pass, by a direct call; inside, the pass's loop has its kernel's step
// inlined.
template <typename Work>
[[gnu::always_inline]] inline Work scanpass([[maybe_unused]] scannerkernel kernel, const char *text,
                                            const char *end, char *linebuf, Work work)
{
#ifdef LINEBENCH_SCANNERKERNEL
    return LINEBENCH_KERNELNAMESPACE(LINEBENCH_SCANNERKERNEL)::scanpass(text, end, linebuf, work);
#elif defined(__x86_64__)
    switch (kernel) {
    case scannerkernel::avx512:
        return scanpasswith<scannerkernel::avx512>(text, end, linebuf, work);
    case scannerkernel::avx2:
        return scanpasswith<scannerkernel::avx2>(text, end, linebuf, work);
    default:
        return scanpasswith<scannerkernel::sse2>(text, end, linebuf, work);
    }
#elif defined(__aarch64__)
    if (kernel == scannerkernel::neon)
        return scanpasswith<scannerkernel::neon>(text, end, linebuf, work);
    return scanpasswith<scannerkernel::plain>(text, end, linebuf, work);
#else
    return scanpasswith<scannerkernel::plain>(text, end, linebuf, work);
#endif
}
