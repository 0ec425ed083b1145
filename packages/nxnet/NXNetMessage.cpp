// NXNetMessage: encoding and checking the network messages.
#include "packages/nxnet/NXNetMessage.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace nx::net {

namespace {

// Header layout (offsets in bytes).
constexpr std::size_t kOffMagic = 0;      // u32
constexpr std::size_t kOffVersion = 4;    // u16
constexpr std::size_t kOffKind = 6;       // u8
constexpr std::size_t kOffElement = 7;    // u8
constexpr std::size_t kOffSender = 8;     // u32
constexpr std::size_t kOffReserved = 12;  // u32, zero
constexpr std::size_t kOffSequence = 16;  // u64
constexpr std::size_t kOffRate = 24;      // f64
constexpr std::size_t kOffCount = 32;     // u32
constexpr std::size_t kOffBytes = 36;     // u32
static_assert(kOffBytes + 4 == kNetHeaderSize);

template <class T>
T ReadLE(const std::byte* AAt) noexcept {
  static_assert(std::is_unsigned_v<T>);
  T value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) value |= static_cast<T>(std::to_integer<unsigned>(AAt[i])) << (8 * i);
  return value;
}

template <class T>
void WriteLE(std::byte* AAt, T AValue) noexcept {
  static_assert(std::is_unsigned_v<T>);
  for (std::size_t i = 0; i < sizeof(T); ++i) AAt[i] = static_cast<std::byte>((AValue >> (8 * i)) & 0xFF);
}

bool KnownKind(std::uint8_t AKind) noexcept { return AKind >= 1 && AKind <= 6; }

bool RateIn(double ARate, double ALow) noexcept { return std::isfinite(ARate) && ARate >= ALow && ARate <= kNetMaxRate; }

// Reverses each AWidth-byte element of ABytes in place (big-endian hosts).
void SwapElements(std::byte* ABytes, std::size_t ASize, std::size_t AWidth) noexcept {
  if (AWidth <= 1) return;
  for (std::size_t at = 0; at + AWidth <= ASize; at += AWidth)
    for (std::size_t i = 0; i < AWidth / 2; ++i) std::swap(ABytes[at + i], ABytes[at + AWidth - 1 - i]);
}

}  // namespace

std::size_t NXNetElementSize(TNXNetElement AElement) noexcept {
  switch (AElement) {
    case TNXNetElement::Real64: return 8;
    case TNXNetElement::Int32: return 4;
    case TNXNetElement::UInt32: return 4;
    case TNXNetElement::Complex128: return 16;
    case TNXNetElement::Byte: return 1;
    default: return 0;
  }
}

const char* NXNetErrorText(TNXNetError AError) noexcept {
  switch (AError) {
    case TNXNetError::Ok: return "ok";
    case TNXNetError::Truncated: return "truncated";
    case TNXNetError::BadMagic: return "bad magic";
    case TNXNetError::WrongVersion: return "wrong version";
    case TNXNetError::BadKind: return "bad kind";
    case TNXNetError::WrongType: return "wrong type";
    case TNXNetError::BadLength: return "bad length";
    case TNXNetError::Oversized: return "oversized";
    case TNXNetError::BadRate: return "bad rate";
    case TNXNetError::BadReserved: return "bad reserved field";
  }
  return "unknown";
}

std::size_t NXNetEncodedSize(TNXNetElement AElement, std::uint32_t ACount) noexcept {
  return kNetHeaderSize + NXNetElementSize(AElement) * static_cast<std::size_t>(ACount);
}

void NXNetEncode(const TNXNetMessage& AMessage, std::span<std::byte> AOut) noexcept {
  std::byte* out = AOut.data();
  const std::size_t payload = NXNetElementSize(AMessage.Element) * static_cast<std::size_t>(AMessage.Count);
  WriteLE<std::uint32_t>(out + kOffMagic, kNetMagic);
  WriteLE<std::uint16_t>(out + kOffVersion, kNetVersion);
  out[kOffKind] = static_cast<std::byte>(AMessage.Kind);
  out[kOffElement] = static_cast<std::byte>(AMessage.Element);
  WriteLE<std::uint32_t>(out + kOffSender, AMessage.Sender);
  WriteLE<std::uint32_t>(out + kOffReserved, 0);
  WriteLE<std::uint64_t>(out + kOffSequence, AMessage.Sequence);
  WriteLE<std::uint64_t>(out + kOffRate, std::bit_cast<std::uint64_t>(AMessage.SampleRate));
  WriteLE<std::uint32_t>(out + kOffCount, AMessage.Count);
  WriteLE<std::uint32_t>(out + kOffBytes, static_cast<std::uint32_t>(payload));
  if (payload == 0) return;
  std::memcpy(out + kNetHeaderSize, AMessage.Payload.data(), payload);
  if constexpr (std::endian::native != std::endian::little) {
    const std::size_t width = AMessage.Element == TNXNetElement::Complex128 ? 8 : NXNetElementSize(AMessage.Element);
    SwapElements(out + kNetHeaderSize, payload, width);
  }
}

