// A generator feeding four filters (two with worker threads) and a sink, on
// virtual time: every buffer carries its sequence number, so order, loss and
// duplication show at the end of the chain; then a start/stop storm of the
// same chain while another thread changes the filters' properties.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "ComponentTestSupport.h"

namespace nx {
namespace {

// Sample 0 of buffer k holds k; after Limit buffers it sends nothing more.
class TSequenceGen : public TNXCommonRealGen {
 public:
  using TNXCommonRealGen::TNXCommonRealGen;
  std::atomic<int> Sent{0};
  int Limit = 1 << 30;

 protected:
  void IntGenerate(TIntfPtr<INXDataBuffer>& ABuffer, bool& ASend, bool&) override {
    if (Sent.load() >= Limit) {
      ASend = false;
      return;
    }
    INXRealBuffer* real = RealOf(ABuffer);
    double* d = real->Write();
    d[0] = Sent.fetch_add(1);
    for (std::int32_t i = 1; i < real->GetSize(); ++i) d[i] = 1;
  }
};

// Generator -> F0 -> F1 (worker, block) -> F2 -> F3 (worker, ADropMode: drop
// with a queue of one, else block) -> sink.
struct TChain {
  test::TComponentPtr<TSequenceGen> Gen{new TSequenceGen(nullptr)};
  test::TComponentPtr<test::TGainFilter> F[4];  // in-place gains of 1
  test::TRealRecorder Sink;
  std::atomic<int> QueueFull{0};

  explicit TChain(bool ADropMode) {
    for (auto& f : F) f.reset(new test::TGainFilter(1.0, true));
    Gen->SetSampleRate(48000);
    Gen->SetBufferSize(64);
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
  ~TChain() {
    Gen.reset();
    for (auto& f : F) f.reset();
  }
  int Arrived() { return static_cast<int>(Sink.Count()); }
  // Runs the main-thread queue (where OnQueueFull is raised) until Done
  // holds or a minute has passed.
  template <class Pred>
  bool RunUntil(Pred ADone) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
      MainThread::ProcessQueue();
      if (ADone()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }
};

TEST(FilterChain, SequenceNumbersSurviveBlockAndDropModes) {
  TNXVirtualClockGuard virtualTime;
  constexpr int kBuffers = 400;
  for (bool drop : {false, true}) {
    SCOPED_TRACE(drop ? "drop mode, queue of one" : "block mode");
    {
      TChain chain(drop);
      chain.Gen->Limit = kBuffers;
      chain.Gen->Start();
      // Block mode: everything arrives (a full queue is still reported, but
      // the sender waits). Drop mode: everything sent is either at the sink
      // or was dropped, and each drop was reported.
      ASSERT_TRUE(chain.RunUntil([&] {
        return chain.Arrived() + (drop ? chain.QueueFull.load() : 0) == kBuffers;
      })) << chain.Arrived() << " arrived, " << chain.QueueFull.load() << " reported full";
      chain.Gen->Stop();
      MainThread::ProcessQueue();
      // Sequence numbers in arrival order.
      const std::vector<double> seen = chain.Sink.FirstSamples();
      if (drop) {
        EXPECT_EQ(static_cast<int>(seen.size()) + chain.QueueFull.load(), kBuffers);
      }
      for (std::size_t i = 1; i < seen.size(); ++i) ASSERT_LT(seen[i - 1], seen[i]) << i;
      if (!drop) {
        for (int i = 0; i < kBuffers; ++i) ASSERT_EQ(seen[i], i);
      }
    }
    EXPECT_EQ(TNXFilterThread::LiveCount(), 0);
    EXPECT_EQ(NXClockGenCount(), 0);
  }
}

// Start/stop cycles while buffers flow, with the filters' settings changed
// from another thread: no deadlock, no thread left, buffers still in order
// within each run.
TEST(FilterChain, StartStopStormWithPropertiesChangingBeside) {
  TNXVirtualClockGuard virtualTime;
  constexpr int kCycles = 1000;
  {
    TChain chain(false);
    std::atomic<bool> done{false};
    std::thread changer([&] {
      for (int n = 0; !done.load(); ++n) {
        chain.F[0]->SetEnabled(n % 2 == 0);
        chain.F[2]->Gain.store(n % 3 == 0 ? 1.0 : 2.0);
        chain.F[1]->Threading()->Queue()->SetSize(1 + n % 15);
        chain.F[3]->Threading()->SetPriority(n % 2 ? tpLower : tpNormal);
        std::this_thread::yield();
      }
    });
    for (int cycle = 0; cycle < kCycles; ++cycle) {
      const int before = chain.Arrived();
      chain.Gen->Start();
      // Every tenth run waits for a buffer at the sink; the others stop at once.
      if (cycle % 10 == 0) {
        ASSERT_TRUE(chain.RunUntil([&] { return chain.Arrived() > before; })) << cycle;
      }
      chain.Gen->Stop();
    }
    done = true;
    changer.join();
    MainThread::ProcessQueue();
    EXPECT_GE(chain.Arrived(), kCycles / 10);
  }
  EXPECT_EQ(TNXFilterThread::LiveCount(), 0);
  EXPECT_EQ(NXClockGenCount(), 0);
}

}  // namespace
}  // namespace nx
