#!/bin/sh
# Whole-program relay throughput, each beside a plain pipeline over the same bytes in the same run.
#   watchdog:   producer | watchdog -s'*NEVER*' cat   vs   producer | cat | bare_relay
#   framerelay: stand-in wget (cat of an MJPEG stream) -> framerelay -r1 -> stand-in ffmpeg (cat)
#               vs the same bytes through cat | cat
# Usage: bench/relay_throughput.sh [MiB]   (default 1024)
set -e
cd "$(dirname "$0")/.."
bin=build/bin
mib=${1:-1024}
bytes=$((mib * 1048576))
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

seconds() { # runs "$@" and prints the wall time in seconds
  start=$(date +%s.%N); "$@"; end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
rate() { echo "scale=1; $bytes / 1048576 / $1" | bc -l; }

produce() { yes "2026-12-07 12:00:00 INFO worker 17 handled request /api/v1/items in 3 ms" | head -c "$bytes"; }
bare() { produce | cat | "$bin/bare_relay" > /dev/null; }
supervised() { produce | "$bin/watchdog" -q -s'*NEVER*' -n1 cat > /dev/null; }

t_bare=$(seconds bare)
t_wd=$(seconds supervised)
echo "watchdog relay:   $(rate "$t_wd") MiB/s   bare 1023-byte loop: $(rate "$t_bare") MiB/s   ratio $(echo "scale=2; $t_bare / $t_wd" | bc -l)"

# An MJPEG stream of 64 MiB, served $mib/64 times by the stand-in fetcher.
python3 - "$work/stream.bin" <<'PY'
import os, random, sys
random.seed(7)
out = bytearray()
while len(out) < 64 << 20:
    body = bytearray(os.urandom(random.randint(20000, 60000))).replace(b"\xff\xd9", b"\xff\xd8")
    out += b"--frame\r\nContent-Type: image/jpeg\r\n\r\n\xff\xd8" + body + b"\xff\xd9\r\n"
open(sys.argv[1], "wb").write(out[: 64 << 20])
PY
copies=$((mib / 64))
bytes=$((copies * 64 * 1048576))
cat > "$work/wget" <<SH
#!/bin/sh
i=0; while [ \$i -lt $copies ]; do cat "$work/stream.bin"; i=\$((i+1)); done
SH
printf '#!/bin/sh\nexec cat > /dev/null\n' > "$work/ffmpeg"
chmod +x "$work/wget" "$work/ffmpeg"
plain() { "$work/wget" | cat > /dev/null; }
relayed() { PATH="$work:$PATH" "$bin/framerelay" -r1 u > /dev/null 2>&1; }
t_plain=$(seconds plain)
t_fr=$(seconds relayed)
echo "framerelay -r1:   $(rate "$t_fr") MiB/s   plain cat pipeline: $(rate "$t_plain") MiB/s   ratio $(echo "scale=2; $t_plain / $t_fr" | bc -l)"
