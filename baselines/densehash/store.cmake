include(${CMAKE_CURRENT_LIST_DIR}/../googlehash.cmake)
set(STORE_LIBRARIES linebench_googlehash)
set(STORE_FAMILY "open addressing")
