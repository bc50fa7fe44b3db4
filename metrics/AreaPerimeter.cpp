#include "host/FeatureTable.h"
#include "metrics/Analysis.h"
#include "metrics/Extension.h"
#include "metrics/Operations.h"
#include "ui/Operation.h"

namespace quilta::mod_Quilta_Kartova {

void RunAreaPerimeter(Extension& ext) {
  Workbench& wb = ext.workbench;
  runOperation(wb, kShapefileError, [&] {
    FeatureTable& table = wb.selectedLayer().featureTable();
    readShapesFirst(table);
    if (table.findField("Area") < 0) table.addField("Area", kDouble);
    if (table.findField("Perimeter") < 0) table.addField("Perimeter", kDouble);
    auto cursor = table.search();
    wb.arm(table.count());
    const int area = table.findField("Area");
    const int perimeter = table.findField("Perimeter");
    while (auto feature = cursor.next()) {
      wb.main.ProgressBar1.value = ++wb.session.progressCounter;
      if (wb.poll()) return markCancelled(wb);
      const Polygon& shape = feature->shape();
      feature->setValue(area, shape.area());
      feature->setValue(perimeter, shape.length());
      feature->store();
    }
    wb.message(kCalculationFinished);
  });
}

}  // namespace quilta::mod_Quilta_Kartova
