#!/bin/sh
# Installs the Debian packages the build, the tests and the demo need, when any is missing.
set -e
packages="cmake g++ make libgtest-dev libbenchmark-dev wget ffmpeg procps binutils groff-base man-db bsdextrautils dpkg-dev lintian file bc clang libclang-rt-14-dev"
missing=""
for p in $packages; do
  dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing >/dev/null
