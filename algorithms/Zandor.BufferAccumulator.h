// Zandor.BufferAccumulator: gathers byte buffers as they arrive (from a port,
// a socket, a file reader) into one first-in-first-out byte stream that a
// consumer can look ahead into, search for a byte pattern or a text, and
// take counted bytes or strings from, without first copying everything into
// one block. Small arrivals are coalesced into the last listed buffer, so a
// stream of tiny pieces does not become a long list.
//
// Not synchronised: one accumulator is used by one thread at a time.
// Requests for more bytes than are available (and negative counts) return
// false and change nothing.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "buffers/NXSimpleDataBuffer.h"

namespace nx {

struct IBufferAccumulator : virtual IInterface {
  NX_INTERFACE_ID(IBufferAccumulator, "{3F6A1C2E-8B47-4D19-A5E0-72C9D4B1E6A1}");

  // Appends the buffer's bytes (an empty or null buffer adds nothing).
  virtual void AddBuffer(const TIntfPtr<INXLinearDataBuffer>& ABuffer) = 0;
  virtual std::int64_t GetBytesAvailable() = 0;
  virtual bool IsEmpty() = 0;
  virtual void Clear() = 0;

  // Copies the first ACount unread bytes (after AOffset of them) without
  // consuming them.
  virtual bool PeekBytes(std::int32_t ACount, void* ADest) = 0;
  virtual bool PeekBytesFrom(std::int32_t AOffset, std::int32_t ACount, void* ADest) = 0;
  // The next unread byte, 0 when there is none.
  virtual std::uint8_t PeekFirstByte() = 0;

  // Consumes ACount bytes.
  virtual bool SkipBytes(std::int32_t ACount) = 0;
  // Copies, then consumes ACount bytes; the array form resizes ADest to
  // ACount first (and leaves it alone on failure).
  virtual bool ExtractBytes(std::int32_t ACount, void* ADest) = 0;
  virtual bool ExtractBytes(std::int32_t ACount, std::vector<std::uint8_t>& ADest) = 0;
  // Extracts ACount bytes as UTF-8 text (invalid sequences become U+FFFD);
  // empty, with nothing consumed, when fewer bytes are available.
  virtual std::string ExtractString(std::int32_t ACount) = 0;

  // Searches the unread bytes for the pattern. On success APosition is the
  // count of bytes from the read position to the end of the match; nothing
  // is consumed. A partial match broken by a byte restarts with the byte
  // after it (that byte is not tried as the pattern's first byte). An empty
  // pattern matches at once with position 0.
  virtual bool FindBytes(std::int32_t ACount, const void* APattern, std::int64_t& APosition) = 0;
  // The same, passing over the first ASkipCount bytes and examining at most
  // AMaxCount bytes after them.
  virtual bool FindBytes(std::int32_t ACount, const void* APattern, std::int64_t& APosition, std::int64_t AMaxCount,
                         std::int64_t ASkipCount) = 0;
  // Discards bytes until the unread data begins with the pattern, then
  // consumes the pattern. ASkipped tells whether any byte was discarded.
  // False when fewer than ACount bytes remain; what was discarded stays so.
  virtual bool FindSkipBytes(std::int32_t ACount, const void* APattern, bool& ASkipped) = 0;
  // FindBytes on the UTF-8 bytes of the text.
  virtual bool FindString(std::string_view AText, std::int64_t& APosition) = 0;

  // A new block buffer with a copy of every unread byte (nothing consumed).
  virtual TIntfPtr<INXBlockBuffer> GetAsBuffer() = 0;
};

class TBufferAccumulator : public TInterfacedObject, public virtual IBufferAccumulator {
  NX_INTERFACES(TInterfacedObject, IBufferAccumulator)

 public:
  // A new piece is coalesced into the tail when it is smaller than
  // CoalesceMaxPiece and the tail is smaller than CoalesceMaxTail.
  static constexpr std::uint32_t CoalesceMaxPiece = 100;
  static constexpr std::uint32_t CoalesceMaxTail = 10000;

  TBufferAccumulator() = default;
  // Shares the source's buffers (the same buffer objects, offset and count).
  explicit TBufferAccumulator(TBufferAccumulator& ASource);

  static TIntfPtr<IBufferAccumulator> Make() { return TIntfPtr<IBufferAccumulator>(new TBufferAccumulator()); }
  static TIntfPtr<IBufferAccumulator> MakeCopy(TBufferAccumulator& ASource) {
    return TIntfPtr<IBufferAccumulator>(new TBufferAccumulator(ASource));
  }
  // The copy of an accumulator given by its interface (one of this class).
  static TIntfPtr<IBufferAccumulator> MakeCopy(const TIntfPtr<IBufferAccumulator>& ASource);

  void AddBuffer(const TIntfPtr<INXLinearDataBuffer>& ABuffer) override;
  std::int64_t GetBytesAvailable() override { return FBytesAvailable; }
  bool IsEmpty() override { return FBytesAvailable <= 0; }
  void Clear() override;
  bool PeekBytes(std::int32_t ACount, void* ADest) override;
  bool PeekBytesFrom(std::int32_t AOffset, std::int32_t ACount, void* ADest) override;
  std::uint8_t PeekFirstByte() override;
  bool SkipBytes(std::int32_t ACount) override;
  bool ExtractBytes(std::int32_t ACount, void* ADest) override;
  bool ExtractBytes(std::int32_t ACount, std::vector<std::uint8_t>& ADest) override;
  std::string ExtractString(std::int32_t ACount) override;
  bool FindBytes(std::int32_t ACount, const void* APattern, std::int64_t& APosition) override;
  bool FindBytes(std::int32_t ACount, const void* APattern, std::int64_t& APosition, std::int64_t AMaxCount,
                 std::int64_t ASkipCount) override;
  bool FindSkipBytes(std::int32_t ACount, const void* APattern, bool& ASkipped) override;
  bool FindString(std::string_view AText, std::int64_t& APosition) override;
  TIntfPtr<INXBlockBuffer> GetAsBuffer() override;

  // The number of listed buffers and the read offset into the first.
  std::size_t GetBufferCount() const noexcept { return FBuffers.size(); }
  std::int32_t GetReadOffset() const noexcept { return FReadOffset; }

 private:
  // A listed buffer with its bytes and size at hand (the buffer is this
  // accumulator's own object or one it shares only with its copies, and is
  // never written while shared, so neither changes behind its back).
  struct TPiece {
    TIntfPtr<INXLinearDataBuffer> Buffer;
    const std::uint8_t* Data;
    std::uint32_t Size;
  };

  // Copies ACount bytes starting AOffset bytes after the read position.
  void Copy(std::int64_t AOffset, std::int64_t ACount, std::uint8_t* ADest) const;
  void Consume(std::int64_t ACount);
  bool StartsWith(const std::uint8_t* APattern, std::int32_t ACount) const;
  bool Search(std::int32_t ACount, const std::uint8_t* APattern, std::int64_t& APosition, std::int64_t AMaxCount,
              std::int64_t ASkipCount) const;

  std::deque<TPiece> FBuffers;
  // The tail is FBuffers.back() when the list is not empty. FTailOwned: it is
  // a block buffer made here with room for coalescing, referenced by no one
  // else, so it may grow in place.
  bool FTailOwned = false;
  std::int32_t FReadOffset = 0;
  std::int64_t FBytesAvailable = 0;
};

}  // namespace nx
