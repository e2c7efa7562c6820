// The STDHASH baseline binding: the driver built against
// std::unordered_set<std::string>, the hash container a C++ programmer would
// otherwise reach for.  A tool of the benchmark suite, not a deliverable: it
// links the C++ library.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>

inline constexpr char storelabel[] = "STDHASH";
inline constexpr char storelookupfailure[] = "GETSTRING(stdhash) failed -- BUG!\n";

// A transparent hash and equality let the set look a string_view up.  The hash
// takes the bytes exactly as std::hash<std::string> does.
struct stdhashkey {
    using is_transparent = void;
    std::size_t operator()(std::string_view line) const { return std::hash<std::string_view>{}(line); }
};
using baselineset = std::unordered_set<std::string, stdhashkey, std::equal_to<>>;
using baselineview = std::string_view;

#include "baselines/baseline.hpp"
