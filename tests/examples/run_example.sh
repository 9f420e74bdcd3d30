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
  ;;
kill-when-silent)
  SILENCE=1 "$examples/kill-when-silent.sh" sh -c 'echo working; sleep 30' >out 2>err
  [ $? -eq 2 ] || fail "a job killed for silence must fail the wrapper"
  [ "$(cat out)" = working ] || fail "output"
  "$examples/kill-when-silent.sh" sh -c 'echo done' >out 2>err || fail "a job that succeeds passes"
  LIMIT=1 "$examples/kill-when-silent.sh" sh -c 'while :; do echo busy; sleep 0.2; done' >out 2>err
  [ $? -eq 124 ] || fail "limit status"
  ;;
file-heartbeat)
  BEAT=1 RUNS=1 "$examples/file-heartbeat.sh" beat sh -c 'sleep 30' >out 2>err || fail "status"
  grep -q "file\[beat\] none" err || fail "missing heartbeat not noticed"
  BEAT=2 RUNS=1 "$examples/file-heartbeat.sh" beat sh -c 'for i in 1 2 3 4 5 6 7 8 9 10; do touch beat; sleep 0.3; done' >out 2>err
  grep -q "hung up" err && fail "a fresh heartbeat was taken for a hang"
  ;;
camera-rotating)
  start_camera 0
  SEGMENT=2 COUNT=2 "$examples/camera-rotating.sh" "$url" . 2>err || fail "status"
  [ "$(ls camera-*.asf | wc -l)" -eq 2 ] || fail "two files expected"
  for f in camera-*.asf; do
    ffprobe -v error -show_entries stream=codec_name -of csv=p=0 "$f" | grep -q mjpeg || fail "$f not playable"
  done
  ;;
camera-under-watchdog)
  start_camera 20
  STALL=2 RUNS=1 "$examples/camera-under-watchdog.sh" "$url" . 2>err || fail "status"
  [ -L camera-current.asf ] || fail "link"
  ffprobe -v error -show_entries stream=codec_name -of csv=p=0 camera-current.asf | grep -q mjpeg || fail "not playable"
  ;;
*)
  fail "unknown example $name"
  ;;
esac
echo "ok: $name"
