// The order that removes blanks from 8 bytes by one byte shuffle or table
// lookup, shared by the kernels whose instruction set has no byte compress
// (AVX2's shuffle, NEON's table lookup).
#pragma once

#include <cstdint>

// For each set of kept bytes among 8 (bit i: byte i), the order that moves
// them to the front: byte j of the entry is the index of the j-th kept byte.
struct keptordertable {
    std::uint64_t order[256];
};
inline constexpr keptordertable keptorders = [] {
    keptordertable table{};
    for (unsigned keep = 0; keep < 256; ++keep) {
        unsigned slot = 0;
        for (unsigned i = 0; i < 8; ++i)
            if ((keep >> i) & 1)
                table.order[keep] |= std::uint64_t{i} << (8 * slot++);
    }
    return table;
}();
