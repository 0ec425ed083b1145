// Scalar twins of the statistics, norm and threshold routines: plain loops
// with the same checks, statuses and special values as the built-in routines.
// Sums run left to right in one accumulator (they agree with the vector
// kernels to rounding); extremes follow the same rules exactly: the first NaN
// wins outright, otherwise the first position of the extreme, "x < best
// replaces" for the minimum and "x > best replaces" for the maximum.
#include <cmath>
#include <limits>

#include "vector/reference/NXReference.h"
#include "vector/NXPrimitiveChecks.h"

namespace nx::reference {

namespace {

using primchecks::CheckLenPtrs;
using primchecks::kMinDivisor;

// Position of the first minimum (or maximum), or of the first NaN.
int ExtremeIndex(const Ipp64f* p, int len, bool wantMax) {
  int best = 0;
  if (p[0] != p[0]) return 0;
  for (int i = 1; i < len; ++i) {
    const double x = p[i];
    if (x != x) return i;
    if (wantMax ? x > p[best] : x < p[best]) best = i;
  }
  return best;
}

double ScaledMagnitude(double x, double y) {
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

template <typename T>
void Clip(const T* src, T* dst, int len, T level, IppCmpOp relOp) {
  for (int i = 0; i < len; ++i) {
    const T x = src[i];
    if (relOp == ippCmpGreater) {
      dst[i] = x > level ? level : x;
    } else {
      dst[i] = x < level ? level : x;
    }
  }
}

}  // namespace

IppStatus ippsSum_64f(const Ipp64f* pSrc, int len, Ipp64f* pSum) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pSum)) return st;
  double s = 0.0;
  for (int i = 0; i < len; ++i) s += pSrc[i];
  *pSum = s;
  return ippStsNoErr;
}

IppStatus ippsMean_64f(const Ipp64f* pSrc, int len, Ipp64f* pMean) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pMean)) return st;
  double s = 0.0;
  for (int i = 0; i < len; ++i) s += pSrc[i];
  *pMean = s / len;
  return ippStsNoErr;
}

IppStatus ippsMean_32f(const Ipp32f* pSrc, int len, Ipp32f* pMean, IppHintAlgorithm /*hint*/) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pMean)) return st;
  double s = 0.0;
  for (int i = 0; i < len; ++i) s += pSrc[i];
  *pMean = static_cast<Ipp32f>(s / len);
  return ippStsNoErr;
}

IppStatus ippsStdDev_64f(const Ipp64f* pSrc, int len, Ipp64f* pStdDev) {
  if (pSrc == nullptr || pStdDev == nullptr) return ippStsNullPtrErr;
  if (len < 2) return ippStsSizeErr;
  double s = 0.0, q = 0.0;
  for (int i = 0; i < len; ++i) {
    s += pSrc[i];
    q += pSrc[i] * pSrc[i];
  }
  const double n = len;
  const double num = n * q - s * s;
  *pStdDev = num <= 0.0 ? 0.0 : std::sqrt(num / (n * (n - 1.0)));
  return ippStsNoErr;
}

IppStatus ippsMin_64f(const Ipp64f* pSrc, int len, Ipp64f* pMin) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pMin)) return st;
  *pMin = pSrc[ExtremeIndex(pSrc, len, false)];
  return ippStsNoErr;
}

IppStatus ippsMax_64f(const Ipp64f* pSrc, int len, Ipp64f* pMax) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pMax)) return st;
  *pMax = pSrc[ExtremeIndex(pSrc, len, true)];
  return ippStsNoErr;
}

IppStatus ippsMinMax_64f(const Ipp64f* pSrc, int len, Ipp64f* pMin, Ipp64f* pMax) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pMin, pMax)) return st;
  *pMin = pSrc[ExtremeIndex(pSrc, len, false)];
  *pMax = pSrc[ExtremeIndex(pSrc, len, true)];
  return ippStsNoErr;
}

