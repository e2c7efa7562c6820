// prefetchcurve: the count pass of each scanner kernel with the text asked
// for 0 (never) to 4,096 bytes ahead of each block that it loads, to choose
// the scanner's prefetch distance from the flat part of the curve.  Every pass
// maps the file afresh, as the driver does, so each time also covers bringing
// in its pages.
// The kernels and distances run interleaved, in a rotating order, and the
// median of each is printed.
//
// Usage: prefetchcurve <file> [runs]
#include <sys/mman.h>
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/scanner/freshmap.hpp"
#include "bench/scanner/runs.hpp"
#include "driver/linecount.hpp"
#include "driver/scanner.hpp"

namespace
{

struct trial {
    scannerkernel kernel;
    std::size_t distance;
    double (*pass)(const char *path);
    std::vector<double> micros;
};

// One count pass over a fresh mapping of path, in microseconds.
template <scannerkernel Kernel, std::size_t Distance> double countpass(const char *path)
{
    auto [text, size] = mapfresh(path);
    alignas(64) static char linebuf[MAXLINE];
    timespec start, stop;
    clock_gettime(CLOCK_MONOTONIC, &start);
    linecount counted = scanpasswith<Kernel, Distance>(text, text + size, linebuf, linecount{});
    clock_gettime(CLOCK_MONOTONIC, &stop);
    munmap(const_cast<char *>(text), size);
    asm volatile("" : : "r"(counted.lines));
    return elapsedmicros(start, stop);
}

// The model asks for nothing ahead, so it has no curve.
template <scannerkernel Kernel, std::size_t... Distances> void addtrials(std::vector<trial> &trials)
{
    if (Kernel == scannerkernel::plain)
        return;
    if (!kernelsupported(Kernel)) {
        std::printf("%s kernel skipped: this CPU lacks its instructions\n", kernelname(Kernel));
        return;
    }
    (trials.push_back({Kernel, Distances, countpass<Kernel, Distances>, {}}), ...);
}

} // namespace

int main(int argc, char **argv)
{
    int runs = runsasked(argc, argv);
    std::vector<trial> trials;
#define LINEBENCH_ADDTRIALS(name, architecture, cpu)                                                         \
    addtrials<scannerkernel::name, 0, 256, 512, 768, 1024, 1536, 2048, 3072, 4096>(trials);
    LINEBENCH_SCANNERKERNELS(LINEBENCH_ADDTRIALS)
#undef LINEBENCH_ADDTRIALS
    for (int run = 0; run < runs; ++run)
        for (std::size_t slot = 0; slot < trials.size(); ++slot) {
            trial &t = trials[(slot + static_cast<std::size_t>(run)) % trials.size()];
            t.micros.push_back(t.pass(argv[1]));
        }
    std::printf("%s: count pass, median of %d interleaved runs, microseconds\n", argv[1], runs);
    std::printf("kernel  distance      us\n");
    for (const trial &t : trials)
        std::printf("%-6s  %8zu  %6.0f\n", kernelname(t.kernel), t.distance, median(t.micros));
    return 0;
}
