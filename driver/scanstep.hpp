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
//   count(mask)              the number of bits set;
//   cheapcompact             optional, true where compact costs no more
//                            than copy: a step then compacts rather than
//                            branch on whether a part holds blanks.
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
// needs no alignment.  A block is used only while the 192 bytes from its start
// lie inside the text, as a step copies up to 128 bytes from a position in it.
// The text's last bytes, from the first block that is not, less than 192 of
// them, are scanned by the model's loop (scanlinerest): the cursor holds no
// marks there.
//
// The line rules are the model's (scanmodel.hpp).  A step copies a line from
// its first byte, a block's part at a time: a part without blanks by one copy
// of 64 bytes, a part with blanks by the block's compaction, and text that
// runs into the next block by one copy of 128 bytes.  The copies store whole
// vectors at linebuf[len]; bytes past the kept ones lie beyond the line's NUL
// or are overwritten by the next part.  A step first takes the lines that end
// in the block at hand or in the next, nearly all of them, each in one of
// four ways; longer lines, the text's last bytes and the cut go through a
// loop of a part at a time.  Near the cut, where 64 bytes no longer fit in
// linebuf, the kept bytes are copied one by one, and the cut ends the line
// before the kept byte that would be its 10,000th.
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

// Whether the kernel's compaction costs no more than a copy.
template <class kernelblock> constexpr bool cheapcompact = requires { requires kernelblock::cheapcompact; };

// The bytes from a block's start that a step may read: two copies from a
// position in the block.
inline constexpr std::size_t readable = 3 * block::width;

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

// Whether the block at base lies in the text's last bytes, which the model's
// loop scans: a step's copies from a position in it would read past the text.
[[gnu::always_inline]] inline bool inlastbytes(const char *base, const char *end)
{
    return static_cast<std::size_t>(end - base) < readable;
}

