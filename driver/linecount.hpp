// The count pass's work, shared by the driver and the scanner's benchmarks so
// that they time the same pass.
#pragma once

#include <cstdint>

#include "driver/scanner.hpp"

// Tells the compiler that the line's bytes are read here, so the count pass
// must really copy every line although nothing else looks at it.  Emits no
// code.
[[gnu::always_inline]] inline void keepline(const char *line)
{
    asm volatile("" : : "m"(*reinterpret_cast<const char(*)[MAXLINE]>(line)));
}

// Counts the lines, each of which must be copied.  A pass works on a copy of
// its own, so the count stays in a register.
struct linecount {
    std::uint64_t lines = 0;
    [[gnu::always_inline]] void operator()(const char *line)
    {
        ++lines;
        keepline(line);
    }
};
