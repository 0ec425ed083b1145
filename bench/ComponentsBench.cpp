// Benchmarks of the property-object layer: reading a published property by
// name through the declarations (goal under 50 ns), the same through a
// property looked up once, and a notifying setter given an unchanged value
// (goal under 20 ns), beside a plain locked field read for scale.
#include <cstdio>
#include <cstdint>
#include <memory>

#include <benchmark/benchmark.h>
#include "BenchSupport.h"
#include "nxruntime.h"

namespace {

using namespace nx;

enum TBenchMode { bmFirst, bmSecond };
NX_ENUM_NAMES(TBenchMode, "bmFirst", "bmSecond")

class TBenchQueue : public TLockPersistent {
  NX_PERSISTENT(TBenchQueue, TLockPersistent)
 public:
  explicit TBenchQueue(TPersistent* AOwner) : TLockPersistent(AOwner) { InitProperties(this); }
  std::uint32_t Size() const { return ReadLocked(FSize); }
  void SetSize(std::uint32_t AValue) { SetNotifyMin(FSize, AValue, 1u); }
  static void DeclareProperties(TClassBuilder<TBenchQueue>& P) {
    P.Prop<&TBenchQueue::FSize, &TBenchQueue::SetSize>("Size", 15u).Min(1u);
    P.Prop<&TBenchQueue::FFullMode>("FullMode", bmFirst);
    P.Prop<&TBenchQueue::FRate>("Rate", 44100.0);
    P.Prop<&TBenchQueue::FEnabled>("Enabled", true);
    P.Prop<&TBenchQueue::FPriority>("Priority", 3);
    P.Prop<&TBenchQueue::FName>("Caption", "queue");
  }

 private:
  std::uint32_t FSize;
  TBenchMode FFullMode;
  double FRate;
  bool FEnabled;
  std::int32_t FPriority;
  std::string FName;
};

class TBenchComponent : public TLockComponent {
  NX_PERSISTENT(TBenchComponent, TLockComponent)
 public:
  explicit TBenchComponent(TComponent* AOwner) : TLockComponent(AOwner) { InitProperties(this); }
  TBenchQueue& Queue() { return *FQueue; }
  static void DeclareProperties(TClassBuilder<TBenchComponent>& P) { P.Prop<&TBenchComponent::FQueue>("Queue"); }

 private:
  std::unique_ptr<TBenchQueue> FQueue;
};

void BM_GetPropValueByName(benchmark::State& state) {
  TBenchComponent c(nullptr);
  TBenchQueue& q = c.Queue();
  for (auto _ : state) {
    TVariant v = GetPropValue(q, "Size");
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(BM_GetPropValueByName);

void BM_GetPropTextByName(benchmark::State& state) {
  TBenchComponent c(nullptr);
  TBenchQueue& q = c.Queue();
  for (auto _ : state) {
    std::string s = GetPropText(q, "Priority");
    benchmark::DoNotOptimize(s);
  }
}
BENCHMARK(BM_GetPropTextByName);

void BM_GetPropValueLookedUpOnce(benchmark::State& state) {
  TBenchComponent c(nullptr);
  TBenchQueue& q = c.Queue();
  const TPropInfo& p = q.GetClassInfo().Property("Size");
  for (auto _ : state) {
    TVariant v = p.Get(q);
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(BM_GetPropValueLookedUpOnce);

void BM_SetterUnchanged(benchmark::State& state) {
  TBenchComponent c(nullptr);
  TBenchQueue& q = c.Queue();
  std::uint32_t value = q.Size();
  for (auto _ : state) {
    benchmark::DoNotOptimize(value);
    q.SetSize(value);
  }
}
BENCHMARK(BM_SetterUnchanged);

void BM_SetPropValueByNameUnchanged(benchmark::State& state) {
  TBenchComponent c(nullptr);
  TBenchQueue& q = c.Queue();
  const TVariant v(std::uint32_t{15});
  for (auto _ : state) SetPropValue(q, "Size", v);
}
BENCHMARK(BM_SetPropValueByNameUnchanged);

// For scale: the typed getter, a field copy under the same lock.
void BM_LockedFieldRead(benchmark::State& state) {
  TBenchComponent c(nullptr);
  TBenchQueue& q = c.Queue();
  for (auto _ : state) benchmark::DoNotOptimize(q.Size());
}
BENCHMARK(BM_LockedFieldRead);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  nxbench::TCollectingReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  struct TGoal {
    const char* Label;
    const char* Name;
    double Ns;
  };
  const TGoal goals[] = {{"property read by name (variant)", "BM_GetPropValueByName", 50},
                         {"property read by name (text)", "BM_GetPropTextByName", 0},
                         {"property read, looked up once", "BM_GetPropValueLookedUpOnce", 0},
                         {"notifying setter, unchanged value", "BM_SetterUnchanged", 20},
                         {"set by name, unchanged value", "BM_SetPropValueByNameUnchanged", 0},
                         {"typed getter (locked field read)", "BM_LockedFieldRead", 0}};
  std::printf("\n%-40s %10s %8s\n", "case", "ns", "goal");
  for (const TGoal& g : goals) {
    const double ns = rep.Cpu(g.Name);
    if (ns <= 0) continue;
    if (g.Ns > 0)
      std::printf("%-40s %10.1f %8.0f %s\n", g.Label, ns, g.Ns, ns < g.Ns ? "ok" : "ABOVE");
    else
      std::printf("%-40s %10.1f %8s\n", g.Label, ns, "-");
  }
  benchmark::Shutdown();
  return 0;
}
