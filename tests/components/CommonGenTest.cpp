// Generators and their clocks on virtual time: pacing, stops, master pumps, external clocks, a filter chain.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ComponentTestSupport.h"
#include "ExceptionMessage.h"
#include "components/NXCommonGen.h"
#include "components/NXFilterThread.h"

namespace nx {
namespace {

using test::TRecordingSink;
using TRealSink = TRecordingSink<TNXFTRealSinkPin>;

// Collects values from clock threads; Wait returns once enough arrived.
class TRecorder {
 public:
  void Add(std::uint64_t AValue) { std::lock_guard lk(FLock); FValues.push_back(AValue); FCond.notify_all(); }
  bool Wait(std::size_t ACount) {
    std::unique_lock lk(FLock);
    return FCond.wait_for(lk, std::chrono::seconds(60), [&] { return FValues.size() >= ACount; });
  }
  std::vector<std::uint64_t> Values() { std::lock_guard lk(FLock); return FValues; }
 private:
  std::mutex FLock;
  std::condition_variable FCond;
  std::vector<std::uint64_t> FValues;
};

// The clock procedure records the step that released each tick (virtual time waits for it).
TEST(ClockGen, AccumulatorTicksOnTheStepsTheIntervalGives) {
  struct TCase { std::int64_t Interval; std::vector<std::uint64_t> Steps; };  // 100 ns units; master steps
  const TCase cases[] = {
      {10000, {2, 3, 4, 5, 6}},  // 1 ms exactly: the accumulator must exceed it, the first step is silent
      {15000, {2, 4, 5, 7, 8, 10}},                  // 1.5 ms: the remainder carries over
      {2500, {1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3}},     // 0.25 ms: three ticks on the first step, then four
      {10240000, {1025, 2049}},                      // 1,024 samples at 1,000 per second
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Interval);
    TNXVirtualClockGuard virtualTime;
    TRecorder ticks;
    {
      auto clock = MakeThread<TNXClockGen>("AccTest", c.Interval, [&] { ticks.Add(NXMasterClockSteps()); });
      ASSERT_TRUE(ticks.Wait(c.Steps.size()));
    }
    std::vector<std::uint64_t> got = ticks.Values();
    got.resize(c.Steps.size());
    EXPECT_EQ(got, c.Steps);
  }
}

// Virtual time goes straight to the next step at which some clock is due: clocks of 3 and 7 ms still tick on every
// step their own intervals give, each in turn, and the step count reads the same as step by step.
TEST(ClockGen, VirtualTimeSkipsOnlyStepsWithoutTicks) {
  TNXVirtualClockGuard virtualTime;
  NXSetClockStepLimit(0);  // both clocks count from the same step
  TRecorder three, seven;
  {
    auto a = MakeThread<TNXClockGen>("Three", 30000, [&] { three.Add(NXMasterClockSteps()); });
    auto b = MakeThread<TNXClockGen>("Seven", 70000, [&] { seven.Add(NXMasterClockSteps()); });
    NXSetClockStepLimit(UINT64_MAX);
    ASSERT_TRUE(seven.Wait(3));
    ASSERT_TRUE(three.Wait(7));
  }
  std::vector<std::uint64_t> a = three.Values(), b = seven.Values();
  a.resize(7);
  b.resize(3);
  EXPECT_EQ(a, (std::vector<std::uint64_t>{4, 7, 10, 13, 16, 19, 22}));
  EXPECT_EQ(b, (std::vector<std::uint64_t>{8, 15, 22}));
}

// A host waiting for the end of a run: the wait ends once the master clock is held at the limit, every tick up to
// it run; a raised limit holds it again further on; a clock running free never ends the wait.
TEST(ClockGen, WaitingForTheStepLimit) {
  TNXVirtualClockGuard virtualTime;
  NXSetClockStepLimit(0);
  TRecorder ticks;
  auto clock = MakeThread<TNXClockGen>("Five", 50000, [&] { ticks.Add(NXMasterClockSteps()); });
  for (const std::uint64_t limit : {21u, 31u}) {
    NXSetClockStepLimit(limit);
    ASSERT_TRUE(NXWaitClockHeld(60000));
    EXPECT_EQ(NXMasterClockSteps(), limit);
    EXPECT_TRUE(NXClocksIdle());
  }
  EXPECT_EQ(ticks.Values(), (std::vector<std::uint64_t>{6, 11, 16, 21, 26, 31}));
  NXSetClockStepLimit(UINT64_MAX);
  EXPECT_FALSE(NXWaitClockHeld(5));
  clock = nullptr;
}

// The one test on the wall clock: a timer runs exactly while a clock does; a zero interval starts none.
TEST(ClockGen, TimerRunsFromTheFirstClockToTheLast) {
  ASSERT_FALSE(NXVirtualClock());
  EXPECT_EQ(nxtest::MessageOf<EAssertionFailed>([] { MakeThread<TNXClockGen>("Bad", 0, [] {}); }),
            "Assertion failure (NXClockGen, line 245)");
  for (int round = 0; round < 2; ++round) {
    ASSERT_FALSE(NXMasterClockRunning());
    TIntfPtr<TNXClockGen> first = MakeThread<TNXClockGen>("First", 10000, [] {});
    TIntfPtr<TNXClockGen> second = MakeThread<TNXClockGen>("Second", 20000, [] {});
    first = nullptr;
    EXPECT_TRUE(NXMasterClockRunning());
    second = nullptr;
    EXPECT_FALSE(NXMasterClockRunning());
    EXPECT_EQ(NXClockGenCount(), 0);
  }
}

// A clock that terminates itself from its procedure does not wait for itself; no tick follows.
TEST(ClockGen, TerminateFromOwnProcedure) {
  TNXVirtualClockGuard virtualTime;
  TRecorder ticks;
  int count = 0;  // on the clock thread only
  TIntfPtr<TNXClockGen> clock = MakeThread<TNXClockGen>("SelfStop", 10000, [&](IThread* AThread) {
    EXPECT_EQ(static_cast<TNXClockGen*>(AThread)->PendingTicks(), 0);  // virtual time waits for the procedure
    if (++count == 3) AThread->Terminate();  // before the tick is recorded: the test lets go only after
    ticks.Add(1);
  });
  ASSERT_TRUE(ticks.Wait(3));
  clock = nullptr;  // the last reference may go while the thread still ends
  for (int i = 0; i < 60000 && NXClockGenCount() != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_EQ(NXClockGenCount(), 0);
  EXPECT_EQ(ticks.Values().size(), 3u);
}

// On virtual time the master clock's thread runs the procedures: the clock is still "current" there, an exception
// ends the clock's thread with it, and a clock whose last reference goes inside its own procedure (the master clock
// then has no clock left and must not join itself) or on another thread while its procedure runs frees cleanly.
TEST(ClockGen, VirtualTimeRunsProceduresOnTheMasterClockThread) {
  enum TEnd { eThrow, eDropInside, eDropOutside };
  for (const TEnd end : {eThrow, eDropInside, eDropOutside}) {
    SCOPED_TRACE(static_cast<int>(end));
    TNXVirtualClockGuard virtualTime;
    TRecorder ticks;
    std::atomic<bool> current{true}, driven{true};
    TIntfPtr<TNXClockGen> clock;
    std::mutex slot;  // guards clock against the procedure's drop
    // Held at step 0 until the clock's thread has started: a tick released before would be its thread's to run.
    NXSetClockStepLimit(0);
    {
      std::lock_guard lk(slot);
      clock = MakeThread<TNXClockGen>("Driven", 10000, [&](IThread* AThread) {
        auto* self = static_cast<TNXClockGen*>(AThread);
        if (!self->IsCurrentThread()) current = false;
        if (CurrentThreadTid() == self->ThreadID()) driven = false;
        const std::size_t n = ticks.Values().size();
        ticks.Add(n);
        if (n != 2) return;
        if (end == eThrow) throw std::runtime_error("tick failed");
        // The procedure's own captures go with the clock: nothing is touched after the drop.
        if (end == eDropInside) { std::lock_guard lk(slot); clock = nullptr; return; }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the test drops the clock meanwhile
      });
    }
    NXSetClockStepLimit(UINT64_MAX);
    ASSERT_TRUE(ticks.Wait(3));
    if (end == eThrow) {
      for (int i = 0; i < 60000 && !clock->Finished(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      EXPECT_TRUE(clock->Finished());
      ASSERT_TRUE(clock->FatalException());
      EXPECT_THROW(std::rethrow_exception(clock->FatalException()), std::runtime_error);
    }
    if (end != eDropInside) {
      TIntfPtr<TNXClockGen> mine;
      { std::lock_guard lk(slot); mine = std::move(clock); }
      mine = nullptr;  // eDropOutside: goes while the third tick still runs
    }
    for (int i = 0; i < 60000 && NXClockGenCount() != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(NXClockGenCount(), 0);
    EXPECT_TRUE(current);
    EXPECT_TRUE(driven);  // never on the clock's own thread
    EXPECT_EQ(ticks.Values().size(), 3u);  // nothing ran after the end
    for (int i = 0; i < 60000 && NXMasterClockRunning(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_FALSE(NXMasterClockRunning());
  }
}

// A semaphore clock runs once per call; an event clock folds calls made while it runs.
TEST(ClockGen, DrivenClockThreadsRunOncePerClockOrFoldCalls) {
  for (const bool event : {false, true}) {
    SCOPED_TRACE(event ? "event" : "semaphore");
    TRecorder rounds;
    std::mutex gate;
    std::unique_lock hold(gate);  // the first round waits until every call is made
    auto proc = [&] { std::lock_guard lk(gate); rounds.Add(1); };
    TIntfPtr<INXEventClockThread> folding = event ? TNXEventClockThreadImpl::Make(proc) : nullptr;
    TIntfPtr<INXClockThread> counting = event ? nullptr : TNXClockThread::Make(proc);
    for (int i = 0; i < 50; ++i) event ? folding->Clock() : counting->Clock();
    hold.unlock();
    ASSERT_TRUE(rounds.Wait(event ? 1 : 50));
    if (!event) { EXPECT_EQ(counting->GetClockSemaphore().Count(), 0); }
    folding = nullptr;  // terminates, wakes and waits
    counting = nullptr;
    const std::size_t n = rounds.Values().size();
    EXPECT_TRUE(event ? n <= 2 : n == 50) << n;
  }
}

// Sample i holds i; stops after StopAfter buffers, sends nothing after Limit. Pumps < 0: a one-sample buffer is
// doubled, sent unless SkipOdd.
class TCountingRealGen : public TNXCommonRealGen {
 public:
  using TNXCommonRealGen::TNXCommonRealGen;
  std::int32_t StopAfter = 0, Pumps = 0, Limit = 1 << 30;
  bool SkipOdd = false;
  std::int64_t Next = 0;
 protected:
  void IntGenerate(TIntfPtr<INXDataBuffer>& ABuffer, bool& ASend, bool& AStop) override {
    INXRealBuffer* real = RealOf(ABuffer);
    if (real->GetSize() == 1 && Pumps < 0) {
      real->SetItem(0, real->GetItem(0) * 2);
      ASend = !SkipOdd;
      return;
    }
    if (Pumps >= Limit) {
      ASend = false;
      return;
    }
    double* data = real->Write();
    for (std::int32_t i = 0; i < real->GetSize(); ++i) data[i] = static_cast<double>(Next++);
    ++Pumps;
    if (SkipOdd && Pumps % 2 == 0) ASend = false;
    if (StopAfter > 0 && Pumps == StopAfter) AStop = true;
  }
};

// The real buffer a generator is handed: the base's own buffers (the same object, by its fast path), no other kind.
TEST(RealGen, RealOfTakesOnlyRealBuffers) {
  const TIntfPtr<INXRealBuffer> real = TNXRealBuffer::MakeSize(3);
  EXPECT_EQ(TNXCommonBaseRealGen::RealOf(TIntfPtr<INXDataBuffer>(real)), real.Get());
  EXPECT_EQ(TNXCommonBaseRealGen::RealOf(TIntfPtr<INXDataBuffer>(TNXComplexBuffer::MakeSize(3))), nullptr);
  EXPECT_EQ(TNXCommonBaseRealGen::RealOf(nullptr), nullptr);
}

// An integer generator that supplies buffers of two samples: pump n sends {n, n}.
class TPairIntGen : public TNXCommonIntGen {
 public:
  using TNXCommonIntGen::TNXCommonIntGen;
  std::int32_t Pumps = 0;
 protected:
  void IntGenerate(TIntfPtr<INXDataBuffer>& ABuffer, bool&, bool&) override {
    ++Pumps;
    ABuffer = TNXIntegerBuffer::MakeArray({Pumps, Pumps});
  }
};

template <class TGen = TCountingRealGen>
test::TComponentPtr<TGen> MakeGen(double ARate, std::int32_t ASize, TFTSinkPin* ASink = nullptr) {
  test::TComponentPtr<TGen> gen(new TGen(nullptr));
  gen->SetSampleRate(ARate);
  gen->SetBufferSize(ASize);
  EXPECT_TRUE(!ASink || gen->OutputPin().Connect(ASink));
  return gen;
}

TEST(CommonGenTest, ClockIntervalIsWholeBuffersOfAtLeastOneMillisecondAndSettersClamp) {
  struct TCase { double Rate; std::int32_t Size; bool Paces; std::int64_t Interval; std::int32_t PerGen; };
  const TCase cases[] = {
      {1000, 1024, true, 10240000, 1}, {44100, 1, true, 10204, 45}, {48000, 48, true, 10000, 1},
      {44100, 440, true, 99773, 1},    {1e6, 1, true, 10000, 1000},
      {2.5, 1, true, 5000000, 1},      {3.5, 1, true, 2500000, 1},  // the rate is rounded half to even
      {0.4, 1, false, 0, 0},  // a rate that rounds to 0 cannot pace
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Rate << " " << c.Size);
    std::int64_t interval = 0;
    std::int32_t perGen = 0;
    ASSERT_EQ(TNXCommonGen::ClockIntervalFor(c.Rate, c.Size, interval, perGen), c.Paces);
    if (c.Paces) { EXPECT_EQ(std::pair(interval, perGen), std::pair(c.Interval, c.PerGen)); }
  }
  // The setters clamp and notify.
  auto gen = MakeGen(1000, 16);
  int changes = 0;
  gen->OnChanged = [&](TComponent*, TPersistent*) { ++changes; };
  for (const auto& [rate, stored] : {std::pair{0.0, 1e-6}, {-5.0, 0.0}, {48000.0, 48000.0}, {48000.0, 48000.0}}) {
    gen->SetSampleRate(rate);
    EXPECT_EQ(gen->GetSampleRateValue(), stored);
  }
  gen->SetBufferSize(0);
  gen->SetBufferSize(-3);
  EXPECT_EQ(gen->GetBufferSizeValue(), 1);
  EXPECT_EQ(changes, 4);  // the repeated rate and the repeated size change nothing
}

class CommonGen : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(NXClockGenCount(), 0); }
  void TearDown() override {
    EXPECT_EQ(NXClockGenCount(), 0);
    EXPECT_EQ(TNXFilterThread::LiveCount(), 0);
  }
  TNXVirtualClockGuard FVirtualTime;
};

void ExpectConsecutive(const std::vector<std::vector<double>>& ABuffers, double AFirst, std::size_t ASize) {
  double expected = AFirst;
  for (const std::vector<double>& b : ABuffers) {
    ASSERT_EQ(b.size(), ASize);
    for (double v : b) ASSERT_EQ(v, expected++);
  }
}

// Each run: start announcement, buffers continuing the stream on every tenth step, a stop, no clock left.
TEST_F(CommonGen, StartStopRepeatedDeliversConsecutiveBuffers) {
  TRealSink sink;
  auto gen = MakeGen(1000, 10, &sink.Pin);
  int stops = 0;
  gen->SetOnStop([&](TPersistent*) { ++stops; });
  for (int run = 1; run <= 2; ++run) {
    const std::size_t seen = sink.Count();
    gen->Start();
    EXPECT_EQ(gen->GetClockGen()->GetInterval(), 100000);
    EXPECT_EQ(std::pair(gen->IsPump(), gen->GetBuffersPerGen()), std::pair(true, 1));
    ASSERT_TRUE(sink.WaitBuffers(seen + 20));
    gen->Stop();
    EXPECT_FALSE(gen->GetClockGen());
    EXPECT_EQ(stops, run);
  }
  const std::vector<std::string> run = {"TFTPumpRequestOperation", "TFTPumpRequestOperation",
                                        "TFTStartSampleRateOperation", "TFTStopOperation"};
  std::vector<std::string> expected = run;
  expected.insert(expected.end(), run.begin(), run.end());
  EXPECT_EQ(sink.Ops(), expected);
  ExpectConsecutive(sink.Samples(), 0, 10);
  const std::vector<std::uint64_t> steps = sink.Steps();
  for (std::size_t i = 0; i < 20; ++i) EXPECT_EQ(steps[i], 11 + 10 * i);
}

// Pause and resume reach downstream between the buffers of a running
// generator; a stopped one announces nothing.
TEST_F(CommonGen, PauseAndResumeAnnouncedDownstreamWhileRunning) {
  TRealSink sink;
  auto gen = MakeGen(1000, 10, &sink.Pin);
  gen->NotifyPause();
  gen->Start();
  ASSERT_TRUE(sink.WaitBuffers(3));
  NXSetClockStepLimit(NXMasterClockSteps());  // held, as the host holds it
  while (!NXClocksIdle()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const int before = static_cast<int>(sink.Count());
  gen->NotifyPause();
  gen->NotifyResume();
  NXSetClockStepLimit(UINT64_MAX);
  ASSERT_TRUE(sink.WaitBuffers(before + 2));
  gen->Stop();
  gen->NotifyResume();
  const std::vector<std::string> ops = sink.Ops();
  EXPECT_EQ(std::vector<std::string>(ops.end() - 3, ops.end()),
            (std::vector<std::string>{"TFTNXPauseOperation", "TFTNXResumeOperation", "TFTStopOperation"}));
  EXPECT_EQ(sink.BuffersBefore("TFTNXPauseOperation"), before);
  EXPECT_EQ(sink.BuffersBefore("TFTNXResumeOperation"), before);
}

// The stop flag stops the generator on its own clock thread after the buffer that set it.
TEST_F(CommonGen, StopFlagStopsFromTheClockThreadAndDownstreamRateAndStop) {
  TRealSink sink;
  auto gen = MakeGen(1000, 4, &sink.Pin);
  gen->StopAfter = 3;
  std::atomic<int> stops{0};
  gen->SetOnStop([&](TPersistent*) { ++stops; });
  gen->Start();
  ASSERT_TRUE(sink.WaitOp("TFTStopOperation"));
  // Read under the lock, which the clock thread holds until the stop is done.
  EXPECT_FALSE(gen->GetEnabled());
  EXPECT_EQ(stops.load(), 1);
  EXPECT_FALSE(gen->IsRunning());
  gen.reset();  // waits for the clock thread that ended itself
  EXPECT_EQ(sink.Count(), 3u);
  // From downstream a rate keeps the running clock; a stop stops; a query then gets an ignore-stream.
  gen = MakeGen(1000, 10, &sink.Pin);
  gen->Start();
  const TIntfPtr<TNXClockGen> clock = gen->GetClockGen();
  EXPECT_FALSE(sink.Pin.Notify(TFTStartSampleRateOperation::Make(2000)));
  EXPECT_EQ(gen->GetSampleRateValue(), 2000);
  EXPECT_EQ(gen->GetClockGen(), clock);
  ASSERT_TRUE(sink.WaitBuffers(6));
  sink.Pin.Notify(TFTStopOperation::Make());
  EXPECT_FALSE(gen->GetEnabled());
  EXPECT_FALSE(gen->GetClockGen());
  const std::size_t sent = sink.Count();
  sink.Pin.Notify(TFTQueryStreamOperation::Make());
  EXPECT_EQ(sink.Ops().back(), "TFTIgnoreStreamOperation");
  EXPECT_EQ(sink.Count(), sent);
}

// A master downstream pumps one buffer per distinct identifier (always the first after a start).
TEST_F(CommonGen, MasterPumpSendsOneBufferPerDistinctOperation) {
  constexpr std::uint32_t kRestart = 0xFFFFFFFFu;  // stands for a stop and a new start
  struct TCase { std::vector<std::uint32_t> IDs; std::size_t Buffers; };
  const TCase cases[] = {{{1, 1, 2, 2, 3, 3}, 3}, {{1, 2, 1}, 3}, {{0, 0, 1}, 2}, {{7, kRestart, 7}, 2}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.IDs));
    TRealSink sink("In", true);
    auto gen = MakeGen(1000, 8, &sink.Pin);
    gen->Start();
    EXPECT_EQ(gen->GetMasterPump(), sink.Identity());
    EXPECT_EQ(sink.StartPumpMaster(), sink.Identity());
    EXPECT_FALSE(gen->GetClockGen());
    for (std::uint32_t id : c.IDs) {
      if (id == kRestart) {
        gen->Stop();
        gen->Start();
      } else {
        EXPECT_TRUE(sink.Pin.Notify(TFTMasterPumpOperation::Make(sink.Identity(), id)));
      }
    }
    int other = 0;
    sink.Pin.Notify(TFTMasterPumpOperation::Make(&other, 999));
    EXPECT_EQ(sink.Count(), c.Buffers);
    ExpectConsecutive(sink.Samples(), 0, 8);
    gen->Stop();
  }
}

// csAuto without a linked clock input paces itself.
TEST_F(CommonGen, ExternalClockSendsOneBufferPerClockOperation) {
  struct TCase { TNXClockSource Source; bool External, Linked; };
  const TCase cases[] = {
      {csAuto, true, true}, {csExternal, true, true}, {csInternal, false, true}, {csAuto, false, false}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Source << " linked " << c.Linked);
    TRealSink sink;
    std::vector<int> needed;  // clock-needed answers, 1 or 0
    TFTClockSourcePin clock("Clock", [&](TFTBasicPin*, IFTStream*, const TGUID&,
                                         const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState) {
      if (auto* op = AOperation->As<TFTClockNeededOperation>()) needed.push_back(op->GetNeeded() ? 1 : 0);
      return true;
    });
    auto gen = MakeGen(1000, 5, &sink.Pin);
    gen->SetClockSource(c.Source);
    if (c.Linked) { ASSERT_TRUE(clock.Connect(&gen->ClockInputPin())); }
    gen->Start();
    EXPECT_EQ(gen->ClockIsExternal(), c.External);
    for (int i = 0; i < (c.External ? 6 : 0); ++i) clock.Clock(1);
    ASSERT_TRUE(sink.WaitBuffers(c.External ? 6 : 2));  // else paced by its own clock
    gen->Stop();
    EXPECT_EQ(needed, c.Linked ? (std::vector<int>{1, 0}) : std::vector<int>{});
    if (!c.External) continue;
    clock.Clock(1);  // stopped: the tick produces nothing
    EXPECT_EQ(sink.Count(), 6u);
    ExpectConsecutive(sink.Samples(), 0, 5);
  }
}

// A cleared send flag sends nothing (buffers and single values); a pin generator's own buffers
// arrive as they are.
TEST_F(CommonGen, SendFlagAndPinGenerators) {
  TRealSink realSink("In", true);
  auto real = MakeGen(1000, 3, &realSink.Pin);
  real->SkipOdd = true;
  real->Start();
  for (std::uint32_t id = 1; id <= 6; ++id) realSink.Pin.Notify(TFTMasterPumpOperation::Make(realSink.Identity(), id));
  ASSERT_EQ(realSink.Count(), 3u);
  EXPECT_EQ(realSink.Samples()[1], (std::vector<double>{6, 7, 8}));
  real->Stop();
  real->Pumps = -1;  // the doubling mode
  for (const bool send : {true, false}) {
    real->SkipOdd = !send;
    double value = 3.0;
    EXPECT_EQ(real->GenerateFloat(value), send);
    EXPECT_EQ(value, send ? 6.0 : 3.0);
  }
  TRecordingSink<TNXFTIntegerSinkPin> intSink("In", true);
  auto ints = MakeGen<TPairIntGen>(1000, 3, &intSink.Pin);
  ints->Start();
  for (std::uint32_t id = 1; id <= 3; ++id) intSink.Pin.Notify(TFTMasterPumpOperation::Make(intSink.Identity(), id));
  EXPECT_EQ(intSink.Samples(), (std::vector<std::vector<double>>{{1, 1}, {2, 2}, {3, 3}}));
  ints->Stop();
}

// Generator -> F0 -> F1 (worker) -> F2 -> F3 (worker; ADropMode: drops, queue of one) -> sink.
struct TFilterChain {
  test::TComponentPtr<TCountingRealGen> Gen = MakeGen(48000, 64);
  test::TComponentPtr<test::TGainFilter> F[4];
  test::TRealRecorder Sink;
  std::atomic<int> QueueFull{0};
  explicit TFilterChain(bool ADropMode) {
    for (auto& f : F) f.reset(new test::TGainFilter(1.0, true));
    F[1]->Threading()->SetEnabled(true);
    F[3]->Threading()->SetEnabled(true);
    if (ADropMode) {
      F[3]->Threading()->Queue()->SetSize(1);
      F[3]->Threading()->Queue()->SetFullMode(fmDropData);
    }
    F[3]->Threading()->SetOnQueueFull([this](TPersistent*) { ++QueueFull; });
    EXPECT_TRUE(Gen->OutputPin().Connect(F[0]->InputPin()));
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(F[i]->OutputPin()->Connect(F[i + 1]->InputPin()));
    EXPECT_TRUE(F[3]->OutputPin()->Connect(&Sink.Pin));
  }
  ~TFilterChain() {
    Gen.reset();
    for (auto& f : F) f.reset();
  }
  int Arrived() { return static_cast<int>(Sink.Count()); }
  // Runs the main-thread queue (where OnQueueFull is raised) until ADone or a minute passed.
  template <class Pred>
  bool RunUntil(Pred ADone) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (; std::chrono::steady_clock::now() < deadline; std::this_thread::sleep_for(std::chrono::milliseconds(1))) {
      MainThread::ProcessQueue();
      if (ADone()) return true;
    }
    return false;
  }
};

// The first sample of each buffer is its sequence number times 64: it shows order, loss and
// duplication. Block mode delivers every buffer once, in order; in drop mode each drop is reported.
TEST_F(CommonGen, ChainKeepsOrderInBlockAndDropModes) {
  constexpr int kBuffers = 400;
  for (bool drop : {false, true}) {
    SCOPED_TRACE(drop ? "drop mode, queue of one" : "block mode");
    TFilterChain chain(drop);
    chain.Gen->Limit = kBuffers;
    chain.Gen->Start();
    ASSERT_TRUE(chain.RunUntil([&] { return chain.Arrived() + (drop ? chain.QueueFull.load() : 0) == kBuffers; }))
        << chain.Arrived() << " arrived, " << chain.QueueFull.load() << " reported full";
    chain.Gen->Stop();
    MainThread::ProcessQueue();
    const std::vector<double> seen = chain.Sink.FirstSamples();
    EXPECT_EQ(static_cast<int>(seen.size()) + (drop ? chain.QueueFull.load() : 0), kBuffers);
    for (std::size_t i = 1; i < seen.size(); ++i) ASSERT_LT(seen[i - 1], seen[i]) << i;
    for (double first : seen) ASSERT_EQ(std::fmod(first, 64.0), 0.0) << first;
    if (!drop) {
      EXPECT_EQ(seen.back(), 64.0 * (kBuffers - 1));
    }
  }
}

// Start/stop cycles while buffers flow and settings change beside: no deadlock, no thread left.
TEST_F(CommonGen, ChainStartStopStormWithPropertiesChangingBeside) {
  constexpr int kCycles = 1000;
  TFilterChain chain(false);
  {
    test::TLoopThread changer([&](int n) {
      chain.F[0]->SetEnabled(n % 2 == 0);
      chain.F[2]->Gain.store(n % 3 == 0 ? 1.0 : 2.0);
      chain.F[1]->Threading()->Queue()->SetSize(1 + n % 15);
      chain.F[3]->Threading()->SetPriority(n % 2 ? tpLower : tpNormal);
      std::this_thread::yield();
    });
    for (int cycle = 0; cycle < kCycles; ++cycle) {
      const int before = chain.Arrived();
      chain.Gen->Start();
      if (cycle % 10 == 0) {
        ASSERT_TRUE(chain.RunUntil([&] { return chain.Arrived() > before; })) << cycle;
      }
      chain.Gen->Stop();
    }
  }
  MainThread::ProcessQueue();
  EXPECT_GE(chain.Arrived(), kCycles / 10);
}

}  // namespace
}  // namespace nx
