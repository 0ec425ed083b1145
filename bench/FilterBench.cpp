// Throughput of the FIR filter (16 and 31 taps) and of a four-section biquad
// cascade on 1,000,000 samples: the dispatched built-in routines against the
// plain scalar twins, side by side in one run, followed by the ratios.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "nxruntime.h"
#include "vector/builtin/NXBuiltins.h"
#include "vector/reference/NXReference.h"

namespace {

using namespace nx;

constexpr int kSamples = 1000000;

std::vector<Ipp64f> Random(int n, unsigned seed) {
  std::mt19937_64 g(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<Ipp64f> v(n);
  for (auto& x : v) x = u(g);
  return v;
}

struct FIRFns {
  IppStatus (*init)(IppsFIRState_64f**, const Ipp64f*, int, const Ipp64f*);
  IppStatus (*run)(const Ipp64f*, Ipp64f*, int, IppsFIRState_64f*);
  IppStatus (*free)(IppsFIRState_64f*);
};
struct IIRFns {
  IppStatus (*init)(IppsIIRState_64f**, const Ipp64f*, int, const Ipp64f*);
  IppStatus (*run)(const Ipp64f*, Ipp64f*, int, IppsIIRState_64f*);
  IppStatus (*free)(IppsIIRState_64f*);
};

void RunFIR(benchmark::State& state, FIRFns f, int taps) {
  const auto h = Random(taps, 1), x = Random(kSamples, 2);
  std::vector<Ipp64f> y(kSamples);
  IppsFIRState_64f* st = nullptr;
  if (f.init(&st, h.data(), taps, nullptr) != ippStsNoErr) {
    state.SkipWithError("FIR state");
    return;
  }
  for (auto _ : state) {
    f.run(x.data(), y.data(), kSamples, st);
    benchmark::DoNotOptimize(y.data());
    benchmark::ClobberMemory();
  }
  f.free(st);
  state.SetItemsProcessed(state.iterations() * kSamples);
}

void RunBiquads(benchmark::State& state, IIRFns f, int sections) {
  std::vector<Ipp64f> taps;
  for (int s = 0; s < sections; ++s) {
    const double r = 0.5 + 0.1 * s, w = 0.3 + 0.5 * s;
    taps.insert(taps.end(), {0.2, 0.3, 0.2, 1.0, -2 * r * std::cos(w), r * r});
  }
  const auto x = Random(kSamples, 3);
  std::vector<Ipp64f> y(kSamples);
  IppsIIRState_64f* st = nullptr;
  if (f.init(&st, taps.data(), sections, nullptr) != ippStsNoErr) {
    state.SkipWithError("IIR state");
    return;
  }
  for (auto _ : state) {
    f.run(x.data(), y.data(), kSamples, st);
    benchmark::DoNotOptimize(y.data());
    benchmark::ClobberMemory();
  }
  f.free(st);
  state.SetItemsProcessed(state.iterations() * kSamples);
}

// Console output as usual, plus the samples/s of every run kept by name.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, double> rate;
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& r : runs) {
      const auto it = r.counters.find("items_per_second");
      if (it != r.counters.end() && r.run_type == Run::RT_Iteration) rate[r.benchmark_name()] = it->second;
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  const FIRFns ours{ippsFIRInitAlloc_64f, ippsFIR_64f, ippsFIRFree_64f};
  const FIRFns twin{reference::ippsFIRInitAlloc_64f, reference::ippsFIR_64f, reference::ippsFIRFree_64f};
  const IIRFns iirOurs{ippsIIRInitAlloc_BiQuad_64f, ippsIIR_64f, ippsIIRFree_64f};
  const IIRFns iirTwin{reference::ippsIIRInitAlloc_BiQuad_64f, reference::ippsIIR_64f, reference::ippsIIRFree_64f};
  const char* pairs[][2] = {{"FIR16/ours", "FIR16/scalar"}, {"FIR31/ours", "FIR31/scalar"},
                            {"Biquad4/ours", "Biquad4/scalar"}};
  for (int taps : {16, 31}) {
    const std::string n = "FIR" + std::to_string(taps);
    benchmark::RegisterBenchmark((n + "/ours").c_str(), RunFIR, ours, taps)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((n + "/scalar").c_str(), RunFIR, twin, taps)->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("Biquad4/ours", RunBiquads, iirOurs, 4)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("Biquad4/scalar", RunBiquads, iirTwin, 4)->Unit(benchmark::kMillisecond);

  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nSIMD target: %s\n", builtin::SimdTargetName());
  for (const auto& p : pairs) {
    const auto a = reporter.rate.find(p[0]), b = reporter.rate.find(p[1]);
    if (a != reporter.rate.end() && b != reporter.rate.end() && b->second > 0)
      std::printf("%-14s %8.1f Msamples/s vs %8.1f Msamples/s scalar: %.2fx\n", p[0], a->second / 1e6,
                  b->second / 1e6, a->second / b->second);
  }
  benchmark::Shutdown();
  return 0;
}
