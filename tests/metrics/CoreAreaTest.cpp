// Core area analysis: the cores of squares and rectangles shrunk by hand, cores
// that vanish, widen, fall apart or have holes, the counters and the Cority
// of the landscape, where the core shapefile goes and what it may replace,
// and how the run ends on a cancel or bad input. The core shapefile is read
// back with the vector library itself.

#include <gtest/gtest.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <numbers>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/Offset.h"
#include "tests/metrics/StatisticsFixture.h"

namespace quilta {
namespace {

namespace fs = std::filesystem;
using test::Patch;
using test::rect;
using test::Rows;

constexpr double kPi = std::numbers::pi;

// A patch of class `cover` with the shape `wkt` ("Area" and "Perimeter" are
// present but never read by this analysis).
Patch patch(const std::string& cover, const std::string& wkt) { return Patch{cover, 1.0, 1.0, wkt}; }

// Three 4 x 4 squares in a row, 2 apart, joined by corridors 0.2 wide: at a
// distance of 1 the corridors vanish and each square leaves its middle 2 x 2
// (plus slivers of under 0.001 where a corridor opens).
std::string dumbbell(double x0) {
  auto X = [x0](double x) { return std::to_string(x0 + x); };
  return "POLYGON((" + X(0) + " 0," + X(4) + " 0," + X(4) + " 1.9," + X(6) + " 1.9," + X(6) + " 0," + X(10) + " 0," +
         X(10) + " 1.9," + X(12) + " 1.9," + X(12) + " 0," + X(16) + " 0," + X(16) + " 4," + X(12) + " 4," + X(12) +
         " 2.1," + X(10) + " 2.1," + X(10) + " 4," + X(6) + " 4," + X(6) + " 2.1," + X(4) + " 2.1," + X(4) + " 4," +
         X(0) + " 4," + X(0) + " 0))";
}

// One record of the core shapefile as the vector library reads it.
struct CoreRecord {
  long long origId = -1;
  double coreArea = 0;  // the "Core_Area" value
  bool hasShape = false;
  double shapeArea = 0;  // the area of the stored shape
  int rings = 0;         // outer ring and holes of a single polygon
};

struct CoreFile {
  std::vector<std::string> fieldNames;
  std::vector<OGRFieldType> fieldTypes;
  std::vector<int> widths, precisions;
  bool hasCoordinateSystem = false;
  long long count = 0;  // F
  std::vector<CoreRecord> records;
};

// The core layer `layer` of a GeoPackage, or (none named) a shapefile's.
CoreFile readCore(const fs::path& shp, const std::string& layerName = "") {
  GDALAllRegister();
  std::unique_ptr<GDALDataset> ds(
      static_cast<GDALDataset*>(GDALOpenEx(shp.string().c_str(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr)));
  if (!ds) throw std::runtime_error("the vector library cannot open " + shp.string());
  OGRLayer* layer = layerName.empty() ? ds->GetLayer(0) : ds->GetLayerByName(layerName.c_str());
  if (!layer) throw std::runtime_error(shp.string() + " has no layer " + layerName);
  CoreFile out;
  OGRFeatureDefn* defn = layer->GetLayerDefn();
  for (int i = 0; i < defn->GetFieldCount(); ++i) {
    out.fieldNames.push_back(defn->GetFieldDefn(i)->GetNameRef());
    out.fieldTypes.push_back(defn->GetFieldDefn(i)->GetType());
    out.widths.push_back(defn->GetFieldDefn(i)->GetWidth());
    out.precisions.push_back(defn->GetFieldDefn(i)->GetPrecision());
  }
  // A GeoPackage layer without one names its undefined placeholder.
  const OGRSpatialReference* srs = layer->GetSpatialRef();
  out.hasCoordinateSystem = srs && std::string(srs->GetName()).rfind("Undefined ", 0) != 0;
  out.count = layer->GetFeatureCount(TRUE);
  const int id = defn->GetFieldIndex("Orig_ID"), area = defn->GetFieldIndex("Core_Area");
  for (auto& f : layer) {
    CoreRecord r;
    if (id >= 0) r.origId = f->GetFieldAsInteger64(id);
    if (area >= 0) r.coreArea = f->GetFieldAsDouble(area);
    const OGRGeometry* g = f->GetGeometryRef();
    r.hasShape = g && !g->IsEmpty();
    if (r.hasShape) {
      // A multipolygon is a collection, not a surface: each has its own area.
      r.shapeArea = wkbFlatten(g->getGeometryType()) == wkbMultiPolygon ? g->toMultiPolygon()->get_Area()
                                                                          : g->toSurface()->get_Area();
      r.rings = wkbFlatten(g->getGeometryType()) == wkbPolygon ? 1 + g->toPolygon()->getNumInteriorRings() : 0;
    }
    out.records.push_back(r);
  }
  return out;
}

class CoreAreaTest : public test::StatisticsTest {
 protected:
  fs::path output() const { return dir / "core_area.shp"; }

  // The user types `distance` and chooses `target` in the save dialog (none:
  // the dialog is cancelled), after picking "cover" and `classes`.
  void runCore(const std::string& distance, const std::optional<std::string>& target,
               const std::vector<std::string>& classes = {}) {
    ws.inputAnswers.push_back(distance);
    ws.fileAnswers.push_back(target);
    run("cmdCore", classes);
  }
  void runCore(const std::string& distance) { runCore(distance, output().string()); }

  frmCoreArea& window() { return ext->results.coreArea; }
  const Rows& rows() { return window().lstViewClass.rows; }

  // The records of one patch, in file order.
  static std::vector<CoreRecord> recordsOf(const CoreFile& f, long long fid) {
    std::vector<CoreRecord> out;
    std::copy_if(f.records.begin(), f.records.end(), std::back_inserter(out),
                 [fid](const CoreRecord& r) { return r.origId == fid; });
    return out;
  }

  std::set<std::string> filesInFolder() const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path())) names.insert(e.path().filename().string());
    return names;
  }
  std::string bytesOf(const std::string& name) const { return readBytes(dir / name); }
  std::string analysedLayerBytes() const {
    return bytesOf("patches.shp") + bytesOf("patches.shx") + bytesOf("patches.dbf") + bytesOf("patches.gpkg");
  }