std::string NXNetEncodeToString(const TNXNetMessage& AMessage) {
  std::string text(NXNetEncodedSize(AMessage.Element, AMessage.Count), '\0');
  NXNetEncode(AMessage, std::span<std::byte>(reinterpret_cast<std::byte*>(text.data()), text.size()));
  return text;
}

TNXNetError NXNetDecode(std::span<const std::byte> AFrame, std::uint32_t AMaxSamples, TNXNetMessage& AOut) noexcept {
  AOut = TNXNetMessage();
  if (AFrame.size() < kNetHeaderSize) return TNXNetError::Truncated;
  const std::byte* in = AFrame.data();
  if (ReadLE<std::uint32_t>(in + kOffMagic) != kNetMagic) return TNXNetError::BadMagic;
  if (ReadLE<std::uint16_t>(in + kOffVersion) != kNetVersion) return TNXNetError::WrongVersion;
  const std::uint8_t kind = std::to_integer<std::uint8_t>(in[kOffKind]);
  if (!KnownKind(kind)) return TNXNetError::BadKind;
  const std::uint8_t element = std::to_integer<std::uint8_t>(in[kOffElement]);
  if (element > static_cast<std::uint8_t>(TNXNetElement::Byte)) return TNXNetError::WrongType;
  if (ReadLE<std::uint32_t>(in + kOffReserved) != 0) return TNXNetError::BadReserved;
  const std::uint32_t count = ReadLE<std::uint32_t>(in + kOffCount);
  const std::uint32_t bytes = ReadLE<std::uint32_t>(in + kOffBytes);
  const double rate = std::bit_cast<double>(ReadLE<std::uint64_t>(in + kOffRate));
  const auto kindValue = static_cast<TNXNetKind>(kind);
  const auto elementValue = static_cast<TNXNetElement>(element);
  const std::size_t width = NXNetElementSize(elementValue);

  if (kindValue == TNXNetKind::Buffer) {
    if (width == 0) return TNXNetError::WrongType;
    if (count > AMaxSamples) return TNXNetError::Oversized;
    // 64-bit arithmetic: count (< 2^32) x width (<= 16) cannot overflow.
    if (static_cast<std::uint64_t>(count) * width != bytes) return TNXNetError::BadLength;
    if (!RateIn(rate, 1)) return TNXNetError::BadRate;
  } else if (kindValue == TNXNetKind::Flush) {
    if (elementValue != TNXNetElement::Byte) return TNXNetError::WrongType;
    if (count > kNetMaxFlush) return TNXNetError::Oversized;
    if (bytes != count) return TNXNetError::BadLength;
    if (!RateIn(rate, 0)) return TNXNetError::BadRate;
  } else {
    if (count != 0 || bytes != 0) return TNXNetError::BadLength;
    if (!RateIn(rate, kindValue == TNXNetKind::Start ? 1 : 0)) return TNXNetError::BadRate;
  }
  const std::size_t body = AFrame.size() - kNetHeaderSize;
  if (body < bytes) return TNXNetError::Truncated;
  if (body > bytes) return TNXNetError::BadLength;

  AOut.Kind = kindValue;
  AOut.Element = elementValue;
  AOut.Sender = ReadLE<std::uint32_t>(in + kOffSender);
  AOut.Sequence = ReadLE<std::uint64_t>(in + kOffSequence);
  AOut.SampleRate = rate;
  AOut.Count = count;
  AOut.Payload = AFrame.subspan(kNetHeaderSize, bytes);
  return TNXNetError::Ok;
}

void NXNetReadReals(std::span<const std::byte> ASource, double* ATarget, std::uint32_t ACount) noexcept {
  NXNetReadElements(ASource, TNXNetElement::Real64, ATarget, ACount);
}

void NXNetReadElements(std::span<const std::byte> ASource, TNXNetElement AElement, void* ATarget,
                       std::uint32_t ACount) noexcept {
  const std::size_t bytes = static_cast<std::size_t>(ACount) * NXNetElementSize(AElement);
  if (ASource.size() < bytes || bytes == 0) return;
  std::memcpy(ATarget, ASource.data(), bytes);
  if constexpr (std::endian::native != std::endian::little) {
    const std::size_t width = AElement == TNXNetElement::Complex128 ? 8 : NXNetElementSize(AElement);
    SwapElements(static_cast<std::byte*>(ATarget), bytes, width);
  }
}

// ---------------------------------------------------------------- sequence

std::uint64_t TNXSequenceTracker::Accept(std::uint32_t ASender, std::uint64_t ASequence) noexcept {
  FLastMissing = 0;
  if (!FStarted || ASender != FSender || ASequence < FExpected) {
    if (FStarted) ++FRestarts;
    FStarted = true;
    FSender = ASender;
  } else if (ASequence > FExpected) {
    FLastMissing = ASequence - FExpected;
    ++FGaps;
    FMissing = FMissing > std::numeric_limits<std::uint64_t>::max() - FLastMissing
                   ? std::numeric_limits<std::uint64_t>::max()
                   : FMissing + FLastMissing;
  }
  // A sender at the very last number has nothing after it to expect.
  FExpected = ASequence == std::numeric_limits<std::uint64_t>::max() ? ASequence : ASequence + 1;
  return FLastMissing;
}

}  // namespace nx::net
