#!/usr/bin/env bash
# Builds the Debian package from the build in BUILD_DIR (default: build) and
# checks it: lintian reports no error, the desktop entry and the AppStream
# metainfo validate, and the installed programs run: each one's --version,
# morlix-info loading the installed library, and an upload of a list to an
# installed printer-sim on 127.0.0.1, checked byte for byte in its journal.
#
# As root the package is installed with apt-get and removed afterwards; when
# not root, or when a velquin package was installed before (it is left as it
# was), the package is unpacked into a scratch root instead.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}

work=$(mktemp -d)
simulator=""
installed=0
cleanup() {
  if [ -n "$simulator" ]; then
    kill "$simulator" 2>/dev/null || true
    wait "$simulator" 2>/dev/null || true
  fi
  if [ "$installed" = 1 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq velquin >/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "-- cpack"
rm -f "$BUILD_DIR"/velquin_*.deb
(cd "$BUILD_DIR" && cpack -G DEB >"$work/cpack.log") || {
  cat "$work/cpack.log" >&2
  exit 1
}
deb=$(ls "$BUILD_DIR"/velquin_*.deb)
echo "$deb"

echo "-- lintian"
lintian --fail-on error --tag-display-limit 0 "$deb"

echo "-- desktop-file-validate, appstreamcli validate"
dpkg-deb -x "$deb" "$work/unpacked"
desktop-file-validate "$work"/unpacked/usr/share/applications/*.desktop
appstreamcli validate --no-net "$work"/unpacked/usr/share/metainfo/*.metainfo.xml

echo "-- install"
root=""
if [ "$(id -u)" -eq 0 ] && ! dpkg-query -W -f='${Status}' velquin 2>/dev/null | grep -q 'install ok installed'; then
  installed=1
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$deb" >"$work/apt.log" || {
    cat "$work/apt.log" >&2
    exit 1
  }
  echo "installed with apt-get"
else
  root="$work/unpacked"
  echo "unpacked into $root (not installed with apt-get)"
fi
bin="$root/usr/bin"

echo "-- the installed programs"
for program in velquin printer-sim morlix-info velquin-load velquin-image; do
  [ -x "$bin/$program" ] || {
    echo "$bin/$program is missing" >&2
    exit 1
  }
  version=$(QT_QPA_PLATFORM=xcb DISPLAY= WAYLAND_DISPLAY= "$bin/$program" --version)
  echo "$version"
  [ "$version" = "$program $(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD_DIR/CMakeCache.txt")" ]
done
"$bin/morlix-info"

echo "-- an upload to the installed printer-sim on 127.0.0.1"
fonts=(/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf /usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf)
printf '%s\r\n' "${fonts[@]}" >"$work/fonts.TFL"
"$bin/printer-sim" --port 0 --quiet --journal "$work/journal" >"$work/printer-sim.log" 2>&1 &
simulator=$!
port=""
for _ in $(seq 50); do
  port=$(sed -n 's/^port //p' "$work/printer-sim.log")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || {
  cat "$work/printer-sim.log" >&2
  exit 1
}
"$bin/velquin-load" send --list "$work/fonts.TFL" --printer "tcp:127.0.0.1:$port"
# The printer writes a journal line once a file is in its flash.
for _ in $(seq 50); do
  [ "$(wc -l <"$work/journal/journal.txt" 2>/dev/null || echo 0)" -ge 2 ] && break
  sleep 0.1
done
cat "$work/journal/journal.txt"
[ "$(wc -l <"$work/journal/journal.txt")" -eq 2 ]
[ "$(grep -c ' stored' "$work/journal/journal.txt")" -eq 2 ]
cmp "${fonts[0]}" "$work"/journal/0001-ttf.bin
cmp "${fonts[1]}" "$work"/journal/0002-ttf.bin
echo "the printer stored both fonts of the list byte for byte"