  // Every record's "Core_Area" is the area of what it stores (to its three
  // decimals), and the stored shape is absent exactly when that area is 0.
  static void expectAreasMatchShapes(const CoreFile& f) {
    for (const CoreRecord& r : f.records) {
      EXPECT_NEAR(r.coreArea, r.shapeArea, 0.0005) << "record of patch " << r.origId;
      EXPECT_EQ(r.hasShape, r.coreArea != 0) << "record of patch " << r.origId;
    }
  }
};

// --- prerequisites ---------------------------------------------------------

TEST_F(CoreAreaTest, WithoutAreaAndPerimeterItRefusesAndAsksNothing) {
  openPatches({patch("a", rect(0, 0, 10, 10))}, true, false);
  runCore("1");
  ASSERT_EQ(ws.messages.size(), 1u);
  EXPECT_EQ(ws.messages[0].text, "Please calculate Area and Perimeter!");
  EXPECT_EQ(ws.messages[0].title, "No Area/Perimeter field");
  EXPECT_EQ(ws.messages[0].icon, Icon::Exclamation);
  EXPECT_TRUE(ws.windowsShown.empty());
  EXPECT_TRUE(ws.inputs.empty());
  EXPECT_EQ(session().lastOutcome, Outcome::Refused);
  EXPECT_FALSE(fs::exists(output()));
}

// --- cores and statistics --------------------------------------------------

TEST_F(CoreAreaTest, ASquareShrinksByTheDistanceOnEverySide) {
  // Class a: 10 x 10 (core 8 x 8 = 64) and 6 x 4 (core 4 x 2 = 8); class b:
  // 4 x 4 (core 2 x 2 = 4).
  openPatches({patch("a", rect(0, 0, 10, 10)), patch("b", rect(20, 0, 24, 4)), patch("a", rect(30, 0, 36, 4))});
  runCore("1");
  EXPECT_EQ(session().lastOutcome, Outcome::Completed);
  ASSERT_TRUE(shown("frmCoreArea"));

  const auto& prompt = ws.inputs.back();
  EXPECT_EQ(prompt.prompt, "Enter Core Area Distance (in Map Units)!");
  EXPECT_EQ(prompt.title, "Core Area Distance");
  EXPECT_EQ(prompt.defaultText, "10");
  ASSERT_EQ(ws.fileDialogs.size(), 1u);
  EXPECT_TRUE(ws.fileDialogs[0].save);
  if (stores.kind() == test::Store::GeoPackage) {
    // A new layer of the analysed GeoPackage is proposed; a shapefile may be
    // chosen instead.
    EXPECT_EQ(ws.fileDialogs[0].flags, 0);
    EXPECT_EQ(ws.fileDialogs[0].filter, "GeoPackage | *.gpkg|Shapefile | *.shp");
    EXPECT_EQ(ws.fileDialogs[0].defaultExtension, ".gpkg");
    EXPECT_EQ(ws.fileDialogs[0].fileName, (dir / "patches.gpkg").string() + ":core_area");
  } else {
    EXPECT_EQ(ws.fileDialogs[0].flags, 2);
    EXPECT_EQ(ws.fileDialogs[0].filter, "Shapefile | *.shp");
    EXPECT_EQ(ws.fileDialogs[0].defaultExtension, ".shp");
    EXPECT_EQ(ws.fileDialogs[0].fileName, "core_area");
  }

  // 72 / 124 = 58.06 %, 4 / 16 = 25 %, 76 / 140 = 54.29 %.
  EXPECT_EQ(rows(), (Rows{{"a", "2", "124.00", "72.00", "58.06"}, {"b", "1", "16.00", "4.00", "25.00"}}));
  EXPECT_EQ(window().txtTotalArea.text, "140.00");
  EXPECT_EQ(window().txtCoreArea.text, "76.00");
  EXPECT_EQ(window().txtPercentage.text, "54.29");
  EXPECT_EQ(window().txtCority.text, "1");
  EXPECT_EQ(window().txtCADistance.text, "1");
  EXPECT_EQ(window().txtLayername.text, "patches");
  EXPECT_EQ(window().txtINFO.text, "Disjunct core areas: 0 patch(es) of 3\r\nNo core area: 0 patch(es)");

  // One record per patch, class by class, each with its patch's FID.
  CoreFile f = readCore(output());
  ASSERT_EQ(f.count, 3);
  ASSERT_EQ(f.records.size(), 3u);
  EXPECT_EQ(f.records[0].origId, 0);
  EXPECT_EQ(f.records[1].origId, 2);
  EXPECT_EQ(f.records[2].origId, 1);
  EXPECT_DOUBLE_EQ(f.records[0].coreArea, 64.0);
  EXPECT_DOUBLE_EQ(f.records[1].coreArea, 8.0);
  EXPECT_DOUBLE_EQ(f.records[2].coreArea, 4.0);
  expectAreasMatchShapes(f);
}

