#!/usr/bin/env bash
# cmake --install into a scratch folder: the reader, the tool, the catalogue
# and the release information in one folder, commands in bin, the desktop
# entry (started in that folder) and the icon.
# usage: install_test.sh BUILD_DIR
set -euo pipefail
build=$1
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
DESTDIR=$dest cmake --install "$build" --prefix /opt/vorza >/dev/null
root=$dest/opt/vorza
dir=$root/lib/vorza
fail() { echo "install_test: $*" >&2; exit 1; }
for f in vorzaw95 vorza-dbf vorzaw95.doc pc.dbf pc.dbt n64.dbf n64.dbt psx.dbf psx.dbt dream.dbf dream.dbt; do
  [ -s "$dir/$f" ] || fail "missing $dir/$f"
done
[ -x "$dir/vorzaw95" ] || fail "the reader is not executable"
for cmd in vorzaw95 vorza-dbf; do
  [ "$(readlink -f "$root/bin/$cmd")" = "$(readlink -f "$dir/$cmd")" ] || fail "bin/$cmd does not lead to the program"
done
entry=$root/share/applications/vorza.desktop
grep -qx 'Exec=vorzaw95' "$entry" || fail "desktop entry without Exec"
grep -qx 'Icon=vorza' "$entry" || fail "desktop entry without Icon"
grep -qx 'Path=/opt/vorza/lib/vorza' "$entry" || fail "desktop entry not started in the program folder"
[ -s "$root/share/icons/hicolor/scalable/apps/vorza.svg" ] || fail "no icon"
# The installed tool reads the installed catalogue.
"$root/bin/vorza-dbf" info "$dir/psx.dbf" | grep -q '^field CHEATNAME C 35 0$' || fail "vorza-dbf cannot read psx.dbf"
echo "install_test: ok"
