// IPPPTypes: the element, status and option types of the named vector
// primitives. Names and values match the vendor's public interface, so that a
// primitive taken from the vendor library and our own built-in routine are
// called through the same function-pointer type.
#pragma once

#include <cstdint>

namespace nx {

using Ipp8u = std::uint8_t;
using Ipp8s = std::int8_t;
using Ipp16u = std::uint16_t;
using Ipp16s = std::int16_t;
using Ipp32u = std::uint32_t;
using Ipp32s = std::int32_t;
using Ipp64u = std::uint64_t;
using Ipp64s = std::int64_t;
using Ipp32f = float;
using Ipp64f = double;

// Complex double: real part then imaginary part, 16 bytes.
struct Ipp64fc {
  Ipp64f re;
  Ipp64f im;
};
struct Ipp32fc {
  Ipp32f re;
  Ipp32f im;
};
static_assert(sizeof(Ipp64fc) == 16, "Ipp64fc must be two packed doubles");

// 32-bit signed status: 0 success, negative errors, positive warnings.
using IppStatus = std::int32_t;

inline constexpr IppStatus ippStsNoErr = 0;
inline constexpr IppStatus ippStsSqrtNegArg = 3;
inline constexpr IppStatus ippStsDivByZero = 6;
inline constexpr IppStatus ippStsLnZeroArg = 7;
inline constexpr IppStatus ippStsLnNegArg = 8;
inline constexpr IppStatus ippStsNoIntersection = 29;  // warning: source region outside the image
inline constexpr IppStatus ippStsSizeErr = -6;
inline constexpr IppStatus ippStsNullPtrErr = -8;
inline constexpr IppStatus ippStsMemAllocErr = -9;
inline constexpr IppStatus ippStsDivByZeroErr = -10;
inline constexpr IppStatus ippStsStepErr = -14;
inline constexpr IppStatus ippStsFftOrderErr = -15;
inline constexpr IppStatus ippStsFftFlagErr = -16;
inline constexpr IppStatus ippStsContextMatchErr = -17;
inline constexpr IppStatus ippStsThreshNegLevelErr = -19;
inline constexpr IppStatus ippStsMirrorFlipErr = -21;
inline constexpr IppStatus ippStsInterpolationErr = -22;
inline constexpr IppStatus ippStsResizeFactorErr = -23;
inline constexpr IppStatus ippStsIIROrderErr = -25;
inline constexpr IppStatus ippStsFIRLenErr = -26;
inline constexpr IppStatus ippStsShiftErr = -32;
inline constexpr IppStatus ippStsJaehneErr = -38;
inline constexpr IppStatus ippStsAlphaTypeErr = -50;
inline constexpr IppStatus ippStsLUTNofLevelsErr = -106;

// Rounding modes of the rounding conversions.
using IppRoundMode = int;
inline constexpr IppRoundMode ippRndZero = 0;
inline constexpr IppRoundMode ippRndNear = 1;

// Algorithm hints (accepted and ignored by the built-in routines).
using IppHintAlgorithm = int;
inline constexpr IppHintAlgorithm ippAlgHintNone = 0;
inline constexpr IppHintAlgorithm ippAlgHintFast = 1;
inline constexpr IppHintAlgorithm ippAlgHintAccurate = 2;

// FFT normalisation flags.
inline constexpr int IPP_FFT_DIV_FWD_BY_N = 1;
inline constexpr int IPP_FFT_DIV_INV_BY_N = 2;
inline constexpr int IPP_FFT_DIV_BY_SQRTN = 4;
inline constexpr int IPP_FFT_NODIV_BY_ANY = 8;

// Mirror axes.
using IppiAxis = int;
inline constexpr IppiAxis ippAxsHorizontal = 0;  // reverses the row order
inline constexpr IppiAxis ippAxsVertical = 1;    // reverses each row
inline constexpr IppiAxis ippAxsBoth = 2;

// Comparison operations of the thresholds.
using IppCmpOp = int;
inline constexpr IppCmpOp ippCmpLess = 0;
inline constexpr IppCmpOp ippCmpLessEq = 1;
inline constexpr IppCmpOp ippCmpEq = 2;
inline constexpr IppCmpOp ippCmpGreaterEq = 3;
inline constexpr IppCmpOp ippCmpGreater = 4;

// Alpha composition operations.
using IppiAlphaType = int;
inline constexpr IppiAlphaType ippAlphaOver = 0;
inline constexpr IppiAlphaType ippAlphaIn = 1;
inline constexpr IppiAlphaType ippAlphaOut = 2;
inline constexpr IppiAlphaType ippAlphaATop = 3;
inline constexpr IppiAlphaType ippAlphaXor = 4;
inline constexpr IppiAlphaType ippAlphaPlus = 5;
inline constexpr IppiAlphaType ippAlphaOverPremul = 6;
inline constexpr IppiAlphaType ippAlphaInPremul = 7;
inline constexpr IppiAlphaType ippAlphaOutPremul = 8;
inline constexpr IppiAlphaType ippAlphaATopPremul = 9;
inline constexpr IppiAlphaType ippAlphaXorPremul = 10;
inline constexpr IppiAlphaType ippAlphaPlusPremul = 11;

// Interpolation modes of the resize primitives.
inline constexpr int IPPI_INTER_NN = 1;
inline constexpr int IPPI_INTER_LINEAR = 2;
inline constexpr int IPPI_INTER_CUBIC = 4;
inline constexpr int IPPI_INTER_SUPER = 8;
inline constexpr int IPPI_INTER_LANCZOS = 16;

struct IppiSize {
  int width;
  int height;
};
struct IppiRect {
  int x;
  int y;
  int width;
  int height;
};
struct IppiPoint {
  int x;
  int y;
};

// Opaque state and spec types. The built-in layouts live with the routines
// that create them; callers only hold pointers.
struct IppsFIRState_64f;
struct IppsIIRState_64f;
struct IppsFFTSpec_R_64f;
struct IppsFFTSpec_C_64fc;

// A readable name for a status code ("ippStsSizeErr"); "unknown status" otherwise.
const char* StatusName(IppStatus status);

// One row of a dispatch table as it stands after start-up: which routine a
// primitive name resolved to, and whether it came from the vendor library.
struct TNXDispatchEntry {
  const char* Name;      // the primitive's name, "ippsAdd_64f"
  const char* Unit;      // the dispatcher unit that holds the pointer
  char Library;          // 'S' signal library, 'I' image libraries
  const void* Address;   // the routine the pointer holds (null: none)
  const void* BuiltIn;   // our own routine (null for vendor-only primitives)
  bool FromVendor;       // true when the vendor library supplied it
};

}  // namespace nx
