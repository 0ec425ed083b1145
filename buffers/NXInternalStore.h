// NXInternalStore: the data block behind every buffer. A block holds the
// samples (32-byte aligned), counts the buffers that reference it and the
// buffers counted as its owners, and carries the sequence stamp that all
// buffers on the block share. Copy on write is decided by the owner count: a
// buffer writes in place while it is the only owner and clones the block
// otherwise.
//
// Also here: NXBufferAllocate / NXBufferDeallocate, the sample allocator of
// the blocks (with a cache of freed blocks so that a steady stream of buffers
// does not return to the heap), and the live-object counters
// _NXCountPasBuffers and _NXCountStores.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "runtime/Zandor.Interfaces.h"
#include "runtime/Zandor.Sync.h"
#include "runtime/Zandor.Variants.h"

namespace nx {

// Device proxies of a block (declared in buffers/NXSmartBufferProxy.h).
struct INXSmartBufferProxy;
struct TNXSmartBufferProxyClass;
class TNXProxyList;
using TNXProxyParameters = std::vector<TVariant>;

// A process-wide count of live objects, changed on every buffer or block
// made and freed. A single atomic word would cost a locked instruction on
// each change (as much as the rest of passing a buffer on); instead every
// thread adds into a slot of its own with a plain atomic store, and load()
// sums the slots. A slot outlives its thread (its value stays in the sum)
// and is handed to the next new thread. load() is a snapshot: exact when no
// other thread is changing the count, as after joining the threads that did.
class TNXLiveCounter {
 public:
  explicit constexpr TNXLiveCounter(int AIndex) noexcept : FIndex(AIndex) {}
  TNXLiveCounter(const TNXLiveCounter&) = delete;
  TNXLiveCounter& operator=(const TNXLiveCounter&) = delete;

  std::int32_t load() const noexcept;
  operator std::int32_t() const noexcept { return load(); }
  void Increment() noexcept { Add(1); }
  void Decrement() noexcept { Add(-1); }

 private:
  void Add(std::int64_t ADelta) noexcept;
  const int FIndex;
};

// Live TNXGenericBuffer objects and live TNXSmartBuffer objects: every
// constructor adds 1 and every destructor takes 1. Read with load().
extern TNXLiveCounter _NXCountPasBuffers;
extern TNXLiveCounter _NXCountStores;

// The data block. Not reference counted through interfaces: buffers call
// AddReff / RemoveReff, and the block deletes itself when its reference
// count returns to 0.
//
// The owner and reference counts share one 64-bit atomic word (owners in the
// high half, references in the low half), so each change of the counts is one
// indivisible step and a reader always sees a consistent pair; this is what a
// lock around the counts gives, at the cost of one atomic instruction instead
// of a lock round trip on every buffer made or released. The block's critical
// section is still there for callers that need a longer exclusive section on
// the block (EnterRead / EnterWrite ... LeaveWrite): it is not taken on the
// count paths.
class TNXSmartBuffer {
 public:
  TNXSmartBuffer() noexcept;
  virtual ~TNXSmartBuffer();
  TNXSmartBuffer(const TNXSmartBuffer&) = delete;
  TNXSmartBuffer& operator=(const TNXSmartBuffer&) = delete;

  // References: AOwnsData also counts (or uncounts) the caller as an owner.
  // RemoveReff deletes the block when the last reference goes; it never throws.
  virtual void AddReff(bool AOwnsData) noexcept;
  virtual void RemoveReff(bool AOwnsData) noexcept;
  // Takes one owner off (never below 0); the reference stays.
  virtual void RemoveOwnerShip() noexcept;
  // True when at most one buffer owns the block. Read with acquire ordering:
  // when another owner has just let go, everything it did with the samples
  // happens before the caller's write in place. Not virtual: the rule is the
  // same for every kind of block and it sits on every write access.
  bool SingleOwner() const noexcept { return OwnerCount() <= 1; }

  virtual std::uint32_t GetSize() const noexcept = 0;  // bytes of sample memory
  virtual void* GetData() const noexcept = 0;          // first byte (null for 0 bytes)
  // A new block of the same kind and size with counts 0 and the stamp unset;
  // with APreserve the bytes are copied. The base class cannot clone and
  // raises EAssertionFailed "Cloning is not implemented for <class>".
  virtual TNXSmartBuffer* Clone(bool APreserve);

  std::int32_t OwnerCount() const noexcept {
    return static_cast<std::int32_t>(FCounts.load(std::memory_order_acquire) >> 32);
  }
  std::int32_t ReferenceCount() const noexcept {
    return static_cast<std::int32_t>(FCounts.load(std::memory_order_acquire) & 0xFFFFFFFFu);
  }

  // The block's lock; all four enter or leave the same critical section.
  void EnterRead() { FLock.Enter(); }
  void EnterWrite() { FLock.Enter(); }
  void LeaveRead() { FLock.Leave(); }
  void LeaveWrite() { FLock.Leave(); }

  // The sequence stamp shared by every buffer on this block. Relaxed atomics:
  // the stamp is a label, not a synchronisation point, but two threads
  // holding buffers on one block may touch it at the same time.
  bool GetBufferNumberAvailable() const noexcept { return FBufferNumberAvailable.load(std::memory_order_relaxed); }
  void SetBufferNumberAvailable(bool AValue) noexcept { FBufferNumberAvailable.store(AValue, std::memory_order_relaxed); }
  std::uint64_t GetBufferNumber() const noexcept { return FBufferNumber.load(std::memory_order_relaxed); }
  void SetBufferNumber(std::uint64_t AValue) noexcept { FBufferNumber.store(AValue, std::memory_order_relaxed); }

