// NXClockGen: one process-wide 1 ms master clock turned into any number of
// clock threads, each ticking at its own interval, plus two clock threads
// that tick when their owner asks them to.
//
// The master clock is a timer thread on CLOCK_MONOTONIC with absolute
// deadlines, 1 ms apart. It runs exactly while at least one TNXClockGen
// exists: the first clock starts it, the last one stops (and joins) it. On
// each step it adds 1 ms to every clock's accumulator; a clock releases its
// semaphore once for each whole interval the accumulator exceeds, and its own
// thread runs the clock's procedure once per release. A slow procedure thus
// never delays the timer or other clocks: its ticks are counted (up to the
// semaphore's maximum) and delivered later in a burst.
//
// Time is kept in units of 100 ns (10,000 per step).
//
// Virtual time. NXSetVirtualClock(true) (or a TNXVirtualClockGuard) switches
// the master clock from the wall clock to virtual time: it then takes its
// next step as soon as every clock's procedure has run for every tick
// released so far, instead of waiting for the next millisecond. Clocks tick
// in exactly the same pattern of steps as in real time, so a graph paced by
// its clocks produces the same buffers in the same order, only as fast as the
// processor allows. A test or an offline render switches it on; real time is
// the default. The switch may be made at any time, also while clocks run.
//
// On virtual time the master clock's thread runs the procedures itself, one
// clock after the other, instead of waking each clock's thread and waiting
// for it to finish: a step is then a function call, not two thread switches
// per clock. A procedure sees no difference: it gets its clock as the
// thread, its clock's IsCurrentThread() is true while it runs, a Terminate
// from it ends the clock as it would on the clock's own thread, and an
// exception it raises ends the clock's thread with that exception. The
// clock's thread waits meanwhile; it runs the ticks of a clock that was made
// and not yet started, and takes over again on the wall clock.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "runtime/Zandor.Components.h"
#include "runtime/Zandor.Function.h"
#include "runtime/Zandor.Threading.h"

namespace nx {

// One step of the master clock in units of 100 ns (1 ms).
inline constexpr std::int64_t NXClockStepUnits = 10000;

// The procedure of a clock: called with the clock thread on each tick.
using TNXClockEvent = std::function<void(IThread* AThread)>;
using TNXClockProc = std::function<void()>;

// A clock thread paced by the master clock at its own interval.
class TNXClockGen : public TBasicThread {
 public:
  static constexpr std::int32_t MaxPendingTicks = 10000;

  // The thread is named after AOwner (its name, else its class name) or
  // given AName. AInterval is in units of 100 ns and must be positive
  // (EAssertionFailed "Assertion failure (NXClockGen, line 245)"). The clock
  // is registered with the master clock at once and counts ticks from then
  // on; like every thread object it is made suspended, and its thread takes
  // the ticks once started: make it with MakeThread<TNXClockGen>(...), which
  // starts it after taking the reference. (Starting inside the constructor
  // would let a clock that ends itself on an early tick free the object
  // before its creator holds it.) Virtual time waits for a clock that was
  // made and never started.
  TNXClockGen(TComponent* AOwner, std::int64_t AInterval, TNXClockProc AProc);
  TNXClockGen(TComponent* AOwner, std::int64_t AInterval, TNXClockEvent AEvent);
  TNXClockGen(std::string AName, std::int64_t AInterval, TNXClockProc AProc);
  TNXClockGen(std::string AName, std::int64_t AInterval, TNXClockEvent AEvent);
  ~TNXClockGen() override;

  // One 1 ms step (called by the master clock, under its section).
  void Clock() { Step(false); }
  // True on the clock's own thread, and on the master clock's thread while
  // it runs this clock's procedure (virtual time).
  bool IsCurrentThread() const;
  // Called on the clock's own thread (from its procedure): the thread frees
  // itself once its procedure returns and nothing waits. From any other
  // thread: terminates, wakes the thread and waits for it to end.
  void Terminate() override;

  std::int64_t GetInterval() const noexcept { return FInterval; }
  // Ticks released and not yet taken by the thread.
  std::int32_t PendingTicks() { return FSemaphore->Count(); }

 protected:
  void ExecuteLoop() override;
  // Calls the procedure with the thread.
  virtual void IntEvent();

 private:
  friend class TSMediaMasterClock;
  void IntCreate(std::int64_t AInterval, TNXClockEvent AEvent);
  // One step; ADrive: the ticks it releases are left for the master clock's
  // thread to run (FDrivenDue) instead of the clock's thread.
  void Step(bool ADrive);
  // The steps until Step next releases a tick (1: the next one), INT64_MAX
  // when it releases no more; and the steps before that, taken in one go
  // (no tick falls in them). Under the master clock's section.
  std::int64_t StepsToNextTick() const noexcept;
  void SkipSteps(std::int64_t ASteps) noexcept;

