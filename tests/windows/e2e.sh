#!/bin/bash
# End-to-end cases of the Windows build under Wine: e2e.sh <case>.
# BIN_DIR holds the .exe files, STANDIN_DIR the wget/ffmpeg stand-ins, EXPECTED_DIR the
# exact usage texts, WINE the Wine loader that runs programs of this build's width. Wine's
# own changes are tolerated: "\r\n" line ends from the runtime's text mode, system message
# texts, Z:\ path forms. Everything else is compared exactly.
set -u
case_name=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export WINEDEBUG=-all
WINE=${WINE:-wine}
fail() { echo "FAIL($case_name): $*" >&2; echo "--- stderr:" >&2; cat "$work/err" >&2 2>/dev/null; exit 1; }

# run <program> <args...>: stdout to $work/out, stderr to $work/err (both without \r), status in $status.
run() {
  local program=$1
  shift
  (cd "$work" && "$WINE" "$BIN_DIR/$program.exe" "$@" >out.raw 2>err.raw </dev/null)
  status=$?
  tr -d '\r' <"$work/out.raw" >"$work/out"
  tr -d '\r' <"$work/err.raw" >"$work/err"
}

expect_status() { [ "$status" -eq "$1" ] || fail "exit status $status, expected $1"; }
expect_err_line() { grep -qE -- "$1" "$work/err" || fail "no stderr line matching: $1"; }
expect_err_count() {
  local n
  n=$(grep -cE -- "$1" "$work/err")
  [ "$n" -eq "$2" ] || fail "$n stderr lines match '$1', expected $2"
}
stamp='[0-9]{2}/[0-9]{2}/[0-9]{2}-[0-9]{2}:[0-9]{2}:[0-9]{2}'
child="$BIN_DIR/test_child.exe"

# Nothing a case started may outlive it: its children carry the case's folder name in
# their words (test_child ignores the "tag" action; framerelay's URL ends in it). Ended
# processes that Wine has not yet collected (state Z) do not count. The process list is
# taken while ps is the only process of ours that runs, so the filters after it, which
# carry the folder name in their own words, cannot list themselves.
work_name=$(basename "$work")
no_leftovers() {
  local processes
  sleep 0.5
  processes=$(ps -eo stat=,args=)
  if printf '%s\n' "$processes" | grep -v '^Z' | grep -F -- "$work_name" >&2; then
    fail "a child is still running"
  fi
}
tag=(tag "$work")

# The count variables the children recorded, in order, on one line.
count_variables() { tr -d '\r' <"$work/env.txt" | cut -d' ' -f1 | tr '\n' ' '; }

# Stand-in wget/ffmpeg found on the Windows search path, working in the case's folder; the
# URL ends in the folder's name so no_leftovers finds them. The folder goes in Windows form
# (drive Z: is Wine's view of /), ending in a separator: Wine's runtime looks at the byte
# after a search-path entry, not its last one, when it joins entry and name.
use_standins() {
  local standins
  standins=$(cd "$STANDIN_DIR" && pwd -P)
  export FAKE_DIR="$work" WINEPATH="Z:${standins//\//\\}\\"
  url="http://cam/$work_name"
}

case $case_name in
watchdog_usage)
  run watchdog -h
  expect_status 1
  diff "$EXPECTED_DIR/watchdog_usage.txt" "$work/err" || fail "usage text differs"
  run watchdog -K
  expect_status 1
  [ "$(head -1 "$work/err")" = "Option K ??" ] || fail "bad option line"
  tail -n +2 "$work/err" | diff "$EXPECTED_DIR/watchdog_usage.txt" - || fail "usage after a bad option differs"
  ;;
framerelay_usage)
  run framerelay -h
  expect_status 1
  diff "$EXPECTED_DIR/framerelay_usage.txt" "$work/err" || fail "usage text differs"
  ;;
