// NXExamplePlots: layout, scales and the draw layers of a plot.
#include "packages/nxexamples/NXExamplePlots.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "drawing/RGDrawLayers.h"
#include "drawing/RGPngWriter.h"
#include "drawing/Zandor.CanvasIntf.h"
#include "runtime/SysUtils.h"
#include "runtime/Zandor.Components.h"
#include "runtime/Zandor.Streams.h"
#include "streams/NXMouseOperations.h"
#include "streams/NXStreamTypes.h"

namespace nx::examples {

// ---------------------------------------------------------------- scales

double NicePlotStep(double ASpan, std::int32_t AMaxSteps) {
  if (!(ASpan > 0) || !std::isfinite(ASpan) || AMaxSteps < 1) return 1;
  const double raw = ASpan / AMaxSteps;
  const double decade = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0})
    // A hair of tolerance: 0.3 / 3 must give 0.1, not 0.2.
    if (m * decade >= raw * (1 - 1e-9)) return m * decade;
  return 10 * decade;
}

TPlotAxis NicePlotRange(double AMin, double AMax, std::string ACaption) {
  TPlotAxis axis;
  axis.Caption = std::move(ACaption);
  if (!std::isfinite(AMin) || !std::isfinite(AMax)) AMin = AMax = 0;
  if (AMin > AMax) std::swap(AMin, AMax);
  if (AMin == AMax) {
    const double half = AMin == 0 ? 1 : std::abs(AMin) * 0.1;
    AMin -= half;
    AMax += half;
  }
  const double margin = (AMax - AMin) * 0.05;
  const double step = NicePlotStep(AMax - AMin + 2 * margin, 8);
  axis.Min = std::floor((AMin - margin) / step) * step;
  axis.Max = std::ceil((AMax + margin) / step) * step;
  return axis;
}

namespace {

// "20k", "1.5k", "100", "0.5".
std::string FrequencyLabel(double AValue) {
  if (AValue >= 1000) return Format("%gk", AValue / 1000);
  return Format("%g", AValue);
}

std::vector<TPlotTick> LinearTicks(const TPlotAxis& AAxis, std::int32_t AMaxSteps) {
  std::vector<TPlotTick> ticks;
  const double span = AAxis.Max - AAxis.Min;
  const double step = NicePlotStep(span, AMaxSteps);
  // As many decimals as the step needs (0.25 -> 2, 5 -> 0).
  std::int32_t decimals = 0;
  for (double s = step; decimals < 12 && std::abs(s - std::round(s)) > 1e-6 * step * std::pow(10.0, decimals);
       s *= 10)
    ++decimals;
  const double first = std::ceil(AAxis.Min / step - 1e-9);
  for (double i = first;; ++i) {
    double value = i * step;
    if (value > AAxis.Max + step * 1e-9) break;
    if (std::abs(value) < step * 1e-9) value = 0;  // no "-0.0"
    ticks.push_back({value, true, NXGetScaleTickText(value, AAxis.Min, AAxis.Max, true, decimals, false)});
  }
  return ticks;
}

std::vector<TPlotTick> LogTicks(const TPlotAxis& AAxis) {
  std::vector<TPlotTick> ticks;
  if (!(AAxis.Min > 0) || !(AAxis.Max > AAxis.Min)) return ticks;
  const double tolerance = 1 + 1e-9;
  for (double decade = std::pow(10.0, std::floor(std::log10(AAxis.Min))); decade <= AAxis.Max * tolerance;
       decade *= 10)
    for (int m = 1; m <= 9; ++m) {
      const double value = decade * m;
      if (value < AAxis.Min / tolerance || value > AAxis.Max * tolerance) continue;
      ticks.push_back({value, m == 1, m == 1 ? FrequencyLabel(value) : std::string()});
    }
  if (std::none_of(ticks.begin(), ticks.end(), [](const TPlotTick& t) { return t.Major; })) {
    ticks.insert(ticks.begin(), {AAxis.Min, true, FrequencyLabel(AAxis.Min)});
    ticks.push_back({AAxis.Max, true, FrequencyLabel(AAxis.Max)});
  }
  return ticks;
}

}  // namespace

