#pragma once
// Random landscapes of small polygons, for checking the neighbourhood queries
// and operations against their pairwise definitions. The landscape is a grid
// of 20 x 20 cells; each cell holds a patch of a random kind, so that the
// awkward situations all occur, many times over:
//   - whole cells, which share edges with whole neighbours and only a corner
//     with whole diagonal neighbours;
//   - rectangles inset by whole units, so that many distances are equal
//     (ties) and many are whole numbers (a buffer of a whole number lies
//     exactly on them);
//   - star-shaped polygons with arbitrary coordinates;
//   - frames with a hole, some with an island patch in the hole (apart from
//     the frame, or touching it along the hole's edges);
//   - multipolygons of two squares;
//   - quarter squares that meet a diagonal neighbour's quarter at one corner;
//   - wide rectangles that overlap the next cell's patch;
//   - concave L shapes.
// Every polygon is valid. Classes are "a", "b", ... and clump: a cell takes
// its left neighbour's class half of the time, the class of the cell below
// it a fifth of the time.

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace quilta::test {

struct RandomPatch {
  std::string wkt;
  std::string cls;
};

namespace random_patches_detail {

inline std::string number(double v) {
  std::ostringstream s;
  s.precision(17);
  s << v;
  return s.str();
}

inline std::string ring(const std::vector<std::pair<double, double>>& points) {
  std::string out = "(";
  for (std::size_t i = 0; i <= points.size(); ++i) {
    const auto& p = points[i % points.size()];
    out += (i ? "," : "") + number(p.first) + " " + number(p.second);
  }
  return out + ")";
}

inline std::vector<std::pair<double, double>> box(double x0, double y0, double x1, double y1) {
  return {{x0, y0}, {x0, y1}, {x1, y1}, {x1, y0}};
}

}  // namespace random_patches_detail

inline std::vector<RandomPatch> randomPatches(std::uint32_t seed, int columns, int rows, int classes) {
  using namespace random_patches_detail;
  std::mt19937 rng(seed);
  auto uniform = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); };
  auto whole = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  auto pickClass = [&] { return std::string(1, static_cast<char>('a' + whole(0, classes - 1))); };

  std::vector<RandomPatch> out;
  std::vector<std::string> below(static_cast<std::size_t>(columns));
  for (int r = 0; r < rows; ++r) {
    std::string left;
    for (int c = 0; c < columns; ++c) {
      const int draw = whole(0, 9);
      const std::string cls = draw < 5 && !left.empty() ? left
                              : draw < 7 && r > 0       ? below[static_cast<std::size_t>(c)]
                                                        : pickClass();
      left = cls;
      below[static_cast<std::size_t>(c)] = cls;
      const double x0 = 20.0 * c, y0 = 20.0 * r;
      const int kind = whole(0, 99);
      std::string wkt;
      if (kind < 25) {  // whole cell
        wkt = "POLYGON(" + ring(box(x0, y0, x0 + 20, y0 + 20)) + ")";
      } else if (kind < 40) {  // inset by whole units
        wkt = "POLYGON(" + ring(box(x0 + whole(0, 4), y0 + whole(0, 4), x0 + 20 - whole(0, 4), y0 + 20 - whole(0, 4))) +
              ")";
      } else if (kind < 55) {  // star-shaped, arbitrary coordinates
        const int n = whole(5, 11);
        const double cx = x0 + 10 + uniform(-1.5, 1.5), cy = y0 + 10 + uniform(-1.5, 1.5);
        std::vector<std::pair<double, double>> pts;
        const double step = 2 * std::numbers::pi / n;
        for (int i = 0; i < n; ++i) {
          const double angle = step * (i + uniform(0.05, 0.95));
          const double radius = uniform(2.0, 9.5);
          pts.emplace_back(cx + radius * std::cos(angle), cy + radius * std::sin(angle));
        }
        wkt = "POLYGON(" + ring(pts) + ")";
      } else if (kind < 65) {  // frame with a hole, maybe an island in it
        const int outer = whole(0, 2);
        wkt = "POLYGON(" + ring(box(x0 + outer, y0 + outer, x0 + 20 - outer, y0 + 20 - outer)) + "," +
              ring(box(x0 + 6, y0 + 6, x0 + 14, y0 + 14)) + ")";
        const int island = whole(0, 2);
        if (island == 1)
          out.push_back({"POLYGON(" + ring(box(x0 + 8, y0 + 8, x0 + 12, y0 + 12)) + ")", pickClass()});
        else if (island == 2)
          out.push_back({"POLYGON(" + ring(box(x0 + 6, y0 + 6, x0 + 10, y0 + 10)) + ")", pickClass()});
      } else if (kind < 73) {  // two squares in opposite corners
        wkt = "MULTIPOLYGON((" + ring(box(x0, y0, x0 + 8, y0 + 8)) + "),(" +
              ring(box(x0 + 12, y0 + 12, x0 + 20, y0 + 20)) + "))";
      } else if (kind < 81) {  // upper right quarter
        wkt = "POLYGON(" + ring(box(x0 + 10, y0 + 10, x0 + 20, y0 + 20)) + ")";
      } else if (kind < 89) {  // lower left quarter
        wkt = "POLYGON(" + ring(box(x0, y0, x0 + 10, y0 + 10)) + ")";
      } else if (kind < 95) {  // reaches into the next cell
        wkt = "POLYGON(" + ring(box(x0 + 4, y0 + 5, x0 + 24, y0 + 15)) + ")";
      } else {  // concave L
        wkt = "POLYGON(" +
              ring({{x0 + 2, y0 + 2},
                    {x0 + 2, y0 + 18},
                    {x0 + 8, y0 + 18},
                    {x0 + 8, y0 + 8},
                    {x0 + 18, y0 + 8},
                    {x0 + 18, y0 + 2}}) +
              ")";
      }
      out.push_back({wkt, cls});
    }
  }
  return out;
}

}  // namespace quilta::test
