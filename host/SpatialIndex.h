#pragma once
// Neighbourhood queries over one set of patches (typically the patches of one
// class): the nearest other patch, the patches within a distance, the patches
// that touch or overlap, and the groups of connected patches.
//
// Members are addressed by their position in the set (0 .. size()-1); the set
// is given in ascending object identifier order, so a lower position is a
// lower identifier, the order in which a cursor over the set delivers them.
//
// Every answer equals the pairwise definition computed with Polygon::distance
// and Polygon::intersects: distances are the same shortest distance between
// the two shapes (0 when they touch or overlap), computed with the same
// arithmetic, so equal distances are equal here too and ties are broken the
// way a pairwise loop in cursor order breaks them. Pairs whose answer cannot
// be decided safely by the fast path (a point almost exactly on a line, shapes
// that are not polygons) are handed to the geometry engine itself. A
// self-intersecting polygon is taken as drawn: its distances are those of its
// rings, its inside is where a ray crosses its rings an odd number of times
// (where the engine's own topological test may refuse such a polygon).
//
// A member without a shape (a feature with a null or empty shape) is not
// measurable: it is nobody's neighbour, is within no distance of anything,
// touches nothing, and forms a group of its own.
//
// Lengths are in map units. Once built, an index may be queried from several
// threads at once.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace quilta {

class FeatureTable;
class Polygon;

class SpatialIndex {
 public:
  // Indexes the shapes of `oids` (object identifiers of `table`, ascending),
  // read from the table's in-memory shape cache. Throws HostError for an
  // identifier the table does not have.
  SpatialIndex(FeatureTable& table, const std::vector<std::int64_t>& oids);
  // Indexes the given shapes; member i is shapes[i]. The shapes must outlive
  // the index.
  explicit SpatialIndex(const std::vector<const Polygon*>& shapes);
  ~SpatialIndex();
  SpatialIndex(SpatialIndex&&) noexcept;
  SpatialIndex& operator=(SpatialIndex&&) noexcept;

  std::size_t size() const;
  // False for a null or empty shape.
  bool measurable(std::size_t member) const;

  struct Neighbour {
    std::size_t member;
    double distance;
  };

  // The measurable member nearest to `member`, itself excluded: the smallest
  // distance, and of several at that distance the lowest position. None when
  // `member` is not measurable or no other member is.
  std::optional<Neighbour> nearest(std::size_t member) const;

  // Every measurable member G with distance(member, G) <= maxDistance, in
  // ascending position, `member` itself included (at distance 0) when the
  // limit is not negative. Replaces the contents of `out`; empty when
  // `member` is not measurable.
  void withinDistance(std::size_t member, double maxDistance, std::vector<Neighbour>& out) const;
  // The same members without their distances; cheaper, because a pair is
  // settled as soon as some part of the shapes lies within reach.
  void withinDistance(std::size_t member, double maxDistance, std::vector<std::size_t>& out) const;

  // Every member whose shape intersects (touches, even at a single point, or
  // overlaps) the shape of `member`, in ascending position, `member` itself
  // included when measurable.
  void intersecting(std::size_t member, std::vector<std::size_t>& out) const;

  // Every measurable member whose shape holds the point (x, y): inside one of
  // its parts or on its boundary, not inside a hole. Ascending position.
  void containing(double x, double y, std::vector<std::size_t>& out) const;

  // The groups of connected members: two members are connected when their
  // shapes intersect, directly or through a chain of members. The result
  // gives for every member the lowest position in its group. `cancelled` is
  // asked between members, on the calling thread; none when it answered true.
  // With `threads` above 1 the touching tests run on that many threads
  // (`waiting` is then asked, as `cancelled` is, while the calling thread
  // waits for them); the groups are the same for any number of threads.
  std::optional<std::vector<std::size_t>> components(const std::function<bool()>& cancelled = {},
                                                     unsigned threads = 1,
                                                     const std::function<bool()>& waiting = {}) const;

  // The pairwise measures themselves (the same values the queries use).
  // distance() throws HostError when either member is not measurable.
  double distance(std::size_t a, std::size_t b) const;
  bool intersects(std::size_t a, std::size_t b) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quilta
