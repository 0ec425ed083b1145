// Zandor.Types: the property-object model of the runtime. Property objects
// (persistents) belong to an owner, share the owner's change-notify lock, set
// their published properties through notifying setters (take the lock,
// compare, store and notify the owner only when the value changed) and are
// streamed member-wise through their published properties (Zandor.TypeInfo
// declares those). Components add owned components, names, free
// notification and the loading state; collections hold ordered lists of
// property-object items.
//
//   TPersistent                   the root: type information, Assign, DefineProperties
//     TManagedPersistent          an owner and the owner's change-notify lock
//       TLockPersistent           read and write locking guards
//         TEnabledPersistent      published Enabled (default true)
//           TDisabledPersistent   Enabled re-published with default false
//         TLockCollection         an ordered list of TLockCollectionItem
//           TTypedPersistentCollection<TItem>
//       TLockCollectionItem       an item of a TLockCollection (its owner)
//     TComponent                  owner, owned components, Name, Tag, state
//       TLockComponent            its own change-notify lock, shared by its property objects
//   TManagedObject                a reference-counted helper with an owner and its lock
//
// Streaming: WriteObject / ReadObject write and read one persistent's
// members (non-default published properties, nested objects, collections as
// lists, the extra members of DefineProperties); WriteComponent /
// ReadComponent a tree of components (see Zandor.Components below).
//
// Lock model: a change-notify lock is one recursive lock (reads exclude each
// other too): setters notify their owners while they hold it, and owners
// share it, so the same thread re-enters it; a shared lock could not be
// upgraded there without deadlocks. A paired lock (TPairedLock) joins an input
// and an output lock: taking it takes both (input first), and each side can
// be taken alone. Code that needs both sides takes them in that order.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/SysUtils.h"
#include "runtime/Zandor.Function.h"
#include "runtime/Zandor.Interfaces.h"
#include "runtime/Zandor.Mutex.h"
#include "runtime/Zandor.Serialization.h"
#include "runtime/Zandor.TypeInfo.h"

namespace nx {

class TComponent;

// ---- Change-notify locks

// What a lock holder gets back from ReleaseAll to take the lock again.
using TLockDepth = std::uint64_t;

struct IChangeNotifyLock : virtual IInterface {
  NX_INTERFACE_ID(IChangeNotifyLock, "{5B0C7E2A-4D1F-4C8E-9A35-2E61F0B7C4D1}");
  virtual void BeginRead() = 0;
  virtual void EndRead() = 0;
  virtual void BeginWrite() = 0;
  virtual void EndWrite() = 0;
  // Takes the lock only when no other thread holds it.
  virtual bool TryBeginWrite() = 0;
  // Leaves the lock completely (the calling thread holds it) and returns the
  // depth to hand to Reacquire: used to wait for something with the lock
  // released. Returns 0 when the thread did not hold it.
  virtual TLockDepth ReleaseAll() = 0;
  virtual void Reacquire(TLockDepth ADepth) = 0;
  // True when the calling thread holds it (both sides for a paired lock).
  virtual bool HeldByCurrentThread() = 0;
};

// A recursive lock: one mutex, the holding thread and its depth. Cheaper than
// a recursive pthread mutex on the uncontended path that every setter takes.
class TRecursiveLock {
 public:
  void lock() {
    const std::thread::id me = std::this_thread::get_id();
    if (FHolder.load(std::memory_order_relaxed) == me) {
      ++FDepth;
      return;
    }
    FMutex.lock();
    FHolder.store(me, std::memory_order_relaxed);
    FDepth = 1;
  }
  bool try_lock() {
    const std::thread::id me = std::this_thread::get_id();
    if (FHolder.load(std::memory_order_relaxed) == me) {
      ++FDepth;
      return true;
    }
    if (!FMutex.try_lock()) return false;
    FHolder.store(me, std::memory_order_relaxed);
    FDepth = 1;
    return true;
  }
  void unlock() {
    if (--FDepth == 0) {
      FHolder.store(std::thread::id(), std::memory_order_relaxed);
      FMutex.unlock();
    }
  }
  bool held() const { return FHolder.load(std::memory_order_relaxed) == std::this_thread::get_id(); }
  std::uint32_t ReleaseAll() {
    if (!held()) return 0;
    const std::uint32_t depth = FDepth;
    FDepth = 1;
    unlock();
    return depth;
  }
  void Reacquire(std::uint32_t ADepth) {
    if (ADepth == 0) return;
    lock();
    FDepth = ADepth;
  }

