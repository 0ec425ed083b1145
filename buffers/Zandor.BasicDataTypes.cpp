// Zandor.BasicDataTypes: the data base class, its custom list and its
// serialisation, and the bit set TRGBits.
#include "buffers/Zandor.BasicDataTypes.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "runtime/SysUtils.h"
#include "runtime/Zandor.ClassManagement.h"
#include "runtime/Zandor.Serialization.h"

namespace nx {

void TNXData::AddCustom(const TIntfPtr<INXData>& AData) { FCustom.push_back(AData); }

TIntfPtr<INXData> TNXData::GetCustom(std::int32_t AIndex) {
  if (AIndex < 0 || static_cast<std::size_t>(AIndex) >= FCustom.size())
    RaiseIndexOutOfRange(AIndex);
  return FCustom[static_cast<std::size_t>(AIndex)];
}

void TNXData::AssignData(INXData* ASource) {
  if (ASource == static_cast<INXData*>(this)) return;
  // Copy first, then swap in: a failing copy leaves the list as it was.
  std::vector<TIntfPtr<INXData>> items;
  if (ASource) {
    const std::int32_t n = ASource->GetCustomCount();
    items.reserve(static_cast<std::size_t>(n));
    for (std::int32_t i = 0; i < n; ++i) {
      TIntfPtr<INXData> item = ASource->GetCustom(i);
      items.push_back(item ? item->GetDataCopy() : TIntfPtr<INXData>());
    }
  }
  FCustom.swap(items);
}

// ---------------------------------------------------------------- serialisation

namespace {

// A null object is written with an empty class name (no class registers
// under it) and no members.
std::string NameOf(INXData* AData) {
  return AData ? TClassManagement::ClassNameOf(*AData->GetInstance()) : std::string();
}

// The object whose members are current in AReader, as a new object of
// AClassName (null for the empty name).
TIntfPtr<INXData> ReadCurrent(IReader& AReader, const std::string& AClassName) {
  if (AClassName.empty()) return nullptr;
  TIntfPtr<INXData> obj = Supports<INXData>(TClassManagement::CreateObject(AClassName));
  if (!obj) throw ESerializationError(Format("Class %s is not a data class", AClassName.c_str()));
  obj->GetInstance()->SerializationRead(AReader);
  return obj;
}

}  // namespace

void TNXData::SerializationRead(IReader& AReader) {
  InternalSerializationRead(AReader);
  ReadCustom(AReader);
}

void TNXData::SerializationWrite(IWriter& AWriter) {
  WriteCustom(AWriter);
  InternalSerializationWrite(AWriter);
}

void TNXData::WriteCustom(IWriter& AWriter) {
  AWriter.BeginList("Custom");
  for (const TIntfPtr<INXData>& item : FCustom) {
    AWriter.BeginItem(NameOf(item.Get()));
    if (item) item->GetInstance()->SerializationWrite(AWriter);
    AWriter.EndItem();
  }
  AWriter.EndList();
}

void TNXData::ReadCustom(IReader& AReader) {
  std::uint32_t count = 0;
  if (!AReader.BeginList("Custom", count)) return;
  // Read into a list of our own and swap it in at the end: a failure halfway
  // leaves the custom list as it was, and the items read so far are released.
  std::vector<TIntfPtr<INXData>> items;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::string name;
    AReader.BeginItem(name);
    items.push_back(ReadCurrent(AReader, name));
    AReader.EndItem();
  }
  AReader.EndList();
  FCustom.swap(items);
}

void NXWriteDataObject(IWriter& AWriter, std::string_view AKey, INXData* AData) {
  AWriter.BeginObject(AKey, NameOf(AData));
  if (AData) AData->GetInstance()->SerializationWrite(AWriter);
  AWriter.EndObject();
}

TIntfPtr<INXData> NXReadDataObject(IReader& AReader, std::string_view AKey) {
  std::string name;
  if (!AReader.BeginObject(AKey, name)) return nullptr;
  TIntfPtr<INXData> obj = ReadCurrent(AReader, name);
  AReader.EndObject();
  return obj;
}

void NXSaveDataObject(TStream& AStream, INXData* AData) {
  TBinaryWriter writer(AStream, NameOf(AData));
  if (AData) AData->GetInstance()->SerializationWrite(writer);
  writer.Finish();
}

TIntfPtr<INXData> NXLoadDataObject(TStream& AStream) {
  TBinaryReader reader(AStream);
  TIntfPtr<INXData> obj = ReadCurrent(reader, reader.RootClassName());
  reader.Finish();
  return obj;
}

