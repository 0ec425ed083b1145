// Built-in routines of the statistics, norm and threshold families: sums,
// means, standard deviation, extremes with and without position, dot
// products, difference norms, normalisation and the real, complex and integer
// thresholds.
//
// Reductions keep four vector accumulators (so that the add latency is hidden
// and the loop streams at load speed) and fold them once at the end; their
// results agree with an exact sum to rounding, not bit for bit with the
// scalar twins. Everything else evaluates exactly what the twin evaluates.
//
// NaN policy of the extremes (Min, Max, MinMax, MinIndx, MaxIndx): a NaN
// anywhere wins. The result is the first NaN of the vector and the index is
// its position (for MinMax both results are that NaN). This is the rule of
// "the first extreme element" applied to an unordered value, it never hides a
// NaN, and it costs the kernel only an unordered-compare per vector. Among
// equal extremes the first position wins; the value returned is that
// element, so a tie between -0 and +0 reports the sign of the first one.
#include <cstddef>

#include "vector/IPPPTypes.h"

#ifndef NX_BUILTIN_STATS_TYPES
#define NX_BUILTIN_STATS_TYPES
namespace nx::builtin {
// Result of the extremes kernel: values and positions of the minimum and
// maximum (both the first NaN when the vector holds one).
struct ExtremesResult {
  double MinValue;
  double MaxValue;
  size_t MinIndex;
  size_t MaxIndex;
};
}  // namespace nx::builtin
#endif

// Keep a*b + c*d as separate roundings on the FMA targets: the kernels must
// reproduce the scalar twins exactly. (Deliberate fused accumulations use
// MulAdd explicitly.)
#if defined(__clang__)
#pragma STDC FP_CONTRACT OFF
#else
#pragma GCC optimize("fp-contract=off")
#endif

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vector/builtin/NXBuiltinStats.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "vector/builtin/NXBuiltinLoops-inl.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

