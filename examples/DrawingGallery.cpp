// DrawingGallery: one picture of what the drawing properties and the draw
// layers do. Every brush kind, pen and font in it is drawn from its
// streamable description (TRGGPBrush, TRGGPPen, TRGGPFont); then the 3-D
// frames, gloss shapes, bulbs and round diamonds of the drawing routines;
// and at the bottom three draw layers (a grid with tick-text labels, a sine
// trace, markers with annotations), each alone and stacked in a layer list
// whose two lower layers come from a composite layer's cached images.
// Usage:
//   drawing_gallery [output.png]     (default docs/drawing-gallery.png)
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "nxruntime.h"

using namespace nx;

namespace {

constexpr float kPageWidth = 1200, kPageHeight = 1410;
constexpr TGPColor kInk = 0xFF28304Au, kCaptionInk = 0xFF4A5060u;

TIntfPtr<IGPBrush> Solid(TGPColor c) { return TIntfPtr<IGPBrush>(new TIGPSolidBrush(c)); }
TIntfPtr<TIGPPen> Pen(TGPColor c, float w) { return TIntfPtr<TIGPPen>(new TIGPPen(c, w)); }
TIntfPtr<TIGPFont> Font(float ASize, TIGPFontStyle AStyle = 0) {
  return TIntfPtr<TIGPFont>(new TIGPFont("sans-serif", ASize, AStyle));
}

// A section heading with a rule under it.
void Heading(IGPGraphics& g, float y, const std::string& AText, const std::string& ANote = "") {
  g.DrawString(AText, Font(13, fsBold), TIGPPointF{20, y}, Solid(kInk));
  if (!ANote.empty()) {
    const float w = g.MeasureString(AText, Font(13, fsBold)).Width;
    g.DrawString(ANote, Font(9, fsItalic), TIGPPointF{32 + w, y + 5}, Solid(kCaptionInk));
  }
  g.DrawLine(Pen(0xFFB8BED0u, 1), 20, y + 22.5f, kPageWidth - 20, y + 22.5f);
}

// A caption centred under a rectangle (one or two lines).
void Caption(IGPGraphics& g, const TIGPRectF& r, const std::string& AText, float AGap = 5) {
  TIGPStringFormat fmt;
  fmt.Alignment = saCenter;
  g.DrawString(AText, Font(8.5f), TIGPRectF(r.X - 14, r.Bottom() + AGap, r.Width + 28, 30), fmt, Solid(kCaptionInk));
}

// A checkerboard that shows where a layer leaves the surface transparent.
void Checkerboard(IGPGraphics& g, const TIGPRectF& r) {
  g.FillRectangle(TIntfPtr<IGPBrush>(new TIGPHatchBrush(hsLargeCheckerBoard, 0xFFDADDE4u, 0xFFF4F5F8u)), r);
}

TIntfPtr<IGPImage> TextureTile() {
  TIntfPtr<IGPImage> img(new TIGPBitmap(28, 28));
  TIntfPtr<IGPGraphics> g = TIGPGraphics::FromImage(img);
  g->Clear(0xFFFFF2D6u);
  g->FillEllipse(Solid(0xFFE0702Au), TIGPRectF(4, 4, 13, 13));
  g->FillRectangle(Solid(0xFF3A78B8u), TIGPRectF(17, 17, 9, 9));
  g->DrawLine(Pen(0xFF7A9A3Au, 2), 0, 27, 28, 27);
  return img;
}

// ---------------------------------------------------------------- brushes

void DrawBrushes(IGPGraphics& g, float y) {
  Heading(g, y, "Brushes", "TRGGPBrush: one description, five brush kinds");
  constexpr int kCount = 6;
  TRGGPBrush brushes[kCount];
  brushes[0].SetColor(0xD02A62C8u);
  brushes[1].SetBrushType(btHatchFill);
  brushes[1].Hatch()->SetStyle(hsDiagonalBrick);
  brushes[1].Hatch()->SetForegroundColor(0xFF8A3A20u);
  brushes[1].Hatch()->SetBackgroundColor(0xFFF6DCC8u);
  brushes[2].SetBrushType(btTextureFill);
  brushes[2].Texture()->SetGPImage(TextureTile());
  brushes[2].SetWrapMode(wmTile);  // the default clamps: one tile at the brush origin
  brushes[3].SetBrushType(btLinearGradient);
  brushes[3].SetLinearGradientMode(lmForwardDiagonal);
  brushes[3].Gradient()->Colors()->Add(0xFFE02828u);
  brushes[3].Gradient()->Colors()->Add(0xFF8028C0u);
  for (auto [color, at] : {std::pair{0xFFE02828u, 0.0f}, {0xFFFFC020u, 0.33f}, {0xFF28B050u, 0.66f}, {0xFF2870E0u, 1.0f}})
    brushes[3].InterpolationColors()->Add(color, at);
  brushes[4].SetBrushType(btLinearGradient);
  brushes[4].SetLinearGradientMode(lmVertical);
  brushes[4].Gradient()->Colors()->Add(0xFF103070u);
  brushes[4].Gradient()->Colors()->Add(0xFF9CD8FFu);
  brushes[4].Blend()->SetEnabled(true);
  brushes[4].Blend()->Shape()->SetShapeType(bstBell);
  brushes[4].Blend()->Shape()->SetFocus(0.5f);
  const char* captions[kCount] = {"solid (translucent)",       "hatch: diagonal brick",
                                  "texture: a tiled image",    "linear gradient:\nfour interpolation colours",
                                  "linear gradient:\nbell-shaped blend", "path gradient: a hexagon\nwith six colours"};
  for (int i = 0; i < kCount; ++i) {
    const TIGPRectF r(30.0f + i * 193, y + 36, 160, 84);
    if (i == 5) {
      // The path gradient: a hexagon of points, a colour for each and a white centre.
      TRGGPBrush& b = brushes[5];
      b.SetBrushType(btPathGradient);
      const TGPColor colors[6] = {0xFFE03030u, 0xFFF0A020u, 0xFF40B040u, 0xFF20A0C0u, 0xFF3050D0u, 0xFFB030B0u};
      std::vector<TIGPPointF> hexagon;
      for (int k = 0; k < 6; ++k) {
        const double a = M_PI / 3 * k;
        hexagon.push_back({float(r.X + 80 + 80 * std::cos(a)), float(r.Y + 42 + 46 * std::sin(a))});
        b.Gradient()->Path()->Add(hexagon.back().X, hexagon.back().Y);
        b.Gradient()->Colors()->Add(colors[k]);
      }
      b.Gradient()->CenterColor()->SetColor(0xFFFFFFFFu);
      g.FillPolygon(b.GetGPBrush(r), hexagon);
    } else {
      if (i == 0) Checkerboard(g, r);  // shows the translucency
      g.FillRectangle(brushes[i].GetGPBrush(r), r);
      g.DrawRectangle(Pen(0x40000000u, 1), TIGPRectF(r.X - 0.5f, r.Y - 0.5f, r.Width + 1, r.Height + 1));
    }
    Caption(g, r, captions[i]);
  }
}

// ---------------------------------------------------------------- pens

// A pen description of a colour and width.
std::unique_ptr<TRGGPPen> PenOf(TGPColor AColor, float AWidth) {
  auto pen = std::make_unique<TRGGPPen>();
  pen->SetColor(AColor);
  pen->SetWidth(AWidth);
  return pen;
}

void DrawPens(IGPGraphics& g, float y) {
  Heading(g, y, "Pens", "TRGGPPen: dashes, joins, compound lines, brushes; caps on the built pen");
  const TIGPRectF area(0, 0, kPageWidth, kPageHeight);
  // Dash styles.
  const char* dashNames[] = {"solid", "dash", "dot", "dash dot", "dash dot dot", "custom 4 1 1 1 1 1"};
  for (int i = 0; i < 6; ++i) {
    const float ly = y + 44 + i * 21.0f;
    auto pen = PenOf(0xFF24407Au, 3);
    pen->DashStyle()->SetStyle(TIGPDashStyle(i));
    if (i == 5)
      for (float v : {4.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f}) pen->DashStyle()->CustomDash()->Add(v);
    g.DrawLine(pen->GetGPPen(area), 30, ly, 230, ly);
    g.DrawString(dashNames[i], Font(8.5f), TIGPPointF{240, ly - 7}, Solid(kCaptionInk));
  }
  Caption(g, TIGPRectF(30, y + 162, 250, 0), "dash styles, width 3", 0);

  // Joins.
  const TIGPLineJoin joins[] = {ljMiter, ljBevel, ljRound};
  const char* joinNames[] = {"miter", "bevel", "round"};
  for (int i = 0; i < 3; ++i) {
    auto pen = PenOf(0xFF9A5A1Eu, 13);
    pen->SetLineJoin(joins[i]);
    pen->SetMiterLimit(10);
    const float x = 370.0f + i * 82;
    g.DrawLines(pen->GetGPPen(area), {{x, y + 140}, {x + 28, y + 56}, {x + 56, y + 140}});
    g.DrawLines(Pen(0xFFFFFFFFu, 1), {{x, y + 140}, {x + 28, y + 56}, {x + 56, y + 140}});
    Caption(g, TIGPRectF(x, y + 150, 56, 0), joinNames[i], 0);
  }

  // Caps: the description builds the pen; the caps are set on a copy of it.
  const TIGPLineCap caps[] = {lcFlat, lcRound, lcTriangle, lcArrowAnchor, lcRoundAnchor, lcDiamondAnchor};
  const char* capNames[] = {"flat", "round", "triangle", "arrow", "round anchor", "diamond anchor"};
  auto capDescription = PenOf(0xFF2C6E58u, 7);
  for (int i = 0; i < 6; ++i) {
    TIntfPtr<TIGPPen> pen = capDescription->GetGPPen(area)->Clone();
    pen->SetStartCap(caps[i]);
    pen->SetEndCap(caps[i]);
    const float ly = y + 50 + i * 19.0f;
    g.DrawLine(pen, 660, ly, 760, ly);
    g.DrawLine(Pen(0xFFFFFFFFu, 1), 660, ly, 760, ly);
    g.DrawString(capNames[i], Font(8.5f), TIGPPointF{780, ly - 7}, Solid(kCaptionInk));
  }
  Caption(g, TIGPRectF(660, y + 162, 190, 0), "line caps", 0);

  // Compound lines and a pen painting with a gradient brush.
  auto compound = PenOf(0xFF6A2C9Au, 18);
  for (float v : {0.0f, 0.15f, 0.35f, 0.65f, 0.85f, 1.0f}) compound->Compound()->Add(v);
  compound->SetLineJoin(ljRound);
  g.DrawCurve(compound->GetGPPen(area), {{905, y + 100}, {950, y + 55}, {1000, y + 120}, {1050, y + 60}}, 0.5f);
  Caption(g, TIGPRectF(905, y + 130, 150, 0), "compound: 3 strokes", 0);
  auto gradientPen = PenOf(0, 6);
  gradientPen->Brush()->SetBrushType(btLinearGradient);
  gradientPen->Brush()->Gradient()->Colors()->Add(0xFFE03A2Au);
  gradientPen->Brush()->Gradient()->Colors()->Add(0xFF2A5AE0u);
  gradientPen->SetLineJoin(ljRound);
  std::vector<TIGPPointF> wave;
  for (int k = 0; k <= 30; ++k) wave.push_back({1075.0f + k * 3.3f, y + 92 + 32 * float(std::sin(k * 0.42))});
  g.DrawLines(gradientPen->GetGPPen(TIGPRectF(1075, y + 60, 99, 70)), wave);
  Caption(g, TIGPRectF(1075, y + 130, 99, 0), "gradient brush", 0);
}

// ---------------------------------------------------------------- fonts

void DrawFonts(IGPGraphics& g, float y) {
  Heading(g, y, "Fonts", "TRGGPFont: name, style, size, brush; outlined text with its pens");
  struct TSample {
    const char* Text;
    std::uint32_t Style;
    std::int32_t Size;
    TGPColor Color;
  } samples[] = {{"Regular 11 (the default name falls back to the system sans)", 0, 11, 0xFF202020u},
                 {"Bold 11", fsBold, 11, 0xFF202020u},
                 {"Italic 11", fsItalic, 11, 0xFF204070u},
                 {"Underline and strikeout", fsUnderline | fsStrikeout, 11, 0xFF803020u},
                 {"Bold italic 15", fsBold | fsItalic, 15, 0xFF206040u}};
  float ly = y + 36;
  for (const TSample& s : samples) {
    TRGGPFont font;
    font.SetStyle(s.Style);
    font.SetSize(s.Size);
    font.Brush()->SetColor(s.Color);
    g.DrawString(s.Text, font.GetGPFont(), TIGPPointF{30, ly}, font.Brush()->GetGPBrush({}));
    ly += float(s.Size) * 1.7f + 2;
  }
  // Sizes.
  float x = 470;
  for (std::int32_t size : {7, 9, 12, 16, 21, 27}) {
    TRGGPFont font;
    font.SetName("serif");
    font.SetSize(size);
    font.Brush()->SetColor(0xFF30364Au);
    g.DrawString("Aa", font.GetGPFont(), TIGPPointF{x, y + 92 - size * 1.5f}, font.Brush()->GetGPBrush({}));
    x += size * 1.55f + 12;
  }
  Caption(g, TIGPRectF(470, y + 100, 230, 0), "serif at 7 to 27 points", 2);

  // Outlined text: the font's gradient brush fills the text path, its pen
  // and an additional dashed pen outline it.
  TRGGPFont outlined;
  outlined.SetStyle(fsBold);
  outlined.SetSize(46);
  outlined.Brush()->SetBrushType(btLinearGradient);
  outlined.Brush()->SetLinearGradientMode(lmVertical);
  outlined.Brush()->Gradient()->Colors()->Add(0xFFFFE070u);
  outlined.Brush()->Gradient()->Colors()->Add(0xFFE0482Au);
  outlined.Pen()->SetEnabled(true);
  outlined.Pen()->SetColor(0xFF50200Cu);
  outlined.Pen()->SetWidth(2);
  outlined.Pen()->SetLineJoin(ljRound);
  TRGGPPen* extra = outlined.Pen()->AdditionalPens()->Add()->Pen();
  extra->SetColor(0xC0FFFFFFu);
  extra->SetWidth(0.8f);
  extra->DashStyle()->SetStyle(dsDot);
  TIntfPtr<TIGPGraphicsPath> text(new TIGPGraphicsPath);
  text->AddString("nxruntime", outlined.GetGPFont()->GetFamily(), fsBold, outlined.GetGPFont()->GetSizeInPixels(),
                  TIGPPointF{790, y + 38});
  outlined.DrawOnGraphics(g, text);
  Caption(g, TIGPRectF(790, y + 100, 330, 0), "text path: gradient fill, pen, dotted extra pen", 2);
}

// ---------------------------------------------------------------- drawing routines

void DrawRoutines(IGPGraphics& g, float y) {
  Heading(g, y, "3-D frames, gloss shapes, bulbs and round diamonds", "the free drawing routines");
  const TIGPRectF panel(20, y + 32, kPageWidth - 40, 250);
  g.FillPath(Solid(0xFFDCE0E6u), RGCreateRoundRectanglePathF(panel, {16, 16}));
  constexpr TGPColor kLight = 0xFFFFFFFFu, kDark = 0xFF6A7080u;
  const TIGPSizeF corner{18, 18};
  // Frames: light from the upper left.
  struct TFrame {
    const char* Name;
    void (*Draw)(IGPGraphics&, const TIGPRectF&);
  } frames[] = {
      {"RGDrawFrame3DF", [](IGPGraphics& g, const TIGPRectF& r) { RGDrawFrame3DF(g, kLight, kDark, r, 3); }},
      {"sunken (colours swapped)", [](IGPGraphics& g, const TIGPRectF& r) { RGDrawFrame3DF(g, kDark, kLight, r, 3); }},
      {"RGDrawRound\nRectangle3DF",
       [](IGPGraphics& g, const TIGPRectF& r) { RGDrawRoundRectangle3DF(g, kLight, kDark, r, {18, 18}, 3); }},
      {"RGDrawDiamond\nFrame3DF", [](IGPGraphics& g, const TIGPRectF& r) { RGDrawDiamondFrame3DF(g, kLight, kDark, r, 3); }},
      {"RGDrawRound\nDiamondFrame3DF",
       [](IGPGraphics& g, const TIGPRectF& r) { RGDrawRoundDiamondFrame3DF(g, kLight, kDark, r, {18, 14}, 3); }},
      {"RGDrawEllipse3DF", [](IGPGraphics& g, const TIGPRectF& r) { RGDrawEllipse3DF(g, kLight, kDark, r, 3); }},
      {"RGDrawGlobe\nEllipse3DF",
       [](IGPGraphics& g, const TIGPRectF& r) { RGDrawGlobeEllipse3DF(g, kLight, kDark, r, 4); }},
      {"RGDrawLine3DF:\netched, raised", [](IGPGraphics& g, const TIGPRectF& r) {
         RGDrawLine3DF(g, kDark, kLight, r.X, r.Y + 18, r.Right(), r.Y + 18, 1.5f, false);
         RGDrawLine3DF(g, kDark, kLight, r.X, r.Y + 42, r.Right(), r.Y + 42, 1.5f, true);
       }},
  };
  for (int i = 0; i < 8; ++i) {
    const TIGPRectF r(42.0f + i * 143, y + 50, 100, 62);
    frames[i].Draw(g, r);
    Caption(g, r, frames[i].Name, 4);
  }
  // Fills: bulbs, gloss shapes, a round diamond with a description's brush and pen.
  const float fy = y + 162;
  const TGPColor bulbs[] = {0xFFE02828u, 0xFFFFB000u, 0xFF28C040u, 0xFF2870F0u};
  for (int i = 0; i < 4; ++i) RGFillBulb3DF(g, bulbs[i], TIGPRectF(42.0f + (i % 2) * 52, fy + (i / 2) * 34, 30, 30));
  Caption(g, TIGPRectF(42, fy + 60, 82, 0), "RGFillBulb3DF", 4);
  struct TFill {
    const char* Name;
    void (*Draw)(IGPGraphics&, const TIGPRectF&);
  } fills[] = {
      {"RGGlossRectangle3DF:\none colour", [](IGPGraphics& g, const TIGPRectF& r) { RGGlossRectangle3DF(g, 0xFF2A7AD0u, r); }},
      {"RGGlossRectangle3DF:\ntwo colours", [](IGPGraphics& g, const TIGPRectF& r) { RGGlossRectangle3DF(g, 0xFFF07030u, 0xFF902010u, r); }},
      {"RGGlossEllipse3DF", [](IGPGraphics& g, const TIGPRectF& r) { RGGlossEllipse3DF(g, 0xFF30B060u, r); }},
      {"RGGlossRound\nRectangle3DF",
       [](IGPGraphics& g, const TIGPRectF& r) { RGGlossRoundRectangle3DF(g, 0xFF8040C0u, r, {20, 20}); }},
      {"RGGlossDiamond3DF", [](IGPGraphics& g, const TIGPRectF& r) { RGGlossDiamond3DF(g, 0xFFFFC030u, 0xFFC06000u, r); }},
      {"RGGlossRound\nDiamond3DF",
       [](IGPGraphics& g, const TIGPRectF& r) { RGGlossRoundDiamond3DF(g, 0xFF40C8E0u, 0xFF106080u, r, {20, 14}); }},
      {"RGDrawRoundDiamondF:\nhatch, dashed pen", [](IGPGraphics& g, const TIGPRectF& r) {
         TRGGPBrush brush;
         brush.SetBrushType(btHatchFill);
         brush.Hatch()->SetStyle(hsWideUpwardDiagonal);
         brush.Hatch()->SetForegroundColor(0xFF3A6A9Au);
         brush.Hatch()->SetBackgroundColor(0xFFEAF2FAu);
         TRGGPPen pen;
         pen.SetColor(0xFF1A3A5Au);
         pen.SetWidth(2);
         pen.DashStyle()->SetStyle(dsDash);
         RGDrawRoundDiamondF(g, pen.GetGPPen(r), brush.GetGPBrush(r), r, {22, 14});
       }},
  };
  for (int i = 0; i < 7; ++i) {
    const TIGPRectF r(185.0f + i * 143, fy, 100, 64);
    fills[i].Draw(g, r);
    Caption(g, r, fills[i].Name, 4);
  }
  (void)corner;
}

// ---------------------------------------------------------------- draw layers

// The layers draw in a plot of 640 x 420 units; a pass's scale factors fit
// it to the surface (the small panels draw the same layers at a third).
constexpr float kPlotLeft = 74, kPlotTop = 26, kPlotWidth = 540, kPlotHeight = 322;
constexpr double kTimeMax = 10, kVoltMin = -2, kVoltMax = 2;
float XOf(double t) { return kPlotLeft + float(t / kTimeMax) * kPlotWidth; }
float YOf(double v) { return kPlotTop + float((kVoltMax - v) / (kVoltMax - kVoltMin)) * kPlotHeight; }
double Signal(double t) { return 1.6 * std::sin(2 * M_PI * t / 4); }

// Layer 1: the plot's background, a dotted grid and the scale labels from the tick-text routines.
class TGridLayer : public TRGDrawLayer {
 public:
  using TRGDrawLayer::TRGDrawLayer;

