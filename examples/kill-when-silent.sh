#!/bin/sh
# CI-style wrapper: run a job once, kill it after SILENCE seconds (default 600) without any
# output on stdout or stderr, and give up after LIMIT seconds (default 7200). The wrapper's
# exit status tells CI what happened: 0 the job succeeded; 124 the time limit ran out; 2 the
# job failed or was killed for silence (watchdog -x: its awaited exit status 0 never came);
# 1 it could not be started. A job that does not succeed always gets one line on stderr
# saying why, also with QUIET=1 (which leaves out watchdog's START/END lines).
# Usage: kill-when-silent.sh command ...
silence=${SILENCE:-600}
limit=${LIMIT:-7200}
watchdog ${QUIET:+-q} -M -m"$silence" -t"$limit",124 -x -n1 "$@"
status=$?
case $status in
  0) ;;
  124) echo "kill-when-silent: $1 still ran after the limit of $limit s; it was killed" >&2 ;;
  2) echo "kill-when-silent: $1 failed, or was killed after more than $silence s without output" >&2 ;;
  *) echo "kill-when-silent: $1 could not be run (watchdog exit status $status)" >&2 ;;
esac
exit $status
