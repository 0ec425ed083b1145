// The common filter: typed processing, in-place writes, dispatch, the worker in both full modes, settings.
#include <gtest/gtest.h>

#include <cmath>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <numbers>
#include <numeric>
#include <vector>

#include "ComponentTestSupport.h"
#include "components/NXFilterThread.h"
#include "components/NXFilterTypes.h"

namespace nx {
namespace {

using test::TGainFilter;

// Maps every element of the output with F.
template <class TBase, auto F>
class TMapFilter : public TBase {
 public:
  TMapFilter() : TBase(nullptr) {}
  ~TMapFilter() override { this->ShutdownThread(); }
  void FilterInternalOperation(const typename TBase::TBuffer&, typename TBase::TBuffer& AOutput, bool&) override {
    auto* p = AOutput->Modify();
    for (std::int32_t i = 0; i < AOutput->GetSize(); ++i) p[i] = F(p[i]);
  }
};
using TNegateFilter = TMapFilter<TNXCommonIntegerFilter, [](std::int32_t v) { return -v; }>;
using TConjugateFilter = TMapFilter<TNXCommonComplexFilter, [](TComplex v) { return TComplex{v.Re, -v.Im}; }>;
using TInvertFilter = TMapFilter<TNXCommonBinaryFilter, [](std::uint8_t v) { return std::uint8_t(~v); }>;

// Source pin -> the filter (and the ones after it) -> recording sink; OtherSeen can share the source.
template <class TFilter, class TSource = TNXFTRealSourcePin, class TSink = TNXFTRealSinkPin>
struct TChain {
  TSource Source{"Out"};
  TFilter& Filter;
  test::TRecordingSink<TSink> Seen{"In"}, OtherSeen{"Other"};
  explicit TChain(TFilter& AFilter, const std::vector<TFilter*>& AFollowing = {}) : Filter(AFilter) {
    EXPECT_TRUE(Source.Connect(Filter.InputPin()));
    TFilter* last = &Filter;
    for (TFilter* next : AFollowing) {
      EXPECT_TRUE(last->OutputPin()->Connect(next->InputPin()));
      last = next;
    }
    EXPECT_TRUE(last->OutputPin()->Connect(&Seen.Pin));
  }
  ~TChain() { Source.Stop(); Source.DisconnectAll(); }
  bool Start(double ARate = 1000) { return Source.Notify(TFTStartSampleRateOperation::Make(ARate)); }
  // Waits until the worker (if any) has drained its queue.
  void Drain() { if (auto t = Filter.GetFilterThread()) t->GetQueueEvent().WaitFor(); }
};
using TRealChain = TChain<TGainFilter>;

// A send answers what the sink answered, or false at once when a worker takes it.
template <class TFilter, class TSource, class TSink, class TBufferClass, class T>
void ExpectFiltered(const std::vector<T>& AIn, const std::vector<T>& AOut, bool AEnabled, bool AThreaded) {
  TFilter filter;
  filter.SetEnabled(AEnabled);
  filter.Threading()->SetEnabled(AThreaded);
  TChain<TFilter, TSource, TSink> chain(filter);
  chain.Start();
  EXPECT_EQ(chain.Source.SubmitBuffer(TBufferClass::MakeArray(std::span<const T>(AIn))), !AThreaded);
  chain.Drain();
  const auto buffers = chain.Seen.Buffers();
  ASSERT_EQ(buffers.size(), 1u);
  const auto out = TBufferClass::MakeUniversal(buffers[0]);
  EXPECT_EQ(std::vector<T>(out->Read(), out->Read() + out->GetSize()), AEnabled ? AOut : AIn);
}

TEST(CommonFilterTest, TypedFiltersProcessOrPassThroughInEveryModeAndSingleValues) {
  for (const bool enabled : {true, false})
    for (const bool threaded : {false, true}) {
      SCOPED_TRACE(testing::Message() << "enabled " << enabled << " threaded " << threaded);
      ExpectFiltered<TGainFilter, TNXFTRealSourcePin, TNXFTRealSinkPin, TNXRealBuffer, double>(
          {1.5, -2, 0.25}, {3, -4, 0.5}, enabled, threaded);
      ExpectFiltered<TNegateFilter, TNXFTIntegerSourcePin, TNXFTIntegerSinkPin, TNXIntegerBuffer, std::int32_t>(
          {1, -7, 0}, {-1, 7, 0}, enabled, threaded);
      ExpectFiltered<TConjugateFilter, TNXFTComplexSourcePin, TNXFTComplexSinkPin, TNXComplexBuffer, TComplex>(
          {{1, 2}, {-3, -4}}, {{1, -2}, {-3, 4}}, enabled, threaded);
      ExpectFiltered<TInvertFilter, TNXFTBinarySourcePin, TNXFTBinarySinkPin, TNXBlockBuffer, std::uint8_t>(
          {0x0F, 0xA5}, {0xF0, 0x5A}, enabled, threaded);
    }
  // Single values go through the float hook; with the output unlinked the buffer hook is skipped.
  for (const bool enabled : {true, false}) {
    TGainFilter filter(3.0);
    filter.SetEnabled(enabled);
    TChain<TGainFilter, TNXFTComboRealSourcePin> chain(filter);
    EXPECT_TRUE(chain.Source.SubmitReal(1.5));
    EXPECT_TRUE(chain.Source.SubmitFloat(2.0f));
    EXPECT_EQ(chain.Seen.Values(), enabled ? (std::vector<double>{4.5, 6}) : (std::vector<double>{1.5, 2}));
  }
  TGainFilter filter;
  TNXFTRealSourcePin source("Out");
  ASSERT_TRUE(source.Connect(filter.InputPin()));
  source.Notify(TFTStartSampleRateOperation::Make(100));
  EXPECT_FALSE(source.SubmitBuffer(TNXRealBuffer::MakeArray({1.0, 2.0})));
  EXPECT_EQ(filter.Calls.load(), 0);
  source.Stop();
}

// A disabled filter passes the buffer on shared, so in-place filters after it copy first.
TEST(CommonFilterTest, BuffersAreCopiedOnlyWhenWritingSharedSamples) {
  // Enabled, CanInline: the first filter (the following ones are enabled and can); Shared: another receiver at the
  // source; ExpectSame: the sink sees the very block sent.
  struct TCase { const char* Name; bool Enabled, CanInline, Shared; int Following; bool ExpectSame; };
  const TCase cases[] = {
      {"disabled and shared passes the buffer on", false, false, true, 0, true},
      {"in place after a disabled filter copies a shared buffer", false, true, true, 1, false},
      {"a chain of in-place filters makes no block", true, true, false, 7, true},
      {"copy when the filter cannot work in place", true, false, false, 0, false},
      {"copy when shared with another receiver", true, true, true, 0, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TGainFilter filter(2.0, c.CanInline);
    filter.SetEnabled(c.Enabled);
    std::vector<std::unique_ptr<TGainFilter>> owned;
    std::vector<TGainFilter*> following;
    for (int i = 0; i < c.Following; ++i)
      following.push_back(owned.emplace_back(std::make_unique<TGainFilter>(2.0, true)).get());
    TRealChain chain(filter, following);
    if (c.Shared) { EXPECT_TRUE(chain.Source.Connect(&chain.OtherSeen.Pin)); }
    chain.Start();
    auto buffer = TNXRealBuffer::MakeArray({1.0, 2.0, 3.0});
    const double* samples = buffer->Read();
    const std::int32_t storesBefore = _NXCountStores.load();
    chain.Source.SubmitBuffer(buffer);
    EXPECT_EQ(_NXCountStores.load() - storesBefore, c.ExpectSame ? 0 : 1);
    const auto seen = chain.Seen.Buffers();
    ASSERT_EQ(seen.size(), 1u);
    const auto out = TNXRealBuffer::MakeUniversal(seen[0]);
    EXPECT_EQ(out->Read() == samples, c.ExpectSame);
    EXPECT_EQ(out->Read()[2], 3.0 * (1 << ((c.Enabled ? 1 : 0) + c.Following)));
    if (c.Shared) { EXPECT_EQ(chain.OtherSeen.Samples(), (std::vector<std::vector<double>>{{1, 2, 3}})); }
  }
}

// An in-place hop sends its operation on only when the buffer is unchanged.
TEST(CommonFilterTest, InPlaceHopsForwardTheOperationOnlyWhenTheBufferIsUnchanged) {
  // Plain: the source sends a plain buffer operation (else a kind of it).
  struct TCase { const char* Name; std::function<void(TGainFilter::TBuffer&, bool&)> Edit;
                 bool Plain, ExpectSameOperation; std::uint32_t ExpectClockCount; };
  const TCase cases[] = {
      {"scaled in place", nullptr, true, true, 3},
      {"shortened in place", [](auto& AOutput, bool&) { AOutput->Resize(2, true); }, true, false, 2},
      {"replaced", [](auto& AOutput, bool&) { AOutput = TNXRealBuffer::MakeArray({7.0}); }, true, false, 1},
      {"a kind of buffer operation", nullptr, false, false, 3},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TGainFilter filter(2.0, true);
    filter.After = c.Edit;
    TRealChain chain(filter);
    chain.Start();
    const TIntfPtr<INXData> buffer(TNXRealBuffer::MakeArray({1.0, 2.0, 3.0}));
    const TIntfPtr<IFTNotifyOperation> sent =
        c.Plain ? TFTSuppliedBufferOperation::Make(buffer) : TFTInternalBufferOperation::Make(true, buffer);
    chain.Source.Notify(sent);
    ASSERT_EQ(chain.Seen.Count(), 1u);
    EXPECT_EQ(chain.Seen.Operations()[0] == sent.Get(), c.ExpectSameOperation);
    EXPECT_EQ(chain.Seen.ClockCounts()[0], c.ExpectClockCount);
  }
}

TEST(CommonFilterTest, StartAndStopSetTheRateAndTheWorker) {
  for (const bool threaded : {false, true}) {
    SCOPED_TRACE(threaded ? "threaded" : "synchronous");
    TGainFilter filter;
    filter.Threading()->SetEnabled(threaded);
    TRealChain chain(filter);
    chain.Start(44100);
    EXPECT_EQ(bool(filter.GetFilterThread()), threaded);
    filter.Threading()->SetPriority(tpIdle);  // the worker follows the setting while it runs
    if (threaded) { EXPECT_EQ(filter.GetFilterThread()->GetPriority(), tpIdle); }
    chain.Source.Stop();
    EXPECT_EQ(filter.SampleRate(), 0);
    EXPECT_FALSE(filter.GetFilterThread());
    EXPECT_EQ(chain.Seen.Rates(), std::vector<double>{44100});
    EXPECT_EQ(chain.Seen.CountOf("TFTStopOperation"), 1);
    // Anything else is forwarded unchanged; a plain start starts the stream.
    EXPECT_TRUE(chain.Source.Notify(TFTStartOperation::Make()));
    EXPECT_TRUE(filter.Running());
    // A query from downstream goes up a linked input; an unlinked one answers ignore-stream.
    chain.Seen.Pin.Notify(TFTQueryStreamOperation::Make());
    EXPECT_EQ(chain.Seen.CountOf("TFTIgnoreStreamOperation"), 0);
    chain.Source.Disconnect(filter.InputPin());
    chain.Seen.Pin.Notify(TFTQueryStreamOperation::Make());
    EXPECT_EQ(chain.Seen.CountOf("TFTIgnoreStreamOperation"), 1);
  }
  EXPECT_EQ(TNXFilterThread::LiveCount(), 0);
}

// Sends numbered buffers AFirst .. AFirst + ACount - 1 (the first sample is the number).
void SendNumbered(TNXFTRealSourcePin& ASource, int AFirst, int ACount) {
  for (int i = AFirst; i < AFirst + ACount; ++i) ASource.SubmitBuffer(TNXRealBuffer::MakeArray({double(i), 0.0}));
}

// Holds the filter's worker on buffer 0 and queues buffers 1 .. AQueued behind it.
void HoldWorker(TGainFilter& AFilter, TNXFTRealSourcePin& ASource, int AQueued) {
  AFilter.Close();
  SendNumbered(ASource, 0, 1);
  AFilter.WaitEntered();
  SendNumbered(ASource, 1, AQueued);
}

std::vector<double> Numbers(int ACount) { std::vector<double> v(ACount); std::iota(v.begin(), v.end(), 0.0); return v; }

// A worker filter with a gain of 1 and a queue of ASize, in a chain.
struct TWorkerChain {
  TGainFilter Filter{1.0};
  TRealChain Chain{Filter};
  explicit TWorkerChain(std::uint32_t ASize, TNXQueueFullMode AMode = fmBlock, bool AStart = true) {
    Filter.Threading()->SetEnabled(true);
    Filter.Threading()->Queue()->SetSize(ASize);
    Filter.Threading()->Queue()->SetFullMode(AMode);
    if (AStart) Chain.Start();
  }
};

TEST(CommonFilterTest, WorkerQueuesDropFlushAndWakeTheNextWorker) {
  ASSERT_TRUE(MainThread::IsMainThread());
  for (const auto& [size, extra] : std::vector<std::pair<int, int>>{{1, 4}, {3, 2}}) {
    SCOPED_TRACE(testing::Message() << "size " << size << " extra " << extra);
    TWorkerChain w(size, fmDropData);
    std::vector<TPersistent*> senders;
    w.Filter.Threading()->SetOnQueueFull([&](TPersistent* ASender) { senders.push_back(ASender); });
    HoldWorker(w.Filter, w.Chain.Source, size + extra);
    w.Filter.Open();
    w.Chain.Drain();
    MainThread::ProcessQueue();
    EXPECT_EQ(w.Chain.Seen.FirstSamples(), Numbers(1 + size));
    EXPECT_EQ(senders, std::vector<TPersistent*>(extra, &w.Filter));
  }
  // A worker that ran dry must wake the worker it sent to, also when its last send was skipped.
  TGainFilter first(1.0), second(1.0);
  first.After = [](TGainFilter::TBuffer& AOutput, bool& ASend) { ASend = AOutput->Read()[0] >= 0; };
  for (TGainFilter* f : {&first, &second}) {
    f->Threading()->SetEnabled(true);
    f->Threading()->Queue()->SetSize(15);
  }
  TRealChain chain(first, {&second});
  chain.Start();
  HoldWorker(first, chain.Source, 4);  // the first worker sends 1 .. 4 with work still queued
  chain.Source.SubmitBuffer(TNXRealBuffer::MakeArray({-1.0, 0.0}));  // its last: sends nothing
  first.Open();
  chain.Drain();
  // Bounded wait: a wake-up left undone would leave the second worker asleep.
  EXPECT_EQ(second.GetFilterThread()->GetQueueEvent().WaitFor(10000), wrSignaled);
  EXPECT_EQ(chain.Seen.FirstSamples(), Numbers(5));
  // Flushing drops what waits.
  TWorkerChain w(15);
  HoldWorker(w.Filter, w.Chain.Source, 5);
  // The worker holds the component's lock while it filters: its thread is flushed directly.
  w.Filter.GetFilterThread()->FlushQueue();  // the five waiting ones go; the one in progress finishes
  EXPECT_EQ(w.Filter.GetFilterThread()->QueuedCount(), 0);
  w.Filter.Open();
  w.Chain.Drain();
  w.Filter.FlushQueue();  // nothing waits: nothing changes
  SendNumbered(w.Chain.Source, 6, 1);
  w.Chain.Drain();
  EXPECT_EQ(w.Chain.Seen.FirstSamples(), (std::vector<double>{0, 6}));
}

// Takes the stop through its worker's queue, like a buffer, and stops on its own worker.
class TQueuedStopFilter : public TGainFilter {
 public:
  TQueuedStopFilter() : TGainFilter(1.0) {}
  bool SinkDispatch(TFTBasicPin* AOther, const TGUID& AID, const TIntfPtr<IFTNotifyOperation>& AOperation,
                    TFTNotifyState AState) override {
    if (AOperation->IsType<TFTStopOperation>())
      if (const auto worker = GetFilterThread()) {
        worker->PushOperation(AOperation);
        return true;
      }
    return TGainFilter::SinkDispatch(AOther, AID, AOperation, AState);
  }
  void FilterPump(const TIntfPtr<IFTNotifyOperation>& AOperation) override {
    if (!AOperation->IsType<TFTStopOperation>()) return TGainFilter::FilterPump(AOperation);
    StreamStop();
    OutputPinsNotify(AOperation);
  }
};

// The stop follows the buffers queued before it, wherever it is handled: on the sender's thread, on the filter's own
// worker, or on the worker of the filter upstream (which has put off waking the next worker while it had work queued).
TEST(CommonFilterTest, StopFollowsTheQueuedBuffers) {
  // Queued: the first filter takes the stop through its queue, its worker held until the stop is queued behind the
  // buffers; Chained: a worker filter follows it.
  struct TCase { const char* Name; bool Threaded, Queued, Chained; TNXQueueFullMode Mode; };
  const TCase cases[] = {
      {"no worker", false, false, false, fmBlock},
      {"a worker", true, false, false, fmBlock},
      {"a worker that drops when full", true, false, false, fmDropData},
      {"two workers", true, false, true, fmBlock},
      {"stopped on its own worker", true, true, false, fmBlock},
      {"stopped on the worker upstream", true, true, true, fmBlock},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TQueuedStopFilter queued;
    TGainFilter plain(1.0), next(1.0);
    TGainFilter& first = c.Queued ? queued : plain;
    for (TGainFilter* f : {&first, &next}) {
      f->Threading()->SetEnabled(c.Threaded);
      f->Threading()->Queue()->SetFullMode(c.Mode);
      // Room for every buffer when dropping.
      if (c.Mode == fmDropData) f->Threading()->Queue()->SetSize(100);
    }
    std::vector<TGainFilter*> following;
    if (c.Chained) following.push_back(&next);
    TRealChain chain(first, following);
    chain.Start();
    // Held: fewer than the next worker collects before the worker upstream wakes it.
    const int kBuffers = c.Queued ? 5 : 100;
    if (c.Queued) {
      HoldWorker(first, chain.Source, kBuffers - 1);
      chain.Source.Stop();
      first.Open();
    } else {
      SendNumbered(chain.Source, 0, kBuffers);
      chain.Source.Stop();
    }
    ASSERT_TRUE(chain.Seen.WaitOp("TFTStopOperation"));
    EXPECT_EQ(chain.Seen.FirstSamples(), Numbers(kBuffers));
    EXPECT_EQ(chain.Seen.BuffersBefore("TFTStopOperation"), kBuffers);
    EXPECT_EQ(chain.Seen.CountOf("TFTStopOperation"), 1);
    EXPECT_FALSE(first.GetFilterThread());
    EXPECT_FALSE(next.GetFilterThread());
  }
}

// A worker stuck in its hook holds the stop only for a bounded time: the stop then ends the worker, and what was still
// queued is dropped; the stop goes on after the operation in progress, which holds the output lock.
TEST(CommonFilterTest, StopGivesUpWaitingForAStuckWorker) {
  TWorkerChain w(15);
  const TIntfPtr<INXFilterThread> worker = w.Filter.GetFilterThread();
  auto* thread = dynamic_cast<TNXFilterThread*>(worker.Get());
  ASSERT_NE(thread, nullptr);
  HoldWorker(w.Filter, w.Chain.Source, 3);  // 0 in the hook, 1 .. 3 queued
  std::thread stopper([&] { w.Chain.Source.Stop(); });
  // Not a time check: the loop only guards against waiting for ever.
  for (int i = 0; i < 6000 && !thread->Terminated(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_TRUE(thread->Terminated());
  w.Filter.Open();
  stopper.join();
  EXPECT_EQ(w.Chain.Seen.FirstSamples(), Numbers(1));
  EXPECT_EQ(w.Chain.Seen.BuffersBefore("TFTStopOperation"), 1);
  EXPECT_FALSE(w.Filter.GetFilterThread());
}

TEST(CommonFilterTest, StartStopStormLeavesNoThreadBehind) {
  TWorkerChain w(2, fmBlock, false);
  TGainFilter& filter = w.Filter;
  std::atomic<int> sent{0};
  {
    test::TLoopThread sender([&](int n) {
      w.Chain.Source.SubmitBuffer(TNXRealBuffer::MakeArray({double(n), 0.0}));
      ++sent;
    });
    test::TLoopThread changer([&](int n) {
      filter.SetEnabled(n % 3 != 0);
      filter.Threading()->SetEnabled(n % 2 == 0);
      filter.Threading()->Queue()->SetSize(1 + n % 4);
      filter.Threading()->Queue()->SetFullMode(n % 5 == 0 ? fmDropData : fmBlock);
      filter.Threading()->SetPriority(n % 2 ? tpLower : tpNormal);
      std::this_thread::yield();
    });
    for (int cycle = 0; cycle < 200; ++cycle) {
      w.Chain.Start(1000 + cycle);
      std::this_thread::yield();
      if (cycle % 10 == 0) filter.FlushQueue();
      w.Chain.Source.Stop();
    }
  }
  w.Chain.Source.Stop();
  EXPECT_FALSE(filter.GetFilterThread());
  EXPECT_EQ(TNXFilterThread::LiveCount(), 0);
  EXPECT_LE(w.Chain.Seen.Count(), static_cast<std::size_t>(sent.load()));
  EXPECT_EQ(w.Chain.Seen.CountOf("TFTStopOperation"), 201);
}

// A filter with no destructor whose slow hook writes a member of its own.
// The last member notes when the derived part goes while a worker exists.
class TSlowHistoryFilter : public TNXCommonRealFilter {
 public:
  using TNXCommonRealFilter::TNXCommonRealFilter;
  void FilterInternalOperation(const TBuffer&, TBuffer& AOutput, bool&) override {
    std::this_thread::sleep_for(std::chrono::microseconds(20));
    FHistory.assign(AOutput->Read(), AOutput->Read() + AOutput->GetSize());
  }
  static inline std::atomic<int> WorkerOutlivedPart{0};

 private:
  std::vector<double> FHistory;
  struct TWitness {
    TSlowHistoryFilter* Filter;
    ~TWitness() { if (Filter->GetFilterThread()) ++WorkerOutlivedPart; }
  } FWitness{this};
};

TEST(CommonFilterTest, DeletingAFilterStopsItsWorkerBeforeTheDerivedPartGoes) {
  TNXFTRealSourcePin source{"Out"};
  test::TRecordingSink<TNXFTRealSinkPin> seen{"In"};
  for (int i = 0; i < 1000; ++i) {
    // Owned by a parent (freed with it) or alone (a unique_ptr deletes it).
    auto parent = std::make_unique<TComponent>(nullptr);
    auto* filter = new TSlowHistoryFilter(i % 2 ? parent.get() : nullptr);
    std::unique_ptr<TSlowHistoryFilter> alone(i % 2 ? nullptr : filter);
    filter->Threading()->SetEnabled(true);
    ASSERT_TRUE(source.Connect(filter->InputPin()));
    ASSERT_TRUE(filter->OutputPin()->Connect(&seen.Pin));
    source.Notify(TFTStartSampleRateOperation::Make(1000));
    SendNumbered(source, 0, 3);  // the worker is busy with these when the filter goes
  }
  EXPECT_EQ(TSlowHistoryFilter::WorkerOutlivedPart.load(), 0);
  EXPECT_EQ(TNXFilterThread::LiveCount(), 0);
}

// Designs a moving sum whose length follows the sample rate.
class TRateTapsFilter : public TNXCommonTapsFilter {
 public:
  TRateTapsFilter() : TNXCommonTapsFilter(nullptr) {}
  int Designs = 0;
 protected:
  void IntInit(std::vector<double>& ATaps) override {
    ++Designs;
    ATaps.assign(static_cast<std::size_t>(SampleRate() / 1000), 1.0);
    TNXCommonTapsFilter::IntInit(ATaps);
  }
};

// Taps {0.5, 0.5} against the textbook response; an empty set of taps reads 0.
TEST(CommonFilterTest, FrequencyResponseRateDesignsAndSettings) {
  TNXFilterFrequencyResponse response;
  response.SetTaps({0.5, 0.5});
  std::vector<double> mags(16), phases(16);
  response.GetMagnitudes(mags);
  response.GetPhases(phases);
  for (std::size_t i = 0; i < mags.size(); ++i) {
    const double w = i == 0 ? std::numbers::pi * 1e-4 : i * std::numbers::pi / 16;
    EXPECT_NEAR(mags[i], std::pow(std::cos(w / 2), 2), 1e-12) << i;
    EXPECT_NEAR(phases[i], (std::numbers::pi - w) / 2, 1e-9) << i;
  }
  response.Clear();
  response.GetMagnitudes(mags);
  EXPECT_EQ(mags, std::vector<double>(16, 0.0));
  // A taps filter designs for each new rate.
  TRateTapsFilter filter;
  TNXFTRealSourcePin source("Out");
  ASSERT_TRUE(source.Connect(filter.InputPin()));
  source.Notify(TFTStartSampleRateOperation::Make(3000));
  EXPECT_EQ(filter.FrequencyResponse()->Taps(), std::vector<double>(3, 1.0));
  source.Stop();  // the rate goes to 0 without a new design
  EXPECT_EQ(filter.Designs, 1);
  source.Notify(TFTStartSampleRateOperation::Make(2000));
  EXPECT_EQ(filter.FrequencyResponse()->Taps().size(), 2u);
  source.Stop();
  // New settings objects stream nothing; the queue size is clamped in the data path's copy too.
  for (const char* name : {"TNXCoordinateOffset", "TNXDelayValue", "TNXThreading"}) {
    std::unique_ptr<TPersistent> object(CreateObject(name, nullptr));
    EXPECT_FALSE(HasStoredMembers(*object)) << name;
  }
  TNXThreadingQueue queue;
  SetPropText(queue, "Size", "0");
  EXPECT_EQ(GetPropText(queue, "Size"), "1");
  EXPECT_EQ(queue.Size(), 1u);
  EXPECT_TRUE(HasStoredMembers(queue));
  EXPECT_EQ(TNXDelayValue().Value(), 100);
}

// Streams of buffers through chains of workers: every buffer arrives, once and in order, whether the queues fill
// (a slow filter downstream, a queue of one) or run dry (a slow filter upstream), and whether the buffers are handed
// over (worked on in place on the workers, no block made) or shared with another receiver at the source. A lost
// wake-up leaves a worker asleep with work queued: the bounded wait then fails instead of hanging.
TEST(CommonFilterTest, WorkerChainsDeliverEveryBufferInOrderWithoutCopies) {
  // Slow: the filter (by its place) that dawdles over each buffer; -1 none.
  struct TCase { const char* Name; std::uint32_t Size; int Filters, Slow; bool Shared; };
  const TCase cases[] = {
      {"one slot, slow last filter", 1, 3, 2, false},
      {"one slot, slow first filter", 1, 3, 0, false},
      {"one slot, all fast", 1, 4, -1, false},
      {"full queues, slow last filter", 15, 4, 3, false},
      {"full queues, all fast", 15, 8, -1, false},
      {"shared at the source, one slot", 1, 3, 1, true},
  };
  constexpr int kBuffers = 400;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<std::unique_ptr<TGainFilter>> filters;
    std::vector<TGainFilter*> following;
    for (int i = 0; i < c.Filters; ++i) {
      // Gains 2 and 1/2 in turn: the numbers come out whole after an even count of filters.
      auto& f = filters.emplace_back(std::make_unique<TGainFilter>(i % 2 ? 0.5 : 2.0, true));
      f->Threading()->SetEnabled(true);
      f->Threading()->Queue()->SetSize(c.Size);
      if (i == c.Slow)
        f->After = [](TGainFilter::TBuffer&, bool&) { std::this_thread::sleep_for(std::chrono::microseconds(50)); };
      if (i > 0) following.push_back(f.get());
    }
    TRealChain chain(*filters[0], following);
    if (c.Shared) { EXPECT_TRUE(chain.Source.Connect(&chain.OtherSeen.Pin)); }
    chain.Start();
    std::vector<const double*> sent;
    for (int i = 0; i < kBuffers; ++i) {
      auto buffer = TNXRealBuffer::MakeArray({double(i), 0.0});
      sent.push_back(buffer->Read());
      chain.Source.SubmitBuffer(std::move(buffer));
    }
    ASSERT_TRUE(chain.Seen.WaitBuffers(kBuffers));
    // Handed over, every filter works in the block that was sent; shared, the first one copies it.
    std::vector<const double*> arrived;
    for (const auto& b : chain.Seen.Buffers()) arrived.push_back(TNXRealBuffer::MakeUniversal(b)->Read());
    EXPECT_EQ(arrived == sent, !c.Shared);
    const double scale = c.Filters % 2 ? 2.0 : 1.0;
    std::vector<double> expected = Numbers(kBuffers);
    for (double& v : expected) v *= scale;
    EXPECT_EQ(chain.Seen.FirstSamples(), expected);
    for (auto& f : filters) EXPECT_EQ(f->GetFilterThread()->GetQueueEvent().WaitFor(10000), wrSignaled);
  }
  EXPECT_EQ(TNXFilterThread::LiveCount(), 0);
}

}  // namespace
}  // namespace nx
