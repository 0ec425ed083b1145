// NXExampleSpectrum: the windowed FFT power spectrum of a real stream.
//
// TNXSpectrum cuts the incoming stream into frames of 2^Order samples,
// whatever the sizes of the buffers it arrives in (no overlap), and sends
// one buffer of 2^(Order-1) + 1 bins per frame: bin k is at k * rate / 2^Order
// Hz, the output stream announcing the input's rate (as a start-spectrum
// operation, a kind of start-sample-rate). Each bin is the running mean of its
// power over the last Averaging.Count frames (the last frame alone when
// Averaging is disabled), in dB (10 log10) when Decibels.
//
// Scaling (Normalization), one-sided (the interior bins count twice):
//   fnNormalize      amplitude: a sine of amplitude A on a bin reads A^2
//                    (0 dB at full scale), the window's coherent gain
//                    corrected; a constant A reads A^2 at bin 0;
//   fnNormalizeSqrt  power: the bins sum to the mean square of the signal
//                    (noise reads its variance in total), the window's power
//                    gain corrected;
//   fnNone           the squared magnitudes of the transform as they are.
// A power of 0 reads -300 dB.
//
// Cost per frame: one window multiply, one real FFT (planned when the
// stream starts or a setting changes, never per frame), the power, the
// average over the kept frames and the output buffer; nothing else is
// allocated.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "algorithms/NXAveraging.h"
#include "algorithms/NXWindowFilter.h"
#include "components/NXCommonFilter.h"
#include "components/NXFilterTypes.h"
#include "documents/NXGraphDocument.h"
#include "components/NXFlowNode.h"

namespace nx::examples {

class TNXSpectrum : public TNXCommonRealFilter, public flow::INXFlowNode {
  NX_PERSISTENT(TNXSpectrum, TNXCommonRealFilter)
 public:
  static constexpr std::int32_t kMinOrder = 4;
  // 2^24 points: larger frames would take minutes of stream each.
  static constexpr std::int32_t kMaxOrder = 24;

  explicit TNXSpectrum(TComponent* AOwner = nullptr);
  ~TNXSpectrum() override;
  static void DeclareProperties(TClassBuilder<TNXSpectrum>& P);

  std::int32_t Order() const { return ReadLocked(FOrder); }
  // Kept within kMinOrder .. kMaxOrder.
  void SetOrder(std::int32_t AValue);
  TNXWindowType Window() const { return ReadLocked(FWindow); }
  void SetWindow(TNXWindowType AValue);
  TNXFourierNormalization Normalization() const { return ReadLocked(FNormalization); }
  void SetNormalization(TNXFourierNormalization AValue);
  bool Decibels() const { return ReadLocked(FDecibels); }
  void SetDecibels(bool AValue);
  TRGAveraging* Averaging() const noexcept { return FAveraging.get(); }

  // Frames sent since the stream started.
  std::int64_t Frames() const;

  void FlowPrepare(const flow::TFlowRunContext& AContext) override;
  // Not a sink: the frames and the strongest bin of the last one.
  void FlowFinish(const flow::TFlowRunContext& AContext, flow::TFlowNodeReport& AReport) override;

  // A new stream starts with no partial frame and an empty average.
  void SetSampleRate(double AValue) override;
  bool SinkDispatch(TFTBasicPin* AOtherPin, const TGUID& AStreamID, const TIntfPtr<IFTNotifyOperation>& AOperation,
                    TFTNotifyState AState) override;
  void FilterInternalOperation(const TBuffer& AInput, TBuffer& AOutput, bool& ASend) override;
  // A change of the averaging settings starts the average again.
  void OwnedChanged(TPersistent* ASource) override;

 private:
  struct TPlan;
  // Makes the plan for the current settings (under the output lock).
  void Replan();
  // Turns the full frame into a spectrum and sends it.
  void SendFrame();
  void Invalidate();
  void CopyAveraging();

  std::int32_t FOrder = 10;
  TNXWindowType FWindow = wtHanning;
  TNXFourierNormalization FNormalization = fnNormalize;
  bool FDecibels = true;
  std::unique_ptr<TRGAveraging> FAveraging;
  // Copies of the averaging's settings that the data path reads.
  bool FAverageEnabled = true;
  std::uint32_t FAverageCount = TRGAveraging::DefaultCount;

  // The data path's state, under the output lock (a setting changes under
  // both locks, so it only marks the plan stale).
  std::unique_ptr<TPlan> FPlan;
  bool FStale = true;
  std::int64_t FFrames = 0, FBuffers = 0, FSamples = 0;
  double FPeakFrequency = 0, FPeakLevel = 0;
  double FStreamRate = 0;
};

}  // namespace nx::examples
