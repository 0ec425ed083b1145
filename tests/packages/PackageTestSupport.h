// What the example package's tests share: a sink pin that records what
// arrives, a source pin that feeds a component from the test's thread,
// owning pointers that free components the way their owners would, a seeded
// noise sequence and the test output folder.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "buffers/NXSimpleDataBuffer.h"
#include "runtime/Zandor.Components.h"
#include "streams/NXStreamTypes.h"

namespace nxtest {
using namespace nx;

struct TFreeComponent {
  void operator()(TComponent* AComponent) const { TComponent::Free(AComponent); }
};
template <class T>
using TOwned = std::unique_ptr<T, TFreeComponent>;

template <class T>
TOwned<T> Make() {
  return TOwned<T>(new T(nullptr));
}

// Records the buffers (as sample vectors), the announced rates, whether the
// start was a spectrum's and whether a stop arrived. Deliveries may come
// from clock threads.
class TRecorder {
 public:
  TRecorder() {
    FPin.SetGenericDispatch([this](TFTBasicPin*, const TGUID&, const TIntfPtr<IFTNotifyOperation>& AOp, TFTNotifyState) {
      std::lock_guard g(FLock);
      if (auto* d = AOp->As<TFTTypedSuppliedDataOperation>()) {
        const auto b = TNXRealBuffer::MakeUniversal(d->GetValue());
        FBuffers.emplace_back(b->Read(), b->Read() + b->GetSize());
      } else if (auto* r = AOp->As<TFTStartSampleRateOperation>()) {
        FRates.push_back(r->GetSampleRate());
        FSpectrumStart = AOp->IsType<TFTStartSpectrumOperation>();
      } else if (AOp->IsType<TFTStopOperation>()) {
        FStopped = true;
      }
      FArrived.notify_all();
      return true;
    });
  }
  ~TRecorder() { FPin.DisconnectAll(); }
  TNXFTRealSinkPin& Pin() { return FPin; }

  // Wait at most a minute (the time-out only keeps a broken run from
  // hanging the suite).
  bool WaitBuffers(std::size_t ACount) {
    std::unique_lock lk(FLock);
    return FArrived.wait_for(lk, std::chrono::seconds(60), [&] { return FBuffers.size() >= ACount || FStopped; });
  }
  bool WaitStop() {
    std::unique_lock lk(FLock);
    return FArrived.wait_for(lk, std::chrono::seconds(60), [&] { return FStopped; });
  }
  std::vector<std::vector<double>> Buffers() {
    std::lock_guard g(FLock);
    return FBuffers;
  }
  // Every sample received, in order.
  std::vector<double> Samples() {
    std::lock_guard g(FLock);
    std::vector<double> all;
    for (const auto& b : FBuffers) all.insert(all.end(), b.begin(), b.end());
    return all;
  }
  std::vector<double> Rates() {
    std::lock_guard g(FLock);
    return FRates;
  }
  double Rate() {
    std::lock_guard g(FLock);
    return FRates.empty() ? 0 : FRates.back();
  }
  bool SpectrumStart() {
    std::lock_guard g(FLock);
    return FSpectrumStart;
  }
  bool Stopped() {
    std::lock_guard g(FLock);
    return FStopped;
  }

 private:
  TNXFTRealSinkPin FPin{"Recorder"};
  std::mutex FLock;
  std::condition_variable FArrived;
  std::vector<std::vector<double>> FBuffers;
  std::vector<double> FRates;
  bool FSpectrumStart = false;
  bool FStopped = false;
};

// Feeds a stream into a pin from the test's thread.
class TFeeder {
 public:
  ~TFeeder() { FPin.DisconnectAll(); }
  TNXFTRealSourcePin& Pin() { return FPin; }
  void Start(double ARate) { FPin.Notify(TFTStartSampleRateOperation::Make(ARate)); }
  void Stop() { FPin.Stop(); }
  // Sends ASamples cut into buffers of the given sizes, in turn (the last
  // size repeats).
  void Send(const std::vector<double>& ASamples, const std::vector<std::int32_t>& ASizes) {
    std::size_t at = 0, k = 0;
    while (at < ASamples.size()) {
      const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(ASizes[std::min(k, ASizes.size() - 1)]),
                                                  ASamples.size() - at);
      FPin.SubmitBuffer(TIntfPtr<INXData>(TNXRealBuffer::MakeData(ASamples.data() + at, std::uint32_t(n))));
      at += n;
      ++k;
    }
  }
  void Send(const std::vector<double>& ASamples, std::size_t ABufferSize) {
    Send(ASamples, std::vector<std::int32_t>{static_cast<std::int32_t>(ABufferSize)});
  }

 private:
  TNXFTRealSourcePin FPin{"Feeder"};
};

// A reproducible uniform sequence in [-1, 1).
inline std::vector<double> Noise(std::size_t ACount, std::uint64_t ASeed) {
  std::vector<double> out(ACount);
  std::uint64_t s = ASeed * 6364136223846793005ull + 1442695040888963407ull;
  for (double& v : out) {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    v = double(s >> 11) / double(1ull << 52) - 1;
  }
  return out;
}

// A fresh folder under the test output folder.
inline std::string OutputFolder(const std::string& AName) {
  const char* base = std::getenv("NX_TEST_OUTPUT_DIR");
  const std::filesystem::path dir = std::filesystem::path(base ? base : "/tmp") / "packages" / AName;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string();
}

inline std::string ReadFileBytes(const std::string& APath) {
  std::ifstream in(APath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace nxtest
