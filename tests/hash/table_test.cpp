// The hash table store: bitwisehash against an independent computation, and
// the chains (append at the tail, move-to-front on every hit) on lines that
// really share a chain.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <list>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "collidingwords.hpp"
#include "driver/common.hpp"
#include "driver/scanner.hpp"
#include "hash/hash.hpp"

namespace
{

// The recurrence in signed 64-bit arithmetic, wrapped to 32 bits by hand.
std::uint32_t referencehash(const std::string &word, std::int64_t tsize, std::int64_t seed)
{
    const std::int64_t wrap = std::int64_t{1} << 32;
    std::int64_t h = seed;
    for (unsigned char b : word) {
        std::int64_t c = b >= 128 ? b - 256 : b;
        std::int64_t sum = ((h * 32) % wrap + c + h / 4 + wrap) % wrap;
        h ^= sum;
    }
    return static_cast<std::uint32_t>(h % (wrap / 2) % tsize);
}

std::uint32_t chainof(const std::string &word) { return bitwisehash(word.c_str(), HASHSIZE, HASHSEED); }

TEST(bitwisehash, knownvalues)
{
    EXPECT_EQ(bitwisehash("", HASHSIZE, HASHSEED), 110665u);
    EXPECT_EQ(bitwisehash("a", HASHSIZE, HASHSEED), 771546u);
    EXPECT_EQ(bitwisehash("abc", HASHSIZE, HASHSEED), 1006097u);
    EXPECT_EQ(bitwisehash("\xe9", HASHSIZE, HASHSEED), 771410u);
    for (const char *word : {"", "a", "abc", "\xe9"})
        EXPECT_EQ(referencehash(word, HASHSIZE, HASHSEED), bitwisehash(word, HASHSIZE, HASHSEED)) << word;
}

TEST(bitwisehash, matchesanindependentcomputation)
{
    std::string allbytes;
    for (int i = 0; i < 600; ++i)
        allbytes += static_cast<char>(1 + i % 255);
    std::string longword;
    for (std::size_t i = 0; i < MAXLINELEN; ++i)
        longword += static_cast<char>(33 + (i * 7) % 223);
    const std::vector<std::string> words = {
        "tobe",
        "\x7f",
        "\x80",
        "\xff",
        "\xff\xfe\xfd",
        "a\xe9"
        "b\x80z",
        "\x01\x02\x0b\x0c\x1f",
        "0123456789",
        std::string(MAXLINELEN, 'q'),
        std::string(MAXLINELEN, '\xc3'),
        allbytes,
        longword,
    };
    struct params {
        std::uint32_t tsize;
        std::uint32_t seed;
    };
    // Small and odd sizes, a size above 2^31 (the index is then the masked
    // hash itself) and seeds with the top bits set.
    const std::vector<params> settings = {
        {HASHSIZE, HASHSEED},       {1, HASHSEED},           {1000003, 0}, {7, 0xFFFFFFFFu},
        {0xFFFFFFFFu, 0xDEADBEEFu}, {HASHSIZE, 0x80000000u},
    };
    for (const params &p : settings)
        for (const std::string &word : words) {
            std::uint32_t index = bitwisehash(word.c_str(), p.tsize, p.seed);
            EXPECT_EQ(index, referencehash(word, p.tsize, p.seed))
                << "word of " << word.size() << " bytes, tsize " << p.tsize << ", seed " << p.seed;
            EXPECT_LT(index, p.tsize);
        }
}

// The test's own table, cleared for every test.
hashnode *table[HASHSIZE];

class hashtest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        std::fill(std::begin(table), std::end(table), nullptr);
        gDupCnt = 0;
        const std::vector<std::string> &words = collidingwords();
        a = words[0];
        b = words[1];
        c = words[2];
        d = words[3];
        e = words[4];
        absent = words[5];
        chain = chainof(a);
    }
    void TearDown() override
    {
        for (hashnode *&head : table)
            while (head != nullptr) {
                hashnode *next = head->next;
                std::free(head->word);
                std::free(head);
                head = next;
            }
    }

    static std::vector<std::string> wordsof(std::uint32_t index)
    {
        std::vector<std::string> words;
        for (const hashnode *node = table[index]; node != nullptr; node = node->next)
            words.emplace_back(node->word);
        return words;
    }

    // Every node and link of a chain, in order.
    struct nodestate {
        const hashnode *node;
        const char *word;
        const hashnode *next;
        bool operator==(const nodestate &) const = default;
    };
    static std::vector<nodestate> linksof(std::uint32_t index)
    {
        std::vector<nodestate> states;
        for (const hashnode *node = table[index]; node != nullptr; node = node->next)
            states.push_back({node, node->word, node->next});
        return states;
    }

    static void insert(const std::string &line) { hashinsert(table, line.c_str()); }
    static hashnode *search(const std::string &line) { return hashsearch(table, line.c_str()); }

    // a, b, c, d, e and absent share the chain with index chain.
    std::string a, b, c, d, e, absent;
    std::uint32_t chain = 0;
};

