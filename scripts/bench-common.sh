# Shared by the measuring scripts (sourced, not run): where the built programs
# are, and the best wall time of a command over several runs.
# Needs: build_dir, work (a scratch folder) and script (this script's name).

# The built program $1, at the build tree's top (older trees had them in its
# tools/ and frontends/ folders); exits when it is not built.
program() {
  for dir in "$build_dir" "$build_dir/tools" "$build_dir/frontends"; do
    if [ -x "$dir/$1" ]; then
      echo "$dir/$1"
      return
    fi
  done
  echo "$script: $1 not built in $build_dir" >&2
  exit 1
}

# Runs the command after the run count $1 that many times, each under
# /usr/bin/time with its output discarded; prints the best wall time in
# seconds and the largest peak resident set in KiB.
best_of() {
  local runs=$1 best="" peak=0 wall kib
  shift
  for _ in $(seq "$runs"); do
    /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>&1
    read -r wall kib <"$work/time"
    if [ -z "$best" ] || awk -v a="$wall" -v b="$best" 'BEGIN { exit !(a < b) }'; then
      best=$wall
    fi
    [ "$kib" -gt "$peak" ] && peak=$kib
  done
  echo "$best $peak"
}
