// RGGDIPlusDrawing: the free drawing routines of RGGDIPlusProperties
// (three-dimensional outlines, gloss shapes, bulbs, round diamonds) and the
// colour and angle helpers.
//
// The three-dimensional outlines all stroke one path twice: once in the
// light colour clipped to the lit side, once in the shade colour clipped to
// the rest, so every shape splits the same way. The stroke is drawn inside
// the rectangle (the path is inset by half the line width).
#include <algorithm>
#include <cmath>

#include "drawing/RGGDIPlusProperties.h"

namespace nx {

// ---------------------------------------------------------------- colours

namespace {
std::uint8_t Channel(double AValue) { return static_cast<std::uint8_t>(std::clamp(std::lround(AValue), 0L, 255L)); }
}  // namespace

TGPColor RGDimColor(TGPColor AColor, float AFactor) {
  return MakeColor(GetAlpha(AColor), Channel(GetRed(AColor) * double(AFactor)),
                   Channel(GetGreen(AColor) * double(AFactor)), Channel(GetBlue(AColor) * double(AFactor)));
}

TGPColor RGInterpolateColorF(TGPColor AColor1, TGPColor AColor2, float AFraction) {
  const double f = std::isnan(AFraction) ? 0.0 : std::clamp(double(AFraction), 0.0, 1.0);
  auto mix = [f](std::uint8_t a, std::uint8_t b) { return Channel(a + (double(b) - a) * f); };
  return MakeColor(mix(GetAlpha(AColor1), GetAlpha(AColor2)), mix(GetRed(AColor1), GetRed(AColor2)),
                   mix(GetGreen(AColor1), GetGreen(AColor2)), mix(GetBlue(AColor1), GetBlue(AColor2)));
}

TGPColor RGColorFromAngle(TGPColor AColor1, TGPColor AColor2, float AAngle) {
  const double fraction = std::sin(M_PI / 4 + double(AAngle)) / 2 + 0.5;
  return RGInterpolateColorF(AColor1, AColor2, static_cast<float>(fraction));
}

double RGSec(double AValue) { return 1.0 / std::cos(AValue); }
double RGCsc(double AValue) { return 1.0 / std::sin(AValue); }

// ---------------------------------------------------------------- paths

TIntfPtr<TIGPGraphicsPath> RGCreateRoundRectanglePathF(const TIGPRectF& ARect, const TIGPSizeF& ACornerSize) {
  TIntfPtr<TIGPGraphicsPath> path(new TIGPGraphicsPath());
  const float cw = std::min(ACornerSize.Width, ARect.Width);
  const float ch = std::min(ACornerSize.Height, ARect.Height);
  if (cw <= 0 || ch <= 0) {
    path->AddRectangle(ARect);
    return path;
  }
  const float l = ARect.Left(), t = ARect.Top(), r = ARect.Right(), b = ARect.Bottom();
  path->StartFigure();
  path->AddArc({l, t, cw, ch}, 180, 90);
  path->AddArc({r - cw, t, cw, ch}, 270, 90);
  path->AddArc({r - cw, b - ch, cw, ch}, 0, 90);
  path->AddArc({l, b - ch, cw, ch}, 90, 90);
  path->CloseFigure();
  return path;
}

// Each corner V of the diamond is cut back to the points A (towards the
// previous corner) and B (towards the next) and joined by a curve that
// bends through V's neighbourhood (a cubic standing in for the quadratic
// with control point V).
TIntfPtr<TIGPGraphicsPath> RGCreateRoundDiamondPathF(const TIGPRectF& ARect, const TIGPSizeF& ACornerSize) {
  TIntfPtr<TIGPGraphicsPath> path(new TIGPGraphicsPath());
  const float cx = ARect.X + ARect.Width / 2, cy = ARect.Y + ARect.Height / 2;
  const TIGPPointF v[4] = {{ARect.Left(), cy}, {cx, ARect.Top()}, {ARect.Right(), cy}, {cx, ARect.Bottom()}};
  if (ACornerSize.Width <= 0 && ACornerSize.Height <= 0) {
    path->AddPolygon({v[0], v[1], v[2], v[3]});
    return path;
  }
  // How far along each edge the rounding reaches: a fraction of half the edge.
  const float tx = ARect.Width > 0 ? std::clamp(ACornerSize.Width / ARect.Width, 0.0f, 0.5f) : 0.0f;
  const float ty = ARect.Height > 0 ? std::clamp(ACornerSize.Height / ARect.Height, 0.0f, 0.5f) : 0.0f;
  auto lerp = [](TIGPPointF a, TIGPPointF b, float t) { return TIGPPointF{a.X + (b.X - a.X) * t, a.Y + (b.Y - a.Y) * t}; };
  std::vector<TIGPPointF> points;
  for (int i = 0; i < 4; ++i) {
    const TIGPPointF prev = v[(i + 3) % 4], cur = v[i], next = v[(i + 1) % 4];
    const float t = (i % 2 == 0) ? tx : ty;  // left and right corners: the width; top and bottom: the height
    const TIGPPointF a = lerp(cur, prev, t), b = lerp(cur, next, t);
    if (points.empty()) points.push_back(a);
    else points.insert(points.end(), {lerp(points.back(), a, 1.0f / 3), lerp(points.back(), a, 2.0f / 3), a});
    points.insert(points.end(), {lerp(a, cur, 2.0f / 3), lerp(b, cur, 2.0f / 3), b});
  }
  const TIGPPointF first = points.front();
  points.insert(points.end(), {lerp(points.back(), first, 1.0f / 3), lerp(points.back(), first, 2.0f / 3), first});
  path->StartFigure();
  path->AddBeziers(points);
  path->CloseFigure();
  return path;
}

namespace {

TIntfPtr<TIGPGraphicsPath> DiamondPath(const TIGPRectF& R) {
  TIntfPtr<TIGPGraphicsPath> path(new TIGPGraphicsPath());
  const float cx = R.X + R.Width / 2, cy = R.Y + R.Height / 2;
  path->AddPolygon({{R.Left(), cy}, {cx, R.Top()}, {R.Right(), cy}, {cx, R.Bottom()}});
  return path;
}

TIGPRectF Inset(TIGPRectF ARect, float AAmount) {
  ARect.Inflate(-AAmount, -AAmount);
  return ARect;
}

enum class TSplit { Diagonal, Horizontal };

// The lit side of ARect (grown by AMargin on every side): above the
// diagonal from the lower-left to the upper-right corner, or above the
// horizontal centre line.
TIntfPtr<TIGPGraphicsPath> LitSide(const TIGPRectF& ARect, TSplit ASplit, float AMargin) {
  TIntfPtr<TIGPGraphicsPath> path(new TIGPGraphicsPath());
  const float m = AMargin + 1;
  if (ASplit == TSplit::Horizontal) {
    path->AddRectangle({ARect.X - m, ARect.Y - m, ARect.Width + 2 * m, ARect.Height / 2 + m});
    return path;
  }
  const float w = ARect.Width, h = ARect.Height, len = std::hypot(w, h);
  if (len <= 0) return path;
  const float dx = w / len, dy = -h / len;  // along the diagonal, lower-left to upper-right
  const float nx = dy, ny = -dx;            // its normal towards the upper left
  const float ext = m * 2, far = len + m * 2;
  const TIGPPointF p1{ARect.Left() - dx * ext, ARect.Bottom() - dy * ext};
  const TIGPPointF p2{ARect.Right() + dx * ext, ARect.Top() + dy * ext};
  path->AddPolygon({p1, p2, {p2.X + nx * far, p2.Y + ny * far}, {p1.X + nx * far, p1.Y + ny * far}});
  return path;
}

// Strokes APath in AColor1 on the lit side of ARect and in AColor2 elsewhere.
void StrokeTwoTone(IGPGraphics& G, const TIntfPtr<TIGPGraphicsPath>& APath, TGPColor AColor1, TGPColor AColor2,
                   const TIGPRectF& ARect, float AWidth, TSplit ASplit) {
  const TIntfPtr<TIGPGraphicsPath> lit = LitSide(ARect, ASplit, AWidth);
  const TIntfPtr<TIGPPen> pen1(new TIGPPen(AColor1, AWidth)), pen2(new TIGPPen(AColor2, AWidth));
  std::uint32_t state = G.Save();
  G.SetClip(lit, cmIntersect);
  G.DrawPath(pen1, APath);
  G.Restore(state);
  state = G.Save();
  G.SetClip(lit, cmExclude);
  G.DrawPath(pen2, APath);
  G.Restore(state);
}

// Fills APath from AColor1 (top of ARect) to AColor2 (bottom) and lays a
// fading white sheen over its upper half.
void GlossPath(IGPGraphics& G, const TIntfPtr<TIGPGraphicsPath>& APath, TGPColor AColor1, TGPColor AColor2,
               const TIGPRectF& ARect) {
  if (ARect.IsEmptyArea()) return;
  G.FillPath(TIntfPtr<IGPBrush>(new TIGPLinearGradientBrush(ARect, AColor1, AColor2, lgmVertical)), APath);
  const TIGPRectF upper{ARect.X, ARect.Y, ARect.Width, ARect.Height / 2};
  const std::uint32_t state = G.Save();
  G.SetClip(APath, cmIntersect);
  G.FillRectangle(TIntfPtr<IGPBrush>(new TIGPLinearGradientBrush(upper, 0xB0FFFFFFu, 0x20FFFFFFu, lgmVertical)),
                  upper);
  G.Restore(state);
}

TIntfPtr<TIGPGraphicsPath> EllipsePath(const TIGPRectF& ARect) {
  TIntfPtr<TIGPGraphicsPath> path(new TIGPGraphicsPath());
  path->AddEllipse(ARect);
  return path;
}
TIntfPtr<TIGPGraphicsPath> RectanglePath(const TIGPRectF& ARect) {
  TIntfPtr<TIGPGraphicsPath> path(new TIGPGraphicsPath());
  path->AddRectangle(ARect);
  return path;
}

// The dimmer tone of the one-colour gloss shapes.
constexpr float kGlossShade = 0.6f;

}  // namespace

// ---------------------------------------------------------------- outlines

void RGDrawEllipse3DF(IGPGraphics& AGraphics, TGPColor AColor1, TGPColor AColor2, const TIGPRectF& ARect,
                      float ALineWidth) {
  StrokeTwoTone(AGraphics, EllipsePath(Inset(ARect, ALineWidth / 2)), AColor1, AColor2, ARect, ALineWidth,
                TSplit::Diagonal);
}

void RGDrawGlobeEllipse3DF(IGPGraphics& AGraphics, TGPColor AColor1, TGPColor AColor2, const TIGPRectF& ARect,
                           float ALineWidth) {
  if (ARect.IsEmptyArea()) return;
  TIntfPtr<IGPBrush> shade(new TIGPLinearGradientBrush(ARect, AColor1, AColor2, lgmForwardDiagonal));
  AGraphics.DrawEllipse(TIntfPtr<TIGPPen>(new TIGPPen(shade, ALineWidth)), Inset(ARect, ALineWidth / 2));
}

void RGDrawFrame3DF(IGPGraphics& AGraphics, TGPColor AColor1, TGPColor AColor2, const TIGPRectF& ARect,
                    float ALineWidth) {
  StrokeTwoTone(AGraphics, RectanglePath(Inset(ARect, ALineWidth / 2)), AColor1, AColor2, ARect, ALineWidth,
                TSplit::Diagonal);
}

void RGDrawDiamondFrame3DF(IGPGraphics& AGraphics, TGPColor AColor1, TGPColor AColor2, const TIGPRectF& ARect,
                           float ALineWidth) {
  StrokeTwoTone(AGraphics, DiamondPath(Inset(ARect, ALineWidth / 2)), AColor1, AColor2, ARect, ALineWidth,
                TSplit::Horizontal);
}

void RGDrawRoundRectangle3DF(IGPGraphics& AGraphics, TGPColor AColor1, TGPColor AColor2, const TIGPRectF& ARect,
                             const TIGPSizeF& ACornerSize, float ALineWidth) {
  StrokeTwoTone(AGraphics, RGCreateRoundRectanglePathF(Inset(ARect, ALineWidth / 2), ACornerSize), AColor1, AColor2,
                ARect, ALineWidth, TSplit::Diagonal);
}

void RGDrawRoundDiamondFrame3DF(IGPGraphics& AGraphics, TGPColor AColor1, TGPColor AColor2, const TIGPRectF& ARect,
                                const TIGPSizeF& ACornerSize, float ALineWidth) {
  StrokeTwoTone(AGraphics, RGCreateRoundDiamondPathF(Inset(ARect, ALineWidth / 2), ACornerSize), AColor1, AColor2,
                ARect, ALineWidth, TSplit::Horizontal);
}

void RGDrawLine3DF(IGPGraphics& AGraphics, TGPColor AColor1, TGPColor AColor2, float AX1, float AY1, float AX2,
                   float AY2, float AWidth, bool AReversed) {
  const float dx = AX2 - AX1, dy = AY2 - AY1, len = std::hypot(dx, dy);
  if (len <= 0) return;
  // The normal that points down (or right for a vertical line).
  float nx = -dy / len, ny = dx / len;
  if (ny < 0 || (ny == 0 && nx < 0)) {
    nx = -nx;
    ny = -ny;
  }
  const TGPColor first = AReversed ? AColor2 : AColor1, second = AReversed ? AColor1 : AColor2;
  AGraphics.DrawLine(TIntfPtr<TIGPPen>(new TIGPPen(first, AWidth)), AX1, AY1, AX2, AY2);
  const float ox = nx * AWidth, oy = ny * AWidth;
  AGraphics.DrawLine(TIntfPtr<TIGPPen>(new TIGPPen(second, AWidth)), AX1 + ox, AY1 + oy, AX2 + ox, AY2 + oy);
}

// ---------------------------------------------------------------- fills

void RGFillBulb3DF(IGPGraphics& AGraphics, TGPColor AColor, const TIGPRectF& ARect) {
  if (ARect.IsEmptyArea()) return;
  const TIntfPtr<TIGPGraphicsPath> path = EllipsePath(ARect);
  auto* brush = new TIGPPathGradientBrush(path);
  TIntfPtr<IGPBrush> hold(brush);
  brush->SetCenterPoint({ARect.X + ARect.Width * 0.35f, ARect.Y + ARect.Height * 0.35f});
  brush->SetCenterColor(RGInterpolateColorF(AColor, MakeARGBColor(GetAlpha(AColor), 0xFFFFFF), 0.6f));
  brush->SetSurroundColors({RGDimColor(AColor, 0.5f)});
  AGraphics.FillPath(hold, path);
}

void RGGlossRectangle3DF(IGPGraphics& AGraphics, TGPColor AColor, const TIGPRectF& ARect) {
  RGGlossRectangle3DF(AGraphics, AColor, RGDimColor(AColor, kGlossShade), ARect);
}
void RGGlossRectangle3DF(IGPGraphics& AGraphics, TGPColor AColor1, TGPColor AColor2, const TIGPRectF& ARect) {
  GlossPath(AGraphics, RectanglePath(ARect), AColor1, AColor2, ARect);
}
void RGGlossEllipse3DF(IGPGraphics& AGraphics, TGPColor AColor, const TIGPRectF& ARect) {
  RGGlossEllipse3DF(AGraphics, AColor, RGDimColor(AColor, kGlossShade), ARect);
}
void RGGlossEllipse3DF(IGPGraphics& AGraphics, TGPColor AColor1, TGPColor AColor2, const TIGPRectF& ARect) {
  GlossPath(AGraphics, EllipsePath(ARect), AColor1, AColor2, ARect);
}
void RGGlossRoundRectangle3DF(IGPGraphics& AGraphics, TGPColor AColor, const TIGPRectF& ARect,
                              const TIGPSizeF& ACornerSize) {
  RGGlossRoundRectangle3DF(AGraphics, AColor, RGDimColor(AColor, kGlossShade), ARect, ACornerSize);
}
void RGGlossRoundRectangle3DF(IGPGraphics& AGraphics, TGPColor AColor1, TGPColor AColor2, const TIGPRectF& ARect,
                              const TIGPSizeF& ACornerSize) {
  GlossPath(AGraphics, RGCreateRoundRectanglePathF(ARect, ACornerSize), AColor1, AColor2, ARect);
}
void RGGlossDiamond3DF(IGPGraphics& AGraphics, TGPColor AColor1, TGPColor AColor2, const TIGPRectF& ARect) {
  GlossPath(AGraphics, DiamondPath(ARect), AColor1, AColor2, ARect);
}
void RGGlossRoundDiamond3DF(IGPGraphics& AGraphics, TGPColor AColor1, TGPColor AColor2, const TIGPRectF& ARect,
                            const TIGPSizeF& ACornerSize) {
  GlossPath(AGraphics, RGCreateRoundDiamondPathF(ARect, ACornerSize), AColor1, AColor2, ARect);
}

void RGDrawRoundDiamondF(IGPGraphics& AGraphics, const TIntfPtr<TIGPPen>& APen, const TIGPRectF& ARect,
                         const TIGPSizeF& ACornerSize) {
  AGraphics.DrawPath(APen, RGCreateRoundDiamondPathF(ARect, ACornerSize));
}
void RGDrawRoundDiamondF(IGPGraphics& AGraphics, const TIntfPtr<TIGPPen>& APen, const TIntfPtr<IGPBrush>& ABrush,
                         const TIGPRectF& ARect, const TIGPSizeF& ACornerSize) {
  const TIntfPtr<TIGPGraphicsPath> path = RGCreateRoundDiamondPathF(ARect, ACornerSize);
  if (ABrush) AGraphics.FillPath(ABrush, path);
  if (APen) AGraphics.DrawPath(APen, path);
}
void RGFillRoundDiamondF(IGPGraphics& AGraphics, const TIntfPtr<IGPBrush>& ABrush, const TIGPRectF& ARect,
                         const TIGPSizeF& ACornerSize) {
  AGraphics.FillPath(ABrush, RGCreateRoundDiamondPathF(ARect, ACornerSize));
}

}  // namespace nx
