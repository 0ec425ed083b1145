// Zandor.Processing: the processing property object, its engines and the
// processing pins (see the header).
#include "processing/Zandor.Processing.h"

#include <limits>

#include "runtime/NXPackage.h"

namespace nx {

// ---------------------------------------------------------------- pins

TFTRGProcessingSinkPin::TFTRGProcessingSinkPin(IFTStream* AStream, std::string AName)
    : TNXFTSinkPin(std::move(AName)) {
  SetStream(TIntfPtr<IFTStream>(AStream));
}

TFTRGProcessingSinkPin::~TFTRGProcessingSinkPin() { Close(); }

std::vector<TGUID> TFTRGProcessingSinkPin::LinkTypes(const TFTBasicPin&) const {
  return {IFTProcessingControlStream::IID};
}

TFTRGProcessingSourcePin::TFTRGProcessingSourcePin(const TOnCreated& AOnCreated, IChangeNotifyLock* AOwnerLock,
                                                   std::int32_t AMaxConnections, IFTStream* AStream,
                                                   TFTBasicPinNotificationEvent APinNotificationEvent,
                                                   std::string AName)
    : TFTDispatchSourcePin(std::move(AName), APinNotificationEvent
                                                 ? std::move(APinNotificationEvent)
                                                 : FTMethod(this, &TFTRGProcessingSourcePin::IntNotificationHandler)),
      FOwnerLock(AOwnerLock),
      FMaxLinks(AMaxConnections < 0 ? 0 : AMaxConnections) {
  SetStream(TIntfPtr<IFTStream>(AStream));
  if (AOnCreated) AOnCreated(this);
}

TFTRGProcessingSourcePin::~TFTRGProcessingSourcePin() { Close(); }

bool TFTRGProcessingSourcePin::IntNotificationHandler(TFTBasicPin* ASender, IFTStream* AStream,
                                                      const TGUID& AStreamID,
                                                      const TIntfPtr<IFTNotifyOperation>& AOperation,
                                                      TFTNotifyState AState) {
  TIntfPtr<IFTProcessingControlStream> control;
  if (AStream && Supports(AStream, control)) control->ProcessingDispatch(ASender, this, AStreamID, AOperation, AState);
  return false;
}

// ---------------------------------------------------------------- engines

void TRGProcessingEngine::DeclareProperties(TClassBuilder<TRGProcessingEngine>& P) {
  P.Prop<&TRGProcessingEngine::FEnabled>("Enabled", true);
}

void TRGParallelProcessingPool::DeclareProperties(TClassBuilder<TRGParallelProcessingPool>& P) {
  P.Prop<&TRGParallelProcessingPool::FCount, &TRGParallelProcessingPool::SetCount>("Count", std::int32_t{4})
      .Min(std::int32_t{1});
  P.Prop<&TRGParallelProcessingPool::FGroupSize>("GroupSize", std::uint32_t{10});
}

void TRGParallelProcessingEngine::DeclareProperties(TClassBuilder<TRGParallelProcessingEngine>& P) {
  P.Prop<&TRGParallelProcessingEngine::FPool>("Pool");
  P.Prop<&TRGParallelProcessingEngine::FMemoryStrideSize>("MemoryStrideSize", std::uint32_t{10240});
  P.Prop<&TRGParallelProcessingEngine::FPriority>("Priority", tpNormal);
}

bool TRGParallelProcessingEngine::GetEngines(TComponent* AOwner, TIntfPtr<IExecutor>& AExecutor,
                                             std::int32_t& AStrideSize, TIntfPtr<IOCLContext>&,
                                             TIntfPtr<IOCLPlatform>&) {
  const std::uint32_t stride = MemoryStrideSize();
  if (stride > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))
    RaiseRange("Memory stride size out of range = %u", stride);
  AStrideSize = static_cast<std::int32_t>(stride);
  TRGParallelProcessingPool& pool = Pool();
  if (pool.Enabled()) {
    TIntfPtr<TThreadPoolExecutor> executor = TThreadPoolExecutor::MakeComponent(AOwner);
    IThreadPoolBuilder& builder = *executor;
    builder.SetPriority(kPoolPriority);
    builder.SetThreadCount(pool.Count());  // at least 1 (the setter clamps)
    builder.SetGroupSize(pool.GroupSize());
    AExecutor = TIntfPtr<IExecutor>(executor);
  } else {
    AExecutor = TIntfPtr<IExecutor>(TThreadExecutor::MakeComponent(AOwner));
  }
  return true;
}

void TRGGPUProcessingEngine::DeclareProperties(TClassBuilder<TRGGPUProcessingEngine>& P) {
  P.Prop<&TRGGPUProcessingEngine::FPlatform>("Platform", std::string(kDefaultPlatform))
      .Values<&TRGGPUProcessingEngine::GetPlatformValues>();
}

