// NXMultiInput: rate agreement, input dispatch and sending of multi-input
// components.
#include "streams/NXMultiInput.h"

#include <algorithm>
#include <cmath>

#include "runtime/NXPackage.h"
#include "runtime/Zandor.ClassManagement.h"
#include "vector/NXBasicDispatcher.h"

namespace nx {

NX_PERSISTENT_IMPL(TNXMultiInput)
NX_PERSISTENT_IMPL(TNXRealMultiInput)

void TNXOutputBufferSize::DeclareProperties(TClassBuilder<TNXOutputBufferSize>& P) {
  P.Prop<&TNXOutputBufferSize::FSize, &TNXOutputBufferSize::SetSize>("Size", DefaultSize).Min(1);
  P.Prop<&TNXOutputBufferSize::FAutoSize, &TNXOutputBufferSize::SetAutoSize>("AutoSize", true);
}

// ---------------------------------------------------------------- TNXMultiInput

TNXMultiInput::TNXMultiInput(TComponent* AOwner) : TLockComponent(AOwner) { InitProperties(this); }

// The derived destructor closed the output pin (a pin of its own). A queued
// state may outlive its pin (a holder of its interface): it no longer counts here.
TNXMultiInput::~TNXMultiInput() {
  CloseInputPins();
  for (TNXFTQueuedPinState* q : FQueues) q->DetachWaitCount();
}

void TNXMultiInput::DeclareProperties(TClassBuilder<TNXMultiInput>& P) {
  P.Prop<&TNXMultiInput::FOutputBuffer>("OutputBuffer");
}

void TNXMultiInput::CloseInputPins() {
  for (auto& pin : FOwnedPins) pin->Close();
}

void TNXMultiInput::ClosePins() {
  CloseInputPins();
  GetOutputPin()->Close();
}

void TNXMultiInput::BeforeDestruction() {
  ClosePins();
  TLockComponent::BeforeDestruction();
}

void TNXMultiInput::DefineProperties(TFiler& AFiler) {
  TLockComponent::DefineProperties(AFiler);
  AFiler.DefineProperty(
      *this, "BufferSize",
      [](TPersistent& o, IReader& r, std::string_view key) {
        std::int32_t size = 0;
        if (r.ReadInt32(key, size)) static_cast<TNXMultiInput&>(o).GetOutputBuffer().SetSize(size);
      },
      nullptr, false);
}

TFTBasicPin* TNXMultiInput::AddInputPin() {
  std::int32_t number;
  {
    TWriteLock guard(GetLock());
    number = FNextPinNumber++;
  }
  auto handler = [this](TFTBasicPin* AOther, IFTStream* AStream, const TGUID&,
                        const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) {
    return SinkDispatch(AStream->GetPin(), AOther, AOperation, AState);
  };
  // Made outside the component's lock: a pin takes the pins' link section,
  // which is held while a link is removed, and removing a link sends a stop
  // that takes the component's lock.
  TFTPinPtr<TFTBasicPin> pin(QueuedPinCreateFunction("InputPin" + std::to_string(number), handler));
  NX_ASSERT_MSG(pin && NXFTGetQueuedPin(pin.get()), "a multi-input component makes queued input pins");
  TWriteLock guard(GetLock());
  TNXFTQueuedPinState* q = NXFTGetQueuedState(pin.get());
  // A pin added while the component runs joins when its stream starts.
  if (FRateCalculated) q->SetIsDelayed(true);
  q->AttachWaitCount(&FWaitingInputs, FWaitForNeeded);
  pin->SetOwnerIndex(FAllInputPins.Count());
  FAllInputPins.Add(pin.get());
  FQueues.push_back(q);
  FOwnedPins.push_back(std::move(pin));
  return FOwnedPins.back().get();
}

bool TNXMultiInput::RemoveInputPin(TFTBasicPin* APin) {
  TFTPinPtr<TFTBasicPin> owned;
  {
    TWriteLock guard(GetLock());
    const auto it = std::find_if(FOwnedPins.begin(), FOwnedPins.end(), [&](const auto& p) { return p.get() == APin; });
    if (it == FOwnedPins.end()) return false;
    const auto index = static_cast<std::size_t>(FAllInputPins.Remove(APin));
    FQueues[index]->DetachWaitCount();
    FQueues.erase(FQueues.begin() + static_cast<std::ptrdiff_t>(index));
    APin->SetOwnerIndex(-1);
    for (std::size_t i = index; i < FQueues.size(); ++i)
      FQueues[i]->GetPin()->SetOwnerIndex(static_cast<std::int32_t>(i));
    owned = std::move(*it);
    FOwnedPins.erase(it);
  }
  // Closed outside the lock: a delivery inside the pin may be waiting for it.
  QueuedPinDestroyFunction(owned.release());
  TWriteLock guard(GetLock());
  if (FRunning) TrySend();  // the others may no longer wait for it
  return true;
}

void TNXMultiInput::SetInputCount(std::int32_t ACount) {
  while (GetInputCount() < ACount) AddInputPin();
  while (GetInputCount() > std::max(ACount, 0)) RemoveInputPin(GetInputPin(GetInputCount() - 1));
}

std::int32_t TNXMultiInput::GetInputCount() const {
  TReadLock guard(GetLock());
  return FAllInputPins.Count();
}

TFTBasicPin* TNXMultiInput::GetInputPin(std::int32_t AIndex) const {
  TReadLock guard(GetLock());
  return FAllInputPins.GetItem(AIndex);
}

IFTNXQueuedPin* TNXMultiInput::GetQueuedInput(std::int32_t AIndex) const {
  TReadLock guard(GetLock());
  FAllInputPins.GetItem(AIndex);  // checks the index
  return FQueues[static_cast<std::size_t>(AIndex)];
}

void TNXMultiInput::SetInputEnabled(std::int32_t AIndex, bool AEnabled) {
  TWriteLock guard(GetLock());
  IFTNXQueuedPin* q = GetQueuedInput(AIndex);
  if (q->IsEnabled() == AEnabled) return;
  q->SetIsEnabled(AEnabled);
  if (!AEnabled) q->ClearBuffers();
  if (FRunning) {
    AttemptStop();
    if (FRunning) TrySend();
  }
}

void TNXMultiInput::QueuedPinDestroyFunction(TFTBasicPin* APin) { TFTPinDeleter()(APin); }

void TNXMultiInput::InstallSourceDispatch() {
  GetOutputPin()->SetGenericDispatch([this](TFTBasicPin* AOther, const TGUID& AID,
                                            const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) {
    return SourceDispatch(AOther, AID, AOperation, AState);
  });
}

// ---- dispatch

bool TNXMultiInput::SinkDispatch(TFTBasicPin* AInput, TFTBasicPin* AOtherPin,
                                 const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) {
  if (AState.Contains(nsUpstream) || !AOperation) return false;
  // Pump requests go on to whoever paces the output.
  if (AOperation->IsType<TFTPumpRequestOperation>()) return GetOutputPin()->Notify(AOperation);
  TWriteLock guard(GetLock());
  // The index kept on the pin (add and remove keep it), checked: a pin that
  // is not one of ours finds no queue of its own there.
  const std::int32_t index = AInput ? AInput->GetOwnerIndex() : -1;
  if (index < 0 || static_cast<std::size_t>(index) >= FQueues.size() ||
      FQueues[static_cast<std::size_t>(index)]->GetPin() != AInput)
    return false;
  TNXFTQueuedPinState* q = FQueues[static_cast<std::size_t>(index)];
  if (auto* data = AOperation->As<TFTSuppliedBufferOperation>()) {
    // Buffers of an input that has not started, has stopped or is disabled
    // take no part in the output.
    if (!q->IsRunning() || !q->IsEnabled() || !q->AddBuffer(data->GetValue())) return false;
    TrySend();
    return true;
  }
  if (auto* pair = AOperation->As<TFTSuppliedBufferPairOperation>()) {
    // A pair is queued as its first buffer.
    const TIntfPtr<IBufferPair>& p = pair->GetValue();
    if (!q->IsRunning() || !q->IsEnabled() || !p || p->GetCount() == 0 || !q->AddBuffer(TIntfPtr<INXData>(p->GetBuffer(0)))) return false;
    TrySend();
    return true;
  }
  if (auto* rate = AOperation->As<TFTStartSampleRateOperation>()) {
    q->StartRate(rate->GetSampleRate());
    CalculateRate();
    TrySend();
    return true;
  }
  if (AOperation->IsType<TFTStopOperation>()) {
    // The samples it queued before the stop still go out with the others.
    q->StopFull();
    AttemptStop();
    if (FRunning) TrySend();
    return true;
  }
  if (AOperation->IsType<TFTStartPumpOperation>()) {
    FPumpStarted = true;
    return true;
  }
  if (AOperation->IsType<TFTIgnoreStreamOperation>()) {
    q->SetIsIgnored(true);
    // An answer to a query of CalculateRate is read there; one that comes
    // on its own may let the rate be decided, or the others go on.
    if (!FInCalculateRate) {
      if (!FRateCalculated) CalculateRate();
      TrySend();
    }
    return true;
  }
  return false;
}

bool TNXMultiInput::SourceDispatch(TFTBasicPin* AOtherPin, const TGUID&, const TIntfPtr<IFTNotifyOperation>& AOperation,
                                   TFTNotifyState AState) {
  if (!AState.Contains(nsUpstream) || !AOperation) return false;
  std::vector<TFTBasicPin*> inputs;
  {
    TReadLock guard(GetLock());
    inputs.assign(FAllInputPins.begin(), FAllInputPins.end());
  }
  // Asked whether a stream is coming: none when no enabled input is linked.
  if (AOperation->IsType<TFTQueryStreamOperation>()) {
    const bool any = std::any_of(inputs.begin(), inputs.end(), [](TFTBasicPin* p) {
      return p->IsConnected() && NXFTGetQueuedPin(p)->IsEnabled();
    });
    if (!any && AOtherPin) GetOutputPin()->NotifyPin(AOtherPin, TFTIgnoreStreamOperation::Make());
    return true;
  }
  // Everything else goes on upstream through every linked input.
  bool handled = false;
  for (TFTBasicPin* p : inputs)
    if (p->IsConnected()) handled = p->Notify(AOperation) || handled;
  return handled;
}

// ---- rate

void TNXMultiInput::CalculateRate() {
  TWriteLock guard(GetLock());
  if (FInCalculateRate) return;  // an input's answer to our own query
  FInCalculateRate = true;
  struct TReset {
    bool& Flag;
    ~TReset() { Flag = false; }
  } reset{FInCalculateRate};
  if (FRunning) SetSampleRates();
  CalculateRateInt();
  if (!FRateCalculated) return;
  FCalculatedRate = std::round(FCalculatedRate);
  if (!FRunning) {
    GetOutputPin()->Notify(TFTStartSampleRateOperation::Make(FCalculatedRate));
    FRunning = true;
    if (FPumpStarted) GetOutputPin()->Notify(TFTPumpRequestOperation::Make(this, 0, 2, FCalculatedRate));
  }
}

void TNXMultiInput::CalculateRateInt() {
  if (FRateCalculated) return;
  const std::vector<TNXFTQueuedPinState*> queues = Queues();  // a copy: queries may re-enter
  for (TNXFTQueuedPinState* q : queues)
    if (!q->IsStartReady()) return;
  double rate = 0;
  for (TNXFTQueuedPinState* q : queues)
    if (q->IsEnabled() && q->IsRunning()) rate = std::max(rate, q->GetRate());
  if (rate <= 0) return;  // every input ignored: nothing to agree on yet
  FCalculatedRate = rate;
  FRateCalculated = true;
  SetSampleRates();
}

void TNXMultiInput::SetSampleRates() {
  const bool fixed = !FOutputBuffer->GetAutoSize();
  const std::int32_t size = FOutputBuffer->GetSize();
  for (TNXFTQueuedPinState* q : Queues()) {
    if (!q->IsRunning()) q->SetIsDelayed(true);
    else if (fixed) q->CalculateSampleCount(size, FCalculatedRate);
  }
}

// ---- sending and stopping

namespace {
bool Streams(TNXFTQueuedPinState* AQueue) { return AQueue->IsRunning() && !AQueue->IsIgnored(); }
}  // namespace

bool TNXMultiInput::TrySend() {
  TWriteLock guard(GetLock());
  if (!FRunning || FCalculatedRate <= 0) return false;
  const std::vector<TNXFTQueuedPinState*>& queues = FQueues;
  const bool autoSize = FOutputBuffer->HeldAutoSize();
  if (FWaitForNeeded == autoSize) {
    // AutoSize changed: the inputs count again in the other mode.
    FWaitForNeeded = !autoSize;
    for (TNXFTQueuedPinState* q : queues) q->SetWaitForNeeded(FWaitForNeeded);
  }
  bool sent = false;
  for (;;) {
    // The quick look before the sizes are worked out: a streaming input with
    // nothing queued holds everything up, and so does one short of its needed
    // samples when the size is fixed (its needed count then stays).
    if (FWaitingInputs > 0) break;
    std::int32_t size = 0;
    if (autoSize) {
      bool first = true;
      for (TNXFTQueuedPinState* q : queues) {
        if (!q->IsEnabled() || !Streams(q)) continue;
        const std::int32_t n = q->GetFirstBufferSizeForRate(FCalculatedRate);
        size = first ? n : std::min(size, n);
        first = false;
      }
    } else {
      size = FOutputBuffer->HeldSize();
    }
    AdjustBufferSiize(size);
    if (size <= 0) break;
    std::int64_t before = 0;
    bool ready = true;
    for (TNXFTQueuedPinState* q : queues) {
      if (!q->IsEnabled()) continue;
      q->CalculateSampleCount(size, FCalculatedRate);
      before += q->GetCollectedSamples();
      // A running input whose source said it ignores the stream is treated
      // as one that is not running: it does not hold up the others.
      if (Streams(q) ? !q->IsReady() : !(q->IsStopping() || q->IsIgnored() || q->IsDelayed())) ready = false;
    }
    if (!ready) break;
    FOutputSize = size;
    for (TNXFTQueuedPinState* q : queues) q->SetIsServed(false);  // the hook marks the inputs it loads
    if (!CalculateSendOutput(size)) break;
    sent = true;
    // A hook that took nothing would find the same inputs ready again.
    std::int64_t after = 0;
    for (TNXFTQueuedPinState* q : queues)
      if (q->IsEnabled()) after += q->GetCollectedSamples();
    if (after >= before) break;
  }
  return sent;
}

void TNXMultiInput::AttemptStop() {
  if (!GetStopOnNoStreams()) return;
  for (TNXFTQueuedPinState* q : Queues())
    if (q->IsEnabled() && Streams(q)) return;
  // What the inputs still hold goes out before the stop.
  FlushQueued();
  Stop();
}

std::int64_t TNXMultiInput::QueuedSamples() const {
  std::int64_t n = 0;
  for (TNXFTQueuedPinState* q : FQueues)
    if (q->IsEnabled()) n += q->GetCollectedSamples();
  return n;
}

void TNXMultiInput::FlushQueued() {
  TWriteLock guard(GetLock());
  if (!FRunning || FCalculatedRate <= 0) return;
  const bool autoSize = FOutputBuffer->HeldAutoSize();
  for (;;) {
    const std::int64_t before = QueuedSamples();
    if (before == 0) break;
    std::int32_t size = 0;
    if (autoSize) {
      // The smallest first buffer of the inputs that still hold samples; at
      // least 1, so that a tail shorter than one output sample goes too.
      for (TNXFTQueuedPinState* q : FQueues) {
        if (!q->IsEnabled() || q->GetCollectedSamples() == 0) continue;
        const std::int32_t n = std::max(q->GetFirstBufferSizeForRate(FCalculatedRate), 1);
        size = size == 0 ? n : std::min(size, n);
      }
    } else {
      size = FOutputBuffer->HeldSize();
    }
    AdjustBufferSiize(size);
    if (size <= 0) break;
    // An input short of its needed samples gives zeros for the rest.
    for (TNXFTQueuedPinState* q : FQueues) {
      if (q->IsEnabled()) q->CalculateSampleCount(size, FCalculatedRate);
      q->SetIsServed(false);
    }
    FOutputSize = size;
    // A hook that sends nothing, or takes nothing, ends the flush: the rest goes with the stop.
    if (!CalculateSendOutput(size) || QueuedSamples() >= before) break;
  }
}

void TNXMultiInput::Stop() {
  TWriteLock guard(GetLock());
  const bool was = FRunning;
  FRunning = false;
  FRateCalculated = false;
  FCalculatedRate = 0;
  FPumpStarted = false;
  for (TNXFTQueuedPinState* q : Queues()) {
    q->StopFull();
    q->ClearStopping();
  }
  if (was) GetOutputPin()->Stop();
}

// ---------------------------------------------------------------- typed components

TNXRealMultiInput::TNXRealMultiInput(TComponent* AOwner) : TNXMultiInput(AOwner), FOutputPin("OutputPin") {
  InstallSourceDispatch();
}

TNXRealMultiInput::~TNXRealMultiInput() { ClosePins(); }

TFTBasicPin* TNXRealMultiInput::QueuedPinCreateFunction(std::string AName, TFTBasicPinNotificationEvent AHandler) {
  return new TNXFTQueuedRealSinkPin(std::move(AName), {}, nullptr, std::move(AHandler));
}

bool TNXRealMultiInput::LoadInput(std::int32_t AIndex, double* AOutput, std::int32_t ASize, bool AFirst) {
  GetInputPins().GetItem(AIndex);  // checks the index
  TNXFTQueuedPinState* q = Queues()[static_cast<std::size_t>(AIndex)];
  if (!q->IsEnabled() || ASize <= 0) return false;
  if (!q->IsRunning() && q->GetCollectedSamples() == 0) return false;
  const auto needed = static_cast<std::int32_t>(q->GetNeededSamples());
  if (needed != ASize) {
    const TIntfPtr<INXRealBuffer> stretched = TNXRealBuffer::MakeSize(static_cast<std::uint32_t>(ASize));
    q->StretchLoadBufferSize(stretched);
    if (stretched->GetSize() != ASize) return false;  // nothing needed
    if (AFirst) ippsCopy_64f(stretched->Read(), AOutput, ASize);
    else ippsAdd_64f_I(stretched->Read(), AOutput, ASize);
    return true;
  }
  q->SetIsServed(true);
  std::int32_t at = 0;
  q->TakeSamples(ASize, [&](const void* AData, std::int32_t ACount) {
    const auto* data = static_cast<const double*>(AData);
    if (AFirst) ippsCopy_64f(data, AOutput + at, ACount);
    else ippsAdd_64f_I(data, AOutput + at, ACount);
    at += ACount;
  });
  // A stream that ended short adds nothing to the rest.
  if (AFirst && at < ASize) ippsZero_64f(AOutput + at, ASize - at);
  return true;
}

void TNXRealMultiInput::SumInputs(double* AOutput, std::int32_t ASize) {
  bool first = true;
  const auto n = static_cast<std::int32_t>(Queues().size());
  for (std::int32_t i = 0; i < n; ++i)
    if (LoadInput(i, AOutput, ASize, first)) first = false;
  if (first && ASize > 0) ippsZero_64f(AOutput, ASize);
}

TNXComplexMultiInput::TNXComplexMultiInput(TComponent* AOwner) : TNXMultiInput(AOwner), FOutputPin("OutputPin") {
  InstallSourceDispatch();
}

TNXComplexMultiInput::~TNXComplexMultiInput() { ClosePins(); }

TFTBasicPin* TNXComplexMultiInput::QueuedPinCreateFunction(std::string AName, TFTBasicPinNotificationEvent AHandler) {
  return new TNXFTQueuedComplexSinkPin(std::move(AName), {}, nullptr, std::move(AHandler));
}

namespace NXMultiInput {
namespace {
std::span<const TClassInfo* const> Classes() {
  static const TClassInfo* const classes[] = {&TNXOutputBufferSize::StaticClassInfo(), &TNXMultiInput::StaticClassInfo(),
                                              &TNXRealMultiInput::StaticClassInfo(),
                                              &TNXComplexMultiInput::StaticClassInfo()};
  return classes;
}
}  // namespace
void UnitInitialize() { RegisterClasses(Classes()); }
void UnitFinalize() { UnregisterClasses(Classes()); }
}  // namespace NXMultiInput

}  // namespace nx

NX_PACKAGE_UNIT(NXMultiInput, &nx::NXMultiInput::UnitInitialize, &nx::NXMultiInput::UnitFinalize)
