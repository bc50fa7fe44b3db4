#pragma once
// Set-up of the neighbourhood metric tests: a layer "patches" of polygons
// given as well-known text with a class field "cover", a user who picks
// "cover" and the classes, readers of the written fields, and the metrics
// computed pair by pair straight from their definitions (Polygon::distance,
// Polygon::area, Polygon::intersects over the patches of a class in
// identifier order), to compare the operations with.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/FeatureTable.h"
#include "host/PolygonLayer.h"
#include "session/NumberText.h"
#include "tests/support/RandomPatches.h"
#include "tests/support/ToolFixture.h"

namespace quilta::test {

constexpr double kNoValue = -999;

// One patch: its shape ("" for a feature without shape) and its class.
struct ClassPatch {
  std::string wkt;
  std::string cover;
};

class NeighbourhoodTest : public ToolTest {
 protected:
  void TearDown() override { text::setDecimalSeparator(0); }

  // Writes the layer "patches" with the field "cover" (and any `extra`
  // numeric fields, given per patch in `values`) and opens it.
  PolygonLayer& openPatches(const std::vector<ClassPatch>& patches, const std::vector<std::string>& extra = {},
                            const std::vector<std::vector<double>>& values = {}) {
    std::vector<FieldDef> fields = {{"cover", 'S', 20}};
    for (const auto& name : extra) fields.push_back({name, 'R', 24, 15});
    std::vector<Row> rows;
    for (std::size_t i = 0; i < patches.size(); ++i) {
      Row row;
      row.wkt = patches[i].wkt;
      row.values.emplace_back(std::in_place_type<std::string>, patches[i].cover);
      if (i < values.size())
        for (double v : values[i]) row.values.push_back(v);
      rows.push_back(row);
    }
    writeShapefile(dir / "patches.shp", fields, rows);
    PolygonLayer& layer = open(dir / "patches.shp");
    classesOf.clear();
    for (std::size_t i = 0; i < patches.size(); ++i)
      classesOf[patches[i].cover].push_back(static_cast<std::int64_t>(i));
    return layer;
  }
  PolygonLayer& openRandomPatches(std::uint32_t seed, int classes = 4) {
    std::vector<ClassPatch> patches;
    for (const auto& p : randomPatches(seed, 20, 16, classes)) patches.push_back({p.wkt, p.cls});
    return openPatches(patches);
  }

  // The user types `answers` into the input boxes, in order.
  void type(const std::vector<std::string>& answers) {
    for (const auto& a : answers) ws.inputAnswers.push_back(a);
  }
  bool hasField(const std::string& name) { return table().findField(name) >= 0; }
  double number(std::int64_t oid, const std::string& field) {
    const int index = table().findField(field);
    EXPECT_GE(index, 0) << "no field " << field;
    return Feature(table(), oid).number(index);
  }
  std::vector<double> column(const std::string& field) {
    std::vector<double> out;
    for (std::int64_t oid = 0; oid < table().count(); ++oid) out.push_back(number(oid, field));
    return out;
  }
  const Polygon& shape(std::int64_t oid) { return table().shape(oid); }

  // Equal to 1e-12 relative (0 only to 0).
  static void expectClose(double expected, double actual, const std::string& what) {
    EXPECT_NEAR(actual, expected, 1e-12 * std::fabs(expected)) << what;
  }

  // --- the definitions, pair by pair ---------------------------------------

  struct Nearest {
    double distance = kNoValue, id = 0, area = kNoValue;
  };
  // For every patch of `cls`: the other patch at the smallest distance, the
  // first in identifier order of several at that distance.
  std::map<std::int64_t, Nearest> pairwiseNearest(const std::string& cls) {
    std::map<std::int64_t, Nearest> out;
    for (std::int64_t p : classesOf[cls]) {
      std::int64_t best = -1;
      double bestDistance = 0;
      for (std::int64_t q : classesOf[cls]) {
        if (q == p || shape(p).isEmpty() || shape(q).isEmpty()) continue;
        const double d = shape(p).distance(shape(q));
        if (best == -1 || d < bestDistance) best = q, bestDistance = d;
      }
      if (best >= 0)
        out[p] = {bestDistance, static_cast<double>(best), shape(best).area()};
      else
        out[p] = {};
    }
    return out;
  }
  // PX94 of every patch of `cls`: sum of Area(G) / NNDist(G) over the patches
  // G of the class within `buffer` of it (itself included) with NNDist > 0.
  std::map<std::int64_t, double> pairwisePX94(const std::string& cls, double buffer) {
    std::map<std::int64_t, double> out;
    for (std::int64_t p : classesOf[cls]) {
      double sum = 0;
      for (std::int64_t g : classesOf[cls]) {
        const double nn = number(g, "NNDist");
        if (nn > 0 && shape(p).distance(shape(g)) <= buffer) sum += number(g, "Area") / nn;
      }
      out[p] = sum;
    }
    return out;
  }
  // Fragstats proximity of every patch of `cls`: sum of a(G) / d^2 over the
  // other patches G of the class with d = distance <= buffer and d > 0.
  std::map<std::int64_t, double> pairwiseFragstats(const std::string& cls, double buffer) {
    std::map<std::int64_t, double> out;
    for (std::int64_t p : classesOf[cls]) {
      double sum = 0;
      for (std::int64_t g : classesOf[cls]) {
        if (g == p) continue;
        const double d = shape(p).distance(shape(g));
        if (d <= buffer && d > 0) sum += shape(g).area() / d / d;
      }
      out[p] = sum;
    }
    return out;
  }
  // Dissolve IDs of the classes in `order`: from each class's first patch
  // not yet numbered, the group grows pass by pass by every patch of the class
  // that intersects a member; the group gets the next number.
  std::map<std::int64_t, double> pairwiseDissolve(const std::vector<std::string>& order) {
    std::map<std::int64_t, double> label;
    double next = 1;
    for (const auto& cls : order) {
      const auto& members = classesOf[cls];
      for (std::int64_t seed : members) {
        if (label[seed] != 0) continue;
        std::vector<std::int64_t> group;
        for (std::int64_t g : members)
          if (shape(g).intersects(shape(seed))) group.push_back(g);
        for (std::size_t before = 0; before != group.size();) {
          before = group.size();
          std::vector<std::int64_t> grown;
          for (std::int64_t g : members)
            for (std::int64_t h : group)
              if (shape(g).intersects(shape(h))) {
                grown.push_back(g);
                break;
              }
          group = grown;
        }
        if (group.empty()) group.push_back(seed);  // a shape that touches nothing, not even itself
        for (std::int64_t g : group) label[g] = next;
        next += 1;
      }
    }
    return label;
  }

  std::map<std::string, std::vector<std::int64_t>> classesOf;
};

}  // namespace quilta::test