TEST_F(hashtest, collidingwordsshareachain)
{
    for (const std::string &word : collidingwords())
        EXPECT_EQ(chainof(word), chain) << word;
    EXPECT_EQ(std::set<std::string>(collidingwords().begin(), collidingwords().end()).size(),
              collidingwords().size());
}

TEST_F(hashtest, newlinesenteratthetail)
{
    insert(a);
    EXPECT_EQ(wordsof(chain), (std::vector<std::string>{a}));
    insert(b);
    insert(c);
    insert(d);
    EXPECT_EQ(wordsof(chain), (std::vector<std::string>{a, b, c, d}));
    EXPECT_EQ(gDupCnt, 0);
    for (std::uint32_t index = 0; index < HASHSIZE; ++index)
        ASSERT_TRUE(index == chain || table[index] == nullptr) << "chain " << index;
}

TEST_F(hashtest, keepsitsowncopyoftheline)
{
    char linebuf[MAXLINE];
    std::strcpy(linebuf, a.c_str());
    hashinsert(table, linebuf);
    std::strcpy(linebuf, b.c_str());
    hashinsert(table, linebuf);
    std::strcpy(linebuf, "overwritten");
    EXPECT_EQ(wordsof(chain), (std::vector<std::string>{a, b}));
    for (const nodestate &state : linksof(chain))
        EXPECT_NE(state.word, linebuf);
}

TEST_F(hashtest, duplicateinsertoftheheadchangesnolink)
{
    for (const std::string &word : {a, b, c})
        insert(word);
    std::vector<nodestate> before = linksof(chain);
    insert(a);
    EXPECT_EQ(linksof(chain), before);
    EXPECT_EQ(gDupCnt, 1);
}

TEST_F(hashtest, duplicateinsertmovesthenodetothehead)
{
    for (const std::string &word : {a, b, c, d})
        insert(word);
    const hashnode *cnode = table[chain]->next->next;
    insert(c);
    EXPECT_EQ(wordsof(chain), (std::vector<std::string>{c, a, b, d}));
    EXPECT_EQ(table[chain], cnode);
    EXPECT_EQ(gDupCnt, 1);
    insert(d); // the tail
    EXPECT_EQ(wordsof(chain), (std::vector<std::string>{d, c, a, b}));
    EXPECT_EQ(gDupCnt, 2);
    insert(b);
    EXPECT_EQ(wordsof(chain), (std::vector<std::string>{b, d, c, a}));
    EXPECT_EQ(gDupCnt, 3);
    // A new line still goes after the last node, wherever the moves left it.
    insert(e);
    EXPECT_EQ(wordsof(chain), (std::vector<std::string>{b, d, c, a, e}));
    EXPECT_EQ(gDupCnt, 3);
}

