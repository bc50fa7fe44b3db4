// Number texts on arbitrary input: the text is read as a user's number under
// a point and under a comma locale, and the eight bytes at its start as a
// double. Whatever is read, every form the tool shows it in reads back: the
// general conversion to 15 significant digits, the fixed forms to half a unit
// of their last decimal.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "session/NumberText.h"

namespace {

using namespace quilta;

void checkGeneral(double x, const std::string& general) {
  // The general form reads back to the value at 15 significant digits, and
  // shows the same again.
  const auto back = text::parse(general);
  QUILTA_FUZZ_CHECK(back.has_value());
  // Half a unit of the 15th digit, and the rounding of the reading.
  QUILTA_FUZZ_CHECK(std::fabs(*back - x) <= 5.5e-15 * std::fabs(x));
  QUILTA_FUZZ_CHECK(text::general(*back) == general);
  QUILTA_FUZZ_CHECK(general.size() <= 22);
}

void checkFixed(double x) {
  for (int decimals = 0; decimals <= 3; ++decimals) {
    const std::string shown = text::withDecimals(x, decimals);
    const auto sep = shown.find(text::decimalSeparator());
    if (decimals == 0) {
      QUILTA_FUZZ_CHECK(sep == std::string::npos);
    } else {
      QUILTA_FUZZ_CHECK(sep != std::string::npos && sep > 0);
      QUILTA_FUZZ_CHECK(shown.size() - sep - 1 == static_cast<std::size_t>(decimals));
    }
    const auto read = text::parse(shown);
    QUILTA_FUZZ_CHECK(read.has_value());
    // Half a unit of the last decimal, and the rounding of the shortest
    // decimal form of large values.
    const double unit = std::pow(10.0, -decimals);
    QUILTA_FUZZ_CHECK(std::fabs(*read - x) <= 0.5 * unit * (1 + 1e-9) + 4e-16 * std::fabs(x));
  }
  QUILTA_FUZZ_CHECK(text::fixed(x) == text::withDecimals(x, 2));
  QUILTA_FUZZ_CHECK(text::pattern000(x) == text::withDecimals(x, 3));
}

void checkForms(double x) {
  const std::string general = text::general(x);
  if (!std::isfinite(x)) {
    QUILTA_FUZZ_CHECK(general == "NaN" || general == "Infinity" || general == "-Infinity");
    QUILTA_FUZZ_CHECK(text::fixed(x) == general);
    return;
  }
  // The 15 digits of the values nearest the largest double round past it:
  // they show as a number larger than any there is, which reads as none.
  std::string largest = "1.79769313486232E+308";
  largest[1] = text::decimalSeparator();
  if (general == (x < 0 ? "-" : "") + largest) {
    QUILTA_FUZZ_CHECK(std::fabs(x) > 1.7976931348623e308);
    QUILTA_FUZZ_CHECK(!text::parse(general).has_value());
  } else {
    checkGeneral(x, general);
  }
  checkFixed(x);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string typed(reinterpret_cast<const char*>(data), size);
  for (char separator : {'.', ','}) {
    text::setDecimalSeparator(separator);
    if (const auto x = text::parse(typed)) {
      QUILTA_FUZZ_CHECK(std::isfinite(*x));
      checkForms(*x);
    }
    if (size >= sizeof(double)) {
      double x = 0;
      std::memcpy(&x, data, sizeof x);
      checkForms(x);
    }
  }
  text::setDecimalSeparator(0);
  return 0;
}
