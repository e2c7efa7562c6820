// linebench-shape: shows why the two stores' figures are what they are on a
// file.  No timings: it fills both stores with their own code, the way the two
// programs do (a store pass inserting every line in file order, then a lookup
// pass looking every line up in file order, move-to-front included), and
// prints the shape that their costs follow.
//
// The stores are not instrumented; their costs are fixed by their structure.
// The tree's search makes one strcmp per level and stops at the line, so a
// lookup's compares are the depth of the node it finds.  A chain walk compares
// node by node up to the line, so a lookup's nodes visited are the line's
// position in its chain, read by a walk of our own just before the lookup
// reorders the chain.
//
// Output, on standard output, one "key value" pair per line in this order:
// lines, stored, tree.height, tree.height_bound, tree.mean_depth,
// tree.compares_per_lookup, hash.chains_used, hash.longest_chain,
// hash.mean_chain, hash.nodes_per_lookup, hash.spread, scanner.kernel.
// Counts print as integers, tree.height_bound with one decimal, the other
// ratios with three; scanner.kernel names the scanner kernel that the passes
// ran, the one the two programs run on this CPU.
// Exit status 0 after a full run, 1 after any failure, as the programs.

#include <algorithm>
#include <bit>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "driver/common.hpp"
#include "driver/mapping.hpp"
#include "driver/scanner.hpp"
#include "hash/hash.hpp"
#include "redblack/redblack.hpp"

// The hash store's chain heads, all null at start, as in linebench-hash.
static hashnode *table[HASHSIZE];

// One pass over the text with the programs' scanner kernel: scan each line
// into linebuf and hand it to work.
template <typename Work> static void pass(const inputtext &input, char *linebuf, Work work)
{
    scanpass(passkernel(), input.text, input.end, linebuf, work);
}

// Depth of a node, the root at depth 1.
static std::uint64_t depthof(const rbnode *node)
{
    std::uint64_t depth = 0;
    for (; node != nullptr; node = node->parent)
        ++depth;
    return depth;
}

// Nodes that a walk of the line's chain visits: up to and including the line,
// or the whole chain when the line is absent.
static std::uint64_t chainvisits(hashnode *const *heads, const char *line)
{
    std::uint64_t visits = 0;
    for (const hashnode *node = heads[bitwisehash(line, HASHSIZE, HASHSEED)]; node != nullptr;
         node = node->next) {
        ++visits;
        if (std::strcmp(node->word, line) == 0)
            break;
    }
    return visits;
}

struct treeshape {
    std::uint64_t height = 0;   // nodes on the longest path from the root
    std::uint64_t depthsum = 0; // depths of all nodes, the root at 1
};

// Visits every node once through the parent links, without a stack: a node is
// entered from its parent, then left for its left child, its right child and
// its parent in turn.
static treeshape measuretree(const rbtree &tree)
{
    treeshape shape;
    std::uint64_t depth = 1;
    const rbnode *from = nullptr;
    const rbnode *node = tree.root;
    while (node != nullptr) {
        const rbnode *next = node->parent;
        if (from == node->parent) {
            shape.depthsum += depth;
            shape.height = std::max(shape.height, depth);
            next = node->left != nullptr ? node->left : node->right != nullptr ? node->right : next;
        } else if (from == node->left && node->right != nullptr) {
            next = node->right;
        }
        depth = next == node->parent ? depth - 1 : depth + 1;
        from = node;
        node = next;
    }
    return shape;
}

struct hashshape {
    std::uint64_t chainsused = 0; // chains holding at least one line
    std::uint64_t longest = 0;    // nodes in the longest chain
    std::uint64_t squaresum = 0;  // sum of the squared chain lengths
};

// Exact while stored lines number below 2^32: the sum of squares is at most
// stored squared.
static hashshape measurechains(hashnode *const *heads)
{
    hashshape shape;
    for (std::uint32_t index = 0; index < HASHSIZE; ++index) {
        std::uint64_t length = 0;
        for (const hashnode *node = heads[index]; node != nullptr; node = node->next)
            ++length;
        shape.chainsused += length != 0;
        shape.longest = std::max(shape.longest, length);
        shape.squaresum += length * length;
    }
    return shape;
}

