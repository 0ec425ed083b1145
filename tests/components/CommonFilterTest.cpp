// Tests of the common filter: typed processing, pass-through, in-place
// writes, the input dispatch and sample rate, the worker thread in both full
// modes, queue flushing, priorities, a start/stop storm across threads, the
// frequency response and the filter settings.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <thread>
#include <vector>

#include "ComponentTestSupport.h"
#include "components/NXFilterTypes.h"

namespace nx {
namespace {

using test::TGainFilter;

// ---------------------------------------------------------------- fixtures

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

// A source pin, the filter (and the filters after it) and a recording sink
// pin, linked; a second recording sink can share the source.
template <class TFilter, class TSource, class TSink>
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
  ~TChain() {
    Source.Stop();
    Source.DisconnectAll();
  }
  bool Start(double ARate = 1000) { return Source.Notify(TFTStartSampleRateOperation::Make(ARate)); }
  void ShareSource() { EXPECT_TRUE(Source.Connect(&OtherSeen.Pin)); }
  // Waits until the worker (if any) has drained its queue.
  void Drain() {
    if (auto t = Filter.GetFilterThread()) t->GetQueueEvent().WaitFor();
  }
};
using TRealChain = TChain<TGainFilter, TNXFTRealSourcePin, TNXFTRealSinkPin>;

// Runs a buffer through a filter of the given kind and returns what arrived.
template <class TFilter, class TSource, class TSink, class TBufferClass, class T>
std::vector<T> RunOnce(const std::vector<T>& AData, bool AEnabled, bool AThreaded, bool& AResult) {
  TFilter filter;
  filter.SetEnabled(AEnabled);
  filter.Threading()->SetEnabled(AThreaded);
  TChain<TFilter, TSource, TSink> chain(filter);
  chain.Start();
  AResult = chain.Source.SubmitBuffer(TBufferClass::MakeArray(std::span<const T>(AData)));
  chain.Drain();
  const auto buffers = chain.Seen.Buffers();
  if (buffers.size() != 1) return {};
  const auto out = TBufferClass::MakeUniversal(buffers[0]);
  return std::vector<T>(out->Read(), out->Read() + out->GetSize());
}

// ---------------------------------------------------------------- processing

struct TModeCase {
  bool Enabled;
  bool Threaded;
};
constexpr TModeCase kModes[] = {{true, false}, {false, false}, {true, true}, {false, true}};

TEST(CommonFilterTest, TypedFiltersProcessOrPassThroughInEveryMode) {
  for (const TModeCase& m : kModes) {
    SCOPED_TRACE(testing::Message() << "enabled " << m.Enabled << " threaded " << m.Threaded);
    bool sent = false;
    // Without a worker the result is the sink's answer; with one the filter
    // answers false at once and sends later.
    const bool expectSent = !m.Threaded;

    const std::vector<double> real{1.5, -2, 0.25};
    const auto realOut =
        RunOnce<TGainFilter, TNXFTRealSourcePin, TNXFTRealSinkPin, TNXRealBuffer>(real, m.Enabled, m.Threaded, sent);
    EXPECT_EQ(sent, expectSent);
    EXPECT_EQ(realOut, m.Enabled ? (std::vector<double>{3, -4, 0.5}) : real);

    const std::vector<std::int32_t> ints{1, -7, 0};
    const auto intOut = RunOnce<TNegateFilter, TNXFTIntegerSourcePin, TNXFTIntegerSinkPin, TNXIntegerBuffer>(
        ints, m.Enabled, m.Threaded, sent);
    EXPECT_EQ(intOut, m.Enabled ? (std::vector<std::int32_t>{-1, 7, 0}) : ints);

    const std::vector<TComplex> cplx{{1, 2}, {-3, -4}};
    const auto cplxOut = RunOnce<TConjugateFilter, TNXFTComplexSourcePin, TNXFTComplexSinkPin, TNXComplexBuffer>(
        cplx, m.Enabled, m.Threaded, sent);
    ASSERT_EQ(cplxOut.size(), 2u);
    EXPECT_EQ(cplxOut[1].Im, m.Enabled ? 4.0 : -4.0);
    EXPECT_EQ(cplxOut[0].Re, 1.0);

    const std::vector<std::uint8_t> bytes{0x0F, 0xA5};
    const auto byteOut = RunOnce<TInvertFilter, TNXFTBinarySourcePin, TNXFTBinarySinkPin, TNXBlockBuffer>(
        bytes, m.Enabled, m.Threaded, sent);
    EXPECT_EQ(byteOut, m.Enabled ? (std::vector<std::uint8_t>{0xF0, 0x5A}) : bytes);
  }
}

TEST(CommonFilterTest, SingleValuesGoThroughTheFloatHook) {
  for (const bool enabled : {true, false}) {
    TGainFilter filter(3.0);
    filter.SetEnabled(enabled);
    TChain<TGainFilter, TNXFTComboRealSourcePin, TNXFTRealSinkPin> chain(filter);
    EXPECT_TRUE(chain.Source.SubmitReal(1.5));
    EXPECT_TRUE(chain.Source.SubmitFloat(2.0f));
    EXPECT_EQ(chain.Seen.Values(), enabled ? (std::vector<double>{4.5, 6}) : (std::vector<double>{1.5, 2}));
  }
}

TEST(CommonFilterTest, UnlinkedOutputSkipsTheHook) {
  TGainFilter filter;
  TNXFTRealSourcePin source("Out");
  ASSERT_TRUE(source.Connect(filter.InputPin()));
  source.Notify(TFTStartSampleRateOperation::Make(100));
  EXPECT_FALSE(source.SubmitBuffer(TNXRealBuffer::MakeArray({1.0, 2.0})));
  EXPECT_EQ(filter.Calls.load(), 0);
  source.Stop();
}

// What a buffer costs on the way through a gain and the in-place gains after
// it: whether the sink sees the source's block (and the very buffer object
// the source sent), and how many blocks the send made.
struct TCopyCase {
  const char* Name;
  bool Enabled;    // the first filter; the following ones are enabled
  bool CanInline;  // the first filter; the following ones can
  int ExtraSinks;  // more receivers at the source: the filter no longer gets it alone
  int Following;
  bool ExpectSameBlock;
  bool ExpectSameObject;
};
constexpr TCopyCase kCopyCases[] = {
    {"disabled passes the buffer on", false, false, 0, 0, true, true},
    // Passed on as it came, without nsExclusive: receivers that write copy first.
    {"disabled and shared passes the buffer on, shared", false, false, 1, 0, true, true},
    // So the in-place filter after it copies instead of writing into samples
    // the source's next receiver has not read yet.
    {"in place after a disabled filter copies a shared buffer", false, true, 1, 1, false, false},
    {"in place when alone and able", true, true, 0, 0, true, true},
    {"a chain of in-place filters makes no block", true, true, 0, 7, true, true},
    {"copy when the filter cannot work in place", true, false, 0, 0, false, false},
    {"copy when shared with another receiver", true, true, 1, 0, false, false},
};

TEST(CommonFilterTest, BuffersAreCopiedOnlyWhenWritingSharedSamples) {
  for (const TCopyCase& c : kCopyCases) {
    SCOPED_TRACE(c.Name);
    TGainFilter filter(2.0, c.CanInline);
    filter.SetEnabled(c.Enabled);
    std::vector<std::unique_ptr<TGainFilter>> owned;
    std::vector<TGainFilter*> following;
    for (int i = 0; i < c.Following; ++i) {
      owned.push_back(std::make_unique<TGainFilter>(2.0, true));
      following.push_back(owned.back().get());
    }
    TRealChain chain(filter, following);
    if (c.ExtraSinks) chain.ShareSource();
    chain.Start();

    auto buffer = TNXRealBuffer::MakeArray({1.0, 2.0, 3.0});
    const double* samples = buffer->Read();
    const std::int32_t storesBefore = _NXCountStores.load();
    chain.Source.SubmitBuffer(buffer);
    const std::int32_t newStores = _NXCountStores.load() - storesBefore;

    const auto seen = chain.Seen.Buffers();
    ASSERT_EQ(seen.size(), 1u);
    const auto out = TNXRealBuffer::MakeUniversal(seen[0]);
    EXPECT_EQ(out->Read() == samples, c.ExpectSameBlock);
    EXPECT_EQ(seen[0].Get() == static_cast<INXData*>(buffer.Get()), c.ExpectSameObject);
    EXPECT_EQ(newStores, c.ExpectSameBlock ? 0 : 1);
    EXPECT_EQ(out->Read()[2], 3.0 * (1 << ((c.Enabled ? 1 : 0) + c.Following)));
    if (c.ExtraSinks) {
      // The other receiver still sees the samples as they were sent.
      EXPECT_EQ(chain.OtherSeen.Samples(), (std::vector<std::vector<double>>{{1, 2, 3}}));
    }
  }
}

// An in-place hop sends the operation it received on when the hook leaves
// the buffer as it came (same object, same size); otherwise a new operation
// says what the buffer now holds.
enum class TInPlaceEdit { Scale, Shorten, Replace };
class TEditFilter : public TNXCommonRealFilter {
 public:
  explicit TEditFilter(TInPlaceEdit AEdit) : TNXCommonRealFilter(nullptr), FEdit(AEdit) {}
  ~TEditFilter() override { ShutdownThread(); }
  bool CanInline() const override { return true; }
  void FilterInternalOperation(const TBuffer&, TBuffer& AOutput, bool&) override {
    if (FEdit == TInPlaceEdit::Scale) ippsMulC_64f_I(2.0, AOutput->Modify(), AOutput->GetSize());
    if (FEdit == TInPlaceEdit::Shorten) AOutput->Resize(2, true);
    if (FEdit == TInPlaceEdit::Replace) AOutput = TNXRealBuffer::MakeArray({7.0});
  }

