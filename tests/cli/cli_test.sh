#!/usr/bin/env bash
# End-to-end checks of the command line on copies of the bundled sample:
# exit statuses, messages on stderr, and what lands in the attribute table.
set -u
quilta=$1
source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
passes=0

check() {  # check NAME EXPECTED_STATUS COMMAND...
  local name=$1 expected=$2
  shift 2
  "$@" >"$work/out" 2>"$work/err"
  local status=$?
  if [ "$status" -ne "$expected" ]; then
    echo "FAIL $name: exit $status, expected $expected"; sed 's/^/  | /' "$work/err"
    failures=$((failures + 1))
  else
    passes=$((passes + 1))
  fi
}
expect_in() {  # expect_in NAME FILE TEXT
  if grep -qF -- "$3" "$2"; then passes=$((passes + 1)); else
    echo "FAIL $1: \"$3\" not in $(basename "$2")"; sed 's/^/  | /' "$2"; failures=$((failures + 1)); fi
}
fresh() {  # a new copy of the sample in its own folder
  local d="$work/$1"
  mkdir -p "$d" && cp "$source_dir"/data/sample/olinda_elevation.* "$d"/
  echo "$d/olinda_elevation.shp"
}

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

# Class field and classes the layer does not have: usage errors listing what it offers.
layer=$(fresh cls)
check "unknown class field" 2 "$quilta" "$layer" area-perimeter area --class-field nosuch
expect_in "unknown class field" "$work/err" '"band"'
check "class field needed" 2 "$quilta" "$layer" area
expect_in "class field needed" "$work/err" "--class-field"

# Field deletion, and the Shape refusal.
layer=$(fresh del)
"$quilta" "$layer" area-perimeter >/dev/null 2>&1
check "delete fields" 0 "$quilta" "$layer" delete-fields --fields Area,Shape
expect_in "delete fields" "$work/err" "It is not advisable to delete the Shape field!"
check "unknown field to delete" 2 "$quilta" "$layer" delete-fields --fields Nope

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

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
