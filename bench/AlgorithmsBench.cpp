// Speed of the signal algorithms against their goals, each beside a plain
// peer in the same run:
// - a Butterworth band-pass of order 8 designed (direct form and cascade),
//   goal under 50 us;
// - a 255-tap Kaiser-windowed FIR low-pass designed, goal under 20 us;
// - 100 MB arriving in pieces of 1 to 4,096 bytes, searched for a 4-byte
//   pattern that occurs every 1,000 bytes and cut there, goal 1 GB/s, beside
//   a plain growing vector searched with std::search; the accumulator's
//   peak of unread bytes is reported;
// - TRGAveraging.AddElement over a history of 1,000, goal under 20 ns,
//   beside summing the whole history for every value, and again with a
//   history of 100,000 (constant time: the same cost).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

#include "BenchSupport.h"
#include "algorithms/NXAveraging.h"
#include "algorithms/NXWindowFilter.h"
#include "algorithms/Zandor.BufferAccumulator.h"
#include "nxruntime.h"

namespace {

using namespace nx;

void ButterworthBandPass(benchmark::State& state, bool biquad) {
  for (auto _ : state) {
    auto info = NXFilterCalc(biquad ? ftBiquadIIR : ftIIR, fdftBandPass, 8, 1000, 3000, 48000, wtRect,
                             iirButterworth, 0);
    benchmark::DoNotOptimize(info->GetTaps().data());
  }
}

void KaiserLowPass(benchmark::State& state) {
  std::vector<double> taps;
  for (auto _ : state) {
    NXRealLowPassCalc(taps, 255, 4000, 48000, wtKaiser, 0.05);
    benchmark::DoNotOptimize(taps.data());
  }
}

// 100 MB with the pattern at every multiple of 1,000 and no other place
// (the other bytes avoid the pattern's first byte), cut into pieces of 1 to
// 4,096 bytes.
constexpr std::size_t kStreamBytes = 100u << 20;
const std::uint8_t kPattern[4] = {0xA5, 0x5A, 0xC3, 0x3C};

struct TStream {
  std::vector<std::uint8_t> Bytes;
  std::vector<std::pair<std::size_t, std::size_t>> Pieces;  // offset, length
  std::vector<TIntfPtr<INXLinearDataBuffer>> Buffers;
};

const TStream& Stream() {
  static const TStream s = [] {
    TStream t;
    t.Bytes.resize(kStreamBytes);
    std::mt19937 g(5);
    for (auto& b : t.Bytes) b = static_cast<std::uint8_t>(g() % 0xA5);
    for (std::size_t at = 996; at + 4 <= kStreamBytes; at += 1000) std::memcpy(&t.Bytes[at], kPattern, 4);
    for (std::size_t at = 0; at < kStreamBytes;) {
      const std::size_t n = std::min<std::size_t>(1 + g() % 4096, kStreamBytes - at);
      t.Pieces.emplace_back(at, n);
      t.Buffers.push_back(TIntfPtr<INXLinearDataBuffer>(
          TNXBlockBuffer::MakeData(&t.Bytes[at], static_cast<std::uint32_t>(n))));
      at += n;
    }
    return t;
  }();
  return s;
}

void AccumulatorSearchAndCut(benchmark::State& state) {
  const TStream& s = Stream();
  std::vector<std::uint8_t> message;
  std::int64_t peak = 0, cuts = 0;
  for (auto _ : state) {
    TIntfPtr<IBufferAccumulator> acc = TBufferAccumulator::Make();
    std::int64_t searched = 0;  // bytes already searched without a match
    cuts = 0;
    for (const auto& b : s.Buffers) {
      acc->AddBuffer(b);
      peak = std::max(peak, acc->GetBytesAvailable());
      std::int64_t pos = 0;
      // Each search resumes where the last one ended, less the bytes a
      // match could still begin in.
      while (acc->FindBytes(4, kPattern, pos, acc->GetBytesAvailable(), std::max<std::int64_t>(searched - 3, 0))) {
        acc->ExtractBytes(static_cast<std::int32_t>(pos), message);
        ++cuts;
        searched = 0;
      }
      searched = acc->GetBytesAvailable();
    }
    benchmark::DoNotOptimize(message.data());
  }
  if (cuts != static_cast<std::int64_t>(kStreamBytes / 1000)) state.SkipWithError("wrong number of cuts");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kStreamBytes));
  state.counters["peak_unread_bytes"] = static_cast<double>(peak);
}

// The peer: append to one vector, search it with std::search, erase the
// front at each cut.
void VectorSearchAndCut(benchmark::State& state) {
  const TStream& s = Stream();
  std::vector<std::uint8_t> message;
  std::int64_t cuts = 0;
  for (auto _ : state) {
    std::vector<std::uint8_t> pending;
    std::size_t searched = 0;
    cuts = 0;
    for (const auto& [at, n] : s.Pieces) {
      pending.insert(pending.end(), s.Bytes.begin() + at, s.Bytes.begin() + at + n);
      for (;;) {
        const auto from = pending.begin() + (searched > 3 ? searched - 3 : 0);
        const auto hit = std::search(from, pending.end(), kPattern, kPattern + 4);
        if (hit == pending.end()) break;
        message.assign(pending.begin(), hit + 4);
        pending.erase(pending.begin(), hit + 4);
        ++cuts;
        searched = 0;
      }
      searched = pending.size();
    }
    benchmark::DoNotOptimize(message.data());
  }
  if (cuts != static_cast<std::int64_t>(kStreamBytes / 1000)) state.SkipWithError("wrong number of cuts");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kStreamBytes));
}

