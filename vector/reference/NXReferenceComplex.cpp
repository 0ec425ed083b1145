// Scalar twins of the complex-arithmetic routines: one plain loop per
// primitive with the same checks, statuses and special values as the built-in
// routine, evaluating the same expressions element by element.
#include <cmath>
#include <limits>

#include "vector/LibCDispatcher.h"
#include "vector/reference/NXReference.h"
#include "vector/NXPrimitiveChecks.h"

namespace nx::reference {

namespace {

using primchecks::CheckLenPtrs;

Ipp64fc Mul(Ipp64fc a, Ipp64fc b) { return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re}; }

}  // namespace

IppStatus ippsAdd_64fc(const Ipp64fc* pSrc1, const Ipp64fc* pSrc2, Ipp64fc* pDst, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrc1, pSrc2, pDst)) return st;
  for (int i = 0; i < len; ++i) pDst[i] = {pSrc1[i].re + pSrc2[i].re, pSrc1[i].im + pSrc2[i].im};
  return ippStsNoErr;
}

IppStatus ippsAdd_64fc_I(const Ipp64fc* pSrc, Ipp64fc* pSrcDst, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pSrcDst)) return st;
  for (int i = 0; i < len; ++i) pSrcDst[i] = {pSrcDst[i].re + pSrc[i].re, pSrcDst[i].im + pSrc[i].im};
  return ippStsNoErr;
}

IppStatus ippsSub_64fc_I(const Ipp64fc* pSrc, Ipp64fc* pSrcDst, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pSrcDst)) return st;
  for (int i = 0; i < len; ++i) pSrcDst[i] = {pSrcDst[i].re - pSrc[i].re, pSrcDst[i].im - pSrc[i].im};
  return ippStsNoErr;
}

IppStatus ippsMul_64fc_I(const Ipp64fc* pSrc, Ipp64fc* pSrcDst, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pSrcDst)) return st;
  for (int i = 0; i < len; ++i) pSrcDst[i] = Mul(pSrcDst[i], pSrc[i]);
  return ippStsNoErr;
}

IppStatus ippsDiv_64fc_I(const Ipp64fc* pSrc, Ipp64fc* pSrcDst, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pSrcDst)) return st;
  IppStatus status = ippStsNoErr;
  for (int i = 0; i < len; ++i) {
    const Ipp64fc a = pSrcDst[i], b = pSrc[i];
    const double m = b.re * b.re + b.im * b.im;
    if (m == 0.0) {
      const double nan = std::numeric_limits<double>::quiet_NaN();
      pSrcDst[i] = {nan, nan};
      status = ippStsDivByZero;
      continue;
    }
    const double inv = 1.0 / m;
    pSrcDst[i] = {(a.re * b.re + a.im * b.im) * inv, (a.im * b.re - a.re * b.im) * inv};
  }
  return status;
}

IppStatus ippsAddC_64fc(const Ipp64fc* pSrc, Ipp64fc val, Ipp64fc* pDst, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pDst)) return st;
  for (int i = 0; i < len; ++i) pDst[i] = {pSrc[i].re + val.re, pSrc[i].im + val.im};
  return ippStsNoErr;
}

IppStatus ippsAddC_64fc_I(Ipp64fc val, Ipp64fc* pSrcDst, int len) { return ippsAddC_64fc(pSrcDst, val, pSrcDst, len); }

IppStatus ippsSubC_64fc(const Ipp64fc* pSrc, Ipp64fc val, Ipp64fc* pDst, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pDst)) return st;
  for (int i = 0; i < len; ++i) pDst[i] = {pSrc[i].re - val.re, pSrc[i].im - val.im};
  return ippStsNoErr;
}

IppStatus ippsSubC_64fc_I(Ipp64fc val, Ipp64fc* pSrcDst, int len) { return ippsSubC_64fc(pSrcDst, val, pSrcDst, len); }

IppStatus ippsSubCRev_64fc(const Ipp64fc* pSrc, Ipp64fc val, Ipp64fc* pDst, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pDst)) return st;
  for (int i = 0; i < len; ++i) pDst[i] = {val.re - pSrc[i].re, val.im - pSrc[i].im};
  return ippStsNoErr;
}

IppStatus ippsMulC_64fc(const Ipp64fc* pSrc, Ipp64fc val, Ipp64fc* pDst, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pDst)) return st;
  for (int i = 0; i < len; ++i) pDst[i] = Mul(pSrc[i], val);
  return ippStsNoErr;
}

IppStatus ippsMulC_64fc_I(Ipp64fc val, Ipp64fc* pSrcDst, int len) { return ippsMulC_64fc(pSrcDst, val, pSrcDst, len); }

IppStatus ippsDivC_64fc(const Ipp64fc* pSrc, Ipp64fc val, Ipp64fc* pDst, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pDst)) return st;
  const double m = val.re * val.re + val.im * val.im;
  if (m == 0.0) return ippStsDivByZeroErr;
  const double inv = 1.0 / m;
  const Ipp64fc k = {val.re * inv, -(val.im * inv)};
  for (int i = 0; i < len; ++i) pDst[i] = Mul(pSrc[i], k);
  return ippStsNoErr;
}

