// NXFlowStats: the figures of a running graph (streams/NXFlowFigures.h) with
// names: per link "Source.Pin -> Sink.Pin" with its buffers, samples and
// latency from the clock tick; per filter with a worker its queue; the
// readings of components that count things of their own. `nxflow
// run --stats` prints them at the end of a run; `nxflow serve` sends them to
// the page as JSON with rates between two looks.
#pragma once

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "streams/NXFlowFigures.h"

namespace nx {
class TComponent;
}

namespace nx::flow {

struct TLinkStats {
  std::string From, To;  // "Component.Pin", paths below the graph's root
  std::uint64_t Buffers = 0, Samples = 0;
  figures::TLatency Latency;
};

struct TQueueStats {
  std::string Component;
  std::uint64_t Pushed = 0, Dropped = 0, Waits = 0;
  std::uint32_t MaxFill = 0, Size = 0, Fill = 0;  // Fill: waiting now
};

// A component's own running count (INXFlowReadings: a sound device's
// underruns, a network source's refused messages).
struct TReadingStats {
  std::string Component, Name;
  std::int64_t Value = 0;
};

struct TGraphStats {
  std::vector<TLinkStats> Links;   // sorted by From, then To
  std::vector<TQueueStats> Queues;  // sorted by Component
  std::vector<TReadingStats> Readings;  // by component in graph order, then as the component gives them
};

// The figures counted since figures::Enable(true), for the pins and filters
// of AComponents (the graph's components below ARoot; anything else the
// figures know of is left out).
TGraphStats CollectStats(const TComponent& ARoot, const std::vector<TComponent*>& AComponents);

// The closing table of `nxflow run --stats`: AStreamSeconds of stream time
// in AWallSeconds.
void PrintStats(std::ostream& AOut, const TGraphStats& AStats, double AWallSeconds);

// The figures as a JSON object {"links": [...], "queues": [...], "readings": [...]}: per link
// "from", "to", "buffers", "samples", "buffersPerSecond", "samplesPerSecond"
// (against ABefore, ASeconds earlier; 0 when ASeconds is not positive),
// "latencyP50" and "latencyP99" in seconds (null before the first), per
// queue "component", "fill", "size", "maxFill", "pushed", "dropped",
// "waits", per reading "component", "name", "value".
std::string StatsJson(const TGraphStats& ANow, const TGraphStats& ABefore, double ASeconds);

}  // namespace nx::flow
