// Built-in routines of the Filters family: auto- and cross-correlation,
// linear convolution, the single-rate FIR filter and the IIR filter (direct
// form and biquad cascade).
//
// Correlation, convolution and FIR switch to transform methods (built-in FFT,
// see "transform methods" below) at fixed sizes: autocorrelation from
// min(srcLen, dstLen) = 600, cross-correlation when dstLen * shorter / longer
// exceeds 511, convolution from a total length of 150 with a shorter operand
// of 32 or more, FIR blocks of 512 samples or more with 32 taps or more.
// Below them, and for every FIR state with fewer taps, direct sums are used.
//
// Correlation, convolution and FIR all reduce to one sliding dot product,
//   out[i] = sum_j h[j] * z[i + j],
// which the SIMD kernels vectorise across output samples: every lane computes
// a different output, one tap is broadcast at a time and folded in with FMA,
// with eight independent accumulators to cover the FMA latency. Terms whose
// z index lies outside the valid data are omitted exactly (masked per lane,
// not multiplied by a padded zero), so an infinite or NaN sample spreads to
// the same outputs as in the defining sum.
//
// The biquad cascade runs its sections as a pipeline inside one vector: lane s
// holds section s, which works a couple of samples behind section s - 1 and
// takes its outputs through a lane shuffle. The sections' serial recurrences
// thus overlap instead of following one another. Each section performs the
// operations of the scalar recurrence in the same order (fused multiply-adds
// where the target has them), so results equal the plain cascade to rounding.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vector/builtin/NXBuiltinFilters.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "vector/builtin/NXBuiltinLoops-inl.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

