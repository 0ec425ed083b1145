// NXWindowFilter: window functions, windowed-sinc FIR design, the window-weight
// calculator of the spectral components, IIR design (direct form and biquad
// cascade from Bessel, Butterworth and Chebyshev prototypes) and the filter
// descriptions that NXFilterCalc returns.
//
// Frequencies given to the FIR designers are in Hz with the sample rate beside
// them; the IIR designers take corner frequencies as fractions of the sample
// rate (alpha). Tap arrays belong to the caller; the designers resize them.
// The FIR and window part lives in NXWindowFilter.cpp, the IIR designers in
// NXWindowFilterIIR.cpp and the filter descriptions with their design report in
// NXWindowFilterInfo.cpp.
#pragma once

#include <complex>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <span>
#include <vector>

#include "runtime/Zandor.Complex.h"
#include "runtime/Zandor.Interfaces.h"
#include "vector/IPPPTypes.h"

namespace nx {

// ---------------------------------------------------------------- vocabulary

// The window of the filter components. (It belongs with the filter component
// types; it is declared here, where its meaning is defined, so that the
// algorithms do not depend on the component layer.)
enum TNXWindowType : std::int32_t { wtRect, wtBartlett, wtBlackman, wtHamming, wtHanning, wtKaiser };

// The windows of the spectral components; the first six simple types map onto
// these by adding 1.
enum TNXExtendedWindowType : std::int32_t {
  xwtNone,
  xwtRect,
  xwtBartlett,
  xwtBlackman,
  xwtHamming,
  xwtHanning,
  xwtKaiser,
  xwtCosSum,
  xwtFlatTop,
  xwtWelch
};

enum TNXFilterType : std::int32_t { ftFIR, ftIIR, ftBiquadIIR };
enum TNXDesignFilterType : std::int32_t { fdftLowPass, fdftHighPass, fdftBandPass, fdftBandStop };
enum TNXIIRFilterType : std::int32_t { iirBessel, iirButterworth, iirChebyshev };
enum TNXFourierNormalization : std::int32_t { fnNone, fnNormalize, fnNormalizeSqrt };

// ---------------------------------------------------------------- windows and FIR design

// Multiplies AData in place by the window of its length through the window
// primitives (Blackman with alpha = -AParam, so 0.16 is the classic window;
// Kaiser with alpha = AParam). Returns the primitive's status (windows need at
// least 3 points); wtRect returns 0 and changes nothing; a type out of range
// returns its ordinal. An empty array raises ERangeError.
IppStatus NXApplyWindow(std::vector<double>& AData, TNXWindowType AWindowType, double AParam);

// Windowed-sinc designs. The tap count is AOrder made odd (AOrder + 1 when it
// is even); a negative order raises ERangeError. Frequencies in Hz.
void NXRealLowPassCalc(std::vector<double>& ATaps, std::int32_t AOrder, double ACutoff, double ASampleRate,
                       TNXWindowType AWindowType, double AParam);
void NXRealHighPassCalc(std::vector<double>& ATaps, std::int32_t AOrder, double ACutoff, double ASampleRate,
                        TNXWindowType AWindowType, double AParam);
void NXRealBandPassCalc(std::vector<double>& ATaps, std::int32_t AOrder, double ALowFreq, double AHighFreq,
                        double ASampleRate, TNXWindowType AWindowType, double AParam);
void NXRealBandStopCalc(std::vector<double>& ATaps, std::int32_t AOrder, double ALowFreq, double AHighFreq,
                        double ASampleRate, TNXWindowType AWindowType, double AParam);

// The response of a tap array at N/2 + 1 points from (almost) 0 to (almost)
// pi, N = 512 or the next power of two of a longer tap array: AMagnitudes
// holds the power |H|^2, APhases arctan(im / (1 - re)).
void NXGetFIRResponse(std::span<const double> ATaps, std::vector<double>& AMagnitudes,
                      std::vector<double>& APhases);

// The window parameter NXFilterCalc uses when it is given none (NaN): 0.16 for
// Blackman; for Kaiser the alpha that makes alpha times the half-length 6
// (a -60 dB side-lobe design whatever the length); unused by the others.
double NXDefaultWindowParam(TNXWindowType AWindowType, std::int32_t ATapCount);

// ---------------------------------------------------------------- window-weight calculator

// Weights for multiplying data blocks of 2^AOrder points (AOrder 0 .. 30, else
// ERangeError).
//
// Gains: AGain is the amplitude correction size / sum(w) (for fnNormalize),
// APowerGain the noise-power correction sqrt(size / sum(w^2)) (for
// fnNormalizeSqrt); both 1 for xwtNone and xwtRect.
//
// xwtCosSum leaves the weights at 1 and returns the window as its
// frequency-domain kernel in AKernel instead: 2*terms - 1 complex values in
// circular order (bin 0, bins 1 .. terms-1, then bins -(terms-1) .. -1), to
// be convolved with the spectrum; AGain is then 1/a0. ACosSumTerms outside
// 4 .. 11 is clamped into that range. Every other type clears AKernel.
class NXWindowCalculator {
 public:
  static void CalculateWindowForMult(std::vector<double>& AWindow, TNXExtendedWindowType AType, std::int32_t AOrder,
                                     double AParam, double& AGain, double& APowerGain,
                                     std::vector<TComplex>& AKernel, std::int32_t ACosSumTerms = 4);
  // The complex form: the same real weight in both parts of each element.
  static void CalculateWindowForMult(std::vector<TComplex>& AWindow, TNXExtendedWindowType AType,
                                     std::int32_t AOrder, double AParam, double& AGain, double& APowerGain,
                                     std::vector<TComplex>& AKernel, std::int32_t ACosSumTerms = 4);
  // The simple window types (type + 1); a type of 6 or more leaves everything
  // untouched.
  static void CalculateOldWindow(std::vector<double>& AWindow, TNXWindowType AType, std::int32_t AOrder,
                                 double AParam, double& AGain, double& APowerGain, std::vector<TComplex>& AKernel);
  static void CalculateOldWindow(std::vector<TComplex>& AWindow, TNXWindowType AType, std::int32_t AOrder,
                                 double AParam, double& AGain, double& APowerGain, std::vector<TComplex>& AKernel);

