// What the example package's tests share: a sink pin that records what
// arrives, a source pin that feeds a filter from the test's thread, and
// owning pointers that free components the way their owners would.
#pragma once

#include <chrono>
#include <condition_variable>
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

// Records the buffers (as sample vectors), the announced rate and whether a
// stop arrived. Deliveries may come from clock threads.
class TRecorder {
 public:
  TRecorder() {
    FPin.SetGenericDispatch([this](TFTBasicPin*, const TGUID&, const TIntfPtr<IFTNotifyOperation>& AOp, TFTNotifyState) {
      std::lock_guard g(FLock);
      if (auto* d = AOp->As<TFTTypedSuppliedDataOperation>()) {
        const auto b = TNXRealBuffer::MakeUniversal(d->GetValue());
        FBuffers.emplace_back(b->Read(), b->Read() + b->GetSize());
      } else if (auto* r = AOp->As<TFTStartSampleRateOperation>()) {
        FRate = r->GetSampleRate();
      } else if (AOp->IsType<TFTStopOperation>()) {
        FStopped = true;
      }
      FArrived.notify_all();
      return true;
    });
  }
  ~TRecorder() { FPin.DisconnectAll(); }
  TNXFTRealSinkPin& Pin() { return FPin; }

  bool WaitBuffers(std::size_t ACount) {
    std::unique_lock lk(FLock);
    return FArrived.wait_for(lk, std::chrono::seconds(60), [&] { return FBuffers.size() >= ACount || FStopped; });
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
  double Rate() {
    std::lock_guard g(FLock);
    return FRate;
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
  double FRate = 0;
  bool FStopped = false;
};

// Feeds a stream into a pin from the test's thread.
class TFeeder {
 public:
  ~TFeeder() { FPin.DisconnectAll(); }
  TNXFTRealSourcePin& Pin() { return FPin; }
  void Start(double ARate) { FPin.Notify(TFTStartSampleRateOperation::Make(ARate)); }
  void Stop() { FPin.Notify(TFTStopOperation::Make()); }
  // Sends ASamples cut into buffers of the given sizes, in turn (the last
  // size repeats).
  void Send(const std::vector<double>& ASamples, const std::vector<std::int32_t>& ASizes) {
    std::size_t at = 0, k = 0;
    while (at < ASamples.size()) {
      const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(ASizes[std::min(k, ASizes.size() - 1)]),
                                                  ASamples.size() - at);
      const auto b = TNXRealBuffer::MakeSize(static_cast<std::uint32_t>(n));
      std::copy(ASamples.begin() + static_cast<std::ptrdiff_t>(at),
                ASamples.begin() + static_cast<std::ptrdiff_t>(at + n), b->Write());
      FPin.SubmitBuffer(b);
      at += n;
      ++k;
    }
  }

 private:
  TNXFTRealSourcePin FPin{"Feeder"};
};

}  // namespace nxtest