 private:
  const TInPlaceEdit FEdit;
};

TEST(CommonFilterTest, InPlaceHopsForwardTheOperationOnlyWhenTheBufferIsUnchanged) {
  struct TCase {
    const char* Name;
    TInPlaceEdit Edit;
    bool Plain;  // the source sends a plain buffer operation (else a kind of it)
    bool ExpectSameOperation;
    std::uint32_t ExpectClockCount;
  } const cases[] = {
      {"scaled in place", TInPlaceEdit::Scale, true, true, 3},
      {"shortened in place", TInPlaceEdit::Shorten, true, false, 2},
      {"replaced by the hook", TInPlaceEdit::Replace, true, false, 1},
      {"a kind of buffer operation", TInPlaceEdit::Scale, false, false, 3},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TEditFilter filter(c.Edit);
    TChain<TEditFilter, TNXFTRealSourcePin, TNXFTRealSinkPin> chain(filter);
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

// ---------------------------------------------------------------- dispatch and rate

TEST(CommonFilterTest, StartAndStopSetTheRateAndTheWorker) {
  for (const bool threaded : {false, true}) {
    SCOPED_TRACE(threaded ? "threaded" : "synchronous");
    TGainFilter filter;
    filter.Threading()->SetEnabled(threaded);
    TRealChain chain(filter);
    chain.Start(44100);
    EXPECT_EQ(filter.SampleRate(), 44100);
    EXPECT_TRUE(filter.Running());
    EXPECT_EQ(bool(filter.GetFilterThread()), threaded);
    if (threaded) {
      // The worker follows the priority setting while it runs.
      for (const TThreadPriority p : {tpLower, tpIdle}) {
        filter.Threading()->SetPriority(p);
        EXPECT_EQ(filter.GetFilterThread()->GetPriority(), p);
      }
    }
    chain.Source.Stop();
    EXPECT_EQ(filter.SampleRate(), 0);
    EXPECT_FALSE(filter.Running());
    EXPECT_FALSE(filter.GetFilterThread());
    EXPECT_EQ(chain.Seen.Rates(), std::vector<double>{44100});
    EXPECT_EQ(chain.Seen.CountOf("TFTStopOperation"), 1);
    // Anything else is forwarded unchanged; a plain start starts the stream.
    EXPECT_TRUE(chain.Source.Notify(TFTStartOperation::Make()));
    EXPECT_TRUE(filter.Running());
  }
  EXPECT_EQ(TNXFilterThread::LiveCount(), 0);
}

TEST(CommonFilterTest, OperationsFromDownstreamGoUpOrAreAnswered) {
  TGainFilter filter;
  TRealChain chain(filter);
  // Linked input: the query goes on up to the source.
  chain.Seen.Pin.Notify(TFTQueryStreamOperation::Make());
  EXPECT_EQ(chain.Seen.CountOf("TFTIgnoreStreamOperation"), 0);
  // Unlinked input: answered downstream with an ignore-stream operation.
  chain.Source.Disconnect(filter.InputPin());
  chain.Seen.Pin.Notify(TFTQueryStreamOperation::Make());
  EXPECT_EQ(chain.Seen.CountOf("TFTIgnoreStreamOperation"), 1);
}

// ---------------------------------------------------------------- worker thread

// Sends ACount numbered buffers (the first sample is the number).
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

// 0 .. ACount - 1.
std::vector<double> Numbers(int ACount) {
  std::vector<double> v;
  for (int i = 0; i < ACount; ++i) v.push_back(i);
  return v;
}

TEST(CommonFilterTest, BlockModeDeliversEveryBufferOnceInOrder) {
  for (const std::uint32_t size : {1u, 4u, 15u}) {
    SCOPED_TRACE(size);
    TGainFilter filter(1.0);
    filter.Threading()->SetEnabled(true);
    filter.Threading()->Queue()->SetSize(size);
    TRealChain chain(filter);
    chain.Start();
    SendNumbered(chain.Source, 0, 300);
    chain.Drain();
    EXPECT_EQ(chain.Seen.FirstSamples(), Numbers(300));
  }
}

// A worker that sends to a worker downstream while it still has work queued
// puts off waking it; the wake-up must come when the upstream worker runs
// dry, also when its last operation sends nothing.
class TSkipNegativeFilter : public TGainFilter {
 public:
  TSkipNegativeFilter() : TGainFilter(1.0) {}
  void FilterInternalOperation(const TBuffer& AInput, TBuffer& AOutput, bool& ASend) override {
    TGainFilter::FilterInternalOperation(AInput, AOutput, ASend);
    ASend = AOutput->Read()[0] >= 0;
  }
};

TEST(CommonFilterTest, AWorkerThatRunsDryWakesTheWorkerItSentTo) {
  TSkipNegativeFilter first;
  TGainFilter second(1.0);
  for (TGainFilter* f : {static_cast<TGainFilter*>(&first), &second}) {
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
}

struct TDropCase {
  std::uint32_t Size;
  int Extra;  // buffers sent beyond what the queue holds
};
constexpr TDropCase kDropCases[] = {{1, 1}, {1, 4}, {3, 2}};

TEST(CommonFilterTest, DropModeDropsTheNewestAndReportsEachDrop) {
  ASSERT_TRUE(MainThread::IsMainThread());
  for (const TDropCase& c : kDropCases) {
    SCOPED_TRACE(testing::Message() << "size " << c.Size << " extra " << c.Extra);
    TGainFilter filter(1.0);
    filter.Threading()->SetEnabled(true);
    filter.Threading()->Queue()->SetSize(c.Size);
    filter.Threading()->Queue()->SetFullMode(fmDropData);
    int fullEvents = 0;
    TPersistent* sender = nullptr;
    filter.Threading()->SetOnQueueFull([&](TPersistent* ASender) {
      ++fullEvents;
      sender = ASender;
    });
    TRealChain chain(filter);
    chain.Start();
    HoldWorker(filter, chain.Source, static_cast<int>(c.Size) + c.Extra);
    filter.Open();
    chain.Drain();
    MainThread::ProcessQueue();
    EXPECT_EQ(chain.Seen.FirstSamples(), Numbers(1 + static_cast<int>(c.Size)));
    EXPECT_EQ(fullEvents, c.Extra);
    EXPECT_EQ(sender, &filter);
  }
}

TEST(CommonFilterTest, FlushQueueDropsWhatWaits) {
  TGainFilter filter(1.0);
  filter.Threading()->SetEnabled(true);
  TRealChain chain(filter);
  chain.Start();
  HoldWorker(filter, chain.Source, 5);
  const auto thread = filter.GetFilterThread();
  EXPECT_EQ(thread->QueuedCount(), 5);
  thread->FlushQueue();  // the five waiting ones go; the one in progress finishes
  EXPECT_EQ(thread->QueuedCount(), 0);
  filter.Open();
  chain.Drain();
  SendNumbered(chain.Source, 6, 1);
  chain.Drain();
  filter.FlushQueue();  // nothing waits: nothing changes
  SendNumbered(chain.Source, 7, 1);
  chain.Drain();
  EXPECT_EQ(chain.Seen.FirstSamples(), (std::vector<double>{0, 6, 7}));
}

TEST(CommonFilterTest, StartStopStormLeavesNoThreadBehind) {
  TGainFilter filter(1.0);
  filter.Threading()->SetEnabled(true);
  filter.Threading()->Queue()->SetSize(2);
  TRealChain chain(filter);
  TNXFTRealSourcePin& source = chain.Source;

  std::atomic<bool> done{false};
  std::atomic<int> sent{0};
  std::thread sender([&] {
    while (!done.load()) {
      source.SubmitBuffer(TNXRealBuffer::MakeArray({double(sent.load()), 0.0}));
      ++sent;
    }
  });
  std::thread changer([&] {
    for (int i = 0; !done.load(); ++i) {
      filter.SetEnabled(i % 3 != 0);
      filter.Threading()->SetEnabled(i % 2 == 0);
      filter.Threading()->Queue()->SetSize(1 + i % 4);
      filter.Threading()->Queue()->SetFullMode(i % 5 == 0 ? fmDropData : fmBlock);
      filter.Threading()->SetPriority(i % 2 ? tpLower : tpNormal);
      std::this_thread::yield();
    }
  });
  for (int cycle = 0; cycle < 200; ++cycle) {
    source.Notify(TFTStartSampleRateOperation::Make(1000 + cycle));
    std::this_thread::yield();
    if (cycle % 10 == 0) filter.FlushQueue();
    source.Stop();
  }
  done = true;
  sender.join();
  changer.join();
  source.Stop();
  EXPECT_FALSE(filter.GetFilterThread());
  EXPECT_EQ(TNXFilterThread::LiveCount(), 0);
  EXPECT_LE(chain.Seen.Count(), static_cast<std::size_t>(sent.load()));
  EXPECT_EQ(chain.Seen.CountOf("TFTStopOperation"), 201);
}

// ---------------------------------------------------------------- taps and settings

struct TResponseCase {
  std::vector<double> Taps;
  double (*Magnitude)(double w);
  double (*Phase)(double w);  // null: not checked
};

TEST(CommonFilterTest, FrequencyResponseOfKnownTaps) {
  const TResponseCase cases[] = {
      {{1.0}, [](double) { return 1.0; }, nullptr},
      {{0.5, 0.5},
       [](double w) { return std::cos(w / 2) * std::cos(w / 2); },
       [](double w) { return std::numbers::pi / 2 - w / 2; }},
      {{0.0, 0.0, 2.0}, [](double) { return 4.0; }, nullptr},
  };
  for (const TResponseCase& c : cases) {
    TNXFilterFrequencyResponse response;
    response.SetTaps(c.Taps);
    std::vector<double> mags(16), phases(16);
    response.GetMagnitudes(mags);
    response.GetPhases(phases);
    for (std::size_t i = 0; i < mags.size(); ++i) {
      const double w = i == 0 ? std::numbers::pi * 1e-4 : i * std::numbers::pi / 16;
      EXPECT_NEAR(mags[i], c.Magnitude(w), 1e-12) << i;
      if (c.Phase) {
        EXPECT_NEAR(phases[i], c.Phase(w), 1e-9) << i;
      }
    }
  }
  TNXFilterFrequencyResponse empty;
  std::vector<double> mags(4, -1.0);
  empty.GetMagnitudes(mags);
  EXPECT_EQ(mags, std::vector<double>(4, 0.0));
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

TEST(CommonFilterTest, TapsFilterDesignsForEachNewRate) {
  TRateTapsFilter filter;
  TNXFTRealSourcePin source("Out");
  ASSERT_TRUE(source.Connect(filter.InputPin()));
  source.Notify(TFTStartSampleRateOperation::Make(3000));
  EXPECT_EQ(filter.FrequencyResponse()->Taps(), std::vector<double>(3, 1.0));
  source.Stop();  // the rate goes to 0 without a new design
  EXPECT_EQ(filter.Designs, 1);
  EXPECT_EQ(filter.SampleRate(), 0);
  source.Notify(TFTStartSampleRateOperation::Make(2000));
  EXPECT_EQ(filter.FrequencyResponse()->Taps().size(), 2u);
  source.Stop();
}

TEST(CommonFilterTest, SettingsStreamOnlyWhatDiffersAndClampTheQueue) {
  struct TCase {
    const char* Class;
    const char* Property;
    const char* Value;
    const char* Expected;
  };
  const TCase cases[] = {
      {"TNXOffset", "CX", "-3", "-3"},
      {"TNXCoordinateOffset", "CoordinateMode", "cmCenter", "cmCenter"},
      {"TNXDelayValue", "Mode", "dmSamples", "dmSamples"},
      {"TNXDelayValue", "Value", "250", "250"},
      {"TNXThreadingQueue", "Size", "0", "1"},
      {"TNXThreadingQueue", "FullMode", "fmDropData", "fmDropData"},
      {"TNXThreading", "Priority", "tpHigher", "tpHigher"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Class << "." << c.Property);
    std::unique_ptr<TPersistent> object(CreateObject(c.Class, nullptr));
    EXPECT_FALSE(HasStoredMembers(*object));  // everything at its default
    SetPropText(*object, c.Property, c.Value);
    EXPECT_EQ(GetPropText(*object, c.Property), c.Expected);
    EXPECT_TRUE(HasStoredMembers(*object));
  }
  TNXThreadingQueue queue;
  queue.SetSize(0);
  EXPECT_EQ(queue.Size(), 1u);  // the data path's copy follows the clamp
  EXPECT_EQ(TNXDelayValue().Value(), 100);
}

}  // namespace
}  // namespace nx
