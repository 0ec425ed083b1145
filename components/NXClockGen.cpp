// NXClockGen: the master clock (one timer thread for the process) and the
// clock threads. See NXClockGen.h.
#include "components/NXClockGen.h"

#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <time.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "runtime/NXPackage.h"
#include "runtime/NXTrace.h"
#include "streams/NXFlowFigures.h"

namespace nx {

// The master clock: the registered clocks and the timer thread that steps
// them. It exists exactly while its list is not empty.
class TSMediaMasterClock {
 public:
  TSMediaMasterClock();
  // Stops and joins the timer thread (never called on it, nor under the section).
  ~TSMediaMasterClock();

  // Under GMasterClockSection.
  void Add(TNXClockGen* AClock) { FList.push_back(AClock); }
  // Under GMasterClockSection; true when the list became empty.
  bool Remove(TNXClockGen* AClock);
  // One step: every clock from the last to the first (under the section).
  // ADrive: the ticks are left for this thread to run (virtual time).
  void Clock(bool ADrive = false);
  void RequestStop() noexcept { FStop.store(true, std::memory_order_release); }
  std::uint64_t Steps() const noexcept { return FSteps.load(std::memory_order_acquire); }
  // Under the section: true when every live clock's procedure has taken all
  // its ticks; ALive tells whether any live clock exists.
  bool AllIdle(bool& ALive) const;
  // Called by a clock's destructor on this clock's own thread (the last
  // reference went in a procedure it ran): the thread cannot join itself, so
  // it lets go of its std::thread and frees this object as it ends.
  void FreeOnExit() { FTimer.detach(); FFreeOnExit = true; }
  bool IsTimerThread() const { return FTimer.get_id() == std::this_thread::get_id(); }

 private:
  void Run();
  void RunVirtualStep();
  // Runs the ticks a step left to this thread for AClock.
  void Drive(TNXClockGen* AClock);
  // Virtual time, under the section: takes at once the steps before the next
  // one at which some clock is due. No clock has a tick in them, so nothing
  // would run: the same ticks come at the same step numbers, without a pass
  // through the step loop for each millisecond between buffers.
  void SkipIdleSteps(std::uint64_t ALimit);

