// NXStreamTypes: what signal components exchange over pins. The stream
// identifiers name each kind of data on a link; the operations carry buffers,
// pairs of buffers, sample rates and texts (the pointer's events are in
// NXMouseOperations.h); the typed pins
// bind their kinds by class attributes and dispatch what they receive to the
// component's stream object; the stream-type registry makes a buffer of a
// given kind; the link format converters let pins of different kinds be
// linked. The start-up section registers the stream types, the default
// channel handler and the converters with the pin framework.
//
// How a component receives: it installs on each pin a stream object that
// answers IFTNXGenericStream (TNXFTGenericStream forwards to a function). The
// pin's own dispatch hands every downstream operation (sink pins) or upstream
// operation (source pins) to that interface. A handler given to a pin's
// constructor replaces that dispatch for all the pin's attribute kinds.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "buffers/NXBufferInterfaces.h"
#include "runtime/Zandor.Function.h"
#include "runtime/Zandor.Sync.h"
#include "streams/FTPins.h"
#include "streams/FTStdTypes.h"
#include "streams/Flowtie.TypeConverters.h"

namespace nx {

// ---------------------------------------------------------------- stream interfaces

// A stream object that takes operations: the receiving side of the signal
// pins. Every stream interface below extends it, so one object answering
// several of them has one handle method.
struct IFTNXHandleStream : virtual IFTStream {
  NX_INTERFACE_ID(IFTNXHandleStream, "{5E0B71A4-2C6D-4F3B-9A80-6D1E4C2B7F10}");
  virtual bool HandleOperation(TFTBasicPin* AOtherPin, const TGUID& AStreamID,
                               const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) = 0;
};

#define NX_FT_STREAM_INTERFACE(Name, Text)        \
  struct Name : virtual IFTNXHandleStream {       \
    NX_INTERFACE_ID(Name, Text);                  \
  };
NX_FT_STREAM_INTERFACE(IFTNXGenericStream, "{20ACBC6D-DA0D-4359-8C78-CE0067D009A0}")
NX_FT_STREAM_INTERFACE(IFTUniversalBufferStream, "{949B7FD0-421F-4F1B-B8D2-87969D3E66E0}")
NX_FT_STREAM_INTERFACE(IFTGenericBufferStream, "{DB6DD866-611D-4DC4-B46F-459CF8F02ECD}")
NX_FT_STREAM_INTERFACE(IFTBinaryBufferStream, "{BD807B57-05AE-44E0-A99F-3D9BAD83395E}")
NX_FT_STREAM_INTERFACE(IFTBooleanBufferStream, "{CF30C304-8AAE-4D18-B711-3AC7BDEEEE54}")
NX_FT_STREAM_INTERFACE(IFTRealBufferStream, "{58041272-EF20-4696-87E6-9EE46ABFBD89}")
NX_FT_STREAM_INTERFACE(IFTRangedRealBufferStream, "{028C4122-5C0A-466D-AB78-3CCC06118B16}")
NX_FT_STREAM_INTERFACE(IFTRealMatrixStream, "{3A3BA3E1-0184-41DA-AA08-5412DD5F2B83}")
NX_FT_STREAM_INTERFACE(IFTIntegerBufferStream, "{473B965F-AB43-4493-B9E3-BEE9CF0803D4}")
NX_FT_STREAM_INTERFACE(IFTUnsignedBufferStream, "{69C07AA6-2A4D-4B94-9D13-8CDE2F9FA089}")
NX_FT_STREAM_INTERFACE(IFTComplexBufferStream, "{BD797143-D7C6-4033-B686-9ABA658346CF}")
NX_FT_STREAM_INTERFACE(IFTPairedBufferStream, "{F4D70F89-B478-4D08-990F-AD03759D0E31}")
NX_FT_STREAM_INTERFACE(IFTUserControlStream, "{9E7972F6-919B-491D-A094-18722B974429}")
#undef NX_FT_STREAM_INTERFACE

// The framework's typed-dispatch interface: a stream object that takes every
// operation of a pin whatever its kind. Source pins hand it the operations
// their sinks send upstream when the stream has no generic interface.
struct IFTTypedDispatchStream : virtual IFTStream {
  NX_INTERFACE_ID(IFTTypedDispatchStream, "{CFDF94D7-5134-49D9-AC65-902BBC1CD140}");
  virtual bool TypedDispatch(TFTBasicPin* AOtherPin, const TGUID& AStreamID,
                             const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) = 0;
};

// The clock side of a clockable source pin's stream: what clock inputs send
// back upstream (clock-needed operations).
struct IFTClockNotifyStream : virtual IFTStream {
  NX_INTERFACE_ID(IFTClockNotifyStream, "{5E0B71A4-2C6D-4F3B-9A80-6D1E4C2B7F11}");
  virtual bool ClockNotification(TFTBasicPin* AOtherPin, const TIntfPtr<IFTNotifyOperation>& AOperation,
                                 TFTNotifyState AState) = 0;
};

// A component's handler of everything arriving on a pin.
using TNXGenericDispatchEvent = std::function<bool(TFTBasicPin* AOtherPin, const TGUID& AStreamID,
                                                   const TIntfPtr<IFTNotifyOperation>& AOperation,
                                                   TFTNotifyState AState)>;

// A stream object that forwards its handle method to a function. It always
// answers IFTNXGenericStream; the buffer stream interfaces named in
// AAlsoAnswers (real, integer, unsigned buffers) are answered too, so that the
// default channel handler adapts sample rates for it.
class TNXFTGenericStream final : public TInterfacedObject,
                                 public virtual IFTNXGenericStream,
                                 public virtual IFTRealBufferStream,
                                 public virtual IFTIntegerBufferStream,
                                 public virtual IFTUnsignedBufferStream {
 public:
  TNXFTGenericStream(TFTBasicPin* APin, TNXGenericDispatchEvent AHandler, std::vector<TGUID> AAlsoAnswers = {})
      : FPin(APin), FHandler(std::move(AHandler)), FAlso(std::move(AAlsoAnswers)) {}
  TFTBasicPin* GetPin() noexcept override { return FPin; }
  bool HandleOperation(TFTBasicPin* AOtherPin, const TGUID& AStreamID, const TIntfPtr<IFTNotifyOperation>& AOperation,
                       TFTNotifyState AState) override {
    return FHandler ? FHandler(AOtherPin, AStreamID, AOperation, AState) : false;
  }

 protected:
  bool IntQueryInterface(const TGUID& iid, void** obj) noexcept override;

 private:
  TFTBasicPin* FPin;
  TNXGenericDispatchEvent FHandler;
  std::vector<TGUID> FAlso;
};

// ---------------------------------------------------------------- operations

// A buffer pair: several buffers sent as one.
struct IBufferPair : virtual IInterface {
  NX_INTERFACE_ID(IBufferPair, "{5E0B71A4-2C6D-4F3B-9A80-6D1E4C2B7F12}");
  virtual std::int32_t GetCount() = 0;
  // Raise ERangeError "Index out of range = %u" outside 0 .. GetCount - 1.
  virtual TIntfPtr<INXDataBuffer> GetBuffer(std::int32_t AIndex) = 0;
  virtual void SetBuffer(std::int32_t AIndex, const TIntfPtr<INXDataBuffer>& ABuffer) = 0;
  virtual void AddBuffer(const TIntfPtr<INXDataBuffer>& ABuffer) = 0;
};

class TBufferPair final : public TInterfacedObject, public virtual IBufferPair {
  NX_INTERFACES(TInterfacedObject, IBufferPair)

