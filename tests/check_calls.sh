#!/bin/sh
# Usage: check_calls.sh <program> <function>...
# Fails unless main of the program calls every function named: the timed
# passes must reach the store, not be dropped or folded away by the build.
program=$1
shift
calls=$(objdump -d -C --no-show-raw-insn --disassemble=main "$program" | grep -E '[[:space:]]call[a-z]*[[:space:]]') || {
  echo "$program: no calls found in main" >&2
  exit 1
}
status=0
for function in "$@"; do
  if ! printf '%s\n' "$calls" | grep -q "<$function("; then
    echo "$program: main does not call $function" >&2
    status=1
  fi
done
exit $status
