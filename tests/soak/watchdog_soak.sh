#!/bin/sh
# Long run of watchdog (minutes; not part of the test suite): RESTARTS restarts of a child
# that ends at once (default 300) and KILLS hang kills (default 50), side by side. Samples
# each supervisor's descriptors, resident memory and children, and prints the first and last
# sample. Usage: tests/soak/watchdog_soak.sh [BIN_DIR]
set -u
bin=${1:-build/bin}
restarts=${RESTARTS:-300}
kills=${KILLS:-50}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

sample() { # pid -> "fds rss_kb children"
  fds=$(ls /proc/"$1"/fd 2>/dev/null | wc -l)
  rss=$(awk '/^VmRSS/ {print $2}' /proc/"$1"/status 2>/dev/null)
  kids=$(ps --ppid "$1" --no-headers 2>/dev/null | wc -l)
  echo "$fds $rss $kids"
}

"$bin/watchdog" -q -n"$restarts" sh -c 'exit 0' 2>"$work/restart.err" &
restart_pid=$!
"$bin/watchdog" -m1 -n"$kills" sh -c 'sleep 30' 2>"$work/kill.err" &
kill_pid=$!
sleep 0.5
first_restart=$(sample $restart_pid)
first_kill=$(sample $kill_pid)
last_restart=$first_restart
last_kill=$first_kill
max_rss_restart=0
while kill -0 $restart_pid 2>/dev/null || kill -0 $kill_pid 2>/dev/null; do
  if kill -0 $restart_pid 2>/dev/null; then
    s=$(sample $restart_pid); [ -n "$s" ] && last_restart=$s
  fi
  if kill -0 $kill_pid 2>/dev/null; then
    s=$(sample $kill_pid); [ -n "$s" ] && last_kill=$s
  fi
  sleep 2
done
wait $restart_pid; restart_status=$?
wait $kill_pid; kill_status=$?
echo "restarts: $restarts runs, status $restart_status; fds rss_kb children first: $first_restart last: $last_restart"
echo "hang kills: $(grep -c 'no output' "$work/kill.err") kills, status $kill_status; fds rss_kb children first: $first_kill last: $last_kill"
echo "left over: $(pgrep -c -f 'sleep 30' || true) sleeping children"
