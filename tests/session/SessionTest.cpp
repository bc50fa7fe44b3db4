// The class clause and the text forms of numbers.

#include <gtest/gtest.h>

#include "session/NumberText.h"
#include "session/SessionState.h"

namespace quilta {
namespace {

class NumberTextTest : public ::testing::Test {
 protected:
  void TearDown() override { text::setDecimalSeparator(0); }
};

TEST(ClassClauseTest, TextValuesAreQuotedWithATrailingBlank) {
  SessionState s;
  s.classFieldName = "landuse";
  s.classFieldType = 4;
  EXPECT_EQ(ClassClause(s, "forest"), "landuse = 'forest '");
  // An apostrophe is doubled so the clause stays one literal.
  EXPECT_EQ(ClassClause(s, "farmer's field"), "landuse = 'farmer''s field '");
  EXPECT_EQ(ClassClause(s, "2,5"), "landuse = '2,5 '");  // no comma replacement in text
}

TEST(ClassClauseTest, NumericValuesUseAPoint) {
  SessionState s;
  s.classFieldName = "code";
  s.classFieldType = 3;
  EXPECT_EQ(ClassClause(s, "2,5"), "code = 2.5");
  EXPECT_EQ(ClassClause(s, "12"), "code = 12");
  s.classFieldType = 1;
  EXPECT_EQ(ClassClause(s, "-3"), "code = -3");
}

TEST_F(NumberTextTest, FixedPatternsRoundHalfAwayFromZero) {
  text::setDecimalSeparator('.');
  EXPECT_EQ(text::fixed(1.0), "1.00");
  EXPECT_EQ(text::fixed(0.125), "0.13");
  EXPECT_EQ(text::fixed(2.675), "2.68");  // as typed, not as the binary value
  EXPECT_EQ(text::fixed(-0.004), "0.00");
  EXPECT_EQ(text::fixed(-1.005), "-1.01");
  EXPECT_EQ(text::fixed(99.995), "100.00");
  EXPECT_EQ(text::fixed(40000.0), "40000.00");
  EXPECT_EQ(text::fixed(1234567.891), "1234567.89");  // no digit grouping
  EXPECT_EQ(text::pattern000(1.6020599913279623), "1.602");
  EXPECT_EQ(text::pattern000(0.4), "0.400");
  EXPECT_EQ(text::pattern00(80.0), "80.00");
}

TEST_F(NumberTextTest, GeneralConversionDropsFractionsOfWholeNumbers) {
  text::setDecimalSeparator('.');
  EXPECT_EQ(text::general(12.0), "12");
  EXPECT_EQ(text::general(2.5), "2.5");
  EXPECT_EQ(text::general(0.1 + 0.2), "0.3");
  EXPECT_EQ(text::general(-0.0), "0");
  EXPECT_EQ(text::general(123456789012345.0), "123456789012345");
  EXPECT_EQ(text::general(1.5e20), "1.5E+20");
  EXPECT_EQ(text::count(413), "413");
  EXPECT_EQ(text::ofValue(Value{}), "");
  EXPECT_EQ(text::ofValue(Value{std::int64_t{7}}), "7");
  EXPECT_EQ(text::ofValue(Value{std::string("slope")}), "slope");
}

TEST_F(NumberTextTest, DecimalCommaLocale) {
  text::setDecimalSeparator(',');
  EXPECT_EQ(text::fixed(37.5), "37,50");
  EXPECT_EQ(text::general(2.5), "2,5");
  EXPECT_EQ(text::pattern000(0.5623), "0,562");
  EXPECT_EQ(text::parse("2,5"), 2.5);
  EXPECT_EQ(text::parse("2.5"), 2.5);  // a point is understood too
}

TEST_F(NumberTextTest, ParsingTypedNumbers) {
  text::setDecimalSeparator('.');
  EXPECT_EQ(text::parse(" 10 "), 10.0);
  EXPECT_EQ(text::parse("-2.5"), -2.5);
  EXPECT_EQ(text::parse("+3"), 3.0);
  EXPECT_EQ(text::parse("1e3"), 1000.0);
  EXPECT_FALSE(text::parse(""));
  EXPECT_FALSE(text::parse("ten"));
  EXPECT_FALSE(text::parse("10 m"));
  EXPECT_FALSE(text::parse("inf"));
  EXPECT_FALSE(text::parse("nan"));
}

}  // namespace
}  // namespace quilta
