// Built-in routines of the complex-arithmetic family: element-wise arithmetic
// on interleaved complex doubles, magnitude / phase / power spectrum, the
// real <-> complex and Cartesian <-> polar conversions and the CCS conjugate
// fill.
//
// Layout decisions: a complex vector is treated either as a flat array of
// 2*len doubles (add, subtract, constants: no shuffles at all), as adjacent
// (re, im) pairs inside each vector (multiply and divide: one pair swap and two
// lane duplications per vector), or split into a real and an imaginary vector
// with LoadInterleaved2 (magnitude, square root, extraction). Every kernel
// evaluates exactly the expression its scalar twin evaluates, so the results
// agree bit for bit. The routines built on sin/cos/atan2 call the C maths per
// element: the transcendental itself dominates, and the results stay those of
// the C library.
#include "vector/IPPPTypes.h"

// Keep a*b + c*d as separate roundings on the FMA targets: the kernels must
// reproduce the scalar twins exactly. (Deliberate fused accumulations use
// MulAdd explicitly.)
#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#else
#pragma GCC optimize("fp-contract=off")
#endif

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vector/builtin/NXBuiltinComplex.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "vector/builtin/NXBuiltinLoops-inl.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>

HWY_BEFORE_NAMESPACE();
namespace nx::builtin {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using D = hn::ScalableTag<double>;

// ---------------------------------------------------------------- flat ops
// dst = a + b over n doubles.
void AddFlatK(const double* a, const double* b, double* dst, size_t n) {
  MapStreams(a, b, dst, n, [](auto, auto va, auto vb) { return hn::Add(va, vb); });
}

// dst = a - b over n doubles.
void SubFlatK(const double* a, const double* b, double* dst, size_t n) {
  MapStreams(a, b, dst, n, [](auto, auto va, auto vb) { return hn::Sub(va, vb); });
}

// The constant (re, im) repeated over a vector: even lanes re, odd lanes im.
template <class DW>
HWY_INLINE hn::Vec<DW> PairPattern(DW d, double re, double im) {
#if NX_PAIR_SIMD
  return hn::OddEven(hn::Set(d, im), hn::Set(d, re));
#else
  (void)im;
  return hn::Set(d, re);
#endif
}

// mode 0: dst = src + c, 1: dst = src - c, 2: dst = c - src; n complex elements.
// The pair kernels run pieces of whole (re, im) pairs (ForAligned<2>), so the
// pattern of a constant stays in step with the array.
void ConstFlatK(const Ipp64fc* src, Ipp64fc c, Ipp64fc* dst, size_t n, int mode) {
  size_t i = 0;
#if NX_PAIR_SIMD
  const D d;
  const double* s = &src->re;
  double* o = &dst->re;
  const size_t nd = 2 * n;
  if (mode == 0) {
    i = ForAligned<2>(d, o, nd, [&](auto dw, size_t k) {
      hn::StoreU(hn::Add(hn::LoadU(dw, s + k), PairPattern(dw, c.re, c.im)), dw, o + k);
    });
  } else if (mode == 1) {
    i = ForAligned<2>(d, o, nd, [&](auto dw, size_t k) {
      hn::StoreU(hn::Sub(hn::LoadU(dw, s + k), PairPattern(dw, c.re, c.im)), dw, o + k);
    });
  } else {
    i = ForAligned<2>(d, o, nd, [&](auto dw, size_t k) {
      hn::StoreU(hn::Sub(PairPattern(dw, c.re, c.im), hn::LoadU(dw, s + k)), dw, o + k);
    });
  }
  i /= 2;  // whole pairs only
#endif
  for (; i < n; ++i) {
    const Ipp64fc x = src[i];
    if (mode == 0) {
      dst[i] = {x.re + c.re, x.im + c.im};
    } else if (mode == 1) {
      dst[i] = {x.re - c.re, x.im - c.im};
    } else {
      dst[i] = {c.re - x.re, c.im - x.im};
    }
  }
}

// ---------------------------------------------------------------- pair ops
// Scalar forms shared by the kernels' tails (the twins spell out the same
// expressions).
HWY_INLINE Ipp64fc MulScalar(Ipp64fc a, Ipp64fc b) {
  return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}

#if NX_PAIR_SIMD
// a * b for vectors of (re, im) pairs:
// t1 = (ar*br, ai*br), t2 = (ai*bi, ar*bi); re = t1 - t2, im = t1 + t2.
template <class DW>
HWY_INLINE hn::Vec<DW> MulPairs(DW d, hn::Vec<DW> a, hn::Vec<DW> b) {
  const auto t1 = hn::Mul(a, hn::DupEven(b));
  const auto t2 = hn::Mul(hn::Reverse2(d, a), hn::DupOdd(b));
  return hn::OddEven(hn::Add(t1, t2), hn::Sub(t1, t2));
}

// a * c for a constant c given as broadcast real and imaginary parts.
template <class DW>
HWY_INLINE hn::Vec<DW> MulConst(DW d, hn::Vec<DW> a, hn::Vec<DW> cre, hn::Vec<DW> cim) {
  const auto t1 = hn::Mul(a, cre);                  // ar*cr, ai*cr
  const auto t2 = hn::Mul(hn::Reverse2(d, a), cim);  // ai*ci, ar*ci
  return hn::OddEven(hn::Add(t1, t2), hn::Sub(t1, t2));
}
#endif

// dst = a * b (complex), n elements; dst may be a or b. The head and the tail
// are narrower vectors of whole pairs (scalar code there would be fused into
// multiply-add/subtract by GCC's SLP pass and round differently from the twin).
void MulK(const Ipp64fc* a, const Ipp64fc* b, Ipp64fc* dst, size_t n) {
#if NX_PAIR_SIMD
  const D d;
  const double* pa = &a->re;
  const double* pb = &b->re;
  double* o = &dst->re;
  ForAligned<2>(d, o, 2 * n, [&](auto dw, size_t k) {
    hn::StoreU(MulPairs(dw, hn::LoadU(dw, pa + k), hn::LoadU(dw, pb + k)), dw, o + k);
  });
#else
  for (size_t i = 0; i < n; ++i) dst[i] = MulScalar(a[i], b[i]);
#endif
}

// dst = src * c (complex constant), n elements.
void MulCK(const Ipp64fc* src, Ipp64fc c, Ipp64fc* dst, size_t n) {
#if NX_PAIR_SIMD
  const D d;
  const double* s = &src->re;
  double* o = &dst->re;
  ForAligned<2>(d, o, 2 * n, [&](auto dw, size_t k) {
    hn::StoreU(MulConst(dw, hn::LoadU(dw, s + k), hn::Set(dw, c.re), hn::Set(dw, c.im)), dw, o + k);
  });
#else
  for (size_t i = 0; i < n; ++i) dst[i] = MulScalar(src[i], c);
#endif
}

// srcDst = srcDst / src. A divisor of squared magnitude 0 gives NaN in both
// parts; returns true when that happened. Others: a * conj(b) * (1 / |b|^2).
bool DivK(const Ipp64fc* src, Ipp64fc* srcDst, size_t n) {
#if NX_PAIR_SIMD
  const D d;
  const double* pb = &src->re;
  double* pa = &srcDst->re;
  const auto divide = [](auto dw, auto a, auto b, bool& zero) {
    const auto vzero = hn::Zero(dw);
    const auto sq = hn::Mul(b, b);
    const auto m = hn::Add(sq, hn::Reverse2(dw, sq));  // |b|^2 in both lanes
    const auto isZero = hn::Eq(m, vzero);
    if (!hn::AllFalse(dw, isZero)) zero = true;
    const auto inv = hn::Div(hn::Set(dw, 1.0), m);
    const auto t1 = hn::Mul(a, hn::DupEven(b));                   // ar*br, ai*br
    const auto t2 = hn::Mul(hn::Reverse2(dw, a), hn::DupOdd(b));  // ai*bi, ar*bi
    const auto q = hn::Mul(hn::OddEven(hn::Sub(t1, t2), hn::Add(t1, t2)), inv);
    return hn::IfThenElse(isZero, hn::Set(dw, std::numeric_limits<double>::quiet_NaN()), q);
  };
  bool zero = false;
  ForAligned<2>(d, pa, 2 * n, [&](auto dw, size_t k) {
    hn::StoreU(divide(dw, hn::LoadU(dw, pa + k), hn::LoadU(dw, pb + k), zero), dw, pa + k);
  });
  return zero;
#else
  bool zero = false;
  for (size_t i = 0; i < n; ++i) {
    const Ipp64fc a = srcDst[i];
    const Ipp64fc b = src[i];
    const double m = b.re * b.re + b.im * b.im;
    if (m == 0.0) {
      zero = true;
      srcDst[i] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN()};
      continue;
    }
    const double inv = 1.0 / m;
    srcDst[i] = {(a.re * b.re + a.im * b.im) * inv, (a.im * b.re - a.re * b.im) * inv};
  }
  return zero;
#endif
}

