// NXBufferInterfaces: what a component sees of a buffer: the buffer
// interfaces (INXRealBuffer and its kin), their access modes and views, and
// the notification list. Component code that only receives, reads, writes or
// passes buffers on needs this header alone; NXSimpleDataBuffer.h adds the
// classes that implement the interfaces (the ones a component constructs).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "buffers/NXInternalStore.h"
#include "buffers/Zandor.BasicDataTypes.h"
#include "runtime/SysUtils.h"
#include "runtime/Zandor.Function.h"
#include "vector/NXBasicDispatcher.h"
#include "runtime/Zandor.Complex.h"
#include "runtime/Zandor.Interfaces.h"
#include "runtime/Zandor.Streams.h"

namespace nx {

// ---------------------------------------------------------------- access modes

enum class TBufferAccessMode : std::uint8_t { Read, Write };

// A set of access modes.
class TBufferAccessModes {
 public:
  constexpr TBufferAccessModes() noexcept = default;
  constexpr TBufferAccessModes(TBufferAccessMode AMode) noexcept : FBits(Bit(AMode)) {}
  constexpr TBufferAccessModes(std::initializer_list<TBufferAccessMode> AModes) noexcept {
    for (TBufferAccessMode m : AModes) FBits = static_cast<std::uint8_t>(FBits | Bit(m));
  }
  constexpr bool Contains(TBufferAccessMode AMode) const noexcept { return (FBits & Bit(AMode)) != 0; }
  constexpr bool Empty() const noexcept { return FBits == 0; }
  friend constexpr bool operator==(TBufferAccessModes, TBufferAccessModes) = default;

