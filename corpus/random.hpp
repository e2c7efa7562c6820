// The corpus generator's one source of randomness: xoshiro256**, seeded through
// splitmix64, and the draws made from it.  Every draw is integer or exactly
// rounded IEEE arithmetic, so the same seed gives the same draws everywhere.
#pragma once

#include <cmath>
#include <cstdint>

// splitmix64: turns a seed into well-mixed state words.
inline std::uint64_t splitmix(std::uint64_t &state)
{
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// xoshiro256**.
struct rng {
    std::uint64_t s[4];
};

inline rng rngseed(std::uint64_t seed)
{
    rng r;
    for (std::uint64_t &word : r.s)
        word = splitmix(seed);
    return r;
}

inline std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

inline std::uint64_t rngnext(rng &r)
{
    std::uint64_t result = rotl(r.s[1] * 5, 7) * 9;
    std::uint64_t t = r.s[1] << 17;
    r.s[2] ^= r.s[0];
    r.s[3] ^= r.s[1];
    r.s[1] ^= r.s[2];
    r.s[0] ^= r.s[3];
    r.s[2] ^= t;
    r.s[3] = rotl(r.s[3], 45);
    return result;
}

// A number in [0, bound), bound < 2^32, by multiply and shift.
inline std::uint32_t rngbelow(rng &r, std::uint32_t bound)
{
    return static_cast<std::uint32_t>(((rngnext(r) >> 32) * bound) >> 32);
}

// True with the probability that threshold stands for (see chance()).
inline bool rngchance(rng &r, std::uint64_t threshold) { return rngnext(r) < threshold; }

// The threshold for rngchance of a share in [0, 1]; exact in IEEE doubles.
inline std::uint64_t chance(double share)
{
    if (share >= 1.0)
        return UINT64_MAX;
    return static_cast<std::uint64_t>(std::ldexp(share, 64));
}

// A double in [0, 1).
inline double rngunit(rng &r) { return static_cast<double>(rngnext(r) >> 11) * 0x1.0p-53; }
