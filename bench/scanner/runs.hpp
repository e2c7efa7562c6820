// The command line and the summary shared by the bench tools that time a pass
// over a file several times, interleaved: "<tool> <file> [runs]", and the
// median of the runs.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <vector>

// The runs asked for on the command line, 11 by default; on a wrong command
// line prints the usage or the fault and exits with status 1.
inline int runsasked(int argc, char **argv)
{
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "Usage: %s <file> [runs]\n", argv[0]);
        std::exit(1);
    }
    int runs = argc == 3 ? std::atoi(argv[2]) : 11;
    if (runs < 1) {
        std::fprintf(stderr, "%s: runs must be at least 1\n", argv[0]);
        std::exit(1);
    }
    return runs;
}

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    std::size_t half = values.size() / 2;
    return values.size() % 2 != 0 ? values[half] : (values[half - 1] + values[half]) / 2;
}
