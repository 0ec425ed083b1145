// NXFlowStats: names for the figures of a running graph, their table and
// their JSON form.
#include "nxflow/NXFlowStats.h"

#include <algorithm>
#include <iomanip>
#include <map>
#include <sstream>
#include <unordered_map>

#include "components/NXCommonFilter.h"
#include "components/NXFlowNode.h"
#include "components/NXPinOwner.h"
#include "nxflow/NXFlowServeApi.h"
#include "runtime/Zandor.Components.h"

namespace nx::flow {

namespace {

std::string PathBelow(const TComponent& ARoot, const TComponent* AComponent) {
  std::string path;
  for (const TComponent* c = AComponent; c && c != &ARoot; c = c->Owner())
    path = path.empty() ? c->Name() : c->Name() + "." + path;
  return path.empty() ? std::string(AComponent->ClassName()) : path;
}

// "12.3 us", "4.56 ms": a latency as people read it.
std::string FormatSeconds(double ASeconds) {
  std::ostringstream s;
  s << std::setprecision(3);
  if (ASeconds < 1e-3)
    s << ASeconds * 1e6 << " us";
  else if (ASeconds < 1)
    s << ASeconds * 1e3 << " ms";
  else
    s << ASeconds << " s";
  return s.str();
}

void PrintTable(std::ostream& AOut, const std::vector<std::vector<std::string>>& ATable, std::size_t AFirstNumber) {
  std::vector<std::size_t> width(ATable[0].size(), 0);
  for (const auto& r : ATable)
    for (std::size_t c = 0; c < r.size(); ++c) width[c] = std::max(width[c], r[c].size());
  for (const auto& r : ATable) {
    for (std::size_t c = 0; c < r.size(); ++c) {
      AOut << (c >= AFirstNumber ? std::right : std::left) << std::setw(static_cast<int>(width[c])) << r[c];
      AOut << (c + 1 == r.size() ? "\n" : "  ");
    }
  }
  AOut << std::left;
}

}  // namespace

TGraphStats CollectStats(const TComponent& ARoot, const std::vector<TComponent*>& AComponents) {
  // Only addresses of pins and filters the graph holds now are read through.
  std::unordered_map<const void*, std::string> pins;
  std::unordered_map<const void*, const TComponent*> filters;
  TGraphStats stats;
  std::vector<TFlowReading> readings;
  for (const TComponent* c : AComponents) {
    if (c == &ARoot) continue;
    const std::string path = PathBelow(ARoot, c);
    if (const auto* owner = dynamic_cast<const INXPinOwner*>(c))
      for (const TFTBasicPin* pin : owner->Pins()) pins.emplace(pin, path + "." + pin->GetName());
    filters.emplace(static_cast<const TPersistent*>(c), c);
    if (const auto* counted = dynamic_cast<const INXFlowReadings*>(c)) {
      readings.clear();
      counted->FlowReadings(readings);
      for (TFlowReading& r : readings) stats.Readings.push_back({path, std::move(r.Name), r.Value});
    }
  }
  for (const figures::TLinkFigures& l : figures::Links()) {
    const auto from = pins.find(l.Source), to = pins.find(l.Sink);
    if (from == pins.end() || to == pins.end()) continue;
    stats.Links.push_back({from->second, to->second, l.Buffers, l.Samples, l.Latency});
  }
  for (const figures::TQueueFigures& q : figures::Queues()) {
    const auto f = filters.find(q.Owner);
    if (f == filters.end()) continue;
    TQueueStats s{PathBelow(ARoot, f->second), q.Pushed, q.Dropped, q.Waits, q.MaxFill, q.Size, 0};
    if (const auto* filter = dynamic_cast<const TNXBasicThreadedFilter*>(f->second))
      if (auto worker = filter->GetFilterThread()) s.Fill = static_cast<std::uint32_t>(std::max(worker->QueuedCount(), 0));
    stats.Queues.push_back(std::move(s));
  }
  std::sort(stats.Links.begin(), stats.Links.end(),
            [](const TLinkStats& a, const TLinkStats& b) { return std::tie(a.From, a.To) < std::tie(b.From, b.To); });
  std::sort(stats.Queues.begin(), stats.Queues.end(),
            [](const TQueueStats& a, const TQueueStats& b) { return a.Component < b.Component; });
  return stats;
}

void PrintStats(std::ostream& AOut, const TGraphStats& AStats, double AWallSeconds) {
  if (AStats.Links.empty() && AStats.Queues.empty() && AStats.Readings.empty()) {
    AOut << "figures: no buffer crossed a link\n";
    return;
  }
  if (!AStats.Links.empty()) {
    std::vector<std::vector<std::string>> table{
        {"link", "", "buffers", "samples", "buffers/s", "latency p50", "latency p99"}};
    for (const TLinkStats& l : AStats.Links) {
      std::ostringstream rate;
      rate << std::fixed << std::setprecision(1) << (AWallSeconds > 0 ? l.Buffers / AWallSeconds : 0.0);
      const bool timed = l.Latency.Count > 0;
      table.push_back({l.From, "-> " + l.To, std::to_string(l.Buffers), std::to_string(l.Samples), rate.str(),
                       timed ? FormatSeconds(l.Latency.P50) : "-", timed ? FormatSeconds(l.Latency.P99) : "-"});
    }
    PrintTable(AOut, table, 2);
  }
  if (!AStats.Queues.empty()) {
    std::vector<std::vector<std::string>> table{{"queue", "size", "most waiting", "queued", "dropped", "waits"}};
    for (const TQueueStats& q : AStats.Queues)
      table.push_back({q.Component, std::to_string(q.Size), std::to_string(q.MaxFill), std::to_string(q.Pushed),
                       std::to_string(q.Dropped), std::to_string(q.Waits)});
    PrintTable(AOut, table, 1);
  }
  if (!AStats.Readings.empty()) {
    std::vector<std::vector<std::string>> table{{"component", "reading", "value"}};
    for (const TReadingStats& r : AStats.Readings) table.push_back({r.Component, r.Name, std::to_string(r.Value)});
    PrintTable(AOut, table, 2);
  }
  AOut << "(rates per second of wall time; latency from the clock tick that made a buffer to its delivery)\n";
}

std::string StatsJson(const TGraphStats& ANow, const TGraphStats& ABefore, double ASeconds) {
  std::map<std::pair<std::string, std::string>, const TLinkStats*> before;
  for (const TLinkStats& l : ABefore.Links) before[{l.From, l.To}] = &l;
  std::string json = "{\"links\": [";
  bool first = true;
  for (const TLinkStats& l : ANow.Links) {
    const auto b = before.find({l.From, l.To});
    const std::uint64_t buffers0 = b == before.end() ? 0 : std::min(b->second->Buffers, l.Buffers);
    const std::uint64_t samples0 = b == before.end() ? 0 : std::min(b->second->Samples, l.Samples);
    const bool paced = ASeconds > 0;
    const bool timed = l.Latency.Count > 0;
    json += std::string(first ? "" : ", ") + "{\"from\": " + JsonString(l.From) + ", \"to\": " + JsonString(l.To) +
            ", \"buffers\": " + std::to_string(l.Buffers) + ", \"samples\": " + std::to_string(l.Samples) +
            ", \"buffersPerSecond\": " + JsonNumber(paced ? (l.Buffers - buffers0) / ASeconds : 0) +
            ", \"samplesPerSecond\": " + JsonNumber(paced ? (l.Samples - samples0) / ASeconds : 0) +
            ", \"latencyP50\": " + (timed ? JsonNumber(l.Latency.P50) : "null") +
            ", \"latencyP99\": " + (timed ? JsonNumber(l.Latency.P99) : "null") + "}";
    first = false;
  }
  json += "], \"queues\": [";
  first = true;
  for (const TQueueStats& q : ANow.Queues) {
    json += std::string(first ? "" : ", ") + "{\"component\": " + JsonString(q.Component) +
            ", \"fill\": " + std::to_string(q.Fill) + ", \"size\": " + std::to_string(q.Size) +
            ", \"maxFill\": " + std::to_string(q.MaxFill) + ", \"pushed\": " + std::to_string(q.Pushed) +
            ", \"dropped\": " + std::to_string(q.Dropped) + ", \"waits\": " + std::to_string(q.Waits) + "}";
    first = false;
  }
  json += "], \"readings\": [";
  first = true;
  for (const TReadingStats& r : ANow.Readings) {
    json += std::string(first ? "" : ", ") + "{\"component\": " + JsonString(r.Component) +
            ", \"name\": " + JsonString(r.Name) + ", \"value\": " + std::to_string(r.Value) + "}";
    first = false;
  }
  return json + "]}";
}

}  // namespace nx::flow