 public:
  static TIntfPtr<IBufferPair> Make() { return TIntfPtr<IBufferPair>(new TBufferPair()); }
  std::int32_t GetCount() override { return static_cast<std::int32_t>(FList.size()); }
  TIntfPtr<INXDataBuffer> GetBuffer(std::int32_t AIndex) override;
  void SetBuffer(std::int32_t AIndex, const TIntfPtr<INXDataBuffer>& ABuffer) override;
  void AddBuffer(const TIntfPtr<INXDataBuffer>& ABuffer) override { FList.push_back(ABuffer); }

 private:
  std::vector<TIntfPtr<INXDataBuffer>> FList;
};

using TFTTypedSuppliedDataOperation = TFTTypedSuppliedOperation<TIntfPtr<INXData>>;
using TFTTypedSuppliedPairOperation = TFTTypedSuppliedOperation<TIntfPtr<IBufferPair>>;

// A buffer (or other data) sent downstream; counts the buffer's samples as
// clock ticks (1 for data that is not a buffer).
class TFTSuppliedBufferOperation : public TFTTypedSuppliedDataOperation {
  NX_FT_OPERATION(TFTSuppliedBufferOperation, TFTTypedSuppliedDataOperation)

 public:
  TFTSuppliedBufferOperation(TIntfPtr<INXData> AData, std::uint32_t AClockCount)
      : TFTTypedSuppliedDataOperation(std::move(AData), AClockCount) {}
  static TIntfPtr<IFTNotifyOperation> Make(const TIntfPtr<INXData>& AData);
  static TIntfPtr<IFTNotifyOperation> Make(TIntfPtr<INXData>&& AData);
  static TIntfPtr<IFTNotifyOperation> MakeEx(const TIntfPtr<INXData>& AData, std::uint32_t AClockCount) {
    return FTMakeOperation<TFTSuppliedBufferOperation>(AData, AClockCount);
  }
  // The clock count of AData: its sample count for a buffer, else 1.
  static std::uint32_t ClockCountOf(const TIntfPtr<INXData>& AData);
};

// A buffer passed inside a component with the enabled state it was made under.
class TFTInternalBufferOperation : public TFTSuppliedBufferOperation {
  NX_FT_OPERATION(TFTInternalBufferOperation, TFTSuppliedBufferOperation)

 public:
  TFTInternalBufferOperation(bool AEnabled, TIntfPtr<INXData> AData)
      : TFTSuppliedBufferOperation(AData, ClockCountOf(AData)), FEnabled(AEnabled) {}
  static TIntfPtr<IFTNotifyOperation> Make(bool AEnabled, const TIntfPtr<INXData>& AData) {
    return FTMakeOperation<TFTInternalBufferOperation>(AEnabled, AData);
  }
  bool GetEnabled() const noexcept { return FEnabled; }

 private:
  const bool FEnabled;
};

// Several buffers sent as one; counts the first buffer's samples.
class TFTSuppliedBufferPairOperation : public TFTTypedSuppliedPairOperation {
  NX_FT_OPERATION(TFTSuppliedBufferPairOperation, TFTTypedSuppliedPairOperation)

 public:
  TFTSuppliedBufferPairOperation(TIntfPtr<IBufferPair> APair, std::uint32_t AClockCount)
      : TFTTypedSuppliedPairOperation(std::move(APair), AClockCount) {}
  static TIntfPtr<IFTNotifyOperation> Make(const TIntfPtr<IBufferPair>& APair);
  static TIntfPtr<IFTNotifyOperation> MakeEx(const TIntfPtr<IBufferPair>& APair, std::uint32_t AClockCount) {
    return FTMakeOperation<TFTSuppliedBufferPairOperation>(APair, AClockCount);
  }
};

// Announces the sample rate of the stream that follows.
class TFTStartSampleRateOperation : public TFTStartRateOperation {
  NX_FT_OPERATION(TFTStartSampleRateOperation, TFTStartRateOperation)

 public:
  explicit TFTStartSampleRateOperation(double ASampleRate) noexcept : TFTStartRateOperation(ASampleRate) {}
  static TIntfPtr<IFTNotifyOperation> Make(double ASampleRate) {
    return FTMakeOperation<TFTStartSampleRateOperation>(ASampleRate);
  }
  double GetSampleRate() const noexcept { return GetRate(); }
};

class TFTStartSpectrumOperation : public TFTStartSampleRateOperation {
  NX_FT_OPERATION(TFTStartSpectrumOperation, TFTStartSampleRateOperation)

 public:
  using TFTStartSampleRateOperation::TFTStartSampleRateOperation;
  static TIntfPtr<IFTNotifyOperation> Make(double ASampleRate) {
    return FTMakeOperation<TFTStartSpectrumOperation>(ASampleRate);
  }
};

class TFTStartIntensityOperation : public TFTStartSampleRateOperation {
  NX_FT_OPERATION(TFTStartIntensityOperation, TFTStartSampleRateOperation)

