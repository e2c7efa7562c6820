// A kernel's step and pass, written once over the kernel's block.  Each
// kernel's file includes this once, inside the kernel's namespace, where
// `block` names the kernel's block of 64 bytes and the surrounding target lets
// the compiler use the kernel's instructions.  Hence no include guard and no
// includes of its own.
//
// The kernel's block: what a new kernel writes, one instruction set's way.
// Every operation is always inlined; bit i of a mask stands for byte i.
//   width                    64, the bytes of a block and the bits of a mask;
//   classify(at)             the blockmasks of the 64 bytes at at: ends, the
//                            line feeds and NULs; blanks, the spaces, tabs
//                            and carriage returns;
//   copy(to, from)           copies the 64 bytes at from to to;
//   compact(to, from, keep, count)
//                            copies the bytes from[i], i < count, whose bit
//                            is set in keep (none at or past count) to to, in
//                            order; may write to[0] to to[63], and read
//                            from[0] to from[63];
//   first(mask)              the index of the lowest bit set (mask != 0);
//   count(mask)              the number of bits set.
//
// The cursor.  A pass keeps, from one step to the next, the masks of the
// block in which the step's position lies, so that a step finds its line's
// end from masks already made and loads a block only when its line runs past
// the one at hand.  Each block is classified once a pass.  marks holds the
// block's blanks and line ends from the position on: the steps clear its bits
// as they pass them.  So a line of text that ends in the block at hand costs
// a bit scan of marks and a copy, and the next line's end waits for no load.
//
// Reading nothing beyond the text.  Blocks lie at the text's start plus a
// multiple of 64, so no block is read before the text's start and the text
// needs no alignment.  A block is used only while the 128 bytes from its start
// lie inside the text, as a copy from a position in the block reads 64 bytes.
// The text's last bytes, from the first block that is not, less than 128 of
// them, are scanned by the model's loop (scanlinerest): the cursor holds no
// marks there.
//
// The line rules are the model's (scanmodel.hpp).  A step copies a line from
// its first byte, a block's part at a time: a part without blanks by one
// copy, with blanks by the block's compaction.  The parts' copies store 64
// bytes at linebuf[len]; bytes past the kept ones lie beyond the line's NUL or
// are overwritten by the next part.  Near the cut, where 64 bytes no longer
// fit in linebuf, the kept bytes are copied one by one, and the cut ends the
// line before the kept byte that would be its 10,000th.
//
// The pass asks for the text Distance bytes ahead of each block it loads, so
// that the loads of the blocks to come find it at hand.

// What a pass carries from one step to the next; see above.
struct scancursor {
    const char *base;     // the block that the masks describe
    std::uint64_t marks;  // blanks and line ends from the position on
    std::uint64_t ends;   // line feeds and NULs
    std::uint64_t blanks; // spaces, tabs and carriage returns
};

// The mask of the bits below n, 0 <= n <= 64.
[[gnu::always_inline]] inline std::uint64_t lowbits(unsigned n)
{
    return n < 64 ? (std::uint64_t{1} << n) - 1 : ~std::uint64_t{0};
}

// Copies the bytes of the block at from whose bit is set in keep to to, one
// by one, writing no byte past those kept.
[[gnu::always_inline]] inline void compactbytes(char *to, const char *from, std::uint64_t keep)
{
    for (; keep != 0; keep &= keep - 1)
        *to++ = from[block::first(keep)];
}

// Makes the masks of the block at c.base, or none where the text's last bytes
// begin.
[[gnu::always_inline]] inline void classify(scancursor &c, const char *end)
{
    if (static_cast<std::size_t>(end - c.base) < 2 * block::width) {
        c.marks = c.ends = c.blanks = 0;
        return;
    }
    blockmasks masks = block::classify(c.base);
    c.ends = masks.ends;
    c.blanks = masks.blanks;
    c.marks = masks.ends | masks.blanks;
}

// The cursor of a pass over the text from its start.
template <std::size_t Distance = prefetchdistance>
[[gnu::always_inline]] inline scancursor scanstart(const char *text, const char *end)
{
    if constexpr (Distance != 0)
        __builtin_prefetch(text + Distance);
    scancursor c{text, 0, 0, 0};
    classify(c, end);
    return c;
}

// Moves the cursor to the next block.
template <std::size_t Distance> [[gnu::always_inline]] inline void advance(scancursor &c, const char *end)
{
    c.base += block::width;
    if constexpr (Distance != 0)
        __builtin_prefetch(c.base + Distance);
    classify(c, end);
}

