#!/bin/sh
# Restart a flaky service whenever it prints an error line (ERROR or FATAL); with SILENCE set,
# also when it prints nothing for that many seconds. Give up after RUNS runs (default 5).
# With no command it runs the bundled demo_program, which falls silent in its first run, prints
# an error in its second and succeeds in its third: the demo uses SILENCE=3 and ends once a run
# succeeds (-x), within about ten seconds.
# Usage: restart-on-error.sh [command ...]
end=""
if [ $# -eq 0 ]; then
  set -- demo_program
  SILENCE=${SILENCE:-3}
  end="-x"
fi
exec watchdog ${SILENCE:+-m"$SILENCE"} -s'*ERROR*' -s'*FATAL*' -n"${RUNS:-5}" $end "$@"
