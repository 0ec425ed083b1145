// Component collections: list operations, moves between lists, freeing, streaming, registry, look-ups.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "infrastructure/NXComponentCollection.h"
#include "nxruntime.h"

namespace nxtest {
namespace {

using namespace nx;

class TTestItem : public TNXComponentItem {
  NX_PERSISTENT(TTestItem, TNXComponentItem)
 public:
  explicit TTestItem(TComponent* AOwner) : TNXComponentItem(AOwner) {}
};

// A host with two lists; it writes each list's items in list order, then its other children.
class TListHost : public TLockComponent {
  NX_PERSISTENT(TListHost, TLockComponent)
 public:
  explicit TListHost(TComponent* AOwner) : TLockComponent(AOwner) {
    InitProperties(this);
    OnChanged = [this](TComponent*, TPersistent*) { ++Changes; };
  }
  TNXComponentItems* Items() const { return FItems.get(); }
  TNXComponentItems* Spare() const { return FSpare.get(); }
  static void DeclareProperties(TClassBuilder<TListHost>& P) {
    P.Prop<&TListHost::FItems>("Items");
    P.Prop<&TListHost::FSpare>("Spare");
  }
  void GetChildren(const std::function<void(TComponent*)>& AProc, TComponent* ARoot) const override {
    FItems->GetChildren(AProc, ARoot);
    FSpare->GetChildren(AProc, ARoot);
    TLockComponent::GetChildren(
        [&](TComponent* c) {
          if (FItems->GetIndexOf(c) < 0 && FSpare->GetIndexOf(c) < 0) AProc(c);
        },
        ARoot);
  }
  int Changes = 0;

 private:
  std::unique_ptr<TNXComponentItems> FItems;
  std::unique_ptr<TNXComponentItems> FSpare;
};

class ComponentCollectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterClass(TListHost::StaticClassInfo());
    NXRegisterComponentForCollection(TTestItem::StaticClassInfo(), TNXComponentItems::StaticClassInfo());
  }
  using THostPtr = std::unique_ptr<TListHost, void (*)(TListHost*)>;
  // A host owning items named by ANames, each appended to its first list.
  static THostPtr MakeHost(std::initializer_list<const char*> ANames) {
    THostPtr host(new TListHost(nullptr), [](TListHost* h) { TComponent::Free(h); });
    host->SetName("Host");
    for (const char* n : ANames) {
      auto* item = new TTestItem(host.get());
      item->SetName(n);
      item->SetList(host->Items());
    }
    return host;
  }
  static std::string Names(const TNXComponentItems& AList) {
    std::string s;
    AList.ForEach([&](INXComponentItem* i) { s += i->GetComponentInstance()->Name() + " "; });
    return s;
  }
  static TTestItem* Item(TListHost* AHost, const char* AName) {
    return static_cast<TTestItem*>(AHost->FindComponent(AName));
  }
};

TEST_F(ComponentCollectionTest, ListOperationsKeepTheUsersOrder) {
  THostPtr host = MakeHost({"A", "B", "C", "D"});
  TNXComponentItems& list = *host->Items();
  const struct {
    const char* What;
    std::function<void()> Run;
    const char* Order;
  } steps[] = {
      {"MoveTo", [&] { list.MoveTo(0, 2); }, "B C A D "},
      {"MoveTo past the end", [&] { list.MoveTo(0, 99); }, "C A D B "},
      {"Exchange", [&] { list.Exchange(0, 3); }, "B A D C "},
      {"Swap", [&] { list.Swap(Item(host.get(), "A"), Item(host.get(), "C")); }, "B C D A "},
      {"SetIndex", [&] { Item(host.get(), "A")->SetIndex(0); }, "A B C D "},
      {"DeleteItem", [&] { list.DeleteItem(1); }, "A C D "},
      {"InsertItem", [&] { list.InsertItem(1, Item(host.get(), "B")); }, "A B C D "},
      {"RemoveItem", [&] { list.RemoveItem(Item(host.get(), "D")); }, "A B C "},
      {"AddItemAtFixedIndex (new)", [&] { list.AddItemAtFixedIndex(Item(host.get(), "D"), 0); }, "D A B C "},
      {"AddItemAtFixedIndex (present)", [&] { list.AddItemAtFixedIndex(Item(host.get(), "D"), 2); }, "A B D C "},
      {"SetChildOrder", [&] { list.SetChildOrder(Item(host.get(), "C"), 0); }, "C A B D "},
  };
  for (const auto& s : steps) {
    s.Run();
    EXPECT_EQ(Names(list), s.Order) << s.What;
  }
  for (std::int32_t i = 0; i < list.Count(); ++i) {
    EXPECT_EQ(list.Items(i)->GetIndex(), i);
    std::int32_t at = -1;
    EXPECT_TRUE(list.GetLoadIndex(list.GetObjectAtIndex(i), at));
    EXPECT_EQ(at, i);
  }
  EXPECT_EQ(list.Name(), "Items");
  EXPECT_THROW(list.Exchange(0, 4), ERangeError);
  EXPECT_THROW(list.DeleteItem(-1), ERangeError);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(Item(host.get(), "A")->GetList(), nullptr);
}

