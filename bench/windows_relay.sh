#!/bin/sh
# watchdog.exe's relay throughput under Wine, beside a bare 1023-byte relay of the same child
# in the same run: test_child floods its standard output with text lines.
# Needs tools/test-windows.sh to have built the tree and prepared its prefix; BUILD picks the
# tree (default build-win64; build-win where the 32-bit tests run), and the tree's TOOLS_WINE
# names the loader.
# Usage: [BUILD=build-win] bench/windows_relay.sh [MiB]   (default 64)
set -e
cd "$(dirname "$0")/.."
build=${BUILD:-build-win64}
bin=$PWD/$build/bin
mib=${1:-64}
wine=$(sed -n 's/^TOOLS_WINE:[A-Z]*=//p' "$build/CMakeCache.txt")
export WINEPREFIX="$PWD/$build/wineprefix" WINEDEBUG=-all
/usr/lib/wine/wineserver -p 2>/dev/null || true
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT  # the prefix's server, ours alone

seconds() { # runs "$@" and prints the wall time in seconds
  start=$(date +%s.%N); "$@"; end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
rate() { echo "scale=2; $mib / $1" | bc -l; }
bare() { "$wine" "$bin/bare_relay_win32.exe" "$bin/test_child.exe" "$mib" > /dev/null; }
supervised() { "$wine" "$bin/watchdog.exe" -q -s'*NEVER*' -n1 "$bin/test_child.exe" flood "$mib" > /dev/null; }

t_bare=$(seconds bare)
t_wd=$(seconds supervised)
echo "watchdog.exe relay: $(rate "$t_wd") MiB/s   bare 1023-byte loop: $(rate "$t_bare") MiB/s   ratio $(echo "scale=2; $t_bare / $t_wd" | bc -l)"
echo "(the supervised run includes watchdog's one-second pause after the run)"
