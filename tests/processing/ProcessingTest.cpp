// Processing engines and the processing manager: the engine walk, the GPU engine with
// and without an OpenCL platform, manager chains, threads and graph documents.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "OpenCLSupport.h"
#include "nxruntime.h"

namespace nx {
namespace {

// A component that asks for engines and owns the executors it is handed;
// it counts the change notifications of its engine list.
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

TAnswer Ask(TRGProcessing& AProcessing, TComponent* AOwner) {
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
  std::uint32_t GroupSize = 10;
  TThreadPriority Priority = tpNormal;
};

void AddEngines(TRGProcessing& AProcessing, const std::vector<TEngineSpec>& ASpecs) {
  for (const TEngineSpec& s : ASpecs) {
    if (s.Kind == 'P') {
      auto* e = static_cast<TRGParallelProcessingEngine*>(
          AProcessing.Engines().Add(TRGParallelProcessingEngine::StaticClassInfo()));
      e->Pool().SetCount(s.Count);
      e->Pool().SetEnabled(s.PoolEnabled);
      e->Pool().SetGroupSize(s.GroupSize);
      e->SetMemoryStrideSize(s.Stride);
      e->SetPriority(s.Priority);
      e->SetEnabled(s.Enabled);
    } else {
      auto* e =
          static_cast<TRGGPUProcessingEngine*>(AProcessing.Engines().Add(TRGGPUProcessingEngine::StaticClassInfo()));
      e->SetPlatform(s.Platform);
      e->SetEnabled(s.Enabled);
    }
  }
}

void AddParallel(TRGProcessing& AProcessing, std::int32_t ACount, std::uint32_t AStride, bool AEnabled = true) {
  AddEngines(AProcessing, {{'P', AEnabled, ACount, true, AStride}});
}

std::unique_ptr<TRGProcessingManager, void (*)(TRGProcessingManager*)> MakeManager() {
  return {new TRGProcessingManager(nullptr), [](TRGProcessingManager* m) { TComponent::Free(m); }};
}

// Runs ACount indices on the executor and says how many ran.
int RunsOn(IExecutor& AExecutor, int ACount) {
  std::atomic<int> ran{0};
  ParallelFor(AExecutor, ACount, [&](std::int64_t f, std::int64_t l) { ran.fetch_add(int(l - f)); });
  return ran.load();
}

// Engine lists that need no OpenCL platform (GPU engines here name one that
// does not exist, or "default", which is a name, not the first platform).
TEST(ProcessingEngines, TheFirstEnabledEngineThatAnswersWins) {
  struct TCase {
    const char* Name;
    std::vector<TEngineSpec> Engines;
    bool Result;
    std::int32_t Threads;  // of the executor handed out (0: none; -1: the request raises)
    std::int32_t Stride;
  };
  const TCase cases[] = {
      {"empty list", {}, false, 0, 0},
      {"one parallel engine", {{'P', true, 3}}, true, 3, 10240},
      {"a disabled first engine is skipped", {{'P', false, 3}, {'P', true, 2, true, 64}}, true, 2, 64},
      {"only the first of two is asked", {{'P', true, 3, true, 100}, {'P', true, 2, true, 200}}, true, 3, 100},
      {"pool disabled: one thread, stride still set", {{'P', true, 4, false, 77}}, true, 1, 77},
      // Pool settings: a count below 1 is one thread, a group size of 0 is 1.
      {"a pool of one", {{.Kind = 'P', .Count = 1, .GroupSize = 1, .Priority = tpIdle}}, true, 1, 10240},
      {"count 0", {{.Kind = 'P', .Count = 0, .GroupSize = 7, .Priority = tpLowest}}, true, 1, 10240},
      {"group size 0", {{.Kind = 'P', .Count = 6, .GroupSize = 0}}, true, 6, 10240},
      {"unknown platform, then parallel", {{'G', true, 0, true, 0, "No"}, {'P', true, 2}}, true, 2, 10240},
      {"'default' is a platform name", {{'G', true, 0, true, 0, "default"}}, false, 0, 0},
      {"every engine disabled", {{'P', false}, {'G', false}}, false, 0, 0},
      {"the largest stride", {{'P', true, 2, true, 0x7FFFFFFFu}}, true, 2, 0x7FFFFFFF},
      // A stride above the signed 32-bit range raises (Threads -1), making no executor.
      {"stride 2^31", {{'P', true, 1, true, 0x80000000u}}, false, -1, 0},
      {"stride 2^32 - 1", {{'P', true, 1, true, 0xFFFFFFFFu}}, false, -1, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TAsker asker;
    AddEngines(asker.Processing, c.Engines);
    if (c.Threads < 0) {
      EXPECT_THROW(Ask(asker.Processing, &asker), ERangeError);
      EXPECT_EQ(asker.ComponentCount(), 0);
      continue;
    }
    const TAnswer a = Ask(asker.Processing, &asker);
    EXPECT_EQ(a.Result, c.Result);
    EXPECT_EQ(a.Stride, c.Stride);
    EXPECT_FALSE(a.Context);
    EXPECT_FALSE(a.Platform);
    ASSERT_EQ(bool(a.Executor), c.Threads > 0);
    // Exactly one executor was made, owned by the asker.
    EXPECT_EQ(asker.ComponentCount(), c.Threads > 0 ? 1 : 0);
    if (!a.Executor) continue;
    EXPECT_EQ(a.Executor->ThreadCount(), c.Threads);
    auto* pool = dynamic_cast<TThreadPoolExecutor*>(a.Executor.Get());
    ASSERT_NE(pool, nullptr);
    const TEngineSpec& used = *std::find_if(c.Engines.begin(), c.Engines.end(),
                                            [](const TEngineSpec& s) { return s.Kind == 'P' && s.Enabled; });
    EXPECT_EQ(dynamic_cast<TThreadExecutor*>(pool) != nullptr, !used.PoolEnabled);
    if (used.PoolEnabled) {
      EXPECT_EQ(pool->GroupSize(), std::max(1u, used.GroupSize));
      // The engine's Priority does not reach the pool: it always gets the fixed setting.
      EXPECT_EQ(pool->GetPriority(), TRGParallelProcessingEngine::kPoolPriority);
    }
    EXPECT_EQ(RunsOn(*a.Executor, 100), 100);
  }
}

TEST(ProcessingEngines, SettersNotifyOnlyOnChange) {
  TAsker asker;
  AddEngines(asker.Processing, {{'P'}, {'G'}});
  auto* p = static_cast<TRGParallelProcessingEngine*>(asker.Processing.Engines().Items(0));
  auto* g = static_cast<TRGGPUProcessingEngine*>(asker.Processing.Engines().Items(1));
  struct TCase {
    const char* Name;
    std::function<void()> Set;
    int Changes;
  };
  const TCase cases[] = {
      {"Enabled same", [&] { p->SetEnabled(true); }, 0},
      {"Enabled new", [&] { p->SetEnabled(false); }, 1},
      {"IsEnabled through the interface", [&] { static_cast<IEnable*>(p)->SetIsEnabled(true); }, 1},
      {"Count same", [&] { p->Pool().SetCount(4); }, 0},
      {"Count clamped to the same 1", [&] { p->Pool().SetCount(1); p->Pool().SetCount(-3); }, 1},
      {"GroupSize new", [&] { p->Pool().SetGroupSize(11); }, 1},
      {"Priority new", [&] { p->SetPriority(tpHighest); }, 1},
      {"Platform same", [&] { g->SetPlatform("Default"); }, 0},
      {"Platform new", [&] { g->SetPlatform("Other"); }, 1},
      {"by name", [&] { SetPropText(*p, "MemoryStrideSize", "512"); }, 1},
  };
  for (const TCase& c : cases) {
    const int before = asker.Changes;
    c.Set();
    EXPECT_EQ(asker.Changes - before, c.Changes) << c.Name;
  }
  EXPECT_EQ(p->MemoryStrideSize(), 512u);
  EXPECT_EQ(p->Pool().Count(), 1);
}

// The binary form of an engine list: lists of the same classes and settings stream alike.
std::string Streamed(const TRGProcessing& AProcessing) {
  TMemoryStream stream;
  TBinaryWriter w(stream, "TRGProcessing");
  WriteObject(w, AProcessing);
  w.Finish();
  return std::string(static_cast<const char*>(stream.Memory()), static_cast<std::size_t>(stream.Size()));
}

// SetEngines and a manager's SetProcessing copy a list (classes and settings).
TEST(ProcessingEngines, EngineListsCopy) {
  TAsker source, copy, plain;
  AddEngines(source.Processing, {{'G', false, 0, true, 0, "Some Platform"},
                                 {.Kind = 'P', .Count = 3, .PoolEnabled = false, .Stride = 99, .Priority = tpHighest}});
  AddEngines(plain.Processing, {{'G'}, {'P'}});
  copy.Processing.SetEngines(source.Processing.Engines());
  auto manager = MakeManager();
  manager->SetProcessing(source.Processing);
  EXPECT_EQ(Streamed(copy.Processing), Streamed(source.Processing));
  EXPECT_EQ(Streamed(manager->Processing()), Streamed(source.Processing));
  EXPECT_NE(Streamed(plain.Processing), Streamed(source.Processing));  // the settings are in the form
  EXPECT_EQ(copy.Processing.Engines()[0]->GetDisplayName(), "GPU Processing");
  EXPECT_EQ(copy.Processing.Engines()[1]->GetDisplayName(), "Parallel Processing");
}

// A GPU engine first and a parallel engine second: with a platform the GPU
// engine answers; without one the walk goes on to the parallel engine.
void ExpectGPUThenParallel(bool APlatformPresent) {
  TAsker asker;
  AddEngines(asker.Processing, {{'G'}, {'P', true, 2}});
  const TAnswer a = Ask(asker.Processing, &asker);
  EXPECT_TRUE(a.Result);
  EXPECT_EQ(bool(a.Context), APlatformPresent);
  EXPECT_EQ(bool(a.Platform), APlatformPresent);
  EXPECT_EQ(bool(a.Executor), !APlatformPresent);
  EXPECT_EQ(a.Stride, APlatformPresent ? 0 : 10240);
}

TEST(ProcessingGPUEngine, HandsOutAContextOnThePlatformsDevices) {
  TIntfPtr<IOCLContext> shared;
  NX_REQUIRE_OPENCL_CONTEXT(shared);
  const auto platforms = TOpenCL::GetPlatforms();
  ASSERT_FALSE(platforms.empty());
  const std::string first = platforms.front()->GetName();
  struct TCase {
    std::string Platform;
    bool Result;
  };
  for (const TCase& c : {TCase{"Default", true}, TCase{first, true}, TCase{first + " ", false},
                         TCase{"DEFAULT", false}}) {
    SCOPED_TRACE(c.Platform);
    TAsker asker;
    AddEngines(asker.Processing, {{'G', true, 0, true, 0, c.Platform.c_str()}});
    const TAnswer a = Ask(asker.Processing, &asker);
    EXPECT_EQ(a.Result, c.Result);
    EXPECT_FALSE(a.Executor);
    EXPECT_EQ(a.Stride, 0);
    ASSERT_EQ(bool(a.Context), c.Result);
    if (!c.Result) continue;
    ASSERT_TRUE(a.Platform);
    EXPECT_EQ(a.Platform->GetName(), first);
    EXPECT_EQ(a.Context->GetDevices().size(), a.Platform->GetDevices().size());
  }
  // What the editor offers for Platform.
  TAsker asker;
  AddEngines(asker.Processing, {{'G'}});
  auto* g = static_cast<TRGGPUProcessingEngine*>(asker.Processing.Engines().Items(0));
  const std::vector<std::string> values = g->GetPlatformValues();
  ASSERT_EQ(values.size(), platforms.size() + 1);
  EXPECT_EQ(values[0], "Default");
  EXPECT_EQ(values[1], first);
  ExpectGPUThenParallel(true);
}

// Run as a child process with OCL_ICD_VENDORS on an empty folder (below).
TEST(DISABLED_ProcessingNoPlatformChild, TheGPUEngineAnswersFalse) {
  ASSERT_TRUE(std::getenv("NX_OPENCL_EXPECT_NONE")) << "run by NoPlatformAtAll in a child process";
  ExpectGPUThenParallel(false);
  TAsker asker;
  AddEngines(asker.Processing, {{'G'}});
  const TAnswer a = Ask(asker.Processing, &asker);
  EXPECT_FALSE(a.Result);
  EXPECT_FALSE(a.Context);
  EXPECT_FALSE(a.Platform);
  auto* g = static_cast<TRGGPUProcessingEngine*>(asker.Processing.Engines().Items(0));
  EXPECT_TRUE(g->GetPlatforms().empty());
  EXPECT_EQ(g->GetPlatformValues(), std::vector<std::string>{"Default"});
}

TEST(ProcessingNoPlatform, NoPlatformAtAll) { nxtest::ExpectChildPassesWithoutOpenCL("DISABLED_ProcessingNoPlatformChild"); }

// consumer -> m1 -> m2: which of them answers, and who owns the executor.
TEST(ProcessingManager, RequestsAreAnsweredByTheFirstManagerThatCan) {
  // Engines: 0 none, 1 enabled parallel, 2 disabled parallel; OwnedBy: 0 consumer, 1 m1, 2 m2, -1 nobody.
  struct TCase {
    const char* Name;
    bool LinkConsumer, LinkManagers;  // consumer's sink to m1's source, m1's sink to m2's source
    int M1Engine, M2Engine;
    bool ConsumerEngine, Result;
    std::int32_t Stride;
    int OwnedBy;
  };
  const TCase cases[] = {
      {"unlinked consumer", false, false, 1, 1, false, false, 0, -1},
      {"manager without engines, nothing upstream", true, false, 0, 0, false, false, 0, -1},
      {"manager answers", true, false, 1, 0, false, true, 111, 1},
      {"the consumer's own engine wins", true, false, 1, 0, true, true, 333, 0},
      {"empty manager passes up the chain", true, true, 0, 1, false, true, 222, 2},
      {"disabled engine passes up the chain", true, true, 2, 1, false, true, 222, 2},
      {"the first manager of a chain answers", true, true, 1, 1, false, true, 111, 1},
      {"nobody in the chain can", true, true, 2, 0, false, false, 0, -1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TAsker consumer;
    auto m1 = MakeManager();
    auto m2 = MakeManager();
    if (c.M1Engine) AddParallel(m1->Processing(), 2, 111, c.M1Engine == 1);
    if (c.M2Engine) AddParallel(m2->Processing(), 3, 222, c.M2Engine == 1);
    if (c.ConsumerEngine) AddParallel(consumer.Processing, 1, 333);
    TFTRGProcessingSinkPin &pin = consumer.Processing.ProcessingPin(), &m1Pin = m1->Processing().ProcessingPin();
    EXPECT_EQ(c.LinkConsumer && pin.Connect(&m1->ProcessingPin()), c.LinkConsumer);
    EXPECT_EQ(c.LinkManagers && m1Pin.Connect(&m2->ProcessingPin()), c.LinkManagers);
    const TAnswer a = Ask(consumer.Processing, &consumer);
    EXPECT_EQ(a.Result, c.Result);
    EXPECT_EQ(bool(a.Executor), c.Result);
    EXPECT_EQ(a.Stride, c.Stride);
    EXPECT_FALSE(a.Context);
    const int owned[] = {consumer.ComponentCount(), m1->ComponentCount(), m2->ComponentCount()};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(owned[i], i == c.OwnedBy ? 1 : 0) << "owner " << i;
    if (a.Executor) {
      EXPECT_EQ(RunsOn(*a.Executor, 64), 64);
    }
  }
}

// Operations of another kind are ignored, a request is answered in place (the send
// still reports false), the processing pins link only to each other, and freeing the
// manager ends the executors it made after their queued work.
TEST(ProcessingManager, AnswersRequestsOnlyAndItsExecutorsEndWithIt) {
  TAsker consumer;
  auto manager = MakeManager();
  AddParallel(manager->Processing(), 2, 1);
  TFTRGProcessingSinkPin& pin = consumer.Processing.ProcessingPin();
  ASSERT_TRUE(pin.Connect(&manager->ProcessingPin()));
  for (const TIntfPtr<IFTNotifyOperation>& op :
       {TFTStopOperation::Make(), TFTStartRateOperation::Make(1000.0), TFTNotifyOperation::Make()})
    EXPECT_FALSE(pin.Notify(op));
  EXPECT_EQ(manager->ComponentCount(), 0);
  TIntfPtr<IFTNotifyOperation> request = TFTProcessingEngineRequestOperation::Make();
  EXPECT_FALSE(pin.Notify(request));
  EXPECT_TRUE(request->As<TFTProcessingEngineRequestOperation>()->Executor);
  EXPECT_EQ(manager->ComponentCount(), 1);
  TNXFTSourcePin signalSource("Out");
  TNXFTSinkPin signalSink("In");
  EXPECT_FALSE(pin.Connect(&signalSource));
  EXPECT_FALSE(signalSink.Connect(&manager->ProcessingPin()));
  EXPECT_TRUE(pin.IsConnectedTo(&manager->ProcessingPin()));
  TIntfPtr<IExecutor> e = Ask(consumer.Processing, &consumer).Executor;
  ASSERT_TRUE(e);
  std::atomic<int> ran{0};
  for (int i = 0; i < 100; ++i) e->Submit([&] { ran.fetch_add(1); });
  manager.reset();
  EXPECT_EQ(ran.load(), 100);
  EXPECT_THROW(e->Submit([] {}), EInvalidOperation);
  EXPECT_FALSE(pin.IsConnected());
  EXPECT_FALSE(Ask(consumer.Processing, &consumer).Result);
}

// One manager serves any number of consumers, each with executors of its
// own, also when they ask at the same time.
TEST(ProcessingManager, ServesManyConsumersAtOnce) {
  constexpr int kConsumers = 4;
  auto manager = MakeManager();
  AddParallel(manager->Processing(), 2, 5);
  std::vector<std::unique_ptr<TAsker>> consumers;
  for (int i = 0; i < kConsumers; ++i) {
    consumers.push_back(std::make_unique<TAsker>());
    ASSERT_TRUE(consumers.back()->Processing.ProcessingPin().Connect(&manager->ProcessingPin()));
  }
  EXPECT_EQ(manager->ProcessingPin().ConnectedCount(), kConsumers);
  std::vector<int> sums(kConsumers, 0);
  std::vector<std::thread> threads;
  for (int i = 0; i < kConsumers; ++i)
    threads.emplace_back([&, i] {
      TAnswer a = Ask(consumers[i]->Processing, consumers[i].get());
      if (!a.Result) return;
      std::atomic<int> sum{0};
      ParallelFor(*a.Executor, 1000, [&](std::int64_t f, std::int64_t l) {
        for (std::int64_t k = f; k < l; ++k) sum.fetch_add(int(k % 7));
      });
      sums[i] = sum.load();
    });
  for (std::thread& t : threads) t.join();
  int expected = 0;
  for (int k = 0; k < 1000; ++k) expected += k % 7;
  for (int i = 0; i < kConsumers; ++i) EXPECT_EQ(sums[i], expected) << i;
  EXPECT_EQ(manager->ComponentCount(), kConsumers);
  consumers.clear();
  EXPECT_EQ(manager->ProcessingPin().ConnectedCount(), 0);
}

// A consumer whose engine list is a published sub-object and whose pin a document links.
class TDocConsumer : public TLockComponent, public INXPinOwner {
  NX_PERSISTENT(TDocConsumer, TLockComponent)
 public:
  explicit TDocConsumer(TComponent* AOwner) : TLockComponent(AOwner) { InitProperties(this); }
  static void DeclareProperties(TClassBuilder<TDocConsumer>& P) { P.Prop<&TDocConsumer::FProcessing>("Processing"); }
  TRGProcessing& Processing() const { return *FProcessing; }
  std::int32_t GetPinCount() const override { return 1; }
  TFTBasicPin* GetPin(std::int32_t) const override { return &FProcessing->ProcessingPin(); }
 private:
  std::unique_ptr<TRGProcessing> FProcessing;
};

class TDocGraph : public TComponent {
  NX_PERSISTENT(TDocGraph, TComponent)
 public:
  explicit TDocGraph(TComponent* AOwner) : TComponent(AOwner) { InitProperties(this); }
  static void DeclareProperties(TClassBuilder<TDocGraph>&) {}
};

// A manager (a disabled GPU engine, then a parallel one) and three consumers, one with
// engines of its own and two wired to the manager, survive save -> load -> save in both
// forms (engine classes found by name), and each consumer then gets the engines it should.
TEST(ProcessingManager, AGraphDocumentKeepsEnginesSettingsAndWiring) {
  RegisterClasses({&TDocGraph::StaticClassInfo(), &TDocConsumer::StaticClassInfo()});
  for (TGraphDocumentFormat format : {TGraphDocumentFormat::Text, TGraphDocumentFormat::Binary}) {
    SCOPED_TRACE(format == TGraphDocumentFormat::Text ? "text" : "binary");
    auto* graph = new TDocGraph(nullptr);
    auto* manager = new TRGProcessingManager(graph);
    manager->SetName("Manager");
    AddEngines(manager->Processing(), {{'G', false, 0, true, 0, "Some Platform"}, {'P', true, 3, true, 111}});
    TDocConsumer* consumers[3];
    for (int i = 0; i < 3; ++i) {
      consumers[i] = new TDocConsumer(graph);
      consumers[i]->SetName("C" + std::to_string(i));
    }
    AddParallel(consumers[0]->Processing(), 2, 333);
    for (int i : {1, 2}) ASSERT_TRUE(consumers[i]->Processing().ProcessingPin().Connect(&manager->ProcessingPin()));
    const std::string saved = TNXGraphDocument::SaveToString(*graph, format);
    TComponent::Free(graph);
    std::unique_ptr<TComponent, void (*)(TComponent*)> loaded(TNXGraphDocument::LoadFromString(saved, nullptr),
                                                                [](TComponent* c) { TComponent::Free(c); });
    EXPECT_EQ(TNXGraphDocument::SaveToString(*loaded, format), saved);
    auto* m = dynamic_cast<TRGProcessingManager*>(loaded->FindComponent("Manager"));
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->Processing().Engines().Count(), 2);
    EXPECT_EQ(dynamic_cast<TRGGPUProcessingEngine&>(*m->Processing().Engines()[0]).Platform(), "Some Platform");
    auto* engine = dynamic_cast<TRGParallelProcessingEngine*>(m->Processing().Engines()[1]);
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine->Pool().Count(), 3);
    EXPECT_EQ(engine->MemoryStrideSize(), 111u);
    // The pins a document links have unique names: the manager's source pin and its Processing's sink.
    EXPECT_EQ(m->FindPin("ProcessingPin"), &m->ProcessingPin());
    EXPECT_EQ(m->FindPin("Processing.ProcessingPin"), &m->Processing().ProcessingPin());
    for (int i = 0; i < 3; ++i) {
      auto* c = dynamic_cast<TDocConsumer*>(loaded->FindComponent("C" + std::to_string(i)));
      ASSERT_NE(c, nullptr);
      EXPECT_EQ(c->Processing().ProcessingPin().IsConnectedTo(&m->ProcessingPin()), i != 0);
      const std::int32_t managerOwned = m->ComponentCount();
      const TAnswer a = Ask(c->Processing(), c);
      // C0 answers itself; the others are answered (and their executors owned) by the manager.
      EXPECT_TRUE(a.Result) << i;
      EXPECT_EQ(a.Stride, i == 0 ? 333 : 111) << i;
      EXPECT_EQ(c->ComponentCount(), i == 0 ? 1 : 0) << i;
      EXPECT_EQ(m->ComponentCount(), managerOwned + (i == 0 ? 0 : 1)) << i;
    }
  }
}

}  // namespace
}  // namespace nx
