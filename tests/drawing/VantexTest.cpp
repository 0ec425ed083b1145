// The graphics layer, checked at pixels whose value is certain (pictures also go to $NX_TEST_OUTPUT_DIR);
// images round-trip through their encoders, and damaged files of every format raise EVantexError.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "drawing/Vantex.h"
#include "ExceptionMessage.h"

using namespace nx;

extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

std::string OutputPath(const std::string& AName) {
  const char* dir = std::getenv("NX_TEST_OUTPUT_DIR");
  return std::string(dir ? dir : "/tmp") + "/vantex_" + AName + ".png";
}

struct TCanvas {
  TIntfPtr<IGPBitmap> Bitmap;
  TIntfPtr<IGPGraphics> G;
  TCanvas(int w, int h, TGPColor ABackground = 0) : Bitmap(new TIGPBitmap(w, h)) {
    G = TIGPGraphics::FromImage(Bitmap);
    if (ABackground) G->Clear(ABackground);
  }
  TGPColor At(int x, int y) const { return Bitmap->GetPixel(x, y); }
  void Save(const std::string& AName) const { Bitmap->SaveToFile(OutputPath(AName)); }
};

TIntfPtr<IGPBrush> Solid(TGPColor c) { return TIntfPtr<IGPBrush>(new TIGPSolidBrush(c)); }
TIntfPtr<TIGPPen> Pen(TGPColor c, float w) { return TIntfPtr<TIGPPen>(new TIGPPen(c, w)); }

// Channels differ by at most ATol.
::testing::AssertionResult Near(TGPColor a, TGPColor b, int ATol) {
  for (int shift : {24, 16, 8, 0})
    if (std::abs(int((a >> shift) & 255) - int((b >> shift) & 255)) > ATol)
      return ::testing::AssertionFailure() << std::hex << "0x" << a << " vs 0x" << b;
  return ::testing::AssertionSuccess();
}

}  // namespace

TEST(VantexPixels, TranslucentColoursSurviveThePremultipliedStore) {
  TIntfPtr<IGPBitmap> b(new TIGPBitmap(1, 1));
  for (TGPColor c : {0xFF123456u, 0x80FF8001u, 0xC0102030u, 0x80FFFFFFu, 0x00000000u}) {
    b->SetPixel(0, 0, c);
    EXPECT_TRUE(Near(b->GetPixel(0, 0), c, 1)) << std::hex << c;
  }
  // Fully transparent pixels keep no colour.
  b->SetPixel(0, 0, 0x00FF00FFu);
  EXPECT_EQ(b->GetPixel(0, 0), 0u);
  EXPECT_THROW(b->GetPixel(1, 0), ERangeError);
  EXPECT_THROW(b->SetPixel(0, -1, 0), ERangeError);
}

TEST(VantexPixels, ANewBitmapIsClearEvenOnMemoryAnEarlierOneUsed) {
  // Bitmaps of one size reuse the pixel memory of those that went, also one
  // that goes on another thread.
  for (int round = 0; round < 3; ++round) {
    auto* painted = new TCanvas(64, 48, 0xFF336699u);
    EXPECT_EQ(painted->At(63, 47), 0xFF336699u);
    if (round == 2)
      std::thread([painted] { delete painted; }).join();
    else
      delete painted;
    TIntfPtr<IGPBitmap> fresh(new TIGPBitmap(64, 48));
    for (int y : {0, 47})
      for (int x : {0, 31, 63}) EXPECT_EQ(fresh->GetPixel(x, y), 0u) << round << " " << x << "," << y;
  }
}

TEST(VantexFill, SolidFillsBlendByAlpha) {
  struct TCase {
    TGPColor Background, Fill, Expected;
  } cases[] = {
      {0, 0xFFFF0000u, 0xFFFF0000u},
      {0, 0x800000FFu, 0x800000FFu},
      {0xFFFFFFFFu, 0x80FF0000u, 0xFFFF7F7Fu},
      {0xFF000000u, 0x4000FF00u, 0xFF004000u},
  };
  int k = 0;
  for (const TCase& c : cases) {
    TCanvas cv(20, 20, c.Background);
    cv.G->FillRectangle(Solid(c.Fill), TIGPRectF(5, 5, 10, 10));
    EXPECT_TRUE(Near(cv.At(5, 5), c.Expected, 1)) << k;
    EXPECT_TRUE(Near(cv.At(14, 14), c.Expected, 1)) << k;
    EXPECT_EQ(cv.At(4, 10), c.Background) << k;
    EXPECT_EQ(cv.At(15, 10), c.Background) << k;
    cv.Save("fill" + std::to_string(k++));
  }
}

namespace {
// The rows of column x whose alpha is at least half.
int CoveredRows(const TCanvas& cv, int x, int h) {
  int n = 0;
  for (int y = 0; y < h; ++y) n += GetAlpha(cv.At(x, y)) >= 128;
  return n;
}
int CoveredColumns(const TCanvas& cv, int y, int w) {
  int n = 0;
  for (int x = 0; x < w; ++x) n += GetAlpha(cv.At(x, y)) >= 128;
  return n;
}
}  // namespace

TEST(VantexPen, WidthAcrossTheLine) {
  // Odd widths centred on a pixel centre, even ones on an edge, cover `width` rows (1: the thin-line path).
  for (float w : {1.0f, 2.0f, 3.0f, 6.0f, 11.0f}) {
    TCanvas cv(100, 100);
    const float y = (int(w) % 2) ? 50.5f : 50.0f;
    cv.G->DrawLine(Pen(0xFF0000FFu, w), 10, y, 90, y);
    cv.G->DrawLine(Pen(0xFF0000FFu, w), y, 10, y, 40);  // vertical, above the horizontal
    EXPECT_EQ(CoveredRows(cv, 50, 100), int(w) + 30) << w;
    EXPECT_EQ(CoveredColumns(cv, 25, 100), int(w)) << w;
    EXPECT_EQ(cv.At(30, int(y)), 0xFF0000FFu) << w;
    cv.Save("penwidth" + std::to_string(int(w)));
  }
}

