// Zandor.Threading: events and semaphores on a mutex and a condition variable.
#include "runtime/Zandor.Threading.h"

#include <chrono>

#include "runtime/SysUtils.h"

namespace nx {

namespace {
// Waits on `cond` until `ready()` holds or the timeout passes; returns ready().
template <class Pred>
bool WaitUntilReady(std::condition_variable& cond, std::unique_lock<std::mutex>& lock,
                    std::uint32_t timeoutMs, Pred ready) {
  if (timeoutMs == INFINITE) {
    cond.wait(lock, ready);
    return true;
  }
  // A steady deadline keeps spurious wake-ups from extending the wait.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  return cond.wait_until(lock, deadline, ready);
}
}  // namespace

void TEvent::SetEvent() {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FSignaled = true;
  }
  if (FManualReset)
    FCond.notify_all();
  else
    FCond.notify_one();
}

void TEvent::ResetEvent() {
  std::lock_guard<std::mutex> lock(FMutex);
  FSignaled = false;
}

TWaitResult TEvent::WaitFor(std::uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(FMutex);
  if (!WaitUntilReady(FCond, lock, timeoutMs, [this] { return FSignaled; })) return wrTimeout;
  if (!FManualReset) FSignaled = false;
  return wrSignaled;
}

TSemaphore::TSemaphore(std::int32_t initialCount, std::int32_t maximumCount)
    : FCount(initialCount), FMaximum(maximumCount) {
  if (maximumCount < 1 || initialCount < 0 || initialCount > maximumCount)
    throw EArgumentException(Format("Invalid semaphore counts (initial %d, maximum %d)",
                                    static_cast<int>(initialCount), static_cast<int>(maximumCount)));
}

std::int32_t TSemaphore::Release(std::int32_t count) {
  if (count < 1)
    throw EArgumentException(Format("Invalid semaphore release count %d", static_cast<int>(count)));
  std::int32_t previous;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    previous = FCount;
    // Saturating add: FMaximum - FCount cannot overflow since 0 <= FCount <= FMaximum.
    FCount = count >= FMaximum - FCount ? FMaximum : FCount + count;
  }
  if (count == 1)
    FCond.notify_one();
  else
    FCond.notify_all();
  return previous;
}

TWaitResult TSemaphore::WaitFor(std::uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(FMutex);
  if (!WaitUntilReady(FCond, lock, timeoutMs, [this] { return FCount > 0; })) return wrTimeout;
  --FCount;
  return wrSignaled;
}

std::int32_t TSemaphore::Count() {
  std::lock_guard<std::mutex> lock(FMutex);
  return FCount;
}

}  // namespace nx
