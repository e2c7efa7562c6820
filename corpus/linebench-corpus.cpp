// linebench-corpus: writes a text file of a chosen number of lines with a
// chosen shape, as input for linebench and bench/compare.
//
// The same options and seed give the same bytes on every platform: all
// randomness comes from the generator's own xoshiro256** stream, and every
// draw is integer or exactly rounded IEEE arithmetic, except the Zipf law's,
// which also uses log and exp: a C library whose last bit differs there could
// move a rare Zipf draw.
//
// A file is built from D distinct keys, each used at least once, plus N - D
// repeats.  A key's text is a function of the seed and its number alone: its
// length comes from the length law, its letters are random, and a fixed-width
// base-62 spelling of its number (at the end, or at the front for ascending
// order) keeps every key distinct.  Keys hold no blank and no control byte, so
// linebench reads each line exactly as written, whatever blanks and CRLF
// endings are mixed in around it.

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr const char *progname = "linebench-corpus";

// linebench keeps at most this many bytes of a line.
constexpr std::uint32_t maxlinelen = 9999;

// Key numbers are 32-bit, and random order holds one per line in memory.
constexpr std::uint64_t maxlines = 2147483647;

constexpr char usage[] = R"(Usage: linebench-corpus [OPTION]... [-o FILE]
Writes a text file of lines for linebench, shaped by the options below.  The
same options and seed give the same file, byte for byte, on every platform
(with Zipf repeats: on every platform with the same C math library).

  --lines N          number of lines, as linebench counts them (default 100000;
                     1e6 style is accepted)
  --distinct X       distinct lines: a share when X has a decimal point (0.25),
                     a count otherwise (5000); default 1.0, all distinct
  --repeats LAW      how the lines beyond the distinct ones pick their line:
                     uniform    every distinct line alike (default)
                     zipf[:S]   Zipf law of exponent S (default 1.0), the
                                shape of natural text: a few lines very often
  --order ORDER      random     lines in shuffled order (default)
                     ascending  lines sorted by strcmp, repeats side by side
  --length LAW       line lengths in bytes, 1 to 9999:
                     fixed:N          all N
                     uniform:A-B      uniform between A and B (default 8-40)
                     geometric:MEAN   short lines common, long ones rare
                     Lines are widened where needed to keep them distinct:
                     to 4 bytes for up to 14776336 distinct lines.
  --blanks F         share of lines with spaces or tabs mixed in, or a
                     blank-only line before them; linebench drops both
                     (default 0)
  --crlf F           share of lines ended by CR LF instead of LF (default 0)
  --seed N           seed of the random stream (default 1)
  -o, --output FILE  where to write (default standard output)
  -h, --help         show this help

Every distinct line occurs at least once.  Exit status: 0 on success, 1 when
the file cannot be written, 2 on a bad option.
)";

// A bad command line: a clear message, a pointer to the help, status 2.
[[noreturn]] void badoption(const std::string &message)
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", progname, message.c_str(),
                 progname);
    std::exit(2);
}

