// DrawLayersDemo: a small scope-like picture drawn through draw layers on a
// Cairo canvas: a glossy bezel with a 3-D frame, a grid with labelled scale
// ticks, two traces (their pens are drawing properties), a marker bulb and
// a round-diamond cursor. Each part is its own layer; the list draws them
// in order. Usage:
//   draw_layers_demo [output.png]     (default docs/draw-layers-demo.png)
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "nxruntime.h"

using namespace nx;

namespace {

constexpr float kLeft = 70, kTop = 30, kWidth = 560, kHeight = 300;
constexpr double kTimeMax = 10, kVoltMin = -2, kVoltMax = 2;

float XOf(double t) { return kLeft + float(t / kTimeMax) * kWidth; }
float YOf(double v) { return kTop + float((kVoltMax - v) / (kVoltMax - kVoltMin)) * kHeight; }

// The bezel behind the plot: a gloss background and an etched frame.
class TBezelLayer : public TRGDrawLayer {
 public:
  using TRGDrawLayer::TRGDrawLayer;

 protected:
  void IntDraw(IGPGraphics& g, std::int32_t AWidth, std::int32_t AHeight) override {
    RGGlossRoundRectangle3DF(g, 0xFF2A3440u, 0xFF10161Cu, TIGPRectF(0, 0, float(AWidth), float(AHeight)), {30, 30});
    g.FillRectangle(TIntfPtr<IGPBrush>(new TIGPSolidBrush(0xFF050A08u)), {kLeft, kTop, kWidth, kHeight});
    RGDrawFrame3DF(g, 0xFF000000u, 0xFF5A6A78u, TIGPRectF(kLeft - 3, kTop - 3, kWidth + 6, kHeight + 6), 3);
  }
};

// The grid with the scale labels from the tick-text routines.
class TGridLayer : public TRGDrawLayer {
 public:
  using TRGDrawLayer::TRGDrawLayer;

 protected:
  void IntDraw(IGPGraphics& g, std::int32_t, std::int32_t) override {
    TIntfPtr<TIGPPen> grid(new TIGPPen(0xFF2E4A3Au, 1));
    grid->SetDashStyle(dsDot);
    TIntfPtr<TIGPFont> font(new TIGPFont("sans-serif", 8));
    TIntfPtr<IGPBrush> text(new TIGPSolidBrush(0xFFB8C8C0u));
    TIGPStringFormat right;
    right.Alignment = saFar;
    right.LineAlignment = saCenter;
    for (int i = 0; i <= 8; ++i) {
      const double v = kVoltMin + i * (kVoltMax - kVoltMin) / 8;
      const float y = std::round(YOf(v)) + 0.5f;
      g.DrawLine(grid, kLeft, y, kLeft + kWidth, y);
      g.DrawString(NXGetScaleTickText(v, kVoltMin, kVoltMax, false, 3, false) + " V", font,
                   TIGPRectF(0, y - 8, kLeft - 8, 16), right, text);
    }
    TIGPStringFormat centre;
    centre.Alignment = saCenter;
    for (int i = 0; i <= 10; ++i) {
      const double t = i * kTimeMax / 10;
      const float x = std::round(XOf(t)) + 0.5f;
      g.DrawLine(grid, x, kTop, x, kTop + kHeight);
      g.DrawString(NXGetScaleTickText(t, 0, kTimeMax, true, 1, false) + " ms", font,
                   TIGPRectF(x - 30, kTop + kHeight + 6, 60, 14), centre, text);
    }
  }
};

// One trace: a function of time drawn with a pen description.
class TTraceLayer : public TRGDrawLayer {
 public:
  TTraceLayer(TComponent* AOwner, double (*AFunction)(double), TGPColor AColor, float AWidth)
      : TRGDrawLayer(AOwner), FFunction(AFunction), FPen(new TRGGPPen(nullptr)) {
    FPen->SetColor(AColor);
    FPen->SetWidth(AWidth);
    FPen->SetLineJoin(ljRound);
  }
  TRGGPPen& Pen() { return *FPen; }

 protected:
  void IntDraw(IGPGraphics& g, std::int32_t, std::int32_t) override {
    std::vector<TIGPPointF> points;
    for (int i = 0; i <= 400; ++i) {
      const double t = i * kTimeMax / 400;
      points.push_back({XOf(t), YOf(FFunction(t))});
    }
    const std::uint32_t state = g.Save();
    g.SetClip(TIGPRectF(kLeft, kTop, kWidth, kHeight));
    g.DrawLines(FPen->GetGPPen({kLeft, kTop, kWidth, kHeight}), points);
    g.Restore(state);
  }

 private:
  double (*FFunction)(double);
  std::unique_ptr<TRGGPPen> FPen;
};

// A marker on the first trace's peak and a cursor diamond, drawn through the canvas.
class TMarkerLayer : public TRGDrawLayer {
 public:
  using TRGDrawLayer::TRGDrawLayer;

 protected:
  void IntDraw(IGPGraphics& g, std::int32_t, std::int32_t) override {
    const float x = XOf(2.5), y = YOf(1.5);
    RGFillBulb3DF(g, 0xFFFFC000u, {x - 7, y - 7, 14, 14});
    RGGlossRoundDiamond3DF(g, 0xFF60A0FFu, 0xFF2040A0u, {XOf(7.5) - 12, kTop + kHeight - 30, 24, 24}, {8, 8});
  }
};

double Sine(double t) { return 1.5 * std::sin(2 * M_PI * t / 10 * 2); }
double Damped(double t) { return 1.8 * std::exp(-t / 4) * std::cos(2 * M_PI * t * 0.7); }

}  // namespace

int main(int argc, char** argv) {
  const std::string out = argc > 1 ? argv[1] : "docs/draw-layers-demo.png";
  // A display component with its layer list; the layers are its children.
  class TScope : public TLockComponent {
   public:
    TScope() : TLockComponent(nullptr), Layers(new TRGDrawLayers(this)) {}
    std::unique_ptr<TRGDrawLayers> Layers;
  };
  auto* scope = new TScope();
  auto add = [&](TRGDrawLayer* ALayer, const char* AName) {
    ALayer->SetName(AName);
    ALayer->SetList(scope->Layers.get());
    return ALayer;
  };
  add(new TBezelLayer(scope), "Bezel");
  add(new TGridLayer(scope), "Grid");
  add(new TTraceLayer(scope, &Sine, 0xFF40FF80u, 2), "Trace1");
  auto* damped = static_cast<TTraceLayer*>(add(new TTraceLayer(scope, &Damped, 0xFFFFD040u, 1.5f), "Trace2"));
  damped->Pen().DashStyle()->SetStyle(dsDash);
  add(new TMarkerLayer(scope), "Marker");

  TRGCairoCanvas canvas(700, 370);
  canvas.Brush().Color = 0xFFFFFFFFu;
  canvas.Pen().Style = rpsClear;
  canvas.FillRect({0, 0, 700, 370});
  scope->Layers->Draw(canvas, 700, 370);
  canvas.SaveToPNG(out);
  std::printf("wrote %s (%d layers)\n", out.c_str(), scope->Layers->Count());
  scope->Free();
  return 0;
}
