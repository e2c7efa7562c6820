// The red-black tree store: one node per distinct line, ordered by strcmp,
// with parent links so that insertion and rebalancing run as loops.
#pragma once

#include <cstdint>

inline constexpr std::uint8_t RED = 0;
inline constexpr std::uint8_t BLACK = 1;

struct rbnode {
    char *word;         // the node's own NUL-terminated copy of the line
    rbnode *left;       // lines that compare less; null when empty
    rbnode *right;      // lines that compare greater; null when empty
    rbnode *parent;     // null at the root
    std::uint8_t color; // RED or BLACK
};

struct rbtree {
    rbnode *root;  // null while the tree is empty
    rbnode *found; // the node that held the line when the last insert or search began
};

rbnode *wcreate(const char *line, rbnode *parent);
void leftrotate(rbtree *tree, rbnode *x);
void rightrotate(rbtree *tree, rbnode *x);
void redblackinsert(rbtree *tree, const char *line);
void redblacksearch(rbtree *tree, const char *line);
