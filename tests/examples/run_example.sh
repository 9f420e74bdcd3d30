#!/bin/sh
# Runs one example from examples/ briefly against the bundled demo program or test camera
# and checks its result. Usage: run_example.sh BIN_DIR EXAMPLES_DIR NAME
set -u
bin=$1
examples=$2
name=$3
export PATH="$bin:$PATH"
work=$(mktemp -d)
camera=""
cleanup() {
  [ -n "$camera" ] && kill "$camera" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
fail() { echo "FAIL: $*"; echo "--- stderr:"; cat err 2>/dev/null; exit 1; }

start_camera() { # $1: frame count (0 forever)
  ffmpeg -v error -f lavfi -i testsrc=size=320x240:rate=10 -frames:v 10 -q:v 5 f%02d.jpg || fail "frames"
  test_camera --port-file port --fps 10 --count "$1" f*.jpg 2>/dev/null &
  camera=$!
  i=0
  while [ ! -s port ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
  url="http://127.0.0.1:$(cat port)/video"
}

case "$name" in
restart-on-error)
  RUNS=2 "$examples/restart-on-error.sh" sh -c 'echo "run $WATCHDOG_COUNT"; echo "ERROR: lost it"; sleep 30' >out 2>err
  [ $? -eq 0 ] || fail "status"
  grep -q "RESTART(3)" err || fail "no restart after the error line"
  grep -q "run 2,3" out || fail "second run's count"
  # With no command: the demo falls silent, then errs, then succeeds, and the example ends.
  start=$(date +%s)
  "$examples/restart-on-error.sh" >out 2>err || fail "the demo run did not end well"
  [ $(( $(date +%s) - start )) -le 30 ] || fail "the demo took more than 30 s"
  grep -q "(3 sec no output)" err || fail "the silent first run was not restarted"
  grep -q "(error string output)" err || fail "the error line was not noticed"
  grep -q "<OK-exitstatus> count:3" err || fail "the demo did not end on its success"
  ;;
kill-when-silent)
  SILENCE=1 "$examples/kill-when-silent.sh" sh -c 'echo working; sleep 30' >out 2>err
  [ $? -eq 2 ] || fail "a job killed for silence must fail the wrapper"
  [ "$(cat out)" = working ] || fail "output"
  grep -q "(1 sec no output)" err || fail "the hang is not named"
  QUIET=1 SILENCE=1 "$examples/kill-when-silent.sh" sh -c 'sleep 30' >out 2>err
  [ $? -eq 2 ] || fail "quiet: a job killed for silence must fail the wrapper"
  grep -q "without output" err || fail "quiet: no line says why"
  QUIET=1 "$examples/kill-when-silent.sh" sh -c 'echo failing; exit 3' >out 2>err
  [ $? -eq 2 ] || fail "a failing job must fail the wrapper"
  grep -q "failed" err || fail "no line says the job failed"
  LIMIT=1 "$examples/kill-when-silent.sh" sh -c 'while :; do echo busy; sleep 0.2; done' >out 2>err
  [ $? -eq 124 ] || fail "limit status"
  grep -q "limit of 1 s" err || fail "the limit is not named"
  QUIET=1 "$examples/kill-when-silent.sh" sh -c 'echo done' >out 2>err || fail "a job that succeeds passes"
  [ ! -s err ] || fail "a job that succeeds leaves stderr empty with QUIET=1"
  ;;
file-heartbeat)
  BEAT=1 RUNS=1 "$examples/file-heartbeat.sh" beat sh -c 'sleep 30' >out 2>err || fail "status"
  grep -q "file\[beat\] none" err || fail "missing heartbeat not noticed"
  BEAT=2 RUNS=1 "$examples/file-heartbeat.sh" beat sh -c 'for i in 1 2 3 4 5 6 7 8 9 10; do touch beat; sleep 0.3; done' >out 2>err
  grep -q "hung up" err && fail "a fresh heartbeat was taken for a hang"
  ;;
camera-rotating)
  start_camera 0
  SIZE=320,240 SEGMENT=3 COUNT=2 "$examples/camera-rotating.sh" "$url" . 2>err || fail "status"
  [ "$(ls camera-*.asf | wc -l)" -eq 2 ] || fail "two files expected"
  for f in camera-*.asf; do
    frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=codec_name,nb_read_frames       -of csv=p=0 "$f")
    case "$frames" in mjpeg,*) ;; *) fail "$f not playable: $frames" ;; esac
    # About 3 s of video at 25 frames per second; the camera needs a moment to start.
    [ "${frames#mjpeg,}" -ge 55 ] && [ "${frames#mjpeg,}" -le 80 ] || fail "$f: ${frames#mjpeg,} frames for 3 s"
  done
  rm -f camera-*.asf
  # A camera that cannot be reached: no file is kept, and each next try waits.
  begin=$(date +%s)
  RETRY=2 COUNT=2 "$examples/camera-rotating.sh" "http://127.0.0.1:1/video" . 2>err
  [ "$(ls camera-*.asf 2>/dev/null | wc -l)" -eq 0 ] || fail "empty recordings kept"
  [ $(( $(date +%s) - begin )) -ge 2 ] || fail "no wait before the next try"
  grep -q "failed with status 2" camera.log || fail "the failure is not logged"
  ;;
camera-under-watchdog)
  # Each connection brings 20 frames (2 s), then the camera ends it: framerelay connects again
  # and the one recording goes on until watchdog is stopped, after 5 s.
  start_camera 20
  SIZE=320,240 STALL=2 RUNS=1 timeout -s TERM 5 "$examples/camera-under-watchdog.sh" "$url" . 2>err
  [ $? -eq 124 ] || fail "status"
  [ -L camera-current.asf ] || fail "link"
  grep -q "camera stream lost (the stream ended); connecting again in 1 s" err || fail "no reconnection"
  grep -q "RESTART" err && fail "framerelay was restarted"
  frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=codec_name,nb_read_frames \
    -of csv=p=0 camera-current.asf)
  case "$frames" in mjpeg,*) ;; *) fail "not playable: $frames" ;; esac
  # About 5 s of video at 25 frames per second; watchdog and the camera need a moment to start.
  [ "${frames#mjpeg,}" -ge 100 ] && [ "${frames#mjpeg,}" -le 130 ] || fail "${frames#mjpeg,} frames for 5 s"
  ;;
*)
  fail "unknown example $name"
  ;;
esac
echo "ok: $name"
