#include "map/Classification.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "host/FeatureTable.h"
#include "host/HostError.h"
#include "session/NumberText.h"

namespace quilta::map {
namespace {

// Decimals that tell the bounds apart: none for whole numbers, else two
// significant digits of the data's span to start with, more while two
// neighbouring bounds would read alike.
int labelDecimals(double min, const std::vector<double>& bounds) {
  const double span = bounds.back() - min;
  auto whole = [](double v) { return std::nearbyint(v) == v; };
  int decimals = span > 0 ? 1 - static_cast<int>(std::floor(std::log10(span))) : 2;
  if (whole(min) && std::all_of(bounds.begin(), bounds.end(), whole)) decimals = 0;
  decimals = std::clamp(decimals, 0, 6);
  auto distinct = [&](int d) {
    std::vector<double> shown{min};
    shown.insert(shown.end(), bounds.begin(), bounds.end());
    for (std::size_t i = 1; i < shown.size(); ++i)
      if (shown[i] != shown[i - 1] && text::withDecimals(shown[i], d) == text::withDecimals(shown[i - 1], d))
        return false;
    return true;
  };
  while (decimals < 6 && !distinct(decimals)) ++decimals;
  return decimals;
}

// Appends an upper bound; one that differs from the last only by rounding
// noise (a billionth of the data's magnitude) replaces it instead, so values
// that are equal but for their last bits share a class.
void addBound(std::vector<double>& bounds, double b, double magnitude) {
  if (bounds.empty() || b - bounds.back() > 1e-9 * magnitude)
    bounds.push_back(b);
  else if (b > bounds.back())
    bounds.back() = b;
}

int checkedField(FeatureTable& table, const std::string& name) {
  const int field = table.findField(name);
  if (field < 0) throw HostError("the layer has no field \"" + name + "\"");
  if (field == 1) throw HostError("the shape cannot be the field of a style");
  return field;
}

// Adds the "no value" entry (when some patch lacks a value) and points those
// patches at it.
void addNoValue(Symbology& out, const std::vector<std::int64_t>& missing) {
  if (missing.empty()) return;
  const auto entry = static_cast<std::int32_t>(out.legend.size());
  out.legend.push_back(
      LegendEntry{"no value", Symbol{kNoValueGrey}, static_cast<std::int64_t>(missing.size()), true});
  for (std::int64_t oid : missing) out.classes[static_cast<std::size_t>(oid)] = entry;
}

void categorize(FeatureTable& table, int field, const std::vector<std::int64_t>& oids, Symbology& out) {
  const bool numeric = isNumericField(table.field(field).type);
  std::unordered_map<std::string, std::int32_t> byText;
  std::vector<std::pair<double, std::int32_t>> byNumber;  // ascending
  for (const Value& v : table.uniqueValues(field)) {
    if (isNoValue(v)) continue;
    const auto entry = static_cast<std::int32_t>(out.legend.size());
    std::string label = text::ofValue(v);
    if (numeric) {
      auto n = numericValue(v);
      if (!n) continue;
      byNumber.emplace_back(*n, entry);
    } else {
      byText.emplace(label, entry);
    }
    if (label.empty()) label = "(empty)";
    out.legend.push_back(LegendEntry{std::move(label), qualitativeSymbol(out.legend.size())});
  }
  std::vector<std::int64_t> missing;
  for (std::int64_t oid : oids) {
    const Value v = table.value(oid, field);
    std::int32_t entry = -1;
    if (!isNoValue(v)) {
      if (numeric) {
        if (auto n = numericValue(v)) {
          auto it = std::lower_bound(byNumber.begin(), byNumber.end(), *n,
                                     [](const auto& e, double x) { return e.first < x; });
          if (it != byNumber.end() && it->first == *n) entry = it->second;
        }
      } else if (auto s = std::get_if<std::string>(&v)) {
        auto it = byText.find(*s);
        if (it != byText.end()) entry = it->second;
      }
    }
    if (entry < 0) {
      missing.push_back(oid);
      continue;
    }
    out.classes[static_cast<std::size_t>(oid)] = entry;
    ++out.legend[static_cast<std::size_t>(entry)].patches;
  }
  addNoValue(out, missing);
}

void graduate(FeatureTable& table, int field, const Style& style, const std::vector<std::int64_t>& oids,
              Symbology& out) {
  if (!isNumericField(table.field(field).type))
    throw HostError("the field \"" + style.field + "\" holds no numbers to graduate");
  std::vector<std::int64_t> missing, valued;
  std::vector<double> values;
  for (std::int64_t oid : oids) {
    const Value v = table.value(oid, field);
    auto n = numericValue(v);
    if (isNoValue(v) || !n || !std::isfinite(*n)) {
      missing.push_back(oid);
      continue;
    }
    valued.push_back(oid);
    values.push_back(*n);
  }
  if (!values.empty()) {
    const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
    const double min = *lo, max = *hi;
    out.bounds = style.method == BreakMethod::Quantiles ? quantileBreaks(values, style.classes)
                                                       : equalIntervalBreaks(min, max, style.classes);
    const std::vector<Rgb> colours = sequentialColours(static_cast<int>(out.bounds.size()));
    const int decimals = labelDecimals(min, out.bounds);
    double low = min;
    for (std::size_t k = 0; k < out.bounds.size(); ++k) {
      // A first class of one value (many zeros, say) shows that value.
      std::string label = text::withDecimals(out.bounds[k], decimals);
      if (k > 0 || low != out.bounds[k]) label = text::withDecimals(low, decimals) + " \u2013 " + label;
      out.legend.push_back(LegendEntry{std::move(label), Symbol{colours[k]}});
      low = out.bounds[k];
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
      const auto entry = static_cast<std::int32_t>(classOf(values[i], out.bounds));
      out.classes[static_cast<std::size_t>(valued[i])] = entry;
      ++out.legend[static_cast<std::size_t>(entry)].patches;
    }
  }
  addNoValue(out, missing);
}

}  // namespace

std::optional<double> numericValue(const Value& v) {
  if (auto i = std::get_if<std::int64_t>(&v)) return static_cast<double>(*i);
  if (auto d = std::get_if<double>(&v)) return *d;
  return std::nullopt;
}

bool isNoValue(const Value& value) {
  if (isNull(value)) return true;
  auto n = numericValue(value);
  return n && *n == kNoValueMarker;
}

bool isNumericField(int typeCode) {
  return typeCode == kSmallInteger || typeCode == kLong || typeCode == kSingle || typeCode == kDouble ||
         typeCode == kObjectId;
}

std::vector<double> equalIntervalBreaks(double min, double max, int classes) {
  if (!(max > min) || classes < 2) return {max};
  std::vector<double> bounds;
  const double width = (max - min) / classes;
  for (int k = 1; k < classes; ++k)
    if (const double b = min + k * width; b < max && (bounds.empty() || b > bounds.back())) bounds.push_back(b);
  bounds.push_back(max);
  return bounds;
}

std::vector<double> quantileBreaks(std::vector<double> values, int classes) {
  if (values.empty()) return {};
  std::sort(values.begin(), values.end());
  const auto n = static_cast<std::int64_t>(values.size());
  const std::int64_t k_max = std::max(classes, 1);
  const double magnitude = std::max({std::fabs(values.front()), std::fabs(values.back()), values.back() - values.front()});
  std::vector<double> bounds;
  for (std::int64_t k = 1; k <= k_max; ++k) {
    const std::int64_t rank = (k * n + k_max - 1) / k_max;  // ceil(k n / classes), 1-based
    addBound(bounds, values[static_cast<std::size_t>(rank - 1)], magnitude);
  }
  return bounds;
}

std::size_t classOf(double value, const std::vector<double>& bounds) {
  auto it = std::lower_bound(bounds.begin(), bounds.end(), value);
  if (it == bounds.end()) return bounds.size() - 1;
  return static_cast<std::size_t>(it - bounds.begin());
}

Symbology symbolize(FeatureTable& table, const Style& style, Rgb single) {
  Symbology out;
  out.style = style;
  const SelectionSet all = table.selectAll();
  const std::vector<std::int64_t>& oids = all.oids();
  out.classes.assign(oids.empty() ? 0 : static_cast<std::size_t>(oids.back()) + 1, -1);
  switch (style.kind) {
    case StyleKind::Single:
      out.legend.push_back(LegendEntry{"", Symbol{single}, static_cast<std::int64_t>(oids.size())});
      for (std::int64_t oid : oids) out.classes[static_cast<std::size_t>(oid)] = 0;
      break;
    case StyleKind::Categories:
      categorize(table, checkedField(table, style.field), oids, out);
      break;
    case StyleKind::Graduated:
      graduate(table, checkedField(table, style.field), style, oids, out);
      break;
  }
  return out;
}

}  // namespace quilta::map
