// End to end: both programs on a text past 4 GiB, where a file size or a
// count kept in 32 bits would wrap.  The file is sparse, with lines in its
// first 2 MiB only; repeatmap.so, preloaded, maps it as those 2 MiB over and
// over (see tests/support/repeatmap.cpp), so each run scans 4 GiB from the
// cache in seconds.  The huge preset runs them on a real file of 4.3 GB.

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "process.hpp"
#include "programs.hpp"

namespace
{

constexpr std::uint64_t copybytes = std::uint64_t{2} << 20; // as repeatmap.so repeats
// 2048 copies and half of one more, past 2^32 by a count that tells where a
// size cut to 32 bits would end.
constexpr std::uint64_t filebytes = 2048 * copybytes + copybytes / 2 + 1;
static_assert(filebytes > (std::uint64_t{1} << 32));

class past4gib : public testing::TestWithParam<program>
{
};

// A copy is blanks and then the line "x": 2048 lines "x"; the half copy at
// the end, blanks alone, gives one empty line.  So 2049 lines, 2 stored, and
// an average of 4296015873 bytes over 2049 lines, 2096640.25.  A size cut to
// 32 bits leaves 1048577 bytes: 511.8 bytes a line, or, where the mapping is
// cut, one empty line of 1048577.0.
TEST_P(past4gib, figuresofatextpastfourgib)
{
    scratchdir dir;
    std::string path = dir.write("past4gib.txt", std::string(copybytes - 2, ' ') + "x\n");
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(filebytes)), 0);

    const program &prog = GetParam();
    runoptions options;
    options.environment = {std::string("LD_PRELOAD=") + LINEBENCH_REPEATMAP};
    options.timeoutseconds = 300;
    runresult run = runprogram(prog.path, {prog.path, path}, options);
    ASSERT_FALSE(run.timedout);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(reportedfigures(run.out), "lines=2049 avg_linelen=2096640.3 stored=2");
}

INSTANTIATE_TEST_SUITE_P(programs, past4gib, bothprograms(), programname);

} // namespace
