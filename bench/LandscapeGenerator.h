#pragma once
// Synthetic landscapes for tests and benchmarks: a seamless mosaic of polygon
// patches covering a square, each patch carrying a land-cover class. Patches of
// a class can be made to clump, so that adjacency-based measures (edge length,
// aggregation, core area) see something like a real landscape rather than
// salt-and-pepper noise.
//
// The output is fully determined by the parameters: the same parameters give
// the same files, byte for byte apart from the last-update date that every
// dBASE header carries.

#include <cstdint>
#include <filesystem>

namespace quilta::bench {

struct LandscapeParams {
  std::int64_t patches = 1000;  // number of polygons
  int classes = 10;             // class values 1..classes
  double side = 10000.0;        // the landscape is the square [0,side]x[0,side], metres
  std::uint64_t seed = 1;
  double clustering = 0.8;  // 0: classes assigned at random; towards 1: patches of a class form larger clumps
  enum class Kind { Voronoi, Grid } kind = Kind::Voronoi;
};

// Writes a polygon shapefile (.shp/.shx/.dbf/.prj, UTM zone 25S so units are
// metres) with one feature per patch and the fields
//   "class"  integer, width 9: 1..classes
//   "cover"  text, width 20:   "class 1".."class N"
// An existing shapefile at `shp` is replaced.
//
// Voronoi: the Voronoi cells of `patches` uniformly scattered sites, clipped to
// the square. Grid: `patches` equal rectangles in rows x columns, with the
// column count the divisor of `patches` nearest its square root from above (so
// a prime count gives one row of strips).
// Either way the patches tile the square without gaps or overlaps, and
// neighbouring patches share their common edge vertex for vertex.
//
// Classes: the square is divided into clumps of about 32 patches each (warped,
// irregular regions around jittered clump centres), each clump with a random
// class. Each patch takes its clump's class with probability `clustering` and a
// uniformly random class otherwise. Sites, clumps and per-patch draws come from
// separate random streams, so changing only `clustering` or `classes` keeps the
// geometry identical.
//
// Throws std::runtime_error for invalid parameters or when the file cannot be
// written (carrying GDAL's or GEOS's message).
void writeLandscape(const std::filesystem::path& shp, const LandscapeParams& params);

}  // namespace quilta::bench
