// NXStreamTypes: operations, the stream-type registry, the signal pins, the
// default channel handler and the link format converters.
#include "streams/NXStreamTypes.h"
#include "buffers/NXSimpleDataBuffer.h"
#include "runtime/NXPackage.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <type_traits>
#include <unordered_map>

namespace nx {

// ---------------------------------------------------------------- stream object

bool TNXFTGenericStream::IntQueryInterface(const TGUID& iid, void** obj) noexcept {
  if (QueryInterfaces<IFTStream, IFTNXHandleStream, IFTNXGenericStream>(this, iid, obj)) return true;
  // The buffer stream interfaces only when asked for at construction.
  if (std::find(FAlso.begin(), FAlso.end(), iid) != FAlso.end() &&
      QueryInterfaces<IFTRealBufferStream, IFTIntegerBufferStream, IFTUnsignedBufferStream>(this, iid, obj))
    return true;
  return TInterfacedObject::IntQueryInterface(iid, obj);
}

// ---------------------------------------------------------------- operations

TIntfPtr<INXDataBuffer> TBufferPair::GetBuffer(std::int32_t AIndex) {
  if (AIndex < 0 || AIndex >= GetCount()) RaiseIndexOutOfRange(AIndex);
  return FList[static_cast<std::size_t>(AIndex)];
}

void TBufferPair::SetBuffer(std::int32_t AIndex, const TIntfPtr<INXDataBuffer>& ABuffer) {
  if (AIndex < 0 || AIndex >= GetCount()) RaiseIndexOutOfRange(AIndex);
  FList[static_cast<std::size_t>(AIndex)] = ABuffer;
}

namespace {
std::uint32_t SampleClockCount(INXDataBuffer* ABuffer) {
  const std::int32_t n = ABuffer->GetSize();
  if (n < 0) RaiseRange("Index out of range = %u", static_cast<unsigned>(n));
  return static_cast<std::uint32_t>(n);
}
}  // namespace

std::uint32_t TFTSuppliedBufferOperation::ClockCountOf(const TIntfPtr<INXData>& AData) {
  if (!AData) return 1;
  if (INXDataBuffer* peeked = AData->GetInstance()->PeekDataBuffer()) return SampleClockCount(peeked);
  TIntfPtr<INXDataBuffer> buffer;
  if (Supports(AData, buffer)) return SampleClockCount(buffer.Get());
  return 1;
}

TIntfPtr<IFTNotifyOperation> TFTSuppliedBufferOperation::Make(const TIntfPtr<INXData>& AData) {
  return FTMakeOperation<TFTSuppliedBufferOperation>(AData, ClockCountOf(AData));
}

TIntfPtr<IFTNotifyOperation> TFTSuppliedBufferOperation::Make(TIntfPtr<INXData>&& AData) {
  const std::uint32_t count = ClockCountOf(AData);
  return FTMakeOperation<TFTSuppliedBufferOperation>(std::move(AData), count);
}

TIntfPtr<IFTNotifyOperation> TFTSuppliedBufferPairOperation::Make(const TIntfPtr<IBufferPair>& APair) {
  std::uint32_t count = 1;
  if (APair && APair->GetCount() > 0) {
    const TIntfPtr<INXDataBuffer> first = APair->GetBuffer(0);
    if (first) count = SampleClockCount(first.Get());
  }
  return FTMakeOperation<TFTSuppliedBufferPairOperation>(APair, count);
}

// ---------------------------------------------------------------- stream-type registry

namespace {

struct TStreamTypeRegistry {
  std::mutex Lock;
  std::vector<std::pair<TGUID, TNXFTStreamTypeEntry>> Items;  // in registration order
};
// Created by the start-up section, released by the finalization section;
// the functions see no registry outside that span.
TStreamTypeRegistry* gStreamTypes = nullptr;

bool FindStreamType(const TGUID& AID, TNXFTStreamTypeEntry& AOut) {
  if (!gStreamTypes) return false;
  std::lock_guard guard(gStreamTypes->Lock);
  for (const auto& [id, entry] : gStreamTypes->Items)
    if (id == AID) {
      AOut = entry;
      return true;
    }
  return false;
}

std::uint32_t CheckedCount(std::int32_t ASampleCount) {
  if (ASampleCount < 0) RaiseRange("Index out of range = %u", static_cast<unsigned>(ASampleCount));
  return static_cast<std::uint32_t>(ASampleCount);
}

}  // namespace

TIntfPtr<INXDataBuffer> NXFTCreateChannelContainer(std::int32_t ASampleCount) {
  return TIntfPtr<INXDataBuffer>(TNXBlockBuffer::MakeSize(CheckedCount(ASampleCount)));
}
TIntfPtr<INXDataBuffer> NXFTCreateRealContainer(std::int32_t ASampleCount) {
  return TIntfPtr<INXDataBuffer>(TNXRealBuffer::MakeSize(CheckedCount(ASampleCount)));
}
TIntfPtr<INXDataBuffer> NXFTCreateIntegerContainer(std::int32_t ASampleCount) {
  return TIntfPtr<INXDataBuffer>(TNXIntegerBuffer::MakeSize(CheckedCount(ASampleCount)));
}
TIntfPtr<INXDataBuffer> NXFTCreateUnsignedContainer(std::int32_t ASampleCount) {
  return TIntfPtr<INXDataBuffer>(TNXUnsignedBuffer::MakeSize(CheckedCount(ASampleCount)));
}
TIntfPtr<INXDataBuffer> NXFTCreateComplexContainer(std::int32_t ASampleCount) {
  return TIntfPtr<INXDataBuffer>(TNXComplexBuffer::MakeSize(CheckedCount(ASampleCount)));
}
void NXFTUpdateChannelContainer(const TIntfPtr<INXDataBuffer>&, const TIntfPtr<IFTNotifyOperation>&) {}

void NXFTRegisterStreamType(const TGUID& AID, std::int32_t ASampleSize, TNXFTCreateBufferFunction ACreate,
                            TNXFTUpdateBufferFunction AUpdate) {
  NX_ASSERT_MSG(gStreamTypes, "the stream-type registry does not exist");
  NX_ASSERT_MSG(ASampleSize > 0 && ACreate, "a stream type needs a sample size and a create function");
  std::lock_guard guard(gStreamTypes->Lock);
  const TNXFTStreamTypeEntry entry{ASampleSize, ACreate, AUpdate};
  for (auto& item : gStreamTypes->Items)
    if (item.first == AID) {
      item.second = entry;
      return;
    }
  gStreamTypes->Items.emplace_back(AID, entry);
}

void NXFTRegisterStreamType(const TGUID& AID, std::int32_t ASampleSize, TNXFTCreateBufferFunction ACreate) {
  NXFTRegisterStreamType(AID, ASampleSize, ACreate, nullptr);
}

std::vector<TGUID> NXFTGetStreamTypeIDs() {
  std::vector<TGUID> ids;
  if (!gStreamTypes) return ids;
  std::lock_guard guard(gStreamTypes->Lock);
  for (const auto& item : gStreamTypes->Items) ids.push_back(item.first);
  return ids;
}

TIntfPtr<INXDataBuffer> NXFTCreateBuffer(const TGUID& AID, std::int32_t ASampleCount) {
  TNXFTStreamTypeEntry entry;
  if (!FindStreamType(AID, entry)) return {};
  return entry.Create(ASampleCount);  // outside the lock
}

std::int32_t NXFTGetSampleSize(const TGUID& AID) {
  TNXFTStreamTypeEntry entry;
  return FindStreamType(AID, entry) ? entry.SampleSize : 1;
}

bool NXFTUpdateBuffer(const TGUID& AID, const TIntfPtr<INXDataBuffer>& ABuffer,
                      const TIntfPtr<IFTNotifyOperation>& AOperation) {
  TNXFTStreamTypeEntry entry;
  if (!FindStreamType(AID, entry)) return false;
  if (entry.Update) entry.Update(ABuffer, AOperation);
  return true;
}

// ---------------------------------------------------------------- handlers

namespace {

// Hands AOperation to the handle method of the stream's interface I.
template <class I>
bool HandleBy(IFTStream* AStream, TFTBasicPin* AOtherPin, const TGUID& AStreamID,
              const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState, bool& AHandled) {
  TIntfPtr<I> target;
  if (!Supports(static_cast<IInterface*>(AStream), target)) return false;
  AHandled = target->HandleOperation(AOtherPin, AStreamID, AOperation, AState);
  return true;
}

}  // namespace

bool DefaultNXChannelNotificationHandler(TFTBasicPin* AOtherPin, IFTStream* AStream, const TGUID& AStreamID,
                                         const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) {
  if (AState.Contains(nsUpstream) || !AOperation) return false;
  bool handled = false;
  if (auto* rate = AOperation->As<TFTStartSampleRateOperation>()) {
    // The announced rate counts bytes; the stream counts samples. The kinds
    // are asked in a fixed order, real buffers first: a stream that takes
    // real buffers among others counts eight-byte samples.
    const double r = rate->GetSampleRate();
    if (HandleBy<IFTRealBufferStream>(AStream, AOtherPin, AStreamID, TFTStartSampleRateOperation::Make(r / 8), AState,
                                      handled) ||
        HandleBy<IFTIntegerBufferStream>(AStream, AOtherPin, AStreamID, TFTStartSampleRateOperation::Make(r / 4),
                                         AState, handled) ||
        HandleBy<IFTUnsignedBufferStream>(AStream, AOtherPin, AStreamID, TFTStartSampleRateOperation::Make(r / 4),
                                          AState, handled))
      return handled;
  }
  if (HandleBy<IFTNXGenericStream>(AStream, AOtherPin, AStreamID, AOperation, AState, handled)) return handled;
  return false;
}

TFTBasicPinNotificationEvent GFTPassTroughDispatch(TFTBasicPin* APin) {
  NX_ASSERT(APin);
  return [APin](TFTBasicPin*, IFTStream*, const TGUID&, const TIntfPtr<IFTNotifyOperation>& AOperation,
                TFTNotifyState) { return APin->Notify(AOperation); };
}

TFTBasicPinNotificationEvent GFTPassTroughDispatch(TFTBasicPin* APin, TFTBasicPinNotificationEvent AOtherwise) {
  NX_ASSERT(APin);
  return [APin, otherwise = std::move(AOtherwise)](TFTBasicPin* AOtherPin, IFTStream* AStream, const TGUID& AID,
                                                   const TIntfPtr<IFTNotifyOperation>& AOperation,
                                                   TFTNotifyState AState) {
    if (APin->IsConnected()) return APin->Notify(AOperation);
    return otherwise ? otherwise(AOtherPin, AStream, AID, AOperation, AState) : false;
  };
}

bool GRGPinQueryPumpOperation(TFTBasicPin* APin, const TIntfPtr<IFTNotifyOperation>& APumpRequest) {
  NX_ASSERT(APin);
  NX_ASSERT_MSG(APumpRequest && APumpRequest->IsType<TFTPumpRequestOperation>(), "a pump request is needed");
  return APin->Notify(APumpRequest);
}

// ---------------------------------------------------------------- pin helpers

namespace {

bool IsSingleValueKind(const TGUID& AID) {
  static constexpr TGUID kSingles[] = {
      IFTRealStream::IID,       IFTFloatStream::IID,    IFTIntegerStream::IID,    IFTCardinalStream::IID,
      IFTBoolStream::IID,       IFTStringStream::IID,   IFTInt64Stream::IID,      IFTUInt64Stream::IID,
      IFTRealComplexStream::IID, IFTByteStream::IID,    IFTCharStream::IID,       IFTColorStream::IID,
      IFTAlphaColorStream::IID, IFTDateTimeStream::IID, IFTDateStream::IID,       IFTTimeStream::IID,
      IFTRealListStream::IID,   IFTIntegerListStream::IID};
  return std::find(std::begin(kSingles), std::end(kSingles), AID) != std::end(kSingles);
}

// The stream object of a pin that hands operations to AHandler; it also
// answers the buffer stream interfaces of the kinds the pin accepts, so that
// the default channel handler adapts sample rates for it.
TIntfPtr<IFTStream> MakeGenericStream(TFTBasicPin* APin, TNXGenericDispatchEvent AHandler) {
  std::vector<TGUID> also;
  for (const TGUID& id : APin->GetTypes())
    if (id == IFTRealBufferStream::IID || id == IFTIntegerBufferStream::IID || id == IFTUnsignedBufferStream::IID)
      also.push_back(id);
  return TIntfPtr<IFTStream>(new TNXFTGenericStream(APin, std::move(AHandler), std::move(also)));
}

}  // namespace

TGUID NXFTPreferredStreamID(const std::vector<TGUID>& ACommon) {
  NX_ASSERT(!ACommon.empty());
  for (const TGUID& id : ACommon)
    if (id != IFTUniversalBufferStream::IID && !IsSingleValueKind(id)) return id;
  for (const TGUID& id : ACommon)
    if (id != IFTUniversalBufferStream::IID) return id;
  return ACommon.front();
}

std::vector<TGUID> NXFTSinkLinkTypes(const TFTBasicPin& ASink, const TFTBasicPin& APeer) {
  auto specific = [](const std::vector<TGUID>& AIDs) {
    return std::any_of(AIDs.begin(), AIDs.end(), [](const TGUID& id) {
      return id != IFTUniversalBufferStream::IID && id != IFTClockStream::IID;
    });
  };
  std::vector<TGUID> own = ASink.GetTypes();
  if (specific(own) && specific(APeer.GetTypes())) std::erase(own, IFTUniversalBufferStream::IID);
  return own;
}

void TNXFTPinState::InstallGenericStream(TFTBasicPin& APin, TNXGenericDispatchEvent AHandler) {
  TIntfPtr<IFTStream> stream = MakeGenericStream(&APin, std::move(AHandler));
  TIntfPtr<IFTNXGenericStream> generic;
  Supports(stream, generic);
  APin.SetStream(stream);
  FGeneric = std::move(generic);
  FGenericStream = stream.Get();
}

TIntfPtr<IFTNXGenericStream> TNXFTPinState::GenericOf(IFTStream* AStream) const noexcept {
  if (AStream && AStream == FGenericStream) return FGeneric;
  TIntfPtr<IFTNXGenericStream> generic;
  Supports(static_cast<IInterface*>(AStream), generic);
  return generic;
}

bool TNXFTPinState::SinkDispatch(TFTBasicPin* AOtherPin, IFTStream* AStream, const TGUID& AStreamID,
                                 const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) const {
  if (AState.Contains(nsUpstream)) return false;
  if (AStream && AStream == FGenericStream)  // the pin's own object: no query
    return FGeneric->HandleOperation(AOtherPin, AStreamID, AOperation, AState);
  TIntfPtr<IFTNXGenericStream> generic;
  if (!Supports(static_cast<IInterface*>(AStream), generic)) return false;
  return generic->HandleOperation(AOtherPin, AStreamID, AOperation, AState);
}

void TNXFTPinState::SetOnConnect(TFTPinEvent AEvent) {
  TLockGuard guard(*FLock);
  FOnConnect = std::move(AEvent);
}

void TNXFTPinState::SetOnDisconnect(TFTPinEvent AEvent) {
  TLockGuard guard(*FLock);
  FOnDisconnect = std::move(AEvent);
}

void TNXFTPinState::CallOnConnect(TFTBasicPin* APin) {
  TFTPinEvent event;
  {
    TLockGuard guard(*FLock);
    event = FOnConnect;
  }
  if (event) event(APin);
}

void TNXFTPinState::CallOnDisconnect(TFTBasicPin* APin) {
  TFTPinEvent event;
  {
    TLockGuard guard(*FLock);
    event = FOnDisconnect;
  }
  if (event) event(APin);
}

void NXFTApplyPinName(TFTBasicPin& APin, const std::string& APropertyName, const char* ANameAttribute) {
  const bool source = APin.IsSourcePin();
  const char* plain = source ? "OutputPin" : "InputPin";
  const char* raw = source ? "RawOutputPin" : "RawInputPin";
  if (APropertyName != plain && APropertyName != raw) {
    APin.SetName(APropertyName);
    return;
  }
  const std::string attribute = ANameAttribute ? std::string(ANameAttribute) : NXFTGetClassShortName(APin.PinClass());
  if (attribute.empty())
    APin.SetName(APropertyName);
  else
    APin.SetName(APropertyName == raw ? "Raw" + attribute : attribute);
}

// ---------------------------------------------------------------- source pins

TNXFTSourcePin::TNXFTSourcePin(std::string AName, TFTPinEvent AOnConnect, TCriticalSection* ALock,
                               TFTBasicPinNotificationEvent AHandler, bool AClockable)
    : TFTDispatchSourcePin(std::move(AName), AHandler ? std::move(AHandler)
                                                      : FTMethod(this, &TNXFTSourcePin::PinDispatch)),
      TNXFTPinState(std::move(AOnConnect), ALock),
      FCanClock(AClockable) {
  if (AClockable) AddType(IFTClockStream::IID, FTMethod(this, &TNXFTSourcePin::ClockDispatch));
}

TNXFTSourcePin::~TNXFTSourcePin() { Close(); }

void TNXFTSourcePin::SetGenericDispatch(TNXGenericDispatchEvent AHandler) {
  InstallGenericStream(*this, std::move(AHandler));
}

bool TNXFTSourcePin::PinDispatch(TFTBasicPin* AOtherPin, IFTStream* AStream, const TGUID& AStreamID,
                                 const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) {
  if (!AState.Contains(nsUpstream)) return false;
  if (const TIntfPtr<IFTNXGenericStream> generic = GenericOf(AStream))
    return generic->HandleOperation(AOtherPin, AStreamID, AOperation, AState);
  TIntfPtr<IFTTypedDispatchStream> typed;
  if (Supports(static_cast<IInterface*>(AStream), typed))
    return typed->TypedDispatch(AOtherPin, AStreamID, AOperation, AState);
  return IntNotificationHandler(AOtherPin, AStream, AStreamID, AOperation, AState);
}

bool TNXFTSourcePin::ClockDispatch(TFTBasicPin* AOtherPin, IFTStream* AStream, const TGUID&,
                                   const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) {
  TIntfPtr<IFTClockNotifyStream> clock;
  if (!Supports(static_cast<IInterface*>(AStream), clock)) return false;
  return clock->ClockNotification(AOtherPin, AOperation, AState);
}

void TNXFTSourcePin::DoConnected(TFTBasicPin*) { CallOnConnect(this); }

void TNXFTSourcePin::DoDisconnecting(TFTBasicPin* APeer) { NotifyPin(APeer, TFTStopOperation::Make()); }

// ---------------------------------------------------------------- universal pins

namespace {
// Own kinds first, then the peer's kinds that are not clock or single-value
// kinds (a universal pin carries buffers).
std::vector<TGUID> AdoptedTypes(std::vector<TGUID> AOwn, const TFTBasicPin& APeer, bool AAll) {
  for (const TGUID& id : APeer.GetTypes()) {
    if (std::find(AOwn.begin(), AOwn.end(), id) != AOwn.end()) continue;
    if (!AAll && (id == IFTClockStream::IID || IsSingleValueKind(id))) continue;
    AOwn.push_back(id);
  }
  return AOwn;
}
}  // namespace

std::vector<TGUID> TNXFTUniversalSourcePin::LinkTypes(const TFTBasicPin& APeer) const {
  return AdoptedTypes(GetTypes(), APeer, false);
}

TFTBasicPinNotificationEvent TNXFTUniversalSourcePin::HandlerFor(const TGUID& AID) const {
  if (TFTBasicPinNotificationEvent own = TNXFTSourcePin::HandlerFor(AID)) return own;
  return TNXFTSourcePin::HandlerFor(IFTUniversalBufferStream::IID);  // an adopted kind
}

// The typed-dispatch object of a universal sink pin. A caller may keep it
// longer than the pin lives: each operation enters the pin's gate, which
// fails once the pin is closed.
class TNXFTUniversalSinkPin::TTypedDispatch final : public TInterfacedObject,
                                                    public virtual IFTTypedDispatchStream {
  NX_INTERFACES(TInterfacedObject, IFTStream, IFTTypedDispatchStream)

 public:
  explicit TTypedDispatch(TNXFTUniversalSinkPin* APin) : FPin(APin), FGate(&APin->GetGate()) {}
  TFTBasicPin* GetPin() noexcept override { return FPin; }
  bool TypedDispatch(TFTBasicPin* AOtherPin, const TGUID& AStreamID, const TIntfPtr<IFTNotifyOperation>& AOperation,
                     TFTNotifyState AState) override {
    return FGate->Deliver([&] { return FPin->TypedDispatch(AOtherPin, AStreamID, AOperation, AState); });
  }

 private:
  TNXFTUniversalSinkPin* FPin;
  TIntfPtr<TFTPinGate> FGate;
};

TNXFTUniversalSinkPin::TNXFTUniversalSinkPin(std::string AName, TFTPinEvent AOnConnect, TCriticalSection* ALock,
                                             TFTBasicPinNotificationEvent AHandler)
    : TNXFTSinkPin(std::move(AName), std::move(AOnConnect), ALock, std::move(AHandler)),
      FHandler(TNXFTSinkPin::HandlerFor(IFTUniversalBufferStream::IID)),
      FTypedDispatch(new TTypedDispatch(this)) {}

TNXFTUniversalSinkPin::~TNXFTUniversalSinkPin() { Close(); }

bool TNXFTUniversalSinkPin::QueryInterface(const TGUID& AIID, TIntfPtr<IInterface>& AObj) const noexcept {
  if (FAcceptAll.load() >= 1 || AIID == IFTTypedDispatchStream::IID) {
    AObj = TIntfPtr<IInterface>(static_cast<IInterface*>(FTypedDispatch.Get()));
    return true;
  }
  return TNXFTSinkPin::QueryInterface(AIID, AObj);
}

bool TNXFTUniversalSinkPin::TypedDispatch(TFTBasicPin* AOtherPin, const TGUID& AStreamID,
                                          const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) {
  return FHandler ? FHandler(AOtherPin, GetStream(), AStreamID, AOperation, AState) : false;
}

std::vector<TGUID> TNXFTUniversalSinkPin::LinkTypes(const TFTBasicPin& APeer) const {
  return AdoptedTypes(GetTypes(), APeer, FAcceptAll.load() >= 1);
}

TFTBasicPinNotificationEvent TNXFTUniversalSinkPin::HandlerFor(const TGUID& AID) const {
  if (TFTBasicPinNotificationEvent own = TNXFTSinkPin::HandlerFor(AID)) return own;
  return TNXFTSinkPin::HandlerFor(IFTUniversalBufferStream::IID);
}

// ---------------------------------------------------------------- real source pins

namespace {
// Delivers over every link the operation AOperationFor gives for that link.
template <class F>
bool NotifyEachLink(TFTBasicPin& APin, const TFTLinkSnapshot& ALinks, F AOperationFor) {
  const TFTNotifyState state = APin.NotifyStateFor(*ALinks);
  bool handled = false;
  for (const TFTLink& l : *ALinks)
    if (APin.NotifyLink(l, AOperationFor(l), state)) handled = true;
  return handled;
}
}  // namespace

bool TNXFTRealSourcePin::Notify(const TIntfPtr<IFTNotifyOperation>& AOperation) {
  const TFTLinkSnapshot links = GetLinks();
  if (!links) return false;
  auto* supplied = AOperation && FValueLinks.load(std::memory_order_relaxed)
                      ? AOperation->As<TFTSuppliedBufferOperation>()
                      : nullptr;
  const bool anySingle = supplied && std::any_of(links->begin(), links->end(), [](const TFTLink& l) {
                           return l.ID == IFTRealStream::IID || l.ID == IFTFloatStream::IID;
                         });
  TIntfPtr<INXRealBuffer> buffer;
  if (!anySingle || !Supports(supplied->GetValue(), buffer))
    return NotifyLinks(*links, AOperation, NotifyStateFor(*links));
  // The last sample stands for the buffer (an empty buffer is a range error).
  const double last = buffer->GetItem(buffer->GetSize() - 1);
  TIntfPtr<IFTNotifyOperation> asReal, asFloat;
  return NotifyEachLink(*this, links, [&](const TFTLink& l) -> const TIntfPtr<IFTNotifyOperation>& {
    if (l.ID == IFTRealStream::IID) {
      if (!asReal) asReal = TFTSuppliedRealOperation::Make(last);
      return asReal;
    }
    if (l.ID == IFTFloatStream::IID) {
      if (!asFloat) asFloat = TFTSuppliedFloatOperation::Make(static_cast<float>(last));
      return asFloat;
    }
    return AOperation;
  });
}

TFTBasicPinNotificationEvent TNXFTRealSourcePin::HandlerFor(const TGUID& AID) const {
  // The linker asks for the handler of a new link's kind before it publishes
  // the link: a sender that finds a value link in its snapshot finds the flag
  // set too (set before the link section publishes the snapshot, read after
  // the snapshot is taken).
  if (AID == IFTRealStream::IID || AID == IFTFloatStream::IID) FValueLinks.store(true, std::memory_order_relaxed);
  return TNXFTClockableSourcePin::HandlerFor(AID);
}

void TNXFTRealSourcePin::DoConnected(TFTBasicPin* APeer) {
  // Cleared when no value link is left (a stale true only costs a look at the links).
  const TFTLinkSnapshot links = GetLinks();
  if (!links || std::none_of(links->begin(), links->end(), [](const TFTLink& l) {
        return l.ID == IFTRealStream::IID || l.ID == IFTFloatStream::IID;
      }))
    FValueLinks.store(false, std::memory_order_relaxed);
  TNXFTClockableSourcePin::DoConnected(APeer);
}

TNXFTRealRangedSourcePin::~TNXFTRealRangedSourcePin() { Close(); }

bool TNXFTRealRangedSourcePin::Notify(const TIntfPtr<IFTNotifyOperation>& AOperation) {
  // Sent first, then remembered (or forgotten on a stop): a sink that links
  // later gets the range as its replay.
  const bool result = TNXFTRealSourcePin::Notify(AOperation);
  TIntfPtr<IFTNotifyOperation> old;  // released outside the lock
  if (AOperation && AOperation->IsType<TFTSuppliedRealRangeOperation>()) {
    TLockGuard guard(GetLock());
    old = FRangeOperation;
    FRangeOperation = AOperation;
  } else if (AOperation && AOperation->IsType<TFTStopOperation>()) {
    TLockGuard guard(GetLock());
    old.Swap(FRangeOperation);
  }
  return result;
}

TIntfPtr<IFTNotifyOperation> TNXFTRealRangedSourcePin::GetRangeOperation() const {
  TLockGuard guard(GetLock());
  return FRangeOperation;
}

void TNXFTRealRangedSourcePin::DoConnected(TFTBasicPin* APeer) {
  TNXFTRealSourcePin::DoConnected(APeer);
  if (const TIntfPtr<IFTNotifyOperation> range = GetRangeOperation()) NotifyPin(APeer, range);
}

// ---------------------------------------------------------------- channel source pin

TNXFTChannelSourcePin::~TNXFTChannelSourcePin() { Close(); }

void TNXFTChannelSourcePin::SetDispatchEvent(TNXDispatchEvent AEvent) {
  TLockGuard guard(GetLock());
  FDispatchEvent = std::move(AEvent);
}

bool TNXFTChannelSourcePin::Notify(const TIntfPtr<IFTNotifyOperation>& AOperation) {
  const TFTLinkSnapshot links = GetLinks();
  if (!links) return false;
  TNXDispatchEvent channel;
  {
    TLockGuard guard(GetLock());
    channel = FDispatchEvent;
  }
  const TNXDispatchEvent handler = channel ? channel : TNXDispatchEvent(&DefaultNXChannelNotificationHandler);
  const TFTNotifyState state = NotifyStateFor(*links);
  bool handled = false;
  for (const TFTLink& l : *links) {
    // A converter adapts its link itself; a clock input takes everything
    // supplied as ticks through its own handler.
    const bool own = l.Converter || l.ID == IFTClockStream::IID;
    if (own ? NotifyLink(l, AOperation, state)
            : l.Gate->Deliver([&] { return handler(l.Other, l.Stream.Get(), l.ID, AOperation, state); }))
      handled = true;
  }
  return handled;
}

std::int32_t TNXFTChannelSourcePin::GetMaxSampleSize() const {
  std::vector<TGUID> ids;
  {
    TLockGuard guard(GetLock());
    ids = GetConnectedIDs();
  }
  std::int32_t size = 1;
  for (const TGUID& id : ids) size = std::max(size, NXFTGetSampleSize(id));
  return size;
}

// ---------------------------------------------------------------- class defaults

namespace {

struct TClassDefaultsRegistry {
  std::mutex Lock;
  std::vector<TNXFTPinClassDefaults> Items;  // in registration order
};
// Made on first use and never freed, like the framework's registries:
// component packages register their pin classes in start-up sections whose
// order relative to static initialisers is not known.
TClassDefaultsRegistry& ClassDefaults() {
  static TClassDefaultsRegistry* registry = new TClassDefaultsRegistry;
  return *registry;
}

TNXFTPinClassDefaults DefaultsOf(const TFTPinClass& AClass, std::string AShortName) {
  TNXFTPinClassDefaults d;
  d.Class = &AClass;
  d.IsSource = AClass.InheritsFrom(TNXFTSourcePin::ClassInfo());
  d.MultiLink = d.IsSource || AClass.InheritsFrom(TFTMultiSinkPin::ClassInfo());
  d.Clockable = AClass.InheritsFrom(TNXFTClockableSourcePin::ClassInfo());
  d.IgnoresUpstream = AClass.IgnoreUpstream();
  d.AdoptsPeerKinds = AClass.InheritsFrom(TNXFTUniversalSourcePin::ClassInfo()) ||
                      AClass.InheritsFrom(TNXFTUniversalSinkPin::ClassInfo());
  // A clockable pin binds the clock stream explicitly, ahead of its class's kinds.
  if (d.Clockable) d.StreamTypes.push_back(IFTClockStream::IID);
  for (const TGUID& id : AClass.DataTypes())
    if (std::find(d.StreamTypes.begin(), d.StreamTypes.end(), id) == d.StreamTypes.end()) d.StreamTypes.push_back(id);
  d.ShortName = std::move(AShortName);
  return d;
}

}  // namespace

void NXFTRegisterClassDefaults(const TFTPinClass& AClass, std::string AShortName) {
  NX_ASSERT_MSG(AClass.InheritsFrom(TNXFTSourcePin::ClassInfo()) || AClass.InheritsFrom(TNXFTSinkPin::ClassInfo()) ||
                    AClass.InheritsFrom(TNXFTMultiSinkPin::ClassInfo()),
                "class defaults are kept for signal pin classes only");
  TNXFTPinClassDefaults d = DefaultsOf(AClass, std::move(AShortName));
  TClassDefaultsRegistry& r = ClassDefaults();
  std::lock_guard guard(r.Lock);
  for (TNXFTPinClassDefaults& item : r.Items)
    if (item.Class == &AClass) {
      item = std::move(d);
      return;
    }
  r.Items.push_back(std::move(d));
}

void NXFTUnregisterClassDefaults(const TFTPinClass& AClass) {
  TClassDefaultsRegistry& r = ClassDefaults();
  std::lock_guard guard(r.Lock);
  std::erase_if(r.Items, [&](const TNXFTPinClassDefaults& d) { return d.Class == &AClass; });
}

namespace {
// Copies out the first registered defaults that AMatch accepts.
template <class F>
bool CopyClassDefaults(F AMatch, TNXFTPinClassDefaults& ADefaults) {
  TClassDefaultsRegistry& r = ClassDefaults();
  std::lock_guard guard(r.Lock);
  for (const TNXFTPinClassDefaults& d : r.Items)
    if (AMatch(d)) {
      ADefaults = d;
      return true;
    }
  return false;
}
}  // namespace

bool NXFTGetClassDefaults(const TFTPinClass& AClass, TNXFTPinClassDefaults& ADefaults) {
  return CopyClassDefaults([&](const TNXFTPinClassDefaults& d) { return d.Class == &AClass; }, ADefaults);
}

bool NXFTFindClassDefaults(const std::string& AClassName, TNXFTPinClassDefaults& ADefaults) {
  return CopyClassDefaults([&](const TNXFTPinClassDefaults& d) { return AClassName == d.Class->Name; }, ADefaults);
}

std::vector<std::string> NXFTGetRegisteredPinClasses() {
  TClassDefaultsRegistry& r = ClassDefaults();
  std::lock_guard guard(r.Lock);
  std::vector<std::string> names;
  names.reserve(r.Items.size());
  for (const TNXFTPinClassDefaults& d : r.Items) names.emplace_back(d.Class->Name);
  return names;
}

std::string NXFTGetClassShortName(const TFTPinClass& AClass) {
  TClassDefaultsRegistry& r = ClassDefaults();
  std::lock_guard guard(r.Lock);
  for (const TFTPinClass* k = &AClass;; k = &k->Parent()) {
    for (const TNXFTPinClassDefaults& d : r.Items)
      if (d.Class == k && !d.ShortName.empty()) return d.ShortName;
    if (!k->Parent) return {};
  }
}

// ---------------------------------------------------------------- format converters

namespace {

using TConvertFunction = TIntfPtr<IFTNotifyOperation> (*)(const TIntfPtr<IFTNotifyOperation>&);

struct TConverterRecipe {
  TGUID In;
  TGUID Out;
  TConvertFunction Convert;  // empty result: not this kind, re-sent unchanged
};

// One converter class per recipe: a sink of the input kind, a source of the
// output kind; supplied data is converted, every other operation re-sent.
template <const TConverterRecipe& Recipe>
class TNXFTFormatConverter final : public TFTBasicFormatConverter {
 public:
  TNXFTFormatConverter() : TFTBasicFormatConverter({Recipe.In}, {Recipe.Out}) {}
  static TIntfPtr<TFTFormatConverter> Create() { return TIntfPtr<TFTFormatConverter>(new TNXFTFormatConverter()); }

