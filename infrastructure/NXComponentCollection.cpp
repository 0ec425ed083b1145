// NXComponentCollection: component items, their lists, the link streaming,
// the registry of list classes and the property look-ups.
#include "infrastructure/NXComponentCollection.h"

#include <algorithm>
#include <mutex>

#include "runtime/NXPackage.h"
#include "runtime/SysUtils.h"
#include "runtime/Zandor.Design.h"

namespace nx {

NX_PERSISTENT_IMPL(TNXComponentItem)
NX_PERSISTENT_IMPL(TNXComponentItems)

namespace {
constexpr std::string_view kOwnerCollectionKey = "_OwnerCollection";
}  // namespace

// ---- Property look-ups

TPersistent* RGGetProperty(const TPersistent& AObject, const TClassInfo& AClass) {
  for (const TPropInfo* p : AObject.GetClassInfo().Properties()) {
    if (p->Kind != TPropKind::Object && p->Kind != TPropKind::Collection) continue;
    TPersistent* sub = p->GetObjFn(AObject);
    if (sub && sub->InheritsFrom(AClass)) return sub;
  }
  return nullptr;
}

std::string RGGetObjPropertyName(const TPersistent& AObject, const TPersistent* AValue) {
  if (!AValue) return {};
  for (const TPropInfo* p : AObject.GetClassInfo().Properties())
    if (p->IsObjectKind() && p->GetObjFn(AObject) == AValue) return p->Name;
  return {};
}

TPersistent* RGGetPropertyByName(const TPersistent& AObject, std::string_view AName) {
  const TPropInfo* p = AObject.GetClassInfo().FindProperty(AName);
  return p && p->IsObjectKind() ? p->GetObjFn(AObject) : nullptr;
}

// ---- TNXComponentItem

TNXComponentItem::~TNXComponentItem() {
  // Free() left the list in BeforeDestruction already; a plain delete did not.
  if (FList) FList->IntRemoveItem(this);
  FList = nullptr;
}

void TNXComponentItem::BeforeDestruction() {
  SetListIndex(nullptr, -1);
  TLockComponent::BeforeDestruction();
}

const TClassInfo& TNXComponentItem::GetCollectionClass() const { return TNXComponentItems::StaticClassInfo(); }

std::string TNXComponentItem::GetOwnerProperty() const {
  TNXComponentItems* list = GetList();
  if (!list) return {};
  TComponent* host = GetListOwner();
  if (!host) host = list->Host();
  return host ? RGGetObjPropertyName(*host, list) : std::string();
}

void TNXComponentItem::SetListOwner(TComponent* AOwner) {
  TWriteLock guard(GetLock());
  if (FListOwner == AOwner) return;
  if (FListOwner) RemoveFreeNotification(FListOwner);
  FListOwner = AOwner;
  // The item hears of its host being freed, and forgets it then.
  if (FListOwner) FreeNotification(FListOwner);
}

std::int32_t TNXComponentItem::GetIndex() const {
  TNXComponentItems* list = GetList();
  return list ? list->IndexOf(this) : -1;
}

void TNXComponentItem::SetIndex(std::int32_t AIndex) {
  if (TNXComponentItems* list = GetList()) list->MoveTo(list->IndexOf(this), AIndex);
}

void TNXComponentItem::SetListIndex(TNXComponentItems* AList, std::int32_t AIndex) {
  {
    TWriteLock guard(GetLock());
    if (AList == FList) return;
    if (FList) FList->IntRemoveItem(this);
    FList = AList;
    if (FList) FList->IntInsertItem(AIndex, this);
  }
  if (AList) SetListOwner(AList->Host());
  if (!HasState(csDestroying)) ComponentOwnerChanged();
}

void TNXComponentItem::JoinParentList() {
  TComponent* host = GetListOwner();
  if (!host) return;
  if (auto* list = dynamic_cast<TNXComponentItems*>(RGGetProperty(*host, GetCollectionClass()))) SetList(list);
}

void TNXComponentItem::SetParentComponent(TComponent* AParent) {
  TLockComponent::SetParentComponent(AParent);
  SetListOwner(AParent);
  if (!HasState(csLoading)) JoinParentList();
}

void TNXComponentItem::ReadState(IReader& AReader, TComponentReader& AContext) {
  TLockComponent::ReadState(AReader, AContext);
  if (!HasState(csLoading)) JoinParentList();
}

void TNXComponentItem::Notification(TComponent* AComponent, TOperation AOperation) {
  TLockComponent::Notification(AComponent, AOperation);
  if (AOperation != opRemove || !AComponent) return;
  TWriteLock guard(GetLock());
  if (AComponent == FListOwner) FListOwner = nullptr;
}

void TNXComponentItem::SerializationWrite(IWriter& AWriter) const {
  const std::string name = GetOwnerProperty();
  if (!name.empty()) AWriter.WriteString(kOwnerCollectionKey, name);
}

void TNXComponentItem::SerializationRead(IReader& AReader) {
  std::string name;
  if (!AReader.ReadString(kOwnerCollectionKey, name) || name.empty()) return;
  TComponent* host = GetListOwner();
  if (!host) return;
  // Only a property that holds a list joins it; a name the host does not
  // publish (or one of another kind) leaves the item where it is.
  auto* list = dynamic_cast<TNXComponentItems*>(RGGetPropertyByName(*host, name));
  if (list) SetList(list);
}

void TNXComponentItem::DefineProperties(TFiler& AFiler) {
  TLockComponent::DefineProperties(AFiler);
  AFiler.DefineProperty(
      *this, kOwnerCollectionKey,
      [](TPersistent& o, IReader& r, std::string_view) { static_cast<TNXComponentItem&>(o).SerializationRead(r); },
      [](const TPersistent& o, IWriter& w, std::string_view) {
        static_cast<const TNXComponentItem&>(o).SerializationWrite(w);
      },
      !AFiler.Reading() && !GetOwnerProperty().empty());
}

// ---- TNXComponentItems

// A component of no document that asks to be told when an item is freed.
class TNXComponentItems::TNotifier final : public TComponent {
 public:
  explicit TNotifier(TNXComponentItems& AList) : TComponent(nullptr), FList(AList) {}
  void Notification(TComponent* AComponent, TOperation AOperation) override {
    if (AOperation == opRemove && AComponent && !HasState(csDestroying)) FList.ItemFreed(AComponent);
  }

