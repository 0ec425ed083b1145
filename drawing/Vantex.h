// Vantex: the graphics layer that display components draw with. Brushes
// (solid, hatch, texture, linear and path gradients), pens (dashes, joins,
// caps, compound lines), fonts found through fontconfig, graphics paths,
// bitmaps with ARGB pixels (loaded from PNG, JPEG, BMP and GIF, saved as PNG,
// JPEG or BMP) and a graphics object that draws them all onto a Cairo
// surface. Colours are 32-bit ARGB values with alpha in the top byte and are
// never premultiplied at this interface; the premultiplied form of the
// surfaces stays inside the layer.
//
// Objects are reference counted (TIntfPtr): brushes, pens, fonts and paths
// are interfaced objects held as TIntfPtr<TIGP...>; images and graphics are
// interfaces (IGPImage, IGPBitmap, IGPGraphics) so that an image can travel
// in an operation. One object is used by one thread at a time; nothing is
// shared behind the caller's back except the font face cache, which is locked.
//
// Angles are in degrees, clockwise on the screen (the y axis points down).
// Coordinates are floats in the user space of the graphics (its transform
// maps them to device pixels; pixel (i, j) covers [i, i+1) x [j, j+1)).
#pragma once

#include <cairo.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/SysUtils.h"
#include "runtime/Zandor.Interfaces.h"
#include "runtime/Zandor.Streams.h"

namespace nx {

// Raised by every failure of the layer: an image that cannot be opened or
// decoded, an invalid argument, a surface Cairo could not make.
NX_DECLARE_EXCEPTION(EVantexError, Exception, "Graphics error")

// ---------------------------------------------------------------- colours

using TGPColor = std::uint32_t;  // ARGB, alpha in the top byte

constexpr TGPColor MakeColor(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return 0xFF000000u | (TGPColor{r} << 16) | (TGPColor{g} << 8) | b;
}
constexpr TGPColor MakeColor(std::uint8_t a, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
  return (TGPColor{a} << 24) | (TGPColor{r} << 16) | (TGPColor{g} << 8) | b;
}
// The colour with its alpha replaced by `a`.
constexpr TGPColor MakeARGBColor(std::uint8_t a, TGPColor color) { return (TGPColor{a} << 24) | (color & 0xFFFFFFu); }
constexpr std::uint8_t GetAlpha(TGPColor c) { return static_cast<std::uint8_t>(c >> 24); }
constexpr std::uint8_t GetRed(TGPColor c) { return static_cast<std::uint8_t>(c >> 16); }
constexpr std::uint8_t GetGreen(TGPColor c) { return static_cast<std::uint8_t>(c >> 8); }
constexpr std::uint8_t GetBlue(TGPColor c) { return static_cast<std::uint8_t>(c); }

// ---------------------------------------------------------------- geometry

struct TIGPPointF {
  float X = 0, Y = 0;
  friend bool operator==(const TIGPPointF&, const TIGPPointF&) = default;
};
struct TIGPPoint {
  std::int32_t X = 0, Y = 0;
  operator TIGPPointF() const { return {float(X), float(Y)}; }
  friend bool operator==(const TIGPPoint&, const TIGPPoint&) = default;
};
struct TIGPSizeF {
  float Width = 0, Height = 0;
};

struct TIGPRectF {
  float X = 0, Y = 0, Width = 0, Height = 0;
  TIGPRectF() = default;
  TIGPRectF(float AX, float AY, float AWidth, float AHeight) : X(AX), Y(AY), Width(AWidth), Height(AHeight) {}
  float Left() const { return X; }
  float Top() const { return Y; }
  float Right() const { return X + Width; }
  float Bottom() const { return Y + Height; }
  bool IsEmptyArea() const { return Width <= 0 || Height <= 0; }
  bool Contains(float AX, float AY) const { return AX >= X && AX < Right() && AY >= Y && AY < Bottom(); }
  void Inflate(float dx, float dy) { X -= dx; Y -= dy; Width += 2 * dx; Height += 2 * dy; }
  void Offset(float dx, float dy) { X += dx; Y += dy; }
  // The common part (empty, at the origin, when there is none) and the enclosing rectangle.
  static TIGPRectF Intersect(const TIGPRectF& a, const TIGPRectF& b);
  static TIGPRectF Union(const TIGPRectF& a, const TIGPRectF& b);
  friend bool operator==(const TIGPRectF&, const TIGPRectF&) = default;
};

struct TIGPRect {
  std::int32_t X = 0, Y = 0, Width = 0, Height = 0;
  TIGPRect() = default;
  TIGPRect(std::int32_t AX, std::int32_t AY, std::int32_t AWidth, std::int32_t AHeight)
      : X(AX), Y(AY), Width(AWidth), Height(AHeight) {}
  std::int32_t Right() const { return X + Width; }
  std::int32_t Bottom() const { return Y + Height; }
  bool IsEmptyArea() const { return Width <= 0 || Height <= 0; }
  operator TIGPRectF() const { return {float(X), float(Y), float(Width), float(Height)}; }
  friend bool operator==(const TIGPRect&, const TIGPRect&) = default;
};

enum TIGPMatrixOrder : std::uint8_t { moPrepend, moAppend };

// An affine transform: x' = M11 x + M21 y + DX, y' = M12 x + M22 y + DY.
// Prepend (the default, as for the graphics) applies the new operation
// before the existing transform, i.e. in the current user space.
struct TIGPMatrix {
  float M11 = 1, M12 = 0, M21 = 0, M22 = 1, DX = 0, DY = 0;
  bool IsIdentity() const { return M11 == 1 && M12 == 0 && M21 == 0 && M22 == 1 && DX == 0 && DY == 0; }
  void Translate(float dx, float dy, TIGPMatrixOrder AOrder = moPrepend);
  void Scale(float sx, float sy, TIGPMatrixOrder AOrder = moPrepend);
  void Rotate(float AAngle, TIGPMatrixOrder AOrder = moPrepend);
  void Multiply(const TIGPMatrix& m, TIGPMatrixOrder AOrder = moPrepend);
  // False (and unchanged) when the matrix is singular.
  bool Invert();
  TIGPPointF TransformPoint(TIGPPointF p) const;
  cairo_matrix_t ToCairo() const;
  static TIGPMatrix FromCairo(const cairo_matrix_t& m);
  friend bool operator==(const TIGPMatrix&, const TIGPMatrix&) = default;
};

// ---------------------------------------------------------------- enumerations

enum TIGPBrushType : std::int32_t { btSolidColor, btHatchFill, btTextureFill, btPathGradient, btLinearGradient };
// How a texture or gradient repeats beyond its own area. Clamp draws a
// texture once (nothing beyond it) and extends a gradient's end colours.
enum TIGPWrapMode : std::int32_t { wmTile, wmTileFlipX, wmTileFlipY, wmTileFlipXY, wmClamp };
enum TIGPHatchStyle : std::int32_t {
  hsHorizontal, hsVertical, hsForwardDiagonal, hsBackwardDiagonal, hsCross, hsDiagonalCross,
  hs05Percent, hs10Percent, hs20Percent, hs25Percent, hs30Percent, hs40Percent, hs50Percent,
  hs60Percent, hs70Percent, hs75Percent, hs80Percent, hs90Percent,
  hsLightDownwardDiagonal, hsLightUpwardDiagonal, hsDarkDownwardDiagonal, hsDarkUpwardDiagonal,
  hsWideDownwardDiagonal, hsWideUpwardDiagonal, hsLightVertical, hsLightHorizontal,
  hsNarrowVertical, hsNarrowHorizontal, hsDarkVertical, hsDarkHorizontal,
  hsDashedDownwardDiagonal, hsDashedUpwardDiagonal, hsDashedHorizontal, hsDashedVertical,
  hsSmallConfetti, hsLargeConfetti, hsZigZag, hsWave, hsDiagonalBrick, hsHorizontalBrick,
  hsWeave, hsPlaid, hsDivot, hsDottedGrid, hsDottedDiamond, hsShingle, hsTrellis, hsSphere,
  hsSmallGrid, hsSmallCheckerBoard, hsLargeCheckerBoard, hsOutlinedDiamond, hsSolidDiamond
};
constexpr int GPHatchStyleCount = hsSolidDiamond + 1;
enum TIGPDashStyle : std::int32_t { dsSolid, dsDash, dsDot, dsDashDot, dsDashDotDot, dsCustom };
enum TIGPDashCap : std::int32_t { dcFlat, dcRound, dcTriangle };
// Center strokes on the outline; Inset keeps a closed figure's stroke inside it.
enum TIGPPenAlignment : std::int32_t { paCenter, paInset };
// MiterClipped draws as Miter: past the miter limit the join is bevelled.
enum TIGPLineJoin : std::int32_t { ljMiter, ljBevel, ljRound, ljMiterClipped };
enum TIGPLineCap : std::int32_t {
  lcFlat, lcSquare, lcRound, lcTriangle,
  lcNoAnchor, lcSquareAnchor, lcRoundAnchor, lcDiamondAnchor, lcArrowAnchor
};
enum TIGPFillMode : std::int32_t { fmAlternate, fmWinding };
enum TIGPLinearGradientMode : std::int32_t { lgmHorizontal, lgmVertical, lgmForwardDiagonal, lgmBackwardDiagonal };
enum TIGPSmoothingMode : std::int32_t { smDefault, smHighSpeed, smHighQuality, smNone, smAntiAlias };
enum TIGPInterpolationMode : std::int32_t { imDefault, imNearestNeighbor, imBilinear, imHighQuality };
enum TIGPCompositingMode : std::int32_t { cpmSourceOver, cpmSourceCopy };
// Union and Xor of clip regions are not offered: the surface clips only by intersection.
enum TIGPCombineMode : std::int32_t { cmReplace, cmIntersect, cmExclude };
enum TIGPUnit : std::int32_t { guPixel, guPoint };
enum TIGPStringAlignment : std::int32_t { saNear, saCenter, saFar };

// Font styles: a set of these flags.
enum TIGPFontStyleFlag : std::uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeout = 8 };
using TIGPFontStyle = std::uint8_t;

