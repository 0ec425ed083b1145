// FTPins: the pin framework. Components exchange operations through pins: a
// source pin is linked to any number of sink pins, and everything a pin sends
// (Notify) is delivered synchronously, on the sender's thread, to a handler
// of each receiving pin; the handler's Boolean result travels back unchanged.
//
// Design
// ------
// Stream types. Each kind of data on a link is named by an interface
// identifier (a TGUID). A pin binds identifiers to handlers: AddType binds one
// explicitly; PopulateTypes binds every identifier that the pin's class names
// by data-type attributes (NX_FT_PIN_CLASS), so that a subclass adds types by
// declaring attributes alone. The attribute lists are class-level constants
// read when the pin is linked (not in the constructor, where a C++ base class
// cannot see its subclass): PopulateTypes only records the handler. A type
// bound with an empty handler is left to the default handler registered for
// its identifier (FTRegisterDefaultHandler).
//
// Negotiation. Linking a source to a sink picks one identifier for the link:
// the first identifier of the sink's list that the source also accepts (a
// sink pin may override SelectStreamID). Lists are ordered explicit types
// first, then attribute types of the most-derived class first, so the most
// specific kinds win over the generic ones of a base class. When the two pins
// share no identifier, the first registered format converter
// (Flowtie.TypeConverters) whose sink side accepts a type of the source and
// whose source side sends a type of the sink is created for this link and
// sits between them: source -> converter sink pin ... converter source pin ->
// sink. When nothing fits, Connect returns false and nothing changes.
//
// Links. Each pin keeps its links in an immutable, reference-counted snapshot
// (a vector of link records). A link change builds new snapshots for both
// pins and swaps them in under the pin's snapshot lock; a sender copies the
// snapshot pointer under that same lock (a few nanoseconds, never waiting for
// a link change in progress) and delivers over its copy. A sink that stays
// linked is therefore in every snapshot a sender can see: it receives each
// operation exactly once, whatever links change meanwhile. All link changes
// run one at a time under one process-wide recursive section, so both ends of
// a link always change together; the connect and disconnect hooks run inside
// it (a hook may link or send; senders never take it).
//
// Lifetime. A link record names its receiving pin and holds a counted
// reference to that pin's gate. Every delivery enters the gate, which fails
// once the pin is closed; Close (called by the pin's destructor, and by a
// subclass destructor whose handlers use its own members) unlinks the pin and
// then waits until no delivery is inside it. So a sender holding an old
// snapshot never reaches a freed pin: it gets false instead. A pin must not be
// destroyed from inside one of its own handlers, nor by a thread that holds a
// lock that a running handler of the pin waits for.
//
// Direction. A source pin's Notify travels downstream; a sink pin's Notify
// travels upstream and carries nsUpstream in the notify state. A pin whose
// class carries FTIgnoreUpstreamAttribute is never handed an operation
// travelling upstream (the sender gets false). A downstream Notify over
// exactly one link also carries nsExclusive: the receiver is the only one to
// get the operation, and may write the data it carries in place (the sender
// hands the data over and must not use it afterwards).
//
// Results. Notify over several links delivers to every link in link order and
// returns true when at least one handler returned true.
#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "runtime/SysUtils.h"
#include "runtime/Zandor.Function.h"
#include "runtime/Zandor.Interfaces.h"
#include "runtime/Zandor.Mutex.h"

namespace nx {

class TFTBasicPin;
class TFTSourcePin;
class TFTSinkPin;
class TFTNotifyOperation;
class TFTFormatConverter;

// ---------------------------------------------------------------- notify state

enum TFTNotifyStateFlag : std::uint8_t {
  nsUpstream = 0,   // travelling from a sink towards its source
  nsExclusive = 1,  // delivered to a single receiver, which may write its data in place
};

// A set of TFTNotifyStateFlag.
class TFTNotifyState {
 public:
  constexpr TFTNotifyState() noexcept = default;
  constexpr TFTNotifyState(std::initializer_list<TFTNotifyStateFlag> AFlags) noexcept {
    for (TFTNotifyStateFlag f : AFlags) FBits = static_cast<std::uint8_t>(FBits | Bit(f));
  }
  constexpr bool Contains(TFTNotifyStateFlag AFlag) const noexcept { return (FBits & Bit(AFlag)) != 0; }
  constexpr TFTNotifyState With(TFTNotifyStateFlag AFlag) const noexcept {
    TFTNotifyState s = *this;
    s.FBits = static_cast<std::uint8_t>(s.FBits | Bit(AFlag));
    return s;
  }
  constexpr TFTNotifyState Without(TFTNotifyStateFlag AFlag) const noexcept {
    TFTNotifyState s = *this;
    s.FBits = static_cast<std::uint8_t>(s.FBits & ~Bit(AFlag));
    return s;
  }
  constexpr bool Empty() const noexcept { return FBits == 0; }
  friend constexpr bool operator==(TFTNotifyState, TFTNotifyState) = default;

