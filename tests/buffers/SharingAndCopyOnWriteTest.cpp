// Sharing of data blocks between buffers, copy on write, ownership, the sequence stamp, access
// handles, notifications and the sample allocator.
#include <barrier>
#include <thread>

#include "BufferTestSupport.h"

namespace nx {
namespace {

using namespace nxtest;
using TBuffer = TIntfPtr<INXRealBuffer>;

constexpr TBufferAccessMode R = TBufferAccessMode::Read, W = TBufferAccessMode::Write;
const double* AsReals(const std::uint8_t* ABytes) { return reinterpret_cast<const double*>(ABytes); }

// Which accesses copy a shared block, and whether the copy keeps the contents.
TEST(SharingTest, AccessKindsOnASharedBlock) {
  using TAccess = const double* (*)(const TBuffer&);
  struct TCase {
    const char* Name;
    TAccess Access;
    bool Copies;
    bool KeepsContents;
  };
  const TCase cases[] = {
      {"Read", [](const TBuffer& b) { return b->Read(); }, false, true},
      {"ByteRead", [](const TBuffer& b) { return AsReals(b->ByteRead()); }, false, true},
      {"Data{Read}", [](const TBuffer& b) { return b->Data(R)->Data(); }, false, true},
      {"ByteData{Read}", [](const TBuffer& b) { return AsReals(b->ByteData(R)->ByteData()); }, false, true},
      {"Modify", [](const TBuffer& b) -> const double* { return b->Modify(); }, true, true},
      {"ByteModify", [](const TBuffer& b) { return AsReals(b->ByteModify()); }, true, true},
      {"Data{Read,Write}", [](const TBuffer& b) { return b->Data({R, W})->Data(); }, true, true},
      {"ByteData{Read,Write}", [](const TBuffer& b) { return AsReals(b->ByteData({R, W})->ByteData()); }, true, true},
      {"Write", [](const TBuffer& b) -> const double* { return b->Write(); }, true, false},
      {"ByteWrite", [](const TBuffer& b) { return AsReals(b->ByteWrite()); }, true, false},
      {"Data{Write}", [](const TBuffer& b) { return b->Data(W)->Data(); }, true, false},
      {"Data{Read,Write} writable", [](const TBuffer& b) -> const double* { return b->Data({R, W})->WritableData(); },
       true, true},
      {"ByteData{Write} writable", [](const TBuffer& b) { return AsReals(b->ByteData(W)->WritableByteData()); },
       true, false},
      {"ByteData{Write}", [](const TBuffer& b) { return AsReals(b->ByteData(W)->ByteData()); }, true, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TBuffer a = Ramp(1000, 1.0), other = CopyOf(a);
    const std::vector<double> original = Values(a);
    const int stores = Stores();
    const double* p = c.Access(a);
    EXPECT_EQ(std::tuple(p, p != other->Read(), Stores(), Values(other)),
              std::tuple(a->Read(), c.Copies, stores + (c.Copies ? 1 : 0), original));
    if (c.KeepsContents) { EXPECT_EQ(Values(a), original); }
    EXPECT_EQ(c.Access(a), p);  // a's block is its own now: another access stays in place
  }
}

TEST(SharingTest, AccessHandleRunsItsAccessorOnEveryCall) {
  TBuffer a = Ramp(4);
  auto handle = a->Data(W);  // made while a is unshared
  TBuffer other = CopyOf(a);
  double* p = handle->WritableData();  // now shared: this call copies
  EXPECT_NE(p, other->Read());
  auto byteHandle = a->ByteData(R);
  a = nullptr;  // the handles keep their buffer alive
  EXPECT_EQ(std::tuple(handle->GetSize(), byteHandle->GetByteSize(), handle->Data()), std::tuple(4, 32u, p));
}

// A handle opened for reading hands out const data only: its writable accessors refuse.
TEST(SharingTest, OnlyHandlesOpenedForWritingHandOutWritableData) {
  struct TCase {
    const char* Name;
    TBufferAccessModes Modes;
    bool Writable;
  };
  const TCase cases[] = {{"{Read}", R, false}, {"{}", {}, false}, {"{Write}", W, true}, {"{Read,Write}", {R, W}, true}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TBuffer a = Ramp(16), other = CopyOf(a);
    auto typed = a->Data(c.Modes);
    auto bytes = a->ByteData(c.Modes);
    auto ints = TNXIntegerBuffer::MakeSize(4)->Data(c.Modes);
    EXPECT_EQ(std::tuple(typed->IsWritable(), bytes->IsWritable()), std::tuple(c.Writable, c.Writable));
    if (c.Writable) {
      EXPECT_NE(typed->WritableData(), other->Read());
      EXPECT_NE(ints->WritableData(), nullptr);
    } else {
      EXPECT_THROW(typed->WritableData(), EInvalidOperation);
      EXPECT_THROW(bytes->WritableByteData(), EInvalidOperation);
      EXPECT_THROW(ints->WritableData(), EInvalidOperation);
      EXPECT_EQ(typed->Data(), other->Read());  // still the shared block
    }
  }
}

TEST(SharingTest, RemovedOwnershipLetsTheOtherHolderWriteInPlace) {
  TBuffer a = Ramp(8), b = CopyOf(a);
  auto* objB = static_cast<TNXGenericBuffer*>(b->GetInstance());
  const auto counts = [&] { return std::tuple(BlockOf(b)->OwnerCount(), BlockOf(b)->ReferenceCount()); };
  EXPECT_EQ(counts(), std::tuple(2, 2));
  objB->RemoveOwnerShip();
  objB->RemoveOwnerShip();  // a second call changes nothing
  EXPECT_EQ(std::tuple(objB->OwnsData(), counts()), std::tuple(false, std::tuple(1, 2)));
  const int stores = Stores();
  a->SetItem(2, 99.0);
  EXPECT_EQ(std::tuple(Stores(), a->Read(), b->GetItem(2)), std::tuple(stores, b->Read(), 99.0));
  // Releasing the non-owner first, then the owner, frees the block.
  b = nullptr;
  a = nullptr;
  EXPECT_EQ(Stores(), stores - 1);
}

TEST(SharingTest, AssignSharesTheBlockCustomItemsAndStamp) {
  TBuffer a = Ramp(10);
  a->AddCustom(TNXRealBuffer::MakeValue(7.0, 2));
  auto* objA = static_cast<TNXGenericBuffer*>(a->GetInstance());
  objA->SetBufferNumber(1234);
  objA->SetBufferNumberAvailable(true);

  TBuffer b = Ramp(3, 50.0);
  const int stores = Stores();
  b->Assign(a);
  EXPECT_EQ(std::tuple(Stores(), b->Read(), b->GetSize(), b->GetSequenceStamp()->GetBufferNumber(),
                       b->GetSequenceStamp()->GetAvailable()),
            std::tuple(stores - 1, a->Read(), 10, std::uint64_t{1234}, true));  // b's old block is released
  ASSERT_EQ(b->GetCustomCount(), 1);
  auto custom = Supports<INXRealBuffer>(b->GetCustom(0));
  ASSERT_TRUE(custom);
  EXPECT_FALSE(SameObject(custom, Supports<INXRealBuffer>(a->GetCustom(0)))) << "items are copies";
  EXPECT_EQ(custom->Read(), Supports<INXRealBuffer>(a->GetCustom(0))->Read()) << "that share their data";
  // Assigning again from a buffer on the same block, or from itself, changes nothing.
  b->Assign(CopyOf(a));
  b->Assign(b);
  EXPECT_EQ(b->Read(), a->Read());
  // b counts as an owner: a write by a copies.
  a->SetItem(0, -5.0);
  EXPECT_EQ(b->GetItem(0), 0.0);
  EXPECT_THROW(b->Assign(nullptr), EArgumentException);
}

TEST(SharingTest, StampLivesInTheBlockAndACopyStartsUnset) {
  TBuffer a = Ramp(4), b = CopyOf(a);
  auto stampA = a->GetSequenceStamp();
  stampA->SetBufferNumber(77);
  stampA->SetAvailable(true);
  auto stampB = b->GetSequenceStamp();
  const auto of = [](const auto& s) { return std::tuple(s->GetBufferNumber(), s->GetAvailable()); };
  EXPECT_EQ(of(stampB), std::tuple(std::uint64_t{77}, true));
  b->SetItem(0, 1.0);  // b gets its own block: its stamp is unset
  EXPECT_EQ(std::tuple(of(stampB), stampA->GetBufferNumber()), std::tuple(std::tuple(std::uint64_t{0}, false), 77u));
  a->Resize(100, true);  // a reallocating resize also starts with an unset stamp
  EXPECT_FALSE(stampA->GetAvailable());
  // A stamp handed out keeps its buffer alive.
  const int buffers = _NXCountPasBuffers.load();
  a = nullptr;
  EXPECT_TRUE(Supports<INXSequenceStamp>(static_cast<IInterface*>(stampA.Get())));
  stampA = nullptr;
  EXPECT_EQ(_NXCountPasBuffers.load(), buffers - 1);
}

void PushTwo(void* AObject) { static_cast<std::vector<int>*>(AObject)->push_back(2); }

// Subscribers (a closure, a plain function) hear of a new block or a new size, not of writes in place.
TEST(SharingTest, NotificationsFireWhenTheBlockOrItsSizeChanges) {
  TBuffer a = Ramp(4);
  auto* obj = static_cast<TNXGenericBuffer*>(a->GetInstance());
  TIntfPtr<INXGenericBuffer> generic(a);
  std::vector<int> calls;
  const auto h1 = obj->Notifications().Add([&] { calls.push_back(1); });
  TNXNotifyList::THandle h2 = 0;
  RGSubscribeBufferNodify(generic, &calls, &PushTwo, h2);

  a->SetItem(0, 3.0);  // unshared: no new block, no notification
  EXPECT_TRUE(calls.empty());
  {
    TBuffer other = CopyOf(a);
    a->SetItem(0, 4.0);  // copies once
  }
  a->SetItem(1, 4.0);
  EXPECT_EQ(calls, (std::vector<int>{1, 2}));
  a->Resize(2, true);  // the same block, a new size
  EXPECT_EQ(calls, (std::vector<int>{1, 2, 1, 2}));

  obj->Notifications().Remove(h1);
  a->Resize(1000, true);
  EXPECT_EQ(calls, (std::vector<int>{1, 2, 1, 2, 2}));
  RGUnSubscribeBufferNodify(generic, h2);
  a->Resize(8, false);
  EXPECT_EQ(calls.size(), 5u);
  RGUnSubscribeBufferNodify(generic, h2);  // unknown by now: ignored
  EXPECT_EQ(obj->Notifications().Count(), 0u);
  EXPECT_THROW(RGSubscribeBufferNodify(generic, &calls, nullptr, h2), EArgumentException);
}

// A lone owner has nothing to copy; of two owners the first copies and the second is then alone.
TEST(SharingTest, MakeUniqueCopiesOnlyWhileTheBlockIsShared) {
  EXPECT_FALSE(Ramp(8)->MakeUnique(true));
  TBuffer a = Ramp(16), b = CopyOf(a);
  const double* shared = a->Read();
  EXPECT_TRUE(a->MakeUnique(true));
  EXPECT_FALSE(b->MakeUnique(true));
  EXPECT_EQ(b->Read(), shared);
}

// A block class without a clone of its own cannot be copied on write.
class TFixedBlock : public TNXSmartBuffer {
 public:
  std::uint32_t GetSize() const noexcept override { return sizeof(FBytes); }
  void* GetData() const noexcept override { return const_cast<std::uint8_t*>(FBytes); }

 private:
  alignas(32) std::uint8_t FBytes[64] = {};
};

TEST(SharingTest, CloneOfABlockWithoutItsOwnCloneFails) {
  TIntfPtr<INXDataBuffer> a(new TNXGenericBuffer(nullptr, 64, new TFixedBlock));
  EXPECT_NO_THROW(a->ByteModify()[0] = 1);  // a lone owner writes in place without cloning
  TIntfPtr<INXData> b = a->GetDataCopy();
  const std::string message = MessageOf<EAssertionFailed>([&] { a->ByteModify(); });
  EXPECT_NE(message.find("Cloning is not implemented for "), std::string::npos) << message;
  EXPECT_NE(message.find("TFixedBlock"), std::string::npos) << message;
}

TEST(AllocatorTest, SizesAlignmentAndErrors) {
  EXPECT_EQ(NXBufferAllocate(0), nullptr);
  EXPECT_THROW(NXBufferAllocate(0x80000000ull), ERangeError);
  for (std::uint64_t size : {1ull, 33ull, 4096ull, 8193ull, 3000000ull}) {
    auto* p = static_cast<std::uint8_t*>(NXBufferAllocate(size));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 64, 0u) << size;  // on a cache line
    std::memset(p, 0xA5, size);  // the whole size is usable
    NXBufferDeallocate(p, size);
    _ippFree(NXBufferAllocate(size));  // the ordinary aligned-block free releases it as well
  }
  NXBufferDeallocate(nullptr, 10);
}

// Blocks beyond the cache's bound go to the heap, a lower bound gives the excess back, 0 keeps nothing.
TEST(AllocatorTest, CacheLimitBoundsWhatIsKeptAndTheCacheCanBeReleased) {
  const std::uint64_t limit = NXInternalStore::GetCacheLimit();
  NXInternalStore::ReleaseCache();
  NXInternalStore::SetCacheLimit(2 * 8192);
  void* p[3] = {NXBufferAllocate(8192), NXBufferAllocate(8192), NXBufferAllocate(8192)};
  for (void* q : p) NXBufferDeallocate(q, 8192);
  EXPECT_EQ(NXInternalStore::CachedBytes(), 2u * 8192u);  // the third went back to the heap
  NXInternalStore::SetCacheLimit(8192);
  EXPECT_LE(NXInternalStore::CachedBytes(), 8192u);
  NXInternalStore::SetCacheLimit(0);
  EXPECT_EQ(NXInternalStore::CachedBytes(), 0u);
  NXBufferDeallocate(NXBufferAllocate(64), 64);
  EXPECT_EQ(NXInternalStore::CachedBytes(), 0u);
  NXInternalStore::SetCacheLimit(limit);
  void* kept = NXBufferAllocate(8192);
  NXBufferDeallocate(kept, 8192);
  EXPECT_EQ(NXInternalStore::CachedBytes(), 8192u);
  EXPECT_EQ(NXBufferAllocate(8000), kept);  // a smaller size of the same class takes the cached block
  NXBufferDeallocate(kept, 8000);
  NXInternalStore::ReleaseCache();
  EXPECT_EQ(std::tuple(NXInternalStore::CachedBytes(), NXInternalStore::GetCacheLimit()), std::tuple(0u, limit));
}

// Blocks a thread keeps count in CachedBytes, the host can release or bound them, and they outlive the thread.
TEST(AllocatorTest, BlocksKeptByAnotherThreadAreCountedReleasedAndHandedOn) {
  const std::uint64_t limit = NXInternalStore::GetCacheLimit();
  NXInternalStore::ReleaseCache();
  std::barrier step(2);
  const auto allocFree = [] {
    void* p[3] = {NXBufferAllocate(8192), NXBufferAllocate(8192), NXBufferAllocate(4096)};
    NXBufferDeallocate(p[0], 8192);
    NXBufferDeallocate(p[1], 8192);
    NXBufferDeallocate(p[2], 4096);
  };
  std::thread other([&] {
    allocFree();
    step.arrive_and_wait();  // 1: kept by this thread
    step.arrive_and_wait();  // 2: released by the host
    allocFree();
    step.arrive_and_wait();  // 3: kept again
    step.arrive_and_wait();  // 4: bounded by the host; the thread ends
  });
  step.arrive_and_wait();
  EXPECT_EQ(NXInternalStore::CachedBytes(), 2u * 8192u + 4096u);
  NXInternalStore::ReleaseCache();
  EXPECT_EQ(NXInternalStore::CachedBytes(), 0u);
  step.arrive_and_wait();
  step.arrive_and_wait();
  NXInternalStore::SetCacheLimit(2 * 8192);  // one of the larger blocks goes
  EXPECT_EQ(NXInternalStore::CachedBytes(), 8192u + 4096u);
  NXInternalStore::SetCacheLimit(limit);
  step.arrive_and_wait();
  other.join();
  EXPECT_EQ(NXInternalStore::CachedBytes(), 8192u + 4096u);  // handed to the shared lists, not to the heap
  void* p = NXBufferAllocate(8192);  // this thread takes the larger one
  EXPECT_EQ(NXInternalStore::CachedBytes(), 4096u);
  NXBufferDeallocate(p, 8192);
  NXInternalStore::ReleaseCache();
  EXPECT_EQ(NXInternalStore::CachedBytes(), 0u);
}

}  // namespace
}  // namespace nx
