// Zandor.Components: ownership, names, free notification, tree streaming.
#include "runtime/Zandor.Components.h"

#include <algorithm>

#include "runtime/Zandor.Serialization.h"
#include "runtime/Zandor.Streams.h"

namespace nx {

NX_PERSISTENT_IMPL(TComponent)
NX_PERSISTENT_IMPL(TLockComponent)

namespace {
std::function<void(TComponent*)>& OwnerChangedObserver() {
  static auto* observer = new std::function<void(TComponent*)>();
  return *observer;
}
constexpr std::string_view kChildrenKey = "_Components";
}  // namespace

TComponent::TComponent(TComponent* AOwner) {
  InitProperties(this);
  if (AOwner) AOwner->InsertComponent(this);
}

void TComponent::DeclareProperties(TClassBuilder<TComponent>& P) {
  P.Prop<&TComponent::FName, &TComponent::SetName>("Name");
  P.Prop<&TComponent::FTag, &TComponent::SetTag>("Tag", std::int64_t{0});
}

TComponent::~TComponent() {
  FState |= csDestroying;
  RemoveFreeNotifications();
  DestroyComponents();
  if (FOwner) FOwner->RemoveComponent(this);
}

void TComponent::Free(TComponent* AComponent) { delete AComponent; }

void TComponent::operator delete(TComponent* AComponent, std::destroying_delete_t) {
  // The start of the allocation: the most derived object, which need not
  // begin where its TComponent part does.
  void* block = dynamic_cast<void*>(AComponent);
  if (!AComponent->HasState(csDestroying)) {
    AComponent->BeforeDestruction();
    AComponent->FState |= csDestroying;
    AComponent->RemoveFreeNotifications();
    AComponent->DestroyComponents();
  }
  AComponent->~TComponent();  // virtual: the whole object
  ::operator delete(block);
}

void TComponent::BeforeDestruction() {}

void TComponent::DestroyComponents() {
  // The last inserted goes first; each one leaves the list as it is freed.
  while (!FComponents.empty()) {
    TComponent* c = FComponents.back();
    Free(c);
    if (!FComponents.empty() && FComponents.back() == c) FComponents.pop_back();  // defensive: never loop for ever
  }
}

void TComponent::RemoveFreeNotifications() {
  while (!FFreeNotifies.empty()) {
    TComponent* other = FFreeNotifies.back();
    FFreeNotifies.pop_back();
    std::erase(other->FFreeNotifies, this);
    other->Notification(this, opRemove);
  }
}

TComponent* TComponent::Components(std::int32_t AIndex) const {
  if (AIndex < 0 || static_cast<std::size_t>(AIndex) >= FComponents.size()) RaiseIndexOutOfRange(AIndex);
  return FComponents[static_cast<std::size_t>(AIndex)];
}

std::int32_t TComponent::ComponentIndex() const {
  if (!FOwner) return -1;
  auto it = std::find(FOwner->FComponents.begin(), FOwner->FComponents.end(), this);
  return static_cast<std::int32_t>(it - FOwner->FComponents.begin());
}

void TComponent::SetComponentIndex(std::int32_t AIndex) {
  if (!FOwner) return;
  auto& list = FOwner->FComponents;
  const std::int32_t from = ComponentIndex();
  const std::int32_t count = static_cast<std::int32_t>(list.size());
  if (AIndex < 0) AIndex = 0;
  if (AIndex >= count) AIndex = count - 1;
  if (AIndex == from) return;
  list.erase(list.begin() + from);
  list.insert(list.begin() + AIndex, this);
}

void TComponent::InsertComponent(TComponent* AComponent) {
  if (!AComponent) return;
  if (AComponent == this) throw EComponentError("A component cannot own itself");
  for (const TComponent* o = this; o; o = o->FOwner)
    if (o == AComponent) throw EComponentError("A component cannot own one of its owners");
  ValidateRename(AComponent, std::string_view(), AComponent->FName);
  const bool moved = AComponent->FOwner != nullptr;
  if (moved) AComponent->FOwner->RemoveComponent(AComponent);
  FComponents.push_back(AComponent);
  AComponent->FOwner = this;
  if (HasState(csDesigning)) AComponent->SetDesigning(true);
  NotifyAll(AComponent, opInsert);
  // A component made with its owner is not reported: it is not complete yet.
  if (moved) AComponent->ComponentOwnerChanged();
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  if (!AComponent || AComponent->FOwner != this) return;
  NotifyAll(AComponent, opRemove);
  std::erase(FComponents, AComponent);
  AComponent->FOwner = nullptr;
}

void TComponent::NotifyAll(TComponent* AComponent, TOperation AOperation) {
  // The owner hears it; its Notification passes it on to the owned components.
  Notification(AComponent, AOperation);
}

void TComponent::Notification(TComponent* AComponent, TOperation AOperation) {
  if (AOperation == opRemove && AComponent) {
    RemoveFreeNotification(AComponent);
    if (!HasState(csDestroying)) ClearReferencesTo(*this, AComponent);
  }
  if (HasState(csDestroying)) return;
  // A copy: a handler may free or insert components.
  const std::vector<TComponent*> owned = FComponents;
  // A component still owned is found at its old place unless a handler
  // changed the list; only then is it searched for (a freed one must not be
  // touched). Searching every time made a notice O(n^2) among n siblings.
  for (std::size_t i = 0; i < owned.size(); ++i) {
    TComponent* c = owned[i];
    if (c == AComponent) continue;
    const bool still = (i < FComponents.size() && FComponents[i] == c) ||
                       std::find(FComponents.begin(), FComponents.end(), c) != FComponents.end();
    if (still) c->Notification(AComponent, AOperation);
  }
}

TComponent* TComponent::FindComponent(std::string_view AName) const {
  if (AName.empty()) return nullptr;
  for (TComponent* c : FComponents)
    if (SameNameNoCase(c->FName, AName)) return c;
  return nullptr;
}

bool TComponent::IsValidIdent(std::string_view AName) noexcept {
  if (AName.empty()) return false;
  auto alpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; };
  if (!alpha(AName[0])) return false;
  for (char c : AName)
    if (!alpha(c) && !(c >= '0' && c <= '9')) return false;
  return true;
}

