// Zandor.MouseState: the state of the pointer and the modifier keys as the
// platform's user interface reports them. The stream pins carry it in their
// mouse operations and the draw layers route it; both take it from here, so
// drawing needs nothing of the stream layer to handle the mouse.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace nx {

// Modifier keys and mouse buttons of the platform's user interface.
enum TShiftStateFlag : std::uint8_t { ssShift, ssAlt, ssCtrl, ssLeft, ssRight, ssMiddle, ssDouble };
class TShiftState {
 public:
  constexpr TShiftState() noexcept = default;
  constexpr TShiftState(std::initializer_list<TShiftStateFlag> AFlags) noexcept {
    for (TShiftStateFlag f : AFlags) FBits = static_cast<std::uint8_t>(FBits | (1u << f));
  }
  constexpr bool Contains(TShiftStateFlag AFlag) const noexcept { return (FBits >> AFlag) & 1u; }
  friend constexpr bool operator==(TShiftState, TShiftState) = default;

 private:
  std::uint8_t FBits = 0;
};
enum TMouseButton : std::uint8_t { mbLeft, mbRight, mbMiddle };

}  // namespace nx
