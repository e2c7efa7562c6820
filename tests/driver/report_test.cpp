// End-to-end tests: both programs run on files written here, and their report,
// messages and exit status are checked, byte for byte where the output does
// not depend on timing or on the heap.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "collidingwords.hpp"
#include "driver/scanner.hpp"
#include "hash/hash.hpp"
#include "process.hpp"
#include "programs.hpp"
#include "reference.hpp"

namespace
{

// The hash table's chain heads: static storage.
constexpr double hashfootprint = double{HASHSIZE} * sizeof(hashnode *);

// The clock that stepclock.so gives a run, in microseconds: it starts a
// microsecond before a whole second, and each pass takes more than a second,
// so that both parts of a reading count; the other steps lie between passes.
#ifdef LINEBENCH_STEPCLOCK
const char *const stepclock = LINEBENCH_STEPCLOCK;
#else
const char *const stepclock = nullptr; // sanitizer and emulated builds
#endif
constexpr long long countmicros = 1000003, storemicros = 2718281, lookupmicros = 3141592;
constexpr long long clockstart = 1700000000999999;
constexpr long long clocksteplist[] = {countmicros, 500000, storemicros, 700001, lookupmicros};
const std::string clocksteps = [] {
    std::string setting = "STEPCLOCK=" + std::to_string(clockstart);
    for (long long step : clocksteplist)
        setting += "," + std::to_string(step);
    return setting;
}();

// linebench-compare's heap probe, heapprobe.so, where the build has it.
#ifdef LINEBENCH_HEAPPROBE
const char *const heapprobe = LINEBENCH_HEAPPROBE;
#else
const char *const heapprobe = nullptr; // sanitizer and emulated builds
#endif

runresult runon(const program &prog, const std::string &path, const runoptions &options = {})
{
    return runprogram(prog.path, {prog.path, path}, options);
}

// A full run's report: comment line and header exact, then a whole row.
row report(const program &prog, const std::string &path, const runresult &result)
{
    std::string head = commentline(prog.path, path) + headerline;
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out.substr(0, head.size()), head);
    row parsed = parserow(result.out.size() > head.size() ? result.out.substr(head.size()) : "");
    EXPECT_EQ(parsed.numbers.size(), rowfields) << result.out;
    EXPECT_EQ(parsed.label, prog.label) << result.out;
    EXPECT_EQ(parsed.rest, "") << result.out;
    return parsed;
}

std::string manylines(int count, const char *fmt)
{
    std::string text;
    char line[32];
    for (int i = 0; i < count; ++i) {
        std::snprintf(line, sizeof line, fmt, i);
        text += line;
    }
    return text;
}

// Lines that share one hash chain and their first 64 bytes and more: lines
// told apart only by a comparison of whole lines.
std::string chainlines()
{
    std::string text;
    for (const std::string &word : collidingwords())
        text += word + "\n" + word + "\n";
    return text;
}

struct reportcase {
    const char *name;
    std::string bytes;
    unsigned long lines;
    std::string average; // field 2 as printed
    unsigned long stored;
};

const std::vector<reportcase> &reportcases()
{
    static const std::vector<reportcase> cases = {
        {"six bytes, one duplicate", "b\na\nb\n", 3, "    2.0 byts", 2},
        {"all lines equal", manylines(100, "same\n"), 100, "    5.0 byts", 1},
        {"last line without line feed", "a\nbb\nc", 3, "    2.0 byts", 3},
        {"trailing blank lines", "a\nb\n\n\n\n", 3, "    2.3 byts", 3},
        {"only blank lines", "\n\n\n\n", 1, "    4.0 byts", 1},
        {"blank lines between lines skipped", "x\n\n\ny\n\n", 3, "    2.3 byts", 3},
        {"empty lines ended by NUL", std::string("a\0\0\n", 4), 3, "    1.3 byts", 2},
        {"CRLF text", "to be\r\nor not\r\nto be\r\n", 3, "    7.3 byts", 2},
        {"blanks removed", "to be\r\ntobe\n t o b e \n", 3, "    7.3 byts", 1},
        {"many distinct lines", manylines(5000, "line %05d\n"), 5000, "   11.0 byts", 5000},
        {"many lines twice", manylines(4000, "%04d\n") + manylines(4000, "%04d\n"), 8000, "    5.0 byts",
         4000},
        {"long lines of one chain, twice", chainlines(), 12,
         format(" %6.1f byts", chainlines().size() / 12.0), 6},
    };
    return cases;
}

