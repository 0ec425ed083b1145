// RGPngWriter: PNG files from Cairo image surfaces, fast. Cairo's own writer
// lets libpng choose a row filter per row and compresses at zlib's default
// level, which suits files kept on disk; a picture sent many times a second
// (the live displays of nxflow serve) is better written with one cheap
// filter on every row (each byte less the one a pixel to its left, which
// turns runs of one colour into runs of zeros) and zlib's fastest level with
// run-length matches only: for plots it comes out about a quarter larger
// and twice as fast. The pixels are the same either way.
//
// Pictures written as files keep the file format's usual settings, byte for
// byte what Cairo's own writer makes of them (per-row filters chosen by
// libpng, zlib's default level, a white background chunk), but the work is
// split: CapturePngPixels takes the finished surface (Cairo's part, on the
// drawing thread) and EncodePngFile compresses its pixels without drawing,
// so that a finished picture can be compressed on another thread while the
// next one is drawn.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <cstddef>
#include <memory>
#include <string>

namespace nx {

// The PNG bytes of an ARGB32 or RGB24 image surface. A surface with no
// translucent pixel (or an RGB24 one) is written as RGB, any other as RGBA
// with the alpha taken out of the colours. ALevel is zlib's, 0 (stored) to 9;
// values outside are clamped. Raises EArgumentException for another kind of
// surface.
std::string WritePng(cairo_surface_t* ASurface, int ALevel = 1);

// The pixels of a finished ARGB32 or RGB24 image surface, as Cairo keeps
// them (premultiplied, native-endian words). It holds the surface itself by
// a reference of its own: no copy, and no fresh memory to fault in for
// every picture. Copies share the surface; the last one lets it go, on
// whatever thread that is (a surface nothing draws on any more is only
// memory then).
class TPngPixels {
 public:
  int Width() const noexcept { return FWidth; }
  int Height() const noexcept { return FHeight; }
  bool Rgb24() const noexcept { return FRgb24; }  // the surface has no alpha channel
  const std::uint32_t* Row(int AY) const noexcept {
    return reinterpret_cast<const std::uint32_t*>(FData + static_cast<std::size_t>(AY) * FStride);
  }

 private:
  friend TPngPixels CapturePngPixels(cairo_surface_t* ASurface);
  std::shared_ptr<cairo_surface_t> FSurface;  // keeps FData alive
  const unsigned char* FData = nullptr;
  std::size_t FStride = 0;
  int FWidth = 0;
  int FHeight = 0;
  bool FRgb24 = false;
};
// The pixels of ASurface as they stand once drawing is finished: the caller
// draws nothing more on it (it may let go of its own reference at once).
// EArgumentException as WritePng.
TPngPixels CapturePngPixels(cairo_surface_t* ASurface);
// The PNG file of the pixels, the same bytes Cairo's writer makes of the
// surface they came from. Calls no Cairo function: safe on any thread.
// EOutOfMemory when libpng fails.
std::string EncodePngFile(const TPngPixels& APixels);

}  // namespace nx
