# What both of Google's sets link: sparsehash's headers.  sparsehash throws
# std::length_error where a table's size would overflow, and GCC rejects a
# throw built without exceptions.  With them, such an overflow, which nothing
# catches, ends the process.
find_path(SPARSEHASH_INCLUDE_DIR sparsehash/dense_hash_set)
if(NOT SPARSEHASH_INCLUDE_DIR)
  set(STORE_MISSING "sparsehash")
  return()
endif()
if(NOT TARGET linebench_googlehash)
  add_library(linebench_googlehash INTERFACE)
  target_include_directories(linebench_googlehash INTERFACE ${SPARSEHASH_INCLUDE_DIR})
  target_compile_options(linebench_googlehash INTERFACE -fexceptions)
endif()
