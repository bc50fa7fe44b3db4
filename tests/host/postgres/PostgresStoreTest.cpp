// The PostgreSQL store, on the throw-away PostGIS server of the tests: values
// bit for bit and within their column types, features numbered by key order,
// the tables it refuses, and the guarantees of a write: the right to update
// and the lock against other writers checked before the first value, one
// transaction per operation, a refused field name that changes nothing and a
// refused write that keeps nothing.

#include <gtest/gtest.h>

#include <cstring>

#include "host/HostError.h"
#include "tests/support/ToolFixture.h"

namespace quilta {
namespace {

// A role of the test server for one test, with the rights granted to it.
class PgRole {
 public:
  PgRole(const std::string& schema, const std::string& rights) : name_(schema + "_role") {
    test::pgExecute("CREATE ROLE " + name_ + " LOGIN; GRANT USAGE ON SCHEMA " + schema + " TO " + name_ + ";" +
                    (rights.empty() ? "" : " GRANT " + rights + " ON ALL TABLES IN SCHEMA " + schema + " TO " + name_));
  }
  ~PgRole() {
    try {
      test::pgExecute("DROP OWNED BY " + name_ + "; DROP ROLE " + name_);
    } catch (const std::exception&) {
    }
  }
  const std::string& name() const { return name_; }

 private:
  std::string name_;
};

class PostgresStoreTest : public test::ToolTest {
 protected:
  std::string table(const std::string& name = "patches") { return stores.schema() + "." + name; }
  LayerSource source(const std::string& parameters = "", const std::string& name = "patches") {
    return {LayerSource::Kind::PostGIS, test::pgConnection() + parameters, table(name)};
  }

