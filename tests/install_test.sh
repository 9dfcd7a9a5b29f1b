#!/usr/bin/env bash
# cmake --install into a scratch folder: the reader, the tool, the catalogue
# and the release information in one folder, commands in bin, the desktop
# entry (started in that folder, matched to the reader's windows by their
# class) and the icon. The installed reader's command line: --help and
# --version print without a display, a wrong option or folder is refused.
# usage: install_test.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
DESTDIR=$dest cmake --install "$build" --prefix /opt/vorza >/dev/null
root=$dest/opt/vorza
dir=$root/lib/vorza
fail() { echo "install_test: $*" >&2; exit 1; }
for f in vorza vorza-dbf vorzaw95.doc pc.dbf pc.dbt n64.dbf n64.dbt psx.dbf psx.dbt dream.dbf dream.dbt; do
  [ -s "$dir/$f" ] || fail "missing $dir/$f"
done
[ -x "$dir/vorza" ] || fail "the reader is not executable"
[ ! -e "$dir/vorzaw95" ] || fail "the reader under its old name"
for cmd in vorza vorza-dbf; do
  [ "$(readlink -f "$root/bin/$cmd")" = "$(readlink -f "$dir/$cmd")" ] || fail "bin/$cmd does not lead to the program"
done
entry=$root/share/applications/vorza.desktop
grep -qx 'Exec=vorza' "$entry" || fail "desktop entry without Exec"
grep -qx 'Icon=vorza' "$entry" || fail "desktop entry without Icon"
grep -qx 'StartupWMClass=vorza' "$entry" || fail "desktop entry without the window class"
grep -qx 'Path=/opt/vorza/lib/vorza' "$entry" || fail "desktop entry not started in the program folder"
[ -s "$root/share/icons/hicolor/scalable/apps/vorza.svg" ] || fail "no icon"
# The installed tool reads the installed catalogue.
"$root/bin/vorza-dbf" info "$dir/psx.dbf" | grep -q '^field CHEATNAME C 35 0$' || fail "vorza-dbf cannot read psx.dbf"

# The reader's command line, with no display at all.
reader() { env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$root/bin/vorza" "$@"; }
out=$(reader --help) || fail "--help failed"
grep -q '^usage: vorza \[--no-splash\] \[FOLDER\]$' <<<"$out" || fail "--help without the usage: $out"
grep -q -- '--version' <<<"$out" || fail "--help does not name --version"
[ "$(reader --version)" = "vorza $version" ] || fail "--version: $(reader --version)"
[ "$(reader "$dest" --version)" = "vorza $version" ] || fail "--version after a folder"
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
err=$(QT_QPA_PLATFORM=offscreen "$root/bin/vorza" "$dir" "$dest" 2>&1 >/dev/null) || status=$?
[ "$status" = 64 ] || fail "two folders gave status $status"
echo "install_test: ok"
