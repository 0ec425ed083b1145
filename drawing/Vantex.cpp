// Vantex graphics: the drawing object over a Cairo surface. Shapes become
// Cairo paths filled with a brush's pattern or stroked with a pen; pens
// that Cairo cannot stroke directly (compound lines, differing or anchor
// caps, inset alignment) are drawn into an alpha group that then masks the
// pen's brush once, so overlapping parts do not blend twice. Thin solid
// polylines, the bulk of what displays draw, skip Cairo's stroker and are
// rasterised straight into a coverage mask.
#include <algorithm>
#include <cmath>

#include "drawing/Vantex.h"
#include "drawing/VantexInternal.h"

namespace nx {

using namespace vantex;

namespace {

struct TPt {
  double X, Y;
};

// The figures of a Cairo path flattened to polylines.
struct TFigure {
  std::vector<TPt> Points;
  bool Closed = false;
};

std::vector<TFigure> Figures(cairo_t* cr) {
  std::vector<TFigure> out;
  cairo_path_t* path = cairo_copy_path_flat(cr);
  for (int i = 0; i < path->num_data; i += path->data[i].header.length) {
    const cairo_path_data_t* d = &path->data[i];
    switch (d->header.type) {
      case CAIRO_PATH_MOVE_TO: out.push_back({{{d[1].point.x, d[1].point.y}}, false}); break;
      case CAIRO_PATH_LINE_TO: {
        if (out.empty()) out.push_back({});
        const TPt p{d[1].point.x, d[1].point.y};
        auto& pts = out.back().Points;
        if (pts.empty() || std::hypot(pts.back().X - p.X, pts.back().Y - p.Y) > 1e-9) pts.push_back(p);
        break;
      }
      case CAIRO_PATH_CLOSE_PATH:
        if (!out.empty()) out.back().Closed = true;
        break;
      default: break;
    }
  }
  cairo_path_destroy(path);
  // A figure needs two points to have a direction; a closed one repeats no start point.
  std::vector<TFigure> kept;
  for (TFigure& f : out) {
    if (f.Closed && f.Points.size() > 2 && std::hypot(f.Points.front().X - f.Points.back().X,
                                                      f.Points.front().Y - f.Points.back().Y) < 1e-9)
      f.Points.pop_back();
    if (f.Points.size() >= 2) kept.push_back(std::move(f));
  }
  return kept;
}

// The polyline at distance AOffset to the left of a figure (mitred
// corners, the miter capped at AMiterLimit times the offset).
std::vector<TPt> OffsetFigure(const TFigure& f, double AOffset, double AMiterLimit) {
  const std::vector<TPt>& p = f.Points;
  const std::size_t n = p.size();
  auto normal = [&](std::size_t a, std::size_t b) {
    const double dx = p[b].X - p[a].X, dy = p[b].Y - p[a].Y, len = std::hypot(dx, dy);
    return TPt{-dy / len, dx / len};
  };
  std::vector<TPt> out(n);
  for (std::size_t i = 0; i < n; ++i) {
    const bool hasPrev = f.Closed || i > 0, hasNext = f.Closed || i + 1 < n;
    const TPt np = hasPrev ? normal((i + n - 1) % n, i) : normal(i, (i + 1) % n);
    const TPt nn = hasNext ? normal(i, (i + 1) % n) : np;
    TPt m{np.X + nn.X, np.Y + nn.Y};
    const double len = std::hypot(m.X, m.Y);
    if (len < 1e-9) {
      m = nn;
    } else {
      m = {m.X / len, m.Y / len};
      const double c = m.X * nn.X + m.Y * nn.Y;  // cos of half the turn
      const double scale = std::min(1.0 / std::max(c, 1e-9), std::max(1.0, AMiterLimit));
      m = {m.X * scale, m.Y * scale};
    }
    out[i] = {p[i].X + m.X * AOffset, p[i].Y + m.Y * AOffset};
  }
  return out;
}

// A cap shape at AEnd, the line running from AEnd in direction (ux, uy).
void AddCap(cairo_t* cr, TIGPLineCap ACap, TPt AEnd, double ux, double uy, double AWidth) {
  const double h = AWidth / 2, nx_ = -uy, ny = ux;
  const double A = std::max(4.0, 2.5 * AWidth), ah = A / 2;  // anchors stand out from the line
  auto P = [&](double along, double across) {
    return TPt{AEnd.X + ux * along + nx_ * across, AEnd.Y + uy * along + ny * across};
  };
  auto poly = [&](std::initializer_list<TPt> pts) {
    bool first = true;
    for (const TPt& p : pts) {
      if (first) cairo_move_to(cr, p.X, p.Y);
      else cairo_line_to(cr, p.X, p.Y);
      first = false;
    }
    cairo_close_path(cr);
  };
  switch (ACap) {
    case lcSquare: poly({P(0, h), P(-h, h), P(-h, -h), P(0, -h)}); break;
    case lcRound:
      cairo_new_sub_path(cr);
      cairo_arc(cr, AEnd.X, AEnd.Y, h, 0, 2 * M_PI);
      cairo_close_path(cr);
      break;
    case lcTriangle: poly({P(0, h), P(-h, 0), P(0, -h)}); break;
    case lcSquareAnchor: poly({P(ah, ah), P(-ah, ah), P(-ah, -ah), P(ah, -ah)}); break;
    case lcRoundAnchor:
      cairo_new_sub_path(cr);
      cairo_arc(cr, AEnd.X, AEnd.Y, ah, 0, 2 * M_PI);
      cairo_close_path(cr);
      break;
    case lcDiamondAnchor: poly({P(ah, 0), P(0, ah), P(-ah, 0), P(0, -ah)}); break;
    case lcArrowAnchor: poly({P(0, 0), P(A, ah), P(A, -ah)}); break;
    default: break;
  }
}

bool CairoCap(TIGPLineCap c, cairo_line_cap_t& out) {
  switch (c) {
    case lcFlat:
    case lcNoAnchor: out = CAIRO_LINE_CAP_BUTT; return true;
    case lcSquare: out = CAIRO_LINE_CAP_SQUARE; return true;
    case lcRound: out = CAIRO_LINE_CAP_ROUND; return true;
    default: return false;
  }
}

// Applies a transform operation before (prepend) or after (append) the context's matrix.
void ApplyTransform(cairo_t* cr, const cairo_matrix_t& op, TIGPMatrixOrder AOrder) {
  cairo_matrix_t m, r;
  cairo_get_matrix(cr, &m);
  if (AOrder == moPrepend)
    cairo_matrix_multiply(&r, &op, &m);
  else
    cairo_matrix_multiply(&r, &m, &op);
  cairo_matrix_t check = r;
  // A singular matrix would put the context into an error state for good.
  if (cairo_matrix_invert(&check) != CAIRO_STATUS_SUCCESS) Raise("The transform is not invertible");
  cairo_set_matrix(cr, &r);
}

}  // namespace

// ---------------------------------------------------------------- life

TIGPGraphics::TIGPGraphics(const TIntfPtr<IGPImage>& AImage) : FImage(AImage) {
  if (!AImage) Raise("A graphics needs an image");
  Init(AImage->Surface());
}

TIGPGraphics::TIGPGraphics(cairo_surface_t* ASurface) {
  if (!ASurface) Raise("A graphics needs a surface");
  Init(ASurface);
}

void TIGPGraphics::Init(cairo_surface_t* ASurface) {
  Check(cairo_surface_status(ASurface), "Cannot draw on the surface");
  FSurface = cairo_surface_reference(ASurface);
  FCr = cairo_create(FSurface);
  if (cairo_status(FCr) != CAIRO_STATUS_SUCCESS) {
    const cairo_status_t st = cairo_status(FCr);
    cairo_destroy(FCr);
    cairo_surface_destroy(FSurface);
    FCr = nullptr;
    FSurface = nullptr;
    Check(st, "Cannot draw on the surface");
  }
  SetSmoothingMode(smAntiAlias);
}

TIGPGraphics::~TIGPGraphics() {
  if (FCr) cairo_destroy(FCr);
  if (FSurface) {
    cairo_surface_flush(FSurface);
    cairo_surface_destroy(FSurface);
  }
}

TIntfPtr<IGPGraphics> TIGPGraphics::FromImage(const TIntfPtr<IGPImage>& AImage) {
  return TIntfPtr<IGPGraphics>(new TIGPGraphics(AImage));
}

void TIGPGraphics::Flush() { cairo_surface_flush(FSurface); }

void TIGPGraphics::Clear(TGPColor AColor) {
  cairo_save(FCr);
  cairo_set_operator(FCr, CAIRO_OPERATOR_SOURCE);
  SetSourceColor(FCr, AColor);
  cairo_paint(FCr);
  cairo_restore(FCr);
}

void TIGPGraphics::SetSource(const IGPBrush& ABrush) {
  cairo_matrix_t ctm;
  cairo_get_matrix(FCr, &ctm);
  cairo_pattern_t* p = ABrush.CreatePattern(ctm);
  cairo_set_source(FCr, p);
  cairo_pattern_destroy(p);
}

// ---------------------------------------------------------------- fills

namespace {
const IGPBrush& NeedBrush(const TIntfPtr<IGPBrush>& b) {
  if (!b) Raise("No brush given");
  return *b;
}
const TIGPPen& NeedPen(const TIntfPtr<TIGPPen>& p) {
  if (!p) Raise("No pen given");
  return *p;
}
}  // namespace

void TIGPGraphics::FillRectangle(const TIntfPtr<IGPBrush>& ABrush, const TIGPRectF& r) {
  FillRectangles(ABrush, {r});
}

void TIGPGraphics::FillRectangles(const TIntfPtr<IGPBrush>& ABrush, const std::vector<TIGPRectF>& ARects) {
  const IGPBrush& b = NeedBrush(ABrush);
  cairo_new_path(FCr);
  for (const TIGPRectF& r : ARects) cairo_rectangle(FCr, r.X, r.Y, r.Width, r.Height);
  SetSource(b);
  cairo_set_fill_rule(FCr, CAIRO_FILL_RULE_WINDING);
  cairo_fill(FCr);
}

void TIGPGraphics::FillEllipse(const TIntfPtr<IGPBrush>& ABrush, const TIGPRectF& ARect) {
  TIntfPtr<TIGPGraphicsPath> p(new TIGPGraphicsPath);
  p->AddEllipse(ARect);
  FillPath(ABrush, p);
}

void TIGPGraphics::FillPolygon(const TIntfPtr<IGPBrush>& ABrush, const std::vector<TIGPPointF>& APoints,
                               TIGPFillMode AFillMode) {
  TIntfPtr<TIGPGraphicsPath> p(new TIGPGraphicsPath(AFillMode));
  p->AddPolygon(APoints);
  FillPath(ABrush, p);
}

void TIGPGraphics::FillPie(const TIntfPtr<IGPBrush>& ABrush, const TIGPRectF& ARect, float AStartAngle,
                           float ASweepAngle) {
  TIntfPtr<TIGPGraphicsPath> p(new TIGPGraphicsPath);
  p->AddPie(ARect, AStartAngle, ASweepAngle);
  FillPath(ABrush, p);
}

void TIGPGraphics::FillPath(const TIntfPtr<IGPBrush>& ABrush, const TIntfPtr<TIGPGraphicsPath>& APath) {
  const IGPBrush& b = NeedBrush(ABrush);
  if (!APath) Raise("No path given");
  cairo_new_path(FCr);
  APath->AppendTo(FCr);
  cairo_set_fill_rule(FCr, APath->GetFillMode() == fmWinding ? CAIRO_FILL_RULE_WINDING : CAIRO_FILL_RULE_EVEN_ODD);
  SetSource(b);
  cairo_fill(FCr);
}

// ---------------------------------------------------------------- strokes

void TIGPGraphics::DrawRectangle(const TIntfPtr<TIGPPen>& APen, const TIGPRectF& ARect) {
  TIntfPtr<TIGPGraphicsPath> p(new TIGPGraphicsPath);
  p->AddRectangle(ARect);
  DrawPath(APen, p);
}

void TIGPGraphics::DrawEllipse(const TIntfPtr<TIGPPen>& APen, const TIGPRectF& ARect) {
  TIntfPtr<TIGPGraphicsPath> p(new TIGPGraphicsPath);
  p->AddEllipse(ARect);
  DrawPath(APen, p);
}

void TIGPGraphics::DrawLine(const TIntfPtr<TIGPPen>& APen, float x1, float y1, float x2, float y2) {
  DrawLines(APen, {{x1, y1}, {x2, y2}});
}

void TIGPGraphics::DrawLines(const TIntfPtr<TIGPPen>& APen, const std::vector<TIGPPointF>& APoints) {
  const TIGPPen& pen = NeedPen(APen);
  if (APoints.size() < 2 || TryHairline(pen, APoints)) return;
  cairo_new_path(FCr);
  cairo_move_to(FCr, APoints[0].X, APoints[0].Y);
  for (std::size_t i = 1; i < APoints.size(); ++i) cairo_line_to(FCr, APoints[i].X, APoints[i].Y);
  StrokeCurrentPath(pen, false);
}

void TIGPGraphics::DrawPolygon(const TIntfPtr<TIGPPen>& APen, const std::vector<TIGPPointF>& APoints) {
  TIntfPtr<TIGPGraphicsPath> p(new TIGPGraphicsPath);
  p->AddPolygon(APoints);
  DrawPath(APen, p);
}

void TIGPGraphics::DrawArc(const TIntfPtr<TIGPPen>& APen, const TIGPRectF& ARect, float AStartAngle,
                           float ASweepAngle) {
  TIntfPtr<TIGPGraphicsPath> p(new TIGPGraphicsPath);
  p->AddArc(ARect, AStartAngle, ASweepAngle);
  DrawPath(APen, p);
}

void TIGPGraphics::DrawPie(const TIntfPtr<TIGPPen>& APen, const TIGPRectF& ARect, float AStartAngle,
                           float ASweepAngle) {
  TIntfPtr<TIGPGraphicsPath> p(new TIGPGraphicsPath);
  p->AddPie(ARect, AStartAngle, ASweepAngle);
  DrawPath(APen, p);
}

void TIGPGraphics::DrawBezier(const TIntfPtr<TIGPPen>& APen, TIGPPointF p1, TIGPPointF c1, TIGPPointF c2,
                              TIGPPointF p2) {
  TIntfPtr<TIGPGraphicsPath> p(new TIGPGraphicsPath);
  p->AddBezier(p1, c1, c2, p2);
  DrawPath(APen, p);
}

void TIGPGraphics::DrawCurve(const TIntfPtr<TIGPPen>& APen, const std::vector<TIGPPointF>& APoints, float ATension) {
  TIntfPtr<TIGPGraphicsPath> p(new TIGPGraphicsPath);
  p->AddCurve(APoints, ATension);
  DrawPath(APen, p);
}

void TIGPGraphics::DrawPath(const TIntfPtr<TIGPPen>& APen, const TIntfPtr<TIGPGraphicsPath>& APath) {
  const TIGPPen& pen = NeedPen(APen);
  if (!APath) Raise("No path given");
  bool closed = false;
  for (const auto& s : APath->Segments()) {
    if (s.Kind == TIGPGraphicsPath::skClose) closed = true;
  }
  cairo_new_path(FCr);
  APath->AppendTo(FCr);
  cairo_set_fill_rule(FCr, APath->GetFillMode() == fmWinding ? CAIRO_FILL_RULE_WINDING : CAIRO_FILL_RULE_EVEN_ODD);
  StrokeCurrentPath(pen, closed);
}

void TIGPGraphics::StrokeCurrentPath(const TIGPPen& APen, bool AClosedFigures) {
  double w = APen.GetWidth();
  if (w <= 0) {
    // One device pixel whatever the transform (the mean of the two axes
    // where they scale differently).
    double ax = 1, ay = 0, bx = 0, by = 1;
    cairo_device_to_user_distance(FCr, &ax, &ay);
    cairo_device_to_user_distance(FCr, &bx, &by);
    w = (std::hypot(ax, ay) + std::hypot(bx, by)) / 2;
  }

  cairo_save(FCr);
  switch (APen.GetLineJoin()) {
    case ljBevel: cairo_set_line_join(FCr, CAIRO_LINE_JOIN_BEVEL); break;
    case ljRound: cairo_set_line_join(FCr, CAIRO_LINE_JOIN_ROUND); break;
    default: cairo_set_line_join(FCr, CAIRO_LINE_JOIN_MITER); break;
  }
  cairo_set_miter_limit(FCr, std::max(1.0f, APen.GetMiterLimit()));

  // Dashes scale with the width. Round or triangular dash caps round every
  // dash; the caps reach half a width past each dash's ends, so the dashes
  // are shortened and the gaps lengthened by a width to keep the pattern's length.
  const std::vector<float> pattern = APen.GetDashPattern();
  const bool dashCap = !pattern.empty() && APen.GetDashCap() != dcFlat;
  if (!pattern.empty()) {
    std::vector<double> d(pattern.size());
    for (std::size_t i = 0; i < pattern.size(); ++i) {
      d[i] = pattern[i] * w;
      if (dashCap) d[i] = (i % 2 == 0) ? std::max(0.0, d[i] - w) : d[i] + w;
    }
    if (d.size() % 2 && dashCap) d.push_back(w);
    cairo_set_dash(FCr, d.data(), int(d.size()), APen.GetDashOffset() * w);
  } else {
    cairo_set_dash(FCr, nullptr, 0, 0);
  }

  cairo_line_cap_t startCap = CAIRO_LINE_CAP_BUTT, endCap = CAIRO_LINE_CAP_BUTT;
  const bool plainCaps = CairoCap(APen.GetStartCap(), startCap) && CairoCap(APen.GetEndCap(), endCap) &&
                         startCap == endCap;
  const bool inset = APen.GetAlignment() == paInset && AClosedFigures;
  const std::vector<float>& compound = APen.GetCompoundArray();
  const bool simple = plainCaps && !inset && compound.empty();

  if (simple) {
    cairo_set_line_width(FCr, w);
    cairo_set_line_cap(FCr, dashCap ? CAIRO_LINE_CAP_ROUND : startCap);
    SetSource(*APen.GetBrush());
    cairo_stroke(FCr);
    cairo_restore(FCr);
    return;
  }

  // Everything the pen covers is drawn opaque into an alpha group, which
  // then masks the brush.
  const std::vector<TFigure> figures = Figures(FCr);
  cairo_path_t* path = cairo_copy_path(FCr);
  cairo_new_path(FCr);
  cairo_push_group_with_content(FCr, CAIRO_CONTENT_ALPHA);
  cairo_set_operator(FCr, CAIRO_OPERATOR_OVER);
  cairo_set_source_rgba(FCr, 0, 0, 0, 1);
  if (inset) {
    // Inside the figure only: clip to it and stroke twice as wide.
    cairo_append_path(FCr, path);
    cairo_clip(FCr);
  }
  const double strokeWidth = inset ? 2 * w : w;
  cairo_set_line_cap(FCr, dashCap ? CAIRO_LINE_CAP_ROUND : plainCaps ? startCap : CAIRO_LINE_CAP_BUTT);
  if (compound.empty()) {
    cairo_append_path(FCr, path);
    cairo_set_line_width(FCr, strokeWidth);
    cairo_stroke(FCr);
  } else {
    // Each pair of fractions is a band across the width, stroked along the
    // figure offset to the band's middle.
    for (std::size_t k = 0; k + 1 < compound.size(); k += 2) {
      const double a = compound[k], b = compound[k + 1];
      if (b <= a) continue;
      const double offset = ((a + b) / 2 - 0.5) * strokeWidth;
      cairo_set_line_width(FCr, (b - a) * strokeWidth);
      for (const TFigure& f : figures) {
        const std::vector<TPt> o = OffsetFigure(f, offset, APen.GetMiterLimit());
        cairo_move_to(FCr, o[0].X, o[0].Y);
        for (std::size_t i = 1; i < o.size(); ++i) cairo_line_to(FCr, o[i].X, o[i].Y);
        if (f.Closed) cairo_close_path(FCr);
      }
      cairo_stroke(FCr);
    }
  }
  if (!plainCaps) {
    cairo_set_dash(FCr, nullptr, 0, 0);
    for (const TFigure& f : figures) {
      if (f.Closed) continue;
      const TPt s0 = f.Points[0], s1 = f.Points[1];
      const TPt e0 = f.Points.back(), e1 = f.Points[f.Points.size() - 2];
      const double ls = std::hypot(s1.X - s0.X, s1.Y - s0.Y), le = std::hypot(e1.X - e0.X, e1.Y - e0.Y);
      AddCap(FCr, APen.GetStartCap(), s0, (s1.X - s0.X) / ls, (s1.Y - s0.Y) / ls, w);
      AddCap(FCr, APen.GetEndCap(), e0, (e1.X - e0.X) / le, (e1.Y - e0.Y) / le, w);
    }
    cairo_set_fill_rule(FCr, CAIRO_FILL_RULE_WINDING);
    cairo_fill(FCr);
  }
  cairo_pattern_t* mask = cairo_pop_group(FCr);
  cairo_path_destroy(path);
  SetSource(*APen.GetBrush());
  cairo_mask(FCr, mask);
  cairo_pattern_destroy(mask);
  cairo_restore(FCr);
}

namespace {
// Adds a coverage value (0..255) to a mask pixel, limited to 255.
inline void AddCoverage(std::uint8_t& px, float AValue) {
  const int v = px + int(AValue + 0.5f);
  px = std::uint8_t(v > 255 ? 255 : v);
}
}  // namespace

bool TIGPGraphics::TryHairline(const TIGPPen& APen, const std::vector<TIGPPointF>& APoints) {
  if (APen.GetDashStyle() != dsSolid || !APen.GetCompoundArray().empty()) return false;
  if (APen.GetBrush()->GetType() != btSolidColor) return false;
  for (TIGPLineCap c : {APen.GetStartCap(), APen.GetEndCap()})
    if (c != lcFlat && c != lcNoAnchor) return false;
  cairo_matrix_t m;
  cairo_get_matrix(FCr, &m);
  const double scale = std::max(std::hypot(m.xx, m.yx), std::hypot(m.xy, m.yy));
  const double devWidth = APen.GetWidth() <= 0 ? 1.0 : APen.GetWidth() * scale;
  if (devWidth > 1.0 + 1e-6) return false;

  // The device-space points, their bounds and the clip's.
  std::vector<TPt> pts(APoints.size());
  double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
  for (std::size_t i = 0; i < APoints.size(); ++i) {
    const double ux = APoints[i].X, uy = APoints[i].Y;
    pts[i] = {m.xx * ux + m.xy * uy + m.x0, m.yx * ux + m.yy * uy + m.y0};
    if (!std::isfinite(pts[i].X) || !std::isfinite(pts[i].Y)) continue;  // breaks the line there
    x0 = std::min(x0, pts[i].X), y0 = std::min(y0, pts[i].Y);
    x1 = std::max(x1, pts[i].X), y1 = std::max(y1, pts[i].Y);
  }
  double cx0, cy0, cx1, cy1;
  cairo_save(FCr);
  cairo_identity_matrix(FCr);
  cairo_clip_extents(FCr, &cx0, &cy0, &cx1, &cy1);
  cairo_restore(FCr);
  const long rx0 = long(std::floor(std::max(x0 - 2, cx0))), ry0 = long(std::floor(std::max(y0 - 2, cy0)));
  const long rx1 = long(std::ceil(std::min(x1 + 2, cx1))), ry1 = long(std::ceil(std::min(y1 + 2, cy1)));
  if (rx1 <= rx0 || ry1 <= ry0) return true;  // nothing visible
  const int rw = int(rx1 - rx0), rh = int(ry1 - ry0);
  // The mask has a guard band of kGuard pixels on every side, so that the
  // coverage loop writes its three pixels across the band without checking
  // each against the edges (segments are clipped to a pixel beyond the
  // mask, the band reaches at most two further). The guard is composited
  // with the rest; the clip keeps it where the drawing may go.
  constexpr int kGuard = 3;
  const int mw = rw + 2 * kGuard, mh = rh + 2 * kGuard;
  const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_A8, mw);
  FMask.assign(std::size_t(stride) * mh, 0);

