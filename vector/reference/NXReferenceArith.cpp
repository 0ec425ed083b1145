// Scalar twins of the real arithmetic routines: one plain loop per primitive,
// with the same checks, statuses, shortcuts and special values as the
// built-in routines. Exp and Ln call the C library per element.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "vector/LibCDispatcher.h"
#include "vector/reference/NXReference.h"

namespace nx::reference {

namespace {

constexpr Ipp64f kNaN = std::numeric_limits<Ipp64f>::quiet_NaN();
constexpr Ipp64f kInf = std::numeric_limits<Ipp64f>::infinity();

template <typename T>
void CopyLoop(const T* src, T* dst, int len) {
  for (int i = 0; i < len; ++i) dst[i] = src[i];
}
template <typename T>
void ZeroLoop(T* dst, int len) {
  for (int i = 0; i < len; ++i) dst[i] = T(0);
}

IppStatus MulConst(const Ipp64f* pSrc, Ipp64f val, Ipp64f* pDst, int len) {
  if (val == 1.0) {
    CopyLoop(pSrc, pDst, len);
  } else if (val == 0.0) {
    ZeroLoop(pDst, len);
  } else {
    for (int i = 0; i < len; ++i) pDst[i] = pSrc[i] * val;
  }
  return ippStsNoErr;
}

template <typename T>
IppStatus MulConstInPlace(T val, T* pSrcDst, int len) {
  if (val == T(1)) return ippStsNoErr;
  if (val == T(0)) {
    ZeroLoop(pSrcDst, len);
  } else {
    for (int i = 0; i < len; ++i) pSrcDst[i] *= val;
  }
  return ippStsNoErr;
}

Ipp64f LnOne(Ipp64f x, IppStatus& status) {
  if (std::signbit(x)) {
    if (status == ippStsNoErr) status = ippStsLnNegArg;
    return kNaN;
  }
  if (x == 0.0) {
    if (status == ippStsNoErr) status = ippStsLnZeroArg;
    return -kInf;
  }
  return LibCDispatcher::_log(x);
}

}  // namespace

#define NX_CHECK1(a, len)                       \
  if ((a) == nullptr) return ippStsNullPtrErr; \
  if ((len) < 1) return ippStsSizeErr;
#define NX_CHECK2(a, b, len)                                     \
  if ((a) == nullptr || (b) == nullptr) return ippStsNullPtrErr; \
  if ((len) < 1) return ippStsSizeErr;
#define NX_CHECK3(a, b, c, len)                                                    \
  if ((a) == nullptr || (b) == nullptr || (c) == nullptr) return ippStsNullPtrErr; \
  if ((len) < 1) return ippStsSizeErr;

IppStatus ippsAdd_64f(const Ipp64f* pSrc1, const Ipp64f* pSrc2, Ipp64f* pDst, int len) {
  NX_CHECK3(pSrc1, pSrc2, pDst, len);
  for (int i = 0; i < len; ++i) pDst[i] = pSrc1[i] + pSrc2[i];
  return ippStsNoErr;
}

IppStatus ippsAdd_64f_I(const Ipp64f* pSrc, Ipp64f* pSrcDst, int len) {
  NX_CHECK2(pSrc, pSrcDst, len);
  for (int i = 0; i < len; ++i) pSrcDst[i] = pSrcDst[i] + pSrc[i];
  return ippStsNoErr;
}

IppStatus ippsSub_64f_I(const Ipp64f* pSrc, Ipp64f* pSrcDst, int len) {
  NX_CHECK2(pSrc, pSrcDst, len);
  for (int i = 0; i < len; ++i) pSrcDst[i] = pSrcDst[i] - pSrc[i];
  return ippStsNoErr;
}

IppStatus ippsSub_32f_I(const Ipp32f* pSrc, Ipp32f* pSrcDst, int len) {
  NX_CHECK2(pSrc, pSrcDst, len);
  for (int i = 0; i < len; ++i) pSrcDst[i] = pSrcDst[i] - pSrc[i];
  return ippStsNoErr;
}

IppStatus ippsMul_64f(const Ipp64f* pSrc1, const Ipp64f* pSrc2, Ipp64f* pDst, int len) {
  NX_CHECK3(pSrc1, pSrc2, pDst, len);
  for (int i = 0; i < len; ++i) pDst[i] = pSrc1[i] * pSrc2[i];
  return ippStsNoErr;
}

IppStatus ippsMul_64f_I(const Ipp64f* pSrc, Ipp64f* pSrcDst, int len) {
  NX_CHECK2(pSrc, pSrcDst, len);
  for (int i = 0; i < len; ++i) pSrcDst[i] = pSrcDst[i] * pSrc[i];
  return ippStsNoErr;
}

IppStatus ippsMul_32f(const Ipp32f* pSrc1, const Ipp32f* pSrc2, Ipp32f* pDst, int len) {
  NX_CHECK3(pSrc1, pSrc2, pDst, len);
  for (int i = 0; i < len; ++i) pDst[i] = pSrc1[i] * pSrc2[i];
  return ippStsNoErr;
}

IppStatus ippsMul_32f_I(const Ipp32f* pSrc, Ipp32f* pSrcDst, int len) {
  NX_CHECK2(pSrc, pSrcDst, len);
  for (int i = 0; i < len; ++i) pSrcDst[i] = pSrcDst[i] * pSrc[i];
  return ippStsNoErr;
}

IppStatus ippsDiv_64f_I(const Ipp64f* pSrc, Ipp64f* pSrcDst, int len) {
  NX_CHECK2(pSrc, pSrcDst, len);
  IppStatus status = ippStsNoErr;
  for (int i = 0; i < len; ++i) {
    const Ipp64f a = pSrcDst[i];
    const Ipp64f b = pSrc[i];
    if (b == 0.0) {
      status = ippStsDivByZero;
      pSrcDst[i] = a > 0.0 ? kInf : (a < 0.0 ? -kInf : kNaN);
    } else {
      pSrcDst[i] = a / b;
    }
  }
  return status;
}

IppStatus ippsAddC_64f(const Ipp64f* pSrc, Ipp64f val, Ipp64f* pDst, int len) {
  NX_CHECK2(pSrc, pDst, len);
  if (val == 0.0) {
    CopyLoop(pSrc, pDst, len);
  } else {
    for (int i = 0; i < len; ++i) pDst[i] = pSrc[i] + val;
  }
  return ippStsNoErr;
}

IppStatus ippsAddC_64f_I(Ipp64f val, Ipp64f* pSrcDst, int len) {
  NX_CHECK1(pSrcDst, len);
  for (int i = 0; i < len; ++i) pSrcDst[i] = pSrcDst[i] + val;
  return ippStsNoErr;
}

IppStatus ippsSubC_64f(const Ipp64f* pSrc, Ipp64f val, Ipp64f* pDst, int len) {
  NX_CHECK2(pSrc, pDst, len);
  if (val == 0.0) {
    CopyLoop(pSrc, pDst, len);
  } else {
    for (int i = 0; i < len; ++i) pDst[i] = pSrc[i] - val;
  }
  return ippStsNoErr;
}

IppStatus ippsSubC_64f_I(Ipp64f val, Ipp64f* pSrcDst, int len) {
  NX_CHECK1(pSrcDst, len);
  for (int i = 0; i < len; ++i) pSrcDst[i] = pSrcDst[i] - val;
  return ippStsNoErr;
}

IppStatus ippsSubCRev_64f(const Ipp64f* pSrc, Ipp64f val, Ipp64f* pDst, int len) {
  NX_CHECK2(pSrc, pDst, len);
  for (int i = 0; i < len; ++i) pDst[i] = val - pSrc[i];
  return ippStsNoErr;
}

IppStatus ippsSubCRev_64f_I(Ipp64f val, Ipp64f* pSrcDst, int len) {
  NX_CHECK1(pSrcDst, len);
  for (int i = 0; i < len; ++i) pSrcDst[i] = val - pSrcDst[i];
  return ippStsNoErr;
}

IppStatus ippsSubCRev_32f_I(Ipp32f val, Ipp32f* pSrcDst, int len) {
  NX_CHECK1(pSrcDst, len);
  for (int i = 0; i < len; ++i) pSrcDst[i] = val - pSrcDst[i];
  return ippStsNoErr;
}

IppStatus ippsMulC_64f(const Ipp64f* pSrc, Ipp64f val, Ipp64f* pDst, int len) {
  NX_CHECK2(pSrc, pDst, len);
  return MulConst(pSrc, val, pDst, len);
}

IppStatus ippsMulC_64f_I(Ipp64f val, Ipp64f* pSrcDst, int len) {
  NX_CHECK1(pSrcDst, len);
  return MulConstInPlace(val, pSrcDst, len);
}

IppStatus ippsMulC_32f_I(Ipp32f val, Ipp32f* pSrcDst, int len) {
  NX_CHECK1(pSrcDst, len);
  return MulConstInPlace(val, pSrcDst, len);
}

IppStatus ippsDivC_64f(const Ipp64f* pSrc, Ipp64f val, Ipp64f* pDst, int len) {
  NX_CHECK2(pSrc, pDst, len);
  if (val == 0.0) return ippStsDivByZeroErr;
  return MulConst(pSrc, 1.0 / val, pDst, len);
}

IppStatus ippsDivC_64f_I(Ipp64f val, Ipp64f* pSrcDst, int len) {
  NX_CHECK1(pSrcDst, len);
  if (val == 0.0) return ippStsDivByZeroErr;
  return MulConstInPlace(1.0 / val, pSrcDst, len);
}

IppStatus ippsAbs_64f(const Ipp64f* pSrc, Ipp64f* pDst, int len) {
  NX_CHECK2(pSrc, pDst, len);
  for (int i = 0; i < len; ++i) pDst[i] = std::fabs(pSrc[i]);
  return ippStsNoErr;
}

IppStatus ippsAbs_64f_I(Ipp64f* pSrcDst, int len) {
  NX_CHECK1(pSrcDst, len);
  for (int i = 0; i < len; ++i) pSrcDst[i] = std::fabs(pSrcDst[i]);
  return ippStsNoErr;
}

IppStatus ippsSqr_64f(const Ipp64f* pSrc, Ipp64f* pDst, int len) {
  NX_CHECK2(pSrc, pDst, len);
  for (int i = 0; i < len; ++i) pDst[i] = pSrc[i] * pSrc[i];
  return ippStsNoErr;
}

IppStatus ippsSqr_64f_I(Ipp64f* pSrcDst, int len) {
  NX_CHECK1(pSrcDst, len);
  for (int i = 0; i < len; ++i) pSrcDst[i] = pSrcDst[i] * pSrcDst[i];
  return ippStsNoErr;
}

IppStatus ippsSqrt_64f(const Ipp64f* pSrc, Ipp64f* pDst, int len) {
  NX_CHECK2(pSrc, pDst, len);
  IppStatus status = ippStsNoErr;
  for (int i = 0; i < len; ++i) {
    const Ipp64f x = pSrc[i];
    if (x < 0.0) {
      status = ippStsSqrtNegArg;
      pDst[i] = kNaN;
    } else {
      pDst[i] = LibCDispatcher::_sqrt(x);
    }
  }
  return status;
}

IppStatus ippsSqrt_64f_I(Ipp64f* pSrcDst, int len) { return ippsSqrt_64f(pSrcDst, pSrcDst, len); }

IppStatus ippsExp_64f(const Ipp64f* pSrc, Ipp64f* pDst, int len) {
  NX_CHECK2(pSrc, pDst, len);
  for (int i = 0; i < len; ++i) pDst[i] = LibCDispatcher::_exp(pSrc[i]);
  return ippStsNoErr;
}

IppStatus ippsExp_64f_I(Ipp64f* pSrcDst, int len) { return ippsExp_64f(pSrcDst, pSrcDst, len); }

IppStatus ippsLn_64f(const Ipp64f* pSrc, Ipp64f* pDst, int len) {
  NX_CHECK2(pSrc, pDst, len);
  IppStatus status = ippStsNoErr;
  for (int i = 0; i < len; ++i) pDst[i] = LnOne(pSrc[i], status);
  return status;
}

IppStatus ippsLn_64f_I(Ipp64f* pSrcDst, int len) { return ippsLn_64f(pSrcDst, pSrcDst, len); }

#undef NX_CHECK1
#undef NX_CHECK2
#undef NX_CHECK3

}  // namespace nx::reference
