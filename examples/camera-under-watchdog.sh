#!/bin/sh
# Keep a camera recording running under watchdog. framerelay -R connects again by itself when
# the camera resets, stalls or reboots, and holds the last picture meanwhile, so one recording
# goes on for as long as framerelay runs. watchdog is there for what framerelay cannot mend:
# it starts framerelay again when it ends (a camera that is not there at the start: exit
# status 2; a lost encoder or a full disk: 3), after a pause that grows up to RETRY seconds
# (default 60) while runs keep ending early, and when the recording stops growing for STALL
# seconds (default 30), which under -R can only mean that framerelay itself is stuck. Each
# run records into a new file, and LINK always points at the file being written, which is
# what watchdog watches. RUNS bounds the runs. A run that records nothing leaves no file.
# SIZE, when set, is the picture size the camera is expected to send (-s; a camera that sends
# another is reported); REPEAT, when set, feeds each frame that many times instead of -R, as in
# camera-rotating.sh.
# Usage: camera-under-watchdog.sh URL [directory]
url=$1
dir=${2:-.}
link="$dir/camera-current.asf"
pacing=${REPEAT:+-r$REPEAT}
exec watchdog -m"${STALL:-30}","$link" -w"${RETRY:-60}" ${RUNS:+-n$RUNS} sh -c '
  file="$2/camera-$(date +%Y%m%d-%H%M%S).asf"
  : > "$file" && ln -sfn "$(basename "$file")" "$3"
  framerelay $4 "$5" "$1" > "$file"
  status=$?
  if [ "$(wc -c < "$file")" -le 4096 ]; then rm -f "$file"; fi
  exit $status' sh "$url" "$dir" "$link" "${SIZE:+-s$SIZE}" "${pacing:--R}"
