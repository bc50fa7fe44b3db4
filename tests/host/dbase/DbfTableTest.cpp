// Tests of the dBASE attribute table: reading the sample landscape, schema
// changes and how they reach the file, single-record stores, number and text
// conversion, code pages, and refusal of what a table cannot hold.

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "host/dbase/DbfTable.h"
#include "host/HostError.h"

namespace fs = std::filesystem;
using quilta::DbfField;
using quilta::DbfTable;
using quilta::HostError;
using quilta::Value;

namespace {

fs::path sourceDir() {
  const char* dir = std::getenv("QUILTA_SOURCE_DIR");
  return dir && *dir ? fs::path(dir) : fs::current_path();
}

std::string readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

unsigned u16(const std::string& b, std::size_t at) {
  return static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8;
}

// Assembles a dBASE III file byte by byte, independently of DbfTable, so that
// tests can feed it exact content. Each record is given without its flag byte.
std::string assembleDbf(const std::vector<DbfField>& fields,
                        const std::vector<std::string>& records, const std::string& flags = "",
                        char ldid = 0x57) {
  std::size_t recordLength = 1;
  for (const DbfField& f : fields) recordLength += static_cast<std::size_t>(f.width);
  const std::size_t headerLength = 32 + 32 * fields.size() + 1;
  std::string b(headerLength, '\0');
  b[0] = 0x03;
  b[1] = 95, b[2] = 1, b[3] = 1;  // 1995-01-01
  for (int i = 0; i < 4; ++i) b[4 + i] = static_cast<char>(records.size() >> (8 * i));
  b[8] = static_cast<char>(headerLength & 0xFF), b[9] = static_cast<char>(headerLength >> 8);
  b[10] = static_cast<char>(recordLength & 0xFF), b[11] = static_cast<char>(recordLength >> 8);
  b[29] = ldid;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    b.replace(32 + 32 * i, fields[i].name.size(), fields[i].name);
    b[32 + 32 * i + 11] = fields[i].type;
    b[32 + 32 * i + 16] = static_cast<char>(fields[i].width);
    b[32 + 32 * i + 17] = static_cast<char>(fields[i].decimals);
  }
  b.back() = 0x0D;
  for (std::size_t r = 0; r < records.size(); ++r) {
    EXPECT_EQ(records[r].size() + 1, recordLength) << "malformed test record " << r;
    b += r < flags.size() ? flags[r] : ' ';
    b += records[r];
  }
  return b + '\x1A';
}

// The raw bytes of one cell as they lie in the file, located through the file's
// own header.
std::string rawCell(const std::string& file, std::size_t record, std::size_t field) {
  std::size_t offset = 1;
  for (std::size_t i = 0; i < field; ++i)
    offset += static_cast<unsigned char>(file[32 + 32 * i + 16]);
  const std::size_t width = static_cast<unsigned char>(file[32 + 32 * field + 16]);
  return file.substr(u16(file, 8) + record * u16(file, 10) + offset, width);
}

// Today's date as a dBASE header holds it: year - 1900, month, day.
std::string today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  return {static_cast<char>(local.tm_year), static_cast<char>(local.tm_mon + 1),
          static_cast<char>(local.tm_mday)};
}

double relativeError(double got, double want) { return std::fabs(got - want) / std::fabs(want); }

class DbfTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> serial{0};
    dir_ = fs::temp_directory_path() /
           ("quilta-dbf-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path file(const std::string& name) const { return dir_ / name; }

  fs::path copySample() {
    const fs::path target = file("olinda_elevation.dbf");
    fs::copy_file(sourceDir() / "data/sample/olinda_elevation.dbf", target);
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
    return target;
  }

  // A cp1252 table (no .cpg) of three parcels: id N(6,0), name C(12), area N(10,2).
  fs::path parcels(const std::string& flags = "") {
    const fs::path path = file("parcels.dbf");
    writeBytes(path, assembleDbf(kParcelFields,
                                 {std::string("     1") + "Recife      " + "     12.50",
                                  std::string("     2") + "Olinda      " + "     -3.25",
                                  std::string("     3") + "            " + "      0.00"},
                                 flags));
    return path;
  }

  // A new UTF-8 table holding `fields` and the given records (as raw text).
  fs::path created(const std::vector<DbfField>& fields, const std::vector<std::string>& records) {
    const fs::path path = file("made.dbf");
    DbfTable::create(path, fields);
    std::string bytes = readBytes(path);
    bytes.pop_back();  // 0x1A
    for (const std::string& r : records) bytes += ' ' + r;
    bytes[4] = static_cast<char>(records.size());
    writeBytes(path, bytes + '\x1A');
    return path;
  }

  // Sets one cell, stores it, and reads it back from a freshly opened table.
  Value roundTrip(const fs::path& path, int field, const Value& v) {
    {
      DbfTable t = DbfTable::open(path, true);
      t.setValue(0, field, v);
      t.store(0);
    }
    return DbfTable::open(path, false).value(0, field);
  }

  const std::vector<DbfField> kParcelFields = {
      {"id", 'N', 6, 0}, {"name", 'C', 12, 0}, {"area", 'N', 10, 2}};
  fs::path dir_;
};

