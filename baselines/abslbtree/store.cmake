find_package(absl REQUIRED)
set(STORE_LIBRARIES absl::btree)
set(STORE_FAMILY "tree")
