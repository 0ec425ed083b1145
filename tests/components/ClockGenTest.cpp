// The master clock and its clock threads: the accumulator rule on virtual
// time, the timer's lifetime, termination from a clock's own procedure and
// the two caller-driven clock threads.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "components/NXClockGen.h"

namespace nx {
namespace {

// Collects values from clock threads; Wait returns once enough arrived (the
// time-out only keeps a broken clock from hanging the suite).
class TRecorder {
 public:
  void Add(std::uint64_t AValue) {
    {
      std::lock_guard lk(FLock);
      FValues.push_back(AValue);
    }
    FCond.notify_all();
  }
  bool Wait(std::size_t ACount) {
    std::unique_lock lk(FLock);
    return FCond.wait_for(lk, std::chrono::seconds(60), [&] { return FValues.size() >= ACount; });
  }
  std::vector<std::uint64_t> Values() {
    std::lock_guard lk(FLock);
    return FValues;
  }

 private:
  std::mutex FLock;
  std::condition_variable FCond;
  std::vector<std::uint64_t> FValues;
};

bool WaitNoClocks() {
  for (int i = 0; i < 60000 && NXClockGenCount() != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return NXClockGenCount() == 0;
}

struct TTickRow {
  std::int64_t Interval;             // 100 ns units
  std::vector<std::uint64_t> Steps;  // the master step of each of the first ticks
};

class AccumulatorRule : public testing::TestWithParam<TTickRow> {};

// A clock procedure records the step that released each tick; virtual time
// steps only when the tick was taken, so the step it reads is that step.
TEST_P(AccumulatorRule, TicksOnTheStepsTheIntervalGives) {
  const TTickRow& row = GetParam();
  ASSERT_EQ(NXClockGenCount(), 0);
  TNXVirtualClockGuard virtualTime;
  TRecorder ticks;
  {
    TIntfPtr<TNXClockGen> clock = MakeThread<TNXClockGen>("AccTest", row.Interval, [&] { ticks.Add(NXMasterClockSteps()); });
    ASSERT_TRUE(ticks.Wait(row.Steps.size()));
  }
  std::vector<std::uint64_t> got = ticks.Values();
  got.resize(row.Steps.size());
  EXPECT_EQ(got, row.Steps);
  EXPECT_FALSE(NXMasterClockRunning());
}

INSTANTIATE_TEST_SUITE_P(
    Intervals, AccumulatorRule,
    testing::Values(
        // 1 ms exactly: the accumulator must exceed it, so the first step is silent.
        TTickRow{10000, {2, 3, 4, 5, 6}},
        TTickRow{40000, {5, 9, 13}},
        // 1.5 ms: the remainder carries over from tick to tick.
        TTickRow{15000, {2, 4, 5, 7, 8, 10}},
        // 0.25 ms: three ticks on the first step, four on every later one.
        TTickRow{2500, {1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3}},
        // 1.024 s: one buffer of 1,024 samples at 1,000 per second.
        TTickRow{10240000, {1025, 2049}}));

TEST(ClockGen, NonPositiveIntervalFailsTheAssertion) {
  for (std::int64_t interval : {std::int64_t{0}, std::int64_t{-7}}) {
    try {
      TIntfPtr<TNXClockGen> clock = MakeThread<TNXClockGen>("Bad", interval, [] {});
      ADD_FAILURE() << "interval " << interval << " was accepted";
    } catch (const EAssertionFailed& e) {
      EXPECT_STREQ(e.what(), "Assertion failure (NXClockGen, line 245)");
    }
    EXPECT_EQ(NXClockGenCount(), 0);
    EXPECT_FALSE(NXMasterClockRunning());
  }
}

// The one test on the wall clock: the timer exists exactly while a clock does.
TEST(ClockGen, TimerRunsFromTheFirstClockToTheLast) {
  ASSERT_FALSE(NXVirtualClock());
  ASSERT_FALSE(NXMasterClockRunning());
  TIntfPtr<TNXClockGen> first = MakeThread<TNXClockGen>("First", 10000, [] {});
  EXPECT_TRUE(NXMasterClockRunning());
  TIntfPtr<TNXClockGen> second = MakeThread<TNXClockGen>("Second", 20000, [] {});
  EXPECT_EQ(NXClockGenCount(), 2);
  first = nullptr;
  EXPECT_TRUE(NXMasterClockRunning());
  second = nullptr;
  EXPECT_FALSE(NXMasterClockRunning());
  EXPECT_EQ(NXClockGenCount(), 0);
  // A new first clock starts a new timer.
  TIntfPtr<TNXClockGen> third = MakeThread<TNXClockGen>("Third", 10000, [] {});
  EXPECT_TRUE(NXMasterClockRunning());
  third = nullptr;
  EXPECT_FALSE(NXMasterClockRunning());
}

// A clock that terminates itself from its procedure does not wait for
// itself (which would fail on its own thread) and takes no tick after.
TEST(ClockGen, TerminateFromOwnProcedure) {
  for (bool keepReference : {false, true}) {
    SCOPED_TRACE(keepReference ? "reference kept" : "reference dropped");
    TNXVirtualClockGuard virtualTime;
    TRecorder ticks;
    int count = 0;  // on the clock thread only
    TIntfPtr<TNXClockGen> clock = MakeThread<TNXClockGen>("SelfStop", 10000, [&](IThread* AThread) {
      // Terminated before the tick is recorded: the test lets the clock go
      // only after that.
      if (++count == 3) AThread->Terminate();
      ticks.Add(1);
    });
    ASSERT_TRUE(ticks.Wait(3));
    if (keepReference) {
      clock->WaitFor();
      EXPECT_FALSE(clock->FatalException());
      EXPECT_TRUE(clock->Finished());
    }
    clock = nullptr;
    ASSERT_TRUE(WaitNoClocks());
    EXPECT_EQ(ticks.Values().size(), 3u);
    EXPECT_FALSE(NXMasterClockRunning());
  }
}

// Virtual time holds the next step until a slow procedure is done, so no
// tick piles up in the semaphore.
TEST(ClockGen, VirtualTimeWaitsForSlowProcedures) {
  TNXVirtualClockGuard virtualTime;
  TRecorder ticks;
  std::int32_t maxPending = 0;  // on the clock thread until it is joined
  int count = 0;
  // 3 ms per tick of 1 ms: on the wall clock ticks would pile up. (Only the
  // first 20 ticks count: letting the clock go wakes it once more.)
  TIntfPtr<TNXClockGen> clock = MakeThread<TNXClockGen>("Slow", 10000, [&](IThread* AThread) {
    if (++count > 20) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    maxPending = std::max(maxPending, static_cast<TNXClockGen*>(AThread)->PendingTicks());
    ticks.Add(NXMasterClockSteps());
  });
  ASSERT_TRUE(ticks.Wait(20));
  clock = nullptr;
  EXPECT_EQ(maxPending, 0);
  const std::vector<std::uint64_t> steps = ticks.Values();
  for (std::size_t i = 1; i < steps.size(); ++i) EXPECT_EQ(steps[i], steps[i - 1] + 1);
}

struct TDrivenRow {
  const char* Name;
  bool Event;         // TNXEventClockThreadImpl, else TNXClockThread
  int Calls;
};

class DrivenClockThreads : public testing::TestWithParam<TDrivenRow> {};

// A semaphore clock runs once per call; an event clock folds calls made
// while it runs into one more round, but never runs more often than called.
TEST_P(DrivenClockThreads, RunOncePerClockOrFoldCalls) {
  const TDrivenRow& row = GetParam();
  TRecorder rounds;
  std::mutex gate;
  std::unique_lock hold(gate);  // the first round waits until every call is made
  auto proc = [&] {
    std::lock_guard lk(gate);
    rounds.Add(1);
  };
  if (row.Event) {
    TIntfPtr<INXEventClockThread> clock = TNXEventClockThreadImpl::Make(proc);
    for (int i = 0; i < row.Calls; ++i) clock->Clock();
    hold.unlock();
    ASSERT_TRUE(rounds.Wait(1));
    clock = nullptr;  // terminates, wakes and waits
    EXPECT_LE(rounds.Values().size(), 2u);
  } else {
    TIntfPtr<INXClockThread> clock = TNXClockThread::Make(proc);
    for (int i = 0; i < row.Calls; ++i) clock->Clock();
    hold.unlock();
    ASSERT_TRUE(rounds.Wait(row.Calls));
    EXPECT_EQ(clock->GetClockSemaphore().Count(), 0);
    clock = nullptr;
    EXPECT_EQ(rounds.Values().size(), static_cast<std::size_t>(row.Calls));
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, DrivenClockThreads,
                         testing::Values(TDrivenRow{"Semaphore1", false, 1}, TDrivenRow{"Semaphore50", false, 50},
                                         TDrivenRow{"Event1", true, 1}, TDrivenRow{"Event50", true, 50}),
                         [](const testing::TestParamInfo<TDrivenRow>& AInfo) { return AInfo.param.Name; });

}  // namespace
}  // namespace nx