 private:
  std::mutex FMutex;
  std::atomic<std::thread::id> FHolder{};
  std::uint32_t FDepth = 0;
};

class TChangeNotifyLock final : public TInterfacedObject, public IChangeNotifyLock {
  NX_INTERFACES(TInterfacedObject, IChangeNotifyLock)
 public:
  static TIntfPtr<IChangeNotifyLock> Make() { return TIntfPtr<IChangeNotifyLock>(new TChangeNotifyLock()); }
  void BeginRead() override { FLock.lock(); }
  void EndRead() override { FLock.unlock(); }
  void BeginWrite() override { FLock.lock(); }
  void EndWrite() override { FLock.unlock(); }
  bool TryBeginWrite() override { return FLock.try_lock(); }
  TLockDepth ReleaseAll() override { return FLock.ReleaseAll(); }
  void Reacquire(TLockDepth ADepth) override { FLock.Reacquire(static_cast<std::uint32_t>(ADepth)); }
  bool HeldByCurrentThread() override { return FLock.held(); }

 private:
  TRecursiveLock FLock;
};

// Two locks as one: BeginWrite takes the input side, then the output side;
// EndWrite leaves them in reverse. The sides stay usable alone.
class TPairedLock final : public TInterfacedObject, public IChangeNotifyLock {
  NX_INTERFACES(TInterfacedObject, IChangeNotifyLock)
 public:
  TPairedLock(TIntfPtr<IChangeNotifyLock> AInput, TIntfPtr<IChangeNotifyLock> AOutput);
  static TIntfPtr<IChangeNotifyLock> Make(TIntfPtr<IChangeNotifyLock> AInput, TIntfPtr<IChangeNotifyLock> AOutput) {
    return TIntfPtr<IChangeNotifyLock>(new TPairedLock(std::move(AInput), std::move(AOutput)));
  }
  const TIntfPtr<IChangeNotifyLock>& InputLock() const noexcept { return FInput; }
  const TIntfPtr<IChangeNotifyLock>& OutputLock() const noexcept { return FOutput; }

  void BeginRead() override { BeginWrite(); }
  void EndRead() override { EndWrite(); }
  void BeginWrite() override;
  void EndWrite() override;
  bool TryBeginWrite() override;
  // The two depths packed: input in the high half, output in the low half.
  TLockDepth ReleaseAll() override;
  void Reacquire(TLockDepth ADepth) override;
  bool HeldByCurrentThread() override;

 private:
  TIntfPtr<IChangeNotifyLock> FInput, FOutput;
};

// Scoped guards of a change-notify lock (a null lock is no lock).
class TWriteLock {
 public:
  explicit TWriteLock(IChangeNotifyLock* ALock) : FLock(ALock) {
    if (FLock) FLock->BeginWrite();
  }
  ~TWriteLock() {
    if (FLock) FLock->EndWrite();
  }
  TWriteLock(const TWriteLock&) = delete;
  TWriteLock& operator=(const TWriteLock&) = delete;

 private:
  IChangeNotifyLock* FLock;
};
class TReadLock {
 public:
  explicit TReadLock(IChangeNotifyLock* ALock) : FLock(ALock) {
    if (FLock) FLock->BeginRead();
  }
  ~TReadLock() {
    if (FLock) FLock->EndRead();
  }
  TReadLock(const TReadLock&) = delete;
  TReadLock& operator=(const TReadLock&) = delete;