 private:
  static constexpr std::uint8_t Bit(TBufferAccessMode m) noexcept {
    return static_cast<std::uint8_t>(1u << static_cast<unsigned>(m));
  }
  std::uint8_t FBits = 0;
};

// What an access handle does for a mode set: {Read, Write} modifies (copies
// a shared block with its contents), {Write} writes (a shared block is
// replaced without its contents), anything else only reads.
enum class TBufferAccessKind : std::uint8_t { Read, Write, Modify };
constexpr TBufferAccessKind AccessKindOf(TBufferAccessModes AModes) noexcept {
  const bool r = AModes.Contains(TBufferAccessMode::Read), w = AModes.Contains(TBufferAccessMode::Write);
  return w ? (r ? TBufferAccessKind::Modify : TBufferAccessKind::Write) : TBufferAccessKind::Read;
}

// ---------------------------------------------------------------- operation enumerations

enum TNXThresholdType : std::int32_t { ttGreaterThan = 0, ttLessThan = 1 };
enum TNXAutoCorrType : std::int32_t { actNormal = 0, actBiased = 1, actUnbiased = 2 };
enum TNXNormType : std::int32_t { ntL1Norm = 0, ntL2Norm = 1, ntCNorm = 2 };

// ---------------------------------------------------------------- interfaces


// The sequence stamp of a buffer: kept in the data block, so every buffer on
// one block shows the same values.
struct INXSequenceStamp : virtual IInterface {
  NX_INTERFACE_ID(INXSequenceStamp, "{6B1E2C40-3A57-4F0E-9D21-5C7A0B8E1F02}");
  virtual bool GetAvailable() = 0;
  virtual void SetAvailable(bool AValue) = 0;
  virtual std::uint64_t GetBufferNumber() = 0;
  virtual void SetBufferNumber(std::uint64_t AValue) = 0;
};

// Access handles: hold the buffer and run the accessor that the mode set
// chose on every call. ByteData and the typed Data hand out read-only
// pointers whatever the mode (a handle opened for writing runs its writing
// accessor, so copy on write still happens there); only a handle opened with
// Write hands out writable ones, through WritableByteData and WritableData.
// On a handle opened for reading those raise EInvalidOperation: a buffer's
// shared block is never written through a reading handle.
struct INXBasicBufferAccess : virtual IInterface {
  NX_INTERFACE_ID(INXBasicBufferAccess, "{6B1E2C40-3A57-4F0E-9D21-5C7A0B8E1F03}");
  virtual const std::uint8_t* ByteData() = 0;
  virtual std::uint8_t* WritableByteData() = 0;
  // Whether the handle was opened with Write.
  virtual bool IsWritable() const = 0;
  virtual std::uint32_t GetByteSize() const = 0;
  virtual std::int32_t GetSize() const = 0;
};
struct INXDataBufferAccess : virtual INXBasicBufferAccess {
  NX_INTERFACE_ID(INXDataBufferAccess, "{6B1E2C40-3A57-4F0E-9D21-5C7A0B8E1F04}");
};
struct INXRealBufferAccess : virtual INXBasicBufferAccess {
  NX_INTERFACE_ID(INXRealBufferAccess, "{6B1E2C40-3A57-4F0E-9D21-5C7A0B8E1F05}");
  virtual const double* Data() = 0;
  virtual double* WritableData() = 0;
};

struct INXDataBuffer : virtual INXData {
  NX_INTERFACE_ID(INXDataBuffer, "{6B1E2C40-3A57-4F0E-9D21-5C7A0B8E1F06}");
  // Shares the source's block (no copy) and copies its custom items.
  virtual void Assign(const TIntfPtr<INXDataBuffer>& ASource) = 0;
  // Same byte size and same bytes (typed buffers also require the same class).
  virtual bool IsEqual(const TIntfPtr<INXDataBuffer>& AOther) const = 0;
  // The proxy of class AProxyClass for this buffer's block (shared by every
  // buffer on the block; see buffers/NXSmartBufferProxy.h).
  virtual TIntfPtr<INXSmartBufferProxy> GetProxy(const TNXSmartBufferProxyClass& AProxyClass,
                                                 const TNXProxyParameters& AParameters) = 0;
  virtual TIntfPtr<INXDataBufferAccess> ByteData(TBufferAccessModes AModes) = 0;
  virtual const std::uint8_t* ByteRead() const = 0;
  virtual std::uint8_t* ByteWrite() = 0;
  virtual std::uint8_t* ByteModify() = 0;
  // A copy of the byte-size bytes.
  virtual std::vector<std::uint8_t> AsBytes() const = 0;
  virtual std::uint32_t GetByteSize() const = 0;
  virtual std::int32_t GetSize() const = 0;
  virtual TIntfPtr<INXSequenceStamp> GetSequenceStamp() = 0;
  // Copies ACount bytes (elements between two buffers of one element type)
  // into the target, which is made unique with its contents. The offsets and
  // the count are the caller's to keep within both buffers.
  virtual void CopyTo(std::int32_t ASourceOffset, const TIntfPtr<INXDataBuffer>& ATargetBuffer,
                      std::int32_t ATargetOffset, std::int32_t ACount) = 0;
  virtual void Unique(bool APreserve) = 0;
  // True when a new block was made.
  virtual bool MakeUnique(bool APreserve) = 0;
  // Raw bytes, no header. SaveToStream writes the byte-size bytes at the
  // stream's position. LoadFromStream reads exactly byte-size bytes (a
  // shorter stream is EReadError; the bytes read so far stay); with AResize a
  // resizable buffer first takes as many whole elements as the stream has
  // left. The file forms create (truncate) or open the file and do the same.
  virtual void SaveToFile(const std::string& AFileName) = 0;
  virtual void LoadFromFile(const std::string& AFileName, bool AResize) = 0;
  virtual void SaveToStream(TStream& AStream) = 0;
  virtual void LoadFromStream(TStream& AStream, bool AResize) = 0;
};

struct INXGenericBuffer : virtual INXDataBuffer {
  NX_INTERFACE_ID(INXGenericBuffer, "{6B1E2C40-3A57-4F0E-9D21-5C7A0B8E1F07}");
};

struct INXLinearDataBuffer : virtual INXGenericBuffer {
  NX_INTERFACE_ID(INXLinearDataBuffer, "{6B1E2C40-3A57-4F0E-9D21-5C7A0B8E1F08}");
  // ASize in elements; true when anything changed.
  virtual bool Resize(std::uint32_t ASize, bool APreserveData) = 0;
};

// Enumerates the elements of a buffer as they were when it was made.
template <class T>
class TBufferEnumerator {
 public:
  TBufferEnumerator(const T* AStart, std::int32_t ACount) noexcept : FStart(AStart), FCount(ACount) {}
  void Reset() noexcept { FIndex = -1; }
  // Advances one element; false once the current element is the last one.
  bool MoveNext() noexcept {
    if (FIndex + 1 >= FCount) return false;
    ++FIndex;
    return true;
  }
  T GenericGetCurrent() const noexcept { return FStart[FIndex]; }
  T GetCurrent() const noexcept { return FStart[FIndex]; }
  std::int32_t Count() const noexcept { return FCount; }

 private:
  const T* FStart;
  std::int32_t FIndex = -1;  // one before the start
  std::int32_t FCount;
};

class TNXGenericBuffer;

// A copy of a buffer's data pointer and byte size kept inside an interface,
// so that inline operations reach the samples with one load from the
// interface pointer instead of two (interface -> buffer object -> data).
// The buffer object writes it whenever its own pointer or size changes.
struct TNXDataView {
  std::uint8_t* Data = nullptr;
  std::uint32_t ByteSize = 0;
};

struct INXRealBuffer : virtual INXLinearDataBuffer {
  NX_INTERFACE_ID(INXRealBuffer, "{6B1E2C40-3A57-4F0E-9D21-5C7A0B8E1F09}");
  using TBuffer = TIntfPtr<INXRealBuffer>;