// Text layout: alignment across the layout rectangle (Alignment) and down it
// (LineAlignment); without NoWrap lines wrap at word boundaries to the
// rectangle's width; without NoClip drawing is clipped to the rectangle.
struct TIGPStringFormat {
  TIGPStringAlignment Alignment = saNear;
  TIGPStringAlignment LineAlignment = saNear;
  bool NoWrap = false;
  bool NoClip = true;
};

// ---------------------------------------------------------------- brushes

class TIGPGraphicsPath;

// Base of every brush: its type, a copy, and the Cairo source it paints with.
struct IGPBrush : virtual IInterface {
  NX_INTERFACE_ID(IGPBrush, "{E260581B-8CC7-4389-936D-8DE6F11207EA}");
  virtual TIGPBrushType GetType() const = 0;
  virtual TIntfPtr<IGPBrush> Clone() const = 0;
  // A new Cairo pattern (the caller destroys it) for a context whose
  // user-to-device matrix is AUserToDevice.
  virtual cairo_pattern_t* CreatePattern(const cairo_matrix_t& AUserToDevice) const = 0;
};

class TIGPSolidBrush : public TInterfacedObject, public IGPBrush {
  NX_INTERFACES(TInterfacedObject, IGPBrush)
 public:
  explicit TIGPSolidBrush(TGPColor AColor) : FColor(AColor) {}
  TGPColor GetColor() const { return FColor; }
  void SetColor(TGPColor AColor) { FColor = AColor; }
  TIGPBrushType GetType() const override { return btSolidColor; }
  TIntfPtr<IGPBrush> Clone() const override;
  cairo_pattern_t* CreatePattern(const cairo_matrix_t& AUserToDevice) const override;

 private:
  TGPColor FColor;
};

