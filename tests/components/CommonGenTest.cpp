// Generators: the internal clock's interval rule, buffers paced by the
// clock thread (on virtual time), start and stop, stops from the generator
// itself and from downstream, pump negotiation with a master downstream,
// external clocks, and the pin generators.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ComponentTestSupport.h"
#include "components/NXCommonGen.h"

namespace nx {
namespace {

// A real generator: sample i of the stream holds i. It stops after
// StopAfter buffers (0: never) and, with SkipOdd, sends only every other one.
class TCountingRealGen : public TNXCommonRealGen {
 public:
  using TNXCommonRealGen::TNXCommonRealGen;
  std::int32_t StopAfter = 0;
  bool SkipOdd = false;
  std::int64_t Next = 0;
  std::int32_t Pumps = 0;

 protected:
  void IntGenerate(TIntfPtr<INXDataBuffer>& ABuffer, bool& ASend, bool& AStop) override {
    INXRealBuffer* real = RealOf(ABuffer);
    if (real->GetSize() == 1 && Pumps < 0) {  // GenerateFloat: doubles the value
      real->SetItem(0, real->GetItem(0) * 2);
      ASend = !SkipOdd;
      return;
    }
    double* data = real->Write();
    for (std::int32_t i = 0; i < real->GetSize(); ++i) data[i] = static_cast<double>(Next++);
    ++Pumps;
    if (SkipOdd && Pumps % 2 == 0) ASend = false;
    if (StopAfter > 0 && Pumps == StopAfter) AStop = true;
  }
};

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

template <class T>
using TGenPtr = test::TComponentPtr<T>;

using test::TRecordingSink;
using TRealSink = TRecordingSink<TNXFTRealSinkPin>;

template <class TGen>
TGenPtr<TGen> MakeGen(double ARate, std::int32_t ASize) {
  TGenPtr<TGen> gen(new TGen(nullptr));
  gen->SetSampleRate(ARate);
  gen->SetBufferSize(ASize);
  return gen;
}

// ---------------------------------------------------------------- interval rule

struct TIntervalRow {
  double Rate;
  std::int32_t Size;
  bool Paces;
  std::int64_t Interval;
  std::int32_t PerGen;
};

class IntervalRule : public testing::TestWithParam<TIntervalRow> {};

TEST_P(IntervalRule, WholeBuffersOfAtLeastOneMillisecond) {
  const TIntervalRow& row = GetParam();
  std::int64_t interval = -1;
  std::int32_t perGen = -1;
  ASSERT_EQ(TNXCommonGen::ClockIntervalFor(row.Rate, row.Size, interval, perGen), row.Paces);
  if (!row.Paces) return;
  EXPECT_EQ(interval, row.Interval);
  EXPECT_EQ(perGen, row.PerGen);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, IntervalRule,
    testing::Values(TIntervalRow{1000, 1024, true, 10240000, 1}, TIntervalRow{44100, 1, true, 10204, 45},
                    TIntervalRow{48000, 48, true, 10000, 1}, TIntervalRow{8000, 4, true, 10000, 2},
                    TIntervalRow{1e6, 1, true, 10000, 1000}, TIntervalRow{44100, 440, true, 99773, 1},
                    // The rate is rounded half to even before the division.
                    TIntervalRow{2.5, 1, true, 5000000, 1}, TIntervalRow{3.5, 1, true, 2500000, 1},
                    // Rates that round to 0 cannot pace a clock.
                    TIntervalRow{0.4, 1, false, 0, 0}, TIntervalRow{0.000001, 16, false, 0, 0}));

// ---------------------------------------------------------------- clocked runs

class CommonGen : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(NXClockGenCount(), 0); }
  void TearDown() override { EXPECT_EQ(NXClockGenCount(), 0); }
  TNXVirtualClockGuard FVirtualTime;
};

void ExpectConsecutive(const std::vector<std::vector<double>>& ABuffers, double AFirst, std::size_t ASize) {
  double expected = AFirst;
  for (const std::vector<double>& b : ABuffers) {
    ASSERT_EQ(b.size(), ASize);
    for (double v : b) ASSERT_EQ(v, expected++);
  }
}