std::string NXDataObjectToBytes(INXData* AData) {
  TStringStream stream;
  NXSaveDataObject(stream, AData);
  return stream.DataString();
}

TIntfPtr<INXData> NXDataObjectFromBytes(std::string_view ABytes) {
  TStringStream stream{std::string(ABytes)};
  return NXLoadDataObject(stream);
}

// ---------------------------------------------------------------- TRGBits

namespace {

std::int32_t NonNegative(std::int32_t ACount) noexcept { return ACount < 0 ? 0 : ACount; }
std::size_t BytesFor(std::int32_t ACount) noexcept { return (static_cast<std::size_t>(ACount) + 7) / 8; }

// The meaningful bits of byte AByte of a set of ACount bits.
std::uint8_t UsedMask(std::int32_t ACount, std::size_t AByte) noexcept {
  const std::size_t full = static_cast<std::size_t>(ACount) / 8;
  if (AByte < full) return 0xFF;
  if (AByte > full) return 0;
  return static_cast<std::uint8_t>((1u << (ACount % 8)) - 1u);
}

}  // namespace

TRGBits::TRGBits(std::int32_t ACount, bool AValue) : FCount(NonNegative(ACount)) {
  FBytes.assign(BytesFor(FCount), 0);
  if (AValue) {
    // Only the count bits are set: the rest of the last byte stays clear.
    for (std::size_t i = 0; i < FBytes.size(); ++i) FBytes[i] = UsedMask(FCount, i);
  }
}

TRGBits::TRGBits(TByteArrayInit, std::vector<std::uint8_t> ABytes, std::int32_t ACount)
    : FBytes(std::move(ABytes)), FCount(NonNegative(ACount)) {
  FBytes.resize(BytesFor(FCount), 0);
}

TRGBits::TRGBits(const void* AData, std::int32_t ACount) : FCount(NonNegative(ACount)) {
  FBytes.assign(BytesFor(FCount), 0);
  if (AData && !FBytes.empty()) std::memcpy(FBytes.data(), AData, FBytes.size());
}

TRGBits::TRGBits(IRGBits* AOther) {
  if (AOther) {
    FCount = AOther->GetCount();
    FBytes = AOther->GetArray();
  }
}

TIntfPtr<INXData> TRGBits::GetDataCopy() { return TIntfPtr<INXData>(static_cast<INXData*>(new TRGBits(this))); }

IRGBits::TBits TRGBits::GetCopy() { return TBits(new TRGBits(this)); }

IRGBits::TBits TRGBits::GetCopySize(std::int32_t ACount) {
  TBits result(new TRGBits(ACount, false));
  TRGBits* r = static_cast<TRGBits*>(result->GetInstance());
  const std::int32_t common = std::min(FCount, r->FCount);
  const std::size_t bytes = BytesFor(common);
  if (bytes) {
    std::memcpy(r->FBytes.data(), FBytes.data(), bytes);
    r->FBytes[bytes - 1] &= UsedMask(common, bytes - 1);  // bits beyond the copied ones start clear
  }
  return result;
}

IRGBits::TBits TRGBits::Assign(const TIntfPtr<INXData>& ASource) {
  TIntfPtr<IRGBits> source = Supports<IRGBits>(ASource.Get());
  if (source && source.Get() != static_cast<IRGBits*>(this)) {
    FBytes = source->GetArray();
    FCount = source->GetCount();
  }
  return Self();
}

std::uint8_t TRGBits::LastByteMask() const noexcept {
  return FCount % 8 ? static_cast<std::uint8_t>((1u << (FCount % 8)) - 1u) : 0xFF;
}

IRGBits::TBits TRGBits::OrBy(bool AValue) {
  if (AValue) std::fill(FBytes.begin(), FBytes.end(), std::uint8_t{0xFF});
  return Self();
}

IRGBits::TBits TRGBits::AndBy(bool AValue) {
  if (!AValue) std::fill(FBytes.begin(), FBytes.end(), std::uint8_t{0});
  return Self();
}

IRGBits::TBits TRGBits::XorBy(bool AValue) {
  if (AValue)
    for (std::uint8_t& b : FBytes) b = static_cast<std::uint8_t>(~b);
  return Self();
}