HWY_BEFORE_NAMESPACE();
namespace nx::builtin {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using D = hn::ScalableTag<double>;

// Sums term(i) over [0, n) with four accumulators, reading `anchor` (the
// source, or the first one) on vector boundaries (see ReduceAligned); *tail
// receives the index where a scalar remainder starts.
template <class DT, typename TA, class Term>
HWY_INLINE double SumVectors(DT d, const TA* anchor, size_t n, size_t* tail, const Term& term) {
  const auto s = ReduceAligned(d, anchor, n, tail, term, [&](hn::Vec<DT> acc, size_t k) { return hn::Add(acc, term(k)); });
  return hn::GetLane(hn::SumOfLanes(d, s));
}

// ---------------------------------------------------------------- sums
double SumK(const double* p, size_t n) {
  const D d;
  size_t i;
  double s = SumVectors(d, p, n, &i, [&](size_t k) { return hn::LoadU(d, p + k); });
  for (; i < n; ++i) s += p[i];
  return s;
}

// Single-precision elements summed in double.
double SumF32K(const float* p, size_t n) {
  const D d;
  const hn::Rebind<float, D> df;
  size_t i;
  double s = SumVectors(d, p, n, &i, [&](size_t k) { return hn::PromoteTo(d, hn::LoadU(df, p + k)); });
  for (; i < n; ++i) s += p[i];
  return s;
}

// Sum of squares over n doubles.
double SumSqK(const double* p, size_t n) {
  const D d;
  size_t i;
  double s = SumVectors(d, p, n, &i, [&](size_t k) {
    const auto v = hn::LoadU(d, p + k);
    return hn::Mul(v, v);
  });
  for (; i < n; ++i) s += p[i] * p[i];
  return s;
}

// Sum and sum of squares in one pass.
void SumAndSqK(const double* p, size_t n, double* sum, double* sumSq) {
  const D d;
  const size_t N = hn::Lanes(d);
  auto s0 = hn::Zero(d), s1 = hn::Zero(d), q0 = hn::Zero(d), q1 = hn::Zero(d);
  size_t i = 0;
  if (n >= 2 * N) {
    for (; i <= n - 2 * N; i += 2 * N) {
      const auto v0 = hn::LoadU(d, p + i);
      const auto v1 = hn::LoadU(d, p + i + N);
      s0 = hn::Add(s0, v0);
      s1 = hn::Add(s1, v1);
      q0 = hn::MulAdd(v0, v0, q0);
      q1 = hn::MulAdd(v1, v1, q1);
    }
  }
  for (; i + N <= n; i += N) {
    const auto v = hn::LoadU(d, p + i);
    s0 = hn::Add(s0, v);
    q0 = hn::MulAdd(v, v, q0);
  }
  double s = hn::GetLane(hn::SumOfLanes(d, hn::Add(s0, s1)));
  double q = hn::GetLane(hn::SumOfLanes(d, hn::Add(q0, q1)));
  for (; i < n; ++i) {
    s += p[i];
    q += p[i] * p[i];
  }
  *sum = s;
  *sumSq = q;
}

double DotK(const double* a, const double* b, size_t n) {
  const D d;
  size_t i;
  const auto acc = ReduceStreams(
      d, a, b, n, &i, [&](size_t k) { return hn::Mul(hn::LoadU(d, a + k), hn::LoadU(d, b + k)); },
      [](auto s, auto va, auto vb) { return hn::MulAdd(va, vb, s); });
  double s = hn::GetLane(hn::SumOfLanes(d, acc));
  for (; i < n; ++i) s += a[i] * b[i];
  return s;
}

// Unconjugated complex dot product. Pairwise products are accumulated without
// shuffling the sums: pp holds (ar*br, ai*bi), px holds (ar*bi, ai*br); the
// real part is the even minus the odd lanes of pp, the imaginary part all of px.
void DotCK(const Ipp64fc* a, const Ipp64fc* b, size_t n, Ipp64fc* out) {
  double re = 0.0, im = 0.0;
  size_t i = 0;
#if NX_PAIR_SIMD
  const D d;
  const size_t N = hn::Lanes(d);
  const double* pa = &a->re;
  const double* pb = &b->re;
  const size_t nd = 2 * n;
  auto pp0 = hn::Zero(d), pp1 = hn::Zero(d), px0 = hn::Zero(d), px1 = hn::Zero(d);
  if (nd >= 2 * N) {
    for (; i <= nd - 2 * N; i += 2 * N) {
      const auto a0 = hn::LoadU(d, pa + i), b0 = hn::LoadU(d, pb + i);
      const auto a1 = hn::LoadU(d, pa + i + N), b1 = hn::LoadU(d, pb + i + N);
      pp0 = hn::MulAdd(a0, b0, pp0);
      pp1 = hn::MulAdd(a1, b1, pp1);
      px0 = hn::MulAdd(a0, hn::Reverse2(d, b0), px0);
      px1 = hn::MulAdd(a1, hn::Reverse2(d, b1), px1);
    }
  }
  for (; i + N <= nd; i += N) {
    const auto a0 = hn::LoadU(d, pa + i), b0 = hn::LoadU(d, pb + i);
    pp0 = hn::MulAdd(a0, b0, pp0);
    px0 = hn::MulAdd(a0, hn::Reverse2(d, b0), px0);
  }
  const auto pp = hn::Add(pp0, pp1);
  re = hn::GetLane(hn::SumOfLanes(d, hn::OddEven(hn::Neg(pp), pp)));
  im = hn::GetLane(hn::SumOfLanes(d, hn::Add(px0, px1)));
  i /= 2;
#endif
  for (; i < n; ++i) {
    re += a[i].re * b[i].re - a[i].im * b[i].im;
    im += a[i].re * b[i].im + a[i].im * b[i].re;
  }
  *out = {re, im};
}

// mode 0: sum |a - b|, 1: sum (a - b)^2, 2: max |a - b| (NaN if any difference is NaN).
double NormDiffK(const double* a, const double* b, size_t n, int mode) {
  const D d;
  size_t i;
  if (mode == 0) {
    double s = SumVectors(d, a, n, &i, [&](size_t k) { return hn::Abs(hn::Sub(hn::LoadU(d, a + k), hn::LoadU(d, b + k))); });
    for (; i < n; ++i) s += std::fabs(a[i] - b[i]);
    return s;
  }
  if (mode == 1) {
    double s = SumVectors(d, a, n, &i, [&](size_t k) {
      const auto v = hn::Sub(hn::LoadU(d, a + k), hn::LoadU(d, b + k));
      return hn::Mul(v, v);
    });
    for (; i < n; ++i) s += (a[i] - b[i]) * (a[i] - b[i]);
    return s;
  }
  const size_t N = hn::Lanes(d);
  auto m0 = hn::Zero(d), m1 = hn::Zero(d);
  auto nan = hn::Lt(m0, m0);  // all false
  i = 0;
  if (n >= 2 * N) {
    for (; i <= n - 2 * N; i += 2 * N) {
      const auto v0 = hn::Abs(hn::Sub(hn::LoadU(d, a + i), hn::LoadU(d, b + i)));
      const auto v1 = hn::Abs(hn::Sub(hn::LoadU(d, a + i + N), hn::LoadU(d, b + i + N)));
      nan = hn::Or(nan, hn::Or(hn::IsNaN(v0), hn::IsNaN(v1)));
      m0 = hn::Max(m0, v0);
      m1 = hn::Max(m1, v1);
    }
  }
  for (; i + N <= n; i += N) {
    const auto v = hn::Abs(hn::Sub(hn::LoadU(d, a + i), hn::LoadU(d, b + i)));
    nan = hn::Or(nan, hn::IsNaN(v));
    m0 = hn::Max(m0, v);
  }
  bool anyNaN = !hn::AllFalse(d, nan);
  double m = hn::GetLane(hn::MaxOfLanes(d, hn::Max(m0, m1)));
  for (; i < n; ++i) {
    const double v = std::fabs(a[i] - b[i]);
    if (v != v) anyNaN = true;
    if (v > m) m = v;
  }
  return anyNaN ? std::numeric_limits<double>::quiet_NaN() : m;
}

// ---------------------------------------------------------------- extremes
// Blocks of this many elements are reduced with pure vector min/max; the
// block that first holds the winning value is rescanned (from cache) for the
// first position, so the index costs nothing in the streaming loop.
constexpr size_t kExtremesBlock = 2048;

// Index of the first element equal to v in p[0, len); v must occur.
HWY_INLINE size_t FirstEqual(D d, const double* p, size_t len, double v) {
  const size_t N = hn::Lanes(d);
  const auto vv = hn::Set(d, v);
  size_t i = 0;
  for (; i + N <= len; i += N) {
    const intptr_t k = hn::FindFirstTrue(d, hn::Eq(hn::LoadU(d, p + i), vv));
    if (k >= 0) return i + static_cast<size_t>(k);
  }
  while (i < len && !(p[i] == v)) ++i;
  return i;
}

// Index of the first NaN in p[0, len); one must occur.
HWY_INLINE size_t FirstNaN(D d, const double* p, size_t len) {
  const size_t N = hn::Lanes(d);
  size_t i = 0;
  for (; i + N <= len; i += N) {
    const intptr_t k = hn::FindFirstTrue(d, hn::IsNaN(hn::LoadU(d, p + i)));
    if (k >= 0) return i + static_cast<size_t>(k);
  }
  while (i < len && p[i] == p[i]) ++i;
  return i;
}

// Min and/or max of one block, ignoring NaN; returns true if the block holds a NaN.
template <bool kMin, bool kMax>
HWY_INLINE bool BlockExtremes(D d, const double* p, size_t len, double& mn, double& mx) {
  const size_t N = hn::Lanes(d);
  const auto pinf = hn::Set(d, HUGE_VAL);
  const auto ninf = hn::Set(d, -HUGE_VAL);
  auto mn0 = pinf, mn1 = pinf, mn2 = pinf, mn3 = pinf;
  auto mx0 = ninf, mx1 = ninf, mx2 = ninf, mx3 = ninf;
  auto nan = hn::Lt(pinf, pinf);  // all false
  size_t i = 0;
  if (len >= 4 * N) {
    for (; i <= len - 4 * N; i += 4 * N) {
      const auto v0 = hn::LoadU(d, p + i);
      const auto v1 = hn::LoadU(d, p + i + N);
      const auto v2 = hn::LoadU(d, p + i + 2 * N);
      const auto v3 = hn::LoadU(d, p + i + 3 * N);
      if (kMin) {
        mn0 = hn::Min(mn0, v0);
        mn1 = hn::Min(mn1, v1);
        mn2 = hn::Min(mn2, v2);
        mn3 = hn::Min(mn3, v3);
      }
      if (kMax) {
        mx0 = hn::Max(mx0, v0);
        mx1 = hn::Max(mx1, v1);
        mx2 = hn::Max(mx2, v2);
        mx3 = hn::Max(mx3, v3);
      }
      nan = hn::Or(nan, hn::Or(hn::Or(hn::IsNaN(v0), hn::IsNaN(v1)), hn::Or(hn::IsNaN(v2), hn::IsNaN(v3))));
    }
  }
  for (; i + N <= len; i += N) {
    const auto v = hn::LoadU(d, p + i);
    if (kMin) mn0 = hn::Min(mn0, v);
    if (kMax) mx0 = hn::Max(mx0, v);
    nan = hn::Or(nan, hn::IsNaN(v));
  }
  bool hasNaN = !hn::AllFalse(d, nan);
  if (kMin) mn = hn::GetLane(hn::MinOfLanes(d, hn::Min(hn::Min(mn0, mn1), hn::Min(mn2, mn3))));
  if (kMax) mx = hn::GetLane(hn::MaxOfLanes(d, hn::Max(hn::Max(mx0, mx1), hn::Max(mx2, mx3))));
  for (; i < len; ++i) {
    const double x = p[i];
    if (x != x) hasNaN = true;
    if (kMin && x < mn) mn = x;
    if (kMax && x > mx) mx = x;
  }
  return hasNaN;
}

// exactIndex: the positions are wanted. Without it the value alone is
// returned and the block rescan only happens for a zero extreme, where the
// sign of the first zero decides the result.
template <bool kMin, bool kMax>
HWY_INLINE void ExtremesT(const double* p, size_t n, bool exactIndex, ExtremesResult* r) {
  const D d;
  double gmin = HUGE_VAL, gmax = -HUGE_VAL;
  size_t minBlock = 0, maxBlock = 0;
  for (size_t b = 0; b < n; b += kExtremesBlock) {
    const size_t len = std::min(kExtremesBlock, n - b);
    double mn = HUGE_VAL, mx = -HUGE_VAL;
    if (BlockExtremes<kMin, kMax>(d, p + b, len, mn, mx)) {
      const size_t k = b + FirstNaN(d, p + b, len);
      *r = {p[k], p[k], k, k};
      return;
    }
    // Strict comparisons: an earlier block keeps a tie.
    if (kMin && (b == 0 || mn < gmin)) {
      gmin = mn;
      minBlock = b;
    }
    if (kMax && (b == 0 || mx > gmax)) {
      gmax = mx;
      maxBlock = b;
    }
  }
  r->MinValue = gmin;
  r->MaxValue = gmax;
  r->MinIndex = r->MaxIndex = 0;
  if (kMin && (exactIndex || gmin == 0.0)) {
    r->MinIndex = minBlock + FirstEqual(d, p + minBlock, std::min(kExtremesBlock, n - minBlock), gmin);
    r->MinValue = p[r->MinIndex];
  }
  if (kMax && (exactIndex || gmax == 0.0)) {
    r->MaxIndex = maxBlock + FirstEqual(d, p + maxBlock, std::min(kExtremesBlock, n - maxBlock), gmax);
    r->MaxValue = p[r->MaxIndex];
  }
}

// which: 1 min, 2 max, 3 both.
void ExtremesK(const double* p, size_t n, int which, bool exactIndex, ExtremesResult* r) {
  if (which == 1) {
    ExtremesT<true, false>(p, n, exactIndex, r);
  } else if (which == 2) {
    ExtremesT<false, true>(p, n, exactIndex, r);
  } else {
    ExtremesT<true, true>(p, n, exactIndex, r);
  }
}

// ---------------------------------------------------------------- normalize
void NormalizeK(const double* src, double* dst, size_t n, double sub, double inv) {
  const D d;
  ForAligned(d, dst, n, [&](auto dw, size_t k) {
    hn::StoreU(hn::Mul(hn::Sub(hn::LoadU(dw, src + k), hn::Set(dw, sub)), hn::Set(dw, inv)), dw, dst + k);
  });
}

// Single precision computed in double and rounded once on the store.
void NormalizeF32K(const float* src, float* dst, size_t n, double sub, double inv) {
  size_t i = 0;
#if HWY_TARGET != HWY_SCALAR && HWY_TARGET != HWY_EMU128
  // The emulated targets' demotion clamps results beyond the float range
  // (infinities included) to +-FLT_MAX, where a cast gives infinity: they
  // take the plain loop.
  const D d;
  i = ForAligned(d, dst, n, [&](auto dw, size_t k) {
    const hn::Rebind<float, decltype(dw)> df;
    const auto v = hn::PromoteTo(dw, hn::LoadU(df, src + k));
    hn::StoreU(hn::DemoteTo(df, hn::Mul(hn::Sub(v, hn::Set(dw, sub)), hn::Set(dw, inv))), df, dst + k);
  });
#endif
  for (; i < n; ++i) dst[i] = static_cast<float>((static_cast<double>(src[i]) - sub) * inv);
}

void NormalizeCK(const Ipp64fc* src, Ipp64fc* dst, size_t n, Ipp64fc sub, double inv) {
  size_t i = 0;
#if NX_PAIR_SIMD
  const D d;
  const double* s = &src->re;
  double* o = &dst->re;
  // Pieces of at least one (re, im) pair; a destination on an odd double is
  // not lined up.
  i = ForAligned<2>(d, o, 2 * n, [&](auto dw, size_t k) {
        const auto vs = hn::OddEven(hn::Set(dw, sub.im), hn::Set(dw, sub.re));
        hn::StoreU(hn::Mul(hn::Sub(hn::LoadU(dw, s + k), vs), hn::Set(dw, inv)), dw, o + k);
      }) / 2;
#endif
  for (; i < n; ++i) dst[i] = {(src[i].re - sub.re) * inv, (src[i].im - sub.im) * inv};
}

// ---------------------------------------------------------------- thresholds
// above: elements strictly greater than the level become the level; else
// elements strictly less than it.
template <typename T>
HWY_INLINE void ThreshT(const T* src, T* dst, size_t n, T level, bool above) {
  const hn::ScalableTag<T> d;
  // Max/Min with the level as the second operand would also return the level
  // for NaN elements; IfThenElse on the strict comparison keeps NaN as it is.
  // src and dst may be the same array.
  ForAligned(d, dst, n, [&](auto dw, size_t k) {
    const auto vl = hn::Set(dw, level);
    const auto v = hn::LoadU(dw, src + k);
    hn::StoreU(above ? hn::IfThenElse(hn::Gt(v, vl), vl, v) : hn::IfThenElse(hn::Lt(v, vl), vl, v), dw, dst + k);
  });
}

void Thresh64K(const double* src, double* dst, size_t n, double level, bool above) { ThreshT(src, dst, n, level, above); }
void Thresh32fK(const float* src, float* dst, size_t n, float level, bool above) { ThreshT(src, dst, n, level, above); }
void Thresh32sK(const int32_t* src, int32_t* dst, size_t n, int32_t level, bool above) { ThreshT(src, dst, n, level, above); }

// |z| with exact power-of-two scaling so that parts beyond 2^510 or below
// 2^-510 neither overflow nor underflow when squared.
HWY_INLINE hn::Vec<D> ScaledMagnitude(D d, hn::Vec<D> x, hn::Vec<D> y) {
  const auto ax = hn::Abs(x);
  const auto ay = hn::Abs(y);
  const auto hugeT = hn::Set(d, 0x1p510);
  const auto tinyT = hn::Set(d, 0x1p-510);
  const auto one = hn::Set(d, 1.0);
  const auto big = hn::Or(hn::Gt(ax, hugeT), hn::Gt(ay, hugeT));
  const auto tiny = hn::And(hn::Lt(ax, tinyT), hn::Lt(ay, tinyT));
  const auto sIn = hn::IfThenElse(big, hn::Set(d, 0x1p-512), hn::IfThenElse(tiny, hn::Set(d, 0x1p600), one));
  const auto sOut = hn::IfThenElse(big, hn::Set(d, 0x1p512), hn::IfThenElse(tiny, hn::Set(d, 0x1p-600), one));
  const auto xs = hn::Mul(x, sIn);
  const auto ys = hn::Mul(y, sIn);
  return hn::Mul(hn::Sqrt(hn::Add(hn::Mul(xs, xs), hn::Mul(ys, ys))), sOut);
}

HWY_INLINE double ScaledMagnitude(double x, double y) {
  const double ax = std::fabs(x), ay = std::fabs(y);
  double sIn = 1.0, sOut = 1.0;
  if (ax > 0x1p510 || ay > 0x1p510) {
    sIn = 0x1p-512;
    sOut = 0x1p512;
  } else if (ax < 0x1p-510 && ay < 0x1p-510) {
    sIn = 0x1p600;
    sOut = 0x1p-600;
  }
  const double xs = x * sIn, ys = y * sIn;
  return std::sqrt(xs * xs + ys * ys) * sOut;
}

// Complex threshold on the magnitude, keeping the phase. above: |z| > level
// is scaled down to level; else |z| < level is scaled up, 0 becoming (level, 0).
void ThreshCK(const Ipp64fc* src, Ipp64fc* dst, size_t n, double level, bool above) {
  const D d;
  const size_t N = hn::Lanes(d);
  const double* s = &src->re;
  double* o = &dst->re;
  const auto vl = hn::Set(d, level);
  const auto zero = hn::Zero(d);
  size_t i = 0;
  for (; i + N <= n; i += N) {
    hn::Vec<D> x, y;
    hn::LoadInterleaved2(d, s + 2 * i, x, y);
    const auto m = ScaledMagnitude(d, x, y);
    const auto f = hn::Div(vl, m);
    if (above) {
      const auto sel = hn::Gt(m, vl);
      x = hn::IfThenElse(sel, hn::Mul(x, f), x);
      y = hn::IfThenElse(sel, hn::Mul(y, f), y);
    } else {
      const auto sel = hn::Lt(m, vl);
      const auto isZero = hn::Eq(m, zero);
      x = hn::IfThenElse(sel, hn::IfThenElse(isZero, vl, hn::Mul(x, f)), x);
      y = hn::IfThenElse(sel, hn::IfThenElse(isZero, zero, hn::Mul(y, f)), y);
    }
    hn::StoreInterleaved2(x, y, d, o + 2 * i);
  }
  for (; i < n; ++i) {
    double x = src[i].re, y = src[i].im;
    const double m = ScaledMagnitude(x, y);
    if (above ? m > level : m < level) {
      if (m == 0.0) {
        x = level;
        y = 0.0;
      } else {
        const double f = level / m;
        x *= f;
        y *= f;
      }
    }
    dst[i] = {x, y};
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace nx::builtin
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include "vector/builtin/NXBuiltins.h"
#include "vector/NXPrimitiveChecks.h"

namespace nx::builtin {

HWY_EXPORT(SumK);
HWY_EXPORT(SumF32K);
HWY_EXPORT(SumSqK);
HWY_EXPORT(SumAndSqK);
HWY_EXPORT(DotK);
HWY_EXPORT(DotCK);
HWY_EXPORT(NormDiffK);
HWY_EXPORT(ExtremesK);
HWY_EXPORT(NormalizeK);
HWY_EXPORT(NormalizeF32K);
HWY_EXPORT(NormalizeCK);
HWY_EXPORT(Thresh64K);
HWY_EXPORT(Thresh32fK);
HWY_EXPORT(Thresh32sK);
HWY_EXPORT(ThreshCK);

namespace {

using primchecks::CheckLenPtrs;
using primchecks::kMinDivisor;

size_t Count(int len) { return static_cast<size_t>(len); }

// ippCmpGreater clips from above; every other comparison value from below.
bool ClipsAbove(IppCmpOp relOp) { return relOp == ippCmpGreater; }

IppStatus Extremes(const Ipp64f* pSrc, int len, int which, bool exact, ExtremesResult& r) {
  HWY_DYNAMIC_DISPATCH(ExtremesK)(pSrc, Count(len), which, exact, &r);
  return ippStsNoErr;
}

}  // namespace

IppStatus ippsSum_64f(const Ipp64f* pSrc, int len, Ipp64f* pSum) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pSum)) return st;
  *pSum = HWY_DYNAMIC_DISPATCH(SumK)(pSrc, Count(len));
  return ippStsNoErr;
}

IppStatus ippsMean_64f(const Ipp64f* pSrc, int len, Ipp64f* pMean) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pMean)) return st;
  *pMean = HWY_DYNAMIC_DISPATCH(SumK)(pSrc, Count(len)) / len;
  return ippStsNoErr;
}

