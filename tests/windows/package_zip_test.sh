#!/bin/sh
# The zip package of a Windows build: `cpack -G ZIP` gives one zip, named for the build's
# width, holding both programs of that width, the licence and the readme; watchdog.exe
# unpacked from it runs under Wine and prints its usage text.
# Usage: package_zip_test.sh BUILD_DIR WIDTH EXPECTED_USAGE_FILE   (WINE names the loader)
set -u
build=$1
width=$2
expected=$3
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
(cd "$build" && cpack -G ZIP -B "$out" >"$out/cpack.log" 2>&1) || { cat "$out/cpack.log"; fail "cpack"; }
set -- "$out"/*.zip
[ $# -eq 1 ] && [ -f "$1" ] || fail "not exactly one zip: $*"
case $1 in
  *-win$width.zip) ;;
  *) fail "zip name $1 does not say win$width" ;;
esac
mkdir "$out/root"
(cd "$out/root" && cmake -E tar xf "$1") || fail "cannot unpack $1"
set -- "$out"/root/*/
[ $# -eq 1 ] && [ -d "$1" ] || fail "not one folder in the zip"
dir=$1

# The PE header's machine field: 014c for 32-bit x86, 8664 for x86-64.
[ "$width" = 64 ] && machine=8664 || machine=014c
for program in watchdog.exe framerelay.exe; do
  [ -f "$dir/$program" ] || fail "$program missing"
  header=$(od -An -tu4 -j60 -N4 "$dir/$program" | tr -d ' ')
  found=$(od -An -tx2 -j$((header + 4)) -N2 "$dir/$program" | tr -d ' ')
  [ "$found" = "$machine" ] || fail "$program is for machine $found, not $machine"
done
for doc in copyright.txt README.txt; do
  [ -s "$dir/$doc" ] || fail "$doc missing"
done
grep -q "Permission is hereby granted" "$dir/copyright.txt" || fail "copyright.txt lacks the licence"
grep -q "wget.exe and ffmpeg.exe" "$dir/README.txt" || fail "README.txt does not say where wget.exe and ffmpeg.exe go"

(cd "$out" && "${WINE:-wine}" "$dir/watchdog.exe" -h >usage.raw 2>usage.err </dev/null)
status=$?
[ "$status" -eq 1 ] || fail "watchdog.exe -h from the zip: exit status $status"
tr -d '\r' <"$out/usage.err" | diff "$expected" - || fail "usage text of the zipped watchdog.exe differs"
echo "ok: zip package ($width-bit)"
