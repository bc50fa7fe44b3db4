#pragma once
// The catalogue over the layers of a map: the whole analysed layer as one
// landscape, or one landscape per region of a region layer, or one per
// sample point and radius of a point layer, and the long table of their
// metrics.

#include <cstdint>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "catalogue/Catalogue.h"

namespace quilta {
class PolygonLayer;
}

namespace quilta::catalogue {

// An input the catalogue refuses (a field the layer lacks, a region value
// twice, a point layer that holds other shapes, ...); the message says what
// to change. Distinct from HostError, which reports a failure to read.
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Metres per map unit for a units code; none for degrees, undefined units
// or units without a known length.
std::optional<double> metresPerUnit(int unitsCode);

struct Survey {
  PolygonLayer* layer = nullptr;
  std::string classField;
  // One landscape per polygon of `regions`, named by its `regionField`.
  PolygonLayer* regions = nullptr;
  std::string regionField;
  // One landscape per point of `points` (named by `pointField`) and radius
  // (metres): the patches within the circle around the point.
  PolygonLayer* points = nullptr;
  std::string pointField;
  std::vector<double> radii;
};

// One line of the long table.
struct TableRow {
  std::string region;           // empty without regions or points
  std::optional<double> radius;  // metres, with points only
  Level level;
  std::string cls;       // the class value as text; empty at landscape level
  std::int64_t id = -1;  // the patch's identifier at patch level
  const std::string* metric = nullptr;
  std::optional<double> value;
};

// The table: sorted by region (in the order of their values, as classes
// are), radius, level, class (the class order: ascending, numeric fields
// numerically), identifier and metric name. Features whose class value is
// NULL or whose shape is empty take no part. Throws InputError for input
// the catalogue refuses, HostError when a layer cannot be read.
std::vector<TableRow> survey(const Survey& survey, const Settings& settings);

enum class Format { Csv, Tsv, Json };

// Writes the table with the columns layer, region, radius, level, class, id,
// metric, value (a header line first in csv and tsv). Numbers are written
// in the shortest form that reads back as the same double; an undefined
// value is an empty field (null in json). Csv quotes fields that hold a
// comma, a quote or a line break; tsv turns tabs and line breaks inside a
// field into blanks.
void writeTable(std::ostream& out, Format format, const std::string& layer, const std::vector<TableRow>& rows);

// The shortest text that reads back as `value`.
std::string numberText(double value);

}  // namespace quilta::catalogue