  // Exact box-filter coverage: each column (or row) a segment crosses gets
  // the part of the segment's one-pixel-wide band inside each pixel. Joined
  // segments split a column between them, so their coverage adds up.
  const float intensity = float(std::min(1.0, devWidth) * 255.0);
  const bool aa = FSmoothing != smNone && FSmoothing != smHighSpeed;
  auto ifloor = [](double v) {
    const long i = long(v);
    return i - (v < double(i));
  };
  std::uint8_t* const maskData = FMask.data() + std::size_t(kGuard) * stride + kGuard;
  for (std::size_t i = 1; i < pts.size(); ++i) {
    TPt a{pts[i - 1].X - rx0, pts[i - 1].Y - ry0}, b{pts[i].X - rx0, pts[i].Y - ry0};
    if (!std::isfinite(a.X) || !std::isfinite(a.Y) || !std::isfinite(b.X) || !std::isfinite(b.Y)) continue;
    // Clip the segment to the mask (with a pixel to spare) so that far-away
    // points stay within the integer range of the loops below; a segment
    // inside it (nearly every one) needs no clipping.
    const auto inside = [rw, rh](const TPt& p) { return p.X >= -1 && p.X <= rw + 1 && p.Y >= -1 && p.Y <= rh + 1; };
    if (!inside(a) || !inside(b)) {
      double t0 = 0, t1 = 1;
      const double dx = b.X - a.X, dy = b.Y - a.Y;
      const double p[4] = {-dx, dx, -dy, dy}, q[4] = {a.X + 1, rw + 1 - a.X, a.Y + 1, rh + 1 - a.Y};
      bool visible = true;
      for (int k = 0; k < 4 && visible; ++k) {
        if (p[k] == 0) {
          visible = q[k] >= 0;
        } else {
          const double t = q[k] / p[k];
          if (p[k] < 0) t0 = std::max(t0, t);
          else t1 = std::min(t1, t);
          visible = t0 <= t1;
        }
      }
      if (!visible) continue;
      b = {a.X + t1 * dx, a.Y + t1 * dy};
      a = {a.X + t0 * dx, a.Y + t0 * dy};
    }
    const bool xMajor = std::fabs(b.X - a.X) >= std::fabs(b.Y - a.Y);
    // In the segment's own axes: major along the longer extent, minor across.
    if (!xMajor) std::swap(a.X, a.Y), std::swap(b.X, b.Y);
    if (a.X == b.X) continue;  // a point: nothing
    if (a.X > b.X) std::swap(a, b);
    const long majorLimit = xMajor ? rw : rh, minorLimit = xMajor ? rh : rw;
    const std::ptrdiff_t majorStep = xMajor ? 1 : stride, minorStep = xMajor ? stride : 1;
    const double slope = (b.Y - a.Y) / (b.X - a.X);
    const double half = std::sqrt(1 + slope * slope) / 2;  // half the band's extent across the major axis
    const long c0 = std::max(0l, ifloor(a.X)), c1 = std::min(majorLimit - 1, ifloor(b.X));
    if (!aa) {
      // Aliased: the pixel whose centre column the segment crosses.
      for (long c = c0; c <= c1; ++c) {
        if (a.X <= c + 0.5 && c + 0.5 < b.X) {
          const long r = ifloor(a.Y + (c + 0.5 - a.X) * slope);
          if (r >= 0 && r < minorLimit) maskData[c * majorStep + r * minorStep] = 255;
        }
      }
      continue;
    }
    // The band is between 1 and 1.5 pixels wide across the major axis, so
    // it covers the pixel of its top edge from there down (1 - f), the next
    // one up to the band's bottom edge, and at most a sliver of a third.
    const float extra = float(2 * half - 1);
    // One column: the band's top edge at the column's middle, clamped into
    // the guard band (it only leaves the mask by rounding).
    const auto column = [maskData, majorStep, minorStep, minorLimit, extra, ifloor](long c, double ATop,
                                                                                     float AScale) {
      const long r = std::clamp(ifloor(ATop), -2l, minorLimit);
      const float f = float(ATop - double(r));
      std::uint8_t* const px = maskData + c * majorStep + r * minorStep;
      AddCoverage(px[0], std::max(0.0f, 1 - f) * AScale);
      AddCoverage(px[minorStep], std::min(f + extra, 1.0f) * AScale);
      AddCoverage(px[2 * minorStep], std::max(0.0f, f + extra - 1) * AScale);
    };
    // The top edge at a column's middle m: a.Y + (m - a.X) * slope - half.
    const double top0 = a.Y - a.X * slope - half;
    // The end columns hold part of the segment; the ones between hold a whole column each.
    for (long c = c0; c <= c1; ++c) {
      const double xa = std::max(a.X, double(c)), xb = std::min(b.X, double(c + 1)), o = xb - xa;
      if (o <= 0) continue;
      if (o < 1) {
        column(c, top0 + (xa + xb) / 2 * slope, float(o) * intensity);
        continue;
      }
      const long last = std::min(c1, ifloor(b.X) - 1);
      for (; c <= last; ++c) column(c, top0 + (c + 0.5) * slope, intensity);
      --c;
    }
  }
  cairo_surface_t* mask = cairo_image_surface_create_for_data(FMask.data(), CAIRO_FORMAT_A8, mw, mh, stride);
  cairo_save(FCr);
  cairo_identity_matrix(FCr);
  SetSource(*APen.GetBrush());
  cairo_mask_surface(FCr, mask, double(rx0 - kGuard), double(ry0 - kGuard));
  cairo_restore(FCr);
  cairo_surface_destroy(mask);
  return true;
}