HWY_BEFORE_NAMESPACE();
namespace nx::builtin {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// The per-vector loops below are unrolled completely so that the
// accumulators stay in registers.
#ifndef NX_UNROLL_ALL
#define NX_UNROLL_ALL _Pragma("GCC unroll 16")
#endif

// Lanes l with lo <= l < hi.
template <class D>
HWY_INLINE auto LaneRange(D d, int64_t lo, int64_t hi) {
  const int64_t n = static_cast<int64_t>(hn::Lanes(d));
  const size_t a = static_cast<size_t>(std::clamp<int64_t>(lo, 0, n));
  const size_t b = static_cast<size_t>(std::clamp<int64_t>(hi, 0, n));
  return hn::AndNot(hn::FirstN(d, a), hn::FirstN(d, b));
}

// ---------------------------------------------------------------- real sliding dot product

// kV vectors of outputs starting at out[i]. Taps whose z index falls outside
// [zlo, zhi) for some lane are applied under a lane mask; the others (the bulk)
// without. The taps are folded in ascending order in every lane.
template <int kV, class D>
HWY_INLINE void CorrBlock(D d, const double* HWY_RESTRICT h, int64_t M, const double* z,
                          int64_t zlo, int64_t zhi, double* out, int64_t i) {
  using V = hn::Vec<D>;
  const int64_t L = static_cast<int64_t>(hn::Lanes(d));
  const int64_t C = kV * L;
  V acc[kV];
  NX_UNROLL_ALL
  for (int v = 0; v < kV; ++v) acc[v] = hn::Zero(d);
  const int64_t jL = std::max<int64_t>(0, zlo - (i + C - 1));
  const int64_t jH = std::min<int64_t>(M, zhi - i);
  if (jL < jH) {
    const int64_t jA = std::clamp<int64_t>(zlo - i, jL, jH);
    const int64_t jB = std::clamp<int64_t>(zhi - i - C + 1, jA, jH);
    const auto masked = [&](int64_t j) {
      const V hv = hn::Set(d, h[j]);
      NX_UNROLL_ALL
      for (int v = 0; v < kV; ++v) {
        const int64_t base = i + v * L + j;
        const auto m = LaneRange(d, zlo - base, zhi - base);
        acc[v] = hn::IfThenElse(m, hn::MulAdd(hv, hn::LoadU(d, z + base), acc[v]), acc[v]);
      }
    };
    for (int64_t j = jL; j < jA; ++j) masked(j);
    const double* zi = z + i;
    for (int64_t j = jA; j < jB; ++j) {
      const V hv = hn::Set(d, h[j]);
      NX_UNROLL_ALL
      for (int v = 0; v < kV; ++v) acc[v] = hn::MulAdd(hv, hn::LoadU(d, zi + j + v * L), acc[v]);
    }
    for (int64_t j = jB; j < jH; ++j) masked(j);
  }
  NX_UNROLL_ALL
  for (int v = 0; v < kV; ++v) hn::StoreU(acc[v], d, out + i + v * L);
}

// out[i] = sum over j in [0, M) with zlo <= i + j < zhi of h[j] * z[i + j],
// for i in [0, count). z must be readable on [0, count + M - 1). Outputs are
// produced from the top down and each block reads all its inputs before it
// stores, so out may be z shifted up by M - 1 (an in-place FIR).
void CorrKernel64f(const double* HWY_RESTRICT h, int64_t M, const double* z, int64_t zlo,
                   int64_t zhi, double* out, int64_t count) {
  const hn::ScalableTag<double> d;
  constexpr int kV = 8;
  const int64_t L = static_cast<int64_t>(hn::Lanes(d));
  const int64_t C = kV * L;
  const int64_t nChunk = count / C * C;
  const int64_t nVec = nChunk + (count - nChunk) / L * L;
  for (int64_t i = count - 1; i >= nVec; --i) {
    const int64_t j0 = std::max<int64_t>(0, zlo - i), j1 = std::min<int64_t>(M, zhi - i);
    double s = 0.0;
    for (int64_t j = j0; j < j1; ++j) s += h[j] * z[i + j];
    out[i] = s;
  }
  for (int64_t i = nVec - L; i >= nChunk; i -= L) CorrBlock<1>(d, h, M, z, zlo, zhi, out, i);
  for (int64_t i = nChunk - C; i >= 0; i -= C) CorrBlock<kV>(d, h, M, z, zlo, zhi, out, i);
}

// ---------------------------------------------------------------- complex sliding dot product

// Complex values are interleaved (re, im); indices i, j, zlo, zhi count
// complex elements. out[i] = sum_j conj(h[j]) * z[i + j]. The lanes gather
// hr*z and hi*z separately; conj(h)*z = (hr*zr + hi*zi, hr*zi - hi*zr) is
// formed once per output at the end.
template <int kV, class D>
HWY_INLINE void CorrBlockC(D d, const double* HWY_RESTRICT h, int64_t M, const double* z,
                           int64_t zlo, int64_t zhi, double* out, int64_t i) {
  using V = hn::Vec<D>;
  const int64_t LC = static_cast<int64_t>(hn::Lanes(d)) / 2;  // complex values per vector
  const int64_t C = kV * LC;
  V accR[kV], accI[kV];
  NX_UNROLL_ALL
  for (int v = 0; v < kV; ++v) accR[v] = accI[v] = hn::Zero(d);
  const int64_t jL = std::max<int64_t>(0, zlo - (i + C - 1));
  const int64_t jH = std::min<int64_t>(M, zhi - i);
  if (jL < jH) {
    const int64_t jA = std::clamp<int64_t>(zlo - i, jL, jH);
    const int64_t jB = std::clamp<int64_t>(zhi - i - C + 1, jA, jH);
    const auto masked = [&](int64_t j) {
      const V hr = hn::Set(d, h[2 * j]), hi = hn::Set(d, h[2 * j + 1]);
      NX_UNROLL_ALL
      for (int v = 0; v < kV; ++v) {
        const int64_t base = i + v * LC + j;
        const auto m = LaneRange(d, 2 * (zlo - base), 2 * (zhi - base));
        const V zv = hn::LoadU(d, z + 2 * base);
        accR[v] = hn::IfThenElse(m, hn::MulAdd(hr, zv, accR[v]), accR[v]);
        accI[v] = hn::IfThenElse(m, hn::MulAdd(hi, zv, accI[v]), accI[v]);
      }
    };
    for (int64_t j = jL; j < jA; ++j) masked(j);
    for (int64_t j = jA; j < jB; ++j) {
      const V hr = hn::Set(d, h[2 * j]), hi = hn::Set(d, h[2 * j + 1]);
      NX_UNROLL_ALL
      for (int v = 0; v < kV; ++v) {
        const V zv = hn::LoadU(d, z + 2 * (i + v * LC + j));
        accR[v] = hn::MulAdd(hr, zv, accR[v]);
        accI[v] = hn::MulAdd(hi, zv, accI[v]);
      }
    }
    for (int64_t j = jB; j < jH; ++j) masked(j);
  }
  NX_UNROLL_ALL
  for (int v = 0; v < kV; ++v) {
    const V sw = hn::Reverse2(d, accI[v]);  // (hi*zi, hi*zr)
    hn::StoreU(hn::Add(accR[v], hn::OddEven(hn::Neg(sw), sw)), d, out + 2 * (i + v * LC));
  }
}

void CorrKernel64fc(const double* HWY_RESTRICT h, int64_t M, const double* z, int64_t zlo,
                    int64_t zhi, double* out, int64_t count) {
  int64_t nVec = 0;  // outputs below nVec go to the vector blocks
#if HWY_TARGET != HWY_SCALAR
  const hn::ScalableTag<double> d;
  constexpr int kV = 4;
  const int64_t LC = static_cast<int64_t>(hn::Lanes(d)) / 2;
  const int64_t C = kV * LC;
  const int64_t nChunk = count / C * C;
  nVec = nChunk + (count - nChunk) / LC * LC;
#endif
  for (int64_t i = count - 1; i >= nVec; --i) {
    const int64_t j0 = std::max<int64_t>(0, zlo - i), j1 = std::min<int64_t>(M, zhi - i);
    double sr = 0.0, si = 0.0;
    for (int64_t j = j0; j < j1; ++j) {
      const double hr = h[2 * j], hi = h[2 * j + 1];
      const double zr = z[2 * (i + j)], zi = z[2 * (i + j) + 1];
      sr += hr * zr + hi * zi;
      si += hr * zi - hi * zr;
    }
    out[2 * i] = sr;
    out[2 * i + 1] = si;
  }
#if HWY_TARGET != HWY_SCALAR
  for (int64_t i = nVec - LC; i >= nChunk; i -= LC) CorrBlockC<1>(d, h, M, z, zlo, zhi, out, i);
  for (int64_t i = nChunk - C; i >= 0; i -= C) CorrBlockC<kV>(d, h, M, z, zlo, zhi, out, i);
#endif
}

// ---------------------------------------------------------------- spectrum product

// b[k] := a[k] * b[k] (conjA: conj(a[k]) * b[k]) for n interleaved complex
// values: the pointwise product of two spectra in the transform methods.
void MulSpectrum(const double* HWY_RESTRICT a, double* HWY_RESTRICT b, int64_t n, bool conjA) {
  int64_t k = 0;
#if HWY_TARGET != HWY_SCALAR
  const hn::ScalableTag<double> d;
  const int64_t nd = 2 * n;
  // (ar, ai) * (br, bi) = ar * (br, bi) + ai * (-bi, br); conj(a) flips the
  // sign of the second term.
  // Pieces of whole pairs (ForAligned<2>), b written on vector boundaries.
  k = static_cast<int64_t>(ForAligned<2>(d, b, static_cast<size_t>(nd), [&](auto dw, size_t i) {
        const auto va = hn::LoadU(dw, a + i), vb = hn::LoadU(dw, b + i);
        const auto t = hn::Mul(hn::DupOdd(va), hn::Reverse2(dw, vb));  // (ai*bi, ai*br)
        const auto u = conjA ? hn::OddEven(hn::Neg(t), t) : hn::OddEven(t, hn::Neg(t));
        hn::StoreU(hn::MulAdd(hn::DupEven(va), vb, u), dw, b + i);
      })) / 2;
#endif
  for (; k < n; ++k) {
    const double ar = a[2 * k], ai = conjA ? -a[2 * k + 1] : a[2 * k + 1];
    const double br = b[2 * k], bi = b[2 * k + 1];
    b[2 * k] = ar * br - ai * bi;
    b[2 * k + 1] = ar * bi + ai * br;
  }
}

// ---------------------------------------------------------------- biquad cascade

// Runs g consecutive sections (g <= BiquadGroupWidth()) over n samples,
// src -> dst (which may be the same array). coef holds 6 values per section
// (b0, b1, b2, a1, a2, unused), dly 2 per section (d0, d1); the delay values
// are read at the start and written back at the end.
//
// Lane s is section s. At step t it filters sample t - kSkew*s, its input
// being what lane s - 1 produced kSkew steps earlier (lane 0 takes src[t]).
// The skew of two steps takes the lane shuffle off the critical path: each
// step then waits only on the section recurrence itself. In the steps where
// some lanes have no sample yet or none left, those lanes keep their delay
// values. Unused lanes (s >= g) carry zero coefficients and are never read back.
constexpr int64_t kSkew = 2;
void BiquadGroup(const double* HWY_RESTRICT coef, double* HWY_RESTRICT dly, int64_t g,
                 const double* src, double* dst, int64_t n) {
  const hn::CappedTag<double, 4> d;
  using V = hn::Vec<decltype(d)>;
  alignas(64) double c[5][4] = {};
  alignas(64) double s0[4] = {}, s1[4] = {};
  for (int64_t s = 0; s < g; ++s) {
    for (int k = 0; k < 5; ++k) c[k][s] = coef[6 * s + k];
    s0[s] = dly[2 * s];
    s1[s] = dly[2 * s + 1];
  }
  const V b0 = hn::Load(d, c[0]), b1 = hn::Load(d, c[1]), b2 = hn::Load(d, c[2]);
  const V a1 = hn::Load(d, c[3]), a2 = hn::Load(d, c[4]);
  V d0 = hn::Load(d, s0), d1 = hn::Load(d, s1);
  alignas(64) static constexpr int64_t kUp[4] = {0, 0, 1, 2};
  const auto up = hn::SetTableIndices(d, kUp);
  const auto lane0 = hn::FirstN(d, 1);
  // y1, y2: the section outputs of the previous two steps.
  V y1 = hn::Zero(d), y2 = hn::Zero(d);

  const int64_t G = static_cast<int64_t>(hn::Lanes(d));
  const int64_t outLane = g - 1;
  const int64_t lag = kSkew * (g - 1);  // output sample t - lag leaves at step t
  const int64_t total = n + lag;
  // One step; per section the order of operations is y = b0*x + d0,
  // d0 = b1*x + d1 - a1*y, d1 = b2*x - a2*y.
  const auto maskedStep = [&](int64_t t) {
    const double xin = t < n ? src[t] : 0.0;
    const V x = hn::IfThenElse(lane0, hn::Set(d, xin), hn::TableLookupLanes(y2, up));
    const V y = hn::MulAdd(b0, x, d0);
    const V d0n = hn::NegMulAdd(a1, y, hn::MulAdd(b1, x, d1));
    const V d1n = hn::NegMulAdd(a2, y, hn::Mul(b2, x));
    // Lane s holds sample t - kSkew*s: active when that sample exists.
    const int64_t lo = t - n + 1 <= 0 ? 0 : (t - n + kSkew) / kSkew;
    const auto active = LaneRange(d, lo, t / kSkew + 1);
    d0 = hn::IfThenElse(active, d0n, d0);
    d1 = hn::IfThenElse(active, d1n, d1);
    y2 = y1;
    y1 = y;
  };
  alignas(64) double lanes[4];
  int64_t t = 0;
  for (; t < std::min(lag, total); ++t) maskedStep(t);  // pipeline fill
  // Steady state: every used lane has a sample; outputs go through a small
  // buffer and are copied out per chunk.
  constexpr int64_t kChunk = 64;
  alignas(64) double ybuf[kChunk * 4];
  while (t < n) {
    const int64_t steps = std::min<int64_t>(kChunk, n - t);
    for (int64_t k = 0; k < steps; ++k) {
      const V x = hn::IfThenElse(lane0, hn::Set(d, src[t + k]), hn::TableLookupLanes(y2, up));
      const V y = hn::MulAdd(b0, x, d0);
      d0 = hn::NegMulAdd(a1, y, hn::MulAdd(b1, x, d1));
      d1 = hn::NegMulAdd(a2, y, hn::Mul(b2, x));
      y2 = y1;
      y1 = y;
      hn::Store(y, d, ybuf + k * G);
    }
    double* o = dst + t - lag;
    for (int64_t k = 0; k < steps; ++k) o[k] = ybuf[k * G + outLane];
    t += steps;
  }
  for (; t < total; ++t) {  // pipeline drain
    maskedStep(t);
    if (t >= lag) {
      hn::Store(y1, d, lanes);
      dst[t - lag] = lanes[outLane];
    }
  }
  hn::Store(d0, d, s0);
  hn::Store(d1, d, s1);
  for (int64_t s = 0; s < g; ++s) {
    dly[2 * s] = s0[s];
    dly[2 * s + 1] = s1[s];
  }
}

int64_t BiquadGroupWidth() { return static_cast<int64_t>(hn::Lanes(hn::CappedTag<double, 4>())); }

}  // namespace HWY_NAMESPACE
}  // namespace nx::builtin
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include <climits>
#include <cstring>
#include <type_traits>

