// The sink base: the order of its hooks, its pin, deletion while a sender sends, files written later.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "components/NXComponentKit.h"

// GCC takes the components' destroying delete for one that does not match the new.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace nx {
namespace {

// Logs each hook; a hook that finds the derived part gone (or going) counts as late. No destructor: the last
// member notes when the derived part goes.
class TLogSink : public TNXRealSink {
 public:
  explicit TLogSink(std::chrono::microseconds AHold = {}) : TNXRealSink(nullptr), FHold(AHold) {
    SetFileName("log.txt");
  }
  std::vector<std::string> Log;
  static inline std::atomic<int> Running{0}, Late{0}, Entered{0};

 protected:
  void OnStart(double ASampleRate) override { Note("start " + std::to_string(int(ASampleRate))); }
  void OnProcess(const TBuffer& AInput) override {
    ++Running;
    std::this_thread::sleep_for(FHold);
    Note("process " + std::to_string(AInput->GetSize()));
    --Running;
  }
  void OnStop() override { Note("stop"); }
  void OnReset() override { Note("reset"); }
  void OnFinish(flow::TFlowNodeReport& AReport) override {
    Note("finish " + std::to_string(AReport.Buffers) + " " + std::to_string(AReport.Samples) + " " +
         std::to_string(int(AReport.SampleRate)));
  }

