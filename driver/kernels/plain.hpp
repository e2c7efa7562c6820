// The plain kernel: the byte model itself as a kernel, for comparisons, with
// the step and the pass of the block kernels.
#pragma once

#include <cstddef>

#include "driver/scanmodel.hpp"

// Any CPU: the kernel's code needs no target of its own.
#define LINEBENCH_BEGIN_plain
#define LINEBENCH_END_plain

namespace plainkernel
{
// The model carries nothing from one step to the next.
struct scancursor {
};

template <std::size_t Distance = 0>
[[gnu::always_inline]] inline scancursor scanstart(const char *, const char *)
{
    return {};
}

template <std::size_t Distance = 0>
[[gnu::always_inline]] inline const char *scanline(scancursor &, const char *pos, const char *end,
                                                   char *linebuf)
{
    return scanlineplain(pos, end, linebuf);
}

template <std::size_t Distance = 0, typename Work>
[[gnu::noinline, gnu::aligned(64)]] Work scanpass(const char *text, const char *end, char *linebuf, Work work)
{
    scancursor c = scanstart(text, end);
    for (const char *pos = text; pos < end;) {
        pos = scanline(c, pos, end, linebuf);
        work(static_cast<const char *>(linebuf));
    }
    return work;
}
} // namespace plainkernel
