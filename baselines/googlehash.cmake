# What both of Google's sets link.  sparsehash throws std::length_error where a
# table's size would overflow, and GCC rejects a throw built without
# exceptions.  With them, such an overflow, which nothing catches, ends the
# process.
if(NOT TARGET linebench_googlehash)
  add_library(linebench_googlehash INTERFACE)
  target_compile_options(linebench_googlehash INTERFACE -fexceptions)
endif()
