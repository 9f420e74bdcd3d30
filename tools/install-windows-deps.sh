#!/bin/sh
# Installs what the Windows build and its tests need, when any is missing: the mingw-w64
# cross compiler, GoogleTest's sources, and Wine with its 32-bit part (which needs the
# i386 architecture).
set -e
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo dpkg --add-architecture i386
fi
exec "$(dirname "$0")/install-packages.sh" --with-recommends g++-mingw-w64-i686 googletest wine wine32:i386
