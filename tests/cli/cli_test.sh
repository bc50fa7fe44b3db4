#!/usr/bin/env bash
# End-to-end checks of the command line on copies of the bundled sample:
# exit statuses, messages on stderr, and what lands in the attribute table.
set -u
quilta=$1
source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$(dirname "$0")/checks.sh"

# Usage errors exit 2.
check "no arguments" 2 "$quilta"
check "unknown operation" 2 "$quilta" "$(fresh u)" fly
check "unknown map units" 2 "$quilta" "$(fresh u2)" area-perimeter --map-units furlongs

# A missing layer exits 1 with its cause.
check "missing layer" 1 "$quilta" "$work/none.shp" area-perimeter
expect_in "missing layer" "$work/err" "cause:"

# Area and perimeter: fields written, a second run adds none.
layer=$(fresh ap)
check "area-perimeter" 0 "$quilta" "$layer" area-perimeter
expect_in "area-perimeter" "$work/err" "Quilta 1.1: Calculation finished!"
expect_in "area-perimeter" "$work/err" "new fields: Area, Perimeter"
check "area-perimeter again" 0 "$quilta" "$layer" area-perimeter
if grep -qF "new fields" "$work/err"; then echo "FAIL second run added fields"; failures=$((failures + 1)); fi

# A layer without coordinate system needs --map-units.
layer=$(fresh noprj); rm "${layer%.shp}.prj"
check "no units" 1 "$quilta" "$layer" area-perimeter
expect_in "no units" "$work/err" "Please define map units!"
check "map units given" 0 "$quilta" "$layer" area-perimeter --map-units meters

# A class field or class the layer does not have is refused, listing what it
# offers; a missing class field option is a usage error.
layer=$(fresh cls)
check "unknown class field" 1 "$quilta" "$layer" area-perimeter area --class-field nosuch
expect_in "unknown class field" "$work/err" '"band"'
check "class field needed" 2 "$quilta" "$layer" area
expect_in "class field needed" "$work/err" "--class-field"
check "two classes in one option" 0 "$quilta" "$layer" area --class-field zone --classes "slope,coastal plain"
expect_in "two classes in one option" "$work/out" "coastal plain"
check "a class per option" 0 "$quilta" "$layer" area --class-field band --classes 4 --classes 2
check "unknown class" 1 "$quilta" "$layer" area --class-field zone --classes swamp
expect_in "unknown class" "$work/err" '"hilltop"'

# A layer of points is refused by the guard.
cat > "$work/points.csv" <<'CSV'
WKT,id
"POINT (1 1)",1
CSV
if command -v ogr2ogr >/dev/null; then
  ogr2ogr -q -f "ESRI Shapefile" -a_srs EPSG:32725 "$work/points.shp" "$work/points.csv" 2>/dev/null
  check "points" 1 "$quilta" "$work/points.shp" area-perimeter
  expect_in "points" "$work/err" "Exiting Script: Selected Layer Not Polygon: A polygon shapefile must be selected"
fi

# Field deletion, and the Shape refusal.
layer=$(fresh del)
"$quilta" "$layer" area-perimeter >/dev/null 2>&1
check "delete fields" 0 "$quilta" "$layer" delete-fields --fields Area,Shape
expect_in "delete fields" "$work/err" "It is not advisable to delete the Shape field!"
check "unknown field to delete" 1 "$quilta" "$layer" delete-fields --fields Nope

# A read-only data source is refused with the shapefile error; nothing changes.
layer=$(fresh ro)
chmod a-w "$(dirname "$layer")" "${layer%.shp}".*
before=$(md5sum "${layer%.shp}.dbf")
if [ "$(id -u)" -ne 0 ]; then
  check "read-only" 1 "$quilta" "$layer" area-perimeter
  expect_in "read-only" "$work/err" "Error in shapefile or shapefile is in use by another program or shapefile is read-only!"
fi
[ "$before" = "$(md5sum "${layer%.shp}.dbf")" ] || { echo "FAIL read-only table changed"; failures=$((failures + 1)); }
chmod -R u+w "$(dirname "$layer")"

# Statistics: every result window is printed and its reports are saved under
# their default names (the subdivision window has no landscape report).
layer=$(fresh stats)
mkdir -p "$work/reports"
check "statistics" 0 "$quilta" "$layer" area-perimeter area edge form diversity subdivision --class-field band \
  --reports "$work/reports"
for name in class_area_analysis landscape_area_analysis class_edge_analysis landscape_edge_analysis \
            class_form_analysis landscape_form_analysis class_diversity landscape_diversity class_subdivision; do
  if [ -f "$work/reports/$name.txt" ]; then passes=$((passes + 1)); else
    echo "FAIL statistics: no $name.txt"; failures=$((failures + 1)); fi
