// Draw layers (order, visibility, scale, mouse routing, cache, links) and the canvas's shapes, clips and pixels.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "drawing/RGDrawLayers.h"
#include "nxruntime.h"

extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace nxtest {
namespace {

using namespace nx;

// A layer that fills its rectangle and, when asked, handles the mouse inside it.
class TBoxLayer : public TRGDrawLayer {
  NX_PERSISTENT(TBoxLayer, TRGDrawLayer)
 public:
  explicit TBoxLayer(TComponent* AOwner) : TRGDrawLayer(AOwner), FLinks(new TRGLayerCollection(this)) {}
  TIGPRectF Box{0, 0, 100, 100};
  TGPColor Color = 0xFFFF0000u;
  bool HandlesMouse = false;
  std::vector<std::string>* Log = nullptr;
  TRGLayerCollection* Links() const { return FLinks.get(); }

  void DoLayerBegin(TRGCanvas&, std::int32_t, std::int32_t, float, float) override { Note("begin"); }
  void DoLayerEnd(TRGCanvas&, std::int32_t, std::int32_t, float, float) override { Note("end"); }
  bool DoLayerMouseMove(TShiftState, float X, float Y) override { return Hit("move", X, Y); }
  bool DoLayerMouseDown(TMouseButton, TShiftState, float X, float Y) override { return Hit("down", X, Y); }
  bool DoLayerMouseUp(TMouseButton, TShiftState, float X, float Y) override { return Hit("up", X, Y); }
  bool DoLayerMouseWheelUp(TShiftState, float X, float Y) override { return Hit("wheel", X, Y); }
  void DoLayerMouseEnter() override { Note("enter"); }
  void DoLayerMouseLeave() override { Note("leave"); }

 protected:
  void IntDraw(IGPGraphics& AGraphics, std::int32_t, std::int32_t) override {
    Note("draw");
    AGraphics.FillRectangle(TIntfPtr<IGPBrush>(new TIGPSolidBrush(Color)), Box);
  }

 private:
  void Note(const std::string& AWhat) {
    if (Log) Log->push_back(Name() + " " + AWhat);
  }
  bool Hit(const std::string& AWhat, float X, float Y) {
    Note(AWhat);
    return HandlesMouse && Box.Contains(X, Y);
  }
  std::unique_ptr<TRGLayerCollection> FLinks;
};

class TDisplay : public TLockComponent {
  NX_PERSISTENT(TDisplay, TLockComponent)
 public:
  explicit TDisplay(TComponent* AOwner) : TLockComponent(AOwner) { InitProperties(this); }
  TRGDrawLayers* Layers() const { return FLayers.get(); }
  static void DeclareProperties(TClassBuilder<TDisplay>& P) { P.Prop<&TDisplay::FLayers>("Layers"); }

 private:
  std::unique_ptr<TRGDrawLayers> FLayers;
};

class DrawLayersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Display = new TDisplay(nullptr);
    Display->SetName("Display");
  }
  void TearDown() override { Display->Free(); }
  TBoxLayer* AddLayer(const char* AName, TIGPRectF ABox, TGPColor AColor, TDisplay* AOn = nullptr) {
    TDisplay* display = AOn ? AOn : Display;
    auto* layer = new TBoxLayer(display);
    layer->SetName(AName);
    layer->Box = ABox;
    layer->Color = AColor;
    layer->Log = &Log;
    layer->SetList(display->Layers());
    return layer;
  }
  TGPColor DrawAndProbe(float X, float Y, float AXCoeff = 1, float AYCoeff = 1) {
    TRGCairoCanvas canvas(100, 100);
    Display->Layers()->Draw(canvas, 100, 100, AXCoeff, AYCoeff);
    return canvas.GetPixel(int(X), int(Y));
  }
  TDisplay* Display = nullptr;
  std::vector<std::string> Log;
};

constexpr TGPColor kRed = 0xFFFF0000u, kBlue = 0xFF0000FFu;

