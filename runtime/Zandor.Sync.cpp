// Zandor.Sync: events and semaphores on a mutex and a condition variable,
// the wait word on a futex, and the thread priorities as nice values.
#include "runtime/Zandor.Sync.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#ifdef __linux__
#include <linux/futex.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

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

static_assert(sizeof(std::condition_variable) <= sizeof(TCondStorage) &&
              alignof(std::condition_variable) <= alignof(TCondStorage));

std::condition_variable& Cond(TCondStorage& AStorage) noexcept {
  return *std::launder(reinterpret_cast<std::condition_variable*>(AStorage.Bytes));
}
}  // namespace

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t) &&
              std::atomic<std::uint32_t>::is_always_lock_free);

// The futex compares the word with the ticket in the kernel, so a Bump
// between the caller's check and the sleep is never lost.
void TWaitWord::Wait(std::uint32_t ATicket) noexcept {
#ifdef __linux__
  syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&FWord), FUTEX_WAIT_PRIVATE, ATicket, nullptr, nullptr, 0);
#else
  FWord.wait(ATicket, std::memory_order_acquire);
#endif
}

void TWaitWord::Bump(bool AAll) noexcept {
  FWord.fetch_add(1, std::memory_order_release);
#ifdef __linux__
  syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&FWord), FUTEX_WAKE_PRIVATE, AAll ? INT32_MAX : 1, nullptr,
          nullptr, 0);
#else
  if (AAll)
    FWord.notify_all();
  else
    FWord.notify_one();
#endif
}

TEvent::TEvent(bool manualReset, bool initialState) : FManualReset(manualReset), FSignaled(initialState) {
  new (FCond.Bytes) std::condition_variable();
}

TEvent::~TEvent() { Cond(FCond).~condition_variable(); }

// The wake-ups are given under the lock: a waiter cannot leave WaitFor before
// SetEvent has let go of the event, so a waiter may destroy the event as soon
// as its wait returns (a thread signalling its end, then being freed).
void TEvent::SetEvent() {
  std::lock_guard<std::mutex> lock(FMutex);
  FSignaled = true;
  if (FManualReset)
    Cond(FCond).notify_all();
  else
    Cond(FCond).notify_one();
}

void TEvent::ResetEvent() {
  std::lock_guard<std::mutex> lock(FMutex);
  FSignaled = false;
}

TWaitResult TEvent::WaitFor(std::uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(FMutex);
  if (!WaitUntilReady(Cond(FCond), lock, timeoutMs, [this] { return FSignaled; })) return wrTimeout;
  if (!FManualReset) FSignaled = false;
  return wrSignaled;
}

TSemaphore::TSemaphore(std::int32_t initialCount, std::int32_t maximumCount)
    : FCount(initialCount), FMaximum(maximumCount) {
  // Checked before the condition variable exists, so a throw leaves nothing to destroy.
  if (maximumCount < 1 || initialCount < 0 || initialCount > maximumCount)
    throw EArgumentException(Format("Invalid semaphore counts (initial %d, maximum %d)",
                                    static_cast<int>(initialCount), static_cast<int>(maximumCount)));
  new (FCond.Bytes) std::condition_variable();
}

TSemaphore::~TSemaphore() { Cond(FCond).~condition_variable(); }

std::int32_t TSemaphore::Release(std::int32_t count) {
  if (count < 1)
    throw EArgumentException(Format("Invalid semaphore release count %d", static_cast<int>(count)));
  // Woken under the lock, as in TEvent::SetEvent.
  std::lock_guard<std::mutex> lock(FMutex);
  const std::int32_t previous = FCount;
  // Saturating add: FMaximum - FCount cannot overflow since 0 <= FCount <= FMaximum.
  FCount = count >= FMaximum - FCount ? FMaximum : FCount + count;
  if (count == 1)
    Cond(FCond).notify_one();
  else
    Cond(FCond).notify_all();
  return previous;
}

TWaitResult TSemaphore::WaitFor(std::uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(FMutex);
  if (!WaitUntilReady(Cond(FCond), lock, timeoutMs, [this] { return FCount > 0; })) return wrTimeout;
  --FCount;
  return wrSignaled;
}

std::int32_t TSemaphore::Count() {
  std::lock_guard<std::mutex> lock(FMutex);
  return FCount;
}

// ---- Priorities ------------------------------------------------------------

namespace {
// The nice value of the thread that loaded the library: tpNormal keeps it, the
// other priorities are steps from it, so that a process started under `nice`
// still runs its normal threads at its own level.
int BaseNice() {
  static const int base = [] {
    errno = 0;
    const int n = getpriority(PRIO_PROCESS, 0);
    return errno == 0 ? n : 0;
  }();
  return base;
}
// Taken while the library loads, on the loading thread.
[[maybe_unused]] const int GBaseNiceAtLoad = BaseNice();
}  // namespace

int NiceValueOf(TThreadPriority priority) {
  static constexpr int kStep[] = {0, 10, 5, 0, -5, -10, 0};
  switch (priority) {
    case tpIdle: return 19;
    case tpTimeCritical: return -20;
    default: return std::clamp(BaseNice() + kStep[priority], -20, 19);
  }
}

bool ApplyThreadPriority(std::int32_t tid, TThreadPriority priority) {
  if (tid <= 0 || priority > tpTimeCritical) return false;
  // On Linux PRIO_PROCESS with a thread id sets that one thread's nice value.
  return setpriority(PRIO_PROCESS, static_cast<id_t>(tid), NiceValueOf(priority)) == 0;
}

std::int32_t CurrentThreadTid() { return static_cast<std::int32_t>(syscall(SYS_gettid)); }

}  // namespace nx