// An 8x8 pattern of foreground and background pixels, repeated in device
// pixels from the device origin (it is neither scaled nor rotated with the
// graphics, so neighbouring fills line up).
class TIGPHatchBrush : public TInterfacedObject, public IGPBrush {
  NX_INTERFACES(TInterfacedObject, IGPBrush)
 public:
  TIGPHatchBrush(TIGPHatchStyle AStyle, TGPColor AForeColor, TGPColor ABackColor = 0xFF000000u);
  TIGPHatchStyle GetHatchStyle() const { return FStyle; }
  TGPColor GetForegroundColor() const { return FFore; }
  TGPColor GetBackgroundColor() const { return FBack; }
  TIGPBrushType GetType() const override { return btHatchFill; }
  TIntfPtr<IGPBrush> Clone() const override;
  cairo_pattern_t* CreatePattern(const cairo_matrix_t& AUserToDevice) const override;
  // Row y (0..7) of a style's pattern: bit 7 is the leftmost pixel, a set bit is foreground.
  static std::uint8_t PatternRow(TIGPHatchStyle AStyle, int y);

 private:
  TIGPHatchStyle FStyle;
  TGPColor FFore, FBack;
};

// The base of the brushes with a transform of their own (brush space to user space).
class TIGPTransformBrush : public TInterfacedObject, public IGPBrush {
  NX_INTERFACES(TInterfacedObject, IGPBrush)
 public:
  const TIGPMatrix& GetTransform() const { return FTransform; }
  void SetTransform(const TIGPMatrix& m) { FTransform = m; }
  void ResetTransform() { FTransform = TIGPMatrix(); }
  void TranslateTransform(float dx, float dy, TIGPMatrixOrder o = moPrepend) { FTransform.Translate(dx, dy, o); }
  void ScaleTransform(float sx, float sy, TIGPMatrixOrder o = moPrepend) { FTransform.Scale(sx, sy, o); }
  void RotateTransform(float a, TIGPMatrixOrder o = moPrepend) { FTransform.Rotate(a, o); }
  void MultiplyTransform(const TIGPMatrix& m, TIGPMatrixOrder o = moPrepend) { FTransform.Multiply(m, o); }
  TIGPWrapMode GetWrapMode() const { return FWrapMode; }
  void SetWrapMode(TIGPWrapMode AMode) { FWrapMode = AMode; }

 protected:
  TIGPMatrix FTransform;
  TIGPWrapMode FWrapMode = wmTile;
};

struct IGPImage;

// Paints with an image, repeated by the wrap mode (default tile), in brush
// space (the image's pixel (0, 0) at the brush-space origin).
class TIGPTextureBrush : public TIGPTransformBrush {
 public:
  explicit TIGPTextureBrush(const TIntfPtr<IGPImage>& AImage, TIGPWrapMode AWrapMode = wmTile);
  // Only the part ASourceRect of the image (in its pixels).
  TIGPTextureBrush(const TIntfPtr<IGPImage>& AImage, TIGPWrapMode AWrapMode, const TIGPRectF& ASourceRect);
  const TIntfPtr<IGPImage>& GetImage() const { return FImage; }
  TIGPBrushType GetType() const override { return btTextureFill; }
  TIntfPtr<IGPBrush> Clone() const override;
  cairo_pattern_t* CreatePattern(const cairo_matrix_t& AUserToDevice) const override;

 private:
  TIntfPtr<IGPImage> FImage;
};

// Blend factors: at each position (0..1 along the gradient) the colour is
// start + factor * (end - start). Interpolation colours instead give the
// colour at each position directly; they take precedence over a blend.
struct TIGPBlendPoint {
  float Position, Factor;
};
struct TIGPColorStop {
  TGPColor Color;
  float Position;
};

class TIGPGradientBrush : public TIGPTransformBrush {
 public:
  void SetBlend(const std::vector<TIGPBlendPoint>& ABlend) { FBlend = ABlend; FInterpolation.clear(); }
  const std::vector<TIGPBlendPoint>& GetBlend() const { return FBlend; }
  // A blend rising linearly from 0 at the ends to AScale at AFocus.
  void SetBlendTriangularShape(float AFocus, float AScale = 1.0f);
  // A blend following a bell curve (normal distribution) peaking at AFocus with AScale.
  void SetBlendBellShape(float AFocus, float AScale = 1.0f);
  // Positions must start at 0 and end at 1 (else EVantexError).
  void SetInterpolationColors(const std::vector<TIGPColorStop>& AStops);
  const std::vector<TIGPColorStop>& GetInterpolationColors() const { return FInterpolation; }
  // Kept for the drawing properties; the layer interpolates in sRGB either way.
  void SetGammaCorrection(bool AValue) { FGamma = AValue; }
  bool GetGammaCorrection() const { return FGamma; }

 protected:
  // The colour stops from AStart to AEnd with the blend or interpolation colours applied.
  std::vector<TIGPColorStop> Stops(TGPColor AStart, TGPColor AEnd) const;
  void CopyGradientTo(TIGPGradientBrush& ATarget) const;
  std::vector<TIGPBlendPoint> FBlend;
  std::vector<TIGPColorStop> FInterpolation;
  bool FGamma = false;
};

class TIGPLinearGradientBrush : public TIGPGradientBrush {
 public:
  TIGPLinearGradientBrush(TIGPPointF APoint1, TIGPPointF APoint2, TGPColor AColor1, TGPColor AColor2);
  TIGPLinearGradientBrush(const TIGPRectF& ARect, TGPColor AColor1, TGPColor AColor2, TIGPLinearGradientMode AMode);
  // The gradient runs across ARect at AAngle (degrees, clockwise from the x
  // axis) from the corner where it starts to the opposite one; scalable, the
  // angle is taken in the unit square and stretched with the rectangle.
  TIGPLinearGradientBrush(const TIGPRectF& ARect, TGPColor AColor1, TGPColor AColor2, float AAngle,
                          bool AIsAngleScalable = false);
  TGPColor GetStartColor() const { return FColor1; }
  TGPColor GetEndColor() const { return FColor2; }
  void SetLinearColors(TGPColor AColor1, TGPColor AColor2) { FColor1 = AColor1; FColor2 = AColor2; }
  // The rectangle the gradient spans once, in user space (before the brush transform).
  TIGPRectF GetRectangle() const { return FRect; }
  TIGPBrushType GetType() const override { return btLinearGradient; }
  TIntfPtr<IGPBrush> Clone() const override;
  cairo_pattern_t* CreatePattern(const cairo_matrix_t& AUserToDevice) const override;

