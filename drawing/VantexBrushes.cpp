// Vantex brushes and pens: rectangles and matrices, the solid, hatch,
// texture, linear-gradient and path-gradient brushes as Cairo patterns, and
// the pen settings.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "drawing/Vantex.h"
#include "drawing/VantexInternal.h"

namespace nx {

using namespace vantex;

// ---------------------------------------------------------------- helpers

namespace vantex {

void Raise(const std::string& AMessage) { throw EVantexError(AMessage); }

void Check(cairo_status_t AStatus, const char* AWhat) {
  if (AStatus != CAIRO_STATUS_SUCCESS) Raise(std::string(AWhat) + ": " + cairo_status_to_string(AStatus));
}

TGPColor LerpColor(TGPColor a, TGPColor b, double t) {
  auto ch = [t](unsigned x, unsigned y) {
    const double v = x + (double(y) - double(x)) * t;
    return std::uint32_t(std::clamp(std::lround(v), 0l, 255l));
  };
  return (ch(GetAlpha(a), GetAlpha(b)) << 24) | (ch(GetRed(a), GetRed(b)) << 16) |
         (ch(GetGreen(a), GetGreen(b)) << 8) | ch(GetBlue(a), GetBlue(b));
}

}  // namespace vantex

// ---------------------------------------------------------------- rectangles and matrices

TIGPRectF TIGPRectF::Intersect(const TIGPRectF& a, const TIGPRectF& b) {
  const float l = std::max(a.X, b.X), t = std::max(a.Y, b.Y);
  const float r = std::min(a.Right(), b.Right()), btm = std::min(a.Bottom(), b.Bottom());
  if (r <= l || btm <= t) return {};
  return {l, t, r - l, btm - t};
}

TIGPRectF TIGPRectF::Union(const TIGPRectF& a, const TIGPRectF& b) {
  if (a.IsEmptyArea()) return b;
  if (b.IsEmptyArea()) return a;
  const float l = std::min(a.X, b.X), t = std::min(a.Y, b.Y);
  return {l, t, std::max(a.Right(), b.Right()) - l, std::max(a.Bottom(), b.Bottom()) - t};
}

cairo_matrix_t TIGPMatrix::ToCairo() const {
  cairo_matrix_t m;
  cairo_matrix_init(&m, M11, M12, M21, M22, DX, DY);
  return m;
}

TIGPMatrix TIGPMatrix::FromCairo(const cairo_matrix_t& m) {
  return {float(m.xx), float(m.yx), float(m.xy), float(m.yy), float(m.x0), float(m.y0)};
}

void TIGPMatrix::Multiply(const TIGPMatrix& m, TIGPMatrixOrder AOrder) {
  const cairo_matrix_t a = m.ToCairo(), self = ToCairo();
  cairo_matrix_t r;
  // cairo_matrix_multiply(r, a, b) applies a first, then b.
  if (AOrder == moPrepend)
    cairo_matrix_multiply(&r, &a, &self);
  else
    cairo_matrix_multiply(&r, &self, &a);
  *this = FromCairo(r);
}

void TIGPMatrix::Translate(float dx, float dy, TIGPMatrixOrder AOrder) {
  Multiply(TIGPMatrix{1, 0, 0, 1, dx, dy}, AOrder);
}

void TIGPMatrix::Scale(float sx, float sy, TIGPMatrixOrder AOrder) { Multiply(TIGPMatrix{sx, 0, 0, sy, 0, 0}, AOrder); }

void TIGPMatrix::Rotate(float AAngle, TIGPMatrixOrder AOrder) {
  const double r = AAngle * M_PI / 180.0;
  const float c = float(std::cos(r)), s = float(std::sin(r));
  Multiply(TIGPMatrix{c, s, -s, c, 0, 0}, AOrder);
}

bool TIGPMatrix::Invert() {
  cairo_matrix_t m = ToCairo();
  if (cairo_matrix_invert(&m) != CAIRO_STATUS_SUCCESS) return false;
  *this = FromCairo(m);
  return true;
}

TIGPPointF TIGPMatrix::TransformPoint(TIGPPointF p) const {
  return {M11 * p.X + M21 * p.Y + DX, M12 * p.X + M22 * p.Y + DY};
}

// ---------------------------------------------------------------- solid

TIntfPtr<IGPBrush> TIGPSolidBrush::Clone() const { return TIntfPtr<IGPBrush>(new TIGPSolidBrush(FColor)); }

cairo_pattern_t* TIGPSolidBrush::CreatePattern(const cairo_matrix_t&) const {
  const TGPColor c = FColor;
  return cairo_pattern_create_rgba(GetRed(c) / 255.0, GetGreen(c) / 255.0, GetBlue(c) / 255.0, GetAlpha(c) / 255.0);
}

// ---------------------------------------------------------------- hatch

namespace {

constexpr std::uint8_t Ror(std::uint8_t v, int n) {
  n &= 7;
  return std::uint8_t((v >> n) | (v << ((8 - n) & 7)));
}
constexpr std::uint8_t Rol(std::uint8_t v, int n) { return Ror(v, 8 - (n & 7)); }

// The percentage styles are ordered dithers: a pixel is foreground when its
// threshold in this 8x8 ordered-dither matrix is below the share of 64.
constexpr std::uint8_t kDither[8][8] = {
    {0, 32, 8, 40, 2, 34, 10, 42},   {48, 16, 56, 24, 50, 18, 58, 26}, {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22}, {3, 35, 11, 43, 1, 33, 9, 41},   {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},  {63, 31, 55, 23, 61, 29, 53, 21}};

std::uint8_t DitherRow(int APercent, int y) {
  const int level = (APercent * 64 + 50) / 100;
  std::uint8_t row = 0;
  for (int x = 0; x < 8; ++x)
    if (kDither[y][x] < level) row |= std::uint8_t(0x80 >> x);
  return row;
}

// Fixed patterns, eight rows each, bit 7 the leftmost pixel.
struct TFixedPattern {
  TIGPHatchStyle Style;
  std::uint8_t Rows[8];
};
constexpr TFixedPattern kFixed[] = {
    {hsHorizontal, {0xFF, 0, 0, 0, 0, 0, 0, 0}},
    {hsVertical, {0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80}},
    {hsCross, {0xFF, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80}},
    {hsLightVertical, {0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x88}},
    {hsLightHorizontal, {0xFF, 0, 0, 0, 0xFF, 0, 0, 0}},
    {hsNarrowVertical, {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}},
    {hsNarrowHorizontal, {0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0}},
    {hsDarkVertical, {0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC}},
    {hsDarkHorizontal, {0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0}},
    {hsDashedDownwardDiagonal, {0x88, 0x44, 0x22, 0x11, 0, 0, 0, 0}},
    {hsDashedUpwardDiagonal, {0x11, 0x22, 0x44, 0x88, 0, 0, 0, 0}},
    {hsDashedHorizontal, {0xF0, 0, 0, 0, 0x0F, 0, 0, 0}},
    {hsDashedVertical, {0x80, 0x80, 0x80, 0x80, 0x08, 0x08, 0x08, 0x08}},
    {hsSmallConfetti, {0x80, 0x08, 0x40, 0x02, 0x10, 0x01, 0x20, 0x04}},
    {hsLargeConfetti, {0xC1, 0xC0, 0x0C, 0x0C, 0x03, 0x03, 0x30, 0x31}},
    {hsZigZag, {0x81, 0x42, 0x24, 0x18, 0x81, 0x42, 0x24, 0x18}},
    {hsWave, {0x18, 0x24, 0xC3, 0x00, 0x18, 0x24, 0xC3, 0x00}},
    {hsDiagonalBrick, {0x01, 0x02, 0x04, 0x08, 0x18, 0x24, 0x42, 0x81}},
    {hsHorizontalBrick, {0xFF, 0x80, 0x80, 0x80, 0xFF, 0x08, 0x08, 0x08}},
    {hsWeave, {0x88, 0x54, 0x22, 0x45, 0x88, 0x14, 0x22, 0x51}},
    {hsPlaid, {0xAA, 0x55, 0xAA, 0x55, 0xF0, 0xF0, 0xF0, 0xF0}},
    {hsDivot, {0x00, 0x10, 0x08, 0x10, 0x00, 0x01, 0x80, 0x01}},
    {hsDottedGrid, {0xAA, 0x00, 0x80, 0x00, 0x80, 0x00, 0x80, 0x00}},
    {hsDottedDiamond, {0x80, 0x00, 0x22, 0x00, 0x08, 0x00, 0x22, 0x00}},
    {hsShingle, {0x03, 0x84, 0x48, 0x30, 0x0C, 0x02, 0x01, 0x01}},
    {hsTrellis, {0xFF, 0x66, 0xFF, 0x99, 0xFF, 0x66, 0xFF, 0x99}},
    {hsSphere, {0x77, 0x89, 0x8F, 0x8F, 0x77, 0x98, 0xF8, 0xF8}},
    {hsSmallGrid, {0xFF, 0x88, 0x88, 0x88, 0xFF, 0x88, 0x88, 0x88}},
    {hsSmallCheckerBoard, {0xCC, 0xCC, 0x33, 0x33, 0xCC, 0xCC, 0x33, 0x33}},
    {hsLargeCheckerBoard, {0xF0, 0xF0, 0xF0, 0xF0, 0x0F, 0x0F, 0x0F, 0x0F}},
    {hsOutlinedDiamond, {0x41, 0x22, 0x14, 0x08, 0x14, 0x22, 0x41, 0x80}},
    {hsSolidDiamond, {0x10, 0x38, 0x7C, 0xFE, 0x7C, 0x38, 0x10, 0x00}},
};

}  // namespace

TIGPHatchBrush::TIGPHatchBrush(TIGPHatchStyle AStyle, TGPColor AForeColor, TGPColor ABackColor)
    : FStyle(AStyle), FFore(AForeColor), FBack(ABackColor) {
  if (AStyle < 0 || AStyle >= GPHatchStyleCount) Raise(Format("Invalid hatch style %d", int(AStyle)));
}

std::uint8_t TIGPHatchBrush::PatternRow(TIGPHatchStyle AStyle, int y) {
  y &= 7;
  switch (AStyle) {
    // Diagonals: a downward diagonal moves right as it goes down.
    case hsForwardDiagonal: return Ror(0x80, y);
    case hsBackwardDiagonal: return Rol(0x01, y);
    case hsDiagonalCross: return Ror(0x80, y) | Rol(0x01, y);
    case hsLightDownwardDiagonal: return Ror(0x88, y);
    case hsLightUpwardDiagonal: return Rol(0x11, y);
    case hsDarkDownwardDiagonal: return Ror(0xCC, y);
    case hsDarkUpwardDiagonal: return Rol(0x33, y);
    case hsWideDownwardDiagonal: return Ror(0xE0, y);
    case hsWideUpwardDiagonal: return Rol(0x07, y);
    case hs05Percent: return DitherRow(5, y);
    case hs10Percent: return DitherRow(10, y);
    case hs20Percent: return DitherRow(20, y);
    case hs25Percent: return DitherRow(25, y);
    case hs30Percent: return DitherRow(30, y);
    case hs40Percent: return DitherRow(40, y);
    case hs50Percent: return DitherRow(50, y);
    case hs60Percent: return DitherRow(60, y);
    case hs70Percent: return DitherRow(70, y);
    case hs75Percent: return DitherRow(75, y);
    case hs80Percent: return DitherRow(80, y);
    case hs90Percent: return DitherRow(90, y);
    default: break;
  }
  for (const TFixedPattern& f : kFixed)
    if (f.Style == AStyle) return f.Rows[y];
  return 0;
}

TIntfPtr<IGPBrush> TIGPHatchBrush::Clone() const { return TIntfPtr<IGPBrush>(new TIGPHatchBrush(FStyle, FFore, FBack)); }

cairo_pattern_t* TIGPHatchBrush::CreatePattern(const cairo_matrix_t& AUserToDevice) const {
  cairo_surface_t* tile = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 8, 8);
  Check(cairo_surface_status(tile), "Cannot create a hatch pattern");
  cairo_surface_flush(tile);
  unsigned char* data = cairo_image_surface_get_data(tile);
  const int stride = cairo_image_surface_get_stride(tile);
  const std::uint32_t fore = Premultiply(FFore), back = Premultiply(FBack);
  for (int y = 0; y < 8; ++y) {
    const std::uint8_t row = PatternRow(FStyle, y);
    auto* px = reinterpret_cast<std::uint32_t*>(data + y * stride);
    for (int x = 0; x < 8; ++x) px[x] = (row & (0x80 >> x)) ? fore : back;
  }
  cairo_surface_mark_dirty(tile);
  cairo_pattern_t* p = cairo_pattern_create_for_surface(tile);
  cairo_surface_destroy(tile);
  cairo_pattern_set_extend(p, CAIRO_EXTEND_REPEAT);
  cairo_pattern_set_filter(p, CAIRO_FILTER_NEAREST);
  // Pattern space is device space: the pattern matrix maps user space there.
  cairo_pattern_set_matrix(p, &AUserToDevice);
  return p;
}

