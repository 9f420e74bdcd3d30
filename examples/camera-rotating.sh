#!/bin/sh
# Record a camera into rotating files of SEGMENT seconds each (default 600), forever or for COUNT
# segments. Each segment is ended with SIGTERM, so ffmpeg finishes its file cleanly.
# A segment that records nothing leaves no file behind, and when framerelay fails (the camera
# cannot be reached, a wrong password: exit status 2; the encoder lost: 3) the next try waits
# RETRY seconds (default 30), so a camera that is down does not fill the directory.
# The recording follows the wall clock and has the camera's own picture (framerelay -R), which
# connects again by itself when the camera resets or stalls within a segment. SIZE, when set, is
# the picture size the camera is expected to send (-s; another size is reported in the log).
# REPEAT, when set, feeds each frame that many times instead; see "Choosing -R or -r for a
# camera" in the README.
# Usage: camera-rotating.sh URL [directory]
url=$1
dir=${2:-.}
pacing=${REPEAT:+-r$REPEAT}
n=0
while [ -z "$COUNT" ] || [ "$n" -lt "$COUNT" ]; do
  file="$dir/camera-$(date +%Y%m%d-%H%M%S)-$n.asf"
  timeout -s TERM "${SEGMENT:-600}" framerelay ${SIZE:+-s$SIZE} "${pacing:--R}" "$url" >"$file" 2>>"$dir/camera.log"
  status=$?
  n=$((n + 1))
  # An ASF file of no more than its header (about 540 bytes) holds no video.
  [ "$(wc -c <"$file")" -gt 4096 ] || rm -f "$file"
  # 124: the segment's time was up (timeout's status); 0: the camera ended its stream (REPEAT).
  if [ "$status" -ne 124 ] && [ "$status" -ne 0 ]; then
    echo "camera-rotating: framerelay failed with status $status; next try in ${RETRY:-30} s" >>"$dir/camera.log"
    if [ -z "$COUNT" ] || [ "$n" -lt "$COUNT" ]; then sleep "${RETRY:-30}"; fi
  fi
done
