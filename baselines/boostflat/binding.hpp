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
#include <string>
#include <string_view>
#include <type_traits>

#include <boost/assert/source_location.hpp>
#include <boost/container_hash/hash.hpp>
#include <boost/unordered/unordered_flat_set.hpp>

#include "driver/common.hpp"

inline constexpr char storelabel[] = "BOOSTFLAT";

// The slot array grows on the heap with the set; nothing is static.
inline constexpr std::size_t storefootprint = 0;

// A transparent hash and equality let a lookup take the line as a string_view.
// A view converts to std::string only explicitly, so find(view) compiles only
// where the set looks the view up as it is, and neither a lookup nor the insert
// of a duplicate builds a temporary string.  The hash is Boost's own for the
// bytes, which Boost marks as avalanching, as it does its std::string hash, so
// the set mixes no further, as it would with its default hash.
struct boostflatkey {
    using is_transparent = void;
    using is_avalanching = void;
    std::size_t operator()(std::string_view line) const { return boost::hash<std::string_view>{}(line); }
};
using boostflatstore = boost::unordered_flat_set<std::string, boostflatkey, std::equal_to<>>;
static_assert(!std::is_convertible_v<std::string_view, std::string>);
static_assert(requires(const boostflatstore &set, std::string_view key) { set.find(key); });

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

// Like the project's stores, the set is never torn down: the end of the process
// releases it, so a large set does not add its destruction to the run.  The
// static pointer keeps it reachable to the end, for leak checkers too.
inline boostflatstore *boostflat;
using storecontainer = boostflatstore *;
inline storecontainer storecreate() { return boostflat = new boostflatstore; }

// A new line is hashed twice, by find and by emplace, as in the STDHASH
// baseline; a duplicate costs one hash and no copy.
inline void storeinsert(storecontainer &set, const char *line)
{
    std::string_view key(line);
    if (set->find(key) != set->end())
        ++gDupCnt;
    else
        set->emplace(key);
}

inline const void *storelookup(storecontainer &set, const char *line)
{
    auto found = set->find(std::string_view(line));
    return found == set->end() ? nullptr : &*found;
}

// Every line looked up was inserted, so a miss means the store is broken.
inline constexpr bool storechecklookup = true;
inline constexpr char storelookupfailure[] = "GETSTRING(boostflat) failed -- BUG!\n";
