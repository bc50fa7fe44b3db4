#pragma once
// The result windows of the class- and landscape-level analyses. Each shows a
// list with one row per selected class (class level) and labelled text boxes
// with the values of all selected classes together (landscape level), and
// saves them as tab-separated text reports.

#include <string>
#include <vector>

#include "ui/Controls.h"

namespace quilta {

class Workbench;

class ResultWindow : public WindowModel {
 public:
  // One labelled text box of the landscape level, in display order.
  struct LandscapeValue {
    std::string control;  // e.g. "txtTotalArea"
    std::string label;    // window label, e.g. "Total Area (TA):"
    std::string unit;     // unit label beside the box, may be empty
    const TextBox* box;
  };

  ResultWindow(Workbench& wb, std::string name, std::string caption, std::vector<std::string> columns,
               std::string landscapeLabel, std::string classReportName, std::string landscapeReportName);

  Control lblLayerName{"Layer name: ", ""};
  Control lblClassLevel{"Class level:", ""};
  Control lblLandscapeLevel;  // hidden in windows without a landscape level
  TextBox txtLayername;
  ListView lstViewClass;
  Control cmdTextfile{"Save results of class level", ""};
  Control cmdLandscape{"Save results of landscape level", ""};
  Control cmdClose{"Close", ""};

  // Loads the window with its designed columns if it is not loaded (the first
  // write of a run does this).
  void ensureLoaded();
  // Starts a run: loads the window and drops rows that an earlier run left
  // behind when it ended early.
  void beginRun();
  bool hasLandscapeLevel() const { return cmdLandscape.visible; }
  virtual std::vector<LandscapeValue> landscapeValues() const = 0;
  // The lines of the landscape-level report, without line ends.
  virtual std::vector<std::string> landscapeReportLines() const = 0;
  const std::string& classReportName() const { return classReportName_; }
  const std::string& landscapeReportName() const { return landscapeReportName_; }

  // Save buttons: ask for a file and write the report. True when a report was
  // written; false when the user cancelled the dialog or the save failed
  // (reported as "Unexpected Error").
  bool cmdTextfile_Click();
  bool cmdLandscape_Click();
  // Empties the list and its columns and unloads the window.
  void cmdClose_Click();

 protected:
  // Resets the landscape text boxes when the window is unloaded.
  virtual void clearLandscape() = 0;
  Workbench& wb_;

 private:
  std::vector<std::string> columns_;
  std::string classReportName_;
  std::string landscapeReportName_;
};

class frmArea : public ResultWindow {
 public:
  explicit frmArea(Workbench& wb);
  TextBox txtTotalArea, txtTotalPatches;
  std::vector<LandscapeValue> landscapeValues() const override;
  std::vector<std::string> landscapeReportLines() const override;

 protected:
  void clearLandscape() override;
};

class frmEdges : public ResultWindow {
 public:
  explicit frmEdges(Workbench& wb);
  TextBox txtED, txtTE, txtMPE;
  std::vector<LandscapeValue> landscapeValues() const override;
  std::vector<std::string> landscapeReportLines() const override;

 protected:
  void clearLandscape() override;
};

class frmForm : public ResultWindow {
 public:
  explicit frmForm(Workbench& wb);
  TextBox txtNP, txtMSI, txtMPAR, txtMFRACT;
  TextBox txtArtefact;  // the suspicious-patch warning; visible only when set so
  std::vector<LandscapeValue> landscapeValues() const override;
  std::vector<std::string> landscapeReportLines() const override;

 protected:
  void clearLandscape() override;
};

class frmCoreArea : public ResultWindow {
 public:
  explicit frmCoreArea(Workbench& wb);
  TextBox txtCADistance, txtINFO, txtTotalArea, txtCoreArea, txtCority, txtPercentage;
  std::vector<LandscapeValue> landscapeValues() const override;
  std::vector<std::string> landscapeReportLines() const override;

 protected:
  void clearLandscape() override;
};

class frmDiversity : public ResultWindow {
 public:
  explicit frmDiversity(Workbench& wb);
  TextBox txtRichness, txtRelRichness, txtDiversity, txtEvenness, txtDominance, txtClassespot;
  std::vector<LandscapeValue> landscapeValues() const override;
  std::vector<std::string> landscapeReportLines() const override;

 protected:
  void clearLandscape() override;
};

class frmProximity : public ResultWindow {
 public:
  explicit frmProximity(Workbench& wb);
  TextBox txtProximity;
  std::vector<LandscapeValue> landscapeValues() const override;
  std::vector<std::string> landscapeReportLines() const override;

 protected:
  void clearLandscape() override;
};

// Class level only: no landscape values and no landscape report.
class frmDivision : public ResultWindow {
 public:
  explicit frmDivision(Workbench& wb);
  std::vector<LandscapeValue> landscapeValues() const override;
  std::vector<std::string> landscapeReportLines() const override;

 protected:
  void clearLandscape() override;
};

struct ResultWindows {
  explicit ResultWindows(Workbench& wb)
      : area(wb), edges(wb), form(wb), coreArea(wb), diversity(wb), proximity(wb), division(wb) {}
  frmArea area;
  frmEdges edges;
  frmForm form;
  frmCoreArea coreArea;
  frmDiversity diversity;
  frmProximity proximity;
  frmDivision division;
  // Every window, for views and printers.
  std::vector<ResultWindow*> all() {
    return {&area, &edges, &form, &coreArea, &diversity, &proximity, &division};
  }
};

}  // namespace quilta
