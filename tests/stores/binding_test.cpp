// A store's binding against the driver's contract: one copy of each distinct
// line, a count of the duplicates, every line found again as its own entry,
// and no allocation by a lookup or by the insert of a duplicate, so that
// neither builds a temporary key.  Built once per store, with its binding.hpp
// on the include path.
//
// Every allocation is counted, operator new and malloc alike, as the C
// libraries and sparsehash allocate with malloc.  The sanitizer build counts
// through the sanitizer's allocator hooks, since its allocator stands in for
// malloc; the plain build puts its own malloc in front of glibc's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "binding.hpp"

static long gAllocCnt; // allocations in this process

#ifdef LINEBENCH_SANITIZE
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void *, std::size_t),
                                                         void (*)(const volatile void *));
static void countmalloc(const volatile void *, std::size_t) { ++gAllocCnt; }
static void countfree(const volatile void *) {}
[[maybe_unused]] static const int gHooked = __sanitizer_install_malloc_and_free_hooks(countmalloc, countfree);
#else
extern "C" {
void *__libc_malloc(std::size_t);
void *__libc_calloc(std::size_t, std::size_t);
void *__libc_realloc(void *, std::size_t);
void __libc_free(void *);

void *malloc(std::size_t bytes)
{
    ++gAllocCnt;
    return __libc_malloc(bytes);
}
void *calloc(std::size_t count, std::size_t bytes)
{
    ++gAllocCnt;
    return __libc_calloc(count, bytes);
}
void *realloc(void *block, std::size_t bytes)
{
    ++gAllocCnt;
    return __libc_realloc(block, bytes);
}
void free(void *block) { __libc_free(block); }
}
#endif

void *operator new(std::size_t bytes)
{
    ++gAllocCnt;
    void *block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block == nullptr)
        std::abort();
    return block;
}
void operator delete(void *block) noexcept { std::free(block); }
void operator delete(void *block, std::size_t) noexcept { std::free(block); }

#ifdef LINEBENCH_LOOKUP_ALLOCATES
inline constexpr bool lookupallocates = true;
#else
inline constexpr bool lookupallocates = false;
#endif

TEST(store, keepsonecopyfindseverylineandallocatesonlyfornewlines)
{
    // The empty line; lines longer than any short-string buffer, so that a
    // temporary std::string would have to allocate; lines that are prefixes of
    // others, and bytes from 128 up, which tries branch on.
    std::vector<std::string> lines{"", "\x80", "\xff\x01"};
    for (int i = 0; i < 2000; ++i)
        lines.push_back("a line too long for a short-string buffer, number " + std::to_string(i));
    for (std::size_t length = 1; length <= 40; ++length)
        lines.push_back(std::string(length, 'p'));
    storecontainer store = storecreate();
    for (const auto &line : lines)
        storeinsert(store, line.c_str());
    EXPECT_EQ(gDupCnt, 0);

    std::vector<const void *> entries;
    entries.reserve(lines.size());
    long allocated = gAllocCnt;
    for (const auto &line : lines) {
        storeinsert(store, line.c_str());
        entries.push_back(storelookup(store, line.c_str()));
    }
    if (!lookupallocates) {
        EXPECT_EQ(gAllocCnt, allocated) << "a lookup or a duplicate insert allocated";
    }
    EXPECT_EQ(gDupCnt, static_cast<std::int64_t>(lines.size()));

    std::vector<const void *> sorted = entries;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::count(entries.begin(), entries.end(), nullptr), 0) << "lines not found";
    EXPECT_TRUE(std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end())
        << "two lines found as one entry";
    if constexpr (storechecklookup) {
        EXPECT_EQ(storelookup(store, "a line too long for a short-string buffer, never stored"), nullptr);
    }
}
