#!/usr/bin/env bash
# Core area benchmark: times the whole command-line process
#   quilta LAND area-perimeter core-area --class-field class --distance D ...
# on a generated Voronoi landscape, from start to exit, the core shapefile
# written included. The distance is 1 % of the mean patch diameter, taken as
# the diameter of the circle with the mean patch area (side^2 / patches).
#
# usage: bench/run_core_area.sh BUILD_DIR [PATCHES] [RUNS]
#   BUILD_DIR  a build folder holding bench/quilta-genland and app/cli/quilta
#   PATCHES    number of patches (default 100000)
#   RUNS       timed runs (default 3); each starts from a fresh copy of the
#              landscape, so "Area" and "Perimeter" are added every time
set -euo pipefail

build=${1:?usage: $0 BUILD_DIR [PATCHES] [RUNS]}
patches=${2:-100000}
runs=${3:-3}
side=10000
genland="$build/bench/quilta-genland"
quilta="$build/app/cli/quilta"
for program in "$genland" "$quilta"; do
  [[ -x $program ]] || { echo "missing $program: build it first" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$genland" "$work/source.shp" --patches "$patches" --side "$side" --seed 1 >/dev/null
distance=$(awk -v n="$patches" -v s="$side" 'BEGIN { printf "%.6g", 0.01 * 2 * sqrt(s * s / n / 3.141592653589793) }')
echo "landscape: $patches Voronoi patches, $side m square; core area distance $distance m"

best=""
for ((run = 1; run <= runs; ++run)); do
  rm -f "$work"/land.* "$work"/core.*
  for ext in shp shx dbf prj; do cp "$work/source.$ext" "$work/land.$ext"; done
  start=$(date +%s.%N)
  "$quilta" "$work/land.shp" area-perimeter core-area --class-field class --distance "$distance" \
    --core-output "$work/core.shp" >"$work/windows.txt" 2>"$work/messages.txt" ||
    { cat "$work/messages.txt" >&2; exit 1; }
  end=$(date +%s.%N)
  seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }')
  records="?"
  if command -v ogrinfo >/dev/null; then
    records=$(ogrinfo -so -al "$work/core.shp" | sed -n 's/^Feature Count: //p')
  fi
  echo "run $run: ${seconds} s (core shapefile: $records records, $(du -k "$work/core.shp" | cut -f1) KB .shp)"
  if [[ -z $best ]] || awk -v a="$seconds" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$seconds; fi
done
echo "best of $runs: $best s"
