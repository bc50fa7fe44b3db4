#pragma once
// Patch-metric fields: double attribute fields that hold one value per patch.

#include <string>

namespace quilta {

class FeatureTable;

// The value of a patch metric that was not computed or has no defined value.
inline constexpr double kNoValue = -999;

// Index of the patch-metric field `name`. A missing field is created as a
// double field without width or precision and preset to -999 on every
// feature (one pass over the table); an existing field is used as it is,
// whatever its type, and keeps its values.
int patchMetricField(FeatureTable& table, const std::string& name);

}  // namespace quilta
