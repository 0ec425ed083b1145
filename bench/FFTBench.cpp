// Benchmark of the built-in FFT against FFTW: complex and real (CCS)
// transforms of every order from 4 to 20, even and odd, out of place with a
// work buffer, beside FFTW plans made with FFTW_MEASURE and FFTW_ESTIMATE
// (planned outside the timed loop), then a ratio table per order (FFTW time /
// our time: above 1 we are faster; the goal against FFTW_MEASURE, 1.25, is
// our time at most 0.8 times FFTW's) and a summary of our time over
// FFTW_MEASURE's per order. Each case runs three times and the tables compare
// the smallest CPU times (FFTW keeps what it learnt while planning, so its later
// repetitions plan quickly).
#include <fftw3.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "vector/NXBasicDispatcher.h"
#include "vector/builtin/NXBuiltinFFT.h"
#include "vector/builtin/NXBuiltins.h"

namespace {

using namespace nx;
namespace b = nx::builtin;

constexpr int kMinOrder = 4, kMaxOrder = 20;

// Storage on a 64-byte boundary (a cache line, as the library's own buffers
// are; FFTW's allocator only promises 32 bytes, which AVX-512 loads would
// straddle), for both sides.
struct TArr {
  explicit TArr(size_t doubles)
      : P(static_cast<double*>(std::aligned_alloc(64, (doubles * sizeof(double) + 63) & ~size_t(63)))), N(doubles) {
    std::mt19937_64 gen(7);
    std::uniform_real_distribution<double> dist(-1, 1);
    for (size_t i = 0; i < N; ++i) P[i] = dist(gen);
  }
  ~TArr() { std::free(P); }
  TArr(const TArr&) = delete;
  TArr& operator=(const TArr&) = delete;
  double* P;
  size_t N;
};

void OursComplex(benchmark::State& st, int order) {
  const size_t n = size_t(1) << order;
  IppsFFTSpec_C_64fc* spec = nullptr;
  b::ippsFFTInitAlloc_C_64fc(&spec, order, IPP_FFT_NODIV_BY_ANY, ippAlgHintNone);
  int size = 0;
  b::ippsFFTGetBufSize_C_64fc(spec, &size);
  Ipp8u* buf = static_cast<Ipp8u*>(nx::_ippMalloc(size > 0 ? size : 1));
  TArr in(2 * n), out(2 * n);
  for (auto _ : st) {
    b::ippsFFTFwd_CToC_64fc(reinterpret_cast<const Ipp64fc*>(in.P), reinterpret_cast<Ipp64fc*>(out.P), spec, buf);
    benchmark::ClobberMemory();
  }
  nx::_ippFree(buf);
  b::ippsFFTFree_C_64fc(spec);
}

void OursReal(benchmark::State& st, int order) {
  const size_t n = size_t(1) << order;
  IppsFFTSpec_R_64f* spec = nullptr;
  b::ippsFFTInitAlloc_R_64f(&spec, order, IPP_FFT_NODIV_BY_ANY, ippAlgHintNone);
  int size = 0;
  b::ippsFFTGetBufSize_R_64f(spec, &size);
  Ipp8u* buf = static_cast<Ipp8u*>(nx::_ippMalloc(size > 0 ? size : 1));
  TArr in(n), out(n + 2);
  for (auto _ : st) {
    b::ippsFFTFwd_RToCCS_64f(in.P, out.P, spec, buf);
    benchmark::ClobberMemory();
  }
  nx::_ippFree(buf);
  b::ippsFFTFree_R_64f(spec);
}

void FftwComplex(benchmark::State& st, int order, unsigned flags) {
  const size_t n = size_t(1) << order;
  TArr in(2 * n), out(2 * n);
  fftw_plan plan = fftw_plan_dft_1d(int(n), reinterpret_cast<fftw_complex*>(in.P),
                                    reinterpret_cast<fftw_complex*>(out.P), FFTW_FORWARD, flags);
  TArr fresh(2 * n);  // planning with MEASURE overwrites the arrays
  for (size_t i = 0; i < 2 * n; ++i) in.P[i] = fresh.P[i];
  for (auto _ : st) {
    fftw_execute(plan);
    benchmark::ClobberMemory();
  }
  fftw_destroy_plan(plan);
}

void FftwReal(benchmark::State& st, int order, unsigned flags) {
  const size_t n = size_t(1) << order;
  TArr in(n), out(n + 2);
  fftw_plan plan = fftw_plan_dft_r2c_1d(int(n), in.P, reinterpret_cast<fftw_complex*>(out.P), flags);
  TArr fresh(n);
  for (size_t i = 0; i < n; ++i) in.P[i] = fresh.P[i];
  for (auto _ : st) {
    fftw_execute(plan);
    benchmark::ClobberMemory();
  }
  fftw_destroy_plan(plan);
}

// Planning: InitAlloc + Free of one spec of the given order.
template <class TSpec>
void Init(benchmark::State& st, int order, IppStatus (*init)(TSpec**, int, int, IppHintAlgorithm),
          IppStatus (*release)(TSpec*)) {
  for (auto _ : st) {
    TSpec* spec = nullptr;
    if (init(&spec, order, IPP_FFT_NODIV_BY_ANY, ippAlgHintNone) != ippStsNoErr) st.SkipWithError("InitAlloc failed");
    release(spec);
  }
}

std::string Name(const char* what, int order) { return std::string(what) + "/" + std::to_string(order); }

}  // namespace

