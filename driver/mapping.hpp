// The input file, mapped whole and privately.  Every program built from the
// driver reads its file through here, so all of them fail alike on a file
// that cannot be examined, opened or mapped, and on one that shrinks or cannot
// be read while it is mapped.
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
//
// Then arms the read-fault guard: a page of the mapping that cannot be read
// (the file was cut short under it, or an I/O error) raises SIGBUS, and the
// guard ends the run with "<program>: Cannot read file "<path>": ..." on
// standard output and standard error and status 1.  It writes with write(2),
// past stdio, so a caller must leave nothing in stdout's buffer while it reads
// the mapping: flush before each pass.  A SIGBUS from anywhere else keeps its
// default action.
inputtext mapinput(const char *path);
