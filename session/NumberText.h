#pragma once
// Numbers as the tool shows them, and numbers as users type them. Every text
// uses the decimal separator of the process locale (LC_NUMERIC) unless a test
// sets one.

#include <cstdint>
#include <optional>
#include <string>

#include "host/Value.h"

namespace quilta::text {

// The decimal separator in use.
char decimalSeparator();
// Makes every text use `separator` (0 returns to the process locale).
void setDecimalSeparator(char separator);

// "Fixed": at least one digit before the separator, exactly two after it,
// rounded half away from zero, no digit grouping.
std::string fixed(double value);
// Pattern "0.00" (same as fixed) and "0.000".
std::string pattern00(double value);
std::string pattern000(double value);
// `decimals` digits after the separator, rounded half away from zero on the
// shortest decimal form of the value (so 0.125 gives 0.13).
std::string withDecimals(double value, int decimals);
// The general conversion: up to 15 significant digits, no fraction for whole
// numbers, exponent form for very large and very small magnitudes.
std::string general(double value);
std::string count(std::int64_t value);
// The text form of an attribute value (NULL gives the empty text).
std::string ofValue(const Value& value);

// Reads a number typed by a user: blanks around it are ignored; the locale's
// decimal separator and the point are both accepted. None when the text is
// not a number.
std::optional<double> parse(const std::string& typed);

}  // namespace quilta::text
