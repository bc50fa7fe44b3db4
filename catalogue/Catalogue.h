#pragma once
// The landscape metric catalogue: patch, class and landscape metrics of one
// landscape, computed from the polygons themselves.
//
// Domain words. A patch is one feature of the analysed layer (a polygon or a
// multipolygon, holes included) with its class; a landscape is a set of
// patches (a whole layer, or the patches clipped to one region or one circle
// around a sample point). a and p are a patch's area and perimeter (its own
// boundary, holes included); A is the sum of the patches' areas (not the area
// of their union); U_k is the union of the patches of class k and L the union
// of all patches. Every value is in metres, square metres or hectares (ha)
// as the metric's name says, whatever the layer's units: the landscape's
// coordinates are multiplied by `metresPerUnit`.
//
// A value that is undefined for its unit (a mean over no patch, a standard
// deviation of fewer than two values, an evenness of one class, ...) is
// absent, never a sentinel number. The definitions are those of the help
// document's metric catalogue.

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/Geometry.h"

namespace quilta {
class RingCache;
}

namespace quilta::catalogue {

enum class Level { Patch = 0, Class = 1, Landscape = 2 };

// "patch", "class", "landscape".
const char* levelName(Level level);

// What a metric needs beyond the polygons.
enum class Needs { Nothing, EdgeDepth, SearchRadius };

struct MetricInfo {
  std::string name;
  Level level;
  Needs needs;
};

// Every metric of the catalogue, by level and then by name.
const std::vector<MetricInfo>& metricList();

struct Patch {
  std::int64_t id = 0;  // the feature's object identifier
  int cls = 0;          // index into the landscape's classes
  Polygon shape;        // map units; not empty
  // The patch's whole shape, unclipped: its position in the landscape's
  // shape cache; -1 for a clipped piece.
  std::int64_t whole = -1;
};

// What a shape's own metrics need (map units), kept across the landscapes
// (regions, circles) a whole patch takes part in.
struct ShapeMeasures {
  bool measured = false;
  double area = 0, length = 0;
  std::optional<double> enclosingRadius;
  std::optional<double> coreArea, corePieces;  // at the settings' edge depth
  // The nearest other patch of its class in the whole layer (its position in
  // the layer's patches) and the distance to it; see measureNearest.
  std::optional<std::int64_t> nearestWhole;
  double nearestDistance = 0;
};

struct Landscape {
  std::vector<Patch> patches;
  int classes = 0;  // class indices run from 0 to classes-1, in class order
  // Optional cache for the patches' `whole` positions; one thread at a time.
  std::vector<ShapeMeasures>* measures = nullptr;
  // Optional cache of the whole patches' rings for the boundary lengths,
  // keyed by their `whole` positions; one thread at a time.
  RingCache* rings = nullptr;
};

// Records in measures[i] the nearest other patch of its class among
// `patches` (patch i at position i, its `whole`), for landscapes cut from
// this layer: a whole patch whose layer-wide nearest neighbour is also whole
// in a landscape has its enn there without a search.
void measureNearest(const std::vector<Patch>& patches, int classes, std::vector<ShapeMeasures>& measures);

struct Settings {
  std::set<Level> levels{Level::Class, Level::Landscape};
  // A subset of the metrics by name; empty: every metric of the chosen levels
  // that the settings allow.
  std::set<std::string> metrics;
  // Core metrics at this depth (metres); none without it.
  std::optional<double> edgeDepth;
  // Proximity metrics within this edge-to-edge distance (metres); none
  // without it.
  std::optional<double> searchRadius;
  // The landscape's outer boundary counts as edge in te and ed.
  bool countBoundary = false;
  double metresPerUnit = 1.0;
};

// Why the settings cannot be used (an unknown metric name, a metric whose
// option is missing, no level, a depth or radius that is not a positive
// number); none when they can.
std::optional<std::string> checkSettings(const Settings& settings);

struct Row {
  Level level;
  int cls = -1;          // the class index; -1 at landscape level
  std::int64_t id = -1;  // the patch's identifier at patch level; -1 otherwise
  const std::string* metric = nullptr;  // a name of metricList()
  std::optional<double> value;
};

// The metrics of `landscape` that the settings select, sorted by level
// (patch, class, landscape), class index, patch identifier and metric name.
// Class rows are written for the classes that have patches. A landscape
// without patches gives only landscape rows: np 0, ta 0 and the rest
// undefined. Throws HostError when the geometry engine fails.
std::vector<Row> computeMetrics(const Landscape& landscape, const Settings& settings);

}  // namespace quilta::catalogue
