// Zandor.CanvasIntf: the abstract canvas a draw layer paints through, so
// that one layer can draw on different surfaces, and its implementation on
// a Vantex image (a Cairo image surface) that can be written as PNG.
//
// The canvas keeps a pen (outlines), a brush (fills) and a font (text) like
// a classic device context; the shape operations fill with the brush and
// outline with the pen, either of which can be clear. The GDI+ graphics of
// the surface (GetGraphics) is there for layers that draw with Vantex
// directly. Coordinates are floats in pixels of the surface.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "drawing/Vantex.h"
#include "runtime/Zandor.Types.h"

namespace nx {

class TRGGPPen;
class TRGGPBrush;
class TRGGPBasicFont;

enum TRGPenStyle : std::int32_t { rpsSolid, rpsClear };
enum TRGBrushStyle : std::int32_t { rbsSolid, rbsClear };
enum TRGStrokeDash : std::int32_t {
  sdDashSolid, sdDashDash, sdDashDot, sdDashDashDot, sdDashDashDotDot, sdDashCustom
};

struct TRGCanvasPen {
  TGPColor Color = 0xFF000000u;
  TRGPenStyle Style = rpsSolid;
  float Width = 1.0f;
};
struct TRGCanvasBrush {
  TGPColor Color = 0xFFFFFFFFu;
  TRGBrushStyle Style = rbsSolid;
};
struct TRGCanvasFont {
  TGPColor Color = 0xFF000000u;
  std::string Family = "Microsoft Sans Serif";
  TIGPFontStyle Style = 0;
  float Size = 10.0f;  // points
};

class TRGCanvas : public TManagedObject {
 public:
  explicit TRGCanvas(TPersistent* AOwner = nullptr) : TManagedObject(AOwner) {}

  // Shapes: filled with the brush, outlined with the pen.
  virtual void Ellipse(const TIGPRectF& ARect) = 0;
  void Ellipse(float AX1, float AY1, float AX2, float AY2) { Ellipse(TIGPRectF(AX1, AY1, AX2 - AX1, AY2 - AY1)); }
  virtual void Rectangle(const TIGPRectF& ARect) = 0;
  void Rectangle(float AX1, float AY1, float AX2, float AY2) { Rectangle(TIGPRectF(AX1, AY1, AX2 - AX1, AY2 - AY1)); }
  // The brush alone.
  virtual void FillRect(const TIGPRectF& ARect) = 0;
  // A dotted outline marking a focused area.
  virtual void DrawFocusRect(const TIGPRectF& ARect) = 0;
  virtual void Polygon(const std::vector<TIGPPointF>& APoints) = 0;
  // A line with the pen from the current position, which then moves to (AX, AY).
  virtual void LineTo(float AX, float AY) = 0;
  virtual void MoveTo(float AX, float AY) = 0;
  TIGPPointF PenPos() const { return FPenPos; }

  // Text with the font, rotated by FontAngle (degrees, clockwise) about its
  // origin, the top-left corner of the text.
  virtual TIGPSizeF TextExtent(std::string_view AText) = 0;
  float TextWidth(std::string_view AText) { return TextExtent(AText).Width; }
  float TextHeight(std::string_view AText) { return TextExtent(AText).Height; }
  virtual void TextOut(float AX, float AY, std::string_view AText) = 0;

  // Clipping: exclude a rectangle, reset to the whole surface, or select a
  // region (the union of the rectangles; an empty list clips to nothing).
  virtual void ExcludeClipRect(float ALeftRect, float ATopRect, float ARightRect, float ABottomRect) = 0;
  void ExcludeClipRect(const TIGPRectF& ARect) {
    ExcludeClipRect(ARect.Left(), ARect.Top(), ARect.Right(), ARect.Bottom());
  }
  virtual void ResetClipRect() = 0;
  virtual void SelectClipRgn(const std::vector<TIGPRectF>& hUpdateRgn) = 0;

  // Settings copied from a display's drawing properties.
  virtual void SetFromDisplayPen(TRGGPPen& APen);
  virtual void SetFromDisplayBrush(TRGGPBrush& ABrush);
  virtual void SetFromDisplayFont(TRGGPBasicFont& AFont, float ASize = 10.0f);