watchdog_no_command)
  run watchdog -m5
  expect_status 1
  [ "$(head -1 "$work/err")" = "ERROR: no command" ] || fail "no 'ERROR: no command'"
  run watchdog -n1 no_such_program_here
  expect_status 1
  expect_err_line "^$stamp \*\*\*\*\*\* WATCHDOG START \[no_such_program_here\] \*\*\*\*\*\*$"
  expect_err_line "^no_such_program_here: "
  expect_err_count "WATCHDOG END" 0
  ;;
watchdog_silence_restart)
  # A silent child is killed after more than 1 s without output and started again: the
  # second child sees the count variable 2,2; both see the supervisor's process id.
  run watchdog -m1 -n2 "$child" record "$work/env.txt" sleep 30
  expect_status 0
  expect_err_line "^$stamp \*\*\*\*\*\* WATCHDOG START \[.*test_child\.exe\] \*\*\*\*\*\*$"
  expect_err_count "^$stamp \*\*\*\*\*\* WATCHDOG --hung up-- \(1 sec no output\) \*\*\*\*\*\*$" 2
  expect_err_line "^$stamp \*\*\*\*\*\* WATCHDOG RESTART\(2\) \[.*test_child\.exe\] \*\*\*\*\*\*$"
  expect_err_line "^$stamp \*\*\*\*\*\* WATCHDOG END \[.*test_child\.exe\] count:2 \*\*\*\*\*\*$"
  tr -d '\r' <"$work/env.txt" >"$work/env"
  [ "$(count_variables)" = "1,0 2,2 " ] || fail "count variables: $(cat "$work/env")"
  # The pid variable is the supervisor's own process id: the one that started each child.
  pids=$(cut -d' ' -f2,3 "$work/env" | tr ' ' '\n' | sort -u)
  [[ "$pids" =~ ^[0-9]+$ ]] || fail "pid variables and parents: $(cat "$work/env")"
  no_leftovers
  ;;
watchdog_error_string)
  run watchdog -m30 "-s*ERROR*" -n2 "$child" record "$work/env.txt" print "an ERROR here" sleep 30
  expect_status 0
  expect_err_count "^$stamp \*\*\*\*\*\* WATCHDOG --hung up-- \(error string output\) \*\*\*\*\*\*$" 2
  expect_err_line "RESTART\(3\)"
  [ "$(grep -c 'an ERROR here' "$work/out")" -eq 2 ] || fail "the line was not relayed twice"
  [ "$(count_variables)" = "1,0 2,3 " ] || fail "count variables"
  no_leftovers
  ;;
watchdog_timeout)
  run watchdog -t2,7 -m30 "$child" "${tag[@]}" sleep 30
  expect_status 7
  expect_err_line "^$stamp \*\*\*\*\*\* WATCHDOG timeout \(2 sec\) \[.*test_child\.exe\] \*\*\*\*\*\*$"
  expect_err_line "WATCHDOG END \[.*test_child\.exe\] count:1 \*"
  expect_err_count "hung up" 0
  no_leftovers
  ;;
watchdog_exit_status)
  # A child that ends by itself: RESTART(1) and 2,1; -x ends the cycle on the wanted status.
  run watchdog -n2 "$child" record "$work/env.txt" exit 0
  expect_status 0
  expect_err_line "RESTART\(1\)"
  [ "$(count_variables)" = "1,0 2,1 " ] || fail "count variables"
  run watchdog -x3 "$child" exit 3
  expect_status 0
  expect_err_line "WATCHDOG END \[.*test_child\.exe\] <OK-exitstatus> count:1 \*"
  touch "$work/done"
  run watchdog -X"$work/done" "$child" exit 1
  expect_err_line "<OK-exitfile> count:1"
  ;;
watchdog_relay)
  # Both streams are relayed as the child writes them, the last words of a child that ends
  # at once included.
  run watchdog -m5 -M -n1 "$child" print "to stdout" error "to stderr" exit 0
  expect_status 0
  [ "$(cat "$work/out")" = "to stdout" ] || fail "stdout: $(cat "$work/out")"
  expect_err_line "^to stderr$"
  ;;
