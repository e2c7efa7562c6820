// Each block kernel's steps and pass against the byte-at-a-time model
// (scanlineplain) on texts that put the hand-overs everywhere: block edges,
// the 9,999-byte cut, blanks inside long runs and the end of the text, and
// on generated texts.  A kernel that this CPU cannot run is skipped, and the
// test output says so.  The line rules themselves are checked case by case
// in rules_test.cpp.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "driver/scanner.hpp"
#include "guardedtext.hpp"
#include "kernels.hpp"
#include "kerneltest.hpp"

namespace
{

using ScannerFast = kerneltest;

// Text bytes that vary, so that a misplaced byte shows in the line.
std::string textrun(std::size_t length, std::size_t from = 0)
{
    std::string run;
    for (std::size_t i = from; i < from + length; ++i)
        run += static_cast<char>('a' + i % 26);
    return run;
}

TEST_P(ScannerFast, CutFallsAtEveryOffsetWithinABlock)
{
    // What may follow the run: each hands the step over differently.
    const std::string nul("\0", 1);
    const std::string tails[] = {"\n", nul, " \t\r\n", "\x0b\n", "", "xyz\n", " z"};
    // Blanks early in the run shift the kept length against the block edges,
    // so the hand-over to the byte step meets the cut at every offset.
    for (std::size_t blanks = 0; blanks < 17; ++blanks)
        for (std::size_t length = MAXLINELEN - 20; length <= MAXLINELEN + 20; ++length)
            for (const std::string &tail : tails) {
                std::string run = textrun(length);
                for (std::size_t b = 0; b < blanks; ++b)
                    run.insert(3 + 7 * b, 1, "\t \r"[b % 3]);
                EXPECT_TRUE(samelines(run + tail)) << blanks << " blanks, " << length << " text bytes";
                EXPECT_TRUE(samelines("\n\n" + run + tail + run)) << blanks << " blanks, " << length;
            }
}

TEST_P(ScannerFast, RunsLongerThanTwoLines)
{
    for (std::size_t length : {2 * MAXLINELEN - 1, 2 * MAXLINELEN, 2 * MAXLINELEN + 1, std::size_t{20000}}) {
        EXPECT_TRUE(samelines(textrun(length) + "\n")) << length;
        EXPECT_TRUE(samelines(textrun(length))) << length;
    }
}

TEST_P(ScannerFast, BlanksInsideLongRuns)
{
    const std::string blankchars = " \t\r";
    std::string run = textrun(200);
    // One blank at each offset of the first blocks, of each kind.
    for (std::size_t at = 0; at < 48; ++at)
        for (char blank : blankchars) {
            std::string text = run;
            text[at] = blank;
            EXPECT_TRUE(samelines(text + "\n" + text)) << "blank " << int(blank) << " at " << at;
        }
    // Stretches of blanks of every length from every offset, across block edges.
    for (std::size_t at = 0; at < 20; ++at)
        for (std::size_t width = 1; width <= 40; ++width) {
            std::string text = run;
            for (std::size_t i = 0; i < width; ++i)
                text[at + i] = blankchars[i % 3];
            EXPECT_TRUE(samelines(text + "\n")) << width << " blanks at " << at;
        }
    // A blank in every block, at a position that walks through the block.
    std::string walking = textrun(MAXLINELEN + 300);
    for (std::size_t at = 5, i = 0; at < walking.size(); at += 17, ++i)
        walking[at] = blankchars[i % 3];
    EXPECT_TRUE(samelines(walking + "\n" + walking));
}

TEST_P(ScannerFast, LinesEndAtEveryOffsetOfTheBlocks)
{
    // Lines of 0 to 139 bytes, three after each other, start and end at every
    // offset of the blocks whose masks the steps carry: with no blank, with
    // blanks, led by blanks, with a NUL or control byte before or after the
    // end.
    const std::string nul("\0", 1);
    const std::string ends[] = {"\n", nul, "\n\n\n", "\x01\n", "\n\x01", "\n" + nul};
    for (std::size_t length = 0; length < 140; ++length)
        for (std::size_t blanks : {std::size_t{0}, std::size_t{1}, std::size_t{9}})
            for (const std::string &end : ends) {
                std::string line = textrun(length);
                for (std::size_t b = 0; b < blanks && b < length; ++b)
                    line[(b * 37 + length / 2) % length] = " \t\r"[b % 3];
                std::string led = "\t  " + line;
                EXPECT_TRUE(samelines(line + end + line + end + led + end + "tail"))
                    << length << ", " << blanks;
            }
}

// Texts drawn from the bytes that the scanner tells apart, with a fixed seed
// so that a failure can be replayed, each before an inaccessible page.
// Three shapes: short texts from the alphabet, most of them longer than the
// text's last bytes that the model's loop scans; sparse ones, mostly text
// bytes, so that blocks run clean for a while; and pieces of the alphabet
// among runs of 9,990 to 10,019 letters, which meet the cut.
TEST_P(ScannerFast, GeneratedTextsAgree)
{
    static const char bytes[] = "abcxyz0189 \t\r\n\n\n\0\0\x01\x08\x0b\x0c\x0e\x1f\x21\x7f\x80\xe9\xff";
    const std::string alphabet(bytes, sizeof bytes - 1);
    std::uint64_t state = 88172645463325252u;
    auto next = [&state]() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    for (int round = 0; round < 3200; ++round) {
        std::string text;
        if (round % 16 == 15) {
            for (std::size_t pieces = next() % 12; pieces > 0; --pieces)
                if (next() % 4 == 0)
                    text += textrun(9990 + next() % 30, next() % 26);
                else
                    for (std::size_t n = next() % 80; n > 0; --n)
                        text += alphabet[next() % alphabet.size()];
        } else {
            std::size_t length = next() % (round % 10 == 0 ? 3000 : 400);
            bool sparse = round % 3 == 0;
            for (std::size_t i = 0; i < length; ++i) {
                std::uint64_t r = next();
                text += sparse && r % 8 != 0 ? static_cast<char>('c' + (r >> 8) % 20)
                                             : alphabet[(r >> 8) % alphabet.size()];
            }
        }
        guardedtext guarded(text);
        ASSERT_TRUE(guarded.ok());
        ASSERT_TRUE(samelines(guarded.begin(), guarded.end())) << "round " << round;
    }
}

// Texts that end right before an inaccessible page: a block load that reached
// beyond the text would fault.
TEST_P(ScannerFast, ReadsNothingPastTheText)
{
    const std::string nul("\0", 1);
    for (std::size_t length = 0; length < 270; ++length)
        for (const std::string &end :
             {std::string(), std::string("\n"), std::string(" "), nul, std::string("\t\n")}) {
            // A line, the same after blanks, and short lines whose ends fall
            // all through the last blocks.
            std::string shortlines;
            for (std::size_t i = 0; shortlines.size() < length; ++i)
                shortlines += textrun(i % 9) + (i % 4 == 0 ? " \n" : "\n");
            shortlines.resize(length);
            for (const std::string &body : {textrun(length), " a b\tc\rd" + textrun(length), shortlines}) {
                guardedtext text(body + end);
                ASSERT_TRUE(text.ok());
                EXPECT_TRUE(samelines(text.begin(), text.end())) << length;
            }
        }
    for (std::size_t length : {MAXLINELEN - 1, MAXLINELEN, MAXLINELEN + 1, MAXLINELEN + 17}) {
        guardedtext text(textrun(length));
        ASSERT_TRUE(text.ok());
        EXPECT_TRUE(samelines(text.begin(), text.end())) << length;
    }
}

INSTANTIATE_TEST_SUITE_P(kernels, ScannerFast, testing::ValuesIn(blockkernels()), kernelparamname);

} // namespace
