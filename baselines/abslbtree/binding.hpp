// The ABSLBTREE baseline binding: the driver built against
// absl::btree_set<std::string>, Abseil's B-tree: many strings to a node, so a
// lookup takes fewer cache misses than a binary tree's one per level.  A tool
// of the benchmark suite, not a deliverable: it links the C++ library and
// Abseil.
#pragma once

#include <string>

#include "absl/container/btree_set.h"
#include "absl/strings/string_view.h"

inline constexpr char storelabel[] = "ABSLBTREE";
inline constexpr char storelookupfailure[] = "GETSTRING(abslbtree) failed -- BUG!\n";

// Abseil orders std::string keys with a transparent comparison that takes an
// absl::string_view.
using baselineset = absl::btree_set<std::string>;
using baselineview = absl::string_view;

#include "baselines/baseline.hpp"
