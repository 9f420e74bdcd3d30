#!/bin/sh
# Installs what is missing, builds, and runs every test in parallel.
set -e
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/build.sh
ctest --test-dir build -j 8 --output-on-failure