TEST(VantexPen, ZeroWidthIsOneDevicePixelUnderScaling) {
  TCanvas cv(100, 100);
  cv.G->ScaleTransform(4, 4);
  cv.G->DrawLine(Pen(0xFF000000u, 0), 1, 10.125f, 24, 10.125f);  // device y = 40.5
  cv.G->DrawRectangle(Pen(0xFF000000u, 0), TIGPRectF(2.125f, 15.125f, 10, 5));
  EXPECT_EQ(CoveredRows(cv, 50, 40 + 1), 1);
  EXPECT_EQ(cv.At(50, 40), 0xFF000000u);
  EXPECT_EQ(GetAlpha(cv.At(8, 70)), 255);  // the rectangle's left side at device x = 8.5
  EXPECT_EQ(GetAlpha(cv.At(9, 70)), 0);
}

TEST(VantexPen, ThinPolylineCoversLikeCairosStroke) {
  // The direct rasteriser (width 1) and Cairo's stroker (a hair wider) cover about the same area.
  std::vector<TIGPPointF> pts;
  for (int i = 0; i <= 40; ++i) pts.push_back({5.0f + i * 5.0f, 50.0f + ((i % 2) ? 30.0f : -30.0f) * (i % 3 ? 1 : 0.3f)});
  double area[2] = {};
  for (int k = 0; k < 2; ++k) {
    TCanvas cv(210, 100);
    cv.G->DrawLines(Pen(0xFF000000u, k ? 1.0001f : 1.0f), pts);
    for (TGPColor c : cv.Bitmap->GetPixels()) area[k] += GetAlpha(c) / 255.0;
    cv.Save(k ? "polyline_cairo" : "polyline_fast");
  }
  EXPECT_NEAR(area[0], area[1], area[1] * 0.04);
  // Points far outside the surface, or not numbers, draw what is visible and nothing else.
  TCanvas cv(50, 50);
  cv.G->DrawLines(Pen(0xFF000000u, 1), {{-1e9f, 25.5f}, {25, 25.5f}, {25, 1e12f}, {NAN, 3}, {10, 10}});
  EXPECT_EQ(GetAlpha(cv.At(10, 25)), 255);
  EXPECT_EQ(GetAlpha(cv.At(10, 40)), 0);
}

TEST(VantexPen, DashPatternsRepeatAlongTheLine) {
  struct TCase {
    TIGPDashStyle Style;
    std::vector<float> Custom;
    float Offset;
    std::string Expected;  // one character per pixel of the first 24: '#' on, '.' off
  } cases[] = {
      {dsSolid, {}, 0, "########################"},
      {dsDash, {}, 0, "######..######..######.."},
      {dsDot, {}, 0, "##..##..##..##..##..##.."},
      {dsDashDot, {}, 0, "######..##..######..##.."},
      {dsDashDotDot, {}, 0, "######..##..##..######.."},
      {dsCustom, {1, 2}, 0, "##....##....##....##...."},
      {dsCustom, {1, 2}, 1, "....##....##....##....##"},
  };
  for (const TCase& c : cases) {
    TCanvas cv(30, 10);
    TIntfPtr<TIGPPen> pen = Pen(0xFF000000u, 2);
    if (c.Custom.empty()) pen->SetDashStyle(c.Style);
    else pen->SetDashPattern(c.Custom);
    pen->SetDashOffset(c.Offset);
    cv.G->DrawLine(pen, 0, 5, 30, 5);
    std::string got;
    for (int x = 0; x < 24; ++x) got += GetAlpha(cv.At(x, 4)) >= 128 ? '#' : '.';
    EXPECT_EQ(got, c.Expected) << int(c.Style) << " offset " << c.Offset;
  }
}

TEST(VantexPen, CompoundLinesAreParallelStrokes) {
  TCanvas cv(100, 100);
  TIntfPtr<TIGPPen> pen = Pen(0xFF000000u, 10);
  pen->SetCompoundArray({0, 0.3f, 0.7f, 1});
  cv.G->DrawLine(pen, 10, 50, 90, 50);  // covers y 45..55: bands 45..48 and 52..55
  std::string got;
  for (int y = 44; y < 56; ++y) got += GetAlpha(cv.At(50, y)) >= 128 ? '#' : '.';
  EXPECT_EQ(got, ".###....###.");
  // Around a corner too: a rectangle keeps a gap between its two outlines.
  cv.G->DrawRectangle(pen, TIGPRectF(20, 10, 60, 20));
  EXPECT_EQ(GetAlpha(cv.At(20, 20)), 0);
  EXPECT_EQ(GetAlpha(cv.At(16, 20)), 255);
  EXPECT_EQ(GetAlpha(cv.At(23, 20)), 255);
  cv.Save("compound");
  EXPECT_THROW(pen->SetCompoundArray({0, 0.5f, 1}), EVantexError);
  EXPECT_THROW(pen->SetCompoundArray({0.5f, 0.2f}), EVantexError);
}

