// Vantex images: bitmaps of ARGB pixels over Cairo image surfaces, decoded
// from PNG (Cairo) or JPEG, BMP and GIF (the stb image decoder), and encoded
// as PNG (Cairo), JPEG or BMP (the stb image writer). Every failure of a
// decoder, including truncated and corrupt data, raises EVantexError.
#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "drawing/Vantex.h"
#include "drawing/VantexInternal.h"

// The decoders and encoders are compiled into this source only (static
// functions), for the formats read here, from memory only.
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#define STBI_ONLY_GIF
#define STBI_MAX_DIMENSIONS 32767
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

namespace nx {

using namespace vantex;

namespace {

constexpr std::int64_t kMaxPixels = TIGPBitmap::kMaxPixels;
constexpr std::int32_t kMaxSide = TIGPBitmap::kMaxSide;

void CheckSize(std::int64_t w, std::int64_t h) {
  if (w < 1 || h < 1 || w > kMaxSide || h > kMaxSide || w * h > kMaxPixels)
    Raise(Format("Invalid image size %lldx%lld", static_cast<long long>(w), static_cast<long long>(h)));
}

// Pixel memory kept for the next surface. Fresh memory costs a page fault
// per 4 KiB on first touch, and a plot's surface is whole fresh pages each
// time (its size is over the allocator's limit for reuse): drawing a series
// of pictures the same size (a run's plots, a live display's frames) paid
// more for the faults than for filling the background. A surface gives its
// memory back here when it goes, on whatever thread lets go of it last.
class TPixelPool {
 public:
  // Zeroed memory of ABytes, or null when none can be had.
  unsigned char* Take(std::size_t ABytes) {
    unsigned char* p = nullptr;
    {
      std::lock_guard guard(FLock);
      for (auto it = FFree.begin(); it != FFree.end(); ++it)
        if (it->Bytes == ABytes) {
          p = it->Data;
          FHeld -= ABytes;
          FFree.erase(it);
          break;
        }
    }
    if (p) return static_cast<unsigned char*>(std::memset(p, 0, ABytes));
    if (ABytes < kMapped) return static_cast<unsigned char*>(std::calloc(1, ABytes));
    // Fresh pages come zeroed; mapped in one call they cost about half what
    // faulting them in one by one does.
    void* m = mmap(nullptr, ABytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    return m == MAP_FAILED ? nullptr : static_cast<unsigned char*>(m);
  }
  static void Free(unsigned char* AData, std::size_t ABytes) noexcept {
    if (ABytes < kMapped)
      std::free(AData);
    else
      munmap(AData, ABytes);
  }
  void Give(unsigned char* AData, std::size_t ABytes) {
    std::lock_guard guard(FLock);
    FFree.push_back({AData, ABytes});
    FHeld += ABytes;
    // Bounded: the oldest go first (a display that changed size leaves them).
    while (FHeld > kMaxHeld || FFree.size() > kMaxBlocks) {
      FHeld -= FFree.front().Bytes;
      Free(FFree.front().Data, FFree.front().Bytes);
      FFree.erase(FFree.begin());
    }
  }

 private:
  static constexpr std::size_t kMaxHeld = std::size_t(64) << 20;
  static constexpr std::size_t kMapped = std::size_t(256) << 10;  // and larger: mapped whole
  static constexpr std::size_t kMaxBlocks = 16;
  struct TBlock {
    unsigned char* Data;
    std::size_t Bytes;
  };
  std::mutex FLock;
  std::vector<TBlock> FFree;  // oldest first
  std::size_t FHeld = 0;
};

// Never destroyed: surfaces may still go back to it while the process ends.
TPixelPool& PixelPool() {
  static TPixelPool* pool = new TPixelPool;
  return *pool;
}

struct TPooledPixels {
  unsigned char* Data;
  std::size_t Bytes;
};
const cairo_user_data_key_t kPooledPixelsKey{};

void GivePooledPixels(void* AData) {
  auto* pixels = static_cast<TPooledPixels*>(AData);
  PixelPool().Give(pixels->Data, pixels->Bytes);
  delete pixels;
}

cairo_surface_t* NewSurface(std::int32_t w, std::int32_t h) {
  CheckSize(w, h);
  const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, w);
  const std::size_t bytes = static_cast<std::size_t>(stride) * static_cast<std::size_t>(h);
  unsigned char* data = stride > 0 ? PixelPool().Take(bytes) : nullptr;
  if (!data) Check(CAIRO_STATUS_NO_MEMORY, "Cannot create an image");
  cairo_surface_t* s = cairo_image_surface_create_for_data(data, CAIRO_FORMAT_ARGB32, w, h, stride);
  auto* pooled = new (std::nothrow) TPooledPixels{data, bytes};
  cairo_status_t st = cairo_surface_status(s);
  if (st == CAIRO_STATUS_SUCCESS && !pooled) st = CAIRO_STATUS_NO_MEMORY;
  if (st == CAIRO_STATUS_SUCCESS) st = cairo_surface_set_user_data(s, &kPooledPixelsKey, pooled, GivePooledPixels);
  if (st != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    delete pooled;
    TPixelPool::Free(data, bytes);
    Check(st, "Cannot create an image");
  }
  return s;
}

std::uint32_t* Row(cairo_surface_t* s, int y) {
  return reinterpret_cast<std::uint32_t*>(cairo_image_surface_get_data(s) + std::size_t(y) * cairo_image_surface_get_stride(s));
}

struct TReader {
  const unsigned char* Data;
  std::size_t Size, Pos;
};

cairo_status_t ReadPng(void* closure, unsigned char* data, unsigned int length) {
  auto* r = static_cast<TReader*>(closure);
  if (length > r->Size - r->Pos) return CAIRO_STATUS_READ_ERROR;
  std::memcpy(data, r->Data + r->Pos, length);
  r->Pos += length;
  return CAIRO_STATUS_SUCCESS;
}

cairo_surface_t* DecodePng(const unsigned char* p, std::size_t n) {
  // The size from the header chunk first: Cairo would try to allocate
  // whatever a corrupt header claims.
  if (n < 33 || std::memcmp(p + 12, "IHDR", 4) != 0) Raise("Invalid PNG image: no header");
  auto be32 = [](const unsigned char* b) {
    return (std::int64_t(b[0]) << 24) | (std::int64_t(b[1]) << 16) | (std::int64_t(b[2]) << 8) | b[3];
  };
  CheckSize(be32(p + 16), be32(p + 20));
  TReader r{p, n, 0};
  cairo_surface_t* s = cairo_image_surface_create_from_png_stream(ReadPng, &r);
  const cairo_status_t st = cairo_surface_status(s);
  if (st != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    Raise(std::string("Invalid PNG image: ") + cairo_status_to_string(st));
  }
  if (cairo_image_surface_get_format(s) == CAIRO_FORMAT_ARGB32) return s;
  // Opaque or grey images come in other formats: every bitmap is ARGB32.
  cairo_surface_t* argb = NewSurface(cairo_image_surface_get_width(s), cairo_image_surface_get_height(s));
  cairo_t* cr = cairo_create(argb);
  cairo_set_source_surface(cr, s, 0, 0);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_destroy(s);
  return argb;
}

// The decoder reads through callbacks that note a read past the end: on
// truncated data the decoder would otherwise go on with zero bytes and
// return an image with a made-up remainder.
struct TStbInput {
  const unsigned char* Data;
  std::size_t Size, Pos;
  bool Overrun;
};

int StbRead(void* user, char* data, int size) {
  auto* in = static_cast<TStbInput*>(user);
  const std::size_t n = std::min<std::size_t>(std::size_t(std::max(size, 0)), in->Size - in->Pos);
  if (n == 0 && size > 0) in->Overrun = true;
  std::memcpy(data, in->Data + in->Pos, n);
  in->Pos += n;
  return int(n);
}

void StbSkip(void* user, int n) {
  auto* in = static_cast<TStbInput*>(user);
  const long long pos = static_cast<long long>(in->Pos) + n;
  if (pos > static_cast<long long>(in->Size)) in->Overrun = true;
  in->Pos = std::size_t(std::clamp<long long>(pos, 0, static_cast<long long>(in->Size)));
}

int StbEof(void* user) {
  auto* in = static_cast<TStbInput*>(user);
  return in->Pos >= in->Size;
}

// Huffman tables of more than 256 codes overrun the stb decoder's tables,
// and a scan that decodes with a table no segment defined makes it read one
// it never built (its consistency assertion then aborts the process): every
// table-definition segment is checked, and every scan's tables must have
// been defined before it. The walk follows the marker segments and skips the
// entropy-coded data after each start of scan (tables may stand between the
// scans of a progressive image).
void CheckJpegTables(const unsigned char* p, std::size_t n) {
  auto at = [&](std::size_t i) -> std::size_t { return i < n ? p[i] : 0; };
  bool defined[2][4] = {};  // [DC, AC][table]
  bool progressive = false;
  std::size_t pos = 2;
  while (pos + 4 <= n) {
    if (p[pos] != 0xFF) {
      ++pos;
      continue;
    }
    const unsigned char m = p[pos + 1];
    if (m == 0xFF) {  // fill byte
      ++pos;
      continue;
    }
    if (m == 0x00 || m == 0x01 || (m >= 0xD0 && m <= 0xD8)) {  // no length follows
      pos += 2;
      continue;
    }
    if (m == 0xD9) return;
    const std::size_t len = (std::size_t(p[pos + 2]) << 8) | p[pos + 3];
    if (len < 2) Raise("Invalid JPEG image: bad segment length");
    if (m == 0xC2) progressive = true;
    if (m == 0xC4) {
      // As the decoder reads it: tables while the segment length lasts, and
      // zeros past the end of the data.
      long left = long(len) - 2;
      for (std::size_t t = pos + 4; left > 0;) {
        std::size_t codes = 0;
        for (int i = 1; i <= 16; ++i) codes += at(t + i);
        if (codes > 256) Raise("Invalid JPEG image: bad Huffman table");
        const std::size_t kind = at(t) >> 4, id = at(t) & 15;
        if (kind <= 1 && id <= 3) defined[kind][id] = true;  // the decoder refuses other headers
        t += 17 + codes;
        left -= long(17 + codes);
      }
    }
    if (m == 0xDA) {
      // The tables each component of the scan decodes with. A progressive
      // scan uses only the DC tables (spectral start 0; a refinement of DC
      // reads bits, no codes) or only the AC ones.
      const std::size_t count = at(pos + 4), tail = pos + 5 + 2 * count;
      const bool dc = !progressive || (at(tail) == 0 && (at(tail + 2) >> 4) == 0);
      const bool ac = !progressive || at(tail) != 0;
      for (std::size_t c = 0; c < count; ++c) {
        const std::size_t tables = at(pos + 6 + 2 * c), td = tables >> 4, ta = tables & 15;
        if ((dc && td <= 3 && !defined[0][td]) || (ac && ta <= 3 && !defined[1][ta]))
          Raise("Invalid JPEG image: a scan uses an undefined Huffman table");
      }
    }
    pos = pos + 2 + len;
    if (m == 0xDA) {
      // Entropy-coded data up to the next marker (0xFF 0x00 is a stuffed byte,
      // 0xFF 0xD0..0xD7 a restart marker).
      while (pos + 1 < n && !(p[pos] == 0xFF && p[pos + 1] != 0 && (p[pos + 1] < 0xD0 || p[pos + 1] > 0xD7))) ++pos;
    }
  }
}

cairo_surface_t* DecodeStb(const unsigned char* p, std::size_t n, const char* AFormat) {
  if (std::string_view(AFormat) == "JPEG") CheckJpegTables(p, n);
  const stbi_io_callbacks io{StbRead, StbSkip, StbEof};
  auto fail = [AFormat](const char* why) { Raise(std::string("Invalid ") + AFormat + " image: " + why); };
  TStbInput in{p, n, 0, false};
  int w = 0, h = 0, comp = 0;
  if (!stbi_info_from_callbacks(&io, &in, &w, &h, &comp)) fail(stbi_failure_reason());
  CheckSize(w, h);
  in = TStbInput{p, n, 0, false};
  unsigned char* rgba = stbi_load_from_callbacks(&io, &in, &w, &h, &comp, 4);
  if (!rgba) fail(in.Overrun ? "truncated" : stbi_failure_reason());
  if (in.Overrun) {
    stbi_image_free(rgba);
    fail("truncated");
  }
  cairo_surface_t* s = nullptr;
  try {
    s = NewSurface(w, h);
  } catch (...) {
    stbi_image_free(rgba);
    throw;
  }
  cairo_surface_flush(s);
  for (int y = 0; y < h; ++y) {
    std::uint32_t* row = Row(s, y);
    const unsigned char* src = rgba + std::size_t(y) * w * 4;
    for (int x = 0; x < w; ++x, src += 4) row[x] = Premultiply(MakeColor(src[3], src[0], src[1], src[2]));
  }
  cairo_surface_mark_dirty(s);
  stbi_image_free(rgba);
  return s;
}

cairo_surface_t* Decode(const void* AData, std::size_t ASize) {
  const auto* p = static_cast<const unsigned char*>(AData);
  if (!p || ASize < 4) Raise("Invalid image: too short");
  if (ASize >= 8 && std::memcmp(p, "\x89PNG\r\n\x1a\n", 8) == 0) return DecodePng(p, ASize);
  if (p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF) return DecodeStb(p, ASize, "JPEG");
  if (p[0] == 'B' && p[1] == 'M') return DecodeStb(p, ASize, "BMP");
  if (ASize >= 6 && (std::memcmp(p, "GIF87a", 6) == 0 || std::memcmp(p, "GIF89a", 6) == 0))
    return DecodeStb(p, ASize, "GIF");
  Raise("Invalid image: unknown format");
}

cairo_status_t WritePng(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::vector<unsigned char>*>(closure)->insert(static_cast<std::vector<unsigned char>*>(closure)->end(),
                                                             data, data + length);
  return CAIRO_STATUS_SUCCESS;
}

void WriteStb(void* context, void* data, int size) {
  auto* out = static_cast<std::vector<unsigned char>*>(context);
  out->insert(out->end(), static_cast<unsigned char*>(data), static_cast<unsigned char*>(data) + size);
}

std::vector<unsigned char> Encode(cairo_surface_t* s, std::string_view AFormat) {
  std::vector<unsigned char> out;
  cairo_surface_flush(s);
  if (AFormat == "png" || AFormat == "image/png") {
    Check(cairo_surface_write_to_png_stream(s, WritePng, &out), "Cannot write the PNG image");
    return out;
  }
  const bool jpeg = AFormat == "jpeg" || AFormat == "jpg" || AFormat == "image/jpeg";
  const bool bmp = AFormat == "bmp" || AFormat == "image/bmp";
  if (!jpeg && !bmp) Raise("Unknown image format \"" + std::string(AFormat) + "\"");
  const int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
  // JPEG has no alpha: translucent pixels are written over white.
  const int comp = jpeg ? 3 : 4;
  std::vector<unsigned char> px(std::size_t(w) * h * comp);
  for (int y = 0; y < h; ++y) {
    const std::uint32_t* row = Row(s, y);
    unsigned char* d = px.data() + std::size_t(y) * w * comp;
    for (int x = 0; x < w; ++x, d += comp) {
      TGPColor c = Unpremultiply(row[x]);
      if (jpeg) c = LerpColor(0xFFFFFFFFu, c | 0xFF000000u, GetAlpha(c) / 255.0);
      d[0] = GetRed(c);
      d[1] = GetGreen(c);
      d[2] = GetBlue(c);
      if (comp == 4) d[3] = GetAlpha(c);
    }
  }
  const int ok = jpeg ? stbi_write_jpg_to_func(WriteStb, &out, w, h, comp, px.data(), 90)
                      : stbi_write_bmp_to_func(WriteStb, &out, w, h, comp, px.data());
  if (!ok) Raise("Cannot write the image");
  return out;
}

}  // namespace

TIGPBitmap::TIGPBitmap(std::int32_t AWidth, std::int32_t AHeight) : FSurface(NewSurface(AWidth, AHeight)) {}

TIGPBitmap::TIGPBitmap(std::int32_t AWidth, std::int32_t AHeight, const std::vector<TGPColor>& APixels)
    : TIGPBitmap(AWidth, AHeight) {
  SetPixels(APixels);
}

TIGPBitmap::TIGPBitmap(cairo_surface_t* ASurface) : FSurface(ASurface) {
  if (!ASurface || cairo_surface_get_type(ASurface) != CAIRO_SURFACE_TYPE_IMAGE ||
      cairo_image_surface_get_format(ASurface) != CAIRO_FORMAT_ARGB32) {
    if (ASurface) cairo_surface_destroy(ASurface);
    FSurface = nullptr;
    Raise("A bitmap needs an ARGB32 image surface");
  }
}

TIGPBitmap::~TIGPBitmap() {
  if (FSurface) cairo_surface_destroy(FSurface);
}

TIntfPtr<IGPBitmap> TIGPBitmap::FromMemory(const void* AData, std::size_t ASize) {
  return TIntfPtr<IGPBitmap>(new TIGPBitmap(Decode(AData, ASize)));
}

TIntfPtr<IGPBitmap> TIGPBitmap::FromStream(TStream& AStream) {
  std::vector<unsigned char> bytes;
  try {
    const std::int64_t n = AStream.Size() - AStream.Position();
    if (n < 0 || n > (std::int64_t(1) << 31)) Raise("Invalid image: bad stream size");
    bytes.resize(std::size_t(n));
    AStream.ReadBuffer(bytes.data(), n);
  } catch (const EStreamError& e) {
    Raise(std::string("Cannot read the image: ") + e.what());
  }
  return FromMemory(bytes.data(), bytes.size());
}

TIntfPtr<IGPBitmap> TIGPBitmap::FromFile(const std::string& AFileName) {
  std::vector<unsigned char> bytes;
  try {
    TFileStream f(AFileName, fmOpenRead);
    bytes.resize(std::size_t(f.Size()));
    f.ReadBuffer(bytes.data(), std::int64_t(bytes.size()));
  } catch (const EStreamError& e) {
    Raise(e.what());
  }
  try {
    return FromMemory(bytes.data(), bytes.size());
  } catch (const EVantexError& e) {
    Raise("\"" + AFileName + "\": " + e.what());
  }
}

std::vector<std::string> TIGPBitmap::GetEncoders() { return {"image/png", "image/jpeg", "image/bmp"}; }

std::int32_t TIGPBitmap::GetWidth() const { return cairo_image_surface_get_width(FSurface); }
std::int32_t TIGPBitmap::GetHeight() const { return cairo_image_surface_get_height(FSurface); }

TIntfPtr<IGPImage> TIGPBitmap::Clone() const {
  const int w = GetWidth(), h = GetHeight();
  cairo_surface_t* s = NewSurface(w, h);
  cairo_surface_flush(FSurface);
  cairo_surface_flush(s);
  for (int y = 0; y < h; ++y) std::memcpy(Row(s, y), Row(FSurface, y), std::size_t(w) * 4);
  cairo_surface_mark_dirty(s);
  return TIntfPtr<IGPImage>(new TIGPBitmap(s));
}

void TIGPBitmap::SaveToStream(TStream& AStream, std::string_view AFormat) const {
  const std::vector<unsigned char> bytes = Encode(FSurface, AFormat);
  AStream.WriteBuffer(bytes.data(), std::int64_t(bytes.size()));
}

void TIGPBitmap::SaveToFile(const std::string& AFileName, std::string_view AFormat) const {
  const std::vector<unsigned char> bytes = Encode(FSurface, AFormat);
  try {
    TFileStream f(AFileName, fmCreate);
    f.WriteBuffer(bytes.data(), std::int64_t(bytes.size()));
  } catch (const EStreamError& e) {
    Raise(e.what());
  }
}

TGPColor TIGPBitmap::GetPixel(std::int32_t x, std::int32_t y) const {
  if (x < 0 || y < 0 || x >= GetWidth() || y >= GetHeight()) RaiseRange("Pixel out of range = %d, %d", x, y);
  cairo_surface_flush(FSurface);
  return Unpremultiply(Row(FSurface, y)[x]);
}

void TIGPBitmap::SetPixel(std::int32_t x, std::int32_t y, TGPColor AColor) {
  if (x < 0 || y < 0 || x >= GetWidth() || y >= GetHeight()) RaiseRange("Pixel out of range = %d, %d", x, y);
  cairo_surface_flush(FSurface);
  Row(FSurface, y)[x] = Premultiply(AColor);
  cairo_surface_mark_dirty_rectangle(FSurface, x, y, 1, 1);
}

std::vector<TGPColor> TIGPBitmap::GetPixels() const {
  const int w = GetWidth(), h = GetHeight();
  std::vector<TGPColor> out(std::size_t(w) * h);
  cairo_surface_flush(FSurface);
  for (int y = 0; y < h; ++y) {
    const std::uint32_t* row = Row(FSurface, y);
    std::transform(row, row + w, out.begin() + std::size_t(y) * w, Unpremultiply);
  }
  return out;
}

void TIGPBitmap::SetPixels(const std::vector<TGPColor>& APixels) {
  const int w = GetWidth(), h = GetHeight();
  if (APixels.size() != std::size_t(w) * h)
    Raise(Format("%zu pixels given for an image of %dx%d", APixels.size(), w, h));
  cairo_surface_flush(FSurface);
  for (int y = 0; y < h; ++y)
    std::transform(APixels.begin() + std::size_t(y) * w, APixels.begin() + std::size_t(y + 1) * w, Row(FSurface, y),
                   Premultiply);
  cairo_surface_mark_dirty(FSurface);
}

}  // namespace nx
