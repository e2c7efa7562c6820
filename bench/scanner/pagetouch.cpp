// pagetouch: the floors under the count pass.  Maps a file the way the driver
// does (a fresh private, writable mapping) and either reads one byte of every
// page, which is what first touching the text costs before any scanning, or,
// with "read", reads every byte once, 32 at a time: the text at this
// machine's memory bandwidth.
//
// Usage: pagetouch [read] <file>
// Prints the bytes, the pages, the elapsed microseconds and the rate.
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "bench/scanner/freshmap.hpp"

int main(int argc, char **argv)
{
    bool readall = argc == 3 && std::strcmp(argv[1], "read") == 0;
    if (argc != 2 && !readall) {
        std::fprintf(stderr, "Usage: %s [read] <file>\n", argv[0]);
        return 1;
    }
    const char *path = argv[argc - 1];
    auto [bytes, size] = mapfresh(path);
    const volatile unsigned char *text = reinterpret_cast<const unsigned char *>(bytes);
    auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));

    timespec start, stop;
    clock_gettime(CLOCK_MONOTONIC, &start);
    unsigned sum = 0;
    if (readall) {
        // Two 16-byte loads a step, or-ed together so that none can be dropped,
        // in the compiler's vectors, which every CPU with 16-byte vectors loads
        // whole.
        typedef unsigned char vector16 __attribute__((vector_size(16)));
        vector16 acc{};
        std::size_t offset = 0;
        for (; offset + 32 <= size; offset += 32) {
            vector16 first, second;
            std::memcpy(&first, bytes + offset, sizeof first);
            std::memcpy(&second, bytes + offset + 16, sizeof second);
            acc |= first | second;
        }
        for (; offset < size; ++offset)
            sum |= text[offset];
        for (unsigned i = 0; i < sizeof acc; ++i)
            sum |= acc[i];
    } else {
        for (std::size_t offset = 0; offset < size; offset += page)
            sum += text[offset];
    }
    clock_gettime(CLOCK_MONOTONIC, &stop);

    double micros = elapsedmicros(start, stop);
    std::printf("%zu bytes %zu pages %.0f us %.2f GB/s (sum %u)\n", size, (size + page - 1) / page, micros,
                static_cast<double>(size) / micros / 1e3, sum);
    return 0;
}
