// Throughput of the block scanner (scanline) against the byte-at-a-time model
// (scanlineplain) on generated texts of short, medium and long lines, with and
// without blanks.  Each iteration is one full pass, like the driver's count
// pass on a text that is already in memory.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench/textgen.hpp"
#include "driver/scanner.hpp"

namespace
{

constexpr std::size_t textbytes = 4 << 20;

template <bool Fast> void scanpass(benchmark::State &state)
{
    const std::string text =
        generatetext(textbytes, static_cast<std::size_t>(state.range(0)), state.range(1) != 0);
    const char *begin = text.data();
    const char *end = begin + text.size();
    std::vector<char> linebuf(MAXLINE);
    char *line = linebuf.data();
    std::int64_t lines = 0;
    for (auto _ : state) {
        for (const char *pos = begin; pos < end;) {
            if constexpr (Fast)
                pos = scanline(pos, end, line);
            else
                pos = scanlineplain(pos, end, line);
            benchmark::DoNotOptimize(line); // the line is read: the copy must happen
            ++lines;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
    state.SetItemsProcessed(lines);
}

} // namespace

// Each line shape runs the block scanner and then the model, so that the two
// figures of a shape are taken side by side.
int main(int argc, char **argv)
{
    for (std::int64_t blanks : {0, 1})
        for (std::int64_t length : {10, 50, 200}) {
            benchmark::RegisterBenchmark("fast", scanpass<true>)
                ->Args({length, blanks})
                ->ArgNames({"linelen", "blanks"});
            benchmark::RegisterBenchmark("plain", scanpass<false>)
                ->Args({length, blanks})
                ->ArgNames({"linelen", "blanks"});
        }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
