#!/bin/sh
# Whole-program relay throughput, each beside a plain pipeline over the same bytes in the same run.
#   watchdog:   producer | watchdog -s'*NEVER*' cat   vs   producer | cat | bare_relay
#   framerelay: stand-in wget (cat of an MJPEG stream) -> framerelay -r1 -> stand-in ffmpeg (cat)
#               vs the same bytes through cat | cat
# Usage: [BIN_DIR=dir] bench/relay_throughput.sh [MiB]   (default 1024; programs from build/bin)
set -e
cd "$(dirname "$0")/.."
bin=${BIN_DIR:-build/bin}
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
# After its last run watchdog pauses one second before it ends; the relay itself is the rest.
echo "  without the 1 s end pause: ratio $(echo "scale=2; $t_bare / ($t_wd - 1)" | bc -l)"

# An MJPEG stream of 64 MiB, served $mib/64 times by the stand-in fetcher. Each frame is built
# like a camera's JPEG: table segments, then entropy-coded data with its 0xFF bytes stuffed.
python3 - "$work/stream.bin" <<'PY'
import os, random, sys
random.seed(7)
def segment(marker, body):
    return bytes([0xFF, marker]) + (len(body) + 2).to_bytes(2, "big") + body
def tables(n):
    return bytes(random.getrandbits(7) for _ in range(n))
def entropy(n):
    return os.urandom(n).replace(b"\xff", b"\xff\x00")
def jpeg(size):
    head = segment(0xE0, b"JFIF\0" + tables(9)) + segment(0xDB, tables(130)) + segment(0xC0, tables(15))
    head += segment(0xC4, tables(416)) + segment(0xDA, tables(10))
    return b"\xff\xd8" + head + entropy(size) + b"\xff\xd9"
out = bytearray()
while len(out) < 64 << 20:
    body = jpeg(random.randint(20000, 60000))
    out += b"--frame\r\nContent-Type: image/jpeg\r\n\r\n" + body + b"\r\n"
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
