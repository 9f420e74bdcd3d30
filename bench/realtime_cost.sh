#!/bin/sh
# What framerelay -R itself costs: the CPU time of the framerelay process alone (not wget's or
# ffmpeg's), read from /proc over a stretch of a run with the real wget and ffmpeg against the
# test camera sending 1920x1080 frames at 30 per second (a noisy scene of about 2 MB a frame
# and a flat one of about 12 KB, alternating).
# Usage: bench/realtime_cost.sh [seconds]   (default 20)
set -e
cd "$(dirname "$0")/.."
bin=build/bin
seconds=${1:-20}
work=$(mktemp -d)
camera=""; relay=""
trap 'kill $relay $camera 2>/dev/null; rm -rf "$work"' EXIT
ffmpeg -nostdin -v error -f lavfi -i color=gray:size=1920x1080 -frames:v 1 -q:v 3 "$work/flat.jpg"
ffmpeg -nostdin -v error -f lavfi -i testsrc=size=1920x1080 -vf noise=alls=30:allf=t -frames:v 1 -q:v 3 "$work/busy.jpg"
"$bin/test_camera" --port-file "$work/port" --fps 30 "$work/busy.jpg" "$work/flat.jpg" 2>/dev/null &
camera=$!
while [ ! -s "$work/port" ]; do sleep 0.1; done
"$bin/framerelay" -R -s1920,1080 "http://127.0.0.1:$(cat "$work/port")/video" > "$work/rec.asf" 2>/dev/null &
relay=$!
sleep 3  # past the start of wget and ffmpeg
ticks() { awk '{ print $14 + $15 }' "/proc/$relay/stat"; }
hz=$(getconf CLK_TCK)
t0=$(ticks); s0=$(date +%s.%N)
sleep "$seconds"
t1=$(ticks); s1=$(date +%s.%N)
kill -TERM $relay; wait $relay || true
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$work/rec.asf")
echo "framerelay -R 1920x1080 at 30 fps: $(echo "scale=1; 100 * ($t1 - $t0) / $hz / ($s1 - $s0)" | bc -l) % of a core; $frames frames recorded"
