// NXFlowRun: `nxflow run`. Loads graph documents one after the other, runs
// each for a stretch of stream time and tells its components to write what
// they gathered (see NXFlowNode.h for what the components are asked).
//
//   nxflow run GRAPH.xml [GRAPH2.xml ...] [--seconds S | --buffers N]
//              [--realtime] [--out DIR] [--set Comp.Prop=value]...
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
// files written, and the speed against real time.
//
// Faults. A component that cannot go on with the stream it was given (a
// design its sample rate makes impossible) ends the run with its one-line
// message; so does a graph whose generators run with nothing to pace them.
// Staging folders left by processes that died are removed by the next run
// into the same --out.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

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