std::vector<std::string> TRGGPUProcessingEngine::GetPlatforms() const {
  std::vector<std::string> names;
  for (const TIntfPtr<IOCLPlatform>& p : TOpenCL::GetPlatforms()) names.push_back(p->GetName());
  return names;
}

std::vector<std::string> TRGGPUProcessingEngine::GetPlatformValues() const {
  std::vector<std::string> values{kDefaultPlatform};
  for (std::string& name : GetPlatforms()) values.push_back(std::move(name));
  return values;
}

bool TRGGPUProcessingEngine::GetEngines(TComponent*, TIntfPtr<IExecutor>&, std::int32_t&,
                                        TIntfPtr<IOCLContext>& AContext, TIntfPtr<IOCLPlatform>& APlatform) {
  const std::string wanted = Platform();
  const std::vector<TIntfPtr<IOCLPlatform>> platforms = TOpenCL::GetPlatforms();
  TIntfPtr<IOCLPlatform> found;
  // "Default" only in exactly this spelling; any other text is a platform name.
  if (wanted == kDefaultPlatform) {
    if (!platforms.empty()) found = platforms.front();
  } else {
    for (const TIntfPtr<IOCLPlatform>& p : platforms)
      if (p->GetName() == wanted) {
        found = p;
        break;
      }
  }
  if (!found) return false;
  // A platform without devices offers no context (making one on no device
  // would only raise): the walk goes on to the next engine.
  const std::vector<TIntfPtr<IOCLDevice>> devices = found->GetDevices();
  if (devices.empty()) return false;
  TIntfPtr<IOCLContext> context = TOCLContext::Make(devices);
  if (!context) return false;
  APlatform = found;
  AContext = std::move(context);
  return true;
}

// ---------------------------------------------------------------- TRGProcessing

TRGProcessing::TRGProcessing(TPersistent* AOwner) : TLockPersistent(AOwner) {
  InitProperties(this);
  PinCreated(new TFTRGProcessingSinkPin(this));
}

TRGProcessing::~TRGProcessing() {
  // No request may arrive at the stream once the object goes.
  FProcessingPin.reset();
}

void TRGProcessing::PinCreated(TFTRGProcessingSinkPin* APin) {
  NX_ASSERT(!FProcessingPin);
  FProcessingPin.reset(APin);
}

void TRGProcessing::DeclareProperties(TClassBuilder<TRGProcessing>& P) {
  P.Prop<&TRGProcessing::FEngines>("Engines").Editor("Edit P&rocessing Engines...");
}

bool TRGProcessing::GetEngines(TComponent* AOwner, TIntfPtr<IExecutor>& AExecutor, std::int32_t& AStrideSize,
                               TIntfPtr<IOCLContext>& AContext, TIntfPtr<IOCLPlatform>& APlatform) {
  {
    // The list stays as it is while the engines are asked (the lock is the
    // owner's and recursive; a setter on another thread waits).
    TReadLock guard(GetLock());
    const std::int32_t count = FEngines->Count();
    for (std::int32_t i = 0; i < count; ++i) {
      TRGProcessingEngine* engine = FEngines->Items(i);
      if (!engine->Enabled()) continue;
      if (engine->GetEngines(AOwner, AExecutor, AStrideSize, AContext, APlatform)) return true;
    }
  }
  // Nobody here could: ask over the pin. Sent without the lock, so that the
  // answering manager never waits for this object.
  TIntfPtr<IFTNotifyOperation> request = TFTProcessingEngineRequestOperation::Make();
  FProcessingPin->Notify(request);
  auto* answer = request->As<TFTProcessingEngineRequestOperation>();
  AExecutor = answer->Executor;
  AStrideSize = answer->StrideSize;
  AContext = answer->Context;
  APlatform = answer->Platform;
  return AExecutor || AContext;
}

// ---------------------------------------------------------------- start-up

namespace ZandorProcessing {

namespace {
std::span<const TClassInfo* const> UnitClasses() {
  static const TClassInfo* const classes[] = {
      &TRGProcessing::StaticClassInfo(), &TRGProcessingEngines::StaticClassInfo(),
      &TRGParallelProcessingPool::StaticClassInfo(), &TRGParallelProcessingEngine::StaticClassInfo(),
      &TRGGPUProcessingEngine::StaticClassInfo()};
  return classes;
}
}  // namespace

void UnitInitialize() {
  RegisterClasses(UnitClasses());
  RegisterCollectionItemClasses(TRGProcessingEngine::StaticClassInfo(),
                                {&TRGParallelProcessingEngine::StaticClassInfo(),
                                 &TRGGPUProcessingEngine::StaticClassInfo()});
}

void UnitFinalize() {
  UnregisterClasses(UnitClasses());
}

}  // namespace ZandorProcessing

}  // namespace nx

NX_PACKAGE_UNIT(ZandorProcessing, &nx::ZandorProcessing::UnitInitialize, &nx::ZandorProcessing::UnitFinalize)
