// Both programs on a file of more than 4 GiB, whose figures are known by
// construction: a size or count kept in 32 bits would wrap and show here.
//
// Needs about 5 GB free where TMPDIR (or /tmp) points and skips with a note
// when there is less.  Not in the usual test runs; run it alone with
//   cmake --workflow --preset huge

#include <sys/statvfs.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "process.hpp"
#include "reference.hpp"
#include "report.hpp"

namespace
{

// Line k holds its key, k modulo distinctkeys in eight digits, then the same
// filler with blanks in it; a last line "end" without a line feed follows.
constexpr std::uint64_t linebytes = 1000; // line feed included
constexpr std::uint64_t fulllines = 4'300'000;
constexpr std::uint64_t distinctkeys = 100'003;
constexpr char lastline[] = "end";
constexpr std::uint64_t filebytes = fulllines * linebytes + sizeof lastline - 1;
static_assert(filebytes > (std::uint64_t{1} << 32));

constexpr std::uint64_t linesperchunk = 1024;

double secondssince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Writes the file; false on any write error.
bool writehuge(const std::string &path)
{
    std::string line;
    const std::string filler = "the quick\tbrown fox jumps over the lazy dog \r";
    while (line.size() < linebytes - 8 - 1)
        line += filler;
    line = "00000000" + line.substr(0, linebytes - 8 - 1) + "\n";
    std::string chunk;
    for (std::uint64_t i = 0; i < linesperchunk; ++i)
        chunk += line;

    FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    bool ok = true;
    for (std::uint64_t first = 0; ok && first < fulllines; first += linesperchunk) {
        std::uint64_t count = std::min(linesperchunk, fulllines - first);
        for (std::uint64_t i = 0; i < count; ++i) {
            char key[9];
            std::snprintf(key, sizeof key, "%08llu",
                          static_cast<unsigned long long>((first + i) % distinctkeys));
            chunk.replace(i * linebytes, 8, key, 8);
        }
        ok = std::fwrite(chunk.data(), 1, count * linebytes, file) == count * linebytes;
    }
    ok = ok && std::fputs(lastline, file) >= 0;
    return std::fclose(file) == 0 && ok;
}

TEST(HugeFile, FiguresPastFourGiB)
{
    scratchdir scratch;
    std::string path = scratch.path("huge.txt");
    struct statvfs disk;
    ASSERT_EQ(statvfs(scratch.path(".").c_str(), &disk), 0);
    std::uint64_t available = static_cast<std::uint64_t>(disk.f_bavail) * disk.f_frsize;
    std::uint64_t needed = filebytes + (std::uint64_t{512} << 20);
    if (available < needed)
        GTEST_SKIP() << "needs " << needed << " bytes free in " << scratch.path("") << " but " << available
                     << " are; point TMPDIR at a roomier directory";

    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(writehuge(path)) << "could not write " << path;
    std::printf("wrote %llu bytes in %.1f s\n", static_cast<unsigned long long>(filebytes),
                secondssince(start));

    referencefigures want{fulllines + 1, distinctkeys + 1, filebytes};
    for (const char *program : {LINEBENCH_REDBLACK, LINEBENCH_HASH}) {
        SCOPED_TRACE(program);
        start = std::chrono::steady_clock::now();
        runoptions options;
        options.timeoutseconds = 1800;
        runresult run = runprogram(program, {program, path}, options);
        std::printf("%s: %.1f s\n%s", program, secondssince(start), run.out.c_str());
        ASSERT_FALSE(run.timedout);
        EXPECT_EQ(run.signal, 0);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(reportedfigures(run.out), expectedfigures(want));
    }
}

} // namespace