// --- Reading the sample landscape ------------------------------------------------

using DbfSampleTest = DbfTableTest;

TEST_F(DbfSampleTest, OpensWithItsSchema) {
  const DbfTable t = DbfTable::open(copySample(), false);
  EXPECT_FALSE(t.writable());
  EXPECT_EQ(t.recordCount(), 413);
  ASSERT_EQ(t.fields().size(), 2u);
  EXPECT_EQ(t.fields()[0].name, "band");
  EXPECT_EQ(t.fields()[0].type, 'N');
  EXPECT_EQ(t.fields()[0].width, 9);
  EXPECT_EQ(t.fields()[1].name, "zone");
  EXPECT_EQ(t.fields()[1].type, 'C');
  EXPECT_EQ(t.fields()[1].width, 16);
  EXPECT_EQ(t.findField("ZONE"), 1);
  EXPECT_EQ(t.findField("Band"), 0);
  EXPECT_EQ(t.findField("slope"), -1);
}

TEST_F(DbfSampleTest, EveryPatchHasABandAndTheZoneOfThatBand) {
  const std::map<std::int64_t, std::string> zoneOfBand = {
      {1, "coastal plain"}, {2, "lowland"}, {3, "terrace"}, {4, "slope"}, {5, "hilltop"}};
  const DbfTable t = DbfTable::open(copySample(), false);
  std::map<std::int64_t, int> patches;
  for (std::int64_t r = 0; r < t.recordCount(); ++r) {
    ASSERT_FALSE(t.isDeleted(r));
    const Value band = t.value(r, 0);
    ASSERT_TRUE(std::holds_alternative<std::int64_t>(band)) << "record " << r;
    const std::int64_t b = std::get<std::int64_t>(band);
    ASSERT_TRUE(zoneOfBand.count(b)) << "record " << r << " band " << b;
    EXPECT_EQ(t.value(r, 1), Value(zoneOfBand.at(b))) << "record " << r;
    ++patches[b];
  }
  EXPECT_EQ(patches.size(), 5u);  // every band occurs
}

TEST_F(DbfSampleTest, StoredChangeSurvivesReopenAndLeavesOtherPatchesAlone) {
  const fs::path path = copySample();
  const DbfTable before = DbfTable::open(path, false);
  {
    DbfTable t = DbfTable::open(path, true);
    t.setValue(7, 0, std::int64_t{5});
    t.setValue(7, 1, std::string("hilltop"));
    t.store(7);
  }
  const DbfTable after = DbfTable::open(path, false);
  EXPECT_EQ(after.value(7, 0), Value(std::int64_t{5}));
  EXPECT_EQ(after.value(7, 1), Value(std::string("hilltop")));
  for (std::int64_t r : {0, 6, 8, 412}) EXPECT_EQ(after.value(r, 1), before.value(r, 1));
}

// --- Creating tables and changing their schema -----------------------------------

using DbfSchemaTest = DbfTableTest;

TEST_F(DbfSchemaTest, CreateWritesAnEmptyDbaseIIITableAndUtf8CodePage) {
  const fs::path path = file("new.dbf");
  DbfTable::create(path, {{"class", 'N', 4, 0}, {"label", 'C', 30, 0}, {"area", 'N', 24, 15}});
  const std::string b = readBytes(path);
  ASSERT_EQ(b.size(), 32u + 3 * 32 + 1 + 1);
  EXPECT_EQ(b[0], 0x03);
  EXPECT_EQ(b.substr(4, 4), std::string(4, '\0'));  // no records
  EXPECT_EQ(u16(b, 8), 32u + 3 * 32 + 1);
  EXPECT_EQ(u16(b, 10), 1u + 4 + 30 + 24);
  EXPECT_EQ(b[29], 0);  // language driver left to the .cpg
  EXPECT_EQ(b.substr(64, 11), std::string("label\0\0\0\0\0\0", 11));
  EXPECT_EQ(b[64 + 11], 'C');
  EXPECT_EQ(b[96 + 16], 24);
  EXPECT_EQ(b[96 + 17], 15);
  EXPECT_EQ(b[128], 0x0D);
  EXPECT_EQ(b.back(), 0x1A);
  EXPECT_EQ(readBytes(file("new.cpg")), "UTF-8");
  EXPECT_EQ(DbfTable::open(path, false).fields()[2].decimals, 15);
}

