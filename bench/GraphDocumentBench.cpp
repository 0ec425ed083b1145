// Graph document benchmark: loading a document of 1,000 components with
// 2,000 pin links (text and binary form), and saving it, against the goal of
// a load under 50 ms. For scale the same tree without links is loaded through
// the member-wise binary form of the component layer.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "BenchSupport.h"
#include "nxruntime.h"
#include "documents/NXGraphDocument.h"
#include "streams/NXStreamTypes.h"

namespace {

using namespace nx;

// A node with one real source and two real sinks.
class TBenchNode : public TComponent, public INXPinOwner {
  NX_PERSISTENT(TBenchNode, TComponent)
 public:
  explicit TBenchNode(TComponent* AOwner) : TComponent(AOwner) { InitProperties(this); }
  static void DeclareProperties(TClassBuilder<TBenchNode>& P) {
    P.Prop<&TBenchNode::FGain>("Gain", 1.0);
    P.Prop<&TBenchNode::FCount>("Count", std::int32_t{0});
  }
  std::int32_t GetPinCount() const override { return 3; }
  TFTBasicPin* GetPin(std::int32_t AIndex) const override {
    if (AIndex == 0) return &FOut;
    return AIndex == 1 ? static_cast<TFTBasicPin*>(&FInA) : static_cast<TFTBasicPin*>(&FInB);
  }
  double FGain = 1.0;
  std::int32_t FCount = 0;
  mutable TNXFTRealSourcePin FOut{"Out"};
  mutable TNXFTRealSinkPin FInA{"InA"};
  mutable TNXFTRealSinkPin FInB{"InB"};
};

TComponent* MakeGraph() {
  RegisterClasses({&TComponent::StaticClassInfo(), &TBenchNode::StaticClassInfo()});
  auto* root = new TComponent(nullptr);
  root->SetName("Graph");
  std::vector<TBenchNode*> nodes;
  for (int i = 0; i < 1000; ++i) {
    auto* n = new TBenchNode(root);
    n->SetName("Node" + std::to_string(i));
    n->FGain = 0.001 * i + 0.1;
    n->FCount = i;
    nodes.push_back(n);
  }
  // Node i feeds node i+1 (InA) and node i+2 (InB), wrapping around: 2,000 links.
  for (int i = 0; i < 1000; ++i) {
    nodes[i]->FOut.Connect(&nodes[(i + 1) % 1000]->FInA);
    nodes[i]->FOut.Connect(&nodes[(i + 2) % 1000]->FInB);
  }
  return root;
}

const std::string& Document(TGraphDocumentFormat AFormat) {
  static std::string docs[2];
  if (docs[0].empty()) {
    TComponent* g = MakeGraph();
    docs[0] = TNXGraphDocument::SaveToString(*g, TGraphDocumentFormat::Text);
    docs[1] = TNXGraphDocument::SaveToString(*g, TGraphDocumentFormat::Binary);
    TComponent::Free(g);
  }
  return docs[AFormat == TGraphDocumentFormat::Binary ? 1 : 0];
}

void BM_LoadGraphText(benchmark::State& state) {
  const std::string& doc = Document(TGraphDocumentFormat::Text);
  for (auto _ : state) TComponent::Free(TNXGraphDocument::LoadFromString(doc, nullptr));
  state.counters["bytes"] = static_cast<double>(doc.size());
}
BENCHMARK(BM_LoadGraphText)->Unit(benchmark::kMillisecond);

void BM_LoadGraphBinary(benchmark::State& state) {
  const std::string& doc = Document(TGraphDocumentFormat::Binary);
  for (auto _ : state) TComponent::Free(TNXGraphDocument::LoadFromString(doc, nullptr));
  state.counters["bytes"] = static_cast<double>(doc.size());
}
BENCHMARK(BM_LoadGraphBinary)->Unit(benchmark::kMillisecond);

void BM_SaveGraphText(benchmark::State& state) {
  TComponent* g = MakeGraph();
  for (auto _ : state) benchmark::DoNotOptimize(TNXGraphDocument::SaveToString(*g));
  TComponent::Free(g);
}
BENCHMARK(BM_SaveGraphText)->Unit(benchmark::kMillisecond);

// The same 1,000 components without links through the component layer's own binary form.
void BM_LoadTreeMemberwiseBinary(benchmark::State& state) {
  TComponent* g = MakeGraph();
  TStringStream s;
  SaveComponentToStream(s, *g);
  TComponent::Free(g);
  for (auto _ : state) {
    s.SetPosition(0);
    TComponent::Free(LoadComponentFromStream(s, nullptr));
  }
}
BENCHMARK(BM_LoadTreeMemberwiseBinary)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  nxbench::TCollectingReporter rep;
  benchmark::RunSpecifiedBenchmarks(&rep);
  const struct {
    const char* Label;
    const char* Name;
    double GoalMs;
  } rows[] = {{"load 1,000 components + 2,000 links (text)", "BM_LoadGraphText", 50},
              {"load 1,000 components + 2,000 links (binary)", "BM_LoadGraphBinary", 50},
              {"save the same (text)", "BM_SaveGraphText", 0},
              {"load 1,000 components, member-wise binary", "BM_LoadTreeMemberwiseBinary", 0}};
  std::printf("\n%-48s %10s %8s\n", "case", "ms", "goal");
  for (const auto& r : rows) {
    const double ms = rep.Cpu(r.Name);
    if (ms <= 0) continue;
    if (r.GoalMs > 0) std::printf("%-48s %10.2f %8.0f %s\n", r.Label, ms, r.GoalMs, ms < r.GoalMs ? "ok" : "ABOVE");
    else std::printf("%-48s %10.2f %8s\n", r.Label, ms, "-");
  }
  benchmark::Shutdown();
  return 0;
}