  // The table "patches": key "fid", a class field "cover", an "Area" field,
  // one 1-high rectangle per feature of width 1, 2, 3, ..., 10 apart.
  void writePatches(int count) {
    std::string sql = "CREATE TABLE " + table() +
                      " (fid integer PRIMARY KEY, cover varchar(20), \"Area\" double precision, "
                      "geom geometry(Polygon, 32725));";
    for (int i = 0; i < count; ++i)
      sql += "INSERT INTO " + table() + " VALUES (" + std::to_string(i + 1) + ", '" + (i % 2 ? "b" : "a") +
             "', -1, ST_GeomFromText('" + test::rect(10.0 * i, 0, 10.0 * i + 1 + i, 1) + "', 32725));";
    test::pgExecute(sql);
  }
  std::vector<std::string> stored(const std::string& column) {
    return test::pgExecute("SELECT \"" + column + "\"::text FROM " + table() + " ORDER BY fid");
  }
  std::vector<std::string> columns() {
    return test::pgExecute("SELECT attname FROM pg_attribute WHERE attrelid = '" + table() +
                           "'::regclass AND attnum > 0 AND NOT attisdropped ORDER BY attnum");
  }
  const MessageBox& lastMessage() const { return ws.messages.back(); }
};

TEST_F(PostgresStoreTest, DoublesComeBackBitForBitAndValuesMustFitTheirColumns) {
  test::pgExecute("CREATE TABLE " + table() +
                  " (fid bigint PRIMARY KEY, \"Metric\" double precision, \"Fixed\" numeric(6,2), "
                  "\"Short\" varchar(5), \"Count\" integer, \"Small\" smallint, geom geometry(Polygon));"
                  "INSERT INTO " + table() + " (fid, geom) SELECT g, ST_MakeEnvelope(g, 0, g + 1, 1) "
                  "FROM generate_series(1, 6) g");
  const std::vector<double> values = {0.1 + 0.2, 1e-300, 4.9406564584124654e-324, 1.7976931348623157e308,
                                      -123456.78901234567, 1.0 / 3};
  {
    FeatureTable& t = open(source()).featureTable();
    const int metric = t.findField("Metric");
    ASSERT_EQ(t.field(metric).type, kDouble);
    for (std::size_t i = 0; i < values.size(); ++i) {
      t.setValue(static_cast<std::int64_t>(i), metric, values[i]);
      t.store(static_cast<std::int64_t>(i));
    }
    t.setValue(0, t.findField("Fixed"), 1234.5);
    t.setValue(0, t.findField("Count"), 3.5);  // rounded, as a dBASE column does
    t.setValue(0, t.findField("Short"), std::string("Zé 12"));
    t.store(0);
    EXPECT_THROW(t.setValue(1, t.findField("Fixed"), 12345.6), HostError);  // 4 digits before the point
    EXPECT_THROW(t.setValue(1, t.findField("Short"), std::string("sixsix")), HostError);
    EXPECT_THROW(t.setValue(1, t.findField("Small"), std::int64_t{40000}), HostError);
    EXPECT_THROW(t.setValue(1, t.findField("Metric"), std::string("ten")), HostError);
    t.sync();
  }
  auto again = PolygonLayer::open(source());
  FeatureTable& t = again->featureTable();
  for (std::size_t i = 0; i < values.size(); ++i) {
    const double back = std::get<double>(t.value(static_cast<std::int64_t>(i), t.findField("Metric")));
    EXPECT_EQ(std::memcmp(&back, &values[i], sizeof back), 0) << "row " << i << ": " << back;
  }
  EXPECT_EQ(test::pgExecute("SELECT \"Metric\" = 0.1::float8 + 0.2::float8 FROM " + table() + " WHERE fid = 1"),
            std::vector<std::string>{"t"});
  EXPECT_EQ(stored("Fixed").front(), "1234.50");
  EXPECT_EQ(stored("Count").front(), "4");
  EXPECT_EQ(stored("Short").front(), "Zé 12");
  EXPECT_EQ(t.field(t.findField("Fixed")).length, 6);
  EXPECT_EQ(t.field(t.findField("Fixed")).precision, 2);
  EXPECT_EQ(t.field(t.findField("Small")).type, kSmallInteger);
}

TEST_F(PostgresStoreTest, FeaturesAreNumberedInKeyOrderAndIdentifiersAreThosePositions) {
  test::pgExecute("CREATE TABLE " + table() + " (fid integer PRIMARY KEY, cover text, geom geometry(Polygon));" +
                  "INSERT INTO " + table() + " VALUES (30, 'a', ST_MakeEnvelope(100, 0, 101, 1)), " +
                  "(10, 'a', ST_MakeEnvelope(0, 0, 1, 1)), (20, 'a', ST_MakeEnvelope(10, 0, 12, 1))");
  FeatureTable& t = open(source()).featureTable();
  EXPECT_DOUBLE_EQ(t.shape(0).bounds().minX, 0);
  EXPECT_DOUBLE_EQ(t.shape(2).bounds().minX, 100);
  run("cmdClasses");
  ASSERT_EQ(session().lastOutcome, Outcome::Completed);
  EXPECT_EQ(stored("NNId"), (std::vector<std::string>{"1", "0", "1"}));
  EXPECT_EQ(stored("NN_Area"), (std::vector<std::string>{"2", "1", "2"}));
}

TEST_F(PostgresStoreTest, TablesWithoutAWholeNumberKeyAreRefused) {
  for (const char* key : {"", ", PRIMARY KEY (a, b)", ", PRIMARY KEY (c)"}) {
    const std::string name = "t" + std::to_string(std::strlen(key));
    test::pgExecute("CREATE TABLE " + table(name) + " (a integer, b integer, c text, geom geometry(Polygon)" + key +
                    ")");
    try {
      PolygonLayer::open(source("", name));
      FAIL() << "a table opened with the key clause \"" << key << "\"";
    } catch (const HostError& e) {
      EXPECT_NE(std::string(e.what()).find("no primary key of one whole-number column"), std::string::npos)
          << e.what();
    }
  }
}

TEST_F(PostgresStoreTest, PolygonTablesAreListedAndNamedBySchema) {
  writePatches(2);
  test::pgExecute("CREATE TABLE " + table("roads") + " (id serial PRIMARY KEY, geom geometry(LineString));" +
                  "CREATE TABLE " + table("fields") + " (id serial PRIMARY KEY, geom geometry(MultiPolygon))");
  const auto names = polygonLayerNames(LayerSource::parse("PG:" + test::pgConnection()));
  EXPECT_NE(std::find(names.begin(), names.end(), table("patches")), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), table("fields")), names.end());
  EXPECT_EQ(std::find(names.begin(), names.end(), table("roads")), names.end());
  auto layer = PolygonLayer::open(LayerSource{LayerSource::Kind::PostGIS, test::pgConnection(),
                                              stores.schema() + ".PATCHES"});
  EXPECT_EQ(layer->name(), "patches");
  EXPECT_EQ(layer->source().layer, table());
  EXPECT_EQ(layer->unitsCode(), kMeters);
  EXPECT_DOUBLE_EQ(layer->extentWidth(), 12);
  EXPECT_THROW(PolygonLayer::open(source("", "nosuch")), HostError);
  EXPECT_THROW(PolygonLayer::open(LayerSource{LayerSource::Kind::PostGIS, "dbname=nosuchdb host=/nonexistent", "t"}),
               HostError);
}