  virtual TIntfPtr<INXRealBufferAccess> Data(TBufferAccessModes AModes) = 0;
  virtual const double* Read() const = 0;
  virtual double* Write() = 0;
  virtual double* Modify() = 0;
  // Raise ERangeError "Index out of range = %u" outside 0 .. GetSize - 1.
  // Item access is the one place where a virtual call would cost more than
  // the work itself, so these two are inline: they reach the buffer object
  // that implements the interface directly (defined after TNXGenericBuffer).
  double GetItem(std::int32_t AIndex) const;
  void SetItem(std::int32_t AIndex, double AValue);

  // Operations. n = the smaller of Self's and the other buffer's sizes.
  virtual void VectorJaehne(double AMagnitude) = 0;
  // Inline like Mean: at a thousand samples the virtual calls to reach
  // both buffers were a tenth of the work.
  void Add(const TBuffer& AOther);
  virtual void Subtract(const TBuffer& AOther) = 0;
  virtual void Multiply(const TBuffer& AOther) = 0;
  // A zero divisor gives 1e15 for a positive quotient and -1e14 otherwise.
  virtual void Divide(const TBuffer& AOther) = 0;
  virtual void SetValue(double AValue) = 0;
  virtual void AddValue(double AValue) = 0;
  virtual void SubtractValue(double AValue) = 0;
  virtual void MultiplyValue(double AValue) = 0;
  // Does nothing for 0 and 1.
  virtual void DivideValue(double AValue) = 0;
  virtual void Zero() = 0;
  virtual void ToInt(std::int32_t* AOutBuffer, bool ARound) = 0;
  // Raises ERangeError for a result outside -32768 .. 32767.
  virtual void ToShort(std::int16_t* AOutBuffer, bool ARound) = 0;
  virtual void ToSingle(float* AOutBuffer) = 0;
  virtual void FromInt(const std::int32_t* AInBuffer) = 0;
  virtual void FromShort(const std::int16_t* AInBuffer) = 0;
  virtual void FromSingle(const float* AInBuffer) = 0;
  virtual void NormalizeFrom(const TBuffer& ASource, double AOffset, double AFactor) = 0;
  virtual void Normalize(double AOffset, double AFactor) = 0;
  virtual double Dot(const TBuffer& AOther) const = 0;
  virtual void Threshold(double AThreshold, TNXThresholdType AType) = 0;
  virtual void ThresholdFrom(const TBuffer& ASource, double AThreshold, TNXThresholdType AType) = 0;
  virtual void Sqr() = 0;
  virtual void SqrFrom(const TBuffer& ASource) = 0;
  virtual void Sqrt() = 0;
  virtual void SqrtFrom(const TBuffer& ASource) = 0;
  virtual void AutoCorr(const TBuffer& ASource, TNXAutoCorrType AType) = 0;
  virtual void CrossCorr(const TBuffer& ASource1, const TBuffer& ASource2, std::int32_t ALoLag) = 0;
  virtual void Abs() = 0;
  virtual void AbsFrom(const TBuffer& ASource) = 0;
  virtual void Exp() = 0;
  virtual void ExpFrom(const TBuffer& ASource) = 0;
  virtual void Ln() = 0;
  virtual void LnFrom(const TBuffer& ASource) = 0;
  // Inline like item access: on short buffers a virtual call is a tenth of
  // the work (defined after TNXGenericBuffer).
  double Mean() const;
  virtual double StdDev() const = 0;
  // Resizes Self to Size1 + Size2 - 1 and writes the full convolution.
  virtual void Convolve(const TBuffer& ASource1, const TBuffer& ASource2) = 0;
  virtual double Norm(const TBuffer& AOther, TNXNormType ANormType) const = 0;
  virtual double GetMinValue() const = 0;
  virtual double GetMaxValue() const = 0;
  virtual double GetMinIndex(std::int32_t& AIndex) const = 0;
  virtual double GetMaxIndex(std::int32_t& AIndex) const = 0;
  virtual double GetMinIndexFrom(std::int32_t AIndexBegin, std::int32_t& AIndex) const = 0;
  virtual double GetMaxIndexFrom(std::int32_t AIndexBegin, std::int32_t& AIndex) const = 0;
  virtual double GetMin(std::int32_t AIndexBegin, std::int32_t AIndexEnd) const = 0;
  virtual double GetMax(std::int32_t AIndexBegin, std::int32_t AIndexEnd) const = 0;
  virtual double GetMinRestricted(std::int32_t AIndexBegin, std::int32_t AIndexEnd) const = 0;
  virtual double GetMaxRestricted(std::int32_t AIndexBegin, std::int32_t AIndexEnd) const = 0;
  virtual bool IsEqualToValue(double AValue) const = 0;

