// Form analysis: shape index, perimeter-area ratio and fractal dimension of
// every patch, written into the table, their class and landscape means, and
// the list of patches whose fractal dimension is implausible.

#include <gtest/gtest.h>

#include <cmath>

#include "tests/metrics/StatisticsFixture.h"

namespace quilta {
namespace {

using test::Patch;
using test::rect;
using test::Rows;

class FormAnalysisTest : public test::StatisticsTest {
 protected:
  frmForm& window() { return ext->results.form; }
  Rows rows() { return window().lstViewClass.rows; }
  // A patch field as stored (reading the file's table).
  double stored(std::int64_t oid, const char* field) {
    const int index = table().findField(field);
    EXPECT_GE(index, 0) << field;
    return std::get<double>(table().value(oid, index));
  }
  // The three values of one patch: Paratio, Shape_Idx, Frac_Dim.
  std::vector<double> formOf(std::int64_t oid) {
    return {stored(oid, "Paratio"), stored(oid, "Shape_Idx"), stored(oid, "Frac_Dim")};
  }
};

constexpr double kPi15 = 3.14159265358979;

// The definitions, for checking the rounded values written.
double shapeIndex(double p, double a) { return p / (2 * std::sqrt(kPi15 * a)); }
double fractal(double p, double a) { return 2 * std::log(p) / std::log(a); }
double round3(double v) { return std::round(v * 1000) / 1000; }

TEST_F(FormAnalysisTest, SquareOfSideTenGetsItsThreeValues) {
  test::writeShapefile(dir / "patches.shp", {{"cover", 'S', 20}}, {{rect(0, 0, 10, 10), {std::string("a")}}});
  open(dir / "patches.shp");
  click("cmdArea");
  run("cdmshpIx");
  ASSERT_TRUE(shown("frmForm"));
  EXPECT_EQ(formOf(0), (std::vector<double>{0.4, 1.128, 1.602}));
  EXPECT_DOUBLE_EQ(round3(shapeIndex(40, 100)), 1.128);
  EXPECT_DOUBLE_EQ(round3(fractal(40, 100)), 1.602);
  EXPECT_EQ(rows(), (Rows{{"a", "1", "1.128", "0.400", "1.602"}}));
  EXPECT_EQ(window().txtNP.text, "1");
  EXPECT_EQ(window().txtMSI.text, "1.128");
  EXPECT_EQ(window().txtMPAR.text, "0.400");
  EXPECT_EQ(window().txtMFRACT.text, "1.602");
  EXPECT_FALSE(window().txtArtefact.visible);
  EXPECT_EQ(session().lastOutcome, Outcome::Completed);
  // No suspicious patch: the report ends with its empty line.
  EXPECT_EQ(saveReport([this] { window().cmdLandscape_Click(); }, "form.txt"), golden("landscape_form_analysis.txt"));
}

TEST_F(FormAnalysisTest, CircleLikePatchHasShapeIndexOne) {
  const double a = 50;
  openPatches({{"a", a, 2 * std::sqrt(kPi15 * a), ""}});
  run("cdmshpIx");
  EXPECT_DOUBLE_EQ(stored(0, "Shape_Idx"), 1.0);
  EXPECT_EQ(rows()[0][2], "1.000");
}

TEST_F(FormAnalysisTest, NewFieldsAreDoublesAndUnanalysedPatchesKeepTheMarker) {
  openPatches({{"a", 100.0, 40.0, ""}, {"b", 100.0, 40.0, ""}});
  run("cdmshpIx", {"a"});
  for (const char* name : {"Paratio", "Shape_Idx", "Frac_Dim"}) {
    const int index = table().findField(name);
    ASSERT_GE(index, 0) << name;
    EXPECT_EQ(table().field(index).type, kDouble) << name;
  }
  EXPECT_EQ(formOf(0), (std::vector<double>{0.4, 1.128, 1.602}));
  EXPECT_EQ(formOf(1), (std::vector<double>{-999, -999, -999}));
  // The values are in the file, not only in memory.
  auto reopened = reopen(dir / "patches.shp");
  FeatureTable& t = reopened->featureTable();
  EXPECT_EQ(std::get<double>(t.value(0, t.findField("Frac_Dim"))), 1.602);
  EXPECT_EQ(std::get<double>(t.value(1, t.findField("Frac_Dim"))), -999);
}

TEST_F(FormAnalysisTest, ExistingFieldIsReusedAndUnreachedValuesStay) {
  test::writeShapefile(dir / "patches.shp",
                       {{"cover", 'S', 20}, {"Area", 'R', 24, 15}, {"Perimeter", 'R', 24, 15}, {"Paratio", 'R', 12, 4}},
                       {{rect(0, 0, 10, 10), {std::string("a"), 100.0, 40.0, 7.0}},
                        {rect(20, 0, 30, 10), {std::string("b"), 100.0, 40.0, 7.0}}});
  open(dir / "patches.shp");
  run("cdmshpIx", {"a"});
  EXPECT_EQ(table().fieldCount(), 2 + 6);
  EXPECT_DOUBLE_EQ(stored(0, "Paratio"), 0.4);
  EXPECT_DOUBLE_EQ(stored(1, "Paratio"), 7.0);
  EXPECT_DOUBLE_EQ(stored(1, "Shape_Idx"), -999);  // created by this run
}

TEST_F(FormAnalysisTest, ExistingTextFieldGetsTheShownText) {
  text::setDecimalSeparator(',');
  test::writeShapefile(dir / "patches.shp",
                       {{"cover", 'S', 20}, {"Area", 'R', 24, 15}, {"Perimeter", 'R', 24, 15}, {"Frac_Dim", 'S', 10}},
                       {{rect(0, 0, 10, 10), {std::string("a"), 100.0, 40.0, std::string("old")}}});
  open(dir / "patches.shp");
  run("cdmshpIx");
  EXPECT_EQ(std::get<std::string>(table().value(0, table().findField("Frac_Dim"))), "1,602");
  EXPECT_DOUBLE_EQ(stored(0, "Paratio"), 0.4);
}

TEST_F(FormAnalysisTest, AreaOfOneHasShapeIndexAndRatioButNoFractalDimension) {
  openPatches({{"a", 1.0, 4.0, ""}, {"a", 100.0, 40.0, ""}});
  run("cdmshpIx");
  EXPECT_EQ(formOf(0), (std::vector<double>{4.0, round3(shapeIndex(4, 1)), -999}));
  // MSI over both patches, MPAR (4 + 0.4) / 2, MFRACT of the large patch only.
  EXPECT_EQ(rows(), (Rows{{"a", "2", "1.128", "2.200", "1.602"}}));
}

TEST_F(FormAnalysisTest, ClassOfZeroAreasShowsTheMarkerForEveryMean) {
  openPatches({{"a", 0.0, 4.0, ""}, {"a", 0.0, 0.0, ""}, {"b", 100.0, 40.0, ""}});
  run("cdmshpIx");
  EXPECT_EQ(rows(), (Rows{{"a", "2", "-999", "-999", "-999"}, {"b", "1", "1.128", "0.400", "1.602"}}));
  EXPECT_EQ(formOf(0), (std::vector<double>{-999, -999, -999}));
  // The landscape means leave the zero-area patches out.
  EXPECT_EQ(window().txtNP.text, "3");
  EXPECT_EQ(window().txtMSI.text, "1.128");
  EXPECT_EQ(window().txtMPAR.text, "0.400");
  EXPECT_EQ(window().txtMFRACT.text, "1.602");
}

TEST_F(FormAnalysisTest, LandscapeMeansWeighEveryPatchAlike) {
  openPatches({{"a", 100.0, 40.0, ""}, {"b", 100.0, 80.0, ""}, {"b", 100.0, 80.0, ""}, {"b", 100.0, 80.0, ""}});
  run("cdmshpIx");
  EXPECT_EQ(rows()[0][3], "0.400");
  EXPECT_EQ(rows()[1][3], "0.800");
  EXPECT_EQ(window().txtMPAR.text, "0.700");  // (0.4 + 3 x 0.8) / 4, not (0.4 + 0.8) / 2
  EXPECT_EQ(window().txtMFRACT.text, text::pattern000((fractal(40, 100) + 3 * fractal(80, 100)) / 4));
}

TEST_F(FormAnalysisTest, SuspiciousPatchesAreListedInTheWarning) {
  // 41 squares of side 10; patches 12 and 40 are slivers (FRACT >= 2).
  std::vector<Patch> patches(41, Patch{"a", 100.0, 40.0, ""});
  patches[12] = {"a", 2.0, 40.2, ""};
  patches[40] = {"a", 2.0, 40.2, ""};
  openPatches(patches);
  run("cdmshpIx");
  ASSERT_TRUE(window().txtArtefact.visible);
  EXPECT_EQ(window().txtArtefact.text,
            "The following patches have a Fractal Dimension >= 2. This may be indicative of\r\n"
            "1) artefacts or sliver polygons\r\n"
            "2) data were captured in a very fine scale (< ~1:1000)\r\n"
            "3) polygons are created by automated processing (e.g. segmentation or classification)\r\n"
            "Patch IDs: 12;40;");
  EXPECT_DOUBLE_EQ(stored(12, "Frac_Dim"), round3(fractal(40.2, 2)));
  // The landscape report carries the warning after its empty line.
  const std::string report = saveReport([this] { window().cmdLandscape_Click(); }, "form.txt");
  EXPECT_NE(report.find("\r\n\r\nThe following patches"), std::string::npos);
  EXPECT_TRUE(report.ends_with("Patch IDs: 12;40;\r\n"));
}

TEST_F(FormAnalysisTest, FractalDimensionOfExactlyTwoIsSuspicious) {
  // P = A = 4: 2 ln 4 / ln 4 = 2.
  openPatches({{"a", 4.0, 4.0, ""}, {"a", 100.0, 40.0, ""}});
  run("cdmshpIx");
  EXPECT_TRUE(window().txtArtefact.visible);
  EXPECT_TRUE(window().txtArtefact.text.ends_with("Patch IDs: 0;"));
}

TEST_F(FormAnalysisTest, DecimalCommaLocaleShowsCommasAndStoresNumbers) {
  text::setDecimalSeparator(',');
  openPatches({{"a", 100.0, 40.0, ""}});
  run("cdmshpIx");
  EXPECT_EQ(rows(), (Rows{{"a", "1", "1,128", "0,400", "1,602"}}));
  EXPECT_EQ(formOf(0), (std::vector<double>{0.4, 1.128, 1.602}));
}

TEST_F(FormAnalysisTest, MissingPerimeterIsRefusedAndCreatesNoField) {
  openPatches({{"a", 100.0, {}, ""}}, true, false);
  run("cdmshpIx");
  ASSERT_EQ(ws.messages.size(), 1u);
  EXPECT_EQ(ws.messages[0].text, "Please calculate Area and Perimeter!");
  EXPECT_EQ(ws.messages[0].title, "No Area/Perimeter field");
  EXPECT_EQ(table().findField("Paratio"), -1);
  EXPECT_EQ(session().lastOutcome, Outcome::Refused);
}

TEST_F(FormAnalysisTest, NegativeAreaFailsWithTheCause) {
  openPatches({{"a", -5.0, 4.0, ""}});
  run("cdmshpIx");
  auto last = lastMessage();
  ASSERT_TRUE(last);
  EXPECT_EQ(last->text, kShapefileError);
  EXPECT_EQ(last->detail, "patch 0 has a negative area");
  EXPECT_FALSE(shown("frmForm"));
  EXPECT_EQ(session().lastOutcome, Outcome::Failed);
}

TEST_F(FormAnalysisTest, ZeroPerimeterOnAPatchWithAreaFails) {
  openPatches({{"a", 5.0, 0.0, ""}});
  run("cdmshpIx");
  auto last = lastMessage();
  ASSERT_TRUE(last);
  EXPECT_EQ(last->text, kShapefileError);
  EXPECT_FALSE(shown("frmForm"));
}

TEST_F(FormAnalysisTest, CancelKeepsTheValuesOfClassesAlreadyDone) {
  openPatches({{"a", 100.0, 40.0, ""}, {"b", 100.0, 40.0, ""}});
  cancelAtYield(2);
  run("cdmshpIx");
  EXPECT_EQ(session().lastOutcome, Outcome::Cancelled);
  EXPECT_FALSE(shown("frmForm"));
  EXPECT_EQ(formOf(0), (std::vector<double>{0.4, 1.128, 1.602}));
  EXPECT_EQ(formOf(1), (std::vector<double>{-999, -999, -999}));
}

}  // namespace
}  // namespace quilta
