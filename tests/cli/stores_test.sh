#!/usr/bin/env bash
# End-to-end checks of the command line on GeoPackage layers and PostGIS
# tables made from the bundled sample: choosing the layer, the reports equal
# to the shapefile's byte for byte, and core area layers in a GeoPackage.
#   stores_test.sh QUILTA SOURCE_DIR PG_PARAMETERS
set -u
quilta=$1
source_dir=$2
pg=$3
work=$(mktemp -d)
trap 'rm -rf "$work"; psql -q -X "$pg" -c "DROP SCHEMA IF EXISTS cli_$$ CASCADE" >/dev/null 2>&1' EXIT
. "$(dirname "$0")/checks.sh"
same() {  # same NAME FILE FILE
  if cmp -s "$2" "$3"; then passes=$((passes + 1)); else
    echo "FAIL $1: $(basename "$2") and $(basename "$3") differ"; failures=$((failures + 1)); fi
}

sample=$source_dir/data/sample/olinda_elevation.shp
run_all() {  # the operations whose reports are compared, on LAYER [--layer NAME]
  "$quilta" "$@" area-perimeter area edge form diversity subdivision --class-field zone
}

# The reports of the shapefile are the reference.
mkdir -p "$work/shp" "$work/rshp" "$work/rgpkg" "$work/rpg"
cp "$source_dir"/data/sample/olinda_elevation.* "$work/shp/"
check "shapefile" 0 run_all "$work/shp/olinda_elevation.shp" --reports "$work/rshp"

# A GeoPackage of one polygon layer opens without --layer.
ogr2ogr -q -f GPKG "$work/one.gpkg" "$sample"
check "geopackage" 0 run_all "$work/one.gpkg" --reports "$work/rgpkg"
expect_in "geopackage" "$work/err" "area-perimeter: completed (new fields: Area, Perimeter)"
for report in "$work"/rshp/*.txt; do same "geopackage $(basename "$report")" "$report" "$work/rgpkg/$(basename "$report")"; done

# Several polygon layers: --layer is needed, and a usage error lists them.
ogr2ogr -q -f GPKG "$work/two.gpkg" "$sample" -nln elevation
ogr2ogr -q -f GPKG -update "$work/two.gpkg" "$sample" -nln copy
check "several layers" 2 "$quilta" "$work/two.gpkg" area-perimeter
expect_in "several layers" "$work/err" '"copy" "elevation"'
check "a layer chosen" 0 "$quilta" "$work/two.gpkg" --layer elevation area-perimeter
check "no such layer" 1 "$quilta" "$work/two.gpkg" --layer nosuch area-perimeter
expect_in "no such layer" "$work/err" "cause:"
check "--layer on a shapefile" 2 "$quilta" "$work/shp/olinda_elevation.shp" --layer x area

# Core areas into the analysed GeoPackage: a new layer of the same file.
check "core layer" 0 "$quilta" "$work/two.gpkg" --layer elevation core-area --class-field zone \
  --core-output "$work/two.gpkg:cores"
expect_in "core layer" "$work/out" "Cority"
if [ "$(ogrinfo -q "$work/two.gpkg" cores -sql "SELECT COUNT(*) AS n FROM cores" | sed -n 's/.*n (Integer) = //p')" -gt 0 ]; then
  passes=$((passes + 1)); else echo "FAIL core layer: no records in the layer cores"; failures=$((failures + 1)); fi
check "core layer replacing the analysed one" 1 "$quilta" "$work/two.gpkg" --layer elevation core-area \
  --class-field zone --core-output "$work/two.gpkg:elevation"
expect_in "core layer replacing the analysed one" "$work/err" "would replace the analysed layer"

# A PostGIS table: --layer schema.table, the same reports.
if psql -q -X "$pg" -c "CREATE SCHEMA cli_$$" >/dev/null 2>&1; then
  ogr2ogr -f PostgreSQL "PG:$pg" "$sample" -nln "cli_$$.olinda_elevation" -lco LAUNDER=NO -nlt PROMOTE_TO_MULTI
  check "postgis" 0 run_all "PG:$pg" --layer "cli_$$.olinda_elevation" --reports "$work/rpg"
  for report in "$work"/rshp/*.txt; do same "postgis $(basename "$report")" "$report" "$work/rpg/$(basename "$report")"; done
  ogr2ogr -f PostgreSQL "PG:$pg" "$sample" -nln "cli_$$.copy" -lco LAUNDER=NO -nlt PROMOTE_TO_MULTI
  check "postgis without --layer" 2 "$quilta" "PG:$pg" area-perimeter
  expect_in "postgis without --layer" "$work/err" "\"cli_$$.olinda_elevation\""
  check "postgis core area as a shapefile" 0 "$quilta" "PG:$pg" --layer "cli_$$.olinda_elevation" core-area --class-field zone \
    --core-output "$work/pgcore.shp"
  [ -f "$work/pgcore.shp" ] && passes=$((passes + 1)) || { echo "FAIL no core shapefile"; failures=$((failures + 1)); }
else
  echo "FAIL the test database cannot be reached ($pg)"; failures=$((failures + 1))
fi

# --help shows the three kinds of layer.
check "help" 0 "$quilta" --help
expect_in "help" "$work/out" "--layer"
expect_in "help" "$work/out" "a PostGIS table"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
