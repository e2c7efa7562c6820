find_package(absl REQUIRED)
set(STORE_LIBRARIES absl::flat_hash_set)
set(STORE_FAMILY "open addressing")
