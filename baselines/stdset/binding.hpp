// The STDSET baseline binding: the driver built against std::set<std::string>,
// the ordered container a C++ programmer would otherwise reach for.  A tool of
// the benchmark suite, not a deliverable: it links the C++ library.
#pragma once

#include <cstddef>
#include <functional>
#include <set>
#include <string>
#include <string_view>

#include "driver/common.hpp"

inline constexpr char storelabel[] = "STDSET";

// Everything, the set's header included, lives on the heap.
inline constexpr std::size_t storefootprint = 0;

// std::less<> lets a lookup take the line as a string_view, so that neither a
// lookup nor the insert of a duplicate builds a temporary std::string.
using stdsetstore = std::set<std::string, std::less<>>;

// Like the project's stores, the set is never torn down: the end of the process
// releases it, so a large set does not add its destruction to the run.  The
// static pointer keeps it reachable to the end, for leak checkers too.
inline stdsetstore *stdset;
using storecontainer = stdsetstore *;
inline storecontainer storecreate() { return stdset = new stdsetstore; }

// One descent: lower_bound finds the line or the place where it belongs.
inline void storeinsert(storecontainer &set, const char *line)
{
    std::string_view key(line);
    auto place = set->lower_bound(key);
    if (place != set->end() && *place == key)
        ++gDupCnt;
    else
        set->emplace_hint(place, key);
}

inline const void *storelookup(storecontainer &set, const char *line)
{
    auto found = set->find(std::string_view(line));
    return found == set->end() ? nullptr : &*found;
}

// Every line looked up was inserted, so a miss means the store is broken.
inline constexpr bool storechecklookup = true;
inline constexpr char storelookupfailure[] = "GETSTRING(stdset) failed -- BUG!\n";
