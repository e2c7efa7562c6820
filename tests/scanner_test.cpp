// The line scanner's rules, run against the byte-at-a-time model
// (scanlineplain) and each kernel's step that the passes run.  A kernel that
// this CPU cannot run is skipped, and the test output says so.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "driver/scanner.hpp"
#include "guardedtext.hpp"
#include "kernels.hpp"

using namespace std::string_literals;

namespace {

struct plainstep {
    static constexpr scannerkernel kernel = scannerkernel::plain;
    static const char *step(const char *pos, const char *end, char *linebuf) { return scanlineplain(pos, end, linebuf); }
};
template <scannerkernel Kernel> struct blockstep {
    static constexpr scannerkernel kernel = Kernel;
    static const char *step(const char *pos, const char *end, char *linebuf)
    {
        return stepof(Kernel)(pos, end, linebuf);
    }
};
using sse2pass = blockstep<scannerkernel::sse2>;
using avx2pass = blockstep<scannerkernel::avx2>;

struct pass {
    std::vector<std::string> lines;
    std::vector<std::ptrdiff_t> stops; // each step's returned position, as an offset into the text
};

// One whole pass as the driver makes it: steps while the position lies before
// the end.  Each step must consume at least one byte, terminate the line inside
// linebuf and leave the bytes after linebuf alone.
template <class Step> pass scanpass(const char *begin, const char *end)
{
    pass result;
    std::vector<char> linebuf = guardedlinebuf();
    for (const char *pos = begin; pos < end;) {
        const char *next = Step::step(pos, end, linebuf.data());
        std::size_t len = strnlen(linebuf.data(), MAXLINE);
        if (len == MAXLINE) {
            ADD_FAILURE() << "line not terminated inside the buffer, step at offset " << pos - begin;
            break;
        }
        if (std::size_t i = canarywritten(linebuf)) {
            ADD_FAILURE() << "byte " << i << " beyond the line buffer written";
            return result;
        }
        result.lines.emplace_back(linebuf.data(), len);
        result.stops.push_back(next - begin);
        if (next <= pos) {
            ADD_FAILURE() << "step at offset " << pos - begin << " did not advance";
            break;
        }
        pos = next;
    }
    return result;
}

// n text bytes of a repeating letter pattern, from position from onwards, so
// that a cut in the wrong place shows in the pieces.
std::string letters(std::size_t n, std::size_t from = 0)
{
    std::string run;
    for (std::size_t i = from; i < from + n; ++i)
        run += static_cast<char>('a' + i % 26);
    return run;
}

template <class Step> class scannertest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        if (!kernelsupported(Step::kernel))
            GTEST_SKIP() << kernelskipped;
    }
    static pass run(const std::string &text) { return scanpass<Step>(text.data(), text.data() + text.size()); }
    static std::vector<std::string> lines(const std::string &text) { return run(text).lines; }
};

class stepnames {
  public:
    template <class Step> static std::string GetName(int) { return kernelname(Step::kernel); }
};

using steps = ::testing::Types<plainstep, sse2pass, avx2pass>;
TYPED_TEST_SUITE(scannertest, steps, stepnames);

using linelist = std::vector<std::string>;

TYPED_TEST(scannertest, blanksareremovedwherevertheystand)
{
    EXPECT_EQ(this->lines("a b\tc\r\n"), linelist{"abc"});
    EXPECT_EQ(this->lines(" \t\rx y\r \t\n"), linelist{"xy"});
    EXPECT_EQ(this->lines("t o\tb\re\n"), linelist{"tobe"});
    EXPECT_EQ(this->lines("one\r\ntwo\r\n"), (linelist{"one", "two"}));
}

TYPED_TEST(scannertest, linefeedsthatwouldendanemptylineareskipped)
{
    EXPECT_EQ(this->lines("x\n\n\ny\n"), (linelist{"x", "y"}));
    EXPECT_EQ(this->lines("\n\n\nx\n"), linelist{"x"});
    // A line of blanks only gives no line when text follows.
    EXPECT_EQ(this->lines("x\n \t \r\ny\n"), (linelist{"x", "y"}));
    EXPECT_EQ(this->lines("\r\n\r\n\t\nx"), linelist{"x"});
}

TYPED_TEST(scannertest, nulalwaysendsaline)
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

TYPED_TEST(scannertest, endofthetextactsasanul)
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

