#!/usr/bin/env bash
# Times every operation of the command line program, the whole process each
# time (reading the layer, the work, writing every value), on one thread and
# on every core, with its peak memory, and writes the table to
# bench/RESULTS.md (or OUT) with the machine it ran on.
#
#   bench/run_all.sh BUILD_DIR [SIZES] [OUT]
#
# BUILD_DIR holds app/cli/quilta and bench/quilta-genland. SIZES is a list of
# patch counts (default "100000 1000000"): Voronoi landscapes of 10 clustered
# classes, patches of about 100 m x 100 m (the side is 100 m times the square
# root of the count), seed 1. The proximity buffer is 1 % of the side, the
# core area distance 1 m. Every run works on a fresh copy of the landscape;
# the operations that need "Area", "Perimeter" or the nearest-neighbour
# fields get a copy that has them. Below 1,000,000 patches each time is the
# median of 3 runs (RUNS), from 1,000,000 on one run; beside it the CPU
# seconds (user and system) of the process, which a loaded machine does not
# inflate. Peak memory is the largest resident set of those runs (GNU time).
# A section "## Notes" at the end of OUT is kept. The work folder is a
# temporary folder, removed at the end (KEEP=1 keeps it).
set -euo pipefail

build=${1:?usage: run_all.sh BUILD_DIR [SIZES] [OUT]}
sizes=${2:-100000 1000000}
here=$(cd "$(dirname "$0")" && pwd)
out=${3:-$here/RESULTS.md}
. "$(dirname "$0")/tools.sh"
cores=$(nproc)

work=$(mktemp -d -t quilta-bench-XXXXXX)
if [[ ${KEEP:-0} != 1 ]]; then trap 'rm -rf "$work"' EXIT; fi

copy() {  # copy SOURCE_SHP NAME: a fresh copy of the layer, prints its path
  local dir="$work/runs/$2"
  rm -rf "$dir" && mkdir -p "$dir"
  cp "${1%.shp}".* "$dir"/
  echo "$dir/$(basename "$1")"
}

once() {  # once LAYER ARGS...: one timed run; prints "seconds peak_MiB outcome"
  local layer=$1
  shift
  # @RUN@ in an argument stands for the run's own folder.
  set -- "${@//@RUN@/$(dirname "$layer")}"
  local log="$work/time.log" msg="$work/quilta.log"
  /usr/bin/time -v -o "$log" "$quilta" "$layer" "$@" --class-field class >"$msg" 2>&1 || true
  local wall cpu rss outcome
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, t, ":"); s = 0;
           for (i = 1; i <= n; i++) s = s * 60 + t[i]; printf "%.2f", s }' "$log")
  cpu=$(awk -F': ' '/(User|System) time \(seconds\)/ { s += $2 } END { printf "%.2f", s }' "$log")
  rss=$(awk -F': ' '/Maximum resident set size/ { printf "%.0f", $2 / 1024 }' "$log")
  outcome=$(grep -E '^[a-z0-9-]+: (completed|refused|failed|cancelled)' "$msg" | tail -1 | sed 's/ (.*//' || true)
  echo "$wall $cpu $rss ${outcome##*: }"
}

