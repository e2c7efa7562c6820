// The line scanner: cuts the mapped text of the input file into the lines that
// every pass counts, stores or looks up.  This file chooses the kernel that the
// passes run and calls its pass; the rest lives in files of their own:
//   scanmodel.hpp    the byte model (scanlineplain), which defines the rules;
//   scanstep.hpp     the step and the pass, written once over a kernel's block
//                    of 64 bytes and included once per kernel: the masks of
//                    the block at hand are carried from line to line;
//   kernels/NAME.hpp one kernel each, its block's operations for one
//                    instruction set (plain: the model itself, for
//                    comparisons);
//   kernels/list.hpp the list of the kernels, from which everything here is
//                    made: a new kernel is a file in kernels/ and a line there.
//
// The widest kernel that the CPU runs is chosen once, at start-up; on an
// architecture without kernels of its own the passes run the model.  The
// build option LINEBENCH_SCANNERKERNEL fixes one instead, for comparisons; a
// build then holds that kernel alone.
//
// Each kernel's step and pass are compiled for the kernel's instructions, so a
// binary built for baseline x86-64 carries them all and a pass inlines its
// kernel's step.  arm64 has Advanced SIMD in its baseline, so its kernel needs
// no target of its own.  The step makes no call, so that a pass's time is the
// scanning plus the pass's own work.
#pragma once

#include <cstddef>

#include "driver/kernels/list.hpp"
#include "driver/scanmodel.hpp"

enum class scannerkernel {
#define LINEBENCH_ENUMERATOR(name, architecture, cpu) name,
    LINEBENCH_SCANNERKERNELS(LINEBENCH_ENUMERATOR)
#undef LINEBENCH_ENUMERATOR
};

// What the list says of each kernel, in its order.
struct kernelinfo {
    scannerkernel kernel;
    const char *name;
    bool built;  // this build holds it: "true || false" in a build for its architecture
    bool always; // every CPU of its architecture runs it
};
#define LINEBENCH_ALWAYS_always true
#define LINEBENCH_ALWAYS_asked false
inline constexpr kernelinfo kernellist[] = {
#define LINEBENCH_KERNELINFO(name, architecture, cpu)                                                        \
    {scannerkernel::name, #name, LINEBENCH_ON_##architecture(true ||) false, LINEBENCH_ALWAYS_##cpu},
    LINEBENCH_SCANNERKERNELS(LINEBENCH_KERNELINFO)
#undef LINEBENCH_KERNELINFO
};
#undef LINEBENCH_ALWAYS_always
#undef LINEBENCH_ALWAYS_asked

inline const char *kernelname(scannerkernel kernel)
{
    return kernellist[static_cast<std::size_t>(kernel)].name;
}

// Whether this CPU, and the system under it, can run the kernel; never one
// that the build does not hold.
inline bool kernelsupported(scannerkernel kernel)
{
    switch (kernel) {
#define LINEBENCH_USABLE_always(name) true
#define LINEBENCH_USABLE_asked(name) name##kernel::usable()
#define LINEBENCH_SUPPORTED(name, architecture, cpu)                                                         \
    LINEBENCH_ON_##architecture(case scannerkernel::name : return LINEBENCH_USABLE_##cpu(name);)
        LINEBENCH_SCANNERKERNELS(LINEBENCH_SUPPORTED)
#undef LINEBENCH_SUPPORTED
#undef LINEBENCH_USABLE_always
#undef LINEBENCH_USABLE_asked
    default:
        return false;
    }
}

// The kernel that the passes run: the one the build fixes, else the first in
// the list that this CPU runs.
inline scannerkernel passkernel()
{
#ifdef LINEBENCH_SCANNERKERNEL
    return scannerkernel::LINEBENCH_SCANNERKERNEL;
#else
    const kernelinfo *candidate = kernellist;
    while (!kernelsupported(candidate->kernel)) // the last, plain, runs everywhere
        ++candidate;
    return candidate->kernel;
#endif
}

// The pass of the kernel named, whatever kernel the build fixes, for the
// tests and benchmarks that run each kernel.  Call it only for a kernel that
// kernelsupported says this CPU runs: one that the build does not hold
// stands for the model, so that code naming it builds everywhere.
template <scannerkernel Kernel, std::size_t Distance = prefetchdistance, typename Work>
[[gnu::always_inline]] inline Work scanpasswith(const char *text, const char *end, char *linebuf, Work work)
{
#define LINEBENCH_PASSWITH(name, architecture, cpu)                                                          \
    LINEBENCH_ON_##architecture(                                                                             \
        if constexpr (Kernel == scannerkernel::name) return name##kernel::scanpass<Distance>(text, end,      \
                                                                                             linebuf, work); \
        else)
    LINEBENCH_SCANNERKERNELS(LINEBENCH_PASSWITH)
#undef LINEBENCH_PASSWITH
    return plainkernel::scanpass<Distance>(text, end, linebuf, work);
}

// One pass over the text with the kernel given: a step per line, each line
// handed to work, which is returned.  The kernel is chosen here once per
// pass, by a direct call, among those that the start-up choice can take: the
// kernels that the build holds, in the list's order, up to the first that
// every CPU runs.  Inside, the pass's loop has its kernel's step inlined.
template <std::size_t Candidate = 0, typename Work>
[[gnu::always_inline]] inline Work scanpass([[maybe_unused]] scannerkernel kernel, const char *text,
                                            const char *end, char *linebuf, Work work)
{
#ifdef LINEBENCH_SCANNERKERNEL
    return scanpasswith<scannerkernel::LINEBENCH_SCANNERKERNEL>(text, end, linebuf, work);
#else
    constexpr kernelinfo candidate = kernellist[Candidate];
    if constexpr (!candidate.built)
        return scanpass<Candidate + 1>(kernel, text, end, linebuf, work);
    else if constexpr (candidate.always)
        return scanpasswith<candidate.kernel>(text, end, linebuf, work);
    else if (kernel == candidate.kernel)
        return scanpasswith<candidate.kernel>(text, end, linebuf, work);
    else
        return scanpass<Candidate + 1>(kernel, text, end, linebuf, work);
#endif
}
