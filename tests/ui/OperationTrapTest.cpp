// The error trap of an operation: running out of memory is reported as out of
// memory, not as a damaged file, and ends the operation as failed.

#include <gtest/gtest.h>

#include <new>

#include "tests/support/ToolFixture.h"
#include "ui/Operation.h"

namespace quilta::test {
namespace {

using OperationTrapTest = ToolTest;

TEST_F(OperationTrapTest, OutOfMemoryIsReportedAsSuch) {
  writeShapefile(dir / "t.shp", {{"cover", 'S', 5}}, {{rect(0, 0, 1, 1), {std::string("a")}}});
  open(dir / "t.shp");
  runOperation(wb(), kShapefileError, [] { throw std::bad_alloc(); });
  EXPECT_EQ(Outcome::Failed, session().lastOutcome);
  ASSERT_FALSE(ws.messages.empty());
  EXPECT_EQ(ws.messages.back().text, kShapefileError);
  EXPECT_EQ(ws.messages.back().detail, kOutOfMemory);
}

}  // namespace
}  // namespace quilta::test