// The other's bits beyond its count carry no meaning, so they must not reach
// this set's bits: they are replaced by AFillBeyond (0 for or / exclusive or,
// 1 for and, leaving this set's bits as they were). This set grows as if its
// missing bits were zero: bits uncovered by a larger count are cleared first.
// The set grows only when the other's byte array is longer than its own: a
// set combined with one of more bits in the same number of bytes (6 bits with
// 8) keeps its count, and the other's extra bits land beyond it, where they
// carry no meaning.
template <class TOp>
IRGBits::TBits TRGBits::Combine(const TBits& AOther, TOp AOp, std::uint8_t AFillBeyond) {
  if (!AOther) return Self();
  // Read the other's state first: it may be this very set.
  const std::vector<std::uint8_t> other = AOther->GetArray();
  const std::int32_t otherCount = AOther->GetCount();
  if (other.size() > FBytes.size() && otherCount > FCount) {
    if (!FBytes.empty() && FCount % 8) FBytes[static_cast<std::size_t>(FCount) / 8] &= LastByteMask();
    for (std::size_t i = BytesFor(FCount); i < FBytes.size(); ++i) FBytes[i] = 0;
    FCount = otherCount;
  }
  if (other.size() > FBytes.size()) FBytes.resize(other.size(), 0);
  for (std::size_t i = 0; i < other.size(); ++i) {
    const std::uint8_t m = UsedMask(otherCount, i);
    const std::uint8_t b = static_cast<std::uint8_t>((other[i] & m) | (AFillBeyond & ~m));
    FBytes[i] = AOp(FBytes[i], b);
  }
  return Self();
}

IRGBits::TBits TRGBits::OrBy(const TBits& AOther) {
  return Combine(AOther, [](std::uint8_t a, std::uint8_t b) { return static_cast<std::uint8_t>(a | b); }, 0);
}
IRGBits::TBits TRGBits::AndBy(const TBits& AOther) {
  return Combine(AOther, [](std::uint8_t a, std::uint8_t b) { return static_cast<std::uint8_t>(a & b); }, 0xFF);
}
IRGBits::TBits TRGBits::XorBy(const TBits& AOther) {
  return Combine(AOther, [](std::uint8_t a, std::uint8_t b) { return static_cast<std::uint8_t>(a ^ b); }, 0);
}

bool TRGBits::EqualsBits(const TBits& AOther) {
  if (!AOther || AOther->GetCount() != FCount) return false;
  const std::vector<std::uint8_t>& other = AOther->GetArray();
  const std::size_t bytes = BytesFor(FCount);
  if (other.size() < bytes || FBytes.size() < bytes) return false;
  for (std::size_t i = 0; i < bytes; ++i)
    if ((FBytes[i] ^ other[i]) & UsedMask(FCount, i)) return false;
  return true;
}

// Growing clears the bits it uncovers in the old last byte: they carried no
// meaning and now become values, and a grown set reads as zero-extended.
IRGBits::TBits TRGBits::Resize(std::int32_t ACount) {
  const std::int32_t count = NonNegative(ACount);
  if (count > FCount && !FBytes.empty() && FCount % 8 && static_cast<std::size_t>(FCount) / 8 < FBytes.size())
    FBytes[static_cast<std::size_t>(FCount) / 8] &= LastByteMask();
  const std::size_t keep = std::min(FBytes.size(), BytesFor(FCount));
  FBytes.resize(count == 0 ? 1 : static_cast<std::size_t>(count - 1) / 8 + 1, 0);
  for (std::size_t i = keep; i < FBytes.size(); ++i) FBytes[i] = 0;
  FCount = count;
  return Self();
}

std::uint64_t TRGBits::ReadNumber(unsigned ABits) {
  std::uint64_t value = 0;
  const std::size_t bytes = std::min(FBytes.size(), BytesFor(FCount));
  for (std::size_t i = 0; i < bytes; ++i) {
    const std::uint64_t b = FBytes[i] & UsedMask(FCount, i);
    if (!b) continue;
    if (i >= 8 || (ABits < 64 && (b << (8 * i)) >> ABits)) throw EIntOverflow();
    value |= b << (8 * i);
  }
  return value;
}

std::int32_t TRGBits::ToInteger() { return static_cast<std::int32_t>(ReadNumber(31)); }
std::uint64_t TRGBits::ToUInt64() { return ReadNumber(64); }

void TRGBits::WriteNumber(std::uint64_t AValue, unsigned ABits, bool AResize) {
  if (AResize && FCount < static_cast<std::int32_t>(ABits)) Resize(static_cast<std::int32_t>(ABits));
  std::fill(FBytes.begin(), FBytes.end(), std::uint8_t{0});
  const std::size_t n = std::min(FBytes.size(), BytesFor(std::min<std::int32_t>(FCount, static_cast<std::int32_t>(ABits))));
  for (std::size_t i = 0; i < n; ++i) FBytes[i] = static_cast<std::uint8_t>(AValue >> (8 * i));
  if (n && FCount < static_cast<std::int32_t>(ABits)) FBytes[n - 1] &= UsedMask(FCount, n - 1);
}

