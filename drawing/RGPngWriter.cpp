// RGPngWriter: signature, IHDR, one IDAT, IEND; each row the filter byte of
// the Sub filter and the filtered pixels. The rows are converted and compressed a slice at a time
// through one zlib stream, so memory stays small whatever the picture size.
// The file encoder hands libpng straight rows and lets it choose filters and
// compress at its defaults.
#include "drawing/RGPngWriter.h"

#include <png.h>
#include <zlib.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "runtime/SysUtils.h"

namespace nx {

namespace {

void PutBig32(std::string& AOut, std::uint32_t AValue) {
  for (int shift = 24; shift >= 0; shift -= 8) AOut += static_cast<char>((AValue >> shift) & 0xFF);
}

// A chunk: length, type, data, CRC of type and data.
void PutChunk(std::string& AOut, const char* AType, const unsigned char* AData, std::size_t ASize) {
  PutBig32(AOut, static_cast<std::uint32_t>(ASize));
  const std::size_t start = AOut.size();
  AOut.append(AType, 4);
  AOut.append(reinterpret_cast<const char*>(AData), ASize);
  const uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(AOut.data() + start), static_cast<uInt>(ASize + 4));
  PutBig32(AOut, static_cast<std::uint32_t>(crc));
}

// Cairo keeps colours premultiplied by alpha; PNG keeps them straight.
inline unsigned char Straight(std::uint32_t AChannel, std::uint32_t AAlpha) {
  return static_cast<unsigned char>(AAlpha == 0 ? 0 : (AChannel * 255 + AAlpha / 2) / AAlpha);
}

// The pixels of an ARGB32 or RGB24 image surface, flushed; EArgumentException
// for anything else or a picture without pixels.
struct TSurfaceView {
  cairo_format_t Format;
  int Width, Height, Stride;
  const unsigned char* Data;
};
TSurfaceView ViewSurface(cairo_surface_t* ASurface) {
  if (!ASurface || cairo_surface_get_type(ASurface) != CAIRO_SURFACE_TYPE_IMAGE)
    throw EArgumentException("WritePng needs an image surface");
  const cairo_format_t format = cairo_image_surface_get_format(ASurface);
  if (format != CAIRO_FORMAT_ARGB32 && format != CAIRO_FORMAT_RGB24)
    throw EArgumentException("WritePng needs an ARGB32 or RGB24 surface");
  cairo_surface_flush(ASurface);
  const TSurfaceView v{format, cairo_image_surface_get_width(ASurface), cairo_image_surface_get_height(ASurface),
                       cairo_image_surface_get_stride(ASurface), cairo_image_surface_get_data(ASurface)};
  if (v.Width <= 0 || v.Height <= 0 || !v.Data) throw EArgumentException("WritePng needs a picture of at least one pixel");
  return v;
}

}  // namespace

