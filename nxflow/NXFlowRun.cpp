// NXFlowRun: `nxflow run` (see the header).
#include "nxflow/NXFlowRun.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <set>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <sstream>
#include <thread>

#include "components/NXClockGen.h"
#include "components/NXCommonFilter.h"
#include "components/NXCommonGen.h"
#include "nxflow/NXFlowHost.h"
#include "components/NXFlowNode.h"
#include "components/NXFlowPacer.h"
#include "components/NXRealSink.h"
#include "drawing/RGGDIPlusProperties.h"
#include "nxflow/NXFlowPackages.h"
#include "nxflow/NXFlowStats.h"
#include "runtime/NXTrace.h"
#include "streams/NXFlowFigures.h"

namespace nx::flow {

namespace fs = std::filesystem;

namespace {

constexpr double kDefaultSeconds = 10;

// Writes the recorded timeline to AFile through a temporary file beside it,
// so that a failed write leaves no half file.
void WriteTrace(const std::string& AFile) {
  const fs::path target(AFile);
  fs::path temporary = target;
  temporary += ".part";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out || !trace::WriteJson(out) || !out.flush()) {
      std::error_code ignored;
      fs::remove(temporary, ignored);
      throw EFlowError("cannot write the timeline to " + AFile);
    }
  }
  std::error_code error;
  fs::rename(temporary, target, error);
  if (error) {
    fs::remove(temporary, error);
    throw EFlowError("cannot write the timeline to " + AFile);
  }
}

double ParseNumber(const std::string& AOption, const std::string& AText, bool AInteger) {
  char* end = nullptr;
  const double value = std::strtod(AText.c_str(), &end);
  if (end == AText.c_str() || *end != 0 || !(value > 0) || value > 1e9 ||
      (AInteger && value != std::floor(value)))
    throw EFlowError(AOption + " needs a positive " + (AInteger ? "whole number" : "number") + ", not \"" + AText +
                     "\"");
  return value;
}

// The components of the tree under ARoot (itself first), depth first.
void Collect(TComponent* ARoot, std::vector<TComponent*>& AOut) {
  AOut.push_back(ARoot);
  for (std::int32_t i = 0; i < ARoot->ComponentCount(); ++i) Collect(ARoot->Components(i), AOut);
}

std::string PathOf(const TComponent* AComponent) {
  const std::string path = AComponent->GetNamePath();
  return path.empty() ? std::string(AComponent->ClassName()) : path;
}

// Every filter worker's queue handled to its end.
void DrainFilterQueues(const std::vector<TComponent*>& AComponents) {
  for (TComponent* c : AComponents)
    if (auto* filter = dynamic_cast<TNXBasicThreadedFilter*>(c))
      if (TIntfPtr<INXFilterThread> worker = filter->GetFilterThread()) worker->GetQueueEvent().WaitFor();
}

// Holds the master clock at step 0 while it lives, lets it run again after.
class TClockHold {
 public:
  TClockHold() { NXSetClockStepLimit(0); }
  ~TClockHold() { NXSetClockStepLimit(UINT64_MAX); }
  TClockHold(const TClockHold&) = delete;
  TClockHold& operator=(const TClockHold&) = delete;
};

// Frees a component tree (the holder of a loaded graph) on every path.
struct TTreeGuard {
  TComponent* Root = nullptr;
  ~TTreeGuard() {
    if (Root) TComponent::Free(Root);
  }
};

// The staging folders of the runs in progress, for the signal thread that
// removes them when a second signal ends the process at once.
std::mutex GStagingLock;
std::set<std::string> GStagingDirs;

// The signal that asked the run to stop (0: none).
std::atomic<int> GStopSignal{0};

// Removes the staging folders of AOutDir left by processes that no longer
// exist (a crash, a kill -9). Only names of the form ".OUT.nxflow-PID" are
// touched, and only when no process PID exists.
void RemoveStaleStaging(const fs::path& AParent, const std::string& AOutName) {
  const std::string prefix = "." + AOutName + ".nxflow-";
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(AParent, ec)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with(prefix) || name.size() == prefix.size() || name.size() > prefix.size() + 9) continue;
    const std::string digits = name.substr(prefix.size());
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(digits));
    if (pid <= 0 || pid == ::getpid() || ::kill(pid, 0) == 0 || errno != ESRCH) continue;
    std::error_code removed;
    fs::remove_all(entry.path(), removed);
  }
}

