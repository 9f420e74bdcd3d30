#!/bin/sh
# Keep a camera relay running under watchdog. framerelay's output is a video stream, not
# text, so watch the recording itself: when it stops growing for STALL seconds (default 30),
# the camera or the relay is stuck and the relay is restarted into a new file. LINK always
# points at the file being written, which is what watchdog watches. RUNS bounds the runs.
# A run that records nothing leaves no file, and waits RETRY seconds (default 30) before
# watchdog starts the next, so a camera that is down does not fill the directory.
# SIZE (default 640,480) and REPEAT (default: none, the recording follows the wall clock) as in
# camera-rotating.sh.
# Usage: camera-under-watchdog.sh URL [directory]
url=$1
dir=${2:-.}
link="$dir/camera-current.asf"
pacing=${REPEAT:+-r$REPEAT}
exec watchdog -m"${STALL:-30}","$link" ${RUNS:+-n$RUNS} sh -c '
  file="$2/camera-$(date +%Y%m%d-%H%M%S).asf"
  : > "$file" && ln -sfn "$(basename "$file")" "$3"
  framerelay -s"$4" "$5" "$1" > "$file"
  status=$?
  if [ "$(wc -c < "$file")" -le 4096 ]; then rm -f "$file"; sleep "$6"; fi
  exit $status' sh "$url" "$dir" "$link" "${SIZE:-640,480}" "${pacing:--R}" "${RETRY:-30}"