// ---------------------------------------------------------------- texture

namespace {

// The user-to-pattern matrix of a brush whose pattern space APatternToUser maps to user space.
void SetInverse(cairo_pattern_t* p, cairo_matrix_t APatternToUser) {
  if (cairo_matrix_invert(&APatternToUser) != CAIRO_STATUS_SUCCESS) {
    // A singular brush transform paints nothing sensible; keep the identity.
    cairo_matrix_init_identity(&APatternToUser);
  }
  cairo_pattern_set_matrix(p, &APatternToUser);
}

// A copy of part of a surface, optionally mirrored beside / below itself
// (for the wrap modes that flip one axis only).
cairo_surface_t* TileSurface(cairo_surface_t* ASource, const TIGPRectF& ARect, bool AFlipX, bool AFlipY) {
  const int w = std::max(1, int(std::lround(ARect.Width))), h = std::max(1, int(std::lround(ARect.Height)));
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, AFlipX ? 2 * w : w, AFlipY ? 2 * h : h);
  Check(cairo_surface_status(s), "Cannot create a texture");
  cairo_t* cr = cairo_create(s);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  for (int fy = 0; fy <= int(AFlipY); ++fy)
    for (int fx = 0; fx <= int(AFlipX); ++fx) {
      cairo_save(cr);
      cairo_rectangle(cr, fx * w, fy * h, w, h);
      cairo_clip(cr);
      // Mirrored copies: scale by -1 about the far edge of the copy.
      cairo_translate(cr, fx ? 2.0 * w : 0.0, fy ? 2.0 * h : 0.0);
      cairo_scale(cr, fx ? -1 : 1, fy ? -1 : 1);
      cairo_set_source_surface(cr, ASource, -ARect.X, -ARect.Y);
      cairo_paint(cr);
      cairo_restore(cr);
    }
  cairo_destroy(cr);
  return s;
}

}  // namespace

