// Mixer demo: a two-input mixer built on the multi-input base. Two
// generators, each paced by its own clock thread on virtual time, send a
// 440 Hz tone at 8,000 samples/s and a 1,000 Hz tone at 16,000 samples/s; the
// mixer agrees on 16,000 samples/s, stretches the slower input to it and
// sends the sum in buffers of 1,024 samples. The program prints what arrived
// at the mixer's output and checks each buffer against the sum it computes
// itself.
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <numbers>
#include <vector>

#include <nxruntime.h>

namespace {

using namespace nx;

// The sum of the inputs at the agreed rate.
class TMixer : public TNXRealMultiInput {
 public:
  TMixer() : TNXRealMultiInput(nullptr) { SetInputCount(2); }
  ~TMixer() override { ClosePins(); }
  bool CalculateSendOutput(std::int32_t ASize) override {
    const auto out = TNXRealBuffer::MakeSize(static_cast<std::uint32_t>(ASize));
    SumInputs(out->Write(), ASize);
    OutputPin().SubmitBuffer(out);
    return true;  // the inputs gave their samples, linked or not
  }
};

double Tone(double AFrequency, double ARate, std::int64_t ASample) {
  return std::sin(2 * std::numbers::pi * AFrequency * static_cast<double>(ASample) / ARate);
}

// A tone generator: sample n of its stream is Tone(Frequency, rate, n).
class TToneGen : public TNXCommonRealGen {
 public:
  TToneGen(double AFrequency, double ARate, std::int32_t ASize) : TNXCommonRealGen(nullptr), FFrequency(AFrequency) {
    SetSampleRate(ARate);
    SetBufferSize(ASize);
  }

 protected:
  void IntGenerate(TIntfPtr<INXDataBuffer>& ABuffer, bool&, bool&) override {
    INXRealBuffer* real = RealOf(ABuffer);
    double* d = real->Write();
    for (std::int32_t i = 0; i < real->GetSize(); ++i) d[i] = Tone(FFrequency, GetSampleRate(), FNext++);
  }

 private:
  const double FFrequency;
  std::int64_t FNext = 0;
};

}  // namespace

int main() {
  constexpr std::int32_t kBuffers = 50;
  TMixer mixer;
  mixer.GetOutputBuffer().SetAutoSize(false);
  mixer.GetOutputBuffer().SetSize(1024);

  std::mutex lock;  // the generators' clock threads deliver
  std::condition_variable arrived;
  std::vector<TIntfPtr<INXRealBuffer>> received;
  double announced = 0;
  bool stopped = false;
  TNXFTRealSinkPin display("Display", {}, nullptr,
                           [&](TFTBasicPin*, IFTStream*, const TGUID&, const TIntfPtr<IFTNotifyOperation>& op,
                               TFTNotifyState) {
                             std::lock_guard g(lock);
                             if (auto* b = op->As<TFTSuppliedBufferOperation>())
                               received.push_back(Supports<INXRealBuffer>(b->GetValue()));
                             else if (auto* r = op->As<TFTStartSampleRateOperation>()) announced = r->GetSampleRate();
                             else if (op->IsType<TFTStopOperation>()) stopped = true;
                             arrived.notify_all();
                             return true;
                           });
  mixer.OutputPin().Connect(&display);

  TNXVirtualClockGuard virtualTime;
  auto* slow = new TToneGen(440, 8000, 512);
  auto* fast = new TToneGen(1000, 16000, 1024);
  slow->OutputPin().Connect(static_cast<TFTSinkPin*>(mixer.GetInputPin(0)));
  fast->OutputPin().Connect(static_cast<TFTSinkPin*>(mixer.GetInputPin(1)));
  slow->Start();
  fast->Start();
  {
    std::unique_lock lk(lock);
    arrived.wait(lk, [&] { return received.size() >= std::size_t(kBuffers); });
  }
  slow->Stop();
  fast->Stop();
  TComponent::Free(slow);
  TComponent::Free(fast);
  std::lock_guard g(lock);
  received.resize(kBuffers);  // more may have come before the stop

  // The reference: the slow tone's 512 samples of each buffer picked to 1,024
  // by nearest sample (position step 511 / 1024, halves to even), plus the fast tone.
  double worst = 0, peak = 0;
  for (std::size_t k = 0; k < received.size(); ++k) {
    double pos = 0;
    for (std::int32_t i = 0; i < 1024; ++i, pos += 511.0 / 1024) {
      const auto j = std::min<std::int64_t>(static_cast<std::int64_t>(std::nearbyint(pos)), 511);
      const double want = Tone(440, 8000, k * 512 + j) + Tone(1000, 16000, k * 1024 + i);
      worst = std::max(worst, std::abs(received[k]->GetItem(i) - want));
      peak = std::max(peak, std::abs(received[k]->GetItem(i)));
    }
  }
  std::printf("output rate announced: %.0f samples/s\n", announced);
  std::printf("input 0 needs %u samples, input 1 needs %u samples per output buffer\n",
              mixer.GetQueuedInput(0)->GetNeededSamples(), mixer.GetQueuedInput(1)->GetNeededSamples());
  std::printf("output buffers checked: %zu of %d samples (%.1f ms of signal)\n", received.size(),
              received.empty() ? 0 : received[0]->GetSize(), received.size() * 1024 / 16.0);
  std::printf("peak of the mix: %.4f, largest difference from the reference: %g\n", peak, worst);
  std::printf("stop passed on when both inputs stopped: %s\n", stopped ? "yes" : "no");
  return received.size() == kBuffers && worst == 0 && stopped ? 0 : 1;
}