watchdog_quoting)
  # Words with blanks and quotes reach the child whole through its joined command line.
  words=("two words" 'say "hi"' 'back\slash' '' 'ends\' 'a\"b' 'x y\' 'x y\\' '"q"' 'tab	here')
  run watchdog -n1 "$child" words "$work/words.txt" "${words[@]}"
  expect_status 0
  printf '%s\n' "${words[@]}" >"$work/expected"
  tr -d '\r' <"$work/words.txt" | diff "$work/expected" - || fail "words differ"
  ;;
watchdog_descriptors)
  # Every run releases what it made: the pipes of the fourth run get the same descriptor
  # numbers as those of the first.
  run watchdog -d2 -m1 -n4 "$child" "${tag[@]}" print hello sleep 30
  expect_status 0
  expect_err_count "^outfd:[0-9]+ read\(\)$" 4
  [ "$(grep -E '^outfd:' "$work/err" | sort -u | wc -l)" -eq 1 ] || fail "descriptors grew: $(grep -E '^outfd:' "$work/err" | tr '\n' ' ')"
  [ "$(grep -c '^hello$' "$work/out")" -eq 4 ] || fail "hello not relayed in every run"
  no_leftovers
  ;;
watchdog_tree_kill)
  # A hung child's own children end with it.
  run watchdog -m1 -n1 "$child" "${tag[@]}" spawn 30 sleep 30
  expect_status 0
  expect_err_count "hung up-- \(1 sec no output\)" 1
  expect_err_count "can't kill" 0
  no_leftovers
  ;;
watchdog_adopt)
  # -p takes over a running process: it is not piped, so with -m1 it is killed for silence;
  # then the command is started, which counts as the first run (variable 1,2; END count:1).
  (cd "$work" && exec "$WINE" "$child" pidfile "$work/pid" "${tag[@]}" sleep 30 >/dev/null 2>&1 </dev/null) &
  for _ in $(seq 100); do [ -s "$work/pid" ] && break; sleep 0.1; done
  pid=$(tr -d '\r\n' <"$work/pid")
  [[ "$pid" =~ ^[0-9]+$ ]] || fail "no pid from the running child"
  run watchdog -d1 -m1 -n1 -p"$pid" "$child" record "$work/env.txt" exit 0
  expect_status 0
  expect_err_line "^check process \($pid\)$"
  expect_err_count "^process exist A$" 1
  expect_err_count "hung up-- \(1 sec no output\)" 1
  expect_err_line "RESTART\(2\)"
  expect_err_line "WATCHDOG END \[.*test_child\.exe\] count:1 \*"
  [ "$(count_variables)" = "1,2 " ] || fail "count variable"
  wait
  # The system gives an adopted process's exit code too, so -x can end on it.
  rm -f "$work/pid"
  (cd "$work" && exec "$WINE" "$child" pidfile "$work/pid" "${tag[@]}" sleep 2 exit 5 >/dev/null 2>&1 </dev/null) &
  for _ in $(seq 100); do [ -s "$work/pid" ] && break; sleep 0.1; done
  pid=$(tr -d '\r\n' <"$work/pid")
  run watchdog -x5 -m30 -p"$pid" "$child" "${tag[@]}" exit 0
  expect_status 0
  expect_err_line "WATCHDOG END \[.*test_child\.exe\] <OK-exitstatus> count:0 \*"
  wait
  no_leftovers
  ;;
framerelay_encoder_grace)
  # After its input ends the encoder may take its time to finish its recording.
  printf '\377\330frame\377\331' >"$work/stream.bin"
  use_standins
  FAKE_LINGER_MS=1500 run framerelay -r2 "$url"
  expect_status 0
  [ -f "$work/finished.txt" ] || fail "the encoder was cut off before it finished"
  no_leftovers
  ;;
