// The operation list (order, limits, no operation kept or lost) and the buffer queue.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "nxruntime.h"

namespace nx {
namespace {

std::atomic<int> gLiveOps{0};

// An operation that carries a number and counts the live ones.
class TNumbered : public TFTNotifyOperation {
  NX_FT_OPERATION(TNumbered, TFTNotifyOperation)
 public:
  explicit TNumbered(int ANumber) : Number(ANumber) { ++gLiveOps; }
  ~TNumbered() override { --gLiveOps; }
  const int Number;
};

TIntfPtr<IFTNotifyOperation> Op(int n) { return FTMakeOperation<TNumbered>(n); }

// Pops everything and returns the numbers in order.
std::vector<int> Drain(INXOperationList& AList) {
  std::vector<int> numbers;
  TIntfPtr<IFTNotifyOperation> op;
  while (AList.Pop(op)) numbers.push_back(op->As<TNumbered>()->Number);
  return numbers;
}

class OperationListTest : public ::testing::Test {
 protected:
  void TearDown() override {
    List = nullptr;
    EXPECT_EQ(gLiveOps.load(), 0);
  }
  TIntfPtr<INXOperationList> List = TNXOperationList::Make();
};

TEST_F(OperationListTest, PopOnEmptyPushBackPushLimitAndPushWithClear) {
  TIntfPtr<IFTNotifyOperation> op = Op(1);
  EXPECT_FALSE(List->Pop(op));
  EXPECT_FALSE(op);
  op = Op(2);
  List->Peek(op);
  EXPECT_FALSE(op);
  // PushBack goes ahead of everything queued.
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(List->Push(Op(i), false), i);
  EXPECT_EQ(List->PushBack(Op(4)), 4);
  TIntfPtr<IFTNotifyOperation> head;
  List->Peek(head);
  EXPECT_EQ(head->As<TNumbered>()->Number, 4);
  EXPECT_EQ(Drain(*List), (std::vector<int>{4, 1, 2, 3}));
  struct TCase { int Queued, Limit, Expected; };
  for (const TCase& c : {TCase{3, 3, 3}, TCase{2, 3, 3}, TCase{0, 0, 0}, TCase{5, 1, 5}}) {
    for (int i = 0; i < c.Queued; ++i) List->Push(Op(i), false);
    EXPECT_EQ(List->PushLimit(Op(99), c.Limit), c.Expected) << c.Queued << " / " << c.Limit;
    List->Clear();
  }
  for (int i = 0; i < 5; ++i) List->Push(Op(i), false);
  EXPECT_EQ(List->Push(Op(42), true), 1);
  EXPECT_EQ(Drain(*List), std::vector<int>{42});
  EXPECT_THROW(List->Push(nullptr, false), EAssertionFailed);
}

TEST_F(OperationListTest, KeepsOrderWhileTheRingWrapsAndGrows) {
  // Interleave pushes at both ends with pops so the head wraps, then grow.
  int next = 0;
  for (int round = 0; round < 40; ++round) {
    List->Push(Op(next++), false);
    List->Push(Op(next++), false);
    TIntfPtr<IFTNotifyOperation> op;
    ASSERT_TRUE(List->Pop(op));
  }
  List->PushBack(Op(-1));  // ahead of the 40 left, numbers 40 .. 79
  std::vector<int> expected{-1};
  for (int i = 40; i < 80; ++i) expected.push_back(i);
  EXPECT_EQ(Drain(*List), expected);
}

TEST_F(OperationListTest, OneProducerOneConsumerInOrder) {
  constexpr int kCount = 20000;
  std::thread producer([&] {
    for (int i = 0; i < kCount; ++i) List->Push(Op(i), false);
  });
  bool ordered = true;
  for (int expected = 0; expected < kCount;) {
    TIntfPtr<IFTNotifyOperation> op;
    if (!List->Pop(op)) std::this_thread::yield();
    else ordered = op->As<TNumbered>()->Number == expected++ && ordered;
  }
  producer.join();
  EXPECT_TRUE(ordered);
  EXPECT_EQ(List->ItemsCount(), 0);
}

using TRealQueue = TNXBufferQueue<TIntfPtr<INXRealBuffer>>;

TIntfPtr<INXRealBuffer> Ramp(double AStart, std::uint32_t ACount) {
  auto b = TNXRealBuffer::MakeSize(ACount);
  for (std::uint32_t i = 0; i < ACount; ++i) b->SetItem(static_cast<std::int32_t>(i), AStart + i);
  return b;
}

TEST(BufferQueueTest, CountsTakesAcrossBuffersAndKeepsOrderWhileTheRingWraps) {
  TRealQueue q;
  EXPECT_FALSE(q.GetFirstBuffer());
  q.Push(Ramp(0, 4));
  q.Push(Ramp(4, 3));
  q.Push(Ramp(7, 5));
  EXPECT_EQ(q.GetCount(), 12);
  std::vector<double> got;
  auto collect = [&](const TIntfPtr<INXRealBuffer>& b, std::int32_t offset, std::int32_t n) {
    for (std::int32_t i = 0; i < n; ++i) got.push_back(b->GetItem(offset + i));
  };
  EXPECT_EQ(q.Take(6, collect), 6);  // all of the first, two of the second
  EXPECT_EQ(got, (std::vector<double>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(q.GetCount(), 6);
  EXPECT_EQ(q.GetFirstBufferSize(), 1);
  TIntfPtr<INXRealBuffer> head;
  ASSERT_TRUE(q.Pop(head));  // the partly taken buffer comes out whole
  EXPECT_EQ(head->GetSize(), 3);
  EXPECT_EQ(q.GetCount(), 5);
  got.clear();
  EXPECT_EQ(q.Take(100, collect), 5);  // only what is there
  EXPECT_EQ(got, (std::vector<double>{7, 8, 9, 10, 11}));
  EXPECT_FALSE(q.Pop(head));
  EXPECT_FALSE(head);
  q.Push(Ramp(0, 8));
  q.Clear();
  EXPECT_EQ(q.GetBufferCount(), 0);
  // Queue more than is taken, then less: the ring grows and wraps at several sizes.
  got.clear();
  double next = 0;
  std::int64_t queued = 0;
  for (int round = 0; round < 40; ++round) {
    const bool filling = round < 20;
    for (int k = 0; k < (filling ? 3 : 1); ++k) {
      const auto n = static_cast<std::uint32_t>(1 + (round + k) % 5);
      q.Push(Ramp(next, n));
      next += n;
      queued += n;
    }
    queued -= q.Take(filling ? 4 : 9, collect);
    ASSERT_EQ(q.GetCount(), queued) << round;
  }
  q.Take(queued, collect);
  std::vector<double> expect(static_cast<std::size_t>(next));
  for (std::size_t i = 0; i < expect.size(); ++i) expect[i] = static_cast<double>(i);
  EXPECT_EQ(got, expect);
  EXPECT_EQ(q.GetBufferCount(), 0);
}

}  // namespace
}  // namespace nx