class e2e : public testing::TestWithParam<program>
{
  protected:
    scratchdir dir;
    const program &prog = GetParam();
};

TEST_P(e2e, reportlayoutisexact)
{
    std::string path = dir.write("six", "b\na\nb\n");
    runresult result = runon(prog, path);
    row parsed = report(prog, path, result);
    ASSERT_EQ(parsed.numbers.size(), rowfields);
    std::string rowtext = result.out.substr(commentline(prog.path, path).size() + headerline.size());
    EXPECT_EQ(rowtext.substr(0, 21), "       3    2.0 byts ");
    EXPECT_TRUE(rowtext.ends_with(std::string(" ") + prog.label + "\n")) << rowtext;
    EXPECT_EQ(parsed.numbers[0], 3);
    EXPECT_EQ(parsed.numbers[3], 2);
}

// With the clock set, each pass's time over all lines, duplicates included.
TEST_P(e2e, reportcountslinesandstoredlines)
{
    runoptions options;
    if (stepclock != nullptr)
        options.environment = {std::string("LD_PRELOAD=") + stepclock, clocksteps};
    for (const reportcase &c : reportcases()) {
        SCOPED_TRACE(c.name);
        std::string path = dir.write("input", c.bytes);
        runresult result = runon(prog, path, options);
        row parsed = report(prog, path, result);
        if (parsed.numbers.size() < rowfields)
            continue;
        EXPECT_EQ(parsed.numbers[0], c.lines);
        EXPECT_EQ(format(" %6.1f byts", parsed.numbers[1]), c.average);
        EXPECT_EQ(parsed.numbers[3], c.stored);
        if (stepclock == nullptr)
            continue;
        const double lines = static_cast<double>(c.lines);
        EXPECT_EQ(format(" %5.3f uS", parsed.numbers[2]), format(" %5.3f uS", countmicros / lines));
        EXPECT_EQ(format(" %6.3f uS", parsed.numbers[5]), format(" %6.3f uS", storemicros / lines));
        EXPECT_EQ(format(" %6.3f uS", parsed.numbers[6]), format(" %6.3f uS", lookupmicros / lines));
    }
}

// A store that fits in the heap that malloc took for stdout's buffer at the
// first printf does not move the program break, so the memory figure is the
// static footprint alone, over the distinct lines: exactly, so that neither
// the buffer (the break read before that printf) nor all lines in place of the
// distinct ones as divisor can pass.  The sanitizers' heap never moves the
// break, so there the figure holds too.
TEST_P(e2e, memoryfigureisthefootprintoverthestoredlines)
{
    const double footprint = std::string(prog.label) == "HASH" ? hashfootprint : 0.0;
    for (const std::string &bytes :
         {std::string("a\n"), std::string("b\na\nb\n"), manylines(40, "%d\n") + manylines(40, "%d\n")}) {
        std::string path = dir.write("duplicates", bytes);
        row parsed = report(prog, path, runon(prog, path));
        ASSERT_EQ(parsed.numbers.size(), rowfields);
        EXPECT_EQ(format(" %7.1f byts", parsed.numbers[4]),
                  format(" %7.1f byts", footprint / parsed.numbers[3]))
            << bytes.size() << "-byte file";
    }
}

// A bus error that the guard did not cause, here in the store pass at an
// address outside the mapping, keeps its default action: the input did not
// shrink.
TEST(e2ebusfault, buserroroutsidethemappingisnotafilethatshrank)
{
    scratchdir dir;
    std::string path = dir.write("input", "first\nbus\nlast\n");
    runresult result = runprogram(LINEBENCH_BUSFAULT, {LINEBENCH_BUSFAULT, path});
    EXPECT_EQ(result.signal, SIGBUS);
    EXPECT_EQ(result.err, "");
    std::string head = commentline(LINEBENCH_BUSFAULT, path) + headerline;
    ASSERT_EQ(result.out.substr(0, head.size()), head) << result.out;
    row parsed = parserow(result.out.substr(head.size()));
    EXPECT_EQ(parsed.numbers.size(), 3u) << result.out;
    EXPECT_EQ(parsed.rest, "") << result.out;
}

