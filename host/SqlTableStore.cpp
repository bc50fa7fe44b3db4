#include "host/SqlTableStore.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "host/HostError.h"

namespace quilta {
namespace {

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

std::string_view trimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// A decimal number with a '.' decimal point, whatever the locale; a whole
// number that fits 64 bits stays whole.
std::optional<Value> parseNumber(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  std::int64_t whole = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), whole);
  if (ec == std::errc() && end == text.data() + text.size()) return Value(whole);
  double real = 0;
  auto [rend, rec] = std::from_chars(text.data(), text.data() + text.size(), real, std::chars_format::general);
  if (rec != std::errc() || rend != text.data() + text.size() || !std::isfinite(real)) return std::nullopt;
  return Value(real);
}

std::string shown(double x) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, x);
  return std::string(buf, r.ptr);
}

std::size_t utf8Characters(std::string_view s) {
  return static_cast<std::size_t>(
      std::count_if(s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

}  // namespace

FieldInfo SqlTableStore::field(int index) const {
  checkField(index);
  return columns_[static_cast<std::size_t>(index)].info;
}

int SqlTableStore::findField(std::string_view name) const {
  for (std::size_t i = 0; i < columns_.size(); ++i)
    if (equalsNoCase(columns_[i].name, name)) return static_cast<int>(i);
  return -1;
}

Value SqlTableStore::value(std::int64_t record, int field) const {
  checkField(field);
  checkRecord(record);
  return cell(record, field);
}

void SqlTableStore::checkField(int field) const {
  if (field < 0 || field >= fieldCount()) throw HostError("no field at index " + std::to_string(field));
}

void SqlTableStore::checkRecord(std::int64_t record) const {
  if (record < 0 || record >= recordCount()) throw HostError("no feature " + std::to_string(record));
}

Value SqlTableStore::convert(const SqlColumn& c, const Value& v) const {
  using Storage = SqlColumn::Storage;
  if (isNull(v)) return v;
  auto doesNotFit = [&](const std::string& number) -> Value {
    throw HostError("the number " + number + " does not fit the field \"" + c.name + "\" (" + c.declared + ") of " +
                    what_);
  };
  auto notFinite = [&](double x) -> Value {
    throw HostError("cannot store " + shown(x) + " in the field \"" + c.name + "\" of " + what_ +
                    ": not a finite number");
  };
  if (c.storage == Storage::Integer || c.storage == Storage::Real) {
    Value number = v;
    if (const auto* s = std::get_if<std::string>(&v)) {
      const std::string_view text = trimBlanks(*s);
      if (text.empty()) return Value();
      auto parsed = parseNumber(text);
      if (!parsed)
        throw HostError("\"" + *s + "\" is not a number and cannot be stored in the field \"" + c.name + "\" of " +
                        what_);
      number = *parsed;
    }
    if (c.storage == Storage::Integer) {
      if (const auto* d = std::get_if<double>(&number)) {
        if (!std::isfinite(*d)) return notFinite(*d);
        const double rounded = std::round(*d);  // halves away from zero
        if (!(rounded >= -9.2233720368547758e18 && rounded < 9.2233720368547758e18)) return doesNotFit(shown(*d));
        number = static_cast<std::int64_t>(rounded);
      }
      const std::int64_t i = std::get<std::int64_t>(number);
      if (i < c.minInteger || i > c.maxInteger) return doesNotFit(std::to_string(i));
      return number;
    }
    double x = 0;
    if (const auto* i = std::get_if<std::int64_t>(&number)) {
      x = static_cast<double>(*i);
    } else {
      x = std::get<double>(number);
    }
    if (!std::isfinite(x)) return notFinite(x);
    if (std::fabs(x) > c.maxReal) return doesNotFit(shown(x));
    if (c.integerDigits > 0 && std::fabs(x) >= std::pow(10.0, c.integerDigits)) return doesNotFit(shown(x));
    return Value(x == 0.0 ? 0.0 : x);  // no "-0"
  }
  std::string text;
  if (const auto* s = std::get_if<std::string>(&v)) {
    text = *s;
  } else if (const auto* i = std::get_if<std::int64_t>(&v)) {
    text = std::to_string(*i);
  } else {
    const double x = std::get<double>(v);
    if (!std::isfinite(x)) return notFinite(x);
    char buf[40];
    auto r = std::to_chars(buf, buf + sizeof buf, x == 0.0 ? 0.0 : x, std::chars_format::general, 15);
    text.assign(buf, r.ptr);
  }
  if (c.maxCharacters > 0 && utf8Characters(text) > static_cast<std::size_t>(c.maxCharacters))
    throw HostError("text of " + std::to_string(utf8Characters(text)) + " characters does not fit the field \"" +
                    c.name + "\" (" + c.declared + ") of " + what_);
  return Value(std::move(text));
}

void SqlTableStore::adopt(SqlTable table) {
  keys_ = std::move(table.keys);
  columns_ = std::move(table.columns);
  values_ = std::move(table.values);
  dirty_.clear();
}

void SqlTableStore::checkUnchanged(const std::vector<std::int64_t>& keys,
                                   const std::vector<SqlColumn>& columns) const {
  auto changed = [&](const std::string& what) {
    throw HostError(what_ + " was changed by another program since it was opened (" + what +
                    "); add the layer to the map again");
  };
  if (keys != keys_) changed("features were added or deleted");
  bool same = columns.size() == columns_.size();
  for (std::size_t i = 0; same && i < columns.size(); ++i)
    same = columns[i].name == columns_[i].name && columns[i].declared == columns_[i].declared;
  if (!same) changed("fields were added, deleted or changed");
}

void SqlTableStore::adoptIfUnchanged(SqlTable current) {
  checkUnchanged(current.keys, current.columns);
  // Values changed by others are taken; the cells this store has set and not
  // yet stored keep what was set.
  for (const auto& [record, fields] : dirty_)
    for (int f : fields)
      current.values[static_cast<std::size_t>(f)][static_cast<std::size_t>(record)] =
          values_[static_cast<std::size_t>(f)][static_cast<std::size_t>(record)];
  values_ = std::move(current.values);
}

void SqlTableStore::beginWriting() {
  if (readOnly_) throw HostError(what_ + " is open read-only");
  if (stale_) throw HostError(*stale_);
  if (inTransaction_) return;
  beginTransaction();
  inTransaction_ = true;
  failed_.reset();
}

template <class Write>
void SqlTableStore::guarded(Write&& write) {
  if (failed_) throw HostError(*failed_);
  try {
    write();
  } catch (const std::exception& e) {
    if (!transactionUsable()) failed_ = e.what();
    throw;
  }
}

void SqlTableStore::setValue(std::int64_t record, int field, const Value& value) {
  checkField(field);
  checkRecord(record);
  beginWriting();
  Value converted = convert(columns_[static_cast<std::size_t>(field)], value);
  values_[static_cast<std::size_t>(field)][static_cast<std::size_t>(record)] = std::move(converted);
  auto& fields = dirty_[record];
  if (std::find(fields.begin(), fields.end(), field) == fields.end()) fields.push_back(field);
}

void SqlTableStore::storeDirty(std::int64_t record) {
  auto it = dirty_.find(record);
  if (it == dirty_.end()) return;
  std::vector<int> fields = std::move(it->second);
  dirty_.erase(it);
  std::sort(fields.begin(), fields.end());
  guarded([&] { writeRecord(record, fields); });
}

void SqlTableStore::store(std::int64_t record) {
  checkRecord(record);
  if (!dirty_.count(record)) return;
  beginWriting();
  storeDirty(record);
}

void SqlTableStore::addField(const std::string& name, int type, int length, int precision, const Value& fill) {
  beginWriting();
  if (name.empty()) throw HostError("a field needs a name");
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7F) throw HostError("invalid field name \"" + name + "\": control characters are not allowed");
  if (findField(name) >= 0) throw HostError(what_ + " already has a field \"" + name + "\"");
  SqlColumn c = newColumn(name, type, length, precision);
  Value preset = convert(c, fill);
  if (failed_) throw HostError(*failed_);
  createColumn(c);
  columns_.push_back(std::move(c));
  values_.emplace_back(keys_.size(), preset);
  if (!isNull(preset)) guarded([&] { writeColumn(fieldCount() - 1, preset); });
}

void SqlTableStore::deleteField(int index) {
  checkField(index);
  beginWriting();
  // Writes left for the commit are made first: they name fields by number.
  guarded([&] { finishWrites(); });
  dropColumn(index);
  columns_.erase(columns_.begin() + index);
  values_.erase(values_.begin() + index);
  for (auto& [record, fields] : dirty_) {
    fields.erase(std::remove(fields.begin(), fields.end(), index), fields.end());
    for (int& f : fields)
      if (f > index) --f;
  }
}

void SqlTableStore::fillField(int index, const Value& value) {
  checkField(index);
  beginWriting();
  Value converted = convert(columns_[static_cast<std::size_t>(index)], value);
  std::fill(values_[static_cast<std::size_t>(index)].begin(), values_[static_cast<std::size_t>(index)].end(),
            converted);
  for (auto& [record, fields] : dirty_) fields.erase(std::remove(fields.begin(), fields.end(), index), fields.end());
  guarded([&] { writeColumn(index, converted); });
}

void SqlTableStore::flush() {
  if (!inTransaction_) return;
  std::string failure;
  try {
    while (!dirty_.empty()) storeDirty(dirty_.begin()->first);
    if (failed_) throw HostError(*failed_);
    finishWrites();
    commitTransaction();
    inTransaction_ = false;
    return;
  } catch (const std::exception& e) {
    failure = e.what();
  }
  // The database holds none of the operation's writes now: read the table
  // again so that what the operations see is what the database holds.
  inTransaction_ = false;
  failed_.reset();
  rollbackTransaction();
  try {
    SqlTable table = readTable();
    if (table.keys != keys_) {
      stale_ = what_ + " was changed by another program since it was opened; add the layer to the map again";
    } else {
      adopt(std::move(table));
    }
  } catch (const std::exception& e) {
    stale_ = what_ + " cannot be read again after a failed write: " + e.what();
  }
  throw HostError(failure + "; nothing the operation wrote into " + what_ + " was kept");
}

}  // namespace quilta