// ---------------------------------------------------------------- text

void TIGPGraphics::DrawText(std::string_view AText, const TIGPFont& AFont, const TIGPRectF& ALayout,
                            const TIGPStringFormat& AFormat, const IGPBrush* ABrush, TIGPRectF* AMeasured) {
  cairo_save(FCr);
  AFont.Select(FCr);
  const TTextLayout L = LayoutText(FCr, AText, ALayout, AFormat);
  if (AMeasured) *AMeasured = L.Bounds;
  if (ABrush && !L.Lines.empty()) {
    if (!AFormat.NoClip && !ALayout.IsEmptyArea()) {
      cairo_rectangle(FCr, ALayout.X, ALayout.Y, ALayout.Width, ALayout.Height);
      cairo_clip(FCr);
    }
    SetSource(*ABrush);
    const double size = AFont.GetSizeInPixels(), thick = std::max(1.0, size / 14);
    for (const TTextLine& line : L.Lines) {
      cairo_move_to(FCr, line.X, line.Baseline);
      cairo_show_text(FCr, line.Text.c_str());
      cairo_new_path(FCr);
      if (AFont.GetStyle() & fsUnderline) cairo_rectangle(FCr, line.X, line.Baseline + size * 0.1, line.Width, thick);
      if (AFont.GetStyle() & fsStrikeout)
        cairo_rectangle(FCr, line.X, line.Baseline - L.Ascent * 0.3 - thick / 2, line.Width, thick);
      cairo_fill(FCr);
    }
  }
  cairo_restore(FCr);
}

