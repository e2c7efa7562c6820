#include "driver/common.hpp"

#include <cstdio>

std::int64_t gDupCnt = 0;
const char *gProgName = "linebench";
volatile std::sig_atomic_t gRowOpen = 0;

void outofmemory(std::size_t bytes)
{
    std::printf("%s%s: Out of memory: cannot allocate %zu bytes\n", gRowOpen ? "\n" : "", gProgName, bytes);
    std::fflush(stdout);
    std::fprintf(stderr, "%s: Out of memory: cannot allocate %zu bytes\n", gProgName, bytes);
    std::exit(1);
}