  std::vector<TNXClockGen*> FList;
  std::vector<TNXClockGen*> FDue;  // the clocks of the step being driven (this thread only)
  bool FFreeOnExit = false;
  std::atomic<bool> FStop{false};
  std::atomic<std::uint64_t> FSteps{0};
  std::thread FTimer;
};

namespace {

TCriticalSection* GMasterClockSection = nullptr;  // created by the unit's start-up
TSMediaMasterClock* GMasterClock = nullptr;       // under GMasterClockSection
std::atomic<std::int32_t> GCountThreads{0};
std::atomic<bool> GVirtualClock{false};
std::atomic<std::uint64_t> GStepLimit{UINT64_MAX};

// Wakes a master clock that waits in virtual time: bumped when a clock's
// procedure finishes its ticks, when the mode changes and on stop.
std::mutex GWakeLock;
std::condition_variable GWakeCond;
std::uint64_t GWakeCount = 0;

void WakeMaster() {
  {
    std::lock_guard lk(GWakeLock);
    ++GWakeCount;
  }
  GWakeCond.notify_all();
}

std::uint64_t WakeCount() {
  std::lock_guard lk(GWakeLock);
  return GWakeCount;
}

// Whether the master clock waits at the step limit, for a host that waits
// for the end of a run (NXWaitClockHeld) instead of looking now and then.
// The master clock's thread sets it; a new limit clears it until the master
// clock has looked at that limit.
std::mutex GHeldLock;
std::condition_variable GHeldCond;
std::atomic<bool> GHeld{false};  // changed under GHeldLock

// ASteps: the master clock's steps when it found itself at the limit.
void SetHeld(bool AHeld, std::uint64_t ASteps = 0) {
  if (GHeld.load(std::memory_order_relaxed) == AHeld) return;  // the usual case: one plain look per step
  {
    std::lock_guard lk(GHeldLock);
    // A limit raised since the master clock looked (the limit changes under
    // this lock) holds nothing: the clock goes on at its next look.
    if (AHeld && ASteps < GStepLimit.load(std::memory_order_acquire)) return;
    GHeld.store(AHeld, std::memory_order_relaxed);
  }
  if (AHeld) GHeldCond.notify_all();
}

// The clock whose procedure the master clock's thread runs now, and whether
// that clock was freed by it. A clock that ends elsewhere waits until the
// master clock's thread has left its procedure.
std::mutex GDriveLock;
std::condition_variable GDriveCond;
TNXClockGen* GDriving = nullptr;  // under GDriveLock
bool GDrivenGone = false;         // under GDriveLock
// On the master clock's thread: the clock whose procedure it runs.
thread_local const TNXClockGen* tDriven = nullptr;

void WaitUntilNotDriven(const TNXClockGen* AClock) {
  std::unique_lock lk(GDriveLock);
  GDriveCond.wait(lk, [&] { return GDriving != AClock; });
}

// The section, made by the unit's start-up (or by the first clock, should
// one be made before the start-up ran).
TCriticalSection& Section() {
  static std::once_flag once;
  std::call_once(once, [] { GMasterClockSection = new TCriticalSection(); });
  return *GMasterClockSection;
}

constexpr long kStepNs = 1000000;
// A timer that fell further behind than this (the process was stopped, the
// machine suspended) starts afresh instead of catching up in one burst.
constexpr std::int64_t kMaxCatchUpNs = 100 * kStepNs;

void AddNs(timespec& ATime, long ANs) {
  ATime.tv_nsec += ANs;
  while (ATime.tv_nsec >= 1000000000L) {
    ATime.tv_nsec -= 1000000000L;
    ++ATime.tv_sec;
  }
}

std::int64_t DiffNs(const timespec& A, const timespec& B) {
  return (static_cast<std::int64_t>(A.tv_sec) - B.tv_sec) * 1000000000LL + (A.tv_nsec - B.tv_nsec);
}

void RegisterClock(TNXClockGen* AClock) {
  TLockGuard guard(Section());
  if (!GMasterClock) GMasterClock = new TSMediaMasterClock();
  GMasterClock->Add(AClock);
}

void UnregisterClock(TNXClockGen* AClock) {
  TSMediaMasterClock* retired = nullptr;
  {
    TLockGuard guard(Section());
    if (GMasterClock && GMasterClock->Remove(AClock)) {
      retired = std::exchange(GMasterClock, nullptr);
      retired->RequestStop();
      if (retired->IsTimerThread()) {
        retired->FreeOnExit();
        retired = nullptr;
      }
    }
  }
  // Joined outside the section: its thread may be waiting for the section.
  if (retired) {
    WakeMaster();
    delete retired;
  }
  // The master clock's thread may be in this clock's procedure: when it is
  // the caller, the clock tells it that it is gone; elsewhere it waits.
  if (tDriven == AClock) {
    std::lock_guard lk(GDriveLock);
    if (GDriving == AClock) GDrivenGone = true;
  } else {
    WaitUntilNotDriven(AClock);
  }
}

}  // namespace

// ---------------------------------------------------------------- master clock

TSMediaMasterClock::TSMediaMasterClock() { FTimer = std::thread(&TSMediaMasterClock::Run, this); }

TSMediaMasterClock::~TSMediaMasterClock() {
  RequestStop();
  if (FTimer.joinable()) FTimer.join();
}

bool TSMediaMasterClock::Remove(TNXClockGen* AClock) {
  FList.erase(std::remove(FList.begin(), FList.end(), AClock), FList.end());
  return FList.empty();
}

void TSMediaMasterClock::Clock(bool ADrive) {
  TLockGuard guard(Section());
  if (GMasterClock != this) return;  // the master clock has gone
  const std::uint64_t limit = GStepLimit.load(std::memory_order_acquire);
  if (FSteps.load(std::memory_order_relaxed) >= limit) return;  // held
  if (ADrive) SkipIdleSteps(limit);
  FSteps.fetch_add(1, std::memory_order_acq_rel);
  for (auto it = FList.rbegin(); it != FList.rend(); ++it) {
    (*it)->Step(ADrive);
    if (ADrive && (*it)->FDrivenDue > 0) FDue.push_back(*it);
  }
}

void TSMediaMasterClock::SkipIdleSteps(std::uint64_t ALimit) {
  std::int64_t next = INT64_MAX;
  for (const TNXClockGen* c : FList) next = std::min(next, c->StepsToNextTick());
  if (next == INT64_MAX || next <= 1) return;
  // Up to the step before the next due one, and never past the limit: the
  // step that follows is taken as usual.
  const std::uint64_t steps = FSteps.load(std::memory_order_relaxed);
  const std::uint64_t skip = std::min(static_cast<std::uint64_t>(next - 1), ALimit - steps - 1);
  if (skip == 0) return;
  for (TNXClockGen* c : FList) c->SkipSteps(static_cast<std::int64_t>(skip));
  FSteps.fetch_add(skip, std::memory_order_acq_rel);
}

void TSMediaMasterClock::Drive(TNXClockGen* AClock) {
  // Under the section: the ticks still due are never run.
  const auto dropDue = [AClock] {
    AClock->FUnfinished.fetch_sub(AClock->FDrivenDue, std::memory_order_acq_rel);
    AClock->FDrivenDue = 0;
  };
  for (;;) {
    {
      TLockGuard guard(Section());
      // A clock freed since the step was taken is no longer in the list;
      // one that is in it cannot be freed before this thread leaves its
      // procedure (its destructor waits for GDriving to change).
      if (GMasterClock != this || std::find(FList.begin(), FList.end(), AClock) == FList.end()) return;
      if (AClock->FDrivenDue == 0) return;
      if (AClock->Terminated() || AClock->FDrivenFailed) {
        dropDue();
        return;
      }
      --AClock->FDrivenDue;
      std::lock_guard lk(GDriveLock);
      GDriving = AClock;
      GDrivenGone = false;
    }
    std::exception_ptr failed;
    tDriven = AClock;
    try {
      AClock->IntEvent();
    } catch (...) {
      failed = std::current_exception();
    }
    tDriven = nullptr;
    bool gone;
    {
      // The section before the drive lock, as when the clock was taken.
      TLockGuard guard(Section());
      std::lock_guard lk(GDriveLock);
      gone = GDrivenGone;
      if (!gone) {
        if (failed) {
          // The clock's thread raises it and ends; its remaining ticks are
          // dropped, and it is not driven again meanwhile.
          // (Terminated is left to the thread: set now, its loop could end
          // before it raised the exception.)
          AClock->FDrivenException = failed;
          AClock->FDrivenFailed = true;
          dropDue();
          AClock->FSemaphore->Release();
        }
        AClock->FUnfinished.fetch_sub(1, std::memory_order_acq_rel);
      }
      GDriving = nullptr;
    }
    GDriveCond.notify_all();
    if (gone || failed) return;
  }
}

bool TSMediaMasterClock::AllIdle(bool& ALive) const {
  ALive = false;
  for (TNXClockGen* clock : FList) {
    // A terminated clock takes no more ticks: waiting for it would stall the others.
    if (clock->Terminated()) continue;
    ALive = true;
    if (clock->FUnfinished.load(std::memory_order_acquire) > 0) return false;
  }
  return true;
}

void TSMediaMasterClock::RunVirtualStep() {
  const std::uint64_t seen = WakeCount();
  bool idle, live;
  {
    TLockGuard guard(Section());
    idle = AllIdle(live);
    if (idle && live) {
      FDue.clear();
      Clock(true);
    }
  }
  if (idle && live) {
    for (TNXClockGen* clock : FDue) Drive(clock);
    return;
  }
  std::unique_lock lk(GWakeLock);
  // Nothing alive to step: wait like real time rather than spin. Otherwise
  // wait for a procedure to finish (the time-out only guards a lost wake-up).
  GWakeCond.wait_for(lk, std::chrono::milliseconds(1), [&] {
    return GWakeCount != seen || FStop.load(std::memory_order_acquire);
  });
}

namespace {
// The timer thread of real time runs in the real-time class (FIFO, lowest
// real-time priority) where the process holds the right, as a multimedia
// timer runs above ordinary threads: it only wakes, adds and releases, so it
// cannot starve the machine. Otherwise it keeps the normal class and tries
// the highest nice value. On virtual time it steps back to back and goes to
// the normal class.
void SetTimerClass(bool ARealTime) {
  sched_param param{};
  if (ARealTime) {
    param.sched_priority = sched_get_priority_min(SCHED_FIFO);
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0) return;
    ApplyThreadPriority(CurrentThreadTid(), tpTimeCritical);
    return;
  }
  param.sched_priority = 0;
  pthread_setschedparam(pthread_self(), SCHED_OTHER, &param);
}
}  // namespace