 private:
  static constexpr std::uint8_t Bit(TFTNotifyStateFlag f) noexcept { return static_cast<std::uint8_t>(1u << f); }
  std::uint8_t FBits = 0;
};

// ---------------------------------------------------------------- operations

// The class of an operation: a name and the parent class. IsType walks this
// chain, which costs a few pointer compares instead of a dynamic_cast.
struct TFTOperationClass {
  const char* Name;
  const TFTOperationClass& (*Parent)() noexcept;  // null for the root
};

struct IFTNotifyOperation : virtual IInterface {
  NX_INTERFACE_ID(IFTNotifyOperation, "{1CDB6493-A070-467E-BBE4-2A8F543DB0A4}");
  // True when the operation is of class AClass or of a class derived from it.
  virtual bool IsType(const TFTOperationClass& AClass) const noexcept = 0;
  // The implementing object, whose typed fields the receiver then reads.
  virtual TFTNotifyOperation* GetInstance() noexcept = 0;

  template <class T>
  bool IsType() const noexcept {
    return IsType(T::ClassInfo());
  }
  // The operation as class T, or null when it is not of that class.
  template <class T>
  T* As() noexcept;
};

// Declares the class of an operation, first in its class body. Every
// operation class declares itself, or IsType would take it for its parent.
#define NX_FT_OPERATION_NAMED(Self, Base, NameText)                                                    \
 public:                                                                                            \
  static const ::nx::TFTOperationClass& ClassInfo() noexcept {                                      \
    static constexpr ::nx::TFTOperationClass kClass{NameText, &Base::ClassInfo};                    \
    return kClass;                                                                                  \
  }                                                                                                 \
  const ::nx::TFTOperationClass& ClassType() const noexcept override { return ClassInfo(); }        \
                                                                                                    \
 private:
#define NX_FT_OPERATION(Self, Base) NX_FT_OPERATION_NAMED(Self, Base, #Self)
// The same for an operation without fields, with its Make.
#define NX_FT_SIMPLE_OPERATION(Self, Base)                                                           \
  NX_FT_OPERATION(Self, Base)                                                                       \
 public:                                                                                            \
  static ::nx::TIntfPtr<::nx::IFTNotifyOperation> Make() {                                          \
    return ::nx::TIntfPtr<::nx::IFTNotifyOperation>(new Self());                                     \
  }                                                                                                 \
                                                                                                    \
 private:

// The base of every operation. Operations are built once, shared by
// reference and never changed after Make (the pump request is the one
// exception: a downstream component answers it in place).
class TFTNotifyOperation : public TInterfacedObject, public virtual IFTNotifyOperation {
  NX_INTERFACES(TInterfacedObject, IFTNotifyOperation)

 public:
  TFTNotifyOperation() = default;

  static const TFTOperationClass& ClassInfo() noexcept {
    static constexpr TFTOperationClass kClass{"TFTNotifyOperation", nullptr};
    return kClass;
  }
  virtual const TFTOperationClass& ClassType() const noexcept { return ClassInfo(); }
  const char* ClassName() const noexcept { return ClassType().Name; }

  bool IsType(const TFTOperationClass& AClass) const noexcept final;
  using IFTNotifyOperation::IsType;
  TFTNotifyOperation* GetInstance() noexcept final { return this; }

  // A field-less operation of this class.
  static TIntfPtr<IFTNotifyOperation> Make() { return TIntfPtr<IFTNotifyOperation>(new TFTNotifyOperation()); }
};

template <class T>
T* IFTNotifyOperation::As() noexcept {
  return IsType<T>() ? static_cast<T*>(GetInstance()) : nullptr;
}

// Builds an operation of class T from its constructor's arguments.
template <class T, class... A>
TIntfPtr<IFTNotifyOperation> FTMakeOperation(A&&... AArgs) {
  return TIntfPtr<IFTNotifyOperation>(new T(std::forward<A>(AArgs)...));
}

// A stream starts.
class TFTStartOperation : public TFTNotifyOperation {
  NX_FT_SIMPLE_OPERATION(TFTStartOperation, TFTNotifyOperation)
};

// A stream starts at a rate (items per second).
class TFTStartRateOperation : public TFTStartOperation {
  NX_FT_OPERATION(TFTStartRateOperation, TFTStartOperation)

 public:
  explicit TFTStartRateOperation(double ARate) noexcept : FRate(ARate) {}
  static TIntfPtr<IFTNotifyOperation> Make(double ARate) { return FTMakeOperation<TFTStartRateOperation>(ARate); }
  double GetRate() const noexcept { return FRate; }

