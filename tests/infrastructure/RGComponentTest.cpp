// The base component properties, the free routines, the byte array's bits and the paired lock.
#include <gtest/gtest.h>

#include <locale.h>

#include <cmath>
#include <limits>
#include <memory>

#include "../runtime/ThreadTestSupport.h"
#include "ExceptionMessage.h"
#include "infrastructure/RGComponent.h"
#include "nxruntime.h"

namespace nxtest {
namespace {

using namespace nx;

// A host that counts the changes its property objects report.
struct THost : TLockComponent {
  THost() : TLockComponent(nullptr) {
    OnChanged = [this](TComponent*, TPersistent*) { ++Changes; };
  }
  int Changes = 0;
};

const TClassInfo* const kPropertyClasses[] = {
    &TRGLogin::StaticClassInfo(),           &TRGOptionalSettingProperty::StaticClassInfo(),
    &TRGOptionalVisibilityProperty::StaticClassInfo(), &TRGIntegerPointProperty::StaticClassInfo(),
    &TRGFloatPointProperty::StaticClassInfo(), &TRGCollectionPoint::StaticClassInfo(),
    &TRGMasterPumping::StaticClassInfo(),   &TRGDefaultEnabledMasterPumping::StaticClassInfo(),
    &TRGNamedCollectionItem::StaticClassInfo(), &TRGOptionalNamedCollectionItem::StaticClassInfo(),
};

// A value of the property's type that differs from its default.
TVariant OtherValue(const TPropInfo& p) {
  switch (p.Kind) {
    case TPropKind::Bool: return TVariant(!p.Default.AsBool());
    case TPropKind::String: return TVariant(std::string_view("other"));
    case TPropKind::Float: return TVariant(static_cast<float>(p.Default.AsDouble() + 1.5));
    default: return p.Coerce(TVariant(static_cast<std::int32_t>(p.Default.AsInt64() + 7)));
  }
}

// Every class is registered at start-up, starts at its declared defaults and notifies once per change.
TEST(RGComponent, EveryClassStartsAtItsDefaultsAndNotifiesOncePerChange) {
  for (const TClassInfo* c : kPropertyClasses) {
    EXPECT_EQ(FindClassInfo(c->Name()), c);
    THost host;
    std::unique_ptr<TPersistent> obj(c->Create(&host));
    EXPECT_EQ(obj->GetLock(), host.GetLock()) << c->Name() << " shares its owner's lock";
    for (const TPropInfo* p : c->Properties())
      EXPECT_EQ(p->GetText(*obj), p->DefaultText()) << c->Name() << "." << p->Name;
    for (const TPropInfo* p : c->Properties()) {
      const int before = host.Changes;
      const TVariant other = OtherValue(*p);
      p->Set(*obj, other);
      EXPECT_EQ(host.Changes, before + 1) << c->Name() << "." << p->Name << " changed";
      p->Set(*obj, other);
      EXPECT_EQ(host.Changes, before + 1) << c->Name() << "." << p->Name << " set to the same value";
      EXPECT_EQ(p->Get(*obj), p->Coerce(other)) << c->Name() << "." << p->Name;
      p->Set(*obj, p->Default);
      EXPECT_EQ(host.Changes, before + 2) << c->Name() << "." << p->Name << " back to the default";
    }
  }
}

TEST(RGComponent, NamedItemInvalidatesBeforeItNotifies) {
  struct TItem : TRGNamedCollectionItem {
    explicit TItem(TPersistent* AOwner) : TRGNamedCollectionItem(AOwner) {}
    void InvalidateItem() override { Seen.push_back(static_cast<THost*>(GetOwner())->Changes); }
    std::vector<int> Seen;
  };
  THost host;
  TItem item(&host);
  item.SetName("Left");
  item.SetName("Left");
  EXPECT_EQ(item.Seen, std::vector<int>{0});  // once, before the owner heard of it
  EXPECT_EQ(item.GetDisplayName(), "Left");
}

TEST(RGComponent, CollectionPointShowsShortestFloats) {
  const struct {
    float X, Y;
    const char* Text;
  } cases[] = {{1.5f, -2.0f, "(1.5,-2)"}, {0.1f, 0.0f, "(0.1,0)"}, {1e-7f, 3e10f, "(1e-07,3e+10)"}};
  for (const auto& c : cases) {
    TRGCollectionPoint p(nullptr);
    p.SetX(c.X);
    p.SetY(c.Y);
    EXPECT_EQ(p.GetDisplayName(), c.Text);
    EXPECT_EQ(p.GetPoint(), (TPointF{c.X, c.Y}));
  }
}

TEST(RGComponent, MakeRectRoundsTiesToEvenAndRaisesOutOfRange) {
  const struct { float L, T, R, B; TRect Want; } cases[] = {
      {0.5f, 1.5f, 2.5f, -0.5f, {0, 2, 2, 0}},
      {-1.5f, -2.5f, 3.49f, 3.51f, {-2, -2, 3, 4}},
      {-2147483648.0f, 2147483520.0f, 0.0f, -0.0f, {std::numeric_limits<std::int32_t>::min(), 2147483520, 0, 0}},
  };
  for (const auto& c : cases) EXPECT_EQ(RGMakeRect(c.L, c.T, c.R, c.B), c.Want);
  const float bad[] = {2147483648.0f, -2147483904.0f, std::numeric_limits<float>::quiet_NaN(),
                       std::numeric_limits<float>::infinity()};
  for (float v : bad) {
    EXPECT_THROW(RGMakeRect(0, 0, v, 0), ERangeError) << v;
    EXPECT_THROW(RGMakeRect(v, 0, 0, 0), ERangeError) << v;
  }
}

TEST(RGComponent, ColorToRGBAnswersSystemColoursByTheirLowByte) {
  const struct { std::uint32_t Color; std::int32_t Want; } cases[] = {
      {0x00123456, 0x00123456}, {0x7FFFFFFF, 0x7FFFFFFF},  // RGB colours as they are
      {0x8000000F, 0x00C8D0D4}, {0x80000018, 0x00E1FFFF},  // button face, tooltip background
      {0xFF00010D, 0x006A240A}, {0x800000FF, 0},           // only the low byte names the colour; none
  };
  for (const auto& c : cases)
    EXPECT_EQ(RGColorToRGB(static_cast<std::int32_t>(c.Color)), c.Want) << std::hex << c.Color;
}

TEST(RGComponent, LimitMinMaxClampsOnlyWhenAskedAndNeverByNaN) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct { double Value, Min, Max; bool Condition; double Want; } cases[] = {
      {5, 0, 10, true, 5},    {-1, 0, 10, true, 0},   {11, 0, 10, true, 10},  {11, 0, 10, false, 11},
      {-1, 0, 10, false, -1}, {-1, nan, 10, true, -1}, {11, 0, nan, true, 11}, {11, nan, nan, true, 11},
      {5, 10, 0, true, 10},  // crossed bounds: the lower one is tested first
  };
  for (const auto& c : cases)
    EXPECT_EQ(LimitMinMax(c.Value, c.Min, c.Max, c.Condition), c.Want) << c.Value << " " << c.Min << " " << c.Max;
  EXPECT_TRUE(std::isnan(LimitMinMax(nan, 0, 10, true)));
}

std::vector<IRGBits::TBits> BitsOf(std::initializer_list<std::uint8_t> ABytes) {
  std::vector<IRGBits::TBits> result;
  for (std::uint8_t b : ABytes) result.push_back(TRGBits::MakeData(&b, 8));
  return result;
}

TEST(RGComponent, SetDataBitsChangesOnlyWhenTheListDiffers) {
  const struct {
    std::vector<std::uint8_t> Stored;
    std::vector<IRGBits::TBits> Value;
    bool Changed;
    std::vector<std::uint8_t> After;
  } cases[] = {
      {{1, 2}, BitsOf({1, 2}), false, {1, 2}}, {{1, 2}, BitsOf({1, 3}), true, {1, 3}},
      {{1, 2}, {}, true, {}}, {{}, {}, false, {}}, {{}, BitsOf({0xFF}), true, {0xFF}},
      {{0}, {TRGBits::MakeSize(0)}, false, {0}},  // an empty set stands for 0
      {{7}, {TRGBits::MakeSize(16, true)}, true, {0xFF}},  // the first byte of a longer set
  };
  for (const auto& c : cases) {
    THost host;
    TBinaryPersistent data(&host);
    data.SetBytes(c.Stored);
    const int changes = host.Changes;
    int begun = 0;
    EXPECT_EQ(data.SetDataBits(c.Value, [&] {
      EXPECT_EQ(data.GetBytes(), c.Stored) << "called before anything changes";
      ++begun;
    }), c.Changed);
    EXPECT_EQ(begun, c.Changed ? 1 : 0);
    EXPECT_EQ(host.Changes - changes, c.Changed ? 1 : 0);
    EXPECT_EQ(data.GetBytes(), c.After);
  }
}

TEST(RGComponent, BinaryBitViewReadsAndWritesBytes) {
  TBinaryPersistent data(nullptr);
  data.SetBytes({0x81, 0x00});
  ASSERT_EQ(data.GetBitsItemCount(), 2);
  EXPECT_EQ(data.GetBitsItem(0)->ToInteger(), 0x81);
  data.SetBitsItem(1, TRGBits::MakeData("\x3C", 8));
  data.SetBitsItem(0, TRGBits::MakeSize(0));  // empty: nothing changes
  EXPECT_EQ(data.GetBytes(), (std::vector<std::uint8_t>{0x81, 0x3C}));
  EXPECT_EQ(data.GetDataBits().at(1)->ToInteger(), 0x3C);
  EXPECT_EQ(MessageOf<ERangeError>([&] { data.Items(2); }), "Index out of range = 2");
  EXPECT_THROW(data.SetItems(-1, 0), ERangeError);
  std::vector<std::int32_t> order;
  data.ForEachIndexedReverse([&](std::int32_t i, std::uint8_t) { order.push_back(i); });
  EXPECT_EQ(order, (std::vector<std::int32_t>{1, 0}));
}

TEST(RGComponent, BinaryDataStreamsAsDataMember) {
  auto roundTrip = [](const TPersistent& AFrom, TPersistent& ATo) {
    TMemoryStream stream;
    {
      TBinaryWriter w(stream, AFrom.ClassName());
      WriteObject(w, AFrom);
      w.Finish();
    }
    stream.SetPosition(0);
    TBinaryReader r(stream);
    EXPECT_EQ(r.HasKey("_Data"), HasStoredMembers(AFrom));
    ReadObject(r, ATo);
  };
  TBinaryPersistent full(nullptr), back(nullptr), empty(nullptr);
  full.SetBytes({0, 1, 2, 255});
  roundTrip(full, back);
  EXPECT_EQ(back.GetBytes(), full.GetBytes());
  roundTrip(empty, back);  // a stream without "_Data" reads back empty, whatever was there before
  EXPECT_EQ(back.Count(), 0);
}

TEST(RGComponent, LanguageAsksItsGetterEachTimeAndNamesFromLocaleData) {
  std::uint32_t id = 0x0409;
  int calls = 0;
  TIntfPtr<TRGLanguage> byGetter(new TRGLanguage([&] { return ++calls, id; }));
  EXPECT_EQ(byGetter->GetID(), 0x0409u);
  id = 0x0407;
  EXPECT_EQ(byGetter->GetID(), 0x0407u);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(TRGLanguage::LocaleNameOf(0x0C0A), "es_ES");
  EXPECT_EQ(TRGLanguage(0x7FFFu).GetLocalizedName(), "");  // an identifier the table lacks
  // With the system's German locale data the name comes from it; without it there is none.
  const std::string name = TRGLanguage(0x0407u).LocalizedName();
  locale_t de = newlocale(LC_ALL_MASK, "de_DE.UTF-8", static_cast<locale_t>(nullptr));
  EXPECT_EQ(name.substr(0, 6), de ? "German" : "") << name;
  if (de) freelocale(de);
}

// Each side of the component's paired lock leaves the other free; the whole lock excludes both.
TEST(RGComponent, InputAndOutputSidesFormThePairedLock) {
  std::unique_ptr<TRGInputOutputLockComponent> c(new TRGInputOutputLockComponent(nullptr));
  TRGMasterPumping pumping(c.get());
  EXPECT_EQ(pumping.GetLock(), c->GetLock()) << "property objects share the paired lock";
  c->BeginInput();
  EXPECT_TRUE(FreeForOthers(c->OutputLock()));
  EXPECT_FALSE(FreeForOthers(c->GetLock()));
  c->EndInput();
  c->BeginOutput();
  EXPECT_TRUE(FreeForOthers(c->InputLock()));
  c->EndOutput();
  c->BeginWrite();
  EXPECT_FALSE(FreeForOthers(c->InputLock()));
  EXPECT_FALSE(FreeForOthers(c->OutputLock()));
  c->EndWrite();
  EXPECT_TRUE(FreeForOthers(c->GetLock()));
}

}  // namespace
}  // namespace nxtest
