#!/usr/bin/env bash
# Times "quilta metrics" on generated Voronoi landscapes, the whole process
# each time (reading the layer, the metrics, writing the table), with its peak
# memory, its processor time and the machine's load average before the run
# (on a shared machine the processor time says more than the wall time):
#   1. every class and landscape metric without core and proximity metrics;
#   2. the same with --search-radius at 1 % of the extent side and
#      --edge-depth 1;
#   3. sample points at radii 250, 500 and 1000 m on a second landscape.
#
#   bench/run_metrics.sh BUILD_DIR [PATCHES] [POINT_PATCHES] [POINTS]
#
# BUILD_DIR holds app/cli/quilta and bench/quilta-genland. PATCHES defaults to
# 1000000, POINT_PATCHES to 100000, POINTS to 2000 (10 clustered classes in a
# 10 km square, seed 1; the points are uniformly random, seed 1). The work
# folder is a temporary folder, removed at the end (set KEEP=1 to keep it).
set -euo pipefail

build=${1:?usage: run_metrics.sh BUILD_DIR [PATCHES] [POINT_PATCHES] [POINTS]}
patches=${2:-1000000}
point_patches=${3:-100000}
points=${4:-2000}
side=10000
radius=$(awk -v s="$side" 'BEGIN { printf "%g", s / 100 }')
. "$(dirname "$0")/tools.sh"
command -v ogr2ogr >/dev/null || { echo "needs ogr2ogr (gdal-bin)" >&2; exit 2; }

work=$(mktemp -d -t quilta-bench-XXXXXX)
if [[ ${KEEP:-0} != 1 ]]; then trap 'rm -rf "$work"' EXIT; fi

"$genland" "$work/land.shp" --patches "$patches" --classes 10 --side "$side" --seed 1 >/dev/null
"$genland" "$work/small.shp" --patches "$point_patches" --classes 10 --side "$side" --seed 1 >/dev/null
awk -v n="$points" -v s="$side" 'BEGIN { srand(1); print "WKT,site"
  for (i = 0; i < n; i++) printf "\"POINT (%.3f %.3f)\",%d\n", rand() * s, rand() * s, i }' >"$work/points.csv"
srs=EPSG:32725  # the generator writes UTM zone 25S
ogr2ogr -q -a_srs "$srs" "$work/points.shp" "$work/points.csv" -nlt POINT

timed() {  # timed LABEL ARGS...
  local label=$1
  shift
  local load
  load=$(cut -d' ' -f1-3 /proc/loadavg)
  /usr/bin/time -f "%e %U %S %M" -o "$work/time" "$quilta" metrics "$@" --output "$work/table.csv"
  read -r seconds user sys kb <"$work/time"
  printf '%-58s %8.2f s (cpu %7.2f s) %6.0f MB  rows %8d  load %s\n' "$label" "$seconds" \
    "$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')" "$((kb / 1024))" "$(($(wc -l <"$work/table.csv") - 1))" "$load"
}

echo "quilta metrics: Voronoi landscapes in a $side m square, 10 classes; $(nproc) cores"
timed "$patches patches, class+landscape" "$work/land.shp" --class-field class
timed "$patches patches, + --search-radius $radius --edge-depth 1" "$work/land.shp" --class-field class \
  --search-radius "$radius" --edge-depth 1
timed "$point_patches patches, $points points x 250,500,1000 m" "$work/small.shp" --class-field class \
  --points "$work/points.shp" --point-field site --radius 250,500,1000
