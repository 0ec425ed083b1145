// NXExampleFilters: gain, FIR, IIR, mixer and level detector. See
// NXExampleFilters.h.
#include "packages/nxexamples/NXExampleFilters.h"
#include "components/NXRealSink.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "packages/nxexamples/NXExamplesPackage.h"

namespace nx::examples {

namespace {

// The filtering primitives fail only on arguments this unit checks itself;
// a failure is a broken invariant, reported with the primitive's status.
void CheckStatus(IppStatus AStatus, const char* AWhat) {
  if (AStatus != ippStsNoErr) throw EInvalidOperation(std::string(AWhat) + " failed with status " + std::to_string(AStatus));
}

std::string Decibels(double AValue) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", AValue);
  return text;
}

// A frequency as a document gives it: 30000, 22050, 1234.5.
std::string Hertz(double AValue) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", AValue);
  return text;
}

}  // namespace

// ---------------------------------------------------------------- gain

void TNXGain::OnProcess(const TBuffer& AInput, TBuffer& AOutput) {
  if (FGain == 1.0 || AOutput->GetSize() == 0) return;  // nothing to write: no copy either
  // In place when the output is the received buffer; otherwise the output
  // shares the input's block and the products go into a fresh one, without
  // first copying the samples they replace.
  if (AInput.Get() == AOutput.Get())
    ippsMulC_64f_I(FGain, AOutput->Modify(), AOutput->GetSize());
  else
    ippsMulC_64f(AInput->Read(), FGain, AOutput->Write(), AOutput->GetSize());
}

// ---------------------------------------------------------------- designed filters

void TNXDesignedFilterBase::DeclareProperties(TClassBuilder<TNXDesignedFilterBase>&) {}

void TNXDesignedFilterBase::SetSampleRate(double AValue) {
  TWriteLock guard(GetLock());
  TNXRealFilter::SetSampleRate(AValue);
  // A new stream starts from rest.
  if (FSampleRate > 0) {
    FLastRate = FSampleRate;
    Install(false);
  }
}

std::string TNXDesignedFilterBase::DesignFault(double ASampleRate) const {
  const std::string fault = DesignProblem(ASampleRate);
  return fault.empty() ? fault : GetNamePath() + ": " + fault;
}

std::string TNXDesignedFilterBase::DesignProblem(double ASampleRate) const {
  TReadLock guard(GetLock());
  // Low- and high-pass designs use the low corner alone.
  const bool band = FFilterType == fdftBandPass || FFilterType == fdftBandStop;
  std::string fault;
  // What no rate mends first, so that the line is the same as before the run.
  if (!(FLowFrequency > 0)) {
    fault = (band ? "low corner " : "corner ") + Hertz(FLowFrequency) + " Hz is not above 0 Hz";
  } else if (band && !(FHighFrequency > FLowFrequency)) {
    fault = "low corner " + Hertz(FLowFrequency) + " Hz is not below the high corner " + Hertz(FHighFrequency) + " Hz";
  } else if (std::string order = OrderFault(); !order.empty()) {
    fault = std::move(order);
  } else if (ASampleRate > 0) {
    // The windowed-sinc taps and the designers' frequency warping both need
    // corners strictly below half the rate.
    const double top = band ? FHighFrequency : FLowFrequency;
    if (!(top < ASampleRate / 2))
      fault = (band ? "high corner " : "corner ") + Hertz(top) + " Hz is at or above half the sample rate (" +
              Hertz(ASampleRate) + " Hz)";
  }
  return fault;
}

void TNXDesignedFilterBase::CheckDesign(double ASampleRate) const {
  if (!(ASampleRate > 0)) RaiseRange("Sample rate out of range = %g", ASampleRate);
  const std::string fault = DesignFault(ASampleRate);
  if (!fault.empty()) throw EArgumentException(fault);
}

void TNXDesignedFilterBase::Install(bool AKeepHistory) {
  TWriteLock guard(GetLock());
  std::string fault = DesignFault(FSampleRate);
  FRefused = !fault.empty();
  if (FRefused)
    DropDesign();
  else
    Redesign(AKeepHistory);
  SetFault(std::move(fault));
}

void TNXDesignedFilterBase::SetFault(std::string AFault) {
  std::lock_guard lock(FFaultLock);
  FFault = std::move(AFault);
}

std::string TNXDesignedFilterBase::FlowFault() const {
  std::lock_guard lock(FFaultLock);
  return FFault;
}

