// Each block kernel's step as a function of its own, compiled for the
// kernel's instructions, for the tests that drive the steps one at a time
// against the model.  Call one only where kernelsupported says the CPU runs it.
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

// What a test says where the CPU lacks a kernel.
inline const char *kernelskipped = "skipped: this CPU lacks the kernel's instructions";
