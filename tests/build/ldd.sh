#!/bin/sh
# Fails unless every program given links against libc alone (besides the
# kernel's vDSO and the dynamic loader).
status=0
for program in "$@"; do
  if ! libraries=$(ldd "$program"); then
    echo "$program: ldd failed" >&2
    status=1
    continue
  fi
  others=$(printf '%s\n' "$libraries" | grep -v -e 'linux-vdso\.so' -e 'libc\.so\.6 ' -e '/ld-linux[^ ]*\.so')
  if [ -n "$others" ]; then
    printf '%s links against more than libc:\n%s\n' "$program" "$others" >&2
    status=1
  fi
  printf '%s\n' "$libraries" | grep -q 'libc\.so\.6 ' || { echo "$program: no libc" >&2; status=1; }
done
exit $status
