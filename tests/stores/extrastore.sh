#!/usr/bin/env bash
# Builds the source in $1 into $2 with examples/linearprobe as a store of one's
# own, as docs/yourstore.md shows, and runs that store's tests there; then checks
# that the build listed it for linebench-compare.
set -euo pipefail
source=$1
build=$2
cmake -S "$source" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLINEBENCH_EXTRA_STORES=examples/linearprobe
cmake --build "$build" --target linebench-linearprobe store_linearprobe_test storecount_test
ctest --test-dir "$build" -R '^linearprobe\.' --output-on-failure --no-tests=error
listed=$(grep -P '^linebench-linearprobe\t' "$build/linebench-stores.tsv")
expected=$(printf 'linebench-linearprobe\t%s\tLINEARPROBE\topen addressing' "$build/linebench-linearprobe")
if [ "$listed" != "$expected" ]; then
  echo "linebench-stores.tsv lists: $listed" >&2
  echo "expected:                   $expected" >&2
  exit 1
fi