std::vector<TPlotTick> PlotTicks(const TPlotAxis& AAxis, std::int32_t AMaxSteps) {
  if (!std::isfinite(AAxis.Min) || !std::isfinite(AAxis.Max) || !(AAxis.Max > AAxis.Min)) return {};
  return AAxis.Logarithmic ? LogTicks(AAxis) : LinearTicks(AAxis, AMaxSteps);
}

// ---------------------------------------------------------------- layout

namespace {

constexpr float kPad = 14;
constexpr float kGap = 6;

// Everything the layers share: the plot, the resolved drawing objects and
// where things go.
struct TPlotFrame {
  const TPlot* Plot = nullptr;
  TIGPRectF Area;  // the plot area inside the frame
  std::vector<TPlotTick> XTicks, YTicks;
  TIntfPtr<TIGPFont> Font, TitleFont;
  TIntfPtr<IGPBrush> Text;
  TIntfPtr<IGPBrush> Background;
  TIntfPtr<TIGPPen> Grid, MinorGrid, Border, Trace;
  float TextHeight = 0, TitleHeight = 0;
  // Where the trace layer reports what the pointer is over.
  TPlotHit* Hit = nullptr;

  float XOf(double AValue) const {
    const TPlotAxis& a = Plot->X;
    const double f = a.Logarithmic ? (std::log10(AValue) - std::log10(a.Min)) / (std::log10(a.Max) - std::log10(a.Min))
                                   : (AValue - a.Min) / (a.Max - a.Min);
    return Area.X + static_cast<float>(f * Area.Width);
  }
  float YOf(double AValue) const {
    const TPlotAxis& a = Plot->Y;
    const double f = a.Logarithmic ? (std::log10(AValue) - std::log10(a.Min)) / (std::log10(a.Max) - std::log10(a.Min))
                                   : (AValue - a.Min) / (a.Max - a.Min);
    return Area.Y + Area.Height - static_cast<float>(f * Area.Height);
  }
};

TGPColor WithAlpha(TGPColor AColor, std::uint32_t AAlpha) { return (AColor & 0x00FFFFFFu) | (AAlpha << 24); }

// The polylines of the trace in pixels. Values that are not finite (or not
// positive on a logarithmic axis) break the line. Where several points fall
// into one pixel column only the first, the lowest, the highest and the last
// of them are kept: the picture is the same, the path much shorter.
std::vector<std::vector<TIGPPointF>> TraceLines(const TPlotFrame& AFrame) {
  const TPlot& plot = *AFrame.Plot;
  std::vector<std::vector<TIGPPointF>> lines(1);
  const std::size_t n = std::min(plot.XValues.size(), plot.YValues.size());
  // Far outside the area still clips correctly; this keeps the coordinates
  // inside the range of the rasteriser's fixed-point numbers.
  const float yLow = AFrame.Area.Y - 2000, yHigh = AFrame.Area.Y + AFrame.Area.Height + 2000;
  struct TColumn {
    std::int64_t Index = INT64_MIN;
    TIGPPointF First, Low, High, Last;
  } col;
  auto flush = [&] {
    if (col.Index == INT64_MIN) return;
    std::vector<TIGPPointF>& line = lines.back();
    line.push_back(col.First);
    // In the order the trace visits them.
    const bool lowFirst = col.Low.X <= col.High.X;
    line.push_back(lowFirst ? col.Low : col.High);
    line.push_back(lowFirst ? col.High : col.Low);
    line.push_back(col.Last);
    col.Index = INT64_MIN;
  };
  auto bad = [&](double v, const TPlotAxis& a) { return !std::isfinite(v) || (a.Logarithmic && v <= 0); };
  for (std::size_t i = 0; i < n; ++i) {
    const double xv = plot.XValues[i], yv = plot.YValues[i];
    if (bad(xv, plot.X) || bad(yv, plot.Y)) {
      flush();
      if (!lines.back().empty()) lines.emplace_back();
      continue;
    }
    const TIGPPointF p{AFrame.XOf(xv), std::clamp(AFrame.YOf(yv), yLow, yHigh)};
    const auto column = static_cast<std::int64_t>(std::floor(p.X));
    if (column != col.Index) {
      flush();
      col.Index = column;
      col.First = col.Low = col.High = col.Last = p;
      continue;
    }
    // Screen y grows downwards: Low is the point drawn lowest.
    if (p.Y > col.Low.Y) col.Low = p;
    if (p.Y < col.High.Y) col.High = p;
    col.Last = p;
  }
  flush();
  for (auto& line : lines) {
    // Drop the repeats the column summary makes.
    line.erase(std::unique(line.begin(), line.end(),
                           [](const TIGPPointF& a, const TIGPPointF& b) { return a.X == b.X && a.Y == b.Y; }),
               line.end());
  }
  return lines;
}

// ---------------------------------------------------------------- layers

class TPlotLayer : public TRGDrawLayer {
 public:
  TPlotLayer(TComponent* AOwner, const TPlotFrame& AFrame) : TRGDrawLayer(AOwner), FFrame(AFrame) {}

