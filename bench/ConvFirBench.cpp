// Transform methods of the convolution and the FIR filter against the direct
// sums they replace, in one run: ippsConv_64f of 1,000,000 by 1,000 samples
// (direct: the built-in direct-sum path at the same sizes) and ippsFIR_64f
// with 256 taps on 1,000,000 samples (direct: the same state fed in blocks of
// 511 samples, below the block length that selects the transform). Both
// sides are the SIMD built-in code; the table gives the speed-up.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "nxruntime.h"
#include "vector/builtin/NXBuiltinFilters.h"
#include "vector/builtin/NXBuiltins.h"

namespace {

using namespace nx;

constexpr int kLong = 1000000;
constexpr int kKernel = 1000;
constexpr int kTaps = 256;
constexpr int kDirectBlock = 511;

std::vector<Ipp64f> Random(int n, unsigned seed) {
  std::mt19937_64 g(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<Ipp64f> v(n);
  for (auto& x : v) x = u(g);
  return v;
}

using TConvFn = IppStatus (*)(const Ipp64f*, int, const Ipp64f*, int, Ipp64f*);

void RunConv(benchmark::State& state, TConvFn conv) {
  const auto a = Random(kLong, 1), b = Random(kKernel, 2);
  std::vector<Ipp64f> y(kLong + kKernel - 1);
  for (auto _ : state) {
    if (conv(a.data(), kLong, b.data(), kKernel, y.data()) != ippStsNoErr) {
      state.SkipWithError("conv failed");
      return;
    }
    benchmark::DoNotOptimize(y.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kLong);
}

// block 0: one call for the whole signal.
void RunFIR(benchmark::State& state, int block) {
  const auto h = Random(kTaps, 3), x = Random(kLong, 4);
  std::vector<Ipp64f> y(kLong);
  IppsFIRState_64f* st = nullptr;
  if (ippsFIRInitAlloc_64f(&st, h.data(), kTaps, nullptr) != ippStsNoErr) {
    state.SkipWithError("FIR state");
    return;
  }
  const int step = block > 0 ? block : kLong;
  for (auto _ : state) {
    for (int at = 0; at < kLong; at += step)
      ippsFIR_64f(x.data() + at, y.data() + at, std::min(step, kLong - at), st);
    benchmark::DoNotOptimize(y.data());
    benchmark::ClobberMemory();
  }
  ippsFIRFree_64f(st);
  state.SetItemsProcessed(state.iterations() * kLong);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::RegisterBenchmark("Conv1e6x1000/transform", RunConv, static_cast<TConvFn>(ippsConv_64f))
      ->Unit(benchmark::kMillisecond)->UseRealTime();
  benchmark::RegisterBenchmark("Conv1e6x1000/direct", RunConv, &builtin::detail::ConvDirect)
      ->Unit(benchmark::kMillisecond)->UseRealTime();
  benchmark::RegisterBenchmark("FIR256/transform", RunFIR, 0)->Unit(benchmark::kMillisecond)->UseRealTime();
  benchmark::RegisterBenchmark("FIR256/direct", RunFIR, kDirectBlock)->Unit(benchmark::kMillisecond)->UseRealTime();

  benchmark::Initialize(&argc, argv);
  std::printf("SIMD target: %s\n", builtin::SimdTargetName());
  nxbench::TCollectingReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  nxbench::PrintRatios(rep, "Transform method against direct sums (direct time / transform time)",
                       {{"ippsConv_64f 1e6 x 1000", "Conv1e6x1000/transform", "Conv1e6x1000/direct", 3.0},
                        {"ippsFIR_64f 256 taps, 1e6 samples", "FIR256/transform", "FIR256/direct", 3.0}},
                       "speedup");
  const double fir = rep.Time("FIR256/transform");
  if (fir > 0) {
    // Times are in the benchmarks' unit (milliseconds).
    const double rate = kLong / (fir * 1e-3) / 1e6;
    std::printf("%-44s %12.1f Msamples/s   goal 120 %s\n", "ippsFIR_64f 256 taps throughput", rate,
                rate >= 120 ? "ok" : "BELOW");
  }
  benchmark::Shutdown();
  return 0;
}
