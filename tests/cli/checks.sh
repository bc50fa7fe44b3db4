# The checks the command-line test scripts share; sourced after $work is set.
# Each check counts a pass or prints what failed and counts a failure.
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

# A new copy of the sample in its own folder under $work (the caller's
# temporary folder; $source_dir is the source tree).
fresh() {
  local d="$work/$1"
  mkdir -p "$d" && cp "$source_dir"/data/sample/olinda_elevation.* "$d"/
  echo "$d/olinda_elevation.shp"
}
