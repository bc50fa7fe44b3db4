#!/usr/bin/env bash
# Installs Quilta's Processing provider into a QGIS user profile: copies the
# plugin qgis/quilta_processing/ into the profile, enables it and records the
# path of the quilta program in the provider's setting. QGIS comes from
# scripts/install-deps.sh; without --program, the quilta of this repository
# is used, built first (scripts/build.sh) when it is not yet.
#
#   scripts/install-qgis-plugin.sh [--profile NAME] [--program PATH]
#
# The profiles live in $QGIS_CUSTOM_CONFIG_PATH/profiles when that is set,
# else in ~/.local/share/QGIS/QGIS3/profiles; the default profile is "default".
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
profile=default
program=""
while [ $# -gt 0 ]; do
  case "$1" in
    --profile) profile=$2; shift 2 ;;
    --program) program=$2; shift 2 ;;
    -h|--help) sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "install-qgis-plugin: unknown argument \"$1\" (see --help)" >&2; exit 2 ;;
  esac
done
if [ -z "$program" ]; then
  # The program of this repository, built first when it is not yet.
  program="$repo/build/app/cli/quilta"
  [ -x "$program" ] || "$repo/scripts/build.sh"
fi
if [ ! -x "$program" ]; then
  echo "install-qgis-plugin: no quilta program at \"$program\"; build it with scripts/build.sh or give --program PATH" >&2
  exit 1
fi
program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")

# The Python QGIS runs: Debian's, which is not always the first python3 on PATH.
python=""
for candidate in /usr/bin/python3 python3; do
  if "$candidate" -c 'import qgis.core' 2>/dev/null; then python=$candidate; break; fi
done
if [ -z "$python" ]; then
  echo "install-qgis-plugin: QGIS's Python modules are missing; install QGIS with scripts/install-deps.sh" >&2
  exit 1
fi

profiles="${QGIS_CUSTOM_CONFIG_PATH:-$HOME/.local/share/QGIS/QGIS3}/profiles"
folder="$profiles/$profile"
plugins="$folder/python/plugins"
mkdir -p "$plugins" "$folder/QGIS"
rm -rf "$plugins/quilta_processing"
cp -r "$repo/qgis/quilta_processing" "$plugins/"
find "$plugins/quilta_processing" -name __pycache__ -prune -exec rm -rf {} +

# QGIS reads both from the profile's settings file.
QT_QPA_PLATFORM=offscreen "$python" - "$folder/QGIS/QGIS3.ini" "$program" <<'PY'
import sys
from qgis.PyQt.QtCore import QSettings
settings = QSettings(sys.argv[1], QSettings.IniFormat)
settings.setValue('PythonPlugins/quilta_processing', True)
settings.setValue('Processing/Configuration/QUILTA_PROGRAM', sys.argv[2])
settings.sync()
sys.exit(0 if settings.status() == QSettings.NoError else 1)
PY
echo "installed the Quilta plugin into $plugins/quilta_processing (program: $program)"

# qgis_process reads the default profile: it shows whether QGIS finds the provider.
if [ "$profile" = default ] && [ -x /usr/bin/qgis_process.bin ]; then
  count=$(QT_QPA_PLATFORM=offscreen /usr/bin/qgis_process.bin list 2>/dev/null | grep -c 'quilta:' || true)
  if [ "$count" -eq 0 ]; then
    echo "install-qgis-plugin: QGIS does not list the Quilta algorithms (qgis_process.bin list)" >&2
    exit 1
  fi
  echo "QGIS lists $count Quilta algorithms in its Processing toolbox"
fi
