#include "catalogue/Catalogue.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>

#include "host/Boundaries.h"
#include "host/Offset.h"
#include "host/Overlay.h"
#include "host/SpatialIndex.h"

namespace quilta::catalogue {
namespace {

using Value = std::optional<double>;

constexpr const char* kStatSuffixes[] = {"_cv", "_mn", "_sd"};

std::vector<MetricInfo> buildList() {
  std::vector<MetricInfo> out;
  auto add = [&](Level level, std::initializer_list<const char*> names, Needs needs = Needs::Nothing) {
    for (const char* n : names) out.push_back({n, level, needs});
  };
  auto addStats = [&](Level level, std::initializer_list<const char*> stems, Needs needs = Needs::Nothing) {
    for (const char* s : stems)
      for (const char* suffix : kStatSuffixes) out.push_back({std::string(s) + suffix, level, needs});
  };
  add(Level::Patch, {"area", "perim", "para", "shape", "frac", "circle", "enn"});
  add(Level::Patch, {"core", "ncore", "cai"}, Needs::EdgeDepth);
  add(Level::Patch, {"prox"}, Needs::SearchRadius);
  add(Level::Class, {"ca", "pland", "np", "pd", "lpi", "te", "ed", "lsi", "pafrac", "division", "split", "mesh", "iji"});
  addStats(Level::Class, {"area", "para", "shape", "frac", "circle", "enn"});
  add(Level::Class, {"tca", "cpland", "ndca", "dcad"}, Needs::EdgeDepth);
  addStats(Level::Class, {"core"}, Needs::EdgeDepth);
  addStats(Level::Class, {"prox"}, Needs::SearchRadius);
  add(Level::Landscape, {"ta", "np", "pd", "lpi", "te", "ed", "lsi", "pafrac", "division", "split", "mesh", "pr", "prd",
                         "shdi", "shei", "sidi", "siei", "msidi", "msiei", "iji"});
  addStats(Level::Landscape, {"area", "para", "shape", "frac", "circle", "enn"});
  add(Level::Landscape, {"tca", "ndca", "dcad"}, Needs::EdgeDepth);
  addStats(Level::Landscape, {"core"}, Needs::EdgeDepth);
  addStats(Level::Landscape, {"prox"}, Needs::SearchRadius);
  std::stable_sort(out.begin(), out.end(), [](const MetricInfo& a, const MetricInfo& b) {
    return a.level != b.level ? a.level < b.level : a.name < b.name;
  });
  return out;
}

bool allowed(const MetricInfo& m, const Settings& s) {
  return m.needs == Needs::Nothing || (m.needs == Needs::EdgeDepth && s.edgeDepth) ||
         (m.needs == Needs::SearchRadius && s.searchRadius);
}

// The metrics the settings select, per level, in name order.
std::vector<const MetricInfo*> selected(const Settings& s, Level level) {
  std::vector<const MetricInfo*> out;
  if (!s.levels.count(level)) return out;
  for (const MetricInfo& m : metricList())
    if (m.level == level && allowed(m, s) && (s.metrics.empty() || s.metrics.count(m.name))) out.push_back(&m);
  return out;
}

Value ratio(double num, double den) {
  if (den == 0 || !std::isfinite(num / den)) return std::nullopt;
  return num / den;
}

// Mean, sample standard deviation and coefficient of variation (percent)
// of the defined values.
struct Stats {
  Value mn, sd, cv;
};

Stats statsOf(const std::vector<Value>& values) {
  double sum = 0;
  std::size_t n = 0;
  for (const Value& v : values)
    if (v) sum += *v, ++n;
  Stats s;
  if (n == 0) return s;
  const double mean = sum / static_cast<double>(n);
  s.mn = mean;
  if (n < 2) return s;
  double squares = 0;
  for (const Value& v : values)
    if (v) squares += (*v - mean) * (*v - mean);
  s.sd = std::sqrt(squares / static_cast<double>(n - 1));
  if (mean != 0) s.cv = *s.sd / mean * 100;
  return s;
}

// 2 / β, β the least-squares slope of ln a against ln p.
Value pafracOf(const std::vector<double>& areas, const std::vector<double>& perimeters) {
  std::vector<double> x, y;
  for (std::size_t i = 0; i < areas.size(); ++i)
    if (areas[i] > 0 && perimeters[i] > 0) x.push_back(std::log(perimeters[i])), y.push_back(std::log(areas[i]));
  if (x.size() < 10) return std::nullopt;
  const double n = static_cast<double>(x.size());
  double mx = 0, my = 0;
  for (std::size_t i = 0; i < x.size(); ++i) mx += x[i], my += y[i];
  mx /= n, my /= n;
  double sxx = 0, sxy = 0;
  for (std::size_t i = 0; i < x.size(); ++i) sxx += (x[i] - mx) * (x[i] - mx), sxy += (x[i] - mx) * (y[i] - my);
  if (sxx == 0 || sxy == 0) return std::nullopt;
  return 2 / (sxy / sxx);
}

// -Σ q ln q / ln(count) · 100 over the shares e / total; none when count < 2
// or total is 0.
Value interspersion(const std::vector<double>& lengths, double total, double count) {
  if (total <= 0 || count < 2) return std::nullopt;
  double h = 0;
  for (double e : lengths)
    if (e > 0) h -= e / total * std::log(e / total);
  return h / std::log(count) * 100;
}

struct PatchValues {
  double a = 0, p = 0;  // m², m
  Value para, shape, frac, circle, enn, core, ncore, cai, prox;
};

// The values of every patch that the selected metrics need.
struct Needed {
  bool circle = false, enn = false, core = false, prox = false, edges = false;
};

bool wants(const std::vector<const MetricInfo*>& metrics, const std::string& stem) {
  for (const MetricInfo* m : metrics)
    if (m->name == stem || m->name.rfind(stem + "_", 0) == 0) return true;
  return false;
}

void addStatRows(std::map<std::string, Value>& values, const std::string& stem, const std::vector<Value>& of) {
  const Stats s = statsOf(of);
  values[stem + "_mn"] = s.mn;
  values[stem + "_sd"] = s.sd;
  values[stem + "_cv"] = s.cv;
}

}  // namespace

const char* levelName(Level level) {
  switch (level) {
    case Level::Patch: return "patch";
    case Level::Class: return "class";
    case Level::Landscape: return "landscape";
  }
  return "";
}

const std::vector<MetricInfo>& metricList() {
  static const std::vector<MetricInfo> list = buildList();
  return list;
}

void measureNearest(const std::vector<Patch>& patches, int classes, std::vector<ShapeMeasures>& measures) {
  for (int k = 0; k < classes; ++k) {
    std::vector<std::size_t> ids;
    std::vector<const Polygon*> shapes;
    for (std::size_t i = 0; i < patches.size(); ++i)
      if (patches[i].cls == k) ids.push_back(i), shapes.push_back(&patches[i].shape);
    if (ids.size() < 2) continue;
    const SpatialIndex index(shapes);
    for (std::size_t q = 0; q < ids.size(); ++q)
      if (auto nn = index.nearest(q)) {
        ShapeMeasures& sm = measures[ids[q]];
        sm.nearestWhole = static_cast<std::int64_t>(ids[nn->member]);
        sm.nearestDistance = nn->distance;
      }
  }
}

std::optional<std::string> checkSettings(const Settings& s) {
  if (s.levels.empty()) return std::string("no level chosen (use patch, class, landscape)");
  if (s.edgeDepth && !(std::isfinite(*s.edgeDepth) && *s.edgeDepth > 0))
    return std::string("the edge depth must be a positive number of metres");
  if (s.searchRadius && !(std::isfinite(*s.searchRadius) && *s.searchRadius > 0))
    return std::string("the search radius must be a positive number of metres");
  if (!(std::isfinite(s.metresPerUnit) && s.metresPerUnit > 0)) return std::string("the map units are not linear");
  for (const std::string& name : s.metrics) {
    bool known = false, inLevel = false, possible = false;
    Needs needs = Needs::Nothing;
    for (const MetricInfo& m : metricList()) {
      if (m.name != name) continue;
      known = true;
      if (!s.levels.count(m.level)) continue;
      inLevel = true;
      needs = m.needs;
      possible |= allowed(m, s);
    }
    if (!known) return "unknown metric \"" + name + "\"";
    if (!inLevel) return "the metric \"" + name + "\" is not computed at the chosen levels";
    if (!possible)
      return "the metric \"" + name + "\" needs " +
             (needs == Needs::EdgeDepth ? "--edge-depth" : "--search-radius");
  }
  return std::nullopt;
}

std::vector<Row> computeMetrics(const Landscape& land, const Settings& s) {
  const auto patchMetrics = selected(s, Level::Patch);
  const auto classMetrics = selected(s, Level::Class);
  const auto landMetrics = selected(s, Level::Landscape);
  std::vector<const MetricInfo*> all = patchMetrics;
  all.insert(all.end(), classMetrics.begin(), classMetrics.end());
  all.insert(all.end(), landMetrics.begin(), landMetrics.end());
  Needed need;
  need.circle = wants(all, "circle");
  need.enn = wants(all, "enn");
  need.core = s.edgeDepth && (wants(all, "core") || wants(all, "ncore") || wants(all, "cai") || wants(all, "tca") ||
                              wants(all, "cpland") || wants(all, "ndca") || wants(all, "dcad"));
  need.prox = s.searchRadius && wants(all, "prox");
  need.edges = wants(all, "te") || wants(all, "ed") || wants(all, "lsi") || wants(all, "iji");

  std::vector<Row> rows;
  auto emit = [&](const std::vector<const MetricInfo*>& metrics, Level level, int cls, std::int64_t id,
                  const std::map<std::string, Value>& values) {
    for (const MetricInfo* m : metrics) {
      auto it = values.find(m->name);
      rows.push_back({level, cls, id, &m->name, it == values.end() ? Value{} : it->second});
    }
  };

  const std::size_t n = land.patches.size();
  if (n == 0) {
    std::map<std::string, Value> values{{"np", 0.0}, {"ta", 0.0}};
    emit(landMetrics, Level::Landscape, -1, -1, values);
    return rows;
  }

  const double f = s.metresPerUnit, f2 = f * f;
  std::vector<PatchValues> pv(n);
  const auto m = static_cast<std::size_t>(land.classes);
  std::vector<std::vector<std::size_t>> members(m);
  for (std::size_t i = 0; i < n; ++i) members[static_cast<std::size_t>(land.patches[i].cls)].push_back(i);

  for (std::size_t i = 0; i < n; ++i) {
    const Patch& patch = land.patches[i];
    ShapeMeasures scratch;
    ShapeMeasures& sm =
        land.measures && patch.whole >= 0 ? (*land.measures)[static_cast<std::size_t>(patch.whole)] : scratch;
    if (!sm.measured) sm.area = patch.shape.area(), sm.length = patch.shape.length(), sm.measured = true;
    if (need.circle && !sm.enclosingRadius) sm.enclosingRadius = enclosingCircleRadius(patch.shape);
    if (need.core && !sm.coreArea) {
      const Offset core = inwardOffset(patch.shape, *s.edgeDepth / f);
      sm.coreArea = core.area, sm.corePieces = static_cast<double>(core.pieces.size());
    }
    PatchValues& v = pv[i];
    v.a = sm.area * f2;
    v.p = sm.length * f;
    v.para = ratio(v.p, v.a);
    if (v.a > 0) v.shape = v.p / (2 * std::sqrt(std::numbers::pi * v.a));
    if (v.a > 1 && v.p > 1) v.frac = 2 * std::log(v.p) / std::log(v.a);
    if (need.circle) {
      const double r = *sm.enclosingRadius * f;
      if (r > 0) v.circle = 1 - v.a / (std::numbers::pi * r * r);
    }
    if (need.core) {
      v.core = *sm.coreArea * f2;
      v.ncore = sm.corePieces;
      if (v.a > 0) v.cai = *v.core / v.a * 100;
    }
  }

  if (need.enn || need.prox) {
    std::vector<SpatialIndex::Neighbour> near;
    for (std::size_t k = 0; k < m; ++k) {
      const auto& ids = members[k];
      if (ids.empty()) continue;
      // The class's whole (unclipped) patches here, by their layer position.
      std::vector<std::int64_t> wholes;
      if (land.measures)
        for (std::size_t i : ids)
          if (land.patches[i].whole >= 0) wholes.push_back(land.patches[i].whole);
      std::sort(wholes.begin(), wholes.end());
      std::optional<SpatialIndex> index;
      auto indexed = [&]() -> const SpatialIndex& {
        if (!index) {
          std::vector<const Polygon*> shapes;
          for (std::size_t i : ids) shapes.push_back(&land.patches[i].shape);
          index.emplace(shapes);
        }
        return *index;
      };
      for (std::size_t q = 0; q < ids.size(); ++q) {
        PatchValues& v = pv[ids[q]];
        if (need.enn && ids.size() > 1) {
          // Every patch here is a layer patch or a part of one, so no distance
          // here is below the layer's; when the layer-wide nearest patch is
          // here whole, the same pair (measured with the same arithmetic) is
          // the nearest here too.
          const Patch& patch = land.patches[ids[q]];
          const ShapeMeasures* sm =
              land.measures && patch.whole >= 0 ? &(*land.measures)[static_cast<std::size_t>(patch.whole)] : nullptr;
          if (sm && sm->nearestWhole && std::binary_search(wholes.begin(), wholes.end(), *sm->nearestWhole))
            v.enn = sm->nearestDistance * f;
          else if (auto nn = indexed().nearest(q))
            v.enn = nn->distance * f;
        }
        if (need.prox) {
          indexed().withinDistance(q, *s.searchRadius / f, near);
          double sum = 0;
          for (const auto& nb : near) {
            const double d = nb.distance * f;
            if (nb.member != q && d > 0) sum += pv[ids[nb.member]].a / (d * d);
          }
          v.prox = sum;
        }
      }
    }
  }

  // Totals.
  double A = 0, maxA = 0;
  for (const PatchValues& v : pv) A += v.a, maxA = std::max(maxA, v.a);
  std::vector<double> CA(m, 0.0);
  for (std::size_t i = 0; i < n; ++i) CA[static_cast<std::size_t>(land.patches[i].cls)] += pv[i].a;
  std::size_t present = 0;
  for (std::size_t k = 0; k < m; ++k) present += members[k].empty() ? 0 : 1;
  const double mPresent = static_cast<double>(present);

  BoundaryLengths edges;
  if (need.edges) {
    std::vector<const Polygon*> shapes;
    std::vector<int> classOf;
    std::vector<std::int64_t> keys;
    for (const Patch& p : land.patches) shapes.push_back(&p.shape), classOf.push_back(p.cls), keys.push_back(p.whole);
    edges = boundaryLengths(shapes, classOf, land.classes, land.rings, &keys);
    for (double& x : edges.classBoundary) x *= f;
    for (double& x : edges.onLandscapeBoundary) x *= f;
    for (double& x : edges.shared) x *= f;
    edges.landscapeBoundary *= f;
  }

  // Statistics of one group of patches, shared by class and landscape level.
  auto groupValues = [&](const std::vector<std::size_t>& ids, std::map<std::string, Value>& values) {
    std::vector<Value> area, para, shape, frac, circle, enn, core, prox;
    std::vector<double> as, ps;
    double sumCore = 0, sumNcore = 0, groupA2 = 0;
    for (std::size_t i : ids) {
      const PatchValues& v = pv[i];
      area.push_back(v.a / 1e4), para.push_back(v.para), shape.push_back(v.shape), frac.push_back(v.frac);
      circle.push_back(v.circle), enn.push_back(v.enn), prox.push_back(v.prox);
      as.push_back(v.a), ps.push_back(v.p);
      groupA2 += v.a * v.a;
      if (v.core) {
        core.push_back(*v.core / 1e4);
        sumCore += *v.core, sumNcore += *v.ncore;
      }
    }
    addStatRows(values, "area", area);
    addStatRows(values, "para", para);
    addStatRows(values, "shape", shape);
    addStatRows(values, "frac", frac);
    addStatRows(values, "circle", circle);
    addStatRows(values, "enn", enn);
    values["pafrac"] = pafracOf(as, ps);
    if (A > 0) values["division"] = 1 - groupA2 / (A * A);
    values["split"] = ratio(A * A, groupA2);
    if (A > 0) values["mesh"] = groupA2 / A / 1e4;
    if (need.core) {
      addStatRows(values, "core", core);
      values["tca"] = sumCore / 1e4;
      values["cpland"] = ratio(sumCore * 100, A);
      values["ndca"] = sumNcore;
      values["dcad"] = ratio(sumNcore * 1e6, A);
    }
    if (need.prox) addStatRows(values, "prox", prox);
  };

  if (!patchMetrics.empty()) {
    // Patch rows by class, then identifier.
    std::vector<std::size_t> order(n);
    for (std::size_t i = 0; i < n; ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
      const Patch &p = land.patches[x], &q = land.patches[y];
      return p.cls != q.cls ? p.cls < q.cls : p.id < q.id;
    });
    for (std::size_t i : order) {
      const PatchValues& v = pv[i];
      const std::map<std::string, Value> values{
          {"area", v.a / 1e4}, {"perim", v.p},    {"para", v.para},   {"shape", v.shape},
          {"frac", v.frac},    {"circle", v.circle}, {"enn", v.enn},   {"core", v.core ? Value(*v.core / 1e4) : Value{}},
          {"ncore", v.ncore},  {"cai", v.cai},    {"prox", v.prox}};
      emit(patchMetrics, Level::Patch, land.patches[i].cls, land.patches[i].id, values);
    }
  }

