// Benchmark of the executors: the rate at which a thread pool runs 1,000,000
// empty tasks (submitted one at a time, and in batches), and a parallel job of
// 64 real FFTs of order 16 on the pool beside the same job on one thread, in
// the same run. Parallel work is measured in real (wall) time; each case runs
// several times and the tables use the smallest time of its repetitions, since
// on a shared machine the other repetitions lost cores to neighbours.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "processing/Zandor.Processing.h"
#include "runtime/Zandor.Components.h"
#include "runtime/Zandor.Threading.h"
#include "vector/NXBasicDispatcher.h"
#include "vector/builtin/NXBuiltinFFT.h"

namespace {

using namespace nx;
namespace d = nx::NXBasicDispatcher;
namespace b = nx::builtin;

constexpr int kTasks = 1000000;
constexpr int kFfts = 64, kOrder = 16;

// Keeps the smallest real time of each case over its repetitions.
class TMinReporter : public nxbench::TCollectingReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.error_occurred || r.run_type != Run::RT_Iteration) continue;
      // The plain case name, without "/iterations:N/repeats:N/real_time".
      std::string name = r.benchmark_name();
      name.erase(std::min(name.size(), name.find('/')));
      const double t = r.real_accumulated_time / double(r.iterations) * 1e9;  // ns, whatever the display unit
      auto it = FMin.find(name);
      if (it == FMin.end() || t < it->second) FMin[name] = t;
    }
    TCollectingReporter::ReportRuns(runs);
  }
  double MinReal(const std::string& name) const {
    auto it = FMin.find(name);
    return it == FMin.end() ? -1.0 : it->second;
  }

 private:
  std::map<std::string, double> FMin;
};

TIntfPtr<TThreadPoolExecutor> Pool() {
  static TIntfPtr<TThreadPoolExecutor> pool(new TThreadPoolExecutor);
  return pool;
}

void EmptyTasks(benchmark::State& st) {
  auto pool = Pool();
  for (auto _ : st) {
    for (int i = 0; i < kTasks; ++i) pool->Submit([] {});
    pool->WaitIdle();
  }
  st.counters["tasks/s"] = benchmark::Counter(double(kTasks), benchmark::Counter::kIsIterationInvariantRate);
}

void EmptyTasksBatched(benchmark::State& st) {
  auto pool = Pool();
  std::vector<TTask> batch;
  for (auto _ : st) {
    for (int i = 0; i < kTasks; i += 1024) {
      for (int k = 0; k < 1024 && i + k < kTasks; ++k) batch.emplace_back([] {});
      pool->SubmitBatch(batch);
    }
    pool->WaitIdle();
  }
  st.counters["tasks/s"] = benchmark::Counter(double(kTasks), benchmark::Counter::kIsIterationInvariantRate);
}

// 64 signals, their spectra and a work buffer each, and one shared transform.
struct TFftJob {
  TFftJob() {
    b::ippsFFTInitAlloc_R_64f(&Spec, kOrder, IPP_FFT_NODIV_BY_ANY, ippAlgHintNone);
    int size = 0;
    b::ippsFFTGetBufSize_R_64f(Spec, &size);
    std::mt19937_64 gen(7);
    std::uniform_real_distribution<double> dist(-1, 1);
    for (int k = 0; k < kFfts; ++k) {
      In.emplace_back(size_t(1) << kOrder);
      for (double& x : In.back()) x = dist(gen);
      Out.emplace_back((size_t(1) << kOrder) + 2);
      Work.push_back(static_cast<Ipp8u*>(d::_ippMalloc(std::max(size, 1))));
    }
    for (int k = 0; k < kFfts; ++k) Run(k);  // every page touched before timing
  }
  ~TFftJob() {
    for (Ipp8u* w : Work) d::_ippFree(w);
    b::ippsFFTFree_R_64f(Spec);
  }
  void Run(int k) { b::ippsFFTFwd_RToCCS_64f(In[k].data(), Out[k].data(), Spec, Work[k]); }

  IppsFFTSpec_R_64f* Spec = nullptr;
  std::vector<std::vector<double>> In, Out;
  std::vector<Ipp8u*> Work;
};

void FftOneThread(benchmark::State& st) {
  TFftJob job;
  for (auto _ : st) {
    for (int k = 0; k < kFfts; ++k) job.Run(k);
    benchmark::ClobberMemory();
  }
}

void FftPool(benchmark::State& st) {
  TFftJob job;
  auto pool = Pool();
  for (auto _ : st) {
    ParallelFor(*pool, kFfts, [&](std::int64_t first, std::int64_t last) {
      for (std::int64_t k = first; k < last; ++k) job.Run(int(k));
    }, 1);
    benchmark::ClobberMemory();
  }
}

