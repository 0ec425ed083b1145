// Built-in routines of the real arithmetic family: element-wise add, subtract,
// multiply and divide (vector and constant operands), absolute value, square,
// square root, exponential and natural logarithm on doubles and floats.
//
// The kernels are Highway SIMD loops over the shared ForAligned helper: a head
// of narrower vectors lines the destination up with a vector boundary, the
// body runs whole vectors four at a time, and the tail narrower vectors again;
// every piece runs the very same vector code, so every element sees identical
// arithmetic whatever the alignment of the arrays. The routines at the bottom do the status
// checks and the shortcuts for special constants, then dispatch to the best
// kernel for the running CPU.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vector/builtin/NXBuiltinArith.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

#include "vector/IPPPTypes.h"
#include "vector/LibCDispatcher.h"
#include "vector/builtin/NXBuiltinLoops-inl.h"

#ifndef NX_BUILTIN_ARITH_SHARED
#define NX_BUILTIN_ARITH_SHARED
namespace nx::builtin::arith {

// Per-element logarithm with the status rules of the Ln routines: a set sign
// bit (negative numbers, -0, and NaNs that carry the sign) gives NaN and
// ippStsLnNegArg, +0 gives -Inf and ippStsLnZeroArg, other values (a quiet NaN
// included) the C library's logarithm. The status is that of the first problem.
inline Ipp64f LnElement(Ipp64f x, IppStatus& status) {
  std::uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  if (bits >> 63) {
    if (status == ippStsNoErr) status = ippStsLnNegArg;
    return std::numeric_limits<Ipp64f>::quiet_NaN();
  }
  if (x == 0.0) {
    if (status == ippStsNoErr) status = ippStsLnZeroArg;
    return -std::numeric_limits<Ipp64f>::infinity();
  }
  return LibCDispatcher::_log(x);
}

}  // namespace nx::builtin::arith
#endif  // NX_BUILTIN_ARITH_SHARED

