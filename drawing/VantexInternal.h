// VantexInternal: helpers shared by the sources of the graphics layer (not
// installed for clients): colour conversion to Cairo, arcs as Béziers, text
// layout, and the raising of errors from Cairo statuses.
#pragma once

#include <cairo.h>

#include <string>
#include <string_view>
#include <vector>

#include "drawing/Vantex.h"

namespace nx::vantex {

[[noreturn]] void Raise(const std::string& AMessage);
// Raises EVantexError with AWhat and Cairo's text when AStatus is an error.
void Check(cairo_status_t AStatus, const char* AWhat);

inline void SetSourceColor(cairo_t* cr, TGPColor c) {
  cairo_set_source_rgba(cr, GetRed(c) / 255.0, GetGreen(c) / 255.0, GetBlue(c) / 255.0, GetAlpha(c) / 255.0);
}
inline void AddColorStop(cairo_pattern_t* p, double AOffset, TGPColor c) {
  cairo_pattern_add_color_stop_rgba(p, AOffset, GetRed(c) / 255.0, GetGreen(c) / 255.0, GetBlue(c) / 255.0,
                                    GetAlpha(c) / 255.0);
}
// Straight ARGB <-> Cairo's premultiplied ARGB32 pixel (rounded to nearest).
inline std::uint32_t Premultiply(TGPColor c) {
  const std::uint32_t a = GetAlpha(c);
  if (a == 255) return c;
  if (a == 0) return 0;
  auto m = [a](std::uint32_t v) { return (v * a + 127) / 255; };
  return (a << 24) | (m(GetRed(c)) << 16) | (m(GetGreen(c)) << 8) | m(GetBlue(c));
}
inline TGPColor Unpremultiply(std::uint32_t p) {
  const std::uint32_t a = p >> 24;
  if (a == 255) return p;
  if (a == 0) return 0;
  auto u = [a](std::uint32_t v) { return std::min<std::uint32_t>(255, (v * 255 + a / 2) / a); };
  return (a << 24) | (u((p >> 16) & 255) << 16) | (u((p >> 8) & 255) << 8) | u(p & 255);
}
// Channel-wise blend of two straight colours: a + (b - a) * t.
TGPColor LerpColor(TGPColor a, TGPColor b, double t);

// Points of an ellipse arc as a start point and Bézier triples (at most 90
// degrees each); angles as in TIGPGraphicsPath::AddArc.
std::vector<TIGPPointF> ArcBeziers(const TIGPRectF& ARect, float AStartAngle, float ASweepAngle);
// A cardinal spline through the points as a start point and Bézier triples.
std::vector<TIGPPointF> CurveBeziers(const std::vector<TIGPPointF>& APoints, float ATension, bool AClosed);

// One laid-out line of text: its bytes and where its baseline starts.
struct TTextLine {
  std::string Text;
  double X, Baseline, Width;
};
struct TTextLayout {
  std::vector<TTextLine> Lines;
  TIGPRectF Bounds;  // the rectangle of all lines (line height by line height)
  double Ascent, Descent, LineHeight;
};
// Lays out text with the font already selected into cr (see TIGPFont::Select).
TTextLayout LayoutText(cairo_t* cr, std::string_view AText, const TIGPRectF& ALayout, const TIGPStringFormat& AFormat);
// A scratch context for measuring (one per thread).
cairo_t* ScratchContext();
// The font face for a family name and style, through the locked cache.
cairo_font_face_t* CachedFontFace(const std::string& AFamily, TIGPFontStyle AStyle);

}  // namespace nx::vantex