IppStatus ippsMinIndx_64f(const Ipp64f* pSrc, int len, Ipp64f* pMin, int* pIndx) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pMin)) return st;
  const int k = ExtremeIndex(pSrc, len, false);
  *pMin = pSrc[k];
  if (pIndx) *pIndx = k;
  return ippStsNoErr;
}

IppStatus ippsMaxIndx_64f(const Ipp64f* pSrc, int len, Ipp64f* pMax, int* pIndx) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pMax)) return st;
  const int k = ExtremeIndex(pSrc, len, true);
  *pMax = pSrc[k];
  if (pIndx) *pIndx = k;
  return ippStsNoErr;
}

IppStatus ippsDotProd_64f(const Ipp64f* pSrc1, const Ipp64f* pSrc2, int len, Ipp64f* pDp) {
  if (IppStatus st = CheckLenPtrs(len, pSrc1, pSrc2, pDp)) return st;
  double s = 0.0;
  for (int i = 0; i < len; ++i) s += pSrc1[i] * pSrc2[i];
  *pDp = s;
  return ippStsNoErr;
}

IppStatus ippsDotProd_64fc(const Ipp64fc* pSrc1, const Ipp64fc* pSrc2, int len, Ipp64fc* pDp) {
  if (IppStatus st = CheckLenPtrs(len, pSrc1, pSrc2, pDp)) return st;
  double re = 0.0, im = 0.0;
  for (int i = 0; i < len; ++i) {
    re += pSrc1[i].re * pSrc2[i].re - pSrc1[i].im * pSrc2[i].im;
    im += pSrc1[i].re * pSrc2[i].im + pSrc1[i].im * pSrc2[i].re;
  }
  *pDp = {re, im};
  return ippStsNoErr;
}

IppStatus ippsNormDiff_L1_64f(const Ipp64f* pSrc1, const Ipp64f* pSrc2, int len, Ipp64f* pNorm) {
  if (IppStatus st = CheckLenPtrs(len, pSrc1, pSrc2, pNorm)) return st;
  double s = 0.0;
  for (int i = 0; i < len; ++i) s += std::fabs(pSrc1[i] - pSrc2[i]);
  *pNorm = s;
  return ippStsNoErr;
}

IppStatus ippsNormDiff_L2_64f(const Ipp64f* pSrc1, const Ipp64f* pSrc2, int len, Ipp64f* pNorm) {
  if (IppStatus st = CheckLenPtrs(len, pSrc1, pSrc2, pNorm)) return st;
  double s = 0.0;
  for (int i = 0; i < len; ++i) s += (pSrc1[i] - pSrc2[i]) * (pSrc1[i] - pSrc2[i]);
  *pNorm = std::sqrt(s);
  return ippStsNoErr;
}

// A NaN difference makes the norm NaN.
IppStatus ippsNormDiff_Inf_64f(const Ipp64f* pSrc1, const Ipp64f* pSrc2, int len, Ipp64f* pNorm) {
  if (IppStatus st = CheckLenPtrs(len, pSrc1, pSrc2, pNorm)) return st;
  double m = 0.0;
  for (int i = 0; i < len; ++i) {
    const double v = std::fabs(pSrc1[i] - pSrc2[i]);
    if (v != v) {
      *pNorm = std::numeric_limits<double>::quiet_NaN();
      return ippStsNoErr;
    }
    if (v > m) m = v;
  }
  *pNorm = m;
  return ippStsNoErr;
}

IppStatus ippsNorm_L2_64fc64f(const Ipp64fc* pSrc, int len, Ipp64f* pNorm) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pNorm)) return st;
  double s = 0.0;
  for (int i = 0; i < len; ++i) s += pSrc[i].re * pSrc[i].re + pSrc[i].im * pSrc[i].im;
  *pNorm = std::sqrt(s);
  return ippStsNoErr;
}

