// Built-in routines of the initialisation, copying and conversion family:
// Zero, Set, Copy, Move and the element-type conversions (with saturation,
// scaling and rounding), plus the package's own 64-bit integer to double
// conversions.
//
// Zero, Copy and Move go to the C library's memset / memmove, which already
// run at memory bandwidth; Set and the conversions are Highway SIMD loops over
// the shared ForAligned helper (destination lined up with a vector boundary,
// narrower vectors for the head and the tail running the same vector code).
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vector/builtin/NXBuiltinCopyConvert.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cfloat>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "vector/IPPPTypes.h"
#include "vector/builtin/NXBuiltinLoops-inl.h"

HWY_BEFORE_NAMESPACE();
namespace nx::builtin {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// dst[i] = f(src[i]) where the element types may differ in size. The loop runs
// over as many lanes as a full vector of TWide holds (the widest type the
// conversion touches); the destination is written on vector boundaries (see
// ForAligned).
template <typename TWide, typename TFrom, typename TTo, class F>
HWY_INLINE void MapConvert(const TFrom* HWY_RESTRICT src, TTo* HWY_RESTRICT dst, std::size_t n, const F& f) {
  const hn::ScalableTag<TWide> dw;
  ForAligned(dw, dst, n, [&](auto dp, std::size_t i) {
    const hn::Rebind<TFrom, decltype(dp)> dFrom;
    const hn::Rebind<TTo, decltype(dp)> dTo;
    hn::StoreU(f(dTo, hn::LoadU(dFrom, src + i)), dTo, dst + i);
  });
}

template <typename T>
HWY_INLINE void Fill(T* dst, std::size_t n, T value) {
  const hn::ScalableTag<T> d;
  ForAligned(d, dst, n, [&](auto dw, std::size_t i) { hn::StoreU(hn::Set(dw, value), dw, dst + i); });
}

void FillKernel32s(Ipp32s* dst, std::size_t n, Ipp32s value) { Fill(dst, n, value); }
void FillKernel32f(Ipp32f* dst, std::size_t n, Ipp32f value) { Fill(dst, n, value); }
void FillKernel64f(Ipp64f* dst, std::size_t n, Ipp64f value) { Fill(dst, n, value); }

// Complex fill: n pairs (re, im) as 2n doubles.
void FillKernel64fc(Ipp64f* dst, std::size_t n, Ipp64f re, Ipp64f im) {
  std::size_t i = 0;
  const std::size_t total = 2 * n;
#if HWY_TARGET != HWY_SCALAR
  const hn::ScalableTag<Ipp64f> d;
  // InterleaveLower works within 128-bit blocks: every block holds (re, im).
  // Pieces of at least one pair keep that pattern in step with the array.
  i = ForAligned<2>(d, dst, total, [&](auto dw, std::size_t k) {
    hn::StoreU(hn::InterleaveLower(dw, hn::Set(dw, re), hn::Set(dw, im)), dw, dst + k);
  });
#endif
  for (; i < total; i += 2) {
    dst[i] = re;
    dst[i + 1] = im;
  }
}

struct PromoteOp {
  template <class D, class V>
  HWY_INLINE hn::Vec<D> operator()(D d, V v) const { return hn::PromoteTo(d, v); }
};

// Double to single with saturation: above FLT_MAX gives FLT_MAX, below -FLT_MAX
// and NaN give -FLT_MAX; the rest rounds to nearest.
struct DemoteSatOp {
  template <class D, class V>
  HWY_INLINE hn::Vec<D> operator()(D d, V v) const {
    const hn::DFromV<V> dd;
    const auto fmax = hn::Set(dd, static_cast<double>(FLT_MAX));
    const auto clipped = hn::IfThenElse(hn::Ge(v, hn::Neg(fmax)), hn::Min(v, fmax), hn::Neg(fmax));
    return hn::DemoteTo(d, clipped);
  }
};

struct Int32ToFloatOp {
  template <class D, class V>
  HWY_INLINE hn::Vec<D> operator()(D d, V v) const { return hn::ConvertTo(d, v); }
};

// 16-bit integers times an exact power of two.
struct ScaledInt16Op {
  Ipp64f factor;
  template <class D, class V>
  HWY_INLINE hn::Vec<D> operator()(D d, V v) const {
    const hn::Rebind<int32_t, D> di;
    return hn::Mul(hn::PromoteTo(d, hn::PromoteTo(di, v)), hn::Set(d, factor));
  }
};

// Scales by f1 * f2 (exact powers of two), then rounds to an int32 with
// saturation; NaN gives 0. The input is promoted to double first.
template <bool kNearest>
struct RoundToInt32Op {
  Ipp64f f1, f2;
  template <class D, class V>
  HWY_INLINE hn::Vec<D> operator()(D d, V v) const {
    const hn::Rebind<double, D> dd;
    auto x = ToDouble(dd, v);
    x = hn::Mul(hn::Mul(x, hn::Set(dd, f1)), hn::Set(dd, f2));
    x = hn::IfThenElseZero(hn::Eq(x, x), x);
    if (kNearest) x = hn::Round(x);  // ties to even
    x = hn::Min(hn::Max(x, hn::Set(dd, -2147483648.0)), hn::Set(dd, 2147483647.0));
    return hn::DemoteTo(d, x);  // truncates toward zero
  }
  template <class DD, class V>
  static HWY_INLINE hn::Vec<DD> ToDouble(DD dd, V v) {
    if constexpr (hwy::IsSame<hn::TFromV<V>, double>()) {
      return v;
    } else {
      return hn::PromoteTo(dd, v);
    }
  }
};

struct Int64ToDoubleOp {
  template <class D, class V>
  HWY_INLINE hn::Vec<D> operator()(D d, V v) const { return hn::ConvertTo(d, v); }
};

// Unsigned 64-bit to double, correctly rounded (Highway uses the AVX-512
// instruction where there is one, else converts both 32-bit halves exactly and
// rounds once in the final addition).
struct Uint64ToDoubleOp {
  template <class D, class V>
  HWY_INLINE hn::Vec<D> operator()(D d, V v) const { return hn::ConvertTo(d, v); }
};

void Convert32f64fKernel(const Ipp32f* src, Ipp64f* dst, std::size_t n) { MapConvert<Ipp64f>(src, dst, n, PromoteOp()); }
void Convert32s64fKernel(const Ipp32s* src, Ipp64f* dst, std::size_t n) { MapConvert<Ipp64f>(src, dst, n, PromoteOp()); }
void Convert64f32fKernel(const Ipp64f* src, Ipp32f* dst, std::size_t n) { MapConvert<Ipp64f>(src, dst, n, DemoteSatOp()); }
void Convert32s32fKernel(const Ipp32s* src, Ipp32f* dst, std::size_t n) { MapConvert<Ipp32f>(src, dst, n, Int32ToFloatOp()); }
void Convert16s64fKernel(const Ipp16s* src, Ipp64f* dst, std::size_t n, Ipp64f factor) {
  MapConvert<Ipp64f>(src, dst, n, ScaledInt16Op{factor});
}
void Convert64f32sKernel(const Ipp64f* src, Ipp32s* dst, std::size_t n, bool nearest, Ipp64f f1, Ipp64f f2) {
  if (nearest) {
    MapConvert<Ipp64f>(src, dst, n, RoundToInt32Op<true>{f1, f2});
  } else {
    MapConvert<Ipp64f>(src, dst, n, RoundToInt32Op<false>{f1, f2});
  }
}
void Convert32f32sKernel(const Ipp32f* src, Ipp32s* dst, std::size_t n, bool nearest, Ipp64f f1, Ipp64f f2) {
  if (nearest) {
    MapConvert<Ipp64f>(src, dst, n, RoundToInt32Op<true>{f1, f2});
  } else {
    MapConvert<Ipp64f>(src, dst, n, RoundToInt32Op<false>{f1, f2});
  }
}
void Convert64s64fKernel(const Ipp64s* src, Ipp64f* dst, std::size_t n) { MapConvert<Ipp64f>(src, dst, n, Int64ToDoubleOp()); }
void Convert64u64fKernel(const Ipp64u* src, Ipp64f* dst, std::size_t n) { MapConvert<Ipp64f>(src, dst, n, Uint64ToDoubleOp()); }

}  // namespace HWY_NAMESPACE
}  // namespace nx::builtin
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include "vector/LibCDispatcher.h"
#include "vector/NXBasicDispatcher.h"
#include "vector/builtin/NXBuiltins.h"

