// Scalar twins of the Filters family: correlation, convolution, FIR and IIR
// written straight from their defining sums and recurrences, with the same
// checks and statuses as the built-in routines.
#include <algorithm>
#include <climits>
#include <cstdint>

#include "vector/NXBasicDispatcher.h"
#include "vector/reference/NXReference.h"

namespace nx::reference {
namespace {

constexpr Ipp32u kFIRId = 0x46493133;
constexpr Ipp32u kFIRMultiId = 0x46493135;
constexpr Ipp32u kIIRId = 0x49493133;
constexpr Ipp32u kIIRBiQuadId = 0x49493134;

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

// conj(a) * b accumulated into s (a plain product for real data).
inline void AddConjProd(Ipp64f& s, Ipp64f a, Ipp64f b) { s += a * b; }
inline void AddConjProd(Ipp64fc& s, Ipp64fc a, Ipp64fc b) {
  s.re += a.re * b.re + a.im * b.im;
  s.im += a.re * b.im - a.im * b.re;
}

// dst[n] = sum_m conj(s1[m]) s2[m + n + lag], terms outside either source omitted.
template <typename T>
void CrossSums(const T* s1, int64_t n1, const T* s2, int64_t n2, T* dst, int64_t dstLen, int64_t lag) {
  for (int64_t n = 0; n < dstLen; ++n) {
    T s{};
    for (int64_t m = 0; m < n1; ++m) {
      const int64_t k = m + n + lag;
      if (k >= 0 && k < n2) AddConjProd(s, s1[m], s2[k]);
    }
    dst[n] = s;
  }
}

enum class TNorm { None, A, B };

template <typename T>
IppStatus AutoCorr(const T* pSrc, int srcLen, T* pDst, int dstLen, TNorm norm) {
  if (pSrc == nullptr || pDst == nullptr) return ippStsNullPtrErr;
  if (srcLen < 1 || dstLen < 1) return ippStsSizeErr;
  const int64_t K = std::min(srcLen, dstLen);
  const bool overlap = Overlaps(pDst, dstLen, pSrc, srcLen);
  T* work = nullptr;
  if (overlap && (work = AllocElems<T>(K)) == nullptr) return ippStsMemAllocErr;
  T* out = overlap ? work : pDst;
  CrossSums(pSrc, srcLen, pSrc, srcLen, out, K, 0);
  for (int64_t k = 0; k < K; ++k) {
    if (norm == TNorm::A) {
      const double f = 1.0 / srcLen;
      if constexpr (sizeof(T) == sizeof(Ipp64fc)) {
        out[k].re *= f;
        out[k].im *= f;
      } else {
        out[k] *= f;
      }
    } else if (norm == TNorm::B) {
      const double f = static_cast<double>(srcLen - k);
      if constexpr (sizeof(T) == sizeof(Ipp64fc)) {
        out[k].re /= f;
        out[k].im /= f;
      } else {
        out[k] /= f;
      }
    }
  }
  if (overlap) std::copy(out, out + K, pDst);
  std::fill(pDst + K, pDst + dstLen, T{});
  _ippFree(work);
  return ippStsNoErr;
}

template <typename T>
IppStatus CrossCorr(const T* pSrc1, int src1Len, const T* pSrc2, int src2Len, T* pDst, int dstLen,
                    int lowLag) {
  if (pSrc1 == nullptr || pSrc2 == nullptr || pDst == nullptr) return ippStsNullPtrErr;
  if (src1Len < 1 || src2Len < 1 || dstLen < 1) return ippStsSizeErr;
  const bool overlap = Overlaps(pDst, dstLen, pSrc1, src1Len) || Overlaps(pDst, dstLen, pSrc2, src2Len);
  T* work = nullptr;
  if (overlap && (work = AllocElems<T>(dstLen)) == nullptr) return ippStsMemAllocErr;
  T* out = overlap ? work : pDst;
  CrossSums(pSrc1, src1Len, pSrc2, src2Len, out, dstLen, lowLag);
  if (overlap) std::copy(out, out + dstLen, pDst);
  _ippFree(work);
  return ippStsNoErr;
}

struct TFIRState {
  Ipp32u Id;
  Ipp32s TapsLen;
  Ipp64f* Taps;     // reversed
  Ipp64f* DlyLine;  // the last tapsLen inputs, oldest first
  Ipp64f* Next;     // the next delay line, taken before an in-place call overwrites the input
};

struct TIIRState {
  Ipp32u Id;
  Ipp32s Order;
  Ipp64f* Coeffs;
  Ipp64f* DlyLine;
};

}  // namespace

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
IppStatus ippsCrossCorr_64fc(const Ipp64fc* pSrc1, int src1Len, const Ipp64fc* pSrc2, int src2Len,
                             Ipp64fc* pDst, int dstLen, int lowLag) {
  return CrossCorr(pSrc1, src1Len, pSrc2, src2Len, pDst, dstLen, lowLag);
}

IppStatus ippsConv_64f(const Ipp64f* pSrc1, int src1Len, const Ipp64f* pSrc2, int src2Len,
                       Ipp64f* pDst) {
  if (pSrc1 == nullptr || pSrc2 == nullptr || pDst == nullptr) return ippStsNullPtrErr;
  if (src1Len < 1 || src2Len < 1) return ippStsSizeErr;
  const Ipp64f* a = pSrc1;
  const Ipp64f* b = pSrc2;
  int64_t N = src1Len, M = src2Len;
  if (N < M) {
    std::swap(a, b);
    std::swap(N, M);
  }
  const int64_t total = N + M - 1;
  const bool overlap = Overlaps(pDst, total, a, N) || Overlaps(pDst, total, b, M);
  Ipp64f* work = nullptr;
  if (overlap && (work = AllocElems<Ipp64f>(total)) == nullptr) return ippStsMemAllocErr;
  Ipp64f* out = overlap ? work : pDst;
  for (int64_t n = 0; n < total; ++n) {
    Ipp64f s = 0.0;
    for (int64_t k = 0; k < M; ++k)
      if (n - k >= 0 && n - k < N) s += b[k] * a[n - k];
    out[n] = s;
  }
  if (overlap) std::copy(out, out + total, pDst);
  _ippFree(work);
  return ippStsNoErr;
}

IppStatus ippsFIRInitAlloc_64f(IppsFIRState_64f** ppState, const Ipp64f* pTaps, int tapsLen,
                               const Ipp64f* pDlyLine) {
  if (ppState == nullptr || pTaps == nullptr) return ippStsNullPtrErr;
  if (tapsLen < 1) return ippStsFIRLenErr;
  const int64_t M = tapsLen;
  const int64_t bytes = 32 + 3 * 8 * M;
  if (bytes > INT_MAX) return ippStsMemAllocErr;
  auto* raw = static_cast<Ipp8u*>(_ippMalloc(static_cast<Ipp32s>(bytes)));
  if (raw == nullptr) return ippStsMemAllocErr;
  auto* st = reinterpret_cast<TFIRState*>(raw);
  st->Id = kFIRId;
  st->TapsLen = tapsLen;
  st->Taps = reinterpret_cast<Ipp64f*>(raw + 32);
  st->DlyLine = st->Taps + M;
  st->Next = st->DlyLine + M;
  for (int64_t k = 0; k < M; ++k) st->Taps[k] = pTaps[M - 1 - k];
  for (int64_t k = 0; k < M; ++k) st->DlyLine[k] = pDlyLine != nullptr ? pDlyLine[k] : 0.0;
  *ppState = reinterpret_cast<IppsFIRState_64f*>(st);
  return ippStsNoErr;
}

IppStatus ippsFIR_64f(const Ipp64f* pSrc, Ipp64f* pDst, int numIters, IppsFIRState_64f* pState) {
  if (pSrc == nullptr || pDst == nullptr || pState == nullptr) return ippStsNullPtrErr;
  if (numIters < 1) return ippStsSizeErr;
  auto* st = reinterpret_cast<TFIRState*>(pState);
  if (st->Id != kFIRId && st->Id != kFIRMultiId) return ippStsContextMatchErr;
  const int64_t M = st->TapsLen, N = numIters;
  // Input sample i of the extended signal: i < 0 from the delay line.
  const auto x = [&](int64_t i) { return i < 0 ? st->DlyLine[M + i] : pSrc[i]; };
  for (int64_t k = 0; k < M; ++k) st->Next[k] = x(N - M + k);
  // Outputs from the top down, so that an in-place call reads only inputs it
  // has not yet replaced.
  const Ipp64f* taps = st->Taps;
  for (int64_t n = N - 1; n >= 0; --n) {
    Ipp64f s = 0.0;
    if (n >= M - 1) {
      const Ipp64f* xs = pSrc + n - (M - 1);
      for (int64_t j = 0; j < M; ++j) s += taps[j] * xs[j];
    } else {
      for (int64_t j = 0; j < M; ++j) s += taps[j] * x(n - (M - 1) + j);
    }
    pDst[n] = s;
  }
  std::copy(st->Next, st->Next + M, st->DlyLine);
  return ippStsNoErr;
}

IppStatus ippsFIRFree_64f(IppsFIRState_64f* pState) {
  if (pState == nullptr) return ippStsNullPtrErr;
  auto* st = reinterpret_cast<TFIRState*>(pState);
  if (st->Id != kFIRId && st->Id != kFIRMultiId) return ippStsContextMatchErr;
  st->Id = 0;
  _ippFree(st);
  return ippStsNoErr;
}

namespace {

TIIRState* NewIIRState(Ipp32u id, int order, int64_t nCoeffs, int64_t nDly) {
  const int64_t bytes = 32 + 8 * (nCoeffs + std::max<int64_t>(nDly, 1));
  if (bytes > INT_MAX) return nullptr;
  auto* raw = static_cast<Ipp8u*>(_ippMalloc(static_cast<Ipp32s>(bytes)));
  if (raw == nullptr) return nullptr;
  auto* st = reinterpret_cast<TIIRState*>(raw);
  st->Id = id;
  st->Order = order;
  st->Coeffs = reinterpret_cast<Ipp64f*>(raw + 32);
  st->DlyLine = st->Coeffs + nCoeffs;
  return st;
}

}  // namespace

IppStatus ippsIIRInitAlloc_64f(IppsIIRState_64f** ppState, const Ipp64f* pTaps, int order,
                               const Ipp64f* pDlyLine) {
  if (ppState == nullptr || pTaps == nullptr) return ippStsNullPtrErr;
  if (order < 0) return ippStsIIROrderErr;
  const int64_t N = order;
  const Ipp64f a0 = pTaps[N + 1];
  if (a0 == 0.0) return ippStsDivByZeroErr;
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
  TIIRState* st = NewIIRState(kIIRBiQuadId, numBq, 5 * Q, 2 * Q);
  if (st == nullptr) return ippStsMemAllocErr;
  for (int64_t s = 0; s < Q; ++s) {
    const Ipp64f* t = pTaps + 6 * s;
    Ipp64f* c = st->Coeffs + 5 * s;
    c[0] = t[0] / t[3];
    c[1] = t[1] / t[3];
    c[2] = t[2] / t[3];
    c[3] = t[4] / t[3];
    c[4] = t[5] / t[3];
  }
  for (int64_t i = 0; i < 2 * Q; ++i) st->DlyLine[i] = pDlyLine != nullptr ? pDlyLine[i] : 0.0;
  *ppState = reinterpret_cast<IppsIIRState_64f*>(st);
  return ippStsNoErr;
}

IppStatus ippsIIR_64f(const Ipp64f* pSrc, Ipp64f* pDst, int len, IppsIIRState_64f* pState) {
  if (pSrc == nullptr || pDst == nullptr || pState == nullptr) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  auto* st = reinterpret_cast<TIIRState*>(pState);
  const int64_t N = st->Order;
  Ipp64f* dl = st->DlyLine;
  if (st->Id == kIIRBiQuadId) {
    for (int64_t n = 0; n < len; ++n) {
      Ipp64f x = pSrc[n];
      for (int64_t s = 0; s < N; ++s) {
        const Ipp64f* c = st->Coeffs + 5 * s;
        Ipp64f* d = dl + 2 * s;
        const Ipp64f y = c[0] * x + d[0];
        d[0] = c[1] * x + d[1] - c[3] * y;
        d[1] = c[2] * x - c[4] * y;
        x = y;
      }
      pDst[n] = x;
    }
    return ippStsNoErr;
  }
  if (st->Id != kIIRId) return ippStsContextMatchErr;
  const Ipp64f* b = st->Coeffs;
  const Ipp64f* a = st->Coeffs + N + 1;
  for (int64_t n = 0; n < len; ++n) {
    const Ipp64f x = pSrc[n];
    if (N == 0) {
      pDst[n] = b[0] * x;
      continue;
    }
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

}  // namespace nx::reference
