// The HASH store binding: what the driver needs to build linebench-hash.
// The driver includes the one binding.hpp that the build puts on its path.
#pragma once

#include <sys/mman.h>

#include <cstddef>

#include "hash/hash.hpp"

inline constexpr char storelabel[] = "HASH";

// The chain heads: static storage, outside the heap, all null at start.  Laid
// on 2 MiB boundaries, so that the kernel can back them with four huge pages
// instead of 2,048 small ones: fewer first-touch faults in the store pass and
// fewer TLB misses in both passes (docs/stores.md).
inline constexpr std::size_t hugepagebytes = std::size_t{2} << 20;
alignas(hugepagebytes) inline hashnode *ht[HASHSIZE];
inline constexpr std::size_t storefootprint = sizeof ht;

// Asks for huge pages before any pass, where no time is taken.  A kernel that
// gives none (the setting "never", or no such pages at all) leaves the small
// ones, and the run goes on the same.
using storecontainer = hashnode **;
inline storecontainer storecreate()
{
    madvise(ht, sizeof ht, MADV_HUGEPAGE);
    return ht;
}

inline void storeinsert(storecontainer &table, const char *line) { hashinsert(table, line); }
inline const void *storelookup(storecontainer &table, const char *line) { return hashsearch(table, line); }

// Every line looked up was inserted, so a miss means the store is broken.
inline constexpr bool storechecklookup = true;
inline constexpr char storelookupfailure[] = "GETSTRING(hash) failed -- BUG!\n";
