// NXFlowRun: `nxflow run`. Loads graph documents one after the other, runs
// each for a stretch of stream time and tells its components to write what
// they gathered (see NXFlowNode.h for what the components are asked).
//
//   nxflow run GRAPH.xml [GRAPH2.xml ...] [--seconds S | --buffers N]
//              [--realtime] [--out DIR] [--set Comp.Prop=value]...
//              [--stats] [--trace FILE.json]
//
// How long: --seconds S of stream time; or --buffers N, as long as the first
// generator of the graph takes to make N buffers; else the document's own
// Seconds attribute (<NXGraph Version="1" Seconds="60">); else 10 s. A run
// also ends when every generator has stopped by itself (a file player at the
// end of its file).
//
// Time. By default the graph runs on virtual time: the master clock steps
// as soon as every clock has handled its ticks, so the run is deterministic
// and as fast as the processor allows. --realtime paces it by the wall
// clock. Either way the master clock is held at step 0 until every generator
// has started, and held again at the last step until every clock is idle, so
// a run of S seconds is exactly S * 1000 clock steps.
//
// Output. Components write into a staging folder beside --out (default
// "nxflow-out"); once every component has finished, the files are moved into
// --out. A run that fails leaves --out as it was. Graphs of one command share
// --out: a later graph reads the files an earlier one wrote (relative input
// names are looked up there first).
//
// Report. A progress bar on a terminal for runs longer than a second, then a
// closing table of what each sink received (buffers, samples, rate) and the
// files written, and the speed against real time. --stats adds, per link,
// the buffers and samples it carried and the latency from the clock tick
// that made a buffer to its delivery (median and 99th percentile), and per
// filter with a worker thread how full its queue got, what it dropped and
// how often a sender waited for room.
//
// Timeline. --trace FILE.json records what every thread did (clock ticks,
// filter work, sends, waits for room in a queue) over the whole command and
// writes it in the trace-event format that trace viewers open.
//
// Devices. A graph with a component that paces it from a device's clock (a
// sound card's output or input: INXFlowPacer) runs on the wall clock, and a
// run of S seconds ends once the device has paced S seconds of stream.
//
// Faults. A component that cannot go on with the stream it was given (a
// design its sample rate makes impossible) ends the run with its one-line
// message; so does a graph whose generators run with nothing to pace them.
// Staging folders left by processes that died are removed by the next run
// into the same --out.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "components/NXFlowNode.h"

namespace nx {
class TComponent;
}

namespace nx::flow {

class TPackageLoader;
struct TGraphFile;

struct TRunOptions {
  std::vector<std::string> Graphs;
  double Seconds = -1;         // < 0: not given
  std::int64_t Buffers = -1;   // < 0: not given
  bool RealTime = false;
  std::string OutDir;          // empty: "nxflow-out"
  std::vector<std::string> Settings;
  bool Progress = false;       // draw the progress bar on AErr
  bool Stats = false;          // --stats: the figures of every link and queue after the table
  std::string TraceFile;       // --trace FILE.json: the timeline of the run's threads
};

// What one node reported when its run finished.
struct TNodeRow {
  std::string Path, Class;
  TFlowNodeReport Report;
};

// One graph as `run` drives it, for a host that decides itself when it
// starts and ends (`run` and `serve`). Made: the document is loaded into a
// designing holder, the settings applied and every node prepared, with
// the master clock held at step 0 (on virtual time unless AOptions says
// real time) and the output going to a staging folder beside --out.
// EFlowError or the loader's EGraphDocumentError on a user's mistake, with
// nothing left behind. One run at a time per process: the clock is shared.
class TGraphRun {
 public:
  TGraphRun(const TGraphFile& AFile, const TRunOptions& AOptions, TPackageLoader& APackages);
  // A run not finished is stopped and its staging folder removed.
  ~TGraphRun();
  TGraphRun(const TGraphRun&) = delete;
  TGraphRun& operator=(const TGraphRun&) = delete;

  // The loaded graph's root (the holder's only child) and its components,
  // root first, depth first.
  TComponent& Root() const;
  const std::vector<TComponent*>& Components() const;
  // The stream time the options or the document ask for, and its 1 ms steps.
  double Seconds() const;
  std::uint64_t Steps() const;

  // Starts the generators with the clock still held; the streams have then
  // started, and a component that refused its rate is reported here
  // (EFlowError naming the document), before a sample is made. The caller
  // releases the clock (NXSetClockStepLimit).
  void Start();
  // The first fault a node reports while the graph runs ("" when none).
  std::string Fault() const;
  bool AnyGeneratorRunning() const;
  // Whether a node paces the graph from a device (INXFlowPacer), and the
  // stream time the slowest of them has paced.
  bool Paced() const;
  double PacedSeconds() const;
  // Holds the master clock at the step it has reached and waits until every
  // clock has handled the ticks released so far.
  static void HoldClockHere();
  // The stream's pause or resume announced by every running generator
  // (the clock held first: see TNXBasicCommonGen::NotifyPause).
  void NotifyPause();
  void NotifyResume();
  // Stops the generators and lets the queued work out; the clock stays held.
  void Stop();
  // Stops, asks every node to finish (files into the staging folder), frees
  // the graph and moves the files into --out. EFlowError when a node fails or
  // two sinks wrote one file (--out then stays as it was).
  // AFinished, when given, runs once every node has finished and before
  // the graph is freed (the final counts, with every component still there).
  std::vector<TNodeRow> Finish(const std::function<void()>& AFinished = {});
  const std::string& OutDir() const;

 private:
  struct TState;
  std::unique_ptr<TState> F;
};

// Reads the options of `run` (the words after the command). EFlowError for
// a bad option; the graphs must not be empty.
TRunOptions ParseRunOptions(const std::vector<std::string>& AWords);

// Runs one document read with ReadGraphFile or ReadGraphData, as RunGraphs
// runs each of its graphs (AOptions.Graphs is not read).
// Returns 0, or 128 + the signal's number when a stop signal ended it early.
int RunGraph(const TGraphFile& AFile, const TRunOptions& AOptions, TPackageLoader& APackages, std::ostream& AOut,
             std::ostream& AErr);

// Runs the graphs in order; the report goes to AOut, the progress bar to
// AErr. EFlowError, or the loader's EGraphDocumentError, on a user's mistake
// (the message names the file and line, or the component), with the output
// folder left as it was.
// Returns the exit status: 0, or 128 + the signal's number when a stop
// signal ended the command (the graphs after it are not run).
int RunGraphs(const TRunOptions& AOptions, TPackageLoader& APackages, std::ostream& AOut, std::ostream& AErr);

// Stop signals, for the nxflow program (call once from main, before any
// thread starts). The first SIGINT or SIGTERM stops the running graph
// cleanly: its generators stop at the step reached, the sinks finish, the
// files gathered so far are moved into --out, the closing line says the run
// was interrupted and the command exits with 128 + the signal (130, 143).
// A second signal ends the process at once, removing the staging folder.
void InstallStopSignals();
// The stop signal received so far (0: none).
int StopSignal() noexcept;

}  // namespace nx::flow
