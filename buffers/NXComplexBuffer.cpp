// NXComplexBuffer: the buffer of complex numbers; the operations it shares
// with the real buffer come from NXBufferOperations.h.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "buffers/NXBufferOperations.h"
#include "buffers/NXSimpleDataBuffer.h"
#include "vector/NXBasicDispatcher.h"

namespace nx {

using namespace bufferops;
using TOps = TFloatOps<TNXComplexBuffer, TComplex>;

// ---------------------------------------------------------------- TNXComplexBuffer

TNXComplexBuffer::TNXComplexBuffer() : TNXLinearMemoryBuffer(0u, static_cast<std::uint32_t>(sizeof(TComplex))) {}

TNXComplexBuffer::TNXComplexBuffer(std::uint32_t ASize)
    : TNXLinearMemoryBuffer(ASize, static_cast<std::uint32_t>(sizeof(TComplex))) {}

TNXComplexBuffer::TNXComplexBuffer(const TComplex* AData, std::uint32_t ASize) : TNXComplexBuffer(ASize) {
  // 2 x Size doubles (the element count is below 2^28, so this fits an int).
  if (AData && ASize > 0)
    ippsCopy_64f(reinterpret_cast<const double*>(AData), Items<double>(), static_cast<int>(2 * ASize));
}

TNXComplexBuffer::TNXComplexBuffer(TValueInit, double ARe, double AIm, std::uint32_t ASize)
    : TNXComplexBuffer(TValueInit{}, TComplex{ARe, AIm}, ASize) {}

TNXComplexBuffer::TNXComplexBuffer(TValueInit, const TComplex& AValue, std::uint32_t ASize) : TNXComplexBuffer(ASize) {
  if (ASize > 0) ippsSet_64fc(ToIpp(AValue), Cplx(Items<TComplex>()), static_cast<int>(ASize));
}

TNXComplexBuffer::TNXComplexBuffer(std::span<const TComplex> AArray)
    : TNXComplexBuffer(AArray.data(), ElementCount(AArray)) {}

TNXComplexBuffer::TNXComplexBuffer(const std::vector<TComplex>& AList)
    : TNXComplexBuffer(std::span<const TComplex>(AList)) {}

TNXComplexBuffer::TNXComplexBuffer(TNXComplexBuffer* ASource) : TNXLinearMemoryBuffer(NotNil(ASource)) {}
TNXComplexBuffer::TNXComplexBuffer(const TBuffer& ASource) : TNXLinearMemoryBuffer(BufferOf(ASource)) {}
TNXComplexBuffer::TNXComplexBuffer(const TIntfPtr<INXData>& ASource) : TNXLinearMemoryBuffer(BufferOf(ASource)) {}

namespace {
std::uint32_t LargerSize(INXRealBuffer* ARe, INXRealBuffer* AIm) {
  if (!ARe || !AIm) throw EArgumentException("A source buffer is required");
  return static_cast<std::uint32_t>(std::max(ARe->GetSize(), AIm->GetSize()));
}
}  // namespace

TNXComplexBuffer::TNXComplexBuffer(const TRealBuffer& ARe, const TRealBuffer& AIm)
    : TNXComplexBuffer(LargerSize(ARe.Get(), AIm.Get())) {
  FillFromParts(ARe->Read(), static_cast<std::uint32_t>(ARe->GetSize()), AIm->Read(),
                static_cast<std::uint32_t>(AIm->GetSize()));
}

TNXComplexBuffer::TNXComplexBuffer(TNXRealBuffer* ARe, TNXRealBuffer* AIm) : TNXComplexBuffer(LargerSize(ARe, AIm)) {
  FillFromParts(ARe->Read(), static_cast<std::uint32_t>(ARe->GetSize()), AIm->Read(),
                static_cast<std::uint32_t>(AIm->GetSize()));
}

void TNXComplexBuffer::FillFromParts(const double* ARe, std::uint32_t AReSize, const double* AIm,
                                     std::uint32_t AImSize) {
  TComplex* d = Items<TComplex>();
  const std::uint32_t both = std::min(AReSize, AImSize), size = std::max(AReSize, AImSize);
  if (both > 0) ippsRealToCplx_64f(ARe, AIm, Cplx(d), static_cast<int>(both));
  for (std::uint32_t i = both; i < size; ++i) d[i] = TComplex{i < AReSize ? ARe[i] : 0.0, i < AImSize ? AIm[i] : 0.0};
}

TIntfPtr<INXData> TNXComplexBuffer::GetDataCopy() {
  return AdoptNew<INXData>(new TNXComplexBuffer(this));
}

bool TNXComplexBuffer::IsEqual(const TIntfPtr<INXDataBuffer>& AOther) const {
  return SameClass<TNXComplexBuffer>(AOther) && TNXLinearMemoryBuffer::IsEqual(AOther);
}

void TNXComplexBuffer::CopyTo(std::int32_t ASourceOffset, const TIntfPtr<INXDataBuffer>& ATargetBuffer,
                              std::int32_t ATargetOffset, std::int32_t ACount) {
  if (!CopyElements(this, ASourceOffset, ATargetBuffer, ATargetOffset, ACount))
    TNXLinearMemoryBuffer::CopyTo(ASourceOffset, ATargetBuffer, ATargetOffset, ACount);
}

TIntfPtr<INXComplexBufferAccess> TNXComplexBuffer::Data(TBufferAccessModes AModes) {
  return MakeAccess<TNXComplexBufferAccess, INXComplexBufferAccess>(this, AModes);
}

namespace {
// A new real buffer of Size elements filled by a complex-to-real primitive.
template <class F>
TIntfPtr<INXRealBuffer> RealResult(const TComplex* ASource, std::int32_t ASize, F op) {
  TIntfPtr<INXRealBuffer> out = TNXRealBuffer::MakeSize(static_cast<std::uint32_t>(ASize));
  op(Cplx(ASource), out->Write(), Len(ASize));
  return out;
}
}  // namespace

TNXComplexBuffer::TRealBuffer TNXComplexBuffer::GetReal() const { return RealResult(Read(), GetSize(), ippsReal_64fc); }
TNXComplexBuffer::TRealBuffer TNXComplexBuffer::GetImaginary() const { return RealResult(Read(), GetSize(), ippsImag_64fc); }
TNXComplexBuffer::TRealBuffer TNXComplexBuffer::Phase() const { return RealResult(Read(), GetSize(), ippsPhase_64fc); }
TNXComplexBuffer::TRealBuffer TNXComplexBuffer::Magnitude() const { return RealResult(Read(), GetSize(), ippsMagnitude_64fc); }
TNXComplexBuffer::TRealBuffer TNXComplexBuffer::PowerSpectrum() const {
  return RealResult(Read(), GetSize(), ippsPowerSpectr_64fc);
}

void TNXComplexBuffer::Add(const TBuffer& AOther) {
  WithOther(this, AOther, [](const TComplex* s, TComplex* d, int n) { ippsAdd_64fc_I(Cplx(s), Cplx(d), n); });
}
// Shared with the real buffer (NXBufferOperations.h).
void TNXComplexBuffer::Subtract(const TBuffer& AOther) { TOps::Subtract(this, AOther); }
void TNXComplexBuffer::Multiply(const TBuffer& AOther) { TOps::Multiply(this, AOther); }
void TNXComplexBuffer::NormalizeFrom(const TBuffer& ASource, const TComplex& AOffset, double AFactor) {
  TOps::NormalizeFrom(this, ASource, AOffset, AFactor);
}
void TNXComplexBuffer::Normalize(const TComplex& AOffset, double AFactor) { TOps::Normalize(this, AOffset, AFactor); }
TComplex TNXComplexBuffer::Dot(const TBuffer& AOther) const { return TOps::Dot(this, AOther); }
void TNXComplexBuffer::Threshold(double AThreshold, TNXThresholdType AType) { TOps::Threshold(this, AThreshold, AType); }
void TNXComplexBuffer::ThresholdFrom(const TBuffer& ASource, double AThreshold, TNXThresholdType AType) {
  TOps::ThresholdFrom(this, ASource, AThreshold, AType);
}
void TNXComplexBuffer::Sqr() { TOps::Sqr(this); }
void TNXComplexBuffer::SqrFrom(const TBuffer& ASource) { TOps::SqrFrom(this, ASource); }
void TNXComplexBuffer::Sqrt() { TOps::Sqrt(this); }
void TNXComplexBuffer::SqrtFrom(const TBuffer& ASource) { TOps::SqrtFrom(this, ASource); }
void TNXComplexBuffer::AutoCorr(const TBuffer& ASource, TNXAutoCorrType AType) { TOps::AutoCorr(this, ASource, AType); }
void TNXComplexBuffer::CrossCorr(const TBuffer& ASource1, const TBuffer& ASource2, std::int32_t ALoLag) {
  TOps::CrossCorr(this, ASource1, ASource2, ALoLag);
}

void TNXComplexBuffer::Divide(const TBuffer& AOther) {
  WithOther(this, AOther, [](const TComplex* s, TComplex* d, int n) { ippsDiv_64fc_I(Cplx(s), Cplx(d), n); });
}

void TNXComplexBuffer::AddValue(double ARe, double AIm) {
  ippsAddC_64fc_I(Ipp64fc{ARe, AIm}, Cplx(Modify()), Len(GetSize()));
}
void TNXComplexBuffer::SubtractValue(double ARe, double AIm) {
  ippsSubC_64fc_I(Ipp64fc{ARe, AIm}, Cplx(Modify()), Len(GetSize()));
}
void TNXComplexBuffer::MultiplyValue(double ARe, double AIm) {
  ippsMulC_64fc_I(Ipp64fc{ARe, AIm}, Cplx(Modify()), Len(GetSize()));
}
// A zero divisor is refused by the primitive: the elements stay as they were.
void TNXComplexBuffer::DivideValue(double ARe, double AIm) {
  ippsDivC_64fc_I(Ipp64fc{ARe, AIm}, Cplx(Modify()), Len(GetSize()));
}

void TNXComplexBuffer::SetBuffer(const TRealBuffer& ARe, const TRealBuffer& AIm) {
  const double* re = SourceOf(ARe);
  const double* im = SourceOf(AIm);
  const std::int32_t n = std::min({GetSize(), ARe->GetSize(), AIm->GetSize()});
  ippsRealToCplx_64f(re, im, Cplx(Write()), Len(n));
}

void TNXComplexBuffer::SetValue(double ARe, double AIm) { SetValue(TComplex{ARe, AIm}); }
void TNXComplexBuffer::SetValue(const TComplex& AValue) { ippsSet_64fc(ToIpp(AValue), Cplx(Write()), Len(GetSize())); }
void TNXComplexBuffer::Zero() { ippsZero_64fc(Cplx(Write()), Len(GetSize())); }

// The mean of an empty buffer is (0, 0) rather than the 0 / 0 of the
// formula: callers use the result as a level, and NaN would spread.
TComplex TNXComplexBuffer::Mean() const {
  const TComplex* p = Read();
  const std::int32_t n = GetSize();
  if (n <= 0) return TComplex{};
  double re = 0.0, im = 0.0;
  for (std::int32_t i = 0; i < n; ++i) {
    re += std::fabs(p[i].Re);
    im += std::fabs(p[i].Im);
  }
  return TComplex{re / n, im / n};
}

bool TNXComplexBuffer::IsEqualToValue(const TComplex& AValue) const { return AllEqual(Read(), GetSize(), AValue); }

}  // namespace nx
