// Multi-input benchmark: a mixer of 8 real inputs at equal rates (1,024-sample
// buffers sent through source pins, queued, summed and sent on) against
// summing the same samples with the primitives on raw arrays. The goal: the
// mixer at most 1.5 x the raw sum plus 1 us per output buffer.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "BenchSupport.h"
#include "nxruntime.h"

namespace {

using namespace nx;

constexpr std::int32_t kInputs = 8;
constexpr std::int32_t kSize = 1024;

class TBenchMixer : public TNXRealMultiInput {
 public:
  TBenchMixer() : TNXRealMultiInput(nullptr) {
    GetOutputBuffer().SetAutoSize(false);
    GetOutputBuffer().SetSize(kSize);
    SetInputCount(kInputs);
  }
  ~TBenchMixer() override { ClosePins(); }
  bool CalculateSendOutput(std::int32_t ASize) override {
    const auto out = TNXRealBuffer::MakeSize(static_cast<std::uint32_t>(ASize));
    SumInputs(out->Write(), ASize);
    Last = out;
    OutputPin().SubmitBuffer(out);
    return true;
  }
  TIntfPtr<INXRealBuffer> Last;
};

std::vector<TIntfPtr<INXRealBuffer>> Inputs() {
  std::vector<TIntfPtr<INXRealBuffer>> in;
  for (std::int32_t k = 0; k < kInputs; ++k) in.push_back(TNXRealBuffer::MakeValue(0.25 * (k + 1), kSize));
  return in;
}

// One output buffer per iteration: each of the 8 sources sends one buffer
// (the same buffer objects every time: no copies), the last completes the mix.
void BM_Mixer8Inputs(benchmark::State& state) {
  TBenchMixer mixer;
  TNXFTRealSinkPin sink("Sink", {}, nullptr,
                        [](TFTBasicPin*, IFTStream*, const TGUID&, const TIntfPtr<IFTNotifyOperation>&, TFTNotifyState) {
                          return true;
                        });
  mixer.OutputPin().Connect(&sink);
  std::vector<std::unique_ptr<TNXFTRealSourcePin>> sources;
  for (std::int32_t k = 0; k < kInputs; ++k) {
    sources.push_back(std::make_unique<TNXFTRealSourcePin>("Source"));
    sources.back()->Connect(static_cast<TFTSinkPin*>(mixer.GetInputPin(k)));
    sources.back()->Notify(TFTStartSampleRateOperation::Make(48000));
  }
  const auto in = Inputs();
  for (auto _ : state) {
    for (std::int32_t k = 0; k < kInputs; ++k) sources[k]->SubmitBuffer(in[k]);
  }
  if (!mixer.Last || mixer.Last->GetItem(0) != 0.25 * kInputs * (kInputs + 1) / 2) state.SkipWithError("wrong mix");
  mixer.Last = nullptr;
}
BENCHMARK(BM_Mixer8Inputs)->Repetitions(5);

// The same sums on raw arrays: copy the first input, add the other seven.
void BM_RawSum8Inputs(benchmark::State& state) {
  const auto in = Inputs();
  std::vector<double> out(kSize);
  for (auto _ : state) {
    ippsCopy_64f(in[0]->Read(), out.data(), kSize);
    for (std::int32_t k = 1; k < kInputs; ++k) ippsAdd_64f_I(in[k]->Read(), out.data(), kSize);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_RawSum8Inputs)->Repetitions(5);

// What the pins alone cost: the same 8 sends, each to a sink that only
// keeps the buffer, and the raw sum of the kept buffers; the mixer's own work
// is the difference to BM_Mixer8Inputs.
void BM_Send8AndRawSum(benchmark::State& state) {
  std::vector<TIntfPtr<INXRealBuffer>> kept(kInputs);
  std::vector<std::unique_ptr<TNXFTRealSourcePin>> sources;
  std::vector<std::unique_ptr<TNXFTRealSinkPin>> sinks;
  for (std::int32_t k = 0; k < kInputs; ++k) {
    sources.push_back(std::make_unique<TNXFTRealSourcePin>("Source"));
    sinks.push_back(std::make_unique<TNXFTRealSinkPin>(
        "Sink", TFTPinEvent{}, nullptr,
        [&kept, k](TFTBasicPin*, IFTStream*, const TGUID&, const TIntfPtr<IFTNotifyOperation>& op, TFTNotifyState) {
          if (auto* b = op->As<TFTSuppliedBufferOperation>()) kept[k] = Supports<INXRealBuffer>(b->GetValue());
          return true;
        }));
    sources.back()->Connect(sinks.back().get());
  }
  const auto in = Inputs();
  TNXFTRealSourcePin out("Out");
  for (auto _ : state) {
    for (std::int32_t k = 0; k < kInputs; ++k) sources[k]->SubmitBuffer(in[k]);
    const auto sum = TNXRealBuffer::MakeSize(kSize);
    double* d = sum->Write();
    ippsCopy_64f(kept[0]->Read(), d, kSize);
    for (std::int32_t k = 1; k < kInputs; ++k) ippsAdd_64f_I(kept[k]->Read(), d, kSize);
    out.SubmitBuffer(sum);
  }
  sources.clear();
  sinks.clear();
}
BENCHMARK(BM_Send8AndRawSum)->Repetitions(5);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  nxbench::TCollectingReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  const double mixer = rep.Cpu("BM_Mixer8Inputs"), raw = rep.Cpu("BM_RawSum8Inputs");
  if (mixer > 0 && raw > 0) {
    const double limit = 1.5 * raw + 1000.0;  // ns per output buffer
    std::printf("\nMixing 8 inputs of %d samples (smallest CPU time per output buffer)\n", kSize);
    std::printf("%-40s %10.1f ns\n", "mixer (send, queue, sum, send on)", mixer);
    std::printf("%-40s %10.1f ns\n", "raw arrays (copy + 7 adds)", raw);
    std::printf("%-40s %10.2f x   overhead %.1f ns\n", "mixer / raw", mixer / raw, mixer - raw);
    std::printf("%-40s %10.1f ns   goal: mixer <= it   %s\n", "1.5 x raw + 1 us", limit, mixer <= limit ? "ok" : "ABOVE");
    if (const double pins = rep.Cpu("BM_Send8AndRawSum"); pins > 0)
      std::printf("%-40s %10.1f ns   (the mixer's own work: %.1f ns)\n", "8 sends to plain sinks + raw sum + send", pins,
                  mixer - pins);
  }
  benchmark::Shutdown();
  return 0;
}