 public:
  using TFTStartSampleRateOperation::TFTStartSampleRateOperation;
  static TIntfPtr<IFTNotifyOperation> Make(double ASampleRate) {
    return FTMakeOperation<TFTStartIntensityOperation>(ASampleRate);
  }
};

class TFTNXPauseOperation : public TFTNotifyOperation {
  NX_FT_SIMPLE_OPERATION(TFTNXPauseOperation, TFTNotifyOperation)
};
class TFTNXResumeOperation : public TFTNotifyOperation {
  NX_FT_SIMPLE_OPERATION(TFTNXResumeOperation, TFTNotifyOperation)
};

using TFTTypedSuppliedStringOperation = TFTTypedSuppliedOperation<std::string>;

// A text with a duration.
class TFTNXDurationTimeSuppliedStringOperation : public TFTTypedSuppliedStringOperation {
  NX_FT_OPERATION(TFTNXDurationTimeSuppliedStringOperation, TFTTypedSuppliedStringOperation)

 public:
  TFTNXDurationTimeSuppliedStringOperation(std::string AText, std::int64_t ADurationTime)
      : TFTTypedSuppliedStringOperation(std::move(AText), 1), FDurationTime(ADurationTime) {}
  static TIntfPtr<IFTNotifyOperation> Make(std::string AText, std::int64_t ADurationTime) {
    return FTMakeOperation<TFTNXDurationTimeSuppliedStringOperation>(std::move(AText), ADurationTime);
  }
  std::int64_t GetDurationTime() const noexcept { return FDurationTime; }

 private:
  const std::int64_t FDurationTime;
};

// A text with a start and an end time.
class TFTNXTimeSuppliedStringOperation : public TFTTypedSuppliedStringOperation {
  NX_FT_OPERATION(TFTNXTimeSuppliedStringOperation, TFTTypedSuppliedStringOperation)

 public:
  TFTNXTimeSuppliedStringOperation(std::string AText, std::int64_t AStartTime, std::int64_t AEndTime)
      : TFTTypedSuppliedStringOperation(std::move(AText), 1), FStartTime(AStartTime), FEndTime(AEndTime) {}
  static TIntfPtr<IFTNotifyOperation> Make(std::string AText, std::int64_t AStartTime, std::int64_t AEndTime) {
    return FTMakeOperation<TFTNXTimeSuppliedStringOperation>(std::move(AText), AStartTime, AEndTime);
  }
  std::int64_t GetStartTime() const noexcept { return FStartTime; }
  std::int64_t GetEndTime() const noexcept { return FEndTime; }

 private:
  const std::int64_t FStartTime;
  const std::int64_t FEndTime;
};


// ---------------------------------------------------------------- stream-type registry

// What the registry knows of a stream kind.
using TNXFTCreateBufferFunction = TIntfPtr<INXDataBuffer> (*)(std::int32_t ASampleCount);
using TNXFTUpdateBufferFunction = void (*)(const TIntfPtr<INXDataBuffer>& ABuffer,
                                           const TIntfPtr<IFTNotifyOperation>& AOperation);
struct TNXFTStreamTypeEntry {
  std::int32_t SampleSize = 1;  // bytes
  TNXFTCreateBufferFunction Create = nullptr;
  TNXFTUpdateBufferFunction Update = nullptr;
};

// The create functions of the registered kinds: a new buffer of ASampleCount
// samples (a negative count is a range error). The update function leaves
// the buffer unchanged.
TIntfPtr<INXDataBuffer> NXFTCreateChannelContainer(std::int32_t ASampleCount);
TIntfPtr<INXDataBuffer> NXFTCreateRealContainer(std::int32_t ASampleCount);
TIntfPtr<INXDataBuffer> NXFTCreateIntegerContainer(std::int32_t ASampleCount);
TIntfPtr<INXDataBuffer> NXFTCreateUnsignedContainer(std::int32_t ASampleCount);
TIntfPtr<INXDataBuffer> NXFTCreateComplexContainer(std::int32_t ASampleCount);
void NXFTUpdateChannelContainer(const TIntfPtr<INXDataBuffer>& ABuffer, const TIntfPtr<IFTNotifyOperation>& AOperation);

// Registers (or replaces) a kind.
void NXFTRegisterStreamType(const TGUID& AID, std::int32_t ASampleSize, TNXFTCreateBufferFunction ACreate,
                            TNXFTUpdateBufferFunction AUpdate);
void NXFTRegisterStreamType(const TGUID& AID, std::int32_t ASampleSize, TNXFTCreateBufferFunction ACreate);
std::vector<TGUID> NXFTGetStreamTypeIDs();
// A new buffer of the kind; empty for an unknown identifier.
TIntfPtr<INXDataBuffer> NXFTCreateBuffer(const TGUID& AID, std::int32_t ASampleCount);
// The sample size of the kind in bytes; 1 for an unknown identifier.
std::int32_t NXFTGetSampleSize(const TGUID& AID);
// Runs the kind's update function; false for an unknown identifier.
bool NXFTUpdateBuffer(const TGUID& AID, const TIntfPtr<INXDataBuffer>& ABuffer,
                      const TIntfPtr<IFTNotifyOperation>& AOperation);

// ---------------------------------------------------------------- handlers

// The default channel handler: adapts a downstream operation to the
// receiving stream. A sample-rate announcement reaching a real, integer or
// unsigned buffer stream goes to that stream with the rate divided by its
// sample size in bytes (8, 4, 4); anything else goes unchanged to the
// stream's generic interface; false when the stream has none.
bool DefaultNXChannelNotificationHandler(TFTBasicPin* AOtherPin, IFTStream* AStream, const TGUID& AStreamID,
                                         const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState);

// A handler that re-sends everything it receives through APin.
TFTBasicPinNotificationEvent GFTPassTroughDispatch(TFTBasicPin* APin);
// The same while APin is connected; otherwise AOtherwise handles it.
TFTBasicPinNotificationEvent GFTPassTroughDispatch(TFTBasicPin* APin, TFTBasicPinNotificationEvent AOtherwise);
// Asks what lies behind APin who paces the stream: sends the pump request
// APumpRequest through the pin and returns whether it was handled (the
// request then names the pacing component).
bool GRGPinQueryPumpOperation(TFTBasicPin* APin, const TIntfPtr<IFTNotifyOperation>& APumpRequest);

// ---------------------------------------------------------------- pins

using TFTPinEvent = std::function<void(TFTBasicPin* APin)>;
// A channel handler of TNXFTChannelSourcePin (the handler signature).
using TNXDispatchEvent = TFTBasicPinNotificationEvent;

// The link identifier a signal sink prefers among ACommon: a buffer kind
// first, then a single-value kind, the universal kind last.
TGUID NXFTPreferredStreamID(const std::vector<TGUID>& ACommon);

// The kinds a signal sink offers to APeer: its own, without the universal
// kind when both pins name a specific kind (so that an integer source and a
// real sink meet through a converter, not over "any buffer").
std::vector<TGUID> NXFTSinkLinkTypes(const TFTBasicPin& ASink, const TFTBasicPin& APeer);

// The state every signal pin keeps: the link callbacks and the lock that
// guards them (the component's, or the pin's own).
class TNXFTPinState {
 public:
  TNXFTPinState(TFTPinEvent AOnConnect, TCriticalSection* ALock)
      : FOnConnect(std::move(AOnConnect)), FLock(ALock ? ALock : &FOwnLock) {}
  TCriticalSection& GetLock() const noexcept { return *FLock; }
  void SetOnConnect(TFTPinEvent AEvent);
  void SetOnDisconnect(TFTPinEvent AEvent);
  // Read under the lock, called outside it.
  void CallOnConnect(TFTBasicPin* APin);
  void CallOnDisconnect(TFTBasicPin* APin);

