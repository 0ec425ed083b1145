// NXBooleanBlockBuffers: the Boolean buffer (bits packed eight to a byte) and
// the block buffer (raw bytes), which share their universal constructors.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "buffers/NXBufferOperations.h"
#include "buffers/NXSimpleDataBuffer.h"
#include "vector/NXBasicDispatcher.h"
#include "runtime/Zandor.Serialization.h"

namespace nx {

using namespace bufferops;

// ---------------------------------------------------------------- Boolean and block buffers: universal sources

namespace {
// The largest byte size whose bits GetSize can still count.
constexpr std::uint32_t kMaxBooleanBytes = 0x7FFFFFFFu / 8;
constexpr std::uint32_t kMaxBits = 0x7FFFFFFFu;

std::uint32_t BytesOfBits(std::uint64_t ABits) {
  if (ABits > kMaxBits) throw EIntOverflow();
  return static_cast<std::uint32_t>((ABits + 7) / 8);
}

// Shares the block of a buffer of class C, or makes a new block for a copy
// of the bytes of any other buffer (the bytes are copied by the constructor).
// The new block is the last thing made: nothing can raise between its
// allocation and the constructor's first reference to it.
template <class C>
TNXUniversalSource UniversalSourceOf(const TIntfPtr<INXData>& ASource, std::uint32_t AMaxBytes) {
  if (!ASource) throw EArgumentException("A buffer is required, not nil");
  TNXUniversalSource s;
  s.Parent = ASource.Get();
  if (auto* same = dynamic_cast<C*>(ASource->GetInstance())) {
    s.Same = same;
    s.Block = same->DataContainer();
    s.ByteSize = same->GetByteSize();
    return s;
  }
  const TIntfPtr<INXDataBuffer> bytes = Supports<INXDataBuffer>(ASource);
  if (!bytes) throw EArgumentException("The data object is not a buffer");
  s.ByteSize = bytes->GetByteSize();
  if (s.ByteSize > AMaxBytes) throw EIntOverflow();
  s.CopyFrom = bytes->ByteRead();  // kept alive by ASource
  s.Block = new TNXSmartMemoryBuffer(s.ByteSize);
  return s;
}

// A byte-wise operation over n bytes: whole 32-bit words through the
// vector primitive, the bytes before the first 64-byte boundary of the
// destination and the last 0 .. 3 bytes here. Blocks are only 32-byte
// aligned, and wide vectors that straddle cache lines cost about half as
// much again as aligned ones; starting the words on a line boundary of the
// destination (and so of a source with the same alignment) avoids that.
template <class FWords, class FByte>
void BytewiseOp(const std::uint8_t* src, std::uint8_t* dst, std::uint32_t n, FWords words, FByte byte) {
  const auto misalign = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(dst) & 63u);
  const std::uint32_t head = std::min(n, (64u - misalign) & 63u);
  std::uint32_t i = 0;
  for (; i < head; ++i) dst[i] = static_cast<std::uint8_t>(byte(src[i], dst[i]));
  const std::uint32_t w = (n - head) / 4;
  if (w > 0)
    words(reinterpret_cast<const Ipp32u*>(src + head), reinterpret_cast<Ipp32u*>(dst + head), static_cast<int>(w));
  for (i = head + w * 4; i < n; ++i) dst[i] = static_cast<std::uint8_t>(byte(src[i], dst[i]));
}

// True when the first ABits bits of p all equal AValue (full bytes eight at
// a time, then the used bits of a partial last byte).
bool BitsAllEqual(const std::uint8_t* p, std::uint32_t ABits, bool AValue) {
  const std::uint8_t pattern = AValue ? 0xFF : 0x00;
  const std::uint32_t full = ABits / 8;
  const std::uint64_t word = AValue ? ~std::uint64_t{0} : 0;
  std::uint32_t i = 0;
  for (; i + 8 <= full; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, p + i, 8);
    if (w != word) return false;
  }
  for (; i < full; ++i)
    if (p[i] != pattern) return false;
  const std::uint32_t rest = ABits % 8;
  if (rest == 0) return true;
  const auto mask = static_cast<std::uint8_t>((1u << rest) - 1);
  return (p[full] & mask) == (pattern & mask);
}

