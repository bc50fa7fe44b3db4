// The result windows: their designed captions, columns and labels, and their
// life cycle (loaded by a run, emptied and unloaded by Close).

#include <gtest/gtest.h>

#include "host/HostApplication.h"
#include "results/ResultWindows.h"
#include "ui/ScriptedWindowSystem.h"
#include "ui/Workbench.h"

namespace quilta {
namespace {

class ResultWindowsTest : public ::testing::Test {
 protected:
  HostApplication host;
  ScriptedWindowSystem ws;
  Workbench wb{host, ws};
  ResultWindows windows{wb};

  static std::vector<std::string> labels(const ResultWindow& w) {
    std::vector<std::string> out;
    for (const auto& v : w.landscapeValues()) out.push_back(v.label + (v.unit.empty() ? "" : " | " + v.unit));
    return out;
  }
};

TEST_F(ResultWindowsTest, EveryWindowHasItsDesignedCaptionAndColumns) {
  struct Design {
    ResultWindow* window;
    const char* name;
    const char* caption;
    std::vector<std::string> columns;
    const char* landscapeLabel;
  };
  const std::vector<Design> designs = {
      {&windows.area, "frmArea", "Area Analysis", {"Class", "NP", "CA", "MPS", "PSSD"}, "Landcape level:"},
      {&windows.edges, "frmEdges", "Edge Analysis", {"Class", "NP", "TE", "MPE"}, "Landscape level:"},
      {&windows.form, "frmForm", "Form Analysis", {"Class", "NP", "MSI", "MPAR", "MFRACT"}, "Landscape level:"},
      {&windows.coreArea,
       "frmCoreArea",
       "Core Area Analysis",
       {"Class", "NCA", "CA", "TCCA", "CAI"},
       "Landcape level:"},
      {&windows.diversity,
       "frmDiversity",
       "Diversity Analysis",
       {"Class", "NP", "CA", "Proportion"},
       "Landscape level:"},
      {&windows.proximity,
       "frmProximity",
       "Proximity Index (fragstats)",
       {"Class", "NP", "Mean_Proximity"},
       "Landscape level:"},
      {&windows.division,
       "frmDivision",
       "Subdivision Analysis",
       {"Class", "NP", "CA", "DIVISION", "SPLIT", "MESH"},
       ""},
  };
  ASSERT_EQ(windows.all().size(), designs.size());
  for (const auto& d : designs) {
    ResultWindow& w = *d.window;
    EXPECT_EQ(w.name(), d.name);
    EXPECT_EQ(w.caption, d.caption);
    EXPECT_FALSE(w.loaded) << d.name;
    w.ensureLoaded();
    EXPECT_EQ(w.lstViewClass.columns, d.columns) << d.name;
    EXPECT_EQ(w.lblLayerName.caption, "Layer name: ");
    EXPECT_EQ(w.lblClassLevel.caption, "Class level:");
    EXPECT_EQ(w.cmdTextfile.caption, "Save results of class level");
    EXPECT_EQ(w.cmdClose.caption, "Close");
    EXPECT_EQ(w.lblLandscapeLevel.caption, d.landscapeLabel) << d.name;
    EXPECT_EQ(w.hasLandscapeLevel(), *d.landscapeLabel != 0) << d.name;
    EXPECT_EQ(w.lblLandscapeLevel.visible, w.hasLandscapeLevel()) << d.name;
    if (w.hasLandscapeLevel()) {
      EXPECT_EQ(w.cmdLandscape.caption, "Save results of landscape level");
    }
  }
}

TEST_F(ResultWindowsTest, LandscapeValuesCarryTheWindowLabelsAndUnits) {
  EXPECT_EQ(labels(windows.area), (std::vector<std::string>{"Total Area (TA): | m²", "Total Patches (NP):"}));
  EXPECT_EQ(labels(windows.edges),
            (std::vector<std::string>{"Edge Density (ED): | meters per hectare", "Total Edge (TE): | meters",
                                      "Mean Patch Edge (MPE): | meters"}));
  EXPECT_EQ(labels(windows.diversity),
            (std::vector<std::string>{"Richness:", "Rel. Richness (%):", "Shannon´s Diversity:", "Shannon´s Evenness:",
                                      "Dominance:", "Potential Richness:"}));
  EXPECT_EQ(labels(windows.proximity), (std::vector<std::string>{"Mean Proximity (MPI):"}));
  EXPECT_TRUE(windows.division.landscapeValues().empty());
  EXPECT_FALSE(windows.form.txtArtefact.visible);
}

TEST_F(ResultWindowsTest, CloseEmptiesTheListAndUnloadsTheWindow) {
  frmForm& w = windows.form;
  w.beginRun();
  w.lstViewClass.addRow("a");
  w.txtLayername.text = "patches";
  w.txtMSI.text = "1.128";
  w.txtArtefact.visible = true;
  w.txtArtefact.text = "Patch IDs: 1;";
  w.cmdClose_Click();
  EXPECT_FALSE(w.loaded);
  EXPECT_FALSE(w.open);
  EXPECT_TRUE(w.lstViewClass.rows.empty());
  EXPECT_TRUE(w.lstViewClass.columns.empty());
  EXPECT_EQ(w.txtLayername.text, "");
  EXPECT_EQ(w.txtMSI.text, "");
  EXPECT_FALSE(w.txtArtefact.visible);
  EXPECT_EQ(w.txtArtefact.text, "");
  // The next use creates it afresh from its design.
  w.ensureLoaded();
  EXPECT_EQ(w.lstViewClass.columns, (std::vector<std::string>{"Class", "NP", "MSI", "MPAR", "MFRACT"}));
}

TEST_F(ResultWindowsTest, BeginRunDropsRowsLeftByARunThatEndedEarly) {
  frmArea& w = windows.area;
  w.beginRun();
  w.lstViewClass.addRow("left over");
  w.beginRun();
  EXPECT_TRUE(w.loaded);
  EXPECT_TRUE(w.lstViewClass.rows.empty());
  EXPECT_EQ(w.lstViewClass.columns.size(), 5u);
}

}  // namespace
}  // namespace quilta
