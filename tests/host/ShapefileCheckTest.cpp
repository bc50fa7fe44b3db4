// Damaged shape files are refused with what is wrong: headers that disagree
// with the files or with each other, a feature count other than the
// attribute table's, a record of another shape type inside a polygon file,
// vertices that are not finite. Each damage is made byte by byte on a small
// sound shapefile.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <string>

#include "host/HostError.h"
#include "host/PolygonLayer.h"
#include "tests/support/Fixtures.h"

namespace quilta {
namespace {

namespace fs = std::filesystem;
using test::rect;

std::string readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
void writeBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}
void putBigEndian(std::string& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (24 - 8 * i)) & 0xFF);
}
void putLittleEndian(std::string& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
std::uint32_t bigEndianAt(const std::string& b, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
  return v;
}

class ShapefileCheckTest : public ::testing::Test {
 protected:
  test::TempDir dir;
  fs::path shp = dir / "land.shp", shx = dir / "land.shx", dbf = dir / "land.dbf";

  void SetUp() override {
    test::writeShapefile(shp, {{"cover", 'S', 10}},
                         {{rect(0, 0, 10, 10), {std::string("a")}},
                          {rect(20, 0, 30, 10), {std::string("b")}},
                          {rect(40, 0, 50, 10), {std::string("a")}}});
  }
  // Where record `fid` of the shape file begins (its record header).
  std::size_t recordOffset(int fid) { return 2 * bigEndianAt(readBytes(shx), 100 + 8 * static_cast<std::size_t>(fid)); }

  void damage(const fs::path& file, const std::function<void(std::string&)>& change) {
    std::string b = readBytes(file);
    change(b);
    writeBytes(file, b);
  }
  // Opening and reading the shapes fails naming `cause`; the table stays as it was.
  void expectRefused(const std::string& cause) {
    const std::string table = readBytes(dbf);
    try {
      auto layer = PolygonLayer::open(shp);
      layer->featureTable().shapes();
      ADD_FAILURE() << "a damaged shapefile was read";
    } catch (const HostError& e) {
      EXPECT_NE(std::string(e.what()).find(cause), std::string::npos) << e.what();
    }
    EXPECT_EQ(readBytes(dbf), table);
  }
};

TEST_F(ShapefileCheckTest, ASoundShapefileIsRead) {
  auto layer = PolygonLayer::open(shp);
  EXPECT_EQ(layer->featureTable().shapes().size(), 3u);
  EXPECT_EQ(layer->featureTable().shape(1).area(), 100);
}

TEST_F(ShapefileCheckTest, HeadersThatDisagreeWithTheFilesAreRefused) {
  damage(shp, [](std::string& b) { putLittleEndian(b, 32, 7); });
  damage(shx, [](std::string& b) { putLittleEndian(b, 32, 7); });
  expectRefused("declares the unknown shape type 7");
  SetUp();
  damage(shp, [](std::string& b) { b += std::string(64, '\0'); });  // shapes behind a header that ends earlier
  expectRefused("bytes but the file has");
  SetUp();
  damage(shx, [](std::string& b) { putLittleEndian(b, 32, 3); });
  expectRefused("declares the shape type 3 but");
}

TEST_F(ShapefileCheckTest, ShapeFilesAndTableWithOtherFeatureCountsAreRefused) {
  damage(shx, [](std::string& b) {
    b.resize(b.size() - 8);
    putBigEndian(b, 24, static_cast<std::uint32_t>(b.size() / 2));
  });
  expectRefused("lists 2 features but the table has 3 records");
}

TEST_F(ShapefileCheckTest, ARecordOfAnotherShapeTypeInAPolygonFileIsRefused) {
  const std::size_t at = recordOffset(1);
  damage(shp, [at](std::string& b) { putLittleEndian(b, at + 8, 3); });  // a polyline
  expectRefused("feature 1 has the shape type 3 in a file of shape type 5");
}

TEST_F(ShapefileCheckTest, AVertexThatIsNotFiniteIsRefused) {
  for (double bad : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
    SetUp();
    const std::size_t at = recordOffset(2);
    damage(shp, [at, bad](std::string& b) {
      // The second vertex's x: after the record header, type, box, counts and one part index.
      std::memcpy(&b[at + 8 + 44 + 4 + 16], &bad, sizeof bad);
    });
    expectRefused("feature 2 has a vertex whose coordinates are not finite numbers (vertex 2)");
  }
}

TEST_F(ShapefileCheckTest, ARecordWhosePointsDoNotFitItsLengthIsRefused) {
  const std::size_t at = recordOffset(0);
  damage(shp, [at](std::string& b) { putLittleEndian(b, at + 8 + 40, 1000); });
  expectRefused("feature 0 declares 1 parts and 1000 points");
}

}  // namespace
}  // namespace quilta
