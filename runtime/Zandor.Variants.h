// Zandor.Variants: a small tagged value (TVariant) for documents and property
// storage. It holds nothing, null, an integer of 8/16/32/64 bits (signed or
// unsigned), a single or double float, currency (an integer scaled by 10000),
// a date-time (days since 1899-12-30 as a double), a Boolean, a string (wide,
// 8-bit or Unicode; all kept as UTF-8 text, the type code only records which
// kind it is) or a byte array. The type codes are the classic variant codes,
// so they can be stored as they are in files.
//
// A TVariant is 16 bytes. Strings and byte arrays of up to 8 bytes are held
// in the variant itself (most attribute values and short texts: no block, no
// reference counting); longer ones live in shared, immutable,
// reference-counted blocks: copying a variant never copies a long text. A
// block may come from an arena (TVarBlockOwner): then the arena, not the
// heap, reclaims it when its last reference goes. StrView of a short value
// points into the variant, so it is valid as long as that variant lives and
// is not changed.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/Zandor.Interfaces.h"

namespace nx {

using TVarType = std::uint16_t;

inline constexpr TVarType varEmpty = 0x0000;
inline constexpr TVarType varNull = 0x0001;
inline constexpr TVarType varSmallint = 0x0002;  // 16-bit signed
inline constexpr TVarType varInteger = 0x0003;   // 32-bit signed
inline constexpr TVarType varSingle = 0x0004;
inline constexpr TVarType varDouble = 0x0005;
inline constexpr TVarType varCurrency = 0x0006;  // int64 scaled by 10000
inline constexpr TVarType varDate = 0x0007;      // days since 1899-12-30
inline constexpr TVarType varOleStr = 0x0008;    // wide string
inline constexpr TVarType varBoolean = 0x000B;
inline constexpr TVarType varUnknown = 0x000D;  // interface reference
inline constexpr TVarType varShortInt = 0x0010;  // 8-bit signed
inline constexpr TVarType varByte = 0x0011;      // 8-bit unsigned
inline constexpr TVarType varWord = 0x0012;      // 16-bit unsigned
inline constexpr TVarType varLongWord = 0x0013;  // 32-bit unsigned
inline constexpr TVarType varInt64 = 0x0014;
inline constexpr TVarType varUInt64 = 0x0015;
inline constexpr TVarType varString = 0x0100;   // 8-bit-character string
inline constexpr TVarType varUString = 0x0102;  // Unicode string
inline constexpr TVarType varArray = 0x2000;
inline constexpr TVarType varByteArray = varArray | varByte;  // 0x2011

// Whoever hands out pooled blocks; told when one of its blocks is dead.
// Pooled blocks live in memory whose 64 KiB-aligned chunk starts with a
// pointer to their owner (kVarPoolChunkSize), so a block needs no owner
// field of its own.
class TVarBlockOwner {
 public:
  virtual void ReleaseBlock() noexcept = 0;

 protected:
  ~TVarBlockOwner() = default;
};
inline constexpr std::size_t kVarPoolChunkSize = std::size_t{1} << 16;

// The shared block behind a string or byte array: an 8-byte header followed
// by the bytes and a terminating zero byte. Strings are below 2 GiB: the top
// bit of the length word marks a pooled block.
struct TVarBlock {
  std::atomic<std::int32_t> RefCount;
  std::uint32_t LengthBits;

  static constexpr std::uint32_t kPooled = 0x80000000u;
  std::uint32_t Length() const noexcept { return LengthBits & ~kPooled; }
  bool Pooled() const noexcept { return (LengthBits & kPooled) != 0; }
  char* Data() noexcept { return reinterpret_cast<char*>(this + 1); }
  const char* Data() const noexcept { return reinterpret_cast<const char*>(this + 1); }
  std::string_view View() const noexcept { return {Data(), Length()}; }

