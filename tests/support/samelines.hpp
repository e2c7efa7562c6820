// A block kernel's step against the byte-at-a-time model (scanlineplain), for
// the scanner's tests and for its fuzz target, which has no GoogleTest.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

#include "driver/scanner.hpp"
#include "kernels.hpp"

// Scans the text with the kernel's step and the model from the same position
// at every step, into fast and plain (MAXLINE bytes each at least): each step
// must return the same position and the same line.  Returns "" when they agree
// all through, else what differs at the first step where they do not.
inline std::string scannerdifference(const kernelstep &kernel, const char *begin, const char *end, char *fast,
                                     char *plain)
{
    auto offset = [begin](const char *at) { return std::to_string(at - begin); };
    auto line = [](const char *text) {
        return std::to_string(std::strlen(text)) + " bytes \"" + std::string(text).substr(0, 40) + "\"";
    };
    std::size_t step = 0;
    for (const char *pos = begin; pos < end; ++step) {
        const char *fastnext = kernel.step(pos, end, fast);
        const char *plainnext = scanlineplain(pos, end, plain);
        if (fastnext != plainnext || std::strcmp(fast, plain) != 0)
            return "text of " + offset(end) + " bytes, step " + std::to_string(step) + " from offset " +
                   offset(pos) + ": the " + kernelname(kernel.kernel) + " kernel returns offset " + offset(fastnext) + " with a line of " +
                   line(fast) + ", scanlineplain offset " + offset(plainnext) + " with " + line(plain);
        pos = fastnext;
    }
    return "";
}
