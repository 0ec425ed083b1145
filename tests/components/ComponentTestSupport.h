// Shared pieces of the component tests: ownership of components that are
// freed through TComponent::Free, and a gain filter that works in place and
// can hold its worker at a gate.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "components/NXCommonFilter.h"
#include "nxruntime.h"

namespace nx::test {

struct TFreeComponent {
  void operator()(TComponent* AComponent) const { TComponent::Free(AComponent); }
};
template <class T>
using TComponentPtr = std::unique_ptr<T, TFreeComponent>;

// Multiplies by Gain in place; counts its calls; Close holds the next call
// until Open (WaitEntered returns once it is held).
class TGainFilter : public TNXCommonRealFilter {
 public:
  explicit TGainFilter(double AGain = 2.0, bool AInline = false)
      : TNXCommonRealFilter(nullptr), Gain(AGain), FInline(AInline) {}
  ~TGainFilter() override { ShutdownThread(); }
  bool CanInline() const override { return FInline; }
  void FilterInternalOperation(const TBuffer&, TBuffer& AOutput, bool&) override {
    ++Calls;
    {
      std::unique_lock<std::mutex> g(GateLock);
      if (Gate) {
        Entered = true;
        GateCond.notify_all();
        GateCond.wait(g, [&] { return !Gate; });
      }
    }
    ippsMulC_64f_I(Gain.load(), AOutput->Modify(), AOutput->GetSize());
  }
  void InternalFloatOperation(double AInput, double& AOutput, bool&) override { AOutput = AInput * Gain.load(); }
  void Close() {
    std::lock_guard<std::mutex> g(GateLock);
    Gate = true;
  }
  void WaitEntered() {
    std::unique_lock<std::mutex> g(GateLock);
    GateCond.wait(g, [&] { return Entered; });
  }
  void Open() {
    std::lock_guard<std::mutex> g(GateLock);
    Gate = false;
    GateCond.notify_all();
  }

  std::atomic<double> Gain;
  std::atomic<int> Calls{0};

 private:
  const bool FInline;
  std::mutex GateLock;
  std::condition_variable GateCond;
  bool Gate = false;
  bool Entered = false;
};

}  // namespace nx::test
