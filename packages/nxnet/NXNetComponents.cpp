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

// A new buffer of the message's element type holding its elements.
TIntfPtr<INXDataBuffer> MakeBuffer(const TNXNetMessage& AMessage) {
  TIntfPtr<INXDataBuffer> buffer;
  switch (AMessage.Element) {
    case TNXNetElement::Int32: buffer = TNXIntegerBuffer::MakeSize(AMessage.Count); break;
    case TNXNetElement::UInt32: buffer = TNXUnsignedBuffer::MakeSize(AMessage.Count); break;
    case TNXNetElement::Complex128: buffer = TNXComplexBuffer::MakeSize(AMessage.Count); break;
    case TNXNetElement::Byte: buffer = TNXBlockBuffer::MakeSize(AMessage.Count); break;
    default: buffer = TNXRealBuffer::MakeSize(AMessage.Count); break;
  }
  if (AMessage.Count > 0) NXNetReadElements(AMessage.Payload, AMessage.Element, buffer->ByteWrite(), AMessage.Count);
  return buffer;
}

// The pacing buffer size of a stream whose first buffer has ACount samples.
std::int32_t PacingSize(std::uint32_t ACount) {
  return ACount < 1 ? 1 : ACount > (1u << 24) ? (1 << 24) : static_cast<std::int32_t>(ACount);
}

}  // namespace

// ---------------------------------------------------------------- sink

TNXNetSink::TNXNetSink(TComponent* AOwner) : TLockComponent(AOwner) {
  InitProperties(this);
  FInputPin->SetGenericDispatch(
      [this](TFTBasicPin*, const TGUID&, const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState) {
        return Dispatch(AOperation);
      });
}

TNXNetSink::~TNXNetSink() {
  std::lock_guard guard(FDataLock);
  FSocket.reset();
}

