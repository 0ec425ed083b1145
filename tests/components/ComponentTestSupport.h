// Shared pieces of the component tests: a recording sink, a gain filter that can hold its worker, a loop thread.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "components/NXClockGen.h"
#include "components/NXCommonFilter.h"
#include "nxruntime.h"

namespace nx::test {

struct TFreeComponent { void operator()(TComponent* AComponent) const { TComponent::Free(AComponent); } };
template <class T> using TComponentPtr = std::unique_ptr<T, TFreeComponent>;

// Records, from any thread, each buffer (operation, clock count, master step), single values,
// rates and the names of other operations; with AClaimPump it claims the master pump.
template <class TPin>
class TRecordingSink {
 public:
  explicit TRecordingSink(const char* AName = "In", bool AClaimPump = false) : Pin(AName), FClaimPump(AClaimPump) {
    Pin.SetGenericDispatch([this](TFTBasicPin*, const TGUID&, const TIntfPtr<IFTNotifyOperation>& AOperation,
                                  TFTNotifyState) { return Handle(AOperation); });
  }
  ~TRecordingSink() { Pin.DisconnectAll(); }
  void* Identity() { return this; }
  bool WaitBuffers(std::size_t ACount) { return WaitUntil([&] { return FBuffers.size() >= ACount; }); }
  bool WaitOp(const std::string& AName) { return WaitUntil([&] { return std::ranges::count(FOps, AName) > 0; }); }
  std::vector<TIntfPtr<INXData>> Buffers() { return Locked(FBuffers); }
  std::size_t Count() { return Buffers().size(); }
  std::vector<const IFTNotifyOperation*> Operations() { return Locked(FOperations); }
  std::vector<std::uint32_t> ClockCounts() { return Locked(FClockCounts); }
  std::vector<std::uint64_t> Steps() { return Locked(FSteps); }
  std::vector<double> Values() { return Locked(FValues); }
  std::vector<double> Rates() { return Locked(FRates); }
  std::vector<std::string> Ops() { return Locked(FOps); }
  int CountOf(const std::string& AName) { return static_cast<int>(std::ranges::count(Ops(), AName)); }
  // The buffers that had arrived when the first operation named AName came (-1: none came).
  int BuffersBefore(const std::string& AName) {
    std::lock_guard lk(FLock);
    const auto it = std::ranges::find(FOps, AName);
    return it == FOps.end() ? -1 : static_cast<int>(FOpBuffers[it - FOps.begin()]);
  }
  void* StartPumpMaster() { return Locked(FStartPumpMaster); }
  std::vector<std::vector<double>> Samples() {
    std::vector<std::vector<double>> out;
    for (const auto& b : Buffers()) {
      TIntfPtr<INXRealBuffer> real;
      TIntfPtr<INXIntegerBuffer> ints;
      if (Supports(b.Get(), real)) out.emplace_back(real->Read(), real->Read() + real->GetSize());
      else if (Supports(b.Get(), ints)) out.emplace_back(ints->Read(), ints->Read() + ints->GetSize());
      else out.emplace_back();
    }
    return out;
  }
  std::vector<double> AllSamples() {
    std::vector<double> all;
    for (const auto& s : Samples()) all.insert(all.end(), s.begin(), s.end());
    return all;
  }
  std::vector<double> FirstSamples() {
    std::vector<double> out;
    for (const auto& s : Samples()) out.push_back(s.at(0));
    return out;
  }
  TPin Pin;
 private:
  template <class T> T Locked(const T& AValue) { std::lock_guard lk(FLock); return AValue; }
  template <class Pred> bool WaitUntil(Pred ADone) {
    std::unique_lock lk(FLock);
    return FCond.wait_for(lk, std::chrono::seconds(60), ADone);
  }
  bool Handle(const TIntfPtr<IFTNotifyOperation>& AOperation) {
    if (auto* request = AOperation->As<TFTPumpRequestOperation>(); request && FClaimPump) request->Claim(this, 10);
    {
      std::lock_guard lk(FLock);
      if (auto* d = AOperation->As<TFTTypedSuppliedDataOperation>()) {
        FBuffers.push_back(d->GetValue());
        FOperations.push_back(AOperation.Get());
        FClockCounts.push_back(d->GetClockCount());
        FSteps.push_back(NXMasterClockSteps());
      } else {
        FOps.emplace_back(AOperation->GetInstance()->ClassName());
        FOpBuffers.push_back(FBuffers.size());
        if (auto* f = AOperation->As<TFTSuppliedFloatOperation>()) FValues.push_back(f->GetValue());
        if (auto* r = AOperation->As<TFTStartSampleRateOperation>()) FRates.push_back(r->GetSampleRate());
        if (auto* start = AOperation->As<TFTStartPumpOperation>()) FStartPumpMaster = start->GetMaster();
      }
    }
    FCond.notify_all();
    return true;
  }
  const bool FClaimPump;
  std::mutex FLock;
  std::condition_variable FCond;
  std::vector<TIntfPtr<INXData>> FBuffers;
  std::vector<const IFTNotifyOperation*> FOperations;
  std::vector<std::uint32_t> FClockCounts;
  std::vector<std::uint64_t> FSteps;
  std::vector<double> FValues, FRates;
  std::vector<std::string> FOps;
  std::vector<std::size_t> FOpBuffers;  // FBuffers.size() when each of FOps came
  void* FStartPumpMaster = nullptr;
};
using TRealRecorder = TRecordingSink<TNXFTRealSinkPin>;

// Multiplies by Gain in place, then runs After; Close holds the next call until Open.
class TGainFilter : public TNXCommonRealFilter {
 public:
  explicit TGainFilter(double AGain = 2.0, bool AInline = false)
      : TNXCommonRealFilter(nullptr), Gain(AGain), FInline(AInline) {}
  ~TGainFilter() override { ShutdownThread(); }
  bool CanInline() const override { return FInline; }
  void FilterInternalOperation(const TBuffer&, TBuffer& AOutput, bool& ASend) override {
    ++Calls;
    if (std::unique_lock<std::mutex> g(GateLock); Gate) {
      Entered = true;
      GateCond.notify_all();
      GateCond.wait(g, [&] { return !Gate; });
    }
    ippsMulC_64f_I(Gain.load(), AOutput->Modify(), AOutput->GetSize());
    if (After) After(AOutput, ASend);
  }
  void InternalFloatOperation(double AInput, double& AOutput, bool&) override { AOutput = AInput * Gain.load(); }
  void Close() { std::lock_guard<std::mutex> g(GateLock); Gate = true; }
  void WaitEntered() { std::unique_lock<std::mutex> g(GateLock); GateCond.wait(g, [&] { return Entered; }); }
  void Open() { std::lock_guard<std::mutex> g(GateLock); Gate = false; GateCond.notify_all(); }
  std::atomic<double> Gain;
  std::atomic<int> Calls{0};
  std::function<void(TBuffer&, bool&)> After;
 private:
  const bool FInline;
  std::mutex GateLock;
  std::condition_variable GateCond;
  bool Gate = false;
  bool Entered = false;
};

// Runs AStep(0), AStep(1), ... on its own thread until Stop.
class TLoopThread {
 public:
  explicit TLoopThread(std::function<void(int)> AStep)
      : FThread([this, AStep = std::move(AStep)] {
          for (int n = 0; !FDone.load(); ++n) AStep(n);
        }) {}
  ~TLoopThread() { FDone = true; FThread.join(); }
 private:
  std::atomic<bool> FDone{false};
  std::thread FThread;
};

}  // namespace nx::test
