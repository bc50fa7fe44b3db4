#include "ui/ClassSelection.h"

#include "host/HostError.h"
#include "session/NumberText.h"
#include "ui/Workbench.h"

namespace quilta {
namespace {

// Makes the pseudo class field "noclass" hold "no class" for every patch.
// A field left incomplete by an earlier, cancelled preparation is completed.
// False when the user cancelled.
bool prepareNoClass(Workbench& wb, FeatureTable& table) {
  wb.arm(table.count());
  int index = table.findField(kNoClassField);
  if (index < 0) {
    table.addField(kNoClassField, kText, 0, 0, std::string(kNoClassValue));
    table.sync();
    wb.main.ProgressBar1.value = wb.main.ProgressBar1.max;
    return true;
  }
  for (auto cursor = table.search(); auto f = cursor.next();) {
    if (wb.poll()) return false;
    Value v = f->value(index);
    if (!isNull(v) && !text::ofValue(v).empty()) continue;
    f->setValue(index, std::string(kNoClassValue));
    f->store();
  }
  return true;
}

void offerClasses(Workbench& wb, const std::vector<Value>& values) {
  auto& list = wb.classes.lstClassNames;
  list.clear();
  for (const auto& v : values) list.add(text::ofValue(v));
  wb.classes.loaded = true;
  wb.ws.showModal(wb.classes);
}

}  // namespace

bool RunClassSelection(Workbench& wb) {
  SessionState& s = wb.session;
  s.cancel = false;
  s.selectionCancelled = false;
  try {
    s.document = &wb.app.document();
    PolygonLayer& layer = wb.selectedLayer();
    FeatureTable& table = layer.featureTable();
    const std::string layerName = layer.name();
    const std::string fieldOnEntry = s.classFieldName;
    const bool hasField = !s.classFieldName.empty();

    bool skipToOffer = hasField && s.changeClassesRequest;
    bool skipToArm = !skipToOffer && hasField && !s.changeFieldRequest && !s.classes().empty();

    if (!skipToOffer && !skipToArm) {
      bool choose = layerName != s.layerName || !hasField;
      if (!choose)
        choose = wb.message("Change class field: '" + s.classFieldName + "' ?", "Class field " + s.classFieldName,
                            Buttons::YesNo) == Answer::Yes;
      if (choose) {
        auto& list = wb.fields.lstFieldNames;
        list.clear();
        for (int i = 0; i < table.fieldCount(); ++i) {
          std::string name = table.field(i).name;
          if (name == "Shape" || name == "Area" || name == "Perimeter") continue;
          list.add(name);
        }
        wb.fields.loaded = true;
        wb.ws.showModal(wb.fields);
      }
      wb.fields.lstFieldNames.clear();
      if (s.selectionCancelled) return false;
      if (s.classFieldName.empty()) return false;
      if (s.classFieldName == kNoClassField && !prepareNoClass(wb, table)) return false;
      int index = table.findField(s.classFieldName);
      if (index < 0) throw HostError("the layer \"" + layerName + "\" has no field \"" + s.classFieldName + "\"");
      s.classFieldType = table.field(index).type;
      wb.message("Selected class field: " + s.classFieldName);
      wb.main.lblclass.caption = s.classFieldName;
    }

    if (!skipToArm) {
      int index = table.findField(s.classFieldName);
      if (index < 0) throw HostError("the layer \"" + layerName + "\" has no field \"" + s.classFieldName + "\"");
      std::vector<Value> values = table.uniqueValues(index);
      if (s.classFieldName != fieldOnEntry || layerName != s.layerName || s.classes().empty()) {
        offerClasses(wb, values);
        s.layerName = layerName;
      } else if (wb.message("Select new classes? (currently " + std::to_string(s.classes().size()) + " classes)",
                            "Class Field " + s.classFieldName, Buttons::YesNo) == Answer::Yes) {
        offerClasses(wb, values);
      }
      wb.classes.lstClassNames.clear();
      if (s.selectionCancelled) return false;
      // The class chooser closed without OK, Select All or Cancel.
      if (s.classes().empty()) return false;
    }

    wb.arm(static_cast<std::int64_t>(s.classes().size()));
    s.changeClassesRequest = false;
    s.changeFieldRequest = false;
    return true;
  } catch (const std::exception& e) {
    s.lastOutcome = Outcome::Failed;
    wb.message(kShapefileError, kComponentTitle, Buttons::OK, Icon::None, e.what());
    return false;
  }
}

}  // namespace quilta