// Three runs of one generator: each begins with a start announcement and
// ends with a stop, its buffers continue the stream, and no clock survives
// a stop.
TEST_F(CommonGen, StartStopRepeatedDeliversConsecutiveBuffers) {
  TRealSink sink;
  auto gen = MakeGen<TCountingRealGen>(1000, 10);  // one buffer per 10 ms tick
  int stops = 0;
  gen->SetOnStop([&](TPersistent*) { ++stops; });
  ASSERT_TRUE(gen->OutputPin().Connect(&sink.Pin));
  std::size_t seen = 0;
  for (int run = 1; run <= 3; ++run) {
    SCOPED_TRACE(run);
    gen->Start();
    EXPECT_TRUE(gen->IsPump());
    ASSERT_TRUE(gen->GetClockGen());
    EXPECT_EQ(gen->GetClockGen()->GetInterval(), 100000);
    ASSERT_TRUE(sink.WaitBuffers(seen + 20));
    gen->Stop();
    EXPECT_FALSE(gen->GetEnabled());
    EXPECT_FALSE(gen->GetClockGen());
    EXPECT_EQ(NXClockGenCount(), 0);
    EXPECT_EQ(stops, run);
    seen = sink.Count();
  }
  const std::vector<std::string> ops = sink.Ops();
  const std::vector<std::string> expected = {"TFTPumpRequestOperation", "TFTPumpRequestOperation",
                                             "TFTStartSampleRateOperation", "TFTStopOperation"};
  ASSERT_EQ(ops.size(), 3 * expected.size());
  for (std::size_t i = 0; i < ops.size(); ++i) EXPECT_EQ(ops[i], expected[i % expected.size()]) << i;
  ExpectConsecutive(sink.Samples(), 0, 10);
  // Ticks of a 10 ms interval come on every tenth step, first on the eleventh.
  const std::vector<std::uint64_t> steps = sink.Steps();
  for (std::size_t i = 0; i < 20; ++i) EXPECT_EQ(steps[i], 11 + 10 * i);
}

// 44,100 samples per second in buffers of one sample: 45 buffers per tick.
TEST_F(CommonGen, ManyBuffersPerTick) {
  TRealSink sink;
  auto gen = MakeGen<TCountingRealGen>(44100, 1);
  ASSERT_TRUE(gen->OutputPin().Connect(&sink.Pin));
  gen->Start();
  EXPECT_EQ(gen->GetBuffersPerGen(), 45);
  ASSERT_TRUE(sink.WaitBuffers(45 * 30));
  gen->Stop();
  const std::vector<std::uint64_t> steps = sink.Steps();
  std::size_t run = 1;
  for (std::size_t i = 1; i <= steps.size(); ++i) {
    if (i < steps.size() && steps[i] == steps[i - 1]) {
      ++run;
      continue;
    }
    EXPECT_EQ(run, 45u) << "at buffer " << i;
    run = 1;
  }
  ExpectConsecutive(sink.Samples(), 0, 1);
}

// A generator that sets its stop flag stops on its own clock thread: the
// buffer that stopped it is the last one sent, OnStop fires once and the
// clock thread ends without waiting for itself.
TEST_F(CommonGen, StopFlagStopsFromTheClockThread) {
  for (std::int32_t stopAfter : {1, 3, 7}) {
    SCOPED_TRACE(stopAfter);
    TRealSink sink;
    auto gen = MakeGen<TCountingRealGen>(1000, 4);  // interval 4 ms
    gen->StopAfter = stopAfter;
    std::atomic<int> stops{0};
    gen->SetOnStop([&](TPersistent*) { ++stops; });
    ASSERT_TRUE(gen->OutputPin().Connect(&sink.Pin));
    gen->Start();
    ASSERT_TRUE(sink.WaitOp("TFTStopOperation"));
    // Read under the lock, which the clock thread holds until the stop is done.
    EXPECT_FALSE(gen->GetEnabled());
    EXPECT_EQ(stops.load(), 1);
    EXPECT_FALSE(gen->IsRunning());
    gen.reset();  // waits for the clock thread that ended itself
    EXPECT_EQ(sink.Count(), static_cast<std::size_t>(stopAfter));
    EXPECT_EQ(NXClockGenCount(), 0);
  }
}