done
[ "$(ls "$work/reports" | wc -l)" -eq 9 ] || { echo "FAIL statistics: $(ls "$work/reports" | wc -l) reports"; failures=$((failures + 1)); }
expect_in "statistics" "$work/out" "Subdivision Analysis"
expect_in "statistics" "$work/out" "Total Patches (NP):  413"
expect_in "statistics" "$work/reports/landscape_area_analysis.txt" "Total Patches (NP): "$'\t'"413"$'\r'
if LC_ALL=C grep -qF $' m\xb2\r' "$work/reports/landscape_area_analysis.txt"; then passes=$((passes + 1)); else
  echo "FAIL statistics: no one-byte m² in the area report"; failures=$((failures + 1)); fi

# With --json one object per window and line, values as shown and as numbers.
check "statistics json" 0 "$quilta" "$layer" area diversity --class-field zone --potential 6 --json
if command -v python3 >/dev/null; then
  if python3 - "$work/out" <<'PY'
import json, sys
windows = [json.loads(line) for line in open(sys.argv[1], encoding="utf-8")]
assert [w["window"] for w in windows] == ["frmArea", "frmDiversity"], windows
assert windows[0]["columns"] == ["Class", "NP", "CA", "MPS", "PSSD"]
assert [r[0] for r in windows[0]["rows"]] == ["coastal plain", "hilltop", "lowland", "slope", "terrace"]
rel = next(v for v in windows[1]["landscape"] if v["control"] == "txtRelRichness")
assert rel["text"] == "83.33" and rel["value"] == 83.33, rel
assert windows[0]["landscape"][1]["value"] == 413
PY
  then passes=$((passes + 1)); else echo "FAIL statistics json"; sed 's/^/  | /' "$work/out"; failures=$((failures + 1)); fi
fi

# --progress json: JSON lines among the messages on stderr, which is no
# terminal here; each operation ends at 100 percent.
layer=$(fresh progress)
check "progress json" 0 "$quilta" "$layer" area-perimeter nearest-neighbour --class-field zone --progress json
expect_in "progress json" "$work/err" "Quilta 1.1: Calculation finished!"
expect_in "progress json" "$work/err" '{"progress":100.0,"operation":"nearest-neighbour","step":5,"steps":5,"item":0,"items":0}'
if command -v python3 >/dev/null; then
  if python3 - "$work/err" <<'PY'
import json, sys
lines = [json.loads(l) for l in open(sys.argv[1], encoding="utf-8") if l.startswith("{")]
keys = ["progress", "operation", "step", "steps", "item", "items"]
assert lines and all(list(l) == keys for l in lines), lines
for op in ("area-perimeter", "nearest-neighbour"):
    mine = [l["progress"] for l in lines if l["operation"] == op]
    assert mine == sorted(mine) and mine[-1] == 100.0 and all(0 <= p <= 100 for p in mine), (op, mine)
PY
  then passes=$((passes + 1)); else echo "FAIL progress json lines"; sed 's/^/  | /' "$work/err"; failures=$((failures + 1)); fi
fi
check "progress mode" 2 "$quilta" "$layer" area-perimeter --progress text
check "no progress option" 0 "$quilta" "$layer" area-perimeter
if grep -q '^{' "$work/err"; then echo "FAIL progress lines without --progress"; failures=$((failures + 1)); fi

# A report that cannot be saved fails the run; so do the statistics' refusals.
mkdir -p "$work/bad/class_area_analysis.txt"
check "report not saved" 1 "$quilta" "$layer" area --class-field band --reports "$work/bad"
expect_in "report not saved" "$work/err" "Quilta 1.1: Unexpected Error"
check "potential too small" 1 "$quilta" "$layer" diversity --class-field band --potential 4
expect_in "potential too small" "$work/err" "Quilta 1.1: Value must be higher than or equal 5"
check "statistics need area" 1 "$quilta" "$(fresh noarea)" edge --class-field band
expect_in "statistics need area" "$work/err" "No Area/Perimeter field: Please calculate Area and Perimeter!"

# --threads: at least one; one thread and several write the same table and
# print the same windows.
check "no threads" 2 "$quilta" "$(fresh t0)" area-perimeter --threads 0
for n in 1 3; do
  layer=$(fresh "threads$n")
  check "threads $n" 0 "$quilta" "$layer" area-perimeter nearest-neighbour px94 proximity dissolve-id form core-area \
    --class-field zone --buffer 500 --distance 20 --core-output "$work/threads$n/cores.shp" --threads "$n"
  cp "$work/out" "$work/threads$n/printed"
done
for f in olinda_elevation.dbf cores.dbf cores.shp printed; do
  # Bytes 1-3 of a dBASE header hold the date of the last update.
  if cmp -s <(tail -c +5 "$work/threads1/$f") <(tail -c +5 "$work/threads3/$f"); then passes=$((passes + 1)); else
    echo "FAIL threads: $f differs between 1 and 3 threads"; failures=$((failures + 1)); fi
done

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