  virtual TBufferEnumerator<double> GetEnumerator() const = 0;

 private:
  friend class TNXRealBuffer;
  // The implementing buffer, set once when it is constructed.
  TNXGenericBuffer* FItemOwner = nullptr;
  // Its data pointer and byte size, kept in step by the buffer.
  TNXDataView FView;
};

// ---------------------------------------------------------------- integer, unsigned, complex, Boolean and block buffer interfaces

// The other element types: signed and unsigned 32-bit integers, complex
// numbers, Booleans packed eight to a byte (value i is bit i mod 8 of byte
// i div 8, from the least significant bit) and raw bytes. Each has the
// sharing, copy-on-write and resizing of the real buffer and its own
// operations; n is again the smaller of Self's and the other buffer's sizes.

struct INXIntegerBufferAccess : virtual INXBasicBufferAccess {
  NX_INTERFACE_ID(INXIntegerBufferAccess, "{7C2F3D51-4B68-4A1F-8E32-6D8B1C9F2001}");
  virtual const std::int32_t* Data() = 0;
  virtual std::int32_t* WritableData() = 0;
};
struct INXUnsignedBufferAccess : virtual INXBasicBufferAccess {
  NX_INTERFACE_ID(INXUnsignedBufferAccess, "{7C2F3D51-4B68-4A1F-8E32-6D8B1C9F2002}");
  virtual const std::uint32_t* Data() = 0;
  virtual std::uint32_t* WritableData() = 0;
};
struct INXComplexBufferAccess : virtual INXBasicBufferAccess {
  NX_INTERFACE_ID(INXComplexBufferAccess, "{7C2F3D51-4B68-4A1F-8E32-6D8B1C9F2003}");
  virtual const TComplex* Data() = 0;
  virtual TComplex* WritableData() = 0;
};
// The packed bytes of a Boolean buffer.
struct INXBooleanBufferAccess : virtual INXBasicBufferAccess {
  NX_INTERFACE_ID(INXBooleanBufferAccess, "{7C2F3D51-4B68-4A1F-8E32-6D8B1C9F2004}");
  virtual const std::uint8_t* Data() = 0;
  virtual std::uint8_t* WritableData() = 0;
};
struct INXBlockBufferAccess : virtual INXBasicBufferAccess {
  NX_INTERFACE_ID(INXBlockBufferAccess, "{7C2F3D51-4B68-4A1F-8E32-6D8B1C9F2005}");
  virtual const std::uint8_t* Data() = 0;
  virtual std::uint8_t* WritableData() = 0;
};

// Signed 32-bit integers. GetItem / SetItem do not check the index.
// Arithmetic saturates as the primitives do; the own loops (ModBuffer,
// ModValue) raise EDivByZero on a zero divisor.
struct INXIntegerBuffer : virtual INXLinearDataBuffer {
  NX_INTERFACE_ID(INXIntegerBuffer, "{7C2F3D51-4B68-4A1F-8E32-6D8B1C9F2011}");
  using TBuffer = TIntfPtr<INXIntegerBuffer>;

  virtual TIntfPtr<INXIntegerBufferAccess> Data(TBufferAccessModes AModes) = 0;
  virtual const std::int32_t* Read() const = 0;
  virtual std::int32_t* Write() = 0;
  virtual std::int32_t* Modify() = 0;
  virtual std::int32_t GetItem(std::int32_t AIndex) const = 0;
  virtual void SetItem(std::int32_t AIndex, std::int32_t AValue) = 0;