TEST_F(DbfSchemaTest, AddedFieldIsPresetInEveryRecordAndOldValuesStay) {
  const fs::path path = parcels();
  {
    DbfTable t = DbfTable::open(path, true);
    t.addField({"class", 'N', 3, 0}, std::int64_t{7});
    t.addField({"note", 'C', 5, 0});
    t.flush();
  }
  const DbfTable t = DbfTable::open(path, false);
  ASSERT_EQ(t.fields().size(), 5u);
  for (std::int64_t r = 0; r < 3; ++r) {
    EXPECT_EQ(t.value(r, 0), Value(std::int64_t{r + 1}));
    EXPECT_EQ(t.value(r, 3), Value(std::int64_t{7}));
    EXPECT_TRUE(quilta::isNull(t.value(r, 4)));
  }
  EXPECT_EQ(t.value(1, 1), Value(std::string("Olinda")));
  EXPECT_EQ(t.value(1, 2), Value(-3.25));
}

TEST_F(DbfSchemaTest, DeletedFieldTakesOnlyItsBytes) {
  const fs::path path = parcels();
  {
    DbfTable t = DbfTable::open(path, true);
    t.deleteField(1);
    t.flush();
  }
  const std::string b = readBytes(path);
  EXPECT_EQ(u16(b, 10), 1u + 6 + 10);
  EXPECT_EQ(b.size(), 32u + 2 * 32 + 1 + 3 * 17 + 1);
  const DbfTable t = DbfTable::open(path, false);
  ASSERT_EQ(t.fields().size(), 2u);
  EXPECT_EQ(t.fields()[1].name, "area");
  EXPECT_EQ(t.value(0, 1), Value(12.5));
  EXPECT_EQ(t.value(2, 0), Value(std::int64_t{3}));
}

TEST_F(DbfSchemaTest, FillFieldSetsEveryRecord) {
  const fs::path path = parcels();
  {
    DbfTable t = DbfTable::open(path, true);
    t.fillField(2, 0.125);
    t.fillField(1, Value{});
    t.flush();
  }
  const DbfTable t = DbfTable::open(path, false);
  for (std::int64_t r = 0; r < 3; ++r) {
    EXPECT_EQ(t.value(r, 2), Value(0.125));
    EXPECT_TRUE(quilta::isNull(t.value(r, 1)));
  }
}

TEST_F(DbfSchemaTest, RewriteKeepsDeletedFlagsCodePagePermissionsAndDatesTheHeader) {
  const fs::path path = parcels(" * ");
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const std::string dayBefore = today();
  {
    DbfTable t = DbfTable::open(path, true);
    t.addField({"extra", 'C', 4, 0}, std::string("x"));
    t.flush();
  }
  const std::string dayAfter = today();
  const std::string b = readBytes(path);
  EXPECT_TRUE(b.substr(1, 3) == dayBefore || b.substr(1, 3) == dayAfter);  // was 1995-01-01
  EXPECT_EQ(b[29], 0x57);
  EXPECT_EQ(b.back(), 0x1A);
  EXPECT_EQ(fs::status(path).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()),
            1);  // no temporary left
  const DbfTable t = DbfTable::open(path, false);
  EXPECT_FALSE(t.isDeleted(0));
  EXPECT_TRUE(t.isDeleted(1));
  EXPECT_FALSE(t.isDeleted(2));
}

TEST_F(DbfSchemaTest, RewriteKeepsNamesThatFillAllElevenBytes) {
  // Some writers leave no terminating zero after an 11-character name.
  const fs::path path = file("long.dbf");
  writeBytes(path, assembleDbf({{"elevation_m", 'N', 5, 0}, {"zone", 'C', 4, 0}}, {"  120hill", "   35flat"}));
  {
    DbfTable t = DbfTable::open(path, true);
    ASSERT_EQ(t.fields()[0].name, "elevation_m");
    t.addField({"extra", 'N', 3, 0}, std::int64_t{1});
    t.flush();
  }
  const std::string b = readBytes(path);
  EXPECT_EQ(b.substr(32, 11), "elevation_m");
  EXPECT_EQ(b.substr(64, 5), std::string("zone\0", 5));
  const DbfTable t = DbfTable::open(path, false);
  EXPECT_EQ(t.findField("elevation_m"), 0);
  EXPECT_EQ(t.value(1, 0), Value(std::int64_t{35}));
  EXPECT_EQ(t.value(1, 2), Value(std::int64_t{1}));
}

// --- When bytes reach the file ----------------------------------------------------

using DbfStoreTest = DbfTableTest;

