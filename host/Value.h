#pragma once
// Attribute values as the host hands them to the operations.

#include <cstdint>
#include <string>
#include <variant>

namespace quilta {

// One attribute value of one feature: NULL (std::monostate), a whole number, a
// double or a text (UTF-8). Dates and logical values arrive as text.
using Value = std::variant<std::monostate, std::int64_t, double, std::string>;

inline bool isNull(const Value& v) { return std::holds_alternative<std::monostate>(v); }

}  // namespace quilta
