// RGPngWriter: signature, IHDR, one IDAT, IEND; each row the filter byte of
// the Sub filter and the filtered pixels. The rows are converted and compressed a slice at a time
// through one zlib stream, so memory stays small whatever the picture size.
// The file encoder chooses each row's filter the way libpng would (see
// ChooseFilter), hands libpng the row with just that filter, and lets it
// compress at its defaults.
#include "drawing/RGPngWriter.h"

#include <png.h>
#include <zlib.h>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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
  // Two rows (this one and the one above), each after kRowPad zero bytes
  // and with room for a whole last block of 16.
  unsigned char* Rows;
  std::size_t RowRoom;
  char Error[128];
};

constexpr std::size_t kRowPad = 16;

// libpng's own choice of a row's filter, made sixteen bytes at a time. For
// each of the five filters it sums the filtered bytes read as signed (a byte
// v counts min(v, 256 - v)) and takes the least sum, the earlier filter on a
// tie (None, Sub, Up, Average, Paeth). The bytes left of the row and the
// row above the first are zeros, as in libpng. libpng then applies just that
// filter: the file is byte for byte the same, and the row is filtered once
// instead of five times.
int ChooseFilter(const unsigned char* ARow, const unsigned char* AAbove, std::size_t ABytes, std::size_t ABpp) {
  std::uint64_t sums[5] = {};
#ifdef __SSE2__
  const __m128i zero = _mm_setzero_si128(), low7 = _mm_set1_epi8(0x7F), lowByte = _mm_set1_epi16(0xFF);
  __m128i acc[5] = {zero, zero, zero, zero, zero};
  auto add = [&](int AFilter, __m128i AV, __m128i AKeep) {
    const __m128i m = _mm_and_si128(_mm_min_epu8(AV, _mm_sub_epi8(zero, AV)), AKeep);
    acc[AFilter] = _mm_add_epi64(acc[AFilter], _mm_sad_epu8(m, zero));
  };
  // Paeth on eight lanes of 16 bits: the neighbour nearest to left + up - upper left.
  auto paeth = [&](__m128i x, __m128i a, __m128i b, __m128i c) {
    const __m128i bc = _mm_sub_epi16(b, c), ac = _mm_sub_epi16(a, c);
    const __m128i pa = _mm_max_epi16(bc, _mm_sub_epi16(zero, bc)), pb = _mm_max_epi16(ac, _mm_sub_epi16(zero, ac));
    const __m128i sum = _mm_add_epi16(bc, ac), pc = _mm_max_epi16(sum, _mm_sub_epi16(zero, sum));
    const __m128i useA = _mm_andnot_si128(_mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc)),
                                          _mm_set1_epi16(-1));
    const __m128i useB = _mm_andnot_si128(_mm_or_si128(useA, _mm_cmpgt_epi16(pb, pc)), _mm_set1_epi16(-1));
    const __m128i useC = _mm_andnot_si128(_mm_or_si128(useA, useB), _mm_set1_epi16(-1));
    const __m128i pred = _mm_or_si128(_mm_or_si128(_mm_and_si128(useA, a), _mm_and_si128(useB, b)),
                                      _mm_and_si128(useC, c));
    return _mm_and_si128(_mm_sub_epi16(x, pred), lowByte);
  };
  for (std::size_t i = 0; i < ABytes; i += 16) {
    // Lanes past the row's end count nothing.
    __m128i keep = _mm_set1_epi8(-1);
    if (ABytes - i < 16) {
      alignas(16) unsigned char k[16] = {};
      std::memset(k, 0xFF, ABytes - i);
      keep = _mm_load_si128(reinterpret_cast<const __m128i*>(k));
    }
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ARow + i));
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ARow + i - ABpp));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(AAbove + i));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(AAbove + i - ABpp));
    add(0, x, keep);
    add(1, _mm_sub_epi8(x, a), keep);
    add(2, _mm_sub_epi8(x, b), keep);
    // floor((a + b) / 2) without leaving eight bits.
    const __m128i avg = _mm_add_epi8(_mm_and_si128(a, b), _mm_and_si128(_mm_srli_epi16(_mm_xor_si128(a, b), 1), low7));
    add(3, _mm_sub_epi8(x, avg), keep);
    const __m128i lo = paeth(_mm_unpacklo_epi8(x, zero), _mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero),
                             _mm_unpacklo_epi8(c, zero));
    const __m128i hi = paeth(_mm_unpackhi_epi8(x, zero), _mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero),
                             _mm_unpackhi_epi8(c, zero));
    add(4, _mm_packus_epi16(lo, hi), keep);
  }
  for (int f = 0; f < 5; ++f) {
    alignas(16) std::uint64_t two[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(two), acc[f]);
    sums[f] = two[0] + two[1];
  }
#else
  for (std::size_t i = 0; i < ABytes; ++i) {
    const int x = ARow[i], a = ARow[i - ABpp], b = AAbove[i], c = AAbove[i - ABpp];
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    const int pred = (pa <= pb && pa <= pc) ? a : pb <= pc ? b : c;
    const int v[5] = {x, x - a, x - b, x - (a + b) / 2, x - pred};
    for (int f = 0; f < 5; ++f) {
      const int u = v[f] & 0xFF;
      sums[f] += static_cast<std::uint64_t>(u < 128 ? u : 256 - u);
    }
  }
#endif
  int best = 0;
  for (int f = 1; f < 5; ++f)
    if (sums[f] < sums[best]) best = f;
  static constexpr int kFlags[5] = {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG, PNG_FILTER_PAETH};
  return kFlags[best];
}

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
  // libpng tries its five filters on the first row itself: that row sets up
  // its buffers and the compression for adaptive filtering, and it must find
  // all five filters asked for then. A picture of one row or one column
  // keeps libpng's own handling throughout.
  const bool choose = p.Width() > 1 && p.Height() > 1;
  const std::size_t bytes = std::size_t(p.Width()) * (AJob.Alpha ? 4 : 3);
  unsigned char* above = AJob.Rows + kRowPad;
  unsigned char* current = AJob.Rows + AJob.RowRoom + kRowPad;
  for (int y = 0; y < p.Height(); ++y) {
    const std::uint32_t* row = p.Row(y);
    unsigned char* o = current;
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
    if (choose && y > 0) png_set_filter(png, PNG_FILTER_TYPE_BASE, ChooseFilter(current, above, bytes, AJob.Alpha ? 4 : 3));
    png_write_row(png, current);
    std::swap(above, current);
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
  const std::size_t room = kRowPad + (std::size_t(APixels.Width()) * (alpha ? 4 : 3) + 15) / 16 * 16;
  std::vector<unsigned char> rows(2 * room, 0);  // the pads stay zero
  TPngJob job{&APixels, alpha, &out, rows.data(), room, {}};
  if (!EncodeRows(job)) throw EOutOfMemory(std::string("EncodePngFile: ") + job.Error);
  return out;
}

}  // namespace nx
