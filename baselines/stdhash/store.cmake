set(STORE_FAMILY "chained hash")
