// The GeoPackage store: values written bit for bit, features numbered by key
// order, class values compared as the class clause says, field names the
// GeoPackage refuses, and the guarantees of a write: atomic per operation,
// refused before the first value when the file, its folder or another
// writer's lock stand in the way, a crashed writer's journal rolled back.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

#include "host/HostError.h"
#include "tests/support/GeoPackages.h"
#include "tests/support/ToolFixture.h"

namespace quilta {
namespace {

namespace fs = std::filesystem;
using test::KeyedRow;
using test::rect;

class GpkgStoreTest : public test::ToolTest {
 protected:
  fs::path gpkg() const { return dir / "land.gpkg"; }
  LayerSource source(const std::string& layer = "patches") const {
    return {LayerSource::Kind::GeoPackage, gpkg().string(), layer};
  }

  // The layer "patches": a class field "cover" and an "Area" field, one
  // rectangle per feature, 10 apart.
  void writePatches(int count, std::int64_t firstKey = 0) {
    std::vector<KeyedRow> rows;
    for (int i = 0; i < count; ++i)
      rows.push_back({firstKey ? firstKey + i : 0, rect(10.0 * i, 0, 10.0 * i + 1 + i, 2),
                      {std::string(i % 2 ? "b" : "a"), -1.0}});
    test::writeGeoPackage(gpkg(), "patches", {{"cover", 'S', 20}, {"Area", 'R'}}, rows);
  }

