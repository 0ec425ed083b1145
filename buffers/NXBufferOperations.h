// NXBufferOperations: what the buffer sources share, behind the one public
// header NXSimpleDataBuffer.h (users do not include this one): the checks of
// source buffers, the element-wise patterns (an operation with another
// buffer, a ...From operation), the access handles and element copies of the
// typed buffers, and the operations the real and the complex buffer have in
// common (correlation, thresholds, squares, roots, normalisation, the dot
// product), written once over the element type.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>

#include "buffers/NXSimpleDataBuffer.h"
#include "vector/NXBasicDispatcher.h"

namespace nx::bufferops {

// A new block for ACount items; the block is handed to a buffer constructor
// that takes its first reference.
inline TNXSmartBuffer* NewBlock(std::uint32_t ABytes) { return new TNXSmartMemoryBuffer(ABytes); }

inline std::uint32_t CountOf(std::size_t n) {
  if (n > 0xFFFFFFFFu) throw EIntOverflow();
  return static_cast<std::uint32_t>(n);
}

// The source object of a sharing constructor (no type query: the hot path of
// GetDataCopy runs through here).
inline TNXGenericBuffer* NotNil(TNXGenericBuffer* ASource) {
  if (!ASource) throw EArgumentException("A buffer is required, not nil");
  return ASource;
}

inline int Len(std::int32_t n) { return static_cast<int>(n); }
inline std::int32_t SizeOf(const TNXRealBuffer::TBuffer& b) { return b ? b->GetSize() : 0; }
inline const double* ReadOf(const TNXRealBuffer::TBuffer& b) {
  if (!b) throw EArgumentException("A source buffer is required");
  return b->Read();
}
// The sources of ThresholdFrom, Norm and AutoCorr are read for Self's whole
// size: a shorter source is refused rather than read beyond its end.
inline void RequireSize(const TNXRealBuffer::TBuffer& b, std::int32_t size) {
  if (!b) throw EArgumentException("A source buffer is required");
  if (b->GetSize() < size)
    RaiseRange("Source buffer too short = %u", static_cast<unsigned>(b->GetSize()));
}

inline IppCmpOp CmpOf(TNXThresholdType t) { return t == ttGreaterThan ? ippCmpGreater : ippCmpLess; }

// The complex buffer hands its TComplex arrays to the complex primitives.
static_assert(sizeof(TComplex) == sizeof(Ipp64fc) && offsetof(TComplex, Re) == offsetof(Ipp64fc, re) &&
                  offsetof(TComplex, Im) == offsetof(Ipp64fc, im),
              "TComplex must have the layout of Ipp64fc");


inline Ipp64fc* Cplx(TComplex* p) noexcept { return reinterpret_cast<Ipp64fc*>(p); }
inline const Ipp64fc* Cplx(const TComplex* p) noexcept { return reinterpret_cast<const Ipp64fc*>(p); }
inline Ipp64fc ToIpp(const TComplex& c) noexcept { return Ipp64fc{c.Re, c.Im}; }
// The elements of a 32-bit buffer as unsigned words (for the bitwise routines).
template <class T>
inline Ipp32u* Words(T* p) noexcept {
  return reinterpret_cast<Ipp32u*>(p);
}
template <class T>
inline const Ipp32u* Words(const T* p) noexcept {
  return reinterpret_cast<const Ipp32u*>(p);
}

// The element pointer of a source buffer (raises for a null interface).
template <class I>
inline auto SourceOf(const TIntfPtr<I>& b) {
  if (!b) throw EArgumentException("A source buffer is required");
  return static_cast<const std::remove_pointer_t<decltype(b->Read())>*>(b->Read());
}

// Sources read for Self's whole size must be at least that long.
template <class I>
inline void RequireSourceSize(const TIntfPtr<I>& b, std::int32_t size) {
  if (!b) throw EArgumentException("A source buffer is required");
  if (b->GetSize() < size) RaiseRange("Source buffer too short = %u", static_cast<unsigned>(b->GetSize()));
}

// An in-place operation with a second buffer over n elements: the source
// pointer first, then Self's modify access (which moves Self off a block it
// shares with the source and leaves the source pointer on the old samples).
template <class TSelf, class I, class F>
inline void WithOther(TSelf* self, const TIntfPtr<I>& AOther, F op) {
  const auto* src = SourceOf(AOther);
  const std::int32_t n = std::min(self->GetSize(), AOther->GetSize());
  op(src, self->Modify(), Len(n));
}

// The same for a ...From operation, which overwrites Self (write access).
template <class TSelf, class I, class F>
inline void FromOther(TSelf* self, const TIntfPtr<I>& ASource, F op) {
  const auto* src = SourceOf(ASource);
  const std::int32_t n = std::min(self->GetSize(), ASource->GetSize());
  op(src, self->Write(), Len(n));
}

// The access handle of a typed buffer: a writing accessor for a mode set
// with Write, else a reading one (the handle then hands out const data only).
template <class TAccess, class IAccess, class TSelf>
TIntfPtr<IAccess> MakeAccess(TSelf* self, TBufferAccessModes AModes) {
  typename TAccess::TDataLambda accessor;
  typename TAccess::TReadLambda reader;
  switch (AccessKindOf(AModes)) {
    case TBufferAccessKind::Modify:
      accessor = [self] { return self->Modify(); };
      break;
    case TBufferAccessKind::Write:
      accessor = [self] { return self->Write(); };
      break;
    case TBufferAccessKind::Read:
      reader = [self] { return self->Read(); };
      break;
  }
  return TIntfPtr<IAccess>(new TAccess(self, AModes, std::move(accessor), std::move(reader)));
}

// IsEqual of a typed buffer: the other object must be of the same class.
template <class C>
inline bool SameClass(const TIntfPtr<INXDataBuffer>& AOther) {
  return AOther && dynamic_cast<C*>(AOther->GetInstance()) != nullptr;
}

// CopyTo between two buffers of class C counts offsets and count in
// elements; false when the target is of another class (the byte form then).
template <class C>
bool CopyElements(C* self, std::int32_t ASourceOffset, const TIntfPtr<INXDataBuffer>& ATargetBuffer,
                  std::int32_t ATargetOffset, std::int32_t ACount) {
  auto* target = ATargetBuffer ? dynamic_cast<C*>(ATargetBuffer->GetInstance()) : nullptr;
  if (!target) return false;
  const std::int64_t item = self->ItemSize();
  const std::int64_t bytes = std::int64_t{ACount} * item;
  if (bytes > 0x7FFFFFFF) throw EIntOverflow();
  std::uint8_t* dst = target->ByteModify();  // the target first, as in the byte form
  ippsCopy_8u(self->ByteRead() + ASourceOffset * item, dst + ATargetOffset * item, static_cast<int>(bytes));
  return true;
}

template <class T>
bool AllEqual(const T* p, std::int32_t n, const T& value) {
  for (std::int32_t i = 0; i < n; ++i)
    if (!(p[i] == value)) return false;
  return true;
}

template <class T>
std::uint32_t ElementCount(std::span<const T> a) {
  return CountOf(a.size());
}

// ---------------------------------------------------------------- real and complex buffers

// The primitives of one floating element type, as TFloatOps calls them.
template <class T>
struct TFloatPrimitives;

template <>
struct TFloatPrimitives<double> {
  using TOffset = double;
  static void AutoCorr(const double* s, int sl, double* d, int dl, TNXAutoCorrType t) {
    switch (t) {
      case actBiased: ippsAutoCorr_NormA_64f(s, sl, d, dl); break;
      case actUnbiased: ippsAutoCorr_NormB_64f(s, sl, d, dl); break;
      default: ippsAutoCorr_64f(s, sl, d, dl); break;
    }
  }
  static void CrossCorr(const double* s1, int n1, const double* s2, int n2, double* d, int dl, int lo) {
    ippsCrossCorr_64f(s1, n1, s2, n2, d, dl, lo);
  }
  static void Sub_I(const double* s, double* d, int n) { ippsSub_64f_I(s, d, n); }
  static void Mul_I(const double* s, double* d, int n) { ippsMul_64f_I(s, d, n); }
  static void Threshold_I(double* d, int n, double t, IppCmpOp op) { ippsThreshold_64f_I(d, n, t, op); }
  static void Threshold(const double* s, double* d, int n, double t, IppCmpOp op) { ippsThreshold_64f(s, d, n, t, op); }
  static void Sqr_I(double* d, int n) { ippsSqr_64f_I(d, n); }
  static void Sqr(const double* s, double* d, int n) { ippsSqr_64f(s, d, n); }
  static void Sqrt_I(double* d, int n) { ippsSqrt_64f_I(d, n); }
  static void Sqrt(const double* s, double* d, int n) { ippsSqrt_64f(s, d, n); }
  static void Normalize(const double* s, double* d, int n, double off, double f) { ippsNormalize_64f(s, d, n, off, f); }
  static double Dot(const double* a, const double* b, int n) {
    double r = 0.0;
    ippsDotProd_64f(a, b, n, &r);
    return r;
  }
};

template <>
struct TFloatPrimitives<TComplex> {
  using TOffset = TComplex;
  static void AutoCorr(const TComplex* s, int sl, TComplex* d, int dl, TNXAutoCorrType t) {
    switch (t) {
      case actBiased: ippsAutoCorr_NormA_64fc(Cplx(s), sl, Cplx(d), dl); break;
      case actUnbiased: ippsAutoCorr_NormB_64fc(Cplx(s), sl, Cplx(d), dl); break;
      default: ippsAutoCorr_64fc(Cplx(s), sl, Cplx(d), dl); break;
    }
  }
  static void CrossCorr(const TComplex* s1, int n1, const TComplex* s2, int n2, TComplex* d, int dl, int lo) {
    ippsCrossCorr_64fc(Cplx(s1), n1, Cplx(s2), n2, Cplx(d), dl, lo);
  }
  static void Sub_I(const TComplex* s, TComplex* d, int n) { ippsSub_64fc_I(Cplx(s), Cplx(d), n); }
  static void Mul_I(const TComplex* s, TComplex* d, int n) { ippsMul_64fc_I(Cplx(s), Cplx(d), n); }
  // Thresholds on the magnitude.
  static void Threshold_I(TComplex* d, int n, double t, IppCmpOp op) { ippsThreshold_64fc_I(Cplx(d), n, t, op); }
  static void Threshold(const TComplex* s, TComplex* d, int n, double t, IppCmpOp op) {
    ippsThreshold_64fc(Cplx(s), Cplx(d), n, t, op);
  }
  static void Sqr_I(TComplex* d, int n) { ippsSqr_64fc_I(Cplx(d), n); }
  static void Sqr(const TComplex* s, TComplex* d, int n) { ippsSqr_64fc(Cplx(s), Cplx(d), n); }
  static void Sqrt_I(TComplex* d, int n) { ippsSqrt_64fc_I(Cplx(d), n); }
  static void Sqrt(const TComplex* s, TComplex* d, int n) { ippsSqrt_64fc(Cplx(s), Cplx(d), n); }
  static void Normalize(const TComplex* s, TComplex* d, int n, const TComplex& off, double f) {
    ippsNormalize_64fc(Cplx(s), Cplx(d), n, ToIpp(off), f);
  }
  static TComplex Dot(const TComplex* a, const TComplex* b, int n) {
    Ipp64fc r{0.0, 0.0};
    ippsDotProd_64fc(Cplx(a), Cplx(b), n, &r);
    return TComplex{r.re, r.im};
  }
};

// The operations of the real buffer (TSelf = TNXRealBuffer, T = double) and
// the complex buffer (TNXComplexBuffer, TComplex), written once. Source
// pointers are taken before Self's write access, so a source that shares
// Self's block (or is Self) is read from the old samples.
template <class TSelf, class T>
struct TFloatOps {
  using P = TFloatPrimitives<T>;
  using TBuffer = typename TSelf::TBuffer;