  // The coefficients a0, a1, ... of the minimum-sidelobe cosine-sum window of
  // ATerms terms (4 .. 11, clamped).
  static std::span<const double> CosSumCoefficients(std::int32_t ATerms);
};

// ---------------------------------------------------------------- IIR design

// Options of the IIR designer. fdoNoPrewrap takes the corners as they are
// instead of prewarping them for the bilinear transform;
// fdoUseMatchedZTransform maps s-plane roots by z = exp(s) instead of the
// bilinear transform (no prewarping then either); fdoAlpha is kept for
// compatibility and has no effect (the corners are always fractions of the
// sample rate).
enum TFDOption : std::uint8_t { fdoAlpha, fdoNoPrewrap, fdoUseMatchedZTransform };
class TFDOptions {
 public:
  constexpr TFDOptions() noexcept = default;
  constexpr TFDOptions(std::initializer_list<TFDOption> AOptions) noexcept {
    for (TFDOption o : AOptions) Include(o);
  }
  constexpr bool Contains(TFDOption AOption) const noexcept { return (FBits >> AOption) & 1u; }
  constexpr void Include(TFDOption AOption) noexcept { FBits = static_cast<std::uint8_t>(FBits | (1u << AOption)); }
  constexpr void Exclude(TFDOption AOption) noexcept { FBits = static_cast<std::uint8_t>(FBits & ~(1u << AOption)); }
  friend constexpr bool operator==(TFDOptions, TFDOptions) = default;

