// linebench: times how fast, and with how much heap, one string store keeps and
// finds the lines of a text file.
//
// The file is mapped, cut into lines by the scanner, and run through three
// timed passes: count (scanning alone), store (one insert per line) and lookup
// (one lookup per line).  The scanner's kernel is chosen once, at start-up.
// The store is fixed when the program is built: the build puts one store's
// binding.hpp on the include path, and the passes call its insert and lookup
// directly, so no indirection is timed.
//
// linebench-compare reads these passes' figures to full precision through its
// heap probe (compare/heapprobe.cpp), preloaded into every run, which stands
// in for the driver's six gettimeofday calls, one right before and one right
// after each pass in turn, and its two sbrk(0) calls, right before and right
// after the store pass.  From the readings it takes each pass's time per
// line, unrounded, with DeltaUSec's arithmetic (which it checks against the
// report's rounding), and from the two breaks the store pass's heap growth;
// its counts per pass, under callgrind, are cut at the same six readings.
// So no call of either may be added, dropped or moved; a test counts them.
//
// Output, on standard output:
//   # <program> <path>
//   #  lines avg_linelen  getline   stored RAMused/line  store/ln lookup/ln ADT
//   <the row of eight fields>
// Exit status 0 after a full run, 1 after any failure.

#include <sys/time.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "binding.hpp"
#include "driver/common.hpp"
#include "driver/linecount.hpp"
#include "driver/mapping.hpp"
#include "driver/scanner.hpp"

void *malStart;   // program break just before the store pass
double DeltaMem;  // growth of the program break over the store pass, bytes
double DeltaUSec; // elapsed time of the latest pass, microseconds

// Tells the compiler that a lookup's result is used, so the lookup cannot be
// dropped even where the driver does not check it.  Emits no code.
[[gnu::always_inline]] inline void keepresult(const void *result) { asm volatile("" : : "r"(result)); }

// One pass over the text with the scanner's kernel: scan each line into
// linebuf and hand it to work.  The timestamps sit right around the pass;
// DeltaUSec gets the elapsed time.
template <typename Work>
[[gnu::always_inline]] inline Work timedpass(scannerkernel kernel, const char *text, const char *end,
                                             char *linebuf, Work work)
{
    timeval start, stop;
    gettimeofday(&start, nullptr);
    Work done = scanpass(kernel, text, end, linebuf, work);
    gettimeofday(&stop, nullptr);
    long long seconds = static_cast<long long>(stop.tv_sec) - start.tv_sec;
    long long micros = static_cast<long long>(stop.tv_usec) - start.tv_usec;
    DeltaUSec = static_cast<double>(seconds) * 1000000.0 + static_cast<double>(micros);
    return done;
}

int main(int argc, char **argv)
{
    if (argc > 0 && argv[0] != nullptr)
        gProgName = argv[0];
    if (argc != 2) {
        std::printf("Usage: %s <text file>\n", gProgName);
        return 1;
    }
    const char *path = argv[1];

    const scannerkernel kernel = passkernel();
    if (!kernelsupported(kernel)) { // only where the build fixes a kernel
        std::fprintf(stderr, "%s: This build's scanner kernel, %s, needs instructions that this CPU lacks\n",
                     gProgName, kernelname(kernel));
        return 1;
    }

    inputtext input = mapinput(path);
    const char *text = input.text;
    const char *end = input.end;
    std::uint64_t filesize = input.size;

    alignas(64) char linebuf[MAXLINE]; // a line's first 64 bytes, stored whole, in one cache line
    storecontainer store = storecreate();

    // Every pass starts with stdout's buffer empty: flushed here, after field 3
    // and after field 6.  So the comment line is out during the count pass, and
    // the read-fault guard's message, written past stdio, follows all that was
    // printed.
    std::printf("# %s %s \n", gProgName, path);
    std::fflush(stdout);

    std::uint64_t lines = timedpass(kernel, text, end, linebuf, linecount{}).lines;
    std::printf("#  lines avg_linelen  getline   stored RAMused/line  store/ln lookup/ln ADT\n");
    std::printf("%8" PRIu64, lines);
    std::printf(" %6.1f byts", static_cast<double>(filesize) / static_cast<double>(lines));
    std::fflush(stdout);
    std::printf(" %5.3f uS", DeltaUSec / static_cast<double>(lines));
    std::fflush(stdout);
    gRowOpen = 1;

    malStart = sbrk(0);
    timedpass(kernel, text, end, linebuf, [&](const char *line) { storeinsert(store, line); });
    DeltaMem = static_cast<double>(static_cast<char *>(sbrk(0)) - static_cast<char *>(malStart));

    auto stored = lines - static_cast<std::uint64_t>(gDupCnt);
    std::printf(" %8" PRIu64, stored);
    std::printf(" %7.1f byts",
                (static_cast<double>(storefootprint) + DeltaMem) / static_cast<double>(stored));
    std::printf(" %6.3f uS", DeltaUSec / static_cast<double>(lines));
    std::fflush(stdout);

    timedpass(kernel, text, end, linebuf, [&](const char *line) {
        const void *found = storelookup(store, line);
        if constexpr (storechecklookup) {
            if (found == nullptr) {
                std::puts(storelookupfailure);
                std::exit(1);
            }
        } else {
            keepresult(found);
        }
    });
    std::printf(" %6.3f uS", DeltaUSec / static_cast<double>(lines));
    std::printf(" %s\n", storelabel);

    return reportwritten() ? 0 : 1;
}
