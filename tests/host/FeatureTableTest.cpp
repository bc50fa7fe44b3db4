// The host layer as the operations see it: field order and types, the two
// where-clause forms, distinct values, field creation and deletion, read-only
// data sources, layer opening and units, and patch geometry.

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>

#include "host/HostApplication.h"
#include "host/HostError.h"
#include "session/NumberText.h"
#include "session/SessionState.h"
#include "tests/support/Fixtures.h"

namespace quilta {
namespace {

using test::FieldDef;
using test::rect;
using test::Row;
using test::TempDir;

class FeatureTableTest : public ::testing::Test {
 protected:
  TempDir dir;

  // Six patches with a text, an integer and a real class field; patch 5 has
  // NULL values.
  std::shared_ptr<PolygonLayer> classLayer(PolygonLayer::Mode mode = PolygonLayer::Mode::Update) {
    auto shp = dir / "classes.shp";
    test::writeShapefile(shp, {{"cover", 'S', 20}, {"code", 'I', 9}, {"ratio", 'R', 12, 3}},
                         {{rect(0, 0, 1, 1), {std::string("forest"), std::int64_t{10}, 2.5}},
                          {rect(1, 0, 2, 1), {std::string("farmer's field"), std::int64_t{9}, 0.3}},
                          {rect(2, 0, 3, 1), {std::string("forest  "), std::int64_t{10}, 2.5}},
                          {rect(3, 0, 4, 1), {std::string("Forest"), std::int64_t{-1}, 1.0}},
                          {rect(4, 0, 5, 1), {std::string(""), std::int64_t{100}, 0.1 + 0.2}},
                          {rect(5, 0, 6, 1), {}}});
    return PolygonLayer::open(shp, mode);
  }