TEST_F(DrawLayersTest, LayersDrawInListOrderTheLastOnTop) {
  TBoxLayer* a = AddLayer("A", {0, 0, 60, 60}, kRed);
  TBoxLayer* b = AddLayer("B", {40, 40, 60, 60}, kBlue);
  EXPECT_EQ(DrawAndProbe(50, 50), kBlue);
  EXPECT_EQ(Log, (std::vector<std::string>{"A begin", "B begin", "A draw", "B draw", "A end", "B end"}));
  b->SetIndex(0);
  EXPECT_EQ(DrawAndProbe(50, 50), kRed);
  EXPECT_EQ(DrawAndProbe(10, 10), kRed);
  EXPECT_EQ(DrawAndProbe(90, 90), kBlue);
  a->SetVisible(false);
  EXPECT_EQ(DrawAndProbe(50, 50), kBlue);
  EXPECT_EQ(DrawAndProbe(10, 10), 0u);
}

TEST_F(DrawLayersTest, AnInvisibleLayerReportsNoOperations) {
  TBoxLayer* a = AddLayer("A", {0, 0, 10, 10}, kRed);
  EXPECT_TRUE(a->GetOperations().Contains(dlmDraw));
  EXPECT_FALSE(a->GetOperations().Contains(dlmFilter));
  a->SetIsEnabled(false);
  EXPECT_TRUE(a->GetOperations().Empty());
  EXPECT_FALSE(a->GetIsEnabled());
}

TEST_F(DrawLayersTest, TheScaleFactorsApplyToOnePassOnly) {
  AddLayer("A", {0, 0, 10, 10}, kRed);
  TRGCairoCanvas canvas(100, 100);
  Display->Layers()->Draw(canvas, 100, 100, 4, 2);
  EXPECT_EQ(canvas.GetPixel(35, 15), kRed);
  EXPECT_EQ(canvas.GetPixel(35, 25), 0u);
  EXPECT_TRUE(canvas.GetGraphics()->GetTransform().IsIdentity());
}

TEST_F(DrawLayersTest, MouseEventsGoTopFirstToTheLayerThatHandlesThem) {
  TBoxLayer* a = AddLayer("A", {0, 0, 50, 50}, kRed);
  TBoxLayer* b = AddLayer("B", {25, 25, 50, 50}, kBlue);
  TBoxLayer* c = AddLayer("C", {0, 0, 100, 100}, kBlue);
  a->HandlesMouse = b->HandlesMouse = true;
  c->SetVisible(false);
  struct TCase {
    float X, Y;
    bool Handled;
    std::vector<std::string> Log;
  };
  const std::vector<TCase> cases = {
      {30, 30, true, {"B wheel"}},              // B is above A
      {10, 10, true, {"B wheel", "A wheel"}},   // outside B: on to A
      {90, 10, false, {"B wheel", "A wheel"}},  // nobody; the invisible C is never asked
  };
  for (const auto& t : cases) {
    Log.clear();
    EXPECT_EQ(Display->Layers()->MouseWheelUp({}, t.X, t.Y), t.Handled) << t.X << "," << t.Y;
    EXPECT_EQ(Log, t.Log) << t.X << "," << t.Y;
  }
}

TEST_F(DrawLayersTest, TheLayerThatTakesAPressHoldsTheMouseUntilTheRelease) {
  TBoxLayer* a = AddLayer("A", {0, 0, 50, 50}, kRed);
  TBoxLayer* b = AddLayer("B", {60, 60, 40, 40}, kBlue);
  a->HandlesMouse = b->HandlesMouse = true;
  TRGDrawLayers& layers = *Display->Layers();
  EXPECT_TRUE(layers.MouseDown(mbLeft, {ssLeft}, 10, 10));
  EXPECT_EQ(layers.MouseCapture(), static_cast<IRGDrawItem*>(a));
  Log.clear();
  layers.MouseMove({ssLeft}, 70, 70);  // over B, but A holds the mouse
  layers.MouseUp(mbLeft, {}, 70, 70);
  EXPECT_EQ(Log, (std::vector<std::string>{"A move", "A up"}));
  EXPECT_EQ(layers.MouseCapture(), nullptr);
  Log.clear();
  layers.MouseMove({}, 70, 70);
  EXPECT_EQ(Log, (std::vector<std::string>{"B move"}));
  // A holder that leaves the list lets the mouse go.
  EXPECT_TRUE(layers.MouseDown(mbLeft, {}, 70, 70));
  b->SetList(nullptr);
  EXPECT_EQ(layers.MouseCapture(), nullptr);
  Log.clear();
  layers.MouseEnter();
  layers.MouseLeave();
  EXPECT_EQ(Log, (std::vector<std::string>{"A enter", "A leave"}));
}

