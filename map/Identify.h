#pragma once
// Identify: which patch of a layer lies under a point of the map, what its
// attributes hold, and which patch the nearest-neighbour analysis recorded as
// its nearest neighbour.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/SpatialIndex.h"
#include "map/Viewport.h"

namespace quilta {
class FeatureTable;
}

namespace quilta::map {

// The shapes of every feature of one table, indexed for point queries. The
// table and its shapes must outlive the finder.
class PatchFinder {
 public:
  explicit PatchFinder(FeatureTable& table);
  // The patch that holds the point (x, y) in map coordinates: inside one of
  // its parts or on its boundary, not in one of its holes. Of several (a
  // shared boundary, overlapping patches) the one drawn last, which is the
  // highest object identifier. None when no patch holds the point.
  std::optional<std::int64_t> patchAt(double x, double y) const;

 private:
  std::vector<std::int64_t> oids_;  // member -> object identifier
  SpatialIndex index_;
  mutable std::vector<std::size_t> hits_;
};

// One attribute of a feature as the attribute table shows it.
struct Attribute {
  std::string field;
  std::string text;
  bool noValue = false;  // empty, or the marker -999 in a numeric field
};
// Every field of the feature in host order: "FID", "Shape" (shown as
// "Polygon"), then the attribute fields.
std::vector<Attribute> attributesOf(FeatureTable& table, std::int64_t oid);

// The recorded nearest neighbour of a patch, with the shortest line between
// the two shapes.
struct NeighbourLink {
  std::int64_t oid = -1;
  Point from, to;  // from lies on the patch, to on its neighbour
  double length = 0;
};
// The patch named in the field "NNId" of `oid`, or none: when the table has
// no "NNId", the value is empty, -999 or not a whole number, the patch was
// alone in its class ("NNDist" holds -999), or "NNId" names the patch itself
// or no feature with a shape.
std::optional<NeighbourLink> recordedNeighbour(FeatureTable& table, std::int64_t oid);

struct Identification {
  std::int64_t oid = -1;
  std::vector<Attribute> attributes;
  std::optional<NeighbourLink> neighbour;
};
// The patch under (x, y) with its attributes and recorded neighbour; none
// when no patch is there.
std::optional<Identification> identify(FeatureTable& table, const PatchFinder& finder, double x, double y);

}  // namespace quilta::map
