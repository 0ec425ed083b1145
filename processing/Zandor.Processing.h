// Zandor.Processing: how a component obtains the means to spread its work
// over several threads or an OpenCL device. The component owns a
// TRGProcessing property object with an ordered list of processing engines:
//   - TRGParallelProcessingEngine hands out a thread pool (or, with its pool
//     disabled, a single worker thread) and a memory stride size;
//   - TRGGPUProcessingEngine hands out an OpenCL context on every device of
//     the chosen platform, and the platform.
// GetEngines asks the enabled engines in order and takes the first answer.
// When none answers, the request travels as a
// TFTProcessingEngineRequestOperation through the object's processing sink
// pin to whatever is linked there (a processing manager, RGProcessingManager),
// which fills the operation in place before the send returns.
//
// What GetEngines hands out belongs to the caller: the executor is a
// component owned by AOwner (freeing AOwner ends its threads after its
// queued work); context and platform are reference-counted interfaces.
// Every call makes new ones: nothing is kept here.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/Zandor.Components.h"
#include "runtime/Zandor.Function.h"
#include "runtime/Zandor.OpenCL.h"
#include "runtime/Zandor.Threading.h"
#include "runtime/Zandor.Types.h"
#include "streams/NXStreamTypes.h"

namespace nx {

// ---------------------------------------------------------------- the control stream

// The display name of the processing control stream.
inline constexpr const char* kFTProcessingControlStreamName = "Processing Control";

// The stream (pin data type) of both processing pins. A processing source
// pin hands what arrives from its sinks to ProcessingDispatch of its stream.
struct IFTProcessingControlStream : virtual IFTStream {
  NX_INTERFACE_ID(IFTProcessingControlStream, "{8C2E5A17-3F94-4D6B-B0E1-6A7D2C9F4E35}");
  // ASender: the pin that sent the operation; AOther: the receiving pin.
  // Returns whether the operation was handled.
  virtual bool ProcessingDispatch(TFTBasicPin* ASender, TFTBasicPin* AOther, const TGUID& AStreamID,
                                  const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) = 0;
};

// The engine request. It is sent with every field empty; the answering
// manager writes the fields on the sending thread before the send returns,
// so they need no lock of their own.
class TFTProcessingEngineRequestOperation : public TFTNotifyOperation {
  NX_FT_OPERATION(TFTProcessingEngineRequestOperation, TFTNotifyOperation)

 public:
  static TIntfPtr<IFTNotifyOperation> Make() {
    return TIntfPtr<IFTNotifyOperation>(new TFTProcessingEngineRequestOperation());
  }

  TIntfPtr<IExecutor> Executor;
  std::int32_t StrideSize = 0;
  TIntfPtr<IOCLContext> Context;
  TIntfPtr<IOCLPlatform> Platform;
};

// ---------------------------------------------------------------- pins

// The processing sink pin of a TRGProcessing: sends engine requests upstream
// to the processing source pin it is linked to. It links only to processing
// source pins (never to a signal pin, whatever the signal sink base takes).
class TFTRGProcessingSinkPin : public TNXFTSinkPin {
  NX_FT_PIN_CLASS(TFTRGProcessingSinkPin, TNXFTSinkPin, FTDataTypeAttribute(IFTProcessingControlStream::IID))

 public:
  // AStream: the stream object of the pin (the TRGProcessing).
  explicit TFTRGProcessingSinkPin(IFTStream* AStream, std::string AName = "ProcessingPin");
  ~TFTRGProcessingSinkPin() override;
  std::vector<TGUID> LinkTypes(const TFTBasicPin& APeer) const override;
};

// The processing source pin of a processing manager: any number of
// processing sinks link to it (AMaxConnections < 0: no limit). Requests that
// arrive go to IntNotificationHandler (or, when given, to
// APinNotificationEvent), which hands them to ProcessingDispatch of the
// pin's stream when that stream is an IFTProcessingControlStream.
class TFTRGProcessingSourcePin : public TFTDispatchSourcePin {
  NX_FT_PIN_CLASS(TFTRGProcessingSourcePin, TFTDispatchSourcePin,
                  FTDataTypeAttribute(IFTProcessingControlStream::IID))

 public:
  using TOnCreated = std::function<void(TFTRGProcessingSourcePin* APin)>;
  // AOnCreated runs at the end of the constructor (the owner stores the pin
  // there); AStream becomes the pin's stream object.
  TFTRGProcessingSourcePin(const TOnCreated& AOnCreated, IChangeNotifyLock* AOwnerLock, std::int32_t AMaxConnections,
                           IFTStream* AStream, TFTBasicPinNotificationEvent APinNotificationEvent = {},
                           std::string AName = "ProcessingPin");
  ~TFTRGProcessingSourcePin() override;
  IChangeNotifyLock* OwnerLock() const noexcept { return FOwnerLock; }

