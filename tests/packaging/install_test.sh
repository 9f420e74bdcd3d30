#!/bin/sh
# `cmake --install` into a scratch prefix gives working programs and readable man pages.
# Usage: install_test.sh BUILD_DIR
set -u
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
cmake --install "$build" --prefix "$prefix" >/dev/null || fail "install"
for f in bin/watchdog bin/framerelay share/man/man1/watchdog.1 share/man/man1/framerelay.1; do
  [ -e "$prefix/$f" ] || fail "$f missing"
done
out=$(PATH="$prefix/bin" watchdog -h 2>&1)
[ $? -eq 1 ] || fail "watchdog -h status"
printf '%s\n' "$out" | head -1 | grep -qx "watchdog  ver 1.0-42 <mingw> date 2020/06/21" || fail "version line: $out"
out=$(PATH="$prefix/bin" framerelay -h 2>&1)
printf '%s\n' "$out" | head -1 | grep -qx "framerelay  ver 0.24 date 2016/02/17" || fail "framerelay version line"
if command -v man >/dev/null; then
  MANPATH="$prefix/share/man" MANWIDTH=80 man watchdog 2>/dev/null | grep -q "^WATCHDOG(1)" || fail "man watchdog"
  MANPATH="$prefix/share/man" MANWIDTH=80 man framerelay 2>/dev/null | grep -q "^FRAMERELAY(1)" || fail "man framerelay"
fi
echo "ok: install"
