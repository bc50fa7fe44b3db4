#include "metrics/Analysis.h"

#include "host/HostError.h"
#include "session/SessionState.h"
#include "ui/Operation.h"
#include "ui/Workbench.h"

namespace quilta {

int patchMetricField(FeatureTable& table, const std::string& name) {
  if (table.findField(name) < 0) {
    table.addField(name, kDouble);
    FieldCalculator::calculate(table, name, "-999");
  }
  return table.findField(name);
}

SelectionSet selectClass(Workbench& wb, FeatureTable& table, const std::string& value) {
  SelectionSet set = table.select(AttributeFilter(ClassClause(wb.session, value)));
  // The operations poll once per patch of the class.
  wb.beginItems(set.count());
  return set;
}

SelectionSet requireClass(Workbench& wb, FeatureTable& table, const std::string& value) {
  SelectionSet set = selectClass(wb, table, value);
  if (set.count() == 0) throw HostError("class \"" + value + "\" has no patches");
  return set;
}

bool hasAreaFields(Workbench& wb, FeatureTable& table, bool needPerimeter) {
  if (table.findField("Area") >= 0 && (!needPerimeter || table.findField("Perimeter") >= 0)) return true;
  refuse(wb, "Please calculate Area and Perimeter!", "No Area/Perimeter field");
  return false;
}

}  // namespace quilta
