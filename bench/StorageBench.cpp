// Benchmarks of buffer storage: serialising a 1,000,000-element real buffer
// and reading it back by class name (goal: at least 1 GB/s each way), and
// SaveToStream / LoadFromStream against a plain memcpy of the same bytes in
// the same run, with the ratios printed.
#include <cstdio>
#include <cstring>
#include <vector>

#include <benchmark/benchmark.h>
#include "BenchSupport.h"
#include "nxruntime.h"

namespace {

using nx::TIntfPtr;
using TBuffer = TIntfPtr<nx::INXRealBuffer>;

constexpr std::uint32_t kCount = 1000000;
constexpr std::int64_t kBytes = std::int64_t{kCount} * 8;

TBuffer Sample() {
  TBuffer b = nx::TNXRealBuffer::MakeSize(kCount);
  double* p = b->Write();
  for (std::uint32_t i = 0; i < kCount; ++i) p[i] = i * 0.5;
  b->GetSequenceStamp()->SetBufferNumber(17);
  return b;
}

void BM_SerializeWrite(benchmark::State& state) {
  TBuffer b = Sample();
  nx::TMemoryStream s;
  s.SetCapacity(kBytes + 4096);
  for (auto _ : state) {
    s.SetPosition(0);
    nx::NXSaveDataObject(s, b.Get());
    benchmark::DoNotOptimize(s.Memory());
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}
BENCHMARK(BM_SerializeWrite)->UseRealTime();

void BM_SerializeRead(benchmark::State& state) {
  TBuffer b = Sample();
  nx::TMemoryStream s;
  nx::NXSaveDataObject(s, b.Get());
  bool equal = true;
  for (auto _ : state) {
    s.SetPosition(0);
    TIntfPtr<nx::INXData> back = nx::NXLoadDataObject(s);
    benchmark::DoNotOptimize(back.Get());
    if (state.iterations() == 1) equal = Supports<nx::INXRealBuffer>(back)->IsEqual(b);
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
  if (!equal) state.SkipWithError("the buffer read back differs");
}
BENCHMARK(BM_SerializeRead)->UseRealTime();

void BM_SaveToStream(benchmark::State& state) {
  TBuffer b = Sample();
  nx::TMemoryStream s;
  s.SetCapacity(kBytes);
  for (auto _ : state) {
    s.SetPosition(0);
    b->SaveToStream(s);
    benchmark::DoNotOptimize(s.Memory());
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}
BENCHMARK(BM_SaveToStream)->UseRealTime();

void BM_LoadFromStream(benchmark::State& state) {
  TBuffer b = Sample();
  nx::TMemoryStream s;
  b->SaveToStream(s);
  TBuffer target = nx::TNXRealBuffer::MakeSize(kCount);
  for (auto _ : state) {
    s.SetPosition(0);
    target->LoadFromStream(s, false);
    benchmark::DoNotOptimize(target->Read());
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}
BENCHMARK(BM_LoadFromStream)->UseRealTime();

// The baseline: the same bytes copied with memcpy between two arrays that
// already exist.
void BM_Memcpy(benchmark::State& state) {
  TBuffer b = Sample();
  std::vector<std::uint8_t> dst(kBytes);
  for (auto _ : state) {
    std::memcpy(dst.data(), b->Read(), kBytes);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kBytes);
}
BENCHMARK(BM_Memcpy)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  nxbench::TCollectingReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);

  // Times are in nanoseconds per iteration; one iteration moves kBytes.
  for (const char* name : {"BM_SerializeWrite", "BM_SerializeRead"}) {
    const double ns = rep.Time(name);
    if (ns <= 0) continue;
    const double gbs = static_cast<double>(kBytes) / ns;
    std::printf("%-20s %8.2f GB/s (goal >= 1 GB/s): %s\n", name, gbs, gbs >= 1.0 ? "ok" : "BELOW");
  }
  nxbench::PrintRatios(rep, "Storage of 1,000,000 doubles against memcpy of the same bytes (real time)",
                       {{"SaveToStream", "BM_SaveToStream", "BM_Memcpy", 0.8},
                        {"LoadFromStream", "BM_LoadFromStream", "BM_Memcpy", 0.8},
                        {"Serialise (NXSaveDataObject)", "BM_SerializeWrite", "BM_Memcpy", 0.5},
                        {"Read back (NXLoadDataObject)", "BM_SerializeRead", "BM_Memcpy", 0.5}},
                       "memcpy/ours");
  benchmark::Shutdown();
  return 0;
}
