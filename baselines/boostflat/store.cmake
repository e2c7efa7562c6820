# tools/deps unpacks Boost 1.81 into .deps/boost where the system has an older one.
find_package(Boost 1.81 REQUIRED CONFIG HINTS ${PROJECT_SOURCE_DIR}/.deps/boost/usr)
set(STORE_LIBRARIES Boost::headers)
set(STORE_FAMILY "open addressing")