TEST_F(CoreAreaTest, TheCoreShapefileHasTheFieldSetAndNoCoordinateSystem) {
  openPatches({patch("a", rect(0, 0, 10, 10)), patch("a", rect(20, 0, 30, 10))});
  runCore("2");
  CoreFile f = readCore(output());
  EXPECT_EQ(f.fieldNames, (std::vector<std::string>{"Orig_ID", "Core_Area"}));
  EXPECT_EQ(f.fieldTypes, (std::vector<OGRFieldType>{OFTInteger, OFTReal}));
  EXPECT_EQ(f.widths, (std::vector<int>{8, 15}));
  EXPECT_EQ(f.precisions, (std::vector<int>{0, 3}));
  EXPECT_FALSE(f.hasCoordinateSystem);
  EXPECT_FALSE(fs::exists(dir / "core_area.prj"));
  EXPECT_EQ(f.count, 2);
}

TEST_F(CoreAreaTest, TheCoreLayerJoinsTheMapAndTheAnalysedLayerStaysSelected) {
  openPatches({patch("a", rect(0, 0, 10, 10))});
  PolygonLayer* analysed = host.document().selectedLayer();
  runCore("1");
  FocusMap& map = host.document().focusMap();
  ASSERT_EQ(map.layerCount(), 2);
  EXPECT_EQ(map.layer(0)->name(), "core_area");
  EXPECT_EQ(map.layer(0)->featureTable().count(), 1);
  EXPECT_EQ(host.document().selectedLayer(), analysed);
}

TEST_F(CoreAreaTest, AtDistanceZeroEveryCoreIsItsPatch) {
  openPatches({patch("a", rect(0, 0, 10, 10)), patch("b", rect(20, 0, 23, 7)),
               patch("b", "POLYGON((40 0,50 0,50 10,45 4,40 10,40 0))")});
  runCore("0");
  // 3 x 7 = 21; the square with a notch 10 wide and 6 deep: 100 - 30 = 70.
  EXPECT_EQ(rows(), (Rows{{"a", "1", "100.00", "100.00", "100.00"}, {"b", "2", "91.00", "91.00", "100.00"}}));
  EXPECT_EQ(window().txtPercentage.text, "100.00");
  EXPECT_EQ(window().txtCority.text, "1");
  EXPECT_EQ(window().txtCADistance.text, "0");
  CoreFile f = readCore(output());
  ASSERT_EQ(f.records.size(), 3u);
  EXPECT_NEAR(recordsOf(f, 2).at(0).coreArea, 70.0, 1e-9);
  expectAreasMatchShapes(f);
}

TEST_F(CoreAreaTest, ADistanceWiderThanEveryPatchLeavesNoCoreButEveryRecord) {
  openPatches({patch("a", rect(0, 0, 10, 10)), patch("a", rect(20, 0, 24, 30)), patch("b", rect(40, 0, 41, 1))});
  runCore("6");
  EXPECT_EQ(rows(), (Rows{{"a", "2", "220.00", "0.00", "0.00"}, {"b", "1", "1.00", "0.00", "0.00"}}));
  EXPECT_EQ(window().txtCoreArea.text, "0.00");
  EXPECT_EQ(window().txtPercentage.text, "0.00");
  EXPECT_EQ(window().txtCority.text, "0");
  EXPECT_EQ(window().txtINFO.text, "Disjunct core areas: 0 patch(es) of 3\r\nNo core area: 3 patch(es)");
  CoreFile f = readCore(output());
  ASSERT_EQ(f.count, 3);
  for (const CoreRecord& r : f.records) {
    EXPECT_FALSE(r.hasShape);
    EXPECT_EQ(r.coreArea, 0.0);
  }
}

TEST_F(CoreAreaTest, ANegativeDistanceWidensThePatches) {
  openPatches({patch("a", rect(0, 0, 10, 10))});
  runCore("-1");
  // 100 + four sides 10 x 1 + four quarter circles of radius 1 = 140 + pi,
  // the true circle (to the three decimals of the field).
  CoreFile f = readCore(output());
  ASSERT_EQ(f.records.size(), 1u);
  EXPECT_NEAR(f.records[0].coreArea, 140 + kPi, 0.0005);
  expectAreasMatchShapes(f);
  EXPECT_EQ(rows(), (Rows{{"a", "1", "100.00", "143.14", "143.14"}}));
  EXPECT_EQ(window().txtPercentage.text, "143.14");
  EXPECT_EQ(window().txtCADistance.text, "-1");
}

TEST_F(CoreAreaTest, ACoreThatFallsApartGetsOneRecordPerPiece) {
  openPatches({patch("a", rect(-20, 0, -10, 10)), patch("a", dumbbell(0)), patch("b", rect(30, 0, 34, 4))});
  runCore("1");
  CoreFile f = readCore(output());
  auto pieces = recordsOf(f, 1);
  ASSERT_EQ(pieces.size(), 3u);
  double whole = 0;
  for (const CoreRecord& r : pieces) {
    EXPECT_NEAR(r.coreArea, 4.0, 0.005);
    EXPECT_EQ(r.rings, 1);
    whole += r.shapeArea;
  }
  EXPECT_NEAR(whole, 12.0, 0.01);
  // The class keeps the whole core (64 + the three pieces) and counts the
  // square's record and the three pieces.
  ASSERT_EQ(rows().size(), 2u);
  EXPECT_EQ(rows()[0][1], "4");
  EXPECT_EQ(rows()[0][3], text::fixed(64 + whole));
  EXPECT_EQ(window().txtINFO.text, "Disjunct core areas: 1 patch(es) of 3\r\nNo core area: 0 patch(es)");
  // Five records for three patches with a core each: 3 / 5.
  EXPECT_EQ(f.count, 5);
  EXPECT_EQ(window().txtCority.text, "0.6");
  expectAreasMatchShapes(f);
}