inline bool BitAt(const std::uint8_t* p, std::uint64_t i) { return ((p[i >> 3] >> (i & 7)) & 1u) != 0; }
inline void PutBit(std::uint8_t* p, std::uint64_t i, bool v) {
  const auto mask = static_cast<std::uint8_t>(1u << (i & 7));
  p[i >> 3] = static_cast<std::uint8_t>(v ? p[i >> 3] | mask : p[i >> 3] & ~mask);
}
}  // namespace

// ---------------------------------------------------------------- TNXBooleanBuffer

TNXBooleanBuffer::TNXBooleanBuffer() : TNXLinearMemoryBuffer(0u, 1u) {}

TNXBooleanBuffer::TNXBooleanBuffer(std::uint32_t ASize) : TNXLinearMemoryBuffer(BytesOfBits(ASize), 1u), FBitCount(ASize) {}

TNXBooleanBuffer::TNXBooleanBuffer(const std::uint8_t* AData, std::uint32_t ASize) : TNXBooleanBuffer(ASize) {
  if (AData && FByteSize > 0) ippsCopy_8u(AData, FData, static_cast<int>(FByteSize));
}

// (Not through SetValue: it hands out the buffer as an interface, which a
// constructor must not do while nobody holds a reference yet.)
TNXBooleanBuffer::TNXBooleanBuffer(TValueInit, std::uint32_t ASize, bool AValue) : TNXBooleanBuffer(ASize) {
  if (FByteSize > 0) ippsSet_8u(AValue ? 0xFF : 0x00, FData, static_cast<int>(FByteSize));
}

TNXBooleanBuffer::TNXBooleanBuffer(std::span<const bool> AArray) : TNXBooleanBuffer(CountOf(AArray.size())) {
  if (FByteSize > 0) ippsZero_8u(FData, static_cast<int>(FByteSize));
  for (std::uint32_t i = 0; i < FBitCount; ++i)
    if (AArray[i]) FData[i >> 3] = static_cast<std::uint8_t>(FData[i >> 3] | (1u << (i & 7)));
}

TNXBooleanBuffer::TNXBooleanBuffer(const std::vector<bool>& AList) : TNXBooleanBuffer(CountOf(AList.size())) {
  if (FByteSize > 0) ippsZero_8u(FData, static_cast<int>(FByteSize));
  for (std::uint32_t i = 0; i < FBitCount; ++i)
    if (AList[i]) FData[i >> 3] = static_cast<std::uint8_t>(FData[i >> 3] | (1u << (i & 7)));
}

TNXBooleanBuffer::TNXBooleanBuffer(TNXBooleanBuffer* ASource)
    : TNXLinearMemoryBuffer(NotNil(ASource)), FBitCount(ASource->FBitCount) {}

TNXBooleanBuffer::TNXBooleanBuffer(const TBuffer& ASource)
    : TNXLinearMemoryBuffer(BufferOf(ASource)), FBitCount(static_cast<std::uint32_t>(ASource->GetSize())) {}

TNXBooleanBuffer::TNXBooleanBuffer(const TIntfPtr<INXData>& ASource)
    : TNXBooleanBuffer(UniversalSourceOf<TNXBooleanBuffer>(ASource, kMaxBooleanBytes)) {}

TNXBooleanBuffer::TNXBooleanBuffer(const TNXUniversalSource& ASource)
    : TNXLinearMemoryBuffer(nullptr, ASource.ByteSize, ASource.Block),
      FBitCount(ASource.Same ? static_cast<TNXBooleanBuffer*>(ASource.Same)->FBitCount : ASource.ByteSize * 8) {
  if (ASource.CopyFrom && FByteSize > 0) ippsCopy_8u(ASource.CopyFrom, FData, static_cast<int>(FByteSize));
  if (ASource.Parent->GetCustomCount() > 0) AssignData(ASource.Parent);
}

TIntfPtr<INXData> TNXBooleanBuffer::GetDataCopy() {
  return AdoptNew<INXData>(new TNXBooleanBuffer(this));
}

void TNXBooleanBuffer::Assign(const TIntfPtr<INXDataBuffer>& ASource) {
  TNXGenericBuffer* source = BufferOf(ASource);
  auto* same = dynamic_cast<TNXBooleanBuffer*>(source);
  if (!same && source->GetByteSize() > kMaxBooleanBytes) throw EIntOverflow();
  TNXLinearMemoryBuffer::Assign(ASource);
  FBitCount = same ? same->FBitCount : FByteSize * 8;
}

