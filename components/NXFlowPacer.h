// NXFlowPacer: what the nxflow host asks of a component that paces its graph
// from a clock of its own (a sound card: its callback asks for the buffers,
// and the generators upstream follow it instead of the 1 ms master clock).
// A component class implements it beside INXFlowNode (NXFlowNode.h); the
// host finds it with dynamic_cast.
//
// A graph with a pacer runs on the wall clock (its device sets the pace; a
// part of the graph that the master clock paces runs beside it in real time
// too), and a run of S seconds ends once every pacer has paced S seconds of
// stream. A pacer that cannot go on (its device went away) says so through
// INXFlowNode::FlowFault, which ends the run.
//
// Header only: packages include it without linking the host.
#pragma once

namespace nx::flow {

class INXFlowPacer {
 public:
  virtual ~INXFlowPacer() = default;
  // The stream time this node has paced since its run began, in seconds;
  // safe to read from any thread while the graph runs.
  virtual double FlowPacedSeconds() const = 0;
};

}  // namespace nx::flow
