#!/usr/bin/env bash
# Every test of the build has a name a reader can use with ctest -R: letters,
# digits and _ . / - only, the same from build to build (no printed bytes of
# a parameter, no spaces).
# usage: test_names_test.sh CTEST BUILD_DIR
set -euo pipefail
ctest=$1
cd "$2"
names=$("$ctest" -N | sed -n 's/^ *Test *#[0-9]*: //p' | sed 's/ (Disabled)$//')
[ "$(wc -l <<<"$names")" -gt 100 ] || { echo "test_names_test: too few tests listed" >&2; exit 1; }
bad=$(grep -v '^[A-Za-z0-9_./-]*$' <<<"$names" || true)
if [ -n "$bad" ]; then
  echo "test_names_test: names that are hard to read or type:" >&2
  echo "$bad" >&2
  exit 1
fi
echo "test_names_test: $(wc -l <<<"$names") names, all readable"