  // The Vantex graphics of the surface.
  virtual TIntfPtr<IGPGraphics> GetGraphics() = 0;
  virtual void SetPixel(std::int32_t AX, std::int32_t AY, TGPColor AColor) = 0;
  virtual TGPColor GetPixel(std::int32_t AX, std::int32_t AY) = 0;
  // Back to solid lines.
  void ResetDash() { FStrokeDash = sdDashSolid; }

  TRGCanvasPen& Pen() { return FPen; }
  TRGCanvasBrush& Brush() { return FBrush; }
  TRGCanvasFont& Font() { return FFont; }
  // The stroke width (the pen's width) and its dash pattern.
  float StrokeThickness() const { return FPen.Width; }
  void SetStrokeThickness(float AValue) { FPen.Width = AValue; }
  TRGStrokeDash StrokeDash() const { return FStrokeDash; }
  void SetStrokeDash(TRGStrokeDash AValue) { FStrokeDash = AValue; }
  // Dash and gap lengths (in stroke widths) of sdDashCustom.
  void SetCustomDash(std::vector<float> APattern) { FCustomDash = std::move(APattern); }
  float FontAngle() const { return FFontAngle; }
  void SetFontAngle(float AValue) { FFontAngle = AValue; }
  TGPColor FontColor() const { return FFont.Color; }
  void SetFontColor(TGPColor AValue) { FFont.Color = AValue; }
  // The surface drawn on and the context that draws on it.
  virtual cairo_surface_t* Canvas() = 0;
  virtual cairo_t* Handle() = 0;

 protected:
  // The pen as a Vantex pen (null for a clear pen), the brush as a Vantex
  // brush (null for a clear brush), the font as a Vantex font.
  TIntfPtr<TIGPPen> MakePen() const;
  TIntfPtr<IGPBrush> MakeBrush() const;
  TIntfPtr<TIGPFont> MakeFont() const;

  TRGCanvasPen FPen;
  TRGCanvasBrush FBrush;
  TRGCanvasFont FFont;
  TRGStrokeDash FStrokeDash = sdDashSolid;
  std::vector<float> FCustomDash;
  float FFontAngle = 0;
  TIGPPointF FPenPos;
};

// A canvas on a Vantex image (a Cairo ARGB32 image surface).
class TRGCairoCanvas : public TRGCanvas {
 public:
  // A new transparent image of the size.
  TRGCairoCanvas(std::int32_t AWidth, std::int32_t AHeight);
  // Draws on an existing image.
  explicit TRGCairoCanvas(const TIntfPtr<IGPImage>& AImage);

  const TIntfPtr<IGPImage>& Image() const { return FImage; }
  std::int32_t Width() const { return FImage->GetWidth(); }
  std::int32_t Height() const { return FImage->GetHeight(); }
  void SaveToPNG(const std::string& AFileName);

  void Ellipse(const TIGPRectF& ARect) override;
  using TRGCanvas::Ellipse;
  void Rectangle(const TIGPRectF& ARect) override;
  using TRGCanvas::Rectangle;
  void FillRect(const TIGPRectF& ARect) override;
  void DrawFocusRect(const TIGPRectF& ARect) override;
  void Polygon(const std::vector<TIGPPointF>& APoints) override;
  void LineTo(float AX, float AY) override;
  void MoveTo(float AX, float AY) override;
  TIGPSizeF TextExtent(std::string_view AText) override;
  void TextOut(float AX, float AY, std::string_view AText) override;
  void ExcludeClipRect(float ALeftRect, float ATopRect, float ARightRect, float ABottomRect) override;
  using TRGCanvas::ExcludeClipRect;
  void ResetClipRect() override;
  void SelectClipRgn(const std::vector<TIGPRectF>& hUpdateRgn) override;
  TIntfPtr<IGPGraphics> GetGraphics() override { return FGraphics; }
  void SetPixel(std::int32_t AX, std::int32_t AY, TGPColor AColor) override;
  TGPColor GetPixel(std::int32_t AX, std::int32_t AY) override;
  cairo_surface_t* Canvas() override { return FImage->Surface(); }
  cairo_t* Handle() override { return FGraphics->Context(); }

 private:
  TIntfPtr<IGPImage> FImage;
  TIntfPtr<IGPGraphics> FGraphics;
};

}  // namespace nx
