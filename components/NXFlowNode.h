// NXFlowNode: what the nxflow host asks of the components of a graph it
// runs. A component class in a package implements INXFlowNode beside
// TComponent when it reads or writes files or wants its results in the run's
// closing table; the host finds such components with dynamic_cast.
//
// The order of a run:
//   1. the document is loaded with every component in the designing state
//      (generators do not start), command-line settings are applied;
//   2. FlowPrepare on every node, in tree order: resolve and open input
//      files, check settings; an exception (any nx::Exception) ends the run
//      with its message before anything runs or is written;
//   3. the generators start, the graph runs, the generators stop;
//      A node whose FlowFault() turns non-empty stops the run there: the
//      generators stop and the run fails with that line;
//   4. FlowFinish on every node, in tree order: sinks write their files into
//      AContext.OutputDir (a staging folder: the host moves what was written
//      into the user's output folder once every node finished, so a failed
//      run leaves that folder as it was) and fill in their report. The host
//      holds TNXOutputWriters (NXRealSink.h) meanwhile: work a node hands
//      to it (a file's bytes, a slow line of its report) runs beside the
//      next node's finish, and the report stays where it is until the host
//      has waited for that work.
//
// Header only: packages include it without linking the host.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace nx::flow {

struct TFlowRunContext {
  // The folder of the graph document.
  std::string DocumentDir;
  // The user's output folder (--out); earlier graphs of the same command
  // may have written files there.
  std::string ResultDir;
  // Where FlowFinish writes (a staging folder inside or beside ResultDir).
  std::string OutputDir;
  // True for a run on virtual time (the default), false with --realtime.
  bool VirtualTime = true;
  // The stream time the run was asked for, in seconds (0: until the
  // generators stop by themselves).
  double Seconds = 0;

  // An input file named in a property: an absolute name as it stands; a
  // relative one is looked up in the output folder first (files an earlier
  // graph of the same command wrote), then beside the document. Returns the
  // first that exists, else the name beside the document.
  std::string ResolveInput(const std::string& AName) const {
    namespace fs = std::filesystem;
    if (AName.empty() || fs::path(AName).is_absolute()) return AName;
    std::error_code ec;
    if (!ResultDir.empty() && fs::exists(fs::path(ResultDir) / AName, ec)) return (fs::path(ResultDir) / AName).string();
    return (fs::path(DocumentDir.empty() ? "." : DocumentDir) / AName).string();
  }
  // Where an output file of that name is written.
  std::string OutputFile(const std::string& AName) const {
    return (std::filesystem::path(OutputDir) / AName).string();
  }
};

// What a node tells the closing table.
struct TFlowNodeReport {
  bool IsSink = false;                // listed in the closing table
  std::int64_t Buffers = 0;           // buffers received
  std::int64_t Samples = 0;           // samples received
  double SampleRate = 0;              // of the stream received (0: none)
  std::vector<std::string> Files;     // names written into OutputDir
  std::string Summary;                // one short line ("peak -3.1 dBFS", "stopband -62 dB")
};

class INXFlowNode {
 public:
  virtual ~INXFlowNode() = default;
  virtual void FlowPrepare(const TFlowRunContext& AContext) { (void)AContext; }
  virtual void FlowFinish(const TFlowRunContext& AContext, TFlowNodeReport& AReport) {
    (void)AContext;
    (void)AReport;
  }
  // A fault met while the graph runs that the run cannot go past (a design
  // that the stream's sample rate makes impossible): one line naming what is
  // wrong, or empty. The host reads it on its own thread once the streams
  // have started and between clock steps, and ends the run with it; the node
  // keeps it safe to read while its stream threads work.
  virtual std::string FlowFault() const { return {}; }
};

// A running count worth watching while a graph runs: a sound device's
// underruns, the messages a network source refused.
struct TFlowReading {
  std::string Name;  // "Underruns"
  std::int64_t Value = 0;
};

// Implemented beside INXFlowNode by a component with such counts (a separate
// interface, so that nodes without counts and packages built before it stay
// as they are). `nxflow run --stats` prints the readings at the end of a run
// and `nxflow serve` sends them to the page with the other live figures.
// FlowReadings is called on the host's own thread while the streams run:
// it reads counters (atomics, or a lock no stream holds for long) and never
// waits on a stream.
class INXFlowReadings {
 public:
  virtual ~INXFlowReadings() = default;
  virtual void FlowReadings(std::vector<TFlowReading>& AOut) const = 0;
};

}  // namespace nx::flow