// The hint is accepted and ignored: the sum is always formed in double.
IppStatus ippsMean_32f(const Ipp32f* pSrc, int len, Ipp32f* pMean, IppHintAlgorithm /*hint*/) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pMean)) return st;
  *pMean = static_cast<Ipp32f>(HWY_DYNAMIC_DISPATCH(SumF32K)(pSrc, Count(len)) / len);
  return ippStsNoErr;
}

IppStatus ippsStdDev_64f(const Ipp64f* pSrc, int len, Ipp64f* pStdDev) {
  if (pSrc == nullptr || pStdDev == nullptr) return ippStsNullPtrErr;
  if (len < 2) return ippStsSizeErr;
  double s, q;
  HWY_DYNAMIC_DISPATCH(SumAndSqK)(pSrc, Count(len), &s, &q);
  const double n = len;
  const double num = n * q - s * s;
  *pStdDev = num <= 0.0 ? 0.0 : std::sqrt(num / (n * (n - 1.0)));
  return ippStsNoErr;
}

IppStatus ippsMin_64f(const Ipp64f* pSrc, int len, Ipp64f* pMin) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pMin)) return st;
  ExtremesResult r;
  Extremes(pSrc, len, 1, false, r);
  *pMin = r.MinValue;
  return ippStsNoErr;
}