// ---------------------------------------------------------------- split ops
// Principal square root. The argument is scaled by 2^-512 when a part is huge
// (or by 2^600 when both are tiny, denormals included) so that |z| neither
// overflows nor underflows; the scaling is exact and is undone by 2^256 (or
// 2^-300) on the root. An infinite
// imaginary part gives (+inf, that part) whatever the real part.
void SqrtK(const Ipp64fc* src, Ipp64fc* dst, size_t n) {
  const D d;
  const size_t N = hn::Lanes(d);
  const double* s = &src->re;
  double* o = &dst->re;
  const auto hugeT = hn::Set(d, 0x1p510);
  const auto tinyT = hn::Set(d, 0x1p-510);
  const auto one = hn::Set(d, 1.0);
  const auto half = hn::Set(d, 0.5);
  const auto zero = hn::Zero(d);
  const auto inf = hn::Set(d, HUGE_VAL);
  size_t i = 0;
  for (; i + N <= n; i += N) {
    hn::Vec<D> x, y;
    hn::LoadInterleaved2(d, s + 2 * i, x, y);
    const auto ax = hn::Abs(x);
    const auto ay = hn::Abs(y);
    const auto big = hn::Or(hn::Gt(ax, hugeT), hn::Gt(ay, hugeT));
    const auto tiny = hn::And(hn::Lt(ax, tinyT), hn::Lt(ay, tinyT));
    const auto sIn = hn::IfThenElse(big, hn::Set(d, 0x1p-512), hn::IfThenElse(tiny, hn::Set(d, 0x1p600), one));
    const auto sOut = hn::IfThenElse(big, hn::Set(d, 0x1p256), hn::IfThenElse(tiny, hn::Set(d, 0x1p-300), one));
    const auto xs = hn::Mul(x, sIn);
    const auto ys = hn::Mul(y, sIn);
    const auto m = hn::Sqrt(hn::Add(hn::Mul(xs, xs), hn::Mul(ys, ys)));
    const auto t = hn::Sqrt(hn::Mul(hn::Add(m, hn::Abs(xs)), half));
    const auto q = hn::IfThenElse(hn::Eq(t, zero), ys, hn::Div(ys, hn::Add(t, t)));
    const auto neg = hn::Lt(x, zero);
    auto re = hn::Mul(hn::IfThenElse(neg, hn::Abs(q), t), sOut);
    auto im = hn::Mul(hn::IfThenElse(neg, hn::CopySign(t, ys), q), sOut);
    const auto infY = hn::Eq(ay, inf);
    re = hn::IfThenElse(infY, inf, re);
    im = hn::IfThenElse(infY, y, im);
    hn::StoreInterleaved2(re, im, d, o + 2 * i);
  }
  for (; i < n; ++i) {
    const double x = src[i].re, y = src[i].im;
    const double ax = std::fabs(x), ay = std::fabs(y);
    double sIn = 1.0, sOut = 1.0;
    if (ax > 0x1p510 || ay > 0x1p510) {
      sIn = 0x1p-512;
      sOut = 0x1p256;
    } else if (ax < 0x1p-510 && ay < 0x1p-510) {
      sIn = 0x1p600;
      sOut = 0x1p-300;
    }
    const double xs = x * sIn, ys = y * sIn;
    const double m = std::sqrt(xs * xs + ys * ys);
    const double t = std::sqrt((m + std::fabs(xs)) * 0.5);
    const double q = t == 0.0 ? ys : ys / (t + t);
    double re = (x < 0.0 ? std::fabs(q) : t) * sOut;
    double im = (x < 0.0 ? std::copysign(t, ys) : q) * sOut;
    if (ay == HUGE_VAL) {
      re = HUGE_VAL;
      im = y;
    }
    dst[i] = {re, im};
  }
}

