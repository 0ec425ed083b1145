// Tests of property objects and their declarations: initial values from the
// declared defaults (for every property of every test class), notifying and
// clamping setters, access by name as text and as variants with their
// errors, what streaming writes, assignment, and the design registries.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "ExceptionMessage.h"
#include "PropsTestClasses.h"
#include "runtime/Zandor.Components.h"
#include "runtime/Zandor.Design.h"
#include "runtime/Zandor.Serialization.h"
#include "runtime/Zandor.Streams.h"

namespace nxtest {
namespace {

class TypesTest : public ::testing::Test {
 protected:
  void SetUp() override { RegisterTestClasses(); }
};

// Records the keys written at the top level of the object (nested ones with
// their path), to see exactly what streaming writes.
class TKeyRecorder final : public IWriter {
 public:
  std::vector<std::string> Keys;
  void WriteBoolean(std::string_view k, bool) override { Add(k); }
  void WriteInt32(std::string_view k, std::int32_t) override { Add(k); }
  void WriteUInt32(std::string_view k, std::uint32_t) override { Add(k); }
  void WriteInt64(std::string_view k, std::int64_t) override { Add(k); }
  void WriteUInt64(std::string_view k, std::uint64_t) override { Add(k); }
  void WriteDouble(std::string_view k, double) override { Add(k); }
  void WriteString(std::string_view k, std::string_view) override { Add(k); }
  void WriteBytes(std::string_view k, const void*, std::uint64_t) override { Add(k); }
  void BeginObject(std::string_view k, std::string_view) override {
    Add(k);
    FPath.push_back(std::string(k) + ".");
  }
  void EndObject() override { FPath.pop_back(); }
  void BeginList(std::string_view k) override {
    Add(k);
    FPath.push_back(std::string(k) + "[].");
  }
  void BeginItem(std::string_view) override {}
  void EndItem() override {}
  void EndList() override { FPath.pop_back(); }