// A staging folder beside the output folder, removed unless committed.
class TStaging {
 public:
  explicit TStaging(const fs::path& AOutDir) {
    const fs::path parent = AOutDir.parent_path().empty() ? fs::path(".") : AOutDir.parent_path();
    std::error_code ec;
    fs::create_directories(parent, ec);
    RemoveStaleStaging(parent, AOutDir.filename().string());
    FDir = parent / ("." + AOutDir.filename().string() + ".nxflow-" + std::to_string(::getpid()));
    fs::remove_all(FDir, ec);
    if (!fs::create_directory(FDir, ec))
      throw EFlowError("cannot make the staging folder " + FDir.string() + ": " + ec.message());
    std::lock_guard guard(GStagingLock);
    GStagingDirs.insert(FDir.string());
  }
  ~TStaging() {
    {
      std::lock_guard guard(GStagingLock);
      GStagingDirs.erase(FDir.string());
    }
    std::error_code ec;
    fs::remove_all(FDir, ec);
  }
  const fs::path& Dir() const noexcept { return FDir; }

  // Moves every file written into AOutDir (made when missing).
  void Commit(const fs::path& AOutDir) {
    std::error_code ec;
    fs::create_directories(AOutDir, ec);
    if (ec) throw EFlowError("cannot make the output folder " + AOutDir.string() + ": " + ec.message());
    for (const auto& entry : fs::recursive_directory_iterator(FDir)) {
      if (!entry.is_regular_file()) continue;
      const fs::path target = AOutDir / fs::relative(entry.path(), FDir);
      fs::create_directories(target.parent_path(), ec);
      fs::rename(entry.path(), target, ec);
      if (ec) throw EFlowError("cannot move " + entry.path().string() + " to " + target.string() + ": " + ec.message());
    }
  }

 private:
  fs::path FDir;
};

class TProgressBar {
 public:
  TProgressBar(std::ostream& AOut, bool AEnabled, std::string ALabel)
      : FOut(AOut), FEnabled(AEnabled), FLabel(std::move(ALabel)), FStart(std::chrono::steady_clock::now()) {}
  ~TProgressBar() { Clear(); }

  // Draws AFraction (0..1) once the run has taken a second.
  void Show(double AFraction, double AStreamSeconds) {
    if (!FEnabled) return;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - FStart).count();
    if (elapsed < 1.0) return;
    constexpr int kWidth = 30;
    const int filled = static_cast<int>(std::clamp(AFraction, 0.0, 1.0) * kWidth);
    FOut << '\r' << FLabel << " [" << std::string(filled, '#') << std::string(kWidth - filled, ' ') << "] "
         << std::setw(3) << static_cast<int>(AFraction * 100) << "% " << std::fixed << std::setprecision(1)
         << AStreamSeconds << " s" << std::flush;
    FShown = true;
  }
  void Clear() {
    if (!FShown) return;
    FOut << '\r' << std::string(FLabel.size() + 52, ' ') << '\r' << std::flush;
    FShown = false;
  }

 private:
  std::ostream& FOut;
  const bool FEnabled;
  const std::string FLabel;
  const std::chrono::steady_clock::time_point FStart;
  bool FShown = false;
};

std::string FormatCount(std::int64_t AValue) {
  std::string digits = std::to_string(AValue);
  for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(static_cast<std::size_t>(i), ",");
  return digits;
}

void PrintTable(std::ostream& AOut, const std::vector<TNodeRow>& ARows, const fs::path& AOutDir) {
  std::vector<std::vector<std::string>> table{{"sink", "class", "buffers", "samples", "rate (Hz)", "files"}};
  for (const TNodeRow& row : ARows) {
    if (!row.Report.IsSink) continue;
    std::string files;
    for (const std::string& f : row.Report.Files) files += (files.empty() ? "" : ", ") + (AOutDir / f).string();
    std::ostringstream rate;
    rate << std::setprecision(6) << row.Report.SampleRate;
    table.push_back({row.Path, row.Class, FormatCount(row.Report.Buffers), FormatCount(row.Report.Samples),
                     row.Report.SampleRate > 0 ? rate.str() : "-", files.empty() ? "-" : files});
  }
  if (table.size() > 1) {
    std::vector<std::size_t> width(table[0].size(), 0);
    for (const auto& r : table)
      for (std::size_t c = 0; c < r.size(); ++c) width[c] = std::max(width[c], r[c].size());
    for (const auto& r : table) {
      for (std::size_t c = 0; c < r.size(); ++c) {
        const bool numeric = c >= 2 && c <= 4;
        if (c + 1 == r.size())
          AOut << r[c];
        else
          AOut << (numeric ? std::right : std::left) << std::setw(static_cast<int>(width[c])) << r[c] << "  ";
      }
      AOut << std::left << "\n";
    }
  }
  for (const TNodeRow& row : ARows)
    if (!row.Report.Summary.empty()) AOut << "  " << row.Path << ": " << row.Report.Summary << "\n";
}