// mode 0: magnitude sqrt(re^2 + im^2), 1: power re^2 + im^2, 2: real part,
// 3: imaginary part; one double out per complex element.
void SplitK(const Ipp64fc* src, double* dst, size_t n, int mode) {
  const D d;
  const size_t N = hn::Lanes(d);
  const double* s = &src->re;
  size_t i = 0;
  if (mode <= 1) {
    const bool root = mode == 0;
    if (n >= 2 * N) {
      for (; i <= n - 2 * N; i += 2 * N) {
        hn::Vec<D> x0, y0, x1, y1;
        hn::LoadInterleaved2(d, s + 2 * i, x0, y0);
        hn::LoadInterleaved2(d, s + 2 * (i + N), x1, y1);
        auto p0 = hn::Add(hn::Mul(x0, x0), hn::Mul(y0, y0));
        auto p1 = hn::Add(hn::Mul(x1, x1), hn::Mul(y1, y1));
        if (root) {
          p0 = hn::Sqrt(p0);
          p1 = hn::Sqrt(p1);
        }
        hn::StoreU(p0, d, dst + i);
        hn::StoreU(p1, d, dst + i + N);
      }
    }
    for (; i + N <= n; i += N) {
      hn::Vec<D> x, y;
      hn::LoadInterleaved2(d, s + 2 * i, x, y);
      auto p = hn::Add(hn::Mul(x, x), hn::Mul(y, y));
      if (root) p = hn::Sqrt(p);
      hn::StoreU(p, d, dst + i);
    }
    for (; i < n; ++i) {
      const double p = src[i].re * src[i].re + src[i].im * src[i].im;
      dst[i] = root ? std::sqrt(p) : p;
    }
    return;
  }
  const bool wantIm = mode == 3;
  for (; i + N <= n; i += N) {
    hn::Vec<D> x, y;
    hn::LoadInterleaved2(d, s + 2 * i, x, y);
    hn::StoreU(wantIm ? y : x, d, dst + i);
  }
  for (; i < n; ++i) dst[i] = wantIm ? src[i].im : src[i].re;
}

