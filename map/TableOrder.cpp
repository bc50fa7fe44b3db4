#include "map/TableOrder.h"

#include <algorithm>
#include <numeric>
#include <string>

#include "host/FeatureTable.h"
#include "host/HostError.h"

namespace quilta::map {

std::vector<std::int64_t> sortedByField(FeatureTable& table, int field, bool ascending) {
  if (field < 0 || field >= table.fieldCount()) throw HostError("no field at index " + std::to_string(field));
  std::vector<std::int64_t> oids = table.selectAll().oids();
  if (field == 1) return oids;
  if (field == 0) {
    if (!ascending) std::reverse(oids.begin(), oids.end());
    return oids;
  }
  struct Key {
    int kind;  // 0 empty, 1 number, 2 text
    double number;
    std::string text;
  };
  std::vector<Key> keys;
  keys.reserve(oids.size());
  for (std::int64_t oid : oids) {
    Value v = table.value(oid, field);
    if (auto i = std::get_if<std::int64_t>(&v))
      keys.push_back(Key{1, static_cast<double>(*i), {}});
    else if (auto d = std::get_if<double>(&v))
      keys.push_back(Key{1, *d, {}});
    else if (auto s = std::get_if<std::string>(&v))
      keys.push_back(Key{2, 0, std::move(*s)});
    else
      keys.push_back(Key{0, 0, {}});
  }
  auto less = [](const Key& a, const Key& b) {
    if (a.kind != b.kind) return a.kind < b.kind;
    if (a.kind == 1) return a.number < b.number;
    return a.text < b.text;
  };
  std::vector<std::size_t> order(oids.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return ascending ? less(keys[a], keys[b]) : less(keys[b], keys[a]);
  });
  std::vector<std::int64_t> out;
  out.reserve(order.size());
  for (std::size_t i : order) out.push_back(oids[i]);
  return out;
}

}  // namespace quilta::map