 protected:
  // Installs on APin a stream object that hands operations to AHandler and
  // keeps it, so that deliveries through it skip the interface query (as
  // every stream object, it is installed before the pin is linked).
  void InstallGenericStream(TFTBasicPin& APin, TNXGenericDispatchEvent AHandler);
  // The generic interface of AStream, or null.
  TIntfPtr<IFTNXGenericStream> GenericOf(IFTStream* AStream) const noexcept;
  // Downstream operations to the generic interface of the stream.
  bool SinkDispatch(TFTBasicPin* AOtherPin, IFTStream* AStream, const TGUID& AStreamID,
                    const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) const;
  // The installed object: its generic interface and its stream interface.
  TIntfPtr<IFTNXGenericStream> FGeneric;
  IFTStream* FGenericStream = nullptr;

 private:
  TFTPinEvent FOnConnect;
  TFTPinEvent FOnDisconnect;
  TCriticalSection* FLock;
  mutable TCriticalSection FOwnLock;
};

// Sets a pin's short name from its property name: "OutputPin" / "InputPin"
// take ANameAttribute, "RawOutputPin" / "RawInputPin" take it prefixed by
// "Raw"; any other property name (or no attribute) is taken as it is. Without
// ANameAttribute, the short name registered with the pin's class defaults
// serves as the attribute.
void NXFTApplyPinName(TFTBasicPin& APin, const std::string& APropertyName, const char* ANameAttribute);

// The source pin of the signal components: accepts any buffer, sends
// buffers and stops; clock inputs may be linked when it is built clockable.
class TNXFTSourcePin : public TFTDispatchSourcePin, public TNXFTPinState {
  NX_FT_PIN_CLASS(TNXFTSourcePin, TFTDispatchSourcePin, RGFTDataTypeAttribute(IFTUniversalBufferStream::IID))

 public:
  // AHandler, when given, receives the operations of every attribute kind
  // instead of the pin's own dispatch.
  explicit TNXFTSourcePin(std::string AName = {}, TFTPinEvent AOnConnect = {}, TCriticalSection* ALock = nullptr,
                          TFTBasicPinNotificationEvent AHandler = {}, bool AClockable = false);
  ~TNXFTSourcePin() override;

  bool SubmitBuffer(const TIntfPtr<INXData>& AData) { return Notify(TFTSuppliedBufferOperation::Make(AData)); }
  // The operation takes the sender's reference over (no count traffic).
  bool SubmitBuffer(TIntfPtr<INXData>&& AData) { return Notify(TFTSuppliedBufferOperation::Make(std::move(AData))); }
  bool Stop() { return Notify(TFTStopOperation::Make()); }
  bool EndStop() { return Notify(TFTEndStopOperation::Make()); }
  bool FileEndNoStop() { return Notify(TFTFileEndNoStopOperation::Make()); }

  bool GetCanClock() const noexcept { return FCanClock; }
  // Installs a stream object that hands received operations to AHandler.
  void SetGenericDispatch(TNXGenericDispatchEvent AHandler);
  void SetPropertyName(const std::string& APropertyName) { NXFTApplyPinName(*this, APropertyName, NameAttribute()); }
  virtual const char* NameAttribute() const noexcept { return nullptr; }

 protected:
  // Operations from upstream that the stream takes no interface for.
  virtual bool IntNotificationHandler(TFTBasicPin* AOtherPin, IFTStream* AStream, const TGUID& AStreamID,
                                      const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) {
    return false;
  }
  bool PinDispatch(TFTBasicPin* AOtherPin, IFTStream* AStream, const TGUID& AStreamID,
                   const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState);
  bool ClockDispatch(TFTBasicPin* AOtherPin, IFTStream* AStream, const TGUID& AStreamID,
                     const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState);
  void DoConnected(TFTBasicPin* APeer) override;
  // A sink about to be lost gets a stop first.
  void DoDisconnecting(TFTBasicPin* APeer) override;

  bool FCanClock;
};

class TNXFTClockableSourcePin : public TNXFTSourcePin {
  NX_FT_PIN_CLASS(TNXFTClockableSourcePin, TNXFTSourcePin)

