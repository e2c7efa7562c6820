#!/usr/bin/env bash
# Configures the source in $1 in scratch folders under $2 as a machine without
# the baselines' libraries would (GoogleTest's package in $3 stays found):
# - each baseline that needs a library is left out with one line, the list of
#   stores names the others, and the programs and linebench-shape build; an
#   install says each that it lacks;
# - with LINEBENCH_REQUIRE_BASELINES, as CI configures, each is an error;
# - two store folders of the same ADT label are refused, both named.
set -euo pipefail
source=$1
scratch=$2
gtestdir=$3
rm -rf "$scratch"
mkdir -p "$scratch"

fail() {
  echo "$1" >&2
  [ $# -lt 2 ] || printf '%s\n' "--- cmake said:" "$2" >&2
  exit 1
}

# Where the libraries are: the system (/usr, and / through Debian's merged
# /usr), and Boost 1.81 where tools/deps unpacks it, in this checkout or in
# the main checkout of a git worktree.
hidden="/usr;/;$source/.deps/boost/usr"
if common=$(git -C "$source" rev-parse --path-format=absolute --git-common-dir 2>/dev/null); then
  hidden+=";$(dirname "$common")/.deps/boost/usr"
fi
configure() {
  cmake -S "$source" -G Ninja -DCMAKE_BUILD_TYPE=Release "-DGTest_DIR=$gtestdir" "$@" 2>&1
}

said=$(configure -B "$scratch/bare" "-DCMAKE_IGNORE_PREFIX_PATH=$hidden") || fail "no configure without the libraries" "$said"
expected="-- linebench-abslflat left out: no Abseil (tools/deps installs it)
-- linebench-boostflat left out: no Boost 1.81 or later (tools/deps installs it)
-- linebench-abslbtree left out: no Abseil (tools/deps installs it)
-- linebench-judysl left out: no Judy library (tools/deps installs it)
-- linebench-hattrie left out: no HAT-trie library (tools/deps installs it)
-- linebench-densehash left out: no sparsehash (tools/deps installs it)
-- linebench-sparsehash left out: no sparsehash (tools/deps installs it)"
[ "$(grep 'left out' <<<"$said")" = "$expected" ] || fail "not the baselines left out" "$said"
# An install ends by saying each baseline that it lacks.
said=$(cmake --install "$scratch/bare" --prefix "$scratch/prefix" --component leftout 2>&1) ||
  fail "no install of what the build left out" "$said"
lacks=$(sed -E 's|^-- (\S+) left out: no (.*) \(tools/deps installs it\)$|\1 not installed: the build left it out, for want of \2;|' \
  <<<"$expected")
said=$(grep -v '^-- Install configuration' <<<"$said")
[ "${said// tools\/deps installs it, then configure, build and install again/}" = "$lacks" ] ||
  fail "not the baselines said missing at the install" "$said"
listed=$(cut -f1 "$scratch/bare/linebench-stores.tsv" | tr '\n' ' ')
[ "$listed" = "program linebench-redblack linebench-hash linebench-stdset linebench-stdhash " ] ||
  fail "linebench-stores.tsv lists: $listed"
cmake --build "$scratch/bare" --target linebench-redblack linebench-hash linebench-shape

# CMake wraps its errors: the words are checked with the line breaks undone.
refused() {
  local said
  if said=$(configure "$@"); then
    fail "configured where it must refuse: $*" "$said"
  fi
  tr -s ' \n' '  ' <<<"$said"
}

said=$(refused -B "$scratch/required" "-DCMAKE_IGNORE_PREFIX_PATH=$hidden" -DLINEBENCH_REQUIRE_BASELINES=ON)
for needs in "abslflat needs Abseil" "boostflat needs Boost 1.81 or later" "abslbtree needs Abseil" \
  "judysl needs Judy library" "hattrie needs HAT-trie library" "densehash needs sparsehash" \
  "sparsehash needs sparsehash"; do
  grep -qF "linebench-$needs, which was not found; tools/deps installs it" <<<"$said" || fail "no error: $needs" "$said"
done

mkdir -p "$scratch/one" "$scratch/two" "$scratch/three"
cp -r "$source/examples/linearprobe" "$scratch/one/linearprobe"
cp -r "$source/examples/linearprobe" "$scratch/two/secondprobe"
said=$(refused -B "$scratch/twice" -DLINEBENCH_TESTS=OFF \
  "-DLINEBENCH_EXTRA_STORES=$scratch/one/linearprobe;$scratch/two/secondprobe")
grep -qF "store folders $scratch/one/linearprobe and $scratch/two/secondprobe both have the ADT label LINEARPROBE" \
  <<<"$said" || fail "two folders of one label not refused" "$said"

cp -r "$source/examples/linearprobe" "$scratch/three/myhash"
sed -i 's/storelabel\[\] = "LINEARPROBE"/storelabel[] = "HASH"/' "$scratch/three/myhash/binding.hpp"
said=$(refused -B "$scratch/hash" -DLINEBENCH_TESTS=OFF "-DLINEBENCH_EXTRA_STORES=$scratch/three/myhash")
grep -qF "store folders $source/hash and $scratch/three/myhash both have the ADT label HASH" <<<"$said" ||
  fail "a folder labelled HASH not refused" "$said"
