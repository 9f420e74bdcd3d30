#!/bin/sh
# Configures and builds the tree into build/ (or $BUILD_DIR), with extra CMake arguments passed on.
set -e
cd "$(dirname "$0")/.."
dir="${BUILD_DIR:-build}"
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
