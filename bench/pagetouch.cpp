// pagetouch: the floor under the count pass.  Maps a file the way the driver
// does (a fresh private, writable mapping) and reads one byte of every page,
// which is what first touching the text costs before any scanning.
//
// Usage: pagetouch <file>
// Prints the bytes, the pages, the elapsed microseconds and the rate.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

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
    const volatile unsigned char *text = static_cast<const unsigned char *>(mapping);
    auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));

    timespec start, stop;
    clock_gettime(CLOCK_MONOTONIC, &start);
    unsigned sum = 0;
    for (std::size_t offset = 0; offset < size; offset += page)
        sum += text[offset];
    clock_gettime(CLOCK_MONOTONIC, &stop);

    double micros = static_cast<double>(stop.tv_sec - start.tv_sec) * 1e6 +
                    static_cast<double>(stop.tv_nsec - start.tv_nsec) / 1e3;
    std::printf("%zu bytes %zu pages %.0f us %.2f GB/s (sum %u)\n", size, (size + page - 1) / page, micros,
                static_cast<double>(size) / micros / 1e3, sum);
    return 0;
}
