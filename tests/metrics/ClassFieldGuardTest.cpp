// Tests of the refusal of a class field that the operation would overwrite:
// every operation that writes patch fields refuses before it writes anything,
// letter case of the field name ignored.

#include <gtest/gtest.h>

#include "host/FeatureTable.h"
#include "metrics/WrittenFields.h"
#include "tests/support/ToolFixture.h"

namespace quilta::test {
namespace {

class ClassFieldGuardTest : public ToolTest {
 protected:
  // A layer of two patches whose text fields are named like the fields of
  // the operations (and "Area", "Perimeter", "NN*" as numbers, so that every
  // operation finds what it needs).
  void openLayer(const std::string& classField) {
    std::vector<FieldDef> fields = {{classField, 'S', 12}, {"Area", 'R', 24, 15}, {"Perimeter", 'R', 24, 15}};
    const bool nn = classField.rfind("NN", 0) == 0;
    if (!nn) fields.insert(fields.end(), {{"NNDist", 'R', 24, 15}, {"NNId", 'R', 24, 15}, {"NN_Area", 'R', 24, 15}});
    std::vector<Row> rows;
    for (int i = 0; i < 2; ++i) {
      Row row{rect(i * 20, 0, i * 20 + 10, 10), {std::string(i ? "b" : "a"), 100.0, 40.0}};
      if (!nn) row.values.insert(row.values.end(), {10.0, static_cast<double>(1 - i), 100.0});
      rows.push_back(row);
    }
    writeShapefile(dir / "guard.shp", fields, rows);
    open(dir / "guard.shp");
    chooseField(classField);
    chooseClasses();
    ws.defaultInput = [](const InputBox&) { return std::optional<std::string>("10"); };
  }
  std::vector<std::string> fieldNames() {
    std::vector<std::string> names;
    for (int i = 0; i < table().fieldCount(); ++i) names.push_back(table().field(i).name);
    return names;
  }
};

struct GuardCase {
  std::string button, field;
};

class ClassFieldGuardEveryOperationTest : public ClassFieldGuardTest,
                                          public ::testing::WithParamInterface<GuardCase> {};

TEST_P(ClassFieldGuardEveryOperationTest, RefusesAClassFieldItWouldWriteBeforeWritingAnything) {
  QUILTA_SHAPEFILE_ONLY();
  const auto& [button, field] = GetParam();
  openLayer(field);
  const auto fieldsBefore = fieldNames();
  const Value first = table().value(0, table().findField(field));
  click(button);
  EXPECT_EQ(Outcome::Refused, session().lastOutcome);
  ASSERT_FALSE(ws.messages.empty());
  EXPECT_EQ(ws.messages.back().text, classFieldOverwrittenText(field, operationCaption(wb(), button)));
  EXPECT_EQ(fieldNames(), fieldsBefore);
  auto again = reopen(dir / "guard.shp");
  EXPECT_EQ(again->featureTable().value(0, again->featureTable().findField(field)), first);
}

INSTANTIATE_TEST_SUITE_P(Operations, ClassFieldGuardEveryOperationTest,
                         ::testing::Values(GuardCase{"cmdClasses", "NNDist"}, GuardCase{"cmdClasses", "nn_area"},
                                           GuardCase{"cdmshpIx", "Shape_Idx"}, GuardCase{"cmdDissolveID", "DissolveID"},
                                           GuardCase{"cmdPXfrag", "PXfg_10"}, GuardCase{"cmdPX94", "PX94_10"},
                                           GuardCase{"cmdPX", "px92_10"}));

TEST_F(ClassFieldGuardTest, TheFieldsOfEachOperationAreNamedOnce) {
  EXPECT_EQ(fieldsWrittenBy("cmdArea"), (std::vector<std::string>{"Area", "Perimeter"}));
  EXPECT_EQ(fieldsWrittenBy("cmdPX", "5"), std::vector<std::string>{"PX92_5"});
  EXPECT_TRUE(fieldsWrittenBy("cmdPX").empty());  // the suffix is not known yet
  EXPECT_TRUE(fieldsWrittenBy("cmdAreaForm").empty());
}

}  // namespace
}  // namespace quilta::test
