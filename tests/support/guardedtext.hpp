// Test support: a text placed so that its last byte is the last readable byte
// before an inaccessible page.  A scanner that reads even one byte beyond the
// text faults at once instead of reading stale memory.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string>

class guardedtext {
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
