// The example package's filters on the data path, and the filter demo's graph:
//   (a) the FIR filter component (255 taps) and the IIR band-pass component
//       (order 8) on 1,024-sample buffers sent from a pin, against the bare
//       filtering primitives on the same buffers (the peer: what the
//       components add is the skeleton and the copy-free hand-over);
//   (b) 60 s of a 48 kHz stream on virtual time: noise and two sines, each
//       on its own clock, into a 3-input mixer, then a 255-tap FIR low-pass
//       and an order-8 IIR band-pass side by side into counting sinks.
//       Goal: under 1 s of wall time;
//   (c) the Gaussian noise generator's samples, 1,024 a buffer, against the
//       same polar Box-Muller method written plainly (one std::log per pair)
//       on the same random numbers;
//   (d) the sine generator's samples against std::sin per sample.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "components/NXClockGen.h"
#include "packages/nxexamples/NXExampleFilters.h"
#include "packages/nxexamples/NXExampleSources.h"

namespace {

using namespace nx;
using namespace nx::examples;

constexpr int kSize = 1024;

// Counts the samples that arrive (no copy, no lock: the count is all a
// waiting thread reads).
struct TCounter {
  TNXFTRealSinkPin Pin{"In"};
  std::atomic<std::int64_t> Samples{0};
  TCounter() {
    Pin.SetGenericDispatch([this](TFTBasicPin*, const TGUID&, const TIntfPtr<IFTNotifyOperation>& AOp, TFTNotifyState) {
      if (auto* d = AOp->As<TFTTypedSuppliedDataOperation>()) {
        TIntfPtr<INXRealBuffer> b;
        if (Supports(d->GetValue(), b)) Samples.fetch_add(b->GetSize(), std::memory_order_relaxed);
      }
      return true;
    });
  }
};

TNXFirFilter* MakeFir() {
  auto* f = new TNXFirFilter(nullptr);
  f->SetOrder(254);
  f->SetLowFrequency(4000);
  return f;
}
TNXIirFilter* MakeIir() {
  auto* f = new TNXIirFilter(nullptr);
  f->SetOrder(8);
  return f;
}

template <class TFilter>
void RunComponent(benchmark::State& state, TFilter* AFilter) {
  TNXFTRealSourcePin source("Source");
  TCounter sink;
  source.Connect(AFilter->InputPin());
  AFilter->OutputPin()->Connect(&sink.Pin);
  source.Notify(TFTStartSampleRateOperation::Make(48000));
  std::vector<double> x(kSize);
  for (int i = 0; i < kSize; ++i) x[i] = std::sin(i * 0.01);
  for (auto _ : state) {
    const auto b = TNXRealBuffer::MakeSize(kSize);  // what a generator sends
    std::copy(x.begin(), x.end(), b->Write());
    source.SubmitBuffer(b);
  }
  state.SetItemsProcessed(state.iterations() * kSize);
  AFilter->OutputPin()->DisconnectAll();
  source.DisconnectAll();
  TComponent::Free(AFilter);
}

// The peer: the same buffers through the primitive and the same taps.
template <class TFilter>
void RunPrimitive(benchmark::State& state, TFilter* AFilter) {
  const std::vector<double> taps = AFilter->Design(48000)->GetTaps();
  TComponent::Free(AFilter);
  constexpr bool fir = std::is_same_v<TFilter, TNXFirFilter>;
  IppsFIRState_64f* firState = nullptr;
  IppsIIRState_64f* iirState = nullptr;
  if (fir) ippsFIRInitAlloc_64f(&firState, taps.data(), static_cast<int>(taps.size()), nullptr);
  else ippsIIRInitAlloc_BiQuad_64f(&iirState, taps.data(), static_cast<int>(taps.size() / 6), nullptr);
  std::vector<double> x(kSize);
  for (int i = 0; i < kSize; ++i) x[i] = std::sin(i * 0.01);
  for (auto _ : state) {
    // The same buffer a generator would send, filtered in place.
    const auto b = TNXRealBuffer::MakeSize(kSize);
    double* y = b->Write();
    std::copy(x.begin(), x.end(), y);
    if (fir) ippsFIR_64f(y, y, kSize, firState);
    else ippsIIR_64f(y, y, kSize, iirState);
    benchmark::DoNotOptimize(y);
  }
  state.SetItemsProcessed(state.iterations() * kSize);
  if (fir) ippsFIRFree_64f(firState);
  else ippsIIRFree_64f(iirState);
}

void BM_FirComponent(benchmark::State& state) { RunComponent(state, MakeFir()); }
void BM_FirPrimitive(benchmark::State& state) { RunPrimitive(state, MakeFir()); }
void BM_IirComponent(benchmark::State& state) { RunComponent(state, MakeIir()); }
void BM_IirPrimitive(benchmark::State& state) { RunPrimitive(state, MakeIir()); }
BENCHMARK(BM_FirComponent)->Repetitions(3);
BENCHMARK(BM_FirPrimitive)->Repetitions(3);
BENCHMARK(BM_IirComponent)->Repetitions(3);
BENCHMARK(BM_IirPrimitive)->Repetitions(3);

// (b) the whole graph, once per iteration.
void BM_Graph60s(benchmark::State& state) {
  constexpr std::int64_t kSamples = 60 * 48000;
  for (auto _ : state) {
    TNXVirtualClockGuard virtualTime;
    auto* noise = new TNXNoiseGenerator(nullptr);
    noise->SetAmplitude(0.1);
    auto* low = new TNXSineGenerator(nullptr);
    auto* high = new TNXSineGenerator(nullptr);
    high->SetFrequency(7000);
    auto* mixer = new TNXMixer(nullptr);
    mixer->SetInputCountProp(3);
    TNXExampleRealGen* gens[] = {noise, low, high};
    for (int i = 0; i < 3; ++i) {
      gens[i]->SetSampleRate(48000);
      gens[i]->SetBufferSize(kSize);
      gens[i]->OutputPin().Connect(static_cast<TFTSinkPin*>(mixer->GetInputPin(i)));
    }
    TNXFirFilter* fir = MakeFir();
    TNXIirFilter* iir = MakeIir();
    TCounter firSink, iirSink;
    mixer->OutputPin().Connect(fir->InputPin());
    mixer->OutputPin().Connect(iir->InputPin());
    fir->OutputPin()->Connect(&firSink.Pin);
    iir->OutputPin()->Connect(&iirSink.Pin);
    for (auto* g : gens) g->Start();
    while (iirSink.Samples.load(std::memory_order_relaxed) < kSamples)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    for (auto* g : gens) g->Stop();
    firSink.Pin.DisconnectAll();
    iirSink.Pin.DisconnectAll();
    for (TComponent* c : {static_cast<TComponent*>(noise), static_cast<TComponent*>(low),
                          static_cast<TComponent*>(high), static_cast<TComponent*>(mixer),
                          static_cast<TComponent*>(fir), static_cast<TComponent*>(iir)})
      TComponent::Free(c);
  }
}
BENCHMARK(BM_Graph60s)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1)->Repetitions(3);