 private:
  double FRate;
};

// The stream stops.
class TFTStopOperation : public TFTNotifyOperation {
  NX_FT_SIMPLE_OPERATION(TFTStopOperation, TFTNotifyOperation)
};
// The stream stops at its end. A kind of stop: receivers that stop on a stop
// operation stop on this one too.
class TFTEndStopOperation : public TFTStopOperation {
  NX_FT_SIMPLE_OPERATION(TFTEndStopOperation, TFTStopOperation)
};
// A file source reached its end without stopping the stream (not a stop).
class TFTFileEndNoStopOperation : public TFTNotifyOperation {
  NX_FT_SIMPLE_OPERATION(TFTFileEndNoStopOperation, TFTNotifyOperation)
};

// An operation that counts as clock ticks: ClockCount ticks.
class TFTClockOperation : public TFTNotifyOperation {
  NX_FT_OPERATION(TFTClockOperation, TFTNotifyOperation)

 public:
  explicit TFTClockOperation(std::uint32_t AClockCount) noexcept : FClockCount(AClockCount) {}
  static TIntfPtr<IFTNotifyOperation> Make(std::uint32_t AClockCount) {
    return FTMakeOperation<TFTClockOperation>(AClockCount);
  }
  std::uint32_t GetClockCount() const noexcept { return FClockCount; }

 private:
  std::uint32_t FClockCount;
};

// Pump negotiation. A generator sends a pump request downstream naming itself
// as master; a downstream component that wants to pace the stream answers by
// claiming the request (naming itself) and may adjust the rate. The master is
// only an identity (the pacing component's address). The fields change in
// place under the operation's own lock, since the request is answered on the
// way down.
class TFTPumpRequestOperation : public TFTNotifyOperation {
  NX_FT_OPERATION(TFTPumpRequestOperation, TFTNotifyOperation)

 public:
  // AMode is carried unchanged for the receivers (generators send 2).
  TFTPumpRequestOperation(void* AMaster, std::uint32_t APriority, std::int32_t AMode, double ARate) noexcept
      : FMaster(AMaster), FPriority(APriority), FMode(AMode), FRate(ARate) {}
  static TIntfPtr<IFTNotifyOperation> Make(void* AMaster, std::uint32_t APriority, std::int32_t AMode, double ARate) {
    return FTMakeOperation<TFTPumpRequestOperation>(AMaster, APriority, AMode, ARate);
  }
  void* GetMaster() const;
  std::uint32_t GetPriority() const;
  std::int32_t GetMode() const noexcept { return FMode; }
  double GetRate() const;
  void SetRate(double ARate);
  // Names AMaster as the master when APriority is at least the priority of
  // the current master; returns whether it did.
  bool Claim(void* AMaster, std::uint32_t APriority);

 private:
  mutable std::mutex FLock;
  void* FMaster;
  std::uint32_t FPriority;
  const std::int32_t FMode;
  double FRate;
};

// The master paces one buffer. Each operation carries an identifier of its
// own, so that a receiver reached over several paths can produce one buffer.
class TFTMasterPumpOperation : public TFTNotifyOperation {
  NX_FT_OPERATION(TFTMasterPumpOperation, TFTNotifyOperation)

 public:
  TFTMasterPumpOperation(void* AMaster, std::uint32_t AOperationID) noexcept
      : FMaster(AMaster), FOperationID(AOperationID) {}
  // A new identifier from a process-wide counter.
  static TIntfPtr<IFTNotifyOperation> Make(void* AMaster);
  static TIntfPtr<IFTNotifyOperation> Make(void* AMaster, std::uint32_t AOperationID) {
    return FTMakeOperation<TFTMasterPumpOperation>(AMaster, AOperationID);
  }
  void* GetMaster() const noexcept { return FMaster; }
  std::uint32_t GetOperationID() const noexcept { return FOperationID; }

 private:
  void* FMaster;
  std::uint32_t FOperationID;
};

// A clock input tells its clock whether it needs ticks.
class TFTClockNeededOperation : public TFTNotifyOperation {
  NX_FT_OPERATION(TFTClockNeededOperation, TFTNotifyOperation)

 public:
  explicit TFTClockNeededOperation(bool ANeeded) noexcept : FNeeded(ANeeded) {}
  static TIntfPtr<IFTNotifyOperation> Make(bool ANeeded) { return FTMakeOperation<TFTClockNeededOperation>(ANeeded); }
  bool GetNeeded() const noexcept { return FNeeded; }

 private:
  bool FNeeded;
};

// A generator that is paced by a master announces the master downstream.
class TFTStartPumpOperation : public TFTNotifyOperation {
  NX_FT_OPERATION(TFTStartPumpOperation, TFTNotifyOperation)

 public:
  explicit TFTStartPumpOperation(void* AMaster) noexcept : FMaster(AMaster) {}
  static TIntfPtr<IFTNotifyOperation> Make(void* AMaster) { return FTMakeOperation<TFTStartPumpOperation>(AMaster); }
  void* GetMaster() const noexcept { return FMaster; }