TIGPTextureBrush::TIGPTextureBrush(const TIntfPtr<IGPImage>& AImage, TIGPWrapMode AWrapMode) : FImage(AImage) {
  if (!AImage) Raise("A texture brush needs an image");
  FWrapMode = AWrapMode;
}

TIGPTextureBrush::TIGPTextureBrush(const TIntfPtr<IGPImage>& AImage, TIGPWrapMode AWrapMode,
                                   const TIGPRectF& ASourceRect)
    : TIGPTextureBrush(AImage, AWrapMode) {
  // The part is copied into an image of its own.
  const TIGPRectF r = TIGPRectF::Intersect(ASourceRect, TIGPRectF(0, 0, float(AImage->GetWidth()),
                                                                    float(AImage->GetHeight())));
  if (r.IsEmptyArea()) Raise("The texture's source rectangle lies outside the image");
  FImage = TIntfPtr<IGPImage>(new TIGPBitmap(TileSurface(AImage->Surface(), r, false, false)));
}

TIntfPtr<IGPBrush> TIGPTextureBrush::Clone() const {
  auto* b = new TIGPTextureBrush(FImage, FWrapMode);
  b->FTransform = FTransform;
  return TIntfPtr<IGPBrush>(b);
}

cairo_pattern_t* TIGPTextureBrush::CreatePattern(const cairo_matrix_t&) const {
  cairo_surface_t* src = FImage->Surface();
  cairo_pattern_t* p;
  const TIGPRectF all(0, 0, float(FImage->GetWidth()), float(FImage->GetHeight()));
  if (FWrapMode == wmTileFlipX || FWrapMode == wmTileFlipY) {
    cairo_surface_t* tile = TileSurface(src, all, FWrapMode == wmTileFlipX, FWrapMode == wmTileFlipY);
    p = cairo_pattern_create_for_surface(tile);
    cairo_surface_destroy(tile);
  } else {
    p = cairo_pattern_create_for_surface(src);
  }
  cairo_pattern_set_extend(p, FWrapMode == wmClamp       ? CAIRO_EXTEND_NONE
                              : FWrapMode == wmTileFlipXY ? CAIRO_EXTEND_REFLECT
                                                          : CAIRO_EXTEND_REPEAT);
  SetInverse(p, FTransform.ToCairo());
  return p;
}

