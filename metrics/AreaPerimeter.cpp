#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/FeatureTable.h"
#include "host/Geometry.h"
#include "host/WorkerPool.h"
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
    const SelectionSet all = table.selectAll();
    const std::vector<std::int64_t>& oids = all.oids();
    const std::vector<Polygon>& shapes = table.shapes();
    wb.arm(table.count());
    const int area = table.findField("Area");
    const int perimeter = table.findField("Perimeter");
    struct Measures {
      double area, perimeter;
    };
    const bool stored = runInOrder(
        wb.threads, oids.size(),
        [&](std::size_t i) {
          const Polygon& shape = shapes.at(static_cast<std::size_t>(oids[i]));
          return Measures{shape.area(), shape.length()};
        },
        [&](std::size_t i, const Measures& m) {
          // One position of the bar per feature.
          wb.main.ProgressBar1.value = ++wb.session.progressCounter;
          if (wb.poll()) return false;
          Feature feature(table, oids[i]);
          feature.setValue(area, m.area);
          feature.setValue(perimeter, m.perimeter);
          feature.store();
          return true;
        },
        [&] { return !wb.idle(); }, 1024);
    if (!stored) return markCancelled(wb);
    wb.message(kCalculationFinished);
  });
}

}  // namespace quilta::mod_Quilta_Kartova