TEST_F(DrawLayersTest, TheCacheKeepsOneObjectPerLink) {
  TBoxLayer* a = AddLayer("A", {}, kRed);
  TRGGPPoint link1, link2;
  TIntfPtr<IInterface> x(new TInterfacedObject), y(new TInterfacedObject);
  struct TStep {
    const TPersistent* Link;
    TIntfPtr<IInterface> Data;
    IInterface *Expect1, *Expect2;
  };
  const std::vector<TStep> steps = {
      {&link1, nullptr, nullptr, nullptr},  // nothing for a link without an entry: no change
      {&link1, x, x.Get(), nullptr},
      {&link2, y, x.Get(), y.Get()},
      {&link1, y, y.Get(), y.Get()},        // replaced
      {&link1, nullptr, nullptr, y.Get()},  // removed
  };
  for (std::size_t i = 0; i < steps.size(); ++i) {
    a->SetCachedData(steps[i].Link, steps[i].Data);
    EXPECT_EQ(a->GetCachedData(&link1).Get(), steps[i].Expect1) << i;
    EXPECT_EQ(a->GetCachedData(&link2).Get(), steps[i].Expect2) << i;
  }
  a->ClearCachedData();
  EXPECT_FALSE(a->GetCachedData(&link2));
}

TEST_F(DrawLayersTest, LinkingRefusesWhatIsNoLayerOfTheSameList) {
  TBoxLayer* a = AddLayer("A", {}, kRed);
  TBoxLayer* b = AddLayer("B", {}, kRed);
  auto* other = new TDisplay(nullptr);
  TBoxLayer* foreign = AddLayer("F", {}, kRed, other);
  auto* plain = new TLockComponent(Display);
  TRGLayerCollectionItem* item = a->Links()->Add();
  struct TCase {
    const char* Name;
    TComponent* Target;
    TComponent* Expected;
  };
  const std::vector<TCase> cases = {
      {"a layer of the same list", b, b},
      {"itself", a, b},
      {"a component without the draw interface", plain, b},
      {"a layer of another display", foreign, b},
      {"nothing unlinks", nullptr, nullptr},
      {"again", b, b},
  };
  for (const auto& c : cases) {
    item->SetLayer(c.Target);
    EXPECT_EQ(item->Layer(), c.Expected) << c.Name;
  }
  EXPECT_EQ(b->LinkList(), std::vector<TRGLayerCollectionItem*>{item});
  EXPECT_TRUE(foreign->LinkList().empty());
  EXPECT_EQ(item->GetDisplayName(), "B");
  other->Free();
}

TEST_F(DrawLayersTest, ALayerUnlinksTheItemsThatPointToItWhenDestroyed) {
  TBoxLayer* a = AddLayer("A", {}, kRed);
  TBoxLayer* b = AddLayer("B", {}, kRed);
  TBoxLayer* c = AddLayer("C", {}, kRed);
  TRGLayerCollectionItem* fromA = a->Links()->Add();
  TRGLayerCollectionItem* fromC = c->Links()->Add();
  fromA->SetLayer(b);
  fromC->SetLayer(b);
  b->Free();
  EXPECT_EQ(fromA->Layer(), nullptr);
  EXPECT_EQ(fromC->Layer(), nullptr);
  // And an item that goes leaves its layer's link list.
  fromA->SetLayer(c);
  EXPECT_EQ(c->LinkList().size(), 1u);
  a->Links()->Clear();
  EXPECT_TRUE(c->LinkList().empty());
}

TEST_F(DrawLayersTest, TheLegacyLayerIndexLinksByPosition) {
  TBoxLayer* a = AddLayer("A", {}, kRed);
  AddLayer("B", {}, kRed);
  TBoxLayer* c = AddLayer("C", {}, kRed);
  struct TCase {
    std::int32_t Index;
    TComponent* Expected;
  };
  for (const TCase& t : {TCase{2, c}, TCase{7, nullptr}, TCase{0, nullptr}}) {
    TRGLayerCollectionItem* item = a->Links()->Add();
    TMemoryStream stream;
    TBinaryWriter writer(stream, "TRGLayerCollectionItem");
    writer.WriteInt32("LayerIndex", t.Index);
    writer.Finish();
    stream.SetPosition(0);
    TBinaryReader reader(stream);
    ReadObject(reader, *item);
    EXPECT_EQ(item->LayerIndex(), t.Index);
    // Index 0 is the own layer, which is refused like any self link.
    EXPECT_EQ(item->Layer(), t.Expected) << t.Index;
  }
}

