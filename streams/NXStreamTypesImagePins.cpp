// The image pins of NXStreamTypes: images sent, received and held as plain
// interfaces.
#include "streams/NXStreamTypes.h"

namespace nx {

TFTBasicPinNotificationEvent FTImageChangeHandler(TFTBasicPin* APin, TFTImageChangeEvent AOnImageChange) {
  return [APin, event = std::move(AOnImageChange)](TFTBasicPin*, IFTStream*, const TGUID&,
                                             const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState) {
    auto* op = AOperation ? AOperation->As<TFTGDIPlusSuppliedImageOperation>() : nullptr;
    if (!op) return false;
    if (event) event(APin, op->GetImage());
    return true;
  };
}

TFTGDIPlusImageSinkPin::TFTGDIPlusImageSinkPin(std::string AName, TFTImageChangeEvent AOnImageChange)
    : TFTDispatchSinkPin(std::move(AName), FTImageChangeHandler(this, std::move(AOnImageChange))) {}

TFTGDIPlusImageMultiSinkPin::TFTGDIPlusImageMultiSinkPin(std::string AName, TFTImageChangeEvent AOnImageChange)
    : TFTDispatchMultiSinkPin(std::move(AName), FTImageChangeHandler(this, std::move(AOnImageChange))) {}

bool TFTGDIPlusImageStatePin::SetValue(const TIntfPtr<IInterface>& AImage) {
  return TFTStatePin::SetValue(AImage ? TFTGDIPlusSuppliedImageOperation::Make(AImage)
                                      : TIntfPtr<IFTNotifyOperation>());
}

TIntfPtr<IInterface> TFTGDIPlusImageStatePin::GetImage() const {
  const TIntfPtr<IFTNotifyOperation> value = GetValue();
  auto* op = value ? value->As<TFTGDIPlusSuppliedImageOperation>() : nullptr;
  return op ? op->GetImage() : TIntfPtr<IInterface>();
}

}  // namespace nx