 private:
  std::uint8_t FBits = 0;
};

using TNXComplexArray = std::vector<std::complex<double>>;

// Poles and zeros of one plane.
struct TZRep {
  TNXComplexArray Poles;
  TNXComplexArray Zeros;
};

// The left-half-plane poles of the Bessel prototypes of orders 1 .. 10
// (-3 dB at 1 rad/s), order n from index n*n/4: for odd n the real pole first,
// then one entry per conjugate pair.
extern const std::complex<double> bessel_poles[30];

class TNXDesignedFilter {
 public:
  virtual ~TNXDesignedFilter() = default;
  void SetOrder(std::int32_t AOrder) noexcept { FOrder = AOrder; }
  // The order the design uses (subclasses raise it where the form needs).
  virtual std::int32_t GetOrder() const { return FOrder; }

 protected:
  std::int32_t FOrder = 0;
};

// The direct-form designer: one numerator and one denominator polynomial,
// both of GetOrder() (x2 for band-pass and band-stop) + 1 coefficients, in
// the layout of the IIR primitives (b0 .. bN, a0 .. aN with a0 = 1, for
// H(z) = sum b_k z^-k / sum a_k z^-k).
class TNXDesignedIIRbase : public TNXDesignedFilter {
 public:
  TNXDesignedIIRbase() = default;

  // The prototype order: the set order, raised by one when it is odd for
  // band-pass and band-stop designs. Calculate designs with this order.
  std::int32_t GetOrder() const override;

  // Runs the whole design and fills the coefficient arrays.
  void Calculate();

  // The response from the coefficients at APoints points from 0 to pi
  // (APoints >= 2): the power |H|^2 and the phase arg H.
  virtual void CalcFreqResponse(std::vector<double>& AMagnitudes, std::vector<double>& APhases,
                                std::int32_t APoints = 257);

  // Settings (the corners are fractions of the sample rate).
  double GetAlpha1() const noexcept { return FAlpha1; }
  void SetAlpha1(double AValue) noexcept { FAlpha1 = AValue; }
  double GetAlpha2() const noexcept { return FAlpha2; }
  void SetAlpha2(double AValue) noexcept { FAlpha2 = AValue; }
  TNXDesignFilterType GetDesignType() const noexcept { return FDesignType; }
  void SetDesignType(TNXDesignFilterType AValue) noexcept { FDesignType = AValue; }
  TNXIIRFilterType GetFilterType() const noexcept { return FFilterType; }
  void SetFilterType(TNXIIRFilterType AValue) noexcept { FFilterType = AValue; }
  // Chebyshev pass-band ripple in dB, a negative number (default -1).
  float GetRipple() const noexcept { return FRipple; }
  void SetRipple(float AValue) noexcept { FRipple = AValue; }
  TFDOptions GetOptions() const noexcept { return FOptions; }
  void SetOptions(TFDOptions AValue) noexcept { FOptions = AValue; }

  // Results.
  const std::vector<double>& GetNumerator() const noexcept { return FNumerator; }
  const std::vector<double>& GetDenominator() const noexcept { return FDenominator; }
  const TZRep& GetSPlane() const noexcept { return FSPlane; }
  const TZRep& GetZPlane() const noexcept { return FZPlane; }
  double GetWarpedAlpha1() const noexcept { return FWarpedAlpha1; }
  double GetWarpedAlpha2() const noexcept { return FWarpedAlpha2; }
  std::uint32_t GetPoleMask() const noexcept { return FPoleMask; }
  std::complex<double> GetDCGain() const noexcept { return FDCGain; }
  std::complex<double> GetFCGain() const noexcept { return FFCGain; }
  std::complex<double> GetHFGain() const noexcept { return FHFGain; }

 protected:
  // Design steps, in the order Calculate runs them.
  void ComputePrototype();  // s-plane prototype poles with the pole mask
  void Prewarp();
  virtual void Normalize();      // the s-plane transform to the design type
  virtual void Compute_z_blt();  // s-plane to z-plane
  virtual void Expandpoly();     // z-plane roots to polynomials and the three gains
  virtual void MapToTaps();      // gain normalisation
  virtual void DesignDone() {}   // hook after the design

  // The reference gain the design is normalised to: |dc| for low-pass, |hf|
  // for high-pass, |fc| for band-pass, sqrt(|dc|*|hf|) for band-stop.
  double ReferenceGain(std::complex<double> ADC, std::complex<double> AFC, std::complex<double> AHF) const;
  // z at the band centre, e^{j pi (alpha1 + alpha2)}.
  std::complex<double> CentreZ() const;

