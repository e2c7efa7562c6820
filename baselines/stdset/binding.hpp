// The STDSET baseline binding: the driver built against std::set<std::string>,
// the ordered container a C++ programmer would otherwise reach for.  A tool of
// the benchmark suite, not a deliverable: it links the C++ library.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <string_view>

inline constexpr char storelabel[] = "STDSET";
inline constexpr char storelookupfailure[] = "GETSTRING(stdset) failed -- BUG!\n";

// std::less<> lets the set compare a string_view with its strings.
using baselineset = std::set<std::string, std::less<>>;
using baselineview = std::string_view;

#include "baselines/baseline.hpp"
