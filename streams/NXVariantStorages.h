// NXVariantStorages: the thread-safe first-in, first-out queue of operations
// that a filter's worker thread drains (INXOperationList), the field-less
// internal stop operation, and the per-input buffer queue of multi-input
// components (TNXBufferQueue), which also keeps the number of queued samples.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>
#include <vector>

#include "runtime/SysUtils.h"
#include "runtime/Zandor.Interfaces.h"
#include "runtime/Zandor.Mutex.h"
#include "runtime/Zandor.Sync.h"
#include "streams/FTPins.h"

namespace nx {

// ---------------------------------------------------------------- operation list

// Every call is atomic. Push (clear flag false) on one thread and Pop on
// another give first-in, first-out order; PushBack puts an operation ahead of
// everything queued. Empty operations cannot be queued (EAssertionFailed).
struct INXOperationList : virtual IInterface {
  NX_INTERFACE_ID(INXOperationList, "{B1B1AEB0-77EB-408D-AA0C-00CD0749DD38}");
  // Inserts at the head (popped next); returns the new count.
  virtual std::int32_t PushBack(const TIntfPtr<IFTNotifyOperation>& AOperation) = 0;
  // Removes everything first when AClear is set, then appends at the tail;
  // returns the new count.
  virtual std::int32_t Push(const TIntfPtr<IFTNotifyOperation>& AOperation, bool AClear) = 0;
  // Appends at the tail only while the count is below ALimit; returns the
  // count afterwards.
  virtual std::int32_t PushLimit(const TIntfPtr<IFTNotifyOperation>& AOperation, std::int32_t ALimit) = 0;
  // Removes and returns the head; false and an empty AOperation when empty.
  virtual bool Pop(TIntfPtr<IFTNotifyOperation>& AOperation) = 0;
  // The head (the operation Pop would return) without removing it; empty when the list is.
  virtual void Peek(TIntfPtr<IFTNotifyOperation>& AOperation) = 0;
  virtual std::int32_t ItemsCount() = 0;
  virtual void Clear() = 0;
};

// The critical section of an operation list: a plain mutex. Its holders run
// for a few nanoseconds (no call leaves the list while holding it). A spin of
// try-locks with pauses before sleeping measured four times slower between a
// producer and a consumer on two cores (the pauses outlast the holder), so
// there is none.
class TNXListSection {
 public:
  void Enter() { FMutex.lock(); }
  void Leave() { FMutex.unlock(); }

 private:
  std::mutex FMutex;
};

// A ring of operation references that doubles when full: pushing and popping
// allocate nothing once the ring has grown to the queue's working size.
class TNXOperationList final : public TInterfacedObject, public virtual INXOperationList {
  NX_INTERFACES(TInterfacedObject, INXOperationList)

 public:
  TNXOperationList();
  ~TNXOperationList() override;

  static TIntfPtr<INXOperationList> Make() { return TIntfPtr<INXOperationList>(new TNXOperationList()); }
  static TIntfPtr<INXOperationList> Create() { return Make(); }

  std::int32_t PushBack(const TIntfPtr<IFTNotifyOperation>& AOperation) override;
  std::int32_t Push(const TIntfPtr<IFTNotifyOperation>& AOperation, bool AClear) override;
  std::int32_t PushLimit(const TIntfPtr<IFTNotifyOperation>& AOperation, std::int32_t ALimit) override;
  bool Pop(TIntfPtr<IFTNotifyOperation>& AOperation) override;
  void Peek(TIntfPtr<IFTNotifyOperation>& AOperation) override;
  std::int32_t ItemsCount() override;
  void Clear() override;

 private:
  using TItem = TIntfPtr<IFTNotifyOperation>;
  void Grow();  // under FSection
  void Append(TItem&& AItem);  // at the tail, under FSection
  std::size_t Slot(std::size_t AIndex) const noexcept { return (FHead + AIndex) & (FList.size() - 1); }
  // Moves every queued operation out (under FSection); the caller lets them
  // go after leaving the section, so that no operation is freed inside it.
  std::vector<TItem> TakeAll();

  // The polled count sits on a cache line of its own, away from the section
  // and the ring fields that the holder of the section writes.
  alignas(64) TNXListSection FSection;
  std::vector<TItem> FList;  // the ring; its size is a power of two
  // The count as the other threads may read it without the section.
  void Publish() noexcept { FAtomicCount.store(FCount, std::memory_order_release); }

