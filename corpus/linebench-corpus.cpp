// linebench-corpus: writes a text file of a chosen number of lines with a
// chosen shape, as input for linebench and bench/compare.
//
// The same options and seed give the same bytes on every platform: all
// randomness comes from the generator's own xoshiro256** stream (random.hpp),
// and every draw is integer or exactly rounded IEEE arithmetic, except the
// Zipf law's (zipf.hpp), which also uses log and exp: a C library whose last
// bit differs there could move a rare Zipf draw.
//
// A file is built from D distinct keys, each used at least once, plus N - D
// repeats; linemaker.hpp makes each key's line.  Parts: commandline (the
// options), random (the generator), zipf (the Zipf sampler), linemaker (a
// key's text and its line), output (the buffered sink), and here the order of
// the lines.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "corpus/commandline.hpp"
#include "corpus/linemaker.hpp"
#include "corpus/output.hpp"
#include "corpus/random.hpp"
#include "corpus/zipf.hpp"

// The key of every line in file order: each key once, the repeats drawn by
// the chosen law, then shuffled (random order) or grouped by key (ascending).
static void writecorpus(const options &opts, sink &out)
{
    std::uint64_t seed = opts.seed;
    std::uint64_t keyseed = splitmix(seed);
    rng draws = rngseed(splitmix(seed));
    rng dress = rngseed(splitmix(seed));

    keymaker maker{keyseed, opts.length, idwidth(opts.distinct), opts.ascending};
    auto distinct = static_cast<std::uint32_t>(opts.distinct);
    std::uint64_t repeats = opts.lines - opts.distinct;
    zipflaw zipf = zipfcreate(distinct, opts.zipfexponent);
    auto drawkey = [&]() { return opts.zipf ? zipfdraw(zipf, draws) - 1 : rngbelow(draws, distinct); };
    std::uint64_t blanks = chance(opts.blanks);
    std::uint64_t crlf = chance(opts.crlf);

    if (opts.ascending) {
        std::vector<std::uint32_t> count(distinct, 1);
        for (std::uint64_t i = 0; i < repeats; ++i)
            ++count[drawkey()];
        for (std::uint32_t id = 0; id < distinct; ++id)
            for (std::uint32_t n = 0; n < count[id]; ++n)
                writeline(out, maker, id, dress, blanks, crlf);
        return;
    }
    std::vector<std::uint32_t> order(opts.lines);
    for (std::uint32_t id = 0; id < distinct; ++id)
        order[id] = id;
    for (std::uint64_t i = distinct; i < opts.lines; ++i)
        order[i] = drawkey();
    for (std::uint64_t i = opts.lines - 1; i > 0; --i) {
        std::uint32_t j = rngbelow(draws, static_cast<std::uint32_t>(i + 1));
        std::swap(order[i], order[j]);
    }
    for (std::uint32_t id : order)
        writeline(out, maker, id, dress, blanks, crlf);
}

int main(int argc, char **argv)
{
    options opts = parseoptions(argc, argv);
    sink out{stdout, "standard output", std::vector<char>(1 << 20), 0};
    if (opts.output != nullptr) {
        out.name = opts.output;
        out.file = std::fopen(opts.output, "wb");
        if (out.file == nullptr) {
            std::fprintf(stderr, "%s: cannot open %s: %s\n", progname, opts.output, std::strerror(errno));
            return 1;
        }
    }
    writecorpus(opts, out);
    sinkflush(out);
    if (std::fflush(out.file) != 0 || std::ferror(out.file) ||
        (opts.output != nullptr && std::fclose(out.file) != 0)) {
        std::fprintf(stderr, "%s: cannot write %s: %s\n", progname, out.name, std::strerror(errno));
        return 1;
    }
    return 0;
}
