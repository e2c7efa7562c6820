// End to end: both programs on hostile texts and on paths that cannot be
// mapped.  Texts must give the figures of an independent model of the line
// rules; every path that fails must end promptly with the file failure.

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "driver/scanner.hpp"
#include "process.hpp"
#include "programs.hpp"
#include "reference.hpp"

namespace
{

std::string repeated(const std::string &unit, std::size_t times)
{
    std::string text;
    text.reserve(unit.size() * times);
    for (std::size_t i = 0; i < times; ++i)
        text += unit;
    return text;
}

class HostileInput : public testing::TestWithParam<program>
{
  protected:
    // Runs the program on text and checks a complete report with the figures
    // want, or by default those that the reference gives for the text.
    void expectfigures(const std::string &text) { expectfigures(text, referencecount(text)); }
    void expectfigures(const std::string &text, const referencefigures &want)
    {
        const program &prog = GetParam();
        std::string path = scratch.write("input", text);
        runresult run = runprogram(prog.path, {prog.path, path});
        ASSERT_FALSE(run.timedout);
        ASSERT_EQ(run.signal, 0) << run.err;
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        std::string comment = commentline(prog.path, path);
        ASSERT_EQ(run.out.compare(0, comment.size(), comment), 0) << run.out;
        EXPECT_EQ(run.out.compare(comment.size(), headerline.size(), headerline), 0) << run.out;
        EXPECT_EQ(reportedfigures(run.out), expectedfigures(want));
        std::string ending = std::string(" ") + prog.label + "\n";
        EXPECT_TRUE(run.out.size() > ending.size() && run.out.ends_with(ending)) << run.out;
    }