// A generator's own work on one buffer at a time (its production hook
// called directly: no clock, no sending), 256 buffers an iteration. ASetUp
// sets the generator's properties.
template <class TGen, class TSetUp>
void RunGenerator(benchmark::State& state, TSetUp ASetUp) {
  struct TOpen : TGen {
    using TGen::TGen;
    void Fill(TIntfPtr<INXDataBuffer>& ABuffer) {
      bool send = true, stop = false;
      this->IntGenerate(ABuffer, send, stop);
    }
  };
  auto* gen = new TOpen(nullptr);
  ASetUp(*gen);
  TIntfPtr<INXDataBuffer> buffer = TNXRealBuffer::MakeSize(kSize);
  for (auto _ : state) {
    for (int b = 0; b < 256; ++b) gen->Fill(buffer);
    benchmark::DoNotOptimize(buffer.Get());
  }
  TComponent::Free(gen);
  state.SetItemsProcessed(state.iterations() * 256 * kSize);
}

// (c) Gaussian noise: the generator ...
void BM_NoiseGenerator(benchmark::State& state) {
  RunGenerator<TNXNoiseGenerator>(state, [](TNXNoiseGenerator& g) { g.SetSeed(1); });  // seeds the state
}
BENCHMARK(BM_NoiseGenerator)->Repetitions(3);