// splitmix64: turns a seed into well-mixed state words.
std::uint64_t splitmix(std::uint64_t &state)
{
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// xoshiro256**: the generator's one source of randomness.
struct rng {
    std::uint64_t s[4];
};

rng rngseed(std::uint64_t seed)
{
    rng r;
    for (std::uint64_t &word : r.s)
        word = splitmix(seed);
    return r;
}

inline std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

inline std::uint64_t rngnext(rng &r)
{
    std::uint64_t result = rotl(r.s[1] * 5, 7) * 9;
    std::uint64_t t = r.s[1] << 17;
    r.s[2] ^= r.s[0];
    r.s[3] ^= r.s[1];
    r.s[1] ^= r.s[2];
    r.s[0] ^= r.s[3];
    r.s[2] ^= t;
    r.s[3] = rotl(r.s[3], 45);
    return result;
}

// A number in [0, bound), bound < 2^32, by multiply and shift.
inline std::uint32_t rngbelow(rng &r, std::uint32_t bound)
{
    return static_cast<std::uint32_t>(((rngnext(r) >> 32) * bound) >> 32);
}

// True with the probability that threshold stands for (see chance()).
inline bool rngchance(rng &r, std::uint64_t threshold) { return rngnext(r) < threshold; }

// The threshold for rngchance of a share in [0, 1]; exact in IEEE doubles.
std::uint64_t chance(double share)
{
    if (share >= 1.0)
        return UINT64_MAX;
    return static_cast<std::uint64_t>(std::ldexp(share, 64));
}

// A double in [0, 1).
inline double rngunit(rng &r) { return static_cast<double>(rngnext(r) >> 11) * 0x1.0p-53; }

// Zipf law over ranks 1..n, P(k) proportional to k^-s, by rejection-inversion
// (Hoermann and Derflinger): constant time per draw, no table.
struct zipflaw {
    double s;
    double hx1;  // hintegral(1.5) - 1
    double hn;   // hintegral(n + 0.5)
    double knee; // accept without the second test below this distance
    std::uint32_t n;
};

// log1p(x) / x and expm1(x) / x, with their limits near 0.
double log1pratio(double x)
{
    return std::fabs(x) > 1e-8 ? std::log1p(x) / x : 1.0 - x * (0.5 - x * (1.0 / 3.0 - 0.25 * x));
}
double expm1ratio(double x)
{
    return std::fabs(x) > 1e-8 ? std::expm1(x) / x : 1.0 + x * 0.5 * (1.0 + x / 3.0 * (1.0 + 0.25 * x));
}

// H(x), an antiderivative of x^-s, and its inverse.
double zipfh(const zipflaw &z, double x)
{
    double logx = std::log(x);
    return expm1ratio((1.0 - z.s) * logx) * logx;
}
double zipfhinverse(const zipflaw &z, double x)
{
    double t = x * (1.0 - z.s);
    if (t < -1.0)
        t = -1.0;
    return std::exp(log1pratio(t) * x);
}
double zipfdensity(const zipflaw &z, double x) { return std::exp(-z.s * std::log(x)); }

zipflaw zipfcreate(std::uint32_t n, double s)
{
    zipflaw z{s, 0, 0, 0, n};
    z.hx1 = zipfh(z, 1.5) - 1.0;
    z.hn = zipfh(z, n + 0.5);
    z.knee = 2.0 - zipfhinverse(z, zipfh(z, 2.5) - zipfdensity(z, 2.0));
    return z;
}

// A rank in 1..n.
std::uint32_t zipfdraw(const zipflaw &z, rng &r)
{
    for (;;) {
        double u = z.hn + rngunit(r) * (z.hx1 - z.hn);
        double x = zipfhinverse(z, u);
        double k = std::floor(x + 0.5);
        if (k < 1.0)
            k = 1.0;
        else if (k > z.n)
            k = z.n;
        if (k - x <= z.knee || u >= zipfh(z, k + 0.5) - zipfdensity(z, k))
            return static_cast<std::uint32_t>(k);
    }
}

enum class lengthkind { fixed, uniform, geometric };

struct lengthlaw {
    lengthkind kind = lengthkind::uniform;
    std::uint32_t low = 8;   // fixed: the length; uniform: the least
    std::uint32_t high = 40; // uniform: the greatest
    std::uint64_t stop = 0;  // geometric: rngchance threshold of ending the line
};

struct options {
    std::uint64_t lines = 100000;
    std::uint64_t distinct = 0; // 0 until resolved from distinctshare
    double distinctshare = 1.0;
    bool ascending = false;
    bool zipf = false;
    double zipfexponent = 1.0;
    lengthlaw length;
    double blanks = 0.0;
    double crlf = 0.0;
    std::uint64_t seed = 1;
    const char *output = nullptr;
};

// A whole decimal number, with an optional exponent (1e6), up to limit.
bool parsecount(const char *text, std::uint64_t limit, std::uint64_t &value)
{
    std::uint64_t result = 0;
    const char *p = text;
    if (*p < '0' || *p > '9')
        return false;
    for (; *p >= '0' && *p <= '9'; ++p) {
        auto digit = static_cast<std::uint64_t>(*p - '0');
        if (result > (limit - digit) / 10)
            return false;
        result = result * 10 + digit;
    }
    if (*p == 'e' || *p == 'E') {
        ++p;
        if (*p < '0' || *p > '9')
            return false;
        std::uint64_t exponent = 0;
        for (; *p >= '0' && *p <= '9'; ++p) {
            exponent = exponent * 10 + static_cast<std::uint64_t>(*p - '0');
            if (exponent > 20)
                return false;
        }
        for (; exponent > 0; --exponent) {
            if (result > limit / 10)
                return false;
            result *= 10;
        }
    }
    if (*p != '\0')
        return false;
    value = result;
    return true;
}

// A share in [0, 1].
bool parseshare(const char *text, double &value)
{
    char *end = nullptr;
    errno = 0;
    double result = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !(result >= 0.0 && result <= 1.0))
        return false;
    value = result;
    return true;
}

