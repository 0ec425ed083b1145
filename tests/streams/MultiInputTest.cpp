// Multi-input components and queued input pins, checked against a reference built from the input signals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <thread>
#include <vector>

#include "nxruntime.h"

namespace nx {
namespace {

// The sum of the inputs at the agreed rate, in buffers of AFixedSize (0: the output's sizing).
class TSumMixer : public TNXRealMultiInput {
 public:
  explicit TSumMixer(std::int32_t AInputs, std::int32_t AFixedSize = 0, bool AStopOnNoStreams = true)
      : TNXRealMultiInput(nullptr), FStopOnNoStreams(AStopOnNoStreams) {
    SetInputCount(AInputs);
    if (AFixedSize > 0) {
      GetOutputBuffer().SetAutoSize(false);
      GetOutputBuffer().SetSize(AFixedSize);
    }
  }
  ~TSumMixer() override { ClosePins(); }
  bool GetStopOnNoStreams() override { return FStopOnNoStreams; }
  bool CalculateSendOutput(std::int32_t ASize) override {
    const auto out = TNXRealBuffer::MakeSize(static_cast<std::uint32_t>(ASize));
    SumInputs(out->Write(), ASize);
    OutputPin().SubmitBuffer(out);
    return true;
  }
 private:
  bool FStopOnNoStreams;
};

// What arrives at the mixer's output.
struct TOutputRecorder {
  std::vector<std::vector<double>> Buffers;
  std::vector<double> Rates;
  int Stops = 0;
  std::size_t BuffersAtStop = 0;  // the buffers that came before the (last) stop
  TNXFTRealSinkPin Pin{"Recorder", {}, nullptr, [this](auto*, auto*, auto&, const auto& op, auto) {
    if (auto* b = op->template As<TFTSuppliedBufferOperation>()) {
      const auto buf = Supports<INXRealBuffer>(b->GetValue());
      Buffers.emplace_back(buf->Read(), buf->Read() + buf->GetSize());
    } else if (auto* r = op->template As<TFTStartSampleRateOperation>()) {
      Rates.push_back(r->GetSampleRate());
    } else if (op->template IsType<TFTStopOperation>()) {
      ++Stops;
      BuffersAtStop = Buffers.size();
    }
    return true;
  }};
};

// Sends sample n as Signal(n); answers a query with ignore-stream while AnswerIgnore.
double SignalA(std::int64_t n) { return static_cast<double>(n); }
double SignalB(std::int64_t n) { return static_cast<double>(n % 977) * 1000.0; }

struct TFeeder {
  explicit TFeeder(double (*ASignal)(std::int64_t), std::int32_t ABufferSize, double ARate)
      : Signal(ASignal), BufferSize(ABufferSize), Rate(ARate) {
    Pin.SetGenericDispatch([this](TFTBasicPin* AOther, const TGUID&, const TIntfPtr<IFTNotifyOperation>& op,
                                  TFTNotifyState) {
      if (op->IsType<TFTQueryStreamOperation>() && AnswerIgnore)
        Pin.NotifyPin(AOther, TFTIgnoreStreamOperation::Make());
      return true;
    });
  }
  void Start() { Pin.Notify(TFTStartSampleRateOperation::Make(Rate)); }
  void SendBuffers(std::int32_t ACount) {
    for (std::int32_t k = 0; k < ACount; ++k) {
      const auto b = TNXRealBuffer::MakeSize(static_cast<std::uint32_t>(BufferSize));
      double* d = b->Write();
      for (std::int32_t i = 0; i < BufferSize; ++i) d[i] = Signal(Sent + i);
      Sent += BufferSize;
      Pin.SubmitBuffer(b);
    }
  }
  double (*Signal)(std::int64_t);
  std::int32_t BufferSize;
  double Rate;
  bool AnswerIgnore = false;
  std::int64_t Sent = 0;
  TNXFTRealSourcePin Pin{"Feeder"};
};

// Every output sample, in order.
std::vector<double> Concatenated(const std::vector<std::vector<double>>& ABuffers) {
  std::vector<double> all;
  for (const auto& b : ABuffers) all.insert(all.end(), b.begin(), b.end());
  return all;
}

// ASize samples stretched (nearest sample) from ANeeded samples of ASignal from AFirst on.
std::vector<double> Expected(double (*ASignal)(std::int64_t), std::int64_t AFirst, std::int32_t ANeeded,
                             std::int32_t ASize) {
  std::vector<double> out(ASize);
  const double step = static_cast<double>(ANeeded - 1) / ASize;
  double pos = 0;
  for (std::int32_t i = 0; i < ASize; ++i, pos += step) {
    const std::int64_t j = ANeeded == ASize ? i : std::min<std::int64_t>(std::llround(std::nearbyint(pos)), ANeeded - 1);
    out[i] = ASignal(AFirst + j);
  }
  return out;
}

// Two mixed inputs: the sum of the stretched signals, buffer by buffer.
std::vector<double> ExpectedSum(std::int64_t AOutput, std::int32_t ANeededA, std::int32_t ANeededB, std::int32_t ASize) {
  std::vector<double> a = Expected(SignalA, AOutput * ANeededA, ANeededA, ASize);
  const std::vector<double> b = Expected(SignalB, AOutput * ANeededB, ANeededB, ASize);
  for (std::int32_t i = 0; i < ASize; ++i) a[i] += b[i];
  return a;
}

// A mixer with a recorder on its output and feeders A and B (if ALinkB) on its first inputs.
struct TMixRig {
  TMixRig(std::int32_t AInputs, std::int32_t AFixedSize, std::int32_t ABufferA, double ARateA, std::int32_t ABufferB,
          double ARateB, bool ALinkB = true, bool AStopOnNoStreams = true)
      : Mixer(AInputs, AFixedSize, AStopOnNoStreams), A(SignalA, ABufferA, ARateA), B(SignalB, ABufferB, ARateB) {
    EXPECT_TRUE(Mixer.OutputPin().Connect(&Rec.Pin));
    EXPECT_TRUE(A.Pin.Connect(static_cast<TFTSinkPin*>(Mixer.GetInputPin(0))));
    if (ALinkB) { EXPECT_TRUE(B.Pin.Connect(static_cast<TFTSinkPin*>(Mixer.GetInputPin(1)))); }
  }
  TSumMixer Mixer;
  TOutputRecorder Rec;
  TFeeder A, B;
};

// Available: samples queued (fewer than needed: zeros follow); Expect: the input indices (0 for a missing one).
struct TStretchCase { std::int32_t Needed, Size, Available; std::vector<double> Expect; };

TEST(QueuedPinTest, StretchesByNearestSampleWithHalvesToEven) {
  const std::vector<TStretchCase> cases = {
      {512, 1024, 512, {0, 0, 1, 1, 2, 2, 3, 3}},  // prefix of 1024
      {3, 4, 3, {0, 0, 1, 2}},  {4, 2, 4, {0, 2}},  // 0.5 -> 0, 1.5 -> 2; shrinking: 1.5 -> 2
      {1, 4, 1, {0, 0, 0, 0}},  {4, 4, 4, {0, 1, 2, 3}},  // equal: straight copy
      {4, 4, 2, {0, 1, 0, 0}},  {4, 8, 2, {0, 0, 1, 1, 0, 0, 0, 0}},  // short stream: zeros
  };
  for (const TStretchCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.Needed << " -> " << c.Size << " of " << c.Available);
    TNXFTQueuedRealSinkPin pin("In");
    auto& q = pin.GetQueue();
    q.StartRate(c.Needed);
    std::vector<double> ramp(c.Available);
    for (std::int32_t i = 0; i < c.Available; ++i) ramp[i] = i;
    // Two buffers, so that a take crosses a buffer boundary.
    const std::int32_t half = c.Available / 2;
    if (half > 0) { ASSERT_TRUE(q.AddBuffer(TIntfPtr<INXData>(TNXRealBuffer::MakeData(ramp.data(), half)))); }
    ASSERT_TRUE(q.AddBuffer(TIntfPtr<INXData>(TNXRealBuffer::MakeData(ramp.data() + half, c.Available - half))));
    EXPECT_EQ(q.CalculateSampleCount(c.Size, c.Size), static_cast<std::uint32_t>(c.Needed));
    EXPECT_EQ(q.IsReady(), c.Available >= c.Needed);
    const auto out = TNXRealBuffer::MakeSize(c.Size);
    q.StretchLoadBuffer(out);
    std::vector<double> got(out->Read(), out->Read() + std::min<std::int32_t>(c.Size, c.Expect.size()));
    EXPECT_EQ(got, c.Expect);
    EXPECT_EQ(q.GetCollectedSamples(), 0);
  }
}

TEST(QueuedPinTest, ConvertsKindsWhenLoading) {
  struct TCase { TIntfPtr<INXDataBuffer> Input; TIntfPtr<INXDataBuffer> Output; std::vector<TComplex> Expect; };
  const std::vector<TCase> cases = {
      {TNXIntegerBuffer::MakeArray({-3, 7, 11}), TNXRealBuffer::MakeSize(3), {{-3, 0}, {7, 0}, {11, 0}}},
      {TNXRealBuffer::MakeArray({2.5, 3.5, -1.6}), TNXIntegerBuffer::MakeSize(3), {{2, 0}, {4, 0}, {-2, 0}}},
      {TNXComplexBuffer::MakeArray({{1, 2}, {3, 4}, {5, 6}}), TNXRealBuffer::MakeSize(3), {{1, 0}, {3, 0}, {5, 0}}},
      {TNXRealBuffer::MakeArray({1, 2, 3}), TNXComplexBuffer::MakeSize(4), {{1, 0}, {1, 0}, {2, 0}, {3, 0}}},
  };
  for (const TCase& c : cases) {
    TNXFTComboRealIntComplexBoolPairedQueuedSinkPin pin("In");
    auto& q = pin.GetQueue();
    q.StartRate(c.Input->GetSize());
    ASSERT_TRUE(q.AddBuffer(TIntfPtr<INXData>(c.Input)));
    q.CalculateSampleCount(c.Output->GetSize(), c.Output->GetSize());
    q.StretchLoadBufferSize(c.Output);
    for (std::size_t i = 0; i < c.Expect.size(); ++i) {
      TComplex v;
      if (auto r = Supports<INXRealBuffer>(c.Output)) v = {r->GetItem(i), 0};
      else if (auto n = Supports<INXIntegerBuffer>(c.Output)) v = {static_cast<double>(n->GetItem(i)), 0};
      else v = Supports<INXComplexBuffer>(c.Output)->GetItem(i);
      EXPECT_EQ(v, c.Expect[i]) << i;
    }
  }
  // A real-only pin refuses another kind.
  TNXFTQueuedRealSinkPin real("In");
  EXPECT_FALSE(real.GetQueue().AddBuffer(TIntfPtr<INXData>(TNXIntegerBuffer::MakeSize(4))));
}

// A waiting count left behind would hold a component's output up for good.
TEST(QueuedPinTest, KeepsTheWaitingCountInStep) {
  TNXFTQueuedRealSinkPin pin("In");
  auto& q = pin.GetQueue();
  std::int32_t count = 0;
  q.AttachWaitCount(&count, false);
  const auto add = [&](std::uint32_t n) { q.AddBuffer(TIntfPtr<INXData>(TNXRealBuffer::MakeValue(1, n))); };
  const auto take = [&](std::int64_t n) { q.TakeSamples(n, [](const void*, std::int32_t) {}); };
  struct TStep { const char* Name; std::function<void()> Do; bool Waiting; };
  const std::vector<TStep> steps = {
      {"started", [&] { q.StartRate(8000); }, true},
      {"a buffer", [&] { add(4); }, false},
      {"needs more than queued", [&] { q.CalculateSampleCount(8, 8000); q.SetWaitForNeeded(true); }, true},
      {"enough", [&] { add(4); }, false},
      {"taken in part", [&] { take(3); }, true},
      {"any sample will do", [&] { q.SetWaitForNeeded(false); }, false},
      {"taken", [&] { take(5); }, true},
      {"ignored", [&] { q.SetIsIgnored(true); }, false},
      {"no longer ignored", [&] { q.SetIsIgnored(false); }, true},
      {"disabled", [&] { q.SetIsEnabled(false); }, false},
      {"stopped", [&] { q.StopFull(); q.SetIsEnabled(true); }, false},
      {"restarted", [&] { q.StartRate(16000); }, true},
      {"queued, then cleared", [&] { add(2); q.ClearBuffers(); }, true},
      {"queued", [&] { add(16); }, false},
      // 16 needed samples at 16000 per second, stretched to 8
      {"stretch-loaded",
       [&] { q.CalculateSampleCount(8, 8000); q.StretchLoadBuffer(TNXRealBuffer::MakeSize(8)); }, true},
  };
  for (const TStep& step : steps) {
    SCOPED_TRACE(step.Name);
    step.Do();
    EXPECT_EQ(q.IsWaiting(), step.Waiting);
    EXPECT_EQ(count, step.Waiting ? 1 : 0);
  }
  q.DetachWaitCount();
  add(1);
  take(1);
  EXPECT_EQ(count, 0);
}

// Buffer: the sizes the sources send; Size: the output's (with AutoSize what it comes to); Rate: the agreed one.
struct TMixCase { double RateA, RateB; std::int32_t BufferA, BufferB; bool AutoSize; std::int32_t Size; double Rate;
                  std::int32_t NeededA, NeededB; };

TEST(MultiInputTest, MixesTwoRatesLikeTheReference) {
  const std::vector<TMixCase> cases = {
      {8000, 16000, 512, 1024, true, 1024, 16000, 512, 1024},
      {16000, 8000, 300, 700, false, 1024, 16000, 1024, 512},  // buffers across output boundaries
      {11025, 16000, 1000, 1000, false, 640, 16000, 441, 640},
  };
  constexpr std::int64_t kOutputs = 1000;
  for (const TMixCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.RateA << "/" << c.RateB << " buffers " << c.BufferA << "/" << c.BufferB
                                      << (c.AutoSize ? " auto" : " fixed"));
    TMixRig rig(2, 0, c.BufferA, c.RateA, c.BufferB, c.RateB);
    auto& [mixer, rec, a, b] = rig;
    mixer.GetOutputBuffer().SetAutoSize(c.AutoSize);
    mixer.GetOutputBuffer().SetSize(c.Size);
    a.Start();
    EXPECT_FALSE(mixer.IsRateCalculated());  // b's source has a stream coming
    b.Start();
    EXPECT_EQ(mixer.GetCalculatedRate(), c.Rate);
    EXPECT_EQ(rec.Rates, std::vector<double>{c.Rate});
    // Interleaved, a few buffers at a time, until both gave enough for kOutputs.
    const std::int64_t wantA = kOutputs * c.NeededA, wantB = kOutputs * c.NeededB;
    while (a.Sent < wantA || b.Sent < wantB) {
      if (a.Sent < wantA) a.SendBuffers(3);
      if (b.Sent < wantB) b.SendBuffers(2);
    }
    EXPECT_EQ(mixer.GetQueuedInput(1)->GetNeededSamples(), static_cast<std::uint32_t>(c.NeededB));
    ASSERT_GE(rec.Buffers.size(), static_cast<std::size_t>(kOutputs));
    for (std::int64_t k = 0; k < kOutputs; ++k) {
      ASSERT_EQ(rec.Buffers[k], ExpectedSum(k, c.NeededA, c.NeededB, c.Size)) << "output " << k;
    }
  }
}