  static std::vector<std::int64_t> selected(FeatureTable& t, const std::string& where) {
    return t.select(AttributeFilter(where)).oids();
  }
};

TEST_F(FeatureTableTest, FieldsComeInHostOrderWithTypeCodes) {
  auto layer = classLayer();
  FeatureTable& t = layer->featureTable();
  ASSERT_EQ(t.fieldCount(), 5);
  EXPECT_EQ(t.field(0).name, "FID");
  EXPECT_EQ(t.field(0).type, kObjectId);
  EXPECT_EQ(t.field(1).name, "Shape");
  EXPECT_EQ(t.field(1).type, kGeometry);
  EXPECT_EQ(t.field(2).type, kText);
  EXPECT_EQ(t.field(3).type, kLong);
  EXPECT_EQ(t.field(4).type, kDouble);
  EXPECT_EQ(t.findField("COVER"), 2);
  EXPECT_EQ(t.findField("shape"), 1);
  EXPECT_EQ(t.findField("Area"), -1);
  EXPECT_EQ(t.count(), 6);
  EXPECT_EQ(t.geometryType(), 4);
  EXPECT_EQ(std::get<std::int64_t>(t.value(3, 0)), 3);
}

TEST_F(FeatureTableTest, TextClausesCompareAsCharValues) {
  auto layer = classLayer();
  FeatureTable& t = layer->featureTable();
  // Trailing blanks do not count, on either side; letter case does.
  EXPECT_EQ(selected(t, "cover = 'forest '"), (std::vector<std::int64_t>{0, 2}));
  EXPECT_EQ(selected(t, "cover = 'forest'"), (std::vector<std::int64_t>{0, 2}));
  EXPECT_EQ(selected(t, "cover = 'Forest '"), (std::vector<std::int64_t>{3}));
  // A doubled apostrophe stands for one.
  EXPECT_EQ(selected(t, "cover = 'farmer''s field '"), (std::vector<std::int64_t>{1}));
  // A blank cell is NULL in a dBASE table and matches nothing.
  EXPECT_TRUE(selected(t, "cover = ' '").empty());
}

TEST_F(FeatureTableTest, NumericClausesCompareNumbers) {
  auto layer = classLayer();
  FeatureTable& t = layer->featureTable();
  EXPECT_EQ(selected(t, "code = 10"), (std::vector<std::int64_t>{0, 2}));
  EXPECT_EQ(selected(t, "code = -1"), (std::vector<std::int64_t>{3}));
  EXPECT_EQ(selected(t, "ratio = 2.5"), (std::vector<std::int64_t>{0, 2}));
  // A value offered as "0.3" selects the stored 0.30000000000000004 too.
  EXPECT_EQ(selected(t, "ratio = 0.3"), (std::vector<std::int64_t>{1, 4}));
  EXPECT_TRUE(selected(t, "code = 11").empty());
}

TEST_F(FeatureTableTest, ClassesNearTheLargestNumberSelectTheirPatches) {
  // Their 15 significant digits ("1.79769313486232E+308") round past the
  // largest double; the clause still selects the patches shown as them.
  auto layer = classLayer();
  FeatureTable& t = layer->featureTable();
  t.addField("Big", kDouble);
  const int f = t.findField("Big");
  const double largest = std::numeric_limits<double>::max();
  t.setValue(0, f, largest);
  t.setValue(1, f, -largest);
  t.setValue(2, f, 1.5);
  SessionState state;
  state.classFieldName = "Big";
  state.classFieldType = kDouble;
  std::vector<std::vector<std::int64_t>> classes;
  for (const Value& v : t.uniqueValues(f)) classes.push_back(selected(t, ClassClause(state, text::ofValue(v))));
  EXPECT_EQ(classes, (std::vector<std::vector<std::int64_t>>{{1}, {2}, {0}}));
}

TEST_F(FeatureTableTest, SelectionsFollowChangedValues) {
  auto layer = classLayer();
  FeatureTable& t = layer->featureTable();
  EXPECT_EQ(selected(t, "cover = 'forest '"), (std::vector<std::int64_t>{0, 2}));
  EXPECT_EQ(selected(t, "code = 10"), (std::vector<std::int64_t>{0, 2}));
  t.setValue(3, 2, std::string("forest"));
  t.setValue(2, 3, std::int64_t{9});
  EXPECT_EQ(selected(t, "cover = 'forest '"), (std::vector<std::int64_t>{0, 2, 3}));
  EXPECT_EQ(selected(t, "code = 10"), (std::vector<std::int64_t>{0}));
  EXPECT_EQ(selected(t, "code = 9"), (std::vector<std::int64_t>{1, 2}));
  t.addField("Area", kDouble);  // field positions stay valid after a schema change
  EXPECT_EQ(selected(t, "cover = 'Forest '"), std::vector<std::int64_t>{});
  EXPECT_EQ(selected(t, "code = -1"), (std::vector<std::int64_t>{3}));
}

TEST_F(FeatureTableTest, OtherClausesAreRefused) {
  auto layer = classLayer();
  FeatureTable& t = layer->featureTable();
  EXPECT_THROW(selected(t, "code > 3"), HostError);
  EXPECT_THROW(selected(t, "cover = 'open"), HostError);
  EXPECT_THROW(selected(t, "cover = 'it's'"), HostError);
  EXPECT_THROW(selected(t, "nosuch = 1"), HostError);
  EXPECT_THROW(selected(t, "code = ten"), HostError);
}

TEST_F(FeatureTableTest, UniqueValuesAreSortedWithoutNulls) {
  auto layer = classLayer();
  FeatureTable& t = layer->featureTable();
  std::vector<Value> codes = t.uniqueValues(3);
  ASSERT_EQ(codes.size(), 4u);  // -1, 9, 10, 100: numeric order, not text order
  EXPECT_EQ(std::get<std::int64_t>(codes[0]), -1);
  EXPECT_EQ(std::get<std::int64_t>(codes[1]), 9);
  EXPECT_EQ(std::get<std::int64_t>(codes[2]), 10);
  EXPECT_EQ(std::get<std::int64_t>(codes[3]), 100);
  std::vector<Value> covers = t.uniqueValues(2);
  std::vector<std::string> texts;
  for (const auto& v : covers) texts.push_back(std::get<std::string>(v));
  // Byte order: capitals before small letters; "forest  " differs from
  // "forest" only by trailing blanks, which the table drops; blank cells are
  // NULL and left out.
  EXPECT_EQ(texts, (std::vector<std::string>{"Forest", "farmer's field", "forest"}));
}

TEST_F(FeatureTableTest, DoubleFieldsKeepTwelveDigitsFromTinyToHuge) {
  const std::vector<double> values = {1.23456789012345e-9, -4.56789012345678e-9, 123456789.123456,
                                      9.87654321098765e14, -9.99999999999e14,    0.4};
  {
    auto layer = classLayer();
    FeatureTable& t = layer->featureTable();
    t.addField("Metric", kDouble);
    int f = t.findField("Metric");
    for (std::size_t i = 0; i < values.size(); ++i) {
      t.setValue(static_cast<std::int64_t>(i), f, values[i]);
      t.store(static_cast<std::int64_t>(i));
    }
    t.sync();
  }
  auto reopened = PolygonLayer::open(dir / "classes.shp");
  FeatureTable& t = reopened->featureTable();
  int f = t.findField("Metric");
  for (std::size_t i = 0; i < values.size(); ++i) {
    double back = std::get<double>(t.value(static_cast<std::int64_t>(i), f));
    EXPECT_NEAR(back, values[i], std::fabs(values[i]) * 1e-12) << "row " << i;
  }
}

TEST_F(FeatureTableTest, FieldCalculatorPresetsEveryFeature) {
  auto layer = classLayer();
  FeatureTable& t = layer->featureTable();
  t.addField("NNDist", kDouble);
  FieldCalculator::calculate(t, "NNDist", "-999");
  int f = t.findField("NNDist");
  for (std::int64_t oid = 0; oid < t.count(); ++oid) EXPECT_EQ(std::get<double>(t.value(oid, f)), -999.0);
  EXPECT_THROW(FieldCalculator::calculate(t, "NoSuch", "-999"), HostError);
}

TEST_F(FeatureTableTest, IdentifierAndShapeCannotBeDeleted) {
  auto layer = classLayer();
  FeatureTable& t = layer->featureTable();
  EXPECT_THROW(t.deleteField(0), HostError);
  EXPECT_THROW(t.deleteField(1), HostError);
  t.deleteField(t.findField("code"));
  EXPECT_EQ(t.findField("code"), -1);
  EXPECT_EQ(t.findField("ratio"), 3);
  EXPECT_THROW(t.addField("cover", kText), HostError);
}

TEST_F(FeatureTableTest, ReadOnlyLayerRefusesEveryWrite) {
  auto layer = classLayer(PolygonLayer::Mode::ReadOnly);
  FeatureTable& t = layer->featureTable();
  EXPECT_FALSE(t.writable());
  EXPECT_THROW(t.addField("Area", kDouble), HostError);
  EXPECT_THROW(t.deleteField(2), HostError);
  EXPECT_THROW(t.setValue(0, 3, std::int64_t{1}), HostError);
  EXPECT_EQ(std::get<std::int64_t>(t.value(0, 3)), 10);  // reading still works
}

TEST_F(FeatureTableTest, OpeningReportsWhatIsWrong) {
  EXPECT_THROW(PolygonLayer::open(dir / "missing.shp"), HostError);
  {
    std::ofstream junk(dir / "broken.shp", std::ios::binary);
    junk << "this is not a shapefile at all, just some text that is long enough";
  }
  EXPECT_THROW(PolygonLayer::open(dir / "broken.shp"), HostError);
  {
    std::ofstream txt(dir / "notes.txt");
    txt << "x";
  }
  try {
    PolygonLayer::open(dir / "notes.txt");
    FAIL() << "a text file opened as a layer";
  } catch (const HostError& e) {
    EXPECT_NE(std::string(e.what()).find("not a shapefile"), std::string::npos);
  }
  // A shapefile without its attribute table.
  test::writeShapefile(dir / "nodbf.shp", {{"a", 'I'}}, {{rect(0, 0, 1, 1), {std::int64_t{1}}}});
  std::filesystem::remove(dir / "nodbf.dbf");
  EXPECT_THROW(PolygonLayer::open(dir / "nodbf.shp"), HostError);
}

TEST_F(FeatureTableTest, UnitsComeFromTheCoordinateSystem) {
  test::writeShapefile(dir / "metres.shp", {{"a", 'I'}}, {{rect(0, 0, 1, 1), {std::int64_t{1}}}}, 32725);
  test::writeShapefile(dir / "none.shp", {{"a", 'I'}}, {{rect(0, 0, 1, 1), {std::int64_t{1}}}}, 0);
  test::writeShapefile(dir / "degrees.shp", {{"a", 'I'}}, {{rect(0, 0, 1, 1), {std::int64_t{1}}}}, 4326);
  test::writeShapefile(dir / "feet.shp", {{"a", 'I'}}, {{rect(0, 0, 1, 1), {std::int64_t{1}}}}, 2227);
  EXPECT_EQ(PolygonLayer::open(dir / "metres.shp")->unitsCode(), kMeters);
  EXPECT_EQ(PolygonLayer::open(dir / "none.shp")->unitsCode(), kUnitsUndefined);
  EXPECT_EQ(PolygonLayer::open(dir / "degrees.shp")->unitsCode(), kDecimalDegrees);
  EXPECT_EQ(PolygonLayer::open(dir / "feet.shp")->unitsCode(), kFeet);

  HostApplication app;
  app.document().addShapefile(dir / "none.shp");
  app.document().addShapefile(dir / "metres.shp");  // the first layer decides
  EXPECT_EQ(app.document().focusMap().mapUnits(), kUnitsUndefined);
  EXPECT_EQ(app.document().focusMap().layerCount(), 2);
  EXPECT_EQ(app.document().selectedLayer()->name(), "metres");
}

TEST_F(FeatureTableTest, LayersOfPointsAndLinesAreNotPolygons) {
  test::writeShapefile(dir / "points.shp", {{"a", 'I'}}, {{"POINT(1 1)", {std::int64_t{1}}}}, 32725, "point");
  test::writeShapefile(dir / "lines.shp", {{"a", 'I'}}, {{"LINESTRING(0 0,1 1)", {std::int64_t{1}}}}, 32725, "line");
  EXPECT_EQ(PolygonLayer::open(dir / "points.shp")->featureTable().geometryType(), 1);
  EXPECT_EQ(PolygonLayer::open(dir / "lines.shp")->featureTable().geometryType(), 3);
}

TEST_F(FeatureTableTest, ShapesAreReadOncePerFeatureWithNullsEmpty) {
  test::writeShapefile(dir / "holes.shp", {{"a", 'I'}},
                       {{"POLYGON((0 0,0 10,10 10,10 0,0 0),(2 2,4 2,4 4,2 4,2 2))", {std::int64_t{1}}},
                        {"", {std::int64_t{2}}},
                        {"MULTIPOLYGON(((20 0,20 1,21 1,21 0,20 0)),((30 0,30 2,32 2,32 0,30 0)))", {std::int64_t{3}}}});
  auto layer = PolygonLayer::open(dir / "holes.shp");
  FeatureTable& t = layer->featureTable();
  const Polygon& holed = t.shape(0);
  EXPECT_DOUBLE_EQ(holed.area(), 96.0);
  EXPECT_DOUBLE_EQ(holed.length(), 48.0);  // the hole's ring counts
  EXPECT_EQ(holed.ringCount(), 2);
  EXPECT_TRUE(t.shape(1).isEmpty());
  EXPECT_EQ(t.shape(2).exteriorParts().size(), 2u);
  EXPECT_DOUBLE_EQ(t.shape(2).area(), 5.0);
  EXPECT_DOUBLE_EQ(t.shape(0).distance(t.shape(2)), 10.0);
  EXPECT_THROW(t.shape(0).distance(t.shape(1)), HostError);
  EXPECT_DOUBLE_EQ(layer->extentWidth(), 32.0);
  EXPECT_DOUBLE_EQ(layer->extentHeight(), 10.0);
}

TEST(PolygonTest, PartsKeepTheirHolesAndBuffersShrink) {
  Polygon p = Polygon::fromWkt(
      "MULTIPOLYGON(((0 0,0 10,10 10,10 0,0 0),(2 2,4 2,4 4,2 4,2 2)),((20 0,20 4,24 4,24 0,20 0)))");
  auto parts = p.exteriorParts();
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_DOUBLE_EQ(parts[0].area() + parts[1].area(), p.area());
  EXPECT_EQ(p.ringCount(), 3);
  Polygon core = Polygon::fromWkt(rect(0, 0, 10, 10)).buffer(-1);
  EXPECT_NEAR(core.area(), 64.0, 1e-9);
  EXPECT_TRUE(Polygon::fromWkt(rect(0, 0, 1, 1)).buffer(-1).isEmpty());
  EXPECT_TRUE(Polygon::fromWkt(rect(0, 0, 1, 1)).intersects(Polygon::fromWkt(rect(1, 1, 2, 2))));
  EXPECT_THROW(Polygon::fromWkt("POLYGON((0 0, 1"), HostError);
}

}  // namespace
}  // namespace quilta
