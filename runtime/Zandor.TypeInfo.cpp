// Zandor.TypeInfo: property tables, value conversions, the class registry.
#include "runtime/Zandor.TypeInfo.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <mutex>
#include <unordered_map>

#include "runtime/Zandor.Serialization.h"
#include "runtime/Zandor.Types.h"

namespace nx {

namespace {

char FoldAscii(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

std::string Quoted(std::string_view s) { return "\"" + std::string(s) + "\""; }

[[noreturn]] void RaiseConvert(const TPropInfo& AProp, std::string_view AShown) {
  throw EPropertyConvertError(Format("Invalid value %s for property %s of type %s", std::string(AShown).c_str(),
                                     AProp.Name.c_str(), AProp.TypeName().c_str()));
}

template <class I>
bool ParseInt(std::string_view AText, I& AValue) {
  const char* first = AText.data();
  const char* last = first + AText.size();
  if (first != last && *first == '+') ++first;  // "+5" is five; from_chars alone refuses the sign
  auto [ptr, ec] = std::from_chars(first, last, AValue);
  return ec == std::errc() && ptr == last && first != last;
}

template <class F>
bool ParseFloat(std::string_view AText, F& AValue) {
  const char* first = AText.data();
  const char* last = first + AText.size();
  if (first != last && *first == '+') ++first;
  auto [ptr, ec] = std::from_chars(first, last, AValue, std::chars_format::general);
  return ec == std::errc() && ptr == last && first != last;
}

template <class F>
std::string FloatText(F AValue) {
  char buf[64];
  auto [ptr, ec] = std::to_chars(buf, buf + sizeof buf, AValue);
  return ec == std::errc() ? std::string(buf, ptr) : std::string("?");
}

struct TRegistry {
  std::mutex Lock;
  std::vector<const TClassInfo*> Order;
  std::unordered_map<std::string, const TClassInfo*> ByName;
  std::vector<std::pair<const TClassInfo*, std::vector<const TClassInfo*>>> ItemClasses;
};
// Never freed: classes may be unregistered by finalization sections that run
// after static destructors.
TRegistry& Registry() {
  static TRegistry* r = new TRegistry();
  return *r;
}

}  // namespace

std::uint32_t PropNameHash(std::string_view AName) noexcept {
  std::uint32_t h = 2166136261u;
  for (char c : AName) {
    h ^= static_cast<std::uint8_t>(FoldAscii(c));
    h *= 16777619u;
  }
  return h;
}

bool SameNameNoCase(std::string_view A, std::string_view B) noexcept {
  if (A.size() != B.size()) return false;
  for (std::size_t i = 0; i < A.size(); ++i)
    if (FoldAscii(A[i]) != FoldAscii(B[i])) return false;
  return true;
}

// ---- Enumerations

std::int32_t TEnumInfo::IndexOf(std::string_view AName) const noexcept {
  for (std::size_t i = 0; i < Names.size(); ++i)
    if (SameNameNoCase(Names[i], AName)) return static_cast<std::int32_t>(i);
  return -1;
}

std::string_view TEnumInfo::NameOf(std::int32_t AOrdinal) const {
  if (AOrdinal < 0 || static_cast<std::size_t>(AOrdinal) >= Names.size())
    throw EPropertyConvertError(Format("%d is not a value of %.*s", AOrdinal, static_cast<int>(TypeName.size()),
                                       TypeName.data()));
  return Names[static_cast<std::size_t>(AOrdinal)];
}

// ---- Sets

std::string SetToText(const TEnumInfo& AEnum, std::uint64_t ABits) {
  const std::size_t n = AEnum.Names.size();
  if (n < 64 && (ABits >> n) != 0)
    throw EPropertyConvertError(Format("Bit mask 0x%llx is not a set of %.*s", static_cast<unsigned long long>(ABits),
                                       static_cast<int>(AEnum.TypeName.size()), AEnum.TypeName.data()));
  std::string text = "[";
  for (std::size_t i = 0; i < n; ++i) {
    if (!((ABits >> i) & 1u)) continue;
    if (text.size() > 1) text += ',';
    text += AEnum.Names[i];
  }
  return text + "]";
}

bool TextToSet(const TEnumInfo& AEnum, std::string_view AText, std::uint64_t& ABits) {
  auto trim = [](std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
  };
  AText = trim(AText);
  if (AText.size() < 2 || AText.front() != '[' || AText.back() != ']') return false;
  std::string_view rest = trim(AText.substr(1, AText.size() - 2));
  std::uint64_t bits = 0;
  while (!rest.empty()) {  // "[]" (or "[ ]") is the empty set; otherwise no name may be empty
    const std::size_t comma = rest.find(',');
    const std::string_view name = trim(rest.substr(0, comma));
    const std::int32_t i = AEnum.IndexOf(name);
    if (name.empty() || i < 0 || i >= 64) return false;
    bits |= std::uint64_t{1} << i;
    if (comma == std::string_view::npos) break;
    rest = rest.substr(comma + 1);
    if (trim(rest).empty()) return false;  // "[a,]"
  }
  ABits = bits;
  return true;
}

std::string_view PropKindName(TPropKind AKind) noexcept {
  switch (AKind) {
    case TPropKind::Bool: return "Boolean";
    case TPropKind::Int32: return "Int32";
    case TPropKind::UInt32: return "UInt32";
    case TPropKind::Int64: return "Int64";
    case TPropKind::Float: return "Single";
    case TPropKind::Double: return "Double";
    case TPropKind::String: return "String";
    case TPropKind::Enum: return "Enumeration";
    case TPropKind::Object: return "Object";
    case TPropKind::Collection: return "Collection";
    case TPropKind::ComponentRef: return "Component";
    case TPropKind::Set: return "Set";
    case TPropKind::Event: return "TNotifyEvent";
  }
  return "?";
}

// ---- Properties

namespace detail {
void RaiseReadOnly(const TPropInfo& AProp) {
  throw EPropertyError(Format("Property %s is read-only", AProp.Name.c_str()));
}
}  // namespace detail

namespace {
constexpr const char* kAssignedText = "(assigned)";

[[noreturn]] void RaiseNotValue(const TPropInfo& AProp) {
  if (AProp.Kind == TPropKind::Event)
    throw EPropertyError(Format("Property %s is an event: only an empty value removes its handler", AProp.Name.c_str()));
  throw EPropertyError(Format("Property %s is an object property", AProp.Name.c_str()));
}
// An event property set by text or variant: an empty one removes the handler.
void ClearEvent(const TPropInfo& AProp, TPersistent& AObject, bool AEmpty) {
  if (!AEmpty) RaiseNotValue(AProp);
  AProp.SetEvent(AObject, nullptr);
}
}  // namespace

std::string TPropInfo::TypeName() const {
  if (Kind == TPropKind::Enum && Enum) return std::string(Enum->TypeName);
  if (Kind == TPropKind::Set && Enum) return "set of " + std::string(Enum->TypeName);
  if (IsObjectKind() && ObjClass) return ObjClass().Name();
  return std::string(PropKindName(Kind));
}

std::string TPropInfo::DefaultText() const {
  if (IsObjectKind() || Kind == TPropKind::Event) return std::string();
  return ValueToText(Default);
}

std::string TPropInfo::ValueToText(const TVariant& AValue) const {
  switch (Kind) {
    case TPropKind::Bool: return AValue.AsBool() ? "True" : "False";
    case TPropKind::Int32:
    case TPropKind::Int64: return std::to_string(AValue.AsInt64());
    case TPropKind::UInt32: return std::to_string(AValue.AsUInt64());
    case TPropKind::Float: return FloatText(static_cast<float>(AValue.AsDouble()));
    case TPropKind::Double: return FloatText(AValue.AsDouble());
    case TPropKind::String: return std::string(AValue.StrView());
    case TPropKind::Enum:
      if (AValue.IsString()) return std::string(AValue.StrView());
      return std::string(Enum->NameOf(static_cast<std::int32_t>(AValue.AsInt64())));
    case TPropKind::Set:
      if (AValue.IsString()) return std::string(AValue.StrView());
      return SetToText(*Enum, AValue.AsUInt64());
    default: return std::string();
  }
}

TVariant TPropInfo::TextToValue(std::string_view AText) const {
  auto Finite = [&](auto AValue) {
    if (!AllowsNonFinite && !std::isfinite(AValue)) RaiseConvert(*this, Quoted(AText) + " (not a finite number)");
    return TVariant(AValue);
  };
  switch (Kind) {
    case TPropKind::Bool:
      if (SameNameNoCase(AText, "True") || AText == "1") return TVariant(true);
      if (SameNameNoCase(AText, "False") || AText == "0") return TVariant(false);
      break;
    case TPropKind::Int32: {
      std::int32_t v;
      if (ParseInt(AText, v)) return TVariant(v);
      break;
    }
    case TPropKind::UInt32: {
      std::uint32_t v;
      if (!AText.empty() && AText[0] != '-' && ParseInt(AText, v)) return TVariant(v);
      break;
    }
    case TPropKind::Int64: {
      std::int64_t v;
      if (ParseInt(AText, v)) return TVariant(v);
      break;
    }
    case TPropKind::Float: {
      float v;
      if (ParseFloat(AText, v)) return Finite(v);
      break;
    }
    case TPropKind::Double: {
      double v;
      if (ParseFloat(AText, v)) return Finite(v);
      break;
    }
    case TPropKind::String: return TVariant(AText);
    case TPropKind::Enum: {
      const std::int32_t i = Enum->IndexOf(AText);
      if (i >= 0) return TVariant(i);
      break;
    }
    case TPropKind::Set: {
      std::uint64_t bits = 0;
      if (TextToSet(*Enum, AText, bits)) return TVariant(bits);
      break;
    }
    default: RaiseNotValue(*this);
  }
  RaiseConvert(*this, Quoted(AText));
}

TVariant TPropInfo::Coerce(const TVariant& AValue) const {
  if (AValue.IsString() && Kind != TPropKind::String) return TextToValue(AValue.StrView());
  auto shown = [&]() -> std::string {
    if (AValue.IsInteger()) return std::to_string(AValue.AsInt64());
    if (AValue.IsFloat()) return FloatText(AValue.AsDouble());
    if (AValue.VType() == varBoolean) return AValue.AsBool() ? "True" : "False";
    return Format("(variant type %u)", static_cast<unsigned>(AValue.VType()));
  };
  // An integer-valued variant as a checked 64-bit value (floats must be whole).
  auto integral = [&](std::int64_t lo, std::int64_t hi) -> std::int64_t {
    if (AValue.VType() == varUInt64) {
      if (AValue.AsUInt64() > static_cast<std::uint64_t>(hi)) RaiseConvert(*this, std::to_string(AValue.AsUInt64()));
      return static_cast<std::int64_t>(AValue.AsUInt64());
    }
    std::int64_t v = 0;
    if (AValue.IsInteger()) v = AValue.AsInt64();
    else if (AValue.IsFloat()) {
      const double d = AValue.AsDouble();
      if (!(d == std::floor(d)) || d < -9.2e18 || d > 9.2e18) RaiseConvert(*this, shown());
      v = static_cast<std::int64_t>(d);
    } else RaiseConvert(*this, shown());
    if (v < lo || v > hi) RaiseConvert(*this, shown());
    return v;
  };
  switch (Kind) {
    case TPropKind::Bool:
      if (AValue.VType() == varBoolean) return AValue;
      if (AValue.IsInteger() && (AValue.AsInt64() == 0 || AValue.AsInt64() == 1)) return TVariant(AValue.AsInt64() == 1);
      break;
    case TPropKind::Int32:
      return TVariant(static_cast<std::int32_t>(integral(INT32_MIN, INT32_MAX)));
    case TPropKind::UInt32:
      return TVariant(static_cast<std::uint32_t>(integral(0, UINT32_MAX)));
    case TPropKind::Int64:
      return TVariant(integral(INT64_MIN, INT64_MAX));
    case TPropKind::Float:
      if (AValue.IsFloat() || AValue.IsInteger()) return TVariant(static_cast<float>(AValue.AsDouble()));
      break;
    case TPropKind::Double:
      if (AValue.IsFloat() || AValue.IsInteger()) return TVariant(AValue.AsDouble());
      break;
    case TPropKind::String:
      if (AValue.IsString()) return TVariant(AValue.StrView());
      break;
    case TPropKind::Enum:
      if (AValue.IsInteger()) {
        const std::int64_t v = AValue.AsInt64();
        if (v >= 0 && static_cast<std::size_t>(v) < Enum->Names.size()) return TVariant(static_cast<std::int32_t>(v));
      }
      break;
    case TPropKind::Set:
      if (AValue.IsInteger()) {  // a bit mask: no bit beyond the enumeration's values
        const std::size_t n = Enum->Names.size();
        if (AValue.VType() == varUInt64) {
          const std::uint64_t bits = AValue.AsUInt64();
          if (n >= 64 || (bits >> n) == 0) return TVariant(bits);
        } else if (AValue.AsInt64() >= 0) {
          const auto bits = static_cast<std::uint64_t>(AValue.AsInt64());
          if (n >= 64 || (bits >> n) == 0) return TVariant(bits);
        }
      }
      break;
    default: RaiseNotValue(*this);
  }
  RaiseConvert(*this, shown());
}

TVariant TPropInfo::Get(const TPersistent& AObject) const {
  if (Kind == TPropKind::Event) return TVariant(GetText(AObject));
  if (IsObjectKind()) throw EPropertyError(Format("Property %s is an object property", Name.c_str()));
  TVariant v;
  GetFn(AObject, v);
  return v;
}

void TPropInfo::Set(TPersistent& AObject, const TVariant& AValue) const {
  if (Kind == TPropKind::Event) return ClearEvent(*this, AObject, AValue.IsEmpty() || (AValue.IsString() && AValue.StrView().empty()));
  if (IsObjectKind()) throw EPropertyError(Format("Property %s is an object property", Name.c_str()));
  if (!SetFn) detail::RaiseReadOnly(*this);
  SetFn(*this, AObject, Coerce(AValue));
}

std::string TPropInfo::GetText(const TPersistent& AObject) const {
  if (Kind == TPropKind::ComponentRef) {
    const TPersistent* ref = GetObjFn(AObject);
    return ref ? ref->GetNamePath() : std::string();
  }
  if (IsObjectKind()) return "(" + TypeName() + ")";
  if (Kind == TPropKind::Event) return GetEventFn(AObject) ? kAssignedText : "";
  TVariant v;
  GetFn(AObject, v);
  return ValueToText(v);
}

void TPropInfo::SetText(TPersistent& AObject, std::string_view AText) const {
  if (Kind == TPropKind::ComponentRef) {
    if (!SetRefFn) detail::RaiseReadOnly(*this);
    TPersistent* ref = nullptr;
    if (!AText.empty()) {
      ref = AObject.FindReference(AText);
      if (!ref || !ref->InheritsFrom(ObjClass()))
        throw EPropertyConvertError(Format("Invalid value %s for property %s: no component %s of class %s",
                                           Quoted(AText).c_str(), Name.c_str(), std::string(AText).c_str(),
                                           ObjClass().Name().c_str()));
    }
    SetRefFn(*this, AObject, ref);
    return;
  }
  if (Kind == TPropKind::Event) return ClearEvent(*this, AObject, AText.empty());
  if (IsObjectKind()) throw EPropertyError(Format("Property %s is an object property", Name.c_str()));
  if (!SetFn) detail::RaiseReadOnly(*this);
  SetFn(*this, AObject, TextToValue(AText));
}

TNotifyEvent TPropInfo::GetEvent(const TPersistent& AObject) const {
  if (Kind != TPropKind::Event) throw EPropertyError(Format("Property %s is not an event", Name.c_str()));
  return GetEventFn(AObject);
}

void TPropInfo::SetEvent(TPersistent& AObject, TNotifyEvent AHandler) const {
  if (Kind != TPropKind::Event) throw EPropertyError(Format("Property %s is not an event", Name.c_str()));
  if (!SetEventFn) detail::RaiseReadOnly(*this);
  SetEventFn(AObject, std::move(AHandler));
}

TPersistent* TPropInfo::GetObject(const TPersistent& AObject) const {
  if (!IsObjectKind()) throw EPropertyError(Format("Property %s is not an object property", Name.c_str()));
  return GetObjFn(AObject);
}

bool TPropInfo::IsStored(const TPersistent& AObject) const {
  if (Kind == TPropKind::Event) return false;  // handlers are wired at run time, never streamed
  if (StoredFn) return StoredFn(AObject);
  if (Kind == TPropKind::ComponentRef) return GetObjFn(AObject) != nullptr;
  if (IsObjectKind()) return true;
  if (!HasDefault) return true;
  TVariant v;
  GetFn(AObject, v);
  if (Kind == TPropKind::Float || Kind == TPropKind::Double) {
    const double a = v.AsDouble(), b = Default.AsDouble();
    return !(a == b || (a != a && b != b));
  }
  return !(v == Default);
}

// ---- Classes

TClassInfo::TClassInfo(std::string_view AName, const TClassInfo* AParent, bool AIsComponent, bool AIsCollection,
                       TFactory AFactory)
    : FName(AName), FParent(AParent), FFactory(AFactory), FIsComponent(AIsComponent), FIsCollection(AIsCollection) {}

TClassInfo::~TClassInfo() = default;

TPropInfo& TClassInfo::AddOwn(std::string_view AName) {
  for (const auto& p : FOwn)
    if (SameNameNoCase(p->Name, AName))
      throw EPropertyError(Format("Class %s declares property %.*s twice", FName.c_str(),
                                  static_cast<int>(AName.size()), AName.data()));
  auto p = std::make_unique<TPropInfo>();
  p->Name = AName;
  p->Hash = PropNameHash(AName);
  p->DeclaredBy = this;
  FOwn.push_back(std::move(p));
  return *FOwn.back();
}

TPropInfo& TClassInfo::LastOwn() {
  if (FOwn.empty()) throw EPropertyError("A modifier needs a property declared before it");
  return *FOwn.back();
}

namespace detail {
void RaiseOwnerKind(const TClassInfo& AClass) {
  throw EPropertyError(Format("Class %s needs an owner of another kind", AClass.Name().c_str()));
}
}  // namespace detail

bool TClassInfo::InheritsFrom(const TClassInfo& AClass) const noexcept {
  for (const TClassInfo* c = this; c; c = c->FParent)
    if (c == &AClass) return true;
  return false;
}

TPersistent* TClassInfo::Create(TPersistent* AOwner) const {
  if (!FFactory) throw EPropertyError(Format("Class %s cannot be created by name", FName.c_str()));
  return FFactory(AOwner);
}

const TPropInfo* TClassInfo::FindProperty(std::string_view AName) const noexcept {
  if (FIndex.empty()) return nullptr;
  const std::uint32_t h = PropNameHash(AName);
  for (std::uint32_t i = h & FMask;; i = (i + 1) & FMask) {
    const std::int32_t k = FIndex[i];
    if (k < 0) return nullptr;
    const TPropInfo* p = FProps[static_cast<std::size_t>(k)];
    if (p->Hash == h && SameNameNoCase(p->Name, AName)) return p;
  }
}

const TPropInfo& TClassInfo::Property(std::string_view AName) const {
  const TPropInfo* p = FindProperty(AName);
  if (!p)
    throw EPropertyError(Format("Class %s has no property %.*s", FName.c_str(), static_cast<int>(AName.size()),
                                AName.data()));
  return *p;
}

void TClassInfo::InitOwnProperties(TPersistent& AObject) const {
  for (const auto& p : FOwn)
    if (p->InitFn) p->InitFn(*p, AObject);
}

void TClassInfo::Finish() {
  if (FParent) FProps = FParent->FProps;
  for (const auto& own : FOwn) {
    bool replaced = false;
    for (const TPropInfo*& p : FProps)
      if (SameNameNoCase(p->Name, own->Name)) {
        p = own.get();
        replaced = true;
      }
    if (!replaced) FProps.push_back(own.get());
  }
  std::uint32_t size = 8;
  while (size < FProps.size() * 2) size *= 2;
  FMask = size - 1;
  FIndex.assign(size, -1);
  for (std::size_t k = 0; k < FProps.size(); ++k) {
    std::uint32_t i = FProps[k]->Hash & FMask;
    while (FIndex[i] >= 0) i = (i + 1) & FMask;
    FIndex[i] = static_cast<std::int32_t>(k);
  }
}

// ---- Registry

void RegisterClass(const TClassInfo& AClass) {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.Lock);
  auto it = r.ByName.find(AClass.Name());
  if (it != r.ByName.end()) {
    if (it->second == &AClass) return;
    throw EArgumentException(Format("Class name %s is already registered for another class", AClass.Name().c_str()));
  }
  r.ByName.emplace(AClass.Name(), &AClass);
  r.Order.push_back(&AClass);
}

void RegisterClasses(std::initializer_list<const TClassInfo*> AClasses) {
  RegisterClasses(std::span<const TClassInfo* const>(AClasses.begin(), AClasses.size()));
}

void RegisterClasses(std::span<const TClassInfo* const> AClasses) {
  for (const TClassInfo* c : AClasses) RegisterClass(*c);
}

void UnregisterClass(const TClassInfo& AClass) {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.Lock);
  auto it = r.ByName.find(AClass.Name());
  if (it == r.ByName.end() || it->second != &AClass) return;
  r.ByName.erase(it);
  std::erase(r.Order, &AClass);
  for (auto& entry : r.ItemClasses) std::erase(entry.second, &AClass);
}

