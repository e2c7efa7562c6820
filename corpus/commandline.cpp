#include "corpus/commandline.hpp"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "corpus/output.hpp"
#include "corpus/random.hpp"
#include "driver/scanner.hpp"

// Key numbers are 32-bit, and random order holds one per line in memory.
static constexpr std::uint64_t maxlines = 2147483647;

static constexpr char usage[] = R"(Usage: linebench-corpus [OPTION]... [-o FILE]
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
  --length LAW       line lengths in bytes, 1 to %zu:
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

Every distinct line occurs at least once.  Random order holds the key of every
line in memory: 1 byte a line up to 256 distinct lines, 2 up to 65536, else 4.
Exit status: 0 on success, 1 when the file cannot be written or memory runs
out, 2 on a bad option.
)";

// A bad command line: a clear message, a pointer to the help, status 2.
[[noreturn]] static void badoption(const std::string &message)
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", progname, message.c_str(),
                 progname);
    std::exit(2);
}

// A whole decimal number, with an optional exponent (1e6), up to limit.
static bool parsecount(const char *text, std::uint64_t limit, std::uint64_t &value)
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
static bool parseshare(const char *text, double &value)
{
    char *end = nullptr;
    errno = 0;
    double result = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !(result >= 0.0 && result <= 1.0))
        return false;
    value = result;
    return true;
}

static std::uint32_t parselength(const std::string &text, const std::string &option)
{
    std::uint64_t value = 0;
    if (!parsecount(text.c_str(), MAXLINELEN, value) || value == 0)
        badoption("invalid line length '" + text + "' in " + option + ": expected 1 to " +
                  std::to_string(MAXLINELEN));
    return static_cast<std::uint32_t>(value);
}

static lengthlaw parselengthlaw(const std::string &text)
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
        if (*end != '\0' || !(mean >= 1.0 && mean <= MAXLINELEN))
            badoption("invalid " + option + ": expected a mean of 1 to " + std::to_string(MAXLINELEN));
        law.kind = lengthkind::geometric;
        law.stop = chance(1.0 / mean);
    } else {
        badoption("invalid " + option + ": expected fixed:N, uniform:A-B or geometric:MEAN");
    }
    return law;
}

static void parserepeats(const std::string &text, options &opts)
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
            std::printf(usage, MAXLINELEN);
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
