set(STORE_FAMILY "tree")
