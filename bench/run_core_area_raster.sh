#!/usr/bin/env bash
# Core area benchmark on staircase patches: times the whole command-line process
#   quilta LAND area-perimeter core-area --class-field F --distance D ...
# on a polygonised raster layer (bench/make_raster_layer.sh: 30 m cells, five
# classes) and on the bundled sample (90 m cells), for each distance given.
# Prints the best wall time and the user CPU time of that run; on a busy
# machine compare the CPU times.
#
# usage: bench/run_core_area_raster.sh BUILD_DIR [CELLS] [RUNS] [DISTANCE ...]
#   CELLS      raster cells along each side (default 1000: about 26,000 patches)
#   RUNS       timed runs per distance (default 3)
#   DISTANCE   core area distances in metres (default 30 45 100)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: $0 BUILD_DIR [CELLS] [RUNS] [DISTANCE ...]}
cells=${2:-1000}
runs=${3:-3}
shift $(($# < 3 ? $# : 3))
distances=("$@")
((${#distances[@]})) || distances=(30 45 100)
quilta="$build/app/cli/quilta"
[[ -x $quilta ]] || { echo "missing $quilta: build it first" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$here/make_raster_layer.sh" "$work/raster.shp" "$cells" 30 1
sample="$here/../data/sample/olinda_elevation"

# One layer, one distance: the best of RUNS runs, each on a fresh copy.
measure() {
  local source=$1 field=$2 distance=$3 best="" cpu=""
  for ((run = 1; run <= runs; ++run)); do
    rm -f "$work"/land.* "$work"/core.*
    for ext in shp shx dbf prj; do cp "$source.$ext" "$work/land.$ext"; done
    chmod u+w "$work"/land.*
    /usr/bin/time -f "%e %U" -o "$work/time.txt" "$quilta" "$work/land.shp" area-perimeter core-area \
      --class-field "$field" --distance "$distance" --core-output "$work/core.shp" >"$work/windows.txt" \
      2>"$work/messages.txt" || { cat "$work/messages.txt" >&2; exit 1; }
    read -r wall user <"$work/time.txt"
    if [[ -z $best ]] || awk -v a="$wall" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$wall cpu=$user; fi
  done
  local info
  info=$(grep -E "Disjunct" "$work/windows.txt" | sed 's/^ *//' || true)
  echo "  distance $distance: best of $runs ${best} s wall, ${cpu} s user CPU ($info)"
}

echo "polygonised raster, $cells x $cells cells of 30 m:"
for d in "${distances[@]}"; do measure "$work/raster" class "$d"; done
echo "bundled sample (90 m cells):"
for d in "${distances[@]}"; do measure "$sample" band "$d"; done