TYPED_TEST(scannertest, controlbytesandhighbytesaretext)
{
    std::string text;
    for (int b = 1; b < 256; ++b)
        if (b != '\t' && b != '\n' && b != '\r' && b != ' ')
            text += static_cast<char>(b);
    EXPECT_EQ(this->lines(text + "\n"), linelist{text});
    EXPECT_EQ(this->lines(text), linelist{text});
    // Each one also starts and ends a line as text does.
    EXPECT_EQ(this->lines("\x0b\n\x0c\n\x7f\n\x80\n\xff\n\x01"), (linelist{"\x0b", "\x0c", "\x7f", "\x80", "\xff", "\x01"}));
    EXPECT_EQ(this->lines("a\x0b b\x0c\tc\x1f\r\n"), linelist{"a\x0b" "b\x0c" "c\x1f"});
}

TYPED_TEST(scannertest, alinekeepsatmost9999bytes)
{
    EXPECT_EQ(this->lines(letters(9999) + "\n"), linelist{letters(9999)});
    EXPECT_EQ(this->lines(letters(9999)), linelist{letters(9999)});
    EXPECT_EQ(this->lines(letters(10000)), (linelist{letters(9999), letters(1, 9999)}));
    EXPECT_EQ(this->lines(letters(10000) + "\n"), (linelist{letters(9999), letters(1, 9999)}));
    EXPECT_EQ(this->lines(letters(20000) + "\n"), (linelist{letters(9999), letters(9999, 9999), letters(2, 19998)}));
    // Two full lines and nothing after: no empty third line.
    EXPECT_EQ(this->lines(letters(19998) + "\n"), (linelist{letters(9999), letters(9999, 9999)}));
    EXPECT_EQ(this->lines(letters(19998)), (linelist{letters(9999), letters(9999, 9999)}));
    // Blanks do not count towards the length.
    EXPECT_EQ(this->lines(letters(5000) + " \t\r" + letters(4999, 5000) + "\n"), linelist{letters(9999)});
    EXPECT_EQ(this->lines(letters(5000) + " " + letters(5000, 5000) + "\n"), (linelist{letters(9999), letters(1, 9999)}));
}

TYPED_TEST(scannertest, bytesafterexactly9999textbytes)
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

TYPED_TEST(scannertest, returnedpositions)
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

    // A step may begin anywhere before the end, also inside a line.
    const std::string text = "abc def\n";
    std::vector<char> linebuf(MAXLINE);
    const char *next = TypeParam::step(text.data() + 2, text.data() + text.size(), linebuf.data());
    EXPECT_STREQ(linebuf.data(), "cdef");
    EXPECT_EQ(next, text.data() + text.size());
}

// Texts that end right before an inaccessible page: a step that reads even one
// byte beyond the text faults.
TYPED_TEST(scannertest, readsnothingbeyondtheend)
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
        EXPECT_EQ(scanpass<TypeParam>(g.begin(), g.end()).lines, c.expected);
    }
}

template <class Step> class scanneragreement : public scannertest<Step> {};
using blocksteps = ::testing::Types<sse2pass, avx2pass>;
TYPED_TEST_SUITE(scanneragreement, blocksteps, stepnames);

// Each kernel's step against the model on random texts rich in the cases that
// a step tells apart, long runs around the cut included: the same lines and
// the same positions, step by step.
TYPED_TEST(scanneragreement, kernelmatchesthemodel)
{
    std::mt19937 rng(20240611);
    const std::string alphabet = "abcxyz0189 \t\r\n\n\n\0\0\x01\x08\x0b\x0c\x1f\x7f\x80\xe9\xff"s;
    for (int round = 0; round < 200; ++round) {
        std::string text;
        std::size_t pieces = rng() % 12;
        for (std::size_t i = 0; i < pieces; ++i) {
            if (rng() % 4 == 0)
                text += letters(9990 + rng() % 30, rng() % 26);
            else
                for (std::size_t n = rng() % 80; n > 0; --n)
                    text += alphabet[rng() % alphabet.size()];
        }
        if (text.empty())
            continue;
        SCOPED_TRACE("round " + std::to_string(round));
        guardedtext g(text);
        ASSERT_TRUE(g.ok());
        pass model = scanpass<plainstep>(g.begin(), g.end());
        pass fast = scanpass<TypeParam>(g.begin(), g.end());
        ASSERT_EQ(fast.lines, model.lines);
        ASSERT_EQ(fast.stops.size(), model.stops.size());
        for (std::size_t i = 0; i + 1 < model.stops.size(); ++i)
            ASSERT_EQ(fast.stops[i], model.stops[i]) << "step " << i;
    }
}

} // namespace