 protected:
  const TPlotFrame& FFrame;
};

// The background and the frame around the plot area.
class TPlotBackLayer : public TPlotLayer {
 public:
  using TPlotLayer::TPlotLayer;

 protected:
  void IntDraw(IGPGraphics& g, std::int32_t AWidth, std::int32_t AHeight) override {
    g.FillRectangle(FFrame.Background, TIGPRectF(0, 0, float(AWidth), float(AHeight)));
  }
};

// Grid lines with the tick labels beside the axes.
class TPlotGridLayer : public TPlotLayer {
 public:
  using TPlotLayer::TPlotLayer;

 protected:
  void IntDraw(IGPGraphics& g, std::int32_t, std::int32_t) override {
    const TIGPRectF& a = FFrame.Area;
    const float h = FFrame.TextHeight;
    TIGPStringFormat centre;
    centre.Alignment = saCenter;
    for (const TPlotTick& t : FFrame.XTicks) {
      // Lines on pixel centres: crisp one-pixel lines.
      const float x = std::round(FFrame.XOf(t.Value)) + 0.5f;
      g.DrawLine(t.Major ? FFrame.Grid : FFrame.MinorGrid, x, a.Y, x, a.Y + a.Height);
      if (!t.Label.empty())
        g.DrawString(t.Label, FFrame.Font, TIGPRectF(x - 60, a.Y + a.Height + kGap, 120, h), centre, FFrame.Text);
    }
    TIGPStringFormat right;
    right.Alignment = saFar;
    right.LineAlignment = saCenter;
    for (const TPlotTick& t : FFrame.YTicks) {
      const float y = std::round(FFrame.YOf(t.Value)) + 0.5f;
      g.DrawLine(t.Major ? FFrame.Grid : FFrame.MinorGrid, a.X, y, a.X + a.Width, y);
      if (!t.Label.empty())
        g.DrawString(t.Label, FFrame.Font, TIGPRectF(0, y - h, a.X - kGap - 2, 2 * h), right, FFrame.Text);
    }
    g.DrawRectangle(FFrame.Border, TIGPRectF(std::round(a.X) + 0.5f, std::round(a.Y) + 0.5f, std::round(a.Width),
                                             std::round(a.Height)));
  }
};

// The trace, clipped to the plot area. The pointer inside the area is the
// trace layer's: it reports the axis values under the pointer and the trace
// point nearest to it on the X axis.
class TPlotTraceLayer : public TPlotLayer {
 public:
  using TPlotLayer::TPlotLayer;

 protected:
  bool Take(float X, float Y) {
    const TIGPRectF& a = FFrame.Area;
    if (!FFrame.Hit || !(X >= a.X && X <= a.X + a.Width && Y >= a.Y && Y <= a.Y + a.Height)) return false;
    TPlotHit& hit = *FFrame.Hit;
    const TPlot& plot = *FFrame.Plot;
    hit.InArea = true;
    hit.Fraction = a.Width > 0 ? (X - a.X) / a.Width : 0;
    const double fy = a.Height > 0 ? (a.Y + a.Height - Y) / a.Height : 0;
    auto valueAt = [](const TPlotAxis& AAxis, double AFraction) {
      if (AAxis.Logarithmic)
        return std::pow(10.0, std::log10(AAxis.Min) + AFraction * (std::log10(AAxis.Max) - std::log10(AAxis.Min)));
      return AAxis.Min + AFraction * (AAxis.Max - AAxis.Min);
    };
    hit.X = valueAt(plot.X, hit.Fraction);
    hit.Y = valueAt(plot.Y, fy);
    // The X values ascend: the nearest point is one of the two around X.
    const auto& xs = plot.XValues;
    const auto after = std::lower_bound(xs.begin(), xs.end(), hit.X);
    std::ptrdiff_t at = after - xs.begin();
    if (after == xs.end() || (at > 0 && hit.X - xs[std::size_t(at - 1)] < *after - hit.X)) --at;
    hit.Nearest = at >= 0 && std::size_t(at) < plot.YValues.size() ? at : -1;
    return true;
  }
  bool DoLayerMouseMove(TShiftState, float X, float Y) override { return Take(X, Y); }
  bool DoLayerMouseDown(TMouseButton, TShiftState, float X, float Y) override { return Take(X, Y); }
  bool DoLayerMouseUp(TMouseButton, TShiftState, float X, float Y) override { return Take(X, Y); }
  bool DoLayerMouseWheelDown(TShiftState, float X, float Y) override { return Take(X, Y); }
  bool DoLayerMouseWheelUp(TShiftState, float X, float Y) override { return Take(X, Y); }

