// Tests of the synchronisation objects: the recursive critical section, the
// manual and automatic events and the semaphore. Waits that must succeed use
// INFINITE (a broken wake-up hangs the test rather than passing by luck);
// waits that must time out use short timeouts; nothing asserts on durations.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "nxruntime.h"

namespace nx {
namespace {

// Runs `f` on a new thread and returns its result.
template <class F>
auto OnOtherThread(F f) {
  decltype(f()) result{};
  std::thread th([&] { result = f(); });
  th.join();
  return result;
}

TEST(CriticalSectionTest, IsRecursiveAndExcludesOtherThreads) {
  TCriticalSection cs;
  cs.Enter();
  EXPECT_TRUE(cs.TryEnter());  // the owner re-enters
  cs.Enter();
  EXPECT_FALSE(OnOtherThread([&] { return cs.TryEnter(); }));
  cs.Leave();
  cs.Leave();
  // Still held once.
  EXPECT_FALSE(OnOtherThread([&] { return cs.TryEnter(); }));
  cs.Leave();
  EXPECT_TRUE(OnOtherThread([&] {
    const bool entered = cs.TryEnter();
    if (entered) cs.Leave();
    return entered;
  }));
}

TEST(CriticalSectionTest, GuardSerialisesUpdates) {
  TCriticalSection cs;
  long counter = 0;  // plain: only the section protects it
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        TLockGuard guard(cs);
        TLockGuard nested(cs);  // recursion under the guard
        ++counter;
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(counter, 80000);
}

TEST(CriticalSectionTest, GuardLeavesOnException) {
  TCriticalSection cs;
  try {
    TLockGuard guard(cs);
    throw EInvalidOperation();
  } catch (const EInvalidOperation&) {
  }
  EXPECT_TRUE(OnOtherThread([&] {
    const bool entered = cs.TryEnter();
    if (entered) cs.Leave();
    return entered;
  }));
}

TEST(EventTest, ManualResetReleasesAllWaitersAndStaysSet) {
  TEvent event(true, false);
  EXPECT_EQ(event.WaitFor(0), wrTimeout);
  EXPECT_EQ(event.WaitFor(10), wrTimeout);

  constexpr int kWaiters = 5;
  std::atomic<int> released{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kWaiters; ++t)
    threads.emplace_back([&] {
      if (event.WaitFor(INFINITE) == wrSignaled) released.fetch_add(1);
    });
  event.SetEvent();
  for (auto& th : threads) th.join();
  EXPECT_EQ(released.load(), kWaiters);
  EXPECT_EQ(event.WaitFor(0), wrSignaled);  // still set
  EXPECT_EQ(event.WaitFor(0), wrSignaled);
  event.ResetEvent();
  EXPECT_EQ(event.WaitFor(0), wrTimeout);
}

TEST(EventTest, InitialStateIsHonoured) {
  TEvent manual(true, true);
  EXPECT_EQ(manual.WaitFor(0), wrSignaled);
  EXPECT_EQ(manual.WaitFor(0), wrSignaled);
  TEvent automatic(false, true);
  EXPECT_EQ(automatic.WaitFor(0), wrSignaled);
  EXPECT_EQ(automatic.WaitFor(0), wrTimeout);
}

TEST(EventTest, AutoResetReleasesOneWaiterPerSet) {
  TEvent event(false, false);
  // A set with nobody waiting is kept for the next wait, and consumed by it.
  event.SetEvent();
  event.SetEvent();  // does not count twice
  EXPECT_EQ(event.WaitFor(0), wrSignaled);
  EXPECT_EQ(event.WaitFor(0), wrTimeout);

  // Each set lets exactly one of the waiting threads through.
  constexpr int kWaiters = 4;
  std::atomic<int> released{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kWaiters; ++t)
    threads.emplace_back([&] {
      ASSERT_EQ(event.WaitFor(INFINITE), wrSignaled);
      released.fetch_add(1);
    });
  for (int i = 1; i <= kWaiters; ++i) {
    event.SetEvent();
    // Wait until a waiter took it (the state goes back to unsignalled).
    while (released.load() < i) std::this_thread::yield();
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(released.load(), kWaiters);
  EXPECT_EQ(event.WaitFor(0), wrTimeout);
}

TEST(EventTest, PingPongBetweenTwoThreads) {
  TEvent ping(false), pong(false);
  constexpr int kRounds = 1000;
  int shared = 0;  // handed over by the events, never touched by both at once
  std::thread other([&] {
    for (int i = 0; i < kRounds; ++i) {
      ASSERT_EQ(ping.WaitFor(INFINITE), wrSignaled);
      ++shared;
      pong.SetEvent();
    }
  });
  for (int i = 0; i < kRounds; ++i) {
    ping.SetEvent();
    ASSERT_EQ(pong.WaitFor(INFINITE), wrSignaled);
    EXPECT_EQ(shared, i + 1);
  }
  other.join();
}

TEST(SemaphoreTest, CountsReleasesAndWaits) {
  TSemaphore sem(2, 10);
  EXPECT_EQ(sem.Count(), 2);
  EXPECT_EQ(sem.WaitFor(0), wrSignaled);
  EXPECT_EQ(sem.WaitFor(0), wrSignaled);
  EXPECT_EQ(sem.WaitFor(0), wrTimeout);
  EXPECT_EQ(sem.WaitFor(10), wrTimeout);
  EXPECT_EQ(sem.Release(3), 0);  // returns the count before
  EXPECT_EQ(sem.Release(), 3);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(sem.WaitFor(0), wrSignaled) << i;
  EXPECT_EQ(sem.WaitFor(0), wrTimeout);
}

TEST(SemaphoreTest, SaturatesAtTheMaximum) {
  TSemaphore sem(0, 3);
  EXPECT_EQ(sem.Release(2), 0);
  EXPECT_EQ(sem.Release(5), 2);
  EXPECT_EQ(sem.Count(), 3);
  EXPECT_EQ(sem.Release(0x7FFFFFFF), 3);  // no overflow either
  EXPECT_EQ(sem.Count(), 3);
  int taken = 0;
  while (sem.WaitFor(0) == wrSignaled) ++taken;
  EXPECT_EQ(taken, 3);
}

TEST(SemaphoreTest, RejectsInvalidCounts) {
  EXPECT_THROW(TSemaphore(-1, 5), EArgumentException);
  EXPECT_THROW(TSemaphore(6, 5), EArgumentException);
  EXPECT_THROW(TSemaphore(0, 0), EArgumentException);
  TSemaphore sem(0, 5);
  EXPECT_THROW(sem.Release(0), EArgumentException);
  EXPECT_THROW(sem.Release(-2), EArgumentException);
  EXPECT_EQ(sem.Count(), 0);
}

TEST(SemaphoreTest, EveryReleaseWakesOneConsumer) {
  // Producers release one at a time, and once several at a time; consumers
  // take exactly as many wake-ups as were released, with nothing left over.
  constexpr int kConsumers = 4;
  constexpr int kPerConsumer = 2500;
  TSemaphore sem(0, 1000000);
  std::atomic<int> consumed{0};
  std::vector<std::thread> consumers;
  for (int c = 0; c < kConsumers; ++c)
    consumers.emplace_back([&] {
      for (int i = 0; i < kPerConsumer; ++i) {
        ASSERT_EQ(sem.WaitFor(INFINITE), wrSignaled);
        consumed.fetch_add(1);
      }
    });
  const int total = kConsumers * kPerConsumer;
  sem.Release(total / 2);
  std::thread producer([&] {
    for (int i = 0; i < total / 2; ++i) sem.Release();
  });
  producer.join();
  for (auto& th : consumers) th.join();
  EXPECT_EQ(consumed.load(), total);
  EXPECT_EQ(sem.WaitFor(0), wrTimeout);
}

}  // namespace
}  // namespace nx