void TNXDesignedFilterBase::InternalOperation(const TBuffer& AInput, TBuffer& AOutput, bool& ASend, bool AConnected) {
  // Without a design for the stream's rate nothing goes out: a stream cut
  // off shows the fault, a stream passed through unfiltered would hide it.
  if (FRefused) {
    ASend = false;
    return;
  }
  TNXRealFilter::InternalOperation(AInput, AOutput, ASend, AConnected);
}

void TNXDesignedFilterBase::FlowPrepare(const flow::TFlowRunContext&) {
  // The host puts the component's name before what FlowPrepare raises.
  const std::string fault = DesignProblem(0);
  if (!fault.empty()) throw EArgumentException(fault);
}

void TNXDesignedFilterBase::FlowFinish(const flow::TFlowRunContext&, flow::TFlowNodeReport& AReport) {
  TReadLock guard(GetLock());
  AReport.SampleRate = FLastRate;
  if (FRefused) {
    AReport.Summary = FlowFault();
  } else if (FLastRate <= 0) {
    AReport.Summary = "no stream ran";
  } else {
    // Measuring the design is the slow part: beside the next component's
    // finish when the host lets work go on (it reads the report after).
    TNXOutputWriters::Defer(this, [&AReport, make = Summary(FLastRate)] { AReport.Summary = make(); });
  }
}

// ---------------------------------------------------------------- FIR

namespace {

// The transition width of a windowed-sinc design, in units of rate / taps:
// the usual main-lobe figures of each window (Kaiser: its -60 dB default).
double TransitionWidth(TNXWindowType AWindow) {
  switch (AWindow) {
    case wtRect: return 0.9;
    case wtBartlett: return 4.0;
    case wtBlackman: return 5.5;
    case wtHamming: return 3.3;
    case wtHanning: return 3.1;
    case wtKaiser: return 3.7;
  }
  return 4.0;
}

void AddBand(std::vector<TNXBand>& ABands, double ALow, double AHigh) {
  ALow = std::max(ALow, 0.0);
  AHigh = std::min(AHigh, 0.5);
  if (AHigh > ALow) ABands.push_back({ALow, AHigh});
}

}  // namespace

TNXFirFilter::TNXFirFilter(TComponent* AOwner) : TNXDesignedFilterBase(AOwner) { InitProperties(this); }

void TNXFirFilter::DeclareProperties(TClassBuilder<TNXFirFilter>& P) {
  P.Prop<&TNXFirFilter::FFilterType, &TNXFirFilter::SetFilterType>("FilterType", fdftLowPass);
  // 65,536 taps: far past any useful FIR, and within what a run can convolve.
  P.Prop<&TNXFirFilter::FOrder, &TNXFirFilter::SetOrder>("Order", std::int32_t(64))
      .Min(std::int32_t(0))
      .Max(std::int32_t(1 << 16));
  P.Prop<&TNXFirFilter::FLowFrequency, &TNXFirFilter::SetLowFrequency>("LowFrequency", 1000.0);
  P.Prop<&TNXFirFilter::FHighFrequency, &TNXFirFilter::SetHighFrequency>("HighFrequency", 4000.0);
  P.Prop<&TNXFirFilter::FWindow, &TNXFirFilter::SetWindow>("Window", wtHamming);
  P.Prop<&TNXFirFilter::FWindowParam, &TNXFirFilter::SetWindowParam>("WindowParam", 0.0);
}

TIntfPtr<TNXFilterInfo> TNXFirFilter::Design(double ASampleRate) const {
  TReadLock guard(GetLock());
  CheckDesign(ASampleRate);
  const double param = FWindowParam != 0 ? FWindowParam : std::numeric_limits<double>::quiet_NaN();
  return NXFilterCalc(ftFIR, FFilterType, FOrder, FLowFrequency, FHighFrequency, ASampleRate, FWindow,
                      iirButterworth, 0, param);
}

void TNXFirFilter::ReportBands(double ASampleRate, std::vector<TNXBand>& APass, std::vector<TNXBand>& AStop) const {
  TReadLock guard(GetLock());
  APass.clear();
  AStop.clear();
  CheckDesign(ASampleRate);
  const double low = FLowFrequency / ASampleRate, high = FHighFrequency / ASampleRate;
  const double taps = FOrder % 2 == 0 ? FOrder + 1 : FOrder;
  const double d = TransitionWidth(FWindow) / (2 * taps);
  switch (FFilterType) {
    case fdftLowPass:
      AddBand(APass, 0, low - d);
      AddBand(AStop, low + d, 0.5);
      break;
    case fdftHighPass:
      AddBand(AStop, 0, low - d);
      AddBand(APass, low + d, 0.5);
      break;
    case fdftBandPass:
      AddBand(AStop, 0, low - d);
      AddBand(APass, low + d, high - d);
      AddBand(AStop, high + d, 0.5);
      break;
    case fdftBandStop:
      AddBand(APass, 0, low - d);
      AddBand(AStop, low + d, high - d);
      AddBand(APass, high + d, 0.5);
      break;
  }
}