TEST_F(DbfStoreTest, StoreWritesOnlyThatRecordsBytes) {
  const fs::path path = parcels();
  const std::string before = readBytes(path);
  DbfTable t = DbfTable::open(path, true);
  t.setValue(1, 0, std::int64_t{42});
  t.setValue(2, 0, std::int64_t{99});  // set but not stored
  t.store(1);
  const std::string after = readBytes(path);
  ASSERT_EQ(after.size(), before.size());
  const std::size_t recordStart = u16(before, 8) + 1 * u16(before, 10);
  for (std::size_t i = 0; i < before.size(); ++i) {
    if (before[i] != after[i]) {
      EXPECT_GE(i, recordStart) << "byte " << i;
      EXPECT_LT(i, recordStart + u16(before, 10)) << "byte " << i;
    }
  }
  EXPECT_EQ(rawCell(after, 1, 0), "    42");
  EXPECT_EQ(rawCell(after, 2, 0), "     3");
}

TEST_F(DbfStoreTest, SchemaChangeWaitsForFlush) {
  const fs::path path = parcels();
  const std::string before = readBytes(path);
  DbfTable t = DbfTable::open(path, true);
  t.addField({"class", 'N', 3, 0}, std::int64_t{1});
  t.fillField(0, std::int64_t{8});
  t.deleteField(1);
  EXPECT_EQ(readBytes(path), before);
  t.flush();
  EXPECT_NE(readBytes(path), before);
  EXPECT_EQ(DbfTable::open(path, false).fields().size(), 3u);
}

TEST_F(DbfStoreTest, StorePerformsThePendingRewrite) {
  const fs::path path = parcels();
  DbfTable t = DbfTable::open(path, true);
  t.addField({"class", 'N', 3, 0});
  t.setValue(2, 3, std::int64_t{12});
  t.store(2);
  const DbfTable reread = DbfTable::open(path, false);
  ASSERT_EQ(reread.fields().size(), 4u);
  EXPECT_EQ(reread.value(2, 3), Value(std::int64_t{12}));
}

TEST_F(DbfStoreTest, StoreAfterRewriteLandsInTheNewLayout) {
  const fs::path path = parcels();
  DbfTable t = DbfTable::open(path, true);
  t.deleteField(0);
  t.flush();
  t.setValue(1, 0, std::string("Igarassu"));
  t.store(1);
  const DbfTable reread = DbfTable::open(path, false);
  EXPECT_EQ(reread.value(1, 0), Value(std::string("Igarassu")));
  EXPECT_EQ(reread.value(1, 1), Value(-3.25));
  EXPECT_EQ(reread.value(2, 0), Value{});
}

TEST_F(DbfStoreTest, UnflushedSchemaChangeNeverReachesTheFile) {
  const fs::path path = parcels();
  const std::string before = readBytes(path);
  {
    DbfTable t = DbfTable::open(path, true);
    t.addField({"class", 'N', 3, 0}, std::int64_t{1});
  }
  EXPECT_EQ(readBytes(path), before);
}

// --- Numbers -----------------------------------------------------------------------

using DbfNumberTest = DbfTableTest;

TEST_F(DbfNumberTest, DefaultDoubleColumnKeepsTwelveDigitsFromNanoToPeta) {
  std::vector<double> values = {
      1.23456789012345e-9, 123456789.123456, 9.87654321098765e14, 0.1, 2.0 / 3.0, 1e15, 1e-9};
  for (int e = -9; e <= 15; ++e) values.push_back(std::sqrt(2.0) * std::pow(10.0, e));
  const std::size_t n = values.size();
  for (std::size_t i = 0; i < n; ++i) values.push_back(-values[i]);

  const fs::path path =
      created({{"id", 'N', 4, 0}}, std::vector<std::string>(values.size(), "   0"));
  {
    DbfTable t = DbfTable::open(path, true);
    t.addField({"value", 'N', 24, 15});
    for (std::size_t i = 0; i < values.size(); ++i)
      t.setValue(static_cast<std::int64_t>(i), 1, values[i]);
    t.flush();
  }
  const DbfTable t = DbfTable::open(path, false);
  for (std::size_t i = 0; i < values.size(); ++i) {
    const Value v = t.value(static_cast<std::int64_t>(i), 1);
    ASSERT_TRUE(std::holds_alternative<double>(v)) << values[i];
    EXPECT_LE(relativeError(std::get<double>(v), values[i]), 1e-12) << values[i];
  }
}

TEST_F(DbfNumberTest, DeclaredDecimalsAreUsedWhenTheyLoseNothing) {
  const fs::path path = parcels();
  EXPECT_EQ(roundTrip(path, 2, 3.5), Value(3.5));
  EXPECT_EQ(rawCell(readBytes(path), 0, 2), "      3.50");
  EXPECT_EQ(roundTrip(path, 2, 1234.5678), Value(1234.5678));  // more digits than declared
  EXPECT_EQ(roundTrip(path, 2, -0.0), Value(0.0));
  EXPECT_EQ(rawCell(readBytes(path), 0, 2), "      0.00");
}