void UnregisterClasses(std::span<const TClassInfo* const> AClasses) {
  for (auto it = AClasses.rbegin(); it != AClasses.rend(); ++it) UnregisterClass(**it);
}

const TClassInfo* FindClassInfo(std::string_view AName) {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.Lock);
  auto it = r.ByName.find(std::string(AName));
  return it == r.ByName.end() ? nullptr : it->second;
}

const TClassInfo& GetClassInfo(std::string_view AName) {
  const TClassInfo* c = FindClassInfo(AName);
  if (!c) throw EPropertyError(Format("Class %.*s not found", static_cast<int>(AName.size()), AName.data()));
  return *c;
}

std::vector<const TClassInfo*> RegisteredClasses() {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.Lock);
  return r.Order;
}

TPersistent* CreateObject(std::string_view AName, TPersistent* AOwner) { return GetClassInfo(AName).Create(AOwner); }

void RegisterCollectionItemClasses(const TClassInfo& AItemBase, std::initializer_list<const TClassInfo*> AClasses) {
  for (const TClassInfo* c : AClasses) {
    if (!c->InheritsFrom(AItemBase))
      throw EArgumentException(Format("Class %s is not a %s", c->Name().c_str(), AItemBase.Name().c_str()));
    RegisterClass(*c);
  }
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.Lock);
  auto it = std::find_if(r.ItemClasses.begin(), r.ItemClasses.end(), [&](const auto& e) { return e.first == &AItemBase; });
  if (it == r.ItemClasses.end()) it = r.ItemClasses.insert(r.ItemClasses.end(), {&AItemBase, {}});
  for (const TClassInfo* c : AClasses)
    if (std::find(it->second.begin(), it->second.end(), c) == it->second.end()) it->second.push_back(c);
}

