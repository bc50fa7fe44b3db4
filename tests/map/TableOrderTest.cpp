// The attribute table sorted by a column: empty values first, numbers by
// value, ties in identifier order both ways.

#include <gtest/gtest.h>

#include "host/HostApplication.h"
#include "host/HostError.h"
#include "map/TableOrder.h"
#include "tests/support/Fixtures.h"

namespace quilta::map {
namespace {

TEST(TableOrderTest, SortsByNumbersAndTextsKeepingTiesInIdentifierOrder) {
  test::TempDir dir;
  std::vector<test::Row> rows;
  const std::vector<std::pair<Value, Value>> values = {{2.5, Value(std::string("b"))},
                                                       {Value{}, Value(std::string("a"))},
                                                       {-999.0, Value{}},
                                                       {2.5, Value(std::string("B"))},
                                                       {10.0, Value(std::string("b"))}};
  double x = 0;
  for (const auto& [metric, name] : values) {
    rows.push_back({test::rect(x, 0, x + 1, 1), {metric, name}});
    x += 2;
  }
  test::writeShapefile(dir / "t.shp", {{"NNDist", 'R', 19, 6}, {"name", 'S', 8}}, rows);
  HostApplication host;
  FeatureTable& t = host.document().addShapefile(dir / "t.shp").featureTable();
  const int metric = t.findField("NNDist"), name = t.findField("name");

  // Numbers by value (10 after 2.5, not before it as text would be).
  EXPECT_EQ(sortedByField(t, metric, true), (std::vector<std::int64_t>{1, 2, 0, 3, 4}));
  // Descending reverses the values; the two 2.5 stay in identifier order.
  EXPECT_EQ(sortedByField(t, metric, false), (std::vector<std::int64_t>{4, 0, 3, 2, 1}));
  // Texts by their bytes: "B" before "a" before "b".
  EXPECT_EQ(sortedByField(t, name, true), (std::vector<std::int64_t>{2, 3, 1, 0, 4}));
  EXPECT_EQ(sortedByField(t, 0, false), (std::vector<std::int64_t>{4, 3, 2, 1, 0}));
  EXPECT_EQ(sortedByField(t, 1, false), (std::vector<std::int64_t>{0, 1, 2, 3, 4}));  // the shape
  EXPECT_THROW(sortedByField(t, 9, true), HostError);
}

}  // namespace
}  // namespace quilta::map