// ---------------------------------------------------------------- gradients

void TIGPGradientBrush::SetBlendTriangularShape(float AFocus, float AScale) {
  AFocus = std::clamp(AFocus, 0.0f, 1.0f);
  std::vector<TIGPBlendPoint> b;
  if (AFocus > 0) b.push_back({0, 0});
  b.push_back({AFocus, AScale});
  if (AFocus < 1) b.push_back({1, 0});
  SetBlend(b);
}

void TIGPGradientBrush::SetBlendBellShape(float AFocus, float AScale) {
  AFocus = std::clamp(AFocus, 0.0f, 1.0f);
  // A normal-distribution S curve up to the focus and down after it, sampled
  // at 33 points (the spread, 1/4 of each side, is what looks like a bell).
  const double k = 2.0, norm = std::erf(k);
  auto s = [&](double u) { return (std::erf((2 * u - 1) * k) + norm) / (2 * norm); };
  std::vector<TIGPBlendPoint> b;
  constexpr int n = 32;
  for (int i = 0; i <= n; ++i) {
    const double x = double(i) / n;
    double f;
    if (x <= AFocus)
      f = AFocus > 0 ? s(x / AFocus) : 1.0;
    else
      f = AFocus < 1 ? s((1 - x) / (1 - AFocus)) : 1.0;
    b.push_back({float(x), float(f * AScale)});
  }
  SetBlend(b);
}

