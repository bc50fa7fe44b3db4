// The command's layer guard, in its order, and the tool window's own buttons.

#include <gtest/gtest.h>

#include "tests/support/ToolFixture.h"

namespace quilta {
namespace {

using test::rect;

class GuardTest : public test::ToolTest {
 protected:
  // A one-patch layer; epsg 0 leaves the map units undefined.
  PolygonLayer& layer(int epsg = 32725, const std::string& geometry = "polygon") {
    auto shp = dir / "layer.shp";
    std::string wkt = geometry == "point" ? "POINT(0 0)" : geometry == "line" ? "LINESTRING(0 0,1 1)" : rect(0, 0, 1, 1);
    test::writeShapefile(shp, {{"cover", 'S', 10}}, {{wkt, {std::string("a")}}}, epsg, geometry);
    return open(shp);
  }
  FocusMap& map() { return host.document().focusMap(); }
  bool clickCommand() { return ext->command.OnClick(); }
  std::vector<std::string> titles() const {
    std::vector<std::string> t;
    for (const auto& m : ws.messages) t.push_back(m.title);
    return t;
  }
};

TEST_F(GuardTest, CommandProperties) {
  ext = std::make_unique<Extension>(host, ws);
  const cls_Quilta_Plug_In& c = ext->command;
  EXPECT_EQ(c.Caption(), "Quilta 1.1");
  EXPECT_EQ(c.Category(), "Quilta 1.1 v_Kartova_9");
  EXPECT_EQ(c.Tooltip(), "Quilta Workbench");
  EXPECT_EQ(c.Message(), "Calculate landscape metrics");
  EXPECT_FALSE(c.Enabled());  // empty map
  layer();
  EXPECT_TRUE(ext->command.Enabled());
}

TEST_F(GuardTest, NoSelectedLayerIsTheFirstCheck) {
  layer();
  host.document().selectItem(nullptr);
  host.findExtension("vexaEditor.Editor")->setEditState(1);  // would be the next refusal
  EXPECT_FALSE(clickCommand());
  EXPECT_EQ(ws.messageTexts(), std::vector<std::string>{"A polygon shapefile must be selected before running this script!"});
  EXPECT_EQ(titles(), std::vector<std::string>{"Error: No Selected Layer"});
}

TEST_F(GuardTest, EditModeComesBeforeUnits) {
  layer(0);
  host.findExtension("vexaEditor.Editor")->setEditState(1);
  EXPECT_FALSE(clickCommand());
  EXPECT_EQ(ws.messageTexts(), std::vector<std::string>{"This tool requires that Plotvane is not in edit mode"});
  EXPECT_EQ(titles(), std::vector<std::string>{kComponentTitle});
  EXPECT_EQ(host.currentTool(), "none");
}

TEST_F(GuardTest, UndefinedMapUnits) {
  layer(0);
  ws.answers = {Answer::OK};
  EXPECT_FALSE(clickCommand());
  EXPECT_EQ(ws.messageTexts(), std::vector<std::string>{"It is recommended to set map units to meters!"});
  EXPECT_EQ(ws.messages[0].buttons, Buttons::OKCancel);
  EXPECT_EQ(ws.messages[0].title, "Map Units");

  ws.messages.clear();
  ws.answers = {Answer::Cancel};
  EXPECT_FALSE(clickCommand());
  EXPECT_EQ(ws.messageTexts(),
            (std::vector<std::string>{"It is recommended to set map units to meters!", "Please define map units!"}));
}

TEST_F(GuardTest, FeetAreOnlyARecommendation) {
  layer();
  map().setMapUnits(kFeet);
  map().setDistanceUnits(kFeet);
  ws.answers = {Answer::OK};
  EXPECT_FALSE(clickCommand());
  EXPECT_TRUE(ws.windowsShown.empty());
  ws.answers = {Answer::Cancel};
  EXPECT_TRUE(clickCommand());
  EXPECT_EQ(ws.windowsShown, std::vector<std::string>{"frmMain"});
}

TEST_F(GuardTest, UndefinedDistanceUnits) {
  layer();
  map().setDistanceUnits(kUnitsUndefined);
  EXPECT_FALSE(clickCommand());
  EXPECT_EQ(ws.messageTexts(), std::vector<std::string>{"Please define distance units!"});
}

TEST_F(GuardTest, PointAndLineLayersAreRefused) {
  for (const char* kind : {"point", "line"}) {
    ws.messages.clear();
    layer(32725, kind);
    EXPECT_FALSE(clickCommand()) << kind;
    ASSERT_EQ(ws.messages.size(), 1u);
    EXPECT_EQ(ws.messages[0].title, "Exiting Script: Selected Layer Not Polygon");
  }
}

TEST_F(GuardTest, EveryClickStartsWithNoClasses) {
  layer();
  session().selectedClasses = std::vector<std::string>{"a"};
  host.document().selectItem(nullptr);
  clickCommand();
  ASSERT_TRUE(session().selectedClasses.has_value());
  EXPECT_TRUE(session().selectedClasses->empty());
}

class MainWindowTest : public GuardTest {};

TEST_F(MainWindowTest, CloseResetsTheClassModel) {
  layer();
  chooseField("cover");
  chooseClasses();
  ws.onShow("frmMain", [this](WindowModel&) {
    click("cmdField");
    EXPECT_EQ(wb().main.lblclass.caption, "cover");
    EXPECT_EQ(wb().main.lblselected.caption, "1 class(es) of 1");
    click("cmdClose");
  });
  EXPECT_TRUE(clickCommand());
  EXPECT_EQ(session().classFieldName, "");
  EXPECT_FALSE(session().selectedClasses.has_value());
  EXPECT_EQ(session().layerName, "");
  EXPECT_FALSE(session().changeFieldRequest);
  // Reopening starts with empty labels and asks for the class field again.
  ws.windowsShown.clear();
  ws.onShow("frmMain", [this](WindowModel&) {
    EXPECT_EQ(wb().main.lblclass.caption, "");
    EXPECT_EQ(wb().main.lblselected.caption, "");
    click("cmdClass");
  });
  clickCommand();
  EXPECT_EQ(ws.windowsShown, (std::vector<std::string>{"frmMain", "frmFields", "frmClasses"}));
}

TEST_F(MainWindowTest, AboutRevealsProximityButtonsOnlyForTheExactCode) {
  layer();
  auto tryCode = [this](const std::string& code) {
    ws.onShow("frmAbout", [this, code](WindowModel&) {
      wb().about.txtAbout.text = code;
      wb().about.cmdOK_Click();
    });
    click("cmdAbout");
    return wb().main.cmdPX.visible && wb().main.cmdPX94.visible;
  };
  EXPECT_FALSE(tryCode("GP "));
  EXPECT_FALSE(tryCode("gp"));
  EXPECT_FALSE(tryCode(frmAbout::aboutText()));
  EXPECT_TRUE(tryCode("GP"));
  wb().main.load();  // the next opening hides them again
  EXPECT_FALSE(wb().main.cmdPX.visible);
}

TEST_F(MainWindowTest, CompanionToolIsRememberedOnlyWhenChosen) {
  layer();
  const std::string notFound =
      "Vetrix.exe not found on local machine. Please download from: \r\nhttps://vetrix.example.org/download";
  // Cancelled dialog: the message, and the dialog comes again next time.
  ws.fileAnswers = {std::nullopt};
  click("cmdVETRIX");
  EXPECT_EQ(ws.messageTexts(), std::vector<std::string>{notFound});
  EXPECT_EQ(session().companionToolPath, "");
  ASSERT_EQ(ws.fileDialogs.size(), 1u);
  EXPECT_EQ(ws.fileDialogs[0].flags, 4096);
  EXPECT_EQ(ws.fileDialogs[0].filter, "VETRIX.exe | *.exe");

  ws.canStart = [](const std::string& p) { return p == "tools/Vetrix.exe"; };
  ws.fileAnswers = {std::string("tools/Vetrix.exe")};
  click("cmdVETRIX");
  EXPECT_EQ(ws.programsStarted, std::vector<std::string>{"tools/Vetrix.exe"});
  EXPECT_EQ(ws.fileDialogs.size(), 2u);
  // The program disappears: every later click fails without a dialog.
  ws.canStart = [](const std::string&) { return false; };
  ws.messages.clear();
  click("cmdVETRIX");
  click("cmdVETRIX");
  EXPECT_EQ(ws.fileDialogs.size(), 2u);
  EXPECT_EQ(messagesWith(notFound), 2);
  EXPECT_EQ(session().companionToolPath, "tools/Vetrix.exe");
}

TEST_F(MainWindowTest, HelpAndLogosOpenThroughTheShell) {
  layer();
  click("cmdHelp");
  click("imgKVAR");
  ASSERT_EQ(ws.shellOpened.size(), 2u);
  EXPECT_EQ(ws.shellOpened[0], (dir.path() / "Quilta_Help.html").string());
  EXPECT_EQ(ws.shellOpened[1], wb().main.imgKVAR.tooltip);
}

TEST_F(MainWindowTest, CancelHidesProgressAndSetsTheFlag) {
  layer();
  wb().arm(10);
  EXPECT_TRUE(wb().main.ProgressBar1.visible);
  EXPECT_TRUE(wb().main.cmdCancel.visible);
  click("cmdCancel");
  EXPECT_TRUE(session().cancel);
  EXPECT_FALSE(wb().main.ProgressBar1.visible);
  EXPECT_FALSE(wb().main.cmdCancel.visible);
}

}  // namespace
}  // namespace quilta
