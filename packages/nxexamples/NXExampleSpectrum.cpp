// NXExampleSpectrum: frames, window, FFT, power, average, decibels.
#include "packages/nxexamples/NXExampleSpectrum.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>
#include <utility>

#include "packages/nxexamples/NXExamplesPackage.h"
#include "runtime/SysUtils.h"
#include "vector/NXBasicDispatcher.h"
#include "vector/builtin/NXBuiltinFFT.h"

namespace nx::examples {

namespace {
// The floor of the power before the logarithm: silence reads -300 dB, not -inf.
constexpr double kPowerFloor = 1e-30;
}  // namespace

// A block of doubles on whole cache lines: the transform and the vector
// primitives run their fastest path on such addresses (about an eighth
// faster for a 4096-point transform than on an ordinary heap block).
class TLineDoubles {
 public:
  TLineDoubles() = default;
  TLineDoubles(const TLineDoubles&) = delete;
  TLineDoubles& operator=(const TLineDoubles&) = delete;
  ~TLineDoubles() { _ippFree(FData); }
  // AN zeroed doubles (the earlier ones are dropped).
  void Make(std::size_t AN) {
    _ippFree(std::exchange(FData, nullptr));
    FData = static_cast<double*>(NXMallocLineAligned(AN * sizeof(double)));
    if (!FData) throw std::bad_alloc();
    std::fill_n(FData, AN, 0.0);
  }
  double* data() const noexcept { return FData; }

 private:
  double* FData = nullptr;
};

// Everything the data path needs for one setting of Order, Window,
// Normalization and Averaging: made when the stream starts or after a
// change, used for every frame.
struct TNXSpectrum::TPlan {
  // The settings it was made for: a new stream with the same ones starts
  // over on this plan instead of making (and page-faulting) a new one.
  struct TKey {
    std::int32_t Order;
    TNXWindowType Window;
    TNXFourierNormalization Normalization;
    bool Decibels, Average;
    std::uint32_t Count;
    bool operator==(const TKey&) const = default;
  } Key{};
  std::int32_t Size = 0;  // 2^Order
  std::int32_t Bins = 0;  // Size / 2 + 1
  std::vector<double> Window;
  IppsFFTSpec_R_64f* Spec = nullptr;
  std::vector<Ipp8u> Work;  // the transform's work buffer (empty: it makes its own)
  // The frame being filled, windowed as its samples arrive (the product is
  // the same as windowing the whole frame at the end, without a copy).
  std::int32_t Fill = 0;
  TLineDoubles Windowed;   // Size
  TLineDoubles Transform;  // Size + 2 (CCS)
  // Multipliers of |X|^2: interior bins, and bins 0 and Size/2.
  double Scale = 1, EdgeScale = 1;
  // The last Key.Count power frames, a ring of rows.
  TLineDoubles History;
  std::size_t RowStride = 0;  // Bins rounded up to whole cache lines
  std::int32_t Next = 0, Filled = 0;

