// NXCommonFilter: the filter skeleton (see the header for the class tree, the
// locks and the buffer rules).
#include "components/NXCommonFilter.h"
#include "components/NXFilterThread.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

#include <span>
#include <typeinfo>

#include "buffers/NXSimpleDataBuffer.h"
#include "runtime/NXPackage.h"

namespace nx {

NX_PERSISTENT_IMPL(TNXThreadingQueue)
NX_PERSISTENT_IMPL(TNXThreading)
NX_PERSISTENT_IMPL(TNXFilterFrequencyResponse)
NX_PERSISTENT_IMPL(TNXCommonTapsFilter)
NX_PERSISTENT_IMPL(TNXBasicEnableFilter)

NX_PERSISTENT_IMPL(TNXBasicCommonFilter)
NX_PERSISTENT_IMPL(TNXCommonFilter)
NX_PERSISTENT_IMPL(TNXCommonRealFilter)

// ---------------------------------------------------------------- settings

void TNXThreadingQueue::SetSize(std::uint32_t AValue) {
  const std::uint32_t v = std::max(AValue, kMinSize);
  SetNotify(FSize, v, [&] { FSizeNow.store(v, std::memory_order_relaxed); });
}

void TNXThreadingQueue::SetFullMode(TNXQueueFullMode AValue) {
  SetNotify(FFullMode, AValue, [&] { FFullModeNow.store(AValue, std::memory_order_relaxed); });
}

void TNXThreadingQueue::DeclareProperties(TClassBuilder<TNXThreadingQueue>& P) {
  P.Prop<&TNXThreadingQueue::FSize, &TNXThreadingQueue::SetSize>("Size", kDefaultSize).Min(kMinSize);
  P.Prop<&TNXThreadingQueue::FFullMode, &TNXThreadingQueue::SetFullMode>("FullMode", fmBlock);
}

TNXThreading::TNXThreading(TPersistent* AOwner) : TLockPersistent(AOwner), FQueue(new TNXThreadingQueue(this)) {
  InitProperties(this);
}

void TNXThreading::SetEnabled(bool AValue) {
  SetNotify(FEnabled, AValue, [&] {
    if (FEnableNotify) FEnableNotify();
  });
}

void TNXThreading::SetPriority(TThreadPriority AValue) {
  SetNotify(FPriority, AValue, [&] {
    if (FPriorityNotify) FPriorityNotify();
  });
}

TNXNotifyEvent TNXThreading::OnQueueFull() const {
  std::lock_guard<std::mutex> guard(FEventLock);
  return FOnQueueFull;
}

void TNXThreading::SetOnQueueFull(TNXNotifyEvent AEvent) {
  std::lock_guard<std::mutex> guard(FEventLock);
  FOnQueueFull = std::move(AEvent);
}

void TNXThreading::DeclareProperties(TClassBuilder<TNXThreading>& P) {
  P.Prop<&TNXThreading::FEnabled, &TNXThreading::SetEnabled>("Enabled", false);
  P.Prop<&TNXThreading::FPriority, &TNXThreading::SetPriority>("Priority", tpNormal);
  P.Prop<&TNXThreading::FQueue>("Queue");
}

// ---------------------------------------------------------------- threaded filter

template <class TThreadIntf>
TNXBasicTypedThreadedFilter<TThreadIntf>::TNXBasicTypedThreadedFilter(TComponent* AOwner)
    : TRGInputOutputLockComponent(AOwner), FThreading(new TNXThreading(this)) {
  FThreading->SetPriorityNotify([this] { PriorityChanged(); });
  // A change of Threading.Enabled takes effect at the next stream start: a
  // worker made or ended in mid-stream would reorder the buffers on the way.
  FThreading->SetEnableNotify([] {});
  InitProperties(this);
}

template <class TThreadIntf>
TNXBasicTypedThreadedFilter<TThreadIntf>::~TNXBasicTypedThreadedFilter() {
  ShutdownThread();
}

template <class TThreadIntf>
void TNXBasicTypedThreadedFilter<TThreadIntf>::DeclareProperties(TClassBuilder<TNXBasicTypedThreadedFilter>& P) {
  P.template Prop<&TNXBasicTypedThreadedFilter::FThreading>("Threading");
}

template <class TThreadIntf>
TIntfPtr<TThreadIntf> TNXBasicTypedThreadedFilter<TThreadIntf>::GetFilterThread() const {
  TReadLock guard(InputLock());
  return FFilterThread;
}

template <class TThreadIntf>
void TNXBasicTypedThreadedFilter<TThreadIntf>::FlushQueue() {
  TWriteLock guard(GetLock());
  if (FFilterThread) FFilterThread->FlushQueue();
}

template <class TThreadIntf>
void TNXBasicTypedThreadedFilter<TThreadIntf>::BeforeDestruction() {
  ShutdownThread();
  TRGInputOutputLockComponent::BeforeDestruction();
}

template <class TThreadIntf>
void TNXBasicTypedThreadedFilter<TThreadIntf>::ShutdownThread() {
  TIntfPtr<TThreadIntf> thread, ended;
  {
    TWriteLock guard(GetLock());
    thread = std::move(FFilterThread);
    FFilterThread = nullptr;
    ended = std::move(FEndedThread);
    FEndedThread = nullptr;
  }
  if (!thread && !ended) return;
  // The worker may be waiting for the output lock: join it with the
  // component's lock released, whatever the caller holds.
  TLockReleaser released(GetLock());
  if (thread) thread->Terminate();
  if (ended) ended->Terminate();
}

template <class TThreadIntf>
void TNXBasicTypedThreadedFilter<TThreadIntf>::PriorityChanged() {
  TWriteLock guard(GetLock());
  if (FFilterThread) FFilterThread->SetPriority(FThreading->Priority());
}

template <class TThreadIntf>
void TNXBasicTypedThreadedFilter<TThreadIntf>::FilterPump(const TIntfPtr<IFTNotifyOperation>& AOperation) {
  TWriteLock guard(OutputLock());
  if (const TIntfPtr<INXData> input = IntSingleOperation(AOperation)) IntSingleBufferOperation(input);
}

template <class TThreadIntf>
TIntfPtr<INXData> TNXBasicTypedThreadedFilter<TThreadIntf>::IntSingleOperation(
    const TIntfPtr<IFTNotifyOperation>& AOperation) {
  auto* supplied = AOperation ? AOperation->template As<TFTTypedSuppliedDataOperation>() : nullptr;
  if (!supplied || !supplied->GetValue()) return nullptr;
  return supplied->GetValue()->GetDataCopy();
}

template <class TThreadIntf>
bool TNXBasicTypedThreadedFilter<TThreadIntf>::IntSingleBufferOperation(const TIntfPtr<INXData>& AInput) {
  // A disabled filter sends its input as it is: no output copy is made.
  TIntfPtr<INXData> output = IsEnabled() ? AInput->GetDataCopy() : AInput;
  return IntBufferOperation(AInput, output);
}

template <class TThreadIntf>
void TNXBasicTypedThreadedFilter<TThreadIntf>::StreamStop() {
  TIntfPtr<TThreadIntf> thread;
  {
    // Under the input lock, which guards the worker reference: a worker in
    // its hook holds the output lock. Taken out first, so that buffers sent
    // while the queue drains do not keep it from draining.
    TWriteLock guard(InputLock());
    thread = std::move(FFilterThread);
    FFilterThread = nullptr;
    FRunning = false;
  }
  if (!thread) return;
  // The waits with the component's lock released, whatever the caller holds:
  // the worker takes the output lock to process.
  TLockReleaser released(GetLock());
  if (thread->IsWorkerThread()) {
    // Handled by the worker itself, which cannot wait for itself: it ends
    // when this operation returns. The filter keeps it, to join it later
    // (the last reference must not go on its own thread).
    thread->Terminate();
    TIntfPtr<TThreadIntf> previous;
    TWriteLock guard(InputLock());
    previous = std::exchange(FEndedThread, std::move(thread));
    return;  // (the previous one is joined with the lock released again)
  }
  // The stop follows what was queued before it; bounded, see the header.
  thread->WaitForQueue(kStopDrainTimeoutMs);
  thread->Terminate();
}

template <class TThreadIntf>
void TNXBasicTypedThreadedFilter<TThreadIntf>::StreamStart() {
  TWriteLock guard(GetLock());
  FRunning = true;
  if (!FFilterThread && FThreading->Enabled()) FFilterThread = CreateProcessingThread();
}

template <class TThreadIntf>
bool TNXBasicTypedThreadedFilter<TThreadIntf>::OutputPinsNotify(const TIntfPtr<IFTNotifyOperation>& AOperation) {
  TNXFTSourcePin* pin = GetOutputPin();
  if (!pin) return false;
  TWriteLock guard(OutputLock());
  return pin->Notify(AOperation);
}

template <class TThreadIntf>
TNXBasicTypedThreadedEnableFilter<TThreadIntf>::TNXBasicTypedThreadedEnableFilter(TComponent* AOwner)
    : TNXBasicTypedThreadedFilter<TThreadIntf>(AOwner) {
  this->InitProperties(this);
}

template <class TThreadIntf>
void TNXBasicTypedThreadedEnableFilter<TThreadIntf>::SetEnabled(bool AValue) {
  this->SetNotify(FEnabled, AValue, [this] { this->EnabledChanged(); });
}

template <class TThreadIntf>
void TNXBasicTypedThreadedEnableFilter<TThreadIntf>::DeclareProperties(
    TClassBuilder<TNXBasicTypedThreadedEnableFilter>& P) {
  P.template Prop<&TNXBasicTypedThreadedEnableFilter::FEnabled, &TNXBasicTypedThreadedEnableFilter::SetEnabled>(
      "Enabled", true);
}

// The type information of the two templates and of the typed filters is made
// here, once, like that of every base class a package derives from (for a
// template: NX_PERSISTENT_IMPL's definitions, for each instantiation below).
#define NX_PERSISTENT_TEMPLATE_IMPL(Self)                                                 \
  template <class TThreadIntf>                                                           \
  const TClassInfo& Self<TThreadIntf>::StaticClassInfo() {                               \
    static const TClassInfo* info = new TClassInfo(TClassInfo::TTag<Self>{}, #Self);     \
    return *info;                                                                        \
  }                                                                                      \
  template <class TThreadIntf>                                                           \
  const TClassInfo& Self<TThreadIntf>::GetClassInfo() const { return StaticClassInfo(); }
NX_PERSISTENT_TEMPLATE_IMPL(TNXBasicTypedThreadedFilter)
NX_PERSISTENT_TEMPLATE_IMPL(TNXBasicTypedThreadedEnableFilter)
#undef NX_PERSISTENT_TEMPLATE_IMPL

NX_PERSISTENT_IMPL(TNXCommonIntegerFilter)
NX_PERSISTENT_IMPL(TNXCommonComplexFilter)
NX_PERSISTENT_IMPL(TNXCommonBinaryFilter)

template class TNXBasicTypedThreadedFilter<INXFilterThread>;
template class TNXBasicTypedThreadedEnableFilter<INXFilterThread>;

// ---------------------------------------------------------------- buffer path

// Inlined into the synchronous path (BufferOperation), where every hop of a
// chain of filters comes through: a call more per hop measured about 8% of a
// chain of gains. The worker's pump takes its own copy.
[[gnu::always_inline]] inline bool TNXBasicCommonFilter::ProcessBuffer(const TIntfPtr<IFTNotifyOperation>& AOperation,
                                                                     TFTNotifyState AState) {
  auto* supplied = AOperation->As<TFTTypedSuppliedDataOperation>();
  if (!supplied || !supplied->GetValue()) return false;
  const TIntfPtr<INXData>& received = supplied->GetValue();
  // Enabled is written under both locks: the output lock (which the worker
  // holds alone) reads it safely.
  TWriteLock outputGuard(OutputLock());
  const bool enabled = IsEnabled();
  if (!enabled && PassesUnchanged(*received)) {
    // Disabled: the operation goes on as it came, no new operation or
    // buffer reference made. It stays exclusive only if it arrived
    // exclusive, so nothing downstream writes in place into samples that
    // another receiver of this operation still reads.
    TNXFTSourcePin* pin = GetOutputPin();
    if (!pin) return false;
    return AState.Contains(nsExclusive) ? pin->Notify(AOperation) : pin->NotifyShared(AOperation);
  }
  if (AState.Contains(nsExclusive)) {
    // Handed over to this filter alone: the received buffer is the input.
    // A filter that works in place takes it as its output too, so its first
    // write finds the block's one owner and writes the samples in place.
    // (This is what giving up the output's ownership achieves, without a
    // second buffer object.) Otherwise the output is a sharing copy, and
    // writing it copies the block.
    TIntfPtr<INXData> output = enabled && !CanInline() ? received->GetDataCopy() : received;
    const IFTNotifyOperation& operation = *AOperation;
    if (!enabled || output.Get() != received.Get() || typeid(operation) != typeid(TFTSuppliedBufferOperation))
      return IntBufferOperation(received, output);
    struct TScope {
      TInPlaceCarrier& Carrier;
      ~TScope() { Carrier = {}; }
    } scope{FInPlaceCarrier = {&AOperation, supplied->GetClockCount()}};
    return IntBufferOperation(received, output);
  }
  // Other receivers get the same buffer: a sharing copy counts as one more
  // owner of the block, so that nothing downstream writes in place into
  // samples that another receiver still reads.
  const TIntfPtr<INXData> input = received->GetDataCopy();
  TIntfPtr<INXData> output = enabled ? input->GetDataCopy() : input;
  return IntBufferOperation(input, output);
}

bool TNXBasicCommonFilter::BufferOperation(const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) {
  // The input lock guards the worker reference; a sender that waits for
  // room gives it back while it waits.
  TWriteLock inputGuard(InputLock());
  if (FFilterThread) {
    // No reference of its own: a push that waits for room takes one before
    // it releases the lock that keeps the worker here.
    if (AState.Contains(nsExclusive))
      FFilterThread->PushHandedOver(AOperation);
    else
      FFilterThread->PushOperation(AOperation);
    return false;
  }
  return ProcessBuffer(AOperation, AState);
}

void TNXBasicCommonFilter::FilterPump(const TIntfPtr<IFTNotifyOperation>& AOperation) {
  if (TNXFilterThread::PumpsHandedOver() && AOperation->IsType<TFTTypedSuppliedDataOperation>())
    ProcessBuffer(AOperation, TFTNotifyState{nsExclusive});
  else
    TNXBasicThreadedEnableFilter::FilterPump(AOperation);
}

bool TNXBasicCommonFilter::PassesUnchanged(const INXData& AData) {
  const std::type_info* type = &typeid(AData);
  if (type == FUnchangedClass.load(std::memory_order_relaxed)) return true;
  if (!SendsUnchanged(AData)) return false;
  FUnchangedClass.store(type, std::memory_order_relaxed);
  return true;
}

TIntfPtr<INXFilterThread> TNXBasicCommonFilter::CreateProcessingThread() {
  TIntfPtr<TNXFilterThread> thread(
      new TNXFilterThread(GetLock(), Threading(), [this](const TIntfPtr<IFTNotifyOperation>& AOperation) {
        FilterPump(AOperation);
      }));
  thread->SetPriority(Threading()->Priority());
  thread->Start();
  return TIntfPtr<INXFilterThread>(thread);
}

// ---------------------------------------------------------------- common filter

void TNXCommonFilter::SetSampleRate(double AValue) {
  TWriteLock guard(GetLock());
  FSampleRate = AValue;
}

void TNXCommonFilter::StreamStop() {
  TNXBasicCommonFilter::StreamStop();
  // The field itself: a filter that designs itself for its rate (the taps
  // filter) has nothing to design for a stopped stream.
  TWriteLock guard(GetLock());
  FSampleRate = 0;
}

bool TNXCommonFilter::SinkDispatch(TFTBasicPin* AOtherPin, const TGUID& AStreamID,
                                   const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) {
  // Buffers first: they are nearly everything that arrives.
  if (AOperation->IsType<TFTTypedSuppliedDataOperation>()) return BufferOperation(AOperation, AState);
  if (const auto* start = AOperation->As<TFTStartSampleRateOperation>()) {
    SetSampleRate(start->GetSampleRate());
    StreamStart();
    return OutputPinsNotify(AOperation);
  }
  if (AOperation->IsType<TFTStopOperation>()) {
    StreamStop();
    return OutputPinsNotify(AOperation);
  }
  return OutputPinsNotify(AOperation);
}

bool TNXCommonFilter::DispatchSource(TFTBasicPin& AInputPin, TFTBasicPin* AOtherPin, const TGUID& AStreamID,
                                     const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) {
  if (AInputPin.IsConnected()) return AInputPin.Notify(AOperation);
  if (AOperation->IsType<TFTQueryStreamOperation>()) return OutputPinsNotify(TFTIgnoreStreamOperation::Make());
  return SinkDispatch(AOtherPin, AStreamID, AOperation, AState);
}

// ---------------------------------------------------------------- typed filters

namespace {
// AData as buffer interface IBuf: the same object when it is one, else a
// new buffer of class TBuf converted from it.
template <class IBuf, class TBuf>
TIntfPtr<IBuf> AsTyped(const TIntfPtr<INXData>& AData) {
  TIntfPtr<IBuf> typed;
  if (Supports(AData, typed)) return typed;
  return TBuf::MakeUniversal(AData);
}

// The typed processing shared by every typed filter: disabled, the input goes
// out as it is; enabled, the hook works on the output (a sharing copy).
template <class IBuf, class TBuf, class TFilter>
bool TypedBufferOperation(TFilter& AFilter, TNXFTSourcePin& APin, const TIntfPtr<INXData>& AInput,
                          TIntfPtr<INXData>& AOutput) {
  if (!AFilter.IsEnabled()) return APin.SubmitBuffer(TIntfPtr<INXData>(AsTyped<IBuf, TBuf>(AInput)));
  bool send = true;
  TIntfPtr<IBuf> input = AsTyped<IBuf, TBuf>(AInput);
  // Working in place, the output is the input's object: one more reference
  // to it costs less than asking the object for its interface again.
  TIntfPtr<IBuf> output = AOutput.Get() == AInput.Get() ? input : AsTyped<IBuf, TBuf>(AOutput);
  AFilter.InternalOperation(input, output, send, APin.IsConnected());
  input = nullptr;
  if (!send || !output) return false;
  const auto& carrier = AFilter.InPlaceCarrier();
  if (carrier.Operation && static_cast<INXData*>(output.Get()) == AInput.Get() &&
      static_cast<std::uint32_t>(output->GetSize()) == carrier.ClockCount)
    return APin.Notify(*carrier.Operation);
  return APin.SubmitBuffer(TIntfPtr<INXData>(std::move(output)));
}

// Installs the filter's handlers on its pins.
template <class TFilter, class TSource, class TSink>
void BindPins(TFilter* AFilter, TSource& AOutput, TSink& AInput) {
  AFilter->AddPin(AInput);
  AFilter->AddPin(AOutput);
  AInput.SetGenericDispatch([AFilter](TFTBasicPin* AOther, const TGUID& AID, const TIntfPtr<IFTNotifyOperation>& AOp,
                                      TFTNotifyState AState) { return AFilter->SinkDispatch(AOther, AID, AOp, AState); });
  AOutput.SetGenericDispatch(
      [AFilter](TFTBasicPin* AOther, const TGUID& AID, const TIntfPtr<IFTNotifyOperation>& AOp,
                TFTNotifyState AState) { return AFilter->SourceDispatch(AOther, AID, AOp, AState); });
}
}  // namespace

TNXCommonRealFilter::TNXCommonRealFilter(TComponent* AOwner)
    : TNXCommonFilter(AOwner),
      FOutputPin(FTMakePin<TNXFTComboRealSourcePin>("OutputPin")),
      FInputPin(FTMakePin<TNXFTComboRealSinkPin>("InputPin")) {
  BindPins(this, *FOutputPin, *FInputPin);
}

TNXCommonRealFilter::~TNXCommonRealFilter() {
  ShutdownThread();
  FInputPin->Close();
  FOutputPin->Close();
}

bool TNXCommonRealFilter::SinkDispatch(TFTBasicPin* AOtherPin, const TGUID& AStreamID,
                                       const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) {
  if (AOperation->IsType<TFTTypedSuppliedDataOperation>()) return BufferOperation(AOperation, AState);
  // A start without a rate starts the stream too.
  if (AOperation->IsType<TFTStartOperation>() && !AOperation->IsType<TFTStartSampleRateOperation>()) {
    StreamStart();
    return OutputPinsNotify(AOperation);
  }
  double value = 0;
  bool isValue = false;
  if (const auto* real = AOperation->As<TFTSuppliedRealOperation>()) {
    value = real->GetValue();
    isValue = true;
  } else if (const auto* single = AOperation->As<TFTSuppliedFloatOperation>()) {
    value = single->GetValue();
    isValue = true;
  }
  if (isValue) {
    // A disabled filter passes the value on unchanged.
    TWriteLock guard(OutputLock());
    double output = value;
    bool send = true;
    if (IsEnabled()) InternalFloatOperation(value, output, send);
    return send && FOutputPin->SubmitFloat(static_cast<float>(output));
  }
  return TNXCommonFilter::SinkDispatch(AOtherPin, AStreamID, AOperation, AState);
}

bool TNXCommonRealFilter::SourceDispatch(TFTBasicPin* AOtherPin, const TGUID& AStreamID,
                                         const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) {
  return DispatchSource(*FInputPin, AOtherPin, AStreamID, AOperation, AState);
}

bool TNXCommonRealFilter::IntBufferOperation(const TIntfPtr<INXData>& AInput, TIntfPtr<INXData>& AOutput) {
  return TypedBufferOperation<INXRealBuffer, TNXRealBuffer>(*this, *FOutputPin, AInput, AOutput);
}

void TNXCommonRealFilter::InternalOperation(const TBuffer& AInput, TBuffer& AOutput, bool& ASend, bool AConnected) {
  if (AConnected) FilterInternalOperation(AInput, AOutput, ASend);
}

#define NX_COMMON_TYPED_FILTER_BODY(Self, IBuffer, TBufferClass, TSource, TSink)                                  \
  Self::Self(TComponent* AOwner)                                                                                  \
      : TNXCommonFilter(AOwner), FOutputPin(FTMakePin<TSource>("OutputPin")), FInputPin(FTMakePin<TSink>("InputPin")) { \
    BindPins(this, *FOutputPin, *FInputPin);                                                                      \
  }                                                                                                               \
  Self::~Self() {                                                                                                 \
    ShutdownThread();                                                                                             \
    FInputPin->Close();                                                                                           \
    FOutputPin->Close();                                                                                          \
  }                                                                                                               \
  bool Self::SourceDispatch(TFTBasicPin* AOtherPin, const TGUID& AStreamID,                                       \
                            const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) {              \
    return DispatchSource(*FInputPin, AOtherPin, AStreamID, AOperation, AState);                                  \
  }                                                                                                               \
  bool Self::IntBufferOperation(const TIntfPtr<INXData>& AInput, TIntfPtr<INXData>& AOutput) {                    \
    return TypedBufferOperation<IBuffer, TBufferClass>(*this, *FOutputPin, AInput, AOutput);                      \
  }                                                                                                               \
  void Self::InternalOperation(const TBuffer& AInput, TBuffer& AOutput, bool& ASend, bool AConnected) {           \
    if (AConnected) FilterInternalOperation(AInput, AOutput, ASend);                                              \
  }
NX_COMMON_TYPED_FILTER_BODY(TNXCommonIntegerFilter, INXIntegerBuffer, TNXIntegerBuffer, TNXFTIntegerSourcePin,
                            TNXFTIntegerSinkPin)
NX_COMMON_TYPED_FILTER_BODY(TNXCommonComplexFilter, INXComplexBuffer, TNXComplexBuffer, TNXFTComplexSourcePin,
                            TNXFTComplexSinkPin)
NX_COMMON_TYPED_FILTER_BODY(TNXCommonBinaryFilter, INXBlockBuffer, TNXBlockBuffer, TNXFTBinarySourcePin,
                            TNXFTBinarySinkPin)
#undef NX_COMMON_TYPED_FILTER_BODY

// ---------------------------------------------------------------- taps and frequency response

void TNXFilterFrequencyResponse::SetTaps(std::vector<double> ATaps) { SetNotify(FTaps, std::move(ATaps)); }

void TNXFilterFrequencyResponse::Clear() { SetNotify(FTaps, std::vector<double>{}); }

template <class F>
void TNXFilterFrequencyResponse::ForEachPoint(std::vector<double>& AOut, F&& AValue) const {
  TReadLock guard(GetLock());
  const std::size_t n = AOut.size();
  if (n == 0) return;
  const double step = std::numbers::pi / static_cast<double>(n);
  for (std::size_t i = 0; i < n; ++i) {
    // The first point sits just off 0, where the phase formula divides by 1 - re.
    const double w = i == 0 ? std::numbers::pi * 1e-4 : static_cast<double>(i) * step;
    double re = 0, im = 0;
    for (std::size_t k = 0; k < FTaps.size(); ++k) {
      re += FTaps[k] * std::cos(static_cast<double>(k) * w);
      im += FTaps[k] * std::sin(static_cast<double>(k) * w);
    }
    AOut[i] = AValue(re, im);
  }
}

void TNXFilterFrequencyResponse::GetMagnitudes(std::vector<double>& AMagnitudes) const {
  ForEachPoint(AMagnitudes, [](double re, double im) { return re * re + im * im; });
}

void TNXFilterFrequencyResponse::GetPhases(std::vector<double>& APhases) const {
  ForEachPoint(APhases, [](double re, double im) { return std::atan(im / (1.0 - re)); });
}

TNXCommonTapsFilter::TNXCommonTapsFilter(TComponent* AOwner)
    : TNXCommonRealFilter(AOwner), FFrequencyResponse(new TNXFilterFrequencyResponse(this)) {}

void TNXCommonTapsFilter::SetSampleRate(double AValue) {
  TNXCommonRealFilter::SetSampleRate(AValue);
  Init();
}

void TNXCommonTapsFilter::Init() {
  TWriteLock guard(GetLock());
  std::vector<double> taps;
  IntInit(taps);
}

void TNXCommonTapsFilter::IntInit(std::vector<double>& ATaps) { FFrequencyResponse->SetTaps(ATaps); }

// ---------------------------------------------------------------- enable filter

void TNXBasicEnableFilter::SetEnabled(bool AValue) {
  SetNotify(FEnabled, AValue, [this] { EnabledChanged(); });
}

void TNXBasicEnableFilter::DeclareProperties(TClassBuilder<TNXBasicEnableFilter>& P) {
  P.Prop<&TNXBasicEnableFilter::FEnabled, &TNXBasicEnableFilter::SetEnabled>("Enabled", true);
}

// ---------------------------------------------------------------- start-up

namespace NXCommonFilter {
namespace {
// A plain array: the finalization runs after the process has destroyed its
// function-local objects with destructors.
std::span<const TClassInfo* const> Classes() {
  static const TClassInfo* const classes[] = {
      &TNXThreadingQueue::StaticClassInfo(), &TNXThreading::StaticClassInfo(),
      &TNXFilterFrequencyResponse::StaticClassInfo()};
  return classes;
}
}  // namespace

void UnitInitialize() { RegisterClasses(Classes()); }
void UnitFinalize() { UnregisterClasses(Classes()); }
}  // namespace NXCommonFilter

}  // namespace nx

NX_PACKAGE_UNIT(NXCommonFilter, &nx::NXCommonFilter::UnitInitialize, &nx::NXCommonFilter::UnitFinalize)