IppStatus ippsMax_64f(const Ipp64f* pSrc, int len, Ipp64f* pMax) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pMax)) return st;
  ExtremesResult r;
  Extremes(pSrc, len, 2, false, r);
  *pMax = r.MaxValue;
  return ippStsNoErr;
}

IppStatus ippsMinMax_64f(const Ipp64f* pSrc, int len, Ipp64f* pMin, Ipp64f* pMax) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pMin, pMax)) return st;
  ExtremesResult r;
  Extremes(pSrc, len, 3, false, r);
  *pMin = r.MinValue;
  *pMax = r.MaxValue;
  return ippStsNoErr;
}

// A null index pointer is allowed: the routine then acts as ippsMin_64f.
IppStatus ippsMinIndx_64f(const Ipp64f* pSrc, int len, Ipp64f* pMin, int* pIndx) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pMin)) return st;
  ExtremesResult r;
  Extremes(pSrc, len, 1, pIndx != nullptr, r);
  *pMin = r.MinValue;
  if (pIndx) *pIndx = static_cast<int>(r.MinIndex);
  return ippStsNoErr;
}

IppStatus ippsMaxIndx_64f(const Ipp64f* pSrc, int len, Ipp64f* pMax, int* pIndx) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pMax)) return st;
  ExtremesResult r;
  Extremes(pSrc, len, 2, pIndx != nullptr, r);
  *pMax = r.MaxValue;
  if (pIndx) *pIndx = static_cast<int>(r.MaxIndex);
  return ippStsNoErr;
}

