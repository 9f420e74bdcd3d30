#!/bin/sh
# Installs what the Windows build and its tests need, when any is missing: the mingw-w64
# cross compiler, GoogleTest's sources, and Wine with its 32-bit part (which needs the
# i386 architecture).
set -e
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
packages="g++-mingw-w64-i686 googletest wine wine32:i386"
missing=""
for p in $packages; do
  dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing >/dev/null