  TNXClockEvent FEvent;
  std::unique_ptr<TSemaphore> FSemaphore;
  std::int64_t FInterval = 1;
  std::int64_t FAccumulator = 0;  // only the master clock's thread touches it (under its section)
  // Ticks released and not yet completed by the procedure (virtual time
  // waits for it to reach 0).
  std::atomic<std::int64_t> FUnfinished{0};
  // Ticks the master clock's thread is to run (under the section).
  std::int64_t FDrivenDue = 0;
  // An exception a driven procedure raised: the clock's thread raises it
  // again, so that it ends as it would have had it run the procedure.
  std::exception_ptr FDrivenException;
  bool FDrivenFailed = false;  // under the section
};

// A thread that ticks when Clock is called: each call wakes it once (calls
// are counted up to 300,000) and it runs its procedure.
struct INXClockThread : virtual IInterface {
  NX_INTERFACE_ID(INXClockThread, "{6A2D41C7-5B0E-4F8A-9C13-7E2B9D4F0A51}");
  virtual void Clock() = 0;
  virtual TSemaphore& GetClockSemaphore() = 0;
};

class TNXClockThread : public TBasicThread, public INXClockThread {
  NX_INTERFACES(TBasicThread, INXClockThread)

 public:
  static constexpr std::int32_t MaxPendingTicks = 300000;
  // Starts at once, at priority highest (where the process may raise it).
  explicit TNXClockThread(TNXClockProc AOnClock);
  ~TNXClockThread() override;
  static TIntfPtr<INXClockThread> Make(TNXClockProc AOnClock) {
    return TIntfPtr<INXClockThread>(new TNXClockThread(std::move(AOnClock)));
  }

  void Clock() override { FClockSemaphore.Release(); }
  TSemaphore& GetClockSemaphore() override { return FClockSemaphore; }
  void Terminate() override;

 protected:
  void ExecuteLoop() override;

 private:
  TNXClockProc FOnClock;
  TSemaphore FClockSemaphore{0, MaxPendingTicks};
};

// A thread that ticks when Clock is called, through an event: calls made
// while the procedure runs fold into one more round (an automatic-reset
// event, so that each round consumes the calls before it).
struct INXEventClockThread : virtual IInterface {
  NX_INTERFACE_ID(INXEventClockThread, "{6A2D41C7-5B0E-4F8A-9C13-7E2B9D4F0A52}");
  virtual void Clock() = 0;
  virtual TEvent& GetClockEvent() = 0;
};

class TNXEventClockThreadImpl : public TBasicThread, public INXEventClockThread {
  NX_INTERFACES(TBasicThread, INXEventClockThread)

 public:
  explicit TNXEventClockThreadImpl(TNXClockProc AOnClock);
  ~TNXEventClockThreadImpl() override;
  static TIntfPtr<INXEventClockThread> Make(TNXClockProc AOnClock) {
    return TIntfPtr<INXEventClockThread>(new TNXEventClockThreadImpl(std::move(AOnClock)));
  }

  void Clock() override { FClockEvent.SetEvent(); }
  TEvent& GetClockEvent() override { return FClockEvent; }
  void Terminate() override;

 protected:
  void ExecuteLoop() override;

 private:
  TNXClockProc FOnClock;
  TEvent FClockEvent{false, false};
};

// ---- the master clock and its state

// The number of live TNXClockGen threads.
std::int32_t NXClockGenCount() noexcept;
// True while the master clock (its timer thread) exists.
bool NXMasterClockRunning();
// The steps the current master clock has taken since it started (0 when
// none runs). A clock procedure reads the step that released its tick.
std::uint64_t NXMasterClockSteps();

// Switches the master clock to virtual time (true) or back to the wall
// clock (false). Process-wide.
void NXSetVirtualClock(bool AVirtual);
bool NXVirtualClock() noexcept;

// Holding the master clock at a step. The master clock takes no step past
// ASteps (counted from its start: NXMasterClockSteps) until the limit is
// raised; UINT64_MAX, the default, lets it run. A host sets 0 before it
// starts its generators, so that every clock is registered before the
// first step, then the number of 1 ms steps to run, and waits for
// NXClocksIdle at that step: a run of a given length is then the same on
// virtual time every time. Process-wide, in real and virtual time.
void NXSetClockStepLimit(std::uint64_t ASteps);
std::uint64_t NXClockStepLimit() noexcept;
// Waits until the master clock waits at the step limit, or ATimeoutMs: true
// when it does. A host waits here between its looks at a run (the clocks'
// ticks may still be in progress on their own threads: NXClocksIdle tells).
bool NXWaitClockHeld(std::uint32_t ATimeoutMs);
// True when every live clock's procedure has run for every tick released
// so far (also when no master clock exists).
bool NXClocksIdle();

// Virtual time for the lifetime of the guard; the previous mode comes back
// when it ends.
class TNXVirtualClockGuard {
 public:
  explicit TNXVirtualClockGuard(bool AVirtual = true) : FPrevious(NXVirtualClock()) { NXSetVirtualClock(AVirtual); }
  ~TNXVirtualClockGuard() { NXSetVirtualClock(FPrevious); }
  TNXVirtualClockGuard(const TNXVirtualClockGuard&) = delete;
  TNXVirtualClockGuard& operator=(const TNXVirtualClockGuard&) = delete;

 private:
  const bool FPrevious;
};

}  // namespace nx
