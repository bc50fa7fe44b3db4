// A write killed at random moments: the command-line program runs
// area-perimeter on a GeoPackage layer and on a PostGIS table of 20,000
// patches, which already have an "Area" field (to be overwritten) and values
// of earlier work, and is killed with SIGKILL at 20 random moments of its run.
// After each kill the layer holds all of the operation's values or none of
// them, and every earlier value is intact; a run to the end then succeeds.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <random>
#include <thread>

#include "host/PolygonLayer.h"
#include "tests/support/Fixtures.h"
#include "tests/support/Stores.h"

namespace quilta {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kPatches = 20000;
constexpr int kKills = 20;

// The program, as ctest names it.
std::string program() {
  const char* p = std::getenv("QUILTA_CLI");
  if (!p || !*p) throw std::runtime_error("QUILTA_CLI is not set: the crash tests run the command-line program");
  return p;
}

// Starts `quilta SOURCE --layer LAYER area-perimeter`, its output thrown away.
pid_t start(const LayerSource& source) {
  const std::string location = source.kind == LayerSource::Kind::PostGIS ? "PG:" + source.location : source.location;
  const pid_t pid = fork();
  if (pid == 0) {
    freopen("/dev/null", "w", stdout);
    freopen("/dev/null", "w", stderr);
    execl(program().c_str(), "quilta", location.c_str(), "--layer", source.layer.c_str(), "area-perimeter",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

int finish(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

// What a kill left: the operation's values, or none of them.
enum class Left { None, All };

class StoreCrashTest : public ::testing::TestWithParam<test::Store> {
 protected:
  test::TempDir dir;
  test::StoreLayers stores{GetParam()};

  struct Earlier {
    std::vector<Value> cover, prior;
    std::vector<double> area, perimeter;  // what the operation writes
  };

  LayerSource makeLayer() {
    std::vector<test::Row> rows;
    rows.reserve(kPatches);
    for (int i = 0; i < kPatches; ++i) {
      const double x = (i % 200) * 10.0, y = (i / 200) * 10.0;
      rows.push_back({test::rect(x, y, x + 1 + (i % 7), y + 1 + (i % 5)),
                      {std::string(1, static_cast<char>('a' + i % 9)), 0.1 * i + 1.0 / 3, -1.0}});
    }
    test::writeShapefile(dir / "land.shp", {{"cover", 'S', 4}, {"Prior", 'R', 24, 15}, {"Area", 'R', 24, 15}}, rows);
    return stores.layerFor(dir / "land.shp");
  }

  static Earlier read(const LayerSource& source) {
    auto layer = PolygonLayer::open(source);
    FeatureTable& t = layer->featureTable();
    Earlier e;
    for (std::int64_t r = 0; r < t.count(); ++r) {
      e.cover.push_back(t.value(r, t.findField("cover")));
      e.prior.push_back(t.value(r, t.findField("Prior")));
      e.area.push_back(t.shape(r).area());
      e.perimeter.push_back(t.shape(r).length());
    }
    return e;
  }

  // Checks the layer against what was there before and returns which
  // outcome it holds; fails the test when it is neither.
  static Left check(const LayerSource& source, const Earlier& before, const std::string& when) {
    auto layer = PolygonLayer::open(source);
    FeatureTable& t = layer->featureTable();
    EXPECT_EQ(t.count(), kPatches) << when;
    const int cover = t.findField("cover"), prior = t.findField("Prior"), area = t.findField("Area");
    const int perimeter = t.findField("Perimeter");
    const Left left = perimeter < 0 ? Left::None : Left::All;
    std::int64_t wrong = 0;
    for (std::int64_t r = 0; r < t.count() && r < kPatches; ++r) {
      const auto i = static_cast<std::size_t>(r);
      if (t.value(r, cover) != before.cover[i] || t.value(r, prior) != before.prior[i]) ++wrong;
      if (left == Left::None) {
        if (t.value(r, area) != Value(-1.0)) ++wrong;
      } else if (t.value(r, area) != Value(before.area[i]) || t.value(r, perimeter) != Value(before.perimeter[i])) {
        ++wrong;
      }
    }
    EXPECT_EQ(wrong, 0) << when << ": features neither as before nor as the whole operation wrote them";
    return left;
  }

  // Puts the layer back as it was before the operation.
  void reset(const LayerSource& source, const fs::path& pristine) {
    if (GetParam() == test::Store::GeoPackage) {
      fs::copy_file(pristine, source.location, fs::copy_options::overwrite_existing);
    } else {
      test::pgExecute("ALTER TABLE " + source.layer + " DROP COLUMN IF EXISTS \"Perimeter\"; UPDATE " + source.layer +
                      " SET \"Area\" = -1");
    }
  }
};

TEST_P(StoreCrashTest, AKilledWriteLeavesAllOfTheOperationsValuesOrNone) {
  const LayerSource source = makeLayer();
  const fs::path pristine = dir / "pristine.gpkg";
  if (GetParam() == test::Store::GeoPackage) fs::copy_file(source.location, pristine);
  const Earlier before = read(source);

  // How long a whole run takes here.
  const auto t0 = Clock::now();
  ASSERT_EQ(finish(start(source)), 0) << "the operation does not run to the end";
  const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0);
  ASSERT_EQ(check(source, before, "after a whole run"), Left::All);

  std::mt19937 random(20261208);
  std::uniform_int_distribution<long long> moment(0, whole.count() * 11 / 10);
  int none = 0, all = 0, midTransaction = 0;
  std::unique_ptr<test::PgSession> watcher;
  if (GetParam() == test::Store::PostGIS) watcher = std::make_unique<test::PgSession>();
  for (int kill = 0; kill < kKills; ++kill) {
    reset(source, pristine);
    const pid_t pid = start(source);
    std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
    // The table's write lock held by the program: its transaction is open.
    if (watcher && watcher->exec("SELECT count(*) FROM pg_locks l JOIN pg_stat_activity a ON a.pid = l.pid WHERE "
                                 "a.application_name = 'quilta' AND l.mode = 'ShareRowExclusiveLock' AND "
                                 "l.relation = '" + source.layer + "'::regclass") != std::vector<std::string>{"0"})
      ++midTransaction;
    ::kill(pid, SIGKILL);
    finish(pid);
    // A journal left behind: the kill came in the middle of the transaction.
    if (GetParam() == test::Store::GeoPackage && fs::exists(source.location + "-journal")) ++midTransaction;
    (check(source, before, "after kill " + std::to_string(kill)) == Left::All ? all : none)++;
  }
  RecordProperty("kills_leaving_none", none);
  RecordProperty("kills_leaving_all", all);
  RecordProperty("kills_in_the_transaction", midTransaction);
  EXPECT_GT(midTransaction, 0) << "no kill came while the transaction was open";

  // The server ends a killed run's session only when it notices the client
  // is gone (a busy statement first runs to its end); until then that session
  // holds the table and a new run is rightly refused as a second writer.
  if (watcher) {
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (watcher->exec("SELECT count(*) FROM pg_stat_activity WHERE application_name = 'quilta'") !=
               std::vector<std::string>{"0"} &&
           Clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  reset(source, pristine);
  ASSERT_EQ(finish(start(source)), 0) << "a run after the kills fails";
  EXPECT_EQ(check(source, before, "after the last run"), Left::All);
}

INSTANTIATE_TEST_SUITE_P(Stores, StoreCrashTest, ::testing::Values(test::Store::GeoPackage, test::Store::PostGIS),
                         [](const auto& store) { return std::string(test::storeName(store.param)); });

}  // namespace
}  // namespace quilta
