#include "bench/LandscapeGenerator.h"

#include <gdal_priv.h>
#include <geos_c.h>
#include <ogr_feature.h>
#include <ogr_geometry.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace quilta::bench {
namespace {

// Mean number of patches in one clump of the class field.
constexpr double kPatchesPerClump = 32.0;
// EPSG code of WGS 84 / UTM zone 25S, a metric CRS for the synthetic square.
constexpr int kEpsg = 32725;

struct Point {
  double x = 0.0;
  double y = 0.0;
  friend bool operator==(const Point&, const Point&) = default;
  friend bool operator<(const Point& a, const Point& b) { return a.x < b.x || (a.x == b.x && a.y < b.y); }
};

// ---- Random streams --------------------------------------------------------

// Independent streams for sites, clumps and per-patch draws, so that changing
// one parameter leaves the draws of the others alone.
enum class Stream : std::uint64_t { Sites = 1, Clumps = 2, Patches = 3 };

std::mt19937_64 streamFor(std::uint64_t seed, Stream stream) {
  // splitmix64 finaliser over the seed and the stream number.
  std::uint64_t z = seed + 0x9E3779B97F4A7C15ULL * (static_cast<std::uint64_t>(stream) + 1);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return std::mt19937_64(z ^ (z >> 31));
}

// Uniform in [0, 1), the same on every platform (unlike the std distributions).
double unit(std::mt19937_64& rng) { return static_cast<double>(rng() >> 11) * 0x1p-53; }

// Uniform integer in [1, count].
int pick(std::mt19937_64& rng, int count) { return 1 + std::min(count - 1, static_cast<int>(unit(rng) * count)); }

// ---- Class field -----------------------------------------------------------

// Smooth random field over the square in [-1, 1]: random values on an
// (n+1) x (n+1) lattice, blended with a smoothstep between nodes.
class ValueNoise {
 public:
  ValueNoise(int cells, double side, std::mt19937_64& rng)
      : n_(cells), perMetre_(cells / side), values_(static_cast<std::size_t>(cells + 1) * (cells + 1)) {
    for (double& v : values_) v = 2.0 * unit(rng) - 1.0;
  }

  double at(Point p) const {
    const auto [i, s] = locate(p.x);
    const auto [j, t] = locate(p.y);
    const std::size_t row = static_cast<std::size_t>(n_) + 1;
    const double* lo = &values_[j * row + i];
    const double* hi = lo + row;
    const double south = lo[0] + (lo[1] - lo[0]) * s;
    const double north = hi[0] + (hi[1] - hi[0]) * s;
    return south + (north - south) * t;
  }

 private:
  // Lattice column below `coord` and the smoothstep weight of the next one.
  std::pair<std::size_t, double> locate(double coord) const {
    const double f = std::clamp(coord * perMetre_, 0.0, static_cast<double>(n_));
    const int i = std::min(n_ - 1, static_cast<int>(f));
    const double t = f - i;
    return {static_cast<std::size_t>(i), t * t * (3.0 - 2.0 * t)};
  }

  int n_;
  double perMetre_;
  std::vector<double> values_;
};

// The clumps: one jittered centre per cell of a coarse lattice, each with a
// random class. A location belongs to the clump whose centre is nearest after
// the location is displaced by a smooth warp field, which turns the straight
// borders between clumps into irregular, wavy ones.
class ClumpField {
 public:
  explicit ClumpField(const LandscapeParams& params) : ClumpField(params, streamFor(params.seed, Stream::Clumps)) {}

  int classAt(Point p) const {
    const Point q{p.x + cell_ * (0.4 * warpX_.at(p) + 0.2 * rippleX_.at(p)),
                  p.y + cell_ * (0.4 * warpY_.at(p) + 0.2 * rippleY_.at(p))};
    const int ci = std::clamp(static_cast<int>(std::floor(q.x / cell_)), 0, n_ - 1);
    const int cj = std::clamp(static_cast<int>(std::floor(q.y / cell_)), 0, n_ - 1);
    // A centre lies somewhere in its lattice cell, so the nearest one is within
    // two cells of the one holding q.
    double best = std::numeric_limits<double>::infinity();
    int cls = 1;
    for (int j = std::max(0, cj - 2); j <= std::min(n_ - 1, cj + 2); ++j) {
      for (int i = std::max(0, ci - 2); i <= std::min(n_ - 1, ci + 2); ++i) {
        const std::size_t k = static_cast<std::size_t>(j) * n_ + i;
        const double dx = centres_[k].x - q.x;
        const double dy = centres_[k].y - q.y;
        const double d = dx * dx + dy * dy;
        if (d < best) {
          best = d;
          cls = classes_[k];
        }
      }
    }
    return cls;
  }