TEST(VantexPen, CapsAlignmentAndJoins) {
  struct TCase {
    const char* Name;
    TIGPLineCap Start, End;
    TIGPPenAlignment Alignment;
    int X, Y;
    bool Covered;
  } cases[] = {
      {"flat start", lcFlat, lcFlat, paCenter, 17, 50, false},
      {"round start", lcRound, lcFlat, paCenter, 17, 50, true},
      {"round start, not a square", lcRound, lcFlat, paCenter, 16, 45, false},
      {"square end", lcFlat, lcSquare, paCenter, 83, 53, true},
      {"triangle end tip", lcFlat, lcTriangle, paCenter, 83, 50, true},
      {"triangle end side", lcFlat, lcTriangle, paCenter, 83, 54, false},
      {"arrow anchor wider than the line", lcArrowAnchor, lcFlat, paCenter, 40, 41, true},
      {"round anchor", lcFlat, lcRoundAnchor, paCenter, 80, 40, true},
  };
  for (const TCase& c : cases) {
    TCanvas cv(100, 100);
    TIntfPtr<TIGPPen> pen = Pen(0xFF000000u, 10);
    pen->SetStartCap(c.Start);
    pen->SetEndCap(c.End);
    cv.G->DrawLine(pen, 20, 50, 80, 50);
    EXPECT_EQ(GetAlpha(cv.At(c.X, c.Y)) >= 128, c.Covered) << c.Name;
  }
  // Inset strokes stay inside the rectangle; centred ones straddle it.
  for (TIGPPenAlignment a : {paCenter, paInset}) {
    TCanvas cv(100, 100);
    TIntfPtr<TIGPPen> pen = Pen(0xFF000000u, 6);
    pen->SetAlignment(a);
    cv.G->DrawRectangle(pen, TIGPRectF(20, 20, 60, 60));
    EXPECT_EQ(GetAlpha(cv.At(18, 50)), a == paInset ? 0 : 255);
    EXPECT_EQ(GetAlpha(cv.At(25, 50)), a == paInset ? 255 : 0);
  }
  // A miter reaches the corner's point; a bevel cuts it off.
  for (TIGPLineJoin j : {ljMiter, ljBevel, ljRound}) {
    TCanvas cv(100, 100);
    TIntfPtr<TIGPPen> pen = Pen(0xFF000000u, 10);
    pen->SetLineJoin(j);
    cv.G->DrawLines(pen, {{20, 80}, {20, 20}, {80, 20}});
    EXPECT_EQ(GetAlpha(cv.At(15, 15)) >= 128, j == ljMiter) << int(j);
  }
}

TEST(VantexHatch, EveryStyleRepeatsItsPatternFromTheDeviceOrigin) {
  std::set<std::vector<std::uint8_t>> distinct;
  TCanvas sheet(GPHatchStyleCount * 20, 20, 0xFFFFFFFFu);
  for (int s = 0; s < GPHatchStyleCount; ++s) {
    const auto style = TIGPHatchStyle(s);
    std::vector<std::uint8_t> rows;
    for (int y = 0; y < 8; ++y) rows.push_back(TIGPHatchBrush::PatternRow(style, y));
    distinct.insert(rows);
    TCanvas cv(16, 16);
    // The transform moves the rectangle, not the pattern.
    cv.G->TranslateTransform(3, 5);
    cv.G->FillRectangle(TIntfPtr<IGPBrush>(new TIGPHatchBrush(style, 0xFF000000u, 0xFFFFFFFFu)),
                        TIGPRectF(-3, -5, 16, 16));
    int wrong = 0;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) {
        const bool fore = rows[y % 8] & (0x80 >> (x % 8));
        wrong += cv.At(x, y) != (fore ? 0xFF000000u : 0xFFFFFFFFu);
      }
    EXPECT_EQ(wrong, 0) << "style " << s;
    sheet.G->FillRectangle(TIntfPtr<IGPBrush>(new TIGPHatchBrush(style, 0xFF202080u, 0xFFF0F0FFu)),
                           TIGPRectF(s * 20.0f + 2, 2, 16, 16));
  }
  EXPECT_EQ(distinct.size(), std::size_t(GPHatchStyleCount));
  sheet.Save("hatches");
  EXPECT_THROW(TIGPHatchBrush(TIGPHatchStyle(GPHatchStyleCount), 0, 0), EVantexError);
}

TEST(VantexHatch, PercentStylesHaveTheirDensity) {
  const std::pair<TIGPHatchStyle, int> table[] = {{hs05Percent, 5},  {hs10Percent, 10}, {hs20Percent, 20},
                                                  {hs25Percent, 25}, {hs30Percent, 30}, {hs40Percent, 40},
                                                  {hs50Percent, 50}, {hs60Percent, 60}, {hs70Percent, 70},
                                                  {hs75Percent, 75}, {hs80Percent, 80}, {hs90Percent, 90}};
  for (auto [style, percent] : table) {
    int on = 0;
    for (int y = 0; y < 8; ++y) on += __builtin_popcount(TIGPHatchBrush::PatternRow(style, y));
    EXPECT_NEAR(on, percent * 64 / 100.0, 1.0) << percent;
  }
}