// dst = (re, im); a null part reads as zeros.
template <typename T, typename C>
HWY_INLINE void InterleaveT(const T* re, const T* im, C* dst, size_t n) {
  const hn::ScalableTag<T> d;
  const size_t N = hn::Lanes(d);
  T* o = &dst->re;
  size_t i = 0;
  for (; i + N <= n; i += N) {
    const auto vr = re ? hn::LoadU(d, re + i) : hn::Zero(d);
    const auto vi = im ? hn::LoadU(d, im + i) : hn::Zero(d);
    hn::StoreInterleaved2(vr, vi, d, o + 2 * i);
  }
  for (; i < n; ++i) dst[i] = {re ? re[i] : T(0), im ? im[i] : T(0)};
}

void Interleave64K(const double* re, const double* im, Ipp64fc* dst, size_t n) { InterleaveT(re, im, dst, n); }
void Interleave32K(const float* re, const float* im, Ipp32fc* dst, size_t n) { InterleaveT(re, im, dst, n); }

}  // namespace HWY_NAMESPACE
}  // namespace nx::builtin
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include "vector/LibCDispatcher.h"
#include "vector/builtin/NXBuiltins.h"
#include "vector/NXPrimitiveChecks.h"

namespace nx::builtin {

HWY_EXPORT(AddFlatK);
HWY_EXPORT(SubFlatK);
HWY_EXPORT(ConstFlatK);
HWY_EXPORT(MulK);
HWY_EXPORT(MulCK);
HWY_EXPORT(DivK);
HWY_EXPORT(SqrtK);
HWY_EXPORT(SplitK);
HWY_EXPORT(Interleave64K);
HWY_EXPORT(Interleave32K);

namespace {

using primchecks::CheckLenPtrs;

size_t Doubles(int len) { return 2 * static_cast<size_t>(len); }

IppStatus ConstOp(const Ipp64fc* pSrc, Ipp64fc val, Ipp64fc* pDst, int len, int mode) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pDst)) return st;
  HWY_DYNAMIC_DISPATCH(ConstFlatK)(pSrc, val, pDst, static_cast<size_t>(len), mode);
  return ippStsNoErr;
}

