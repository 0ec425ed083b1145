// Zandor.ThreadPool: the executors of Zandor.Threading. A pool keeps one
// queue under one mutex; a worker takes several tasks at a time (at most the
// group size, fewer when the queue is short so that long tasks stay spread
// over the workers) and runs them outside the lock. A submitter wakes a
// worker only when one sleeps and none has been woken for it yet, so a busy
// pool costs one lock per task and no system call. The workers' state lives
// in a shared block that each worker holds, so a pool whose last reference
// goes on one of its own workers can let that worker finish on its own.
#include <algorithm>
#include <chrono>
#include <deque>

#include "runtime/SysUtils.h"
#include "runtime/Zandor.Threading.h"

namespace nx {

namespace detail {

struct TPoolItem {
  TTask Fn;
  TTaskGroup* Group;
};

struct TPoolWorkerInfo {
  std::int32_t Tid;
  TThreadPriority Applied;
};

struct TPoolState {
  std::mutex M;
  std::condition_variable WorkCond;  // work arrived or shutdown
  std::condition_variable IdleCond;  // Unfinished reached 0
  std::deque<TPoolItem> Queue;
  std::atomic<std::size_t> Queued{0};  // Queue.size(), for workers that look without the lock
  std::int64_t Unfinished = 0;  // queued or running
  int Sleeping = 0;             // workers waiting on WorkCond
  int Signalled = 0;            // of them, woken and not yet up
  int IdleWaiters = 0;
  bool Shutdown = false;
  std::int32_t ThreadCount = 1;
  bool Single = false;
  std::uint32_t GroupSize = 16;
  TThreadPriority Priority = tpNormal;
  std::vector<TPoolWorkerInfo> Workers;  // running workers' thread ids
  std::exception_ptr Error;              // first error of a task without a group
};

namespace {
thread_local TPoolState* tWorkerOf = nullptr;
constexpr int kSpinRounds = 2000;

// Runs one task; its error goes to its group, or to `error` (first kept).
void RunItem(TPoolItem& item, std::exception_ptr& error) {
  std::exception_ptr e;
  try {
    item.Fn();
  } catch (...) {
    e = std::current_exception();
  }
  item.Fn = nullptr;
  if (item.Group)
    item.Group->Finished(e);
  else if (e && !error)
    error = e;
}

// Called with s.M held: `done` tasks have ended.
void Retire(TPoolState& s, std::int64_t done, std::exception_ptr& error) {
  if (error && !s.Error) s.Error = error;
  error = nullptr;
  s.Unfinished -= done;
  if (s.Unfinished == 0 && s.IdleWaiters > 0) s.IdleCond.notify_all();
}

// With s.M held and the queue empty: waits unlocked, without sleeping, up to
// a few microseconds for work to be queued; returns with s.M held.
void Spin(TPoolState& s, std::unique_lock<std::mutex>& lk) {
  lk.unlock();
  for (int i = 0; i < kSpinRounds && s.Queued.load(std::memory_order_relaxed) == 0; ++i) {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
  lk.lock();
}

void WorkerLoop(std::shared_ptr<TPoolState> state) {
  TPoolState& s = *state;
  tWorkerOf = &s;
  const std::int32_t tid = CurrentThreadTid();
  std::vector<TPoolItem> batch;
  std::exception_ptr error;
  bool spun = false;
  std::unique_lock lk(s.M);
  {
    const bool ok = ApplyThreadPriority(tid, s.Priority);
    s.Workers.push_back({tid, ok ? s.Priority : tpNormal});
  }
  batch.reserve(s.GroupSize);
  for (;;) {
    if (!s.Queue.empty()) {
      // A share of the queue: long queues go out in groups, the tail one by one.
      const std::size_t share = s.Queue.size() / (2 * static_cast<std::size_t>(s.ThreadCount));
      const std::size_t n = std::clamp<std::size_t>(share, 1, s.GroupSize);
      for (std::size_t i = 0; i < n; ++i) {
        batch.push_back(std::move(s.Queue.front()));
        s.Queue.pop_front();
      }
      s.Queued.store(s.Queue.size(), std::memory_order_relaxed);
      spun = false;
      lk.unlock();
      for (TPoolItem& item : batch) RunItem(item, error);
      batch.clear();
      lk.lock();
      Retire(s, static_cast<std::int64_t>(n), error);
      continue;
    }
    if (s.Shutdown) break;
    // Look again for a little while before sleeping: a submitter that is
    // feeding the pool then needs no system call to wake it. The queue is
    // looked at once more under the lock before the worker counts as asleep.
    if (!spun) {
      Spin(s, lk);
      spun = true;
      continue;
    }
    spun = false;
    ++s.Sleeping;
    s.WorkCond.wait(lk);
    --s.Sleeping;
    if (s.Signalled > 0) --s.Signalled;
  }
  std::erase_if(s.Workers, [&](const TPoolWorkerInfo& w) { return w.Tid == tid; });
  tWorkerOf = nullptr;
}

// Called with s.M held after `added` tasks were queued: wakes sleepers that
// are not already on their way.
bool NeedWake(TPoolState& s) {
  if (s.Sleeping > s.Signalled) {
    ++s.Signalled;
    return true;
  }
  return false;
}

[[noreturn]] void RaiseShutdown() { throw EInvalidOperation("The executor is shutting down"); }
}  // namespace

}  // namespace detail

using detail::TPoolState;

// ---- TTaskGroup ------------------------------------------------------------

TTaskGroup::~TTaskGroup() {
  if (Pending() == 0) {
    WaitDone();  // settles with a task that is just finishing
    return;
  }
  try {
    FExecutor->Wait(*this);
  } catch (...) {
  }
}

void TTaskGroup::Finished(std::exception_ptr error) {
  // The last decrement happens under the lock: a waiter that sees 0 takes the
  // lock once more before it returns, so the group outlives this call.
  std::lock_guard lk(FMutex);
  if (error) {
    if (!FError) FError = error;
    ++FFailures;
  }
  if (FPending.fetch_sub(1, std::memory_order_acq_rel) == 1) FDone.notify_all();
}

void TTaskGroup::WaitDone() {
  std::unique_lock lk(FMutex);
  FDone.wait(lk, [this] { return Pending() == 0; });
}

bool TTaskGroup::WaitDoneFor(std::uint32_t timeoutMs) {
  std::unique_lock lk(FMutex);
  return FDone.wait_for(lk, std::chrono::milliseconds(timeoutMs), [this] { return Pending() == 0; });
}

std::exception_ptr TTaskGroup::TakeError() {
  std::lock_guard lk(FMutex);
  return std::exchange(FError, nullptr);
}

std::int64_t TTaskGroup::Failures() const {
  std::lock_guard lk(FMutex);
  return FFailures;
}

// ---- ParallelFor -----------------------------------------------------------

// The ranges are handed out one by one from a shared counter to whoever asks
// next: the calling thread and a task on each other executor thread (the
// caller waits anyway; one runner more than the threads would only make the
// system share cores, and a runner put aside holds up the job's last range).
// A thread that is held up (preempted, or busy with other work) holds up one
// range at most, and a helper task that starts late finds nothing left.
void ParallelFor(IExecutor& executor, std::int64_t count,
                 const std::function<void(std::int64_t, std::int64_t)>& body, std::int64_t grain) {
  if (count <= 0) return;
  const std::int64_t threads = std::max<std::int64_t>(1, executor.ThreadCount());
  if (grain <= 0) grain = std::max<std::int64_t>(1, count / (4 * (threads + 1)));
  const std::int64_t ranges = (count + grain - 1) / grain;
  std::atomic<std::int64_t> next{0};
  std::mutex errorLock;
  std::exception_ptr error;
  // Every range runs even when others fail; the first failure is raised at the end.
  auto runRanges = [&] {
    for (std::int64_t r; (r = next.fetch_add(1, std::memory_order_relaxed)) < ranges;) {
      try {
        body(r * grain, std::min(count, (r + 1) * grain));
      } catch (...) {
        std::lock_guard lk(errorLock);
        if (!error) error = std::current_exception();
      }
    }
  };
  TTaskGroup group(&executor);
  std::vector<TTask> helpers(static_cast<std::size_t>(std::min(threads - 1, ranges - 1)), runRanges);
  executor.SubmitBatch(helpers, &group);
  runRanges();
  group.Wait();
  if (error) std::rethrow_exception(error);
}

// ---- TThreadPoolExecutor ---------------------------------------------------

TThreadPoolExecutor::TThreadPoolExecutor(std::int32_t threadCount) : TThreadPoolExecutor(threadCount, false) {}

TThreadPoolExecutor::TThreadPoolExecutor(std::int32_t threadCount, bool singleThread)
    : FState(std::make_shared<TPoolState>()) {
  FState->Single = singleThread;
  SetThreadCount(singleThread ? 1 : threadCount);
}

TThreadPoolExecutor::~TThreadPoolExecutor() { Shutdown(); }

void TThreadPoolExecutor::Shutdown() {
  std::vector<std::thread> workers;
  {
    std::lock_guard start(FStartLock);
    if (FStopped) return;
    FStopped = true;
    workers = std::move(FWorkers);
    std::lock_guard lk(FState->M);
    FState->Shutdown = true;
    FState->WorkCond.notify_all();
  }
  // The workers drain the queue before they see the shutdown.
  for (std::thread& t : workers) {
    if (t.get_id() == std::this_thread::get_id())
      t.detach();  // called on this worker (the last reference, or a task freeing the owner): it ends on its own
    else
      t.join();
  }
}

bool TThreadPoolExecutor::IsShutDown() const {
  std::lock_guard lk(FState->M);
  return FState->Shutdown;
}

void TThreadPoolExecutor::SetThreadCount(std::int32_t count) {
  std::lock_guard start(FStartLock);
  if (!FWorkers.empty() || FStopped) throw EInvalidOperation("The thread count of a running pool cannot change");
  if (FState->Single && count != 1) throw EInvalidOperation("A thread executor has one thread");
  if (count < 1) count = static_cast<std::int32_t>(std::max(1u, std::thread::hardware_concurrency()));
  std::lock_guard lk(FState->M);
  FState->ThreadCount = count;
}

std::int32_t TThreadPoolExecutor::ThreadCount() const {
  std::lock_guard lk(FState->M);
  return FState->ThreadCount;
}

void TThreadPoolExecutor::SetGroupSize(std::uint32_t size) {
  std::lock_guard lk(FState->M);
  FState->GroupSize = std::max(1u, size);
}

std::uint32_t TThreadPoolExecutor::GroupSize() const {
  std::lock_guard lk(FState->M);
  return FState->GroupSize;
}

void TThreadPoolExecutor::SetPriority(TThreadPriority priority) {
  if (priority > tpTimeCritical) throw EArgumentException(Format("Invalid thread priority %d", int(priority)));
  std::lock_guard lk(FState->M);
  FState->Priority = priority;
  for (detail::TPoolWorkerInfo& w : FState->Workers)
    if (ApplyThreadPriority(w.Tid, priority)) w.Applied = priority;
}

TThreadPriority TThreadPoolExecutor::GetPriority() const {
  std::lock_guard lk(FState->M);
  return FState->Priority;
}

bool TThreadPoolExecutor::PriorityApplied() const {
  std::lock_guard lk(FState->M);
  return std::all_of(FState->Workers.begin(), FState->Workers.end(),
                     [&](const detail::TPoolWorkerInfo& w) { return w.Applied == FState->Priority; });
}

bool TThreadPoolExecutor::IsWorkerThread() const { return detail::tWorkerOf == FState.get(); }

void TThreadPoolExecutor::EnsureStarted() {
  std::lock_guard start(FStartLock);
  if (FStopped) detail::RaiseShutdown();
  if (!FWorkers.empty()) return;
  const std::int32_t n = ThreadCount();
  FWorkers.reserve(static_cast<std::size_t>(n));
  for (std::int32_t i = 0; i < n; ++i) FWorkers.emplace_back(detail::WorkerLoop, FState);
}

void TThreadPoolExecutor::Submit(TTask task, TTaskGroup* group) {
  if (!task) throw EArgumentException("Empty task");
  if (!FStarted.load(std::memory_order_acquire)) {
    EnsureStarted();
    FStarted.store(true, std::memory_order_release);
  }
  TPoolState& s = *FState;
  bool wake;
  {
    std::lock_guard lk(s.M);
    if (s.Shutdown) detail::RaiseShutdown();
    if (group) group->Added(1);
    s.Queue.push_back({std::move(task), group});
    s.Queued.store(s.Queue.size(), std::memory_order_relaxed);
    ++s.Unfinished;
    wake = detail::NeedWake(s);
  }
  if (wake) s.WorkCond.notify_one();
}

void TThreadPoolExecutor::SubmitBatch(std::vector<TTask>& tasks, TTaskGroup* group) {
  for (const TTask& t : tasks)
    if (!t) throw EArgumentException("Empty task");
  if (tasks.empty()) return;
  if (!FStarted.load(std::memory_order_acquire)) {
    EnsureStarted();
    FStarted.store(true, std::memory_order_release);
  }
  TPoolState& s = *FState;
  int wakes = 0;
  {
    std::lock_guard lk(s.M);
    if (s.Shutdown) detail::RaiseShutdown();
    if (group) group->Added(static_cast<std::int64_t>(tasks.size()));
    for (TTask& t : tasks) s.Queue.push_back({std::move(t), group});
    s.Queued.store(s.Queue.size(), std::memory_order_relaxed);
    s.Unfinished += static_cast<std::int64_t>(tasks.size());
    for (std::size_t i = 0; i < tasks.size() && detail::NeedWake(s); ++i) ++wakes;
  }
  tasks.clear();
  for (int i = 0; i < wakes; ++i) s.WorkCond.notify_one();
}

void TThreadPoolExecutor::Wait(TTaskGroup& group) {
  if (IsWorkerThread()) {
    // Run queued tasks meanwhile: the group's tasks may be among them, and
    // this worker may be the only one.
    TPoolState& s = *FState;
    std::exception_ptr error;
    while (group.Pending() > 0) {
      std::unique_lock lk(s.M);
      if (s.Queue.empty()) {
        lk.unlock();
        // The rest runs on other workers; look at the queue again now and
        // then, since those tasks may queue more.
        group.WaitDoneFor(1);
        continue;
      }
      detail::TPoolItem item = std::move(s.Queue.front());
      s.Queue.pop_front();
      s.Queued.store(s.Queue.size(), std::memory_order_relaxed);
      lk.unlock();
      detail::RunItem(item, error);
      lk.lock();
      detail::Retire(s, 1, error);
    }
  }
  group.WaitDone();
  if (std::exception_ptr e = group.TakeError()) std::rethrow_exception(e);
}

void TThreadPoolExecutor::WaitIdle() {
  if (IsWorkerThread()) throw EInvalidOperation("A task cannot wait for its own executor to be idle");
  TPoolState& s = *FState;
  std::exception_ptr error;
  {
    std::unique_lock lk(s.M);
    ++s.IdleWaiters;
    s.IdleCond.wait(lk, [&] { return s.Unfinished == 0; });
    --s.IdleWaiters;
    error = std::exchange(s.Error, nullptr);
  }
  if (error) std::rethrow_exception(error);
}

// ---- The component form ------------------------------------------------------

TIntfPtr<TThreadPoolExecutor> TThreadPoolExecutor::MakeComponent(TComponent* AOwner) {
  TIntfPtr<TThreadPoolExecutor> pool(new TThreadPoolExecutor());
  if (AOwner) new TExecutorComponent(AOwner, pool);  // the owner frees it
  return pool;
}

TIntfPtr<TThreadExecutor> TThreadExecutor::MakeComponent(TComponent* AOwner) {
  TIntfPtr<TThreadExecutor> executor(new TThreadExecutor());
  if (AOwner) new TExecutorComponent(AOwner, TIntfPtr<TThreadPoolExecutor>(executor));
  return executor;
}

TExecutorComponent::TExecutorComponent(TComponent* AOwner, TIntfPtr<TThreadPoolExecutor> AExecutor)
    : TComponent(AOwner), FExecutor(std::move(AExecutor)) {
  if (!FExecutor) throw EArgumentException("An executor component needs an executor");
}

// Free runs BeforeDestruction; a plain delete reaches the destructor only.
TExecutorComponent::~TExecutorComponent() {
  if (FExecutor) FExecutor->Shutdown();
}

void TExecutorComponent::BeforeDestruction() {
  FExecutor->Shutdown();
  TComponent::BeforeDestruction();
}

}  // namespace nx
