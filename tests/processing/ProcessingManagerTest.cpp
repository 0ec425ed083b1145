// Tests of the processing manager: requests travel from a consumer's
// processing sink pin to the manager, which answers them in place from its
// own engines with itself as the executor's owner; chains of managers; other
// operations and other pin kinds; several consumers, also on several
// threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ProcessingTestSupport.h"

namespace nx {
namespace {

using TConsumer = test::TAsker;
using test::AddParallel;
using test::Ask;
using test::TAnswer;

std::unique_ptr<TRGProcessingManager, void (*)(TRGProcessingManager*)> MakeManager() {
  return {new TRGProcessingManager(nullptr), [](TRGProcessingManager* m) { TComponent::Free(m); }};
}

// consumer -> m1 -> m2: which of them answers, and who owns the executor.
TEST(ProcessingManager, RequestsAreAnsweredByTheFirstManagerThatCan) {
  struct TCase {
    const char* Name;
    bool LinkConsumer;          // consumer's sink to m1's source
    bool LinkManagers;          // m1's sink to m2's source
    int M1Engine;               // 0 none, 1 enabled parallel, 2 disabled parallel
    int M2Engine;
    bool ConsumerEngine;        // the consumer has an engine of its own
    bool Result;
    std::int32_t Stride;
    int OwnedBy;                // 0 consumer, 1 m1, 2 m2, -1 nobody
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
    TConsumer consumer;
    auto m1 = MakeManager();
    auto m2 = MakeManager();
    if (c.M1Engine) AddParallel(m1->Processing(), 2, 111, c.M1Engine == 1);
    if (c.M2Engine) AddParallel(m2->Processing(), 3, 222, c.M2Engine == 1);
    if (c.ConsumerEngine) AddParallel(consumer.Processing, 1, 333);
    if (c.LinkConsumer) {
      ASSERT_TRUE(consumer.Processing.ProcessingPin().Connect(&m1->ProcessingPin()));
    }
    if (c.LinkManagers) {
      ASSERT_TRUE(m1->Processing().ProcessingPin().Connect(&m2->ProcessingPin()));
    }
    const TAnswer a = Ask(consumer.Processing, &consumer);
    EXPECT_EQ(a.Result, c.Result);
    EXPECT_EQ(bool(a.Executor), c.Result);
    EXPECT_EQ(a.Stride, c.Stride);
    EXPECT_FALSE(a.Context);
    const int owned[] = {consumer.ComponentCount(), m1->ComponentCount(), m2->ComponentCount()};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(owned[i], i == c.OwnedBy ? 1 : 0) << "owner " << i;
    if (a.Executor) {
      EXPECT_EQ(test::RunsOn(*a.Executor, 64), 64);
    }
  }
}

// Freeing the manager ends the executors it made for its consumers.
TEST(ProcessingManager, ExecutorsEndWithTheManager) {
  TConsumer consumer;
  auto manager = MakeManager();
  AddParallel(manager->Processing(), 2, 1);
  ASSERT_TRUE(consumer.Processing.ProcessingPin().Connect(&manager->ProcessingPin()));
  TIntfPtr<IExecutor> e = Ask(consumer.Processing, &consumer).Executor;
  ASSERT_TRUE(e);
  std::atomic<int> ran{0};
  for (int i = 0; i < 100; ++i) e->Submit([&] { ran.fetch_add(1); });
  manager.reset();
  EXPECT_EQ(ran.load(), 100);
  EXPECT_THROW(e->Submit([] {}), EInvalidOperation);
  EXPECT_FALSE(consumer.Processing.ProcessingPin().IsConnected());
  EXPECT_FALSE(Ask(consumer.Processing, &consumer).Result);
}

// Operations of another kind reach the manager and are ignored; the
// processing pins link only to each other.
TEST(ProcessingManager, OtherOperationsAndPinsAreNotTaken) {
  TConsumer consumer;
  auto manager = MakeManager();
  AddParallel(manager->Processing(), 1, 1);
  ASSERT_TRUE(consumer.Processing.ProcessingPin().Connect(&manager->ProcessingPin()));
  for (const TIntfPtr<IFTNotifyOperation>& op :
       {TFTStopOperation::Make(), TFTStartRateOperation::Make(1000.0), TFTNotifyOperation::Make()}) {
    EXPECT_FALSE(consumer.Processing.ProcessingPin().Notify(op));
    EXPECT_EQ(manager->ComponentCount(), 0);
  }
  // A request is answered in place, and the send still reports false.
  TIntfPtr<IFTNotifyOperation> request = TFTProcessingEngineRequestOperation::Make();
  EXPECT_FALSE(consumer.Processing.ProcessingPin().Notify(request));
  EXPECT_TRUE(request->As<TFTProcessingEngineRequestOperation>()->Executor);
  EXPECT_EQ(manager->ComponentCount(), 1);

  TNXFTSourcePin signalSource("Out");
  TNXFTSinkPin signalSink("In");
  EXPECT_FALSE(consumer.Processing.ProcessingPin().Connect(&signalSource));
  EXPECT_FALSE(signalSink.Connect(&manager->ProcessingPin()));
  EXPECT_TRUE(consumer.Processing.ProcessingPin().IsConnectedTo(&manager->ProcessingPin()));
}

// One manager serves any number of consumers, each with executors of its
// own, also when they ask at the same time.
TEST(ProcessingManager, ServesManyConsumersAtOnce) {
  constexpr int kConsumers = 4;
  auto manager = MakeManager();
  AddParallel(manager->Processing(), 2, 5);
  std::vector<std::unique_ptr<TConsumer>> consumers;
  for (int i = 0; i < kConsumers; ++i) {
    consumers.push_back(std::make_unique<TConsumer>());
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

TEST(ProcessingManager, SettingsCopyAndPinsAreFoundByName) {
  auto manager = MakeManager();
  auto source = MakeManager();
  AddParallel(source->Processing(), 6, 42);
  manager->SetProcessing(source->Processing());
  ASSERT_EQ(manager->Processing().Engines().Count(), 1);
  auto* e = static_cast<TRGParallelProcessingEngine*>(manager->Processing().Engines().Items(0));
  EXPECT_EQ(e->Pool().Count(), 6);
  EXPECT_EQ(e->MemoryStrideSize(), 42u);
  // The pins a graph document links, by unique names.
  ASSERT_EQ(manager->GetPinCount(), 2);
  EXPECT_EQ(manager->FindPin("ProcessingPin"), &manager->ProcessingPin());
  EXPECT_EQ(manager->FindPin("Processing.ProcessingPin"), &manager->Processing().ProcessingPin());
}


// ---- graph documents

// A consumer that can be saved: its engine list is a published sub-object
// and its processing pin is linked in the document.
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

// A manager and three consumers, one with engines of its own and two wired to
// the manager, survive save -> load -> save in both forms, and each consumer
// then gets the engines it should.
TEST(ProcessingManager, AGraphDocumentKeepsEnginesSettingsAndWiring) {
  RegisterClasses({&TDocGraph::StaticClassInfo(), &TDocConsumer::StaticClassInfo()});
  for (TGraphDocumentFormat format : {TGraphDocumentFormat::Text, TGraphDocumentFormat::Binary}) {
    SCOPED_TRACE(format == TGraphDocumentFormat::Text ? "text" : "binary");
    auto* graph = new TDocGraph(nullptr);
    auto* manager = new TRGProcessingManager(graph);
    manager->SetName("Manager");
    AddParallel(manager->Processing(), 3, 111);
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
    ASSERT_EQ(m->Processing().Engines().Count(), 1);
    auto* engine = dynamic_cast<TRGParallelProcessingEngine*>(m->Processing().Engines()[0]);
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine->Pool().Count(), 3);
    EXPECT_EQ(engine->MemoryStrideSize(), 111u);
    struct TExpect {
      std::int32_t Stride;
      bool OwnsExecutor;  // the consumer itself, else the manager
    };
    const TExpect expect[3] = {{333, true}, {111, false}, {111, false}};
    for (int i = 0; i < 3; ++i) {
      auto* c = dynamic_cast<TDocConsumer*>(loaded->FindComponent("C" + std::to_string(i)));
      ASSERT_NE(c, nullptr);
      EXPECT_EQ(c->Processing().ProcessingPin().IsConnectedTo(&m->ProcessingPin()), i != 0);
      const std::int32_t managerOwned = m->ComponentCount();
      const TAnswer a = Ask(c->Processing(), c);
      EXPECT_TRUE(a.Result) << i;
      EXPECT_EQ(a.Stride, expect[i].Stride) << i;
      EXPECT_EQ(c->ComponentCount(), expect[i].OwnsExecutor ? 1 : 0) << i;
      EXPECT_EQ(m->ComponentCount(), managerOwned + (expect[i].OwnsExecutor ? 0 : 1)) << i;
    }
  }
}

}  // namespace
}  // namespace nx