bool TNXBooleanBuffer::IsEqual(const TIntfPtr<INXDataBuffer>& AOther) const {
  auto* other = AOther ? dynamic_cast<TNXBooleanBuffer*>(AOther->GetInstance()) : nullptr;
  if (!other || other->FBitCount != FBitCount) return false;
  const std::uint32_t full = FBitCount / 8, rest = FBitCount % 8;
  if (full > 0 && std::memcmp(FData, other->FData, full) != 0) return false;
  if (rest == 0) return true;
  const auto mask = static_cast<std::uint8_t>((1u << rest) - 1);
  return (FData[full] & mask) == (other->FData[full] & mask);
}

void TNXBooleanBuffer::CopyTo(std::int32_t ASourceOffset, const TIntfPtr<INXDataBuffer>& ATargetBuffer,
                              std::int32_t ATargetOffset, std::int32_t ACount) {
  auto* target = ATargetBuffer ? dynamic_cast<TNXBooleanBuffer*>(ATargetBuffer->GetInstance()) : nullptr;
  if (!target) {
    TNXLinearMemoryBuffer::CopyTo(ASourceOffset, ATargetBuffer, ATargetOffset, ACount);
    return;
  }
  // Value by value (values need not start on a byte boundary). The target
  // first; when it is Self the two ranges may overlap, and a copy to a later
  // position then runs backwards.
  std::uint8_t* dst = target->Modify();
  const std::uint8_t* src = Read();
  if (ACount <= 0) return;
  const std::uint64_t so = static_cast<std::uint64_t>(ASourceOffset), to = static_cast<std::uint64_t>(ATargetOffset);
  if (dst == src && to > so) {
    for (std::int64_t i = ACount - 1; i >= 0; --i) PutBit(dst, to + i, BitAt(src, so + i));
  } else {
    for (std::int64_t i = 0; i < ACount; ++i) PutBit(dst, to + i, BitAt(src, so + i));
  }
}

bool TNXBooleanBuffer::Resize(std::uint32_t ASize, bool APreserveData) {
  const std::uint32_t bytes = BytesOfBits(ASize);
  if (ASize == 0) {
    TNXLinearMemoryBuffer::Resize(0, APreserveData);
    FBitCount = 0;
    return true;
  }
  if (ASize == FBitCount) return false;
  // The byte level follows the steps of every buffer; a change within the
  // last byte changes only the bit count.
  TNXLinearMemoryBuffer::Resize(bytes, APreserveData);
  FBitCount = ASize;
  return true;
}

TIntfPtr<INXBooleanBufferAccess> TNXBooleanBuffer::Data(TBufferAccessModes AModes) {
  return MakeAccess<TNXBooleanBufferAccess, INXBooleanBufferAccess>(this, AModes);
}

TNXBooleanBuffer::TBuffer TNXBooleanBuffer::AndBuffer(const TBuffer& AOther) {
  const std::uint8_t* src = SourceOf(AOther);
  const std::uint32_t n = std::min(FByteSize, AOther->GetByteSize());
  BytewiseOp(src, Modify(), n, ippsAnd_32u_I, [](std::uint8_t s, std::uint8_t d) { return s & d; });
  return Self();
}

TNXBooleanBuffer::TBuffer TNXBooleanBuffer::OrBuffer(const TBuffer& AOther) {
  const std::uint8_t* src = SourceOf(AOther);
  const std::uint32_t n = std::min(FByteSize, AOther->GetByteSize());
  BytewiseOp(src, Modify(), n, ippsOr_32u_I, [](std::uint8_t s, std::uint8_t d) { return s | d; });
  return Self();
}

TNXBooleanBuffer::TBuffer TNXBooleanBuffer::XorBuffer(const TBuffer& AOther) {
  const std::uint8_t* src = SourceOf(AOther);
  const std::uint32_t n = std::min(FByteSize, AOther->GetByteSize());
  BytewiseOp(src, Modify(), n, ippsXor_32u_I, [](std::uint8_t s, std::uint8_t d) { return s ^ d; });
  return Self();
}

TNXBooleanBuffer::TBuffer TNXBooleanBuffer::AndValue(bool AValue) {
  if (!AValue) Zero();
  return Self();
}

TNXBooleanBuffer::TBuffer TNXBooleanBuffer::OrValue(bool AValue) {
  if (AValue) SetValue(true);
  return Self();
}

TNXBooleanBuffer::TBuffer TNXBooleanBuffer::XorValue(bool AValue) {
  if (AValue) Invert();
  return Self();
}

