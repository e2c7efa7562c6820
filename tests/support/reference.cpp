#include "reference.hpp"

#include <cstdio>
#include <cstring>
#include <set>

#include "driver/scanner.hpp"

// The text is taken a segment at a time, a segment being the bytes up to the
// next line feed or NUL (or up to the end).  A segment's kept bytes give one
// line per MAXLINELEN of them.  A segment with nothing kept gives an empty line,
// unless a line feed ends it: then the step that began there goes on into the
// next segment, and gives an empty line only if the text ends before it does.
std::vector<std::string> referencelines(const std::string &text)
{
    std::vector<std::string> lines;
    bool stepopen = false; // a step has read bytes but not yet ended a line
    std::size_t start = 0;
    while (start < text.size()) {
        // A string's bytes are followed by a NUL, so strcspn also stops at the
        // end of the text; and it is fast, also in a sanitizer build.
        const char *segment = text.c_str() + start;
        std::size_t stop = start + std::strcspn(segment, "\n");
        std::string kept;
        for (const char *at = segment; at < text.c_str() + stop; ++at) {
            std::size_t run = std::strcspn(at, " \t\r\n");
            kept.append(at, run);
            at += run;
        }
        for (std::size_t at = 0; at < kept.size(); at += MAXLINELEN)
            lines.push_back(kept.substr(at, MAXLINELEN));
        bool skippedfeed = kept.empty() && stop < text.size() && text[stop] == '\n';
        if (kept.empty() && !skippedfeed)
            lines.emplace_back();
        stepopen = skippedfeed;
        start = stop + 1;
    }
    if (stepopen)
        lines.emplace_back();
    return lines;
}

referencefigures referencecount(const std::string &text)
{
    std::vector<std::string> lines = referencelines(text);
    std::set<std::string> distinct(lines.begin(), lines.end());
    return {lines.size(), distinct.size(), text.size()};
}

std::string expectedfigures(const referencefigures &figures)
{
    char average[64];
    std::snprintf(average, sizeof average, "%.1f",
                  static_cast<double>(figures.size) / static_cast<double>(figures.lines));
    return "lines=" + std::to_string(figures.lines) + " avg_linelen=" + average +
           " stored=" + std::to_string(figures.stored);
}
