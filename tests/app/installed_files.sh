#!/usr/bin/env bash
# Installs the window's component of the build into a scratch prefix and checks what the desktop needs to list and start
# Korvane: the program, its menu entry and its icon in the hicolor theme.
# Usage: installed_files.sh <build folder>
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" --component korvane >/dev/null

fail() { echo "FAIL: $*" >&2; exit 1; }

[ -x "$prefix/bin/korvane" ] || fail "bin/korvane missing or not executable"

entry="$prefix/share/applications/korvane.desktop"
[ -f "$entry" ] || fail "share/applications/korvane.desktop missing"
desktop-file-validate "$entry" || fail "korvane.desktop does not validate"
grep -qx 'Exec=korvane' "$entry" || fail "the entry does not start korvane"
grep -qx 'Icon=korvane' "$entry" || fail "the entry does not name the korvane icon"
grep -qx 'Type=Application' "$entry" || fail "the entry is not an application"

png_size() {
  python3 - "$1" <<'PY'
import struct, sys
with open(sys.argv[1], "rb") as f:
    head = f.read(24)
assert head[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
print("%dx%d" % struct.unpack(">II", head[16:24]))
PY
}
for size in 16 32; do
  icon="$prefix/share/icons/hicolor/${size}x${size}/apps/korvane.png"
  [ -f "$icon" ] || fail "hicolor ${size}x${size} icon missing"
  [ "$(png_size "$icon")" = "${size}x${size}" ] || fail "hicolor ${size}x${size} icon is $(png_size "$icon")"
done
svg="$prefix/share/icons/hicolor/scalable/apps/korvane.svg"
[ -f "$svg" ] || fail "scalable icon missing"
grep -q '<svg' "$svg" || fail "scalable icon is not an SVG"

echo "installed: korvane, korvane.desktop, hicolor 16x16, 32x32 and scalable icons"
