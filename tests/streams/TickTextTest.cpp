// Scale tick text: decimals from the range, fixed and exponent labels, and the
// shortening of exponent labels.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "streams/NXStreamTypes.h"

namespace nx {
namespace {

TEST(TickText, DecimalPointsFollowTheRange) {
  struct Case { double Max, Min; int Precision; bool SignificantOnly; int Expected; };
  const Case cases[] = {
      {5, 0, 3, false, 2},     {0, 50, 3, false, 1},  {5000, 0, 3, false, 0}, {0.5, 0, 3, false, 3},
      {0.05, 0, 3, false, 4},  {1, 1, 3, false, 0},   {1, 1, 3, true, 3},     {7, 2, 0, false, 0},
      {7, 2, -4, false, 0},    {NAN, 0, 3, false, 0}, {INFINITY, 0, 3, false, 0}, {-3, 2, 4, false, 3},
  };
  for (const Case& c : cases)
    EXPECT_EQ(NXGetDecimalPoints(c.Max, c.Min, c.Precision, c.SignificantOnly), c.Expected)
        << c.Max << " " << c.Min << " " << c.Precision;
  EXPECT_THROW(NXGetDecimalPoints(0.05, 0, 0x7FFFFFFF, false), ERangeError);
}

// Over ranges from 1e-12 to 1e12 (mantissas that are not powers of ten), the
// decimals keep the requested significant digits across the range: the range
// written with that many decimals has `digits` significant digits, and every
// label is its value rounded to those decimals.
TEST(TickText, FixedLabelsOverTwentyFourDecades) {
  for (int e = -12; e <= 12; ++e)
    for (double m : {1.5, 3.0, 7.5})
      for (std::uint32_t digits : {1u, 3u, 6u}) {
        const double range = m * std::pow(10.0, e);
        const int exponent = static_cast<int>(std::floor(std::log10(range)));
        // The range has exponent + 1 integer digits; below 1 the routine's
        // extra decimal makes up for the zero before the separator.
        const int want = std::max(0, static_cast<int>(digits) - (exponent + 1));
        for (double value : {0.0, -range / 3, range * 0.77}) {
          const std::string text = NXGetScaleTickText(value, -range, 0, false, digits, false);
          const std::size_t point = text.find('.');
          const int decimals = point == std::string::npos ? 0 : static_cast<int>(text.size() - point - 1);
          EXPECT_EQ(decimals, want) << text << " range " << range << " digits " << digits;
          char expectText[128];
          std::snprintf(expectText, sizeof expectText, "%.*f", want, value);
          EXPECT_EQ(text, expectText);
        }
        // A fixed-precision scale shows exactly `digits` decimals whatever the range.
        const std::string fixed = NXGetScaleTickText(range, 0, range, true, digits, false);
        EXPECT_EQ(fixed.size() - fixed.find('.') - 1, digits) << fixed;
      }
}

TEST(TickText, ScientificLabels) {
  struct Case { double Value; bool Fixed; std::uint32_t Digits; const char* Expected; };
  const Case cases[] = {
      {150000, false, 0, "1.50000000000000E+005"}, {-2.5e-12, true, 3, "-2.50E-012"},
      {0, true, 2, "0.0E+000"},                    {1e300, true, 1, "1E+300"},
      {123456, true, 4, "1.235E+005"},             {-7.25e12, false, 0, "-7.25000000000000E+012"},
  };
  for (const Case& c : cases) EXPECT_EQ(NXGetScaleTickText(c.Value, 0, 1, c.Fixed, c.Digits, true), c.Expected);
}

TEST(TickText, EdgeValuesOfFixedScales) {
  EXPECT_EQ(NXGetScaleTickText(12.5, 0, 10, false, 3, false), "12.5");
  EXPECT_EQ(NXGetScaleTickText(12.5, 0, 100, false, 3, false), "12");  // no decimal; an exact half rounds to even
  EXPECT_EQ(NXGetScaleTickText(-0.004, 0, 0.01, false, 2, false), "-0.0040");  // an exact power of ten
  // Too large for fixed notation: exponent form, shortened on a fixed-precision scale.
  EXPECT_EQ(NXGetScaleTickText(2.5e20, 0, 1, true, 2, false), "2.50E+020");
  EXPECT_EQ(NXGetScaleTickText(2.5e20, 0, 1, false, 2, false), "2.50000000000000E+020");
  EXPECT_THROW(NXGetScaleTickText(1, 0, 1, false, 0x80000000u, false), ERangeError);
}

TEST(TickText, ReducingExponentLabels) {
  struct Case { const char* Text; int Precision; const char* Expected; };
  const Case cases[] = {
      {"1.2345E20", 2, "1.23E20"}, {"1.5E005", 4, "1.5E5"},   {"15E0007", 1, "15E7"},
      {"1.5E+005", 1, "1.5E+005"}, {"9.87654E-3", 0, "9.E-3"}, {"42", 2, "42"},
  };
  for (const Case& c : cases) EXPECT_EQ(NXReduceExponentPrecision(c.Text, c.Precision), c.Expected) << c.Text;
}

}  // namespace
}  // namespace nx
