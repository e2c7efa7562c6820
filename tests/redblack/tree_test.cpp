// The red-black tree store: its invariants after every insert, the exact
// shapes of small trees, found and gDupCnt, ordering and rotations.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "driver/common.hpp"
#include "redblack/redblack.hpp"

namespace
{

// Byte-by-byte comparison on unsigned values, written out rather than taken
// from strcmp, so the order check does not lean on what the store uses.
bool byteless(const char *a, const char *b)
{
    for (;; ++a, ++b) {
        auto x = static_cast<unsigned char>(*a);
        auto y = static_cast<unsigned char>(*b);
        if (x != y)
            return x < y;
        if (x == 0)
            return false;
    }
}

class treechecker
{
  public:
    treechecker(std::size_t nodes, bool colours) : expected(nodes), colours(colours) {}

    ::testing::AssertionResult check(const rbtree &tree)
    {
        if (tree.root != nullptr && tree.root->parent != nullptr)
            fail("the root has a parent");
        if (colours && expected >= 2 && tree.root != nullptr && tree.root->color != BLACK)
            fail("the root is not black");
        walk(tree.root, 1);
        if (error.empty() && count != expected)
            fail("holds " + std::to_string(count) + " nodes instead of " + std::to_string(expected));
        if (error.empty() && colours && height > 2 * std::log2(count + 1.0))
            fail("height " + std::to_string(height) + " above 2 log2(n + 1)");
        if (!error.empty())
            return ::testing::AssertionFailure() << error;
        return ::testing::AssertionSuccess();
    }
    int treeheight() const { return height; }

  private:
    void fail(const std::string &what)
    {
        if (error.empty())
            error = what;
    }
    void fail(const rbnode *node, const char *what)
    {
        fail(std::string("at \"") + node->word + "\": " + what);
    }

    // Returns the number of black nodes on every path from node down to a null
    // link; -1 when colours are not checked or something is wrong.
    int walk(const rbnode *node, int depth)
    {
        if (node == nullptr)
            return 0;
        if (!error.empty())
            return -1;
        if (static_cast<std::size_t>(depth) > expected) {
            fail("deeper than the node count: a cycle");
            return -1;
        }
        height = std::max(height, depth);
        for (const rbnode *child : {node->left, node->right})
            if (child != nullptr && child->parent != node)
                fail(node, "a child's parent link points elsewhere");
        int leftblack = walk(node->left, depth + 1);
        if (!error.empty())
            return -1;
        if (previous != nullptr && !byteless(previous, node->word))
            fail(node, "not strictly above its in-order predecessor");
        previous = node->word;
        ++count;
        int rightblack = walk(node->right, depth + 1);
        if (!error.empty() || !colours || expected < 2)
            return -1;
        if (node->color != RED && node->color != BLACK)
            fail(node, "colour is neither red nor black");
        if (node->color == RED)
            for (const rbnode *child : {node->left, node->right})
                if (child != nullptr && child->color == RED)
                    fail(node, "red node with a red child");
        if (leftblack != rightblack)
            fail(node, "black counts differ between left and right");
        return leftblack + (node->color == BLACK ? 1 : 0);
    }