TNXFilterReport TNXFirFilter::DesignReport(double ASampleRate) const {
  std::vector<TNXBand> pass, stop;
  ReportBands(ASampleRate, pass, stop);
  return Design(ASampleRate)->DesignReport(pass, stop);
}

std::function<std::string()> TNXFirFilter::Summary(double ASampleRate) const {
  std::vector<TNXBand> pass, stop;
  ReportBands(ASampleRate, pass, stop);
  return [design = Design(ASampleRate), pass, stop, taps = ReadLocked(FTaps).size()] {
    const TNXFilterReport r = design->DesignReport(pass, stop);
    return std::to_string(taps) + " taps, stopband " + Decibels(r.StopbandAttenuationDb) + " dB, ripple " +
           Decibels(r.PassbandRippleDb) + " dB";
  };
}

void TNXFirFilter::FreeState() {
  if (FState) ippsFIRFree_64f(FState);
  FState = nullptr;
}

void TNXFirFilter::DropDesign() {
  TWriteLock guard(GetLock());
  FreeState();
  FTaps.clear();
  FHistory.clear();
}

void TNXFirFilter::Redesign(bool AKeepHistory) {
  TWriteLock guard(GetLock());
  std::vector<double> taps = Design(FSampleRate)->GetTaps();
  const std::size_t m = taps.size();
  // The delay line holds the last m inputs, oldest first.
  std::vector<double> line(m, 0.0);
  if (AKeepHistory) {
    const std::size_t keep = std::min(m, FHistory.size());
    std::copy(FHistory.end() - static_cast<std::ptrdiff_t>(keep), FHistory.end(), line.end() - static_cast<std::ptrdiff_t>(keep));
  }
  IppsFIRState_64f* state = nullptr;
  CheckStatus(ippsFIRInitAlloc_64f(&state, taps.data(), static_cast<int>(m), line.data()), "FIR set-up");
  FreeState();
  FState = state;
  FTaps = std::move(taps);
  FHistory = std::move(line);
}

void TNXFirFilter::OnProcess(const TBuffer& AInput, TBuffer& AOutput) {
  const std::int32_t n = AInput->GetSize();
  if (!FState || n == 0) return;  // no stream rate yet: passes unchanged
  // Read before Write: when the output is the input itself, Write keeps its
  // block (the only owner); otherwise it gets a block of its own and the
  // input's stays as it was.
  const double* x = AInput->Read();
  if (AOutput->GetSize() != n) AOutput->Resize(static_cast<std::uint32_t>(n), false);
  double* y = AOutput->Write();
  // The last inputs, before an in-place run overwrites them.
  const std::size_t m = FHistory.size();
  if (static_cast<std::size_t>(n) >= m) {
    std::copy(x + (n - static_cast<std::int32_t>(m)), x + n, FHistory.begin());
  } else {
    std::move(FHistory.begin() + n, FHistory.end(), FHistory.begin());
    std::copy(x, x + n, FHistory.end() - n);
  }
  CheckStatus(ippsFIR_64f(x, y, n, FState), "FIR");
}

// ---------------------------------------------------------------- IIR

TNXIirFilter::TNXIirFilter(TComponent* AOwner) : TNXDesignedFilterBase(AOwner) { InitProperties(this); }

void TNXIirFilter::DeclareProperties(TClassBuilder<TNXIirFilter>& P) {
  P.Prop<&TNXIirFilter::FFilterType, &TNXIirFilter::SetFilterType>("FilterType", fdftBandPass);
  P.Prop<&TNXIirFilter::FPrototype, &TNXIirFilter::SetPrototype>("Prototype", iirButterworth);
  // Past order 64 the sections' poles crowd the unit circle closer than
  // doubles can place them: such a design would not be stable.
  P.Prop<&TNXIirFilter::FOrder, &TNXIirFilter::SetOrder>("Order", std::int32_t(4))
      .Min(std::int32_t(1))
      .Max(std::int32_t(64))
      .Description(
          "the prototype's order, as designed: the poles of a low- or high-pass; band filters have twice as many");
  P.Prop<&TNXIirFilter::FLowFrequency, &TNXIirFilter::SetLowFrequency>("LowFrequency", 1000.0);
  P.Prop<&TNXIirFilter::FHighFrequency, &TNXIirFilter::SetHighFrequency>("HighFrequency", 4000.0);
  P.Prop<&TNXIirFilter::FRipple, &TNXIirFilter::SetRipple>("Ripple", 0.5);
}

