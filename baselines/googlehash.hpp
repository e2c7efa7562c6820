// The rest of a binding of one of Google's sparsehash sets, made from the set's
// template (googlesettemplate).  A baseline's binding.hpp names its label, its
// lookup failure message and the template, then includes this.
//
// The set holds a pointer to the store's own NUL-terminated copy of each line,
// hashed and compared by its bytes, as sparsehash's own examples key by C
// strings.  The sets look up only by their key type, but a pointer to the line
// in the driver's buffer is a key as it is, so neither a lookup nor the insert
// of a duplicate copies or allocates anything.
#pragma once

#include <cstddef>
#include <cstring>
#include <functional>
#include <string_view>

#include "driver/common.hpp"

// The line's bytes hashed exactly as std::hash<std::string> hashes them.
struct googlelinehash {
    std::size_t operator()(const char *line) const { return std::hash<std::string_view>{}(line); }
};

// Equal bytes.  dense_hash_set compares every slot it probes with its empty
// key, the null pointer, so a null pointer equals only itself.
struct googlelineequal {
    bool operator()(const char *a, const char *b) const
    {
        return a == b || (a != nullptr && b != nullptr && std::strcmp(a, b) == 0);
    }
};

using baselineset = googlesettemplate<const char *, googlelinehash, googlelineequal>;

// The set and its table live on the heap; nothing is static.
inline constexpr std::size_t storefootprint = 0;

// Like the project's stores, the set is never torn down: the end of the process
// releases it.  The static pointer keeps it reachable to the end, for leak
// checkers too.
inline baselineset *baseline;
using storecontainer = baselineset *;

// dense_hash_set marks its free slots with a key that no line can be.
template <typename Set> Set *googlecreate()
{
    Set *set = new Set;
    if constexpr (requires { set->set_empty_key(nullptr); })
        set->set_empty_key(nullptr);
    return set;
}
inline storecontainer storecreate() { return baseline = googlecreate<baselineset>(); }

// Looks the line up first and copies it only when it is new, as the project's
// stores do: a new line is hashed twice, a duplicate once.
inline void storeinsert(storecontainer &set, const char *line)
{
    if (set->find(line) != set->end())
        ++gDupCnt;
    else
        set->insert(storecopy(line));
}

inline const void *storelookup(storecontainer &set, const char *line)
{
    auto found = set->find(line);
    return found == set->end() ? nullptr : &*found;
}

// Every line looked up was inserted, so a miss means the store is broken.
inline constexpr bool storechecklookup = true;
