// A broken HASH binding, for tests only: the real hash store, label and lookup
// check, except that its insert drops one line.  The lookup pass then misses
// that line, so the driver's lookup check must fire.
#pragma once

#include <cstring>

#define storeinsert hashbindinginsert
#include "hash/binding.hpp"
#undef storeinsert

// The line that the store never receives.
inline constexpr char lookupchecklost[] = "lost";

inline void storeinsert(storecontainer &table, const char *line)
{
    if (std::strcmp(line, lookupchecklost) != 0)
        hashbindinginsert(table, line);
}
