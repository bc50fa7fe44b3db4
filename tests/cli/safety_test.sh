#!/usr/bin/env bash
# The command line where careless use could cost data: class fields an
# operation would overwrite, classes named twice, refusals that must exit 1,
# report paths that are no regular file, texts that are not valid in the
# layer's code page, damaged files, a second writer.
set -u
quilta=$1
source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$(dirname "$0")/checks.sh"
fail() { echo "FAIL $1"; failures=$((failures + 1)); }
same_file() {  # same_file NAME BEFORE_SUM FILE
  [ "$2" = "$(md5sum < "$3")" ] && passes=$((passes + 1)) || fail "$1: $3 changed"
}

# A class field that an operation of the run writes is refused before
# anything is written, whichever operation of the run it is.
layer=$(fresh over)
"$quilta" "$layer" nearest-neighbour --class-field zone >/dev/null 2>&1
before=$(md5sum < "${layer%.shp}.dbf")
check "class field NNDist" 1 "$quilta" "$layer" nearest-neighbour --class-field NNDist
expect_in "class field NNDist" "$work/err" "The class field NNDist would be overwritten by Nearest Neighbour!"
check "class field written by a later operation" 1 "$quilta" "$layer" area-perimeter nearest-neighbour --class-field nndist
expect_in "class field written by a later operation" "$work/err" "would be overwritten by Nearest Neighbour"
same_file "refused class field" "$before" "${layer%.shp}.dbf"
check "class field of the proximity suffix" 1 "$quilta" "$layer" px92 proximity --class-field PXfg_50 --buffer 50
expect_in "class field of the proximity suffix" "$work/err" "would be overwritten by Proximity (fragstats)"
same_file "refused proximity class field" "$before" "${layer%.shp}.dbf"

# A class named twice is one class: the statistics are those of naming it once.
layer=$(fresh twice)
"$quilta" "$layer" area-perimeter >/dev/null 2>&1
check "class once" 0 "$quilta" "$layer" area --class-field zone --classes slope,hilltop --json
cp "$work/out" "$work/once.json"
check "class twice" 0 "$quilta" "$layer" area --class-field zone --classes slope,hilltop,slope --classes slope --json
cmp -s "$work/once.json" "$work/out" && passes=$((passes + 1)) || fail "a class named twice changes the statistics"

# Every refusal exits 1: delete-fields without fields.
check "delete-fields without fields" 1 "$quilta" "$(fresh del)" delete-fields
expect_in "delete-fields without fields" "$work/err" "Select at least one field!"