 public:
  explicit TNXFTClockableSourcePin(std::string AName = {}, TFTPinEvent AOnConnect = {},
                                   TCriticalSection* ALock = nullptr, TFTBasicPinNotificationEvent AHandler = {})
      : TNXFTSourcePin(std::move(AName), std::move(AOnConnect), ALock, std::move(AHandler), true) {}
};

// The body shared by the signal sink pins. TBase is the framework's sink
// (TFTDispatchSinkPin: one source) or multi-sink (TFTDispatchMultiSinkPin: any
// number). Downstream operations go to the stream object's generic interface
// (unless a handler is given), the link callbacks run after a link is made
// and before one is removed, and a link prefers buffer kinds.
template <class TBase>
class TNXFTBasicSinkPin : public TBase, public TNXFTPinState {
 public:
  explicit TNXFTBasicSinkPin(std::string AName = {}, TFTPinEvent AOnConnect = {}, TCriticalSection* ALock = nullptr,
                             TFTBasicPinNotificationEvent AHandler = {})
      : TBase(std::move(AName), AHandler ? std::move(AHandler) : FTMethod(this, &TNXFTBasicSinkPin::PinDispatch)),
        TNXFTPinState(std::move(AOnConnect), ALock) {}
  ~TNXFTBasicSinkPin() override { this->Close(); }

  // Sends a master pump operation upstream.
  bool MasterPump(void* AMaster) { return this->Notify(TFTMasterPumpOperation::Make(AMaster)); }
  void SetGenericDispatch(TNXGenericDispatchEvent AHandler) { InstallGenericStream(*this, std::move(AHandler)); }
  void SetPropertyName(const std::string& APropertyName) { NXFTApplyPinName(*this, APropertyName, NameAttribute()); }
  virtual const char* NameAttribute() const noexcept { return nullptr; }
  TGUID SelectStreamID(const TFTSourcePin&, const std::vector<TGUID>& ACommon) const override {
    return NXFTPreferredStreamID(ACommon);
  }
  std::vector<TGUID> LinkTypes(const TFTBasicPin& APeer) const override { return NXFTSinkLinkTypes(*this, APeer); }

 protected:
  bool PinDispatch(TFTBasicPin* AOtherPin, IFTStream* AStream, const TGUID& AStreamID,
                   const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) {
    return SinkDispatch(AOtherPin, AStream, AStreamID, AOperation, AState);
  }
  void DoConnected(TFTBasicPin*) override { CallOnConnect(this); }
  void DoDisconnecting(TFTBasicPin*) override { CallOnDisconnect(this); }
};

// The sink pin of the signal components; takes one source.
class TNXFTSinkPin : public TNXFTBasicSinkPin<TFTDispatchSinkPin> {
  NX_FT_PIN_CLASS(TNXFTSinkPin, TFTDispatchSinkPin, RGFTDataTypeAttribute(IFTUniversalBufferStream::IID),
                  FTIgnoreUpstreamAttribute)

 public:
  using TNXFTBasicSinkPin::TNXFTBasicSinkPin;
};

// A sink pin that takes any number of sources; its kinds come from subclasses.
class TNXFTMultiSinkPin : public TNXFTBasicSinkPin<TFTDispatchMultiSinkPin> {
  NX_FT_PIN_CLASS(TNXFTMultiSinkPin, TFTDispatchMultiSinkPin, FTIgnoreUpstreamAttribute)

 public:
  using TNXFTBasicSinkPin::TNXFTBasicSinkPin;
};

// Universal pins adopt the kinds of the pin they are linked to (besides
// their own), so they link to any signal pin without a converter.
class TNXFTUniversalSourcePin : public TNXFTSourcePin {
  NX_FT_PIN_CLASS(TNXFTUniversalSourcePin, TNXFTSourcePin)

 public:
  using TNXFTSourcePin::TNXFTSourcePin;
  std::vector<TGUID> LinkTypes(const TFTBasicPin& APeer) const override;
  TFTBasicPinNotificationEvent HandlerFor(const TGUID& AID) const override;
};

// The universal sink pin also implements the framework's typed-dispatch
// interface: TypedDispatch hands an operation of any kind to the pin's
// handler, as a link of that kind would.
class TNXFTUniversalSinkPin : public TNXFTSinkPin {
  NX_FT_PIN_CLASS(TNXFTUniversalSinkPin, TNXFTSinkPin)

 public:
  explicit TNXFTUniversalSinkPin(std::string AName = {}, TFTPinEvent AOnConnect = {},
                                 TCriticalSection* ALock = nullptr, TFTBasicPinNotificationEvent AHandler = {});
  ~TNXFTUniversalSinkPin() override;
  std::vector<TGUID> LinkTypes(const TFTBasicPin& APeer) const override;
  TFTBasicPinNotificationEvent HandlerFor(const TGUID& AID) const override;
  // While at least 1 the pin adopts every kind of its source, single values
  // and the clock included (otherwise only the source's buffer kinds), and
  // answers every interface query with its typed-dispatch interface. (A
  // counter, so that nested users can raise and lower it.)
  std::int32_t GetAcceptAll() const noexcept { return FAcceptAll.load(); }
  void IncAcceptAll() noexcept { ++FAcceptAll; }
  void DecAcceptAll() noexcept { --FAcceptAll; }
  // The typed-dispatch interface is always answered; while accepting all,
  // it is the answer to every query.
  bool QueryInterface(const TGUID& AIID, TIntfPtr<IInterface>& AObj) const noexcept override;
  // Hands AOperation, of kind AStreamID, to the pin's handler with the pin's
  // stream object; false when the pin has no handler.
  bool TypedDispatch(TFTBasicPin* AOtherPin, const TGUID& AStreamID, const TIntfPtr<IFTNotifyOperation>& AOperation,
                     TFTNotifyState AState);

