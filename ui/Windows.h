#pragma once
// The tool window and its small windows: the class field chooser, the class
// chooser, the field deletion window and the About window. Handlers are named
// after control and event; views call them and draw the state.

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/Controls.h"

namespace quilta {

class Workbench;
class MapDocument;

class frmMain : public WindowModel {
 public:
  explicit frmMain(Workbench& wb);

  Control lblQuilta_Extension;
  Control lblclass, lblselected;
  Control cmdArea, cmdClasses, cmdPX, cmdPX94, cmdPXfrag, cmdDissolveID;
  Control cmdAreaForm, cmdEdges, cdmshpIx, cmdCore, cmdDiversity, cmdDivision;
  Control cmdDelFlds, cmdField, cmdClass, cmdCancel, cmdVETRIX, cmdHelp, cmdAbout, cmdClose;
  Control imgMOLT, imgBRIM, imgKVAR;
  ProgressBar ProgressBar1;
  MapDocument* document = nullptr;  // the window's own reference, for field deletion

  // Every control that reacts to a click, by name, in layout order.
  std::vector<std::pair<std::string, Control*>> clickables();
  // A click on the control called `name`. Analysis buttons run the operation
  // wired to them; a button whose operation is absent does nothing.
  void click(const std::string& name);
  // What analysis buttons run, wired by the layer that owns the operations.
  std::map<std::string, std::function<void()>> operations;

  // Resets the window for a new opening: progress hidden, PX buttons hidden.
  void load();
  void cmdCancel_Click();
  void cmdField_Click();
  void cmdClass_Click();
  void cmdDelFlds_Click();
  void cmdVETRIX_Click();
  void cmdHelp_Click();
  void cmdAbout_Click();
  void cmdClose_Click();
  void image_Click(const std::string& image);
  // The window's own unload (its close box): the same reset as Close.
  void Form_Unload();

 private:
  Workbench& wb_;
};

class frmFields : public WindowModel {
 public:
  explicit frmFields(Workbench& wb);
  ListBox lstFieldNames;
  Control cmdlist, cmdnoclass, cmdCancel1;
  void cmdlist_Click();
  void cmdnoclass_Click();
  void cmdCancel1_Click();

 private:
  Workbench& wb_;
};

class frmClasses : public WindowModel {
 public:
  explicit frmClasses(Workbench& wb);
  ListBox lstClassNames;
  Control cmdclasslist, cmdSelectAll, cmdCancel2;
  void cmdclasslist_Click();
  void cmdSelectAll_Click();
  void cmdCancel2_Click();

 private:
  void summarise();
  Workbench& wb_;
};

class frmDelFields : public WindowModel {
 public:
  explicit frmDelFields(Workbench& wb);
  ListBox lstDelFlds;
  Control cmdDelFlds, cmdCancel2;
  void cmdDelFlds_Click();
  void cmdCancel2_Click();

 private:
  Workbench& wb_;
};

class frmAbout : public WindowModel {
 public:
  explicit frmAbout(Workbench& wb);
  TextBox txtAbout;
  Control cmdOK;
  void cmdOK_Click();
  static const char* aboutText();

 private:
  Workbench& wb_;
};

}  // namespace quilta
