// The scanner's kernels, each written once, here: the start-up choice and the
// dispatch (scanner.hpp), the build's option LINEBENCH_SCANNERKERNEL (CMake
// reads these lines) and the tests take their kernels from this list.
//
// KERNEL(name, architecture, cpu): the kernel's code is kernels/NAME.hpp, in
// namespace NAMEkernel, included below; builds for the architecture hold it
// (x86_64, aarch64, or any: every build).  cpu says which CPUs run it: always,
// every CPU of the architecture; asked, those where NAMEkernel::usable() says
// so at start-up.  Within an architecture the widest comes first, and the
// start-up choice takes the first that the CPU runs; plain, the model, comes
// last, as every CPU runs it.
#pragma once

#define LINEBENCH_SCANNERKERNELS(KERNEL)                                                                     \
    KERNEL(avx512, x86_64, asked)                                                                            \
    KERNEL(avx2, x86_64, asked)                                                                              \
    KERNEL(sse2, x86_64, always)                                                                             \
    KERNEL(neon, aarch64, asked)                                                                             \
    KERNEL(plain, any, always)

// LINEBENCH_ON_<architecture>(code): the code in a build for that
// architecture, nothing in others; so a list's expansion names only the
// kernels that the build holds.
#define LINEBENCH_ON_any(...) __VA_ARGS__
#if defined(__x86_64__)
#define LINEBENCH_ON_x86_64(...) __VA_ARGS__
#include "driver/kernels/avx2.hpp"
#include "driver/kernels/avx512.hpp"
#include "driver/kernels/sse2.hpp"
#else
#define LINEBENCH_ON_x86_64(...)
#endif
#if defined(__aarch64__)
#define LINEBENCH_ON_aarch64(...) __VA_ARGS__
#include "driver/kernels/neon.hpp"
#else
#define LINEBENCH_ON_aarch64(...)
#endif
#include "driver/kernels/plain.hpp"
