#pragma once
// Writing test fixtures through the vector library: the fields and features
// of a layer being made. Shared by the shapefile and GeoPackage helpers.

#include <ogrsf_frmts.h>

#include <string>
#include <vector>

#include "host/Value.h"
#include "tests/support/Fixtures.h"

namespace quilta::test {

// Creates `fields` in `layer`; throws std::runtime_error on failure.
void createFields(OGRLayer& layer, const std::vector<FieldDef>& fields);
// Appends one feature of `values` (in field order) and the shape `wkt`
// (empty: none), under the key `key` (OGRNullFID: the next one).
void createFeature(OGRLayer& layer, const std::vector<Value>& values, const std::string& wkt,
                   GIntBig key = OGRNullFID);

}  // namespace quilta::test