HWY_BEFORE_NAMESPACE();
namespace nx::builtin {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// dst[i] = f(src[i]). src may equal dst (in-place forms). The destination is
// written on vector boundaries (see ForAligned); f sees whole vectors of d in
// the body and narrower ones in the head and the tail. Doubles go through
// MapStreams, which also lines up the source reads where they are off.
template <typename T, class F>
HWY_INLINE void Map1(const T* src, T* dst, std::size_t n, const F& f) {
  if constexpr (std::is_same_v<T, double>) {
    MapStreams(src, nullptr, dst, n, f);
  } else {
    const hn::ScalableTag<T> d;
    ForAligned(d, dst, n, [&](auto dw, std::size_t i) { hn::StoreU(f(dw, hn::LoadU(dw, src + i)), dw, dst + i); });
  }
}

// dst[i] = f(a[i], b[i]); dst may equal a or b.
template <typename T, class F>
HWY_INLINE void Map2(const T* a, const T* b, T* dst, std::size_t n, const F& f) {
  if constexpr (std::is_same_v<T, double>) {
    MapStreams(a, b, dst, n, f);
  } else {
    const hn::ScalableTag<T> d;
    ForAligned(d, dst, n, [&](auto dw, std::size_t i) {
      hn::StoreU(f(dw, hn::LoadU(dw, a + i), hn::LoadU(dw, b + i)), dw, dst + i);
    });
  }
}

struct AddOp {
  template <class D, class V>
  HWY_INLINE V operator()(D, V a, V b) const { return hn::Add(a, b); }
};
struct SubOp {
  template <class D, class V>
  HWY_INLINE V operator()(D, V a, V b) const { return hn::Sub(a, b); }
};
struct MulOp {
  template <class D, class V>
  HWY_INLINE V operator()(D, V a, V b) const { return hn::Mul(a, b); }
};
// a / b; a zero divisor gives +Inf for a positive dividend, -Inf for a negative
// one and NaN otherwise, whatever the sign of the zero. Zero divisors are
// recorded in `met` (per lane, or-ed over the whole run).
template <typename T>
struct DivOp {
  template <class D, class V>
  HWY_INLINE V Apply(D d, V a, V b, hn::Mask<D>& met) const {
    const V zero = hn::Zero(d);
    const V inf = hn::Set(d, std::numeric_limits<T>::infinity());
    const V nan = hn::Set(d, std::numeric_limits<T>::quiet_NaN());
    const auto isZero = hn::Eq(b, zero);
    met = hn::Or(met, isZero);
    const V special = hn::IfThenElse(hn::Gt(a, zero), inf, hn::IfThenElse(hn::Lt(a, zero), hn::Neg(inf), nan));
    return hn::IfThenElse(isZero, special, hn::Div(a, b));
  }
};
template <typename T>
struct AddCOp {
  T c;
  template <class D, class V>
  HWY_INLINE V operator()(D d, V x) const { return hn::Add(x, hn::Set(d, c)); }
};
template <typename T>
struct SubCRevOp {
  T c;
  template <class D, class V>
  HWY_INLINE V operator()(D d, V x) const { return hn::Sub(hn::Set(d, c), x); }
};
template <typename T>
struct MulCOp {
  T c;
  template <class D, class V>
  HWY_INLINE V operator()(D d, V x) const { return hn::Mul(x, hn::Set(d, c)); }
};
struct AbsOp {
  template <class D, class V>
  HWY_INLINE V operator()(D, V x) const { return hn::Abs(x); }
};
struct SqrOp {
  template <class D, class V>
  HWY_INLINE V operator()(D, V x) const { return hn::Mul(x, x); }
};

// ---------------------------------------------------------------- exp
// exp(x) = 2^n * exp(r), x = n*ln2 + r, |r| <= ln2/2 (Cody-Waite reduction with
// a two-part ln2 and the rounding error of r carried separately), exp(r) from
// its Taylor series to degree 13 (truncation below 0.03 ulp). Valid where the
// result is a normal double and n fits the exponent field: -708 <= x <= 709.
// Measured against the C library the results differ by at most 1 ulp.
template <class D, class V>
HWY_INLINE V ExpCore(D d, V x) {
  const hn::RebindToSigned<D> di;
  const V kShift = hn::Set(d, 6755399441055744.0);  // 1.5 * 2^52: rounds to integers
  const V t = hn::MulAdd(x, hn::Set(d, 1.4426950408889634074), kShift);
  const V n = hn::Sub(t, kShift);
  // ln2 high part has 32 significant bits, so n * ln2Hi is exact.
  const V hi = hn::NegMulAdd(n, hn::Set(d, 6.93147180369123816490e-01), x);
  const V lo = hn::Mul(n, hn::Set(d, 1.90821492927058770002e-10));
  const V r = hn::Sub(hi, lo);
  const V rErr = hn::Sub(hn::Sub(hi, r), lo);
  V p = hn::Set(d, 1.0 / 6227020800.0);                 // 1/13!
  p = hn::MulAdd(p, r, hn::Set(d, 1.0 / 479001600.0));  // 1/12!
  p = hn::MulAdd(p, r, hn::Set(d, 1.0 / 39916800.0));
  p = hn::MulAdd(p, r, hn::Set(d, 1.0 / 3628800.0));
  p = hn::MulAdd(p, r, hn::Set(d, 1.0 / 362880.0));
  p = hn::MulAdd(p, r, hn::Set(d, 1.0 / 40320.0));
  p = hn::MulAdd(p, r, hn::Set(d, 1.0 / 5040.0));
  p = hn::MulAdd(p, r, hn::Set(d, 1.0 / 720.0));
  p = hn::MulAdd(p, r, hn::Set(d, 1.0 / 120.0));
  p = hn::MulAdd(p, r, hn::Set(d, 1.0 / 24.0));
  p = hn::MulAdd(p, r, hn::Set(d, 1.0 / 6.0));
  p = hn::MulAdd(p, r, hn::Set(d, 0.5));
  const V y = hn::Add(hn::Set(d, 1.0), hn::Add(r, hn::MulAdd(p, hn::Mul(r, r), rErr)));
  // 2^n from the low bits of t (they hold n in two's complement).
  const auto e = hn::ShiftLeft<52>(hn::Add(hn::BitCast(di, t), hn::Set(di, int64_t{1023})));
  return hn::Mul(y, hn::BitCast(d, e));
}

// ---------------------------------------------------------------- ln
// The classic argument reduction x = 2^k * m, m in [sqrt(2)/2, sqrt(2)), f = m - 1,
// s = f / (2 + f), log(1 + f) = f - f^2/2 + s*(f^2/2 + R(s^2)) with a degree-14
// minimax R; error below 1 ulp. Valid for positive normal finite x.
template <class D, class V>
HWY_INLINE V LnCore(D d, V x) {
  const hn::RebindToUnsigned<D> du;
  const auto bits = hn::BitCast(du, x);
  const auto mant = hn::And(bits, hn::Set(du, uint64_t{0x000FFFFFFFFFFFFF}));
  // i = 2^52 when the mantissa is at or above sqrt(2)'s: then m is halved.
  const auto i = hn::And(hn::Add(mant, hn::Set(du, uint64_t{0x00095F6400000000})), hn::Set(du, uint64_t{0x0010000000000000}));
  const V m = hn::BitCast(d, hn::Or(mant, hn::Xor(i, hn::Set(du, uint64_t{0x3FF0000000000000}))));
  // k + 1023 (a small non-negative integer) turned into a double exactly.
  const auto kBiased = hn::Add(hn::ShiftRight<52>(bits), hn::ShiftRight<52>(i));
  const V two52 = hn::Set(d, 4503599627370496.0);
  const V k = hn::Sub(hn::BitCast(d, hn::Or(kBiased, hn::BitCast(du, two52))), hn::Set(d, 4503599627370496.0 + 1023.0));
  const V f = hn::Sub(m, hn::Set(d, 1.0));
  const V s = hn::Div(f, hn::Add(hn::Set(d, 2.0), f));
  const V z = hn::Mul(s, s);
  const V w = hn::Mul(z, z);
  const V t1 = hn::Mul(w, hn::MulAdd(w, hn::MulAdd(w, hn::Set(d, 1.531383769920937332e-01), hn::Set(d, 2.222219843214978396e-01)),
                                     hn::Set(d, 3.999999999940941908e-01)));
  const V t2 = hn::Mul(
      z, hn::MulAdd(w, hn::MulAdd(w, hn::MulAdd(w, hn::Set(d, 1.479819860511658591e-01), hn::Set(d, 1.818357216161805012e-01)),
                                  hn::Set(d, 2.857142874366239149e-01)),
                    hn::Set(d, 6.666666666666735130e-01)));
  const V R = hn::Add(t2, t1);
  const V hfsq = hn::Mul(hn::Set(d, 0.5), hn::Mul(f, f));
  const V inner = hn::MulAdd(k, hn::Set(d, 1.90821492927058770002e-10), hn::Mul(s, hn::Add(hfsq, R)));
  return hn::MulSub(k, hn::Set(d, 6.93147180369123816490e-01), hn::Sub(hn::Sub(hfsq, inner), f));
}

// ---------------------------------------------------------------- kernels
void AddKernel64(const Ipp64f* a, const Ipp64f* b, Ipp64f* dst, std::size_t n) { Map2(a, b, dst, n, AddOp()); }
void SubKernel64(const Ipp64f* a, const Ipp64f* b, Ipp64f* dst, std::size_t n) { Map2(a, b, dst, n, SubOp()); }
void SubKernel32(const Ipp32f* a, const Ipp32f* b, Ipp32f* dst, std::size_t n) { Map2(a, b, dst, n, SubOp()); }
void MulKernel64(const Ipp64f* a, const Ipp64f* b, Ipp64f* dst, std::size_t n) { Map2(a, b, dst, n, MulOp()); }
void MulKernel32(const Ipp32f* a, const Ipp32f* b, Ipp32f* dst, std::size_t n) { Map2(a, b, dst, n, MulOp()); }
void AddCKernel64(const Ipp64f* src, Ipp64f c, Ipp64f* dst, std::size_t n) { Map1(src, dst, n, AddCOp<Ipp64f>{c}); }
void SubCRevKernel64(const Ipp64f* src, Ipp64f c, Ipp64f* dst, std::size_t n) { Map1(src, dst, n, SubCRevOp<Ipp64f>{c}); }
void SubCRevKernel32(const Ipp32f* src, Ipp32f c, Ipp32f* dst, std::size_t n) { Map1(src, dst, n, SubCRevOp<Ipp32f>{c}); }
void MulCKernel64(const Ipp64f* src, Ipp64f c, Ipp64f* dst, std::size_t n) { Map1(src, dst, n, MulCOp<Ipp64f>{c}); }
void MulCKernel32(const Ipp32f* src, Ipp32f c, Ipp32f* dst, std::size_t n) { Map1(src, dst, n, MulCOp<Ipp32f>{c}); }
void AbsKernel64(const Ipp64f* src, Ipp64f* dst, std::size_t n) { Map1(src, dst, n, AbsOp()); }
void SqrKernel64(const Ipp64f* src, Ipp64f* dst, std::size_t n) { Map1(src, dst, n, SqrOp()); }

// dst = a / b with the zero-divisor rule; returns true when a zero divisor was met.
bool DivKernel64(const Ipp64f* a, const Ipp64f* b, Ipp64f* dst, std::size_t n) {
  const hn::ScalableTag<Ipp64f> d;
  const DivOp<Ipp64f> op;
  auto met = hn::MaskFromVec(hn::Zero(d));
  bool metPiece = false;
  ForAligned(d, dst, n, [&](auto dw, std::size_t i) {
    if constexpr (std::is_same_v<decltype(dw), decltype(d)>) {
      hn::StoreU(op.Apply(d, hn::LoadU(d, a + i), hn::LoadU(d, b + i), met), d, dst + i);
    } else {
      auto m = hn::MaskFromVec(hn::Zero(dw));
      hn::StoreU(op.Apply(dw, hn::LoadU(dw, a + i), hn::LoadU(dw, b + i), m), dw, dst + i);
      metPiece = metPiece || !hn::AllFalse(dw, m);
    }
  });
  return metPiece || !hn::AllFalse(d, met);
}

// dst = sqrt(src); returns true when a negative element was met (its result is NaN).
bool SqrtKernel64(const Ipp64f* src, Ipp64f* dst, std::size_t n) {
  const hn::ScalableTag<Ipp64f> d;
  auto neg = hn::MaskFromVec(hn::Zero(d));
  bool negPiece = false;
  ForAligned(d, dst, n, [&](auto dw, std::size_t i) {
    const auto v = hn::LoadU(dw, src + i);
    if constexpr (std::is_same_v<decltype(dw), decltype(d)>) {
      neg = hn::Or(neg, hn::Lt(v, hn::Zero(d)));
    } else {
      negPiece = negPiece || !hn::AllFalse(dw, hn::Lt(v, hn::Zero(dw)));
    }
    hn::StoreU(hn::Sqrt(v), dw, dst + i);
  });
  return negPiece || !hn::AllFalse(d, neg);
}

// A vector holding any value outside the fast range (rare: overflow,
// underflow, NaN) is done element by element, each element as it would be
// alone (the fast core where it is in range, else the C library), so an
// element's result never depends on its neighbours or on the alignment.
HWY_INLINE Ipp64f ExpElement(Ipp64f x) {
  const hn::CappedTag<Ipp64f, 1> d1;
  return (x >= -708.0 && x <= 709.0) ? hn::GetLane(ExpCore(d1, hn::Set(d1, x))) : LibCDispatcher::_exp(x);
}

void ExpKernel64(const Ipp64f* src, Ipp64f* dst, std::size_t n) {
  const hn::ScalableTag<Ipp64f> d;
  ForAligned(d, dst, n, [&](auto dw, std::size_t i) {
    const auto v = hn::LoadU(dw, src + i);
    const auto ok = hn::And(hn::Ge(v, hn::Set(dw, -708.0)), hn::Le(v, hn::Set(dw, 709.0)));
    if (HWY_LIKELY(hn::AllTrue(dw, ok))) {
      hn::StoreU(ExpCore(dw, v), dw, dst + i);
    } else {
      for (std::size_t j = i; j < i + hn::Lanes(dw); ++j) dst[j] = ExpElement(src[j]);
    }
  });
}

// Returns the status of the first problem met (see arith::LnElement).
IppStatus LnKernel64(const Ipp64f* src, Ipp64f* dst, std::size_t n) {
  const hn::ScalableTag<Ipp64f> d;
  const hn::CappedTag<Ipp64f, 1> d1;
  constexpr Ipp64f lo = std::numeric_limits<Ipp64f>::min();
  constexpr Ipp64f hi = std::numeric_limits<Ipp64f>::max();
  IppStatus status = ippStsNoErr;
  ForAligned(d, dst, n, [&](auto dw, std::size_t i) {
    const auto v = hn::LoadU(dw, src + i);
    const auto ok = hn::And(hn::Ge(v, hn::Set(dw, lo)), hn::Le(v, hn::Set(dw, hi)));
    if (HWY_LIKELY(hn::AllTrue(dw, ok))) {
      hn::StoreU(LnCore(dw, v), dw, dst + i);
    } else {
      for (std::size_t j = i; j < i + hn::Lanes(dw); ++j) {
        const Ipp64f x = src[j];
        dst[j] = (x >= lo && x <= hi) ? hn::GetLane(LnCore(d1, hn::Set(d1, x))) : arith::LnElement(x, status);
      }
    }
  });
  return status;
}

}  // namespace HWY_NAMESPACE
}  // namespace nx::builtin
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include "vector/builtin/NXBuiltins.h"

