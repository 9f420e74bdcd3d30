#!/bin/sh
# Installs those of the given Debian packages that are missing, through sudo when not root.
# --with-recommends also installs what they recommend.
set -e
recommends="--no-install-recommends"
if [ "$1" = "--with-recommends" ]; then
  recommends=""
  shift
fi
missing=""
for p in "$@"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $recommends $missing >/dev/null
