// The ABSLFLAT baseline binding: the driver built against
// absl::flat_hash_set<std::string>, Abseil's open-addressing hash set: the
// strings sit in one array of slots, probed by groups of 16 control bytes.
// A tool of the benchmark suite, not a deliverable: it links the C++ library
// and Abseil.
#pragma once

#include <string>

#include "absl/container/flat_hash_set.h"
#include "absl/strings/string_view.h"

inline constexpr char storelabel[] = "ABSLFLAT";
inline constexpr char storelookupfailure[] = "GETSTRING(abslflat) failed -- BUG!\n";

// Abseil's default hash and equality for std::string are transparent: they
// take an absl::string_view.
using baselineset = absl::flat_hash_set<std::string>;
using baselineview = absl::string_view;

#include "baselines/baseline.hpp"
