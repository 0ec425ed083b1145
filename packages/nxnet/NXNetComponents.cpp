// NXNetComponents: the network sink and source (see the header).
#include "packages/nxnet/NXNetComponents.h"

#include "buffers/NXSimpleDataBuffer.h"
#include "runtime/SysUtils.h"

namespace nx::net {

namespace {

TNXNetSocketOptions OptionsOf(TNXNetPattern APattern, const std::string& AEndpoint, bool ABind, std::int32_t AHwm,
                              std::int32_t ATimeout, std::int32_t AMaxSamples) {
  TNXNetSocketOptions options;
  options.PubSub = APattern == npPubSub;
  options.Endpoint = AEndpoint;
  options.Bind = ABind;
  options.HighWaterMark = AHwm;
  options.TimeoutMs = ATimeout;
  options.MaxSamples = static_cast<std::uint32_t>(AMaxSamples < 1 ? 1 : AMaxSamples);
  return options;
}

const char* PatternName(bool APubSub, bool ASender) {
  return APubSub ? (ASender ? "PUB" : "SUB") : (ASender ? "PUSH" : "PULL");
}

// The pacing buffer size of a stream whose first buffer has ACount samples.
std::int32_t PacingSize(std::uint32_t ACount) {
  return ACount < 1 ? 1 : ACount > (1u << 24) ? (1 << 24) : static_cast<std::int32_t>(ACount);
}

}  // namespace

// ---------------------------------------------------------------- sink

TNXNetSink::TNXNetSink(TComponent* AOwner) : TNXRealSink(AOwner) {
  InitProperties(this);
  // The sink base hands starts, buffers and stops to the hooks; pause and
  // resume are taken here first, the rest goes on to the base's handler.
  TIntfPtr<IFTNXGenericStream> base;
  Supports(static_cast<IInterface*>(InputPin()->GetStream()), base);
  InputPin()->SetGenericDispatch([this, base](TFTBasicPin* AOtherPin, const TGUID& AStreamID,
                                              const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) {
    if (Control(AOperation)) return true;
    return base ? base->HandleOperation(AOtherPin, AStreamID, AOperation, AState) : false;
  });
}

TNXNetSink::~TNXNetSink() {
  std::lock_guard guard(FDataLock);
  FSocket.reset();
}

void TNXNetSink::DeclareProperties(TClassBuilder<TNXNetSink>& P) {
  P.Prop<&TNXNetSink::FEndpoint, &TNXNetSink::SetEndpoint>("Endpoint", std::string(kNetDefaultEndpoint));
  P.Prop<&TNXNetSink::FPattern, &TNXNetSink::SetPattern>("Pattern", npPushPull);
  P.Prop<&TNXNetSink::FBind, &TNXNetSink::SetBind>("Bind", true);
  P.Prop<&TNXNetSink::FHighWaterMark, &TNXNetSink::SetHighWaterMark>("HighWaterMark", std::int32_t(1000))
      .Min(std::int32_t(1));
  P.Prop<&TNXNetSink::FSendTimeout, &TNXNetSink::SetSendTimeout>("SendTimeout", std::int32_t(30000))
      .Min(std::int32_t(0));
}

void TNXNetSink::Open() {
  std::lock_guard guard(FDataLock);
  OpenLocked();
}

void TNXNetSink::OpenLocked() {
  if (FSocket) return;
  FSocket = std::make_unique<TNXNetSocket>(
      TNXNetRole::Sender, OptionsOf(GetPattern(), GetEndpoint(), GetBind(), GetHighWaterMark(), GetSendTimeout(), 1));
}

std::string TNXNetSink::BoundEndpoint() const {
  std::lock_guard guard(FDataLock);
  return FSocket ? FSocket->BoundEndpoint() : std::string();
}

std::uint64_t TNXNetSink::MessagesSent() const {
  std::lock_guard guard(FDataLock);
  return FSocket ? FSocket->Sent() : 0;
}

std::uint64_t TNXNetSink::SendTimeouts() const {
  std::lock_guard guard(FDataLock);
  return FTimeouts;
}

void TNXNetSink::FlowPrepare(const flow::TFlowRunContext&) {
  // The sink writes no file: the base's check of FileName does not apply.
  std::lock_guard guard(FDataLock);
  FBuffers = FSamples = 0;
  FRate = 0;
  FTimeouts = 0;
  {
    std::lock_guard fault(FFaultLock);
    FFault.clear();
  }
  try {
    OpenLocked();
  } catch (const ENetError& e) {
    throw Exception(Who() + ": " + e.what());
  }
}

std::string TNXNetSink::FlowFault() const {
  std::lock_guard guard(FFaultLock);
  return FFault;
}

void TNXNetSink::SendLocked(TNXNetKind AKind, const double* ASamples, std::uint32_t ACount) {
  {
    // After a send gave up, the run is ending: no further send waits again.
    std::lock_guard fault(FFaultLock);
    if (!FFault.empty()) return;
  }
  if (!FSocket) {
    try {
      OpenLocked();
    } catch (const ENetError& e) {
      std::lock_guard fault(FFaultLock);
      FFault = Who() + ": " + e.what();
      return;
    }
  }
  if (FSocket->Send(AKind, TNXNetElement::Real64, FRate, ASamples, ACount)) return;
  ++FTimeouts;
  std::lock_guard fault(FFaultLock);
  FFault = Who() + ": no consumer took a message on " + FSocket->Options().Endpoint + " within " +
           std::to_string(FSocket->Options().TimeoutMs) + " ms";
}

void TNXNetSink::OnStart(double) { SendLocked(TNXNetKind::Start, nullptr, 0); }

void TNXNetSink::OnProcess(const TBuffer& AInput) {
  SendLocked(TNXNetKind::Buffer, AInput->Read(), AInput->GetSize());
}

void TNXNetSink::OnStop() { SendLocked(TNXNetKind::Stop, nullptr, 0); }

bool TNXNetSink::Control(const TIntfPtr<IFTNotifyOperation>& AOperation) {
  const bool pause = AOperation->IsType<TFTNXPauseOperation>();
  if (!pause && !AOperation->IsType<TFTNXResumeOperation>()) return false;
  std::lock_guard guard(FDataLock);
  SendLocked(pause ? TNXNetKind::Pause : TNXNetKind::Resume, nullptr, 0);
  return true;
}

void TNXNetSink::OnFinish(flow::TFlowNodeReport& AReport) {
  if (!FSocket) return;
  const TNXNetSocketOptions& options = FSocket->Options();
  AReport.Summary = Format("%llu messages to %s (%s%s)", static_cast<unsigned long long>(FSocket->Sent()),
                           FSocket->BoundEndpoint().c_str(), PatternName(options.PubSub, true),
                           options.Bind ? ", bound" : "");
  if (FTimeouts) AReport.Summary += Format(", %llu send timed out", static_cast<unsigned long long>(FTimeouts));
}

// ---------------------------------------------------------------- source

TNXNetSource::TNXNetSource(TComponent* AOwner) : TNXRealGenerator(AOwner) { InitProperties(this); }

TNXNetSource::~TNXNetSource() {
  FCancel.store(true, std::memory_order_release);
  std::lock_guard guard(FSocketLock);
  FSocket.reset();
}

void TNXNetSource::DeclareProperties(TClassBuilder<TNXNetSource>& P) {
  P.Prop<&TNXNetSource::FEndpoint, &TNXNetSource::SetEndpoint>("Endpoint", std::string(kNetDefaultEndpoint));
  P.Prop<&TNXNetSource::FPattern, &TNXNetSource::SetPattern>("Pattern", npPushPull);
  P.Prop<&TNXNetSource::FBind, &TNXNetSource::SetBind>("Bind", false);
  P.Prop<&TNXNetSource::FHighWaterMark, &TNXNetSource::SetHighWaterMark>("HighWaterMark", std::int32_t(1000))
      .Min(std::int32_t(1));
  P.Prop<&TNXNetSource::FReceiveTimeout, &TNXNetSource::SetReceiveTimeout>("ReceiveTimeout", std::int32_t(30000))
      .Min(std::int32_t(0));
  // The generator's own limit on a buffer (16 Mi samples).
  P.Prop<&TNXNetSource::FMaxSamples, &TNXNetSource::SetMaxSamples>("MaxSamples", std::int32_t(1 << 20))
      .Min(std::int32_t(1))
      .Max(std::int32_t(1 << 24));
}

void TNXNetSource::BeforeDestruction() {
  // A wait for a message ends first: the stop below waits for the clock.
  FCancel.store(true, std::memory_order_release);
  TNXRealGenerator::BeforeDestruction();
}

void TNXNetSource::Open() {
  const TNXNetSocketOptions options = OptionsOf(GetPattern(), GetEndpoint(), GetBind(), GetHighWaterMark(),
                                                GetReceiveTimeout(), GetMaxSamples());
  std::lock_guard guard(FSocketLock);
  if (!FSocket) FSocket = std::make_unique<TNXNetSocket>(TNXNetRole::Receiver, options);
}

std::string TNXNetSource::BoundEndpoint() const {
  auto* self = const_cast<TNXNetSource*>(this);
  std::lock_guard guard(self->FSocketLock);
  return FSocket ? FSocket->BoundEndpoint() : std::string();
}

TNXNetSourceStats TNXNetSource::Stats() const {
  std::lock_guard guard(FStatsLock);
  TNXNetSourceStats stats = FStats;
  stats.Gaps = FSequence.Gaps();
  stats.Missing = FSequence.Missing();
  stats.Restarts = FSequence.Restarts();
  return stats;
}

std::string TNXNetSource::Where() const { return GetEndpoint(); }

void TNXNetSource::FlowPrepare(const flow::TFlowRunContext&) {
  {
    std::lock_guard guard(FStatsLock);
    FStats = TNXNetSourceStats();
    FSequence.Reset();
    FFault.clear();
  }
  try {
    Open();
  } catch (const ENetError& e) {
    throw Exception(std::string(ClassName()) + (Name().empty() ? "" : " " + Name()) + ": " + e.what());
  }
}

void TNXNetSource::FlowFinish(const flow::TFlowRunContext&, flow::TFlowNodeReport& AReport) {
  const TNXNetSourceStats stats = Stats();
  AReport.Summary = Format("%llu messages (%llu buffers) from %s, %llu gaps (%llu missing), %llu rejected",
                           static_cast<unsigned long long>(stats.Messages),
                           static_cast<unsigned long long>(stats.Buffers), Where().c_str(),
                           static_cast<unsigned long long>(stats.Gaps), static_cast<unsigned long long>(stats.Missing),
                           static_cast<unsigned long long>(stats.Rejected));
  if (stats.Rejected) {
    std::string reasons;
    for (int i = 1; i < kNetErrorCount; ++i)
      if (stats.ByReason[static_cast<std::size_t>(i)])
        reasons += Format("%s%llu %s", reasons.empty() ? "" : ", ",
                          static_cast<unsigned long long>(stats.ByReason[static_cast<std::size_t>(i)]),
                          NXNetErrorText(static_cast<TNXNetError>(i)));
    if (stats.Multipart)
      reasons += Format("%s%llu in several parts", reasons.empty() ? "" : ", ",
                        static_cast<unsigned long long>(stats.Multipart));
    AReport.Summary += " (" + reasons + ")";
  }
}

std::string TNXNetSource::FlowFault() const {
  std::lock_guard guard(FStatsLock);
  return FFault;
}

void TNXNetSource::SetFault(const std::string& AFault) {
  std::lock_guard guard(FStatsLock);
  if (FFault.empty()) FFault = AFault;
}

void TNXNetSource::Reject(TNXNetError AReason, bool AMultipart) {
  std::lock_guard guard(FStatsLock);
  ++FStats.Rejected;
  if (AMultipart)
    ++FStats.Multipart;
  else
    ++FStats.ByReason[static_cast<std::size_t>(AReason)];
}

TNXNetSource::TWait TNXNetSource::ReceiveItem(std::int32_t ATimeoutMs, TItem& AItem) {
  const std::uint32_t most = FSocket->Options().MaxSamples;
  for (;;) {
    TNXNetFrame frame;
    switch (FSocket->Receive(frame, ATimeoutMs, FCancel)) {
      case TNXNetReceive::Timeout: return TWait::Timeout;
      case TNXNetReceive::Cancelled: return TWait::Cancelled;
      case TNXNetReceive::Multipart: Reject(TNXNetError::Ok, true); continue;
      case TNXNetReceive::Message: break;
    }
    TNXNetMessage message;
    if (const TNXNetError error = NXNetDecode(frame.Bytes(), most, message); error != TNXNetError::Ok) {
      Reject(error);
      continue;
    }
    if (message.Kind == TNXNetKind::Flush) {
      // Carries nothing; its number keeps the sequence whole.
      std::lock_guard guard(FStatsLock);
      FSequence.Accept(message.Sender, message.Sequence);
      continue;
    }
    // This source makes real buffers: another element type is refused.
    const bool real = message.Element == TNXNetElement::Real64 || message.Element == TNXNetElement::None;
    if (!real || (message.Kind == TNXNetKind::Buffer && message.Element != TNXNetElement::Real64)) {
      Reject(TNXNetError::WrongType);
      continue;
    }
    AItem.Kind = message.Kind;
    AItem.Rate = message.SampleRate;
    AItem.Buffer = nullptr;
    if (message.Kind == TNXNetKind::Buffer) {
      AItem.Buffer = TNXRealBuffer::MakeSize(message.Count);
      if (message.Count > 0) NXNetReadReals(message.Payload, AItem.Buffer->Write(), message.Count);
    }
    std::lock_guard guard(FStatsLock);
    ++FStats.Messages;
    if (message.Kind == TNXNetKind::Buffer) ++FStats.Buffers;
    FSequence.Accept(message.Sender, message.Sequence);
    return TWait::Item;
  }
}

void TNXNetSource::OnStart(double) {
  // Under the component's lock, before the rate is announced: the stream
  // starts at the rate the sender's started with.
  FCancel.store(false, std::memory_order_release);
  FPending.clear();
  FPaused = false;
  FEndNow = false;
  FStreamBufferSize = 0;
  std::lock_guard guard(FSocketLock);
  if (!FSocket) {
    try {
      FSocket = std::make_unique<TNXNetSocket>(
          TNXNetRole::Receiver, OptionsOf(FPattern, FEndpoint, FBind, FHighWaterMark, FReceiveTimeout, FMaxSamples));
    } catch (const ENetError& e) {
      SetFault(std::string(ClassName()) + " " + Name() + ": " + e.what());
      FEndNow = true;
      return;
    }
  }
  double rate = 0;
  for (;;) {
    TItem item;
    const TWait wait = ReceiveItem(FReceiveTimeout, item);
    if (wait == TWait::Cancelled) {
      FEndNow = true;
      return;
    }
    if (wait == TWait::Timeout) {
      SetFault(Format("%s: no stream arrived on %s within %d ms", Name().empty() ? ClassName().c_str() : Name().c_str(),
                      FEndpoint.c_str(), FReceiveTimeout));
      FEndNow = true;
      return;
    }
    switch (item.Kind) {
      case TNXNetKind::Start:
        rate = item.Rate;
        FPending.clear();  // pauses of an earlier stream
        FPaused = false;
        continue;
      case TNXNetKind::Pause:
      case TNXNetKind::Resume:
        // Before any start they belong to a stream this source did not see.
        if (rate > 0 && FPending.size() < 256) {
          FPaused = item.Kind == TNXNetKind::Pause;
          FPending.push_back(std::move(item));
        }
        continue;
      case TNXNetKind::Flush: continue;  // never handed on
      case TNXNetKind::Stop:
        if (rate <= 0) continue;  // the end of a stream joined too late
        FPending.push_back(std::move(item));
        break;
      case TNXNetKind::Buffer:
        if (rate <= 0) rate = item.Rate;  // joined after the start
        FStreamBufferSize = PacingSize(static_cast<std::uint32_t>(item.Buffer->GetSize()));
        FPending.push_back(std::move(item));
        break;
    }
    break;
  }
  FSampleRate = rate;
}

std::int32_t TNXNetSource::GetBufferSize() const {
  return FStreamBufferSize > 0 ? FStreamBufferSize : TNXRealGenerator::GetBufferSize();
}

void TNXNetSource::IntPump() {
  TWriteLock guard(GetLock());
  if (!CanPump()) return;
  GenerateAndSend(nullptr, [this](const TIntfPtr<INXData>& ABuffer) { SubmitReal(ABuffer); });
}

void TNXNetSource::StreamStop() {
  FCancel.store(true, std::memory_order_release);
  TNXRealGenerator::StreamStop();
}

void TNXNetSource::OnProcess(TBuffer& AOutput) {
  AOutput = nullptr;
  if (FEndNow) {
    StopAfterThis();
    return;
  }
  for (;;) {
    TItem item;
    if (!FPending.empty()) {
      item = std::move(FPending.front());
      FPending.pop_front();
    } else {
      TWait wait;
      const std::int32_t timeout = FPaused ? 0 : FReceiveTimeout;
      {
        // The wait lets go of the component's lock: a stop from the host
        // (which waits for this clock) and the host's questions go on.
        TLockReleaser released(GetLock());
        std::lock_guard socket(FSocketLock);
        wait = FSocket ? ReceiveItem(timeout, item) : TWait::Cancelled;
      }
      // Stopped meanwhile: what arrived belongs to no stream any more.
      if (wait == TWait::Cancelled || FCancel.load(std::memory_order_acquire)) return;
      if (wait == TWait::Timeout) {
        SetFault(Format("%s: no message arrived on %s within %d ms",
                        Name().empty() ? ClassName().c_str() : Name().c_str(), FEndpoint.c_str(), FReceiveTimeout));
        StopAfterThis();
        return;
      }
    }
    switch (item.Kind) {
      case TNXNetKind::Buffer: AOutput = std::move(item.Buffer); return;
      case TNXNetKind::Stop: StopAfterThis(); return;
      case TNXNetKind::Flush: break;  // never handed on
      case TNXNetKind::Pause:
        FPaused = true;
        NotifyOutputPins(TFTNXPauseOperation::Make());
        break;
      case TNXNetKind::Resume:
        FPaused = false;
        NotifyOutputPins(TFTNXResumeOperation::Make());
        break;
      case TNXNetKind::Start:
        // The sender began a new stream: announced downstream at its rate.
        FPaused = false;
        FSampleRate = item.Rate;
        NotifyOutputPins(TFTStartSampleRateOperation::Make(item.Rate));
        break;
    }
  }
}

}  // namespace nx::net
