// An operation that fails half way through adding its fields leaves none of
// them: "Area" does not stay without "Perimeter".

#include <gtest/gtest.h>

#include "tests/support/ToolFixture.h"

namespace quilta::test {
namespace {

using HalfSchemaChangeTest = ToolTest;

TEST_F(HalfSchemaChangeTest, AFailedAreaPerimeterRunAddsNeitherField) {
  QUILTA_SHAPEFILE_ONLY();
  // 254 fields: "Area" is the 255th a dBASE table can have, "Perimeter" is refused.
  std::vector<FieldDef> fields;
  Row row{rect(0, 0, 10, 10), {}};
  for (int i = 0; i < 254; ++i) {
    fields.push_back({"f" + std::to_string(i), 'I', 2});
    row.values.emplace_back(std::int64_t{i % 10});
  }
  writeShapefile(dir / "wide.shp", fields, {row});
  open(dir / "wide.shp");
  click("cmdArea");
  EXPECT_EQ(Outcome::Failed, session().lastOutcome);
  ASSERT_FALSE(ws.messages.empty());
  EXPECT_NE(ws.messages.back().detail.find("255 fields"), std::string::npos) << ws.messages.back().detail;
  auto again = reopen(dir / "wide.shp");
  EXPECT_EQ(again->featureTable().findField("Area"), -1);
  EXPECT_EQ(again->featureTable().findField("Perimeter"), -1);
  EXPECT_EQ(table().findField("Area"), -1);
  // The layer stays usable in the session.
  EXPECT_EQ(table().value(0, table().findField("f3")), Value(std::int64_t{3}));
}

}  // namespace
}  // namespace quilta::test
