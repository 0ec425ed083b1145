// NXStreamTypes: the text of scale ticks. Display components label the ticks
// of their scales and axes with these; the number of decimals follows the
// scale's range so that neighbouring labels differ in their last digit.
#include <clocale>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "runtime/SysUtils.h"
#include "streams/NXStreamTypes.h"

namespace nx {

namespace {

char DecimalSeparator() {
  const std::lconv* lc = std::localeconv();
  return lc && lc->decimal_point && lc->decimal_point[0] ? lc->decimal_point[0] : '.';
}

std::string NonFinite(double AValue) {
  if (std::isnan(AValue)) return "NAN";
  return AValue < 0 ? "-INF" : "INF";
}

// Exponent notation with ASignificant digits in all: one before the decimal
// separator, then "E", the exponent's sign and at least three digits
// (1.50000000000000E+005). printf's %e counts the digits after the separator
// and writes two exponent digits; both are adjusted here.
std::string ExponentText(double AValue, int ASignificant) {
  if (!std::isfinite(AValue)) return NonFinite(AValue);
  if (ASignificant < 1) ASignificant = 1;
  if (ASignificant > 40) ASignificant = 40;  // beyond any double's digits
  char buf[96];
  std::snprintf(buf, sizeof buf, "%.*e", ASignificant - 1, AValue);
  std::string text(buf);
  const std::size_t e = text.find('e');
  if (e == std::string::npos) return text;
  std::string mantissa = text.substr(0, e);
  const char sign = text[e + 1];
  std::string digits = text.substr(e + 2);
  while (digits.size() < 3) digits.insert(digits.begin(), '0');
  return mantissa + "E" + sign + digits;
}

std::string FixedText(double AValue, int ADecimals) {
  if (!std::isfinite(AValue)) return NonFinite(AValue);
  // Fixed notation of a value this large would show digits the double does
  // not hold; such values take the exponent form instead.
  if (std::fabs(AValue) >= 1e18) return ExponentText(AValue, 15);
  if (ADecimals > 40) ADecimals = 40;
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.*f", ADecimals, AValue);
  return buf;
}

std::string Trim(std::string AText) {
  const auto first = AText.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const auto last = AText.find_last_not_of(" \t");
  return AText.substr(first, last - first + 1);
}

}  // namespace

std::int32_t NXGetDecimalPoints(double AMax, double AMin, std::int32_t APrecision, bool ASignificantOnly) {
  if (ASignificantOnly) return APrecision;
  if (APrecision <= 0) return 0;
  const double diff = std::fabs(AMax - AMin);
  if (diff == 0 || !std::isfinite(diff)) return 0;
  std::int64_t result = std::int64_t{APrecision} - (static_cast<std::int64_t>(std::trunc(std::log10(diff))) + 1);
  if (diff < 1) ++result;
  if (result > std::numeric_limits<std::int32_t>::max()) RaiseRange("Decimal points out of range = %lld", static_cast<long long>(result));
  return result < 0 ? 0 : static_cast<std::int32_t>(result);
}

std::string NXGetScaleTickText(double AValue, double AMin, double AMax, bool AFixedPrecision, std::uint32_t ANumDigits,
                               bool AIsScientific) {
  if (AIsScientific) return Trim(ExponentText(AValue, AFixedPrecision ? static_cast<int>(std::min<std::uint32_t>(ANumDigits, 1000)) : 15));
  if (ANumDigits > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))
    RaiseRange("Number of digits out of range = %u", ANumDigits);
  const std::int32_t decimals = NXGetDecimalPoints(AMax, AMin, static_cast<std::int32_t>(ANumDigits), AFixedPrecision);
  std::string text = Trim(FixedText(AValue, decimals));
  if (AFixedPrecision && text.find('E') != std::string::npos)
    text = NXReduceExponentPrecision(text, static_cast<std::int32_t>(ANumDigits));
  return text;
}

std::string NXReduceExponentPrecision(const std::string& AText, std::int32_t APrecision) {
  std::string result = AText;
  const std::size_t ePos = result.find('E');
  const std::size_t pPos = result.find(DecimalSeparator());
  if (ePos != std::string::npos && pPos != std::string::npos && ePos > pPos &&
      static_cast<std::int64_t>(ePos - pPos) > APrecision && APrecision >= 0) {
    const std::size_t from = pPos + 1 + static_cast<std::size_t>(APrecision);
    result.erase(from, ePos - from);
  }
  for (std::size_t at; (at = result.find("E0")) != std::string::npos;) result.erase(at + 1, 1);
  return result;
}

}  // namespace nx