enum class THoldUp { LateStart, StopEarly, Disabled, IgnoreStream, Unconnected };

TEST(MultiInputTest, InputsThatDoNotStreamNeverHoldUpTheOthers) {
  constexpr std::int32_t kSize = 256;
  for (const THoldUp kind : {THoldUp::LateStart, THoldUp::StopEarly, THoldUp::Disabled, THoldUp::IgnoreStream,
                             THoldUp::Unconnected}) {
    SCOPED_TRACE(static_cast<int>(kind));
    // The third input is never linked.
    TMixRig rig(3, kSize, kSize, 8000, kSize, 8000, kind != THoldUp::Unconnected);
    auto& [mixer, rec, a, b] = rig;
    b.AnswerIgnore = kind == THoldUp::LateStart || kind == THoldUp::IgnoreStream;
    if (kind == THoldUp::Disabled) mixer.SetInputEnabled(1, false);
    if (kind == THoldUp::StopEarly) b.Start();
    a.Start();
    ASSERT_TRUE(mixer.IsRunning());
    if (kind == THoldUp::StopEarly) {
      a.SendBuffers(2);
      b.SendBuffers(2);
      b.Pin.Stop();
    }
    a.SendBuffers(5);
    // b took no part in these outputs (after the first two of an early stop).
    const std::size_t together = kind == THoldUp::StopEarly ? 2 : 0;
    ASSERT_EQ(rec.Buffers.size(), together + 5);
    for (std::size_t k = 0; k < rec.Buffers.size(); ++k) {
      const std::vector<double> expect =
          k < together ? ExpectedSum(k, kSize, kSize, kSize) : Expected(SignalA, k * kSize, kSize, kSize);
      EXPECT_EQ(rec.Buffers[k], expect) << "output " << k;
    }
    if (kind == THoldUp::LateStart) {
      // Joining later: from now on both are mixed, b from its first sample.
      b.Start();
      b.SendBuffers(1);
      a.SendBuffers(1);
      ASSERT_EQ(rec.Buffers.size(), 6u);
      std::vector<double> expect = Expected(SignalA, 5 * kSize, kSize, kSize);
      for (std::int32_t i = 0; i < kSize; ++i) expect[i] += SignalB(i);
      EXPECT_EQ(rec.Buffers[5], expect);
    }
    EXPECT_EQ(rec.Stops, 0);
  }
}

