// Interface support: GUIDs, TIntfPtr reference counts (also across threads), Supports, weak references.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <type_traits>
#include <vector>

#include "ThreadTestSupport.h"
#include "nxruntime.h"

namespace nx {
namespace {

using namespace nx::literals;
using nxtest::TThreadGroup;

TEST(GUIDTest, FormatParseRoundTrip) {
  // The fields in the usual layout, at compile time too; braces and case are optional.
  constexpr TGUID g = TGUID::Parse("{208F9564-3C20-4C97-BB77-2FC5AE6E4194}");
  static_assert(g.D1 == 0x208F9564u && g.D2 == 0x3C20 && g.D3 == 0x4C97);
  static_assert(g.D4[0] == 0xBB && g.D4[1] == 0x77 && g.D4[2] == 0x2F && g.D4[7] == 0x94);
  EXPECT_EQ(g, "{208f9564-3c20-4c97-bb77-2fc5ae6e4194}"_guid);
  EXPECT_EQ(g, TGUID::Parse("208F9564-3C20-4C97-BB77-2FC5AE6E4194"));
  EXPECT_EQ(TGUID::Parse("{01020304-0506-0708-090A-0B0C0D0E0F10}").ToString(), "{01020304-0506-0708-090A-0B0C0D0E0F10}");
  EXPECT_EQ(TGUID::Parse("{abcdef01-2345-6789-abcd-ef0123456789}").ToString(),
            "{ABCDEF01-2345-6789-ABCD-EF0123456789}");  // formats in upper case
}

TEST(GUIDTest, RejectsMalformedText) {
  const char* bad[] = {
      "", "{208F9564-3C20-4C97-BB77-2FC5AE6E419}", "{208F9564-3C20-4C97-BB77-2FC5AE6E41945}",  // digit short, too many
      "208F9564-3C20-4C97-BB77-2FC5AE6E4194}", "(208F9564-3C20-4C97-BB77-2FC5AE6E4194)",    // one brace, wrong ones
      "{208F9564-3C20-4C97-BB772-FC5AE6E4194}", "{208G9564-3C20-4C97-BB77-2FC5AE6E4194}",   // dash moved, not hex
      "{ 08F9564-3C20-4C97-BB77-2FC5AE6E4194}", "{+08F9564-3C20-4C97-BB77-2FC5AE6E4194}",
  };
  const TGUID before = "{11111111-1111-1111-1111-111111111111}"_guid;
  for (const char* text : bad) {
    SCOPED_TRACE(text);
    TGUID g = before;
    EXPECT_FALSE(TGUID::TryParse(text, g));
    EXPECT_EQ(g, before);  // untouched
    EXPECT_THROW(TGUID::Parse(text), EConvertError);
  }
}

TEST(GUIDTest, OrderingComparesFieldsInOrder) {
  // D1 decides before D2, D2 before D3, D3 before the D4 bytes, which compare left to right.
  const TGUID ordered[] = {
      "{00000000-0000-0000-0000-000000000001}"_guid, "{00000000-0000-0000-0100-000000000000}"_guid,
      "{00000000-0000-0001-0000-000000000000}"_guid, "{00000000-0001-0000-0000-000000000000}"_guid,
      "{00000001-0000-0000-0000-000000000000}"_guid, "{00000001-0000-0000-0000-000000000001}"_guid,
      "{FFFFFFFE-FFFF-FFFF-FFFF-FFFFFFFFFFFF}"_guid, "{FFFFFFFF-0000-0000-0000-000000000000}"_guid,
  };
  const std::size_t n = std::size(ordered);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) {
      EXPECT_EQ(ordered[i] < ordered[j], i < j) << i << " " << j;
      EXPECT_EQ(ordered[i] == ordered[j], i == j) << i << " " << j;
      EXPECT_EQ(std::hash<TGUID>{}(ordered[i]) == std::hash<TGUID>{}(ordered[j]), i == j) << i << " " << j;
    }
  EXPECT_TRUE(TGUID{}.IsEmpty());
  EXPECT_FALSE(ordered[0].IsEmpty());
}

struct IFoo : virtual IInterface {
  NX_INTERFACE_ID(IFoo, "{6B1D6A10-0E63-4C7B-9C1E-1A5E0F7A0001}");
  virtual int Foo() = 0;
};
struct IFooEx : IFoo {
  NX_INTERFACE_ID(IFooEx, "{6B1D6A10-0E63-4C7B-9C1E-1A5E0F7A0002}");
  virtual int FooEx() = 0;
};
struct IBar : virtual IInterface {
  NX_INTERFACE_ID(IBar, "{6B1D6A10-0E63-4C7B-9C1E-1A5E0F7A0003}");
  virtual int Bar() = 0;
};
struct IBaz : virtual IInterface {
  NX_INTERFACE_ID(IBaz, "{6B1D6A10-0E63-4C7B-9C1E-1A5E0F7A0004}");
  virtual int Baz() = 0;
};
struct IMissing : virtual IInterface {  // implemented by nothing
  NX_INTERFACE_ID(IMissing, "{6B1D6A10-0E63-4C7B-9C1E-1A5E0F7A0005}");
};
struct IForgotId : IFoo {};  // without its own IID: not an interface to the library

static_assert(IsInterface<IFoo> && IsInterface<IFooEx> && IsInterface<IInterface>);
static_assert(!IsInterface<IForgotId>);
static_assert(InterfaceIdOf<IFooEx> != InterfaceIdOf<IFoo>);
static_assert(sizeof(TIntfPtr<IFoo>) == sizeof(void*));

class TTracked : public TInterfacedObject {
 public:
  explicit TTracked(std::atomic<int>* destroyed) : FDestroyed(destroyed) {}
  ~TTracked() override { FDestroyed->fetch_add(1); }

