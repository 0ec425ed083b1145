// Tests of the processing engines: which engine of a list answers, what the
// parallel engine hands out (executor kind, pool settings, stride) and that
// its executors belong to the asking component, the GPU engine on the
// OpenCL platform of the machine (and in a child process that sees no
// platform at all), the notifying setters, and the engine list's copy and
// streaming with the engine classes registered at start-up. That executors
// end with their owner is tested with the executors and the manager.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "OpenCLSupport.h"
#include "ProcessingTestSupport.h"

namespace nx {
namespace {

using namespace nx::test;

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
      {"unknown platform, then parallel", {{'G', true, 0, true, 0, "No Such Platform"}, {'P', true, 2}}, true, 2,
       10240},
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
    EXPECT_EQ(dynamic_cast<TThreadExecutor*>(pool) != nullptr, c.Threads == 1 && !c.Engines.back().PoolEnabled);
    EXPECT_EQ(RunsOn(*a.Executor, 100), 100);
  }
}

// The pool settings reach the pool executor; the engine's Priority does not
// (the pool always gets the fixed setting).
TEST(ProcessingEngines, PoolSettingsAreApplied) {
  struct TCase {
    std::int32_t Count;
    std::uint32_t GroupSize;
    TThreadPriority Priority;
    std::int32_t Threads;
  };
  const TCase cases[] = {{4, 10, tpNormal, 4}, {1, 1, tpIdle, 1}, {0, 7, tpLowest, 1}, {-5, 32, tpHigher, 1},
                         {6, 0, tpNormal, 6}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << "Count " << c.Count << " GroupSize " << c.GroupSize);
    TAsker asker;
    AddEngines(asker.Processing, {{'P'}});
    auto* engine = static_cast<TRGParallelProcessingEngine*>(asker.Processing.Engines().Items(0));
    engine->Pool().SetCount(c.Count);
    engine->Pool().SetGroupSize(c.GroupSize);
    engine->SetPriority(c.Priority);
    EXPECT_EQ(engine->Pool().Count(), c.Threads);
    const TAnswer a = Ask(asker.Processing, &asker);
    ASSERT_TRUE(a.Result);
    auto* pool = dynamic_cast<TThreadPoolExecutor*>(a.Executor.Get());
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(pool->ThreadCount(), c.Threads);
    EXPECT_EQ(pool->GroupSize(), std::max(1u, c.GroupSize));
    EXPECT_EQ(pool->GetPriority(), TRGParallelProcessingEngine::kPoolPriority);
    EXPECT_EQ(engine->Priority(), c.Priority);
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

// The classes as registered at start-up, with the names the editor shows.
TEST(ProcessingEngines, ClassesAsRegistered) {
  EXPECT_EQ(CollectionItemClasses(TRGProcessingEngine::StaticClassInfo()),
            (std::vector<const TClassInfo*>{&TRGParallelProcessingEngine::StaticClassInfo(),
                                            &TRGGPUProcessingEngine::StaticClassInfo()}));
  for (const TClassInfo* c : {&TRGParallelProcessingEngine::StaticClassInfo(), &TRGGPUProcessingEngine::StaticClassInfo(),
                              &TRGProcessingManager::StaticClassInfo()})
    EXPECT_EQ(FindClassInfo(c->Name()), c);
  EXPECT_EQ(ClassesInCategory("Processing"), std::vector<const TClassInfo*>{&TRGProcessingManager::StaticClassInfo()});
  TAsker asker;
  AddEngines(asker.Processing, {{'P'}, {'G'}});
  EXPECT_EQ(asker.Processing.Engines().Items(0)->GetDisplayName(), "Parallel Processing");
  EXPECT_EQ(asker.Processing.Engines().Items(1)->GetDisplayName(), "GPU Processing");
  EXPECT_EQ(TRGProcessing::StaticClassInfo().Property("Engines").Hints.Editor, "Edit P&rocessing Engines...");
}

// SetEngines copies a list (classes and settings) into the owned one; the
// binary form carries the same, with the engine classes found by name.
TEST(ProcessingEngines, EngineListsCopyAndStream) {
  TAsker source;
  AddEngines(source.Processing, {{'G', false, 0, true, 0, "Some Platform"}, {'P', true, 3, false, 99}});
  auto check = [](const TRGProcessing& AProcessing) {
    ASSERT_EQ(AProcessing.Engines().Count(), 2);
    auto* g = dynamic_cast<TRGGPUProcessingEngine*>(AProcessing.Engines().Items(0));
    auto* p = dynamic_cast<TRGParallelProcessingEngine*>(AProcessing.Engines().Items(1));
    ASSERT_TRUE(g && p);
    EXPECT_FALSE(g->Enabled());
    EXPECT_EQ(g->Platform(), "Some Platform");
    EXPECT_TRUE(p->Enabled());
    EXPECT_EQ(p->Pool().Count(), 3);
    EXPECT_FALSE(p->Pool().Enabled());
    EXPECT_EQ(p->MemoryStrideSize(), 99u);
  };
  TAsker copy;
  copy.Processing.SetEngines(source.Processing.Engines());
  check(copy.Processing);
  TMemoryStream stream;
  {
    TBinaryWriter w(stream, "TRGProcessing");
    WriteObject(w, source.Processing);
    w.Finish();
  }
  stream.SetPosition(0);
  TAsker loaded;
  TBinaryReader r(stream);
  ReadObject(r, loaded.Processing);
  check(loaded.Processing);
}

// ---- the GPU engine on the machine's OpenCL platform

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
    // The context is usable: a buffer goes there and back.
    const double in[4] = {1, 2, 3, 4};
    double out[4] = {};
    auto buffer = a.Context->CreateBuffer({TOCLMemoryFlag::mfReadWrite}, sizeof in);
    buffer->Write(a.Context->GetDefaultQueue(), in, sizeof in);
    buffer->Read(a.Context->GetDefaultQueue(), out, sizeof out);
    EXPECT_EQ(out[3], 4.0);
  }
  // What the editor offers for Platform.
  TAsker asker;
  AddEngines(asker.Processing, {{'G'}});
  auto* g = static_cast<TRGGPUProcessingEngine*>(asker.Processing.Engines().Items(0));
  const std::vector<std::string> values = g->GetPlatformValues();
  ASSERT_EQ(values.size(), platforms.size() + 1);
  EXPECT_EQ(values[0], "Default");
  EXPECT_EQ(values[1], first);
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

TEST(ProcessingGPUEngine, AnsweredBeforeTheParallelEngine) {
  TIntfPtr<IOCLContext> shared;
  NX_REQUIRE_OPENCL_CONTEXT(shared);
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

}  // namespace
}  // namespace nx