// The first fault a node reports ("" when none).
std::string FirstFault(const std::vector<std::pair<TComponent*, INXFlowNode*>>& ANodes) {
  for (const auto& [component, node] : ANodes)
    if (std::string fault = node->FlowFault(); !fault.empty()) return fault;
  return {};
}

// The number of 1 ms steps a run takes.
std::uint64_t StepsFor(const TRunOptions& AOptions, const TGraphFile& AFile,
                       const std::vector<TNXBasicCommonGen*>& AGenerators, double& ASeconds) {
  if (AOptions.Buffers > 0) {
    for (TNXBasicCommonGen* g : AGenerators)
      if (auto* buffered = dynamic_cast<TNXCommonBufferGen*>(g)) {
        const double rate = buffered->GetSampleRateValue();
        ASeconds = static_cast<double>(AOptions.Buffers) * buffered->GetBufferSizeValue() / rate;
        return static_cast<std::uint64_t>(std::ceil(ASeconds * 1000 - 1e-9));
      }
    throw EFlowError(AFile.FileName + ": --buffers needs a generator in the graph");
  }
  ASeconds = AOptions.Seconds > 0 ? AOptions.Seconds : AFile.Seconds > 0 ? AFile.Seconds : kDefaultSeconds;
  return static_cast<std::uint64_t>(std::llround(ASeconds * 1000));
}

}  // namespace

struct TGraphRun::TState {
  TState(const TGraphFile& AFile, const TRunOptions& AOptions)
      : File(AFile.FileName),
        OutDir(AOptions.OutDir.empty() ? fs::path("nxflow-out") : fs::path(AOptions.OutDir)),
        Staging(OutDir),
        VirtualTime(!AOptions.RealTime) {}
  std::string File;
  fs::path OutDir;
  TStaging Staging;
  TNXVirtualClockGuard VirtualTime;
  TClockHold Hold;
  TTreeGuard Holder{new TComponent(nullptr)};
  TComponent* Root = nullptr;
  std::vector<TComponent*> Components;
  std::vector<std::pair<TComponent*, INXFlowNode*>> Nodes;
  std::vector<TNXBasicCommonGen*> Generators;
  // Nodes that pace the graph from a device's clock (INXFlowPacer).
  std::vector<INXFlowPacer*> Pacers;
  TFlowRunContext Context;
  double Seconds = 0;
  std::uint64_t Steps = 0;
  std::string OutDirText;
};

TGraphRun::TGraphRun(const TGraphFile& AFile, const TRunOptions& AOptions, TPackageLoader& APackages)
    : F(std::make_unique<TState>(AFile, AOptions)) {
  const std::string& graph = AFile.FileName;
  F->OutDirText = F->OutDir.string();
  // The graph is loaded into a designing holder: nothing starts until the
  // settings are applied and every component is prepared.
  F->Holder.Root->SetDesigning(true);
  F->Root = LoadGraph(AFile, APackages, F->Holder.Root);
  for (const std::string& setting : AOptions.Settings) ApplySetting(*F->Root, setting);

  Collect(F->Root, F->Components);
  for (TComponent* c : F->Components) {
    if (auto* node = dynamic_cast<INXFlowNode*>(c)) F->Nodes.emplace_back(c, node);
    if (auto* gen = dynamic_cast<TNXBasicCommonGen*>(c)) F->Generators.push_back(gen);
    if (auto* pacer = dynamic_cast<INXFlowPacer*>(c)) F->Pacers.push_back(pacer);
  }
  // A device keeps the wall clock's pace whatever the options say: the
  // master clock goes with it, for any part of the graph that it paces.
  if (!F->Pacers.empty()) NXSetVirtualClock(false);

  TFlowRunContext& context = F->Context;
  context.DocumentDir = fs::path(graph).parent_path().string();
  context.ResultDir = F->OutDir.string();
  context.OutputDir = F->Staging.Dir().string();
  context.VirtualTime = !AOptions.RealTime && F->Pacers.empty();
  for (auto& [component, node] : F->Nodes) {
    try {
      node->FlowPrepare(context);
    } catch (const std::exception& e) {
      throw EFlowError(graph + ": " + PathOf(component) + ": " + e.what());
    }
  }
  F->Steps = StepsFor(AOptions, AFile, F->Generators, F->Seconds);
  context.Seconds = F->Seconds;
}