namespace nx::builtin {

HWY_EXPORT(AddKernel64);
HWY_EXPORT(SubKernel64);
HWY_EXPORT(SubKernel32);
HWY_EXPORT(MulKernel64);
HWY_EXPORT(MulKernel32);
HWY_EXPORT(AddCKernel64);
HWY_EXPORT(SubCRevKernel64);
HWY_EXPORT(SubCRevKernel32);
HWY_EXPORT(MulCKernel64);
HWY_EXPORT(MulCKernel32);
HWY_EXPORT(AbsKernel64);
HWY_EXPORT(SqrKernel64);
HWY_EXPORT(DivKernel64);
HWY_EXPORT(SqrtKernel64);
HWY_EXPORT(ExpKernel64);
HWY_EXPORT(LnKernel64);

namespace {

inline std::size_t Count(int len) { return static_cast<std::size_t>(len); }

template <typename T>
void CopyElems(const T* src, T* dst, int len) {
  if (src != dst) std::memmove(dst, src, Count(len) * sizeof(T));
}
// All bits zero is +0 for both float types.
template <typename T>
void ZeroElems(T* dst, int len) {
  std::memset(dst, 0, Count(len) * sizeof(T));
}

// The shared body of the out-of-place constant multiply (MulC, DivC):
// 1 copies, 0 (either sign) writes +0 whatever the elements hold.
IppStatus MulConst64(const Ipp64f* pSrc, Ipp64f val, Ipp64f* pDst, int len) {
  if (val == 1.0) {
    CopyElems(pSrc, pDst, len);
  } else if (val == 0.0) {
    ZeroElems(pDst, len);
  } else {
    HWY_DYNAMIC_DISPATCH(MulCKernel64)(pSrc, val, pDst, Count(len));
  }
  return ippStsNoErr;
}
// In place: 1 leaves the vector untouched, 0 writes +0.
template <typename T, class Kernel>
IppStatus MulConstInPlace(T val, T* pSrcDst, int len, Kernel kernel) {
  if (val == T(1)) return ippStsNoErr;
  if (val == T(0)) {
    ZeroElems(pSrcDst, len);
  } else {
    kernel(pSrcDst, val, pSrcDst, Count(len));
  }
  return ippStsNoErr;
}

}  // namespace

// Two-vector operations: null pointers first, then the length.
#define NX_CHECK2(a, b, len)                             \
  if ((a) == nullptr || (b) == nullptr) return ippStsNullPtrErr; \
  if ((len) < 1) return ippStsSizeErr;
#define NX_CHECK3(a, b, c, len)                                            \
  if ((a) == nullptr || (b) == nullptr || (c) == nullptr) return ippStsNullPtrErr; \
  if ((len) < 1) return ippStsSizeErr;
#define NX_CHECK1(a, len)                       \
  if ((a) == nullptr) return ippStsNullPtrErr; \
  if ((len) < 1) return ippStsSizeErr;

IppStatus ippsAdd_64f(const Ipp64f* pSrc1, const Ipp64f* pSrc2, Ipp64f* pDst, int len) {
  NX_CHECK3(pSrc1, pSrc2, pDst, len);
  HWY_DYNAMIC_DISPATCH(AddKernel64)(pSrc1, pSrc2, pDst, Count(len));
  return ippStsNoErr;
}

IppStatus ippsAdd_64f_I(const Ipp64f* pSrc, Ipp64f* pSrcDst, int len) {
  NX_CHECK2(pSrc, pSrcDst, len);
  HWY_DYNAMIC_DISPATCH(AddKernel64)(pSrcDst, pSrc, pSrcDst, Count(len));
  return ippStsNoErr;
}

IppStatus ippsSub_64f_I(const Ipp64f* pSrc, Ipp64f* pSrcDst, int len) {
  NX_CHECK2(pSrc, pSrcDst, len);
  HWY_DYNAMIC_DISPATCH(SubKernel64)(pSrcDst, pSrc, pSrcDst, Count(len));
  return ippStsNoErr;
}

IppStatus ippsSub_32f_I(const Ipp32f* pSrc, Ipp32f* pSrcDst, int len) {
  NX_CHECK2(pSrc, pSrcDst, len);
  HWY_DYNAMIC_DISPATCH(SubKernel32)(pSrcDst, pSrc, pSrcDst, Count(len));
  return ippStsNoErr;
}

IppStatus ippsMul_64f(const Ipp64f* pSrc1, const Ipp64f* pSrc2, Ipp64f* pDst, int len) {
  NX_CHECK3(pSrc1, pSrc2, pDst, len);
  HWY_DYNAMIC_DISPATCH(MulKernel64)(pSrc1, pSrc2, pDst, Count(len));
  return ippStsNoErr;
}

IppStatus ippsMul_64f_I(const Ipp64f* pSrc, Ipp64f* pSrcDst, int len) {
  NX_CHECK2(pSrc, pSrcDst, len);
  HWY_DYNAMIC_DISPATCH(MulKernel64)(pSrcDst, pSrc, pSrcDst, Count(len));
  return ippStsNoErr;
}

IppStatus ippsMul_32f(const Ipp32f* pSrc1, const Ipp32f* pSrc2, Ipp32f* pDst, int len) {
  NX_CHECK3(pSrc1, pSrc2, pDst, len);
  HWY_DYNAMIC_DISPATCH(MulKernel32)(pSrc1, pSrc2, pDst, Count(len));
  return ippStsNoErr;
}

IppStatus ippsMul_32f_I(const Ipp32f* pSrc, Ipp32f* pSrcDst, int len) {
  NX_CHECK2(pSrc, pSrcDst, len);
  HWY_DYNAMIC_DISPATCH(MulKernel32)(pSrcDst, pSrc, pSrcDst, Count(len));
  return ippStsNoErr;
}

IppStatus ippsDiv_64f_I(const Ipp64f* pSrc, Ipp64f* pSrcDst, int len) {
  NX_CHECK2(pSrc, pSrcDst, len);
  const bool zeroMet = HWY_DYNAMIC_DISPATCH(DivKernel64)(pSrcDst, pSrc, pSrcDst, Count(len));
  return zeroMet ? ippStsDivByZero : ippStsNoErr;
}

IppStatus ippsAddC_64f(const Ipp64f* pSrc, Ipp64f val, Ipp64f* pDst, int len) {
  NX_CHECK2(pSrc, pDst, len);
  // Adding 0 copies (so a -0 element stays -0).
  if (val == 0.0) {
    CopyElems(pSrc, pDst, len);
  } else {
    HWY_DYNAMIC_DISPATCH(AddCKernel64)(pSrc, val, pDst, Count(len));
  }
  return ippStsNoErr;
}

IppStatus ippsAddC_64f_I(Ipp64f val, Ipp64f* pSrcDst, int len) {
  NX_CHECK1(pSrcDst, len);
  HWY_DYNAMIC_DISPATCH(AddCKernel64)(pSrcDst, val, pSrcDst, Count(len));
  return ippStsNoErr;
}

// x - c is x + (-c) exactly in IEEE arithmetic, so SubC shares the AddC kernel.
IppStatus ippsSubC_64f(const Ipp64f* pSrc, Ipp64f val, Ipp64f* pDst, int len) {
  NX_CHECK2(pSrc, pDst, len);
  if (val == 0.0) {
    CopyElems(pSrc, pDst, len);
  } else {
    HWY_DYNAMIC_DISPATCH(AddCKernel64)(pSrc, -val, pDst, Count(len));
  }
  return ippStsNoErr;
}

IppStatus ippsSubC_64f_I(Ipp64f val, Ipp64f* pSrcDst, int len) {
  NX_CHECK1(pSrcDst, len);
  HWY_DYNAMIC_DISPATCH(AddCKernel64)(pSrcDst, -val, pSrcDst, Count(len));
  return ippStsNoErr;
}

IppStatus ippsSubCRev_64f(const Ipp64f* pSrc, Ipp64f val, Ipp64f* pDst, int len) {
  NX_CHECK2(pSrc, pDst, len);
  HWY_DYNAMIC_DISPATCH(SubCRevKernel64)(pSrc, val, pDst, Count(len));
  return ippStsNoErr;
}

IppStatus ippsSubCRev_64f_I(Ipp64f val, Ipp64f* pSrcDst, int len) {
  NX_CHECK1(pSrcDst, len);
  HWY_DYNAMIC_DISPATCH(SubCRevKernel64)(pSrcDst, val, pSrcDst, Count(len));
  return ippStsNoErr;
}

IppStatus ippsSubCRev_32f_I(Ipp32f val, Ipp32f* pSrcDst, int len) {
  NX_CHECK1(pSrcDst, len);
  HWY_DYNAMIC_DISPATCH(SubCRevKernel32)(pSrcDst, val, pSrcDst, Count(len));
  return ippStsNoErr;
}

IppStatus ippsMulC_64f(const Ipp64f* pSrc, Ipp64f val, Ipp64f* pDst, int len) {
  NX_CHECK2(pSrc, pDst, len);
  return MulConst64(pSrc, val, pDst, len);
}

IppStatus ippsMulC_64f_I(Ipp64f val, Ipp64f* pSrcDst, int len) {
  NX_CHECK1(pSrcDst, len);
  return MulConstInPlace(val, pSrcDst, len, HWY_DYNAMIC_DISPATCH(MulCKernel64));
}

IppStatus ippsMulC_32f_I(Ipp32f val, Ipp32f* pSrcDst, int len) {
  NX_CHECK1(pSrcDst, len);
  return MulConstInPlace(val, pSrcDst, len, HWY_DYNAMIC_DISPATCH(MulCKernel32));
}

// Division by a constant multiplies by its reciprocal: a constant of 1 copies
// (or leaves the vector alone), an infinite one gives zeros.
IppStatus ippsDivC_64f(const Ipp64f* pSrc, Ipp64f val, Ipp64f* pDst, int len) {
  NX_CHECK2(pSrc, pDst, len);
  if (val == 0.0) return ippStsDivByZeroErr;
  return MulConst64(pSrc, 1.0 / val, pDst, len);
}

IppStatus ippsDivC_64f_I(Ipp64f val, Ipp64f* pSrcDst, int len) {
  NX_CHECK1(pSrcDst, len);
  if (val == 0.0) return ippStsDivByZeroErr;
  return MulConstInPlace(1.0 / val, pSrcDst, len, HWY_DYNAMIC_DISPATCH(MulCKernel64));
}

IppStatus ippsAbs_64f(const Ipp64f* pSrc, Ipp64f* pDst, int len) {
  NX_CHECK2(pSrc, pDst, len);
  HWY_DYNAMIC_DISPATCH(AbsKernel64)(pSrc, pDst, Count(len));
  return ippStsNoErr;
}

IppStatus ippsAbs_64f_I(Ipp64f* pSrcDst, int len) {
  NX_CHECK1(pSrcDst, len);
  HWY_DYNAMIC_DISPATCH(AbsKernel64)(pSrcDst, pSrcDst, Count(len));
  return ippStsNoErr;
}

IppStatus ippsSqr_64f(const Ipp64f* pSrc, Ipp64f* pDst, int len) {
  NX_CHECK2(pSrc, pDst, len);
  HWY_DYNAMIC_DISPATCH(SqrKernel64)(pSrc, pDst, Count(len));
  return ippStsNoErr;
}

IppStatus ippsSqr_64f_I(Ipp64f* pSrcDst, int len) {
  NX_CHECK1(pSrcDst, len);
  HWY_DYNAMIC_DISPATCH(SqrKernel64)(pSrcDst, pSrcDst, Count(len));
  return ippStsNoErr;
}

IppStatus ippsSqrt_64f(const Ipp64f* pSrc, Ipp64f* pDst, int len) {
  NX_CHECK2(pSrc, pDst, len);
  return HWY_DYNAMIC_DISPATCH(SqrtKernel64)(pSrc, pDst, Count(len)) ? ippStsSqrtNegArg : ippStsNoErr;
}

IppStatus ippsSqrt_64f_I(Ipp64f* pSrcDst, int len) {
  NX_CHECK1(pSrcDst, len);
  return HWY_DYNAMIC_DISPATCH(SqrtKernel64)(pSrcDst, pSrcDst, Count(len)) ? ippStsSqrtNegArg : ippStsNoErr;
}

IppStatus ippsExp_64f(const Ipp64f* pSrc, Ipp64f* pDst, int len) {
  NX_CHECK2(pSrc, pDst, len);
  HWY_DYNAMIC_DISPATCH(ExpKernel64)(pSrc, pDst, Count(len));
  return ippStsNoErr;
}

IppStatus ippsExp_64f_I(Ipp64f* pSrcDst, int len) {
  NX_CHECK1(pSrcDst, len);
  HWY_DYNAMIC_DISPATCH(ExpKernel64)(pSrcDst, pSrcDst, Count(len));
  return ippStsNoErr;
}

IppStatus ippsLn_64f(const Ipp64f* pSrc, Ipp64f* pDst, int len) {
  NX_CHECK2(pSrc, pDst, len);
  return HWY_DYNAMIC_DISPATCH(LnKernel64)(pSrc, pDst, Count(len));
}

IppStatus ippsLn_64f_I(Ipp64f* pSrcDst, int len) {
  NX_CHECK1(pSrcDst, len);
  return HWY_DYNAMIC_DISPATCH(LnKernel64)(pSrcDst, pSrcDst, Count(len));
}

#undef NX_CHECK1
#undef NX_CHECK2
#undef NX_CHECK3

}  // namespace nx::builtin
#endif  // HWY_ONCE
