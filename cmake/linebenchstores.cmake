# Stores built from the driver beside the project's two programs: the baselines
# and any folder the user names in LINEBENCH_EXTRA_STORES.  A store folder holds
# a binding.hpp and, optionally, a store.cmake that may set:
#
#   STORE_LIBRARIES         what the binding needs linked (targets or libraries)
#   STORE_FAMILY            tree, chained hash, open addressing, trie or other
#                           (the default)
#   STORE_LABEL             the ADT label, where binding.hpp does not spell it
#                           as storelabel[] = "LABEL"
#   STORE_LOOKUP_ALLOCATES  true when the binding looks a line up through a key
#                           it allocates, so its test does not hold lookups and
#                           duplicate inserts to allocating nothing
#   STORE_MISSING           what the store needs and did not find, such as
#                           "Abseil"; an optional store (a baseline) is then
#                           left out with one line, any other is an error
#
# Every store's ADT label is its own: linebench-compare tells the stores
# apart by it, so two folders of the same label are refused.
#
# The build writes linebench-stores.tsv into the build folder, the list of every
# store program it made, for linebench-compare.  Its first line is the header
#   program<TAB>path<TAB>label<TAB>family
# then one line per program: its name (linebench-<folder name>), its absolute
# path, its ADT label (empty when unknown at configure time) and its family.
# The store programs install into libexec/linebench, with the installed list
# of stores, whose paths are relative to it (installed/linebench-stores.tsv in
# the build folder): there every program is, or has a link to it.

set(LINEBENCH_FAMILIES "tree" "chained hash" "open addressing" "trie" "other")

# CI sets this, so that a baseline left out for want of its library fails the
# run instead of going untested.
option(LINEBENCH_REQUIRE_BASELINES
  "Refuse to configure when a baseline's library is missing, instead of leaving the baseline out" OFF)

# Adds a program, built from the store in folder, to the list of stores.
function(linebench_liststore program label family folder)
  if(NOT family IN_LIST LINEBENCH_FAMILIES)
    message(FATAL_ERROR "${program}: family \"${family}\" is none of: ${LINEBENCH_FAMILIES}")
  endif()
  if(NOT label STREQUAL "")
    get_property(owner GLOBAL PROPERTY "LINEBENCH_LABEL_${label}")
    if(owner)
      message(FATAL_ERROR "store folders ${owner} and ${folder} both have the ADT label ${label}; "
        "linebench-compare tells the stores apart by their labels: give one of them another storelabel")
    endif()
    set_property(GLOBAL PROPERTY "LINEBENCH_LABEL_${label}" "${folder}")
  endif()
  set_property(GLOBAL APPEND_STRING PROPERTY LINEBENCH_STORELIST
    "${program}\t$<TARGET_FILE:${program}>\t${label}\t${family}\n")
  set_property(GLOBAL APPEND_STRING PROPERTY LINEBENCH_INSTALLEDSTORELIST
    "${program}\t${program}\t${label}\t${family}\n")
endfunction()

# Builds the store in folder as linebench-<folder name>, lists it, and records
# it for the tests: an interface library linebench_store_<name> puts its
# binding on the include path and links what it needs.  With OPTIONAL (the
# baselines), a store whose store.cmake sets STORE_MISSING is left out, with
# one line, unless LINEBENCH_REQUIRE_BASELINES is on.
function(linebench_store folder)
  cmake_parse_arguments(PARSE_ARGV 1 arg "OPTIONAL" "" "")
  get_filename_component(folder "${folder}" ABSOLUTE BASE_DIR "${PROJECT_SOURCE_DIR}")
  get_filename_component(name "${folder}" NAME)
  if(NOT EXISTS "${folder}/binding.hpp")
    message(FATAL_ERROR "store folder ${folder} holds no binding.hpp")
  endif()
  if(NOT name MATCHES "^[A-Za-z0-9_.+-]+$")
    message(FATAL_ERROR "store folder ${folder}: its name may hold only letters, digits and _ . + -")
  endif()
  if(TARGET linebench-${name})
    message(FATAL_ERROR "store folder ${folder}: linebench-${name} exists already; rename the folder")
  endif()

  set(STORE_LIBRARIES "")
  set(STORE_FAMILY "other")
  set(STORE_LABEL "")
  set(STORE_LOOKUP_ALLOCATES FALSE)
  set(STORE_MISSING "")
  if(EXISTS "${folder}/store.cmake")
    include("${folder}/store.cmake")
  endif()
  if(NOT STORE_MISSING STREQUAL "")
    if(NOT arg_OPTIONAL)
      message(FATAL_ERROR "store folder ${folder}: needs ${STORE_MISSING}, which was not found")
    elseif(LINEBENCH_REQUIRE_BASELINES) # an error for each, then no build
      message(SEND_ERROR "linebench-${name} needs ${STORE_MISSING}, which was not found; tools/deps installs it "
        "(LINEBENCH_REQUIRE_BASELINES is on)")
    else()
      message(STATUS "linebench-${name} left out: no ${STORE_MISSING} (tools/deps installs it)")
      set_property(GLOBAL APPEND PROPERTY LINEBENCH_LEFTOUT "linebench-${name}|${STORE_MISSING}")
    endif()
    return()
  endif()
  if(STORE_LABEL STREQUAL "")
    file(STRINGS "${folder}/binding.hpp" labelline REGEX "storelabel\\[\\] *= *\"[^\"]*\"" LIMIT_COUNT 1)
    string(REGEX REPLACE ".*storelabel\\[\\] *= *\"([^\"]*)\".*" "\\1" STORE_LABEL "${labelline}")
  endif()

  add_library(linebench_store_${name} INTERFACE)
  target_include_directories(linebench_store_${name} INTERFACE "${folder}")
  target_link_libraries(linebench_store_${name} INTERFACE linebench_common ${STORE_LIBRARIES})
  set_property(TARGET linebench_store_${name} PROPERTY LOOKUP_ALLOCATES ${STORE_LOOKUP_ALLOCATES})

  linebench_program(linebench-${name} "${folder}" linebench_store_${name})
  set_target_properties(linebench-${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
  install(TARGETS linebench-${name} RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/linebench)
  linebench_liststore(linebench-${name} "${STORE_LABEL}" "${STORE_FAMILY}" "${folder}")
  set_property(GLOBAL APPEND PROPERTY LINEBENCH_STORES ${name})
endfunction()

# Writes linebench-stores.tsv, and the installed one, once every store is known.
function(linebench_writestores)
  get_property(list GLOBAL PROPERTY LINEBENCH_STORELIST)
  file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/linebench-stores.tsv CONTENT "program\tpath\tlabel\tfamily\n${list}")
  get_property(list GLOBAL PROPERTY LINEBENCH_INSTALLEDSTORELIST)
  file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/installed/linebench-stores.tsv
    CONTENT "program\tpath\tlabel\tfamily\n${list}")
endfunction()