TEST_F(ComponentCollectionTest, MovingIntoTheSameListDoesNothing) {
  THostPtr host = MakeHost({"A", "B"});
  int ownerChanges = 0;
  TComponent::SetOwnerChangedObserver([&](TComponent*) { ++ownerChanges; });
  TTestItem* b = Item(host.get(), "B");
  const int changes = host->Changes;
  b->SetListIndex(host->Items(), 0);
  EXPECT_EQ(host->Changes, changes);
  EXPECT_EQ(ownerChanges, 0);
  // Into another list: out of the first, into the second, owner change reported.
  b->SetListIndex(host->Spare(), 0);
  EXPECT_EQ(Names(*host->Items()), "A ");
  EXPECT_EQ(Names(*host->Spare()), "B ");
  EXPECT_EQ(b->GetOwnerProperty(), "Spare");
  EXPECT_EQ(ownerChanges, 1);
  TComponent::SetOwnerChangedObserver({});
}

TEST_F(ComponentCollectionTest, FreedItemsLeaveTheirListAndAFreedHostLeavesItsItems) {
  THostPtr list = MakeHost({"A", "B", "C"});
  TComponent::Free(Item(list.get(), "B"));
  EXPECT_EQ(Names(*list->Items()), "A C ");
  delete Item(list.get(), "A");  // a plain delete too
  EXPECT_EQ(Names(*list->Items()), "C ");
  // The document owns host and items; the items' parent is the host.
  auto* form = new TComponent(nullptr);
  auto* host = new TListHost(form);
  auto* a = new TTestItem(form);
  auto* b = new TTestItem(form);
  a->SetParentComponent(host);  // outside loading: joins the host's first list of its class
  b->SetParentComponent(host);
  ASSERT_EQ(host->Items()->Count(), 2);
  EXPECT_EQ(a->GetParentComponent(), host);
  TComponent::Free(host);
  ASSERT_EQ(form->ComponentCount(), 2);  // neither item was freed through the list
  EXPECT_EQ(a->GetList(), nullptr);
  EXPECT_EQ(b->GetListOwner(), nullptr);
  TComponent::Free(form);
}

// A stream holding one object with the members the function writes.
template <class F>
void WriteMembers(TMemoryStream& AStream, F&& AWrite) {
  TBinaryWriter w(AStream, "TTestItem");
  AWrite(w);
  w.Finish();
  AStream.SetPosition(0);
}

TEST_F(ComponentCollectionTest, OwnerCollectionLinksByPropertyNameInBothForms) {
  const struct {
    const char* Name;  // stored "_OwnerCollection"; null: none
    const char* Joins; // the host property of the list joined; empty: none
  } cases[] = {
      {"Items", "Items"}, {"spare", "Spare"}, {"Nope", ""}, {"Tag", ""}, {"", ""}, {nullptr, ""},
  };
  for (bool memberWise : {false, true}) {
    for (const auto& c : cases) {
      THostPtr host = MakeHost({});
      auto* item = new TTestItem(host.get());
      item->SetListOwner(host.get());
      TMemoryStream stream;
      WriteMembers(stream, [&](IWriter& w) { if (c.Name) w.WriteString("_OwnerCollection", c.Name); });
      TBinaryReader r(stream);
      if (memberWise) item->SerializationRead(r);
      else ReadObject(r, *item);  // through DefineProperties
      EXPECT_EQ(item->GetOwnerProperty(), c.Joins) << (c.Name ? c.Name : "(none)") << " member-wise " << memberWise;
      EXPECT_EQ(item->GetList() != nullptr, *c.Joins != '\0');
    }
  }
  // Writing: the member names the list's property, and only for an item in a list.
  THostPtr host = MakeHost({"A"});
  auto* loose = new TTestItem(host.get());
  for (TTestItem* item : {Item(host.get(), "A"), loose}) {
    for (bool memberWise : {false, true}) {
      TMemoryStream stream;
      WriteMembers(stream, [&](IWriter& w) { memberWise ? item->SerializationWrite(w) : WriteObject(w, *item); });
      TBinaryReader r(stream);
      std::string name;
      EXPECT_EQ(r.ReadString("_OwnerCollection", name), item != loose);
      EXPECT_EQ(name, item != loose ? "Items" : "");
    }
  }
}