IppStatus ippsDivC_64fc_I(Ipp64fc val, Ipp64fc* pSrcDst, int len) { return ippsDivC_64fc(pSrcDst, val, pSrcDst, len); }

IppStatus ippsSqr_64fc(const Ipp64fc* pSrc, Ipp64fc* pDst, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pDst)) return st;
  for (int i = 0; i < len; ++i) pDst[i] = Mul(pSrc[i], pSrc[i]);
  return ippStsNoErr;
}

IppStatus ippsSqr_64fc_I(Ipp64fc* pSrcDst, int len) { return ippsSqr_64fc(pSrcDst, pSrcDst, len); }

IppStatus ippsSqrt_64fc(const Ipp64fc* pSrc, Ipp64fc* pDst, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pDst)) return st;
  for (int i = 0; i < len; ++i) {
    const double x = pSrc[i].re, y = pSrc[i].im;
    const double ax = std::fabs(x), ay = std::fabs(y);
    // Exact power-of-two scaling keeps |z| inside the double range.
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
    double re, im;
    if (x < 0.0) {
      re = std::fabs(q) * sOut;
      im = std::copysign(t, ys) * sOut;
    } else {
      re = t * sOut;
      im = q * sOut;
    }
    if (ay == HUGE_VAL) {
      re = HUGE_VAL;
      im = y;
    }
    pDst[i] = {re, im};
  }
  return ippStsNoErr;
}

IppStatus ippsSqrt_64fc_I(Ipp64fc* pSrcDst, int len) { return ippsSqrt_64fc(pSrcDst, pSrcDst, len); }

IppStatus ippsMagnitude_64fc(const Ipp64fc* pSrc, Ipp64f* pDst, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pDst)) return st;
  for (int i = 0; i < len; ++i) pDst[i] = std::sqrt(pSrc[i].re * pSrc[i].re + pSrc[i].im * pSrc[i].im);
  return ippStsNoErr;
}

IppStatus ippsPhase_64fc(const Ipp64fc* pSrc, Ipp64f* pDst, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pDst)) return st;
  for (int i = 0; i < len; ++i) pDst[i] = _atan2(pSrc[i].im, pSrc[i].re);
  return ippStsNoErr;
}

IppStatus ippsPowerSpectr_64fc(const Ipp64fc* pSrc, Ipp64f* pDst, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pDst)) return st;
  for (int i = 0; i < len; ++i) pDst[i] = pSrc[i].re * pSrc[i].re + pSrc[i].im * pSrc[i].im;
  return ippStsNoErr;
}

IppStatus ippsReal_64fc(const Ipp64fc* pSrc, Ipp64f* pDstRe, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pDstRe)) return st;
  for (int i = 0; i < len; ++i) pDstRe[i] = pSrc[i].re;
  return ippStsNoErr;
}

IppStatus ippsImag_64fc(const Ipp64fc* pSrc, Ipp64f* pDstIm, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrc, pDstIm)) return st;
  for (int i = 0; i < len; ++i) pDstIm[i] = pSrc[i].im;
  return ippStsNoErr;
}

IppStatus ippsRealToCplx_64f(const Ipp64f* pSrcRe, const Ipp64f* pSrcIm, Ipp64fc* pDst, int len) {
  if (IppStatus st = CheckLenPtrs(len, pDst)) return st;
  for (int i = 0; i < len; ++i) pDst[i] = {pSrcRe ? pSrcRe[i] : 0.0, pSrcIm ? pSrcIm[i] : 0.0};
  return ippStsNoErr;
}

IppStatus ippsRealToCplx_32f(const Ipp32f* pSrcRe, const Ipp32f* pSrcIm, Ipp32fc* pDst, int len) {
  if (IppStatus st = CheckLenPtrs(len, pDst)) return st;
  for (int i = 0; i < len; ++i) pDst[i] = {pSrcRe ? pSrcRe[i] : 0.0f, pSrcIm ? pSrcIm[i] : 0.0f};
  return ippStsNoErr;
}

IppStatus ippsConjCcs_64fc_I(Ipp64fc* pSrcDst, int lenDst) {
  if (IppStatus st = CheckLenPtrs(lenDst, pSrcDst)) return st;
  const int last = lenDst % 2 == 0 ? lenDst / 2 - 1 : (lenDst - 1) / 2;
  for (int k = 1; k <= last; ++k) pSrcDst[lenDst - k] = {pSrcDst[k].re, -pSrcDst[k].im};
  return ippStsNoErr;
}

IppStatus ippsCartToPolar_64f(const Ipp64f* pSrcRe, const Ipp64f* pSrcIm, Ipp64f* pDstMagn, Ipp64f* pDstPhase, int len) {
  if (IppStatus st = CheckLenPtrs(len, pSrcRe, pSrcIm, pDstMagn, pDstPhase)) return st;
  for (int i = 0; i < len; ++i) {
    pDstMagn[i] = _sqrt(pSrcRe[i] * pSrcRe[i] + pSrcIm[i] * pSrcIm[i]);
    pDstPhase[i] = _atan2(pSrcIm[i], pSrcRe[i]);
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
    pDstRe[i] = pSrcMagn[i] * _cos(pSrcPhase[i]);
    pDstIm[i] = pSrcMagn[i] * _sin(pSrcPhase[i]);
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

}  // namespace nx::reference
