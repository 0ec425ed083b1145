// Built-in routines of the integer family: scaled integer arithmetic (Sfs),
// bitwise operations, shifts and byte swapping, plus the package's own
// never-dispatched 32u group and the truncating DivC_32s routines.
//
// The bitwise ops, shifts, byte swaps and the 32s add/subtract family run on
// SIMD kernels (Google Highway, target chosen at run time); their scalar twins
// live in vector/reference/NXReferenceInteger.cpp. Everything else is scalar:
// the multiplications, divisions and dot products need 64/128-bit intermediates
// and exact rounding, where vector code brings little.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vector/builtin/NXBuiltinInteger.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>

// Scalar helpers shared by the kernels' remainder loops and the scalar
// routines; this file is included once per SIMD target, so guard them.
#ifndef NX_BUILTIN_INTEGER_SCALAR_HELPERS
#define NX_BUILTIN_INTEGER_SCALAR_HELPERS
namespace nx::builtin::integer_detail {

// The bitwise operations of BitOpKernel.
enum { kAnd = 0, kOr = 1, kXor = 2 };

// Multiplies r by 2^-sf with rounding to nearest, ties to even, and saturates
// to [Lo, Hi]. r must satisfy |r| <= 2^62 (every 8u/32s sum, difference and
// product does). A scale factor above 62 rounds every such r to 0; a negative
// one saturates first (a value already out of range stays out of range after
// the shift) and shifts by at most 31, which saturates every non-zero value of
// both element types.
template <std::int64_t Lo, std::int64_t Hi>
inline std::int64_t ScaleSat(std::int64_t r, int sf) {
  if (sf > 0) {
    if (sf > 62) return 0;
    r = (r + ((std::int64_t{1} << (sf - 1)) - 1) + ((r >> sf) & 1)) >> sf;
  } else if (sf < 0) {
    const int s = sf < -31 ? 31 : -sf;
    r = r < Lo ? Lo : (r > Hi ? Hi : r);
    r = static_cast<std::int64_t>(static_cast<std::uint64_t>(r) << s);
  }
  return r < Lo ? Lo : (r > Hi ? Hi : r);
}

inline std::int32_t Scale32s(std::int64_t r, int sf) {
  return static_cast<std::int32_t>(ScaleSat<INT32_MIN, INT32_MAX>(r, sf));
}

}  // namespace nx::builtin::integer_detail
#endif

