// The Qt window system: message boxes, file dialogs, and the dialogs of the
// window models, driven as a user would click them.

#include <fstream>

#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>

#include "app/desktop/QtWindowSystem.h"
#include "app/desktop/WindowDialog.h"
#include "host/HostApplication.h"
#include "host/HostError.h"
#include "results/ResultWindows.h"
#include "tests/desktop/DesktopFixture.h"
#include "tests/support/Fixtures.h"
#include "ui/Workbench.h"

namespace quilta {
namespace {

using desktop::QtWindowSystem;

class DialogsTest : public test::DesktopTest {
 protected:
  HostApplication app;
  QtWindowSystem ws;
  Workbench wb{app, ws};
  ResultWindows results{wb};

  static QStringList itemTexts(const QListWidget* list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i) texts << list->item(i)->text();
    return texts;
  }
  static QStringList rowTexts(const QTreeWidgetItem* item) {
    QStringList texts;
    for (int c = 0; c < item->columnCount(); ++c) texts << item->text(c);
    return texts;
  }
  static QStringList headers(const QTreeWidget* tree) {
    QStringList texts;
    for (int c = 0; c < tree->columnCount(); ++c) texts << tree->headerItem()->text(c);
    return texts;
  }
  static QString boxText(QWidget* window, const char* name) {
    auto* box = window->findChild<QLineEdit*>(name);
    return box ? box->text() : QStringLiteral("<no box %1>").arg(name);
  }
  // Answers the next message box with `button`; what it showed lands in `shown`.
  static void answerMessage(QMessageBox::StandardButton button, MessageBox* shown = nullptr) {
    test::whenShown("QMessageBox", [button, shown](QWidget* w) {
      auto* box = static_cast<QMessageBox*>(w);
      if (shown) {
        shown->text = box->text().toStdString();
        shown->title = box->windowTitle().toStdString();
      }
      ASSERT_NE(box->button(button), nullptr);
      box->button(button)->click();
    });
  }
  // An area window with two classes, as an area analysis leaves it.
  void fillAreaWindow() {
    frmArea& w = results.area;
    w.beginRun();
    for (const char* cls : {"forest", "water"}) {
      auto row = w.lstViewClass.addRow(cls);
      for (std::size_t i = 1; i < 5; ++i)
        w.lstViewClass.setSubItem(row, i, std::string(cls).substr(0, 1) + std::to_string(i));
    }
    w.txtLayername.text = "patches";
    w.txtTotalArea.text = "12.50";
    w.txtTotalPatches.text = "7";
  }
};

// --- message boxes, input boxes, file dialogs ------------------------------

TEST_F(DialogsTest, MessageBoxShowsTextTitleIconAndDetailExactly) {
  test::whenShown("QMessageBox", [](QWidget* w) {
    auto* box = static_cast<QMessageBox*>(w);
    EXPECT_EQ(box->text(), "Number of selected classes: 2\nSelected classes: \nhilltop\nslope");
    EXPECT_EQ(box->windowTitle(), "Map Units");
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    EXPECT_EQ(box->detailedText(), "the file is locked\nby another program");
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok | QMessageBox::Cancel);
    box->button(QMessageBox::Cancel)->click();
  });
  Answer a =
      ws.messageBox(MessageBox{"Number of selected classes: 2\rSelected classes: \rhilltop\rslope", "Map Units",
                               Buttons::OKCancel, Icon::Exclamation, "the file is locked\r\nby another program"});
  EXPECT_EQ(a, Answer::Cancel);
}

TEST_F(DialogsTest, QuestionsAnswerYesOrNoAndPlainBoxesOk) {
  answerMessage(QMessageBox::No);
  EXPECT_EQ(wb.message("Change class field: 'zone' ?", "Class field zone", Buttons::YesNo), Answer::No);
  answerMessage(QMessageBox::Yes);
  EXPECT_EQ(wb.message("Select new classes? (currently 3 classes)", "Class Field zone", Buttons::YesNo), Answer::Yes);
  MessageBox shown;
  answerMessage(QMessageBox::Ok, &shown);
  EXPECT_EQ(wb.message("Select a field"), Answer::OK);
  EXPECT_EQ(shown.title, "Quilta 1.1");
}

