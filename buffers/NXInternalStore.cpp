// NXInternalStore: the data block, its counts and the sample allocator with
// its cache of freed blocks.
#include "buffers/NXInternalStore.h"
#include "runtime/NXPackage.h"

#include <cxxabi.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <new>
#include <mutex>
#include <string>
#include <thread>
#include <typeinfo>

#include "runtime/SysUtils.h"
#include "vector/NXBasicDispatcher.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define NX_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define NX_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define NX_POISON(p, n) ((void)(p), (void)(n))
#define NX_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace nx {

// ---------------------------------------------------------------- live-object counters
namespace {

constexpr int kCounterCount = 2;  // 0: buffers, 1: blocks

// One thread's share of the counters, on a cache line of its own. Only the
// owning thread writes it (load + store, no locked instruction); readers sum
// all slots. Slots are never freed: a slot returned by an ending thread keeps
// its value and goes to the next thread that needs one.
struct alignas(64) TCounterSlot {
  std::atomic<std::int64_t> Value[kCounterCount] = {};
  TCounterSlot* NextAll = nullptr;
  TCounterSlot* NextFree = nullptr;
};

std::atomic<TCounterSlot*> gAllSlots{nullptr};  // push-only list, read without a lock
TCounterSlot* gFreeSlots = nullptr;               // guarded by gSlotLock
std::mutex gSlotLock;
// Changes made by a thread after its slot went back (late destructors at
// thread or process exit) go here, with locked adds.
std::atomic<std::int64_t> gLateCounts[kCounterCount] = {};

TCounterSlot* const kSlotClosed = reinterpret_cast<TCounterSlot*>(std::uintptr_t{1});
// Initial-exec: the hot path reads the slot with one thread-pointer-relative load.
__thread TCounterSlot* tSlot __attribute__((tls_model("initial-exec"))) = nullptr;

// Hands the slot back when the thread ends.
struct TSlotReturner {
  bool Armed = false;
  ~TSlotReturner() {
    TCounterSlot* s = tSlot;
    tSlot = kSlotClosed;
    if (!Armed || !s || s == kSlotClosed) return;
    std::lock_guard<std::mutex> guard(gSlotLock);
    s->NextFree = gFreeSlots;
    gFreeSlots = s;
  }
};
thread_local TSlotReturner tReturner;

TCounterSlot* AcquireSlot() {
  TCounterSlot* s;
  {
    std::lock_guard<std::mutex> guard(gSlotLock);
    s = gFreeSlots;
    if (s) {
      gFreeSlots = s->NextFree;
    } else {
      s = new TCounterSlot;
      s->NextAll = gAllSlots.load(std::memory_order_relaxed);
      gAllSlots.store(s, std::memory_order_release);
    }
  }
  tReturner.Armed = true;  // registers the thread-exit hand-back
  tSlot = s;
  return s;
}

}  // namespace

void TNXLiveCounter::Add(std::int64_t ADelta) noexcept {
  TCounterSlot* s = tSlot;
  if (__builtin_expect(s == nullptr, 0)) s = AcquireSlot();
  if (__builtin_expect(s == kSlotClosed, 0)) {
    gLateCounts[FIndex].fetch_add(ADelta, std::memory_order_relaxed);
    return;
  }
  std::atomic<std::int64_t>& v = s->Value[FIndex];
  v.store(v.load(std::memory_order_relaxed) + ADelta, std::memory_order_relaxed);
}

std::int32_t TNXLiveCounter::load() const noexcept {
  // Take the slot lock so that a slot changing hands is not read half-way;
  // reading is rare (tests, leak checks) and never on a data path.
  std::lock_guard<std::mutex> guard(gSlotLock);
  std::int64_t sum = gLateCounts[FIndex].load(std::memory_order_relaxed);
  for (TCounterSlot* s = gAllSlots.load(std::memory_order_acquire); s; s = s->NextAll)
    sum += s->Value[FIndex].load(std::memory_order_relaxed);
  return static_cast<std::int32_t>(sum);
}

constinit TNXLiveCounter _NXCountPasBuffers{0};
constinit TNXLiveCounter _NXCountStores{1};

