// linebench-shape end to end: the whole output on small files counted by hand,
// and the failures that it shares with the two programs.  m below is the hash
// store's 1,048,576 chain heads.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "collidingwords.hpp"
#include "cpuflags.hpp"
#include "process.hpp"
#include "programs.hpp"

namespace
{

const std::string shape = LINEBENCH_SHAPE;

runresult runon(const std::string &path) { return runprogram(shape, {shape, path}); }

// expected is the output up to the scanner's kernel, which ends it: the one
// the programs run on this CPU, as its flags in /proc/cpuinfo call for.
void expectoutput(const std::string &path, const std::string &expected)
{
    runresult result = runon(path);
    EXPECT_EQ(result.out, expected + "scanner.kernel " + expectedpasskernel() + "\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
}

// Lines 1 to 7 in ascending order, with blanks and an empty line that the
// scanner drops, then 1 again: 8 lines, 7 stored.  The tree: 2 at depth 1; 1
// and 4 at 2; 3 and 6 at 3; 5 and 7 at 4.  Height 4, bound 2 log2(8) = 6.0,
// mean depth (1 + 2*2 + 2*3 + 2*4) / 7 = 19/7; the lookups find the seven
// lines and then 1 at depth 2: (19 + 2) / 8.  bitwisehash gives each one-byte
// line a chain of its own: 7 chains of one node, one node per lookup, spread
// ((m/7) * 7 - 7) / (m - 1), just under 1.
TEST(shape, ascendinglines)
{
    scratchdir dir;
    std::string ascending = dir.write("ascending", "1\n2\r\n\n 3\n4\n5\t\n6\n7\n1\n");
    expectoutput(ascending, "lines 8\n"
                            "stored 7\n"
                            "tree.height 4\n"
                            "tree.height_bound 6.0\n"
                            "tree.mean_depth 2.714\n"
                            "tree.compares_per_lookup 2.625\n"
                            "hash.chains_used 7\n"
                            "hash.longest_chain 1\n"
                            "hash.mean_chain 1.000\n"
                            "hash.nodes_per_lookup 1.000\n"
                            "hash.spread 1.000\n");
    // Lines 1 to 5: the fifth insert rotates 4 up over 3, so 2 is at depth 1,
    // 1 and 4 at 2, 3 and 5 at 3: height 3, (1 + 2*2 + 2*3) / 5 = 2.2; the
    // bound 2 log2(6) = 5.17.
    std::string five = dir.write("five", "1\n2\n3\n4\n5\n");
    expectoutput(five, "lines 5\n"
                       "stored 5\n"
                       "tree.height 3\n"
                       "tree.height_bound 5.2\n"
                       "tree.mean_depth 2.200\n"
                       "tree.compares_per_lookup 2.200\n"
                       "hash.chains_used 5\n"
                       "hash.longest_chain 1\n"
                       "hash.mean_chain 1.000\n"
                       "hash.nodes_per_lookup 1.000\n"
                       "hash.spread 1.000\n");
}

// Three lines of one chain, x < y < z, in the file as x z y y y y.
// Tree: y at the root, x and z below: height 2, bound 2 log2(4) = 4.0, mean
// depth 5/3, lookups 2 + 2 + 4 * 1 = 8 compares over 6.
// Chain: the store pass appends x z y, then the repeats of y move it to the
// head: y x z.  The lookup pass, counting the nodes visited and moving each
// line found to the head: x 2 (x y z), z 3 (z x y), y 3 (y z x), y 1, y 1,
// y 1: 11 over 6.  Without move-to-front it would be 15 over 6, with it in the
// lookup pass alone 9 over 6.  One chain of 3 of 3 lines: chi-square
// (m/3) * 9 - 3 = 3 (m - 1), spread 3.
TEST(shape, linesofonechain)
{
    std::vector<std::string> words(collidingwords().begin(), collidingwords().begin() + 3);
    std::sort(words.begin(), words.end());
    const std::string &x = words[0], &y = words[1], &z = words[2];
    scratchdir dir;
    std::string chain = dir.write("chain", x + "\n" + z + "\n" + y + "\n" + y + "\n" + y + "\n" + y + "\n");
    expectoutput(chain, "lines 6\n"
                        "stored 3\n"
                        "tree.height 2\n"
                        "tree.height_bound 4.0\n"
                        "tree.mean_depth 1.667\n"
                        "tree.compares_per_lookup 1.333\n"
                        "hash.chains_used 1\n"
                        "hash.longest_chain 3\n"
                        "hash.mean_chain 3.000\n"
                        "hash.nodes_per_lookup 1.833\n"
                        "hash.spread 3.000\n");
}

TEST(shape, failsasthedriverdoes)
{
    scratchdir dir;
    std::string path = dir.write("input", "a\n");
    for (const std::vector<std::string> &command :
         {std::vector<std::string>{shape}, std::vector<std::string>{shape, path, path}}) {
        runresult result = runprogram(shape, command);
        EXPECT_EQ(result.out, "Usage: " + shape + " <text file>\n");
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.status, 1);
    }

    // Linux gives an empty argument vector an empty argv[0]; older kernels none.
    runoptions noargv;
    noargv.emptyargv = true;
    runresult result = runprogram(shape, {shape}, noargv);
    EXPECT_TRUE(result.out == "Usage:  <text file>\n" || result.out == "Usage: linebench-shape <text file>\n")
        << result.out;
    EXPECT_EQ(result.status, 1);

    std::string missing = dir.path("missing");
    result = runon(missing);
    EXPECT_EQ(result.out, filefailure(shape, missing, ENOENT));
    EXPECT_EQ(result.err, filefailure(shape, missing, ENOENT));
    EXPECT_EQ(result.status, 1);

    std::string empty = dir.write("empty", "");
    result = runon(empty);
    EXPECT_EQ(result.out, filefailure(shape, empty, EINVAL));
    EXPECT_EQ(result.err, filefailure(shape, empty, EINVAL));
    EXPECT_EQ(result.status, 1);

    runoptions full;
    full.stdoutpath = "/dev/full";
    result = runprogram(shape, {shape, path}, full);
    EXPECT_EQ(result.err, shape + ": Cannot write the report: " + std::strerror(ENOSPC) +
                              " (errno = " + std::to_string(ENOSPC) + ")\n");
    EXPECT_EQ(result.status, 1);
}

} // namespace
