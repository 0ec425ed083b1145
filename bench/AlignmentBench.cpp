// Streaming primitives on arrays that do not start on a vector boundary, as a
// std::vector<double> or a pointer into an array gives them: each operand is
// moved 0, 8, 16 or 32 bytes off a 64-byte boundary (every combination), at
// 1,000 elements (first-level cache) and 100,000 elements (second-level
// cache), and each case is compared with the all-aligned case of the same run.
// Usage: bench_alignment [--benchmark_filter=...] [--benchmark_repetitions=N];
// the ratios use the smallest CPU time over the repetitions. By default every
// case runs 15 short repetitions in random order, so that a burst of other
// work on the machine spoils a few repetitions of many cases rather than
// every repetition of one (flags given on the command line take precedence).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "nxruntime.h"
#include "vector/builtin/NXBuiltins.h"

namespace {

using namespace nx;

constexpr int kMaxElems = 100000;
constexpr int kOffsets[] = {0, 8, 16, 32};

// Three operand arrays, 64-byte aligned and staggered by a few cache lines so
// that loads of one do not falsely wait on stores to another (4 KiB aliasing).
struct TArrays {
  TArrays() {
    for (int k = 0; k < 3; ++k) {
      raw[k] = static_cast<char*>(std::aligned_alloc(64, kMaxElems * 16 + 8192));
      base[k] = raw[k] + 1024 * k + 256 * (k == 2);
    }
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int k = 0; k < 3; ++k) {
      double* p = reinterpret_cast<double*>(base[k]);
      for (int i = 0; i < 2 * kMaxElems + 8; ++i) p[i] = u(rng) + (k == 1 ? 2.0 : 0.0);
    }
  }
  ~TArrays() {
    for (char* p : raw) std::free(p);
  }
  double* At(int k, int offsetBytes) { return reinterpret_cast<double*>(base[k] + offsetBytes); }
  char* raw[3];
  char* base[3];
};

// A primitive with 1 to 3 array operands; Call gets the operand pointers.
struct TCase {
  const char* Name;
  int Operands;
  std::function<void(double* const* p, int n)> Call;
};

std::vector<TCase> Cases() {
  return {
      {"Sum", 1,
       [](double* const* p, int n) {
         double r;
         ippsSum_64f(p[0], n, &r);
         benchmark::DoNotOptimize(r);
       }},
      {"MulC_I", 1, [](double* const* p, int n) { ippsMulC_64f_I(1.0000001, p[0], n); }},
      {"Set", 1, [](double* const* p, int n) { ippsSet_64f(0.5, p[0], n); }},
      {"Threshold_I", 1, [](double* const* p, int n) { ippsThreshold_64f_I(p[0], n, 0.9, ippCmpGreater); }},
      {"Sqr", 2, [](double* const* p, int n) { ippsSqr_64f(p[0], p[1], n); }},
      {"Convert_64f32f", 2,
       [](double* const* p, int n) { ippsConvert_64f32f(p[0], reinterpret_cast<float*>(p[1]), n); }},
      {"DotProd", 2,
       [](double* const* p, int n) {
         double r;
         ippsDotProd_64f(p[0], p[1], n, &r);
         benchmark::DoNotOptimize(r);
       }},
      {"Mul", 3, [](double* const* p, int n) { ippsMul_64f(p[0], p[1], p[2], n); }},
      {"Add", 3, [](double* const* p, int n) { ippsAdd_64f(p[0], p[1], p[2], n); }},
  };
}

std::string OffsetName(const std::vector<int>& off) {
  std::string s;
  for (int o : off) s += (s.empty() ? "" : ",") + std::to_string(o);
  return s;
}