#include "vector/NXBasicDispatcher.h"
#include "vector/builtin/NXBuiltinFFT.h"
#include "vector/builtin/NXBuiltinFilters.h"
#include "vector/builtin/NXBuiltins.h"

namespace nx::builtin {

HWY_EXPORT(CorrKernel64f);
HWY_EXPORT(CorrKernel64fc);
HWY_EXPORT(BiquadGroup);
HWY_EXPORT(BiquadGroupWidth);
HWY_EXPORT(MulSpectrum);

namespace {

// ---------------------------------------------------------------- helpers

constexpr Ipp32u kFIRId = 0x46493133;       // single-rate FIR state
constexpr Ipp32u kFIRMultiId = 0x46493135;  // multi-rate FIR state (accepted by the run routine)
constexpr Ipp32u kIIRId = 0x49493133;       // direct-form IIR state
constexpr Ipp32u kIIRBiQuadId = 0x49493134; // biquad-cascade IIR state

// Direct sums are formed in blocks of this many outputs, which bounds the
// zero-padded copy a block needs at the edges of the data.
constexpr int64_t kBlock = 4096;

// Method thresholds: at and above these sizes the transform methods are used.
constexpr int64_t kAutoCorrFFTMin = 600;     // min(srcLen, dstLen)
constexpr int64_t kCrossCorrFFTRatio = 511;  // dstLen * shorter / longer must exceed this
constexpr int64_t kConvDirectTotal = 150;    // len1 + len2 - 1 below this: direct sums
constexpr int64_t kConvDirectShort = 32;     // shorter operand below this: direct sums
constexpr int64_t kFIRFFTTaps = 32;          // taps from which a FIR state holds a transform
constexpr int64_t kFIRFFTBlock = 512;        // FIR blocks from which the transform is used

constexpr int64_t Align16(int64_t bytes) { return (bytes + 15) & ~int64_t{15}; }

// A block of `count` elements of T from the aligned allocator; null when the
// byte count does not fit the allocator's size argument or memory runs out.
template <typename T>
T* AllocElems(int64_t count) {
  const int64_t bytes = count * static_cast<int64_t>(sizeof(T));
  if (count < 1 || bytes > INT_MAX) return nullptr;
  return static_cast<T*>(_ippMalloc(static_cast<Ipp32s>(bytes)));
}

template <typename A, typename B>
bool Overlaps(const A* a, int64_t na, const B* b, int64_t nb) {
  const auto a0 = reinterpret_cast<std::uintptr_t>(a), b0 = reinterpret_cast<std::uintptr_t>(b);
  return a0 < b0 + static_cast<std::uintptr_t>(nb) * sizeof(B) &&
         b0 < a0 + static_cast<std::uintptr_t>(na) * sizeof(A);
}

constexpr int64_t kUnbounded = INT64_MAX / 4;

void Kernel(const Ipp64f* h, int64_t M, const Ipp64f* z, int64_t zlo, int64_t zhi, Ipp64f* out,
            int64_t count) {
  HWY_DYNAMIC_DISPATCH(CorrKernel64f)(h, M, z, zlo, zhi, out, count);
}
void Kernel(const Ipp64fc* h, int64_t M, const Ipp64fc* z, int64_t zlo, int64_t zhi, Ipp64fc* out,
            int64_t count) {
  HWY_DYNAMIC_DISPATCH(CorrKernel64fc)(reinterpret_cast<const double*>(h), M,
                                       reinterpret_cast<const double*>(z), zlo, zhi,
                                       reinterpret_cast<double*>(out), count);
}

// Elements of the padded window CorrDirect needs for these sizes.
int64_t WindowCapacity(int64_t M, int64_t S, int64_t block) {
  return block - 1 + std::min(M, S + block - 1);
}

// Direct sums out[i] = sum_{j<M} h[j] * s[i + j + off] (h conjugated for
// complex data), i in [0, count), terms whose s index lies outside [0, S)
// omitted. Per block of outputs only the taps that meet the data are visited;
// a block whose window reaches past the data reads a zero-padded copy in
// `window` (WindowCapacity elements), the others read s directly.
template <typename T>
void CorrDirect(const T* h, int64_t M, const T* s, int64_t S, int64_t off, T* out, int64_t count,
                int64_t block, T* window) {
  for (int64_t i0 = 0; i0 < count; i0 += block) {
    const int64_t b = std::min(block, count - i0);
    const int64_t jlo = std::max<int64_t>(0, -(i0 + b - 1 + off));
    const int64_t jhi = std::min<int64_t>(M, S - i0 - off);
    if (jhi <= jlo) {
      std::fill(out + i0, out + i0 + b, T{});
      continue;
    }
    const int64_t w0 = i0 + jlo + off;  // s index of window element 0
    const int64_t W = b + (jhi - jlo) - 1;
    if (w0 >= 0 && w0 + W <= S) {
      Kernel(h + jlo, jhi - jlo, s + w0, -kUnbounded, kUnbounded, out + i0, b);
    } else {
      for (int64_t k = 0; k < W; ++k) window[k] = (w0 + k >= 0 && w0 + k < S) ? s[w0 + k] : T{};
      Kernel(h + jlo, jhi - jlo, window, -w0, S - w0, out + i0, b);
    }
  }
}

// ---------------------------------------------------------------- transform methods
//
// Long correlations, convolutions and FIR blocks are computed through the
// built-in FFT, called directly and never through the dispatch table: a FIR
// state made by this file holds a built-in spec whatever the table holds for
// the FFT primitives. Results agree with the direct sums to
// rounding for finite data. A NaN or infinite sample, however, reaches every
// output of its transform block, not only the outputs whose defining sum
// contains it: the transform mixes all samples of a block, and Inf - Inf
// gives NaN. That is inherent to the transform method; the direct sums below
// the thresholds omit terms exactly.

// Smallest p >= lo with 2^p >= n.
int OrderAtLeast(int64_t n, int lo) {
  int p = lo;
  while ((int64_t{1} << p) < n) ++p;
  return p;
}

// A real (T = Ipp64f, CCS spectra) or complex (T = Ipp64fc) transform with
// the inverse scaled by 1/N, and its work buffer. Everything is released by
// the destructor; Init reports ippStsMemAllocErr when any allocation fails.
template <typename T>
struct TPlan {
  static constexpr bool kReal = std::is_same_v<T, Ipp64f>;
  using TSpec = std::conditional_t<kReal, IppsFFTSpec_R_64f, IppsFFTSpec_C_64fc>;
  TSpec* Spec = nullptr;
  Ipp8u* Buf = nullptr;
  int64_t N = 0;

