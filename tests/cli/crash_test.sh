#!/usr/bin/env bash
# Crash safety of the writing operations on a shapefile: each runs in a child
# process on a generated landscape and is killed (SIGKILL) or interrupted
# (SIGINT, a clean cancel) at random moments of its run. After every kill the
# vector library opens the layer, the record count is unchanged, every field
# that existed keeps every value byte for byte, every new field holds only
# blanks or valid numbers, no core shapefile is left incomplete, and a rerun
# of the operation succeeds.
#
# usage: crash_test.sh QUILTA GENLAND [PATCHES] [KILLS]
# The default of 20,000 patches and 6 kills per operation keeps the run
# within a minute or two in CI; 100,000 patches and 20 kills is the full trial.
set -u
quilta=$1
genland=$2
patches=${3:-20000}
kills=${4:-6}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$(dirname "$0")/checks.sh"
fail() { echo "FAIL $1"; failures=$((failures + 1)); }
command -v ogrinfo >/dev/null || { echo "ogrinfo (gdal-bin) is needed"; exit 77; }

"$genland" "$work/land.shp" --patches "$patches" --seed 7 >/dev/null || exit 1
mkdir "$work/pristine"
cp "$work"/land.* "$work/pristine/"

# The table checked against the table before the run: record count, old
# fields byte for byte, new fields blank or numbers.
check_table() {  # check_table WHEN
  python3 - "$work/pristine/land.dbf" "$work/run/land.dbf" "$1" <<'PY'
import math, struct, sys
def table(path):
    data = open(path, 'rb').read()
    count, header, length = struct.unpack('<IHH', data[4:12])
    fields, offset, at = {}, 1, 32
    while data[at] != 0x0D:
        name = data[at:at + 11].split(b'\0')[0].decode('ascii')
        fields[name] = (offset, data[at + 16], chr(data[at + 11]))
        offset += data[at + 16]
        at += 32
    records = [data[header + r * length:header + (r + 1) * length] for r in range(count)]
    return fields, records
old_fields, old_records = table(sys.argv[1])
new_fields, new_records = table(sys.argv[2])
problems = []
if len(new_records) != len(old_records):
    problems.append('%d records instead of %d' % (len(new_records), len(old_records)))
for name, (offset, width, _) in old_fields.items():
    if name not in new_fields:
        problems.append('field %s is gone' % name)
        continue
    o, w, _ = new_fields[name]
    if any(a[offset:offset + width] != b[o:o + w] for a, b in zip(old_records, new_records)):
        problems.append('values of field %s changed' % name)
for name, (offset, width, kind) in new_fields.items():
    if name in old_fields:
        continue
    for r in new_records:
        text = r[offset:offset + width].strip()
        try:
            if text and not math.isfinite(float(text)):
                raise ValueError
        except ValueError:
            problems.append('field %s holds %r' % (name, text))
            break
if problems:
    print('FAIL %s: %s' % (sys.argv[3], '; '.join(problems)))
    sys.exit(1)
PY
}
complete() {  # headers that match the files: lengths, and as many index entries as records
  python3 - "$1" <<'PY'
import os, struct, sys
base = sys.argv[1]
shp, shx, dbf = (open(base + e, 'rb').read() for e in ('.shp', '.shx', '.dbf'))
ok = all(2 * struct.unpack('>i', f[24:28])[0] == len(f) for f in (shp, shx))
count, header, length = struct.unpack('<IHH', dbf[4:12])
ok = ok and (len(shx) - 100) // 8 == count and len(dbf) >= header + count * length
sys.exit(0 if ok else 1)
PY
}
opens() {  # the vector library opens the layer with every feature
  ogrinfo -ro -so -al "$1" 2>/dev/null | grep -q "^Feature Count: $patches\$"
}

# Each operation after the ones it needs, with its options.
operations=("area-perimeter" "nearest-neighbour --class-field cover" "dissolve-id --class-field cover"
            "form --class-field cover" "core-area --class-field cover --distance 20")
needs=("" "" "" "area-perimeter" "")
for i in "${!operations[@]}"; do
  read -r -a op <<< "${operations[$i]}"
  prepare() {
    rm -rf "$work/run" && mkdir "$work/run" && cp "$work"/pristine/land.* "$work/run/"
    if [ -n "${needs[$i]}" ]; then
      "$quilta" "$work/run/land.shp" ${needs[$i]} >/dev/null 2>&1
      cp "$work"/run/land.* "$work/pristine/"
    fi
  }
  prepare
  start=$(date +%s%N)
  "$quilta" "$work/run/land.shp" "${op[@]}" --core-output "$work/run/core.shp" >/dev/null 2>&1 ||
    fail "${op[0]} does not run through"
  whole=$((($(date +%s%N) - start) / 1000))  # microseconds
  for kill in $(seq "$kills"); do
    for signal in KILL INT; do
      prepare
      "$quilta" "$work/run/land.shp" "${op[@]}" --core-output "$work/run/core.shp" >/dev/null 2>"$work/err" &
      pid=$!
      sleep "$(awk -v w="$whole" -v r="$RANDOM" 'BEGIN { printf "%.6f", w * 1.1 * r / 32767 / 1e6 }')"
      kill -s "$signal" "$pid" 2>/dev/null
      { wait "$pid"; } 2>/dev/null
      status=$?
      when="${op[0]} after SIG$signal $kill"
      if [ "$signal" = INT ] && [ "$status" -ne 0 ] && [ "$status" -ne 1 ]; then
        fail "$when: exit $status, a cancel exits 1"
      fi
      check_table "$when" && passes=$((passes + 1)) || failures=$((failures + 1))
      opens "$work/run/land.shp" && passes=$((passes + 1)) || fail "$when: the layer does not open"
      if [ -e "$work/run/core.shp" ]; then
        complete "$work/run/core" && passes=$((passes + 1)) || fail "$when: the core shapefile is incomplete"
      fi
      "$quilta" "$work/run/land.shp" "${op[@]}" --core-output "$work/run/core.shp" >/dev/null 2>&1 &&
        passes=$((passes + 1)) || fail "$when: the rerun fails"
      if ls -A "$work/run" | grep -q '^\.quilta-'; then fail "$when: temporary files left after the rerun"; fi
    done
  done
done

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
