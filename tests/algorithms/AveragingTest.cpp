// TRGAveraging: the moving average against an exact model over long random
// runs and count changes, the enabled switch, Clear, and the change hook.
#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <numeric>
#include <random>
#include <vector>

#include "algorithms/NXAveraging.h"
#include "nxruntime.h"

namespace nx {
namespace {

// An owner that counts the change notifications of its property objects.
class TCountingOwner : public TLockPersistent {
 public:
  TCountingOwner() : TLockPersistent(nullptr) {}
  void OwnedChanged(TPersistent*) override { ++FChanges; }
  int FChanges = 0;
};

TEST(Averaging, DisabledPassesThroughAndClearRestarts) {
  TRGAveraging a;
  a.SetEnabled(false);
  a.SetCount(3);
  EXPECT_EQ(a.AddElement(100), 100);
  EXPECT_EQ(a.AddElement(-7), -7);
  EXPECT_EQ(a.GetFilled(), 0u);  // the history was not touched
  a.SetEnabled(true);
  EXPECT_EQ(a.AddElement(2), 2);
  EXPECT_EQ(a.AddElement(4), 3);
  a.Clear();
  EXPECT_EQ(a.AddElement(10), 10);
  EXPECT_EQ(a.AddElement(20), 15);
}

TEST(Averaging, CountChangesKeepTheMostRecentValues) {
  const struct {
    std::uint32_t from, to;
    int added;
    double next, expected;
  } cases[] = {
      {5, 3, 5, 6, (4 + 5 + 6) / 3.0},  // shrink below filled
      {3, 5, 5, 6, (3 + 4 + 5 + 6) / 4.0},                          // grow: three kept
      {4, 6, 2, 3, 2.0},                                            // grow before the ring is full
      {6, 2, 2, 9, (2 + 9) / 2.0},                                  // shrink to filled
  };
  for (const auto& c : cases) {
    TRGAveraging a;
    a.SetEnabled(true);
    a.SetCount(c.from);
    for (int v = 1; v <= c.added; ++v) a.AddElement(v);
    a.SetCount(c.to);
    EXPECT_DOUBLE_EQ(a.AddElement(c.next), c.expected) << c.from << " -> " << c.to;
  }
}

TEST(Averaging, OwnerHearsEffectiveChangesOnlyAndCountStreams) {
  TCountingOwner owner;
  TRGAveraging a(&owner);
  EXPECT_EQ(a.Lock().Get(), owner.Lock().Get());  // the owner's lock is shared
  a.SetEnabled(true);
  a.SetCount(TRGAveraging::DefaultCount);
  EXPECT_EQ(owner.FChanges, 0);
  a.SetEnabled(false);
  a.SetCount(7);
  EXPECT_EQ(owner.FChanges, 2);
  a.SetCount(0);  // raised to the minimum of 1
  EXPECT_EQ(a.GetCount(), 1u);
  EXPECT_EQ(owner.FChanges, 3);
  a.SetCount(1);
  EXPECT_EQ(owner.FChanges, 3);
  // Count is published: by name, and a copy through Assign keeps it.
  SetPropText(a, "Count", "12");
  EXPECT_EQ(a.GetCount(), 12u);
  EXPECT_EQ(GetPropText(a, "Count"), "12");
  TRGAveraging b;
  b.Assign(a);
  EXPECT_EQ(b.GetCount(), 12u);
  EXPECT_FALSE(b.Enabled());
}

// The running sum must stay the mean of the stored values over long runs of
// values of very different sizes, through count changes.
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
    if (i % 50000 == 49999) {
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
    for (double w : window) {
      exact += w;
      size += std::fabs(w);
    }
    exact /= window.size();
    size /= window.size();
    ASSERT_NEAR(got, static_cast<double>(exact), 1e-12 * static_cast<double>(size)) << i;
  }
}

}  // namespace
}  // namespace nx
