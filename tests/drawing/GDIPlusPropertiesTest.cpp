// The drawing properties (defaults, streaming, brush fall-backs, cached pens), colour helpers and free routines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "drawing/RGGDIPlusProperties.h"
#include "nxruntime.h"

extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace nxtest {
namespace {

using namespace nx;

// Writes an object in the member-wise form and reads it into another.
void RoundTrip(const TPersistent& ASource, TPersistent& ATarget) {
  TMemoryStream stream;
  TBinaryWriter writer(stream, ASource.ClassName());
  WriteObject(writer, ASource);
  writer.Finish();
  stream.SetPosition(0);
  TBinaryReader reader(stream);
  ReadObject(reader, ATarget);
}

bool Near(TGPColor AActual, TGPColor AExpected, int ATolerance) {
  auto diff = [](std::uint8_t a, std::uint8_t b) { return std::abs(int(a) - int(b)); };
  return diff(GetAlpha(AActual), GetAlpha(AExpected)) <= ATolerance &&
         diff(GetRed(AActual), GetRed(AExpected)) <= ATolerance &&
         diff(GetGreen(AActual), GetGreen(AExpected)) <= ATolerance &&
         diff(GetBlue(AActual), GetBlue(AExpected)) <= ATolerance;
}

struct TSurface {
  TIntfPtr<IGPBitmap> Bitmap{new TIGPBitmap(100, 100)};
  TIntfPtr<IGPGraphics> Graphics{TIGPGraphics::FromImage(TIntfPtr<IGPImage>(Bitmap))};
  TGPColor At(int x, int y) const {
    Graphics->Flush();
    return Bitmap->GetPixel(x, y);
  }
};

// A pen's brush is red, a font's black: a per-owner default, which decides what is streamed.
TEST(GDIPlusProperties, APerOwnerDefaultDecidesWhatIsStreamed) {
  EXPECT_EQ(TRGGPFont().Brush()->Color(), 0xFF000000u);
  EXPECT_EQ(TRGGPSimpleFont().Brush()->Color(), 0xFF000000u);
  EXPECT_EQ(TRGGPBrush().Color(), TRGGPBrush::kDefaultColor);
  EXPECT_FALSE(HasStoredMembers(TRGGPFont()));
  struct TCase {
    TGPColor Color;
    bool Stored;
  };
  for (const TCase& c : {TCase{0xFFFF0000u, false}, TCase{0xFF0000FFu, true}, TCase{0xFFFFFFFFu, true}}) {
    TRGGPPen pen;
    pen.SetColor(c.Color);
    EXPECT_EQ(HasStoredMembers(pen), c.Stored) << std::hex << c.Color;
    TRGGPPen copy;
    copy.SetColor(0xFF123456u);
    RoundTrip(pen, copy);
    // An unwritten colour is left alone by reading; a written one is taken.
    EXPECT_EQ(copy.Color(), c.Stored ? c.Color : 0xFF123456u);
  }
}

template <class TArray>
void CheckArrayRoundTrip(const std::vector<typename TArray::TItemType>& AValues) {
  TArray source, target;
  source.SetValues(AValues);
  target.SetValues({typename TArray::TItemType{}});
  RoundTrip(source, target);
  EXPECT_EQ(target.Values(), AValues) << source.ClassName();
  EXPECT_EQ(HasStoredMembers(source), !AValues.empty()) << source.ClassName();
}

TEST(GDIPlusProperties, ArrayPropertiesRoundTripThroughTheirBinaryMember) {
  CheckArrayRoundTrip<TRGGPPoints>({{1.5f, -2}, {3, 4.25f}, {1e6f, -0.0f}});
  CheckArrayRoundTrip<TRGGPColors>({0xFF000000u, 0x00FFFFFFu, 0x80123456u});
  CheckArrayRoundTrip<TRGGPInterpolationColors>({{0xFFFF0000u, 0}, {0xFF00FF00u, 0.5f}, {0xFF0000FFu, 1}});
  CheckArrayRoundTrip<TRGGPBlends>({{0, 0}, {0.3f, 0.9f}, {1, 1}});
  CheckArrayRoundTrip<TRGGPSingleArray>({0.25f, 4, -7.5f});
  CheckArrayRoundTrip<TRGGPCustomDash>({2, 1});
  CheckArrayRoundTrip<TRGGPPenCompound>({0, 0.25f, 0.75f, 1});
}

TEST(GDIPlusProperties, AnEmptiedArrayIsReadBackEmpty) {
  TRGGPColors source, target;
  target.Add(0xFF112233u);
  RoundTrip(source, target);  // an empty array writes nothing: the target keeps its items
  EXPECT_EQ(target.Count(), 1);
  target.LoadData(source.SaveData());  // but a stored empty form clears them
  EXPECT_EQ(target.Count(), 0);
}

TEST(GDIPlusProperties, MalformedArrayDataIsRefusedAndChangesNothing) {
  TRGGPPoints points;
  points.Add(1, 2);
  const std::vector<std::vector<std::uint8_t>> bad = {
      {},                                  // no count
      {1, 0, 0},                           // a short count
      {1, 0, 0, 0, 0, 0, 0, 0},            // one point announced, half of it there
      {0, 0, 0, 0, 9},                     // trailing bytes
      {0xFF, 0xFF, 0xFF, 0xFF},            // a huge count with nothing behind it
  };
  for (const auto& data : bad) {
    EXPECT_THROW(points.LoadData(data), EReadError) << data.size();
    EXPECT_EQ(points.Values(), (std::vector<TIGPPointF>{{1, 2}}));
  }
}

TEST(GDIPlusProperties, NestedArraysOfABrushRoundTripWithIt) {
  TRGGPBrush source, target;
  source.SetBrushType(btPathGradient);
  source.Gradient()->Path()->Add(0, 0);
  source.Gradient()->Path()->Add(10, 0);
  source.Gradient()->Path()->Add(5, 8);
  source.InterpolationColors()->Add(0xFF0000FFu, 0.5f);
  source.Blend()->Blends()->Add(0.5f, 0.25f);
  RoundTrip(source, target);
  EXPECT_EQ(target.BrushType(), btPathGradient);
  EXPECT_EQ(target.Gradient()->Path()->Values(), source.Gradient()->Path()->Values());
  EXPECT_EQ(target.InterpolationColors()->Values(), source.InterpolationColors()->Values());
  EXPECT_EQ(target.Blend()->Blends()->Values(), source.Blend()->Blends()->Values());
}

TEST(GDIPlusProperties, AssignCopiesSubObjectsAndArrays) {
  TRGGPPen source, target;
  source.SetWidth(3);
  source.SetColor(0xFF00FF00u);
  source.DashStyle()->CustomDash()->Add(4);
  source.Compound()->Add(0.5f);
  target.Assign(source);
  EXPECT_EQ(target.Width(), 3.0f);
  EXPECT_EQ(target.Color(), 0xFF00FF00u);
  EXPECT_EQ(target.DashStyle()->CustomDash()->Values(), std::vector<float>{4});
  EXPECT_EQ(target.Compound()->Values(), std::vector<float>{0.5f});
}

TIntfPtr<IGPImage> Checker() {
  std::vector<TGPColor> px(16);
  for (int i = 0; i < 16; ++i) px[i] = ((i + i / 4) % 2) ? 0xFF0000FFu : 0xFFFFFF00u;
  return TIntfPtr<IGPImage>(new TIGPBitmap(4, 4, px));
}

TEST(GDIPlusProperties, ImagesStreamAsPngAndComeBackPixelForPixel) {
  TRGGPBrush source, target;
  source.Texture()->SetGPImage(Checker());
  RoundTrip(source, target);
  ASSERT_FALSE(target.Texture()->IsEmpty());
  auto a = Supports<IGPBitmap>(source.Texture()->GPImage().Get());
  auto b = Supports<IGPBitmap>(target.Texture()->GPImage().Get());
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->GetPixels(), b->GetPixels());

  TMemoryStream empty;
  TRGGPImage().SaveToStream(empty);
  EXPECT_EQ(empty.Size(), 0);
  const auto formats = TRGGPImage::GetFormats();
  EXPECT_NE(std::find(formats.begin(), formats.end(), "png"), formats.end());
}

TEST(GDIPlusProperties, LoadingAnUndecodableImageRaisesAndKeepsTheOldOne) {
  TRGGPImage image;
  image.SetGPImage(Checker());
  TMemoryStream junk;
  junk.Write("not an image at all", 19);
  junk.SetPosition(0);
  EXPECT_THROW(image.LoadFromStream(junk), EVantexError);
  EXPECT_EQ(image.Width(), 4);
  EXPECT_THROW(image.LoadFromFile("/nonexistent/file.png"), EVantexError);
}

TEST(GDIPlusProperties, BrushTypesBuildTheirBrushOrFallBackToSolid) {
  struct TCase {
    const char* Name;
    std::function<void(TRGGPBrush&)> Setup;
    TIGPBrushType Expected;
  };
  const std::vector<TCase> cases = {
      {"solid", [](TRGGPBrush&) {}, btSolidColor},
      {"hatch", [](TRGGPBrush& b) { b.SetBrushType(btHatchFill); }, btHatchFill},
      {"texture without image", [](TRGGPBrush& b) { b.SetBrushType(btTextureFill); }, btSolidColor},
      {"texture", [](TRGGPBrush& b) { b.SetBrushType(btTextureFill); b.Texture()->SetGPImage(Checker()); },
       btTextureFill},
      {"path gradient without points or colours", [](TRGGPBrush& b) { b.SetBrushType(btPathGradient); },
       btSolidColor},
      {"path gradient on the rectangle's corners",
       [](TRGGPBrush& b) { b.SetBrushType(btPathGradient); b.Gradient()->Colors()->Add(0xFF0000FFu); },
       btPathGradient},
      {"linear gradient without colours", [](TRGGPBrush& b) { b.SetBrushType(btLinearGradient); }, btSolidColor},
      {"linear gradient",
       [](TRGGPBrush& b) {
         b.SetBrushType(btLinearGradient);
         b.Gradient()->Colors()->Add(0xFF000000u);
         b.Gradient()->Colors()->Add(0xFFFFFFFFu);
       },
       btLinearGradient},
  };
  for (const auto& c : cases) {
    TRGGPBrush brush;
    c.Setup(brush);
    EXPECT_EQ(brush.GetGPBrush({0, 0, 100, 100})->GetType(), c.Expected) << c.Name;
  }
}

TEST(GDIPlusProperties, ALinearGradientRunsFromTheFirstToTheLastColour) {
  TSurface s;
  TRGGPBrush brush;
  brush.SetBrushType(btLinearGradient);
  brush.SetLinearGradientMode(lmVertical);
  brush.Gradient()->Colors()->Add(0xFFFF0000u);
  brush.Gradient()->Colors()->Add(0xFF0000FFu);
  s.Graphics->FillRectangle(brush.GetGPBrush({0, 0, 100, 100}), {0, 0, 100, 100});
  EXPECT_TRUE(Near(s.At(50, 1), 0xFFFF0000u, 12));
  EXPECT_TRUE(Near(s.At(50, 98), 0xFF0000FFu, 12));
  EXPECT_TRUE(Near(s.At(10, 50), s.At(90, 50), 2));  // vertical: rows are uniform
}

TEST(GDIPlusProperties, TheCachedPenIsReusedUntilAPropertyChanges) {
  const TIGPRectF r(0, 0, 100, 100);
  struct TCase {
    const char* Name;
    std::function<void(TRGGPPen&)> Change;
  };
  const std::vector<TCase> cases = {
      {"width", [](TRGGPPen& p) { p.SetWidth(5); }},
      {"brush colour", [](TRGGPPen& p) { p.SetColor(0xFF0000FFu); }},
      {"dash style", [](TRGGPPen& p) { p.DashStyle()->SetStyle(dsDot); }},
      {"custom dash item", [](TRGGPPen& p) { p.DashStyle()->CustomDash()->Add(3); }},
      {"compound", [](TRGGPPen& p) { p.Compound()->Add(0); }},
      {"line join", [](TRGGPPen& p) { p.SetLineJoin(ljRound); }},
      {"scale", [](TRGGPPen& p) { p.SetScale(2, 2); }},
  };
  for (const auto& c : cases) {
    TRGGPPen pen;
    const TIntfPtr<TIGPPen> first = pen.GetGPPen(r);
    EXPECT_EQ(pen.GetGPPen(r).Get(), first.Get()) << c.Name;
    c.Change(pen);
    EXPECT_NE(pen.GetGPPen(r).Get(), first.Get()) << c.Name;
  }
  // Another rectangle or width factor is another pen too.
  TRGGPPen pen;
  const TIntfPtr<TIGPPen> first = pen.GetGPPen(r);
  EXPECT_NE(pen.GetGPPen({0, 0, 50, 50}).Get(), first.Get());
  EXPECT_EQ(pen.GetGPPenInt({0, 0, 50, 50}, 3)->GetWidth(), 3.0f);
}

TEST(GDIPlusProperties, AChangedPenColourChangesThePixelsDrawn) {
  TSurface s;
  TRGGPPen pen;
  const TIGPRectF r(0, 0, 100, 100);
  EXPECT_EQ(pen.GetGPPen(r)->GetWidth(), 1.0f);  // a new pen is one wide; its opaque red shows below
  pen.SetWidth(4);
  s.Graphics->DrawLine(pen.GetGPPen(r), 0, 20, 100, 20);
  pen.SetColor(0xFF0000FFu);
  s.Graphics->DrawLine(pen.GetGPPen(r), 0, 60, 100, 60);
  pen.Brush()->SetBrushType(btHatchFill);
  pen.Brush()->Hatch()->SetStyle(hsHorizontal);
  EXPECT_EQ(s.At(50, 20), 0xFFFF0000u);
  EXPECT_EQ(s.At(50, 60), 0xFF0000FFu);
  EXPECT_EQ(pen.GetGPPen(r)->GetBrush()->GetType(), btHatchFill);
}

TEST(GDIPlusProperties, ChangesReachTheOwnerThroughEveryLevel) {
  struct TCountingOwner : TLockPersistent {
    TCountingOwner() : TLockPersistent(nullptr) {}
    void OwnedChanged(TPersistent*) override { ++Count; }
    int Count = 0;
  } owner;
  TRGGPFont font(&owner);
  EXPECT_EQ(owner.Count, 0);  // making the sub-objects and their defaults is quiet
  font.Pen()->AdditionalPens()->Add()->Pen()->DashStyle()->CustomDash()->Add(1);
  EXPECT_GT(owner.Count, 0);
  const int mid = owner.Count;
  font.SetSize(10);  // unchanged: no notification
  EXPECT_EQ(owner.Count, mid);
}

TEST(GDIPlusProperties, PensOfACollectionTakeItsScaleFactors) {
  TRGGPOptionalMultiPen pen(nullptr, 2, 3);
  TRGGPPen* extra = pen.AdditionalPens()->Add()->Pen();
  EXPECT_EQ(extra->ScaleX(), 2.0f);
  EXPECT_EQ(extra->ScaleY(), 3.0f);
  EXPECT_EQ(extra->GetGPPen({0, 0, 10, 10})->GetWidth(), 2.5f);
  EXPECT_FALSE(HasStoredMembers(TRGGPOptionalMultiPen()));
  EXPECT_TRUE(HasStoredMembers(pen));
}

TEST(GDIPlusProperties, AFontIsBuiltFromNameSizeAndStyleAndRebuiltAfterAChange) {
  TRGGPFont font;
  const TIntfPtr<TIGPFont> first = font.GetGPFont();
  EXPECT_EQ(first->GetFamily()->GetRequestedName(), "Microsoft Sans Serif");
  EXPECT_EQ(font.GetGPFont().Get(), first.Get());
  font.SetStyle(fsBold);
  EXPECT_EQ(font.GetGPFont()->GetStyle(), fsBold);
  font.SetSize(20);
  EXPECT_EQ(font.GetGPFont()->GetSize(), 20.0f);
}

// Fonts opened ahead on another thread (a family that is installed, one
// that falls back, the default) while this thread draws text: no race, and
// the text comes out pixel for pixel as it does afterwards.
TEST(GDIPlusProperties, FontsPreloadedOnAnotherThreadDrawTheSameText) {
  auto draw = [] {
    TSurface s;
    TRGGPFont font;
    font.SetStyle(fsBold);
    s.Graphics->DrawString("Preload 0123", font.GetGPFont(), TIGPPointF{2, 40},
                           TIntfPtr<IGPBrush>(new TIGPSolidBrush(0xFF000000u)));
    s.Graphics->Flush();
    return s.Bitmap->GetPixels();
  };
  std::vector<TGPColor> during;
  {
    TRGGPFont wanted[3];
    wanted[0].SetName("monospace");
    wanted[1].SetName("No Such Family 4711");
    for (const TRGGPFont& f : wanted) f.WantPreload();
    std::jthread preloader([] { TRGGPBasicFont::PreloadWanted(); });
    during = draw();
  }
  const std::vector<TGPColor> after = draw();
  EXPECT_EQ(during, after);
  EXPECT_TRUE(std::any_of(after.begin(), after.end(), [](TGPColor c) { return GetAlpha(c) != 0; }))
      << "no text was drawn";
}

TEST(GDIPlusProperties, NewColourItemsTakeTheLeastUsedPaletteColour) {
  TRGGPColorItems items;
  items.SetPalette({0xFF0000FFu, 0xFF00FF00u, 0xFFFF0000u});
  for (int i = 0; i < 3; ++i) items.Add();
  EXPECT_EQ(items[0]->Color(), 0xFF0000FFu);
  EXPECT_EQ(items[1]->Color(), 0xFF00FF00u);
  EXPECT_EQ(items[2]->Color(), 0xFFFF0000u);
  items[0]->SetColor(0xFFFF0000u);  // blue is now unused
  EXPECT_EQ(items.Add()->Color(), 0xFF0000FFu);
  // The picked colour is the item's default: it is not streamed.
  EXPECT_FALSE(HasStoredMembers(*items[3]));
  EXPECT_TRUE(HasStoredMembers(*items[0]));
}

TEST(GDIPlusProperties, ColourHelpers) {
  struct TCase {
    const char* Name;
    TGPColor Actual, Expected;
  };
  const std::vector<TCase> cases = {
      {"dim by 2 limits at 255, alpha stays", RGDimColor(0x80C86432u, 2), 0x80FFC864u},
      {"dim by 0.5 rounds to nearest", RGDimColor(0xFF030507u, 0.5f), 0xFF020304u},
      {"dim by 0 is black", RGDimColor(0x7FFFFFFFu, 0), 0x7F000000u},
      {"interpolate at 0", RGInterpolateColorF(0xFF000000u, 0x00FFFFFFu, 0), 0xFF000000u},
      {"interpolate at 1", RGInterpolateColorF(0xFF000000u, 0x00FFFFFFu, 1), 0x00FFFFFFu},
      {"interpolate halfway", RGInterpolateColorF(0xFF000000u, 0xFF0000C8u, 0.5f), 0xFF000064u},
      {"interpolate beyond 1 is limited", RGInterpolateColorF(0xFF000000u, 0xFF0000C8u, 3), 0xFF0000C8u},
      {"angle pi/4 gives the second colour", RGColorFromAngle(0xFF000000u, 0xFF0000C8u, float(M_PI / 4)),
       0xFF0000C8u},
      {"angle -pi/4 gives the middle", RGColorFromAngle(0xFF000000u, 0xFF0000C8u, float(-M_PI / 4)), 0xFF000064u},
      {"angle 5pi/4 gives the first colour", RGColorFromAngle(0xFF000000u, 0xFF0000C8u, float(5 * M_PI / 4)),
       0xFF000000u},
  };
  for (const auto& c : cases) EXPECT_EQ(c.Actual, c.Expected) << c.Name << std::hex << " " << c.Actual;
  EXPECT_NEAR(RGSec(M_PI / 3), 2.0, 1e-12);
  EXPECT_NEAR(RGCsc(M_PI / 6), 2.0, 1e-12);
}

constexpr TGPColor kLight = 0xFFFF0000u, kShade = 0xFF0000FFu, kNone = 0;

struct TProbe {
  int X, Y;
  TGPColor Expected;
  int Tolerance = 8;
};
struct TRoutineCase {
  const char* Name;
  std::function<void(IGPGraphics&)> Draw;
  std::vector<TProbe> Probes;
};

TEST(GDIPlusDrawing, FreeRoutinesDrawAtTheExpectedPlaces) {
  const TIGPRectF box(10, 10, 80, 80);
  const TIGPSizeF corner{20, 20};
  const std::vector<TRoutineCase> cases = {
      {"frame",
       [&](IGPGraphics& g) { RGDrawFrame3DF(g, kLight, kShade, box, 4); },
       {{50, 11, kLight}, {11, 50, kLight}, {50, 88, kShade}, {88, 50, kShade}, {50, 50, kNone}, {50, 8, kNone}}},
      {"ellipse",
       [&](IGPGraphics& g) { RGDrawEllipse3DF(g, kLight, kShade, box, 4); },
       {{50, 12, kLight}, {12, 50, kLight}, {50, 87, kShade}, {87, 50, kShade}, {50, 50, kNone}, {14, 14, kNone}}},
      {"round rectangle",
       [&](IGPGraphics& g) { RGDrawRoundRectangle3DF(g, kLight, kShade, box, corner, 4); },
       {{50, 11, kLight}, {50, 88, kShade}, {11, 11, kNone}, {50, 50, kNone}}},
      {"diamond frame",
       [&](IGPGraphics& g) { RGDrawDiamondFrame3DF(g, kLight, kShade, box, 4); },
       {{31, 31, kLight, 40}, {69, 69, kShade, 40}, {50, 50, kNone}, {12, 12, kNone}}},
      {"round diamond frame",
       [&](IGPGraphics& g) { RGDrawRoundDiamondFrame3DF(g, kLight, kShade, box, corner, 4); },
       {{31, 31, kLight, 40}, {69, 69, kShade, 40}, {50, 50, kNone}, {11, 50, kNone}}},
      {"etched line",
       [&](IGPGraphics& g) { RGDrawLine3DF(g, kLight, kShade, 10, 50, 90, 50, 4, false); },
       {{50, 49, kLight}, {50, 55, kShade}, {50, 45, kNone}, {50, 58, kNone}}},
      {"raised line",
       [&](IGPGraphics& g) { RGDrawLine3DF(g, kLight, kShade, 50, 10, 50, 90, 4, true); },
       {{49, 50, kShade}, {55, 50, kLight}}},
      {"bulb",
       [&](IGPGraphics& g) { RGFillBulb3DF(g, kLight, box); },
       {{38, 38, RGInterpolateColorF(kLight, 0xFFFFFFFFu, 0.6f), 30}, {50, 88, RGDimColor(kLight, 0.5f), 40},
        {12, 12, kNone}}},
      {"gloss rectangle",
       [&](IGPGraphics& g) { RGGlossRectangle3DF(g, kLight, kShade, {0, 0, 100, 100}); },
       {{50, 95, RGInterpolateColorF(kLight, kShade, 0.95f), 12}, {50, 5, RGInterpolateColorF(RGInterpolateColorF(kLight, kShade, 0.05f), 0xFFFFFFFFu, 0.63f), 12}}},
      {"one-colour gloss ellipse",
       [&](IGPGraphics& g) { RGGlossEllipse3DF(g, kLight, box); },
       {{50, 85, RGInterpolateColorF(kLight, RGDimColor(kLight, 0.6f), 0.94f), 16}, {12, 12, kNone}}},
      {"gloss diamond",
       [&](IGPGraphics& g) { RGGlossDiamond3DF(g, kLight, kShade, box); },
       {{50, 80, RGInterpolateColorF(kLight, kShade, 0.875f), 16}, {15, 15, kNone}, {85, 85, kNone}}},
      {"filled round diamond",
       [&](IGPGraphics& g) {
         RGFillRoundDiamondF(g, TIntfPtr<IGPBrush>(new TIGPSolidBrush(kShade)), box, {30, 30});
       },
       {{50, 50, kShade}, {12, 50, kNone}, {50, 12, kNone}, {30, 50, kShade}}},
      {"square diamond reaches its tips",
       [&](IGPGraphics& g) { RGFillRoundDiamondF(g, TIntfPtr<IGPBrush>(new TIGPSolidBrush(kShade)), box, {0, 0}); },
       {{12, 50, kShade, 60}, {50, 12, kShade, 60}}},
      {"round diamond with pen and brush",
       [&](IGPGraphics& g) {
         RGDrawRoundDiamondF(g, TIntfPtr<TIGPPen>(new TIGPPen(kLight, 4)),
                             TIntfPtr<IGPBrush>(new TIGPSolidBrush(kShade)), box, {20, 20});
       },
       {{50, 50, kShade}, {30, 30, kLight, 60}}},
  };
  for (const auto& c : cases) {
    TSurface s;
    c.Draw(*s.Graphics);
    for (const TProbe& p : c.Probes)
      EXPECT_TRUE(Near(s.At(p.X, p.Y), p.Expected, p.Tolerance))
          << c.Name << " at (" << p.X << ", " << p.Y << "): " << std::hex << s.At(p.X, p.Y) << " expected "
          << p.Expected;
  }
}

TEST(GDIPlusDrawing, RoundDiamondPathStaysInItsRectangle) {
  for (const TIGPSizeF corner : {TIGPSizeF{0, 0}, TIGPSizeF{10, 30}, TIGPSizeF{500, 500}}) {
    const TIGPRectF b = RGCreateRoundDiamondPathF({10, 20, 80, 40}, corner)->GetBounds();
    EXPECT_GE(b.Left(), 10 - 1e-3f);
    EXPECT_GE(b.Top(), 20 - 1e-3f);
    EXPECT_LE(b.Right(), 90 + 1e-3f);
    EXPECT_LE(b.Bottom(), 60 + 1e-3f);
  }
}

TEST(GDIPlusDrawing, AFontWithAnEnabledPenOutlinesItsText) {
  TSurface s;
  TRGGPFont font;
  font.Brush()->SetColor(0xFF00FF00u);
  TIntfPtr<TIGPGraphicsPath> path(new TIGPGraphicsPath());
  path->AddRectangle({20, 20, 60, 60});  // stands in for a text path
  font.DrawOnGraphics(*s.Graphics, path);
  EXPECT_EQ(s.At(20, 50), 0xFF00FF00u);
  font.Pen()->SetEnabled(true);
  font.Pen()->SetWidth(6);
  font.DrawOnGraphics(*s.Graphics, path);
  EXPECT_EQ(s.At(50, 50), 0xFF00FF00u);
  EXPECT_EQ(s.At(18, 50), 0xFFFF0000u);  // the pen's red, half outside the fill
}

}  // namespace
}  // namespace nxtest