 protected:
  TIntfPtr<IFTNotifyOperation> ConvertOperation(const TGUID&, const TGUID&,
                                                const TIntfPtr<IFTNotifyOperation>& AOperation) override {
    if (!AOperation || !AOperation->IsType<TFTSuppliedOperation>()) return AOperation;
    if (TIntfPtr<IFTNotifyOperation> converted = Recipe.Convert(AOperation)) return converted;
    return AOperation;
  }
};

TIntfPtr<IFTNotifyOperation> Supply(const TIntfPtr<INXData>& AData) { return TFTSuppliedBufferOperation::Make(AData); }

// The buffer of a supplied buffer operation as interface I, or empty.
template <class I>
TIntfPtr<I> SuppliedBuffer(const TIntfPtr<IFTNotifyOperation>& AOperation) {
  TIntfPtr<I> buffer;
  if (auto* op = AOperation->As<TFTSuppliedBufferOperation>()) Supports(op->GetValue(), buffer);
  return buffer;
}

// A buffer of any kind to a binary (byte) buffer of its bytes.
template <class I>
TIntfPtr<IFTNotifyOperation> BufferToBinary(const TIntfPtr<IFTNotifyOperation>& AOperation) {
  const TIntfPtr<I> buffer = SuppliedBuffer<I>(AOperation);
  if (!buffer) return {};
  const std::uint32_t bytes = buffer->GetByteSize();
  return Supply(TIntfPtr<INXData>(TNXBlockBuffer::MakeData(bytes ? buffer->ByteRead() : nullptr, bytes)));
}

TIntfPtr<IFTNotifyOperation> IntegerToReal(const TIntfPtr<IFTNotifyOperation>& AOperation) {
  const auto buffer = SuppliedBuffer<INXIntegerBuffer>(AOperation);
  if (!buffer) return {};
  const auto n = static_cast<std::uint32_t>(buffer->GetSize());
  return Supply(TIntfPtr<INXData>(TNXRealBuffer::MakeIntegerData(n ? buffer->Read() : nullptr, n)));
}

TIntfPtr<IFTNotifyOperation> UnsignedToReal(const TIntfPtr<IFTNotifyOperation>& AOperation) {
  const auto buffer = SuppliedBuffer<INXUnsignedBuffer>(AOperation);
  if (!buffer) return {};
  const auto n = static_cast<std::uint32_t>(buffer->GetSize());
  return Supply(TIntfPtr<INXData>(TNXRealBuffer::MakeCardinalData(n ? buffer->Read() : nullptr, n)));
}

TIntfPtr<IFTNotifyOperation> RealToMatrix(const TIntfPtr<IFTNotifyOperation>& AOperation) {
  const auto buffer = SuppliedBuffer<INXRealBuffer>(AOperation);
  if (!buffer) return {};
  const std::int32_t n = buffer->GetSize();
  return Supply(TIntfPtr<INXData>(TNXRealMatrixBuffer::MakeData(n ? buffer->Read() : nullptr, 1, n)));
}

TIntfPtr<IFTNotifyOperation> RealValueToReal(const TIntfPtr<IFTNotifyOperation>& AOperation) {
  auto* op = AOperation->As<TFTSuppliedRealOperation>();
  if (!op) return {};
  return Supply(TIntfPtr<INXData>(TNXRealBuffer::MakeValue(op->GetValue(), 1)));
}

TIntfPtr<IFTNotifyOperation> ComplexValueToComplex(const TIntfPtr<IFTNotifyOperation>& AOperation) {
  auto* op = AOperation->As<TFTSuppliedRealComplexOperation>();
  if (!op) return {};
  return Supply(TIntfPtr<INXData>(TNXComplexBuffer::MakeValue(op->GetValue(), 1)));
}

TIntfPtr<IFTNotifyOperation> RealListToReal(const TIntfPtr<IFTNotifyOperation>& AOperation) {
  auto* op = AOperation->As<TFTSuppliedRealListOperation>();
  if (!op) return {};
  return Supply(TIntfPtr<INXData>(TNXRealBuffer::MakeArrayList(op->GetValue())));
}

TIntfPtr<IFTNotifyOperation> IntegerListToInteger(const TIntfPtr<IFTNotifyOperation>& AOperation) {
  auto* op = AOperation->As<TFTSuppliedIntegerListOperation>();
  if (!op) return {};
  return Supply(TIntfPtr<INXData>(TNXIntegerBuffer::MakeArrayList(op->GetValue())));
}

// A single value to a binary buffer of the value's bytes.
template <class T>
TIntfPtr<IFTNotifyOperation> ValueToBinary(const TIntfPtr<IFTNotifyOperation>& AOperation) {
  static_assert(std::is_trivially_copyable_v<T>);
  auto* op = AOperation->As<TFTTypedSuppliedOperation<T>>();
  if (!op) return {};
  std::uint8_t bytes[sizeof(T)];
  std::memcpy(bytes, &op->GetValue(), sizeof(T));
  return Supply(TIntfPtr<INXData>(TNXBlockBuffer::MakeData(bytes, sizeof(T))));
}

constexpr TGUID kBinary = IFTBinaryBufferStream::IID;

#define NX_CONVERTER(Var, In, Out, Fn) constexpr TConverterRecipe Var{In::IID, Out, &Fn};
NX_CONVERTER(kIntegerToBinary, IFTIntegerBufferStream, kBinary, BufferToBinary<INXIntegerBuffer>)
NX_CONVERTER(kUnsignedToBinary, IFTUnsignedBufferStream, kBinary, BufferToBinary<INXUnsignedBuffer>)
NX_CONVERTER(kComplexToBinary, IFTComplexBufferStream, kBinary, BufferToBinary<INXComplexBuffer>)
NX_CONVERTER(kBooleanToBinary, IFTBooleanBufferStream, kBinary, BufferToBinary<INXBooleanBuffer>)
NX_CONVERTER(kIntegerToReal, IFTIntegerBufferStream, IFTRealBufferStream::IID, IntegerToReal)
NX_CONVERTER(kUnsignedToReal, IFTUnsignedBufferStream, IFTRealBufferStream::IID, UnsignedToReal)
NX_CONVERTER(kRealValueToReal, IFTRealStream, IFTRealBufferStream::IID, RealValueToReal)
NX_CONVERTER(kComplexValueToComplex, IFTRealComplexStream, IFTComplexBufferStream::IID, ComplexValueToComplex)
NX_CONVERTER(kRealToMatrix, IFTRealBufferStream, IFTRealMatrixStream::IID, RealToMatrix)
NX_CONVERTER(kRealListToReal, IFTRealListStream, IFTRealBufferStream::IID, RealListToReal)
NX_CONVERTER(kIntegerListToInteger, IFTIntegerListStream, IFTIntegerBufferStream::IID, IntegerListToInteger)
NX_CONVERTER(kFloatToBinary, IFTFloatStream, kBinary, ValueToBinary<float>)
NX_CONVERTER(kRealToBinary, IFTRealStream, kBinary, ValueToBinary<double>)
NX_CONVERTER(kIntToBinary, IFTIntegerStream, kBinary, ValueToBinary<std::int32_t>)
NX_CONVERTER(kInt64ToBinary, IFTInt64Stream, kBinary, ValueToBinary<std::int64_t>)
NX_CONVERTER(kCardinalToBinary, IFTCardinalStream, kBinary, ValueToBinary<std::uint32_t>)
NX_CONVERTER(kUInt64ToBinary, IFTUInt64Stream, kBinary, ValueToBinary<std::uint64_t>)
NX_CONVERTER(kRealComplexToBinary, IFTRealComplexStream, kBinary, ValueToBinary<TComplex>)
NX_CONVERTER(kByteToBinary, IFTByteStream, kBinary, ValueToBinary<std::uint8_t>)
NX_CONVERTER(kCharToBinary, IFTCharStream, kBinary, ValueToBinary<char16_t>)
NX_CONVERTER(kColorToBinary, IFTColorStream, kBinary, ValueToBinary<TFTColor>)
NX_CONVERTER(kAlphaColorToBinary, IFTAlphaColorStream, kBinary, ValueToBinary<TFTAlphaColor>)
NX_CONVERTER(kDateTimeToBinary, IFTDateTimeStream, kBinary, ValueToBinary<TFTDateTime>)
NX_CONVERTER(kDateToBinary, IFTDateStream, kBinary, ValueToBinary<TFTDate>)
NX_CONVERTER(kTimeToBinary, IFTTimeStream, kBinary, ValueToBinary<TFTTime>)
#undef NX_CONVERTER

// Constant-initialised: the start-up section reads it before dynamic
// initialisers run.
#define NX_CONVERTER_CLASS(Name, Recipe) TFTFormatConverterClass{Name, &TNXFTFormatConverter<Recipe>::Create}
constexpr TFTFormatConverterClass kConverterClasses[] = {
    NX_CONVERTER_CLASS("TNXFTIntegerToBinaryConverter", kIntegerToBinary),
    NX_CONVERTER_CLASS("TNXFTUnsignedToBinaryConverter", kUnsignedToBinary),
    NX_CONVERTER_CLASS("TNXFTComplexToBinaryConverter", kComplexToBinary),
    NX_CONVERTER_CLASS("TNXFTBooleanToBinaryConverter", kBooleanToBinary),
    NX_CONVERTER_CLASS("TNXFTIntegerToRealConverter", kIntegerToReal),
    NX_CONVERTER_CLASS("TNXFTUnsignedToRealConverter", kUnsignedToReal),
    NX_CONVERTER_CLASS("TNXFTRealValueToRealConverter", kRealValueToReal),
    NX_CONVERTER_CLASS("TNXFTComplexValueToComplexConverter", kComplexValueToComplex),
    NX_CONVERTER_CLASS("TNXFTRealToRealMatrixConverter", kRealToMatrix),
    NX_CONVERTER_CLASS("TNXFTRealListToRealConverter", kRealListToReal),
    NX_CONVERTER_CLASS("TNXFTIntegerListToIntegerConverter", kIntegerListToInteger),
    NX_CONVERTER_CLASS("TNXFTFloatToBinaryConverter", kFloatToBinary),
    NX_CONVERTER_CLASS("TNXFTRealToBinaryConverter", kRealToBinary),
    NX_CONVERTER_CLASS("TNXFTIntegerValueToBinaryConverter", kIntToBinary),
    NX_CONVERTER_CLASS("TNXFTInt64ToBinaryConverter", kInt64ToBinary),
    NX_CONVERTER_CLASS("TNXFTCardinalToBinaryConverter", kCardinalToBinary),
    NX_CONVERTER_CLASS("TNXFTUInt64ToBinaryConverter", kUInt64ToBinary),
    NX_CONVERTER_CLASS("TNXFTRealComplexToBinaryConverter", kRealComplexToBinary),
    NX_CONVERTER_CLASS("TNXFTByteToBinaryConverter", kByteToBinary),
    NX_CONVERTER_CLASS("TNXFTCharToBinaryConverter", kCharToBinary),
    NX_CONVERTER_CLASS("TNXFTColorToBinaryConverter", kColorToBinary),
    NX_CONVERTER_CLASS("TNXFTAlphaColorToBinaryConverter", kAlphaColorToBinary),
    NX_CONVERTER_CLASS("TNXFTDateTimeToBinaryConverter", kDateTimeToBinary),
    NX_CONVERTER_CLASS("TNXFTDateToBinaryConverter", kDateToBinary),
    NX_CONVERTER_CLASS("TNXFTTimeToBinaryConverter", kTimeToBinary),
};
#undef NX_CONVERTER_CLASS

// The identifiers served by the default channel handler.
constexpr TGUID kChannelHandlerIDs[] = {
    IFTGenericBufferStream::IID,  IFTBinaryBufferStream::IID,   IFTBooleanBufferStream::IID,
    IFTRealBufferStream::IID,     IFTRangedRealBufferStream::IID, IFTIntegerBufferStream::IID,
    IFTUnsignedBufferStream::IID, IFTComplexBufferStream::IID,  IFTPairedBufferStream::IID,
    IFTRealMatrixStream::IID};

// The pin classes of this unit, whose class defaults the start-up section registers.
#define NX_PIN_CLASS(T) &T::ClassInfo
constexpr const TFTPinClass& (*kPinClasses[])() noexcept = {
    NX_PIN_CLASS(TNXFTSourcePin), NX_PIN_CLASS(TNXFTClockableSourcePin), NX_PIN_CLASS(TNXFTSinkPin),
    NX_PIN_CLASS(TNXFTMultiSinkPin), NX_PIN_CLASS(TNXFTUniversalSourcePin), NX_PIN_CLASS(TNXFTUniversalSinkPin),
    NX_PIN_CLASS(TNXFTBinarySourcePin), NX_PIN_CLASS(TNXFTBinarySinkPin), NX_PIN_CLASS(TNXFTBinaryMultiSinkPin),
    NX_PIN_CLASS(TNXFTBooleanSourcePin), NX_PIN_CLASS(TNXFTBooleanSinkPin), NX_PIN_CLASS(TNXFTComboBooleanSinkPin),
    NX_PIN_CLASS(TNXFTIntegerSourcePin), NX_PIN_CLASS(TNXFTIntegerSinkPin), NX_PIN_CLASS(TNXFTUnsignedSourcePin),
    NX_PIN_CLASS(TNXFTUnsignedSinkPin), NX_PIN_CLASS(TNXFTPairedSourcePin), NX_PIN_CLASS(TNXFTPairedSinkPin),
    NX_PIN_CLASS(TNXFTRealSourcePin), NX_PIN_CLASS(TNXFTRealRangedSourcePin), NX_PIN_CLASS(TNXFTComboRealSourcePin),
    NX_PIN_CLASS(TNXFTRealSinkPin), NX_PIN_CLASS(TNXFTRealRangedSinkPin), NX_PIN_CLASS(TNXFTComboRealSinkPin),
    NX_PIN_CLASS(TNXFTComboRealIntSinkPin), NX_PIN_CLASS(TNXFTComboRealIntMatrixSinkPin),
    NX_PIN_CLASS(TNXFTComboRealAndMatrixSinkPin), NX_PIN_CLASS(TNXFTComboRealIntComplexBoolPairedSinkPin),
    NX_PIN_CLASS(TNXFTComplexSourcePin), NX_PIN_CLASS(TNXFTComplexSinkPin), NX_PIN_CLASS(TNXFTRealComplexSinkPin),
    NX_PIN_CLASS(TNXFTIntegerRealComplexSourcePin), NX_PIN_CLASS(TNXFTIntegerRealComplexSinkPin),
    NX_PIN_CLASS(TNXFTIntegerRealComplexBinarySourcePin), NX_PIN_CLASS(TNXFTIntegerRealComplexBinarySinkPin),
    NX_PIN_CLASS(TNXFTChannelSourcePin), NX_PIN_CLASS(TNXFTStringSourcePin), NX_PIN_CLASS(TNXFTStringSinkPin),
    NX_PIN_CLASS(TNXFTRealMatrixSourcePin), NX_PIN_CLASS(TNXFTRealMatrixSinkPin),
    NX_PIN_CLASS(TNXFTUserControlSourcePin), NX_PIN_CLASS(TNXFTUserControlSinkPin),
    NX_PIN_CLASS(TNXFTUserControlMultiSinkPin),
};
#undef NX_PIN_CLASS

}  // namespace

std::span<const TFTFormatConverterClass> NXFTFormatConverterClasses() { return kConverterClasses; }

// ---------------------------------------------------------------- start-up

namespace NXStreamTypes {

void UnitInitialize() {
  if (!gStreamTypes) gStreamTypes = new TStreamTypeRegistry;
  for (const TGUID& id : kChannelHandlerIDs) FTRegisterDefaultHandler(id, &DefaultNXChannelNotificationHandler);
  NXFTRegisterStreamType(IFTGenericBufferStream::IID, 1, &NXFTCreateChannelContainer, &NXFTUpdateChannelContainer);
  NXFTRegisterStreamType(IFTBinaryBufferStream::IID, 1, &NXFTCreateChannelContainer, &NXFTUpdateChannelContainer);
  NXFTRegisterStreamType(IFTRealBufferStream::IID, 8, &NXFTCreateRealContainer, &NXFTUpdateChannelContainer);
  NXFTRegisterStreamType(IFTIntegerBufferStream::IID, 4, &NXFTCreateIntegerContainer, &NXFTUpdateChannelContainer);
  NXFTRegisterStreamType(IFTUnsignedBufferStream::IID, 4, &NXFTCreateUnsignedContainer, &NXFTUpdateChannelContainer);
  NXFTRegisterStreamType(IFTComplexBufferStream::IID, 16, &NXFTCreateComplexContainer, &NXFTUpdateChannelContainer);
  FTRegisterTypeConverters(kConverterClasses);
  for (auto classInfo : kPinClasses) NXFTRegisterClassDefaults(classInfo());
}

void UnitFinalize() {
  for (auto classInfo : kPinClasses) NXFTUnregisterClassDefaults(classInfo());
  FTUnregisterTypeConverters(kConverterClasses);
  for (const TGUID& id : kChannelHandlerIDs) FTUnregisterDefaultHandler(id);
  delete gStreamTypes;
  gStreamTypes = nullptr;
}

}  // namespace NXStreamTypes

}  // namespace nx

NX_PACKAGE_UNIT(NXStreamTypes, &nx::NXStreamTypes::UnitInitialize, &nx::NXStreamTypes::UnitFinalize)
