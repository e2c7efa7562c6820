#!/bin/sh
# Usage: calls.sh <program> <function>...
# The timed passes live in each scanner kernel's scanpass.  Fails unless every
# kernel in the program has its three passes, the count pass stores the lines
# into linebuf and calls nothing, the passes together call
# every function named, and they call nothing else but the lookup check's puts
# and exit: the passes must reach the store and copy every line, not be dropped
# or folded away by the build, and each must have its step inlined.
program=$1
shift
disassembly=$(objdump -d -C --no-show-raw-insn "$program") || exit 1
# Each instruction of a pass, prefixed by its function's name.
passes=$(printf '%s\n' "$disassembly" | awk '
  /^[0-9a-f]+ <.*kernel::scanpass</ { name = $0; sub(/^[0-9a-f]+ </, "", name); next }
  /^$/ { name = "" }
  name != "" { print name " :: " $0 }')
kernels=$(printf '%s\n' "$passes" | grep -o '[a-z0-9]*kernel::scanpass<' | sed 's/::scanpass<//' | sort -u)
if [ -z "$kernels" ]; then
  echo "$program: no scanner pass found" >&2
  exit 1
fi
status=0
for kernel in $kernels; do
  mine=$(printf '%s\n' "$passes" | grep -F " $kernel::scanpass<")
  count=$(printf '%s\n' "$mine" | sed 's/ :: .*//' | sort -u | wc -l)
  if [ "$count" -ne 3 ]; then
    echo "$program: $kernel has $count passes, not 3" >&2
    status=1
  fi
  countpass=$(printf '%s\n' "$mine" | grep '^linecount ')
  if ! printf '%s\n' "$countpass" | grep -Eq 'mov[a-z0-9]* +%[a-z0-9]+,[^%]*\('; then
    echo "$program: the count pass of $kernel stores no line" >&2
    status=1
  fi
  if printf '%s\n' "$countpass" | grep -Eq '[[:space:]]call[a-z]*[[:space:]]'; then
    echo "$program: the count pass of $kernel makes a call" >&2
    status=1
  fi
  calls=$(printf '%s\n' "$mine" | grep -E '[[:space:]]call[a-z]*[[:space:]]')
  for function in "$@"; do
    if ! printf '%s\n' "$calls" | grep -q "<$function("; then
      echo "$program: the passes of $kernel do not call $function" >&2
      status=1
    fi
    calls=$(printf '%s\n' "$calls" | grep -v "<$function(")
  done
  others=$(printf '%s\n' "$calls" | grep -v -e '<puts@plt>' -e '<exit@plt>' | grep .)
  if [ -n "$others" ]; then
    printf '%s: the passes of %s make other calls:\n%s\n' "$program" "$kernel" "$others" >&2
    status=1
  fi
done
exit $status