std::uint32_t parselength(const std::string &text, const std::string &option)
{
    std::uint64_t value = 0;
    if (!parsecount(text.c_str(), maxlinelen, value) || value == 0)
        badoption("invalid line length '" + text + "' in " + option + ": expected 1 to 9999");
    return static_cast<std::uint32_t>(value);
}

lengthlaw parselengthlaw(const std::string &text)
{
    std::string option = "--length " + text;
    lengthlaw law;
    std::size_t colon = text.find(':');
    std::string kind = text.substr(0, colon);
    std::string rest = colon == std::string::npos ? "" : text.substr(colon + 1);
    if (colon == std::string::npos || rest.empty())
        badoption("invalid " + option + ": expected fixed:N, uniform:A-B or geometric:MEAN");
    if (kind == "fixed") {
        law.kind = lengthkind::fixed;
        law.low = law.high = parselength(rest, option);
    } else if (kind == "uniform") {
        std::size_t dash = rest.find('-');
        if (dash == std::string::npos)
            badoption("invalid " + option + ": expected uniform:A-B");
        law.kind = lengthkind::uniform;
        law.low = parselength(rest.substr(0, dash), option);
        law.high = parselength(rest.substr(dash + 1), option);
        if (law.low > law.high)
            badoption("invalid " + option + ": A is greater than B");
    } else if (kind == "geometric") {
        char *end = nullptr;
        double mean = std::strtod(rest.c_str(), &end);
        if (*end != '\0' || !(mean >= 1.0 && mean <= maxlinelen))
            badoption("invalid " + option + ": expected a mean of 1 to 9999");
        law.kind = lengthkind::geometric;
        law.stop = chance(1.0 / mean);
    } else {
        badoption("invalid " + option + ": expected fixed:N, uniform:A-B or geometric:MEAN");
    }
    return law;
}

void parserepeats(const std::string &text, options &opts)
{
    if (text == "uniform") {
        opts.zipf = false;
        return;
    }
    if (text.compare(0, 4, "zipf") != 0 || (text.size() > 4 && text[4] != ':'))
        badoption("invalid --repeats '" + text + "': expected uniform or zipf[:S]");
    opts.zipf = true;
    opts.zipfexponent = 1.0;
    if (text.size() > 4) {
        const char *start = text.c_str() + 5;
        char *end = nullptr;
        double s = std::strtod(start, &end);
        if (end == start || *end != '\0' || !(s > 0.0 && s <= 10.0))
            badoption("invalid --repeats '" + text + "': the Zipf exponent S must be above 0 and at most 10");
        opts.zipfexponent = s;
    }
}