 protected:
  // Returns false in every case: a request is answered in place, not handled.
  virtual bool IntNotificationHandler(TFTBasicPin* ASender, IFTStream* AStream, const TGUID& AStreamID,
                                      const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState);
  std::int32_t MaxLinks() const noexcept override { return FMaxLinks; }

 private:
  IChangeNotifyLock* FOwnerLock;
  std::int32_t FMaxLinks;
};

// ---------------------------------------------------------------- engines

// An abstract processing engine: an item of TRGProcessingEngines with the
// published Enabled flag (default true) and the enable interface.
class TRGProcessingEngine : public TLockCollectionItem, public IEnable {
  NX_PERSISTENT(TRGProcessingEngine, TLockCollectionItem)
  NX_INTERFACES(TLockCollectionItem, IEnable)

 public:
  explicit TRGProcessingEngine(TPersistent* ACollection) : TLockCollectionItem(ACollection) { InitProperties(this); }
  static void DeclareProperties(TClassBuilder<TRGProcessingEngine>& P);

  bool Enabled() const { return ReadLocked(FEnabled); }
  void SetEnabled(bool AValue) { SetNotify(FEnabled, AValue); }
  bool GetHasEnable() override { return true; }
  bool GetCanDisable() override { return true; }
  bool GetIsEnabled() override { return Enabled(); }
  void SetIsEnabled(bool AValue) override { SetEnabled(AValue); }

  // Fills what this engine offers into the out-arguments and returns whether
  // it could; the out-arguments it does not offer stay as they were.
  virtual bool GetEngines(TComponent* AOwner, TIntfPtr<IExecutor>& AExecutor, std::int32_t& AStrideSize,
                          TIntfPtr<IOCLContext>& AContext, TIntfPtr<IOCLPlatform>& APlatform) = 0;

 private:
  bool FEnabled;
};

// The thread pool settings of a parallel engine: enabled, a pool of Count
// threads taking up to GroupSize tasks at a time; disabled, one thread.
class TRGParallelProcessingPool : public TEnabledPersistent {
  NX_PERSISTENT(TRGParallelProcessingPool, TEnabledPersistent)

 public:
  explicit TRGParallelProcessingPool(TPersistent* AOwner) : TEnabledPersistent(AOwner) { InitProperties(this); }
  static void DeclareProperties(TClassBuilder<TRGParallelProcessingPool>& P);

  std::int32_t Count() const { return ReadLocked(FCount); }
  // A value below 1 is stored as 1.
  void SetCount(std::int32_t AValue) { SetNotifyMin(FCount, AValue, std::int32_t{1}); }
  std::uint32_t GroupSize() const { return ReadLocked(FGroupSize); }
  void SetGroupSize(std::uint32_t AValue) { SetNotify(FGroupSize, AValue); }

 private:
  std::int32_t FCount;
  std::uint32_t FGroupSize;
};

// The CPU engine: hands out an executor owned by AOwner and the stride.
class TRGParallelProcessingEngine : public TRGProcessingEngine {
  NX_PERSISTENT(TRGParallelProcessingEngine, TRGProcessingEngine)

 public:
  // The pool executor's priority setting. The engine's own Priority is
  // stored and streamed for the components that read it; the pool always
  // gets this value.
  static constexpr TThreadPriority kPoolPriority = static_cast<TThreadPriority>(5);

  explicit TRGParallelProcessingEngine(TPersistent* ACollection) : TRGProcessingEngine(ACollection) {
    InitProperties(this);
  }
  static void DeclareProperties(TClassBuilder<TRGParallelProcessingEngine>& P);
  std::string GetDisplayName() const override { return "Parallel Processing"; }

  TRGParallelProcessingPool& Pool() const noexcept { return *FPool; }
  // Copies the settings of APool into the owned pool.
  void SetPool(const TRGParallelProcessingPool& APool) { FPool->Assign(APool); }
  std::uint32_t MemoryStrideSize() const { return ReadLocked(FMemoryStrideSize); }
  void SetMemoryStrideSize(std::uint32_t AValue) { SetNotify(FMemoryStrideSize, AValue); }
  TThreadPriority Priority() const { return ReadLocked(FPriority); }
  void SetPriority(TThreadPriority AValue) { SetNotify(FPriority, AValue); }