TEST_F(DbfNumberTest, DoubleIntoWholeNumberColumnRoundsHalfAwayFromZero) {
  const fs::path path = parcels();
  EXPECT_EQ(roundTrip(path, 0, 2.5), Value(std::int64_t{3}));
  EXPECT_EQ(roundTrip(path, 0, -2.5), Value(std::int64_t{-3}));
  EXPECT_EQ(roundTrip(path, 0, -0.4), Value(std::int64_t{0}));
  EXPECT_EQ(rawCell(readBytes(path), 0, 0), "     0");
}

TEST_F(DbfNumberTest, WholeNumbersKeepEveryDigitOfInt64) {
  const fs::path path = created({{"big", 'N', 20, 0}}, {std::string(20, ' ')});
  for (std::int64_t v :
       {std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::min()}) {
    EXPECT_EQ(roundTrip(path, 0, v), Value(v));
  }
}

TEST_F(DbfNumberTest, CellsThatAreNotNumbersReadAsNull) {
  const fs::path path =
      created({{"n", 'N', 6, 0}, {"f", 'F', 8, 3}},
              {std::string("******") + "   1.500", std::string("      ") + "********",
               std::string("  +12 ") + "       2", std::string("1e3   ") + "-.25    "});
  const DbfTable t = DbfTable::open(path, false);
  EXPECT_TRUE(quilta::isNull(t.value(0, 0)));
  EXPECT_EQ(t.value(0, 1), Value(1.5));
  EXPECT_TRUE(quilta::isNull(t.value(1, 0)));  // blank
  EXPECT_TRUE(quilta::isNull(t.value(1, 1)));
  EXPECT_EQ(t.value(2, 0), Value(std::int64_t{12}));
  EXPECT_EQ(t.value(2, 1), Value(2.0));  // a declared-decimals column gives doubles
  EXPECT_EQ(t.value(3, 0), Value(1000.0));
  EXPECT_EQ(t.value(3, 1), Value(-0.25));
}

TEST_F(DbfNumberTest, TextIntoNumericColumnIsParsed) {
  const fs::path path = parcels();
  EXPECT_EQ(roundTrip(path, 2, std::string("  12.5 ")), Value(12.5));
  EXPECT_EQ(roundTrip(path, 0, std::string("-17")), Value(std::int64_t{-17}));
  EXPECT_TRUE(quilta::isNull(roundTrip(path, 0, std::string("  "))));
}

TEST_F(DbfNumberTest, NumberIntoTextColumnHasFifteenSignificantDigits) {
  const fs::path path = created({{"label", 'C', 20, 0}}, {std::string(20, ' ')});
  EXPECT_EQ(roundTrip(path, 0, 0.1 + 0.2), Value(std::string("0.3")));
  EXPECT_EQ(roundTrip(path, 0, 2.0 / 3.0), Value(std::string("0.666666666666667")));
  EXPECT_EQ(roundTrip(path, 0, -1e20), Value(std::string("-1e+20")));
  EXPECT_EQ(roundTrip(path, 0, std::int64_t{-42}), Value(std::string("-42")));
}

TEST_F(DbfNumberTest, NumbersIgnoreADecimalCommaLocale) {
  const char* found = nullptr;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "pt_BR.UTF-8", "de_DE"}) {
    if (std::setlocale(LC_ALL, name)) {
      found = name;
      break;
    }
  }
  if (!found) GTEST_SKIP() << "no decimal-comma locale installed";
  const fs::path path = parcels();
  const Value declared = roundTrip(path, 2, 3.5);
  const std::string declaredBytes = readBytes(path);
  const Value written = roundTrip(path, 2, 1234.5678);
  const Value parsed = roundTrip(path, 0, std::string("2.5"));
  const std::string bytes = readBytes(path);
  const Value text = roundTrip(path, 1, 0.5);
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(declared, Value(3.5)) << found;
  EXPECT_EQ(rawCell(declaredBytes, 0, 2), "      3.50");
  EXPECT_EQ(written, Value(1234.5678));
  EXPECT_EQ(rawCell(bytes, 0, 2), " 1234.5678");
  EXPECT_EQ(parsed, Value(std::int64_t{3}));
  EXPECT_EQ(text, Value(std::string("0.5")));
}

// --- Refusals ------------------------------------------------------------------------

using DbfRefusalTest = DbfTableTest;