 private:
  class TTypedDispatch;
  std::atomic<std::int32_t> FAcceptAll{0};
  TFTBasicPinNotificationEvent FHandler;          // the handler of the pin's kinds, fixed at construction
  TIntfPtr<IFTTypedDispatchStream> FTypedDispatch;  // enters the pin's gate for each operation
};

#define NX_FT_TYPED_PIN(Self, Base, ...)  \
  class Self : public Base {              \
    NX_FT_PIN_CLASS(Self, Base, __VA_ARGS__) \
   public:                                \
    using Base::Base;                     \
  };
#define NX_FT_KIND(I) RGFTDataTypeAttribute(I::IID)

NX_FT_TYPED_PIN(TNXFTBinarySourcePin, TNXFTClockableSourcePin, NX_FT_KIND(IFTBinaryBufferStream))
NX_FT_TYPED_PIN(TNXFTBinarySinkPin, TNXFTSinkPin, NX_FT_KIND(IFTBinaryBufferStream))
NX_FT_TYPED_PIN(TNXFTBinaryMultiSinkPin, TNXFTMultiSinkPin, NX_FT_KIND(IFTBinaryBufferStream))
NX_FT_TYPED_PIN(TNXFTBooleanSourcePin, TNXFTClockableSourcePin, NX_FT_KIND(IFTBooleanBufferStream),
                NX_FT_KIND(IFTBoolStream))
NX_FT_TYPED_PIN(TNXFTBooleanSinkPin, TNXFTSinkPin, NX_FT_KIND(IFTBooleanBufferStream))
NX_FT_TYPED_PIN(TNXFTComboBooleanSinkPin, TNXFTBooleanSinkPin, NX_FT_KIND(IFTBoolStream))
NX_FT_TYPED_PIN(TNXFTIntegerSourcePin, TNXFTClockableSourcePin, NX_FT_KIND(IFTIntegerBufferStream))
NX_FT_TYPED_PIN(TNXFTIntegerSinkPin, TNXFTSinkPin, NX_FT_KIND(IFTIntegerBufferStream))
NX_FT_TYPED_PIN(TNXFTUnsignedSourcePin, TNXFTClockableSourcePin, NX_FT_KIND(IFTUnsignedBufferStream))
NX_FT_TYPED_PIN(TNXFTUnsignedSinkPin, TNXFTSinkPin, NX_FT_KIND(IFTUnsignedBufferStream))
NX_FT_TYPED_PIN(TNXFTPairedSinkPin, TNXFTSinkPin, NX_FT_KIND(IFTPairedBufferStream))
NX_FT_TYPED_PIN(TNXFTRealSinkPin, TNXFTSinkPin, NX_FT_KIND(IFTRealBufferStream))
NX_FT_TYPED_PIN(TNXFTRealRangedSinkPin, TNXFTRealSinkPin, NX_FT_KIND(IFTRangedRealBufferStream))
NX_FT_TYPED_PIN(TNXFTComplexSourcePin, TNXFTClockableSourcePin, NX_FT_KIND(IFTComplexBufferStream))
NX_FT_TYPED_PIN(TNXFTComplexSinkPin, TNXFTSinkPin, NX_FT_KIND(IFTComplexBufferStream))
NX_FT_TYPED_PIN(TNXFTRealComplexSinkPin, TNXFTSinkPin, NX_FT_KIND(IFTRealBufferStream),
                NX_FT_KIND(IFTComplexBufferStream))
NX_FT_TYPED_PIN(TNXFTIntegerRealComplexSourcePin, TNXFTClockableSourcePin, NX_FT_KIND(IFTUnsignedBufferStream),
                NX_FT_KIND(IFTIntegerBufferStream), NX_FT_KIND(IFTRealBufferStream), NX_FT_KIND(IFTComplexBufferStream))
NX_FT_TYPED_PIN(TNXFTIntegerRealComplexSinkPin, TNXFTSinkPin, NX_FT_KIND(IFTUnsignedBufferStream),
                NX_FT_KIND(IFTIntegerBufferStream), NX_FT_KIND(IFTRealBufferStream), NX_FT_KIND(IFTComplexBufferStream))
NX_FT_TYPED_PIN(TNXFTIntegerRealComplexBinarySourcePin, TNXFTIntegerRealComplexSourcePin,
                NX_FT_KIND(IFTBinaryBufferStream))
NX_FT_TYPED_PIN(TNXFTIntegerRealComplexBinarySinkPin, TNXFTIntegerRealComplexSinkPin, NX_FT_KIND(IFTBinaryBufferStream))
NX_FT_TYPED_PIN(TNXFTStringSourcePin, TNXFTClockableSourcePin, NX_FT_KIND(IFTStringStream))
NX_FT_TYPED_PIN(TNXFTStringSinkPin, TNXFTSinkPin, NX_FT_KIND(IFTStringStream))
NX_FT_TYPED_PIN(TNXFTRealMatrixSourcePin, TNXFTClockableSourcePin, NX_FT_KIND(IFTRealMatrixStream))
NX_FT_TYPED_PIN(TNXFTRealMatrixSinkPin, TNXFTSinkPin, NX_FT_KIND(IFTRealMatrixStream))
NX_FT_TYPED_PIN(TNXFTUserControlSourcePin, TNXFTClockableSourcePin, NX_FT_KIND(IFTUserControlStream))
NX_FT_TYPED_PIN(TNXFTUserControlSinkPin, TNXFTSinkPin, NX_FT_KIND(IFTUserControlStream))
NX_FT_TYPED_PIN(TNXFTUserControlMultiSinkPin, TNXFTMultiSinkPin, NX_FT_KIND(IFTUserControlStream))

// ---------------------------------------------------------------- image pins
// Images travel as plain interfaces: the pins stay below the graphics layer,
// and a receiver asks the object for the image interface it draws with
// (IGPImage of drawing/Vantex.h).

struct IFTGDIPlusImageStream : virtual IFTNXHandleStream {
  NX_INTERFACE_ID(IFTGDIPlusImageStream, "{8B0246A8-E0BA-432A-A00A-ACCB86C69C09}");
};

using TFTTypedSuppliedImageOperation = TFTTypedSuppliedOperation<TIntfPtr<IInterface>>;

// One image sent downstream (clock count 1).
class TFTGDIPlusSuppliedImageOperation : public TFTTypedSuppliedImageOperation {
  NX_FT_OPERATION(TFTGDIPlusSuppliedImageOperation, TFTTypedSuppliedImageOperation)

 public:
  explicit TFTGDIPlusSuppliedImageOperation(TIntfPtr<IInterface> AImage)
      : TFTTypedSuppliedImageOperation(std::move(AImage), 1u) {}
  static TIntfPtr<IFTNotifyOperation> Make(const TIntfPtr<IInterface>& AImage) {
    return FTMakeOperation<TFTGDIPlusSuppliedImageOperation>(AImage);
  }
  const TIntfPtr<IInterface>& GetImage() const noexcept { return GetValue(); }
};

// Called with the receiving pin and the image of every image operation.
using TFTImageChangeEvent = std::function<void(TFTBasicPin* APin, const TIntfPtr<IInterface>& AImage)>;

class TFTGDIPlusImageSourcePin : public TFTClockSourcePin {
  NX_FT_PIN_CLASS(TFTGDIPlusImageSourcePin, TFTClockSourcePin, FTDataTypeAttribute(IFTGDIPlusImageStream::IID))