// linebench-compare's heap probe takes the driver's readings of the clock and
// of the break for its full-precision figures.  A run reads the clock right
// before and right after each of its three passes and the break right before
// and right after the store pass, no more and no fewer; through the clock that
// the test sets the probe's readings are its steps, and the report's times and
// memory are what the readings give.
TEST_P(e2e, heapprobeseesthedriversclockandbreakreadings)
{
    if (heapprobe == nullptr || stepclock == nullptr)
        GTEST_SKIP()
            << "skipped: the probe and the clock are preloaded only where the build runs them natively";
    std::string path = dir.write("distinct", manylines(20000, "line %05d\n"));
    std::string probefile = dir.path("probe");
    runoptions options;
    options.environment = {std::string("LD_PRELOAD=") + heapprobe + " " + stepclock, clocksteps,
                           "HEAPPROBE_FILE=" + probefile};
    row parsed = report(prog, path, runon(prog, path, options));
    ASSERT_EQ(parsed.numbers.size(), rowfields);

    std::vector<long long> breaks, readings;
    std::string clockcalls;
    std::ifstream probe(probefile);
    for (std::string kind; probe >> kind;) {
        long long seconds, micros;
        if (kind == "clock")
            probe >> clockcalls;
        else if (kind == "t" && probe >> seconds >> micros)
            readings.push_back(seconds * 1000000 + micros);
        else if (probe >> micros) // a break reading: the break, then the bytes in use
            breaks.push_back(std::stoll(kind));
    }
    EXPECT_EQ(clockcalls, "6");
    std::vector<long long> steps = {clockstart};
    for (long long step : clocksteplist)
        steps.push_back(steps.back() + step);
    EXPECT_EQ(readings, steps);
    ASSERT_EQ(breaks.size(), 2u);
    EXPECT_GT(breaks[1], breaks[0]);
    const double footprint = std::string(prog.label) == "HASH" ? hashfootprint : 0.0;
    EXPECT_EQ(format(" %7.1f byts", parsed.numbers[4]),
              format(" %7.1f byts", (footprint + static_cast<double>(breaks[1] - breaks[0])) / 20000));
    EXPECT_EQ(format(" %5.3f uS", parsed.numbers[2]), format(" %5.3f uS", (steps[1] - steps[0]) / 20000.0));
    EXPECT_EQ(format(" %6.3f uS", parsed.numbers[5]), format(" %6.3f uS", (steps[3] - steps[2]) / 20000.0));
    EXPECT_EQ(format(" %6.3f uS", parsed.numbers[6]), format(" %6.3f uS", (steps[5] - steps[4]) / 20000.0));
}

TEST_P(e2e, programnameisprintedunchanged)
{
    std::string path = dir.write("input", "a\n");
    std::string argv0 = "some dir/any name";
    runresult result = runprogram(prog.path, {argv0, path});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out.substr(0, commentline(argv0, path).size()), commentline(argv0, path));

    result = runprogram(prog.path, {argv0});
    EXPECT_EQ(result.out, "Usage: " + argv0 + " <text file>\n");
}

TEST_P(e2e, wrongargumentcountprintsusage)
{
    std::string path = dir.write("input", "a\n");
    std::vector<std::vector<std::string>> commands = {
        {prog.path}, {prog.path, path, path}, {prog.path, path, path, path}, {prog.path, "", ""}};
    for (const auto &command : commands) {
        SCOPED_TRACE(command.size());
        runresult result = runprogram(prog.path, command);
        EXPECT_EQ(result.out, std::string("Usage: ") + prog.path + " <text file>\n");
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.status, 1);
    }
}

TEST_P(e2e, noargumentsatalldoesnotcrash)
{
    if (emulatedbuild)
        GTEST_SKIP() << "skipped: an emulated program always has an argv[0]";
    runoptions options;
    options.emptyargv = true;
    runresult result = runprogram(prog.path, {prog.path}, options);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out.rfind("Usage: ", 0), 0u) << result.out;
    EXPECT_TRUE(result.out.ends_with(" <text file>\n")) << result.out;
}

