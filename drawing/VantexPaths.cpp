// Vantex paths and text: graphics paths (figures of lines and Béziers, arcs,
// cardinal splines, shapes and glyph outlines), font families and fonts
// found through fontconfig, and the layout of text lines in a rectangle.
#include <cairo-ft.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <strings.h>

#include "drawing/Vantex.h"
#include "drawing/VantexInternal.h"

namespace nx {

using namespace vantex;

// ---------------------------------------------------------------- curve helpers

namespace vantex {

std::vector<TIGPPointF> ArcBeziers(const TIGPRectF& ARect, float AStartAngle, float ASweepAngle) {
  const double rx = ARect.Width / 2.0, ry = ARect.Height / 2.0;
  const double cx = ARect.X + rx, cy = ARect.Y + ry;
  const double sweep = std::clamp<double>(ASweepAngle, -360, 360) * M_PI / 180.0;
  const double a0 = AStartAngle * M_PI / 180.0;
  // Angles are measured to the point on the ellipse; Béziers need the
  // parameter of that point (they differ unless the ellipse is a circle).
  auto param = [&](double a) { return std::atan2(rx * std::sin(a), ry * std::cos(a)); };
  const double t0 = param(a0);
  double t1;
  if (std::fabs(sweep) >= 2 * M_PI - 1e-9) {
    t1 = t0 + (sweep > 0 ? 2 * M_PI : -2 * M_PI);
  } else {
    t1 = param(a0 + sweep);
    // Unwrap so that the parameter turns the same way and about as far as the angle.
    t1 += 2 * M_PI * std::round((t0 + sweep - t1) / (2 * M_PI));
  }
  const int n = std::max(1, int(std::ceil(std::fabs(t1 - t0) / (M_PI / 2) - 1e-9)));
  const double step = (t1 - t0) / n;
  const double k = 4.0 / 3.0 * std::tan(step / 4);
  auto pt = [&](double t, double dx, double dy) {
    return TIGPPointF{float(cx + rx * (std::cos(t) + dx)), float(cy + ry * (std::sin(t) + dy))};
  };
  std::vector<TIGPPointF> out{pt(t0, 0, 0)};
  for (int i = 0; i < n; ++i) {
    const double a = t0 + i * step, b = a + step;
    out.push_back(pt(a, -k * std::sin(a), k * std::cos(a)));
    out.push_back(pt(b, k * std::sin(b), -k * std::cos(b)));
    out.push_back(pt(b, 0, 0));
  }
  return out;
}

std::vector<TIGPPointF> CurveBeziers(const std::vector<TIGPPointF>& P, float ATension, bool AClosed) {
  const std::size_t n = P.size();
  std::vector<TIGPPointF> out;
  if (n < 2) return out;
  const float f = ATension / 3.0f;
  auto at = [&](long i) -> TIGPPointF {
    if (AClosed) return P[((i % long(n)) + n) % n];
    return P[std::clamp<long>(i, 0, long(n) - 1)];
  };
  out.push_back(P[0]);
  const long segments = AClosed ? long(n) : long(n) - 1;
  for (long i = 0; i < segments; ++i) {
    const TIGPPointF p0 = at(i - 1), p1 = at(i), p2 = at(i + 1), p3 = at(i + 2);
    out.push_back({p1.X + f * (p2.X - p0.X), p1.Y + f * (p2.Y - p0.Y)});
    out.push_back({p2.X - f * (p3.X - p1.X), p2.Y - f * (p3.Y - p1.Y)});
    out.push_back(p2);
  }
  return out;
}

cairo_t* ScratchContext() {
  // One per thread, kept for the thread's life. Its surface is unbounded:
  // Cairo leaves out glyphs that fall outside a bounded surface, even from
  // text paths.
  struct TScratch {
    cairo_surface_t* Surface = cairo_recording_surface_create(CAIRO_CONTENT_ALPHA, nullptr);
    cairo_t* Cr = cairo_create(Surface);
    ~TScratch() {
      cairo_destroy(Cr);
      cairo_surface_destroy(Surface);
    }
  };
  thread_local TScratch scratch;
  cairo_identity_matrix(scratch.Cr);
  cairo_new_path(scratch.Cr);
  return scratch.Cr;
}

}  // namespace vantex

// ---------------------------------------------------------------- graphics path

TIntfPtr<TIGPGraphicsPath> TIGPGraphicsPath::Clone() const {
  TIntfPtr<TIGPGraphicsPath> p(new TIGPGraphicsPath(FFillMode));
  p->FSegments = FSegments;
  p->FOpen = FOpen;
  return p;
}

void TIGPGraphicsPath::EnsureFigure(TIGPPointF p) {
  if (!FOpen) {
    FSegments.push_back({skMove, {p}});
    FOpen = true;
  } else if (GetLastPoint() != p) {
    FSegments.push_back({skLine, {p}});
  }
}

void TIGPGraphicsPath::LineTo(TIGPPointF p) { FSegments.push_back({skLine, {p}}); }

void TIGPGraphicsPath::CloseFigure() {
  if (FOpen) FSegments.push_back({skClose, {}});
  FOpen = false;
}

void TIGPGraphicsPath::CloseAllFigures() {
  std::vector<TSegment> out;
  bool open = false;
  for (const TSegment& s : FSegments) {
    if (s.Kind == skMove && open) out.push_back({skClose, {}});
    if (s.Kind == skMove) open = true;
    if (s.Kind == skClose) open = false;
    out.push_back(s);
  }
  if (open) out.push_back({skClose, {}});
  FSegments = std::move(out);
  FOpen = false;
}

void TIGPGraphicsPath::AddLine(float x1, float y1, float x2, float y2) {
  EnsureFigure({x1, y1});
  LineTo({x2, y2});
}

void TIGPGraphicsPath::AddLines(const std::vector<TIGPPointF>& APoints) {
  if (APoints.empty()) return;
  EnsureFigure(APoints[0]);
  for (std::size_t i = 1; i < APoints.size(); ++i) LineTo(APoints[i]);
}

void TIGPGraphicsPath::AddBezier(TIGPPointF p1, TIGPPointF c1, TIGPPointF c2, TIGPPointF p2) {
  EnsureFigure(p1);
  FSegments.push_back({skBezier, {c1, c2, p2}});
}

void TIGPGraphicsPath::AddBeziers(const std::vector<TIGPPointF>& APoints) {
  if (APoints.size() < 4 || (APoints.size() - 1) % 3) Raise("Béziers need 1 + 3n points");
  EnsureFigure(APoints[0]);
  for (std::size_t i = 1; i + 2 < APoints.size(); i += 3)
    FSegments.push_back({skBezier, {APoints[i], APoints[i + 1], APoints[i + 2]}});
}

void TIGPGraphicsPath::AddCurve(const std::vector<TIGPPointF>& APoints, float ATension) {
  if (APoints.size() < 2) return;
  AddBeziers(CurveBeziers(APoints, ATension, false));
}

void TIGPGraphicsPath::AddClosedCurve(const std::vector<TIGPPointF>& APoints, float ATension) {
  if (APoints.size() < 3) Raise("A closed curve needs at least three points");
  StartFigure();
  AddBeziers(CurveBeziers(APoints, ATension, true));
  CloseFigure();
}

void TIGPGraphicsPath::AddArc(const TIGPRectF& ARect, float AStartAngle, float ASweepAngle) {
  AddBeziers(ArcBeziers(ARect, AStartAngle, ASweepAngle));
}

void TIGPGraphicsPath::AddRectangle(const TIGPRectF& r) {
  StartFigure();
  FSegments.push_back({skMove, {{r.X, r.Y}}});
  LineTo({r.Right(), r.Y});
  LineTo({r.Right(), r.Bottom()});
  LineTo({r.X, r.Bottom()});
  FSegments.push_back({skClose, {}});
}

void TIGPGraphicsPath::AddRectangles(const std::vector<TIGPRectF>& ARects) {
  for (const TIGPRectF& r : ARects) AddRectangle(r);
}

void TIGPGraphicsPath::AddEllipse(const TIGPRectF& ARect) {
  StartFigure();
  AddBeziers(ArcBeziers(ARect, 0, 360));
  CloseFigure();
}

void TIGPGraphicsPath::AddPie(const TIGPRectF& ARect, float AStartAngle, float ASweepAngle) {
  StartFigure();
  const std::vector<TIGPPointF> arc = ArcBeziers(ARect, AStartAngle, ASweepAngle);
  FSegments.push_back({skMove, {{ARect.X + ARect.Width / 2, ARect.Y + ARect.Height / 2}}});
  FOpen = true;
  LineTo(arc[0]);
  for (std::size_t i = 1; i + 2 < arc.size(); i += 3) FSegments.push_back({skBezier, {arc[i], arc[i + 1], arc[i + 2]}});
  CloseFigure();
}

void TIGPGraphicsPath::AddPolygon(const std::vector<TIGPPointF>& APoints) {
  if (APoints.size() < 2) return;
  StartFigure();
  AddLines(APoints);
  CloseFigure();
}

void TIGPGraphicsPath::AddPath(const TIGPGraphicsPath& APath, bool AConnect) {
  std::vector<TSegment> add = APath.FSegments;  // a copy: APath may be this path
  if (add.empty()) return;
  if (AConnect && FOpen && add[0].Kind == skMove) add[0].Kind = skLine;
  FSegments.insert(FSegments.end(), add.begin(), add.end());
  FOpen = APath.FOpen;
}

void TIGPGraphicsPath::AppendCairoPath(const cairo_path_t* APath) {
  for (int i = 0; i < APath->num_data; i += APath->data[i].header.length) {
    const cairo_path_data_t* d = &APath->data[i];
    auto pt = [d](int k) { return TIGPPointF{float(d[k].point.x), float(d[k].point.y)}; };
    switch (d->header.type) {
      case CAIRO_PATH_MOVE_TO: {
        // Cairo repeats a move after every close; a move with nothing drawn
        // from it is dropped.
        const int next = i + d->header.length;
        if (next >= APath->num_data || APath->data[next].header.type == CAIRO_PATH_MOVE_TO) break;
        FSegments.push_back({skMove, {pt(1)}});
        FOpen = true;
        break;
      }
      case CAIRO_PATH_LINE_TO: FSegments.push_back({skLine, {pt(1)}}); break;
      case CAIRO_PATH_CURVE_TO: FSegments.push_back({skBezier, {pt(1), pt(2), pt(3)}}); break;
      case CAIRO_PATH_CLOSE_PATH:
        FSegments.push_back({skClose, {}});
        FOpen = false;
        break;
    }
  }
}

void TIGPGraphicsPath::AppendTo(cairo_t* cr) const {
  for (const TSegment& s : FSegments) switch (s.Kind) {
      case skMove: cairo_move_to(cr, s.P[0].X, s.P[0].Y); break;
      case skLine: cairo_line_to(cr, s.P[0].X, s.P[0].Y); break;
      case skBezier: cairo_curve_to(cr, s.P[0].X, s.P[0].Y, s.P[1].X, s.P[1].Y, s.P[2].X, s.P[2].Y); break;
      case skClose: cairo_close_path(cr); break;
    }
}

void TIGPGraphicsPath::Transform(const TIGPMatrix& AMatrix) {
  for (TSegment& s : FSegments)
    for (TIGPPointF& p : s.P) p = AMatrix.TransformPoint(p);
}

void TIGPGraphicsPath::Flatten(float AFlatness) {
  cairo_t* cr = ScratchContext();
  cairo_set_tolerance(cr, std::max(0.01f, AFlatness));
  AppendTo(cr);
  cairo_path_t* flat = cairo_copy_path_flat(cr);
  cairo_new_path(cr);
  const bool open = FOpen;
  FSegments.clear();
  AppendCairoPath(flat);
  cairo_path_destroy(flat);
  FOpen = open;
}

std::vector<TIGPPointF> TIGPGraphicsPath::GetPathPoints() const {
  std::vector<TIGPPointF> pts;
  for (const TSegment& s : FSegments) {
    if (s.Kind == skBezier) pts.insert(pts.end(), s.P, s.P + 3);
    else if (s.Kind != skClose) pts.push_back(s.P[0]);
  }
  return pts;
}

TIGPPointF TIGPGraphicsPath::GetLastPoint() const {
  for (auto it = FSegments.rbegin(); it != FSegments.rend(); ++it) {
    if (it->Kind == skBezier) return it->P[2];
    if (it->Kind != skClose) return it->P[0];
  }
  return {};
}

TIGPRectF TIGPGraphicsPath::GetBounds(const TIntfPtr<TIGPPen>& APen) const {
  const std::vector<TIGPPointF> pts = GetPathPoints();
  if (pts.empty()) return {};
  float l = pts[0].X, t = pts[0].Y, r = l, b = t;
  for (const TIGPPointF& p : pts) l = std::min(l, p.X), t = std::min(t, p.Y), r = std::max(r, p.X), b = std::max(b, p.Y);
  TIGPRectF box(l, t, r - l, b - t);
  if (APen) box.Inflate(APen->GetWidth() / 2, APen->GetWidth() / 2);
  return box;
}

bool TIGPGraphicsPath::IsVisible(float x, float y) const {
  cairo_t* cr = ScratchContext();
  cairo_set_fill_rule(cr, FFillMode == fmWinding ? CAIRO_FILL_RULE_WINDING : CAIRO_FILL_RULE_EVEN_ODD);
  AppendTo(cr);
  const bool inside = cairo_in_fill(cr, x, y);
  cairo_new_path(cr);
  return inside;
}

// ---------------------------------------------------------------- fonts

namespace {

std::mutex GFontLock;

bool IsGeneric(const std::string& AName) {
  for (const char* g : {"sans", "sans-serif", "serif", "monospace"})
    if (strcasecmp(AName.c_str(), g) == 0) return true;
  return false;
}

FcPattern* MatchFont(const std::string& AFamily, TIGPFontStyle AStyle) {
  FcPattern* pat = FcPatternCreate();
  FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(AFamily.c_str()));
  FcPatternAddInteger(pat, FC_WEIGHT, (AStyle & fsBold) ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pat, FC_SLANT, (AStyle & fsItalic) ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcConfigSubstitute(nullptr, pat, FcMatchPattern);
  FcDefaultSubstitute(pat);
  FcResult result;
  FcPattern* match = FcFontMatch(nullptr, pat, &result);
  FcPatternDestroy(pat);
  return match;
}

std::vector<std::string> FamilyNames(FcPattern* AMatch) {
  std::vector<std::string> names;
  FcChar8* s = nullptr;
  for (int i = 0; AMatch && FcPatternGetString(AMatch, FC_FAMILY, i, &s) == FcResultMatch; ++i)
    names.emplace_back(reinterpret_cast<const char*>(s));
  return names;
}

}  // namespace

cairo_font_face_t* vantex::CachedFontFace(const std::string& AFamily, TIGPFontStyle AStyle) {
  const int style = AStyle & (fsBold | fsItalic);
  std::lock_guard<std::mutex> lock(GFontLock);
  // Faces are made once per family and style and kept for the process's
  // life: making one reads the font file.
  static std::map<std::pair<std::string, int>, cairo_font_face_t*> cache;
  auto& face = cache[{AFamily, style}];
  if (!face) {
    FcPattern* match = MatchFont(AFamily, TIGPFontStyle(style));
    if (match) {
      face = cairo_ft_font_face_create_for_pattern(match);
      FcPatternDestroy(match);
    } else {
      face = cairo_toy_font_face_create("sans-serif", (style & fsItalic) ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                                        (style & fsBold) ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    }
  }
  return face;
}

TIGPFontFamily::TIGPFontFamily(std::string_view AName) : FRequested(AName) {
  std::lock_guard<std::mutex> lock(GFontLock);
  FcPattern* match = MatchFont(FRequested, 0);
  std::vector<std::string> names = FamilyNames(match);
  if (match) FcPatternDestroy(match);
  for (const std::string& n : names)
    if (strcasecmp(n.c_str(), FRequested.c_str()) == 0) {
      FAvailable = true;
      FName = n;
    }
  if (!FAvailable && IsGeneric(FRequested) && !names.empty()) {
    FAvailable = true;
    FName = names[0];
  }
  if (!FAvailable) {
    // A family that is not installed falls back to the sans-serif family.
    match = MatchFont("sans-serif", 0);
    names = FamilyNames(match);
    if (match) FcPatternDestroy(match);
    FName = names.empty() ? "sans-serif" : names[0];
  }
}

TIntfPtr<TIGPFontFamily> TIGPFontFamily::GenericSansSerif() { return TIntfPtr<TIGPFontFamily>(new TIGPFontFamily("sans-serif")); }
TIntfPtr<TIGPFontFamily> TIGPFontFamily::GenericSerif() { return TIntfPtr<TIGPFontFamily>(new TIGPFontFamily("serif")); }
TIntfPtr<TIGPFontFamily> TIGPFontFamily::GenericMonospace() { return TIntfPtr<TIGPFontFamily>(new TIGPFontFamily("monospace")); }

bool TIGPFontFamily::IsStyleAvailable(TIGPFontStyle AStyle) const {
  std::lock_guard<std::mutex> lock(GFontLock);
  FcPattern* match = MatchFont(FName, AStyle);
  if (!match) return false;
  int weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
  FcPatternGetInteger(match, FC_WEIGHT, 0, &weight);
  FcPatternGetInteger(match, FC_SLANT, 0, &slant);
  FcPatternDestroy(match);
  // Cairo emboldens and slants a face that lacks the style, but only a real face counts here.
  return (!(AStyle & fsBold) || weight >= FC_WEIGHT_DEMIBOLD) && (!(AStyle & fsItalic) || slant != FC_SLANT_ROMAN);
}

cairo_font_face_t* TIGPFontFamily::FontFace(TIGPFontStyle AStyle) const { return CachedFontFace(FName, AStyle); }

TIGPFont::TIGPFont(const TIntfPtr<TIGPFontFamily>& AFamily, float ASize, TIGPFontStyle AStyle, TIGPUnit AUnit)
    : FFamily(AFamily), FSize(ASize), FStyle(AStyle), FUnit(AUnit) {
  if (!AFamily) Raise("A font needs a family");
  if (!(ASize > 0)) Raise("A font size must be positive");
}

TIGPFont::TIGPFont(std::string_view AFamilyName, float ASize, TIGPFontStyle AStyle, TIGPUnit AUnit)
    : TIGPFont(TIntfPtr<TIGPFontFamily>(new TIGPFontFamily(AFamilyName)), ASize, AStyle, AUnit) {}

void TIGPFont::Select(cairo_t* cr) const {
  cairo_set_font_face(cr, FFamily->FontFace(FStyle));
  cairo_set_font_size(cr, GetSizeInPixels());
  // Unhinted metrics: text measures the same at every scale and position.
  cairo_font_options_t* o = cairo_font_options_create();
  cairo_font_options_set_hint_metrics(o, CAIRO_HINT_METRICS_OFF);
  cairo_font_options_set_hint_style(o, CAIRO_HINT_STYLE_NONE);
  cairo_set_font_options(cr, o);
  cairo_font_options_destroy(o);
}

namespace {
cairo_font_extents_t Extents(const TIGPFont& AFont) {
  cairo_t* cr = ScratchContext();
  AFont.Select(cr);
  cairo_font_extents_t fe;
  cairo_font_extents(cr, &fe);
  return fe;
}
}  // namespace

float TIGPFont::GetHeight() const { return float(Extents(*this).height); }
float TIGPFont::GetAscent() const { return float(Extents(*this).ascent); }
float TIGPFont::GetDescent() const { return float(Extents(*this).descent); }

// ---------------------------------------------------------------- text layout

namespace {

// Valid UTF-8 for Cairo: an invalid sequence would put the context into an
// error state for good, so each bad byte becomes U+FFFD.
std::string ValidUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = s[i];
    int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    bool ok = len > 0 && i + len <= s.size();
    for (int k = 1; ok && k < len; ++k) ok = (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
    if (ok && len > 1) {
      std::uint32_t cp = c & (0x7F >> len);
      for (int k = 1; k < len; ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
      // No overlong forms, surrogates or values past U+10FFFF.
      static constexpr std::uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
      ok = cp >= kMin[len] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
    }
    if (c == 0) ok = false;
    if (ok) {
      out.append(s.substr(i, len));
      i += len;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

double Advance(cairo_t* cr, const std::string& s) {
  if (s.empty()) return 0;
  cairo_text_extents_t te;
  cairo_text_extents(cr, s.c_str(), &te);
  return te.x_advance;
}

}  // namespace

TTextLayout vantex::LayoutText(cairo_t* cr, std::string_view AText, const TIGPRectF& ALayout,
                               const TIGPStringFormat& AFormat) {
  TTextLayout L;
  cairo_font_extents_t fe;
  cairo_font_extents(cr, &fe);
  L.Ascent = fe.ascent;
  L.Descent = fe.descent;
  L.LineHeight = fe.height;
  const std::string text = ValidUtf8(AText);
  const bool wrap = ALayout.Width > 0 && !AFormat.NoWrap;
  std::size_t start = 0;
  while (start <= text.size() && !text.empty()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string para = text.substr(start, end - start);
    if (!para.empty() && para.back() == '\r') para.pop_back();
    if (!wrap) {
      L.Lines.push_back({para, 0, 0, Advance(cr, para)});
    } else {
      // Greedy word wrap: a line takes words while they fit; a word wider
      // than the rectangle stands on a line of its own.
      std::string line;
      std::size_t p = 0;
      bool any = false;
      while (p <= para.size()) {
        std::size_t q = para.find(' ', p);
        if (q == std::string::npos) q = para.size();
        const std::string word = para.substr(p, q - p);
        const std::string candidate = line.empty() && !any ? word : line + " " + word;
        if (any && Advance(cr, candidate) > ALayout.Width) {
          L.Lines.push_back({line, 0, 0, Advance(cr, line)});
          line = word;
        } else {
          line = candidate;
        }
        any = true;
        p = q + 1;
      }
      L.Lines.push_back({line, 0, 0, Advance(cr, line)});
    }
    start = end + 1;
  }
  const double total = L.Lines.size() * L.LineHeight;
  auto place = [](TIGPStringAlignment a, double origin, double room, double size) {
    if (room > 0) return a == saNear ? origin : a == saCenter ? origin + (room - size) / 2 : origin + room - size;
    return a == saNear ? origin : a == saCenter ? origin - size / 2 : origin - size;
  };
  const double top = place(AFormat.LineAlignment, ALayout.Y, ALayout.Height, total);
  double left = 1e300, right = -1e300;
  for (std::size_t i = 0; i < L.Lines.size(); ++i) {
    TTextLine& line = L.Lines[i];
    line.X = place(AFormat.Alignment, ALayout.X, ALayout.Width, line.Width);
    line.Baseline = top + i * L.LineHeight + L.Ascent;
    left = std::min(left, line.X);
    right = std::max(right, line.X + line.Width);
  }
  if (L.Lines.empty())
    L.Bounds = TIGPRectF(ALayout.X, ALayout.Y, 0, 0);
  else
    L.Bounds = TIGPRectF(float(left), float(top), float(right - left), float(total));
  return L;
}

void TIGPGraphicsPath::AddString(std::string_view AText, const TIntfPtr<TIGPFontFamily>& AFamily,
                                 TIGPFontStyle AStyle, float AEmSize, const TIGPRectF& ALayout,
                                 const TIGPStringFormat& AFormat) {
  const TIGPFont font(AFamily, AEmSize, AStyle, guPixel);
  cairo_t* cr = ScratchContext();
  font.Select(cr);
  const TTextLayout L = LayoutText(cr, AText, ALayout, AFormat);
  for (const TTextLine& line : L.Lines) {
    cairo_move_to(cr, line.X, line.Baseline);
    cairo_text_path(cr, line.Text.c_str());
    const double size = font.GetSizeInPixels(), thick = std::max(1.0, size / 14);
    if (AStyle & fsUnderline) cairo_rectangle(cr, line.X, line.Baseline + size * 0.1, line.Width, thick);
    if (AStyle & fsStrikeout) cairo_rectangle(cr, line.X, line.Baseline - L.Ascent * 0.3 - thick / 2, line.Width, thick);
  }
  cairo_path_t* path = cairo_copy_path(cr);
  cairo_new_path(cr);
  StartFigure();
  AppendCairoPath(path);
  cairo_path_destroy(path);
  FOpen = false;
}

void TIGPGraphicsPath::AddString(std::string_view AText, const TIntfPtr<TIGPFontFamily>& AFamily,
                                 TIGPFontStyle AStyle, float AEmSize, TIGPPointF AOrigin,
                                 const TIGPStringFormat& AFormat) {
  AddString(AText, AFamily, AStyle, AEmSize, TIGPRectF(AOrigin.X, AOrigin.Y, 0, 0), AFormat);
}

}  // namespace nx
