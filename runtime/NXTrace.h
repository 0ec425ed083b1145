// NXTrace: a timeline of what the threads of a running graph do (clock
// ticks, filter work, sends, waits for room in a queue), one track per
// thread, written in the trace-event JSON format that trace viewers and the
// browsers' tracing pages open.
//
// Recording is off unless a host starts it; the library's calls then cost
// one relaxed load each. While it records, each thread appends complete
// events ("X": a start and a duration) to a log of its own, so threads never
// wait for one another; a recording holds at most AMaxEvents events (the
// rest are counted as dropped, and the file says so).
//
//   nx::trace::Start();
//   ... run the graph ...
//   nx::trace::Stop();
//   nx::trace::WriteJson(out);
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

namespace nx::trace {

// Whether a recording is on.
bool Recording() noexcept;
// Starts a new recording (the previous one is discarded).
void Start(std::size_t AMaxEvents = 2'000'000);
// Ends the recording; what was recorded stays until the next Start.
void Stop();

// Monotonic nanoseconds (the clock every event is stamped with).
std::uint64_t NowNs() noexcept;

// One event of the calling thread: ACategory is a string literal ("tick",
// "work", "send", "wait"); AName says on what (a component's name).
void Complete(const char* ACategory, std::string_view AName, std::uint64_t AStartNs, std::uint64_t AEndNs);

// The events recorded and dropped since Start.
std::size_t EventCount();
std::size_t DroppedCount();

// The recording as a trace-event JSON object: "traceEvents" with one
// thread-name record per track and the events in microseconds, and
// "otherData" with the dropped count. Returns false when AOut failed.
bool WriteJson(std::ostream& AOut);

// Records one complete event around a scope, when a recording is on.
// AName is called only then (it builds the event's name).
template <class TNameFn>
class TSpan {
 public:
  TSpan(const char* ACategory, TNameFn AName) : FCategory(ACategory), FName(AName) {
    if (Recording()) FStart = NowNs();
  }
  ~TSpan() {
    if (FStart != 0 && Recording()) Complete(FCategory, FName(), FStart, NowNs());
  }
  TSpan(const TSpan&) = delete;
  TSpan& operator=(const TSpan&) = delete;

 private:
  const char* FCategory;
  TNameFn FName;
  std::uint64_t FStart = 0;
};

}  // namespace nx::trace
