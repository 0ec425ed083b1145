// Zandor.TypeInfo: run-time type information of persistent classes. A class
// declares each published property once, in a table built by a small fluent
// builder; initial values, streaming, the property list an editor or a host
// shows, and reading and writing a property by name (as text or as a
// TVariant) all come from that one declaration.
//
// Declaring a class (see Zandor.Types for the bases):
//
//   enum TNXQueueFullMode { fmBlock, fmDropData };
//   NX_ENUM_NAMES(TNXQueueFullMode, "fmBlock", "fmDropData")   // names once, beside the enum
//
//   class TNXThreadingQueue : public TLockPersistent {
//     NX_PERSISTENT(TNXThreadingQueue, TLockPersistent)
//    public:
//     explicit TNXThreadingQueue(TPersistent* AOwner) : TLockPersistent(AOwner) { InitProperties(this); }
//     void SetSize(std::uint32_t v) { SetNotifyMin(FSize, v, kMinSize); }
//     static void DeclareProperties(TClassBuilder<TNXThreadingQueue>& P) {
//       P.Prop<&TNXThreadingQueue::FSize, &TNXThreadingQueue::SetSize>("Size", 15u).Min(kMinSize);
//       P.Prop<&TNXThreadingQueue::FFullMode>("FullMode", fmBlock);
//     }
//     ...
//   };
//
// Property forms (the value type picks the kind):
//   Prop<&T::FField>(name, default)           field; the generic notifying setter (clamps with Min)
//   Prop<&T::FField, &T::SetX>(name, default) field read directly, custom setter
//   Prop<&T::GetX, &T::SetX>(name, default)   accessors only (initial value set through the setter)
//   Prop<&T::GetX>(name)                      read-only
// Value types: bool, int32, uint32, int64, float, double, std::string, an
// enumeration with NX_ENUM_NAMES, a TEnumSet of such an enumeration (streamed
// as its text "[a,b]"), TNotifyEvent (an event slot: published for hosts to
// assign a handler, never streamed; declared without a default),
// std::unique_ptr<U> (an owned sub-object or
// collection, created at initialisation when still empty), U* of a persistent
// class (a sub-object made by the constructor), U* of a component class (a
// component reference, streamed as the component's name and resolved after
// a document is read). Without a default argument the type's zero value
// ("", false, 0, the first enumeration value) is the default.
// Modifiers apply to the property declared last: Min, Max, NonFinite, NoDefault,
// Stored<&T::IsXStored>, Category, Editor, Description, Values<&T::GetList>.
// Republish(name, default) publishes a base-class property again with another
// default.
//
// Only values that differ from their default are streamed; names are matched
// without regard to ASCII case (as a designer does), and looked up through a
// hash table built once per class.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "runtime/SysUtils.h"
#include "runtime/Zandor.Function.h"
#include "runtime/Zandor.Variants.h"

