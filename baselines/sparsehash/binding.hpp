// The SPARSEHASH baseline binding: the driver built against
// google::sparse_hash_set, sparsehash's memory-lean set: open addressing with
// quadratic probing over a sparse array, groups of 48 slots that hold only the
// keys present and a bitmap of which, so an empty slot costs a bit.  A tool of
// the benchmark suite, not a deliverable: it links the C++ library.
#pragma once

#include <sparsehash/sparse_hash_set>

inline constexpr char storelabel[] = "SPARSEHASH";
inline constexpr char storelookupfailure[] = "GETSTRING(sparsehash) failed -- BUG!\n";

template <typename Key, typename Hash, typename Equal>
using googlesettemplate = google::sparse_hash_set<Key, Hash, Equal>;

#include "baselines/googlehash.hpp"
