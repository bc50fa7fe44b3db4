#include "session/NumberText.h"

#include <langinfo.h>
#include <locale.h>

#include <charconv>
#include <cmath>
#include <cstring>

namespace quilta::text {
namespace {

char overrideSeparator = 0;

// The user's decimal separator, read from the environment's LC_NUMERIC without
// switching the process locale (the geometry and data libraries read and
// write numbers with a point and must keep doing so).
char localeSeparator() {
  static const char sep = [] {
    char result = '.';
    locale_t loc = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
    if (loc) {
      const char* radix = nl_langinfo_l(RADIXCHAR, loc);
      if (radix && radix[0] && !radix[1]) result = radix[0];
      freelocale(loc);
    }
    return result;
  }();
  return sep;
}

std::string withSeparator(std::string s) {
  char sep = decimalSeparator();
  if (sep != '.')
    for (char& c : s)
      if (c == '.') c = sep;
  return s;
}

}  // namespace

char decimalSeparator() { return overrideSeparator ? overrideSeparator : localeSeparator(); }
void setDecimalSeparator(char separator) { overrideSeparator = separator; }

std::string withDecimals(double value, int decimals) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
  char buf[400];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
  std::string shortest(buf, res.ptr);
  bool negative = !shortest.empty() && shortest[0] == '-';
  if (negative) shortest.erase(0, 1);
  auto dot = shortest.find('.');
  std::string whole = dot == std::string::npos ? shortest : shortest.substr(0, dot);
  std::string frac = dot == std::string::npos ? "" : shortest.substr(dot + 1);
  bool roundUp = static_cast<int>(frac.size()) > decimals && frac[static_cast<std::size_t>(decimals)] >= '5';
  frac.resize(static_cast<std::size_t>(decimals), '0');
  std::string digits = whole + frac;
  if (roundUp) {
    int i = static_cast<int>(digits.size()) - 1;
    for (; i >= 0; --i) {
      if (digits[static_cast<std::size_t>(i)] == '9') {
        digits[static_cast<std::size_t>(i)] = '0';
      } else {
        ++digits[static_cast<std::size_t>(i)];
        break;
      }
    }
    if (i < 0) digits.insert(digits.begin(), '1');
  }
  const std::size_t split = digits.size() - static_cast<std::size_t>(decimals);
  const bool allZero = digits.find_first_not_of('0') == std::string::npos;
  std::string out;
  if (negative && !allZero) out.push_back('-');
  if (split == 0) out.push_back('0');
  out.append(digits, 0, split);
  if (decimals > 0) {
    out.push_back(decimalSeparator());
    out.append(digits, split, std::string::npos);
  }
  return out;
}

std::string fixed(double value) { return withDecimals(value, 2); }
std::string pattern00(double value) { return withDecimals(value, 2); }
std::string pattern000(double value) { return withDecimals(value, 3); }

std::string general(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
  if (value == 0) return "0";
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
  std::string s(buf, res.ptr);
  auto e = s.find('e');
  if (e != std::string::npos) {
    // 1.5e+20 is shown as 1.5E+20
    s[e] = 'E';
  }
  return withSeparator(s);
}

std::string count(std::int64_t value) { return std::to_string(value); }

std::string ofValue(const Value& value) {
  if (auto i = std::get_if<std::int64_t>(&value)) return count(*i);
  if (auto d = std::get_if<double>(&value)) return general(*d);
  if (auto s = std::get_if<std::string>(&value)) return *s;
  return {};
}

std::optional<double> parse(const std::string& typed) {
  auto b = typed.find_first_not_of(" \t");
  if (b == std::string::npos) return std::nullopt;
  auto e = typed.find_last_not_of(" \t");
  std::string t = typed.substr(b, e - b + 1);
  char sep = decimalSeparator();
  if (sep != '.')
    for (char& c : t)
      if (c == sep) c = '.';
  const char* first = t.data();
  const char* last = t.data() + t.size();
  if (*first == '+') ++first;
  if (first == last || !(std::isdigit(static_cast<unsigned char>(*first)) || *first == '.' || *first == '-'))
    return std::nullopt;
  double v = 0;
  auto [ptr, ec] = std::from_chars(first, last, v);
  if (ec != std::errc() || ptr != last || !std::isfinite(v)) return std::nullopt;
  return v;
}

}  // namespace quilta::text
