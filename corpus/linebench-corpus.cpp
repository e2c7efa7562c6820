// linebench-corpus: writes a text file of a chosen number of lines with a
// chosen shape, as input for linebench and linebench-compare.
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

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "corpus/commandline.hpp"
#include "corpus/linemaker.hpp"
#include "corpus/output.hpp"
#include "corpus/random.hpp"
#include "corpus/zipf.hpp"

// Ends the run when memory runs out: operator new's handler, so that no
// allocation throws.
[[noreturn]] static void outofmemory()
{
    std::fprintf(stderr, "%s: out of memory\n", progname);
    std::exit(1);
}

// A table of count entries, left uninitialised, from malloc: operator new
// would call the handler above, and this message names the table.
struct freetable {
    void operator()(void *entries) const { std::free(entries); }
};
template <typename Entry>
static std::unique_ptr<Entry[], freetable> table(std::uint64_t count, const char *what)
{
    auto *entries = static_cast<Entry *>(std::malloc(count * sizeof(Entry)));
    if (entries == nullptr) {
        std::fprintf(stderr, "%s: out of memory: %s takes %" PRIu64 " MiB\n", progname, what,
                     (count * sizeof(Entry) + (1 << 20) - 1) >> 20);
        std::exit(1);
    }
    return std::unique_ptr<Entry[], freetable>(entries);
}

// Opens the output once the tables are made, so that a run that cannot make
// them leaves an existing file as it was.
static void openoutput(const options &opts, sink &out)
{
    if (opts.output == nullptr)
        return;
    out.name = opts.output;
    out.file = std::fopen(opts.output, "wb");
    if (out.file == nullptr) {
        std::fprintf(stderr, "%s: cannot open %s: %s\n", progname, opts.output, std::strerror(errno));
        std::exit(1);
    }
}

// The draws shared by both orders: each key once, the repeats by the chosen
// law, and the blanks and CRs around each line.
struct corpusdraws {
    keymaker maker;
    std::uint32_t distinct;
    zipflaw zipf;
    rng draws;
    rng dress;
    std::uint64_t blanks;
    std::uint64_t crlf;
};

static std::uint32_t drawkey(const options &opts, corpusdraws &d)
{
    return opts.zipf ? zipfdraw(d.zipf, d.draws) - 1 : rngbelow(d.draws, d.distinct);
}

// Ascending order: each key's lines side by side, so only a count per key is
// kept.
static void writeascending(const options &opts, corpusdraws &d, sink &out)
{
    auto count = table<std::uint32_t>(d.distinct, "the count of each distinct line");
    std::fill_n(count.get(), d.distinct, 1);
    for (std::uint64_t i = opts.distinct; i < opts.lines; ++i)
        ++count[drawkey(opts, d)];
    openoutput(opts, out);
    for (std::uint32_t id = 0; id < d.distinct; ++id)
        for (std::uint32_t n = 0; n < count[id]; ++n)
            writeline(out, d.maker, id, d.dress, d.blanks, d.crlf);
}

// Random order: the key of every line, each key once and then the repeats,
// shuffled.  This table is as long as the file has lines, so its keys are as
// narrow as the distinct lines allow.
template <typename Key> static void writeshuffled(const options &opts, corpusdraws &d, sink &out)
{
    auto order = table<Key>(opts.lines, "the order of the lines");
    for (std::uint32_t id = 0; id < d.distinct; ++id)
        order[id] = static_cast<Key>(id);
    for (std::uint64_t i = d.distinct; i < opts.lines; ++i)
        order[i] = static_cast<Key>(drawkey(opts, d));
    for (std::uint64_t i = opts.lines - 1; i > 0; --i) {
        std::uint32_t j = rngbelow(d.draws, static_cast<std::uint32_t>(i + 1));
        std::swap(order[i], order[j]);
    }
    openoutput(opts, out);
    for (std::uint64_t i = 0; i < opts.lines; ++i)
        writeline(out, d.maker, order[i], d.dress, d.blanks, d.crlf);
}

static void writecorpus(const options &opts, sink &out)
{
    std::uint64_t seed = opts.seed;
    std::uint64_t keyseed = splitmix(seed);
    rng draws = rngseed(splitmix(seed));
    rng dress = rngseed(splitmix(seed));
    auto distinct = static_cast<std::uint32_t>(opts.distinct);
    corpusdraws d{keymaker{keyseed, opts.length, idwidth(opts.distinct), opts.ascending},
                  distinct,
                  zipfcreate(distinct, opts.zipfexponent),
                  draws,
                  dress,
                  chance(opts.blanks),
                  chance(opts.crlf)};

    if (opts.ascending)
        writeascending(opts, d, out);
    else if (distinct <= 1u << 8)
        writeshuffled<std::uint8_t>(opts, d, out);
    else if (distinct <= 1u << 16)
        writeshuffled<std::uint16_t>(opts, d, out);
    else
        writeshuffled<std::uint32_t>(opts, d, out);
}

int main(int argc, char **argv)
{
    std::set_new_handler(outofmemory);
    options opts = parseoptions(argc, argv);
    sink out{stdout, "standard output", std::vector<char>(1 << 20), 0};
    writecorpus(opts, out);
    sinkflush(out);
    if (std::fflush(out.file) != 0 || std::ferror(out.file) ||
        (opts.output != nullptr && std::fclose(out.file) != 0)) {
        std::fprintf(stderr, "%s: cannot write %s: %s\n", progname, out.name, std::strerror(errno));
        return 1;
    }
    return 0;
}
