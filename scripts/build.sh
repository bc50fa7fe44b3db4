#!/usr/bin/env bash
# Installs the build dependencies (Debian packages) when they are missing and
# builds Quilta into build/.
set -euo pipefail
cd "$(dirname "$0")/.."
need_install=0
for header in /usr/include/gdal/gdal.h /usr/include/geos_c.h /usr/include/CLI/CLI.hpp /usr/include/gtest/gtest.h \
              /usr/include/x86_64-linux-gnu/qt6/QtWidgets/QApplication /usr/include/sqlite3.h \
              /usr/include/postgresql/libpq-fe.h; do
  [ -e "$header" ] || need_install=1
done
command -v cmake >/dev/null || need_install=1
command -v ogrinfo >/dev/null || need_install=1
[ "$need_install" -eq 0 ] || ./scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILTA_WERROR=ON >/dev/null
cmake --build build -j"$(nproc)"
