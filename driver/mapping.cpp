#include "driver/mapping.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/common.hpp"

// The file failure: the same message on both streams, from one reading of errno
// (writing to standard output may itself change errno).
[[noreturn]] static void filefailure(const char *path)
{
    int error = errno;
    const char *text = std::strerror(error);
    std::printf("%s: Cannot open file \"%s\": %s (errno = %d)\n", gProgName, path, text, error);
    std::fflush(stdout);
    std::fprintf(stderr, "%s: Cannot open file \"%s\": %s (errno = %d)\n", gProgName, path, text, error);
    std::exit(1);
}

inputtext mapinput(const char *path)
{
    struct stat status;
    if (stat(path, &status) != 0)
        filefailure(path);
    auto size = static_cast<std::uint64_t>(status.st_size);

    // Non-blocking, so that a FIFO without a writer cannot hang the open; the
    // mapping then fails on it like on any file that cannot be mapped.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        filefailure(path);
    void *mapping = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, 0);
    if (mapping == MAP_FAILED)
        filefailure(path);
    const char *text = static_cast<const char *>(mapping);
    return {text, text + size, size};
}
