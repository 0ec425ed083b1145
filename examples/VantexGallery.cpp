// VantexGallery: one picture of what the graphics layer draws: every brush
// type, the hatch styles, gradients with blends and interpolation colours,
// dashed, compound and capped pens, and fonts. Usage:
//   vantex_gallery [output.png]     (default docs/vantex-gallery.png)
#include <cmath>
#include <cstdio>
#include <string>

#include "nxruntime.h"

using namespace nx;

namespace {

TIntfPtr<IGPBrush> Solid(TGPColor c) { return TIntfPtr<IGPBrush>(new TIGPSolidBrush(c)); }
TIntfPtr<TIGPPen> Pen(TGPColor c, float w) { return TIntfPtr<TIGPPen>(new TIGPPen(c, w)); }

void Heading(IGPGraphics& g, float y, const char* text) {
  TIntfPtr<TIGPFont> f(new TIGPFont("sans-serif", 13, fsBold));
  g.DrawString(text, f, TIGPPointF{20, y}, Solid(0xFF303050u));
  g.DrawLine(Pen(0xFFB0B0C8u, 1), 20, y + 21.5f, 980, y + 21.5f);
}

void Label(IGPGraphics& g, const TIGPRectF& r, const std::string& text) {
  static TIntfPtr<TIGPFont> f(new TIGPFont("sans-serif", 8));
  TIGPStringFormat fmt;
  fmt.Alignment = saCenter;
  g.DrawString(text, f, TIGPRectF(r.X - 10, r.Bottom() + 2, r.Width + 20, 14), fmt, Solid(0xFF404040u));
}

TIntfPtr<IGPImage> TextureImage() {
  TIntfPtr<IGPImage> img(new TIGPBitmap(24, 24));
  TIntfPtr<IGPGraphics> g = TIGPGraphics::FromImage(img);
  g->Clear(0xFFFFF4D0u);
  g->FillEllipse(Solid(0xFFE07020u), TIGPRectF(3, 3, 14, 14));
  g->DrawLine(Pen(0xFF2060A0u, 2), 0, 22, 24, 22);
  return img;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string out = argc > 1 ? argv[1] : "docs/vantex-gallery.png";
  TIntfPtr<IGPImage> img(new TIGPBitmap(1000, 940));
  TIntfPtr<IGPGraphics> g = TIGPGraphics::FromImage(img);
  g->Clear(0xFFFFFFFFu);
  TIntfPtr<TIGPFont> title(new TIGPFont("sans-serif", 18, fsBold));
  g->DrawString("Vantex gallery", title, TIGPPointF{20, 12}, Solid(0xFF202040u));

  // Brush types.
  Heading(*g, 50, "Brushes: solid, hatch, texture, linear gradient, path gradient");
  {
    const TIGPRectF r[5] = {{20, 85, 160, 70}, {210, 85, 160, 70}, {400, 85, 160, 70}, {590, 85, 160, 70}, {780, 85, 160, 70}};
    g->FillRectangle(Solid(0xC02060C0u), r[0]);
    g->FillRectangle(TIntfPtr<IGPBrush>(new TIGPHatchBrush(hsDiagonalCross, 0xFF206020u, 0xFFE0F0E0u)), r[1]);
    g->FillRectangle(TIntfPtr<IGPBrush>(new TIGPTextureBrush(TextureImage())), r[2]);
    g->FillRectangle(TIntfPtr<IGPBrush>(new TIGPLinearGradientBrush(r[3], 0xFFFFD000u, 0xFFC00040u, lgmHorizontal)), r[3]);
    TIntfPtr<TIGPGraphicsPath> ellipse(new TIGPGraphicsPath);
    ellipse->AddEllipse(r[4]);
    auto* pg = new TIGPPathGradientBrush(ellipse);
    pg->SetCenterColor(0xFFFFFFFFu);
    pg->SetSurroundColors({0xFF3040A0u});
    g->FillPath(TIntfPtr<IGPBrush>(pg), ellipse);
    const char* names[5] = {"solid (translucent)", "hatch", "texture", "linear gradient", "path gradient"};
    for (int i = 0; i < 5; ++i) Label(*g, r[i], names[i]);
  }

  // Hatch styles, numbered in order.
  Heading(*g, 180, "Hatch styles (0-52)");
  for (int s = 0; s < GPHatchStyleCount; ++s) {
    const TIGPRectF r(20.0f + (s % 27) * 35.5f, 212.0f + (s / 27) * 52.0f, 30, 30);
    g->FillRectangle(TIntfPtr<IGPBrush>(new TIGPHatchBrush(TIGPHatchStyle(s), 0xFF203070u, 0xFFE8ECF8u)), r);
    g->DrawRectangle(Pen(0xFF8090B0u, 1), TIGPRectF(r.X - 0.5f, r.Y - 0.5f, r.Width + 1, r.Height + 1));
    Label(*g, r, std::to_string(s));
  }

  // Gradients with blends.
  Heading(*g, 325, "Gradients: blends, bell and triangle shapes, interpolation colours, wrap modes");
  {
    const TGPColor a = 0xFF1040A0u, b = 0xFFFFE060u;
    struct TItem {
      const char* Name;
      int Kind;
    } items[] = {{"plain", 0}, {"triangle 0.3", 1}, {"bell 0.5", 2}, {"5 colours", 3}, {"diagonal", 4}, {"mirrored tiles", 5}};
    for (int i = 0; i < 6; ++i) {
      const TIGPRectF r(20.0f + i * 160, 358, 140, 60);
      TIGPLinearGradientBrush* lg = items[i].Kind == 4 ? new TIGPLinearGradientBrush(r, a, b, lgmForwardDiagonal)
                                                       : new TIGPLinearGradientBrush(r, a, b, lgmHorizontal);
      if (items[i].Kind == 1) lg->SetBlendTriangularShape(0.3f);
      if (items[i].Kind == 2) lg->SetBlendBellShape(0.5f);
      if (items[i].Kind == 3)
        lg->SetInterpolationColors({{0xFFE02020u, 0}, {0xFFFFC000u, 0.25f}, {0xFF20B040u, 0.5f}, {0xFF2080E0u, 0.75f}, {0xFF8020C0u, 1}});
      TIntfPtr<IGPBrush> brush(lg);
      if (items[i].Kind == 5) {
        brush = TIntfPtr<IGPBrush>(new TIGPLinearGradientBrush(TIGPPointF{r.X, 0}, TIGPPointF{r.X + 35, 0}, a, b));
        static_cast<TIGPLinearGradientBrush*>(brush.Get())->SetWrapMode(wmTileFlipX);
      }
      g->FillRectangle(brush, r);
      Label(*g, r, items[i].Name);
    }
  }

  // Pens.
  Heading(*g, 445, "Pens: dash styles, round dash caps, custom dashes, compound lines, caps and joins");
  {
    const char* dashNames[] = {"solid", "dash", "dot", "dash dot", "dash dot dot", "custom 4,1,1,1 offset 2"};
    for (int i = 0; i < 6; ++i) {
      const float y = 485.0f + i * 18;
      TIntfPtr<TIGPPen> p = Pen(0xFF203060u, 3);
      if (i < 5) p->SetDashStyle(TIGPDashStyle(i));
      else {
        p->SetDashPattern({4, 1, 1, 1});
        p->SetDashOffset(2);
      }
      g->DrawLine(p, 20, y, 300, y);
      TIntfPtr<TIGPPen> r = Pen(0xFFC04020u, 3);
      if (i > 0 && i < 5) {
        r->SetDashStyle(TIGPDashStyle(i));
        r->SetDashCap(dcRound);
      }
      g->DrawLine(r, 320, y, 480, y);
      TIntfPtr<TIGPFont> f(new TIGPFont("sans-serif", 8));
      g->DrawString(dashNames[i], f, TIGPPointF{490, y - 7}, Solid(0xFF404040u));
    }
    // Compound lines along a curve and around a rectangle.
    TIntfPtr<TIGPPen> comp = Pen(0xFF207040u, 14);
    comp->SetCompoundArray({0, 0.2f, 0.4f, 0.6f, 0.8f, 1});
    g->DrawCurve(comp, {{640, 500}, {700, 480}, {760, 560}, {830, 490}}, 0.5f);
    TIntfPtr<TIGPPen> comp2 = Pen(0xFF8030A0u, 10);
    comp2->SetCompoundArray({0, 0.25f, 0.6f, 1});
    g->DrawRectangle(comp2, TIGPRectF(860, 480, 110, 60));
    g->DrawString("compound", TIntfPtr<TIGPFont>(new TIGPFont("sans-serif", 8)), TIGPPointF{720, 570}, Solid(0xFF404040u));
    // Caps.
    const TIGPLineCap caps[] = {lcFlat, lcSquare, lcRound, lcTriangle, lcSquareAnchor, lcRoundAnchor, lcDiamondAnchor, lcArrowAnchor};
    const char* capNames[] = {"flat", "square", "round", "triangle", "square anchor", "round anchor", "diamond anchor", "arrow anchor"};
    for (int i = 0; i < 8; ++i) {
      const float x = 40.0f + i * 120;
      TIntfPtr<TIGPPen> p = Pen(0xFF305080u, 8);
      p->SetStartCap(caps[i]);
      p->SetEndCap(caps[i]);
      g->DrawLine(p, x, 630, x + 80, 600);
      g->DrawLine(Pen(0xFFFFFFFFu, 1), x, 630, x + 80, 600);
      Label(*g, TIGPRectF(x, 630, 80, 4), capNames[i]);
    }
    // Joins and inset alignment.
    const TIGPLineJoin joins[] = {ljMiter, ljBevel, ljRound};
    const char* joinNames[] = {"miter", "bevel", "round"};
    for (int i = 0; i < 3; ++i) {
      TIntfPtr<TIGPPen> p = Pen(0xFF705020u, 12);
      p->SetLineJoin(joins[i]);
      const float x = 40.0f + i * 110;
      g->DrawLines(p, {{x, 720}, {x + 35, 670}, {x + 70, 720}});
      Label(*g, TIGPRectF(x, 725, 70, 4), joinNames[i]);
    }
    for (int i = 0; i < 2; ++i) {
      TIntfPtr<TIGPPen> p = Pen(0xA0C02060u, 10);
      p->SetAlignment(i ? paInset : paCenter);
      const TIGPRectF r(380.0f + i * 110, 670, 80, 50);
      g->DrawRectangle(p, r);
      g->DrawRectangle(Pen(0xFF000000u, 0), r);
      Label(*g, TIGPRectF(r.X, r.Bottom() + 4, r.Width, 0), i ? "inset" : "centre");
    }
    // A pen with a gradient brush.
    TIntfPtr<TIGPPen> gp(new TIGPPen(TIntfPtr<IGPBrush>(new TIGPLinearGradientBrush(TIGPRectF(620, 660, 340, 70), 0xFFE02020u, 0xFF2020E0u, lgmHorizontal)), 6));
    gp->SetLineJoin(ljRound);
    std::vector<TIGPPointF> wave;
    for (int k = 0; k <= 68; ++k) wave.push_back({620.0f + k * 5, 695 + 25 * float(std::sin(k * 0.3))});
    g->DrawLines(gp, wave);
    Label(*g, TIGPRectF(620, 725, 340, 4), "pen with a gradient brush");
  }

  // Fonts.
  Heading(*g, 755, "Fonts: families, styles, sizes, layout and text paths");
  {
    const char* families[] = {"sans-serif", "serif", "monospace", "Missing Family"};
    for (int i = 0; i < 4; ++i) {
      TIntfPtr<TIGPFont> f(new TIGPFont(families[i], 12));
      g->DrawString(std::string(families[i]) + " -> " + f->GetFamily()->GetFamilyName(), f, TIGPPointF{20, 790.0f + i * 20},
                    Solid(0xFF202020u));
    }
    const TIGPFontStyle styles[] = {fsBold, fsItalic, fsUnderline, fsStrikeout, fsBold | fsItalic};
    const char* styleNames[] = {"Bold", "Italic", "Underline", "Strikeout", "Bold italic"};
    for (int i = 0; i < 5; ++i)
      g->DrawString(styleNames[i], TIntfPtr<TIGPFont>(new TIGPFont("sans-serif", 12, styles[i])),
                    TIGPPointF{300, 790.0f + i * 18}, Solid(0xFF202020u));
    const TIGPRectF box(430, 790, 200, 90);
    g->DrawRectangle(Pen(0xFFA0A0A0u, 1), box);
    TIGPStringFormat fmt;
    fmt.Alignment = saCenter;
    fmt.LineAlignment = saCenter;
    g->DrawString("Centred text wraps at word boundaries inside its layout rectangle.",
                  TIntfPtr<TIGPFont>(new TIGPFont("serif", 11)), box, fmt, Solid(0xFF203060u));
    // Outlined text: a text path filled with a gradient and drawn with a pen.
    TIntfPtr<TIGPGraphicsPath> tp(new TIGPGraphicsPath);
    tp->AddString("Vantex", TIGPFontFamily::GenericSansSerif(), fsBold, 64, TIGPPointF{660, 790});
    const TIGPRectF tb = tp->GetBounds();
    auto* lg = new TIGPLinearGradientBrush(tb, 0xFFFFD040u, 0xFFE04000u, lgmVertical);
    g->FillPath(TIntfPtr<IGPBrush>(lg), tp);
    g->DrawPath(Pen(0xFF402000u, 1.5f), tp);
  }
  img->SaveToFile(out);
  std::printf("wrote %s\n", out.c_str());
  return 0;
}
