#!/usr/bin/env bash
# A whole demosaic-eval run on a 24-megapixel PNG (the bundled chart scaled
# to 6000 x 4000) against the I/O floor (io-floor: the same read, decode,
# encode and write without the evaluation): best wall time of several runs
# each, their ratio, and the run's peak resident memory against its budget
# of 12 bytes per pixel plus 64 MiB. Every run is a fresh process.
# Usage: scripts/measure-run.sh BUILD_DIR [RUNS]
set -euo pipefail
build_dir=${1:-build}
runs=${2:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

script=measure-run.sh
# shellcheck source=scripts/bench-common.sh
source "$(dirname "$0")/bench-common.sh"
make_chart=$(program make-chart)
io_floor=$(program io-floor)
demosaic_eval=$(program demosaic-eval)

width=6000
height=4000
"$make_chart" "$work/chart-24mp.png" "$width" "$height"

read -r floor_wall floor_kib < <(best_of "$runs" "$io_floor" "$work/chart-24mp.png" "$work/floor.png")
read -r run_wall run_kib < <(best_of "$runs" "$demosaic_eval" "$work/chart-24mp.png" "$work/out.png")

pixels=$((width * height))
budget_kib=$(((12 * pixels + 64 * 1024 * 1024) / 1024))
awk -v fw="$floor_wall" -v fk="$floor_kib" -v rw="$run_wall" -v rk="$run_kib" \
    -v px="$pixels" -v budget="$budget_kib" -v runs="$runs" 'BEGIN {
  printf "6000 x 4000 PNG, best of %d fresh processes each:\n", runs
  printf "  io-floor (read, decode, encode, write): %.2f s, peak RSS %d MiB\n", fw, fk / 1024
  printf "  demosaic-eval (the whole run):           %.2f s, peak RSS %d MiB (%.1f bytes/pixel; budget %d MiB)\n",
    rw, rk / 1024, rk * 1024 / px, budget / 1024
  printf "  demosaic-eval / io-floor wall time: %.2f\n", rw / fw
}'