 private:
  IChangeNotifyLock* FLock;
};
// Leaves a lock completely for its lifetime (to wait with it released) and
// takes it again, at the same depth, when it ends.
class TLockReleaser {
 public:
  explicit TLockReleaser(IChangeNotifyLock* ALock) : FLock(ALock), FDepth(ALock ? ALock->ReleaseAll() : 0) {}
  ~TLockReleaser() {
    if (FLock) FLock->Reacquire(FDepth);
  }
  TLockReleaser(const TLockReleaser&) = delete;
  TLockReleaser& operator=(const TLockReleaser&) = delete;

 private:
  IChangeNotifyLock* FLock;
  TLockDepth FDepth;
};

// ---- Persistents

namespace detail {
template <class V>
bool SameValue(const V& a, const V& b) {
  if constexpr (std::is_floating_point_v<V>) return a == b || (a != a && b != b);  // NaN equals NaN here
  else return a == b;
}
}  // namespace detail

// The root of property objects and components. It answers QueryInterface for
// the interfaces a class lists (NX_INTERFACES(Base, ...)) but is not
// reference-counted: its owner frees it (_AddRef and _Release return -1), so
// an interface pointer to it never keeps it alive.
class TPersistent : public virtual IInterface {
  template <class T>
  friend class TClassBuilder;
  friend class TClassInfo;

 public:
  using inherited = void;
  using TOwnerType = TPersistent;
  static constexpr bool kNXIsComponent = false;
  static constexpr bool kNXIsCollection = false;
  static const TClassInfo& StaticClassInfo();
  virtual const TClassInfo& GetClassInfo() const { return StaticClassInfo(); }
  const std::string& ClassName() const { return GetClassInfo().Name(); }
  bool InheritsFrom(const TClassInfo& AClass) const { return GetClassInfo().InheritsFrom(AClass); }

  TPersistent() = default;
  TPersistent(const TPersistent&) = delete;
  TPersistent& operator=(const TPersistent&) = delete;
  ~TPersistent() override = default;

  bool QueryInterface(const TGUID& iid, void** obj) noexcept final {
    if (!obj) return false;
    *obj = nullptr;
    return IntQueryInterface(iid, obj);
  }
  std::int32_t _AddRef() noexcept final { return -1; }
  std::int32_t _Release() noexcept final { return -1; }

  // The object that owns this one (null for none).
  virtual TPersistent* GetOwner() const { return nullptr; }
  // The change-notify lock this object's setters take (null: none).
  virtual IChangeNotifyLock* GetLock() const { return nullptr; }
  // Called after every effective change of one of this object's properties;
  // tells the owner (OwnedChanged). Quiet while the object initialises.
  virtual void Changed();
  // An owned property object (or collection item) changed.
  virtual void OwnedChanged(TPersistent* ASource) {}

  // Copies the published properties of ASource (same class or a descendant
  // of this one's class): values, sub-objects (assigned in turn),
  // collections (items recreated) and references. Otherwise EConvertError.
  virtual void Assign(const TPersistent& ASource);
  // Members streamed beside the published properties.
  virtual void DefineProperties(TFiler& AFiler) {}
  // The name an editor shows for this object ("Owner.Property").
  virtual std::string GetNamePath() const;
  // The component a reference property set by text names (AName is a
  // component name or a dotted path): asks the owner; components search
  // their document (see TComponent). Null when there is none.
  virtual TPersistent* FindReference(std::string_view AName) const;

  // Sets the initial values of the properties declared by T (not its bases)
  // and creates its empty owned sub-objects, without notifications. Every
  // class that declares properties calls it from its constructors:
  // InitProperties(this).
  template <class T>
  void InitProperties(T* ASelf) {
    static_assert(std::is_same_v<typename T::inherited, typename T::inherited>);
    const bool was = FInitializing;
    FInitializing = true;
    T::StaticClassInfo().InitOwnProperties(*ASelf);
    FInitializing = was;
  }
  bool Initializing() const noexcept { return FInitializing; }

  // Reads a field under the object's read lock (a copy).
  template <class V>
  V ReadLocked(const V& AField) const {
    IChangeNotifyLock* lock = GetLock();
    if (!lock) return AField;
    lock->BeginRead();
    V copy(AField);
    lock->EndRead();
    return copy;
  }

