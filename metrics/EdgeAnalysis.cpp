// Edge analysis: the edge of a class is the plain sum of its patches'
// "Perimeter" values (map units). Edges are not matched between patches: a
// boundary shared by two patches counts for both, and the outer boundary of
// the layer counts too. Edge density relates the total edge to the total area
// of the selected classes, per hectare when the map units are metres.

#include <cmath>
#include <cstdint>

#include "host/FeatureTable.h"
#include "host/HostError.h"
#include "metrics/Analysis.h"
#include "metrics/Extension.h"
#include "metrics/Operations.h"
#include "session/NumberText.h"
#include "ui/ClassSelection.h"
#include "ui/Operation.h"

namespace quilta::mod_Quilta_Kartova {

void RunEdgeAnalysis(Extension& ext) {
  Workbench& wb = ext.workbench;
  frmEdges& window = ext.results.edges;
  runOperation(wb, kShapefileError, [&] {
    window.beginRun();
    FeatureTable& table = wb.selectedLayer().featureTable();
    const int area = table.findField("Area");
    const int perimeter = table.findField("Perimeter");
    if (!hasAreaFields(wb, table, true)) return;
    if (!RunClassSelection(wb)) return markCancelled(wb);

    std::int64_t totalPatches = 0;
    double totalEdge = 0;
    double totalArea = 0;
    for (const std::string& value : wb.session.classes()) {
      if (wb.step()) return markCancelled(wb);
      SelectionSet set = requireClass(wb, table, value);

      std::int64_t patches = 0;
      double edge = 0;
      for (auto cursor = set.search(); auto f = cursor.next();) {
        const double p = f->number(perimeter);
        edge += p;
        totalEdge += p;
        totalArea += f->number(area);
        ++totalPatches;
        ++patches;
      }
      if (!std::isfinite(edge)) throw HostError("the perimeters of class \"" + value + "\" overflow");

      auto& list = window.lstViewClass;
      const std::size_t row = list.addRow(value);
      list.setSubItem(row, 1, text::count(patches));
      list.setSubItem(row, 2, text::fixed(edge));
      list.setSubItem(row, 3, text::fixed(edge / static_cast<double>(patches)));
    }
    if (totalArea == 0) throw HostError("the selected classes have a total area of 0");
    const double density = totalEdge / totalArea * 10000;
    if (!std::isfinite(totalArea) || !std::isfinite(density))
      throw HostError("the edge density of the selected classes overflows");

    window.txtED.text = text::fixed(density);
    window.txtTE.text = text::fixed(totalEdge);
    window.txtMPE.text = text::fixed(totalEdge / static_cast<double>(totalPatches));
    window.txtLayername.text = wb.session.layerName;
    wb.ws.showModal(window);
  });
}

}  // namespace quilta::mod_Quilta_Kartova
