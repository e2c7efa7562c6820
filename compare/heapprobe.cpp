// heapprobe: a library that linebench-compare preloads (LD_PRELOAD) into every
// program it runs, to see every byte a store takes from malloc, blocks that
// malloc maps with mmap included, where the program break sees only the rest,
// and each pass's time to the microsecond, where the report rounds it per line.
//
// The driver reads the break with sbrk(0) right before and right after the
// store pass.  The probe stands in for sbrk: at each call it appends to the
// file named by HEAPPROBE_FILE a line holding the break and the bytes that
// malloc has handed out and not taken back, mmapped blocks included.
//
// It also stands in for gettimeofday, which the driver calls right before and
// right after each pass: it keeps each reading in memory, as writing it out
// inside a pass would be timed, and at the end of the process appends a line
// "clock N" with the count of calls, then a line "t SECONDS MICROSECONDS" for
// each of the first readings it kept.
//
// linebench-compare (readprobe and fulltimes in linebenchcompare/heapprobe.py)
// takes the store pass's break growth and heap growth from the two sbrk lines,
// and from the six readings, in the driver's order, each pass's microseconds
// per line, unrounded, computed as the driver computes DeltaUSec and checked
// against the report's rounding.  A run that made other than two sbrk calls
// fails; one that read the clock other than six times keeps the report's
// rounded times.  Its counts per pass (passcounts.py) are cut at the same six
// readings, below.
//
// Without HEAPPROBE_FILE it only passes the calls on.  It allocates nothing
// itself and links only libc.
#include <dlfcn.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Under valgrind's callgrind each clock reading ends a part of the counts
// (linebench-compare --counts): the probe asks callgrind to dump its counters,
// after a pass's first reading and before its second, so that a pass's part
// holds its scanning and store calls and none of the clock's own instructions.
// Outside valgrind the request is a few instructions that do nothing.  A build
// without valgrind's header (Debian's package valgrind) leaves it out.
#if __has_include(<valgrind/callgrind.h>)
#include <valgrind/callgrind.h>
static void dumpcounts() { CALLGRIND_DUMP_STATS; }
#else
static void dumpcounts() {}
#endif

// A sanitizer's allocator stands in for malloc's: where one is loaded, the
// bytes in use come from it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes() __attribute__((weak));

using sbrkfunction = void *(*)(intptr_t);
using clockfunction = int (*)(timeval *, void *);
static sbrkfunction realsbrk;
static clockfunction realgettimeofday;
static const char *probefile;

// The driver reads the clock six times; a program that reads it more often
// is told by the count, and its readings are not the passes'.
constexpr int keptreadings = 8;
static timeval readings[keptreadings];
static long clockcalls;

__attribute__((constructor)) static void heapprobestart()
{
    realsbrk = reinterpret_cast<sbrkfunction>(dlsym(RTLD_NEXT, "sbrk"));
    realgettimeofday = reinterpret_cast<clockfunction>(dlsym(RTLD_NEXT, "gettimeofday"));
    probefile = std::getenv("HEAPPROBE_FILE");
}

// Appends length bytes of line to the probe's file.  A line that fails to go
// out whole is one that linebench-compare rejects.
static void probewrite(const char *line, int length)
{
    int fd = open(probefile, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0) {
        ssize_t written = write(fd, line, static_cast<std::size_t>(length));
        static_cast<void>(written);
        close(fd);
    }
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
        probewrite(line, length);
    }
    return brk;
}

// The reading is kept after it is taken, so that at the start of a pass the
// probe's own work falls inside the pass by a few stores only; the dump
// request adds a few instructions more at each end.
int gettimeofday(timeval *__restrict tv, void *__restrict tz) noexcept
{
    bool passend = clockcalls % 2 == 1;
    if (passend)
        dumpcounts();
    int result = realgettimeofday(tv, tz);
    if (clockcalls < keptreadings)
        readings[clockcalls] = *tv;
    ++clockcalls;
    if (!passend)
        dumpcounts();
    return result;
}

__attribute__((destructor)) static void heapprobeend()
{
    if (probefile == nullptr)
        return;
    char line[64];
    probewrite(line, std::snprintf(line, sizeof line, "clock %ld\n", clockcalls));
    for (long i = 0; i < clockcalls && i < keptreadings; ++i)
        probewrite(line, std::snprintf(line, sizeof line, "t %lld %ld\n",
                                       static_cast<long long>(readings[i].tv_sec),
                                       static_cast<long>(readings[i].tv_usec)));
}
