"""linebench-compare: the stores compared on a ladder of generated corpora or
on the user's files.  The studies under bench/ share two of its modules:
report, which reads a program's report, and toolmain, how a tool ends."""
