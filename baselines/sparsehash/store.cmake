# sparsehash throws std::length_error where a table's size would overflow, and
# GCC rejects a throw built without exceptions.  With them, such an overflow,
# which nothing catches, ends the process.
if(NOT TARGET linebench_sparsehash)
  add_library(linebench_sparsehash INTERFACE)
  target_compile_options(linebench_sparsehash INTERFACE -fexceptions)
endif()
set(STORE_LIBRARIES linebench_sparsehash)
set(STORE_FAMILY "open addressing")
