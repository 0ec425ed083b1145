// Tests of components: names, ownership and destruction order, free
// notification and references, and the streaming of a component tree with
// references resolved by name and Loaded called on every component.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "ExceptionMessage.h"
#include "PropsTestClasses.h"
#include "runtime/Zandor.Components.h"
#include "runtime/Zandor.Design.h"
#include "runtime/Zandor.Serialization.h"
#include "runtime/Zandor.Streams.h"

namespace nxtest {
namespace {

// A test component named AName, owned by AOwner.
TTestComponent* Named(TComponent* AOwner, const char* AName) {
  auto* c = new TTestComponent(AOwner);
  c->SetName(AName);
  return c;
}

class ComponentsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterTestClasses();
    TTestComponent::Log().clear();
  }
};

TEST_F(ComponentsTest, NamesMustBeValidIdentifiersUniqueAmongSiblings) {
  struct TCase {
    const char* Name;
    const char* Error;  // empty: accepted
  };
  const TCase cases[] = {
      {"Filter1", ""},
      {"_x", ""},
      {"", ""},  // unnamed
      {"1abc", "'1abc' is not a valid component name"},
      {"a b", "'a b' is not a valid component name"},
      {"a-b", "'a-b' is not a valid component name"},
      {"Taken", "A component named Taken already exists"},
      {"TAKEN", "A component named TAKEN already exists"},  // names compare without ASCII case
  };
  TTestComponent root(nullptr);
  TTestComponent taken(&root);
  taken.SetName("Taken");
  for (const TCase& tc : cases) {
    SCOPED_TRACE(tc.Name);
    TTestComponent c(&root);
    EXPECT_EQ(MessageOf<EComponentError>([&] { c.SetName(tc.Name); }), tc.Error);
    EXPECT_EQ(c.Name(), *tc.Error ? "" : tc.Name);
  }
  taken.SetName("taken");  // a new case of its own name is fine
  EXPECT_EQ(root.FindComponent("TAKEN"), &taken);
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
  EXPECT_EQ(root->ComponentCount(), 2);
  EXPECT_EQ(b->ComponentIndex(), 1);
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
  EXPECT_THROW(root.Components(1), ERangeError);
  // Moving a component to another owner.
  TTestComponent other(nullptr);
  std::vector<TComponent*> moved;
  TComponent::SetOwnerChangedObserver([&](TComponent* c) { moved.push_back(c); });
  other.InsertComponent(a);
  TComponent::SetOwnerChangedObserver(nullptr);
  EXPECT_EQ(moved, std::vector<TComponent*>{a});
  EXPECT_EQ(a->Owner(), &other);
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
  SetPropText(*holder, "Target", "");
  EXPECT_EQ(holder->Target(), nullptr);
}

// A tree written and read back: classes by name, owners, non-default
// properties, nested objects, a collection, an extra member, a reference to
// a sibling resolved after loading, and Loaded once on every component.
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
    SetPropText(*a->Pumping(), "Priority", "3");
    a->Data = {1, 2, 3};
    a->SetTarget(b1);   // a reference into another branch, written as "B.B1"
    b1->SetTarget(a);   // a reference written before its target is read
    SaveComponentToStream(stream, root);
  }
  TTestComponent::Log().clear();
  stream.SetPosition(0);
  TComponent* loaded = LoadComponentFromStream(stream, nullptr);
  ASSERT_NE(loaded, nullptr);
  auto* root = dynamic_cast<TTestComponent*>(loaded);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->Name(), "Root");
  ASSERT_EQ(root->ComponentCount(), 3);
  auto* a = dynamic_cast<TTestComponent*>(root->FindComponent("A"));
  auto* b = dynamic_cast<TTestComponent*>(root->FindComponent("B"));
  ASSERT_TRUE(a && b);
  auto* b1 = dynamic_cast<TTestComponent*>(b->FindComponent("B1"));
  ASSERT_NE(b1, nullptr);
  EXPECT_EQ(root->FindComponent("Plain")->Tag(), -7);
  EXPECT_EQ(root->FindComponent("Plain")->ClassName(), "TComponent");
  for (auto [name, value] : kSettings) EXPECT_EQ(GetPropText(*a->Settings(), name), value) << name;
  EXPECT_EQ(a->Settings()->Queue()->Size(), 4u);
  ASSERT_EQ(a->Settings()->Points()->Count(), 2);
  EXPECT_EQ(GetPropText(*a->Settings()->Points()->Items(0), "X"), "2.5");
  EXPECT_EQ(a->Settings()->Points()->Items(1)->ClassName(), "TTestSpecialPoint");  // item classes by name
  EXPECT_EQ(GetPropText(*a->Settings()->Points()->Items(1), "Weight"), "-2");
  EXPECT_EQ(GetPropText(*a->Pumping(), "Priority"), "3");
  EXPECT_EQ(GetPropText(*a->Pumping(), "Enabled"), "True");  // its re-published default
  EXPECT_EQ(a->Data, (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(a->Target(), b1);
  EXPECT_EQ(b1->Target(), a);
  EXPECT_TRUE(b->Data.empty());
  for (TTestComponent* c : {root, a, b, b1}) {
    EXPECT_EQ(c->LoadedCalls, 1) << c->Name();
    EXPECT_FALSE(c->HasState(csLoading)) << c->Name();
  }
  // Loaded runs after everything was read, the root first.
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
