#!/bin/sh
# Installs what the Windows builds and their tests need, when any is missing: the mingw-w64
# cross compilers of both widths, GoogleTest's sources, binutils (for the i386 probe of
# tools/test-windows.sh) and the 64-bit Wine loader, all without what they recommend.
# --wine32 also adds the i386 architecture and Wine's 32-bit part, which only helps where
# the kernel runs i386 programs.
set -e
here=$(dirname "$0")
"$here/install-packages.sh" g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix googletest binutils wine64
[ "${1:-}" = "--wine32" ] || exit 0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo dpkg --add-architecture i386
fi
exec "$here/install-packages.sh" wine32:i386
