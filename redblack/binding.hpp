// The REDBLACK store binding: what the driver needs to build linebench-redblack.
// The driver includes the one binding.hpp that the build puts on its path.
#pragma once

#include <cstddef>

#include "redblack/redblack.hpp"

inline constexpr char storelabel[] = "REDBLACK";

// Bytes of static storage outside the heap: the tree has none.
inline constexpr std::size_t storefootprint = 0;

// The tree handle lives in main; it starts empty.
using storecontainer = rbtree;
inline storecontainer storecreate() { return rbtree{nullptr, nullptr}; }

inline void storeinsert(storecontainer &tree, const char *line) { redblackinsert(&tree, line); }

// The tree leaves its answer in found; the driver never examines it.
inline const void *storelookup(storecontainer &tree, const char *line)
{
    redblacksearch(&tree, line);
    return tree.found;
}
inline constexpr bool storechecklookup = false;
inline constexpr char storelookupfailure[] = "";
