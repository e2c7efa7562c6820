// The corpus generator's command line: its options, checked and resolved.  A
// bad option ends the run with a message, a pointer to --help and status 2;
// --help prints the usage and ends the run.
#pragma once

#include <cstdint>

#include "corpus/linemaker.hpp"

struct options {
    std::uint64_t lines = 100000;
    std::uint64_t distinct = 0; // 0 until resolved from distinctshare
    double distinctshare = 1.0;
    bool ascending = false;
    bool zipf = false;
    double zipfexponent = 1.0;
    lengthlaw length;
    double blanks = 0.0;
    double crlf = 0.0;
    std::uint64_t seed = 1;
    const char *output = nullptr;
};

options parseoptions(int argc, char **argv);