TEST_P(e2e, reportthatcannotbewrittenisafailure)
{
    std::string path = dir.write("input", "b\na\nb\n");
    runoptions options;
    options.stdoutpath = "/dev/full";
    runresult result = runon(prog, path, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err.rfind(prog.path + std::string(": "), 0), 0u) << result.err;
    EXPECT_TRUE(result.err.ends_with("\n")) << result.err;
}

// The data limit lets the file be mapped and the table exist, but not hold
// every line: the store pass runs out of heap, and the run ends cleanly.
TEST_P(e2e, outofmemoryendstherunwithamessage)
{
    if (sanitizedbuild)
        GTEST_SKIP() << "a sanitizer runtime cannot start under a small data limit";
    if (emulatedbuild)
        GTEST_SKIP() << "skipped: the emulator keeps an emulated program's heap outside the data limit";
    // 393,216 distinct 8-byte lines: the 3 MiB mapping and the 8 MiB table fit
    // under 24 MiB, the 24 to 30 MiB of nodes and line copies do not.
    std::string path = dir.write("distinct", manylines(3 << 17, "%07x\n"));
    runoptions options;
    options.datalimit = 24u << 20;
    runresult result = runon(prog, path, options);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.status, 1);

    std::regex message(R"(: Out of memory: cannot allocate [1-9]\d* bytes\n)");
    std::string head = commentline(prog.path, path) + headerline;
    ASSERT_EQ(result.out.substr(0, head.size()), head) << result.out;
    row parsed = parserow(result.out.substr(head.size()));
    ASSERT_EQ(parsed.numbers.size(), 3u) << result.out; // the count pass's fields
    EXPECT_EQ(parsed.numbers[0], 3 << 17);
    ASSERT_EQ(parsed.rest.substr(0, 1 + std::strlen(prog.path)), "\n" + std::string(prog.path));
    EXPECT_TRUE(std::regex_match(parsed.rest.substr(1 + std::strlen(prog.path)), message)) << result.out;
    EXPECT_EQ(result.err, parsed.rest.substr(1)) << result.err;
}

INSTANTIATE_TEST_SUITE_P(programs, e2e, bothprograms(), programname);

// Whatever the store, each program finds the lines, average and distinct
// lines of any text that the tests' own model of the line rules counts.
TEST(e2eboth, programscountwhatthelinerulesgive)
{
    scratchdir dir;
    std::string mixed;
    for (int i = 0; i < 3000; ++i)
        mixed += static_cast<char>((i * 7919 + i / 13) % 256);
    std::vector<std::string> inputs = {
        "b\na\nb\n",
        mixed,
        std::string(25000, 'x') + "\n" + std::string(MAXLINELEN, 'x') + "\n",
        std::string("a\0b\0\0\n\na\0", 10),
        "\t \r\n z\r\r\n\xff\x80\x7f\n",
    };
    for (size_t i = 0; i < inputs.size(); ++i) {
        SCOPED_TRACE(i);
        std::string path = dir.write("input", inputs[i]);
        for (const program &prog : {redblack, hash}) {
            runresult result = runon(prog, path);
            report(prog, path, result);
            EXPECT_EQ(reportedfigures(result.out), expectedfigures(referencecount(inputs[i]))) << prog.name;
        }
    }
}

// A HASH build whose store loses the line "lost": the lookup pass misses it and
// the driver stops with its message right after the six fields printed so far.
TEST(e2elookupcheck, missedlookupstopstherun)
{
    scratchdir dir;
    std::string path = dir.write("input", "first\nlost\nlast\n");
    runresult result = runprogram(LINEBENCH_LOOKUPCHECK, {LINEBENCH_LOOKUPCHECK, path});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "");
    std::string head = commentline(LINEBENCH_LOOKUPCHECK, path) + headerline;
    ASSERT_EQ(result.out.substr(0, head.size()), head) << result.out;
    row parsed = parserow(result.out.substr(head.size()));
    ASSERT_EQ(parsed.numbers.size(), 6u) << result.out;
    EXPECT_EQ(parsed.numbers[0], 3);
    EXPECT_EQ(parsed.numbers[3], 3);
    EXPECT_EQ(parsed.rest, "GETSTRING(hash) failed -- BUG!\n\n");
}

} // namespace