 private:
  TIGPLinearGradientBrush() = default;
  TIGPPointF FP1, FP2;  // in gradient space, which FBase maps into brush space
  TIGPMatrix FBase;
  TGPColor FColor1 = 0, FColor2 = 0;
  TIGPRectF FRect;
};

// Fills the inside of a closed figure with colours running from the
// surrounding points (each with its surround colour) to the centre point
// (centre colour). Outside the figure it paints nothing. A blend or
// interpolation colours run from the boundary (position 0) to the centre (1).
class TIGPPathGradientBrush : public TIGPGradientBrush {
 public:
  explicit TIGPPathGradientBrush(const std::vector<TIGPPointF>& APoints);
  // The figure of a path (flattened; its first figure).
  explicit TIGPPathGradientBrush(const TIntfPtr<TIGPGraphicsPath>& APath);
  TGPColor GetCenterColor() const { return FCenterColor; }
  void SetCenterColor(TGPColor AColor) { FCenterColor = AColor; }
  TIGPPointF GetCenterPoint() const { return FCenter; }
  void SetCenterPoint(TIGPPointF APoint) { FCenter = APoint; }
  // One colour per point; when fewer are given the last repeats (at least one is needed).
  void SetSurroundColors(const std::vector<TGPColor>& AColors);
  const std::vector<TGPColor>& GetSurroundColors() const { return FSurround; }
  const std::vector<TIGPPointF>& GetPoints() const { return FPoints; }
  TIGPRectF GetRectangle() const;
  TIGPBrushType GetType() const override { return btPathGradient; }
  TIntfPtr<IGPBrush> Clone() const override;
  cairo_pattern_t* CreatePattern(const cairo_matrix_t& AUserToDevice) const override;

 private:
  TIGPPathGradientBrush() = default;
  std::vector<TIGPPointF> FPoints;
  std::vector<TGPColor> FSurround{0xFFFFFFFFu};
  TIGPPointF FCenter;
  TGPColor FCenterColor = 0xFF000000u;
};

// ---------------------------------------------------------------- pens

class TIGPPen : public TInterfacedObject {
 public:
  // A width of 0 draws one device pixel wide whatever the transform.
  explicit TIGPPen(TGPColor AColor, float AWidth = 1.0f);
  explicit TIGPPen(const TIntfPtr<IGPBrush>& ABrush, float AWidth = 1.0f);
  TIntfPtr<TIGPPen> Clone() const;

  float GetWidth() const { return FWidth; }
  void SetWidth(float AWidth) { FWidth = AWidth; }
  // The colour of a solid pen; other brushes report 0.
  TGPColor GetColor() const;
  void SetColor(TGPColor AColor);
  const TIntfPtr<IGPBrush>& GetBrush() const { return FBrush; }
  void SetBrush(const TIntfPtr<IGPBrush>& ABrush);

  TIGPDashStyle GetDashStyle() const { return FDashStyle; }
  void SetDashStyle(TIGPDashStyle AStyle) { FDashStyle = AStyle; }
  // Dash and gap lengths in pen widths, alternating; setting one makes the style dsCustom.
  void SetDashPattern(const std::vector<float>& APattern);
  // The pattern in force (the style's own lengths, or the custom ones).
  std::vector<float> GetDashPattern() const;
  // How far into the pattern a line starts, in pen widths.
  float GetDashOffset() const { return FDashOffset; }
  void SetDashOffset(float AOffset) { FDashOffset = AOffset; }
  TIGPDashCap GetDashCap() const { return FDashCap; }
  void SetDashCap(TIGPDashCap ACap) { FDashCap = ACap; }

  TIGPPenAlignment GetAlignment() const { return FAlignment; }
  void SetAlignment(TIGPPenAlignment AAlignment) { FAlignment = AAlignment; }
  TIGPLineJoin GetLineJoin() const { return FLineJoin; }
  void SetLineJoin(TIGPLineJoin AJoin) { FLineJoin = AJoin; }
  // The longest miter, in pen widths, before a join is bevelled; below 1 counts as 1.
  float GetMiterLimit() const { return FMiterLimit; }
  void SetMiterLimit(float ALimit) { FMiterLimit = ALimit; }
  TIGPLineCap GetStartCap() const { return FStartCap; }
  TIGPLineCap GetEndCap() const { return FEndCap; }
  void SetStartCap(TIGPLineCap ACap) { FStartCap = ACap; }
  void SetEndCap(TIGPLineCap ACap) { FEndCap = ACap; }
  void SetLineCap(TIGPLineCap AStart, TIGPLineCap AEnd, TIGPDashCap ADash);

  // Compound lines: ascending fractions of the width (0..1) in pairs, each
  // pair one parallel stroke ({0, 0.3, 0.7, 1}: two strokes with a gap).
  // An odd count or values outside 0..1 raise EVantexError.
  void SetCompoundArray(const std::vector<float>& AValues);
  const std::vector<float>& GetCompoundArray() const { return FCompound; }

 private:
  TIntfPtr<IGPBrush> FBrush;
  float FWidth;
  TIGPDashStyle FDashStyle = dsSolid;
  std::vector<float> FCustomDash;
  float FDashOffset = 0;
  TIGPDashCap FDashCap = dcFlat;
  TIGPPenAlignment FAlignment = paCenter;
  TIGPLineJoin FLineJoin = ljMiter;
  float FMiterLimit = 10;
  TIGPLineCap FStartCap = lcFlat, FEndCap = lcFlat;
  std::vector<float> FCompound;
};

