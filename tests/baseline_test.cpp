// A baseline binding against the driver's contract: one copy of each distinct
// line, a count of the duplicates, every line found again, and no allocation
// by a lookup or by the insert of a duplicate, so that neither builds a
// temporary std::string.  Built once per baseline, with its binding.hpp on the
// include path.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "binding.hpp"

static long gNewCnt; // calls of operator new in this process

void *operator new(std::size_t bytes)
{
    ++gNewCnt;
    void *block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block == nullptr)
        std::abort();
    return block;
}
void operator delete(void *block) noexcept { std::free(block); }
void operator delete(void *block, std::size_t) noexcept { std::free(block); }

TEST(baseline, keepsonecopyfindseverylineandallocatesonlyfornewlines)
{
    // Longer than any short-string buffer, so a temporary std::string would
    // have to allocate.
    std::vector<std::string> lines{""};
    for (int i = 0; i < 2000; ++i)
        lines.push_back("a line too long for a short-string buffer, number " + std::to_string(i));
    storecontainer store = storecreate();
    for (const auto &line : lines)
        storeinsert(store, line.c_str());
    EXPECT_EQ(gDupCnt, 0);

    long allocated = gNewCnt;
    std::size_t wrong = 0;
    for (const auto &line : lines) {
        storeinsert(store, line.c_str());
        auto found = static_cast<const std::string *>(storelookup(store, line.c_str()));
        wrong += found == nullptr || *found != line;
    }
    EXPECT_EQ(gNewCnt, allocated) << "a lookup or a duplicate insert allocated";
    EXPECT_EQ(wrong, 0u) << "lines not found, or found as other lines";
    EXPECT_EQ(gDupCnt, static_cast<std::int64_t>(lines.size()));
    EXPECT_EQ(storelookup(store, "a line too long for a short-string buffer, never stored"), nullptr);
}