  // ---- device proxies (buffers/NXSmartBufferProxy.cpp)
  // The first live proxy of exactly class AProxyClass whose MatchesParameters
  // (AParameters) is true; otherwise a new one, made from (this block,
  // AParameters). The block keeps weak references only.
  TIntfPtr<INXSmartBufferProxy> GetProxy(const TNXSmartBufferProxyClass& AProxyClass,
                                         const TNXProxyParameters& AParameters);
  // Tells the proxies that the host is about to write the samples in place
  // (called by every write access of a buffer that owns the block alone).
  // Costs one relaxed load while the block has never had a proxy.
  void NoteHostWrite() noexcept {
    if (FProxies.load(std::memory_order_relaxed)) [[unlikely]]
      FHostWrites.fetch_add(1, std::memory_order_relaxed);
  }
  // The count of host writes announced so far: a proxy whose device copy was
  // made at another count is stale.
  std::uint64_t HostWrites() const noexcept { return FHostWrites.load(std::memory_order_acquire); }
  // Counts a write into the samples made by a proxy (a download from the
  // device), so that the block's other proxies see it as a host change.
  std::uint64_t NoteProxyWrite() noexcept { return FHostWrites.fetch_add(1, std::memory_order_acq_rel) + 1; }

 protected:
  // Detaches every live proxy (they release their device copies) and frees
  // the list; runs before the samples are freed.
  void ReleaseProxies() noexcept {
    if (FProxies.load(std::memory_order_acquire)) IntReleaseProxies();
  }

 private:
  void IntReleaseProxies() noexcept;
  TNXProxyList* ProxyList();

  std::atomic<TNXProxyList*> FProxies{nullptr};  // made on the first GetProxy
  std::atomic<std::uint64_t> FHostWrites{0};

 private:
  static constexpr std::uint64_t kOwnerOne = std::uint64_t{1} << 32;
  static constexpr std::uint64_t kRefOne = 1;

  std::atomic<std::uint64_t> FCounts{0};  // owners << 32 | references
  TCriticalSection FLock;
  std::atomic<bool> FBufferNumberAvailable{false};
  std::atomic<std::uint64_t> FBufferNumber{0};
};

// A block that owns sample memory from NXBufferAllocate.
class TNXSmartMemoryBuffer : public TNXSmartBuffer {
 public:
  // ASize bytes, contents not initialised. Raises like NXBufferAllocate.
  explicit TNXSmartMemoryBuffer(std::uint32_t ASize);
  ~TNXSmartMemoryBuffer() override;

  std::uint32_t GetSize() const noexcept override { return FMemorySize; }
  void* GetData() const noexcept override { return FMemory; }
  TNXSmartBuffer* Clone(bool APreserve) override;

 private:
  void* FMemory = nullptr;
  std::uint32_t FMemorySize = 0;
};

// Sample memory: 32-byte aligned, ASize bytes. Size 0 gives null without
// error; a size above 0x7FFFFFFF raises ERangeError; a failed allocation
// raises EOutOfMemory. Freed blocks are kept in size classes (each class a
// little larger than the sizes it serves, by at most a quarter) and handed out
// again, so a stream that makes and releases buffers of one size reaches a
// steady state without touching the heap or faulting pages. The cache is
// bounded per class (32 MiB) and in total (NXInternalStore::SetCacheLimit,
// 32 MiB unless the host sets another bound) and emptied at finalization.
// Each thread keeps a few blocks of up to 64 KiB in front of the shared lists
// (at most 256 KiB), counted in CachedBytes and against the bound.
void* NXBufferAllocate(std::uint64_t ASize);
// Releases memory from NXBufferAllocate; ASize must be the size it was
// allocated with. Null is ignored.
void NXBufferDeallocate(void* APointer, std::uint64_t ASize) noexcept;

namespace NXInternalStore {
// The default bound of the cache of freed blocks. A stream of buffers needs
// only the few blocks in flight per size (a thousand 1,024-sample real
// buffers are 8 MiB), so 32 MiB keeps every steady stream off the heap while
// a small process does not carry hundreds of MiB of idle blocks.
inline constexpr std::uint64_t kDefaultCacheLimit = std::uint64_t{32} << 20;
// Bytes currently kept in the cache of freed blocks.
std::uint64_t CachedBytes() noexcept;
// The most bytes the cache keeps, all size classes together; a block that
// does not fit goes back to the heap. 0 turns the cache off. A bound below
// what the cache now holds gives the excess back at once (largest blocks
// first). Any thread, any time.
void SetCacheLimit(std::uint64_t ABytes) noexcept;
std::uint64_t GetCacheLimit() noexcept;
// Gives every cached block back to the heap (the bound stays); a host may
// call it after a burst of large buffers or when it is told to save memory.
void ReleaseCache() noexcept;
// Start-up and finalization sections (finalization empties the cache; later
// frees go straight to the heap).
void UnitInitialize();
void UnitFinalize();
}  // namespace NXInternalStore

}  // namespace nx
