// stepchain: the count pass in the cache, each kernel's, beside a pass that
// keeps no rule but the line feed and the C library loop.  Over the first
// 4 MiB of a file, already in memory and in the cache, this times per line:
//   KERNEL pass  the count pass of each kernel that this CPU runs, all rules
//                kept, the block masks carried from line to line;
//   feeds only   a pass that copies each line, 128 bytes, and takes line ends
//                from the line-feed masks of aligned 64-byte blocks carried
//                from one line to the next, with the AVX2 kernel's blocks:
//                what the carrying costs without the rules;
//   C library loop  memchr and memcpy per line.
// feeds only keeps no rule but the line feed, so it runs only on texts of
// lines of 1 to 127 bytes above 32, each ended by one line feed, where all
// rows count the same lines.  Runs are interleaved; medians are printed, and
// each row's time against the chosen kernel's pass.
//
// Usage: stepchain <file> [runs]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "bench/scanner/freshmap.hpp"
#include "bench/scanner/libcloop.hpp"
#include "bench/scanner/runs.hpp"
#include "driver/linecount.hpp"
#include "driver/scanner.hpp"

namespace
{

constexpr std::size_t textlimit = 4 << 20;
constexpr std::size_t longestplain = 127;
constexpr int passesperrun = 10;

bool plainlines(const char *begin, const char *end)
{
    std::size_t length = 0;
    for (const char *at = begin; at < end; ++at) {
        auto c = static_cast<unsigned char>(*at);
        if (c == '\n') {
            if (length == 0)
                return false;
            length = 0;
        } else if (c <= ' ' || ++length > longestplain) {
            return false;
        }
    }
    return length == 0;
}

LINEBENCH_AVX2_BEGIN
// In a text of plain lines a block's line ends are its line feeds: feeds
// holds those of the aligned block at base not yet taken, so the next line's
// end needs no load at all while its block is the same.
[[gnu::noinline]] std::uint64_t feedsonlypass(const char *text, const char *end, char *linebuf)
{
    using avx2kernel::block;
    linecount counted;
    const char *base = text;
    std::uint64_t feeds = block::classify(base).ends;
    for (const char *pos = text; pos < end;) {
        __builtin_prefetch(base + prefetchdistance);
        while (feeds == 0) { // a line of up to 127 bytes ends in one of the next two blocks
            base += block::width;
            feeds = block::classify(base).ends;
        }
        const char *feed = base + _tzcnt_u64(feeds);
        feeds &= feeds - 1;
        block::copy(linebuf, pos);
        block::copy(linebuf + block::width, pos + block::width);
        linebuf[feed - pos] = '\0';
        pos = feed + 1;
        counted(linebuf);
    }
    return counted.lines;
}
LINEBENCH_AVX2_END

template <scannerkernel Kernel> std::uint64_t kernelpass(const char *text, const char *end, char *linebuf)
{
    return scanpasswith<Kernel>(text, end, linebuf, linecount{}).lines;
}

struct row {
    const char *name;
    std::uint64_t (*pass)(const char *, const char *, char *);
    std::vector<double> nanosperline;
    std::uint64_t lines;
};

} // namespace

int main(int argc, char **argv)
{
    int runs = runsasked(argc, argv);
    auto [mapped, size] = mapfresh(argv[1]);
    std::size_t kept = size;
    if (kept > textlimit) { // whole lines only
        const void *lastfeed = memrchr(mapped, '\n', textlimit);
        kept = lastfeed != nullptr
                   ? static_cast<std::size_t>(static_cast<const char *>(lastfeed) - mapped) + 1
                   : textlimit;
    }
    // The text 64-byte aligned and followed by zeros, so that the loads of
    // whole blocks and vectors past its end stay inside the buffer.
    auto buffer = std::make_unique<char[]>(kept + 512);
    char *begin = buffer.get() + (64 - reinterpret_cast<std::uintptr_t>(buffer.get()) % 64);
    std::memcpy(begin, mapped, kept);
    const char *end = begin + kept;
    alignas(64) static char linebuf[MAXLINE + 128];

    // The chosen kernel's pass first: the others are timed against it.
    std::vector<row> rows;
    const struct {
        scannerkernel kernel;
        const char *name;
        std::uint64_t (*pass)(const char *, const char *, char *);
    } kernels[] = {{scannerkernel::avx512, "avx512 pass", kernelpass<scannerkernel::avx512>},
                   {scannerkernel::avx2, "avx2 pass", kernelpass<scannerkernel::avx2>},
                   {scannerkernel::sse2, "sse2 pass", kernelpass<scannerkernel::sse2>}};
    for (const auto &k : kernels)
        if (k.kernel == passkernel())
            rows.push_back({k.name, k.pass, {}, 0});
    for (const auto &k : kernels)
        if (k.kernel != passkernel()) {
            if (kernelsupported(k.kernel))
                rows.push_back({k.name, k.pass, {}, 0});
            else
                std::printf("%s skipped: this CPU lacks the kernel's instructions\n", k.name);
        }
    std::size_t kernelrows = rows.size();
    bool plain = plainlines(begin, end);
    if (!kernelsupported(scannerkernel::avx2))
        std::printf("feeds only skipped: this CPU lacks AVX2\n");
    else if (!plain)
        std::printf("feeds only skipped: the text is not lines of 1 to %zu bytes above 32\n", longestplain);
    else
        rows.push_back({"feeds only", feedsonlypass, {}, 0});
    rows.push_back({"C library loop", libcpass, {}, 0});

    for (int run = 0; run < runs; ++run)
        for (std::size_t slot = 0; slot < rows.size(); ++slot) {
            row &r = rows[(slot + static_cast<std::size_t>(run)) % rows.size()];
            timespec start, stop;
            clock_gettime(CLOCK_MONOTONIC, &start);
            for (int pass = 0; pass < passesperrun; ++pass)
                r.lines = r.pass(begin, end, linebuf);
            clock_gettime(CLOCK_MONOTONIC, &stop);
            r.nanosperline.push_back(elapsedmicros(start, stop) * 1e3 / passesperrun /
                                     static_cast<double>(r.lines));
        }

    // Every kernel's pass must count the same lines, and on plain lines
    // every row, or it timed something else.
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const row &r = rows[i];
        if ((i < kernelrows || plain) && r.lines != rows.front().lines) {
            std::fprintf(stderr, "%s: %s counted %llu lines, the pass %llu\n", argv[0], r.name,
                         static_cast<unsigned long long>(r.lines),
                         static_cast<unsigned long long>(rows.front().lines));
            return 1;
        }
    }
    std::printf("%s: first %zu bytes in memory, %s kernel, medians of %d interleaved runs\n", argv[1], kept,
                kernelname(passkernel()), runs);
    std::printf("                  ns/line  pass/row     lines\n");
    double pass = median(rows.front().nanosperline);
    for (const row &r : rows) {
        double nanos = median(r.nanosperline);
        std::printf("%-16s %8.2f  %8.2f  %8llu\n", r.name, nanos, pass / nanos,
                    static_cast<unsigned long long>(r.lines));
    }
    return 0;
}