std::vector<const TClassInfo*> CollectionItemClasses(const TClassInfo& AItemBase) {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.Lock);
  std::vector<const TClassInfo*> out;
  // Classes registered for this base or for any base class of it that derive from it.
  for (const auto& e : r.ItemClasses)
    if (AItemBase.InheritsFrom(*e.first) || e.first->InheritsFrom(AItemBase))
      for (const TClassInfo* c : e.second)
        if (c->InheritsFrom(AItemBase) && std::find(out.begin(), out.end(), c) == out.end()) out.push_back(c);
  return out;
}

// ---- By name

TVariant GetPropValue(const TPersistent& AObject, std::string_view AName) {
  const TPropInfo& p = AObject.GetClassInfo().Property(AName);
  if (p.Kind == TPropKind::Enum) {  // enumerations come out by name, as hosts show them
    TVariant v;
    p.GetFn(AObject, v);
    return TVariant(p.Enum->NameOf(static_cast<std::int32_t>(v.AsInt64())));
  }
  if (p.Kind == TPropKind::ComponentRef || p.Kind == TPropKind::Set) return TVariant(p.GetText(AObject));  // "[a,b]"
  return p.Get(AObject);
}

void SetPropValue(TPersistent& AObject, std::string_view AName, const TVariant& AValue) {
  const TPropInfo& p = AObject.GetClassInfo().Property(AName);
  if (p.Kind == TPropKind::ComponentRef && AValue.IsString()) return p.SetText(AObject, AValue.StrView());
  p.Set(AObject, AValue);
}

