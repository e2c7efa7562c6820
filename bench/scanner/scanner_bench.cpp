// Throughput of each scanner kernel's pass against the byte-at-a-time model
// (plain) on generated texts of short, medium and long lines, with and without
// blanks.  Each iteration is one full pass, like the driver's count pass on a
// text that is already in memory.  A kernel that this CPU cannot run is
// reported as skipped.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "bench/scanner/textgen.hpp"
#include "driver/linecount.hpp"
#include "driver/scanner.hpp"

namespace
{

constexpr std::size_t textbytes = 4 << 20;

template <scannerkernel Kernel> void scanpass(benchmark::State &state)
{
    if (!kernelsupported(Kernel)) {
        state.SkipWithError("skipped: this CPU lacks the kernel's instructions");
        return;
    }
    const std::string text =
        generatetext(textbytes, static_cast<std::size_t>(state.range(0)), state.range(1) != 0);
    const char *begin = text.data();
    const char *end = begin + text.size();
    std::vector<char> linebuf(MAXLINE);
    std::uint64_t lines = 0;
    for (auto _ : state) {
        lines += scanpasswith<Kernel>(begin, end, linebuf.data(), linecount{}).lines;
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
    state.SetItemsProcessed(static_cast<std::int64_t>(lines));
}

} // namespace

// Each line shape runs every kernel and then the model, so that the figures of
// a shape are taken side by side.
int main(int argc, char **argv)
{
    const std::pair<const char *, void (*)(benchmark::State &)> passes[] = {
#define LINEBENCH_BENCHPASS(name, architecture, cpu) {#name, scanpass<scannerkernel::name>},
        LINEBENCH_SCANNERKERNELS(LINEBENCH_BENCHPASS)
#undef LINEBENCH_BENCHPASS
    };
    for (std::int64_t blanks : {0, 1})
        for (std::int64_t length : {10, 50, 200})
            for (auto [name, pass] : passes)
                benchmark::RegisterBenchmark(name, pass)
                    ->Args({length, blanks})
                    ->ArgNames({"linelen", "blanks"});
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
