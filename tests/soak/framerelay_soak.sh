#!/bin/sh
# Long run of framerelay (not part of the test suite): FRAMES frames (default 100000) of
# 160x120 through the test camera, real wget and real ffmpeg, sampling framerelay's resident
# memory. Usage: tests/soak/framerelay_soak.sh [BIN_DIR]
set -u
bin=$(cd "${1:-build/bin}" && pwd)
frames=${FRAMES:-100000}
work=$(mktemp -d)
trap 'kill $camera 2>/dev/null; rm -rf "$work"' EXIT
cd "$work"
ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=25 -frames:v 25 -q:v 8 f%02d.jpg
"$bin/test_camera" --port-file port --fps 2000 --count "$frames" --once f*.jpg 2>/dev/null &
camera=$!
while [ ! -s port ]; do sleep 0.1; done
start=$(date +%s)
"$bin/framerelay" -s160,120 -r1 -d2 "http://127.0.0.1:$(cat port)/video" > out.asf 2> relay.err &
relay=$!
sleep 1
first=$(awk '/^VmRSS/ {print $2}' /proc/$relay/status)
last=$first
peak=$first
while kill -0 $relay 2>/dev/null; do
  r=$(awk '/^VmRSS/ {print $2}' /proc/$relay/status 2>/dev/null)
  if [ -n "$r" ]; then
    last=$r
    [ "$r" -gt "$peak" ] && peak=$r
  fi
  sleep 1
done
wait $relay; status=$?
echo "framerelay: status $status, $(grep -c '^\[EOI\]' relay.err) frames relayed of $frames in $(( $(date +%s) - start )) s"
echo "resident memory kB: first $first, last $last, peak $peak; output $(stat -c %s out.asf) bytes"