void TIGPGradientBrush::SetInterpolationColors(const std::vector<TIGPColorStop>& AStops) {
  if (!AStops.empty()) {
    if (AStops.size() < 2 || AStops.front().Position != 0.0f || AStops.back().Position != 1.0f)
      Raise("Interpolation colours need at least two positions, the first 0 and the last 1");
    for (std::size_t i = 1; i < AStops.size(); ++i)
      if (AStops[i].Position < AStops[i - 1].Position) Raise("Interpolation positions must ascend");
  }
  FInterpolation = AStops;
}

std::vector<TIGPColorStop> TIGPGradientBrush::Stops(TGPColor AStart, TGPColor AEnd) const {
  if (!FInterpolation.empty()) return FInterpolation;
  if (FBlend.empty()) return {{AStart, 0}, {AEnd, 1}};
  std::vector<TIGPColorStop> s;
  for (const TIGPBlendPoint& b : FBlend)
    s.push_back({LerpColor(AStart, AEnd, std::clamp(b.Factor, 0.0f, 1.0f)), std::clamp(b.Position, 0.0f, 1.0f)});
  return s;
}

void TIGPGradientBrush::CopyGradientTo(TIGPGradientBrush& ATarget) const {
  ATarget.FTransform = FTransform;
  ATarget.FWrapMode = FWrapMode;
  ATarget.FBlend = FBlend;
  ATarget.FInterpolation = FInterpolation;
  ATarget.FGamma = FGamma;
}

TIGPLinearGradientBrush::TIGPLinearGradientBrush(TIGPPointF APoint1, TIGPPointF APoint2, TGPColor AColor1,
                                                 TGPColor AColor2)
    : FP1(APoint1), FP2(APoint2), FColor1(AColor1), FColor2(AColor2) {
  if (APoint1 == APoint2) Raise("A linear gradient needs two different points");
  FRect = TIGPRectF(std::min(APoint1.X, APoint2.X), std::min(APoint1.Y, APoint2.Y), std::fabs(APoint2.X - APoint1.X),
                    std::fabs(APoint2.Y - APoint1.Y));
}