// Removing the input it waits for, or switching to AutoSize, lets the others go on at once.
TEST(MultiInputTest, GoesOnWhenItsInputsOrSizingChangeAndStopsWhenNoInputStreams) {
  constexpr std::int32_t kSize = 256;
  for (bool remove : {true, false}) {
    SCOPED_TRACE(remove ? "input removed" : "AutoSize switched on");
    TMixRig rig(2, kSize, kSize / 2, 8000, kSize, 8000);
    auto& [mixer, rec, a, b] = rig;
    a.Start();
    b.Start();
    a.SendBuffers(1);
    b.SendBuffers(1);
    ASSERT_TRUE(rec.Buffers.empty());  // a is short of its 256 samples
    if (remove) {
      ASSERT_TRUE(mixer.RemoveInputPin(mixer.GetInputPin(0)));
      ASSERT_EQ(rec.Buffers.size(), 1u);
      EXPECT_EQ(rec.Buffers[0], Expected(SignalB, 0, kSize, kSize));
    } else {
      mixer.GetOutputBuffer().SetAutoSize(true);
      b.SendBuffers(1);
      ASSERT_EQ(rec.Buffers.size(), 1u);
      EXPECT_EQ(rec.Buffers[0], ExpectedSum(0, kSize / 2, kSize / 2, kSize / 2));
    }
  }
  // With no input streaming it stops (if told to), and starts again afterwards.
  for (bool stopOnNoStreams : {true, false}) {
    SCOPED_TRACE(stopOnNoStreams);
    TMixRig rig(2, 0, 128, 8000, 128, 8000, true, stopOnNoStreams);
    auto& [mixer, rec, a, b] = rig;
    for (int round = 0; round < 2; ++round) {
      a.Start();
      b.Start();
      ASSERT_TRUE(mixer.IsRunning());
      a.SendBuffers(1);
      b.SendBuffers(1);
      a.Pin.Stop();
      EXPECT_TRUE(mixer.IsRunning());  // b still streams
      b.Pin.Stop();
      EXPECT_EQ(mixer.IsRunning(), !stopOnNoStreams);
      EXPECT_EQ(rec.Stops, stopOnNoStreams ? round + 1 : 0);
      if (!stopOnNoStreams) break;
    }
    EXPECT_EQ(rec.Rates.size(), stopOnNoStreams ? 2u : 1u);
  }
}