void TIGPGraphics::DrawString(std::string_view AText, const TIntfPtr<TIGPFont>& AFont, const TIGPRectF& ALayout,
                              const TIGPStringFormat& AFormat, const TIntfPtr<IGPBrush>& ABrush) {
  if (!AFont) Raise("No font given");
  DrawText(AText, *AFont, ALayout, AFormat, &NeedBrush(ABrush), nullptr);
}

void TIGPGraphics::DrawString(std::string_view AText, const TIntfPtr<TIGPFont>& AFont, TIGPPointF AOrigin,
                              const TIntfPtr<IGPBrush>& ABrush) {
  DrawString(AText, AFont, TIGPRectF(AOrigin.X, AOrigin.Y, 0, 0), TIGPStringFormat{}, ABrush);
}

TIGPRectF TIGPGraphics::MeasureString(std::string_view AText, const TIntfPtr<TIGPFont>& AFont,
                                      const TIGPRectF& ALayout, const TIGPStringFormat& AFormat) {
  if (!AFont) Raise("No font given");
  TIGPRectF r;
  DrawText(AText, *AFont, ALayout, AFormat, nullptr, &r);
  return r;
}

// ---------------------------------------------------------------- images

void TIGPGraphics::DrawImage(const TIntfPtr<IGPImage>& AImage, float x, float y) {
  if (!AImage) Raise("No image given");
  DrawImage(AImage, TIGPRectF(x, y, float(AImage->GetWidth()), float(AImage->GetHeight())));
}

