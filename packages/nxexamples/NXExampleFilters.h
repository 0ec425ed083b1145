// NXExampleFilters: the filters of the example package.
//   TNXGain           multiplies by Gain, in place;
//   TNXFirFilter      windowed-sinc FIR (low-, high-, band-pass, band-stop);
//   TNXIirFilter      IIR biquad cascade from a Bessel, Butterworth or
//                     Chebyshev prototype of the order asked (an odd low-
//                     or high-pass has a first-order section);
//   TNXMixer          the sample-wise sum of InputCount inputs, times Gain;
//   TNXLevelDetector  one RMS value per buffer; overall peak and RMS for the
//                     run's closing table.
// The FIR and IIR filters design for the stream's sample rate when it starts
// and again, under the component's lock, whenever a setting changes; their
// delay lines carry over from buffer to buffer, so the output of a stream cut
// into buffers equals that of one long buffer.
#pragma once

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <functional>
#include <string>
#include <vector>

#include "algorithms/NXWindowFilter.h"
#include "components/NXCommonFilter.h"
#include "components/NXFilterTypes.h"
#include "documents/NXGraphDocument.h"
#include "components/NXFlowNode.h"
#include "runtime/Zandor.TypeInfo.h"
#include "components/NXComponentKit.h"

namespace nx::examples {

class TNXGain : public TNXRealFilter {
  NX_COMPONENT(TNXGain, TNXRealFilter)
  static void DeclareProperties(TClassBuilder<TNXGain>& P) { P.Prop<&TNXGain::FGain>("Gain", 1.0); }
  double GetGain() const { return ReadLocked(FGain); }
  void SetGain(double AValue) { SetNotify(FGain, AValue); }
  bool CanInline() const override { return true; }

 protected:
  void OnProcess(const TBuffer& AInput, TBuffer& AOutput) override;
  double FGain = 1.0;
};

// What the FIR and IIR filters share: the design settings, the redesign on
// a change, and the report for the closing table.
class TNXDesignedFilterBase : public TNXRealFilter, public flow::INXFlowNode {
  NX_PERSISTENT(TNXDesignedFilterBase, TNXRealFilter)
 public:
  explicit TNXDesignedFilterBase(TComponent* AOwner) : TNXRealFilter(AOwner) { InitProperties(this); }
  static void DeclareProperties(TClassBuilder<TNXDesignedFilterBase>& P);

  TNXDesignFilterType GetFilterType() const { return ReadLocked(FFilterType); }
  void SetFilterType(TNXDesignFilterType AValue) { SetDesign(FFilterType, AValue); }
  std::int32_t GetOrder() const { return ReadLocked(FOrder); }
  void SetOrder(std::int32_t AValue) { SetDesign(FOrder, std::max(AValue, MinOrder())); }
  double GetLowFrequency() const { return ReadLocked(FLowFrequency); }
  void SetLowFrequency(double AValue) { SetDesign(FLowFrequency, AValue); }
  double GetHighFrequency() const { return ReadLocked(FHighFrequency); }
  void SetHighFrequency(double AValue) { SetDesign(FHighFrequency, AValue); }

  // Why the current settings give no filter at ASampleRate, in one line that
  // names this filter ("LowPass: corner 30000 Hz is at or above half the
  // sample rate (48000 Hz)"); empty when they give one. A rate of 0 checks
  // what no rate could mend: a corner not above 0, band edges out of order,
  // an order the prototype does not have.
  std::string DesignFault(double ASampleRate) const;
  // The design the current settings give at ASampleRate (> 0); raises
  // EArgumentException with the DesignFault line when they give none.
  virtual TIntfPtr<TNXFilterInfo> Design(double ASampleRate) const = 0;
  // The report of that design over its pass and stop bands.
  virtual TNXFilterReport DesignReport(double ASampleRate) const = 0;
  // The coefficients in use (empty before a stream started): FIR taps, or 6
  // per biquad section.
  std::vector<double> Taps() const { return ReadLocked(FTaps); }