TEST_F(CoreAreaTest, CoresAreTheExactInwardOffsetsArcsAndNecksIncluded) {
  // Class a: an L shape, whose core has a quarter circle at the reflex corner
  // (29 - pi/4). Class b: two squares joined by a neck just narrower than
  // twice the distance (two pieces) and two by one just wider (one piece).
  auto neck = [](double x0, double w) {
    auto X = [x0](double x) { return std::to_string(x0 + x); };
    const std::string lo = std::to_string(5 - w / 2), hi = std::to_string(5 + w / 2);
    return "POLYGON((" + X(0) + " 0," + X(10) + " 0," + X(10) + " " + lo + "," + X(20) + " " + lo + "," + X(20) +
           " 0," + X(30) + " 0," + X(30) + " 10," + X(20) + " 10," + X(20) + " " + hi + "," + X(10) + " " + hi + "," +
           X(10) + " 10," + X(0) + " 10," + X(0) + " 0))";
  };
  openPatches({patch("a", "POLYGON((0 0,10 0,10 4,4 4,4 10,0 10,0 0))"), patch("b", neck(100, 1.9999)),
               patch("b", neck(200, 2.0001))});
  runCore("1");
  CoreFile f = readCore(output());
  EXPECT_NEAR(recordsOf(f, 0).at(0).coreArea, 29 - kPi / 4, 0.0005);
  EXPECT_EQ(recordsOf(f, 1).size(), 2u);
  EXPECT_EQ(recordsOf(f, 2).size(), 1u);
  EXPECT_EQ(rows()[1][1], "3");
  EXPECT_EQ(window().txtINFO.text, "Disjunct core areas: 1 patch(es) of 3\r\nNo core area: 0 patch(es)");
  expectAreasMatchShapes(f);
}

TEST_F(CoreAreaTest, AShortCornerCutFartherThanTheDistanceLeavesTheCoreSquare) {
  // A 1000 m square with a 0.4 m chamfer: its core at 100 is 800 x 800.
  openPatches({patch("a", "POLYGON((0 0,1000 0,1000 999.6,999.6 1000,0 1000,0 0))")});
  runCore("100");
  EXPECT_EQ(rows().at(0).at(3), "640000.00");
  EXPECT_DOUBLE_EQ(readCore(output()).records.at(0).coreArea, 640000.0);
}

TEST_F(CoreAreaTest, ACoreWithAHoleIsOnePieceThatKeepsItsHole) {
  // 10 x 10 with a 2 x 2 hole: the core is 8 x 8 less the hole grown by 1,
  // 2 x 2 + four sides 2 x 1 + a circle of radius 1: 64 - 12 - pi.
  openPatches({patch("a", "POLYGON((0 0,10 0,10 10,0 10,0 0),(4 4,6 4,6 6,4 6,4 4))")});
  runCore("1");
  CoreFile f = readCore(output());
  ASSERT_EQ(f.records.size(), 1u);
  EXPECT_EQ(f.records[0].rings, 2);
  EXPECT_NEAR(f.records[0].coreArea, 64 - 12 - kPi, 0.01);
  EXPECT_EQ(rows()[0][1], "1");
  EXPECT_EQ(window().txtINFO.text, "Disjunct core areas: 1 patch(es) of 1\r\nNo core area: 0 patch(es)");
  EXPECT_EQ(window().txtCority.text, "1");
  expectAreasMatchShapes(f);
}

TEST_F(CoreAreaTest, CorityCountsThePatchesWithACoreAgainstTheRecords) {
  // One empty core among four patches: 3 / 4.
  openPatches({patch("a", rect(0, 0, 10, 10)), patch("a", rect(20, 0, 30, 10)), patch("b", rect(40, 0, 50, 10)),
               patch("b", rect(60, 0, 61, 1))});
  runCore("1");
  EXPECT_EQ(window().txtCority.text, "0.75");
  EXPECT_EQ(window().txtINFO.text, "Disjunct core areas: 0 patch(es) of 4\r\nNo core area: 1 patch(es)");
  EXPECT_EQ(rows()[1][1], "2");  // the empty core keeps its record
  EXPECT_EQ(readCore(output()).count, 4);
}

TEST_F(CoreAreaTest, CorityIsRoundedToThreeDecimalsInTheUsersNotation) {
  text::setDecimalSeparator(',');
  // Two of three patches keep a core: 2 / 3 shows as 0,667.
  openPatches({patch("a", rect(0, 0, 10, 10)), patch("a", rect(20, 0, 30, 10)), patch("a", rect(40, 0, 41, 1))});
  runCore("0,5");
  EXPECT_EQ(window().txtCority.text, "0,667");
  EXPECT_EQ(window().txtCADistance.text, "0,5");
  // (81 + 81 + 0) / 201
  EXPECT_EQ(window().txtPercentage.text, "80,60");
}

TEST_F(CoreAreaTest, RowsAndRecordsFollowTheOrderOfTheSelectedClassesOnly) {
  openPatches({patch("a", rect(0, 0, 10, 10)), patch("b", rect(20, 0, 30, 10)), patch("c", rect(40, 0, 44, 4))});
  presetClasses({"c", "a"});
  ws.inputAnswers.push_back("1");
  ws.fileAnswers.push_back(output().string());
  click("cmdCore");
  EXPECT_EQ(rows(), (Rows{{"c", "1", "16.00", "4.00", "25.00"}, {"a", "1", "100.00", "64.00", "64.00"}}));
  CoreFile f = readCore(output());
  ASSERT_EQ(f.records.size(), 2u);
  EXPECT_EQ(f.records[0].origId, 2);
  EXPECT_EQ(f.records[1].origId, 0);
  EXPECT_EQ(window().txtTotalArea.text, "116.00");
}