std::vector<double> Values() {
  std::vector<double> v(4096);
  std::mt19937 g(9);
  std::uniform_real_distribution<double> u(-1, 1);
  for (double& x : v) x = u(g);
  return v;
}

void AveragingAdd(benchmark::State& state, std::uint32_t count) {
  const std::vector<double> v = Values();
  TRGAveraging a;
  a.SetEnabled(true);
  a.SetCount(count);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(a.AddElement(v[i]));
    i = (i + 1) & 4095;
  }
}

// The peer: the history summed afresh for every value.
void AveragingResum(benchmark::State& state) {
  const std::vector<double> v = Values();
  std::vector<double> history(1000, 0.0);
  std::size_t at = 0, filled = 0, i = 0;
  for (auto _ : state) {
    history[at] = v[i];
    at = (at + 1) % history.size();
    filled = std::min(filled + 1, history.size());
    double sum = 0;
    ippsSum_64f(history.data(), static_cast<int>(history.size()), &sum);
    benchmark::DoNotOptimize(sum / static_cast<double>(filled));
    i = (i + 1) & 4095;
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::RegisterBenchmark("IIR/ButterworthBP8/direct", ButterworthBandPass, false)
      ->Unit(benchmark::kMicrosecond)->Repetitions(5);
  benchmark::RegisterBenchmark("IIR/ButterworthBP8/biquad", ButterworthBandPass, true)
      ->Unit(benchmark::kMicrosecond)->Repetitions(5);
  benchmark::RegisterBenchmark("FIR/Kaiser255", KaiserLowPass)->Unit(benchmark::kMicrosecond)->Repetitions(5);
  benchmark::RegisterBenchmark("Accumulator/SearchAndCut", AccumulatorSearchAndCut)
      ->Unit(benchmark::kMillisecond)->Repetitions(3);
  benchmark::RegisterBenchmark("Accumulator/PlainVector", VectorSearchAndCut)
      ->Unit(benchmark::kMillisecond)->Repetitions(3);
  benchmark::RegisterBenchmark("Averaging/AddElement1000", AveragingAdd, 1000u)->Repetitions(5);
  benchmark::RegisterBenchmark("Averaging/AddElement100000", AveragingAdd, 100000u)->Repetitions(5);
  benchmark::RegisterBenchmark("Averaging/ResumEachValue", AveragingResum)->Repetitions(5);

  benchmark::Initialize(&argc, argv);
  nxbench::TCollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  // Absolute goals, on the smallest CPU time over the repetitions.
  std::printf("\n%-36s %14s %14s\n", "goal", "measured", "limit");
  const struct {
    const char* label;
    const char* run;
    double scale;  // from the run's unit
    double limit;
    const char* unit;
    bool atLeast;
  } goals[] = {
      {"Butterworth BP order 8, direct", "IIR/ButterworthBP8/direct", 1, 50, "us", false},
      {"Butterworth BP order 8, biquad", "IIR/ButterworthBP8/biquad", 1, 50, "us", false},
      {"FIR 255 taps, Kaiser", "FIR/Kaiser255", 1, 20, "us", false},
      {"accumulator search and cut", "Accumulator/SearchAndCut", 0, 1.0, "GB/s", true},
      {"AddElement, history 1000", "Averaging/AddElement1000", 1, 20, "ns", false},
  };
  for (const auto& g : goals) {
    const double t = reporter.Cpu(g.run);
    if (t <= 0) {
      std::printf("%-36s %14s\n", g.label, "(not run)");
      continue;
    }
    // The accumulator's time is in ms per 100 MiB: turn it into GB/s.
    const double v = g.atLeast ? (kStreamBytes / 1e9) / (t / 1e3) : t * g.scale;
    const bool ok = g.atLeast ? v >= g.limit : v <= g.limit;
    std::printf("%-36s %11.3f %-4s %9.3f %-4s %s\n", g.label, v, g.unit, g.limit, g.unit, ok ? "ok" : "MISSED");
  }
  nxbench::PrintRatios(reporter, "Against the plain peers (smallest CPU times)",
                       {{"search and cut: accumulator vs vector", "Accumulator/SearchAndCut",
                         "Accumulator/PlainVector", 1.0},
                        {"AddElement vs summing the history", "Averaging/AddElement1000", "Averaging/ResumEachValue",
                         2.0},
                        {"AddElement: history 100,000 vs 1,000", "Averaging/AddElement100000",
                         "Averaging/AddElement1000", 0.7}},
                       "speedup", true);
  benchmark::Shutdown();
  return 0;
}
