// Area analysis: how the area of every selected class is divided into
// patches. A patch's area is its "Area" value (square map units); a class's
// values come from its patches only, the landscape's from the patches of all
// selected classes together.

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

void RunAreaAnalysis(Extension& ext) {
  Workbench& wb = ext.workbench;
  frmArea& window = ext.results.area;
  runOperation(wb, kShapefileError, [&] {
    window.beginRun();
    FeatureTable& table = wb.selectedLayer().featureTable();
    const int area = table.findField("Area");
    if (!hasAreaFields(wb, table, true)) return;
    if (!RunClassSelection(wb)) return markCancelled(wb);

    double totalArea = 0;
    std::int64_t totalPatches = 0;
    for (const std::string& value : wb.session.classes()) {
      if (wb.step()) return markCancelled(wb);
      SelectionSet set = requireClass(wb, table, value);

      std::int64_t patches = 0;
      double classArea = 0;
      for (auto cursor = set.search(); auto f = cursor.next();) {
        const double a = f->number(area);
        classArea += a;
        totalArea += a;
        ++patches;
      }
      const double meanSize = classArea / static_cast<double>(patches);
      // Population standard deviation (divisor NP), summed around the class
      // mean in a second pass.
      double squares = 0;
      for (auto cursor = set.search(); auto f = cursor.next();) {
        const double d = f->number(area) - meanSize;
        squares += d * d;
      }
      const double deviation = std::pow(squares / static_cast<double>(patches), 1.0 / 2.0);
      if (!std::isfinite(classArea) || !std::isfinite(deviation))
        throw HostError("the areas of class \"" + value + "\" overflow");

      auto& list = window.lstViewClass;
      const std::size_t row = list.addRow(value);
      list.setSubItem(row, 1, text::count(patches));
      list.setSubItem(row, 2, text::fixed(classArea));
      list.setSubItem(row, 3, text::fixed(meanSize));
      totalPatches += patches;
      list.setSubItem(row, 4, text::fixed(deviation));
    }
    if (!std::isfinite(totalArea)) throw HostError("the total area of the selected classes overflows");

    window.txtTotalArea.text = text::fixed(totalArea);
    window.txtTotalPatches.text = text::count(totalPatches);
    window.txtLayername.text = wb.session.layerName;
    wb.ws.showModal(window);
  });
}

}  // namespace quilta::mod_Quilta_Kartova
