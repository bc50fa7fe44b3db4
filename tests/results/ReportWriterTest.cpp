// Text reports of the result windows: the bytes of every report kind against
// hand-written golden files, and the save dialog's life: defaults, cancel,
// failure, replacement.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "host/HostApplication.h"
#include "results/ResultWindows.h"
#include "tests/support/Fixtures.h"
#include "ui/ScriptedWindowSystem.h"
#include "ui/Workbench.h"

namespace quilta {
namespace {

class ReportWriterTest : public ::testing::Test {
 protected:
  test::TempDir dir;
  HostApplication host;
  ScriptedWindowSystem ws;
  Workbench wb{host, ws};
  ResultWindows windows{wb};

  static std::string readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static std::string golden(const std::string& name) {
    return readBytes(test::sourceDir() / "tests/data/golden" / name);
  }
  static void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  std::vector<std::filesystem::path> filesInDir() const {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) files.push_back(entry.path());
    return files;
  }

  // Loads `w` as an analysis would and names its layer.
  void load(ResultWindow& w) {
    w.beginRun();
    w.txtLayername.text = "patches";
  }
  void addRow(ResultWindow& w, const std::vector<std::string>& cells) {
    const std::size_t row = w.lstViewClass.addRow(cells.at(0));
    for (std::size_t i = 1; i < cells.size(); ++i) w.lstViewClass.setSubItem(row, i, cells[i]);
  }
  // Saves through a button into `name` in the temporary folder; the bytes.
  template <class Click>
  std::string save(Click click, const std::string& name = "report.txt") {
    ws.fileAnswers.push_back((dir / name).string());
    EXPECT_TRUE(click());
    return readBytes(dir / name);
  }
  std::string saveLandscape(ResultWindow& w) {
    return save([&] { return w.cmdLandscape_Click(); });
  }
};

// --- the bytes of each report ---------------------------------------------

TEST_F(ReportWriterTest, ClassReportIsHeaderAndOneLinePerRowInWindows1252) {
  load(windows.area);
  addRow(windows.area, {"forest", "2", "4.00", "2.00", "1.00"});
  addRow(windows.area, {"várzea", "1", "3.00", "3.00", "0.00"});
  EXPECT_EQ(save([&] { return windows.area.cmdTextfile_Click(); }), golden("class_area_analysis.txt"));
}

TEST_F(ReportWriterTest, ClassReportOfAnEmptyListIsTheHeaderAlone) {
  load(windows.edges);
  EXPECT_EQ(save([&] { return windows.edges.cmdTextfile_Click(); }), "Class\tNP\tTE\tMPE\r\n");
}

TEST_F(ReportWriterTest, ClassReportLinesHaveAFieldForEveryColumn) {
  load(windows.proximity);
  windows.proximity.lstViewClass.addRow("lonely");
  EXPECT_EQ(save([&] { return windows.proximity.cmdTextfile_Click(); }), "Class\tNP\tMean_Proximity\r\nlonely\t\t\r\n");
}

TEST_F(ReportWriterTest, AreaLandscapeReportEndsTheTotalAreaWithOneByteSquareMetres) {
  frmArea& w = windows.area;
  load(w);
  w.txtTotalArea.text = "7.00";
  w.txtTotalPatches.text = "3";
  EXPECT_EQ(saveLandscape(w), golden("landscape_area_analysis.txt"));
}

TEST_F(ReportWriterTest, EdgeLandscapeReport) {
  frmEdges& w = windows.edges;
  load(w);
  w.txtED.text = "40000.00", w.txtTE.text = "8.00", w.txtMPE.text = "4.00";
  EXPECT_EQ(saveLandscape(w), golden("landscape_edge_analysis.txt"));
}

TEST_F(ReportWriterTest, FormLandscapeReportEndsWithAnEmptyLineWhenNoWarningShows) {
  frmForm& w = windows.form;
  load(w);
  w.txtNP.text = "1", w.txtMSI.text = "1.128", w.txtMPAR.text = "0.400", w.txtMFRACT.text = "1.602";
  // A warning text that is not visible stays out of the report.
  w.txtArtefact.text = "hidden";
  w.txtArtefact.visible = false;
  EXPECT_EQ(saveLandscape(w), golden("landscape_form_analysis.txt"));
}

TEST_F(ReportWriterTest, FormLandscapeReportCarriesTheVisibleWarningAfterTheEmptyLine) {
  frmForm& w = windows.form;
  load(w);
  w.txtNP.text = "3", w.txtMSI.text = "2.500", w.txtMPAR.text = "4.000", w.txtMFRACT.text = "-999";
  w.txtArtefact.visible = true;
  w.txtArtefact.text =
      "The following patches have a Fractal Dimension >= 2. This may be indicative of\r\n"
      "1) artefacts or sliver polygons\r\n"
      "2) data were captured in a very fine scale (< ~1:1000)\r\n"
      "3) polygons are created by automated processing (e.g. segmentation or classification)\r\n"
      "Patch IDs: 12;40;";
  EXPECT_EQ(saveLandscape(w), golden("landscape_form_analysis_warning.txt"));
}

TEST_F(ReportWriterTest, CoreAreaLandscapeReportHasTwoTabsAfterCority) {
  frmCoreArea& w = windows.coreArea;
  load(w);
  w.txtCADistance.text = "10";
  w.txtINFO.text = "1 patch has no core area";
  w.txtTotalArea.text = "500.00", w.txtCoreArea.text = "120.00";
  w.txtCority.text = "0.50", w.txtPercentage.text = "24.00";
  EXPECT_EQ(saveLandscape(w), golden("landscape_ca_analysis.txt"));
}

TEST_F(ReportWriterTest, DiversityLandscapeReportUsesTheReportLabels) {
  frmDiversity& w = windows.diversity;
  load(w);
  w.txtRichness.text = "2", w.txtRelRichness.text = "80.00", w.txtDiversity.text = "0.562";
  w.txtEvenness.text = "0.811", w.txtDominance.text = "0.131", w.txtClassespot.text = "2.5";
  EXPECT_EQ(saveLandscape(w), golden("landscape_diversity.txt"));
}

TEST_F(ReportWriterTest, ProximityLandscapeReport) {
  frmProximity& w = windows.proximity;
  load(w);
  w.txtProximity.text = "12.50";
  EXPECT_EQ(saveLandscape(w), golden("landscape_proximity.txt"));
}

TEST_F(ReportWriterTest, SubdivisionHasNoLandscapeReport) {
  load(windows.division);
  EXPECT_FALSE(windows.division.cmdLandscape_Click());
  EXPECT_TRUE(ws.fileDialogs.empty());
}

TEST_F(ReportWriterTest, CharactersOutsideTheCodePageBecomeQuestionMarks) {
  frmProximity& w = windows.proximity;
  load(w);
  w.txtLayername.text = "Ωmega é";
  w.txtProximity.text = "1.00";
  const std::string bytes = saveLandscape(w);
  EXPECT_NE(bytes.find("Layer name: \t?mega \xE9\r\n"), std::string::npos);
}

// --- the save dialog ------------------------------------------------------

TEST_F(ReportWriterTest, DialogOffersTheWindowsDefaultNamesAsTextFiles) {
  struct Names {
    ResultWindow* window;
    const char* classReport;
    const char* landscapeReport;
  };
  const std::vector<Names> expected = {{&windows.area, "class_area_analysis", "landscape_area_analysis"},
                                       {&windows.edges, "class_edge_analysis", "landscape_edge_analysis"},
                                       {&windows.form, "class_form_analysis", "landscape_form_analysis"},
                                       {&windows.coreArea, "class_ca_analysis", "landscape_ca_analysis"},
                                       {&windows.diversity, "class_diversity", "landscape_diversity"},
                                       {&windows.proximity, "class_proximity", "landscape_proximity"},
                                       {&windows.division, "class_subdivision", nullptr}};
  for (const auto& e : expected) {
    load(*e.window);
    ws.fileDialogs.clear();
    e.window->cmdTextfile_Click();
    e.window->cmdLandscape_Click();
    ASSERT_EQ(ws.fileDialogs.size(), e.landscapeReport ? 2u : 1u) << e.window->name();
    EXPECT_EQ(ws.fileDialogs[0].fileName, e.classReport);
    if (e.landscapeReport) {
      EXPECT_EQ(ws.fileDialogs[1].fileName, e.landscapeReport);
    }
    for (const FileDialog& d : ws.fileDialogs) {
      EXPECT_TRUE(d.save);
      EXPECT_EQ(d.flags, 2);
      EXPECT_EQ(d.filter, "Textfile | *.txt");
      EXPECT_EQ(d.defaultExtension, ".txt");
    }
  }
}

TEST_F(ReportWriterTest, CancelledDialogWritesNothing) {
  load(windows.area);
  addRow(windows.area, {"a", "1", "1.00", "1.00", "0.00"});
  ws.fileAnswers.push_back(std::nullopt);
  EXPECT_FALSE(windows.area.cmdTextfile_Click());
  ws.fileAnswers.push_back(std::nullopt);
  EXPECT_FALSE(windows.area.cmdLandscape_Click());
  EXPECT_TRUE(filesInDir().empty());
  EXPECT_TRUE(ws.messages.empty());
}

TEST_F(ReportWriterTest, DefaultExtensionIsAddedToANameWithoutOne) {
  load(windows.proximity);
  ws.fileAnswers.push_back((dir / "mine").string());
  EXPECT_TRUE(windows.proximity.cmdTextfile_Click());
  EXPECT_EQ(readBytes(dir / "mine.txt"), "Class\tNP\tMean_Proximity\r\n");
}

TEST_F(ReportWriterTest, SavingAgainReplacesTheWholeFile) {
  load(windows.edges);
  writeBytes(dir / "report.txt", std::string(500, 'x'));
  EXPECT_EQ(save([&] { return windows.edges.cmdTextfile_Click(); }), "Class\tNP\tTE\tMPE\r\n");
  EXPECT_EQ(filesInDir().size(), 1u);
}

TEST_F(ReportWriterTest, FailedSaveShowsUnexpectedErrorKeepsTheWindowAndALaterSaveWorks) {
  frmArea& w = windows.area;
  load(w);
  addRow(w, {"a", "1", "1.00", "1.00", "0.00"});
  ws.fileAnswers.push_back((dir / "no such folder" / "report.txt").string());
  EXPECT_FALSE(w.cmdTextfile_Click());
  ASSERT_EQ(ws.messages.size(), 1u);
  EXPECT_EQ(ws.messages[0].text, "Unexpected Error");
  EXPECT_EQ(ws.messages[0].title, kComponentTitle);
  EXPECT_EQ(ws.messages[0].buttons, Buttons::OK);
  EXPECT_NE(ws.messages[0].detail.find("report.txt"), std::string::npos) << ws.messages[0].detail;
  // The window is as it was, and nothing was left behind.
  EXPECT_TRUE(w.loaded);
  EXPECT_EQ(w.lstViewClass.rows.size(), 1u);
  EXPECT_TRUE(filesInDir().empty());

  EXPECT_EQ(save([&] { return w.cmdTextfile_Click(); }), "Class\tNP\tCA\tMPS\tPSSD\r\na\t1\t1.00\t1.00\t0.00\r\n");
}

TEST_F(ReportWriterTest, FolderInPlaceOfTheFileIsAnErrorAndStays) {
  load(windows.edges);
  std::filesystem::create_directory(dir / "taken.txt");
  ws.fileAnswers.push_back((dir / "taken.txt").string());
  EXPECT_FALSE(windows.edges.cmdTextfile_Click());
  EXPECT_EQ(ws.messageTexts(), std::vector<std::string>{"Unexpected Error"});
  EXPECT_TRUE(std::filesystem::is_directory(dir / "taken.txt"));
  EXPECT_EQ(filesInDir().size(), 1u);
}

TEST_F(ReportWriterTest, SavingThroughALinkReplacesTheLinkedFile) {
  load(windows.edges);
  writeBytes(dir / "target.txt", "old");
  std::filesystem::create_symlink(dir / "target.txt", dir / "link.txt");
  ws.fileAnswers.push_back((dir / "link.txt").string());
  EXPECT_TRUE(windows.edges.cmdTextfile_Click());
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.txt"));
  EXPECT_EQ(readBytes(dir / "target.txt"), "Class\tNP\tTE\tMPE\r\n");
}

}  // namespace
}  // namespace quilta
