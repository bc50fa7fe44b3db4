#pragma once
// The attribute store of a shapefile: its dBASE table. Host field types map
// onto dBASE columns: numbers are N columns (doubles N(24,15) unless given a
// width, whole numbers N(9), small integers N(4)), texts C(50), dates D.

#include <memory>

#include "host/AttributeStore.h"
#include "host/dbase/DbfTable.h"

namespace quilta {

class DbaseStore final : public AttributeStore {
 public:
  explicit DbaseStore(DbfTable table) : dbf_(std::move(table)) {}

  bool writable() const override { return dbf_.writable(); }
  void openForWriting() override;
  std::int64_t recordCount() const override { return dbf_.recordCount(); }
  bool isDeleted(std::int64_t record) const override { return dbf_.isDeleted(record); }
  int fieldCount() const override { return static_cast<int>(dbf_.fields().size()); }
  FieldInfo field(int index) const override;
  int findField(std::string_view name) const override { return dbf_.findField(name); }
  Value value(std::int64_t record, int field) const override { return dbf_.value(record, field); }
  void setValue(std::int64_t record, int field, const Value& value) override { dbf_.setValue(record, field, value); }
  void store(std::int64_t record) override { dbf_.store(record); }
  void addField(const std::string& name, int type, int length, int precision, const Value& fill) override;
  void deleteField(int index) override { dbf_.deleteField(index); }
  void fillField(int index, const Value& value) override { dbf_.fillField(index, value); }
  void flush() override { dbf_.flush(); }
  void dropPendingSchemaChanges() override { dbf_.dropPendingRewrite(); }

 private:
  DbfTable dbf_;
};

}  // namespace quilta
