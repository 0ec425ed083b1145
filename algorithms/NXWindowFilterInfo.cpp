// NXWindowFilter, descriptions part: the responses of FIR, direct-form IIR and
// biquad tap arrays, their group delay and pole check, and the design report
// measured from the taps.
#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "algorithms/NXWindowFilter.h"
#include "algorithms/NXWindowFilterPoly.h"
#include "vector/NXBasicDispatcher.h"

namespace nx {

using windowfilter::PolyAt;
using windowfilter::PolyDelay;
using windowfilter::TCLong;
using windowfilter::UnitInverse;
using TC = std::complex<double>;

namespace {

constexpr double kPi = std::numbers::pi;

TC ToDouble(TCLong v) { return TC(static_cast<double>(v.real()), static_cast<double>(v.imag())); }

// The grid of NXGetFIRResponse for 512 points: power and arg H at 257
// frequencies, the ends just inside 0 and pi.
template <class F>
void GridResponse(std::vector<double>& AMagnitudes, std::vector<double>& APhases, F AH) {
  constexpr int half = 256;
  AMagnitudes.assign(half + 1, 0.0);
  APhases.assign(half + 1, 0.0);
  for (int i = 0; i <= half; ++i) {
    double w = i * kPi / half;
    if (i == 0) w = kPi / 10000;
    if (i == half) w = kPi - kPi / 10000;
    const TC h = AH(UnitInverse(w / (2 * kPi)));
    AMagnitudes[i] = std::norm(h);
    APhases[i] = std::arg(h);
  }
}

}  // namespace

// ---------------------------------------------------------------- FIR

void TNXFIRFilterInfo::GetResponse(std::vector<double>& AMagnitudes, std::vector<double>& APhases) const {
  NXGetFIRResponse(FTaps, AMagnitudes, APhases);
}

std::complex<double> TNXFIRFilterInfo::Evaluate(double AFrequency) const {
  return ToDouble(PolyAt(FTaps.data(), FTaps.size(), UnitInverse(AFrequency)));
}

double TNXFIRFilterInfo::GroupDelay(double AFrequency) const {
  return static_cast<double>(PolyDelay(FTaps.data(), FTaps.size(), UnitInverse(AFrequency)));
}

// ---------------------------------------------------------------- direct-form IIR

namespace {
TCLong DirectAt(const std::vector<double>& ATaps, TCLong AZInv) {
  const std::size_t n = ATaps.size() / 2;
  return PolyAt(ATaps.data(), n, AZInv) / PolyAt(ATaps.data() + n, n, AZInv);
}
}  // namespace

void TNXIIRFilterInfo::CalcFreqResponse(std::vector<double>& AMagnitudes, std::vector<double>& APhases) const {
  GridResponse(AMagnitudes, APhases, [this](TCLong zinv) { return ToDouble(DirectAt(FTaps, zinv)); });
}

std::complex<double> TNXIIRFilterInfo::Evaluate(double AFrequency) const {
  return ToDouble(DirectAt(FTaps, UnitInverse(AFrequency)));
}

double TNXIIRFilterInfo::GroupDelay(double AFrequency) const {
  const std::size_t n = FTaps.size() / 2;
  const TCLong zinv = UnitInverse(AFrequency);
  return static_cast<double>(PolyDelay(FTaps.data(), n, zinv) - PolyDelay(FTaps.data() + n, n, zinv));
}

bool TNXIIRFilterInfo::PolesInsideUnitCircle() const {
  const std::size_t n = FTaps.size() / 2;
  return windowfilter::RootsInsideUnitCircle(FTaps.data() + n, n);
}

// ---------------------------------------------------------------- biquad cascade

namespace {
TCLong CascadeAt(const std::vector<double>& ATaps, TCLong AZInv) {
  TCLong h = 1;
  for (std::size_t s = 0; s + 6 <= ATaps.size(); s += 6)
    h *= PolyAt(ATaps.data() + s, 3, AZInv) / PolyAt(ATaps.data() + s + 3, 3, AZInv);
  return h;
}
}  // namespace

void TNXBiquadIIRFilterInfo::CalcFreqResponse(std::vector<double>& AMagnitudes,
                                              std::vector<double>& APhases) const {
  GridResponse(AMagnitudes, APhases, [this](TCLong zinv) { return ToDouble(CascadeAt(FTaps, zinv)); });
}

std::complex<double> TNXBiquadIIRFilterInfo::Evaluate(double AFrequency) const {
  return ToDouble(CascadeAt(FTaps, UnitInverse(AFrequency)));
}

double TNXBiquadIIRFilterInfo::GroupDelay(double AFrequency) const {
  const TCLong zinv = UnitInverse(AFrequency);
  long double d = 0;
  for (std::size_t s = 0; s + 6 <= FTaps.size(); s += 6)
    d += PolyDelay(FTaps.data() + s, 3, zinv) - PolyDelay(FTaps.data() + s + 3, 3, zinv);
  return static_cast<double>(d);
}

bool TNXBiquadIIRFilterInfo::PolesInsideUnitCircle() const {
  for (std::size_t s = 0; s + 6 <= FTaps.size(); s += 6)
    if (!windowfilter::RootsInsideUnitCircle(FTaps.data() + s + 3, 3)) return false;
  return true;
}

// ---------------------------------------------------------------- design report

namespace {

// |H| at f = 0.5 i / APoints (i = 0 .. APoints) of a FIR filter: the first
// half of a 2 APoints-point real transform of its taps (one transform
// instead of APoints + 1 evaluations of the polynomial). Empty when the taps
// do not fit or the transform is not there.
std::vector<double> FirScan(const std::vector<double>& ATaps, int APoints) {
  std::vector<double> magnitudes;
  int order = 0;
  while ((1 << order) < 2 * APoints) ++order;
  const std::size_t n = std::size_t{1} << order;
  if ((1 << order) != 2 * APoints || ATaps.size() > n) return magnitudes;
  IppsFFTSpec_R_64f* spec = nullptr;
  if (ippsFFTInitAlloc_R_64f(&spec, order, IPP_FFT_NODIV_BY_ANY, ippAlgHintNone) != ippStsNoErr || !spec)
    return magnitudes;
  std::vector<double> taps(n, 0.0), ccs(n + 2);
  std::copy(ATaps.begin(), ATaps.end(), taps.begin());
  if (ippsFFTFwd_RToCCS_64f(taps.data(), ccs.data(), spec, nullptr) == ippStsNoErr) {
    magnitudes.resize(static_cast<std::size_t>(APoints) + 1);
    for (std::size_t i = 0; i < magnitudes.size(); ++i) magnitudes[i] = std::hypot(ccs[2 * i], ccs[2 * i + 1]);
  }
  ippsFFTFree_R_64f(spec);
  return magnitudes;
}

// |H(f)| in double precision for the report's tens of thousands of points:
// Horner's rule in z^-1 for a FIR's taps, and the product of |numerator| /
// |denominator| over a biquad cascade's sections (no complex division). Its
// error (about taps x 1e-16 of the sum of |taps|) is far below anything the
// report shows; a direct-form IIR, whose polynomials are badly conditioned at
// high orders, keeps the extended-precision Evaluate (null here).
using TMagnitude = double (*)(const std::vector<double>&, double);

double FirMagnitude(const std::vector<double>& ATaps, double AFrequency) {
  return std::abs(PolyAt(ATaps.data(), ATaps.size(), UnitInverse<double>(AFrequency)));
}

double CascadeMagnitude(const std::vector<double>& ATaps, double AFrequency) {
  const std::complex<double> zinv = UnitInverse<double>(AFrequency);
  double m = 1;
  for (std::size_t s = 0; s + 6 <= ATaps.size(); s += 6)
    m *= std::abs(PolyAt(ATaps.data() + s, 3, zinv)) / std::abs(PolyAt(ATaps.data() + s + 3, 3, zinv));
  return m;
}

}  // namespace

TNXFilterReport TNXFilterInfo::DesignReport(std::span<const TNXBand> APassbands,
                                            std::span<const TNXBand> AStopbands) const {
  constexpr int kBandPoints = 2048;   // samples per band, ends included
  constexpr int kScanPoints = 16384;  // samples of 0 .. 0.5 for the -3 dB crossings
  const TMagnitude fast = GetFilterType() == ftFIR          ? &FirMagnitude
                          : GetFilterType() == ftBiquadIIR ? &CascadeMagnitude
                                                           : nullptr;
  auto magnitude = [this, fast](double f) { return fast ? fast(FTaps, f) : std::abs(Evaluate(f)); };
  auto sampleBand = [&](const TNXBand& b, auto&& fn) {
    for (int i = 0; i <= kBandPoints; ++i) fn(magnitude(b.Low + (b.High - b.Low) * i / kBandPoints));
  };

  // The scan of 0 .. 0.5 on its grid; a FIR's through one transform.
  const std::vector<double> firScan = GetFilterType() == ftFIR ? FirScan(FTaps, kScanPoints) : std::vector<double>{};
  auto scanned = [&](int i) { return firScan.empty() ? magnitude(0.5 * i / kScanPoints) : firScan[i]; };

  TNXFilterReport r;
  double passMax = 0, passMin = std::numeric_limits<double>::infinity();
  for (const TNXBand& b : APassbands)
    sampleBand(b, [&](double m) {
      passMax = std::max(passMax, m);
      passMin = std::min(passMin, m);
    });
  if (APassbands.empty()) {
    // Without a pass band the peak of the whole response is the reference.
    for (int i = 0; i <= kScanPoints; ++i) passMax = std::max(passMax, scanned(i));
    passMin = passMax;
  }
  r.PassbandPeak = passMax;
  r.PassbandRippleDb = (passMin > 0) ? 20 * std::log10(passMax / passMin) : std::numeric_limits<double>::infinity();
  double stopMax = 0;
  for (const TNXBand& b : AStopbands) sampleBand(b, [&](double m) { stopMax = std::max(stopMax, m); });
  r.StopbandAttenuationDb = AStopbands.empty() ? 0.0
                            : stopMax > 0      ? 20 * std::log10(passMax / stopMax)
                                               : std::numeric_limits<double>::infinity();

  // -3 dB crossings: sign changes of |H| - peak/sqrt(2) on the scan, refined
  // by bisection.
  const double level = passMax / std::sqrt(2.0);
  double prevF = 0, prev = scanned(0) - level;
  for (int i = 1; i <= kScanPoints; ++i) {
    const double f = 0.5 * i / kScanPoints, v = scanned(i) - level;
    if ((prev < 0) != (v < 0)) {
      double lo = prevF, hi = f, vlo = prev;
      for (int it = 0; it < 60; ++it) {
        const double mid = 0.5 * (lo + hi), vm = magnitude(mid) - level;
        if ((vm < 0) == (vlo < 0)) {
          lo = mid;
          vlo = vm;
        } else {
          hi = mid;
        }
      }
      r.Minus3dBFrequencies.push_back(0.5 * (lo + hi));
    }
    prevF = f;
    prev = v;
  }

  auto delay = [this](double f) {
    const double d = GroupDelay(f);
    return std::isfinite(d) ? d : std::numeric_limits<double>::quiet_NaN();
  };
  r.GroupDelayDC = delay(0);
  r.GroupDelayCentre = APassbands.empty() ? r.GroupDelayDC : delay(0.5 * (APassbands[0].Low + APassbands[0].High));
  r.PolesInsideUnitCircle = PolesInsideUnitCircle();
  return r;
}

}  // namespace nx
