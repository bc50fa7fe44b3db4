// Diversity analysis: the composition of the landscape made of the selected
// classes. With S classes, class shares p = CA / TA of the total area TA and
// H = sum of p ln p (natural logarithms, H <= 0):
//   richness            S
//   relative richness   S / potential richness x 100
//   Shannon's diversity -H
//   Shannon's evenness  -H / ln S   (none for a single class)
//   dominance           ln S + H    (how far the diversity stays below ln S)

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

void RunDiversityAnalysis(Extension& ext) {
  Workbench& wb = ext.workbench;
  frmDiversity& window = ext.results.diversity;
  runOperation(wb, "Unexpected error!", [&] {
    window.beginRun();
    FeatureTable& table = wb.selectedLayer().featureTable();
    const int area = table.findField("Area");
    if (!hasAreaFields(wb, table, false)) return;
    if (!RunClassSelection(wb)) return markCancelled(wb);

    const std::vector<std::string>& classes = wb.session.classes();
    const auto richness = static_cast<std::int64_t>(classes.size());
    const std::string richnessText = text::count(richness);
    const std::string prompt =
        "Specify maximum possible number of different patch types in the area! (number: " + richnessText + ")";
    auto answer = wb.ws.inputBox(InputBox{prompt, " Potential Richness", richnessText});
    if (!answer || answer->empty()) return markCancelled(wb);
    const std::optional<double> potential = text::parse(*answer);
    if (!potential) throw HostError("the potential richness \"" + *answer + "\" is not a number");
    if (*potential < static_cast<double>(richness)) {
      wb.session.lastOutcome = Outcome::Refused;
      wb.message("Value must be higher than or equal " + richnessText);
      return;
    }

    double totalArea = 0;
    for (const std::string& value : classes) {
      SelectionSet set = requireClass(wb, table, value);
      for (auto cursor = set.search(); auto f = cursor.next();) totalArea += f->number(area);
    }
    if (totalArea == 0) throw HostError("the selected classes have a total area of 0");
    if (!std::isfinite(totalArea)) throw HostError("the total area of the selected classes overflows");

    double h = 0;
    for (const std::string& value : classes) {
      if (wb.step()) return markCancelled(wb);
      SelectionSet set = requireClass(wb, table, value);
      std::int64_t patches = 0;
      double classArea = 0;
      for (auto cursor = set.search(); auto f = cursor.next();) {
        classArea += f->number(area);
        ++patches;
      }
      const double share = classArea / totalArea;
      if (!(share > 0))
        throw HostError("class \"" + value + "\" has an area of " + text::general(classArea) +
                        ", which leaves its share of the landscape without a logarithm");
      h += share * std::log(share);

      auto& list = window.lstViewClass;
      const std::size_t row = list.addRow(value);
      list.setSubItem(row, 1, text::count(patches));
      list.setSubItem(row, 2, text::fixed(classArea));
      list.setSubItem(row, 3, text::fixed(classArea / totalArea * 100));
    }
    if (!std::isfinite(h)) throw HostError("the diversity of the selected classes overflows");

    const double lnS = std::log(static_cast<double>(richness));
    window.txtLayername.text = wb.session.layerName;
    window.txtDiversity.text = text::pattern000(-h);
    window.txtRichness.text = richnessText;
    window.txtRelRichness.text = text::pattern00(static_cast<double>(richness) / *potential * 100);
    window.txtEvenness.text = lnS == 0 ? "-" : text::pattern000(-h / lnS);
    window.txtDominance.text = text::pattern000(lnS + h);
    window.txtClassespot.text = text::general(*potential);
    wb.ws.showModal(window);
  });
}

}  // namespace quilta::mod_Quilta_Kartova