// ---------------------------------------------------------------- sample allocator
namespace {

// Size classes: 32 and 64 bytes, then four classes per power of two
// (2^p + k * 2^(p-2), k = 1..4), so a block is at most a quarter larger than
// the size it serves. Classes above kMaxCachedClass are not cached (and are
// allocated at their exact size): such blocks are rare, and large enough that
// the heap's own mapping cost is small beside their use.
constexpr int kClassCount = 2 + 25 * 4;
constexpr std::uint64_t kMaxCachedClass = std::uint64_t{64} << 20;   // 64 MiB
constexpr std::uint64_t kPerClassBytes = std::uint64_t{32} << 20;    // kept per class

// The bound of the whole cache (NXInternalStore::SetCacheLimit).
std::atomic<std::uint64_t> gCacheLimit{NXInternalStore::kDefaultCacheLimit};

struct TSizeClass {
  std::mutex Lock;
  void* Head = nullptr;  // freed blocks, linked through their first word
  std::uint32_t Count = 0;
};

// Constant-initialised: usable before and after the library's static
// initialisers (the allocator may run from any unit's start-up section).
TSizeClass gClasses[kClassCount];
std::atomic<std::uint64_t> gCachedBytes{0};
std::atomic<bool> gCacheClosed{false};

// The class of a size (> 0): its index and its block size.
inline int ClassOf(std::uint64_t size, std::uint64_t& classBytes) {
  if (size <= 64) {
    classBytes = size <= 32 ? 32 : 64;
    return size <= 32 ? 0 : 1;
  }
  const int p = std::bit_width(size - 1) - 1;  // 2^p < size <= 2^(p+1), p >= 6
  const std::uint64_t base = std::uint64_t{1} << p;
  const std::uint64_t step = base >> 2;
  const std::uint64_t k = (size - base + step - 1) / step;  // 1..4
  classBytes = base + k * step;
  return 2 + (p - 6) * 4 + static_cast<int>(k - 1);
}

inline bool Cacheable(std::uint64_t classBytes) {
  return classBytes <= kMaxCachedClass;
}

inline std::uint32_t ClassLimit(std::uint64_t classBytes) {
  const std::uint64_t n = kPerClassBytes / classBytes;
  return n < 1 ? 1u : static_cast<std::uint32_t>(n);
}

constexpr std::uint64_t ClassBytesOf(int idx) {
  if (idx < 2) return idx == 0 ? 32 : 64;
  const int p = 6 + (idx - 2) / 4;
  const std::uint64_t k = static_cast<std::uint64_t>((idx - 2) % 4 + 1);
  return (std::uint64_t{1} << p) + k * (std::uint64_t{1} << (p - 2));
}

void DrainClass(TSizeClass& c, std::uint64_t classBytes) noexcept {
  void* head;
  std::uint32_t count;
  {
    std::lock_guard<std::mutex> guard(c.Lock);
    head = c.Head;
    count = c.Count;
    c.Head = nullptr;
    c.Count = 0;
  }
  gCachedBytes.fetch_sub(count * classBytes, std::memory_order_relaxed);
  while (head) {
    NX_UNPOISON(head, classBytes);
    void* next = *static_cast<void**>(head);
    _ippFree(head);
    head = next;
  }
}

// ---- each thread's own front of the cache
//
// A thread keeps a few freed blocks of the smaller classes for itself, so
// that making and releasing buffers touches no line that other threads write:
// on few cores the shared lists' locks and byte count were a good part of a
// threaded chain's time, and a filter worker frees about as many blocks as it
// makes. Blocks move to and from the shared lists half a bin at a time. What
// a thread keeps counts in CachedBytes and against the bound (with several
// threads the total can pass the bound by the blocks in flight between the
// threads' checks); the host's ReleaseCache and SetCacheLimit reach every
// thread's blocks, and a thread's blocks go to the shared lists when it ends.
constexpr std::uint64_t kThreadClassMax = std::uint64_t{64} << 10;     // the classes kept per thread
constexpr std::uint64_t kThreadCacheBytes = std::uint64_t{256} << 10;  // per thread, all classes
constexpr std::uint64_t kBinBytes = std::uint64_t{64} << 10;           // about what one bin holds
constexpr int kThreadClasses = 2 + 10 * 4;                              // the classes up to kThreadClassMax
static_assert(ClassBytesOf(kThreadClasses - 1) == kThreadClassMax);

// Blocks of a class one thread keeps (half of it moves at a time).
constexpr std::uint32_t BinLimit(std::uint64_t classBytes) {
  const std::uint64_t n = kBinBytes / classBytes;
  return n < 2 ? 2u : n > 32 ? 32u : static_cast<std::uint32_t>(n);
}

struct TThreadCache {
  std::atomic<bool> Busy{false};        // held by the owner, or by a host draining it
  std::atomic<std::uint64_t> Bytes{0};  // written under Busy, read by anyone
  void* Head[kThreadClasses] = {};
  std::uint32_t Count[kThreadClasses] = {};
  TThreadCache* Prev = nullptr;  // the registry, under gRegistryLock
  TThreadCache* Next = nullptr;

