// Built-in routines of the window and generator family: the Bartlett, Hann,
// Hamming and Blackman windows (real out-of-place, real in-place and complex
// in-place forms), the package's own Kaiser window, the uniform random
// generators and the Jaehne test signal.
//
// All scalar: a window is one pass of a few multiplications per sample and
// the generators are sequential recurrences.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "vector/LibCDispatcher.h"
#include "vector/NXBasicDispatcher.h"
#include "vector/builtin/NXBuiltins.h"

namespace nx::builtin {

namespace {

constexpr long double kPiL = 3.141592653589793238462643383279502884L;

enum class Win { Bartlett, Hann, Hamming, Blackman };

// Visits the weights of a window of n >= 3 samples: fn(k, N - k, w) for
// k = 0 ... n/2 - 1, so each weight serves the sample at either end; for odd
// n the middle sample (weight 1 in every window) is not visited.
//
// The cosine of 2*pi*k/N comes from a rotation by 2*pi/N advanced with the
// angle-addition formulas, the step's sine taken as sqrt(1 - cos^2). The
// recurrence runs in extended precision: in double the error of the step
// grows with k and reaches a few 1e-12 at lengths of a thousand, in long
// double it stays near double rounding for any practical length.
//
// Three samples are a special case: only the two ends are set, to 0, for
// every window (Hamming's formula would give 0.08 there).
template <class Fn>
void ForEachWeight(int n, Win kind, long double alpha, Fn fn) {
  const int last = n - 1;
  if (n == 3) {
    fn(0, last, 0.0L);
    return;
  }
  const long double N = last;
  const long double c1 = std::cos(2 * kPiL / N);
  const long double s1 = std::sqrt(1 - c1 * c1);
  long double c = 1, s = 0;
  for (int k = 0; k < n / 2; ++k) {
    long double w;
    switch (kind) {
      case Win::Bartlett: w = 2 * k / N; break;
      case Win::Hann: w = 0.5L - 0.5L * c; break;
      case Win::Hamming: w = 0.54L - 0.46L * c; break;
      default: w = (alpha + 1) / 2 - 0.5L * c - (alpha / 2) * (2 * c * c - 1); break;
    }
    fn(k, last - k, w);
    const long double cn = c * c1 - s * s1;
    s = s * c1 + c * s1;
    c = cn;
  }
}

IppStatus WinOut(const Ipp64f* src, Ipp64f* dst, int len, Win kind, Ipp64f alpha) {
  if (!src || !dst) return ippStsNullPtrErr;
  if (len < 3) return ippStsSizeErr;
  if (len % 2) dst[len / 2] = src[len / 2];  // the middle sample's weight is 1
  ForEachWeight(len, kind, alpha, [&](int a, int b, long double w) {
    dst[a] = static_cast<Ipp64f>(src[a] * w);
    dst[b] = static_cast<Ipp64f>(src[b] * w);
  });
  return ippStsNoErr;
}

IppStatus WinIn(Ipp64f* sd, int len, Win kind, Ipp64f alpha) {
  if (!sd) return ippStsNullPtrErr;
  if (len < 3) return ippStsSizeErr;
  ForEachWeight(len, kind, alpha, [&](int a, int b, long double w) {
    sd[a] = static_cast<Ipp64f>(sd[a] * w);
    sd[b] = static_cast<Ipp64f>(sd[b] * w);
  });
  return ippStsNoErr;
}

IppStatus WinInC(Ipp64fc* sd, int len, Win kind, Ipp64f alpha) {
  if (!sd) return ippStsNullPtrErr;
  if (len < 3) return ippStsSizeErr;
  ForEachWeight(len, kind, alpha, [&](int a, int b, long double w) {
    sd[a].re = static_cast<Ipp64f>(sd[a].re * w);
    sd[a].im = static_cast<Ipp64f>(sd[a].im * w);
    sd[b].re = static_cast<Ipp64f>(sd[b].re * w);
    sd[b].im = static_cast<Ipp64f>(sd[b].im * w);
  });
  return ippStsNoErr;
}

// Rounds to nearest, ties to even, whatever the processor's rounding mode.
double RoundEven(double x) {
  double r = _floor(x);
  const double diff = x - r;
  if (diff > 0.5 || (diff == 0.5 && _floor(r * 0.5) * 2 != r)) r += 1;
  return r;
}

// The combined generator: a subtract-with-borrow sequence over the seed plus
// a linear congruential word. Next() returns the signed 32-bit sum of both.
class UniformGen {
 public:
  explicit UniformGen(std::uint32_t seed) : s0_(seed) {
    s1_ = 69069u * s0_ + 1013904243u;
    s2_ = 69069u * s1_ + 1013904243u;
  }
  std::int32_t Next() {
    g_ = 69069u * g_ + 1013904243u;
    const std::uint32_t t = s1_ - s2_ + c_;
    const bool neg = static_cast<std::int32_t>(t) < 0;
    c_ = neg ? 0xFFFFFFFFu : 0u;
    const std::uint32_t r = neg ? t - 18u : t;
    s2_ = s1_;
    s1_ = s0_;
    s0_ = r;
    return static_cast<std::int32_t>(r + g_);
  }
  std::uint32_t Seed() const { return s0_; }

