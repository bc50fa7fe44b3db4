// Thematic classes: the breaks of graduated styles against their definitions
// (brute force over random data), categories in value order with a stable
// palette, and the "no value" class for -999 and empty values.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "host/HostApplication.h"
#include "host/HostError.h"
#include "map/Classification.h"
#include "tests/support/Fixtures.h"

namespace quilta::map {
namespace {

using test::rect;

constexpr Rgb kRed{200, 0, 0};

// Relative luminance, enough to tell light from dark.
double luminance(const Rgb& c) { return 0.2126 * c.r + 0.7152 * c.g + 0.0722 * c.b; }

TEST(BreaksTest, EqualIntervalsCutTheRangeEvenly) {
  EXPECT_EQ(equalIntervalBreaks(0, 10, 5), (std::vector<double>{2, 4, 6, 8, 10}));
  EXPECT_EQ(equalIntervalBreaks(-5, 5, 2), (std::vector<double>{0, 5}));
  EXPECT_EQ(equalIntervalBreaks(3, 3, 7), std::vector<double>{3});  // one value, one class
  // The last bound is the largest value exactly, whatever the rounding.
  const auto b = equalIntervalBreaks(0.1, 0.7, 3);
  ASSERT_EQ(b.size(), 3u);
  EXPECT_EQ(b.back(), 0.7);
}

TEST(BreaksTest, ABoundBelongsToTheLowerClass) {
  const std::vector<double> bounds{2, 4, 6};
  EXPECT_EQ(classOf(-100, bounds), 0u);
  EXPECT_EQ(classOf(2, bounds), 0u);
  EXPECT_EQ(classOf(2.0000001, bounds), 1u);
  EXPECT_EQ(classOf(6, bounds), 2u);
  EXPECT_EQ(classOf(7, bounds), 2u);  // beyond the last bound: the last class
}

TEST(BreaksTest, QuantilesOfOneToTen) {
  std::vector<double> values{7, 3, 10, 1, 5, 2, 9, 8, 4, 6};
  EXPECT_EQ(quantileBreaks(values, 5), (std::vector<double>{2, 4, 6, 8, 10}));
  EXPECT_EQ(quantileBreaks(values, 3), (std::vector<double>{4, 7, 10}));  // ranks 4, 7, 10
  EXPECT_TRUE(quantileBreaks({}, 5).empty());
  // Many equal values: repeated bounds merge into fewer classes.
  EXPECT_EQ(quantileBreaks({1, 1, 1, 1, 1, 1, 2, 3, 4, 5}, 5), (std::vector<double>{1, 3, 5}));
}

TEST(BreaksTest, QuantilesMergeBoundsThatDifferByRoundingNoise) {
  // Distances measured between raster-made patches: one value with
  // different last bits.
  const std::vector<double> values{0, 0, 0, 89.9940673494712, 89.99406734947125, 2099};
  EXPECT_EQ(quantileBreaks(values, 5), (std::vector<double>{0, 89.99406734947125, 2099}));
  // Values a millionth apart stay apart.
  EXPECT_EQ(quantileBreaks({1, 1.000001, 2}, 3), (std::vector<double>{1, 1.000001, 2}));
}

TEST(BreaksTest, QuantilesMatchTheirDefinitionOnRandomData) {
  std::mt19937 rng(5);
  for (int round = 0; round < 200; ++round) {
    const int n = 1 + static_cast<int>(rng() % 60);
    const int classes = 5 + static_cast<int>(rng() % 5);
    std::vector<double> values;
    for (int i = 0; i < n; ++i) values.push_back(static_cast<double>(rng() % 12));  // ties on purpose
    // Bound k: the smallest value with at least k/classes of the values at or
    // below it; repeats dropped.
    std::vector<double> expected;
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    for (int k = 1; k <= classes; ++k) {
      for (double v : sorted) {
        const auto atOrBelow = std::count_if(values.begin(), values.end(), [v](double x) { return x <= v; });
        if (atOrBelow * classes >= static_cast<long>(k) * n) {
          if (expected.empty() || v > expected.back()) expected.push_back(v);
          break;
        }
      }
    }
    ASSERT_EQ(quantileBreaks(values, classes), expected) << "round " << round;
  }
}

TEST(PaletteTest, TwelveDistinctColoursThenPatterns) {
  std::set<std::tuple<int, int, int>> seen;
  for (std::size_t i = 0; i < kQualitativeColours; ++i) {
    const Symbol s = qualitativeSymbol(i);
    EXPECT_EQ(s.pattern, FillPattern::Solid);
    EXPECT_NE(s.fill, kNoValueGrey);
    seen.insert({s.fill.r, s.fill.g, s.fill.b});
  }
  EXPECT_EQ(seen.size(), kQualitativeColours);
  // The thirteenth category repeats the first colour under a pattern; every
  // one of the first 48 symbols is distinct.
  EXPECT_EQ(qualitativeSymbol(12).fill, qualitativeSymbol(0).fill);
  EXPECT_NE(qualitativeSymbol(12).pattern, FillPattern::Solid);
  std::vector<Symbol> first48;
  for (std::size_t i = 0; i < kQualitativeColours * kPatterns; ++i) first48.push_back(qualitativeSymbol(i));
  for (std::size_t i = 0; i < first48.size(); ++i)
    for (std::size_t j = i + 1; j < first48.size(); ++j) EXPECT_FALSE(first48[i] == first48[j]) << i << " " << j;
}

TEST(PaletteTest, SequentialRampsRunFromLightToDark) {
  for (int n = kMinClasses; n <= kMaxClasses; ++n) {
    const auto colours = sequentialColours(n);
    ASSERT_EQ(colours.size(), static_cast<std::size_t>(n));
    for (std::size_t i = 1; i < colours.size(); ++i)
      EXPECT_LT(luminance(colours[i]), luminance(colours[i - 1])) << n << " classes, class " << i;
    for (const Rgb& c : colours) EXPECT_NE(c, kNoValueGrey);
  }
}

// A layer of unit squares with a text class, a whole-number code and a
// patch metric holding -999 and empty values.
class SymbolizeTest : public ::testing::Test {
 protected:
  test::TempDir dir;
  HostApplication host;

