# The programs a benchmark script runs, from the build folder $build; sourced
# by the scripts after they read their arguments. Stops with exit 2 when one
# is missing.
quilta="$build/app/cli/quilta"
genland="$build/bench/quilta-genland"
for tool in "$quilta" "$genland"; do
  [[ -x $tool ]] || { echo "missing $tool (build the project first)" >&2; exit 2; }
done
[[ -x /usr/bin/time ]] || { echo "needs /usr/bin/time (GNU time)" >&2; exit 2; }
