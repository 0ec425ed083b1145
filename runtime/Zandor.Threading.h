// Zandor.Threading: the threads and executors of the runtime.
//   - the synchronisation objects (Zandor.Sync.h), which this includes;
//   - TBasicThread: a thread object that repeats ExecuteLoop until it is
//     terminated, with priorities mapped onto nice values;
//   - MainThread: the main-thread queue through which other threads run
//     work on the host's main thread (Execute waits, Queue does not);
//   - IExecutor with TThreadPoolExecutor (N workers) and TThreadExecutor
//     (one worker, in submission order), TTaskGroup and ParallelFor;
//   - the component form of the executors (MakeComponent): an executor that
//     belongs to an owner component and ends its threads when that owner
//     is freed.
// The threads and the main-thread queue live in Zandor.Threading.cpp, the
// executors in Zandor.ThreadPool.cpp.
#pragma once

#include <atomic>
#include <concepts>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "runtime/Zandor.Components.h"
#include "runtime/Zandor.Function.h"
#include "runtime/Zandor.Interfaces.h"
#include "runtime/Zandor.Sync.h"

namespace nx {

// ---- Threads ---------------------------------------------------------------

struct IThread : virtual IInterface {
  NX_INTERFACE_ID(IThread, "{40F884B9-A691-441A-9C6B-32B87D00AC33}");
  virtual void Start() = 0;
  virtual void Terminate() = 0;
  virtual void WaitFor() = 0;
  virtual bool Terminated() const = 0;
  virtual bool Finished() const = 0;
  virtual TThreadPriority GetPriority() const = 0;
  virtual void SetPriority(TThreadPriority priority) = 0;
  virtual bool PriorityApplied() const = 0;
};

// A thread object. Its thread calls Execute, which by default repeats
// ExecuteLoop until Terminated() is true; a derived class overrides
// ExecuteLoop (one round of work, usually a wait and what follows it) and,
// when that waits on something, Terminate too, so that the wait wakes.
//
// Starting. A thread object is made suspended; Start runs it. A class that
// wants to run at once calls Start at the end of its (most derived)
// constructor, or is made with MakeThread<T>(...), which starts it.
//
// Lifetime. The object is reference-counted (TIntfPtr<IThread>, or of the
// class). When the last reference goes while the thread still runs, the
// destructor terminates the thread and waits for it. The derived parts are
// destroyed before that base destructor runs, so a class whose loop uses its
// own fields terminates and waits in its own destructor (TerminateAndWait).
// With FreeOnTerminate the running thread holds a reference to its object
// and releases it as it ends: an object whose creator dropped every
// reference (or never took one) then frees itself on its own thread. Such a
// thread must not be waited for once the creator holds no reference.
//
// Priority. The priority is stored and applied to the thread's nice value
// (at start, and at once on a running thread). A priority the process may
// not apply (raising needs a privilege) is kept and reported by
// PriorityApplied() and AppliedPriority(); it is never an error.
//
// Failures. An exception that escapes ExecuteLoop ends the thread; it is kept
// in FatalException() (the thread counts as terminated and finished).
class TBasicThread : public TInterfacedObject, public IThread {
  NX_INTERFACES(TInterfacedObject, IThread)

 public:
  // `name` is given to the kernel thread (at most 15 characters are kept).
  explicit TBasicThread(std::string name = {});
  ~TBasicThread() override;

  // Runs the thread; raises EInvalidOperation when it was started before.
  void Start() override;
  // Asks the loop to end. Overrides call the base and then wake their waits.
  void Terminate() override;
  // Waits until the thread has ended (returns at once when it never
  // started). On the main thread it runs the main-thread queue while it
  // waits, so that a thread that waits in MainThread::Execute can finish.
  // Raises EInvalidOperation when called on the thread itself.
  void WaitFor() override;
  // Terminate, then WaitFor unless called on the thread itself.
  void TerminateAndWait();
  bool Terminated() const override { return FTerminated.load(std::memory_order_acquire); }
  bool Started() const { return FStarted.load(std::memory_order_acquire); }
  bool Finished() const override { return FFinished.load(std::memory_order_acquire); }
  // True on the thread of this object.
  bool IsCurrentThread() const;

