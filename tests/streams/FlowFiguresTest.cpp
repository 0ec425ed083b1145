// The figures of a running graph (per link and per worker queue) and the
// timeline of its threads.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <thread>

#include "nxruntime.h"
#include "runtime/NXTrace.h"
#include "streams/NXFlowFigures.h"

namespace nx {
namespace {

// Turns the figures on for a test and off after it, whatever it asserts.
struct TCounting {
  TCounting() { figures::Enable(true); }
  ~TCounting() { figures::Enable(false); }
};

const figures::TLinkFigures* FindLink(const std::vector<figures::TLinkFigures>& ALinks, const TFTBasicPin& ASink) {
  for (const auto& l : ALinks)
    if (l.Sink == &ASink) return &l;
  return nullptr;
}

TEST(FlowFiguresTest, LinksCountSinkWardBuffersAndTheirSamplesOnly) {
  TNXFTRealSourcePin source("Out");
  TNXFTRealSinkPin a("A"), b("B");
  for (TNXFTRealSinkPin* s : {&a, &b})
    s->SetGenericDispatch([](TFTBasicPin*, const TGUID&, const TIntfPtr<IFTNotifyOperation>&, TFTNotifyState) { return true; });
  ASSERT_TRUE(source.Connect(&a) && source.Connect(&b));
  // Nothing is counted while the figures are off.
  source.SubmitBuffer(TIntfPtr<INXData>(TNXRealBuffer::MakeSize(10)));
  {
    TCounting counting;
    EXPECT_TRUE(figures::Links().empty());
    for (int size : {100, 200, 300}) source.SubmitBuffer(TIntfPtr<INXData>(TNXRealBuffer::MakeSize(size)));
    // Operations that carry no data, and everything upstream, are not buffers.
    source.Stop();
    int master = 0;
    a.MasterPump(&master);
    const auto links = figures::Links();
    ASSERT_EQ(links.size(), 2u);
    for (const TFTBasicPin* sink : {static_cast<TFTBasicPin*>(&a), static_cast<TFTBasicPin*>(&b)}) {
      const auto* l = FindLink(links, *sink);
      ASSERT_NE(l, nullptr) << sink->GetName();
      EXPECT_EQ(l->Source, &source);
      EXPECT_EQ(l->Buffers, 3u);
      EXPECT_EQ(l->Samples, 600u);
      EXPECT_EQ(l->Latency.Count, 0u);  // no clock tick marked this thread
    }
  }
  // Turning them on again starts from zero.
  TCounting again;
  EXPECT_TRUE(figures::Links().empty());
}

TEST(FlowFiguresTest, LatencyRunsFromTheTickAcrossAWorkersQueue) {
  TNXFTRealSourcePin source("Out");
  TNXFTRealSinkPin sink("In");
  sink.SetGenericDispatch([](TFTBasicPin*, const TGUID&, const TIntfPtr<IFTNotifyOperation>&, TFTNotifyState) { return true; });
  ASSERT_TRUE(source.Connect(&sink));
  TCounting counting;
  const auto send = [&](double AAgeSeconds) {
    figures::MarkTick(trace::NowNs() - static_cast<std::uint64_t>(AAgeSeconds * 1e9));
    source.SubmitBuffer(TIntfPtr<INXData>(TNXRealBuffer::MakeSize(4)));
    figures::MarkTick(0);
  };
  // 98 deliveries 2 ms after their tick, 2 a second after: the median is the
  // first kind, the 99th percentile the second (to within a bucket, ~5%).
  for (int i = 0; i < 98; ++i) send(0.002);
  send(1.0);
  send(1.0);
  source.SubmitBuffer(TIntfPtr<INXData>(TNXRealBuffer::MakeSize(4)));  // unmarked: not measured
  auto l = *FindLink(figures::Links(), sink);
  EXPECT_EQ(l.Buffers, 101u);
  EXPECT_EQ(l.Latency.Count, 100u);
  EXPECT_GE(l.Latency.P50, 0.002 * 0.95);
  EXPECT_LT(l.Latency.P50, 0.5);
  EXPECT_GE(l.Latency.P99, 0.95);
  EXPECT_LT(l.Latency.P99, 2.0);

  // A queued operation carries its sender's mark to the worker that takes it;
  // the queue's figures keep the most that waited, the drops and the waits.
  int worker = 0, owner = 0;
  const auto op = TFTSuppliedBufferOperation::Make(TIntfPtr<INXData>(TNXRealBuffer::MakeSize(4)));
  figures::MarkTick(trace::NowNs() - 3'000'000'000ull);
  figures::CountPush(&worker, &owner, op.Get(), 5, 15);
  figures::MarkTick(0);
  figures::CountPush(&worker, &owner, TFTStopOperation::Make().Get(), 2, 15);
  figures::CountDrop(&owner, 15);
  figures::CountWait(&owner);
  TNXFTRealSourcePin workerOut("WorkerOut");
  TNXFTRealSinkPin last("Last");
  last.SetGenericDispatch([](TFTBasicPin*, const TGUID&, const TIntfPtr<IFTNotifyOperation>&, TFTNotifyState) { return true; });
  ASSERT_TRUE(workerOut.Connect(&last));
  std::thread([&] {
    figures::AdoptMark(&worker, op.Get());
    workerOut.SubmitBuffer(TIntfPtr<INXData>(TNXRealBuffer::MakeSize(4)));
    figures::AdoptMark(&worker, nullptr);
    workerOut.SubmitBuffer(TIntfPtr<INXData>(TNXRealBuffer::MakeSize(4)));  // done with it: unmarked again
    figures::AdoptMark(&worker, op.Get());  // a mark is taken once
    workerOut.SubmitBuffer(TIntfPtr<INXData>(TNXRealBuffer::MakeSize(4)));
  }).join();
  l = *FindLink(figures::Links(), last);
  EXPECT_EQ(l.Buffers, 3u);
  EXPECT_EQ(l.Latency.Count, 1u);
  EXPECT_GE(l.Latency.P50, 3.0 * 0.95);
  const auto queues = figures::Queues();
  ASSERT_EQ(queues.size(), 1u);
  EXPECT_EQ(queues[0].Owner, &owner);
  EXPECT_EQ(queues[0].Pushed, 2u);
  EXPECT_EQ(queues[0].MaxFill, 5u);
  EXPECT_EQ(queues[0].Size, 15u);
  EXPECT_EQ(queues[0].Dropped, 1u);
  EXPECT_EQ(queues[0].Waits, 1u);
}

TEST(TraceTest, RecordsOneTrackPerThreadAndWritesValidNames) {
  trace::Complete("tick", "before", 1, 2);  // not recording: ignored
  trace::Start(5);
  EXPECT_TRUE(trace::Recording());
  trace::Complete("tick", "Gen\"1\"\n", 1000, 3500);
  std::thread([] {
    trace::TSpan span("work", [] { return std::string("Filter"); });
  }).join();
  for (int i = 0; i < 5; ++i) trace::Complete("send", "Out -> In", 4000, 4001);
  trace::Stop();
  trace::Complete("tick", "after", 1, 2);
  EXPECT_EQ(trace::EventCount(), 5u);
  EXPECT_EQ(trace::DroppedCount(), 2u);  // the recording held five events
  std::ostringstream out;
  ASSERT_TRUE(trace::WriteJson(out));
  const std::string json = out.str();
  const auto count = [&](const std::string& AText) {
    std::size_t n = 0;
    for (std::size_t at = json.find(AText); at != std::string::npos; at = json.find(AText, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("\"ph\": \"X\""), 5u);
  EXPECT_EQ(count("\"thread_name\""), 2u);  // this thread and the one that worked
  EXPECT_EQ(count("\"name\": \"Gen\\\"1\\\"\\u000a\""), 1u) << json;
  EXPECT_EQ(count("\"name\": \"Filter\""), 1u);
  EXPECT_EQ(count("before") + count("after"), 0u);
  // Times in microseconds from the first event: the tick starts at 0 and lasts 2.5 us.
  EXPECT_NE(json.find("\"ts\": 0.000, \"dur\": 2.500"), std::string::npos) << json;
  EXPECT_NE(json.find("\"dropped\": 2"), std::string::npos);
  // A new recording forgets the old one.
  trace::Start();
  trace::Stop();
  std::ostringstream empty;
  trace::WriteJson(empty);
  EXPECT_EQ(empty.str().find("\"ph\": \"X\""), std::string::npos);
}

}  // namespace
}  // namespace nx