  double FAlpha1 = 10000.0;
  double FAlpha2 = -1.0;
  TNXDesignFilterType FDesignType = fdftLowPass;
  TZRep FSPlane;
  TZRep FZPlane;
  std::vector<double> FNumerator;
  std::vector<double> FDenominator;
  TNXIIRFilterType FFilterType = iirButterworth;
  float FRipple = -1.0f;
  std::uint32_t FPoleMask = 0;
  double FWarpedAlpha1 = 0;
  double FWarpedAlpha2 = 0;
  std::complex<double> FDCGain;
  std::complex<double> FFCGain;
  std::complex<double> FHFGain;
  TFDOptions FOptions;
};

// The biquad designer: the same poles and zeros, grouped into second-order
// sections of 6 taps each (b0, b1, b2, a0, a1, a2 with a0 = 1). Each
// section is scaled to unit gain at the reference frequency of the design
// (so the cascade has unit gain there, like the direct form); poles and zeros
// are paired by conjugates, sections are ordered by pole radius (the section
// with the poles farthest from the unit circle first) and each takes the
// zero pair nearest its poles.
class TNXDesignedIIRbiquad : public TNXDesignedIIRbase {
 public:
  // At least 2 and even: the cascade consists of whole second-order sections.
  std::int32_t GetOrder() const override;
  void CalcFreqResponse(std::vector<double>& AMagnitudes, std::vector<double>& APhases,
                        std::int32_t APoints = 257) override;

  // 6 taps per section.
  const std::vector<double>& GetSectionTaps() const noexcept { return FSectionTaps; }
  std::int32_t GetSectionCount() const noexcept { return static_cast<std::int32_t>(FSectionTaps.size() / 6); }

  // The response of the cascade at z.
  std::complex<double> Calc_H_of_Z(std::complex<double> AZ) const;
  // |H| at a frequency given as a fraction of the sample rate.
  double Calc_Gain_at_Freq(double AFrequency) const;

 protected:
  void Expandpoly() override;
  void MapToTaps() override;
  // Orders the roots so that every complex root is followed by its conjugate
  // and the real roots come last, the most negative first.
  static void Cplxpair(TNXComplexArray& ARoots);
  // The index of the root among AFrom .. end nearest to conj(ARoot).
  static std::size_t FindSiblingPole(const TNXComplexArray& ARoots, std::size_t AFrom, std::complex<double> ARoot);

  std::vector<double> FSectionTaps;
};

// ---------------------------------------------------------------- filter descriptions

// A frequency band as fractions of the sample rate (0 .. 0.5).
struct TNXBand {
  double Low = 0;
  double High = 0;
};

// What a designed filter achieves, measured from its taps.
struct TNXFilterReport {
  double PassbandRippleDb = 0;       // max - min of 20 log10 |H| over the pass bands
  double StopbandAttenuationDb = 0;  // pass-band peak over stop-band peak, in dB
  double PassbandPeak = 0;           // max |H| over the pass bands
  std::vector<double> Minus3dBFrequencies;  // where |H| crosses peak / sqrt(2), ascending
  double GroupDelayDC = 0;       // samples; NaN where H(1) = 0
  double GroupDelayCentre = 0;   // at the centre of the first pass band; NaN where H = 0
  bool PolesInsideUnitCircle = true;
};

// The description NXFilterCalc returns: the taps and what can be computed
// from them.
class TNXFilterInfo : public TInterfacedObject {
 public:
  explicit TNXFilterInfo(std::vector<double> ATaps) : FTaps(std::move(ATaps)) {}

  const std::vector<double>& GetTaps() const noexcept { return FTaps; }
  virtual TNXFilterType GetFilterType() const noexcept = 0;

