// Dissolve ID: numbers the groups of connected patches of each selected class
// in the field "DissolveID", so that the host's dissolve tool can merge every
// group into one polygon. Two patches of a class are connected when their
// polygons touch (a single common corner point is enough) or overlap, directly
// or through a chain of patches of that class; patches of other classes never
// connect them. The groups are the connected components of that relation.
//
// Numbers start at 1 and run on over all classes of the run without gaps: the
// classes in their selected order, and within a class the groups in the order
// of their first patch (lowest object identifier) still unnumbered. 0 marks a
// patch that was not numbered (its class was not selected). A patch with a
// null or empty shape touches nothing and is a group of its own.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/FeatureTable.h"
#include "host/PolygonLayer.h"
#include "host/SpatialIndex.h"
#include "metrics/Analysis.h"
#include "metrics/Extension.h"
#include "metrics/Operations.h"
#include "metrics/WrittenFields.h"
#include "ui/ClassSelection.h"
#include "ui/Operation.h"

namespace quilta::Dissolve_ID {
namespace {

constexpr const char* kField = "DissolveID";

// The members of each group, grouped by the group's lowest member and in
// ascending order within a group: members of group r are
// members[first[r] .. first[r+1]).
struct Groups {
  std::vector<std::size_t> first;
  std::vector<std::size_t> members;

  explicit Groups(const std::vector<std::size_t>& groupOf) : first(groupOf.size() + 1, 0), members(groupOf.size()) {
    for (std::size_t g : groupOf) ++first[g + 1];
    for (std::size_t r = 0; r < groupOf.size(); ++r) first[r + 1] += first[r];
    std::vector<std::size_t> next(first.begin(), first.end() - 1);
    for (std::size_t m = 0; m < groupOf.size(); ++m) members[next[groupOf[m]]++] = m;
  }
};

}  // namespace

void RunDissolveID(Extension& ext) {
  Workbench& wb = ext.workbench;
  if (wb.message("Calculates a unique ID for adjacent patches of the same class. Use Toolbox to dissolve theme based "
                 "on this ID. Attention, may take a long time!",
                 kComponentTitle, Buttons::OKCancel) != Answer::OK)
    return markCancelled(wb);

  runOperation(wb, kShapefileError, [&] {
    PolygonLayer& layer = wb.selectedLayer();
    FeatureTable& table = layer.featureTable();
    readShapesFirst(table);
    double next = 1;
    if (!RunClassSelection(wb)) return markCancelled(wb);
    if (refuseClassFieldWritten(wb, fieldsWrittenBy("cmdDissolveID"), operationCaption(wb, "cmdDissolveID"))) return;

    // Always a fresh field: numbers of an earlier run must not survive in
    // classes this run does not select. It reads 0 (unnumbered) everywhere.
    if (const int old = table.findField(kField); old >= 0) table.deleteField(old);
    table.addField(kField, kDouble, 0, 0, 0.0);
    const int field = table.findField(kField);

    for (const std::string& value : wb.session.classes()) {
      if (wb.step()) return markCancelled(wb);
      const SelectionSet set = selectClass(wb, table, value);
      const std::vector<std::int64_t>& oids = set.oids();
      const SpatialIndex index(table, oids);
      auto groupOf = index.components([&] { return wb.poll(); }, wb.threads, [&] { return wb.idle(); });
      if (!groupOf) return markCancelled(wb);
      const Groups groups(*groupOf);

      for (std::size_t m = 0; m < oids.size(); ++m) {
        if (wb.poll()) return markCancelled(wb);
        // Numbered already: by its own group earlier in this class, or (a
        // patch that belongs to two selected classes) by an earlier class.
        if (Feature(table, oids[m]).number(field) != 0) continue;
        const std::size_t root = (*groupOf)[m];
        std::vector<std::int64_t> selected;
        for (std::size_t i = groups.first[root]; i < groups.first[root + 1]; ++i) {
          Feature patch(table, oids[groups.members[i]]);
          patch.setValue(field, next);
          patch.store();
          selected.push_back(patch.oid());
        }
        // The layer's selection shows the group just numbered.
        layer.selection().replace(std::move(selected));
        next += 1;
      }
    }
    wb.message(kCalculationFinished);
  });
}

}  // namespace quilta::Dissolve_ID
