// Zandor.Interfaces: the interface identifiers (TGUID), the reference-counted
// interface base IInterface, the interfaced-object base TInterfacedObject, the
// intrusive smart pointer TIntfPtr and the Supports queries. Every data object
// that travels between components (buffers, operations, stamps, proxies) is
// handed out through these.
//
// Object model in short:
//   struct IFoo : virtual IInterface {             // IInterface is a virtual base
//     NX_INTERFACE_ID(IFoo, "{...}");              // the identifier of IFoo
//     virtual int Foo() = 0;
//   };
//   struct IFoo2 : IFoo { NX_INTERFACE_ID(IFoo2, "{...}"); ... };  // extends IFoo
//   class TFoo : public TInterfacedObject, public IFoo2, public IBar {
//     NX_INTERFACES(TInterfacedObject, IFoo, IFoo2, IBar)  // what QueryInterface answers
//     ...
//   };
//   TIntfPtr<IFoo> p(new TFoo);                  // count 1; freed with the last reference
//   TIntfPtr<IBar> b = Supports<IBar>(p);        // empty when TFoo lacks IBar
//
// IInterface is a virtual base of every interface and of TInterfacedObject, so
// an object has exactly one IInterface part however many interfaces it
// implements, and TInterfacedObject's reference counting serves all of them:
// a class adds interfaces by deriving from them, without re-implementing
// _AddRef/_Release. Each interface pointer handed out is the object's `this`
// converted to that interface, i.e. correctly adjusted for multiple inheritance.
#pragma once

#include <atomic>
#include <compare>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "runtime/Zandor.Function.h"

namespace nx {

namespace detail {
// Raises EConvertError for malformed GUID text. Not constexpr on purpose: a
// malformed literal parsed at compile time becomes a compile error.
[[noreturn]] void RaiseInvalidGUID(std::string_view text);

constexpr int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace detail

// A 128-bit interface identifier in the usual field layout (16 bytes).
struct TGUID {
  std::uint32_t D1 = 0;
  std::uint16_t D2 = 0;
  std::uint16_t D3 = 0;
  std::uint8_t D4[8] = {};

  // Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"; the form without braces
  // is accepted too. Hex digits in either case; nothing else (no spaces, no
  // other lengths). Returns false and leaves `out` alone for malformed text.
  static constexpr bool TryParse(std::string_view text, TGUID& out) {
    if (text.size() == 38) {
      if (text.front() != '{' || text.back() != '}') return false;
      text = text.substr(1, 36);
    } else if (text.size() != 36) {
      return false;
    }
    // Byte k of the 16 comes from the two hex digits at kPos[k].
    constexpr int kPos[16] = {0, 2, 4, 6, 9, 11, 14, 16, 19, 21, 24, 26, 28, 30, 32, 34};
    if (text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') return false;
    std::uint8_t bytes[16] = {};
    for (int k = 0; k < 16; ++k) {
      const int hi = detail::HexDigitValue(text[kPos[k]]);
      const int lo = detail::HexDigitValue(text[kPos[k] + 1]);
      if (hi < 0 || lo < 0) return false;
      bytes[k] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    TGUID g;
    g.D1 = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
    g.D2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
    g.D3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
    for (int k = 0; k < 8; ++k) g.D4[k] = bytes[8 + k];
    out = g;
    return true;
  }

  // Parses like TryParse; malformed text raises EConvertError at run time and
  // fails to compile in a constant expression.
  static constexpr TGUID Parse(std::string_view text) {
    TGUID g;
    if (!TryParse(text, g)) detail::RaiseInvalidGUID(text);
    return g;
  }

  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" with upper-case hex digits.
  std::string ToString() const;

  constexpr bool IsEmpty() const { return *this == TGUID{}; }

  // Member-wise: D1, then D2, D3 and the bytes of D4 (a total order for maps).
  friend constexpr bool operator==(const TGUID&, const TGUID&) = default;
  friend constexpr std::strong_ordering operator<=>(const TGUID&, const TGUID&) = default;
};
static_assert(sizeof(TGUID) == 16, "TGUID must be 16 bytes");

std::ostream& operator<<(std::ostream& os, const TGUID& g);

// Hash of a TGUID (also available as std::hash<nx::TGUID>).
struct TGUIDHash {
  constexpr std::size_t operator()(const TGUID& g) const noexcept {
    std::uint64_t lo = (std::uint64_t{g.D1} << 32) | (std::uint64_t{g.D2} << 16) | g.D3;
    std::uint64_t hi = 0;
    for (int k = 0; k < 8; ++k) hi = (hi << 8) | g.D4[k];
    // Mix both halves (splitmix64 finaliser) so that GUIDs differing in any
    // field spread over the buckets.
    std::uint64_t x = lo ^ (hi * 0x9E3779B97F4A7C15ull);
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    x ^= x >> 31;
    return static_cast<std::size_t>(x);
  }
};

namespace literals {
// "{...}"_guid: a TGUID checked and parsed at compile time.
consteval TGUID operator""_guid(const char* text, std::size_t length) {
  return TGUID::Parse(std::string_view(text, length));
}
}  // namespace literals

// Declares the identifier of an interface type inside its struct. The first
// argument must name the struct itself: it lets IsInterface<T> reject an
// interface that forgot its own identifier and would otherwise silently
// inherit its parent's.
#define NX_INTERFACE_ID(Self, text)       \
  using NXInterfaceSelf = Self;           \
  static constexpr ::nx::TGUID IID = ::nx::TGUID::Parse(text)

// The base of every interface. QueryInterface returns true and stores an
// interface pointer that carries one new reference in *obj when the object
// implements `iid`; otherwise it returns false and stores nullptr. (A Boolean
// rather than an HRESULT-like code: "not supported" is the only failure, and
// the library's convention is Boolean results.) _AddRef and _Release return
// the new reference count; the object frees itself when _Release reaches 0.
struct IInterface {
  NX_INTERFACE_ID(IInterface, "{00000000-0000-0000-C000-000000000046}");
  virtual bool QueryInterface(const TGUID& iid, void** obj) noexcept = 0;
  virtual std::int32_t _AddRef() noexcept = 0;
  virtual std::int32_t _Release() noexcept = 0;

 protected:
  // Objects are destroyed through _Release, never through an interface pointer.
  virtual ~IInterface() = default;
};

// An interface type: derives from IInterface as a virtual base (a static_cast
// from IInterface* down to it is then impossible) and declares its own identifier.
template <class T>
concept IsInterface = std::is_base_of_v<IInterface, T> && requires {
  { T::IID } -> std::convertible_to<const TGUID&>;
  typename T::NXInterfaceSelf;
} && std::is_same_v<typename T::NXInterfaceSelf, std::remove_cv_t<T>> &&
  (std::is_same_v<std::remove_cv_t<T>, IInterface> || !requires(IInterface* p) { static_cast<T*>(p); });

// The identifier attached to interface type T.
template <IsInterface T>
inline constexpr TGUID InterfaceIdOf = T::IID;

// Answers a QueryInterface for the interfaces I...: when `iid` names one of
// them, stores static_cast<I*>(self) (the adjusted pointer), takes a
// reference and returns true.
template <class... I, class Self>
bool QueryInterfaces(Self* self, const TGUID& iid, void** obj) noexcept {
  static_assert((IsInterface<I> && ...), "every listed type must be an interface with its own IID");
  static_assert((std::is_base_of_v<I, Self> && ...), "the object does not implement a listed interface");
  bool found = false;
  ((!found && iid == I::IID
        ? (*obj = static_cast<void*>(static_cast<I*>(self)), found = true)
        : false),
   ...);
  if (found) static_cast<IInterface*>(self)->_AddRef();
  return found;
}

// Lists the interfaces a class answers for, first in its class body (it
// leaves the access at private): NX_INTERFACES(Base, IFoo, IBar). Interfaces
// not listed here are still answered by the base class.
// A class that derives from an interface extending another lists both when
// both should be found.
#define NX_INTERFACES(Base, ...)                                                         \
 protected:                                                                             \
  bool IntQueryInterface(const ::nx::TGUID& iid, void** obj) noexcept override {        \
    return ::nx::QueryInterfaces<__VA_ARGS__>(this, iid, obj) || Base::IntQueryInterface(iid, obj); \
  }                                                                                     \
                                                                                        \
 private:

// The interfaced-object base: an atomic reference count starting at 0 (the
// first TIntfPtr that takes the object makes it 1) and `delete this` when the
// last reference is released.
//
// While a constructor runs the count is 0: a constructor must not hand `this`
// to a TIntfPtr that it lets go again, or the object is freed under it.
// Objects are made with `new` (or Make<T>); one that lives elsewhere (stack,
// member) must never be released to 0.
template <class T>
class TIntfPtr;
class TInterfacedObject;

namespace detail {
// The control block that an object shares with its weak references. It
// outlives the object while weak references remain; the object clears
// FObject when it dies. A tiny spin lock orders a weak reference's attempt to
// take a strong one against the object's death: the attempt raises the count
// only while it is above 0 and the object's memory is still there.
class TWeakControl {
 public:
  explicit TWeakControl(TInterfacedObject* AObject) noexcept : FObject(AObject) {}
  void AddRef() noexcept { FCount.fetch_add(1, std::memory_order_relaxed); }
  void Release() noexcept {
    if (FCount.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
  // True (with one new strong reference on the object) while it lives.
  bool TryLock() noexcept;
  // Called by the dying object.
  void ObjectGone() noexcept;

 private:
  void Enter() noexcept {
    while (FSpin.exchange(true, std::memory_order_acquire))
      while (FSpin.load(std::memory_order_relaxed)) {
      }
  }
  void Leave() noexcept { FSpin.store(false, std::memory_order_release); }

  std::atomic<std::int32_t> FCount{1};  // the object's share and one per weak reference
  std::atomic<bool> FSpin{false};
  TInterfacedObject* FObject;
};
}  // namespace detail

class TInterfacedObject : public virtual IInterface {
  template <class I, class T>
  friend TIntfPtr<I> AdoptNew(T* AObject) noexcept;

 public:
  TInterfacedObject() = default;
  TInterfacedObject(const TInterfacedObject&) = delete;
  TInterfacedObject& operator=(const TInterfacedObject&) = delete;
  ~TInterfacedObject() override {
    if (detail::TWeakControl* c = FWeakControl.load(std::memory_order_acquire)) {
      c->ObjectGone();
      c->Release();
    }
  }

  bool QueryInterface(const TGUID& iid, void** obj) noexcept final {
    if (!obj) return false;
    *obj = nullptr;
    return IntQueryInterface(iid, obj);
  }
  // Increments need no ordering: a thread can only add a reference through
  // one it already holds. The decrement is acq_rel so that every write made
  // through any reference happens before the destructor runs.
  std::int32_t _AddRef() noexcept final {
    return FRefCount.fetch_add(1, std::memory_order_relaxed) + 1;
  }
  // The last reference needs no locked instruction: no other thread holds one
  // through which it could add another. The acquire load still orders every
  // earlier release by other holders before the destructor. An object with
  // weak references takes the locked path always: a weak reference may add a
  // strong one (from a count above 0) at any moment. (A weak reference can
  // only be made from a strong one, so when the caller holds the only strong
  // reference and sees no control block, none can appear meanwhile.)
  std::int32_t _Release() noexcept final {
    if (FRefCount.load(std::memory_order_acquire) == 1 && !FWeakControl.load(std::memory_order_relaxed)) {
      FRefCount.store(0, std::memory_order_relaxed);  // destructors see 0, as on the other path
      delete this;
      return 0;
    }
    const std::int32_t count = FRefCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (count == 0) delete this;
    return count;
  }

  // The current count; a snapshot, exact only when no other thread holds the object.
  std::int32_t RefCount() const noexcept { return FRefCount.load(std::memory_order_relaxed); }

  // Adds a strong reference only while the count is above 0 (an object
  // whose count reached 0 is being destroyed and stays so). For weak references.
  bool TryAddRef() noexcept {
    std::int32_t c = FRefCount.load(std::memory_order_relaxed);
    while (c > 0)
      if (FRefCount.compare_exchange_weak(c, c + 1, std::memory_order_relaxed)) return true;
    return false;
  }
  // The weak-reference control block of this object, made on the first call
  // (the caller must hold a strong reference). TWeakIntfPtr uses it.
  detail::TWeakControl* WeakControl();

 protected:
  // The list of interfaces: IInterface itself. Subclasses extend it with NX_INTERFACES.
  virtual bool IntQueryInterface(const TGUID& iid, void** obj) noexcept {
    return QueryInterfaces<IInterface>(this, iid, obj);
  }

 private:
  std::atomic<std::int32_t> FRefCount{0};
  std::atomic<detail::TWeakControl*> FWeakControl{nullptr};
};

// The intrusive smart pointer of interfaces (and of interfaced objects): holds
// one reference while it is not empty. One raw pointer in size, no allocation.
template <class T>
class TIntfPtr {
 public:
  using element_type = T;

  constexpr TIntfPtr() noexcept = default;
  constexpr TIntfPtr(std::nullptr_t) noexcept {}
  // From a raw pointer: takes a reference of its own. Explicit, and there is
  // no assignment from a raw pointer: adopting an object is always written
  // out, so a stack object or a stray `this` cannot become owned (and later
  // freed) by an implicit conversion.
  explicit TIntfPtr(T* p) noexcept : FPtr(p) {
    if (FPtr) FPtr->_AddRef();
  }
  TIntfPtr(const TIntfPtr& other) noexcept : TIntfPtr(other.FPtr) {}
  TIntfPtr(TIntfPtr&& other) noexcept : FPtr(std::exchange(other.FPtr, nullptr)) {}
  template <class U>
    requires std::is_convertible_v<U*, T*>
  TIntfPtr(const TIntfPtr<U>& other) noexcept : TIntfPtr(static_cast<T*>(other.Get())) {}
  template <class U>
    requires std::is_convertible_v<U*, T*>
  TIntfPtr(TIntfPtr<U>&& other) noexcept : FPtr(static_cast<T*>(other.Detach())) {}

  ~TIntfPtr() {
    if (FPtr) FPtr->_Release();
  }

  // Assignments take the new reference before releasing the old one, so
  // self-assignment and assigning an object owned through the old pointer are safe.
  TIntfPtr& operator=(std::nullptr_t) noexcept {
    Reset();
    return *this;
  }
  TIntfPtr& operator=(const TIntfPtr& other) noexcept {
    AssignRaw(other.FPtr);
    return *this;
  }
  TIntfPtr& operator=(TIntfPtr&& other) noexcept {
    if (this != &other) Attach(other.Detach());
    return *this;
  }
  template <class U>
    requires std::is_convertible_v<U*, T*>
  TIntfPtr& operator=(const TIntfPtr<U>& other) noexcept {
    AssignRaw(static_cast<T*>(other.Get()));
    return *this;
  }
  template <class U>
    requires std::is_convertible_v<U*, T*>
  TIntfPtr& operator=(TIntfPtr<U>&& other) noexcept {
    Attach(static_cast<T*>(other.Detach()));
    return *this;
  }

  T* Get() const noexcept { return FPtr; }
  T* operator->() const noexcept { return FPtr; }
  T& operator*() const noexcept { return *FPtr; }
  explicit operator bool() const noexcept { return FPtr != nullptr; }

  // Gives up the pointer without releasing it: the caller now owns that reference.
  [[nodiscard]] T* Detach() noexcept { return std::exchange(FPtr, nullptr); }
  // Releases the current pointer and adopts `p` together with a reference the
  // caller already holds (no _AddRef).
  void Attach(T* p) noexcept {
    T* old = std::exchange(FPtr, p);
    if (old) old->_Release();
  }
  void Reset() noexcept { Attach(nullptr); }
  void Swap(TIntfPtr& other) noexcept { std::swap(FPtr, other.FPtr); }
  friend void swap(TIntfPtr& a, TIntfPtr& b) noexcept { a.Swap(b); }

  // Compare the pointer values. Two pointers to different interfaces of one
  // object differ; use SameObject for identity.
  template <class U>
  friend bool operator==(const TIntfPtr& a, const TIntfPtr<U>& b) noexcept {
    return a.Get() == b.Get();
  }
  friend bool operator==(const TIntfPtr& a, const T* b) noexcept { return a.FPtr == b; }
  friend bool operator==(const TIntfPtr& a, std::nullptr_t) noexcept { return !a.FPtr; }
  friend std::strong_ordering operator<=>(const TIntfPtr& a, const TIntfPtr& b) noexcept {
    return std::compare_three_way{}(a.FPtr, b.FPtr);
  }

 private:
  void AssignRaw(T* p) noexcept {
    if (p) p->_AddRef();
    T* old = std::exchange(FPtr, p);
    if (old) old->_Release();
  }

  T* FPtr = nullptr;
};

// The first reference to an object just made with new, as a pointer to I.
// While nobody but the maker has seen the object its count is 0 and is set
// with a plain store instead of a locked add (objects made and released on
// every data path, such as buffers passed on, save one locked instruction).
// A constructor that kept a reference of its own leaves a count above 0,
// which is then incremented as usual.
template <class I, class T>
TIntfPtr<I> AdoptNew(T* AObject) noexcept {
  TInterfacedObject* obj = AObject;
  if (obj->FRefCount.load(std::memory_order_relaxed) == 0)
    obj->FRefCount.store(1, std::memory_order_relaxed);
  else
    obj->FRefCount.fetch_add(1, std::memory_order_relaxed);
  TIntfPtr<I> result;
  result.Attach(static_cast<I*>(AObject));
  return result;
}

// Makes a new interfaced object and returns it holding the first reference.
template <class T, class... Args>
TIntfPtr<T> Make(Args&&... args) {
  return TIntfPtr<T>(new T(std::forward<Args>(args)...));
}

// A weak reference to an interface of an interfaced object: it does not keep
// the object alive, and Lock gives a strong reference while the object lives
// and an empty one after its last strong reference went. Safe to Lock from
// any thread while another releases the object. Only objects derived from
// TInterfacedObject can be referenced weakly (EArgumentException otherwise).
template <class T>
class TWeakIntfPtr {
 public:
  TWeakIntfPtr() noexcept = default;
  explicit TWeakIntfPtr(const TIntfPtr<T>& AStrong) : FPtr(AStrong.Get()) {
    if (FPtr) FControl = WeakControlOf(static_cast<IInterface*>(FPtr));
  }
  TWeakIntfPtr(const TWeakIntfPtr& o) noexcept : FControl(o.FControl), FPtr(o.FPtr) {
    if (FControl) FControl->AddRef();
  }
  TWeakIntfPtr(TWeakIntfPtr&& o) noexcept
      : FControl(std::exchange(o.FControl, nullptr)), FPtr(std::exchange(o.FPtr, nullptr)) {}
  TWeakIntfPtr& operator=(TWeakIntfPtr o) noexcept {
    std::swap(FControl, o.FControl);
    std::swap(FPtr, o.FPtr);
    return *this;
  }
  ~TWeakIntfPtr() {
    if (FControl) FControl->Release();
  }

  // A strong reference, or empty when the object is gone.
  TIntfPtr<T> Lock() const noexcept {
    TIntfPtr<T> result;
    if (FControl && FControl->TryLock()) result.Attach(FPtr);
    return result;
  }
  // True once the object has gone (or for an empty reference).
  bool Expired() const noexcept { return !Lock(); }
  // The pointer it was made from, for identity comparisons only (never
  // dereference it: the object may be gone).
  const void* Address() const noexcept { return FPtr; }

 private:
  // The control block of the object behind AIntf, with one new reference.
  static detail::TWeakControl* WeakControlOf(IInterface* AIntf);
  detail::TWeakControl* FControl = nullptr;
  T* FPtr = nullptr;
};

namespace detail {
TWeakControl* AcquireWeakControl(IInterface* AIntf);
}
template <class T>
detail::TWeakControl* TWeakIntfPtr<T>::WeakControlOf(IInterface* AIntf) {
  return detail::AcquireWeakControl(AIntf);
}

// ---- Supports: ask an object for an interface. A null source supports nothing.

// Stores a pointer with a new reference in *out (nullptr when not supported).
inline bool Supports(IInterface* source, const TGUID& iid, void** out) noexcept {
  if (!out) return false;
  *out = nullptr;
  return source && source->QueryInterface(iid, out);
}
// Only tells whether the interface is there.
inline bool Supports(IInterface* source, const TGUID& iid) noexcept {
  void* obj = nullptr;
  if (!Supports(source, iid, &obj)) return false;
  source->_Release();  // the reference QueryInterface took
  return true;
}
template <IsInterface I>
bool Supports(IInterface* source, TIntfPtr<I>& out) noexcept {
  void* obj = nullptr;
  const bool ok = Supports(source, I::IID, &obj);
  out.Attach(static_cast<I*>(obj));
  return ok;
}
template <IsInterface I>
TIntfPtr<I> Supports(IInterface* source) noexcept {
  TIntfPtr<I> out;
  Supports(source, out);
  return out;
}
template <class S>
bool Supports(const TIntfPtr<S>& source, const TGUID& iid, void** out) noexcept {
  return Supports(static_cast<IInterface*>(source.Get()), iid, out);
}
template <class S>
bool Supports(const TIntfPtr<S>& source, const TGUID& iid) noexcept {
  return Supports(static_cast<IInterface*>(source.Get()), iid);
}
template <IsInterface I, class S>
bool Supports(const TIntfPtr<S>& source, TIntfPtr<I>& out) noexcept {
  return Supports(static_cast<IInterface*>(source.Get()), out);
}
template <IsInterface I, class S>
TIntfPtr<I> Supports(const TIntfPtr<S>& source) noexcept {
  return Supports<I>(static_cast<IInterface*>(source.Get()));
}

// True when both pointers lead to the same object (compared through their
// IInterface identity); two null pointers are the same.
bool SameObject(IInterface* a, IInterface* b) noexcept;
template <class A, class B>
bool SameObject(const TIntfPtr<A>& a, const TIntfPtr<B>& b) noexcept {
  return SameObject(static_cast<IInterface*>(a.Get()), static_cast<IInterface*>(b.Get()));
}

}  // namespace nx

template <>
struct std::hash<nx::TGUID> : nx::TGUIDHash {};

template <class T>
struct std::hash<nx::TIntfPtr<T>> {
  std::size_t operator()(const nx::TIntfPtr<T>& p) const noexcept { return std::hash<T*>{}(p.Get()); }
};