  virtual void Add(const TBuffer& AOther) = 0;
  virtual void Subtract(const TBuffer& AOther) = 0;
  virtual void Multiply(const TBuffer& AOther) = 0;
  virtual void Divide(const TBuffer& AOther) = 0;
  // Remainder of truncating division: the sign of the dividend.
  virtual void ModBuffer(const TBuffer& AOther) = 0;
  virtual void AndBuffer(const TBuffer& AOther) = 0;
  virtual void OrBuffer(const TBuffer& AOther) = 0;
  virtual void XorBuffer(const TBuffer& AOther) = 0;
  // Shift counts are taken modulo 32; RShift shifts in zero bits.
  virtual void LShift(const TBuffer& AOther) = 0;
  virtual void RShift(const TBuffer& AOther) = 0;
  virtual void SetValue(std::int32_t AValue) = 0;
  virtual void AddValue(std::int32_t AValue) = 0;
  virtual void SubtractValue(std::int32_t AValue) = 0;
  virtual void MultiplyValue(std::int32_t AValue) = 0;
  // Nothing for 0 and 1; a shared block is divided out of place (read once).
  virtual void DivideValue(std::int32_t AValue) = 0;
  virtual void ModValue(std::int32_t AValue) = 0;
  virtual void AndValue(std::int32_t AValue) = 0;
  virtual void OrValue(std::int32_t AValue) = 0;
  virtual void XorValue(std::int32_t AValue) = 0;
  virtual void LShiftValue(std::int32_t AValue) = 0;
  // An arithmetic shift (the sign is kept).
  virtual void RShiftValue(std::int32_t AValue) = 0;
  virtual void Zero() = 0;
  virtual std::int32_t Dot(const TBuffer& AOther) const = 0;
  // True for an empty buffer.
  virtual bool IsEqualToValue(std::int32_t AValue) const = 0;
  // 0 for an empty buffer.
  virtual std::int32_t GetMinValue() const = 0;
  virtual std::int32_t GetMaxValue() const = 0;

  virtual TBufferEnumerator<std::int32_t> GetEnumerator() const = 0;
};

// Unsigned 32-bit integers: the operations of the integer buffer in unsigned
// arithmetic. An overflowing element of Add ... MultiplyValue or Dot raises
// EIntOverflow, a zero divisor EDivByZero (nothing is written then).
struct INXUnsignedBuffer : virtual INXLinearDataBuffer {
  NX_INTERFACE_ID(INXUnsignedBuffer, "{7C2F3D51-4B68-4A1F-8E32-6D8B1C9F2012}");
  using TBuffer = TIntfPtr<INXUnsignedBuffer>;

  virtual TIntfPtr<INXUnsignedBufferAccess> Data(TBufferAccessModes AModes) = 0;
  virtual const std::uint32_t* Read() const = 0;
  virtual std::uint32_t* Write() = 0;
  virtual std::uint32_t* Modify() = 0;
  virtual std::uint32_t GetItem(std::int32_t AIndex) const = 0;
  virtual void SetItem(std::int32_t AIndex, std::uint32_t AValue) = 0;

  virtual void Add(const TBuffer& AOther) = 0;
  virtual void Subtract(const TBuffer& AOther) = 0;
  virtual void Multiply(const TBuffer& AOther) = 0;
  virtual void Divide(const TBuffer& AOther) = 0;
  virtual void ModBuffer(const TBuffer& AOther) = 0;
  virtual void AndBuffer(const TBuffer& AOther) = 0;
  virtual void OrBuffer(const TBuffer& AOther) = 0;
  virtual void XorBuffer(const TBuffer& AOther) = 0;
  virtual void LShift(const TBuffer& AOther) = 0;
  virtual void RShift(const TBuffer& AOther) = 0;
  virtual void SetValue(std::uint32_t AValue) = 0;
  virtual void AddValue(std::uint32_t AValue) = 0;
  virtual void SubtractValue(std::uint32_t AValue) = 0;
  virtual void MultiplyValue(std::uint32_t AValue) = 0;
  virtual void DivideValue(std::uint32_t AValue) = 0;
  virtual void ModValue(std::uint32_t AValue) = 0;
  virtual void AndValue(std::uint32_t AValue) = 0;
  virtual void OrValue(std::uint32_t AValue) = 0;
  virtual void XorValue(std::uint32_t AValue) = 0;
  // The count is taken modulo 32.
  virtual void LShiftValue(std::int32_t AValue) = 0;
  virtual void RShiftValue(std::int32_t AValue) = 0;
  virtual void Zero() = 0;
  virtual std::uint32_t Dot(const TBuffer& AOther) const = 0;
  virtual bool IsEqualToValue(std::uint32_t AValue) const = 0;
  virtual std::uint32_t GetMinValue() const = 0;
  virtual std::uint32_t GetMaxValue() const = 0;

  virtual TBufferEnumerator<std::uint32_t> GetEnumerator() const = 0;
};

// Complex numbers (TComplex: real part, then imaginary part). GetItem /
// SetItem / GetItemProc do not check the index.
struct INXComplexBuffer : virtual INXLinearDataBuffer {
  NX_INTERFACE_ID(INXComplexBuffer, "{7C2F3D51-4B68-4A1F-8E32-6D8B1C9F2013}");
  using TBuffer = TIntfPtr<INXComplexBuffer>;
  using TRealBuffer = TIntfPtr<INXRealBuffer>;

