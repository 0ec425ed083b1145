// NXFilterThread: the worker's queue, its wake-ups and its loop.
#include "components/NXFilterThread.h"

#include <thread>

#include "runtime/NXTrace.h"
#include "streams/NXFlowFigures.h"

namespace nx {

std::atomic<std::int32_t> TNXFilterThread::FLive{0};

TNXFilterThread::TNXFilterThread(IChangeNotifyLock* ALock, TNXThreading* AThreading, TNXFilterPumpProc AOwnerNotify)
    : TBasicThread("NXFilter"),
      FLock(ALock),
      FOwnerNotify(std::move(AOwnerNotify)),
      FThreading(AThreading) {
  FLive.fetch_add(1, std::memory_order_acq_rel);
}

TNXFilterThread::~TNXFilterThread() {
  // The loop uses this class's fields: end it before they go.
  TerminateAndWait();
  FLive.fetch_sub(1, std::memory_order_acq_rel);
}

void TNXFilterThread::TQueue::Push(TIntfPtr<IFTNotifyOperation> AOperation, bool AHandedOver, TEvent& AEmpty) {
  std::lock_guard<std::mutex> guard(FLock);
  if (FEmptySignalled) {
    AEmpty.ResetEvent();
    FEmptySignalled = false;
  }
  if (FSize == FRing.size()) {
    std::vector<TItem> next(FRing.size() * 2);
    for (std::size_t i = 0; i < FSize; ++i) next[i] = std::move(FRing[(FHead + i) & (FRing.size() - 1)]);
    FRing.swap(next);  // (the old ring holds only empty references now)
    FHead = 0;
  }
  TItem& item = FRing[(FHead + FSize) & (FRing.size() - 1)];
  item.Operation = std::move(AOperation);
  item.HandedOver = AHandedOver;
  FCount.store(static_cast<std::uint32_t>(++FSize), std::memory_order_release);
}

bool TNXFilterThread::TQueue::Pop(TIntfPtr<IFTNotifyOperation>& AOperation, bool& AHandedOver) {
  if (FCount.load(std::memory_order_acquire) == 0) return false;
  std::lock_guard<std::mutex> guard(FLock);
  if (FSize == 0) return false;
  TItem& item = FRing[FHead];
  AOperation = std::move(item.Operation);
  AHandedOver = item.HandedOver;
  FHead = (FHead + 1) & (FRing.size() - 1);
  FCount.store(static_cast<std::uint32_t>(--FSize), std::memory_order_release);
  return true;
}

void TNXFilterThread::TQueue::SignalIfEmpty(TEvent& AEmpty) {
  std::lock_guard<std::mutex> guard(FLock);
  if (!FEmptySignalled && FSize == 0) {
    AEmpty.SetEvent();
    FEmptySignalled = true;
  }
}

void TNXFilterThread::TQueue::Clear() {
  std::vector<TIntfPtr<IFTNotifyOperation>> removed;  // released after the lock is left
  std::lock_guard<std::mutex> guard(FLock);
  removed.reserve(FSize);
  for (std::size_t i = 0; i < FSize; ++i)
    removed.push_back(std::move(FRing[(FHead + i) & (FRing.size() - 1)].Operation));
  FHead = 0;
  FSize = 0;
  FCount.store(0, std::memory_order_release);
}

namespace {
// Waiting senders are woken when the queue has drained to this count, not at
// the first free slot: a sender that refills half a queue per wake-up pays
// one wake-up (two system calls and two context switches) for many
// operations instead of one each, and a full queue of 1 still wakes at empty.
std::uint32_t RoomMark(std::uint32_t ASize) noexcept { return ASize / 2; }

constexpr int kYieldsBeforeSleep = 2;

// The filter worker that runs on this thread (none on any other thread).
thread_local TNXFilterThread* tWorker = nullptr;
}  // namespace

// A worker that appends to the queue of a worker downstream does not wake it
// at once while it has work of its own queued: the wake-up waits until that
// queue holds half its size, or this worker runs dry, waits for room or
// ends. The downstream worker then takes a run of operations per wake-up
// instead of one (on few cores each wake-up is two context switches). Any
// other sender wakes at once: it cannot say when it will stop sending.
void TNXFilterThread::Wake() {
  // A plain look first: a worker that is awake costs its sender no locked
  // instruction on the worker's line.
  if (FWorkerWaiting.load(std::memory_order_seq_cst) && FWorkerWaiting.exchange(false, std::memory_order_seq_cst))
    FEvent.Bump(false);
}

void TNXFilterThread::WakeDeferred() {
  if (FDeferred.empty()) return;
  std::atomic_thread_fence(std::memory_order_seq_cst);
  for (const TIntfPtr<TNXFilterThread>& worker : FDeferred) worker->Wake();
  // Released after every wake-up: a last reference may end a worker (and
  // join its thread).
  std::vector<TIntfPtr<TNXFilterThread>> released;
  released.swap(FDeferred);
}

bool TNXFilterThread::PumpsHandedOver() noexcept { return tWorker && tWorker->FPumpHandedOver; }

void TNXFilterThread::Push(const TIntfPtr<IFTNotifyOperation>& AOperation, bool AHandedOver) {
  // With the owner's lock released for a wait, a stop may take this worker
  // out of its filter and let it go: a waiting sender keeps it alive until
  // it leaves.
  TIntfPtr<TNXFilterThread> keep;
  TNXThreadingQueue& queue = *FThreading->Queue();
  while (!Terminated() && static_cast<std::uint32_t>(FOperationQueue.Count()) >= queue.Size()) {
    // The event runs on the main thread. The sender does not wait for it:
    // the main thread may itself be waiting for this filter (a stop, a
    // property change under the component's lock).
    if (TNXNotifyEvent event = FThreading->OnQueueFull()) {
      TPersistent* sender = FThreading->OwnerComponent();
      MainThread::Queue([event = std::move(event), sender] { event(sender); });
    }
    if (queue.FullMode() == fmDropData) {
      figures::CountDrop(FThreading->OwnerComponent(), queue.Size());
      return;
    }
    figures::CountWait(FThreading->OwnerComponent());
    const std::uint64_t waitStart = trace::Recording() ? trace::NowNs() : 0;
    // No worker whose wake-up this sender put off may be left asleep while
    // it waits.
    if (tWorker) tWorker->WakeDeferred();
    // Take a ticket, announce the wait, then look again: the worker either
    // sees the announcement after its pop and bumps the word, or its pop is
    // seen here; a bump after the look ends the sleep at once.
    const std::uint32_t ticket = FProcessedEvent.Ticket();
    FRoomWanted.store(true, std::memory_order_seq_cst);
    FSendersWaiting.fetch_add(1, std::memory_order_seq_cst);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (!Terminated() && static_cast<std::uint32_t>(FOperationQueue.Count()) >= queue.Size()) {
      if (!keep) keep = TIntfPtr<TNXFilterThread>(this);
      TLockReleaser released(FLock);
      FProcessedEvent.Wait(ticket);
    }
    FSendersWaiting.fetch_sub(1, std::memory_order_seq_cst);
    if (waitStart != 0 && trace::Recording())
      trace::Complete("wait", FThreading->OwnerComponent()->GetNamePath(), waitStart, trace::NowNs());
  }
  if (Terminated()) return;
  // The queue-empty event is reset with the append (not before a drop).
  FOperationQueue.Push(AOperation, AHandedOver, FQueueEmptyEvent);
  if (figures::Enabled())
    figures::CountPush(this, FThreading->OwnerComponent(), AOperation.Get(),
                       static_cast<std::uint32_t>(FOperationQueue.Count()), queue.Size());
  // (A queue that drops when full is never left to fill unwatched.)
  TNXFilterThread* const sender = tWorker;
  if (sender && sender != this && sender->FOperationQueue.Count() > 0 && queue.FullMode() != fmDropData &&
      static_cast<std::uint32_t>(FOperationQueue.Count()) < std::max<std::uint32_t>(RoomMark(queue.Size()), 1)) {
    for (const TIntfPtr<TNXFilterThread>& worker : sender->FDeferred)
      if (worker.Get() == this) return;
    sender->FDeferred.emplace_back(this);
    return;
  }
  std::atomic_thread_fence(std::memory_order_seq_cst);
  Wake();
}

void TNXFilterThread::FlushQueue() {
  FOperationQueue.Clear();
  FProcessedEvent.Bump(true);
  FEvent.Bump(false);  // the worker wakes, finds nothing and reports the queue empty
}

bool TNXFilterThread::WaitForQueue(std::uint32_t ATimeoutMs) {
  if (IsCurrentThread()) return false;
  // A worker upstream that waits here first wakes the workers whose wake-up
  // it put off: this one may be among them, asleep with work queued.
  if (tWorker) tWorker->WakeDeferred();
  return FQueueEmptyEvent.WaitFor(ATimeoutMs) == wrSignaled;
}

void TNXFilterThread::Terminate() {
  TBasicThread::Terminate();
  FEvent.Bump(false);
  FProcessedEvent.Bump(true);
  if (Started() && !IsCurrentThread()) WaitFor();
}

void TNXFilterThread::SignalIfEmpty() { FOperationQueue.SignalIfEmpty(FQueueEmptyEvent); }

void TNXFilterThread::ExecuteLoop() {
  tWorker = this;
  FStarted.store(true, std::memory_order_release);
  // With the queue empty, give the processor up before sleeping: a sender
  // that is ready to run (the filter upstream, often on this very core) then
  // appends its next operations first, and the worker goes on without the
  // sleep and the wake-up (two system calls and two context switches) it
  // would otherwise pay. Twice: the first yield mostly runs the worker
  // downstream that this one has just woken, the second the one upstream.
  // (A chain of 16 workers on two cores, measured: one yield slept after
  // three rounds in ten, two after one in fifty, for one switch less per
  // round; more yields cost more switches than the sleeps they save.) With
  // nothing else to run, a yield returns at once.
  for (int i = 0; i < kYieldsBeforeSleep && FOperationQueue.Count() == 0 && !Terminated(); ++i)
    std::this_thread::yield();
  // Take a ticket, announce the wait, then look at the queue: a push either
  // sees the announcement and bumps the word, or its operation is seen here.
  const std::uint32_t ticket = FEvent.Ticket();
  FWorkerWaiting.store(true, std::memory_order_seq_cst);
  std::atomic_thread_fence(std::memory_order_seq_cst);
  if (FOperationQueue.Count() == 0 && !Terminated()) {
    // A push resets the queue-empty event; a flush that empties the queue
    // before this worker took the operation leaves it reset, and its wake-up
    // may come before the ticket above. Nothing is in progress now: say so
    // before sleeping, or a stop waiting for the event would wait in vain.
    SignalIfEmpty();
    FEvent.Wait(ticket);
  }
  FWorkerWaiting.store(false, std::memory_order_seq_cst);
  TIntfPtr<IFTNotifyOperation> operation;
  const std::uint32_t mark = RoomMark(FThreading->Queue()->Size());
  while (!Terminated() && FOperationQueue.Pop(operation, FPumpHandedOver)) {
    std::atomic_thread_fence(std::memory_order_seq_cst);
    // One wake-up per wait: until a woken sender runs, the later pops find
    // the request taken and make no system call.
    if (FSendersWaiting.load(std::memory_order_seq_cst) > 0 &&
        static_cast<std::uint32_t>(FOperationQueue.Count()) <= mark &&
        FRoomWanted.exchange(false, std::memory_order_seq_cst))
      FProcessedEvent.Bump(true);
    // Nothing is raised on the data path: a hook that throws loses its
    // operation, and the worker goes on (a dead worker would block its
    // senders for good).
    try {
      if (figures::Enabled()) figures::AdoptMark(this, operation.Get());
      trace::TSpan span("work", [this] { return FThreading->OwnerComponent()->GetNamePath(); });
      FOwnerNotify(operation);
    } catch (...) {
    }
    figures::MarkTick(0);
    FPumpHandedOver = false;
    operation = nullptr;
  }
  WakeDeferred();
  SignalIfEmpty();
}

}  // namespace nx
