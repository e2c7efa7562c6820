// The NEON kernel: a block as four 16-byte vectors, with the Advanced SIMD
// instructions that every arm64 CPU has.  Blanks are removed 8 bytes at a
// time by a table lookup of the kept bytes' order.
#pragma once

#include <arm_neon.h>
#include <asm/hwcap.h>
#include <sys/auxv.h>

#include <cstddef>
#include <cstdint>

#include "driver/keptorder.hpp"
#include "driver/scanmodel.hpp"

// arm64's baseline has Advanced SIMD: the kernel's code needs no target of
// its own.
#define LINEBENCH_BEGIN_neon
#define LINEBENCH_END_neon

namespace neonkernel
{
// Whether the system reports Advanced SIMD, as it does on every arm64 CPU
// that runs Linux.
inline bool usable() { return (getauxval(AT_HWCAP) & HWCAP_ASIMD) != 0; }

struct block {
    static constexpr std::size_t width = 64;

    [[gnu::always_inline]] static uint8x16x4_t load(const char *at)
    {
        return vld1q_u8_x4(reinterpret_cast<const std::uint8_t *>(at));
    }
    // Bytes equal to their entry in a table indexed by their low four bits:
    // line feed at 10 and NUL at 0 for the line ends; space at 0, tab at 9
    // and carriage return at 13 for the blanks.  Every other entry is 0,
    // which a byte whose low four bits are not 0 cannot equal.
    [[gnu::always_inline]] static uint8x16_t lookup(uint8x16_t table, uint8x16_t bytes, uint8x16_t lowbits)
    {
        return vceqq_u8(vqtbl1q_u8(table, lowbits), bytes);
    }
    // NEON has no byte mask of a vector: each byte's mark (0 or 0xff) keeps
    // the weight of its place among 8, and three rounds of pairwise adds sum
    // each 8 weights into a byte of the mask.  The ends and the blanks share
    // the last round: the ends come out in the low 64 bits, the blanks in the
    // high.
    [[gnu::always_inline]] static blockmasks classify(const char *at)
    {
        const uint8x16_t endtable = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, '\n', 0, 0, 0, 0, 0};
        const uint8x16_t blanktable = {' ', 0, 0, 0, 0, 0, 0, 0, 0, '\t', 0, 0, 0, '\r', 0, 0};
        const uint8x16_t weights = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
        uint8x16x4_t bytes = load(at);
        uint8x16_t ends[4], blanks[4];
        for (unsigned i = 0; i < 4; ++i) {
            uint8x16_t lowbits = vandq_u8(bytes.val[i], vdupq_n_u8(0x0f));
            ends[i] = vandq_u8(lookup(endtable, bytes.val[i], lowbits), weights);
            blanks[i] = vandq_u8(lookup(blanktable, bytes.val[i], lowbits), weights);
        }
        uint8x16_t endsums = vpaddq_u8(vpaddq_u8(ends[0], ends[1]), vpaddq_u8(ends[2], ends[3]));
        uint8x16_t blanksums = vpaddq_u8(vpaddq_u8(blanks[0], blanks[1]), vpaddq_u8(blanks[2], blanks[3]));
        uint64x2_t masks = vreinterpretq_u64_u8(vpaddq_u8(endsums, blanksums));
        return {vgetq_lane_u64(masks, 0), vgetq_lane_u64(masks, 1)};
    }
    [[gnu::always_inline]] static void copy(char *to, const char *from)
    {
        vst1q_u8_x4(reinterpret_cast<std::uint8_t *>(to), load(from));
    }
    // Every group of 8 is looked up into place and stored with 8 bytes, so
    // the writes end at to[63] at the latest; those past the kept bytes are
    // garbage.  Only the first half's groups are needed when count lies in
    // it, as on short lines.
    [[gnu::always_inline]] static void compact(char *to, const char *from, std::uint64_t keep, unsigned count)
    {
        std::size_t kept = 0;
        unsigned groups = count <= width / 2 ? width / 16 : width / 8;
        for (unsigned group = 0; group < groups; ++group) {
            auto mask = static_cast<unsigned>(keep >> (8 * group)) & 0xff;
            uint8x8_t bytes = vld1_u8(reinterpret_cast<const std::uint8_t *>(from + 8 * group));
            uint8x8_t order = vcreate_u8(keptorders.order[mask]);
            vst1_u8(reinterpret_cast<std::uint8_t *>(to + kept), vtbl1_u8(bytes, order));
            kept += static_cast<std::size_t>(__builtin_popcount(mask));
        }
    }
    // A bit reverse and a count of leading zeros; the count of bits set is
    // NEON's, with no call.
    [[gnu::always_inline]] static unsigned first(std::uint64_t mask)
    {
        return static_cast<unsigned>(__builtin_ctzll(mask));
    }
    [[gnu::always_inline]] static unsigned count(std::uint64_t mask)
    {
        return static_cast<unsigned>(__builtin_popcountll(mask));
    }
};
#include "driver/scanstep.hpp"
} // namespace neonkernel
