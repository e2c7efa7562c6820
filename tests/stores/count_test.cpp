// A store program counts exactly the lines and distinct lines that the tests'
// own model of the line rules counts, on corpora from linebench-corpus that
// make stores grow, burst or rehash, and on a hand-made text of empty lines.
// Run once per store: its program's path is the argument after GoogleTest's
// own.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "process.hpp"
#include "reference.hpp"
#include "report.hpp"

namespace
{

const std::string corpus = LINEBENCH_CORPUS;
std::string gStore; // the program under test

// The row's figures that the text of the file at path must give.
std::string expected(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return expectedfigures(referencecount(std::string(std::istreambuf_iterator<char>(file), {})));
}

// Runs program on path; its row's figures that the text decides.
std::string figures(const std::string &program, const std::string &path)
{
    runoptions options;
    options.timeoutseconds = 300;
    runresult run = runprogram(program, {program, path}, options);
    EXPECT_EQ(run.status, 0) << program << ": " << run.out << run.err;
    return reportedfigures(run.out);
}

TEST(store, countswhatthelinerulesgive)
{
    const std::vector<std::vector<std::string>> shapes{
        {"--lines", "200000"},
        {"--lines", "100000", "--distinct", "0.01", "--repeats", "zipf", "--blanks", "0.2", "--crlf", "0.3"},
        {"--lines", "30000", "--distinct", "0.5", "--order", "ascending", "--length", "geometric:3"},
        {"--lines", "20000", "--distinct", "0.3", "--length", "uniform:1-3"},
        {"--lines", "300", "--distinct", "0.5", "--length", "uniform:9990-9999"},
    };
    scratchdir dir;
    for (const auto &shape : shapes) {
        std::string path = dir.path("corpus.txt");
        std::vector<std::string> args{"linebench-corpus", "--seed", "5", "-o", path};
        args.insert(args.end(), shape.begin(), shape.end());
        runresult made = runprogram(corpus, args);
        ASSERT_EQ(made.status, 0) << made.err;
        std::string options;
        for (const auto &option : shape)
            options += " " + option;
        EXPECT_EQ(figures(gStore, path), expected(path)) << "linebench-corpus" << options;
    }
    // Empty lines ended by NULs and by the end of the text, among short ones:
    // b, a, empty, b, \xff, empty, a and an empty last, 8 lines of 17 bytes,
    // 4 of them distinct.
    static const char text[] = "b\na\0\0b\r\n \t\n\xff\n\0a\n\n";
    std::string path = dir.write("empty.txt", std::string(text, sizeof text - 1));
    EXPECT_EQ(figures(gStore, path), "lines=8 avg_linelen=2.1 stored=4");
}

} // namespace

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s [gtest options] <store program>\n", argv[0]);
        return 2;
    }
    gStore = argv[1];
    return RUN_ALL_TESTS();
}
