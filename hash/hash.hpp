// The hash table store: a fixed table of HASHSIZE chain heads addressed by the
// shift-add-xor hash bitwisehash, with move-to-front on every hit.
#pragma once

#include <cstdint>

inline constexpr std::uint32_t HASHSIZE = 1048576; // chain heads; never grows
inline constexpr std::uint32_t HASHSEED = 1159241; // the hash's initial value

struct hashnode {
    char *word;     // the node's own NUL-terminated copy of the line
    hashnode *next; // next node of the same chain; null at the tail
};

std::uint32_t bitwisehash(const char *word, std::uint32_t tsize, std::uint32_t seed);
hashnode *hashsearch(hashnode **table, const char *line);
void hashinsert(hashnode **table, const char *line);