 protected:
  virtual bool IntQueryInterface(const TGUID& iid, void** obj) noexcept;

  // The notifying setters: take the lock, compare, and only when the value
  // differs store it, run the follow-up action (when given) and notify.
  // Return whether the value changed.
  template <class V, class W>
  bool SetNotify(V& AField, W&& AValue) {
    TWriteLock guard(GetLock());
    if (detail::SameValue<V>(AField, AValue)) return false;
    AField = std::forward<W>(AValue);
    Changed();
    return true;
  }
  template <class V, class W, class F>
  bool SetNotify(V& AField, W&& AValue, F&& AFollowUp) {
    TWriteLock guard(GetLock());
    if (detail::SameValue<V>(AField, AValue)) return false;
    AField = std::forward<W>(AValue);
    AFollowUp();
    Changed();
    return true;
  }
  // The clamping variant: a value below AMin is stored as AMin.
  template <class V>
  bool SetNotifyMin(V& AField, V AValue, V AMin) {
    return SetNotify(AField, AValue < AMin ? AMin : AValue);
  }
  // Sets an event field under the write lock. No change notification: a
  // handler is wiring, not a setting, and is never streamed.
  void SetHandler(TNotifyEvent& AField, TNotifyEvent AHandler) {
    TWriteLock guard(GetLock());
    AField = std::move(AHandler);
  }
  // Calls the handler in AEvent (a copy taken under the read lock, so that
  // the handler may itself re-assign the event) with this object as sender.
  void CallEvent(const TNotifyEvent& AEvent) {
    if (TNotifyEvent handler = ReadLocked(AEvent)) handler(this);
  }
  // Sets a component reference field: the holding component is told when the
  // referenced component is freed, and the field is then cleared.
  template <class U>
  bool SetReference(U*& AField, U* AValue) {
    TWriteLock guard(GetLock());
    if (AField == AValue) return false;
    AField = AValue;
    ReferenceChanged(AValue);
    Changed();
    return true;
  }

 private:
  void ReferenceChanged(TPersistent* AValue);
  bool FInitializing = false;
};

// A property object: an owner and a change-notify lock, the owner's when it
// has one, else one of its own.
class TManagedPersistent : public TPersistent {
  NX_PERSISTENT_DECL(TManagedPersistent, TPersistent)
 public:
  explicit TManagedPersistent(TPersistent* AOwner);
  TPersistent* GetOwner() const override { return FOwner; }
  IChangeNotifyLock* GetLock() const override { return FLock.Get(); }
  const TIntfPtr<IChangeNotifyLock>& Lock() const noexcept { return FLock; }
  // A sub-object's change is a change of this object too.
  void OwnedChanged(TPersistent* ASource) override { Changed(); }
  std::string GetNamePath() const override;

 protected:
  void SetOwner(TPersistent* AOwner) { FOwner = AOwner; }

 private:
  TPersistent* FOwner;
  TIntfPtr<IChangeNotifyLock> FLock;
};

class TLockPersistent : public TManagedPersistent {
  NX_PERSISTENT_DECL(TLockPersistent, TManagedPersistent)
 public:
  explicit TLockPersistent(TPersistent* AOwner) : TManagedPersistent(AOwner) {}
  void BeginRead() const { GetLock()->BeginRead(); }
  void EndRead() const { GetLock()->EndRead(); }
  void BeginWrite() const { GetLock()->BeginWrite(); }
  void EndWrite() const { GetLock()->EndWrite(); }
};

// The enable interface of property objects and components that can be
// switched on and off.
struct IEnable : virtual IInterface {
  NX_INTERFACE_ID(IEnable, "{7D2A9C41-1B6E-4F0A-8C53-9E4B2D7A1F60}");
  virtual bool GetHasEnable() = 0;
  virtual bool GetCanDisable() = 0;
  virtual bool GetIsEnabled() = 0;
  virtual void SetIsEnabled(bool AValue) = 0;
};

class TEnabledPersistent : public TLockPersistent, public IEnable {
  NX_PERSISTENT_DECL(TEnabledPersistent, TLockPersistent)
  NX_INTERFACES(TLockPersistent, IEnable)
 public:
  explicit TEnabledPersistent(TPersistent* AOwner) : TLockPersistent(AOwner) { InitProperties(this); }
  bool Enabled() const { return ReadLocked(FEnabled); }
  void SetEnabled(bool AValue) { SetNotify(FEnabled, AValue); }
  bool GetHasEnable() override { return true; }
  bool GetCanDisable() override { return true; }
  bool GetIsEnabled() override { return Enabled(); }
  void SetIsEnabled(bool AValue) override { SetEnabled(AValue); }

