// Accuracy of core areas on a real layer: for every patch, the exact offset
// (host/Offset.h) and the polygonal buffer of 16 segments per quarter circle
// against a high-resolution reference, the geometry engine's buffer at 512
// and 1024 segments per quarter circle extrapolated to infinitely many (its
// chords' error falls with the square of the segment count). The reference
// holds where the engine does not simplify the patch, i.e. where no vertex is
// closer than 1 % of the distance to the line through its neighbours: true
// of raster staircases for distances below 70 cells.
//
// usage: quilta-core-accuracy LAYER.shp DISTANCE

#include <gdal_priv.h>
#include <geos_c.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "host/Geometry.h"
#include "host/Offset.h"

namespace {

struct Engine {
  GEOSContextHandle_t ctx = GEOS_init_r();
  ~Engine() { GEOS_finish_r(ctx); }
  // Area and outer boundaries of the engine's buffer at `quadrants` segments;
  // fragments below `smallest` (the engine leaves some of 1e-9 m²) are none.
  std::pair<double, int> buffer(const std::string& wkt, double distance, int quadrants, double smallest) const {
    GEOSWKTReader* reader = GEOSWKTReader_create_r(ctx);
    GEOSGeometry* g = GEOSWKTReader_read_r(ctx, reader, wkt.c_str());
    GEOSWKTReader_destroy_r(ctx, reader);
    GEOSGeometry* b = GEOSBuffer_r(ctx, g, -distance, quadrants);
    double area = 0;
    GEOSArea_r(ctx, b, &area);
    int parts = 0;
    for (int i = 0; !GEOSisEmpty_r(ctx, b) && i < GEOSGetNumGeometries_r(ctx, b); ++i) {
      double a = 0;
      GEOSArea_r(ctx, GEOSGetGeometryN_r(ctx, b, i), &a);
      parts += a >= smallest;
    }
    GEOSGeom_destroy_r(ctx, b);
    GEOSGeom_destroy_r(ctx, g);
    return {area, parts};
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s LAYER.shp DISTANCE\n", argv[0]);
    return 2;
  }
  const double distance = std::atof(argv[2]);
  GDALAllRegister();
  std::unique_ptr<GDALDataset> ds(
      static_cast<GDALDataset*>(GDALOpenEx(argv[1], GDAL_OF_VECTOR, nullptr, nullptr, nullptr)));
  if (!ds) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  Engine engine;
  long patches = 0, withCore = 0, oldPieceDiffers = 0, newPieceDiffers = 0;
  double oldWorst = 0, newWorst = 0, oldSum = 0, newSum = 0, refSum = 0;
  for (auto& feature : ds->GetLayer(0)) {
    char* text = nullptr;
    feature->GetGeometryRef()->exportToWkt(&text);
    const std::string wkt = text;
    CPLFree(text);
    const quilta::Polygon patch = quilta::Polygon::fromWkt(wkt);
    ++patches;
    const double floor = 1e-9 * patch.area();
    const auto [fine, finePieces] = engine.buffer(wkt, distance, 1024, floor);
    const auto [coarse, coarsePieces] = engine.buffer(wkt, distance, 512, floor);
    const double reference = fine - (coarse - fine) / 3;
    const quilta::Offset exact = quilta::inwardOffset(patch, distance);
    const quilta::Polygon old = patch.buffer(-distance);
    if (reference > floor) {
      ++withCore;
      oldWorst = std::max(oldWorst, std::abs(old.area() - reference) / reference);
      newWorst = std::max(newWorst, std::abs(exact.area - reference) / reference);
    }
    oldSum += old.area(), newSum += exact.area, refSum += reference;
    // Pieces: where the two high-resolution buffers agree on the count.
    if (finePieces == coarsePieces) {
      int oldPieces = 0;
      for (const quilta::Polygon& part : old.exteriorParts()) oldPieces += part.area() >= floor;
      oldPieceDiffers += oldPieces != finePieces;
      newPieceDiffers += static_cast<int>(exact.pieces.size()) != finePieces;
    }
  }
  std::printf("%ld patches, %ld with a core at distance %g\n", patches, withCore, distance);
  std::printf("16-segment buffer: worst relative area error %.3g, total %.6g relative, piece count differs on %ld\n",
              oldWorst, (oldSum - refSum) / refSum, oldPieceDiffers);
  std::printf("exact offset:      worst relative area error %.3g, total %.6g relative, piece count differs on %ld\n",
              newWorst, (newSum - refSum) / refSum, newPieceDiffers);
  return 0;
}
