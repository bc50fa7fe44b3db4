// Patches that are not valid polygons are analysed as they are, and the run
// says so once, naming up to ten of them.

#include <gtest/gtest.h>

#include "tests/support/ToolFixture.h"

namespace quilta::test {
namespace {

class InvalidPatchTest : public ToolTest {
 protected:
  // `bowTies` self-intersecting patches after one sound square.
  void openLayer(int bowTies) {
    std::vector<Row> rows = {{rect(0, 0, 10, 10), {std::string("a")}}};
    for (int i = 0; i < bowTies; ++i) {
      const double x = 20.0 * (i + 1);
      rows.push_back({"POLYGON ((" + std::to_string(x) + " 0, " + std::to_string(x + 10) + " 10, " +
                          std::to_string(x + 10) + " 0, " + std::to_string(x) + " 10, " + std::to_string(x) + " 0))",
                      {std::string("a")}});
    }
    writeShapefile(dir / "ties.shp", {{"cover", 'S', 10}}, rows);
    open(dir / "ties.shp");
  }
  std::vector<std::string> warnings() {
    std::vector<std::string> out;
    for (const auto& m : ws.messages)
      if (m.title == "Invalid patches") out.push_back(m.text);
    return out;
  }
};

TEST_F(InvalidPatchTest, BowTiesAreMeasuredAndReportedOncePerRunNamingAtMostTen) {
  openLayer(12);
  click("cmdArea");
  run("cmdClasses");
  EXPECT_EQ(Outcome::Completed, session().lastOutcome);
  ASSERT_EQ(warnings().size(), 1u);
  const std::string text = warnings()[0];
  EXPECT_NE(text.find(": 12."), std::string::npos) << text;
  EXPECT_NE(text.find("FID: 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, ..."), std::string::npos) << text;
  // Analysed as today: the bow-tie's signed halves cancel.
  EXPECT_EQ(table().value(1, table().findField("Area")), Value(0.0));
}

TEST_F(InvalidPatchTest, SoundPatchesGiveNoWarning) {
  openLayer(0);
  click("cmdArea");
  EXPECT_TRUE(warnings().empty());
}

}  // namespace
}  // namespace quilta::test
