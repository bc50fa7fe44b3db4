#!/usr/bin/env bash
# The main job on the bundled sample landscape (elevation zones of Olinda):
# builds Quilta, copies the sample into out/sample/ (the bundled files stay
# untouched) and runs every analysis by elevation zone, saving the reports.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh
rm -rf out/sample && mkdir -p out/sample/reports
cp data/sample/olinda_elevation.* out/sample/
set -x
build/app/cli/quilta out/sample/olinda_elevation.shp \
  area-perimeter nearest-neighbour px92 px94 proximity dissolve-id area edge form core-area diversity subdivision \
  --class-field zone --buffer 500 --core-output out/sample/core_area.shp --reports out/sample/reports "$@"