  ~TPlan() {
    if (Spec) ippsFFTFree_R_64f(Spec);
  }
};

TNXSpectrum::TNXSpectrum(TComponent* AOwner)
    : TNXCommonRealFilter(AOwner), FAveraging(new TRGAveraging(this)) {
  InitProperties(this);
  CopyAveraging();
}

TNXSpectrum::~TNXSpectrum() {
  // No delivery may reach the plan once it starts to go.
  InputPin()->Close();
  ShutdownThread();
}

void TNXSpectrum::DeclareProperties(TClassBuilder<TNXSpectrum>& P) {
  P.Prop<&TNXSpectrum::FOrder, &TNXSpectrum::SetOrder>("Order", std::int32_t(10)).Min(kMinOrder).Max(kMaxOrder);
  P.Prop<&TNXSpectrum::FWindow, &TNXSpectrum::SetWindow>("Window", wtHanning);
  P.Prop<&TNXSpectrum::FNormalization, &TNXSpectrum::SetNormalization>("Normalization", fnNormalize);
  P.Prop<&TNXSpectrum::FAveraging>("Averaging");
  P.Prop<&TNXSpectrum::FDecibels, &TNXSpectrum::SetDecibels>("Decibels", true);
}

void TNXSpectrum::Invalidate() { FStale = true; }

void TNXSpectrum::CopyAveraging() {
  // Under the component's lock (recursive: the averaging's setters hold it).
  TWriteLock guard(GetLock());
  FAverageEnabled = FAveraging->Enabled();
  FAverageCount = FAveraging->GetCount();
  Invalidate();
}

void TNXSpectrum::SetOrder(std::int32_t AValue) {
  SetNotify(FOrder, std::clamp(AValue, kMinOrder, kMaxOrder), [this] { Invalidate(); });
}
void TNXSpectrum::SetWindow(TNXWindowType AValue) { SetNotify(FWindow, AValue, [this] { Invalidate(); }); }
void TNXSpectrum::SetNormalization(TNXFourierNormalization AValue) {
  SetNotify(FNormalization, AValue, [this] { Invalidate(); });
}
void TNXSpectrum::SetDecibels(bool AValue) { SetNotify(FDecibels, AValue, [this] { Invalidate(); }); }

void TNXSpectrum::OwnedChanged(TPersistent* ASource) {
  // Runs under the lock the averaging's setter holds (the component's).
  if (ASource == FAveraging.get()) CopyAveraging();
  TNXCommonRealFilter::OwnedChanged(ASource);
}

std::int64_t TNXSpectrum::Frames() const {
  TWriteLock guard(OutputLock());
  return FFrames;
}

void TNXSpectrum::SetSampleRate(double AValue) {
  TNXCommonRealFilter::SetSampleRate(AValue);
  {
    // The report keeps the rate of the stream after it stopped.
    TWriteLock guard(GetLock());
    FStreamRate = AValue;
  }
  // A new stream: no partial frame, no average from the last one. (The
  // averaging settings are copied again too: a document reader may have set
  // them without a change notification.)
  CopyAveraging();
}

bool TNXSpectrum::SinkDispatch(TFTBasicPin* AOtherPin, const TGUID& AStreamID,
                               const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) {
  // The output is a spectrum stream at the input's rate.
  if (const auto* start = AOperation->As<TFTStartSampleRateOperation>()) {
    SetSampleRate(start->GetSampleRate());
    StreamStart();
    return OutputPinsNotify(TFTStartSpectrumOperation::Make(start->GetSampleRate()));
  }
  return TNXCommonRealFilter::SinkDispatch(AOtherPin, AStreamID, AOperation, AState);
}

void TNXSpectrum::Replan() {
  // Under the output lock; the settings change only under both locks, so
  // they are read here as they stand (taking the component's lock here
  // would take the input side after the output side).
  const std::int32_t order = std::clamp(FOrder, kMinOrder, kMaxOrder);
  // The averaging's settings as last copied under the component's lock.
  const TPlan::TKey key{order, FWindow, FNormalization, FDecibels, FAverageEnabled,
                        FAverageEnabled ? std::max<std::uint32_t>(1, FAverageCount) : 1};
  if (FPlan && FPlan->Key == key) {
    // No partial frame and no average from before; the old rows are not
    // read again (the mean takes only the rows filled since).
    FPlan->Fill = FPlan->Next = FPlan->Filled = 0;
    FStale = false;
    return;
  }
  std::unique_ptr<TPlan> plan(new TPlan);
  plan->Key = key;
  plan->Size = 1 << order;
  plan->Bins = plan->Size / 2 + 1;
  double gain = 1, powerGain = 1;
  std::vector<TComplex> kernel;
  NXWindowCalculator::CalculateOldWindow(plan->Window, FWindow, order, NXDefaultWindowParam(FWindow, plan->Size),
                                         gain, powerGain, kernel);
  if (ippsFFTInitAlloc_R_64f(&plan->Spec, order, IPP_FFT_NODIV_BY_ANY, ippAlgHintNone) != ippStsNoErr)
    plan->Spec = nullptr;
  // The built-in transform says how much work space it needs; handing it
  // one saves an allocation per frame. (Another implementation gets none
  // and provides its own.)
  int workSize = 0;
  if (plan->Spec && ippsFFTInitAlloc_R_64f == &builtin::ippsFFTInitAlloc_R_64f &&
      builtin::ippsFFTGetBufSize_R_64f(plan->Spec, &workSize) == ippStsNoErr && workSize > 0)
    plan->Work.resize(static_cast<std::size_t>(workSize));
  plan->Windowed.Make(static_cast<std::size_t>(plan->Size));
  plan->Transform.Make(static_cast<std::size_t>(plan->Size) + 2);
  const double n = plan->Size;
  switch (FNormalization) {
    case fnNormalize: {
      // |X[k]| of a sine of amplitude A on bin k is A/2 * sum(w) = A/2 * n / gain.
      const double amplitude = 2 * gain / n;
      plan->Scale = amplitude * amplitude;
      plan->EdgeScale = plan->Scale / 4;
      break;
    }
    case fnNormalizeSqrt:
      // sum |X|^2 = n * sum (x w)^2; powerGain^2 = n / sum w^2.
      plan->EdgeScale = powerGain * powerGain / (n * n);
      plan->Scale = 2 * plan->EdgeScale;
      break;
    case fnNone: plan->Scale = plan->EdgeScale = 1; break;
  }
  plan->RowStride = (static_cast<std::size_t>(plan->Bins) + 7) & ~std::size_t(7);
  if (key.Count > 1) plan->History.Make(static_cast<std::size_t>(key.Count) * plan->RowStride);  // averaging only
  FPlan = std::move(plan);
  FStale = false;
}

void TNXSpectrum::SendFrame() {
  TPlan& p = *FPlan;
  const std::int32_t bins = p.Bins;
  if (!p.Spec || ippsFFTFwd_RToCCS_64f(p.Windowed.data(), p.Transform.data(), p.Spec,
                                       p.Work.empty() ? nullptr : p.Work.data()) != ippStsNoErr)
    return;
  TIntfPtr<INXRealBuffer> out = TNXRealBuffer::MakeSize(static_cast<std::uint32_t>(bins));
  double* values = out->Write();
  // The newest row of the history takes this frame's power; without
  // averaging the frame's power is the output itself.
  const auto count = static_cast<std::int32_t>(p.Key.Count);
  double* row = count == 1 ? values : p.History.data() + static_cast<std::size_t>(p.Next) * p.RowStride;
  ippsPowerSpectr_64fc(reinterpret_cast<const Ipp64fc*>(p.Transform.data()), row, bins);
  ippsMulC_64f_I(p.Scale, row + 1, bins - 2);
  row[0] *= p.EdgeScale;
  row[bins - 1] *= p.EdgeScale;
  p.Next = (p.Next + 1) % count;
  p.Filled = std::min(p.Filled + 1, count);
  if (count > 1) {
    // The mean over the kept rows, summed afresh each frame: a running sum
    // would carry the rounding of large powers into the small ones. The first
    // two rows are added in one pass (no copy of the first row first).
    const double* history = p.History.data();
    if (p.Filled == 1)
      ippsCopy_64f(history, values, bins);
    else
      ippsAdd_64f(history, history + p.RowStride, values, bins);
    for (std::int32_t r = 2; r < p.Filled; ++r)
      ippsAdd_64f_I(history + static_cast<std::size_t>(r) * p.RowStride, values, bins);
    if (p.Filled > 1) ippsMulC_64f_I(1.0 / p.Filled, values, bins);
  }
  if (p.Key.Decibels) {
    ippsThreshold_64f_I(values, bins, kPowerFloor, ippCmpLess);
    ippsLn_64f_I(values, bins);
    ippsMulC_64f_I(10 / std::numbers::ln10, values, bins);
  }
  std::int32_t peak = 0;
  double peakValue = 0;
  ippsMaxIndx_64f(values, bins, &peakValue, &peak);
  FPeakFrequency = FSampleRate * peak / p.Size;
  FPeakLevel = p.Key.Decibels ? peakValue : 10 * std::log10(std::max(peakValue, kPowerFloor));
  ++FFrames;
  OutputPin()->SubmitBuffer(TIntfPtr<INXData>(std::move(out)));
}

void TNXSpectrum::FilterInternalOperation(const TBuffer& AInput, TBuffer&, bool& ASend) {
  // Frames go out as they fill; the input buffer itself is not sent on.
  ASend = false;
  if (FStale || !FPlan) Replan();
  const double* data = AInput->Read();
  const std::int32_t size = AInput->GetSize();
  ++FBuffers;
  FSamples += size;
  TPlan& p = *FPlan;
  for (std::int32_t at = 0; at < size;) {
    const std::int32_t chunk = std::min(size - at, p.Size - p.Fill);
    ippsMul_64f(data + at, p.Window.data() + p.Fill, p.Windowed.data() + p.Fill, chunk);
    p.Fill += chunk;
    at += chunk;
    if (p.Fill == p.Size) {
      SendFrame();
      p.Fill = 0;
    }
  }
}

void TNXSpectrum::FlowPrepare(const flow::TFlowRunContext&) {
  {
    TWriteLock guard(GetLock());
    FFrames = FBuffers = FSamples = 0;
    FPeakFrequency = FPeakLevel = 0;
    FStreamRate = 0;
    Invalidate();
  }
  // The plan is made now, not by the first buffer: its tables, work space
  // and averaging rows are a few hundred pages of fresh memory, whose first
  // touches would otherwise land on the data path as the stream starts (on a
  // live stream, a hitch of milliseconds). The stream's start finds it made
  // for the same settings and keeps it. (The output lock after the
  // component's, as everywhere.)
  TWriteLock out(OutputLock());
  Replan();
}

void TNXSpectrum::FlowFinish(const flow::TFlowRunContext&, flow::TFlowNodeReport& AReport) {
  TWriteLock guard(GetLock());
  AReport.IsSink = false;
  AReport.Buffers = FBuffers;
  AReport.Samples = FSamples;
  AReport.SampleRate = FStreamRate;
  const std::int32_t size = 1 << std::clamp(FOrder, kMinOrder, kMaxOrder);
  AReport.Summary = FFrames == 0 ? Format("%d-point frames: none complete", size)
                                 : Format("%lld frames of %d points, peak %.2f dB at %.6g Hz",
                                          static_cast<long long>(FFrames), size, FPeakLevel, FPeakFrequency);
}

void AddSpectrumClasses(TClassList& AList) { AList.push_back(&TNXSpectrum::StaticClassInfo()); }

}  // namespace nx::examples
