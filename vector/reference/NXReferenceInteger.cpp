// Scalar twins of the integer family's SIMD routines: the 32s add/subtract
// family with its scaling rule, the bitwise operations, the shifts and the
// byte swaps, each a plain loop with the same checks and statuses.
#include <cstdint>

#include "vector/reference/NXReference.h"

namespace nx::reference {

namespace {

// Exact r (|r| <= 2^33) times 2^-sf, rounded to nearest with ties to even,
// saturated to 32 bits.
std::int32_t Scale(std::int64_t r, int sf) {
  if (sf > 0) {
    if (sf > 62) {
      r = 0;
    } else {
      const std::int64_t half = std::int64_t{1} << (sf - 1);
      r = (r + half - 1 + ((r >> sf) & 1)) >> sf;
    }
  } else if (sf < 0) {
    // Shift one bit at a time, stopping once the value is out of range.
    for (int k = 0; k > sf && r != 0 && r >= INT32_MIN && r <= INT32_MAX; --k) r *= 2;
  }
  if (r > INT32_MAX) return INT32_MAX;
  if (r < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(r);
}

// dst[i] = scale(sa * a[i] + (b ? b[i] : c)), sa = -1 or +1.
IppStatus AddSub(const Ipp32s* a, const Ipp32s* b, std::int64_t c, int sa, Ipp32s* dst, int len, int sf) {
  if (!a || !dst) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  for (int i = 0; i < len; ++i) {
    const std::int64_t rb = b ? std::int64_t{b[i]} : c;
    dst[i] = Scale(sa * std::int64_t{a[i]} + rb, sf);
  }
  return ippStsNoErr;
}

enum class Bit { And, Or, Xor };

IppStatus BitOp(const Ipp32u* a, const Ipp32u* b, Ipp32u c, Ipp32u* dst, int len, Bit op) {
  if (!a || !dst) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  for (int i = 0; i < len; ++i) {
    const Ipp32u y = b ? b[i] : c;
    dst[i] = op == Bit::And ? (a[i] & y) : (op == Bit::Or ? (a[i] | y) : (a[i] ^ y));
  }
  return ippStsNoErr;
}

IppStatus LShift(const Ipp32s* src, int val, Ipp32s* dst, int len) {
  if (!src || !dst) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  if (val < 0) return ippStsShiftErr;
  for (int i = 0; i < len; ++i)
    dst[i] = val > 31 ? 0 : static_cast<Ipp32s>(static_cast<Ipp32u>(src[i]) << val);
  return ippStsNoErr;
}

IppStatus RShift(const Ipp32s* src, int val, Ipp32s* dst, int len) {
  if (!src || !dst) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  if (val < 0) return ippStsShiftErr;
  const int s = val > 31 ? 31 : val;
  for (int i = 0; i < len; ++i) dst[i] = src[i] >> s;
  return ippStsNoErr;
}

}  // namespace

IppStatus ippsAdd_32s_ISfs(const Ipp32s* pSrc, Ipp32s* pSrcDst, int len, int scaleFactor) {
  if (!pSrc || !pSrcDst) return ippStsNullPtrErr;
  return AddSub(pSrc, pSrcDst, 0, 1, pSrcDst, len, scaleFactor);
}
IppStatus ippsSub_32s_ISfs(const Ipp32s* pSrc, Ipp32s* pSrcDst, int len, int scaleFactor) {
  if (!pSrc || !pSrcDst) return ippStsNullPtrErr;
  return AddSub(pSrc, pSrcDst, 0, -1, pSrcDst, len, scaleFactor);
}
IppStatus ippsAddC_32s_ISfs(Ipp32s val, Ipp32s* pSrcDst, int len, int scaleFactor) {
  return AddSub(pSrcDst, nullptr, val, 1, pSrcDst, len, scaleFactor);
}
IppStatus ippsAddC_32s_Sfs(const Ipp32s* pSrc, Ipp32s val, Ipp32s* pDst, int len, int scaleFactor) {
  return AddSub(pSrc, nullptr, val, 1, pDst, len, scaleFactor);
}
IppStatus ippsSubC_32s_ISfs(Ipp32s val, Ipp32s* pSrcDst, int len, int scaleFactor) {
  return AddSub(pSrcDst, nullptr, -std::int64_t{val}, 1, pSrcDst, len, scaleFactor);
}
IppStatus ippsSubC_32s_Sfs(const Ipp32s* pSrc, Ipp32s val, Ipp32s* pDst, int len, int scaleFactor) {
  return AddSub(pSrc, nullptr, -std::int64_t{val}, 1, pDst, len, scaleFactor);
}
IppStatus ippsSubCRev_32s_Sfs(const Ipp32s* pSrc, Ipp32s val, Ipp32s* pDst, int len, int scaleFactor) {
  return AddSub(pSrc, nullptr, val, -1, pDst, len, scaleFactor);
}
IppStatus ippsSubCRev_32s_ISfs(Ipp32s val, Ipp32s* pSrcDst, int len, int scaleFactor) {
  return AddSub(pSrcDst, nullptr, val, -1, pSrcDst, len, scaleFactor);
}

IppStatus ippsAnd_32u_I(const Ipp32u* pSrc, Ipp32u* pSrcDst, int len) {
  if (!pSrc) return ippStsNullPtrErr;
  return BitOp(pSrcDst, pSrc, 0, pSrcDst, len, Bit::And);
}
IppStatus ippsAndC_32u(const Ipp32u* pSrc, Ipp32u val, Ipp32u* pDst, int len) {
  return BitOp(pSrc, nullptr, val, pDst, len, Bit::And);
}
IppStatus ippsAndC_32u_I(Ipp32u val, Ipp32u* pSrcDst, int len) {
  return BitOp(pSrcDst, nullptr, val, pSrcDst, len, Bit::And);
}
IppStatus ippsOr_32u_I(const Ipp32u* pSrc, Ipp32u* pSrcDst, int len) {
  if (!pSrc) return ippStsNullPtrErr;
  return BitOp(pSrcDst, pSrc, 0, pSrcDst, len, Bit::Or);
}
IppStatus ippsOrC_32u(const Ipp32u* pSrc, Ipp32u val, Ipp32u* pDst, int len) {
  return BitOp(pSrc, nullptr, val, pDst, len, Bit::Or);
}
IppStatus ippsOrC_32u_I(Ipp32u val, Ipp32u* pSrcDst, int len) {
  return BitOp(pSrcDst, nullptr, val, pSrcDst, len, Bit::Or);
}
IppStatus ippsXor_32u_I(const Ipp32u* pSrc, Ipp32u* pSrcDst, int len) {
  if (!pSrc) return ippStsNullPtrErr;
  return BitOp(pSrcDst, pSrc, 0, pSrcDst, len, Bit::Xor);
}
IppStatus ippsXorC_32u(const Ipp32u* pSrc, Ipp32u val, Ipp32u* pDst, int len) {
  return BitOp(pSrc, nullptr, val, pDst, len, Bit::Xor);
}
IppStatus ippsXorC_32u_I(Ipp32u val, Ipp32u* pSrcDst, int len) {
  return BitOp(pSrcDst, nullptr, val, pSrcDst, len, Bit::Xor);
}

IppStatus ippsLShiftC_32s(const Ipp32s* pSrc, int val, Ipp32s* pDst, int len) { return LShift(pSrc, val, pDst, len); }
IppStatus ippsLShiftC_32s_I(int val, Ipp32s* pSrcDst, int len) { return LShift(pSrcDst, val, pSrcDst, len); }
IppStatus ippsRShiftC_32s(const Ipp32s* pSrc, int val, Ipp32s* pDst, int len) { return RShift(pSrc, val, pDst, len); }
IppStatus ippsRShiftC_32s_I(int val, Ipp32s* pSrcDst, int len) { return RShift(pSrcDst, val, pSrcDst, len); }

IppStatus ippsSwapBytes_16u(const Ipp16u* pSrc, Ipp16u* pDst, int len) {
  if (!pSrc || !pDst) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  for (int i = 0; i < len; ++i) pDst[i] = static_cast<Ipp16u>((pSrc[i] >> 8) | ((pSrc[i] & 0xFF) << 8));
  return ippStsNoErr;
}

IppStatus ippsSwapBytes_24u(const Ipp8u* pSrc, Ipp8u* pDst, int len) {
  if (!pSrc || !pDst) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  for (int i = 0; i < len; ++i) {
    const Ipp8u b0 = pSrc[3 * i], b1 = pSrc[3 * i + 1], b2 = pSrc[3 * i + 2];
    pDst[3 * i] = b2;
    pDst[3 * i + 1] = b1;
    pDst[3 * i + 2] = b0;
  }
  return ippStsNoErr;
}

IppStatus ippsSwapBytes_32u(const Ipp32u* pSrc, Ipp32u* pDst, int len) {
  if (!pSrc || !pDst) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  for (int i = 0; i < len; ++i) {
    const Ipp32u v = pSrc[i];
    pDst[i] = (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
  }
  return ippStsNoErr;
}

IppStatus ippsSwapBytes_32u_I(Ipp32u* pSrcDst, int len) { return ippsSwapBytes_32u(pSrcDst, pSrcDst, len); }

}  // namespace nx::reference
