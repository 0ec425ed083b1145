// The master clock on the wall clock: over 10 s a clock of 1 ms interval
// records the time of every tick; the mean period (goal: within 0.1% of
// 1 ms) and the 99th percentile lateness against the ideal 1 ms schedule
// (goal: below 200 us) are printed. The peer is a bare thread sleeping to
// absolute 1 ms deadlines, measured the same way: what the machine itself
// allows. A third case shows how fast virtual time runs a 1 ms clock.
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "components/NXClockGen.h"

namespace {

using namespace nx;

constexpr double kSeconds = 10.0;

std::int64_t NowNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<std::int64_t>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

struct TStats {
  double MeanPeriodUs = 0;
  double P99LatenessUs = 0;
  double MaxLatenessUs = 0;
};
TStats GClockStats, GHighClockStats, GPeerStats;

// Lateness of tick k: its time minus (first tick + k ms), less the smallest
// such value (the schedule's phase is that of the earliest tick).
TStats Analyse(const std::vector<std::int64_t>& ATimes) {
  TStats s;
  if (ATimes.size() < 2) return s;
  s.MeanPeriodUs = static_cast<double>(ATimes.back() - ATimes.front()) / (ATimes.size() - 1) / 1000.0;
  std::vector<std::int64_t> late(ATimes.size());
  for (std::size_t k = 0; k < ATimes.size(); ++k)
    late[k] = ATimes[k] - (ATimes.front() + static_cast<std::int64_t>(k) * 1000000);
  const std::int64_t phase = *std::min_element(late.begin(), late.end());
  for (auto& l : late) l -= phase;
  std::sort(late.begin(), late.end());
  s.P99LatenessUs = late[late.size() * 99 / 100] / 1000.0;
  s.MaxLatenessUs = late.back() / 1000.0;
  return s;
}

void Report(benchmark::State& AState, const TStats& AStats) {
  AState.counters["mean_period_us"] = AStats.MeanPeriodUs;
  AState.counters["p99_late_us"] = AStats.P99LatenessUs;
  AState.counters["max_late_us"] = AStats.MaxLatenessUs;
}

// AState.range(0): the clock thread's priority (tpNormal, the default, or tpHighest).
void BM_MasterClock1ms(benchmark::State& AState) {
  const auto priority = static_cast<TThreadPriority>(AState.range(0));
  TStats& stats = priority == tpNormal ? GClockStats : GHighClockStats;
  for (auto _ : AState) {
    std::vector<std::int64_t> times;
    times.reserve(static_cast<std::size_t>(kSeconds * 1100));
    std::mutex lock;
    {
      TIntfPtr<TNXClockGen> clock(new TNXClockGen("Bench", 10000, [&] {
        std::lock_guard lk(lock);
        times.push_back(NowNs());
      }));
      clock->SetPriority(priority);
      clock->Start();
      std::this_thread::sleep_for(std::chrono::duration<double>(kSeconds));
    }
    stats = Analyse(times);
  }
  Report(AState, stats);
}

void BM_PeerSleepLoop1ms(benchmark::State& AState) {
  for (auto _ : AState) {
    std::vector<std::int64_t> times;
    times.reserve(static_cast<std::size_t>(kSeconds * 1100));
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    const std::int64_t end = NowNs() + static_cast<std::int64_t>(kSeconds * 1e9);
    while (NowNs() < end) {
      next.tv_nsec += 1000000;
      if (next.tv_nsec >= 1000000000L) {
        next.tv_nsec -= 1000000000L;
        ++next.tv_sec;
      }
      clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
      times.push_back(NowNs());
    }
    GPeerStats = Analyse(times);
  }
  Report(AState, GPeerStats);
}

// Ticks of a 1 ms clock per second of wall time on virtual time.
void BM_VirtualClockTicks(benchmark::State& AState) {
  TNXVirtualClockGuard virtualTime;
  constexpr int kTicks = 20000;
  for (auto _ : AState) {
    std::atomic<int> ticks{0};
    std::mutex doneLock;
    std::condition_variable done;
    TIntfPtr<TNXClockGen> clock = MakeThread<TNXClockGen>("Virtual", 10000, [&] {
      if (ticks.fetch_add(1) + 1 == kTicks) done.notify_all();
    });
    std::unique_lock lk(doneLock);
    done.wait_for(lk, std::chrono::seconds(60), [&] { return ticks.load() >= kTicks; });
    lk.unlock();
    clock = nullptr;
  }
  AState.SetItemsProcessed(AState.iterations() * kTicks);
}

BENCHMARK(BM_MasterClock1ms)->Arg(tpNormal)->Arg(tpHighest)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_PeerSleepLoop1ms)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_VirtualClockTicks)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

void PrintLine(const char* AName, const TStats& AStats) {
  const double error = (AStats.MeanPeriodUs - 1000.0) / 1000.0 * 100.0;
  std::printf("%-26s %14.3f %9.4f%% %12.1f %12.1f  %s\n", AName, AStats.MeanPeriodUs, error, AStats.P99LatenessUs,
              AStats.MaxLatenessUs,
              (std::abs(error) <= 0.1 && AStats.P99LatenessUs < 200) ? "ok" : "MISSED");
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  nxbench::TCollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n1 ms clock over %.0f s of wall time (goals: mean within 0.1%% of 1 ms, p99 lateness < 200 us)\n",
              kSeconds);
  std::printf("%-26s %14s %10s %12s %12s\n", "case", "mean period us", "error", "p99 late us", "max late us");
  PrintLine("master clock", GClockStats);
  PrintLine("master clock, tpHighest", GHighClockStats);
  PrintLine("peer: bare sleep loop", GPeerStats);
  benchmark::Shutdown();
  return 0;
}
