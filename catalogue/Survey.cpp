#include "catalogue/Survey.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>

#include "host/Boundaries.h"
#include "host/FeatureTable.h"
#include "host/HostError.h"
#include "host/Overlay.h"
#include "host/PolygonLayer.h"

namespace quilta::catalogue {
namespace {

// A value as the table shows it: whole numbers without a fraction, other
// numbers in their shortest exact form, text as it is.
std::string valueText(const Value& v) {
  if (const auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
  if (const auto* d = std::get_if<double>(&v)) return numberText(*d);
  if (const auto* t = std::get_if<std::string>(&v)) return *t;
  return {};
}

int fieldOf(PolygonLayer& layer, const std::string& name, const char* role) {
  FeatureTable& table = layer.featureTable();
  const int index = table.findField(name);
  if (index >= 2) return index;
  std::string known;
  for (int i = 2; i < table.fieldCount(); ++i) known += (known.empty() ? "" : ", ") + ("\"" + table.field(i).name + "\"");
  throw InputError("the " + std::string(role) + " field \"" + name + "\" is not a field of \"" + layer.name() +
                   "\" (its fields: " + known + ")");
}

// Ranks of the distinct values of a field, in the class order.
std::map<std::string, int> ranksOf(FeatureTable& table, int field, std::vector<std::string>& texts) {
  std::map<std::string, int> ranks;
  for (const Value& v : table.uniqueValues(field)) {
    std::string t = valueText(v);
    if (ranks.emplace(t, static_cast<int>(texts.size())).second) texts.push_back(std::move(t));
  }
  return ranks;
}

// Patches by bounding box, for finding the candidates of a region fast.
class BoxGrid {
 public:
  explicit BoxGrid(const std::vector<Patch>& patches) {
    if (patches.empty()) return;
    box_ = patches[0].shape.bounds();
    boxes_.reserve(patches.size());
    for (const Patch& p : patches) {
      const Polygon::Box b = p.shape.bounds();
      boxes_.push_back(b);
      box_.minX = std::min(box_.minX, b.minX), box_.minY = std::min(box_.minY, b.minY);
      box_.maxX = std::max(box_.maxX, b.maxX), box_.maxY = std::max(box_.maxY, b.maxY);
    }
    side_ = static_cast<std::size_t>(std::clamp(std::sqrt(static_cast<double>(patches.size()) / 4), 1.0, 2048.0));
    cells_.assign(side_ * side_, {});
    for (std::size_t i = 0; i < boxes_.size(); ++i) {
      const auto [x0, y0, x1, y1] = range(boxes_[i]);
      for (std::size_t y = y0; y <= y1; ++y)
        for (std::size_t x = x0; x <= x1; ++x) cells_[y * side_ + x].push_back(i);
    }
  }

  const Polygon::Box& box(std::size_t i) const { return boxes_[i]; }

  // Patches whose box meets `b`, ascending.
  std::vector<std::size_t> candidates(const Polygon::Box& b) const {
    std::vector<std::size_t> out;
    if (boxes_.empty() || b.maxX < box_.minX || b.minX > box_.maxX || b.maxY < box_.minY || b.minY > box_.maxY)
      return out;
    const auto [x0, y0, x1, y1] = range(b);
    for (std::size_t y = y0; y <= y1; ++y)
      for (std::size_t x = x0; x <= x1; ++x)
        for (std::size_t i : cells_[y * side_ + x]) {
          const Polygon::Box& p = boxes_[i];
          if (p.maxX >= b.minX && p.minX <= b.maxX && p.maxY >= b.minY && p.minY <= b.maxY) out.push_back(i);
        }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
  }

 private:
  struct Range {
    std::size_t x0, y0, x1, y1;
  };
  Range range(const Polygon::Box& b) const {
    auto cell = [&](double v, double lo, double hi) {
      const double span = hi - lo;
      const double c = span > 0 ? std::floor((v - lo) / span * static_cast<double>(side_)) : 0.0;
      return static_cast<std::size_t>(std::clamp(c, 0.0, static_cast<double>(side_ - 1)));
    };
    return {cell(b.minX, box_.minX, box_.maxX), cell(b.minY, box_.minY, box_.maxY), cell(b.maxX, box_.minX, box_.maxX),
            cell(b.maxY, box_.minY, box_.maxY)};
  }
  std::vector<Polygon::Box> boxes_;
  Polygon::Box box_;
  std::size_t side_ = 1;
  std::vector<std::vector<std::size_t>> cells_;
};

// The patches of `all` clipped to a region: a patch that the region only
// touches is left out; a clipped patch keeps its identifier and class.
Landscape clippedTo(const ClipRegion& region, const std::vector<Patch>& all, const BoxGrid& grid, int classes,
                    std::vector<ShapeMeasures>& measures, RingCache& rings) {
  Landscape land;
  land.classes = classes;
  land.measures = &measures;
  land.rings = &rings;
  for (std::size_t i : grid.candidates(region.bounds())) {
    Polygon piece = region.clip(all[i].shape, &grid.box(i));
    if (piece.handle() == all[i].shape.handle()) {  // wholly inside
      land.patches.push_back(all[i]);
      continue;
    }
    if (piece.isEmpty() || piece.area() <= 0) continue;
    land.patches.push_back({all[i].id, all[i].cls, std::move(piece), -1});
  }
  return land;
}

// Whether the settings select an enn metric at some level.
bool selectsEnn(const Settings& s) {
  for (const MetricInfo& m : metricList())
    if ((m.name == "enn" || m.name.rfind("enn_", 0) == 0) && s.levels.count(m.level) &&
        (s.metrics.empty() || s.metrics.count(m.name)))
      return true;
  return false;
}

void append(std::vector<TableRow>& out, const std::vector<Row>& rows, const std::string& region,
            std::optional<double> radius, const std::vector<std::string>& classNames) {
  for (const Row& r : rows)
    out.push_back({region, radius, r.level, r.cls >= 0 ? classNames[static_cast<std::size_t>(r.cls)] : std::string(),
                   r.id, r.metric, r.value});
}

// The named features of a region or point layer in the order of their
// names; a name twice or a feature without a name is refused.
std::vector<std::pair<std::string, std::int64_t>> namedFeatures(PolygonLayer& layer, const std::string& field,
                                                                  const char* role) {
  FeatureTable& table = layer.featureTable();
  const int index = fieldOf(layer, field, role);
  std::vector<std::string> texts;
  const auto ranks = ranksOf(table, index, texts);
  std::vector<std::int64_t> byRank(texts.size(), -1);
  const SelectionSet all = table.selectAll();
  for (std::int64_t oid : all.oids()) {
    const Value v = table.value(oid, index);
    if (isNull(v))
      throw InputError("feature " + std::to_string(oid) + " of \"" + layer.name() + "\" has no " + role + " name in \"" +
                       field + "\"");
    const int rank = ranks.at(valueText(v));
    if (byRank[static_cast<std::size_t>(rank)] >= 0)
      throw InputError("the " + std::string(role) + " name \"" + texts[static_cast<std::size_t>(rank)] +
                       "\" is given to two features of \"" + layer.name() + "\" (" +
                       std::to_string(byRank[static_cast<std::size_t>(rank)]) + " and " + std::to_string(oid) +
                       "); each " + role + " needs a name of its own");
    byRank[static_cast<std::size_t>(rank)] = oid;
  }
  std::vector<std::pair<std::string, std::int64_t>> out;
  for (std::size_t r = 0; r < texts.size(); ++r)
    if (byRank[r] >= 0) out.emplace_back(texts[r], byRank[r]);
  return out;
}

std::string jsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') out += '\\', out += static_cast<char>(c);
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else out += static_cast<char>(c);
  }
  return out + "\"";
}

std::string csvField(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string out = "\"";
  for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::string tsvField(std::string s) {
  std::replace_if(s.begin(), s.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
  return s;
}

}  // namespace

std::optional<double> metresPerUnit(int unitsCode) {
  switch (unitsCode) {
    case kInches: return 0.0254;
    case kFeet: return 0.3048;
    case kYards: return 0.9144;
    case kMiles: return 1609.344;
    case kMillimeters: return 0.001;
    case kCentimeters: return 0.01;
    case kMeters: return 1.0;
    case kKilometers: return 1000.0;
    default: return std::nullopt;
  }
}

std::string numberText(double value) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}

std::vector<TableRow> survey(const Survey& sv, const Settings& settings) {
  PolygonLayer& layer = *sv.layer;
  FeatureTable& table = layer.featureTable();
  const int classField = fieldOf(layer, sv.classField, "class");
  std::vector<std::string> classNames;
  const auto ranks = ranksOf(table, classField, classNames);

  std::vector<Patch> patches;
  const std::vector<Polygon>& shapes = table.shapes();
  const SelectionSet all = table.selectAll();
  for (std::int64_t oid : all.oids()) {
    const Value v = table.value(oid, classField);
    if (isNull(v)) continue;
    const Polygon& shape = shapes[static_cast<std::size_t>(oid)];
    if (shape.isEmpty()) continue;
    patches.push_back({oid, ranks.at(valueText(v)), shape, static_cast<std::int64_t>(patches.size())});
  }
  const int classes = static_cast<int>(classNames.size());
  std::vector<TableRow> out;

  if (!sv.regions && !sv.points) {
    Landscape land{std::move(patches), classes};
    append(out, computeMetrics(land, settings), {}, std::nullopt, classNames);
    return out;
  }

  const BoxGrid grid(patches);
  std::vector<ShapeMeasures> measures(patches.size());
  if (selectsEnn(settings)) measureNearest(patches, classes, measures);
  RingCache rings(patches.size());
  if (sv.regions) {
    if (sv.regions->featureTable().geometryType() != 4)
      throw InputError("the regions \"" + sv.regions->name() + "\" are not a polygon layer");
    FeatureTable& regions = sv.regions->featureTable();
    for (const auto& [name, oid] : namedFeatures(*sv.regions, sv.regionField, "region")) {
      const ClipRegion region(regions.shape(oid));
      append(out, computeMetrics(clippedTo(region, patches, grid, classes, measures, rings), settings), name, std::nullopt, classNames);
    }
    return out;
  }

  if (sv.points->featureTable().geometryType() != 1)
    throw InputError("the sample points \"" + sv.points->name() + "\" are not a layer of points");
  std::vector<double> radii = sv.radii;
  std::sort(radii.begin(), radii.end());
  radii.erase(std::unique(radii.begin(), radii.end()), radii.end());
  for (double r : radii)
    if (!(std::isfinite(r) && r > 0)) throw InputError("a radius must be a positive number of metres");
  FeatureTable& points = sv.points->featureTable();
  for (const auto& [name, oid] : namedFeatures(*sv.points, sv.pointField, "point")) {
    const auto at = pointPosition(points.shape(oid));
    if (!at)
      throw InputError("feature " + std::to_string(oid) + " of \"" + sv.points->name() + "\" is not a single point");
    for (double r : radii) {
      const ClipRegion circle(at->first, at->second, r / settings.metresPerUnit);
      append(out, computeMetrics(clippedTo(circle, patches, grid, classes, measures, rings), settings), name, r, classNames);
    }
  }
  return out;
}

void writeTable(std::ostream& out, Format format, const std::string& layer, const std::vector<TableRow>& rows) {
  auto radius = [](const TableRow& r) { return r.radius ? numberText(*r.radius) : std::string(); };
  auto id = [](const TableRow& r) { return r.id >= 0 ? std::to_string(r.id) : std::string(); };
  auto value = [](const TableRow& r) { return r.value ? numberText(*r.value) : std::string(); };
  if (format == Format::Json) {
    out << "[";
    bool first = true;
    for (const TableRow& r : rows) {
      out << (first ? "\n" : ",\n") << "{\"layer\":" << jsonString(layer) << ",\"region\":"
          << (r.region.empty() && !r.radius ? "null" : jsonString(r.region))
          << ",\"radius\":" << (r.radius ? radius(r) : "null") << ",\"level\":\"" << levelName(r.level)
          << "\",\"class\":" << (r.level == Level::Landscape ? "null" : jsonString(r.cls))
          << ",\"id\":" << (r.id >= 0 ? id(r) : "null") << ",\"metric\":" << jsonString(*r.metric)
          << ",\"value\":" << (r.value && std::isfinite(*r.value) ? value(r) : "null") << "}";
      first = false;
    }
    out << (first ? "]\n" : "\n]\n");
    return;
  }
  const char sep = format == Format::Csv ? ',' : '\t';
  auto field = [&](const std::string& s) { return format == Format::Csv ? csvField(s) : tsvField(s); };
  out << "layer" << sep << "region" << sep << "radius" << sep << "level" << sep << "class" << sep << "id" << sep
      << "metric" << sep << "value\n";
  const std::string layerText = field(layer);
  for (const TableRow& r : rows)
    out << layerText << sep << field(r.region) << sep << radius(r) << sep << levelName(r.level) << sep << field(r.cls)
        << sep << id(r) << sep << *r.metric << sep << value(r) << '\n';
}

}  // namespace quilta::catalogue
