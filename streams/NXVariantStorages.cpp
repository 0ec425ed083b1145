// NXVariantStorages: the operation list.
#include "streams/NXVariantStorages.h"

#include <utility>

namespace nx {

TNXOperationList::TNXOperationList() : FList(16) {}

TNXOperationList::~TNXOperationList() = default;

void TNXOperationList::Grow() {
  std::vector<TItem> next(FList.size() * 2);
  for (std::size_t i = 0; i < FCount; ++i) next[i] = std::move(FList[Slot(i)]);
  FList.swap(next);
  FHead = 0;
}

std::vector<TNXOperationList::TItem> TNXOperationList::TakeAll() {
  std::vector<TItem> items;
  items.reserve(FCount);
  for (std::size_t i = 0; i < FCount; ++i) items.push_back(std::move(FList[Slot(i)]));
  FHead = 0;
  FCount = 0;
  Publish();
  return items;
}

void TNXOperationList::Append(TItem&& AItem) {
  if (FCount == FList.size()) Grow();
  FList[Slot(FCount)] = std::move(AItem);
  ++FCount;
  Publish();
}

// The pushes take their reference before entering the section and move it in.
std::int32_t TNXOperationList::PushBack(const TIntfPtr<IFTNotifyOperation>& AOperation) {
  NX_ASSERT_MSG(AOperation, "an empty operation cannot be queued");
  TItem item = AOperation;
  TLockGuard<TNXListSection> guard(FSection);
  if (FCount == FList.size()) Grow();
  FHead = (FHead + FList.size() - 1) & (FList.size() - 1);
  FList[FHead] = std::move(item);
  ++FCount;
  Publish();
  return static_cast<std::int32_t>(FCount);
}

std::int32_t TNXOperationList::Push(const TIntfPtr<IFTNotifyOperation>& AOperation, bool AClear) {
  NX_ASSERT_MSG(AOperation, "an empty operation cannot be queued");
  TItem item = AOperation;
  std::vector<TItem> removed;  // released after the section is left
  TLockGuard<TNXListSection> guard(FSection);
  if (AClear) removed = TakeAll();
  Append(std::move(item));
  return static_cast<std::int32_t>(FCount);
}

std::int32_t TNXOperationList::PushLimit(const TIntfPtr<IFTNotifyOperation>& AOperation, std::int32_t ALimit) {
  NX_ASSERT_MSG(AOperation, "an empty operation cannot be queued");
  TItem item = AOperation;  // released after the section is left when not queued
  TLockGuard<TNXListSection> guard(FSection);
  if (ALimit > 0 && FCount < static_cast<std::size_t>(ALimit)) Append(std::move(item));
  return static_cast<std::int32_t>(FCount);
}

bool TNXOperationList::Pop(TIntfPtr<IFTNotifyOperation>& AOperation) {
  TItem item;  // the caller's old value is released after the section is left
  // An empty list answers without the section, so that a consumer polling an
  // empty list does not hold up the producer. (A push that has not counted
  // its operation yet has not happened yet.)
  if (FAtomicCount.load(std::memory_order_acquire) != 0) {
    TLockGuard<TNXListSection> guard(FSection);
    if (FCount != 0) {
      item = std::move(FList[FHead]);
      FHead = (FHead + 1) & (FList.size() - 1);
      --FCount;
      Publish();
    }
  }
  AOperation.Swap(item);
  return static_cast<bool>(AOperation);
}

void TNXOperationList::Peek(TIntfPtr<IFTNotifyOperation>& AOperation) {
  TItem item;
  {
    TLockGuard<TNXListSection> guard(FSection);
    if (FCount != 0) item = FList[FHead];
  }
  AOperation.Swap(item);
}

std::int32_t TNXOperationList::ItemsCount() {
  return static_cast<std::int32_t>(FAtomicCount.load(std::memory_order_acquire));
}

void TNXOperationList::Clear() {
  std::vector<TItem> removed;
  TLockGuard<TNXListSection> guard(FSection);
  removed = TakeAll();
}

}  // namespace nx