 protected:
  void IntDraw(IGPGraphics& g, std::int32_t AWidth, std::int32_t AHeight) override {
    g.FillPath(Solid(0xFF16202Au), RGCreateRoundRectanglePathF(TIGPRectF(0, 0, float(AWidth), float(AHeight)), {24, 24}));
    g.FillRectangle(Solid(0xFF0A1218u), {kPlotLeft, kPlotTop, kPlotWidth, kPlotHeight});
    TIntfPtr<TIGPPen> grid = Pen(0xFF34505Cu, 1);
    grid->SetDashStyle(dsDot);
    TIntfPtr<TIGPFont> font = Font(9);
    TIntfPtr<IGPBrush> text = Solid(0xFFB0C4CCu);
    TIGPStringFormat right;
    right.Alignment = saFar;
    right.LineAlignment = saCenter;
    for (int i = 0; i <= 8; ++i) {
      const double v = kVoltMin + i * (kVoltMax - kVoltMin) / 8;
      const float y = std::round(YOf(v)) + 0.5f;
      g.DrawLine(i == 4 ? Pen(0xFF5A7884u, 1) : grid, kPlotLeft, y, kPlotLeft + kPlotWidth, y);
      g.DrawString(NXGetScaleTickText(v, kVoltMin, kVoltMax, false, 3, false), font, TIGPRectF(0, y - 8, kPlotLeft - 8, 16),
                   right, text);
    }
    TIGPStringFormat centre;
    centre.Alignment = saCenter;
    for (int i = 0; i <= 10; ++i) {
      const double t = i * kTimeMax / 10;
      const float x = std::round(XOf(t)) + 0.5f;
      g.DrawLine(grid, x, kPlotTop, x, kPlotTop + kPlotHeight);
      g.DrawString(NXGetScaleTickText(t, 0, kTimeMax, true, 1, false), font, TIGPRectF(x - 30, kPlotTop + kPlotHeight + 6, 60, 14),
                   centre, text);
    }
    g.DrawString("time (ms)", Font(9, fsItalic), TIGPRectF(kPlotLeft, kPlotTop + kPlotHeight + 26, kPlotWidth, 16), centre,
                 text);
    const std::uint32_t state = g.Save();
    g.TranslateTransform(16, kPlotTop + kPlotHeight / 2);
    g.RotateTransform(-90);
    g.DrawString("volts", Font(9, fsItalic), TIGPRectF(-40, -8, 80, 16), centre, text);
    g.Restore(state);
    RGDrawFrame3DF(g, 0xFF000000u, 0xFF5A6A78u, TIGPRectF(kPlotLeft - 2, kPlotTop - 2, kPlotWidth + 4, kPlotHeight + 4), 2);
  }
};

// Layer 2: the sine, drawn with a pen description over a wide translucent glow.
class TTraceLayer : public TRGDrawLayer {
 public:
  explicit TTraceLayer(TComponent* AOwner) : TRGDrawLayer(AOwner), FPen(new TRGGPPen(this)), FGlow(new TRGGPPen(this)) {
    FPen->SetColor(0xFF58F0A0u);
    FPen->SetWidth(2);
    FPen->SetLineJoin(ljRound);
    FGlow->SetColor(0x3058F0A0u);
    FGlow->SetWidth(8);
    FGlow->SetLineJoin(ljRound);
  }

