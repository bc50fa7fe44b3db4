#!/usr/bin/env bash
# Attribute store benchmark: times the whole command-line process
#   quilta LAYER area-perimeter
# on the same generated landscape kept as a shapefile, as a GeoPackage layer
# and as a PostGIS table, each run from a fresh copy (so "Area" and
# "Perimeter" are added and every value written every time). Wall time, user
# and system CPU seconds of the program are reported; the PostgreSQL server's
# own work shows in the wall time only.
#
# usage: bench/run_stores.sh BUILD_DIR [PATCHES] [RUNS]
#   BUILD_DIR  a build folder holding bench/quilta-genland and app/cli/quilta
#   PATCHES    number of patches (default 100000)
#   RUNS       timed runs per store (default 3)
# The PostGIS runs use a throw-away server started for them (the tests'
# tests/support/pg_cluster.sh, with fsync on, as a real server has it); they
# are left out when no server programs are installed.
set -euo pipefail

build=${1:?usage: $0 BUILD_DIR [PATCHES] [RUNS]}
patches=${2:-100000}
runs=${3:-3}
here=$(cd "$(dirname "$0")/.." && pwd)
genland="$build/bench/quilta-genland"
quilta="$build/app/cli/quilta"
for program in "$genland" "$quilta"; do
  [[ -x $program ]] || { echo "missing $program: build it first" >&2; exit 2; }
done
command -v ogr2ogr >/dev/null || { echo "ogr2ogr is needed (gdal-bin)" >&2; exit 2; }

work=$(mktemp -d)
socket=$(mktemp -d /tmp/quilta-bench-pg.XXXXXX)
pg_started=0
cleanup() {
  [[ $pg_started -eq 1 ]] && "$here/tests/support/pg_cluster.sh" stop "$work/pgdata" "$socket" || true
  rm -rf "$work" "$socket"
}
trap cleanup EXIT

"$genland" "$work/source.shp" --patches "$patches" --seed 1 >/dev/null
ogr2ogr -f GPKG "$work/source.gpkg" "$work/source.shp" -nln land
echo "landscape: $patches Voronoi patches"

# time_runs NAME PREPARE COMMAND...: PREPARE puts a fresh copy in place.
time_runs() {
  local name=$1 prepare=$2
  shift 2
  local best=""
  for ((run = 1; run <= runs; ++run)); do
    $prepare
    /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" >/dev/null 2>"$work/messages" ||
      { cat "$work/messages" >&2; exit 1; }
    read -r wall user sys <"$work/time"
    echo "$name run $run: ${wall} s wall, ${user} s user, ${sys} s system"
    if [[ -z $best ]] || awk -v a="$wall" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$wall; fi
  done
  echo "$name best of $runs: $best s wall"
}

fresh_shapefile() { for ext in shp shx dbf prj; do cp "$work/source.$ext" "$work/land.$ext"; done; }
fresh_geopackage() { cp "$work/source.gpkg" "$work/land.gpkg"; }
time_runs shapefile fresh_shapefile "$quilta" "$work/land.shp" area-perimeter
time_runs geopackage fresh_geopackage "$quilta" "$work/land.gpkg" area-perimeter

if QUILTA_PG_FSYNC=on "$here/tests/support/pg_cluster.sh" start "$work/pgdata" "$socket" >/dev/null 2>"$work/pg.log"; then
  pg_started=1
  pg="host=$socket port=5432 dbname=quilta user=quilta"
  ogr2ogr -f PostgreSQL "PG:$pg" "$work/source.shp" -nln public.source -lco LAUNDER=NO -nlt PROMOTE_TO_MULTI
  fresh_table() {
    psql -q -X "$pg" -c "SET client_min_messages = warning; DROP TABLE IF EXISTS land" \
      -c "CREATE TABLE land (LIKE source INCLUDING ALL)" -c "INSERT INTO land SELECT * FROM source" \
      -c "VACUUM ANALYZE land" >/dev/null
  }
  time_runs postgis fresh_table "$quilta" "PG:$pg" --layer public.land area-perimeter
else
  echo "postgis: left out (no server could be started: $(tail -n 1 "$work/pg.log"))"
fi