TIGPLinearGradientBrush::TIGPLinearGradientBrush(const TIGPRectF& ARect, TGPColor AColor1, TGPColor AColor2,
                                                 TIGPLinearGradientMode AMode)
    : FColor1(AColor1), FColor2(AColor2), FRect(ARect) {
  if (ARect.IsEmptyArea()) Raise("A linear gradient needs a rectangle with an area");
  // Gradient space is the unit square stretched onto the rectangle, so the
  // diagonal modes reach the corners exactly and their lines of one colour
  // run parallel to the other diagonal.
  FBase = TIGPMatrix{ARect.Width, 0, 0, ARect.Height, ARect.X, ARect.Y};
  switch (AMode) {
    case lgmHorizontal: FP1 = {0, 0}; FP2 = {1, 0}; break;
    case lgmVertical: FP1 = {0, 0}; FP2 = {0, 1}; break;
    case lgmForwardDiagonal: FP1 = {0, 0}; FP2 = {1, 1}; break;
    case lgmBackwardDiagonal: FP1 = {1, 0}; FP2 = {0, 1}; break;
  }
}

TIGPLinearGradientBrush::TIGPLinearGradientBrush(const TIGPRectF& ARect, TGPColor AColor1, TGPColor AColor2,
                                                 float AAngle, bool AIsAngleScalable)
    : FColor1(AColor1), FColor2(AColor2), FRect(ARect) {
  if (ARect.IsEmptyArea()) Raise("A linear gradient needs a rectangle with an area");
  const double a = AAngle * M_PI / 180.0, dx = std::cos(a), dy = std::sin(a);
  // The gradient spans the projections of the corners on the direction.
  TIGPRectF r = AIsAngleScalable ? TIGPRectF(0, 0, 1, 1) : ARect;
  const double cx = r.X + r.Width / 2.0, cy = r.Y + r.Height / 2.0;
  const double half = (std::fabs(dx) * r.Width + std::fabs(dy) * r.Height) / 2.0;
  FP1 = {float(cx - dx * half), float(cy - dy * half)};
  FP2 = {float(cx + dx * half), float(cy + dy * half)};
  if (AIsAngleScalable) FBase = TIGPMatrix{ARect.Width, 0, 0, ARect.Height, ARect.X, ARect.Y};
}

TIntfPtr<IGPBrush> TIGPLinearGradientBrush::Clone() const {
  auto* b = new TIGPLinearGradientBrush();
  CopyGradientTo(*b);
  b->FP1 = FP1;
  b->FP2 = FP2;
  b->FBase = FBase;
  b->FColor1 = FColor1;
  b->FColor2 = FColor2;
  b->FRect = FRect;
  return TIntfPtr<IGPBrush>(b);
}

cairo_pattern_t* TIGPLinearGradientBrush::CreatePattern(const cairo_matrix_t&) const {
  cairo_pattern_t* p = cairo_pattern_create_linear(FP1.X, FP1.Y, FP2.X, FP2.Y);
  for (const TIGPColorStop& s : Stops(FColor1, FColor2)) AddColorStop(p, s.Position, s.Color);
  cairo_pattern_set_extend(p, FWrapMode == wmTile    ? CAIRO_EXTEND_REPEAT
                              : FWrapMode == wmClamp ? CAIRO_EXTEND_PAD
                                                     : CAIRO_EXTEND_REFLECT);
  cairo_matrix_t base = FBase.ToCairo(), transform = FTransform.ToCairo(), total;
  cairo_matrix_multiply(&total, &base, &transform);
  SetInverse(p, total);
  return p;
}

TIGPPathGradientBrush::TIGPPathGradientBrush(const std::vector<TIGPPointF>& APoints) : FPoints(APoints) {
  if (APoints.size() < 3) Raise("A path gradient needs at least three points");
  // The centre starts at the centroid of the points.
  double x = 0, y = 0;
  for (const TIGPPointF& p : APoints) x += p.X, y += p.Y;
  FCenter = {float(x / APoints.size()), float(y / APoints.size())};
  FWrapMode = wmClamp;
}

namespace {
std::vector<TIGPPointF> FirstFigure(const TIntfPtr<TIGPGraphicsPath>& APath) {
  if (!APath) Raise("A path gradient needs a path");
  TIntfPtr<TIGPGraphicsPath> flat = APath->Clone();
  flat->Flatten(0.25f);
  std::vector<TIGPPointF> pts;
  for (const auto& s : flat->Segments()) {
    if (s.Kind == TIGPGraphicsPath::skMove) {
      if (!pts.empty()) break;
      pts.push_back(s.P[0]);
    } else if (s.Kind == TIGPGraphicsPath::skLine) {
      pts.push_back(s.P[0]);
    } else if (s.Kind == TIGPGraphicsPath::skClose) {
      break;
    }
  }
  if (pts.size() > 1 && pts.front() == pts.back()) pts.pop_back();
  return pts;
}
}  // namespace

