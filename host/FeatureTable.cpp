#include "host/FeatureTable.h"

#include <locale.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <set>

#include "host/HostError.h"

namespace quilta {
namespace {

bool isNumericType(int type) { return type == kSmallInteger || type == kLong || type == kSingle || type == kDouble; }

std::string trim(std::string_view s) {
  auto b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) return {};
  auto e = s.find_last_not_of(' ');
  return std::string(s.substr(b, e - b + 1));
}

std::string rtrim(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// Parses a whole text as a number with a '.' decimal point, whatever the locale.
std::optional<double> parseNumber(std::string_view text) {
  std::string t = trim(text);
  if (t.empty()) return std::nullopt;
  double v = 0;
  const char* first = t.data();
  if (*first == '+') ++first;
  auto [ptr, ec] = std::from_chars(first, t.data() + t.size(), v);
  if (ec != std::errc() || ptr != t.data() + t.size()) return std::nullopt;
  return v;
}

// The number of a class clause's literal. A value near the largest double is
// offered with 15 significant digits that round past it
// ("1.79769313486232E+308"): such a literal reads as the infinity of its sign,
// as the value's own 15 digits do, so that it selects the patches shown as it.
std::optional<double> parseLiteral(std::string_view text) {
  if (auto n = parseNumber(text)) return n;
  const std::string t = trim(text);
  const char* first = t.data() + (t.size() > 1 && t[0] == '+' ? 1 : 0);
  const char* last = t.data() + t.size();
  double v = 0;
  const auto [ptr, ec] = std::from_chars(first, last, v);
  if (ec != std::errc::result_out_of_range || ptr != last) return std::nullopt;
  static const locale_t c = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
  return strtod_l(t.c_str(), nullptr, c);  // the infinity of its sign, or the nearest small value
}

std::optional<double> numberOf(const Value& v) {
  if (auto i = std::get_if<std::int64_t>(&v)) return static_cast<double>(*i);
  if (auto d = std::get_if<double>(&v)) return *d;
  if (auto s = std::get_if<std::string>(&v)) return parseNumber(*s);
  return std::nullopt;
}

// True when `cell` equals `literal`, or shows as `literal` at 15 significant
// digits: class values are offered as text of that precision, so a stored
// 0.30000000000000004 belongs to the class "0.3".
bool sameNumber(double cell, double literal) {
  if (cell == literal) return true;
  // Two numbers that differ beyond the 14th significant digit cannot show
  // alike; only near misses are worth formatting.
  if (std::fabs(cell - literal) > 1e-13 * std::fabs(literal)) return false;
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.15g", cell);
  auto shown = parseLiteral(buf);
  return shown && *shown == literal;
}

// The parsed form of a class where clause.
struct Clause {
  int field = -1;
  bool quoted = false;
  std::string text;    // quoted literal, trailing blanks removed
  double number = 0;   // numeric literal (or quoted literal read as a number)
  bool hasNumber = false;
};

}  // namespace

// --- Feature, cursor -------------------------------------------------------

Value Feature::value(int field) const { return table_->value(oid_, field); }

double Feature::number(int field) const {
  Value v = value(field);
  auto n = numberOf(v);
  if (!n) throw HostError("feature " + std::to_string(oid_) + " has no number in field \"" + table_->field(field).name + "\"");
  return *n;
}

void Feature::setValue(int field, const Value& value) { table_->setValue(oid_, field, value); }
const Polygon& Feature::shape() const { return table_->shape(oid_); }
void Feature::store() { table_->store(oid_); }

std::optional<Feature> FeatureCursor::next() {
  if (pos_ >= oids_->size()) return std::nullopt;
  return Feature(*table_, (*oids_)[pos_++]);
}

// --- FeatureTable ----------------------------------------------------------

FeatureTable::FeatureTable(std::unique_ptr<AttributeStore> store, int geometryType,
                           std::function<std::vector<Polygon>()> loadShapes)
    : store_(std::move(store)), geometryType_(geometryType), loadShapes_(std::move(loadShapes)) {}

int FeatureTable::fieldCount() const { return kFixedFields + store_->fieldCount(); }

FieldInfo FeatureTable::field(int index) const {
  if (index == 0) return {"FID", kObjectId, 0, 0};
  if (index == 1) return {"Shape", kGeometry, 0, 0};
  if (index < 0 || index >= fieldCount()) throw HostError("no field at index " + std::to_string(index));
  return store_->field(index - kFixedFields);
}

int FeatureTable::findField(std::string_view name) const {
  auto equalNoCase = [](std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
             return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
  };
  if (equalNoCase(name, "FID")) return 0;
  if (equalNoCase(name, "Shape")) return 1;
  int i = store_->findField(name);
  return i < 0 ? -1 : i + kFixedFields;
}

void FeatureTable::addField(const std::string& name, int type, int length, int precision, const Value& fill) {
  if (findField(name) >= 0) throw HostError("the table already has a field \"" + name + "\"");
  store_->addField(name, type, length, precision, fill);
  forgetValueIndex(-1);
}

void FeatureTable::deleteField(int index) {
  if (index == 0) throw HostError("the object identifier field \"FID\" cannot be deleted");
  if (index == 1) throw HostError("the geometry field \"Shape\" cannot be deleted");
  if (index < 0 || index >= fieldCount()) throw HostError("no field at index " + std::to_string(index));
  store_->deleteField(index - kFixedFields);
  forgetValueIndex(-1);
}

const std::vector<std::int64_t>& FeatureTable::allOids() {
  if (!all_) {
    std::vector<std::int64_t> oids;
    oids.reserve(static_cast<std::size_t>(store_->recordCount()));
    for (std::int64_t r = 0; r < store_->recordCount(); ++r)
      if (!store_->isDeleted(r)) oids.push_back(r);
    all_ = std::make_shared<const std::vector<std::int64_t>>(std::move(oids));
  }
  return *all_;
}

std::int64_t FeatureTable::count() const {
  return const_cast<FeatureTable*>(this)->allOids().size();
}

FeatureCursor FeatureTable::search() {
  allOids();
  return FeatureCursor(*this, all_);
}

SelectionSet FeatureTable::selectAll() { return SelectionSet(*this, allOids()); }

SelectionSet FeatureTable::select(const AttributeFilter& filter) {
  const std::string& where = filter.whereClause();
  auto refuse = [&]() -> Clause { throw HostError("unsupported where clause: " + where); };
  auto parse = [&]() -> Clause {
    auto eq = where.find('=');
    if (eq == std::string::npos) return refuse();
    Clause c;
    std::string name = trim(std::string_view(where).substr(0, eq));
    c.field = findField(name);
    if (c.field < 0) throw HostError("the table has no field \"" + name + "\"");
    std::string rhs = trim(std::string_view(where).substr(eq + 1));
    if (!rhs.empty() && rhs.front() == '\'') {
      if (rhs.size() < 2 || rhs.back() != '\'') return refuse();
      std::string inner = rhs.substr(1, rhs.size() - 2);
      for (std::size_t i = 0; i < inner.size(); ++i) {
        if (inner[i] != '\'') {
          c.text += inner[i];
        } else if (i + 1 < inner.size() && inner[i + 1] == '\'') {
          c.text += '\'';
          ++i;
        } else {
          return refuse();
        }
      }
      c.quoted = true;
      c.text = rtrim(c.text);
      if (auto n = parseLiteral(c.text)) c.hasNumber = true, c.number = *n;
    } else {
      auto n = parseLiteral(rhs);
      if (!n) return refuse();
      c.hasNumber = true;
      c.number = *n;
    }
    return c;
  };
  Clause c = parse();
  if (c.field < kFixedFields && c.field != 0) throw HostError("the shape cannot be compared with a value");
  const bool numericField = c.field == 0 || isNumericType(field(c.field).type);

  if (const ValueIndex* index = valueIndex(c.field)) {
    std::string key;
    if (!numericField && c.quoted) {
      key = c.text;
    } else if (numericField && c.hasNumber && std::nearbyint(c.number) == c.number &&
               std::fabs(c.number) < 9e15) {
      key = std::to_string(static_cast<std::int64_t>(c.number));
    } else {
      index = nullptr;  // compared value by value below
    }
    if (index) {
      auto it = index->byKey.find(key);
      return SelectionSet(*this, it == index->byKey.end() ? std::vector<std::int64_t>{} : it->second);
    }
  }

  std::vector<std::int64_t> hits;
  for (std::int64_t oid : allOids()) {
    Value v = value(oid, c.field);
    if (isNull(v)) continue;
    bool match = false;
    if (numericField || !c.quoted) {
      if (c.hasNumber) {
        auto n = numberOf(v);
        match = n && sameNumber(*n, c.number);
      }
    } else if (auto s = std::get_if<std::string>(&v)) {
      match = rtrim(*s) == c.text;
    }
    if (match) hits.push_back(oid);
  }
  return SelectionSet(*this, std::move(hits));
}

const FeatureTable::ValueIndex* FeatureTable::valueIndex(int fieldIndex) {
  if (fieldIndex < kFixedFields) return nullptr;
  const int type = field(fieldIndex).type;
  const bool whole = type == kSmallInteger || type == kLong;
  if (type != kText && !whole) return nullptr;
  if (valueIndex_.field == fieldIndex) return &valueIndex_;
  ValueIndex index;
  index.field = fieldIndex;
  for (std::int64_t oid : allOids()) {
    Value v = value(oid, fieldIndex);
    if (auto s = std::get_if<std::string>(&v)) {
      index.byKey[rtrim(std::move(*s))].push_back(oid);
    } else if (auto i = std::get_if<std::int64_t>(&v)) {
      index.byKey[std::to_string(*i)].push_back(oid);
    } else if (auto d = std::get_if<double>(&v)) {
      // A whole-number field holding a fraction: compare value by value.
      (void)d;
      return nullptr;
    }
  }
  valueIndex_ = std::move(index);
  return &valueIndex_;
}

std::vector<Value> FeatureTable::uniqueValues(int fieldIndex) {
  if (fieldIndex == 1) throw HostError("the shape has no distinct values");
  const bool numeric = fieldIndex == 0 || isNumericType(field(fieldIndex).type);
  std::vector<Value> out;
  if (numeric) {
    std::set<double> seen;
    std::vector<std::pair<double, Value>> values;
    for (std::int64_t oid : allOids()) {
      Value v = value(oid, fieldIndex);
      auto n = numberOf(v);
      if (!n) continue;
      if (seen.insert(*n).second) values.emplace_back(*n, std::move(v));
    }
    std::sort(values.begin(), values.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [n, v] : values) out.push_back(std::move(v));
  } else {
    // Values that differ only by trailing blanks are one class value, as the
    // class clause compares them (a dBASE table drops those blanks itself; a
    // database keeps them).
    std::set<std::string> seen;
    for (std::int64_t oid : allOids()) {
      Value v = value(oid, fieldIndex);
      if (auto s = std::get_if<std::string>(&v)) seen.insert(rtrim(std::move(*s)));
    }
    for (const auto& s : seen) out.emplace_back(s);
  }
  return out;
}

Value FeatureTable::value(std::int64_t oid, int fieldIndex) const {
  if (fieldIndex == 0) return oid;
  if (fieldIndex == 1) throw HostError("the shape is not an attribute value");
  if (fieldIndex < 0 || fieldIndex >= fieldCount()) throw HostError("no field at index " + std::to_string(fieldIndex));
  return store_->value(oid, fieldIndex - kFixedFields);
}

void FeatureTable::setValue(std::int64_t oid, int fieldIndex, const Value& v) {
  if (fieldIndex < kFixedFields) throw HostError("the fields \"FID\" and \"Shape\" cannot be set as attributes");
  if (fieldIndex >= fieldCount()) throw HostError("no field at index " + std::to_string(fieldIndex));
  store_->setValue(oid, fieldIndex - kFixedFields, v);
  forgetValueIndex(fieldIndex);
}

void FeatureTable::store(std::int64_t oid) { store_->store(oid); }

const std::vector<Polygon>& FeatureTable::shapes() {
  if (!shapes_) {
    shapes_ = loadShapes_();
    if (static_cast<std::int64_t>(shapes_->size()) < store_->recordCount()) shapes_->resize(static_cast<std::size_t>(store_->recordCount()));
    for (std::size_t i = 0; i < shapes_->size(); ++i) {
      const Polygon& p = (*shapes_)[i];
      if (!p.isEmpty() && !p.isValid()) invalid_.push_back(static_cast<std::int64_t>(i));
    }
  }
  return *shapes_;
}

const Polygon& FeatureTable::shape(std::int64_t oid) {
  const auto& all = shapes();
  if (oid < 0 || oid >= static_cast<std::int64_t>(all.size())) throw HostError("no feature " + std::to_string(oid));
  return all[static_cast<std::size_t>(oid)];
}

void FeatureTable::dropPendingSchemaChanges() {
  forgetValueIndex(-1);
  store_->dropPendingSchemaChanges();
}

void FeatureTable::sync() {
  // A database store that had to roll an operation back holds the values
  // read again afterwards: the next selection reads them anew.
  forgetValueIndex(-1);
  store_->flush();
}

void FieldCalculator::calculate(FeatureTable& table, const std::string& fieldName, const std::string& expression) {
  int index = table.findField(fieldName);
  if (index < 2) throw HostError("the field calculator found no field \"" + fieldName + "\"");
  Value v;
  if (expression.size() >= 2 && expression.front() == '\'' && expression.back() == '\'') {
    v = expression.substr(1, expression.size() - 2);
  } else if (auto n = parseNumber(expression)) {
    v = *n;
  } else {
    throw HostError("the field calculator cannot evaluate \"" + expression + "\"");
  }
  table.fillField(index, v);
}

void FeatureTable::fillField(int fieldIndex, const Value& v) {
  if (fieldIndex < kFixedFields || fieldIndex >= fieldCount())
    throw HostError("no attribute field at index " + std::to_string(fieldIndex));
  store_->fillField(fieldIndex - kFixedFields, v);
  forgetValueIndex(fieldIndex);
}

}  // namespace quilta
