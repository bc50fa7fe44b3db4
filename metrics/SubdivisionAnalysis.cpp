// Subdivision analysis: how finely each selected class is cut into patches.
// Every class is a landscape of its own, its reference area the class area
// CA = sum of its patch areas a:
//   DIVISION = (1 - sum (a / CA)^2) x 100   chance (%) that two random points
//                                            of the class lie in different patches
//   SPLIT    = CA^2 / sum a^2               number of equal patches that would
//                                            give the same division
//   MESH     = sum a^2 / CA                 effective mesh size, an area
// The values of a class do not depend on which other classes are selected.

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

void RunSubdivisionAnalysis(Extension& ext) {
  Workbench& wb = ext.workbench;
  frmDivision& window = ext.results.division;
  runOperation(wb, "Unexpected error!", [&] {
    window.beginRun();
    FeatureTable& table = wb.selectedLayer().featureTable();
    const int area = table.findField("Area");
    if (!hasAreaFields(wb, table, false)) return;
    if (!RunClassSelection(wb)) return markCancelled(wb);

    for (const std::string& value : wb.session.classes()) {
      if (wb.step()) return markCancelled(wb);
      SelectionSet set = requireClass(wb, table, value);

      std::int64_t patches = 0;
      double classArea = 0;
      for (auto cursor = set.search(); auto f = cursor.next();) {
        classArea += f->number(area);
        ++patches;
      }
      if (classArea == 0) throw HostError("class \"" + value + "\" has an area of 0");
      double shareSquares = 0;  // sum of (a / CA)^2
      double areaSquares = 0;   // sum of a^2
      for (auto cursor = set.search(); auto f = cursor.next();) {
        const double a = f->number(area);
        shareSquares += (a / classArea) * (a / classArea);
        areaSquares += a * a;
      }
      const double division = (1 - shareSquares) * 100;
      const double split = std::pow(classArea, 2.0) / areaSquares;
      const double mesh = areaSquares / classArea;
      if (!std::isfinite(division) || !std::isfinite(split) || !std::isfinite(mesh))
        throw HostError("the subdivision of class \"" + value + "\" overflows");

      auto& list = window.lstViewClass;
      const std::size_t row = list.addRow(value);
      list.setSubItem(row, 1, text::count(patches));
      list.setSubItem(row, 2, text::fixed(classArea));
      list.setSubItem(row, 3, text::fixed(division));
      list.setSubItem(row, 4, text::fixed(split));
      list.setSubItem(row, 5, text::fixed(mesh));
    }

    window.txtLayername.text = wb.session.layerName;
    wb.ws.showModal(window);
  });
}

}  // namespace quilta::mod_Quilta_Kartova
