// The signed and unsigned 32-bit integer buffers: construction and sharing,
// every operation against expectations computed here element by element, the
// access kind of each on a shared block, and the out-of-place DivideValue.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <vector>

#include "BufferTestSupport.h"

namespace nx {
namespace {

using namespace nxtest;
using TInt = TIntfPtr<INXIntegerBuffer>;
using TUns = TIntfPtr<INXUnsignedBuffer>;
using TIVec = std::vector<std::int32_t>;
using TUVec = std::vector<std::uint32_t>;


TEST(IntegerBuffersTest, ConstructionAndSharing) {
  const std::int32_t raw[3] = {-1, 2, 2147483647};
  EXPECT_EQ(Values(TNXIntegerBuffer::MakeData(raw, 3)), (TIVec{-1, 2, 2147483647}));
  EXPECT_EQ(Values(TNXIntegerBuffer::CreateValue(-9, 4)), (TIVec{-9, -9, -9, -9}));
  EXPECT_EQ(Values(TNXUnsignedBuffer::MakeValue(4294967295u, 2)), (TUVec{4294967295u, 4294967295u}));
  EXPECT_THROW(TNXIntegerBuffer::MakeSize(0x40000000u), EIntOverflow);

  TInt a = TNXIntegerBuffer::MakeArray({1, 2, 3});
  const int stores = Stores();
  auto* obj = dynamic_cast<TNXIntegerBuffer*>(a->GetInstance());
  const TInt shares[] = {TNXIntegerBuffer::MakeEx(obj), TNXIntegerBuffer::CreateCopy(a),
                         TNXIntegerBuffer::MakeUniversal(a->GetDataCopy())};
  for (const TInt& s : shares) EXPECT_EQ(s->Read(), a->Read());
  EXPECT_EQ(Stores(), stores);
  EXPECT_THROW(TNXIntegerBuffer::MakeCopy(nullptr), EArgumentException);

  // Any buffer's block is shared and its bytes read as integers: a real
  // buffer of 2 elements is 4 integers.
  TIntfPtr<INXRealBuffer> real = TNXRealBuffer::MakeArray({1.0, -2.0});
  TUns view = TNXUnsignedBuffer::MakeUniversal(TIntfPtr<INXData>(real));
  EXPECT_EQ(view->GetSize(), 4);
  EXPECT_EQ(view->ByteRead(), real->ByteRead());
  EXPECT_EQ(view->GetItem(1), 0x3FF00000u);  // the high word of 1.0

  // Same bytes, other class: not equal.
  TUns u = TNXUnsignedBuffer::MakeArray({1, 2, 3});
  EXPECT_TRUE(a->IsEqual(TNXIntegerBuffer::MakeArray({1, 2, 3})));
  EXPECT_FALSE(a->IsEqual(u));
  EXPECT_FALSE(u->IsEqual(a));
}

TEST(IntegerBuffersTest, ItemAccessAccessHandlesAndEnumerator) {
  TInt a = TNXIntegerBuffer::MakeArray({4, 5, 6});
  TInt other = TNXIntegerBuffer::MakeCopy(a);
  a->SetItem(1, -50);  // copies the shared block first
  EXPECT_EQ(Values(a), (TIVec{4, -50, 6}));
  EXPECT_EQ(Values(other), (TIVec{4, 5, 6}));

  TInt b = TNXIntegerBuffer::MakeCopy(a);
  EXPECT_EQ(b->Data(TBufferAccessMode::Read)->Data(), a->Read());
  TIntfPtr<INXIntegerBufferAccess> modify = b->Data({TBufferAccessMode::Read, TBufferAccessMode::Write});
  std::int32_t* p = modify->WritableData();
  EXPECT_NE(p, a->Read());
  EXPECT_EQ(p[1], -50);
  EXPECT_EQ(modify->GetSize(), 3);

  TBufferEnumerator<std::int32_t> e = a->GetEnumerator();
  TIVec seen;
  while (e.MoveNext()) seen.push_back(e.GetCurrent());
  EXPECT_EQ(seen, (TIVec{4, -50, 6}));

  // Elements are counted between two integer buffers, bytes otherwise.
  TInt dst = TNXIntegerBuffer::MakeValue(0, 4);
  a->CopyTo(1, dst, 2, 2);
  EXPECT_EQ(Values(dst), (TIVec{0, 0, -50, 6}));
  TIntfPtr<INXBlockBuffer> bytes = TNXBlockBuffer::MakeValue(4, 0);
  a->CopyTo(0, bytes, 0, 4);
  EXPECT_EQ(Values(bytes), (std::vector<std::uint8_t>{4, 0, 0, 0}));

  EXPECT_TRUE(a->Resize(5, true));
  EXPECT_EQ(a->GetItem(2), 6);
  EXPECT_EQ(a->GetByteSize(), 20u);
}

// An operation with a second buffer and the value it gives element by element.
template <class I, class T>
struct TOpCase {
  const char* Name;
  void (I::*Op)(const TIntfPtr<I>&);
  T (*Expected)(T, T);
};

// Every operation with a second buffer on both buffer types: Self is shared
// with a second holder, which keeps its values; the 3-element operand
// changes only the first 3 of Self's 4 elements.
template <class I, class TFactory, class T>
void CheckBufferOperations(std::initializer_list<TOpCase<I, T>> ACases, const std::vector<T>& x,
                           const std::vector<T>& y) {
  for (const TOpCase<I, T>& c : ACases) {
    SCOPED_TRACE(c.Name);
    TIntfPtr<I> self = TFactory::MakeArrayList(x), keep = TFactory::MakeCopy(self);
    (self.Get()->*c.Op)(TFactory::MakeArrayList(std::vector<T>(y.begin(), y.begin() + 3)));
    std::vector<T> want = x;
    for (std::size_t i = 0; i < 3; ++i) want[i] = c.Expected(x[i], y[i]);
    EXPECT_EQ(Values(self), want);
    EXPECT_EQ(Values(keep), x);
  }
}

TEST(IntegerBuffersTest, IntegerBufferOperations) {
  using B = INXIntegerBuffer;
  using I = std::int32_t;
  using U = std::uint32_t;
  CheckBufferOperations<B, TNXIntegerBuffer, I>(
      {{"Add", &B::Add, [](I a, I b) { return a + b; }},
       {"Subtract", &B::Subtract, [](I a, I b) { return a - b; }},
       {"Multiply", &B::Multiply, [](I a, I b) { return a * b; }},
       // The primitive rounds the quotient to nearest: -7 / 3 = -2, 100 / -9 = -11.
       {"Divide", &B::Divide,
        [](I a, I b) {
          const double q = static_cast<double>(a) / b;
          return static_cast<I>(q < 0 ? -std::int64_t(-q + 0.5) : std::int64_t(q + 0.5));
        }},
       {"ModBuffer", &B::ModBuffer, [](I a, I b) { return a % b; }},
       {"AndBuffer", &B::AndBuffer, [](I a, I b) { return a & b; }},
       {"OrBuffer", &B::OrBuffer, [](I a, I b) { return a | b; }},
       {"XorBuffer", &B::XorBuffer, [](I a, I b) { return a ^ b; }},
       {"LShift", &B::LShift, [](I a, I b) { return static_cast<I>(static_cast<U>(a) << (b & 31)); }},
       {"RShift", &B::RShift, [](I a, I b) { return static_cast<I>(static_cast<U>(a) >> (b & 31)); }}},
      {-7, 100, -8, 12345}, {3, -9, 33, 1});
}

TEST(IntegerBuffersTest, UnsignedBufferOperations) {
  using B = INXUnsignedBuffer;
  using U = std::uint32_t;
  CheckBufferOperations<B, TNXUnsignedBuffer, U>(
      {{"Subtract", &B::Subtract, [](U a, U b) { return a - b; }},
       {"Divide", &B::Divide, [](U a, U b) { return a / b; }},
       {"ModBuffer", &B::ModBuffer, [](U a, U b) { return a % b; }},
       {"AndBuffer", &B::AndBuffer, [](U a, U b) { return a & b; }},
       {"OrBuffer", &B::OrBuffer, [](U a, U b) { return a | b; }},
       {"XorBuffer", &B::XorBuffer, [](U a, U b) { return a ^ b; }},
       {"RShift", &B::RShift, [](U a, U b) { return a >> (b & 31); }}},
      {70, 4000000000u, 0xF0F0F0F0u, 5}, {3, 7, 36, 1});
  // Operands whose results fit (the unsigned arithmetic refuses to wrap).
  CheckBufferOperations<B, TNXUnsignedBuffer, U>({{"Add", &B::Add, [](U a, U b) { return a + b; }},
                                                  {"Multiply", &B::Multiply, [](U a, U b) { return a * b; }},
                                                  {"LShift", &B::LShift, [](U a, U b) { return a << (b & 31); }}},
                                                 {2, 3, 1u << 30, 9}, {5, 6, 3, 1});
  EXPECT_EQ(TNXUnsignedBuffer::MakeArray({3, 4})->Dot(TNXUnsignedBuffer::MakeArray({5, 6, 7})), 39u);
}

TEST(IntegerBuffersTest, ShiftAndRemainderEdges) {
  TInt a = TNXIntegerBuffer::MakeArray({-8});
  a->RShift(TNXIntegerBuffer::MakeArray({1}));
  EXPECT_EQ(a->GetItem(0), 2147483644) << "RShift shifts in zero bits";
  TInt b = TNXIntegerBuffer::MakeArray({-8});
  b->RShiftValue(1);
  EXPECT_EQ(b->GetItem(0), -4) << "RShiftValue keeps the sign";
  TInt c = TNXIntegerBuffer::MakeArray({3, 3});
  c->LShift(TNXIntegerBuffer::MakeArray({33, -1}));
  EXPECT_EQ(Values(c), (TIVec{6, static_cast<std::int32_t>(0x80000000u)}));

  TInt m = TNXIntegerBuffer::MakeArray({-7, 7, INT32_MIN});
  m->ModBuffer(TNXIntegerBuffer::MakeArray({3, -3, -1}));
  EXPECT_EQ(Values(m), (TIVec{-1, 1, 0}));
  TInt mv = TNXIntegerBuffer::MakeArray({-7, INT32_MIN});
  mv->ModValue(-1);
  EXPECT_EQ(Values(mv), (TIVec{0, 0}));

  // A zero divisor in the own loops raises; the elements before it are done.
  TInt z = TNXIntegerBuffer::MakeArray({7, 8});
  EXPECT_THROW(z->ModBuffer(TNXIntegerBuffer::MakeArray({2, 0})), EDivByZero);
  EXPECT_EQ(z->GetItem(0), 1);
  EXPECT_THROW(TNXUnsignedBuffer::MakeArray({1})->ModValue(0), EDivByZero);
  TNXIntegerBuffer::Make()->ModValue(0);  // nothing to do on an empty buffer

  // The unsigned arithmetic refuses to wrap and leaves the buffer as it was.
  TUns u = TNXUnsignedBuffer::MakeArray({1, 4294967295u});
  EXPECT_THROW(u->Add(TNXUnsignedBuffer::MakeArray({1, 1})), EIntOverflow);
  EXPECT_THROW(u->SubtractValue(2), EIntOverflow);
  EXPECT_THROW(u->Divide(TNXUnsignedBuffer::MakeArray({1, 0})), EDivByZero);
  EXPECT_EQ(Values(u), (TUVec{1, 4294967295u}));
}

TEST(IntegerBuffersTest, ValueOperationsAndQueries) {
  struct TCase {
    const char* Name;
    std::function<void(const TInt&)> Op;
    TIVec Expected;
  };
  const TIVec x = {-6, 0, 9, 1 << 20};
  const TCase cases[] = {
      {"SetValue", [](const TInt& b) { b->SetValue(-3); }, {-3, -3, -3, -3}},
      {"Zero", [](const TInt& b) { b->Zero(); }, {0, 0, 0, 0}},
      {"AddValue", [](const TInt& b) { b->AddValue(5); }, {-1, 5, 14, (1 << 20) + 5}},
      {"SubtractValue", [](const TInt& b) { b->SubtractValue(5); }, {-11, -5, 4, (1 << 20) - 5}},
      {"MultiplyValue", [](const TInt& b) { b->MultiplyValue(-2); }, {12, 0, -18, -(1 << 21)}},
      {"DivideValue", [](const TInt& b) { b->DivideValue(4); }, {-1, 0, 2, 1 << 18}},
      {"ModValue", [](const TInt& b) { b->ModValue(4); }, {-2, 0, 1, 0}},
      {"AndValue", [](const TInt& b) { b->AndValue(0xC); }, {8, 0, 8, 0}},
      {"OrValue", [](const TInt& b) { b->OrValue(1); }, {-5, 1, 9, (1 << 20) | 1}},
      {"XorValue", [](const TInt& b) { b->XorValue(-1); }, {5, -1, -10, ~(1 << 20)}},
      {"LShiftValue", [](const TInt& b) { b->LShiftValue(2); }, {-24, 0, 36, 1 << 22}},
      {"RShiftValue", [](const TInt& b) { b->RShiftValue(1); }, {-3, 0, 4, 1 << 19}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TInt self = TNXIntegerBuffer::MakeArrayList(x);
    TInt keep = TNXIntegerBuffer::MakeCopy(self);
    c.Op(self);
    EXPECT_EQ(Values(self), c.Expected);
    EXPECT_EQ(Values(keep), x);
  }

  TUns u = TNXUnsignedBuffer::MakeArray({0xFFFF0000u, 7});
  u->RShiftValue(16);
  u->XorValue(1);
  EXPECT_EQ(Values(u), (TUVec{0xFFFE, 1}));
  u->Zero();
  EXPECT_TRUE(u->IsEqualToValue(0));

  TInt q = TNXIntegerBuffer::MakeArray({4, -9, 2});
  EXPECT_EQ(q->GetMinValue(), -9);
  EXPECT_EQ(q->GetMaxValue(), 4);
  EXPECT_EQ(q->Dot(TNXIntegerBuffer::MakeArray({1, 2})), -14);
  EXPECT_FALSE(q->IsEqualToValue(4));
  EXPECT_TRUE(TNXIntegerBuffer::MakeValue(5, 3)->IsEqualToValue(5));
  EXPECT_TRUE(TNXIntegerBuffer::Make()->IsEqualToValue(5));
  EXPECT_EQ(TNXIntegerBuffer::Make()->GetMinValue(), 0);
  EXPECT_EQ(TNXUnsignedBuffer::Make()->GetMaxValue(), 0u);
  EXPECT_EQ(TNXUnsignedBuffer::MakeArray({9, 2, 4000000000u})->GetMaxValue(), 4000000000u);
  EXPECT_EQ(TNXUnsignedBuffer::MakeArray({9, 2, 4000000000u})->GetMinValue(), 2u);
}

TEST(IntegerBuffersTest, DivideValueOnASharedBlockDividesOutOfPlace) {
  // 0 and 1: no access at all, both holders stay on one block.
  for (std::int32_t v : {0, 1}) {
    TInt a = TNXIntegerBuffer::MakeArray({10, 20});
    TInt b = TNXIntegerBuffer::MakeCopy(a);
    a->DivideValue(v);
    EXPECT_EQ(a->Read(), b->Read());
    EXPECT_EQ(Values(a), (TIVec{10, 20}));
  }
  // A single owner divides in place.
  TInt single = TNXIntegerBuffer::MakeArray({10, -20});
  const std::int32_t* p = single->Read();
  single->DivideValue(-5);
  EXPECT_EQ(single->Read(), p);
  EXPECT_EQ(Values(single), (TIVec{-2, 4}));

  // Shared: one new block (the quotients), the other holder unchanged.
  TInt a = TNXIntegerBuffer::MakeArray({10, 21, -30});
  TInt b = TNXIntegerBuffer::MakeCopy(a);
  const int stores = Stores();
  a->DivideValue(10);
  EXPECT_EQ(Stores(), stores + 1);
  EXPECT_NE(a->Read(), b->Read());
  EXPECT_EQ(Values(a), (TIVec{1, 2, -3}));
  EXPECT_EQ(Values(b), (TIVec{10, 21, -30}));

  TUns ua = TNXUnsignedBuffer::MakeArray({4000000000u, 9});
  TUns ub = TNXUnsignedBuffer::MakeCopy(ua);
  ua->DivideValue(2);
  EXPECT_EQ(Values(ua), (TUVec{2000000000u, 4}));
  EXPECT_EQ(Values(ub), (TUVec{4000000000u, 9}));

  // The quotient that does not fit raises, and the shared samples stay.
  TInt m = TNXIntegerBuffer::MakeArray({5, INT32_MIN});
  TInt mk = TNXIntegerBuffer::MakeCopy(m);
  EXPECT_THROW(m->DivideValue(-1), EIntOverflow);
  EXPECT_EQ(Values(m), (TIVec{5, INT32_MIN}));
  EXPECT_EQ(BlockOf(m), BlockOf(mk));
}

}  // namespace
}  // namespace nx
