#!/bin/sh
# How the repeat count (-r) sets the length of a recording against real time, measured with
# the real pipeline: the test camera serving frames made by ffmpeg's test source at a few
# sizes, 10 frames per second for 5 seconds, through wget, framerelay and ffmpeg.
# ffmpeg cuts its raw input into packets of width x height x 1.5 bytes and decodes one frame
# per packet at 25 frames per second, so a recording runs at about
#   fps x count x frame bytes / (width x height x 1.5 x 25)   times real time.
# Usage: bench/repeat_rate.sh [BIN_DIR]   (default build/bin)
set -eu
bin=$(cd "${1:-build/bin}" && pwd)
work=$(mktemp -d)
camera=
trap '[ -n "$camera" ] && kill $camera 2>/dev/null; rm -rf "$work"' EXIT
cd "$work"
fps=10
frames=50

# Each size with the default count and with the count computed for real time. The noise
# makes frames as large as those of real HD cameras (100-500 KB).
cases="320x240 null
640x480 null
1280x720 null
1280x720 noise=alls=6:allf=t
1920x1080 noise=alls=6:allf=t"

printf '%-10s %9s %6s %10s %10s %8s %7s\n' resolution frame-KB count out-frames recorded-s wall-s ratio
echo "$cases" | while read -r size filter; do
  rm -f f*.jpg
  ffmpeg -nostdin -v error -f lavfi -i "testsrc=size=$size:rate=$fps" -vf "$filter" -frames:v $frames -q:v 3 f%03d.jpg
  bytes=$(cat f*.jpg | wc -c)
  kb=$((bytes / frames / 1024))
  w=${size%x*}
  h=${size#*x}
  real_time=$(awk -v w=$w -v h=$h -v fps=$fps -v b=$bytes -v n=$frames 'BEGIN { printf "%.0f", 25 * w * h * 1.5 / (fps * b / n) }')
  for count in 40 $real_time; do
    rm -f port
    "$bin/test_camera" --port-file port --fps $fps --count $frames --once f*.jpg 2>/dev/null &
    camera=$!
    while [ ! -s port ]; do sleep 0.05; done
    start=$(date +%s.%N)
    "$bin/framerelay" -s$w,$h -r$count "http://127.0.0.1:$(cat port)/video" > out.asf 2>/dev/null </dev/null || true
    end=$(date +%s.%N)
    wait $camera || true
    camera=
    out=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 out.asf)
    # The recording's length: the time of its last frame plus one frame (piped ASF has no
    # duration in its header).
    dur=$(ffprobe -v error -select_streams v:0 -show_entries packet=pts_time,duration_time -of csv=p=0 out.asf |
      awk -F, 'END { if (NR) printf "%.2f", $1 + $2; else print 0 }')
    wall=$(echo "$end - $start" | bc -l)
    printf '%-10s %9s %6s %10s %10.1f %8.1f %7.2f\n' "$size" "$kb" "$count" "$out" "$dur" "$wall" \
      "$(echo "$dur / $wall" | bc -l)"
  done
done