TEST_F(DbfRefusalTest, BadFieldDefinitionsAreRefusedAndChangeNothing) {
  const fs::path path = parcels();
  DbfTable t = DbfTable::open(path, true);
  const std::vector<DbfField> bad = {
      {"NAME", 'C', 5, 0}, {"longername1", 'N', 5, 0}, {"", 'C', 5, 0},
      {"a-b", 'C', 5, 0},  {"w", 'C', 0, 0},           {"w", 'C', 255, 0},
      {"d", 'N', 5, 5},    {"t", 'C', 5, 2},           {"m", 'M', 10, 0}};
  for (const DbfField& f : bad) EXPECT_THROW(t.addField(f), HostError) << f.name;
  EXPECT_THROW(t.addField({"ok", 'N', 3, 0}, std::int64_t{1000}), HostError);  // fill does not fit
  EXPECT_EQ(t.fields().size(), 3u);
  t.flush();
  EXPECT_EQ(DbfTable::open(path, false).fields().size(), 3u);
  EXPECT_THROW(DbfTable::create(file("dup.dbf"), {{"a", 'C', 1, 0}, {"A", 'N', 1, 0}}), HostError);
}

TEST_F(DbfRefusalTest, TablesStopAt255FieldsAnd65535ByteRecords) {
  std::vector<DbfField> many;
  for (int i = 0; i < 255; ++i) many.push_back({"f" + std::to_string(i), 'C', 1, 0});
  DbfTable::create(file("many.dbf"), many);
  EXPECT_THROW(DbfTable::open(file("many.dbf"), true).addField({"one_more", 'C', 1, 0}), HostError);

  // A text column of 65,000 bytes, its width's high byte in the decimals byte.
  std::string wide = assembleDbf({{"essay", 'C', 65000 & 0xFF, 65000 >> 8}}, {});
  wide[10] = static_cast<char>(65001 & 0xFF), wide[11] = static_cast<char>(65001 >> 8);
  writeBytes(file("wide.dbf"), wide);
  DbfTable t = DbfTable::open(file("wide.dbf"), true);
  EXPECT_EQ(t.fields()[0].width, 65000);
  t.addField({"a", 'C', 254, 0});
  t.addField({"b", 'C', 254, 0});
  EXPECT_THROW(t.addField({"c", 'C', 27, 0}), HostError);  // 65,536 bytes
  t.addField({"d", 'C', 26, 0});                           // 65,535 bytes
  t.flush();
  const std::string b = readBytes(file("wide.dbf"));
  EXPECT_EQ(u16(b, 10), 65535u);
  EXPECT_EQ(DbfTable::open(file("wide.dbf"), false).fields()[0].width, 65000);
}

TEST_F(DbfRefusalTest, ValuesThatDoNotFitLeaveTheCellAlone) {
  DbfTable t = DbfTable::open(parcels(), true);
  EXPECT_THROW(t.setValue(0, 1, std::string("Jaboatão dos Guararapes")), HostError);
  EXPECT_THROW(t.setValue(0, 0, std::int64_t{1234567}), HostError);
  EXPECT_THROW(t.setValue(0, 0, 1234567.0), HostError);
  EXPECT_THROW(t.setValue(0, 2, 123456789012.0), HostError);  // would keep 5 of 12 digits
  EXPECT_THROW(t.setValue(0, 2, std::string("12,5")), HostError);
  EXPECT_THROW(t.setValue(0, 2, std::string("n/a")), HostError);
  EXPECT_THROW(t.setValue(0, 2, std::numeric_limits<double>::quiet_NaN()), HostError);
  EXPECT_THROW(t.setValue(0, 2, std::numeric_limits<double>::infinity()), HostError);
  EXPECT_THROW(t.setValue(3, 0, std::int64_t{1}), HostError);
  EXPECT_THROW(t.setValue(0, 3, std::int64_t{1}), HostError);
  EXPECT_EQ(t.value(0, 0), Value(std::int64_t{1}));
  EXPECT_EQ(t.value(0, 1), Value(std::string("Recife")));
  EXPECT_EQ(t.value(0, 2), Value(12.5));
}

TEST_F(DbfRefusalTest, ReadOnlyTableRefusesEveryChange) {
  const fs::path path = parcels();
  const std::string before = readBytes(path);
  DbfTable t = DbfTable::open(path, false);
  const std::vector<std::function<void()>> changes = {
      [&] { t.setValue(0, 0, std::int64_t{2}); }, [&] { t.store(0); },
      [&] {
        t.addField({"x", 'C', 1, 0});
      },
      [&] { t.deleteField(0); }, [&] { t.fillField(0, Value{}); }};
  for (const auto& change : changes) {
    try {
      change();
      ADD_FAILURE() << "a read-only table accepted a change";
    } catch (const HostError& e) {
      EXPECT_NE(std::string(e.what()).find("read-only"), std::string::npos) << e.what();
    }
  }
  t.flush();  // nothing pending: no complaint
  EXPECT_EQ(readBytes(path), before);
}