TEST(VantexGradient, LinearGradientEndsBlendsAndWraps) {
  const TGPColor red = 0xFFFF0000u, blue = 0xFF0000FFu, green = 0xFF00FF00u;
  struct TCase {
    const char* Name;
    std::function<TIntfPtr<IGPBrush>()> Make;
    std::vector<std::pair<TIGPPoint, TGPColor>> Expect;
  } cases[] = {
      {"horizontal",
       [&] {
         auto* b = new TIGPLinearGradientBrush(TIGPRectF(0, 0, 100, 20), red, blue, lgmHorizontal);
         b->SetWrapMode(wmClamp);
         return TIntfPtr<IGPBrush>(b);
       },
       {{{0, 10}, red}, {{99, 10}, blue}, {{50, 0}, 0xFF800080u}, {{150, 5}, blue}}},
      {"vertical",
       [&] { return TIntfPtr<IGPBrush>(new TIGPLinearGradientBrush(TIGPRectF(0, 0, 200, 20), red, blue, lgmVertical)); },
       {{{100, 0}, red}, {{100, 19}, blue}}},
      {"forward diagonal",
       [&] {
         return TIntfPtr<IGPBrush>(new TIGPLinearGradientBrush(TIGPRectF(0, 0, 200, 20), red, blue, lgmForwardDiagonal));
       },
       {{{0, 0}, red}, {{199, 19}, blue}, {{199, 0}, 0xFF800080u}, {{0, 19}, 0xFF800080u}}},
      {"triangular blend",
       [&] {
         auto* b = new TIGPLinearGradientBrush(TIGPPointF{0, 0}, TIGPPointF{200, 0}, red, blue);
         b->SetBlendTriangularShape(0.5f);
         return TIntfPtr<IGPBrush>(b);
       },
       {{{0, 5}, red}, {{100, 5}, blue}, {{199, 5}, red}}},
      {"interpolation colours",
       [&] {
         auto* b = new TIGPLinearGradientBrush(TIGPPointF{0, 0}, TIGPPointF{200, 0}, red, blue);
         b->SetInterpolationColors({{red, 0}, {green, 0.5f}, {blue, 1}});
         return TIntfPtr<IGPBrush>(b);
       },
       {{{0, 5}, red}, {{100, 5}, green}, {{199, 5}, blue}}},
      {"tiled beyond its rectangle",
       [&] {
         return TIntfPtr<IGPBrush>(new TIGPLinearGradientBrush(TIGPPointF{0, 0}, TIGPPointF{100, 0}, red, blue));
       },
       {{{0, 5}, red}, {{100, 5}, red}, {{199, 5}, blue}}},
      {"mirrored beyond its rectangle",
       [&] {
         auto* b = new TIGPLinearGradientBrush(TIGPPointF{0, 0}, TIGPPointF{100, 0}, red, blue);
         b->SetWrapMode(wmTileFlipX);
         return TIntfPtr<IGPBrush>(b);
       },
       {{{0, 5}, red}, {{100, 5}, blue}, {{199, 5}, red}}},
  };
  int k = 0;
  for (const TCase& c : cases) {
    TCanvas cv(200, 20);
    cv.G->FillRectangle(c.Make(), TIGPRectF(0, 0, 200, 20));
    for (auto [p, colour] : c.Expect) EXPECT_TRUE(Near(cv.At(p.X, p.Y), colour, 8)) << c.Name << " at " << p.X;
    cv.Save("linear" + std::to_string(k++));
  }
}

TEST(VantexGradient, PathGradientRunsFromSurroundToCentreInsideOnly) {
  TCanvas cv(100, 100);
  auto* b = new TIGPPathGradientBrush(std::vector<TIGPPointF>{{10, 10}, {90, 10}, {90, 90}, {10, 90}});
  b->SetCenterColor(0xFFFFFFFFu);
  b->SetSurroundColors({0xFFFF0000u, 0xFF0000FFu});  // the last colour repeats
  TIntfPtr<IGPBrush> brush(b);
  cv.G->FillRectangle(brush, TIGPRectF(0, 0, 100, 100));
  EXPECT_TRUE(Near(cv.At(50, 50), 0xFFFFFFFFu, 8));
  EXPECT_TRUE(Near(cv.At(11, 11), 0xFFFF0000u, 12));
  EXPECT_TRUE(Near(cv.At(88, 88), 0xFF0000FFu, 12));
  EXPECT_EQ(cv.At(5, 50), 0u);  // outside the figure
  // A blend holds the surround colour up to half way to the centre.
  b->SetSurroundColors({0xFFFF0000u});
  b->SetBlend({{0, 0}, {0.5f, 0}, {1, 1}});
  cv.G->Clear(0);
  cv.G->FillRectangle(brush, TIGPRectF(0, 0, 100, 100));
  EXPECT_TRUE(Near(cv.At(50, 25), 0xFFFF0000u, 12));
  EXPECT_TRUE(Near(cv.At(50, 50), 0xFFFFFFFFu, 8));
  cv.Save("pathgradient");
}

TEST(VantexClip, ClipsCombineAndRestore) {
  struct TCase {
    const char* Name;
    std::function<void(IGPGraphics&)> Clip;
    std::vector<std::pair<TIGPPoint, bool>> Painted;
  } cases[] = {
      {"rectangle", [](IGPGraphics& g) { g.SetClip(TIGPRectF(10, 10, 20, 20)); },
       {{{10, 10}, true}, {{29, 29}, true}, {{30, 20}, false}, {{9, 20}, false}}},
      {"intersect", [](IGPGraphics& g) {
         g.SetClip(TIGPRectF(10, 10, 20, 20));
         g.IntersectClip(TIGPRectF(20, 0, 40, 40));
       },
       {{{15, 15}, false}, {{25, 15}, true}, {{35, 15}, false}}},
      {"exclude", [](IGPGraphics& g) { g.ExcludeClip(TIGPRectF(10, 10, 20, 20)); },
       {{{15, 15}, false}, {{5, 5}, true}, {{35, 15}, true}}},
      {"path", [](IGPGraphics& g) {
         TIntfPtr<TIGPGraphicsPath> p(new TIGPGraphicsPath);
         p->AddEllipse(TIGPRectF(0, 0, 40, 40));
         g.SetClip(p);
       },
       {{{20, 20}, true}, {{2, 2}, false}, {{38, 38}, false}}},
      {"replace", [](IGPGraphics& g) {
         g.SetClip(TIGPRectF(0, 0, 5, 5));
         g.SetClip(TIGPRectF(30, 30, 5, 5));
       },
       {{{2, 2}, false}, {{32, 32}, true}}},
      {"restored", [](IGPGraphics& g) {
         const auto state = g.Save();
         g.SetClip(TIGPRectF(0, 0, 5, 5));
         g.Save();
         g.TranslateTransform(100, 100);
         g.Restore(state);
       },
       {{{2, 2}, true}, {{20, 20}, true}}},
  };
  for (const TCase& c : cases) {
    TCanvas cv(40, 40);
    c.Clip(*cv.G);
    cv.G->FillRectangle(Solid(0xFF00FF00u), TIGPRectF(0, 0, 40, 40));
    for (auto [p, painted] : c.Painted) EXPECT_EQ(cv.At(p.X, p.Y) != 0, painted) << c.Name << " " << p.X << "," << p.Y;
  }
}