  void Enter() noexcept {
    while (Busy.exchange(true, std::memory_order_acquire)) std::this_thread::yield();
  }
  void Leave() noexcept { Busy.store(false, std::memory_order_release); }
  // The block comes out unpoisoned.
  void* Pop(int idx, std::uint64_t classBytes) noexcept {
    void* p = Head[idx];
    NX_UNPOISON(p, classBytes);
    Head[idx] = *static_cast<void**>(p);
    --Count[idx];
    Bytes.store(Bytes.load(std::memory_order_relaxed) - classBytes, std::memory_order_relaxed);
    return p;
  }
  void Push(int idx, std::uint64_t classBytes, void* p) noexcept {
    NX_UNPOISON(p, sizeof(void*));
    *static_cast<void**>(p) = Head[idx];
    NX_POISON(p, classBytes);
    Head[idx] = p;
    ++Count[idx];
    Bytes.store(Bytes.load(std::memory_order_relaxed) + classBytes, std::memory_order_relaxed);
  }
  // Up to ACount blocks of the bin, unpoisoned and linked through their first word.
  void* PopChain(int idx, std::uint64_t classBytes, std::uint32_t ACount) noexcept {
    void* chain = nullptr;
    for (; ACount > 0 && Head[idx]; --ACount) {
      void* p = Pop(idx, classBytes);
      *static_cast<void**>(p) = chain;
      chain = p;
    }
    return chain;
  }
};

std::mutex gRegistryLock;
TThreadCache* gThreadCaches = nullptr;  // under gRegistryLock
TThreadCache* const kCacheGone = reinterpret_cast<TThreadCache*>(std::uintptr_t{1});
__thread TThreadCache* tCache __attribute__((tls_model("initial-exec"))) = nullptr;

// ---- the shared lists, a chain of blocks at a time (one lock per chain)

// Takes up to AMax blocks of class idx off its shared list: unpoisoned and
// linked through their first word, or null when the list is empty.
void* TakeShared(int idx, std::uint32_t AMax) noexcept {
  const std::uint64_t classBytes = ClassBytesOf(idx);
  TSizeClass& c = gClasses[idx];
  void* chain;
  std::uint32_t n = 0;
  {
    std::lock_guard<std::mutex> guard(c.Lock);
    chain = c.Head;
    void* last = nullptr;
    for (void* p = c.Head; p && n < AMax; ++n) {
      NX_UNPOISON(p, classBytes);
      last = p;
      p = *static_cast<void**>(p);
    }
    if (last) {
      c.Head = *static_cast<void**>(last);
      *static_cast<void**>(last) = nullptr;
      c.Count -= n;
    }
  }
  if (n == 0) return nullptr;
  gCachedBytes.fetch_sub(n * classBytes, std::memory_order_relaxed);
  return chain;
}

// Keeps a chain of unpoisoned blocks of class idx (linked through their first
// word) on its shared list, as far as the class and the whole cache have room
// (AOwn: bytes the calling thread keeps, which count too); the rest go to
// the heap.
void KeepShared(int idx, void* AChain, std::uint64_t AOwn) noexcept {
  const std::uint64_t classBytes = ClassBytesOf(idx);
  TSizeClass& c = gClasses[idx];
  void* toHeap = nullptr;
  std::uint64_t kept = 0;
  {
    std::lock_guard<std::mutex> guard(c.Lock);
    while (AChain) {
      void* p = AChain;
      AChain = *static_cast<void**>(p);
      const bool fits = !gCacheClosed.load(std::memory_order_acquire) && c.Count < ClassLimit(classBytes) &&
                        gCachedBytes.load(std::memory_order_relaxed) + kept + classBytes + AOwn <=
                            gCacheLimit.load(std::memory_order_relaxed);
      *static_cast<void**>(p) = fits ? c.Head : toHeap;
      if (fits) {
        NX_POISON(p, classBytes);
        c.Head = p;
        ++c.Count;
        kept += classBytes;
      } else {
        toHeap = p;
      }
    }
  }
  if (kept) gCachedBytes.fetch_add(kept, std::memory_order_relaxed);
  while (toHeap) {
    void* next = *static_cast<void**>(toHeap);
    _ippFree(toHeap);
    toHeap = next;
  }
}

// Ends the thread's front when the thread ends: its blocks go to the shared
// lists, and later frees on the thread (other thread-exit destructors) use
// the shared lists.
struct TThreadCacheCloser {
  bool Armed = false;
  ~TThreadCacheCloser() {
    TThreadCache* tc = tCache;
    if (!Armed || !tc || tc == kCacheGone) return;
    tCache = kCacheGone;
    {
      std::lock_guard<std::mutex> guard(gRegistryLock);
      if (tc->Prev) tc->Prev->Next = tc->Next; else gThreadCaches = tc->Next;
      if (tc->Next) tc->Next->Prev = tc->Prev;
    }
    tc->Enter();
    for (int i = 0; i < kThreadClasses; ++i) {
      void* chain = tc->PopChain(i, ClassBytesOf(i), tc->Count[i]);
      KeepShared(i, chain, tc->Bytes.load(std::memory_order_relaxed));
    }
    tc->Leave();
    delete tc;
  }
};
thread_local TThreadCacheCloser tCacheCloser;

TThreadCache* ThreadCache() noexcept {
  TThreadCache* tc = tCache;
  if (__builtin_expect(tc != nullptr, 1)) return tc == kCacheGone ? nullptr : tc;
  tc = new (std::nothrow) TThreadCache;
  if (!tc) return nullptr;
  {
    std::lock_guard<std::mutex> guard(gRegistryLock);
    tc->Next = gThreadCaches;
    if (gThreadCaches) gThreadCaches->Prev = tc;
    gThreadCaches = tc;
  }
  tCacheCloser.Armed = true;  // registers the thread-exit hand-back
  tCache = tc;
  return tc;
}

// What the live threads keep. Under gRegistryLock.
std::uint64_t ThreadBytesLocked() noexcept {
  std::uint64_t sum = 0;
  for (TThreadCache* tc = gThreadCaches; tc; tc = tc->Next) sum += tc->Bytes.load(std::memory_order_relaxed);
  return sum;
}

std::uint64_t ThreadCachedBytes() noexcept {
  std::lock_guard<std::mutex> guard(gRegistryLock);
  return ThreadBytesLocked();
}

// Gives the threads' blocks back to the heap, each thread's largest classes
// first, until the whole cache holds at most ABound bytes (0: every block,
// also those the threads add meanwhile).
void DrainThreads(std::uint64_t ABound) noexcept {
  std::lock_guard<std::mutex> guard(gRegistryLock);
  std::uint64_t total = gCachedBytes.load(std::memory_order_relaxed) + ThreadBytesLocked();
  for (TThreadCache* tc = gThreadCaches; tc && (ABound == 0 || total > ABound); tc = tc->Next) {
    tc->Enter();
    for (int i = kThreadClasses - 1; i >= 0; --i) {
      const std::uint64_t classBytes = ClassBytesOf(i);
      for (; tc->Head[i] && (ABound == 0 || total > ABound); total -= std::min(total, classBytes))
        _ippFree(tc->Pop(i, classBytes));
    }
    tc->Leave();
  }
}

void DrainAll() noexcept {
  DrainThreads(0);
  for (int i = 0; i < kClassCount; ++i) DrainClass(gClasses[i], ClassBytesOf(i));
}

// Empties the cache at process exit when the package's finalization has not
// already done so, so that leak checkers see no cached blocks.
struct TCacheCloser {
  ~TCacheCloser() {
    gCacheClosed.store(true, std::memory_order_release);
    DrainAll();
  }
} gCacheCloser;

}  // namespace