// Makes the masks of the block at c.base, or none where the text's last bytes
// begin.
[[gnu::always_inline]] inline void classify(scancursor &c, const char *end)
{
    if (inlastbytes(c.base, end)) {
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

// Ends the line of len bytes at the line end at stop: NUL-terminates it,
// unless the line is empty and stop a line feed, which does not end an empty
// line but is skipped, so the step goes on past it.
[[gnu::always_inline]] inline bool endline(char *linebuf, std::size_t len, const char *stop)
{
    if (len != 0 || *stop == '\0') [[likely]] {
        linebuf[len] = '\0';
        return true;
    }
    return false;
}

// Text up to the line end that is the block's next mark, first: copies the
// 64 bytes from pos to to, whose bytes past the line end the next part or the
// NUL covers, takes the mark and returns the line end.
[[gnu::always_inline]] inline const char *copytolineend(scancursor &c, const char *pos, char *to,
                                                        std::uint64_t first)
{
    const char *stop = c.base + block::first(c.marks);
    c.marks ^= first;
    block::copy(to, pos);
    return stop;
}

// Takes the marks up to the block's first line end, at, and that line end,
// the lowest of stops; returns the blanks among them.
[[gnu::always_inline]] inline std::uint64_t takemarks(scancursor &c, std::uint64_t stops, unsigned at)
{
    std::uint64_t blanks = c.marks & lowbits(at);
    c.marks ^= blanks | (stops & (0 - stops));
    return blanks;
}

// Blanks, then a line end in the block: copies the kept bytes from pos up to
// the first line end to linebuf by one compaction, sets len to their count
// and returns the line end.
[[gnu::always_inline]] inline const char *compacttolineend(scancursor &c, const char *pos, char *linebuf,
                                                           std::uint64_t stops, std::size_t &len)
{
    unsigned at = block::first(stops);
    std::uint64_t blanks = takemarks(c, stops, at);
    auto from = static_cast<unsigned>(pos - c.base);
    std::uint64_t keep = (lowbits(at) & ~blanks) >> from;
    block::compact(linebuf, pos, keep, at - from);
    len = block::count(keep);
    return c.base + at;
}

// A line of text alone from pos past the end of the block at hand: copies
// it and the next block's 64 bytes at once, so that a line that ends there
// finds its bytes in place, and returns the bytes up to the block's end.
[[gnu::always_inline]] inline std::size_t copytwoblocks(const scancursor &c, const char *pos, char *linebuf)
{
    block::copy(linebuf, pos);
    block::copy(linebuf + block::width, pos + block::width);
    return static_cast<std::size_t>(c.base + block::width - pos);
}

// A line with blanks from pos past the end of the block at hand: copies its
// kept bytes up to the block's end by one compaction and returns their count.
[[gnu::always_inline]] inline std::size_t compacttoblockend(const scancursor &c, const char *pos,
                                                            char *linebuf)
{
    auto from = static_cast<unsigned>(pos - c.base);
    std::uint64_t keep = ~c.blanks >> from;
    block::compact(linebuf, pos, keep, block::width - from);
    return block::count(keep);
}

// The line's rest in the block at hand, from its start up to its first line
// end, the lowest of stops, after len kept bytes of the blocks before (text:
// those were text alone, copied with this block's bytes behind them): adds
// its kept bytes to linebuf and len and returns the line end.
[[gnu::always_inline]] inline const char *finishinblock(scancursor &c, char *linebuf, std::size_t &len,
                                                        std::uint64_t stops, bool text)
{
    unsigned at = block::first(stops);
    std::uint64_t blanks = takemarks(c, stops, at);
    if (blanks == 0 && text) { // its bytes are in place
        len += at;
    } else if (blanks == 0 && !cheapcompact<block>) {
        block::copy(linebuf + len, c.base);
        len += at;
    } else {
        std::uint64_t keep = lowbits(at) & ~blanks;
        block::compact(linebuf + len, c.base, keep, at);
        len += block::count(keep);
    }
    return c.base + at;
}

// Copies the kept bytes, keep, of a part of the block at hand that runs from
// pos to stop to to: one by one near the cut, where a whole vector no longer
// fits in linebuf; by one copy where the part has no blanks; else by the
// block's compaction.
[[gnu::always_inline]] inline void copykept(const scancursor &c, const char *pos, char *to, bool nearcut,
                                            std::uint64_t part, std::uint64_t keep, unsigned stop)
{
    auto from = static_cast<unsigned>(pos - c.base);
    if (nearcut) [[unlikely]]
        compactbytes(to, c.base, keep);
    else if (keep == part)
        block::copy(to, pos);
    else
        block::compact(to, pos, keep >> from, stop - from);
}

// The cut: the line, len bytes so far, takes of the part's kept bytes, keep,
// those up to its 9,999th and ends; the next kept byte begins the next line,
// and the position returned is that byte's, so the blanks before it are the
// first line's.
[[gnu::always_inline]] inline const char *cutline(scancursor &c, char *linebuf, std::size_t len,
                                                  std::uint64_t keep)
{
    std::uint64_t kept = keep;
    for (std::size_t room = MAXLINELEN - len; room != 0; --room)
        keep &= keep - 1;
    unsigned cut = block::first(keep);
    compactbytes(linebuf + len, c.base, kept & lowbits(cut));
    c.marks &= ~lowbits(cut);
    linebuf[MAXLINELEN] = '\0';
    return c.base + cut;
}

// The rest of a step whose line goes on past the next block, meets the
// text's last bytes or the cut, with len of its bytes in linebuf: a part of
// the line at a time, from pos in the block at hand.
template <std::size_t Distance>
[[gnu::always_inline]] inline const char *scanlinelong(scancursor &c, const char *pos, const char *end,
                                                       char *linebuf, std::size_t len)
{
    constexpr unsigned width = block::width;
    for (;;) {
        std::uint64_t first = c.marks & (0 - c.marks);
        if ((first & c.ends) != 0 && len <= MAXLINE - width) { // text up to a line end in this block
            const char *stop = copytolineend(c, pos, linebuf + len, first);
            len += static_cast<std::size_t>(stop - pos);
            pos = stop + 1;
            if (endline(linebuf, len, stop))
                return pos;
            continue;
        }
        if (c.marks == 0) { // text to the end of the block, or the text's last bytes
            if (inlastbytes(c.base, end)) [[unlikely]]
                return scanlinerest(pos, end, linebuf, len);
            if (len <= MAXLINE - 2 * width) [[likely]] {
                block::copy(linebuf + len, pos);
                len += static_cast<std::size_t>(c.base + width - pos);
                advance<Distance>(c, end);
                pos = c.base;
                continue;
            }
        }
        // Blanks first, or the cut near: the part of the line up to the
        // first line end.
        std::uint64_t stops = c.marks & c.ends;
        unsigned stop = stops != 0 ? block::first(stops) : width;
        std::uint64_t part = lowbits(stop) & ~lowbits(static_cast<unsigned>(pos - c.base));
        std::uint64_t keep = part & ~c.blanks;
        std::size_t kept = block::count(keep);
        if (len + kept > MAXLINELEN) [[unlikely]]
            return cutline(c, linebuf, len, keep);
        copykept(c, pos, linebuf + len, len > MAXLINE - width, part, keep, stop);
        len += kept;
        if (stop == width) { // the line goes on in the next block
            advance<Distance>(c, end);
            pos = c.base;
            continue;
        }
        c.marks &= ~lowbits(stop + 1);
        pos = c.base + stop + 1;
        if (endline(linebuf, len, pos - 1))
            return pos;
    }
}

// One step: copies the line that begins at pos into linebuf, NUL-terminated,
// and returns where the next line begins.  A position at or past end means
// the text is used up.  pos lies before end and is where the pass began or
// the position that the step before returned with the same cursor.  The
// commonest lines, those that end in the block at hand or in the next, take
// one of four ways here; the rest goes on in scanlinelong.
template <std::size_t Distance = prefetchdistance>
[[gnu::always_inline]] inline const char *scanline(scancursor &c, const char *pos, const char *end,
                                                   char *linebuf)
{
    std::size_t len;
    for (;;) {
        std::uint64_t first = c.marks & (0 - c.marks);
        const char *stop;
        if ((first & c.ends) != 0) [[likely]] { // text up to the line end
            stop = copytolineend(c, pos, linebuf, first);
            len = static_cast<std::size_t>(stop - pos);
        } else if (std::uint64_t stops = c.marks & c.ends; stops != 0) { // blanks, then the line end
            stop = compacttolineend(c, pos, linebuf, stops, len);
        } else { // the line goes on past the block: this part, then the next block's
            if (inlastbytes(c.base, end)) [[unlikely]]
                return scanlinerest(pos, end, linebuf, 0);
            bool text = c.marks == 0;
            if (text)
                len = copytwoblocks(c, pos, linebuf);
            else
                len = compacttoblockend(c, pos, linebuf);
            advance<Distance>(c, end);
            pos = c.base;
            stops = c.marks & c.ends;
            if (stops == 0)
                break;
            stop = finishinblock(c, linebuf, len, stops, text);
            // Ended here, not below: so the build keeps the other ways'
            // end, the commonest lines', without a move and a jump.
            if (endline(linebuf, len, stop)) [[likely]]
                return stop + 1;
            pos = stop + 1; // a line feed that would end an empty line
            continue;
        }
        if (endline(linebuf, len, stop))
            return stop + 1;
        pos = stop + 1; // a line feed that would end an empty line
    }
    return scanlinelong<Distance>(c, pos, end, linebuf, len);
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
