#include "driver/common.hpp"

#include <cstdio>

std::int64_t gDupCnt = 0;
const char *gProgName = "linebench";

void outofmemory(std::size_t bytes)
{
    // The row on standard output may be half printed: end it first so the
    // message stands on a line of its own.
    std::printf("\n%s: Out of memory: cannot allocate %zu bytes\n", gProgName, bytes);
    std::fflush(stdout);
    std::fprintf(stderr, "%s: Out of memory: cannot allocate %zu bytes\n", gProgName, bytes);
    std::exit(1);
}