TEST_F(DialogsTest, InputBoxOffersTheDefaultAndCancelGivesNothing) {
  test::whenShown("QInputDialog", [](QWidget* w) {
    auto* input = static_cast<QInputDialog*>(w);
    EXPECT_EQ(input->labelText(), "Core Area Distance");
    EXPECT_EQ(input->textValue(), "10");
    input->setTextValue("25");
    input->accept();
  });
  EXPECT_EQ(ws.inputBox(InputBox{"Core Area Distance", "Core Area", "10"}), std::optional<std::string>("25"));
  test::whenShown("QInputDialog", [](QWidget* w) { static_cast<QInputDialog*>(w)->reject(); });
  EXPECT_EQ(ws.inputBox(InputBox{"Core Area Distance", "Core Area", "10"}), std::nullopt);
}

TEST_F(DialogsTest, FilterPairsBecomeQtFilters) {
  EXPECT_EQ(desktop::qtFileFilter("Textfile | *.txt"), "Textfile (*.txt)");
  EXPECT_EQ(desktop::qtFileFilter("Shapefile | *.shp"), "Shapefile (*.shp)");
  EXPECT_EQ(desktop::qtFileFilter("Text|*.txt;*.csv|All|*.*"), "Text (*.txt *.csv);;All (*.*)");
  EXPECT_EQ(desktop::qtFileFilter(""), "");
}