void* NXBufferAllocate(std::uint64_t ASize) {
  if (ASize == 0) return nullptr;
  if (ASize > 0x7FFFFFFFu) throw ERangeError(Format("Buffer size out of range = %llu", static_cast<unsigned long long>(ASize)));
  std::uint64_t classBytes = 0;
  const int idx = ClassOf(ASize, classBytes);
  void* p = nullptr;
  if (TThreadCache* tc = idx < kThreadClasses ? ThreadCache() : nullptr) {
    tc->Enter();
    if (!tc->Head[idx]) {  // refill half a bin from the shared list
      for (void* q = TakeShared(idx, BinLimit(classBytes) / 2); q;) {
        void* next = *static_cast<void**>(q);
        tc->Push(idx, classBytes, q);
        q = next;
      }
    }
    if (tc->Head[idx]) p = tc->Pop(idx, classBytes);
    tc->Leave();
  } else if (Cacheable(classBytes)) {  // the larger classes, or a thread that has ended
    p = TakeShared(idx, 1);
  }
  if (p) {
    // Under AddressSanitizer the slack of the class beyond the size asked
    // for stays poisoned, so an overrun of the buffer is still reported.
    NX_POISON(static_cast<std::uint8_t*>(p) + ASize, classBytes - ASize);
    return p;
  }
  // Cacheable sizes are allocated at their class size so that the block can
  // serve any size of its class later.
  const bool cacheable = Cacheable(classBytes);
  // Blocks start on a cache line (see NXMallocLineAligned): the samples are
  // read with full-width vector loads.
  p = NXMallocLineAligned(cacheable ? classBytes : ASize);
  if (!p) throw EOutOfMemory();
  if (cacheable) NX_POISON(static_cast<std::uint8_t*>(p) + ASize, classBytes - ASize);
  return p;
}

