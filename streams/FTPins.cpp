// FTPins: pins, links, negotiation and delivery (design notes in FTPins.h).
#include "streams/FTPins.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "runtime/NXTrace.h"
#include "streams/NXFlowFigures.h"

namespace nx {

// ---------------------------------------------------------------- operations

bool TFTNotifyOperation::IsType(const TFTOperationClass& AClass) const noexcept {
  const TFTOperationClass* k = &ClassType();
  for (;;) {
    if (k == &AClass) return true;
    if (!k->Parent) return false;
    k = &k->Parent();
  }
}

void* TFTPumpRequestOperation::GetMaster() const {
  std::lock_guard guard(FLock);
  return FMaster;
}
std::uint32_t TFTPumpRequestOperation::GetPriority() const {
  std::lock_guard guard(FLock);
  return FPriority;
}
double TFTPumpRequestOperation::GetRate() const {
  std::lock_guard guard(FLock);
  return FRate;
}
void TFTPumpRequestOperation::SetRate(double ARate) {
  std::lock_guard guard(FLock);
  FRate = ARate;
}
bool TFTPumpRequestOperation::Claim(void* AMaster, std::uint32_t APriority) {
  std::lock_guard guard(FLock);
  if (APriority < FPriority) return false;
  FMaster = AMaster;
  FPriority = APriority;
  return true;
}

namespace {
std::atomic<std::uint32_t> gNextMasterPumpID{0};
}  // namespace

TIntfPtr<IFTNotifyOperation> TFTMasterPumpOperation::Make(void* AMaster) {
  return Make(AMaster, gNextMasterPumpID.fetch_add(1, std::memory_order_relaxed) + 1);
}

// ---------------------------------------------------------------- pin classes

std::vector<TGUID> TFTPinClass::DataTypes() const {
  std::vector<TGUID> ids;
  for (const TFTPinClass* k = this;; k = &k->Parent()) {
    for (const TFTPinAttribute& a : k->Attributes)
      if (a.Kind == TFTPinAttribute::akDataType && std::find(ids.begin(), ids.end(), a.ID) == ids.end())
        ids.push_back(a.ID);
    if (!k->Parent) break;
  }
  return ids;
}

bool TFTPinClass::IgnoreUpstream() const noexcept {
  for (const TFTPinClass* k = this;; k = &k->Parent()) {
    for (const TFTPinAttribute& a : k->Attributes)
      if (a.Kind == TFTPinAttribute::akIgnoreUpstream) return true;
    if (!k->Parent) return false;
  }
}

bool TFTPinClass::InheritsFrom(const TFTPinClass& AClass) const noexcept {
  for (const TFTPinClass* k = this;; k = &k->Parent()) {
    if (k == &AClass) return true;
    if (!k->Parent) return false;
  }
}

// ---------------------------------------------------------------- gate

void TFTPinGate::Close() noexcept {
  std::uint32_t v = FState.fetch_or(kClosed, std::memory_order_acq_rel) | kClosed;
  while ((v & ~kClosed) != 0) {
    FState.wait(v, std::memory_order_acquire);
    v = FState.load(std::memory_order_acquire);
  }
}

// ---------------------------------------------------------------- default handlers

namespace {

struct TDefaultHandlers {
  std::mutex Lock;
  std::vector<std::pair<TGUID, TFTBasicPinNotificationEvent>> Items;
};
// Made on first use and never freed: units register handlers in their
// start-up sections, which may run before or after this unit's static
// initialisers, and unregister them in finalization sections.
TDefaultHandlers& DefaultHandlers() {
  static TDefaultHandlers* handlers = new TDefaultHandlers;
  return *handlers;
}

// The plain stream object of a pin.
class TFTPinStream final : public TInterfacedObject, public virtual IFTStream {
  NX_INTERFACES(TInterfacedObject, IFTStream)

 public:
  explicit TFTPinStream(TFTBasicPin* APin) noexcept : FPin(APin) {}
  TFTBasicPin* GetPin() noexcept override { return FPin; }