HWY_BEFORE_NAMESPACE();
namespace nx::builtin {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// ---------------------------------------------------------------- bitwise
using integer_detail::kAnd;
using integer_detail::kOr;
using integer_detail::kXor;

template <int kOp, class V>
HWY_INLINE V BitVec(V a, V b) {
  if constexpr (kOp == kAnd) return hn::And(a, b);
  else if constexpr (kOp == kOr) return hn::Or(a, b);
  else return hn::Xor(a, b);
}
template <int kOp>
HWY_INLINE std::uint32_t BitOne(std::uint32_t a, std::uint32_t b) {
  if constexpr (kOp == kAnd) return a & b;
  else if constexpr (kOp == kOr) return a | b;
  else return a ^ b;
}

// dst[i] = a[i] op (b ? b[i] : c). dst may be a or b (in-place forms).
template <int kOp, bool kHasB>
HWY_INLINE void BitLoop(const std::uint32_t* a, const std::uint32_t* b, std::uint32_t c,
                        std::uint32_t* dst, std::size_t n) {
  const hn::ScalableTag<std::uint32_t> d;
  const std::size_t N = hn::Lanes(d);
  const auto vc = hn::Set(d, c);
  std::size_t i = 0;
  for (; i + 4 * N <= n; i += 4 * N) {
    const auto a0 = hn::LoadU(d, a + i);
    const auto a1 = hn::LoadU(d, a + i + N);
    const auto a2 = hn::LoadU(d, a + i + 2 * N);
    const auto a3 = hn::LoadU(d, a + i + 3 * N);
    const auto b0 = kHasB ? hn::LoadU(d, b + i) : vc;
    const auto b1 = kHasB ? hn::LoadU(d, b + i + N) : vc;
    const auto b2 = kHasB ? hn::LoadU(d, b + i + 2 * N) : vc;
    const auto b3 = kHasB ? hn::LoadU(d, b + i + 3 * N) : vc;
    hn::StoreU(BitVec<kOp>(a0, b0), d, dst + i);
    hn::StoreU(BitVec<kOp>(a1, b1), d, dst + i + N);
    hn::StoreU(BitVec<kOp>(a2, b2), d, dst + i + 2 * N);
    hn::StoreU(BitVec<kOp>(a3, b3), d, dst + i + 3 * N);
  }
  for (; i + N <= n; i += N) {
    const auto bv = kHasB ? hn::LoadU(d, b + i) : vc;
    hn::StoreU(BitVec<kOp>(hn::LoadU(d, a + i), bv), d, dst + i);
  }
  for (; i < n; ++i) dst[i] = BitOne<kOp>(a[i], kHasB ? b[i] : c);
}

void BitOpKernel(const std::uint32_t* a, const std::uint32_t* b, std::uint32_t c, std::uint32_t* dst,
                 std::size_t n, int op) {
  if (b) {
    if (op == kAnd) BitLoop<kAnd, true>(a, b, c, dst, n);
    else if (op == kOr) BitLoop<kOr, true>(a, b, c, dst, n);
    else BitLoop<kXor, true>(a, b, c, dst, n);
  } else {
    if (op == kAnd) BitLoop<kAnd, false>(a, b, c, dst, n);
    else if (op == kOr) BitLoop<kOr, false>(a, b, c, dst, n);
    else BitLoop<kXor, false>(a, b, c, dst, n);
  }
}

// ---------------------------------------------------------------- shifts
// Shift counts are 0..31 here; the callers deal with the others.
template <bool kLeft>
HWY_INLINE void ShiftLoop(const std::int32_t* src, std::int32_t* dst, std::size_t n, int count) {
  const hn::ScalableTag<std::int32_t> d;
  const std::size_t N = hn::Lanes(d);
  std::size_t i = 0;
  auto sh = [count](decltype(hn::Zero(d)) v) HWY_ATTR {
    return kLeft ? hn::ShiftLeftSame(v, count) : hn::ShiftRightSame(v, count);
  };
  for (; i + 4 * N <= n; i += 4 * N) {
    const auto v0 = hn::LoadU(d, src + i);
    const auto v1 = hn::LoadU(d, src + i + N);
    const auto v2 = hn::LoadU(d, src + i + 2 * N);
    const auto v3 = hn::LoadU(d, src + i + 3 * N);
    hn::StoreU(sh(v0), d, dst + i);
    hn::StoreU(sh(v1), d, dst + i + N);
    hn::StoreU(sh(v2), d, dst + i + 2 * N);
    hn::StoreU(sh(v3), d, dst + i + 3 * N);
  }
  for (; i + N <= n; i += N) hn::StoreU(sh(hn::LoadU(d, src + i)), d, dst + i);
  for (; i < n; ++i) {
    dst[i] = kLeft ? static_cast<std::int32_t>(static_cast<std::uint32_t>(src[i]) << count)
                   : (src[i] >> count);
  }
}

void ShiftKernel(const std::int32_t* src, std::int32_t* dst, std::size_t n, int count, bool left) {
  if (left) ShiftLoop<true>(src, dst, n, count);
  else ShiftLoop<false>(src, dst, n, count);
}

// ---------------------------------------------------------------- byte swaps
void Swap16Kernel(const std::uint16_t* src, std::uint16_t* dst, std::size_t n) {
  const hn::ScalableTag<std::uint16_t> d;
  const std::size_t N = hn::Lanes(d);
  std::size_t i = 0;
  for (; i + 2 * N <= n; i += 2 * N) {
    const auto v0 = hn::LoadU(d, src + i);
    const auto v1 = hn::LoadU(d, src + i + N);
    hn::StoreU(hn::Or(hn::ShiftLeft<8>(v0), hn::ShiftRight<8>(v0)), d, dst + i);
    hn::StoreU(hn::Or(hn::ShiftLeft<8>(v1), hn::ShiftRight<8>(v1)), d, dst + i + N);
  }
  for (; i + N <= n; i += N) {
    const auto v = hn::LoadU(d, src + i);
    hn::StoreU(hn::Or(hn::ShiftLeft<8>(v), hn::ShiftRight<8>(v)), d, dst + i);
  }
  for (; i < n; ++i) dst[i] = static_cast<std::uint16_t>((src[i] << 8) | (src[i] >> 8));
}

void Swap32Kernel(const std::uint32_t* src, std::uint32_t* dst, std::size_t n) {
#if HWY_TARGET == HWY_SCALAR
  for (std::size_t i = 0; i < n; ++i) dst[i] = __builtin_bswap32(src[i]);
#else
  const hn::ScalableTag<std::uint32_t> d;
  const hn::Repartition<std::uint8_t, decltype(d)> d8;
  const std::size_t N = hn::Lanes(d);
  alignas(16) static constexpr std::uint8_t kIdx[16] = {3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12};
  const auto idx = hn::LoadDup128(d8, kIdx);
  auto sw = [&](decltype(hn::Zero(d)) v) HWY_ATTR {
    return hn::BitCast(d, hn::TableLookupBytes(hn::BitCast(d8, v), idx));
  };
  std::size_t i = 0;
  for (; i + 4 * N <= n; i += 4 * N) {
    const auto v0 = hn::LoadU(d, src + i);
    const auto v1 = hn::LoadU(d, src + i + N);
    const auto v2 = hn::LoadU(d, src + i + 2 * N);
    const auto v3 = hn::LoadU(d, src + i + 3 * N);
    hn::StoreU(sw(v0), d, dst + i);
    hn::StoreU(sw(v1), d, dst + i + N);
    hn::StoreU(sw(v2), d, dst + i + 2 * N);
    hn::StoreU(sw(v3), d, dst + i + 3 * N);
  }
  for (; i + N <= n; i += N) hn::StoreU(sw(hn::LoadU(d, src + i)), d, dst + i);
  for (; i < n; ++i) dst[i] = __builtin_bswap32(src[i]);
#endif
}

// Reverses each 3-byte group. Each 128-bit block of a vector is made to hold
// four whole groups (16 source bytes starting at a group boundary) by a
// 32-bit lane permutation, a byte shuffle reverses the groups inside every
// block, and a second permutation packs the 12 useful bytes of each block
// together. A vector of B blocks thus yields 12*B bytes; the rest of the
// stored vector is the unchanged source bytes that follow, which the next
// step overwrites, so the stores never run past the data and src == dst
// works too.
void Swap24Kernel(const std::uint8_t* src, std::uint8_t* dst, std::size_t groups) {
  const std::size_t bytes = 3 * groups;
  std::size_t i = 0;
#if HWY_TARGET != HWY_SCALAR
  const hn::ScalableTag<std::uint32_t> d;
  const hn::Repartition<std::uint8_t, decltype(d)> d8;
  const std::size_t N8 = hn::Lanes(d8);
  const std::size_t words = hn::Lanes(d);
  const std::size_t blocks = N8 / 16;
  const std::size_t step = 12 * blocks;
  alignas(16) static constexpr std::uint8_t kGroups[16] = {2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 12, 13, 14, 15};
  const auto shuf = hn::LoadDup128(d8, kGroups);
  std::uint32_t spread[HWY_MAX_BYTES / 4], pack[HWY_MAX_BYTES / 4];
  for (std::size_t j = 0; j < words; ++j) {
    spread[j] = static_cast<std::uint32_t>(3 * (j / 4) + j % 4);
    pack[j] = static_cast<std::uint32_t>(j < 3 * blocks ? 4 * (j / 3) + j % 3 : j);
  }
  const auto spreadIdx = hn::SetTableIndices(d, reinterpret_cast<const std::int32_t*>(spread));
  const auto packIdx = hn::SetTableIndices(d, reinterpret_cast<const std::int32_t*>(pack));
  const auto useful = hn::FirstN(d, 3 * blocks);
  auto swap = [&](decltype(hn::Zero(d)) v) HWY_ATTR {
    auto t = blocks > 1 ? hn::TableLookupLanes(v, spreadIdx) : v;
    t = hn::BitCast(d, hn::TableLookupBytes(hn::BitCast(d8, t), shuf));
    if (blocks > 1) t = hn::IfThenElse(useful, hn::TableLookupLanes(t, packIdx), v);
    return t;
  };
  for (; i + step + N8 <= bytes; i += 2 * step) {
    const auto v0 = hn::BitCast(d, hn::LoadU(d8, src + i));
    const auto v1 = hn::BitCast(d, hn::LoadU(d8, src + i + step));
    const auto o0 = swap(v0);
    const auto o1 = swap(v1);
    hn::StoreU(hn::BitCast(d8, o0), d8, dst + i);
    hn::StoreU(hn::BitCast(d8, o1), d8, dst + i + step);
  }
  for (; i + N8 <= bytes; i += step) hn::StoreU(hn::BitCast(d8, swap(hn::BitCast(d, hn::LoadU(d8, src + i)))), d8, dst + i);
#endif
  for (; i < bytes; i += 3) {
    const std::uint8_t b0 = src[i], b2 = src[i + 2];
    dst[i] = b2;
    dst[i + 1] = src[i + 1];
    dst[i + 2] = b0;
  }
}

// ---------------------------------------------------------------- 32s add/sub
// r = (kNegA ? -a : a) + (kHasB ? b : c), formed exactly in 64-bit lanes,
// scaled (kMode 0: none, 1: rounding right shift by s, 2: left shift by s) and
// saturated to 32 bits.
template <bool kNegA, bool kHasB, int kMode>
HWY_INLINE void AddSubLoop(const std::int32_t* a, const std::int32_t* b, std::int64_t c, std::int32_t* dst,
                           std::size_t n, int s) {
  const hn::ScalableTag<std::int64_t> d64;
  const hn::RebindToUnsigned<decltype(d64)> du64;
  const hn::Rebind<std::int32_t, decltype(d64)> d32;
  const hn::Rebind<std::uint32_t, decltype(d64)> du32;
  const std::size_t N = hn::Lanes(d64);
  const auto vc = hn::Set(d64, c);
  const auto lo = hn::Set(d64, INT32_MIN);
  const auto hi = hn::Set(d64, INT32_MAX);
  const auto one = hn::Set(d64, 1);
  const auto bias = hn::Set(d64, kMode == 1 ? (std::int64_t{1} << (s - 1)) - 1 : 0);
  auto one_vec = [&](std::size_t j) HWY_ATTR {
    const auto va = hn::PromoteTo(d64, hn::LoadU(d32, a + j));
    const auto vb = kHasB ? hn::PromoteTo(d64, hn::LoadU(d32, b + j)) : vc;
    auto r = kNegA ? hn::Sub(vb, va) : hn::Add(va, vb);
    if constexpr (kMode == 1) {
      r = hn::ShiftRightSame(hn::Add(hn::Add(r, bias), hn::And(hn::ShiftRightSame(r, s), one)), s);
    } else if constexpr (kMode == 2) {
      r = hn::ShiftLeftSame(hn::Min(hn::Max(r, lo), hi), s);
    }
    r = hn::Min(hn::Max(r, lo), hi);
    return hn::BitCast(d32, hn::TruncateTo(du32, hn::BitCast(du64, r)));
  };
  std::size_t i = 0;
  for (; i + 2 * N <= n; i += 2 * N) {
    const auto r0 = one_vec(i);
    const auto r1 = one_vec(i + N);
    hn::StoreU(r0, d32, dst + i);
    hn::StoreU(r1, d32, dst + i + N);
  }
  for (; i + N <= n; i += N) hn::StoreU(one_vec(i), d32, dst + i);
  const int sf = kMode == 1 ? s : (kMode == 2 ? -s : 0);
  for (; i < n; ++i) {
    const std::int64_t va = a[i];
    const std::int64_t vb = kHasB ? b[i] : c;
    dst[i] = integer_detail::Scale32s(kNegA ? vb - va : va + vb, sf);
  }
}

template <bool kNegA, bool kHasB>
HWY_INLINE void AddSubMode(const std::int32_t* a, const std::int32_t* b, std::int64_t c, std::int32_t* dst,
                           std::size_t n, int sf) {
  if (sf == 0) AddSubLoop<kNegA, kHasB, 0>(a, b, c, dst, n, 0);
  else if (sf > 0) AddSubLoop<kNegA, kHasB, 1>(a, b, c, dst, n, sf);
  else AddSubLoop<kNegA, kHasB, 2>(a, b, c, dst, n, sf < -31 ? 31 : -sf);
}

// sf is 32 or below here (larger ones write zeros without reading).
void AddSub32sKernel(const std::int32_t* a, const std::int32_t* b, std::int64_t c, bool negA, std::int32_t* dst,
                     std::size_t n, int sf) {
  if (negA) {
    if (b) AddSubMode<true, true>(a, b, c, dst, n, sf);
    else AddSubMode<true, false>(a, b, c, dst, n, sf);
  } else {
    if (b) AddSubMode<false, true>(a, b, c, dst, n, sf);
    else AddSubMode<false, false>(a, b, c, dst, n, sf);
  }
}

void Zero32Kernel(std::int32_t* dst, std::size_t n) {
  const hn::ScalableTag<std::int32_t> d;
  const std::size_t N = hn::Lanes(d);
  const auto z = hn::Zero(d);
  std::size_t i = 0;
  for (; i + 2 * N <= n; i += 2 * N) {
    hn::StoreU(z, d, dst + i);
    hn::StoreU(z, d, dst + i + N);
  }
  for (; i < n; ++i) dst[i] = 0;
}

}  // namespace HWY_NAMESPACE
}  // namespace nx::builtin
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
#include "runtime/SysUtils.h"
#include "vector/NXBasicDispatcher.h"
#include "vector/builtin/NXBuiltins.h"

