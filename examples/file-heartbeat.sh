#!/bin/sh
# Keep a program alive that proves its health by touching a heartbeat file: restart it when
# the file is older than BEAT seconds (default 30) or missing. RUNS bounds the runs.
# Usage: file-heartbeat.sh heartbeat-file command ...
beat_file=$1
shift
exec watchdog -m"${BEAT:-30}","$beat_file" ${RUNS:+-n$RUNS} "$@"
