// RGPngWriter: PNG files from Cairo image surfaces, fast. Cairo's own writer
// lets libpng choose a row filter per row and compresses at zlib's default
// level, which suits files kept on disk; a picture sent many times a second
// (the live displays of nxflow serve) is better written with one cheap
// filter on every row (each byte less the one a pixel to its left, which
// turns runs of one colour into runs of zeros) and zlib's fastest level with
// run-length matches only: for plots it comes out about a quarter larger
// and twice as fast. The pixels are the same either way.
#pragma once

#include <cairo.h>

#include <string>

namespace nx {

// The PNG bytes of an ARGB32 or RGB24 image surface. A surface with no
// translucent pixel (or an RGB24 one) is written as RGB, any other as RGBA
// with the alpha taken out of the colours. ALevel is zlib's, 0 (stored) to 9;
// values outside are clamped. Raises EArgumentException for another kind of
// surface.
std::string WritePng(cairo_surface_t* ASurface, int ALevel = 1);

}  // namespace nx
