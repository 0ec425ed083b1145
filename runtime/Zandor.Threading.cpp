// Zandor.Threading: the thread object and the main-thread queue. The
// executors are in Zandor.ThreadPool.cpp, the synchronisation objects and
// the priorities in Zandor.Sync.cpp.
#include "runtime/Zandor.Threading.h"

#include <pthread.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <deque>

#include "runtime/SysUtils.h"

namespace nx {

NX_PERSISTENT_IMPL(TExecutorComponent)

// ---- The main-thread queue -------------------------------------------------

namespace {

// A caller of Execute waits on this until the main thread has run its procedure.
struct TSyncCall {
  bool Done = false;
  std::exception_ptr Error;
};

struct TMainItem {
  std::function<void()> Proc;
  TSyncCall* Sync;  // null for Queue
};

struct TMainQueue {
  std::mutex M;
  std::condition_variable Work;  // work arrived, a thread ended, or stop
  std::condition_variable Done;  // a synchronous call finished
  std::deque<TMainItem> Items;
  std::atomic<std::thread::id> Main{std::this_thread::get_id()};
  std::thread::id SavedMain;
  std::thread Own;
  bool OwnRunning = false;
  bool StopOwn = false;
  std::exception_ptr Pending;  // first exception of a Queue procedure not yet raised
  std::mutex OwnLock;          // serialises RunOnOwnThread / StopOwnThread
};

TMainQueue& Q() {
  static TMainQueue q;
  return q;
}
// The queue is made while the library loads, so that the main thread is the loading thread.
[[maybe_unused]] const bool GMainQueueMade = (Q(), true);

// Runs what is queued now; exceptions of Queue procedures are kept in Pending.
bool RunQueue() {
  TMainQueue& q = Q();
  std::deque<TMainItem> batch;
  {
    std::lock_guard lk(q.M);
    batch.swap(q.Items);
  }
  if (batch.empty()) return false;
  for (TMainItem& item : batch) {
    std::exception_ptr error;
    try {
      item.Proc();
    } catch (...) {
      error = std::current_exception();
    }
    item.Proc = nullptr;  // its captures go on this thread, before the caller resumes
    std::lock_guard lk(q.M);
    if (item.Sync) {
      item.Sync->Error = std::move(error);  // this thread keeps no reference once the caller resumes
      item.Sync->Done = true;
      q.Done.notify_all();
    } else if (error && !q.Pending) {
      q.Pending = std::move(error);
    }
  }
  return true;
}

void RaisePending() {
  TMainQueue& q = Q();
  std::exception_ptr error;
  {
    std::lock_guard lk(q.M);
    error = std::exchange(q.Pending, nullptr);
  }
  if (error) std::rethrow_exception(error);
}

void OwnThreadLoop() {
  TMainQueue& q = Q();
  for (;;) {
    RunQueue();
    std::unique_lock lk(q.M);
    q.Work.wait(lk, [&] { return !q.Items.empty() || q.StopOwn; });
    if (q.StopOwn && q.Items.empty()) return;
  }
}

// Wakes a main thread that waits in WaitUntilOnMain.
void WakeMainThread() {
  TMainQueue& q = Q();
  std::lock_guard lk(q.M);
  q.Work.notify_all();
}

// On the main thread: runs the queue until `done` holds (checked under the
// queue lock, so a WakeMainThread after it changed is never missed).
template <class Pred>
void WaitUntilOnMain(Pred done) {
  TMainQueue& q = Q();
  for (;;) {
    {
      std::unique_lock lk(q.M);
      q.Work.wait(lk, [&] { return !q.Items.empty() || done(); });
      if (done()) return;
    }
    RunQueue();
  }
}

}  // namespace

namespace MainThread {

bool IsMainThread() { return Q().Main.load(std::memory_order_acquire) == std::this_thread::get_id(); }
std::thread::id ID() { return Q().Main.load(std::memory_order_acquire); }

void Execute(std::function<void()> proc) {
  if (IsMainThread()) {
    proc();
    return;
  }
  TMainQueue& q = Q();
  TSyncCall call;
  std::unique_lock lk(q.M);
  q.Items.push_back({std::move(proc), &call});
  q.Work.notify_all();
  q.Done.wait(lk, [&] { return call.Done; });
  lk.unlock();
  if (call.Error) std::rethrow_exception(call.Error);
}

void Queue(std::function<void()> proc) {
  TMainQueue& q = Q();
  std::lock_guard lk(q.M);
  q.Items.push_back({std::move(proc), nullptr});
  q.Work.notify_all();
}

bool ProcessQueue() {
  if (!IsMainThread()) throw EInvalidOperation("The main-thread queue runs only on the main thread");
  const bool ran = RunQueue();
  RaisePending();
  return ran;
}

bool WaitForWork(std::uint32_t timeoutMs) {
  TMainQueue& q = Q();
  std::unique_lock lk(q.M);
  auto ready = [&] { return !q.Items.empty(); };
  if (timeoutMs == INFINITE) {
    q.Work.wait(lk, ready);
    return true;
  }
  return q.Work.wait_for(lk, std::chrono::milliseconds(timeoutMs), ready);
}

std::size_t QueueLength() {
  TMainQueue& q = Q();
  std::lock_guard lk(q.M);
  return q.Items.size();
}

void SetMainThread() {
  TMainQueue& q = Q();
  std::lock_guard own(q.OwnLock);
  if (q.OwnRunning) throw EInvalidOperation("The main thread runs on a thread of its own");
  q.Main.store(std::this_thread::get_id(), std::memory_order_release);
}

void RunOnOwnThread() {
  TMainQueue& q = Q();
  std::lock_guard own(q.OwnLock);
  if (q.OwnRunning) return;
  std::lock_guard lk(q.M);  // the thread's first RunQueue waits until Main names it
  q.StopOwn = false;
  q.SavedMain = q.Main.load();
  q.Own = std::thread(OwnThreadLoop);
  q.Main.store(q.Own.get_id(), std::memory_order_release);
  q.OwnRunning = true;
}

void StopOwnThread() {
  TMainQueue& q = Q();
  {
    std::lock_guard own(q.OwnLock);
    if (!q.OwnRunning) return;
    if (q.Own.get_id() == std::this_thread::get_id())
      throw EInvalidOperation("The main thread's own thread cannot stop itself");
    {
      std::lock_guard lk(q.M);
      q.StopOwn = true;
      q.Work.notify_all();
    }
    q.Own.join();
    q.Main.store(q.SavedMain, std::memory_order_release);
    q.OwnRunning = false;
  }
  RaisePending();
}

bool RunsOnOwnThread() {
  TMainQueue& q = Q();
  std::lock_guard own(q.OwnLock);
  return q.OwnRunning;
}

}  // namespace MainThread

// ---- TBasicThread ----------------------------------------------------------

namespace {
// The priority whose nice value is nearest to `nice` (what a new thread inherited).
TThreadPriority PriorityOfNice(int nice) {
  TThreadPriority best = tpNormal;
  int bestDistance = 1000;
  for (int p = tpIdle; p <= tpTimeCritical; ++p) {
    const int d = std::abs(NiceValueOf(TThreadPriority(p)) - nice);
    if (d < bestDistance) bestDistance = d, best = TThreadPriority(p);
  }
  return best;
}
}  // namespace

TBasicThread::TBasicThread(std::string name) : FName(std::move(name)) {}

TBasicThread::~TBasicThread() {
  if (!Started()) return;
  if (IsCurrentThread()) {
    // The last reference went on the thread itself (free on terminate): it
    // ends on its own once this returns, and nothing waits for it.
    FThread.detach();
    return;
  }
  // Only the base part is left: terminate without the derived wake-ups.
  FTerminated.store(true, std::memory_order_release);
  try {
    WaitFor();
  } catch (...) {
  }
}

void TBasicThread::TakeSelfReference() {
  if (FHasSelfReference) return;
  if (!Started()) {
    // Before Start a count of 0 only means that nobody took a reference yet.
    _AddRef();
    FHasSelfReference = true;
    return;
  }
  // Free on terminate set on a running thread (from its own procedure, or a
  // clock's from its master's thread) may meet the owner dropping the last
  // reference. A count that reached 0 stays there: the owner's destructor is
  // already waiting for this thread, and a reference taken now would destroy
  // the object a second time. (So a thread that nobody holds is given free
  // on terminate before Start.)
  FHasSelfReference = TryAddRef();
}

void TBasicThread::Start() {
  std::exception_ptr failed;
  bool release = false;
  {
    std::lock_guard lk(FState);
    if (FStarted.load(std::memory_order_relaxed)) throw EInvalidOperation("The thread was started before");
    if (FreeOnTerminate()) TakeSelfReference();
    try {
      FThread = std::thread(&TBasicThread::ThreadProc, this);
      FStarted.store(true, std::memory_order_release);
    } catch (...) {  // no thread: the reference it would have released is given back
      failed = std::current_exception();
      release = std::exchange(FHasSelfReference, false);
    }
  }
  if (release) _Release();
  if (failed) std::rethrow_exception(failed);
}

void TBasicThread::ThreadProc(TBasicThread* self) {
  {
    std::lock_guard lk(self->FState);
    self->FTid = CurrentThreadTid();
    errno = 0;
    const int inherited = getpriority(PRIO_PROCESS, static_cast<id_t>(self->FTid));
    self->FAppliedPriority = errno == 0 ? PriorityOfNice(inherited) : tpNormal;
    if (ApplyThreadPriority(self->FTid, self->FPriority)) self->FAppliedPriority = self->FPriority;
  }
  if (!self->FName.empty()) pthread_setname_np(pthread_self(), self->FName.substr(0, 15).c_str());
  try {
    self->Execute();
  } catch (...) {
    std::lock_guard lk(self->FState);
    self->FFatalException = std::current_exception();
    self->FTerminated.store(true, std::memory_order_release);
  }
  bool release;
  {
    std::lock_guard lk(self->FState);
    self->FTid = 0;
    release = std::exchange(self->FHasSelfReference, false);
    self->FFinished.store(true, std::memory_order_release);
    self->FFinishedCond.notify_all();
  }
  WakeMainThread();
  // With a reference of its own the object may be freed here, on its thread.
  if (release) self->_Release();
}

void TBasicThread::Execute() {
  while (!Terminated()) ExecuteLoop();
}

void TBasicThread::Terminate() { FTerminated.store(true, std::memory_order_release); }

void TBasicThread::WaitFor() {
  {
    std::unique_lock lk(FState);
    if (!FStarted.load(std::memory_order_relaxed)) return;
  }
  if (IsCurrentThread()) throw EInvalidOperation("A thread cannot wait for itself");
  if (MainThread::IsMainThread()) {
    WaitUntilOnMain([this] { return Finished(); });
  } else {
    std::unique_lock lk(FState);
    FFinishedCond.wait(lk, [this] { return Finished(); });
  }
  std::lock_guard join(FJoin);
  if (FThread.joinable()) FThread.join();
}

void TBasicThread::TerminateAndWait() {
  Terminate();
  if (!IsCurrentThread()) WaitFor();
}

bool TBasicThread::IsCurrentThread() const {
  return Started() && FThread.get_id() == std::this_thread::get_id();
}

void TBasicThread::SetFreeOnTerminate(bool value) {
  bool release = false;
  {
    std::lock_guard lk(FState);
    FFreeOnTerminate.store(value, std::memory_order_release);
    if (value && Started() && !Finished())
      TakeSelfReference();
    else if (!value)
      release = std::exchange(FHasSelfReference, false);
  }
  if (release) _Release();
}

TThreadPriority TBasicThread::GetPriority() const {
  std::lock_guard lk(FState);
  return FPriority;
}

void TBasicThread::SetPriority(TThreadPriority priority) {
  if (priority > tpTimeCritical) throw EArgumentException(Format("Invalid thread priority %d", int(priority)));
  std::lock_guard lk(FState);
  FPriority = priority;
  if (FTid != 0 && ApplyThreadPriority(FTid, priority)) FAppliedPriority = priority;
}

TThreadPriority TBasicThread::AppliedPriority() const {
  std::lock_guard lk(FState);
  return FAppliedPriority;
}

bool TBasicThread::PriorityApplied() const {
  std::lock_guard lk(FState);
  return !FStarted.load(std::memory_order_relaxed) || FAppliedPriority == FPriority;
}

std::int32_t TBasicThread::ThreadID() const {
  std::lock_guard lk(FState);
  return FTid;
}

std::exception_ptr TBasicThread::FatalException() const {
  std::lock_guard lk(FState);
  return FFatalException;
}

}  // namespace nx