 private:
  std::uint32_t s0_, s1_ = 0, s2_ = 0;
  std::uint32_t c_ = 0xFFFFFFFFu;  // borrow, -1
  std::uint32_t g_ = 1131199209u;
};

// 2^-32 plus a few units in the last place (bits 0x3DF0000000000007).
double UniformScale() {
  const std::uint64_t bits = 0x3DF0000000000007ull;
  double k;
  std::memcpy(&k, &bits, sizeof k);
  return k;
}

}  // namespace

IppStatus ippsWinBartlett_64f(const Ipp64f* pSrc, Ipp64f* pDst, int len) { return WinOut(pSrc, pDst, len, Win::Bartlett, 0); }
IppStatus ippsWinBartlett_64f_I(Ipp64f* pSrcDst, int len) { return WinIn(pSrcDst, len, Win::Bartlett, 0); }
IppStatus ippsWinBartlett_64fc_I(Ipp64fc* pSrcDst, int len) { return WinInC(pSrcDst, len, Win::Bartlett, 0); }
IppStatus ippsWinHann_64f(const Ipp64f* pSrc, Ipp64f* pDst, int len) { return WinOut(pSrc, pDst, len, Win::Hann, 0); }
IppStatus ippsWinHann_64f_I(Ipp64f* pSrcDst, int len) { return WinIn(pSrcDst, len, Win::Hann, 0); }
IppStatus ippsWinHann_64fc_I(Ipp64fc* pSrcDst, int len) { return WinInC(pSrcDst, len, Win::Hann, 0); }
IppStatus ippsWinHamming_64f(const Ipp64f* pSrc, Ipp64f* pDst, int len) { return WinOut(pSrc, pDst, len, Win::Hamming, 0); }
IppStatus ippsWinHamming_64f_I(Ipp64f* pSrcDst, int len) { return WinIn(pSrcDst, len, Win::Hamming, 0); }
IppStatus ippsWinHamming_64fc_I(Ipp64fc* pSrcDst, int len) { return WinInC(pSrcDst, len, Win::Hamming, 0); }
IppStatus ippsWinBlackman_64f(const Ipp64f* pSrc, Ipp64f* pDst, int len, Ipp64f alpha) {
  return WinOut(pSrc, pDst, len, Win::Blackman, alpha);
}
IppStatus ippsWinBlackman_64f_I(Ipp64f* pSrcDst, int len, Ipp64f alpha) { return WinIn(pSrcDst, len, Win::Blackman, alpha); }
IppStatus ippsWinBlackman_64fc_I(Ipp64fc* pSrcDst, int len, Ipp64f alpha) {
  return WinInC(pSrcDst, len, Win::Blackman, alpha);
}

// out = (r + g) * (high - low) * K + (high + low) / 2, K just above 2^-32, so
// the values lie in [low, high]; the seed is advanced to the last r.
IppStatus ippsRandUniform_Direct_64f(Ipp64f* pDst, int len, Ipp64f low, Ipp64f high, unsigned int* pSeed) {
  if (!pDst || !pSeed) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  UniformGen gen(*pSeed);
  const double k = UniformScale(), range = high - low, mid = (high + low) * 0.5;
  for (int i = 0; i < len; ++i) pDst[i] = static_cast<double>(gen.Next()) * range * k + mid;
  *pSeed = gen.Seed();
  return ippStsNoErr;
}

IppStatus ippsRandUniform_Direct_16s(Ipp16s* pDst, int len, Ipp16s low, Ipp16s high, unsigned int* pSeed) {
  if (!pDst || !pSeed) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  UniformGen gen(*pSeed);
  const double hi = high, lo = low;
  const double k = UniformScale(), range = hi - lo, mid = (hi + lo) * 0.5;
  for (int i = 0; i < len; ++i) {
    const double v = RoundEven(static_cast<double>(gen.Next()) * range * k + mid);
    // The value cannot leave [low, high] by more than rounding; clamp anyway
    // so that a reversed range still gives representable values.
    pDst[i] = static_cast<Ipp16s>(v < -32768.0 ? -32768.0 : (v > 32767.0 ? 32767.0 : v));
  }
  *pSeed = gen.Seed();
  return ippStsNoErr;
}

IppStatus ippsVectorJaehne_64f(Ipp64f* pDst, int len, Ipp64f magn) {
  if (!pDst) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  if (magn < 0) return ippStsJaehneErr;
  if (len == 1) {
    pDst[0] = 0;
    return ippStsNoErr;
  }
  const double halfPi = 1.5707963267948966;
  for (int k = 0; k < len; ++k) {
    const double kk = static_cast<double>(k) * k;
    pDst[k] = magn * _sin(halfPi * kk / len);
  }
  return ippStsNoErr;
}

}  // namespace nx::builtin

