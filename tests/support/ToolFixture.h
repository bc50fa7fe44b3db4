#pragma once
// A loaded tool over one layer in a temporary folder, driven by a scripted
// user: the common set-up of the operation tests.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "host/HostApplication.h"
#include "metrics/Extension.h"
#include "tests/support/Fixtures.h"
#include "tests/support/Stores.h"
#include "ui/ScriptedWindowSystem.h"

namespace quilta::test {

class ToolTest : public ::testing::Test {
 protected:
  TempDir dir;
  StoreLayers stores;  // outlives the host's layers, which hold connections
  HostApplication host;
  ScriptedWindowSystem ws;
  std::unique_ptr<Extension> ext;

  // Adds the shapefile (or what stands for it in the store of the run) to
  // the map, selects it and loads the tool.
  PolygonLayer& open(const std::filesystem::path& shp, PolygonLayer::Mode mode = PolygonLayer::Mode::Update) {
    PolygonLayer& layer = host.document().addLayer(stores.layerFor(shp), mode);
    ext = std::make_unique<Extension>(host, ws, dir.path());
    return layer;
  }
  // Adds the layer `source` to the map, selects it and loads the tool.
  PolygonLayer& open(const LayerSource& source, PolygonLayer::Mode mode = PolygonLayer::Mode::Update) {
    PolygonLayer& layer = host.document().addLayer(source, mode);
    ext = std::make_unique<Extension>(host, ws, dir.path());
    return layer;
  }
  // The layer of the shapefile `shp` opened anew from its store, as another
  // program would find it.
  std::shared_ptr<PolygonLayer> reopen(const std::filesystem::path& shp) {
    return PolygonLayer::open(stores.layerFor(shp));
  }
  Workbench& wb() { return ext->workbench; }
  SessionState& session() { return ext->workbench.session; }
  FeatureTable& table() { return host.document().selectedLayer()->featureTable(); }

  // The user picks `field` in the class field chooser (every time it shows).
  void chooseField(const std::string& field) {
    ws.onShow("frmFields", [this, field](WindowModel&) {
      auto& w = wb().fields;
      auto it = std::find(w.lstFieldNames.items.begin(), w.lstFieldNames.items.end(), field);
      ASSERT_NE(it, w.lstFieldNames.items.end()) << "field chooser lacks " << field;
      w.lstFieldNames.click(static_cast<std::size_t>(it - w.lstFieldNames.items.begin()));
      w.cmdlist_Click();
    });
  }
  // The user picks `values` in the class chooser, or Select All when empty.
  void chooseClasses(const std::vector<std::string>& values = {}) {
    ws.onShow("frmClasses", [this, values](WindowModel&) {
      auto& w = wb().classes;
      if (values.empty()) return w.cmdSelectAll_Click();
      for (const auto& v : values) {
        auto it = std::find(w.lstClassNames.items.begin(), w.lstClassNames.items.end(), v);
        ASSERT_NE(it, w.lstClassNames.items.end()) << "class chooser lacks " << v;
        w.lstClassNames.click(static_cast<std::size_t>(it - w.lstClassNames.items.begin()));
      }
      w.cmdclasslist_Click();
    });
  }
  // Runs the operation behind a tool window button.
  void click(const std::string& button) { wb().main.click(button); }

  // The user picks the class field "cover" and `classes` (all when empty),
  // then clicks `button`.
  void run(const std::string& button, const std::vector<std::string>& classes = {}) {
    chooseField("cover");
    chooseClasses(classes);
    click(button);
  }
  // Makes the session hold the class field "cover" of the layer "patches"
  // and `classes`, as after an earlier selection: the next operation asks
  // nothing and takes `classes` in this order, whether the layer has them or
  // not.
  void presetClasses(const std::vector<std::string>& classes) {
    session().classFieldName = "cover";
    session().classFieldType = kText;
    session().layerName = "patches";
    session().selectedClasses = classes;
  }
  // The user presses Cancel at the `n`-th chance to process input.
  void cancelAtYield(int n) {
    wb().yieldIntervalNs = std::numeric_limits<std::int64_t>::max();
    ws.pending = [] { return true; };
    ws.onProcessEvents = [this, n, calls = 0]() mutable {
      if (++calls == n) click("cmdCancel");
    };
  }

  // How many recorded message boxes carry `text`.
  long messagesWith(const std::string& text) const {
    return std::count_if(ws.messages.begin(), ws.messages.end(),
                         [&](const MessageBox& m) { return m.text == text; });
  }
};

}  // namespace quilta::test

// Ends a test that is about the files of a shapefile when the suite runs on
// another store.
#define QUILTA_SHAPEFILE_ONLY()                                                     \
  if (stores.kind() != ::quilta::test::Store::Shapefile)                            \
  GTEST_SKIP() << "about the files of a shapefile"