void TNXNetSink::BeforeDestruction() {
  // Waits for a delivery still inside the pin: what it runs needs the whole
  // component.
  FInputPin->Close();
  TLockComponent::BeforeDestruction();
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

std::int64_t TNXNetSink::Buffers() const {
  std::lock_guard guard(FDataLock);
  return FBuffers;
}

std::int64_t TNXNetSink::Samples() const {
  std::lock_guard guard(FDataLock);
  return FSamples;
}

double TNXNetSink::StreamRate() const {
  std::lock_guard guard(FDataLock);
  return FRate;
}

std::string TNXNetSink::Who() const { return Name().empty() ? ClassName() : ClassName() + " " + Name(); }

void TNXNetSink::FlowPrepare(const flow::TFlowRunContext&) {
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

void TNXNetSink::SendLocked(TNXNetKind AKind, TNXNetElement AElement, const void* APayload, std::uint32_t ACount) {
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
  if (FSocket->Send(AKind, AElement, FRate, APayload, ACount)) return;
  ++FTimeouts;
  std::lock_guard fault(FFaultLock);
  FFault = Who() + ": no consumer took a message on " + FSocket->Options().Endpoint + " within " +
           std::to_string(FSocket->Options().TimeoutMs) + " ms";
}

namespace {

// A received buffer as it travels: its element type and its elements. A
// buffer of a kind the format has no type for goes as its bytes, as a link
// to a sink of bytes carries it.
struct TOutgoing {
  TNXNetElement Element = TNXNetElement::Byte;
  const void* Payload = nullptr;
  std::uint32_t Count = 0;
};

template <class I>
bool Take(const TIntfPtr<INXData>& AData, TNXNetElement AElement, TOutgoing& AOut) {
  TIntfPtr<I> typed;
  if (!Supports(AData, typed)) return false;
  AOut.Element = AElement;
  AOut.Count = static_cast<std::uint32_t>(typed->GetSize());
  AOut.Payload = AOut.Count ? static_cast<const void*>(typed->Read()) : nullptr;
  return true;
}

// False for data that is no buffer at all.
bool Outgoing(const TIntfPtr<INXData>& AData, TOutgoing& AOut) {
  if (Take<INXRealBuffer>(AData, TNXNetElement::Real64, AOut) ||
      Take<INXIntegerBuffer>(AData, TNXNetElement::Int32, AOut) ||
      Take<INXUnsignedBuffer>(AData, TNXNetElement::UInt32, AOut) ||
      Take<INXComplexBuffer>(AData, TNXNetElement::Complex128, AOut) ||
      Take<INXBlockBuffer>(AData, TNXNetElement::Byte, AOut))
    return true;
  TIntfPtr<INXDataBuffer> buffer;
  if (!Supports(AData, buffer)) return false;
  AOut.Element = TNXNetElement::Byte;
  AOut.Count = buffer->GetByteSize();
  AOut.Payload = AOut.Count ? buffer->ByteRead() : nullptr;
  return true;
}

}  // namespace

bool TNXNetSink::Dispatch(const TIntfPtr<IFTNotifyOperation>& AOperation) {
  if (const auto* supplied = AOperation->As<TFTTypedSuppliedDataOperation>()) {
    const TIntfPtr<INXData>& data = supplied->GetValue();
    TOutgoing out;
    if (!data || !Outgoing(data, out)) return false;
    std::lock_guard guard(FDataLock);
    ++FBuffers;
    FSamples += out.Count;
    // A buffer of no samples is counted, not sent.
    if (out.Count == 0) return true;
    FElement = out.Element;
    SendLocked(TNXNetKind::Buffer, out.Element, out.Payload, out.Count);
    return true;
  }
  if (const auto* start = AOperation->As<TFTStartSampleRateOperation>()) {
    std::lock_guard guard(FDataLock);
    // A start while a stream runs ends that one first.
    if (FStarted) SendLocked(TNXNetKind::Stop, FElement, nullptr, 0);
    FStarted = true;
    FRate = start->GetSampleRate();
    FElement = TNXNetElement::None;
    SendLocked(TNXNetKind::Start, FElement, nullptr, 0);
    return true;
  }
  const bool pause = AOperation->IsType<TFTNXPauseOperation>();
  if (pause || AOperation->IsType<TFTNXResumeOperation>()) {
    std::lock_guard guard(FDataLock);
    SendLocked(pause ? TNXNetKind::Pause : TNXNetKind::Resume, FElement, nullptr, 0);
    return true;
  }
  if (AOperation->IsType<TFTStopOperation>()) {
    std::lock_guard guard(FDataLock);
    if (FStarted) {
      FStarted = false;
      SendLocked(TNXNetKind::Stop, FElement, nullptr, 0);
    }
  }
  return false;
}

void TNXNetSink::FlowFinish(const flow::TFlowRunContext&, flow::TFlowNodeReport& AReport) {
  std::lock_guard guard(FDataLock);
  AReport.IsSink = true;
  AReport.Buffers = FBuffers;
  AReport.Samples = FSamples;
  AReport.SampleRate = FRate;
  if (!FSocket) return;
  const TNXNetSocketOptions& options = FSocket->Options();
  AReport.Summary = Format("%llu messages to %s (%s%s)", static_cast<unsigned long long>(FSocket->Sent()),
                           FSocket->BoundEndpoint().c_str(), PatternName(options.PubSub, true),
                           options.Bind ? ", bound" : "");
  if (FTimeouts) AReport.Summary += Format(", %llu send timed out", static_cast<unsigned long long>(FTimeouts));
}

// ---------------------------------------------------------------- output pin

namespace {

// ABuffer as a link of kind ALink takes it; empty when that kind cannot
// hold it.
TIntfPtr<IFTNotifyOperation> ForLink(const TGUID& ALink, const TIntfPtr<INXData>& ABuffer,
                                     const TIntfPtr<IFTNotifyOperation>& AOperation) {
  TIntfPtr<INXDataBuffer> buffer;
  if (!Supports(ABuffer, buffer)) return AOperation;
  TIntfPtr<INXRealBuffer> real;
  TIntfPtr<INXIntegerBuffer> ints;
  TIntfPtr<INXUnsignedBuffer> cards;
  TIntfPtr<INXComplexBuffer> complex;
  TIntfPtr<INXBlockBuffer> block;
  const auto supply = [](INXData* AData) { return TFTSuppliedBufferOperation::Make(TIntfPtr<INXData>(AData)); };
  if (ALink == IFTRealBufferStream::IID) {
    if (Supports(ABuffer, real)) return AOperation;
    const auto n = static_cast<std::uint32_t>(buffer->GetSize());
    if (Supports(ABuffer, ints)) return supply(TNXRealBuffer::MakeIntegerData(n ? ints->Read() : nullptr, n).Get());
    if (Supports(ABuffer, cards)) return supply(TNXRealBuffer::MakeCardinalData(n ? cards->Read() : nullptr, n).Get());
    return {};
  }
  if (ALink == IFTIntegerBufferStream::IID) return Supports(ABuffer, ints) ? AOperation : nullptr;
  if (ALink == IFTUnsignedBufferStream::IID) return Supports(ABuffer, cards) ? AOperation : nullptr;
  if (ALink == IFTComplexBufferStream::IID) return Supports(ABuffer, complex) ? AOperation : nullptr;
  if (ALink == IFTBinaryBufferStream::IID) {
    if (Supports(ABuffer, block)) return AOperation;
    const std::uint32_t bytes = buffer->GetByteSize();
    return supply(TNXBlockBuffer::MakeData(bytes ? buffer->ByteRead() : nullptr, bytes).Get());
  }
  // Any other link (the universal kind) takes the buffer as it is.
  return AOperation;
}

// The link kind of ABuffer's own kind (the universal kind for another).
TGUID KindOf(const TIntfPtr<INXData>& ABuffer) {
  TIntfPtr<INXRealBuffer> real;
  TIntfPtr<INXIntegerBuffer> ints;
  TIntfPtr<INXUnsignedBuffer> cards;
  TIntfPtr<INXComplexBuffer> complex;
  TIntfPtr<INXBlockBuffer> block;
  if (Supports(ABuffer, real)) return IFTRealBufferStream::IID;
  if (Supports(ABuffer, ints)) return IFTIntegerBufferStream::IID;
  if (Supports(ABuffer, cards)) return IFTUnsignedBufferStream::IID;
  if (Supports(ABuffer, complex)) return IFTComplexBufferStream::IID;
  if (Supports(ABuffer, block)) return IFTBinaryBufferStream::IID;
  return IFTUniversalBufferStream::IID;
}

}  // namespace

bool TNXNetOutputPin::Notify(const TIntfPtr<IFTNotifyOperation>& AOperation) {
  const TFTLinkSnapshot links = GetLinks();
  if (!links) return false;
  const TFTNotifyState state = NotifyStateFor(*links);
  const auto* supplied = AOperation ? AOperation->As<TFTSuppliedBufferOperation>() : nullptr;
  if (!supplied) return NotifyLinks(*links, AOperation, state);
  const TIntfPtr<INXData>& data = supplied->GetValue();
  const TGUID kind = KindOf(data);
  bool handled = false;
  for (const TFTLink& link : *links) {
    // A sink that takes several kinds (the link names one of them) takes the
    // buffer as it is when its own kind is among them.
    const bool asItIs = link.ID == kind || (!link.Converter && link.Peer && link.Peer->AcceptsType(kind));
    if (const TIntfPtr<IFTNotifyOperation> operation = asItIs ? AOperation : ForLink(link.ID, data, AOperation))
      handled = NotifyLink(link, operation, state) || handled;
  }
  return handled;
}

// ---------------------------------------------------------------- source

TNXNetSource::TNXNetSource(TComponent* AOwner) : TNXGenWithOutput(AOwner) { InitProperties(this); }

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
  TNXGenWithOutput::BeforeDestruction();
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

void TNXNetSource::FlowReadings(std::vector<flow::TFlowReading>& AOut) const {
  const TNXNetSourceStats s = Stats();
  AOut.push_back({"Messages", static_cast<std::int64_t>(s.Messages)});
  AOut.push_back({"Rejected", static_cast<std::int64_t>(s.Rejected)});
  AOut.push_back({"Gaps", static_cast<std::int64_t>(s.Gaps)});
  AOut.push_back({"Missing", static_cast<std::int64_t>(s.Missing)});
  AOut.push_back({"Restarts", static_cast<std::int64_t>(s.Restarts)});
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
    // A stream keeps the element type of its first buffer: the links
    // downstream were made for it.
    if (message.Kind == TNXNetKind::Buffer) {
      if (FStreamElement != TNXNetElement::None && message.Element != FStreamElement) {
        // It arrived whole: its number is no gap.
        {
          std::lock_guard guard(FStatsLock);
          FSequence.Accept(message.Sender, message.Sequence);
        }
        Reject(TNXNetError::WrongType);
        continue;
      }
      FStreamElement = message.Element;
    } else if (message.Kind == TNXNetKind::Start) {
      FStreamElement = TNXNetElement::None;
    }
    AItem.Kind = message.Kind;
    AItem.Rate = message.SampleRate;
    AItem.Buffer = message.Kind == TNXNetKind::Buffer ? MakeBuffer(message) : nullptr;
    std::lock_guard guard(FStatsLock);
    ++FStats.Messages;
    if (message.Kind == TNXNetKind::Buffer) ++FStats.Buffers;
    FSequence.Accept(message.Sender, message.Sequence);
    return TWait::Item;
  }
}

void TNXNetSource::StartStream() {
  // Under the component's lock, before the rate is announced: the stream
  // starts at the rate the sender's started with.
  if (FStarted) return;
  FStarted = true;
  FCancel.store(false, std::memory_order_release);
  FPending.clear();
  FPaused = false;
  FEndNow = false;
  FStreamBufferSize = 0;
  std::lock_guard guard(FSocketLock);
  FStreamElement = TNXNetElement::None;
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
        FStreamBufferSize = PacingSize(item.Buffer->GetSize());
        FPending.push_back(std::move(item));
        break;
    }
    break;
  }
  FSampleRate = rate;
}

std::int32_t TNXNetSource::GetBufferSize() const {
  return FStreamBufferSize > 0 ? FStreamBufferSize : TNXGenWithOutput::GetBufferSize();
}

void TNXNetSource::StreamStop() {
  FCancel.store(true, std::memory_order_release);
  TNXGenWithOutput::StreamStop();
  TWriteLock guard(GetLock());
  FStarted = false;
}

void TNXNetSource::IntGenerate(TIntfPtr<INXDataBuffer>& ABuffer, bool& ASendFlag, bool& AStopFlag) {
  // Nothing is sent unless a buffer arrives.
  ABuffer = nullptr;
  ASendFlag = false;
  if (FEndNow) {
    AStopFlag = true;
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
        AStopFlag = true;
        return;
      }
    }
    switch (item.Kind) {
      case TNXNetKind::Buffer:
        ABuffer = std::move(item.Buffer);
        ASendFlag = true;
        return;
      case TNXNetKind::Stop: AStopFlag = true; return;
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
