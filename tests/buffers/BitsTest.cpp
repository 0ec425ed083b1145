// Bit sets: construction, bit access and its range errors, the whole-set
// operations, growth when combining with a longer set, and the numeric views.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "BufferTestSupport.h"

using namespace nx;
using nxtest::RangeMessage;

namespace {

std::vector<bool> BitsOf(const IRGBits::TBits& ABits) {
  std::vector<bool> out;
  for (std::int32_t i = 0; i < ABits->GetCount(); ++i) out.push_back(ABits->GetBit(i));
  return out;
}

}  // namespace

TEST(Bits, ConstructorsAndFactories) {
  auto set = TRGBits::MakeSize(12, true);
  EXPECT_EQ(set->GetCount(), 12);
  EXPECT_EQ(set->GetArray().size(), 2u);
  EXPECT_EQ(set->ToInteger(), 4095);  // only the 12 bits are set

  EXPECT_EQ(TRGBits::MakeSize(-5, true)->GetCount(), 0);
  EXPECT_TRUE(TRGBits::MakeSize(-5)->GetArray().empty());

  const std::uint8_t raw[3] = {0xA5, 0x0F, 0xFF};
  auto fromPtr = TRGBits::MakeData(raw, 12);  // copies two bytes
  EXPECT_EQ(fromPtr->GetArray(), (std::vector<std::uint8_t>{0xA5, 0x0F}));
  auto fromArray = TRGBits::Make({0x01}, 20);  // zero-extended to three bytes
  EXPECT_EQ(fromArray->GetArray(), (std::vector<std::uint8_t>{0x01, 0, 0}));
  EXPECT_EQ(TRGBits::Make({1, 2, 3, 4}, 9)->GetArray().size(), 2u);

  auto one = TRGBits::MakeBit(true);
  EXPECT_EQ(one->GetCount(), 1);
  EXPECT_TRUE(one->GetBit(0));

  // A copy is a real copy: changing it leaves the original alone.
  auto copy = TRGBits::MakeCopy(fromPtr);
  copy->SetBit(0, false);
  EXPECT_TRUE(fromPtr->GetBit(0));
  EXPECT_FALSE(copy->GetBit(0));
  auto dataCopy = Supports<IRGBits>(fromPtr->GetDataCopy().Get());
  ASSERT_TRUE(dataCopy);
  EXPECT_TRUE(dataCopy->EqualsBits(fromPtr));
  dataCopy->Invert();
  EXPECT_FALSE(dataCopy->EqualsBits(fromPtr));
}

TEST(Bits, BitAccessAndRangeErrors) {
  auto set = TRGBits::MakeSize(12);
  set->SetBit(3, true)->SetBit(11, true)->InvertBit(0);
  EXPECT_EQ(set->ToInteger(), (1 << 0) | (1 << 3) | (1 << 11));
  set->InvertBit(3);
  EXPECT_FALSE(set->GetBit(3));

  EXPECT_EQ(RangeMessage([&] { set->SetBit(12, true); }), "Index out of range = 12");
  EXPECT_EQ(RangeMessage([&] { set->SetBit(-1, true); }), "Index out of range = 4294967295");
  EXPECT_EQ(RangeMessage([&] { set->GetBit(12); }), "Index out of range = 12");
  EXPECT_EQ(RangeMessage([&] { set->GetBits(0, 0); }), "Count must be bigger than zero");
  EXPECT_EQ(RangeMessage([&] { set->GetBits(10, 4); }), "Index out of range = 10");

  auto part = set->GetBits(9, 3);  // bits 9, 10, 11
  EXPECT_EQ(BitsOf(part), (std::vector<bool>{false, false, true}));

  // SetBits writes bit by bit and stops with the error at the first position outside.
  auto target = TRGBits::MakeSize(4);
  EXPECT_EQ(RangeMessage([&] { target->SetBits(2, TRGBits::MakeSize(3, true)); }), "Index out of range = 4");
  EXPECT_EQ(BitsOf(target), (std::vector<bool>{false, false, true, true}));
  target->SetBits(0, target);  // from itself
  EXPECT_EQ(BitsOf(target), (std::vector<bool>{false, false, true, true}));
  target->XorBy(target);  // combined with itself
  EXPECT_EQ(target->ToInteger(), 0);
}

TEST(Bits, WholeSetOperations) {
  auto set = TRGBits::MakeSize(10);
  set->SetValue(true);
  EXPECT_EQ(set->ToInteger(), 1023);
  set->XorBy(false)->AndBy(true)->OrBy(false);  // the neutral forms change nothing
  EXPECT_EQ(set->ToInteger(), 1023);
  set->Invert();
  EXPECT_EQ(set->ToInteger(), 0);
  set->XorBy(true);
  EXPECT_EQ(set->ToInteger(), 1023);
  set->SetValue(false);
  EXPECT_EQ(set->ToInteger(), 0);
}

// Combining with another set: "filled" sets have every byte 0xFF, also
// beyond their count, so the table shows that bits beyond a count neither
// leak in nor survive growth. The set grows only when the other's byte array
// is longer.
enum class TCombine { Or, And, Xor };
struct TCombineCase {
  const char* Name;
  TCombine Op;
  std::int32_t Count;
  bool Filled;
  std::int32_t OtherCount;
  bool OtherFilled;
  std::int32_t OtherBit;  // one more bit set in the other (-1: none)
  std::int32_t ExpectCount;
  std::uint64_t Expect;
};

class BitsCombine : public ::testing::TestWithParam<TCombineCase> {};

