// The ABSLBTREE baseline binding: the driver built against
// absl::btree_set<std::string>, Abseil's B-tree: many strings to a node, so a
// lookup takes fewer cache misses than a binary tree's one per level.  A tool
// of the benchmark suite, not a deliverable: it links the C++ library and
// Abseil.
#pragma once

#include <cstddef>
#include <string>
#include <type_traits>

#include "absl/container/btree_set.h"
#include "absl/strings/string_view.h"
#include "driver/common.hpp"

inline constexpr char storelabel[] = "ABSLBTREE";

// Every node lives on the heap; nothing is static.
inline constexpr std::size_t storefootprint = 0;

// Abseil orders std::string keys with a transparent comparison that takes an
// absl::string_view.  A view converts to std::string only explicitly, so
// lower_bound(view) and find(view) compile only where the tree compares the
// view as it is, and neither a lookup nor the insert of a duplicate builds a
// temporary string.
using abslbtreestore = absl::btree_set<std::string>;
static_assert(!std::is_convertible_v<absl::string_view, std::string>);
static_assert(requires(const abslbtreestore &set, absl::string_view key) {
    set.find(key);
    set.lower_bound(key);
});

// Like the project's stores, the set is never torn down: the end of the process
// releases it, so a large set does not add its destruction to the run.  The
// static pointer keeps it reachable to the end, for leak checkers too.
inline abslbtreestore *abslbtree;
using storecontainer = abslbtreestore *;
inline storecontainer storecreate() { return abslbtree = new abslbtreestore; }

// One descent: lower_bound finds the line or the place where it belongs.
inline void storeinsert(storecontainer &set, const char *line)
{
    absl::string_view key(line);
    auto place = set->lower_bound(key);
    if (place != set->end() && absl::string_view(*place) == key)
        ++gDupCnt;
    else
        set->emplace_hint(place, key);
}

inline const void *storelookup(storecontainer &set, const char *line)
{
    auto found = set->find(absl::string_view(line));
    return found == set->end() ? nullptr : &*found;
}

// Every line looked up was inserted, so a miss means the store is broken.
inline constexpr bool storechecklookup = true;
inline constexpr char storelookupfailure[] = "GETSTRING(abslbtree) failed -- BUG!\n";
