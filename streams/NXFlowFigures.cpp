// NXFlowFigures: the counters behind the figures of a running graph.
#include "streams/NXFlowFigures.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "buffers/NXSimpleDataBuffer.h"
#include "runtime/NXTrace.h"
#include "streams/FTPins.h"
#include "streams/NXStreamTypes.h"

namespace nx::figures {

namespace {

std::atomic<bool> GEnabled{false};
std::atomic<std::uint32_t> GGeneration{1};
thread_local std::uint64_t tMark = 0;

// Latencies in buckets of an eighth of an octave (about 9% wide) from 8 ns to
// about 18 minutes; below 8 ns exact. A percentile is the middle of its
// bucket, so within about 5% of the true value.
constexpr int kBuckets = 41 * 8;
int BucketOf(std::uint64_t ANs) noexcept {
  if (ANs < 8) return static_cast<int>(ANs);
  const int msb = 63 - std::countl_zero(ANs);
  if (msb > 40) return kBuckets - 1;
  return msb * 8 + static_cast<int>((ANs >> (msb - 3)) & 7);
}
double BucketMiddle(int ABucket) noexcept {
  if (ABucket < 24) return ABucket;
  const int msb = ABucket / 8, sub = ABucket % 8;
  return std::ldexp(8.5 + sub, msb - 3);
}

struct THistogram {
  std::array<std::atomic<std::uint64_t>, kBuckets> Counts{};
  void Add(std::uint64_t ANs) noexcept { Counts[BucketOf(ANs)].fetch_add(1, std::memory_order_relaxed); }
  void Clear() noexcept {
    for (auto& c : Counts) c.store(0, std::memory_order_relaxed);
  }
  TLatency Read() const {
    std::array<std::uint64_t, kBuckets> counts;
    TLatency l;
    for (int i = 0; i < kBuckets; ++i) l.Count += counts[i] = Counts[i].load(std::memory_order_relaxed);
    if (l.Count == 0) return l;
    const auto at = [&](double AQuantile) {
      // The smallest bucket below which at least AQuantile of the counts lie.
      const auto rank = static_cast<std::uint64_t>(std::ceil(AQuantile * static_cast<double>(l.Count)));
      std::uint64_t seen = 0;
      for (int i = 0; i < kBuckets; ++i)
        if ((seen += counts[i]) >= std::max<std::uint64_t>(rank, 1)) return BucketMiddle(i) * 1e-9;
      return BucketMiddle(kBuckets - 1) * 1e-9;
    };
    l.P50 = at(0.50);
    l.P99 = at(0.99);
    return l;
  }
};

struct TLinkRecord {
  const TFTBasicPin* Source;
  const TFTBasicPin* Sink;
  std::atomic<std::uint64_t> Buffers{0}, Samples{0};
  THistogram Latency;
};

struct TQueueRecord {
  const void* Owner;
  std::atomic<std::uint64_t> Pushed{0}, Dropped{0}, Waits{0};
  std::atomic<std::uint32_t> MaxFill{0}, Size{0};
};

// The records live as long as the process: a sender may still hold one
// while counting is turned off and on again (which only zeroes them).
struct TRegistry {
  std::mutex Lock;
  std::map<std::pair<const void*, const void*>, std::unique_ptr<TLinkRecord>> Links;
  std::unordered_map<const void*, std::unique_ptr<TQueueRecord>> Queues;
  // The marks that queued operations carry to their workers.
  std::map<std::pair<const void*, const void*>, std::uint64_t> Carried;
};
TRegistry& Registry() {
  static TRegistry* registry = new TRegistry;
  return *registry;
}

TLinkRecord& LinkRecord(const TFTBasicPin* ASource, const TFTBasicPin* ASink) {
  // Each thread remembers the records it used, so that a delivery takes the
  // shared lock once per link and thread.
  struct TCache {
    std::uint32_t Generation = 0;
    std::map<std::pair<const void*, const void*>, TLinkRecord*> Records;
  };
  thread_local TCache cache;
  const std::uint32_t generation = GGeneration.load(std::memory_order_acquire);
  if (cache.Generation != generation) {
    cache.Records.clear();
    cache.Generation = generation;
  }
  const std::pair<const void*, const void*> key{ASource, ASink};
  if (const auto c = cache.Records.find(key); c != cache.Records.end()) return *c->second;
  TRegistry& r = Registry();
  std::lock_guard guard(r.Lock);
  auto& slot = r.Links[key];
  if (!slot) {
    slot = std::make_unique<TLinkRecord>();
    slot->Source = ASource;
    slot->Sink = ASink;
  }
  cache.Records.emplace(key, slot.get());
  return *slot;
}

// r.Lock held.
TQueueRecord& QueueRecord(TRegistry& r, const void* AOwner) {
  auto& slot = r.Queues[AOwner];
  if (!slot) {
    slot = std::make_unique<TQueueRecord>();
    slot->Owner = AOwner;
  }
  return *slot;
}

}  // namespace

void Enable(bool AOn) {
  if (AOn) {
    TRegistry& r = Registry();
    std::lock_guard guard(r.Lock);
    for (auto& [key, link] : r.Links) {
      link->Buffers.store(0, std::memory_order_relaxed);
      link->Samples.store(0, std::memory_order_relaxed);
      link->Latency.Clear();
    }
    for (auto& [key, queue] : r.Queues) {
      queue->Pushed.store(0, std::memory_order_relaxed);
      queue->Dropped.store(0, std::memory_order_relaxed);
      queue->Waits.store(0, std::memory_order_relaxed);
      queue->MaxFill.store(0, std::memory_order_relaxed);
    }
    r.Carried.clear();
    // The addresses of pins freed since the last time may be reused: the
    // listing only shows what was counted from now on.
    GGeneration.fetch_add(1, std::memory_order_acq_rel);
  }
  GEnabled.store(AOn, std::memory_order_release);
}

bool Enabled() noexcept { return GEnabled.load(std::memory_order_relaxed); }

std::vector<TLinkFigures> Links() {
  TRegistry& r = Registry();
  std::lock_guard guard(r.Lock);
  std::vector<TLinkFigures> out;
  for (const auto& [key, link] : r.Links) {
    TLinkFigures f;
    f.Source = link->Source;
    f.Sink = link->Sink;
    f.Buffers = link->Buffers.load(std::memory_order_relaxed);
    f.Samples = link->Samples.load(std::memory_order_relaxed);
    f.Latency = link->Latency.Read();
    if (f.Buffers > 0 || f.Latency.Count > 0) out.push_back(f);
  }
  return out;
}

std::vector<TQueueFigures> Queues() {
  TRegistry& r = Registry();
  std::lock_guard guard(r.Lock);
  std::vector<TQueueFigures> out;
  for (const auto& [owner, queue] : r.Queues) {
    TQueueFigures f;
    f.Owner = owner;
    f.Pushed = queue->Pushed.load(std::memory_order_relaxed);
    f.Dropped = queue->Dropped.load(std::memory_order_relaxed);
    f.Waits = queue->Waits.load(std::memory_order_relaxed);
    f.MaxFill = queue->MaxFill.load(std::memory_order_relaxed);
    f.Size = queue->Size.load(std::memory_order_relaxed);
    if (f.Pushed > 0 || f.Dropped > 0 || f.Waits > 0) out.push_back(f);
  }
  return out;
}

void MarkTick(std::uint64_t ANs) noexcept { tMark = ANs; }

void CountDelivery(const TFTBasicPin* ASource, const TFTBasicPin* ASink, IFTNotifyOperation* AOperation) {
  if (!Enabled() || !AOperation) return;
  const auto* supplied = AOperation->As<TFTTypedSuppliedDataOperation>();
  if (!supplied) return;
  TLinkRecord& link = LinkRecord(ASource, ASink);
  link.Buffers.fetch_add(1, std::memory_order_relaxed);
  TIntfPtr<INXDataBuffer> buffer;
  if (supplied->GetValue() && Supports(supplied->GetValue(), buffer))
    link.Samples.fetch_add(static_cast<std::uint64_t>(std::max(buffer->GetSize(), 0)), std::memory_order_relaxed);
  if (const std::uint64_t mark = tMark) {
    const std::uint64_t now = trace::NowNs();
    link.Latency.Add(now > mark ? now - mark : 0);
  }
}

void CountPush(const void* AWorker, const void* AOwner, const IFTNotifyOperation* AOperation, std::uint32_t AFill,
               std::uint32_t ASize) {
  if (!Enabled()) return;
  TRegistry& r = Registry();
  std::lock_guard guard(r.Lock);
  TQueueRecord& q = QueueRecord(r, AOwner);
  q.Pushed.fetch_add(1, std::memory_order_relaxed);
  q.Size.store(ASize, std::memory_order_relaxed);
  if (AFill > q.MaxFill.load(std::memory_order_relaxed)) q.MaxFill.store(AFill, std::memory_order_relaxed);
  const std::pair<const void*, const void*> key{AWorker, AOperation};
  if (tMark != 0) {
    // A queue that is flushed leaves its marks behind; the table is kept
    // small by forgetting them all now and then (a few latencies lost).
    if (r.Carried.size() >= 65536) r.Carried.clear();
    r.Carried[key] = tMark;
  } else {
    r.Carried.erase(key);
  }
}

void CountDrop(const void* AOwner, std::uint32_t ASize) {
  if (!Enabled()) return;
  TRegistry& r = Registry();
  std::lock_guard guard(r.Lock);
  TQueueRecord& q = QueueRecord(r, AOwner);
  q.Dropped.fetch_add(1, std::memory_order_relaxed);
  q.Size.store(ASize, std::memory_order_relaxed);
}

void CountWait(const void* AOwner) {
  if (!Enabled()) return;
  TRegistry& r = Registry();
  std::lock_guard guard(r.Lock);
  QueueRecord(r, AOwner).Waits.fetch_add(1, std::memory_order_relaxed);
}

void AdoptMark(const void* AWorker, const IFTNotifyOperation* AOperation) noexcept {
  tMark = 0;
  if (!AOperation || !Enabled()) return;
  TRegistry& r = Registry();
  std::lock_guard guard(r.Lock);
  if (const auto c = r.Carried.find({AWorker, AOperation}); c != r.Carried.end()) {
    tMark = c->second;
    r.Carried.erase(c);
  }
}

}  // namespace nx::figures