TEST_P(BitsCombine, CountAndBits) {
  const TCombineCase& c = GetParam();
  auto self = TRGBits::MakeSize(c.Count);
  if (c.Filled) self->OrBy(true);
  auto other = TRGBits::MakeSize(c.OtherCount);
  if (c.OtherFilled) other->OrBy(true);
  if (c.OtherBit >= 0) other->SetBit(c.OtherBit, true);
  switch (c.Op) {
    case TCombine::Or: self->OrBy(other); break;
    case TCombine::And: self->AndBy(other); break;
    case TCombine::Xor: self->XorBy(other); break;
  }
  EXPECT_EQ(self->GetCount(), c.ExpectCount);
  EXPECT_EQ(self->ToUInt64(), c.Expect);
}

INSTANTIATE_TEST_SUITE_P(
    Bits, BitsCombine,
    ::testing::Values(
        // A longer byte array grows the set; the bits it uncovers start clear.
        TCombineCase{"LongerGrows", TCombine::Or, 8, true, 20, false, 19, 20, 0xFFu | (1u << 19)},
        TCombineCase{"GrowthClearsBeyondOldCount", TCombine::Or, 9, true, 20, false, -1, 20, 0x1FF},
        TCombineCase{"XorLongerGrows", TCombine::Xor, 6, false, 12, true, -1, 12, 0xFFF},
        // The same byte length keeps this set's count (6 with 8 bits, 9 with 12).
        TCombineCase{"OrSameBytesKeepsCount", TCombine::Or, 6, false, 8, true, -1, 6, 0x3F},
        TCombineCase{"AndSameBytesKeepsCount", TCombine::And, 6, true, 8, false, 0, 6, 0x01},
        TCombineCase{"XorSameBytesKeepsCount", TCombine::Xor, 6, false, 8, true, -1, 6, 0x3F},
        TCombineCase{"OrSameTwoBytesKeepsCount", TCombine::Or, 9, true, 12, false, 11, 9, 0x1FF},
        // A shorter other: its bits beyond its count do not reach this set.
        TCombineCase{"OrShorter", TCombine::Or, 16, false, 3, true, -1, 16, 0x7},
        TCombineCase{"AndShorterKeepsUncovered", TCombine::And, 16, true, 3, true, -1, 16, 0xFFFF},
        TCombineCase{"XorShorter", TCombine::Xor, 16, true, 3, true, -1, 16, 0xFFF8}),
    [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST(Bits, EqualityResizeAndCopies) {
  auto a = TRGBits::MakeSize(12);
  auto b = TRGBits::MakeSize(13);
  EXPECT_FALSE(a->EqualsBits(b));  // another count, even with equal common bits
  EXPECT_FALSE(a->EqualsBits(IRGBits::TBits()));
  auto c = TRGBits::MakeSize(12);
  c->OrBy(true)->SetBits(0, TRGBits::MakeSize(12));  // clears the 12 bits, leaves the rest of byte 1
  EXPECT_TRUE(a->EqualsBits(c));

  a->Resize(0);
  EXPECT_EQ(a->GetCount(), 0);
  EXPECT_EQ(a->GetArray().size(), 1u);
  EXPECT_EQ(a->ToInteger(), 0);
  c->Resize(16);  // the uncovered bits 12..15 start clear
  EXPECT_EQ(c->GetCount(), 16);
  EXPECT_EQ(c->ToInteger(), 0);
  c->Resize(-3);
  EXPECT_EQ(c->GetCount(), 0);

  auto src = TRGBits::MakeSize(12, true);
  auto shorter = src->GetCopySize(5);
  EXPECT_EQ(shorter->GetCount(), 5);
  EXPECT_EQ(shorter->ToInteger(), 31);
  auto longer = src->GetCopySize(20);
  EXPECT_EQ(longer->ToInteger(), 4095);

  auto target = TRGBits::MakeSize(3);
  target->Assign(TIntfPtr<INXData>(src));
  EXPECT_TRUE(target->EqualsBits(src));
}

TEST(Bits, NumbersAndByteData) {
  auto set = TRGBits::MakeSize(0);
  set->FromInteger(5, true);
  EXPECT_EQ(set->GetCount(), 32);
  EXPECT_EQ(BitsOf(set->GetBits(0, 4)), (std::vector<bool>{true, false, true, false}));
  EXPECT_EQ(set->ToUInt64(), 5u);

  // Without resizing only the bits the set has are written.
  auto small = TRGBits::MakeSize(4);
  small->FromInteger(0x3F, false);
  EXPECT_EQ(small->ToInteger(), 0xF);
  small->FromUInt64(0x8000000000000001ull, true);
  EXPECT_EQ(small->GetCount(), 64);
  EXPECT_EQ(small->ToUInt64(), 0x8000000000000001ull);
  EXPECT_THROW(small->ToInteger(), EIntOverflow);

  auto negative = TRGBits::MakeSize(0);
  negative->FromInteger(-1, true);
  EXPECT_EQ(negative->ToUInt64(), 0xFFFFFFFFull);
  EXPECT_THROW(negative->ToInteger(), EIntOverflow);  // beyond the signed range

  auto wide = TRGBits::MakeSize(72);
  wide->SetBit(64, true);
  EXPECT_THROW(wide->ToUInt64(), EIntOverflow);
  wide->SetBit(64, false)->SetBit(63, true);
  EXPECT_EQ(wide->ToUInt64(), 1ull << 63);

  auto bytes = TRGBits::MakeSize(1);
  bytes->SetByteData(std::vector<std::uint8_t>{0x34, 0x12, 0xFF}, 16);
  EXPECT_EQ(bytes->GetCount(), 16);
  EXPECT_EQ(bytes->ToInteger(), 0x1234);
  const std::uint8_t raw[2] = {0xFF, 0xFF};
  bytes->SetByteData(raw, 9);
  EXPECT_EQ(bytes->GetArray().size(), 2u);
  EXPECT_EQ(bytes->ToInteger(), 0x1FF);
}