TEST(VantexTransform, TransformsMoveShapesAndRejectSingularMatrices) {
  TCanvas cv(100, 100);
  cv.G->TranslateTransform(50, 0);
  cv.G->ScaleTransform(2, 2);  // prepended: scale first, then move
  cv.G->FillRectangle(Solid(0xFF000000u), TIGPRectF(0, 0, 10, 10));
  EXPECT_EQ(cv.At(50, 0), 0xFF000000u);
  EXPECT_EQ(cv.At(69, 19), 0xFF000000u);
  EXPECT_EQ(cv.At(70, 5), 0u);
  const TIGPMatrix m = cv.G->GetTransform();
  EXPECT_EQ(m.TransformPoint({10, 10}), (TIGPPointF{70, 20}));
  EXPECT_THROW(cv.G->ScaleTransform(0, 1), EVantexError);
  EXPECT_EQ(cv.G->GetTransform(), m);  // unchanged, and the graphics still draws
  cv.G->ResetTransform();
  cv.G->FillRectangle(Solid(0xFFFF0000u), TIGPRectF(0, 90, 10, 10));
  EXPECT_EQ(cv.At(5, 95), 0xFFFF0000u);
}

TEST(VantexPath, FiguresBoundsAndHitTests) {
  TIntfPtr<TIGPGraphicsPath> p(new TIGPGraphicsPath);
  p->AddRectangle(TIGPRectF(10, 10, 20, 10));
  p->AddEllipse(TIGPRectF(50, 0, 40, 20));
  EXPECT_EQ(p->GetBounds(), TIGPRectF(10, 0, 80, 20));
  EXPECT_EQ(p->GetBounds(Pen(0, 4)), TIGPRectF(8, -2, 84, 24));
  EXPECT_TRUE(p->IsVisible(15, 15));
  EXPECT_TRUE(p->IsVisible(70, 10));
  EXPECT_FALSE(p->IsVisible(52, 1));  // outside the ellipse, inside its box
  // An arc's end points lie at their angles on the ellipse (not at parameters).
  TIntfPtr<TIGPGraphicsPath> arc(new TIGPGraphicsPath);
  arc->AddArc(TIGPRectF(0, 0, 200, 100), 0, 45);
  const TIGPPointF end = arc->GetLastPoint();
  EXPECT_NEAR(std::atan2(end.Y - 50, end.X - 100), M_PI / 4, 1e-4);
  // Lines continue the open figure; a closed figure starts a new one.
  TIntfPtr<TIGPGraphicsPath> lines(new TIGPGraphicsPath);
  lines->AddLine(0, 0, 10, 0);
  lines->AddLine(10, 0, 10, 10);
  lines->CloseFigure();
  lines->AddLine(20, 20, 30, 20);
  int moves = 0;
  for (const auto& s : lines->Segments()) moves += s.Kind == TIGPGraphicsPath::skMove;
  EXPECT_EQ(moves, 2);
  EXPECT_EQ(lines->GetPointCount(), 5);
  // Flattening keeps the bounds of a curve within the flatness.
  TIntfPtr<TIGPGraphicsPath> flat = p->Clone();
  flat->Flatten(0.1f);
  for (const auto& s : flat->Segments()) EXPECT_NE(s.Kind, TIGPGraphicsPath::skBezier);
  const TIGPRectF fb = flat->GetBounds();
  EXPECT_NEAR(fb.Right(), 90, 0.1);
  EXPECT_NEAR(fb.Y, 0, 0.1);
}

TEST(VantexText, FontsFallBackAndTextStaysInItsLayout) {
  TIntfPtr<TIGPFontFamily> missing(new TIGPFontFamily("No Such Family Anywhere"));
  EXPECT_FALSE(missing->IsRequestedAvailable());
  EXPECT_EQ(missing->GetFamilyName(), TIGPFontFamily::GenericSansSerif()->GetFamilyName());
  EXPECT_TRUE(TIGPFontFamily::GenericMonospace()->IsRequestedAvailable());
  const TIGPFont points("sans-serif", 12, 0, guPoint), pixels("sans-serif", 16, 0, guPixel);
  EXPECT_FLOAT_EQ(points.GetSizeInPixels(), pixels.GetSizeInPixels());

  TCanvas cv(300, 120, 0xFFFFFFFFu);
  TIntfPtr<TIGPFont> font(new TIGPFont("sans-serif", 14));
  TIntfPtr<TIGPFont> bold(new TIGPFont("sans-serif", 14, fsBold | fsUnderline));
  const TIGPRectF regularBox = cv.G->MeasureString("Hamburgefonstiv", font);
  const TIGPRectF boldBox = cv.G->MeasureString("Hamburgefonstiv", bold);
  EXPECT_GT(boldBox.Width, regularBox.Width);
  EXPECT_GT(cv.G->MeasureString("Hamburgefonstiv and more", font).Width, regularBox.Width);
  // Centred in a layout rectangle, wrapped to its width.
  const TIGPRectF layout(20, 10, 120, 100);
  TIGPStringFormat fmt;
  fmt.Alignment = saCenter;
  fmt.LineAlignment = saCenter;
  const char* text = "The quick brown fox jumps over the lazy dog";
  const TIGPRectF box = cv.G->MeasureString(text, font, layout, fmt);
  EXPECT_LE(box.Width, layout.Width);
  EXPECT_GE(box.Height, 2 * font->GetHeight() - 0.01f);
  EXPECT_NEAR(box.X + box.Width / 2, layout.X + layout.Width / 2, 0.5);
  EXPECT_NEAR(box.Y + box.Height / 2, layout.Y + layout.Height / 2, 0.5);
  cv.G->DrawString(text, font, layout, fmt, Solid(0xFF000000u));
  cv.G->DrawString("Bold, underlined", bold, TIGPPointF{160, 20}, Solid(0xFF800000u));
  cv.G->DrawString("invalid \xFF\xFE utf-8 still draws", font, TIGPPointF{160, 60}, Solid(0xFF000000u));
  cv.Save("text");
  int inside = 0, outside = 0;
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 150; ++x) {
      const bool dark = GetRed(cv.At(x, y)) < 128;
      (box.Contains(x + 0.5f, y + 0.5f) ? inside : outside) += dark;
    }
  EXPECT_GT(inside, 100);
  EXPECT_EQ(outside, 0);
  // The invalid text did not break the graphics.
  cv.G->FillRectangle(Solid(0xFF00FF00u), TIGPRectF(290, 110, 10, 10));
  EXPECT_EQ(cv.At(295, 115), 0xFF00FF00u);
}