 private:
  TNXComponentItems& FList;
};

TNXComponentItems::TNXComponentItems(TPersistent* AOwner)
    : TLockPersistent(AOwner), FHost(dynamic_cast<TComponent*>(AOwner)), FNotifier(new TNotifier(*this)) {}

TNXComponentItems::~TNXComponentItems() {
  Clear();
  TComponent::Free(FNotifier.release());
}

std::string TNXComponentItems::Name() const {
  {
    TReadLock guard(GetLock());
    if (!FName.empty()) return FName;
  }
  return FHost ? RGGetObjPropertyName(*FHost, this) : std::string();
}

void TNXComponentItems::SetName(std::string_view AName) { SetNotify(FName, std::string(AName)); }

std::string TNXComponentItems::GetDisplayName() const {
  std::string name = Name();
  return name.empty() ? ClassName() : name;
}

void TNXComponentItems::CheckIndex(std::int32_t AIndex) const {
  if (AIndex < 0 || static_cast<std::size_t>(AIndex) >= FItems.size()) RaiseIndexOutOfRange(AIndex);
}

void TNXComponentItems::IntInsertItem(std::int32_t AIndex, INXComponentItem* AItem) {
  TWriteLock guard(GetLock());
  if (IndexOf(AItem) >= 0) return;
  TComponent* component = AItem->GetComponentInstance();
  const std::size_t at = AIndex < 0 || static_cast<std::size_t>(AIndex) > FItems.size()
                             ? FItems.size()
                             : static_cast<std::size_t>(AIndex);
  FItems.insert(FItems.begin() + static_cast<std::ptrdiff_t>(at), TEntry{AItem, component});
  FNotifier->FreeNotification(component);
  Changed();
}

void TNXComponentItems::IntRemoveItem(INXComponentItem* AItem) {
  TWriteLock guard(GetLock());
  const std::int32_t i = IndexOf(AItem);
  if (i < 0) return;
  TComponent* component = FItems[static_cast<std::size_t>(i)].Component;
  FItems.erase(FItems.begin() + i);
  FNotifier->RemoveFreeNotification(component);
  Changed();
}

void TNXComponentItems::ItemFreed(TComponent* AComponent) {
  // The item left in its BeforeDestruction or destructor already; this
  // catches one that was freed without either having run.
  TWriteLock guard(GetLock());
  const std::int32_t i = GetIndexOf(AComponent);
  if (i < 0) return;
  FItems.erase(FItems.begin() + i);
  Changed();
}

void TNXComponentItems::AddItem(INXComponentItem* AItem) {
  if (AItem) AItem->SetList(this);
}

void TNXComponentItems::AddItemAtFixedIndex(INXComponentItem* AItem, std::int32_t AIndex) {
  if (!AItem) return;
  if (AItem->GetList() == this) MoveTo(IndexOf(AItem), AIndex);
  else InsertItem(AIndex, AItem);
}

void TNXComponentItems::InsertItem(std::int32_t AIndex, INXComponentItem* AItem) {
  if (!AItem) return;
  if (auto* item = dynamic_cast<TNXComponentItem*>(AItem->GetComponentInstance())) {
    item->SetListIndex(this, AIndex);
  } else {
    // An item class of its own: the item is told of the list, then placed.
    AItem->SetList(this);
    const std::int32_t at = IndexOf(AItem);
    if (at >= 0 && AIndex >= 0) MoveTo(at, AIndex);
  }
}

void TNXComponentItems::RemoveItem(INXComponentItem* AItem) {
  if (AItem && AItem->GetList() == this) AItem->SetList(nullptr);
}

void TNXComponentItems::DeleteItem(std::int32_t AIndex) { RemoveItem(Items(AIndex)); }

void TNXComponentItems::Clear() {
  std::vector<TEntry> items;
  {
    TWriteLock guard(GetLock());
    items = FItems;
  }
  for (const TEntry& e : items) e.Item->SetList(nullptr);
}

void TNXComponentItems::Exchange(std::int32_t AIndex1, std::int32_t AIndex2) {
  TWriteLock guard(GetLock());
  CheckIndex(AIndex1);
  CheckIndex(AIndex2);
  if (AIndex1 == AIndex2) return;
  std::swap(FItems[static_cast<std::size_t>(AIndex1)], FItems[static_cast<std::size_t>(AIndex2)]);
  Changed();
}

void TNXComponentItems::Swap(INXComponentItem* AItem1, INXComponentItem* AItem2) {
  TWriteLock guard(GetLock());
  const std::int32_t a = IndexOf(AItem1), b = IndexOf(AItem2);
  if (a >= 0 && b >= 0) Exchange(a, b);
}

void TNXComponentItems::MoveTo(std::int32_t AFrom, std::int32_t ATo) {
  TWriteLock guard(GetLock());
  CheckIndex(AFrom);
  // A target past either end stands for that end.
  const std::int32_t last = static_cast<std::int32_t>(FItems.size()) - 1;
  if (ATo < 0) ATo = 0;
  if (ATo > last) ATo = last;
  if (AFrom == ATo) return;
  const TEntry e = FItems[static_cast<std::size_t>(AFrom)];
  FItems.erase(FItems.begin() + AFrom);
  FItems.insert(FItems.begin() + ATo, e);
  Changed();
}

std::int32_t TNXComponentItems::IndexOf(const INXComponentItem* AItem) const {
  TReadLock guard(GetLock());
  for (std::size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i].Item == AItem) return static_cast<std::int32_t>(i);
  return -1;
}

