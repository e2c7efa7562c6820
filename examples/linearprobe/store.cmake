# What the build needs to know of this store beyond its binding.hpp: here only
# its family, for linebench-compare's plot.  A store that needs a library names it
# in STORE_LIBRARIES, e.g.
#   find_library(JUDY_LIBRARY Judy REQUIRED)
#   set(STORE_LIBRARIES ${JUDY_LIBRARY})
set(STORE_FAMILY "open addressing")