TGraphRun::~TGraphRun() {
  if (F->Holder.Root) {
    HoldClockHere();
    Stop();
  }
}

TComponent& TGraphRun::Root() const { return *F->Root; }
const std::vector<TComponent*>& TGraphRun::Components() const { return F->Components; }
double TGraphRun::Seconds() const { return F->Seconds; }
std::uint64_t TGraphRun::Steps() const { return F->Steps; }
const std::string& TGraphRun::OutDir() const { return F->OutDirText; }

void TGraphRun::Start() {
  F->Holder.Root->SetDesigning(false);
  for (TNXBasicCommonGen* g : F->Generators) g->CreateStart();
  // The streams have started (their rates reached every component) before
  // the first step: a component that refused its rate ends the run here,
  // before a sample is made.
  if (std::string fault = Fault(); !fault.empty()) {
    Stop();
    throw EFlowError(F->File + ": " + fault);
  }
}

std::string TGraphRun::Fault() const { return FirstFault(F->Nodes); }

bool TGraphRun::Paced() const { return !F->Pacers.empty(); }

double TGraphRun::PacedSeconds() const {
  double seconds = -1;
  for (const INXFlowPacer* p : F->Pacers)
    if (const double s = p->FlowPacedSeconds(); seconds < 0 || s < seconds) seconds = s;
  return std::max(seconds, 0.0);
}

bool TGraphRun::AnyGeneratorRunning() const {
  return std::any_of(F->Generators.begin(), F->Generators.end(), [](auto* g) { return g->IsRunning(); });
}