 private:
  void* FMaster;
};

// A receiver asks upstream whether a stream is coming; a source without one
// answers with an ignore-stream operation downstream.
class TFTQueryStreamOperation : public TFTNotifyOperation {
  NX_FT_SIMPLE_OPERATION(TFTQueryStreamOperation, TFTNotifyOperation)
};
class TFTIgnoreStreamOperation : public TFTNotifyOperation {
  NX_FT_SIMPLE_OPERATION(TFTIgnoreStreamOperation, TFTNotifyOperation)
};

// ---------------------------------------------------------------- streams

// The stream object of a receiving pin, handed to its handlers. The base
// object only names its pin; a pin may install an object that also answers
// for stream interfaces of its own (a component's dispatch interface, typed
// stream interfaces) before it is linked.
struct IFTStream : virtual IInterface {
  NX_INTERFACE_ID(IFTStream, "{22A889F8-A1C5-4D0E-AAE5-3F834ED0B99E}");
  virtual TFTBasicPin* GetPin() noexcept = 0;
};

// The clock stream: clock operations from a clock source to clock inputs.
struct IFTClockStream : virtual IFTStream {
  NX_INTERFACE_ID(IFTClockStream, "{48CDAF9F-00C7-4B45-999D-4EE25353A952}");
};

// The handler of a stream identifier: (other pin, the receiving pin's stream,
// the link's identifier, the operation, the state) -> handled.
using TFTBasicPinNotificationEvent =
    std::function<bool(TFTBasicPin* AOtherPin, IFTStream* AStream, const TGUID& AStreamID,
                       const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState)>;

// A handler that calls a member function of an object.
template <class C>
TFTBasicPinNotificationEvent FTMethod(C* AObject,
                                      bool (C::*AMethod)(TFTBasicPin*, IFTStream*, const TGUID&,
                                                         const TIntfPtr<IFTNotifyOperation>&, TFTNotifyState)) {
  return [AObject, AMethod](TFTBasicPin* p, IFTStream* s, const TGUID& id, const TIntfPtr<IFTNotifyOperation>& op,
                            TFTNotifyState st) { return (AObject->*AMethod)(p, s, id, op, st); };
}

// The base of link format converters (Flowtie.TypeConverters): an object
// with an internal sink pin that receives the source's kind and an internal
// source pin that sends the sink's kind. One is made for each link it
// bridges and lives as long as that link.
class TFTFormatConverter : public TInterfacedObject {
 public:
  virtual TFTSinkPin& GetSinkPin() noexcept = 0;
  virtual TFTSourcePin& GetSourcePin() noexcept = 0;
};

// The converter look-up that linking consults when two pins share no stream
// type. The converter registry (Flowtie.TypeConverters) installs it when its
// first classes are registered at start-up; the pins only call it, so the
// pin framework does not depend on the registry. Without a look-up such pins
// do not link.
struct TFTConverterLookup {
  bool (*Has)(const std::vector<TGUID>& ASourceTypes, const std::vector<TGUID>& ASinkTypes);
  TIntfPtr<TFTFormatConverter> (*Create)(const std::vector<TGUID>& ASourceTypes,
                                         const std::vector<TGUID>& ASinkTypes);
};
void FTSetConverterLookup(const TFTConverterLookup* ALookup) noexcept;

// ---------------------------------------------------------------- pin class attributes

struct TFTPinAttribute {
  enum TKind : std::uint8_t { akNone, akDataType, akIgnoreUpstream };
  TKind Kind = akNone;
  TGUID ID{};
};
// The class's pins accept stream identifier AID (bound by PopulateTypes).
constexpr TFTPinAttribute FTDataTypeAttribute(const TGUID& AID) { return {TFTPinAttribute::akDataType, AID}; }
// The same attribute under the name the signal pins use.
constexpr TFTPinAttribute RGFTDataTypeAttribute(const TGUID& AID) { return {TFTPinAttribute::akDataType, AID}; }
// The class's pins are never handed operations travelling upstream.
inline constexpr TFTPinAttribute FTIgnoreUpstreamAttribute{TFTPinAttribute::akIgnoreUpstream, {}};

// The class of a pin: its name, its parent and its own attributes.
struct TFTPinClass {
  const char* Name;
  const TFTPinClass& (*Parent)() noexcept;  // null for the root
  std::span<const TFTPinAttribute> Attributes;