 private:
  std::atomic<int>* FDestroyed;
};

// Each method answers from a field, so that a call through a wrongly adjusted pointer shows.
class TFooBar : public TTracked, public IFooEx, public IBar {
  NX_INTERFACES(TTracked, IFoo, IFooEx, IBar)
 public:
  TFooBar(std::atomic<int>* destroyed, int base) : TTracked(destroyed), FBase(base) {}
  int Foo() override { return FBase + 1; }
  int FooEx() override { return FBase + 2; }
  int Bar() override { return FBase + 3; }

 private:
  int FBase;
};

// A subclass adding one interface to its parent's list.
class TFooBarBaz : public TFooBar, public IBaz {
  NX_INTERFACES(TFooBar, IBaz)
 public:
  using TFooBar::TFooBar;
  int Baz() override { return Foo() + 3; }
};

// Adopting a raw pointer is always written out, so a stack object or a stray `this` is never owned by accident.
static_assert(std::is_constructible_v<TIntfPtr<IFoo>, IFoo*>);
static_assert(!std::is_convertible_v<IFoo*, TIntfPtr<IFoo>>);
static_assert(!std::is_assignable_v<TIntfPtr<IFoo>&, IFoo*>);
static_assert(!std::is_convertible_v<TFooBar*, TIntfPtr<IFoo>>);
static_assert(std::is_assignable_v<TIntfPtr<IFoo>&, std::nullptr_t>);
static_assert(std::is_convertible_v<TIntfPtr<TFooBar>, TIntfPtr<IFoo>>);

TEST(IntfPtrTest, CopiesMovesResetsDetachAndAttachCountReferences) {
  std::atomic<int> destroyed{0};
  auto* raw = new TFooBar(&destroyed, 0);
  {
    TIntfPtr<IFoo> a(raw);  // from a raw pointer: takes a reference
    TIntfPtr<IFoo> b = a;
    EXPECT_EQ(raw->RefCount(), 2);
    TIntfPtr<IFoo> c = std::move(b);  // move: no change
    EXPECT_FALSE(b);
    c = c;  // self-assignment keeps the count
    c = std::move(c);
    c = TIntfPtr<IFoo>(a.Get());  // the same object adopted again
    EXPECT_TRUE(c == a && c == a.Get() && b == nullptr && c != nullptr && (a <=> c) == 0);
    EXPECT_EQ(std::hash<TIntfPtr<IFoo>>{}(a), std::hash<TIntfPtr<IFoo>>{}(c));
    EXPECT_EQ(raw->RefCount(), 2);
    TIntfPtr<IInterface> base = a;  // converting copy
    EXPECT_EQ(raw->RefCount(), 3);
    base = nullptr;
    c.Reset();
    // Assignment releases the old object once; moving an empty pointer in releases the held one.
    std::atomic<int> d1{0}, d2{0};
    TIntfPtr<IFoo> p(new TFooBar(&d1, 0)), q(new TFooBar(&d2, 0));
    p = q;
    EXPECT_EQ(d1.load(), 1);
    q = std::move(b);  // b is empty
    p = std::move(q);
    EXPECT_EQ(d2.load(), 1);
    EXPECT_EQ(raw->RefCount(), 1);
  }
  EXPECT_EQ(destroyed.load(), 1);
  // Detach keeps the reference and Attach adopts it; Attach over a held pointer releases the old one.
  std::atomic<int> destroyed2{0};
  TIntfPtr<IBar> a(new TFooBar(&destroyed, 0));
  IBar* detached = a.Detach();
  EXPECT_EQ(destroyed.load(), 1);  // the detached reference keeps it alive
  TIntfPtr<IBar> b;
  b.Attach(detached);
  EXPECT_EQ(detached->_AddRef(), 2);
  detached->_Release();
  TIntfPtr<IBar> other(new TFooBar(&destroyed2, 0));
  b.Attach(other.Detach());
  EXPECT_EQ(destroyed.load(), 2);
  b.Reset();
  EXPECT_EQ(destroyed2.load(), 1);
}

// A constructor that keeps a reference to itself (as an object registering itself would).
class TSelfHeld : public TFooBar {
 public:
  TSelfHeld(std::atomic<int>* destroyed, int* countInDestructor) : TFooBar(destroyed, 0), FCountSeen(countInDestructor) {
    FSelf = TIntfPtr<IFoo>(static_cast<IFoo*>(this));
  }
  ~TSelfHeld() override { *FCountSeen = RefCount(); }
  void DropSelf() { FSelf.Reset(); }