TEST_F(CoreAreaTest, InvalidPatchesDoNotStopTheRun) {
  // A figure-eight ring, a hole outside its shell and a ring folded back on
  // itself, beside a sound square in each class.
  openPatches({patch("a", rect(0, 0, 10, 10)), patch("a", "POLYGON((20 0,30 10,30 0,20 10,20 0))"),
               patch("b", rect(40, 0, 50, 10)),
               patch("b", "POLYGON((60 0,70 0,70 10,60 10,60 0),(80 0,85 0,85 5,80 5,80 0))"),
               patch("b", "POLYGON((90 0,100 0,100 10,95 10,95 20,95 10,90 10,90 0))")});
  runCore("1");
  EXPECT_EQ(session().lastOutcome, Outcome::Completed);
  ASSERT_TRUE(shown("frmCoreArea"));
  CoreFile f = readCore(output());
  for (long long fid = 0; fid < 5; ++fid) EXPECT_FALSE(recordsOf(f, fid).empty()) << "patch " << fid;
  EXPECT_DOUBLE_EQ(recordsOf(f, 0).at(0).coreArea, 64.0);
  expectAreasMatchShapes(f);
}

TEST_F(CoreAreaTest, OnTheSampleLandscapeEveryPatchHasItsPiecesAndTheyAddUpToItsCore) {
  const fs::path sample = test::copySample(dir.path());
  // The bundled files are read-only and their copies keep that mode.
  for (const char* suffix : {".shp", ".shx", ".dbf", ".prj"})
    fs::permissions(fs::path(sample).replace_extension(suffix), fs::perms::owner_write, fs::perm_options::add);
  open(sample);
  click("cmdArea");
  ws.onShow("frmFields", [this](WindowModel&) { wb().fields.cmdnoclass_Click(); });
  chooseClasses();
  ws.inputAnswers.push_back("5");
  ws.fileAnswers.push_back(output().string());
  click("cmdCore");
  ASSERT_EQ(session().lastOutcome, Outcome::Completed);

  // Patch by patch: the exact offset of the host layer, split by outer
  // boundary when it has more than one ring, against the records written for
  // that patch. (The offset itself is checked against the definition in the
  // host tests.)
  CoreFile f = readCore(output());
  const std::int64_t patches = table().count();
  long long expectedRecords = 0, split = 0, empty = 0;
  double totalCore = 0;
  for (std::int64_t fid = 0; fid < patches; ++fid) {
    const Offset core = inwardOffset(table().shape(fid), 5);
    const auto records = recordsOf(f, fid);
    const std::size_t pieces = core.shape.ringCount() > 1 ? core.pieces.size() : 1;
    ASSERT_EQ(records.size(), pieces) << "patch " << fid;
    double sum = 0;
    for (const CoreRecord& r : records) sum += r.coreArea;
    EXPECT_NEAR(sum, core.area, 0.0005 * static_cast<double>(pieces)) << "patch " << fid;
    expectedRecords += static_cast<long long>(pieces);
    split += core.shape.ringCount() > 1 ? 1 : 0;
    empty += core.pieces.empty() ? 1 : 0;
    totalCore += core.area;
  }
  EXPECT_EQ(f.count, expectedRecords);
  EXPECT_EQ(window().txtCoreArea.text, text::fixed(totalCore));
  EXPECT_EQ(window().txtINFO.text, "Disjunct core areas: " + std::to_string(split) + " patch(es) of " +
                                       std::to_string(patches) + "\r\nNo core area: " + std::to_string(empty) +
                                       " patch(es)");
  expectAreasMatchShapes(f);
}

// --- where the core shapefile goes ----------------------------------------

TEST_F(CoreAreaTest, OnlyOneTrailingShpIsTakenFromTheFileTitle) {
  openPatches({patch("a", rect(0, 0, 10, 10))});
  runCore("1", (dir / "cores.shp.shp").string());
  EXPECT_TRUE(fs::exists(dir / "cores.shp.shp"));
  EXPECT_FALSE(fs::exists(dir / "cores.shp.shp.shp"));
  EXPECT_EQ(host.document().focusMap().layer(0)->name(), "cores.shp");
  EXPECT_EQ(readCore(dir / "cores.shp.shp").count, 1);
}

TEST_F(CoreAreaTest, AFileTitleWithoutTheLowerCaseShpIsTheWholeName) {
  openPatches({patch("a", rect(0, 0, 10, 10))});
  runCore("1", (dir / "cores").string());
  EXPECT_TRUE(fs::exists(dir / "cores.shp"));
  runCore("1", (dir / "more.SHP").string());
  EXPECT_TRUE(fs::exists(dir / "more.SHP.shp"));
  EXPECT_EQ(host.document().focusMap().layer(0)->name(), "more.SHP");
}

TEST_F(CoreAreaTest, AFolderNamedLikeTheFileTitleKeepsItsName) {
  openPatches({patch("a", rect(0, 0, 10, 10))});
  fs::create_directory(dir / "core_area.shp");
  runCore("1", (dir / "core_area.shp" / "core_area.shp").string());
  EXPECT_EQ(session().lastOutcome, Outcome::Completed);
  EXPECT_EQ(readCore(dir / "core_area.shp" / "core_area.shp").count, 1);
}