# A report path that is not a regular file is refused without opening it: a
# named pipe (opening it would wait for a reader for ever) and a link to one.
layer=$(fresh rep)
mkdir "$work/reports"
"$quilta" "$layer" area-perimeter area --class-field zone --reports "$work/reports" >/dev/null 2>&1
report=$(ls "$work/reports" | head -1)
[ -n "$report" ] || fail "no report written"
rm -f "$work/reports"/*
mkfifo "$work/reports/$report"
check "report onto a pipe" 1 timeout 60 "$quilta" "$layer" area --class-field zone --reports "$work/reports"
expect_in "report onto a pipe" "$work/err" "is not a regular file (a named pipe)"
[ -p "$work/reports/$report" ] && passes=$((passes + 1)) || fail "the pipe was replaced"
rm -f "$work/reports"/*
mkfifo "$work/pipe"
ln -s "$work/pipe" "$work/reports/$report"
check "report onto a link to a pipe" 1 timeout 60 "$quilta" "$layer" area --class-field zone --reports "$work/reports"
[ -p "$work/pipe" ] && [ -L "$work/reports/$report" ] && passes=$((passes + 1)) || fail "the link or its pipe was replaced"
rm -f "$work/reports"/*
echo old > "$work/old.txt"
ln -s "$work/old.txt" "$work/reports/$report"
check "report onto a link to a file" 0 "$quilta" "$layer" area --class-field zone --reports "$work/reports"
[ -L "$work/reports/$report" ] && ! grep -q old "$work/old.txt" && passes=$((passes + 1)) ||
  fail "a link to a regular file is not followed"

# JSON stays valid UTF-8 when the table's texts are not in its code page: a
# .cpg saying UTF-8 over Windows-1252 bytes.
layer=$(fresh cpg)
printf 'UTF-8' > "${layer%.shp}.cpg"
python3 - "${layer%.shp}.dbf" <<'PY'
import sys
path = sys.argv[1]
data = bytearray(open(path, 'rb').read())
old, new = b'slope', b'sl\xe9pe'
data = data.replace(old, new)
open(path, 'wb').write(data)
PY
"$quilta" "$layer" area-perimeter >/dev/null 2>&1
check "json of a mis-declared code page" 0 "$quilta" "$layer" area --class-field zone --json
python3 -c 'import json,sys; json.loads(open(sys.argv[1], "rb").read().decode("utf-8"))' "$work/out" 2>/dev/null &&
  passes=$((passes + 1)) || fail "the JSON output is not valid UTF-8 JSON"

# Damaged shape files are refused with the shapefile error and what is wrong,
# before anything is written: a vertex that is not a number, a polyline
# record in a polygon file, a table with a record more than the shapes.
damaged() {  # damaged NAME PYTHON_CHANGE EXPECTED_CAUSE
  local layer; layer=$(fresh "$1")
  python3 - "${layer%.shp}" "$2" <<'PY'
import struct, sys
base, change = sys.argv[1], sys.argv[2]
shp = bytearray(open(base + '.shp', 'rb').read())
shx = open(base + '.shx', 'rb').read()
at = 2 * struct.unpack('>i', shx[100 + 8 * 5:104 + 8 * 5])[0]  # feature 5
parts = struct.unpack('<i', shp[at + 8 + 36:at + 8 + 40])[0]
if change == 'nan':
    shp[at + 8 + 44 + 4 * parts:at + 8 + 52 + 4 * parts] = struct.pack('<d', float('nan'))
elif change == 'polyline':
    shp[at + 8:at + 12] = struct.pack('<i', 3)
elif change == 'record':
    dbf = bytearray(open(base + '.dbf', 'rb').read())
    count, header, length = struct.unpack('<IHH', dbf[4:12])
    dbf[4:8] = struct.pack('<I', count + 1)
    dbf[header + count * length:] = dbf[header:header + length] + b'\x1a'
    open(base + '.dbf', 'wb').write(dbf)
open(base + '.shp', 'wb').write(shp)
PY
  local before; before=$(md5sum < "${layer%.shp}.dbf")
  check "damaged: $1" 1 "$quilta" "$layer" area-perimeter
  expect_in "damaged: $1" "$work/err" "Error in shapefile or shapefile is in use by another program or shapefile is read-only!"
  expect_in "damaged: $1" "$work/err" "$3"
  same_file "damaged: $1" "$before" "${layer%.shp}.dbf"
}
damaged nan nan "feature 5 has a vertex whose coordinates are not finite numbers"
damaged polyline polyline "feature 5 has the shape type 3 in a file of shape type 5"
damaged record record "lists 413 features but the table has 414 records"

# One writer at a time: a layer whose table another writer holds is refused
# at once with the shapefile error naming it; its table stays as it was, and
# statistics (which write nothing) still run.
layer=$(fresh locked)
"$quilta" "$layer" area-perimeter >/dev/null 2>&1
before=$(md5sum < "${layer%.shp}.dbf")
python3 -c 'import fcntl, sys, time
table = open(sys.argv[1], "rb")
fcntl.flock(table, fcntl.LOCK_EX)
print("locked", flush=True)
time.sleep(120)' "${layer%.shp}.dbf" > "$work/holder.out" &
holder=$!
for _ in $(seq 100); do grep -q locked "$work/holder.out" && break; sleep 0.1; done
check "second writer" 1 timeout 60 "$quilta" "$layer" nearest-neighbour --class-field zone
expect_in "second writer" "$work/err" "Error in shapefile or shapefile is in use by another program or shapefile is read-only!"
expect_in "second writer" "$work/err" "is being written by process $holder (python3)"
check "reader beside a writer" 0 timeout 60 "$quilta" "$layer" area --class-field zone
kill "$holder" 2>/dev/null; wait "$holder" 2>/dev/null
same_file "second writer" "$before" "${layer%.shp}.dbf"

# A read-only layer: the statistics run, writing operations are refused.
layer=$(fresh readonly)
"$quilta" "$layer" area-perimeter >/dev/null 2>&1
chmod a-w "$(dirname "$layer")" "${layer%.shp}".*
as_user=()
if [ "$(id -u)" -eq 0 ]; then  # root may write anything: run as nobody
  chmod a+rx "$work" "$(dirname "$layer")"
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
check "statistics on a read-only layer" 0 "${as_user[@]}" "$quilta" "$layer" area edge diversity subdivision --class-field zone
check "writing into a read-only layer" 1 "${as_user[@]}" "$quilta" "$layer" nearest-neighbour --class-field zone
expect_in "writing into a read-only layer" "$work/err" "Error in shapefile or shapefile is in use by another program or shapefile is read-only!"
chmod -R u+w "$(dirname "$layer")"

# A layer name as long as the file system allows gets new fields; a deep
# folder keeps its coordinate system.
long=$(printf 'n%.0s' $(seq 240))
mkdir -p "$work/long"
for f in "$source_dir"/data/sample/olinda_elevation.*; do cp "$f" "$work/long/$long.${f##*.}"; done
check "240-character layer name" 0 "$quilta" "$work/long/$long.shp" area-perimeter
expect_in "240-character layer name" "$work/err" "new fields: Area, Perimeter"
[ -z "$(ls -A "$work/long" | grep -v "^$long\.")" ] && passes=$((passes + 1)) || fail "temporary files left beside the layer"
deep="$work/deep"
for _ in $(seq 28); do deep="$deep/$(printf 'f%.0s' $(seq 100))"; done
mkdir -p "$deep" && cp "$source_dir"/data/sample/olinda_elevation.* "$deep"/
check "deep folder" 0 "$quilta" "$deep/olinda_elevation.shp" area-perimeter
if grep -qF "Please define map units!" "$work/err"; then fail "deep folder: the .prj was not read"; fi

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