void TComponent::ValidateRename(TComponent* AComponent, std::string_view ACurrent, std::string_view ANew) const {
  if (ANew.empty() || (AComponent && SameNameNoCase(ACurrent, ANew))) return;
  for (const TComponent* c : FComponents)
    if (c != AComponent && SameNameNoCase(c->FName, ANew))
      throw EComponentError(Format("A component named %.*s already exists", static_cast<int>(ANew.size()), ANew.data()));
}

void TComponent::SetName(std::string_view AName) {
  if (FName == AName) return;
  if (!AName.empty() && !IsValidIdent(AName))
    throw EComponentError(Format("'%.*s' is not a valid component name", static_cast<int>(AName.size()), AName.data()));
  if (FOwner) FOwner->ValidateRename(this, FName, AName);
  FName = AName;
  Changed();
}

void TComponent::SetDesigning(bool AValue, bool AChildren) {
  SetState(csDesigning, AValue);
  if (AChildren)
    for (TComponent* c : FComponents) c->SetDesigning(AValue, true);
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (!AComponent || AComponent == this) return;
  if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end())
    FFreeNotifies.push_back(AComponent);
  if (std::find(AComponent->FFreeNotifies.begin(), AComponent->FFreeNotifies.end(), this) ==
      AComponent->FFreeNotifies.end())
    AComponent->FFreeNotifies.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  if (!AComponent) return;
  std::erase(FFreeNotifies, AComponent);
  std::erase(AComponent->FFreeNotifies, this);
}

void TComponent::Loaded() { SetState(csLoading, false); }

void TComponent::ComponentOwnerChanged() {
  if (const auto& observer = OwnerChangedObserver()) observer(this);
}

void TComponent::SetOwnerChangedObserver(std::function<void(TComponent*)> AObserver) {
  OwnerChangedObserver() = std::move(AObserver);
}

std::string TComponent::GetNamePath() const { return FName.empty() ? ClassName() : FName; }

void TComponent::OwnedChanged(TPersistent* ASource) {
  if (OnChanged && !Initializing()) OnChanged(this, ASource);
}

void TComponent::GetChildren(const std::function<void(TComponent*)>& AProc, TComponent* ARoot) const {
  for (TComponent* c : FComponents)
    if (c->StoredWithOwner() &&
        (!c->HasParent() || c->GetParentComponent() == nullptr || c->GetParentComponent() == this))
      AProc(c);
}

TPersistent* TComponent::FindReference(std::string_view AName) const {
  // Search the document this component lies in: from its root down.
  const TComponent* root = this;
  while (root->FOwner) root = root->FOwner;
  TComponent* found = nullptr;
  // A dotted path from the root, or a plain name anywhere below the root.
  const TComponent* at = root;
  std::string_view rest = AName;
  while (at) {
    const std::size_t dot = rest.find('.');
    TComponent* next = at->FindComponent(rest.substr(0, dot));
    if (dot == std::string_view::npos) {
      found = next;
      break;
    }
    at = next;
    rest = rest.substr(dot + 1);
  }
  if (found) return found;
  if (SameNameNoCase(root->FName, AName)) return const_cast<TComponent*>(root);
  std::vector<const TComponent*> stack{root};
  while (!stack.empty()) {
    const TComponent* c = stack.back();
    stack.pop_back();
    if (TComponent* f = c->FindComponent(AName)) return f;
    for (const TComponent* child : c->FComponents) stack.push_back(child);
  }
  return nullptr;
}