// log2 of x >= 1 without the maths library, so the program links libc alone:
// the integer part from the bit width, then the fraction one bit at a time by
// squaring the mantissa, to the precision of a double.
static double log2of(std::uint64_t x)
{
    int whole = std::bit_width(x) - 1;
    double mantissa = static_cast<double>(x) / static_cast<double>(std::uint64_t{1} << whole);
    double fraction = 0.0;
    for (double bit = 0.5; bit > 1e-16; bit /= 2) {
        mantissa *= mantissa;
        if (mantissa >= 2.0) {
            mantissa /= 2.0;
            fraction += bit;
        }
    }
    return whole + fraction;
}

static double ratio(std::uint64_t numerator, std::uint64_t denominator)
{
    return static_cast<double>(numerator) / static_cast<double>(denominator);
}

int main(int argc, char **argv)
{
    gProgName = argc > 0 && argv[0] != nullptr ? argv[0] : "linebench-shape";
    if (argc != 2) {
        std::printf("Usage: %s <text file>\n", gProgName);
        return 1;
    }
    if (!kernelsupported(passkernel())) { // only where the build fixes a kernel
        std::fprintf(stderr, "%s: This build's scanner kernel, %s, needs instructions that this CPU lacks\n",
                     gProgName, kernelname(passkernel()));
        return 1;
    }
    inputtext input = mapinput(argv[1]);
    char linebuf[MAXLINE];

    // Each store gets its store pass and then its lookup pass, in file order,
    // as in its own program.  Every line looked up was stored, so every lookup
    // finds its line.
    rbtree tree{nullptr, nullptr};
    std::uint64_t lines = 0;
    pass(input, linebuf, [&](const char *line) {
        ++lines;
        redblackinsert(&tree, line);
    });
    auto stored = lines - static_cast<std::uint64_t>(gDupCnt);
    std::uint64_t compares = 0;
    pass(input, linebuf, [&](const char *line) {
        redblacksearch(&tree, line);
        compares += depthof(tree.found);
    });

    pass(input, linebuf, [&](const char *line) { hashinsert(table, line); });
    std::uint64_t visits = 0;
    pass(input, linebuf, [&](const char *line) {
        visits += chainvisits(table, line);
        hashsearch(table, line);
    });

    treeshape treefigures = measuretree(tree);
    hashshape hashfigures = measurechains(table);
    // Chi-square of the chain lengths against a uniform random placement of
    // the stored lines over the heads, divided by its expectation, m - 1.
    double heads = HASHSIZE;
    double chisquare = heads / static_cast<double>(stored) * static_cast<double>(hashfigures.squaresum) -
                       static_cast<double>(stored);

    std::printf("lines %" PRIu64 "\n", lines);
    std::printf("stored %" PRIu64 "\n", stored);
    std::printf("tree.height %" PRIu64 "\n", treefigures.height);
    std::printf("tree.height_bound %.1f\n", 2.0 * log2of(stored + 1));
    std::printf("tree.mean_depth %.3f\n", ratio(treefigures.depthsum, stored));
    std::printf("tree.compares_per_lookup %.3f\n", ratio(compares, lines));
    std::printf("hash.chains_used %" PRIu64 "\n", hashfigures.chainsused);
    std::printf("hash.longest_chain %" PRIu64 "\n", hashfigures.longest);
    std::printf("hash.mean_chain %.3f\n", ratio(stored, hashfigures.chainsused));
    std::printf("hash.nodes_per_lookup %.3f\n", ratio(visits, lines));
    std::printf("hash.spread %.3f\n", chisquare / (heads - 1.0));
    std::printf("scanner.kernel %s\n", kernelname(passkernel()));

    return reportwritten() ? 0 : 1;
}
