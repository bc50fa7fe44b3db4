#!/usr/bin/env bash
# Makes a polygonised raster layer: a classified raster of smoothed random
# noise (five classes, square cells) turned into one polygon per connected
# patch of cells with gdal_polygonize.py. Every patch is a staircase of cell
# edges: many reflex corners, corridors one or two cells wide, cells touching
# at a corner only.
#
# usage: bench/make_raster_layer.sh OUT.shp [CELLS] [CELL_SIZE] [SEED]
#   CELLS      cells along each side (default 500)
#   CELL_SIZE  cell side in metres (default 30)
#   SEED       random seed (default 1)
# Needs GDAL's Python utilities and numpy (Debian: gdal-bin, python3-gdal,
# python3-numpy).
set -euo pipefail

out=${1:?usage: $0 OUT.shp [CELLS] [CELL_SIZE] [SEED]}
cells=${2:-500}
size=${3:-30}
seed=${4:-1}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

/usr/bin/python3 - "$work/classes.tif" "$cells" "$size" "$seed" <<'PY'
import sys
import numpy as np
from osgeo import gdal, osr

path, cells, size, seed = sys.argv[1], int(sys.argv[2]), float(sys.argv[3]), int(sys.argv[4])
rng = np.random.default_rng(seed)
noise = rng.standard_normal((cells, cells))
# Smooth with a Gaussian of a few cells (in the frequency domain), so that the
# classes form patches of many cells rather than salt and pepper.
fy = np.fft.fftfreq(cells)[:, None]
fx = np.fft.fftfreq(cells)[None, :]
sigma = 3.0
field = np.real(np.fft.ifft2(np.fft.fft2(noise) * np.exp(-2 * (np.pi * sigma) ** 2 * (fx ** 2 + fy ** 2))))
edges = np.quantile(field, [0.2, 0.4, 0.6, 0.8])
classes = (np.digitize(field, edges) + 1).astype(np.uint8)

ds = gdal.GetDriverByName("GTiff").Create(path, cells, cells, 1, gdal.GDT_Byte)
x0, y0 = 500000.0, 9000000.0
ds.SetGeoTransform((x0, size, 0.0, y0 + cells * size, 0.0, -size))
srs = osr.SpatialReference()
srs.ImportFromEPSG(32725)  # UTM zone 25S, metres
ds.SetProjection(srs.ExportToWkt())
ds.GetRasterBand(1).WriteArray(classes)
ds = None
PY

rm -f "${out%.shp}".{shp,shx,dbf,prj,cpg}
gdal_polygonize.py -q "$work/classes.tif" -of "ESRI Shapefile" "$out" land class
echo "$out: $(ogrinfo -so -al "$out" | sed -n 's/^Feature Count: //p') patches of ${size} m cells"
