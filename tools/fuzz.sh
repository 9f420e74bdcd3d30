#!/bin/sh
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each one: first over the
# seed and regression inputs in tests/fuzz/corpus/<target>/, then for SECONDS seconds
# (default 30) of new inputs. A crash fails the run and leaves its input in build-fuzz/crashes/;
# keep it in the corpus as a regression case once fixed.
# Usage: tools/fuzz.sh [SECONDS] [target ...]
set -e
cd "$(dirname "$0")/.."
seconds=${1:-30}
[ $# -gt 0 ] && shift
targets=${*:-"wildcmp scanner watchdog_cli framerelay_cli locate"}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DTOOLS_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j "$(nproc)" >/dev/null
mkdir -p build-fuzz/crashes
status=0
for t in $targets; do
  work="build-fuzz/corpus-$t"
  mkdir -p "$work"
  seeds="tests/fuzz/corpus/$t"
  echo "fuzz_$t: seeds, then $seconds s"
  if ! build-fuzz/bin/fuzz_$t -runs=0 "$seeds" >"build-fuzz/fuzz_$t.log" 2>&1 ||
     ! build-fuzz/bin/fuzz_$t -max_total_time="$seconds" -max_len=8192 -timeout=10 \
         -artifact_prefix=build-fuzz/crashes/"$t"- "$work" "$seeds" >>"build-fuzz/fuzz_$t.log" 2>&1; then
    echo "FAIL: fuzz_$t found a problem:"; tail -30 "build-fuzz/fuzz_$t.log"; status=1
  else
    grep -E "^Done|#[0-9]+ *DONE" "build-fuzz/fuzz_$t.log" | tail -1
  fi
done
exit $status