TNXBooleanBuffer::TBuffer TNXBooleanBuffer::SetValue(bool AValue) {
  ippsSet_8u(AValue ? 0xFF : 0x00, Write(), static_cast<int>(FByteSize));
  return Self();
}

TNXBooleanBuffer::TBuffer TNXBooleanBuffer::Zero() {
  ippsZero_8u(Write(), static_cast<int>(FByteSize));
  return Self();
}

TNXBooleanBuffer::TBuffer TNXBooleanBuffer::Invert() {
  std::uint8_t* d = Modify();
  BytewiseOp(
      d, d, FByteSize, [](const Ipp32u*, Ipp32u* w, int n) { ippsXorC_32u_I(0xFFFFFFFFu, w, n); },
      [](std::uint8_t, std::uint8_t b) { return ~b; });
  return Self();
}

TNXBooleanBuffer::TBuffer TNXBooleanBuffer::InvertBit(std::int32_t AIndex) {
  SetItem(AIndex, !GetItem(AIndex));
  return Self();
}

bool TNXBooleanBuffer::IsEqualToValue(bool AValue) const { return BitsAllEqual(Read(), FBitCount, AValue); }

// ---------------------------------------------------------------- TNXBlockBuffer

TNXBlockBuffer::TNXBlockBuffer() : TNXLinearMemoryBuffer(0u, 1u) {}

TNXBlockBuffer::TNXBlockBuffer(std::uint32_t ASize) : TNXLinearMemoryBuffer(ASize, 1u) {}

TNXBlockBuffer::TNXBlockBuffer(const std::uint8_t* ADataBuffer, std::uint32_t ASize, bool) : TNXBlockBuffer(ASize) {
  if (ADataBuffer && ASize > 0) ippsCopy_8u(ADataBuffer, FData, static_cast<int>(ASize));
}

TNXBlockBuffer::TNXBlockBuffer(TValueInit, std::uint32_t ASize, std::uint8_t AValue) : TNXBlockBuffer(ASize) {
  if (ASize > 0) ippsSet_8u(AValue, FData, static_cast<int>(ASize));
}

TNXBlockBuffer::TNXBlockBuffer(std::span<const std::uint8_t> ABytes)
    : TNXBlockBuffer(ABytes.data(), CountOf(ABytes.size()), false) {}

TNXBlockBuffer::TNXBlockBuffer(const std::vector<std::uint8_t>& AList)
    : TNXBlockBuffer(AList.data(), CountOf(AList.size()), false) {}

TNXBlockBuffer::TNXBlockBuffer(TNXBlockBuffer* ASource) : TNXLinearMemoryBuffer(NotNil(ASource)) {}
TNXBlockBuffer::TNXBlockBuffer(const TBuffer& ASource) : TNXLinearMemoryBuffer(BufferOf(ASource)) {}

TNXBlockBuffer::TNXBlockBuffer(const TIntfPtr<INXData>& ASource)
    : TNXBlockBuffer(UniversalSourceOf<TNXBlockBuffer>(ASource, 0xFFFFFFFFu)) {}

TNXBlockBuffer::TNXBlockBuffer(const TNXUniversalSource& ASource)
    : TNXLinearMemoryBuffer(nullptr, ASource.ByteSize, ASource.Block) {
  if (ASource.CopyFrom && FByteSize > 0) ippsCopy_8u(ASource.CopyFrom, FData, static_cast<int>(FByteSize));
  if (ASource.Parent->GetCustomCount() > 0) AssignData(ASource.Parent);
}

TIntfPtr<INXData> TNXBlockBuffer::GetDataCopy() {
  return AdoptNew<INXData>(new TNXBlockBuffer(this));
}

bool TNXBlockBuffer::IsEqual(const TIntfPtr<INXDataBuffer>& AOther) const {
  return SameClass<TNXBlockBuffer>(AOther) && TNXLinearMemoryBuffer::IsEqual(AOther);
}

TIntfPtr<INXBlockBufferAccess> TNXBlockBuffer::Data(TBufferAccessModes AModes) {
  return MakeAccess<TNXBlockBufferAccess, INXBlockBufferAccess>(this, AModes);
}

