# Debian's hat-trie-0.1.pc names neither the library nor a usable include
# path, so the library and its header are found directly.
find_library(HATTRIE_LIBRARY hat-trie)
find_path(HATTRIE_INCLUDE_DIR hat-trie/hat-trie.h)
if(NOT HATTRIE_LIBRARY OR NOT HATTRIE_INCLUDE_DIR)
  set(STORE_MISSING "HAT-trie library")
  return()
endif()
add_library(linebench_hattrie INTERFACE)
target_include_directories(linebench_hattrie INTERFACE ${HATTRIE_INCLUDE_DIR})
target_link_libraries(linebench_hattrie INTERFACE ${HATTRIE_LIBRARY})
set(STORE_LIBRARIES linebench_hattrie)
set(STORE_FAMILY "trie")
