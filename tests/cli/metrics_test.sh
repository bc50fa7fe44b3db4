#!/usr/bin/env bash
# End-to-end checks of "quilta metrics" on the bundled sample: the table's
# columns, order and formats, regions and sample points, refusals, and that
# the layer is left as it was.
set -u
quilta=$1
source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$(dirname "$0")/checks.sh"
layer=$(fresh s)
before=$(cat "$work"/s/olinda_elevation.* | md5sum)

# The default table: class and landscape rows, csv, the header first.
check "default table" 0 "$quilta" metrics "$layer" --class-field zone
cp "$work/out" "$work/default.csv"
if [ "$(head -1 "$work/default.csv")" != "layer,region,radius,level,class,id,metric,value" ]; then
  echo "FAIL header: $(head -1 "$work/default.csv")"; failures=$((failures + 1)); fi
expect_in "default table" "$work/default.csv" "olinda_elevation,,,landscape,,,np,413"
expect_in "default table" "$work/default.csv" "olinda_elevation,,,landscape,,,pr,5"
if grep -q ",patch," "$work/default.csv"; then echo "FAIL patch rows by default"; failures=$((failures + 1)); fi

# Sorted by level, class (text classes by their bytes), then metric name.
tail -n +2 "$work/default.csv" | awk -F, '
  { lv = ($4 == "patch") ? 0 : ($4 == "class") ? 1 : 2
    key = sprintf("%d|%s|%s", lv, $5, $7)
    if (NR > 1 && key < prev) { print "FAIL order: " prev " before " key; bad = 1 }
    prev = key }
  END { exit bad }' || failures=$((failures + 1))
# Numeric classes sort numerically, patch ids ascending within a class.
check "numeric classes" 0 "$quilta" metrics "$layer" --class-field band --level patch,class --metrics area,np
awk -F, 'NR > 1 && $4 == "class" { printf "%s ", $5 } END { print "" }' "$work/out" > "$work/classes"
expect_in "numeric classes" "$work/classes" "1 2 3 4 5"
awk -F, 'NR > 1 && $4 == "patch" { if ($5 == c && $6 + 0 <= id + 0) { print "FAIL id order " $5 " " $6; bad = 1 }
  c = $5; id = $6 } END { exit bad }' "$work/out" || failures=$((failures + 1))
rows=$(grep -c ",patch," "$work/out")
if [ "$rows" -ne 413 ]; then echo "FAIL one area row per patch: $rows"; failures=$((failures + 1)); fi

# The other formats hold the same rows.
check "tsv" 0 "$quilta" metrics "$layer" --class-field zone --format tsv
if [ "$(head -1 "$work/out")" != "$(printf 'layer\tregion\tradius\tlevel\tclass\tid\tmetric\tvalue')" ]; then
  echo "FAIL tsv header"; failures=$((failures + 1)); fi
if [ "$(wc -l < "$work/out")" -ne "$(wc -l < "$work/default.csv")" ]; then echo "FAIL tsv rows"; failures=$((failures + 1)); fi
check "json" 0 "$quilta" metrics "$layer" --class-field zone --format json --output "$work/t.json"
if [ -s "$work/out" ]; then echo "FAIL --output also printed"; failures=$((failures + 1)); fi
if command -v python3 >/dev/null; then
  python3 - "$work/t.json" "$work/default.csv" <<'PY' || failures=$((failures + 1))
import csv, json, sys
rows = json.load(open(sys.argv[1]))
table = list(csv.DictReader(open(sys.argv[2])))
assert len(rows) == len(table), (len(rows), len(table))
for j, c in zip(rows, table):
    assert j["metric"] == c["metric"] and (j["class"] or "") == c["class"], (j, c)
    assert (j["value"] is None) == (c["value"] == ""), (j, c)
    if j["value"] is not None:
        assert j["value"] == float(c["value"]), (j, c)  # the text reads back exactly
    assert j["region"] is None and j["radius"] is None and j["id"] is None
PY
fi

# Options that cannot be used are usage errors.
check "unknown metric" 2 "$quilta" metrics "$layer" --class-field zone --metrics nosuch
expect_in "unknown metric" "$work/err" 'unknown metric "nosuch"'
check "core without depth" 2 "$quilta" metrics "$layer" --class-field zone --metrics tca
expect_in "core without depth" "$work/err" "needs --edge-depth"
check "bad level" 2 "$quilta" metrics "$layer" --class-field zone --level region
check "no class field" 2 "$quilta" metrics "$layer"
check "unknown class field" 1 "$quilta" metrics "$layer" --class-field nosuch
expect_in "unknown class field" "$work/err" '"zone"'

# Core and proximity metrics only with their options.
check "core and prox" 0 "$quilta" metrics "$layer" --class-field zone --edge-depth 30 --search-radius 500
expect_in "core and prox" "$work/out" ",landscape,,,tca,"
expect_in "core and prox" "$work/out" ",class,hilltop,,prox_mn,"

