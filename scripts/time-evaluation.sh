#!/usr/bin/env bash
# Wall time of the Dask evaluation (python3 -m demosaic.evaluate) with 1 and 2
# local workers beside demosaic-bench with 1 and 2 jobs on the same image set,
# and the Dask runs' fixed cost (cluster start and stop) on a single 7 x 7
# image. Each command runs RUNS times after a warm-up; on a machine shared
# with others take the best time (hyperfine's "min").
#
#   scripts/time-evaluation.sh [BUILD_DIR] [IMAGE_DIR]
#
# Defaults: build/ and ../shared/datasets/kodak beside the checkout. Checks
# that all four CSV files agree in every figure before reporting.
set -euo pipefail

build_dir=$(realpath "${1:-build}")
images=$(realpath "${2:-$(dirname "$0")/../../shared/datasets/kodak}")
runs=${RUNS:-10}
python=${PYTHON:-/usr/bin/python3}
command -v hyperfine >/dev/null || { echo "hyperfine is needed (apt-get install hyperfine)" >&2; exit 2; }
[ -x "$build_dir/demosaic-bench" ] || { echo "no demosaic-bench in $build_dir" >&2; exit 2; }
[ -d "$build_dir/python/demosaic" ] || { echo "no Python module in $build_dir/python" >&2; exit 2; }
[ -d "$images" ] || { echo "no image folder $images" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tiny="$work/tiny.ppm"
printf 'P6\n7 7\n255\n' >"$tiny"
head -c 147 /dev/urandom >>"$tiny"

export PYTHONPATH="$build_dir/python"
evaluate="$python -m demosaic.evaluate"
hyperfine --warmup 1 --runs "$runs" -N --export-markdown "$work/times.md" \
  --command-name "demosaic-bench --jobs 1" "$build_dir/demosaic-bench --jobs 1 --csv $work/bench1.csv $images" \
  --command-name "demosaic-bench --jobs 2" "$build_dir/demosaic-bench --jobs 2 --csv $work/bench2.csv $images" \
  --command-name "demosaic.evaluate --workers 1" "$evaluate $images --csv $work/dask1.csv --workers 1" \
  --command-name "demosaic.evaluate --workers 2" "$evaluate $images --csv $work/dask2.csv --workers 2" \
  --command-name "demosaic.evaluate --workers 1, one 7 x 7 image" "$evaluate $tiny --csv $work/tiny1.csv --workers 1" \
  --command-name "demosaic.evaluate --workers 2, one 7 x 7 image" "$evaluate $tiny --csv $work/tiny2.csv --workers 2" \
  >/dev/null

# Every column but the milliseconds must agree.
reference=$(cut -d, -f1-8,10- "$work/bench1.csv")
for table in bench2 dask1 dask2; do
  if [ "$(cut -d, -f1-8,10- "$work/$table.csv")" != "$reference" ]; then
    echo "$table.csv differs from bench1.csv" >&2
    exit 1
  fi
done
echo "$(($(wc -l <"$work/bench1.csv") - 1)) CSV rows, identical figures in all four runs; $images"
cat "$work/times.md"
