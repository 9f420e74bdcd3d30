#!/bin/sh
# CI-style wrapper: run a job once, kill it after 10 minutes without any output (stdout or
# stderr), and give up after 2 hours with exit status 124.
# Usage: kill-when-silent.sh command ...   (SILENCE and LIMIT override the seconds)
exec watchdog -q -M -m"${SILENCE:-600}" -t"${LIMIT:-7200}",124 -x -n1 "$@"
