// Form analysis: the shape of every patch of the selected classes, from its
// "Perimeter" P and "Area" A, written into the patch's attributes and
// summarised per class and over the selected classes:
//   shape index       SI    = P / (2 sqrt(pi A))   (1 for a circle), A != 0
//   perimeter-area    PARA  = P / A                                   A != 0
//   fractal dimension FRACT = 2 ln P / ln A                           A > 1
// A value without definition is the marker -999. Means count only the patches
// whose value is defined, and the landscape means weigh every patch alike.
// A fractal dimension of 2 or more cannot belong to a plane figure drawn at a
// sensible scale; such patches are listed in a warning.

#include <cmath>
#include <cstdint>
#include <string>

#include "host/FeatureTable.h"
#include "host/HostError.h"
#include "metrics/Extension.h"
#include "metrics/Operations.h"
#include "metrics/WrittenFields.h"
#include "metrics/Analysis.h"
#include "session/NumberText.h"
#include "ui/ClassSelection.h"
#include "ui/Operation.h"

namespace quilta::mod_Quilta_Kartova {
namespace {

// Pi as the shape index has always been computed with (15 digits).
constexpr double kPi = 3.14159265358979;

// Sums of one class or of the landscape.
struct FormSums {
  std::int64_t patches = 0;
  std::int64_t zeroArea = 0;        // patches without SI and PARA
  std::int64_t withoutFractal = 0;  // patches without FRACT
  double shapeIndex = 0, paratio = 0, fractal = 0;

  void add(const FormSums& o) {
    patches += o.patches, zeroArea += o.zeroArea, withoutFractal += o.withoutFractal;
    shapeIndex += o.shapeIndex, paratio += o.paratio, fractal += o.fractal;
  }
  // Mean of a sum over `n` patches as shown: "-999" when no patch counts.
  static std::string mean(double sum, std::int64_t n) {
    return n > 0 ? text::pattern000(sum / static_cast<double>(n)) : "-999";
  }
  std::string meanShapeIndex() const { return mean(shapeIndex, patches - zeroArea); }
  std::string meanParatio() const { return mean(paratio, patches - zeroArea); }
  std::string meanFractal() const { return mean(fractal, patches - withoutFractal); }
};

// The value as written into a field: its "0.000" text, which the attribute
// table reads back as a number (a number field) or keeps (a text field of that
// name made by someone else).
Value written(double value, bool textField) {
  std::string shown = text::pattern000(value);
  if (textField) return shown;
  auto v = text::parse(shown);
  if (!v) throw HostError("the value " + shown + " cannot be written as a number");
  return *v;
}

}  // namespace

void RunFormAnalysis(Extension& ext) {
  Workbench& wb = ext.workbench;
  frmForm& window = ext.results.form;
  runOperation(wb, kShapefileError, [&] {
    window.beginRun();
    FeatureTable& table = wb.selectedLayer().featureTable();
    const int fid = table.findField("FID");
    const int area = table.findField("Area");
    const int perimeter = table.findField("Perimeter");
    if (!hasAreaFields(wb, table, true)) return;
    if (!RunClassSelection(wb)) return markCancelled(wb);
    if (refuseClassFieldWritten(wb, fieldsWrittenBy("cdmshpIx"), operationCaption(wb, "cdmshpIx"))) return;

    const int paratioField = patchMetricField(table, "Paratio");
    const int shapeIndexField = patchMetricField(table, "Shape_Idx");
    const int fractalField = patchMetricField(table, "Frac_Dim");
    auto isText = [&](int field) { return table.field(field).type == kText; };
    const bool paratioText = isText(paratioField), shapeIndexText = isText(shapeIndexField),
               fractalText = isText(fractalField);

    std::string suspicious;  // identifiers of patches with FRACT >= 2, each followed by ';'
    std::int64_t suspiciousCount = 0;
    FormSums landscape;
    for (const std::string& value : wb.session.classes()) {
      if (wb.step()) return markCancelled(wb);
      SelectionSet set = requireClass(wb, table, value);

      FormSums sums;
      for (auto cursor = set.search(); auto f = cursor.next();) {
        const double a = f->number(area);
        if (a < 0) throw HostError("patch " + std::to_string(f->oid()) + " has a negative area");
        double si = kNoValue, para = kNoValue, fract = kNoValue;
        if (a != 0) {
          const double p = f->number(perimeter);
          si = p / (2 * std::pow(kPi * a, 1.0 / 2.0));
          para = p / a;
        }
        if (a > 1) {
          const double p = f->number(perimeter);
          if (p <= 0)
            throw HostError("patch " + std::to_string(f->oid()) + " has an area but a perimeter of " +
                            text::general(p));
          fract = 2 * std::log(p) / std::log(a);
        }
        if (!std::isfinite(si) || !std::isfinite(para) || !std::isfinite(fract))
          throw HostError("the form of patch " + std::to_string(f->oid()) + " overflows");
        if (fract >= 2) {
          if (fid < 0) throw HostError("the table has no field \"FID\" to name suspicious patches");
          suspicious += text::ofValue(f->value(fid)) + ";";
          ++suspiciousCount;
        }
        f->setValue(shapeIndexField, written(si, shapeIndexText));
        f->setValue(paratioField, written(para, paratioText));
        f->setValue(fractalField, written(fract, fractalText));
        f->store();

        ++sums.patches;
        if (a == 0) {
          ++sums.zeroArea;
        } else {
          sums.paratio += para;
          sums.shapeIndex += si;
        }
        if (fract == kNoValue) {
          ++sums.withoutFractal;
        } else {
          sums.fractal += fract;
        }
      }
      landscape.add(sums);

      auto& list = window.lstViewClass;
      const std::size_t row = list.addRow(value);
      list.setSubItem(row, 1, text::count(sums.patches));
      list.setSubItem(row, 2, sums.meanShapeIndex());
      list.setSubItem(row, 3, sums.meanParatio());
      list.setSubItem(row, 4, sums.meanFractal());
    }

    window.txtLayername.text = wb.session.layerName;
    window.txtNP.text = text::count(landscape.patches);
    window.txtMSI.text = landscape.meanShapeIndex();
    window.txtMPAR.text = landscape.meanParatio();
    window.txtMFRACT.text = landscape.meanFractal();
    if (suspiciousCount <= 0) {
      window.txtArtefact.visible = false;
    } else {
      window.txtArtefact.visible = true;
      window.txtArtefact.text =
          "The following patches have a Fractal Dimension >= 2. This may be indicative of\r\n"
          "1) artefacts or sliver polygons\r\n"
          "2) data were captured in a very fine scale (< ~1:1000)\r\n"
          "3) polygons are created by automated processing (e.g. segmentation or classification)\r\n"
          "Patch IDs: " +
          suspicious;
    }
    wb.ws.showModal(window);
  });
}

}  // namespace quilta::mod_Quilta_Kartova
