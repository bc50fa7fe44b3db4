#pragma once
// Thematic styles of a layer and the classes they sort its patches into.
//
// A style draws every patch of a layer in one colour, or by the value of one
// attribute field:
//   categories  one class per distinct value of the field, in ascending
//               order of the values (numerically for numeric fields, by
//               bytes for text), coloured from the qualitative palette by
//               that rank, so the same data always get the same colours;
//   graduated   the values of a numeric field cut into 5 to 9 ranges, by
//               quantiles (about as many patches in each range) or by equal
//               intervals (ranges of equal width), coloured light to dark.
// A patch whose value is the "no value" marker -999, or empty, falls into the
// class "no value", drawn grey and listed last in the legend.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/Value.h"
#include "map/Palette.h"

namespace quilta {
class FeatureTable;
}

namespace quilta::map {

enum class StyleKind { Single, Categories, Graduated };
enum class BreakMethod { Quantiles, EqualIntervals };

inline constexpr int kMinClasses = 5;
inline constexpr int kMaxClasses = 9;
// The value of a patch metric that was not computed or has no defined value.
inline constexpr double kNoValueMarker = -999;

// What the user chose for a layer.
struct Style {
  StyleKind kind = StyleKind::Single;
  std::string field;  // categories and graduated: the field, by name
  BreakMethod method = BreakMethod::Quantiles;
  int classes = kMinClasses;  // graduated: kMinClasses .. kMaxClasses
  friend bool operator==(const Style&, const Style&) = default;
};

// True for an empty value and for a number equal to -999.
bool isNoValue(const Value& value);
// The number a value holds: whole numbers and doubles; none for text and
// empty values.
std::optional<double> numericValue(const Value& value);

// Upper bounds of graduated classes: class k holds the values v with
// bounds[k-1] < v <= bounds[k] (the first class every v <= bounds[0]); the
// last bound is the largest value. Bounds that would repeat are merged, so a
// field with few distinct values gets fewer classes than asked.
//
// Equal intervals: bounds min + k (max - min) / classes for k = 1 .. classes,
// the last exactly max; one class when max equals min.
std::vector<double> equalIntervalBreaks(double min, double max, int classes);
// Quantiles: with the N values sorted as x(1) <= ... <= x(N), bound k is
// x(ceil(k N / classes)), k = 1 .. classes: the smallest value with at least
// k/classes of the values at or below it. Bounds that differ by less than a
// billionth of the values' magnitude are rounding noise of one value and
// merge into the larger. Empty for no values.
std::vector<double> quantileBreaks(std::vector<double> values, int classes);
// The class of `value` under `bounds` (not empty): the first k with value <=
// bounds[k]; the last class for larger values.
std::size_t classOf(double value, const std::vector<double>& bounds);

// One line of a layer's legend.
struct LegendEntry {
  std::string label;  // the value, the range "low – high", or "no value"
  Symbol symbol;
  std::int64_t patches = 0;  // how many patches the class holds
  bool noValue = false;
};

// The classes of one layer under one style.
struct Symbology {
  Style style;
  std::vector<LegendEntry> legend;
  // By object identifier: the legend entry that draws the feature; -1 for a
  // record that is not a feature. Identifiers past the end draw nothing.
  std::vector<std::int32_t> classes;
  // Graduated: the upper bounds of the classes (the legend's ranges).
  std::vector<double> bounds;

  // The entry of a feature, or -1.
  std::int32_t classOfFeature(std::int64_t oid) const {
    return oid >= 0 && static_cast<std::size_t>(oid) < classes.size() ? classes[static_cast<std::size_t>(oid)] : -1;
  }
};

// Sorts the features of `table` into the classes of `style`; `single` is the
// colour of a single-colour style (one legend entry with an empty label).
// Throws HostError when the field is missing, is the shape, or (graduated)
// is not numeric.
Symbology symbolize(FeatureTable& table, const Style& style, Rgb single);

// Whether a field of this type code can be graduated (whole and decimal
// numbers, and the object identifier).
bool isNumericField(int typeCode);

}  // namespace quilta::map
