// libcloop: the count pass as a user would write it with the C library, as a
// reference for the scanner, over a file mapped the way the driver maps it (a
// fresh private, writable mapping).
//
// Usage: libcloop <file>
// Prints the lines, the elapsed microseconds and the rate.
#include <time.h>

#include <cstdio>

#include "bench/scanner/freshmap.hpp"
#include "bench/scanner/libcloop.hpp"

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "Usage: %s <file>\n", argv[0]);
        return 1;
    }
    auto [text, size] = mapfresh(argv[1]);
    const char *end = text + size;
    alignas(64) static char linebuf[MAXLINE];

    timespec start, stop;
    clock_gettime(CLOCK_MONOTONIC, &start);
    std::uint64_t lines = libcpass(text, end, linebuf);
    clock_gettime(CLOCK_MONOTONIC, &stop);

    double micros = elapsedmicros(start, stop);
    std::printf("%llu lines %.0f us %.2f GB/s\n", static_cast<unsigned long long>(lines), micros,
                static_cast<double>(size) / micros / 1e3);
    return 0;
}
