// The HATTRIE baseline binding: the driver built against the HAT-trie C
// library, keyed by the line and its length: a trie of 256-way nodes over the
// lines' first bytes whose leaves are small array hash tables holding the
// rest of each line, burst into a new trie node when they fill.  A tool of the
// benchmark suite, not a deliverable: it links libhat-trie, which takes all of
// its memory from malloc (and ends the process itself when malloc fails).
#pragma once

#include <hat-trie/hat-trie.h>

#include <cstddef>
#include <cstring>

#include "driver/common.hpp"

inline constexpr char storelabel[] = "HATTRIE";
inline constexpr char storelookupfailure[] = "GETSTRING(hattrie) failed -- BUG!\n";

// The trie lives on the heap; nothing is static.
inline constexpr std::size_t storefootprint = 0;

// The trie keeps its own copy of each line's bytes and a word of value per line.
// Like the project's stores, it is never freed; the static pointer keeps it
// reachable to the end, for leak checkers too.
inline hattrie_t *hattrie;
using storecontainer = hattrie_t *;
inline storecontainer storecreate() { return hattrie = hattrie_create(); }

// One call finds the line or inserts it: a new line's value is 0, and set to 1
// here, so a value already set marks a duplicate.  The trie packs each value
// word right after its line's bytes, unaligned, so it is read and written
// with memcpy.
inline void storeinsert(storecontainer &trie, const char *line)
{
    value_t *value = hattrie_get(trie, line, std::strlen(line));
    value_t held;
    std::memcpy(&held, value, sizeof held);
    if (held != 0) {
        ++gDupCnt;
    } else {
        const value_t one = 1;
        std::memcpy(value, &one, sizeof one);
    }
}

// The line's value word, or null for a line not stored.
inline const void *storelookup(storecontainer &trie, const char *line)
{
    return hattrie_tryget(trie, line, std::strlen(line));
}

// Every line looked up was inserted, so a miss means the store is broken.
inline constexpr bool storechecklookup = true;