// ... and the plain method over the same xoshiro256** numbers into one buffer.
void BM_NoisePlain(benchmark::State& state) {
  std::uint64_t st[4] = {0x9E3779B97F4A7C15ull, 0xBF58476D1CE4E5B9ull, 0x94D049BB133111EBull, 1};
  auto next = [&] {
    auto rotl = [](std::uint64_t v, int k) { return (v << k) | (v >> (64 - k)); };
    const std::uint64_t result = rotl(st[1] * 5, 7) * 9, t = st[1] << 17;
    st[2] ^= st[0], st[3] ^= st[1], st[1] ^= st[2], st[0] ^= st[3], st[2] ^= t, st[3] = rotl(st[3], 45);
    return static_cast<double>(result >> 11) * 0x1.0p-53;
  };
  std::vector<double> out(kSize);
  for (auto _ : state) {
    for (int b = 0; b < 256; ++b) {
      for (int i = 0; i < kSize; i += 2) {
        double u, v, s;
        do {
          u = 2 * next() - 1;
          v = 2 * next() - 1;
          s = u * u + v * v;
        } while (s >= 1 || s == 0);
        const double f = std::sqrt(-2 * std::log(s) / s);
        out[i] = u * f;
        out[i + 1] = v * f;
      }
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.SetItemsProcessed(state.iterations() * 256 * kSize);
}
BENCHMARK(BM_NoisePlain)->Repetitions(3);

// (d) A sine: the generator, and std::sin of each sample's phase (the cycle
// kept as the generator keeps it).
void BM_SineGenerator(benchmark::State& state) {
  RunGenerator<TNXSineGenerator>(state, [](TNXSineGenerator& g) {
    g.SetSampleRate(48000);
    g.SetFrequency(440);
  });
}
BENCHMARK(BM_SineGenerator)->Repetitions(3);

void BM_SinePlain(benchmark::State& state) {
  const double step = 440.0 / 48000;
  double cycle = 0;
  std::vector<double> out(kSize);
  for (auto _ : state) {
    for (int b = 0; b < 256; ++b) {
      for (int i = 0; i < kSize; ++i) {
        out[i] = std::sin(2 * M_PI * cycle);
        cycle += step;
        cycle -= std::floor(cycle);
      }
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.SetItemsProcessed(state.iterations() * 256 * kSize);
}
BENCHMARK(BM_SinePlain)->Repetitions(3);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  nxbench::TCollectingReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  nxbench::PrintRatios(rep, "Example filters against the bare primitives (min CPU time; goal: at least 0.9)",
                       {{"FIR 255 taps, 1,024-sample buffers", "BM_FirComponent", "BM_FirPrimitive", 0.9},
                        {"IIR band-pass order 8, 1,024-sample buffers", "BM_IirComponent", "BM_IirPrimitive", 0.9}},
                       "speed", true);
  nxbench::PrintRatios(rep, "Gaussian noise against the plain method (min CPU time; goal: at least 1)",
                       {{"1,024-sample buffers", "BM_NoiseGenerator", "BM_NoisePlain", 1.0}}, "speed", true);
  nxbench::PrintRatios(rep, "Sine against std::sin per sample (min CPU time; goal: at least 1)",
                       {{"1,024-sample buffers", "BM_SineGenerator", "BM_SinePlain", 1.0}}, "speed", true);
  const double fir = rep.Cpu("BM_FirComponent"), iir = rep.Cpu("BM_IirComponent");
  if (fir > 0) std::printf("FIR component: %.3g samples/s\n", kSize / fir * 1e9);
  if (iir > 0) std::printf("IIR component: %.3g samples/s\n", kSize / iir * 1e9);
  const double graph = rep.Time("BM_Graph60s/iterations:1/real_time");
  if (graph > 0)
    std::printf("60 s of 48 kHz through mixer, FIR and IIR: %.3f s wall   goal < 1 s   %s\n", graph / 1000,
                graph < 1000 ? "ok" : "ABOVE");
  benchmark::Shutdown();
  return 0;
}
