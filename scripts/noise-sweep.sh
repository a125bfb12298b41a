#!/usr/bin/env bash
# The README's noise sweep: demosaic-bench over the Kodak set at several
# noise levels, then a Markdown table of each method's mean CPSNR per level,
# its difference from the method with the 95 % paired-bootstrap interval, and
# its wins, ties and losses over the images, read from the --summary file.
# Usage: scripts/noise-sweep.sh BUILD_DIR [IMAGE_DIR [SEED]]
set -euo pipefail
build_dir=${1:-build}
images=${2:-../shared/datasets/kodak}
seed=${3:-0}
bench="$build_dir/demosaic-bench"
[ -x "$bench" ] || bench="$build_dir/frontends/demosaic-bench"
if [ ! -d "$images" ]; then
  echo "noise sweep skipped: no image directory at $images" >&2
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$bench" --noise none --noise gaussian:2,5,10,20 --noise poisson-gaussian:0.25,1,1,4 \
  --seed "$seed" --summary "$work/summary.json" "$images" >"$work/table.txt"

/usr/bin/python3 - "$work/summary.json" <<'PY'
import json, sys
summary = json.load(open(sys.argv[1]))
first = summary["options"]["methods"][0]
comparisons = {(c["noise"], c["method"]): c for c in summary["comparisons"]
               if c["figure"] == "CPSNR"}
print(f"| noise | method | mean CPSNR | difference from {first} | 95 % interval | wins / ties / losses |")
print("|---|---|---|---|---|---|")
for level in summary["levels"]:
    noise = level["noise"]
    for method, means in level["methods"].items():
        cell = f"| {noise or 'none'} | {method} | {means['CPSNR']:.2f} |"
        c = comparisons.get((noise, method))
        if c is None:
            print(cell + " | | |")
        else:
            low, high = c["ci95"]
            print(cell + f" {c['mean_difference']:+.2f} | {low:+.2f} to {high:+.2f} |"
                  f" {c['wins']} / {c['ties']} / {c['losses']} |")
print(f"\n{summary['images']} images, seed {summary['options']['seed']}, "
      f"{summary['options']['bootstrap_resamples']} resamples")
PY