// ---------------------------------------------------------------- Kaiser
// The package's own Kaiser window: M = (n - 1) / 2,
// w(k) = I0(alpha * sqrt(M^2 - (k - M)^2)) / I0(alpha * M), with I0 by its
// series truncated after nine terms. Any length from 1 works (one sample gets
// weight 1), so unlike the other windows there is no minimum of 3; a null
// pointer or a length below 1 returns the usual error status and writes
// nothing.
namespace nx::NXBasicDispatcher {

namespace {

long double BesselI0(long double x) {
  const long double y = x / 2;
  long double term = 1, sum = 1;
  for (int j = 1; j <= 9; ++j) {
    term *= y / j;
    sum += term * term;
  }
  return sum;
}

template <class Fn>
void KaiserWeights(int n, Ipp32f alpha, Fn fn) {
  const long double a = alpha;
  const long double m = (n - 1) / 2.0L;
  const long double norm = BesselI0(a * m);
  for (int k = 0; k < n; ++k) {
    // M^2 - (k - M)^2 = k * (n - 1 - k), exact.
    const long double r = static_cast<long double>(k) * (n - 1 - k);
    fn(k, BesselI0(a * std::sqrt(r)) / norm);
  }
}

}  // namespace

IppStatus ippsWinKaiser_64f(const Ipp64f* pSrc, Ipp64f* pDst, int len, Ipp32f alpha) {
  if (!pSrc || !pDst) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  KaiserWeights(len, alpha, [&](int k, long double w) { pDst[k] = static_cast<Ipp64f>(pSrc[k] * w); });
  return ippStsNoErr;
}

IppStatus ippsWinKaiser_64f_I(Ipp64f* pSrcDst, int len, Ipp32f alpha) {
  if (!pSrcDst) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  KaiserWeights(len, alpha, [&](int k, long double w) { pSrcDst[k] = static_cast<Ipp64f>(pSrcDst[k] * w); });
  return ippStsNoErr;
}

IppStatus ippsWinKaiser_64fc_I(Ipp64fc* pSrcDst, int len, Ipp32f alpha) {
  if (!pSrcDst) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  KaiserWeights(len, alpha, [&](int k, long double w) {
    pSrcDst[k].re = static_cast<Ipp64f>(pSrcDst[k].re * w);
    pSrcDst[k].im = static_cast<Ipp64f>(pSrcDst[k].im * w);
  });
  return ippStsNoErr;
}

}  // namespace nx::NXBasicDispatcher
