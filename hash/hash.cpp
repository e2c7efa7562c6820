// Chained hash table of distinct lines.
//
// The table is a fixed array of chain heads, never resized or rehashed, so a
// chain lengthens as the lines outnumber the heads.  New lines enter at the
// tail of their chain; every hit, by insert or by lookup, moves the node to the
// head, so that lines met often are found after one comparison.  Every node of
// a chain holds a line that hashes to that chain; no two nodes hold equal lines.

#include "hash/hash.hpp"

#include <cstring>

#include "driver/common.hpp"

// Shift-add-xor over the bytes of word.  Each byte counts as a signed 8-bit
// value, so bytes from 128 up add their value minus 256.
std::uint32_t bitwisehash(const char *word, std::uint32_t tsize, std::uint32_t seed)
{
    std::uint32_t h = seed;
    for (const char *p = word; *p != '\0'; ++p) {
        auto c = static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(*p)));
        h ^= (h << 5) + c + (h >> 2);
    }
    return (h & 0x7FFFFFFFu) % tsize;
}

// Walks the line's chain.  On a hit returns the node, moved to the head with
// the others kept in order; on a miss returns null and sets *tail to the last
// link of the chain (the head itself when the chain is empty).
static inline hashnode *findmovetofront(hashnode **head, const char *line, hashnode ***tail)
{
    hashnode *prev = nullptr;
    for (hashnode *node = *head; node != nullptr; prev = node, node = node->next) {
        if (std::strcmp(node->word, line) != 0)
            continue;
        if (prev != nullptr) {
            prev->next = node->next;
            node->next = *head;
            *head = node;
        }
        return node;
    }
    *tail = prev != nullptr ? &prev->next : head;
    return nullptr;
}

hashnode *hashsearch(hashnode **table, const char *line)
{
    hashnode **tail;
    return findmovetofront(&table[bitwisehash(line, HASHSIZE, HASHSEED)], line, &tail);
}

void hashinsert(hashnode **table, const char *line)
{
    hashnode **tail;
    if (findmovetofront(&table[bitwisehash(line, HASHSIZE, HASHSEED)], line, &tail) != nullptr) {
        ++gDupCnt;
        return;
    }
    auto *node = static_cast<hashnode *>(storealloc(sizeof(hashnode)));
    node->word = storecopy(line);
    node->next = nullptr;
    *tail = node;
}
