// What the driver shares with the stores: the duplicate counter that a store's
// insert raises, and the allocation helpers through which a store takes its
// nodes and line copies.  A store never reports an error; when the heap runs
// dry the helpers end the run here, in the driver, with a clear message.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// Raised by a store's insert once for every line that it already holds.  The
// driver reports lines minus this as the number of stored lines.  64 bits, so
// files of more than 2^31 lines count right.
extern std::int64_t gDupCnt;

// The program name used in messages; main sets it from argv[0].
extern const char *gProgName;

// Set while a row of the report is half printed on standard output, so that a
// message that ends the run there first ends the row with a line feed.  Read
// by a signal handler too.
extern volatile std::sig_atomic_t gRowOpen;

// A failure that ends the run: prints the message on standard output, on a
// line of its own where a row is half printed, then on standard error, and
// exits with status 1.
[[noreturn, gnu::cold, gnu::format(printf, 1, 2)]] void runfailure(const char *format, ...);

// Whether standard output took the whole report, flushed here; if not, says
// so on standard error: a report that could not be written is a failure.
bool reportwritten();

// Prints "<program>: Out of memory: ..." on standard output (on a line of its
// own) and on standard error, then exits with status 1.
[[noreturn, gnu::cold]] void outofmemory(std::size_t bytes);

// malloc that never returns null: a failed allocation ends the run.
inline void *storealloc(std::size_t bytes)
{
    void *block = std::malloc(bytes);
    if (block == nullptr)
        outofmemory(bytes);
    return block;
}

// A store's own NUL-terminated copy of a line, from the heap.
inline char *storecopy(const char *line)
{
    std::size_t bytes = std::strlen(line) + 1;
    return static_cast<char *>(std::memcpy(storealloc(bytes), line, bytes));
}
