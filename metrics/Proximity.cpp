// Proximity indices of the patches of the selected classes, each written into
// a field named by a prefix and a suffix the user gives (normally the buffer
// distance as typed):
//   PX92  "PX92_"  NN_Area / NNDist of the patch itself when
//                  0 < NNDist <= buffer, else 0 (from the nearest-neighbour
//                  fields, no geometry measured);
//   PX94  "PX94_"  sum of Area(G) / NNDist(G) over the patches G of the class
//                  within the buffer distance of the patch, itself included,
//                  whose NNDist is above 0;
//   fragstats "PXfg_"  sum of a(G) / d(P,G)^2 over the other patches G of the
//                  class within the buffer distance of P (d > 0; a patch that
//                  touches or overlaps P adds nothing), areas and distances
//                  measured on the polygons; summarised per class and over the
//                  landscape in frmProximity.
// "Within the buffer distance" is the exact distance between the two polygons,
// at most the buffer. A patch with a null or empty shape cannot be measured:
// it is never within reach of another, and PX94 and fragstats give it -999;
// fragstats leaves it out of the patch counts and means (a mean over no
// measured patch shows -999).

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/FeatureTable.h"
#include "host/HostError.h"
#include "host/PolygonLayer.h"
#include "host/SpatialIndex.h"
#include "metrics/Extension.h"
#include "metrics/Operations.h"
#include "metrics/WrittenFields.h"
#include "metrics/Analysis.h"
#include "session/NumberText.h"
#include "ui/ClassSelection.h"
#include "ui/Operation.h"

