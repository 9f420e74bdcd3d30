#!/bin/sh
# Checks the tree's habits: every C++ file formatted as .clang-format says, and clang-tidy's
# checks in .clang-tidy clean over every file the Linux build compiles. Needs that build made
# first (build/, or $BUILD_DIR): its compile_commands.json names the files and their flags.
set -e
cd "$(dirname "$0")/.."
dir="${BUILD_DIR:-build}"
find common platform watchdog framerelay tests bench tools -name '*.cpp' -o -name '*.h' |
  xargs clang-format --dry-run -Werror
echo "clang-format: clean"
grep '"file":' "$dir/compile_commands.json" | sed 's/.*"file": "\(.*\)".*/\1/' | sort -u |
  xargs -n 4 -P "$(nproc)" clang-tidy -p "$dir" --quiet 2>/dev/null
echo "clang-tidy: clean"