namespace {

// The library's cascade designer rounds an odd order up to whole
// second-order sections. This one designs the order it is given: the real
// pole of an odd low- or high-pass gets a first-order section of its own,
// and an odd band filter (twice the poles) still makes whole sections.
class TAskedOrderCascade final : public TNXDesignedIIRbiquad {
 public:
  std::int32_t GetOrder() const override { return FOrder; }
};

}  // namespace

std::string TNXIirFilter::OrderFault() const {
  // The Bessel prototypes are tabled up to order 10.
  if (FPrototype == iirBessel && FOrder > 10)
    return "order " + std::to_string(FOrder) + " is above 10, the highest Bessel order";
  return {};
}

TIntfPtr<TNXFilterInfo> TNXIirFilter::Design(double ASampleRate) const {
  TReadLock guard(GetLock());
  CheckDesign(ASampleRate);
  TAskedOrderCascade cascade;
  cascade.SetOrder(FOrder);
  cascade.SetFilterType(FPrototype);
  // A ripple of 0 would mean the designer's default; keep a small real one.
  cascade.SetRipple(-static_cast<float>(FRipple != 0 ? std::fabs(FRipple) : 0.01));
  cascade.SetAlpha1(FLowFrequency / ASampleRate);
  cascade.SetAlpha2(FHighFrequency / ASampleRate);
  cascade.SetDesignType(FFilterType);
  cascade.Calculate();
  return TIntfPtr<TNXFilterInfo>(new TNXBiquadIIRFilterInfo(cascade.GetSectionTaps()));
}

TNXFilterReport TNXIirFilter::DesignReport(double ASampleRate) const {
  std::vector<TNXBand> pass, stop;
  ReportBands(ASampleRate, pass, stop);
  return Design(ASampleRate)->DesignReport(pass, stop);
}

void TNXIirFilter::ReportBands(double ASampleRate, std::vector<TNXBand>& pass, std::vector<TNXBand>& stop) const {
  TReadLock guard(GetLock());
  pass.clear();
  stop.clear();
  CheckDesign(ASampleRate);
  const double low = FLowFrequency / ASampleRate, high = FHighFrequency / ASampleRate;
  // Pass bands up to the corners; stop bands from an octave beyond them.
  switch (FFilterType) {
    case fdftLowPass:
      AddBand(pass, 0, low);
      AddBand(stop, 2 * low, 0.5);
      break;
    case fdftHighPass:
      AddBand(pass, low, 0.5);
      AddBand(stop, 0, low / 2);
      break;
    case fdftBandPass:
      AddBand(pass, low, high);
      AddBand(stop, 0, low / 2);
      AddBand(stop, 2 * high, 0.5);
      break;
    case fdftBandStop:
      AddBand(pass, 0, low);
      AddBand(pass, high, 0.5);
      break;
  }
}

std::function<std::string()> TNXIirFilter::Summary(double ASampleRate) const {
  std::vector<TNXBand> pass, stop;
  ReportBands(ASampleRate, pass, stop);
  return [design = Design(ASampleRate), pass, stop, rate = ASampleRate, order = ReadLocked(FOrder),
          sections = ReadLocked(FTaps).size() / 6] {
    const TNXFilterReport r = design->DesignReport(pass, stop);
    std::string corners;
    for (double f : r.Minus3dBFrequencies) {
      char text[32];
      std::snprintf(text, sizeof text, "%s%.0f", corners.empty() ? "" : "/", f * rate);
      corners += text;
    }
    return "order " + std::to_string(order) + ", " + std::to_string(sections) + " sections, -3 dB at " +
           (corners.empty() ? "-" : corners) + " Hz, an octave out " + Decibels(r.StopbandAttenuationDb) + " dB";
  };
}

void TNXIirFilter::FreeState() {
  if (FState) ippsIIRFree_64f(FState);
  FState = nullptr;
}