    scratchdir scratch;
};

// Texts that pin the line rules down, each with its lines listed by hand.
struct handcounted {
    std::string text;
    std::vector<std::string> lines;
};

const std::vector<handcounted> &handcountedtexts()
{
    static const std::string full(MAXLINELEN, 'a');
    static const std::vector<handcounted> texts = {
        {"a b\tc\r\n", {"abc"}},
        {"x\n\n\ny\n", {"x", "y"}},
        {" \t\nmore\n", {"more"}},
        {" \t", {""}},
        {"x\n  \n", {"x", ""}},
        {"x\n", {"x"}},
        {"x", {"x"}},
        {"\n", {""}},
        {"x\n\n", {"x", ""}},
        {std::string("a\0\0b\n", 5), {"a", "", "b"}},
        {std::string("x\n\n\0", 4), {"x", ""}},
        {"\f\v\x80\xff\n", {"\f\v\x80\xff"}},
        {std::string(2 * MAXLINELEN + 2, 'a') + "\n", {full, full, "aa"}},
        {full + "\n", {full}},
        {full + "  \n", {full}},
        {full + " b", {full, "b"}},
        {full + "a", {full, "a"}},
        {full + full, {full, full}},
    };
    return texts;
}

// The programs count those lines, and their distinct lines, as listed.
TEST_P(HostileInput, LineRulesCountedByHand)
{
    for (std::size_t i = 0; i < handcountedtexts().size(); ++i) {
        const handcounted &c = handcountedtexts()[i];
        SCOPED_TRACE("text " + std::to_string(i));
        std::set<std::string> distinct(c.lines.begin(), c.lines.end());
        expectfigures(c.text, {c.lines.size(), distinct.size(), c.text.size()});
    }
}

TEST_P(HostileInput, EveryByteValue)
{
    std::string ascending, descending, oneperline;
    for (int value = 0; value < 256; ++value) {
        ascending += static_cast<char>(value);
        descending += static_cast<char>(255 - value);
        oneperline += std::string(1, static_cast<char>(value)) + "\n";
    }
    expectfigures(ascending);
    expectfigures(ascending + descending + oneperline + oneperline + ascending);
}

// 50 MB without a line feed: cut into lines of 9,999 kept bytes, with blanks
// inside so that some cuts fall just after blanks.
TEST_P(HostileInput, SingleFiftyMegabyteLine)
{
    std::string line = repeated("abcdefghijklmnopqrstuvwxy \t\r", 50'000'000 / 28);
    expectfigures(line);
    expectfigures(line + "\n");
}

TEST_P(HostileInput, OnlyNulBytes)
{
    expectfigures(std::string(1, '\0'));
    expectfigures(std::string(100'000, '\0'));
}

TEST_P(HostileInput, OnlyLineFeeds)
{
    expectfigures("\n");
    expectfigures(std::string(100'000, '\n'));
}

TEST_P(HostileInput, OnlyBlanks)
{
    expectfigures(" ");
    expectfigures(repeated(" \t\r", 30'000));
}

// The text fills its last page to the end, so the byte after it lies beyond
// the mapping: reading it faults, or, where another mapping follows, lengthens
// the last line, which repeats an earlier one, so that stored changes.
TEST_P(HostileInput, SizeIsAMultipleOfThePageSize)
{
    auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    for (std::size_t size : {page, 3 * page}) {
        std::string lines = repeated("two\r\n", size / 5 - 1);
        std::string blanks(size - lines.size() - 3, ' ');
        expectfigures(lines + blanks + "two");
        expectfigures(lines + "two" + blanks);
    }
    std::string full(MAXLINELEN, 'q');
    std::size_t size = (2 * full.size() + 1 + page - 1) / page * page;
    expectfigures(full + "\n" + std::string(size - 2 * full.size() - 1, ' ') + full);
}

TEST_P(HostileInput, CrlfText)
{
    expectfigures(repeated("alpha\r\nbeta gamma\r\n\r\n  \r\ndelta\r\nalpha\r\n", 1000));
    expectfigures("only\r\n\r\n\r\n");
}

// Random texts rich in the bytes that steer the scanner, with long runs that
// must be cut, from a few fixed seeds.
TEST_P(HostileInput, RandomMixes)
{
    const char alphabet[] = {'a', 'b', '\x0b', '\x0c', '\x7f', '\xc3', '\xff', '\x01'};
    for (unsigned seed : {1u, 2u, 3u, 4u}) {
        std::mt19937 draw(seed);
        std::string text;
        while (text.size() < 200'000) {
            unsigned roll = draw() % 1000;
            if (roll < 250)
                text += " \t\r"[draw() % 3];
            else if (roll < 330)
                text += '\n';
            else if (roll < 350)
                text += '\0';
            else if (roll < 351)
                text += std::string(9990 + draw() % 20'050, alphabet[draw() % sizeof alphabet]);
            else
                text += alphabet[draw() % sizeof alphabet];
        }
        SCOPED_TRACE("seed " + std::to_string(seed));
        expectfigures(text);
    }
}

INSTANTIATE_TEST_SUITE_P(Programs, HostileInput, bothprograms(), programname);

// The file failure: the run ends promptly with the message, on standard
// output and on standard error, and status 1.
class FileFailure : public testing::TestWithParam<program>
{
  protected:
    // Checks that the run ended promptly with the file failure for error.
    void expectfilefailure(const std::string &path, int error, runoptions options = {})
    {
        const program &prog = GetParam();
        options.timeoutseconds = 10;
        runresult run = runprogram(prog.path, {prog.path, path}, options);
        ASSERT_FALSE(run.timedout) << path << " kept the program running";
        ASSERT_EQ(run.signal, 0) << run.err;
        std::string message = filefailure(prog.path, path, error);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, message);
        EXPECT_EQ(run.err, message);
    }

    scratchdir scratch;
};

// Paths that cannot be examined, opened or mapped, each with the error that
// fails it: none there; an empty file, a character device (of size 0) and a
// FIFO, which nothing of size 0 maps; a directory, which opens but does not
// map.  Opening a FIFO must not wait for a writer.
TEST_P(FileFailure, PathsThatCannotBeMapped)
{
    std::string directory = scratch.path("directory");
    ASSERT_EQ(mkdir(directory.c_str(), 0755), 0);
    std::string fifo = scratch.path("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::string path;
        int error;
    } cases[] = {
        {scratch.path("missing"), ENOENT},
        {scratch.write("empty", ""), EINVAL},
        {directory, ENODEV},
        {"/dev/null", EINVAL},
        {"/dev/zero", EINVAL},
        {fifo, EINVAL},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        expectfilefailure(c.path, c.error);
    }
}

// Nor may it read from a FIFO whose writer has written.
TEST_P(FileFailure, FifoWithAWriter)
{
    std::string path = scratch.path("fifo");
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    int writer = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(write(writer, "a line\n", 7), 7);
    expectfilefailure(path, EINVAL);
    close(writer);
    close(reader);
}

TEST_P(FileFailure, UnixSocket)
{
    std::string path = scratch.path("socket");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    expectfilefailure(path, ENXIO);
    close(listener);
}

// Root reads any file, so as root the program runs as nobody; that user must
// be able to reach the program and the directory, which a readable file shows.
TEST_P(FileFailure, NoReadPermission)
{
    runoptions options;
    if (geteuid() == 0)
        options.runasuser = "nobody";
    ASSERT_EQ(chmod(scratch.path(".").c_str(), 0755), 0);
    std::string readable = scratch.write("readable", "a line\n");
    std::string unreadable = scratch.write("unreadable", "a line\n");
    ASSERT_EQ(chmod(unreadable.c_str(), 0), 0);

    runresult probe = runprogram(GetParam().path, {GetParam().path, readable}, options);
    if (probe.status != 0)
        GTEST_SKIP() << "cannot run the program as an unprivileged user on a file in " << scratch.path("")
                     << " (status " << probe.status << "): " << probe.err;
    expectfilefailure(unreadable, EACCES, options);
}

// Writing the message to a full device must not change the error number that
// standard error reports.
TEST_P(FileFailure, KeepsItsErrorWhenStandardOutputFails)
{
    std::string path = scratch.path("missing");
    runoptions options;
    options.stdoutpath = "/dev/full";
    runresult run = runprogram(GetParam().path, {GetParam().path, path}, options);
    EXPECT_EQ(run.err, filefailure(GetParam().path, path, ENOENT));
    EXPECT_EQ(run.status, 1);
}

INSTANTIATE_TEST_SUITE_P(Programs, FileFailure, bothprograms(), programname);

// Not the programs: the tests' own model of the line rules and their parser
// of the row, from which the other tests here take the figures a run must
// report and the figures it did.  The model lists the lines counted by hand.
TEST(TestModel, ReferenceListsTheLinesCountedByHand)
{
    for (std::size_t i = 0; i < handcountedtexts().size(); ++i)
        EXPECT_EQ(referencelines(handcountedtexts()[i].text), handcountedtexts()[i].lines) << "text " << i;
    EXPECT_EQ(referencelines(""), std::vector<std::string>{});
    EXPECT_EQ(expectedfigures(referencecount("b\na\nb\n")), "lines=3 avg_linelen=2.0 stored=2");
}

TEST(TestModel, ParserReadsTheRowsFigures)
{
    EXPECT_EQ(
        reportedfigures("# p f \n# header\n       3    2.0 byts 0.100 uS        2     1.0 byts  1.000 uS  "
                        "1.000 uS X\n"),
        "lines=3 avg_linelen=2.0 stored=2");
    EXPECT_EQ(reportedfigures("Usage: p <text file>\n"), "");
}

} // namespace