TEST(VantexText, TextPathsFillLikeDrawnText) {
  TIntfPtr<TIGPGraphicsPath> p(new TIGPGraphicsPath);
  // Far from the origin too: no glyph may go missing there.
  TIntfPtr<TIGPGraphicsPath> far(new TIGPGraphicsPath);
  far->AddString("Ag", TIGPFontFamily::GenericSansSerif(), fsBold, 40, TIGPPointF{5000, 3000});
  EXPECT_NEAR(far->GetBounds().X, 5000, 5);
  EXPECT_GT(far->GetBounds().Width, 30);
  p->AddString("Ag", TIGPFontFamily::GenericSansSerif(), 0, 40, TIGPPointF{10, 10});
  const TIGPRectF b = p->GetBounds();
  EXPECT_GT(b.Width, 30);
  EXPECT_GT(b.Height, 30);
  EXPECT_GE(b.Y, 10);
  TCanvas cv(100, 70, 0xFFFFFFFFu);
  cv.G->FillPath(Solid(0xFF000000u), p);
  int dark = 0;
  for (TGPColor c : cv.Bitmap->GetPixels()) dark += GetRed(c) < 128;
  EXPECT_GT(dark, 200);
}

namespace {
TIntfPtr<IGPBitmap> TestImage(int w, int h, bool AOpaque) {
  std::vector<TGPColor> px(std::size_t(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      px[std::size_t(y) * w + x] = MakeColor(AOpaque ? 255 : std::uint8_t(y * 255 / (h - 1)), std::uint8_t(x * 4),
                                             std::uint8_t(y * 4), std::uint8_t((x + y) * 2));
  return TIntfPtr<IGPBitmap>(new TIGPBitmap(w, h, px));
}

std::vector<unsigned char> Encoded(const TIntfPtr<IGPBitmap>& b, const char* AFormat) {
  TBytesStream s;
  b->SaveToStream(s, AFormat);
  return s.Bytes();
}

// A 2x1 GIF: palette red, green; pixels 0, 1.
const std::vector<unsigned char> kGif = {'G', 'I', 'F', '8', '9', 'a', 2, 0, 1, 0, 0x80, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0,
                                         0x2C, 0, 0, 0, 0, 2, 0, 1, 0, 0, 2, 2, 0x44, 0x0A, 0, 0x3B};
}  // namespace

TEST(VantexImage, RoundTripsThroughEveryEncoder) {
  const TIntfPtr<IGPBitmap> translucent = TestImage(40, 30, false), opaque = TestImage(40, 30, true);
  struct TCase {
    const char* Format;
    TIntfPtr<IGPBitmap> Source;
    int Tolerance;
  } cases[] = {{"png", translucent, 0}, {"bmp", opaque, 0}, {"jpeg", opaque, 12}};
  for (const TCase& c : cases) {
    const std::vector<unsigned char> bytes = Encoded(c.Source, c.Format);
    TIntfPtr<IGPBitmap> back = TIGPBitmap::FromMemory(bytes.data(), bytes.size());
    ASSERT_EQ(back->GetWidth(), 40);
    ASSERT_EQ(back->GetHeight(), 30);
    const auto a = c.Source->GetPixels(), b = back->GetPixels();
    int worst = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
      for (int shift : {24, 16, 8, 0}) worst = std::max(worst, std::abs(int((a[i] >> shift) & 255) - int((b[i] >> shift) & 255)));
    EXPECT_LE(worst, c.Tolerance) << c.Format;
  }
  // Files, and a clone that does not share pixels.
  const std::string file = OutputPath("roundtrip");
  translucent->SaveToFile(file);
  TIntfPtr<IGPBitmap> loaded = TIGPBitmap::FromFile(file);
  EXPECT_EQ(loaded->GetPixels(), translucent->GetPixels());
  TIntfPtr<IGPBitmap> clone = Supports<IGPBitmap>(loaded->Clone());
  ASSERT_TRUE(clone);
  clone->SetPixel(0, 0, 0xFF123456u);
  EXPECT_NE(loaded->GetPixel(0, 0), 0xFF123456u);
  // The GIF decoder.
  TIntfPtr<IGPBitmap> gif = TIGPBitmap::FromMemory(kGif.data(), kGif.size());
  EXPECT_EQ(gif->GetPixel(0, 0), 0xFFFF0000u);
  EXPECT_EQ(gif->GetPixel(1, 0), 0xFF00FF00u);
  EXPECT_THROW(translucent->SaveToStream(*std::make_unique<TBytesStream>(), "tiff"), EVantexError);
}

TEST(VantexImage, DamagedFilesOfEveryFormatRaise) {
  const TIntfPtr<IGPBitmap> img = TestImage(40, 30, true);
  struct TCase {
    const char* Name;
    std::vector<unsigned char> Bytes;
  } formats[] = {{"png", Encoded(img, "png")}, {"jpeg", Encoded(img, "jpeg")}, {"bmp", Encoded(img, "bmp")}, {"gif", kGif}};
  for (const TCase& f : formats) {
    // Cut after the signature, in the header, half way, and just before the end.
    for (std::size_t cut : {std::size_t(6), std::size_t(14), f.Bytes.size() / 2, f.Bytes.size() - 2}) {
      EXPECT_THROW(TIGPBitmap::FromMemory(f.Bytes.data(), cut), EVantexError) << f.Name << " cut at " << cut;
    }
  }
  // Header damage: a zero width, a bad depth, an unknown signature.
  std::vector<unsigned char> png = formats[0].Bytes;
  png[16] = png[17] = png[18] = png[19] = 0;
  EXPECT_THROW(TIGPBitmap::FromMemory(png.data(), png.size()), EVantexError);
  std::vector<unsigned char> bmp = formats[2].Bytes;
  bmp[28] = 7;  // bits per pixel
  EXPECT_THROW(TIGPBitmap::FromMemory(bmp.data(), bmp.size()), EVantexError);
  std::vector<unsigned char> gif = kGif;
  gif[29] = 13;  // LZW code size
  EXPECT_THROW(TIGPBitmap::FromMemory(gif.data(), gif.size()), EVantexError);
  std::vector<unsigned char> jpeg = formats[1].Bytes;
  for (std::size_t i = 2; i + 1 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) jpeg[i + 7] = jpeg[i + 8] = 0;  // the frame width
  EXPECT_THROW(TIGPBitmap::FromMemory(jpeg.data(), jpeg.size()), EVantexError);
  // A Huffman table of more codes than a table holds.
  std::vector<unsigned char> huff = formats[1].Bytes;
  for (std::size_t i = 2; i + 21 < huff.size(); ++i)
    if (huff[i] == 0xFF && huff[i + 1] == 0xC4) {
      for (int k = 0; k < 16; ++k) huff[i + 5 + k] = 0x20;
      break;
    }
  EXPECT_THROW(TIGPBitmap::FromMemory(huff.data(), huff.size()), EVantexError);
  // A scan whose first component decodes with tables (number 2) that no segment defined.
  std::vector<unsigned char> scan = formats[1].Bytes;
  for (std::size_t i = 2; i + 6 < scan.size(); ++i)
    if (scan[i] == 0xFF && scan[i + 1] == 0xDA) {
      scan[i + 6] = 0x22;
      break;
    }
  EXPECT_EQ(nxtest::MessageOf<EVantexError>([&] { TIGPBitmap::FromMemory(scan.data(), scan.size()); }),
            "Invalid JPEG image: a scan uses an undefined Huffman table");
  const unsigned char text[] = "not an image at all";
  EXPECT_THROW(TIGPBitmap::FromMemory(text, sizeof text), EVantexError);
  EXPECT_THROW(TIGPBitmap::FromFile(OutputPath("does-not-exist")), EVantexError);
}

TEST(VantexBrush, TextureBrushesTileFlipAndClamp) {
  // A 2x1 texture: red then blue.
  TIntfPtr<IGPImage> tex(new TIGPBitmap(2, 1, {0xFFFF0000u, 0xFF0000FFu}));
  struct TCase {
    TIGPWrapMode Mode;
    TGPColor At2, At3;  // pixels (2, 0) and (3, 0): the second tile
    TGPColor Below;     // pixel (0, 1): the second row of tiles
  } cases[] = {
      {wmTile, 0xFFFF0000u, 0xFF0000FFu, 0xFFFF0000u},
      {wmTileFlipX, 0xFF0000FFu, 0xFFFF0000u, 0xFFFF0000u},
      {wmTileFlipXY, 0xFF0000FFu, 0xFFFF0000u, 0xFFFF0000u},
      {wmClamp, 0, 0, 0},
  };
  for (const TCase& c : cases) {
    TCanvas cv(8, 4);
    TIntfPtr<IGPBrush> b(new TIGPTextureBrush(tex, c.Mode));
    EXPECT_EQ(b->GetType(), btTextureFill);
    cv.G->SetInterpolationMode(imNearestNeighbor);
    cv.G->FillRectangle(b, TIGPRectF(0, 0, 8, 4));
    EXPECT_EQ(cv.At(0, 0), 0xFFFF0000u) << int(c.Mode);
    EXPECT_EQ(cv.At(2, 0), c.At2) << int(c.Mode);
    EXPECT_EQ(cv.At(3, 0), c.At3) << int(c.Mode);
    EXPECT_EQ(cv.At(0, 1), c.Below) << int(c.Mode);
  }
}

TEST(VantexImage, DrawnScaledIntoADestination) {
  TIntfPtr<IGPImage> img(new TIGPBitmap(2, 2, {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFFFFu}));
  TCanvas cv(40, 40);
  cv.G->SetInterpolationMode(imNearestNeighbor);
  cv.G->DrawImage(img, TIGPRectF(10, 10, 20, 20));
  EXPECT_EQ(cv.At(10, 10), 0xFFFF0000u);
  EXPECT_EQ(cv.At(29, 10), 0xFF00FF00u);
  EXPECT_EQ(cv.At(10, 29), 0xFF0000FFu);
  EXPECT_EQ(cv.At(29, 29), 0xFFFFFFFFu);
  EXPECT_EQ(cv.At(9, 9), 0u);
  EXPECT_EQ(cv.At(30, 30), 0u);
  // A part of the image: its bottom-right pixel only.
  cv.G->DrawImage(img, TIGPRectF(0, 0, 5, 5), TIGPRectF(1, 1, 1, 1));
  EXPECT_EQ(cv.At(2, 2), 0xFFFFFFFFu);
}

TEST(VantexModes, SmoothingAndCompositing) {
  struct TCase {
    TIGPSmoothingMode Mode;
    bool Antialiased;
  } cases[] = {{smAntiAlias, true}, {smHighQuality, true}, {smNone, false}, {smHighSpeed, false}};
  for (const TCase& c : cases) {
    TCanvas cv(60, 60);
    cv.G->SetSmoothingMode(c.Mode);
    cv.G->FillEllipse(Solid(0xFF000000u), TIGPRectF(5.3f, 5.3f, 40, 30));
    cv.G->DrawLine(Pen(0xFF000000u, 1), 0, 59, 59, 40);
    cv.G->DrawLine(Pen(0xFF000000u, 2.5f), 0, 50, 59, 30);
    int partial = 0;
    for (TGPColor px : cv.Bitmap->GetPixels()) partial += GetAlpha(px) != 0 && GetAlpha(px) != 255;
    EXPECT_EQ(partial > 0, c.Antialiased) << int(c.Mode);
  }
  // Source copy replaces what is there, alpha included; source over blends.
  for (TIGPCompositingMode m : {cpmSourceOver, cpmSourceCopy}) {
    TCanvas cv(10, 10, 0xFF0000FFu);
    cv.G->SetCompositingMode(m);
    cv.G->FillRectangle(Solid(0x80FF0000u), TIGPRectF(0, 0, 10, 10));
    EXPECT_TRUE(Near(cv.At(5, 5), m == cpmSourceCopy ? 0x80FF0000u : 0xFF80007Fu, 1)) << int(m);
  }
}

TEST(VantexMatrix, PrependAndAppendOrder) {
  struct TCase {
    TIGPMatrixOrder Order;
    TIGPPointF Expected;  // (1, 1) after "translate by (10, 0)", then "scale by 2" in that order
  } cases[] = {{moPrepend, {12, 2}}, {moAppend, {22, 2}}};
  for (const TCase& c : cases) {
    TIGPMatrix m;
    m.Translate(10, 0);
    m.Scale(2, 2, c.Order);
    EXPECT_EQ(m.TransformPoint({1, 1}), c.Expected) << int(c.Order);
    TIGPMatrix inv = m;
    ASSERT_TRUE(inv.Invert());
    const TIGPPointF back = inv.TransformPoint(c.Expected);
    EXPECT_NEAR(back.X, 1, 1e-5);
    EXPECT_NEAR(back.Y, 1, 1e-5);
  }
  TIGPMatrix singular{0, 0, 0, 0, 1, 1};
  EXPECT_FALSE(singular.Invert());
  TIGPMatrix r;
  r.Rotate(90);
  const TIGPPointF p = r.TransformPoint({1, 0});
  EXPECT_NEAR(p.X, 0, 1e-6);
  EXPECT_NEAR(p.Y, 1, 1e-6);  // clockwise on the screen: x turns towards y
}

TEST(VantexPath, CurvesPassThroughTheirPointsAndPathsConnect) {
  const std::vector<TIGPPointF> pts{{10, 10}, {60, 40}, {20, 80}, {90, 90}};
  for (bool closed : {false, true}) {
    TIntfPtr<TIGPGraphicsPath> p(new TIGPGraphicsPath);
    if (closed) p->AddClosedCurve(pts);
    else p->AddCurve(pts);
    p->Flatten(0.05f);
    for (const TIGPPointF& q : pts) {
      double best = 1e9;
      for (const TIGPPointF& f : p->GetPathPoints()) best = std::min(best, double(std::hypot(f.X - q.X, f.Y - q.Y)));
      EXPECT_LT(best, 0.01) << closed;
    }
  }
  TIntfPtr<TIGPGraphicsPath> a(new TIGPGraphicsPath), b(new TIGPGraphicsPath);
  a->AddLine(0, 0, 10, 0);
  b->AddLine(20, 0, 30, 0);
  TIntfPtr<TIGPGraphicsPath> joined = a->Clone(), apart = a->Clone();
  joined->AddPath(*b, true);
  apart->AddPath(*b, false);
  auto moves = [](const TIGPGraphicsPath& p) {
    int n = 0;
    for (const auto& s : p.Segments()) n += s.Kind == TIGPGraphicsPath::skMove;
    return n;
  };
  EXPECT_EQ(moves(*joined), 1);
  EXPECT_EQ(moves(*apart), 2);
  apart->CloseAllFigures();
  int closes = 0;
  for (const auto& s : apart->Segments()) closes += s.Kind == TIGPGraphicsPath::skClose;
  EXPECT_EQ(closes, 2);
}

TEST(VantexText, ClippedLayoutKeepsTextInside) {
  TCanvas cv(200, 60, 0xFFFFFFFFu);
  TIGPStringFormat fmt;
  fmt.NoClip = false;
  fmt.NoWrap = true;
  const TIGPRectF layout(10, 10, 60, 12);
  cv.G->DrawString("A line far too long for its rectangle", TIntfPtr<TIGPFont>(new TIGPFont("sans-serif", 14)),
                   layout, fmt, Solid(0xFF000000u));
  int inside = 0, outside = 0;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 200; ++x) (layout.Contains(x + 0.5f, y + 0.5f) ? inside : outside) += GetRed(cv.At(x, y)) < 250;
  EXPECT_GT(inside, 20);
  EXPECT_EQ(outside, 0);
}

TEST(VantexImage, ArgumentsAreChecked) {
  EXPECT_THROW(TIGPBitmap(0, 5), EVantexError);
  EXPECT_THROW(TIGPBitmap(40000, 5), EVantexError);
  EXPECT_THROW(TIGPBitmap(2, 2, std::vector<TGPColor>(3)), EVantexError);
  EXPECT_THROW(TIGPBitmap(cairo_image_surface_create(CAIRO_FORMAT_A8, 4, 4)), EVantexError);
  TBytesStream s;
  TestImage(8, 8, false)->SaveToStream(s);
  s.SetPosition(0);
  EXPECT_EQ(TIGPBitmap::FromStream(s)->GetWidth(), 8);
  EXPECT_THROW(TIGPLinearGradientBrush(TIGPPointF{1, 1}, TIGPPointF{1, 1}, 0, 0), EVantexError);
  EXPECT_THROW(TIGPPathGradientBrush(std::vector<TIGPPointF>{{0, 0}, {1, 1}}), EVantexError);
  TIntfPtr<TIGPPen> pen = Pen(0xFF000000u, 1);
  EXPECT_THROW(pen->SetDashPattern({1, 0}), EVantexError);
  auto* lg = new TIGPLinearGradientBrush(TIGPPointF{0, 0}, TIGPPointF{1, 0}, 0, 0);
  TIntfPtr<IGPBrush> keep(lg);
  EXPECT_THROW(lg->SetInterpolationColors({{0, 0.2f}, {0, 1}}), EVantexError);
}