// The two forms of the job alternately, round after round, keeping the
// smallest time of each: on a machine shared with other work both forms then
// meet the same load, and the minima come from the quietest rounds. AOne and
// APool keep the smallest over every run of the benchmark (negative: none yet).
void PairedRounds(benchmark::State& st, IExecutor& AExecutor, double& AOne, double& APool) {
  TFftJob job;
  using TClock = std::chrono::steady_clock;
  double one = 1e30, par = 1e30;
  for (auto _ : st) {
    auto t0 = TClock::now();
    for (int k = 0; k < kFfts; ++k) job.Run(k);
    auto t1 = TClock::now();
    ParallelFor(AExecutor, kFfts, [&](std::int64_t first, std::int64_t last) {
      for (std::int64_t k = first; k < last; ++k) job.Run(int(k));
    }, 1);
    auto t2 = TClock::now();
    one = std::min(one, std::chrono::duration<double, std::nano>(t1 - t0).count());
    par = std::min(par, std::chrono::duration<double, std::nano>(t2 - t1).count());
  }
  AOne = AOne < 0 ? one : std::min(AOne, one);
  APool = APool < 0 ? par : std::min(APool, par);
  st.counters["one_ms"] = one / 1e6;
  st.counters["pool_ms"] = par / 1e6;
  st.counters["ratio"] = one / par;
}

double GPairedOne = -1, GPairedPool = -1;

void FftPaired(benchmark::State& st) { PairedRounds(st, *Pool(), GPairedOne, GPairedPool); }

// The same paired rounds through the executor that a parallel processing
// engine hands out to a component (its pool sized to the machine), as a
// component of the data path would run the job.
class TEngineUser : public TLockComponent {
 public:
  TEngineUser() : TLockComponent(nullptr), Processing(this) {}
  TRGProcessing Processing;
};
double GEngineOne = -1, GEnginePool = -1;

void FftEnginePaired(benchmark::State& st) {
  TEngineUser user;
  auto* engine = static_cast<TRGParallelProcessingEngine*>(
      user.Processing.Engines().Add(TRGParallelProcessingEngine::StaticClassInfo()));
  engine->Pool().SetCount(static_cast<std::int32_t>(std::max(2u, std::thread::hardware_concurrency())));
  TIntfPtr<IExecutor> executor;
  std::int32_t stride = 0;
  TIntfPtr<IOCLContext> context;
  TIntfPtr<IOCLPlatform> platform;
  if (!user.Processing.GetEngines(&user, executor, stride, context, platform) || !executor) {
    st.SkipWithError("the engine handed out no executor");
    return;
  }
  PairedRounds(st, *executor, GEngineOne, GEnginePool);
  executor = nullptr;
  while (user.ComponentCount() > 0) TComponent::Free(user.Components(user.ComponentCount() - 1));
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::RegisterBenchmark("pool_empty_tasks_1M", EmptyTasks)->UseRealTime()->Repetitions(5)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("pool_empty_tasks_1M_batched", EmptyTasksBatched)
      ->UseRealTime()->Repetitions(5)->Unit(benchmark::kMillisecond);
  // One job per repetition: the minimum is then that of single jobs, as in the paired rounds.
  benchmark::RegisterBenchmark("fft64_order16_one_thread", FftOneThread)
      ->UseRealTime()->Iterations(1)->Repetitions(30)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("fft64_order16_pool", FftPool)
      ->UseRealTime()->Iterations(1)->Repetitions(30)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("fft64_order16_paired", FftPaired)->UseRealTime()->Iterations(40)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("fft64_order16_engine_paired", FftEnginePaired)->UseRealTime()->Iterations(40)->Unit(benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  TMinReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);

  std::printf("\npool of %d threads (hardware threads: %u); smallest real time of the repetitions\n",
              Pool()->ThreadCount(), std::thread::hardware_concurrency());
  for (const char* name : {"pool_empty_tasks_1M", "pool_empty_tasks_1M_batched"}) {
    const double ns = rep.MinReal(name);
    const double rate = ns > 0 ? kTasks / (ns * 1e-9) : 0;
    std::printf("%-44s %10.2f M tasks/s   goal >= 2.00 M: %s\n", name, rate / 1e6,
                ns <= 0 ? "not run" : (rate >= 2e6 ? "ok" : "BELOW"));
  }
  const double one = rep.MinReal("fft64_order16_one_thread"), par = rep.MinReal("fft64_order16_pool");
  if (one > 0 && par > 0)
    std::printf("%-44s %10.3f x one thread (%.2f ms vs %.2f ms)   goal >= 1.80: %s\n", "64 real FFTs of order 16 on the pool",
                one / par, par / 1e6, one / 1e6, one / par >= 1.8 ? "ok" : "BELOW");
  if (GPairedOne > 0 && GPairedPool > 0)
    std::printf("%-44s %10.3f x one thread (%.2f ms vs %.2f ms)   goal >= 1.80: %s\n", "  the same, alternating rounds (paired minima)",
                GPairedOne / GPairedPool, GPairedPool / 1e6, GPairedOne / 1e6, GPairedOne / GPairedPool >= 1.8 ? "ok" : "BELOW");
  if (GEngineOne > 0 && GEnginePool > 0)
    std::printf("%-44s %10.3f x one thread (%.2f ms vs %.2f ms)   goal >= 1.80: %s\n", "  through a parallel engine's executor",
                GEngineOne / GEnginePool, GEnginePool / 1e6, GEngineOne / 1e6, GEngineOne / GEnginePool >= 1.8 ? "ok" : "BELOW");
  return 0;
}
