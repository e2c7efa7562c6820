// The HASH store binding: what the driver needs to build linebench-hash.
// The driver includes the one binding.hpp that the build puts on its path.
#pragma once

#include <cstddef>

#include "hash/hash.hpp"

inline constexpr char storelabel[] = "HASH";

// The chain heads: static storage, outside the heap, all null at start.
inline hashnode *ht[HASHSIZE];
inline constexpr std::size_t storefootprint = sizeof ht;

using storecontainer = hashnode **;
inline storecontainer storecreate() { return ht; }

inline void storeinsert(storecontainer &table, const char *line) { hashinsert(table, line); }
inline const void *storelookup(storecontainer &table, const char *line) { return hashsearch(table, line); }

// Every line looked up was inserted, so a miss means the store is broken.
inline constexpr bool storechecklookup = true;
inline constexpr char storelookupfailure[] = "GETSTRING(hash) failed -- BUG!\n";