namespace nx::builtin {

HWY_EXPORT(BitOpKernel);
HWY_EXPORT(ShiftKernel);
HWY_EXPORT(Swap16Kernel);
HWY_EXPORT(Swap32Kernel);
HWY_EXPORT(Swap24Kernel);
HWY_EXPORT(AddSub32sKernel);
HWY_EXPORT(Zero32Kernel);

namespace {

using integer_detail::Scale32s;
using integer_detail::ScaleSat;

inline std::size_t Len(int len) { return static_cast<std::size_t>(len); }

inline std::uint8_t Scale8u(std::int64_t r, int sf) { return static_cast<std::uint8_t>(ScaleSat<0, 255>(r, sf)); }

IppStatus BitOp(const Ipp32u* a, const Ipp32u* b, Ipp32u c, Ipp32u* dst, int len, int op) {
  if (!a || !dst) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  HWY_DYNAMIC_DISPATCH(BitOpKernel)(a, b, c, dst, Len(len), op);
  return ippStsNoErr;
}

// The 32s add/subtract family; see AddSub32sKernel for the operands.
IppStatus AddSub32s(const Ipp32s* a, const Ipp32s* b, std::int64_t c, bool negA, Ipp32s* dst, int len, int sf) {
  if (!a || !dst) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  // Every exact sum or difference has magnitude at most 2^32, so scale
  // factors above 32 round every result to 0.
  if (sf > 32) HWY_DYNAMIC_DISPATCH(Zero32Kernel)(dst, Len(len));
  else HWY_DYNAMIC_DISPATCH(AddSub32sKernel)(a, b, c, negA, dst, Len(len), sf);
  return ippStsNoErr;
}

IppStatus LShift(const Ipp32s* src, int val, Ipp32s* dst, int len) {
  if (!src || !dst) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  if (val < 0) return ippStsShiftErr;
  if (val > 31) HWY_DYNAMIC_DISPATCH(Zero32Kernel)(dst, Len(len));
  else HWY_DYNAMIC_DISPATCH(ShiftKernel)(src, dst, Len(len), val, true);
  return ippStsNoErr;
}

IppStatus RShift(const Ipp32s* src, int val, Ipp32s* dst, int len) {
  if (!src || !dst) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  if (val < 0) return ippStsShiftErr;
  // An arithmetic shift by 31 already leaves only the sign.
  HWY_DYNAMIC_DISPATCH(ShiftKernel)(src, dst, Len(len), val > 31 ? 31 : val, false);
  return ippStsNoErr;
}

// Rounds num / den to nearest, ties to even (den != 0).
__int128 DivRoundEven(__int128 num, __int128 den) {
  const bool neg = (num < 0) != (den < 0);
  const unsigned __int128 un = num < 0 ? -static_cast<unsigned __int128>(num) : static_cast<unsigned __int128>(num);
  const unsigned __int128 ud = den < 0 ? -static_cast<unsigned __int128>(den) : static_cast<unsigned __int128>(den);
  unsigned __int128 q = un / ud;
  const unsigned __int128 rem = un % ud;
  if (2 * rem > ud || (2 * rem == ud && (q & 1))) ++q;
  return neg ? -static_cast<__int128>(q) : static_cast<__int128>(q);
}

// 128-bit form of the scaling rule, for the dot product's exact sum.
std::int32_t Scale32s128(__int128 r, int sf) {
  constexpr __int128 lo = INT32_MIN, hi = INT32_MAX;
  if (sf > 0) {
    r = (r + ((static_cast<__int128>(1) << (sf - 1)) - 1) + ((r >> sf) & 1)) >> sf;
  } else if (sf < 0) {
    r = r < lo ? lo : (r > hi ? hi : r);
    r *= static_cast<__int128>(1) << -sf;
  }
  return static_cast<std::int32_t>(r < lo ? lo : (r > hi ? hi : r));
}

}  // namespace

// ---------------------------------------------------------------- 8u, scaled
IppStatus ippsAdd_8u_ISfs(const Ipp8u* pSrc, Ipp8u* pSrcDst, int len, int scaleFactor) {
  if (!pSrc || !pSrcDst) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  for (int i = 0; i < len; ++i) pSrcDst[i] = Scale8u(std::int64_t{pSrcDst[i]} + pSrc[i], scaleFactor);
  return ippStsNoErr;
}

IppStatus ippsSub_8u_ISfs(const Ipp8u* pSrc, Ipp8u* pSrcDst, int len, int scaleFactor) {
  if (!pSrc || !pSrcDst) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  for (int i = 0; i < len; ++i) pSrcDst[i] = Scale8u(std::int64_t{pSrcDst[i]} - pSrc[i], scaleFactor);
  return ippStsNoErr;
}

IppStatus ippsMul_8u_ISfs(const Ipp8u* pSrc, Ipp8u* pSrcDst, int len, int scaleFactor) {
  if (!pSrc || !pSrcDst) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  for (int i = 0; i < len; ++i) pSrcDst[i] = Scale8u(std::int64_t{pSrcDst[i]} * pSrc[i], scaleFactor);
  return ippStsNoErr;
}

// ---------------------------------------------------------------- 32s, scaled
IppStatus ippsAdd_32s_ISfs(const Ipp32s* pSrc, Ipp32s* pSrcDst, int len, int scaleFactor) {
  if (!pSrcDst) return ippStsNullPtrErr;
  return AddSub32s(pSrc, pSrcDst, 0, false, pSrcDst, len, scaleFactor);
}

IppStatus ippsSub_32s_ISfs(const Ipp32s* pSrc, Ipp32s* pSrcDst, int len, int scaleFactor) {
  if (!pSrcDst) return ippStsNullPtrErr;
  return AddSub32s(pSrc, pSrcDst, 0, true, pSrcDst, len, scaleFactor);
}

IppStatus ippsAddC_32s_ISfs(Ipp32s val, Ipp32s* pSrcDst, int len, int scaleFactor) {
  return AddSub32s(pSrcDst, nullptr, val, false, pSrcDst, len, scaleFactor);
}

IppStatus ippsAddC_32s_Sfs(const Ipp32s* pSrc, Ipp32s val, Ipp32s* pDst, int len, int scaleFactor) {
  return AddSub32s(pSrc, nullptr, val, false, pDst, len, scaleFactor);
}

IppStatus ippsSubC_32s_ISfs(Ipp32s val, Ipp32s* pSrcDst, int len, int scaleFactor) {
  return AddSub32s(pSrcDst, nullptr, -std::int64_t{val}, false, pSrcDst, len, scaleFactor);
}

IppStatus ippsSubC_32s_Sfs(const Ipp32s* pSrc, Ipp32s val, Ipp32s* pDst, int len, int scaleFactor) {
  return AddSub32s(pSrc, nullptr, -std::int64_t{val}, false, pDst, len, scaleFactor);
}

IppStatus ippsSubCRev_32s_Sfs(const Ipp32s* pSrc, Ipp32s val, Ipp32s* pDst, int len, int scaleFactor) {
  return AddSub32s(pSrc, nullptr, val, true, pDst, len, scaleFactor);
}

IppStatus ippsSubCRev_32s_ISfs(Ipp32s val, Ipp32s* pSrcDst, int len, int scaleFactor) {
  return AddSub32s(pSrcDst, nullptr, val, true, pSrcDst, len, scaleFactor);
}

IppStatus ippsMul_32s_ISfs(const Ipp32s* pSrc, Ipp32s* pSrcDst, int len, int scaleFactor) {
  if (!pSrc || !pSrcDst) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  for (int i = 0; i < len; ++i) pSrcDst[i] = Scale32s(std::int64_t{pSrcDst[i]} * pSrc[i], scaleFactor);
  return ippStsNoErr;
}

IppStatus ippsMulC_32s_ISfs(Ipp32s val, Ipp32s* pSrcDst, int len, int scaleFactor) {
  if (!pSrcDst) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  for (int i = 0; i < len; ++i) pSrcDst[i] = Scale32s(std::int64_t{pSrcDst[i]} * val, scaleFactor);
  return ippStsNoErr;
}

IppStatus ippsMulC_32s_Sfs(const Ipp32s* pSrc, Ipp32s val, Ipp32s* pDst, int len, int scaleFactor) {
  if (!pSrc || !pDst) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  for (int i = 0; i < len; ++i) pDst[i] = Scale32s(std::int64_t{pSrc[i]} * val, scaleFactor);
  return ippStsNoErr;
}

// srcDst := srcDst / src, the exact quotient times 2^-scaleFactor rounded to
// nearest (ties to even) and saturated. A zero divisor gives 0 for a zero
// dividend, else the saturation value of the dividend's sign, and the warning
// ippStsDivByZero; the other elements are still computed.
IppStatus ippsDiv_32s_ISfs(const Ipp32s* pSrc, Ipp32s* pSrcDst, int len, int scaleFactor) {
  if (!pSrc || !pSrcDst) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  // |quotient| <= 2^31: beyond a shift of 32 everything rounds to 0, and a
  // left shift of 63 saturates every non-zero quotient (|a / b| >= 2^-31).
  const int sf = scaleFactor > 40 ? 40 : (scaleFactor < -63 ? -63 : scaleFactor);
  IppStatus status = ippStsNoErr;
  for (int i = 0; i < len; ++i) {
    const std::int32_t a = pSrcDst[i], b = pSrc[i];
    if (b == 0) {
      pSrcDst[i] = a == 0 ? 0 : (a > 0 ? INT32_MAX : INT32_MIN);
      status = ippStsDivByZero;
      continue;
    }
    __int128 num = a, den = b;
    if (sf > 0) den *= static_cast<__int128>(1) << sf;
    else if (sf < 0) num *= static_cast<__int128>(1) << -sf;
    const __int128 q = DivRoundEven(num, den);
    pSrcDst[i] = q > INT32_MAX ? INT32_MAX : (q < INT32_MIN ? INT32_MIN : static_cast<std::int32_t>(q));
  }
  return status;
}

// The sum of products is exact in 128 bits (|sum| <= 2^31 * 2^62).
IppStatus ippsDotProd_32s_Sfs(const Ipp32s* pSrc1, const Ipp32s* pSrc2, int len, Ipp32s* pDp, int scaleFactor) {
  if (!pSrc1 || !pSrc2 || !pDp) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  __int128 s0 = 0, s1 = 0;
  int i = 0;
  for (; i + 2 <= len; i += 2) {
    s0 += std::int64_t{pSrc1[i]} * pSrc2[i];
    s1 += std::int64_t{pSrc1[i + 1]} * pSrc2[i + 1];
  }
  for (; i < len; ++i) s0 += std::int64_t{pSrc1[i]} * pSrc2[i];
  const int sf = scaleFactor < -31 ? -31 : (scaleFactor > 93 ? 93 : scaleFactor);
  *pDp = Scale32s128(s0 + s1, sf);
  return ippStsNoErr;
}

// ---------------------------------------------------------------- bitwise and shifts
IppStatus ippsAnd_32u_I(const Ipp32u* pSrc, Ipp32u* pSrcDst, int len) {
  if (!pSrc) return ippStsNullPtrErr;
  return BitOp(pSrcDst, pSrc, 0, pSrcDst, len, integer_detail::kAnd);
}
IppStatus ippsAndC_32u(const Ipp32u* pSrc, Ipp32u val, Ipp32u* pDst, int len) {
  return BitOp(pSrc, nullptr, val, pDst, len, integer_detail::kAnd);
}
IppStatus ippsAndC_32u_I(Ipp32u val, Ipp32u* pSrcDst, int len) {
  return BitOp(pSrcDst, nullptr, val, pSrcDst, len, integer_detail::kAnd);
}
IppStatus ippsOr_32u_I(const Ipp32u* pSrc, Ipp32u* pSrcDst, int len) {
  if (!pSrc) return ippStsNullPtrErr;
  return BitOp(pSrcDst, pSrc, 0, pSrcDst, len, integer_detail::kOr);
}
IppStatus ippsOrC_32u(const Ipp32u* pSrc, Ipp32u val, Ipp32u* pDst, int len) {
  return BitOp(pSrc, nullptr, val, pDst, len, integer_detail::kOr);
}
IppStatus ippsOrC_32u_I(Ipp32u val, Ipp32u* pSrcDst, int len) {
  return BitOp(pSrcDst, nullptr, val, pSrcDst, len, integer_detail::kOr);
}
IppStatus ippsXor_32u_I(const Ipp32u* pSrc, Ipp32u* pSrcDst, int len) {
  if (!pSrc) return ippStsNullPtrErr;
  return BitOp(pSrcDst, pSrc, 0, pSrcDst, len, integer_detail::kXor);
}
IppStatus ippsXorC_32u(const Ipp32u* pSrc, Ipp32u val, Ipp32u* pDst, int len) {
  return BitOp(pSrc, nullptr, val, pDst, len, integer_detail::kXor);
}
IppStatus ippsXorC_32u_I(Ipp32u val, Ipp32u* pSrcDst, int len) {
  return BitOp(pSrcDst, nullptr, val, pSrcDst, len, integer_detail::kXor);
}

IppStatus ippsLShiftC_32s(const Ipp32s* pSrc, int val, Ipp32s* pDst, int len) { return LShift(pSrc, val, pDst, len); }
IppStatus ippsLShiftC_32s_I(int val, Ipp32s* pSrcDst, int len) { return LShift(pSrcDst, val, pSrcDst, len); }
IppStatus ippsRShiftC_32s(const Ipp32s* pSrc, int val, Ipp32s* pDst, int len) { return RShift(pSrc, val, pDst, len); }
IppStatus ippsRShiftC_32s_I(int val, Ipp32s* pSrcDst, int len) { return RShift(pSrcDst, val, pSrcDst, len); }

IppStatus ippsSwapBytes_16u(const Ipp16u* pSrc, Ipp16u* pDst, int len) {
  if (!pSrc || !pDst) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  HWY_DYNAMIC_DISPATCH(Swap16Kernel)(pSrc, pDst, Len(len));
  return ippStsNoErr;
}

// len counts 3-byte elements. pSrc == pDst is allowed; other overlaps are not.
IppStatus ippsSwapBytes_24u(const Ipp8u* pSrc, Ipp8u* pDst, int len) {
  if (!pSrc || !pDst) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  HWY_DYNAMIC_DISPATCH(Swap24Kernel)(pSrc, pDst, Len(len));
  return ippStsNoErr;
}

IppStatus ippsSwapBytes_32u(const Ipp32u* pSrc, Ipp32u* pDst, int len) {
  if (!pSrc || !pDst) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  HWY_DYNAMIC_DISPATCH(Swap32Kernel)(pSrc, pDst, Len(len));
  return ippStsNoErr;
}

IppStatus ippsSwapBytes_32u_I(Ipp32u* pSrcDst, int len) {
  if (!pSrcDst) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  HWY_DYNAMIC_DISPATCH(Swap32Kernel)(pSrcDst, pSrcDst, Len(len));
  return ippStsNoErr;
}

}  // namespace nx::builtin

