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

#include "driver/common.hpp"

inline constexpr char storelabel[] = "STDHASH";

// The bucket array grows on the heap with the set; nothing is static.
inline constexpr std::size_t storefootprint = 0;

// A transparent hash and equality let a lookup take the line as a string_view,
// so that neither a lookup nor the insert of a duplicate builds a temporary
// std::string.  Both hash the bytes exactly as std::hash<std::string> does.
struct stdhashkey {
    using is_transparent = void;
    std::size_t operator()(std::string_view line) const { return std::hash<std::string_view>{}(line); }
};
using stdhashstore = std::unordered_set<std::string, stdhashkey, std::equal_to<>>;

// Like the project's stores, the set is never torn down: the end of the process
// releases it, so a large set does not add its destruction to the run.  The
// static pointer keeps it reachable to the end, for leak checkers too.
inline stdhashstore *stdhash;
using storecontainer = stdhashstore *;
inline storecontainer storecreate() { return stdhash = new stdhashstore; }

// A new line is hashed twice, by find and by emplace: the container offers no
// insert that reuses a hash, and a duplicate then costs one hash and no copy.
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
inline constexpr char storelookupfailure[] = "GETSTRING(stdhash) failed -- BUG!\n";