namespace nx {

// An unknown property, a wrong kind of access (setting a read-only or object
// property by value), or an unknown class.
NX_DECLARE_EXCEPTION(EPropertyError, Exception, "Property error")
// A value (text or variant) that does not convert to the property's type.
NX_DECLARE_EXCEPTION(EPropertyConvertError, EPropertyError, "Invalid property value")

class TPersistent;
class TClassInfo;
template <class T>
class TClassBuilder;

// ---- Enumerations: the names of an enumeration type, declared once.

struct TEnumInfo {
  std::string_view TypeName;
  std::vector<std::string_view> Names;  // by ordinal, from 0
  // The ordinal of a name (ASCII case ignored); -1 when there is none.
  std::int32_t IndexOf(std::string_view AName) const noexcept;
  // The name of an ordinal; EPropertyConvertError when out of range.
  std::string_view NameOf(std::int32_t AOrdinal) const;
};

// NX_ENUM_NAMES(E, "eaFirst", "eaSecond", ...) beside the enumeration E (in
// its namespace): the names in ordinal order. Found through NXEnumInfo(E{}).
#define NX_ENUM_NAMES(E, ...)                                          \
  [[maybe_unused]] inline const ::nx::TEnumInfo& NXEnumInfo(E) {       \
    static const ::nx::TEnumInfo info{#E, {__VA_ARGS__}};              \
    return info;                                                       \
  }

template <class E>
concept HasEnumNames = std::is_enum_v<E> && requires(E e) {
  { NXEnumInfo(e) } -> std::same_as<const TEnumInfo&>;
};

template <class E>
  requires HasEnumNames<E>
const TEnumInfo& EnumInfoOf() {
  return NXEnumInfo(E{});
}
// The name of an enumeration value ("fmBlock").
template <class E>
  requires HasEnumNames<E>
std::string_view EnumName(E AValue) {
  return EnumInfoOf<E>().NameOf(static_cast<std::int32_t>(AValue));
}

// ---- Sets of an enumeration's values

// Which values of the enumeration E (ordinals 0 to 63) are in the set. As a
// property it is streamed and shown as text: the member names in ordinal
// order, "[fdoAlpha,fdoNoPrewrap]", and "[]" for the empty set.
template <class E>
  requires HasEnumNames<E>
class TEnumSet {
 public:
  using TElement = E;
  constexpr TEnumSet() noexcept = default;
  constexpr TEnumSet(std::initializer_list<E> AItems) noexcept {
    for (E e : AItems) FBits |= Bit(e);
  }
  static constexpr TEnumSet FromBits(std::uint64_t ABits) noexcept {
    TEnumSet s;
    s.FBits = ABits;
    return s;
  }
  constexpr std::uint64_t Bits() const noexcept { return FBits; }
  constexpr bool Contains(E AItem) const noexcept { return (FBits & Bit(AItem)) != 0; }
  constexpr bool Empty() const noexcept { return FBits == 0; }
  constexpr TEnumSet& Include(E AItem) noexcept {
    FBits |= Bit(AItem);
    return *this;
  }
  constexpr TEnumSet& Exclude(E AItem) noexcept {
    FBits &= ~Bit(AItem);
    return *this;
  }
  friend constexpr TEnumSet operator|(TEnumSet A, TEnumSet B) noexcept { return FromBits(A.FBits | B.FBits); }
  friend constexpr TEnumSet operator&(TEnumSet A, TEnumSet B) noexcept { return FromBits(A.FBits & B.FBits); }
  friend constexpr TEnumSet operator-(TEnumSet A, TEnumSet B) noexcept { return FromBits(A.FBits & ~B.FBits); }
  friend constexpr bool operator==(TEnumSet, TEnumSet) noexcept = default;

 private:
  static constexpr std::uint64_t Bit(E AItem) noexcept {
    return std::uint64_t{1} << (static_cast<unsigned>(AItem) & 63u);
  }
  std::uint64_t FBits = 0;
};

// The text of the set with bit mask ABits of AEnum's values: "[a,b]".
// EPropertyConvertError for a bit beyond the enumeration's values.
std::string SetToText(const TEnumInfo& AEnum, std::uint64_t ABits);
// The bit mask of a set's text: names between "[" and "]" separated by
// commas, blanks around each allowed, letter case ignored, a name given twice
// counted once. False when the text is no set of AEnum's values.
bool TextToSet(const TEnumInfo& AEnum, std::string_view AText, std::uint64_t& ABits);
template <class E>
std::string SetText(TEnumSet<E> ASet) {
  return SetToText(EnumInfoOf<E>(), ASet.Bits());
}

// ---- Events

// A notify event: the handler a host or an owner assigns, called with the
// object that raises it (TPersistent::CallEvent). Empty: no handler.
using TNotifyEvent = std::function<void(TPersistent* ASender)>;

// ---- Properties

enum class TPropKind : std::uint8_t {
  Bool, Int32, UInt32, Int64, Float, Double, String, Enum,
  Object,        // a sub-object (streamed as a nested object)
  Collection,    // a collection of items (streamed as a list)
  ComponentRef,  // a reference to a component (streamed as its name)
  Set,           // a TEnumSet (streamed as its text)
  Event,         // a TNotifyEvent slot (not streamed)
};
// "Boolean", "Int32", "UInt32", "Int64", "Single", "Double", "String", ...
std::string_view PropKindName(TPropKind AKind) noexcept;

// What an editor or a host needs beyond the type.
struct TPropHints {
  std::string Category;     // a group name for the editor ("Threading")
  std::string Editor;       // the editor to use or its verb ("Edit P&rocessing Engines...")
  std::string Description;  // one line for the user
};

struct TPropInfo {
  std::string Name;
  TPropKind Kind = TPropKind::Int32;
  const TEnumInfo* Enum = nullptr;                // Enum; Set: the members' enumeration
  const TClassInfo& (*ObjClass)() = nullptr;      // Object, Collection, ComponentRef: the declared class
  TVariant Default;                               // scalar kinds; an enumeration as its ordinal (varInteger),
                                                  // a set as its bit mask (varUInt64)
  bool HasDefault = true;                         // false: always stored
  bool HasMin = false;
  TVariant Min;                                   // the clamping minimum (same variant type as Default)
  bool HasMax = false;
  TVariant Max;                                   // the clamping maximum (same variant type as Default)
  // Float and Double: whether NaN and the infinities are values of this
  // property. They are not unless the declaration says so (NonFinite): a
  // document or a command line that gives one is refused.
  bool AllowsNonFinite = false;
  bool OwnsObject = false;                        // Object/Collection held in a unique_ptr
  TPropHints Hints;
  const TClassInfo* DeclaredBy = nullptr;         // the class whose table declared (or re-published) it
  std::uint32_t Hash = 0;                         // of the name, case folded

  // Accessors, generated from the declaration.
  void (*GetFn)(const TPersistent&, TVariant&) = nullptr;                       // scalar kinds
  void (*SetFn)(const TPropInfo&, TPersistent&, const TVariant&) = nullptr;     // scalar kinds; null: read-only
  TPersistent* (*GetObjFn)(const TPersistent&) = nullptr;                       // object kinds
  void (*SetRefFn)(const TPropInfo&, TPersistent&, TPersistent*) = nullptr;     // ComponentRef
  void (*InitFn)(const TPropInfo&, TPersistent&) = nullptr;                     // initial value / sub-object
  bool (*StoredFn)(const TPersistent&) = nullptr;                               // replaces the default test
  std::vector<std::string> (*ValuesFn)(const TPersistent&) = nullptr;           // values an editor offers
  TNotifyEvent (*GetEventFn)(const TPersistent&) = nullptr;                     // Event
  void (*SetEventFn)(TPersistent&, TNotifyEvent) = nullptr;                     // Event; null: read-only

  bool IsObjectKind() const noexcept {
    return Kind == TPropKind::Object || Kind == TPropKind::Collection || Kind == TPropKind::ComponentRef;
  }
  bool ReadOnly() const noexcept {
    if (Kind == TPropKind::Event) return !SetEventFn;
    return IsObjectKind() ? Kind == TPropKind::ComponentRef && !SetRefFn : !SetFn;
  }
  // "Boolean", "UInt32", the enumeration's name, the object's class name.
  std::string TypeName() const;
  // The default as text ("15", "fmBlock", "True"); empty for object kinds.
  std::string DefaultText() const;

  // Value access (the setter takes the object's lock and notifies on change).
  // A set's variant is its bit mask; a text or an integer mask sets it. An
  // event has no value: its text is "" without a handler and "(assigned)"
  // with one, and only an empty text (or variant) is accepted, which removes
  // the handler.
  TVariant Get(const TPersistent& AObject) const;
  void Set(TPersistent& AObject, const TVariant& AValue) const;
  std::string GetText(const TPersistent& AObject) const;
  void SetText(TPersistent& AObject, std::string_view AText) const;
  TPersistent* GetObject(const TPersistent& AObject) const;
  // An event's handler (EPropertyError for other kinds); setting it takes the
  // object's lock and notifies nobody: a handler is no setting.
  TNotifyEvent GetEvent(const TPersistent& AObject) const;
  void SetEvent(TPersistent& AObject, TNotifyEvent AHandler) const;
  // Whether the value is written when AObject is streamed: the stored
  // predicate when declared, else "differs from the default" (scalars and
  // references; object kinds are decided by their contents).
  bool IsStored(const TPersistent& AObject) const;

  // Conversions between the property's value and text or other variants
  // (EPropertyConvertError naming the property on failure).
  std::string ValueToText(const TVariant& AValue) const;
  TVariant TextToValue(std::string_view AText) const;
  TVariant Coerce(const TVariant& AValue) const;  // any variant to this property's variant type
};

// ---- Classes

class TClassInfo {
 public:
  using TFactory = TPersistent* (*)(TPersistent* AOwner);

  // Built once per class by NX_PERSISTENT's StaticClassInfo.
  template <class T>
  struct TTag {};
  template <class T>
  TClassInfo(TTag<T>, std::string_view AName);
  ~TClassInfo();
  TClassInfo(const TClassInfo&) = delete;
  TClassInfo& operator=(const TClassInfo&) = delete;

  const std::string& Name() const noexcept { return FName; }
  const TClassInfo* Parent() const noexcept { return FParent; }
  bool InheritsFrom(const TClassInfo& AClass) const noexcept;
  bool IsComponent() const noexcept { return FIsComponent; }
  bool IsCollection() const noexcept { return FIsCollection; }
  // Null for an abstract class or one that cannot be made from an owner alone.
  TFactory Factory() const noexcept { return FFactory; }
  // A new object of this class owned by AOwner; EPropertyError for a class
  // that cannot be made. A component class needs a component owner or none.
  TPersistent* Create(TPersistent* AOwner) const;

  // Every published property, base classes first, in declaration order; a
  // re-published property keeps its base's place.
  const std::vector<const TPropInfo*>& Properties() const noexcept { return FProps; }
  // The properties this class itself declared or re-published.
  const std::vector<std::unique_ptr<TPropInfo>>& OwnProperties() const noexcept { return FOwn; }
  // The property of that name (ASCII case ignored); null when there is none.
  const TPropInfo* FindProperty(std::string_view AName) const noexcept;
  // As FindProperty, but EPropertyError "Class X has no property Y".
  const TPropInfo& Property(std::string_view AName) const;

  // Sets the initial values of the properties this class declared (not its
  // bases'), creates its empty owned sub-objects; notifications stay quiet.
  void InitOwnProperties(TPersistent& AObject) const;

 private:
  template <class T>
  friend class TClassBuilder;
  // The class-independent part of construction, declaring and finishing lives
  // in the library, so that a component's file only instantiates the few
  // lines that depend on its class.
  TClassInfo(std::string_view AName, const TClassInfo* AParent, bool AIsComponent, bool AIsCollection,
             TFactory AFactory);
  TPropInfo& AddOwn(std::string_view AName);
  TPropInfo& LastOwn();
  void Finish();

  std::string FName;
  const TClassInfo* FParent = nullptr;
  TFactory FFactory = nullptr;
  bool FIsComponent = false;
  bool FIsCollection = false;
  std::vector<std::unique_ptr<TPropInfo>> FOwn;
  std::vector<const TPropInfo*> FProps;
  std::vector<std::int32_t> FIndex;  // open addressing: index into FProps, -1 empty
  std::uint32_t FMask = 0;
};

// The case-folded hash of a property name.
std::uint32_t PropNameHash(std::string_view AName) noexcept;
bool SameNameNoCase(std::string_view A, std::string_view B) noexcept;

// ---- The class registry: classes by name, made by name with an owner.

// Registers a class under its name (a class registered again is ignored; a
// name taken by another class raises EArgumentException).
void RegisterClass(const TClassInfo& AClass);
void RegisterClasses(std::initializer_list<const TClassInfo*> AClasses);
// A unit's table of classes, registered in order at start-up and removed in
// the reverse order at finalization.
void RegisterClasses(std::span<const TClassInfo* const> AClasses);
void UnregisterClass(const TClassInfo& AClass);
void UnregisterClasses(std::span<const TClassInfo* const> AClasses);
// The class registered under AName (exact match); null when there is none.
const TClassInfo* FindClassInfo(std::string_view AName);
// As FindClassInfo; EClassNotFound-like EPropertyError "Class X not found".
const TClassInfo& GetClassInfo(std::string_view AName);
// Every registered class, in registration order.
std::vector<const TClassInfo*> RegisteredClasses();
// A new object of the registered class AName owned by AOwner.
TPersistent* CreateObject(std::string_view AName, TPersistent* AOwner);

// Which item classes a collection (of items deriving from AItemBase) may
// hold, for editors and for reading: registered per item base class.
void RegisterCollectionItemClasses(const TClassInfo& AItemBase, std::initializer_list<const TClassInfo*> AClasses);
std::vector<const TClassInfo*> CollectionItemClasses(const TClassInfo& AItemBase);

// ---- Properties of an object by name.

TVariant GetPropValue(const TPersistent& AObject, std::string_view AName);
void SetPropValue(TPersistent& AObject, std::string_view AName, const TVariant& AValue);
std::string GetPropText(const TPersistent& AObject, std::string_view AName);
void SetPropText(TPersistent& AObject, std::string_view AName, std::string_view AText);
TPersistent* GetObjectProp(const TPersistent& AObject, std::string_view AName);
TNotifyEvent GetEventProp(const TPersistent& AObject, std::string_view AName);
void SetEventProp(TPersistent& AObject, std::string_view AName, TNotifyEvent AHandler);

// One row of an object's property list, as an editor or a host shows it.
struct TPropDescription {
  std::string Name;
  std::string TypeName;
  TPropKind Kind;
  std::string Value;         // current value as text
  std::string DefaultText;
  std::vector<std::string> Values;  // enumeration names, or the values the class offers
  bool ReadOnly = false;
  const TPropHints* Hints = nullptr;
};
std::vector<TPropDescription> DescribeProperties(const TPersistent& AObject);

// ---- Extra streamed members (DefineProperties).

class IReader;
class IWriter;

// Handed to TPersistent::DefineProperties: a class names members of its own
// that the published properties do not cover ("_Data", "_OwnerCollection").
// While writing, AWrite runs when AHasData is true; while reading, ARead runs
// when the stored object has that member.
class TFiler {
 public:
  using TReadProc = void (*)(TPersistent& AObject, IReader& AReader, std::string_view AKey);
  using TWriteProc = void (*)(const TPersistent& AObject, IWriter& AWriter, std::string_view AKey);
  TFiler(IReader* AReader, IWriter* AWriter) : FReader(AReader), FWriter(AWriter) {}
  bool Reading() const noexcept { return FReader != nullptr; }
  IReader* Reader() const noexcept { return FReader; }
  IWriter* Writer() const noexcept { return FWriter; }
  void DefineProperty(TPersistent& AObject, std::string_view AName, TReadProc ARead, TWriteProc AWrite, bool AHasData);

 private:
  IReader* FReader;
  IWriter* FWriter;
};

// ---- The declaration builder and its accessor thunks.

namespace detail {

template <class V>
struct TIsEnumSet : std::false_type {};
template <class E>
struct TIsEnumSet<TEnumSet<E>> : std::true_type {};

template <class V>
struct TUniquePtrArg : std::false_type {};
template <class U, class D>
struct TUniquePtrArg<std::unique_ptr<U, D>> : std::true_type {
  using Type = U;
};

// The value type behind an accessor: a data member's type, or a getter's
// result without reference and cv.
template <class P>
struct TAccessorValue;
template <class T, class V>
struct TAccessorValue<V T::*> {
  using Type = V;
  static constexpr bool IsField = true;
};
template <class T, class V>
struct TAccessorValue<V (T::*)() const> {
  using Type = std::remove_cvref_t<V>;
  static constexpr bool IsField = false;
};
template <class T, class V>
struct TAccessorValue<V (T::*)() const noexcept> {
  using Type = std::remove_cvref_t<V>;
  static constexpr bool IsField = false;
};

[[noreturn]] void RaiseReadOnly(const TPropInfo& AProp);

// Converts a property variant (already coerced to the property's type) to a C++ value.
template <class V>
V FromVariant(const TVariant& v) {
  if constexpr (std::is_same_v<V, bool>) return v.AsBool();
  else if constexpr (std::is_enum_v<V>) return static_cast<V>(v.AsInt64());
  else if constexpr (std::is_same_v<V, std::string>) return std::string(v.StrView());
  else if constexpr (std::is_same_v<V, float>) return static_cast<float>(v.AsDouble());
  else if constexpr (std::is_same_v<V, double>) return v.AsDouble();
  else if constexpr (std::is_same_v<V, std::uint32_t>) return static_cast<std::uint32_t>(v.AsUInt64());
  else if constexpr (TIsEnumSet<V>::value) return V::FromBits(v.AsUInt64());
  else return static_cast<V>(v.AsInt64());
}
template <class V>
TVariant ToVariant(const V& AValue) {
  if constexpr (std::is_enum_v<V>) return TVariant(static_cast<std::int32_t>(AValue));
  else if constexpr (std::is_same_v<V, std::string>) return TVariant(std::string_view(AValue));
  else if constexpr (TIsEnumSet<V>::value) return TVariant(AValue.Bits());
  else return TVariant(AValue);
}

template <class V>
constexpr TPropKind ScalarKind() {
  if constexpr (std::is_same_v<V, bool>) return TPropKind::Bool;
  else if constexpr (std::is_same_v<V, std::int32_t>) return TPropKind::Int32;
  else if constexpr (std::is_same_v<V, std::uint32_t>) return TPropKind::UInt32;
  else if constexpr (std::is_same_v<V, std::int64_t>) return TPropKind::Int64;
  else if constexpr (std::is_same_v<V, float>) return TPropKind::Float;
  else if constexpr (std::is_same_v<V, double>) return TPropKind::Double;
  else if constexpr (std::is_same_v<V, std::string>) return TPropKind::String;
  else if constexpr (std::is_enum_v<V>) return TPropKind::Enum;
  else if constexpr (TIsEnumSet<V>::value) return TPropKind::Set;
  else static_assert(sizeof(V) == 0, "unsupported published property type");
}

template <class V>
constexpr bool IsScalar = std::is_same_v<V, bool> || std::is_same_v<V, std::int32_t> ||
                          std::is_same_v<V, std::uint32_t> || std::is_same_v<V, std::int64_t> ||
                          std::is_same_v<V, float> || std::is_same_v<V, double> ||
                          std::is_same_v<V, std::string> || HasEnumNames<V> || TIsEnumSet<V>::value;

// The object class behind an object-kind value type (unique_ptr<U> or U*).
template <class V>
struct TObjectOf {
  using Type = void;
};
template <class U, class D>
struct TObjectOf<std::unique_ptr<U, D>> {
  using Type = U;
};
template <class U>
struct TObjectOf<U*> {
  using Type = U;
};

}  // namespace detail

template <class T>
class TClassBuilder {
 public:
  explicit TClassBuilder(TClassInfo& AInfo) : FInfo(AInfo) {}

  // A property without a default argument: the type's zero value is its default.
  template <auto A, auto B = nullptr>
  TClassBuilder& Prop(std::string_view AName) {
    using V = typename detail::TAccessorValue<decltype(A)>::Type;
    if constexpr (detail::IsScalar<V>) return Prop<A, B>(AName, V{});
    else if constexpr (std::is_same_v<V, TNotifyEvent>) return AddEvent<A, B>(AName);
    else return AddObject<A, B, V>(AName);
  }

  template <auto A, auto B = nullptr, class D>
  TClassBuilder& Prop(std::string_view AName, D ADefault) {
    using TA = detail::TAccessorValue<decltype(A)>;
    using V = typename TA::Type;
    static_assert(detail::IsScalar<V>, "a default is given only for a value property");
    TPropInfo& p = Add(AName);
    p.Kind = detail::ScalarKind<V>();
    if constexpr (std::is_enum_v<V>) p.Enum = &EnumInfoOf<V>();
    if constexpr (detail::TIsEnumSet<V>::value) {
      p.Enum = &EnumInfoOf<typename V::TElement>();
      if (p.Enum->Names.size() > 64)
        throw EPropertyError(Format("Property %s: a set holds values of an enumeration of at most 64 names",
                                    p.Name.c_str()));
    }
    p.Default = detail::ToVariant<V>(static_cast<V>(ADefault));
    if constexpr (TA::IsField) {
      p.GetFn = [](const TPersistent& o, TVariant& out) {
        const T& self = static_cast<const T&>(o);
        out = detail::ToVariant<V>(self.ReadLocked(self.*A));
      };
      p.InitFn = [](const TPropInfo& pi, TPersistent& o) {
        static_cast<T&>(o).*A = detail::FromVariant<V>(pi.Default);
      };
    } else {
      p.GetFn = [](const TPersistent& o, TVariant& out) { out = detail::ToVariant<V>((static_cast<const T&>(o).*A)()); };
    }
    if constexpr (!std::is_same_v<decltype(B), std::nullptr_t>) {
      p.SetFn = [](const TPropInfo&, TPersistent& o, const TVariant& v) {
        (static_cast<T&>(o).*B)(detail::FromVariant<V>(v));
      };
      if constexpr (!TA::IsField)
        p.InitFn = [](const TPropInfo& pi, TPersistent& o) { (static_cast<T&>(o).*B)(detail::FromVariant<V>(pi.Default)); };
    } else if constexpr (TA::IsField) {
      // The generic notifying setter: lock, clamp, compare, store, notify.
      p.SetFn = [](const TPropInfo& pi, TPersistent& o, const TVariant& v) {
        T& self = static_cast<T&>(o);
        V value = detail::FromVariant<V>(v);
        if constexpr (!std::is_same_v<V, bool> && !std::is_same_v<V, std::string> && !std::is_enum_v<V> &&
                      !detail::TIsEnumSet<V>::value)
          if (pi.HasMin) {
            const V m = detail::FromVariant<V>(pi.Min);
            if (value < m) value = m;
          }
        if constexpr (!std::is_same_v<V, bool> && !std::is_same_v<V, std::string> && !std::is_enum_v<V> &&
                      !detail::TIsEnumSet<V>::value)
          if (pi.HasMax) {
            const V m = detail::FromVariant<V>(pi.Max);
            if (value > m) value = m;
          }
        self.SetNotify(self.*A, value);
      };
    }
    return *this;
  }

  // Publishes the base class's property AName again with another default.
  template <class D>
  TClassBuilder& Republish(std::string_view AName, D ADefault) {
    const TPropInfo* base = FInfo.FParent ? FInfo.FParent->FindProperty(AName) : nullptr;
    if (!base) throw EPropertyError(Format("Class %s cannot re-publish %.*s: the base class has no such property",
                                           FInfo.FName.c_str(), static_cast<int>(AName.size()), AName.data()));
    TPropInfo& p = Add(base->Name);
    const std::uint32_t hash = p.Hash;
    const TClassInfo* declaredBy = p.DeclaredBy;
    p = *base;
    p.Hash = hash;
    p.DeclaredBy = declaredBy;
    if constexpr (std::is_enum_v<D>) p.Default = TVariant(static_cast<std::int32_t>(ADefault));
    else if constexpr (detail::TIsEnumSet<D>::value) p.Default = p.Coerce(TVariant(ADefault.Bits()));
    else p.Default = p.Coerce(TVariant(ADefault));
    return *this;
  }

  // Modifiers of the property declared last.
  template <class D>
  TClassBuilder& Min(D AMin) {
    Last().HasMin = true;
    Last().Min = Last().Coerce(TVariant(AMin));
    return *this;
  }
  // The largest value a document or a command line may give (the generic
  // setter clamps to it): the bound that keeps a run within memory and time.
  template <class D>
  TClassBuilder& Max(D AMax) {
    Last().HasMax = true;
    Last().Max = Last().Coerce(TVariant(AMax));
    return *this;
  }
  // NaN and the infinities are values of this Float or Double property.
  TClassBuilder& NonFinite() {
    Last().AllowsNonFinite = true;
    return *this;
  }
  TClassBuilder& NoDefault() {
    Last().HasDefault = false;
    return *this;
  }
  template <auto S>
  TClassBuilder& Stored() {
    Last().StoredFn = [](const TPersistent& o) { return (static_cast<const T&>(o).*S)(); };
    return *this;
  }
  template <auto L>
  TClassBuilder& Values() {
    Last().ValuesFn = [](const TPersistent& o) { return std::vector<std::string>((static_cast<const T&>(o).*L)()); };
    return *this;
  }
  TClassBuilder& Category(std::string_view AText) {
    Last().Hints.Category = AText;
    return *this;
  }
  TClassBuilder& Editor(std::string_view AText) {
    Last().Hints.Editor = AText;
    return *this;
  }
  TClassBuilder& Description(std::string_view AText) {
    Last().Hints.Description = AText;
    return *this;
  }

 private:
  TPropInfo& Add(std::string_view AName) { return FInfo.AddOwn(AName); }
  TPropInfo& Last() { return FInfo.LastOwn(); }

  // An event slot: a TNotifyEvent field (set under the lock) or a getter,
  // optionally with a setter of its own.
  template <auto A, auto B>
  TClassBuilder& AddEvent(std::string_view AName) {
    using TA = detail::TAccessorValue<decltype(A)>;
    TPropInfo& p = Add(AName);
    p.Kind = TPropKind::Event;
    if constexpr (TA::IsField) {
      p.GetEventFn = [](const TPersistent& o) -> TNotifyEvent {
        const T& self = static_cast<const T&>(o);
        return self.ReadLocked(self.*A);
      };
    } else {
      p.GetEventFn = [](const TPersistent& o) -> TNotifyEvent { return (static_cast<const T&>(o).*A)(); };
    }
    if constexpr (!std::is_same_v<decltype(B), std::nullptr_t>) {
      p.SetEventFn = [](TPersistent& o, TNotifyEvent h) { (static_cast<T&>(o).*B)(std::move(h)); };
    } else if constexpr (TA::IsField) {
      p.SetEventFn = [](TPersistent& o, TNotifyEvent h) {
        T& self = static_cast<T&>(o);
        self.SetHandler(self.*A, std::move(h));
      };
    }
    return *this;
  }

  template <auto A, auto B, class V>
  TClassBuilder& AddObject(std::string_view AName) {
    using TA = detail::TAccessorValue<decltype(A)>;
    using U = typename detail::TObjectOf<V>::Type;
    static_assert(!std::is_void_v<U>, "unsupported published property type");
    static_assert(std::is_base_of_v<TPersistent, U>, "an object property holds a persistent class");
    TPropInfo& p = Add(AName);
    p.ObjClass = &U::StaticClassInfo;
    if constexpr (U::kNXIsComponent) p.Kind = TPropKind::ComponentRef;
    else if constexpr (U::kNXIsCollection) p.Kind = TPropKind::Collection;
    else p.Kind = TPropKind::Object;
    if constexpr (TA::IsField) {
      if constexpr (detail::TUniquePtrArg<V>::value) {
        p.OwnsObject = true;
        p.GetObjFn = [](const TPersistent& o) -> TPersistent* { return (static_cast<const T&>(o).*A).get(); };
        if constexpr (std::is_constructible_v<U, T*>)
          p.InitFn = [](const TPropInfo&, TPersistent& o) {
            T& self = static_cast<T&>(o);
            if (!(self.*A)) (self.*A).reset(new U(&self));
          };
      } else {
        p.GetObjFn = [](const TPersistent& o) -> TPersistent* { return static_cast<const T&>(o).ReadLocked(static_cast<const T&>(o).*A); };
      }
    } else {
      p.GetObjFn = [](const TPersistent& o) -> TPersistent* { return (static_cast<const T&>(o).*A)(); };
    }
    if constexpr (U::kNXIsComponent) {
      if constexpr (!std::is_same_v<decltype(B), std::nullptr_t>) {
        p.SetRefFn = [](const TPropInfo&, TPersistent& o, TPersistent* v) {
          (static_cast<T&>(o).*B)(CheckedRef<U>(v));
        };
      } else if constexpr (TA::IsField && !detail::TUniquePtrArg<V>::value) {
        p.SetRefFn = [](const TPropInfo&, TPersistent& o, TPersistent* v) {
          T& self = static_cast<T&>(o);
          self.SetReference(self.*A, CheckedRef<U>(v));
        };
      }
    }
    return *this;
  }
  template <class U>
  static U* CheckedRef(TPersistent* v) {
    if (!v) return nullptr;
    U* u = dynamic_cast<U*>(v);
    if (!u) throw EPropertyConvertError("The component is not of the class the property holds");
    return u;
  }

  TClassInfo& FInfo;
};

namespace detail {
template <class T>
concept HasOwnDeclaration = requires(TClassBuilder<T>& b) { T::DeclareProperties(b); };

[[noreturn]] void RaiseOwnerKind(const TClassInfo& AClass);

template <class T>
TPersistent* MakeFromOwner(TPersistent* AOwner) {
  using O = typename T::TOwnerType;
  O* owner = nullptr;
  if (AOwner) {
    owner = dynamic_cast<O*>(AOwner);
    if (!owner) RaiseOwnerKind(T::StaticClassInfo());
  }
  return new T(owner);
}
template <class T>
const TClassInfo* ParentInfo() {
  if constexpr (std::is_same_v<typename T::inherited, void>) return nullptr;
  else return &T::inherited::StaticClassInfo();
}

template <class T>
TClassInfo::TFactory FactoryOf() {
  if constexpr (!std::is_abstract_v<T> && std::is_constructible_v<T, typename T::TOwnerType*>) return &MakeFromOwner<T>;
  else return nullptr;
}
}  // namespace detail

template <class T>
TClassInfo::TClassInfo(TTag<T>, std::string_view AName)
    : TClassInfo(AName, detail::ParentInfo<T>(), T::kNXIsComponent, T::kNXIsCollection, detail::FactoryOf<T>()) {
  if constexpr (detail::HasOwnDeclaration<T>) {
    // Only a declaration of T itself counts: a base class's takes a builder of the base.
    if constexpr (std::is_invocable_v<decltype(&T::DeclareProperties), TClassBuilder<T>&>) {
      TClassBuilder<T> b(*this);
      T::DeclareProperties(b);
    }
  }
  Finish();
}

}  // namespace nx

// In the class body of every persistent class, first: the class's type
// information (StaticClassInfo, the virtual GetClassInfo) and `inherited`.
// Leaves the access at private. The description is made on first use and
// never freed: the package's finalization (which unregisters classes) runs
// after the process has destroyed its function-local statics.
#define NX_PERSISTENT(Self, Base)                                                     \
 public:                                                                              \
  using inherited = Base;                                                             \
  static const ::nx::TClassInfo& StaticClassInfo() {                                  \
    static const ::nx::TClassInfo* info =                                            \
        new ::nx::TClassInfo(::nx::TClassInfo::TTag<Self>{}, #Self);                  \
    return *info;                                                                     \
  }                                                                                   \
  const ::nx::TClassInfo& GetClassInfo() const override { return StaticClassInfo(); } \
                                                                                      \
 private:

// The same for a class of the library that other code derives from: the
// class body declares the type information (NX_PERSISTENT_DECL) and one
// source file of the library defines it (NX_PERSISTENT_IMPL, inside the
// class's namespace). GetClassInfo then is the class's first out-of-line
// virtual function, so its virtual tables and the description's code are
// made once, in the library, instead of in every file that derives a
// component from it.
#define NX_PERSISTENT_DECL(Self, Base)                   \
 public:                                                 \
  using inherited = Base;                                \
  static const ::nx::TClassInfo& StaticClassInfo();      \
  const ::nx::TClassInfo& GetClassInfo() const override; \
                                                         \
 private:

#define NX_PERSISTENT_IMPL(Self)                                                           \
  const ::nx::TClassInfo& Self::StaticClassInfo() {                                        \
    static const ::nx::TClassInfo* info = new ::nx::TClassInfo(::nx::TClassInfo::TTag<Self>{}, #Self); \
    return *info;                                                                          \
  }                                                                                        \
  const ::nx::TClassInfo& Self::GetClassInfo() const { return StaticClassInfo(); }
