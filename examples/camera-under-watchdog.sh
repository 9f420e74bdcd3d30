#!/bin/sh
# Keep a camera relay running under watchdog. framerelay's output is a video stream, not
# text, so watch the recording itself: when it stops growing for STALL seconds (default 30),
# the camera or the relay is stuck and the relay is restarted into a new file. LINK always
# points at the file being written, which is what watchdog watches. RUNS bounds the runs.
# Usage: camera-under-watchdog.sh URL [directory]
url=$1
dir=${2:-.}
link="$dir/camera-current.asf"
exec watchdog -m"${STALL:-30}","$link" ${RUNS:+-n$RUNS} sh -c '
  file="$2/camera-$(date +%Y%m%d-%H%M%S).asf"
  : > "$file" && ln -sfn "$(basename "$file")" "$3"
  exec framerelay -r3 "$1" > "$file"' sh "$url" "$dir" "$link"
