#pragma once
// Steps the operations share: patch-metric fields, the patches of a class and
// the check for the area and perimeter fields.

#include <string>

#include "host/FeatureTable.h"

namespace quilta {

class Workbench;

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

// False, after the "No Area/Perimeter field" warning, when the table lacks
// "Area" or, if `needPerimeter`, "Perimeter".
bool hasAreaFields(Workbench& wb, FeatureTable& table, bool needPerimeter);

}  // namespace quilta
