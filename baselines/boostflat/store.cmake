# Boost 1.81 or later.  Where the system's Boost is older, tools/deps unpacks
# Boost 1.81 into .deps/boost of its checkout: this one's first, then, in a
# git worktree, the main checkout's, then the system's.
set(boosthints ${PROJECT_SOURCE_DIR}/.deps/boost/usr)
execute_process(COMMAND git rev-parse --path-format=absolute --git-common-dir
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} RESULT_VARIABLE status OUTPUT_VARIABLE commondir
  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(status EQUAL 0)
  get_filename_component(maincheckout "${commondir}" DIRECTORY)
  list(APPEND boosthints ${maincheckout}/.deps/boost/usr)
endif()
find_package(Boost 1.81 QUIET CONFIG HINTS ${boosthints})
if(NOT Boost_FOUND)
  set(STORE_MISSING "Boost 1.81 or later")
  return()
endif()
set(STORE_LIBRARIES Boost::headers)
set(STORE_FAMILY "open addressing")