IppStatus ippsDotProd_64f(const Ipp64f* pSrc1, const Ipp64f* pSrc2, int len, Ipp64f* pDp) {
  if (IppStatus st = CheckLenPtrs(len, pSrc1, pSrc2, pDp)) return st;
  *pDp = HWY_DYNAMIC_DISPATCH(DotK)(pSrc1, pSrc2, Count(len));
  return ippStsNoErr;
}

// Sum of pSrc1[n] * pSrc2[n]; neither operand is conjugated.
IppStatus ippsDotProd_64fc(const Ipp64fc* pSrc1, const Ipp64fc* pSrc2, int len, Ipp64fc* pDp) {
  if (IppStatus st = CheckLenPtrs(len, pSrc1, pSrc2, pDp)) return st;
  HWY_DYNAMIC_DISPATCH(DotCK)(pSrc1, pSrc2, Count(len), pDp);
  return ippStsNoErr;
}

IppStatus ippsNormDiff_L1_64f(const Ipp64f* pSrc1, const Ipp64f* pSrc2, int len, Ipp64f* pNorm) {
  if (IppStatus st = CheckLenPtrs(len, pSrc1, pSrc2, pNorm)) return st;
  *pNorm = HWY_DYNAMIC_DISPATCH(NormDiffK)(pSrc1, pSrc2, Count(len), 0);
  return ippStsNoErr;
}