void TNXIirFilter::DropDesign() {
  TWriteLock guard(GetLock());
  FreeState();
  FTaps.clear();
}

void TNXIirFilter::Redesign(bool) {
  TWriteLock guard(GetLock());
  std::vector<double> taps = Design(FSampleRate)->GetTaps();
  IppsIIRState_64f* state = nullptr;
  CheckStatus(ippsIIRInitAlloc_BiQuad_64f(&state, taps.data(), static_cast<int>(taps.size() / 6), nullptr),
              "IIR set-up");
  FreeState();
  FState = state;
  FTaps = std::move(taps);
}

void TNXIirFilter::OnProcess(const TBuffer& AInput, TBuffer& AOutput) {
  const std::int32_t n = AInput->GetSize();
  if (!FState || n == 0) return;
  const double* x = AInput->Read();  // before Write: see the FIR filter
  if (AOutput->GetSize() != n) AOutput->Resize(static_cast<std::uint32_t>(n), false);
  CheckStatus(ippsIIR_64f(x, AOutput->Write(), n, FState), "IIR");
}

// ---------------------------------------------------------------- mixer

void TNXMixer::OnProcess(TBuffer& AOutput) {
  double* data = AOutput->Write();
  const std::int32_t size = AOutput->GetSize();
  SumInputs(data, size);
  if (FGain != 1.0 && size > 0) ippsMulC_64f_I(FGain, data, size);
}

// ---------------------------------------------------------------- level detector

TNXLevelDetector::TNXLevelDetector(TComponent* AOwner) : TNXCommonRealFilter(AOwner) { InitProperties(this); }

void TNXLevelDetector::SetSampleRate(double AValue) {
  TWriteLock guard(GetLock());
  TNXCommonRealFilter::SetSampleRate(AValue);
  if (AValue > 0) FLastRate = AValue;
}

double TNXLevelDetector::Peak() const { return ReadLocked(FPeak); }
std::int64_t TNXLevelDetector::Buffers() const { return ReadLocked(FBuffers); }
std::int64_t TNXLevelDetector::Samples() const { return ReadLocked(FSamples); }

double TNXLevelDetector::Rms() const {
  TReadLock guard(GetLock());
  return FSamples > 0 ? std::sqrt(FSumSquares / static_cast<double>(FSamples)) : 0.0;
}

void TNXLevelDetector::ResetLevels() {
  TWriteLock guard(GetLock());
  FPeak = FSumSquares = 0;
  FBuffers = FSamples = 0;
}

void TNXLevelDetector::InternalOperation(const TBuffer& AInput, TBuffer& AOutput, bool& ASend, bool AConnected) {
  const std::int32_t n = AInput->GetSize();
  double squares = 0, rms = 0;
  if (n > 0) {
    const double* x = AInput->Read();
    double lo = 0, hi = 0;
    ippsDotProd_64f(x, x, n, &squares);
    ippsMinMax_64f(x, n, &lo, &hi);
    FPeak = std::max({FPeak, -lo, hi});
    rms = std::sqrt(squares / n);
  }
  FSumSquares += squares;
  ++FBuffers;
  FSamples += n;
  if (!AConnected) {
    ASend = false;
    return;
  }
  // One value: the block is only shrunk (kept), and written through the
  // output's own writing access.
  AOutput->Resize(1, true);
  AOutput->Write()[0] = rms;
}

void TNXLevelDetector::FlowFinish(const flow::TFlowRunContext&, flow::TFlowNodeReport& AReport) {
  TReadLock guard(GetLock());
  AReport.IsSink = false;
  AReport.Buffers = FBuffers;
  AReport.Samples = FSamples;
  AReport.SampleRate = FLastRate;
  auto dbfs = [](double v) { return v > 0 ? Decibels(20 * std::log10(v)) : std::string("-inf"); };
  const double rms = FSamples > 0 ? std::sqrt(FSumSquares / static_cast<double>(FSamples)) : 0.0;
  AReport.Summary = "peak " + dbfs(FPeak) + " dBFS, rms " + dbfs(rms) + " dBFS";
}

void AddFilterClasses(TClassList& AList) {
  AList.push_back(&TNXGain::StaticClassInfo());
  AList.push_back(&TNXFirFilter::StaticClassInfo());
  AList.push_back(&TNXIirFilter::StaticClassInfo());
  AList.push_back(&TNXMixer::StaticClassInfo());
  AList.push_back(&TNXLevelDetector::StaticClassInfo());
}

}  // namespace nx::examples