TIGPPathGradientBrush::TIGPPathGradientBrush(const TIntfPtr<TIGPGraphicsPath>& APath)
    : TIGPPathGradientBrush(FirstFigure(APath)) {}

void TIGPPathGradientBrush::SetSurroundColors(const std::vector<TGPColor>& AColors) {
  if (AColors.empty()) Raise("A path gradient needs at least one surround colour");
  if (AColors.size() > FPoints.size()) Raise("More surround colours than points");
  FSurround = AColors;
}

TIGPRectF TIGPPathGradientBrush::GetRectangle() const {
  float l = FPoints[0].X, t = FPoints[0].Y, r = l, b = t;
  for (const TIGPPointF& p : FPoints) l = std::min(l, p.X), t = std::min(t, p.Y), r = std::max(r, p.X), b = std::max(b, p.Y);
  return {l, t, r - l, b - t};
}

TIntfPtr<IGPBrush> TIGPPathGradientBrush::Clone() const {
  auto* b = new TIGPPathGradientBrush();
  CopyGradientTo(*b);
  b->FPoints = FPoints;
  b->FSurround = FSurround;
  b->FCenter = FCenter;
  b->FCenterColor = FCenterColor;
  return TIntfPtr<IGPBrush>(b);
}

cairo_pattern_t* TIGPPathGradientBrush::CreatePattern(const cairo_matrix_t&) const {
  // Rings from the boundary (t = 0) to the centre (t = 1), one per stop of
  // the blend or interpolation colours; between neighbouring rings, one
  // Coons patch per edge of the figure with its four corner colours, which
  // Cairo interpolates across the patch.
  const std::size_t n = FPoints.size();
  std::vector<float> ts;
  if (!FInterpolation.empty())
    for (const TIGPColorStop& s : FInterpolation) ts.push_back(s.Position);
  else if (!FBlend.empty())
    for (const TIGPBlendPoint& b : FBlend) ts.push_back(std::clamp(b.Position, 0.0f, 1.0f));
  if (ts.empty() || ts.front() > 0) ts.insert(ts.begin(), 0.0f);
  if (ts.back() < 1) ts.push_back(1.0f);

  auto colorAt = [&](std::size_t i, std::size_t ring) -> TGPColor {
    const TGPColor surround = FSurround[std::min(i, FSurround.size() - 1)];
    const float t = ts[ring];
    if (!FInterpolation.empty()) {
      // Interpolation colours replace both the surround and the centre colours.
      for (std::size_t k = 1; k < FInterpolation.size(); ++k)
        if (t <= FInterpolation[k].Position) {
          const TIGPColorStop &a = FInterpolation[k - 1], &b = FInterpolation[k];
          const float span = b.Position - a.Position;
          return LerpColor(a.Color, b.Color, span > 0 ? (t - a.Position) / span : 1.0);
        }
      return FInterpolation.back().Color;
    }
    if (!FBlend.empty()) {
      // The factor at t by the blend's piecewise-linear curve.
      double f = FBlend.back().Factor;
      if (t <= FBlend.front().Position) f = FBlend.front().Factor;
      else
        for (std::size_t k = 1; k < FBlend.size(); ++k)
          if (t <= FBlend[k].Position) {
            const TIGPBlendPoint &a = FBlend[k - 1], &b = FBlend[k];
            const float span = b.Position - a.Position;
            f = span > 0 ? a.Factor + (b.Factor - a.Factor) * (t - a.Position) / span : b.Factor;
            break;
          }
      return LerpColor(surround, FCenterColor, std::clamp(f, 0.0, 1.0));
    }
    return LerpColor(surround, FCenterColor, t);
  };
  auto pointAt = [&](std::size_t i, std::size_t ring) -> TIGPPointF {
    const TIGPPointF p = FPoints[i % n];
    const float t = ts[ring];
    return {p.X + (FCenter.X - p.X) * t, p.Y + (FCenter.Y - p.Y) * t};
  };
  auto corner = [](cairo_pattern_t* m, unsigned k, TGPColor c) {
    cairo_mesh_pattern_set_corner_color_rgba(m, k, GetRed(c) / 255.0, GetGreen(c) / 255.0, GetBlue(c) / 255.0,
                                             GetAlpha(c) / 255.0);
  };

  cairo_pattern_t* m = cairo_pattern_create_mesh();
  for (std::size_t r = 0; r + 1 < ts.size(); ++r)
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t j = (i + 1) % n;
      const TIGPPointF a = pointAt(i, r), b = pointAt(j, r), c = pointAt(j, r + 1), d = pointAt(i, r + 1);
      cairo_mesh_pattern_begin_patch(m);
      cairo_mesh_pattern_move_to(m, a.X, a.Y);
      cairo_mesh_pattern_line_to(m, b.X, b.Y);
      cairo_mesh_pattern_line_to(m, c.X, c.Y);
      cairo_mesh_pattern_line_to(m, d.X, d.Y);
      corner(m, 0, colorAt(i, r));
      corner(m, 1, colorAt(j, r));
      corner(m, 2, colorAt(j, r + 1));
      corner(m, 3, colorAt(i, r + 1));
      cairo_mesh_pattern_end_patch(m);
    }
  SetInverse(m, FTransform.ToCairo());
  return m;
}

