// Shared set-up of the processing tests: a component that asks for engines
// (and owns the executors it is handed), the answer of one request, and
// engine lists built from short descriptions.
#pragma once

#include <cstdint>
#include <vector>

#include "nxruntime.h"

namespace nx::test {

// Counts the change notifications of its engine list.
class TAsker : public TLockComponent {
 public:
  TAsker() : TLockComponent(nullptr), Processing(this) {
    OnChanged = [this](TComponent*, TPersistent*) { ++Changes; };
  }
  ~TAsker() override {
    // The executors go first: their queued work may still use the asker.
    while (ComponentCount() > 0) TComponent::Free(Components(ComponentCount() - 1));
  }
  TRGProcessing Processing;
  int Changes = 0;
};

struct TAnswer {
  bool Result = false;
  TIntfPtr<IExecutor> Executor;
  std::int32_t Stride = 0;
  TIntfPtr<IOCLContext> Context;
  TIntfPtr<IOCLPlatform> Platform;
};

inline TAnswer Ask(TRGProcessing& AProcessing, TComponent* AOwner) {
  TAnswer a;
  a.Result = AProcessing.GetEngines(AOwner, a.Executor, a.Stride, a.Context, a.Platform);
  return a;
}

// One engine of a list: kind, Enabled, and its settings.
struct TEngineSpec {
  char Kind;  // 'P' parallel, 'G' GPU
  bool Enabled = true;
  std::int32_t Count = 4;
  bool PoolEnabled = true;
  std::uint32_t Stride = 10240;
  const char* Platform = "Default";
};

inline void AddEngines(TRGProcessing& AProcessing, const std::vector<TEngineSpec>& ASpecs) {
  for (const TEngineSpec& s : ASpecs) {
    if (s.Kind == 'P') {
      auto* e = static_cast<TRGParallelProcessingEngine*>(
          AProcessing.Engines().Add(TRGParallelProcessingEngine::StaticClassInfo()));
      e->Pool().SetCount(s.Count);
      e->Pool().SetEnabled(s.PoolEnabled);
      e->SetMemoryStrideSize(s.Stride);
      e->SetEnabled(s.Enabled);
    } else {
      auto* e =
          static_cast<TRGGPUProcessingEngine*>(AProcessing.Engines().Add(TRGGPUProcessingEngine::StaticClassInfo()));
      e->SetPlatform(s.Platform);
      e->SetEnabled(s.Enabled);
    }
  }
}

inline void AddParallel(TRGProcessing& AProcessing, std::int32_t ACount, std::uint32_t AStride, bool AEnabled = true) {
  AddEngines(AProcessing, {{'P', AEnabled, ACount, true, AStride}});
}

// Runs ACount indices on the executor and says how many ran.
inline int RunsOn(IExecutor& AExecutor, int ACount) {
  std::atomic<int> ran{0};
  ParallelFor(AExecutor, ACount, [&](std::int64_t f, std::int64_t l) { ran.fetch_add(int(l - f)); });
  return ran.load();
}

}  // namespace nx::test
