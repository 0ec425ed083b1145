// The authoring surface: the three hooks of each base, single values,
// self-registered pins, and packages declared in one line with their ABI.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "ComponentTestSupport.h"
#include "components/NXClockGen.h"
#include "components/NXComponentKit.h"

namespace nx {
namespace {

// Records the hooks in order ("start 1000", "process 2", "stop").
struct THookLog {
  std::mutex Lock;
  std::vector<std::string> Entries;
  void Add(std::string AEntry) {
    std::lock_guard guard(Lock);
    Entries.push_back(std::move(AEntry));
  }
  std::vector<std::string> Get() {
    std::lock_guard guard(Lock);
    return Entries;
  }
};

std::string Num(double AValue) { return std::to_string(static_cast<long long>(AValue)); }

// Doubles every sample; a buffer whose first sample is negative is not sent.
class TDoubler : public TNXRealFilter {
 public:
  TDoubler(THookLog& ALog, bool ASingles) : TNXRealFilter(nullptr), FLog(ALog), FSingles(ASingles) {}
  TNXOwnedPin<TNXFTRealSourcePin> FMonitor{this, "MonitorPin"};

 protected:
  void OnStart(double ASampleRate) override { FLog.Add("start " + Num(ASampleRate)); }
  void OnProcess(const TBuffer&, TBuffer& AOutput) override {
    FLog.Add("process " + Num(AOutput->GetSize()));
    if (AOutput->Read()[0] < 0) {
      AOutput = nullptr;
      return;
    }
    double* s = AOutput->Modify();
    for (std::int32_t i = 0; i < AOutput->GetSize(); ++i) s[i] *= 2;
  }
  void OnStop() override { FLog.Add("stop"); }
  bool ProcessesSingleValues() const override { return FSingles; }

 private:
  THookLog& FLog;
  bool FSingles;
};

TEST(ComponentKit, FilterHooksRunInOrderOnBothPathsAndSingleValuesFollowTheFilter) {
  struct TCase {
    bool Threaded, Singles;
  };
  for (const TCase c : {TCase{false, true}, TCase{true, true}, TCase{false, false}}) {
    SCOPED_TRACE(testing::Message() << "threaded " << c.Threaded << " singles " << c.Singles);
    THookLog log;
    auto* filter = new TDoubler(log, c.Singles);
    filter->Threading()->SetEnabled(c.Threaded);
    TNXFTComboRealSourcePin source{"Out"};
    test::TRecordingSink<TNXFTComboRealSinkPin> seen{"In"};
    ASSERT_TRUE(source.Connect(filter->InputPin()));
    ASSERT_TRUE(filter->OutputPin()->Connect(&seen.Pin));
    source.Notify(TFTStartSampleRateOperation::Make(1000));
    source.Notify(TFTStartSampleRateOperation::Make(1000));  // a second start of the running stream
    source.SubmitBuffer(TNXRealBuffer::MakeArray({1.0, 2.0, 3.0}));
    source.SubmitBuffer(TNXRealBuffer::MakeArray({-1.0}));  // processed, not sent
    if (!c.Threaded) source.SubmitFloat(5.0f);
    source.Stop();
    EXPECT_EQ(seen.AllSamples(), (std::vector<double>{2, 4, 6}));
    std::vector<std::string> expected{"start 1000", "process 3", "process 1"};
    if (!c.Threaded && c.Singles) expected.push_back("process 1");
    expected.push_back("stop");
    EXPECT_EQ(log.Get(), expected);
    if (!c.Threaded) {
      EXPECT_EQ(seen.Values(), std::vector<double>{c.Singles ? 10.0 : 5.0});
    }
    // The bases' pins and the member pin, by name, in order.
    std::vector<std::string> names;
    for (TFTBasicPin* pin : filter->Pins()) names.push_back(pin->GetName());
    EXPECT_EQ(names, (std::vector<std::string>{"InputPin", "OutputPin", "MonitorPin"}));
    EXPECT_EQ(filter->FindPin("MonitorPin"), filter->FMonitor.get());
    delete filter;
  }
}

TEST(ComponentKit, PinNamesAreUniquePerOwner) {
  THookLog log;
  TDoubler filter(log, true);
  EXPECT_THROW(TNXOwnedPin<TNXFTRealSourcePin>(&filter, "OutputPin"), Exception);
  { TNXOwnedPin<TNXFTRealSourcePin> extra(&filter, "Extra"); EXPECT_EQ(filter.GetPinCount(), 4); }
  EXPECT_EQ(filter.GetPinCount(), 3);  // a member pin leaves the list as it goes
}

// Counts up from 0, one sample at a time; ends the stream at ALast.
class TCounter : public TNXRealGenerator {
 public:
  TCounter(THookLog& ALog, double ALast) : TNXRealGenerator(nullptr), FLog(ALog), FLast(ALast) {}

 protected:
  void OnStart(double ASampleRate) override { FLog.Add("start " + Num(ASampleRate)); }
  void OnProcess(TBuffer& AOutput) override {
    double* s = AOutput->Write();
    for (std::int32_t i = 0; i < AOutput->GetSize(); ++i) s[i] = FNext++;
    if (FNext > FLast) StopAfterThis();
  }
  void OnStop() override { FLog.Add("stop"); }

