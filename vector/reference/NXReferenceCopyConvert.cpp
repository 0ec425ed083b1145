// Scalar twins of the initialisation, copying and conversion routines: plain
// element loops with the same checks, saturation, scaling and rounding rules
// as the built-in routines.
#include <cfloat>
#include <cmath>
#include <cstdint>

#include "vector/reference/NXReference.h"

namespace nx::reference {

namespace {

template <typename T>
IppStatus FillLoop(T val, T* pDst, int len) {
  if (pDst == nullptr) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  for (int i = 0; i < len; ++i) pDst[i] = val;
  return ippStsNoErr;
}

// Element-wise move that tolerates overlap: forward when the destination lies
// below the source, backward otherwise.
template <typename T>
IppStatus MoveLoop(const T* pSrc, T* pDst, int len) {
  if (pSrc == nullptr || pDst == nullptr) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  if (pDst < pSrc) {
    for (int i = 0; i < len; ++i) pDst[i] = pSrc[i];
  } else {
    for (int i = len - 1; i >= 0; --i) pDst[i] = pSrc[i];
  }
  return ippStsNoErr;
}

template <typename TFrom, typename TTo, class F>
IppStatus ConvertLoop(const TFrom* pSrc, TTo* pDst, int len, F f) {
  if (pSrc == nullptr || pDst == nullptr) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  for (int i = 0; i < len; ++i) pDst[i] = f(pSrc[i]);
  return ippStsNoErr;
}

// x * 2^-scaleFactor rounded to an int32 with saturation; NaN gives 0.
Ipp32s RoundScaled(Ipp64f x, IppRoundMode rndMode, int scaleFactor) {
  if (std::isnan(x)) return 0;
  // Scale factors beyond +-4000 act like +-4000: every finite value then
  // rounds to 0 or saturates.
  const int sf = scaleFactor < -4000 ? -4000 : (scaleFactor > 4000 ? 4000 : scaleFactor);
  const Ipp64f v = std::ldexp(x, -sf);
  if (v >= 2147483647.0) return 2147483647;
  if (v <= -2147483648.0) return static_cast<Ipp32s>(-2147483647 - 1);
  return static_cast<Ipp32s>(rndMode == ippRndNear ? std::nearbyint(v) : std::trunc(v));
}

}  // namespace

IppStatus ippsZero_8u(Ipp8u* pDst, int len) { return FillLoop<Ipp8u>(0, pDst, len); }
IppStatus ippsZero_16s(Ipp16s* pDst, int len) { return FillLoop<Ipp16s>(0, pDst, len); }
IppStatus ippsZero_32s(Ipp32s* pDst, int len) { return FillLoop<Ipp32s>(0, pDst, len); }
IppStatus ippsZero_32f(Ipp32f* pDst, int len) { return FillLoop<Ipp32f>(0.0f, pDst, len); }
IppStatus ippsZero_64f(Ipp64f* pDst, int len) { return FillLoop<Ipp64f>(0.0, pDst, len); }
IppStatus ippsZero_64fc(Ipp64fc* pDst, int len) { return FillLoop(Ipp64fc{0.0, 0.0}, pDst, len); }

IppStatus ippsSet_8u(Ipp8u val, Ipp8u* pDst, int len) { return FillLoop(val, pDst, len); }
IppStatus ippsSet_32s(Ipp32s val, Ipp32s* pDst, int len) { return FillLoop(val, pDst, len); }
IppStatus ippsSet_32f(Ipp32f val, Ipp32f* pDst, int len) { return FillLoop(val, pDst, len); }
IppStatus ippsSet_64f(Ipp64f val, Ipp64f* pDst, int len) { return FillLoop(val, pDst, len); }
IppStatus ippsSet_64fc(Ipp64fc val, Ipp64fc* pDst, int len) { return FillLoop(val, pDst, len); }

IppStatus ippsCopy_8u(const Ipp8u* pSrc, Ipp8u* pDst, int len) { return MoveLoop(pSrc, pDst, len); }
IppStatus ippsCopy_32f(const Ipp32f* pSrc, Ipp32f* pDst, int len) { return MoveLoop(pSrc, pDst, len); }
IppStatus ippsCopy_64f(const Ipp64f* pSrc, Ipp64f* pDst, int len) { return MoveLoop(pSrc, pDst, len); }
IppStatus ippsMove_8u(const Ipp8u* pSrc, Ipp8u* pDst, int len) { return MoveLoop(pSrc, pDst, len); }
IppStatus ippsMove_64f(const Ipp64f* pSrc, Ipp64f* pDst, int len) { return MoveLoop(pSrc, pDst, len); }

IppStatus ippsConvert_32f64f(const Ipp32f* pSrc, Ipp64f* pDst, int len) {
  return ConvertLoop(pSrc, pDst, len, [](Ipp32f x) { return static_cast<Ipp64f>(x); });
}

IppStatus ippsConvert_64f32f(const Ipp64f* pSrc, Ipp32f* pDst, int len) {
  return ConvertLoop(pSrc, pDst, len, [](Ipp64f x) {
    if (x > static_cast<Ipp64f>(FLT_MAX)) return FLT_MAX;
    if (!(x >= -static_cast<Ipp64f>(FLT_MAX))) return -FLT_MAX;  // below, or NaN
    return static_cast<Ipp32f>(x);
  });
}

IppStatus ippsConvert_32s64f(const Ipp32s* pSrc, Ipp64f* pDst, int len) {
  return ConvertLoop(pSrc, pDst, len, [](Ipp32s x) { return static_cast<Ipp64f>(x); });
}

IppStatus ippsConvert_32s32f(const Ipp32s* pSrc, Ipp32f* pDst, int len) {
  return ConvertLoop(pSrc, pDst, len, [](Ipp32s x) { return static_cast<Ipp32f>(x); });
}

IppStatus ippsConvert_16s64f_Sfs(const Ipp16s* pSrc, Ipp64f* pDst, int len, int scaleFactor) {
  const int sf = scaleFactor < -1008 ? -1008 : (scaleFactor > 1022 ? 1022 : scaleFactor);
  return ConvertLoop(pSrc, pDst, len, [sf](Ipp16s x) { return std::ldexp(static_cast<Ipp64f>(x), -sf); });
}

IppStatus ippsConvert_64f32s_Sfs(const Ipp64f* pSrc, Ipp32s* pDst, int len, IppRoundMode rndMode, int scaleFactor) {
  return ConvertLoop(pSrc, pDst, len, [=](Ipp64f x) { return RoundScaled(x, rndMode, scaleFactor); });
}

IppStatus ippsConvert_32f32s_Sfs(const Ipp32f* pSrc, Ipp32s* pDst, int len, IppRoundMode rndMode, int scaleFactor) {
  return ConvertLoop(pSrc, pDst, len, [=](Ipp32f x) { return RoundScaled(x, rndMode, scaleFactor); });
}

}  // namespace nx::reference
