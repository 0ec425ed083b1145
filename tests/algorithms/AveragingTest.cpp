// TRGAveraging against an exact model over long runs and count changes; switch, Clear, hook.
#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <random>

#include "algorithms/NXAveraging.h"
#include "nxruntime.h"

namespace nx {
namespace {

// An owner that counts the change notifications of its property objects.
struct TCountingOwner : TLockPersistent {
  TCountingOwner() : TLockPersistent(nullptr) {}
  void OwnedChanged(TPersistent*) override { ++FChanges; }
  int FChanges = 0;
};

TEST(Averaging, OwnerHearsEffectiveChangesDisabledPassesThroughClearRestarts) {
  TCountingOwner owner;
  TRGAveraging a(&owner);
  EXPECT_EQ(a.Lock().Get(), owner.Lock().Get());  // the owner's lock is shared
  a.SetEnabled(true);
  a.SetCount(TRGAveraging::DefaultCount);
  EXPECT_EQ(owner.FChanges, 0);
  a.SetEnabled(false);
  a.SetCount(0);  // raised to the minimum of 1
  EXPECT_EQ(a.GetCount(), 1u);
  EXPECT_EQ(owner.FChanges, 2);
  a.SetCount(1);
  EXPECT_EQ(owner.FChanges, 2);
  EXPECT_EQ(a.AddElement(100), 100);
  EXPECT_EQ(a.GetFilled(), 0u);  // the history was not touched
  SetPropText(a, "Count", "3");  // published by name; a copy through Assign keeps it
  TRGAveraging b;
  b.Assign(a);
  EXPECT_EQ(b.GetCount(), 3u);
  EXPECT_FALSE(b.Enabled());
  a.SetEnabled(true);
  EXPECT_EQ(a.AddElement(2), 2);
  EXPECT_EQ(a.AddElement(4), 3);
  a.Clear();
  EXPECT_EQ(a.AddElement(10), 10);
  EXPECT_EQ(a.AddElement(20), 15);
}

// The mean of the stored values over long runs of mixed sizes, through shrinking and growing counts.
TEST(Averaging, LongRandomRunsMatchTheExactMean) {
  std::mt19937_64 g(3);
  std::uniform_real_distribution<double> u(-1, 1);
  std::uniform_int_distribution<int> scale(-8, 8);
  TRGAveraging a;
  a.SetEnabled(true);
  std::deque<double> window;
  std::uint32_t count = 1000;
  a.SetCount(count);
  for (int i = 0; i < 200000; ++i) {
    if (i == 500 || i == 700 || i % 50000 == 49999) {
      count = count == 1000 ? 17 : 1000;
      a.SetCount(count);
      while (window.size() > count) window.pop_front();
    }
    const double v = u(g) * std::pow(10.0, scale(g));
    window.push_back(v);
    if (window.size() > count) window.pop_front();
    const double got = a.AddElement(v);
    if (i % 97 != 0 && i >= 2000) continue;
    long double exact = 0, size = 0;
    for (double w : window) exact += w, size += std::fabs(w);
    ASSERT_NEAR(got, static_cast<double>(exact / window.size()), 1e-12 * static_cast<double>(size / window.size())) << i;
  }
}

}  // namespace
}  // namespace nx