TEST(CairoCanvas, ShapesUseTheBrushAndThePen) {
  TRGCairoCanvas canvas(60, 60);
  canvas.Brush().Color = kBlue;
  canvas.Pen().Color = kRed;
  canvas.Pen().Width = 2;
  canvas.Rectangle(10, 10, 50, 50);
  EXPECT_EQ(canvas.GetPixel(30, 30), kBlue);
  EXPECT_EQ(canvas.GetPixel(30, 10), kRed);
  canvas.Brush().Style = rbsClear;
  canvas.Pen().Style = rpsClear;
  canvas.Ellipse(0, 0, 60, 60);  // draws nothing
  EXPECT_EQ(canvas.GetPixel(30, 30), kBlue);
  canvas.Pen().Style = rpsSolid;
  canvas.MoveTo(0, 55);
  canvas.LineTo(60, 55);
  EXPECT_EQ(canvas.GetPixel(30, 55), kRed);
  EXPECT_EQ(canvas.PenPos(), (TIGPPointF{60, 55}));
}

TEST(CairoCanvas, ClippingExcludesAndSelectsRegions) {
  TRGCairoCanvas canvas(40, 40);
  canvas.Brush().Color = kRed;
  canvas.ExcludeClipRect(TIGPRectF(0, 0, 20, 40));
  canvas.FillRect({0, 0, 40, 40});
  EXPECT_EQ(canvas.GetPixel(10, 10), 0u);
  EXPECT_EQ(canvas.GetPixel(30, 10), kRed);
  canvas.ResetClipRect();
  canvas.Brush().Color = kBlue;
  canvas.SelectClipRgn({{0, 0, 5, 5}, {30, 30, 10, 10}});
  canvas.FillRect({0, 0, 40, 40});
  EXPECT_EQ(canvas.GetPixel(2, 2), kBlue);
  EXPECT_EQ(canvas.GetPixel(35, 35), kBlue);
  EXPECT_EQ(canvas.GetPixel(30, 10), kRed);
  canvas.SelectClipRgn({});
  canvas.FillRect({0, 0, 40, 40});
  EXPECT_EQ(canvas.GetPixel(10, 10), 0u);
}

TEST(CairoCanvas, TextTakesTheFontColourAndPixelsRoundTrip) {
  TRGCairoCanvas canvas(120, 40);
  canvas.SetFontColor(kBlue);
  canvas.Font().Size = 20;
  const TIGPSizeF extent = canvas.TextExtent("HHHH");
  EXPECT_GT(extent.Width, extent.Height);
  EXPECT_GT(canvas.TextHeight("H"), 10);
  canvas.TextOut(5, 5, "HHHH");
  bool found = false;
  for (int x = 5; x < 5 + int(extent.Width) && !found; ++x)
    for (int y = 5; y < 5 + int(extent.Height) && !found; ++y) found = canvas.GetPixel(x, y) == kBlue;
  EXPECT_TRUE(found);
  canvas.SetPixel(1, 1, 0x80FF0000u);
  EXPECT_EQ(GetAlpha(canvas.GetPixel(1, 1)), 0x80);
}

TEST(CairoCanvas, SettingsComeFromADisplaysProperties) {
  TRGCairoCanvas canvas(10, 10);
  TRGGPPen pen;
  pen.SetWidth(3);
  pen.DashStyle()->SetStyle(dsDot);
  canvas.SetFromDisplayPen(pen);
  EXPECT_EQ(canvas.StrokeThickness(), 3.0f);
  EXPECT_EQ(canvas.StrokeDash(), sdDashDot);
  canvas.ResetDash();
  EXPECT_EQ(canvas.StrokeDash(), sdDashSolid);
  TRGGPFont font;
  font.SetSize(14);
  canvas.SetFromDisplayFont(font);
  EXPECT_EQ(canvas.Font().Size, 14.0f);
  EXPECT_EQ(canvas.FontColor(), 0xFF000000u);
  TRGGPBrush brush;
  brush.SetColor(0x00FFFFFFu);
  canvas.SetFromDisplayBrush(brush);
  EXPECT_EQ(canvas.Brush().Style, rbsClear);
}

}  // namespace
}  // namespace nxtest