TEST_F(CoreAreaTest, AnExistingShapefileOfThatNameIsReplacedWhole) {
  openPatches({patch("a", rect(0, 0, 10, 10)), patch("a", rect(20, 0, 30, 10))});
  std::vector<test::Row> old;
  for (int i = 0; i < 5; ++i) old.push_back({rect(i, 0, i + 1, 1), {std::int64_t{i}}});
  test::writeShapefile(output(), {{"old", 'I', 9}}, old);  // with a coordinate system
  std::ofstream(dir / "core_area.cpg") << "UTF-8";
  ASSERT_TRUE(fs::exists(dir / "core_area.prj"));
  runCore("1");
  EXPECT_EQ(session().lastOutcome, Outcome::Completed);
  CoreFile f = readCore(output());
  EXPECT_EQ(f.fieldNames, (std::vector<std::string>{"Orig_ID", "Core_Area"}));
  EXPECT_EQ(f.count, 2);
  EXPECT_FALSE(f.hasCoordinateSystem);
  EXPECT_FALSE(fs::exists(dir / "core_area.prj"));
  EXPECT_FALSE(fs::exists(dir / "core_area.cpg"));
}

TEST_F(CoreAreaTest, RefusesToReplaceTheAnalysedLayer) {
  if (stores.kind() == test::Store::PostGIS) GTEST_SKIP() << "a core layer never goes into a database";
  openPatches({patch("a", rect(0, 0, 10, 10))});
  const std::string before = analysedLayerBytes();
  runCore("1", stores.kind() == test::Store::GeoPackage ? (dir / "patches.gpkg").string() + ":PATCHES"
                                                        : (dir / "patches.shp").string());
  ASSERT_FALSE(ws.messages.empty());
  const MessageBox& box = ws.messages.back();
  EXPECT_EQ(box.title, "Core Area Shapefile");
  EXPECT_EQ(box.icon, Icon::Exclamation);
  EXPECT_NE(box.text.find("analysed layer \"patches\""), std::string::npos) << box.text;
  EXPECT_EQ(session().lastOutcome, Outcome::Refused);
  EXPECT_FALSE(shown("frmCoreArea"));
  EXPECT_EQ(analysedLayerBytes(), before);
  EXPECT_EQ(host.document().focusMap().layerCount(), 1);
  EXPECT_EQ(table().count(), 1);
}

TEST_F(CoreAreaTest, RefusesToReplaceAnyLayerOfTheMapHoweverThePathIsSpelt) {
  test::writeShapefile(dir / "roads.shp", {{"kind", 'S', 10}}, {{rect(0, 20, 10, 21), {std::string("lane")}}});
  openPatches({patch("a", rect(0, 0, 10, 10))});
  PolygonLayer* analysed = host.document().selectedLayer();
  host.document().addShapefile(dir / "roads.shp");
  host.document().selectItem(analysed);
  const std::string roads = bytesOf("roads.shp") + bytesOf("roads.dbf");
  fs::create_directory(dir / "sub");
  runCore("1", (dir / "sub" / ".." / "roads.shp").string());
  EXPECT_EQ(session().lastOutcome, Outcome::Refused);
  EXPECT_NE(ws.messages.back().text.find("the layer \"roads\""), std::string::npos) << ws.messages.back().text;
  EXPECT_EQ(bytesOf("roads.shp") + bytesOf("roads.dbf"), roads);
  EXPECT_EQ(host.document().focusMap().layerCount(), 2);
}

TEST_F(CoreAreaTest, ASecondRunMayNotReplaceTheCoreLayerItPutInTheMap) {
  openPatches({patch("a", rect(0, 0, 10, 10))});
  runCore("1");
  ASSERT_EQ(session().lastOutcome, Outcome::Completed);
  runCore("2");
  EXPECT_EQ(session().lastOutcome, Outcome::Refused);
  EXPECT_DOUBLE_EQ(readCore(output()).records.at(0).coreArea, 64.0);  // the first run's core
  runCore("2", (dir / "core_area_2.shp").string());
  EXPECT_EQ(session().lastOutcome, Outcome::Completed);
  EXPECT_DOUBLE_EQ(readCore(dir / "core_area_2.shp").records.at(0).coreArea, 36.0);
}

// --- a core layer in a GeoPackage -------------------------------------------

