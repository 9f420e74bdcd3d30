#!/bin/sh
# How watchdog keeps hold of a run's processes under load, with each run in a cgroup of its own
# and with the process-tree method (WATCHDOG_NO_CGROUP=1):
#   burst   N orphans (default 3000) and the run's own child killed together while watchdog is
#           stopped (SIGSTOP) for 3 s: after SIGCONT, how long until no zombie is left and until
#           the run's end is seen (the RESTART line);
#   refork  32 children that keep re-forking (fork, the parent exits, repeat; 200 generations
#           each), started by a run that ends, while later runs end at once: the zombies waiting
#           for watchdog over 5 s, sampled every 20 ms (at most 6400 pids even if none is reaped);
#   storm   256 processes that ignore SIGTERM and fork without pause: the time from SIGTERM to
#           watchdog's exit (the grace is 3 s), and what is left;
#   bomb    processes that ignore SIGTERM and fork whenever they can, held to 1000 by a cgroup
#           v1 pids controller (skipped where there is none): the same.
# Every case runs inside a PID namespace of its own, so the process count is bounded and nothing
# outlives it. Needs root.
# Usage: bench/process_ownership.sh [BIN_DIR] [N]   (default build/bin, 3000)
set -eu
if [ "${1:-}" = inside ]; then
  # Inside the namespace: $2 the case, $3 the watchdog binary, $4 the work folder, $5 N.
  what=$2 wd=$3 work=$4 n=$5
  cd "$work"
  zombies() { ps -o stat= --ppid "$1" | grep -c '^Z' || true; }
  now() { date +%s.%N; }
  since() { echo "$(now) - $1" | bc -l | xargs printf '%.2f'; }
  ln -sf "$(command -v sleep)" orphan
  rm -f ready stop err
  case $what in
  burst)
    # Run 1 starts the orphans through a helper that ends at once, so they come to watchdog,
    # and ends; run 2 waits. All of them and run 2's child are killed together.
    "$wd" -n3 sh -c "case \${WATCHDOG_COUNT%,*} in
      1) sh -c 'i=0; while [ \$i -lt $n ]; do ./orphan 100 & i=\$((i+1)); done'; exit 0;;
      2) echo > ready; exec ./orphan 100;;
      *) exec sleep 100;; esac" 2> err &
    wdpid=$!
    while [ ! -e ready ] || [ "$(pgrep -cx orphan)" -lt $((n + 1)) ]; do sleep 0.1; done
    kill -STOP $wdpid
    pkill -KILL -x orphan
    sleep 3
    peak=$(zombies $wdpid)
    kill -CONT $wdpid
    t0=$(now) clear= seen=
    while [ -z "$clear" ] || [ -z "$seen" ]; do
      [ -z "$clear" ] && [ "$(zombies $wdpid)" -eq 0 ] && clear=$(since $t0)
      [ -z "$seen" ] && [ "$(grep -c RESTART err)" -ge 2 ] && seen=$(since $t0)
      if [ "$(since $t0 | cut -d. -f1)" -ge 30 ]; then
        : "${clear:=never}" "${seen:=never}"
      fi
      sleep 0.02
    done
    echo "zombies at SIGCONT $peak; none left after ${clear} s; run 2's end seen after ${seen} s (1 s pause included)"
    kill -TERM $wdpid
    wait $wdpid 2>/dev/null || true
    ;;
  refork)
    # Each process forks once and ends, the child does the same: 200 generations per chain, so
    # even with nobody reaping at most 6400 pids are taken.
    printf 'for (1..200) { exit 0 if -e "stop"; my $p = fork; exit 0 if $p; sleep 1 unless defined $p }\n' > chain.pl
    # Run 1 starts them and ends; the runs after it end at once, one a second.
    "$wd" sh -c "[ \${WATCHDOG_COUNT%,*} = 1 ] || exit 0
      sh -c 'i=0; while [ \$i -lt 32 ]; do perl ./chain.pl & i=\$((i+1)); done'; echo > ready" 2> err &
    wdpid=$!
    while [ ! -e ready ]; do sleep 0.05; done
    # Sampled by one process, every 20 ms, from the list of watchdog's children.
    set -- $(perl -e 'my ($wd, $peak, $sum, $n) = (shift, 0, 0, 0); my $end = time + 5;
      while (time < $end) {
        open(my $c, "<", "/proc/$wd/task/$wd/children") or last; my @kids = split " ", <$c> // ""; close $c;
        my $z = 0;
        for (@kids) { open(my $s, "<", "/proc/$_/stat") or next; my $st = <$s>; close $s; $z++ if $st =~ /\) Z /; }
        $peak = $z if $z > $peak; $sum += $z; $n++; select(undef, undef, undef, 0.02);
      }
      printf "%d %d %d\n", $peak, $n ? $sum / $n : 0, $n;' $wdpid)
    peak=$1 samples=$3 sum=$(($2 * $3))
    echo "zombies at peak $peak, mean $((sum / samples)) over 5 s ($samples samples)"
    touch stop
    kill -TERM $wdpid
    wait $wdpid 2>/dev/null || true
    ;;
  storm)
    printf "trap '' TERM INT HUP\nwhile :; do sh -c :; done\n" > storm.sh
    "$wd" -m100 sh -c "sh -c 'i=0; while [ \$i -lt 256 ]; do sh ./storm.sh & i=\$((i+1)); done'; echo > ready; exec ./orphan 100" \
      2> err &
    wdpid=$!
    while [ ! -e ready ]; do sleep 0.05; done
    sleep 2
    t0=$(now)
    kill -TERM $wdpid
    wait $wdpid 2>/dev/null || true
    took=$(since $t0)
    left=$(($(pgrep -c -f storm.sh || true) + $(pgrep -cx orphan || true)))
    echo "SIGTERM to exit ${took} s; processes left $left; can't-kill lines $(grep -c "can't kill" err || true)"
    ;;
  bomb)
    # Processes that ignore SIGTERM and fork whenever they can, held to 1000 by a pids cgroup
    # (cgroup v1) that watchdog enters before it starts: every process that ends is replaced.
    pids=/sys/fs/cgroup/pids/$(basename "$work")
    mkdir "$pids"
    echo 1000 > "$pids/pids.max"
    printf '$SIG{$_} = "IGNORE" for qw(TERM INT HUP);\nwhile (1) { defined(fork) or select(undef, undef, undef, 0.05) }\n' > bomb.pl
    sh -c "echo \$\$ > $pids/cgroup.procs; exec \"$wd\" -m100 sh -c 'perl ./bomb.pl & echo > ready; exec sleep 1000'" 2> err &
    wdpid=$!
    while [ ! -e ready ]; do sleep 0.05; done
    sleep 2
    peak=$(cat "$pids/pids.current")
    t0=$(now)
    kill -TERM $wdpid
    wait $wdpid 2>/dev/null || true
    took=$(since $t0)
    sleep 0.5
    echo "$peak processes: SIGTERM to exit ${took} s; processes left $(cat "$pids/pids.current"); can't-kill lines $(grep -c "can't kill" err || true)"
    pkill -KILL -f bomb.pl || true
    while ! rmdir "$pids" 2>/dev/null; do sleep 0.1; done
    ;;
  esac
  exit 0
fi

bin=$(cd "${1:-build/bin}" && pwd)
n=${2:-3000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cases=${CASES:-burst refork storm bomb}
[ -d /sys/fs/cgroup/pids ] || cases=$(echo "$cases" | sed 's/bomb//')
for what in $cases; do
  for method in cgroup tree; do
    if [ $method = tree ]; then export WATCHDOG_NO_CGROUP=1; else unset WATCHDOG_NO_CGROUP; fi
    printf '%-7s %-7s ' $what $method
    unshare -fp --mount-proc sh "$0" inside $what "$bin/watchdog" "$work" "$n"
  done
done
