#!/bin/sh
# What a framerelay -R recording keeps of the camera's picture and what it costs: the test
# camera sends ffmpeg's test picture (JPEG quality 3, as cameras send it) at FPS frames per
# second for SECONDS; the recording is compared frame by frame with the camera's own JPEG
# (PSNR, ffmpeg's psnr filter), and its bytes per hour and ffmpeg's CPU are printed.
# Usage: bench/recording_quality.sh [WIDTHxHEIGHT] [FPS] [SECONDS] [extra framerelay words...]
#        (default 640x480 10 20)
set -e
cd "$(dirname "$0")/.."
bin=$(pwd)/build/bin
size=${1:-640x480}; fps=${2:-10}; seconds=${3:-20}
[ $# -gt 3 ] && shift 3 || set --
work=$(mktemp -d)
camera=""; relay=""
trap 'kill $relay $camera 2>/dev/null; [ -n "$KEEP" ] || rm -rf "$work"' EXIT
ffmpeg -nostdin -v error -f lavfi -i "testsrc=size=$size" -frames:v 1 -q:v 3 "$work/cam.jpg"
"$bin/test_camera" --port-file "$work/port" --fps "$fps" "$work/cam.jpg" 2>/dev/null &
camera=$!
while [ ! -s "$work/port" ]; do sleep 0.1; done
# ffmpeg's CPU time is read from /proc when it ends: a wrapper first on PATH records it.
mkdir "$work/shim"
cat > "$work/shim/ffmpeg" <<EOF
#!/bin/sh
exec 3<&0
/usr/bin/ffmpeg "\$@" <&3 3<&- &
pid=\$!
trap 'kill -TERM \$pid 2>/dev/null' TERM
while kill -0 \$pid 2>/dev/null; do awk '{ print \$14 + \$15 }' /proc/\$pid/stat > "$work/ffmpeg.ticks" 2>/dev/null; sleep 0.2; done
wait \$pid
EOF
chmod +x "$work/shim/ffmpeg"
w=${size%x*}; h=${size#*x}
start=$(date +%s.%N)
PATH="$work/shim:$PATH" "$bin/framerelay" -R -s"$w,$h" "$@" "http://127.0.0.1:$(cat "$work/port")/video" \
  > "$work/rec.asf" 2>"$work/relay.err" &
relay=$!
sleep "$seconds"
kill -TERM $relay; wait $relay || true
end=$(date +%s.%N)
relay=""
bytes=$(wc -c < "$work/rec.asf")
ticks=$(cat "$work/ffmpeg.ticks" 2>/dev/null || echo 0)
hz=$(getconf CLK_TCK)
psnr=$(ffmpeg -nostdin -i "$work/rec.asf" -loop 1 -i "$work/cam.jpg" -lavfi "[0:v][1:v]psnr=shortest=1" -f null - 2>&1 |
  sed -n 's/.*PSNR.* average:\([^ ]*\).*/\1/p')
frames=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 "$work/rec.asf")
echo "$size at $fps fps, $seconds s: camera JPEG $(wc -c < "$work/cam.jpg") bytes; recorded $frames frames," \
  "$(echo "$bytes / ($end - $start) * 3600 / 1000000" | bc -l | xargs printf '%.0f') MB per hour;" \
  "PSNR $psnr dB; ffmpeg $(echo "100 * $ticks / $hz / ($end - $start)" | bc -l | xargs printf '%.1f') % of a core"