void TSMediaMasterClock::Run() {
  pthread_setname_np(pthread_self(), "NXMasterClock");
  // The kernel may otherwise delay each wake-up by its default slack (50 us).
  prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
  timespec next{};
  clock_gettime(CLOCK_MONOTONIC, &next);
  int realTime = -1;  // the class last set: unknown, normal (0), real time (1)
  while (!FStop.load(std::memory_order_acquire)) {
    if (const std::uint64_t steps = FSteps.load(std::memory_order_acquire);
        steps >= GStepLimit.load(std::memory_order_acquire)) {
      // Held at the limit: wait for it to be raised, then resume from now.
      SetHeld(true, steps);
      const std::uint64_t seen = WakeCount();
      std::unique_lock lk(GWakeLock);
      GWakeCond.wait_for(lk, std::chrono::milliseconds(1), [&] {
        return GWakeCount != seen || FStop.load(std::memory_order_acquire);
      });
      lk.unlock();
      clock_gettime(CLOCK_MONOTONIC, &next);
      continue;
    }
    SetHeld(false);
    const bool virtualTime = GVirtualClock.load(std::memory_order_acquire);
    if (realTime != (virtualTime ? 0 : 1)) {
      // Real time resumes from now after virtual steps (which read no clock:
      // a read per step was a measurable part of a fast run).
      if (realTime == 0) clock_gettime(CLOCK_MONOTONIC, &next);
      realTime = virtualTime ? 0 : 1;
      SetTimerClass(!virtualTime);
    }
    if (virtualTime) {
      RunVirtualStep();
      continue;
    }
    AddNs(next, kStepNs);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR) {
    }
    if (FStop.load(std::memory_order_acquire)) break;
    Clock();
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (DiffNs(now, next) > kMaxCatchUpNs) next = now;
  }
  SetHeld(false);  // a master clock that has ended holds nothing
  if (FFreeOnExit) delete this;
}

