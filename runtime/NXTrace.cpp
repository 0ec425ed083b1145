// NXTrace: per-thread event logs and their trace-event JSON form.
#include "runtime/NXTrace.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace nx::trace {

namespace {

struct TEvent {
  std::uint64_t Start, End;
  std::uint32_t Name;  // an index into the name table
  const char* Category;
};

// One thread's events. The thread appends under its own lock, which only the
// writer of the file ever contends for.
struct TThreadLog {
  std::mutex Lock;
  std::uint32_t Generation = 0;
  std::uint32_t Track = 0;
  std::string ThreadName;
  std::vector<TEvent> Events;
};

std::atomic<bool> GRecording{false};
std::atomic<std::uint32_t> GGeneration{0};
std::atomic<std::size_t> GEvents{0}, GDropped{0};
std::atomic<std::size_t> GMaxEvents{0};
std::atomic<std::uint32_t> GNextTrack{1};

// The logs of every thread that ever recorded (a log outlives its thread, so
// that a worker that ended still has its track in the file), and the names.
// Never freed: a thread may record while the process ends.
struct TRegistry {
  std::mutex Lock;
  std::vector<std::shared_ptr<TThreadLog>> Logs;
  std::vector<std::string> Names;
  std::unordered_map<std::string, std::uint32_t> NameIndex;
};
TRegistry& Registry() {
  static TRegistry* registry = new TRegistry;
  return *registry;
}

TThreadLog& ThisThreadLog() {
  thread_local std::shared_ptr<TThreadLog> log;
  if (!log) {
    log = std::make_shared<TThreadLog>();
    char name[32] = {};
    if (pthread_getname_np(pthread_self(), name, sizeof name) != 0) name[0] = 0;
    log->ThreadName = name;
    log->Track = GNextTrack.fetch_add(1, std::memory_order_relaxed);
    TRegistry& r = Registry();
    std::lock_guard guard(r.Lock);
    r.Logs.push_back(log);
  }
  return *log;
}

std::uint32_t NameIndex(std::string_view AName) {
  // Each thread remembers the names it used, so that the shared table's lock
  // is taken once per name and thread, not once per event.
  thread_local std::unordered_map<std::string, std::uint32_t> known;
  if (const auto k = known.find(std::string(AName)); k != known.end()) return k->second;
  TRegistry& r = Registry();
  std::lock_guard guard(r.Lock);
  const auto [it, added] = r.NameIndex.try_emplace(std::string(AName), static_cast<std::uint32_t>(r.Names.size()));
  if (added) r.Names.emplace_back(AName);
  known.emplace(std::string(AName), it->second);
  return it->second;
}

// A JSON string of a name: quotes, backslashes and control characters
// escaped; bytes outside ASCII become '?' (names are identifiers; the file
// stays valid UTF-8 whatever a thread was called).
void WriteString(std::ostream& AOut, std::string_view AText) {
  AOut << '"';
  for (const char c : AText) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      AOut << '\\' << c;
    } else if (u < 0x20) {
      static const char* const kHex = "0123456789abcdef";
      AOut << "\\u00" << kHex[u >> 4] << kHex[u & 15];
    } else {
      AOut << (u < 0x80 ? c : '?');
    }
  }
  AOut << '"';
}

}  // namespace

bool Recording() noexcept { return GRecording.load(std::memory_order_relaxed); }

std::uint64_t NowNs() noexcept {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

void Start(std::size_t AMaxEvents) {
  GRecording.store(false, std::memory_order_seq_cst);
  GMaxEvents.store(AMaxEvents, std::memory_order_relaxed);
  GEvents.store(0, std::memory_order_relaxed);
  GDropped.store(0, std::memory_order_relaxed);
  // A log still holding an older generation's events drops them at its
  // thread's next event, or here when its thread has gone.
  GGeneration.fetch_add(1, std::memory_order_seq_cst);
  {
    TRegistry& r = Registry();
    std::lock_guard guard(r.Lock);
    for (const auto& log : r.Logs) {
      std::lock_guard logGuard(log->Lock);
      log->Events.clear();
      log->Events.shrink_to_fit();
      log->Generation = GGeneration.load(std::memory_order_relaxed);
    }
  }
  GRecording.store(true, std::memory_order_seq_cst);
}

void Stop() { GRecording.store(false, std::memory_order_seq_cst); }

void Complete(const char* ACategory, std::string_view AName, std::uint64_t AStartNs, std::uint64_t AEndNs) {
  if (!Recording()) return;
  if (GEvents.fetch_add(1, std::memory_order_relaxed) >= GMaxEvents.load(std::memory_order_relaxed)) {
    GEvents.fetch_sub(1, std::memory_order_relaxed);
    GDropped.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  const std::uint32_t name = NameIndex(AName);
  TThreadLog& log = ThisThreadLog();
  std::lock_guard guard(log.Lock);
  const std::uint32_t generation = GGeneration.load(std::memory_order_relaxed);
  if (log.Generation != generation) {
    log.Events.clear();
    log.Generation = generation;
  }
  log.Events.push_back({AStartNs, std::max(AStartNs, AEndNs), name, ACategory});
}

std::size_t EventCount() { return GEvents.load(std::memory_order_relaxed); }
std::size_t DroppedCount() { return GDropped.load(std::memory_order_relaxed); }

bool WriteJson(std::ostream& AOut) {
  TRegistry& r = Registry();
  std::lock_guard guard(r.Lock);
  const std::uint32_t generation = GGeneration.load(std::memory_order_relaxed);
  // Times start at the first event, so that the viewer opens at the run.
  std::uint64_t origin = UINT64_MAX;
  for (const auto& log : r.Logs) {
    std::lock_guard logGuard(log->Lock);
    if (log->Generation == generation)
      for (const TEvent& e : log->Events) origin = std::min(origin, e.Start);
  }
  if (origin == UINT64_MAX) origin = 0;
  const auto micros = [origin](std::uint64_t ANs) {
    const std::uint64_t ns = ANs - origin;
    return std::to_string(ns / 1000) + "." + std::to_string(ns % 1000 + 1000).substr(1);
  };
  AOut << "{\"traceEvents\": [";
  bool first = true;
  const auto separator = [&] {
    AOut << (first ? "\n" : ",\n");
    first = false;
  };
  for (const auto& log : r.Logs) {
    std::lock_guard logGuard(log->Lock);
    if (log->Generation != generation || log->Events.empty()) continue;
    separator();
    AOut << R"({"ph": "M", "name": "thread_name", "pid": 1, "tid": )" << log->Track << R"(, "args": {"name": )";
    WriteString(AOut, log->ThreadName.empty() ? "thread " + std::to_string(log->Track) : log->ThreadName);
    AOut << "}}";
    for (const TEvent& e : log->Events) {
      separator();
      AOut << R"({"ph": "X", "pid": 1, "tid": )" << log->Track << R"(, "cat": ")" << e.Category
           << R"(", "name": )";
      WriteString(AOut, r.Names[e.Name]);
      AOut << R"(, "ts": )" << micros(e.Start) << R"(, "dur": )" << micros(origin + (e.End - e.Start)) << "}";
    }
  }
  AOut << "\n], \"displayTimeUnit\": \"ms\", \"otherData\": {\"dropped\": " << DroppedCount() << "}}\n";
  return static_cast<bool>(AOut);
}

}  // namespace nx::trace