IppStatus SplitOp(const Ipp64fc* pSrc, Ipp64f* pDst, int len, int mode) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pDst)) return st;
  HWY_DYNAMIC_DISPATCH(SplitK)(pSrc, pDst, static_cast<size_t>(len), mode);
  return ippStsNoErr;
}

// The multiplier of a constant division: conj(c) / |c|^2; false when |c|^2 is 0.
bool DivisorFactor(Ipp64fc c, Ipp64fc& k) {
  const double m = c.re * c.re + c.im * c.im;
  if (m == 0.0) return false;
  const double inv = 1.0 / m;
  k = {c.re * inv, -(c.im * inv)};
  return true;
}

}  // namespace

IppStatus ippsAdd_64fc(const Ipp64fc* pSrc1, const Ipp64fc* pSrc2, Ipp64fc* pDst, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrc1, pSrc2, pDst)) return st;
  HWY_DYNAMIC_DISPATCH(AddFlatK)(&pSrc1->re, &pSrc2->re, &pDst->re, Doubles(len));
  return ippStsNoErr;
}

IppStatus ippsAdd_64fc_I(const Ipp64fc* pSrc, Ipp64fc* pSrcDst, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pSrcDst)) return st;
  HWY_DYNAMIC_DISPATCH(AddFlatK)(&pSrcDst->re, &pSrc->re, &pSrcDst->re, Doubles(len));
  return ippStsNoErr;
}

IppStatus ippsSub_64fc_I(const Ipp64fc* pSrc, Ipp64fc* pSrcDst, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pSrcDst)) return st;
  HWY_DYNAMIC_DISPATCH(SubFlatK)(&pSrcDst->re, &pSrc->re, &pSrcDst->re, Doubles(len));
  return ippStsNoErr;
}

IppStatus ippsMul_64fc_I(const Ipp64fc* pSrc, Ipp64fc* pSrcDst, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pSrcDst)) return st;
  HWY_DYNAMIC_DISPATCH(MulK)(pSrcDst, pSrc, pSrcDst, static_cast<size_t>(len));
  return ippStsNoErr;
}

IppStatus ippsDiv_64fc_I(const Ipp64fc* pSrc, Ipp64fc* pSrcDst, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pSrcDst)) return st;
  const bool zero = HWY_DYNAMIC_DISPATCH(DivK)(pSrc, pSrcDst, static_cast<size_t>(len));
  return zero ? ippStsDivByZero : ippStsNoErr;
}