  // The bytes a block of `length` bytes takes (header, data, zero byte).
  static constexpr std::size_t SizeFor(std::size_t length) noexcept { return sizeof(TVarBlock) + length + 1; }
  // A heap block holding a copy of `bytes`, count 1.
  static TVarBlock* New(std::string_view bytes);
  // Builds a pooled block with count 1 in `memory` (SizeFor(bytes.size())
  // bytes inside a chunk whose first word is its TVarBlockOwner*).
  static TVarBlock* Place(void* memory, std::string_view bytes) noexcept;
  void AddRef() noexcept { RefCount.fetch_add(1, std::memory_order_relaxed); }
  void Release() noexcept;
};
static_assert(sizeof(TVarBlock) == 8);

class TVariant {
 public:
  TVariant() noexcept = default;
  TVariant(const TVariant& v) noexcept : FType(v.FType), FStore(v.FStore), FU(v.FU) {
    if (FStore >= kInIntf) Retain();
  }
  TVariant(TVariant&& v) noexcept : FType(v.FType), FStore(v.FStore), FU(v.FU) {
    v.FType = varEmpty;
    v.FStore = kNoText;
  }
  TVariant& operator=(const TVariant& v) noexcept {
    TVariant copy(v);
    Swap(copy);
    return *this;
  }
  TVariant& operator=(TVariant&& v) noexcept {
    TVariant moved(std::move(v));
    Swap(moved);
    return *this;
  }
  ~TVariant() {
    if (FStore >= kInIntf) Drop();
  }

  // Typed construction: C++ types map to the natural variant type.
  TVariant(bool b) noexcept : FType(varBoolean) { FU.B = b; }
  TVariant(std::int8_t v) noexcept : FType(varShortInt) { FU.I64 = v; }
  TVariant(std::uint8_t v) noexcept : FType(varByte) { FU.U64 = v; }
  TVariant(std::int16_t v) noexcept : FType(varSmallint) { FU.I64 = v; }
  TVariant(std::uint16_t v) noexcept : FType(varWord) { FU.U64 = v; }
  TVariant(std::int32_t v) noexcept : FType(varInteger) { FU.I64 = v; }
  TVariant(std::uint32_t v) noexcept : FType(varLongWord) { FU.U64 = v; }
  TVariant(long v) noexcept : FType(varInt64) { FU.I64 = v; }
  TVariant(long long v) noexcept : FType(varInt64) { FU.I64 = v; }
  TVariant(unsigned long v) noexcept : FType(varUInt64) { FU.U64 = v; }
  TVariant(unsigned long long v) noexcept : FType(varUInt64) { FU.U64 = v; }
  TVariant(float v) noexcept : FType(varSingle) { FU.F = v; }
  TVariant(double v) noexcept : FType(varDouble) { FU.D = v; }
  // Strings become Unicode strings (varUString).
  TVariant(std::string_view s) : TVariant(varUString, s) {}
  TVariant(const std::string& s) : TVariant(varUString, std::string_view(s)) {}
  TVariant(const char* s) : TVariant(varUString, std::string_view(s)) {}

  // An interface reference (varUnknown); a null pointer gives an empty
  // reference of that type. The variant takes a reference of its own.
  static TVariant Interface(IInterface* AIntf) noexcept {
    TVariant v;
    v.FType = varUnknown;
    v.FStore = kInIntf;
    v.FU.Intf = AIntf;
    if (AIntf) AIntf->_AddRef();
    return v;
  }
  template <class T>
  static TVariant Interface(const TIntfPtr<T>& AIntf) noexcept {
    return Interface(static_cast<IInterface*>(AIntf.Get()));
  }

  static TVariant Null() noexcept {
    TVariant v;
    v.FType = varNull;
    return v;
  }
  // A string of the given string type (varOleStr, varString or varUString).
  static TVariant String(TVarType type, std::string_view utf8) { return TVariant(type, utf8); }
  static TVariant Currency(std::int64_t scaledBy10000) noexcept {
    TVariant v;
    v.FType = varCurrency;
    v.FU.I64 = scaledBy10000;
    return v;
  }
  static TVariant Date(double days) noexcept {
    TVariant v;
    v.FType = varDate;
    v.FU.D = days;
    return v;
  }
  static TVariant Bytes(const void* data, std::size_t size);
  static TVariant Bytes(const std::vector<std::uint8_t>& bytes) { return Bytes(bytes.data(), bytes.size()); }
  // Adopts a block (with the reference the caller holds) as a string or byte
  // array, whatever its length.
  static TVariant FromBlock(TVarType type, TVarBlock* block) noexcept {
    TVariant v;
    v.FType = type;
    v.FStore = kInBlock;
    v.FU.Block = block;
    return v;
  }
  // Raw numeric construction for readers of stored values: the low bits of
  // `bits` are the value of a numeric type (an integer sign-extended or
  // zero-extended as the type says; a float's bit pattern for float types).
  static TVariant FromRaw(TVarType type, std::uint64_t bits) noexcept;

