#!/usr/bin/env bash
# Runs the QGIS provider tests with the Python that QGIS's modules belong to
# (Debian's, which need not be the first python3 on PATH). Exit 77 (skipped)
# with the reason when no Python can import QGIS.
#   run.sh QUILTA QUILTA_GENLAND SOURCE_DIR
set -u
# The plugin is imported from the source tree: leave no compiled files there.
export PYTHONDONTWRITEBYTECODE=1
for python in /usr/bin/python3 python3; do
  if "$python" -c 'import qgis.core' 2>/dev/null; then
    exec "$python" "$3/tests/qgis/test_provider.py" "$@"
  fi
done
echo "SKIPPED: QGIS cannot be imported (no python3 has qgis.core; install QGIS with scripts/install-deps.sh)"
exit 77
