// The bit-packed Boolean buffer and the byte (block) buffer: packing and the
// bit count, item access with its range check, the byte-wise operations
// against a bit-by-bit model, sharing and copying by the universal
// constructors, and the block's Append and Remove.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "BufferTestSupport.h"

namespace nx {
namespace {

using namespace nxtest;
using TBool = TIntfPtr<INXBooleanBuffer>;
using TBlock = TIntfPtr<INXBlockBuffer>;
using TBytes = std::vector<std::uint8_t>;

std::vector<bool> Bits(const TBool& b) {
  std::vector<bool> out;
  for (std::int32_t i = 0; i < b->GetSize(); ++i) out.push_back(b->GetItem(i));
  return out;
}

// A pseudo-random bit pattern (a fixed linear congruential sequence).
std::vector<bool> Pattern(std::size_t n, std::uint32_t seed) {
  std::vector<bool> v;
  for (std::size_t i = 0; i < n; ++i) {
    seed = seed * 1664525u + 1013904223u;
    v.push_back((seed >> 17) & 1u);
  }
  return v;
}

TEST(BooleanBufferTest, PackingSizesAndItemAccess) {
  TBool b = TNXBooleanBuffer::MakeSize(10);
  EXPECT_EQ(b->GetSize(), 10);
  EXPECT_EQ(b->GetByteSize(), 2u);
  TBool fromArray = TNXBooleanBuffer::MakeArray({true, false, true, true, false, false, false, false, false, true});
  EXPECT_EQ(fromArray->Read()[0], 0x0D);
  EXPECT_EQ(fromArray->Read()[1] & 0x03, 0x02);
  EXPECT_EQ(Bits(TNXBooleanBuffer::MakeArrayList(std::vector<bool>{false, true, true})),
            (std::vector<bool>{false, true, true}));
  const std::uint8_t packed[2] = {0x81, 0x01};
  EXPECT_EQ(Bits(TNXBooleanBuffer::MakeData(packed, 9)),
            (std::vector<bool>{true, false, false, false, false, false, false, true, true}));
  EXPECT_TRUE(TNXBooleanBuffer::MakeValue(13, true)->IsEqualToValue(true));
  EXPECT_TRUE(TNXBooleanBuffer::CreateValue(13, false)->IsEqualToValue(false));
  EXPECT_THROW(TNXBooleanBuffer::MakeSize(0x80000000u), EIntOverflow);

  EXPECT_EQ(RangeMessage([&] { b->GetItem(10); }), "Index out of range = 10");
  EXPECT_EQ(RangeMessage([&] { b->GetItem(-1); }), "Index out of range = 4294967295");
  EXPECT_EQ(RangeMessage([&] { b->SetItem(10, true); }), "Index out of range = 10");
  EXPECT_EQ(RangeMessage([&] { b->InvertBit(12); }), "Index out of range = 12");

  // SetItem copies a shared block first.
  TBool other = TNXBooleanBuffer::MakeCopy(fromArray);
  fromArray->SetItem(1, true);
  fromArray->InvertBit(0);
  EXPECT_FALSE(fromArray->GetItem(0));
  EXPECT_TRUE(fromArray->GetItem(1));
  EXPECT_TRUE(other->GetItem(0));
  EXPECT_FALSE(other->GetItem(1));

  TBooleanBufferEnumerator e = other->GetEnumerator();
  std::vector<bool> seen;
  while (e.MoveNext()) seen.push_back(e.GetCurrent());
  EXPECT_EQ(seen, Bits(other));
}

TEST(BooleanBufferTest, IsEqualToValueLooksOnlyAtTheUsedBits) {
  TBool b = TNXBooleanBuffer::MakeSize(10);
  b->SetValue(true);
  EXPECT_TRUE(b->IsEqualToValue(true));
  b->SetItem(9, false);
  EXPECT_FALSE(b->IsEqualToValue(true));
  // The 6 bits beyond the count in the last byte carry no meaning.
  b->SetItem(9, true);
  b->Modify()[1] = 0x03;
  EXPECT_TRUE(b->IsEqualToValue(true));
  // Exactly 8 values: all 8 compared; long buffers through the word loop.
  TBool eight = TNXBooleanBuffer::MakeValue(8, false);
  eight->SetItem(7, true);
  EXPECT_FALSE(eight->IsEqualToValue(false));
  TBool many = TNXBooleanBuffer::MakeValue(1000, false);
  EXPECT_TRUE(many->IsEqualToValue(false));
  many->SetItem(517, true);
  EXPECT_FALSE(many->IsEqualToValue(false));
  EXPECT_TRUE(TNXBooleanBuffer::Make()->IsEqualToValue(true));

  // IsEqual: same class, same bit count, same values; unused bits ignored.
  TBool x = TNXBooleanBuffer::MakeValue(10, true), y = TNXBooleanBuffer::MakeValue(10, true);
  y->Modify()[1] = 0x83;
  EXPECT_TRUE(x->IsEqual(y));
  EXPECT_FALSE(x->IsEqual(TNXBooleanBuffer::MakeValue(11, true)));
  EXPECT_FALSE(x->IsEqual(TNXBlockBuffer::MakeValue(2, 0xFF)));
}

// The byte-wise operations against the bit-by-bit model, on sizes that
// exercise the word part and the byte tail; Self shares its block with a
// second holder, which keeps its values.
TEST(BooleanBufferTest, BufferAndValueOperations) {
  const std::size_t n = 173, m = 101;  // the other operand covers 13 of Self's 22 bytes
  const std::vector<bool> x = Pattern(n, 1), y = Pattern(m, 2);
  struct TCase {
    const char* Name;
    std::function<TBool(const TBool&, const TBool&)> Op;
    std::function<bool(bool, bool, std::size_t)> Expected;  // (x, y, index)
  };
  const std::size_t covered = ((m + 7) / 8) * 8;  // whole bytes of the other operand
  const TCase cases[] = {
      {"AndBuffer", [](const TBool& a, const TBool& b) { return a->AndBuffer(b); },
       [&](bool a, bool b, std::size_t i) { return i < covered ? (a && b) : a; }},
      {"OrBuffer", [](const TBool& a, const TBool& b) { return a->OrBuffer(b); },
       [&](bool a, bool b, std::size_t i) { return i < covered ? (a || b) : a; }},
      {"XorBuffer", [](const TBool& a, const TBool& b) { return a->XorBuffer(b); },
       [&](bool a, bool b, std::size_t i) { return i < covered ? (a != b) : a; }},
      {"AndValue(false)", [](const TBool& a, const TBool&) { return a->AndValue(false); },
       [](bool, bool, std::size_t) { return false; }},
      {"OrValue(true)", [](const TBool& a, const TBool&) { return a->OrValue(true); },
       [](bool, bool, std::size_t) { return true; }},
      {"XorValue(true)", [](const TBool& a, const TBool&) { return a->XorValue(true); },
       [](bool a, bool, std::size_t) { return !a; }},
      {"Invert", [](const TBool& a, const TBool&) { return a->Invert(); }, [](bool a, bool, std::size_t) { return !a; }},
      {"SetValue(true)", [](const TBool& a, const TBool&) { return a->SetValue(true); },
       [](bool, bool, std::size_t) { return true; }},
      {"Zero", [](const TBool& a, const TBool&) { return a->Zero(); }, [](bool, bool, std::size_t) { return false; }},
  };
  // Bits of the other operand beyond its count still take part (whole bytes):
  // give them known values.
  std::vector<bool> yFull = y;
  yFull.resize(covered, true);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TBool self = TNXBooleanBuffer::MakeArrayList(x);
    TBool keep = TNXBooleanBuffer::MakeCopy(self);
    TBool other = TNXBooleanBuffer::MakeArrayList(yFull);
    other->Resize(static_cast<std::uint32_t>(m), true);
    TBool result = c.Op(self, other);
    EXPECT_TRUE(SameObject(result, self)) << "chained calls continue on the same buffer";
    std::vector<bool> want;
    for (std::size_t i = 0; i < n; ++i) want.push_back(c.Expected(x[i], i < covered ? yFull[i] : false, i));
    EXPECT_EQ(Bits(self), want);
    EXPECT_EQ(Bits(keep), x);
  }

