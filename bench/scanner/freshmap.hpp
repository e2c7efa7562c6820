// A whole file mapped as the driver maps it, private and writable with no page
// touched yet, for the bench tools that time a pass over such a mapping.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>

struct freshmapping {
    const char *text;
    std::size_t size;
};

// Maps the file at path; on a failure prints the path with the reason and
// exits with status 1.  An empty file cannot be mapped, and has no lines to
// time.
inline freshmapping mapfresh(const char *path)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0) {
        std::perror(path);
        std::exit(1);
    }
    if (status.st_size == 0) {
        std::fprintf(stderr, "%s: the file is empty\n", path);
        std::exit(1);
    }
    auto size = static_cast<std::size_t>(status.st_size);
    void *mapping = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, 0);
    close(fd);
    if (mapping == MAP_FAILED) {
        std::perror(path);
        std::exit(1);
    }
    return {static_cast<const char *>(mapping), size};
}

// Microseconds from start to stop.
inline double elapsedmicros(const timespec &start, const timespec &stop)
{
    return static_cast<double>(stop.tv_sec - start.tv_sec) * 1e6 +
           static_cast<double>(stop.tv_nsec - start.tv_nsec) / 1e3;
}
