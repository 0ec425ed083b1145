// Zandor.Threading: the plain synchronisation objects of the runtime: a
// recursive critical section with its scoped guard, an event (manual or
// automatic reset) and a counting semaphore with a maximum. All are small
// wrappers over the standard mutexes and condition variables.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace nx {

// Timeout value that waits for ever.
inline constexpr std::uint32_t INFINITE = 0xFFFFFFFFu;

// Result of a wait. Only wrSignaled and wrTimeout are produced here; the
// others exist for callers that switch over every outcome of a wait.
enum TWaitResult { wrSignaled, wrTimeout, wrAbandoned, wrError };

// A critical section. It is recursive: the thread that holds it may enter it
// again and must leave it as many times as it entered. Leaving a section the
// calling thread does not hold is undefined. Also meets the standard Lockable
// requirements (lock/unlock/try_lock) for std::unique_lock and friends.
class TCriticalSection {
 public:
  TCriticalSection() = default;
  TCriticalSection(const TCriticalSection&) = delete;
  TCriticalSection& operator=(const TCriticalSection&) = delete;

  void Enter() { FMutex.lock(); }
  void Leave() { FMutex.unlock(); }
  // Enters without waiting; false when another thread holds the section.
  bool TryEnter() { return FMutex.try_lock(); }
  void Acquire() { Enter(); }
  void Release() { Leave(); }

  void lock() { Enter(); }
  void unlock() { Leave(); }
  bool try_lock() { return TryEnter(); }

 private:
  std::recursive_mutex FMutex;
};

// Holds a lock (anything with Enter/Leave) for the lifetime of the guard.
template <class TLock = TCriticalSection>
class TLockGuard {
 public:
  explicit TLockGuard(TLock& lock) : FLock(lock) { FLock.Enter(); }
  ~TLockGuard() { FLock.Leave(); }
  TLockGuard(const TLockGuard&) = delete;
  TLockGuard& operator=(const TLockGuard&) = delete;

 private:
  TLock& FLock;
};

// An event. A manual-reset event stays signalled until ResetEvent and
// releases every waiter; an automatic-reset event releases one waiter and
// returns to the unsignalled state as that waiter leaves WaitFor. A
// SetEvent with nobody waiting stays signalled until the next wait.
class TEvent {
 public:
  explicit TEvent(bool manualReset = true, bool initialState = false)
      : FManualReset(manualReset), FSignaled(initialState) {}
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  void SetEvent();
  void ResetEvent();
  // Waits up to `timeoutMs` milliseconds (0 only polls, INFINITE waits for ever).
  TWaitResult WaitFor(std::uint32_t timeoutMs = INFINITE);
  bool ManualReset() const { return FManualReset; }

 private:
  std::mutex FMutex;
  std::condition_variable FCond;
  const bool FManualReset;
  bool FSignaled;
};

// A counting semaphore with a maximum count. Release adds to the count,
// which saturates at the maximum: releases beyond it are dropped rather than
// failing, so a producer that runs ahead of its consumer (a clock ticking
// faster than its thread runs) never fails, and the consumer later receives
// at most `maximum` pending wake-ups.
class TSemaphore {
 public:
  // Raises EArgumentException unless 0 <= initialCount <= maximumCount and maximumCount >= 1.
  explicit TSemaphore(std::int32_t initialCount = 0, std::int32_t maximumCount = 0x7FFFFFFF);
  TSemaphore(const TSemaphore&) = delete;
  TSemaphore& operator=(const TSemaphore&) = delete;

  // Adds `count` (at least 1, else EArgumentException) and wakes as many
  // waiters; returns the count before the release.
  std::int32_t Release(std::int32_t count = 1);
  // Waits until the count is above 0 and takes one, or up to `timeoutMs`.
  TWaitResult WaitFor(std::uint32_t timeoutMs = INFINITE);
  std::int32_t MaximumCount() const { return FMaximum; }
  // The current count (a snapshot).
  std::int32_t Count();

 private:
  std::mutex FMutex;
  std::condition_variable FCond;
  std::int32_t FCount;
  const std::int32_t FMaximum;
};

}  // namespace nx