  virtual TIntfPtr<INXComplexBufferAccess> Data(TBufferAccessModes AModes) = 0;
  virtual const TComplex* Read() const = 0;
  virtual TComplex* Write() = 0;
  virtual TComplex* Modify() = 0;
  virtual TComplex GetItem(std::int32_t AIndex) const = 0;
  virtual void SetItem(std::int32_t AIndex, const TComplex& AValue) = 0;
  virtual void GetItemProc(std::int32_t AIndex, TComplex& AValue) const = 0;

  // New real buffers of Size elements.
  virtual TRealBuffer GetReal() const = 0;
  virtual TRealBuffer GetImaginary() const = 0;
  virtual void Add(const TBuffer& AOther) = 0;
  virtual void Subtract(const TBuffer& AOther) = 0;
  virtual void Multiply(const TBuffer& AOther) = 0;
  virtual void Divide(const TBuffer& AOther) = 0;
  virtual void AddValue(double ARe, double AIm) = 0;
  virtual void SubtractValue(double ARe, double AIm) = 0;
  virtual void MultiplyValue(double ARe, double AIm) = 0;
  virtual void DivideValue(double ARe, double AIm) = 0;
  // Self[i] := (ARe[i], AIm[i]) for i below the smallest of the three sizes.
  virtual void SetBuffer(const TRealBuffer& ARe, const TRealBuffer& AIm) = 0;
  virtual void SetValue(double ARe, double AIm) = 0;
  virtual void SetValue(const TComplex& AValue) = 0;
  virtual void Zero() = 0;
  virtual void NormalizeFrom(const TBuffer& ASource, const TComplex& AOffset, double AFactor) = 0;
  virtual void Normalize(const TComplex& AOffset, double AFactor) = 0;
  virtual TComplex Dot(const TBuffer& AOther) const = 0;
  // Thresholds on the magnitude.
  virtual void Threshold(double AThreshold, TNXThresholdType AType) = 0;
  virtual void ThresholdFrom(const TBuffer& ASource, double AThreshold, TNXThresholdType AType) = 0;
  virtual void Sqr() = 0;
  virtual void SqrFrom(const TBuffer& ASource) = 0;
  virtual void Sqrt() = 0;
  virtual void SqrtFrom(const TBuffer& ASource) = 0;
  // (mean of |Re|, mean of |Im|); (0, 0) for an empty buffer.
  virtual TComplex Mean() const = 0;
  virtual void AutoCorr(const TBuffer& ASource, TNXAutoCorrType AType) = 0;
  virtual void CrossCorr(const TBuffer& ASource1, const TBuffer& ASource2, std::int32_t ALoLag) = 0;
  virtual TRealBuffer Phase() const = 0;
  virtual TRealBuffer Magnitude() const = 0;
  virtual TRealBuffer PowerSpectrum() const = 0;
  virtual bool IsEqualToValue(const TComplex& AValue) const = 0;

  virtual TBufferEnumerator<TComplex> GetEnumerator() const = 0;
};

// Enumerates the values of a Boolean buffer as they were when it was made.
class TBooleanBufferEnumerator {
 public:
  TBooleanBufferEnumerator(const std::uint8_t* AStart, std::int32_t ACount) noexcept : FStart(AStart), FCount(ACount) {}
  void Reset() noexcept { FIndex = -1; }
  // Advances one value; false once the current value is the last one.
  bool MoveNext() noexcept {
    if (FIndex + 1 >= FCount) return false;
    ++FIndex;
    return true;
  }
  bool GenericGetCurrent() const noexcept { return ((FStart[FIndex >> 3] >> (FIndex & 7)) & 1u) != 0; }
  bool GetCurrent() const noexcept { return GenericGetCurrent(); }
  std::int32_t Count() const noexcept { return FCount; }

 private:
  const std::uint8_t* FStart;
  std::int32_t FIndex = -1;  // one before the start
  std::int32_t FCount;
};

// Booleans packed into bits; Size is the bit count. The operations work on
// whole bytes (wider words where they can) and return the buffer itself so
// that calls can be chained. GetItem / SetItem / InvertBit raise
// ERangeError "Index out of range = %u" outside 0 .. Size - 1.
struct INXBooleanBuffer : virtual INXLinearDataBuffer {
  NX_INTERFACE_ID(INXBooleanBuffer, "{7C2F3D51-4B68-4A1F-8E32-6D8B1C9F2014}");
  using TBuffer = TIntfPtr<INXBooleanBuffer>;

  virtual TIntfPtr<INXBooleanBufferAccess> Data(TBufferAccessModes AModes) = 0;
  virtual const std::uint8_t* Read() const = 0;
  virtual std::uint8_t* Write() = 0;
  virtual std::uint8_t* Modify() = 0;

