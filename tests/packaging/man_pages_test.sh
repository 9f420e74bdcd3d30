#!/bin/sh
# The man pages render with groff without a single warning, and name every option.
# Usage: man_pages_test.sh SOURCE_DIR
set -u
src=$1
status=0
for page in watchdog framerelay; do
  warnings=$(groff -man -Tutf8 -ww "$src/man/$page.1" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then
    echo "FAIL: $page.1 warnings:"; echo "$warnings"; status=1
  fi
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS ENVIRONMENT "EXIT STATUS" MESSAGES EXAMPLES "SEE ALSO"; do
    grep -q "^\.SH \"*$section" "$src/man/$page.1" || { echo "FAIL: $page.1 lacks $section"; status=1; }
  done
done
text=$(groff -man -Tutf8 "$src/man/watchdog.1" 2>/dev/null | col -b)
for option in -h -m -M -s -S -n -t -w -x -X -p -E -P -q -d -b -e WATCHDOG_COUNT WATCHDOG_PID WATCHDOG_ERR_IS_ALIVE WATCHDOG_NO_CGROUP; do
  printf '%s' "$text" | grep -q -- "$option" || { echo "FAIL: watchdog.1 does not mention $option"; status=1; }
done
text=$(groff -man -Tutf8 "$src/man/framerelay.1" 2>/dev/null | col -b)
for option in -s -r -R -1 -2 -d -h DEBUG_XX; do
  printf '%s' "$text" | grep -q -- "$option" || { echo "FAIL: framerelay.1 does not mention $option"; status=1; }
done
[ $status -eq 0 ] && echo "ok: man pages"
exit $status
