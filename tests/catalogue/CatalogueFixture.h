#pragma once
// Landscapes written as WKT and the rows the catalogue computes for them,
// looked up by level, class, patch and metric.

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "catalogue/Catalogue.h"

namespace quilta::test {

struct WktPatch {
  std::string wkt;
  int cls;
};

inline catalogue::Landscape landscapeOf(const std::vector<WktPatch>& patches, int classes) {
  catalogue::Landscape land;
  land.classes = classes;
  std::int64_t id = 0;
  for (const auto& p : patches) land.patches.push_back({id++, p.cls, Polygon::fromWkt(p.wkt)});
  return land;
}

// (level, class, id, metric) -> value.
using RowKey = std::tuple<catalogue::Level, int, std::int64_t, std::string>;
using RowMap = std::map<RowKey, std::optional<double>>;

inline RowMap rowMap(const std::vector<catalogue::Row>& rows) {
  RowMap out;
  for (const auto& r : rows) out[{r.level, r.cls, r.id, *r.metric}] = r.value;
  return out;
}

inline catalogue::Settings allLevels() {
  catalogue::Settings s;
  s.levels = {catalogue::Level::Patch, catalogue::Level::Class, catalogue::Level::Landscape};
  return s;
}

}  // namespace quilta::test