// ---------------------------------------------------------------- TNXClockGen

namespace {
std::string OwnerThreadName(TComponent* AOwner) {
  if (!AOwner) return "TNXClockGen";
  return AOwner->Name().empty() ? std::string(AOwner->ClassName()) : AOwner->Name();
}
TNXClockEvent WrapProc(TNXClockProc AProc) {
  return [proc = std::move(AProc)](IThread*) {
    if (proc) proc();
  };
}
}  // namespace

TNXClockGen::TNXClockGen(TComponent* AOwner, std::int64_t AInterval, TNXClockProc AProc)
    : TNXClockGen(OwnerThreadName(AOwner), AInterval, WrapProc(std::move(AProc))) {}
TNXClockGen::TNXClockGen(TComponent* AOwner, std::int64_t AInterval, TNXClockEvent AEvent)
    : TNXClockGen(OwnerThreadName(AOwner), AInterval, std::move(AEvent)) {}
TNXClockGen::TNXClockGen(std::string AName, std::int64_t AInterval, TNXClockProc AProc)
    : TNXClockGen(std::move(AName), AInterval, WrapProc(std::move(AProc))) {}

TNXClockGen::TNXClockGen(std::string AName, std::int64_t AInterval, TNXClockEvent AEvent)
    : TBasicThread(std::move(AName)) {
  IntCreate(AInterval, std::move(AEvent));
}

