// heapprobe: a library that linebench-compare preloads (LD_PRELOAD) into every
// program it runs, to see every byte a store takes from malloc, blocks that
// malloc maps with mmap included, where the program break sees only the rest.
//
// The driver reads the break with sbrk(0) right before and right after the
// store pass.  The probe stands in for sbrk: at each call it appends to the
// file named by HEAPPROBE_FILE a line holding the break and the bytes that
// malloc has handed out and not taken back, mmapped blocks included.  Without
// HEAPPROBE_FILE it only passes the call on.  It allocates nothing itself and
// links only libc.
#include <dlfcn.h>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// A sanitizer's allocator stands in for malloc's: where one is loaded, the
// bytes in use come from it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes() __attribute__((weak));

using sbrkfunction = void *(*)(intptr_t);
static sbrkfunction realsbrk;
static const char *probefile;

__attribute__((constructor)) static void heapprobestart()
{
    realsbrk = reinterpret_cast<sbrkfunction>(dlsym(RTLD_NEXT, "sbrk"));
    probefile = std::getenv("HEAPPROBE_FILE");
}

// Bytes in use: malloc's chunks in its arenas, each with its header and
// rounding, plus its mmapped blocks, whole pages.  Free chunks do not count.
static std::size_t heapinuse()
{
    if (__sanitizer_get_current_allocated_bytes != nullptr)
        return __sanitizer_get_current_allocated_bytes();
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

void *sbrk(intptr_t increment) noexcept
{
    void *brk = realsbrk(increment);
    if (probefile != nullptr) {
        char line[64];
        int length =
            std::snprintf(line, sizeof line, "%ju %zu\n",
                          static_cast<std::uintmax_t>(reinterpret_cast<std::uintptr_t>(brk)), heapinuse());
        // A line that fails to go out whole is one that linebench-compare rejects.
        int fd = open(probefile, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ssize_t written = write(fd, line, static_cast<std::size_t>(length));
            static_cast<void>(written);
            close(fd);
        }
    }
    return brk;
}
