// NXWindowFilter: windows applied to tap arrays, the windowed-sinc FIR
// designers, the FIR frequency response, the window-weight calculator and the
// design entry point NXFilterCalc. The IIR designers are in
// NXWindowFilterIIR.cpp, the filter descriptions in NXWindowFilterInfo.cpp.
#include "algorithms/NXWindowFilter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "runtime/SysUtils.h"
#include "vector/NXBasicDispatcher.h"

namespace nx {

namespace {

constexpr double kPi = std::numbers::pi;

// The tap count of an order (made odd) and a check of the order.
std::int32_t TapCount(std::int32_t AOrder) {
  if (AOrder < 0) RaiseRange("Order out of range = %d", AOrder);
  if (AOrder == INT32_MAX) throw EIntOverflow();
  return (AOrder % 2 == 0) ? AOrder + 1 : AOrder;
}

void IdealLowPass(std::vector<double>& ATaps, std::int32_t AOrder, double ACutoff, double ASampleRate) {
  const std::int32_t n = TapCount(AOrder);
  const std::int32_t m = (n - 1) / 2;
  const double w = 2.0 * ACutoff / ASampleRate;
  ATaps.assign(static_cast<std::size_t>(n), 0.0);
  ATaps[m] = w;
  for (std::int32_t k = 1; k <= m; ++k) {
    const double v = std::sin(k * kPi * w) / (k * kPi);
    ATaps[m + k] = v;
    ATaps[m - k] = v;
  }
}

void IdealBandPass(std::vector<double>& ATaps, std::int32_t AOrder, double ALow, double AHigh, double ASampleRate) {
  const std::int32_t n = TapCount(AOrder);
  const std::int32_t m = (n - 1) / 2;
  const double w1 = 2.0 * ALow / ASampleRate, w2 = 2.0 * AHigh / ASampleRate;
  ATaps.assign(static_cast<std::size_t>(n), 0.0);
  ATaps[m] = w2 - w1;
  for (std::int32_t k = 1; k <= m; ++k) {
    const double v = 2.0 * std::sin(k * kPi * (w2 - w1) / 2) * std::cos(k * kPi * (w2 + w1) / 2) / (k * kPi);
    ATaps[m + k] = v;
    ATaps[m - k] = v;
  }
}

// Spectral inversion of windowed taps: negate, add 1 at the centre and scale
// by the alternating sum, so that the gain at half the sample rate is 1 in
// magnitude.
void Invert(std::vector<double>& ATaps) {
  const int n = static_cast<int>(ATaps.size());
  ippsMulC_64f_I(-1.0, ATaps.data(), n);
  double s = 0;
  for (int k = 0; k < n; ++k) s += (k % 2 == 0) ? ATaps[k] : -ATaps[k];
  ATaps[(n - 1) / 2] += 1.0;
  s += 1.0;
  ippsDivC_64f_I(std::fabs(s), ATaps.data(), n);
}

}  // namespace

// ---------------------------------------------------------------- windows and FIR design

IppStatus NXApplyWindow(std::vector<double>& AData, TNXWindowType AWindowType, double AParam) {
  if (AData.empty()) throw ERangeError();
  const int n = static_cast<int>(AData.size());
  double* p = AData.data();
  switch (AWindowType) {
    case wtRect: return ippStsNoErr;
    case wtBartlett: return ippsWinBartlett_64f_I(p, n);
    case wtBlackman: return ippsWinBlackman_64f_I(p, n, -AParam);
    case wtHamming: return ippsWinHamming_64f_I(p, n);
    case wtHanning: return ippsWinHann_64f_I(p, n);
    case wtKaiser: return ippsWinKaiser_64f_I(p, n, static_cast<Ipp32f>(AParam));
  }
  return static_cast<IppStatus>(AWindowType);
}

// The window's status is not an error of the design: windows need three
// points, and shorter designs (orders 0 to 2) keep their ideal taps.
void NXRealLowPassCalc(std::vector<double>& ATaps, std::int32_t AOrder, double ACutoff, double ASampleRate,
                       TNXWindowType AWindowType, double AParam) {
  IdealLowPass(ATaps, AOrder, ACutoff, ASampleRate);
  NXApplyWindow(ATaps, AWindowType, AParam);
}

void NXRealHighPassCalc(std::vector<double>& ATaps, std::int32_t AOrder, double ACutoff, double ASampleRate,
                        TNXWindowType AWindowType, double AParam) {
  NXRealLowPassCalc(ATaps, AOrder, ACutoff, ASampleRate, AWindowType, AParam);
  Invert(ATaps);
}

void NXRealBandPassCalc(std::vector<double>& ATaps, std::int32_t AOrder, double ALowFreq, double AHighFreq,
                        double ASampleRate, TNXWindowType AWindowType, double AParam) {
  IdealBandPass(ATaps, AOrder, ALowFreq, AHighFreq, ASampleRate);
  NXApplyWindow(ATaps, AWindowType, AParam);
}

void NXRealBandStopCalc(std::vector<double>& ATaps, std::int32_t AOrder, double ALowFreq, double AHighFreq,
                        double ASampleRate, TNXWindowType AWindowType, double AParam) {
  NXRealBandPassCalc(ATaps, AOrder, ALowFreq, AHighFreq, ASampleRate, AWindowType, AParam);
  Invert(ATaps);
}

void NXGetFIRResponse(std::span<const double> ATaps, std::vector<double>& AMagnitudes,
                      std::vector<double>& APhases) {
  std::size_t n = 512;
  while (n < ATaps.size()) n *= 2;
  const std::size_t half = n / 2;
  AMagnitudes.assign(half + 1, 0.0);
  APhases.assign(half + 1, 0.0);
  for (std::size_t i = 0; i <= half; ++i) {
    double w = static_cast<double>(i) * kPi / static_cast<double>(half);
    // The ends stay just inside (0, pi), where the phase formula is defined.
    if (i == 0) w = kPi / 10000;
    if (i == half) w = kPi - kPi / 10000;
    double re = 0, im = 0;
    for (std::size_t k = 0; k < ATaps.size(); ++k) {
      re += ATaps[k] * std::cos(static_cast<double>(k) * w);
      im += ATaps[k] * std::sin(static_cast<double>(k) * w);
    }
    AMagnitudes[i] = re * re + im * im;
    APhases[i] = std::atan(im / (1 - re));
  }
}

double NXDefaultWindowParam(TNXWindowType AWindowType, std::int32_t ATapCount) {
  switch (AWindowType) {
    case wtBlackman: return 0.16;
    case wtKaiser: return ATapCount > 1 ? 6.0 / ((ATapCount - 1) / 2.0) : 0.0;
    default: return 0.0;
  }
}

// ---------------------------------------------------------------- window-weight calculator

namespace {

// Minimum-sidelobe cosine-sum coefficients by term count (4 .. 11).
constexpr double kCosSum4[] = {0.3635819267707608, 0.4891774371450171, 0.1365995139786921, 0.01064112210553003};
constexpr double kCosSum5[] = {0.3232153788877343, 0.471492143957626, 0.1755341299601972, 0.02849699010614994,
                               0.001261357088292677};
constexpr double kCosSum6[] = {0.2935578950102797, 0.4519357723474506, 0.2014164714263962,
                               0.04792610922105837, 0.005026196426859393, 0.0001375555679558877};
constexpr double kCosSum7[] = {0.2712203605850388, 0.4334446123274422,  0.2180041228929303,
                               0.06578534329560609, 0.01076186730534183, 0.0007700127105808265,
                               1.368088305992921e-05};
constexpr double kCosSum8[] = {0.2533176817029088,   0.4163269305810218,   0.2288396213719708,
                               0.08157508425925879,  0.01773592450349622,  0.002096702749032688,
                               0.0001067741302205525, 1.280702090361482e-06};
constexpr double kCosSum9[] = {0.2384331152777942,  0.400554534864382,    0.2358242530472107,
                               0.09527918858383112, 0.02537395516617152,  0.004152432907505835,
                               0.000368560416329818, 1.38435559391703e-05, 1.161808358932861e-07};
constexpr double kCosSum10[] = {0.2257345387130214,   0.3860122949150963,   0.2401294214106057,
                                0.1070542338664613,   0.03325916184016952,  0.006873374952321475,
                                0.000875167323803516, 6.008598932721187e-05, 1.710716472110202e-06,
                                1.027272130265191e-08};
constexpr double kCosSum11[] = {0.2151527506679809,    0.3731348357785249,   0.242424335844666,
                                0.1166907592689211,    0.04077422105878731,  0.01000904500852923,
                                0.001639806917362033,  0.0001651660820997142, 8.88466316854148e-06,
                                1.938617116029048e-07, 8.48248559933047e-10};
constexpr std::span<const double> kCosSums[] = {kCosSum4, kCosSum5, kCosSum6,  kCosSum7,
                                                kCosSum8, kCosSum9, kCosSum10, kCosSum11};

// The real and complex forms share one body; these pick the primitive.
IppStatus Set(double* p, int n) { return ippsSet_64f(1.0, p, n); }
IppStatus Set(TComplex* p, int n) { return ippsSet_64fc(Ipp64fc{1.0, 1.0}, reinterpret_cast<Ipp64fc*>(p), n); }
IppStatus Bartlett(double* p, int n) { return ippsWinBartlett_64f_I(p, n); }
IppStatus Bartlett(TComplex* p, int n) { return ippsWinBartlett_64fc_I(reinterpret_cast<Ipp64fc*>(p), n); }
IppStatus Hamming(double* p, int n) { return ippsWinHamming_64f_I(p, n); }
IppStatus Hamming(TComplex* p, int n) { return ippsWinHamming_64fc_I(reinterpret_cast<Ipp64fc*>(p), n); }
IppStatus Hann(double* p, int n) { return ippsWinHann_64f_I(p, n); }
IppStatus Hann(TComplex* p, int n) { return ippsWinHann_64fc_I(reinterpret_cast<Ipp64fc*>(p), n); }
IppStatus Blackman(double* p, int n, double a) { return ippsWinBlackman_64f_I(p, n, a); }
IppStatus Blackman(TComplex* p, int n, double a) {
  return ippsWinBlackman_64fc_I(reinterpret_cast<Ipp64fc*>(p), n, a);
}
IppStatus Kaiser(double* p, int n, double a) { return ippsWinKaiser_64f_I(p, n, static_cast<Ipp32f>(a)); }
IppStatus Kaiser(TComplex* p, int n, double a) {
  return ippsWinKaiser_64fc_I(reinterpret_cast<Ipp64fc*>(p), n, static_cast<Ipp32f>(a));
}
double& Weight(double& e) { return e; }
double& Weight(TComplex& e) { return e.Re; }
void Scale(double& e, double w) { e *= w; }
void Scale(TComplex& e, double w) {
  e.Re *= w;
  e.Im *= w;
}
void Store(double& e, double w) { e = w; }
void Store(TComplex& e, double w) { e = TComplex{w, w}; }

template <class T>
void CalculateWindow(std::vector<T>& AWindow, TNXExtendedWindowType AType, std::int32_t AOrder, double AParam,
                     double& AGain, double& APowerGain, std::vector<TComplex>& AKernel, std::int32_t ATerms) {
  // The primitives take 32-bit signed lengths: 2^30 points is the largest size.
  if (AOrder < 0 || AOrder > 30) RaiseRange("Order out of range = %d", AOrder);
  const int size = 1 << AOrder;
  AWindow.resize(static_cast<std::size_t>(size));
  T* p = AWindow.data();
  Set(p, size);
  AKernel.clear();
  const double n = size - 1;  // the window spans N = size - 1 intervals
  switch (AType) {
    case xwtNone:
    case xwtRect: break;
    case xwtBartlett: Bartlett(p, size); break;
    case xwtBlackman: Blackman(p, size, -AParam); break;
    case xwtHamming: Hamming(p, size); break;
    case xwtHanning: Hann(p, size); break;
    case xwtKaiser: Kaiser(p, size, AParam); break;
    case xwtFlatTop:
      for (int k = 0; k < size; ++k) {
        const double x = 2 * kPi * k / n;
        Store(p[k], 1 - 1.93 * std::cos(x) + 1.29 * std::cos(2 * x) - 0.388 * std::cos(3 * x) +
                        0.032 * std::cos(4 * x));
      }
      break;
    case xwtWelch:
      for (int k = 0; k < size; ++k) {
        const double r = (k - n / 2) / (n / 2);
        Scale(p[k], 1 - r * r);
      }
      break;
    case xwtCosSum: {
      const std::span<const double> a = NXWindowCalculator::CosSumCoefficients(ATerms);
      const int terms = static_cast<int>(a.size());
      AKernel.assign(static_cast<std::size_t>(2 * terms - 1), TComplex{0, 0});
      AKernel[0] = TComplex{a[0], 0};
      for (int j = 1; j < terms; ++j) {
        const double c = ((j % 2) ? -a[j] : a[j]) / 2;
        AKernel[j] = TComplex{c, 0};                      // bin j
        AKernel[2 * terms - 1 - j] = TComplex{c, 0};      // bin -j
      }
      double meanSquare = a[0] * a[0];
      for (int j = 1; j < terms; ++j) meanSquare += a[j] * a[j] / 2;
      AGain = 1 / a[0];
      APowerGain = 1 / std::sqrt(meanSquare);
      return;
    }
  }
  // Amplitude and power corrections of the weights as written.
  double sum = 0, sumSquares = 0;
  for (int k = 0; k < size; ++k) {
    const double w = Weight(p[k]);
    sum += w;
    sumSquares += w * w;
  }
  AGain = (AType == xwtNone || AType == xwtRect || sum == 0) ? 1.0 : size / sum;
  APowerGain = (AType == xwtNone || AType == xwtRect || sumSquares == 0) ? 1.0 : std::sqrt(size / sumSquares);
}

}  // namespace

std::span<const double> NXWindowCalculator::CosSumCoefficients(std::int32_t ATerms) {
  return kCosSums[std::clamp(ATerms, 4, 11) - 4];
}

void NXWindowCalculator::CalculateWindowForMult(std::vector<double>& AWindow, TNXExtendedWindowType AType,
                                                std::int32_t AOrder, double AParam, double& AGain,
                                                double& APowerGain, std::vector<TComplex>& AKernel,
                                                std::int32_t ACosSumTerms) {
  CalculateWindow(AWindow, AType, AOrder, AParam, AGain, APowerGain, AKernel, ACosSumTerms);
}

void NXWindowCalculator::CalculateWindowForMult(std::vector<TComplex>& AWindow, TNXExtendedWindowType AType,
                                                std::int32_t AOrder, double AParam, double& AGain,
                                                double& APowerGain, std::vector<TComplex>& AKernel,
                                                std::int32_t ACosSumTerms) {
  CalculateWindow(AWindow, AType, AOrder, AParam, AGain, APowerGain, AKernel, ACosSumTerms);
}

void NXWindowCalculator::CalculateOldWindow(std::vector<double>& AWindow, TNXWindowType AType, std::int32_t AOrder,
                                            double AParam, double& AGain, double& APowerGain,
                                            std::vector<TComplex>& AKernel) {
  if (AType < 0 || AType >= 6) return;
  CalculateWindow(AWindow, static_cast<TNXExtendedWindowType>(AType + 1), AOrder, AParam, AGain, APowerGain,
                  AKernel, 4);
}

void NXWindowCalculator::CalculateOldWindow(std::vector<TComplex>& AWindow, TNXWindowType AType,
                                            std::int32_t AOrder, double AParam, double& AGain,
                                            double& APowerGain, std::vector<TComplex>& AKernel) {
  if (AType < 0 || AType >= 6) return;
  CalculateWindow(AWindow, static_cast<TNXExtendedWindowType>(AType + 1), AOrder, AParam, AGain, APowerGain,
                  AKernel, 4);
}

// ---------------------------------------------------------------- NXFilterCalc

TIntfPtr<TNXFilterInfo> NXFilterCalc(TNXFilterType AFilterType, TNXDesignFilterType ADesignType, std::int32_t AOrder,
                                     double AFreq1, double AFreq2, double ASampleRate, TNXWindowType AWindowType,
                                     TNXIIRFilterType AIIRType, double ARipple, double AWindowParam) {
  switch (AFilterType) {
    case ftFIR: {
      std::vector<double> taps;
      const double param =
          std::isnan(AWindowParam) ? NXDefaultWindowParam(AWindowType, TapCount(AOrder)) : AWindowParam;
      switch (ADesignType) {
        case fdftLowPass: NXRealLowPassCalc(taps, AOrder, AFreq1, ASampleRate, AWindowType, param); break;
        case fdftHighPass: NXRealHighPassCalc(taps, AOrder, AFreq1, ASampleRate, AWindowType, param); break;
        case fdftBandPass:
          NXRealBandPassCalc(taps, AOrder, AFreq1, AFreq2, ASampleRate, AWindowType, param);
          break;
        case fdftBandStop:
          NXRealBandStopCalc(taps, AOrder, AFreq1, AFreq2, ASampleRate, AWindowType, param);
          break;
      }
      return TIntfPtr<TNXFilterInfo>(new TNXFIRFilterInfo(std::move(taps)));
    }
    case ftIIR:
    case ftBiquadIIR: {
      const bool biquad = AFilterType == ftBiquadIIR;
      TNXDesignedIIRbase plain;
      TNXDesignedIIRbiquad cascade;
      TNXDesignedIIRbase& designer = biquad ? cascade : plain;
      designer.SetOrder(AOrder);
      designer.SetFilterType(AIIRType);
      // The ripple is a loss in dB: 0 keeps the default, a positive value counts as its negative.
      if (ARipple != 0) designer.SetRipple(static_cast<float>(-std::fabs(ARipple)));
      designer.SetAlpha1(AFreq1 / ASampleRate);
      designer.SetAlpha2(AFreq2 / ASampleRate);
      designer.SetDesignType(ADesignType);
      designer.Calculate();
      if (biquad)
        return TIntfPtr<TNXFilterInfo>(new TNXBiquadIIRFilterInfo(cascade.GetSectionTaps()));
      if (plain.GetNumerator().size() != plain.GetDenominator().size())
        RaiseAssertion("Assertion failure", "NXWindowFilter", 585);
      std::vector<double> taps(plain.GetNumerator());
      taps.insert(taps.end(), plain.GetDenominator().begin(), plain.GetDenominator().end());
      return TIntfPtr<TNXFilterInfo>(new TNXIIRFilterInfo(std::move(taps)));
    }
  }
  RaiseAssertion("Unkonwn filter type", "NXWindowFilter", 676);
}

}  // namespace nx
