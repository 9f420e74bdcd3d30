#!/bin/sh
# The Debian package: its control fields, its contents, a scratch install with dpkg -x, and
# lintian where it is installed.
# Usage: deb_package_test.sh BUILD_DIR
set -u
build=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
(cd "$build" && cpack -G DEB -B "$out" >/dev/null 2>&1) || fail "cpack"
deb=$(ls "$out"/*.deb) || fail "no package"
info=$(dpkg-deb -I "$deb")
for field in "Package: watchdog-tools" "Recommends: wget, ffmpeg" "Depends: .*libc6" "Section: utils"; do
  printf '%s\n' "$info" | grep -q "^ $field" || fail "control lacks '$field'"
done
dpkg-deb -c "$deb" | grep -q "usr/share/man/man1/watchdog.1.gz" || fail "man page not packaged"
root="$out/root"
dpkg -x "$deb" "$root" || fail "dpkg -x"
"$root/usr/bin/watchdog" -h 2>&1 | grep -q "usage: watchdog" || fail "packaged watchdog -h"
if command -v lintian >/dev/null; then
  report=$(lintian --fail-on error "$deb" 2>&1) || fail "lintian errors: $report"
  printf '%s\n' "$report" | grep -q "^E:" && fail "lintian: $report"
fi
echo "ok: package"
