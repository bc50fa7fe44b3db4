// The shapefile workspace: which files make up a shapefile, deleting one whole,
// creating a polygon shapefile with a given field set and no coordinate system,
// streaming records into it, and refusing what would lose data. What is written
// is read back with the vector library itself, independently of the host's
// own readers.

#include <gtest/gtest.h>
#include <ogrsf_frmts.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "host/HostError.h"
#include "host/ShapefileWorkspace.h"
#include "tests/support/Fixtures.h"

namespace quilta {
namespace {

namespace fs = std::filesystem;
using test::rect;
using test::TempDir;

const std::vector<FieldInfo> kCoreFields = {{"Orig_ID", kLong, 8, 0}, {"Core_Area", kDouble, 15, 3}};

struct FieldDefinition {
  std::string name;
  OGRFieldType type;
  int width;
  int precision;
  bool operator==(const FieldDefinition&) const = default;
};

// One record as the vector library reads it.
struct Record {
  bool hasShape = false;
  double area = 0;  // of the shape
  int rings = 0;    // outer rings and holes
  std::vector<std::string> values;
};

struct ReadBack {
  OGRwkbGeometryType geometryType = wkbUnknown;
  bool hasCoordinateSystem = false;
  std::vector<FieldDefinition> fields;
  GIntBig count = 0;
  std::vector<Record> records;
};

ReadBack readBack(const fs::path& shp) {
  GDALAllRegister();
  std::unique_ptr<GDALDataset> ds(
      static_cast<GDALDataset*>(GDALOpenEx(shp.string().c_str(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr)));
  if (!ds) throw std::runtime_error("the vector library cannot open " + shp.string());
  OGRLayer* layer = ds->GetLayer(0);
  ReadBack out;
  out.geometryType = layer->GetGeomType();
  out.hasCoordinateSystem = layer->GetSpatialRef() != nullptr;
  OGRFeatureDefn* defn = layer->GetLayerDefn();
  for (int i = 0; i < defn->GetFieldCount(); ++i) {
    OGRFieldDefn* f = defn->GetFieldDefn(i);
    out.fields.push_back({f->GetNameRef(), f->GetType(), f->GetWidth(), f->GetPrecision()});
  }
  out.count = layer->GetFeatureCount(TRUE);
  for (auto& feature : layer) {
    Record r;
    const OGRGeometry* g = feature->GetGeometryRef();
    r.hasShape = g && !g->IsEmpty();
    if (r.hasShape) {
      r.area = g->toSurface()->get_Area();
      r.rings = g->getGeometryType() == wkbPolygon ? 1 + g->toPolygon()->getNumInteriorRings() : 0;
    }
    for (int i = 0; i < defn->GetFieldCount(); ++i) r.values.push_back(feature->GetFieldAsString(i));
    out.records.push_back(r);
  }
  return out;
}

class ShapefileWorkspaceTest : public ::testing::Test {
 protected:
  TempDir dir;

  void touch(const std::string& name, const std::string& content = "x") {
    std::ofstream(dir / name, std::ios::binary) << content;
  }
  bool present(const std::string& name) const { return fs::exists(dir / name); }
  std::vector<std::string> filesOf(const ShapefileWorkspace& ws, const std::string& name) const {
    std::vector<std::string> names;
    for (const auto& f : ws.datasetFiles(name)) names.push_back(f.filename().string());
    return names;
  }
  ShapefileWorkspace workspace() const { return ShapefileWorkspace::open(dir.path()); }

  // True when this process can create files in a folder whose write
  // permission was taken away (the system administrator can).
  static bool writableDespiteMode(const fs::path& folder) {
    std::ofstream probe(folder / "probe");
    bool ok = probe.good();
    probe.close();
    std::error_code ec;
    fs::remove(folder / "probe", ec);
    return ok;
  }
};

// --- opening and looking up -----------------------------------------------

TEST_F(ShapefileWorkspaceTest, OpensOnlyAnExistingFolder) {
  EXPECT_NO_THROW(workspace());
  EXPECT_THROW(ShapefileWorkspace::open(dir / "missing"), HostError);
  touch("plain.txt");
  EXPECT_THROW(ShapefileWorkspace::open(dir / "plain.txt"), HostError);
  EXPECT_THROW(ShapefileWorkspace::open(""), HostError);
}

TEST_F(ShapefileWorkspaceTest, AShapefileExistsWhenItsShpIsThereUnderExactlyThatName) {
  touch("roads.shp");
  touch("UPPER.SHP");
  touch("tableonly.dbf");
  auto ws = workspace();
  EXPECT_TRUE(ws.exists("roads"));
  EXPECT_FALSE(ws.exists("Roads"));
  EXPECT_FALSE(ws.exists("road"));
  EXPECT_TRUE(ws.exists("UPPER"));
  EXPECT_FALSE(ws.exists("tableonly"));
  EXPECT_FALSE(ws.exists("absent"));
}

TEST_F(ShapefileWorkspaceTest, TheDatasetIsEveryShapefileFileOfThatNameInAnyLetterCase) {
  for (const char* f : {"a.shp", "a.shx", "a.dbf", "a.prj", "a.CPG", "a.sbn", "a.shp.xml", "a.txt", "a_2.shp", "ab.shp",
                        "a.b.shp", "A.shp"})
    touch(f);
  fs::create_directory(dir / "a.qix");  // a folder is never part of a dataset
  auto ws = workspace();
  EXPECT_EQ(filesOf(ws, "a"),
            (std::vector<std::string>{"a.CPG", "a.dbf", "a.prj", "a.sbn", "a.shp", "a.shp.xml", "a.shx"}));
  EXPECT_EQ(filesOf(ws, "a.b"), std::vector<std::string>{"a.b.shp"});
}

TEST_F(ShapefileWorkspaceTest, DeletingRemovesTheWholeDatasetAndNothingElse) {
  for (const char* f :
       {"a.shp", "a.shx", "a.dbf", "a.prj", "a.CPG", "a.SBX", "a.shp.xml", "a.txt", "a_2.shp", "ab.dbf", "a.b.shp"})
    touch(f);
  auto ws = workspace();
  ws.deleteShapefile("a");
  for (const char* gone : {"a.shp", "a.shx", "a.dbf", "a.prj", "a.CPG", "a.SBX", "a.shp.xml"})
    EXPECT_FALSE(present(gone)) << gone;
  for (const char* kept : {"a.txt", "a_2.shp", "ab.dbf", "a.b.shp"}) EXPECT_TRUE(present(kept)) << kept;
  EXPECT_FALSE(ws.exists("a"));
  EXPECT_NO_THROW(ws.deleteShapefile("a"));  // nothing left to delete
}

TEST_F(ShapefileWorkspaceTest, KnowsTheDatasetOfALayerHoweverItsFolderIsSpelt) {
  fs::create_directory(dir / "sub");
  fs::create_directory_symlink(dir.path(), dir / "link");
  auto ws = workspace();
  EXPECT_TRUE(ws.isDatasetOf("patches", dir / "patches.shp"));
  EXPECT_TRUE(ws.isDatasetOf("patches", dir / "sub" / ".." / "patches.shp"));
  EXPECT_TRUE(ws.isDatasetOf("patches", dir / "link" / "patches.shp"));
  EXPECT_TRUE(ws.isDatasetOf("patches", dir / "patches.SHP"));
  EXPECT_FALSE(ws.isDatasetOf("patches", dir / "cores.shp"));
  EXPECT_FALSE(ws.isDatasetOf("patches", dir / "sub" / "patches.shp"));
  EXPECT_FALSE(ws.isDatasetOf("patches", dir / "patches.dbf.txt"));
}

// --- creating and writing --------------------------------------------------

TEST_F(ShapefileWorkspaceTest, WritesThePolygonsAndValuesWithTheFieldSetAndNoCoordinateSystem) {
  auto ws = workspace();
  ShapefileWriter w = ws.createPolygonShapefile("cores", kCoreFields);
  EXPECT_EQ(w.append(Polygon::fromWkt(rect(0, 0, 10, 10)), {std::int64_t{5}, 100.0}), 0);
  EXPECT_EQ(w.append(Polygon(), {std::int64_t{7}, 0.0}), 1);
  EXPECT_EQ(
      w.append(Polygon::fromWkt("POLYGON((0 0,10 0,10 10,0 10,0 0),(4 4,6 4,6 6,4 6,4 4))"), {std::int64_t{9}, 96.0}),
      2);
  EXPECT_EQ(w.append(Polygon::fromWkt(rect(20, 0, 21, 1)), {Value{}, 1.0 / 3.0}), 3);
  EXPECT_EQ(w.recordsWritten(), 4);
  w.close();
  EXPECT_FALSE(w.isOpen());

  ReadBack r = readBack(ws.shapefilePath("cores"));
  EXPECT_EQ(wkbFlatten(r.geometryType), wkbPolygon);
  EXPECT_FALSE(r.hasCoordinateSystem);
  EXPECT_FALSE(present("cores.prj"));
  EXPECT_EQ(r.fields, (std::vector<FieldDefinition>{{"Orig_ID", OFTInteger, 8, 0}, {"Core_Area", OFTReal, 15, 3}}));
  EXPECT_EQ(r.count, 4);
  ASSERT_EQ(r.records.size(), 4u);
  EXPECT_TRUE(r.records[0].hasShape);
  EXPECT_DOUBLE_EQ(r.records[0].area, 100.0);
  EXPECT_EQ(r.records[0].values, (std::vector<std::string>{"5", "100.000"}));
  EXPECT_FALSE(r.records[1].hasShape);
  EXPECT_EQ(r.records[1].values, (std::vector<std::string>{"7", "0.000"}));
  EXPECT_EQ(r.records[2].rings, 2);
  EXPECT_DOUBLE_EQ(r.records[2].area, 96.0);
  EXPECT_EQ(r.records[3].values, (std::vector<std::string>{"", "0.333"}));
  EXPECT_EQ(ws.recordCount("cores"), 4);
}

TEST_F(ShapefileWorkspaceTest, AShapefileWithoutRecordsIsComplete) {
  auto ws = workspace();
  ws.createPolygonShapefile("empty", kCoreFields).close();
  ReadBack r = readBack(ws.shapefilePath("empty"));
  EXPECT_EQ(r.count, 0);
  EXPECT_EQ(r.fields.size(), 2u);
  EXPECT_EQ(ws.recordCount("empty"), 0);
}

TEST_F(ShapefileWorkspaceTest, ClosingOnDestructionKeepsTheRecordsWritten) {
  auto ws = workspace();
  {
    ShapefileWriter w = ws.createPolygonShapefile("cores", kCoreFields);
    w.append(Polygon::fromWkt(rect(0, 0, 1, 1)), {std::int64_t{0}, 1.0});
    w.append(Polygon::fromWkt(rect(2, 0, 3, 1)), {std::int64_t{1}, 1.0});
  }
  EXPECT_EQ(ws.recordCount("cores"), 2);
}

TEST_F(ShapefileWorkspaceTest, TheNewShapefileOpensAsALayerOfThatName) {
  auto ws = workspace();
  ShapefileWriter w = ws.createPolygonShapefile("x.shp", kCoreFields);
  w.append(Polygon::fromWkt(rect(0, 0, 2, 3)), {std::int64_t{4}, 6.0});
  w.close();
  EXPECT_TRUE(present("x.shp.shp"));
  auto layer = ws.openLayer("x.shp");
  EXPECT_EQ(layer->name(), "x.shp");
  FeatureTable& t = layer->featureTable();
  EXPECT_EQ(t.count(), 1);
  EXPECT_EQ(t.findField("Orig_ID"), 2);
  EXPECT_EQ(t.findField("Core_Area"), 3);
  EXPECT_DOUBLE_EQ(t.shape(0).area(), 6.0);
}

TEST_F(ShapefileWorkspaceTest, RefusesToCreateOverAnyFileOfTheDataset) {
  touch("cores.dbf", "someone's table");
  auto ws = workspace();
  EXPECT_THROW(ws.createPolygonShapefile("cores", kCoreFields), HostError);
  EXPECT_FALSE(present("cores.shp"));
  std::ifstream in(dir / "cores.dbf");
  std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(kept, "someone's table");
}

TEST_F(ShapefileWorkspaceTest, RefusesNamesAndFieldsItCannotCreate) {
  auto ws = workspace();
  EXPECT_THROW(ws.createPolygonShapefile("", kCoreFields), HostError);
  EXPECT_THROW(ws.createPolygonShapefile("sub/cores", kCoreFields), HostError);
  EXPECT_THROW(ws.createPolygonShapefile("cores", {{"When", kDate, 8, 0}}), HostError);
  EXPECT_TRUE(ws.datasetFiles("cores").empty());
}

TEST_F(ShapefileWorkspaceTest, AnUnwritableFolderIsReportedWithItsCauseAndLeavesNothing) {
  fs::create_directory(dir / "locked");
  fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
  if (writableDespiteMode(dir / "locked")) {
    fs::permissions(dir / "locked", fs::perms::owner_all);
    GTEST_SKIP() << "this user may write into read-only folders";
  }
  auto ws = ShapefileWorkspace::open(dir / "locked");
  try {
    ws.createPolygonShapefile("cores", kCoreFields);
    ADD_FAILURE() << "created a shapefile in a read-only folder";
  } catch (const HostError& e) {
    EXPECT_NE(std::string(e.what()).find("cores.shp"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("ermission"), std::string::npos) << e.what();
  }
  fs::permissions(dir / "locked", fs::perms::owner_all);
  EXPECT_TRUE(fs::is_empty(dir / "locked"));
}

TEST_F(ShapefileWorkspaceTest, ValuesThatWouldLoseDigitsAreRefusedNotCut) {
  auto ws = workspace();
  ShapefileWriter w = ws.createPolygonShapefile("cores", kCoreFields);
  const Polygon square = Polygon::fromWkt(rect(0, 0, 1, 1));
  // 15 characters: the integer part fits, the decimals are cut to what fits.
  w.append(square, {std::int64_t{99999999}, 123456789012345.0});
  w.append(square, {std::int64_t{-9999999}, 12345678901.2345});
  EXPECT_THROW(w.append(square, {std::int64_t{0}, 1234567890123456.0}), HostError);
  EXPECT_THROW(w.append(square, {std::int64_t{0}, -123456789012345.0}), HostError);
  EXPECT_THROW(w.append(square, {std::int64_t{123456789}, 1.0}), HostError);
  EXPECT_THROW(w.append(square, {std::int64_t{0}, std::nan("")}), HostError);
  EXPECT_THROW(w.append(square, {std::string("seven"), 1.0}), HostError);
  EXPECT_THROW(w.append(square, {std::int64_t{0}}), HostError);
  w.close();
  EXPECT_THROW(w.append(square, {std::int64_t{0}, 1.0}), HostError);

  ReadBack r = readBack(ws.shapefilePath("cores"));
  ASSERT_EQ(r.records.size(), 2u);
  EXPECT_EQ(r.records[0].values, (std::vector<std::string>{"99999999", "123456789012345.000"}));
  EXPECT_EQ(r.records[1].values[0], "-9999999");
  EXPECT_NEAR(std::stod(r.records[1].values[1]), 12345678901.2345, 0.001);
}

}  // namespace
}  // namespace quilta
