// Benchmarks of the pin framework and the operation list: one operation sent
// over one link to a handler that only counts (goal under 100 ns), the same
// over eight links (goal under eight times the one-link time), the same for a
// supplied buffer through the signal pins, the bare
// handler call as the floor, and operations pushed on one thread and popped
// on another through an operation list (goal at least 5 million a second).
#include <atomic>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <memory>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "BenchSupport.h"
#include "nxruntime.h"

namespace {

using namespace nx;

constexpr TGUID kData = TGUID::Parse("{3A000000-0000-0000-0000-0000000000A1}");

// A source linked to ASinks sinks whose handlers only count.
struct TChain {
  std::atomic<long> Count{0};
  TFTDispatchSourcePin Source;
  std::vector<TFTPinPtr<TFTDispatchSinkPin>> Sinks;
  explicit TChain(int ASinks) {
    Source.AddType(kData, nullptr);
    for (int i = 0; i < ASinks; ++i) {
      Sinks.push_back(FTMakePin<TFTDispatchSinkPin>());
      Sinks.back()->AddType(kData, [this](auto...) {
        Count.fetch_add(1, std::memory_order_relaxed);
        return true;
      });
      Source.Connect(Sinks.back().get());
    }
  }
  ~TChain() { Source.DisconnectAll(); }
};

void BM_NotifyLinks(benchmark::State& state) {
  TChain chain(static_cast<int>(state.range(0)));
  const auto op = TFTStopOperation::Make();
  for (auto _ : state) benchmark::DoNotOptimize(chain.Source.Notify(op));
  if (chain.Count.load() != static_cast<long>(state.iterations()) * state.range(0))
    state.SkipWithError("a delivery was lost");
}
BENCHMARK(BM_NotifyLinks)->Arg(1)->Arg(8);

// A supplied-buffer operation sent from a signal source pin to ASinks real
// sink pins whose components only count (goal: one link under 100 ns, eight
// under eight times that); and the same through SubmitBuffer, which also
// builds the operation for each buffer (an allocation and an interface query
// for the clock count), shown beside it.
struct TSignalChain {
  std::atomic<long> Count{0};
  TNXFTRealSourcePin Source{"Out"};
  std::vector<TFTPinPtr<TNXFTRealSinkPin>> Sinks;
  explicit TSignalChain(int ASinks) {
    for (int i = 0; i < ASinks; ++i) {
      Sinks.push_back(FTMakePin<TNXFTRealSinkPin>("In"));
      Sinks.back()->SetGenericDispatch([this](auto...) {
        Count.fetch_add(1, std::memory_order_relaxed);
        return true;
      });
      Source.Connect(Sinks.back().get());
    }
  }
  ~TSignalChain() {
    Sinks.clear();
    Source.DisconnectAll();
  }
};

void BM_SuppliedBufferOperation(benchmark::State& state) {
  TSignalChain chain(static_cast<int>(state.range(0)));
  const auto op = TFTSuppliedBufferOperation::Make(TIntfPtr<INXData>(TNXRealBuffer::MakeValue(1.0, 256)));
  for (auto _ : state) benchmark::DoNotOptimize(chain.Source.Notify(op));
  if (chain.Count.load() != static_cast<long>(state.iterations()) * state.range(0))
    state.SkipWithError("a delivery was lost");
}
BENCHMARK(BM_SuppliedBufferOperation)->Arg(1)->Arg(8);

void BM_SubmitBuffer(benchmark::State& state) {
  TSignalChain chain(static_cast<int>(state.range(0)));
  const TIntfPtr<INXData> buffer(TNXRealBuffer::MakeValue(1.0, 256));
  for (auto _ : state) benchmark::DoNotOptimize(chain.Source.SubmitBuffer(buffer));
  if (chain.Count.load() != static_cast<long>(state.iterations()) * state.range(0))
    state.SkipWithError("a delivery was lost");
}
BENCHMARK(BM_SubmitBuffer)->Arg(1)->Arg(8);

// The floor: the handler called directly through its function object.
void BM_HandlerCall(benchmark::State& state) {
  std::atomic<long> count{0};
  TFTBasicPinNotificationEvent handler = [&](auto...) {
    count.fetch_add(1, std::memory_order_relaxed);
    return true;
  };
  const auto op = TFTStopOperation::Make();
  for (auto _ : state) benchmark::DoNotOptimize(handler(nullptr, nullptr, kData, op, {}));
}
BENCHMARK(BM_HandlerCall);

// Push on this thread, pop on another; time per operation moved.
void BM_OperationListTwoThreads(benchmark::State& state) {
  constexpr long kBatch = 1 << 16;
  const auto list = TNXOperationList::Make();
  const auto op = TFTStopOperation::Make();
  for (auto _ : state) {
    std::thread consumer([&] {
      TIntfPtr<IFTNotifyOperation> got;
      for (long n = 0; n < kBatch;)
        if (list->Pop(got)) ++n;
    });
    for (long i = 0; i < kBatch; ++i) list->Push(op, false);
    consumer.join();
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
  state.counters["ns_per_op"] = benchmark::Counter(static_cast<double>(state.iterations() * kBatch),
                                                   benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_OperationListTwoThreads)->UseRealTime()->Unit(benchmark::kMillisecond);

// The baseline: a plain std::mutex around a std::deque, same harness.
void BM_MutexDequeTwoThreads(benchmark::State& state) {
  constexpr long kBatch = 1 << 16;
  std::mutex lock;
  std::deque<TIntfPtr<IFTNotifyOperation>> queue;
  const auto op = TFTStopOperation::Make();
  for (auto _ : state) {
    std::thread consumer([&] {
      for (long n = 0; n < kBatch;) {
        TIntfPtr<IFTNotifyOperation> got;
        {
          std::lock_guard guard(lock);
          if (!queue.empty()) {
            got = std::move(queue.front());
            queue.pop_front();
          }
        }
        if (got) ++n;
      }
    });
    for (long i = 0; i < kBatch; ++i) {
      std::lock_guard guard(lock);
      queue.push_back(op);
    }
    consumer.join();
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_MutexDequeTwoThreads)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  nxbench::TCollectingReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);

  const double one = rep.Cpu("BM_NotifyLinks/1"), eight = rep.Cpu("BM_NotifyLinks/8");
  const double buffer1 = rep.Cpu("BM_SuppliedBufferOperation/1"), buffer8 = rep.Cpu("BM_SuppliedBufferOperation/8");
  const double submit1 = rep.Cpu("BM_SubmitBuffer/1");
  const double list = rep.Time("BM_OperationListTwoThreads");
  std::printf("\nGoals (sends: CPU time of the sending thread; the list: real time)\n");
  if (one > 0)
    std::printf("%-52s %9.1f ns   goal < 100 ns        %s\n", "one operation over one link", one,
                one < 100 ? "ok" : "ABOVE");
  if (one > 0 && eight > 0)
    std::printf("%-52s %9.1f ns   goal < 8 x %.1f ns   %s\n", "one operation over eight links", eight, one,
                eight < 8 * one ? "ok" : "ABOVE");
  if (buffer1 > 0)
    std::printf("%-52s %9.1f ns   goal < 100 ns        %s\n", "supplied buffer to one signal sink", buffer1,
                buffer1 < 100 ? "ok" : "ABOVE");
  if (buffer1 > 0 && buffer8 > 0)
    std::printf("%-52s %9.1f ns   goal < 8 x %.1f ns   %s\n", "supplied buffer to eight signal sinks", buffer8,
                buffer1, buffer8 < 8 * buffer1 ? "ok" : "ABOVE");
  if (submit1 > 0)
    std::printf("%-52s %9.1f ns   (operation built per buffer)\n", "SubmitBuffer to one signal sink", submit1);
  if (list > 0) {
    const double perSecond = (1 << 16) / (list * 1e-3);  // the run's time is per batch, in ms
    std::printf("%-52s %9.2f M/s  goal >= 5 M/s        %s\n", "operation list push/pop between two threads",
                perSecond / 1e6, perSecond >= 5e6 ? "ok" : "BELOW");
  }
  const double plain = rep.Time("BM_MutexDequeTwoThreads");
  if (list > 0 && plain > 0)
    std::printf("%-52s %9.2f x   (same run, same load)\n", "operation list vs std::mutex + std::deque", plain / list);
  benchmark::Shutdown();
  return 0;
}