void TNXBlockBuffer::Add(const TBuffer& AOther) {
  WithOther(this, AOther, [](const std::uint8_t* s, std::uint8_t* d, int n) { ippsAdd_8u_ISfs(s, d, n, 0); });
}
void TNXBlockBuffer::Subtract(const TBuffer& AOther) {
  WithOther(this, AOther, [](const std::uint8_t* s, std::uint8_t* d, int n) { ippsSub_8u_ISfs(s, d, n, 0); });
}
void TNXBlockBuffer::Multiply(const TBuffer& AOther) {
  WithOther(this, AOther, [](const std::uint8_t* s, std::uint8_t* d, int n) { ippsMul_8u_ISfs(s, d, n, 0); });
}
void TNXBlockBuffer::Divide(const TBuffer& AOther) {
  WithOther(this, AOther, [](const std::uint8_t* s, std::uint8_t* d, int n) {
    for (int i = 0; i < n; ++i) {
      if (s[i] == 0) throw EDivByZero();
      d[i] = static_cast<std::uint8_t>(d[i] / s[i]);
    }
  });
}

void TNXBlockBuffer::SetValue(std::uint8_t AValue) { ippsSet_8u(AValue, Write(), Len(GetSize())); }
void TNXBlockBuffer::Zero() { ippsZero_8u(Write(), Len(GetSize())); }

void TNXBlockBuffer::Append(const TIntfPtr<INXDataBuffer>& AOther) {
  if (!AOther) throw EArgumentException("A source buffer is required");
  const std::uint32_t old = FByteSize, add = AOther->GetByteSize();
  if (add == 0) return;
  Resize(CheckedAddU(old, add), true);
  // Read after the resize: when AOther is Self its bytes are now the first
  // `old` bytes of the grown block. Growth leaves Self the only owner of its
  // block, so the write access copies nothing.
  const std::uint8_t* src = AOther->ByteRead();
  ippsCopy_8u(src, Write() + old, static_cast<int>(add));
}

void TNXBlockBuffer::Remove(std::int32_t AIndex, std::int32_t ACount) {
  const std::int32_t size = GetSize();
  if (AIndex < 0) RaiseAssertion("Assertion failure", "NXSimpleDataBuffer", __LINE__);
  if (AIndex > size) RaiseAssertion("Assertion failure", "NXSimpleDataBuffer", __LINE__);
  // A negative count is refused too, rather than read as a growth.
  if (ACount < 0) RaiseAssertion("Assertion failure", "NXSimpleDataBuffer", __LINE__);
  if (std::int64_t{AIndex} + ACount > size) ACount = size - AIndex;
  if (ACount == 0) return;
  // Read the kept bytes from a sharing copy into a fresh block of the new size.
  const TBuffer copy(new TNXBlockBuffer(this));
  const std::uint8_t* src = copy->Read();
  Resize(static_cast<std::uint32_t>(size - ACount), false);
  if (size - ACount == 0) return;
  std::uint8_t* dst = Write();
  if (AIndex > 0) ippsCopy_8u(src, dst, AIndex);
  const std::int32_t tail = size - AIndex - ACount;
  if (tail > 0) ippsCopy_8u(src + AIndex + ACount, dst + AIndex, tail);
}

bool TNXBlockBuffer::IsEqualToValue(std::uint8_t AValue) const { return AllEqual(Read(), GetSize(), AValue); }

void TNXBooleanBuffer::LoadFromStream(TStream& AStream, bool AResize) {
  if (AResize) {
    const std::int64_t left = AStream.Size() - AStream.Position();
    const std::uint64_t bits = left > 0 ? static_cast<std::uint64_t>(left) * 8u : 0;
    if (bits > 0x7FFFFFFFu) throw EIntOverflow();
    Resize(static_cast<std::uint32_t>(bits), false);
  }
  TNXMemoryBuffer::LoadFromStream(AStream, false);
}

void TNXBooleanBuffer::InternalSerializationWrite(IWriter& AWriter) { AWriter.WriteUInt32("Size", FBitCount); }

void TNXBooleanBuffer::InternalSerializationRead(IReader& AReader) {
  std::uint32_t bits = 0;
  if (!AReader.ReadUInt32("Size", bits)) return;
  std::uint64_t stored = 0;
  AReader.BytesLength("Data", stored);
  if ((static_cast<std::uint64_t>(bits) + 7) / 8 > stored)
    throw ESerializationError(Format("Size %u bits is larger than the stored data (%llu bytes)", bits,
                                     static_cast<unsigned long long>(stored)));
  Resize(bits, false);
}

}  // namespace nx