options parseoptions(int argc, char **argv)
{
    options opts;
    std::string distinct = "1.0";
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(usage, stdout);
            std::exit(std::fflush(stdout) == 0 ? 0 : 1);
        }
        std::string name = arg, value;
        bool inlinevalue = false;
        if (arg.compare(0, 2, "--") == 0 && arg.find('=') != std::string::npos) {
            name = arg.substr(0, arg.find('='));
            value = arg.substr(arg.find('=') + 1);
            inlinevalue = true;
        }
        static const char *const known[] = {"--lines",  "--distinct", "--repeats", "--order", "--length",
                                            "--blanks", "--crlf",     "--seed",    "-o",      "--output"};
        bool isknown = false;
        for (const char *option : known)
            isknown = isknown || name == option;
        if (!isknown) {
            if (name.size() > 1 && name[0] == '-')
                badoption("unknown option '" + name + "'");
            badoption("unexpected argument '" + arg + "'");
        }
        if (!inlinevalue) {
            if (i + 1 >= argc)
                badoption("option '" + name + "' needs a value");
            value = argv[++i];
        }
        if (name == "--lines") {
            if (!parsecount(value.c_str(), maxlines, opts.lines) || opts.lines == 0)
                badoption("invalid --lines '" + value + "': expected a whole number from 1 to 2147483647");
        } else if (name == "--distinct") {
            distinct = value;
        } else if (name == "--repeats") {
            parserepeats(value, opts);
        } else if (name == "--order") {
            if (value != "random" && value != "ascending")
                badoption("invalid --order '" + value + "': expected random or ascending");
            opts.ascending = value == "ascending";
        } else if (name == "--length") {
            opts.length = parselengthlaw(value);
        } else if (name == "--blanks") {
            if (!parseshare(value.c_str(), opts.blanks))
                badoption("invalid --blanks '" + value + "': expected a share from 0 to 1");
        } else if (name == "--crlf") {
            if (!parseshare(value.c_str(), opts.crlf))
                badoption("invalid --crlf '" + value + "': expected a share from 0 to 1");
        } else if (name == "--seed") {
            if (!parsecount(value.c_str(), UINT64_MAX, opts.seed))
                badoption("invalid --seed '" + value + "': expected a whole number");
        } else {
            opts.output = argv[i];
            if (inlinevalue)
                opts.output = argv[i] + name.size() + 1;
            if (*opts.output == '\0')
                badoption("option '" + name + "' needs a file name");
        }
    }

    // The share or count of distinct lines is resolved against the final --lines.
    if (distinct.find('.') != std::string::npos) {
        double share = 0;
        if (!parseshare(distinct.c_str(), share) || share == 0.0)
            badoption("invalid --distinct '" + distinct + "': a share must be above 0 and at most 1");
        opts.distinct = static_cast<std::uint64_t>(std::llround(share * static_cast<double>(opts.lines)));
        if (opts.distinct == 0)
            opts.distinct = 1;
    } else if (!parsecount(distinct.c_str(), maxlines, opts.distinct) || opts.distinct == 0) {
        badoption("invalid --distinct '" + distinct + "': expected a share such as 0.5 or a count from 1");
    } else if (opts.distinct > opts.lines) {
        badoption("--distinct " + distinct + " is more than --lines " + std::to_string(opts.lines));
    }
    return opts;
}

// Digits of a key's number, in ASCII order so that fixed-width spellings sort
// like the numbers.
constexpr char digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr std::uint32_t base = 62;

std::uint32_t idwidth(std::uint64_t distinct)
{
    std::uint32_t width = 1;
    for (std::uint64_t reach = base; reach < distinct; reach *= base)
        ++width;
    return width;
}

struct keymaker {
    std::uint64_t seed; // mixed from the user's seed; one stream per key
    lengthlaw length;
    std::uint32_t width; // digits of the key number
    bool idfirst;        // number in front, so keys sort by number
};