  // The data types of this class and its ancestors, this class's first, each once.
  std::vector<TGUID> DataTypes() const;
  // True when this class or an ancestor carries FTIgnoreUpstreamAttribute.
  bool IgnoreUpstream() const noexcept;
  // True when this class is AClass or derives from it.
  bool InheritsFrom(const TFTPinClass& AClass) const noexcept;
};

// Declares the class of a pin and its attributes, first in its class body:
//   NX_FT_PIN_CLASS(TMyPin, TFTDispatchSinkPin, FTDataTypeAttribute(IFoo::IID), FTIgnoreUpstreamAttribute)
#define NX_FT_PIN_CLASS(Self, Base, ...)                                                                \
 public:                                                                                             \
  static const ::nx::TFTPinClass& ClassInfo() noexcept {                                             \
    static constexpr ::nx::TFTPinAttribute kAttributes[] = {::nx::TFTPinAttribute{} __VA_OPT__(, ) __VA_ARGS__}; \
    static constexpr ::nx::TFTPinClass kClass{#Self, &Base::ClassInfo,                               \
                                              std::span<const ::nx::TFTPinAttribute>(kAttributes).subspan(1)}; \
    return kClass;                                                                                   \
  }                                                                                                  \
  const ::nx::TFTPinClass& PinClass() const noexcept override { return ClassInfo(); }               \
                                                                                                     \
 private:

// ---------------------------------------------------------------- links

// The gate of a pin: deliveries enter and leave it; Close shuts it and waits
// until the last delivery inside has left. Shared by the pin and by every
// link record that names the pin, so it outlives both.
class TFTPinGate final : public TInterfacedObject {
 public:
  bool Enter() noexcept {
    if (FState.fetch_add(1, std::memory_order_acquire) & kClosed) {
      Leave();
      return false;
    }
    return true;
  }
  void Leave() noexcept {
    const std::uint32_t before = FState.fetch_sub(1, std::memory_order_release);
    if ((before & kClosed) && (before & ~kClosed) == 1) FState.notify_all();
  }
  // Runs ADelivery inside the gate and returns its result; false, without
  // running it, once the gate is closed.
  template <class F>
  bool Deliver(F&& ADelivery) {
    if (!Enter()) return false;
    struct TLeave {
      TFTPinGate* Gate;
      ~TLeave() { Gate->Leave(); }
    } leave{this};
    return ADelivery();
  }
  // Shuts the gate and waits for the deliveries inside it.
  void Close() noexcept;
  bool IsClosed() const noexcept { return FState.load(std::memory_order_relaxed) & kClosed; }

 private:
  static constexpr std::uint32_t kClosed = 0x80000000u;
  std::atomic<std::uint32_t> FState{0};  // closed bit | deliveries inside
};

// One link as seen from one pin: where this pin's Notify goes.
struct TFTLink {
  TFTBasicPin* Target = nullptr;  // receives the deliveries: the peer, or a pin of the link's converter
  TIntfPtr<TFTPinGate> Gate;      // Target's gate
  TIntfPtr<IFTStream> Stream;     // Target's stream object
  TFTBasicPinNotificationEvent Handler;  // Target's handler for ID (empty: not handled)
  TGUID ID{};                     // the identifier on this hop, as this pin sees it
  TFTBasicPin* Other = nullptr;   // the "other pin" the Target's handler is told about
  TFTBasicPin* Peer = nullptr;    // the pin at the far end of the link
  TGUID PeerID{};                 // the identifier as the far end sees it (differs behind a converter)
  TIntfPtr<TFTFormatConverter> Converter;  // the converter of this link, or empty
  bool TargetIgnoresUpstream = false;
};
using TFTLinkSnapshot = std::shared_ptr<const std::vector<TFTLink>>;

// ---------------------------------------------------------------- pins

class TFTBasicPin {
 public:
  TFTBasicPin(const TFTBasicPin&) = delete;
  TFTBasicPin& operator=(const TFTBasicPin&) = delete;
  virtual ~TFTBasicPin();

  static const TFTPinClass& ClassInfo() noexcept;
  virtual const TFTPinClass& PinClass() const noexcept { return ClassInfo(); }
  // Fixed at construction (not virtual: it is needed while a pin is destroyed).
  bool IsSourcePin() const noexcept { return FIsSource; }

  const std::string& GetName() const noexcept { return FName; }
  void SetName(std::string AName) { FName = std::move(AName); }
  // A number the pin's owner keeps on it, under the owner's own lock (a
  // multi-input component keeps the pin's place among its inputs, so that a
  // delivery finds its input without a search); -1 until set.
  std::int32_t GetOwnerIndex() const noexcept { return FOwnerIndex; }
  void SetOwnerIndex(std::int32_t AIndex) noexcept { FOwnerIndex = AIndex; }

  // ---- stream types
  // Binds AID to AHandler (replacing an earlier binding of AID). An empty
  // handler leaves the identifier to the registered default handler.
  void AddType(const TGUID& AID, TFTBasicPinNotificationEvent AHandler);
  // Binds every data-type attribute of the pin's class to AHandler.
  void PopulateTypes(TFTBasicPinNotificationEvent AHandler);
  // Removes every binding (explicit and populated).
  void ClearTypes();
  // The identifiers the pin accepts, in order of preference.
  std::vector<TGUID> GetTypes() const;
  bool AcceptsType(const TGUID& AID) const;
  bool IgnoresUpstream() const noexcept { return PinClass().IgnoreUpstream(); }

