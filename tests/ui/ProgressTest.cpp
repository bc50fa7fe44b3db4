// Tests of the progress within a step: the arithmetic of Workbench::progress
// over steps and items, and what a front end sees while an operation works
// through the patches of its classes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/ToolFixture.h"

namespace quilta::test {
namespace {

class ProgressTest : public ToolTest {
 protected:
  // A row of `count` unit squares of class `cover`, then of the next class.
  void openRow(const std::vector<std::pair<std::string, int>>& classes) {
    std::vector<Row> rows;
    double x = 0;
    for (const auto& [cover, count] : classes)
      for (int i = 0; i < count; ++i, x += 2) {
        Row row;
        row.wkt = rect(x, 0, x + 1, 1);
        row.values.emplace_back(std::in_place_type<std::string>, cover);
        rows.push_back(row);
      }
    writeShapefile(dir / "patches.shp", {{"cover", 'S', 20}}, rows);
    open(dir / "patches.shp");
  }
};

TEST_F(ProgressTest, ItemsDivideTheirStep) {
  openRow({{"a", 1}});
  Workbench& w = wb();
  w.arm(4);
  EXPECT_EQ(0, w.progress().fraction);
  w.step();
  EXPECT_EQ(0, w.progress().fraction);  // step 1 begun, nothing of it done
  w.beginItems(10);
  for (int i = 0; i < 5; ++i) w.poll();
  Workbench::Progress p = w.progress();
  EXPECT_EQ(1, p.step);
  EXPECT_EQ(4, p.steps);
  EXPECT_EQ(5, p.item);
  EXPECT_EQ(10, p.items);
  EXPECT_DOUBLE_EQ(0.125, p.fraction);
  // More polls than items (an operation that polls twice per patch) do not
  // run into the next step.
  for (int i = 0; i < 20; ++i) w.poll();
  EXPECT_EQ(10, w.progress().item);
  EXPECT_DOUBLE_EQ(0.25, w.progress().fraction);
  w.step();
  p = w.progress();
  EXPECT_EQ(0, p.item);
  EXPECT_EQ(0, p.items);
  EXPECT_DOUBLE_EQ(0.25, p.fraction);
  // Polls of a step without items count nothing.
  w.poll();
  EXPECT_DOUBLE_EQ(0.25, w.progress().fraction);
  w.arm(3);
  EXPECT_EQ(0, w.progress().items);
  EXPECT_EQ(0, w.progress().fraction);
}

TEST_F(ProgressTest, ABarSetDirectlyIsItsOwnProgress) {
  // Operations over all features move the bar once per feature.
  openRow({{"a", 1}});
  wb().arm(8);
  wb().main.ProgressBar1.value = 2;
  EXPECT_DOUBLE_EQ(0.25, wb().progress().fraction);
}

TEST_F(ProgressTest, AFrontEndSeesTheProgressInsideAClass) {
  // 600 patches poll past two yields (every 256 patches) inside the class.
  openRow({{"a", 600}, {"b", 3}});
  std::vector<Workbench::Progress> seen;
  ws.pending = [] { return true; };
  ws.onProcessEvents = [&] {
    if (wb().main.ProgressBar1.visible) seen.push_back(wb().progress());
  };
  run("cmdClasses");
  ASSERT_EQ(Outcome::Completed, session().lastOutcome);
  bool insideFirst = false;
  for (std::size_t i = 0; i < seen.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(2, seen[i].steps);
    if (i) {
      EXPECT_GE(seen[i].fraction, seen[i - 1].fraction);
    }
    if (seen[i].step == 1 && seen[i].item > 0) {
      insideFirst = true;
      EXPECT_EQ(600, seen[i].items);
      EXPECT_LT(seen[i].item, 600);
      EXPECT_DOUBLE_EQ(0.5 * static_cast<double>(seen[i].item) / 600, seen[i].fraction);
    }
  }
  EXPECT_TRUE(insideFirst);
}

TEST_F(ProgressTest, CancelInsideAClassStopsAtThatPatch) {
  openRow({{"a", 600}});
  chooseField("cover");
  chooseClasses();
  ws.pending = [] { return true; };
  ws.onProcessEvents = [this] {
    if (wb().progress().item > 0) click("cmdCancel");
  };
  click("cmdClasses");
  EXPECT_EQ(Outcome::Cancelled, session().lastOutcome);
  const int field = table().findField("NNDist");
  ASSERT_GE(field, 0);
  int computed = 0;
  for (std::int64_t oid = 0; oid < 600; ++oid) computed += Feature(table(), oid).number(field) != -999;
  EXPECT_GT(computed, 0);
  EXPECT_LT(computed, 600);
}

}  // namespace
}  // namespace quilta::test
