// The dBASE reader and writer on arbitrary table files. Whatever the bytes,
// opening either refuses the file with HostError or gives a table whose every
// cell can be read. On a table that opens, values read and set back read the
// same, and a schema change (a column added, a column deleted) rewrites a
// file that reads back with every other value, name and deletion flag kept.

#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "host/HostError.h"
#include "host/dbase/DbfTable.h"

namespace {

using quilta::DbfField;
using quilta::DbfTable;
using quilta::HostError;
using quilta::Value;

struct Snapshot {
  std::vector<DbfField> fields;
  std::vector<bool> deleted;
  std::vector<std::vector<Value>> cells;
};

Snapshot snapshot(const DbfTable& table) {
  Snapshot s;
  s.fields = table.fields();
  for (std::int64_t r = 0; r < table.recordCount(); ++r) {
    s.deleted.push_back(table.isDeleted(r));
    std::vector<Value> row;
    for (std::size_t f = 0; f < s.fields.size(); ++f) row.push_back(table.value(r, static_cast<int>(f)));
    s.cells.push_back(std::move(row));
  }
  return s;
}

// True when `back` is what a column declared like `f` keeps of `set`: the
// same value; for a double, the whole number nearest to it in a column
// without decimals, else the value within half a unit of the last declared
// decimal.
bool heldAs(const DbfField& f, const Value& set, const Value& back) {
  if (set == back) return true;
  const auto* x = std::get_if<double>(&set);
  if (!x) return false;
  double y = 0;
  if (const auto* d = std::get_if<double>(&back)) {
    y = *d;
  } else if (const auto* i = std::get_if<std::int64_t>(&back)) {
    y = static_cast<double>(*i);
  } else {
    return false;
  }
  // A fraction in a column without decimals ("3.", "2.5") is written as the
  // whole number nearest to it, halves away from zero.
  if (f.decimals == 0) return y == std::round(*x);
  const double tolerance =
      std::max(0.5 * std::pow(10.0, -f.decimals) + 4e-16 * std::fabs(*x), 1e-12 * std::fabs(*x));
  return std::fabs(y - *x) <= tolerance * (1 + 1e-9);
}

// Checks that `after` holds the columns of `before` except column `skip`
// (-1: none), followed by `added` extra columns.
void checkKept(const Snapshot& before, const Snapshot& after, int skip, std::size_t added) {
  const std::size_t kept = before.fields.size() - (skip >= 0 ? 1 : 0);
  QUILTA_FUZZ_CHECK(after.fields.size() == kept + added);
  QUILTA_FUZZ_CHECK(after.cells.size() == before.cells.size());
  QUILTA_FUZZ_CHECK(after.deleted == before.deleted);
  for (std::size_t f = 0, g = 0; f < before.fields.size(); ++f) {
    if (static_cast<int>(f) == skip) continue;
    const DbfField& a = before.fields[f];
    const DbfField& b = after.fields[g];
    QUILTA_FUZZ_CHECK(a.name == b.name && a.type == b.type && a.width == b.width && a.decimals == b.decimals);
    for (std::size_t r = 0; r < before.cells.size(); ++r) QUILTA_FUZZ_CHECK(before.cells[r][f] == after.cells[r][g]);
    ++g;
  }
}

void writeFile(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path dir = quilta::fuzz::scratchDir();
  const std::filesystem::path path = dir / "t.dbf";
  const std::filesystem::path cpg = dir / "t.cpg";
  writeFile(path, data, size);
  // Odd sizes are read as UTF-8 tables, even ones as Windows-1252.
  std::error_code ignored;
  std::filesystem::remove(cpg, ignored);
  if (size % 2 == 1) std::ofstream(cpg) << "UTF-8";

  Snapshot before;
  try {
    const DbfTable table = DbfTable::open(path, false);
    before = snapshot(table);
  } catch (const HostError&) {
    return 0;  // refused as a whole: nothing else to check
  }

  // Values read and set back read the same; the file stores them.
  Snapshot expected;
  try {
    DbfTable table = DbfTable::open(path, true);
    const std::int64_t touched = std::min<std::int64_t>(table.recordCount(), 3);
    for (std::int64_t r = 0; r < touched; ++r) {
      for (std::size_t f = 0; f < before.fields.size(); ++f) {
        const Value& v = before.cells[static_cast<std::size_t>(r)][f];
        try {
          table.setValue(r, static_cast<int>(f), v);
        } catch (const HostError&) {
          continue;  // a number the column cannot hold in its width
        }
        QUILTA_FUZZ_CHECK(heldAs(before.fields[f], v, table.value(r, static_cast<int>(f))));
      }
      table.store(r);
    }
    expected = snapshot(table);
  } catch (const HostError&) {
    // A table that opens for reading must open for writing, and hold what
    // it read.
    quilta::fuzz::fail("writable open or set-back refused", __FILE__, __LINE__);
  }
  {
    const DbfTable table = DbfTable::open(path, false);
    checkKept(expected, snapshot(table), -1, 0);
  }

  // A column added arrives with its fill and keeps everything else.
  bool added = false;
  {
    DbfTable table = DbfTable::open(path, true);
    try {
      table.addField(DbfField{"QFZ", 'N', 12, 3}, 1.5);
      added = true;
    } catch (const HostError&) {
      // a field of that name, 255 fields or records too long already
    }
    table.flush();
  }
  if (added) {
    const DbfTable table = DbfTable::open(path, false);
    const Snapshot after = snapshot(table);
    checkKept(expected, after, -1, 1);
    for (const auto& row : after.cells) QUILTA_FUZZ_CHECK(row.back() == Value{1.5});
    expected = after;
  }

  // A column deleted takes only its own values.
  if (!expected.fields.empty()) {
    {
      DbfTable table = DbfTable::open(path, true);
      table.deleteField(0);
      table.flush();
    }
    const DbfTable table = DbfTable::open(path, false);
    checkKept(expected, snapshot(table), 0, 0);
  }
  return 0;
}
