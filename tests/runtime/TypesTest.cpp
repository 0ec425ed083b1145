// Property objects and components: defaults, notifying setters, access by name, streaming, ownership.
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
  void SetUp() override {
    RegisterTestClasses();
    TTestComponent::Log().clear();
  }
};
using ComponentsTest = TypesTest;

// Records the keys streaming writes (nested ones with their path).
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
  void BeginObject(std::string_view k, std::string_view) override { Enter(k, "."); }
  void EndObject() override { FPath.pop_back(); }
  void BeginList(std::string_view k) override { Enter(k, "[]."); }
  void BeginItem(std::string_view) override {}
  void EndItem() override {}
  void EndList() override { FPath.pop_back(); }

 private:
  void Add(std::string_view k) { Keys.push_back(FPath.back() + std::string(k)); }
  void Enter(std::string_view k, const char* ASeparator) {
    Add(k);
    FPath.push_back(FPath.back() + std::string(k) + ASeparator);
  }
  std::vector<std::string> FPath{""};  // the prefix of each open level
};

std::vector<std::string> KeysWritten(const TPersistent& AObject) {
  TKeyRecorder rec;
  WriteObject(rec, AObject);
  return rec.Keys;
}

TEST_F(TypesTest, EveryPropertyStartsAtItsDeclaredDefault) {
  int checked = 0;
  for (const TClassInfo* c : RegisteredClasses()) {
    if (!c->Factory()) continue;
    TTestComponent host(nullptr);
    TPersistent* obj = c->Create(c->IsComponent() ? nullptr : &host);
    for (const TPropInfo* p : c->Properties()) {
      SCOPED_TRACE(c->Name() + "." + p->Name);
      if (p->IsObjectKind()) {
        EXPECT_TRUE(!p->OwnsObject || p->GetObject(*obj)) << "owned sub-object not created";
        EXPECT_TRUE(p->Kind != TPropKind::ComponentRef || !p->GetObject(*obj)) << "reference set";
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
  ASSERT_EQ(c.Properties().size(), 2u);  // replaced, not added
  EXPECT_EQ(c.Properties()[1]->DefaultText(), "10");
  TTestDefaultPumping p(nullptr);
  SetPropText(p, "Enabled", "False");
  EXPECT_EQ(KeysWritten(p), std::vector<std::string>{"Enabled"});
  // The same value on the base class is its default and is not written.
  TTestPumping base(nullptr);
  SetPropText(base, "Enabled", "False");
  EXPECT_TRUE(KeysWritten(base).empty());
  // Sets too: the new default is the initial value and is not written.
  TTestOtherModes other(nullptr);
  EXPECT_TRUE(KeysWritten(other).empty());
  SetPropText(other, "Modes", "[tmSecond]");  // the base's default, not this class's
  EXPECT_EQ(KeysWritten(other), std::vector<std::string>{"Modes"});
}

TEST_F(TypesTest, SettersNotifyOncePerEffectiveChange) {
  struct TCase { const char* Path; const char* Value; };  // "Prop" on Settings, or "Queue.Size"
  const TCase cases[] = {{"Flag", "False"}, {"Count", "7"},       {"Gain", "0.25"},     {"Label", "hello"},
                         {"Mode", "tmThird"}, {"Scale", "3.5"}, {"Enabled", "False"}, {"Queue.Size", "4"},
                         {"Modes", "[]"}};
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
  // A NaN stored once is no change the second time, nor a value clamped to the minimum it holds.
  TTestComponent owner(nullptr);
  owner.Settings()->SetScale(NAN);
  owner.Settings()->SetScale(NAN);
  EXPECT_EQ(owner.Notifications, 1);
  owner.Settings()->Queue()->SetSize(0);
  EXPECT_EQ(owner.Settings()->Queue()->Size(), 1u);
  SetPropText(*owner.Settings()->Queue(), "Size", "0");
  EXPECT_EQ(owner.Notifications, 2);
}

TEST_F(TypesTest, TextAccessRoundTripsEveryType) {
  const struct { const char* Name; const char* In; const char* Out; } cases[] = {
      {"Flag", "false", "False"},          {"Flag", "1", "True"},
      {"Count", "+7", "7"},                {"Count", "-2147483648", "-10"},  // clamped
      {"Color", "4294967295", "4294967295"}, {"Big", "-1099511627776", "-1099511627776"},
      {"Gain", "0.1", "0.1"},              {"Rate", "1e-3", "0.001"},
      {"Label", " spaced text ", " spaced text "}, {"Mode", "TMTHIRD", "tmThird"},
      // Sets: names in any order and case, blanks, repeats; written in ordinal order.
      {"Modes", " [ TMTHIRD , tmfirst,tmFirst ] ", "[tmFirst,tmThird]"}, {"Modes", "[ ]", "[]"},
  };
  TTestSettings s(nullptr);
  for (const auto& tc : cases) {
    SCOPED_TRACE(std::string(tc.Name) + " <- " + tc.In);
    SetPropText(s, tc.Name, tc.In);
    EXPECT_EQ(GetPropText(s, tc.Name), tc.Out);
  }
  EXPECT_EQ(GetPropText(s, "Twice"), "-20");
  EXPECT_EQ(GetPropText(s, "Queue"), "(TTestQueue)");
}

TEST_F(TypesTest, WrongNamesTypesAndTextsRaiseClearErrors) {
  const struct { const char* Name; const char* Text; const char* Message; } cases[] = {
      {"Nope", "1", "Class TTestSettings has no property Nope"},
      {"Count", "abc", "Invalid value \"abc\" for property Count of type Int32"},
      {"Count", "2147483648", "Invalid value \"2147483648\" for property Count of type Int32"},
      {"Color", "-1", "Invalid value \"-1\" for property Color of type UInt32"},
      {"Gain", "1e99", "Invalid value \"1e99\" for property Gain of type Single"},
      {"Flag", "yes", "Invalid value \"yes\" for property Flag of type Boolean"},
      {"Mode", "tmFourth", "Invalid value \"tmFourth\" for property Mode of type TTestMode"},
      {"Twice", "4", "Property Twice is read-only"},
      {"Queue", "x", "Property Queue is an object property"},
      {"Modes", "tmFirst", "Invalid value \"tmFirst\" for property Modes of type set of TTestMode"},
      {"Modes", "[tmFirst,]", "Invalid value \"[tmFirst,]\" for property Modes of type set of TTestMode"},
      {"Modes", "[tmFourth]", "Invalid value \"[tmFourth]\" for property Modes of type set of TTestMode"},
      {"Modes", "[tmFirst tmSecond]", "Invalid value \"[tmFirst tmSecond]\" for property Modes of type set of TTestMode"},
      {"OnFull", "handler", "Property OnFull is an event: only an empty value removes its handler"},
  };
  TTestSettings s(nullptr);
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.Name);
    EXPECT_EQ(MessageOf<EPropertyError>([&] { SetPropText(s, tc.Name, tc.Text); }), tc.Message);
  }
  EXPECT_EQ(GetPropText(s, "Count"), "-3");  // nothing changed
  EXPECT_THROW(GetPropText(s, "nope"), EPropertyError);
}

TEST_F(TypesTest, VariantAccessConvertsWithRangeChecks) {
  const struct { const char* Name; TVariant In, Out; } accepted[] = {
      {"Count", TVariant(std::int64_t{5}), TVariant(std::int32_t{5})},
      {"Rate", TVariant(std::int32_t{8000}), TVariant(8000.0)},
      {"Mode", TVariant(std::int32_t{2}), TVariant("tmThird")},  // enumerations come out by name
      {"Big", TVariant(3.0), TVariant(std::int64_t{3})},  // a whole float is an integer
      {"Count", TVariant("12"), TVariant(std::int32_t{12})},  // text converts like SetPropText
      {"Modes", TVariant(std::int32_t{5}), TVariant("[tmFirst,tmThird]")},  // a set comes out as text
  };
  TTestSettings s(nullptr);
  for (const auto& c : accepted) {
    SetPropValue(s, c.Name, c.In);
    EXPECT_EQ(GetPropValue(s, c.Name), c.Out) << c.Name;
  }
  const std::pair<const char*, TVariant> refused[] = {
      {"Count", TVariant(3.5)}, {"Color", TVariant(std::int32_t{-1})}, {"Mode", TVariant(std::int32_t{3})},
      {"Label", TVariant(std::int32_t{3})}, {"Flag", TVariant(std::int32_t{2})},
      {"Modes", TVariant(std::int32_t{8})},  // no fourth value
      {"Modes", TVariant(std::int32_t{-1})}, {"Modes", TVariant(1.0)}};
  for (const auto& [name, value] : refused) EXPECT_THROW(SetPropValue(s, name, value), EPropertyConvertError) << name;
  EXPECT_EQ(s.Count(), 12);
  EXPECT_EQ(s.Modes(), (TEnumSet<TTestMode>{tmFirst, tmThird}));
  EXPECT_EQ(s.GetClassInfo().Property("Modes").Get(s), TVariant(std::uint64_t{5}));
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

TEST_F(TypesTest, EventSlotsHoldAndCallTheirHandler) {
  TTestComponent owner(nullptr);
  TTestSettings& s = *owner.Settings();
  std::vector<TPersistent*> senders;
  s.RaiseFull();  // no handler: nothing happens
  SetEventProp(s, "OnFull", [&](TPersistent* ASender) { senders.push_back(ASender); });
  EXPECT_EQ(owner.Notifications, 0);  // wiring a handler is no change of settings
  EXPECT_EQ(GetPropText(s, "OnFull"), "(assigned)");
  EXPECT_EQ(GetPropValue(s, "OnFull"), TVariant("(assigned)"));
  s.RaiseFull();
  EXPECT_EQ(senders, std::vector<TPersistent*>{&s});
  GetEventProp(s, "OnFull")(nullptr);
  TTestSettings copy(nullptr);  // Assign copies settings, not wiring
  copy.Assign(s);
  EXPECT_EQ(GetPropText(copy, "OnFull"), "");
  SetPropValue(s, "OnFull", TVariant());
  s.RaiseFull();
  EXPECT_EQ(senders.size(), 2u);
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
  EXPECT_EQ(mode.DefaultText, "tmSecond");
  EXPECT_EQ(mode.Values, (std::vector<std::string>{"tmFirst", "tmSecond", "tmThird"}));
  EXPECT_EQ(rows[2].Hints->Category, "Numbers");
  EXPECT_EQ(rows[3].Hints->Editor, "Color");
  EXPECT_TRUE(rows[10].ReadOnly);
  EXPECT_EQ(rows[14].TypeName, "set of TTestMode");
  EXPECT_EQ(rows[14].Values, mode.Values);  // the members a set may hold
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

// A test component named AName, owned by AOwner.
TTestComponent* Named(TComponent* AOwner, const char* AName) {
  auto* c = new TTestComponent(AOwner);
  c->SetName(AName);
  return c;
}

TEST_F(ComponentsTest, NamesMustBeValidIdentifiersUniqueAmongSiblings) {
  const struct { const char* Name; const char* Error; } cases[] = {  // no error: accepted
      {"_x1", ""}, {"", ""},  // "": unnamed
      {"1abc", "'1abc' is not a valid component name"},
      {"a-b", "'a-b' is not a valid component name"},
      {"Taken", "A component named Taken already exists"},
      {"TAKEN", "A component named TAKEN already exists"},  // names compare without ASCII case
  };
  TTestComponent root(nullptr);
  TTestComponent taken(&root);
  taken.SetName("Taken");
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.Name);
    TTestComponent c(&root);
    EXPECT_EQ(MessageOf<EComponentError>([&] { c.SetName(tc.Name); }), tc.Error);
    EXPECT_EQ(c.Name(), *tc.Error ? "" : tc.Name);
  }
  taken.SetName("taken");  // a new case of its own name is fine
  // Through the published property too, and a component of another owner may share the name.
  TTestComponent other(nullptr);
  SetPropText(other, "Name", "Taken");
  EXPECT_THROW(root.InsertComponent(&other), EComponentError);
  EXPECT_EQ(other.Owner(), nullptr);
}

TEST_F(ComponentsTest, OwnerFreesItsComponentsLastInsertedFirst) {
  auto* root = Named(nullptr, "Root");
  auto* a = Named(root, "A");
  auto* b = Named(root, "B");
  Named(a, "A1");  // freed with A, after A's own BeforeDestruction
  b->SetComponentIndex(0);
  EXPECT_EQ(root->Components(0), b);
  b->SetComponentIndex(1);
  TTestComponent::Free(root);
  const std::vector<std::string> expected = {"before Root", "before B", "destroy B", "before A",
                                             "before A1",   "destroy A1", "destroy A", "destroy Root"};
  EXPECT_EQ(TTestComponent::Log(), expected);
}

TEST_F(ComponentsTest, FreeingOneComponentLeavesItsOwnerAndTellsItsSiblings) {
  TTestComponent root(nullptr);
  auto* a = Named(&root, "A");
  auto* b = Named(&root, "B");
  a->Heard.clear();
  TComponent::Free(b);
  EXPECT_EQ(root.ComponentCount(), 1);
  EXPECT_EQ(a->Heard, std::vector<std::string>{"remove B"});
  EXPECT_EQ(root.Heard.back(), "remove B");
  // Moving a component to another owner.
  TTestComponent other(nullptr);
  std::vector<TComponent*> moved;
  TComponent::SetOwnerChangedObserver([&](TComponent* c) { moved.push_back(c); });
  other.InsertComponent(a);
  TComponent::SetOwnerChangedObserver(nullptr);
  EXPECT_EQ(moved, std::vector<TComponent*>{a});
  EXPECT_EQ(root.ComponentCount(), 0);
  EXPECT_THROW(a->InsertComponent(&other), EComponentError);  // an owner cycle
}

TEST_F(ComponentsTest, FreeNotificationClearsReferencesAcrossOwners) {
  TTestComponent form1(nullptr), form2(nullptr);
  auto* holder = Named(&form1, "Holder");
  auto* target = Named(&form2, "Target");
  holder->SetTarget(target);  // registers the free notification
  EXPECT_EQ(GetPropText(*holder, "Target"), "Target");
  holder->Heard.clear();
  TComponent::Free(target);
  EXPECT_EQ(holder->Target(), nullptr);
  EXPECT_EQ(holder->Heard, std::vector<std::string>{"remove Target"});
  // After RemoveFreeNotification nothing is heard.
  auto* quiet = Named(&form2, "Quiet");
  holder->FreeNotification(quiet);
  holder->RemoveFreeNotification(quiet);
  holder->Heard.clear();
  TComponent::Free(quiet);
  EXPECT_TRUE(holder->Heard.empty());
  // A reference set by name finds a component of the same document.
  auto* sibling = Named(&form1, "Sibling");
  SetPropText(*holder, "Target", "Sibling");
  EXPECT_EQ(holder->Target(), sibling);
  EXPECT_THROW(SetPropText(*holder, "Target", "Nobody"), EPropertyConvertError);
}

// A tree written and read back, references resolved after loading, Loaded once on each.
TEST_F(ComponentsTest, ComponentTreeRoundTrip) {
  const std::pair<const char*, const char*> kSettings[] = {
      {"Label", "first"}, {"Mode", "tmThird"}, {"Gain", "0.1"}, {"Enabled", "False"}, {"Modes", "[tmFirst,tmThird]"}};
  TMemoryStream stream;
  {
    TTestComponent root(nullptr);
    root.SetName("Root");
    auto* a = Named(&root, "A");
    auto* b = Named(&root, "B");
    auto* b1 = Named(b, "B1");
    auto* plain = new TComponent(&root);
    plain->SetName("Plain");
    plain->SetTag(-7);
    for (auto [name, value] : kSettings) SetPropText(*a->Settings(), name, value);
    a->Settings()->Queue()->SetSize(4);
    a->Settings()->Points()->Add()->SetX(2.5f);
    SetPropText(*a->Settings()->Points()->Add(TTestSpecialPoint::StaticClassInfo()), "Weight", "-2");
    a->Data = {1, 2, 3};
    a->SetTarget(b1);   // a reference into another branch, written as "B.B1"
    b1->SetTarget(a);   // a reference written before its target is read
    SaveComponentToStream(stream, root);
  }
  TTestComponent::Log().clear();
  stream.SetPosition(0);
  auto* root = dynamic_cast<TTestComponent*>(LoadComponentFromStream(stream, nullptr));
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->Name(), "Root");
  ASSERT_EQ(root->ComponentCount(), 3);
  auto* a = dynamic_cast<TTestComponent*>(root->FindComponent("A"));
  auto* b = dynamic_cast<TTestComponent*>(root->FindComponent("B"));
  auto* b1 = b ? dynamic_cast<TTestComponent*>(b->FindComponent("B1")) : nullptr;
  ASSERT_TRUE(a && b1);
  EXPECT_EQ(root->FindComponent("Plain")->Tag(), -7);
  for (auto [name, value] : kSettings) EXPECT_EQ(GetPropText(*a->Settings(), name), value) << name;
  EXPECT_EQ(a->Settings()->Queue()->Size(), 4u);
  ASSERT_EQ(a->Settings()->Points()->Count(), 2);
  EXPECT_EQ(GetPropText(*a->Settings()->Points()->Items(0), "X"), "2.5");
  EXPECT_EQ(GetPropText(*a->Settings()->Points()->Items(1), "Weight"), "-2");  // item classes by name
  EXPECT_EQ(GetPropText(*a->Pumping(), "Enabled"), "True");  // its re-published default
  EXPECT_EQ(a->Data, (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(a->Target(), b1);
  EXPECT_EQ(b1->Target(), a);
  for (TTestComponent* c : {root, a, b, b1}) EXPECT_FALSE(c->HasState(csLoading)) << c->Name();
  // Loaded once each, after everything was read, the root first.
  EXPECT_EQ(TTestComponent::Log(), (std::vector<std::string>{"loaded Root", "loaded A", "loaded B", "loaded B1"}));
  TComponent::Free(root);
}

TEST_F(ComponentsTest, ReadingAnUnknownClassFailsAndFreesWhatWasMade) {
  TMemoryStream stream;
  {
    TBinaryWriter w(stream, "TTestComponent");
    w.WriteString("Name", "Root");
    w.BeginList("_Components");
    w.BeginItem("TTestComponent");
    w.WriteString("Name", "Made");
    w.EndItem();
    w.BeginItem("TNoSuchComponent");
    w.EndItem();
    w.EndList();
    w.Finish();
  }
  stream.SetPosition(0);
  TTestComponent owner(nullptr);
  EXPECT_EQ(MessageOf<EPropertyError>([&] { LoadComponentFromStream(stream, &owner); }),
            "Class TNoSuchComponent not found");
  EXPECT_EQ(owner.ComponentCount(), 0);
  EXPECT_EQ(TTestComponent::Log(), (std::vector<std::string>{"before Root", "before Made", "destroy Made",
                                                             "destroy Root"}));
}

TEST_F(ComponentsTest, DesigningStateReachesOwnedComponents) {
  TTestComponent root(nullptr);
  auto* a = new TTestComponent(&root);
  root.SetDesigning(true);
  EXPECT_TRUE(a->HasState(csDesigning));
  auto* late = new TTestComponent(&root);
  EXPECT_TRUE(late->HasState(csDesigning));
  root.SetDesigning(false);
  EXPECT_FALSE(a->HasState(csDesigning));
}

}  // namespace
}  // namespace nxtest
