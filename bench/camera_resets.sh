#!/bin/sh
# A long framerelay -R recording from a camera that ends every connection with a TCP reset
# after RESET_AFTER frames (default 600: every 60 s at 10 frames per second): the recording's
# length against the wall clock, the frames the camera sent against those the recording shows
# (each of the camera's 20 pictures differs from the one before), and the longest time the
# picture stood still.
# Usage: bench/camera_resets.sh [SECONDS] [RESET_AFTER]   (default 600 600)
set -e
cd "$(dirname "$0")/.."
bin=$(pwd)/build/bin
seconds=${1:-600}; reset_after=${2:-600}
work=$(mktemp -d)
camera=""; relay=""
trap 'kill $relay $camera 2>/dev/null; rm -rf "$work"' EXIT
ffmpeg -nostdin -v error -f lavfi -i testsrc=size=640x480:rate=10 -frames:v 20 -q:v 3 "$work/f%02d.jpg"
"$bin/test_camera" --port-file "$work/port" --fps 10 --reset-after "$reset_after" "$work"/f*.jpg 2>"$work/cam.err" &
camera=$!
while [ ! -s "$work/port" ]; do sleep 0.1; done
"$bin/framerelay" -R -d2 "http://127.0.0.1:$(cat "$work/port")/video" > "$work/rec.asf" 2>"$work/relay.err" &
relay=$!
while ! grep -q EOI "$work/relay.err"; do sleep 0.01; done
start=$(date +%s.%N)
sleep "$seconds"
kill -TERM $relay; end=$(date +%s.%N); wait $relay || true
relay=""
sleep 1  # the camera notices the end of its last connection and counts its frames
kill $camera; wait $camera 2>/dev/null || true
camera=""
sent=$(grep -o 'after [0-9]* frames' "$work/cam.err" | awk '{ n += $2 } END { print n + 0 }')
ffmpeg -nostdin -v error -i "$work/rec.asf" -f framemd5 - | grep -v '^#' | awk -F', *' '
  { sum = $NF; if (sum != last) { shown++; run = 0 } run++; if (run > longest) longest = run; last = sum; n++ }
  END { printf "%d %d %.2f\n", n, shown, longest / 25 }' > "$work/sums"
read -r packets shown longest < "$work/sums"
echo "wall $(echo "$end - $start" | bc -l | xargs printf '%.2f') s, recording $(echo "$packets / 25" | bc -l | xargs printf '%.2f') s;" \
  "$(grep -c 'camera stream lost' "$work/relay.err") reconnections; camera sent $sent frames, the recording shows $shown;" \
  "longest still picture $longest s"