 private:
  TFTBasicPin* FPin;
};

// The process-wide section every link change runs under. Recursive: a
// connection's notifications may link or unlink further pins.
std::recursive_mutex& LinkSection() {
  static std::recursive_mutex* section = new std::recursive_mutex;  // never freed, like the registries
  return *section;
}

}  // namespace

void FTRegisterDefaultHandler(const TGUID& AID, TFTBasicPinNotificationEvent AHandler) {
  if (!AHandler) {
    FTUnregisterDefaultHandler(AID);
    return;
  }
  TDefaultHandlers& h = DefaultHandlers();
  std::lock_guard guard(h.Lock);
  for (auto& item : h.Items)
    if (item.first == AID) {
      item.second = std::move(AHandler);
      return;
    }
  h.Items.emplace_back(AID, std::move(AHandler));
}

void FTUnregisterDefaultHandler(const TGUID& AID) {
  TDefaultHandlers& h = DefaultHandlers();
  std::lock_guard guard(h.Lock);
  std::erase_if(h.Items, [&](const auto& item) { return item.first == AID; });
}

TFTBasicPinNotificationEvent FTGetDefaultHandler(const TGUID& AID) {
  TDefaultHandlers& h = DefaultHandlers();
  std::lock_guard guard(h.Lock);
  for (const auto& item : h.Items)
    if (item.first == AID) return item.second;
  return {};
}

// ---------------------------------------------------------------- basic pin

const TFTPinClass& TFTBasicPin::ClassInfo() noexcept {
  static constexpr TFTPinClass kClass{"TFTBasicPin", nullptr, {}};
  return kClass;
}

TFTBasicPin::TFTBasicPin(bool AIsSource, std::string AName)
    : FIsSource(AIsSource), FName(std::move(AName)), FStream(new TFTPinStream(this)), FGate(new TFTPinGate) {}

TFTBasicPin::~TFTBasicPin() { Close(); }

void TFTBasicPin::AddType(const TGUID& AID, TFTBasicPinNotificationEvent AHandler) {
  std::lock_guard guard(LinkSection());
  for (TTypeBinding& b : FTypes)
    if (b.ID == AID) {
      b.Handler = std::move(AHandler);
      return;
    }
  FTypes.push_back({AID, std::move(AHandler)});
}

void TFTBasicPin::PopulateTypes(TFTBasicPinNotificationEvent AHandler) {
  std::lock_guard guard(LinkSection());
  FPopulated = std::move(AHandler);
  FPopulatedSet = true;
}

void TFTBasicPin::ClearTypes() {
  std::lock_guard guard(LinkSection());
  FTypes.clear();
  FPopulated = nullptr;
  FPopulatedSet = false;
}

std::vector<TGUID> TFTBasicPin::GetTypes() const {
  std::lock_guard guard(LinkSection());
  std::vector<TGUID> ids;
  ids.reserve(FTypes.size());
  for (const TTypeBinding& b : FTypes) ids.push_back(b.ID);
  if (FPopulatedSet)
    for (const TGUID& id : PinClass().DataTypes())
      if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
  return ids;
}

bool TFTBasicPin::AcceptsType(const TGUID& AID) const {
  const std::vector<TGUID> ids = GetTypes();
  return std::find(ids.begin(), ids.end(), AID) != ids.end();
}

TFTBasicPinNotificationEvent TFTBasicPin::HandlerFor(const TGUID& AID) const {
  std::lock_guard guard(LinkSection());
  for (const TTypeBinding& b : FTypes)
    if (b.ID == AID) return b.Handler ? b.Handler : FTGetDefaultHandler(AID);
  if (FPopulatedSet) {
    const std::vector<TGUID> ids = PinClass().DataTypes();
    if (std::find(ids.begin(), ids.end(), AID) != ids.end()) return FPopulated ? FPopulated : FTGetDefaultHandler(AID);
  }
  return {};
}

void TFTBasicPin::SetStream(TIntfPtr<IFTStream> AStream) {
  NX_ASSERT_MSG(AStream, "a pin needs a stream object");
  std::lock_guard guard(LinkSection());
  FStream = std::move(AStream);
}

bool TFTBasicPin::QueryInterface(const TGUID& AIID, TIntfPtr<IInterface>& AObj) const noexcept {
  IInterface* stream = FStream.Get();
  if (!Supports(stream, AIID)) {
    AObj = nullptr;
    return false;
  }
  AObj = TIntfPtr<IInterface>(stream);
  return true;
}

TFTLinkSnapshot TFTBasicPin::GetLinks() const noexcept {
  std::lock_guard guard(FLinksLock);
  return FLinks;
}

void TFTBasicPin::SetLinks(std::vector<TFTLink> ALinks) {
  TFTLinkSnapshot next =
      ALinks.empty() ? nullptr : std::make_shared<const std::vector<TFTLink>>(std::move(ALinks));
  {
    std::lock_guard guard(FLinksLock);
    FLinks.swap(next);
    FLinkCount.store(FLinks ? static_cast<std::int32_t>(FLinks->size()) : 0, std::memory_order_release);
  }
  // The old snapshot goes here, outside the lock (it may free a converter).
}

bool TFTBasicPin::IsConnected() const noexcept { return FLinkCount.load(std::memory_order_acquire) > 0; }

std::int32_t TFTBasicPin::ConnectedCount() const noexcept { return FLinkCount.load(std::memory_order_acquire); }

bool TFTBasicPin::IsConnectedTo(const TFTBasicPin* APin) const noexcept {
  const TFTLinkSnapshot links = GetLinks();
  if (links)
    for (const TFTLink& l : *links)
      if (l.Peer == APin) return true;
  return false;
}

bool TFTBasicPin::IsConnectedByIDs(std::span<const TGUID> AIDs) const noexcept {
  const TFTLinkSnapshot links = GetLinks();
  if (links)
    for (const TFTLink& l : *links)
      if (std::find(AIDs.begin(), AIDs.end(), l.ID) != AIDs.end()) return true;
  return false;
}

std::vector<TFTBasicPin*> TFTBasicPin::GetConnectedPins() const {
  std::vector<TFTBasicPin*> pins;
  if (const TFTLinkSnapshot links = GetLinks())
    for (const TFTLink& l : *links) pins.push_back(l.Peer);
  return pins;
}

std::vector<TGUID> TFTBasicPin::GetConnectedIDs() const {
  std::vector<TGUID> ids;
  if (const TFTLinkSnapshot links = GetLinks())
    for (const TFTLink& l : *links) ids.push_back(l.ID);
  return ids;
}

bool TFTBasicPin::Disconnect(TFTBasicPin* APin) {
  NX_ASSERT_MSG(APin, "no pin to disconnect");
  return TFTLinker::Disconnect(*this, *APin);
}

void TFTBasicPin::DisconnectAll() { TFTLinker::DisconnectAll(*this); }

void TFTBasicPin::Close() {
  // A pin that could still be linked marks itself under the link section, so
  // that no link is made to it between the unlinking and the closing of the
  // gate. A converter's pin is only ever linked by its converter's link and is
  // unlinked with it: when it goes (freed by whichever thread lets go of the
  // converter last, perhaps a sender) it takes no section.
  const bool unlinkedConverterPin = FConverterPin.load(std::memory_order_acquire) && !IsConnected();
  if (!unlinkedConverterPin && (IsConnected() || !FClosing.load(std::memory_order_acquire))) {
    std::lock_guard guard(LinkSection());
    FClosing.store(true, std::memory_order_release);
    TFTLinker::DisconnectAll(*this);
  }
  // Outside the section: a handler still running inside the pin may link.
  FGate->Close();
}

bool TFTBasicPin::NotifyLink(const TFTLink& ALink, const TIntfPtr<IFTNotifyOperation>& AOperation,
                             TFTNotifyState AState) {
  if (!ALink.Handler) return false;
  if (AState.Contains(nsUpstream) && ALink.TargetIgnoresUpstream) return false;
  const auto deliver = [&] {
    return ALink.Gate->Deliver(
        [&] { return ALink.Handler(ALink.Other, ALink.Stream.Get(), ALink.ID, AOperation, AState); });
  };
  // The figures and the timeline see sink-ward deliveries only; both cost a
  // relaxed load each when nobody watches.
  if (!FIsSource || AState.Contains(nsUpstream) || (!figures::Enabled() && !trace::Recording())) return deliver();
  figures::CountDelivery(this, ALink.Peer, AOperation.Get());
  trace::TSpan span("send", [&] { return FName + " -> " + (ALink.Peer ? ALink.Peer->GetName() : std::string()); });
  return deliver();
}

bool TFTBasicPin::NotifyLinks(const std::vector<TFTLink>& ALinks, const TIntfPtr<IFTNotifyOperation>& AOperation,
                              TFTNotifyState AState) {
  bool handled = false;
  for (const TFTLink& l : ALinks)
    if (NotifyLink(l, AOperation, AState)) handled = true;
  return handled;
}

bool TFTBasicPin::Notify(const TIntfPtr<IFTNotifyOperation>& AOperation) {
  const TFTLinkSnapshot links = GetLinks();
  return links && NotifyLinks(*links, AOperation, NotifyStateFor(*links));
}

bool TFTBasicPin::NotifyShared(const TIntfPtr<IFTNotifyOperation>& AOperation) {
  const TFTLinkSnapshot links = GetLinks();
  return links && NotifyLinks(*links, AOperation, SendState());
}

bool TFTBasicPin::NotifyPin(TFTBasicPin* APin, const TIntfPtr<IFTNotifyOperation>& AOperation) {
  const TFTLinkSnapshot links = GetLinks();
  if (links)
    for (const TFTLink& l : *links)
      if (l.Peer == APin) return NotifyLink(l, AOperation, SendState());
  return false;
}

// ---------------------------------------------------------------- linker

namespace {

// The identifier a source and a sink agree on, or an empty one.
TGUID Negotiate(const TFTSourcePin& ASource, const TFTSinkPin& ASink) {
  const std::vector<TGUID> sourceTypes = ASource.LinkTypes(ASink);
  std::vector<TGUID> common;
  for (const TGUID& id : ASink.LinkTypes(ASource))
    if (std::find(sourceTypes.begin(), sourceTypes.end(), id) != sourceTypes.end()) common.push_back(id);
  if (common.empty()) return {};
  const TGUID chosen = ASink.SelectStreamID(ASource, common);
  NX_ASSERT_MSG(std::find(common.begin(), common.end(), chosen) != common.end(),
                "the chosen stream identifier is not shared by both pins");
  return chosen;
}

}  // namespace

TFTLink TFTLinker::MakeLink(TFTBasicPin& ATarget, const TGUID& AID, TFTBasicPin* AOther, TFTBasicPin* APeer,
                             const TGUID& APeerID, const TIntfPtr<TFTFormatConverter>& AConverter) {
  TFTLink l;
  l.Target = &ATarget;
  l.Gate = ATarget.FGate;
  l.Stream = ATarget.FStream;
  l.Handler = ATarget.HandlerFor(AID);
  l.ID = AID;
  l.Other = AOther;
  l.Peer = APeer;
  l.PeerID = APeerID;
  l.Converter = AConverter;
  l.TargetIgnoresUpstream = ATarget.IgnoresUpstream();
  return l;
}

std::vector<TFTLink> TFTLinker::WithLink(const TFTBasicPin& APin, TFTLink ALink) {
  std::vector<TFTLink> links;
  if (const TFTLinkSnapshot current = APin.GetLinks()) links = *current;
  links.push_back(std::move(ALink));
  return links;
}

namespace {
std::atomic<const TFTConverterLookup*> gConverterLookup{nullptr};

bool HasConverter(const std::vector<TGUID>& ASourceTypes, const std::vector<TGUID>& ASinkTypes) {
  const TFTConverterLookup* lookup = gConverterLookup.load(std::memory_order_acquire);
  return lookup && lookup->Has(ASourceTypes, ASinkTypes);
}

TIntfPtr<TFTFormatConverter> CreateConverter(const std::vector<TGUID>& ASourceTypes,
                                             const std::vector<TGUID>& ASinkTypes) {
  const TFTConverterLookup* lookup = gConverterLookup.load(std::memory_order_acquire);
  return lookup ? lookup->Create(ASourceTypes, ASinkTypes) : TIntfPtr<TFTFormatConverter>();
}
}  // namespace

void FTSetConverterLookup(const TFTConverterLookup* ALookup) noexcept {
  gConverterLookup.store(ALookup, std::memory_order_release);
}

bool TFTLinker::CanConnect(TFTSourcePin& ASource, TFTSinkPin& ASink) {
  std::lock_guard guard(LinkSection());
  if (ASource.IsClosed() || ASink.IsClosed()) return false;
  if (ASource.IsConnectedTo(&ASink)) return true;
  if (!Negotiate(ASource, ASink).IsEmpty()) return true;
  return HasConverter(ASource.LinkTypes(ASink), ASink.LinkTypes(ASource));
}

bool TFTLinker::Connect(TFTSourcePin& ASource, TFTSinkPin& ASink) {
  std::lock_guard guard(LinkSection());
  if (ASource.IsClosed() || ASink.IsClosed()) return false;
  if (ASource.IsConnectedTo(&ASink)) return true;

  const TGUID direct = Negotiate(ASource, ASink);
  TIntfPtr<TFTFormatConverter> converter;
  TGUID inID, outID;
  if (direct.IsEmpty()) {
    converter = CreateConverter(ASource.LinkTypes(ASink), ASink.LinkTypes(ASource));
    if (!converter) return false;
    inID = Negotiate(ASource, converter->GetSinkPin());
    outID = Negotiate(converter->GetSourcePin(), ASink);
    NX_ASSERT_MSG(!inID.IsEmpty() && !outID.IsEmpty(), "the converter does not fit the pins it was chosen for");
  }

  // A pin with a link limit gives up its oldest links first.
  for (TFTBasicPin* pin : {static_cast<TFTBasicPin*>(&ASource), static_cast<TFTBasicPin*>(&ASink)})
    while (pin->MaxLinks() > 0 && pin->ConnectedCount() >= pin->MaxLinks())
      Disconnect(*pin, *pin->GetLinks()->front().Peer);

  if (!converter) {
    ASource.SetLinks(WithLink(ASource, MakeLink(ASink, direct, &ASource, &ASink, direct, nullptr)));
    ASink.SetLinks(WithLink(ASink, MakeLink(ASource, direct, &ASink, &ASource, direct, nullptr)));
  } else {
    TFTSinkPin& cs = converter->GetSinkPin();
    TFTSourcePin& co = converter->GetSourcePin();
    cs.FConverterPin.store(true, std::memory_order_release);
    co.FConverterPin.store(true, std::memory_order_release);
    // The converter's pins pass the far pins on as the "other pin", so a
    // receiver sees the component it is linked to, not the converter.
    cs.SetLinks({MakeLink(ASource, inID, &ASink, &ASource, inID, nullptr)});
    co.SetLinks({MakeLink(ASink, outID, &ASource, &ASink, outID, nullptr)});
    ASource.SetLinks(WithLink(ASource, MakeLink(cs, inID, &ASource, &ASink, outID, converter)));
    ASink.SetLinks(WithLink(ASink, MakeLink(co, outID, &ASink, &ASource, inID, converter)));
  }
  static_cast<TFTBasicPin&>(ASource).DoConnected(&ASink);
  static_cast<TFTBasicPin&>(ASink).DoConnected(&ASource);
  return true;
}

bool TFTLinker::Disconnect(TFTBasicPin& AFrom, TFTBasicPin& ATo) {
  std::lock_guard guard(LinkSection());
  if (!AFrom.IsConnectedTo(&ATo)) return false;
  TFTBasicPin& source = AFrom.IsSourcePin() ? AFrom : ATo;
  TFTBasicPin& sink = AFrom.IsSourcePin() ? ATo : AFrom;
  // The hooks run while the link still stands, so that they can still send over it.
  source.DoDisconnecting(&sink);
  sink.DoDisconnecting(&source);
  if (!AFrom.IsConnectedTo(&ATo)) return true;  // a hook removed it already

  TIntfPtr<TFTFormatConverter> converter;  // kept until both ends have let go of it
  auto without = [&](TFTBasicPin& APin, TFTBasicPin* APeer) {
    std::vector<TFTLink> links;
    if (const TFTLinkSnapshot current = APin.GetLinks())
      for (const TFTLink& l : *current) {
        if (l.Peer == APeer) {
          if (l.Converter) converter = l.Converter;
          continue;
        }
        links.push_back(l);
      }
    return links;
  };
  std::vector<TFTLink> sourceLinks = without(source, &sink), sinkLinks = without(sink, &source);
  if (converter) {
    converter->GetSinkPin().SetLinks({});
    converter->GetSourcePin().SetLinks({});
  }
  source.SetLinks(std::move(sourceLinks));
  sink.SetLinks(std::move(sinkLinks));
  return true;
}

void TFTLinker::DisconnectAll(TFTBasicPin& APin) {
  std::lock_guard guard(LinkSection());
  while (const TFTLinkSnapshot links = APin.GetLinks()) Disconnect(APin, *links->front().Peer);
}

// ---------------------------------------------------------------- pin classes

bool TFTSourcePin::Connect(TFTSinkPin* ASink) {
  NX_ASSERT_MSG(ASink, "no pin to connect");
  return TFTLinker::Connect(*this, *ASink);
}

bool TFTSinkPin::Connect(TFTSourcePin* ASource) {
  NX_ASSERT_MSG(ASource, "no pin to connect");
  return TFTLinker::Connect(*ASource, *this);
}

TGUID TFTSinkPin::GetConnectedID() const noexcept {
  const TFTLinkSnapshot links = GetLinks();
  return links ? links->front().PeerID : TGUID{};
}

TGUID TFTSinkPin::GetDownStreamID() const noexcept {
  const TFTLinkSnapshot links = GetLinks();
  return links ? links->front().ID : TGUID{};
}

TFTDispatchSourcePin::TFTDispatchSourcePin(std::string AName, TFTBasicPinNotificationEvent AHandler)
    : TFTSourcePin(std::move(AName)) {
  PopulateTypes(std::move(AHandler));
}

TFTDispatchSinkPin::TFTDispatchSinkPin(std::string AName, TFTBasicPinNotificationEvent AHandler)
    : TFTSinkPin(std::move(AName)) {
  PopulateTypes(std::move(AHandler));
}

TFTDispatchMultiSinkPin::TFTDispatchMultiSinkPin(std::string AName, TFTBasicPinNotificationEvent AHandler)
    : TFTMultiSinkPin(std::move(AName)) {
  PopulateTypes(std::move(AHandler));
}

bool TFTClockSourcePin::Clock(std::uint32_t AClockCount) { return Notify(TFTClockOperation::Make(AClockCount)); }

TFTStdSinkPin::TFTStdSinkPin(std::string AName, std::initializer_list<TGUID> ATypes,
                             TFTBasicPinNotificationEvent AHandler)
    : TFTDispatchSinkPin(std::move(AName)) {
  for (const TGUID& id : ATypes) AddType(id, AHandler);
}

TFTStatePin::~TFTStatePin() { Close(); }

bool TFTStatePin::SetValue(const TIntfPtr<IFTNotifyOperation>& AValue) {
  {
    std::lock_guard guard(FValueLock);
    FValue = AValue;
  }
  // Shared: the value stays held here and goes to later sinks too.
  return AValue ? NotifyShared(AValue) : false;
}

TIntfPtr<IFTNotifyOperation> TFTStatePin::GetValue() const {
  std::lock_guard guard(FValueLock);
  return FValue;
}

void TFTStatePin::DoConnected(TFTBasicPin* APeer) {
  if (const TIntfPtr<IFTNotifyOperation> value = GetValue()) NotifyPin(APeer, value);
}

// ---------------------------------------------------------------- pin list

std::int32_t TFTPinList::Add(TFTBasicPin* APin) {
  NX_ASSERT_MSG(APin, "no pin to add");
  const std::int32_t index = IndexOf(APin);
  if (index >= 0) return index;
  FItems.push_back(APin);
  return Count() - 1;
}

std::int32_t TFTPinList::Remove(TFTBasicPin* APin) {
  const std::int32_t index = IndexOf(APin);
  if (index >= 0) FItems.erase(FItems.begin() + index);
  return index;
}

std::int32_t TFTPinList::IndexOf(const TFTBasicPin* APin) const noexcept {
  const auto it = std::find(FItems.begin(), FItems.end(), APin);
  return it == FItems.end() ? -1 : static_cast<std::int32_t>(it - FItems.begin());
}

TFTBasicPin* TFTPinList::GetItem(std::int32_t AIndex) const {
  if (AIndex < 0 || AIndex >= Count()) RaiseIndexOutOfRange(AIndex);
  return FItems[static_cast<std::size_t>(AIndex)];
}

}  // namespace nx