 private:
  TIntfPtr<IFoo> FSelf;
  int* FCountSeen;
};

TEST(IntfPtrTest, AdoptNewTakesTheFirstReferenceAndKeepsOthers) {
  std::atomic<int> destroyed{0};
  int countSeen = -1;
  {
    TIntfPtr<IBar> bar = AdoptNew<IBar>(new TFooBar(&destroyed, 20));
    EXPECT_EQ(bar->Bar(), 23);  // the adjusted interface pointer
    TIntfPtr<TFooBar> obj = Make<TFooBar>(&destroyed, 10);  // Make too returns the only reference
    EXPECT_EQ(obj->RefCount(), 1);
  }
  EXPECT_EQ(destroyed.load(), 2);
  {
    auto* obj = new TSelfHeld(&destroyed, &countSeen);
    TIntfPtr<IFoo> foo = AdoptNew<IFoo>(obj);
    EXPECT_EQ(obj->RefCount(), 2);  // the constructor's own reference is not overwritten
    obj->DropSelf();
  }
  EXPECT_EQ(destroyed.load(), 3);
  EXPECT_EQ(countSeen, 0);  // the last release runs the destructor with the count at 0
}

TEST(IntfPtrTest, ConcurrentCopiesDestroyTheObjectExactlyOnce) {
  std::atomic<int> destroyed{0};
  TIntfPtr<IFoo> shared(new TFooBar(&destroyed, 0));
  std::atomic<bool> go{false};
  TThreadGroup threads(8, [&](int t) {
    while (!go.load(std::memory_order_acquire)) std::this_thread::yield();
    for (int i = 0; i < 100000; ++i) {  // copy, move and converting copy of the shared pointer
      TIntfPtr<IFoo> copy = shared;
      TIntfPtr<IFoo> moved = std::move(copy);
      if ((i + t) % 3 == 0) TIntfPtr<IInterface> base = moved;
    }
  });
  go.store(true, std::memory_order_release);
  threads.Join();
  EXPECT_EQ(static_cast<TFooBar*>(static_cast<IFooEx*>(shared.Get()))->RefCount(), 1);
  shared.Reset();
  EXPECT_EQ(destroyed.load(), 1);
}

TEST(IntfPtrTest, LastReleaseOnAnyThreadDestroysOnce) {
  for (int round = 0; round < 50; ++round) {
    std::atomic<int> destroyed{0};
    TIntfPtr<IBar> p(new TFooBar(&destroyed, round));
    std::vector<TIntfPtr<IBar>> refs(4, p);  // one per thread; each thread touches its own
    p.Reset();
    TThreadGroup(4, [&](int t) {
      EXPECT_EQ(refs[t]->Bar(), round + 3);
      refs[t].Reset();
    }).Join();
    EXPECT_EQ(destroyed.load(), 1);
  }
}

TEST(QueryInterfaceTest, EachInterfaceGetsItsAdjustedPointer) {
  std::atomic<int> destroyed{0};
  auto* obj = new TFooBar(&destroyed, 100);
  TIntfPtr<IInterface> holder(static_cast<IInterface*>(obj));
  void *pBar = nullptr, *pEx = nullptr;
  ASSERT_TRUE(obj->QueryInterface(IBar::IID, &pBar));
  ASSERT_TRUE(obj->QueryInterface(IFooEx::IID, &pEx));
  EXPECT_EQ(obj->RefCount(), 3);  // one reference per successful query
  EXPECT_EQ(static_cast<IFooEx*>(pEx)->FooEx(), 102);  // the adjusted pointer of each
  EXPECT_EQ(static_cast<IBar*>(pBar)->Bar(), 103);
  static_cast<IBar*>(pBar)->_Release();  // each interface reaches the one count
  static_cast<IFooEx*>(pEx)->_Release();
  EXPECT_EQ(obj->RefCount(), 1);
  void* pMissing = reinterpret_cast<void*>(0x1);
  EXPECT_FALSE(obj->QueryInterface(IMissing::IID, &pMissing));
  EXPECT_EQ(pMissing, nullptr);
  EXPECT_FALSE(obj->QueryInterface(IFoo::IID, nullptr));
  void* pUnknown = nullptr;
  ASSERT_TRUE(obj->QueryInterface(IInterface::IID, &pUnknown));
  EXPECT_EQ(pUnknown, static_cast<void*>(static_cast<IInterface*>(obj)));
  static_cast<IInterface*>(pUnknown)->_Release();
}

TEST(QueryInterfaceTest, SubclassExtendsItsParentsList) {
  std::atomic<int> destroyed{0};
  TIntfPtr<IBaz> baz(new TFooBarBaz(&destroyed, 5));
  EXPECT_EQ(baz->Baz(), 9);
  TIntfPtr<IFoo> foo = Supports<IFoo>(baz);
  TIntfPtr<IBar> bar = Supports<IBar>(foo);
  ASSERT_TRUE(bar);
  EXPECT_EQ(bar->Bar(), 8);
  EXPECT_TRUE(Supports<IBaz>(bar) == baz);
  EXPECT_FALSE(Supports<IMissing>(bar));
  TIntfPtr<IFoo> plain(new TFooBar(&destroyed, 0));  // the parent does not answer for IBaz
  EXPECT_FALSE(Supports(plain, IBaz::IID));
  EXPECT_TRUE(Supports(plain, IFooEx::IID));
}

TEST(SupportsTest, AllFormsAgreeAndBalanceReferences) {
  std::atomic<int> destroyed{0};
  auto* obj = new TFooBar(&destroyed, 0);
  TIntfPtr<IFoo> foo(obj);
  void* out = nullptr;
  EXPECT_TRUE(Supports(foo, IBar::IID, &out));
  EXPECT_EQ(out, static_cast<void*>(static_cast<IBar*>(obj)));
  static_cast<IBar*>(out)->_Release();
  EXPECT_FALSE(Supports(foo.Get(), IMissing::IID));
  TIntfPtr<IBar> bar;
  EXPECT_TRUE(Supports(foo, bar));
  TIntfPtr<IMissing> missing = Supports<IMissing>(obj);  // raw class pointer source
  EXPECT_FALSE(Supports(foo, missing));
  EXPECT_EQ(obj->RefCount(), 2);  // foo and bar only
  EXPECT_TRUE(SameObject(foo, bar));
  EXPECT_FALSE(SameObject(foo, TIntfPtr<IFoo>(new TFooBar(&destroyed, 0))));
  // A null source supports nothing and clears the output.
  TIntfPtr<IFoo> none;
  out = reinterpret_cast<void*>(0x1);
  EXPECT_FALSE(Supports(none, IFoo::IID, &out));
  EXPECT_EQ(out, nullptr);
  EXPECT_FALSE(Supports(none, bar));
  EXPECT_FALSE(bar);
}

TEST(WeakReferences, LockWhileAliveEmptyAfterwards) {
  std::atomic<int> destroyed{0};
  TIntfPtr<IFoo> strong(new TFooBar(&destroyed, 6));
  TWeakIntfPtr<IFoo> weak(strong), copy(weak), empty;
  EXPECT_EQ(copy.Lock()->Foo(), 7);
  EXPECT_FALSE(empty.Lock());
  strong = nullptr;
  EXPECT_EQ(destroyed.load(), 1) << "a weak reference kept the object";
  EXPECT_FALSE(weak.Lock());
  EXPECT_TRUE(copy.Expired());
}

TEST(WeakReferences, LockRacingTheLastReleaseNeverRevivesTheObject) {
  for (int round = 0; round < 2000; ++round) {
    std::atomic<int> destroyed{0};
    TIntfPtr<IFoo> strong(new TFooBar(&destroyed, round));
    TWeakIntfPtr<IFoo> weak(strong);
    std::atomic<bool> go{false};
    int seen = -1;
    std::thread locker([&] {
      while (!go.load()) {
      }
      if (TIntfPtr<IFoo> p = weak.Lock()) seen = p->Foo();
    });
    go.store(true);
    strong = nullptr;
    locker.join();
    EXPECT_TRUE(seen == -1 || seen == round + 1);
    ASSERT_EQ(destroyed.load(), 1) << "round " << round;
  }
}

TEST(InterfaceVariants, HoldACountedReferenceAndCompareByIdentity) {
  std::atomic<int> destroyed{0};
  TIntfPtr<IFoo> a(new TFooBar(&destroyed, 0)), b(new TFooBar(&destroyed, 0));
  {
    const TVariant va = TVariant::Interface(a);
    EXPECT_EQ(a->_AddRef(), 3);  // a, the variant, this call
    a->_Release();
    const struct { TVariant Left, Right; bool Equal; } kCases[] = {
        {va, TVariant::Interface(a), true}, {va, TVariant::Interface(b), false},
        {TVariant::Interface(nullptr), TVariant::Interface(nullptr), true}, {va, TVariant(std::int32_t{1}), false}};
    for (const auto& c : kCases) EXPECT_EQ(c.Left == c.Right, c.Equal);
    EXPECT_EQ(va.AsIntf<IFoo>().Get(), a.Get());
    EXPECT_FALSE(TVariant(std::int32_t{3}).AsIntf<IFoo>());
  }
  EXPECT_EQ(a->_AddRef(), 2);  // every variant gave its reference back
  a->_Release();
}

}  // namespace
}  // namespace nx
