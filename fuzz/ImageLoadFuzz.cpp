// Fuzz target of the image decoders (PNG through Cairo; JPEG, BMP and GIF
// through the stb decoder). Any input either decodes into a bitmap whose
// pixels can all be read, or is rejected with EVantexError; nothing else may
// escape and nothing may crash.
//
// A header a few bytes long can declare the largest picture the decoders
// take (64 million pixels): decoding it costs a gigabyte and seconds under
// the sanitizers, which is no fault (the caller asked for that picture) but
// takes a fuzzing process past its memory limit and spends its minute on a
// handful of inputs. Inputs whose header declares more than kBudget pixels
// and no more than the decoders' own limit are skipped; those over the limit
// still run, since their refusal costs nothing.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "drawing/Vantex.h"

using namespace nx;

namespace {

constexpr std::int64_t kBudget = std::int64_t(1) << 22;  // 16 MiB of pixels
constexpr std::int64_t kDecoderLimit = TIGPBitmap::kMaxPixels;

// The pixel count the header declares, or -1 when it names none (the
// decoder then refuses the input on its own).
std::int64_t DeclaredPixels(const std::uint8_t* p, std::size_t n) {
  // A side past the decoders' own is refused at once; the product of two
  // such 32-bit sides would not fit.
  auto area = [](std::int64_t w, std::int64_t h) {
    w = w < 0 ? -w : w;
    h = h < 0 ? -h : h;
    return w > TIGPBitmap::kMaxSide || h > TIGPBitmap::kMaxSide ? kDecoderLimit + 1 : w * h;
  };
  auto be16 = [&](std::size_t at) { return std::int64_t(p[at]) << 8 | p[at + 1]; };
  auto le16 = [&](std::size_t at) { return std::int64_t(p[at + 1]) << 8 | p[at]; };
  auto le32 = [&](std::size_t at) { return std::int32_t(std::uint32_t(le16(at + 2)) << 16 | std::uint32_t(le16(at))); };
  if (n >= 24 && std::memcmp(p, "\x89PNG\r\n\x1a\n", 8) == 0) return area(be16(16) << 16 | be16(18), be16(20) << 16 | be16(22));
  if (n >= 10 && (std::memcmp(p, "GIF87a", 6) == 0 || std::memcmp(p, "GIF89a", 6) == 0)) return area(le16(6), le16(8));
  if (n >= 26 && p[0] == 'B' && p[1] == 'M') {
    return area(le32(18), le32(22));
  }
  if (n >= 4 && p[0] == 0xFF && p[1] == 0xD8) {
    // The frame header (SOF0..SOF15 but DHT, JPG and DAC) holds the size.
    for (std::size_t at = 2; at + 9 <= n && p[at] == 0xFF;) {
      const std::uint8_t m = p[at + 1];
      if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) return area(be16(at + 5), be16(at + 7));
      if (m == 0xDA) break;
      at += 2 + static_cast<std::size_t>(be16(at + 2));
    }
  }
  return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (const std::int64_t pixels = DeclaredPixels(data, size); pixels > kBudget && pixels <= kDecoderLimit) return 0;
  try {
    TIntfPtr<IGPBitmap> b = TIGPBitmap::FromMemory(data, size);
    const std::vector<TGPColor> px = b->GetPixels();
    if (px.size() != std::size_t(b->GetWidth()) * std::size_t(b->GetHeight())) __builtin_trap();
  } catch (const EVantexError&) {
  }
  return 0;
}
