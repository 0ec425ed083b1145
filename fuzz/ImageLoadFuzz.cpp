// Fuzz target of the image decoders (PNG through Cairo; JPEG, BMP and GIF
// through the stb decoder). Any input either decodes into a bitmap whose
// pixels can all be read, or is rejected with EVantexError; nothing else may
// escape and nothing may crash.
#include <cstddef>
#include <cstdint>

#include "drawing/Vantex.h"

using namespace nx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    TIntfPtr<IGPBitmap> b = TIGPBitmap::FromMemory(data, size);
    const std::vector<TGPColor> px = b->GetPixels();
    if (px.size() != std::size_t(b->GetWidth()) * std::size_t(b->GetHeight())) __builtin_trap();
  } catch (const EVantexError&) {
  }
  return 0;
}