std::int32_t TNXComponentItems::GetIndexOf(const TComponent* AComponent) const {
  TReadLock guard(GetLock());
  for (std::size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i].Component == AComponent) return static_cast<std::int32_t>(i);
  return -1;
}

std::int32_t TNXComponentItems::Count() const {
  TReadLock guard(GetLock());
  return static_cast<std::int32_t>(FItems.size());
}

INXComponentItem* TNXComponentItems::Items(std::int32_t AIndex) const {
  TReadLock guard(GetLock());
  CheckIndex(AIndex);
  return FItems[static_cast<std::size_t>(AIndex)].Item;
}

TComponent* TNXComponentItems::GetObjectAtIndex(std::int32_t AIndex) const {
  TReadLock guard(GetLock());
  CheckIndex(AIndex);
  return FItems[static_cast<std::size_t>(AIndex)].Component;
}

bool TNXComponentItems::CanAdd(const TClassInfo& AClass) const {
  for (const TClassInfo* c : NXGetRegisteredComponentCollectionInfoTypes(GetClassInfo()))
    if (AClass.InheritsFrom(*c)) return true;
  return false;
}

bool TNXComponentItems::IsCompatible(const INXComponentItem* AItem) const {
  return AItem && GetClassInfo().InheritsFrom(AItem->GetCollectionClass());
}

