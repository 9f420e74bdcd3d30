#!/bin/sh
# Installs the Debian packages the build, the tests and the demo need, when any is missing.
exec "$(dirname "$0")/install-packages.sh" cmake g++ make libgtest-dev libbenchmark-dev wget ffmpeg procps \
  binutils faketime groff-base man-db bsdextrautils dpkg-dev lintian file bc clang libclang-rt-14-dev \
  clang-format clang-tidy