// ---------------------------------------------------------------- the package's own routines
// The 32u group ignores its scale factor and works in plain unsigned 32-bit
// arithmetic. An overflowing element raises EIntOverflow and a zero divisor
// EDivByZero. The whole vector is checked before the first element is
// written, so a call that raises leaves the destination untouched, as a
// failing primitive does. A null pointer or a length below 1 returns the
// usual status (nothing is raised for them).
namespace nx::NXBasicDispatcher {

namespace {

inline IppStatus Check32u(const void* a, const void* b, int len) {
  if (!a || !b) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  return ippStsNoErr;
}

// Applies op element-wise after checking every element with ovf (true when
// the element would overflow).
template <class Ovf, class Op>
void Checked32u(const Ipp32u* src, Ipp32u* dst, int len, Ovf ovf, Op op) {
  bool bad = false;
  for (int i = 0; i < len; ++i) bad |= ovf(src[i], dst[i]);
  if (bad) throw EIntOverflow();
  for (int i = 0; i < len; ++i) dst[i] = op(src[i], dst[i]);
}

}  // namespace

IppStatus ippsAdd_32u_ISfs(const Ipp32u* pSrc, Ipp32u* pSrcDst, int len, int) {
  if (IppStatus st = Check32u(pSrc, pSrcDst, len)) return st;
  Checked32u(pSrc, pSrcDst, len, [](Ipp32u s, Ipp32u d) { return d + s < d; },
             [](Ipp32u s, Ipp32u d) { return d + s; });
  return ippStsNoErr;
}

IppStatus ippsSub_32u_ISfs(const Ipp32u* pSrc, Ipp32u* pSrcDst, int len, int) {
  if (IppStatus st = Check32u(pSrc, pSrcDst, len)) return st;
  Checked32u(pSrc, pSrcDst, len, [](Ipp32u s, Ipp32u d) { return s > d; },
             [](Ipp32u s, Ipp32u d) { return d - s; });
  return ippStsNoErr;
}

IppStatus ippsMul_32u_ISfs(const Ipp32u* pSrc, Ipp32u* pSrcDst, int len, int) {
  if (IppStatus st = Check32u(pSrc, pSrcDst, len)) return st;
  Checked32u(pSrc, pSrcDst, len, [](Ipp32u s, Ipp32u d) { return (std::uint64_t{d} * s) >> 32 != 0; },
             [](Ipp32u s, Ipp32u d) { return d * s; });
  return ippStsNoErr;
}

IppStatus ippsDiv_32u_ISfs(const Ipp32u* pSrc, Ipp32u* pSrcDst, int len, int) {
  if (IppStatus st = Check32u(pSrc, pSrcDst, len)) return st;
  for (int i = 0; i < len; ++i)
    if (pSrc[i] == 0) throw EDivByZero();
  for (int i = 0; i < len; ++i) pSrcDst[i] /= pSrc[i];
  return ippStsNoErr;
}

IppStatus ippsAddC_32u_ISfs(Ipp32u val, Ipp32u* pSrcDst, int len, int) {
  if (IppStatus st = Check32u(pSrcDst, pSrcDst, len)) return st;
  Ipp32u maxElem = 0;
  for (int i = 0; i < len; ++i) maxElem = pSrcDst[i] > maxElem ? pSrcDst[i] : maxElem;
  if (maxElem + val < maxElem) throw EIntOverflow();
  for (int i = 0; i < len; ++i) pSrcDst[i] += val;
  return ippStsNoErr;
}

IppStatus ippsSubC_32u_ISfs(Ipp32u val, Ipp32u* pSrcDst, int len, int) {
  if (IppStatus st = Check32u(pSrcDst, pSrcDst, len)) return st;
  Ipp32u minElem = UINT32_MAX;
  for (int i = 0; i < len; ++i) minElem = pSrcDst[i] < minElem ? pSrcDst[i] : minElem;
  if (val > minElem) throw EIntOverflow();
  for (int i = 0; i < len; ++i) pSrcDst[i] -= val;
  return ippStsNoErr;
}

IppStatus ippsMulC_32u_ISfs(Ipp32u val, Ipp32u* pSrcDst, int len, int) {
  if (IppStatus st = Check32u(pSrcDst, pSrcDst, len)) return st;
  Ipp32u maxElem = 0;
  for (int i = 0; i < len; ++i) maxElem = pSrcDst[i] > maxElem ? pSrcDst[i] : maxElem;
  if ((std::uint64_t{maxElem} * val) >> 32 != 0) throw EIntOverflow();
  for (int i = 0; i < len; ++i) pSrcDst[i] *= val;
  return ippStsNoErr;
}

IppStatus ippsDivC_32u_ISfs(Ipp32u val, Ipp32u* pSrcDst, int len, int) {
  if (IppStatus st = Check32u(pSrcDst, pSrcDst, len)) return st;
  if (val == 0) throw EDivByZero();
  for (int i = 0; i < len; ++i) pSrcDst[i] /= val;
  return ippStsNoErr;
}

IppStatus ippsDivC_32u_Sfs(const Ipp32u* pSrc, Ipp32u val, Ipp32u* pDst, int len, int) {
  if (IppStatus st = Check32u(pSrc, pDst, len)) return st;
  if (val == 0) throw EDivByZero();
  for (int i = 0; i < len; ++i) pDst[i] = pSrc[i] / val;
  return ippStsNoErr;
}

// The count is taken modulo 32 (as the processor's shift does), so a negative
// count shifts by its low five bits: -1 shifts by 31.
IppStatus ippsLShiftC_32u_I(int val, Ipp32u* pSrcDst, int len) {
  if (IppStatus st = Check32u(pSrcDst, pSrcDst, len)) return st;
  const unsigned s = static_cast<unsigned>(val) & 31u;
  for (int i = 0; i < len; ++i) pSrcDst[i] <<= s;
  return ippStsNoErr;
}

IppStatus ippsRShiftC_32u_I(int val, Ipp32u* pSrcDst, int len) {
  if (IppStatus st = Check32u(pSrcDst, pSrcDst, len)) return st;
  const unsigned s = static_cast<unsigned>(val) & 31u;
  for (int i = 0; i < len; ++i) pSrcDst[i] >>= s;
  return ippStsNoErr;
}

// Raises EIntOverflow when the exact sum of products does not fit in 32 bits;
// *pDp is then left as it was.
IppStatus ippsDotProd_32u_Sfs(const Ipp32u* pSrc1, const Ipp32u* pSrc2, int len, Ipp32u* pDp, int) {
  if (!pDp) return ippStsNullPtrErr;
  if (IppStatus st = Check32u(pSrc1, pSrc2, len)) return st;
  unsigned __int128 sum = 0;
  for (int i = 0; i < len; ++i) sum += std::uint64_t{pSrc1[i]} * pSrc2[i];
  if (sum > UINT32_MAX) throw EIntOverflow();
  *pDp = static_cast<Ipp32u>(sum);
  return ippStsNoErr;
}

// Truncating division by a constant; the scale factor is ignored and there is
// no status, so a null pointer or a length below 1 does nothing. A zero
// divisor raises EDivByZero and -2147483648 / -1 (whose quotient does not fit)
// raises EIntOverflow, both before anything is written.
namespace {
void DivC32s(const Ipp32s* src, Ipp32s val, Ipp32s* dst, int len) {
  if (!src || !dst || len < 1) return;
  if (val == 0) throw EDivByZero();
  if (val == -1) {
    for (int i = 0; i < len; ++i)
      if (src[i] == INT32_MIN) throw EIntOverflow();
  }
  for (int i = 0; i < len; ++i) dst[i] = src[i] / val;
}
}  // namespace

void ippsDivC_32s_ISfs(Ipp32s val, Ipp32s* pSrcDst, int len, int) { DivC32s(pSrcDst, val, pSrcDst, len); }

void ippsDivC_32s_Sfs(const Ipp32s* pSrc, Ipp32s val, Ipp32s* pDst, int len, int) { DivC32s(pSrc, val, pDst, len); }

}  // namespace nx::NXBasicDispatcher

// The scope dispatcher's ippsSubCRev_32s_ISfs is the routine defined above:
// nx::builtin holds one routine per name for all dispatchers.
#endif  // HWY_ONCE
