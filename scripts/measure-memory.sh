#!/usr/bin/env bash
# Peak resident memory of one demosaic-eval run on a 24-megapixel PNG (the
# stress chart scaled to 6000 x 4000), as /usr/bin/time -v reports it.
# Usage: scripts/measure-memory.sh BUILD_DIR
set -euo pipefail
build_dir=${1:-build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build_dir/make-chart" --stress "$work/chart-24mp.png" 6000 4000
/usr/bin/time -v "$build_dir/demosaic-eval" "$work/chart-24mp.png" "$work/out.png" \
  >"$work/report" 2>"$work/time"
peak_kib=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time")
wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$work/time")
pixels=$((6000 * 4000))
budget_kib=$(((32 * pixels + 64 * 1024 * 1024) / 1024))
awk -v kib="$peak_kib" -v px="$pixels" -v budget="$budget_kib" -v wall="$wall" 'BEGIN {
  printf "demosaic-eval on a 6000 x 4000 PNG: peak RSS %d MiB (%.1f bytes/pixel), budget %d MiB, wall %s\n",
    kib / 1024, kib * 1024 / px, budget / 1024, wall }'
