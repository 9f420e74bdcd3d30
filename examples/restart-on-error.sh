#!/bin/sh
# Restart a flaky service whenever it prints an error line; give up after RUNS runs (default 5).
# Usage: restart-on-error.sh [command ...]   (default: the bundled demo_program)
[ $# -gt 0 ] || set -- demo_program
exec watchdog -s'*ERROR*' -s'*FATAL*' -n"${RUNS:-5}" "$@"