  std::size_t FHead = 0;
  std::size_t FCount = 0;  // under FSection
  alignas(64) std::atomic<std::size_t> FAtomicCount{0};
};

// An operation that marks an internal stop (a component stopping itself).
class TNXInternalStopOperation : public TFTNotifyOperation {
  NX_FT_SIMPLE_OPERATION(TNXInternalStopOperation, TFTNotifyOperation)
};

// ---------------------------------------------------------------- buffer queue

// A first-in, first-out queue of buffers (TBuffer: TIntfPtr of a buffer
// interface with GetSize) that keeps the number of samples queued. Samples
// can be taken across buffer boundaries (Take): a partly taken head stays
// queued with its remaining samples. Every change runs under the queue's
// lock; GetCount reads the count that each change publishes, without the
// lock, since a multi-input component polls every input's count for each
// buffer that arrives.
//
// The buffers sit in a ring that doubles when full, each with its size as it
// was queued, so that queuing and taking allocate nothing once the ring has
// grown to the queue's working depth and ask no buffer for its size again.
// (A queued buffer keeps its size: senders do not resize what they sent.)
template <class TBuffer>
class TNXBufferQueue {
 public:
  TNXBufferQueue() = default;
  TNXBufferQueue(const TNXBufferQueue&) = delete;
  TNXBufferQueue& operator=(const TNXBufferQueue&) = delete;

  void Push(TBuffer ABuffer) {
    NX_ASSERT_MSG(ABuffer, "an empty buffer cannot be queued");
    const std::int32_t size = ABuffer->GetSize();
    std::lock_guard guard(FLock);
    if (FItemCount == FRing.size()) Grow();
    TEntry& e = FRing[Slot(FItemCount)];
    e.Buffer = std::move(ABuffer);
    e.Size = size;
    ++FItemCount;
    FSamples += size;
    Publish();
  }
  // Removes the head buffer (whole, with any samples already taken from it);
  // false and an empty ABuffer when the queue is empty.
  bool Pop(TBuffer& ABuffer) {
    std::lock_guard guard(FLock);
    if (FItemCount == 0) {
      ABuffer = nullptr;
      return false;
    }
    TEntry& head = FRing[FHead];
    FSamples -= head.Size - FHeadOffset;
    ABuffer = std::move(head.Buffer);
    DropHead();
    Publish();
    return true;
  }
  // The number of samples queued (not yet taken).
  std::int64_t GetCount() const { return FPublished.load(std::memory_order_acquire); }
  // The published count itself, for a holder that reads it often.
  const std::atomic<std::int64_t>& CountRef() const noexcept { return FPublished; }
  std::int32_t GetBufferCount() const {
    std::lock_guard guard(FLock);
    return static_cast<std::int32_t>(FItemCount);
  }
  // The head buffer (empty when none) and the samples of it not yet taken (0 when none).
  TBuffer GetFirstBuffer() const {
    std::lock_guard guard(FLock);
    return FItemCount == 0 ? TBuffer() : FRing[FHead].Buffer;
  }
  std::int32_t GetFirstBufferSize() const {
    std::lock_guard guard(FLock);
    return FItemCount == 0 ? 0 : FRing[FHead].Size - FHeadOffset;
  }
  // Takes up to ACount samples from the head: AConsume(buffer, offset, count)
  // is called for each piece in order, under the queue's lock (it must not
  // use the queue). Returns the number of samples taken.
  template <class F>
  std::int64_t Take(std::int64_t ACount, F&& AConsume) {
    std::lock_guard guard(FLock);
    std::int64_t taken = 0;
    while (taken < ACount && FItemCount != 0) {
      TEntry& head = FRing[FHead];
      const std::int64_t piece = std::min<std::int64_t>(head.Size - FHeadOffset, ACount - taken);
      if (piece > 0) AConsume(std::as_const(head.Buffer), FHeadOffset, static_cast<std::int32_t>(piece));
      taken += piece;
      FHeadOffset += static_cast<std::int32_t>(piece);
      if (FHeadOffset >= head.Size) DropHead();
    }
    FSamples -= taken;
    Publish();
    return taken;
  }
  void Clear() {
    std::vector<TEntry> items;  // released after the lock is left
    {
      std::lock_guard guard(FLock);
      items.swap(FRing);
      FHead = FItemCount = 0;
      FSamples = 0;
      FHeadOffset = 0;
      Publish();
    }
  }

 private:
  struct TEntry {
    TBuffer Buffer;
    std::int32_t Size = 0;  // as queued
  };
  // Under FLock.
  std::size_t Slot(std::size_t AIndex) const noexcept { return (FHead + AIndex) & (FRing.size() - 1); }
  void Grow() {
    std::vector<TEntry> next(std::max<std::size_t>(FRing.size() * 2, 4));
    for (std::size_t i = 0; i < FItemCount; ++i) next[i] = std::move(FRing[Slot(i)]);
    FRing.swap(next);
    FHead = 0;
  }
  void DropHead() {
    FRing[FHead].Buffer = nullptr;
    FHead = (FHead + 1) & (FRing.size() - 1);
    --FItemCount;
    FHeadOffset = 0;
  }
  void Publish() noexcept { FPublished.store(FSamples, std::memory_order_release); }

  mutable std::mutex FLock;
  std::vector<TEntry> FRing;  // its size is 0 or a power of two
  std::size_t FHead = 0;
  std::size_t FItemCount = 0;
  std::int64_t FSamples = 0;
  std::atomic<std::int64_t> FPublished{0};
  std::int32_t FHeadOffset = 0;  // samples already taken from the head buffer
};

}  // namespace nx