// One step: copies the line that begins at pos into linebuf, NUL-terminated,
// and returns where the next line begins.  A position at or past end means
// the text is used up.  pos lies before end and is where the pass began or
// the position that the step before returned with the same cursor.
template <std::size_t Distance = prefetchdistance>
[[gnu::always_inline]] inline const char *scanline(scancursor &c, const char *pos, const char *end,
                                                   char *linebuf)
{
    constexpr unsigned width = block::width;
    // The commonest line: text up to a line end in the block at hand.
    for (;;) {
        std::uint64_t first = c.marks & (0 - c.marks);
        if ((first & c.ends) == 0)
            break;
        const char *stop = c.base + block::first(c.marks);
        block::copy(linebuf, pos);
        c.marks ^= first;
        if (stop != pos || *stop == '\0') [[likely]] {
            linebuf[stop - pos] = '\0';
            return stop + 1;
        }
        pos = stop + 1; // a line feed that would end an empty line
    }
    // Any other line, a part of it at a time.
    std::size_t len = 0;
    for (;;) {
        auto from = static_cast<unsigned>(pos - c.base);
        std::uint64_t first = c.marks & (0 - c.marks);
        if ((first & c.ends) != 0 && len <= MAXLINE - width) { // text up to a line end in this block
            unsigned at = block::first(c.marks);
            block::copy(linebuf + len, pos);
            len += at - from;
            c.marks ^= first;
            pos = c.base + at + 1;
            if (len != 0 || pos[-1] == '\0') {
                linebuf[len] = '\0';
                return pos;
            }
            continue; // a line feed that would end an empty line
        }
        if (c.marks == 0) { // text to the end of the block, or the text's last bytes
            if (static_cast<std::size_t>(end - c.base) < 2 * width) [[unlikely]]
                return scanlinerest(pos, end, linebuf, len);
            if (len <= MAXLINE - 2 * width) [[likely]] {
                block::copy(linebuf + len, pos);
                len += width - from;
                advance<Distance>(c, end);
                pos = c.base;
                continue;
            }
        }
        // Blanks first, or the cut near: the part of the line up to the
        // first line end.
        std::uint64_t stops = c.marks & c.ends;
        unsigned stop = stops != 0 ? block::first(stops) : width;
        std::uint64_t part = lowbits(stop) & ~lowbits(from);
        std::uint64_t keep = part & ~c.blanks;
        std::size_t kept = block::count(keep);
        // The cut: the kept byte after the 9,999th begins the next line.
        if (len + kept > MAXLINELEN) [[unlikely]] {
            for (std::size_t room = MAXLINELEN - len; room != 0; --room)
                keep &= keep - 1;
            unsigned cut = block::first(keep);
            compactbytes(linebuf + len, c.base, part & ~c.blanks & lowbits(cut));
            c.marks &= ~lowbits(cut);
            linebuf[MAXLINELEN] = '\0';
            return c.base + cut;
        }
        if (len > MAXLINE - width) [[unlikely]]
            compactbytes(linebuf + len, c.base, keep);
        else if (keep == part)
            block::copy(linebuf + len, pos);
        else
            block::compact(linebuf + len, pos, keep >> from, stop - from);
        len += kept;
        if (stop == width) { // the line goes on in the next block
            advance<Distance>(c, end);
            pos = c.base;
            continue;
        }
        c.marks &= ~lowbits(stop + 1);
        pos = c.base + stop + 1;
        if (len != 0 || pos[-1] == '\0') {
            linebuf[len] = '\0';
            return pos;
        }
    }
}

// One pass over the text: a step per line, each line handed to work, which
// is returned.  A function of its own, aligned alike in every program, so
// that its loop is compiled and laid out apart from the code around it: the
// count pass is the same code in every program built from the driver.  work
// is a copy of its own, so what it counts can stay in a register.  The cursor
// lives and dies with the pass.
template <std::size_t Distance = prefetchdistance, typename Work>
[[gnu::noinline, gnu::aligned(64)]] Work scanpass(const char *text, const char *end, char *linebuf, Work work)
{
    scancursor c = scanstart<Distance>(text, end);
    for (const char *pos = text; pos < end;) {
        pos = scanline<Distance>(c, pos, end, linebuf);
        work(static_cast<const char *>(linebuf));
    }
    return work;
}