  bool FreeOnTerminate() const { return FFreeOnTerminate.load(std::memory_order_acquire); }
  void SetFreeOnTerminate(bool value);

  TThreadPriority GetPriority() const override;
  void SetPriority(TThreadPriority priority) override;
  // The priority in effect on the thread (tpNormal before it was started);
  // differs from GetPriority when the wanted priority could not be applied.
  TThreadPriority AppliedPriority() const;
  // True when the stored priority is the one in effect. Before the thread
  // starts: true (the priority is applied when it starts).
  bool PriorityApplied() const override;

  // The kernel thread id while the thread runs, else 0.
  std::int32_t ThreadID() const;
  const std::string& Name() const { return FName; }
  // The exception that ended the thread, or empty.
  std::exception_ptr FatalException() const;

 protected:
  // The thread body: repeats ExecuteLoop until terminated.
  virtual void Execute();
  // One round of the loop.
  virtual void ExecuteLoop() {}

 private:
  static void ThreadProc(TBasicThread* self);
  void TakeSelfReference();  // under FState

  const std::string FName;
  std::thread FThread;
  mutable std::mutex FState;  // guards the fields below and FThread's start
  std::condition_variable FFinishedCond;
  std::mutex FJoin;  // serialises joining FThread
  TThreadPriority FPriority = tpNormal;
  TThreadPriority FAppliedPriority = tpNormal;
  bool FHasSelfReference = false;
  std::int32_t FTid = 0;
  std::exception_ptr FFatalException;
  std::atomic<bool> FTerminated{false};
  std::atomic<bool> FStarted{false};
  std::atomic<bool> FFinished{false};
  std::atomic<bool> FFreeOnTerminate{false};
};

// Makes a thread object of class T, starts it and returns it.
template <class T, class... Args>
TIntfPtr<T> MakeThread(Args&&... args) {
  TIntfPtr<T> thread(new T(std::forward<Args>(args)...));
  thread->Start();
  return thread;
}

// ---- The main thread -------------------------------------------------------

// The main-thread queue. Other threads hand work to the host's main thread:
// Execute waits for it to run there, Queue does not. The work runs in the
// order it was handed over when the main thread drains the queue:
//   - a host with an event loop calls ProcessQueue from that loop (it may
//     block in WaitForWork until something arrives);
//   - a process without such a loop calls RunOnOwnThread, after which a
//     thread of the runtime is the main thread and drains the queue, until
//     StopOwnThread.
// The main thread is, at first, the thread that loaded the library; a host
// may claim it for another thread with SetMainThread. Execute on the main
// thread itself runs the work at once. Execute from another thread blocks
// until the main thread drains the queue: with no host loop and no own
// thread it waits for ever.
namespace MainThread {
// Runs `proc` on the main thread and waits for it; an exception it throws is
// raised again in the caller.
void Execute(std::function<void()> proc);
// Appends `proc` to the queue and returns at once. An exception it throws
// leaves the ProcessQueue that ran it (the work behind it stays queued); on
// the own thread the first such exception is kept and raised by StopOwnThread.
void Queue(std::function<void()> proc);
// Runs everything queued so far on the calling thread, which must be the
// main thread (else EInvalidOperation); returns whether anything ran.
bool ProcessQueue();
// Waits up to `timeoutMs` until the queue holds work; true when it does.
bool WaitForWork(std::uint32_t timeoutMs = INFINITE);
// The number of procedures waiting in the queue (a snapshot).
std::size_t QueueLength();
bool IsMainThread();
std::thread::id ID();
// Makes the calling thread the main thread (raises EInvalidOperation while
// the own thread runs).
void SetMainThread();
// Starts a thread of the runtime that is the main thread and drains the
// queue; does nothing when it already runs.
void RunOnOwnThread();
// Stops that thread after it has run everything queued before the call; the
// thread that was the main thread before RunOnOwnThread is it again. Raises
// the first exception of a queued procedure that the own thread caught.
void StopOwnThread();
bool RunsOnOwnThread();
}  // namespace MainThread

// ---- Executors -------------------------------------------------------------

using TTask = std::function<void()>;
class TTaskGroup;

// Runs submitted work on threads of its own. Every submitted task runs
// exactly once. A task submitted with a group counts in that group, and an
// exception it throws is raised again by the group's Wait; an exception of a
// task without a group is raised again by the next WaitIdle.
struct IExecutor : virtual IInterface {
  NX_INTERFACE_ID(IExecutor, "{BCF214DB-F235-4131-8E90-4ADE3F111171}");
  // Raises EInvalidOperation once the executor is being destroyed.
  virtual void Submit(TTask task, TTaskGroup* group = nullptr) = 0;
  // Submits every task of `tasks` under one lock (the vector is emptied).
  virtual void SubmitBatch(std::vector<TTask>& tasks, TTaskGroup* group = nullptr) = 0;
  // Waits until every task of `group` has run and raises the first exception
  // one of them threw. Called on a thread of this executor it runs queued
  // tasks while it waits, so that a task may wait for tasks it submitted.
  virtual void Wait(TTaskGroup& group) = 0;
  // Waits until every task submitted so far has run, then raises the first
  // exception a task without a group threw since the last WaitIdle. Must not
  // be called from a task of this executor (EInvalidOperation).
  virtual void WaitIdle() = 0;
  virtual std::int32_t ThreadCount() const = 0;
};

// A batch of tasks on one executor: Run submits a task into the batch, Wait
// waits for all of them and raises the first exception one threw since the
// last Wait (every failure is counted in Failures). A group may be reused after Wait. Its
// destructor waits for tasks still running and drops their exceptions.
class TTaskGroup {
 public:
  explicit TTaskGroup(const TIntfPtr<IExecutor>& executor) : FExecutor(executor) {}
  explicit TTaskGroup(IExecutor* executor) : FExecutor(executor) {}
  ~TTaskGroup();
  TTaskGroup(const TTaskGroup&) = delete;
  TTaskGroup& operator=(const TTaskGroup&) = delete;