 private:
  void Note(const std::string& AText) {
    ++Entered;
    if (FGone) ++Late;
    if (FHold.count() == 0) Log.push_back(AText);
  }
  const std::chrono::microseconds FHold;
  std::atomic<bool> FGone{false};
  struct TWitness {
    TLogSink* Sink;
    ~TWitness() { Sink->FGone = true; if (Running > 0) ++Late; }
  } FWitness{this};
};

// Steps: P prepare, S<rate> start, B<n> a buffer of n samples, T stop, F finish.
TEST(RealSinkTest, HooksRunInStreamOrderAndTheRunReportsTheCounts) {
  struct TCase { const char* Steps; std::vector<std::string> Log; };
  const TCase cases[] = {
      {"P S1000 B3 B0 B2 T F", {"reset", "start 1000", "process 3", "process 2", "stop", "finish 3 5 1000"}},
      {"S1000 B1 S48000 B4 T T", {"start 1000", "process 1", "stop", "start 48000", "process 4", "stop"}},
      {"T B2 P F", {"process 2", "reset", "finish 0 0 0"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Steps);
    auto sink = std::make_unique<TLogSink>();
    EXPECT_EQ(sink->FindPin("InputPin"), sink->InputPin());
    EXPECT_EQ(sink->GetPinCount(), 1);
    TNXFTRealSourcePin source("Out");
    ASSERT_TRUE(source.Connect(sink->InputPin()));
    flow::TFlowRunContext context;
    context.OutputDir = "unused";
    std::istringstream steps(c.Steps);
    for (std::string s; steps >> s;) {
      const int n = s.size() > 1 ? std::stoi(s.substr(1)) : 0;
      if (s[0] == 'P') sink->FlowPrepare(context);
      if (s[0] == 'S') source.Notify(TFTStartSampleRateOperation::Make(n));
      if (s[0] == 'B') source.SubmitBuffer(TNXRealBuffer::MakeSize(std::uint32_t(n)));
      if (s[0] == 'T') source.Notify(TFTStopOperation::Make());
      if (s[0] == 'F') { flow::TFlowNodeReport report; sink->FlowFinish(context, report); EXPECT_TRUE(report.IsSink); }
    }
    EXPECT_EQ(sink->Log, c.Log);
  }
}

// Deleting closes the pin before the derived part goes: no hook runs in or after its destructor.
TEST(RealSinkTest, DeletingWhileASenderSendsRunsNoHookLate) {
  TLogSink::Late = 0;
  for (int i = 0; i < 50; ++i) {
    auto sink = std::make_unique<TLogSink>(std::chrono::microseconds(200));
    TNXFTRealSourcePin source("Out");
    ASSERT_TRUE(source.Connect(sink->InputPin()));
    source.Notify(TFTStartSampleRateOperation::Make(1000));
    std::atomic<bool> done{false};
    std::thread sender([&] {
      for (; !done; std::this_thread::sleep_for(std::chrono::microseconds(50)))
        source.SubmitBuffer(TNXRealBuffer::MakeSize(4));
    });
    while (TLogSink::Running == 0) std::this_thread::yield();
    sink.reset();  // a delete
    const int entered = TLogSink::Entered;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(TLogSink::Entered.load(), entered);
    done = true;
    sender.join();
  }
  EXPECT_EQ(TLogSink::Late.load(), 0);
}

// Hands files over as a sink's OnFinish would.
class TFileSink : public TNXRealSink {
 public:
  TFileSink() : TNXRealSink(nullptr) {}
  void Hand(const std::string& AName, std::function<std::string()> AMake) {
    std::lock_guard guard(FDataLock);
    WriteOutputFileLater(AName, std::move(AMake));
  }

 protected:
  void OnProcess(const TBuffer&) override {}
  void OnFinish(flow::TFlowNodeReport&) override {}
};

std::string Slurp(const std::filesystem::path& APath) {
  std::ifstream in(APath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Without writers a file is written at once and a failure is the caller's; with them the files are made on
// another thread, and Wait reports the failures in the order the files were handed over, whatever order they
// failed in. Writers that are not waited for still finish every file before they go.
TEST(RealSinkTest, FilesHandedToWritersAreWrittenBesideTheCaller) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("nx_sink_writers_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::unique_ptr<TFileSink> sink(new TFileSink);
  const std::thread::id caller = std::this_thread::get_id();

  sink->Hand((dir / "now.txt").string(), [] { return std::string("now"); });
  EXPECT_EQ(Slurp(dir / "now.txt"), "now");
  EXPECT_THROW(sink->Hand((dir / "none" / "x.txt").string() + "/", [] { return std::string(); }), Exception);

  {
    TNXOutputWriters writers;
    // The first file is made once some file was made on another thread (the caller helps while it waits).
    std::atomic<bool> elsewhere{false};
    auto note = [&] {
      if (std::this_thread::get_id() != caller) elsewhere = true;
    };
    sink->Hand((dir / "slow.txt").string(), [&] {
      note();
      for (int k = 0; k < 5000 && !elsewhere; ++k) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return std::string("slow");
    });
    sink->Hand((dir / "bad1.txt").string(), []() -> std::string { throw Exception("cannot write bad1: broken"); });
    sink->Hand((dir / "a" / "b.txt").string() + "/", [] { return std::string("x"); });  // not a file name
    for (int k = 0; k < 20; ++k)
      sink->Hand((dir / ("f" + std::to_string(k))).string(), [k, &note] {
        note();
        return std::to_string(k);
      });
    const std::vector<TNXOutputWriters::TFailure> failures = writers.Wait();
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_EQ(failures[0].Message, "cannot write bad1: broken");
    EXPECT_EQ(failures[1].Message.rfind("cannot write " + (dir / "a" / "b.txt").string() + "/: ", 0), 0u) << failures[1].Message;
    EXPECT_EQ(failures[0].Owner, sink.get());
    EXPECT_EQ(Slurp(dir / "slow.txt"), "slow");
    EXPECT_TRUE(elsewhere);
    for (int k = 0; k < 20; ++k) EXPECT_EQ(Slurp(dir / ("f" + std::to_string(k))), std::to_string(k));
    EXPECT_TRUE(writers.Wait().empty());  // reported once

    sink->Hand((dir / "late.txt").string(), [] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      return std::string("late");
    });
  }
  EXPECT_EQ(Slurp(dir / "late.txt"), "late");
  // The writers are gone from the thread: a file is written at once again.
  sink->Hand((dir / "after.txt").string(), [] { return std::string("after"); });
  EXPECT_EQ(Slurp(dir / "after.txt"), "after");
  fs::remove_all(dir);
}

}  // namespace
}  // namespace nx