 private:
  ClumpField(const LandscapeParams& params, std::mt19937_64 rng)
      : n_(std::max(1,
                    static_cast<int>(std::lround(std::sqrt(static_cast<double>(params.patches) / kPatchesPerClump))))),
        cell_(params.side / n_),
        warpX_(n_, params.side, rng),
        warpY_(n_, params.side, rng),
        rippleX_(2 * n_, params.side, rng),
        rippleY_(2 * n_, params.side, rng) {
    const std::size_t count = static_cast<std::size_t>(n_) * n_;
    centres_.reserve(count);
    classes_.reserve(count);
    for (int j = 0; j < n_; ++j) {
      for (int i = 0; i < n_; ++i) {
        const double x = (i + unit(rng)) * cell_;
        const double y = (j + unit(rng)) * cell_;
        centres_.push_back({x, y});
        classes_.push_back(pick(rng, params.classes));
      }
    }
  }

  int n_;
  double cell_;
  ValueNoise warpX_, warpY_, rippleX_, rippleY_;
  std::vector<Point> centres_;
  std::vector<int> classes_;
};

// Class of each patch, in writing order: the clump's class with probability
// `clustering`, otherwise a uniform draw. Both draws are made for every patch,
// so two landscapes differing only in clustering agree wherever both chose at
// random.
class ClassAssigner {
 public:
  explicit ClassAssigner(const LandscapeParams& params)
      : clumps_(params),
        rng_(streamFor(params.seed, Stream::Patches)),
        classes_(params.classes),
        clustering_(params.clustering) {}

  int next(Point centroid) {
    const bool clumped = unit(rng_) < clustering_;
    const int random = pick(rng_, classes_);
    return clumped ? clumps_.classAt(centroid) : random;
  }

