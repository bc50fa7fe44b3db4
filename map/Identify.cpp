#include "map/Identify.h"

#include <cmath>

#include "host/FeatureTable.h"
#include "map/Classification.h"
#include "session/NumberText.h"

namespace quilta::map {
PatchFinder::PatchFinder(FeatureTable& table)
    : oids_(table.selectAll().oids()), index_(table, oids_) {}

std::optional<std::int64_t> PatchFinder::patchAt(double x, double y) const {
  index_.containing(x, y, hits_);
  if (hits_.empty()) return std::nullopt;
  return oids_[hits_.back()];
}

std::vector<Attribute> attributesOf(FeatureTable& table, std::int64_t oid) {
  std::vector<Attribute> out;
  for (int f = 0; f < table.fieldCount(); ++f) {
    const FieldInfo info = table.field(f);
    if (f == 1) {
      out.push_back(Attribute{info.name, "Polygon"});
      continue;
    }
    const Value v = table.value(oid, f);
    const bool noValue = isNull(v) || (isNumericField(info.type) && isNoValue(v));
    out.push_back(Attribute{info.name, text::ofValue(v), noValue});
  }
  return out;
}

std::optional<NeighbourLink> recordedNeighbour(FeatureTable& table, std::int64_t oid) {
  const int idField = table.findField("NNId");
  if (idField < 2) return std::nullopt;
  const Value id = table.value(oid, idField);
  const auto n = numericValue(id);
  if (!n || isNoValue(id) || std::nearbyint(*n) != *n) return std::nullopt;
  // A patch alone in its class keeps "NNId" 0 beside the marker in "NNDist".
  if (const int distField = table.findField("NNDist"); distField >= 2 && isNoValue(table.value(oid, distField)))
    return std::nullopt;
  const auto neighbour = static_cast<std::int64_t>(*n);
  const auto& shapes = table.shapes();
  if (neighbour == oid || neighbour < 0 || neighbour >= static_cast<std::int64_t>(shapes.size())) return std::nullopt;
  const Polygon& a = table.shape(oid);
  const Polygon& b = table.shape(neighbour);
  if (a.isEmpty() || b.isEmpty()) return std::nullopt;
  const auto [p, q] = a.nearestPoints(b);
  NeighbourLink link;
  link.oid = neighbour;
  link.from = Point{p.first, p.second};
  link.to = Point{q.first, q.second};
  link.length = std::hypot(q.first - p.first, q.second - p.second);
  return link;
}

std::optional<Identification> identify(FeatureTable& table, const PatchFinder& finder, double x, double y) {
  const auto oid = finder.patchAt(x, y);
  if (!oid) return std::nullopt;
  Identification out;
  out.oid = *oid;
  out.attributes = attributesOf(table, *oid);
  out.neighbour = recordedNeighbour(table, *oid);
  return out;
}

}  // namespace quilta::map
