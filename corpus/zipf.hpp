// The Zipf law over ranks 1..n, P(k) proportional to k^-s, sampled by
// rejection-inversion (Hoermann and Derflinger): constant time per draw, no
// table.  It uses log and exp, so a C library whose last bit differs there
// could move a rare draw.
#pragma once

#include <cstdint>

#include "corpus/random.hpp"

struct zipflaw {
    double s;
    double hx1;  // hintegral(1.5) - 1
    double hn;   // hintegral(n + 0.5)
    double knee; // accept without the second test below this distance
    std::uint32_t n;
};

zipflaw zipfcreate(std::uint32_t n, double s);

// A rank in 1..n.
std::uint32_t zipfdraw(const zipflaw &z, rng &r);
