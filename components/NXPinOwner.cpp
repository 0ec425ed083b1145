// NXPinOwner: the registered pins of a component (see the header).
#include "components/NXPinOwner.h"

#include <algorithm>

#include "runtime/SysUtils.h"

namespace nx {

std::int32_t INXPinOwner::GetPinCount() const {
  std::lock_guard guard(FPinsLock);
  return static_cast<std::int32_t>(FPins.size());
}

TFTBasicPin* INXPinOwner::GetPin(std::int32_t AIndex) const {
  std::lock_guard guard(FPinsLock);
  if (AIndex < 0 || static_cast<std::size_t>(AIndex) >= FPins.size()) return nullptr;
  return FPins[static_cast<std::size_t>(AIndex)];
}

std::vector<TFTBasicPin*> INXPinOwner::Pins() const {
  std::vector<TFTBasicPin*> pins;
  const std::int32_t n = GetPinCount();
  for (std::int32_t i = 0; i < n; ++i)
    if (TFTBasicPin* pin = GetPin(i)) pins.push_back(pin);
  return pins;
}

TFTBasicPin* INXPinOwner::FindPin(std::string_view AName) const {
  const std::int32_t n = GetPinCount();
  for (std::int32_t i = 0; i < n; ++i) {
    TFTBasicPin* pin = GetPin(i);
    if (pin && pin->GetName() == AName) return pin;
  }
  return nullptr;
}

void INXPinOwner::AddPin(TFTBasicPin& APin) {
  std::lock_guard guard(FPinsLock);
  for (const TFTBasicPin* pin : FPins)
    if (pin == &APin || pin->GetName() == APin.GetName())
      throw Exception("A pin named \"" + APin.GetName() + "\" is registered twice with one component");
  FPins.push_back(&APin);
}

void INXPinOwner::RemovePin(const TFTBasicPin& APin) {
  std::lock_guard guard(FPinsLock);
  std::erase(FPins, &APin);
}

}  // namespace nx