  // ---- links
  bool IsConnected() const noexcept;
  std::int32_t ConnectedCount() const noexcept;
  bool IsConnectedTo(const TFTBasicPin* APin) const noexcept;
  // True when a link of this pin uses one of the identifiers.
  bool IsConnectedByIDs(std::span<const TGUID> AIDs) const noexcept;
  bool IsConnectedByIDs(std::initializer_list<TGUID> AIDs) const noexcept {
    return IsConnectedByIDs(std::span<const TGUID>(AIDs.begin(), AIDs.size()));
  }
  // The pins at the far ends of the links, and the identifier of each link
  // as this pin sees it, in link order.
  std::vector<TFTBasicPin*> GetConnectedPins() const;
  std::vector<TGUID> GetConnectedIDs() const;
  // The current links (a snapshot that later link changes do not alter).
  TFTLinkSnapshot GetLinks() const noexcept;
  // Removes the link to APin; false when there is none.
  bool Disconnect(TFTBasicPin* APin);
  void DisconnectAll();
  // Unlinks the pin and waits for the deliveries inside it; afterwards every
  // delivery to it returns false. Idempotent.
  void Close();
  bool IsClosed() const noexcept { return FClosing.load(std::memory_order_acquire); }

  // ---- sending
  // Delivers AOperation over every link (downstream from a source pin,
  // upstream from a sink pin). Virtual, so that a pin that adapts what it
  // sends (per link, or by remembering it) does so whoever holds it as a
  // basic pin (a pass-through handler, a pump query).
  virtual bool Notify(const TIntfPtr<IFTNotifyOperation>& AOperation);
  // The same without nsExclusive: for a sender that keeps using the data it sends.
  bool NotifyShared(const TIntfPtr<IFTNotifyOperation>& AOperation);
  // Delivers AOperation over the link to APin only (never exclusive); false
  // when not linked to it.
  bool NotifyPin(TFTBasicPin* APin, const TIntfPtr<IFTNotifyOperation>& AOperation);
  // Delivers over one link record of GetLinks (for pins that adapt each link).
  bool NotifyLink(const TFTLink& ALink, const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState);
  // Delivers over every record of ALinks in order; true when a handler returned true.
  bool NotifyLinks(const std::vector<TFTLink>& ALinks, const TIntfPtr<IFTNotifyOperation>& AOperation,
                   TFTNotifyState AState);
  // The state of this pin's sends: nsUpstream for sink pins.
  TFTNotifyState SendState() const noexcept {
    return IsSourcePin() ? TFTNotifyState{} : TFTNotifyState{nsUpstream};
  }
  // The state of a Notify over ALinks: SendState, with nsExclusive for a
  // source pin sending over a single link.
  TFTNotifyState NotifyStateFor(const std::vector<TFTLink>& ALinks) const noexcept {
    return IsSourcePin() && ALinks.size() == 1 ? SendState().With(nsExclusive) : SendState();
  }

  // ---- stream object (install before the pin is linked)
  IFTStream* GetStream() const noexcept { return FStream.Get(); }
  void SetStream(TIntfPtr<IFTStream> AStream);

  // ---- interface query
  // Asks the pin for the interface AIID. True when the pin answers it: AObj
  // then holds the answering object, from which the caller takes the
  // interface with Supports (or uses Supports(pin, ...) below). A pin
  // answers for the interfaces of its stream object, its interfaced side; a
  // subclass may answer with another object (see TNXFTUniversalSinkPin).
  // False and AObj empty otherwise.
  virtual bool QueryInterface(const TGUID& AIID, TIntfPtr<IInterface>& AObj) const noexcept;

  // The handler bound to AID, else the default handler registered for it;
  // empty when neither. Read when a link is made.
  virtual TFTBasicPinNotificationEvent HandlerFor(const TGUID& AID) const;
  // The identifiers the pin offers when it is linked to APeer: GetTypes. A
  // pin that adopts the kind of whatever it is linked to (a universal pin)
  // answers with APeer's types and a handler for them from HandlerFor.
  virtual std::vector<TGUID> LinkTypes(const TFTBasicPin& APeer) const { return GetTypes(); }

 protected:
  TFTBasicPin(bool AIsSource, std::string AName);

  // Called after a link to APeer is made / before the link to APeer is
  // removed, on the thread that changes the link.
  virtual void DoConnected(TFTBasicPin* APeer) {}
  virtual void DoDisconnecting(TFTBasicPin* APeer) {}
  // The most links the pin takes: 0 for any number.
  virtual std::int32_t MaxLinks() const noexcept { return 0; }
  // The pin's gate, for an object of the pin that takes deliveries outside
  // the links (entering it fails once the pin is closed).
  TFTPinGate& GetGate() const noexcept { return *FGate; }