  static void DeclareProperties(TClassBuilder<TEnabledPersistent>& P);

 private:
  bool FEnabled;
};

class TDisabledPersistent : public TEnabledPersistent {
  NX_PERSISTENT_DECL(TDisabledPersistent, TEnabledPersistent)
 public:
  explicit TDisabledPersistent(TPersistent* AOwner) : TEnabledPersistent(AOwner) { InitProperties(this); }
  static void DeclareProperties(TClassBuilder<TDisabledPersistent>& P) { P.Republish("Enabled", false); }
};

// ---- Collections

class TLockCollection;

class TLockCollectionItem : public TManagedPersistent {
  NX_PERSISTENT_DECL(TLockCollectionItem, TManagedPersistent)
 public:
  // The collection (the owner) adds the item; null makes a free item.
  explicit TLockCollectionItem(TPersistent* ACollection);
  ~TLockCollectionItem() override;
  TLockCollection* Collection() const noexcept { return FCollection; }
  std::int32_t Index() const;
  // Moves the item to another place in its collection.
  void SetIndex(std::int32_t AIndex);
  // What an editor shows for the item: its class name unless a class says more.
  virtual std::string GetDisplayName() const { return ClassName(); }
  std::string GetNamePath() const override;

 private:
  friend class TLockCollection;
  TLockCollection* FCollection = nullptr;
};

class TLockCollection : public TLockPersistent {
  NX_PERSISTENT_DECL(TLockCollection, TLockPersistent)
 public:
  static constexpr bool kNXIsCollection = true;
  TLockCollection(TPersistent* AOwner, const TClassInfo& AItemClass);
  ~TLockCollection() override;

  const TClassInfo& ItemClass() const noexcept { return *FItemClass; }
  std::int32_t Count() const;
  // ERangeError "Index out of range = %u" outside 0..Count-1.
  TLockCollectionItem* Items(std::int32_t AIndex) const;
  // A new item of the item class (or of AClass, which must derive from it) at the end.
  TLockCollectionItem* Add();
  TLockCollectionItem* Add(const TClassInfo& AClass);
  TLockCollectionItem* Insert(std::int32_t AIndex, const TClassInfo& AClass);
  void Delete(std::int32_t AIndex);
  void Clear();
  void Exchange(std::int32_t AIndex1, std::int32_t AIndex2);
  void Move(std::int32_t AFrom, std::int32_t ATo);
  std::int32_t IndexOf(const TLockCollectionItem* AItem) const;
  void Assign(const TPersistent& ASource) override;

 protected:
  // A hook run for every new item before the collection reports the change.
  virtual void NewItemCreated(TLockCollectionItem* AItem) {}

 private:
  friend class TLockCollectionItem;
  void CheckIndex(std::int32_t AIndex) const;
  void InsertItem(std::int32_t AIndex, TLockCollectionItem* AItem);
  void DetachItem(TLockCollectionItem* AItem);
  const TClassInfo* FItemClass;
  std::vector<TLockCollectionItem*> FItems;
};

// A collection of TItem (or descendants) with typed access.
template <class TItem>
class TTypedPersistentCollection : public TLockCollection {
 public:
  using inherited = TLockCollection;
  static const TClassInfo& StaticClassInfo() {
    // Never freed, like every class description (see NX_PERSISTENT).
    static const TClassInfo* info = new TClassInfo(TClassInfo::TTag<TTypedPersistentCollection>{},
                                                   "TTypedPersistentCollection<" + TItem::StaticClassInfo().Name() + ">");
    return *info;
  }
  const TClassInfo& GetClassInfo() const override { return StaticClassInfo(); }

