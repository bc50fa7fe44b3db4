// The class clause and its evaluation on arbitrary tables and values. A table
// of a few records (a text, a whole-number and a double field, NULLs among
// them) is made from the input; every value the class selection offers for a
// field is turned into its where clause and selected, as an analysis selects
// a class: the selection holds every patch of that value and nothing far
// from it. The rest of the input is evaluated as a where clause of its own,
// which must either select or be refused with HostError.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "host/FeatureTable.h"
#include "host/HostError.h"
#include "session/NumberText.h"
#include "session/SessionState.h"

namespace {

using namespace quilta;

// The attributes of a layer held in memory, as a database store holds them.
class MemoryStore final : public AttributeStore {
 public:
  std::vector<FieldInfo> fields{{"KIND", kText, 12, 0}, {"CODE", kLong, 9, 0}, {"RATIO", kDouble, 24, 15}};
  std::vector<std::vector<Value>> rows;

  bool writable() const override { return true; }
  void openForWriting() override {}
  std::int64_t recordCount() const override { return static_cast<std::int64_t>(rows.size()); }
  bool isDeleted(std::int64_t) const override { return false; }
  int fieldCount() const override { return static_cast<int>(fields.size()); }
  FieldInfo field(int index) const override { return fields.at(static_cast<std::size_t>(index)); }
  int findField(std::string_view name) const override {
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const std::string& n = fields[i].name;
      if (n.size() == name.size() && std::equal(n.begin(), n.end(), name.begin(), [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
          }))
        return static_cast<int>(i);
    }
    return -1;
  }
  Value value(std::int64_t record, int field) const override {
    return rows.at(static_cast<std::size_t>(record)).at(static_cast<std::size_t>(field));
  }
  void setValue(std::int64_t record, int field, const Value& v) override {
    rows.at(static_cast<std::size_t>(record)).at(static_cast<std::size_t>(field)) = v;
  }
  void store(std::int64_t) override {}
  void addField(const std::string&, int, int, int, const Value&) override { throw HostError("fixed schema"); }
  void deleteField(int) override { throw HostError("fixed schema"); }
  void fillField(int, const Value&) override { throw HostError("fixed schema"); }
  void flush() override {}
};

std::string rtrim(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

double asDouble(const Value& v) {
  if (const auto* i = std::get_if<std::int64_t>(&v)) return static_cast<double>(*i);
  return std::get<double>(v);
}

// Selects the class of every value offered for `field` (a host index) and
// checks what comes back against the values themselves.
void checkClasses(FeatureTable& table, const MemoryStore& store, int field) {
  SessionState state;
  state.classFieldName = table.field(field).name;
  state.classFieldType = table.field(field).type;
  const std::size_t column = static_cast<std::size_t>(field - 2);
  for (const Value& offered : table.uniqueValues(field)) {
    const std::string clause = ClassClause(state, text::ofValue(offered));
    const SelectionSet set = table.select(AttributeFilter(clause));
    std::vector<bool> selected(store.rows.size(), false);
    for (std::int64_t oid : set.oids()) {
      QUILTA_FUZZ_CHECK(oid >= 0 && oid < static_cast<std::int64_t>(store.rows.size()));
      selected[static_cast<std::size_t>(oid)] = true;
    }
    QUILTA_FUZZ_CHECK(set.count() > 0);  // every class offered has patches
    for (std::size_t r = 0; r < store.rows.size(); ++r) {
      const Value& cell = store.rows[r][column];
      if (isNull(cell)) {
        QUILTA_FUZZ_CHECK(!selected[r]);
        continue;
      }
      if (state.classFieldType == kText) {
        const bool same = rtrim(std::get<std::string>(cell)) == std::get<std::string>(offered);
        QUILTA_FUZZ_CHECK(same == selected[r]);
      } else {
        const double x = asDouble(cell), u = asDouble(offered);
        if (x == u) QUILTA_FUZZ_CHECK(selected[r]);
        if (selected[r]) QUILTA_FUZZ_CHECK(std::fabs(x - u) <= 1e-13 * std::fabs(u));
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  text::setDecimalSeparator(in.ConsumeBool() ? ',' : '.');
  auto store = std::make_unique<MemoryStore>();
  MemoryStore& rows = *store;
  const int records = in.ConsumeIntegralInRange(0, 12);
  for (int r = 0; r < records; ++r) {
    std::vector<Value> row(3);
    if (in.ConsumeBool()) row[0] = in.ConsumeRandomLengthString(16);
    if (in.ConsumeBool()) row[1] = in.ConsumeIntegral<std::int64_t>();
    if (in.ConsumeBool()) {
      const double d = in.ConsumeFloatingPoint<double>();
      if (std::isfinite(d)) row[2] = d;
    }
    rows.rows.push_back(std::move(row));
  }
  const std::string where = in.ConsumeRemainingBytesAsString();
  FeatureTable table(std::move(store), 4, [] { return std::vector<Polygon>{}; });
  for (int field = 2; field < table.fieldCount(); ++field) checkClasses(table, rows, field);
  try {
    const SelectionSet set = table.select(AttributeFilter(where));
    for (std::int64_t oid : set.oids()) QUILTA_FUZZ_CHECK(oid >= 0 && oid < records);
  } catch (const HostError&) {
    // not one of the two clause forms, or a field the table lacks
  }
  text::setDecimalSeparator(0);
  return 0;
}
