// Zandor.Variants: the tagged value and its shared string blocks.
#include "runtime/Zandor.Variants.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

namespace nx {

namespace {
TVarBlock* Build(void* memory, std::string_view bytes, std::uint32_t flags) noexcept {
  auto* b = static_cast<TVarBlock*>(memory);
  new (&b->RefCount) std::atomic<std::int32_t>(1);
  b->LengthBits = static_cast<std::uint32_t>(bytes.size()) | flags;
  if (!bytes.empty()) std::memcpy(b->Data(), bytes.data(), bytes.size());
  b->Data()[bytes.size()] = 0;
  return b;
}
}  // namespace

TVarBlock* TVarBlock::Place(void* memory, std::string_view bytes) noexcept { return Build(memory, bytes, kPooled); }

TVarBlock* TVarBlock::New(std::string_view bytes) {
  if (bytes.size() >= kPooled) throw std::length_error("TVarBlock: 2 GiB or more");
  void* memory = std::malloc(SizeFor(bytes.size()));
  if (!memory) throw std::bad_alloc();
  return Build(memory, bytes, 0);
}

void TVarBlock::Release() noexcept {
  // Holding the only reference, nobody else can change the count: the
  // atomic read-modify-write is only needed while the block is shared.
  if (RefCount.load(std::memory_order_acquire) != 1 && RefCount.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  if (Pooled()) {
    auto chunk = reinterpret_cast<std::uintptr_t>(this) & ~(kVarPoolChunkSize - 1);
    (*reinterpret_cast<TVarBlockOwner**>(chunk))->ReleaseBlock();
  } else {
    std::free(this);
  }
}

TVariant TVariant::Bytes(const void* data, std::size_t size) {
  return TVariant(varByteArray, std::string_view(static_cast<const char*>(data), size));
}

TVariant TVariant::FromRaw(TVarType type, std::uint64_t bits) noexcept {
  TVariant v;
  v.FType = type;
  switch (type) {
    case varSmallint: v.FU.I64 = static_cast<std::int16_t>(bits); break;
    case varInteger: v.FU.I64 = static_cast<std::int32_t>(bits); break;
    case varShortInt: v.FU.I64 = static_cast<std::int8_t>(bits); break;
    case varByte: v.FU.U64 = static_cast<std::uint8_t>(bits); break;
    case varWord: v.FU.U64 = static_cast<std::uint16_t>(bits); break;
    case varLongWord: v.FU.U64 = static_cast<std::uint32_t>(bits); break;
    case varBoolean: v.FU.B = static_cast<std::uint16_t>(bits) != 0; break;
    case varSingle: {
      const std::uint32_t b32 = static_cast<std::uint32_t>(bits);
      std::memcpy(&v.FU.F, &b32, 4);
      break;
    }
    case varDouble:
    case varDate: std::memcpy(&v.FU.D, &bits, 8); break;
    default: v.FU.U64 = bits; break;  // currency, int64, uint64
  }
  return v;
}

bool TVariant::IsInteger() const noexcept {
  switch (FType) {
    case varSmallint: case varInteger: case varShortInt: case varByte: case varWord:
    case varLongWord: case varInt64: case varUInt64:
      return true;
    default:
      return false;
  }
}

std::int64_t TVariant::AsInt64() const noexcept {
  if (FType == varBoolean) return FU.B ? 1 : 0;
  return IsInteger() ? FU.I64 : 0;
}

double TVariant::AsDouble() const noexcept {
  switch (FType) {
    case varSingle: return FU.F;
    case varDouble: case varDate: return FU.D;
    case varCurrency: return static_cast<double>(FU.I64) / 10000.0;
    case varUInt64: return static_cast<double>(FU.U64);
    default: return static_cast<double>(AsInt64());
  }
}

std::uint64_t TVariant::RawBits() const noexcept {
  switch (FType) {
    case varSingle: {
      std::uint32_t b32;
      std::memcpy(&b32, &FU.F, 4);
      return b32;
    }
    case varDouble: case varDate: {
      std::uint64_t b;
      std::memcpy(&b, &FU.D, 8);
      return b;
    }
    case varBoolean: return FU.B ? 0xFFFF : 0;
    default: return FU.U64;
  }
}

std::vector<std::uint8_t> TVariant::AsBytes() const {
  const std::string_view v = StrView();
  return std::vector<std::uint8_t>(v.begin(), v.end());
}

bool operator==(const TVariant& a, const TVariant& b) noexcept {
  if (a.FType != b.FType) return false;
  if (a.IsBlockType()) return a.StrView() == b.StrView();
  if (a.FType == varEmpty || a.FType == varNull) return true;
  if (a.FType == varBoolean) return a.FU.B == b.FU.B;
  return a.RawBits() == b.RawBits();
}

}  // namespace nx
