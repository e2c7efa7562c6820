// libcloop: the count pass as a user would write it with the C library, as a
// reference for the scanner.  Maps a file the way the driver does (a fresh
// private, writable mapping), finds each line feed with memchr and copies the
// line into a buffer with memcpy, NUL-terminated.  It removes no blanks and
// cuts no long lines, so it does less than the scanner.
//
// Usage: libcloop <file>
// Prints the lines, the elapsed microseconds and the rate.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "driver/scanner.hpp"

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "Usage: %s <file>\n", argv[0]);
        return 1;
    }
    int fd = open(argv[1], O_RDONLY | O_CLOEXEC);
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0 || status.st_size == 0) {
        std::perror(argv[1]);
        return 1;
    }
    auto size = static_cast<std::size_t>(status.st_size);
    void *mapping = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, 0);
    if (mapping == MAP_FAILED) {
        std::perror(argv[1]);
        return 1;
    }
    const char *text = static_cast<const char *>(mapping);
    const char *end = text + size;
    static char linebuf[MAXLINE];

    timespec start, stop;
    clock_gettime(CLOCK_MONOTONIC, &start);
    std::uint64_t lines = 0;
    for (const char *pos = text; pos < end; ++lines) {
        const char *feed = static_cast<const char *>(std::memchr(pos, '\n', static_cast<std::size_t>(end - pos)));
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

    double micros = static_cast<double>(stop.tv_sec - start.tv_sec) * 1e6 +
                    static_cast<double>(stop.tv_nsec - start.tv_nsec) / 1e3;
    std::printf("%llu lines %.0f us %.2f GB/s\n", static_cast<unsigned long long>(lines), micros,
                static_cast<double>(size) / micros / 1e3);
    return 0;
}