  std::string fileBytes() const {
    std::ifstream in(gpkg(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // The values of `column` by key order, read by another program.
  std::vector<std::string> stored(const std::string& column) {
    test::RawGeoPackage raw(gpkg());
    return raw.column("SELECT quote(\"" + column + "\") FROM patches ORDER BY fid");
  }
  bool hasColumn(const std::string& column) {
    test::RawGeoPackage raw(gpkg());
    return !raw.column("SELECT name FROM pragma_table_info('patches') WHERE name = '" + column + "'").empty();
  }
  const MessageBox& lastMessage() const { return ws.messages.back(); }
};

TEST_F(GpkgStoreTest, DoublesAndTextsComeBackBitForBit) {
  writePatches(6);
  const std::vector<double> values = {0.1 + 0.2, 1e-300, 4.9406564584124654e-324, 1.7976931348623157e308,
                                      -123456.78901234567, 1.0 / 3};
  {
    FeatureTable& t = open(source()).featureTable();
    t.addField("Metric", kDouble);
    t.addField("Note", kText, 30);
    const int metric = t.findField("Metric"), note = t.findField("Note");
    for (std::size_t i = 0; i < values.size(); ++i) {
      t.setValue(static_cast<std::int64_t>(i), metric, values[i]);
      t.setValue(static_cast<std::int64_t>(i), note, std::string("Zé's «café» ") + std::to_string(i));
      t.store(static_cast<std::int64_t>(i));
    }
    t.sync();
  }
  auto again = PolygonLayer::open(source());
  FeatureTable& t = again->featureTable();
  ASSERT_EQ(t.field(t.findField("Metric")).type, kDouble);
  EXPECT_EQ(t.field(t.findField("Note")).length, 30);
  for (std::size_t i = 0; i < values.size(); ++i) {
    const double back = std::get<double>(t.value(static_cast<std::int64_t>(i), t.findField("Metric")));
    EXPECT_EQ(std::memcmp(&back, &values[i], sizeof back), 0) << "row " << i << ": " << back;
    EXPECT_EQ(std::get<std::string>(t.value(static_cast<std::int64_t>(i), t.findField("Note"))),
              std::string("Zé's «café» ") + std::to_string(i));
  }
  // Stored as REAL, not as text.
  test::RawGeoPackage raw(gpkg());
  EXPECT_EQ(raw.column("SELECT DISTINCT typeof(Metric) FROM patches"), std::vector<std::string>{"real"});
  // Values the field cannot hold are refused, not written.
  EXPECT_THROW(t.setValue(0, t.findField("Note"), std::string(31, 'x')), HostError);
  EXPECT_THROW(t.setValue(0, t.findField("Metric"), std::nan("")), HostError);
  EXPECT_THROW(t.setValue(0, t.findField("Metric"), std::string("ten")), HostError);
}

TEST_F(GpkgStoreTest, FeaturesAreNumberedInKeyOrderAndIdentifiersAreThosePositions) {
  // Written in the order 30, 10, 20: feature 0 is key 10 (x 0), feature 1 key
  // 20 (x 10), feature 2 key 30 (x 100).
  test::writeGeoPackage(gpkg(), "patches", {{"cover", 'S', 20}},
                        {{30, rect(100, 0, 101, 1), {std::string("a")}},
                         {10, rect(0, 0, 1, 1), {std::string("a")}},
                         {20, rect(10, 0, 12, 1), {std::string("a")}}});
  PolygonLayer& layer = open(source());
  FeatureTable& t = layer.featureTable();
  EXPECT_DOUBLE_EQ(t.shape(0).bounds().minX, 0);
  EXPECT_DOUBLE_EQ(t.shape(1).bounds().minX, 10);
  EXPECT_DOUBLE_EQ(t.shape(2).bounds().minX, 100);
  run("cmdClasses");
  ASSERT_EQ(session().lastOutcome, Outcome::Completed);
  // By key: 10 -> feature 1, 20 -> feature 0, 30 -> feature 1.
  EXPECT_EQ(stored("NNId"), (std::vector<std::string>{"1.0", "0.0", "1.0"}));
  EXPECT_EQ(stored("NN_Area"), (std::vector<std::string>{"2.0", "1.0", "2.0"}));
}

TEST_F(GpkgStoreTest, ClassValuesDifferingByTrailingBlanksAreOneClass) {
  test::writeGeoPackage(gpkg(), "patches", {{"cover", 'S', 20}, {"code", 'I'}},
                        {{0, rect(0, 0, 1, 1), {std::string("forest"), std::int64_t{2}}},
                         {0, rect(2, 0, 3, 1), {std::string("forest  "), std::int64_t{2}}},
                         {0, rect(4, 0, 5, 1), {std::string("Forest"), std::int64_t{3}}}});
  FeatureTable& t = open(source()).featureTable();
  // The GeoPackage keeps the blanks; the class clause does not count them.
  EXPECT_EQ(std::get<std::string>(t.value(1, t.findField("cover"))), "forest  ");
  std::vector<std::string> offered;
  for (const auto& v : t.uniqueValues(t.findField("cover"))) offered.push_back(std::get<std::string>(v));
  EXPECT_EQ(offered, (std::vector<std::string>{"Forest", "forest"}));
  EXPECT_EQ(t.select(AttributeFilter("cover = 'forest'")).oids(), (std::vector<std::int64_t>{0, 1}));
  EXPECT_EQ(t.select(AttributeFilter("code = 2.0")).oids(), (std::vector<std::int64_t>{0, 1}));
}

TEST_F(GpkgStoreTest, LayersAreListedAndOneMustBeChosenAmongSeveral) {
  writePatches(2);
  test::writeGeoPackage(gpkg(), "fields", {{"crop", 'S', 10}}, {{0, rect(0, 0, 1, 1), {std::string("rye")}}});
  test::writeGeoPackage(gpkg(), "roads", {{"kind", 'S', 10}}, {{0, "LINESTRING(0 0,1 1)", {std::string("lane")}}},
                        "line");
  EXPECT_EQ(polygonLayerNames(LayerSource::parse(gpkg().string())), (std::vector<std::string>{"fields", "patches"}));
  try {
    PolygonLayer::open(gpkg());
    FAIL() << "a GeoPackage of several polygon layers opened without a layer";
  } catch (const HostError& e) {
    EXPECT_NE(std::string(e.what()).find("\"fields\", \"patches\""), std::string::npos) << e.what();
  }
  auto patches = PolygonLayer::open(source("PATCHES"));  // letter case as SQLite: ignored
  EXPECT_EQ(patches->name(), "patches");
  EXPECT_EQ(patches->unitsCode(), kMeters);
  EXPECT_EQ(patches->featureTable().count(), 2);
  EXPECT_EQ(PolygonLayer::open(source("roads"))->featureTable().geometryType(), 3);
  EXPECT_THROW(PolygonLayer::open(source("nosuch")), HostError);
  { std::ofstream(dir / "notes.gpkg") << "not a database"; }
  EXPECT_THROW(PolygonLayer::open(dir / "notes.gpkg"), HostError);
  EXPECT_THROW(PolygonLayer::open(dir / "missing.gpkg"), HostError);
}

TEST_F(GpkgStoreTest, AFieldNameTheGeoPackageRefusesChangesNothing) {
  writePatches(2);
  FeatureTable& t = open(source()).featureTable();
  t.addField("Kept", kDouble, 0, 0, 7.0);
  try {
    t.addField("geom", kDouble);  // the geometry column's name
    FAIL() << "a field named like the geometry column was added";
  } catch (const HostError& e) {
    EXPECT_NE(std::string(e.what()).find("duplicate column name"), std::string::npos) << e.what();
  }
  EXPECT_EQ(t.findField("geom"), -1);
  t.sync();
  // The field added before the refusal is written; the transaction survived.
  EXPECT_EQ(stored("Kept"), (std::vector<std::string>{"7.0", "7.0"}));
}

TEST_F(GpkgStoreTest, AnOperationWritesNeitherShapesNorTheSpatialIndex) {
  writePatches(5);
  test::RawGeoPackage before(gpkg());
  const auto shapes = before.column("SELECT hex(geom) FROM patches ORDER BY fid");
  const auto index = before.column("SELECT id || ' ' || minx || ' ' || maxy FROM rtree_patches_geom ORDER BY id");
  const auto changed = before.column("SELECT last_change FROM gpkg_contents WHERE table_name = 'patches'");
  open(source());
  click("cmdArea");
  ASSERT_EQ(session().lastOutcome, Outcome::Completed);
  test::RawGeoPackage after(gpkg());
  EXPECT_EQ(after.column("SELECT hex(geom) FROM patches ORDER BY fid"), shapes);
  EXPECT_EQ(after.column("SELECT id || ' ' || minx || ' ' || maxy FROM rtree_patches_geom ORDER BY id"), index);
  EXPECT_EQ(after.column("PRAGMA integrity_check"), std::vector<std::string>{"ok"});
  EXPECT_NE(after.column("SELECT last_change FROM gpkg_contents WHERE table_name = 'patches'"), changed);
  EXPECT_EQ(stored("Area"), (std::vector<std::string>{"2.0", "4.0", "6.0", "8.0", "10.0"}));
}

// --- refused before the first value ------------------------------------------

TEST_F(GpkgStoreTest, AReadOnlyFileOrFolderIsRefusedBeforeAnyValueIsWritten) {
  test::writeGeoPackage(gpkg(), "patches", {{"cover", 'S', 20}, {"Area", 'R'}},
                        {{0, rect(0, 0, 1, 2), {std::string("a"), 2.0}},
                         {0, rect(10, 0, 12, 2), {std::string("b"), 4.0}},
                         {0, rect(20, 0, 23, 2), {std::string("a"), 6.0}}});
  const std::string bytes = fileBytes();
  fs::permissions(gpkg(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  open(source());
  click("cmdArea");
  EXPECT_EQ(session().lastOutcome, Outcome::Failed);
  ASSERT_EQ(ws.messages.size(), 1u);
  EXPECT_EQ(lastMessage().text, kShapefileError);
  EXPECT_NE(lastMessage().detail.find("is read-only"), std::string::npos) << lastMessage().detail;
  EXPECT_EQ(fileBytes(), bytes);
  // What only reads runs on it: the subdivision analysis over the "Area" there.
  chooseField("cover");
  chooseClasses();
  click("cmdDivision");
  EXPECT_EQ(session().lastOutcome, Outcome::Completed) << ws.messageTexts().back();
  EXPECT_EQ(fileBytes(), bytes);

  fs::permissions(gpkg(), fs::perms::owner_read | fs::perms::owner_write);
  fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
  ws.messages.clear();
  click("cmdArea");
  fs::permissions(dir.path(), fs::perms::owner_all);
  EXPECT_EQ(session().lastOutcome, Outcome::Failed);
  ASSERT_EQ(ws.messages.size(), 1u);
  EXPECT_NE(lastMessage().detail.find("folder"), std::string::npos) << lastMessage().detail;
  EXPECT_EQ(fileBytes(), bytes);
  EXPECT_FALSE(hasColumn("Perimeter"));
}

TEST_F(GpkgStoreTest, ALayerOpenedReadOnlyRefusesEveryWrite) {
  writePatches(2);
  FeatureTable& t = open(source(), PolygonLayer::Mode::ReadOnly).featureTable();
  EXPECT_FALSE(t.writable());
  EXPECT_THROW(t.addField("Extra", kDouble), HostError);
  EXPECT_THROW(t.setValue(0, t.findField("Area"), 1.0), HostError);
  EXPECT_THROW(t.deleteField(t.findField("cover")), HostError);
  EXPECT_EQ(std::get<std::string>(t.value(1, t.findField("cover"))), "b");
}

TEST_F(GpkgStoreTest, AnotherWritersLockRefusesTheRunAtOnceNamingIt) {
  writePatches(3);
  const std::string bytes = fileBytes();
  int locked[2], release[2];
  ASSERT_EQ(pipe(locked), 0);
  ASSERT_EQ(pipe(release), 0);
  const pid_t writer = fork();
  ASSERT_GE(writer, 0);
  if (writer == 0) {
    // Another program in the middle of a write. It gives up after a while,
    // so a run that waited for its lock would end up writing.
    alarm(20);
    close(locked[0]);
    close(release[1]);
    sqlite3* db = nullptr;
    sqlite3_open(gpkg().c_str(), &db);
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) _exit(1);
    char c = 'x';
    if (write(locked[1], &c, 1) != 1) _exit(1);
    if (read(release[0], &c, 1) < 0) _exit(1);
    _exit(0);
  }
  close(locked[1]);
  close(release[0]);
  char c;
  ASSERT_EQ(read(locked[0], &c, 1), 1);
  open(source());
  click("cmdArea");
  close(release[1]);
  int status = 0;
  waitpid(writer, &status, 0);
  EXPECT_EQ(session().lastOutcome, Outcome::Failed);
  ASSERT_EQ(ws.messages.size(), 1u);
  EXPECT_EQ(lastMessage().text, kShapefileError);
  EXPECT_NE(lastMessage().detail.find("is being written by process " + std::to_string(writer)), std::string::npos)
      << lastMessage().detail;
  EXPECT_EQ(fileBytes(), bytes);
  // Once the other writer is done, the run goes through.
  click("cmdArea");
  EXPECT_EQ(session().lastOutcome, Outcome::Completed);
  EXPECT_TRUE(hasColumn("Perimeter"));
}

TEST_F(GpkgStoreTest, AHotJournalIsRolledBackWhenTheLayerOpens) {
  writePatches(400);
  const auto covers = stored("cover");
  const pid_t crashed = fork();
  ASSERT_GE(crashed, 0);
  if (crashed == 0) {
    // A writer that spills its changes into the file, then dies mid-way.
    test::RawGeoPackage raw(gpkg());
    raw.exec("PRAGMA cache_size = 1; BEGIN; UPDATE patches SET cover = 'overwritten'");
    _exit(0);
  }
  int status = 0;
  waitpid(crashed, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const fs::path journal = gpkg().string() + "-journal";
  ASSERT_TRUE(fs::exists(journal) && fs::file_size(journal) > 0) << "no hot journal to roll back";

  PolygonLayer& layer = open(source());
  EXPECT_FALSE(fs::exists(journal));
  EXPECT_EQ(std::get<std::string>(layer.featureTable().value(1, layer.featureTable().findField("cover"))), "b");
  click("cmdArea");
  ASSERT_EQ(session().lastOutcome, Outcome::Completed);
  EXPECT_EQ(stored("cover"), covers);
  test::RawGeoPackage raw(gpkg());
  EXPECT_EQ(raw.column("PRAGMA integrity_check"), std::vector<std::string>{"ok"});
}

// --- what others do while the layer is open ------------------------------------

TEST_F(GpkgStoreTest, ValuesOthersChangedAreKeptAndFeaturesTheyAddedStopTheWrite) {
  writePatches(3);
  FeatureTable& t = open(source()).featureTable();
  test::RawGeoPackage(gpkg()).exec("UPDATE patches SET cover = 'c' WHERE fid = 3");
  click("cmdArea");
  ASSERT_EQ(session().lastOutcome, Outcome::Completed);
  EXPECT_EQ(stored("cover"), (std::vector<std::string>{"'a'", "'b'", "'c'"}));
  EXPECT_EQ(std::get<std::string>(t.value(2, t.findField("cover"))), "c");

  test::RawGeoPackage(gpkg()).exec(
      "INSERT INTO patches (fid, cover) VALUES (99, 'new'); UPDATE patches SET Area = 5 WHERE fid = 1");
  const auto areas = stored("Area");
  click("cmdArea");
  EXPECT_EQ(session().lastOutcome, Outcome::Failed);
  EXPECT_NE(lastMessage().detail.find("changed by another program"), std::string::npos) << lastMessage().detail;
  EXPECT_EQ(stored("Area"), areas);
}

TEST_F(GpkgStoreTest, AFileReplacedUnderTheLayerIsNotWritten) {
  writePatches(3);
  open(source());
  fs::copy_file(gpkg(), dir / "copy.gpkg");
  fs::rename(dir / "copy.gpkg", gpkg());
  const std::string bytes = fileBytes();
  click("cmdArea");
  EXPECT_EQ(session().lastOutcome, Outcome::Failed);
  EXPECT_NE(lastMessage().detail.find("replaced or removed"), std::string::npos) << lastMessage().detail;
  EXPECT_EQ(fileBytes(), bytes);
}

// --- a write that fails midway --------------------------------------------

TEST_F(GpkgStoreTest, AStatementTheGeoPackageRefusesKeepsWhatWasStoredBefore) {
  writePatches(3);
  // Another program's rule: no area over 3.
  test::RawGeoPackage(gpkg()).exec(
      "CREATE TRIGGER small BEFORE UPDATE OF Area ON patches WHEN NEW.Area > 3 "
      "BEGIN SELECT RAISE(ABORT, 'no area over 3'); END");
  open(source());
  click("cmdArea");
  EXPECT_EQ(session().lastOutcome, Outcome::Failed);
  ASSERT_EQ(ws.messages.size(), 1u);
  EXPECT_NE(lastMessage().detail.find("no area over 3"), std::string::npos) << lastMessage().detail;
  // As a shapefile would: the feature stored before the failure keeps it.
  EXPECT_EQ(stored("Area"), (std::vector<std::string>{"2.0", "-1.0", "-1.0"}));
  EXPECT_EQ(stored("Perimeter"), (std::vector<std::string>{"6.0", "NULL", "NULL"}));
}

TEST_F(GpkgStoreTest, AFailureThatEndsTheTransactionKeepsNothingAndSaysSo) {
  writePatches(3);
  test::RawGeoPackage(gpkg()).exec(
      "CREATE TRIGGER small BEFORE UPDATE OF Area ON patches WHEN NEW.Area > 3 "
      "BEGIN SELECT RAISE(ROLLBACK, 'no area over 3'); END");
  FeatureTable& t = open(source()).featureTable();
  click("cmdArea");
  EXPECT_EQ(session().lastOutcome, Outcome::Failed);
  ASSERT_EQ(ws.messages.size(), 2u);  // the failure, then what it cost
  EXPECT_NE(ws.messages[1].detail.find("nothing the operation wrote"), std::string::npos) << ws.messages[1].detail;
  EXPECT_EQ(stored("Area"), (std::vector<std::string>{"-1.0", "-1.0", "-1.0"}));
  EXPECT_FALSE(hasColumn("Perimeter"));
  // The table in memory is the one on disk again.
  EXPECT_EQ(t.findField("Perimeter"), -1);
  EXPECT_EQ(std::get<double>(t.value(0, t.findField("Area"))), -1.0);
}

}  // namespace
}  // namespace quilta
