#!/usr/bin/env bash
# The build's placing of a sample table beside the reader: the build's own
# copy is replaced by a newer sample, a table somebody else wrote there is
# never overwritten (both files are kept, whichever of them changed), and
# the sample comes back once that table is gone.
# usage: sample_place_test.sh CMAKE PLACESAMPLE_SCRIPT
set -euo pipefail
cmake=$1
script=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/sample" "$dir/bin"
fail() { echo "sample_place_test: $*" >&2; exit 1; }
sample() { printf '%s' "$1" >"$dir/sample/pc.dbf"; printf '%s' "$2" >"$dir/sample/pc.dbt"; }
place() { "$cmake" -DSAMPLE="$dir/sample/pc" -DTARGET="$dir/bin/pc" -P "$script" 2>"$dir/warnings"; }
holds() { [ "$(cat "$dir/bin/pc.dbf")" = "$1" ] && [ "$(cat "$dir/bin/pc.dbt")" = "$2" ] || fail "$3: bin holds $(cat "$dir/bin/pc.dbf")/$(cat "$dir/bin/pc.dbt")"; }

sample "sample one" "memo one"
place
holds "sample one" "memo one" "first placing"
sample "sample two" "memo two"
place
holds "sample two" "memo two" "the build's own copy follows the sample"
[ ! -s "$dir/warnings" ] || fail "a warning for the build's own table: $(cat "$dir/warnings")"

# A catalogue of one's own, made where the sample was.
printf 'my own' >"$dir/bin/pc.dbf"
printf 'my memos' >"$dir/bin/pc.dbt"
sample "sample three" "memo three"
place
holds "my own" "my memos" "a user's table"
tr -s ' \n' '  ' <"$dir/warnings" | grep -q "not written by the build" || fail "no warning when a table is kept"
touch "$dir/sample/pc.dbf"
place
holds "my own" "my memos" "a user's table, placed again"

# Only the memo file changed by somebody else: both are kept.
rm "$dir/bin/pc.dbf" "$dir/bin/pc.dbt"
place
holds "sample three" "memo three" "the sample back once the user's table is gone"
printf 'edited memos' >"$dir/bin/pc.dbt"
sample "sample four" "memo four"
place
holds "sample three" "edited memos" "an edited memo file"
echo "sample_place_test: ok"
