// Fuzz target of the network message decoder (packages/nxnet): every frame a
// peer could send. A refusal is an expected result; a crash, a read outside
// the frame (the sanitizer's), a hang or a leak is a finding. Beside that:
//   - a frame the decoder takes encodes back to exactly the same bytes;
//   - its payload lies inside the frame and holds count x element size bytes;
//   - a buffer it takes has no more samples than the cap it was given;
//   - its elements, of whatever type, read back as the bytes they came as
//     (a little-endian host).
// The first byte of the input picks the cap (a small one makes oversized
// frames easy to reach); the rest is the frame.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "packages/nxnet/NXNetMessage.h"

using namespace nx::net;

namespace {

[[noreturn]] void Finding(const char* AWhat) {
  std::fprintf(stderr, "NetMessageFuzz: %s\n", AWhat);
  std::abort();
}

TNXSequenceTracker GTracker;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  if (ASize == 0) return 0;
  const std::uint32_t cap = AData[0] < 128 ? AData[0] : (1u << 20);
  // A copy of exactly the frame's size, so that a read past it is seen.
  std::vector<std::byte> frame(ASize - 1);
  if (!frame.empty()) std::memcpy(frame.data(), AData + 1, frame.size());
  TNXNetMessage message;
  const TNXNetError error = NXNetDecode(frame, cap, message);
  if (std::string(NXNetErrorText(error)) == "unknown") Finding("an error without a name");
  if (error != TNXNetError::Ok) {
    if (!message.Payload.empty()) Finding("a refused frame with a payload");
    return 0;
  }
  const std::byte* begin = frame.data();
  const std::byte* end = begin + frame.size();
  if (!message.Payload.empty() && (message.Payload.data() < begin || message.Payload.data() + message.Payload.size() > end))
    Finding("a payload outside the frame");
  if (message.Payload.size() != NXNetElementSize(message.Element) * message.Count && message.Kind == TNXNetKind::Buffer)
    Finding("a payload of the wrong size");
  if (message.Kind == TNXNetKind::Buffer && message.Count > cap) Finding("a buffer above the cap");
  const std::string again = NXNetEncodeToString(message);
  if (again.size() != frame.size() || std::memcmp(again.data(), frame.data(), frame.size()) != 0)
    Finding("a frame that does not encode back to its bytes");
  if (message.Kind == TNXNetKind::Buffer) {
    // Read into a buffer of exactly the elements' size, as a source does for
    // each element type; the bytes must come back unchanged on this host.
    std::vector<std::byte> elements(message.Payload.size());
    NXNetReadElements(message.Payload, message.Element, elements.data(), message.Count);
    if (!elements.empty() && std::memcmp(elements.data(), message.Payload.data(), elements.size()) != 0)
      Finding("elements that read back other than they came");
  }
  GTracker.Accept(message.Sender, message.Sequence);
  return 0;
}
