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
// scanlineplain is the model: a byte at a time, it defines the rules.  The
// passes run a kernel's step, the same rules on blocks of 64 bytes, looking at
// two blocks at once where a line ends inside them (scanstep.hpp):
//   sse2  a block as four 16-byte vectors, on every x86-64;
//   avx2  a block as two 32-byte vectors, blanks removed by byte shuffles,
//         where the CPU has AVX2 (with BMI1 and POPCNT, which every AVX2 CPU
//         has).
// The widest kernel that the CPU runs is chosen once, at start-up.  On other
// architectures than x86-64 the passes run the model.  The build option
// LINEBENCH_SCANNERKERNEL fixes one instead (sse2, avx2, or plain for the
// model), for comparisons; a build then holds that kernel alone.
//
// Each kernel's step and pass are compiled for the kernel's instructions
// (scanstep.hpp, included once per kernel under its target), so a binary built
// for baseline x86-64 carries both and a pass inlines its kernel's step.  The
// step makes no call, so that a pass's time is the scanning plus the pass's
// own work.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

// Size of the driver's line buffer: the longest line plus its NUL.
inline constexpr std::size_t MAXLINE = 10000;
inline constexpr std::size_t MAXLINELEN = MAXLINE - 1;

// How far ahead of a step's position the step asks for the text, in bytes.
// The next line's start depends on a load of this one, so without it each
// line waits for memory; the figure is chosen from the flat part of the curve
// that bench/prefetchcurve measures.
inline constexpr std::size_t prefetchdistance = 1024;

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

// A mask of the window of two blocks that the step looks at, bit i for byte
// i, where a shift by a byte's index needs no branch.
__extension__ typedef unsigned __int128 windowmask;

enum class scannerkernel { plain, sse2, avx2 };

inline const char *kernelname(scannerkernel kernel)
{
    switch (kernel) {
    case scannerkernel::plain:
        return "plain";
    case scannerkernel::sse2:
        return "sse2";
    case scannerkernel::avx2:
        return "avx2";
    }
    return "?";
}

// Whether this CPU, and the system under it, can run the kernel.  The x86
// kernels are built for x86-64 alone.
inline bool kernelsupported(scannerkernel kernel)
{
    if (kernel == scannerkernel::plain)
        return true;
#if defined(__x86_64__)
    if (kernel == scannerkernel::sse2)
        return true;
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
           __builtin_cpu_supports("popcnt");
#else
    return false;
#endif
}

// The kernel that the passes run: the one the build fixes, else the widest
// that this CPU runs.
inline scannerkernel passkernel()
{
#ifdef LINEBENCH_SCANNERKERNEL
    return scannerkernel::LINEBENCH_SCANNERKERNEL;
#elif defined(__x86_64__)
    return kernelsupported(scannerkernel::avx2) ? scannerkernel::avx2 : scannerkernel::sse2;
#else
    return scannerkernel::plain;
#endif
}

#if defined(__x86_64__)
// Brackets code compiled for the AVX2 kernel's instructions: every function
// declared in between, templates included, may use them.
#if defined(__clang__)
#define LINEBENCH_AVX2_BEGIN                                                                                 \
    _Pragma("clang attribute push(__attribute__((target(\"avx2,bmi,popcnt\"))), apply_to = function)")
#define LINEBENCH_AVX2_END _Pragma("clang attribute pop")
#else
#define LINEBENCH_AVX2_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"avx2,bmi,popcnt\")")
#define LINEBENCH_AVX2_END _Pragma("GCC pop_options")
#endif
#endif

// The model as a kernel, for comparisons and for the CPUs that no kernel is
// written for.
namespace plainkernel
{
template <std::size_t Distance = 0>
[[gnu::always_inline]] inline const char *scanline(const char *pos, const char *end, char *linebuf)
{
    return scanlineplain(pos, end, linebuf);
}
template <std::size_t Distance = 0, typename Work>
[[gnu::noinline, gnu::aligned(64)]] Work scanpass(const char *text, const char *end, char *linebuf, Work work)
{
    for (const char *pos = text; pos < end;) {
        pos = scanline(pos, end, linebuf);
        work(static_cast<const char *>(linebuf));
    }
    return work;
}
} // namespace plainkernel

#if defined(__x86_64__)
// 64 bytes at a time as four 16-byte vectors, with the instructions of every
// x86-64.
namespace sse2kernel
{
struct block {
    static constexpr std::size_t width = 64;
    __m128i part[4];

