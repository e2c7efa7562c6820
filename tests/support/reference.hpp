// Test support: a second, independent model of how the programs cut a text into
// lines, written from the line rules rather than from the scanner, so that the
// figures expected of a run do not come from the code under test.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The lines of text, in order, as the programs' passes see them.
std::vector<std::string> referencelines(const std::string &text);

// The figures of a run's row that depend only on the text.
struct referencefigures {
    std::uint64_t lines = 0;  // lines of the text, duplicates included
    std::uint64_t stored = 0; // distinct lines
    std::uint64_t size = 0;   // bytes of the text
};

referencefigures referencecount(const std::string &text);

// "lines=L avg_linelen=A stored=S": the row's figures that the text alone
// decides, as a run on a text with these figures must print them (compare
// reportedfigures in report.hpp).
std::string expectedfigures(const referencefigures &figures);
