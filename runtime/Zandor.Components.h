// Zandor.Components: components, the persistents that sit in a document (a
// graph) with a name: an owner that frees them, owned components, a Name
// unique among its siblings, a Tag, a state (loading, designing,
// destroying), free notification, and the streaming of a whole tree of
// components with references resolved by name after everything is read.
//
// Lifetime: a component belongs to its owner, which frees its owned
// components (the last inserted first) when it is freed itself. Free a
// component with Free() (or TComponent::Free(c)) or with `delete` (a
// unique_ptr does that): either runs BeforeDestruction and frees the owned
// components while the whole object still exists, before any destructor.
// So a base that runs threads (a filter's worker, a generator's clock) stops
// them in its BeforeDestruction, and a derived class needs no destructor of
// its own for that. Only a component that is not made with `new` (a local
// or member object) reaches its destructors directly: its owner of record
// must stop its streams first.
//
// Streaming a tree (the graph-document layer drives the same calls with its
// own IWriter / IReader):
//   TBinaryWriter w(stream, root->ClassName());  WriteComponent(w, *root);  w.Finish();
//   TBinaryReader r(stream);
//   TComponent* root = ReadComponent(r, r.RootClassName(), owner);  // created by class name
// Members of a component: its published properties ("Name", "Tag", ...),
// extra members (DefineProperties), and the list "_Components" of its
// children (GetChildren: by default the components it owns), each item with
// its class name. Reading makes each child with GetChildOwner() as owner,
// calls SetParentComponent(GetChildParent()) when it HasParent, reads the
// child's members in the loading state, then resolves component references
// by name (a dotted path from the root, "Child.Grandchild") and at last calls
// Loaded on every component read, the root first.
#pragma once

#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/SysUtils.h"
#include "runtime/Zandor.Function.h"
#include "runtime/Zandor.Types.h"

namespace nx {

// An invalid or duplicate component name, or another misuse of a component.
NX_DECLARE_EXCEPTION(EComponentError, Exception, "Component error")

enum TOperation { opInsert, opRemove };

// Component state flags (a set kept in one word).
enum TComponentStateFlag : std::uint32_t {
  csLoading = 1u << 0,
  csReading = 1u << 1,
  csWriting = 1u << 2,
  csDestroying = 1u << 3,
  csDesigning = 1u << 4,
  csUpdating = 1u << 5,
};
using TComponentState = std::uint32_t;

class TComponent : public TPersistent {
  NX_PERSISTENT_DECL(TComponent, TPersistent)
 public:
  static constexpr bool kNXIsComponent = true;
  using TOwnerType = TComponent;

  explicit TComponent(TComponent* AOwner);
  ~TComponent() override;
  // Frees the component: BeforeDestruction, the owned components (last
  // first), then the object. Null does nothing.
  static void Free(TComponent* AComponent);
  void Free() { Free(this); }
  // `delete` of any component runs the steps of Free before the destructors
  // (a destroying delete). The plain form serves a constructor that throws
  // inside a new-expression.
  void operator delete(TComponent* AComponent, std::destroying_delete_t);
  void operator delete(void* ABlock) noexcept { ::operator delete(ABlock); }

  static void DeclareProperties(TClassBuilder<TComponent>& P);

  TComponent* Owner() const noexcept { return FOwner; }
  TPersistent* GetOwner() const override { return FOwner; }
  std::int32_t ComponentCount() const noexcept { return static_cast<std::int32_t>(FComponents.size()); }
  // ERangeError "Index out of range = %u" outside 0..ComponentCount-1.
  TComponent* Components(std::int32_t AIndex) const;
  // The place of this component among its owner's (-1 without an owner).
  std::int32_t ComponentIndex() const;
  void SetComponentIndex(std::int32_t AIndex);
  // Moves AComponent from its owner (if any) to this one.
  void InsertComponent(TComponent* AComponent);
  void RemoveComponent(TComponent* AComponent);
  // The owned component of that name (ASCII case ignored); null when none.
  TComponent* FindComponent(std::string_view AName) const;

  const std::string& Name() const noexcept { return FName; }
  // A valid identifier (or empty) and unique among the owner's components;
  // EComponentError otherwise ("A component named X already exists",
  // "'1x' is not a valid component name").
  virtual void SetName(std::string_view AName);
  std::int64_t Tag() const noexcept { return FTag; }
  void SetTag(std::int64_t ATag) { SetNotify(FTag, ATag); }

  TComponentState ComponentState() const noexcept { return FState; }
  bool HasState(TComponentStateFlag AFlag) const noexcept { return (FState & AFlag) != 0; }
  // Sets or clears csDesigning here and in every owned component.
  void SetDesigning(bool AValue, bool AChildren = true);

  // AComponent will hear Notification(this, opRemove) when this component is
  // freed (and this one when AComponent is freed).
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);
  // A component was inserted into or removed from this component's owner
  // tree, or one it asked to be told about is being freed. The default
  // clears this component's published references to a removed component and
  // passes the notice on to the owned components.
  virtual void Notification(TComponent* AComponent, TOperation AOperation);
  // Called once a whole document was read (references resolved); clears csLoading.
  virtual void Loaded();
  // Runs before the component is freed, while the whole object exists.
  virtual void BeforeDestruction();
  // Called when the component moved to another owner (InsertComponent) or a
  // descendant changed its parent; tells the observer
  // installed with SetOwnerChangedObserver (a designer refreshing its tree).
  virtual void ComponentOwnerChanged();
  static void SetOwnerChangedObserver(std::function<void(TComponent*)> AObserver);