  // The no-op values touch nothing: a shared block stays shared.
  TBool a = TNXBooleanBuffer::MakeArrayList(x);
  TBool b = TNXBooleanBuffer::MakeCopy(a);
  a->AndValue(true)->OrValue(false)->XorValue(false);
  EXPECT_EQ(a->Read(), b->Read());
}

TEST(BooleanBufferTest, ResizeInBitsAndCopyTo) {
  TBool b = TNXBooleanBuffer::MakeArray({true, false, true, true, false, true, false, true, true, false});
  const std::uint8_t* p = b->Read();
  EXPECT_TRUE(b->Resize(12, true));  // within the second byte: same block
  EXPECT_EQ(b->GetSize(), 12);
  EXPECT_EQ(b->GetByteSize(), 2u);
  EXPECT_EQ(b->Read(), p);
  EXPECT_FALSE(b->Resize(12, true));
  EXPECT_TRUE(b->Resize(20, true));
  EXPECT_EQ(b->GetByteSize(), 3u);
  EXPECT_TRUE(b->GetItem(8));
  EXPECT_FALSE(b->GetItem(9));
  EXPECT_TRUE(b->Resize(3, true));
  EXPECT_EQ(Bits(b), (std::vector<bool>{true, false, true}));
  EXPECT_TRUE(b->Resize(0, false));
  EXPECT_EQ(b->GetSize(), 0);
  EXPECT_EQ(b->GetByteSize(), 0u);

  // Between Boolean buffers CopyTo counts values, at any bit position, also
  // within one buffer with overlapping ranges.
  TBool src = TNXBooleanBuffer::MakeArrayList(Pattern(40, 7));
  TBool dst = TNXBooleanBuffer::MakeValue(40, false);
  TBool dstKeep = TNXBooleanBuffer::MakeCopy(dst);
  src->CopyTo(3, dst, 11, 20);
  const std::vector<bool> s = Bits(src);
  std::vector<bool> want(40, false);
  for (int i = 0; i < 20; ++i) want[11 + i] = s[3 + i];
  EXPECT_EQ(Bits(dst), want);
  EXPECT_TRUE(dstKeep->IsEqualToValue(false));
  src->CopyTo(0, src, 5, 30);
  std::vector<bool> shifted = s;
  for (int i = 0; i < 30; ++i) shifted[5 + i] = s[i];
  EXPECT_EQ(Bits(src), shifted);
}

TEST(BooleanBufferTest, UniversalSharesBooleanBuffersAndCopiesOthers) {
  TBool a = TNXBooleanBuffer::MakeArrayList(Pattern(13, 3));
  const int stores = Stores();
  TBool shared = TNXBooleanBuffer::MakeUniversal(a->GetDataCopy());
  EXPECT_EQ(Stores(), stores);
  EXPECT_EQ(shared->Read(), a->Read());
  EXPECT_EQ(shared->GetSize(), 13);

  TBlock bytes = TNXBlockBuffer::MakeArray({0x0F, 0xF0});
  bytes->AddCustom(TNXBlockBuffer::MakeSize(1));
  const int before = Stores();
  TBool copied = TNXBooleanBuffer::MakeUniversal(TIntfPtr<INXData>(bytes));
  EXPECT_EQ(Stores(), before + 1);
  EXPECT_NE(copied->Read(), bytes->Read());
  EXPECT_EQ(copied->GetSize(), 16);
  EXPECT_EQ(copied->GetCustomCount(), 1);
  EXPECT_TRUE(copied->GetItem(3));
  EXPECT_FALSE(copied->GetItem(4));
  EXPECT_TRUE(copied->GetItem(15));
  EXPECT_THROW(TNXBooleanBuffer::MakeUniversal(nullptr), EArgumentException);

  // Assign takes the bit count with the block.
  TBool target = TNXBooleanBuffer::MakeSize(3);
  target->Assign(a);
  EXPECT_EQ(target->GetSize(), 13);
  target->Assign(bytes);
  EXPECT_EQ(target->GetSize(), 16);
  EXPECT_EQ(target->Read(), bytes->Read());
}

TEST(BlockBufferTest, ConstructionItemsAndUniversal) {
  const std::uint8_t raw[3] = {1, 2, 3};
  EXPECT_EQ(Values(TNXBlockBuffer::MakeData(raw, 3, true)), (TBytes{1, 2, 3}));
  EXPECT_EQ(Values(TNXBlockBuffer::CreateValue(2, 0xAB)), (TBytes{0xAB, 0xAB}));
  EXPECT_EQ(Values(TNXBlockBuffer::MakeArrayList(TBytes{9, 8})), (TBytes{9, 8}));

  TBlock b = TNXBlockBuffer::MakeArray({5, 6, 7});
  EXPECT_EQ(b->GetItem(2), 7);
  EXPECT_EQ(RangeMessage([&] { b->GetItem(3); }), "Index out of range = 3");
  EXPECT_EQ(RangeMessage([&] { b->SetItem(-2, 1); }), "Index out of range = 4294967294");
  TBlock keep = TNXBlockBuffer::MakeCopy(b);
  b->SetItem(0, 50);
  EXPECT_EQ(Values(b), (TBytes{50, 6, 7}));
  EXPECT_EQ(Values(keep), (TBytes{5, 6, 7}));

  // A real buffer of 2 elements gives 16 bytes, a copy; a block buffer is shared.
  TIntfPtr<INXRealBuffer> real = TNXRealBuffer::MakeArray({1.0, 2.0});
  TBlock copy = TNXBlockBuffer::MakeUniversal(TIntfPtr<INXData>(real));
  EXPECT_EQ(copy->GetSize(), 16);
  EXPECT_NE(copy->Read(), real->ByteRead());
  EXPECT_EQ(std::memcmp(copy->Read(), real->ByteRead(), 16), 0);
  EXPECT_EQ(TNXBlockBuffer::MakeUniversal(b->GetDataCopy())->Read(), b->Read());
  EXPECT_FALSE(copy->IsEqual(real));
  EXPECT_TRUE(copy->IsEqual(TNXBlockBuffer::MakeUniversal(TIntfPtr<INXData>(real))));
}

TEST(BlockBufferTest, Operations) {
  struct TCase {
    const char* Name;
    std::function<void(const TBlock&, const TBlock&)> Op;
    TBytes Expected;
  };
  const TBytes x = {200, 10, 7, 255}, y = {100, 20, 2};
  const TCase cases[] = {
      {"Add", [](const TBlock& a, const TBlock& b) { a->Add(b); }, {255, 30, 9, 255}},
      {"Subtract", [](const TBlock& a, const TBlock& b) { a->Subtract(b); }, {100, 0, 5, 255}},
      {"Multiply", [](const TBlock& a, const TBlock& b) { a->Multiply(b); }, {255, 200, 14, 255}},
      {"Divide", [](const TBlock& a, const TBlock& b) { a->Divide(b); }, {2, 0, 3, 255}},
      {"SetValue", [](const TBlock& a, const TBlock&) { a->SetValue(4); }, {4, 4, 4, 4}},
      {"Zero", [](const TBlock& a, const TBlock&) { a->Zero(); }, {0, 0, 0, 0}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TBlock self = TNXBlockBuffer::MakeArrayList(x);
    TBlock keep = TNXBlockBuffer::MakeCopy(self);
    c.Op(self, TNXBlockBuffer::MakeArrayList(y));
    EXPECT_EQ(Values(self), c.Expected);
    EXPECT_EQ(Values(keep), x);
  }
  TBlock z = TNXBlockBuffer::MakeArray({8, 9});
  EXPECT_THROW(z->Divide(TNXBlockBuffer::MakeArray({2, 0})), EDivByZero);
  EXPECT_EQ(z->GetItem(0), 4);
  EXPECT_TRUE(TNXBlockBuffer::MakeValue(5, 3)->IsEqualToValue(3));
  EXPECT_FALSE(TNXBlockBuffer::MakeArray({3, 4})->IsEqualToValue(3));
  EXPECT_TRUE(TNXBlockBuffer::Make()->IsEqualToValue(3));
}

TEST(BlockBufferTest, AppendAndRemove) {
  TBlock a = TNXBlockBuffer::MakeArray({1, 2});
  TBlock keep = TNXBlockBuffer::MakeCopy(a);
  a->Append(TNXBlockBuffer::MakeArray({3, 4, 5}));
  EXPECT_EQ(Values(a), (TBytes{1, 2, 3, 4, 5}));
  EXPECT_EQ(Values(keep), (TBytes{1, 2}));
  a->Append(a);
  EXPECT_EQ(Values(a), (TBytes{1, 2, 3, 4, 5, 1, 2, 3, 4, 5}));
  a->Append(TNXBlockBuffer::Make());
  EXPECT_EQ(a->GetSize(), 10);
  TBlock e = TNXBlockBuffer::Make();
  e->Append(TNXIntegerBuffer::MakeArray({0x01020304}));  // any buffer's bytes
  EXPECT_EQ(Values(e), (TBytes{4, 3, 2, 1}));
  EXPECT_THROW(e->Append(nullptr), EArgumentException);

  struct TCase {
    std::int32_t Index, Count;
    TBytes Expected;
  };
  const TCase cases[] = {
      {2, 10, {1, 2}}, {0, 2, {3, 4, 5}}, {1, 3, {1, 5}}, {5, 1, {1, 2, 3, 4, 5}}, {0, 5, {}}, {3, 0, {1, 2, 3, 4, 5}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Index << ", " << c.Count);
    TBlock r = TNXBlockBuffer::MakeArray({1, 2, 3, 4, 5});
    TBlock other = TNXBlockBuffer::MakeCopy(r);
    r->Remove(c.Index, c.Count);
    EXPECT_EQ(Values(r), c.Expected);
    EXPECT_EQ(Values(other), (TBytes{1, 2, 3, 4, 5}));
  }
  TBlock r = TNXBlockBuffer::MakeArray({1, 2, 3});
  for (auto [index, count] : {std::pair{-1, 1}, std::pair{4, 1}, std::pair{0, -1}}) {
    try {
      r->Remove(index, count);
      ADD_FAILURE() << "Remove did not fail for " << index << ", " << count;
    } catch (const EAssertionFailed& ex) {
      EXPECT_EQ(ex.Message().rfind("Assertion failure (NXSimpleDataBuffer, line ", 0), 0u) << ex.Message();
    }
  }
  EXPECT_EQ(Values(r), (TBytes{1, 2, 3}));
}

}  // namespace
}  // namespace nx