  static void Subtract(TSelf* self, const TBuffer& AOther) { WithOther(self, AOther, P::Sub_I); }
  static void Multiply(TSelf* self, const TBuffer& AOther) { WithOther(self, AOther, P::Mul_I); }
  static T Dot(const TSelf* self, const TBuffer& AOther) {
    const T* src = SourceOf(AOther);
    const std::int32_t n = std::min(self->GetSize(), AOther->GetSize());
    return P::Dot(self->Read(), src, Len(n));
  }
  static void NormalizeFrom(TSelf* self, const TBuffer& ASource, const typename P::TOffset& AOffset, double AFactor) {
    FromOther(self, ASource, [&](const T* s, T* d, int n) { P::Normalize(s, d, n, AOffset, AFactor); });
  }
  // Through a sharing copy: the write access gives Self a new block and the
  // copy keeps the old samples to read from.
  static void Normalize(TSelf* self, const typename P::TOffset& AOffset, double AFactor) {
    const TBuffer copy(new TSelf(self));
    NormalizeFrom(self, copy, AOffset, AFactor);
  }
  static void Threshold(TSelf* self, double AThreshold, TNXThresholdType AType) {
    P::Threshold_I(self->Modify(), Len(self->GetSize()), AThreshold, CmpOf(AType));
  }
  // The sources of ThresholdFrom and AutoCorr are read for Self's whole
  // size: a shorter source is refused rather than read beyond its end.
  static void ThresholdFrom(TSelf* self, const TBuffer& ASource, double AThreshold, TNXThresholdType AType) {
    RequireSourceSize(ASource, self->GetSize());
    const T* src = ASource->Read();
    P::Threshold(src, self->Write(), Len(self->GetSize()), AThreshold, CmpOf(AType));
  }
  static void Sqr(TSelf* self) { P::Sqr_I(self->Modify(), Len(self->GetSize())); }
  static void SqrFrom(TSelf* self, const TBuffer& ASource) { FromOther(self, ASource, P::Sqr); }
  static void Sqrt(TSelf* self) { P::Sqrt_I(self->Modify(), Len(self->GetSize())); }
  static void SqrtFrom(TSelf* self, const TBuffer& ASource) { FromOther(self, ASource, P::Sqrt); }
  static void AutoCorr(TSelf* self, const TBuffer& ASource, TNXAutoCorrType AType) {
    const std::int32_t size = self->GetSize();
    RequireSourceSize(ASource, size);
    const T* src = ASource->Read();
    const std::int32_t n = std::min(size, ASource->GetSize());
    P::AutoCorr(src, Len(size), self->Write(), Len(n), AType);
  }
  static void CrossCorr(TSelf* self, const TBuffer& ASource1, const TBuffer& ASource2, std::int32_t ALoLag) {
    const T* s1 = SourceOf(ASource1);
    const T* s2 = SourceOf(ASource2);
    P::CrossCorr(s1, Len(ASource1->GetSize()), s2, Len(ASource2->GetSize()), self->Write(), Len(self->GetSize()),
                 ALoLag);
  }
};

}  // namespace nx::bufferops