std::vector<INXComponentItem*> TNXComponentItems::Query(const std::function<bool(INXComponentItem*)>& APredicate) const {
  std::vector<INXComponentItem*> result;
  TReadLock guard(GetLock());
  for (const TEntry& e : FItems)
    if (!APredicate || APredicate(e.Item)) result.push_back(e.Item);
  return result;
}

void TNXComponentItems::ForEach(const std::function<void(INXComponentItem*)>& AProc) const {
  for (INXComponentItem* item : Query()) AProc(item);
}

void TNXComponentItems::ForEachIndexed(const std::function<void(std::int32_t, INXComponentItem*)>& AProc) const {
  const std::vector<INXComponentItem*> items = Query();
  for (std::size_t i = 0; i < items.size(); ++i) AProc(static_cast<std::int32_t>(i), items[i]);
}

void TNXComponentItems::ForEachReverse(const std::function<void(INXComponentItem*)>& AProc) const {
  const std::vector<INXComponentItem*> items = Query();
  for (auto it = items.rbegin(); it != items.rend(); ++it) AProc(*it);
}

void TNXComponentItems::ForEachIndexedReverse(const std::function<void(std::int32_t, INXComponentItem*)>& AProc) const {
  const std::vector<INXComponentItem*> items = Query();
  for (std::size_t i = items.size(); i-- > 0;) AProc(static_cast<std::int32_t>(i), items[i]);
}

void TNXComponentItems::GetChildren(const std::function<void(TComponent*)>& AProc, TComponent*) const {
  std::vector<TComponent*> components;
  {
    TReadLock guard(GetLock());
    for (const TEntry& e : FItems) components.push_back(e.Component);
  }
  for (TComponent* c : components) AProc(c);
}

void TNXComponentItems::SetChildOrder(TComponent* AChild, std::int32_t AOrder) {
  TWriteLock guard(GetLock());
  const std::int32_t i = GetIndexOf(AChild);
  if (i >= 0) MoveTo(i, AOrder);
}

bool TNXComponentItems::GetLoadIndex(const TComponent* AObject, std::int32_t& AIndex) const {
  AIndex = GetIndexOf(AObject);
  return AIndex >= 0;
}

void RGRemoveCollectionControl(TComponent* AComponent) {
  if (auto* item = dynamic_cast<INXComponentItem*>(AComponent)) item->SetList(nullptr);
}

// ---- Registry

