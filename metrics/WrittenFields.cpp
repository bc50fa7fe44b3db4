#include "metrics/WrittenFields.h"

#include <cctype>

#include "ui/Operation.h"
#include "ui/Workbench.h"

namespace quilta {
namespace {

bool sameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

}  // namespace

std::vector<std::string> fieldsWrittenBy(const std::string& button, const std::string& proximitySuffix) {
  auto proximity = [&](const char* prefix) {
    return proximitySuffix.empty() ? std::vector<std::string>{} : std::vector<std::string>{prefix + proximitySuffix};
  };
  if (button == "cmdArea") return {"Area", "Perimeter"};
  if (button == "cmdClasses") return {"NNDist", "NNId", "NN_Area"};
  if (button == "cmdPX") return proximity("PX92_");
  if (button == "cmdPX94") return proximity("PX94_");
  if (button == "cmdPXfrag") return proximity("PXfg_");
  if (button == "cmdDissolveID") return {"DissolveID"};
  if (button == "cdmshpIx") return {"Paratio", "Shape_Idx", "Frac_Dim"};
  return {};
}

std::string operationCaption(Workbench& wb, const std::string& button) {
  for (const auto& [name, control] : wb.main.clickables()) {
    if (name != button) continue;
    std::string caption = control->caption;
    while (!caption.empty() && caption.back() == ' ') caption.pop_back();
    return caption;
  }
  return button;
}

std::string classFieldOverwrittenText(const std::string& field, const std::string& operation) {
  return "The class field " + field + " would be overwritten by " + operation + "! Choose another class field.";
}

bool refuseClassFieldWritten(Workbench& wb, const std::vector<std::string>& written, const std::string& operation) {
  const std::string& classField = wb.session.classFieldName;
  for (const auto& name : written) {
    if (!sameName(name, classField)) continue;
    refuse(wb, classFieldOverwrittenText(classField, operation), "Class field " + classField);
    return true;
  }
  return false;
}

}  // namespace quilta