TEST_F(ComponentCollectionTest, SaveAndLoadKeepOrderAndLinks) {
  THostPtr host = MakeHost({"A", "B", "C"});
  host->Items()->MoveTo(0, 2);  // B C A: not the order of creation
  auto* s = new TTestItem(host.get());
  s->SetName("S");
  s->SetList(host->Spare());
  auto* loose = new TTestItem(host.get());
  loose->SetName("Loose");
  TMemoryStream stream;
  SaveComponentToStream(stream, *host);
  stream.SetPosition(0);
  std::unique_ptr<TComponent, void (*)(TComponent*)> back(LoadComponentFromStream(stream, nullptr),
                                                          [](TComponent* c) { TComponent::Free(c); });
  auto* loaded = dynamic_cast<TListHost*>(back.get());
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(Names(*loaded->Items()), "B C A ");
  EXPECT_EQ(Names(*loaded->Spare()), "S ");
  for (const char* n : {"A", "B", "C", "S"}) {
    TTestItem* item = Item(loaded, n);
    ASSERT_NE(item, nullptr) << n;
    EXPECT_EQ(item->GetListOwner(), loaded) << n;
    EXPECT_EQ(item->GetParentComponent(), loaded) << n;
  }
  ASSERT_NE(Item(loaded, "Loose"), nullptr);
  EXPECT_EQ(Item(loaded, "Loose")->GetList(), nullptr);
}

TEST_F(ComponentCollectionTest, RegistryAnswersClassesAndCategories) {
  const TClassInfo& list = TNXComponentItems::StaticClassInfo();
  const auto lists = NXGetRegisteredComponentCollectionTypes();
  EXPECT_NE(std::find(lists.begin(), lists.end(), &list), lists.end());
  EXPECT_NE(FindClassInfo("TNXComponentItem"), nullptr);
  TListHost host(nullptr);
  EXPECT_TRUE(host.Items()->CanAdd(TTestItem::StaticClassInfo()));
  EXPECT_FALSE(host.Items()->CanAdd(TListHost::StaticClassInfo()));
  TTestItem item(nullptr);
  EXPECT_TRUE(host.Items()->IsCompatible(&item));
  RegisterComponents("Collection Items", {&TTestItem::StaticClassInfo()});
  const auto cats = NXGetComponentCollectionSubCategories(list);
  EXPECT_NE(std::find(cats.begin(), cats.end(), "Collection Items"), cats.end());
  EXPECT_EQ(NXGetComponentCollectionCategoriesClasses(list, "Collection Items"),
            std::vector<const TClassInfo*>{&TTestItem::StaticClassInfo()});
  EXPECT_TRUE(NXGetComponentCollectionCategoriesClasses(list, "Nothing Here").empty());
  UnregisterComponent(TTestItem::StaticClassInfo());
}

TEST_F(ComponentCollectionTest, PropertyLookUps) {
  TListHost host(nullptr);
  EXPECT_EQ(RGGetProperty(host, TNXComponentItems::StaticClassInfo()), host.Items());
  EXPECT_EQ(RGGetProperty(host, TTestItem::StaticClassInfo()), nullptr);
  EXPECT_EQ(RGGetObjPropertyName(host, host.Spare()), "Spare");
  EXPECT_EQ(RGGetObjPropertyName(host, &host), "");
  EXPECT_EQ(RGGetPropertyByName(host, "SPARE"), host.Spare());
  EXPECT_EQ(RGGetPropertyByName(host, "Name"), nullptr);  // a value, not an object
}

}  // namespace
}  // namespace nxtest