void NXBufferDeallocate(void* APointer, std::uint64_t ASize) noexcept {
  if (!APointer) return;
  std::uint64_t classBytes = 0;
  const int idx = ASize == 0 ? -1 : ClassOf(ASize, classBytes);
  if (idx < 0 || !Cacheable(classBytes) || gCacheClosed.load(std::memory_order_acquire)) {
    if (idx >= 0 && Cacheable(classBytes)) NX_UNPOISON(APointer, classBytes);
    _ippFree(APointer);
    return;
  }
  std::uint64_t own = 0;  // what this thread keeps, which counts against the bound
  if (TThreadCache* tc = idx < kThreadClasses ? ThreadCache() : nullptr) {
    tc->Enter();
    const std::uint32_t limit = BinLimit(classBytes);
    if (tc->Count[idx] >= limit) {  // half the bin goes to the shared list
      void* chain = tc->PopChain(idx, classBytes, limit / 2);
      KeepShared(idx, chain, tc->Bytes.load(std::memory_order_relaxed));
    }
    own = tc->Bytes.load(std::memory_order_relaxed);
    const bool kept = own + classBytes <= kThreadCacheBytes &&
                      gCachedBytes.load(std::memory_order_relaxed) + own + classBytes <=
                          gCacheLimit.load(std::memory_order_relaxed);
    if (kept) tc->Push(idx, classBytes, APointer);
    tc->Leave();
    if (kept) return;
  }
  NX_UNPOISON(APointer, classBytes);
  *static_cast<void**>(APointer) = nullptr;
  KeepShared(idx, APointer, own);
}

