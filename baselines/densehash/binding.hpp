// The DENSEHASH baseline binding: the driver built against
// google::dense_hash_set, sparsehash's fast set: open addressing with
// quadratic probing in one array of keys, at most half full.  A tool of the
// benchmark suite, not a deliverable: it links the C++ library.
#pragma once

#include <sparsehash/dense_hash_set>

inline constexpr char storelabel[] = "DENSEHASH";
inline constexpr char storelookupfailure[] = "GETSTRING(densehash) failed -- BUG!\n";

template <typename Key, typename Hash, typename Equal>
using googlesettemplate = google::dense_hash_set<Key, Hash, Equal>;

#include "baselines/googlehash.hpp"
