#include "metrics/PatchField.h"

#include "host/FeatureTable.h"

namespace quilta {

int patchMetricField(FeatureTable& table, const std::string& name) {
  if (table.findField(name) < 0) {
    table.addField(name, kDouble);
    FieldCalculator::calculate(table, name, "-999");
  }
  return table.findField(name);
}

}  // namespace quilta
