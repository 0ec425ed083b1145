// NXRealMultiInputFilter: the multi-input authoring base's hooks.
#include "components/NXRealMultiInputFilter.h"

#include <algorithm>
#include <string>

namespace nx {

NX_PERSISTENT_IMPL(TNXRealMultiInputFilter)

TNXRealMultiInputFilter::TNXRealMultiInputFilter(TComponent* AOwner) : TNXRealMultiInput(AOwner) {
  InitProperties(this);
}

void TNXRealMultiInputFilter::DeclareProperties(TClassBuilder<TNXRealMultiInputFilter>& P) {
  P.Prop<&TNXRealMultiInputFilter::GetInputCountProp, &TNXRealMultiInputFilter::SetInputCountProp>("InputCount",
                                                                                                  std::int32_t(2))
      .Min(std::int32_t(1))
      .Max(std::int32_t(256));
}

void TNXRealMultiInputFilter::SetInputCountProp(std::int32_t AValue) {
  AValue = std::max(AValue, std::int32_t(1));
  if (AValue == GetInputCount()) return;
  SetInputCount(AValue);
  // Pins are named by position: the base numbers them as they are made, so
  // that a count lowered and raised again would skip numbers.
  TWriteLock guard(GetLock());
  for (std::int32_t i = 0; i < GetInputCount(); ++i) GetInputPin(i)->SetName("InputPin" + std::to_string(i + 1));
  Changed();
}

// The inputs come and go with InputCount: they are listed from the base's
// own list rather than registered one by one.
std::int32_t TNXRealMultiInputFilter::GetPinCount() const { return GetInputCount() + 1; }

TFTBasicPin* TNXRealMultiInputFilter::GetPin(std::int32_t AIndex) const {
  if (AIndex >= 0 && AIndex < GetInputCount()) return GetInputPin(AIndex);
  if (AIndex == GetInputCount()) return &const_cast<TNXRealMultiInputFilter*>(this)->OutputPin();
  return nullptr;
}

void TNXRealMultiInputFilter::CalculateRate() {
  TWriteLock guard(GetLock());
  TNXRealMultiInput::CalculateRate();
  if (FStarted || !IsRunning()) return;
  FStarted = true;
  OnStart(GetCalculatedRate());
}

void TNXRealMultiInputFilter::Stop() {
  TWriteLock guard(GetLock());
  TNXRealMultiInput::Stop();
  if (!FStarted) return;
  FStarted = false;
  OnStop();
}

bool TNXRealMultiInputFilter::CalculateSendOutput(std::int32_t ASize) {
  TBuffer output(TNXRealBuffer::MakeSize(static_cast<std::uint32_t>(ASize)));
  OnProcess(output);
  if (output) OutputPin().SubmitBuffer(TIntfPtr<INXData>(output));
  return true;  // the inputs gave their samples, linked or not
}

}  // namespace nx
