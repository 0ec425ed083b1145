// Streaming primitives on 64-bit floats, measured side by side in one run:
// - in cache (1,000 .. 100,000 elements): the dispatched routine against its
//   plain scalar twin compiled without vectorisation;
// - beyond the last-level cache: the routine's memory bandwidth (bytes read +
//   bytes written per second) against memcpy moving the same number of bytes.
// Usage: bench_primitives [--benchmark_filter=...]; NX_BENCH_LARGE_ELEMS sets
// the element count of the large case.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "nxruntime.h"
#include "vector/builtin/NXBuiltins.h"
#include "vector/reference/NXReference.h"

namespace {

using namespace nx;

// Operands sized for the largest case (room for complex elements), 64-byte aligned.
struct TOperands {
  explicit TOperands(std::size_t n) : N(n) {
    // Large blocks come from mmap and would all start at the same offset in
    // their pages; staggering them by a few cache lines keeps loads of one
    // array from falsely waiting on stores to another (4 KiB aliasing), as
    // separately allocated buffers would.
    rawA = std::aligned_alloc(64, n * 16 + 4096);
    rawB = std::aligned_alloc(64, n * 16 + 4096);
    rawD = std::aligned_alloc(64, n * 16 + 4096);
    a = reinterpret_cast<double*>(static_cast<char*>(rawA) + 0);
    b = reinterpret_cast<double*>(static_cast<char*>(rawB) + 1024);
    d = reinterpret_cast<double*>(static_cast<char*>(rawD) + 2048 + 256);
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (std::size_t i = 0; i < 2 * n; ++i) {
      a[i] = u(rng);
      b[i] = u(rng) + 2.0;
      d[i] = 0;
    }
  }
  ~TOperands() {
    std::free(rawA);
    std::free(rawB);
    std::free(rawD);
  }
  std::size_t N;
  void* rawA;
  void* rawB;
  void* rawD;
  double* a;
  double* b;
  double* d;
};

// A primitive under test: how to call it (ours or the scalar twin) and how
// many bytes one call reads and writes per element.
struct TCase {
  const char* Name;
  double BytesPerElement;
  std::function<void(TOperands&, int, bool scalar)> Call;
};

std::vector<TCase> Cases() {
  auto pick = [](auto ours, auto twin, bool scalar) { return scalar ? twin : ours; };
  return {
      {"ippsAdd_64f", 24,
       [=](TOperands& o, int n, bool s) { pick(ippsAdd_64f, &reference::ippsAdd_64f, s)(o.a, o.b, o.d, n); }},
      {"ippsMul_64f", 24,
       [=](TOperands& o, int n, bool s) { pick(ippsMul_64f, &reference::ippsMul_64f, s)(o.a, o.b, o.d, n); }},
      {"ippsAddC_64f_I", 16,
       [=](TOperands& o, int n, bool s) { pick(ippsAddC_64f_I, &reference::ippsAddC_64f_I, s)(1e-9, o.d, n); }},
      {"ippsMulC_64f_I", 16,
       [=](TOperands& o, int n, bool s) { pick(ippsMulC_64f_I, &reference::ippsMulC_64f_I, s)(1.0000001, o.d, n); }},
      {"ippsSum_64f", 8,
       [=](TOperands& o, int n, bool s) {
         double r;
         pick(ippsSum_64f, &reference::ippsSum_64f, s)(o.a, n, &r);
         benchmark::DoNotOptimize(r);
       }},
      {"ippsDotProd_64f", 16,
       [=](TOperands& o, int n, bool s) {
         double r;
         pick(ippsDotProd_64f, &reference::ippsDotProd_64f, s)(o.a, o.b, n, &r);
         benchmark::DoNotOptimize(r);
       }},
      {"ippsMinMax_64f", 8,
       [=](TOperands& o, int n, bool s) {
         double lo, hi;
         pick(ippsMinMax_64f, &reference::ippsMinMax_64f, s)(o.a, n, &lo, &hi);
         benchmark::DoNotOptimize(lo);
         benchmark::DoNotOptimize(hi);
       }},
      {"ippsMaxIndx_64f", 8,
       [=](TOperands& o, int n, bool s) {
         double m;
         int idx;
         pick(ippsMaxIndx_64f, &reference::ippsMaxIndx_64f, s)(o.a, n, &m, &idx);
         benchmark::DoNotOptimize(idx);
       }},
      {"ippsThreshold_64f_I", 16,
       [=](TOperands& o, int n, bool s) {
         pick(ippsThreshold_64f_I, &reference::ippsThreshold_64f_I, s)(o.a, n, 0.9, ippCmpGreater);
       }},
      {"ippsConvert_64f32f", 12,
       [=](TOperands& o, int n, bool s) {
         pick(ippsConvert_64f32f, &reference::ippsConvert_64f32f, s)(o.a, reinterpret_cast<float*>(o.d), n);
       }},
      {"ippsMagnitude_64fc", 24,
       [=](TOperands& o, int n, bool s) {
         pick(ippsMagnitude_64fc, &reference::ippsMagnitude_64fc, s)(reinterpret_cast<const Ipp64fc*>(o.a), o.d, n);
       }},
  };
}

std::size_t LargeElements() {
  if (const char* env = std::getenv("NX_BENCH_LARGE_ELEMS")) return std::strtoull(env, nullptr, 10);
  // One operand at least as large as the last-level cache the system reports,
  // kept between 8 M and 64 M elements so the run stays short.
  long llc = ::sysconf(_SC_LEVEL3_CACHE_SIZE);
  std::size_t n = llc > 0 ? static_cast<std::size_t>(llc) / 8 : (8u << 20);
  return std::clamp<std::size_t>(n, 8u << 20, 64u << 20);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const std::size_t large = LargeElements();
  const std::vector<int> inCache = {1000, 10000, 100000};
  TOperands small(100000), big(large);
  std::vector<nxbench::TRatio> scalarRows, bandwidthRows;

  for (const TCase& c : Cases()) {
    for (int n : inCache) {
      for (bool scalar : {false, true}) {
        const std::string name = std::string(c.Name) + (scalar ? "/scalar/" : "/ours/") + std::to_string(n);
        benchmark::RegisterBenchmark(name.c_str(), [c, n, scalar, &small](benchmark::State& st) {
          for (auto _ : st) c.Call(small, n, scalar);
          st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * n * c.BytesPerElement));
        });
      }
      scalarRows.push_back({std::string(c.Name) + " n=" + std::to_string(n),
                            std::string(c.Name) + "/ours/" + std::to_string(n),
                            std::string(c.Name) + "/scalar/" + std::to_string(n), 4.0});
    }
    const int n = static_cast<int>(large);
    const std::size_t bytes = static_cast<std::size_t>(n * c.BytesPerElement);
    const std::string ours = std::string(c.Name) + "/ours/large";
    const std::string copy = std::string(c.Name) + "/memcpy_same_bytes/large";
    benchmark::RegisterBenchmark(ours.c_str(), [c, n, &big](benchmark::State& st) {
      for (auto _ : st) c.Call(big, n, false);
      st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * n * c.BytesPerElement));
    })->UseRealTime();
    // memcpy of half the bytes reads and writes the same total.
    benchmark::RegisterBenchmark(copy.c_str(), [bytes, &big](benchmark::State& st) {
      char* src = reinterpret_cast<char*>(big.b);
      char* dst = reinterpret_cast<char*>(big.d);
      for (auto _ : st) {
        std::memcpy(dst, src, bytes / 2);
        benchmark::ClobberMemory();
      }
      st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * bytes));
    })->UseRealTime();
    bandwidthRows.push_back({std::string(c.Name) + " n=" + std::to_string(n), ours, copy, 0.9});
  }

  std::printf("SIMD target: %s; large case: %zu elements\n", builtin::SimdTargetName(), large);
  nxbench::TCollectingReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  nxbench::PrintRatios(rep, "In cache: speed-up over the plain scalar loop", scalarRows, "speedup");
  nxbench::PrintRatios(rep, "Beyond the last-level cache: bandwidth relative to memcpy of the same bytes",
                       bandwidthRows, "of memcpy");
  benchmark::Shutdown();
  return 0;
}