std::string WritePng(cairo_surface_t* ASurface, int ALevel) {
  const TSurfaceView v = ViewSurface(ASurface);
  const cairo_format_t format = v.Format;
  const int width = v.Width, height = v.Height, stride = v.Stride;
  const unsigned char* data = v.Data;

  bool alpha = false;
  if (format == CAIRO_FORMAT_ARGB32)
    for (int y = 0; y < height && !alpha; ++y) {
      const auto* row = reinterpret_cast<const std::uint32_t*>(data + std::size_t(y) * stride);
      for (int x = 0; x < width; ++x)
        if ((row[x] >> 24) != 0xFF) {
          alpha = true;
          break;
        }
    }
  const int channels = alpha ? 4 : 3;

  std::string out("\x89PNG\r\n\x1a\n", 8);
  unsigned char header[13];
  for (int i = 0; i < 4; ++i) {
    header[i] = static_cast<unsigned char>(std::uint32_t(width) >> (24 - 8 * i));
    header[4 + i] = static_cast<unsigned char>(std::uint32_t(height) >> (24 - 8 * i));
  }
  header[8] = 8;                 // bits per channel
  header[9] = alpha ? 6 : 2;     // RGBA or RGB
  header[10] = header[11] = header[12] = 0;  // deflate, adaptive filtering, no interlace
  PutChunk(out, "IHDR", header, sizeof header);

  z_stream z{};
  // Run-length matches only: after the Sub filter a plot is mostly runs of
  // zeros, and looking further back costs more than it saves.
  if (deflateInit2(&z, std::clamp(ALevel, 0, 9), Z_DEFLATED, 15, 8, Z_RLE) != Z_OK)
    throw EOutOfMemory("WritePng cannot start zlib");
  const std::size_t rowBytes = 1 + std::size_t(width) * channels;
  // About 64 KiB of rows at a time.
  const int sliceRows = std::max<int>(1, static_cast<int>((64 * 1024) / rowBytes));
  std::vector<unsigned char> rows(rowBytes * sliceRows);
  std::vector<unsigned char> packed(deflateBound(&z, static_cast<uLong>(rowBytes) * height) + 64);
  z.next_out = packed.data();
  z.avail_out = static_cast<uInt>(packed.size());
  for (int y0 = 0; y0 < height; y0 += sliceRows) {
    const int count = std::min(sliceRows, height - y0);
    unsigned char* o = rows.data();
    for (int y = y0; y < y0 + count; ++y) {
      const auto* row = reinterpret_cast<const std::uint32_t*>(data + std::size_t(y) * stride);
      unsigned char* const filter = o;
      *o++ = 1;
      if (alpha) {
        for (int x = 0; x < width; ++x) {
          const std::uint32_t p = row[x], a = p >> 24;
          *o++ = Straight((p >> 16) & 0xFF, a);
          *o++ = Straight((p >> 8) & 0xFF, a);
          *o++ = Straight(p & 0xFF, a);
          *o++ = static_cast<unsigned char>(a);
        }
      } else {
        for (int x = 0; x < width; ++x) {
          const std::uint32_t p = row[x];
          o[0] = static_cast<unsigned char>(p >> 16);
          o[1] = static_cast<unsigned char>(p >> 8);
          o[2] = static_cast<unsigned char>(p);
          o += 3;
        }
      }
      // The Sub filter: each byte less the same channel of the pixel to its
      // left. Runs of one colour become runs of zeros.
      for (unsigned char* b = o - 1; b > filter + channels; --b) *b = static_cast<unsigned char>(*b - b[-channels]);
    }
    z.next_in = rows.data();
    z.avail_in = static_cast<uInt>(o - rows.data());
    const int flush = y0 + count >= height ? Z_FINISH : Z_NO_FLUSH;
    const int status = deflate(&z, flush);
    // The output holds deflateBound of the whole picture: it cannot run out.
    if (status == Z_STREAM_ERROR || (flush == Z_FINISH && status != Z_STREAM_END)) {
      deflateEnd(&z);
      throw EOutOfMemory("WritePng: zlib failed");
    }
  }
  const std::size_t packedSize = z.total_out;
  deflateEnd(&z);
  PutChunk(out, "IDAT", packed.data(), packedSize);
  PutChunk(out, "IEND", nullptr, 0);
  return out;
}

TPngPixels CapturePngPixels(cairo_surface_t* ASurface) {
  const TSurfaceView v = ViewSurface(ASurface);  // flushed: the pixels are all in memory
  TPngPixels p;
  p.FSurface.reset(cairo_surface_reference(ASurface), cairo_surface_destroy);
  p.FData = v.Data;
  p.FStride = static_cast<std::size_t>(v.Stride);
  p.FWidth = v.Width;
  p.FHeight = v.Height;
  p.FRgb24 = v.Format == CAIRO_FORMAT_RGB24;
  return p;
}

