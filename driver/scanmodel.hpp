// The line scanner's byte model: the rules, a byte at a time, that every
// kernel keeps; and what the kernels share.
//
// A line is the text up to a line feed or a NUL byte with every blank (space,
// tab, carriage return) removed.  A line feed that would end an empty line is
// skipped; a NUL always ends a line, even an empty one.  A line keeps at most
// MAXLINE - 1 bytes: the next text byte starts a new line.  The end of the text
// reads as a NUL, tested against the end pointer, so no byte beyond the text is
// ever read and a file whose size is a multiple of the page size is safe.
#pragma once

#include <cstddef>
#include <cstdint>

// Size of the driver's line buffer: the longest line plus its NUL.
inline constexpr std::size_t MAXLINE = 10000;
inline constexpr std::size_t MAXLINELEN = MAXLINE - 1;

// How far ahead of a step's position the step asks for the text, in bytes.
// The next line's start depends on a load of this one, so without it each
// line waits for memory; the figure is chosen from the flat part of the curve
// that bench/scanner/prefetchcurve.cpp measures.
inline constexpr std::size_t prefetchdistance = 1024;

// What a kernel's block tells of its 64 bytes, bit i for byte i.
struct blockmasks {
    std::uint64_t ends;   // line feeds and NULs
    std::uint64_t blanks; // spaces, tabs and carriage returns
};

// The rest of a step, a byte at a time, from pos (at most end) with len bytes
// of the line already in linebuf: copies the rest of the line, NUL-terminated,
// and returns where the next line begins.  A position at or past end means the
// text is used up.
[[gnu::always_inline]] inline const char *scanlinerest(const char *pos, const char *end, char *linebuf,
                                                       std::size_t len)
{
    for (;; ++pos) {
        if (pos == end) { // the virtual NUL after the last byte
            linebuf[len] = '\0';
            return end;
        }
        unsigned char c = static_cast<unsigned char>(*pos);
        if (c <= ' ') { // other control bytes fall through as text
            if (c == ' ' || c == '\t' || c == '\r')
                continue;
            if (c == '\n') {
                if (len == 0)
                    continue;
                linebuf[len] = '\0';
                return pos + 1;
            }
            if (c == '\0') {
                linebuf[len] = '\0';
                return pos + 1;
            }
        }
        if (len == MAXLINELEN) { // this byte begins the next line
            linebuf[len] = '\0';
            return pos;
        }
        linebuf[len++] = static_cast<char>(c);
    }
}

// One step, a byte at a time: copies the line that begins at pos (pos < end)
// into linebuf, NUL-terminated, and returns where the next line begins.  This
// is the model that defines the line rules.
[[gnu::always_inline]] inline const char *scanlineplain(const char *pos, const char *end, char *linebuf)
{
    return scanlinerest(pos, end, linebuf, 0);
}
