// A kernel against the byte-at-a-time model (scanlineplain), for the scanner's
// tests and for its fuzz target, which has no GoogleTest.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "driver/scanner.hpp"
#include "kernels.hpp"

// Scans the text with the kernel's steps, the model from the same position at
// every step, and the kernel's pass, into fast and plain (MAXLINE bytes each
// at least): each step must move on and end its line inside linebuf, return
// the same position and the same line as the model, and the pass must hand
// over the steps' lines.  Returns "" when all agree, else what differs first.
inline std::string scannerdifference(const kernelentry &kernel, const char *begin, const char *end,
                                     char *fast, char *plain)
{
    auto offset = [begin](const char *at) { return std::to_string(at - begin); };
    auto line = [](const std::string &text) {
        return std::to_string(text.size()) + " bytes \"" + text.substr(0, 40) + "\"";
    };
    const std::string size = "text of " + offset(end) + " bytes";
    std::vector<steprecord> steps;
    kernel.steps(begin, end, fast, steps);
    for (std::size_t step = 0; step < steps.size(); ++step) {
        const steprecord &s = steps[step];
        if (s.to <= s.from || s.line.size() == MAXLINE)
            return size + ", step " + std::to_string(step) + " from offset " + std::to_string(s.from) +
                   ": the " + kernelname(kernel.kernel) + " kernel's step " +
                   (s.to <= s.from ? "does not move on" : "leaves its line without a NUL in linebuf");
        const char *plainnext = scanlineplain(begin + s.from, end, plain);
        std::string plainline(plain, strnlen(plain, MAXLINE));
        if (begin + s.to != plainnext || s.line != plainline)
            return size + ", step " + std::to_string(step) + " from offset " + std::to_string(s.from) +
                   ": the " + kernelname(kernel.kernel) + " kernel returns offset " + std::to_string(s.to) +
                   " with a line of " + line(s.line) + ", scanlineplain offset " + offset(plainnext) +
                   " with " + line(plainline);
    }
    std::vector<std::string> lines;
    kernel.pass(begin, end, fast, lines);
    for (std::size_t i = 0; i < lines.size() || i < steps.size(); ++i)
        if (i == lines.size() || i == steps.size() || lines[i] != steps[i].line)
            return size + ", line " + std::to_string(i) + ": the " + kernelname(kernel.kernel) +
                   " kernel's pass " + (i < lines.size() ? "hands over " + line(lines[i]) : "ends") +
                   ", its steps " + (i < steps.size() ? "give " + line(steps[i].line) : "end");
    return "";
}