  if (!classMetrics.empty()) {
    for (std::size_t k = 0; k < m; ++k) {
      if (members[k].empty()) continue;
      std::map<std::string, Value> values;
      groupValues(members[k], values);
      double maxK = 0;
      for (std::size_t i : members[k]) maxK = std::max(maxK, pv[i].a);
      values["ca"] = CA[k] / 1e4;
      values["pland"] = ratio(CA[k] * 100, A);
      values["np"] = static_cast<double>(members[k].size());
      values["pd"] = ratio(static_cast<double>(members[k].size()) * 1e6, A);
      values["lpi"] = ratio(maxK * 100, A);
      if (need.edges) {
        const double boundary = edges.classBoundary[k];
        const double te =
            s.countBoundary ? boundary : std::max(0.0, boundary - edges.onLandscapeBoundary[k]);
        values["te"] = te;
        values["ed"] = ratio(te * 1e4, A);
        if (CA[k] > 0) values["lsi"] = boundary / (2 * std::sqrt(std::numbers::pi * CA[k]));
        std::vector<double> shares;
        double Ek = 0;
        for (std::size_t j = 0; j < m; ++j)
          if (j != k) shares.push_back(edges.sharedBy(static_cast<int>(k), static_cast<int>(j))), Ek += shares.back();
        if (present >= 3) values["iji"] = interspersion(shares, Ek, mPresent - 1);
      }
      emit(classMetrics, Level::Class, static_cast<int>(k), -1, values);
    }
  }

