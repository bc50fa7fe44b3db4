#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each for
# SECONDS (default 60), one after the other. Seeds are cut from the sample
# landscape at run time, and the inputs of faults found earlier
# (fuzz/regressions/) are tried first; what a run learns stays in
# build-fuzz/corpus/ for the next one. An input that crashes a target or fails one of its checks is
# kept in build-fuzz/crashes/ and makes the script fail.
#   fuzz.sh [SECONDS] [TARGET ...]   targets: dbase shape clause number report
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(dbase shape clause number report)

cmake -S . -B build-fuzz -DQUILTA_FUZZ=ON -DQUILTA_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_COMPILER="${QUILTA_FUZZ_CXX:-clang++-14}" >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target "${targets[@]/#/quilta-fuzz-}"

out=$root/build-fuzz
seeds=$out/seeds
mkdir -p "$seeds" "$out/crashes"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Small shapefiles cut from the sample: the first 1, 3 and 8 patches.
for n in 1 3 8; do
  ogr2ogr -f "ESRI Shapefile" -where "FID < $n" "$work/cut$n.shp" data/sample/olinda_elevation.shp
done

seed_dbase() {
  mkdir -p "$seeds/dbase"
  for n in 1 3 8; do cp "$work/cut$n.dbf" "$seeds/dbase/cut$n.dbf"; done
}
seed_shape() {
  # The target's input: the .shx length and the .dbf length (4 bytes each,
  # little-endian), the .shx, the .dbf, the .shp.
  mkdir -p "$seeds/shape"
  for n in 1 3 8; do
    python3 - "$work/cut$n" "$seeds/shape/cut$n" <<'PY'
import struct, sys
base, target = sys.argv[1], sys.argv[2]
parts = [open(base + ext, 'rb').read() for ext in ('.shx', '.dbf', '.shp')]
with open(target, 'wb') as out:
    out.write(struct.pack('<II', len(parts[0]), len(parts[1])) + b''.join(parts))
PY
  done
}
seed_clause() {
  mkdir -p "$seeds/clause"
  local i=0
  for text in "zone = 'forest '" "band = 3" "zone = 'farmer''s field '" "CODE = 1.5E+20" \
              "$(cut -c1-400 data/sample/README.md | head -3)"; do
    printf '%s' "$text" >"$seeds/clause/seed$((i += 1))"
  done
}
seed_number() {
  mkdir -p "$seeds/number"
  local i=0
  for text in "1.5" " -0,25 " "1e300" "123456789012345678" "0.125" "+.5" "9.999999999999999e22" "-0"; do
    printf '%s' "$text" >"$seeds/number/seed$((i += 1))"
  done
}
seed_report() {
  mkdir -p "$seeds/report"
  printf 'Class\tArea (m\xc2\xb2)\tPatches\nforest\t1234.56\t3\nfarmer'"'"'s field\t0.00\t1\n' >"$seeds/report/seed1"
  head -c 600 data/sample/README.md >"$seeds/report/seed2"
}

status=0
for t in "${targets[@]}"; do
  rm -rf "${seeds:?}/$t"
  "seed_$t"
  mkdir -p "$out/corpus/$t"
  scratch=$(mktemp -d -p "$([ -w /dev/shm ] && echo /dev/shm || echo "$work")")
  echo "== fuzzing $t for $seconds s"
  if ! TMPDIR=$scratch "$out/fuzz/quilta-fuzz-$t" -max_total_time="$seconds" -timeout=30 -print_final_stats=1 \
        -artifact_prefix="$out/crashes/$t-" "$out/corpus/$t" "$seeds/$t" $(ls -d "fuzz/regressions/$t" 2>/dev/null) \
        2>"$out/fuzz-$t.log"; then
    status=1
    echo "quilta-fuzz-$t failed; the input is in build-fuzz/crashes/:" >&2
    grep -E 'ERROR|property failed|SUMMARY|Test unit written' "$out/fuzz-$t.log" >&2 || tail -30 "$out/fuzz-$t.log" >&2
  fi
  rm -rf "$scratch"
  grep -E '^stat::(number_of_executed_units|peak_rss_mb)|^#[0-9]+.*DONE' "$out/fuzz-$t.log" || true
done
exit $status
