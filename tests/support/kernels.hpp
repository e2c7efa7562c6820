// Each scanner kernel as the tests run it: its pass, the very template that
// the driver's passes instantiate, with a work that records the lines; and
// its steps, one at a time with the pass's cursor, each recorded with the
// positions where it began and ended.  The model's entry, the plain kernel's,
// runs scanlineplain.
// Call a kernel's functions only where kernelsupported says the CPU runs it.
#pragma once

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "driver/scanner.hpp"

// The lines that a pass hands to its work.  A line that is not terminated
// inside linebuf's MAXLINE bytes is recorded as all of them, which no line
// can equal.
struct linerecorder {
    std::vector<std::string> *lines;
    void operator()(const char *line) const { lines->emplace_back(line, strnlen(line, MAXLINE)); }
};

// One step: where it began and ended, as offsets into the text, and its line.
struct steprecord {
    std::ptrdiff_t from, to;
    std::string line;
};

using passfunction = void (*)(const char *begin, const char *end, char *linebuf,
                              std::vector<std::string> &lines);
using stepsfunction = void (*)(const char *begin, const char *end, char *linebuf,
                               std::vector<steprecord> &steps);

struct kernelentry {
    scannerkernel kernel;
    passfunction pass = nullptr; // none where the build does not hold the kernel
    stepsfunction steps = nullptr;
};

// Names the kernel in test listings instead of dumping its pointers.
inline void PrintTo(const kernelentry &kernel, std::ostream *out) { *out << kernelname(kernel.kernel); }

template <scannerkernel Kernel>
void recordpass(const char *begin, const char *end, char *linebuf, std::vector<std::string> &lines)
{
    scanpasswith<Kernel>(begin, end, linebuf, linerecorder{&lines});
}

// A step ends past its position; a step that does not is recorded and ends
// the steps.
inline void recordstep(std::vector<steprecord> &steps, const char *begin, const char *from, const char *to,
                       const char *linebuf)
{
    steps.push_back({from - begin, to - begin, std::string(linebuf, strnlen(linebuf, MAXLINE))});
}

// The pass's loop, a kernel's steps recorded one by one; defined inside the
// kernel's target, so that its step is inlined.  One for each kernel that the
// build holds.
#define LINEBENCH_KERNELSTEPS(name, architecture, cpu)                                                       \
    LINEBENCH_ON_##architecture(LINEBENCH_BEGIN_##name inline void name##steps(                              \
        const char *begin, const char *end, char *linebuf, std::vector<steprecord> &steps) {                 \
        name##kernel::scancursor cursor = name##kernel::scanstart(begin, end);                               \
        for (const char *pos = begin; pos < end;) {                                                          \
            const char *next = name##kernel::scanline(cursor, pos, end, linebuf);                            \
            recordstep(steps, begin, pos, next, linebuf);                                                    \
            if (next <= pos)                                                                                 \
                return;                                                                                      \
            pos = next;                                                                                      \
        }                                                                                                    \
    } LINEBENCH_END_##name)
LINEBENCH_SCANNERKERNELS(LINEBENCH_KERNELSTEPS)
#undef LINEBENCH_KERNELSTEPS

// Every kernel of the list, in its order.  Those that the build does not hold
// are listed without their functions, so that their tests say they were
// skipped.
inline constexpr kernelentry testkernels[] = {
#define LINEBENCH_KERNELENTRY(name, architecture, cpu)                                                       \
    {scannerkernel::name LINEBENCH_ON_##architecture(, recordpass<scannerkernel::name>, name##steps)},
    LINEBENCH_SCANNERKERNELS(LINEBENCH_KERNELENTRY)
#undef LINEBENCH_KERNELENTRY
};

// Every kernel but the model.
inline std::vector<kernelentry> blockkernels()
{
    std::vector<kernelentry> kernels;
    for (const kernelentry &entry : testkernels)
        if (entry.kernel != scannerkernel::plain)
            kernels.push_back(entry);
    return kernels;
}

// What a test says where the CPU lacks a kernel.
inline const char *kernelskipped = "skipped: this CPU lacks the kernel's instructions";
