// The fast PNG writer: what it writes decodes (through Cairo's own reader)
// to the very pixels it was given, whatever the size, the alpha and the level.
// The file encoder: byte for byte what Cairo's own writer makes of a surface.
#include <cairo.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>

#include <zlib.h>

#include "drawing/RGPngWriter.h"
#include "runtime/SysUtils.h"

namespace {
using namespace nx;

struct TReader {
  const std::string* Bytes;
  std::size_t At = 0;
};
cairo_status_t Read(void* AClosure, unsigned char* AData, unsigned int ALength) {
  auto* r = static_cast<TReader*>(AClosure);
  if (r->At + ALength > r->Bytes->size()) return CAIRO_STATUS_READ_ERROR;
  std::memcpy(AData, r->Bytes->data() + r->At, ALength);
  r->At += ALength;
  return CAIRO_STATUS_SUCCESS;
}

std::uint32_t Pixel(cairo_surface_t* ASurface, int X, int Y) {
  const unsigned char* row = cairo_image_surface_get_data(ASurface) + Y * cairo_image_surface_get_stride(ASurface);
  std::uint32_t p;
  std::memcpy(&p, row + 4 * X, 4);
  return p;
}

// The file Cairo's own writer makes of ASurface (empty when it fails).
std::string CairoPng(cairo_surface_t* ASurface) {
  std::string out;
  const cairo_status_t status = cairo_surface_write_to_png_stream(
      ASurface,
      [](void* AOut, const unsigned char* AData, unsigned int ALength) {
        static_cast<std::string*>(AOut)->append(reinterpret_cast<const char*>(AData), ALength);
        return CAIRO_STATUS_SUCCESS;
      },
      &out);
  return status == CAIRO_STATUS_SUCCESS ? out : std::string();
}

TEST(PngWriter, DecodesToThePixelsItWasGiven) {
  struct TRow { const char* Name; cairo_format_t Format; int Width, Height; bool Translucent; int Level; };
  const TRow rows[] = {
      {"OpaqueArgb", CAIRO_FORMAT_ARGB32, 64, 40, false, 1},
      {"Rgb24", CAIRO_FORMAT_RGB24, 33, 17, false, 1},
      {"Translucent", CAIRO_FORMAT_ARGB32, 31, 9, true, 1},
      {"OnePixel", CAIRO_FORMAT_ARGB32, 1, 1, false, 6},
      {"Stored", CAIRO_FORMAT_ARGB32, 50, 20, true, 0},
      {"Best", CAIRO_FORMAT_RGB24, 300, 5, false, 9},
      // More rows than one slice of the encoder holds.
      {"Tall", CAIRO_FORMAT_ARGB32, 700, 200, false, 1},
  };
  for (const TRow& c : rows) {
    SCOPED_TRACE(c.Name);
    cairo_surface_t* s = cairo_image_surface_create(c.Format, c.Width, c.Height);
    cairo_t* cr = cairo_create(s);
    // Flat areas, a gradient, antialiased lines: runs and noise for the filter.
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_pattern_t* g = cairo_pattern_create_linear(0, 0, c.Width, c.Height);
    cairo_pattern_add_color_stop_rgba(g, 0, 0.1, 0.4, 0.9, c.Translucent ? 0.3 : 1);
    cairo_pattern_add_color_stop_rgba(g, 1, 0.9, 0.2, 0.1, c.Translucent ? 0.7 : 1);
    cairo_set_source(cr, g);
    cairo_rectangle(cr, c.Width / 4.0, 0, c.Width / 2.0, c.Height);
    cairo_fill(cr);
    cairo_pattern_destroy(g);
    cairo_set_source_rgb(cr, 0.12, 0.37, 0.75);
    cairo_move_to(cr, 0, c.Height);
    cairo_line_to(cr, c.Width, 0.3);
    cairo_stroke(cr);
    if (c.Translucent) {
      // Punch fully transparent and half transparent holes.
      cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
      cairo_set_source_rgba(cr, 0, 0, 0, 0);
      cairo_rectangle(cr, 0, 0, 3, 3);
      cairo_fill(cr);
      cairo_set_source_rgba(cr, 0.5, 1, 0.25, 0.5);
      cairo_rectangle(cr, c.Width - 3, c.Height - 3, 3, 3);
      cairo_fill(cr);
    }
    cairo_destroy(cr);
    cairo_surface_flush(s);

    const std::string png = WritePng(s, c.Level);
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    TReader reader{&png};
    cairo_surface_t* back = cairo_image_surface_create_from_png_stream(Read, &reader);
    ASSERT_EQ(cairo_surface_status(back), CAIRO_STATUS_SUCCESS);
    ASSERT_EQ(cairo_image_surface_get_width(back), c.Width);
    ASSERT_EQ(cairo_image_surface_get_height(back), c.Height);
    // An opaque picture comes back as RGB, a translucent one keeps its alpha.
    EXPECT_EQ(cairo_image_surface_get_format(back), c.Translucent ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24);
    int differences = 0;
    for (int y = 0; y < c.Height; ++y)
      for (int x = 0; x < c.Width; ++x) {
        const std::uint32_t want = Pixel(s, x, y), got = Pixel(back, x, y);
        if (c.Translucent) {
          // Straight alpha and back loses at most one step of a channel.
          for (int shift = 0; shift < 32; shift += 8) {
            const int a = int((want >> shift) & 0xFF), b = int((got >> shift) & 0xFF);
            differences += std::abs(a - b) > 1;
          }
        } else {
          differences += (want & 0xFFFFFF) != (got & 0xFFFFFF);
        }
      }
    EXPECT_EQ(differences, 0);
    cairo_surface_destroy(back);

    // The file encoder, from pixels that outlive the caller's surface (held
    // by the copy alone once the first holder is emptied).
    const std::string cairos = CairoPng(s);
    ASSERT_FALSE(cairos.empty());
    TPngPixels pixels = CapturePngPixels(s);
    cairo_surface_destroy(s);
    const TPngPixels shared = pixels;
    pixels = TPngPixels{};
    EXPECT_TRUE(EncodePngFile(shared) == cairos);
  }
}

// The filter byte of every row of a PNG (its IDAT chunks joined and inflated).
std::set<int> RowFilters(const std::string& APng, std::size_t ARowBytes) {
  std::string idat;
  for (std::size_t at = 8; at + 12 <= APng.size();) {
    const auto* b = reinterpret_cast<const unsigned char*>(APng.data() + at);
    const std::size_t length = (std::size_t(b[0]) << 24) | (b[1] << 16) | (b[2] << 8) | b[3];
    if (APng.compare(at + 4, 4, "IDAT") == 0) idat.append(APng, at + 8, length);
    at += 12 + length;
  }
  std::string raw(16 << 20, '\0');
  uLongf size = static_cast<uLongf>(raw.size());
  if (uncompress(reinterpret_cast<Bytef*>(raw.data()), &size, reinterpret_cast<const Bytef*>(idat.data()),
                 static_cast<uLong>(idat.size())) != Z_OK)
    return {};
  std::set<int> filters;
  for (std::size_t row = 0; row + 1 + ARowBytes <= size; row += 1 + ARowBytes) filters.insert(raw[row]);
  return filters;
}

// The file encoder chooses each row's filter itself (libpng is handed just
// that one): on pictures whose rows call for every one of the five filters
// the file is still byte for byte the one Cairo's writer makes.
TEST(PngWriter, FileEncoderChoosesTheFiltersLibpngWould) {
  for (const bool translucent : {false, true}) {
    SCOPED_TRACE(translucent ? "translucent" : "opaque");
    const int w = 211, h = 97;
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    auto* px = reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(s));
    const int stride = cairo_image_surface_get_stride(s) / 4;
    std::uint32_t seed = 7;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        std::uint32_t r, g, b;
        if (y < 20) {  // noise
          seed = seed * 1664525u + 1013904223u;
          r = seed >> 24, g = (seed >> 16) & 0xFF, b = (seed >> 8) & 0xFF;
        } else if (y < 40) {  // ramps along the row
          r = (x * 3) & 0xFF, g = (x * 5 + 7) & 0xFF, b = 200;
        } else if (y < 60) {  // ramps down the columns, with a pattern along the row
          r = (y * 9 + (x % 7) * 31) & 0xFF, g = (y * 4 + (x % 5) * 50) & 0xFF, b = (x % 3) * 80;
        } else {  // a smooth surface: both ways at once
          r = (x * x / 64 + y * 3) & 0xFF, g = (x * 2 + y * y / 16) & 0xFF, b = ((x + y) * 3 / 2) & 0xFF;
        }
        const std::uint32_t a = translucent && (x + y) % 11 == 0 ? 0x80 : 0xFF;
        // Premultiplied, as the surface keeps them.
        px[y * stride + x] = (a << 24) | ((r * a / 255) << 16) | ((g * a / 255) << 8) | (b * a / 255);
      }
    cairo_surface_mark_dirty(s);
    const std::string cairos = CairoPng(s);
    ASSERT_FALSE(cairos.empty());
    const std::string ours = EncodePngFile(CapturePngPixels(s));
    cairo_surface_destroy(s);
    EXPECT_TRUE(ours == cairos);
    EXPECT_EQ(RowFilters(ours, std::size_t(w) * (translucent ? 4 : 3)), (std::set<int>{0, 1, 2, 3, 4}));
  }
}

TEST(PngWriter, RefusesWhatIsNotAnImageOfPixels) {
  cairo_surface_t* a8 = cairo_image_surface_create(CAIRO_FORMAT_A8, 4, 4);
  EXPECT_THROW(WritePng(a8), EArgumentException);
  EXPECT_THROW(CapturePngPixels(a8), EArgumentException);
  cairo_surface_destroy(a8);
  EXPECT_THROW(EncodePngFile(TPngPixels{}), EArgumentException);
  cairo_surface_t* recording = cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, nullptr);
  EXPECT_THROW(WritePng(recording), EArgumentException);
  cairo_surface_destroy(recording);
  EXPECT_THROW(WritePng(nullptr), EArgumentException);
}

}  // namespace