// ---------------------------------------------------------------- fonts

// A font family found through fontconfig. A name that no installed family
// has falls back to the system's sans-serif family (as desktops do);
// IsRequestedAvailable tells which happened.
class TIGPFontFamily : public TInterfacedObject {
 public:
  explicit TIGPFontFamily(std::string_view AName);
  static TIntfPtr<TIGPFontFamily> GenericSansSerif();
  static TIntfPtr<TIGPFontFamily> GenericSerif();
  static TIntfPtr<TIGPFontFamily> GenericMonospace();
  // The family name as installed (after any fall-back).
  const std::string& GetFamilyName() const { return FName; }
  const std::string& GetRequestedName() const { return FRequested; }
  bool IsRequestedAvailable() const { return FAvailable; }
  bool IsStyleAvailable(TIGPFontStyle AStyle) const;
  // The font face for a style (the cache owns it; valid for the process's life).
  cairo_font_face_t* FontFace(TIGPFontStyle AStyle) const;

 private:
  std::string FRequested, FName;
  bool FAvailable = false;
};

class TIGPFont : public TInterfacedObject {
 public:
  TIGPFont(const TIntfPtr<TIGPFontFamily>& AFamily, float ASize, TIGPFontStyle AStyle = 0, TIGPUnit AUnit = guPoint);
  TIGPFont(std::string_view AFamilyName, float ASize, TIGPFontStyle AStyle = 0, TIGPUnit AUnit = guPoint);
  const TIntfPtr<TIGPFontFamily>& GetFamily() const { return FFamily; }
  float GetSize() const { return FSize; }
  TIGPUnit GetUnit() const { return FUnit; }
  TIGPFontStyle GetStyle() const { return FStyle; }
  // The em size in user-space units (points are 1/72 inch at 96 pixels per inch).
  float GetSizeInPixels() const { return FUnit == guPoint ? FSize * 96.0f / 72.0f : FSize; }
  // The distance between baselines of successive lines.
  float GetHeight() const;
  // Ascent and descent of the face at this size.
  float GetAscent() const;
  float GetDescent() const;
  // Selects the face and size into a Cairo context.
  void Select(cairo_t* cr) const;

 private:
  TIntfPtr<TIGPFontFamily> FFamily;
  float FSize;
  TIGPFontStyle FStyle;
  TIGPUnit FUnit;
};

// ---------------------------------------------------------------- paths

// Figures of lines and cubic Béziers, each open or closed. Adding a shape
// (rectangle, ellipse, polygon, pie, text) adds closed figures of its own;
// lines, arcs and Béziers continue the open figure, joined to its last point.
class TIGPGraphicsPath : public TInterfacedObject {
 public:
  enum TSegmentKind : std::uint8_t { skMove, skLine, skBezier, skClose };
  struct TSegment {
    TSegmentKind Kind;
    TIGPPointF P[3];  // skMove, skLine: P[0]; skBezier: two control points and the end
  };

  explicit TIGPGraphicsPath(TIGPFillMode AFillMode = fmAlternate) : FFillMode(AFillMode) {}
  TIntfPtr<TIGPGraphicsPath> Clone() const;
  void Reset() { FSegments.clear(); FOpen = false; }
  TIGPFillMode GetFillMode() const { return FFillMode; }
  void SetFillMode(TIGPFillMode AMode) { FFillMode = AMode; }

  void StartFigure() { FOpen = false; }
  void CloseFigure();
  void CloseAllFigures();
  void AddLine(float x1, float y1, float x2, float y2);
  void AddLine(TIGPPointF a, TIGPPointF b) { AddLine(a.X, a.Y, b.X, b.Y); }
  void AddLines(const std::vector<TIGPPointF>& APoints);
  void AddBezier(TIGPPointF p1, TIGPPointF c1, TIGPPointF c2, TIGPPointF p2);
  // 1 + 3n points: a start and n (control, control, end) triples.
  void AddBeziers(const std::vector<TIGPPointF>& APoints);
  // A cardinal spline through the points (tension 0: straight lines; 0.5 the usual curve).
  void AddCurve(const std::vector<TIGPPointF>& APoints, float ATension = 0.5f);
  void AddClosedCurve(const std::vector<TIGPPointF>& APoints, float ATension = 0.5f);
  // An arc of the ellipse in ARect from AStartAngle over ASweepAngle degrees
  // (angles measured to the point on the ellipse, clockwise).
  void AddArc(const TIGPRectF& ARect, float AStartAngle, float ASweepAngle);
  void AddRectangle(const TIGPRectF& ARect);
  void AddRectangles(const std::vector<TIGPRectF>& ARects);
  void AddEllipse(const TIGPRectF& ARect);
  void AddPie(const TIGPRectF& ARect, float AStartAngle, float ASweepAngle);
  void AddPolygon(const std::vector<TIGPPointF>& APoints);
  // AConnect joins the path's first figure to this path's open figure.
  void AddPath(const TIGPGraphicsPath& APath, bool AConnect = false);
  // The outlines of a text's glyphs, laid out in ALayout like TIGPGraphics::DrawString.
  void AddString(std::string_view AText, const TIntfPtr<TIGPFontFamily>& AFamily, TIGPFontStyle AStyle,
                 float AEmSize, const TIGPRectF& ALayout, const TIGPStringFormat& AFormat = {});
  void AddString(std::string_view AText, const TIntfPtr<TIGPFontFamily>& AFamily, TIGPFontStyle AStyle,
                 float AEmSize, TIGPPointF AOrigin, const TIGPStringFormat& AFormat = {});

