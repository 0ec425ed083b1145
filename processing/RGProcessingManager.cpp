// RGProcessingManager: the processing manager component (see the header).
#include "processing/RGProcessingManager.h"

#include "runtime/NXPackage.h"
#include "runtime/Zandor.Design.h"

namespace nx {

TRGProcessingManager::TRGProcessingManager(TComponent* AOwner) : TLockComponent(AOwner) {
  InitProperties(this);
  new TFTRGProcessingSourcePin([this](TFTRGProcessingSourcePin* APin) { PinCreated(APin); }, GetLock(), -1,
                               static_cast<IFTProcessingControlStream*>(this));
  // Pin names are unique within a component: the sink of the owned
  // Processing is named by its path.
  FProcessing->ProcessingPin().SetName("Processing.ProcessingPin");
}

TRGProcessingManager::~TRGProcessingManager() {
  // Requests stop arriving before the engines go.
  FProcessingPin.reset();
}

void TRGProcessingManager::PinCreated(TFTRGProcessingSourcePin* APin) {
  NX_ASSERT(!FProcessingPin);
  FProcessingPin.reset(APin);
}

void TRGProcessingManager::DeclareProperties(TClassBuilder<TRGProcessingManager>& P) {
  P.Prop<&TRGProcessingManager::FProcessing>("Processing");
}

bool TRGProcessingManager::ProcessingDispatch(TFTBasicPin*, TFTBasicPin*, const TGUID&,
                                              const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState) {
  if (!AOperation) return false;
  auto* request = AOperation->As<TFTProcessingEngineRequestOperation>();
  if (!request) return false;
  // The answer goes straight into the request; whether it succeeded is the
  // requester's to see from the fields. Requests of several consumers are
  // answered one at a time: each adds an executor to this component's owned
  // components.
  TWriteLock guard(GetLock());
  FProcessing->GetEngines(this, request->Executor, request->StrideSize, request->Context, request->Platform);
  return false;
}

TFTBasicPin* TRGProcessingManager::GetPin(std::int32_t AIndex) const {
  switch (AIndex) {
    case 0: return FProcessingPin.get();
    case 1: return &FProcessing->ProcessingPin();
    default: RaiseIndexOutOfRange(AIndex);
  }
}

namespace RGProcessingManager {

void UnitInitialize() { RegisterComponents("Processing", {&TRGProcessingManager::StaticClassInfo()}); }

void UnitFinalize() { UnregisterComponent(TRGProcessingManager::StaticClassInfo()); }

}  // namespace RGProcessingManager

}  // namespace nx

NX_PACKAGE_UNIT(RGProcessingManager, &nx::RGProcessingManager::UnitInitialize, &nx::RGProcessingManager::UnitFinalize)