std::uint32_t drawlength(const lengthlaw &law, rng &r)
{
    switch (law.kind) {
    case lengthkind::fixed:
        return law.low;
    case lengthkind::uniform:
        return law.low + rngbelow(r, law.high - law.low + 1);
    case lengthkind::geometric:
        break;
    }
    std::uint32_t len = 1;
    while (len < maxlinelen && !rngchance(r, law.stop))
        ++len;
    return len;
}

// Writes key number id at out; returns its length.
std::uint32_t makekey(const keymaker &maker, std::uint64_t id, char *out)
{
    std::uint64_t state = maker.seed + id * 0x9e3779b97f4a7c15ULL;
    rng r = rngseed(splitmix(state));
    std::uint32_t len = drawlength(maker.length, r);
    if (len < maker.width)
        len = maker.width;
    std::uint32_t fill = len - maker.width;
    char *letters = maker.idfirst ? out + maker.width : out;
    char *number = maker.idfirst ? out : out + fill;
    std::uint64_t bits = 0;
    for (std::uint32_t i = 0; i < fill; ++i) {
        if (i % 8 == 0)
            bits = rngnext(r);
        letters[i] = static_cast<char>('a' + (((bits & 0xff) * 26) >> 8));
        bits >>= 8;
    }
    for (std::uint32_t i = maker.width; i-- > 0; id /= base)
        number[i] = digits[id % base];
    return len;
}

// Buffered output with the first write error kept for the end.
struct sink {
    std::FILE *file;
    const char *name;
    std::vector<char> buffer;
    std::size_t used;
};

void sinkflush(sink &out)
{
    if (out.used != 0 && std::fwrite(out.buffer.data(), 1, out.used, out.file) != out.used) {
        std::fprintf(stderr, "%s: cannot write %s: %s\n", progname, out.name, std::strerror(errno));
        std::exit(1);
    }
    out.used = 0;
}

inline char *sinkroom(sink &out, std::size_t bytes)
{
    if (out.buffer.size() - out.used < bytes)
        sinkflush(out);
    return out.buffer.data() + out.used;
}

// One line of the file: the key, dressed with blanks and a CRLF ending as
// the shares ask.  Blanks go before, inside or after the key, or form a line
// of their own before it; a blank-only line before a line never counts.
void writeline(sink &out, const keymaker &maker, std::uint64_t id, rng &dress, std::uint64_t blanks,
               std::uint64_t crlf)
{
    char *start = sinkroom(out, maxlinelen + 16);
    char *p = start;
    bool blanked = blanks != 0 && rngchance(dress, blanks);
    std::uint64_t how = blanked ? rngnext(dress) : 0;
    auto putblanks = [&](std::uint64_t bits) {
        for (std::uint64_t n = 1 + (bits & 3); n-- > 0; bits >>= 1)
            *p++ = (bits & 4) != 0 ? '\t' : ' ';
    };
    std::uint32_t where = static_cast<std::uint32_t>(how >> 32);
    if (blanked && how % 4 == 3) {
        putblanks(how >> 8);
        *p++ = '\n';
    }
    std::uint32_t len = makekey(maker, id, p);
    if (blanked && how % 4 != 3) {
        // 0: before, 1: inside, 2: after the key.
        std::uint32_t at = how % 4 == 0 ? 0 : how % 4 == 2 ? len : where % (len + 1);
        char saved[maxlinelen];
        std::memcpy(saved, p + at, len - at);
        p += at;
        putblanks(how >> 8);
        std::memcpy(p, saved, len - at);
        p += len - at;
    } else {
        p += len;
    }
    if (crlf != 0 && rngchance(dress, crlf))
        *p++ = '\r';
    *p++ = '\n';
    out.used += static_cast<std::size_t>(p - start);
}

// The key of every line in file order: each key once, the repeats drawn by
// the chosen law, then shuffled (random order) or grouped by key (ascending).
void writecorpus(const options &opts, sink &out)
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

} // namespace

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