  // The response on the grid of NXGetFIRResponse: the power |H|^2; the phase
  // as NXGetFIRResponse gives it for FIR taps, arg H for the IIR forms.
  virtual void GetResponse(std::vector<double>& AMagnitudes, std::vector<double>& APhases) const = 0;
  // H at a frequency given as a fraction of the sample rate.
  virtual std::complex<double> Evaluate(double AFrequency) const = 0;
  // The group delay in samples at a frequency (fraction of the sample rate);
  // NaN where H is 0.
  virtual double GroupDelay(double AFrequency) const = 0;
  // True when every pole lies strictly inside the unit circle.
  virtual bool PolesInsideUnitCircle() const = 0;

  // Measures the response over the given bands (fractions of the sample
  // rate) on a dense grid.
  TNXFilterReport DesignReport(std::span<const TNXBand> APassbands, std::span<const TNXBand> AStopbands) const;

 protected:
  std::vector<double> FTaps;
};

class TNXFIRFilterInfo : public TNXFilterInfo {
 public:
  using TNXFilterInfo::TNXFilterInfo;
  TNXFilterType GetFilterType() const noexcept override { return ftFIR; }
  void GetResponse(std::vector<double>& AMagnitudes, std::vector<double>& APhases) const override;
  std::complex<double> Evaluate(double AFrequency) const override;
  double GroupDelay(double AFrequency) const override;
  bool PolesInsideUnitCircle() const override { return true; }
};

// Taps: numerator b0 .. bN followed by denominator a0 .. aN.
class TNXIIRFilterInfo : public TNXFilterInfo {
 public:
  using TNXFilterInfo::TNXFilterInfo;
  TNXFilterType GetFilterType() const noexcept override { return ftIIR; }
  void CalcFreqResponse(std::vector<double>& AMagnitudes, std::vector<double>& APhases) const;
  void GetResponse(std::vector<double>& AMagnitudes, std::vector<double>& APhases) const override {
    CalcFreqResponse(AMagnitudes, APhases);
  }
  std::complex<double> Evaluate(double AFrequency) const override;
  double GroupDelay(double AFrequency) const override;
  bool PolesInsideUnitCircle() const override;
  // The filter order N (taps = 2 (N + 1)).
  std::int32_t GetOrder() const noexcept { return static_cast<std::int32_t>(FTaps.size() / 2) - 1; }
};

// Taps: 6 per section, b0, b1, b2, a0, a1, a2.
class TNXBiquadIIRFilterInfo : public TNXFilterInfo {
 public:
  using TNXFilterInfo::TNXFilterInfo;
  TNXFilterType GetFilterType() const noexcept override { return ftBiquadIIR; }
  void CalcFreqResponse(std::vector<double>& AMagnitudes, std::vector<double>& APhases) const;
  void GetResponse(std::vector<double>& AMagnitudes, std::vector<double>& APhases) const override {
    CalcFreqResponse(AMagnitudes, APhases);
  }
  std::complex<double> Evaluate(double AFrequency) const override;
  double GroupDelay(double AFrequency) const override;
  bool PolesInsideUnitCircle() const override;
  std::int32_t GetSectionCount() const noexcept { return static_cast<std::int32_t>(FTaps.size() / 6); }
};

// Designs a filter of any kind. Frequencies in Hz: AFreq1 is the cutoff (or
// the lower band edge), AFreq2 the upper band edge, ASampleRate the sample
// rate. ftFIR windows with AWindowType (AWindowParam, or the default of
// NXDefaultWindowParam when it is NaN); the IIR kinds use AIIRType and, for
// Chebyshev, the pass-band ripple ARipple in dB (0 keeps the designer's
// default of -1 dB; a positive ripple is taken as its negative). An unknown
// filter type fails an assertion and returns nothing.
TIntfPtr<TNXFilterInfo> NXFilterCalc(TNXFilterType AFilterType, TNXDesignFilterType ADesignType, std::int32_t AOrder,
                                     double AFreq1, double AFreq2, double ASampleRate, TNXWindowType AWindowType,
                                     TNXIIRFilterType AIIRType, double ARipple,
                                     double AWindowParam = std::numeric_limits<double>::quiet_NaN());

}  // namespace nx
