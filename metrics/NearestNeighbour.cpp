// Nearest-neighbour analysis: for every patch of the selected classes, the
// closest other patch of the same class, written into the patch as
//   "NNDist"   shortest distance between the two polygons (map units; 0 when
//              they touch or overlap),
//   "NNId"     the neighbour's object identifier,
//   "NN_Area"  the area of the neighbour's polygon (square map units).
// Of several neighbours at the same distance the one with the lowest object
// identifier wins, as a pairwise search in cursor order would decide.
// A patch without a neighbour (alone in its class, or with a null or empty
// shape, which cannot be measured) gets "NNId" 0 and the marker -999 in the
// two measured fields.

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/FeatureTable.h"
#include "host/Geometry.h"
#include "host/SpatialIndex.h"
#include "metrics/Extension.h"
#include "metrics/Operations.h"
#include "metrics/Analysis.h"
#include "metrics/WrittenFields.h"
#include "ui/ClassSelection.h"
#include "ui/Operation.h"

namespace quilta::mod_Quilta_Kartova {
void RunNearestNeighbourAnalysis(Extension& ext) {
  Workbench& wb = ext.workbench;
  runOperation(wb, kShapefileError, [&] {
    FeatureTable& table = wb.selectedLayer().featureTable();
    readShapesFirst(table);
    if (!RunClassSelection(wb)) return markCancelled(wb);
    if (refuseClassFieldWritten(wb, fieldsWrittenBy("cmdClasses"), operationCaption(wb, "cmdClasses"))) return;

    const int distanceField = patchMetricField(table, "NNDist");
    const int idField = patchMetricField(table, "NNId");
    const int areaField = patchMetricField(table, "NN_Area");

    for (const std::string& value : wb.session.classes()) {
      if (wb.step()) return markCancelled(wb);
      const SelectionSet set = selectClass(wb, table, value);
      const std::vector<std::int64_t>& oids = set.oids();
      const SpatialIndex index(table, oids);
      const std::vector<Polygon>& shapes = table.shapes();
      struct Found {
        bool any = false;
        std::int64_t id = 0;
        double distance = kNoValue, area = kNoValue;
      };
      const bool stored = computeInOrder(
          wb, oids.size(),
          [&](std::size_t m) {
            Found found;
            if (auto neighbour = index.nearest(m)) {
              found.any = true;
              found.id = oids[neighbour->member];
              found.distance = neighbour->distance;
              found.area = shapes[static_cast<std::size_t>(found.id)].area();
            }
            return found;
          },
          [&](std::size_t m, const Found& found) {
            Feature patch(table, oids[m]);
            patch.setValue(idField, static_cast<double>(found.id));
            if (!found.any && oids.size() == 1) wb.message("There is only one patch in the class: " + value);
            patch.setValue(distanceField, found.distance);
            patch.setValue(areaField, found.area);
            patch.store();
          });
      if (!stored) return markCancelled(wb);
    }
    wb.message(kCalculationFinished);
  });
}

}  // namespace quilta::mod_Quilta_Kartova