void TComponent::WriteState(IWriter& AWriter, TComponentWriter& AContext) const {
  WriteObject(AWriter, *this, &AContext);
  std::vector<TComponent*> children;
  GetChildren([&](TComponent* c) { children.push_back(c); }, const_cast<TComponent*>(&AContext.Root()));
  if (children.empty()) return;
  AWriter.BeginList(kChildrenKey);
  for (TComponent* c : children) {
    AWriter.BeginItem(c->ClassName());
    c->WriteState(AWriter, AContext);
    AWriter.EndItem();
  }
  AWriter.EndList();
}

void TComponent::ReadState(IReader& AReader, TComponentReader& AContext) {
  ReadObject(AReader, *this, &AContext);
  std::uint32_t count = 0;
  if (!AReader.BeginList(kChildrenKey, count)) return;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::string cls;
    AReader.BeginItem(cls);
    const TClassInfo& info = nx::GetClassInfo(cls);
    if (!info.IsComponent()) throw ESerializationError(Format("Class %s is not a component class", cls.c_str()));
    auto* child = static_cast<TComponent*>(info.Create(GetChildOwner()));
    child->FState |= csLoading | csReading;
    AContext.AddLoaded(child);
    if (child->HasParent()) child->SetParentComponent(GetChildParent());
    child->ReadState(AReader, AContext);
    AReader.EndItem();
  }
  AReader.EndList();
}

// ---- Tree streaming

std::string TComponentWriter::ReferenceName(const TPersistent& AReferenced) const {
  const auto* c = dynamic_cast<const TComponent*>(&AReferenced);
  if (!c) return AReferenced.GetNamePath();
  if (c == &FRoot) return c->Name();
  std::string path = c->Name();
  for (const TComponent* o = c->Owner(); o; o = o->Owner()) {
    if (o == &FRoot) return path;
    path = o->Name() + "." + path;
  }
  return c->Name();  // outside the tree written: its own name
}

void TComponentReader::AddLoaded(TComponent* AComponent) { FLoaded.push_back(AComponent); }

TComponent* TComponentReader::FindByPath(std::string_view APath) const {
  if (SameNameNoCase(APath, FRoot.Name())) return &FRoot;
  return static_cast<TComponent*>(FRoot.FindReference(APath));
}

std::vector<std::string> TComponentReader::Finish() {
  std::vector<std::string> missing =
      ResolveFixups([this](std::string_view name) -> TPersistent* { return FindByPath(name); });
  for (TComponent* c : FLoaded) c->SetState(csReading, false);
  for (TComponent* c : FLoaded) c->Loaded();
  return missing;
}

void WriteComponent(IWriter& AWriter, const TComponent& AComponent) {
  TComponentWriter context(AComponent);
  auto& c = const_cast<TComponent&>(AComponent);
  c.SetState(csWriting, true);
  try {
    AComponent.WriteState(AWriter, context);
  } catch (...) {
    c.SetState(csWriting, false);
    throw;
  }
  c.SetState(csWriting, false);
}

std::vector<std::string> ReadComponentInto(IReader& AReader, TComponent& ARoot) {
  TComponentReader context(ARoot);
  ARoot.FState |= csLoading | csReading;
  context.AddLoaded(&ARoot);
  ARoot.ReadState(AReader, context);
  return context.Finish();
}

TComponent* ReadComponent(IReader& AReader, std::string_view AClassName, TComponent* AOwner) {
  const TClassInfo& info = nx::GetClassInfo(AClassName);
  if (!info.IsComponent())
    throw ESerializationError(Format("Class %.*s is not a component class", static_cast<int>(AClassName.size()),
                                     AClassName.data()));
  auto* root = static_cast<TComponent*>(info.Create(AOwner));
  try {
    ReadComponentInto(AReader, *root);
  } catch (...) {
    TComponent::Free(root);
    throw;
  }
  return root;
}

void SaveComponentToStream(TStream& AStream, const TComponent& AComponent) {
  TBinaryWriter writer(AStream, AComponent.ClassName());
  WriteComponent(writer, AComponent);
  writer.Finish();
}

TComponent* LoadComponentFromStream(TStream& AStream, TComponent* AOwner) {
  TBinaryReader reader(AStream);
  TComponent* root = ReadComponent(reader, reader.RootClassName(), AOwner);
  reader.Finish();
  return root;
}

}  // namespace nx