  explicit TTypedPersistentCollection(TPersistent* AOwner) : TLockCollection(AOwner, TItem::StaticClassInfo()) {}
  TItem* Items(std::int32_t AIndex) const { return static_cast<TItem*>(TLockCollection::Items(AIndex)); }
  TItem* Add() { return static_cast<TItem*>(TLockCollection::Add()); }
  TItem* Add(const TClassInfo& AClass) { return static_cast<TItem*>(TLockCollection::Add(AClass)); }
  TItem* operator[](std::int32_t AIndex) const { return Items(AIndex); }
};

// A reference-counted helper object that belongs to a property owner and
// shares its lock (caches, live drawing objects): it notifies the owner of
// its changes like a property object, but is not streamed.
class TManagedObject : public TInterfacedObject {
 public:
  explicit TManagedObject(TPersistent* AOwner)
      : FOwner(AOwner), FLock(AOwner && AOwner->GetLock() ? TIntfPtr<IChangeNotifyLock>(AOwner->GetLock())
                                                          : TChangeNotifyLock::Make()) {}
  TPersistent* Owner() const noexcept { return FOwner; }
  IChangeNotifyLock* GetLock() const noexcept { return FLock.Get(); }
  void Changed() {
    if (FOwner) FOwner->OwnedChanged(nullptr);
  }

 protected:
  template <class V, class W>
  bool SetNotify(V& AField, W&& AValue) {
    TWriteLock guard(GetLock());
    if (detail::SameValue<V>(AField, AValue)) return false;
    AField = std::forward<W>(AValue);
    Changed();
    return true;
  }

 private:
  TPersistent* FOwner;
  TIntfPtr<IChangeNotifyLock> FLock;
};

// ---- Streaming of one persistent.

// Turns references into names while writing (the component layer supplies one).
class TWriteContext {
 public:
  virtual ~TWriteContext() = default;
  virtual std::string ReferenceName(const TPersistent& AReferenced) const;
};
// Collects the references read by name, to resolve once everything exists.
class TReadContext {
 public:
  struct TFixup {
    TPersistent* Object;
    const TPropInfo* Property;
    std::string Name;
  };
  virtual ~TReadContext() = default;
  void AddFixup(TPersistent& AObject, const TPropInfo& AProperty, std::string AName) {
    FFixups.push_back({&AObject, &AProperty, std::move(AName)});
  }
  const std::vector<TFixup>& Fixups() const noexcept { return FFixups; }
  // Sets every recorded reference to AFind(name); returns the names that
  // found nothing (those references stay empty).
  std::vector<std::string> ResolveFixups(const std::function<TPersistent*(std::string_view)>& AFind);

 private:
  std::vector<TFixup> FFixups;
};

// Writes the members of AObject into the current object of AWriter:
// published properties that are stored (differ from their default), nested
// objects that have anything to write, non-empty collections as lists
// (each item with its class name), then DefineProperties' members.
void WriteObject(IWriter& AWriter, const TPersistent& AObject, const TWriteContext* AContext = nullptr);
// Reads members written by WriteObject from the current object of AReader
// into AObject; members it does not find keep their values. Collections are
// replaced by the items read (their classes by name). References are
// recorded in AContext (without one they are looked up among nothing and
// stay empty).
void ReadObject(IReader& AReader, TPersistent& AObject, TReadContext* AContext = nullptr);
// Whether WriteObject would write anything for AObject.
bool HasStoredMembers(const TPersistent& AObject);
// Clears every published reference to ARemoved held by AObject, its
// sub-objects and collection items (a component being freed).
void ClearReferencesTo(TPersistent& AObject, const TPersistent* ARemoved);

}  // namespace nx
