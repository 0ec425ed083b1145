// NXRealBuffer: the buffer of 64-bit floats: its constructors and its vector
// operations. Every element-wise operation is one call of a vector primitive
// through its dispatch pointer; only the conversion to 16-bit integers, the
// comparison with a value, the restricted extremes and the repair after a
// division by zero loop here.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "buffers/NXBufferOperations.h"
#include "buffers/NXSimpleDataBuffer.h"
#include "vector/NXBasicDispatcher.h"

namespace nx {

using namespace bufferops;
using TOps = TFloatOps<TNXRealBuffer, double>;

// ---------------------------------------------------------------- TNXRealBuffer: construction

TNXRealBuffer::TNXRealBuffer() : TNXLinearMemoryBuffer(0u, static_cast<std::uint32_t>(sizeof(double))) {}

TNXRealBuffer::TNXRealBuffer(std::uint32_t ASize) : TNXLinearMemoryBuffer(ASize, static_cast<std::uint32_t>(sizeof(double))) {}

TNXRealBuffer::TNXRealBuffer(const double* AData, std::uint32_t ASize) : TNXRealBuffer(ASize) {
  if (AData && ASize > 0) ippsCopy_64f(AData, Items<double>(), static_cast<int>(ASize));
}

TNXRealBuffer::TNXRealBuffer(TValueInit, double AValue, std::uint32_t ASize) : TNXRealBuffer(ASize) {
  if (ASize > 0) ippsSet_64f(AValue, Items<double>(), static_cast<int>(ASize));
}

template <class T>
void TNXRealBuffer::FillFromIntegers(const T* AData, std::uint32_t ASize, double ADivisor) {
  if (!AData) return;
  double* d = Items<double>();
  if (ADivisor == 1.0) {
    for (std::uint32_t i = 0; i < ASize; ++i) d[i] = static_cast<double>(AData[i]);
  } else {
    for (std::uint32_t i = 0; i < ASize; ++i) d[i] = static_cast<double>(AData[i]) / ADivisor;
  }
}

#define NX_REAL_INT_CTOR(T)                                                                 \
  TNXRealBuffer::TNXRealBuffer(const T* AData, std::uint32_t ASize, double ADivisor) : TNXRealBuffer(ASize) { \
    FillFromIntegers(AData, ASize, ADivisor);                                               \
  }
NX_REAL_INT_CTOR(std::uint8_t)
NX_REAL_INT_CTOR(std::uint16_t)
NX_REAL_INT_CTOR(std::int16_t)
NX_REAL_INT_CTOR(std::uint32_t)
NX_REAL_INT_CTOR(std::int32_t)
NX_REAL_INT_CTOR(std::int64_t)
NX_REAL_INT_CTOR(std::uint64_t)
#undef NX_REAL_INT_CTOR

TNXRealBuffer::TNXRealBuffer(const float* AData, std::uint32_t ASize) : TNXRealBuffer(ASize) {
  if (AData && ASize > 0) ippsConvert_32f64f(AData, Items<double>(), static_cast<int>(ASize));
}

TNXRealBuffer::TNXRealBuffer(std::span<const double> AArray) : TNXRealBuffer(AArray.data(), CountOf(AArray.size())) {}

TNXRealBuffer::TNXRealBuffer(const std::vector<double>& AList) : TNXRealBuffer(AList.data(), CountOf(AList.size())) {}

TNXRealBuffer::TNXRealBuffer(TNXRealBuffer* ASource) : TNXLinearMemoryBuffer(NotNil(ASource)) {}

TNXRealBuffer::TNXRealBuffer(const TBuffer& ASource) : TNXLinearMemoryBuffer(BufferOf(ASource)) {}

TNXRealBuffer::TNXRealBuffer(const TIntfPtr<INXData>& ASource) : TNXLinearMemoryBuffer(BufferOf(ASource)) {}

TIntfPtr<INXData> TNXRealBuffer::GetDataCopy() {
  return AdoptNew<INXData>(new TNXRealBuffer(this));
}

bool TNXRealBuffer::IsEqual(const TIntfPtr<INXDataBuffer>& AOther) const {
  if (!AOther || !dynamic_cast<TNXRealBuffer*>(AOther->GetInstance())) return false;
  return TNXLinearMemoryBuffer::IsEqual(AOther);
}

void TNXRealBuffer::CopyTo(std::int32_t ASourceOffset, const TIntfPtr<INXDataBuffer>& ATargetBuffer,
                           std::int32_t ATargetOffset, std::int32_t ACount) {
  auto* target = ATargetBuffer ? dynamic_cast<TNXRealBuffer*>(ATargetBuffer->GetInstance()) : nullptr;
  if (!target) {
    TNXLinearMemoryBuffer::CopyTo(ASourceOffset, ATargetBuffer, ATargetOffset, ACount);
    return;
  }
  double* dst = target->Modify();
  ippsCopy_64f(Read() + ASourceOffset, dst + ATargetOffset, ACount);
}

TIntfPtr<INXRealBufferAccess> TNXRealBuffer::Data(TBufferAccessModes AModes) {
  return MakeAccess<TNXRealBufferAccess, INXRealBufferAccess>(this, AModes);
}

// ---------------------------------------------------------------- TNXRealBuffer: operations
//
// Source pointers are taken before Self's write access: when a source shares
// Self's block (or is Self), the write access moves Self to a new block and
// the source pointer still shows the old samples, which the other holder
// keeps alive.

void TNXRealBuffer::VectorJaehne(double AMagnitude) { ippsVectorJaehne_64f(Write(), Len(GetSize()), AMagnitude); }

// Shared with the complex buffer (NXBufferOperations.h).
void TNXRealBuffer::Subtract(const TBuffer& AOther) { TOps::Subtract(this, AOther); }
void TNXRealBuffer::Multiply(const TBuffer& AOther) { TOps::Multiply(this, AOther); }
void TNXRealBuffer::NormalizeFrom(const TBuffer& ASource, double AOffset, double AFactor) {
  TOps::NormalizeFrom(this, ASource, AOffset, AFactor);
}
void TNXRealBuffer::Normalize(double AOffset, double AFactor) { TOps::Normalize(this, AOffset, AFactor); }
double TNXRealBuffer::Dot(const TBuffer& AOther) const { return TOps::Dot(this, AOther); }
void TNXRealBuffer::Threshold(double AThreshold, TNXThresholdType AType) { TOps::Threshold(this, AThreshold, AType); }
void TNXRealBuffer::ThresholdFrom(const TBuffer& ASource, double AThreshold, TNXThresholdType AType) {
  TOps::ThresholdFrom(this, ASource, AThreshold, AType);
}
void TNXRealBuffer::Sqr() { TOps::Sqr(this); }
void TNXRealBuffer::SqrFrom(const TBuffer& ASource) { TOps::SqrFrom(this, ASource); }
void TNXRealBuffer::Sqrt() { TOps::Sqrt(this); }
void TNXRealBuffer::SqrtFrom(const TBuffer& ASource) { TOps::SqrtFrom(this, ASource); }
void TNXRealBuffer::AutoCorr(const TBuffer& ASource, TNXAutoCorrType AType) { TOps::AutoCorr(this, ASource, AType); }
void TNXRealBuffer::CrossCorr(const TBuffer& ASource1, const TBuffer& ASource2, std::int32_t ALoLag) {
  TOps::CrossCorr(this, ASource1, ASource2, ALoLag);
}

void TNXRealBuffer::Divide(const TBuffer& AOther) {
  const double* src = ReadOf(AOther);
  const std::int32_t n = std::min(GetSize(), AOther->GetSize());
  double* dst = Modify();
  if (src == dst) {
    // Dividing a buffer by itself: the divisors are overwritten as the
    // quotients are written, so the zero test is made element by element.
    for (std::int32_t i = 0; i < n; ++i) dst[i] = dst[i] == 0.0 ? -100000000000000.0 : dst[i] / dst[i];
    return;
  }
  if (ippsDiv_64f_I(src, dst, Len(n)) != ippStsDivByZero) return;
  // A zero divisor leaves ±Inf or NaN; those become large finite values that
  // later stages can still compute with. The negative constant is smaller in
  // magnitude on purpose (downstream code relies on the pair as it is).
  for (std::int32_t i = 0; i < n; ++i)
    if (src[i] == 0.0) dst[i] = dst[i] > 0.0 ? 1000000000000000.0 : -100000000000000.0;
}

void TNXRealBuffer::SetValue(double AValue) { ippsSet_64f(AValue, Write(), Len(GetSize())); }
void TNXRealBuffer::AddValue(double AValue) { ippsAddC_64f_I(AValue, Modify(), Len(GetSize())); }
void TNXRealBuffer::SubtractValue(double AValue) { ippsSubC_64f_I(AValue, Modify(), Len(GetSize())); }
void TNXRealBuffer::MultiplyValue(double AValue) { ippsMulC_64f_I(AValue, Modify(), Len(GetSize())); }

void TNXRealBuffer::DivideValue(double AValue) {
  if (AValue == 0.0 || AValue == 1.0) return;  // no access at all: a shared block stays shared
  ippsDivC_64f_I(AValue, Modify(), Len(GetSize()));
}

void TNXRealBuffer::Zero() { ippsZero_64f(Write(), Len(GetSize())); }

void TNXRealBuffer::ToInt(std::int32_t* AOutBuffer, bool ARound) {
  ippsConvert_64f32s_Sfs(Read(), AOutBuffer, Len(GetSize()), ARound ? ippRndNear : ippRndZero, 0);
}

void TNXRealBuffer::ToShort(std::int16_t* AOutBuffer, bool ARound) {
  const double* src = Read();
  const std::int32_t n = GetSize();
  for (std::int32_t i = 0; i < n; ++i) {
    // nearbyint rounds in the current (default: to nearest, ties to even) mode.
    const double r = ARound ? std::nearbyint(src[i]) : std::trunc(src[i]);
    if (!(r >= -32768.0 && r <= 32767.0)) RaiseRange("Value out of range = %g", src[i]);
    AOutBuffer[i] = static_cast<std::int16_t>(r);
  }
}

void TNXRealBuffer::ToSingle(float* AOutBuffer) { ippsConvert_64f32f(Read(), AOutBuffer, Len(GetSize())); }
void TNXRealBuffer::FromInt(const std::int32_t* AInBuffer) { ippsConvert_32s64f(AInBuffer, Write(), Len(GetSize())); }
void TNXRealBuffer::FromShort(const std::int16_t* AInBuffer) {
  ippsConvert_16s64f_Sfs(AInBuffer, Write(), Len(GetSize()), 0);
}
void TNXRealBuffer::FromSingle(const float* AInBuffer) { ippsConvert_32f64f(AInBuffer, Write(), Len(GetSize())); }

void TNXRealBuffer::Abs() { ippsAbs_64f_I(Modify(), Len(GetSize())); }
void TNXRealBuffer::AbsFrom(const TBuffer& ASource) {
  const double* src = ReadOf(ASource);
  const std::int32_t n = std::min(GetSize(), ASource->GetSize());
  ippsAbs_64f(src, Write(), Len(n));
}
void TNXRealBuffer::Exp() { ippsExp_64f_I(Modify(), Len(GetSize())); }
void TNXRealBuffer::ExpFrom(const TBuffer& ASource) {
  const double* src = ReadOf(ASource);
  const std::int32_t n = std::min(GetSize(), ASource->GetSize());
  ippsExp_64f(src, Write(), Len(n));
}
void TNXRealBuffer::Ln() { ippsLn_64f_I(Modify(), Len(GetSize())); }
void TNXRealBuffer::LnFrom(const TBuffer& ASource) {
  const double* src = ReadOf(ASource);
  const std::int32_t n = std::min(GetSize(), ASource->GetSize());
  ippsLn_64f(src, Write(), Len(n));
}

// Statistics of an empty buffer (or range) are 0: the primitive refuses
// length 0 and leaves the initial value.
double TNXRealBuffer::StdDev() const {
  double r = 0.0;
  ippsStdDev_64f(Read(), Len(GetSize()), &r);
  return r;
}

void TNXRealBuffer::Convolve(const TBuffer& ASource1, const TBuffer& ASource2) {
  if (!ASource1 || !ASource2) throw EArgumentException("A source buffer is required");
  const std::int64_t n1 = ASource1->GetSize(), n2 = ASource2->GetSize();
  const std::int64_t len = n1 + n2 - 1;
  if (len < 0) throw EIntOverflow();
  // Hold the sources' samples across the resize: a source that is Self (or
  // shares its block) would otherwise lose them when Resize replaces the block.
  const TBuffer keep1(new TNXRealBuffer(ASource1)), keep2(new TNXRealBuffer(ASource2));
  Resize(static_cast<std::uint32_t>(len), false);
  const double* s1 = keep1->Read();
  const double* s2 = keep2->Read();
  ippsConv_64f(s1, Len(static_cast<std::int32_t>(n1)), s2, Len(static_cast<std::int32_t>(n2)), Write());
}

double TNXRealBuffer::Norm(const TBuffer& AOther, TNXNormType ANormType) const {
  const std::int32_t size = GetSize();
  RequireSize(AOther, size);
  const double* other = AOther->Read();
  double r = 0.0;
  switch (ANormType) {
    case ntL1Norm:
      ippsNormDiff_L1_64f(Read(), other, Len(size), &r);
      break;
    case ntL2Norm:
      ippsNormDiff_L2_64f(Read(), other, Len(size), &r);
      break;
    default:
      ippsNormDiff_Inf_64f(Read(), other, Len(size), &r);
      break;
  }
  return r;
}

double TNXRealBuffer::GetMinValue() const {
  double r = 0.0;
  ippsMin_64f(Read(), Len(GetSize()), &r);
  return r;
}

double TNXRealBuffer::GetMaxValue() const {
  double r = 0.0;
  ippsMax_64f(Read(), Len(GetSize()), &r);
  return r;
}

double TNXRealBuffer::GetMinIndex(std::int32_t& AIndex) const { return GetMinIndexFrom(0, AIndex); }
double TNXRealBuffer::GetMaxIndex(std::int32_t& AIndex) const { return GetMaxIndexFrom(0, AIndex); }

double TNXRealBuffer::GetMinIndexFrom(std::int32_t AIndexBegin, std::int32_t& AIndex) const {
  const std::int32_t begin = std::max(AIndexBegin, 0);
  AIndex = begin;
  const std::int32_t size = GetSize();
  if (begin >= size) return 0.0;
  double r = 0.0;
  int idx = 0;
  ippsMinIndx_64f(Read() + begin, Len(size - begin), &r, &idx);
  AIndex = begin + idx;
  return r;
}

double TNXRealBuffer::GetMaxIndexFrom(std::int32_t AIndexBegin, std::int32_t& AIndex) const {
  const std::int32_t begin = std::max(AIndexBegin, 0);
  AIndex = begin;
  const std::int32_t size = GetSize();
  if (begin >= size) return 0.0;
  double r = 0.0;
  int idx = 0;
  ippsMaxIndx_64f(Read() + begin, Len(size - begin), &r, &idx);
  AIndex = begin + idx;
  return r;
}

namespace {
// The range of GetMin / GetMax: negative bounds become 0, the end is capped
// at the size and a begin past the end of the buffer moves to its last
// element. False for an empty buffer or range.
bool ClampRange(std::int32_t size, std::int32_t& begin, std::int32_t& end) {
  if (size <= 0) return false;
  begin = std::max(begin, 0);
  end = std::clamp(end, 0, size);
  if (begin >= size) begin = size - 1;
  return end > begin;
}
// The inclusive range of the restricted extremes: bounds within 0 .. size - 1.
bool ClampInclusive(std::int32_t size, std::int32_t& begin, std::int32_t& end) {
  if (size <= 0) return false;
  begin = std::clamp(begin, 0, size - 1);
  end = std::clamp(end, 0, size - 1);
  return begin <= end;
}
// Finite and not at the extreme of the double range.
inline bool InLimits(double v) { return v > -DBL_MAX && v < DBL_MAX; }
}  // namespace

double TNXRealBuffer::GetMin(std::int32_t AIndexBegin, std::int32_t AIndexEnd) const {
  if (!ClampRange(GetSize(), AIndexBegin, AIndexEnd)) return 0.0;
  double r = 0.0;
  ippsMin_64f(Read() + AIndexBegin, Len(AIndexEnd - AIndexBegin), &r);
  return r;
}

double TNXRealBuffer::GetMax(std::int32_t AIndexBegin, std::int32_t AIndexEnd) const {
  if (!ClampRange(GetSize(), AIndexBegin, AIndexEnd)) return 0.0;
  double r = 0.0;
  ippsMax_64f(Read() + AIndexBegin, Len(AIndexEnd - AIndexBegin), &r);
  return r;
}

double TNXRealBuffer::GetMinRestricted(std::int32_t AIndexBegin, std::int32_t AIndexEnd) const {
  if (!ClampInclusive(GetSize(), AIndexBegin, AIndexEnd)) return 0.0;
  const double* p = Read();
  double r = InLimits(p[AIndexBegin]) ? p[AIndexBegin] : 0.0;
  for (std::int32_t i = AIndexBegin + 1; i <= AIndexEnd; ++i)
    if (InLimits(p[i]) && p[i] < r) r = p[i];
  return r;
}

double TNXRealBuffer::GetMaxRestricted(std::int32_t AIndexBegin, std::int32_t AIndexEnd) const {
  if (!ClampInclusive(GetSize(), AIndexBegin, AIndexEnd)) return 0.0;
  const double* p = Read();
  double r = InLimits(p[AIndexBegin]) ? p[AIndexBegin] : 0.0;
  for (std::int32_t i = AIndexBegin + 1; i <= AIndexEnd; ++i)
    if (InLimits(p[i]) && p[i] > r) r = p[i];
  return r;
}

bool TNXRealBuffer::IsEqualToValue(double AValue) const {
  const double* p = Read();
  const std::int32_t n = GetSize();
  for (std::int32_t i = 0; i < n; ++i)
    if (p[i] != AValue) return false;
  return true;
}

}  // namespace nx