  // Over the smaller of the two byte sizes.
  virtual TBuffer AndBuffer(const TBuffer& AOther) = 0;
  virtual TBuffer OrBuffer(const TBuffer& AOther) = 0;
  virtual TBuffer XorBuffer(const TBuffer& AOther) = 0;
  virtual TBuffer AndValue(bool AValue) = 0;
  virtual TBuffer OrValue(bool AValue) = 0;
  virtual TBuffer XorValue(bool AValue) = 0;
  virtual TBuffer SetValue(bool AValue) = 0;
  virtual TBuffer Zero() = 0;
  virtual TBuffer Invert() = 0;
  virtual TBuffer InvertBit(std::int32_t AIndex) = 0;
  // Every one of the Size values (true for an empty buffer).
  virtual bool IsEqualToValue(bool AValue) const = 0;
  virtual bool GetItem(std::int32_t AIndex) const = 0;
  virtual void SetItem(std::int32_t AIndex, bool AValue) = 0;

  virtual TBooleanBufferEnumerator GetEnumerator() const = 0;
};

// Raw bytes. GetItem / SetItem raise ERangeError "Index out of range = %u"
// outside 0 .. Size - 1.
struct INXBlockBuffer : virtual INXLinearDataBuffer {
  NX_INTERFACE_ID(INXBlockBuffer, "{7C2F3D51-4B68-4A1F-8E32-6D8B1C9F2015}");
  using TBuffer = TIntfPtr<INXBlockBuffer>;

  virtual TIntfPtr<INXBlockBufferAccess> Data(TBufferAccessModes AModes) = 0;
  virtual const std::uint8_t* Read() const = 0;
  virtual std::uint8_t* Write() = 0;
  virtual std::uint8_t* Modify() = 0;

  // Saturating as the byte primitives do.
  virtual void Add(const TBuffer& AOther) = 0;
  virtual void Subtract(const TBuffer& AOther) = 0;
  virtual void Multiply(const TBuffer& AOther) = 0;
  // Unsigned quotient; a zero divisor raises EDivByZero.
  virtual void Divide(const TBuffer& AOther) = 0;
  virtual void SetValue(std::uint8_t AValue) = 0;
  virtual void Zero() = 0;
  // Appends the bytes of any buffer.
  virtual void Append(const TIntfPtr<INXDataBuffer>& AOther) = 0;
  // Removes up to ACount bytes from AIndex (fewer at the end); AIndex within
  // 0 .. Size and ACount not negative, else EAssertionFailed.
  virtual void Remove(std::int32_t AIndex, std::int32_t ACount) = 0;
  virtual bool IsEqualToValue(std::uint8_t AValue) const = 0;
  virtual std::uint8_t GetItem(std::int32_t AIndex) const = 0;
  virtual void SetItem(std::int32_t AIndex, std::uint8_t AValue) = 0;

  virtual TBufferEnumerator<std::uint8_t> GetEnumerator() const = 0;
};

// ---------------------------------------------------------------- buffer array interfaces

class TNXRealBufferArrayEnumerator;

// Two-dimensional real data: a sequence of rows, each a real buffer. The
// matrix buffer keeps its rows in one block (all of one length), the buffer
// list keeps independent real buffers (lengths may differ) and the matrix
// object forwards to an array it holds.
struct INXRealBufferArray : virtual INXData {
  NX_INTERFACE_ID(INXRealBufferArray, "{6B1E2C40-3A57-4F0E-9D24-5C7A0B8E2401}");
  using TArray = TIntfPtr<INXRealBufferArray>;