 private:
  void Add(std::string_view k) {
    std::string full;
    for (const auto& p : FPath) full += p;
    Keys.push_back(full + std::string(k));
  }
  std::vector<std::string> FPath;
};

std::vector<std::string> KeysWritten(const TPersistent& AObject) {
  TKeyRecorder rec;
  WriteObject(rec, AObject);
  return rec.Keys;
}

// Every published property of every registered test class starts at its
// declared default, read through the declarations themselves.
TEST_F(TypesTest, EveryPropertyStartsAtItsDeclaredDefault) {
  int checked = 0;
  for (const TClassInfo* c : RegisteredClasses()) {
    if (!c->Factory()) continue;
    TTestComponent host(nullptr);
    TPersistent* obj = c->Create(c->IsComponent() ? nullptr : &host);
    for (const TPropInfo* p : c->Properties()) {
      SCOPED_TRACE(c->Name() + "." + p->Name);
      if (p->IsObjectKind()) {
        if (p->OwnsObject) {
          EXPECT_NE(p->GetObject(*obj), nullptr) << "owned sub-object not created";
        }
        if (p->Kind == TPropKind::ComponentRef) {
          EXPECT_EQ(p->GetObject(*obj), nullptr);
        }
        continue;
      }
      if (p->ReadOnly()) continue;  // computed, not stored
      EXPECT_EQ(p->GetText(*obj), p->DefaultText());
      EXPECT_FALSE(p->IsStored(*obj));
      ++checked;
    }
    EXPECT_TRUE(KeysWritten(*obj).empty()) << c->Name() << " writes members in its initial state";
    if (c->IsComponent()) TComponent::Free(static_cast<TComponent*>(obj));
    else delete obj;
  }
  EXPECT_GE(checked, 20);
}

// A set re-published with another default.
class TTestOtherModes : public TTestSettings {
  NX_PERSISTENT(TTestOtherModes, TTestSettings)
 public:
  explicit TTestOtherModes(TPersistent* AOwner) : TTestSettings(AOwner) { InitProperties(this); }
  static void DeclareProperties(TClassBuilder<TTestOtherModes>& P) {
    P.Republish("Modes", TEnumSet<TTestMode>{tmFirst, tmThird});
  }
};

TEST_F(TypesTest, RepublishedDefaultsReplaceTheBaseDefaultsInPlace) {
  const TClassInfo& c = TTestDefaultPumping::StaticClassInfo();
  ASSERT_EQ(c.Properties().size(), 2u);
  EXPECT_EQ(c.Properties()[0]->Name, "Enabled");
  EXPECT_EQ(c.Properties()[0]->DefaultText(), "True");
  EXPECT_EQ(c.Properties()[1]->DefaultText(), "10");
  EXPECT_EQ(TTestPumping::StaticClassInfo().Property("Enabled").DefaultText(), "False");
  TTestDefaultPumping p(nullptr);
  EXPECT_EQ(GetPropText(p, "Enabled"), "True");
  EXPECT_EQ(GetPropText(p, "Priority"), "10");
  SetPropText(p, "Enabled", "False");
  EXPECT_EQ(KeysWritten(p), std::vector<std::string>{"Enabled"});
  // The same value on the base class is its default and is not written.
  TTestPumping base(nullptr);
  SetPropText(base, "Enabled", "False");
  EXPECT_TRUE(KeysWritten(base).empty());
  // Sets too: the new default is the initial value and is not written.
  TTestOtherModes other(nullptr);
  EXPECT_EQ(GetPropText(other, "Modes"), "[tmFirst,tmThird]");
  EXPECT_TRUE(KeysWritten(other).empty());
  SetPropText(other, "Modes", "[tmSecond]");  // the base's default, not this class's
  EXPECT_EQ(KeysWritten(other), std::vector<std::string>{"Modes"});
}

// A setter notifies the owning component once per effective change and never
// for an unchanged value, through every level of sub-objects.
TEST_F(TypesTest, SettersNotifyOncePerEffectiveChange) {
  struct TCase {
    const char* Path;  // "Prop" on Settings, or "Queue.Size"
    const char* Value;
  };
  const TCase cases[] = {{"Flag", "False"},      {"Count", "7"},      {"Color", "12"},        {"Big", "-5"},
                         {"Gain", "0.25"},       {"Rate", "48000"},   {"Label", "hello"},     {"Mode", "tmThird"},
                         {"Scale", "3.5"},       {"Enabled", "False"}, {"Queue.Size", "4"},  {"Queue.Mode", "tmSecond"},
                         {"Modes", "[tmFirst,tmThird]"}, {"Modes", "[]"}};
  for (const TCase& tc : cases) {
    SCOPED_TRACE(tc.Path);
    TTestComponent owner(nullptr);
    TPersistent* target = owner.Settings();
    std::string name = tc.Path;
    if (name.rfind("Queue.", 0) == 0) {
      target = owner.Settings()->Queue();
      name = name.substr(6);
    }
    ASSERT_EQ(owner.Notifications, 0);
    SetPropText(*target, name, tc.Value);
    EXPECT_EQ(owner.Notifications, 1);
    EXPECT_EQ(GetPropText(*target, name), tc.Value);
    SetPropText(*target, name, tc.Value);  // unchanged
    EXPECT_EQ(owner.Notifications, 1);
  }
  // The typed setters behave the same.
  TTestComponent owner(nullptr);
  owner.Settings()->SetCount(-3);
  EXPECT_EQ(owner.Notifications, 0);
  owner.Settings()->SetCount(1);
  owner.Settings()->SetCount(1);
  EXPECT_EQ(owner.Notifications, 1);
  // A NaN stored once is not a change the second time.
  owner.Settings()->SetScale(NAN);
  owner.Settings()->SetScale(NAN);
  EXPECT_EQ(owner.Notifications, 2);
  // A value clamped to the minimum it already holds is no change either.
  owner.Settings()->Queue()->SetSize(0);
  EXPECT_EQ(owner.Settings()->Queue()->Size(), 1u);
  SetPropText(*owner.Settings()->Queue(), "Size", "0");
  EXPECT_EQ(owner.Notifications, 3);
}

TEST_F(TypesTest, TextAccessRoundTripsEveryType) {
  struct TCase {
    const char* Name;
    const char* In;
    const char* Out;
  };
  const TCase cases[] = {
      {"Flag", "false", "False"},          {"Flag", "1", "True"},
      {"Count", "+7", "7"},                {"Count", "-2147483648", "-10"},  // clamped
      {"Color", "4294967295", "4294967295"}, {"Big", "-1099511627776", "-1099511627776"},
      {"Gain", "0.1", "0.1"},              {"Rate", "1e-3", "0.001"},
      {"Label", " spaced text ", " spaced text "}, {"Label", "", ""},
      {"Mode", "TMTHIRD", "tmThird"},      {"Scale", "-0.5", "-0.5"},
      // Sets: names in any order and case, blanks, repeats; written in ordinal order.
      {"Modes", " [ TMTHIRD , tmfirst,tmFirst ] ", "[tmFirst,tmThird]"},
      {"Modes", "[tmSecond]", "[tmSecond]"},  {"Modes", "[ ]", "[]"},
  };
  TTestSettings s(nullptr);
  for (const TCase& tc : cases) {
    SCOPED_TRACE(std::string(tc.Name) + " <- " + tc.In);
    SetPropText(s, tc.Name, tc.In);
    EXPECT_EQ(GetPropText(s, tc.Name), tc.Out);
  }
  EXPECT_EQ(GetPropText(s, "Twice"), "-20");
  EXPECT_EQ(GetPropText(s, "Queue"), "(TTestQueue)");
}

TEST_F(TypesTest, WrongNamesTypesAndTextsRaiseClearErrors) {
  struct TCase {
    const char* Name;
    const char* Text;
    const char* Message;
  };
  const TCase cases[] = {
      {"Nope", "1", "Class TTestSettings has no property Nope"},
      {"Count", "abc", "Invalid value \"abc\" for property Count of type Int32"},
      {"Count", "2147483648", "Invalid value \"2147483648\" for property Count of type Int32"},
      {"Count", "1.5", "Invalid value \"1.5\" for property Count of type Int32"},
      {"Color", "-1", "Invalid value \"-1\" for property Color of type UInt32"},
      {"Gain", "1e99", "Invalid value \"1e99\" for property Gain of type Single"},
      {"Flag", "yes", "Invalid value \"yes\" for property Flag of type Boolean"},
      {"Mode", "tmFourth", "Invalid value \"tmFourth\" for property Mode of type TTestMode"},
      {"Twice", "4", "Property Twice is read-only"},
      {"Queue", "x", "Property Queue is an object property"},
      {"Modes", "tmFirst", "Invalid value \"tmFirst\" for property Modes of type set of TTestMode"},
      {"Modes", "[tmFirst,]", "Invalid value \"[tmFirst,]\" for property Modes of type set of TTestMode"},
      {"Modes", "[,tmFirst]", "Invalid value \"[,tmFirst]\" for property Modes of type set of TTestMode"},
      {"Modes", "[tmFourth]", "Invalid value \"[tmFourth]\" for property Modes of type set of TTestMode"},
      {"Modes", "[tmFirst tmSecond]", "Invalid value \"[tmFirst tmSecond]\" for property Modes of type set of TTestMode"},
      {"OnFull", "handler", "Property OnFull is an event: only an empty value removes its handler"},
  };
  TTestSettings s(nullptr);
  for (const TCase& tc : cases) {
    SCOPED_TRACE(tc.Name);
    EXPECT_EQ(MessageOf<EPropertyError>([&] { SetPropText(s, tc.Name, tc.Text); }), tc.Message);
  }
  EXPECT_EQ(GetPropText(s, "Count"), "-3");  // nothing changed
  EXPECT_THROW(GetPropText(s, "nope"), EPropertyError);
}

TEST_F(TypesTest, VariantAccessConvertsWithRangeChecks) {
  TTestSettings s(nullptr);
  SetPropValue(s, "Count", TVariant(std::int64_t{5}));
  EXPECT_EQ(GetPropValue(s, "Count"), TVariant(std::int32_t{5}));
  SetPropValue(s, "Rate", TVariant(std::int32_t{8000}));
  EXPECT_EQ(GetPropValue(s, "Rate"), TVariant(8000.0));
  SetPropValue(s, "Mode", TVariant(std::int32_t{2}));
  EXPECT_EQ(GetPropValue(s, "Mode"), TVariant("tmThird"));  // enumerations come out by name
  SetPropValue(s, "Mode", TVariant("tmFirst"));
  EXPECT_EQ(GetPropText(s, "Mode"), "tmFirst");
  SetPropValue(s, "Big", TVariant(3.0));  // a whole float is an integer
  EXPECT_EQ(GetPropValue(s, "Big"), TVariant(std::int64_t{3}));
  SetPropValue(s, "Count", TVariant("12"));  // text converts like SetPropText
  EXPECT_EQ(s.Count(), 12);

  EXPECT_THROW(SetPropValue(s, "Count", TVariant(3.5)), EPropertyConvertError);
  EXPECT_THROW(SetPropValue(s, "Color", TVariant(std::int32_t{-1})), EPropertyConvertError);
  EXPECT_THROW(SetPropValue(s, "Mode", TVariant(std::int32_t{3})), EPropertyConvertError);
  EXPECT_THROW(SetPropValue(s, "Label", TVariant(std::int32_t{3})), EPropertyConvertError);
  EXPECT_THROW(SetPropValue(s, "Flag", TVariant(std::int32_t{2})), EPropertyConvertError);
  EXPECT_EQ(s.Count(), 12);

  // A set's variant is its bit mask; by name it comes out as text, as hosts show it.
  const TPropInfo& modes = s.GetClassInfo().Property("Modes");
  SetPropValue(s, "Modes", TVariant(std::int32_t{5}));
  EXPECT_EQ(s.Modes(), (TEnumSet<TTestMode>{tmFirst, tmThird}));
  EXPECT_EQ(modes.Get(s), TVariant(std::uint64_t{5}));
  EXPECT_EQ(GetPropValue(s, "Modes"), TVariant("[tmFirst,tmThird]"));
  SetPropValue(s, "Modes", TVariant("[tmSecond]"));
  EXPECT_EQ(modes.Get(s), TVariant(std::uint64_t{2}));
  EXPECT_THROW(SetPropValue(s, "Modes", TVariant(std::int32_t{8})), EPropertyConvertError);  // no fourth value
  EXPECT_THROW(SetPropValue(s, "Modes", TVariant(std::int32_t{-1})), EPropertyConvertError);
  EXPECT_THROW(SetPropValue(s, "Modes", TVariant(1.0)), EPropertyConvertError);
  EXPECT_EQ(s.Modes(), TEnumSet<TTestMode>{tmSecond});
}

TEST_F(TypesTest, StreamingWritesOnlyNonDefaultValues) {
  TTestSettings s(nullptr);
  SetPropText(s, "Count", "5");
  EXPECT_EQ(KeysWritten(s), std::vector<std::string>{"Count"});
  s.Queue()->SetSize(2);
  s.Points()->Add();
  EXPECT_EQ(KeysWritten(s), (std::vector<std::string>{"Count", "Queue", "Queue.Size", "Points"}));
  s.SetCount(-3);
  s.Queue()->SetSize(15);
  s.Points()->Clear();
  EXPECT_TRUE(KeysWritten(s).empty());
  // A stored predicate decides instead of the declared default.
  s.SetTint_Default(0xFF000000u);
  EXPECT_TRUE(KeysWritten(s).empty());
  s.SetTint(0);
  EXPECT_EQ(KeysWritten(s), std::vector<std::string>{"Tint"});
  // A set differing from its default is written; an event handler never is.
  s.SetTint(0xFF000000u);
  SetEventProp(s, "OnFull", [](TPersistent*) {});
  EXPECT_TRUE(KeysWritten(s).empty());
  SetPropText(s, "Modes", "[]");
  EXPECT_EQ(KeysWritten(s), std::vector<std::string>{"Modes"});
}

// An event slot holds a handler that the object calls with itself as
// sender; hosts see only whether one is assigned, and may only remove it.
TEST_F(TypesTest, EventSlotsHoldAndCallTheirHandler) {
  TTestComponent owner(nullptr);
  TTestSettings& s = *owner.Settings();
  std::vector<TPersistent*> senders;
  s.RaiseFull();  // no handler: nothing happens
  EXPECT_EQ(GetPropText(s, "OnFull"), "");
  SetEventProp(s, "OnFull", [&](TPersistent* ASender) { senders.push_back(ASender); });
  EXPECT_EQ(owner.Notifications, 0);  // wiring a handler is no change of settings
  EXPECT_EQ(GetPropText(s, "OnFull"), "(assigned)");
  EXPECT_EQ(GetPropValue(s, "OnFull"), TVariant("(assigned)"));
  s.RaiseFull();
  s.RaiseFull();
  EXPECT_EQ(senders, (std::vector<TPersistent*>{&s, &s}));
  ASSERT_TRUE(GetEventProp(s, "OnFull"));
  GetEventProp(s, "OnFull")(nullptr);
  EXPECT_EQ(senders.size(), 3u);

  TTestSettings copy(nullptr);  // Assign copies settings, not wiring
  copy.Assign(s);
  EXPECT_EQ(GetPropText(copy, "OnFull"), "");

  SetPropValue(s, "OnFull", TVariant());
  EXPECT_EQ(GetPropText(s, "OnFull"), "");
  s.RaiseFull();
  EXPECT_EQ(senders.size(), 3u);
  // A handler may re-assign its own event while it runs.
  SetEventProp(s, "OnFull", [&](TPersistent*) { SetPropText(s, "OnFull", ""); });
  s.RaiseFull();
  EXPECT_EQ(GetPropText(s, "OnFull"), "");
  EXPECT_THROW(GetEventProp(s, "Count"), EPropertyError);
  EXPECT_THROW(s.GetClassInfo().Property("OnFull").GetObject(s), EPropertyError);
}

TEST_F(TypesTest, AssignCopiesValuesSubObjectsAndItems) {
  TTestSettings a(nullptr), b(nullptr);
  SetPropText(a, "Rate", "8000");
  a.Queue()->SetSize(9);
  a.Points()->Add(TTestSpecialPoint::StaticClassInfo());
  b.Assign(a);
  EXPECT_EQ(GetPropText(b, "Rate"), "8000");
  EXPECT_EQ(b.Queue()->Size(), 9u);
  ASSERT_EQ(b.Points()->Count(), 1);
  EXPECT_EQ(b.Points()->Items(0)->ClassName(), "TTestSpecialPoint");
  TTestQueue q(nullptr);
  EXPECT_EQ(MessageOf<EConvertError>([&] { q.Assign(a); }), "Cannot assign a TTestSettings to a TTestQueue");
  // Reading an object replaces the items its collection held.
  TMemoryStream stream;
  TBinaryWriter w(stream, a.ClassName());
  WriteObject(w, a);
  w.Finish();
  stream.SetPosition(0);
  TTestSettings c(nullptr);
  c.Points()->Add();
  c.Points()->Add();
  TBinaryReader r(stream);
  ReadObject(r, c);
  ASSERT_EQ(c.Points()->Count(), 1);
  EXPECT_EQ(c.Points()->Items(0)->ClassName(), "TTestSpecialPoint");
}

TEST_F(TypesTest, CollectionsKeepOrderAndNotify) {
  TTestComponent owner(nullptr);
  TTestPoints& pts = *owner.Settings()->Points();
  TTestPoint* p0 = pts.Add();
  TTestPoint* p1 = pts.Add();
  TTestPoint* p2 = pts.Add();
  EXPECT_EQ(owner.Notifications, 3);
  pts.Move(0, 2);
  EXPECT_EQ(pts.IndexOf(p0), 2);
  EXPECT_EQ(p1->Index(), 0);
  p2->SetIndex(0);
  EXPECT_EQ(pts[0], p2);
  delete p1;  // an item freed leaves its collection
  EXPECT_EQ(pts.Count(), 2);
  EXPECT_EQ(MessageOf<ERangeError>([&] { pts.Items(2); }), "Index out of range = 2");
  EXPECT_EQ(p0->GetNamePath(), "TTestComponent.Settings.Points[1]");
  EXPECT_THROW(pts.Add(TTestQueue::StaticClassInfo()), EArgumentException);
}

TEST_F(TypesTest, PropertyListsForEditors) {
  TTestSettings s(nullptr);
  const std::vector<TPropDescription> rows = DescribeProperties(s);
  ASSERT_EQ(rows.size(), 16u);
  EXPECT_EQ(rows[0].Name, "Enabled");  // the base class's first
  const TPropDescription& mode = rows[8];
  EXPECT_EQ(mode.Name, "Mode");
  EXPECT_EQ(mode.TypeName, "TTestMode");
  EXPECT_EQ(mode.DefaultText, "tmSecond");
  EXPECT_EQ(mode.Values, (std::vector<std::string>{"tmFirst", "tmSecond", "tmThird"}));
  EXPECT_EQ(rows[2].Hints->Category, "Numbers");
  EXPECT_EQ(rows[3].Hints->Editor, "Color");
  EXPECT_TRUE(rows[10].ReadOnly);
  EXPECT_EQ(rows[11].TypeName, "TTestQueue");
  EXPECT_EQ(rows[12].Kind, TPropKind::Collection);
  EXPECT_EQ(rows[14].TypeName, "set of TTestMode");
  EXPECT_EQ(rows[14].DefaultText, "[tmSecond]");
  EXPECT_EQ(rows[14].Values, mode.Values);  // the members a set may hold
  EXPECT_EQ(rows[15].Kind, TPropKind::Event);
  EXPECT_EQ(rows[15].TypeName, "TNotifyEvent");
  // Look-ups ignore ASCII case.
  EXPECT_EQ(s.GetClassInfo().FindProperty("qUEUE"), s.GetClassInfo().FindProperty("Queue"));
}

TEST_F(TypesTest, RegistriesOfClassesCategoriesAndItemClasses) {
  TTestComponent owner(nullptr);
  TPersistent* made = CreateObject("TTestQueue", &owner);
  EXPECT_EQ(made->GetOwner(), &owner);
  delete made;
  EXPECT_EQ(MessageOf<EPropertyError>([] { CreateObject("TNoSuchClass", nullptr); }), "Class TNoSuchClass not found");
  EXPECT_EQ(CollectionItemClasses(TTestPoint::StaticClassInfo()),
            (std::vector<const TClassInfo*>{&TTestPoint::StaticClassInfo(), &TTestSpecialPoint::StaticClassInfo()}));

  RegisterCategory("TestSignals");
  RegisterCategory("TestFilters", "TestSignals");
  RegisterComponents("TestFilters", {&TTestComponent::StaticClassInfo()});
  EXPECT_EQ(ClassesInCategory("TestFilters"), std::vector<const TClassInfo*>{&TTestComponent::StaticClassInfo()});
  EXPECT_EQ(SubCategories("TestSignals"), std::vector<std::string>{"TestFilters"});
  EXPECT_EQ(ParentCategory("TestFilters"), "TestSignals");
  EXPECT_EQ(CategoriesOf(TTestComponent::StaticClassInfo()), std::vector<std::string>{"TestFilters"});
  EXPECT_THROW(RegisterCategory("TestFilters", "Other"), EArgumentException);
  UnregisterComponent(TTestComponent::StaticClassInfo());
  EXPECT_TRUE(ClassesInCategory("TestFilters").empty());
}

}  // namespace
}  // namespace nxtest