TEST_F(hashtest, searchhitmovesthenodetothehead)
{
    for (const std::string &word : {a, b, c, d})
        insert(word);
    std::vector<nodestate> before = linksof(chain);
    const hashnode *found = search(a);
    EXPECT_EQ(found, table[chain]);
    EXPECT_EQ(linksof(chain), before);

    const hashnode *bnode = table[chain]->next;
    found = search(b);
    EXPECT_EQ(found, bnode);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(std::string(found->word), b);
    EXPECT_EQ(wordsof(chain), (std::vector<std::string>{b, a, c, d}));
    found = search(d);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(std::string(found->word), d);
    EXPECT_EQ(wordsof(chain), (std::vector<std::string>{d, b, a, c}));
    EXPECT_EQ(gDupCnt, 0);
}

TEST_F(hashtest, searchmissreturnsnullandleavesthechain)
{
    EXPECT_EQ(search(absent), nullptr);
    EXPECT_EQ(table[chain], nullptr);
    for (const std::string &word : {a, b, c})
        insert(word);
    search(c);
    std::vector<nodestate> before = linksof(chain);
    EXPECT_EQ(search(absent), nullptr);
    EXPECT_EQ(search(""), nullptr);
    EXPECT_EQ(linksof(chain), before);
    EXPECT_EQ(gDupCnt, 0);
}

TEST_F(hashtest, emptylinelivesinitschain)
{
    insert("");
    ASSERT_NE(table[110665], nullptr);
    EXPECT_STREQ(table[110665]->word, "");
    EXPECT_EQ(table[110665]->next, nullptr);
    EXPECT_EQ(search(""), table[110665]);
    insert("");
    EXPECT_EQ(gDupCnt, 1);
    EXPECT_EQ(wordsof(110665), (std::vector<std::string>{""}));
}

// Random inserts and lookups on one crowded chain against a list that follows
// the rules: hits move to the front, new lines go to the back.
TEST_F(hashtest, chainfollowsmovetofrontmodel)
{
    const std::vector<std::string> &words = collidingwords();
    std::list<std::string> model;
    std::int64_t duplicates = 0;
    std::mt19937 rng(4242);
    for (int step = 0; step < 3000; ++step) {
        const std::string &word = words[rng() % words.size()];
        auto at = std::find(model.begin(), model.end(), word);
        bool hit = at != model.end();
        if (hit)
            model.splice(model.begin(), model, at);
        if (rng() % 2 == 0) {
            insert(word);
            if (hit)
                ++duplicates;
            else
                model.push_back(word);
        } else {
            const hashnode *found = search(word);
            if (hit) {
                ASSERT_NE(found, nullptr) << "step " << step;
                ASSERT_EQ(found, table[chain]) << "step " << step;
            } else {
                ASSERT_EQ(found, nullptr) << "step " << step;
            }
        }
        ASSERT_EQ(wordsof(chain), std::vector<std::string>(model.begin(), model.end())) << "step " << step;
        ASSERT_EQ(gDupCnt, duplicates) << "step " << step;
    }
}

// Many lines with repeats: each distinct line stored once, in the chain that
// its hash names, and found again.
TEST_F(hashtest, everylineisstoredonceinitschain)
{
    std::mt19937 rng(77);
    std::set<std::string> distinct;
    const int inserts = 20000;
    for (int i = 0; i < inserts; ++i) {
        std::string line = std::to_string(rng() % 8000);
        if (i % 5 == 0)
            line += "\xe9\x80";
        insert(line);
        distinct.insert(line);
    }
    EXPECT_EQ(gDupCnt, inserts - static_cast<std::int64_t>(distinct.size()));
    std::multiset<std::string> stored;
    for (std::uint32_t index = 0; index < HASHSIZE; ++index)
        for (const hashnode *node = table[index]; node != nullptr; node = node->next) {
            ASSERT_EQ(chainof(node->word), index) << node->word;
            stored.insert(node->word);
        }
    EXPECT_EQ(stored, std::multiset<std::string>(distinct.begin(), distinct.end()));
    for (const std::string &line : distinct) {
        const hashnode *node = search(line);
        ASSERT_NE(node, nullptr) << line;
        EXPECT_EQ(std::string(node->word), line);
    }
}

} // namespace
