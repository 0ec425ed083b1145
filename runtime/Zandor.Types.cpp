// Zandor.Types: locks, property objects, collections and their streaming.
#include "runtime/Zandor.Types.h"

#include <algorithm>
#include <cmath>

#include "runtime/Zandor.Components.h"
#include "runtime/Zandor.Serialization.h"

namespace nx {

NX_PERSISTENT_IMPL(TEnabledPersistent)
NX_PERSISTENT_IMPL(TDisabledPersistent)
NX_PERSISTENT_IMPL(TLockCollectionItem)
NX_PERSISTENT_IMPL(TLockCollection)

NX_PERSISTENT_IMPL(TManagedPersistent)
NX_PERSISTENT_IMPL(TLockPersistent)

// ---- Paired lock

TPairedLock::TPairedLock(TIntfPtr<IChangeNotifyLock> AInput, TIntfPtr<IChangeNotifyLock> AOutput)
    : FInput(std::move(AInput)), FOutput(std::move(AOutput)) {
  if (!FInput || !FOutput) throw EArgumentException("A paired lock needs both locks");
}

void TPairedLock::BeginWrite() {
  FInput->BeginWrite();
  FOutput->BeginWrite();
}

void TPairedLock::EndWrite() {
  FOutput->EndWrite();
  FInput->EndWrite();
}

bool TPairedLock::TryBeginWrite() {
  if (!FInput->TryBeginWrite()) return false;
  if (FOutput->TryBeginWrite()) return true;
  FInput->EndWrite();
  return false;
}

TLockDepth TPairedLock::ReleaseAll() {
  const TLockDepth out = FOutput->ReleaseAll();
  const TLockDepth in = FInput->ReleaseAll();
  return (in << 32) | (out & 0xFFFFFFFFu);
}

void TPairedLock::Reacquire(TLockDepth ADepth) {
  FInput->Reacquire(ADepth >> 32);
  FOutput->Reacquire(ADepth & 0xFFFFFFFFu);
}

bool TPairedLock::HeldByCurrentThread() { return FInput->HeldByCurrentThread() && FOutput->HeldByCurrentThread(); }

// ---- Persistent

const TClassInfo& TPersistent::StaticClassInfo() {
  static const TClassInfo* info = new TClassInfo(TClassInfo::TTag<TPersistent>{}, "TPersistent");
  return *info;
}

std::string TPersistent::GetNamePath() const { return ClassName(); }

TPersistent* TPersistent::FindReference(std::string_view AName) const {
  return GetOwner() ? GetOwner()->FindReference(AName) : nullptr;
}

bool TPersistent::IntQueryInterface(const TGUID& iid, void** obj) noexcept {
  return QueryInterfaces<IInterface>(this, iid, obj);
}

void TPersistent::Changed() {
  if (FInitializing) return;
  if (TPersistent* owner = GetOwner()) owner->OwnedChanged(this);
}

void TPersistent::ReferenceChanged(TPersistent* AValue) {
  if (!AValue) return;
  TPersistent* holder = this;
  while (holder && !holder->GetClassInfo().IsComponent()) holder = holder->GetOwner();
  if (holder && holder != AValue) static_cast<TComponent*>(holder)->FreeNotification(static_cast<TComponent*>(AValue));
}

void TPersistent::Assign(const TPersistent& ASource) {
  if (&ASource == this) return;
  const TClassInfo& mine = GetClassInfo();
  if (!ASource.InheritsFrom(mine))
    throw EConvertError(Format("Cannot assign a %s to a %s", ASource.ClassName().c_str(), mine.Name().c_str()));
  for (const TPropInfo* p : mine.Properties()) {
    switch (p->Kind) {
      case TPropKind::Object:
      case TPropKind::Collection: {
        TPersistent* dst = p->GetObjFn(*this);
        const TPersistent* src = p->GetObjFn(ASource);
        if (dst && src) dst->Assign(*src);
        break;
      }
      case TPropKind::ComponentRef:
        if (p->SetRefFn) p->SetRefFn(*p, *this, p->GetObjFn(ASource));
        break;
      default:  // values; events have no SetFn: a copy is not wired to the source's handlers
        if (p->SetFn) {
          TVariant v;
          p->GetFn(ASource, v);
          p->SetFn(*p, *this, v);
        }
    }
  }
}

// ---- Managed persistents

TManagedPersistent::TManagedPersistent(TPersistent* AOwner)
    : FOwner(AOwner),
      FLock(AOwner && AOwner->GetLock() ? TIntfPtr<IChangeNotifyLock>(AOwner->GetLock()) : TChangeNotifyLock::Make()) {}

std::string TManagedPersistent::GetNamePath() const {
  if (!FOwner) return ClassName();
  // The owner's published property that holds this object names it.
  for (const TPropInfo* p : FOwner->GetClassInfo().Properties())
    if ((p->Kind == TPropKind::Object || p->Kind == TPropKind::Collection) && p->GetObjFn(*FOwner) == this)
      return FOwner->GetNamePath() + "." + p->Name;
  return ClassName();
}

void TEnabledPersistent::DeclareProperties(TClassBuilder<TEnabledPersistent>& P) {
  P.Prop<&TEnabledPersistent::FEnabled>("Enabled", true);
}

// ---- Collections

TLockCollectionItem::TLockCollectionItem(TPersistent* ACollection) : TManagedPersistent(ACollection) {}

TLockCollectionItem::~TLockCollectionItem() {
  if (FCollection) FCollection->DetachItem(this);
}

std::int32_t TLockCollectionItem::Index() const { return FCollection ? FCollection->IndexOf(this) : -1; }

void TLockCollectionItem::SetIndex(std::int32_t AIndex) {
  if (FCollection) FCollection->Move(Index(), AIndex);
}

std::string TLockCollectionItem::GetNamePath() const {
  if (!FCollection) return ClassName();
  return FCollection->GetNamePath() + "[" + std::to_string(Index()) + "]";
}

TLockCollection::TLockCollection(TPersistent* AOwner, const TClassInfo& AItemClass)
    : TLockPersistent(AOwner), FItemClass(&AItemClass) {
  if (!AItemClass.InheritsFrom(TLockCollectionItem::StaticClassInfo()))
    throw EArgumentException(Format("Class %s is not a collection item class", AItemClass.Name().c_str()));
}

TLockCollection::~TLockCollection() {
  for (TLockCollectionItem* item : FItems) {
    item->FCollection = nullptr;
    delete item;
  }
}

std::int32_t TLockCollection::Count() const {
  TReadLock guard(GetLock());
  return static_cast<std::int32_t>(FItems.size());
}

void TLockCollection::CheckIndex(std::int32_t AIndex) const {
  if (AIndex < 0 || static_cast<std::size_t>(AIndex) >= FItems.size()) RaiseIndexOutOfRange(AIndex);
}

TLockCollectionItem* TLockCollection::Items(std::int32_t AIndex) const {
  TReadLock guard(GetLock());
  CheckIndex(AIndex);
  return FItems[static_cast<std::size_t>(AIndex)];
}

TLockCollectionItem* TLockCollection::Add() { return Insert(-1, *FItemClass); }
TLockCollectionItem* TLockCollection::Add(const TClassInfo& AClass) { return Insert(-1, AClass); }

TLockCollectionItem* TLockCollection::Insert(std::int32_t AIndex, const TClassInfo& AClass) {
  if (!AClass.InheritsFrom(*FItemClass))
    throw EArgumentException(Format("Class %s is not a %s", AClass.Name().c_str(), FItemClass->Name().c_str()));
  TPersistent* made = AClass.Create(this);
  auto* item = static_cast<TLockCollectionItem*>(made);
  TWriteLock guard(GetLock());
  if (AIndex < 0 || static_cast<std::size_t>(AIndex) > FItems.size()) AIndex = static_cast<std::int32_t>(FItems.size());
  InsertItem(AIndex, item);
  NewItemCreated(item);
  Changed();
  return item;
}

void TLockCollection::InsertItem(std::int32_t AIndex, TLockCollectionItem* AItem) {
  FItems.insert(FItems.begin() + AIndex, AItem);
  AItem->FCollection = this;
}

void TLockCollection::DetachItem(TLockCollectionItem* AItem) {
  TWriteLock guard(GetLock());
  auto it = std::find(FItems.begin(), FItems.end(), AItem);
  if (it == FItems.end()) return;
  FItems.erase(it);
  AItem->FCollection = nullptr;
  Changed();
}

void TLockCollection::Delete(std::int32_t AIndex) {
  TWriteLock guard(GetLock());
  CheckIndex(AIndex);
  delete FItems[static_cast<std::size_t>(AIndex)];  // the item detaches itself and notifies
}

void TLockCollection::Clear() {
  TWriteLock guard(GetLock());
  if (FItems.empty()) return;
  std::vector<TLockCollectionItem*> items;
  items.swap(FItems);
  for (TLockCollectionItem* item : items) {
    item->FCollection = nullptr;
    delete item;
  }
  Changed();
}

void TLockCollection::Exchange(std::int32_t AIndex1, std::int32_t AIndex2) {
  TWriteLock guard(GetLock());
  CheckIndex(AIndex1);
  CheckIndex(AIndex2);
  if (AIndex1 == AIndex2) return;
  std::swap(FItems[static_cast<std::size_t>(AIndex1)], FItems[static_cast<std::size_t>(AIndex2)]);
  Changed();
}

void TLockCollection::Move(std::int32_t AFrom, std::int32_t ATo) {
  TWriteLock guard(GetLock());
  CheckIndex(AFrom);
  CheckIndex(ATo);
  if (AFrom == ATo) return;
  TLockCollectionItem* item = FItems[static_cast<std::size_t>(AFrom)];
  FItems.erase(FItems.begin() + AFrom);
  FItems.insert(FItems.begin() + ATo, item);
  Changed();
}

std::int32_t TLockCollection::IndexOf(const TLockCollectionItem* AItem) const {
  TReadLock guard(GetLock());
  auto it = std::find(FItems.begin(), FItems.end(), AItem);
  return it == FItems.end() ? -1 : static_cast<std::int32_t>(it - FItems.begin());
}

void TLockCollection::Assign(const TPersistent& ASource) {
  if (&ASource == this) return;
  const auto* src = dynamic_cast<const TLockCollection*>(&ASource);
  if (!src) throw EConvertError(Format("Cannot assign a %s to a %s", ASource.ClassName().c_str(), ClassName().c_str()));
  TWriteLock guard(GetLock());
  Clear();
  for (std::int32_t i = 0; i < src->Count(); ++i) {
    const TLockCollectionItem* from = src->Items(i);
    Add(from->GetClassInfo())->Assign(*from);
  }
}

// ---- Streaming

namespace {

// Counts what would be written (HasStoredMembers).
class TCountingWriter final : public IWriter {
 public:
  std::uint64_t Count = 0;
  void WriteBoolean(std::string_view, bool) override { ++Count; }
  void WriteInt32(std::string_view, std::int32_t) override { ++Count; }
  void WriteUInt32(std::string_view, std::uint32_t) override { ++Count; }
  void WriteInt64(std::string_view, std::int64_t) override { ++Count; }
  void WriteUInt64(std::string_view, std::uint64_t) override { ++Count; }
  void WriteDouble(std::string_view, double) override { ++Count; }
  void WriteString(std::string_view, std::string_view) override { ++Count; }
  void WriteBytes(std::string_view, const void*, std::uint64_t) override { ++Count; }
  void BeginObject(std::string_view, std::string_view) override { ++Count; }
  void EndObject() override {}
  void BeginList(std::string_view) override { ++Count; }
  void BeginItem(std::string_view) override {}
  void EndItem() override {}
  void EndList() override {}
};

[[noreturn]] void RaiseRead(const TPropInfo& AProp, const std::string& AWhat) {
  throw ESerializationError(Format("Property %s: %s", AProp.Name.c_str(), AWhat.c_str()));
}

}  // namespace

std::string TWriteContext::ReferenceName(const TPersistent& AReferenced) const { return AReferenced.GetNamePath(); }

std::vector<std::string> TReadContext::ResolveFixups(const std::function<TPersistent*(std::string_view)>& AFind) {
  std::vector<std::string> missing;
  std::vector<TFixup> fixups;
  fixups.swap(FFixups);
  for (const TFixup& f : fixups) {
    TPersistent* ref = AFind(f.Name);
    if (ref && ref->InheritsFrom(f.Property->ObjClass()) && f.Property->SetRefFn)
      f.Property->SetRefFn(*f.Property, *f.Object, ref);
    else
      missing.push_back(f.Name);
  }
  return missing;
}

bool HasStoredMembers(const TPersistent& AObject) {
  TCountingWriter counter;
  WriteObject(counter, AObject, nullptr);
  return counter.Count > 0;
}

void WriteObject(IWriter& AWriter, const TPersistent& AObject, const TWriteContext* AContext) {
  TReadLock guard(AObject.GetLock());
  for (const TPropInfo* p : AObject.GetClassInfo().Properties()) {
    const std::string& key = p->Name;
    if (p->Kind == TPropKind::Object || p->Kind == TPropKind::Collection) {
      if (p->StoredFn && !p->StoredFn(AObject)) continue;
      const TPersistent* sub = p->GetObjFn(AObject);
      if (!sub) continue;
      if (p->Kind == TPropKind::Collection) {
        const auto& coll = static_cast<const TLockCollection&>(*sub);
        if (coll.Count() == 0) continue;
        AWriter.BeginList(key);
        for (std::int32_t i = 0; i < coll.Count(); ++i) {
          const TLockCollectionItem* item = coll.Items(i);
          AWriter.BeginItem(item->ClassName());
          WriteObject(AWriter, *item, AContext);
          AWriter.EndItem();
        }
        AWriter.EndList();
      } else if (HasStoredMembers(*sub)) {
        AWriter.BeginObject(key, sub->ClassName());
        WriteObject(AWriter, *sub, AContext);
        AWriter.EndObject();
      }
      continue;
    }
    if (p->Kind == TPropKind::Event) continue;  // handlers are not streamed
    if (p->Kind != TPropKind::ComponentRef && !p->SetFn) continue;  // read-only values are not streamed
    if (!p->IsStored(AObject)) continue;
    if (p->Kind == TPropKind::ComponentRef) {
      const TPersistent* ref = p->GetObjFn(AObject);
      AWriter.WriteString(key, ref ? (AContext ? AContext->ReferenceName(*ref) : ref->GetNamePath()) : std::string());
      continue;
    }
    TVariant v;
    p->GetFn(AObject, v);
    switch (p->Kind) {
      case TPropKind::Bool: AWriter.WriteBoolean(key, v.AsBool()); break;
      case TPropKind::Int32: AWriter.WriteInt32(key, static_cast<std::int32_t>(v.AsInt64())); break;
      case TPropKind::UInt32: AWriter.WriteUInt32(key, static_cast<std::uint32_t>(v.AsUInt64())); break;
      case TPropKind::Int64: AWriter.WriteInt64(key, v.AsInt64()); break;
      case TPropKind::Float:
      case TPropKind::Double: AWriter.WriteDouble(key, v.AsDouble()); break;
      case TPropKind::String: AWriter.WriteString(key, v.StrView()); break;
      case TPropKind::Enum: AWriter.WriteString(key, p->Enum->NameOf(static_cast<std::int32_t>(v.AsInt64()))); break;
      case TPropKind::Set: AWriter.WriteString(key, p->ValueToText(v)); break;
      default: break;
    }
  }
  TFiler filer(nullptr, &AWriter);
  const_cast<TPersistent&>(AObject).DefineProperties(filer);
}

void ReadObject(IReader& AReader, TPersistent& AObject, TReadContext* AContext) {
  for (const TPropInfo* p : AObject.GetClassInfo().Properties()) {
    const std::string& key = p->Name;
    switch (p->Kind) {
      case TPropKind::Object: {
        TPersistent* sub = p->GetObjFn(AObject);
        std::string cls;
        if (sub && AReader.BeginObject(key, cls)) {
          ReadObject(AReader, *sub, AContext);
          AReader.EndObject();
        }
        continue;
      }
      case TPropKind::Collection: {
        auto* coll = static_cast<TLockCollection*>(p->GetObjFn(AObject));
        std::uint32_t count = 0;
        if (!coll || !AReader.BeginList(key, count)) continue;
        coll->Clear();
        for (std::uint32_t i = 0; i < count; ++i) {
          std::string cls;
          AReader.BeginItem(cls);
          const TClassInfo* c = FindClassInfo(cls);
          if (!c && cls == coll->ItemClass().Name()) c = &coll->ItemClass();
          if (!c || !c->InheritsFrom(coll->ItemClass()))
            RaiseRead(*p, Format("item class %s is not a registered %s", cls.c_str(), coll->ItemClass().Name().c_str()));
          ReadObject(AReader, *coll->Add(*c), AContext);
          AReader.EndItem();
        }
        AReader.EndList();
        continue;
      }
      case TPropKind::ComponentRef: {
        std::string name;
        if (!AReader.ReadString(key, name)) continue;
        if (name.empty()) {
          if (p->SetRefFn) p->SetRefFn(*p, AObject, nullptr);
        } else if (AContext) {
          AContext->AddFixup(AObject, *p, std::move(name));
        } else if (p->SetRefFn) {
          TPersistent* ref = AObject.FindReference(name);
          if (ref && ref->InheritsFrom(p->ObjClass())) p->SetRefFn(*p, AObject, ref);
        }
        continue;
      }
      default: break;
    }
    if (!p->SetFn) continue;
    TVariant v;
    bool found = false;
    switch (p->Kind) {
      case TPropKind::Bool: {
        bool b = false;
        if ((found = AReader.ReadBoolean(key, b))) v = TVariant(b);
        break;
      }
      case TPropKind::Int32: {
        std::int32_t i = 0;
        if ((found = AReader.ReadInt32(key, i))) v = TVariant(i);
        break;
      }
      case TPropKind::UInt32: {
        std::uint32_t u = 0;
        if ((found = AReader.ReadUInt32(key, u))) v = TVariant(u);
        break;
      }
      case TPropKind::Int64: {
        std::int64_t i = 0;
        if ((found = AReader.ReadInt64(key, i))) v = TVariant(i);
        break;
      }
      case TPropKind::Float:
      case TPropKind::Double: {
        double d = 0;
        if ((found = AReader.ReadDouble(key, d))) {
          // A stored NaN or infinity would run through every sample after it.
          if (!std::isfinite(d) && !p->AllowsNonFinite)
            RaiseRead(*p, std::string(std::isnan(d) ? "nan" : d > 0 ? "inf" : "-inf") + " is not a finite number");
          v = p->Kind == TPropKind::Float ? TVariant(static_cast<float>(d)) : TVariant(d);
        }
        break;
      }
      case TPropKind::String: {
        std::string s;
        if ((found = AReader.ReadString(key, s))) v = TVariant(s);
        break;
      }
      case TPropKind::Enum: {
        std::string s;
        if ((found = AReader.ReadString(key, s))) {
          const std::int32_t i = p->Enum->IndexOf(s);
          if (i < 0) RaiseRead(*p, Format("%s is not a value of %s", s.c_str(), p->TypeName().c_str()));
          v = TVariant(i);
        }
        break;
      }
      case TPropKind::Set: {
        std::string s;
        std::uint64_t bits = 0;
        if ((found = AReader.ReadString(key, s))) {
          if (!TextToSet(*p->Enum, s, bits)) RaiseRead(*p, Format("%s is not a %s", s.c_str(), p->TypeName().c_str()));
          v = TVariant(bits);
        }
        break;
      }
      default: break;
    }
    // A stored value above the declared maximum is refused rather than
    // clamped: the maximum bounds what a run can afford, and a document
    // that exceeds it was not written for this class.
    if (found && p->HasMax && (v.IsInteger() || v.IsFloat()) && v.AsDouble() > p->Max.AsDouble())
      RaiseRead(*p, Format("%s is above the maximum %s", p->ValueToText(v).c_str(), p->ValueToText(p->Max).c_str()));
    if (found) p->SetFn(*p, AObject, v);
  }
  TFiler filer(&AReader, nullptr);
  AObject.DefineProperties(filer);
}

void ClearReferencesTo(TPersistent& AObject, const TPersistent* ARemoved) {
  for (const TPropInfo* p : AObject.GetClassInfo().Properties()) {
    if (p->Kind == TPropKind::ComponentRef) {
      if (p->SetRefFn && p->GetObjFn(AObject) == ARemoved) p->SetRefFn(*p, AObject, nullptr);
    } else if (p->Kind == TPropKind::Object && p->OwnsObject) {
      if (TPersistent* sub = p->GetObjFn(AObject)) ClearReferencesTo(*sub, ARemoved);
    } else if (p->Kind == TPropKind::Collection) {
      if (auto* coll = static_cast<TLockCollection*>(p->GetObjFn(AObject)))
        for (std::int32_t i = 0; i < coll->Count(); ++i) ClearReferencesTo(*coll->Items(i), ARemoved);
    }
  }
}

}  // namespace nx
