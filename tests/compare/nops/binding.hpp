// A HASH binding for the tests of linebench-compare's counts: the real hash
// store, whose insert and lookup run a block of no-ops first.  Each block has
// the same bytes in both builds, one-byte no-ops or, with LINEBENCH_FEWNOPS,
// eight-byte ones, so that the two lay out their code alike and differ by
// exactly 56 instructions an insert (64 bytes) and 28 a lookup (32 bytes).
#pragma once

#define storeinsert hashbindinginsert
#define storelookup hashbindinglookup
#include "hash/binding.hpp"
#undef storeinsert
#undef storelookup

#ifdef LINEBENCH_FEWNOPS
#define NOPBYTES(bytes) ".rept " #bytes " / 8\n.byte 0x0f, 0x1f, 0x84, 0, 0, 0, 0, 0\n.endr"
#else
#define NOPBYTES(bytes) ".rept " #bytes "\n.byte 0x90\n.endr"
#endif

inline void storeinsert(storecontainer &table, const char *line)
{
    asm volatile(NOPBYTES(64));
    hashbindinginsert(table, line);
}

inline const void *storelookup(storecontainer &table, const char *line)
{
    asm volatile(NOPBYTES(32));
    return hashbindinglookup(table, line);
}