  if (!landMetrics.empty()) {
    std::vector<std::size_t> everyone(n);
    for (std::size_t i = 0; i < n; ++i) everyone[i] = i;
    std::map<std::string, Value> values;
    groupValues(everyone, values);
    values["ta"] = A / 1e4;
    values["np"] = static_cast<double>(n);
    values["pd"] = ratio(static_cast<double>(n) * 1e6, A);
    values["lpi"] = ratio(maxA * 100, A);
    values["pr"] = mPresent;
    values["prd"] = ratio(mPresent * 1e6, A);
    if (A > 0) {
      double shdi = 0, simpson = 0;
      for (std::size_t k = 0; k < m; ++k) {
        const double P = CA[k] / A;
        if (P > 0) shdi -= P * std::log(P);
        simpson += P * P;
      }
      values["shdi"] = shdi;
      values["sidi"] = 1 - simpson;
      values["msidi"] = -std::log(simpson);
      if (present > 1) {
        values["shei"] = shdi / std::log(mPresent);
        values["siei"] = (1 - simpson) / (1 - 1 / mPresent);
        values["msiei"] = -std::log(simpson) / std::log(mPresent);
      }
    }
    if (need.edges) {
      std::vector<double> shares;
      double E = 0;
      for (std::size_t k = 0; k < m; ++k)
        for (std::size_t j = k + 1; j < m; ++j)
          shares.push_back(edges.sharedBy(static_cast<int>(k), static_cast<int>(j))), E += shares.back();
      const double te = E + (s.countBoundary ? edges.landscapeBoundary : 0.0);
      values["te"] = te;
      values["ed"] = ratio(te * 1e4, A);
      if (A > 0) values["lsi"] = (E + edges.landscapeBoundary) / (2 * std::sqrt(std::numbers::pi * A));
      if (present >= 3) values["iji"] = interspersion(shares, E, mPresent * (mPresent - 1) / 2);
    }
    if (need.core) values.erase("cpland");
    emit(landMetrics, Level::Landscape, -1, -1, values);
  }
  return rows;
}

}  // namespace quilta::catalogue
