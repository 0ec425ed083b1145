// NXFilterTypes: small persistent settings shared by filter components (an
// offset, an offset with its anchor, a delay in milliseconds or samples) and
// the enumerations their properties use. The filter design enumerations
// (TNXFilterType, TNXWindowType, TNXDesignFilterType, TNXIIRFilterType,
// TNXFourierNormalization) live with the design routines in
// algorithms/NXWindowFilter.h; their names for streaming are declared here.
//
// Every setter takes the owner's change-notify lock, compares, and stores and
// notifies the owner only when the value changed.
#pragma once

#include <cstdint>

#include "algorithms/NXWindowFilter.h"
#include "runtime/Zandor.TypeInfo.h"
#include "runtime/Zandor.Types.h"

namespace nx {

enum TNXDelayMode : std::uint8_t { dmMilliseconds, dmSamples };
NX_ENUM_NAMES(TNXDelayMode, "dmMilliseconds", "dmSamples")

enum TNXCoordinateMode : std::uint8_t {
  cmLeftTop, cmLeftBottom, cmLeftCenter, cmRightTop, cmRightBottom, cmRightCenter, cmTopCenter, cmBottomCenter,
  cmCenter
};
NX_ENUM_NAMES(TNXCoordinateMode, "cmLeftTop", "cmLeftBottom", "cmLeftCenter", "cmRightTop", "cmRightBottom",
              "cmRightCenter", "cmTopCenter", "cmBottomCenter", "cmCenter")

enum TNXCombFeed : std::uint8_t { cfForward, cfBack };
NX_ENUM_NAMES(TNXCombFeed, "cfForward", "cfBack")

NX_ENUM_NAMES(TNXFilterType, "ftFIR", "ftIIR", "ftBiquadIIR")
NX_ENUM_NAMES(TNXWindowType, "wtRect", "wtBartlett", "wtBlackman", "wtHamming", "wtHanning", "wtKaiser")
NX_ENUM_NAMES(TNXDesignFilterType, "fdftLowPass", "fdftHighPass", "fdftBandPass", "fdftBandStop")
NX_ENUM_NAMES(TNXIIRFilterType, "iirBessel", "iirButterworth", "iirChebyshev")

enum TNXLevelDetectMode : std::uint8_t { dmAbove, dmAboveEqual, dmBelow, dmBelowEqual };
NX_ENUM_NAMES(TNXLevelDetectMode, "dmAbove", "dmAboveEqual", "dmBelow", "dmBelowEqual")

NX_ENUM_NAMES(TNXFourierNormalization, "fnNone", "fnNormalize", "fnNormalizeSqrt")

enum TNXDisplayMarkerShape : std::uint8_t {
  msPoint, msCircle, msSquare, msDiamond, msPlus, msCross, msStar, msTriangleUp, msTriangleDown, msTriangleLeft,
  msTriangleRight, msHLine, msVLine
};
NX_ENUM_NAMES(TNXDisplayMarkerShape, "msPoint", "msCircle", "msSquare", "msDiamond", "msPlus", "msCross", "msStar",
              "msTriangleUp", "msTriangleDown", "msTriangleLeft", "msTriangleRight", "msHLine", "msVLine")

// A horizontal and vertical offset (published CX, CY; defaults 0).
class TNXOffset : public TLockPersistent {
  NX_PERSISTENT(TNXOffset, TLockPersistent)
 public:
  explicit TNXOffset(TPersistent* AOwner = nullptr) : TLockPersistent(AOwner) { InitProperties(this); }
  std::int32_t CX() const { return ReadLocked(FCX); }
  std::int32_t CY() const { return ReadLocked(FCY); }
  void SetCX(std::int32_t AValue) { SetNotify(FCX, AValue); }
  void SetCY(std::int32_t AValue) { SetNotify(FCY, AValue); }
  static void DeclareProperties(TClassBuilder<TNXOffset>& P);

 private:
  std::int32_t FCX;
  std::int32_t FCY;
};

// An offset and the corner or edge it is measured from (published
// CoordinateMode, default cmLeftTop).
class TNXCoordinateOffset : public TNXOffset {
  NX_PERSISTENT(TNXCoordinateOffset, TNXOffset)
 public:
  explicit TNXCoordinateOffset(TPersistent* AOwner = nullptr) : TNXOffset(AOwner) { InitProperties(this); }
  TNXCoordinateMode CoordinateMode() const { return ReadLocked(FCoordinateMode); }
  void SetCoordinateMode(TNXCoordinateMode AValue) { SetNotify(FCoordinateMode, AValue); }
  static void DeclareProperties(TClassBuilder<TNXCoordinateOffset>& P);

 private:
  TNXCoordinateMode FCoordinateMode;
};

// A delay: published Value (default 100) in Mode units (default dmMilliseconds).
class TNXDelayValue : public TLockPersistent {
  NX_PERSISTENT(TNXDelayValue, TLockPersistent)
 public:
  explicit TNXDelayValue(TPersistent* AOwner = nullptr) : TLockPersistent(AOwner) { InitProperties(this); }
  std::int64_t Value() const { return ReadLocked(FValue); }
  TNXDelayMode Mode() const { return ReadLocked(FMode); }
  void SetValue(std::int64_t AValue) { SetNotify(FValue, AValue); }
  void SetMode(TNXDelayMode AValue) { SetNotify(FMode, AValue); }
  static void DeclareProperties(TClassBuilder<TNXDelayValue>& P);

 private:
  std::int64_t FValue;
  TNXDelayMode FMode;
};

namespace NXFilterTypes {
// Start-up: registers the setting classes; finalization removes them.
void UnitInitialize();
void UnitFinalize();
}  // namespace NXFilterTypes

}  // namespace nx
