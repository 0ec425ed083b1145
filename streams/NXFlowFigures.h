// NXFlowFigures: what flows through a running graph, counted where it
// happens: per link the buffers and samples its source pin delivered and the
// latency from the clock tick that started the work to the delivery; per
// filter with a worker thread how full its queue got, what was dropped and
// how often a sender waited for room.
//
// Counting is off unless a host turns it on (the library's calls then cost
// one relaxed load each). Latency: a clock tick marks its thread with the
// time it began; every delivery on that thread is measured against it; an
// operation queued for a worker carries the mark across to the worker.
//
// The figures name pins and components by address only: a host maps them
// to names through the components it holds, and never reads through an
// address it does not know (a pin freed since is just an unknown address).
#pragma once

#include <cstdint>
#include <vector>

namespace nx {
class TFTBasicPin;
struct IFTNotifyOperation;
}  // namespace nx

namespace nx::figures {

// Turns counting on (from zero) or off.
void Enable(bool AOn);
bool Enabled() noexcept;

struct TLatency {
  std::uint64_t Count = 0;   // deliveries measured
  double P50 = 0, P99 = 0;   // seconds (0 when none)
};

struct TLinkFigures {
  const TFTBasicPin* Source = nullptr;
  const TFTBasicPin* Sink = nullptr;
  std::uint64_t Buffers = 0, Samples = 0;
  TLatency Latency;
};

struct TQueueFigures {
  const void* Owner = nullptr;  // the filter (a TPersistent)
  std::uint64_t Pushed = 0;     // operations queued
  std::uint64_t Dropped = 0;    // operations dropped on a full queue
  std::uint64_t Waits = 0;      // times a sender waited for room
  std::uint32_t MaxFill = 0;    // the most operations waiting at once
  std::uint32_t Size = 0;       // the queue's size at the last push
};

// Every link that delivered a buffer, and every queue that was pushed to,
// since counting was turned on.
std::vector<TLinkFigures> Links();
std::vector<TQueueFigures> Queues();

// ---- called by the library

// A clock tick begins (ANs: NowNs of runtime/NXTrace.h) or ends (0) on
// this thread.
void MarkTick(std::uint64_t ANs) noexcept;
// A delivery of AOperation from ASource to ASink (sink-ward).
void CountDelivery(const TFTBasicPin* ASource, const TFTBasicPin* ASink, IFTNotifyOperation* AOperation);
// An operation queued for AWorker of AOwner (AFill waiting after it, of ASize),
// or dropped on its full queue.
void CountPush(const void* AWorker, const void* AOwner, const IFTNotifyOperation* AOperation, std::uint32_t AFill,
               std::uint32_t ASize);
void CountDrop(const void* AOwner, std::uint32_t ASize);
void CountWait(const void* AOwner);
// AWorker takes AOperation out of its queue (nullptr: it is done with it):
// the thread's mark becomes the one the operation carried.
void AdoptMark(const void* AWorker, const IFTNotifyOperation* AOperation) noexcept;

}  // namespace nx::figures