IppStatus ippsAddC_64fc(const Ipp64fc* pSrc, Ipp64fc val, Ipp64fc* pDst, int len) { return ConstOp(pSrc, val, pDst, len, 0); }
IppStatus ippsAddC_64fc_I(Ipp64fc val, Ipp64fc* pSrcDst, int len) { return ConstOp(pSrcDst, val, pSrcDst, len, 0); }
IppStatus ippsSubC_64fc(const Ipp64fc* pSrc, Ipp64fc val, Ipp64fc* pDst, int len) { return ConstOp(pSrc, val, pDst, len, 1); }
IppStatus ippsSubC_64fc_I(Ipp64fc val, Ipp64fc* pSrcDst, int len) { return ConstOp(pSrcDst, val, pSrcDst, len, 1); }
IppStatus ippsSubCRev_64fc(const Ipp64fc* pSrc, Ipp64fc val, Ipp64fc* pDst, int len) { return ConstOp(pSrc, val, pDst, len, 2); }

IppStatus ippsMulC_64fc(const Ipp64fc* pSrc, Ipp64fc val, Ipp64fc* pDst, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pDst)) return st;
  HWY_DYNAMIC_DISPATCH(MulCK)(pSrc, val, pDst, static_cast<size_t>(len));
  return ippStsNoErr;
}

IppStatus ippsMulC_64fc_I(Ipp64fc val, Ipp64fc* pSrcDst, int len) { return ippsMulC_64fc(pSrcDst, val, pSrcDst, len); }

IppStatus ippsDivC_64fc(const Ipp64fc* pSrc, Ipp64fc val, Ipp64fc* pDst, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pDst)) return st;
  Ipp64fc k;
  if (!DivisorFactor(val, k)) return ippStsDivByZeroErr;
  HWY_DYNAMIC_DISPATCH(MulCK)(pSrc, k, pDst, static_cast<size_t>(len));
  return ippStsNoErr;
}

IppStatus ippsDivC_64fc_I(Ipp64fc val, Ipp64fc* pSrcDst, int len) { return ippsDivC_64fc(pSrcDst, val, pSrcDst, len); }

IppStatus ippsSqr_64fc(const Ipp64fc* pSrc, Ipp64fc* pDst, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pDst)) return st;
  HWY_DYNAMIC_DISPATCH(MulK)(pSrc, pSrc, pDst, static_cast<size_t>(len));
  return ippStsNoErr;
}

IppStatus ippsSqr_64fc_I(Ipp64fc* pSrcDst, int len) { return ippsSqr_64fc(pSrcDst, pSrcDst, len); }

IppStatus ippsSqrt_64fc(const Ipp64fc* pSrc, Ipp64fc* pDst, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pDst)) return st;
  HWY_DYNAMIC_DISPATCH(SqrtK)(pSrc, pDst, static_cast<size_t>(len));
  return ippStsNoErr;
}

IppStatus ippsSqrt_64fc_I(Ipp64fc* pSrcDst, int len) { return ippsSqrt_64fc(pSrcDst, pSrcDst, len); }

IppStatus ippsMagnitude_64fc(const Ipp64fc* pSrc, Ipp64f* pDst, int len) { return SplitOp(pSrc, pDst, len, 0); }
IppStatus ippsPowerSpectr_64fc(const Ipp64fc* pSrc, Ipp64f* pDst, int len) { return SplitOp(pSrc, pDst, len, 1); }
IppStatus ippsReal_64fc(const Ipp64fc* pSrc, Ipp64f* pDstRe, int len) { return SplitOp(pSrc, pDstRe, len, 2); }
IppStatus ippsImag_64fc(const Ipp64fc* pSrc, Ipp64f* pDstIm, int len) { return SplitOp(pSrc, pDstIm, len, 3); }

IppStatus ippsPhase_64fc(const Ipp64fc* pSrc, Ipp64f* pDst, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pDst)) return st;
  for (int i = 0; i < len; ++i) pDst[i] = _atan2(pSrc[i].im, pSrc[i].re);
  return ippStsNoErr;
}