  void Transform(const TIGPMatrix& AMatrix);
  // Replaces the Béziers by lines within AFlatness of the curve.
  void Flatten(float AFlatness = 0.25f);
  // The smallest rectangle holding every point (control points of Béziers
  // included); with a pen, widened by half its width.
  TIGPRectF GetBounds(const TIntfPtr<TIGPPen>& APen = nullptr) const;
  TIGPPointF GetLastPoint() const;
  // Every point of the path (moves, line ends, Bézier control and end points).
  std::vector<TIGPPointF> GetPathPoints() const;
  int GetPointCount() const { return int(GetPathPoints().size()); }
  const std::vector<TSegment>& Segments() const { return FSegments; }
  // Whether a point lies inside the filled path (by the fill mode).
  bool IsVisible(float x, float y) const;
  // Adds the path to the current path of a Cairo context.
  void AppendTo(cairo_t* cr) const;
  // Adds a Cairo path (user space of that context) to this path.
  void AppendCairoPath(const cairo_path_t* APath);

 private:
  void LineTo(TIGPPointF p);
  void EnsureFigure(TIGPPointF p);
  std::vector<TSegment> FSegments;
  TIGPFillMode FFillMode;
  bool FOpen = false;  // a figure is open: lines continue it
};

// ---------------------------------------------------------------- images

// An image of 32-bit ARGB pixels. Width and Height in pixels; pixel access
// and drawing belong to the bitmap (every image of the layer is one).
struct IGPImage : virtual IInterface {
  NX_INTERFACE_ID(IGPImage, "{7C00F472-8007-43E0-A4F1-44EB2821AA20}");
  virtual std::int32_t GetWidth() const = 0;
  virtual std::int32_t GetHeight() const = 0;
  virtual TIntfPtr<IGPImage> Clone() const = 0;
  // Writes the image; AFormat is "png" (the default), "jpeg" or "bmp".
  virtual void SaveToFile(const std::string& AFileName, std::string_view AFormat = "png") const = 0;
  virtual void SaveToStream(TStream& AStream, std::string_view AFormat = "png") const = 0;
  // The Cairo image surface behind the image (premultiplied ARGB32; owned by the image).
  virtual cairo_surface_t* Surface() const = 0;
};

struct IGPBitmap : IGPImage {
  NX_INTERFACE_ID(IGPBitmap, "{8488764B-2798-47EC-B05B-41BDB0B667C9}");
  virtual TGPColor GetPixel(std::int32_t x, std::int32_t y) const = 0;
  virtual void SetPixel(std::int32_t x, std::int32_t y, TGPColor AColor) = 0;
  // All pixels row by row (Width * Height values), straight (not premultiplied) ARGB.
  virtual std::vector<TGPColor> GetPixels() const = 0;
  virtual void SetPixels(const std::vector<TGPColor>& APixels) = 0;
};

class TIGPBitmap : public TInterfacedObject, public IGPBitmap {
  NX_INTERFACES(TInterfacedObject, IGPImage, IGPBitmap)
 public:
  // A transparent image (every pixel 0) of the size; sizes below 1 or above
  // 32767 raise EVantexError.
  TIGPBitmap(std::int32_t AWidth, std::int32_t AHeight);
  // An image of the given straight ARGB pixels, row by row.
  TIGPBitmap(std::int32_t AWidth, std::int32_t AHeight, const std::vector<TGPColor>& APixels);
  // Takes over a Cairo ARGB32 image surface (its reference).
  explicit TIGPBitmap(cairo_surface_t* ASurface);
  ~TIGPBitmap() override;

  // The largest image made or decoded: each side at most kMaxSide (what a
  // Cairo image surface holds), kMaxPixels in all (256 MiB of pixels).
  static constexpr std::int32_t kMaxSide = 32767;
  static constexpr std::int64_t kMaxPixels = std::int64_t(1) << 26;
  // Decodes PNG, JPEG, BMP or GIF (the first frame) by content; a file that
  // cannot be opened or decoded, or one larger than the above, raises
  // EVantexError.
  static TIntfPtr<IGPBitmap> FromFile(const std::string& AFileName);
  static TIntfPtr<IGPBitmap> FromMemory(const void* AData, std::size_t ASize);
  static TIntfPtr<IGPBitmap> FromStream(TStream& AStream);
  // The MIME types the image can be saved as ("image/png", "image/jpeg", "image/bmp").
  static std::vector<std::string> GetEncoders();

  std::int32_t GetWidth() const override;
  std::int32_t GetHeight() const override;
  TIntfPtr<IGPImage> Clone() const override;
  void SaveToFile(const std::string& AFileName, std::string_view AFormat = "png") const override;
  void SaveToStream(TStream& AStream, std::string_view AFormat = "png") const override;
  cairo_surface_t* Surface() const override { return FSurface; }
  TGPColor GetPixel(std::int32_t x, std::int32_t y) const override;
  void SetPixel(std::int32_t x, std::int32_t y, TGPColor AColor) override;
  std::vector<TGPColor> GetPixels() const override;
  void SetPixels(const std::vector<TGPColor>& APixels) override;

 private:
  cairo_surface_t* FSurface = nullptr;
};

// ---------------------------------------------------------------- graphics

struct IGPGraphics : virtual IInterface {
  NX_INTERFACE_ID(IGPGraphics, "{44B87F50-5A32-45D4-9985-267FD1076F7E}");

  virtual void Clear(TGPColor AColor) = 0;
  virtual void Flush() = 0;