  // Copies the custom items and the rows of the source.
  virtual void Assign(const TArray& ASource) = 0;
  // Same row count and every row of the same size with the same bytes.
  virtual bool IsEqualArray(const TArray& AOther) const = 0;
  // The length of the longest row (0 without rows).
  virtual std::int32_t GetMaxSize() const = 0;
  // The number of rows.
  virtual std::int32_t GetCount() const = 0;
  virtual std::int32_t GetColCount(std::int32_t ARow) const = 0;
  // A row as a real buffer: a copy for the matrix buffer, the row object
  // itself for the buffer list.
  virtual TIntfPtr<INXRealBuffer> GetItem(std::int32_t AIndex) = 0;
  virtual void SetItem(std::int32_t AIndex, const TIntfPtr<INXRealBuffer>& ABuffer) = 0;
  virtual double GetCell(std::int32_t ARow, std::int32_t ACol) const = 0;
  virtual void SetCell(std::int32_t ARow, std::int32_t ACol, double AValue) = 0;
  // Row by row, for the rows both arrays have, over the shorter of each pair of rows.
  virtual void Add(const TArray& AOther) = 0;
  virtual void Subtract(const TArray& AOther) = 0;
  virtual void Multiply(const TArray& AOther) = 0;
  // A zero divisor gives 1e15 for a positive quotient and -1e14 otherwise.
  virtual void Divide(const TArray& AOther) = 0;
  virtual void SetValue(double AValue) = 0;
  virtual void AddValue(double AValue) = 0;
  virtual void SubtractValue(double AValue) = 0;
  virtual void MultiplyValue(double AValue) = 0;
  // Does nothing for 0 and 1.
  virtual void DivideValue(double AValue) = 0;
  virtual void Zero() = 0;
  // True when anything changed. Negative sizes raise ERangeError.
  virtual bool Resize(std::int32_t ARows, std::int32_t ACols, bool APreserve) = 0;
  // Enumerates the rows (as GetItem hands them out).
  virtual TNXRealBufferArrayEnumerator GetEnumerator() = 0;
};

// Enumerates the rows of a buffer array that were there when it was made.
// Holds the array while it lives.
class TNXRealBufferArrayEnumerator {
 public:
  explicit TNXRealBufferArrayEnumerator(INXRealBufferArray* AArray)
      : FArray(AArray), FCount(AArray ? AArray->GetCount() : 0) {}
  void Reset() noexcept { FIndex = -1; }
  // Advances one row; false once the current row is the last one.
  bool MoveNext() noexcept {
    if (FIndex + 1 >= FCount) return false;
    ++FIndex;
    return true;
  }
  TIntfPtr<INXRealBuffer> GenericGetCurrent() const { return FArray->GetItem(FIndex); }
  TIntfPtr<INXRealBuffer> GetCurrent() const { return FArray->GetItem(FIndex); }
  std::int32_t Count() const noexcept { return FCount; }

 private:
  TIntfPtr<INXRealBufferArray> FArray;
  std::int32_t FIndex = -1;  // one before the first row
  std::int32_t FCount;
};

// A buffer array that grows by appending rows (the buffer list).
struct INXRealBufferDynamicArray : virtual INXRealBufferArray {
  NX_INTERFACE_ID(INXRealBufferDynamicArray, "{6B1E2C40-3A57-4F0E-9D24-5C7A0B8E2402}");
  // Adds the buffer object itself (shared, not copied).
  virtual void Append(const TIntfPtr<INXRealBuffer>& ABuffer) = 0;
};

// Access handle of a matrix buffer: the elements row by row and the shape.
struct INXRealMatrixBufferAccess : virtual INXRealBufferAccess {
  NX_INTERFACE_ID(INXRealMatrixBufferAccess, "{6B1E2C40-3A57-4F0E-9D24-5C7A0B8E2403}");
  virtual std::int32_t GetCols() const = 0;
  virtual std::int32_t GetRows() const = 0;
};

// A rectangular matrix of 64-bit floats stored row by row in one block:
// element (r, c) is element r x GetCols + c.
struct INXRealMatrixBuffer : virtual INXRealBufferArray {
  NX_INTERFACE_ID(INXRealMatrixBuffer, "{6B1E2C40-3A57-4F0E-9D24-5C7A0B8E2404}");
  using INXRealBufferArray::GetItem;
  using INXRealBufferArray::SetItem;

  virtual TIntfPtr<INXRealMatrixBufferAccess> Data(TBufferAccessModes AModes) = 0;
  virtual const double* Read() const = 0;
  virtual double* Write() = 0;
  virtual double* Modify() = 0;
  virtual std::int32_t GetCols() const = 0;
  virtual std::int32_t GetRows() const = 0;
  // The column is checked first: "Column out of range = %u", then
  // "Row out of range = %u" (ERangeError).
  virtual double GetItem(std::int32_t ARow, std::int32_t ACol) const = 0;
  virtual void SetItem(std::int32_t ARow, std::int32_t ACol, double AValue) = 0;
  // A new real buffer with a copy of the row.
  virtual TIntfPtr<INXRealBuffer> GetRow(std::int32_t ARow) const = 0;
  // Copies the shorter of the row and the buffer into the row.
  virtual void SetRow(std::int32_t ARow, const TIntfPtr<INXRealBuffer>& ABuffer) = 0;
};

// ---------------------------------------------------------------- notification list

// A multicast list of parameterless callbacks, fired in the order of
// subscription each time a buffer refreshes its caches.
class TNXNotifyList {
 public:
  using TProc = std::function<void()>;
  using THandle = std::uint64_t;

  THandle Add(TProc AProc) {
    FItems.emplace_back(FNext, std::move(AProc));
    return FNext++;
  }
  // Removes a subscription; unknown handles are ignored.
  void Remove(THandle AHandle) noexcept;
  void Fire() const;
  std::size_t Count() const noexcept { return FItems.size(); }

 private:
  std::vector<std::pair<THandle, TProc>> FItems;
  THandle FNext = 1;
};

}  // namespace nx
