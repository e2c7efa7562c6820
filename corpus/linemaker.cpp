#include "corpus/linemaker.hpp"

#include <cstring>

#include "driver/scanner.hpp"

// Digits of a key's number, in ASCII order so that fixed-width spellings sort
// like the numbers.
static constexpr char digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
static constexpr std::uint32_t base = 62;

std::uint32_t idwidth(std::uint64_t distinct)
{
    std::uint32_t width = 1;
    for (std::uint64_t reach = base; reach < distinct; reach *= base)
        ++width;
    return width;
}

static std::uint32_t drawlength(const lengthlaw &law, rng &r)
{
    switch (law.kind) {
    case lengthkind::fixed:
        return law.low;
    case lengthkind::uniform:
        return law.low + rngbelow(r, law.high - law.low + 1);
    case lengthkind::geometric:
        break;
    }
    std::uint32_t len = 1;
    while (len < MAXLINELEN && !rngchance(r, law.stop))
        ++len;
    return len;
}

// Writes key number id at out; returns its length.
static std::uint32_t makekey(const keymaker &maker, std::uint64_t id, char *out)
{
    std::uint64_t state = maker.seed + id * 0x9e3779b97f4a7c15ULL;
    rng r = rngseed(splitmix(state));
    std::uint32_t len = drawlength(maker.length, r);
    if (len < maker.width)
        len = maker.width;
    std::uint32_t fill = len - maker.width;
    char *letters = maker.idfirst ? out + maker.width : out;
    char *number = maker.idfirst ? out : out + fill;
    std::uint64_t bits = 0;
    for (std::uint32_t i = 0; i < fill; ++i) {
        if (i % 8 == 0)
            bits = rngnext(r);
        letters[i] = static_cast<char>('a' + (((bits & 0xff) * 26) >> 8));
        bits >>= 8;
    }
    for (std::uint32_t i = maker.width; i-- > 0; id /= base)
        number[i] = digits[id % base];
    return len;
}

// Blanks go before, inside or after the key, or form a line of their own
// before it; a blank-only line before a line never counts.
void writeline(sink &out, const keymaker &maker, std::uint64_t id, rng &dress, std::uint64_t blanks,
               std::uint64_t crlf)
{
    char *start = sinkroom(out, MAXLINELEN + 16);
    char *p = start;
    bool blanked = blanks != 0 && rngchance(dress, blanks);
    std::uint64_t how = blanked ? rngnext(dress) : 0;
    auto putblanks = [&](std::uint64_t bits) {
        for (std::uint64_t n = 1 + (bits & 3); n-- > 0; bits >>= 1)
            *p++ = (bits & 4) != 0 ? '\t' : ' ';
    };
    std::uint32_t where = static_cast<std::uint32_t>(how >> 32);
    if (blanked && how % 4 == 3) {
        putblanks(how >> 8);
        *p++ = '\n';
    }
    std::uint32_t len = makekey(maker, id, p);
    if (blanked && how % 4 != 3) {
        // 0: before, 1: inside, 2: after the key.
        std::uint32_t at = how % 4 == 0 ? 0 : how % 4 == 2 ? len : where % (len + 1);
        char saved[MAXLINELEN];
        std::memcpy(saved, p + at, len - at);
        p += at;
        putblanks(how >> 8);
        std::memcpy(p, saved, len - at);
        p += len - at;
    } else {
        p += len;
    }
    if (crlf != 0 && rngchance(dress, crlf))
        *p++ = '\r';
    *p++ = '\n';
    out.used += static_cast<std::size_t>(p - start);
}
