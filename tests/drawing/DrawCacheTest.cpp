// The composite layer's image cache: which layers are drawn again after which change, and the copied picture.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "drawing/RGDrawLayers.h"
#include "drawing/RGGDIPlusProperties.h"
#include "nxruntime.h"

extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace nxtest {
namespace {

using namespace nx;

class TCacheDisplay : public TLockComponent {
  NX_PERSISTENT(TCacheDisplay, TLockComponent)
 public:
  explicit TCacheDisplay(TComponent* AOwner) : TLockComponent(AOwner) { InitProperties(this); }
  TRGDrawLayers* Layers() const { return FLayers.get(); }
  static void DeclareProperties(TClassBuilder<TCacheDisplay>& P) { P.Prop<&TCacheDisplay::FLayers>("Layers"); }

 private:
  std::unique_ptr<TRGDrawLayers> FLayers;
};

// Fills its box with a brush it owns (a change of the brush is a change of the layer); counts its drawings.
class TCountingLayer : public TRGDrawLayer {
 public:
  TCountingLayer(TComponent* AOwner, TIGPRectF ABox, TGPColor AColor)
      : TRGDrawLayer(AOwner), Box(ABox), Brush(new TRGGPBrush(this)) {
    Brush->SetColor(AColor);
  }
  TIGPRectF Box;
  std::unique_ptr<TRGGPBrush> Brush;
  int Draws = 0;

 protected:
  void IntDraw(IGPGraphics& AGraphics, std::int32_t, std::int32_t) override {
    ++Draws;
    AGraphics.FillEllipse(Brush->GetGPBrush(Box), Box);
  }
};

constexpr TGPColor kRed = 0xFFFF0000u, kBlue = 0xFF0000FFu, kGreen = 0xFF00FF00u, kYellow = 0xFFFFFF00u;

class DrawCacheTest : public ::testing::Test {
 public:
  void SetUp() override {
    Display = new TCacheDisplay(nullptr);
    Composite = Add(new TRGCompositeLayer(Display));
    Back = Add(new TCountingLayer(Display, {0, 0, 60, 60}, kRed));
    Mid = Add(new TCountingLayer(Display, {40, 0, 60, 60}, kBlue));
    Top = Add(new TCountingLayer(Display, {20, 50, 40, 40}, kGreen));
    Composite->AddLayer(Back);
    Composite->AddLayer(Mid);
  }
  void TearDown() override { Display->Free(); }
  template <class T>
  T* Add(T* ALayer) {
    ALayer->SetList(Display->Layers());
    return ALayer;
  }
  // One pass on a fresh canvas; the draws each layer made in it.
  std::vector<int> Pass(float ACoeff = 1) {
    const std::vector<int> before{Back->Draws, Mid->Draws, Top->Draws};
    Canvas = std::make_unique<TRGCairoCanvas>(100, 100);
    Display->Layers()->Draw(*Canvas, int(100 / ACoeff), int(100 / ACoeff), ACoeff, ACoeff);
    return {Back->Draws - before[0], Mid->Draws - before[1], Top->Draws - before[2]};
  }
  TCacheDisplay* Display = nullptr;
  TRGCompositeLayer* Composite = nullptr;
  TCountingLayer *Back = nullptr, *Mid = nullptr, *Top = nullptr;
  std::unique_ptr<TRGCairoCanvas> Canvas;
};

TEST_F(DrawCacheTest, OnlyChangedLayersAreDrawnAgain) {
  struct TStep {
    const char* Name;
    std::function<void(DrawCacheTest&)> Change;
    float Coeff;
    std::vector<int> Draws;  // Back, Mid, Top in this pass
    TGPColor At10x20;        // inside Back only
    TGPColor At70x20;        // inside Mid only
  } steps[] = {
      {"first pass draws every layer", [](DrawCacheTest&) {}, 1, {1, 1, 1}, kRed, kBlue},
      {"nothing changed: the images are copied", [](DrawCacheTest&) {}, 1, {0, 0, 1}, kRed, kBlue},
      {"the top layer changed", [](DrawCacheTest& t) { t.Top->Brush->SetColor(kYellow); }, 1, {0, 0, 1}, kRed,
       kBlue},
      {"a lower layer's brush changed", [](DrawCacheTest& t) { t.Mid->Brush->SetColor(kGreen); }, 1, {0, 1, 1},
       kRed, kGreen},
      {"a lower layer's data changed", [](DrawCacheTest& t) { t.Back->Invalidate(); }, 1, {1, 0, 1}, kRed, kGreen},
      {"other scale factors", [](DrawCacheTest&) {}, 0.5f, {1, 1, 1}, kRed, 0},
      {"back to the first factors", [](DrawCacheTest&) {}, 1, {1, 1, 1}, kRed, kGreen},
      {"a lower layer hidden", [](DrawCacheTest& t) { t.Back->SetVisible(false); }, 1, {0, 0, 1}, 0, kGreen},
      {"and shown again", [](DrawCacheTest& t) { t.Back->SetVisible(true); }, 1, {1, 0, 1}, kRed, kGreen},
      {"the composite hidden: the list draws every layer",
       [](DrawCacheTest& t) { t.Composite->SetVisible(false); }, 1, {1, 1, 1}, kRed, kGreen},
      {"composite shown: its images were dropped", [](DrawCacheTest& t) { t.Composite->SetVisible(true); }, 1,
       {1, 1, 1}, kRed, kGreen},
      {"a link removed: the list draws that layer itself",
       [](DrawCacheTest& t) { t.Composite->Layers()->Delete(1); }, 1, {1, 1, 1}, kRed, kGreen},
      {"and the other one is cached again", [](DrawCacheTest&) {}, 1, {0, 1, 1}, kRed, kGreen},
  };
  for (const TStep& step : steps) {
    SCOPED_TRACE(step.Name);
    step.Change(*this);
    EXPECT_EQ(Pass(step.Coeff), step.Draws);
    EXPECT_EQ(Canvas->GetPixel(10, 20), step.At10x20);
    EXPECT_EQ(Canvas->GetPixel(70, 20), step.At70x20);
    if (step.Coeff == 1) {
      EXPECT_EQ(Canvas->GetPixel(40, 70), Top->Brush->Color());  // the top layer is always there
    }
  }
}

// Every channel of every pixel within 2 (copying the premultiplied images rounds once more).
void ExpectSamePicture(const TRGCairoCanvas& AExpected, const TRGCairoCanvas& AActual) {
  auto* e = dynamic_cast<IGPBitmap*>(AExpected.Image().Get());
  auto* a = dynamic_cast<IGPBitmap*>(AActual.Image().Get());
  ASSERT_TRUE(e && a);
  const std::vector<TGPColor> pe = e->GetPixels(), pa = a->GetPixels();
  ASSERT_EQ(pe.size(), pa.size());
  int worst = 0;
  for (std::size_t i = 0; i < pe.size(); ++i)
    for (int shift = 0; shift < 32; shift += 8)
      worst = std::max(worst, std::abs(int((pe[i] >> shift) & 255) - int((pa[i] >> shift) & 255)));
  EXPECT_LE(worst, 2);
}

TEST_F(DrawCacheTest, CopiedImagesGiveTheDirectPicture) {
  // Translucent, antialiased shapes under a transform and scale factors.
  Back->Brush->SetColor(0x80FF4000u);
  Mid->Brush->SetColor(0xC00040FFu);
  for (const std::uint64_t drawn : {2u, 2u}) {  // drawn into the images, then copied from them
    TRGCairoCanvas cached(120, 90), direct(120, 90);
    for (TRGCairoCanvas* c : {&cached, &direct}) {
      c->GetGraphics()->Clear(0xFFF0F0F0u);
      c->GetGraphics()->TranslateTransform(7.5f, 3.25f);
    }
    Display->Layers()->Draw(cached, 80, 60, 1.3f, 1.2f);
    for (TCountingLayer* layer : {Back, Mid, Top}) layer->DoLayerDraw(direct, 80, 60, 1.3f, 1.2f, false);
    ExpectSamePicture(direct, cached);
    EXPECT_EQ(Composite->ImagesDrawn(), drawn);
  }
}

}  // namespace
}  // namespace nxtest