  // The parent for streaming (a component that lists it among its children).
  virtual TComponent* GetParentComponent() const { return nullptr; }
  virtual void SetParentComponent(TComponent* AParent) {}
  virtual bool HasParent() const { return false; }
  // False for a component made at run time for its owner (an executor), which
  // the owner's GetChildren passes over: it is not written with the document.
  virtual bool StoredWithOwner() const { return true; }
  // The children written with this component: by default the owned ones
  // (in order) that have no parent of their own.
  virtual void GetChildren(const std::function<void(TComponent*)>& AProc, TComponent* ARoot) const;
  // The owner of children read for this component, and the parent they get.
  virtual TComponent* GetChildOwner() { return this; }
  virtual TComponent* GetChildParent() { return this; }
  // Reads this component's members (properties, extra members, children).
  virtual void ReadState(IReader& AReader, class TComponentReader& AContext);
  virtual void WriteState(IWriter& AWriter, class TComponentWriter& AContext) const;

  // A component's change (or one of its property objects') reaches the
  // installed handler (a host or an editor that watches it).
  void OwnedChanged(TPersistent* ASource) override;
  void Changed() override { OwnedChanged(this); }
  std::function<void(TComponent*, TPersistent*)> OnChanged;

  std::string GetNamePath() const override;
  // A dotted path from the root of this component's tree ("Child.Grandchild"),
  // else the first component of that name anywhere in the tree.
  TPersistent* FindReference(std::string_view AName) const override;

  // True for a valid component name: a letter or '_' then letters, digits, '_'.
  static bool IsValidIdent(std::string_view AName) noexcept;

 protected:
  void SetState(TComponentStateFlag AFlag, bool AOn) {
    if (AOn) FState |= AFlag;
    else FState &= ~static_cast<TComponentState>(AFlag);
  }
  // Checks a new name for AComponent among this component's children.
  virtual void ValidateRename(TComponent* AComponent, std::string_view ACurrent, std::string_view ANew) const;

 private:
  friend class TComponentReader;
  friend void WriteComponent(IWriter& AWriter, const TComponent& AComponent);
  friend std::vector<std::string> ReadComponentInto(IReader& AReader, TComponent& ARoot);
  void DestroyComponents();
  void RemoveFreeNotifications();
  void NotifyAll(TComponent* AComponent, TOperation AOperation);

  TComponent* FOwner = nullptr;
  std::vector<TComponent*> FComponents;
  std::vector<TComponent*> FFreeNotifies;
  std::string FName;
  std::int64_t FTag;
  TComponentState FState = 0;
};

// A component with its own change-notify lock, shared by its property
// objects (made before them, so that they take it).
class TLockComponent : public TComponent {
  NX_PERSISTENT_DECL(TLockComponent, TComponent)
 public:
  explicit TLockComponent(TComponent* AOwner) : TComponent(AOwner), FLock(TChangeNotifyLock::Make()) {}
  IChangeNotifyLock* GetLock() const override { return FLock.Get(); }
  const TIntfPtr<IChangeNotifyLock>& Lock() const noexcept { return FLock; }
  void BeginRead() const { FLock->BeginRead(); }
  void EndRead() const { FLock->EndRead(); }
  void BeginWrite() const { FLock->BeginWrite(); }
  void EndWrite() const { FLock->EndWrite(); }

 protected:
  // Replaces the component's lock (a paired lock of an input/output
  // component); only before property objects that share it are made.
  void ReplaceLock(TIntfPtr<IChangeNotifyLock> ALock) { FLock = std::move(ALock); }

 private:
  TIntfPtr<IChangeNotifyLock> FLock;
};

// ---- Streaming a tree of components.

class TComponentWriter final : public TWriteContext {
 public:
  explicit TComponentWriter(const TComponent& ARoot) : FRoot(ARoot) {}
  const TComponent& Root() const noexcept { return FRoot; }
  // The name of a referenced component: a dotted path from the root when it
  // lies in the root's tree, else its own name.
  std::string ReferenceName(const TPersistent& AReferenced) const override;

 private:
  const TComponent& FRoot;
};

class TComponentReader final : public TReadContext {
 public:
  explicit TComponentReader(TComponent& ARoot) : FRoot(ARoot) {}
  TComponent& Root() const noexcept { return FRoot; }
  // Every component read so far, the root first.
  const std::vector<TComponent*>& Components() const noexcept { return FLoaded; }
  void AddLoaded(TComponent* AComponent);
  // The component of a dotted path from the root; null when there is none.
  TComponent* FindByPath(std::string_view APath) const;
  // Resolves references, clears csReading and calls Loaded on every
  // component read. Returns the names that found nothing.
  std::vector<std::string> Finish();

 private:
  TComponent& FRoot;
  std::vector<TComponent*> FLoaded;
};

// Writes AComponent's members into the current object of AWriter.
void WriteComponent(IWriter& AWriter, const TComponent& AComponent);
// Reads members into an existing root (ReadState, references, Loaded).
// Returns the reference names that found nothing.
std::vector<std::string> ReadComponentInto(IReader& AReader, TComponent& ARoot);
// Makes a component of the registered class AClassName owned by AOwner and
// reads it; freed again if reading fails.
TComponent* ReadComponent(IReader& AReader, std::string_view AClassName, TComponent* AOwner);

// The binary form of Zandor.Serialization in a stream.
void SaveComponentToStream(TStream& AStream, const TComponent& AComponent);
TComponent* LoadComponentFromStream(TStream& AStream, TComponent* AOwner);

}  // namespace nx
