// A cancel that comes while the field deletion window is answered (Ctrl-C
// on the command line) deletes nothing and ends the deletion as cancelled.

#include <gtest/gtest.h>

#include "tests/support/ToolFixture.h"

namespace quilta::test {
namespace {

using DeleteFieldsCancelTest = ToolTest;

TEST_F(DeleteFieldsCancelTest, ACancelBeforeTheDeletionDeletesNothing) {
  writeShapefile(dir / "d.shp", {{"cover", 'S', 5}, {"Area", 'R'}}, {{rect(0, 0, 1, 1), {std::string("a"), 1.0}}});
  open(dir / "d.shp");
  ws.onShow("frmDelFields", [this](WindowModel&) {
    auto& w = wb().delFields;
    for (std::size_t i = 0; i < w.lstDelFlds.items.size(); ++i)
      if (w.lstDelFlds.items[i] == "Area") w.lstDelFlds.click(i);
    w.cmdDelFlds_Click();
  });
  cancelAtYield(1);
  click("cmdDelFlds");
  EXPECT_EQ(Outcome::Cancelled, session().lastOutcome);
  EXPECT_GE(table().findField("Area"), 0);
  EXPECT_GE(reopen(dir / "d.shp")->featureTable().findField("Area"), 0);
  EXPECT_EQ(messagesWith("Calculation finished!"), 0);
}

}  // namespace
}  // namespace quilta::test
