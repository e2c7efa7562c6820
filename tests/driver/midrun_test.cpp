// End to end: both programs, acted on while they run.  The input is a sparse
// file of 1 GiB of NUL bytes, a billion empty lines that need no disk, so each
// pass takes a second or more: time enough to act between two pieces of the
// report.  The unoptimised sanitizer build scans a hundred times slower, so
// there 64 MiB give passes as long.  No test here measures time; the timeouts
// only end a run that hangs.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "process.hpp"
#include "programs.hpp"

namespace
{

constexpr off_t sparsesize = sanitizedbuild ? off_t{64} << 20 : off_t{1} << 30;

class midrun : public testing::TestWithParam<program>
{
  protected:
    // Runs the program on the sparse file; once its standard output holds
    // whenout, act is called with the child's pid.
    runresult runacting(const std::string &whenout, const std::function<void(pid_t)> &act)
    {
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(ftruncate(fd, sparsesize), 0);
        close(fd);
        runoptions options;
        options.timeoutseconds = 600;
        options.whenout = whenout;
        options.then = [&](pid_t pid) {
            acted = true;
            act(pid);
        };
        return runprogram(prog.path, {prog.path, path}, options);
    }

    scratchdir dir;
    const program &prog = GetParam();
    const std::string path = dir.path("sparse");
    const std::string comment = commentline(prog.path, path);
    bool acted = false;
};

// The comment line says what a long run is doing: it must be out, flushed,
// before the count pass, so a run killed there still leaves it behind.
TEST_P(midrun, commentlineisoutbeforethecountpass)
{
    runresult result = runacting(comment, [](pid_t pid) { kill(pid, SIGKILL); });
    EXPECT_TRUE(acted) << "no comment line during the count pass";
    EXPECT_EQ(result.signal, SIGKILL);
    EXPECT_EQ(result.out, comment);
    EXPECT_EQ(result.err, "");
}

// A file cut short under the run, as a rotated log is, to nothing or to half
// its size: the count pass meets a page that is gone.
TEST_P(midrun, fileshrinkingduringthecountpassendstherun)
{
    for (off_t size : {off_t{0}, sparsesize / 2}) {
        SCOPED_TRACE(size);
        runresult result = runacting(comment, [&](pid_t) { ASSERT_EQ(truncate(path.c_str(), size), 0); });
        ASSERT_TRUE(acted);
        ASSERT_FALSE(result.timedout);
        EXPECT_EQ(result.signal, 0);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, comment + readfailure(prog.path, path));
        EXPECT_EQ(result.err, readfailure(prog.path, path));
    }
}

// Cut short once the count pass's fields are out: the store pass meets the
// missing page, and the message first ends the half-printed row.
TEST_P(midrun, fileshrinkingduringthestorepassendstherow)
{
    runresult result = runacting(" uS", [&](pid_t) { ASSERT_EQ(truncate(path.c_str(), 0), 0); });
    ASSERT_TRUE(acted);
    ASSERT_FALSE(result.timedout);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.status, 1);
    ASSERT_EQ(result.out.substr(0, comment.size() + headerline.size()), comment + headerline);
    row parsed = reportrow(result.out);
    ASSERT_EQ(parsed.numbers.size(), 3u) << result.out;
    EXPECT_EQ(parsed.numbers[0], sparsesize);
    std::string message = readfailure(prog.path, path);
    EXPECT_EQ(parsed.rest, "\n" + message);
    EXPECT_EQ(result.err, message);
}

// The guard takes only faults inside the mapping: a SIGBUS sent from outside
// keeps its default action.
TEST_P(midrun, othersigbuskeepsitsdefaultaction)
{
    runresult result = runacting(comment, [](pid_t pid) { kill(pid, SIGBUS); });
    ASSERT_TRUE(acted);
    EXPECT_EQ(result.signal, SIGBUS);
    EXPECT_EQ(result.out, comment);
    EXPECT_EQ(result.err, "");
}

INSTANTIATE_TEST_SUITE_P(programs, midrun, bothprograms(), programname);

} // namespace