// From downstream: a sample rate becomes the generator's rate while the
// running clock stays; a stop stops it; a query for the stream is then
// answered with an ignore-stream.
TEST_F(CommonGen, RateAndStopFromDownstream) {
  TRealSink sink;
  auto gen = MakeGen<TCountingRealGen>(1000, 10);
  int stops = 0;
  gen->SetOnStop([&](TPersistent*) { ++stops; });
  ASSERT_TRUE(gen->OutputPin().Connect(&sink.Pin));
  gen->Start();
  const TIntfPtr<TNXClockGen> clock = gen->GetClockGen();
  EXPECT_FALSE(sink.Pin.Notify(TFTStartSampleRateOperation::Make(2000)));
  EXPECT_EQ(gen->GetSampleRateValue(), 2000);
  EXPECT_EQ(gen->GetClockGen(), clock);
  EXPECT_TRUE(gen->IsPump());
  ASSERT_TRUE(sink.WaitBuffers(3));
  sink.Pin.Notify(TFTStopOperation::Make());
  EXPECT_FALSE(gen->GetEnabled());
  EXPECT_EQ(stops, 1);
  EXPECT_FALSE(gen->GetClockGen());
  const std::size_t sent = sink.Count();
  sink.Pin.Notify(TFTQueryStreamOperation::Make());
  EXPECT_EQ(sink.Ops().back(), "TFTIgnoreStreamOperation");
  EXPECT_EQ(sink.Count(), sent);
}

// ---------------------------------------------------------------- master pump

// Stands in a row's identifiers for a stop and a new start of the generator.
constexpr std::uint32_t kRestart = 0xFFFFFFFFu;

struct TPumpRow {
  const char* Name;
  std::vector<std::uint32_t> IDs;  // master-pump identifiers (or kRestart), in order
  std::size_t Buffers;
};

class MasterPumping : public CommonGen, public testing::WithParamInterface<TPumpRow> {};

// A downstream sink that names itself master paces the generator alone: no
// clock thread, and one buffer per distinct operation identifier in a row.
TEST_P(MasterPumping, OneBufferPerDistinctOperation) {
  const TPumpRow& row = GetParam();
  TRealSink sink("In", true);
  auto gen = MakeGen<TCountingRealGen>(1000, 8);
  ASSERT_TRUE(gen->OutputPin().Connect(&sink.Pin));
  gen->Start();
  EXPECT_FALSE(gen->IsPump());
  EXPECT_EQ(gen->GetMasterPump(), sink.Identity());
  EXPECT_EQ(sink.StartPumpMaster(), sink.Identity());
  EXPECT_FALSE(gen->GetClockGen());
  EXPECT_EQ(NXClockGenCount(), 0);
  for (std::uint32_t id : row.IDs) {
    if (id == kRestart) {
      gen->Stop();
      gen->Start();
      continue;
    }
    EXPECT_TRUE(sink.Pin.Notify(TFTMasterPumpOperation::Make(sink.Identity(), id)));
  }
  // Another master's pumps produce nothing.
  int other = 0;
  sink.Pin.Notify(TFTMasterPumpOperation::Make(&other, 999));
  EXPECT_EQ(sink.Count(), row.Buffers);
  ExpectConsecutive(sink.Samples(), 0, 8);
  gen->Stop();
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, MasterPumping,
    testing::Values(TPumpRow{"Distinct", {1, 2, 3, 4}, 4}, TPumpRow{"Repeated", {5, 5, 5}, 1},
                    TPumpRow{"Pairs", {1, 1, 2, 2, 3, 3}, 3}, TPumpRow{"Returning", {1, 2, 1}, 3},
                    // The first request after a start pumps whatever its identifier,
                    // also the last identifier of the previous run.
                    TPumpRow{"FirstIsZero", {0, 0, 1}, 2}, TPumpRow{"AfterRestart", {7, kRestart, 7}, 2}),
    [](const testing::TestParamInfo<TPumpRow>& AInfo) { return AInfo.param.Name; });

// ---------------------------------------------------------------- external clock

struct TExternalRow {
  TNXClockSource Source;
  bool External;
  bool Linked = true;  // the clock input is linked to a clock source
};

class ExternalClock : public CommonGen, public testing::WithParamInterface<TExternalRow> {};

