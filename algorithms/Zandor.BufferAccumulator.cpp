// Zandor.BufferAccumulator: the byte-stream accumulator.
//
// An arriving buffer is listed as a sharing copy of itself (a new buffer
// object on the same data block; no bytes are copied). Neither side can then
// change what the other sees: a caller that later writes to its buffer gets
// its own block by copy on write, and a coalescing append here grows an
// object that only this accumulator holds.
#include "algorithms/Zandor.BufferAccumulator.h"

#include <algorithm>
#include <cstring>

#include "runtime/SysUtils.h"

namespace nx {

TBufferAccumulator::TBufferAccumulator(TBufferAccumulator& ASource)
    : FBuffers(ASource.FBuffers), FReadOffset(ASource.FReadOffset), FBytesAvailable(ASource.FBytesAvailable) {
  // Both now hold the tail object: neither may grow it in place any more.
  ASource.FTailOwned = false;
  FTailOwned = false;
}

TIntfPtr<IBufferAccumulator> TBufferAccumulator::MakeCopy(const TIntfPtr<IBufferAccumulator>& ASource) {
  auto* source = dynamic_cast<TBufferAccumulator*>(ASource.Get());
  if (!source) throw EArgumentException("Not a buffer accumulator");
  return MakeCopy(*source);
}

void TBufferAccumulator::AddBuffer(const TIntfPtr<INXLinearDataBuffer>& ABuffer) {
  if (!ABuffer) return;
  const std::uint32_t size = ABuffer->GetByteSize();
  // An empty piece would break "the read offset lies inside the first buffer".
  if (size == 0) return;
  FBytesAvailable += size;
  if (!FBuffers.empty() && size < CoalesceMaxPiece && FBuffers.back().Size < CoalesceMaxTail) {
    TPiece& tail = FBuffers.back();
    const std::uint32_t tailSize = tail.Size;
    if (!FTailOwned) {
      // A block of our own with room for every coalescing append the tail
      // can still take, so that later ones grow it in place.
      TIntfPtr<INXBlockBuffer> own = TNXBlockBuffer::MakeSize(CoalesceMaxTail + CoalesceMaxPiece);
      own->Resize(tailSize, true);
      std::memcpy(own->Write(), tail.Data, tailSize);
      tail.Buffer = own;
      FTailOwned = true;
    }
    tail.Buffer->Resize(tailSize + size, true);
    std::uint8_t* data = tail.Buffer->ByteModify();
    std::memcpy(data + tailSize, ABuffer->ByteRead(), size);
    tail.Data = data;
    tail.Size = tailSize + size;
    return;
  }
  TIntfPtr<INXLinearDataBuffer> shared = Supports<INXLinearDataBuffer>(ABuffer->GetDataCopy());
  if (!shared) throw EArgumentException("The buffer's copy is not a linear buffer");
  FBuffers.push_back(TPiece{shared, shared->ByteRead(), shared->GetByteSize()});
  FTailOwned = false;
}

void TBufferAccumulator::Clear() {
  FBuffers.clear();
  FTailOwned = false;
  FReadOffset = 0;
  FBytesAvailable = 0;
}

void TBufferAccumulator::Copy(std::int64_t AOffset, std::int64_t ACount, std::uint8_t* ADest) const {
  std::int64_t skip = AOffset + FReadOffset;
  for (const TPiece& p : FBuffers) {
    if (ACount <= 0) break;
    if (skip >= p.Size) {
      skip -= p.Size;
      continue;
    }
    const std::int64_t n = std::min<std::int64_t>(p.Size - skip, ACount);
    std::memcpy(ADest, p.Data + skip, static_cast<std::size_t>(n));
    ADest += n;
    ACount -= n;
    skip = 0;
  }
}

void TBufferAccumulator::Consume(std::int64_t ACount) {
  FBytesAvailable -= ACount;
  while (ACount > 0) {
    const TPiece& p = FBuffers.front();
    const std::int64_t remain = p.Size - FReadOffset;
    if (ACount < remain) {
      FReadOffset += static_cast<std::int32_t>(ACount);
      return;
    }
    ACount -= remain;
    FBuffers.pop_front();
    FReadOffset = 0;
  }
  if (FBuffers.empty()) FTailOwned = false;
}

bool TBufferAccumulator::PeekBytes(std::int32_t ACount, void* ADest) { return PeekBytesFrom(0, ACount, ADest); }

bool TBufferAccumulator::PeekBytesFrom(std::int32_t AOffset, std::int32_t ACount, void* ADest) {
  if (AOffset < 0 || ACount < 0) return false;
  if (static_cast<std::int64_t>(AOffset) + ACount > FBytesAvailable) return false;
  Copy(AOffset, ACount, static_cast<std::uint8_t*>(ADest));
  return true;
}

std::uint8_t TBufferAccumulator::PeekFirstByte() {
  if (FBuffers.empty()) return 0;
  return FBuffers.front().Data[FReadOffset];
}

bool TBufferAccumulator::SkipBytes(std::int32_t ACount) {
  if (ACount < 0 || ACount > FBytesAvailable) return false;
  Consume(ACount);
  return true;
}

bool TBufferAccumulator::ExtractBytes(std::int32_t ACount, void* ADest) {
  if (ACount < 0 || ACount > FBytesAvailable) return false;
  Copy(0, ACount, static_cast<std::uint8_t*>(ADest));
  Consume(ACount);
  return true;
}

bool TBufferAccumulator::ExtractBytes(std::int32_t ACount, std::vector<std::uint8_t>& ADest) {
  if (ACount < 0 || ACount > FBytesAvailable) return false;
  ADest.resize(static_cast<std::size_t>(ACount));
  return ExtractBytes(ACount, ADest.data());
}

namespace {

// Appends the UTF-8 text of the bytes, each invalid sequence (stray or missing
// continuation bytes, overlong forms, surrogates, values above U+10FFFF)
// replaced by U+FFFD.
void AppendValidUtf8(const std::uint8_t* s, std::size_t n, std::string& out) {
  static constexpr char kReplacement[] = "\xEF\xBF\xBD";
  std::size_t i = 0;
  while (i < n) {
    const std::uint8_t b = s[i];
    if (b < 0x80) {
      out.push_back(static_cast<char>(b));
      ++i;
      continue;
    }
    std::size_t len = 0;
    std::uint32_t cp = 0, min = 0;
    if ((b & 0xE0) == 0xC0) len = 2, cp = b & 0x1F, min = 0x80;
    else if ((b & 0xF0) == 0xE0) len = 3, cp = b & 0x0F, min = 0x800;
    else if ((b & 0xF8) == 0xF0) len = 4, cp = b & 0x07, min = 0x10000;
    bool ok = len != 0 && i + len <= n;
    for (std::size_t k = 1; ok && k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) ok = false;
      else cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
    if (ok) {
      out.append(reinterpret_cast<const char*>(s + i), len);
      i += len;
    } else {
      out.append(kReplacement, 3);
      ++i;
    }
  }
}

}  // namespace

std::string TBufferAccumulator::ExtractString(std::int32_t ACount) {
  std::vector<std::uint8_t> bytes;
  if (!ExtractBytes(ACount, bytes)) return std::string();
  std::string text;
  text.reserve(bytes.size());
  AppendValidUtf8(bytes.data(), bytes.size(), text);
  return text;
}

bool TBufferAccumulator::Search(std::int32_t ACount, const std::uint8_t* APattern, std::int64_t& APosition,
                                std::int64_t AMaxCount, std::int64_t ASkipCount) const {
  APosition = 0;
  if (ACount == 0) return true;
  if (ACount < 0 || AMaxCount <= 0) return false;
  ASkipCount = std::max<std::int64_t>(ASkipCount, 0);
  if (ASkipCount >= FBytesAvailable) {
    APosition = FBytesAvailable;
    return false;
  }
  const std::int64_t limit = std::min(FBytesAvailable, ASkipCount + AMaxCount);
  const std::uint8_t first = APattern[0];
  std::int32_t matched = 0;
  std::int64_t base = -FReadOffset;  // stream position of the current piece's first byte
  for (const TPiece& piece : FBuffers) {
    const std::int64_t pieceEnd = base + piece.Size;
    if (pieceEnd <= ASkipCount) {
      base = pieceEnd;
      continue;
    }
    const std::uint8_t* p = piece.Data + (std::max(ASkipCount, base) - base);
    const std::uint8_t* end = piece.Data + (std::min(limit, pieceEnd) - base);
    while (p < end) {
      if (matched == 0) {
        const void* q = std::memchr(p, first, static_cast<std::size_t>(end - p));
        if (!q) {
          p = end;
          break;
        }
        p = static_cast<const std::uint8_t*>(q) + 1;
        matched = 1;
      } else if (*p == APattern[matched]) {
        ++p;
        ++matched;
      } else {
        // The breaking byte is passed over, not tried as a first byte.
        ++p;
        matched = 0;
        continue;
      }
      if (matched == ACount) {
        APosition = base + (p - piece.Data);
        return true;
      }
    }
    base = pieceEnd;
    if (base >= limit) break;
  }
  APosition = limit;
  return false;
}

bool TBufferAccumulator::FindBytes(std::int32_t ACount, const void* APattern, std::int64_t& APosition) {
  return Search(ACount, static_cast<const std::uint8_t*>(APattern), APosition, FBytesAvailable, 0);
}

bool TBufferAccumulator::FindBytes(std::int32_t ACount, const void* APattern, std::int64_t& APosition,
                                   std::int64_t AMaxCount, std::int64_t ASkipCount) {
  return Search(ACount, static_cast<const std::uint8_t*>(APattern), APosition, AMaxCount, ASkipCount);
}

bool TBufferAccumulator::StartsWith(const std::uint8_t* APattern, std::int32_t ACount) const {
  std::int64_t skip = FReadOffset;
  for (const TPiece& p : FBuffers) {
    if (ACount <= 0) break;
    const std::int64_t n = std::min<std::int64_t>(p.Size - skip, ACount);
    if (std::memcmp(p.Data + skip, APattern, static_cast<std::size_t>(n)) != 0) return false;
    APattern += n;
    ACount -= static_cast<std::int32_t>(n);
    skip = 0;
  }
  return ACount <= 0;
}

bool TBufferAccumulator::FindSkipBytes(std::int32_t ACount, const void* APattern, bool& ASkipped) {
  ASkipped = false;
  if (ACount < 0) return false;
  const auto* pattern = static_cast<const std::uint8_t*>(APattern);
  if (ACount == 0) return true;
  for (;;) {
    if (FBytesAvailable < ACount) return false;
    // Every byte before the next candidate first byte is discarded at once,
    // but never more than the positions that still leave ACount bytes.
    const TPiece& front = FBuffers.front();
    const std::uint8_t* seg = front.Data + FReadOffset;
    const std::size_t len = front.Size - static_cast<std::uint32_t>(FReadOffset);
    const void* q = std::memchr(seg, pattern[0], len);
    const std::int64_t before = q ? static_cast<const std::uint8_t*>(q) - seg : static_cast<std::int64_t>(len);
    const std::int64_t allowed = FBytesAvailable - ACount + 1;
    if (before >= allowed) {
      Consume(allowed);
      ASkipped = true;
      return false;
    }
    if (before > 0) {
      Consume(before);
      ASkipped = true;
    }
    if (!q) continue;
    if (StartsWith(pattern, ACount)) {
      Consume(ACount);
      return true;
    }
    Consume(1);
    ASkipped = true;
  }
}

bool TBufferAccumulator::FindString(std::string_view AText, std::int64_t& APosition) {
  if (AText.size() > static_cast<std::size_t>(INT32_MAX)) throw EIntOverflow();
  return FindBytes(static_cast<std::int32_t>(AText.size()), AText.data(), APosition);
}

TIntfPtr<INXBlockBuffer> TBufferAccumulator::GetAsBuffer() {
  if (FBytesAvailable > INT32_MAX) throw EIntOverflow();
  TIntfPtr<INXBlockBuffer> result = TNXBlockBuffer::MakeSize(static_cast<std::uint32_t>(FBytesAvailable));
  if (FBytesAvailable > 0) Copy(0, FBytesAvailable, result->Write());
  return result;
}

}  // namespace nx