  void Run(TTask task) { FExecutor->Submit(std::move(task), this); }
  void Wait() { FExecutor->Wait(*this); }
  // Tasks submitted and not yet finished (a snapshot).
  std::int64_t Pending() const { return FPending.load(std::memory_order_acquire); }
  // The number of tasks of this group that threw.
  std::int64_t Failures() const;

  // Used by the executors.
  void Added(std::int64_t count) { FPending.fetch_add(count, std::memory_order_relaxed); }
  void Finished(std::exception_ptr error);
  // Waits (without helping) until nothing is pending; the timed form says
  // whether that happened within `timeoutMs`.
  void WaitDone();
  bool WaitDoneFor(std::uint32_t timeoutMs);
  // The first exception since the last call, and forgets it.
  std::exception_ptr TakeError();

 private:
  TIntfPtr<IExecutor> FExecutor;
  std::atomic<std::int64_t> FPending{0};
  mutable std::mutex FMutex;
  std::condition_variable FDone;
  std::exception_ptr FError;
  std::int64_t FFailures = 0;
};

// Calls body(first, last) over consecutive ranges of `grain` indices that
// cover [0, count), and returns when all have run; then raises the first
// exception a range threw (a failing range does not stop the others). The
// calling thread takes ranges too, beside one task on each other thread of
// the executor (so that as many threads run as the executor has; on a
// one-thread executor the caller runs every range). `grain` 0 makes about
// four ranges per thread.
void ParallelFor(IExecutor& executor, std::int64_t count,
                 const std::function<void(std::int64_t first, std::int64_t last)>& body,
                 std::int64_t grain = 0);

namespace detail {
struct TPoolState;
}

// The settings of a thread pool, made before its first submission (see
// TThreadPoolExecutor). Whoever configures a pool it did not make (a
// processing engine) goes through this interface.
struct IThreadPoolBuilder : virtual IInterface {
  NX_INTERFACE_ID(IThreadPoolBuilder, "{7A41C0D2-58E3-4B9F-A16D-2F0C93E4B871}");
  virtual void SetPriority(TThreadPriority priority) = 0;
  virtual void SetThreadCount(std::int32_t count) = 0;
  virtual void SetGroupSize(std::uint32_t size) = 0;
};

class TThreadPoolExecutor;

// A pool of worker threads sharing one queue. Workers are started with the
// first submission: until then the thread count, group size and priority
// are settings that cost nothing to change.
//
// Destruction: the pool takes no more work (Submit raises
// EInvalidOperation), its workers finish every task already queued, and
// all of them are joined; so every submitted task runs exactly once. An
// exception of a task without a group that nobody collected with WaitIdle is
// dropped. When the last reference goes on one of the pool's own workers,
// that worker is detached and ends after the queue is drained.
//
// Shutdown does the same at once, whoever still holds the pool: it drains
// the queue, joins the workers and refuses later submissions.
//
// These executors are plain interfaced objects. MakeComponent makes one in
// its component form: a TExecutorComponent owned by a component holds the
// pool and shuts it down when the owner frees it (see below).
class TThreadPoolExecutor : public TInterfacedObject, public IExecutor, public IThreadPoolBuilder {
  NX_INTERFACES(TInterfacedObject, IExecutor, IThreadPoolBuilder)

