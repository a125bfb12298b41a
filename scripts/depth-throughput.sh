#!/usr/bin/env bash
# demosaic-bench on the same 12-megapixel chart read at 8 bits and at 16
# bits (--depth native; the chart's levels times 257 in a 16-bit PPM): each
# method's CPSNR and throughput (reconstruction alone, one thread). The
# figures are close but not equal: the methods round at 16 bits, not at 8.
# Usage: scripts/depth-throughput.sh BUILD_DIR
set -euo pipefail
build_dir=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

script=depth-throughput.sh
# shellcheck source=scripts/bench-common.sh
source "$(dirname "$0")/bench-common.sh"
make_chart=$(program make-chart)
bench=$(program demosaic-bench)

"$make_chart" "$work/chart.ppm" 4000 3000
# The 8-bit PPM's samples times 257 as a 16-bit PPM (big-endian samples).
python3 - "$work/chart.ppm" "$work/chart16.ppm" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
fields, at = [], 0
while len(fields) < 4:
    while data[at:at + 1].isspace():
        at += 1
    end = at
    while not data[end:end + 1].isspace():
        end += 1
    fields.append(data[at:end])
    at = end
at += 1
width, height = int(fields[1]), int(fields[2])
samples = data[at:at + 3 * width * height]
wide = bytearray(2 * len(samples))
wide[0::2] = samples  # 257 v: the same byte high and low
wide[1::2] = samples
with open(sys.argv[2], "wb") as out:
    out.write(b"P6\n%d %d\n65535\n" % (width, height) + bytes(wide))
PY

echo "demosaic-bench, 4000 x 3000 chart, --jobs 1:"
echo "--depth 8 (8-bit PPM):"
"$bench" --jobs 1 "$work/chart.ppm" | grep -E '^(image|chart|MP/s)'
echo "--depth native (16-bit PPM, white level 65535):"
"$bench" --jobs 1 --depth native "$work/chart16.ppm" | grep -E '^(image|chart|MP/s)'
