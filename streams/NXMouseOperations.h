// NXMouseOperations: the pointer events a display sends upstream from its
// user-control pin: enter, leave, move, wheel and button, each with the
// modifier keys and the position in the display's pixels.
#pragma once

#include <cstdint>

#include "runtime/Zandor.MouseState.h"
#include "streams/FTStdTypes.h"

namespace nx {

class TFTNXSuppliedBasicMouseOperation : public TFTSuppliedOperation {
  NX_FT_SIMPLE_OPERATION(TFTNXSuppliedBasicMouseOperation, TFTSuppliedOperation)
};
class TFTNXSuppliedMouseEnterOperation : public TFTNXSuppliedBasicMouseOperation {
  NX_FT_SIMPLE_OPERATION(TFTNXSuppliedMouseEnterOperation, TFTNXSuppliedBasicMouseOperation)
};
class TFTNXSuppliedMouseLeaveOperation : public TFTNXSuppliedBasicMouseOperation {
  NX_FT_SIMPLE_OPERATION(TFTNXSuppliedMouseLeaveOperation, TFTNXSuppliedBasicMouseOperation)
};

// The pointer's position with the modifier keys.
class TFTNXSuppliedMouseOperation : public TFTNXSuppliedBasicMouseOperation {
  NX_FT_OPERATION(TFTNXSuppliedMouseOperation, TFTNXSuppliedBasicMouseOperation)

 public:
  TFTNXSuppliedMouseOperation(TShiftState AShift, std::int32_t AX, std::int32_t AY) noexcept
      : FShift(AShift), FX(AX), FY(AY) {}
  static TIntfPtr<IFTNotifyOperation> Make(TShiftState AShift, std::int32_t AX, std::int32_t AY) {
    return FTMakeOperation<TFTNXSuppliedMouseOperation>(AShift, AX, AY);
  }
  TShiftState GetShift() const noexcept { return FShift; }
  std::int32_t GetX() const noexcept { return FX; }
  std::int32_t GetY() const noexcept { return FY; }

 private:
  const TShiftState FShift;
  const std::int32_t FX, FY;
};

#define NX_FT_MOUSE_OPERATION(Self)                                                    \
  class Self : public TFTNXSuppliedMouseOperation {                                    \
    NX_FT_OPERATION(Self, TFTNXSuppliedMouseOperation)                                 \
   public:                                                                             \
    using TFTNXSuppliedMouseOperation::TFTNXSuppliedMouseOperation;                    \
    static TIntfPtr<IFTNotifyOperation> Make(TShiftState AShift, std::int32_t AX, std::int32_t AY) { \
      return FTMakeOperation<Self>(AShift, AX, AY);                                    \
    }                                                                                  \
  };
NX_FT_MOUSE_OPERATION(TFTNXSuppliedMouseMoveOperation)
NX_FT_MOUSE_OPERATION(TFTNXSuppliedMouseWheelUpOperation)
NX_FT_MOUSE_OPERATION(TFTNXSuppliedMouseWheelDownOperation)
#undef NX_FT_MOUSE_OPERATION

class TFTNXSuppliedMouseButtonOperation : public TFTNXSuppliedMouseOperation {
  NX_FT_OPERATION(TFTNXSuppliedMouseButtonOperation, TFTNXSuppliedMouseOperation)

 public:
  TFTNXSuppliedMouseButtonOperation(TMouseButton AButton, TShiftState AShift, std::int32_t AX, std::int32_t AY) noexcept
      : TFTNXSuppliedMouseOperation(AShift, AX, AY), FButton(AButton) {}
  static TIntfPtr<IFTNotifyOperation> Make(TMouseButton AButton, TShiftState AShift, std::int32_t AX, std::int32_t AY) {
    return FTMakeOperation<TFTNXSuppliedMouseButtonOperation>(AButton, AShift, AX, AY);
  }
  TMouseButton GetButton() const noexcept { return FButton; }

 private:
  const TMouseButton FButton;
};

#define NX_FT_BUTTON_OPERATION(Self)                                                   \
  class Self : public TFTNXSuppliedMouseButtonOperation {                              \
    NX_FT_OPERATION(Self, TFTNXSuppliedMouseButtonOperation)                           \
   public:                                                                             \
    using TFTNXSuppliedMouseButtonOperation::TFTNXSuppliedMouseButtonOperation;        \
    static TIntfPtr<IFTNotifyOperation> Make(TMouseButton AButton, TShiftState AShift, std::int32_t AX, \
                                             std::int32_t AY) {                        \
      return FTMakeOperation<Self>(AButton, AShift, AX, AY);                           \
    }                                                                                  \
  };
NX_FT_BUTTON_OPERATION(TFTNXSuppliedMouseButtonDownOperation)
NX_FT_BUTTON_OPERATION(TFTNXSuppliedMouseButtonUpOperation)
#undef NX_FT_BUTTON_OPERATION

}  // namespace nx
