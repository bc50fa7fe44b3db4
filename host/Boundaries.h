#pragma once
// Boundary lengths of a landscape's classes: how long the boundary of each
// class is, how much of it each pair of classes shares and how much lies on
// the landscape's own boundary.
//
// Definitions. U_k is the union of the patches of class k, L the union of
// all patches; ∂ is the boundary of a region (outer boundaries and holes).
//   classBoundary[k]        = len(∂U_k)
//   onLandscapeBoundary[k]  = len(∂U_k ∩ ∂L)
//   shared[k * classes + j] = len(∂U_k ∩ ∂U_j) for k != j (0 on the diagonal)
//   landscapeBoundary       = len(∂L)
// On a layer that is a clean coverage (patches meet only along edges that
// both patches have, vertex for vertex, and never overlap) these come from
// one pass over the patches' edges; otherwise (overlaps, slivers, edges that
// meet part-way) from the unions themselves. Both give the definitions.
//
// Units: map units.

#include <cstdint>
#include <memory>
#include <vector>

#include "host/Geometry.h"

namespace quilta {

struct BoundaryLengths {
  std::vector<double> classBoundary;
  std::vector<double> onLandscapeBoundary;
  std::vector<double> shared;
  double landscapeBoundary = 0;
  // True when the edge index alone settled the lengths (a clean coverage).
  bool fromEdges = false;

  double sharedBy(int k, int j) const {
    return shared[static_cast<std::size_t>(k) * classBoundary.size() + static_cast<std::size_t>(j)];
  }
};

// The rings of shapes that take part in many landscapes (the whole patches
// of a layer cut into regions or circles), read from the geometry engine
// once: shape keys run from 0 to `keys`-1. One thread at a time.
class RingCache {
 public:
  explicit RingCache(std::size_t keys);
  ~RingCache();
  RingCache(const RingCache&) = delete;
  RingCache& operator=(const RingCache&) = delete;
  struct Impl;
  std::unique_ptr<Impl> impl;
};

// The lengths for the patches `shapes`, patch i of class classOf[i] (0 ..
// classes-1). Empty shapes take no part. With a cache, shape i is read
// through it when keys[i] >= 0 (shapes of one key must be the same shape).
// Throws HostError when the geometry engine fails.
BoundaryLengths boundaryLengths(const std::vector<const Polygon*>& shapes, const std::vector<int>& classOf,
                                int classes, RingCache* cache = nullptr,
                                const std::vector<std::int64_t>* keys = nullptr);

// The same lengths always computed from the unions (the way taken when the
// layer is no clean coverage); exposed for tests and comparisons.
BoundaryLengths boundaryLengthsFromUnions(const std::vector<const Polygon*>& shapes, const std::vector<int>& classOf,
                                          int classes);

}  // namespace quilta