 protected:
  void IntDraw(IGPGraphics& g, std::int32_t, std::int32_t) override {
    std::vector<TIGPPointF> points;
    for (int i = 0; i <= 600; ++i) {
      const double t = i * kTimeMax / 600;
      points.push_back({XOf(t), YOf(Signal(t))});
    }
    const TIGPRectF plot(kPlotLeft, kPlotTop, kPlotWidth, kPlotHeight);
    const std::uint32_t state = g.Save();
    g.SetClip(plot);
    g.DrawLines(FGlow->GetGPPen(plot), points);
    g.DrawLines(FPen->GetGPPen(plot), points);
    g.Restore(state);
  }

 private:
  std::unique_ptr<TRGGPPen> FPen, FGlow;
};

// Layer 3: markers on the peaks and troughs, a cursor with its readout, a note.
class TMarkerLayer : public TRGDrawLayer {
 public:
  using TRGDrawLayer::TRGDrawLayer;

 protected:
  void IntDraw(IGPGraphics& g, std::int32_t, std::int32_t) override {
    TIntfPtr<TIGPFont> font = Font(9, fsBold);
    for (double t = 1; t < kTimeMax; t += 2) {
      const bool peak = Signal(t) > 0;
      const float x = XOf(t), y = YOf(Signal(t));
      if (peak) RGFillBulb3DF(g, 0xFFFFB020u, {x - 7, y - 7, 14, 14});
      else RGGlossRoundDiamond3DF(g, 0xFF70B0FFu, 0xFF2050B0u, {x - 9, y - 9, 18, 18}, {6, 6});
    }
    // The cursor.
    const double tc = 6.5;
    const float xc = XOf(tc), yc = YOf(Signal(tc));
    TIntfPtr<TIGPPen> dashed = Pen(0xC0FFFFFFu, 1);
    dashed->SetDashStyle(dsDash);
    g.DrawLine(dashed, xc + 0.5f, kPlotTop, xc + 0.5f, kPlotTop + kPlotHeight);
    g.DrawEllipse(Pen(0xFFFFFFFFu, 1.5f), TIGPRectF(xc - 5, yc - 5, 10, 10));
    const std::string readout = "t = " + NXGetScaleTickText(tc, 0, kTimeMax, true, 2, false) + " ms, v = " +
                                NXGetScaleTickText(Signal(tc), kVoltMin, kVoltMax, true, 2, false) + " V";
    const float w = g.MeasureString(readout, font).Width + 16;
    const TIGPRectF box(xc - w / 2 + 22, kPlotTop + 10, w, 22);
    g.FillPath(Solid(0xD0203848u), RGCreateRoundRectanglePathF(box, {8, 8}));
    g.DrawPath(Pen(0xFF6A8CA0u, 1), RGCreateRoundRectanglePathF(box, {8, 8}));
    TIGPStringFormat centre;
    centre.Alignment = saCenter;
    centre.LineAlignment = saCenter;
    g.DrawString(readout, font, box, centre, Solid(0xFFFFFFFFu));
    // A note on the first peak.
    const float xp = XOf(1), yp = YOf(Signal(1));
    g.DrawLine(Pen(0xFFFFD070u, 1), xp + 6, yp - 4, xp + 40, yp - 18);
    g.DrawString("peak " + NXGetScaleTickText(Signal(1), kVoltMin, kVoltMax, true, 2, false) + " V", font,
                 TIGPPointF{xp + 42, yp - 28}, Solid(0xFFFFD070u));
  }
};

// The display that holds the layer list.
class TPlotDisplay : public TLockComponent {
 public:
  TPlotDisplay() : TLockComponent(nullptr), Layers(new TRGDrawLayers(this)) {}
  std::unique_ptr<TRGDrawLayers> Layers;
};

void DrawLayers(IGPGraphics& g, float y) {
  Heading(g, y, "Draw layers", "three layers over a labelled sine; a composite layer caches the lower two");
  auto* display = new TPlotDisplay;
  auto add = [&](TRGDrawLayer* ALayer, const char* AName) {
    ALayer->SetName(AName);
    ALayer->SetList(display->Layers.get());
    return ALayer;
  };
  auto* composite = static_cast<TRGCompositeLayer*>(add(new TRGCompositeLayer(display), "Cache"));
  TRGDrawLayer* layers[3] = {add(new TGridLayer(display), "Grid"), add(new TTraceLayer(display), "Trace"),
                             add(new TMarkerLayer(display), "Markers")};
  composite->AddLayer(layers[0]);
  composite->AddLayer(layers[1]);

  // Each layer alone, at a third of the size, over a checkerboard where it leaves the surface transparent.
  const char* names[3] = {"1  Grid: tick-text labels", "2  Trace: a pen description", "3  Markers and annotations"};
  constexpr float kSmall = 0.33f;
  for (int i = 0; i < 3; ++i) {
    const TIGPRectF r(30, y + 40 + i * 152.0f, 640 * kSmall, 420 * kSmall);
    TRGCairoCanvas canvas(int(r.Width), int(r.Height));
    layers[i]->DoLayerDraw(canvas, 640, 420, kSmall, kSmall, false);
    Checkerboard(g, r);
    g.DrawImage(canvas.Image(), r.X, r.Y);
    g.DrawRectangle(Pen(0xFFB8BED0u, 1), TIGPRectF(r.X - 0.5f, r.Y - 0.5f, r.Width + 1, r.Height + 1));
    g.DrawString(names[i], Font(9, fsBold), TIGPPointF{r.Right() + 10, r.Y + r.Height / 2 - 8}, Solid(kInk));
  }
  // Arrow into the stacked picture.
  TIntfPtr<TIGPPen> arrow = Pen(0xFF8890A8u, 3);
  arrow->SetEndCap(lcArrowAnchor);
  g.DrawLine(arrow, 438, y + 236, 482, y + 236);

  // Stacked: the list draws the layers in order, the last on top; grid and
  // trace come from the composite's images from the second pass on.
  const TIGPRectF big(490, y + 40, 640 * 1.05f, 420 * 1.05f);
  TRGCairoCanvas canvas(int(big.Width), int(big.Height));
  for (int pass = 0; pass < 2; ++pass) {
    canvas.GetGraphics()->Clear(0);
    display->Layers->Draw(canvas, 640, 420, 1.05f, 1.05f);
  }
  g.DrawImage(canvas.Image(), big.X, big.Y);
  Caption(g, big, "stacked in a layer list: markers on top; grid and trace copied from the composite layer's images", 6);
  std::printf("draw layers: %d in the list, %llu images drawn by the composite in two passes\n",
              display->Layers->Count(), static_cast<unsigned long long>(composite->ImagesDrawn()));
  display->Free();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string out = argc > 1 ? argv[1] : "docs/drawing-gallery.png";
  TRGCairoCanvas page{std::int32_t(kPageWidth), std::int32_t(kPageHeight)};
  IGPGraphics& g = *page.GetGraphics();
  g.Clear(0xFFFFFFFFu);
  g.DrawString("Drawing properties and draw layers", Font(18, fsBold), TIGPPointF{20, 14}, Solid(0xFF202040u));
  DrawBrushes(g, 56);
  DrawPens(g, 230);
  DrawFonts(g, 425);
  DrawRoutines(g, 588);
  DrawLayers(g, 882);
  page.SaveToPNG(out);
  std::printf("wrote %s\n", out.c_str());
  return 0;
}