IppStatus ippsNormDiff_L2_64f(const Ipp64f* pSrc1, const Ipp64f* pSrc2, int len, Ipp64f* pNorm) {
  if (IppStatus st = CheckLenPtrs(len, pSrc1, pSrc2, pNorm)) return st;
  *pNorm = std::sqrt(HWY_DYNAMIC_DISPATCH(NormDiffK)(pSrc1, pSrc2, Count(len), 1));
  return ippStsNoErr;
}

IppStatus ippsNormDiff_Inf_64f(const Ipp64f* pSrc1, const Ipp64f* pSrc2, int len, Ipp64f* pNorm) {
  if (IppStatus st = CheckLenPtrs(len, pSrc1, pSrc2, pNorm)) return st;
  *pNorm = HWY_DYNAMIC_DISPATCH(NormDiffK)(pSrc1, pSrc2, Count(len), 2);
  return ippStsNoErr;
}

IppStatus ippsNorm_L2_64fc64f(const Ipp64fc* pSrc, int len, Ipp64f* pNorm) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pNorm)) return st;
  *pNorm = std::sqrt(HWY_DYNAMIC_DISPATCH(SumSqK)(&pSrc->re, 2 * Count(len)));
  return ippStsNoErr;
}

IppStatus ippsNormalize_64f(const Ipp64f* pSrc, Ipp64f* pDst, int len, Ipp64f vSub, Ipp64f vDiv) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pDst)) return st;
  if (std::fabs(vDiv) < kMinDivisor) return ippStsDivByZeroErr;
  HWY_DYNAMIC_DISPATCH(NormalizeK)(pSrc, pDst, Count(len), vSub, 1.0 / vDiv);
  return ippStsNoErr;
}