 private:
  ClumpField clumps_;
  std::mt19937_64 rng_;
  int classes_;
  double clustering_;
};

// ---- Shapefile output ------------------------------------------------------

[[noreturn]] void fail(const std::string& what) {
  const char* detail = CPLGetLastErrorMsg();
  throw std::runtime_error(detail != nullptr && *detail != '\0' ? what + ": " + detail : what);
}

// Routes GDAL's error reports away from stderr while a landscape is written;
// they reach the caller through the exception instead.
class QuietGdal {
 public:
  QuietGdal() {
    CPLPushErrorHandler(CPLQuietErrorHandler);
    CPLErrorReset();
  }
  ~QuietGdal() { CPLPopErrorHandler(); }
  QuietGdal(const QuietGdal&) = delete;
  QuietGdal& operator=(const QuietGdal&) = delete;
};

// Streams patches into a new polygon shapefile, one feature at a time.
class PatchWriter {
 public:
  PatchWriter(GDALDriver& driver, const std::filesystem::path& shp) {
    dataset_.reset(driver.Create(shp.string().c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    if (!dataset_) fail("cannot create " + shp.string());

    OGRSpatialReference srs;
    srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    if (srs.importFromEPSG(kEpsg) != OGRERR_NONE) fail("cannot set up EPSG:" + std::to_string(kEpsg));

    layer_ = dataset_->CreateLayer(shp.stem().string().c_str(), &srs, wkbPolygon, nullptr);
    if (layer_ == nullptr) fail("cannot create a polygon layer in " + shp.string());

    OGRFieldDefn classField("class", OFTInteger);
    classField.SetWidth(9);
    OGRFieldDefn coverField("cover", OFTString);
    coverField.SetWidth(20);
    if (layer_->CreateField(&classField) != OGRERR_NONE || layer_->CreateField(&coverField) != OGRERR_NONE) {
      fail("cannot create the attribute fields of " + shp.string());
    }

    feature_ = std::make_unique<OGRFeature>(layer_->GetLayerDefn());
    auto* polygon = new OGRPolygon;
    polygon->addRingDirectly(new OGRLinearRing);
    feature_->SetGeometryDirectly(polygon);
    ring_ = polygon->getExteriorRing();
  }

  // `xs`/`ys` hold a closed, clockwise ring.
  void write(const std::vector<double>& xs, const std::vector<double>& ys, int cls) {
    ring_->setPoints(static_cast<int>(xs.size()), xs.data(), ys.data());
    feature_->SetFID(OGRNullFID);
    feature_->SetField(0, cls);
    std::array<char, 24> cover{"class "};
    const auto end = std::to_chars(cover.data() + 6, cover.data() + cover.size() - 1, cls).ptr;
    *end = '\0';
    feature_->SetField(1, cover.data());
    if (layer_->CreateFeature(feature_.get()) != OGRERR_NONE) fail("cannot write a patch");
  }

  void close() {
    feature_.reset();
    layer_ = nullptr;
    if (!dataset_) return;
    CPLErrorReset();
    GDALClose(dataset_.release());
    if (CPLGetLastErrorType() >= CE_Failure) fail("cannot finish writing the landscape");
  }

 private:
  struct Closer {
    void operator()(GDALDataset* ds) const { GDALClose(ds); }
  };
  std::unique_ptr<GDALDataset, Closer> dataset_;
  OGRLayer* layer_ = nullptr;
  std::unique_ptr<OGRFeature> feature_;
  OGRLinearRing* ring_ = nullptr;
};

// ---- Polygon helpers -------------------------------------------------------

// Area centroid of a closed ring of at least three distinct vertices.
Point centroid(const std::vector<double>& xs, const std::vector<double>& ys) {
  double a2 = 0.0, cx = 0.0, cy = 0.0;
  const double ox = xs[0], oy = ys[0];  // relative to a vertex, for accuracy
  for (std::size_t i = 1; i + 1 < xs.size(); ++i) {
    const double x0 = xs[i] - ox, y0 = ys[i] - oy;
    const double x1 = xs[i + 1] - ox, y1 = ys[i + 1] - oy;
    const double cross = x0 * y1 - x1 * y0;
    a2 += cross;
    cx += (x0 + x1) * cross;
    cy += (y0 + y1) * cross;
  }
  return {ox + cx / (3.0 * a2), oy + cy / (3.0 * a2)};
}

// Reverses a closed ring in place when it runs anticlockwise: shapefile outer
// rings run clockwise.
void makeClockwise(std::vector<double>& xs, std::vector<double>& ys) {
  double a2 = 0.0;
  for (std::size_t i = 1; i + 1 < xs.size(); ++i) {
    a2 += (xs[i] - xs[0]) * (ys[i + 1] - ys[0]) - (xs[i + 1] - xs[0]) * (ys[i] - ys[0]);
  }
  if (a2 > 0.0) {
    std::reverse(xs.begin(), xs.end());
    std::reverse(ys.begin(), ys.end());
  }
}

// Keeps the part of a convex ring (open: the first vertex is not repeated) on
// the inner side of one edge of the square. `axis` 0 clips on x, 1 on y; the
// kept side is coordinate >= bound, or <= bound when `below`.
//
// A crossing point is computed from the segment's endpoints taken in a fixed
// order, so the two cells sharing a Voronoi edge get bit-identical crossings.
void clipEdge(const std::vector<Point>& in, std::vector<Point>& out, int axis, double bound, bool below) {
  out.clear();
  if (in.empty()) return;
  const auto along = [axis](const Point& p) { return axis == 0 ? p.x : p.y; };
  const auto inside = [&](const Point& p) { return below ? along(p) <= bound : along(p) >= bound; };
  const auto crossing = [&](Point a, Point b) {
    if (b < a) std::swap(a, b);
    const double t = (bound - along(a)) / (along(b) - along(a));
    if (axis == 0) return Point{bound, a.y + (b.y - a.y) * t};
    return Point{a.x + (b.x - a.x) * t, bound};
  };
  const Point* prev = &in.back();
  bool prevInside = inside(*prev);
  for (const Point& cur : in) {
    const bool curInside = inside(cur);
    if (curInside != prevInside) out.push_back(crossing(*prev, cur));
    if (curInside) out.push_back(cur);
    prev = &cur;
    prevInside = curInside;
  }
}

// ---- The two kinds of mosaic -----------------------------------------------

// One site per patch, scattered uniformly over the square, no two alike.
std::vector<Point> scatterSites(const LandscapeParams& params) {
  std::mt19937_64 rng = streamFor(params.seed, Stream::Sites);
  const auto draw = [&] {
    const double x = params.side * unit(rng);
    return Point{x, params.side * unit(rng)};
  };
  std::vector<Point> sites(static_cast<std::size_t>(params.patches));
  for (Point& p : sites) p = draw();

  // Coincident sites would share one cell. They practically never occur, so
  // the cheap check comes first and the redraw only when it finds some.
  std::vector<Point> sorted = sites;
  std::sort(sorted.begin(), sorted.end());
  if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) {
    std::set<Point> seen;
    for (Point& p : sites) {
      while (!seen.insert(p).second) p = draw();
    }
  }
  return sites;
}

class Geos {
 public:
  Geos() : handle_(GEOS_init_r()) {
    if (handle_ == nullptr) throw std::runtime_error("cannot start GEOS");
    GEOSContext_setErrorMessageHandler_r(handle_, &Geos::record, &message_);
  }
  ~Geos() { finishGEOS_r(handle_); }
  Geos(const Geos&) = delete;
  Geos& operator=(const Geos&) = delete;

