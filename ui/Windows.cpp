#include "ui/Windows.h"

#include <algorithm>

#include "host/HostError.h"
#include "ui/ClassSelection.h"
#include "ui/Workbench.h"

namespace quilta {
namespace {

// Two letters typed into the About window reveal the PX92 and PX94 buttons.
constexpr const char* kAccessCode = "GP";

constexpr const char* kCompanionDownload = "https://vetrix.example.org/download";

struct Link {
  const char* image;
  const char* address;
};
constexpr Link kLinks[] = {
    {"imgMOLT", "https://molt.example.org/"},
    {"imgBRIM", "https://brim.example.org/"},
    {"imgKVAR", "https://kvar.example.org/projects"},
};

Control button(const char* caption, const char* tooltip, bool visible = true) { return Control{caption, tooltip, visible}; }

}  // namespace

// --- controls --------------------------------------------------------------

void ListBox::click(std::size_t index) {
  if (index >= items.size()) return;
  if (multiSelect) {
    selected[index] = !selected[index];
  } else {
    std::fill(selected.begin(), selected.end(), false);
    selected[index] = true;
  }
}

long long ListBox::selectedIndex() const {
  auto it = std::find(selected.begin(), selected.end(), true);
  return it == selected.end() ? -1 : static_cast<long long>(it - selected.begin());
}

bool ListBox::anySelected() const { return selectedIndex() >= 0; }

std::size_t ListView::addRow(std::string text) {
  std::vector<std::string> row(std::max<std::size_t>(columns.size(), 1));
  row[0] = std::move(text);
  rows.push_back(std::move(row));
  return rows.size() - 1;
}

void ListView::setSubItem(std::size_t row, std::size_t index, std::string text) {
  auto& r = rows.at(row);
  if (r.size() <= index) r.resize(index + 1);
  r[index] = std::move(text);
}

// --- frmMain ---------------------------------------------------------------

frmMain::frmMain(Workbench& wb) : WindowModel("frmMain", kComponentTitle), wb_(wb) {
  lblQuilta_Extension = Control{"Quilta Workbench (Extension for Kartova 9) 1.1", ""};
  cmdArea = button("Area / Perimeter", "Calculates Area and Perimeter Field");
  cmdClasses = button("Nearest Neighbour", "Nearest Neigbour Analysis");
  cmdPX = button("PX92", "Gustafson & Parker 1992", false);
  cmdPX94 = button("PX94", "Gustafson & Parker 1994", false);
  cmdPXfrag = button("Proximity (fragstats)", "McGARIGAL & MARKS 1995 (fragstats)");
  cmdDissolveID = button("Dissolve ID ", "Create Dissolve ID for adjacent polygons");
  cmdAreaForm = button("Area Analysis", "Area statistics");
  cmdEdges = button("Edge Analysis", "Edge statistics");
  cdmshpIx = button("Form Analysis", "Calculates ShpIdx and PARATIO fields and shows statistics");
  cmdCore = button("Core Area Analysis", "New Core Area shapefile and statistics");
  cmdDiversity = button("Diversity Analysis", "Diversity statistics");
  cmdDivision = button("Subdivision Analysis", "Subdivision statistics");
  cmdDelFlds = button("Delete Fields", "select fields in shapefile to delete");
  cmdField = button("Change", "Change class field");
  cmdClass = button("Change", "Change selected classes");
  cmdCancel = button("Cancel Calculation", "Cancel current calculation", false);
  cmdVETRIX = button("VETRIX Database", "VETRIX Database");
  cmdHelp = button("Help", "Help");
  cmdAbout = button("About", "About Quilta Extension");
  cmdClose = button("Close", "Close ");
  imgMOLT = button("", kLinks[0].address);
  imgBRIM = button("", kLinks[1].address);
  imgKVAR = button("", kLinks[2].address);
  load();
}

void frmMain::load() {
  loaded = true;
  lblclass.caption.clear();
  lblselected.caption.clear();
  ProgressBar1.visible = false;
  cmdCancel.visible = false;
  cmdPX.visible = false;
  cmdPX94.visible = false;
}

std::vector<std::pair<std::string, Control*>> frmMain::clickables() {
  return {{"cmdArea", &cmdArea},         {"cmdClasses", &cmdClasses},   {"cmdPXfrag", &cmdPXfrag},
          {"cmdPX", &cmdPX},             {"cmdPX94", &cmdPX94},         {"cmdAreaForm", &cmdAreaForm},
          {"cmdEdges", &cmdEdges},       {"cdmshpIx", &cdmshpIx},       {"cmdCore", &cmdCore},
          {"cmdDiversity", &cmdDiversity}, {"cmdDivision", &cmdDivision}, {"cmdField", &cmdField},
          {"cmdClass", &cmdClass},       {"cmdVETRIX", &cmdVETRIX},     {"cmdDelFlds", &cmdDelFlds},
          {"cmdDissolveID", &cmdDissolveID}, {"cmdAbout", &cmdAbout},   {"cmdHelp", &cmdHelp},
          {"cmdClose", &cmdClose},       {"cmdCancel", &cmdCancel},     {"imgMOLT", &imgMOLT},
          {"imgBRIM", &imgBRIM},         {"imgKVAR", &imgKVAR}};
}

void frmMain::click(const std::string& name) {
  if (name == "cmdCancel") return cmdCancel_Click();
  if (name == "cmdField") return cmdField_Click();
  if (name == "cmdClass") return cmdClass_Click();
  if (name == "cmdDelFlds") return cmdDelFlds_Click();
  if (name == "cmdVETRIX") return cmdVETRIX_Click();
  if (name == "cmdHelp") return cmdHelp_Click();
  if (name == "cmdAbout") return cmdAbout_Click();
  if (name == "cmdClose") return cmdClose_Click();
  if (name.rfind("img", 0) == 0) return image_Click(name);
  auto it = operations.find(name);
  if (it != operations.end() && it->second) it->second();
}

void frmMain::cmdCancel_Click() {
  wb_.session.cancel = true;
  ProgressBar1.visible = false;
  cmdCancel.visible = false;
}

void frmMain::cmdField_Click() {
  wb_.session.changeFieldRequest = true;
  RunClassSelection(wb_);
}

void frmMain::cmdClass_Click() {
  wb_.session.changeClassesRequest = true;
  RunClassSelection(wb_);
}

void frmMain::cmdDelFlds_Click() {
  // A failure before the window opens ends the click with the general error,
  // so the user learns why nothing appeared.
  wb_.session.cancel = false;
  try {
    document = &wb_.app.document();
    PolygonLayer& layer = wb_.selectedLayer();
    FeatureTable& table = layer.featureTable();
    auto& w = wb_.delFields;
    w.loaded = true;
    w.lstDelFlds.clear();
    for (int i = 0; i < table.fieldCount(); ++i) w.lstDelFlds.add(table.field(i).name);
  } catch (const std::exception& e) {
    wb_.message(kShapefileError, kComponentTitle, Buttons::OK, Icon::None, e.what());
    return;
  }
  wb_.ws.showModal(wb_.delFields);
  wb_.delFields.loaded = false;
}

void frmMain::cmdVETRIX_Click() {
  auto& s = wb_.session;
  auto notFound = [&] {
    wb_.message(std::string("Vetrix.exe not found on local machine. Please download from: ") + "\r\n" +
                kCompanionDownload);
  };
  if (!s.companionToolPath.empty()) {
    if (!wb_.ws.startProgram(s.companionToolPath, 1)) notFound();
    return;
  }
  auto chosen = wb_.ws.fileDialog(FileDialog{false, 4096, "VETRIX.exe | *.exe", ".exe", ""});
  s.companionToolPath = chosen.value_or("");
  if (s.companionToolPath.empty() || !wb_.ws.startProgram(s.companionToolPath, 2)) notFound();
}

void frmMain::cmdHelp_Click() { wb_.ws.shellOpen((wb_.programFolder / "Quilta_Help.html").string()); }

void frmMain::cmdAbout_Click() {
  auto& a = wb_.about;
  if (!a.loaded) {
    a.loaded = true;
    a.txtAbout.text = frmAbout::aboutText();
  }
  wb_.ws.showModal(a);
}

void frmMain::image_Click(const std::string& image) {
  for (const auto& link : kLinks)
    if (image == link.image) wb_.ws.shellOpen(link.address);
}

void frmMain::cmdClose_Click() {
  Form_Unload();
  hide();
}

void frmMain::Form_Unload() {
  auto& s = wb_.session;
  document = nullptr;
  s.selectedClasses.reset();
  s.classFieldName.clear();
  s.changeClassesRequest = false;
  s.changeFieldRequest = false;
  s.layerName.clear();
  loaded = false;
}

// --- frmFields -------------------------------------------------------------

frmFields::frmFields(Workbench& wb) : WindowModel("frmFields", "Select Class Field "), wb_(wb) {
  cmdlist = button("OK", "");
  cmdnoclass = button("no class field", "");
  cmdCancel1 = button("Cancel", "");
}

void frmFields::cmdlist_Click() {
  auto i = lstFieldNames.selectedIndex();
  if (i < 0) {
    wb_.message("Select a field");
    return;
  }
  wb_.session.classFieldName = lstFieldNames.items[static_cast<std::size_t>(i)];
  hide();
}

void frmFields::cmdnoclass_Click() {
  wb_.session.classFieldName = kNoClassField;
  hide();
}

void frmFields::cmdCancel1_Click() {
  wb_.session.selectionCancelled = true;
  hide();
}

// --- frmClasses ------------------------------------------------------------

frmClasses::frmClasses(Workbench& wb) : WindowModel("frmClasses", "Select new classes (single-click)"), wb_(wb) {
  lstClassNames.multiSelect = true;
  cmdclasslist = button("OK", "");
  cmdSelectAll = button("Select All", "");
  cmdCancel2 = button("Cancel", "");
}

void frmClasses::summarise() {
  const auto& chosen = wb_.session.classes();
  const std::string n = std::to_string(chosen.size());
  const std::string offered = std::to_string(lstClassNames.items.size());
  std::string text = "Number of selected classes: " + n;
  if (chosen.size() <= 30) {
    text += "\rSelected classes: ";
    for (const auto& v : chosen) text += "\r" + v;
  } else {
    text += " of " + offered;
  }
  wb_.message(text);
  wb_.main.lblselected.caption = n + " class(es) of " + offered;
  hide();
}

void frmClasses::cmdclasslist_Click() {
  auto& list = wb_.session.selectedClasses.emplace();
  for (std::size_t i = 0; i < lstClassNames.items.size(); ++i)
    if (lstClassNames.selected[i]) list.push_back(lstClassNames.items[i]);
  if (list.empty()) {
    wb_.message("Select at least one class!");
    return;
  }
  summarise();
}

void frmClasses::cmdSelectAll_Click() {
  auto& list = wb_.session.selectedClasses.emplace();
  if (lstClassNames.items.empty()) {
    wb_.message("There are no classes available!");
    hide();
    return;
  }
  list = lstClassNames.items;
  summarise();
}

void frmClasses::cmdCancel2_Click() {
  wb_.session.selectionCancelled = true;
  hide();
}

// --- frmDelFields ----------------------------------------------------------

frmDelFields::frmDelFields(Workbench& wb) : WindowModel("frmDelFields", "Delete Fields (single-click)"), wb_(wb) {
  lstDelFlds.multiSelect = true;
  cmdDelFlds = button("Delete Selected Fields", "");
  cmdCancel2 = button("Cancel", "");
}

void frmDelFields::cmdDelFlds_Click() {
  try {
    wb_.main.document = &wb_.app.document();
    PolygonLayer& layer = wb_.selectedLayer();
    FeatureTable& table = layer.featureTable();
    if (!lstDelFlds.anySelected()) {
      wb_.session.lastOutcome = Outcome::Refused;
      wb_.message("Select at least one field!");
      return;
    }
    // A cancel that came meanwhile (Ctrl-C on the command line) deletes
    // nothing; once begun, the deletion is one rewrite of the table.
    if (wb_.yield()) {
      wb_.session.lastOutcome = Outcome::Cancelled;
      hide();
      return;
    }
    for (std::size_t i = 0; i < lstDelFlds.items.size(); ++i) {
      if (!lstDelFlds.selected[i]) continue;
      const std::string& name = lstDelFlds.items[i];
      int index = table.findField(name);
      if (name == "shape" || name == "SHAPE" || name == "Shape") {
        wb_.message("It is not advisable to delete the Shape field!");
        continue;
      }
      if (index < 0) throw HostError("the layer has no field \"" + name + "\"");
      table.deleteField(index);
    }
    table.sync();
  } catch (const std::exception& e) {
    // Fields deleted before the failure stay deleted.
    try {
      wb_.selectedLayer().featureTable().sync();
    } catch (const std::exception&) {
    }
    wb_.message(kShapefileError, kComponentTitle, Buttons::OK, Icon::None, e.what());
    wb_.session.lastOutcome = Outcome::Failed;
    return;
  }
  wb_.session.lastOutcome = Outcome::Completed;
  wb_.message(kCalculationFinished);
  hide();
}

void frmDelFields::cmdCancel2_Click() { hide(); }

// --- frmAbout --------------------------------------------------------------

frmAbout::frmAbout(Workbench& wb) : WindowModel("frmAbout", "About Quilta"), wb_(wb) { cmdOK = button("OK", ""); }

const char* frmAbout::aboutText() {
  return "Quilta 1.1 - landscape metrics for polygon land-cover maps (Kartova 9 edition)\r\n"
         "\r\n"
         "Programming and concepts: the Quilta developers, quilta@example.org\r\n"
         "Funded as part of a landscape ecology research project.\r\n"
         "\r\n"
         "This software is provided as is, without warranty of any kind. The authors accept no "
         "liability for any damage arising from its use.";
}

void frmAbout::cmdOK_Click() {
  if (txtAbout.text == kAccessCode) {
    wb_.main.cmdPX.visible = true;
    wb_.main.cmdPX94.visible = true;
  }
  hide();
  loaded = false;
}

}  // namespace quilta