std::string GetPropText(const TPersistent& AObject, std::string_view AName) {
  return AObject.GetClassInfo().Property(AName).GetText(AObject);
}

void SetPropText(TPersistent& AObject, std::string_view AName, std::string_view AText) {
  AObject.GetClassInfo().Property(AName).SetText(AObject, AText);
}

TPersistent* GetObjectProp(const TPersistent& AObject, std::string_view AName) {
  return AObject.GetClassInfo().Property(AName).GetObject(AObject);
}

TNotifyEvent GetEventProp(const TPersistent& AObject, std::string_view AName) {
  return AObject.GetClassInfo().Property(AName).GetEvent(AObject);
}

void SetEventProp(TPersistent& AObject, std::string_view AName, TNotifyEvent AHandler) {
  AObject.GetClassInfo().Property(AName).SetEvent(AObject, std::move(AHandler));
}

std::vector<TPropDescription> DescribeProperties(const TPersistent& AObject) {
  std::vector<TPropDescription> out;
  for (const TPropInfo* p : AObject.GetClassInfo().Properties()) {
    TPropDescription d;
    d.Name = p->Name;
    d.TypeName = p->TypeName();
    d.Kind = p->Kind;
    d.Value = p->GetText(AObject);
    d.DefaultText = p->DefaultText();
    if (p->Enum)
      for (std::string_view n : p->Enum->Names) d.Values.emplace_back(n);
    if (p->ValuesFn) d.Values = p->ValuesFn(AObject);
    d.ReadOnly = p->ReadOnly();
    d.Hints = &p->Hints;
    out.push_back(std::move(d));
  }
  return out;
}

// ---- Filer

void TFiler::DefineProperty(TPersistent& AObject, std::string_view AName, TReadProc ARead, TWriteProc AWrite,
                            bool AHasData) {
  if (FReader) {
    if (ARead && FReader->HasKey(AName)) ARead(AObject, *FReader, AName);
  } else if (FWriter) {
    if (AWrite && AHasData) AWrite(AObject, *FWriter, AName);
  }
}

}  // namespace nx