IRGBits::TBits TRGBits::FromInteger(std::int32_t AValue, bool AResize) {
  WriteNumber(static_cast<std::uint32_t>(AValue), 32, AResize);
  return Self();
}

IRGBits::TBits TRGBits::FromUInt64(std::uint64_t AValue, bool AResize) {
  WriteNumber(AValue, 64, AResize);
  return Self();
}

// Reading beyond the count is refused like writing there: a bit there has no meaning.
bool TRGBits::GetBit(std::int32_t AIndex) {
  if (AIndex < 0 || AIndex >= FCount) RaiseIndexOutOfRange(AIndex);
  return (FBytes[static_cast<std::size_t>(AIndex) / 8] >> (AIndex % 8)) & 1u;
}

IRGBits::TBits TRGBits::SetBit(std::int32_t AIndex, bool AValue) {
  if (AIndex < 0 || AIndex >= FCount) RaiseIndexOutOfRange(AIndex);
  std::uint8_t& b = FBytes[static_cast<std::size_t>(AIndex) / 8];
  const std::uint8_t bit = static_cast<std::uint8_t>(1u << (AIndex % 8));
  b = AValue ? static_cast<std::uint8_t>(b | bit) : static_cast<std::uint8_t>(b & ~bit);
  return Self();
}

IRGBits::TBits TRGBits::GetBits(std::int32_t AIndex, std::int32_t ACount) {
  if (ACount <= 0) RaiseRange("Count must be bigger than zero");
  if (AIndex < 0 || static_cast<std::int64_t>(AIndex) + ACount > FCount) RaiseIndexOutOfRange(AIndex);
  TBits result(new TRGBits(ACount, false));
  TRGBits* r = static_cast<TRGBits*>(result->GetInstance());
  for (std::int32_t i = 0; i < ACount; ++i)
    if ((FBytes[static_cast<std::size_t>(AIndex + i) / 8] >> ((AIndex + i) % 8)) & 1u)
      r->FBytes[static_cast<std::size_t>(i) / 8] |= static_cast<std::uint8_t>(1u << (i % 8));
  return result;
}

// Bit by bit through SetBit: a position beyond the count raises after the
// bits before it were written.
IRGBits::TBits TRGBits::SetBits(std::int32_t AIndex, const TBits& ABits) {
  if (!ABits) return Self();
  const TBits source = ABits.Get() == static_cast<IRGBits*>(this) ? GetCopy() : ABits;
  const std::int32_t n = source->GetCount();
  for (std::int32_t i = 0; i < n; ++i) {
    const std::int64_t pos = static_cast<std::int64_t>(AIndex) + i;
    if (pos > INT32_MAX) RaiseIndexOutOfRange(static_cast<std::int32_t>(static_cast<std::uint32_t>(pos)));
    SetBit(static_cast<std::int32_t>(pos), source->GetBit(i));
  }
  return Self();
}

IRGBits::TBits TRGBits::SetByteData(std::vector<std::uint8_t> ABytes, std::int32_t ACount) {
  FCount = NonNegative(ACount);
  FBytes = std::move(ABytes);
  FBytes.resize(BytesFor(FCount), 0);
  return Self();
}

IRGBits::TBits TRGBits::SetByteData(const void* AData, std::int32_t ACount) {
  const std::int32_t count = NonNegative(ACount);
  std::vector<std::uint8_t> bytes(BytesFor(count), 0);
  if (AData && !bytes.empty()) std::memcpy(bytes.data(), AData, bytes.size());
  FBytes.swap(bytes);
  FCount = count;
  return Self();
}

void TRGBits::InternalSerializationWrite(IWriter& AWriter) {
  AWriter.WriteInt32("Count", FCount);
  AWriter.WriteBytes("Bits", FBytes.data(), BytesFor(FCount));
}

// The stored bytes must cover the stored count; nothing changes otherwise.
void TRGBits::InternalSerializationRead(IReader& AReader) {
  std::int32_t count = 0;
  if (!AReader.ReadInt32("Count", count)) return;
  if (count < 0) throw ESerializationError(Format("Negative bit count %d", count));
  std::uint64_t stored = 0;
  if (!AReader.BytesLength("Bits", stored) || stored < BytesFor(count))
    throw ESerializationError(Format("%d bits need more than the %llu stored bytes", count,
                                     static_cast<unsigned long long>(stored)));
  std::vector<std::uint8_t> bytes;
  AReader.ReadBytes("Bits", bytes);
  SetByteData(std::move(bytes), count);
}

}  // namespace nx
