// Test support, preloaded into a program under test: a file past 4 GiB reads
// as its first 2 MiB over and over.  Its mapping is made of copies of those
// 2 MiB side by side, each a mapping of the file itself, so the program sees
// a text past 4 GiB, at the size that stat gives, from a sparse file that
// holds 2 MiB, in the time that scanning from the cache takes.  The copies are
// aligned to 2 MiB, where the kernel can map the file's pages in large blocks:
// mapped a page at a time, 4 GiB take ten times as long to scan.  Every other
// mapping is left to the C library.

#include <dlfcn.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace
{

constexpr std::size_t copybytes = std::size_t{2} << 20;
constexpr off_t repeatedfrom = off_t{1} << 32; // files larger than this read repeated

using mmapfunction = void *(void *, std::size_t, int, int, int, off_t);

} // namespace

extern "C" void *mmap(void *address, std::size_t length, int protection, int flags, int fd, off_t offset)
{
    static auto *next = reinterpret_cast<mmapfunction *>(dlsym(RTLD_NEXT, "mmap"));
    struct stat status;
    if (fd < 0 || offset != 0 || (flags & MAP_FIXED) != 0 || fstat(fd, &status) != 0 ||
        status.st_size <= repeatedfrom)
        return next(address, length, protection, flags, fd, offset);

    // Address space for the whole length and the alignment first, so that
    // the copies lie side by side, then each copy mapped over its part.
    std::size_t reserved = length + copybytes;
    auto *start = static_cast<char *>(next(nullptr, reserved, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    if (start == MAP_FAILED)
        return MAP_FAILED;
    auto aligned = (reinterpret_cast<std::uintptr_t>(start) + copybytes - 1) & ~std::uintptr_t{copybytes - 1};
    auto *base = reinterpret_cast<char *>(aligned);
    for (std::size_t at = 0; at < length; at += copybytes) {
        std::size_t part = std::min(copybytes, length - at);
        if (next(base + at, part, protection, flags | MAP_FIXED, fd, 0) == MAP_FAILED) {
            munmap(start, reserved);
            return MAP_FAILED;
        }
    }
    return base;
}
