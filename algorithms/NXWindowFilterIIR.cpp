// NXWindowFilter, IIR part: the direct-form and biquad designers. Prototype
// poles (Bessel table, Butterworth and Chebyshev placement), prewarping, the
// four s-plane transforms, the bilinear (or matched) mapping to the z-plane,
// polynomial expansion and gain normalisation; the biquad designer pairs the
// z-plane roots into second-order sections.
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <numbers>
#include <vector>

#include "algorithms/NXWindowFilter.h"
#include "algorithms/NXWindowFilterPoly.h"
#include "runtime/SysUtils.h"

namespace nx {

using windowfilter::TCLong;
using TC = std::complex<double>;

namespace {
constexpr double kPi = std::numbers::pi;
}  // namespace

// Orders 1 .. 4 and 10 as the package has always tabled them; 5 .. 9 are the
// roots of the reverse Bessel polynomials scaled to -3 dB at 1 rad/s.
const std::complex<double> bessel_poles[30] = {
    {-1, 0},                                                                       // 1
    {-1.10160133059, 0.636009824757},                                              // 2
    {-1.32267579991, 0},           {-1.04740916101, 0.999264436281},               // 3
    {-1.37006783055, 0.410249717494}, {-0.99520876435, 1.25710573945},             // 4
    {-1.50231627145, 0},           {-1.38087732586, 0.717909587627},               // 5
    {-0.957676548563, 1.47112432073},
    {-1.57149040362, 0.320896374223}, {-1.3818580976, 0.971471890712},             // 6
    {-0.930656522947, 1.66186326894},
    {-1.68436817927, 0},           {-1.61203876623, 0.589244506931},               // 7
    {-1.3789032168, 1.1915667778},  {-0.909867780623, 1.83645135304},
    {-1.7574084004, 0.272867575102}, {-1.63693941813, 0.82279562514},              // 8
    {-1.37384121764, 1.38835657588}, {-0.892869718847, 1.99832584364},
    {-1.85660050123, 0},           {-1.80717053496, 0.512383730575},               // 9
    {-1.65239648458, 1.03138956698}, {-1.36758830979, 1.56773371224},
    {-0.878399276161, 2.14980052431},
    {-1.92761969145, 0.241623471082}, {-1.84219624443, 0.727257597722},            // 10
    {-1.6618102414, 1.22110021857},  {-1.36069227838, 1.73350574267},
    {-0.865756901707, 2.29260483098},
};

namespace windowfilter {

bool RootsInsideUnitCircle(const double* a, std::size_t n) {
  if (n == 0 || a[0] == 0) return false;
  std::vector<long double> c(n), next(n);
  for (std::size_t k = 0; k < n; ++k) c[k] = static_cast<long double>(a[k]) / a[0];
  for (std::size_t m = n - 1; m >= 1; --m) {
    const long double k = c[m];
    if (!(std::fabs(k) < 1)) return false;
    const long double d = 1 - k * k;
    for (std::size_t i = 0; i < m; ++i) next[i] = (c[i] - k * c[m - i]) / d;
    std::copy(next.begin(), next.begin() + static_cast<std::ptrdiff_t>(m), c.begin());
  }
  return true;
}

}  // namespace windowfilter

// ---------------------------------------------------------------- direct form

std::int32_t TNXDesignedIIRbase::GetOrder() const {
  if ((FDesignType == fdftBandPass || FDesignType == fdftBandStop) && FOrder % 2 != 0) return FOrder + 1;
  return FOrder;
}

void TNXDesignedIIRbase::Calculate() {
  FPoleMask = 0xFFFFFFFFu;
  if (FDesignType == fdftLowPass || FDesignType == fdftHighPass) FAlpha2 = FAlpha1;
  ComputePrototype();
  Prewarp();
  Normalize();
  Compute_z_blt();
  Expandpoly();
  MapToTaps();
  DesignDone();
}

void TNXDesignedIIRbase::ComputePrototype() {
  const std::int32_t n = GetOrder();
  if (n < 0) RaiseRange("Order out of range = %d", n);
  FSPlane.Poles.clear();
  FSPlane.Zeros.clear();
  if (FFilterType == iirBessel) {
    if (n > 10) RaiseRange("Order out of range = %d", n);
    std::int32_t at = n * n / 4;
    if (n % 2 != 0) FSPlane.Poles.push_back(bessel_poles[at++]);
    for (std::int32_t j = 0; j < n / 2; ++j, ++at) {
      FSPlane.Poles.push_back(bessel_poles[at]);
      FSPlane.Poles.push_back(std::conj(bessel_poles[at]));
    }
    return;
  }
  // Butterworth (and the Chebyshev start): the left half of 2n points of the
  // unit circle, kept while the mask has bits left.
  for (std::int32_t i = 0; i < 2 * n; ++i) {
    const double theta = (n % 2 != 0) ? i * kPi / n : (i + 0.5) * kPi / n;
    const TC z(std::cos(theta), std::sin(theta));
    if (z.real() < 0 && (FPoleMask & 1u) != 0) {
      FSPlane.Poles.push_back(z);
      FPoleMask >>= 1;
    }
  }
  if (FFilterType == iirChebyshev) {
    if (FRipple == 0) RaiseRange("Ripple out of range = %g", static_cast<double>(FRipple));
    const double ripple = -std::fabs(static_cast<double>(FRipple));
    const double eps = std::sqrt(std::pow(10.0, -ripple / 10) - 1);
    const double x = 1 / eps;
    const double y = std::log(x + std::sqrt(x * x + 1)) / n;
    for (TC& p : FSPlane.Poles) p = TC(p.real() * std::sinh(y), p.imag() * std::cosh(y));
  }
}

void TNXDesignedIIRbase::Prewarp() {
  // The matched transform maps pole frequencies exactly: no prewarping there.
  if (FOptions.Contains(fdoNoPrewrap) || FOptions.Contains(fdoUseMatchedZTransform)) {
    FWarpedAlpha1 = FAlpha1;
    FWarpedAlpha2 = FAlpha2;
  } else {
    FWarpedAlpha1 = std::tan(kPi * FAlpha1) / kPi;
    FWarpedAlpha2 = std::tan(kPi * FAlpha2) / kPi;
  }
}

void TNXDesignedIIRbase::Normalize() {
  const double w1 = 2 * kPi * FWarpedAlpha1, w2 = 2 * kPi * FWarpedAlpha2;
  TNXComplexArray& poles = FSPlane.Poles;
  TNXComplexArray& zeros = FSPlane.Zeros;
  const std::size_t n = poles.size();
  zeros.clear();
  switch (FDesignType) {
    case fdftLowPass:
      for (TC& p : poles) p *= w1;
      break;
    case fdftHighPass:
      for (TC& p : poles) p = w1 / p;
      zeros.assign(n, TC(0, 0));
      break;
    case fdftBandPass:
    case fdftBandStop: {
      const double w0 = std::sqrt(w1 * w2), bw = w2 - w1;
      TNXComplexArray out;
      out.reserve(2 * n);
      for (const TC& p : poles) {
        const TC h = FDesignType == fdftBandPass ? 0.5 * p * bw : 0.5 * bw / p;
        const TC r = std::sqrt(1.0 - (w0 / h) * (w0 / h));
        out.push_back(h * (1.0 + r));
        out.push_back(h * (1.0 - r));
      }
      poles.swap(out);
      if (FDesignType == fdftBandPass) {
        zeros.assign(n, TC(0, 0));
      } else {
        for (std::size_t i = 0; i < n; ++i) {
          zeros.push_back(TC(0, w0));
          zeros.push_back(TC(0, -w0));
        }
      }
      break;
    }
  }
}

void TNXDesignedIIRbase::Compute_z_blt() {
  const bool matched = FOptions.Contains(fdoUseMatchedZTransform);
  auto map = [matched](TC s) { return matched ? std::exp(s) : (2.0 + s) / (2.0 - s); };
  FZPlane.Poles.clear();
  FZPlane.Zeros.clear();
  for (const TC& p : FSPlane.Poles) FZPlane.Poles.push_back(map(p));
  for (const TC& z : FSPlane.Zeros) FZPlane.Zeros.push_back(map(z));
  // Zeros at infinity in s land on z = -1.
  while (FZPlane.Zeros.size() < FZPlane.Poles.size()) FZPlane.Zeros.push_back(TC(-1, 0));
}

namespace {

// Coefficients (descending powers of z, leading 1) of the polynomial with the
// given roots; the real parts, expanded in extended precision.
std::vector<double> Expand(const TNXComplexArray& ARoots) {
  std::vector<TCLong> c(ARoots.size() + 1, TCLong(0));
  c[0] = 1;
  for (std::size_t i = 0; i < ARoots.size(); ++i) {
    const TCLong r(ARoots[i].real(), ARoots[i].imag());
    for (std::size_t k = i + 1; k >= 1; --k) c[k] -= r * c[k - 1];
  }
  std::vector<double> out(c.size());
  for (std::size_t k = 0; k < c.size(); ++k) out[k] = static_cast<double>(c[k].real());
  return out;
}

TC Ratio(const std::vector<double>& ANum, const std::vector<double>& ADen, TCLong AZInv) {
  const TCLong d = windowfilter::PolyAt(ADen.data(), ADen.size(), AZInv);
  const TCLong n = windowfilter::PolyAt(ANum.data(), ANum.size(), AZInv);
  if (std::abs(d) == 0) return TC(std::numeric_limits<double>::infinity(), 0);
  const TCLong r = n / d;
  return TC(static_cast<double>(r.real()), static_cast<double>(r.imag()));
}

void Response(std::vector<double>& AMagnitudes, std::vector<double>& APhases, std::int32_t APoints,
              const std::function<TC(TCLong)>& AH) {
  if (APoints < 2) RaiseRange("Index out of range = %u", static_cast<unsigned>(APoints));
  AMagnitudes.resize(static_cast<std::size_t>(APoints));
  APhases.resize(static_cast<std::size_t>(APoints));
  for (std::int32_t i = 0; i < APoints; ++i) {
    const TC h = AH(windowfilter::UnitInverse(0.5 * i / (APoints - 1)));
    AMagnitudes[i] = std::norm(h);
    APhases[i] = std::arg(h);
  }
}

}  // namespace

std::complex<double> TNXDesignedIIRbase::CentreZ() const {
  return std::polar(1.0, kPi * (FAlpha1 + FAlpha2));
}

void TNXDesignedIIRbase::Expandpoly() {
  FNumerator = Expand(FZPlane.Zeros);
  FDenominator = Expand(FZPlane.Poles);
  FDCGain = Ratio(FNumerator, FDenominator, TCLong(1));
  const TC c = 1.0 / CentreZ();
  FFCGain = Ratio(FNumerator, FDenominator, TCLong(c.real(), c.imag()));
  FHFGain = Ratio(FNumerator, FDenominator, TCLong(-1));
}

double TNXDesignedIIRbase::ReferenceGain(TC ADC, TC AFC, TC AHF) const {
  switch (FDesignType) {
    case fdftLowPass: return std::abs(ADC);
    case fdftHighPass: return std::abs(AHF);
    case fdftBandPass: return std::abs(AFC);
    case fdftBandStop: return std::sqrt(std::abs(ADC) * std::abs(AHF));
  }
  return 0;
}

void TNXDesignedIIRbase::MapToTaps() {
  const double g = ReferenceGain(FDCGain, FFCGain, FHFGain);
  const double scale = (g == 0 || !std::isfinite(g)) ? 1.0 : 1.0 / g;
  for (double& b : FNumerator) b *= scale;
}

void TNXDesignedIIRbase::CalcFreqResponse(std::vector<double>& AMagnitudes, std::vector<double>& APhases,
                                          std::int32_t APoints) {
  Response(AMagnitudes, APhases, APoints, [this](TCLong zinv) { return Ratio(FNumerator, FDenominator, zinv); });
}

// ---------------------------------------------------------------- biquad cascade

std::int32_t TNXDesignedIIRbiquad::GetOrder() const {
  const std::int32_t n = std::max<std::int32_t>(FOrder, 2);
  return n % 2 != 0 ? n + 1 : n;
}

namespace {
// A root counts as real when its imaginary part is this small against its size.
bool IsReal(TC r) { return std::fabs(r.imag()) <= 1e-10 * std::max(1.0, std::abs(r)); }
}  // namespace

std::size_t TNXDesignedIIRbiquad::FindSiblingPole(const TNXComplexArray& ARoots, std::size_t AFrom, TC ARoot) {
  std::size_t best = AFrom;
  double bestDistance = std::numeric_limits<double>::infinity();
  for (std::size_t i = AFrom; i < ARoots.size(); ++i) {
    const double d = std::abs(ARoots[i] - std::conj(ARoot));
    if (d < bestDistance) {
      bestDistance = d;
      best = i;
    }
  }
  return best;
}

void TNXDesignedIIRbiquad::Cplxpair(TNXComplexArray& ARoots) {
  TNXComplexArray complexRoots, realRoots;
  for (const TC& r : ARoots) (IsReal(r) ? realRoots : complexRoots).push_back(r);
  TNXComplexArray out;
  out.reserve(ARoots.size());
  // Each root of the upper half plane followed by its partner.
  TNXComplexArray rest = complexRoots;
  while (!rest.empty()) {
    auto upper = std::find_if(rest.begin(), rest.end(), [](const TC& r) { return r.imag() > 0; });
    if (upper == rest.end()) upper = rest.begin();
    const TC root = *upper;
    rest.erase(upper);
    const std::size_t sibling = FindSiblingPole(rest, 0, root);
    out.push_back(root);
    if (sibling < rest.size()) {
      out.push_back(rest[sibling]);
      rest.erase(rest.begin() + static_cast<std::ptrdiff_t>(sibling));
    }
  }
  std::sort(realRoots.begin(), realRoots.end(), [](const TC& a, const TC& b) { return a.real() < b.real(); });
  for (const TC& r : realRoots) out.push_back(TC(r.real(), 0));
  ARoots.swap(out);
}

namespace {

struct TRootPair {
  TC A, B;
  bool Single = false;  // one real root only (a first-order factor)
};

// Pairs roots ordered by Cplxpair: conjugates together; the real ones the
// smallest with the largest (a band-pass section then gets one zero at -1 and
// one at +1, which keeps its gain balanced).
std::vector<TRootPair> PairRoots(const TNXComplexArray& ARoots) {
  std::vector<TRootPair> pairs;
  std::size_t i = 0;
  while (i < ARoots.size() && !IsReal(ARoots[i])) {
    if (i + 1 < ARoots.size()) pairs.push_back({ARoots[i], ARoots[i + 1]});
    else pairs.push_back({ARoots[i], std::conj(ARoots[i])});
    i += 2;
  }
  std::size_t lo = i, hi = ARoots.size();
  while (lo + 1 < hi) {
    pairs.push_back({ARoots[lo], ARoots[hi - 1]});
    ++lo;
    --hi;
  }
  if (lo < hi) pairs.push_back({ARoots[lo], TC(0, 0), true});
  return pairs;
}

void PairCoefficients(const TRootPair& APair, double* c) {
  if (APair.Single) {
    c[0] = 1;
    c[1] = -APair.A.real();
    c[2] = 0;
    return;
  }
  c[0] = 1;
  c[1] = -(APair.A + APair.B).real();
  c[2] = (APair.A * APair.B).real();
}

double Radius(const TRootPair& APair) { return std::max(std::abs(APair.A), APair.Single ? 0.0 : std::abs(APair.B)); }

double Distance(const TRootPair& APoles, const TRootPair& AZeros) {
  double d = std::abs(APoles.A - AZeros.A);
  if (!AZeros.Single) d = std::min(d, std::abs(APoles.A - AZeros.B));
  return d;
}

// H of one section at z^-1.
TCLong SectionAt(const double* s, TCLong zinv) {
  return windowfilter::PolyAt(s, 3, zinv) / windowfilter::PolyAt(s + 3, 3, zinv);
}

}  // namespace

void TNXDesignedIIRbiquad::Expandpoly() {
  TNXComplexArray poles = FZPlane.Poles, zeros = FZPlane.Zeros;
  Cplxpair(poles);
  Cplxpair(zeros);
  std::vector<TRootPair> polePairs = PairRoots(poles), zeroPairs = PairRoots(zeros);
  // The poles nearest the unit circle choose their zeros first.
  std::sort(polePairs.begin(), polePairs.end(),
            [](const TRootPair& a, const TRootPair& b) { return Radius(a) > Radius(b); });
  std::vector<TRootPair> chosenZeros;
  for (const TRootPair& p : polePairs) {
    std::size_t best = 0;
    for (std::size_t i = 1; i < zeroPairs.size(); ++i)
      if (Distance(p, zeroPairs[i]) < Distance(p, zeroPairs[best])) best = i;
    if (zeroPairs.empty()) {
      chosenZeros.push_back({TC(0, 0), TC(0, 0), false});
    } else {
      chosenZeros.push_back(zeroPairs[best]);
      zeroPairs.erase(zeroPairs.begin() + static_cast<std::ptrdiff_t>(best));
    }
  }
  // Stored with the poles farthest from the unit circle first.
  const std::size_t count = polePairs.size();
  FSectionTaps.assign(6 * count, 0.0);
  for (std::size_t s = 0; s < count; ++s) {
    const std::size_t from = count - 1 - s;
    double* t = FSectionTaps.data() + 6 * s;
    PairCoefficients(chosenZeros[from], t);
    PairCoefficients(polePairs[from], t + 3);
  }
  FNumerator.clear();
  FDenominator.clear();
  FDCGain = Calc_H_of_Z(TC(1, 0));
  FFCGain = Calc_H_of_Z(CentreZ());
  FHFGain = Calc_H_of_Z(TC(-1, 0));
}

void TNXDesignedIIRbiquad::MapToTaps() {
  // Every section gets unit gain at the reference frequency of the design,
  // which gives the cascade unit gain there and keeps the signal level
  // between sections near the final one.
  const TC c = 1.0 / CentreZ();
  const TCLong centre(c.real(), c.imag());
  for (std::size_t s = 0; s < FSectionTaps.size(); s += 6) {
    double* t = FSectionTaps.data() + s;
    const TCLong dc = SectionAt(t, TCLong(1)), fc = SectionAt(t, centre), hf = SectionAt(t, TCLong(-1));
    const double g = ReferenceGain(TC(dc.real(), dc.imag()), TC(fc.real(), fc.imag()), TC(hf.real(), hf.imag()));
    if (g != 0 && std::isfinite(g))
      for (int k = 0; k < 3; ++k) t[k] /= g;
  }
  // The rounding left over goes into the first section.
  if (!FSectionTaps.empty()) {
    const double g = ReferenceGain(Calc_H_of_Z(TC(1, 0)), Calc_H_of_Z(CentreZ()), Calc_H_of_Z(TC(-1, 0)));
    if (g != 0 && std::isfinite(g))
      for (int k = 0; k < 3; ++k) FSectionTaps[k] /= g;
  }
}

std::complex<double> TNXDesignedIIRbiquad::Calc_H_of_Z(TC AZ) const {
  const TC zi = 1.0 / AZ;
  const TCLong zinv(zi.real(), zi.imag());
  TCLong h = 1;
  for (std::size_t s = 0; s < FSectionTaps.size(); s += 6) h *= SectionAt(FSectionTaps.data() + s, zinv);
  return TC(static_cast<double>(h.real()), static_cast<double>(h.imag()));
}

double TNXDesignedIIRbiquad::Calc_Gain_at_Freq(double AFrequency) const {
  return std::abs(Calc_H_of_Z(std::polar(1.0, 2 * kPi * AFrequency)));
}

void TNXDesignedIIRbiquad::CalcFreqResponse(std::vector<double>& AMagnitudes, std::vector<double>& APhases,
                                            std::int32_t APoints) {
  Response(AMagnitudes, APhases, APoints, [this](TCLong zinv) {
    TCLong h = 1;
    for (std::size_t s = 0; s < FSectionTaps.size(); s += 6) h *= SectionAt(FSectionTaps.data() + s, zinv);
    return TC(static_cast<double>(h.real()), static_cast<double>(h.imag()));
  });
}

}  // namespace nx