// An empty buffer gives the output nothing, and must not hold it up (with AutoSize it would size it at 0).
TEST(MultiInputTest, EmptyBuffersHoldNothingUp) {
  constexpr std::int32_t kBuffer = 256;
  struct TCase { const char* Name; std::int32_t FixedSize, Before, After; };
  const TCase cases[] = {
      {"automatic size, in mid-stream", 0, 5, 15},
      {"automatic size, as the first buffer", 0, 0, 20},
      {"fixed size", kBuffer, 5, 15},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TMixRig rig(1, c.FixedSize, kBuffer, 8000, kBuffer, 8000, false);
    auto& [mixer, rec, a, b] = rig;
    a.Start();
    a.SendBuffers(c.Before);
    a.Pin.SubmitBuffer(TNXRealBuffer::MakeSize(0));
    a.SendBuffers(c.After);
    EXPECT_EQ(rec.Buffers.size(), static_cast<std::size_t>(c.Before + c.After));
    EXPECT_EQ(Concatenated(rec.Buffers), Expected(SignalA, 0, a.Sent, a.Sent));
  }
}

// When the last input stops, what is still queued goes out before the stop: in output buffers of the fixed size (the
// last one padded with zeros), or, with AutoSize, as queued. An input that stops before the others keeps its queued
// samples going out with theirs.
TEST(MultiInputTest, QueuedSamplesGoOutBeforeTheStop) {
  // A sends CountA buffers, B CountB; A stops; B sends CountBAfter more and stops (B only with two inputs).
  struct TCase { const char* Name; std::int32_t Inputs, FixedSize, BufferA, CountA, BufferB, CountB, CountBAfter; };
  const TCase cases[] = {
      {"fixed size: the last buffer is padded", 1, 1024, 1000, 10, 0, 0, 0},
      {"automatic size: the tail of the input that stopped first", 2, 0, 500, 6, 500, 5, 0},
      {"fixed size: both tails, padded", 2, 400, 500, 6, 500, 5, 0},
      {"the tail of a stopped input goes out with the running one", 2, 0, 500, 6, 300, 8, 4},
      {"the running input's tail after the stopped one's", 2, 700, 500, 3, 300, 4, 6},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TMixRig rig(c.Inputs, c.FixedSize, c.BufferA, 8000, c.BufferB, 8000, c.Inputs > 1);
    auto& [mixer, rec, a, b] = rig;
    a.Start();
    if (c.Inputs > 1) b.Start();
    a.SendBuffers(c.CountA);
    b.SendBuffers(c.CountB);
    a.Pin.Stop();
    b.SendBuffers(c.CountBAfter);
    if (c.Inputs > 1) b.Pin.Stop();
    EXPECT_FALSE(mixer.IsRunning());
    EXPECT_EQ(rec.Stops, 1);
    EXPECT_EQ(rec.BuffersAtStop, rec.Buffers.size());
    // Both streams start together at one rate: the output is their sum, zeros after the shorter one.
    std::int64_t length = std::max(a.Sent, b.Sent);
    if (c.FixedSize > 0) {
      length = (length + c.FixedSize - 1) / c.FixedSize * c.FixedSize;
      for (const auto& buffer : rec.Buffers) EXPECT_EQ(buffer.size(), static_cast<std::size_t>(c.FixedSize));
    }
    std::vector<double> expect(static_cast<std::size_t>(length), 0.0);
    for (std::int64_t i = 0; i < a.Sent; ++i) expect[i] += SignalA(i);
    for (std::int64_t i = 0; i < b.Sent; ++i) expect[i] += SignalB(i);
    EXPECT_EQ(Concatenated(rec.Buffers), expect);
  }
}