  // One patch per call: the cover text ("" for empty), the code and the metric.
  struct Patch {
    std::string cover;
    Value code;
    Value metric;
  };
  FeatureTable& layer(const std::vector<Patch>& patches) {
    std::vector<test::Row> rows;
    double x = 0;
    for (const Patch& p : patches) {
      rows.push_back({rect(x, 0, x + 1, 1), {p.cover.empty() ? Value() : Value(p.cover), p.code, p.metric}});
      x += 2;
    }
    test::writeShapefile(dir / "patches.shp", {{"cover", 'S', 12}, {"code", 'I', 6}, {"NNDist", 'R', 19, 6}}, rows);
    return host.document().addShapefile(dir / "patches.shp").featureTable();
  }
  static Patch metric(double v) { return Patch{"a", Value(std::int64_t{0}), Value(v)}; }
  static std::vector<std::string> labels(const Symbology& s) {
    std::vector<std::string> out;
    for (const auto& e : s.legend) out.push_back(e.label);
    return out;
  }
  static std::vector<std::int64_t> counts(const Symbology& s) {
    std::vector<std::int64_t> out;
    for (const auto& e : s.legend) out.push_back(e.patches);
    return out;
  }
};

TEST_F(SymbolizeTest, CategoriesInValueOrderWithNoValueLast) {
  FeatureTable& t = layer({{"water", Value(std::int64_t{3}), Value(1.0)},
                           {"forest", Value(std::int64_t{1}), Value(2.0)},
                           {"", Value(std::int64_t{-999}), Value(3.0)},
                           {"water", Value(), Value(4.0)}});
  const Symbology byCover = symbolize(t, Style{StyleKind::Categories, "cover"}, kRed);
  // The empty text field is "no value"; the rest sorted by bytes.
  EXPECT_EQ(labels(byCover), (std::vector<std::string>{"forest", "water", "no value"}));
  EXPECT_EQ(counts(byCover), (std::vector<std::int64_t>{1, 2, 1}));
  EXPECT_EQ(byCover.classes, (std::vector<std::int32_t>{1, 0, 2, 1}));
  EXPECT_EQ(byCover.legend[0].symbol, qualitativeSymbol(0));
  EXPECT_EQ(byCover.legend[1].symbol, qualitativeSymbol(1));
  EXPECT_TRUE(byCover.legend[2].noValue);
  EXPECT_EQ(byCover.legend[2].symbol.fill, kNoValueGrey);

  // Numbers in numeric order; -999 and the empty value are "no value".
  const Symbology byCode = symbolize(t, Style{StyleKind::Categories, "code"}, kRed);
  EXPECT_EQ(labels(byCode), (std::vector<std::string>{"1", "3", "no value"}));
  EXPECT_EQ(byCode.classes, (std::vector<std::int32_t>{1, 0, 2, 2}));
  // The same data, the same colours, run after run.
  EXPECT_EQ(symbolize(t, Style{StyleKind::Categories, "code"}, kRed).legend[1].symbol, byCode.legend[1].symbol);
}

TEST_F(SymbolizeTest, ThirteenCategoriesRepeatTheFirstColourWithAPattern) {
  std::vector<Patch> rows;
  for (int i = 0; i < 13; ++i)
    rows.push_back({"c" + std::string(1, static_cast<char>('a' + i)), Value(std::int64_t{i}), Value(1.0)});
  const Symbology s = symbolize(layer(rows), Style{StyleKind::Categories, "cover"}, kRed);
  ASSERT_EQ(s.legend.size(), 13u);
  EXPECT_EQ(s.legend[12].symbol.fill, s.legend[0].symbol.fill);
  EXPECT_NE(s.legend[12].symbol.pattern, s.legend[0].symbol.pattern);
}

TEST_F(SymbolizeTest, GraduatedQuantilesPutMinus999InNoValue) {
  std::vector<Patch> rows;
  for (int i = 10; i >= 1; --i) rows.push_back(metric(i));
  rows.push_back(metric(-999));
  rows.push_back({"a", Value(std::int64_t{0}), Value()});
  FeatureTable& t = layer(rows);
  const Symbology s = symbolize(t, Style{StyleKind::Graduated, "NNDist", BreakMethod::Quantiles, 5}, kRed);
  EXPECT_EQ(s.bounds, (std::vector<double>{2, 4, 6, 8, 10}));
  EXPECT_EQ(labels(s), (std::vector<std::string>{"1 \u2013 2", "2 \u2013 4", "4 \u2013 6", "6 \u2013 8", "8 \u2013 10",
                                                 "no value"}));
  EXPECT_EQ(counts(s), (std::vector<std::int64_t>{2, 2, 2, 2, 2, 2}));
  // Feature 0 holds 10 (the last class), feature 9 holds 1, 10 is -999 and
  // 11 is empty.
  EXPECT_EQ(s.classOfFeature(0), 4);
  EXPECT_EQ(s.classOfFeature(9), 0);
  EXPECT_EQ(s.classOfFeature(10), 5);
  EXPECT_EQ(s.classOfFeature(11), 5);
  EXPECT_EQ(s.classOfFeature(12), -1);  // no such feature
  const auto ramp = sequentialColours(5);
  for (std::size_t k = 0; k < 5; ++k) EXPECT_EQ(s.legend[k].symbol.fill, ramp[k]);
  EXPECT_EQ(s.legend[5].symbol.fill, kNoValueGrey);
}

TEST_F(SymbolizeTest, GraduatedEqualIntervalsAndTheirLabels) {
  std::vector<Patch> rows;
  for (double v : {0.0, 0.05, 0.5, 0.55, 1.0, 0.999}) rows.push_back(metric(v));
  FeatureTable& t = layer(rows);
  const Symbology s = symbolize(t, Style{StyleKind::Graduated, "NNDist", BreakMethod::EqualIntervals, 5}, kRed);
  EXPECT_EQ(s.bounds.size(), 5u);
  // Ranges of 0.2: 0.05 in the first, 0.5 and 0.55 in the third, 0.999 and
  // 1.0 in the last; no "no value" class when every patch has a value.
  EXPECT_EQ(counts(s), (std::vector<std::int64_t>{2, 0, 2, 0, 2}));
  EXPECT_EQ(labels(s).front(), "0.0 \u2013 0.2");
  EXPECT_EQ(labels(s).back(), "0.8 \u2013 1.0");
}

TEST_F(SymbolizeTest, AFirstClassOfOneValueShowsThatValue) {
  std::vector<Patch> rows;
  for (double v : {0.0, 0.0, 0.0, 89.9940673494712, 89.99406734947125, 2099.00431}) rows.push_back(metric(v));
  const Symbology s = symbolize(layer(rows), Style{StyleKind::Graduated, "NNDist"}, kRed);
  EXPECT_EQ(labels(s), (std::vector<std::string>{"0", "0 \u2013 90", "90 \u2013 2099"}));
  EXPECT_EQ(counts(s), (std::vector<std::int64_t>{3, 2, 1}));
}

TEST_F(SymbolizeTest, SingleColourAndRefusedFields) {
  FeatureTable& t = layer({metric(1), metric(2)});
  const Symbology single = symbolize(t, Style{}, kRed);
  ASSERT_EQ(single.legend.size(), 1u);
  EXPECT_EQ(single.legend[0].symbol.fill, kRed);
  EXPECT_EQ(single.legend[0].patches, 2);
  EXPECT_EQ(single.classes, (std::vector<std::int32_t>{0, 0}));
  EXPECT_THROW(symbolize(t, Style{StyleKind::Graduated, "cover"}, kRed), HostError);  // text
  EXPECT_THROW(symbolize(t, Style{StyleKind::Categories, "missing"}, kRed), HostError);
  EXPECT_THROW(symbolize(t, Style{StyleKind::Categories, "Shape"}, kRed), HostError);
}

TEST_F(SymbolizeTest, AllValuesMissingLeavesOnlyNoValue) {
  FeatureTable& t = layer({metric(-999), {"b", Value(std::int64_t{2}), Value()}});
  const Symbology s = symbolize(t, Style{StyleKind::Graduated, "NNDist"}, kRed);
  EXPECT_TRUE(s.bounds.empty());
  EXPECT_EQ(labels(s), std::vector<std::string>{"no value"});
  EXPECT_EQ(s.classes, (std::vector<std::int32_t>{0, 0}));
}

}  // namespace
}  // namespace quilta::map
