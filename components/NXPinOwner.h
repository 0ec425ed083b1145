// NXPinOwner: how a component's pins are found by name. Documents save and
// re-make links through it, the nxflow host and editors list pins through
// it. A pin owner keeps the list of its pins itself: the bases register the
// pins they make, and a component declares a pin of its own as a member
//
//   TNXOwnedPin<TNXFTRealSourcePin> FPeakPin{this, "PeakPin"};
//
// which registers it as it is made, in declaration order after the base's
// pins. No component keeps an index map of its own. A component whose pins
// come and go (a multi-input component's inputs) registers and removes
// them as it makes and frees them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/Zandor.Mutex.h"
#include "streams/FTPins.h"

namespace nx {

class INXPinOwner {
 public:
  virtual ~INXPinOwner() = default;
  // The registered pins, in registration order. An owner with a pin set of
  // another shape may override both.
  virtual std::int32_t GetPinCount() const;
  virtual TFTBasicPin* GetPin(std::int32_t AIndex) const;
  // The pin of that name (exact match); null when none. Pin names are
  // unique within one owner.
  TFTBasicPin* FindPin(std::string_view AName) const;
  // Every pin, in order (a snapshot).
  std::vector<TFTBasicPin*> Pins() const;

  // Registers a pin this owner made; it must stay alive until RemovePin or
  // the owner's end. A second pin of the same name is a programming error
  // (EComponentError-like Exception naming it).
  void AddPin(TFTBasicPin& APin);
  void RemovePin(const TFTBasicPin& APin);

 private:
  mutable std::mutex FPinsLock;  // pins come and go on the main thread while a host reads them
  std::vector<TFTBasicPin*> FPins;
};

// A pin declared as a member of a pin owner: made with its name (and any
// further arguments of the pin class) and registered with the owner at once.
// Closed and freed with the member.
template <class TPin>
class TNXOwnedPin {
 public:
  template <class... A>
  TNXOwnedPin(INXPinOwner* AOwner, std::string AName, A&&... AArgs)
      : FPin(FTMakePin<TPin>(std::move(AName), std::forward<A>(AArgs)...)), FOwner(AOwner) {
    FOwner->AddPin(*FPin);
  }
  ~TNXOwnedPin() {
    FPin->Close();
    FOwner->RemovePin(*FPin);
  }
  TNXOwnedPin(const TNXOwnedPin&) = delete;
  TNXOwnedPin& operator=(const TNXOwnedPin&) = delete;

  TPin* get() const noexcept { return FPin.get(); }
  TPin* operator->() const noexcept { return FPin.get(); }
  TPin& operator*() const noexcept { return *FPin; }

 private:
  TFTPinPtr<TPin> FPin;
  INXPinOwner* FOwner;
};

}  // namespace nx
