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
// split: CapturePngPixels copies the pixels out of the surface (Cairo's part,
// on the drawing thread) and EncodePngFile compresses the copy without Cairo,
// so that a finished picture can be compressed on another thread while the
// next one is drawn.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <string>
#include <vector>

namespace nx {

// The PNG bytes of an ARGB32 or RGB24 image surface. A surface with no
// translucent pixel (or an RGB24 one) is written as RGB, any other as RGBA
// with the alpha taken out of the colours. ALevel is zlib's, 0 (stored) to 9;
// values outside are clamped. Raises EArgumentException for another kind of
// surface.
std::string WritePng(cairo_surface_t* ASurface, int ALevel = 1);

// The pixels of an ARGB32 or RGB24 image surface, as Cairo keeps them
// (premultiplied, native-endian words), rows packed.
struct TPngPixels {
  int Width = 0;
  int Height = 0;
  bool Rgb24 = false;  // the surface had no alpha channel
  std::vector<std::uint32_t> Pixels;
};
// Copies the pixels of ASurface; EArgumentException as WritePng.
TPngPixels CapturePngPixels(cairo_surface_t* ASurface);
// The PNG file of the pixels, the same bytes Cairo's writer makes of the
// surface they came from. Touches no Cairo object: safe on any thread.
// EOutOfMemory when libpng fails.
std::string EncodePngFile(const TPngPixels& APixels);

}  // namespace nx