int main(int argc, char** argv) {
  for (int o = kMinOrder; o <= kMaxOrder; ++o) {
    for (auto* b : {benchmark::RegisterBenchmark(Name("fft_c_ours", o).c_str(), OursComplex, o),
                    benchmark::RegisterBenchmark(Name("fft_c_fftw_measure", o).c_str(), FftwComplex, o,
                                                 unsigned(FFTW_MEASURE)),
                    benchmark::RegisterBenchmark(Name("fft_c_fftw_estimate", o).c_str(), FftwComplex, o,
                                                 unsigned(FFTW_ESTIMATE)),
                    benchmark::RegisterBenchmark(Name("fft_r_ours", o).c_str(), OursReal, o),
                    benchmark::RegisterBenchmark(Name("fft_r_fftw_measure", o).c_str(), FftwReal, o,
                                                 unsigned(FFTW_MEASURE)),
                    benchmark::RegisterBenchmark(Name("fft_r_fftw_estimate", o).c_str(), FftwReal, o,
                                                 unsigned(FFTW_ESTIMATE))})
      b->Repetitions(3);
  }
  benchmark::RegisterBenchmark(Name("fft_init_c", kMaxOrder).c_str(), Init<IppsFFTSpec_C_64fc>, kMaxOrder,
                               b::ippsFFTInitAlloc_C_64fc, b::ippsFFTFree_C_64fc);
  benchmark::RegisterBenchmark(Name("fft_init_r", kMaxOrder).c_str(), Init<IppsFFTSpec_R_64f>, kMaxOrder,
                               b::ippsFFTInitAlloc_R_64f, b::ippsFFTFree_R_64f);
  benchmark::Initialize(&argc, argv);
  nxbench::TCollectingReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  std::printf("\nSIMD target: %s\n", nx::builtin::SimdTargetName());
  for (const char* kind : {"c", "r"}) {
    std::vector<nxbench::TRatio> vsMeasure, vsEstimate;
    for (int o = kMinOrder; o <= kMaxOrder; ++o) {
      const std::string ours = Name((std::string("fft_") + kind + "_ours").c_str(), o);
      // Goals: at most 0.8x FFTW_MEASURE's time at every order; faster than
      // FFTW_ESTIMATE from order 10 up.
      vsMeasure.push_back({Name(kind[0] == 'c' ? "complex order" : "real order", o), ours,
                           Name((std::string("fft_") + kind + "_fftw_measure").c_str(), o), 1.0 / 0.8});
      vsEstimate.push_back({Name(kind[0] == 'c' ? "complex order" : "real order", o), ours,
                            Name((std::string("fft_") + kind + "_fftw_estimate").c_str(), o), o >= 10 ? 1.0 : 0.0});
    }
    nxbench::PrintRatios(rep, kind[0] == 'c' ? "complex vs FFTW_MEASURE (FFTW time / ours)"
                                             : "real vs FFTW_MEASURE (FFTW time / ours)",
                         vsMeasure, "ratio", true);
    nxbench::PrintRatios(rep, kind[0] == 'c' ? "complex vs FFTW_ESTIMATE (FFTW time / ours)"
                                             : "real vs FFTW_ESTIMATE (FFTW time / ours)",
                         vsEstimate, "ratio", true);
  }
  // One line per order: our time as a fraction of FFTW_MEASURE's.
  std::printf("\nOur time / FFTW_MEASURE's (goal <= 0.80)\n%-6s %9s %9s\n", "order", "complex", "real");
  int misses = 0;
  for (int o = kMinOrder; o <= kMaxOrder; ++o) {
    std::printf("%-6d", o);
    for (const char* kind : {"c", "r"}) {
      const double ours = rep.Cpu(Name((std::string("fft_") + kind + "_ours").c_str(), o));
      const double peer = rep.Cpu(Name((std::string("fft_") + kind + "_fftw_measure").c_str(), o));
      if (ours <= 0 || peer <= 0) {
        std::printf(" %9s", "-");
        continue;
      }
      const double r = ours / peer;
      misses += r > 0.8 ? 1 : 0;
      std::printf(" %8.3f%s", r, r > 0.8 ? "*" : " ");
    }
    std::printf("\n");
  }
  std::printf("cases above 0.80 (*): %d\n", misses);
  // Planning time of the longest transforms (goal: under 50 ms each).
  for (const char* kind : {"c", "r"}) {
    const double ms = rep.Time(Name((std::string("fft_init_") + kind).c_str(), kMaxOrder)) / 1e6;
    std::printf("\nInitAlloc + Free, %s order %d: %.2f ms, goal < 50 ms: %s", kind[0] == 'c' ? "complex" : "real",
                kMaxOrder, ms, ms > 0 && ms < 50 ? "ok" : (ms > 0 ? "ABOVE" : "not run"));
  }
  std::printf("\n");
  return 0;
}
