#!/bin/sh
# Usage: prefetch.sh <program> <function>...
# Fails unless every function named loads ahead with a prefetch instruction:
# a compiler may drop a prefetch that the source asks for, and the figures
# would only show it as a slower store on a large file.
program=$1
shift
disassembly=$(objdump -d -C --no-show-raw-insn "$program") || exit 1
status=0
for function in "$@"; do
  if ! printf '%s\n' "$disassembly" | awk -v name="<$function(" '
      /^[0-9a-f]+ </ { inside = index($0, name) > 0; next }
      inside && /[[:space:]](prefetch[a-z0-9]*|prfm)[[:space:]]/ { found = 1 }
      END { exit !found }'; then
    echo "$program: $function has no prefetch" >&2
    status=1
  fi
done
exit $status