# Layers without linear units are refused unless --map-units says what they are.
mkdir -p "$work/noprj" && cp "$work"/s/olinda_elevation.{shp,shx,dbf} "$work/noprj"/
check "no coordinate system" 1 "$quilta" metrics "$work/noprj/olinda_elevation.shp" --class-field zone
expect_in "no coordinate system" "$work/err" "Project it"
expect_in "no coordinate system" "$work/err" "--map-units"
check "map units given" 0 "$quilta" metrics "$work/noprj/olinda_elevation.shp" --class-field zone --map-units meters
check "degrees as map units" 2 "$quilta" metrics "$work/noprj/olinda_elevation.shp" --class-field zone --map-units degrees
if command -v ogr2ogr >/dev/null; then
  ogr2ogr -q -t_srs EPSG:4326 "$work/deg.shp" "$layer"
  check "degrees" 1 "$quilta" metrics "$work/deg.shp" --class-field zone
  expect_in "degrees" "$work/err" "is in degrees"

  # A GeoPackage layer gives the table the shapefile gives.
  ogr2ogr -q -f GPKG "$work/land.gpkg" "$layer" -nln olinda_elevation
  check "geopackage" 0 "$quilta" metrics "$work/land.gpkg" --class-field zone --level patch,class,landscape \
    --output "$work/gpkg.csv"
  check "shapefile" 0 "$quilta" metrics "$layer" --class-field zone --level patch,class,landscape --output "$work/shp.csv"
  if ! cmp -s "$work/gpkg.csv" "$work/shp.csv"; then
    echo "FAIL the GeoPackage's table differs"; diff "$work/gpkg.csv" "$work/shp.csv" | head -5; failures=$((failures + 1)); fi

  # Regions: one landscape per polygon, in the order of their names; a
  # region without patches has np 0 and ta 0 only.
  cat > "$work/regions.csv" <<'CSV'
WKT,name
"POLYGON ((290000 9112000,294000 9112000,294000 9116000,290000 9116000,290000 9112000))",west
"POLYGON ((100 100,200 100,200 200,100 200,100 100))",empty
"POLYGON ((294000 9112000,298000 9112000,298000 9116000,294000 9116000,294000 9112000))",east
CSV
  ogr2ogr -q -a_srs EPSG:32725 "$work/regions.shp" "$work/regions.csv" -nlt POLYGON
  check "regions" 0 "$quilta" metrics "$layer" --class-field zone --regions "$work/regions.shp" --region-field name
  awk -F, 'NR > 1 { if (!seen[$2]++) printf "%s ", $2 } END { print "" }' "$work/out" > "$work/names"
  expect_in "regions" "$work/names" "east empty west"
  expect_in "regions" "$work/out" "olinda_elevation,empty,,landscape,,,np,0"
  expect_in "regions" "$work/out" "olinda_elevation,empty,,landscape,,,ta,0"
  expect_in "regions" "$work/out" "olinda_elevation,empty,,landscape,,,pr,"
  if [ "$(grep -c '^olinda_elevation,empty,,landscape,,,[a-z_]*,.' "$work/out")" -ne 2 ]; then
    echo "FAIL empty region has more than np and ta"; failures=$((failures + 1)); fi
  # The two halves cover 4 km x 4 km each.
  awk -F, '$2 != "empty" && $7 == "ta" && $4 == "landscape" { s += $8 } END { if (s < 3199.9 || s > 3200.1) { print "FAIL ta of the halves " s; exit 1 } }' "$work/out" || failures=$((failures + 1))

  # Sample points at several radii.
  cat > "$work/points.csv" <<'CSV'
WKT,site
"POINT (293000 9114000)",b
"POINT (295000 9117000)",a
CSV
  ogr2ogr -q -a_srs EPSG:32725 "$work/points.shp" "$work/points.csv" -nlt POINT
  check "points" 0 "$quilta" metrics "$layer" --class-field zone --points "$work/points.shp" --point-field site \
    --radius 1000,250 --metrics ta
  # Sorted by point, then radius; each circle's ta is its area (clipped patches cover it).
  tail -n +2 "$work/out" | cut -d, -f2,3 | tr '\n' ' ' > "$work/keys"
  expect_in "points" "$work/keys" "a,250 a,1000 b,250 b,1000"
  awk -F, 'NR > 1 { c = 3.141592653589793 * $3 * $3 / 1e4; if ($8 > c * (1 + 1e-6) || $8 < c * (1 - 1e-5)) { print "FAIL circle ta " $0; exit 1 } }' "$work/out" || failures=$((failures + 1))
  check "points need radii" 2 "$quilta" metrics "$layer" --class-field zone --points "$work/points.shp" --point-field site
  check "regions and points" 2 "$quilta" metrics "$layer" --class-field zone --points "$work/points.shp" \
    --point-field site --radius 100 --regions "$work/regions.shp" --region-field name
  check "points as regions" 1 "$quilta" metrics "$layer" --class-field zone --regions "$work/points.shp" --region-field site
fi

# Nothing was written into the layer.
if [ "$(cat "$work"/s/olinda_elevation.* | md5sum)" != "$before" ]; then
  echo "FAIL the layer's files changed"; failures=$((failures + 1)); fi

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