TEST_F(CoreAreaTest, AGeoPackageOutputHoldsTheSameRecordsAsAShapefile) {
  const std::vector<Patch> patches = {patch("a", rect(0, 0, 10, 10)), patch("b", rect(20, 0, 24, 4)),
                                      patch("a", dumbbell(40))};
  openPatches(patches);
  runCore("1");
  ASSERT_EQ(session().lastOutcome, Outcome::Completed);
  const CoreFile shapefile = readCore(output());
  const Rows shapefileRows = rows();
  const std::string shapefileCority = window().txtCority.text;

  runCore("1", (dir / "cores.gpkg").string());  // the layer "core_area" of a new GeoPackage
  ASSERT_EQ(session().lastOutcome, Outcome::Completed);
  const CoreFile gpkg = readCore(dir / "cores.gpkg", "core_area");
  EXPECT_EQ(gpkg.fieldNames, (std::vector<std::string>{"Orig_ID", "Core_Area"}));
  EXPECT_FALSE(gpkg.hasCoordinateSystem);
  ASSERT_EQ(gpkg.count, shapefile.count);
  for (std::size_t i = 0; i < gpkg.records.size(); ++i) {
    EXPECT_EQ(gpkg.records[i].origId, shapefile.records[i].origId);
    EXPECT_EQ(gpkg.records[i].hasShape, shapefile.records[i].hasShape);
    // The shapefile holds the areas to three decimals, the GeoPackage whole.
    EXPECT_NEAR(gpkg.records[i].coreArea, shapefile.records[i].coreArea, 0.0005);
    EXPECT_NEAR(gpkg.records[i].coreArea, gpkg.records[i].shapeArea, 1e-12 * gpkg.records[i].shapeArea);
  }
  EXPECT_EQ(rows(), shapefileRows);
  EXPECT_EQ(window().txtCority.text, shapefileCority);
  // The new layer is on top of the map, the analysed one selected.
  EXPECT_EQ(host.document().focusMap().layer(0)->name(), "core_area");
  EXPECT_EQ(host.document().focusMap().layer(0)->source().kind, LayerSource::Kind::GeoPackage);
  EXPECT_EQ(host.document().focusMap().layer(0)->featureTable().count(), gpkg.count);
  EXPECT_EQ(host.document().selectedLayer()->name(), "patches");

  // Another name after a colon is another layer of the same GeoPackage.
  runCore("2", (dir / "cores.gpkg").string() + ":wide");
  ASSERT_EQ(session().lastOutcome, Outcome::Completed);
  // The exact core, to the offset's guarantee of 1e-6 relative.
  EXPECT_NEAR(readCore(dir / "cores.gpkg", "wide").records.at(0).coreArea, 36.0, 36e-6);
  EXPECT_EQ(readCore(dir / "cores.gpkg", "core_area").count, gpkg.count);
}

TEST_F(CoreAreaTest, AGeoPackageLayerNotInTheMapIsReplacedWhole) {
  openPatches({patch("a", rect(0, 0, 10, 10)), patch("a", rect(20, 0, 30, 10))});
  runCore("1", (dir / "cores.gpkg").string() + ":old");
  ASSERT_EQ(readCore(dir / "cores.gpkg", "old").count, 2);
  // Out of the map, the layer may be replaced.
  host.document().focusMap().layer(0)->setName("taken");
  auto& map = host.document().focusMap();
  FocusMap fresh;
  fresh.addLayer(map.layer(1));
  map = fresh;
  host.document().selectItem(map.layer(0).get());
  runCore("2", (dir / "cores.gpkg").string() + ":old", {"a"});
  ASSERT_EQ(session().lastOutcome, Outcome::Completed);
  const CoreFile f = readCore(dir / "cores.gpkg", "old");
  EXPECT_EQ(f.count, 2);  // the second run's records only
  EXPECT_NEAR(f.records.at(0).coreArea, 36.0, 36e-6);
}

TEST_F(CoreAreaTest, RefusesToReplaceAGeoPackageLayerOfTheMap) {
  openPatches({patch("a", rect(0, 0, 10, 10))});
  runCore("1", (dir / "cores.gpkg").string());
  ASSERT_EQ(session().lastOutcome, Outcome::Completed);
  const std::string before = bytesOf("cores.gpkg");
  fs::create_directory(dir / "sub");
  runCore("2", (dir / "sub" / ".." / "cores.gpkg").string() + ":CORE_AREA");
  EXPECT_EQ(session().lastOutcome, Outcome::Refused);
  EXPECT_EQ(ws.messages.back().title, "Core Area Shapefile");
  EXPECT_NE(ws.messages.back().text.find("The core area layer"), std::string::npos) << ws.messages.back().text;
  EXPECT_NE(ws.messages.back().text.find("the layer \"core_area\""), std::string::npos) << ws.messages.back().text;
  EXPECT_EQ(bytesOf("cores.gpkg"), before);
}

TEST_F(CoreAreaTest, AFileNamedLikeAGeoPackageThatIsNoneIsLeftAlone) {
  openPatches({patch("a", rect(0, 0, 10, 10))});
  { std::ofstream(dir / "notes.gpkg") << "field notes"; }
  runCore("1", (dir / "notes.gpkg").string());
  EXPECT_EQ(session().lastOutcome, Outcome::Failed);
  EXPECT_EQ(ws.messages.back().text, kShapefileError);
  EXPECT_NE(ws.messages.back().detail.find("notes.gpkg"), std::string::npos) << ws.messages.back().detail;
  EXPECT_EQ(bytesOf("notes.gpkg"), "field notes");
  EXPECT_EQ(host.document().focusMap().layerCount(), 1);
}

TEST_F(CoreAreaTest, TheProposedLayerGoesIntoTheAnalysedGeoPackage) {
  if (stores.kind() != test::Store::GeoPackage) GTEST_SKIP() << "the analysed layer is no GeoPackage layer";
  openPatches({patch("a", rect(0, 0, 10, 10)), patch("b", rect(20, 0, 24, 4))});
  // The class selection adds "noclass" in the same GeoPackage first.
  ws.inputAnswers.push_back("1");
  ws.fileAnswers.push_back((dir / "patches.gpkg").string() + ":core_area");
  ws.onShow("frmFields", [this](WindowModel&) { wb().fields.cmdnoclass_Click(); });
  chooseClasses();
  click("cmdCore");
  ASSERT_EQ(session().lastOutcome, Outcome::Completed) << ws.messages.back().detail;
  EXPECT_EQ(readCore(dir / "patches.gpkg", "core_area").count, 2);
  // The analysed layer keeps its features and its new field, and can be
  // written again.
  auto analysed = reopen(dir / "patches.shp");
  EXPECT_EQ(analysed->featureTable().count(), 2);
  EXPECT_GE(analysed->featureTable().findField("noclass"), 0);
  click("cmdArea");
  EXPECT_EQ(session().lastOutcome, Outcome::Completed);
  auto again = reopen(dir / "patches.shp");
  EXPECT_DOUBLE_EQ(std::get<double>(again->featureTable().value(1, again->featureTable().findField("Area"))), 16.0);
}