IppStatus ippsNormalize_64f(const Ipp64f* pSrc, Ipp64f* pDst, int len, Ipp64f vSub, Ipp64f vDiv) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pDst)) return st;
  if (std::fabs(vDiv) < kMinDivisor) return ippStsDivByZeroErr;
  const double inv = 1.0 / vDiv;
  for (int i = 0; i < len; ++i) pDst[i] = (pSrc[i] - vSub) * inv;
  return ippStsNoErr;
}

IppStatus ippsNormalize_32f(const Ipp32f* pSrc, Ipp32f* pDst, int len, Ipp32f vSub, Ipp32f vDiv) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pDst)) return st;
  if (std::fabs(static_cast<double>(vDiv)) < kMinDivisor) return ippStsDivByZeroErr;
  const double inv = 1.0 / static_cast<double>(vDiv);
  const double sub = vSub;
  for (int i = 0; i < len; ++i) pDst[i] = static_cast<Ipp32f>((static_cast<double>(pSrc[i]) - sub) * inv);
  return ippStsNoErr;
}

IppStatus ippsNormalize_64fc(const Ipp64fc* pSrc, Ipp64fc* pDst, int len, Ipp64fc vSub, Ipp64f vDiv) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pDst)) return st;
  if (std::fabs(vDiv) < kMinDivisor) return ippStsDivByZeroErr;
  const double inv = 1.0 / vDiv;
  for (int i = 0; i < len; ++i) pDst[i] = {(pSrc[i].re - vSub.re) * inv, (pSrc[i].im - vSub.im) * inv};
  return ippStsNoErr;
}

IppStatus ippsThreshold_64f(const Ipp64f* pSrc, Ipp64f* pDst, int len, Ipp64f level, IppCmpOp relOp) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pDst)) return st;
  Clip(pSrc, pDst, len, level, relOp);
  return ippStsNoErr;
}

IppStatus ippsThreshold_64f_I(Ipp64f* pSrcDst, int len, Ipp64f level, IppCmpOp relOp) {
  return ippsThreshold_64f(pSrcDst, pSrcDst, len, level, relOp);
}

IppStatus ippsThreshold_32f_I(Ipp32f* pSrcDst, int len, Ipp32f level, IppCmpOp relOp) {
  if (IppStatus st = CheckLenPtrs(len, pSrcDst)) return st;
  Clip(pSrcDst, pSrcDst, len, level, relOp);
  return ippStsNoErr;
}

IppStatus ippsThreshold_64fc(const Ipp64fc* pSrc, Ipp64fc* pDst, int len, Ipp64f level, IppCmpOp relOp) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pDst)) return st;
  if (level < 0.0) return ippStsThreshNegLevelErr;
  const bool above = relOp == ippCmpGreater;
  for (int i = 0; i < len; ++i) {
    double x = pSrc[i].re, y = pSrc[i].im;
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
    pDst[i] = {x, y};
  }
  return ippStsNoErr;
}

IppStatus ippsThreshold_64fc_I(Ipp64fc* pSrcDst, int len, Ipp64f level, IppCmpOp relOp) {
  return ippsThreshold_64fc(pSrcDst, pSrcDst, len, level, relOp);
}

IppStatus ippsThreshold_LT_32s_I(Ipp32s* pSrcDst, int len, Ipp32s level) {
  if (IppStatus st = CheckLenPtrs(len, pSrcDst)) return st;
  for (int i = 0; i < len; ++i)
    if (pSrcDst[i] < level) pSrcDst[i] = level;
  return ippStsNoErr;
}

IppStatus ippsThreshold_GT_32s_I(Ipp32s* pSrcDst, int len, Ipp32s level) {
  if (IppStatus st = CheckLenPtrs(len, pSrcDst)) return st;
  for (int i = 0; i < len; ++i)
    if (pSrcDst[i] > level) pSrcDst[i] = level;
  return ippStsNoErr;
}

}  // namespace nx::reference