namespace NXInternalStore {
std::uint64_t CachedBytes() noexcept { return gCachedBytes.load(std::memory_order_relaxed) + ThreadCachedBytes(); }
void ReleaseCache() noexcept { DrainAll(); }
std::uint64_t GetCacheLimit() noexcept { return gCacheLimit.load(std::memory_order_relaxed); }
void SetCacheLimit(std::uint64_t ABytes) noexcept {
  gCacheLimit.store(ABytes, std::memory_order_relaxed);
  // Give back the largest classes first until the cache fits the new bound.
  for (int i = kClassCount - 1; i >= 0 && CachedBytes() > ABytes; --i) DrainClass(gClasses[i], ClassBytesOf(i));
  if (CachedBytes() > ABytes) DrainThreads(ABytes);
}
void UnitInitialize() { gCacheClosed.store(false, std::memory_order_release); }
void UnitFinalize() {
  gCacheClosed.store(true, std::memory_order_release);
  DrainAll();
}
}  // namespace NXInternalStore

// ---------------------------------------------------------------- TNXSmartBuffer

TNXSmartBuffer::TNXSmartBuffer() noexcept { _NXCountStores.Increment(); }

TNXSmartBuffer::~TNXSmartBuffer() {
  ReleaseProxies();  // a block deleted other than by its last RemoveReff
  _NXCountStores.Decrement();
}

void TNXSmartBuffer::AddReff(bool AOwnsData) noexcept {
  // Relaxed is enough: a new reference is only ever made from one the caller
  // already holds.
  FCounts.fetch_add(AOwnsData ? kOwnerOne + kRefOne : kRefOne, std::memory_order_relaxed);
}

void TNXSmartBuffer::RemoveReff(bool AOwnsData) noexcept {
  std::uint64_t old = FCounts.load(std::memory_order_relaxed);
  std::uint64_t next;
  do {
    next = old;
    if (AOwnsData && (next >> 32) > 0) next -= kOwnerOne;
    if ((next & 0xFFFFFFFFu) > 0) next -= kRefOne;
    // Release: this holder's use of the samples happens before an owner that
    // now finds itself alone writes in place, and before the block is freed.
  } while (!FCounts.compare_exchange_weak(old, next, std::memory_order_acq_rel, std::memory_order_relaxed));
  if ((old & 0xFFFFFFFFu) > 0 && (next & 0xFFFFFFFFu) == 0) {
    ReleaseProxies();  // while the samples still exist: a proxy may be copying them
    delete this;
  }
}

void TNXSmartBuffer::RemoveOwnerShip() noexcept {
  std::uint64_t old = FCounts.load(std::memory_order_relaxed);
  while ((old >> 32) > 0 &&
         !FCounts.compare_exchange_weak(old, old - kOwnerOne, std::memory_order_acq_rel, std::memory_order_relaxed)) {
  }
}

TNXSmartBuffer* TNXSmartBuffer::Clone(bool /*APreserve*/) {
  int status = 0;
  char* name = abi::__cxa_demangle(typeid(*this).name(), nullptr, nullptr, &status);
  const std::string message =
      std::string("Cloning is not implemented for ") + (status == 0 && name ? name : typeid(*this).name());
  std::free(name);
  RaiseAssertion(message.c_str(), "NXInternalStore", 589);
}

// ---------------------------------------------------------------- TNXSmartMemoryBuffer

TNXSmartMemoryBuffer::TNXSmartMemoryBuffer(std::uint32_t ASize) {
  FMemory = NXBufferAllocate(ASize);  // a throw here runs ~TNXSmartBuffer
  FMemorySize = ASize;
}

TNXSmartMemoryBuffer::~TNXSmartMemoryBuffer() { NXBufferDeallocate(FMemory, FMemorySize); }

TNXSmartBuffer* TNXSmartMemoryBuffer::Clone(bool APreserve) {
  auto* block = new TNXSmartMemoryBuffer(FMemorySize);
  if (APreserve && FMemorySize > 0)
    ippsCopy_8u(static_cast<const Ipp8u*>(FMemory), static_cast<Ipp8u*>(block->FMemory),
                static_cast<int>(FMemorySize));
  return block;
}

}  // namespace nx

NX_PACKAGE_UNIT(NXInternalStore, &nx::NXInternalStore::UnitInitialize, &nx::NXInternalStore::UnitFinalize)
