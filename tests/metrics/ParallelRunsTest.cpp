// The operations give the same answers on any number of threads: every value
// written (the attribute file, whose doubles are written so that they read
// back exactly), the core area layer, every report and every message, byte
// for byte. And a run on several threads still shows its progress and stops
// at Cancel, keeping what it stored.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "bench/LandscapeGenerator.h"
#include "host/HostApplication.h"
#include "metrics/Extension.h"
#include "tests/support/Fixtures.h"
#include "tests/support/RandomPatches.h"
#include "tests/support/Stores.h"
#include "ui/ScriptedWindowSystem.h"

namespace quilta::test {
namespace {

namespace fs = std::filesystem;

// The runs are compared by the bytes of their files: shapefiles only.
#define SHAPEFILES_ONLY() \
  if (store() != Store::Shapefile) GTEST_SKIP() << "compares the files of shapefiles"

// The operations that share their per-patch work, in an order in which each
// finds the fields it needs.
const std::vector<std::string> kButtons = {"cmdArea", "cmdClasses", "cmdPX94",  "cmdPXfrag",
                                           "cmdDissolveID", "cdmshpIx", "cmdCore"};

std::string contents(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What a run leaves: every file of its folder but the dBASE header's date,
// and the message boxes in order.
struct RunRecord {
  std::map<std::string, std::string> files;
  std::vector<std::string> messages;
};

// A tool over a copy of the layer `shp` in a folder of its own, with a user
// who picks the class field `cover` and every class, answers the prompts and
// saves every report.
class Tool {
 public:
  Tool(const fs::path& shp, unsigned threads) {
    for (const char* suffix : {".shp", ".shx", ".dbf", ".prj"})
      if (fs::exists(fs::path(shp).replace_extension(suffix)))
        fs::copy_file(fs::path(shp).replace_extension(suffix), folder / (std::string("patches") + suffix));
    fs::create_directory(folder / "reports");
    host.document().addShapefile(folder / "patches.shp");
    ext = std::make_unique<Extension>(host, ws, folder.path());
    wb().threads = threads;
    ws.onShow("frmFields", [this](WindowModel&) {
      auto& w = wb().fields;
      const auto it = std::find(w.lstFieldNames.items.begin(), w.lstFieldNames.items.end(), "cover");
      ASSERT_NE(it, w.lstFieldNames.items.end());
      w.lstFieldNames.click(static_cast<std::size_t>(it - w.lstFieldNames.items.begin()));
      w.cmdlist_Click();
    });
    ws.onShow("frmClasses", [this](WindowModel&) { wb().classes.cmdSelectAll_Click(); });
    ws.defaultInput = [](const InputBox& box) -> std::optional<std::string> {
      if (box.title == "Proximity Buffer") return "35";
      if (box.title == "Core Area Distance") return "1.5";
      return box.defaultText;
    };
    ws.defaultFile = [this](const FileDialog& dialog) -> std::optional<std::string> {
      if (dialog.filter.find("*.shp") != std::string::npos) return (folder / "cores.shp").string();
      return (folder / "reports" / (dialog.fileName + ".txt")).string();
    };
    for (ResultWindow* window : ext->results.all())
      ws.onShow(window->name(), [window](WindowModel&) {
        EXPECT_TRUE(window->cmdTextfile_Click());
        if (window->hasLandscapeLevel()) {
          EXPECT_TRUE(window->cmdLandscape_Click());
        }
        window->cmdClose_Click();
      });
  }

  Workbench& wb() { return ext->workbench; }
  void click(const std::string& button) { wb().main.click(button); }

  RunRecord record() {
    host.document().syncLayers();
    RunRecord o;
    for (const auto& entry : fs::recursive_directory_iterator(folder.path())) {
      if (!entry.is_regular_file()) continue;
      std::string bytes = contents(entry.path());
      // Bytes 1-3 of a dBASE header hold the date of the last update.
      if (entry.path().extension() == ".dbf" && bytes.size() > 4) bytes.replace(1, 3, "DAT");
      o.files[fs::relative(entry.path(), folder.path()).string()] = bytes;
    }
    for (const MessageBox& m : ws.messages) o.messages.push_back(m.title + ": " + m.text + " / " + m.detail);
    return o;
  }

  TempDir folder;
  HostApplication host;
  ScriptedWindowSystem ws;
  std::unique_ptr<Extension> ext;
};

RunRecord runAll(const fs::path& shp, unsigned threads) {
  Tool tool(shp, threads);
  for (const std::string& button : kButtons) {
    tool.click(button);
    EXPECT_EQ(tool.wb().session.lastOutcome, Outcome::Completed) << button << " on " << threads << " threads";
  }
  return tool.record();
}

void expectSameOnAnyThreads(const fs::path& shp) {
  const RunRecord one = runAll(shp, 1);
  // The runs did write what is compared.
  ASSERT_TRUE(one.files.count("cores.dbf"));
  EXPECT_GE(std::count_if(one.files.begin(), one.files.end(),
                          [](const auto& f) { return f.first.rfind("reports", 0) == 0; }),
            4);
  for (const char* field : {"NNDist", "PX94_35", "PXfg_35", "DissolveID", "Frac_Dim"})
    EXPECT_NE(one.files.at("patches.dbf").find(field), std::string::npos) << field;

  for (unsigned threads : {2u, 3u, 8u}) {
    SCOPED_TRACE(std::to_string(threads) + " threads");
    const RunRecord many = runAll(shp, threads);
    EXPECT_EQ(many.messages, one.messages);
    ASSERT_EQ(many.files.size(), one.files.size());
    for (const auto& [name, bytes] : one.files) {
      ASSERT_TRUE(many.files.count(name)) << name;
      EXPECT_TRUE(many.files.at(name) == bytes) << name << " differs";
    }
  }
}

TEST(ParallelRunsTest, AwkwardShapesGiveTheSameFilesReportsAndMessagesOnAnyNumberOfThreads) {
  SHAPEFILES_ONLY();
  // Shared edges and corners, ties of distance, holes, islands, overlaps and
  // multipolygons (see RandomPatches.h), in classes of some tens of patches.
  for (std::uint32_t seed : {21u, 22u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    TempDir source;
    std::vector<Row> rows;
    for (const auto& p : randomPatches(seed, 20, 16, 4)) rows.push_back({p.wkt, {Value(std::in_place_type<std::string>, p.cls)}});
    writeShapefile(source / "land.shp", {{"cover", 'S', 20}}, rows);
    expectSameOnAnyThreads(source / "land.shp");
  }
}

TEST(ParallelRunsTest, AGeneratedLandscapeGivesTheSameFilesReportsAndMessagesOnAnyNumberOfThreads) {
  SHAPEFILES_ONLY();
  // Classes of hundreds of patches: many chunks per thread.
  TempDir source;
  bench::LandscapeParams params;
  params.patches = 3000;
  params.classes = 5;
  params.side = 3000;
  params.seed = 7;
  bench::writeLandscape(source / "land.shp", params);
  expectSameOnAnyThreads(source / "land.shp");
}

// A landscape of one class, big enough that every thread has work for a while.
fs::path oneClassLandscape(const TempDir& source) {
  bench::LandscapeParams params;
  params.patches = 4000;
  params.classes = 1;
  params.side = 4000;
  bench::writeLandscape(source / "land.shp", params);
  return source / "land.shp";
}

TEST(ParallelRunsTest, ProgressMovesAndCancelStopsARunOnSeveralThreadsKeepingWhatWasStored) {
  SHAPEFILES_ONLY();
  TempDir source;
  const fs::path shp = oneClassLandscape(source);
  for (const std::string& button : {std::string("cmdClasses"), std::string("cmdCore"), std::string("cmdArea")}) {
    SCOPED_TRACE(button);
    Tool tool(shp, 3);
    if (button != "cmdArea") tool.click("cmdArea");
    const std::size_t before = tool.ws.messages.size();
    // The user watches the bar, and presses Cancel once 1000 patches are done.
    std::vector<double> seen;
    tool.ws.pending = [] { return true; };
    tool.ws.onProcessEvents = [&] {
      const Workbench::Progress p = tool.wb().progress();
      seen.push_back(p.fraction);
      if ((p.items > 0 ? p.item : p.step) >= 1000) tool.click("cmdCancel");
    };
    tool.click(button);
    EXPECT_EQ(tool.wb().session.lastOutcome, Outcome::Cancelled);
    EXPECT_FALSE(tool.wb().main.ProgressBar1.visible);
    ASSERT_GE(seen.size(), 3u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_LT(seen.front(), seen.back());
    EXPECT_LT(seen.back(), 0.5);
    for (std::size_t i = before; i < tool.ws.messages.size(); ++i)
      EXPECT_NE(tool.ws.messages[i].text, "Calculation finished!");
  }
}

TEST(ParallelRunsTest, ACancelledRunStoresAPrefixOfThePatchesWithTheValuesOfAFullRun) {
  SHAPEFILES_ONLY();
  TempDir source;
  const fs::path shp = oneClassLandscape(source);
  Tool full(shp, 1);
  full.click("cmdArea");
  full.click("cmdClasses");
  FeatureTable& all = full.host.document().selectedLayer()->featureTable();
  const int nnFull = all.findField("NNDist");

  Tool cut(shp, 4);
  cut.click("cmdArea");
  cut.ws.pending = [] { return true; };
  cut.ws.onProcessEvents = [&] {
    if (cut.wb().progress().item >= 1500) cut.click("cmdCancel");
  };
  cut.click("cmdClasses");
  ASSERT_EQ(cut.wb().session.lastOutcome, Outcome::Cancelled);
  FeatureTable& part = cut.host.document().selectedLayer()->featureTable();
  const int nn = part.findField("NNDist");
  std::int64_t stored = 0;
  while (stored < part.count() && Feature(part, stored).number(nn) != -999) ++stored;
  EXPECT_GE(stored, 1500);
  EXPECT_LT(stored, part.count());
  for (std::int64_t oid = 0; oid < part.count(); ++oid) {
    const double expected = oid < stored ? Feature(all, oid).number(nnFull) : -999.0;
    ASSERT_EQ(Feature(part, oid).number(nn), expected) << "patch " << oid;
  }
}

}  // namespace
}  // namespace quilta::test
