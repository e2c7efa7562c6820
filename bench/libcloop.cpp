// libcloop: the count pass as a user would write it with the C library, as a
// reference for the scanner.  Maps a file the way the driver does (a fresh
// private, writable mapping), finds each line feed with memchr and copies the
// line into a buffer with memcpy, NUL-terminated.  It removes no blanks and
// cuts no long lines, so it does less than the scanner.
//
// Usage: libcloop <file>
// Prints the lines, the elapsed microseconds and the rate.
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "bench/freshmap.hpp"
#include "driver/scanner.hpp"

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "Usage: %s <file>\n", argv[0]);
        return 1;
    }
    auto [text, size] = mapfresh(argv[1]);
    const char *end = text + size;
    static char linebuf[MAXLINE];

    timespec start, stop;
    clock_gettime(CLOCK_MONOTONIC, &start);
    std::uint64_t lines = 0;
    for (const char *pos = text; pos < end; ++lines) {
        const char *feed =
            static_cast<const char *>(std::memchr(pos, '\n', static_cast<std::size_t>(end - pos)));
        const char *lineend = feed != nullptr ? feed : end;
        auto length = static_cast<std::size_t>(lineend - pos);
        if (length > MAXLINELEN)
            length = MAXLINELEN;
        std::memcpy(linebuf, pos, length);
        linebuf[length] = '\0';
        asm volatile("" : : "r"(linebuf) : "memory"); // the line is read: the copy must happen
        pos = lineend + 1;
    }
    clock_gettime(CLOCK_MONOTONIC, &stop);

    double micros = elapsedmicros(start, stop);
    std::printf("%llu lines %.0f us %.2f GB/s\n", static_cast<unsigned long long>(lines), micros,
                static_cast<double>(size) / micros / 1e3);
    return 0;
}
