#!/bin/sh
# Usage: aligned.sh <program> <symbol> <alignment> <size>
# Fails unless the program's symbol starts on a multiple of alignment bytes
# and takes size bytes: the hash store's chain heads must lie on 2 MiB
# boundaries for huge pages to back them, and the figures would only show it
# as a slower store.
program=$1 symbol=$2 alignment=$3 size=$4
found=$(nm -S "$program" | awk -v name="$symbol" '$4 == name { print $1, $2 }') || exit 1
if [ -z "$found" ]; then
  echo "$program: no symbol $symbol" >&2
  exit 1
fi
address=$((0x${found% *}))
bytes=$((0x${found#* }))
status=0
if [ $((address % alignment)) -ne 0 ]; then
  echo "$program: $symbol at $address, not on a multiple of $alignment" >&2
  status=1
fi
if [ "$bytes" -ne "$size" ]; then
  echo "$program: $symbol takes $bytes bytes, not $size" >&2
  status=1
fi
exit $status