namespace quilta::mod_Quilta_Kartova {
namespace {

// Characters of a UTF-8 text (not bytes).
std::size_t characters(const std::string& text) {
  std::size_t n = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

// `value` rounded to a whole number, a half going to the even neighbour.
double roundHalfEven(double value) {
  const double down = std::floor(value);
  const double fraction = value - down;
  if (fraction < 0.5) return down;
  if (fraction > 0.5) return down + 1;
  return std::fmod(down, 2.0) == 0 ? down : down + 1;
}

struct ProximitySetting {
  double buffer = 0;
  std::string fieldName;
};

// Asks for the buffer distance and the field suffix. None when the user gave
// no buffer (the run then ends without a message). Throws HostError when the
// answer is not a number.
std::optional<ProximitySetting> askProximitySetting(Workbench& wb, const std::string& prefix) {
  PolygonLayer& layer = wb.selectedLayer();
  const double width = layer.extentWidth(), height = layer.extentHeight();
  const double defaultBuffer = roundHalfEven(height > width ? height : width);
  auto answer = wb.ws.inputBox(InputBox{"Enter Proximity Buffer in Distance Units (default value: maximum extent)!",
                                        "Proximity Buffer", text::general(defaultBuffer)});
  if (!answer || answer->empty()) return std::nullopt;
  auto buffer = text::parse(*answer);
  if (!buffer) throw HostError("the buffer \"" + *answer + "\" is not a number");
  std::string suffix = *answer;
  while (characters(suffix) >= 6) {
    auto again = wb.ws.inputBox(InputBox{
        "Proximity field name in attribute table too long, please enter new field name (< 6 characters):", "PX", ""});
    suffix = again.value_or("");
  }
  return ProximitySetting{*buffer, prefix + suffix};
}

// A mean as shown; "-999" when no patch could be measured.
std::string meanText(double sum, double patches, std::string (*format)(double)) {
  return patches > 0 ? format(sum / patches) : "-999";
}

bool nearestNeighbourFieldsMissing(FeatureTable& table) {
  return table.findField("NNDist") < 0 || table.findField("NNId") < 0 || table.findField("NN_Area") < 0;
}

void refuseWithoutNearestNeighbour(Workbench& wb) { refuse(wb, "Please perform Nearest Neighbour Analysis!", "No NN"); }

// A number for every member of one class (an attribute, a measure), taken on
// this thread before the workers start. A value that cannot be taken fails
// the run only if it is used: at() then throws what taking it threw.
class MemberValues {
 public:
  template <class Take>
  MemberValues(std::size_t members, Take&& take) : values_(members), errors_(members) {
    for (std::size_t m = 0; m < members; ++m) {
      try {
        values_[m] = take(m);
      } catch (const std::exception& e) {
        errors_[m] = e.what();
      }
    }
  }
  // The attribute `field` of the members.
  MemberValues(FeatureTable& table, const std::vector<std::int64_t>& oids, int field)
      : MemberValues(oids.size(), [&](std::size_t m) { return Feature(table, oids[m]).number(field); }) {}
  // Safe from several threads at once.
  double at(std::size_t member) const {
    if (errors_[member]) throw HostError(*errors_[member]);
    return values_[member];
  }

 private:
  std::vector<double> values_;
  std::vector<std::optional<std::string>> errors_;
};

}  // namespace

void RunProximityPX92(Extension& ext) {
  Workbench& wb = ext.workbench;
  runOperation(wb, kShapefileError, [&] {
    FeatureTable& table = wb.selectedLayer().featureTable();
    if (nearestNeighbourFieldsMissing(table)) return refuseWithoutNearestNeighbour(wb);
    if (!RunClassSelection(wb)) return markCancelled(wb);
    auto setting = askProximitySetting(wb, "PX92_");
    if (!setting) return markCancelled(wb);
    if (refuseClassFieldWritten(wb, {setting->fieldName}, operationCaption(wb, "cmdPX"))) return;
    const int field = patchMetricField(table, setting->fieldName);
    const int distanceField = table.findField("NNDist");
    const int areaField = table.findField("NN_Area");

    for (const std::string& value : wb.session.classes()) {
      if (wb.step()) return markCancelled(wb);
      const SelectionSet set = selectClass(wb, table, value);
      for (auto cursor = set.search(); auto patch = cursor.next();) {
        if (wb.poll()) return markCancelled(wb);
        const double d = patch->number(distanceField);
        const double a = patch->number(areaField);
        patch->setValue(field, d > 0 && d <= setting->buffer ? a / d : 0.0);
        patch->store();
      }
    }
    wb.message(kCalculationFinished);
  });
}

void RunProximityPX94(Extension& ext) {
  Workbench& wb = ext.workbench;
  runOperation(wb, kShapefileError, [&] {
    FeatureTable& table = wb.selectedLayer().featureTable();
    readShapesFirst(table);
    if (nearestNeighbourFieldsMissing(table)) return refuseWithoutNearestNeighbour(wb);
    if (table.findField("Area") < 0) return refuse(wb, "Please calculate Area!", "No Area field");
    if (!RunClassSelection(wb)) return markCancelled(wb);
    auto setting = askProximitySetting(wb, "PX94_");
    if (!setting) return markCancelled(wb);
    if (refuseClassFieldWritten(wb, {setting->fieldName}, operationCaption(wb, "cmdPX94"))) return;
    const int field = patchMetricField(table, setting->fieldName);
    const int distanceField = table.findField("NNDist");
    const int areaField = table.findField("Area");

    for (const std::string& value : wb.session.classes()) {
      if (wb.step()) return markCancelled(wb);
      const SelectionSet set = selectClass(wb, table, value);
      const std::vector<std::int64_t>& oids = set.oids();
      const SpatialIndex index(table, oids);
      const MemberValues nnDistance(table, oids, distanceField), area(table, oids, areaField);
      const bool stored = computeInOrder(
          wb, oids.size(),
          [&](std::size_t m) {
            if (!index.measurable(m)) return kNoValue;
            thread_local std::vector<std::size_t> reach;
            index.withinDistance(m, setting->buffer, reach);
            double sum = 0;
            for (std::size_t g : reach)
              if (const double d = nnDistance.at(g); d > 0) sum += area.at(g) / d;
            return sum;
          },
          [&](std::size_t m, double sum) {
            Feature patch(table, oids[m]);
            patch.setValue(field, sum);
            patch.store();
          },
          64);
      if (!stored) return markCancelled(wb);
    }
    wb.message(kCalculationFinished);
  });
}

void RunProximityFragstats(Extension& ext) {
  Workbench& wb = ext.workbench;
  frmProximity& window = ext.results.proximity;
  runOperation(wb, kShapefileError, [&] {
    window.beginRun();
    PolygonLayer& layer = wb.selectedLayer();
    FeatureTable& table = layer.featureTable();
    readShapesFirst(table);
    if (!RunClassSelection(wb)) return markCancelled(wb);
    auto setting = askProximitySetting(wb, "PXfg_");
    if (!setting) return markCancelled(wb);
    if (refuseClassFieldWritten(wb, {setting->fieldName}, operationCaption(wb, "cmdPXfrag"))) return;
    const int field = patchMetricField(table, setting->fieldName);

    double landscapeSum = 0, landscapePatches = 0;
    for (const std::string& value : wb.session.classes()) {
      if (wb.step()) return markCancelled(wb);
      const SelectionSet set = selectClass(wb, table, value);
      const std::vector<std::int64_t>& oids = set.oids();
      const SpatialIndex index(table, oids);
      const MemberValues areas(oids.size(), [&](std::size_t m) {
        return index.measurable(m) ? table.shape(oids[m]).area() : 0.0;
      });
      struct Reach {
        std::vector<std::int64_t> selected;  // the patch's candidates
        bool measurable = false;
        double sum = 0;
      };
      double classSum = 0, classPatches = 0;
      const bool stored = computeInOrder(
          wb, oids.size(),
          [&](std::size_t m) {
            thread_local std::vector<SpatialIndex::Neighbour> candidates;
            Reach reach;
            index.withinDistance(m, setting->buffer, candidates);
            reach.selected.reserve(candidates.size());
            for (const auto& c : candidates) reach.selected.push_back(oids[c.member]);
            reach.measurable = index.measurable(m);
            if (!reach.measurable) return reach;
            for (const auto& c : candidates) {
              if (c.member == m || !(c.distance > 0)) continue;
              reach.sum += areas.at(c.member) / c.distance / c.distance;
            }
            return reach;
          },
          [&](std::size_t m, Reach&& reach) {
            Feature patch(table, oids[m]);
            // The layer's selection shows the patch and its candidates.
            layer.selection().replace(std::move(reach.selected));
            if (!reach.measurable) {
              patch.setValue(field, kNoValue);
              patch.store();
              return;
            }
            patch.setValue(field, reach.sum);
            patch.store();
            classSum += reach.sum, landscapeSum += reach.sum;
            classPatches += 1, landscapePatches += 1;
          },
          64);
      if (!stored) return markCancelled(wb);
      if (oids.empty()) throw HostError("the class \"" + value + "\" has no patches");
      const std::size_t row = window.lstViewClass.addRow(value);
      window.lstViewClass.setSubItem(row, 1, text::general(classPatches));
      window.lstViewClass.setSubItem(row, 2, meanText(classSum, classPatches, text::fixed));
    }
    window.txtLayername.text = wb.session.layerName;
    window.txtProximity.text = meanText(landscapeSum, landscapePatches, text::pattern00);
    wb.ws.showModal(window);
  });
}

}  // namespace quilta::mod_Quilta_Kartova