  void IntDraw(IGPGraphics& g, std::int32_t, std::int32_t) override {
    const std::uint32_t state = g.Save();
    g.SetClip(FFrame.Area);
    for (const std::vector<TIGPPointF>& line : TraceLines(FFrame)) {
      if (line.size() >= 2) g.DrawLines(FFrame.Trace, line);
    }
    g.Restore(state);
  }
};

// The title, the axis captions and the message.
class TPlotTextLayer : public TPlotLayer {
 public:
  using TPlotLayer::TPlotLayer;

 protected:
  void IntDraw(IGPGraphics& g, std::int32_t AWidth, std::int32_t) override {
    const TPlot& plot = *FFrame.Plot;
    const TIGPRectF& a = FFrame.Area;
    const float h = FFrame.TextHeight;
    TIGPStringFormat centre;
    centre.Alignment = saCenter;
    if (!plot.Title.empty())
      g.DrawString(plot.Title, FFrame.TitleFont, TIGPRectF(0, kPad, float(AWidth), FFrame.TitleHeight), centre,
                   FFrame.Text);
    if (!plot.X.Caption.empty())
      g.DrawString(plot.X.Caption, FFrame.Font, TIGPRectF(a.X, a.Y + a.Height + kGap + h + 4, a.Width, h), centre,
                   FFrame.Text);
    if (!plot.Y.Caption.empty()) {
      // Read from bottom to top, left of the tick labels.
      const std::uint32_t state = g.Save();
      g.TranslateTransform(kPad, a.Y + a.Height / 2);
      g.RotateTransform(-90);
      g.DrawString(plot.Y.Caption, FFrame.Font, TIGPRectF(-a.Height / 2, 0, a.Height, h), centre, FFrame.Text);
      g.Restore(state);
    }
    if (!plot.Message.empty()) {
      TIGPStringFormat middle;
      middle.Alignment = saCenter;
      middle.LineAlignment = saCenter;
      g.DrawString(plot.Message, FFrame.TitleFont, a, middle, FFrame.Text);
    }
  }
};

// A display component that holds the layer list; the layers are its children.
class TPlotHost : public TLockComponent {
 public:
  TPlotHost() : TLockComponent(nullptr), Layers(new TRGDrawLayers(this)) {}
  template <class TLayer>
  void Add(const TPlotFrame& AFrame, const char* AName) {
    auto* layer = new TLayer(this, AFrame);
    layer->SetName(AName);
    layer->SetList(Layers.get());
  }
  std::unique_ptr<TRGDrawLayers> Layers;
};

// Default drawing objects for the parts of a style left empty.
struct TStyleDefaults {
  explicit TStyleDefaults(const TPlotStyle& AStyle) : Style(AStyle) {
    if (!Style.Trace) {
      Trace.reset(new TRGGPPen(nullptr));
      Trace->SetColor(0xFF1F5FBFu);
      Trace->SetWidth(1.5f);
      Style.Trace = Trace.get();
    }
    if (!Style.Grid) {
      Grid.reset(new TRGGPPen(nullptr));
      Grid->SetColor(0xFFDDDDDDu);
      Style.Grid = Grid.get();
    }
    if (!Style.Background) {
      Background.reset(new TRGGPBrush(nullptr));
      Style.Background = Background.get();
    }
    if (!Style.Font) {
      Font.reset(new TRGGPBrushFont(nullptr));
      Style.Font = Font.get();
    }
  }
  TPlotStyle Style;
  std::unique_ptr<TRGGPPen> Trace, Grid;
  std::unique_ptr<TRGGPBrush> Background;
  std::unique_ptr<TRGGPBrushFont> Font;
};

// Resolves the drawing objects and places the plot area: room for the title
// above, the Y labels and caption on the left, the X labels and caption
// below, and half the last X label on the right.
void LayOut(TPlotFrame& AFrame, const TPlotStyle& AStyle, IGPGraphics& g) {
  const TPlot& plot = *AFrame.Plot;
  const float width = float(plot.Width), height = float(plot.Height);
  AFrame.Font = AStyle.Font->GetGPFont();
  AFrame.TitleFont = TIntfPtr<TIGPFont>(new TIGPFont(AFrame.Font->GetFamily(), AFrame.Font->GetSize() * 1.3f,
                                                     TIGPFontStyle(AFrame.Font->GetStyle() | fsBold),
                                                     AFrame.Font->GetUnit()));
  AFrame.TextHeight = std::ceil(AFrame.Font->GetHeight());
  AFrame.TitleHeight = plot.Title.empty() ? 0 : std::ceil(AFrame.TitleFont->GetHeight());
  const TIGPRectF whole(0, 0, width, height);
  AFrame.Text = AStyle.Font->Brush()->GetGPBrush(whole);
  AFrame.Background = AStyle.Background->GetGPBrush(whole);
  const TGPColor textColor = AStyle.Font->Brush()->Color();
  AFrame.Border = TIntfPtr<TIGPPen>(new TIGPPen(WithAlpha(textColor, 0x99), 1));
  const TGPColor gridColor = AStyle.Grid->Color();
  AFrame.MinorGrid = TIntfPtr<TIGPPen>(new TIGPPen(WithAlpha(gridColor, ((gridColor >> 24) * 3) / 5), 1));

  // The ticks first: the widest Y label sets the left margin. About one X
  // label per 90 pixels and one Y label per 45 keeps them apart.
  AFrame.XTicks = PlotTicks(plot.X, std::max<std::int32_t>(2, std::int32_t(width / 90)));
  AFrame.YTicks = PlotTicks(plot.Y, std::max<std::int32_t>(2, std::int32_t(height / 45)));
  float labelWidth = 0;
  for (const TPlotTick& t : AFrame.YTicks)
    if (!t.Label.empty()) labelWidth = std::max(labelWidth, g.MeasureString(t.Label, AFrame.Font).Width);
  float lastXLabel = 0;
  for (const TPlotTick& t : AFrame.XTicks)
    if (!t.Label.empty()) lastXLabel = g.MeasureString(t.Label, AFrame.Font).Width;
  const float h = AFrame.TextHeight;
  const float left = kPad + (plot.Y.Caption.empty() ? 0 : h + kGap) + std::ceil(labelWidth) + kGap + 2;
  const float top = plot.Title.empty() ? kPad + h / 2 : kPad + AFrame.TitleHeight + kGap + 2;
  const float bottom = kPad + h + kGap + (plot.X.Caption.empty() ? 0 : h + 4);
  const float right = kPad + std::ceil(lastXLabel / 2);
  AFrame.Area = TIGPRectF(left, top, std::max(10.0f, width - left - right), std::max(10.0f, height - top - bottom));
  AFrame.Grid = AStyle.Grid->GetGPPen(AFrame.Area);
  AFrame.Trace = AStyle.Trace->GetGPPen(AFrame.Area);
}

}  // namespace

