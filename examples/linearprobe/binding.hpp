// linearprobe: a store of one's own, benchmarked by linebench without a change
// to the project.  Built with -DLINEBENCH_EXTRA_STORES=examples/linearprobe,
// it becomes linebench-linearprobe, with the same tests as the baselines.
//
// A set of lines by open addressing with linear probing: a power-of-two array
// of pointers to the store's own copies of the lines, kept at most half full.
// A line's hash picks its first slot; a probe walks on to the next slot until
// it meets the line or an empty slot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// The driver's side of the contract: gDupCnt, and storealloc and storecopy,
// which end the run with a message when memory runs out.
#include "driver/common.hpp"

inline constexpr char storelabel[] = "LINEARPROBE";
inline constexpr char storelookupfailure[] = "GETSTRING(linearprobe) failed -- BUG!\n";

// The slot array lives on the heap; nothing is static.
inline constexpr std::size_t storefootprint = 0;

struct linearprobe {
    const char **slots; // null where empty
    std::size_t mask;   // slots - 1
    std::size_t count;  // lines stored
};
using storecontainer = linearprobe;

inline const char **emptyslots(std::size_t count)
{
    auto slots = static_cast<const char **>(storealloc(count * sizeof(const char *)));
    std::memset(slots, 0, count * sizeof(const char *));
    return slots;
}

inline linearprobe storecreate() { return {emptyslots(16), 15, 0}; }

// FNV-1a over the line's bytes.
inline std::uint64_t linehash(const char *line)
{
    std::uint64_t hash = 14695981039346656037u;
    for (; *line != '\0'; ++line)
        hash = (hash ^ static_cast<unsigned char>(*line)) * 1099511628211u;
    return hash;
}

// The slot that holds the line, or the empty slot where it belongs.
inline const char **findslot(const linearprobe &set, const char *line)
{
    for (std::size_t slot = linehash(line) & set.mask;; slot = (slot + 1) & set.mask)
        if (set.slots[slot] == nullptr || std::strcmp(set.slots[slot], line) == 0)
            return &set.slots[slot];
}

// Doubles the array and moves every line to its slot there.
inline void grow(linearprobe &set)
{
    linearprobe bigger{emptyslots(2 * (set.mask + 1)), 2 * set.mask + 1, set.count};
    for (std::size_t slot = 0; slot <= set.mask; ++slot)
        if (set.slots[slot] != nullptr)
            *findslot(bigger, set.slots[slot]) = set.slots[slot];
    std::free(set.slots);
    set = bigger;
}

// Keeps one copy of each distinct line; a line already present only counts.
inline void storeinsert(linearprobe &set, const char *line)
{
    const char **slot = findslot(set, line);
    if (*slot != nullptr) {
        ++gDupCnt;
        return;
    }
    *slot = storecopy(line);
    if (++set.count * 2 > set.mask + 1)
        grow(set);
}

// The line's slot, or null for a line not stored.
inline const void *storelookup(linearprobe &set, const char *line)
{
    const char **slot = findslot(set, line);
    return *slot != nullptr ? slot : nullptr;
}

// Every line looked up was inserted, so a miss means the store is broken.
inline constexpr bool storechecklookup = true;
