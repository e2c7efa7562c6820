// The ABSLFLAT baseline binding: the driver built against
// absl::flat_hash_set<std::string>, Abseil's open-addressing hash set: the
// strings sit in one array of slots, probed by groups of 16 control bytes.
// A tool of the benchmark suite, not a deliverable: it links the C++ library
// and Abseil.
#pragma once

#include <cstddef>
#include <string>
#include <type_traits>

#include "absl/container/flat_hash_set.h"
#include "absl/strings/string_view.h"
#include "driver/common.hpp"

inline constexpr char storelabel[] = "ABSLFLAT";

// The slot array grows on the heap with the set; nothing is static.
inline constexpr std::size_t storefootprint = 0;

// Abseil's default hash and equality for std::string are transparent: they take
// an absl::string_view.  A view converts to std::string only explicitly, so
// find(view) compiles only where the set looks the view up as it is, and
// neither a lookup nor the insert of a duplicate builds a temporary string.
using abslflatstore = absl::flat_hash_set<std::string>;
static_assert(!std::is_convertible_v<absl::string_view, std::string>);
static_assert(requires(const abslflatstore &set, absl::string_view key) { set.find(key); });

// Like the project's stores, the set is never torn down: the end of the process
// releases it, so a large set does not add its destruction to the run.  The
// static pointer keeps it reachable to the end, for leak checkers too.
inline abslflatstore *abslflat;
using storecontainer = abslflatstore *;
inline storecontainer storecreate() { return abslflat = new abslflatstore; }

// A new line is hashed twice, by find and by emplace, as in the STDHASH
// baseline; a duplicate costs one hash and no copy.
inline void storeinsert(storecontainer &set, const char *line)
{
    absl::string_view key(line);
    if (set->find(key) != set->end())
        ++gDupCnt;
    else
        set->emplace(key);
}

inline const void *storelookup(storecontainer &set, const char *line)
{
    auto found = set->find(absl::string_view(line));
    return found == set->end() ? nullptr : &*found;
}

// Every line looked up was inserted, so a miss means the store is broken.
inline constexpr bool storechecklookup = true;
inline constexpr char storelookupfailure[] = "GETSTRING(abslflat) failed -- BUG!\n";
