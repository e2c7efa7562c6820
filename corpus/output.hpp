// Where the corpus goes: a buffered sink that ends the run with status 1 and a
// message on the first write error.
#pragma once

#include <cstddef>
#include <cstdio>
#include <vector>

inline constexpr char progname[] = "linebench-corpus";

struct sink {
    std::FILE *file;
    const char *name; // for messages: the file name or "standard output"
    std::vector<char> buffer;
    std::size_t used;
};

// Writes out what the buffer holds.
void sinkflush(sink &out);

// Room for bytes more at the end of the buffer, flushing it first if need be.
inline char *sinkroom(sink &out, std::size_t bytes)
{
    if (out.buffer.size() - out.used < bytes)
        sinkflush(out);
    return out.buffer.data() + out.used;
}