TEST(MultiInputTest, PassesPumpRequestsAnswersQueriesAndReadsOldProperties) {
  TSumMixer mixer(1);
  bool downstreamSawPump = false;
  TNXFTRealSinkPin down("Down", {}, nullptr, [&](auto*, auto*, auto&, const auto& op, auto) {
    return downstreamSawPump = op->template IsType<TFTPumpRequestOperation>();
  });
  ASSERT_TRUE(mixer.OutputPin().Connect(&down));
  TFeeder a(SignalA, 64, 8000);
  ASSERT_TRUE(a.Pin.Connect(static_cast<TFTSinkPin*>(mixer.GetInputPin(0))));
  EXPECT_TRUE(a.Pin.Notify(TFTPumpRequestOperation::Make(&a, 0, 2, 8000)));
  EXPECT_TRUE(downstreamSawPump);
  // Asked from downstream: a stream comes while an input is linked; none otherwise.
  for (bool linked : {true, false}) {
    SCOPED_TRACE(linked);
    if (!linked) a.Pin.DisconnectAll();
    TNXFTQueuedRealSinkPin probe("Probe", {}, nullptr, [&](auto*, IFTStream* s, auto&, const auto& op, auto) {
      if (op->template IsType<TFTIgnoreStreamOperation>()) NXFTGetQueuedPin(s->GetPin())->SetIsIgnored(true);
      return true;
    });
    ASSERT_TRUE(mixer.OutputPin().Connect(&probe));
    EXPECT_EQ(probe.GetQueue().IsStartReady(), !linked);
  }
  // The older BufferSize property is still read.
  TMemoryStream stream;
  TBinaryWriter w(stream, "TSumMixer");
  w.WriteInt32("BufferSize", 512);
  w.Finish();
  stream.Seek(0, soBeginning);
  TBinaryReader r(stream);
  ReadComponentInto(r, mixer);
  EXPECT_EQ(mixer.GetOutputBuffer().GetSize(), 512);
}

TEST(MultiInputThreadsTest, TwoFeedingThreadsGiveTheReferenceOutput) {
  constexpr std::int32_t kSize = 1024;
  constexpr std::int32_t kBuffers = 400;
  TMixRig rig(2, kSize, 512, 8000, 1024, 16000);
  auto& [mixer, rec, a, b] = rig;
  b.Start();
  a.Start();
  std::thread ta([&] { a.SendBuffers(kBuffers); });
  std::thread tb([&] { b.SendBuffers(kBuffers); });
  ta.join();
  tb.join();
  ASSERT_EQ(rec.Buffers.size(), static_cast<std::size_t>(kBuffers));
  for (std::int64_t k = 0; k < kBuffers; ++k) ASSERT_EQ(rec.Buffers[k], ExpectedSum(k, 512, 1024, kSize)) << k;
}

}  // namespace
}  // namespace nx
