// The line scanner's rules case by case, each text's lines counted by hand,
// through each kernel's pass, the one that the driver runs, and its steps;
// on the way every kernel is also held to the byte-at-a-time model
// (scanlineplain).  The kernels against the model on texts made to put the
// hand-overs everywhere are in kernels_test.cpp.  A kernel that this CPU
// cannot run is skipped, and the test output says so.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "cpuflags.hpp"
#include "driver/scanner.hpp"
#include "guardedtext.hpp"
#include "kernels.hpp"
#include "kerneltest.hpp"
#include "process.hpp"

using namespace std::string_literals;

namespace
{

struct pass {
    std::vector<std::string> lines;    // the lines that the kernel's pass hands over
    std::vector<std::ptrdiff_t> stops; // each step's returned position, as an offset into the text
};

// n text bytes of a repeating letter pattern, from position from onwards, so
// that a cut in the wrong place shows in the pieces.
std::string letters(std::size_t n, std::size_t from = 0)
{
    std::string run;
    for (std::size_t i = from; i < from + n; ++i)
        run += static_cast<char>('a' + i % 26);
    return run;
}

class scannertest : public kerneltest
{
  protected:
    // The kernel's lines of the text and where its steps end, once the
    // kernel has been held to the model on it.
    static pass run(const char *begin, const char *end)
    {
        EXPECT_TRUE(samelines(begin, end));
        pass result;
        std::vector<char> linebuf = guardedlinebuf();
        std::vector<steprecord> steps;
        GetParam().steps(begin, end, linebuf.data(), steps);
        for (const steprecord &step : steps)
            result.stops.push_back(step.to);
        GetParam().pass(begin, end, linebuf.data(), result.lines);
        return result;
    }
    static pass run(const std::string &text) { return run(text.data(), text.data() + text.size()); }
    // The kernel's lines of the text.  The last bytes of a text are scanned
    // as the model scans them, so a block kernel is also held to the model
    // on the text after a first line of each length up to a block's and
    // before more lines, which puts its bytes into the blocks at every offset.
    static std::vector<std::string> lines(const std::string &text)
    {
        if (GetParam().kernel != scannerkernel::plain) {
            for (std::size_t lead = 0; lead < 64; ++lead)
                EXPECT_TRUE(samelines(std::string(lead, 'p') + "\n" + text + followinglines))
                    << "after a line of " << lead << " bytes";
        }
        return run(text).lines;
    }
    static inline const std::string followinglines = "\n" + std::string(130, 'f') + "\n\t \ng h\r\n\n";
};

INSTANTIATE_TEST_SUITE_P(kernels, scannertest, testing::ValuesIn(testkernels), kernelparamname);

using linelist = std::vector<std::string>;

TEST_P(scannertest, blanksareremovedwherevertheystand)
{
    EXPECT_EQ(this->lines("a b\tc\r\n"), linelist{"abc"});
    EXPECT_EQ(this->lines(" \t\rx y\r \t\n"), linelist{"xy"});
    EXPECT_EQ(this->lines("t o\tb\re\n"), linelist{"tobe"});
    EXPECT_EQ(this->lines("one\r\ntwo\r\n"), (linelist{"one", "two"}));
}

TEST_P(scannertest, linefeedsthatwouldendanemptylineareskipped)
{
    EXPECT_EQ(this->lines("x\n\n\ny\n"), (linelist{"x", "y"}));
    EXPECT_EQ(this->lines("\n\n\nx\n"), linelist{"x"});
    // A line of blanks only gives no line when text follows.
    EXPECT_EQ(this->lines("x\n \t \r\ny\n"), (linelist{"x", "y"}));
    EXPECT_EQ(this->lines("\r\n\r\n\t\nx"), linelist{"x"});
}

TEST_P(scannertest, nulalwaysendsaline)
{
    EXPECT_EQ(this->lines("a\0\0b\n"s), (linelist{"a", "", "b"}));
    EXPECT_EQ(this->lines("\0"s), linelist{""});
    EXPECT_EQ(this->lines("\0\0"s), (linelist{"", ""}));
    EXPECT_EQ(this->lines("a\0"s), linelist{"a"});
    EXPECT_EQ(this->lines("a\0\n"s), (linelist{"a", ""}));
    // Skipped line feeds and blanks before a NUL still leave the empty line.
    EXPECT_EQ(this->lines("x\n\n \t\0y"s), (linelist{"x", "", "y"}));
    EXPECT_EQ(this->lines("a\n\0"s), (linelist{"a", ""}));
}

TEST_P(scannertest, endofthetextactsasanul)
{
    EXPECT_EQ(this->lines("x"), linelist{"x"});
    EXPECT_EQ(this->lines("x\n"), linelist{"x"});
    EXPECT_EQ(this->lines("x  \t"), linelist{"x"});
    EXPECT_EQ(this->lines("x\ny"), (linelist{"x", "y"}));
    EXPECT_EQ(this->lines("\n"), linelist{""});
    EXPECT_EQ(this->lines(" "), linelist{""});
    EXPECT_EQ(this->lines("\r\n\n"), linelist{""});
    // Blanks or surplus line feeds after the last line give one empty line.
    EXPECT_EQ(this->lines("x\n  \n"), (linelist{"x", ""}));
    EXPECT_EQ(this->lines("x\n\n"), (linelist{"x", ""}));
    EXPECT_EQ(this->lines("x\n\n\n\n"), (linelist{"x", ""}));
    EXPECT_EQ(this->lines("x\n \t"), (linelist{"x", ""}));
    EXPECT_EQ(this->lines(""), linelist{});
}

TEST_P(scannertest, controlbytesandhighbytesaretext)
{
    std::string text;
    for (int b = 1; b < 256; ++b)
        if (b != '\t' && b != '\n' && b != '\r' && b != ' ')
            text += static_cast<char>(b);
    EXPECT_EQ(this->lines(text + "\n"), linelist{text});
    EXPECT_EQ(this->lines(text), linelist{text});
    // Each one also starts and ends a line as text does.
    EXPECT_EQ(this->lines("\x0b\n\x0c\n\x7f\n\x80\n\xff\n\x01"),
              (linelist{"\x0b", "\x0c", "\x7f", "\x80", "\xff", "\x01"}));
    EXPECT_EQ(this->lines("a\x0b b\x0c\tc\x1f\r\n"), linelist{"a\x0b"
                                                              "b\x0c"
                                                              "c\x1f"});
}

TEST_P(scannertest, alinekeepsatmost9999bytes)
{
    EXPECT_EQ(this->lines(letters(9999) + "\n"), linelist{letters(9999)});
    EXPECT_EQ(this->lines(letters(9999)), linelist{letters(9999)});
    EXPECT_EQ(this->lines(letters(10000)), (linelist{letters(9999), letters(1, 9999)}));
    EXPECT_EQ(this->lines(letters(10000) + "\n"), (linelist{letters(9999), letters(1, 9999)}));
    EXPECT_EQ(this->lines(letters(20000) + "\n"),
              (linelist{letters(9999), letters(9999, 9999), letters(2, 19998)}));
    // Two full lines and nothing after: no empty third line.
    EXPECT_EQ(this->lines(letters(19998) + "\n"), (linelist{letters(9999), letters(9999, 9999)}));
    EXPECT_EQ(this->lines(letters(19998)), (linelist{letters(9999), letters(9999, 9999)}));
    // Blanks do not count towards the length.
    EXPECT_EQ(this->lines(letters(5000) + " \t\r" + letters(4999, 5000) + "\n"), linelist{letters(9999)});
    EXPECT_EQ(this->lines(letters(5000) + " " + letters(5000, 5000) + "\n"),
              (linelist{letters(9999), letters(1, 9999)}));
}

TEST_P(scannertest, bytesafterexactly9999textbytes)
{
    const std::string full = letters(9999);
    // Blanks before the cutting byte belong to the first line.
    EXPECT_EQ(this->lines(full + " \t\rz\n"), (linelist{full, "z"}));
    // A line feed, a NUL or the end ends the line in the ordinary way.
    EXPECT_EQ(this->lines(full + "\nz\n"), (linelist{full, "z"}));
    EXPECT_EQ(this->lines(full + "\n\n\nz\n"), (linelist{full, "z"}));
    EXPECT_EQ(this->lines(full + "\0z\n"s), (linelist{full, "z"}));
    EXPECT_EQ(this->lines(full + "\0\0z"s), (linelist{full, "", "z"}));
    EXPECT_EQ(this->lines(full + "\0"s), linelist{full});
    EXPECT_EQ(this->lines(full + " \t\r"), linelist{full});
    EXPECT_EQ(this->lines(full + "  \nz"), (linelist{full, "z"}));
    EXPECT_EQ(this->lines(full + "\n\n"), (linelist{full, ""}));
}

TEST_P(scannertest, returnedpositions)
{
    pass p = this->run("ab\ncd\0ef"s);
    EXPECT_EQ(p.lines, (linelist{"ab", "cd", "ef"}));
    ASSERT_EQ(p.stops.size(), 3u);
    EXPECT_EQ(p.stops[0], 3); // past the line feed
    EXPECT_EQ(p.stops[1], 6); // past the NUL
    EXPECT_GE(p.stops[2], 8);

    // A step ends at its own line feed; the surplus ones are left to the next.
    p = this->run("x\n\n\ny");
    ASSERT_EQ(p.stops.size(), 2u);
    EXPECT_EQ(p.stops[0], 2);
    EXPECT_GE(p.stops[1], 5);

    // A cut leaves the position on the byte that begins the next line, past
    // any blanks before it.
    p = this->run(letters(9999) + " \t" + "zz\n");
    ASSERT_EQ(p.stops.size(), 2u);
    EXPECT_EQ(p.stops[0], 10001);
    EXPECT_GE(p.stops[1], 10004);

    p = this->run(letters(9999) + "\0"s);
    ASSERT_EQ(p.stops.size(), 1u);
    EXPECT_GE(p.stops[0], 10000);

    // A pass may begin anywhere before the end, also inside a line.
    const std::string text = "abc def\nx";
    p = this->run(text.data() + 2, text.data() + text.size());
    EXPECT_EQ(p.lines, (linelist{"cdef", "x"}));
    ASSERT_EQ(p.stops.size(), 2u);
    EXPECT_EQ(p.stops[0], 6);
}

// Texts that end right before an inaccessible page: a step that reads even one
// byte beyond the text faults.
TEST_P(scannertest, readsnothingbeyondtheend)
{
    const std::string full = letters(9999);
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    struct textcase {
        std::string text;
        linelist expected;
    };
    const std::vector<textcase> cases = {
        {"abc", {"abc"}},
        {"a", {"a"}},
        {"abc \t\r", {"abc"}},
        {"abc\n", {"abc"}},
        {"abc\n\n\n", {"abc", ""}},
        {"abc\0"s, {"abc"}},
        {"abc\n\0"s, {"abc", ""}},
        {"\0"s, {""}},
        {"\n", {""}},
        {" ", {""}},
        {full, {full}},
        {full + "  \t", {full}},
        {full + "\n", {full}},
        {letters(10000), {full, letters(1, 9999)}},
        {letters(page - 1) + "\n", {letters(page - 1)}},
        {letters(page), {letters(page)}},
        {letters(2 * page - 3) + "\n \t", {letters(2 * page - 3), ""}},
    };
    for (const textcase &c : cases) {
        SCOPED_TRACE("text of " + std::to_string(c.text.size()) + " bytes ending in byte " +
                     std::to_string(static_cast<unsigned char>(c.text.back())));
        guardedtext g(c.text);
        ASSERT_TRUE(g.ok());
        EXPECT_EQ(this->run(g.begin(), g.end()).lines, c.expected);
    }
}

// The start-up choice against the CPU's own flags, as Linux lists them.  An
// emulator shows the host's /proc/cpuinfo, with no flags of this CPU's kind.
TEST(scannerchoice, thewidestkernelthattheflagsallow)
{
    const std::set<std::string> flags = cpuinfoflags();
    if (flags.empty() && emulatedbuild)
        GTEST_SKIP() << "skipped: under an emulator /proc/cpuinfo shows the host's CPU";
    ASSERT_FALSE(flags.empty()) << "/proc/cpuinfo lists no flags";
#if defined(__x86_64__)
    EXPECT_EQ(kernelsupported(scannerkernel::avx512),
              cpuinfohas(flags, "avx512bw") && cpuinfohas(flags, "avx512_vbmi2"));
    EXPECT_EQ(kernelsupported(scannerkernel::avx2),
              cpuinfohas(flags, "avx2") && cpuinfohas(flags, "bmi1") && cpuinfohas(flags, "popcnt"));
    EXPECT_TRUE(kernelsupported(scannerkernel::sse2));
    EXPECT_FALSE(kernelsupported(scannerkernel::neon));
#elif defined(__aarch64__)
    EXPECT_EQ(kernelsupported(scannerkernel::neon), cpuinfohas(flags, "asimd"));
    EXPECT_FALSE(kernelsupported(scannerkernel::sse2));
#endif
    EXPECT_TRUE(kernelsupported(scannerkernel::plain));
    EXPECT_EQ(kernelname(passkernel()), expectedpasskernel());
}

} // namespace
