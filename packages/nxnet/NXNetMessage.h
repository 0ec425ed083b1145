// NXNetMessage: the messages a network sink sends and a network source
// reads (docs/network-messages.md describes the bytes). One message is one
// ZeroMQ frame: a fixed 40-byte header, little-endian, then the samples.
//
// The decoder reads hostile input: every field is checked before it is
// used, every length against the frame's real size and against the
// receiver's cap, and nothing is allocated from a length it read. It never
// throws; a refused frame is named by a TNXNetError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace nx::net {

// "NXNM" as the first four bytes.
inline constexpr std::uint32_t kNetMagic = 0x4D4E584Eu;
inline constexpr std::uint16_t kNetVersion = 1;
inline constexpr std::size_t kNetHeaderSize = 40;
// The highest sample rate a message may carry (that of a generator).
inline constexpr double kNetMaxRate = 1e9;

// Flush: bytes of no meaning a PUSH sender sends after its last message as
// it closes (see NXNetSocket.h); a receiver reads and ignores them.
enum class TNXNetKind : std::uint8_t { Start = 1, Buffer = 2, Pause = 3, Resume = 4, Stop = 5, Flush = 6 };

// The most bytes a flush message carries.
inline constexpr std::uint32_t kNetMaxFlush = 1u << 16;

// The element type of a buffer; a control message carries its stream's type
// or None.
enum class TNXNetElement : std::uint8_t { None = 0, Real64 = 1, Int32 = 2, UInt32 = 3, Complex128 = 4, Byte = 5 };

// Bytes per element (0 for None or an unknown code).
std::size_t NXNetElementSize(TNXNetElement AElement) noexcept;

enum class TNXNetError : std::uint8_t {
  Ok,
  Truncated,     // shorter than its header, or than the samples it announces
  BadMagic,      // not a message of this format
  WrongVersion,  // another version of the format
  BadKind,       // an unknown message kind
  WrongType,     // an unknown element type
  BadLength,     // the byte count disagrees with the sample count, or bytes trail
  Oversized,     // more samples (or bytes) than the receiver takes
  BadRate,       // a sample rate that is not a number in range
  BadReserved,   // a reserved field that is not zero
};
inline constexpr int kNetErrorCount = 10;

// "truncated", "bad magic" ... (for reports).
const char* NXNetErrorText(TNXNetError AError) noexcept;

// A message's fields. Payload points into the decoded frame (or, to encode,
// at the samples to send): Count elements of Element, little-endian.
struct TNXNetMessage {
  TNXNetKind Kind = TNXNetKind::Buffer;
  TNXNetElement Element = TNXNetElement::None;
  std::uint32_t Sender = 0;     // chosen at random by each sending socket
  std::uint64_t Sequence = 0;   // every message of one sender, from 0
  double SampleRate = 0;
  std::uint32_t Count = 0;      // elements in the payload
  std::span<const std::byte> Payload;
};

// The frame size of a message of ACount elements of AElement.
std::size_t NXNetEncodedSize(TNXNetElement AElement, std::uint32_t ACount) noexcept;

// Writes AMessage (header and payload) into AOut, which holds exactly
// NXNetEncodedSize(AMessage.Element, AMessage.Count) bytes; AMessage.Payload
// holds that many payload bytes, in the host's order (swapped to
// little-endian here where the host differs).
void NXNetEncode(const TNXNetMessage& AMessage, std::span<std::byte> AOut) noexcept;

// The same into a new string (tests, the fuzz target's round trip).
std::string NXNetEncodeToString(const TNXNetMessage& AMessage);

// Checks AFrame and fills AOut (its Payload a view into AFrame). AMaxSamples
// caps the element count a buffer may announce. Rules: the header is whole;
// magic, version, kind and element type are known; the reserved field is 0;
// payload bytes = count x element size and header + payload = the frame's
// size exactly; a buffer has a known element type, at most AMaxSamples
// elements and a rate in [1, kNetMaxRate]; a start has a rate in that range
// and no payload; pause, resume and stop have no payload and a rate in
// [0, kNetMaxRate]; a flush carries at most kNetMaxFlush bytes (element
// type byte) and a rate in [0, kNetMaxRate].
TNXNetError NXNetDecode(std::span<const std::byte> AFrame, std::uint32_t AMaxSamples, TNXNetMessage& AOut) noexcept;

// Copies ACount little-endian doubles from ASource (any alignment) into
// ATarget, in the host's order.
void NXNetReadReals(std::span<const std::byte> ASource, double* ATarget, std::uint32_t ACount) noexcept;

// The same for ACount elements of any type: ATarget receives ACount x the
// element's size bytes in the host's order (a complex element's two parts
// each turned). Nothing is written unless ASource holds them all.
void NXNetReadElements(std::span<const std::byte> ASource, TNXNetElement AElement, void* ATarget,
                       std::uint32_t ACount) noexcept;

// Follows the sequence numbers of the messages a receiver accepts and counts
// what went missing. One sender at a time: a message from another sender
// (a sender that started again), or a number below the expected one,
// starts counting afresh from it without calling it a gap.
class TNXSequenceTracker {
 public:
  // Returns how many messages are missing just before this one (0: in order).
  std::uint64_t Accept(std::uint32_t ASender, std::uint64_t ASequence) noexcept;
  void Reset() noexcept { *this = TNXSequenceTracker(); }

  std::uint64_t Gaps() const noexcept { return FGaps; }          // times a gap was seen
  std::uint64_t Missing() const noexcept { return FMissing; }    // messages missing in all
  std::uint64_t Restarts() const noexcept { return FRestarts; }  // counting started afresh
  std::uint64_t LastMissing() const noexcept { return FLastMissing; }

 private:
  bool FStarted = false;
  std::uint32_t FSender = 0;
  std::uint64_t FExpected = 0;
  std::uint64_t FGaps = 0, FMissing = 0, FRestarts = 0, FLastMissing = 0;
};

}  // namespace nx::net