// --- Code pages ----------------------------------------------------------------------

using DbfEncodingTest = DbfTableTest;

TEST_F(DbfEncodingTest, WithoutCodePageFileTextIsWindows1252) {
  const fs::path path = file("towns.dbf");
  writeBytes(path, assembleDbf({{"town", 'C', 10, 0}}, {"S\xE3o Jos\xE9  ", "\x80 5\x81      "}));
  DbfTable t = DbfTable::open(path, true);
  EXPECT_EQ(t.value(0, 0), Value(std::string("São José")));
  EXPECT_EQ(t.value(1, 0), Value(std::string("€ 5\u0081")));
  t.setValue(0, 0, std::string("Piauí – €"));
  t.setValue(1, 0, std::string("日本 x\u0081"));
  EXPECT_THROW(t.setValue(1, 0, std::string("Caruaruçççç")), HostError);  // 11 bytes in cp1252
  t.store(0);
  t.store(1);
  const std::string b = readBytes(path);
  EXPECT_EQ(rawCell(b, 0, 0), "Piau\xED \x96 \x80 ");
  EXPECT_EQ(rawCell(b, 1, 0), "?? x\x81     ");
}

TEST_F(DbfEncodingTest, CodePageFileSelectsUtf8WhateverItsSpelling) {
  for (const auto& [cpgName, content] :
       std::vector<std::pair<std::string, std::string>>{{"towns.cpg", "utf-8"},
                                                        {"towns.CPG", " UTF8\r\n"},
                                                        {"towns.Cpg",
                                                         "\xEF\xBB\xBF"
                                                         "65001\n"}}) {
    const fs::path path = file("towns.dbf");
    writeBytes(path, assembleDbf({{"town", 'C', 10, 0}}, {"S\xC3\xA3o Jos\xC3\xA9"}));
    writeBytes(file(cpgName), content);
    DbfTable t = DbfTable::open(path, true);
    EXPECT_EQ(t.value(0, 0), Value(std::string("São José"))) << cpgName;
    t.setValue(0, 0, std::string("Piauí €"));
    t.store(0);
    EXPECT_EQ(rawCell(readBytes(path), 0, 0), "Piau\xC3\xAD \xE2\x82\xAC") << cpgName;
    fs::remove(file(cpgName));
  }
}

TEST_F(DbfEncodingTest, OtherCodePageFileMeansWindows1252) {
  const fs::path path = file("towns.dbf");
  writeBytes(path, assembleDbf({{"town", 'C', 10, 0}}, {"Goian\xE9sia "}));
  writeBytes(file("towns.cpg"), "1252");
  EXPECT_EQ(DbfTable::open(path, false).value(0, 0), Value(std::string("Goianésia")));
}

TEST_F(DbfEncodingTest, Utf8TextLongerThanTheColumnIsRefused) {
  const fs::path path = created({{"town", 'C', 6, 0}}, {"      "});
  DbfTable t = DbfTable::open(path, true);
  EXPECT_NO_THROW(t.setValue(0, 0, std::string("Itapé")));         // 6 bytes: é takes two
  EXPECT_THROW(t.setValue(0, 0, std::string("éééé")), HostError);  // 4 letters, 8 bytes
  EXPECT_EQ(t.value(0, 0), Value(std::string("Itapé")));
}

// --- Damaged and foreign files -------------------------------------------------------

using DbfDamageTest = DbfTableTest;

TEST_F(DbfDamageTest, MissingFileNamesTheFileAndTheCause) {
  const fs::path path = file("absent.dbf");
  try {
    DbfTable::open(path, false);
    FAIL() << "opened a missing file";
  } catch (const HostError& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find(path.string()), std::string::npos) << message;
    EXPECT_NE(message.find(std::strerror(ENOENT)), std::string::npos) << message;
  }
}