// ---------------------------------------------------------------- pens

TIGPPen::TIGPPen(TGPColor AColor, float AWidth) : FBrush(new TIGPSolidBrush(AColor)), FWidth(AWidth) {}

TIGPPen::TIGPPen(const TIntfPtr<IGPBrush>& ABrush, float AWidth) : FBrush(ABrush), FWidth(AWidth) {
  if (!ABrush) Raise("A pen needs a brush");
}

TIntfPtr<TIGPPen> TIGPPen::Clone() const {
  TIntfPtr<TIGPPen> p(new TIGPPen(FBrush->Clone(), FWidth));
  p->FDashStyle = FDashStyle;
  p->FCustomDash = FCustomDash;
  p->FDashOffset = FDashOffset;
  p->FDashCap = FDashCap;
  p->FAlignment = FAlignment;
  p->FLineJoin = FLineJoin;
  p->FMiterLimit = FMiterLimit;
  p->FStartCap = FStartCap;
  p->FEndCap = FEndCap;
  p->FCompound = FCompound;
  return p;
}

TGPColor TIGPPen::GetColor() const {
  if (auto* s = dynamic_cast<const TIGPSolidBrush*>(FBrush.Get())) return s->GetColor();
  return 0;
}

void TIGPPen::SetColor(TGPColor AColor) { FBrush = TIntfPtr<IGPBrush>(new TIGPSolidBrush(AColor)); }

void TIGPPen::SetBrush(const TIntfPtr<IGPBrush>& ABrush) {
  if (!ABrush) Raise("A pen needs a brush");
  FBrush = ABrush;
}

void TIGPPen::SetDashPattern(const std::vector<float>& APattern) {
  if (APattern.empty()) Raise("A dash pattern needs at least one length");
  for (float v : APattern)
    if (!(v > 0)) Raise("Dash lengths must be positive");
  FCustomDash = APattern;
  FDashStyle = dsCustom;
}

std::vector<float> TIGPPen::GetDashPattern() const {
  switch (FDashStyle) {
    case dsSolid: return {};
    case dsDash: return {3, 1};
    case dsDot: return {1, 1};
    case dsDashDot: return {3, 1, 1, 1};
    case dsDashDotDot: return {3, 1, 1, 1, 1, 1};
    case dsCustom: return FCustomDash.empty() ? std::vector<float>{1} : FCustomDash;
  }
  return {};
}

void TIGPPen::SetLineCap(TIGPLineCap AStart, TIGPLineCap AEnd, TIGPDashCap ADash) {
  FStartCap = AStart;
  FEndCap = AEnd;
  FDashCap = ADash;
}

void TIGPPen::SetCompoundArray(const std::vector<float>& AValues) {
  if (AValues.size() % 2) Raise("A compound array needs pairs of values");
  for (std::size_t i = 0; i < AValues.size(); ++i) {
    if (AValues[i] < 0 || AValues[i] > 1) Raise("Compound values lie between 0 and 1");
    if (i && AValues[i] < AValues[i - 1]) Raise("Compound values must ascend");
  }
  FCompound = AValues;
}

}  // namespace nx