TEST_F(DialogsTest, SaveDialogAppendsTheDefaultExtensionAndAsksBeforeReplacing) {
  test::TempDir dir;
  const QString folder = QString::fromStdString(dir.path().string());
  test::whenShown("QFileDialog", [folder](QWidget* w) {
    auto* dialog = static_cast<QFileDialog*>(w);
    EXPECT_EQ(dialog->nameFilters(), QStringList{"Textfile (*.txt)"});
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_FALSE(dialog->testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_EQ(dialog->defaultSuffix(), "txt");
    dialog->setDirectory(folder);
    dialog->selectFile("class_area_analysis");
    QMetaObject::invokeMethod(dialog, "accept");  // the Save button
  });
  auto chosen = ws.fileDialog(FileDialog{true, 2, "Textfile | *.txt", ".txt", "class_area_analysis"});
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(std::filesystem::path(*chosen), dir.path() / "class_area_analysis.txt");
}

TEST_F(DialogsTest, OpenDialogWithMustExistFlagTakesExistingFilesOnly) {
  test::whenShown("QFileDialog", [](QWidget* w) {
    auto* dialog = static_cast<QFileDialog*>(w);
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
    dialog->reject();
  });
  EXPECT_EQ(ws.fileDialog(FileDialog{false, 4096, "Shapefile | *.shp", ".shp", ""}), std::nullopt);
}

TEST_F(DialogsTest, ProgramThatIsMissingOrNotRunnableDoesNotStart) {
  test::TempDir dir;
  EXPECT_FALSE(ws.startProgram((dir / "VETRIX.exe").string(), 1));
  std::ofstream(dir / "notes.txt") << "not a program";
  EXPECT_FALSE(ws.startProgram((dir / "notes.txt").string(), 2));
}

// --- choosers --------------------------------------------------------------

TEST_F(DialogsTest, FieldChooserOkWithoutChoiceWarnsThenStoresTheChosenField) {
  for (const char* f : {"FID", "cover", "code"}) wb.fields.lstFieldNames.add(f);
  bool stayedOpen = false;
  test::whenShown("frmFields", [&](QWidget* w) {
    EXPECT_EQ(w->windowTitle(), "Select Class Field ");
    auto* list = w->findChild<QListWidget*>("lstFieldNames");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(itemTexts(list), (QStringList{"FID", "cover", "code"}));
    MessageBox warning;
    answerMessage(QMessageBox::Ok, &warning);
    test::clickButton(w, "cmdlist");
    EXPECT_EQ(warning.text, "Select a field");
    stayedOpen = w->isVisible();
    list->item(1)->setSelected(true);  // the user picks "cover"
    EXPECT_EQ(wb.fields.lstFieldNames.selectedIndex(), 1);
    test::clickButton(w, "cmdlist");
  });
  ws.showModal(wb.fields);
  EXPECT_TRUE(stayedOpen);
  EXPECT_EQ(wb.session.classFieldName, "cover");
  EXPECT_FALSE(wb.fields.open);
}

TEST_F(DialogsTest, ClassChooserTogglesItemsAndSummarisesTheSelection) {
  for (const char* c : {"forest", "meadow", "water"}) wb.classes.lstClassNames.add(c);
  MessageBox summary;
  test::whenShown("frmClasses", [&](QWidget* w) {
    auto* list = w->findChild<QListWidget*>("lstClassNames");
    ASSERT_NE(list, nullptr);
    list->item(0)->setSelected(true);
    list->item(1)->setSelected(true);
    list->item(2)->setSelected(true);
    list->item(1)->setSelected(false);  // a second click takes "meadow" back
    EXPECT_EQ(wb.classes.lstClassNames.selected, (std::vector<bool>{true, false, true}));
    answerMessage(QMessageBox::Ok, &summary);
    test::clickButton(w, "cmdclasslist");
  });
  ws.showModal(wb.classes);
  EXPECT_EQ(wb.session.classes(), (std::vector<std::string>{"forest", "water"}));
  EXPECT_EQ(summary.text, "Number of selected classes: 2\nSelected classes: \nforest\nwater");
  EXPECT_EQ(wb.main.lblselected.caption, "2 class(es) of 3");
}

TEST_F(DialogsTest, ChooserCloseBoxClosesWithoutAChoice) {
  wb.fields.lstFieldNames.add("cover");
  test::whenShown("frmFields", [](QWidget* w) { w->close(); });
  ws.showModal(wb.fields);
  EXPECT_FALSE(wb.fields.open);
  EXPECT_TRUE(wb.session.classFieldName.empty());
  EXPECT_FALSE(wb.session.selectionCancelled);
}

// --- result windows --------------------------------------------------------

TEST_F(DialogsTest, ResultWindowShowsTheModelsColumnsRowsAndLandscapeValues) {
  fillAreaWindow();
  test::whenShown("frmArea", [&](QWidget* w) {
    EXPECT_EQ(w->windowTitle(), "Area Analysis");
    EXPECT_EQ(boxText(w, "txtLayername"), "patches");
    auto* tree = w->findChild<QTreeWidget*>("lstViewClass");
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(headers(tree), (QStringList{"Class", "NP", "CA", "MPS", "PSSD"}));
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    EXPECT_EQ(rowTexts(tree->topLevelItem(0)), (QStringList{"forest", "f1", "f2", "f3", "f4"}));
    EXPECT_EQ(rowTexts(tree->topLevelItem(1)), (QStringList{"water", "w1", "w2", "w3", "w4"}));
    EXPECT_EQ(boxText(w, "txtTotalArea"), "12.50");
    EXPECT_EQ(boxText(w, "txtTotalPatches"), "7");
    EXPECT_EQ(w->findChild<QPushButton*>("cmdLandscape")->text(), "Save results of landscape level");
    test::clickButton(w, "cmdClose");
  });
  ws.showModal(results.area);
  EXPECT_FALSE(results.area.open);
  EXPECT_TRUE(results.area.lstViewClass.rows.empty());  // Close empties the list
}

TEST_F(DialogsTest, ResultWindowCloseBoxKeepsTheRows) {
  fillAreaWindow();
  test::whenShown("frmArea", [](QWidget* w) { w->close(); });
  ws.showModal(results.area);
  EXPECT_FALSE(results.area.open);
  EXPECT_EQ(results.area.lstViewClass.rows.size(), 2u);
}

TEST_F(DialogsTest, SubdivisionWindowHasNoLandscapeLevel) {
  results.division.beginRun();
  results.division.lstViewClass.addRow("forest");
  test::whenShown("frmDivision", [](QWidget* w) {
    EXPECT_EQ(w->windowTitle(), "Subdivision Analysis");
    EXPECT_EQ(w->findChild<QPushButton*>("cmdLandscape"), nullptr);
    auto* tree = w->findChild<QTreeWidget*>("lstViewClass");
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(headers(tree), (QStringList{"Class", "NP", "CA", "DIVISION", "SPLIT", "MESH"}));
    test::clickButton(w, "cmdClose");
  });
  ws.showModal(results.division);
}

TEST_F(DialogsTest, FormWindowShowsTheWarningOnlyWhenTheModelDoes) {
  results.form.beginRun();
  results.form.txtArtefact.visible = true;
  results.form.txtArtefact.text = "Patch IDs:\r\n3, 8";
  test::whenShown("frmForm", [](QWidget* w) {
    auto* warning = w->findChild<QPlainTextEdit*>("txtArtefact");
    ASSERT_NE(warning, nullptr);
    EXPECT_TRUE(warning->isVisible());
    EXPECT_EQ(warning->toPlainText(), "Patch IDs:\n3, 8");
    w->close();
  });
  ws.showModal(results.form);
  results.form.txtArtefact.visible = false;
  test::whenShown("frmForm", [](QWidget* w) {
    EXPECT_FALSE(w->findChild<QPlainTextEdit*>("txtArtefact")->isVisible());
    w->close();
  });
  ws.showModal(results.form);
}

// --- tool window -----------------------------------------------------------

TEST_F(DialogsTest, ToolWindowHidesProgressAndProximityButtonsAtLoad) {
  wb.main.load();
  test::whenShown("frmMain", [](QWidget* w) {
    EXPECT_EQ(w->windowTitle(), "Quilta 1.1");
    EXPECT_FALSE(w->findChild<QProgressBar*>("ProgressBar1")->isVisible());
    EXPECT_FALSE(w->findChild<QPushButton*>("cmdCancel")->isVisible());
    EXPECT_FALSE(w->findChild<QPushButton*>("cmdPX")->isVisible());
    EXPECT_FALSE(w->findChild<QPushButton*>("cmdPX94")->isVisible());
    EXPECT_EQ(w->findChild<QPushButton*>("cdmshpIx")->toolTip(),
              "Calculates ShpIdx and PARATIO fields and shows statistics");
    EXPECT_EQ(w->findChild<QWidget*>("imgKVAR")->toolTip(), "https://kvar.example.org/projects");
    test::clickButton(w, "cmdClose");
  });
  ws.showModal(wb.main);
  EXPECT_FALSE(wb.main.open);
}

TEST_F(DialogsTest, ProgressBarFollowsTheModelAndCancelIsTheOnlyButtonDuringARun) {
  wb.main.load();
  int otherRuns = 0;
  wb.main.operations["cmdEdges"] = [&] { ++otherRuns; };
  wb.main.operations["cmdAreaForm"] = [&] {
    QWidget* w = ws.dialogFor(wb.main);
    ASSERT_NE(w, nullptr);
    auto* bar = w->findChild<QProgressBar*>("ProgressBar1");
    wb.arm(4);  // draws at once
    EXPECT_TRUE(bar->isVisible());
    EXPECT_TRUE(w->findChild<QPushButton*>("cmdCancel")->isVisible());
    EXPECT_EQ(bar->maximum(), 4);
    EXPECT_EQ(bar->value(), 0);
    wb.step();
    wb.step();
    ws.processEvents();
    EXPECT_EQ(bar->value(), 2);
    test::clickButton(w, "cmdEdges");  // ignored while this run goes on
    test::clickButton(w, "cmdCancel");
    EXPECT_TRUE(wb.session.cancel);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_FALSE(w->findChild<QPushButton*>("cmdCancel")->isVisible());
  };
  test::whenShown("frmMain", [](QWidget* w) {
    test::clickButton(w, "cmdAreaForm");
    test::clickButton(w, "cmdClose");
  });
  ws.showModal(wb.main);
  EXPECT_EQ(otherRuns, 0);
}

TEST_F(DialogsTest, AboutWindowWithTheAccessCodeRevealsTheProximityButtons) {
  wb.main.load();
  test::whenShown("frmMain", [](QWidget* w) {
    test::whenShown("frmAbout", [](QWidget* about) {
      auto* text = about->findChild<QPlainTextEdit*>("txtAbout");
      ASSERT_NE(text, nullptr);
      EXPECT_TRUE(text->toPlainText().startsWith("Quilta 1.1"));
      text->setPlainText("GP");
      test::clickButton(about, "cmdOK");
    });
    test::clickButton(w, "cmdAbout");
    EXPECT_TRUE(w->findChild<QPushButton*>("cmdPX")->isVisible());
    EXPECT_TRUE(w->findChild<QPushButton*>("cmdPX94")->isVisible());
    test::clickButton(w, "cmdClose");
  });
  ws.showModal(wb.main);
  EXPECT_FALSE(wb.about.open);
}

TEST_F(DialogsTest, WindowWithoutADialogIsAnError) {
  WindowModel unknown("frmNowhere", "Nowhere");
  EXPECT_THROW(ws.showModal(unknown), HostError);
  EXPECT_FALSE(unknown.open);
}

}  // namespace
}  // namespace quilta