  virtual void FillRectangle(const TIntfPtr<IGPBrush>& ABrush, const TIGPRectF& ARect) = 0;
  virtual void FillRectangles(const TIntfPtr<IGPBrush>& ABrush, const std::vector<TIGPRectF>& ARects) = 0;
  virtual void DrawRectangle(const TIntfPtr<TIGPPen>& APen, const TIGPRectF& ARect) = 0;
  virtual void FillEllipse(const TIntfPtr<IGPBrush>& ABrush, const TIGPRectF& ARect) = 0;
  virtual void DrawEllipse(const TIntfPtr<TIGPPen>& APen, const TIGPRectF& ARect) = 0;
  virtual void DrawLine(const TIntfPtr<TIGPPen>& APen, float x1, float y1, float x2, float y2) = 0;
  // A polyline through the points (joined, not closed).
  virtual void DrawLines(const TIntfPtr<TIGPPen>& APen, const std::vector<TIGPPointF>& APoints) = 0;
  virtual void DrawPolygon(const TIntfPtr<TIGPPen>& APen, const std::vector<TIGPPointF>& APoints) = 0;
  virtual void FillPolygon(const TIntfPtr<IGPBrush>& ABrush, const std::vector<TIGPPointF>& APoints,
                           TIGPFillMode AFillMode = fmAlternate) = 0;
  virtual void DrawArc(const TIntfPtr<TIGPPen>& APen, const TIGPRectF& ARect, float AStartAngle, float ASweepAngle) = 0;
  virtual void DrawPie(const TIntfPtr<TIGPPen>& APen, const TIGPRectF& ARect, float AStartAngle, float ASweepAngle) = 0;
  virtual void FillPie(const TIntfPtr<IGPBrush>& ABrush, const TIGPRectF& ARect, float AStartAngle,
                       float ASweepAngle) = 0;
  virtual void DrawBezier(const TIntfPtr<TIGPPen>& APen, TIGPPointF p1, TIGPPointF c1, TIGPPointF c2, TIGPPointF p2) = 0;
  virtual void DrawCurve(const TIntfPtr<TIGPPen>& APen, const std::vector<TIGPPointF>& APoints,
                         float ATension = 0.5f) = 0;
  virtual void DrawPath(const TIntfPtr<TIGPPen>& APen, const TIntfPtr<TIGPGraphicsPath>& APath) = 0;
  virtual void FillPath(const TIntfPtr<IGPBrush>& ABrush, const TIntfPtr<TIGPGraphicsPath>& APath) = 0;

  // Text in a layout rectangle (aligned and wrapped by the format) or from an
  // origin point (the top-left corner of the first line for saNear).
  virtual void DrawString(std::string_view AText, const TIntfPtr<TIGPFont>& AFont, const TIGPRectF& ALayout,
                          const TIGPStringFormat& AFormat, const TIntfPtr<IGPBrush>& ABrush) = 0;
  virtual void DrawString(std::string_view AText, const TIntfPtr<TIGPFont>& AFont, TIGPPointF AOrigin,
                          const TIntfPtr<IGPBrush>& ABrush) = 0;
  // The rectangle the text takes, laid out in ALayout (a width of 0: no wrapping).
  virtual TIGPRectF MeasureString(std::string_view AText, const TIntfPtr<TIGPFont>& AFont,
                                  const TIGPRectF& ALayout = {}, const TIGPStringFormat& AFormat = {}) = 0;

  // The image at its size in pixels, or scaled into a rectangle (a part of it: ASourceRect).
  virtual void DrawImage(const TIntfPtr<IGPImage>& AImage, float x, float y) = 0;
  virtual void DrawImage(const TIntfPtr<IGPImage>& AImage, const TIGPRectF& ADest) = 0;
  virtual void DrawImage(const TIntfPtr<IGPImage>& AImage, const TIGPRectF& ADest, const TIGPRectF& ASource) = 0;

  virtual void SetClip(const TIGPRectF& ARect, TIGPCombineMode AMode = cmReplace) = 0;
  virtual void SetClip(const TIntfPtr<TIGPGraphicsPath>& APath, TIGPCombineMode AMode = cmReplace) = 0;
  virtual void IntersectClip(const TIGPRectF& ARect) = 0;
  virtual void ExcludeClip(const TIGPRectF& ARect) = 0;
  virtual void ResetClip() = 0;
  // The bounds of the clip in user space (the whole surface when there is no clip).
  virtual TIGPRectF GetClipBounds() = 0;

  virtual void TranslateTransform(float dx, float dy, TIGPMatrixOrder AOrder = moPrepend) = 0;
  virtual void ScaleTransform(float sx, float sy, TIGPMatrixOrder AOrder = moPrepend) = 0;
  virtual void RotateTransform(float AAngle, TIGPMatrixOrder AOrder = moPrepend) = 0;
  virtual void MultiplyTransform(const TIGPMatrix& AMatrix, TIGPMatrixOrder AOrder = moPrepend) = 0;
  virtual void ResetTransform() = 0;
  virtual void SetTransform(const TIGPMatrix& AMatrix) = 0;
  virtual TIGPMatrix GetTransform() = 0;

  // Save returns a state that Restore goes back to (transform, clip and
  // modes); restoring a state also drops every state saved after it.
  virtual std::uint32_t Save() = 0;
  virtual void Restore(std::uint32_t AState) = 0;

  virtual void SetSmoothingMode(TIGPSmoothingMode AMode) = 0;
  virtual TIGPSmoothingMode GetSmoothingMode() = 0;
  virtual void SetInterpolationMode(TIGPInterpolationMode AMode) = 0;
  virtual TIGPInterpolationMode GetInterpolationMode() = 0;
  virtual void SetCompositingMode(TIGPCompositingMode AMode) = 0;
  virtual TIGPCompositingMode GetCompositingMode() = 0;

  // The Cairo context everything is drawn with (owned by the graphics).
  virtual cairo_t* Context() = 0;
};

class TIGPGraphics : public TInterfacedObject, public IGPGraphics {
  NX_INTERFACES(TInterfacedObject, IGPGraphics)
 public:
  // Draws onto a bitmap (the graphics holds a reference to it).
  explicit TIGPGraphics(const TIntfPtr<IGPImage>& AImage);
  // Draws onto any Cairo surface (a window's, a PDF page...); takes its own reference.
  explicit TIGPGraphics(cairo_surface_t* ASurface);
  ~TIGPGraphics() override;
  static TIntfPtr<IGPGraphics> FromImage(const TIntfPtr<IGPImage>& AImage);