  // A stream start designs for its rate; settings that give no filter at it
  // leave the filter sending nothing, with the fault set, until a stream
  // start or a change gives a design again.
  void SetSampleRate(double AValue) override;
  void InternalOperation(const TBuffer& AInput, TBuffer& AOutput, bool& ASend, bool AConnected) override;
  // Refuses settings no rate could mend (the DesignFault line at rate 0,
  // without the name: the host adds it).
  void FlowPrepare(const flow::TFlowRunContext& AContext) override;
  void FlowFinish(const flow::TFlowRunContext& AContext, flow::TFlowNodeReport& AReport) override;
  // The fault of the last design attempt, or empty; safe on any thread.
  std::string FlowFault() const override;

 protected:
  virtual std::int32_t MinOrder() const { return 0; }
  // What the prototype cannot design (the IIR's Bessel table ends at order
  // 10), without the filter's name; empty when it can.
  virtual std::string OrderFault() const { return {}; }
  // The closing table's line for a design at ASampleRate, made by the
  // function returned: it owns what it reads (the design, the bands, the
  // figures), so that the measuring can run on another thread.
  virtual std::function<std::string()> Summary(double ASampleRate) const = 0;
  // Designs for FSampleRate and installs the coefficients (under the lock);
  // AKeepHistory carries the delay line over where the design allows. Called
  // only for settings without a fault at that rate.
  virtual void Redesign(bool AKeepHistory) = 0;
  // Lets the coefficients and the delay line go (settings without a design).
  virtual void DropDesign() = 0;
  // Redesigns for FSampleRate when the settings allow it, else drops the
  // design; sets or clears the fault accordingly.
  void Install(bool AKeepHistory);
  // Raises EArgumentException with the fault at ASampleRate, if any.
  void CheckDesign(double ASampleRate) const;
  template <class V>
  void SetDesign(V& AField, V AValue) {
    SetNotify(AField, AValue, [this] {
      if (FSampleRate > 0) Install(true);
    });
  }

  TNXDesignFilterType FFilterType;
  std::int32_t FOrder;
  double FLowFrequency;
  double FHighFrequency;
  std::vector<double> FTaps;
  double FLastRate = 0;  // of the last stream (the report's rate)
  bool FRefused = false;  // no design for the stream's rate: send nothing

 private:
  // DesignFault without the filter's name.
  std::string DesignProblem(double ASampleRate) const;
  void SetFault(std::string AFault);
  // The fault is read by the host's thread while a stream thread may hold
  // the component's lock: it has a lock of its own.
  mutable std::mutex FFaultLock;
  std::string FFault;
};

class TNXFirFilter : public TNXDesignedFilterBase {
  NX_PERSISTENT(TNXFirFilter, TNXDesignedFilterBase)
 public:
  explicit TNXFirFilter(TComponent* AOwner);
  ~TNXFirFilter() override { FreeState(); }
  static void DeclareProperties(TClassBuilder<TNXFirFilter>& P);

  TNXWindowType GetWindow() const { return ReadLocked(FWindow); }
  void SetWindow(TNXWindowType AValue) { SetDesign(FWindow, AValue); }
  // The window's parameter (Blackman alpha, Kaiser alpha); 0 takes the
  // library's default for the window and the tap count.
  double GetWindowParam() const { return ReadLocked(FWindowParam); }
  void SetWindowParam(double AValue) { SetDesign(FWindowParam, AValue); }

  TIntfPtr<TNXFilterInfo> Design(double ASampleRate) const override;
  // Pass and stop bands are the ideal bands less half the window's
  // transition width on either side of each corner.
  TNXFilterReport DesignReport(double ASampleRate) const override;
  // The pass and stop bands DesignReport measures (fractions of the rate).
  void ReportBands(double ASampleRate, std::vector<TNXBand>& APass, std::vector<TNXBand>& AStop) const;

  bool CanInline() const override { return true; }

 protected:
  void OnProcess(const TBuffer& AInput, TBuffer& AOutput) override;
  void Redesign(bool AKeepHistory) override;
  void DropDesign() override;

 private:
  std::function<std::string()> Summary(double ASampleRate) const override;
  void FreeState();