TEST_P(ExternalClock, OneBufferPerClockOperation) {
  const TExternalRow& row = GetParam();
  TRealSink sink;
  std::vector<int> needed;  // clock-needed answers, 1 or 0
  TFTClockSourcePin clock("Clock", [&](TFTBasicPin*, IFTStream*, const TGUID&,
                                       const TIntfPtr<IFTNotifyOperation>& AOperation, TFTNotifyState) {
    if (auto* op = AOperation->As<TFTClockNeededOperation>()) needed.push_back(op->GetNeeded() ? 1 : 0);
    return true;
  });
  auto gen = MakeGen<TCountingRealGen>(1000, 5);
  gen->SetClockSource(row.Source);
  ASSERT_TRUE(gen->OutputPin().Connect(&sink.Pin));
  if (row.Linked) {
    ASSERT_TRUE(clock.Connect(&gen->ClockInputPin()));
  }
  gen->Start();
  EXPECT_EQ(gen->ClockIsExternal(), row.External);
  EXPECT_EQ(static_cast<bool>(gen->GetClockGen()), !row.External);
  if (row.External) {
    for (int i = 0; i < 6; ++i) clock.Clock(1);
    EXPECT_EQ(sink.Count(), 6u);
    ExpectConsecutive(sink.Samples(), 0, 5);
  }
  if (!row.External) {
    ASSERT_TRUE(sink.WaitBuffers(2));  // paced by its own clock
  }
  gen->Stop();
  EXPECT_EQ(needed, row.Linked ? (std::vector<int>{1, 0}) : std::vector<int>{});
  if (!row.External) return;
  clock.Clock(1);  // stopped: the tick produces nothing
  EXPECT_EQ(sink.Count(), 6u);
}

INSTANTIATE_TEST_SUITE_P(Sources, ExternalClock,
                         testing::Values(TExternalRow{csAuto, true}, TExternalRow{csExternal, true},
                                         TExternalRow{csInternal, false},
                                         // csAuto without a linked clock input paces itself.
                                         TExternalRow{csAuto, false, false}));

// ---------------------------------------------------------------- generated values

TEST_F(CommonGen, GenerateFloatRunsTheGeneratorOnOneSample) {
  struct TRow {
    bool Send;
    double Expected;
  };
  for (TRow row : {TRow{true, 6.0}, TRow{false, 3.0}}) {
    auto gen = MakeGen<TCountingRealGen>(1000, 16);
    gen->Pumps = -1;  // the doubling mode
    gen->SkipOdd = !row.Send;
    double value = 3.0;
    EXPECT_EQ(gen->GenerateFloat(value), row.Send);
    EXPECT_EQ(value, row.Expected);
  }
}

// A cleared send flag sends nothing; a pin generator's own buffers arrive
// in supplied-buffer operations.
TEST_F(CommonGen, SendFlagAndPinGenerators) {
  TRealSink realSink("In", true);
  auto real = MakeGen<TCountingRealGen>(1000, 3);
  real->SkipOdd = true;
  ASSERT_TRUE(real->OutputPin().Connect(&realSink.Pin));
  real->Start();
  for (std::uint32_t id = 1; id <= 6; ++id) realSink.Pin.Notify(TFTMasterPumpOperation::Make(realSink.Identity(), id));
  ASSERT_EQ(realSink.Count(), 3u);
  EXPECT_EQ(realSink.Samples()[1], (std::vector<double>{6, 7, 8}));
  real->Stop();

  TRecordingSink<TNXFTIntegerSinkPin> intSink("In", true);
  auto ints = MakeGen<TPairIntGen>(1000, 3);
  ASSERT_TRUE(ints->OutputPin().Connect(&intSink.Pin));
  ints->Start();
  for (std::uint32_t id = 1; id <= 3; ++id) intSink.Pin.Notify(TFTMasterPumpOperation::Make(intSink.Identity(), id));
  EXPECT_EQ(intSink.Samples(), (std::vector<std::vector<double>>{{1, 1}, {2, 2}, {3, 3}}));
  ints->Stop();
}

TEST(CommonGenProperties, SettersClampAndNotify) {
  TGenPtr<TCountingRealGen> gen(new TCountingRealGen(nullptr));
  int changes = 0;
  gen->OnChanged = [&](TComponent*, TPersistent*) { ++changes; };
  struct TRow {
    double Rate;
    double Stored;
  };
  for (TRow row : {TRow{0, 0.000001}, TRow{-5, 0}, TRow{48000, 48000}}) {
    gen->SetSampleRate(row.Rate);
    EXPECT_EQ(gen->GetSampleRateValue(), row.Stored);
  }
  gen->SetSampleRate(48000);  // unchanged: no notification
  for (std::int32_t size : {0, -3}) {
    gen->SetBufferSize(size);
    EXPECT_EQ(gen->GetBufferSizeValue(), 1);
  }
  EXPECT_EQ(changes, 4);
}

}  // namespace
}  // namespace nx
