// Each scanner kernel as the tests run it: its pass, the very template that
// the driver's passes instantiate, with a work that records the lines; and
// its steps, one at a time with the pass's cursor, each recorded with the
// positions where it began and ended.  The model's entry runs scanlineplain.
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
    passfunction pass;
    stepsfunction steps;
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

inline void plainsteps(const char *begin, const char *end, char *linebuf, std::vector<steprecord> &steps)
{
    for (const char *pos = begin; pos < end;) {
        const char *next = scanlineplain(pos, end, linebuf);
        recordstep(steps, begin, pos, next, linebuf);
        if (next <= pos)
            return;
        pos = next;
    }
}

// The pass's loop, a kernel's steps recorded one by one; defined inside the
// kernel's target, so that its step is inlined.
#define LINEBENCH_KERNELSTEPS(name)                                                                          \
    inline void name##steps(const char *begin, const char *end, char *linebuf,                               \
                            std::vector<steprecord> &steps)                                                  \
    {                                                                                                        \
        name##kernel::scancursor cursor = name##kernel::scanstart(begin, end);                               \
        for (const char *pos = begin; pos < end;) {                                                          \
            const char *next = name##kernel::scanline(cursor, pos, end, linebuf);                            \
            recordstep(steps, begin, pos, next, linebuf);                                                    \
            if (next <= pos)                                                                                 \
                return;                                                                                      \
            pos = next;                                                                                      \
        }                                                                                                    \
    }

inline constexpr kernelentry modelkernel = {scannerkernel::plain, recordpass<scannerkernel::plain>,
                                            plainsteps};

// Every block kernel.  Those of another architecture are listed without their
// functions, so that their tests say they were skipped.
#if defined(__x86_64__)
LINEBENCH_KERNELSTEPS(sse2)
LINEBENCH_AVX2_BEGIN
LINEBENCH_KERNELSTEPS(avx2)
LINEBENCH_AVX2_END
LINEBENCH_AVX512_BEGIN
LINEBENCH_KERNELSTEPS(avx512)
LINEBENCH_AVX512_END

inline constexpr kernelentry blockkernels[] = {
    {scannerkernel::sse2, recordpass<scannerkernel::sse2>, sse2steps},
    {scannerkernel::avx2, recordpass<scannerkernel::avx2>, avx2steps},
    {scannerkernel::avx512, recordpass<scannerkernel::avx512>, avx512steps},
    {scannerkernel::neon, nullptr, nullptr},
};
#elif defined(__aarch64__)
LINEBENCH_KERNELSTEPS(neon)

inline constexpr kernelentry blockkernels[] = {
    {scannerkernel::sse2, nullptr, nullptr},
    {scannerkernel::avx2, nullptr, nullptr},
    {scannerkernel::avx512, nullptr, nullptr},
    {scannerkernel::neon, recordpass<scannerkernel::neon>, neonsteps},
};
#else
inline constexpr kernelentry blockkernels[] = {
    {scannerkernel::sse2, nullptr, nullptr},
    {scannerkernel::avx2, nullptr, nullptr},
    {scannerkernel::avx512, nullptr, nullptr},
    {scannerkernel::neon, nullptr, nullptr},
};
#endif

inline const kernelentry &kernelentryof(scannerkernel kernel)
{
    for (const kernelentry &entry : blockkernels)
        if (entry.kernel == kernel)
            return entry;
    return modelkernel;
}

// What a test says where the CPU lacks a kernel.
inline const char *kernelskipped = "skipped: this CPU lacks the kernel's instructions";
