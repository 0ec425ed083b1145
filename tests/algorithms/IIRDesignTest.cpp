// IIR design against the textbook magnitudes, cascade against direct form, gains, Bessel, orders.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "algorithms/NXWindowFilter.h"
#include "nxruntime.h"

namespace nx {
namespace {

using LD = long double;
using TC = std::complex<double>;
constexpr LD kPiL = std::numbers::pi_v<long double>;

struct Design { TNXIIRFilterType proto; TNXDesignFilterType type; int order; double a1, a2; };

std::string Name(const Design& d) {
  return std::to_string(d.proto) + "/" + std::to_string(d.type) + " order " + std::to_string(d.order) + " corners " +
         std::to_string(d.a1) + "/" + std::to_string(d.a2);
}

void Configure(TNXDesignedIIRbase& f, const Design& d) {
  f.SetOrder(d.order), f.SetFilterType(d.proto), f.SetDesignType(d.type);
  f.SetAlpha1(d.a1), f.SetAlpha2(d.a2), f.Calculate();
}

// |H| of the textbook filter at f: the analogue prototype, bilinear, prewarped corners.
LD Textbook(const Design& d, int n, double f, LD eps) {
  const LD w = 2 * std::tan(kPiL * f);
  const LD c1 = 2 * std::tan(kPiL * d.a1), c2 = 2 * std::tan(kPiL * d.a2);
  LD x = 0;
  switch (d.type) {
    case fdftLowPass: x = w / c1; break;
    case fdftHighPass: x = c1 / w; break;
    case fdftBandPass: x = (w * w - c1 * c2) / (w * (c2 - c1)); break;
    case fdftBandStop: x = w * (c2 - c1) / (c1 * c2 - w * w); break;
  }
  if (d.proto == iirButterworth) return 1 / std::sqrt(1 + std::pow(std::fabs(x), 2 * n));
  const LD ax = std::fabs(x);
  const LD t = ax <= 1 ? std::cos(n * std::acos(ax)) : std::cosh(n * std::acosh(ax));
  return 1 / std::sqrt(1 + eps * eps * t * t);
}

// The response at f and the relative error the taps' rounding allows there (points beyond it are skipped).
struct TResponse { TC H; double Bound; };

TResponse Respond(const std::vector<double>& taps, bool biquad, double f) {
  const std::complex<LD> zi = std::polar<LD>(1, -2 * kPiL * f);
  const int n = biquad ? 3 : static_cast<int>(taps.size() / 2);
  std::complex<LD> h = 1;
  double bound = 0;
  for (std::size_t s = 0; s < taps.size(); s += 2 * n) {
    std::complex<LD> v[2];
    for (int part = 0; part < 2; ++part) {
      const double* c = &taps[s + part * n];
      LD size = 0;
      for (int k = n; k-- > 0;) {
        v[part] = v[part] * zi + static_cast<LD>(c[k]);
        size += std::fabs(static_cast<LD>(c[k]));
      }
      bound += static_cast<double>(n * 2.3e-16L * size / std::abs(v[part]));
    }
    h *= v[0] / v[1];
  }
  return {TC(static_cast<double>(h.real()), static_cast<double>(h.imag())), bound};
}

TC Eval(const std::vector<double>& taps, bool biquad, double f) { return Respond(taps, biquad, f).H; }

// Points where the rounding bound stays below this are compared to 1e-9.
constexpr double kRepresentable = 1e-10;

std::vector<double> DirectTaps(const TNXDesignedIIRbase& f) {
  std::vector<double> t = f.GetNumerator();
  t.insert(t.end(), f.GetDenominator().begin(), f.GetDenominator().end());
  return t;
}

// The grid of designs: corners from 0.01 to 0.45, every order and type.
std::vector<Design> Grid() {
  const double corners[][2] = {{0.01, 0.03}, {0.05, 0.2}, {0.12, 0.13}, {0.2, 0.3}, {0.3, 0.45}, {0.4, 0.45}};
  std::vector<Design> g;
  for (TNXIIRFilterType p : {iirButterworth, iirChebyshev})
    for (TNXDesignFilterType t : {fdftLowPass, fdftHighPass, fdftBandPass, fdftBandStop})
      for (int order = 1; order <= 10; ++order)
        for (const auto& c : corners) g.push_back({p, t, order, t <= fdftHighPass ? c[order % 2] : c[0], c[1]});
  return g;
}

// Per design: |H| over the textbook's is one constant to 1e-9 (down to 1e-5 of the peak); unit gain at DC, Nyquist,
// band centre or (band stop) their geometric mean; both forms' complex responses agree (a mirrored pole shows).
TEST(IIRDesign, EveryDesignMatchesItsTextbookFilterHasUnitGainAndBothFormsAgree) {
  const LD eps = std::sqrt(std::pow(10.0L, 0.1L) - 1);  // the default ripple of -1 dB
  int checked = 0, points = 0, compared = 0;
  for (const Design& d : Grid()) {
    for (bool biquad : {false, true}) {
      TNXDesignedIIRbase plain;
      TNXDesignedIIRbiquad bq;
      TNXDesignedIIRbase& f = biquad ? bq : plain;
      Configure(f, d);
      const std::vector<double> taps = biquad ? bq.GetSectionTaps() : DirectTaps(plain);
      const int n = f.GetOrder();
      LD ratio0 = -1;
      for (int i = 1; i < 400; ++i) {
        const double fr = 0.5 * i / 400;
        const LD text = Textbook(d, n, fr, eps);
        if (text < 1e-5L || Respond(taps, biquad, fr).Bound > kRepresentable) continue;
        ++points;
        const LD ratio = std::abs(Eval(taps, biquad, fr)) / text;
        if (ratio0 < 0) ratio0 = ratio;
        ASSERT_NEAR(static_cast<double>(ratio / ratio0), 1.0, 1e-9) << Name(d) << (biquad ? " biquad" : " direct")
                                                                     << " at " << fr;
      }
      checked += ratio0 > 0;
    }
    for (TNXIIRFilterType proto : {iirBessel, d.proto}) {
      const Design e{proto, d.type, d.order, d.a1, d.a2};
      TNXDesignedIIRbiquad bq;
      Configure(bq, e);
      const auto t = bq.GetSectionTaps();
      const double dc = std::abs(Eval(t, true, 0)), nyquist = std::abs(Eval(t, true, 0.5));
      const double gain = e.type == fdftLowPass    ? dc
                          : e.type == fdftHighPass ? nyquist
                          : e.type == fdftBandPass ? std::abs(Eval(t, true, 0.5 * (e.a1 + e.a2)))
                                                   : std::sqrt(dc * nyquist);
      ASSERT_NEAR(gain, 1.0, 1e-12) << Name(e);
    }
    TNXDesignedIIRbiquad bq;
    Configure(bq, d);
    if (bq.GetOrder() > 8) continue;
    Design e = d;
    e.order = bq.GetOrder();  // the cascade is designed at this order
    TNXDesignedIIRbase plain;
    Configure(plain, e);
    const std::vector<double> dt = DirectTaps(plain);
    double worst = 0;
    for (int i = 0; i <= 200; ++i)
      if (std::abs(Eval(dt, false, 0.5 * i / 200)) > 1e-5)
        worst = std::max(worst, Respond(dt, false, 0.5 * i / 200).Bound);
    // An ill-conditioned direct form's response is lost to the rounding of its taps.
    if (worst > kRepresentable) continue;
    for (int i = 0; i <= 200; ++i) {
      const double f = 0.5 * i / 200;
      const TC a = Eval(dt, false, f), b = Eval(bq.GetSectionTaps(), true, f);
      ASSERT_LE(std::abs(a - b), 1e-9 * std::max(1.0, std::abs(a))) << Name(d) << " at " << f;
    }
    ++compared;
  }
  EXPECT_GT(compared, 120);
  EXPECT_GT(checked, 900);
  EXPECT_GT(points, 250000);
}

// The Bessel prototypes (corner 1/(2 pi), not prewarped) are 3 dB down at 1 rad/s; none above 10.
TEST(IIRDesign, BesselPrototypesOrdersAndTapCounts) {
  TNXDesignedIIRbase f;
  f.SetOptions({fdoNoPrewrap});
  for (int n = 1; n <= 10; ++n) {
    Configure(f, {iirBessel, fdftLowPass, n, 1 / (2 * std::numbers::pi), 0});
    ASSERT_EQ(f.GetSPlane().Poles.size(), static_cast<std::size_t>(n));
    std::complex<LD> den = 1, dc = 1;
    for (const TC& p : f.GetSPlane().Poles) {
      EXPECT_LT(p.real(), 0);
      den *= std::complex<LD>(0, 1) - std::complex<LD>(p.real(), p.imag());
      dc *= -std::complex<LD>(p.real(), p.imag());
    }
    EXPECT_NEAR(static_cast<double>(std::abs(dc / den)), 1 / std::sqrt(2.0), 1e-8) << "order " << n;
  }
  EXPECT_EQ(f.GetWarpedAlpha1(), 1 / (2 * std::numbers::pi));  // not prewarped
  Configure(f, {iirChebyshev, fdftLowPass, 4, 0.1, 0});
  EXPECT_EQ(f.GetPoleMask(), 0xFFFFFFFFu >> 4);
  f.SetFilterType(iirBessel);
  f.SetOrder(11);
  EXPECT_THROW(f.Calculate(), ERangeError);
  // Band designs double the poles; they and the cascade round the order up to even.
  const struct { TNXDesignFilterType type; int order, direct, biquad; } cases[] = {
      {fdftLowPass, 3, 3, 4}, {fdftHighPass, 4, 4, 4}, {fdftBandStop, 5, 6, 6}, {fdftBandPass, 0, 0, 2}};
  for (const auto& c : cases) {
    TNXDesignedIIRbase d;
    TNXDesignedIIRbiquad b;
    Configure(d, {iirButterworth, c.type, c.order, 0.1, 0.2});
    Configure(b, {iirButterworth, c.type, c.order, 0.1, 0.2});
    EXPECT_EQ(d.GetOrder(), c.direct);
    EXPECT_EQ(b.GetOrder(), c.biquad);
    const std::size_t poles = (c.type >= fdftBandPass ? 2 : 1) * static_cast<std::size_t>(c.direct);
    EXPECT_EQ(d.GetNumerator().size(), poles + 1);
    EXPECT_EQ(d.GetDenominator().size(), poles + 1);
    EXPECT_EQ(b.GetSectionCount(), (c.type >= fdftBandPass ? 2 : 1) * c.biquad / 2);
  }
}

}  // namespace
}  // namespace nx
