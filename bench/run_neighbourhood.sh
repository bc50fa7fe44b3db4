#!/usr/bin/env bash
# Times the patch-level neighbourhood operations of the command line program on
# a generated Voronoi landscape, the whole process each time (reading the
# layer, the spatial work, writing every value), with its peak memory.
#
#   bench/run_neighbourhood.sh BUILD_DIR [PATCHES] [BUFFER]
#
# BUILD_DIR holds app/cli/quilta and bench/quilta-genland. PATCHES defaults to
# 100000 (10 clustered classes in a 10 km square, seed 1); BUFFER defaults to
# 1 % of the extent (100 m). Every operation runs on a fresh copy of the
# landscape; PX94 needs "Area" and the nearest-neighbour fields, which are
# written first and timed on their own lines. The work folder is a temporary
# folder, removed at the end (set KEEP=1 to keep it).
set -euo pipefail

build=${1:?usage: run_neighbourhood.sh BUILD_DIR [PATCHES] [BUFFER]}
patches=${2:-100000}
side=10000
buffer=${3:-$(awk -v s="$side" 'BEGIN { printf "%g", s / 100 }')}
. "$(dirname "$0")/tools.sh"

work=$(mktemp -d -t quilta-bench-XXXXXX)
if [[ ${KEEP:-0} != 1 ]]; then trap 'rm -rf "$work"' EXIT; fi

"$genland" "$work/land.shp" --patches "$patches" --classes 10 --side "$side" --seed 1 >/dev/null

# A suffix of at most 5 characters for the proximity fields.
suffix=$(printf '%s' "$buffer" | tr -cd '0-9' | cut -c1-5)
suffix=${suffix:-b}

fresh() {  # copies the landscape into its own folder, prints the .shp path
  local dir="$work/$1"
  mkdir -p "$dir"
  cp "$work"/land.* "$dir"/
  echo "$dir/land.shp"
}

run() {  # label, layer, operation arguments...
  local label=$1 layer=$2
  shift 2
  local log="$work/time.log" out="$work/quilta.log"
  /usr/bin/time -v -o "$log" "$quilta" "$layer" "$@" --class-field class >"$out" 2>&1 || true
  local wall rss outcome
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, t, ":"); s = 0;
           for (i = 1; i <= n; i++) s = s * 60 + t[i]; printf "%.2f", s }' "$log")
  rss=$(awk -F': ' '/Maximum resident set size/ { printf "%.0f", $2 / 1024 }' "$log")
  outcome=$(grep -E '^[a-z0-9-]+: (completed|refused|failed|cancelled)' "$out" | tail -1 || true)
  printf '%-28s %10s %12s  %s\n' "$label" "$wall" "$rss" "${outcome:-see $out}"
}

echo "# $patches patches, 10 classes, buffer $buffer (extent $side)"
printf '%-28s %10s %12s  %s\n' "operation" "seconds" "peak MiB" "outcome"
run "nearest-neighbour" "$(fresh nn)" nearest-neighbour
run "proximity (fragstats)" "$(fresh frag)" proximity --buffer "$buffer" --suffix "$suffix"
run "dissolve-id" "$(fresh dissolve)" dissolve-id
px94=$(fresh px94)
run "area-perimeter (for px94)" "$px94" area-perimeter
run "nearest-neighbour (for px94)" "$px94" nearest-neighbour
run "px94" "$px94" px94 --buffer "$buffer" --suffix "$suffix"
run "px92" "$px94" px92 --buffer "$buffer" --suffix "$suffix"
