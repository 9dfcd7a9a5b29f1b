#!/usr/bin/env bash
# cmake --install into a scratch folder (DESTDIR, under the configured
# prefix): the commands in bin; the sample catalogue and the release
# information in share/vorza; the desktop entry (starting the installed
# reader), the icon, the software centre's metadata, the manual pages, the
# bash completion and the copyright file; every file printed and listed in
# the install manifest, nothing else installed.
# The installed reader: --help and --version print without a display, no
# display at all is one line, a wrong option or folder is refused; on the
# offscreen platform it opens the installed sample, or the user's own
# catalogue once there is one, builds its index there and ends on SIGTERM as
# File/Exit does (the index removed).
# usage: install_test.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2
dest=$(mktemp -d)
pid=""
trap '[ -z "$pid" ] || kill -9 "$pid" 2>/dev/null || true; rm -rf "$dest"' EXIT
fail() { echo "install_test: $*" >&2; exit 1; }
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
out=$(DESTDIR=$dest cmake --install "$build")
root=$dest$prefix
share=$root/share/vorza

# What was installed, what was printed, what the manifest lists: the same.
installed=$(cd "$dest" && find . ! -type d | sed 's|^\.||' | sort)
printed=$(sed -n -E 's@^-- (Installing|Up-to-date): @@p' <<<"$out" | sed "s|^$dest||" | sort)
listed=$(sed "s|^$dest||" "$build/install_manifest.txt" | sort)
[ "$installed" = "$printed" ] || fail "installed and printed differ:
$(diff <(echo "$installed") <(echo "$printed"))"
[ "$installed" = "$listed" ] || fail "installed and listed differ:
$(diff <(echo "$installed") <(echo "$listed"))"
expected="$prefix/bin/vorza
$prefix/bin/vorza-dbf
$prefix/share/applications/vorza.desktop
$prefix/share/bash-completion/completions/vorza-dbf
$prefix/share/doc/vorza/changelog.gz
$prefix/share/doc/vorza/copyright
$prefix/share/icons/hicolor/scalable/apps/vorza.svg
$prefix/share/lintian/overrides/vorza
$prefix/share/man/man1/vorza-dbf.1.gz
$prefix/share/man/man1/vorza.1.gz
$prefix/share/metainfo/org.example.vantu.vorza.metainfo.xml
$prefix/share/vorza/dream.dbf
$prefix/share/vorza/dream.dbt
$prefix/share/vorza/n64.dbf
$prefix/share/vorza/n64.dbt
$prefix/share/vorza/pc.dbf
$prefix/share/vorza/pc.dbt
$prefix/share/vorza/psx.dbf
$prefix/share/vorza/psx.dbt
$prefix/share/vorza/vorzaw95.doc"
[ "$installed" = "$expected" ] || fail "the files installed:
$(diff <(echo "$expected") <(echo "$installed"))"
[ -x "$root/bin/vorza" ] && [ ! -L "$root/bin/vorza" ] || fail "bin/vorza is not the program"

entry=$root/share/applications/vorza.desktop
exec_line=$(grep '^Exec=' "$entry")
if [ "$prefix" = /usr ]; then
  [ "$exec_line" = "Exec=vorza" ] || fail "desktop entry: $exec_line"
else
  [ "$exec_line" = "Exec=$prefix/bin/vorza" ] || fail "desktop entry: $exec_line"
fi
grep -qx 'Icon=vorza' "$entry" || fail "desktop entry without Icon"
grep -qx 'StartupWMClass=vorza' "$entry" || fail "desktop entry without the window class"
grep -q "<release version=\"$version\"" "$root/share/metainfo/org.example.vantu.vorza.metainfo.xml" ||
  fail "the metadata names another release"
# The completion knows every command of the tool.
for command in $("$root/bin/vorza-dbf" --help | sed -n '/^Commands:/,/^$/p' | sed -n 's/^  \([a-z]\+\) .*/\1/p'); do
  grep -q "commands=\".*\b$command\b" "$root/share/bash-completion/completions/vorza-dbf" ||
    fail "the bash completion does not know $command"
