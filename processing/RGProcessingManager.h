// RGProcessingManager: the non-visual component that lets many components
// share one configuration of processing engines. Each consumer's
// TRGProcessing has a processing sink pin; linked to the manager's
// ProcessingPin, a request its own engines cannot answer arrives here and is
// answered from the manager's own Processing, with the manager as the owner
// of the executor made for it. The manager's Processing has its own sink
// pin, so a manager whose engines answer nothing passes the request on to a
// manager further up.
#pragma once

#include <cstdint>
#include <memory>

#include "components/NXPinOwner.h"
#include "processing/Zandor.Processing.h"
#include "runtime/Zandor.Components.h"

namespace nx {

class TRGProcessingManager : public TLockComponent, public IFTProcessingControlStream, public INXPinOwner {
  NX_PERSISTENT(TRGProcessingManager, TLockComponent)
  NX_INTERFACES(TLockComponent, IFTStream, IFTProcessingControlStream)

 public:
  explicit TRGProcessingManager(TComponent* AOwner);
  ~TRGProcessingManager() override;
  static void DeclareProperties(TClassBuilder<TRGProcessingManager>& P);

  TFTRGProcessingSourcePin& ProcessingPin() const noexcept { return *FProcessingPin; }
  TRGProcessing& Processing() const noexcept { return *FProcessing; }
  // Copies the settings of AProcessing into the owned one.
  void SetProcessing(const TRGProcessing& AProcessing) { FProcessing->Assign(AProcessing); }

  // An engine request is answered from Processing (with this manager as the
  // executor's owner) by writing into the operation; anything else is
  // ignored. Returns false in every case.
  bool ProcessingDispatch(TFTBasicPin* ASender, TFTBasicPin* AOther, const TGUID& AStreamID,
                          const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState AState) override;
  TFTBasicPin* GetPin() noexcept override { return FProcessingPin.get(); }

  // The pins a graph document links: the source pin, then Processing's sink pin.
  std::int32_t GetPinCount() const override { return 2; }
  TFTBasicPin* GetPin(std::int32_t AIndex) const override;

 private:
  void PinCreated(TFTRGProcessingSourcePin* APin);
  TFTPinPtr<TFTRGProcessingSourcePin> FProcessingPin;
  std::unique_ptr<TRGProcessing> FProcessing;
};

namespace RGProcessingManager {
// Start-up: registers the manager as a design-time component.
void UnitInitialize();
void UnitFinalize();
}  // namespace RGProcessingManager

}  // namespace nx