TEST_F(DbfDamageTest, ForeignFilesAreRefused) {
  writeBytes(file("notes.dbf"), std::string("this is a text file, not an attribute table\n"));
  writeBytes(file("tiny.dbf"), std::string("\x03\x7e\x01", 3));
  for (const fs::path& path : {file("notes.dbf"), file("tiny.dbf")}) {
    try {
      DbfTable::open(path, false);
      ADD_FAILURE() << "opened " << path;
    } catch (const HostError& e) {
      EXPECT_NE(std::string(e.what()).find("not a dBASE table"), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(DbfTable::open(dir_, false), HostError);
}

TEST_F(DbfDamageTest, TruncatedRecordsAreReportedAsSuch) {
  const fs::path path = parcels();
  const std::string whole = readBytes(path);
  writeBytes(path, whole.substr(0, whole.size() - 10));
  try {
    DbfTable::open(path, false);
    FAIL() << "opened a truncated table";
  } catch (const HostError& e) {
    EXPECT_NE(std::string(e.what()).find("truncated"), std::string::npos) << e.what();
  }
}

TEST_F(DbfDamageTest, RecordLengthMustBeTheSumOfTheFieldWidths) {
  // Records of 26 bytes declared over fields of 1 + 6 + 12 + 10 = 29 bytes, and
  // of 36: neither can be read cell by cell, and a column added after the
  // surplus bytes would be read from them.
  const fs::path path = parcels();
  const std::string whole = readBytes(path);
  for (const char length : {char{26}, char{36}}) {
    std::string bytes = whole;
    bytes[10] = length;
    writeBytes(path, bytes);
    try {
      DbfTable::open(path, false);
      ADD_FAILURE() << "opened records of " << int{length} << " bytes";
    } catch (const HostError& e) {
      EXPECT_NE(std::string(e.what()).find("fields need 29 bytes per record but records have " +
                                           std::to_string(int{length})),
                std::string::npos)
          << e.what();
    }
  }
}

TEST_F(DbfDamageTest, MissingEndMarkerAndTrailingBytesAreTolerated) {
  const fs::path path = parcels();
  const std::string whole = readBytes(path);
  writeBytes(path, whole.substr(0, whole.size() - 1));
  EXPECT_EQ(DbfTable::open(path, false).value(2, 0), Value(std::int64_t{3}));
  writeBytes(path, whole + "garbage after the end");
  {
    DbfTable t = DbfTable::open(path, true);
    EXPECT_EQ(t.recordCount(), 3);
    t.fillField(0, std::int64_t{4});
    t.flush();
  }
  const std::string rewritten = readBytes(path);
  EXPECT_EQ(rewritten.size(), whole.size());
  EXPECT_EQ(rewritten.back(), 0x1A);
}

}  // namespace

namespace {

// The parcels table with `change` applied to its bytes; opening it must fail
// naming `cause`.
class DbfHeaderCheckTest : public DbfTableTest {
 protected:
  void expectRefused(const std::function<void(std::string&)>& change, const std::string& cause) {
    SCOPED_TRACE(cause);
    const fs::path path = parcels();
    std::string bytes = readBytes(path);
    change(bytes);
    writeBytes(path, bytes);
    for (bool writable : {false, true}) {
      try {
        DbfTable::open(path, writable);
        ADD_FAILURE() << "opened a damaged table";
      } catch (const HostError& e) {
        EXPECT_NE(std::string(e.what()).find(cause), std::string::npos) << e.what();
      }
    }
    EXPECT_EQ(readBytes(path), bytes) << "a refused table was written";
  }
};

void setU16(std::string& b, std::size_t at, unsigned v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>(v >> 8);
}

TEST_F(DbfHeaderCheckTest, AHeaderThatDisagreesWithItsDescriptorsOrRecordsIsRefused) {
  // A header length 32 bytes short: the last descriptor would be read as
  // records and every cell shifted.
  expectRefused([](std::string& b) { setU16(b, 8, u16(b, 8) - 32); }, "do not end within the header length");
  // Records longer or shorter than the deletion flag and the fields.
  expectRefused([](std::string& b) { setU16(b, 10, u16(b, 10) + 1); }, "bytes per record but records have");
  expectRefused([](std::string& b) { setU16(b, 10, u16(b, 10) - 1); }, "bytes per record but records have");
  // A record count below the records in the file.
  expectRefused([](std::string& b) { b[4] = 2; }, "announces 2 records but 3");
  // Field types and widths no dBASE table has.
  expectRefused([](std::string& b) { b[32 + 11] = 'X'; }, "has the unknown type 0x58");
  expectRefused([](std::string& b) { b[32 + 17] = static_cast<char>(b[32 + 16]); }, "decimals in a width of");
  expectRefused(
      [](std::string& b) {
        b[64 + 11] = 'D';  // the 12-byte text column declared a date
      },
      "of type D has the width 12");
}

TEST_F(DbfHeaderCheckTest, BytesAfterTheTerminatorWithinTheHeaderAreTolerated) {
  const fs::path path = parcels();
  std::string b = readBytes(path);
  const unsigned headerLength = u16(b, 8);
  b.insert(headerLength, 32, '\0');  // as some writers leave room for more fields
  setU16(b, 8, headerLength + 32);
  writeBytes(path, b);
  const DbfTable t = DbfTable::open(path, false);
  ASSERT_EQ(t.recordCount(), 3);
  EXPECT_EQ(t.value(1, 1), Value(std::string("Olinda")));
}

}  // namespace
