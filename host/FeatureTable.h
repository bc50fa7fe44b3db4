#pragma once
// The attribute table of a polygon layer as the operations see it: fields in
// host order (the object identifier "FID", the geometry "Shape", then the
// attribute fields), features addressed by object identifier (the 0-based
// record number), cursors that deliver features in ascending identifier order,
// selection sets, attribute filters and the field calculator.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/AttributeStore.h"
#include "host/Geometry.h"
#include "host/Value.h"

namespace quilta {

class FeatureTable;

// One feature of a table, addressed by its object identifier.
class Feature {
 public:
  Feature(FeatureTable& table, std::int64_t oid) : table_(&table), oid_(oid) {}
  std::int64_t oid() const { return oid_; }
  Value value(int field) const;
  // Numeric value of an attribute; throws HostError when it is NULL or text
  // that is not a number ("an empty value").
  double number(int field) const;
  void setValue(int field, const Value& value);
  const Polygon& shape() const;
  // Writes the feature's attributes to the file (never its shape).
  void store();

 private:
  FeatureTable* table_;
  std::int64_t oid_;
};

// Delivers features one by one; next() gives none at the end.
class FeatureCursor {
 public:
  FeatureCursor(FeatureTable& table, std::shared_ptr<const std::vector<std::int64_t>> oids)
      : table_(&table), oids_(std::move(oids)) {}
  std::optional<Feature> next();

 private:
  FeatureTable* table_;
  std::shared_ptr<const std::vector<std::int64_t>> oids_;
  std::size_t pos_ = 0;
};

// An ordered set of object identifiers of one table. Cursors over one set run
// independently.
class SelectionSet {
 public:
  SelectionSet(FeatureTable& table, std::vector<std::int64_t> oids)
      : table_(&table), oids_(std::make_shared<const std::vector<std::int64_t>>(std::move(oids))) {}
  std::int64_t count() const { return static_cast<std::int64_t>(oids_->size()); }
  FeatureCursor search() const { return FeatureCursor(*table_, oids_); }
  const std::vector<std::int64_t>& oids() const { return *oids_; }
  FeatureTable& table() const { return *table_; }

 private:
  FeatureTable* table_;
  std::shared_ptr<const std::vector<std::int64_t>> oids_;
};

// A where clause of one of the two forms that class selection builds:
//   <field> = '<text>'   compared as CHAR values: trailing blanks do not
//                        count, '' inside the literal stands for one apostrophe;
//   <field> = <number>   compared numerically.
// NULL values never match. Any other clause is refused with HostError.
class AttributeFilter {
 public:
  AttributeFilter() = default;
  explicit AttributeFilter(std::string whereClause) : where_(std::move(whereClause)) {}
  const std::string& whereClause() const { return where_; }
  void setWhereClause(std::string whereClause) { where_ = std::move(whereClause); }

 private:
  std::string where_;
};

class FeatureTable {
 public:
  // `store` holds the attribute values; `loadShapes` reads every shape of the
  // layer on first use, indexed by record; the table keeps them for its
  // lifetime.
  FeatureTable(std::unique_ptr<AttributeStore> store, int geometryType,
               std::function<std::vector<Polygon>()> loadShapes);
  FeatureTable(const FeatureTable&) = delete;
  FeatureTable& operator=(const FeatureTable&) = delete;

  // 4 polygon, 1 point, 2 multipoint, 3 polyline, 0 other.
  int geometryType() const { return geometryType_; }

  int fieldCount() const;
  FieldInfo field(int index) const;
  // Index of the field called `name` (letter case ignored), or -1.
  int findField(std::string_view name) const;

  // Adds a field at the end. `length` and `precision` 0 take the defaults of
  // the type; a double field without them holds at least 12 significant digits
  // for magnitudes from 1e-9 to 1e15. `fill` presets every feature (NULL:
  // empty). Throws HostError when the name is refused or the table read-only.
  void addField(const std::string& name, int type, int length = 0, int precision = 0, const Value& fill = {});
  // Deletes a field and its values. The identifier and the shape are refused.
  void deleteField(int index);

  // Number of features (records flagged deleted do not count).
  std::int64_t count() const;
  // Cursor over every feature.
  FeatureCursor search();
  // Every feature whose values satisfy the filter's clause.
  SelectionSet select(const AttributeFilter& filter);
  SelectionSet selectAll();
  // Distinct non-NULL values of a field, ascending: numerically for numeric
  // fields, by bytes for text.
  std::vector<Value> uniqueValues(int field);

  Value value(std::int64_t oid, int field) const;
  void setValue(std::int64_t oid, int field, const Value& value);
  void store(std::int64_t oid);
  // Sets a field of every feature; written with the next store or sync.
  void fillField(int field, const Value& value);
  const Polygon& shape(std::int64_t oid);
  // Every shape indexed by object identifier (deleted records: empty). The
  // shapes may be read from several threads at once; the table itself
  // serves one thread.
  const std::vector<Polygon>& shapes();
  // The object identifiers of the shapes that are not valid polygons
  // (self-intersections, bow-ties, rings outside their shell), ascending;
  // found when the shapes are read. Empty while they have not been read.
  const std::vector<std::int64_t>& invalidShapes() const { return invalid_; }

  // Writes what is pending; called when an operation ends, however it ends.
  void sync();
  // Drops schema changes not yet written (see AttributeStore); called when an
  // operation failed, before sync().
  void dropPendingSchemaChanges();
  bool writable() const { return store_->writable(); }

 private:
  static constexpr int kFixedFields = 2;  // FID, Shape
  std::unique_ptr<AttributeStore> store_;
  int geometryType_;
  std::function<std::vector<Polygon>()> loadShapes_;
  std::optional<std::vector<Polygon>> shapes_;
  std::vector<std::int64_t> invalid_;
  std::shared_ptr<const std::vector<std::int64_t>> all_;
  const std::vector<std::int64_t>& allOids();
  // The features of each value of one text or whole-number field, built by
  // the first selection on that field and dropped when the field changes:
  // every class of a run is then selected without reading the table again.
  struct ValueIndex {
    int field = -1;
    std::unordered_map<std::string, std::vector<std::int64_t>> byKey;
  };
  ValueIndex valueIndex_;
  const ValueIndex* valueIndex(int field);
  void forgetValueIndex(int field) {
    if (field < 0 || field == valueIndex_.field) valueIndex_ = {};
  }
};

// Sets one field of every feature a cursor delivers to a constant expression
// (a number, or text in apostrophes). Over a cursor of every feature the
// whole column is set in one pass.
class FieldCalculator {
 public:
  static void calculate(FeatureTable& table, const std::string& fieldName, const std::string& expression);
};

}  // namespace quilta
