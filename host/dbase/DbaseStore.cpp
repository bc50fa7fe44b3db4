#include "host/dbase/DbaseStore.h"

#include "host/HostError.h"

namespace quilta {

FieldInfo DbaseStore::field(int index) const {
  if (index < 0 || index >= fieldCount()) throw HostError("no field at index " + std::to_string(index));
  const DbfField& f = dbf_.fields()[static_cast<std::size_t>(index)];
  FieldInfo info{f.name, kText, f.width, f.decimals};
  switch (f.type) {
    case 'N':
    case 'F':
      if (f.decimals > 0) info.type = kDouble;
      else if (f.width <= 4) info.type = kSmallInteger;
      else if (f.width <= 9) info.type = kLong;
      else info.type = kDouble;
      break;
    case 'D': info.type = kDate; break;
    default: info.type = kText; break;
  }
  return info;
}

void DbaseStore::openForWriting() {
  if (!dbf_.writable()) throw HostError("the table is open read-only");
  dbf_.openForWriting();
}

void DbaseStore::addField(const std::string& name, int type, int length, int precision, const Value& fill) {
  DbfField f{name, 'N', 0, 0};
  switch (type) {
    case kSmallInteger: f.width = length ? length : 4; break;
    case kLong: f.width = length ? length : 9; break;
    case kSingle:
      f.width = length ? length : 13;
      f.decimals = length ? precision : 6;
      break;
    case kDouble:
      // A double without width or precision must keep about 15 significant
      // digits from 1e-9 to 1e15; no fixed decimal count can, so the table
      // writes such values in exponent form when needed.
      f.width = length ? length : 24;
      f.decimals = length ? precision : 15;
      break;
    case kText:
      f.type = 'C';
      f.width = length ? length : 50;
      break;
    case kDate:
      f.type = 'D';
      f.width = 8;
      break;
    default: throw HostError("a field of type " + std::to_string(type) + " cannot be added to the table");
  }
  dbf_.addField(f, fill);
}

}  // namespace quilta
