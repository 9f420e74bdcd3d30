#!/bin/sh
# The demo: watchdog supervising a small demo program (START, a silence hang, an error-string
# hang, RESTART and END within about 15 seconds), then framerelay recording the built-in test
# camera into build/demo/camera.asf, described by ffprobe.
set -e
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/build.sh
bin=build/bin

echo "=== watchdog -m2 -s'*ERROR*' -n3 demo_program"
"$bin/watchdog" -m2 -s'*ERROR*' -n3 "$bin/demo_program"

echo
echo "=== framerelay on the test camera (30 frames of 320x240 at 10 frames per second)"
demo=build/demo
rm -rf "$demo" && mkdir -p "$demo"
ffmpeg -nostdin -v error -f lavfi -i testsrc=size=320x240:rate=10 -frames:v 30 -q:v 5 "$demo/frame%03d.jpg"
"$bin/test_camera" --port-file "$demo/port" --fps 10 --count 30 --once "$demo"/frame*.jpg &
camera=$!
relay=""
trap 'kill $camera $relay 2>/dev/null || true' EXIT
while [ ! -s "$demo/port" ]; do sleep 0.1; done
start=$(date +%s.%N)
# -R: the recording follows the wall clock and holds the camera's own pictures. When the camera
# has sent its 30 frames and gone, framerelay would hold the last one and connect again until
# the camera is back: the demo stops it then, as one stops a recording.
"$bin/framerelay" -R "http://127.0.0.1:$(cat "$demo/port")/video" > "$demo/camera.asf" &
relay=$!
wait $camera
kill -TERM $relay
wait $relay
end=$(date +%s.%N)
echo
echo "=== ffprobe $demo/camera.asf"
ffprobe -v error -count_frames -show_entries format=format_name:stream=codec_name,width,height,nb_read_frames \
  -of default=noprint_wrappers=1 "$demo/camera.asf"
# A recording into a fresh file is written by ffmpeg itself: its header holds the duration.
length=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$demo/camera.asf" | awk '{ printf "%.1f", $1 }')
echo "recording: $length s of video, made in $(echo "$end - $start" | bc -l | awk '{ printf "%.1f", $1 }') s of wall time"
