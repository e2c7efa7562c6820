// Test support for the scanner: a text placed so that its last byte is the last
// readable byte before an inaccessible page, and a line buffer followed by
// canary bytes.  A scanner that reads even one byte beyond the text faults at
// once instead of reading stale memory; one that writes beyond linebuf changes
// a canary byte.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "driver/scanner.hpp"

inline constexpr std::size_t canarybytes = 64;
inline constexpr char canary = '\x5a';

// A line buffer of MAXLINE bytes, then the canary bytes.
inline std::vector<char> guardedlinebuf() { return std::vector<char>(MAXLINE + canarybytes, canary); }

// The index of the first canary byte written over, or 0 when none is.
inline std::size_t canarywritten(const std::vector<char> &linebuf)
{
    for (std::size_t i = MAXLINE; i < linebuf.size(); ++i)
        if (linebuf[i] != canary)
            return i;
    return 0;
}

class guardedtext
{
  public:
    explicit guardedtext(const std::string &bytes)
    {
        std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        std::size_t datapages = (bytes.size() + page - 1) / page;
        if (datapages == 0)
            datapages = 1;
        length = (datapages + 1) * page;
        void *map = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED)
            return;
        base = static_cast<char *>(map);
        char *guard = base + datapages * page;
        mprotect(guard, page, PROT_NONE);
        textstart = guard - bytes.size();
        std::memcpy(textstart, bytes.data(), bytes.size());
    }
    ~guardedtext()
    {
        if (base != nullptr)
            munmap(base, length);
    }
    guardedtext(const guardedtext &) = delete;
    guardedtext &operator=(const guardedtext &) = delete;

    bool ok() const { return base != nullptr; }
    const char *begin() const { return textstart; }
    const char *end() const { return base == nullptr ? nullptr : base + length - pagesize(); }

  private:
    static std::size_t pagesize() { return static_cast<std::size_t>(sysconf(_SC_PAGESIZE)); }
    char *base = nullptr;
    char *textstart = nullptr;
    std::size_t length = 0;
};
