// Included ahead of the tree's source in its prefetch test's build only: every
// prefetch that a descent asks for is recorded, in order, instead of issued.
#pragma once

#include <vector>

inline std::vector<const void *> gPrefetched;

#define __builtin_prefetch(address) gPrefetched.push_back(address)