void TIGPGraphics::DrawImage(const TIntfPtr<IGPImage>& AImage, const TIGPRectF& ADest) {
  if (!AImage) Raise("No image given");
  DrawImage(AImage, ADest, TIGPRectF(0, 0, float(AImage->GetWidth()), float(AImage->GetHeight())));
}

void TIGPGraphics::DrawImage(const TIntfPtr<IGPImage>& AImage, const TIGPRectF& ADest, const TIGPRectF& ASource) {
  if (!AImage) Raise("No image given");
  if (ADest.Width == 0 || ADest.Height == 0 || ASource.IsEmptyArea()) return;
  cairo_save(FCr);
  cairo_translate(FCr, ADest.X, ADest.Y);
  cairo_scale(FCr, ADest.Width / ASource.Width, ADest.Height / ASource.Height);
  cairo_set_source_surface(FCr, AImage->Surface(), 0, 0);
  cairo_pattern_t* p = cairo_get_source(FCr);
  cairo_matrix_t pm;
  cairo_matrix_init_translate(&pm, ASource.X, ASource.Y);
  cairo_pattern_set_matrix(p, &pm);
  // Edge pixels extend outwards so that a scaled image keeps sharp borders;
  // the rectangle below bounds it.
  cairo_pattern_set_extend(p, CAIRO_EXTEND_PAD);
  cairo_pattern_set_filter(p, FInterpolation == imNearestNeighbor ? CAIRO_FILTER_NEAREST
                              : FInterpolation == imHighQuality   ? CAIRO_FILTER_BEST
                                                                  : CAIRO_FILTER_BILINEAR);
  cairo_new_path(FCr);
  cairo_rectangle(FCr, 0, 0, ASource.Width, ASource.Height);
  cairo_fill(FCr);
  cairo_restore(FCr);
}

