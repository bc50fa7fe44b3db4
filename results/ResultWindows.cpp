#include "results/ResultWindows.h"

#include "results/ReportWriter.h"
#include "ui/Workbench.h"

namespace quilta {
namespace {

std::string line(const std::string& label, const TextBox& box) { return label + "\t" + box.text; }

}  // namespace

ResultWindow::ResultWindow(Workbench& wb, std::string name, std::string windowCaption, std::vector<std::string> columns,
                           std::string landscapeLabel, std::string classReportName, std::string landscapeReportName)
    : WindowModel(std::move(name), std::move(windowCaption)),
      wb_(wb),
      columns_(std::move(columns)),
      classReportName_(std::move(classReportName)),
      landscapeReportName_(std::move(landscapeReportName)) {
  lblLandscapeLevel = Control{std::move(landscapeLabel), ""};
  lblLandscapeLevel.visible = !lblLandscapeLevel.caption.empty();
  cmdLandscape.visible = !landscapeReportName_.empty();
}

void ResultWindow::ensureLoaded() {
  if (loaded) return;
  loaded = true;
  lstViewClass.columns = columns_;
  lstViewClass.rows.clear();
}

void ResultWindow::beginRun() {
  ensureLoaded();
  lstViewClass.rows.clear();
}

bool ResultWindow::cmdTextfile_Click() {
  return ReportWriter::save(wb_, classReportName_, ReportWriter::classReportLines(lstViewClass));
}

bool ResultWindow::cmdLandscape_Click() {
  if (!hasLandscapeLevel()) return false;
  return ReportWriter::save(wb_, landscapeReportName_, landscapeReportLines());
}

void ResultWindow::cmdClose_Click() {
  lstViewClass.rows.clear();
  lstViewClass.columns.clear();
  txtLayername.text.clear();
  clearLandscape();
  loaded = false;
  hide();
}

// --- frmArea ---------------------------------------------------------------

frmArea::frmArea(Workbench& wb)
    : ResultWindow(wb, "frmArea", "Area Analysis", {"Class", "NP", "CA", "MPS", "PSSD"}, "Landcape level:",
                   "class_area_analysis", "landscape_area_analysis") {}

std::vector<ResultWindow::LandscapeValue> frmArea::landscapeValues() const {
  return {{"txtTotalArea", "Total Area (TA):", "m²", &txtTotalArea},
          {"txtTotalPatches", "Total Patches (NP):", "", &txtTotalPatches}};
}

std::vector<std::string> frmArea::landscapeReportLines() const {
  return {"Area Analysis - landscape level",
          "",
          line("Layer name: ", txtLayername),
          "",
          line("Total Area (TA): ", txtTotalArea) + " m²",
          "",
          line("Total Patches (NP): ", txtTotalPatches)};
}

void frmArea::clearLandscape() { txtTotalArea = {}, txtTotalPatches = {}; }

// --- frmEdges --------------------------------------------------------------

frmEdges::frmEdges(Workbench& wb)
    : ResultWindow(wb, "frmEdges", "Edge Analysis", {"Class", "NP", "TE", "MPE"}, "Landscape level:",
                   "class_edge_analysis", "landscape_edge_analysis") {}

std::vector<ResultWindow::LandscapeValue> frmEdges::landscapeValues() const {
  return {{"txtED", "Edge Density (ED):", "meters per hectare", &txtED},
          {"txtTE", "Total Edge (TE):", "meters", &txtTE},
          {"txtMPE", "Mean Patch Edge (MPE):", "meters", &txtMPE}};
}

std::vector<std::string> frmEdges::landscapeReportLines() const {
  return {"Edge Analysis - landscape level",
          "",
          line("Layer name: ", txtLayername),
          "",
          line("Edge Density (ED): ", txtED),
          line("Total Edge (TE): ", txtTE),
          line("Mean Patch Edge (MPE): ", txtMPE)};
}

void frmEdges::clearLandscape() { txtED = {}, txtTE = {}, txtMPE = {}; }

// --- frmForm ---------------------------------------------------------------

frmForm::frmForm(Workbench& wb)
    : ResultWindow(wb, "frmForm", "Form Analysis", {"Class", "NP", "MSI", "MPAR", "MFRACT"}, "Landscape level:",
                   "class_form_analysis", "landscape_form_analysis") {
  txtArtefact.visible = false;
}

std::vector<ResultWindow::LandscapeValue> frmForm::landscapeValues() const {
  return {{"txtNP", "Total Patches (NP):", "", &txtNP},
          {"txtMSI", "Mean Shape Index (MSI):", "", &txtMSI},
          {"txtMPAR", "Mean Perimeter-Area Ratio (MPAR):", "", &txtMPAR},
          {"txtMFRACT", "Mean Fractal Dimension (MFRACT):", "", &txtMFRACT}};
}

std::vector<std::string> frmForm::landscapeReportLines() const {
  std::vector<std::string> lines = {"Form Analysis - landscape level",
                                    "",
                                    line("Layer name: ", txtLayername),
                                    "",
                                    line("Total Patches (NP): ", txtNP),
                                    line("Mean Shape Index (MSI): ", txtMSI),
                                    line("Mean Perimeter-Area Ratio (MPAR): ", txtMPAR),
                                    line("Mean Fractal Dimension (MFRACT): ", txtMFRACT),
                                    ""};
  if (txtArtefact.visible) lines.push_back(txtArtefact.text);
  return lines;
}

void frmForm::clearLandscape() {
  txtNP = {}, txtMSI = {}, txtMPAR = {}, txtMFRACT = {};
  txtArtefact = {};
  txtArtefact.visible = false;
}

// --- frmCoreArea -----------------------------------------------------------

frmCoreArea::frmCoreArea(Workbench& wb)
    : ResultWindow(wb, "frmCoreArea", "Core Area Analysis", {"Class", "NCA", "CA", "TCCA", "CAI"}, "Landcape level:",
                   "class_ca_analysis", "landscape_ca_analysis") {}

std::vector<ResultWindow::LandscapeValue> frmCoreArea::landscapeValues() const {
  return {{"txtCADistance", "Core Area Distance: ", "", &txtCADistance},
          {"txtINFO", "", "", &txtINFO},
          {"txtTotalArea", "Total Area (TA):", "", &txtTotalArea},
          {"txtCoreArea", "Total Core Area (TCA):", "", &txtCoreArea},
          {"txtCority", "Cority:", "", &txtCority},
          {"txtPercentage", "Core Area Index (CAI):", "", &txtPercentage}};
}

std::vector<std::string> frmCoreArea::landscapeReportLines() const {
  return {"Core Area - landscape level",
          "",
          line("Layer name: ", txtLayername),
          line("Core Area Distance: ", txtCADistance),
          "",
          "Core Area Information:",
          txtINFO.text,
          "",
          line("Total Area (TA): ", txtTotalArea),
          line("Total Core Area (TCA): ", txtCoreArea),
          "Cority: \t\t" + txtCority.text,
          line("Core Area Index (CAI): ", txtPercentage)};
}

void frmCoreArea::clearLandscape() {
  txtCADistance = {}, txtINFO = {}, txtTotalArea = {}, txtCoreArea = {}, txtCority = {}, txtPercentage = {};
}

// --- frmDiversity ----------------------------------------------------------

frmDiversity::frmDiversity(Workbench& wb)
    : ResultWindow(wb, "frmDiversity", "Diversity Analysis", {"Class", "NP", "CA", "Proportion"}, "Landscape level:",
                   "class_diversity", "landscape_diversity") {}

std::vector<ResultWindow::LandscapeValue> frmDiversity::landscapeValues() const {
  return {{"txtRichness", "Richness:", "", &txtRichness},
          {"txtRelRichness", "Rel. Richness (%):", "", &txtRelRichness},
          {"txtDiversity", "Shannon´s Diversity:", "", &txtDiversity},
          {"txtEvenness", "Shannon´s Evenness:", "", &txtEvenness},
          {"txtDominance", "Dominance:", "", &txtDominance},
          {"txtClassespot", "Potential Richness:", "", &txtClassespot}};
}

std::vector<std::string> frmDiversity::landscapeReportLines() const {
  return {"Diversity Analysis - landscape level",
          "",
          line("Layer name: ", txtLayername),
          "",
          line("Richness: ", txtRichness),
          line("Rel. Richness (%): ", txtRelRichness),
          line("Shannon's Diversity: ", txtDiversity),
          line("Shannon's Evenness: ", txtEvenness),
          line("Dominance: ", txtDominance),
          line("Number of classes (pot.): ", txtClassespot)};
}

void frmDiversity::clearLandscape() {
  txtRichness = {}, txtRelRichness = {}, txtDiversity = {}, txtEvenness = {}, txtDominance = {}, txtClassespot = {};
}

// --- frmProximity ----------------------------------------------------------

frmProximity::frmProximity(Workbench& wb)
    : ResultWindow(wb, "frmProximity", "Proximity Index (fragstats)", {"Class", "NP", "Mean_Proximity"},
                   "Landscape level:", "class_proximity", "landscape_proximity") {}

std::vector<ResultWindow::LandscapeValue> frmProximity::landscapeValues() const {
  return {{"txtProximity", "Mean Proximity (MPI):", "", &txtProximity}};
}

std::vector<std::string> frmProximity::landscapeReportLines() const {
  return {"Proximity Analysis - landscape level", "", line("Layer name: ", txtLayername), "",
          line("Mean Proximity: ", txtProximity)};
}

void frmProximity::clearLandscape() { txtProximity = {}; }

// --- frmDivision -----------------------------------------------------------

frmDivision::frmDivision(Workbench& wb)
    : ResultWindow(wb, "frmDivision", "Subdivision Analysis", {"Class", "NP", "CA", "DIVISION", "SPLIT", "MESH"}, "",
                   "class_subdivision", "") {}

std::vector<ResultWindow::LandscapeValue> frmDivision::landscapeValues() const { return {}; }
std::vector<std::string> frmDivision::landscapeReportLines() const { return {}; }
void frmDivision::clearLandscape() {}

}  // namespace quilta