namespace {

// libpng reports failures by a long jump out of its own frames; the frame it
// jumps to holds nothing with a destructor, so the jump skips no clean-up.
struct TPngJob {
  const TPngPixels* Pixels;
  bool Alpha;
  std::string* Out;
  unsigned char* Row;  // room for one converted row
  char Error[128];
};

void PngError(png_structp APng, png_const_charp AMessage) {
  auto* job = static_cast<TPngJob*>(png_get_error_ptr(APng));
  std::snprintf(job->Error, sizeof job->Error, "%s", AMessage ? AMessage : "libpng failed");
  png_longjmp(APng, 1);
}
void PngWarning(png_structp, png_const_charp) {}
void PngWrite(png_structp APng, png_bytep AData, png_size_t ASize) {
  // Appending may throw; libpng's frames cannot be unwound, so the failure
  // goes back through libpng's own error path.
  auto* job = static_cast<TPngJob*>(png_get_io_ptr(APng));
  try {
    job->Out->append(reinterpret_cast<const char*>(AData), ASize);
  } catch (...) {
    png_error(APng, "out of memory");
  }
}
void PngFlush(png_structp) {}

// False with AJob.Error filled when libpng fails.
bool EncodeRows(TPngJob& AJob) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &AJob, PngError, PngWarning);
  if (!png) {
    std::snprintf(AJob.Error, sizeof AJob.Error, "libpng cannot start");
    return false;
  }
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    if (!info) std::snprintf(AJob.Error, sizeof AJob.Error, "libpng cannot start");
    png_destroy_write_struct(&png, info ? &info : nullptr);
    return false;
  }
  const TPngPixels& p = *AJob.Pixels;
  png_set_write_fn(png, &AJob, PngWrite, PngFlush);
  png_set_IHDR(png, info, static_cast<png_uint_32>(p.Width()), static_cast<png_uint_32>(p.Height()), 8,
               AJob.Alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  // A white background, as the files Cairo writes say.
  png_color_16 white{};
  white.gray = white.red = white.green = white.blue = 255;
  png_set_bKGD(png, info, &white);
  png_write_info(png, info);
  for (int y = 0; y < p.Height(); ++y) {
    const std::uint32_t* row = p.Row(y);
    unsigned char* o = AJob.Row;
    if (AJob.Alpha) {
      for (int x = 0; x < p.Width(); ++x) {
        const std::uint32_t px = row[x], a = px >> 24;
        *o++ = Straight((px >> 16) & 0xFF, a);
        *o++ = Straight((px >> 8) & 0xFF, a);
        *o++ = Straight(px & 0xFF, a);
        *o++ = static_cast<unsigned char>(a);
      }
    } else {
      for (int x = 0; x < p.Width(); ++x) {
        const std::uint32_t px = row[x];
        *o++ = static_cast<unsigned char>(px >> 16);
        *o++ = static_cast<unsigned char>(px >> 8);
        *o++ = static_cast<unsigned char>(px);
      }
    }
    png_write_row(png, AJob.Row);
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

std::string EncodePngFile(const TPngPixels& APixels) {
  if (APixels.Width() <= 0 || APixels.Height() <= 0)
    throw EArgumentException("EncodePngFile needs a picture of at least one pixel");
  // Written as RGB unless some pixel is translucent, as Cairo decides.
  bool alpha = false;
  if (!APixels.Rgb24())
    for (int y = 0; y < APixels.Height() && !alpha; ++y) {
      const std::uint32_t* row = APixels.Row(y);
      for (int x = 0; x < APixels.Width(); ++x)
        if ((row[x] >> 24) != 0xFF) {
          alpha = true;
          break;
        }
    }
  std::string out;
  std::vector<unsigned char> row(std::size_t(APixels.Width()) * (alpha ? 4 : 3));
  TPngJob job{&APixels, alpha, &out, row.data(), {}};
  if (!EncodeRows(job)) throw EOutOfMemory(std::string("EncodePngFile: ") + job.Error);
  return out;
}

}  // namespace nx