  TNXWindowType FWindow;
  double FWindowParam;
  IppsFIRState_64f* FState = nullptr;
  // The last inputs (as many as there are taps, oldest first): a redesign
  // starts its delay line from them, so a change does not restart from silence.
  std::vector<double> FHistory;
};

class TNXIirFilter : public TNXDesignedFilterBase {
  NX_PERSISTENT(TNXIirFilter, TNXDesignedFilterBase)
 public:
  explicit TNXIirFilter(TComponent* AOwner);
  ~TNXIirFilter() override { FreeState(); }
  static void DeclareProperties(TClassBuilder<TNXIirFilter>& P);

  TNXIIRFilterType GetPrototype() const { return ReadLocked(FPrototype); }
  void SetPrototype(TNXIIRFilterType AValue) { SetDesign(FPrototype, AValue); }
  // Chebyshev pass-band ripple in dB (its sign is ignored).
  double GetRipple() const { return ReadLocked(FRipple); }
  void SetRipple(double AValue) { SetDesign(FRipple, AValue); }

  TIntfPtr<TNXFilterInfo> Design(double ASampleRate) const override;
  // Pass bands between the corners (or outside them); no stop bands: the
  // report gives the -3 dB points and the ripple.
  TNXFilterReport DesignReport(double ASampleRate) const override;
  // The pass and stop bands DesignReport measures (fractions of the rate).
  void ReportBands(double ASampleRate, std::vector<TNXBand>& APass, std::vector<TNXBand>& AStop) const;

  bool CanInline() const override { return true; }

 protected:
  void OnProcess(const TBuffer& AInput, TBuffer& AOutput) override;
  std::int32_t MinOrder() const override { return 1; }
  // The sections' delay lines do not carry over to another design: a change
  // starts the cascade from rest.
  void Redesign(bool AKeepHistory) override;
  void DropDesign() override;
  std::string OrderFault() const override;

 private:
  std::function<std::string()> Summary(double ASampleRate) const override;
  void FreeState();

  TNXIIRFilterType FPrototype;
  double FRipple;
  IppsIIRState_64f* FState = nullptr;
};

// The sum of the inputs ("InputPin1" .. "InputPinN") at the agreed rate
// (inputs at a lower rate are stretched to it), times Gain.
class TNXMixer : public TNXRealMultiInputFilter {
  NX_COMPONENT(TNXMixer, TNXRealMultiInputFilter)
  static void DeclareProperties(TClassBuilder<TNXMixer>& P) { P.Prop<&TNXMixer::FGain>("Gain", 1.0); }
  double GetGain() const { return ReadLocked(FGain); }
  void SetGain(double AValue) { SetNotify(FGain, AValue); }

 protected:
  void OnProcess(TBuffer& AOutput) override;
  double FGain = 1.0;
};

// Sends one value per input buffer: its RMS level (linear). Keeps the peak
// and RMS of everything received; FlowFinish reports them in dBFS. The start
// of the stream is passed on as it came (the input's rate): the output's
// spacing is one value per input buffer, whatever sizes they have.
class TNXLevelDetector : public TNXCommonRealFilter, public flow::INXFlowNode {
  NX_PERSISTENT(TNXLevelDetector, TNXCommonRealFilter)
 public:
  explicit TNXLevelDetector(TComponent* AOwner);

  double Peak() const;
  double Rms() const;
  std::int64_t Buffers() const;
  std::int64_t Samples() const;
  // Forgets what was measured.
  void ResetLevels();

  void SetSampleRate(double AValue) override;
  bool CanInline() const override { return true; }
  // Measures whether or not anything is linked to the output.
  void InternalOperation(const TBuffer& AInput, TBuffer& AOutput, bool& ASend, bool AConnected) override;
  void FlowFinish(const flow::TFlowRunContext& AContext, flow::TFlowNodeReport& AReport) override;

 private:
  double FPeak = 0;
  double FSumSquares = 0;
  std::int64_t FBuffers = 0;
  std::int64_t FSamples = 0;
  double FLastRate = 0;
};

}  // namespace nx::examples
