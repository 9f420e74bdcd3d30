#!/bin/sh
# Checks the tree's habits: every C++ file formatted as .clang-format says, and clang-tidy's
# checks in .clang-tidy clean over every file the builds compile. Needs the Linux build made
# first (build/, or $BUILD_DIR): its compile_commands.json names the files and their flags.
# Where the 64-bit Windows tree (build-win64/) has been configured, its files are checked too,
# against the mingw-w64 headers.
set -e
cd "$(dirname "$0")/.."
dir="${BUILD_DIR:-build}"

# The source files a build tree compiles, ours only.
sources() {
  grep '"file":' "$1/compile_commands.json" | sed 's/.*"file": "\(.*\)".*/\1/' | grep -v googletest | sort -u
}

find common platform watchdog framerelay tests bench tools -name '*.cpp' -o -name '*.h' |
  xargs clang-format --dry-run -Werror
echo "clang-format: clean"
sources "$dir" | xargs -n 4 -P "$(nproc)" clang-tidy -p "$dir" --quiet 2>/dev/null
echo "clang-tidy: clean (Linux)"

[ -f build-win64/compile_commands.json ] || exit 0
# The cross compiler the tree is built with.
mingw=$(sed -n 's/.*"command": "\([^ ]*\) .*/\1/p' build-win64/compile_commands.json | head -n 1)
# clang reads the C++ library and Windows headers of the cross compiler, but not gcc's own
# intrinsics headers, which only gcc understands.
includes=$(echo | "$mingw" -E -x c++ - -v 2>&1 | sed -n '/<...> search starts here/,/End of search list/p' |
  grep '^ ' | grep -v -e '/gcc/[^/]*/[^/]*/include$' -e '/include-fixed$' | sed 's/^ */--extra-arg=-isystem/')
sources build-win64 | grep -e '_win32' -e '/windows/' |
  xargs -n 4 -P "$(nproc)" clang-tidy -p build-win64 --quiet --extra-arg=--target=x86_64-w64-mingw32 $includes 2>/dev/null
echo "clang-tidy: clean (Windows)"