    std::size_t expected;
    bool colours;
    std::size_t count = 0;
    int height = 0;
    const char *previous = nullptr;
    std::string error;
};

// Every invariant, for a tree that should hold nodes lines.
::testing::AssertionResult isredblack(const rbtree &tree, std::size_t nodes)
{
    return treechecker(nodes, true).check(tree);
}

// Parent links, order and node count only: what a rotation must keep.
::testing::AssertionResult islinkedinorder(const rbtree &tree, std::size_t nodes)
{
    return treechecker(nodes, false).check(tree);
}

// "word colour(left,right)", with "." for a null child and no parentheses for a leaf.
std::string shape(const rbnode *node)
{
    if (node == nullptr)
        return ".";
    std::string s = node->word;
    s += node->color == RED ? 'R' : node->color == BLACK ? 'B' : '?';
    if (node->left != nullptr || node->right != nullptr) {
        s += '(';
        s += shape(node->left);
        s += ',';
        s += shape(node->right);
        s += ')';
    }
    return s;
}

struct nodestate {
    const rbnode *node;
    const char *word;
    const rbnode *left;
    const rbnode *right;
    const rbnode *parent;
    std::uint8_t color;
    bool operator==(const nodestate &) const = default;
};

// Every link and colour of the tree, root first.
std::vector<nodestate> snapshot(const rbtree &tree)
{
    std::vector<nodestate> states;
    std::vector<const rbnode *> todo{tree.root};
    while (!todo.empty()) {
        const rbnode *node = todo.back();
        todo.pop_back();
        if (node == nullptr)
            continue;
        states.push_back({node, node->word, node->left, node->right, node->parent, node->color});
        todo.push_back(node->right);
        todo.push_back(node->left);
    }
    return states;
}

std::vector<std::string> inorder(const rbnode *node)
{
    std::vector<std::string> words;
    std::vector<const rbnode *> stack;
    while (node != nullptr || !stack.empty()) {
        for (; node != nullptr; node = node->left)
            stack.push_back(node);
        node = stack.back();
        stack.pop_back();
        words.emplace_back(node->word);
        node = node->right;
    }
    return words;
}

std::vector<std::string> zeropadded(int from, int to)
{
    std::vector<std::string> words;
    for (int i = from; i < to; ++i) {
        char word[8];
        std::snprintf(word, sizeof word, "%04d", i);
        words.emplace_back(word);
    }
    return words;
}

class redblacktest : public ::testing::Test
{
  protected:
    void SetUp() override { gDupCnt = 0; }
    void TearDown() override { freetree(tree.root); }

    static void freetree(rbnode *node)
    {
        if (node == nullptr)
            return;
        freetree(node->left);
        freetree(node->right);
        std::free(node->word);
        std::free(node);
    }

    void insertall(const std::vector<std::string> &words)
    {
        for (const std::string &word : words)
            redblackinsert(&tree, word.c_str());
    }

    const rbnode *search(const char *line)
    {
        redblacksearch(&tree, line);
        return tree.found;
    }

    // Inserts words one by one and checks after each insert: every invariant,
    // found (the node that already held the line, else null) and gDupCnt.
    // Then every word must be found by a search.
    void insertandcheck(const std::vector<std::string> &words)
    {
        std::set<std::string> held;
        std::int64_t duplicates = 0;
        for (const std::string &word : words) {
            bool present = held.count(word) != 0;
            const rbnode *before = present ? search(word.c_str()) : nullptr;
            redblackinsert(&tree, word.c_str());
            held.insert(word);
            duplicates += present ? 1 : 0;
            ASSERT_TRUE(isredblack(tree, held.size())) << "after inserting \"" << word << "\"";
            ASSERT_EQ(gDupCnt, duplicates) << "after inserting \"" << word << "\"";
            const rbnode *expected = present ? before : held.size() == 1 ? tree.root : nullptr;
            ASSERT_EQ(tree.found, expected) << "found after inserting \"" << word << "\"";
        }
        for (const std::string &word : held) {
            const rbnode *node = search(word.c_str());
            ASSERT_NE(node, nullptr) << "\"" << word << "\" not found";
            EXPECT_STREQ(node->word, word.c_str());
        }
        EXPECT_EQ(gDupCnt, duplicates);
    }

