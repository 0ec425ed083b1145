// Windows and FIR design against long-double formulas; responses; the window calculator; NXFilterCalc.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "ExceptionMessage.h"
#include "algorithms/NXWindowFilter.h"
#include "nxruntime.h"

namespace nx {
namespace {

using LD = long double;
constexpr LD kPiL = std::numbers::pi_v<long double>;

// The weight of point k of an n-point window (n >= 3), from the closed forms.
LD WindowWeight(TNXWindowType t, double param, int k, int n) {
  const LD N = n - 1;
  switch (t) {
    case wtRect: return 1;
    case wtBartlett: return k <= N / 2 ? 2 * k / N : 2 - 2 * k / N;
    case wtHanning: return 0.5L - 0.5L * std::cos(2 * kPiL * k / N);
    case wtHamming: return 0.54L - 0.46L * std::cos(2 * kPiL * k / N);
    case wtBlackman: return (1 - param) / 2 - std::cos(2 * kPiL * k / N) / 2 + param / 2 * std::cos(4 * kPiL * k / N);
    case wtKaiser: {
      const LD a = static_cast<float>(param);
      auto i0 = [](LD x) {
        LD term = 1, sum = 1;
        for (int j = 1; j <= 9; ++j) term *= x / 2 / j, sum += term * term;
        return sum;
      };
      const LD m = N / 2;
      return i0(a * std::sqrt(m * m - (k - m) * (k - m))) / i0(a * m);
    }
  }
  return 0;
}

// The designs worked out independently: ideal response, window, inversion.
std::vector<LD> ExpectedTaps(TNXDesignFilterType d, int order, double f1, double f2, double fs, TNXWindowType w,
                             double param) {
  const int n = order % 2 == 0 ? order + 1 : order;
  const int m = (n - 1) / 2;
  std::vector<LD> h(n);
  const LD w1 = 2.0L * f1 / fs, w2 = 2.0L * f2 / fs;
  const bool band = d == fdftBandPass || d == fdftBandStop;
  for (int i = 0; i < n; ++i) {
    const int k = std::abs(i - m);
    if (k == 0) h[i] = band ? w2 - w1 : w1;
    else if (band) h[i] = 2 * std::sin(k * kPiL * (w2 - w1) / 2) * std::cos(k * kPiL * (w2 + w1) / 2) / (k * kPiL);
    else h[i] = std::sin(k * kPiL * w1) / (k * kPiL);
    h[i] *= WindowWeight(w, param, i, n);
  }
  if (d == fdftHighPass || d == fdftBandStop) {
    LD s = 0;
    for (int i = 0; i < n; ++i) h[i] = -h[i], s += (i % 2 == 0) ? h[i] : -h[i];
    h[m] += 1;
    s += 1;
    for (LD& v : h) v /= std::fabs(s);
  }
  return h;
}

TEST(FIRDesign, EveryWindowTypeAndOrderMatchesTheFormulas) {
  const struct { TNXWindowType window; double param; } windows[] = {
      {wtRect, 0}, {wtBartlett, 0}, {wtBlackman, 0.16}, {wtHamming, 0}, {wtHanning, 0}, {wtKaiser, 0.37}};
  for (const auto& w : windows)
    for (TNXDesignFilterType d : {fdftLowPass, fdftHighPass, fdftBandPass, fdftBandStop})
      for (int order : {4, 5, 10, 31, 64, 255}) {
        const auto taps = NXFilterCalc(ftFIR, d, order, 1100.0, 2900.0, 8000.0, w.window, iirButterworth, 0, w.param)->GetTaps();
        const std::vector<LD> expected = ExpectedTaps(d, order, 1100.0, 2900.0, 8000.0, w.window, w.param);
        ASSERT_EQ(taps.size(), expected.size()) << "order " << order;
        for (std::size_t i = 0; i < taps.size(); ++i)
          ASSERT_NEAR(taps[i], static_cast<double>(expected[i]), 1e-12)
              << "window " << w.window << " design " << d << " order " << order << " tap " << i;
      }
}

TEST(ApplyWindow, StatusesAndEdgeCases) {
  std::vector<double> data{1, 2, 3, 4}, three{5, 6, 7}, two{5, 6}, empty;
  EXPECT_EQ(NXApplyWindow(data, wtRect, 0), ippStsNoErr);
  EXPECT_EQ(NXApplyWindow(three, wtHanning, 0), ippStsNoErr);
  EXPECT_EQ(NXApplyWindow(two, wtHamming, 0), ippStsSizeErr);
  EXPECT_TRUE(data == (std::vector<double>{1, 2, 3, 4}) && three == (std::vector<double>{0, 6, 0}));
  EXPECT_EQ(two, (std::vector<double>{5, 6}));
  EXPECT_EQ(NXApplyWindow(data, static_cast<TNXWindowType>(9), 0), 9);
  EXPECT_THROW(NXApplyWindow(empty, wtHanning, 0), ERangeError);
  EXPECT_THROW(NXRealLowPassCalc(data, -1, 1000, 4000, wtRect, 0), ERangeError);
}

TEST(FIRResponse, MatchesDirectEvaluationOnItsGrid) {
  std::vector<double> mags, phases;
  std::mt19937 g(7);
  std::uniform_real_distribution<double> u(-1, 1);
  for (int len : {20, 600}) {
    std::vector<double> taps(len);
    for (double& t : taps) t = u(g);
    NXGetFIRResponse(taps, mags, phases);
    const int half = len > 512 ? 512 : 256;
    ASSERT_EQ(mags.size(), static_cast<std::size_t>(half + 1));
    for (int i = 0; i <= half; i += 7) {
      const LD w = i == 0 ? kPiL / 10000 : kPiL * i / half;
      LD re = 0, im = 0;
      for (int k = 0; k < len; ++k) re += taps[k] * std::cos(k * w), im += taps[k] * std::sin(k * w);
      EXPECT_NEAR(mags[i], static_cast<double>(re * re + im * im), 1e-10 * len);
      EXPECT_NEAR(phases[i], static_cast<double>(std::atan(im / (1 - re))), 1e-9);
    }
  }
}

// The weights, gains and the complex form; the six old types give the same windows; the cosine sum; limits.
TEST(WindowCalculator, WeightsInEveryFormCosSumKernelAndOrderLimits) {
  const int order = 6, size = 64;
  const LD N = size - 1;
  const std::pair<TNXExtendedWindowType, double> cases[] = {{xwtNone, 0}, {xwtRect, 0}, {xwtBartlett, 0},
      {xwtBlackman, 0.16}, {xwtHamming, 0}, {xwtHanning, 0}, {xwtKaiser, 0.11}, {xwtFlatTop, 0}, {xwtWelch, 0}};
  for (const auto& [type, param] : cases) {
    const auto weight = [&](int k) -> LD {
      const LD x = 2 * kPiL * k / N;
      if (type == xwtFlatTop) return 1 - 1.93L * std::cos(x) + 1.29L * std::cos(2 * x) - 0.388L * std::cos(3 * x) + 0.032L * std::cos(4 * x);
      if (type == xwtWelch) return 1 - std::pow((k - N / 2) / (N / 2), 2);
      return type == xwtNone ? 1 : WindowWeight(static_cast<TNXWindowType>(type - 1), param, k, size);
    };
    std::vector<double> real, old;
    std::vector<TComplex> cplx, kernel{{1, 2}};
    double gain = 0, power = 0, cgain = 0, cpower = 0;
    NXWindowCalculator::CalculateWindowForMult(real, type, order, param, gain, power, kernel);
    EXPECT_TRUE(kernel.empty());
    NXWindowCalculator::CalculateWindowForMult(cplx, type, order, param, cgain, cpower, kernel);
    ASSERT_EQ(real.size(), static_cast<std::size_t>(size));
    LD sum = 0, sumSq = 0;
    for (int k = 0; k < size; ++k) {
      sum += weight(k), sumSq += weight(k) * weight(k);
      EXPECT_NEAR(real[k], static_cast<double>(weight(k)), 1e-12) << type << " at " << k;
      EXPECT_TRUE(cplx[k].Re == real[k] && cplx[k].Im == real[k]);
    }
    const bool unit = type == xwtNone || type == xwtRect;
    EXPECT_NEAR(gain, unit ? 1.0 : static_cast<double>(size / sum), 1e-12);
    EXPECT_NEAR(power, unit ? 1.0 : static_cast<double>(std::sqrt(size / sumSq)), 1e-12);
    EXPECT_EQ(gain, cgain);
    if (type == xwtNone || type > xwtKaiser) continue;
    NXWindowCalculator::CalculateOldWindow(old, static_cast<TNXWindowType>(type - 1), order, param, cgain, cpower, kernel);
    EXPECT_EQ(old, real);
  }
  // The cosine-sum window as a symmetric kernel in frequency; at the block's centre it reads sum a_j = 1.
  for (int terms = 3; terms <= 12; ++terms) {
    std::vector<double> w;
    std::vector<TComplex> kernel;
    double gain = 0, power = 0;
    NXWindowCalculator::CalculateWindowForMult(w, xwtCosSum, 5, 0, gain, power, kernel, terms);
    const int t = std::clamp(terms, 4, 11);
    const auto a = NXWindowCalculator::CosSumCoefficients(terms);
    ASSERT_EQ(a.size(), static_cast<std::size_t>(t));
    ASSERT_EQ(kernel.size(), static_cast<std::size_t>(2 * t - 1));
    for (double v : w) EXPECT_EQ(v, 1.0);
    EXPECT_DOUBLE_EQ(gain, 1 / a[0]);
    LD centre = 0, sumA = 0;
    for (int b = 0; b < 2 * t - 1; ++b) {
      EXPECT_EQ(kernel[b].Im, 0.0);
      centre += ((b < t ? b : b - (2 * t - 1)) % 2 == 0 ? 1 : -1) * static_cast<LD>(kernel[b].Re);
    }
    for (int j = 0; j < t; ++j) {
      sumA += a[j];
      EXPECT_EQ(kernel[j].Re, kernel[(2 * t - 1 - j) % (2 * t - 1)].Re);
    }
    EXPECT_NEAR(static_cast<double>(sumA), 1.0, 1e-12);
    EXPECT_NEAR(static_cast<double>(centre), 1.0, 1e-12);
  }
  std::vector<double> a, untouched{3};  // an old window type out of range leaves the data; orders are limited
  std::vector<TComplex> kernel;
  double g1, p1;
  NXWindowCalculator::CalculateOldWindow(untouched, static_cast<TNXWindowType>(6), 5, 0, g1, p1, kernel);
  EXPECT_EQ(untouched, std::vector<double>{3});
  EXPECT_THROW(NXWindowCalculator::CalculateWindowForMult(a, xwtRect, 31, 0, g1, p1, kernel), ERangeError);
  EXPECT_THROW(NXWindowCalculator::CalculateWindowForMult(a, xwtRect, -1, 0, g1, p1, kernel), ERangeError);
}

// Each kind: FIR taps are the designer's, IIR ones sized by form; responses agree with Evaluate.
TEST(FilterCalc, DescriptionsOfEveryKindAndTheirDesignReports) {
  std::vector<double> direct{42.0};  // replaced, not appended to
  NXRealBandPassCalc(direct, 6, 900, 1500, 8000, wtHanning, 0);
  const std::size_t taps[] = {direct.size(), 2 * 13, 6 * 6};
  for (TNXFilterType t : {ftFIR, ftIIR, ftBiquadIIR}) {
    auto info = NXFilterCalc(t, fdftBandPass, 6, 900, 1500, 8000, wtHanning, iirChebyshev, -0.5);
    EXPECT_EQ(info->GetFilterType(), t);
    EXPECT_EQ(info->GetTaps().size(), taps[t]);
    EXPECT_TRUE(t != ftFIR || info->GetTaps() == direct);
    std::vector<double> mags, phases;
    info->GetResponse(mags, phases);
    ASSERT_EQ(mags.size(), 257u);
    for (int i = 1; i < 256; i += 5)
      EXPECT_NEAR(mags[i], std::norm(info->Evaluate(i / 512.0)), 1e-12 * (1 + mags[i])) << t << " at " << i;
  }
  const std::string message = nxtest::MessageOf<EAssertionFailed>(
      [] { NXFilterCalc(static_cast<TNXFilterType>(3), fdftLowPass, 4, 1, 2, 8, wtRect, iirBessel, 0); });
  EXPECT_EQ(message, "Unkonwn filter type (NXWindowFilter, line 676)");
  // The design report: a symmetric FIR delays by half its length; a Butterworth design is 3 dB down at its corner.
  auto fir = NXFilterCalc(ftFIR, fdftLowPass, 100, 1000, 0, 8000, wtKaiser, iirButterworth, 0);
  const TNXBand pass[] = {{0, 0.08}}, stop[] = {{0.17, 0.5}};
  TNXFilterReport r = fir->DesignReport(pass, stop);
  EXPECT_TRUE(std::abs(r.GroupDelayDC - 50) < 1e-9 && std::abs(r.GroupDelayCentre - 50) < 1e-9);
  EXPECT_TRUE(r.PolesInsideUnitCircle);
  ASSERT_EQ(r.Minus3dBFrequencies.size(), 1u);
  EXPECT_NEAR(r.Minus3dBFrequencies[0], 0.125, 0.01);
  EXPECT_TRUE(r.StopbandAttenuationDb > 50 && r.PassbandRippleDb < 0.1);
  for (TNXFilterType t : {ftIIR, ftBiquadIIR}) {
    auto iir = NXFilterCalc(t, fdftLowPass, 2, 800, 0, 8000, wtRect, iirButterworth, 0);
    const TNXBand p[] = {{0, 0.05}}, s[] = {{0.3, 0.5}};
    r = iir->DesignReport(p, s);
    ASSERT_EQ(r.Minus3dBFrequencies.size(), 1u);
    EXPECT_NEAR(r.Minus3dBFrequencies[0], 0.1, 1e-9);
    EXPECT_NEAR(r.PassbandPeak, 1.0, 1e-12);
    EXPECT_TRUE(r.PolesInsideUnitCircle);
    // The group delay against the slope of the phase.
    const double h = 1e-6, f = 0.025;
    const double slope = -(std::arg(iir->Evaluate(f + h)) - std::arg(iir->Evaluate(f - h))) / (2 * h) /
                         (2 * std::numbers::pi);
    EXPECT_NEAR(r.GroupDelayCentre, slope, 1e-5);
  }
  // Poles at 2 and 0.5: unstable; a zero at DC leaves the high-pass delay there undefined.
  const TNXIIRFilterInfo unstable({1, 0, 0, 1, -2.5, 1});
  const TNXBiquadIIRFilterInfo unstableBq({1, 0, 0, 1, -2.5, 1});
  EXPECT_FALSE(unstable.PolesInsideUnitCircle());
  EXPECT_FALSE(unstableBq.PolesInsideUnitCircle());
  auto hp = NXFilterCalc(ftIIR, fdftHighPass, 3, 800, 0, 8000, wtRect, iirButterworth, 0);
  const TNXBand hpPass[] = {{0.2, 0.5}};
  EXPECT_TRUE(std::isnan(hp->DesignReport(hpPass, {}).GroupDelayDC));
}

}  // namespace
}  // namespace nx