// --- how a run ends early -------------------------------------------------

TEST_F(CoreAreaTest, ACancelledSaveDialogEndsTheRunQuietly) {
  openPatches({patch("a", rect(0, 0, 10, 10))});
  const auto before = filesInFolder();
  const std::size_t messagesBefore = ws.messages.size();
  ws.inputAnswers.push_back("1");
  ws.fileAnswers.push_back(std::nullopt);
  run("cmdCore");
  EXPECT_EQ(session().lastOutcome, Outcome::Cancelled);
  // Only the class selection spoke.
  for (std::size_t i = messagesBefore; i < ws.messages.size(); ++i)
    EXPECT_EQ(ws.messages[i].text.find("Error"), std::string::npos) << ws.messages[i].text;
  EXPECT_EQ(filesInFolder(), before);
  EXPECT_FALSE(shown("frmCoreArea"));
  EXPECT_FALSE(wb().main.ProgressBar1.visible);
}

TEST_F(CoreAreaTest, AnEmptyDistanceEndsTheRunQuietly) {
  openPatches({patch("a", rect(0, 0, 10, 10))});
  runCore("", output().string());
  EXPECT_EQ(session().lastOutcome, Outcome::Cancelled);
  EXPECT_TRUE(ws.fileDialogs.empty());
  EXPECT_FALSE(fs::exists(output()));
}

TEST_F(CoreAreaTest, ADistanceThatIsNotANumberIsAnErrorBeforeAnyFile) {
  openPatches({patch("a", rect(0, 0, 10, 10))});
  runCore("ten");
  EXPECT_EQ(session().lastOutcome, Outcome::Failed);
  ASSERT_FALSE(ws.messages.empty());
  EXPECT_EQ(ws.messages.back().text, kShapefileError);
  EXPECT_EQ(ws.messages.back().title, kComponentTitle);
  EXPECT_NE(ws.messages.back().detail.find("\"ten\""), std::string::npos) << ws.messages.back().detail;
  EXPECT_TRUE(ws.fileDialogs.empty());
  EXPECT_FALSE(fs::exists(output()));
  EXPECT_FALSE(shown("frmCoreArea"));
}

TEST_F(CoreAreaTest, AMissingOutputFolderIsAnErrorWithItsCause) {
  openPatches({patch("a", rect(0, 0, 10, 10))});
  const std::string before = analysedLayerBytes();
  runCore("1", (dir / "gone" / "core_area.shp").string());
  EXPECT_EQ(session().lastOutcome, Outcome::Failed);
  EXPECT_EQ(ws.messages.back().text, kShapefileError);
  EXPECT_NE(ws.messages.back().detail.find("gone"), std::string::npos) << ws.messages.back().detail;
  EXPECT_EQ(analysedLayerBytes(), before);
  EXPECT_EQ(host.document().focusMap().layerCount(), 1);
}

TEST_F(CoreAreaTest, AnUnwritableOutputFolderIsAnErrorWithItsCause) {
  openPatches({patch("a", rect(0, 0, 10, 10))});
  fs::create_directory(dir / "locked");
  fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
  {
    std::ofstream probe(dir / "locked" / "probe");
    if (probe.good()) {
      probe.close();
      fs::remove(dir / "locked" / "probe");
      fs::permissions(dir / "locked", fs::perms::owner_all);
      GTEST_SKIP() << "this user may write into read-only folders";
    }
  }
  const std::string before = analysedLayerBytes();
  runCore("1", (dir / "locked" / "core_area.shp").string());
  fs::permissions(dir / "locked", fs::perms::owner_all);
  EXPECT_EQ(session().lastOutcome, Outcome::Failed);
  EXPECT_EQ(ws.messages.back().text, kShapefileError);
  EXPECT_NE(ws.messages.back().detail.find("ermission"), std::string::npos) << ws.messages.back().detail;
  EXPECT_EQ(analysedLayerBytes(), before);
  EXPECT_TRUE(fs::is_empty(dir / "locked"));
  EXPECT_FALSE(shown("frmCoreArea"));
}

TEST_F(CoreAreaTest, CancelKeepsTheRecordsWrittenAndTheLayerInTheMap) {
  openPatches({patch("a", rect(0, 0, 10, 10)), patch("a", rect(20, 0, 30, 10)), patch("b", rect(40, 0, 50, 10))});
  presetClasses({"a", "b"});
  cancelAtYield(2);  // at the start of the second class
  ws.inputAnswers.push_back("1");
  ws.fileAnswers.push_back(output().string());
  click("cmdCore");
  EXPECT_EQ(session().lastOutcome, Outcome::Cancelled);
  EXPECT_FALSE(shown("frmCoreArea"));
  EXPECT_FALSE(wb().main.ProgressBar1.visible);
  CoreFile f = readCore(output());
  EXPECT_EQ(f.count, 2);
  ASSERT_EQ(host.document().focusMap().layerCount(), 2);
  EXPECT_EQ(host.document().focusMap().layer(0)->featureTable().count(), 2);

  // The next run starts with an empty list, not after the rows left behind.
  ws.pending = nullptr;
  ws.onProcessEvents = nullptr;
  ws.inputAnswers.push_back("1");
  ws.fileAnswers.push_back((dir / "again.shp").string());
  click("cmdCore");
  EXPECT_EQ(session().lastOutcome, Outcome::Completed);
  EXPECT_EQ(rows().size(), 2u);
}

}  // namespace
}  // namespace quilta