    [[gnu::always_inline]] static block load(const char *at)
    {
        block b;
        for (unsigned i = 0; i < 4; ++i)
            b.part[i] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(at + 16 * i));
        return b;
    }
    [[gnu::always_inline]] void store(char *at) const
    {
        for (unsigned i = 0; i < 4; ++i)
            _mm_storeu_si128(reinterpret_cast<__m128i *>(at + 16 * i), part[i]);
    }
    [[gnu::always_inline]] static std::uint64_t bits(const __m128i (&marks)[4])
    {
        std::uint64_t mask = 0;
        for (unsigned i = 0; i < 4; ++i)
            mask |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(marks[i])))
                    << (16 * i);
        return mask;
    }
    // Bit i is set when byte i equals c.
    [[gnu::always_inline]] std::uint64_t equal(char c) const
    {
        __m128i marks[4];
        for (unsigned i = 0; i < 4; ++i)
            marks[i] = _mm_cmpeq_epi8(part[i], _mm_set1_epi8(c));
        return bits(marks);
    }
    // Bit i is set when byte i is at most 32 (unsigned): min(b, 32) == b.
    [[gnu::always_inline]] std::uint64_t special() const
    {
        __m128i marks[4];
        for (unsigned i = 0; i < 4; ++i)
            marks[i] = _mm_cmpeq_epi8(_mm_min_epu8(part[i], _mm_set1_epi8(' ')), part[i]);
        return bits(marks);
    }
    // Bit i is set when byte i is a blank.
    [[gnu::always_inline]] std::uint64_t blank() const
    {
        __m128i marks[4];
        for (unsigned i = 0; i < 4; ++i)
            marks[i] = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(part[i], _mm_set1_epi8(' ')),
                                                 _mm_cmpeq_epi8(part[i], _mm_set1_epi8('\t'))),
                                    _mm_cmpeq_epi8(part[i], _mm_set1_epi8('\r')));
        return bits(marks);
    }
    // Stores the 32 bytes at from at to, and returns the index of the first
    // that is at most 32, or 32 if none is.
    [[gnu::always_inline]] static unsigned firstspecial32(const char *from, char *to)
    {
        unsigned mask = 0;
        for (unsigned i = 0; i < 2; ++i) {
            __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + 16 * i));
            _mm_storeu_si128(reinterpret_cast<__m128i *>(to + 16 * i), bytes);
            __m128i marks = _mm_cmpeq_epi8(_mm_min_epu8(bytes, _mm_set1_epi8(' ')), bytes);
            mask |= static_cast<unsigned>(_mm_movemask_epi8(marks)) << (16 * i);
        }
        return mask == 0 ? 32 : static_cast<unsigned>(__builtin_ctz(mask));
    }
    // The index of the lowest bit set in the 128 bits high:low; one must be set.
    [[gnu::always_inline]] static unsigned firstof(std::uint64_t low, std::uint64_t high)
    {
        return low != 0 ? static_cast<unsigned>(__builtin_ctzll(low))
                        : 64 + static_cast<unsigned>(__builtin_ctzll(high));
    }
    // The number of bits set, by adding neighbouring fields in place: baseline
    // x86-64 has no POPCNT, and the compiler's popcount would be a call.
    [[gnu::always_inline]] static unsigned countof(std::uint64_t mask)
    {
        mask -= (mask >> 1) & 0x5555555555555555u;
        mask = (mask & 0x3333333333333333u) + ((mask >> 2) & 0x3333333333333333u);
        mask = (mask + (mask >> 4)) & 0x0f0f0f0f0f0f0f0fu;
        return static_cast<unsigned>((mask * 0x0101010101010101u) >> 56);
    }
    // Copies the bytes of from[0] to from[count - 1] whose bit is set in keep
    // to at, in order, and returns how many.  Writes at[0] to at[count - 1].
    [[gnu::always_inline]] static std::size_t compact(char *at, const char *from, std::uint64_t keep,
                                                      unsigned count)
    {
        std::size_t kept = 0;
        for (unsigned i = 0; i < count; ++i) {
            at[kept] = from[i];
            kept += (keep >> i) & 1;
        }
        return kept;
    }
};
#include "driver/scanstep.hpp"
} // namespace sse2kernel

LINEBENCH_AVX2_BEGIN
// 64 bytes at a time as two 32-byte vectors, with AVX2; blanks are removed 8
// bytes at a time by a byte shuffle from a table.
namespace avx2kernel
{
// For each set of kept bytes among 8 (bit i: byte i), the shuffle that moves
// them to the front in order.
struct shuffletable {
    std::uint64_t order[256];
};
inline constexpr shuffletable shuffles = [] {
    shuffletable table{};
    for (unsigned keep = 0; keep < 256; ++keep) {
        unsigned slot = 0;
        for (unsigned i = 0; i < 8; ++i)
            if ((keep >> i) & 1)
                table.order[keep] |= std::uint64_t{i} << (8 * slot++);
    }
    return table;
}();

struct block {
    static constexpr std::size_t width = 64;
    __m256i low, high;

