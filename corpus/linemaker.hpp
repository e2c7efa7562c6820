// The lines of a corpus.  A key's text is a function of the seed and its number
// alone: its length comes from the length law, its letters are random, and a
// fixed-width base-62 spelling of its number (at the end, or at the front for
// ascending order) keeps every key distinct.  Keys hold no blank and no
// control byte, so linebench reads each line exactly as written, whatever
// blanks and CRLF endings are mixed in around it.
#pragma once

#include <cstdint>

#include "corpus/output.hpp"
#include "corpus/random.hpp"

enum class lengthkind { fixed, uniform, geometric };

struct lengthlaw {
    lengthkind kind = lengthkind::uniform;
    std::uint32_t low = 8;   // fixed: the length; uniform: the least
    std::uint32_t high = 40; // uniform: the greatest
    std::uint64_t stop = 0;  // geometric: rngchance threshold of ending the line
};

struct keymaker {
    std::uint64_t seed; // mixed from the user's seed; one stream per key
    lengthlaw length;
    std::uint32_t width; // digits of the key number
    bool idfirst;        // number in front, so keys sort by number
};

// Digits of a key number that keep distinct keys apart.
std::uint32_t idwidth(std::uint64_t distinct);

// One line of the file: key number id, dressed with blanks and a CRLF ending
// as the rngchance thresholds blanks and crlf ask, drawn from dress.
void writeline(sink &out, const keymaker &maker, std::uint64_t id, rng &dress, std::uint64_t blanks,
               std::uint64_t crlf);