void TNXClockGen::IntCreate(std::int64_t AInterval, TNXClockEvent AEvent) {
  // Checks stay on: a non-positive interval raises before anything is
  // registered (a clock of 1 unit would flood its semaphore on every step).
  if (AInterval <= 0) RaiseAssertion("Assertion failure", "NXClockGen", 245);
  FInterval = AInterval;
  FAccumulator = 0;
  FEvent = std::move(AEvent);
  FSemaphore = std::make_unique<TSemaphore>(0, MaxPendingTicks);
  GCountThreads.fetch_add(1, std::memory_order_acq_rel);
  // Ticks count from here; the thread takes them once it is started (after
  // the creator holds its reference: a tick that ends the clock makes the
  // thread drop a reference of its own).
  RegisterClock(this);
}

TNXClockGen::~TNXClockGen() {
  UnregisterClock(this);
  // On its own thread the last reference went as the thread ends (it freed
  // itself): nothing to wait for. Elsewhere the thread is woken and joined.
  TBasicThread::Terminate();
  if (Started() && !TBasicThread::IsCurrentThread()) {
    FSemaphore->Release();
    WaitFor();
  }
  GCountThreads.fetch_sub(1, std::memory_order_acq_rel);
}

void TNXClockGen::Step(bool ADrive) {
  // A clock whose thread has not started keeps its ticks in its semaphore
  // (virtual time waits for it), as on the wall clock.
  ADrive = ADrive && Started() && !Terminated();
  if (FDrivenFailed) return;  // its thread is ending with the procedure's exception
  FAccumulator += NXClockStepUnits;
  while (FAccumulator > FInterval) {
    // Counted before the release, so that the thread never finishes a tick
    // the count does not hold yet; a release the full semaphore drops is
    // taken back.
    FUnfinished.fetch_add(1, std::memory_order_acq_rel);
    if (ADrive) {
      if (FDrivenDue < MaxPendingTicks)
        ++FDrivenDue;
      else
        FUnfinished.fetch_sub(1, std::memory_order_acq_rel);
    } else if (FSemaphore->Release() >= MaxPendingTicks) {
      FUnfinished.fetch_sub(1, std::memory_order_acq_rel);
    }
    FAccumulator -= FInterval;
  }
}

std::int64_t TNXClockGen::StepsToNextTick() const noexcept {
  // A failed clock's Step returns at once: it releases nothing more.
  if (FDrivenFailed) return INT64_MAX;
  // The first j >= 1 with accumulator + j * step > interval.
  const std::int64_t room = FInterval - FAccumulator;
  return room < 0 ? 1 : room / NXClockStepUnits + 1;
}

void TNXClockGen::SkipSteps(std::int64_t ASteps) noexcept {
  if (!FDrivenFailed) FAccumulator += ASteps * NXClockStepUnits;
}

bool TNXClockGen::IsCurrentThread() const { return tDriven == this || TBasicThread::IsCurrentThread(); }

void TNXClockGen::Terminate() {
  if (IsCurrentThread()) {
    SetFreeOnTerminate(true);
    TBasicThread::Terminate();
    // Ended from a procedure the master clock's thread runs: the clock's own
    // thread waits for its semaphore and must wake to end.
    if (!TBasicThread::IsCurrentThread()) FSemaphore->Release();
    return;
  }
  SetFreeOnTerminate(false);
  TBasicThread::Terminate();
  FSemaphore->Release();
  if (Started()) WaitFor();
  // The master clock's thread may still be in the procedure.
  WaitUntilNotDriven(this);
}