IppStatus ippsNormalize_32f(const Ipp32f* pSrc, Ipp32f* pDst, int len, Ipp32f vSub, Ipp32f vDiv) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pDst)) return st;
  if (std::fabs(static_cast<double>(vDiv)) < kMinDivisor) return ippStsDivByZeroErr;
  HWY_DYNAMIC_DISPATCH(NormalizeF32K)(pSrc, pDst, Count(len), vSub, 1.0 / static_cast<double>(vDiv));
  return ippStsNoErr;
}

IppStatus ippsNormalize_64fc(const Ipp64fc* pSrc, Ipp64fc* pDst, int len, Ipp64fc vSub, Ipp64f vDiv) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pDst)) return st;
  if (std::fabs(vDiv) < kMinDivisor) return ippStsDivByZeroErr;
  HWY_DYNAMIC_DISPATCH(NormalizeCK)(pSrc, pDst, Count(len), vSub, 1.0 / vDiv);
  return ippStsNoErr;
}

IppStatus ippsThreshold_64f(const Ipp64f* pSrc, Ipp64f* pDst, int len, Ipp64f level, IppCmpOp relOp) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pDst)) return st;
  HWY_DYNAMIC_DISPATCH(Thresh64K)(pSrc, pDst, Count(len), level, ClipsAbove(relOp));
  return ippStsNoErr;
}

