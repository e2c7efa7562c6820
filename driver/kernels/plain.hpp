// The plain kernel: the byte model itself as a kernel, for comparisons.
#pragma once

#include <cstddef>

#include "driver/scanmodel.hpp"

namespace plainkernel
{
template <std::size_t Distance = 0>
[[gnu::always_inline]] inline const char *scanline(const char *pos, const char *end, char *linebuf)
{
    return scanlineplain(pos, end, linebuf);
}
template <std::size_t Distance = 0, typename Work>
[[gnu::noinline, gnu::aligned(64)]] Work scanpass(const char *text, const char *end, char *linebuf, Work work)
{
    for (const char *pos = text; pos < end;) {
        pos = scanline(pos, end, linebuf);
        work(static_cast<const char *>(linebuf));
    }
    return work;
}
} // namespace plainkernel