namespace {

// Axes that cannot be drawn (empty, reversed, not finite, a logarithmic one
// reaching 0) are replaced by ones that can, so that a picture always comes
// out.
TPlot Drawable(const TPlot& APlot) {
  if (APlot.Width < 1 || APlot.Height < 1)
    throw Exception(Format("the picture size %d x %d is empty", APlot.Width, APlot.Height));
  TPlot plot = APlot;
  for (TPlotAxis* axis : {&plot.X, &plot.Y}) {
    if (axis->Logarithmic && !(axis->Min > 0 && axis->Max > axis->Min && std::isfinite(axis->Max)))
      axis->Logarithmic = false;
    if (!std::isfinite(axis->Min)) axis->Min = 0;
    if (!std::isfinite(axis->Max) || !(axis->Max > axis->Min)) axis->Max = axis->Min + 1;
  }
  return plot;
}

// The plot's layers on a host, bottom to top; the caller frees the host.
TPlotHost* MakeLayers(const TPlotFrame& AFrame) {
  auto* host = new TPlotHost();
  try {
    host->Add<TPlotBackLayer>(AFrame, "Background");
    host->Add<TPlotGridLayer>(AFrame, "Grid");
    host->Add<TPlotTraceLayer>(AFrame, "Trace");
    host->Add<TPlotTextLayer>(AFrame, "Texts");
  } catch (...) {
    host->Free();
    throw;
  }
  return host;
}

}  // namespace

