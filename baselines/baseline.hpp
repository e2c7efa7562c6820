// The rest of a baseline's binding, made from its set and view types.  A
// baseline's binding.hpp names its label, its lookup failure message, its set
// (baselineset) and the view that the set looks lines up by (baselineview),
// then includes this.
#pragma once

#include <cstddef>
#include <string>
#include <type_traits>

#include "driver/common.hpp"

// A view converts to std::string only explicitly, so where find(view)
// compiles, the set looks the view up as it is, and neither a lookup nor the
// insert of a duplicate builds a temporary string.
template <typename Set>
concept findsbyview =
    !std::is_convertible_v<baselineview, std::string> && requires(const Set &set, baselineview key)
{
    set.find(key);
};
static_assert(findsbyview<baselineset>, "the set must look a line up by its view");

template <typename Set>
concept orderedset = requires(Set &set, baselineview key)
{
    set.lower_bound(key);
};

// The set, its table or nodes included, lives on the heap; nothing is static.
inline constexpr std::size_t storefootprint = 0;

// Like the project's stores, the set is never torn down: the end of the process
// releases it, so a large set does not add its destruction to the run.  The
// static pointer keeps it reachable to the end, for leak checkers too.
inline baselineset *baseline;
using storecontainer = baselineset *;
inline storecontainer storecreate() { return baseline = new baselineset; }

// Looks the line up first and copies it only when it is new, as the project's
// stores do.
template <typename Set> void baselineinsert(Set &set, baselineview key)
{
    if constexpr (orderedset<Set>) {
        // One descent finds the line or the place where it belongs.
        auto place = set.lower_bound(key);
        if (place != set.end() && baselineview(*place) == key)
            ++gDupCnt;
        else
            set.emplace_hint(place, key);
    } else {
        // A new line is hashed twice, by find and by emplace, as no hash set
        // here inserts a view reusing a hash; a duplicate costs one hash.
        if (set.find(key) != set.end())
            ++gDupCnt;
        else
            set.emplace(key);
    }
}

inline void storeinsert(storecontainer &set, const char *line) { baselineinsert(*set, baselineview(line)); }

inline const void *storelookup(storecontainer &set, const char *line)
{
    auto found = set->find(baselineview(line));
    return found == set->end() ? nullptr : &*found;
}

// Every line looked up was inserted, so a miss means the store is broken.
inline constexpr bool storechecklookup = true;
