// NXIntegerBuffers: the signed and unsigned 32-bit integer buffers, one
// implementation over the element type (TNXInteger32Buffer).
#include <algorithm>
#include <cmath>
#include <cstring>

#include "buffers/NXBufferOperations.h"
#include "buffers/NXSimpleDataBuffer.h"
#include "vector/NXBasicDispatcher.h"

namespace nx {

using namespace bufferops;

// ---------------------------------------------------------------- TNXIntegerBuffer, TNXUnsignedBuffer

namespace {

// The own loops of the 32-bit integer buffers.
inline std::int32_t Remainder(std::int32_t a, std::int32_t b) {
  // -2147483648 % -1 traps on the processor; its remainder is 0.
  return b == -1 ? 0 : a % b;
}
inline std::uint32_t Remainder(std::uint32_t a, std::uint32_t b) { return a % b; }

template <class T>
void ModLoop(const T* src, T* dst, std::int32_t n) {
  for (std::int32_t i = 0; i < n; ++i) {
    if (src[i] == 0) throw EDivByZero();
    dst[i] = Remainder(dst[i], src[i]);
  }
}

template <class T>
void ModValueLoop(T value, T* dst, std::int32_t n) {
  if (n > 0 && value == 0) throw EDivByZero();
  for (std::int32_t i = 0; i < n; ++i) dst[i] = Remainder(dst[i], value);
}

// Shifts by the other buffer's elements modulo 32, always shifting in zero
// bits (a logical right shift also for signed elements).
template <class T>
void ShiftLoop(const T* src, T* dst, std::int32_t n, bool ALeft) {
  for (std::int32_t i = 0; i < n; ++i) {
    const std::uint32_t v = static_cast<std::uint32_t>(dst[i]);
    const std::uint32_t s = static_cast<std::uint32_t>(src[i]) & 31u;
    dst[i] = static_cast<T>(ALeft ? v << s : v >> s);
  }
}

template <class T>
T MinOf(const T* p, std::int32_t n) {
  if (n <= 0) return 0;
  T r = p[0];
  for (std::int32_t i = 1; i < n; ++i) r = p[i] < r ? p[i] : r;
  return r;
}

template <class T>
T MaxOf(const T* p, std::int32_t n) {
  if (n <= 0) return 0;
  T r = p[0];
  for (std::int32_t i = 1; i < n; ++i) r = p[i] > r ? p[i] : r;
  return r;
}


// What differs between the signed and the unsigned 32-bit buffer: the
// arithmetic routines (the unsigned ones, with 32u in their names, are the
// package's own and raise EIntOverflow / EDivByZero before they write
// anything), the shifts by a constant (arithmetic right shift for the signed
// buffer), the dot product, and the one signed quotient that does not fit.
template <class T>
struct TInteger32Ops;

template <>
struct TInteger32Ops<std::int32_t> {
  using T = std::int32_t;
  static void Add(const T* s, T* d, int n) { ippsAdd_32s_ISfs(s, d, n, 0); }
  static void Sub(const T* s, T* d, int n) { ippsSub_32s_ISfs(s, d, n, 0); }
  static void Mul(const T* s, T* d, int n) { ippsMul_32s_ISfs(s, d, n, 0); }
  // A zero divisor gives the primitive's saturated quotient (no error).
  static void Div(const T* s, T* d, int n) { ippsDiv_32s_ISfs(s, d, n, 0); }
  static void AddC(T v, T* d, int n) { ippsAddC_32s_ISfs(v, d, n, 0); }
  static void SubC(T v, T* d, int n) { ippsSubC_32s_ISfs(v, d, n, 0); }
  static void MulC(T v, T* d, int n) { ippsMulC_32s_ISfs(v, d, n, 0); }
  static void DivC(T v, T* d, int n) { ippsDivC_32s_ISfs(v, d, n, 0); }
  static void DivCOut(const T* s, T v, T* d, int n) { ippsDivC_32s_Sfs(s, v, d, n, 0); }
  // The quotient INT32_MIN / -1 does not fit: it is refused before the
  // buffer lets go of its samples (the routine would raise only after the
  // write access).
  static void CheckQuotients(const T* s, T v, std::int32_t n) {
    if (v == -1)
      for (std::int32_t i = 0; i < n; ++i)
        if (s[i] == INT32_MIN) throw EIntOverflow();
  }
  static void LShiftC(std::int32_t v, T* d, int n) { ippsLShiftC_32s_I(v, d, n); }
  static void RShiftC(std::int32_t v, T* d, int n) { ippsRShiftC_32s_I(v, d, n); }
  static T Dot(const T* a, const T* b, int n) {
    Ipp32s r = 0;
    ippsDotProd_32s_Sfs(a, b, n, &r, 0);
    return r;
  }
};

template <>
struct TInteger32Ops<std::uint32_t> {
  using T = std::uint32_t;
  static void Add(const T* s, T* d, int n) { ippsAdd_32u_ISfs(s, d, n, 0); }
  static void Sub(const T* s, T* d, int n) { ippsSub_32u_ISfs(s, d, n, 0); }
  static void Mul(const T* s, T* d, int n) { ippsMul_32u_ISfs(s, d, n, 0); }
  static void Div(const T* s, T* d, int n) { ippsDiv_32u_ISfs(s, d, n, 0); }
  static void AddC(T v, T* d, int n) { ippsAddC_32u_ISfs(v, d, n, 0); }
  static void SubC(T v, T* d, int n) { ippsSubC_32u_ISfs(v, d, n, 0); }
  static void MulC(T v, T* d, int n) { ippsMulC_32u_ISfs(v, d, n, 0); }
  static void DivC(T v, T* d, int n) { ippsDivC_32u_ISfs(v, d, n, 0); }
  static void DivCOut(const T* s, T v, T* d, int n) { ippsDivC_32u_Sfs(s, v, d, n, 0); }
  // Every unsigned quotient by a divisor other than 0 fits.
  static void CheckQuotients(const T*, T, std::int32_t) {}
  static void LShiftC(std::int32_t v, T* d, int n) { ippsLShiftC_32u_I(v, d, n); }
  static void RShiftC(std::int32_t v, T* d, int n) { ippsRShiftC_32u_I(v, d, n); }
  static T Dot(const T* a, const T* b, int n) {
    Ipp32u r = 0;
    ippsDotProd_32u_Sfs(a, b, n, &r, 0);
    return r;
  }
};

}  // namespace

#define NX_INT32_BUFFER template <class TSelf, class T, class IBuffer, class IAccess>
#define NX_INT32_CLASS TNXInteger32Buffer<TSelf, T, IBuffer, IAccess>

NX_INT32_BUFFER
NX_INT32_CLASS::TNXInteger32Buffer() : TNXLinearMemoryBuffer(0u, static_cast<std::uint32_t>(sizeof(T))) {}

NX_INT32_BUFFER
NX_INT32_CLASS::TNXInteger32Buffer(std::uint32_t ASize)
    : TNXLinearMemoryBuffer(ASize, static_cast<std::uint32_t>(sizeof(T))) {}

NX_INT32_BUFFER
NX_INT32_CLASS::TNXInteger32Buffer(const T* AData, std::uint32_t ASize) : TNXInteger32Buffer(ASize) {
  if (AData && FByteSize > 0) ippsCopy_8u(reinterpret_cast<const Ipp8u*>(AData), FData, static_cast<int>(FByteSize));
}

NX_INT32_BUFFER
NX_INT32_CLASS::TNXInteger32Buffer(TValueInit, T AValue, std::uint32_t ASize) : TNXInteger32Buffer(ASize) {
  if (ASize > 0) ippsSet_32s(static_cast<Ipp32s>(AValue), reinterpret_cast<Ipp32s*>(Items<T>()), static_cast<int>(ASize));
}

NX_INT32_BUFFER
NX_INT32_CLASS::TNXInteger32Buffer(std::span<const T> AArray) : TNXInteger32Buffer(AArray.data(), ElementCount(AArray)) {}

NX_INT32_BUFFER
NX_INT32_CLASS::TNXInteger32Buffer(const std::vector<T>& AList) : TNXInteger32Buffer(std::span<const T>(AList)) {}

NX_INT32_BUFFER
NX_INT32_CLASS::TNXInteger32Buffer(TSelf* ASource) : TNXLinearMemoryBuffer(NotNil(ASource)) {}
NX_INT32_BUFFER
NX_INT32_CLASS::TNXInteger32Buffer(const TBuffer& ASource) : TNXLinearMemoryBuffer(BufferOf(ASource)) {}
NX_INT32_BUFFER
NX_INT32_CLASS::TNXInteger32Buffer(const TIntfPtr<INXData>& ASource) : TNXLinearMemoryBuffer(BufferOf(ASource)) {}

NX_INT32_BUFFER
TIntfPtr<INXData> NX_INT32_CLASS::GetDataCopy() {
  return AdoptNew<INXData>(new TSelf(static_cast<TSelf*>(this)));
}

NX_INT32_BUFFER
bool NX_INT32_CLASS::IsEqual(const TIntfPtr<INXDataBuffer>& AOther) const {
  return SameClass<TSelf>(AOther) && TNXLinearMemoryBuffer::IsEqual(AOther);
}

NX_INT32_BUFFER
void NX_INT32_CLASS::CopyTo(std::int32_t ASourceOffset, const TIntfPtr<INXDataBuffer>& ATargetBuffer,
                            std::int32_t ATargetOffset, std::int32_t ACount) {
  if (!CopyElements(static_cast<TSelf*>(this), ASourceOffset, ATargetBuffer, ATargetOffset, ACount))
    TNXLinearMemoryBuffer::CopyTo(ASourceOffset, ATargetBuffer, ATargetOffset, ACount);
}

NX_INT32_BUFFER
TIntfPtr<IAccess> NX_INT32_CLASS::Data(TBufferAccessModes AModes) {
  return MakeAccess<TAccess, IAccess>(this, AModes);
}

NX_INT32_BUFFER
void NX_INT32_CLASS::Add(const TBuffer& AOther) { WithOther(this, AOther, TInteger32Ops<T>::Add); }
NX_INT32_BUFFER
void NX_INT32_CLASS::Subtract(const TBuffer& AOther) { WithOther(this, AOther, TInteger32Ops<T>::Sub); }
NX_INT32_BUFFER
void NX_INT32_CLASS::Multiply(const TBuffer& AOther) { WithOther(this, AOther, TInteger32Ops<T>::Mul); }
NX_INT32_BUFFER
void NX_INT32_CLASS::Divide(const TBuffer& AOther) { WithOther(this, AOther, TInteger32Ops<T>::Div); }
NX_INT32_BUFFER
void NX_INT32_CLASS::ModBuffer(const TBuffer& AOther) {
  WithOther(this, AOther, [](const T* s, T* d, int n) { ModLoop(s, d, n); });
}
NX_INT32_BUFFER
void NX_INT32_CLASS::AndBuffer(const TBuffer& AOther) {
  WithOther(this, AOther, [](const T* s, T* d, int n) { ippsAnd_32u_I(Words(s), Words(d), n); });
}
NX_INT32_BUFFER
void NX_INT32_CLASS::OrBuffer(const TBuffer& AOther) {
  WithOther(this, AOther, [](const T* s, T* d, int n) { ippsOr_32u_I(Words(s), Words(d), n); });
}
NX_INT32_BUFFER
void NX_INT32_CLASS::XorBuffer(const TBuffer& AOther) {
  WithOther(this, AOther, [](const T* s, T* d, int n) { ippsXor_32u_I(Words(s), Words(d), n); });
}
NX_INT32_BUFFER
void NX_INT32_CLASS::LShift(const TBuffer& AOther) {
  WithOther(this, AOther, [](const T* s, T* d, int n) { ShiftLoop(s, d, n, true); });
}
NX_INT32_BUFFER
void NX_INT32_CLASS::RShift(const TBuffer& AOther) {
  WithOther(this, AOther, [](const T* s, T* d, int n) { ShiftLoop(s, d, n, false); });
}

NX_INT32_BUFFER
void NX_INT32_CLASS::SetValue(T AValue) {
  ippsSet_32s(static_cast<Ipp32s>(AValue), reinterpret_cast<Ipp32s*>(Write()), Len(GetSize()));
}
NX_INT32_BUFFER
void NX_INT32_CLASS::AddValue(T AValue) { TInteger32Ops<T>::AddC(AValue, Modify(), Len(GetSize())); }
NX_INT32_BUFFER
void NX_INT32_CLASS::SubtractValue(T AValue) { TInteger32Ops<T>::SubC(AValue, Modify(), Len(GetSize())); }
NX_INT32_BUFFER
void NX_INT32_CLASS::MultiplyValue(T AValue) { TInteger32Ops<T>::MulC(AValue, Modify(), Len(GetSize())); }

NX_INT32_BUFFER
void NX_INT32_CLASS::DivideValue(T AValue) {
  if (AValue == 0 || AValue == 1) return;  // no access at all: a shared block stays shared
  const std::int32_t n = GetSize();
  if (FDataContainer->SingleOwner()) {
    TInteger32Ops<T>::DivC(AValue, Modify(), Len(n));
    return;
  }
  // Shared: read the old samples through a sharing copy and write the
  // quotients into a fresh block, instead of copying the block first.
  const TBuffer copy(new TSelf(static_cast<TSelf*>(this)));
  const T* src = copy->Read();
  TInteger32Ops<T>::CheckQuotients(src, AValue, n);
  TInteger32Ops<T>::DivCOut(src, AValue, Write(), Len(n));
}

NX_INT32_BUFFER
void NX_INT32_CLASS::ModValue(T AValue) { ModValueLoop(AValue, Modify(), GetSize()); }
NX_INT32_BUFFER
void NX_INT32_CLASS::AndValue(T AValue) { ippsAndC_32u_I(static_cast<Ipp32u>(AValue), Words(Modify()), Len(GetSize())); }
NX_INT32_BUFFER
void NX_INT32_CLASS::OrValue(T AValue) { ippsOrC_32u_I(static_cast<Ipp32u>(AValue), Words(Modify()), Len(GetSize())); }
NX_INT32_BUFFER
void NX_INT32_CLASS::XorValue(T AValue) { ippsXorC_32u_I(static_cast<Ipp32u>(AValue), Words(Modify()), Len(GetSize())); }
NX_INT32_BUFFER
void NX_INT32_CLASS::LShiftValue(std::int32_t AValue) { TInteger32Ops<T>::LShiftC(AValue, Modify(), Len(GetSize())); }
NX_INT32_BUFFER
void NX_INT32_CLASS::RShiftValue(std::int32_t AValue) { TInteger32Ops<T>::RShiftC(AValue, Modify(), Len(GetSize())); }

// All bytes as 16-bit words: 2 x Size of them.
NX_INT32_BUFFER
void NX_INT32_CLASS::Zero() { ippsZero_16s(reinterpret_cast<Ipp16s*>(Write()), Len(2 * GetSize())); }

NX_INT32_BUFFER
T NX_INT32_CLASS::Dot(const TBuffer& AOther) const {
  const T* src = SourceOf(AOther);
  const std::int32_t n = std::min(GetSize(), AOther->GetSize());
  return TInteger32Ops<T>::Dot(Read(), src, Len(n));
}

NX_INT32_BUFFER
bool NX_INT32_CLASS::IsEqualToValue(T AValue) const { return AllEqual(Read(), GetSize(), AValue); }
NX_INT32_BUFFER
T NX_INT32_CLASS::GetMinValue() const { return MinOf(Read(), GetSize()); }
NX_INT32_BUFFER
T NX_INT32_CLASS::GetMaxValue() const { return MaxOf(Read(), GetSize()); }

#undef NX_INT32_CLASS
#undef NX_INT32_BUFFER

template class TNXInteger32Buffer<TNXIntegerBuffer, std::int32_t, INXIntegerBuffer, INXIntegerBufferAccess>;
template class TNXInteger32Buffer<TNXUnsignedBuffer, std::uint32_t, INXUnsignedBuffer, INXUnsignedBufferAccess>;

}  // namespace nx