watchdog_stop)
  # Ctrl-C (Wine turns SIGINT into the console event): the stop is named, the child gets its
  # grace time, then whatever still runs is ended, END is said, and watchdog ends as a console
  # program ended by Ctrl-C (0xC000013A; its low byte, 58, is what Linux sees).
  (cd "$work" && exec "$WINE" "$BIN_DIR/watchdog.exe" -m30 "$child" "${tag[@]}" sleep 30 >out 2>err.raw </dev/null) &
  started=$!
  sleep 3
  kill -INT "$started"
  wait "$started"
  status=$?
  tr -d '\r' <"$work/err.raw" >"$work/err"
  expect_status 58
  expect_err_count "WATCHDOG START" 1
  expect_err_count "WATCHDOG stop by signal 2 \\(SIGINT\\)" 1
  expect_err_count "WATCHDOG END" 1
  no_leftovers
  ;;
framerelay_stop)
  # Ctrl-C while the camera sends nothing ends the run at once, and both children with it.
  printf '\377\330frame\377\331' >"$work/stream.bin"
  use_standins
  (cd "$work" && FAKE_SILENT_MS=60000 exec "$WINE" "$BIN_DIR/framerelay.exe" -r1 "$url" >out 2>err.raw </dev/null) &
  started=$!
  sleep 3
  kill -INT "$started"
  SECONDS=0
  wait "$started"
  status=$?
  tr -d '\r' <"$work/err.raw" >"$work/err"
  expect_status 0
  [ "$SECONDS" -le 10 ] || fail "took $SECONDS s to stop"
  expect_err_line "^endtrap\(\)$"
  [ ! -s "$work/fed.bin" ] || fail "a frame was fed"
  no_leftovers
  ;;
framerelay_feed | framerelay_verbose_vectors)
  # Three frames among stray bytes; each is fed to the encoder exactly -r times.
  printf 'junk\377\330one\377\331--\377\330two frame\377\331xx\377\330three\377\331tail' >"$work/stream.bin"
  use_standins
  if [ "$case_name" = framerelay_feed ]; then
    run framerelay -r3 -s320,240 "$url"
  else
    run framerelay -r1 -d30 -1 -an ";" -2 -r 5 ";" "$url"
  fi
  expect_status 0
  tr -d '\r' <"$work/wget.args" >"$work/wget"
  tr -d '\r' <"$work/ffmpeg.args" >"$work/ffmpeg"
  if [ "$case_name" = framerelay_feed ]; then
    printf '%s\n' --auth-no-challenge --tries=1 -q -nv -O - "$url" | diff - "$work/wget" || fail "wget words"
    printf '%s\n' -v 0 -s 320x240 -f rawvideo -vcodec mjpeg -i pipe:0 -f asf -vcodec mjpeg -acodec copy pipe:1 |
      diff - "$work/ffmpeg" || fail "ffmpeg words"
    for f in one "two frame" three; do printf "\377\330$f\377\331%.0s" 1 2 3; done >"$work/expected.bin"
    expect_err_line "^wget execute$"
    expect_err_line "^   7 : $url$"
    expect_err_line "^  17 : pipe:1$"
  else
    printf '%s\n' --auth-no-challenge --tries=1 -O - "$url" | diff - "$work/wget" || fail "wget words"
    printf '%s\n' -s 640x480 -f rawvideo -vcodec mjpeg -i pipe:0 -an -f asf -vcodec mjpeg -acodec copy -r 5 pipe:1 |
      diff - "$work/ffmpeg" || fail "ffmpeg words"
    for f in one "two frame" three; do printf "\377\330$f\377\331"; done >"$work/expected.bin"
  fi
  cmp "$work/expected.bin" "$work/fed.bin" || fail "fed bytes differ"
  expect_err_line "^ReadFile\(\) error \(.+\)$"
  no_leftovers
  ;;
*)
  fail "no such case"
  ;;
esac
echo "ok $case_name"