 private:
  friend class TFTLinker;
  struct TTypeBinding {
    TGUID ID;
    TFTBasicPinNotificationEvent Handler;
  };

  void SetLinks(std::vector<TFTLink> ALinks);

  const bool FIsSource;
  std::int32_t FOwnerIndex = -1;
  std::string FName;
  std::vector<TTypeBinding> FTypes;        // explicit bindings (under the link section)
  TFTBasicPinNotificationEvent FPopulated;  // handler of the attribute types, or empty
  bool FPopulatedSet = false;
  TIntfPtr<IFTStream> FStream;
  TIntfPtr<TFTPinGate> FGate;
  std::atomic<bool> FClosing{false};  // set under the link section: no new links
  std::atomic<bool> FConverterPin{false};  // a pin of a link's converter
  mutable std::mutex FLinksLock;  // guards the FLinks pointer only
  TFTLinkSnapshot FLinks;
  // The size of FLinks, kept beside it so that the question asked for every
  // buffer sent (is anyone linked?) takes neither the lock nor the snapshot.
  std::atomic<std::int32_t> FLinkCount{0};
};

// Makes and removes links. Every link change runs under one process-wide
// recursive section.
class TFTLinker {
 public:
  // Links ASource to ASink; true when linked (or already linked), false when
  // no identifier or converter fits. A sink that takes one link only is
  // first unlinked from its current source.
  static bool Connect(TFTSourcePin& ASource, TFTSinkPin& ASink);
  // Whether Connect would link the two (without linking).
  static bool CanConnect(TFTSourcePin& ASource, TFTSinkPin& ASink);
  static bool Disconnect(TFTBasicPin& AFrom, TFTBasicPin& ATo);
  static void DisconnectAll(TFTBasicPin& APin);

 private:
  // A link record for deliveries to ATarget.
  static TFTLink MakeLink(TFTBasicPin& ATarget, const TGUID& AID, TFTBasicPin* AOther, TFTBasicPin* APeer,
                          const TGUID& APeerID, const TIntfPtr<TFTFormatConverter>& AConverter);
  // The links of APin plus ALink.
  static std::vector<TFTLink> WithLink(const TFTBasicPin& APin, TFTLink ALink);
};

// The source pin: sends downstream to any number of sinks; receives what its
// sinks send upstream.
class TFTSourcePin : public TFTBasicPin {
  NX_FT_PIN_CLASS(TFTSourcePin, TFTBasicPin)

 public:
  bool Connect(TFTSinkPin* ASink);

 protected:
  explicit TFTSourcePin(std::string AName = {}) : TFTBasicPin(true, std::move(AName)) {}
};

// The sink pin: takes one source (a new link replaces the old one).
class TFTSinkPin : public TFTBasicPin {
  NX_FT_PIN_CLASS(TFTSinkPin, TFTBasicPin)

 public:
  bool Connect(TFTSourcePin* ASource);
  // The identifier the (first) source sends on the link; empty when unlinked.
  TGUID GetConnectedID() const noexcept;
  // The identifier arriving at this pin: the same, or the converted kind
  // behind a converter.
  TGUID GetDownStreamID() const noexcept;
  // Picks the link's identifier among ACommon (sink order, never empty).
  virtual TGUID SelectStreamID(const TFTSourcePin& ASource, const std::vector<TGUID>& ACommon) const {
    return ACommon.front();
  }

 protected:
  explicit TFTSinkPin(std::string AName = {}) : TFTBasicPin(false, std::move(AName)) {}
  std::int32_t MaxLinks() const noexcept override { return 1; }
};

// A sink pin that takes any number of sources.
class TFTMultiSinkPin : public TFTSinkPin {
  NX_FT_PIN_CLASS(TFTMultiSinkPin, TFTSinkPin)

 protected:
  using TFTSinkPin::TFTSinkPin;
  std::int32_t MaxLinks() const noexcept override { return 0; }
};

// The concrete pins: each receives through the handlers bound to its types.
// The constructors take a name and, optionally, the handler for the class's
// attribute types (PopulateTypes).
class TFTDispatchSourcePin : public TFTSourcePin {
  NX_FT_PIN_CLASS(TFTDispatchSourcePin, TFTSourcePin)

 public:
  explicit TFTDispatchSourcePin(std::string AName = {}, TFTBasicPinNotificationEvent AHandler = {});
};

class TFTDispatchSinkPin : public TFTSinkPin {
  NX_FT_PIN_CLASS(TFTDispatchSinkPin, TFTSinkPin)

 public:
  explicit TFTDispatchSinkPin(std::string AName = {}, TFTBasicPinNotificationEvent AHandler = {});
};

class TFTDispatchMultiSinkPin : public TFTMultiSinkPin {
  NX_FT_PIN_CLASS(TFTDispatchMultiSinkPin, TFTMultiSinkPin)