 private:
  THookLog& FLog;
  double FLast;
  double FNext = 0;
};

TEST(ComponentKit, GeneratorStartsFillsStopsItselfAndListsItsPins) {
  THookLog log;
  auto counter = std::make_unique<TCounter>(log, 7);
  counter->SetSampleRate(8000);
  counter->SetBufferSize(4);
  test::TRecordingSink<TNXFTComboRealSinkPin> seen{"In"};
  ASSERT_TRUE(counter->OutputPin().Connect(&seen.Pin));
  {
    TNXVirtualClockGuard virtualTime;
    counter->CreateStart();
    ASSERT_TRUE(seen.WaitOp("TFTStopOperation"));
  }
  EXPECT_EQ(seen.AllSamples(), (std::vector<double>{0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_NE(counter->FindPin("OutputPin"), nullptr);
  EXPECT_NE(counter->FindPin("ClockInputPin"), nullptr);
  // The stop reaches the sink from the clock's thread before that thread runs
  // OnStop; deleting the generator waits for the thread, so the log is whole.
  counter.reset();
  EXPECT_EQ(log.Get(), (std::vector<std::string>{"start 8000", "stop"}));
}

// Sends the sum of its inputs.
class TSummer : public TNXRealMultiInputFilter {
 public:
  explicit TSummer(THookLog& ALog) : TNXRealMultiInputFilter(nullptr), FLog(ALog) {}

 protected:
  void OnStart(double ASampleRate) override { FLog.Add("start " + Num(ASampleRate)); }
  void OnProcess(TBuffer& AOutput) override {
    FLog.Add("process " + Num(AOutput->GetSize()));
    SumInputs(AOutput->Write(), AOutput->GetSize());
  }
  void OnStop() override { FLog.Add("stop"); }

 private:
  THookLog& FLog;
};

TEST(ComponentKit, MultiInputStartsAtTheHighestRateSumsAndStops) {
  THookLog log;
  auto summer = std::make_unique<TSummer>(log);
  summer->SetInputCountProp(3);
  summer->SetInputCountProp(2);  // names follow the positions
  std::vector<std::string> names;
  for (TFTBasicPin* pin : summer->Pins()) names.push_back(pin->GetName());
  EXPECT_EQ(names, (std::vector<std::string>{"InputPin1", "InputPin2", "OutputPin"}));
  TNXFTRealSourcePin a{"A"}, b{"B"};
  test::TRecordingSink<TNXFTRealSinkPin> seen{"In"};
  ASSERT_TRUE(a.Connect(static_cast<TFTSinkPin*>(summer->FindPin("InputPin1"))));
  ASSERT_TRUE(b.Connect(static_cast<TFTSinkPin*>(summer->FindPin("InputPin2"))));
  ASSERT_TRUE(summer->OutputPin().Connect(&seen.Pin));
  a.Notify(TFTStartSampleRateOperation::Make(500));
  b.Notify(TFTStartSampleRateOperation::Make(500));
  a.SubmitBuffer(TNXRealBuffer::MakeArray({1.0, 2.0}));
  b.SubmitBuffer(TNXRealBuffer::MakeArray({10.0, 20.0}));
  a.Stop();
  b.Stop();
  EXPECT_EQ(seen.AllSamples(), (std::vector<double>{11, 22}));
  EXPECT_EQ(log.Get(), (std::vector<std::string>{"start 500", "process 2", "stop"}));
}

TEST(ComponentKit, PackagesAreRefusedForAnotherAbiOrWithoutADeclaration) {
  struct TCase {
    const char* File;
    std::vector<std::string> Words;  // in the message; empty: loads
  };
  const std::string dir = NX_KIT_TEST_PACKAGES;
  for (const TCase& c : {TCase{"libkitwrongabi.so", {"libkitwrongabi.so", "(kitwrongabi 0.1)", "runtime ABI 999",
                                                     "this runtime has ABI " + std::to_string(NX_RUNTIME_ABI_VERSION)}},
                         TCase{"libkitundeclared.so", {"libkitundeclared.so", "declares no component package"}},
                         TCase{"libkitgood.so", {}}}) {
    SCOPED_TRACE(c.File);
    try {
      const TNXLoadedPackage& p = LoadComponentPackage(dir + "/" + c.File);
      EXPECT_TRUE(c.Words.empty());
      EXPECT_EQ(p.Name, "kitgood");
      ASSERT_EQ(p.Classes.size(), 1u);
      EXPECT_EQ(FindClassInfo("TKitGood"), p.Classes[0]);
      EXPECT_EQ(&LoadComponentPackage(dir + "/" + c.File), &p);  // once only
    } catch (const EPackageError& e) {
      for (const std::string& w : c.Words) EXPECT_NE(e.Message().find(w), std::string::npos) << e.Message();
      EXPECT_FALSE(c.Words.empty()) << e.Message();
    }
  }
  EXPECT_EQ(FindClassInfo("TKitWrongAbi"), nullptr);  // nothing of a refused package registered
}

}  // namespace
}  // namespace nx
