// The line scanner: cuts the mapped text of the input file into the lines that
// every pass counts, stores or looks up.
//
// A line is the text up to a line feed or a NUL byte with every blank (space,
// tab, carriage return) removed.  A line feed that would end an empty line is
// skipped; a NUL always ends a line, even an empty one.  A line keeps at most
// MAXLINE - 1 bytes: the next text byte starts a new line.  The end of the text
// reads as a NUL, tested against the end pointer, so no byte beyond the text is
// ever read and a file whose size is a multiple of the page size is safe.
//
// scanline is always inlined into the pass loops and makes no call, so that a
// pass's time is the scanning plus the pass's own work.
#pragma once

#include <cstddef>

// The block fast path: SSE2 is part of every x86-64.
#if defined(__SSE2__) && !defined(LINEBENCH_PLAINSCANNER)
#define LINEBENCH_SCANNERBLOCKS 1
#include <emmintrin.h>
#else
#define LINEBENCH_SCANNERBLOCKS 0
#endif

// Size of the driver's line buffer: the longest line plus its NUL.
inline constexpr std::size_t MAXLINE = 10000;
inline constexpr std::size_t MAXLINELEN = MAXLINE - 1;

// One step, a byte at a time: copies the line that begins at pos (pos < end)
// into linebuf, NUL-terminated, and returns where the next line begins.  A
// position at or past end means the text is used up.  This is the model that
// defines the line rules.
[[gnu::always_inline]] inline const char *scanlineplain(const char *pos, const char *end, char *linebuf)
{
    std::size_t len = 0;
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

// The step that the passes run: the model's rules, 16 bytes at a time where
// SSE2 is at hand.  A block is loaded only when all of it lies inside the text
// and only while the line has room for 16 more bytes, so every store stays
// inside linebuf and the cut is left to the byte step.  Each block is stored
// whole at linebuf[len]; the length then advances past its kept bytes: all 16
// when none is at most 32, else those before the first such byte, and when
// that byte is a blank, the block's bytes up to its first line feed, NUL or
// control byte less the blanks, copied without a branch per byte.  That byte,
// the bytes near the cut and the last bytes of the text go through the byte
// step, which is the model's loop body.  Bytes stored past the kept ones lie
// beyond the line's NUL or are overwritten by the bytes that follow.
// LINEBENCH_PLAINSCANNER selects the model instead, for comparisons.
[[gnu::always_inline]] inline const char *scanline(const char *pos, const char *end, char *linebuf)
{
#if LINEBENCH_SCANNERBLOCKS
    const __m128i space = _mm_set1_epi8(' ');
    const __m128i tab = _mm_set1_epi8('\t');
    const __m128i cr = _mm_set1_epi8('\r');
    std::size_t len = 0;
    for (;;) {
        if (end - pos >= 16 && len + 16 <= MAXLINELEN) {
            __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pos));
            // Bit i is set when byte i is at most 32 (unsigned): min(b, 32) == b.
            auto special =
                static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(block, space), block)));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(linebuf + len), block);
            if (special == 0) { // predicted, so the next load need not wait for this one
                len += 16;
                pos += 16;
                continue;
            }
            auto first = static_cast<unsigned>(__builtin_ctz(special));
            unsigned char c = static_cast<unsigned char>(pos[first]);
            if (c != ' ' && c != '\t' && c != '\r') { // the byte step decides what this byte does
                len += first;
                pos += first;
            } else {
                __m128i blankbytes =
                    _mm_or_si128(_mm_cmpeq_epi8(block, space),
                                 _mm_or_si128(_mm_cmpeq_epi8(block, tab), _mm_cmpeq_epi8(block, cr)));
                auto blanks = static_cast<unsigned>(_mm_movemask_epi8(blankbytes));
                unsigned stops = special & ~blanks;
                auto stop = static_cast<unsigned>(__builtin_ctz(stops | 0x10000u));
                unsigned keep = ~blanks & ((1u << stop) - 1);
                for (unsigned i = 0; i < 16; ++i) {
                    linebuf[len] = pos[i];
                    len += (keep >> i) & 1;
                }
                if (stops == 0) {
                    pos += 16;
                    continue;
                }
                pos += stop;
            }
        }
        if (pos == end) {
            linebuf[len] = '\0';
            return end;
        }
        unsigned char c = static_cast<unsigned char>(*pos);
        if (c <= ' ') {
            if (c == ' ' || c == '\t' || c == '\r') {
                ++pos;
                continue;
            }
            if (c == '\n') {
                if (len == 0) {
                    ++pos;
                    continue;
                }
                linebuf[len] = '\0';
                return pos + 1;
            }
            if (c == '\0') {
                linebuf[len] = '\0';
                return pos + 1;
            }
        }
        if (len == MAXLINELEN) {
            linebuf[len] = '\0';
            return pos;
        }
        linebuf[len++] = static_cast<char>(c);
        ++pos;
    }
#else
    return scanlineplain(pos, end, linebuf);
#endif
}
