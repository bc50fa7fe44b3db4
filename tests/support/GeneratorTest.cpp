// The synthetic landscape generator: patch counts, a seamless tiling of the
// square, the attribute schema, reproducibility and the effect of clustering.

#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <ogr_feature.h>
#include <ogr_geometry.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "bench/LandscapeGenerator.h"

namespace {

namespace fs = std::filesystem;
using quilta::bench::LandscapeParams;
using quilta::bench::writeLandscape;
using Kind = LandscapeParams::Kind;

// A fresh directory under the system's temporary directory, removed with
// everything in it when the test ends.
class TempDir {
 public:
  TempDir() {
    std::random_device entropy;
    for (;;) {
      path_ = fs::temp_directory_path() / ("quilta-generator-" + std::to_string(entropy()) + std::to_string(entropy()));
      if (fs::create_directory(path_)) break;
    }
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  fs::path operator/(const std::string& name) const { return path_ / name; }

 private:
  fs::path path_;
};

struct Patch {
  int cls = 0;
  std::string cover;
  std::unique_ptr<OGRPolygon> polygon;
};

struct Landscape {
  std::vector<Patch> patches;
  OGRFieldType classType = OFTString;
  int classWidth = 0;
  OGRFieldType coverType = OFTInteger;
  int coverWidth = 0;
  std::unique_ptr<OGRSpatialReference> srs;
};

Landscape readLandscape(const fs::path& shp) {
  GDALAllRegister();
  std::unique_ptr<GDALDataset> ds(
      GDALDataset::Open(shp.string().c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
  if (!ds) throw std::runtime_error("cannot open " + shp.string());
  OGRLayer* layer = ds->GetLayer(0);
  if (layer == nullptr || layer->GetGeomType() != wkbPolygon) throw std::runtime_error("no polygon layer");
  Landscape out;
  const OGRFeatureDefn* defn = layer->GetLayerDefn();
  const int classIndex = defn->GetFieldIndex("class");
  const int coverIndex = defn->GetFieldIndex("cover");
  if (classIndex < 0 || coverIndex < 0) throw std::runtime_error("missing fields");
  out.classType = defn->GetFieldDefn(classIndex)->GetType();
  out.classWidth = defn->GetFieldDefn(classIndex)->GetWidth();
  out.coverType = defn->GetFieldDefn(coverIndex)->GetType();
  out.coverWidth = defn->GetFieldDefn(coverIndex)->GetWidth();
  if (const OGRSpatialReference* srs = layer->GetSpatialRef()) out.srs.reset(srs->Clone());

  for (auto& feature : *layer) {
    Patch patch;
    patch.cls = feature->GetFieldAsInteger(classIndex);
    patch.cover = feature->GetFieldAsString(coverIndex);
    OGRGeometry* geometry = feature->StealGeometry();
    if (geometry == nullptr || wkbFlatten(geometry->getGeometryType()) != wkbPolygon) {
      delete geometry;
      throw std::runtime_error("a patch is not a polygon");
    }
    patch.polygon.reset(geometry->toPolygon());
    out.patches.push_back(std::move(patch));
  }
  return out;
}

LandscapeParams makeParams(Kind kind, std::int64_t patches, std::uint64_t seed = 7, int classes = 5,
                         double clustering = 0.8) {
  LandscapeParams params;
  params.kind = kind;
  params.patches = patches;
  params.seed = seed;
  params.classes = classes;
  params.clustering = clustering;
  params.side = 1000.0;
  return params;
}

std::string fileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A .dbf with its header's last-update date (bytes 1..3) blanked out.
std::string dbfBytesWithoutDate(const fs::path& path) {
  std::string bytes = fileBytes(path);
  if (bytes.size() > 4) bytes.replace(1, 3, 3, '\0');
  return bytes;
}

double totalLength(const OGRGeometry& g) {
  const auto type = wkbFlatten(g.getGeometryType());
  if (type == wkbLineString || type == wkbLinearRing) return g.toLineString()->get_Length();
  if (OGR_GT_IsSubClassOf(type, wkbGeometryCollection)) {
    double sum = 0.0;
    for (const OGRGeometry* part : *g.toGeometryCollection()) sum += totalLength(*part);
    return sum;
  }
  return 0.0;  // points: corners where patches only touch
}

double totalArea(const OGRGeometry& g) {
  const auto type = wkbFlatten(g.getGeometryType());
  if (type == wkbPolygon) return g.toPolygon()->get_Area();
  if (OGR_GT_IsSubClassOf(type, wkbGeometryCollection)) {
    double sum = 0.0;
    for (const OGRGeometry* part : *g.toGeometryCollection()) sum += totalArea(*part);
    return sum;
  }
  return 0.0;  // the shared edges and corners of neighbours
}

bool envelopesMeet(const OGRPolygon& a, const OGRPolygon& b) {
  OGREnvelope ea, eb;
  a.getEnvelope(&ea);
  b.getEnvelope(&eb);
  return ea.Intersects(eb);
}

// Pairs of patches sharing a stretch of boundary, by brute force.
std::vector<std::pair<std::size_t, std::size_t>> neighbourPairs(const Landscape& land) {
  std::vector<std::pair<std::size_t, std::size_t>> pairs;
  for (std::size_t i = 0; i < land.patches.size(); ++i) {
    for (std::size_t j = i + 1; j < land.patches.size(); ++j) {
      const OGRPolygon& a = *land.patches[i].polygon;
      const OGRPolygon& b = *land.patches[j].polygon;
      if (!envelopesMeet(a, b)) continue;
      std::unique_ptr<OGRGeometry> shared(a.Intersection(&b));
      if (shared && totalLength(*shared) > 1e-9) pairs.emplace_back(i, j);
    }
  }
  return pairs;
}

int sameClassPairs(const Landscape& land) {
  int same = 0;
  for (const auto& [i, j] : neighbourPairs(land)) same += land.patches[i].cls == land.patches[j].cls ? 1 : 0;
  return same;
}

double totalArea(const Landscape& land) {
  double sum = 0.0;
  for (const Patch& p : land.patches) sum += p.polygon->get_Area();
  return sum;
}

class GeneratorTest : public ::testing::Test {
 protected:
  Landscape generate(const LandscapeParams& params, const std::string& name = "land.shp") {
    const fs::path shp = dir_ / name;
    writeLandscape(shp, params);
    return readLandscape(shp);
  }

  TempDir dir_;
};

TEST_F(GeneratorTest, GridHasTheRequestedNumberOfEqualRectangles) {
  const Landscape land = generate(makeParams(Kind::Grid, 12));
  ASSERT_EQ(land.patches.size(), 12u);
  std::set<std::pair<double, double>> sizes;
  for (const Patch& p : land.patches) {
    OGREnvelope e;
    p.polygon->getEnvelope(&e);
    EXPECT_NEAR(p.polygon->get_Area(), (e.MaxX - e.MinX) * (e.MaxY - e.MinY), 1e-6);  // a rectangle
    EXPECT_NEAR(p.polygon->get_Area(), 1000.0 * 1000.0 / 12.0, 1e-6);
    sizes.emplace(std::round(e.MaxX - e.MinX), std::round(e.MaxY - e.MinY));
  }
  // 12 = 3 rows x 4 columns, the most nearly square split.
  EXPECT_EQ(sizes, (std::set<std::pair<double, double>>{{250.0, 333.0}}));
}

TEST_F(GeneratorTest, GridCountIsExactEvenWhenPrime) {
  EXPECT_EQ(generate(makeParams(Kind::Grid, 7), "seven.shp").patches.size(), 7u);
  EXPECT_EQ(generate(makeParams(Kind::Grid, 1), "one.shp").patches.size(), 1u);
  EXPECT_EQ(generate(makeParams(Kind::Grid, 1000), "thousand.shp").patches.size(), 1000u);
}

TEST_F(GeneratorTest, VoronoiHasTheRequestedNumberOfCells) {
  for (const std::int64_t n : {1, 2, 3, 10, 999, 2500}) {
    const Landscape land = generate(makeParams(Kind::Voronoi, n), "v" + std::to_string(n) + ".shp");
    EXPECT_EQ(land.patches.size(), static_cast<std::size_t>(n)) << n << " patches";
  }
}

TEST_F(GeneratorTest, CellsTileTheSquare) {
  for (const Kind kind : {Kind::Voronoi, Kind::Grid}) {
    for (const std::int64_t n : {1, 3, 137, 2000}) {
      const Landscape land = generate(makeParams(kind, n));
      const double side2 = 1000.0 * 1000.0;
      EXPECT_NEAR(totalArea(land), side2, 1e-6 * side2) << n << " patches";
      for (const Patch& p : land.patches) {
        OGREnvelope e;
        p.polygon->getEnvelope(&e);
        ASSERT_TRUE(e.MinX >= 0.0 && e.MinY >= 0.0 && e.MaxX <= 1000.0 && e.MaxY <= 1000.0);
        EXPECT_GT(p.polygon->get_Area(), 0.0);
        EXPECT_EQ(p.polygon->getNumInteriorRings(), 0);
        EXPECT_TRUE(p.polygon->IsValid());
      }
    }
  }
}

TEST_F(GeneratorTest, NoTwoCellsOverlap) {
  for (const Kind kind : {Kind::Voronoi, Kind::Grid}) {
    const Landscape land = generate(makeParams(kind, 150, 11));
    ASSERT_EQ(land.patches.size(), 150u);
    for (std::size_t i = 0; i < land.patches.size(); ++i) {
      for (std::size_t j = i + 1; j < land.patches.size(); ++j) {
        const OGRPolygon& a = *land.patches[i].polygon;
        const OGRPolygon& b = *land.patches[j].polygon;
        if (!envelopesMeet(a, b)) continue;
        std::unique_ptr<OGRGeometry> common(a.Intersection(&b));
        ASSERT_NE(common, nullptr);
        EXPECT_LT(totalArea(*common), 1e-9) << "patches " << i << " and " << j;
      }
    }
  }
}

// Every stretch of boundary inside the square belongs to exactly two patches
// with bit-identical endpoints, and every stretch on the square's border to
// one: no slivers, gaps or near-miss vertices between neighbours.
TEST_F(GeneratorTest, NeighboursShareEdgesVertexForVertex) {
  for (const Kind kind : {Kind::Voronoi, Kind::Grid}) {
    const Landscape land = generate(makeParams(kind, 3000, 5));
    std::map<std::array<double, 4>, int> segments;
    for (const Patch& p : land.patches) {
      const OGRLinearRing* ring = p.polygon->getExteriorRing();
      ASSERT_TRUE(ring->get_IsClosed());
      for (int k = 0; k + 1 < ring->getNumPoints(); ++k) {
        std::array<double, 4> s{ring->getX(k), ring->getY(k), ring->getX(k + 1), ring->getY(k + 1)};
        if (std::make_pair(s[2], s[3]) < std::make_pair(s[0], s[1])) s = {s[2], s[3], s[0], s[1]};
        ASSERT_FALSE(s[0] == s[2] && s[1] == s[3]) << "repeated vertex";
        ++segments[s];
      }
    }
    int border = 0;
    int inner = 0;
    for (const auto& [s, count] : segments) {
      const bool onBorder =
          (s[0] == s[2] && (s[0] == 0.0 || s[0] == 1000.0)) || (s[1] == s[3] && (s[1] == 0.0 || s[1] == 1000.0));
      EXPECT_EQ(count, onBorder ? 1 : 2) << "segment " << s[0] << ' ' << s[1] << " - " << s[2] << ' ' << s[3];
      (onBorder ? border : inner) += 1;
    }
    EXPECT_GT(border, 0);
    EXPECT_GT(inner, 3000);
  }
}

TEST_F(GeneratorTest, ClassesAndCoverNamesAreInRange) {
  for (const double clustering : {0.0, 0.5, 1.0}) {
    const Landscape land = generate(makeParams(Kind::Voronoi, 800, 3, 7, clustering));
    std::set<int> seen;
    for (const Patch& p : land.patches) {
      ASSERT_GE(p.cls, 1);
      ASSERT_LE(p.cls, 7);
      EXPECT_EQ(p.cover, "class " + std::to_string(p.cls));
      seen.insert(p.cls);
    }
    EXPECT_EQ(seen.size(), 7u) << "clustering " << clustering;  // 800 patches, 25 clumps: all classes drawn
  }
  const Landscape single = generate(makeParams(Kind::Grid, 50, 3, 1, 0.0));
  for (const Patch& p : single.patches) EXPECT_EQ(p.cls, 1);
}

TEST_F(GeneratorTest, SchemaAndCoordinateSystem) {
  const Landscape land = generate(makeParams(Kind::Voronoi, 20));
  EXPECT_EQ(land.classType, OFTInteger);
  EXPECT_EQ(land.classWidth, 9);
  EXPECT_EQ(land.coverType, OFTString);
  EXPECT_EQ(land.coverWidth, 20);
  ASSERT_NE(land.srs, nullptr);
  EXPECT_TRUE(land.srs->IsProjected());
  int north = 1;
  EXPECT_EQ(land.srs->GetUTMZone(&north), 25);
  EXPECT_EQ(north, 0);
  EXPECT_DOUBLE_EQ(land.srs->GetLinearUnits(), 1.0);
}

TEST_F(GeneratorTest, SameSeedGivesIdenticalFiles) {
  for (const Kind kind : {Kind::Voronoi, Kind::Grid}) {
    const LandscapeParams params = makeParams(kind, 500, 42);
    writeLandscape(dir_ / "a.shp", params);
    writeLandscape(dir_ / "b.shp", params);
    for (const char* ext : {".shp", ".shx", ".prj"}) {
      EXPECT_EQ(fileBytes(dir_ / (std::string("a") + ext)), fileBytes(dir_ / (std::string("b") + ext))) << ext;
    }
    const std::string dbf = dbfBytesWithoutDate(dir_ / "a.dbf");
    EXPECT_GT(dbf.size(), 500u * 30u);
    EXPECT_EQ(dbf, dbfBytesWithoutDate(dir_ / "b.dbf"));
  }
}

TEST_F(GeneratorTest, DifferentSeedsGiveDifferentLandscapes) {
  writeLandscape(dir_ / "a.shp", makeParams(Kind::Voronoi, 500, 1));
  writeLandscape(dir_ / "b.shp", makeParams(Kind::Voronoi, 500, 2));
  EXPECT_NE(fileBytes(dir_ / "a.shp"), fileBytes(dir_ / "b.shp"));
  EXPECT_NE(dbfBytesWithoutDate(dir_ / "a.dbf"), dbfBytesWithoutDate(dir_ / "b.dbf"));

  // A grid's geometry does not depend on the seed; its classes do.
  writeLandscape(dir_ / "c.shp", makeParams(Kind::Grid, 500, 1));
  writeLandscape(dir_ / "d.shp", makeParams(Kind::Grid, 500, 2));
  EXPECT_EQ(fileBytes(dir_ / "c.shp"), fileBytes(dir_ / "d.shp"));
  EXPECT_NE(dbfBytesWithoutDate(dir_ / "c.dbf"), dbfBytesWithoutDate(dir_ / "d.dbf"));
}

TEST_F(GeneratorTest, ClusteringMakesNeighboursShareClasses) {
  for (const std::uint64_t seed : {1u, 2u, 3u}) {
    const Landscape random = generate(makeParams(Kind::Voronoi, 300, seed, 5, 0.0), "random.shp");
    const Landscape clumped = generate(makeParams(Kind::Voronoi, 300, seed, 5, 0.9), "clumped.shp");

    // Same sites, so the same cells: only the classes differ.
    ASSERT_EQ(random.patches.size(), clumped.patches.size());
    for (std::size_t i = 0; i < random.patches.size(); ++i) {
      ASSERT_TRUE(random.patches[i].polygon->Equals(clumped.patches[i].polygon.get())) << "patch " << i;
    }

    const int pairs = static_cast<int>(neighbourPairs(random).size());
    const int sameRandom = sameClassPairs(random);
    const int sameClumped = sameClassPairs(clumped);
    // Random classes put about a fifth of neighbours in the same class.
    EXPECT_GT(pairs, 600) << "seed " << seed;
    EXPECT_LT(sameRandom, pairs * 3 / 10) << "seed " << seed;
    EXPECT_GT(sameClumped, 2 * sameRandom) << "seed " << seed;
  }
}

TEST_F(GeneratorTest, ClusteringAppliesToGridsToo) {
  const int sameRandom = sameClassPairs(generate(makeParams(Kind::Grid, 400, 9, 4, 0.0), "random.shp"));
  const int sameClumped = sameClassPairs(generate(makeParams(Kind::Grid, 400, 9, 4, 1.0), "clumped.shp"));
  EXPECT_GT(sameClumped, 2 * sameRandom);
}

TEST_F(GeneratorTest, ReplacesAnExistingLandscape) {
  generate(makeParams(Kind::Voronoi, 60));
  EXPECT_EQ(generate(makeParams(Kind::Grid, 20)).patches.size(), 20u);
}

TEST_F(GeneratorTest, RejectsInvalidParameters) {
  const fs::path shp = dir_ / "bad.shp";
  auto bad = [&](auto change) {
    LandscapeParams params = makeParams(Kind::Voronoi, 10);
    change(params);
    EXPECT_THROW(writeLandscape(shp, params), std::runtime_error);
    EXPECT_FALSE(fs::exists(shp));
  };
  bad([](LandscapeParams& s) { s.patches = 0; });
  bad([](LandscapeParams& s) { s.patches = -5; });
  bad([](LandscapeParams& s) { s.classes = 0; });
  bad([](LandscapeParams& s) { s.side = 0.0; });
  bad([](LandscapeParams& s) { s.side = -1.0; });
  bad([](LandscapeParams& s) { s.clustering = 1.5; });
  bad([](LandscapeParams& s) { s.clustering = -0.1; });
  bad([](LandscapeParams& s) { s.clustering = std::numeric_limits<double>::quiet_NaN(); });
  EXPECT_THROW(writeLandscape(dir_ / "land.gpkg", makeParams(Kind::Grid, 4)), std::runtime_error);
}

TEST_F(GeneratorTest, ReportsAnUnwritablePath) {
  const fs::path shp = dir_ / "missing" / "land.shp";
  try {
    writeLandscape(shp, makeParams(Kind::Voronoi, 10));
    FAIL() << "expected an error";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("land.shp"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(fs::exists(shp));
}

}  // namespace