TEST_F(PostgresStoreTest, AnOperationWritesOneTransactionAndNeverTheShapes) {
  writePatches(3);
  const auto shapes = test::pgExecute("SELECT ST_AsHexEWKB(geom) FROM " + table() + " ORDER BY fid");
  open(source());
  click("cmdArea");
  ASSERT_EQ(session().lastOutcome, Outcome::Completed);
  EXPECT_EQ(stored("Area"), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(stored("Perimeter"), (std::vector<std::string>{"4", "6", "8"}));
  EXPECT_EQ(test::pgExecute("SELECT ST_AsHexEWKB(geom) FROM " + table() + " ORDER BY fid"), shapes);
  // Nothing of the write lingers: no temporary table, no open transaction.
  EXPECT_EQ(test::pgExecute("SELECT count(*) FROM pg_stat_activity WHERE application_name = 'quilta' AND state "
                            "LIKE 'idle in transaction%'"),
            std::vector<std::string>{"0"});
}

// --- refused before the first value ------------------------------------------

TEST_F(PostgresStoreTest, RightsAreCheckedBeforeAnyValueIsWritten) {
  writePatches(2);
  PgRole reader(stores.schema(), "SELECT");
  open(source(" user=" + reader.name()));
  click("cmdArea");
  EXPECT_EQ(session().lastOutcome, Outcome::Failed);
  ASSERT_EQ(ws.messages.size(), 1u);
  EXPECT_EQ(lastMessage().text, kShapefileError);
  EXPECT_NE(lastMessage().detail.find("has no right to update"), std::string::npos) << lastMessage().detail;
  EXPECT_EQ(columns(), (std::vector<std::string>{"fid", "cover", "Area", "geom"}));
  EXPECT_EQ(stored("Area"), (std::vector<std::string>{"-1", "-1"}));
}

TEST_F(PostgresStoreTest, AddingAFieldNeedsTheTablesOwnerWritingValuesDoesNot) {
  writePatches(2);
  PgRole editor(stores.schema(), "SELECT, UPDATE");
  open(source(" user=" + editor.name()));
  click("cmdArea");  // "Perimeter" is missing and only the owner may add it
  EXPECT_EQ(session().lastOutcome, Outcome::Failed);
  ASSERT_EQ(ws.messages.size(), 1u);
  EXPECT_NE(lastMessage().detail.find("must be owner of table patches"), std::string::npos) << lastMessage().detail;
  EXPECT_EQ(stored("Area"), (std::vector<std::string>{"-1", "-1"}));
  EXPECT_EQ(columns().size(), 4u);

  test::pgExecute("ALTER TABLE " + table() + " ADD COLUMN \"Perimeter\" double precision");
  host.document().focusMap() = FocusMap();
  open(source(" user=" + editor.name()));
  click("cmdArea");
  EXPECT_EQ(session().lastOutcome, Outcome::Completed);
  EXPECT_EQ(stored("Perimeter"), (std::vector<std::string>{"4", "6"}));
}

TEST_F(PostgresStoreTest, AReadOnlyDatabaseIsRefused) {
  writePatches(2);
  open(source(" options='-c default_transaction_read_only=on'"));
  click("cmdArea");
  EXPECT_EQ(session().lastOutcome, Outcome::Failed);
  EXPECT_NE(lastMessage().detail.find("read-only"), std::string::npos) << lastMessage().detail;
  EXPECT_EQ(columns().size(), 4u);
}

TEST_F(PostgresStoreTest, AnotherWriterRefusesTheRunAtOnceNamingItsProcess) {
  writePatches(2);
  test::PgSession other;
  other.exec("BEGIN; UPDATE " + table() + " SET cover = cover WHERE fid = 1");
  open(source());
  click("cmdArea");
  EXPECT_EQ(session().lastOutcome, Outcome::Failed);
  ASSERT_EQ(ws.messages.size(), 1u);
  EXPECT_NE(lastMessage().detail.find("is being written by the server process " + std::to_string(other.pid())),
            std::string::npos)
      << lastMessage().detail;
  other.exec("COMMIT");
  EXPECT_EQ(columns().size(), 4u);

  // A reader in the middle of its transaction does not stop the values.
  test::pgExecute("ALTER TABLE " + table() + " ADD COLUMN \"Perimeter\" double precision");
  host.document().focusMap() = FocusMap();
  open(source());
  other.exec("BEGIN; SELECT count(*) FROM " + table());
  click("cmdArea");
  other.exec("COMMIT");
  EXPECT_EQ(session().lastOutcome, Outcome::Completed);
  EXPECT_EQ(stored("Area"), (std::vector<std::string>{"1", "2"}));
}

TEST_F(PostgresStoreTest, FeaturesOthersAddedStopTheWrite) {
  writePatches(2);
  open(source());
  test::pgExecute("INSERT INTO " + table() + " (fid, cover) VALUES (99, 'new')");
  click("cmdArea");
  EXPECT_EQ(session().lastOutcome, Outcome::Failed);
  EXPECT_NE(lastMessage().detail.find("changed by another program"), std::string::npos) << lastMessage().detail;
  EXPECT_EQ(columns().size(), 4u);
}

// --- failures on the way -----------------------------------------------------

TEST_F(PostgresStoreTest, ARefusedFieldNameChangesNothingElse) {
  writePatches(2);
  FeatureTable& t = open(source()).featureTable();
  t.addField("Kept", kDouble, 0, 0, 7.0);
  EXPECT_THROW(t.addField("geom", kDouble), HostError);  // the geometry column's name
  EXPECT_THROW(t.addField(std::string(64, 'x'), kDouble), HostError);
  EXPECT_EQ(t.findField("geom"), -1);
  t.sync();
  EXPECT_EQ(stored("Kept"), (std::vector<std::string>{"7", "7"}));
}

TEST_F(PostgresStoreTest, AWriteTheServerRefusesKeepsNothingOfTheOperationAndSaysSo) {
  writePatches(3);
  test::pgExecute("ALTER TABLE " + table() + " ADD CONSTRAINT small CHECK (\"Area\" < 2.5)");
  FeatureTable& t = open(source()).featureTable();
  click("cmdArea");
  EXPECT_EQ(session().lastOutcome, Outcome::Failed);
  EXPECT_EQ(lastMessage().text, kShapefileError);
  EXPECT_NE(lastMessage().detail.find("violates check constraint"), std::string::npos) << lastMessage().detail;
  EXPECT_NE(lastMessage().detail.find("nothing the operation wrote"), std::string::npos) << lastMessage().detail;
  EXPECT_EQ(stored("Area"), (std::vector<std::string>{"-1", "-1", "-1"}));
  EXPECT_EQ(columns().size(), 4u);
  EXPECT_EQ(t.findField("Perimeter"), -1);
  EXPECT_EQ(std::get<double>(t.value(2, t.findField("Area"))), -1.0);
}

}  // namespace
}  // namespace quilta
