#pragma once
// Random landscapes for checking the catalogue against its definitions.
//
// cleanCoverage: a jittered grid whose neighbouring cells share their
// vertices exactly; runs of up to three cells of one class in a row form one
// patch, some cells are frames around a square hole that holds an island
// patch of another class (or stays a gap), and some cells are left empty
// (gaps). No two patches overlap: the edge index alone settles its
// boundaries.
//
// faultyLandscape: the random patches of the neighbourhood tests (overlaps,
// edges that meet part-way, gaps, multipolygons, holes with islands) plus
// slivers: thin polygons that overlap two neighbours or fill part of a gap.

#include <random>
#include <string>
#include <vector>

#include "CatalogueFixture.h"
#include "tests/support/RandomPatches.h"

namespace quilta::test {

inline std::vector<WktPatch> cleanCoverage(std::uint32_t seed, int columns, int rows, int classes) {
  using random_patches_detail::number;
  std::mt19937 rng(seed);
  auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); };
  auto whole = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  std::vector<std::vector<std::pair<double, double>>> vertex(static_cast<std::size_t>(columns + 1));
  for (int c = 0; c <= columns; ++c)
    for (int r = 0; r <= rows; ++r) {
      const bool inner = c > 0 && r > 0 && c < columns && r < rows;
      vertex[static_cast<std::size_t>(c)].push_back(
          {10.0 * c + (inner ? uniform(-2, 2) : 0), 10.0 * r + (inner ? uniform(-2, 2) : 0)});
    }
  auto at = [&](int c, int r) {
    const auto& p = vertex[static_cast<std::size_t>(c)][static_cast<std::size_t>(r)];
    return number(p.first) + " " + number(p.second);
  };
  std::vector<WktPatch> out;
  for (int r = 0; r < rows; ++r) {
    int c = 0;
    while (c < columns) {
      const int kind = whole(0, 9);
      if (kind == 0) {  // a gap
        ++c;
        continue;
      }
      const int cls = whole(0, classes - 1);
      if (kind == 1) {  // a frame around a hole, an island in it most of the time
        const double cx = 10.0 * c + 5, cy = 10.0 * r + 5;
        auto corner = [&](double dx, double dy) { return number(cx + dx) + " " + number(cy + dy); };
        const std::string hole = "(" + corner(-1, -1) + "," + corner(-1, 1) + "," + corner(1, 1) + "," +
                                 corner(1, -1) + "," + corner(-1, -1) + ")";
        out.push_back({"POLYGON((" + at(c, r) + "," + at(c + 1, r) + "," + at(c + 1, r + 1) + "," + at(c, r + 1) + "," +
                           at(c, r) + ")," + hole + ")",
                       cls});
        if (whole(0, 3) > 0) out.push_back({"POLYGON(" + hole + ")", (cls + 1) % classes});
        ++c;
        continue;
      }
      const int end = std::min(columns, c + whole(1, 3));  // cells c .. end-1
      std::string ring;
      for (int x = c; x <= end; ++x) ring += at(x, r) + ",";
      for (int x = end; x >= c; --x) ring += at(x, r + 1) + ",";
      ring += at(c, r);
      out.push_back({"POLYGON((" + ring + "))", cls});
      c = end;
    }
  }
  return out;
}

inline std::vector<WktPatch> faultyLandscape(std::uint32_t seed, int columns, int rows, int classes) {
  std::vector<WktPatch> out;
  for (const auto& p : randomPatches(seed, columns, rows, classes)) out.push_back({p.wkt, p.cls[0] - 'a'});
  std::mt19937 rng(seed + 1);
  auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); };
  for (int i = 0; i < columns; ++i) {
    const double x = uniform(0, 20.0 * columns - 5), y = 20.0 * std::uniform_int_distribution<int>(1, rows - 1)(rng);
    const double w = uniform(0.01, 0.3);
    using random_patches_detail::number;
    out.push_back({"POLYGON((" + number(x) + " " + number(y - w) + "," + number(x + 5) + " " + number(y - w) + "," +
                       number(x + 5) + " " + number(y + w) + "," + number(x) + " " + number(y + w) + "," + number(x) +
                       " " + number(y - w) + "))",
                   static_cast<int>(i % classes)});
  }
  return out;
}

}  // namespace quilta::test