// Only the destination is required: a missing part is filled with zeros.
IppStatus ippsRealToCplx_64f(const Ipp64f* pSrcRe, const Ipp64f* pSrcIm, Ipp64fc* pDst, int len) {
  if (IppStatus st = CheckLenPtrs(len, pDst)) return st;
  HWY_DYNAMIC_DISPATCH(Interleave64K)(pSrcRe, pSrcIm, pDst, static_cast<size_t>(len));
  return ippStsNoErr;
}

IppStatus ippsRealToCplx_32f(const Ipp32f* pSrcRe, const Ipp32f* pSrcIm, Ipp32fc* pDst, int len) {
  if (IppStatus st = CheckLenPtrs(len, pDst)) return st;
  HWY_DYNAMIC_DISPATCH(Interleave32K)(pSrcRe, pSrcIm, pDst, static_cast<size_t>(len));
  return ippStsNoErr;
}

// The first lenDst/2 + 1 elements hold the spectrum; the rest become the
// conjugates of their mirror elements. A plain loop: it touches only the upper
// half once and is not a hot path.
IppStatus ippsConjCcs_64fc_I(Ipp64fc* pSrcDst, int lenDst) {
  if (IppStatus st = CheckLenPtrs(lenDst, pSrcDst)) return st;
  const int last = lenDst % 2 == 0 ? lenDst / 2 - 1 : (lenDst - 1) / 2;
  for (int k = 1; k <= last; ++k) pSrcDst[lenDst - k] = {pSrcDst[k].re, -pSrcDst[k].im};
  return ippStsNoErr;
}

// The polar conversions run on the C maths (single precision in double,
// rounded once on the store).
IppStatus ippsCartToPolar_64f(const Ipp64f* pSrcRe, const Ipp64f* pSrcIm, Ipp64f* pDstMagn, Ipp64f* pDstPhase, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrcRe, pSrcIm, pDstMagn, pDstPhase)) return st;
  for (int i = 0; i < len; ++i) {
    const double re = pSrcRe[i], im = pSrcIm[i];
    pDstMagn[i] = _sqrt(re * re + im * im);
    pDstPhase[i] = _atan2(im, re);
  }
  return ippStsNoErr;
}

IppStatus ippsCartToPolar_32f(const Ipp32f* pSrcRe, const Ipp32f* pSrcIm, Ipp32f* pDstMagn, Ipp32f* pDstPhase, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrcRe, pSrcIm, pDstMagn, pDstPhase)) return st;
  for (int i = 0; i < len; ++i) {
    const double re = pSrcRe[i], im = pSrcIm[i];
    pDstMagn[i] = static_cast<Ipp32f>(_sqrt(re * re + im * im));
    pDstPhase[i] = static_cast<Ipp32f>(_atan2(im, re));
  }
  return ippStsNoErr;
}

IppStatus ippsPolarToCart_64f(const Ipp64f* pSrcMagn, const Ipp64f* pSrcPhase, Ipp64f* pDstRe, Ipp64f* pDstIm, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrcMagn, pSrcPhase, pDstRe, pDstIm)) return st;
  for (int i = 0; i < len; ++i) {
    const double m = pSrcMagn[i], p = pSrcPhase[i];
    pDstRe[i] = m * _cos(p);
    pDstIm[i] = m * _sin(p);
  }
  return ippStsNoErr;
}

IppStatus ippsPolarToCart_32f(const Ipp32f* pSrcMagn, const Ipp32f* pSrcPhase, Ipp32f* pDstRe, Ipp32f* pDstIm, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrcMagn, pSrcPhase, pDstRe, pDstIm)) return st;
  for (int i = 0; i < len; ++i) {
    const double m = pSrcMagn[i], p = pSrcPhase[i];
    pDstRe[i] = static_cast<Ipp32f>(m * _cos(p));
    pDstIm[i] = static_cast<Ipp32f>(m * _sin(p));
  }
  return ippStsNoErr;
}

}  // namespace nx::builtin
#endif  // HWY_ONCE
