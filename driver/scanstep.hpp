// A kernel's step and pass.  scanner.hpp includes this once per kernel, inside
// the kernel's namespace, where `block` names the kernel's block of bytes and
// the surrounding target lets the compiler use the kernel's instructions.
// Hence no include guard and no includes of its own.
//
// The step keeps the model's rules, a block at a time.  A block is loaded only
// when all of it lies inside the text and only while the line has room for a
// whole block more, so every store stays inside linebuf and the cut is left to
// the byte step.  Each block is stored whole at linebuf[len]; the length then
// advances past its kept bytes: all of them when none is at most 32; those
// before it when the first such byte is a line feed, which then ends the line;
// else the block's bytes up to its first line feed, NUL or control byte less
// the blanks, compacted without a branch per byte.  A control byte (text), the
// bytes near the cut and the last bytes of the text go through the byte step,
// which is the model's loop body.  Bytes stored past the kept ones lie beyond
// the line's NUL or are overwritten by the bytes that follow.
//
// Each line's start depends on a load of the line before, so the step asks
// for the text Distance bytes ahead of it: the load then finds it at hand.

template <std::size_t Distance = prefetchdistance>
[[gnu::always_inline]] inline const char *scanline(const char *pos, const char *end, char *linebuf)
{
    constexpr std::size_t width = block::width;
    if constexpr (Distance != 0)
        __builtin_prefetch(pos + Distance);
    std::size_t len = 0;
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
