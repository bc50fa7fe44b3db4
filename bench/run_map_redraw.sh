#!/usr/bin/env bash
# Desktop map benchmark: generates a Voronoi landscape and times how the
# desktop map reads and draws it offscreen (bench/map_redraw.cpp), with the
# process's peak memory.
#
# usage: bench/run_map_redraw.sh BUILD_DIR [PATCHES] [RUNS]
#   BUILD_DIR  a build folder holding bench/quilta-genland and bench/quilta-bench-map
#   PATCHES    number of patches (default 1000000)
#   RUNS       drawings per view (default 5)
set -euo pipefail

build=${1:?usage: $0 BUILD_DIR [PATCHES] [RUNS]}
patches=${2:-1000000}
runs=${3:-5}
genland="$build/bench/quilta-genland"
bench="$build/bench/quilta-bench-map"
for program in "$genland" "$bench"; do
  [[ -x $program ]] || { echo "missing $program: build it first (it needs Qt 6 Widgets)" >&2; exit 2; }
done
[[ -x /usr/bin/time ]] || { echo "needs /usr/bin/time (GNU time)" >&2; exit 2; }

work=$(mktemp -d -t quilta-bench-XXXXXX)
if [[ ${KEEP:-0} != 1 ]]; then trap 'rm -rf "$work"' EXIT; fi

"$genland" "$work/land.shp" --patches "$patches" --classes 10 --side 10000 --seed 1 >/dev/null
echo "# $patches Voronoi patches, 10 classes, 10 km square; map 1000 x 700 pixels"
QT_QPA_PLATFORM=offscreen /usr/bin/time -v -o "$work/time.log" "$bench" "$work/land.shp" --runs "$runs"
awk -F': ' '/Maximum resident set size/ { printf "peak memory: %.0f MiB\n", $2 / 1024 }' "$work/time.log"