 public:
  using TFTClockSourcePin::TFTClockSourcePin;
  // Sends AImage to every linked sink; false when none took it.
  bool Send(const TIntfPtr<IInterface>& AImage) { return Notify(TFTGDIPlusSuppliedImageOperation::Make(AImage)); }
};

// Image sinks hand each image to their image-change event; other operations
// (start, stop, clock) are not theirs and answer false.
class TFTGDIPlusImageSinkPin : public TFTDispatchSinkPin {
  NX_FT_PIN_CLASS(TFTGDIPlusImageSinkPin, TFTDispatchSinkPin, FTDataTypeAttribute(IFTGDIPlusImageStream::IID))

 public:
  explicit TFTGDIPlusImageSinkPin(std::string AName = {}, TFTImageChangeEvent AOnImageChange = {});
};

class TFTGDIPlusImageMultiSinkPin : public TFTDispatchMultiSinkPin {
  NX_FT_PIN_CLASS(TFTGDIPlusImageMultiSinkPin, TFTDispatchMultiSinkPin,
                  FTDataTypeAttribute(IFTGDIPlusImageStream::IID))

 public:
  explicit TFTGDIPlusImageMultiSinkPin(std::string AName = {}, TFTImageChangeEvent AOnImageChange = {});
};

// Holds the current image: a sink linked later receives it at once.
class TFTGDIPlusImageStatePin : public TFTStatePin {
  NX_FT_PIN_CLASS(TFTGDIPlusImageStatePin, TFTStatePin, FTDataTypeAttribute(IFTGDIPlusImageStream::IID))

 public:
  using TFTStatePin::TFTStatePin;
  using TFTStatePin::SetValue;
  // Stores the image (empty: no image) and sends it when there is one.
  bool SetValue(const TIntfPtr<IInterface>& AImage);
  TIntfPtr<IInterface> GetImage() const;
};

// The handler behind the image sinks (exposed for pins of other bases).
TFTBasicPinNotificationEvent FTImageChangeHandler(TFTBasicPin* APin, TFTImageChangeEvent AOnImageChange);

// Sends pairs of buffers.
class TNXFTPairedSourcePin : public TNXFTClockableSourcePin {
  NX_FT_PIN_CLASS(TNXFTPairedSourcePin, TNXFTClockableSourcePin, NX_FT_KIND(IFTPairedBufferStream))

 public:
  using TNXFTClockableSourcePin::TNXFTClockableSourcePin;
  bool SubmitPair(const TIntfPtr<IBufferPair>& APair) { return Notify(TFTSuppliedBufferPairOperation::Make(APair)); }
};

// Sends real buffers; a sink linked by a single-value kind (one double or
// one single) receives the last sample of each buffer instead.
class TNXFTRealSourcePin : public TNXFTClockableSourcePin {
  NX_FT_PIN_CLASS(TNXFTRealSourcePin, TNXFTClockableSourcePin, NX_FT_KIND(IFTRealBufferStream),
                  NX_FT_KIND(IFTRealStream), NX_FT_KIND(IFTFloatStream))

 public:
  using TNXFTClockableSourcePin::TNXFTClockableSourcePin;
  bool Notify(const TIntfPtr<IFTNotifyOperation>& AOperation) override;
  TFTBasicPinNotificationEvent HandlerFor(const TGUID& AID) const override;

 protected:
  void DoConnected(TFTBasicPin* APeer) override;

 private:
  // Whether a link may use a single-value kind: set when such a link is
  // about to be made, cleared when a new link finds none (a stale true only
  // costs a look at the links).
  mutable std::atomic<bool> FValueLinks{false};
};

// Sends real buffers with a value range; a sink linked later receives the
// last range at once (none after a stop).
class TNXFTRealRangedSourcePin : public TNXFTRealSourcePin {
  NX_FT_PIN_CLASS(TNXFTRealRangedSourcePin, TNXFTRealSourcePin, NX_FT_KIND(IFTRangedRealBufferStream))

 public:
  using TNXFTRealSourcePin::TNXFTRealSourcePin;
  ~TNXFTRealRangedSourcePin() override;
  bool Notify(const TIntfPtr<IFTNotifyOperation>& AOperation) override;
  TIntfPtr<IFTNotifyOperation> GetRangeOperation() const;

 protected:
  void DoConnected(TFTBasicPin* APeer) override;

 private:
  TIntfPtr<IFTNotifyOperation> FRangeOperation;  // under the pin lock
};

// A real source that also sends single values.
class TNXFTComboRealSourcePin : public TNXFTRealSourcePin {
  NX_FT_PIN_CLASS(TNXFTComboRealSourcePin, TNXFTRealSourcePin, NX_FT_KIND(IFTClockStream))

 public:
  using TNXFTRealSourcePin::TNXFTRealSourcePin;
  bool SubmitFloat(float AValue) { return Notify(TFTSuppliedFloatOperation::Make(AValue)); }
  bool SubmitReal(double AValue) { return Notify(TFTSuppliedRealOperation::Make(AValue)); }
};

// A real sink that also takes single values.
class TNXFTComboRealSinkPin : public TNXFTRealSinkPin {
  NX_FT_PIN_CLASS(TNXFTComboRealSinkPin, TNXFTRealSinkPin, NX_FT_KIND(IFTFloatStream), NX_FT_KIND(IFTRealStream))

