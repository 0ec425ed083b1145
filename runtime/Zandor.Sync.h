// Zandor.Sync: the plain synchronisation objects of the runtime.
//   - TCriticalSection, a recursive critical section, with its scoped guard;
//   - TWaitWord, a word to sleep on without a lock, for data-path hand-offs;
//   - TEvent (manual or automatic reset) and TSemaphore (counting, with a
//     maximum), with their reference-counted forms IEvent and ISemaphore;
//   - TLockAccess, the scoped read or write access that property objects
//     take on their lock;
//   - the thread priorities and the nice values that stand for them.
// Component headers hold these objects, so this header reads neither
// <thread> nor <condition_variable>; the threads and executors are in
// Zandor.Threading.h.
#pragma once

#include <pthread.h>

#include <atomic>
#include <concepts>
#include <cstdint>
#include <utility>

#include "runtime/Zandor.Interfaces.h"
#include "runtime/Zandor.Mutex.h"
#include "runtime/Zandor.TypeInfo.h"

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

  void Enter() { pthread_mutex_lock(&FMutex); }
  void Leave() { pthread_mutex_unlock(&FMutex); }
  // Enters without waiting; false when another thread holds the section.
  bool TryEnter() { return pthread_mutex_trylock(&FMutex) == 0; }
  void Acquire() { Enter(); }
  void Release() { Leave(); }

  void lock() { Enter(); }
  void unlock() { Leave(); }
  bool try_lock() { return TryEnter(); }

 private:
  // A recursive pthread mutex, as std::recursive_mutex holds one, without
  // the rest of <mutex>; statically initialised, so nothing to destroy.
  pthread_mutex_t FMutex = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;
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

// A word to sleep on without a lock, for hand-offs on the data path. A
// sleeper reads the word (Ticket), publishes that it will sleep, checks its
// condition, and sleeps only while the word still holds its ticket; a waker
// changes the condition, then Bumps the word, which wakes the sleepers. Each
// side pays one system call, and neither pays any when the caller's own
// bookkeeping shows that nobody sleeps. Wait may also return spuriously: the
// caller checks its condition again.
class TWaitWord {
 public:
  std::uint32_t Ticket() const noexcept { return FWord.load(std::memory_order_acquire); }
  // Sleeps while the word equals ATicket.
  void Wait(std::uint32_t ATicket) noexcept;
  // Changes the word and wakes one sleeper (AAll false) or every sleeper.
  void Bump(bool AAll) noexcept;

 private:
  std::atomic<std::uint32_t> FWord{0};
};

// Room for a std::condition_variable, built and destroyed by the event or
// semaphore that holds it. Only Zandor.Sync.cpp sees the type, so the
// headers that hold events do not read <condition_variable>; that source
// checks the size and alignment against the real type.
struct alignas(8) TCondStorage {
  unsigned char Bytes[48];
};

// An event. A manual-reset event stays signalled until ResetEvent and
// releases every waiter; an automatic-reset event releases one waiter and
// returns to the unsignalled state as that waiter leaves WaitFor. A
// SetEvent with nobody waiting stays signalled until the next wait.
class TEvent {
 public:
  explicit TEvent(bool manualReset = true, bool initialState = false);
  ~TEvent();
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  void SetEvent();
  void ResetEvent();
  // Waits up to `timeoutMs` milliseconds (0 only polls, INFINITE waits for ever).
  TWaitResult WaitFor(std::uint32_t timeoutMs = INFINITE);
  bool ManualReset() const { return FManualReset; }

 private:
  std::mutex FMutex;
  TCondStorage FCond;
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
  ~TSemaphore();
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
  TCondStorage FCond;
  std::int32_t FCount;
  const std::int32_t FMaximum;
};

// ---- Counted events and semaphores ----------------------------------------

// An event or a semaphore shared by reference count between the objects that
// signal and wait on it (a clock and its thread): the one object lives as long
// as its last holder. The behaviour is TEvent's and TSemaphore's.
struct IEvent : virtual IInterface {
  NX_INTERFACE_ID(IEvent, "{6A0C2E51-93B4-4F7D-8C1A-2D5E7F90B311}");
  virtual void SetEvent() = 0;
  virtual void ResetEvent() = 0;
  virtual TWaitResult WaitFor(std::uint32_t timeoutMs = INFINITE) = 0;
  virtual bool ManualReset() const = 0;
};

struct ISemaphore : virtual IInterface {
  NX_INTERFACE_ID(ISemaphore, "{6A0C2E51-93B4-4F7D-8C1A-2D5E7F90B312}");
  virtual std::int32_t Release(std::int32_t count = 1) = 0;
  virtual TWaitResult WaitFor(std::uint32_t timeoutMs = INFINITE) = 0;
  virtual std::int32_t MaximumCount() const = 0;
  virtual std::int32_t Count() = 0;
};

