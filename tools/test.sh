#!/bin/sh
# Installs what is missing, builds with warnings as errors, and runs every test in parallel;
# then the Windows builds' tests under Wine (64-bit everywhere, 32-bit where the kernel runs
# i386 programs), the format and clang-tidy checks of both systems' files (tools/lint.sh), the
# same tests on an AddressSanitizer/UndefinedBehaviorSanitizer build, and each fuzz target for
# 30 seconds.
# QUICK=1 runs the plain build's tests only.
set -e
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/build.sh -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
ctest --test-dir build -j 8 --output-on-failure
[ -n "$QUICK" ] && exit 0
tools/test-windows.sh
tools/lint.sh
BUILD_DIR=build-asan tools/build.sh -DTOOLS_SANITIZE=ON -DTOOLS_BENCH=OFF -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan -j 8 --output-on-failure
tools/fuzz.sh 30
