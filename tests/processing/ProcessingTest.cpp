// Processing engines and the processing manager: engine walk, GPU engine, manager chains, threads, documents.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "OpenCLSupport.h"
#include "nxruntime.h"

namespace nx {
namespace {

// Asks for engines and owns the executors it is handed (freed first: their queued work may use it).
struct TAsker : TLockComponent {
  TAsker() : TLockComponent(nullptr), Processing(this) {}
  ~TAsker() override { while (ComponentCount() > 0) TComponent::Free(Components(ComponentCount() - 1)); }
  TRGProcessing Processing;
};

struct TAnswer {
  TAnswer(TRGProcessing& AProcessing, TComponent* AOwner)
      : Result(AProcessing.GetEngines(AOwner, Executor, Stride, Context, Platform)) {}
  TIntfPtr<IExecutor> Executor;
  std::int32_t Stride = 0;
  TIntfPtr<IOCLContext> Context;
  TIntfPtr<IOCLPlatform> Platform;
  bool Result;
};

// One engine of a list: kind ('P' parallel, 'G' GPU), Enabled, and its settings.
struct TEngineSpec {
  char Kind;
  bool Enabled = true;
  std::int32_t Count = 4;
  bool PoolEnabled = true;
  std::uint32_t Stride = 10240;
  const char* Platform = "Default";
};

void AddEngines(TRGProcessing& AProcessing, const std::vector<TEngineSpec>& ASpecs) {
  for (const TEngineSpec& s : ASpecs) {
    TRGProcessingEngine* e = AProcessing.Engines().Add(s.Kind == 'P' ? TRGParallelProcessingEngine::StaticClassInfo()
                                                                       : TRGGPUProcessingEngine::StaticClassInfo());
    static_cast<IEnable*>(e)->SetIsEnabled(s.Enabled);
    if (s.Kind == 'G') static_cast<TRGGPUProcessingEngine*>(e)->SetPlatform(s.Platform);
    if (s.Kind != 'P') continue;
    auto* p = static_cast<TRGParallelProcessingEngine*>(e);
    p->Pool().SetCount(s.Count);
    p->Pool().SetGroupSize(3);
    p->Pool().SetEnabled(s.PoolEnabled);
    p->SetMemoryStrideSize(s.Stride);
    p->SetPriority(tpHighest);
  }
}

std::unique_ptr<TRGProcessingManager, void (*)(TRGProcessingManager*)> MakeManager() {
  return {new TRGProcessingManager(nullptr), [](TRGProcessingManager* m) { TComponent::Free(m); }};
}

// Rows: engines (no OpenCL platform needed), threads of the executor handed out (0: none), stride.
TEST(ProcessingEngines, TheFirstEnabledEngineThatAnswersWins) {
  const std::tuple<const char*, std::vector<TEngineSpec>, std::int32_t, std::int32_t> cases[] = {
      {"empty list", {}, 0, 0},
      {"the first enabled one", {{'P', false, 3}, {'P', true, 2, true, 64}, {'P', true, 5}}, 2, 64},
      {"pool disabled: one thread, stride still set", {{'P', true, 4, false, 77}}, 1, 77},
      {"count 0 is one thread", {{'P', true, 0}}, 1, 10240},
      {"unknown platform, then parallel", {{'G', true, 0, true, 0, "No"}, {'P', true, 2}}, 2, 10240},
      {"the largest stride", {{'P', true, 2, true, 0x7FFFFFFFu}}, 2, 0x7FFFFFFF},
  };
  for (const auto& [name, engines, threads, stride] : cases) {
    SCOPED_TRACE(name);
    TAsker asker;
    AddEngines(asker.Processing, engines);
    const TAnswer a(asker.Processing, &asker);
    EXPECT_EQ(std::tuple(a.Result, a.Stride, bool(a.Context), bool(a.Platform), asker.ComponentCount()),
              std::tuple(threads > 0, stride, false, false, threads > 0 ? 1 : 0));  // the asker owns the executor
    if (!a.Executor) continue;
    std::atomic<int> ran{0};
    ParallelFor(*a.Executor, 100, [&](std::int64_t f, std::int64_t l) { ran.fetch_add(int(l - f)); });
    EXPECT_EQ(std::tuple(a.Executor->ThreadCount(), ran.load()), std::tuple(threads, 100));
  }
  // A stride above the signed 32-bit range raises, making no executor.
  TAsker asker;
  AddEngines(asker.Processing, {{'P', true, 1, true, 0x80000000u}});
  EXPECT_THROW((void)TAnswer(asker.Processing, &asker), ERangeError);
  EXPECT_EQ(asker.ComponentCount(), 0);
}

TEST(ProcessingGPUEngine, HandsOutAContextOnThePlatformsDevices) {
  TIntfPtr<IOCLContext> shared;
  NX_REQUIRE_OPENCL_CONTEXT(shared);
  const auto platforms = TOpenCL::GetPlatforms();
  const std::string first = platforms.front()->GetName();
  TAsker asker;
  AddEngines(asker.Processing, {{'G'}});
  auto* gpu = static_cast<TRGGPUProcessingEngine*>(asker.Processing.Engines().Items(0));
  // "Default" in exactly this spelling is the first platform; any other text is a name.
  for (const auto& [platform, result] : {std::pair{std::string("Default"), true}, std::pair{first, true},
                                         std::pair{first + " ", false}, std::pair{std::string("DEFAULT"), false}}) {
    SCOPED_TRACE(platform);
    gpu->SetPlatform(platform);
    const TAnswer a(asker.Processing, &asker);
    EXPECT_EQ(std::tuple(a.Result, bool(a.Context), bool(a.Executor)), std::tuple(result, result, false));
    if (!result) continue;
    EXPECT_EQ(a.Platform->GetName(), first);
    EXPECT_EQ(a.Context->GetDevices().size(), a.Platform->GetDevices().size());
  }
  const std::vector<std::string> values = gpu->GetPlatformValues();
  ASSERT_EQ(values.size(), platforms.size() + 1);
  EXPECT_EQ(std::tuple(values[0], values[1]), std::tuple("Default", first));
}

// Run as a child process with OCL_ICD_VENDORS on an empty folder (below).
TEST(DISABLED_ProcessingNoPlatformChild, TheGPUEngineAnswersFalse) {
  ASSERT_TRUE(std::getenv("NX_OPENCL_EXPECT_NONE")) << "run by NoPlatformAtAll in a child process";
  TAsker asker;  // a GPU engine, then a parallel one: the parallel one answers
  AddEngines(asker.Processing, {{'G'}, {'P', true, 2}});
  const TAnswer a(asker.Processing, &asker);
  EXPECT_EQ(std::tuple(a.Result, bool(a.Context), bool(a.Platform), a.Stride), std::tuple(true, false, false, 10240));
  EXPECT_EQ(static_cast<TRGGPUProcessingEngine*>(asker.Processing.Engines().Items(0))->GetPlatformValues(),
            std::vector<std::string>{"Default"});
}

TEST(ProcessingNoPlatform, NoPlatformAtAll) { nxtest::ExpectChildPassesWithoutOpenCL("DISABLED_ProcessingNoPlatformChild"); }

// consumer -> m1 -> m2: which of them answers, and who owns the executor.
TEST(ProcessingManager, RequestsAreAnsweredByTheFirstManagerThatCan) {
  // Links: consumer -> m1, m1 -> m2; engines: 0 none, 1 enabled, 2 disabled; owner: 0 consumer, 1 m1, 2 m2, -1 none.
  const std::tuple<const char*, bool, bool, int, int, bool, std::int32_t, int> cases[] = {
      {"unlinked consumer", false, false, 1, 1, false, 0, -1},
      {"manager without engines, nothing upstream", true, false, 0, 0, false, 0, -1},
      {"the consumer's own engine wins", true, false, 1, 0, true, 333, 0},
      {"a disabled engine passes up the chain", true, true, 2, 1, false, 222, 2},
      {"the first manager of a chain answers", true, true, 1, 1, false, 111, 1},
  };
  for (const auto& [name, linkConsumer, linkManagers, m1Engine, m2Engine, ownEngine, stride, owner] : cases) {
    SCOPED_TRACE(name);
    TAsker consumer;
    auto m1 = MakeManager(), m2 = MakeManager();
    if (m1Engine) AddEngines(m1->Processing(), {{'P', m1Engine == 1, 2, true, 111}});
    if (m2Engine) AddEngines(m2->Processing(), {{'P', m2Engine == 1, 3, true, 222}});
    if (ownEngine) AddEngines(consumer.Processing, {{'P', true, 1, true, 333}});
    ASSERT_EQ(linkConsumer && consumer.Processing.ProcessingPin().Connect(&m1->ProcessingPin()), linkConsumer);
    ASSERT_EQ(linkManagers && m1->Processing().ProcessingPin().Connect(&m2->ProcessingPin()), linkManagers);
    const TAnswer a(consumer.Processing, &consumer);
    EXPECT_EQ(std::tuple(a.Result, a.Stride, consumer.ComponentCount(), m1->ComponentCount(), m2->ComponentCount()),
              std::tuple(owner >= 0, stride, owner == 0 ? 1 : 0, owner == 1 ? 1 : 0, owner == 2 ? 1 : 0));
  }
}

// One manager serves many consumers asking at once, each with an executor of its own; other operations are
// ignored, the pins link only to each other, and freeing the manager ends its executors after their work.
TEST(ProcessingManager, ServesManyConsumersAtOnce) {
  constexpr int kConsumers = 4;
  auto manager = MakeManager();
  AddEngines(manager->Processing(), {{'P', true, 2, true, 5}});
  std::vector<std::unique_ptr<TAsker>> consumers;
  for (int i = 0; i < kConsumers; ++i) {
    consumers.push_back(std::make_unique<TAsker>());
    ASSERT_TRUE(consumers.back()->Processing.ProcessingPin().Connect(&manager->ProcessingPin()));
  }
  TFTRGProcessingSinkPin& pin = consumers[0]->Processing.ProcessingPin();
  EXPECT_FALSE(pin.Notify(TFTStopOperation::Make()));
  TNXFTSourcePin signalSource("Out");
  TNXFTSinkPin signalSink("In");
  EXPECT_FALSE(pin.Connect(&signalSource));
  EXPECT_FALSE(signalSink.Connect(&manager->ProcessingPin()));
  EXPECT_EQ(manager->ComponentCount(), 0);
  std::vector<TIntfPtr<IExecutor>> executors(kConsumers);
  std::vector<std::thread> threads;
  for (int i = 0; i < kConsumers; ++i)
    threads.emplace_back([&, i] { executors[i] = TAnswer(consumers[i]->Processing, consumers[i].get()).Executor; });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(manager->ComponentCount(), kConsumers);
  std::atomic<int> ran{0};
  for (const TIntfPtr<IExecutor>& e : executors) {
    ASSERT_TRUE(e);
    for (int i = 0; i < 100; ++i) e->Submit([&] { ran.fetch_add(1); });
  }
  manager.reset();
  EXPECT_EQ(ran.load(), 100 * kConsumers);
  EXPECT_THROW(executors[0]->Submit([] {}), EInvalidOperation);
  EXPECT_FALSE(pin.IsConnected());
  EXPECT_FALSE(TAnswer(consumers[0]->Processing, consumers[0].get()).Result);
}

struct TDocGraph : TComponent {
  explicit TDocGraph(TComponent* AOwner) : TComponent(AOwner) { InitProperties(this); }
  static void DeclareProperties(TClassBuilder<TDocGraph>&) {}
  NX_PERSISTENT(TDocGraph, TComponent)
};

// Chained managers (engines found by class name, a Processing sink linked by its pin name) survive save/load.
TEST(ProcessingManager, AGraphDocumentKeepsEnginesSettingsAndWiring) {
  RegisterClasses({&TDocGraph::StaticClassInfo()});
  for (TGraphDocumentFormat format : {TGraphDocumentFormat::Text, TGraphDocumentFormat::Binary}) {
    auto* graph = new TDocGraph(nullptr);
    auto *up = new TRGProcessingManager(graph), *down = new TRGProcessingManager(graph);
    up->SetName("Up");
    down->SetName("Down");
    AddEngines(up->Processing(), {{'G', false, 0, true, 0, "Some Platform"}, {'P', true, 3, true, 111}});
    ASSERT_TRUE(down->Processing().ProcessingPin().Connect(&up->ProcessingPin()));
    const std::string saved = TNXGraphDocument::SaveToString(*graph, format);
    TComponent::Free(graph);
    std::unique_ptr<TComponent, void (*)(TComponent*)> loaded(TNXGraphDocument::LoadFromString(saved, nullptr),
                                                                [](TComponent* c) { TComponent::Free(c); });
    EXPECT_EQ(TNXGraphDocument::SaveToString(*loaded, format), saved);
    auto* m = dynamic_cast<TRGProcessingManager*>(loaded->FindComponent("Up"));
    auto* d = dynamic_cast<TRGProcessingManager*>(loaded->FindComponent("Down"));
    ASSERT_TRUE(m && d);
    const TAnswer a(d->Processing(), d);
    EXPECT_EQ(std::tuple(a.Result, a.Stride, a.Executor ? a.Executor->ThreadCount() : 0, m->ComponentCount()), std::tuple(true, 111, 3, 1));
    // SetEngines and a manager's SetProcessing copy a list: classes and settings.
    TAsker copy;
    copy.Processing.SetEngines(m->Processing().Engines());
    d->SetProcessing(m->Processing());
    const TRGProcessingEngines& e = d->Processing().Engines();
    EXPECT_EQ(std::tuple(e[0]->GetDisplayName(), e[0]->Enabled(), e[1]->GetDisplayName(), TAnswer(copy.Processing, &copy).Stride),
              std::tuple(std::string("GPU Processing"), false, std::string("Parallel Processing"), 111));
    EXPECT_EQ(dynamic_cast<TRGGPUProcessingEngine&>(*e[0]).Platform(), "Some Platform");
  }
}

}  // namespace
}  // namespace nx