// ---------------------------------------------------------------- clipping

namespace {
void ClipCurrentPath(cairo_t* cr, TIGPCombineMode AMode, cairo_fill_rule_t ARule) {
  if (AMode == cmExclude) {
    // Everything inside the current clip except the path: the clip's bounds
    // (a little larger) and the path, filled even-odd.
    cairo_path_t* path = cairo_copy_path(cr);
    cairo_new_path(cr);
    double x0, y0, x1, y1;
    cairo_clip_extents(cr, &x0, &y0, &x1, &y1);
    double px0, py0, px1, py1;
    cairo_append_path(cr, path);
    cairo_path_extents(cr, &px0, &py0, &px1, &py1);
    x0 = std::min(x0, px0) - 1, y0 = std::min(y0, py0) - 1, x1 = std::max(x1, px1) + 1, y1 = std::max(y1, py1) + 1;
    cairo_new_path(cr);
    cairo_rectangle(cr, x0, y0, x1 - x0, y1 - y0);
    cairo_append_path(cr, path);
    cairo_path_destroy(path);
    // Even-odd: a winding path inside the bounds flips to outside once.
    (void)ARule;
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
  } else {
    if (AMode == cmReplace) {
      cairo_path_t* path = cairo_copy_path(cr);
      cairo_reset_clip(cr);
      cairo_new_path(cr);
      cairo_append_path(cr, path);
      cairo_path_destroy(path);
    }
    cairo_set_fill_rule(cr, ARule);
  }
  cairo_clip(cr);
}
}  // namespace