 public:
  using TNXFTRealSinkPin::TNXFTRealSinkPin;
  bool IsConnectedToRealBufferStream() const noexcept { return IsConnectedByIDs({IFTRealBufferStream::IID}); }
  bool IsConnectedToSingleRealStream() const noexcept { return IsConnectedByIDs({IFTRealStream::IID}); }
};

NX_FT_TYPED_PIN(TNXFTComboRealIntSinkPin, TNXFTComboRealSinkPin, NX_FT_KIND(IFTIntegerBufferStream),
                NX_FT_KIND(IFTUnsignedBufferStream), NX_FT_KIND(IFTIntegerStream), NX_FT_KIND(IFTCardinalStream))
NX_FT_TYPED_PIN(TNXFTComboRealIntMatrixSinkPin, TNXFTComboRealIntSinkPin, NX_FT_KIND(IFTRealMatrixStream))
NX_FT_TYPED_PIN(TNXFTComboRealAndMatrixSinkPin, TNXFTRealSinkPin, NX_FT_KIND(IFTRealMatrixStream))
NX_FT_TYPED_PIN(TNXFTComboRealIntComplexBoolPairedSinkPin, TNXFTComboRealIntSinkPin,
                NX_FT_KIND(IFTPairedBufferStream), NX_FT_KIND(IFTComplexBufferStream),
                NX_FT_KIND(IFTBooleanBufferStream))

// A source of byte-channel data of any element kind; every send goes to
// each link through the channel handler (the default channel handler
// unless one is set).
class TNXFTChannelSourcePin : public TNXFTClockableSourcePin {
  NX_FT_PIN_CLASS(TNXFTChannelSourcePin, TNXFTClockableSourcePin, NX_FT_KIND(IFTUnsignedBufferStream),
                  NX_FT_KIND(IFTIntegerBufferStream), NX_FT_KIND(IFTBinaryBufferStream),
                  NX_FT_KIND(IFTGenericBufferStream), NX_FT_KIND(IFTComplexBufferStream),
                  NX_FT_KIND(IFTRealBufferStream))

 public:
  using TNXFTClockableSourcePin::TNXFTClockableSourcePin;
  ~TNXFTChannelSourcePin() override;
  bool Notify(const TIntfPtr<IFTNotifyOperation>& AOperation) override;
  void SetDispatchEvent(TNXDispatchEvent AEvent);
  // The largest sample size of the kinds of the linked sinks, at least 1.
  std::int32_t GetMaxSampleSize() const;

 private:
  TNXDispatchEvent FDispatchEvent;  // under the pin lock
};

#undef NX_FT_TYPED_PIN
#undef NX_FT_KIND

// ---------------------------------------------------------------- class defaults

// The class defaults of a pin class: what every pin of the class is before
// one exists. A host (the designer's palette, a form loader) reads them to
// show which kinds a pin class takes and sends, and in which order a link
// would choose among them, without making a pin; the pins read the short
// name when they take their name from a property name. The start-up section
// registers every pin class of this unit (none carries a short name);
// component packages register their own pin classes, with their short
// names, in their start-up sections. Everything but the short name follows
// from the class itself, so it cannot disagree with the pins.
struct TNXFTPinClassDefaults {
  const TFTPinClass* Class = nullptr;
  bool IsSource = false;
  bool MultiLink = false;        // takes any number of links (every source; multi-sinks)
  bool Clockable = false;        // a source whose pins always take clock inputs
  bool IgnoresUpstream = false;  // its pins are never handed operations travelling upstream
  bool AdoptsPeerKinds = false;  // a universal pin: also takes the kinds of its peer
  std::vector<TGUID> StreamTypes;  // the kinds of a new pin, in its order of preference
  std::string ShortName;         // taken for "OutputPin" / "InputPin"; empty when none
};

// Registers (or replaces) the defaults of AClass, a class derived from
// TNXFTSourcePin, TNXFTSinkPin or TNXFTMultiSinkPin.
void NXFTRegisterClassDefaults(const TFTPinClass& AClass, std::string AShortName = {});
void NXFTUnregisterClassDefaults(const TFTPinClass& AClass);
// The defaults of AClass, or of the class named AClassName; false when not registered.
bool NXFTGetClassDefaults(const TFTPinClass& AClass, TNXFTPinClassDefaults& ADefaults);
bool NXFTFindClassDefaults(const std::string& AClassName, TNXFTPinClassDefaults& ADefaults);
// The names of the registered classes, in registration order.
std::vector<std::string> NXFTGetRegisteredPinClasses();
// The short name registered for AClass or, failing that, its nearest
// registered ancestor with one; empty when none.
std::string NXFTGetClassShortName(const TFTPinClass& AClass);

// ---------------------------------------------------------------- format converters

// The converter classes registered at start-up, in order of preference.
std::span<const TFTFormatConverterClass> NXFTFormatConverterClasses();

// ---------------------------------------------------------------- scale tick text

// The labels of a displayed scale (NXStreamTypesTickText.cpp). The decimal
// separator is that of the process's current C locale (LC_NUMERIC).

// How many decimals a label needs so that APrecision significant digits show
// across the scale's range |AMax - AMin| (the order of the bounds does not
// matter). ASignificantOnly returns APrecision as it is; a precision of 0 or
// less, or an empty, NaN or infinite range gives 0; never negative. A result
// outside the signed 32-bit range raises ERangeError.
std::int32_t NXGetDecimalPoints(double AMax, double AMin, std::int32_t APrecision, bool ASignificantOnly);
// The label of AValue on the scale AMin .. AMax (bounds in either order).
// Scientific: ANumDigits significant digits when AFixedPrecision, else 15,
// written d.dddE+ddd (at least three exponent digits). Otherwise fixed: exactly
// ANumDigits decimals when AFixedPrecision, else as many as keep ANumDigits
// significant digits over the range; a value too large for fixed notation
// (1e18 and above) comes out in the scientific form, and on a fixed-precision
// scale that form is shortened by NXReduceExponentPrecision. ANumDigits above
// the largest signed 32-bit value raises ERangeError.
std::string NXGetScaleTickText(double AValue, double AMin, double AMax, bool AFixedPrecision, std::uint32_t ANumDigits,
                               bool AIsScientific);
// Keeps APrecision digits after the decimal separator of a label in exponent
// notation ("1.2345E20", 2 -> "1.23E20") and removes leading zeros of an
// unsigned exponent ("1.5E005" -> "1.5E5").
std::string NXReduceExponentPrecision(const std::string& AText, std::int32_t APrecision);

namespace NXStreamTypes {
// Start-up: the stream-type registry, the default channel handlers, the
// format converters and the class defaults of the unit's pin classes;
// finalization removes them.
void UnitInitialize();
void UnitFinalize();
}  // namespace NXStreamTypes

}  // namespace nx