    [[gnu::always_inline]] static block load(const char *at)
    {
        return {_mm256_loadu_si256(reinterpret_cast<const __m256i *>(at)),
                _mm256_loadu_si256(reinterpret_cast<const __m256i *>(at + 32))};
    }
    [[gnu::always_inline]] void store(char *at) const
    {
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(at), low);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(at + 32), high);
    }
    [[gnu::always_inline]] static std::uint64_t bits(__m256i lowmarks, __m256i highmarks)
    {
        return static_cast<std::uint32_t>(_mm256_movemask_epi8(lowmarks)) |
               static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(highmarks))) << 32;
    }
    [[gnu::always_inline]] std::uint64_t equal(char c) const
    {
        __m256i value = _mm256_set1_epi8(c);
        return bits(_mm256_cmpeq_epi8(low, value), _mm256_cmpeq_epi8(high, value));
    }
    [[gnu::always_inline]] std::uint64_t special() const
    {
        __m256i space = _mm256_set1_epi8(' ');
        return bits(_mm256_cmpeq_epi8(_mm256_min_epu8(low, space), low),
                    _mm256_cmpeq_epi8(_mm256_min_epu8(high, space), high));
    }
    // Bytes equal to their entry in this table, indexed by their low four
    // bits, are blanks: space (0x20), tab (0x09) and carriage return (0x0d).
    // Every other entry differs from its index in the low four bits, and a
    // byte from 0x80 up is shuffled to 0, so nothing else matches.
    [[gnu::always_inline]] static __m256i blankbytes(__m256i bytes)
    {
        const __m256i table = _mm256_setr_epi8(' ', 0, 0, 0, 0, 0, 0, 0, 0, '\t', 0, 0, 0, '\r', 0, 0, //
                                               ' ', 0, 0, 0, 0, 0, 0, 0, 0, '\t', 0, 0, 0, '\r', 0, 0);
        return _mm256_cmpeq_epi8(_mm256_shuffle_epi8(table, bytes), bytes);
    }
    [[gnu::always_inline]] std::uint64_t blank() const { return bits(blankbytes(low), blankbytes(high)); }
    // tzcnt gives the width for a mask of none, so neither needs a branch.
    [[gnu::always_inline]] static unsigned firstspecial32(const char *from, char *to)
    {
        __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(from));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(to), bytes);
        __m256i marks = _mm256_cmpeq_epi8(_mm256_min_epu8(bytes, _mm256_set1_epi8(' ')), bytes);
        return _tzcnt_u32(static_cast<std::uint32_t>(_mm256_movemask_epi8(marks)));
    }
    [[gnu::always_inline]] static unsigned firstof(std::uint64_t low, std::uint64_t high)
    {
        auto first = static_cast<unsigned>(_tzcnt_u64(low));
        return low != 0 ? first : 64 + static_cast<unsigned>(_tzcnt_u64(high));
    }
    [[gnu::always_inline]] static unsigned countof(std::uint64_t mask)
    {
        return static_cast<unsigned>(__builtin_popcountll(mask));
    }
    // Every group of 8 is shuffled into place and stored with 8 bytes, so the
    // writes end at at[width - 1] at the latest; those past the kept bytes
    // are garbage.  Only the first half's groups are needed when count lies
    // in it, as on short lines: keep has no bit at or past count.
    [[gnu::always_inline]] static std::size_t compact(char *at, const char *from, std::uint64_t keep,
                                                      unsigned count)
    {
        std::size_t kept = 0;
        unsigned groups = count <= width / 2 ? width / 16 : width / 8;
        for (unsigned group = 0; group < groups; ++group) {
            auto mask = static_cast<unsigned>(keep >> (8 * group)) & 0xff;
            __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(from + 8 * group));
            __m128i order = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(&shuffles.order[mask]));
            _mm_storel_epi64(reinterpret_cast<__m128i *>(at + kept), _mm_shuffle_epi8(bytes, order));
            kept += static_cast<std::size_t>(__builtin_popcount(mask));
        }
        return kept;
    }
};
#include "driver/scanstep.hpp"
} // namespace avx2kernel
LINEBENCH_AVX2_END
#endif

#define LINEBENCH_KERNELNAMESPACEOF(name) name##kernel
#define LINEBENCH_KERNELNAMESPACE(name) LINEBENCH_KERNELNAMESPACEOF(name)

// One pass over the text with the kernel given: a step per line, each line
// handed to work, which is returned.  The kernel is chosen here once per
// pass, by a direct call; inside, the pass's loop has its kernel's step
// inlined.
template <typename Work>
[[gnu::always_inline]] inline Work scanpass([[maybe_unused]] scannerkernel kernel, const char *text,
                                            const char *end, char *linebuf, Work work)
{
#ifdef LINEBENCH_SCANNERKERNEL
    return LINEBENCH_KERNELNAMESPACE(LINEBENCH_SCANNERKERNEL)::scanpass(text, end, linebuf, work);
#elif defined(__x86_64__)
    if (kernel == scannerkernel::avx2)
        return avx2kernel::scanpass(text, end, linebuf, work);
    return sse2kernel::scanpass(text, end, linebuf, work);
#else
    return plainkernel::scanpass(text, end, linebuf, work);
#endif
}