class TInterfacedEvent final : public TInterfacedObject, public IEvent {
  NX_INTERFACES(TInterfacedObject, IEvent)
 public:
  explicit TInterfacedEvent(bool manualReset = true, bool initialState = false) : FEvent(manualReset, initialState) {}
  void SetEvent() override { FEvent.SetEvent(); }
  void ResetEvent() override { FEvent.ResetEvent(); }
  TWaitResult WaitFor(std::uint32_t timeoutMs = INFINITE) override { return FEvent.WaitFor(timeoutMs); }
  bool ManualReset() const override { return FEvent.ManualReset(); }
  // The event itself, for code that waits on it directly.
  TEvent& Event() noexcept { return FEvent; }

 private:
  TEvent FEvent;
};

class TInterfacedSemaphore final : public TInterfacedObject, public ISemaphore {
  NX_INTERFACES(TInterfacedObject, ISemaphore)
 public:
  // EArgumentException for invalid counts, as TSemaphore.
  explicit TInterfacedSemaphore(std::int32_t initialCount = 0, std::int32_t maximumCount = 0x7FFFFFFF)
      : FSemaphore(initialCount, maximumCount) {}
  std::int32_t Release(std::int32_t count = 1) override { return FSemaphore.Release(count); }
  TWaitResult WaitFor(std::uint32_t timeoutMs = INFINITE) override { return FSemaphore.WaitFor(timeoutMs); }
  std::int32_t MaximumCount() const override { return FSemaphore.MaximumCount(); }
  std::int32_t Count() override { return FSemaphore.Count(); }
  TSemaphore& Semaphore() noexcept { return FSemaphore; }

 private:
  TSemaphore FSemaphore;
};

// ---- Scoped read or write access ------------------------------------------

enum TLockAccessMode : std::uint8_t { lamRead, lamWrite };

// Scoped access to a lock, as property objects take it on their owner's lock:
// read access takes the lock's read side, write access its write side, and
// both are given back when the access ends (or at Release). A lock with
// BeginRead/EndRead/BeginWrite/EndWrite is used through those; a standard
// shared mutex through lock_shared/lock; a lock with only Enter/Leave (a
// critical section) is entered for either mode.
template <class TLock>
class TLockAccess {
 public:
  explicit TLockAccess(TLock& lock, TLockAccessMode mode = lamRead) : FLock(&lock), FMode(mode) {
    if (mode == lamWrite)
      BeginWrite(lock);
    else
      BeginRead(lock);
  }
  ~TLockAccess() { Release(); }
  TLockAccess(const TLockAccess&) = delete;
  TLockAccess& operator=(const TLockAccess&) = delete;

  // Gives the access back before the end of the scope; later calls do nothing.
  void Release() {
    if (!FLock) return;
    TLock& lock = *std::exchange(FLock, nullptr);
    if (FMode == lamWrite)
      EndWrite(lock);
    else
      EndRead(lock);
  }
  TLockAccessMode Mode() const { return FMode; }
  bool Held() const { return FLock != nullptr; }

 private:
  static constexpr bool kReadWrite = requires(TLock& l) {
    l.BeginRead(); l.EndRead(); l.BeginWrite(); l.EndWrite();
  };
  static constexpr bool kShared = requires(TLock& l) {
    l.lock_shared(); l.unlock_shared(); l.lock(); l.unlock();
  };
  static void BeginRead(TLock& l) {
    if constexpr (kReadWrite) l.BeginRead();
    else if constexpr (kShared) l.lock_shared();
    else l.Enter();
  }
  static void EndRead(TLock& l) {
    if constexpr (kReadWrite) l.EndRead();
    else if constexpr (kShared) l.unlock_shared();
    else l.Leave();
  }
  static void BeginWrite(TLock& l) {
    if constexpr (kReadWrite) l.BeginWrite();
    else if constexpr (kShared) l.lock();
    else l.Enter();
  }
  static void EndWrite(TLock& l) {
    if constexpr (kReadWrite) l.EndWrite();
    else if constexpr (kShared) l.unlock();
    else l.Leave();
  }

  TLock* FLock;
  const TLockAccessMode FMode;
};

// ---- Thread priorities -----------------------------------------------------

// Thread priorities, lowest first (an 8-bit enumeration, as it is streamed).
enum TThreadPriority : std::uint8_t {
  tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical
};
NX_ENUM_NAMES(TThreadPriority, "tpIdle", "tpLowest", "tpLower", "tpNormal", "tpHigher", "tpHighest",
              "tpTimeCritical")

// The nice value that stands for a priority: 19, 10, 5, 0, -5, -10, -20.
// Real-time scheduling classes are not used: they need a privilege, and a
// busy real-time thread can starve the whole machine.
int NiceValueOf(TThreadPriority priority);
// Sets the nice value of the thread `tid` (a kernel thread id) to that of
// `priority`; false when the process may not (an unprivileged process can
// lower its threads' priority but not raise it again beyond its limit).
bool ApplyThreadPriority(std::int32_t tid, TThreadPriority priority);
// The kernel thread id of the calling thread.
std::int32_t CurrentThreadTid();

}  // namespace nx