IppStatus ippsThreshold_64f_I(Ipp64f* pSrcDst, int len, Ipp64f level, IppCmpOp relOp) {
  return ippsThreshold_64f(pSrcDst, pSrcDst, len, level, relOp);
}

IppStatus ippsThreshold_32f_I(Ipp32f* pSrcDst, int len, Ipp32f level, IppCmpOp relOp) {
  if (IppStatus st = CheckLenPtrs(len, pSrcDst)) return st;
  HWY_DYNAMIC_DISPATCH(Thresh32fK)(pSrcDst, pSrcDst, Count(len), level, ClipsAbove(relOp));
  return ippStsNoErr;
}

IppStatus ippsThreshold_64fc(const Ipp64fc* pSrc, Ipp64fc* pDst, int len, Ipp64f level, IppCmpOp relOp) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pDst)) return st;
  if (level < 0.0) return ippStsThreshNegLevelErr;
  HWY_DYNAMIC_DISPATCH(ThreshCK)(pSrc, pDst, Count(len), level, ClipsAbove(relOp));
  return ippStsNoErr;
}

IppStatus ippsThreshold_64fc_I(Ipp64fc* pSrcDst, int len, Ipp64f level, IppCmpOp relOp) {
  return ippsThreshold_64fc(pSrcDst, pSrcDst, len, level, relOp);
}

IppStatus ippsThreshold_LT_32s_I(Ipp32s* pSrcDst, int len, Ipp32s level) {
  if (IppStatus st = CheckLenPtrs(len, pSrcDst)) return st;
  HWY_DYNAMIC_DISPATCH(Thresh32sK)(pSrcDst, pSrcDst, Count(len), level, false);
  return ippStsNoErr;
}

IppStatus ippsThreshold_GT_32s_I(Ipp32s* pSrcDst, int len, Ipp32s level) {
  if (IppStatus st = CheckLenPtrs(len, pSrcDst)) return st;
  HWY_DYNAMIC_DISPATCH(Thresh32sK)(pSrcDst, pSrcDst, Count(len), level, true);
  return ippStsNoErr;
}

}  // namespace nx::builtin
#endif  // HWY_ONCE
