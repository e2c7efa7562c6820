// The input file, mapped whole and privately.  Every program built from the
// driver reads its file through here, so all of them fail alike on a file
// that cannot be examined, opened or mapped.
#pragma once

#include <cstdint>

struct inputtext {
    const char *text;   // the first byte of the mapping
    const char *end;    // one past the last byte
    std::uint64_t size; // the file's size when it was mapped
};

// Maps the file at path.  On a failure of stat, open or mmap prints the file
// failure message on standard output and standard error and exits with
// status 1; an empty file fails at the mapping.
inputtext mapinput(const char *path);