namespace {
struct TCollectionRegistry {
  std::mutex Lock;
  std::vector<const TClassInfo*> Lists;
  std::vector<std::pair<const TClassInfo*, const TClassInfo*>> Items;  // (item class, list class)
};
// Never freed: finalization sections may run after static destructors.
TCollectionRegistry& CollectionRegistry() {
  static auto* r = new TCollectionRegistry();
  return *r;
}
}  // namespace

void NXRegisterComponentCollection(const TClassInfo& AListClass) {
  TCollectionRegistry& r = CollectionRegistry();
  std::lock_guard guard(r.Lock);
  if (std::find(r.Lists.begin(), r.Lists.end(), &AListClass) == r.Lists.end()) r.Lists.push_back(&AListClass);
}

void NXRegisterComponentForCollection(const TClassInfo& AComponentClass, const TClassInfo& AListClass) {
  RegisterClass(AComponentClass);
  NXRegisterComponentCollection(AListClass);
  TCollectionRegistry& r = CollectionRegistry();
  std::lock_guard guard(r.Lock);
  const std::pair<const TClassInfo*, const TClassInfo*> row{&AComponentClass, &AListClass};
  if (std::find(r.Items.begin(), r.Items.end(), row) == r.Items.end()) r.Items.push_back(row);
}

void NXRegisterComponentsForCollection(std::initializer_list<const TClassInfo*> AComponentClasses,
                                       const TClassInfo& AListClass) {
  for (const TClassInfo* c : AComponentClasses) NXRegisterComponentForCollection(*c, AListClass);
}

std::vector<const TClassInfo*> NXGetRegisteredComponentCollectionTypes() {
  TCollectionRegistry& r = CollectionRegistry();
  std::lock_guard guard(r.Lock);
  return r.Lists;
}

std::vector<const TClassInfo*> NXGetRegisteredComponentCollectionInfoTypes(const TClassInfo& AListClass) {
  TCollectionRegistry& r = CollectionRegistry();
  std::lock_guard guard(r.Lock);
  std::vector<const TClassInfo*> result;
  for (const auto& [item, list] : r.Items)
    if (AListClass.InheritsFrom(*list) && std::find(result.begin(), result.end(), item) == result.end())
      result.push_back(item);
  return result;
}

std::vector<std::string> NXGetComponentCollectionSubCategories(const TClassInfo& AListClass) {
  std::vector<std::string> result;
  for (const TClassInfo* c : NXGetRegisteredComponentCollectionInfoTypes(AListClass))
    for (std::string& cat : CategoriesOf(*c))
      if (std::find(result.begin(), result.end(), cat) == result.end()) result.push_back(std::move(cat));
  return result;
}

std::vector<const TClassInfo*> NXGetComponentCollectionCategoriesClasses(const TClassInfo& AListClass,
                                                                          std::string_view ACategory) {
  std::vector<const TClassInfo*> result;
  for (const TClassInfo* c : NXGetRegisteredComponentCollectionInfoTypes(AListClass)) {
    const std::vector<std::string> cats = CategoriesOf(*c);
    if (std::find(cats.begin(), cats.end(), ACategory) != cats.end()) result.push_back(c);
  }
  return result;
}

// ---- Start-up

namespace NXComponentCollection {
namespace {
std::span<const TClassInfo* const> Classes() {
  static const TClassInfo* const classes[] = {&TNXComponentItem::StaticClassInfo(),
                                              &TNXComponentItems::StaticClassInfo()};
  return classes;
}
}  // namespace
void UnitInitialize() {
  RegisterClasses(Classes());
  NXRegisterComponentCollection(TNXComponentItems::StaticClassInfo());
}
void UnitFinalize() { UnregisterClasses(Classes()); }
}  // namespace NXComponentCollection

}  // namespace nx

NX_PACKAGE_UNIT(NXComponentCollection, &nx::NXComponentCollection::UnitInitialize,
                &nx::NXComponentCollection::UnitFinalize)
