#!/bin/sh
# Record a camera into rotating files of SEGMENT seconds each (default 600), forever or for
# COUNT files. Each segment is ended with SIGTERM, so ffmpeg finishes its file cleanly.
# Usage: camera-rotating.sh URL [directory]
url=$1
dir=${2:-.}
n=0
while [ -z "$COUNT" ] || [ "$n" -lt "$COUNT" ]; do
  file="$dir/camera-$(date +%Y%m%d-%H%M%S)-$n.asf"
  timeout -s TERM "${SEGMENT:-600}" framerelay -r3 "$url" > "$file" 2>> "$dir/camera.log"
  n=$((n + 1))
done
