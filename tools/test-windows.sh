#!/bin/bash
# Builds both programs as Windows console programs of both widths, 32-bit (build-win/) and
# 64-bit (build-win64/), and runs their tests under Wine: the unit tests, end-to-end runs
# with a test child and stand-in wget/ffmpeg built from the tree, and the zip package.
# The 64-bit build is tested everywhere, under the 64-bit Wine loader. The 32-bit build is
# tested only where this kernel runs i386 programs, which Wine's 32-bit part needs; where
# it cannot, one SKIPPED line says so and the script goes on. REQUIRE_WIN32_TESTS=1 makes
# that a failure instead. Each step's time is printed as it ends.
set -eu
cd "$(dirname "$0")/.."
wineserver=${WINESERVER:-/usr/lib/wine/wineserver}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

step_started=$SECONDS
step_done() {
  echo "time: $1: $((SECONDS - step_started)) s"
  step_started=$SECONDS
}

# Whether this kernel runs i386 programs: a static three-instruction exit(0), built with
# binutils into build-win/, no library and no Wine involved. A kernel without IA32 support
# refuses it with "Exec format error" whatever its configuration claims.
kernel_runs_i386() {
  local probe=build-win/i386-probe
  mkdir -p "$probe"
  printf '%s\n' '.globl _start' '_start:' 'movl $1, %eax' 'xorl %ebx, %ebx' 'int $0x80' >"$probe/exit0.s"
  if ! as --32 -o "$probe/exit0.o" "$probe/exit0.s" || ! ld -m elf_i386 -static -o "$probe/exit0" "$probe/exit0.o"; then
    echo "cannot build the i386 probe program with as/ld" >&2
    exit 1
  fi
  "$probe/exit0" >/dev/null 2>&1
}

# Prepares the Wine prefix of one build tree and starts its persistent wineserver. The
# prefix counts as ready only through our marker, written after a boot that succeeded: a
# failed boot leaves system.reg behind, and a prefix taken for ready on that alone fails
# every test later for no visible reason. A failed boot shows its log.
# boot_prefix <build dir> <loader>
boot_prefix() {
  export WINEPREFIX="$PWD/$1/wineprefix"
  local marker="$WINEPREFIX/.tools-boot-done" log="$PWD/$1/wineboot.log"
  "$wineserver" -k 2>/dev/null || true  # a server left over from an interrupted run
  if [ ! -f "$marker" ]; then
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    "$wineserver" -p
    local status=0
    "$2" wineboot -i >"$log" 2>&1 || status=$?
    if [ "$status" -ne 0 ]; then
      echo "Wine could not prepare $WINEPREFIX: '$2 wineboot -i' exited with $status; its output:" >&2
      cat "$log" >&2
      exit 1
    fi
    touch "$marker"
  else
    "$wineserver" -p
  fi
  # Wine's start-up services begin with the first program; they are started here, with
  # their output going nowhere, so that no test waits on them or has its pipe held by them.
  "$2" cmd /c exit 0 >/dev/null 2>&1 || true
}

# Ends the wineserver of the prefix in WINEPREFIX (ours only: WINEPREFIX is always set).
stop_wineserver() { "$wineserver" -k 2>/dev/null || true; }
trap 'if [ -n "${WINEPREFIX:-}" ]; then stop_wineserver; fi' EXIT

# Runs the tests of one build tree, after proof that Wine runs programs of its width: a
# Wine without the matching part exits 0 without running anything.
# run_tests <build dir> <width> <loader>
run_tests() {
  local guard
  guard=$("$3" "$1/bin/wine_guard.exe" 2>/dev/null | tr -d '\r' || true)
  if [ "$guard" != "$2-bit test programs run" ]; then
    echo "Wine does not run $2-bit programs (got: '$guard')" >&2
    exit 1
  fi
  ctest --test-dir "$1" -j 4 --timeout 300 --output-on-failure --no-tests=error
}

tools/install-windows-deps.sh
step_done "install"
cmake --preset windows -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
cmake --build build-win -j2
step_done "build 32-bit"
cmake --preset windows64 -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
cmake --build build-win64 -j2
step_done "build 64-bit"

win32_tests=no
if kernel_runs_i386; then
  win32_tests=yes
  tools/install-windows-deps.sh --wine32
  step_done "install 32-bit Wine"
fi

wine64_loader=$(sed -n 's/^TOOLS_WINE:[A-Z]*=//p' build-win64/CMakeCache.txt)
boot_prefix build-win64 "$wine64_loader"
step_done "prefix boot 64-bit"
run_tests build-win64 64 "$wine64_loader"
stop_wineserver
step_done "64-bit tests"

if [ "$win32_tests" = no ]; then
  if [ "${REQUIRE_WIN32_TESTS:-}" = 1 ]; then
    echo "FAILED: 32-bit Windows tests: this kernel cannot run i386 programs, and REQUIRE_WIN32_TESTS=1" >&2
    exit 1
  fi
  echo "SKIPPED: 32-bit Windows tests: this kernel cannot run i386 programs; build-win/ was built, not tested"
  exit 0
fi
wine32_loader=$(sed -n 's/^TOOLS_WINE:[A-Z]*=//p' build-win/CMakeCache.txt)
boot_prefix build-win "$wine32_loader"
step_done "prefix boot 32-bit"
run_tests build-win 32 "$wine32_loader"
stop_wineserver
step_done "32-bit tests"
