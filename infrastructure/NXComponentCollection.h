// NXComponentCollection: ordered, user-editable lists whose items are whole
// components (with names, pins and properties of their own) rather than
// plain collection items.
//
// The list (TNXComponentItems) is a published property object of its host
// component. It holds its items in the user's order but does not own them:
// the document's owner does, and a list drops an item that is freed. Each
// item (TNXComponentItem) knows its list and its host; the host is its
// parent for streaming, and the item records under "_OwnerCollection" the
// name of the host property that holds its list, so the link survives saving
// and loading.
//
// A host writes its items in list order by listing them among its children:
//
//   void GetChildren(const std::function<void(TComponent*)>& AProc, TComponent* ARoot) const override {
//     FItems->GetChildren(AProc, ARoot);          // the list's items, in order
//     TLockComponent::GetChildren(...);           // and whatever else it has (not the items again)
//   }
//
// Reading appends each item as its "_OwnerCollection" is read, so the order
// read is the order written. A registry tells a designer which component
// classes may be added to which kind of list.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/Zandor.Components.h"
#include "runtime/Zandor.Function.h"
#include "runtime/Zandor.Interfaces.h"
#include "runtime/Zandor.Serialization.h"
#include "runtime/Zandor.Types.h"

namespace nx {

class TNXComponentItems;

// What a list holds of each item.
struct INXComponentItem : virtual IInterface {
  NX_INTERFACE_ID(INXComponentItem, "{3E8F1C62-7A4B-4D95-B0C2-91D6E5A47F38}");
  // The class of list the item joins when it gets a parent.
  virtual const TClassInfo& GetCollectionClass() const = 0;
  virtual TNXComponentItems* GetList() const = 0;
  virtual void SetList(TNXComponentItems* AList) = 0;
  // The name of the host property that holds the item's list ("" for none).
  virtual std::string GetOwnerProperty() const = 0;
  virtual void SetListOwner(TComponent* AOwner) = 0;
  virtual TComponent* GetListOwner() const = 0;
  virtual TComponent* GetComponentInstance() = 0;
  virtual std::int32_t GetIndex() const = 0;
  virtual void SetIndex(std::int32_t AIndex) = 0;
};

class TNXComponentItem : public TLockComponent, public INXComponentItem {
  NX_PERSISTENT_DECL(TNXComponentItem, TLockComponent)
  NX_INTERFACES(TLockComponent, INXComponentItem)
 public:
  explicit TNXComponentItem(TComponent* AOwner) : TLockComponent(AOwner) {}
  // Leaves its list first.
  ~TNXComponentItem() override;

  const TClassInfo& GetCollectionClass() const override;
  TNXComponentItems* GetList() const override { return ReadLocked(FList); }
  void SetList(TNXComponentItems* AList) override { SetListIndex(AList, -1); }
  std::string GetOwnerProperty() const override;
  void SetListOwner(TComponent* AOwner) override;
  TComponent* GetListOwner() const override { return ReadLocked(FListOwner); }
  TComponent* GetComponentInstance() override { return this; }
  std::int32_t GetIndex() const override;
  // Moves the item within its list (nothing without one).
  void SetIndex(std::int32_t AIndex) override;

  TNXComponentItems* GetOwnerList() const { return GetList(); }
  // Moves the item into AList at AIndex (appended for a negative index), out
  // of the list it was in; null leaves every list. Moving into the list it
  // is already in does nothing.
  void SetListIndex(TNXComponentItems* AList, std::int32_t AIndex);

  // The host is the item's parent for streaming.
  TComponent* GetParentComponent() const override { return GetListOwner(); }
  // Takes AParent as host; outside loading it joins the host's published
  // list of the item's collection class.
  void SetParentComponent(TComponent* AParent) override;
  bool HasParent() const override { return true; }
  void ReadState(IReader& AReader, TComponentReader& AContext) override;
  void BeforeDestruction() override;
  void Notification(TComponent* AComponent, TOperation AOperation) override;

  // "_OwnerCollection" as an extra streamed member.
  void DefineProperties(TFiler& AFiler) override;
  // The member-wise form of the same link: writes "_OwnerCollection" when the
  // item is in a list whose host property can be named; reading looks that
  // name up on the host and joins the list it names (an unknown name leaves
  // the item where it is).
  void SerializationWrite(IWriter& AWriter) const;
  void SerializationRead(IReader& AReader);

 private:
  void JoinParentList();
  TNXComponentItems* FList = nullptr;
  TComponent* FListOwner = nullptr;
};

// A list of component items, published by its host. Marked as a collection
// for the editors through its property's editor hint; it streams nothing
// itself (its items carry the link).
class TNXComponentItems : public TLockPersistent {
  NX_PERSISTENT_DECL(TNXComponentItems, TLockPersistent)
 public:
  explicit TNXComponentItems(TPersistent* AOwner);
  // Drops every item; the items themselves live on, unattached.
  ~TNXComponentItems() override;

  // The host component (the owner when it is one).
  TComponent* Host() const noexcept { return FHost; }
  // The name of the host property that holds this list (looked up when it
  // was not set).
  std::string Name() const;
  void SetName(std::string_view AName);
  std::string GetDisplayName() const;

