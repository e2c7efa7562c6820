// The BOOSTFLAT baseline binding: the driver built against
// boost::unordered_flat_set<std::string>, Boost's open-addressing hash set: the
// strings sit in one array of slots, probed by groups of 15 with a byte of
// hash each.  A tool of the benchmark suite, not a deliverable: it links the
// C++ library.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <string>
#include <string_view>

#include <boost/assert/source_location.hpp>
#include <boost/container_hash/hash.hpp>
#include <boost/unordered/unordered_flat_set.hpp>

#include "driver/common.hpp"

inline constexpr char storelabel[] = "BOOSTFLAT";
inline constexpr char storelookupfailure[] = "GETSTRING(boostflat) failed -- BUG!\n";

// A transparent hash and equality let the set look a string_view up.  The hash
// is Boost's own for the bytes, which Boost marks as avalanching, as it does
// its std::string hash, so the set mixes no further, as with its default hash.
struct boostflatkey {
    using is_transparent = void;
    using is_avalanching = void;
    std::size_t operator()(std::string_view line) const { return boost::hash<std::string_view>{}(line); }
};
using baselineset = boost::unordered_flat_set<std::string, boostflatkey, std::equal_to<>>;
using baselineview = std::string_view;

// Built without exceptions, Boost hands what it would throw (a size past
// max_size) to these, which the program must define.  A binding goes into one
// source file of each program, so they are defined once.
namespace boost
{
void throw_exception(const std::exception &error)
{
    std::fprintf(stderr, "%s: %s\n", gProgName, error.what());
    std::abort();
}
void throw_exception(const std::exception &error, const source_location &) { throw_exception(error); }
} // namespace boost

#include "baselines/baseline.hpp"
