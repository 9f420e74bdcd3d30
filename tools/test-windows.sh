#!/bin/bash
# Builds both programs as 32-bit Windows console programs (build-win/) and runs their tests
# under Wine: the unit tests, then end-to-end runs with a test child and stand-in
# wget/ffmpeg built from the tree.
set -eu
cd "$(dirname "$0")/.."
tools/install-windows-deps.sh
cmake --preset windows >/dev/null
cmake --build build-win -j "$(nproc)"

# A Wine prefix of our own, prepared once; one wineserver for the whole run, warmed up so
# that the tests do not wait on Wine's start-up services.
export WINEPREFIX="$PWD/build-win/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
wineserver -k 2>/dev/null || true
wineserver -p
trap 'wineserver -k || true' EXIT
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
wine cmd /c exit 0 >/dev/null 2>&1 || true

# Wine without its 32-bit part exits 0 without running a 32-bit program: make sure one ran.
guard=$(wine build-win/bin/wine_guard.exe 2>/dev/null | tr -d '\r' || true)
if [ "$guard" != "32-bit test programs run" ]; then
  echo "Wine does not run 32-bit programs (got: '$guard'); is wine32:i386 installed?" >&2
  exit 1
fi

ctest --test-dir build-win -j 4 --timeout 300 --output-on-failure
