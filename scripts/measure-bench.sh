#!/usr/bin/env bash
# What demosaic-bench's own figures say against the engine's, on a
# 24-megapixel chart (the bundled chart scaled to 6000 x 4000):
# - its throughput column for the method (reconstruction alone) against
#   engine-benchmark's one-thread figure, measured in the same run: the
#   column should be at least two thirds of it;
# - the wall time of a run with every figure (PSNR, SSIM, CIEDE2000, zipper)
#   against a PSNR-only run, both with a job per processor (the one image's
#   metrics then share their rows among them): the aim is at most twice;
# - the first reconstruct() of the chart's mosaic in a fresh Python process
#   against the engine's one-thread time: the aim is at most twice;
# - `vips copy` of the same PNG (libvips, a pipeline people pick for speed)
#   as a reference point for the I/O, where vips is installed.
# - the same wall-time ratio on a set of photographs (the Kodak set beside the
#   checkout unless named), where few pixels are reconstructed exactly.
# Usage: scripts/measure-bench.sh BUILD_DIR [RUNS] [PHOTOGRAPHS_DIR]
set -euo pipefail
build_dir=${1:-build}
runs=${2:-3}
photographs=${3:-../shared/datasets/kodak}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

script=measure-bench.sh
# shellcheck source=scripts/bench-common.sh
source "$(dirname "$0")/bench-common.sh"
make_chart=$(program make-chart)
bench=$(program demosaic-bench)
engine_benchmark=$(program engine-benchmark)

chart="$work/chart-24mp.png"
"$make_chart" "$chart" 6000 4000

# The engine alone, one thread, output reused (Google Benchmark's JSON).
"$engine_benchmark" --benchmark_filter='BM_ReconstructFromMosaic/one_thread/size:2' \
  --benchmark_min_time=0.5 --benchmark_format=json >"$work/engine.json" 2>/dev/null
engine_mps=$(python3 -c 'import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
print(max(r["Mpix"] for r in runs))' "$work/engine.json")

# The bench's throughput for the method: its milliseconds column, best of
# RUNS runs of one job.
best_ms=""
for _ in $(seq "$runs"); do
  "$bench" --jobs 1 --csv "$work/bench.csv" "$chart" >/dev/null 2>&1
  ms=$(python3 -c 'import csv, sys
rows = csv.DictReader(open(sys.argv[1]))
print(next(r["milliseconds"] for r in rows if r["method"] == "method"))' "$work/bench.csv")
  if [ -z "$best_ms" ] || awk -v a="$ms" -v b="$best_ms" 'BEGIN { exit !(a < b) }'; then
    best_ms=$ms
  fi
done

# Wall time of the bench with PSNR alone and with every figure, best of RUNS,
# a job per processor.
processors=$(nproc)
read -r psnr_wall _ < <(best_of "$runs" "$bench" --jobs "$processors" --metrics psnr "$chart")
read -r all_wall _ < <(best_of "$runs" "$bench" --jobs "$processors" \
  --metrics psnr,ssim,de2000,zipper "$chart")

awk -v engine="$engine_mps" -v ms="$best_ms" -v pw="$psnr_wall" -v aw="$all_wall" \
    -v jobs="$processors" 'BEGIN {
  bench_mps = 24.0 / (ms / 1000.0)
  printf "6000 x 4000 chart, demosaic-bench --jobs 1 against engine-benchmark (one thread):\n"
  printf "  engine-benchmark, method:         %.0f MP/s\n", engine
  printf "  demosaic-bench throughput column: %.0f MP/s (%.2f of the engine; aim: at least 0.67)\n",
    bench_mps, bench_mps / engine
  printf "  bench wall time (--jobs %d), PSNR alone: %.2f s; every figure: %.2f s (%.2f times; aim: at most 2)\n",
    jobs, pw, aw, aw / pw
}'

if [ -d "$photographs" ]; then
  read -r set_psnr _ < <(best_of "$runs" "$bench" --jobs "$processors" --metrics psnr "$photographs")
  read -r set_all _ < <(best_of "$runs" "$bench" --jobs "$processors" \
    --metrics psnr,ssim,de2000,zipper "$photographs")
  awk -v pw="$set_psnr" -v aw="$set_all" -v dir="$photographs" -v jobs="$processors" 'BEGIN {
    printf "  the same on %s (--jobs %d): PSNR alone %.2f s; every figure %.2f s (%.2f times)\n",
      dir, jobs, pw, aw, aw / pw
  }'
else
  echo "  photographs: $photographs not found, skipped"
fi

# Python's first reconstruct in a fresh process (best of RUNS processes).
if [ -d "$build_dir/python/demosaic" ]; then
  best_first=""
  for _ in $(seq "$runs"); do
    first=$(PYTHONPATH="$build_dir/python" /usr/bin/python3 - "$chart" <<'PY'
import sys, time
import demosaic
from demosaic import _core
image = _core.load_image(sys.argv[1])
mosaic = demosaic.sample_mosaic(image, "GRBG")
start = time.perf_counter()
demosaic.reconstruct(mosaic, "GRBG")
print((time.perf_counter() - start) * 1000.0)
PY
)
    if [ -z "$best_first" ] || awk -v a="$first" -v b="$best_first" 'BEGIN { exit !(a < b) }'; then
      best_first=$first
    fi
  done
  awk -v first="$best_first" -v engine="$engine_mps" 'BEGIN {
    engine_ms = 24.0 / engine * 1000.0
    printf "  Python, first reconstruct in a process: %.0f ms against the engine'"'"'s %.0f ms (%.2f times; aim: at most 2)\n",
      first, engine_ms, first / engine_ms
  }'
fi

if command -v vips >/dev/null 2>&1; then
  read -r best _ < <(best_of "$runs" vips copy "$chart" "$work/vips.png")
  echo "  vips copy of the PNG (decode and encode, for reference): $best s"
else
  echo "  vips copy: not installed (Debian libvips-tools), skipped"
fi
