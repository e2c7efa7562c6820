// Where the tree's descents prefetch, in a build that records each prefetch
// (prefetchprobe.hpp): none in the first eight levels, which every descent
// passes and so stay in the cache, and both children of each node below them.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "redblack/redblack.hpp"
#include "tests/redblack/prefetchprobe.hpp"

namespace
{

constexpr unsigned cachedlevels = 8;

// What the rule asks of a descent to line: for each node of its path below
// the cached levels, its left and then its right child.
std::vector<const void *> ruleprefetches(const rbtree &tree, const char *line)
{
    std::vector<const void *> expected;
    unsigned depth = 0;
    for (const rbnode *node = tree.root; node != nullptr; ++depth) {
        if (depth >= cachedlevels)
            expected.insert(expected.end(), {node->left, node->right});
        int cmp = std::strcmp(line, node->word);
        if (cmp == 0)
            break;
        node = cmp < 0 ? node->left : node->right;
    }
    return expected;
}

TEST(redblackprefetch, belowthecachedlevelsbothchildren)
{
    rbtree tree{nullptr, nullptr};
    std::vector<std::string> lines;
    for (int i = 0; i < 1000; ++i) {
        char line[8];
        std::snprintf(line, sizeof line, "%04d", i);
        lines.emplace_back(line);
        redblackinsert(&tree, line);
    }
    // Ascending inserts hang each line at the foot of the right spine, the
    // longest path of this tree: 17 nodes, the last 9 below the cached levels.
    gPrefetched.clear();
    redblacksearch(&tree, "0999");
    EXPECT_EQ(gPrefetched.size(), 2u * 9);
    gPrefetched.clear();
    redblacksearch(&tree, tree.root->word);
    EXPECT_TRUE(gPrefetched.empty());

    lines.insert(lines.end(), {"", "0500a", "1000"});
    for (const std::string &line : lines) {
        std::vector<const void *> expected = ruleprefetches(tree, line.c_str());
        gPrefetched.clear();
        redblacksearch(&tree, line.c_str());
        ASSERT_EQ(gPrefetched, expected) << "search of \"" << line << "\"";
        gPrefetched.clear();
        redblackinsert(&tree, line.c_str());
        ASSERT_EQ(gPrefetched, expected) << "insert of \"" << line << "\"";
    }
}

} // namespace
