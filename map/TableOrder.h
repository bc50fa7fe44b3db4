#pragma once
// The order of an attribute table's rows when the user sorts it by a column.

#include <cstdint>
#include <vector>

namespace quilta {
class FeatureTable;
}

namespace quilta::map {

// Every feature of `table` once, ordered by the values of field `field` (in
// host order: 0 is "FID"): empty values first, then numbers by value, then
// texts by their bytes; descending reverses that order. Features with equal
// values stay in ascending identifier order either way. The shape field
// gives identifier order. Throws HostError for a field the table lacks.
std::vector<std::int64_t> sortedByField(FeatureTable& table, int field, bool ascending);

}  // namespace quilta::map