    rbtree tree{nullptr, nullptr};
};

TEST_F(redblacktest, firstandsecondinsert)
{
    EXPECT_EQ(search("a"), nullptr);
    char line[] = "m";
    redblackinsert(&tree, line);
    ASSERT_NE(tree.root, nullptr);
    EXPECT_EQ(tree.found, tree.root);
    EXPECT_STREQ(tree.root->word, "m");
    EXPECT_NE(tree.root->word, line);
    EXPECT_EQ(tree.root->parent, nullptr);
    EXPECT_EQ(tree.root->left, nullptr);
    EXPECT_EQ(tree.root->right, nullptr);

    redblackinsert(&tree, "a");
    EXPECT_EQ(tree.found, nullptr);
    EXPECT_EQ(shape(tree.root), "mB(aR,.)");
    EXPECT_TRUE(isredblack(tree, 2));
    EXPECT_EQ(gDupCnt, 0);
}

// The store keeps its own copy: the caller's buffer (the driver's linebuf) is
// overwritten by the next line.
TEST_F(redblacktest, keepsitsowncopyoftheline)
{
    char linebuf[16];
    for (const char *word : {"pear", "apple", "fig", "plum"}) {
        std::strcpy(linebuf, word);
        redblackinsert(&tree, linebuf);
    }
    std::strcpy(linebuf, "zzzzzzzzzzzzzzz");
    EXPECT_EQ(inorder(tree.root), (std::vector<std::string>{"apple", "fig", "pear", "plum"}));
    for (const nodestate &state : snapshot(tree))
        EXPECT_NE(state.word, linebuf);
}

TEST_F(redblacktest, duplicateinsertchangesnothingbutfoundandthecounter)
{
    redblackinsert(&tree, "only");
    const rbnode *only = tree.root;
    redblackinsert(&tree, "only");
    EXPECT_EQ(tree.found, only);
    EXPECT_EQ(tree.root, only);
    EXPECT_EQ(gDupCnt, 1);
    redblackinsert(&tree, "other"); // paints the root black
    gDupCnt = 0;

    std::mt19937 rng(7);
    std::vector<std::string> words{"only", "other"};
    while (words.size() < 60)
        words.push_back(std::to_string(rng() % 1000000));
    insertall(words);
    gDupCnt = 0;
    std::int64_t expected = 0;
    for (const std::string &word : words) {
        std::string copy = word; // not the pointer that was inserted
        const rbnode *holder = search(copy.c_str());
        ASSERT_NE(holder, nullptr);
        const rbnode *root = tree.root;
        std::vector<nodestate> before = snapshot(tree);
        redblackinsert(&tree, copy.c_str());
        EXPECT_EQ(tree.found, holder) << word;
        EXPECT_EQ(tree.root, root) << word;
        EXPECT_EQ(snapshot(tree), before) << word;
        EXPECT_EQ(gDupCnt, ++expected) << word;
    }
}

TEST_F(redblacktest, search)
{
    insertall({"b", "d", "f", "h", "bb", "dd"});
    redblackinsert(&tree, "d"); // leaves found on "d"
    std::vector<nodestate> before = snapshot(tree);
    for (const char *absent : {"", "a", "c", "ba", "bbb", "de", "e", "g", "i", "\xff"})
        EXPECT_EQ(search(absent), nullptr) << absent;
    for (const char *present : {"b", "d", "f", "h", "bb", "dd"}) {
        const rbnode *node = search(present);
        ASSERT_NE(node, nullptr) << present;
        EXPECT_STREQ(node->word, present);
    }
    EXPECT_EQ(snapshot(tree), before);
    EXPECT_EQ(gDupCnt, 1);
}

TEST_F(redblacktest, sevenlinesascending)
{
    insertall({"1", "2", "3", "4", "5", "6", "7"});
    EXPECT_EQ(shape(tree.root), "2B(1B,4R(3B,6B(5R,7R)))");
    EXPECT_TRUE(isredblack(tree, 7));
}

TEST_F(redblacktest, sevenlinesdescending)
{
    insertall({"7", "6", "5", "4", "3", "2", "1"});
    EXPECT_EQ(shape(tree.root), "6B(4R(2B(1R,3R),5B),7B)");
    EXPECT_TRUE(isredblack(tree, 7));
}

TEST_F(redblacktest, threelinesinanyorderbalance)
{
    std::vector<std::string> order{"x1", "x2", "x3"};
    do {
        freetree(tree.root);
        tree = {nullptr, nullptr};
        insertall(order);
        EXPECT_EQ(shape(tree.root), "x2B(x1R,x3R)") << order[0] << " " << order[1] << " " << order[2];
        EXPECT_TRUE(isredblack(tree, 3));
    } while (std::next_permutation(order.begin(), order.end()));
}

TEST_F(redblacktest, invariantsafterascendinginserts) { insertandcheck(zeropadded(0, 3000)); }

TEST_F(redblacktest, invariantsafterdescendinginserts)
{
    std::vector<std::string> words = zeropadded(0, 3000);
    std::reverse(words.begin(), words.end());
    insertandcheck(words);
}

TEST_F(redblacktest, invariantsafterrandominserts)
{
    std::mt19937 rng(12345);
    std::vector<std::string> words;
    for (int i = 0; i < 3000; ++i) {
        std::string word;
        for (std::size_t n = 1 + rng() % 6; n > 0; --n)
            word += static_cast<char>(33 + rng() % 223); // ASCII and high bytes
        words.push_back(word);
    }
    insertandcheck(words);
}

TEST_F(redblacktest, invariantsafterinsertswithduplicates)
{
    std::mt19937 rng(99);
    std::vector<std::string> words;
    for (int i = 0; i < 3000; ++i)
        words.push_back(std::to_string(rng() % 400));
    words.push_back(""); // the empty line is a key like any other
    words.push_back("");
    insertandcheck(words);
}

TEST_F(redblacktest, heightofathousandascendinglines)
{
    insertall(zeropadded(0, 1000));
    treechecker checker(1000, true);
    ASSERT_TRUE(checker.check(tree));
    EXPECT_EQ(checker.treeheight(), 17);
}

TEST_F(redblacktest, orderisbyunsignedbytes)
{
    insertall({"b", "\x80", "a", "\xff", "~", "", "ab", "\x7f", "a\xe9", "aa", "\x01"});
    EXPECT_EQ(inorder(tree.root), (std::vector<std::string>{"", "\x01", "a", "aa", "ab", "a\xe9", "b", "~",
                                                            "\x7f", "\x80", "\xff"}));
    EXPECT_TRUE(isredblack(tree, 11));
}

TEST_F(redblacktest, emptylineistheleftmostnode)
{
    insertall(zeropadded(0, 40));
    redblackinsert(&tree, "");
    EXPECT_EQ(tree.found, nullptr);
    const rbnode *leftmost = tree.root;
    while (leftmost->left != nullptr)
        leftmost = leftmost->left;
    EXPECT_STREQ(leftmost->word, "");
    EXPECT_EQ(search(""), leftmost);
    redblackinsert(&tree, "");
    EXPECT_EQ(tree.found, leftmost);
    EXPECT_EQ(gDupCnt, 1);
}

TEST_F(redblacktest, rotationwithoutarisingchildchangesnothing)
{
    redblackinsert(&tree, "m");
    std::vector<nodestate> before = snapshot(tree);
    leftrotate(&tree, tree.root);
    rightrotate(&tree, tree.root);
    EXPECT_EQ(snapshot(tree), before);

    insertall({"c", "x", "a"}); // mB(cB(aR,.),xB)
    ASSERT_EQ(shape(tree.root), "mB(cB(aR,.),xB)");
    rbnode *c = tree.root->left;
    before = snapshot(tree);
    leftrotate(&tree, c);        // c has no right child
    rightrotate(&tree, c->left); // a is a leaf
    leftrotate(&tree, c->left);
    rightrotate(&tree, tree.root->right); // x is a leaf
    leftrotate(&tree, tree.root->right);
    EXPECT_EQ(snapshot(tree), before);
}

TEST_F(redblacktest, rotationskeeplinksandorder)
{
    insertall({"1", "2", "3", "4", "5", "6", "7"});
    ASSERT_EQ(shape(tree.root), "2B(1B,4R(3B,6B(5R,7R)))");

    leftrotate(&tree, tree.root); // about the root
    EXPECT_EQ(shape(tree.root), "4R(2B(1B,3B),6B(5R,7R))");
    ASSERT_TRUE(islinkedinorder(tree, 7));

    rbnode *six = tree.root->right;
    rightrotate(&tree, six); // about a right child
    EXPECT_EQ(shape(tree.root), "4R(2B(1B,3B),5R(.,6B(.,7R)))");
    ASSERT_TRUE(islinkedinorder(tree, 7));

    rbnode *two = tree.root->left;
    rightrotate(&tree, two); // about a left child
    EXPECT_EQ(shape(tree.root), "4R(1B(.,2B(.,3B)),5R(.,6B(.,7R)))");
    ASSERT_TRUE(islinkedinorder(tree, 7));

    leftrotate(&tree, tree.root->left);
    leftrotate(&tree, tree.root->right);
    rightrotate(&tree, tree.root);
    EXPECT_EQ(shape(tree.root), "2B(1B,4R(3B,6B(5R,7R)))");
    ASSERT_TRUE(islinkedinorder(tree, 7));
}

} // namespace
