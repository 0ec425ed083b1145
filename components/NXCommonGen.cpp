// NXCommonGen: start and stop, pump negotiation and pacing of generators.
// See NXCommonGen.h.
#include "components/NXCommonGen.h"
#include "buffers/NXSimpleDataBuffer.h"

#include <cmath>
#include <limits>

namespace nx {

NX_PERSISTENT_IMPL(TNXBasicCommonGen)
NX_PERSISTENT_IMPL(TNXCommonGen)
NX_PERSISTENT_IMPL(TNXCommonBufferGen)
NX_PERSISTENT_IMPL(TNXCommonBaseRealGen)
NX_PERSISTENT_IMPL(TNXCommonRealGen)

// ---------------------------------------------------------------- TNXBasicCommonGen

TNXBasicCommonGen::TNXBasicCommonGen(TComponent* AOwner)
    : TLockComponent(AOwner),
      FClockInputPin(FTMakePin<TFTClockMultiSinkPin>(
          "ClockInputPin", FTMethod(this, &TNXBasicCommonGen::ClockDispatch))) {
  InitProperties(this);
}

TNXBasicCommonGen::~TNXBasicCommonGen() { ShutDownClock(); }

void TNXBasicCommonGen::DeclareProperties(TClassBuilder<TNXBasicCommonGen>& P) {
  P.Prop<&TNXBasicCommonGen::FEnabled, &TNXBasicCommonGen::SetEnabled>("Enabled", true);
  P.Prop<&TNXBasicCommonGen::FClockSource, &TNXBasicCommonGen::SetClockSource>("ClockSource", csAuto);
  P.Prop<&TNXBasicCommonGen::FPumpPriority, &TNXBasicCommonGen::SetPumpPriority>("PumpPriority", 0u);
}

void TNXBasicCommonGen::CreateStart() {
  TWriteLock guard(GetLock());
  if (FEnabled && !HasState(csDesigning)) TryStart();
}

void TNXBasicCommonGen::NotifyPause() {
  if (IsRunning()) NotifyOutputPins(TFTNXPauseOperation::Make());
}

void TNXBasicCommonGen::NotifyResume() {
  if (IsRunning()) NotifyOutputPins(TFTNXResumeOperation::Make());
}

void TNXBasicCommonGen::Loaded() {
  TLockComponent::Loaded();
  CreateStart();
}

void TNXBasicCommonGen::BeforeDestruction() {
  {
    TWriteLock guard(GetLock());
    // A generator that never ran has nothing to stop (and no OnStop to fire).
    if (FIsRunning || FClockGen) StreamStop();
    // From here on no tick, clock or master pump reaches IntGenerate: the
    // parts of the object that generate are about to go.
    FInStopping = true;
  }
  ShutDownClock();
  TLockComponent::BeforeDestruction();
}

void TNXBasicCommonGen::SetEnabled(bool AValue) {
  TWriteLock guard(GetLock());
  SetNotify(FEnabled, AValue);
  FEnabledNow.store(FEnabled, std::memory_order_release);
  // While a document is read only the flag is stored: Loaded starts the
  // generator once everything (its links included) is in place.
  if (HasState(csDesigning) || HasState(csLoading)) return;
  if (AValue)
    TryStart();
  else
    StreamStop();
}

void TNXBasicCommonGen::SetClockSource(TNXClockSource AValue) {
  TWriteLock guard(GetLock());
  if (FClockSource == AValue) return;
  const bool wasExternal = ClockIsExternal();
  FClockSource = AValue;
  if (FIsRunning) {
    if (!wasExternal) StopPump();
    RequestPump();
    StartPump();
  }
  Changed();
}

void TNXBasicCommonGen::SetOnStop(TNXNotifyEvent AEvent) {
  TWriteLock guard(GetLock());
  FOnStop = std::move(AEvent);
}

bool TNXBasicCommonGen::ClockIsExternal() const {
  TReadLock guard(GetLock());
  switch (FClockSource) {
    case csExternal: return true;
    case csAuto: return FClockInputPin->IsConnected();
    default: return false;
  }
}

TIntfPtr<TNXClockGen> TNXBasicCommonGen::GetClockGen() const {
  TReadLock guard(GetLock());
  return FClockGen;
}

void TNXBasicCommonGen::TryStart() {
  TWriteLock guard(GetLock());
  if (HasState(csLoading) || FIsRunning || !GetCanStart()) return;
  FFirstRequest = true;
  RequestPump();
  IntStart();
}

void TNXBasicCommonGen::IntStart() {
  TWriteLock guard(GetLock());
  FFirstRequest = true;
  FInStopping = false;
  RequestPump();
  IntStartStream();
  FIsRunning = true;
  if (!ClockIsExternal() && !FIsPump) NotifyOutputPins(TFTStartPumpOperation::Make(FMasterPump));
  StartPump();
  FClockInputPin->Notify(TFTClockNeededOperation::Make(true));
}

void TNXBasicCommonGen::IntStartStream() {
  TWriteLock guard(GetLock());
  StartStream();
  const double rate = GetSampleRate();
  SetRate(rate);
  NotifyOutputPins(TFTStartSampleRateOperation::Make(rate));
}

void TNXBasicCommonGen::RequestPump() {
  TWriteLock guard(GetLock());
  if (ClockIsExternal()) {
    FIsPump = true;
    FMasterPump = nullptr;
    return;
  }
  const TIntfPtr<IFTNotifyOperation> op = TFTPumpRequestOperation::Make(
      PumpIdentity(), FPumpPriority, 2, GetSampleRate() / static_cast<double>(GetBufferSize()));
  NotifyOutputPins(op);
  const TFTPumpRequestOperation* request = op->As<TFTPumpRequestOperation>();
  if (request->GetMaster() == PumpIdentity()) {
    FIsPump = true;
    FMasterPump = nullptr;
    FPumpRate = request->GetRate();
  } else {
    FIsPump = false;
    FMasterPump = request->GetMaster();
  }
}

void TNXBasicCommonGen::StreamStop() {
  TWriteLock guard(GetLock());
  // A receiver that answers the stop with another stop upstream must not
  // start a second round inside this one.
  if (FInStreamStop) return;
  FInStreamStop = true;
  struct TReset {
    bool& Flag;
    ~TReset() { Flag = false; }
  } reset{FInStreamStop};
  FInStopping = false;
  StopPump();
  FIsRunning = false;
  NotifyOutputPins(TFTStopOperation::Make());
  FEnabled = false;
  FEnabledNow.store(false, std::memory_order_release);
  FFirstRequest = true;
  FClockInputPin->Notify(TFTClockNeededOperation::Make(false));
  if (FOnStop) FOnStop(this);
}

void TNXBasicCommonGen::PostStop() {
  TWriteLock guard(GetLock());
  FInStopping = true;
  StreamStop();
}

void TNXBasicCommonGen::StopPump() {
  TWriteLock guard(GetLock());
  TIntfPtr<TNXClockGen> clock = std::exchange(FClockGen, nullptr);
  if (!clock) return;
  if (clock->IsCurrentThread()) {
    // Stopped from the clock's own tick: it cannot wait for itself. It ends
    // when the tick returns; it is kept to be waited for later.
    clock->Terminate();
    FRetiredClock = std::move(clock);
    return;
  }
  // The tick may be waiting for this lock: wait for the thread without it.
  // The last reference goes without it too: the clock's destructor may end
  // the master clock, whose thread may be in a tick of this generator,
  // waiting for this lock.
  TLockReleaser released(GetLock());
  clock->Terminate();
  clock = nullptr;
}

void TNXBasicCommonGen::ShutDownClock() {
  TIntfPtr<TNXClockGen> clock, retired;
  {
    TWriteLock guard(GetLock());
    clock = std::exchange(FClockGen, nullptr);
    retired = std::exchange(FRetiredClock, nullptr);
  }
  for (TNXClockGen* c : {clock.Get(), retired.Get()})
    if (c && !c->IsCurrentThread()) c->Terminate();
}

bool TNXBasicCommonGen::CanPump() const {
  // Running as well: a generator made in code that was never started (or one
  // stopped) ignores clock ticks and master pumps.
  return !FInStopping && FEnabled && FIsRunning;
}

void TNXBasicCommonGen::MasterPump(void* AMaster, std::uint32_t AOperationID) {
  TWriteLock guard(GetLock());
  if (FIsPump || AMaster != FMasterPump) return;
  if (AOperationID != FLastOperationID || FFirstRequest) IntPump();
  FFirstRequest = false;
  FLastOperationID = AOperationID;
}

void TNXBasicCommonGen::Pump() {
  TWriteLock guard(GetLock());
  if (ClockIsExternal()) IntPump();
}

bool TNXBasicCommonGen::ClockDispatch(TFTBasicPin*, IFTStream*, const TGUID&,
                                      const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) {
  if (AState.Contains(nsUpstream)) return false;
  if (AOperation->IsType<TFTClockOperation>()) {
    Pump();
    return true;
  }
  TWriteLock guard(GetLock());
  return FClockInputPin->Notify(TFTClockNeededOperation::Make(FEnabled));
}

bool TNXBasicCommonGen::DispatchOperation(TFTBasicPin*, const TGUID&, const TIntfPtr<IFTNotifyOperation>& AOperation,
                                          TFTNotifyState) {
  if (AOperation->IsType<TFTQueryStreamOperation>()) {
    // Answered without the lock, from the copy of Enabled: the receiver that
    // asks (a mixer settling its rate) holds its own lock while it asks, and
    // a start takes this generator's lock before the receiver's; taking the
    // lock here would close a lock-order cycle between two generators that
    // feed one receiver and start on two threads.
    if (!FEnabledNow.load(std::memory_order_acquire)) NotifyIgnoreOutputPin();
    return false;
  }
  TWriteLock guard(GetLock());
  if (const auto* start = AOperation->As<TFTStartSampleRateOperation>()) {
    RequestPump();
    SetRate(start->GetSampleRate());
    StartPump();
  } else if (AOperation->IsType<TFTStopOperation>()) {
    StreamStop();
  } else if (const auto* pump = AOperation->As<TFTMasterPumpOperation>()) {
    MasterPump(pump->GetMaster(), pump->GetOperationID());
    return true;
  }
  return false;
}

void TNXBasicCommonGen::NotifyIgnoreOutputPin() { NotifyOutputPins(TFTIgnoreStreamOperation::Make()); }

// ---------------------------------------------------------------- TNXCommonGen

TNXCommonGen::TNXCommonGen(TComponent* AOwner) : TNXBasicCommonGen(AOwner) { InitProperties(this); }

void TNXCommonGen::DeclareProperties(TClassBuilder<TNXCommonGen>& P) {
  // A rate that rounds below 1 Hz cannot pace a clock (the generator would
  // wait for ever), and above 1 GHz one clock tick would make millions of
  // buffers: a document is held to the range a run can keep up with.
  P.Prop<&TNXCommonGen::FSampleRate, &TNXCommonGen::SetSampleRate>("SampleRate", DefaultSampleRate)
      .Min(1.0)
      .Max(1e9);
}

void TNXCommonGen::SetSampleRate(double AValue) {
  if (AValue == 0)
    AValue = 0.000001;
  else if (AValue < 0)
    AValue = 0;
  SetNotify(FSampleRate, AValue);
}

bool TNXCommonGen::ClockIntervalFor(double ASampleRate, std::int32_t ABufferSize, std::int64_t& AInterval,
                                    std::int32_t& ABuffersPerGen) {
  // Halves to even (the default rounding mode).
  const double rounded = std::nearbyint(ASampleRate);
  // Beyond 1e14 samples per second the products below would overflow.
  if (!(rounded >= 1) || rounded > 1e14 || ABufferSize < 1) return false;
  const std::int64_t rate = static_cast<std::int64_t>(rounded);
  const std::int64_t size = ABufferSize;
  // The first k with 10,000,000 * size * k / rate >= 10,000 (integer
  // division), i.e. 1,000 * size * k >= rate: found directly rather than by
  // counting up from 1, which a high rate would make slow.
  std::int64_t k = std::max<std::int64_t>(1, (rate + 1000 * size - 1) / (1000 * size));
  while (k > 1 && 10000000 * size * (k - 1) / rate >= NXClockStepUnits) --k;
  while (10000000 * size * k / rate < NXClockStepUnits) ++k;
  if (k > std::numeric_limits<std::int32_t>::max()) return false;
  AInterval = 10000000 * size * k / rate;
  ABuffersPerGen = static_cast<std::int32_t>(k);
  return true;
}

void TNXCommonGen::StartPump() {
  TWriteLock guard(GetLock());
  if (!FIsPump || ClockIsExternal() || FClockGen) return;
  std::int64_t interval = 0;
  std::int32_t perGen = 1;
  // A rate that rounds to 0 cannot pace a clock: the generator then waits
  // silently (for an external clock or a master) instead of dividing by 0.
  if (!ClockIntervalFor(FSampleRate, GetBufferSize(), interval, perGen)) return;
  FBuffersPerGen = perGen;
  // A clock that ended itself from its own tick is waited for before the
  // next one starts, so that at most one is alive per generator.
  if (TIntfPtr<TNXClockGen> retired = std::exchange(FRetiredClock, nullptr); retired && !retired->IsCurrentThread()) {
    TLockReleaser released(GetLock());
    retired->WaitFor();
    retired = nullptr;  // without the lock, as in StopPump
  }
  FClockGen = MakeThread<TNXClockGen>(this, interval, TNXClockEvent([this](IThread* AThread) { Clock(AThread); }));
}

void TNXCommonGen::Clock(IThread* AThread) {
  TWriteLock guard(GetLock());
  for (std::int32_t i = 0; i < FBuffersPerGen; ++i) {
    // A tick of a clock that was stopped meanwhile (while it waited for the
    // lock) produces nothing.
    if (!FClockGen || static_cast<IThread*>(FClockGen.Get()) != AThread) return;
    IntPump();
  }
}

// ---------------------------------------------------------------- TNXCommonBufferGen

TNXCommonBufferGen::TNXCommonBufferGen(TComponent* AOwner) : TNXCommonGen(AOwner) { InitProperties(this); }

void TNXCommonBufferGen::DeclareProperties(TClassBuilder<TNXCommonBufferGen>& P) {
  // 16 Mi samples (128 MiB a buffer) is far beyond any stream's needs and
  // keeps a document from asking for more memory than a machine has.
  P.Prop<&TNXCommonBufferGen::FBufferSize, &TNXCommonBufferGen::SetBufferSize>("BufferSize", DefaultBufferSize)
      .Min(1)
      .Max(1 << 24);
}

void TNXCommonBufferGen::SetOnStart(TNXStartNotify AEvent) {
  TWriteLock guard(GetLock());
  FOnStart = std::move(AEvent);
}

void TNXCommonBufferGen::IntStart() {
  TWriteLock guard(GetLock());
  if (FOnStart) FOnStart(this, static_cast<double>(FBufferSize));
  TNXCommonGen::IntStart();
}

void TNXCommonBufferGen::GenerateAndSend(TIntfPtr<INXDataBuffer> ABuffer,
                                         const std::function<void(const TIntfPtr<INXData>&)>& ASend) {
  bool send = true, stop = false;
  IntGenerate(ABuffer, send, stop);
  if (send && ABuffer) ASend(TIntfPtr<INXData>(ABuffer));
  if (stop) PostStop();
}

// ---------------------------------------------------------------- real and pin generators

INXRealBuffer* TNXCommonBaseRealGen::RealOf(const TIntfPtr<INXDataBuffer>& ABuffer) noexcept {
  INXDataBuffer* buffer = ABuffer.Get();
  if (!buffer) return nullptr;
  // The buffers the base makes are TNXRealBuffer. For an object of exactly
  // that class the whole object is found from its vtable alone; the general
  // cross-cast walks the class's virtual bases, comparing their names, and
  // was a sixth of a sine generator's time per buffer.
  if (typeid(*buffer) == typeid(TNXRealBuffer)) return static_cast<TNXRealBuffer*>(dynamic_cast<void*>(buffer));
  return dynamic_cast<INXRealBuffer*>(buffer);
}

void TNXCommonBaseRealGen::IntPump() {
  TWriteLock guard(GetLock());
  if (!CanPump()) return;
  const std::int32_t size = GetBufferSize();
  if (size < 0) RaiseIndexOutOfRange(size);
  GenerateAndSend(TIntfPtr<INXDataBuffer>(TNXRealBuffer::MakeSize(static_cast<std::uint32_t>(size))),
                  [this](const TIntfPtr<INXData>& ABuffer) { SubmitReal(ABuffer); });
}

bool TNXCommonBaseRealGen::GenerateFloat(double& AValue) {
  TWriteLock guard(GetLock());
  TIntfPtr<INXDataBuffer> buffer(TNXRealBuffer::MakeValue(AValue, 1));
  bool send = true, stop = false;
  IntGenerate(buffer, send, stop);
  if (send)
    if (INXRealBuffer* real = RealOf(buffer); real && real->GetSize() > 0) AValue = real->GetItem(0);
  if (stop) PostStop();
  return send;
}

void TNXCommonPinBufferGen::IntPump() {
  TWriteLock guard(GetLock());
  if (!CanPump()) return;
  GenerateAndSend(nullptr, [this](const TIntfPtr<INXData>& ABuffer) {
    NotifyOutputPins(TFTSuppliedBufferOperation::Make(ABuffer));
  });
}

}  // namespace nx
