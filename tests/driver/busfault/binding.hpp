// A HASH binding for tests only: the real hash store, except that inserting
// the line "bus" reads a page mapped past the end of an empty file.  That is a
// real bus error, at an address outside the input's mapping, during the store
// pass: the read-fault guard must leave it to its default action and not
// report the input as a file that shrank.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#define storeinsert hashbindinginsert
#include "hash/binding.hpp"
#undef storeinsert

inline constexpr char busfaultline[] = "bus";

inline void storeinsert(storecontainer &table, const char *line)
{
    if (std::strcmp(line, busfaultline) == 0) {
        std::FILE *empty = std::tmpfile();
        auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        void *beyond =
            empty == nullptr ? MAP_FAILED : mmap(nullptr, page, PROT_READ, MAP_SHARED, fileno(empty), 0);
        if (beyond != MAP_FAILED)
            static_cast<void>(*static_cast<volatile const char *>(beyond));
    }
    hashbindinginsert(table, line);
}
