// The threading unit. Waits that must succeed use INFINITE; nothing asserts on durations.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <numeric>
#include <shared_mutex>
#include <string>

#include "ThreadTestSupport.h"
#include "nxruntime.h"

namespace nx {
namespace {

using nxtest::FreeForOthers;
using nxtest::OnOtherThread;
using nxtest::TThreadGroup;

TEST(CriticalSectionTest, IsRecursiveExcludesOtherThreadsAndSerialisesUpdates) {
  TCriticalSection cs;
  cs.Enter();
  EXPECT_TRUE(cs.TryEnter());  // the owner re-enters
  cs.Leave();
  EXPECT_FALSE(FreeForOthers(cs));  // still held once
  cs.Leave();
  EXPECT_TRUE(FreeForOthers(cs));
  long counter = 0;  // plain: only the section protects it
  TThreadGroup(4, [&](int) {
    for (int i = 0; i < 20000; ++i) {
      TLockGuard guard(cs);
      TLockGuard nested(cs);
      ++counter;
    }
  }).Join();
  EXPECT_EQ(counter, 80000);
  try {  // a guard leaves the section when an exception passes
    TLockGuard guard(cs);
    throw EInvalidOperation();
  } catch (const EInvalidOperation&) {
  }
  EXPECT_TRUE(FreeForOthers(cs));
}

TEST(EventTest, ManualResetReleasesAllWaitersAndStaysSet) {
  TIntfPtr<IEvent> event(new TInterfacedEvent(true, false));
  EXPECT_TRUE(event->ManualReset());
  EXPECT_EQ(event->WaitFor(10), wrTimeout);
  std::atomic<int> released{0};
  TThreadGroup waiters(5, [&](int) {
    if (event->WaitFor(INFINITE) == wrSignaled) released.fetch_add(1);
  });
  event->SetEvent();
  waiters.Join();
  EXPECT_EQ(released.load(), 5);
  EXPECT_EQ(event->WaitFor(0), wrSignaled);  // still set
  event->ResetEvent();
  EXPECT_EQ(event->WaitFor(0), wrTimeout);
}

TEST(EventTest, AutoResetReleasesOneWaiterPerSet) {
  TEvent event(false, true);  // initially set
  event.SetEvent();  // does not count twice
  EXPECT_EQ(event.WaitFor(0), wrSignaled);
  EXPECT_EQ(event.WaitFor(0), wrTimeout);
  constexpr int kWaiters = 4;
  std::atomic<int> released{0};
  TThreadGroup waiters(kWaiters, [&](int) {
    ASSERT_EQ(event.WaitFor(INFINITE), wrSignaled);
    released.fetch_add(1);
  });
  for (int i = 1; i <= kWaiters; ++i) {
    event.SetEvent();
    while (released.load() < i) std::this_thread::yield();  // one waiter took it
  }
  waiters.Join();
  EXPECT_EQ(event.WaitFor(0), wrTimeout);
}

TEST(EventTest, PingPongBetweenTwoThreads) {
  TEvent ping(false), pong(false);
  constexpr int kRounds = 1000;
  int shared = 0;  // handed over by the events, never touched by both at once
  TThreadGroup other(1, [&](int) {
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
}

TEST(SemaphoreTest, CountsSaturatesRejectsInvalidCountsAndWakesOneConsumerPerRelease) {
  TIntfPtr<ISemaphore> sem(new TInterfacedSemaphore(2, 4));
  EXPECT_EQ(sem->WaitFor(0), wrSignaled);
  EXPECT_EQ(sem->WaitFor(0), wrSignaled);
  EXPECT_EQ(sem->WaitFor(10), wrTimeout);
  EXPECT_EQ(sem->Release(3), 0);  // returns the count before
  EXPECT_EQ(sem->Release(0x7FFFFFFF), 3);  // saturates at the maximum, without overflow
  EXPECT_EQ(sem->Count(), sem->MaximumCount());
  EXPECT_THROW(TSemaphore(-1, 5), EArgumentException);
  EXPECT_THROW(TInterfacedSemaphore(6, 5), EArgumentException);
  EXPECT_THROW(TSemaphore(0, 0), EArgumentException);
  EXPECT_THROW(sem->Release(0), EArgumentException);
  // Released once by many and then one at a time: the consumers get exactly as many wake-ups.
  constexpr int kConsumers = 4, kPerConsumer = 2500, kTotal = kConsumers * kPerConsumer;
  TSemaphore many(0, 1000000);
  std::atomic<int> consumed{0};
  TThreadGroup consumers(kConsumers, [&](int) {
    for (int i = 0; i < kPerConsumer; ++i) {
      ASSERT_EQ(many.WaitFor(INFINITE), wrSignaled);
      consumed.fetch_add(1);
    }
  });
  many.Release(kTotal / 2);
  for (int i = 0; i < kTotal / 2; ++i) many.Release();
  consumers.Join();
  EXPECT_EQ(consumed.load(), kTotal);
  EXPECT_EQ(many.WaitFor(0), wrTimeout);
}

TEST(CountedSyncTest, AWaitingThreadKeepsTheEventAlive) {
  TIntfPtr<IEvent> e(new TInterfacedEvent(false, false));
  TIntfPtr<ISemaphore> done(new TInterfacedSemaphore(0, 1));
  std::thread waiter([e, done] {
    EXPECT_EQ(e->WaitFor(INFINITE), wrSignaled);
    done->Release();
  });
  e->SetEvent();
  EXPECT_EQ(done->WaitFor(INFINITE), wrSignaled);
  e = TIntfPtr<IEvent>();  // the thread's copy is the last one now
  waiter.join();
  TIntfPtr<IInterface> any(new TInterfacedEvent);
  EXPECT_TRUE(Supports(any, IEvent::IID) && !Supports(any, ISemaphore::IID));
}

struct TRecordingLock {  // records the calls a lock received
  std::string Log;
  void BeginRead() { Log += "r"; }
  void EndRead() { Log += "R"; }
  void BeginWrite() { Log += "w"; }
  void EndWrite() { Log += "W"; }
};

TEST(LockAccessTest, TakesTheSideOfItsModeAndGivesItBackOnce) {
  TRecordingLock lock;
  {
    TLockAccess read(lock);
    TLockAccess write(lock, lamWrite);
    write.Release();
    write.Release();  // only once
    EXPECT_FALSE(write.Held());
  }
  EXPECT_EQ(lock.Log, "rwWR");
  std::shared_mutex rw;
  {
    TLockAccess write(rw, lamWrite);
    EXPECT_FALSE(OnOtherThread([&] { return rw.try_lock_shared(); }));
  }
  {
    TLockAccess read(rw);
    EXPECT_TRUE(OnOtherThread([&] { return rw.try_lock_shared() && (rw.unlock_shared(), true); }));
    EXPECT_FALSE(OnOtherThread([&] { return rw.try_lock(); }));
  }
}

// Counts a loop for each tick released; signals `destroyed` when it goes.
// It waits for a tick a little at a time and looks at Terminated in
// between: a Terminate that also released the tick would touch an object
// that a thread freeing itself may already have freed.
class TCountingThread : public TBasicThread {
 public:
  explicit TCountingThread(TEvent* destroyed = nullptr, int throwAt = -1)
      : TBasicThread("counting"), FDestroyed(destroyed), FThrowAt(throwAt) {}
  ~TCountingThread() override {
    TerminateAndWait();
    if (FDestroyed) FDestroyed->SetEvent();
  }
  std::atomic<int> Loops{0};
  TSemaphore Tick{0, 1000000};
  std::function<void(TCountingThread&)> OnLoop;

 protected:
  void ExecuteLoop() override {
    if (Tick.WaitFor(20) != wrSignaled) return;
    if (Terminated()) return;
    if (Loops.fetch_add(1) + 1 == FThrowAt) throw EInvalidOperation("loop failed");
    if (OnLoop) OnLoop(*this);
  }

 private:
  TEvent* FDestroyed;
  int FThrowAt;
};

TEST(BasicThreadTest, LoopsUntilTerminatedAndReportsItsFailure) {
  TIntfPtr<TCountingThread> t(new TCountingThread);
  t->Start();
  EXPECT_THROW(t->Start(), EInvalidOperation);
  t->Tick.Release(5);
  while (t->Loops.load() < 5) std::this_thread::yield();
  t->TerminateAndWait();
  EXPECT_TRUE(t->Finished());
  EXPECT_EQ(t->Loops.load(), 5);
  EXPECT_FALSE(t->FatalException());
  TIntfPtr<TCountingThread> failing(new TCountingThread(nullptr, 2));
  failing->OnLoop = [](TCountingThread& self) { EXPECT_THROW(self.WaitFor(), EInvalidOperation); };
  failing->Start();
  failing->Tick.Release(3);
  failing->WaitFor();  // ends by itself on the second loop
  EXPECT_TRUE(failing->Terminated());
  EXPECT_THROW(std::rethrow_exception(failing->FatalException()), EInvalidOperation);
}

TEST(BasicThreadTest, EndsAndFreesItselfAsDocumented) {
  enum TEnd { eOwnerDropsRunning, eFreeOnTerminateNoOwner, eTerminatesItselfOnItsThread };
  for (TEnd end : {eOwnerDropsRunning, eFreeOnTerminateNoOwner, eTerminatesItselfOnItsThread}) {
    SCOPED_TRACE(int(end));
    TEvent destroyed;
    auto* raw = new TCountingThread(&destroyed);
    if (end == eOwnerDropsRunning) {
      TIntfPtr<TCountingThread> t(raw);
      t->Start();
      t->Tick.Release();
      while (t->Loops.load() < 1) std::this_thread::yield();
    } else if (end == eFreeOnTerminateNoOwner) {
      raw->SetFreeOnTerminate(true);
      raw->Start();  // nobody holds a reference: the thread frees its object
      raw->Terminate();
    } else {
      // As a clock terminated from its own procedure while its owner lets go.
      TIntfPtr<TCountingThread> t(raw);
      raw->OnLoop = [](TCountingThread& self) {
        self.SetFreeOnTerminate(true);
        self.Terminate();
      };
      t->Start();
      t->Tick.Release();
    }
    EXPECT_EQ(destroyed.WaitFor(INFINITE), wrSignaled);
  }
}

TEST(BasicThreadTest, PrioritiesThatCannotBeAppliedAreKeptAndReported) {
  // The calls work wherever the priorities can or cannot be checked (also off the main thread).
  std::thread([] {
    TIntfPtr<TCountingThread> t(new TCountingThread);
    t->Start();
    t->Tick.Release();
    while (t->Loops.load() < 1) std::this_thread::yield();
    t->SetPriority(tpNormal);
    EXPECT_NE(t->ThreadID(), 0);
    EXPECT_EQ(t->GetPriority(), tpNormal);
    EXPECT_EQ(t->PriorityApplied(), t->AppliedPriority() == tpNormal);
    t->TerminateAndWait();
    TIntfPtr<TThreadPoolExecutor> pool(new TThreadPoolExecutor(1));
    pool->Submit([] {});
    pool->WaitIdle();
    pool->SetPriority(tpNormal);
    EXPECT_TRUE(pool->PriorityApplied());
  }).join();
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_NICE, &limit), 0);
  if (limit.rlim_cur == RLIM_INFINITY || 20 - static_cast<int>(limit.rlim_cur) <= NiceValueOf(tpHighest))
    GTEST_SKIP() << "the nice limit lets this process raise priorities";
  if (NiceValueOf(tpLowest) >= NiceValueOf(tpIdle))  // started under a high nice value
    GTEST_SKIP() << "the process's nice value leaves no room between the lowest and the idle priority";
  struct TStep { TThreadPriority Priority; bool Applies; TThreadPriority InEffect; };
  // One thread goes through these in turn: lowering works, raising again does not.
  const TStep steps[] = {{tpHighest, false, tpNormal}, {tpLowest, true, tpLowest}, {tpNormal, false, tpLowest},
                         {tpIdle, true, tpIdle},       {tpLower, false, tpIdle}};
  std::thread([&] {
    // Without CAP_SYS_NICE (inherited by the threads made here) raising fails even as root.
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct caps[2]{};
    ASSERT_EQ(syscall(SYS_capget, &header, caps), 0);
    for (auto* set : {&caps[CAP_SYS_NICE / 32].effective, &caps[CAP_SYS_NICE / 32].permitted,
                      &caps[CAP_SYS_NICE / 32].inheritable})
      *set &= ~(1u << (CAP_SYS_NICE % 32));
    ASSERT_EQ(syscall(SYS_capset, &header, caps), 0);
    TIntfPtr<TCountingThread> t(new TCountingThread);
    t->SetPriority(tpHighest);  // stored before the start, applied by the thread
    EXPECT_TRUE(t->PriorityApplied());
    t->Start();
    t->Tick.Release();
    while (t->Loops.load() < 1) std::this_thread::yield();
    for (const TStep& step : steps) {
      SCOPED_TRACE(int(step.Priority));
      EXPECT_NO_THROW(t->SetPriority(step.Priority));
      EXPECT_EQ(t->GetPriority(), step.Priority);  // kept even when not applied
      EXPECT_EQ(t->PriorityApplied(), step.Applies);
      EXPECT_EQ(t->AppliedPriority(), step.InEffect);
      EXPECT_EQ(getpriority(PRIO_PROCESS, static_cast<id_t>(t->ThreadID())), NiceValueOf(step.InEffect));
    }
    t->TerminateAndWait();
    TIntfPtr<TThreadPoolExecutor> pool(new TThreadPoolExecutor(2));
    pool->SetPriority(tpHigher);
    pool->Submit([] {});
    pool->WaitIdle();
    EXPECT_FALSE(pool->PriorityApplied());
    pool->SetPriority(tpLowest);
    EXPECT_TRUE(pool->PriorityApplied());
  }).join();
}

TEST(MainThreadTest, RunsWorkInOrderAndCarriesExceptionsBack) {
  ASSERT_TRUE(MainThread::IsMainThread());
  bool ranHere = false;
  MainThread::Execute([&] { ranHere = true; });  // at once, no queue
  ASSERT_TRUE(ranHere);
  constexpr int kProducers = 3, kEach = 200;
  std::vector<std::vector<int>> seen(kProducers);  // touched on the main thread only
  std::atomic<int> finished{0}, caught{0};
  TThreadGroup producers(kProducers, [&](int p) {
    for (int i = 0; i < kEach; ++i) {
      auto record = [&, p, i] {
        EXPECT_TRUE(MainThread::IsMainThread());
        seen[p].push_back(i);
      };
      if (i % 3 == 0) MainThread::Execute(record);  // returns after it ran
      else MainThread::Queue(record);
    }
    try {
      MainThread::Execute([] { throw EArgumentException("from main"); });
    } catch (const EArgumentException& e) {
      if (std::string(e.what()) == "from main") caught.fetch_add(1);
    }
    finished.fetch_add(1);
  });
  while (finished.load() < kProducers) {
    MainThread::WaitForWork(10);
    MainThread::ProcessQueue();
  }
  producers.Join();
  MainThread::ProcessQueue();
  EXPECT_EQ(caught.load(), kProducers);
  std::vector<int> inOrder(kEach);
  std::iota(inOrder.begin(), inOrder.end(), 0);
  for (const auto& s : seen) EXPECT_EQ(s, inOrder);
  // A queued procedure's exception leaves ProcessQueue; what follows it still runs.
  int after = 0;
  MainThread::Queue([] { throw EInvalidOperation("queued"); });
  MainThread::Queue([&] { ++after; });
  EXPECT_THROW(MainThread::ProcessQueue(), EInvalidOperation);
  EXPECT_EQ(after, 1);
}

TEST(MainThreadTest, OwnThreadServesOtherThreadsUntilStopped) {
  const auto hostMain = MainThread::ID();
  MainThread::RunOnOwnThread();
  EXPECT_THROW(MainThread::ProcessQueue(), EInvalidOperation);
  std::atomic<int> sum{0};
  TThreadGroup(3, [&](int) {
    for (int i = 0; i < 100; ++i)
      MainThread::Execute([&] {
        EXPECT_TRUE(MainThread::IsMainThread());
        MainThread::Execute([&] { sum.fetch_add(1); });  // nested: at once
      });
  }).Join();
  EXPECT_EQ(sum.load(), 300);
  MainThread::Execute([] {});  // from this thread too, now that it is not the main one
  MainThread::Queue([] { throw EInvalidOperation("lost"); });
  int last = 0;
  MainThread::Queue([&] { last = 1; });
  EXPECT_THROW(MainThread::StopOwnThread(), EInvalidOperation);
  EXPECT_EQ(last, 1);  // run before the thread stopped
  EXPECT_EQ(MainThread::ID(), hostMain);
}

// The thread's loop calls Execute: a main thread that waited without running the queue would hang.
TEST(MainThreadTest, WaitingForAThreadOnTheMainThreadServesItsCalls) {
  TIntfPtr<TCountingThread> t(new TCountingThread);
  std::atomic<int> onMain{0};
  t->OnLoop = [&](TCountingThread&) { MainThread::Execute([&] { onMain.fetch_add(1); }); };
  t->Start();
  t->Tick.Release(50);
  t->TerminateAndWait();
  MainThread::ProcessQueue();
  EXPECT_EQ(onMain.load(), t->Loops.load());
}

struct TExecutorCase { const char* Name; int Threads; std::uint32_t GroupSize; };  // 0 threads: TThreadExecutor

TIntfPtr<TThreadPoolExecutor> MakeExecutor(const TExecutorCase& c) {
  TIntfPtr<TThreadPoolExecutor> e(c.Threads == 0 ? new TThreadExecutor : new TThreadPoolExecutor(c.Threads));
  e->SetGroupSize(c.GroupSize);
  return e;
}

const TExecutorCase kExecutors[] = {{"thread", 0, 16}, {"pool1", 1, 1}, {"pool2", 2, 16}, {"pool4", 4, 3}};

TEST(ExecutorTest, EveryTaskRunsOnceUnderContentionFromSeveralSubmitters) {
  constexpr int kSubmitters = 4, kEach = 5000;
  for (const TExecutorCase& c : kExecutors) {
    SCOPED_TRACE(c.Name);
    auto runs = std::make_unique<std::atomic<int>[]>(kSubmitters * kEach);
    auto e = MakeExecutor(c);
    TTaskGroup group(e);
    TThreadGroup(kSubmitters, [&](int s) {
      std::vector<TTask> batch;
      for (int i = s * kEach; i < (s + 1) * kEach; ++i) {
        TTask task = [&runs, i] { runs[i].fetch_add(1); };
        switch (i % 3) {  // one at a time, in a group, in batches
          case 0: e->Submit(std::move(task)); break;
          case 1: group.Run(std::move(task)); break;
          default: batch.push_back(std::move(task)); if (batch.size() == 7) e->SubmitBatch(batch);
        }
      }
      e->SubmitBatch(batch);
    }).Join();
    group.Wait();
    e->WaitIdle();
    for (int i = 0; i < kSubmitters * kEach; ++i) ASSERT_EQ(runs[i].load(), 1) << i;
  }
}

TEST(ExecutorTest, FailingTasksAreReportedAndTheWorkersGoOn) {
  for (const TExecutorCase& c : kExecutors) {
    SCOPED_TRACE(c.Name);
    auto e = MakeExecutor(c);
    std::atomic<int> ran{0};
    TTaskGroup group(e);
    for (int i = 0; i < 100; ++i)
      group.Run([&, i] {
        ran.fetch_add(1);
        if (i % 10 == 3) throw EArgumentException("task failed");
      });
    EXPECT_THROW(group.Wait(), EArgumentException);
    EXPECT_EQ(ran.load(), 100);
    EXPECT_EQ(group.Failures(), 10);
    EXPECT_NO_THROW(group.Wait());  // reported once
    e->Submit([] { throw EInvalidOperation(); });
    e->Submit([&] { ran.fetch_add(1); });
    EXPECT_THROW(e->WaitIdle(), EInvalidOperation);
    EXPECT_NO_THROW(e->WaitIdle());
    EXPECT_EQ(ran.load(), 101);
    std::atomic<std::int64_t> covered{0};
    EXPECT_THROW(ParallelFor(*e, 1000, [&](std::int64_t first, std::int64_t last) {
                   covered.fetch_add(last - first);
                   if (first == 0) throw ERangeError();
                 }), ERangeError);
    EXPECT_EQ(covered.load(), 1000);  // every range ran before the exception came out
  }
}

// Nested waits on the executor's own tasks: one worker must run queued tasks while it waits.
TEST(ExecutorTest, ParallelForCoversEachIndexOnceAndNests) {
  struct TCase { std::int64_t Count, Grain; };
  for (const TExecutorCase& c : kExecutors)
    for (TCase r : {TCase{1, 0}, TCase{7, 0}, TCase{1000, 0}, TCase{1000, 1}, TCase{999, 100}, TCase{5, 50}}) {
      SCOPED_TRACE(std::string(c.Name) + " count " + std::to_string(r.Count) + " grain " + std::to_string(r.Grain));
      auto e = MakeExecutor(c);
      std::vector<std::atomic<int>> hits(static_cast<size_t>(r.Count * 4));
      TTaskGroup outer(e);
      outer.Run([&] {
        ParallelFor(*e, r.Count, [&](std::int64_t first, std::int64_t last) {
          for (std::int64_t i = first; i < last; ++i) {
            TTaskGroup inner(e);
            for (std::int64_t k = 0; k < 2; ++k) inner.Run([&, i, k] { hits[size_t(i * 4 + k)].fetch_add(1); });
            ParallelFor(*e, 2, [&](std::int64_t f, std::int64_t l) {
              for (std::int64_t k = f; k < l; ++k) hits[size_t(i * 4 + 2 + k)].fetch_add(1);
            }, r.Grain);
            inner.Wait();
          }
        }, r.Grain);
      });
      outer.Wait();
      for (auto& h : hits) ASSERT_EQ(h.load(), 1);
    }
}

// A worker waiting for a group whose task runs on the other worker finds the queue empty and polls.
TEST(ExecutorTest, AWorkerWaitsForAGroupTaskRunningElsewhere) {
  auto e = MakeExecutor(kExecutors[2]);
  std::atomic<bool> started{false};
  std::atomic<int> done{0};
  TTaskGroup outer(e);
  outer.Run([&] {
    TTaskGroup inner(e);
    inner.Run([&] { started = true; std::this_thread::sleep_for(std::chrono::milliseconds(20)); ++done; });
    while (!started) std::this_thread::yield();  // the other worker took it: nothing is left in the queue
    inner.Wait();
    EXPECT_EQ(done.load(), 1);
  });
  outer.Wait();
}

TEST(ExecutorTest, ThreadExecutorKeepsSubmissionOrder) {
  TIntfPtr<IExecutor> e(new TThreadExecutor);
  std::vector<int> order, expected(1000);  // order: touched by the one worker only, read after WaitIdle
  std::iota(expected.begin(), expected.end(), 0);
  for (int i : expected) e->Submit([&order, i] { order.push_back(i); });
  e->WaitIdle();
  EXPECT_EQ(order, expected);
  EXPECT_EQ(e->ThreadCount(), 1);
  EXPECT_THROW(static_cast<TThreadPoolExecutor*>(e.Get())->SetThreadCount(2), EInvalidOperation);
}

// The first task holds the queue back (and may drop the last reference on the worker).
TEST(ExecutorTest, DestroyingAnExecutorFinishesItsQueuedWork) {
  constexpr int kQueued = 2000;
  for (const TExecutorCase& c : kExecutors)
    for (bool lastReferenceOnWorker : {false, true}) {
      SCOPED_TRACE(std::string(c.Name) + (lastReferenceOnWorker ? " released on a worker" : ""));
      auto runs = std::make_unique<std::atomic<int>[]>(kQueued);
      std::atomic<int> total{0};
      // Shared: a detached last worker may still be leaving the gate's wait after this iteration.
      auto gate = std::make_shared<TEvent>();
      TEvent allRan;
      auto e = MakeExecutor(c);
      TIntfPtr<TThreadPoolExecutor> keep = lastReferenceOnWorker ? e : nullptr;
      e->Submit([gate, keep]() mutable {
        gate->WaitFor(INFINITE);
        keep.Reset();
      });
      for (int i = 0; i < kQueued; ++i)
        e->Submit([&, i] {
          runs[i].fetch_add(1);
          if (total.fetch_add(1) + 1 == kQueued) allRan.SetEvent();
        });
      keep.Reset();  // the task holds its own copy
      if (lastReferenceOnWorker) {
        e.Reset();
        gate->SetEvent();
      } else {
        gate->SetEvent();
        e.Reset();  // joins the workers after they drained the queue
        EXPECT_EQ(total.load(), kQueued);
      }
      EXPECT_EQ(allRan.WaitFor(INFINITE), wrSignaled);
      for (int i = 0; i < kQueued; ++i) ASSERT_EQ(runs[i].load(), 1) << i;
    }
}

// Freeing the owner or the component runs every queued task and ends the threads; it is not written.
TEST(ExecutorComponentTest, FreeingTheOwnerDrainsTheQueueAndEndsTheThreads) {
  enum TFree { fOwnerFree, fOwnerDelete, fComponentFree };
  const struct { const char* Name; bool Pool; TFree How; } cases[] = {
      {"pool, owner freed", true, fOwnerFree}, {"pool, owner deleted", true, fOwnerDelete},
      {"thread, component freed", false, fComponentFree}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    auto* owner = new TComponent(nullptr);
    TIntfPtr<TThreadPoolExecutor> e = c.Pool ? TThreadPoolExecutor::MakeComponent(owner)
                                             : TIntfPtr<TThreadPoolExecutor>(TThreadExecutor::MakeComponent(owner));
    if (c.Pool) e->SetThreadCount(3);
    auto* component = dynamic_cast<TExecutorComponent*>(owner->Components(0));
    ASSERT_EQ(component->Executor().Get(), e.Get());
    owner->GetChildren([&](TComponent* child) { ADD_FAILURE() << "writes " << child->ClassName(); }, owner);
    TEvent gate;
    std::atomic<int> ran{0};
    std::mutex tidsLock;
    std::vector<std::int32_t> tids;
    auto noteThread = [&] { std::lock_guard lk(tidsLock); tids.push_back(CurrentThreadTid()); };
    e->Submit([&] { noteThread(); gate.WaitFor(INFINITE); });
    for (int i = 0; i < 200; ++i) e->Submit([&] { noteThread(); ran.fetch_add(1); });
    gate.SetEvent();
    switch (c.How) {
      case fOwnerFree: TComponent::Free(owner); owner = nullptr; break;
      case fOwnerDelete: delete owner; owner = nullptr; break;
      case fComponentFree: TComponent::Free(component); break;
    }
    EXPECT_EQ(ran.load(), 200);  // nothing queued was dropped
    EXPECT_TRUE(e->IsShutDown());
    EXPECT_THROW(e->Submit([] {}), EInvalidOperation);
    ASSERT_FALSE(tids.empty());
    for (std::int32_t tid : tids)
      EXPECT_FALSE(std::filesystem::exists("/proc/self/task/" + std::to_string(tid))) << "worker " << tid << " runs";
    if (owner) {
      EXPECT_EQ(owner->ComponentCount(), 0);
      TComponent::Free(owner);
    }
  }
}

// A task may free the owner of its own executor: its worker is left to end instead of joining itself.
TEST(ExecutorComponentTest, ATaskMayFreeItsExecutorsOwner) {
  auto* owner = new TComponent(nullptr);
  TIntfPtr<TThreadPoolExecutor> e = TThreadPoolExecutor::MakeComponent(owner);
  e->SetThreadCount(2);
  auto freed = std::make_shared<TEvent>();  // shared: the detached worker may outlive this frame
  e->Submit([owner, freed] {
    TComponent::Free(owner);
    freed->SetEvent();
  });
  EXPECT_EQ(freed->WaitFor(INFINITE), wrSignaled);
  EXPECT_TRUE(e->IsShutDown());
  EXPECT_THROW(e->Submit([] {}), EInvalidOperation);
}

}  // namespace
}  // namespace nx