done
# The installed tool reads the installed catalogue.
"$root/bin/vorza-dbf" info "$share/psx.dbf" | grep -q '^field CHEATNAME C 35 0$' || fail "vorza-dbf cannot read psx.dbf"
[ "$("$root/bin/vorza-dbf" --version)" = "vorza-dbf $version" ] || fail "vorza-dbf --version"

# The reader's command line, with no display at all.
reader() { env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$root/bin/vorza" "$@"; }
out=$(reader --help) || fail "--help failed"
grep -q '^usage: vorza \[--no-splash\] \[FOLDER\]$' <<<"$out" || fail "--help without the usage: $out"
grep -q -- '--version' <<<"$out" || fail "--help does not name --version"
[ "$(reader --version)" = "vorza $version" ] || fail "--version: $(reader --version)"
[ "$(reader "$dest" --version)" = "vorza $version" ] || fail "--version after a folder"
status=0
err=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/bin/vorza" 2>&1 >/dev/null) || status=$?
[ "$status" = 1 ] || fail "without a display the status is $status"
[ "$(wc -l <<<"$err")" = 1 ] && grep -q '^vorza: no display' <<<"$err" || fail "without a display: $err"
# Refused before any window is made (the display is never reached).
status=0
err=$(QT_QPA_PLATFORM=offscreen "$root/bin/vorza" --no-such-option 2>&1 >/dev/null) || status=$?
[ "$status" = 64 ] || fail "an unknown option gave status $status"
grep -q 'unknown option --no-such-option' <<<"$err" || fail "unknown option: $err"
status=0
err=$(QT_QPA_PLATFORM=offscreen "$root/bin/vorza" "$dest/no such folder" 2>&1 >/dev/null) || status=$?
[ "$status" = 2 ] || fail "a missing folder gave status $status"
grep -q "no such folder" <<<"$err" || fail "missing folder: $err"
status=0
err=$(QT_QPA_PLATFORM=offscreen "$root/bin/vorza" "$share" "$dest" 2>&1 >/dev/null) || status=$?
[ "$status" = 64 ] || fail "two folders gave status $status"

# The reader on its own, started from a home folder: the installed sample,
# then the user's catalogue. Its index appears in the folder it opened (or
# in the cache, where that cannot be written) and goes with SIGTERM.
home=$dest/home
mkdir -p "$home"
run_reader() {  # run_reader FOLDER-WHERE-THE-INDEX-GOES
  (cd "$home" && exec env -u XDG_DATA_HOME HOME="$home" XDG_CONFIG_HOME="$home/.config" \
    XDG_CACHE_HOME="$home/.cache" QT_QPA_PLATFORM=offscreen "$root/bin/vorza" --no-splash \
    >/dev/null 2>&1) &
  pid=$!
  local index="" i
  for i in $(seq 200); do
    for f in "$1/cheat.ndx" "$home/.cache/vorza/cheat.ndx"; do [ -e "$f" ] && index=$f; done
    [ -n "$index" ] && break
    sleep 0.1
  done
  [ -n "$index" ] || fail "the reader built no index for $1"
  sleep 0.5
  kill -TERM "$pid"
  status=0
  wait "$pid" || status=$?
  pid=""
  [ "$status" = 0 ] || fail "SIGTERM ended the reader with status $status"
  [ ! -e "$index" ] || fail "SIGTERM left $index"
}
run_reader "$share"
mkdir -p "$home/.local/share/vorza"
"$root/bin/vorza-dbf" export "$share/n64.dbf" >"$home/n64.csv"
"$root/bin/vorza-dbf" import "$home/.local/share/vorza/n64.dbf" "$home/n64.csv"
run_reader "$home/.local/share/vorza"
echo "install_test: ok"
