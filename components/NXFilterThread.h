// NXFilterThread: a filter's worker thread. It runs the owner's operations
// in arrival order from a bounded queue; a full queue blocks or drops the
// sender's operation by the owner's threading settings. Filters see it only
// through INXFilterThread (NXCommonFilter.h); component authors never use
// this header.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "components/NXCommonFilter.h"
#include "runtime/Zandor.Function.h"
#include "runtime/Zandor.Threading.h"

namespace nx {

class TNXFilterThread final : public TBasicThread, public virtual INXFilterThread {
  NX_INTERFACES(TBasicThread, INXFilterThread)
 public:
  // ALock is the owner's change-notify lock (released while a sender waits
  // for room); AThreading the owner's settings; AOwnerNotify processes one
  // operation. The thread is made suspended: Start runs it.
  TNXFilterThread(IChangeNotifyLock* ALock, TNXThreading* AThreading, TNXFilterPumpProc AOwnerNotify);
  ~TNXFilterThread() override;

  void PushOperation(const TIntfPtr<IFTNotifyOperation>& AOperation) override { Push(AOperation, false); }
  void PushHandedOver(const TIntfPtr<IFTNotifyOperation>& AOperation) override { Push(AOperation, true); }
  void FlushQueue() override;
  TEvent& GetQueueEvent() override { return FQueueEmptyEvent; }
  bool WaitForQueue(std::uint32_t ATimeoutMs) override;
  bool IsWorkerThread() const override { return IsCurrentThread(); }
  void Terminate() override;
  void SetPriority(TThreadPriority APriority) override { TBasicThread::SetPriority(APriority); }
  TThreadPriority GetPriority() const override { return TBasicThread::GetPriority(); }
  std::int32_t QueuedCount() override { return static_cast<std::int32_t>(FOperationQueue.Count()); }

  // True on a worker while it hands its owner an operation that came with
  // PushHandedOver (the owner may write its data in place).
  static bool PumpsHandedOver() noexcept;

  // The number of filter threads that exist in the process (for checks that
  // none is left behind).
  static std::int32_t LiveCount() noexcept { return FLive.load(std::memory_order_acquire); }

 protected:
  void ExecuteLoop() override;

 private:
  // Sets the queue-empty event when the queue holds nothing; under the queue's lock,
  // so that it never overtakes a push that reset it.
  void SignalIfEmpty();
  void Push(const TIntfPtr<IFTNotifyOperation>& AOperation, bool AHandedOver);
  // Wakes this worker if it sleeps.
  void Wake();
  // Wakes the downstream workers whose wake-up this worker has put off.
  void WakeDeferred();

  IChangeNotifyLock* FLock;
  TNXFilterPumpProc FOwnerNotify;
  TNXThreading* FThreading;
  TWaitWord FEvent;           // work available (the worker sleeps on it)
  TWaitWord FProcessedEvent;  // room available (waiting senders sleep on it)
  std::atomic<bool> FStarted{false};
  // The queue: a ring of operations in arrival order, each with whether its
  // data was handed over. Its holders run for a few nanoseconds and free
  // nothing inside it; the count is polled without the lock.
  class TQueue {
   public:
    std::uint32_t Count() const noexcept { return FCount.load(std::memory_order_acquire); }
    // Appends; the first append after the queue-empty event AEmpty was set
    // resets it. Under the queue's lock, which SignalIfEmpty takes too, so
    // that a set never overtakes the append that reset it.
    void Push(TIntfPtr<IFTNotifyOperation> AOperation, bool AHandedOver, TEvent& AEmpty);
    // Sets AEmpty when the queue holds nothing and it is not set already.
    void SignalIfEmpty(TEvent& AEmpty);
    // The head into the (empty) AOperation; false when the queue is empty.
    bool Pop(TIntfPtr<IFTNotifyOperation>& AOperation, bool& AHandedOver);
    void Clear();

   private:
    struct TItem {
      TIntfPtr<IFTNotifyOperation> Operation;
      bool HandedOver = false;
    };
    std::mutex FLock;
    std::vector<TItem> FRing = std::vector<TItem>(16);  // its size is a power of two
    std::size_t FHead = 0;
    std::size_t FSize = 0;  // under FLock
    bool FEmptySignalled = true;  // under FLock: the queue-empty event is set
    alignas(64) std::atomic<std::uint32_t> FCount{0};
  };
  TQueue FOperationQueue;
  bool FPumpHandedOver = false;  // on the worker: the operation in hand was handed over
  TEvent FQueueEmptyEvent{true, true};
  // The words are bumped only when someone may sleep on them: each wake-up
  // is a system call, and a worker that keeps up would otherwise pay one for
  // every operation.
  std::atomic<bool> FWorkerWaiting{false};
  std::atomic<std::int32_t> FSendersWaiting{0};
  std::atomic<bool> FRoomWanted{false};  // a sender asked for room since the last wake-up
  // Downstream workers this worker appended to without waking them (touched
  // only on this worker's thread; the references keep them alive).
  std::vector<TIntfPtr<TNXFilterThread>> FDeferred;
  static std::atomic<std::int32_t> FLive;
};

}  // namespace nx