  void Clear(TGPColor AColor) override;
  void Flush() override;
  void FillRectangle(const TIntfPtr<IGPBrush>& ABrush, const TIGPRectF& ARect) override;
  void FillRectangles(const TIntfPtr<IGPBrush>& ABrush, const std::vector<TIGPRectF>& ARects) override;
  void DrawRectangle(const TIntfPtr<TIGPPen>& APen, const TIGPRectF& ARect) override;
  void FillEllipse(const TIntfPtr<IGPBrush>& ABrush, const TIGPRectF& ARect) override;
  void DrawEllipse(const TIntfPtr<TIGPPen>& APen, const TIGPRectF& ARect) override;
  void DrawLine(const TIntfPtr<TIGPPen>& APen, float x1, float y1, float x2, float y2) override;
  void DrawLines(const TIntfPtr<TIGPPen>& APen, const std::vector<TIGPPointF>& APoints) override;
  void DrawPolygon(const TIntfPtr<TIGPPen>& APen, const std::vector<TIGPPointF>& APoints) override;
  void FillPolygon(const TIntfPtr<IGPBrush>& ABrush, const std::vector<TIGPPointF>& APoints,
                   TIGPFillMode AFillMode = fmAlternate) override;
  void DrawArc(const TIntfPtr<TIGPPen>& APen, const TIGPRectF& ARect, float AStartAngle, float ASweepAngle) override;
  void DrawPie(const TIntfPtr<TIGPPen>& APen, const TIGPRectF& ARect, float AStartAngle, float ASweepAngle) override;
  void FillPie(const TIntfPtr<IGPBrush>& ABrush, const TIGPRectF& ARect, float AStartAngle, float ASweepAngle) override;
  void DrawBezier(const TIntfPtr<TIGPPen>& APen, TIGPPointF p1, TIGPPointF c1, TIGPPointF c2, TIGPPointF p2) override;
  void DrawCurve(const TIntfPtr<TIGPPen>& APen, const std::vector<TIGPPointF>& APoints, float ATension = 0.5f) override;
  void DrawPath(const TIntfPtr<TIGPPen>& APen, const TIntfPtr<TIGPGraphicsPath>& APath) override;
  void FillPath(const TIntfPtr<IGPBrush>& ABrush, const TIntfPtr<TIGPGraphicsPath>& APath) override;
  void DrawString(std::string_view AText, const TIntfPtr<TIGPFont>& AFont, const TIGPRectF& ALayout,
                  const TIGPStringFormat& AFormat, const TIntfPtr<IGPBrush>& ABrush) override;
  void DrawString(std::string_view AText, const TIntfPtr<TIGPFont>& AFont, TIGPPointF AOrigin,
                  const TIntfPtr<IGPBrush>& ABrush) override;
  TIGPRectF MeasureString(std::string_view AText, const TIntfPtr<TIGPFont>& AFont, const TIGPRectF& ALayout = {},
                          const TIGPStringFormat& AFormat = {}) override;
  void DrawImage(const TIntfPtr<IGPImage>& AImage, float x, float y) override;
  void DrawImage(const TIntfPtr<IGPImage>& AImage, const TIGPRectF& ADest) override;
  void DrawImage(const TIntfPtr<IGPImage>& AImage, const TIGPRectF& ADest, const TIGPRectF& ASource) override;
  void SetClip(const TIGPRectF& ARect, TIGPCombineMode AMode = cmReplace) override;
  void SetClip(const TIntfPtr<TIGPGraphicsPath>& APath, TIGPCombineMode AMode = cmReplace) override;
  void IntersectClip(const TIGPRectF& ARect) override { SetClip(ARect, cmIntersect); }
  void ExcludeClip(const TIGPRectF& ARect) override { SetClip(ARect, cmExclude); }
  void ResetClip() override;
  TIGPRectF GetClipBounds() override;
  void TranslateTransform(float dx, float dy, TIGPMatrixOrder AOrder = moPrepend) override;
  void ScaleTransform(float sx, float sy, TIGPMatrixOrder AOrder = moPrepend) override;
  void RotateTransform(float AAngle, TIGPMatrixOrder AOrder = moPrepend) override;
  void MultiplyTransform(const TIGPMatrix& AMatrix, TIGPMatrixOrder AOrder = moPrepend) override;
  void ResetTransform() override;
  void SetTransform(const TIGPMatrix& AMatrix) override;
  TIGPMatrix GetTransform() override;
  std::uint32_t Save() override;
  void Restore(std::uint32_t AState) override;
  void SetSmoothingMode(TIGPSmoothingMode AMode) override;
  TIGPSmoothingMode GetSmoothingMode() override { return FSmoothing; }
  void SetInterpolationMode(TIGPInterpolationMode AMode) override { FInterpolation = AMode; }
  TIGPInterpolationMode GetInterpolationMode() override { return FInterpolation; }
  void SetCompositingMode(TIGPCompositingMode AMode) override;
  TIGPCompositingMode GetCompositingMode() override { return FCompositing; }
  cairo_t* Context() override { return FCr; }

 private:
  struct TSavedModes {
    TIGPSmoothingMode Smoothing;
    TIGPInterpolationMode Interpolation;
    TIGPCompositingMode Compositing;
  };
  void Init(cairo_surface_t* ASurface);
  void SetSource(const IGPBrush& ABrush);
  // Strokes the current path of the context with the pen (clears the path).
  void StrokeCurrentPath(const TIGPPen& APen, bool AClosedFigures);
  // A thin solid polyline drawn straight into a coverage mask (fast path); false when it does not apply.
  bool TryHairline(const TIGPPen& APen, const std::vector<TIGPPointF>& APoints);
  void DrawText(std::string_view AText, const TIGPFont& AFont, const TIGPRectF& ALayout,
                const TIGPStringFormat& AFormat, const IGPBrush* ABrush, TIGPRectF* AMeasured);

  TIntfPtr<IGPImage> FImage;
  cairo_surface_t* FSurface = nullptr;
  cairo_t* FCr = nullptr;
  TIGPSmoothingMode FSmoothing = smAntiAlias;
  TIGPInterpolationMode FInterpolation = imBilinear;
  TIGPCompositingMode FCompositing = cpmSourceOver;
  std::vector<TSavedModes> FSaved;
  std::vector<std::uint8_t> FMask;  // the hairline coverage mask, kept between calls
};

}  // namespace nx