  // AStrideSize = MemoryStrideSize (ERangeError above 2147483647), AExecutor
  // = a new pool (Pool enabled) or thread executor owned by AOwner; true.
  bool GetEngines(TComponent* AOwner, TIntfPtr<IExecutor>& AExecutor, std::int32_t& AStrideSize,
                  TIntfPtr<IOCLContext>& AContext, TIntfPtr<IOCLPlatform>& APlatform) override;

 private:
  std::unique_ptr<TRGParallelProcessingPool> FPool;
  std::uint32_t FMemoryStrideSize;
  TThreadPriority FPriority;
};

// The OpenCL engine: hands out a context on every device of one platform.
class TRGGPUProcessingEngine : public TRGProcessingEngine {
  NX_PERSISTENT(TRGGPUProcessingEngine, TRGProcessingEngine)

 public:
  // The Platform value that means the first platform found.
  static constexpr const char* kDefaultPlatform = "Default";

  explicit TRGGPUProcessingEngine(TPersistent* ACollection) : TRGProcessingEngine(ACollection) {
    InitProperties(this);
  }
  static void DeclareProperties(TClassBuilder<TRGGPUProcessingEngine>& P);
  std::string GetDisplayName() const override { return "GPU Processing"; }

  std::string Platform() const { return ReadLocked(FPlatform); }
  void SetPlatform(const std::string& AValue) { SetNotify(FPlatform, AValue); }
  // The names of the OpenCL platforms in enumeration order.
  std::vector<std::string> GetPlatforms() const;
  // What an editor offers for Platform: "Default", then GetPlatforms.
  std::vector<std::string> GetPlatformValues() const;

  // The platform named Platform ("Default", exactly: the first one) and a
  // new context on all its devices; false, leaving the out-arguments as they
  // were, when there is no such platform or it has no device.
  bool GetEngines(TComponent* AOwner, TIntfPtr<IExecutor>& AExecutor, std::int32_t& AStrideSize,
                  TIntfPtr<IOCLContext>& AContext, TIntfPtr<IOCLPlatform>& APlatform) override;

 private:
  std::string FPlatform;
};

// The ordered, user-edited list of engines (items of any registered engine class).
class TRGProcessingEngines : public TTypedPersistentCollection<TRGProcessingEngine> {
  NX_PERSISTENT(TRGProcessingEngines, TTypedPersistentCollection<TRGProcessingEngine>)

 public:
  explicit TRGProcessingEngines(TPersistent* AOwner) : TTypedPersistentCollection(AOwner) {}
};

// ---------------------------------------------------------------- the property object

class TRGProcessing : public TLockPersistent, public IFTProcessingControlStream {
  NX_PERSISTENT(TRGProcessing, TLockPersistent)
  NX_INTERFACES(TLockPersistent, IFTStream, IFTProcessingControlStream)

 public:
  explicit TRGProcessing(TPersistent* AOwner);
  ~TRGProcessing() override;
  static void DeclareProperties(TClassBuilder<TRGProcessing>& P);

  TFTRGProcessingSinkPin& ProcessingPin() const noexcept { return *FProcessingPin; }
  TRGProcessingEngines& Engines() const noexcept { return *FEngines; }
  // Copies the engine list of AEngines (items recreated) into the owned list.
  void SetEngines(const TRGProcessingEngines& AEngines) { FEngines->Assign(AEngines); }

  // The means of processing for AOwner: the first enabled engine that
  // answers, else the answer to a request sent through ProcessingPin (empty
  // when nothing is linked). True when an executor or a context was handed out.
  bool GetEngines(TComponent* AOwner, TIntfPtr<IExecutor>& AExecutor, std::int32_t& AStrideSize,
                  TIntfPtr<IOCLContext>& AContext, TIntfPtr<IOCLPlatform>& APlatform);

  // The stream of the sink pin answers nothing.
  TFTBasicPin* GetPin() noexcept override { return FProcessingPin.get(); }
  bool ProcessingDispatch(TFTBasicPin* ASender, TFTBasicPin* AOther, const TGUID& AStreamID,
                          const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) override {
    return false;
  }

 private:
  void PinCreated(TFTRGProcessingSinkPin* APin);
  TFTPinPtr<TFTRGProcessingSinkPin> FProcessingPin;
  std::unique_ptr<TRGProcessingEngines> FEngines;
};

namespace ZandorProcessing {
// Start-up: registers the classes of the unit and the two engine classes as
// the item classes of engine lists; finalization unregisters the classes.
void UnitInitialize();
void UnitFinalize();
}  // namespace ZandorProcessing

}  // namespace nx
