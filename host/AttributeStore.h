#pragma once
// Where a layer keeps its attribute values: the dBASE table beside a
// shapefile, a table of a GeoPackage, a table of a PostgreSQL database. The
// feature table (and through it every operation) sees one interface whatever
// the store; the layer chooses the implementation when it opens.
//
// Records are addressed by their position in the layer's natural order, 0 ..
// recordCount()-1 (a shapefile's record number; the primary-key order of a
// database table), which is also the feature's object identifier. Fields are
// the attribute fields only: the object identifier and the shape are not the
// store's. Values go in and come out as UTF-8 text, whole numbers and doubles.
//
// The writes of one operation are one unit: the store makes them durable when
// flush() is called at the end of the operation, however it ends, each store
// in its own way (one rewrite of the file, one transaction).

#include <cstdint>
#include <string>
#include <string_view>

#include "host/Value.h"

namespace quilta {

// Field type codes.
enum FieldType : int {
  kSmallInteger = 0,
  kLong = 1,
  kSingle = 2,
  kDouble = 3,
  kText = 4,
  kDate = 5,
  kObjectId = 6,
  kGeometry = 7,
};

struct FieldInfo {
  std::string name;
  int type = kText;
  int length = 0;     // bytes (text) or digits (numbers); 0 for FID and Shape
  int precision = 0;  // digits after the decimal point
};

class AttributeStore {
 public:
  virtual ~AttributeStore() = default;

  // False when every mutation is refused (the store is open for reading).
  virtual bool writable() const = 0;
  // Makes the store ready for the writes of a run: opens it for writing when
  // it is open for reading, and takes what keeps a second writer out. Does
  // nothing when it is ready already. Throws HostError with the store's cause
  // when it cannot be written (a read-only file or folder, missing rights,
  // another writer), before anything is written.
  virtual void openForWriting() = 0;

  virtual std::int64_t recordCount() const = 0;
  // A record that is not a feature (flagged deleted in a dBASE table):
  // cursors skip it.
  virtual bool isDeleted(std::int64_t record) const = 0;

  virtual int fieldCount() const = 0;
  // Field `index` (0 .. fieldCount()-1) with its host type code.
  virtual FieldInfo field(int index) const = 0;
  // Index of the field called `name` (letter case ignored), or -1.
  virtual int findField(std::string_view name) const = 0;

  // The value of one cell; NULL for an empty cell.
  virtual Value value(std::int64_t record, int field) const = 0;
  // Sets one cell; store() writes it. Throws HostError when the value cannot
  // be held by the field.
  virtual void setValue(std::int64_t record, int field, const Value& value) = 0;
  // Writes the record's attribute values (never its shape).
  virtual void store(std::int64_t record) = 0;

  // Adds a field of host type `type` at the end; `length` and `precision` 0
  // take the store's defaults for the type (a double then holds at least 12
  // significant digits for magnitudes from 1e-9 to 1e15). Every record is
  // preset to `fill` (NULL: empty). Throws HostError with the store's cause
  // when the name or type is refused.
  virtual void addField(const std::string& name, int type, int length, int precision, const Value& fill) = 0;
  // Deletes field `index` and its values.
  virtual void deleteField(int index) = 0;
  // Sets field `index` of every record to `value`.
  virtual void fillField(int index, const Value& value) = 0;

  // Makes what the operation wrote durable. Called when an operation ends,
  // however it ends. Throws HostError when that fails.
  virtual void flush() = 0;
  // Drops the schema changes (added, deleted or filled fields) not yet
  // written, so that an operation that failed half way through its schema
  // change leaves none of it; values already stored stay. Called before
  // flush() when an operation failed. Stores whose writes are one transaction
  // have nothing to drop.
  virtual void dropPendingSchemaChanges() {}
};

}  // namespace quilta
