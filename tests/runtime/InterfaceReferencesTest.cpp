// Weak interface references and interface variants.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "runtime/SysUtils.h"
#include "runtime/Zandor.Interfaces.h"
#include "runtime/Zandor.Variants.h"

namespace nx {
namespace {

struct IProbe : virtual IInterface {
  NX_INTERFACE_ID(IProbe, "{3D0F6E21-8B4A-4C17-9E52-7A1B2C3D4E51}");
  virtual int Value() = 0;
};

std::atomic<int> gLive{0};

class TProbe : public TInterfacedObject, public IProbe {
  NX_INTERFACES(TInterfacedObject, IProbe)
 public:
  explicit TProbe(int AValue = 0) : FValue(AValue) { gLive.fetch_add(1); }
  ~TProbe() override { gLive.fetch_sub(1); }
  int Value() override { return FValue; }

 private:
  int FValue;
};

TEST(WeakReferences, LockWhileAliveEmptyAfterwards) {
  const int live = gLive.load();
  TIntfPtr<IProbe> strong(new TProbe(7));
  TWeakIntfPtr<IProbe> weak(strong), copy(weak), empty;
  EXPECT_EQ(weak.Lock()->Value(), 7);
  EXPECT_EQ(copy.Lock().Get(), strong.Get());
  EXPECT_FALSE(empty.Lock());
  EXPECT_EQ(strong->_AddRef(), 2);  // the weak references hold no strong count
  strong->_Release();
  strong = nullptr;
  EXPECT_EQ(gLive.load(), live) << "a weak reference kept the object";
  EXPECT_FALSE(weak.Lock());
  EXPECT_TRUE(copy.Expired());
}

TEST(WeakReferences, LockRacingTheLastReleaseNeverRevivesTheObject) {
  const int live = gLive.load();
  for (int round = 0; round < 2000; ++round) {
    TIntfPtr<IProbe> strong(new TProbe(round));
    TWeakIntfPtr<IProbe> weak(strong);
    std::atomic<bool> go{false};
    int seen = -1;
    std::thread locker([&] {
      while (!go.load()) {
      }
      if (TIntfPtr<IProbe> p = weak.Lock()) seen = p->Value();
    });
    go.store(true);
    strong = nullptr;
    locker.join();
    EXPECT_TRUE(seen == -1 || seen == round);
    ASSERT_EQ(gLive.load(), live) << "round " << round;
  }
}

TEST(InterfaceVariants, HoldACountedReferenceAndCompareByIdentity) {
  TIntfPtr<IProbe> a(new TProbe(1)), b(new TProbe(1));
  {
    const TVariant va = TVariant::Interface(a);
    EXPECT_EQ(a->_AddRef(), 3);  // a, the variant, this call
    a->_Release();
    const struct {
      TVariant Left, Right;
      bool Equal;
    } kCases[] = {{va, TVariant::Interface(a), true},
                  {va, TVariant::Interface(b), false},
                  {TVariant::Interface(nullptr), TVariant::Interface(nullptr), true},
                  {va, TVariant(std::int32_t{1}), false}};
    for (const auto& c : kCases) EXPECT_EQ(c.Left == c.Right, c.Equal);
    EXPECT_EQ(va.VType(), varUnknown);
    EXPECT_EQ(va.AsIntf<IProbe>().Get(), a.Get());
    EXPECT_TRUE(va.StrView().empty());
    EXPECT_FALSE(TVariant(std::int32_t{3}).AsIntf<IProbe>());
  }
  EXPECT_EQ(a->_AddRef(), 2);  // every variant gave its reference back
  a->_Release();
}

}  // namespace
}  // namespace nx