void TGraphRun::HoldClockHere() {
  NXSetClockStepLimit(NXMasterClockSteps());
  while (!NXClocksIdle()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void TGraphRun::NotifyPause() {
  for (TNXBasicCommonGen* g : F->Generators) g->NotifyPause();
}

void TGraphRun::NotifyResume() {
  for (TNXBasicCommonGen* g : F->Generators) g->NotifyResume();
}

// Stopping sends each stream's stop after its last buffer, and the workers
// hand both on before the sinks are asked.
void TGraphRun::Stop() {
  DrainFilterQueues(F->Components);
  for (TNXBasicCommonGen* g : F->Generators) g->Stop();
  DrainFilterQueues(F->Components);
}

std::vector<TNodeRow> TGraphRun::Finish(const std::function<void()>& AFinished) {
  Stop();
  // A fault that the run's loop did not see fails the run here: one raised
  // as the streams stopped, or in the last buffers of a stream that ran to
  // its end (on virtual time) before the loop looked again.
  if (std::string fault = Fault(); !fault.empty()) throw EFlowError(F->File + ": " + fault);
  std::vector<TNodeRow> rows;
  {
    // The nodes finish one after the other on this thread (drawing stays on
    // one thread), while the files they hand over are compressed and written
    // on the other cores. A failed file fails the run as a failed node does.
    // The rows stay in place until the wait: work handed over may fill in a report.
    rows.reserve(F->Nodes.size());
    TNXOutputWriters writers;
    for (auto& [component, node] : F->Nodes) {
      rows.push_back(TNodeRow{PathOf(component), std::string(component->ClassName()), {}});
      try {
        node->FlowFinish(F->Context, rows.back().Report);
      } catch (const std::exception& e) {
        throw EFlowError(F->File + ": " + PathOf(component) + ": " + e.what());
      }
    }
    const std::vector<TNXOutputWriters::TFailure> failures = writers.Wait();
    if (!failures.empty()) {
      const TComponent* owner = failures.front().Owner;
      throw EFlowError(F->File + ": " + (owner ? PathOf(owner) : std::string("?")) + ": " + failures.front().Message);
    }
  }
  // Two components that wrote one file name overwrote each other's output.
  std::map<std::string, std::string> writers;
  for (const TNodeRow& row : rows)
    for (const std::string& f : row.Report.Files)
      if (auto [it, fresh] = writers.emplace(f, row.Path); !fresh && it->second != row.Path)
        throw EFlowError(F->File + ": " + it->second + " and " + row.Path + " both write " + f +
                         " (give one of them another FileName)");
  if (AFinished) AFinished();
  F->Nodes.clear();
  F->Generators.clear();
  F->Components.clear();
  F->Root = nullptr;
  TComponent::Free(std::exchange(F->Holder.Root, nullptr));
  F->Staging.Commit(F->OutDir);
  return rows;
}

int RunGraph(const TGraphFile& AFile, const TRunOptions& AOptions, TPackageLoader& APackages, std::ostream& AOut,
             std::ostream& AErr) {
  const std::string& AGraph = AFile.FileName;
  TGraphRun run(AFile, AOptions, APackages);
  const std::uint64_t steps = run.Steps();
  const auto t0 = std::chrono::steady_clock::now();
  // The figures count from the start of the streams.
  struct TFigures {
    explicit TFigures(bool AOn) : On(AOn) {
      if (On) figures::Enable(true);
    }
    ~TFigures() {
      if (On) figures::Enable(false);
    }
    bool On;
  } counting(AOptions.Stats);
  run.Start();
  // A clock releases a tick once its accumulated time exceeds its interval,
  // so the ticks due at exactly the end come with one more step.
  NXSetClockStepLimit(steps + 1);
  // While the streams run on the clocks' threads, this one would only wait:
  // it opens the fonts the sinks will draw with, which the first picture
  // would otherwise pay for when the run ends.
  TRGGPBasicFont::PreloadWanted();
  int interrupted = 0;
  {
    TProgressBar bar(AErr, AOptions.Progress, fs::path(AGraph).filename().string());
    // Since when the generators have run with no clock to pace them.
    constexpr auto kNever = std::chrono::steady_clock::time_point::max();
    auto unpacedSince = kNever;
    for (;;) {
      // A graph paced by a device runs until every pacer has paced the
      // stream time asked for; the master clock paces the rest.
      const std::uint64_t done =
          run.Paced() ? static_cast<std::uint64_t>(run.PacedSeconds() * 1000) : NXMasterClockSteps();
      if (!run.AnyGeneratorRunning()) break;
      if (run.Paced() ? done >= steps : (done > steps && NXClocksIdle())) break;
      if ((interrupted = GStopSignal.load()) != 0) {
        TGraphRun::HoldClockHere();
        break;
      }
      if (std::string fault = run.Fault(); !fault.empty()) {
        TGraphRun::HoldClockHere();
        run.Stop();
        throw EFlowError(AGraph + ": " + fault);
      }
      // Running generators and not one clock: nothing will ever advance the
      // stream. Half a second covers a clock that ends while its generator
      // marks itself stopped.
      const auto now = std::chrono::steady_clock::now();
      if (NXClockGenCount() > 0 || run.Paced()) {
        unpacedSince = kNever;
      } else if (unpacedSince == kNever) {
        unpacedSince = now;
      } else if (now - unpacedSince > std::chrono::milliseconds(500)) {
        run.Stop();
        throw EFlowError(AGraph + ": no generator paces the stream: the generators run, but none has a clock "
                                  "(check their SampleRate, BufferSize and ClockSource)");
      }
      bar.Show(steps ? static_cast<double>(done) / steps : 1.0, done / 1000.0);
      // Until the next look, or until the master clock has reached the last
      // step (the end of a run on virtual time comes without the wait). A
      // paced run ends by its device, not at the clock's limit: it only looks.
      if (!run.Paced()) NXWaitClockHeld(2);
      else std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  const double streamSeconds =
      run.Paced() ? std::min(run.PacedSeconds(), run.Seconds()) : std::min<double>(NXMasterClockSteps(), steps) / 1000.0;
  run.Stop();
  const double running = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  // Named once every node has finished (a device's counts are final when
  // its stream has played out) and while the graph's pins still exist.
  TGraphStats stats;
  const std::vector<TNodeRow> rows = run.Finish([&] {
    if (AOptions.Stats) stats = CollectStats(run.Root(), run.Components());
  });
  // The wall time covers the run and the writing of every file.
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

  AOut << AGraph << ": " << std::fixed << std::setprecision(2) << streamSeconds << " s of stream time in "
       << std::setprecision(3) << wall << " s (" << running << " s running, " << wall - running << " s writing; "
       << (run.Paced() ? "paced by its device" : AOptions.RealTime ? "real time" : "virtual time");
  if (interrupted) AOut << ", interrupted by " << (interrupted == SIGINT ? "SIGINT" : "SIGTERM");
  if (wall > 0 && streamSeconds > 0) AOut << ", " << std::setprecision(1) << streamSeconds / wall << "x real time";
  AOut << ")\n";
  AOut.unsetf(std::ios::floatfield);
  PrintTable(AOut, rows, fs::path(run.OutDir()));
  if (AOptions.Stats) PrintStats(AOut, stats, running);
  return interrupted ? 128 + interrupted : 0;
}

TRunOptions ParseRunOptions(const std::vector<std::string>& AWords) {
  TRunOptions options;
  for (std::size_t i = 0; i < AWords.size(); ++i) {
    const std::string& word = AWords[i];
    auto value = [&]() -> const std::string& {
      if (i + 1 == AWords.size()) throw EFlowError(word + " needs a value");
      return AWords[++i];
    };
    if (word == "--seconds")
      options.Seconds = ParseNumber(word, value(), false);
    else if (word == "--buffers")
      options.Buffers = static_cast<std::int64_t>(ParseNumber(word, value(), true));
    else if (word == "--realtime")
      options.RealTime = true;
    else if (word == "--out")
      options.OutDir = value();
    else if (word == "--set")
      options.Settings.push_back(value());
    else if (word == "--stats")
      options.Stats = true;
    else if (word == "--trace")
      options.TraceFile = value();
    else if (word.starts_with("--"))
      throw EFlowError("unknown option \"" + word + "\" of run");
    else
      options.Graphs.push_back(word);
  }
  if (options.Seconds > 0 && options.Buffers > 0) throw EFlowError("--seconds and --buffers exclude each other");
  if (options.Graphs.empty()) throw EFlowError("run needs a graph document");
  return options;
}

int RunGraphs(const TRunOptions& AOptions, TPackageLoader& APackages, std::ostream& AOut, std::ostream& AErr) {
  // The timeline covers every graph of the command; it is written when the
  // command ends, also after a stop signal, but not after an error.
  struct TTimeline {
    explicit TTimeline(bool AOn) : On(AOn) {
      if (On) trace::Start();
    }
    ~TTimeline() {
      if (On) trace::Stop();
    }
    bool On;
  } timeline(!AOptions.TraceFile.empty());
  int status = 0;
  for (const std::string& graph : AOptions.Graphs) {
    // A stop asked for between two graphs ends the command before the next.
    if (const int signal = GStopSignal.load()) {
      status = 128 + signal;
      break;
    }
    if ((status = RunGraph(ReadGraphFile(graph), AOptions, APackages, AOut, AErr)) != 0) break;
  }
  if (timeline.On) {
    trace::Stop();
    WriteTrace(AOptions.TraceFile);
    AOut << "timeline: " << trace::EventCount() << " events in " << AOptions.TraceFile;
    if (const std::size_t dropped = trace::DroppedCount()) AOut << " (" << dropped << " more dropped: the timeline is full)";
    AOut << "\n";
  }
  return status;
}

void InstallStopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  // Blocked here, before any other thread exists, so that every thread the
  // run starts inherits the mask and only the watcher below receives them.
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([set]() {
    for (;;) {
      int signal = 0;
      if (sigwait(&set, &signal) != 0) continue;
      int expected = 0;
      if (GStopSignal.compare_exchange_strong(expected, signal)) continue;  // the first: stop cleanly
      // The second: end at once, leaving nothing half-written behind.
      {
        std::lock_guard guard(GStagingLock);
        for (const std::string& dir : GStagingDirs) {
          std::error_code ec;
          fs::remove_all(dir, ec);
        }
      }
      ::_exit(128 + signal);
    }
  }).detach();
}

int StopSignal() noexcept { return GStopSignal.load(); }

}  // namespace nx::flow