  TVarType VType() const noexcept { return FType; }
  bool IsEmpty() const noexcept { return FType == varEmpty; }
  bool IsNull() const noexcept { return FType == varNull; }
  bool IsString() const noexcept { return FType == varOleStr || FType == varString || FType == varUString; }
  bool IsBytes() const noexcept { return FType == varByteArray; }
  bool IsInteger() const noexcept;
  bool IsFloat() const noexcept { return FType == varSingle || FType == varDouble; }

  // The text of a string or the bytes of a byte array (empty for other types).
  std::string_view StrView() const noexcept {
    if (FStore >= kInIntf) return FStore == kInBlock ? FU.Block->View() : std::string_view();
    return FStore ? std::string_view(FU.Chars, FStore - 1u) : std::string_view();
  }
  // The value of an integer, Boolean (0/1) type; 0 for others.
  std::int64_t AsInt64() const noexcept;
  std::uint64_t AsUInt64() const noexcept { return FType == varUInt64 ? FU.U64 : static_cast<std::uint64_t>(AsInt64()); }
  // The value of a float, currency, date or integer type as a double; 0 for others.
  double AsDouble() const noexcept;
  bool AsBool() const noexcept { return FType == varBoolean && FU.B; }
  // The interface of a varUnknown value (null for other types; no new reference).
  IInterface* AsInterface() const noexcept { return FStore == kInIntf ? FU.Intf : nullptr; }
  // Interface I of a varUnknown value; empty when the value lacks it.
  template <IsInterface I>
  TIntfPtr<I> AsIntf() const noexcept {
    return Supports<I>(AsInterface());
  }
  // The raw 64-bit payload (a float's bit pattern, a single's widened to its
  // own 32 bits in the low half).
  std::uint64_t RawBits() const noexcept;
  std::vector<std::uint8_t> AsBytes() const;

  // Same type and same value (strings and byte arrays by content, floats by bits).
  friend bool operator==(const TVariant& a, const TVariant& b) noexcept;

  void Swap(TVariant& o) noexcept {
    std::swap(FType, o.FType);
    std::swap(FStore, o.FStore);
    std::swap(FU, o.FU);
  }
  void Clear() noexcept { TVariant().Swap(*this); }

 private:
  static constexpr std::size_t kInlineMax = 8;
  TVariant(TVarType type, std::string_view text) : FType(type) {
    if (text.size() <= kInlineMax) {
      FStore = static_cast<std::uint8_t>(text.size() + 1);
      if (!text.empty()) std::memcpy(FU.Chars, text.data(), text.size());
    } else {
      FU.Block = TVarBlock::New(text);
      FStore = kInBlock;
    }
  }
  bool IsBlockType() const noexcept {
    return FType == varOleStr || (FType & ~TVarType{2}) == varString || FType == varByteArray;  // varString, varUString
  }
  bool HasBlock() const noexcept { return FStore == kInBlock; }
  // Take or give back the counted payload (a block or an interface).
  void Retain() const noexcept {
    if (FStore == kInBlock)
      FU.Block->AddRef();
    else if (FU.Intf)
      FU.Intf->_AddRef();
  }
  void Drop() const noexcept {
    if (FStore == kInBlock)
      FU.Block->Release();
    else if (FU.Intf)
      FU.Intf->_Release();
  }

  // Where the text or bytes of a string or byte array are: kNoText for the
  // other types, 1 + length when held in FU.Chars, kInBlock in FU.Block;
  // kInIntf marks an interface in FU.Intf. Both counted kinds are at the top
  // so that copying and destruction test one comparison.
  static constexpr std::uint8_t kNoText = 0, kInIntf = 0xFE, kInBlock = 0xFF;
  TVarType FType = varEmpty;
  std::uint8_t FStore = kNoText;
  union U {
    std::int64_t I64;
    std::uint64_t U64;
    double D;
    float F;
    bool B;
    TVarBlock* Block;
    IInterface* Intf;
    char Chars[kInlineMax];
  } FU{};
};
static_assert(sizeof(TVariant) == 16);

}  // namespace nx
