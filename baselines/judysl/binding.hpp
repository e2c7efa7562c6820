// The JUDYSL baseline binding: the driver built against Judy's JudySL array,
// keyed by the line itself as a NUL-terminated string: a 256-way digital tree
// over the line's bytes, taken a machine word at a time, whose nodes compress
// to the keys present.  A tool of the benchmark suite, not a deliverable: it
// links libJudy, which takes all of its memory from malloc.
#pragma once

#include <Judy.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "driver/common.hpp"

inline constexpr char storelabel[] = "JUDYSL";
inline constexpr char storelookupfailure[] = "GETSTRING(judysl) failed -- BUG!\n";

// The array lives on the heap; only its handle, a pointer, is static.
inline constexpr std::size_t storefootprint = 0;

// JudySL's handle, null while the array is empty.  The array keeps its own copy
// of each line's bytes and a word of value per line.  Like the project's
// stores, it is never freed; the handle is static, so that the array stays
// reachable to the end, for leak checkers too.
inline Pvoid_t judyarray;
using storecontainer = Pvoid_t *;
inline storecontainer storecreate() { return &judyarray; }

// With a valid array, JudySLIns fails only when malloc does, and Judy does not
// say for how many bytes; the message says so, like the driver's.
[[noreturn, gnu::cold]] inline void judyoutofmemory()
{
    std::printf("%s%s: Out of memory: JudySL cannot grow\n", gRowOpen ? "\n" : "", gProgName);
    std::fflush(stdout);
    std::fprintf(stderr, "%s: Out of memory: JudySL cannot grow\n", gProgName);
    std::exit(1);
}

// One call finds the line or inserts it: a new line's value word is 0, and set
// to 1 here, so a value already set marks a duplicate.
inline void storeinsert(storecontainer &array, const char *line)
{
    PPvoid_t value = JudySLIns(array, reinterpret_cast<const std::uint8_t *>(line), nullptr);
    if (value == PPJERR)
        judyoutofmemory();
    if (*value != nullptr)
        ++gDupCnt;
    else
        *value = reinterpret_cast<void *>(1);
}

// The line's value word, or null for a line not stored.
inline const void *storelookup(storecontainer &array, const char *line)
{
    return JudySLGet(*array, reinterpret_cast<const std::uint8_t *>(line), nullptr);
}

// Every line looked up was inserted, so a miss means the store is broken.
inline constexpr bool storechecklookup = true;