 public:
  explicit TFTDispatchMultiSinkPin(std::string AName = {}, TFTBasicPinNotificationEvent AHandler = {});
};

// A source pin that also sends clock operations to clock inputs.
class TFTClockSourcePin : public TFTDispatchSourcePin {
  NX_FT_PIN_CLASS(TFTClockSourcePin, TFTDispatchSourcePin, FTDataTypeAttribute(IFTClockStream::IID))

 public:
  using TFTDispatchSourcePin::TFTDispatchSourcePin;
  // Sends a clock operation of AClockCount ticks.
  bool Clock(std::uint32_t AClockCount = 1);
};

// The clock input of a component: takes any number of clock sources.
class TFTClockMultiSinkPin : public TFTDispatchMultiSinkPin {
  NX_FT_PIN_CLASS(TFTClockMultiSinkPin, TFTDispatchMultiSinkPin, FTDataTypeAttribute(IFTClockStream::IID))

 public:
  using TFTDispatchMultiSinkPin::TFTDispatchMultiSinkPin;
};

// A sink pin for the given stream identifiers, all bound to one handler.
class TFTStdSinkPin : public TFTDispatchSinkPin {
  NX_FT_PIN_CLASS(TFTStdSinkPin, TFTDispatchSinkPin)

 public:
  TFTStdSinkPin(std::string AName, std::initializer_list<TGUID> ATypes, TFTBasicPinNotificationEvent AHandler);
};

// A source pin that holds a current value: SetValue stores the operation
// and sends it; a sink linked later receives the current value at once.
class TFTStatePin : public TFTDispatchSourcePin {
  NX_FT_PIN_CLASS(TFTStatePin, TFTDispatchSourcePin)

 public:
  using TFTDispatchSourcePin::TFTDispatchSourcePin;
  ~TFTStatePin() override;
  // Stores AValue (may be empty: no value) and sends it when it is not empty.
  bool SetValue(const TIntfPtr<IFTNotifyOperation>& AValue);
  TIntfPtr<IFTNotifyOperation> GetValue() const;

 protected:
  void DoConnected(TFTBasicPin* APeer) override;

 private:
  mutable std::mutex FValueLock;
  TIntfPtr<IFTNotifyOperation> FValue;
};

// The interface I of the object that answers APin's query for I (empty and
// false when the pin answers no such query, or its answer lacks I).
template <IsInterface I>
bool Supports(const TFTBasicPin* APin, TIntfPtr<I>& AOut) noexcept {
  TIntfPtr<IInterface> obj;
  if (!APin || !APin->QueryInterface(I::IID, obj)) {
    AOut = nullptr;
    return false;
  }
  return Supports(obj.Get(), AOut);
}

// Deletes a pin after closing it, so that no delivery reaches a subclass
// whose part of the object is already destroyed.
struct TFTPinDeleter {
  void operator()(TFTBasicPin* APin) const {
    if (!APin) return;
    APin->Close();
    delete APin;
  }
};
template <class T>
using TFTPinPtr = std::unique_ptr<T, TFTPinDeleter>;
template <class T, class... A>
TFTPinPtr<T> FTMakePin(A&&... AArgs) {
  return TFTPinPtr<T>(new T(std::forward<A>(AArgs)...));
}

// ---------------------------------------------------------------- default handlers

// Installs AHandler as the fallback of stream identifier AID: used on links
// made afterwards whose receiving pin binds AID without a handler of its own.
// An empty handler removes the fallback.
void FTRegisterDefaultHandler(const TGUID& AID, TFTBasicPinNotificationEvent AHandler);
void FTUnregisterDefaultHandler(const TGUID& AID);
TFTBasicPinNotificationEvent FTGetDefaultHandler(const TGUID& AID);

// ---------------------------------------------------------------- pin lists

// A list of pins that it does not own (the input pins of a component).
// Not locked: its owner guards it.
class TFTPinList {
 public:
  // Appends APin unless it is listed; returns its index.
  std::int32_t Add(TFTBasicPin* APin);
  // Removes APin; returns its former index, or -1 when it was not listed.
  std::int32_t Remove(TFTBasicPin* APin);
  void Clear() noexcept { FItems.clear(); }
  std::int32_t IndexOf(const TFTBasicPin* APin) const noexcept;
  bool Contains(const TFTBasicPin* APin) const noexcept { return IndexOf(APin) >= 0; }
  std::int32_t Count() const noexcept { return static_cast<std::int32_t>(FItems.size()); }
  // Raises ERangeError "Index out of range = %u" outside 0 .. Count - 1.
  TFTBasicPin* GetItem(std::int32_t AIndex) const;
  TFTBasicPin* operator[](std::int32_t AIndex) const { return GetItem(AIndex); }

  auto begin() const noexcept { return FItems.begin(); }
  auto end() const noexcept { return FItems.end(); }

 private:
  std::vector<TFTBasicPin*> FItems;
};

}  // namespace nx
