#!/usr/bin/env bash
# Installs the Debian packages that building and testing Quilta need.
set -euo pipefail
packages=(
  cmake g++ make pkg-config
  libgdal-dev gdal-bin      # vector data I/O, CRS; ogrinfo for checking outputs
  libsqlite3-dev            # the GeoPackage store
  libpq-dev                 # the PostgreSQL store
  postgresql postgresql-15-postgis-3  # a throw-away PostGIS server for the tests
  libgeos-dev               # geometry
  libcli11-dev              # command-line parsing
  googletest libgtest-dev   # tests
  qt6-base-dev              # the desktop program
  xvfb xauth                # running the desktop program without a display
  fonts-dejavu-core         # text in the desktop program's windows
  qgis python3-qgis         # the QGIS Processing provider and its tests
  clang-14 libclang-rt-14-dev  # the fuzz targets (libFuzzer) and their sanitizers
)
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${packages[@]}"
