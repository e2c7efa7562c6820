// linebench-corpus end to end: the files it writes, read back both by the
// tests' model of the line rules and by linebench-hash itself.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "driver/scanner.hpp"
#include "process.hpp"
#include "reference.hpp"
#include "report.hpp"

namespace
{

const std::string corpus = LINEBENCH_CORPUS;
const std::string hash = LINEBENCH_HASH;

runresult generate(const std::vector<std::string> &options)
{
    std::vector<std::string> args{"linebench-corpus"};
    args.insert(args.end(), options.begin(), options.end());
    return runprogram(corpus, args);
}

// The text of a successful run.
std::string text(const std::vector<std::string> &options)
{
    runresult run = generate(options);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    return run.out;
}

// Lines as linebench cuts them.  Every line of a corpus ends in a line feed.
std::vector<std::string> lines(const std::string &bytes)
{
    EXPECT_TRUE(bytes.empty() || bytes.back() == '\n') << "text after the last line feed";
    return referencelines(bytes);
}

std::size_t distinctcount(const std::vector<std::string> &all)
{
    std::vector<std::string> sorted = all;
    std::sort(sorted.begin(), sorted.end());
    return static_cast<std::size_t>(std::unique(sorted.begin(), sorted.end()) - sorted.begin());
}

struct shape {
    std::vector<std::string> options;
    unsigned long lines;
    unsigned long distinct;
};

const shape shapes[] = {
    {{"--lines", "5000"}, 5000, 5000},
    {{"--lines", "5000", "--distinct", "0.2", "--blanks", "0.3", "--crlf", "0.5"}, 5000, 1000},
    {{"--lines", "1e4", "--distinct", "123", "--repeats", "zipf", "--blanks", "1"}, 10000, 123},
    {{"--lines", "4000", "--distinct", "0.5", "--repeats", "zipf:2.5", "--length", "geometric:3"},
     4000,
     2000},
    {{"--lines", "3000", "--distinct", "1", "--order", "ascending", "--crlf", "1"}, 3000, 1},
    {{"--lines", "3000", "--distinct", "0.9", "--order", "ascending", "--blanks", "0.5", "--length",
      "fixed:1"},
     3000,
     2700},
    {{"--lines", "200", "--length", "uniform:9990-" + std::to_string(MAXLINELEN), "--blanks", "0.5"},
     200,
     200},
    // 0.29 * 100 is 28.999... in binary: the share rounds to 29
    {{"--lines", "100", "--distinct", "0.29"}, 100, 29},
};

TEST(corpus, sameseedsamebytesotherseedotherbytes)
{
    for (const shape &s : shapes) {
        std::vector<std::string> seeded = s.options;
        seeded.insert(seeded.end(), {"--seed", "42"});
        std::string first = text(seeded);
        EXPECT_EQ(text(seeded), first);
        seeded.back() = "43";
        EXPECT_NE(text(seeded), first);
    }
    // Every 64-bit seed is one of its own, not taken modulo 2^32.
    EXPECT_NE(text({"--lines", "50", "--seed", "18446744073709551615"}),
              text({"--lines", "50", "--seed", "4294967295"}));
}

// Pins the bytes for one seed: the stream, the key spelling and the dressing
// with blanks and CRs must not drift, or corpora from different versions
// would no longer be the same data.
TEST(corpus, knownbytesforaseed)
{
    EXPECT_EQ(text({"--lines", "6", "--distinct", "4", "--length", "uniform:3-9", "--blanks", "0.5", "--crlf",
                    "0.5", "--seed", "7"}),
              "atdupcy1\nmdehicvo0 \r\nwjx3\natdupcy1\nmhjziq ic2\r\na  \t tdupcy1\n");
}

TEST(corpus, linebenchcountsthelinesanddistinctlinesasked)
{
    for (const shape &s : shapes) {
        scratchdir dir;
        std::string path = dir.path("corpus.txt");
        std::vector<std::string> options = s.options;
        options.insert(options.end(), {"-o", path});
        runresult made = generate(options);
        ASSERT_EQ(made.status, 0) << made.err;
        EXPECT_EQ(made.out, "");

        std::ifstream file(path, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        std::vector<std::string> all = lines(bytes);
        EXPECT_EQ(all.size(), s.lines);
        EXPECT_EQ(distinctcount(all), s.distinct);

        runresult run = runprogram(hash, {"linebench-hash", path});
        ASSERT_EQ(run.status, 0) << run.out;
        row figures = reportrow(run.out);
        ASSERT_GE(figures.numbers.size(), 4u) << run.out;
        EXPECT_EQ(figures.numbers[0], s.lines) << run.out;
        EXPECT_EQ(figures.numbers[3], s.distinct) << run.out;
    }
}

TEST(corpus, ascendingorderisascendingbystrcmp)
{
    std::vector<std::string> all =
        lines(text({"--lines", "5000", "--order", "ascending", "--blanks", "0.5"}));
    ASSERT_EQ(all.size(), 5000u);
    for (std::size_t i = 1; i < all.size(); ++i)
        ASSERT_LT(std::strcmp(all[i - 1].c_str(), all[i].c_str()), 0) << i;

    // With repeats, the copies of a line stand together.
    all = lines(text({"--lines", "5000", "--distinct", "0.1", "--order", "ascending", "--repeats", "zipf"}));
    for (std::size_t i = 1; i < all.size(); ++i)
        ASSERT_LE(std::strcmp(all[i - 1].c_str(), all[i].c_str()), 0) << i;
    EXPECT_EQ(distinctcount(all), 500u);
}

// A shuffle leaves a line where it was as often as it moves it: over 64
// seeds, two lines keep key 0 (the line of --lines 1 with the same seed) first
// about half the time, 32 with a spread of 4.
TEST(corpus, shuffleleavesalineinplaceasoftenasitmovesit)
{
    int kept = 0;
    for (int seed = 1; seed <= 64; ++seed) {
        std::string key0 = text({"--lines", "1", "--seed", std::to_string(seed)});
        std::string both = text({"--lines", "2", "--seed", std::to_string(seed)});
        kept += both.compare(0, both.find('\n') + 1, key0) == 0;
    }
    EXPECT_GE(kept, 20);
    EXPECT_LE(kept, 44);
}

TEST(corpus, linelengthsfollowthelengthlaw)
{
    for (const std::string &line : lines(text({"--lines", "300", "--length", "fixed:17"})))
        EXPECT_EQ(line.size(), 17u);

    std::map<std::size_t, int> seen;
    for (const std::string &line : lines(text({"--lines", "3000", "--length", "uniform:5-9"})))
        ++seen[line.size()];
    EXPECT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen.begin()->first, 5u);
    EXPECT_EQ(seen.rbegin()->first, 9u);

    // Geometric: mean near the one asked, and some lines well beyond it.
    std::vector<std::string> all = lines(text({"--lines", "20000", "--length", "geometric:30"}));
    std::size_t total = 0, longest = 0;
    for (const std::string &line : all) {
        total += line.size();
        longest = std::max(longest, line.size());
    }
    double mean = static_cast<double>(total) / static_cast<double>(all.size());
    EXPECT_GT(mean, 27.0);
    EXPECT_LT(mean, 33.0);
    EXPECT_GT(longest, 150u);

    // Too short to tell 100 lines apart in one byte: widened to two.
    for (const std::string &line : lines(text({"--lines", "100", "--length", "fixed:1"})))
        EXPECT_EQ(line.size(), 2u);
}

// The count of each distinct line, most frequent first.
std::vector<int> counts(const std::vector<std::string> &all)
{
    std::map<std::string, int> count;
    for (const std::string &line : all)
        ++count[line];
    std::vector<int> sorted;
    for (const auto &[line, n] : count)
        sorted.push_back(n);
    std::sort(sorted.rbegin(), sorted.rend());
    return sorted;
}

TEST(corpus, zipfrepeatsfavourafewlinesuniformonesdonot)
{
    // Each of 1000 lines once, then 19000 repeats.  Zipf (s = 1) gives rank k
    // a share of 1 / (k H(1000)) of the repeats, binomially spread; uniform
    // gives each line about 19.
    std::vector<int> zipf =
        counts(lines(text({"--lines", "20000", "--distinct", "1000", "--repeats", "zipf"})));
    double harmonic = 0;
    for (int k = 1; k <= 1000; ++k)
        harmonic += 1.0 / k;
    for (int k = 1; k <= 5; ++k) {
        double share = 1 / (k * harmonic);
        EXPECT_NEAR(zipf[k - 1], 1 + 19000 * share, 5 * std::sqrt(19000 * share * (1 - share)))
            << "rank " << k;
    }
    EXPECT_EQ(zipf.back(), 1);
    std::vector<int> uniform = counts(lines(text({"--lines", "20000", "--distinct", "1000"})));
    EXPECT_LT(uniform.front(), 60);
    EXPECT_GT(uniform.back(), 1);
    // A steeper law piles more on the first rank.
    int steepmost =
        counts(lines(text({"--lines", "20000", "--distinct", "1000", "--repeats", "zipf:2"}))).front();
    EXPECT_GT(steepmost, zipf.front() * 3);
}

TEST(corpus, badoptionsexitwithstatus2andaclearmessage)
{
    struct bad {
        std::vector<std::string> options;
        std::string message;
    };
    const bad cases[] = {
        {{"--frobnicate"}, "unknown option '--frobnicate'"},
        {{"stray"}, "unexpected argument 'stray'"},
        {{"--lines"}, "option '--lines' needs a value"},
        {{"--lines", "0"}, "invalid --lines '0'"},
        {{"--lines", "12x"}, "invalid --lines '12x'"},
        {{"--lines", "-5"}, "invalid --lines '-5'"},
        {{"--lines", "3e9"}, "invalid --lines '3e9'"},
        {{"--lines=99999999999999999999999"}, "invalid --lines '99999999999999999999999'"},
        {{"--lines", "10", "--distinct", "11"}, "--distinct 11 is more than --lines 10"},
        {{"--distinct", "1.5"}, "invalid --distinct '1.5'"},
        {{"--distinct", "0.0"}, "invalid --distinct '0.0'"},
        {{"--distinct", "0"}, "invalid --distinct '0'"},
        {{"--repeats", "pareto"}, "invalid --repeats 'pareto'"},
        {{"--repeats", "zipf:0"}, "the Zipf exponent S must be above 0"},
        {{"--repeats", "zipfy"}, "invalid --repeats 'zipfy'"},
        {{"--order", "descending"}, "invalid --order 'descending'"},
        {{"--length", "fixed:0"}, "invalid line length '0'"},
        {{"--length", "fixed:" + std::to_string(MAXLINE)},
         "invalid line length '" + std::to_string(MAXLINE) + "'"},
        {{"--length", "uniform:9-3"}, "A is greater than B"},
        {{"--length", "uniform:9"}, "expected uniform:A-B"},
        {{"--length", "geometric:0.5"}, "expected a mean of 1 to " + std::to_string(MAXLINELEN)},
        {{"--length", "normal:5"}, "expected fixed:N, uniform:A-B or geometric:MEAN"},
        {{"--blanks", "1.01"}, "invalid --blanks '1.01'"},
        {{"--crlf", "half"}, "invalid --crlf 'half'"},
        {{"--seed", "-1"}, "invalid --seed '-1'"},
        {{"-o", ""}, "option '-o' needs a file name"},
    };
    for (const bad &b : cases) {
        runresult run = generate(b.options);
        EXPECT_EQ(run.status, 2) << b.message;
        EXPECT_EQ(run.out, "") << b.message;
        EXPECT_EQ(run.err.rfind("linebench-corpus: ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(b.message), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("Try 'linebench-corpus --help'"), std::string::npos) << run.err;
    }
}

TEST(corpus, helpandfailedwrites)
{
    runresult help = generate({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: linebench-corpus", 0), 0u);
    for (const char *option : {"--lines", "--distinct", "--repeats", "--order", "--length", "--blanks",
                               "--crlf", "--seed", "--output"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;

    runresult nodir = generate({"-o", "/nonexistent-dir/corpus.txt"});
    EXPECT_EQ(nodir.status, 1);
    EXPECT_NE(nodir.err.find("cannot open /nonexistent-dir/corpus.txt"), std::string::npos) << nodir.err;

    runoptions full;
    full.stdoutpath = "/dev/full";
    runresult nospace = runprogram(corpus, {"linebench-corpus", "--lines", "10"}, full);
    EXPECT_EQ(nospace.status, 1);
    EXPECT_NE(nospace.err.find("cannot write standard output"), std::string::npos) << nospace.err;
}

// A corpus too large for the memory at hand ends with one line and status 1,
// before it opens the output, so a file already there keeps its bytes.  The
// tables hold a key per line, narrowed to the distinct lines (4 bytes past
// 65536 of them, 1 byte up to 256), or a 4-byte count per distinct line in
// ascending order: 2^31 - 1 lines take 8192 MiB, or 2048 MiB at 1 byte.
TEST(corpus, runningoutofmemoryisonelineandstatus1)
{
    if (sanitizedbuild)
        GTEST_SKIP() << "a data limit stops the sanitizer's runtime before main";
    scratchdir dir;
    std::string path = dir.write("kept.txt", "the user's own lines\n");
    runoptions limited;
    limited.datalimit = rlim_t{1} << 30;
    struct toolarge {
        std::vector<std::string> options;
        std::string message;
    };
    const toolarge cases[] = {
        {{"--lines", "2147483647"}, "the order of the lines takes 8192 MiB"},
        {{"--lines", "2147483647", "--distinct", "256"}, "the order of the lines takes 2048 MiB"},
        {{"--lines", "2147483647", "--order", "ascending"}, "the count of each distinct line takes 8192 MiB"},
    };
    for (const toolarge &c : cases) {
        std::vector<std::string> args{"linebench-corpus", "-o", path};
        args.insert(args.end(), c.options.begin(), c.options.end());
        runresult run = runprogram(corpus, args, limited);
        EXPECT_EQ(run.signal, 0) << c.message;
        EXPECT_EQ(run.status, 1) << c.message;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "linebench-corpus: out of memory: " + c.message + "\n");
    }
    std::ifstream file(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()),
              "the user's own lines\n");

    // Short of memory for its 1 MiB output buffer: operator new fails, and
    // must not throw.
    limited.datalimit = 768 << 10;
    runresult run = runprogram(corpus, {"linebench-corpus", "--lines", "10"}, limited);
    if (run.status == 127)
        GTEST_SKIP() << "the loader needs more than the limit here: " << run.err;
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "linebench-corpus: out of memory\n");
}

} // namespace