  TPlan() = default;
  TPlan(const TPlan&) = delete;
  TPlan& operator=(const TPlan&) = delete;
  ~TPlan() {
    _ippFree(Buf);
    if (Spec == nullptr) return;
    if constexpr (kReal) ippsFFTFree_R_64f(Spec);
    else ippsFFTFree_C_64fc(Spec);
  }
  IppStatus Init(int order) {
    if (order > 30) return ippStsMemAllocErr;  // no buffer of that size can exist
    IppStatus st;
    int size = 0;
    if constexpr (kReal) {
      st = ippsFFTInitAlloc_R_64f(&Spec, order, IPP_FFT_DIV_INV_BY_N, ippAlgHintNone);
      if (st == ippStsNoErr) ippsFFTGetBufSize_R_64f(Spec, &size);
    } else {
      st = ippsFFTInitAlloc_C_64fc(&Spec, order, IPP_FFT_DIV_INV_BY_N, ippAlgHintNone);
      if (st == ippStsNoErr) ippsFFTGetBufSize_C_64fc(Spec, &size);
    }
    if (st != ippStsNoErr) {
      Spec = nullptr;
      return ippStsMemAllocErr;
    }
    if (size > 0 && (Buf = static_cast<Ipp8u*>(_ippMalloc(size))) == nullptr) return ippStsMemAllocErr;
    N = int64_t{1} << order;
    return ippStsNoErr;
  }
  // Elements of T a transform buffer holds (a real spectrum takes N + 2 doubles).
  int64_t BufLen() const { return kReal ? N + 2 : N; }
  // Complex values of a spectrum.
  int64_t Bins() const { return kReal ? N / 2 + 1 : N; }
  // In-place transforms of a buffer of BufLen() elements.
  void Fwd(T* x) const {
    if constexpr (kReal) ippsFFTFwd_RToCCS_64f(x, x, Spec, Buf);
    else ippsFFTFwd_CToC_64fc(x, x, Spec, Buf);
  }
  void Inv(T* x) const {
    if constexpr (kReal) ippsFFTInv_CCSToR_64f(x, x, Spec, Buf);
    else ippsFFTInv_CToC_64fc(x, x, Spec, Buf);
  }
};

void MulSpectrum(const void* a, void* b, int64_t bins, bool conjA) {
  HWY_DYNAMIC_DISPATCH(MulSpectrum)(static_cast<const double*>(a), static_cast<double*>(b), bins, conjA);
}

// Transform sizes of the block method: about kGrow times the kernel length,
// at least kMinTransform, so that most of each block's outputs are valid.
constexpr int64_t kGrow = 8;
constexpr int64_t kMinTransform = 1024;

// Transform-based out[i] = sum_{m<A} conj(a[m]) * s[i + m + off] for i in
// [0, count), terms with the s index outside [0, S) omitted (read as zero).
// Overlap-save style: a's spectrum is formed once; each block of up to
// N - A + 1 outputs takes one forward and one inverse transform of the
// A + block - 1 samples it needs. out must not overlap a or s.
template <typename T>
IppStatus CorrFFT(const T* a, int64_t A, const T* s, int64_t S, int64_t off, T* out, int64_t count) {
  const int64_t want = std::max(kGrow * A, kMinTransform);
  TPlan<T> plan;
  if (plan.Init(OrderAtLeast(std::min(want, A + count - 1), 2)) != ippStsNoErr) return ippStsMemAllocErr;
  const int64_t N = plan.N, len = plan.BufLen(), step = N - A + 1;
  T* kern = AllocElems<T>(2 * len);
  if (kern == nullptr) return ippStsMemAllocErr;
  T* seg = kern + len;
  std::copy(a, a + A, kern);
  std::fill(kern + A, kern + len, T{});
  plan.Fwd(kern);
  for (int64_t i0 = 0; i0 < count; i0 += step) {
    const int64_t b = std::min(step, count - i0);
    // seg[j] = s[i0 + off + j] for j < A + b - 1, zero elsewhere.
    const int64_t w0 = i0 + off, W = A + b - 1;
    const int64_t lo = std::clamp<int64_t>(-w0, 0, W), hi = std::clamp<int64_t>(S - w0, lo, W);
    if (lo == hi) {
      std::fill(out + i0, out + i0 + b, T{});
      continue;
    }
    std::fill(seg, seg + lo, T{});
    std::copy(s + w0 + lo, s + w0 + hi, seg + lo);
    std::fill(seg + hi, seg + len, T{});
    plan.Fwd(seg);
    MulSpectrum(kern, seg, plan.Bins(), true);
    plan.Inv(seg);
    std::copy(seg, seg + b, out + i0);
  }
  _ippFree(kern);
  return ippStsNoErr;
}

// Autocorrelation lags 0 .. K - 1 by one transform of order p, the smallest
// p >= 2 with 2^p >= 2 srcLen (so the circular products never wrap onto the
// lags wanted): forward transform, power spectrum, inverse transform.
template <typename T>
IppStatus AutoCorrFFT(const T* src, int64_t srcLen, T* out, int64_t K) {
  TPlan<T> plan;
  if (plan.Init(OrderAtLeast(2 * srcLen, 2)) != ippStsNoErr) return ippStsMemAllocErr;
  T* x = AllocElems<T>(plan.BufLen());
  if (x == nullptr) return ippStsMemAllocErr;
  std::copy(src, src + srcLen, x);
  std::fill(x + srcLen, x + plan.BufLen(), T{});
  plan.Fwd(x);
  auto* X = reinterpret_cast<Ipp64fc*>(x);
  for (int64_t k = 0; k < plan.Bins(); ++k) X[k] = {X[k].re * X[k].re + X[k].im * X[k].im, 0.0};
  plan.Inv(x);
  std::copy(x, x + K, out);
  _ippFree(x);
  return ippStsNoErr;
}

void Scale(Ipp64f& v, double f) { v *= f; }
void Scale(Ipp64fc& v, double f) { v.re *= f; v.im *= f; }
void Divide(Ipp64f& v, double f) { v /= f; }
void Divide(Ipp64fc& v, double f) { v.re /= f; v.im /= f; }

enum class TNorm { None, A, B };

template <typename T>
IppStatus AutoCorr(const T* pSrc, int srcLen, T* pDst, int dstLen, TNorm norm) {
  if (pSrc == nullptr || pDst == nullptr) return ippStsNullPtrErr;
  if (srcLen < 1 || dstLen < 1) return ippStsSizeErr;
  const int64_t K = std::min(srcLen, dstLen);
  T* work = nullptr;
  T* out = pDst;
  if (K >= kAutoCorrFFTMin) {
    // The transform reads the whole source before the result is stored, so
    // an overlapping destination needs no copy.
    const IppStatus st = AutoCorrFFT(pSrc, srcLen, pDst, K);
    if (st != ippStsNoErr) return st;
  } else {
    // A destination that overlaps the source is filled from a work copy of the result.
    const bool overlap = Overlaps(pDst, dstLen, pSrc, srcLen);
    const int64_t block = std::min(kBlock, K);
    const int64_t cap = WindowCapacity(srcLen, srcLen, block);
    work = AllocElems<T>(cap + (overlap ? K : 0));
    if (work == nullptr) return ippStsMemAllocErr;
    if (overlap) out = work + cap;
    CorrDirect(pSrc, srcLen, pSrc, srcLen, 0, out, K, block, work);
  }
  if (norm == TNorm::A) {
    const double f = 1.0 / srcLen;
    for (int64_t k = 0; k < K; ++k) Scale(out[k], f);
  } else if (norm == TNorm::B) {
    for (int64_t k = 0; k < K; ++k) Divide(out[k], static_cast<double>(srcLen - k));
  }
  if (out != pDst) std::copy(out, out + K, pDst);
  std::fill(pDst + K, pDst + dstLen, T{});
  _ippFree(work);
  return ippStsNoErr;
}

template <typename T>
IppStatus CrossCorr(const T* pSrc1, int src1Len, const T* pSrc2, int src2Len, T* pDst, int dstLen,
                    int lowLag) {
  if (pSrc1 == nullptr || pSrc2 == nullptr || pDst == nullptr) return ippStsNullPtrErr;
  if (src1Len < 1 || src2Len < 1 || dstLen < 1) return ippStsSizeErr;
  // Output n meets both sources only for n + lowLag in (-src1Len, src2Len).
  const int64_t lag = lowLag;
  const int64_t nA = std::clamp<int64_t>(-lag - src1Len + 1, 0, dstLen);
  const int64_t nB = std::clamp<int64_t>(src2Len - lag, nA, dstLen);
  const int64_t count = nB - nA;
  // The transform method pays off when dstLen * min(len1, len2) / max(len1,
  // len2) exceeds 511 (the exact quotient, compared in integers).
  const int64_t shorter = std::min(src1Len, src2Len), longer = std::max(src1Len, src2Len);
  const bool useFFT = int64_t{dstLen} * shorter > kCrossCorrFFTRatio * longer;
  T* work = nullptr;
  T* out = pDst + nA;
  if (count > 0) {
    const bool overlap = Overlaps(pDst, dstLen, pSrc1, src1Len) || Overlaps(pDst, dstLen, pSrc2, src2Len);
    if (useFFT) {
      if (overlap && (work = AllocElems<T>(count)) == nullptr) return ippStsMemAllocErr;
      if (overlap) out = work;
      // Only the src1 samples that meet src2 at some lag of the range matter.
      const int64_t m0 = std::max<int64_t>(0, -(lag + nB - 1));
      const int64_t m1 = std::min<int64_t>(src1Len, src2Len - lag - nA);
      const IppStatus st = CorrFFT(pSrc1 + m0, m1 - m0, pSrc2, src2Len, m0 + lag + nA, out, count);
      if (st != ippStsNoErr) {
        _ippFree(work);
        return st;
      }
    } else {
      const int64_t block = std::min(kBlock, count);
      const int64_t cap = WindowCapacity(src1Len, src2Len, block);
      work = AllocElems<T>(cap + (overlap ? count : 0));
      if (work == nullptr) return ippStsMemAllocErr;
      if (overlap) out = work + cap;
      CorrDirect(pSrc1, src1Len, pSrc2, src2Len, lag + nA, out, count, block, work);
    }
  }
  if (out != pDst + nA) std::copy(out, out + count, pDst + nA);
  std::fill(pDst, pDst + nA, T{});
  std::fill(pDst + nB, pDst + dstLen, T{});
  _ippFree(work);
  return ippStsNoErr;
}

// ---------------------------------------------------------------- FIR state
//
// One block from _ippMalloc (32-byte aligned):
//   TFIRState header, padded to 16 bytes
//   taps     tapsLen values in reversed order (taps[tapsLen - 1] first)
//   dlyLine  tapsLen values, the most recent inputs, oldest first
//   work     2 * tapsLen values: [last tapsLen - 1 inputs | first samples of
//            the block], the contiguous view the first outputs of a block read
//   spectrum tapsLen >= 32 only: the CCS spectrum of the taps (N + 2 values)
// Every array starts on a 16-byte boundary. With 32 taps or more the state
// also owns a real FFT spec of order p + 1 (2^p the smallest power of two
// above tapsLen, inverse scaled by 1/N), allocated separately.
struct TFIRState {
  Ipp32u Id;
  Ipp32s TapsLen;
  Ipp64f* Taps;
  Ipp64f* DlyLine;
  Ipp64f* Work;
  IppsFFTSpec_R_64f* TransformSpec;  // null below 32 taps
  Ipp64f* Spectrum;                  // the taps' spectrum for TransformSpec
  Ipp32s Order;                      // order of TransformSpec
  Ipp32s FFTBufSize;                 // work-buffer bytes a transform with it needs
};

// ---------------------------------------------------------------- IIR state
//
// One block from _ippMalloc:
//   TIIRState header, padded to 16 bytes
//   coeffs   direct form: b0..bN, a0..aN divided by a0 (2(N + 1) values);
//            biquad: 6 values per section b0, b1, b2, a1, a2 (divided by the
//            section's a0) and an unused slot that keeps sections 16-aligned
//   dlyLine  direct form: N values d0..dN-1; biquad: d0, d1 per section
struct TIIRState {
  Ipp32u Id;
  Ipp32s Order;  // filter order (direct form) or number of sections (biquad)
  Ipp64f* Coeffs;
  Ipp64f* DlyLine;
};

}  // namespace

// ---------------------------------------------------------------- correlation and convolution

IppStatus ippsAutoCorr_64f(const Ipp64f* pSrc, int srcLen, Ipp64f* pDst, int dstLen) {
  return AutoCorr(pSrc, srcLen, pDst, dstLen, TNorm::None);
}
IppStatus ippsAutoCorr_NormA_64f(const Ipp64f* pSrc, int srcLen, Ipp64f* pDst, int dstLen) {
  return AutoCorr(pSrc, srcLen, pDst, dstLen, TNorm::A);
}
IppStatus ippsAutoCorr_NormB_64f(const Ipp64f* pSrc, int srcLen, Ipp64f* pDst, int dstLen) {
  return AutoCorr(pSrc, srcLen, pDst, dstLen, TNorm::B);
}
IppStatus ippsAutoCorr_64fc(const Ipp64fc* pSrc, int srcLen, Ipp64fc* pDst, int dstLen) {
  return AutoCorr(pSrc, srcLen, pDst, dstLen, TNorm::None);
}
IppStatus ippsAutoCorr_NormA_64fc(const Ipp64fc* pSrc, int srcLen, Ipp64fc* pDst, int dstLen) {
  return AutoCorr(pSrc, srcLen, pDst, dstLen, TNorm::A);
}
IppStatus ippsAutoCorr_NormB_64fc(const Ipp64fc* pSrc, int srcLen, Ipp64fc* pDst, int dstLen) {
  return AutoCorr(pSrc, srcLen, pDst, dstLen, TNorm::B);
}

IppStatus ippsCrossCorr_64f(const Ipp64f* pSrc1, int src1Len, const Ipp64f* pSrc2, int src2Len,
                            Ipp64f* pDst, int dstLen, int lowLag) {
  return CrossCorr(pSrc1, src1Len, pSrc2, src2Len, pDst, dstLen, lowLag);
}

// The first operand is the conjugated one: dst[n] = sum_m conj(src1[m]) * src2[m + n + lowLag],
// so that the cross-correlation of a vector with itself is its autocorrelation.
IppStatus ippsCrossCorr_64fc(const Ipp64fc* pSrc1, int src1Len, const Ipp64fc* pSrc2, int src2Len,
                             Ipp64fc* pDst, int dstLen, int lowLag) {
  return CrossCorr(pSrc1, src1Len, pSrc2, src2Len, pDst, dstLen, lowLag);
}

namespace {

// Linear convolution; direct sums when forced or below the thresholds.
IppStatus Conv(const Ipp64f* pSrc1, int src1Len, const Ipp64f* pSrc2, int src2Len, Ipp64f* pDst,
               bool forceDirect) {
  if (pSrc1 == nullptr || pSrc2 == nullptr || pDst == nullptr) return ippStsNullPtrErr;
  if (src1Len < 1 || src2Len < 1) return ippStsSizeErr;
  // a is the longer operand, b the shorter.
  const Ipp64f* a = pSrc1;
  const Ipp64f* b = pSrc2;
  int64_t N = src1Len, M = src2Len;
  if (N < M) {
    std::swap(a, b);
    std::swap(N, M);
  }
  const int64_t total = N + M - 1;
  const bool direct = forceDirect || total < kConvDirectTotal || M < kConvDirectShort;
  // dst[n] = sum_k b[k] a[n - k] = sum_j rev[j] a[n + j - (M - 1)] with rev = b reversed.
  const int64_t block = N >= kBlock ? kBlock : total;
  const int64_t cap = direct ? WindowCapacity(M, N, block) : 0;
  const bool overlap = Overlaps(pDst, total, a, N) || Overlaps(pDst, total, b, M);
  Ipp64f* work = AllocElems<Ipp64f>(M + cap + (overlap ? total : 0));
  if (work == nullptr) return ippStsMemAllocErr;
  Ipp64f* rev = work;
  Ipp64f* window = work + M;
  Ipp64f* out = overlap ? window + cap : pDst;
  for (int64_t j = 0; j < M; ++j) rev[j] = b[M - 1 - j];
  if (direct) {
    CorrDirect(rev, M, a, N, -(M - 1), out, total, block, window);
  } else {
    const IppStatus st = CorrFFT(rev, M, a, N, -(M - 1), out, total);
    if (st != ippStsNoErr) {
      _ippFree(work);
      return st;
    }
  }
  if (overlap) std::copy(out, out + total, pDst);
  _ippFree(work);
  return ippStsNoErr;
}

}  // namespace

IppStatus ippsConv_64f(const Ipp64f* pSrc1, int src1Len, const Ipp64f* pSrc2, int src2Len,
                       Ipp64f* pDst) {
  return Conv(pSrc1, src1Len, pSrc2, src2Len, pDst, false);
}

namespace detail {
IppStatus ConvDirect(const Ipp64f* pSrc1, int src1Len, const Ipp64f* pSrc2, int src2Len, Ipp64f* pDst) {
  return Conv(pSrc1, src1Len, pSrc2, src2Len, pDst, true);
}
}  // namespace detail

// ---------------------------------------------------------------- FIR

IppStatus ippsFIRInitAlloc_64f(IppsFIRState_64f** ppState, const Ipp64f* pTaps, int tapsLen,
                               const Ipp64f* pDlyLine) {
  if (ppState == nullptr || pTaps == nullptr) return ippStsNullPtrErr;
  if (tapsLen < 1) return ippStsFIRLenErr;
  const int64_t M = tapsLen;
  const bool withFFT = M >= kFIRFFTTaps;
  const int order = withFFT ? OrderAtLeast(M + 1, 0) + 1 : 0;
  if (order > 30) return ippStsMemAllocErr;
  const int64_t nfft = withFFT ? (int64_t{1} << order) : 0;
  const int64_t hdr = Align16(sizeof(TFIRState));
  const int64_t arr = Align16(M * 8);
  const int64_t work = Align16(2 * M * 8);
  const int64_t bytes = hdr + 2 * arr + work + (withFFT ? Align16((nfft + 2) * 8) : 0);
  if (bytes > INT_MAX) return ippStsMemAllocErr;
  auto* raw = static_cast<Ipp8u*>(_ippMalloc(static_cast<Ipp32s>(bytes)));
  if (raw == nullptr) return ippStsMemAllocErr;
  auto* st = reinterpret_cast<TFIRState*>(raw);
  st->Id = kFIRId;
  st->TapsLen = tapsLen;
  st->Taps = reinterpret_cast<Ipp64f*>(raw + hdr);
  st->DlyLine = reinterpret_cast<Ipp64f*>(raw + hdr + arr);
  st->Work = reinterpret_cast<Ipp64f*>(raw + hdr + 2 * arr);
  st->TransformSpec = nullptr;
  st->Spectrum = nullptr;
  st->Order = order;
  st->FFTBufSize = 0;
  if (withFFT) {
    // The built-in transform, always: this state is run by the built-in routine.
    st->Spectrum = reinterpret_cast<Ipp64f*>(raw + hdr + 2 * arr + work);
    IppsFFTSpec_R_64f* spec = nullptr;
    int size = 0;
    Ipp8u* buf = nullptr;
    bool ok = ippsFFTInitAlloc_R_64f(&spec, order, IPP_FFT_DIV_INV_BY_N, ippAlgHintNone) == ippStsNoErr;
    if (ok) ippsFFTGetBufSize_R_64f(spec, &size);
    if (ok && size > 0) ok = (buf = static_cast<Ipp8u*>(_ippMalloc(size))) != nullptr;
    if (ok) {
      std::copy(pTaps, pTaps + M, st->Spectrum);
      std::fill(st->Spectrum + M, st->Spectrum + nfft + 2, 0.0);
      ok = ippsFFTFwd_RToCCS_64f(st->Spectrum, st->Spectrum, spec, buf) == ippStsNoErr;
    }
    _ippFree(buf);
    if (!ok) {
      if (spec != nullptr) ippsFFTFree_R_64f(spec);
      _ippFree(raw);
      return ippStsMemAllocErr;
    }
    st->TransformSpec = spec;
    st->FFTBufSize = size;
  }
  for (int64_t j = 0; j < M; ++j) st->Taps[j] = pTaps[M - 1 - j];
  if (pDlyLine != nullptr)
    std::copy(pDlyLine, pDlyLine + M, st->DlyLine);
  else
    std::fill(st->DlyLine, st->DlyLine + M, 0.0);
  *ppState = reinterpret_cast<IppsFIRState_64f*>(st);
  return ippStsNoErr;
}

// y[n] = sum_k taps[k] x[n - k], the samples before the block taken from the
// delay line. The source and destination may be the same array.
IppStatus ippsFIR_64f(const Ipp64f* pSrc, Ipp64f* pDst, int numIters, IppsFIRState_64f* pState) {
  if (pSrc == nullptr || pDst == nullptr || pState == nullptr) return ippStsNullPtrErr;
  if (numIters < 1) return ippStsSizeErr;
  auto* st = reinterpret_cast<TFIRState*>(pState);
  if (st->Id != kFIRId && st->Id != kFIRMultiId) return ippStsContextMatchErr;
  const int64_t M = st->TapsLen, N = numIters;
  Ipp64f* dly = st->DlyLine;
  // Long blocks go through the transform (overlap-save: each segment of N_fft
  // samples yields N_fft - M + 1 outputs), the others through direct sums.
  const bool useFFT = st->TransformSpec != nullptr && N >= kFIRFFTBlock;
  const int64_t nfft = int64_t{1} << st->Order;
  Ipp64f* work = nullptr;
  if (useFFT) {
    // seg: one transform buffer; hist: the M - 1 inputs before the segment.
    work = AllocElems<Ipp64f>(nfft + 2 + M + (st->FFTBufSize + 7) / 8);
    if (work == nullptr) return ippStsMemAllocErr;
  }
  // The first P outputs reach back into the delay line: they read the
  // contiguous view [last M - 1 inputs | x[0..P)] built in the state.
  const int64_t P = std::min(N, M - 1);
  if (useFFT) {
    std::copy(dly + 1, dly + M, work + nfft + 2);
  } else if (P > 0) {
    std::copy(dly + 1, dly + M, st->Work);
    std::copy(pSrc, pSrc + P, st->Work + (M - 1));
  }
  // The new delay line is taken before any output can overwrite the input.
  if (N >= M) {
    std::copy(pSrc + N - M, pSrc + N, dly);
  } else {
    std::memmove(dly, dly + N, static_cast<std::size_t>(M - N) * sizeof(Ipp64f));
    std::copy(pSrc, pSrc + N, dly + (M - N));
  }
  if (useFFT) {
    Ipp64f* seg = work;
    Ipp64f* hist = work + nfft + 2;
    auto* buf = reinterpret_cast<Ipp8u*>(hist + M);
    const int64_t step = nfft - M + 1;
    for (int64_t n0 = 0; n0 < N; n0 += step) {
      const int64_t b = std::min(step, N - n0);
      // seg = [hist | x[n0 .. n0 + b) | zeros]; every input of the segment is
      // read before its outputs are stored, so pSrc may equal pDst.
      std::copy(hist, hist + M - 1, seg);
      std::copy(pSrc + n0, pSrc + n0 + b, seg + M - 1);
      std::fill(seg + M - 1 + b, seg + nfft + 2, 0.0);
      std::copy(seg + b, seg + b + M - 1, hist);
      ippsFFTFwd_RToCCS_64f(seg, seg, st->TransformSpec, buf);
      MulSpectrum(st->Spectrum, seg, nfft / 2 + 1, false);
      ippsFFTInv_CCSToR_64f(seg, seg, st->TransformSpec, buf);
      // Circular outputs M - 1 .. M - 2 + b never wrapped: they are y[n0 ..].
      std::copy(seg + M - 1, seg + M - 1 + b, pDst + n0);
    }
    _ippFree(work);
    return ippStsNoErr;
  }
  // The rest read the block itself; the kernel stores top-down, so an
  // in-place call never reads an input it has already replaced.
  if (N > M - 1) Kernel(st->Taps, M, pSrc, -kUnbounded, kUnbounded, pDst + (M - 1), N - (M - 1));
  if (P > 0) Kernel(st->Taps, M, st->Work, -kUnbounded, kUnbounded, pDst, P);
  return ippStsNoErr;
}

IppStatus ippsFIRFree_64f(IppsFIRState_64f* pState) {
  if (pState == nullptr) return ippStsNullPtrErr;
  auto* st = reinterpret_cast<TFIRState*>(pState);
  if (st->Id != kFIRId && st->Id != kFIRMultiId) return ippStsContextMatchErr;
  st->Id = 0;  // a freed state no longer matches
  if (st->TransformSpec != nullptr) ippsFFTFree_R_64f(st->TransformSpec);
  _ippFree(st);
  return ippStsNoErr;
}

// ---------------------------------------------------------------- IIR

namespace {

TIIRState* NewIIRState(Ipp32u id, int order, int64_t nCoeffs, int64_t nDly) {
  const int64_t hdr = Align16(sizeof(TIIRState));
  const int64_t carr = Align16(nCoeffs * 8);
  const int64_t bytes = hdr + carr + Align16(std::max<int64_t>(nDly, 1) * 8);
  if (bytes > INT_MAX) return nullptr;
  auto* raw = static_cast<Ipp8u*>(_ippMalloc(static_cast<Ipp32s>(bytes)));
  if (raw == nullptr) return nullptr;
  auto* st = reinterpret_cast<TIIRState*>(raw);
  st->Id = id;
  st->Order = order;
  st->Coeffs = reinterpret_cast<Ipp64f*>(raw + hdr);
  st->DlyLine = reinterpret_cast<Ipp64f*>(raw + hdr + carr);
  return st;
}

}  // namespace

IppStatus ippsIIRInitAlloc_64f(IppsIIRState_64f** ppState, const Ipp64f* pTaps, int order,
                               const Ipp64f* pDlyLine) {
  if (ppState == nullptr || pTaps == nullptr) return ippStsNullPtrErr;
  if (order < 0) return ippStsIIROrderErr;
  const int64_t N = order;
  const Ipp64f a0 = pTaps[N + 1];
  if (a0 == 0.0) return ippStsDivByZeroErr;  // checked before anything is allocated
  TIIRState* st = NewIIRState(kIIRId, order, 2 * (N + 1), N);
  if (st == nullptr) return ippStsMemAllocErr;
  for (int64_t i = 0; i < 2 * (N + 1); ++i) st->Coeffs[i] = pTaps[i] / a0;
  for (int64_t i = 0; i < N; ++i) st->DlyLine[i] = pDlyLine != nullptr ? pDlyLine[i] : 0.0;
  *ppState = reinterpret_cast<IppsIIRState_64f*>(st);
  return ippStsNoErr;
}

IppStatus ippsIIRInitAlloc_BiQuad_64f(IppsIIRState_64f** ppState, const Ipp64f* pTaps, int numBq,
                                      const Ipp64f* pDlyLine) {
  if (ppState == nullptr || pTaps == nullptr) return ippStsNullPtrErr;
  if (numBq < 1) return ippStsIIROrderErr;
  const int64_t Q = numBq;
  for (int64_t s = 0; s < Q; ++s)
    if (pTaps[6 * s] == 0.0 || pTaps[6 * s + 3] == 0.0) return ippStsDivByZeroErr;
  TIIRState* st = NewIIRState(kIIRBiQuadId, numBq, 6 * Q, 2 * Q);
  if (st == nullptr) return ippStsMemAllocErr;
  for (int64_t s = 0; s < Q; ++s) {
    const Ipp64f* t = pTaps + 6 * s;
    Ipp64f* c = st->Coeffs + 6 * s;
    c[0] = t[0] / t[3];
    c[1] = t[1] / t[3];
    c[2] = t[2] / t[3];
    c[3] = t[4] / t[3];
    c[4] = t[5] / t[3];
    c[5] = 0.0;
  }
  for (int64_t i = 0; i < 2 * Q; ++i) st->DlyLine[i] = pDlyLine != nullptr ? pDlyLine[i] : 0.0;
  *ppState = reinterpret_cast<IppsIIRState_64f*>(st);
  return ippStsNoErr;
}

// Source and destination may be the same array.
IppStatus ippsIIR_64f(const Ipp64f* pSrc, Ipp64f* pDst, int len, IppsIIRState_64f* pState) {
  if (pSrc == nullptr || pDst == nullptr || pState == nullptr) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  auto* st = reinterpret_cast<TIIRState*>(pState);
  if (st->Id == kIIRBiQuadId) {
    // Sections run in groups as wide as the vector allows; each group
    // pipelines its sections, the next group filters the previous one's output.
    const int64_t G = HWY_DYNAMIC_DISPATCH(BiquadGroupWidth)();
    const Ipp64f* in = pSrc;
    for (int64_t s = 0; s < st->Order; s += G) {
      const int64_t g = std::min<int64_t>(G, st->Order - s);
      HWY_DYNAMIC_DISPATCH(BiquadGroup)(st->Coeffs + 6 * s, st->DlyLine + 2 * s, g, in, pDst, len);
      in = pDst;
    }
    return ippStsNoErr;
  }
  if (st->Id != kIIRId) return ippStsContextMatchErr;
  // Direct form (transposed form II): one serial recurrence, scalar.
  const int64_t N = st->Order;
  const Ipp64f* b = st->Coeffs;
  const Ipp64f* a = st->Coeffs + N + 1;
  Ipp64f* dl = st->DlyLine;
  if (N == 0) {
    for (int64_t n = 0; n < len; ++n) pDst[n] = b[0] * pSrc[n];
    return ippStsNoErr;
  }
  for (int64_t n = 0; n < len; ++n) {
    const Ipp64f x = pSrc[n];
    const Ipp64f y = b[0] * x + dl[0];
    for (int64_t i = 0; i < N - 1; ++i) dl[i] = b[i + 1] * x - a[i + 1] * y + dl[i + 1];
    dl[N - 1] = b[N] * x - a[N] * y;
    pDst[n] = y;
  }
  return ippStsNoErr;
}

IppStatus ippsIIRFree_64f(IppsIIRState_64f* pState) {
  if (pState == nullptr) return ippStsNullPtrErr;
  auto* st = reinterpret_cast<TIIRState*>(pState);
  if (st->Id != kIIRId && st->Id != kIIRBiQuadId) return ippStsContextMatchErr;
  st->Id = 0;
  _ippFree(st);
  return ippStsNoErr;
}

}  // namespace nx::builtin
#endif  // HWY_ONCE
