// A kernel's step and pass.  Each kernel's file includes this once, inside
// the kernel's namespace, where `block` names the kernel's block of bytes and
// the surrounding target lets the compiler use the kernel's instructions.
// Hence no include guard and no includes of its own.
//
// The step keeps the model's rules in three tiers, each used while the text
// has a window of two blocks (128 bytes) left at pos:
//   1. the first 32 bytes: a line that ends there with no blank is done;
//   2. the window: a line that ends in it with no blank is done, found from
//      the window's first byte at most 32, with no branch on the line's
//      length; a line with blanks ends at the window's first line feed, the
//      blanks removed by the block's compaction, unless a NUL or control byte
//      comes first;
//   3. the block loop: a block at a time, for the rest of a line longer than
//      the window, and for lines with NUL or control bytes.
// The first two tiers find a line's end from masks of the bytes at pos alone,
// so that the next line's loads wait for nothing else; the short tier keeps
// that wait short for texts of short lines.  Every tier stores whole vectors
// at linebuf[len] and then moves the length past the kept bytes.  Bytes
// stored past the kept ones lie beyond the line's NUL or are overwritten by
// the bytes that follow.
//
// In the block loop a block is loaded only when all of it lies inside the
// text and only while the line has room for a whole block more, so every
// store stays inside linebuf and the cut is left to the byte step.  The
// length advances past all of a block's bytes when none is at most 32; those
// before it when the first such byte is a line feed, which then ends the line;
// else the block's bytes up to its first line feed, NUL or control byte less
// the blanks, compacted.  A control byte (text), the bytes near the cut and
// the last bytes of the text go through the byte step, which is the model's
// loop body.
//
// The step also asks for the text Distance bytes ahead of it, so that the
// loads of the lines to come find it at hand.

// A mask of the window of two blocks that the step looks at, bit i for byte
// i, where a shift by a byte's index needs no branch.
__extension__ typedef unsigned __int128 windowmask;

template <std::size_t Distance = prefetchdistance>
[[gnu::always_inline]] inline const char *scanline(const char *pos, const char *end, char *linebuf)
{
    constexpr std::size_t width = block::width;
    if constexpr (Distance != 0)
        __builtin_prefetch(pos + Distance);
    std::size_t len = 0;
    while (static_cast<std::size_t>(end - pos) >= 2 * width) {
        unsigned shortend = block::firstspecial32(pos, linebuf);
        if (shortend < 32 && pos[shortend] == '\n') {
            pos += shortend + 1;
            if (shortend == 0) // a line feed that would end an empty line
                continue;
            linebuf[shortend] = '\0';
            return pos;
        }
        block first = block::load(pos), second = block::load(pos + width);
        first.store(linebuf);
        second.store(linebuf + width);
        std::uint64_t speciallow = first.special(), specialhigh = second.special();
        if ((speciallow | specialhigh) == 0) { // all text, already in place
            len = 2 * width;
            pos += 2 * width;
            break;
        }
        unsigned at = block::firstof(speciallow, specialhigh);
        if (pos[at] == '\n') {
            pos += at + 1;
            if (at == 0) // a line feed that would end an empty line
                continue;
            linebuf[at] = '\0';
            return pos;
        }
        // Blanks, or a NUL or control byte, come first.  keep marks the bytes
        // other than blanks; the special ones among them are the stops.
        std::uint64_t feedslow = first.equal('\n'), feedshigh = second.equal('\n');
        std::uint64_t keeplow = ~first.blank(), keephigh = ~second.blank();
        if ((feedslow | feedshigh) == 0) { // the line goes on past the two blocks
            if (((speciallow & keeplow) | (specialhigh & keephigh)) != 0)
                break; // a NUL or control byte: from pos, a block at a time
            std::size_t keptlow = block::compact(linebuf, pos, keeplow, width);
            len = keptlow + block::compact(linebuf + keptlow, pos + width, keephigh, width);
            pos += 2 * width;
            break;
        }
        at = block::firstof(feedslow, feedshigh);
        windowmask before = (windowmask{1} << at) - 1;
        keeplow &= static_cast<std::uint64_t>(before);
        keephigh &= static_cast<std::uint64_t>(before >> width);
        if (((speciallow & keeplow) | (specialhigh & keephigh)) != 0)
            break; // a NUL or control byte before the line feed
        std::size_t kept = block::countof(keeplow) + block::countof(keephigh);
        const char *line = pos;
        pos += at + 1;
        if (kept == 0) // blanks alone before the line feed: no line
            continue;
        if (kept != at) {
            std::size_t keptlow = block::compact(linebuf, line, keeplow, at < width ? at : width);
            if (at > width)
                block::compact(linebuf + keptlow, line + width, keephigh, at - width);
        }
        linebuf[kept] = '\0';
        return pos;
    }
    for (;;) {
        if (static_cast<std::size_t>(end - pos) >= width && len + width <= MAXLINELEN) {
            block bytes = block::load(pos);
            bytes.store(linebuf + len);
            std::uint64_t special = bytes.special();
            if (special == 0) { // predicted, so the next load need not wait for this one
                len += width;
                pos += width;
                continue;
            }
            std::uint64_t feeds = bytes.equal('\n');
            if ((special & (0 - special) & feeds) != 0) { // text up to a line feed
                auto at = static_cast<unsigned>(__builtin_ctzll(feeds));
                len += at;
                pos += at + 1;
                if (len == 0)
                    continue;
                linebuf[len] = '\0';
                return pos;
            }
            std::uint64_t blanks = bytes.equal(' ') | bytes.equal('\t') | bytes.equal('\r');
            std::uint64_t stops = special & ~blanks;
            unsigned stop = stops == 0 ? width : static_cast<unsigned>(__builtin_ctzll(stops));
            std::uint64_t before = stop == width ? ~std::uint64_t{0} : (std::uint64_t{1} << stop) - 1;
            len += block::compact(linebuf + len, pos, ~blanks & before, stop);
            pos += stop;
            if (stop == width)
                continue;
            if ((feeds >> stop) & 1) {
                ++pos;
                if (len == 0)
                    continue;
                linebuf[len] = '\0';
                return pos;
            }
            if (*pos == '\0') {
                linebuf[len] = '\0';
                return pos + 1;
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
}

// One pass over the text: a step per line, each line handed to work, which
// is returned.  A function of its own, aligned alike in every program, so
// that its loop is compiled and laid out apart from the code around it: the
// count pass is the same code in every program built from the driver.  work
// is a copy of its own, so what it counts can stay in a register.
template <std::size_t Distance = prefetchdistance, typename Work>
[[gnu::noinline, gnu::aligned(64)]] Work scanpass(const char *text, const char *end, char *linebuf, Work work)
{
    for (const char *pos = text; pos < end;) {
        pos = scanline<Distance>(pos, end, linebuf);
        work(static_cast<const char *>(linebuf));
    }
    return work;
}