median() { sort -g | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'; }

timed() {  # timed RUNS SOURCE ARGS...: "median_seconds median_cpu max_peak outcome"
  local runs=$1 source=$2
  shift 2
  local times=() cpus=() peak=0 outcome=completed r
  for ((r = 0; r < runs; r++)); do
    read -r wall cpu rss result < <(once "$(copy "$source" run)" "$@")
    times+=("$wall")
    cpus+=("$cpu")
    if ((rss > peak)); then peak=$rss; fi
    [[ $result == completed ]] || outcome=${result:-unknown}
  done
  echo "$(printf '%s\n' "${times[@]}" | median) $(printf '%s\n' "${cpus[@]}" | median) $peak $outcome"
}

load() { cut -d' ' -f1-3 /proc/loadavg; }

cpu=$(lscpu 2>/dev/null | sed -n 's/^Model name: *//p' | head -1)
commit=$(git -C "$here" rev-parse --short HEAD 2>/dev/null || echo unknown)
started=$(date -u '+%Y-%m-%d %H:%M UTC')
load_before=$(load)
rows=()
for patches in $sizes; do
  side=$(awk -v n="$patches" 'BEGIN { printf "%.0f", 100 * sqrt(n) }')
  buffer=$(awk -v s="$side" 'BEGIN { printf "%.0f", s / 100 }')
  runs=${RUNS:-3}
  if ((patches >= 1000000)); then runs=1; fi
  land="$work/land$patches/land.shp"
  mkdir -p "$(dirname "$land")"
  echo "# $patches patches: generating (side $side m, buffer $buffer m)" >&2
  "$genland" "$land" --patches "$patches" --classes 10 --side "$side" --seed 1 >/dev/null
  # The copy with "Area", "Perimeter" and the nearest-neighbour fields.
  measured="$work/measured$patches/land.shp"
  mkdir -p "$(dirname "$measured")" && cp "$work/land$patches"/land.* "$(dirname "$measured")"/
  "$quilta" "$measured" area-perimeter nearest-neighbour --class-field class >/dev/null 2>&1

  # label|layer|arguments
  operations=(
    "area-perimeter|$land|area-perimeter"
    "nearest-neighbour|$land|nearest-neighbour"
    "px92|$measured|px92 --buffer $buffer"
    "px94|$measured|px94 --buffer $buffer"
    "proximity|$land|proximity --buffer $buffer"
    "dissolve-id|$land|dissolve-id"
    "area|$measured|area"
    "edge|$measured|edge"
    "form|$measured|form"
    "core-area|$measured|core-area --distance 1 --core-output @RUN@/cores.shp"
    "diversity|$measured|diversity"
    "subdivision|$measured|subdivision"
  )
  for entry in "${operations[@]}"; do
    IFS='|' read -r label layer arguments <<<"$entry"
    # shellcheck disable=SC2086  # the arguments are words
    read -r one_s one_cpu one_mb one_outcome < <(timed "$runs" "$layer" $arguments --threads 1)
    # shellcheck disable=SC2086
    read -r all_s all_cpu all_mb all_outcome < <(timed "$runs" "$layer" $arguments --threads "$cores")
    speedup=$(awk -v a="$one_s" -v b="$all_s" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }')
    note=""
    [[ $one_outcome == completed && $all_outcome == completed ]] || note=" ($one_outcome / $all_outcome)"
    printf '%-18s %8s %7s s (cpu %7s) %6s MB %7s s (cpu %7s) %6s MB %5s%s\n' "$label" "$patches" "$one_s" \
      "$one_cpu" "$one_mb" "$all_s" "$all_cpu" "$all_mb" "$speedup" "$note" >&2
    rows+=("| $label$note | $patches | $one_s | $one_cpu | $one_mb | $all_s | $all_cpu | $all_mb | $speedup |")
  done
done
load_after=$(load)

{
  echo "# Benchmark results"
  echo
  echo "Written by \`bench/run_all.sh\`: the whole process of \`quilta\` (reading the layer, the work,"
  echo "writing every value) on generated Voronoi landscapes of 10 clustered classes, patches of"
  echo "about 100 m x 100 m, proximity buffer 1 % of the side, core area distance 1 m. Seconds are"
  echo "wall-clock, the median of 3 runs below 1,000,000 patches and one run from there on; peak"
  echo "memory is the largest resident set (MB = MiB). CPU s: user and system seconds of the process."
  echo "Speed-up: one thread's time over all threads'."
  echo
  echo "| machine | |"
  echo "| --- | --- |"
  echo "| CPU | ${cpu:-unknown} |"
  echo "| cores (nproc) | $cores |"
  echo "| memory | $(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo) |"
  echo "| load average (1, 5, 15 min) before / after | $load_before / $load_after |"
  echo "| started | $started |"
  echo "| commit of the scripts (at the start) | $commit |"
  echo
  echo "| operation | patches | 1 thread s | CPU s | peak MB | $cores threads s | CPU s | peak MB | speed-up |"
  echo "| --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: |"
  printf '%s\n' "${rows[@]}"
  # Notes written by hand below the table stay.
  if [[ -f $out ]] && grep -q '^## Notes' "$out"; then
    echo
    sed -n '/^## Notes/,$p' "$out"
  fi
} >"$out.new"
mv "$out.new" "$out"
echo "wrote $out" >&2
