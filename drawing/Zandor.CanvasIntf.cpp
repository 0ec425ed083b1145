// Zandor.CanvasIntf: the canvas's settings and its Cairo image implementation.
#include "drawing/Zandor.CanvasIntf.h"

#include "drawing/RGGDIPlusProperties.h"
#include "runtime/NXPackage.h"

namespace nx {

// ---------------------------------------------------------------- TRGCanvas

// A display's pen and brush may be gradients or textures; the canvas keeps
// plain colours, so it takes the colour the description paints with.
void TRGCanvas::SetFromDisplayPen(TRGGPPen& APen) {
  FPen.Color = APen.Color();
  FPen.Width = APen.Width();
  FPen.Style = GetAlpha(FPen.Color) == 0 ? rpsClear : rpsSolid;
  switch (APen.DashStyle()->Style()) {
    case dsDash: FStrokeDash = sdDashDash; break;
    case dsDot: FStrokeDash = sdDashDot; break;
    case dsDashDot: FStrokeDash = sdDashDashDot; break;
    case dsDashDotDot: FStrokeDash = sdDashDashDotDot; break;
    case dsCustom:
      FStrokeDash = sdDashCustom;
      FCustomDash = APen.DashStyle()->CustomDash()->Values();
      break;
    case dsSolid: FStrokeDash = sdDashSolid; break;
  }
}

void TRGCanvas::SetFromDisplayBrush(TRGGPBrush& ABrush) {
  FBrush.Color = ABrush.Color();
  FBrush.Style = GetAlpha(FBrush.Color) == 0 ? rbsClear : rbsSolid;
}

void TRGCanvas::SetFromDisplayFont(TRGGPBasicFont& AFont, float ASize) {
  FFont.Family = AFont.Name();
  FFont.Style = static_cast<TIGPFontStyle>(AFont.Style() & 0x0F);
  FFont.Size = ASize;
  if (auto* brushFont = dynamic_cast<TRGGPSimpleBrushFont*>(&AFont)) FFont.Color = brushFont->Brush()->Color();
  if (auto* sized = dynamic_cast<TRGGPFont*>(&AFont)) FFont.Size = static_cast<float>(sized->Size());
  else if (auto* brushSized = dynamic_cast<TRGGPBrushFont*>(&AFont)) FFont.Size = static_cast<float>(brushSized->Size());
}

TIntfPtr<TIGPPen> TRGCanvas::MakePen() const {
  if (FPen.Style == rpsClear) return nullptr;
  TIntfPtr<TIGPPen> pen(new TIGPPen(FPen.Color, FPen.Width));
  switch (FStrokeDash) {
    case sdDashDash: pen->SetDashStyle(dsDash); break;
    case sdDashDot: pen->SetDashStyle(dsDot); break;
    case sdDashDashDot: pen->SetDashStyle(dsDashDot); break;
    case sdDashDashDotDot: pen->SetDashStyle(dsDashDotDot); break;
    case sdDashCustom:
      if (!FCustomDash.empty()) pen->SetDashPattern(FCustomDash);
      break;
    case sdDashSolid: break;
  }
  return pen;
}

TIntfPtr<IGPBrush> TRGCanvas::MakeBrush() const {
  if (FBrush.Style == rbsClear) return nullptr;
  return TIntfPtr<IGPBrush>(new TIGPSolidBrush(FBrush.Color));
}

TIntfPtr<TIGPFont> TRGCanvas::MakeFont() const {
  return TIntfPtr<TIGPFont>(new TIGPFont(FFont.Family, FFont.Size, FFont.Style));
}

// ---------------------------------------------------------------- TRGCairoCanvas

TRGCairoCanvas::TRGCairoCanvas(std::int32_t AWidth, std::int32_t AHeight)
    : TRGCairoCanvas(TIntfPtr<IGPImage>(new TIGPBitmap(AWidth, AHeight))) {}

TRGCairoCanvas::TRGCairoCanvas(const TIntfPtr<IGPImage>& AImage)
    : FImage(AImage), FGraphics(TIGPGraphics::FromImage(AImage)) {
  if (!FImage) throw EVantexError("A canvas needs an image");
}

void TRGCairoCanvas::SaveToPNG(const std::string& AFileName) {
  FGraphics->Flush();
  FImage->SaveToFile(AFileName, "png");
}

void TRGCairoCanvas::Ellipse(const TIGPRectF& ARect) {
  if (TIntfPtr<IGPBrush> brush = MakeBrush()) FGraphics->FillEllipse(brush, ARect);
  if (TIntfPtr<TIGPPen> pen = MakePen()) FGraphics->DrawEllipse(pen, ARect);
}

void TRGCairoCanvas::Rectangle(const TIGPRectF& ARect) {
  if (TIntfPtr<IGPBrush> brush = MakeBrush()) FGraphics->FillRectangle(brush, ARect);
  if (TIntfPtr<TIGPPen> pen = MakePen()) FGraphics->DrawRectangle(pen, ARect);
}

void TRGCairoCanvas::FillRect(const TIGPRectF& ARect) {
  if (TIntfPtr<IGPBrush> brush = MakeBrush()) FGraphics->FillRectangle(brush, ARect);
}

void TRGCairoCanvas::DrawFocusRect(const TIGPRectF& ARect) {
  TIntfPtr<TIGPPen> pen(new TIGPPen(FPen.Color, 1.0f));
  pen->SetDashStyle(dsDot);
  FGraphics->DrawRectangle(pen, ARect);
}

void TRGCairoCanvas::Polygon(const std::vector<TIGPPointF>& APoints) {
  if (APoints.size() < 2) return;
  if (TIntfPtr<IGPBrush> brush = MakeBrush()) FGraphics->FillPolygon(brush, APoints);
  if (TIntfPtr<TIGPPen> pen = MakePen()) FGraphics->DrawPolygon(pen, APoints);
}

void TRGCairoCanvas::MoveTo(float AX, float AY) { FPenPos = {AX, AY}; }

void TRGCairoCanvas::LineTo(float AX, float AY) {
  if (TIntfPtr<TIGPPen> pen = MakePen()) FGraphics->DrawLine(pen, FPenPos.X, FPenPos.Y, AX, AY);
  FPenPos = {AX, AY};
}

TIGPSizeF TRGCairoCanvas::TextExtent(std::string_view AText) {
  const TIGPRectF r = FGraphics->MeasureString(AText, MakeFont());
  return {r.Width, r.Height};
}

void TRGCairoCanvas::TextOut(float AX, float AY, std::string_view AText) {
  const std::uint32_t state = FGraphics->Save();
  FGraphics->TranslateTransform(AX, AY);
  if (FFontAngle != 0) FGraphics->RotateTransform(FFontAngle);
  FGraphics->DrawString(AText, MakeFont(), TIGPPointF{0, 0}, TIntfPtr<IGPBrush>(new TIGPSolidBrush(FFont.Color)));
  FGraphics->Restore(state);
}

void TRGCairoCanvas::ExcludeClipRect(float ALeftRect, float ATopRect, float ARightRect, float ABottomRect) {
  FGraphics->ExcludeClip({ALeftRect, ATopRect, ARightRect - ALeftRect, ABottomRect - ATopRect});
}

void TRGCairoCanvas::ResetClipRect() { FGraphics->ResetClip(); }

void TRGCairoCanvas::SelectClipRgn(const std::vector<TIGPRectF>& hUpdateRgn) {
  if (hUpdateRgn.empty()) {
    FGraphics->SetClip(TIGPRectF(0, 0, 0, 0));
    return;
  }
  // Winding fill: overlapping rectangles stay inside the region.
  TIntfPtr<TIGPGraphicsPath> region(new TIGPGraphicsPath(fmWinding));
  region->AddRectangles(hUpdateRgn);
  FGraphics->SetClip(region);
}

// Pixels are those of the image (device pixels, no transform).
void TRGCairoCanvas::SetPixel(std::int32_t AX, std::int32_t AY, TGPColor AColor) {
  FGraphics->Flush();
  if (TIntfPtr<IGPBitmap> bitmap = Supports<IGPBitmap>(FImage.Get())) bitmap->SetPixel(AX, AY, AColor);
}

TGPColor TRGCairoCanvas::GetPixel(std::int32_t AX, std::int32_t AY) {
  FGraphics->Flush();
  TIntfPtr<IGPBitmap> bitmap = Supports<IGPBitmap>(FImage.Get());
  return bitmap ? bitmap->GetPixel(AX, AY) : 0;
}

}  // namespace nx

// The canvas registers nothing; its row keeps the package's start-up order complete.
NX_PACKAGE_UNIT(ZandorCanvasIntf, nullptr, nullptr)
