// Each block kernel's step as a function of its own, compiled for the
// kernel's instructions, for the tests that drive the steps one at a time
// against the model.  Call one only where kernelsupported says the CPU runs it.
// Kernels of another architecture are listed without a step, so that their
// tests say they were skipped.
#pragma once

#include <ostream>

#include "driver/scanner.hpp"

using stepfunction = const char *(*)(const char *pos, const char *end, char *linebuf);

struct kernelstep {
    scannerkernel kernel;
    stepfunction step;
};

// Names the kernel in test listings instead of dumping its bytes.
inline void PrintTo(const kernelstep &kernel, std::ostream *out) { *out << kernelname(kernel.kernel); }

#if defined(__x86_64__)
inline const char *sse2step(const char *pos, const char *end, char *linebuf)
{
    return sse2kernel::scanline(pos, end, linebuf);
}

LINEBENCH_AVX2_BEGIN
inline const char *avx2step(const char *pos, const char *end, char *linebuf)
{
    return avx2kernel::scanline(pos, end, linebuf);
}
LINEBENCH_AVX2_END

inline constexpr kernelstep blockkernels[] = {{scannerkernel::sse2, sse2step}, {scannerkernel::avx2, avx2step}};
#else
inline constexpr kernelstep blockkernels[] = {{scannerkernel::sse2, nullptr}, {scannerkernel::avx2, nullptr}};
#endif

// The kernel's step from the list above.
inline stepfunction stepof(scannerkernel kernel)
{
    for (const kernelstep &listed : blockkernels)
        if (listed.kernel == kernel)
            return listed.step;
    return nullptr;
}

// What a test says where the CPU lacks a kernel.
inline const char *kernelskipped = "skipped: this CPU lacks the kernel's instructions";