// Every combination of the offsets over `operands` operands.
std::vector<std::vector<int>> Combinations(int operands) {
  std::vector<std::vector<int>> all = {{}};
  for (int k = 0; k < operands; ++k) {
    std::vector<std::vector<int>> next;
    for (const auto& c : all)
      for (int o : kOffsets) {
        auto e = c;
        e.push_back(o);
        next.push_back(e);
      }
    all = next;
  }
  return all;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args = {argv[0]};
  char reps[] = "--benchmark_repetitions=15", shuffle[] = "--benchmark_enable_random_interleaving=true",
       minTime[] = "--benchmark_min_time=0.02";
  args.insert(args.end(), {reps, shuffle, minTime});
  args.insert(args.end(), argv + 1, argv + argc);
  int count = static_cast<int>(args.size());
  args.push_back(nullptr);
  benchmark::Initialize(&count, args.data());
  static TArrays arrays;
  struct TRow {
    std::string Kernel;
    int N;
    std::string Offsets, Name, Aligned;
    double Goal;
  };
  std::vector<TRow> rows;
  for (const TCase& c : Cases()) {
    // One stream: at least 0.9 of the aligned speed in the first-level cache;
    // several streams 0.8.
    const double goal = c.Operands == 1 ? 0.9 : 0.8;
    for (int n : {1000, kMaxElems}) {
      const std::string prefix = std::string(c.Name) + "/" + std::to_string(n) + "/";
      for (const auto& off : Combinations(c.Operands)) {
        const std::string name = prefix + OffsetName(off);
        benchmark::RegisterBenchmark(name.c_str(), [c, n, off](benchmark::State& st) {
          double* p[3] = {};
          for (int k = 0; k < c.Operands; ++k) p[k] = arrays.At(k, off[k]);
          for (auto _ : st) c.Call(p, n);
          st.SetItemsProcessed(st.iterations() * n);
        });
        rows.push_back({c.Name, n, OffsetName(off), name, prefix + OffsetName(std::vector<int>(c.Operands, 0)),
                        n == 1000 ? goal : 0.0});
      }
    }
  }

  std::printf("SIMD target: %s\n", builtin::SimdTargetName());
  nxbench::TCollectingReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);

  // Full table, then the worst offset combination of each kernel and size.
  std::printf("\nSpeed relative to all operands 64-byte aligned (offsets in bytes, operands in call order)\n");
  std::printf("%-40s %11s %11s %7s %6s\n", "case", "time", "aligned", "ratio", "goal");
  struct TWorst {
    double Ratio = 1e9;
    std::string Offsets;
    double Goal = 0;
  };
  std::map<std::pair<std::string, int>, TWorst> worst;
  std::vector<std::pair<std::string, int>> order;
  for (const TRow& r : rows) {
    const double t = rep.Cpu(r.Name), a = rep.Cpu(r.Aligned);
    if (t <= 0 || a <= 0) continue;
    const double ratio = a / t;
    std::printf("%-40s %11.4g %11.4g %7.3f", (r.Kernel + " n=" + std::to_string(r.N) + " off=" + r.Offsets).c_str(),
                t, a, ratio);
    if (r.Goal > 0) std::printf(" %6.2f %s", r.Goal, ratio >= r.Goal ? "ok" : "BELOW");
    std::printf("\n");
    auto key = std::make_pair(r.Kernel, r.N);
    if (!worst.count(key)) order.push_back(key);
    TWorst& w = worst[key];
    w.Goal = r.Goal;
    if (ratio < w.Ratio) {
      w.Ratio = ratio;
      w.Offsets = r.Offsets;
    }
  }
  std::printf("\nWorst offset combination of each kernel (speed relative to aligned)\n");
  std::printf("%-22s %8s %14s %7s %6s\n", "kernel", "n", "offsets", "ratio", "goal");
  for (const auto& key : order) {
    const TWorst& w = worst[key];
    std::printf("%-22s %8d %14s %7.3f", key.first.c_str(), key.second, w.Offsets.c_str(), w.Ratio);
    if (w.Goal > 0) std::printf(" %6.2f %s", w.Goal, w.Ratio >= w.Goal ? "ok" : "BELOW");
    std::printf("\n");
  }
  benchmark::Shutdown();
  return 0;
}