namespace {

// Draws APlot on a canvas of its size and hands the canvas to AUse.
template <class F>
auto DrawPlot(const TPlot& APlot, const TPlotStyle& AStyle, F&& AUse) {
  TStyleDefaults style(AStyle);
  const TPlot plot = Drawable(APlot);
  TRGCairoCanvas canvas(plot.Width, plot.Height);
  TPlotFrame frame;
  frame.Plot = &plot;
  LayOut(frame, style.Style, *canvas.GetGraphics());
  TPlotHost* host = MakeLayers(frame);
  try {
    host->Layers->Draw(canvas, plot.Width, plot.Height);
  } catch (...) {
    host->Free();
    throw;
  }
  host->Free();
  canvas.GetGraphics()->Flush();
  return AUse(canvas);
}

}  // namespace

TPngPixels RenderPlotPixels(const TPlot& APlot, const TPlotStyle& AStyle) {
  return DrawPlot(APlot, AStyle, [](TRGCairoCanvas& ACanvas) { return CapturePngPixels(ACanvas.Canvas()); });
}

std::string RenderPlotPNG(const TPlot& APlot, const TPlotStyle& AStyle, bool ALive) {
  if (ALive) return DrawPlot(APlot, AStyle, [](TRGCairoCanvas& ACanvas) { return WritePng(ACanvas.Canvas(), 1); });
  return EncodePngFile(RenderPlotPixels(APlot, AStyle));
}

TPlotHit PlotMouse(const TPlot& APlot, const TPlotStyle& AStyle, const IFTNotifyOperation& AOperation) {
  TStyleDefaults style(AStyle);
  const TPlot plot = Drawable(APlot);
  // The layout measures the labels; a one-pixel canvas measures as well as
  // one of the picture's size.
  TRGCairoCanvas canvas(1, 1);
  TPlotHit hit;
  TPlotFrame frame;
  frame.Plot = &plot;
  frame.Hit = &hit;
  LayOut(frame, style.Style, *canvas.GetGraphics());
  TPlotHost* host = MakeLayers(frame);
  try {
    TRGDrawLayers& layers = *host->Layers;
    const IFTNotifyOperation* op = &AOperation;
    if (const auto* b = dynamic_cast<const TFTNXSuppliedMouseButtonOperation*>(op)) {
      const float x = float(b->GetX()), y = float(b->GetY());
      if (dynamic_cast<const TFTNXSuppliedMouseButtonDownOperation*>(op))
        layers.MouseDown(b->GetButton(), b->GetShift(), x, y);
      else
        layers.MouseUp(b->GetButton(), b->GetShift(), x, y);
    } else if (const auto* m = dynamic_cast<const TFTNXSuppliedMouseOperation*>(op)) {
      const float x = float(m->GetX()), y = float(m->GetY());
      if (dynamic_cast<const TFTNXSuppliedMouseWheelUpOperation*>(op))
        layers.MouseWheelUp(m->GetShift(), x, y);
      else if (dynamic_cast<const TFTNXSuppliedMouseWheelDownOperation*>(op))
        layers.MouseWheelDown(m->GetShift(), x, y);
      else
        layers.MouseMove(m->GetShift(), x, y);
    } else if (dynamic_cast<const TFTNXSuppliedMouseEnterOperation*>(op)) {
      layers.MouseEnter();
    } else if (dynamic_cast<const TFTNXSuppliedMouseLeaveOperation*>(op)) {
      layers.MouseLeave();
    }
  } catch (...) {
    host->Free();
    throw;
  }
  host->Free();
  return hit;
}

}  // namespace nx::examples
