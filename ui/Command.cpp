#include "ui/Command.h"

#include "host/HostApplication.h"
#include "host/HostError.h"
#include "ui/Workbench.h"

namespace quilta {

void cls_Quilta_Plug_In::OnCreate(HostApplication& hook) {
  wb_.session.application = &hook;
  document_ = &hook.document();
}

bool cls_Quilta_Plug_In::Enabled() const { return document_ && document_->focusMap().layerCount() > 0; }

bool cls_Quilta_Plug_In::OnClick() {
  if (!document_) throw HostError("the command was not created by a map application");
  wb_.session.selectedClasses.emplace();

  PolygonLayer* layer = document_->selectedLayer();
  if (!layer) {
    wb_.message("A polygon shapefile must be selected before running this script!", "Error: No Selected Layer");
    return false;
  }
  FeatureTable& table = layer->featureTable();

  HostApplication& app = *wb_.session.application;
  Editor* editor = app.findExtension("vexaEditor.Editor");
  if (!editor) throw HostError("the map application has no editor");
  if (editor->editState() == 1) {
    wb_.message("This tool requires that Plotvane is not in edit mode");
    app.setCurrentToolNone();
    return false;
  }

  FocusMap& map = document_->focusMap();
  const int mapUnits = map.mapUnits();
  const int distanceUnits = map.distanceUnits();
  if (mapUnits != 9 &&
      wb_.message("It is recommended to set map units to meters!", "Map Units", Buttons::OKCancel) == Answer::OK)
    return false;
  if (mapUnits == 0) {
    wb_.message("Please define map units!");
    return false;
  }
  if (distanceUnits == 0) {
    wb_.message("Please define distance units!");
    return false;
  }
  if (table.geometryType() != 4) {
    wb_.message("A polygon shapefile must be selected before running this script!",
                "Exiting Script: Selected Layer Not Polygon");
    return false;
  }
  wb_.main.load();
  wb_.ws.showModal(wb_.main);
  // A window closed through its close box resets as Close does.
  if (wb_.main.loaded) wb_.main.Form_Unload();
  return true;
}

}  // namespace quilta
