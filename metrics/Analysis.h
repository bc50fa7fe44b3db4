#pragma once
// Steps the operations share: patch-metric fields, the patches of a class and
// the check for the area and perimeter fields.

#include <cstddef>
#include <string>
#include <utility>

#include "host/FeatureTable.h"
#include "host/WorkerPool.h"
#include "ui/Workbench.h"

namespace quilta {

// The value of a patch metric that was not computed or has no defined value.
inline constexpr double kNoValue = -999;

// Index of the patch-metric field `name`. A missing field is created as a
// double field without width or precision and preset to -999 on every
// feature (one pass over the table); an existing field is used as it is,
// whatever its type, and keeps its values.
int patchMetricField(FeatureTable& table, const std::string& name);

// The patches of the class `value` of the session's class field; they are
// the items of the workbench's current progress step.
SelectionSet selectClass(Workbench& wb, FeatureTable& table, const std::string& value);
// The same for statistics, which are undefined for a class without patches:
// such a class fails the run (HostError).
SelectionSet requireClass(Workbench& wb, FeatureTable& table, const std::string& value);

// Reads every shape of the layer now (they stay in memory), so that a damaged
// shape file fails the run before anything is written.
inline void readShapesFirst(FeatureTable& table) { table.shapes(); }

// The per-patch loop of an operation on the workbench's threads: computes
// `compute(i)` for i in [0, count) on worker threads (it may only read shapes
// and indexes, never the table or the window system) and hands the results to
// `store(i, result)` on this thread in ascending i, polling once per item
// before storing it, as a loop on one thread polls once per patch. False when
// the user cancelled: what was stored stays stored, nothing after it is.
template <class Compute, class Store>
bool computeInOrder(Workbench& wb, std::size_t count, Compute&& compute, Store&& store, std::size_t chunk = 256) {
  return runInOrder(
      wb.threads, count, std::forward<Compute>(compute),
      [&](std::size_t i, auto&& result) {
        if (wb.poll()) return false;
        store(i, std::move(result));
        return true;
      },
      [&] { return !wb.idle(); }, chunk);
}

// False, after the "No Area/Perimeter field" warning, when the table lacks
// "Area" or, if `needPerimeter`, "Perimeter".
bool hasAreaFields(Workbench& wb, FeatureTable& table, bool needPerimeter);

}  // namespace quilta