namespace nx::builtin {

HWY_EXPORT(FillKernel32s);
HWY_EXPORT(FillKernel32f);
HWY_EXPORT(FillKernel64f);
HWY_EXPORT(FillKernel64fc);
HWY_EXPORT(Convert32f64fKernel);
HWY_EXPORT(Convert32s64fKernel);
HWY_EXPORT(Convert64f32fKernel);
HWY_EXPORT(Convert32s32fKernel);
HWY_EXPORT(Convert16s64fKernel);
HWY_EXPORT(Convert64f32sKernel);
HWY_EXPORT(Convert32f32sKernel);
HWY_EXPORT(Convert64s64fKernel);
HWY_EXPORT(Convert64u64fKernel);

namespace {

inline std::size_t Count(int len) { return static_cast<std::size_t>(len); }

template <typename T>
IppStatus ZeroBytes(T* pDst, int len) {
  if (pDst == nullptr) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  std::memset(pDst, 0, Count(len) * sizeof(T));
  return ippStsNoErr;
}

// Copy and Move both tolerate overlapping ranges (memmove costs nothing extra).
template <typename T>
IppStatus MoveBytes(const T* pSrc, T* pDst, int len) {
  if (pSrc == nullptr || pDst == nullptr) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  LibCDispatcher::_memmove(pDst, pSrc, Count(len) * sizeof(T));
  return ippStsNoErr;
}

// 2^-scaleFactor as two exact factors, each a normal double. Scale factors
// beyond +-2044 give the same results as +-2044 (every finite non-zero value
// then rounds to 0 or saturates), so they are clamped there.
void ScaleFactors(int scaleFactor, Ipp64f& f1, Ipp64f& f2) {
  int e = -scaleFactor;
  if (e > 2044) e = 2044;
  if (e < -2044) e = -2044;
  const int e1 = e / 2;
  const int e2 = e - e1;
  auto pow2 = [](int k) {
    const std::uint64_t bits = static_cast<std::uint64_t>(k + 1023) << 52;
    Ipp64f r;
    std::memcpy(&r, &bits, sizeof r);
    return r;
  };
  f1 = pow2(e1);
  f2 = pow2(e2);
}

}  // namespace

IppStatus ippsZero_8u(Ipp8u* pDst, int len) { return ZeroBytes(pDst, len); }
IppStatus ippsZero_16s(Ipp16s* pDst, int len) { return ZeroBytes(pDst, len); }
IppStatus ippsZero_32s(Ipp32s* pDst, int len) { return ZeroBytes(pDst, len); }
IppStatus ippsZero_32f(Ipp32f* pDst, int len) { return ZeroBytes(pDst, len); }
IppStatus ippsZero_64f(Ipp64f* pDst, int len) { return ZeroBytes(pDst, len); }
IppStatus ippsZero_64fc(Ipp64fc* pDst, int len) { return ZeroBytes(pDst, len); }

IppStatus ippsSet_8u(Ipp8u val, Ipp8u* pDst, int len) {
  if (pDst == nullptr) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  std::memset(pDst, val, Count(len));
  return ippStsNoErr;
}

IppStatus ippsSet_32s(Ipp32s val, Ipp32s* pDst, int len) {
  if (pDst == nullptr) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  HWY_DYNAMIC_DISPATCH(FillKernel32s)(pDst, Count(len), val);
  return ippStsNoErr;
}

IppStatus ippsSet_32f(Ipp32f val, Ipp32f* pDst, int len) {
  if (pDst == nullptr) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  HWY_DYNAMIC_DISPATCH(FillKernel32f)(pDst, Count(len), val);
  return ippStsNoErr;
}

IppStatus ippsSet_64f(Ipp64f val, Ipp64f* pDst, int len) {
  if (pDst == nullptr) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  HWY_DYNAMIC_DISPATCH(FillKernel64f)(pDst, Count(len), val);
  return ippStsNoErr;
}

IppStatus ippsSet_64fc(Ipp64fc val, Ipp64fc* pDst, int len) {
  if (pDst == nullptr) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  HWY_DYNAMIC_DISPATCH(FillKernel64fc)(reinterpret_cast<Ipp64f*>(pDst), Count(len), val.re, val.im);
  return ippStsNoErr;
}

IppStatus ippsCopy_8u(const Ipp8u* pSrc, Ipp8u* pDst, int len) { return MoveBytes(pSrc, pDst, len); }
IppStatus ippsCopy_32f(const Ipp32f* pSrc, Ipp32f* pDst, int len) { return MoveBytes(pSrc, pDst, len); }
IppStatus ippsCopy_64f(const Ipp64f* pSrc, Ipp64f* pDst, int len) { return MoveBytes(pSrc, pDst, len); }
IppStatus ippsMove_8u(const Ipp8u* pSrc, Ipp8u* pDst, int len) { return MoveBytes(pSrc, pDst, len); }
IppStatus ippsMove_64f(const Ipp64f* pSrc, Ipp64f* pDst, int len) { return MoveBytes(pSrc, pDst, len); }

IppStatus ippsConvert_32f64f(const Ipp32f* pSrc, Ipp64f* pDst, int len) {
  if (pSrc == nullptr || pDst == nullptr) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  HWY_DYNAMIC_DISPATCH(Convert32f64fKernel)(pSrc, pDst, Count(len));
  return ippStsNoErr;
}

// Serves both the basic and the scope dispatcher's pointer of this name.
IppStatus ippsConvert_64f32f(const Ipp64f* pSrc, Ipp32f* pDst, int len) {
  if (pSrc == nullptr || pDst == nullptr) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  HWY_DYNAMIC_DISPATCH(Convert64f32fKernel)(pSrc, pDst, Count(len));
  return ippStsNoErr;
}

IppStatus ippsConvert_32s64f(const Ipp32s* pSrc, Ipp64f* pDst, int len) {
  if (pSrc == nullptr || pDst == nullptr) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  HWY_DYNAMIC_DISPATCH(Convert32s64fKernel)(pSrc, pDst, Count(len));
  return ippStsNoErr;
}

IppStatus ippsConvert_32s32f(const Ipp32s* pSrc, Ipp32f* pDst, int len) {
  if (pSrc == nullptr || pDst == nullptr) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  HWY_DYNAMIC_DISPATCH(Convert32s32fKernel)(pSrc, pDst, Count(len));
  return ippStsNoErr;
}

IppStatus ippsConvert_16s64f_Sfs(const Ipp16s* pSrc, Ipp64f* pDst, int len, int scaleFactor) {
  if (pSrc == nullptr || pDst == nullptr) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  // Clamped so that 2^-scaleFactor and every scaled element stay normal doubles.
  const int sf = scaleFactor < -1008 ? -1008 : (scaleFactor > 1022 ? 1022 : scaleFactor);
  const std::uint64_t bits = static_cast<std::uint64_t>(1023 - sf) << 52;
  Ipp64f factor;
  std::memcpy(&factor, &bits, sizeof factor);
  HWY_DYNAMIC_DISPATCH(Convert16s64fKernel)(pSrc, pDst, Count(len), factor);
  return ippStsNoErr;
}

// Any rounding mode other than ippRndNear truncates. A NaN element gives 0.
IppStatus ippsConvert_64f32s_Sfs(const Ipp64f* pSrc, Ipp32s* pDst, int len, IppRoundMode rndMode, int scaleFactor) {
  if (pSrc == nullptr || pDst == nullptr) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  Ipp64f f1, f2;
  ScaleFactors(scaleFactor, f1, f2);
  HWY_DYNAMIC_DISPATCH(Convert64f32sKernel)(pSrc, pDst, Count(len), rndMode == ippRndNear, f1, f2);
  return ippStsNoErr;
}

IppStatus ippsConvert_32f32s_Sfs(const Ipp32f* pSrc, Ipp32s* pDst, int len, IppRoundMode rndMode, int scaleFactor) {
  if (pSrc == nullptr || pDst == nullptr) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  Ipp64f f1, f2;
  ScaleFactors(scaleFactor, f1, f2);
  HWY_DYNAMIC_DISPATCH(Convert32f32sKernel)(pSrc, pDst, Count(len), rndMode == ippRndNear, f1, f2);
  return ippStsNoErr;
}

}  // namespace nx::builtin

namespace nx::NXBasicDispatcher {

// No status: a null pointer or a length below 1 does nothing.
void ippsConvert_64s64f(const Ipp64s* pSrc, Ipp64f* pDst, int len) {
  if (pSrc == nullptr || pDst == nullptr || len < 1) return;
  HWY_DYNAMIC_DISPATCH(nx::builtin::Convert64s64fKernel)(pSrc, pDst, static_cast<std::size_t>(len));
}

void ippsConvert_64u64f(const Ipp64u* pSrc, Ipp64f* pDst, int len) {
  if (pSrc == nullptr || pDst == nullptr || len < 1) return;
  HWY_DYNAMIC_DISPATCH(nx::builtin::Convert64u64fKernel)(pSrc, pDst, static_cast<std::size_t>(len));
}

}  // namespace nx::NXBasicDispatcher
#endif  // HWY_ONCE
