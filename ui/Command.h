#pragma once
// The command the map application offers for the tool: its captions and the
// layer guard that opens the tool window only for a polygon layer that can be
// analysed.

#include <string>

namespace quilta {

class HostApplication;
class MapDocument;
class Workbench;

class cls_Quilta_Plug_In {
 public:
  explicit cls_Quilta_Plug_In(Workbench& wb) : wb_(wb) {}

  int Bitmap() const { return 0; }
  std::string Caption() const { return "Quilta 1.1"; }
  std::string Category() const { return "Quilta 1.1 v_Kartova_9"; }
  bool Checked() const { return false; }
  // True while the map holds at least one layer.
  bool Enabled() const;
  int HelpContextID() const { return 0; }
  std::string HelpFile() const { return ""; }
  std::string Message() const { return "Calculate landscape metrics"; }
  std::string Name() const { return "Quilta 1.1"; }
  std::string Tooltip() const { return "Quilta Workbench"; }

  // Keeps the host application and its document.
  void OnCreate(HostApplication& hook);
  // The layer guard; opens the tool window when every check passes. True when
  // the tool window was shown.
  bool OnClick();

 private:
  Workbench& wb_;
  MapDocument* document_ = nullptr;
};

}  // namespace quilta