  GEOSContextHandle_t handle() const { return handle_; }

  [[noreturn]] void fail(const std::string& what) const {
    throw std::runtime_error(message_.empty() ? what : what + ": " + message_);
  }

  struct Deleter {
    GEOSContextHandle_t handle;
    void operator()(GEOSGeometry* g) const { GEOSGeom_destroy_r(handle, g); }
  };
  using Geometry = std::unique_ptr<GEOSGeometry, Deleter>;
  Geometry own(GEOSGeometry* g) const { return Geometry(g, Deleter{handle_}); }

 private:
  static void record(const char* message, void* userdata) { *static_cast<std::string*>(userdata) = message; }

  GEOSContextHandle_t handle_;
  std::string message_;
};

void writeVoronoi(const LandscapeParams& params, PatchWriter& writer) {
  const Geos geos;
  const GEOSContextHandle_t h = geos.handle();

  Geos::Geometry diagram = geos.own(nullptr);
  {
    const std::vector<Point> sites = scatterSites(params);
    std::vector<GEOSGeometry*> points;
    points.reserve(sites.size());
    for (const Point& p : sites) points.push_back(GEOSGeom_createPointFromXY_r(h, p.x, p.y));
    if (std::find(points.begin(), points.end(), nullptr) != points.end()) {
      for (GEOSGeometry* g : points) GEOSGeom_destroy_r(h, g);  // null is ignored
      geos.fail("cannot create the Voronoi sites");
    }
    const Geos::Geometry multipoint =
        geos.own(GEOSGeom_createCollection_r(h, GEOS_MULTIPOINT, points.data(), static_cast<unsigned>(points.size())));
    if (!multipoint) geos.fail("cannot create the Voronoi sites");
    const Geos::Geometry square = geos.own(GEOSGeom_createRectangle_r(h, 0.0, 0.0, params.side, params.side));
    if (!square) geos.fail("cannot create the landscape square");
    diagram = geos.own(GEOSVoronoiDiagram_r(h, multipoint.get(), square.get(), 0.0, 0));
    if (!diagram) geos.fail("cannot build the Voronoi diagram");
  }
  const int cells = GEOSGetNumGeometries_r(h, diagram.get());
  if (cells != params.patches) {
    throw std::runtime_error("the Voronoi diagram has " + std::to_string(cells) + " cells for " +
                             std::to_string(params.patches) + " sites");
  }

  ClassAssigner assign(params);
  std::vector<double> buffer;
  std::vector<Point> ring, clipped;
  std::vector<double> xs, ys;
  for (int c = 0; c < cells; ++c) {
    const GEOSGeometry* cell = GEOSGetGeometryN_r(h, diagram.get(), c);
    const GEOSGeometry* shell = cell != nullptr ? GEOSGetExteriorRing_r(h, cell) : nullptr;
    const GEOSCoordSequence* seq = shell != nullptr ? GEOSGeom_getCoordSeq_r(h, shell) : nullptr;
    unsigned size = 0;
    if (seq == nullptr || GEOSCoordSeq_getSize_r(h, seq, &size) == 0 || size < 4) geos.fail("unreadable Voronoi cell");
    buffer.resize(2 * static_cast<std::size_t>(size));
    if (GEOSCoordSeq_copyToBuffer_r(h, seq, buffer.data(), 0, 0) == 0) geos.fail("unreadable Voronoi cell");

    // Open ring; clip only cells reaching outside the square.
    ring.clear();
    bool outside = false;
    for (unsigned i = 0; i + 1 < size; ++i) {
      const Point p{buffer[2 * i], buffer[2 * i + 1]};
      outside = outside || p.x < 0.0 || p.y < 0.0 || p.x > params.side || p.y > params.side;
      ring.push_back(p);
    }
    if (outside) {
      clipEdge(ring, clipped, 0, 0.0, false);
      clipEdge(clipped, ring, 0, params.side, true);
      clipEdge(ring, clipped, 1, 0.0, false);
      clipEdge(clipped, ring, 1, params.side, true);
    }

    xs.clear();
    ys.clear();
    for (const Point& p : ring) {
      if (!xs.empty() && p.x == xs.back() && p.y == ys.back()) continue;
      xs.push_back(p.x);
      ys.push_back(p.y);
    }
    while (xs.size() > 1 && xs.back() == xs.front() && ys.back() == ys.front()) {
      xs.pop_back();
      ys.pop_back();
    }
    if (xs.size() < 3) throw std::runtime_error("a Voronoi cell vanished when clipped to the square");
    xs.push_back(xs.front());
    ys.push_back(ys.front());
    makeClockwise(xs, ys);
    writer.write(xs, ys, assign.next(centroid(xs, ys)));
  }
}

void writeGrid(const LandscapeParams& params, PatchWriter& writer) {
  // rows x cols == patches with rows the largest divisor not above the root.
  std::int64_t rows =
      std::max<std::int64_t>(1, static_cast<std::int64_t>(std::sqrt(static_cast<double>(params.patches))));
  while ((rows + 1) * (rows + 1) <= params.patches) ++rows;
  while (rows * rows > params.patches) --rows;
  while (params.patches % rows != 0) --rows;
  const std::int64_t cols = params.patches / rows;

  // Every cell computes a shared grid line the same way, so neighbours agree.
  const auto line = [&](std::int64_t k, std::int64_t count) {
    return k == count ? params.side : params.side * static_cast<double>(k) / static_cast<double>(count);
  };
  ClassAssigner assign(params);
  std::vector<double> xs(5), ys(5);
  for (std::int64_t r = 0; r < rows; ++r) {  // north to south, like raster rows
    const double top = line(rows - r, rows);
    const double bottom = line(rows - r - 1, rows);
    for (std::int64_t c = 0; c < cols; ++c) {
      const double left = line(c, cols);
      const double right = line(c + 1, cols);
      xs = {left, left, right, right, left};  // clockwise
      ys = {bottom, top, top, bottom, bottom};
      writer.write(xs, ys, assign.next({0.5 * (left + right), 0.5 * (bottom + top)}));
    }
  }
}

void check(const LandscapeParams& params) {
  if (params.patches < 1 || params.patches > std::numeric_limits<int>::max()) {
    throw std::runtime_error("the number of patches must be between 1 and " +
                             std::to_string(std::numeric_limits<int>::max()));
  }
  if (params.classes < 1 || params.classes > 999'999'999) {
    throw std::runtime_error("the number of classes must be between 1 and 999999999");
  }
  if (!std::isfinite(params.side) || params.side <= 0.0) throw std::runtime_error("the side must be a positive length");
  if (!(params.clustering >= 0.0 && params.clustering <= 1.0)) {
    throw std::runtime_error("the clustering must be between 0 and 1");
  }
}

}  // namespace

void writeLandscape(const std::filesystem::path& shp, const LandscapeParams& params) {
  check(params);
  std::string extension = shp.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
  if (extension != ".shp") throw std::runtime_error("the landscape file must end in .shp: " + shp.string());

  static std::once_flag registered;
  std::call_once(registered, [] { GDALAllRegister(); });
  const QuietGdal quiet;
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("ESRI Shapefile");
  if (driver == nullptr) fail("the ESRI Shapefile driver is not available");

  std::error_code ec;
  if (std::filesystem::exists(shp, ec) && driver->Delete(shp.string().c_str()) != CE_None) {
    fail("cannot replace " + shp.string());
  }
  try {
    PatchWriter writer(*driver, shp);
    if (params.kind == LandscapeParams::Kind::Grid) {
      writeGrid(params, writer);
    } else {
      writeVoronoi(params, writer);
    }
    writer.close();
  } catch (...) {
    // Leave no half-written landscape behind.
    if (std::filesystem::exists(shp, ec)) driver->Delete(shp.string().c_str());
    throw;
  }
}

}  // namespace quilta::bench