void TIGPGraphics::SetClip(const TIGPRectF& r, TIGPCombineMode AMode) {
  cairo_new_path(FCr);
  cairo_rectangle(FCr, r.X, r.Y, r.Width, r.Height);
  ClipCurrentPath(FCr, AMode, CAIRO_FILL_RULE_WINDING);
}

void TIGPGraphics::SetClip(const TIntfPtr<TIGPGraphicsPath>& APath, TIGPCombineMode AMode) {
  if (!APath) Raise("No path given");
  cairo_new_path(FCr);
  APath->AppendTo(FCr);
  ClipCurrentPath(FCr, AMode, APath->GetFillMode() == fmWinding ? CAIRO_FILL_RULE_WINDING : CAIRO_FILL_RULE_EVEN_ODD);
}

void TIGPGraphics::ResetClip() { cairo_reset_clip(FCr); }

TIGPRectF TIGPGraphics::GetClipBounds() {
  double x0, y0, x1, y1;
  cairo_clip_extents(FCr, &x0, &y0, &x1, &y1);
  return TIGPRectF(float(x0), float(y0), float(x1 - x0), float(y1 - y0));
}

// ---------------------------------------------------------------- transforms and state

void TIGPGraphics::TranslateTransform(float dx, float dy, TIGPMatrixOrder AOrder) {
  cairo_matrix_t op;
  cairo_matrix_init_translate(&op, dx, dy);
  ApplyTransform(FCr, op, AOrder);
}