void TNXClockGen::ExecuteLoop() {
  FSemaphore->WaitFor();
  if (FDrivenException) std::rethrow_exception(std::exchange(FDrivenException, nullptr));
  if (Terminated()) return;
  IntEvent();
  if (FUnfinished.fetch_sub(1, std::memory_order_acq_rel) == 1 && GVirtualClock.load(std::memory_order_acquire))
    WakeMaster();
}

void TNXClockGen::IntEvent() {
  if (!FEvent) return;
  if (!figures::Enabled() && !trace::Recording()) {
    FEvent(this);
    return;
  }
  // The tick's start marks the work it causes (latency figures), and the
  // tick is one span of the timeline. The mark is cleared however it ends.
  const std::uint64_t start = trace::NowNs();
  figures::MarkTick(start);
  struct TClear {
    ~TClear() { figures::MarkTick(0); }
  } clear;
  trace::TSpan span("tick", [this] { return Name(); });
  FEvent(this);
}

// ---------------------------------------------------------------- clock threads

TNXClockThread::TNXClockThread(TNXClockProc AOnClock) : TBasicThread("TNXClockThread"), FOnClock(std::move(AOnClock)) {
  SetPriority(tpHighest);
  Start();
}

TNXClockThread::~TNXClockThread() { TerminateAndWait(); }

void TNXClockThread::Terminate() {
  TBasicThread::Terminate();
  FClockSemaphore.Release();
}

void TNXClockThread::ExecuteLoop() {
  FClockSemaphore.WaitFor();
  if (!Terminated() && FOnClock) FOnClock();
}

TNXEventClockThreadImpl::TNXEventClockThreadImpl(TNXClockProc AOnClock)
    : TBasicThread("TNXEventClock"), FOnClock(std::move(AOnClock)) {
  SetPriority(tpHighest);
  Start();
}

TNXEventClockThreadImpl::~TNXEventClockThreadImpl() { TerminateAndWait(); }

void TNXEventClockThreadImpl::Terminate() {
  TBasicThread::Terminate();
  FClockEvent.SetEvent();
}

void TNXEventClockThreadImpl::ExecuteLoop() {
  FClockEvent.WaitFor();
  if (!Terminated() && FOnClock) FOnClock();
}

// ---------------------------------------------------------------- state

std::int32_t NXClockGenCount() noexcept { return GCountThreads.load(std::memory_order_acquire); }

bool NXMasterClockRunning() {
  TLockGuard guard(Section());
  return GMasterClock != nullptr;
}

std::uint64_t NXMasterClockSteps() {
  TLockGuard guard(Section());
  return GMasterClock ? GMasterClock->Steps() : 0;
}

void NXSetVirtualClock(bool AVirtual) {
  GVirtualClock.store(AVirtual, std::memory_order_release);
  WakeMaster();
}

bool NXVirtualClock() noexcept { return GVirtualClock.load(std::memory_order_acquire); }

void NXSetClockStepLimit(std::uint64_t ASteps) {
  {
    std::lock_guard lk(GHeldLock);
    GStepLimit.store(ASteps, std::memory_order_release);
    GHeld.store(false, std::memory_order_relaxed);
  }
  WakeMaster();
}

bool NXWaitClockHeld(std::uint32_t ATimeoutMs) {
  std::unique_lock lk(GHeldLock);
  return GHeldCond.wait_for(lk, std::chrono::milliseconds(ATimeoutMs),
                            [] { return GHeld.load(std::memory_order_relaxed); });
}

std::uint64_t NXClockStepLimit() noexcept { return GStepLimit.load(std::memory_order_acquire); }

bool NXClocksIdle() {
  TLockGuard guard(Section());
  if (!GMasterClock) return true;
  bool live = false;
  return GMasterClock->AllIdle(live);
}

}  // namespace nx

namespace nx::NXClockGen {
void UnitInitialize() { Section(); }
// The section stays: a clock thread that frees itself late may still need it.
void UnitFinalize() {}
}  // namespace nx::NXClockGen

NX_PACKAGE_UNIT(NXClockGen, &nx::NXClockGen::UnitInitialize, &nx::NXClockGen::UnitFinalize)