  // Adding and removing go through the item, so that both sides agree.
  void AddItem(INXComponentItem* AItem);
  // Puts the item at AIndex, moving it there when it is in this list already.
  void AddItemAtFixedIndex(INXComponentItem* AItem, std::int32_t AIndex);
  void InsertItem(std::int32_t AIndex, INXComponentItem* AItem);
  void RemoveItem(INXComponentItem* AItem);
  // ERangeError "Index out of range = %u" for an index outside the list.
  void DeleteItem(std::int32_t AIndex);
  void Clear();
  void Exchange(std::int32_t AIndex1, std::int32_t AIndex2);
  void Swap(INXComponentItem* AItem1, INXComponentItem* AItem2);
  void MoveTo(std::int32_t AFrom, std::int32_t ATo);

  std::int32_t IndexOf(const INXComponentItem* AItem) const;
  std::int32_t GetIndexOf(const TComponent* AComponent) const;
  bool GetContains(const INXComponentItem* AItem) const { return IndexOf(AItem) >= 0; }
  std::int32_t Count() const;
  INXComponentItem* Items(std::int32_t AIndex) const;
  TComponent* GetObjectAtIndex(std::int32_t AIndex) const;
  // Whether a component of AClass may be added here: an item class
  // registered for this list's class or one of its bases.
  bool CanAdd(const TClassInfo& AClass) const;
  // Whether an item belongs in this kind of list (its collection class is
  // this list's class or a base of it).
  bool IsCompatible(const INXComponentItem* AItem) const;
  const TClassInfo& GetTypeInfo() const { return GetClassInfo(); }

  // Walks over a copy taken under the lock; the indexed forms give the
  // index first.
  void ForEach(const std::function<void(INXComponentItem*)>& AProc) const;
  void ForEachIndexed(const std::function<void(std::int32_t, INXComponentItem*)>& AProc) const;
  void ForEachReverse(const std::function<void(INXComponentItem*)>& AProc) const;
  void ForEachIndexedReverse(const std::function<void(std::int32_t, INXComponentItem*)>& AProc) const;
  std::vector<INXComponentItem*> Query(const std::function<bool(INXComponentItem*)>& APredicate = {}) const;

  // For the streaming of the host's children: the items in list order, and
  // the place of a child read back.
  void GetChildren(const std::function<void(TComponent*)>& AProc, TComponent* ARoot) const;
  void SetChildOrder(TComponent* AChild, std::int32_t AOrder);
  // The index of an item by its component while loading; false when absent.
  bool GetLoadIndex(const TComponent* AObject, std::int32_t& AIndex) const;

  // Called by the item only: change the list without telling the item.
  void IntInsertItem(std::int32_t AIndex, INXComponentItem* AItem);
  void IntRemoveItem(INXComponentItem* AItem);

 private:
  class TNotifier;
  struct TEntry {
    INXComponentItem* Item;
    TComponent* Component;
  };
  void CheckIndex(std::int32_t AIndex) const;
  // A freed item (by its component alone: the item's own parts are gone).
  void ItemFreed(TComponent* AComponent);

  TComponent* FHost;
  std::string FName;
  std::vector<TEntry> FItems;
  // Hears the free notification of every item in the list.
  std::unique_ptr<TNotifier> FNotifier;
};

// ---- The registry of list classes and the item classes they take.

// Registers AComponentClass (with the class registry too) as an item class
// of lists of AListClass.
void NXRegisterComponentForCollection(const TClassInfo& AComponentClass, const TClassInfo& AListClass);
void NXRegisterComponentsForCollection(std::initializer_list<const TClassInfo*> AComponentClasses,
                                       const TClassInfo& AListClass);
// Declares a list class (again: ignored).
void NXRegisterComponentCollection(const TClassInfo& AListClass);
// The list classes declared, in order.
std::vector<const TClassInfo*> NXGetRegisteredComponentCollectionTypes();
// The item classes registered for AListClass or one of its bases.
std::vector<const TClassInfo*> NXGetRegisteredComponentCollectionInfoTypes(const TClassInfo& AListClass);
// The design categories (Zandor.Design) that hold item classes of AListClass.
std::vector<std::string> NXGetComponentCollectionSubCategories(const TClassInfo& AListClass);
// The item classes of AListClass in the category ACategory.
std::vector<const TClassInfo*> NXGetComponentCollectionCategoriesClasses(const TClassInfo& AListClass,
                                                                          std::string_view ACategory);
// Takes a component out of the list it is in (nothing for one that is no item).
void RGRemoveCollectionControl(TComponent* AComponent);

// ---- Published object properties of a persistent.

// The first published sub-object (object or collection property) whose
// class is AClass or derives from it; null when there is none.
TPersistent* RGGetProperty(const TPersistent& AObject, const TClassInfo& AClass);
// The name of the published property that holds AValue; "" when none does.
std::string RGGetObjPropertyName(const TPersistent& AObject, const TPersistent* AValue);
// The object held by the published property AName; null for an unknown
// name or a property that holds no object.
TPersistent* RGGetPropertyByName(const TPersistent& AObject, std::string_view AName);

}  // namespace nx