 public:
  // `threadCount` < 1: the number of hardware threads.
  explicit TThreadPoolExecutor(std::int32_t threadCount = 0);
  ~TThreadPoolExecutor() override;

  // A pool (of the hardware thread count until configured) held by a new
  // TExecutorComponent owned by AOwner, so that freeing AOwner ends its
  // threads. With no owner the pool is a plain one, living as long as its
  // references.
  static TIntfPtr<TThreadPoolExecutor> MakeComponent(TComponent* AOwner);

  // Takes no more work (Submit raises EInvalidOperation), lets the workers
  // finish every queued task and joins them (a worker that calls it is left
  // to end on its own). Later calls do nothing.
  void Shutdown();
  bool IsShutDown() const;

  void Submit(TTask task, TTaskGroup* group = nullptr) override;
  void SubmitBatch(std::vector<TTask>& tasks, TTaskGroup* group = nullptr) override;
  void Wait(TTaskGroup& group) override;
  void WaitIdle() override;
  std::int32_t ThreadCount() const override;

  // Settings. The thread count may change only before the first submission
  // (EInvalidOperation after); < 1 means the hardware threads.
  void SetThreadCount(std::int32_t count) override;
  // The most tasks a worker takes from the queue at once (at least 1;
  // fewer when the queue is short, so that the work stays balanced).
  void SetGroupSize(std::uint32_t size) override;
  std::uint32_t GroupSize() const;
  // The priority of the workers (applied at once to running ones); as for
  // TBasicThread, one that cannot be applied is kept and reported.
  void SetPriority(TThreadPriority priority) override;
  TThreadPriority GetPriority() const;
  bool PriorityApplied() const;
  // True on one of this pool's workers.
  bool IsWorkerThread() const;

 protected:
  explicit TThreadPoolExecutor(std::int32_t threadCount, bool singleThread);

 private:
  void EnsureStarted();
  std::shared_ptr<detail::TPoolState> FState;
  std::vector<std::thread> FWorkers;
  std::mutex FStartLock;  // guards FWorkers and FStopped
  std::atomic<bool> FStarted{false};
  bool FStopped = false;
};

// One worker thread: tasks run one at a time in submission order (a task
// that waits for a group on this thread runs the queued tasks meanwhile).
class TThreadExecutor : public TThreadPoolExecutor {
 public:
  TThreadExecutor() : TThreadPoolExecutor(1, true) {}
  // A thread executor held by a new TExecutorComponent owned by AOwner (a
  // plain one without an owner).
  static TIntfPtr<TThreadExecutor> MakeComponent(TComponent* AOwner);
};

// The component form of an executor: it belongs to its owner, which frees it
// with itself (TComponent::Free frees the owned components before the
// owner's own fields go, so tasks still queued may use the owner). Freeing
// it shuts its executor down: every queued task runs, then the threads end;
// an executor interface still held elsewhere then refuses new work. It is
// made at run time for the owner and is not streamed with it.
class TExecutorComponent : public TComponent {
  NX_PERSISTENT_DECL(TExecutorComponent, TComponent)
 public:
  TExecutorComponent(TComponent* AOwner, TIntfPtr<TThreadPoolExecutor> AExecutor);
  ~TExecutorComponent() override;
  void BeforeDestruction() override;
  const TIntfPtr<TThreadPoolExecutor>& Executor() const noexcept { return FExecutor; }
  bool StoredWithOwner() const override { return false; }

 private:
  TIntfPtr<TThreadPoolExecutor> FExecutor;
};

}  // namespace nx
