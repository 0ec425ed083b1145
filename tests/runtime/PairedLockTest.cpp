// Threaded tests of the change-notify locks: paired sides, the whole lock, release for a wait.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>

#include "PropsTestClasses.h"
#include "ThreadTestSupport.h"

namespace nxtest {
namespace {

struct TPair {
  TIntfPtr<IChangeNotifyLock> In = TChangeNotifyLock::Make();
  TIntfPtr<IChangeNotifyLock> Out = TChangeNotifyLock::Make();
  TIntfPtr<IChangeNotifyLock> Both = TPairedLock::Make(In, Out);
};

TEST(PairedLock, TwoThreadsHoldTheTwoSidesAtOnce) {
  TPair p;
  std::latch held(2), releaseIn(1), inReleased(1), releaseOut(1);
  std::thread input([&] {
    p.In->BeginWrite();
    held.count_down();
    releaseIn.wait();
    p.In->EndWrite();
    inReleased.count_down();
  });
  std::thread output([&] {
    p.Out->BeginWrite();
    held.count_down();
    releaseOut.wait();
    p.Out->EndWrite();
  });
  held.wait();  // both sides are held now, by two threads
  EXPECT_FALSE(p.Both->TryBeginWrite());
  releaseIn.count_down();
  inReleased.wait();
  EXPECT_FALSE(p.Both->TryBeginWrite());  // the output side is still held
  EXPECT_TRUE(FreeForOthers(p.In.Get()));  // and the failed try left the input side free
  releaseOut.count_down();
  input.join();
  output.join();
  EXPECT_TRUE(FreeForOthers(p.Both.Get()));
}

TEST(PairedLock, TheWholeLockExcludesEachSide) {
  TPair p;
  p.Both->BeginWrite();
  EXPECT_TRUE(p.Both->HeldByCurrentThread());
  EXPECT_FALSE(FreeForOthers(p.In.Get()));
  EXPECT_FALSE(FreeForOthers(p.Out.Get()));
  p.Both->EndWrite();
  EXPECT_TRUE(FreeForOthers(p.In.Get()));
  EXPECT_TRUE(FreeForOthers(p.Out.Get()));
  // A thread waiting for the whole lock gets it only once the side another thread holds is free.
  std::atomic<bool> acquired{false};
  std::latch outHeld(1), release(1);
  std::thread holder([&] {
    p.Out->BeginWrite();
    outHeld.count_down();
    release.wait();
    EXPECT_FALSE(acquired.load());  // still waiting while the output side is held
    p.Out->EndWrite();
  });
  outHeld.wait();
  std::thread whole([&] {
    p.Both->BeginWrite();
    acquired = true;
    p.Both->EndWrite();
  });
  release.count_down();
  holder.join();
  whole.join();
  EXPECT_TRUE(acquired.load());
}

TEST(PairedLock, ReleaseAllLeavesTheLockForAWaitAndRestoresTheDepth) {
  TPair p;
  p.Both->BeginWrite();
  p.In->BeginWrite();  // the input side twice, the output side once
  {
    TLockReleaser released(p.Both.Get());
    EXPECT_TRUE(FreeForOthers(p.In.Get()));
    EXPECT_TRUE(FreeForOthers(p.Out.Get()));
  }
  EXPECT_TRUE(p.Both->HeldByCurrentThread());
  p.In->EndWrite();
  EXPECT_FALSE(FreeForOthers(p.In.Get()));  // one level of the input side is left
  p.Both->EndWrite();
  EXPECT_TRUE(FreeForOthers(p.Both.Get()));
  EXPECT_EQ(p.Both->ReleaseAll(), 0u);  // a thread that holds nothing gives back nothing
}

// Writers and readers of published properties on several threads, through the component's lock.
TEST(PairedLock, SettersAndReadersShareTheOwnersLock) {
  RegisterTestClasses();
  TTestComponent owner(nullptr);
  TTestSettings& s = *owner.Settings();
  constexpr int kRounds = 2000;
  std::thread writer([&] {
    for (int i = 0; i < kRounds; ++i) {
      s.SetCount(i % 50);
      SetPropText(s, "Label", (i & 1) ? "odd label that is long enough to allocate" : "even");
    }
  });
  std::thread reader([&] {
    for (int i = 0; i < kRounds; ++i) {
      const std::int32_t c = s.Count();
      EXPECT_TRUE(c == -3 || (c >= 0 && c < 50));
      const std::string l = GetPropText(s, "Label");
      EXPECT_TRUE(l == "abc" || l == "even" || l == "odd label that is long enough to allocate");
    }
  });
  writer.join();
  reader.join();
  owner.BeginWrite();
  const int notified = owner.Notifications;
  owner.EndWrite();
  EXPECT_GT(notified, 0);
}

}  // namespace
}  // namespace nxtest