void TIGPGraphics::ScaleTransform(float sx, float sy, TIGPMatrixOrder AOrder) {
  cairo_matrix_t op;
  cairo_matrix_init_scale(&op, sx, sy);
  ApplyTransform(FCr, op, AOrder);
}

void TIGPGraphics::RotateTransform(float AAngle, TIGPMatrixOrder AOrder) {
  cairo_matrix_t op;
  cairo_matrix_init_rotate(&op, AAngle * M_PI / 180.0);
  ApplyTransform(FCr, op, AOrder);
}

void TIGPGraphics::MultiplyTransform(const TIGPMatrix& AMatrix, TIGPMatrixOrder AOrder) {
  ApplyTransform(FCr, AMatrix.ToCairo(), AOrder);
}

void TIGPGraphics::ResetTransform() { cairo_identity_matrix(FCr); }

void TIGPGraphics::SetTransform(const TIGPMatrix& AMatrix) {
  cairo_identity_matrix(FCr);
  ApplyTransform(FCr, AMatrix.ToCairo(), moPrepend);
}

TIGPMatrix TIGPGraphics::GetTransform() {
  cairo_matrix_t m;
  cairo_get_matrix(FCr, &m);
  return TIGPMatrix::FromCairo(m);
}

std::uint32_t TIGPGraphics::Save() {
  cairo_save(FCr);
  FSaved.push_back({FSmoothing, FInterpolation, FCompositing});
  return std::uint32_t(FSaved.size());
}

void TIGPGraphics::Restore(std::uint32_t AState) {
  // An unknown state (0, or one already restored) changes nothing.
  if (AState == 0 || AState > FSaved.size()) return;
  while (FSaved.size() >= AState) {
    cairo_restore(FCr);
    FSmoothing = FSaved.back().Smoothing;
    FInterpolation = FSaved.back().Interpolation;
    FCompositing = FSaved.back().Compositing;
    FSaved.pop_back();
  }
}

void TIGPGraphics::SetSmoothingMode(TIGPSmoothingMode AMode) {
  FSmoothing = AMode;
  cairo_set_antialias(FCr, AMode == smNone || AMode == smHighSpeed ? CAIRO_ANTIALIAS_NONE : CAIRO_ANTIALIAS_DEFAULT);
}

void TIGPGraphics::SetCompositingMode(TIGPCompositingMode AMode) {
  FCompositing = AMode;
  cairo_set_operator(FCr, AMode == cpmSourceCopy ? CAIRO_OPERATOR_SOURCE : CAIRO_OPERATOR_OVER);
}

}  // namespace nx
