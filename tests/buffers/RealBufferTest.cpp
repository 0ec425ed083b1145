// The life of the real buffer: construction, item access, resizing,
// comparison, copying between buffers and the custom list.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "nxruntime.h"

namespace nx {
namespace {

using TBuffer = TIntfPtr<INXRealBuffer>;

int Stores() { return _NXCountStores.load(); }
std::vector<double> Values(const TBuffer& b) { return std::vector<double>(b->Read(), b->Read() + b->GetSize()); }
TNXSmartBuffer* BlockOf(const TBuffer& b) { return static_cast<TNXGenericBuffer*>(b->GetInstance())->DataContainer(); }

// The copying factories: each holds its own copy of the values given.
TEST(RealBufferTest, FactoriesCopyTheirSources) {
  double src[4] = {1.5, -2.0, 3.25, 0.0};
  const float f[3] = {0.5f, -1.25f, 3.0f};
  const std::vector<double> list = {9.0, 8.0, 7.0};
  struct TCase {
    const char* Name;
    TBuffer Buffer;
    std::vector<double> Expected;
  };
  const TCase cases[] = {
      {"Data", TNXRealBuffer::MakeData(src, 4), {1.5, -2.0, 3.25, 0.0}},
      {"Value", TNXRealBuffer::MakeValue(2.5, 3), {2.5, 2.5, 2.5}},
      {"ValueEmpty", TNXRealBuffer::MakeValue(1.0, 0), {}},
      {"Single", TNXRealBuffer::MakeSingleData(f, 3), {0.5, -1.25, 3.0}},
      {"ArrayList", TNXRealBuffer::MakeArrayList(list), list},
      {"Span", TNXRealBuffer::MakeArray(std::span<const double>(list)), list},
  };
  src[0] = 100.0;  // the buffers hold copies
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(Values(c.Buffer), c.Expected);
  }
  EXPECT_EQ(TNXRealBuffer::MakeData(nullptr, 3)->GetSize(), 3);  // a null source copies nothing
  EXPECT_EQ(TNXRealBuffer::Make()->Read(), nullptr);
  // The block is aligned for vector loads and sized exactly; more elements
  // than 32 bits of bytes can hold are refused.
  TBuffer s = TNXRealBuffer::MakeSize(5);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(s->Read()) % 32, 0u);
  EXPECT_EQ(BlockOf(s)->GetSize(), 40u);
  EXPECT_THROW(TNXRealBuffer::MakeSize(0x20000000u), EIntOverflow);
}

TEST(RealBufferTest, IntegerSourcesConvertAndDivide) {
  static const std::uint8_t u8[3] = {0, 200, 255};
  static const std::uint16_t u16[3] = {0, 40000, 65535};
  static const std::int16_t s16[3] = {-32768, -3, 32767};
  static const std::uint32_t u32[3] = {0, 7, 4294967295u};
  static const std::int32_t s32[3] = {-2147483647 - 1, -6, 2147483647};
  static const std::int64_t s64[3] = {-(std::int64_t{1} << 40), -8, std::int64_t{1} << 53};
  static const std::uint64_t u64[3] = {0, 12, std::uint64_t{1} << 63};
  struct TCase {
    const char* Name;
    TBuffer (*Make)(double divisor);
    std::vector<double> Raw;
  };
  const TCase cases[] = {
      {"Byte", [](double d) { return TNXRealBuffer::MakeByteData(u8, 3, d); }, {0, 200, 255}},
      {"Word", [](double d) { return TNXRealBuffer::MakeWordData(u16, 3, d); }, {0, 40000, 65535}},
      {"SmallInt", [](double d) { return TNXRealBuffer::MakeSmallIntData(s16, 3, d); }, {-32768, -3, 32767}},
      {"Cardinal", [](double d) { return TNXRealBuffer::MakeCardinalData(u32, 3, d); }, {0, 7, 4294967295.0}},
      {"Integer", [](double d) { return TNXRealBuffer::MakeIntegerData(s32, 3, d); }, {-2147483648.0, -6, 2147483647.0}},
      {"Int64", [](double d) { return TNXRealBuffer::MakeInt64Data(s64, 3, d); }, {-1099511627776.0, -8, 9007199254740992.0}},
      {"UInt64", [](double d) { return TNXRealBuffer::MakeUInt64Data(u64, 3, d); }, {0, 12, 9223372036854775808.0}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(Values(c.Make(1.0)), c.Raw);
    std::vector<double> quarter;
    for (double v : c.Raw) quarter.push_back(v / 4.0);
    EXPECT_EQ(Values(c.Make(4.0)), quarter);
  }
}

TEST(RealBufferTest, SharingConstructorsShareTheBlock) {
  TBuffer a = TNXRealBuffer::MakeArray({1.0, 2.0, 3.0});
  a->AddCustom(TNXRealBuffer::MakeSize(1));
  const int stores = Stores();
  auto* obj = dynamic_cast<TNXRealBuffer*>(a->GetInstance());
  ASSERT_NE(obj, nullptr);
  const TBuffer shares[] = {
      TNXRealBuffer::MakeEx(obj),
      TNXRealBuffer::MakeCopy(a),
      TNXRealBuffer::MakeUniversal(TIntfPtr<INXData>(a)),
      TNXRealBuffer::MakeUniversal(a->GetDataCopy()),
  };
  EXPECT_EQ(Stores(), stores);
  for (const TBuffer& s : shares) {
    EXPECT_EQ(s->Read(), a->Read());
    EXPECT_EQ(s->GetSize(), 3);
    EXPECT_EQ(s->GetCustomCount(), 1);
  }
  EXPECT_EQ(BlockOf(a)->OwnerCount(), 5);  // a and the four

  EXPECT_THROW(TNXRealBuffer::MakeCopy(nullptr), EArgumentException);
  EXPECT_THROW(TNXRealBuffer::MakeEx(nullptr), EArgumentException);
  EXPECT_THROW(TNXRealBuffer::MakeUniversal(nullptr), EArgumentException);

  // Any buffer shares its bytes, read as 64-bit floats.
  TIntfPtr<INXLinearDataBuffer> bytes(new TNXLinearMemoryBuffer(16u, 1u));
  const double two[2] = {6.0, -7.0};
  std::memcpy(bytes->ByteWrite(), two, 16);
  TBuffer viaBytes = TNXRealBuffer::MakeUniversal(TIntfPtr<INXData>(bytes));
  EXPECT_EQ(Values(viaBytes), (std::vector<double>{6.0, -7.0}));
  EXPECT_EQ(viaBytes->ByteRead(), bytes->ByteRead());
}

// A data object that is not a buffer.
class TPlainData : public TNXData {
 public:
  TIntfPtr<INXData> GetDataCopy() override { return TIntfPtr<INXData>(static_cast<INXData*>(new TPlainData)); }
};

TEST(RealBufferTest, UniversalFromANonBufferFails) {
  TIntfPtr<INXData> plain(static_cast<INXData*>(new TPlainData));
  EXPECT_THROW(TNXRealBuffer::MakeUniversal(plain), EArgumentException);
}

TEST(RealBufferTest, ItemAccessChecksTheIndex) {
  TBuffer b = TNXRealBuffer::MakeArray({1.0, 2.0, 3.0});
  EXPECT_EQ(b->GetItem(2), 3.0);
  b->SetItem(0, -4.0);
  EXPECT_EQ(b->GetItem(0), -4.0);
  struct TCase {
    std::int32_t Index;
    const char* Message;
  };
  for (const TCase& c : {TCase{-1, "Index out of range = 4294967295"}, TCase{3, "Index out of range = 3"},
                         TCase{std::numeric_limits<std::int32_t>::min(), "Index out of range = 2147483648"}}) {
    SCOPED_TRACE(c.Index);
    try {
      b->GetItem(c.Index);
      ADD_FAILURE() << "GetItem did not raise";
    } catch (const ERangeError& e) {
      EXPECT_EQ(e.Message(), c.Message);
    }
    EXPECT_THROW(b->SetItem(c.Index, 1.0), ERangeError);
  }
  EXPECT_THROW(TNXRealBuffer::Make()->GetItem(0), ERangeError);

  // A bad index on a shared buffer copies nothing.
  TBuffer other = TNXRealBuffer::MakeCopy(b);
  const int stores = Stores();
  EXPECT_THROW(b->SetItem(3, 1.0), ERangeError);
  EXPECT_EQ(Stores(), stores);
  EXPECT_EQ(b->Read(), other->Read());
}

TEST(RealBufferTest, ResizeCases) {
  // To zero: true, empty, the block stays.
  {
    TBuffer b = TNXRealBuffer::MakeValue(1.0, 4);
    TNXSmartBuffer* block = BlockOf(b);
    EXPECT_TRUE(b->Resize(0, true));
    EXPECT_EQ(b->GetSize(), 0);
    EXPECT_EQ(BlockOf(b), block);
    EXPECT_TRUE(TNXRealBuffer::Make()->Resize(0, false));
  }
  // To the current size: false, nothing changes.
  {
    TBuffer b = TNXRealBuffer::MakeValue(1.0, 4);
    const double* p = b->Read();
    EXPECT_FALSE(b->Resize(4, false));
    EXPECT_EQ(b->Read(), p);
  }
  // Shrink with preservation, then grow back within the block: same address,
  // the kept elements survive, no allocation.
  {
    TBuffer b = TNXRealBuffer::MakeArray({1, 2, 3, 4, 5, 6});
    const double* p = b->Read();
    const int stores = Stores();
    EXPECT_TRUE(b->Resize(2, true));
    EXPECT_EQ(b->GetSize(), 2);
    EXPECT_EQ(b->Read(), p);
    EXPECT_TRUE(b->Resize(5, true));
    EXPECT_EQ(b->Read(), p);
    EXPECT_EQ(b->GetSize(), 5);
    EXPECT_EQ(b->GetItem(0), 1.0);
    EXPECT_EQ(b->GetItem(1), 2.0);
    EXPECT_EQ(Stores(), stores);
    // Beyond the block: a new block of exactly the size asked for, contents kept.
    EXPECT_TRUE(b->Resize(7, true));
    EXPECT_NE(b->Read(), p);
    EXPECT_EQ(BlockOf(b)->GetSize(), 56u);
    EXPECT_EQ(b->GetItem(0), 1.0);
    EXPECT_EQ(b->GetItem(1), 2.0);
  }
  // A shared block: shrinking with preservation keeps it; growing copies.
  {
    TBuffer a = TNXRealBuffer::MakeArray({1, 2, 3, 4});
    TBuffer b = TNXRealBuffer::MakeCopy(a);
    EXPECT_TRUE(b->Resize(2, true));
    EXPECT_EQ(b->Read(), a->Read());
    EXPECT_EQ(a->GetSize(), 4);
    const int stores = Stores();
    EXPECT_TRUE(b->Resize(3, true));
    EXPECT_NE(b->Read(), a->Read());
    EXPECT_EQ(Stores(), stores + 1);
    EXPECT_EQ(b->GetItem(0), 1.0);
    EXPECT_EQ(b->GetItem(1), 2.0);
    EXPECT_EQ(Values(a), (std::vector<double>{1, 2, 3, 4}));
  }
  // Without preservation every size change within the block still reallocates.
  {
    TBuffer b = TNXRealBuffer::MakeValue(1.0, 8);
    TNXSmartBuffer* block = BlockOf(b);
    EXPECT_TRUE(b->Resize(3, false));
    EXPECT_NE(BlockOf(b), block);
    EXPECT_EQ(BlockOf(b)->GetSize(), 24u);
  }
  TBuffer b = TNXRealBuffer::MakeSize(1);
  EXPECT_THROW(b->Resize(0x20000000u, false), EIntOverflow);
  EXPECT_EQ(b->GetSize(), 1);
}

// Item access, Mean and Add are inline and read a copy of the data pointer
// and size kept in the interface; every path that moves the data or changes
// the size must leave that copy in step with the buffer object.
void ExpectInlineAccessInStep(const TBuffer& b) {
  const std::int32_t n = b->GetSize();
  const double* p = b->Read();
  EXPECT_THROW(b->GetItem(n), ERangeError);
  if (n == 0) return;
  EXPECT_EQ(b->GetItem(n - 1), p[n - 1]);
  double sum = 0;
  for (std::int32_t i = 0; i < n; ++i) sum += p[i];
  EXPECT_DOUBLE_EQ(b->Mean(), sum / n);
}

TEST(RealBufferTest, InlineAccessFollowsEveryChangeOfTheData) {
  TBuffer b = TNXRealBuffer::MakeArray({1, 2, 3, 4, 5, 6});
  ExpectInlineAccessInStep(b);
  b->Resize(2, true);  // shrink in place
  ExpectInlineAccessInStep(b);
  b->Resize(5, true);  // grow within the block
  ExpectInlineAccessInStep(b);
  b->Resize(9, true);  // a new block
  ExpectInlineAccessInStep(b);
  b->Resize(3, false);  // a new block without the contents
  b->SetValue(2.5);
  ExpectInlineAccessInStep(b);
  b->Resize(0, true);
  ExpectInlineAccessInStep(b);

  // Assign takes the other buffer's block and size.
  TBuffer src = TNXRealBuffer::MakeArray({7, 8, 9, 10});
  b->Assign(src);
  EXPECT_EQ(b->Read(), src->Read());
  ExpectInlineAccessInStep(b);

  // A write to a shared block moves the writer to its own copy; its inline
  // reads then see the copy, the other holder keeps the old values.
  b->SetItem(0, -1.0);
  EXPECT_NE(b->Read(), src->Read());
  EXPECT_EQ(b->Read()[0], -1.0);
  EXPECT_EQ(src->GetItem(0), 7.0);
  ExpectInlineAccessInStep(b);
  TBuffer c = TNXRealBuffer::MakeCopy(b);
  c->Add(src);  // c copies before adding; b is untouched
  EXPECT_EQ(Values(c), (std::vector<double>{6, 16, 18, 20}));
  EXPECT_EQ(Values(b), (std::vector<double>{-1, 8, 9, 10}));
  ExpectInlineAccessInStep(c);
  c->Add(c);  // a buffer added to itself
  EXPECT_EQ(Values(c), (std::vector<double>{12, 32, 36, 40}));
  // Copies made by GetDataCopy carry their own view of the shared block.
  TBuffer d = Supports<INXRealBuffer>(b->GetDataCopy());
  ASSERT_TRUE(d);
  EXPECT_EQ(d->GetItem(3), 10.0);
  ExpectInlineAccessInStep(d);
}

TEST(RealBufferTest, IsEqualComparesClassSizeAndBytes) {
  TBuffer a = TNXRealBuffer::MakeArray({1.0, 2.0});
  EXPECT_TRUE(a->IsEqual(TNXRealBuffer::MakeArray({1.0, 2.0})));
  EXPECT_TRUE(a->IsEqual(a));
  EXPECT_FALSE(a->IsEqual(TNXRealBuffer::MakeArray({1.0, 2.5})));
  EXPECT_FALSE(a->IsEqual(TNXRealBuffer::MakeArray({1.0})));
  EXPECT_FALSE(a->IsEqual(nullptr));
  EXPECT_TRUE(TNXRealBuffer::Make()->IsEqual(TNXRealBuffer::Make()));
  // Same bytes in a buffer of another class: not equal.
  TIntfPtr<INXLinearDataBuffer> bytes(new TNXLinearMemoryBuffer(16u, 1u));
  std::memcpy(bytes->ByteWrite(), a->Read(), 16);
  EXPECT_FALSE(a->IsEqual(bytes));
  EXPECT_TRUE(bytes->IsEqual(a)) << "the byte buffer compares bytes only";
}

TEST(RealBufferTest, CopyToCountsElementsBetweenRealBuffers) {
  TBuffer src = TNXRealBuffer::MakeArray({1, 2, 3, 4, 5});
  TBuffer dst = TNXRealBuffer::MakeValue(0.0, 6);
  TBuffer dstOther = TNXRealBuffer::MakeCopy(dst);
  src->CopyTo(1, dst, 2, 3);
  EXPECT_EQ(Values(dst), (std::vector<double>{0, 0, 2, 3, 4, 0}));
  EXPECT_EQ(Values(dstOther), (std::vector<double>(6, 0.0))) << "the target was made unique first";

  // Into a byte buffer the offsets and count are bytes.
  TIntfPtr<INXLinearDataBuffer> bytes(new TNXLinearMemoryBuffer(16u, 1u));
  std::memset(bytes->ByteWrite(), 0, 16);
  src->CopyTo(8, bytes, 4, 8);  // the bytes of element 1 to byte offset 4
  double v = 0;
  std::memcpy(&v, bytes->ByteRead() + 4, 8);
  EXPECT_EQ(v, 2.0);
}

TEST(RealBufferTest, DataCopyIsARealBufferWithCopiedCustomItems) {
  TBuffer a = TNXRealBuffer::MakeArray({1.0});
  TBuffer item = TNXRealBuffer::MakeArray({5.0});
  a->AddCustom(item);
  TIntfPtr<INXData> copy = a->GetDataCopy();
  TBuffer real = Supports<INXRealBuffer>(copy);
  ASSERT_TRUE(real);
  ASSERT_EQ(real->GetCustomCount(), 1);
  TBuffer copiedItem = Supports<INXRealBuffer>(real->GetCustom(0));
  EXPECT_FALSE(SameObject(copiedItem, item));
  EXPECT_EQ(copiedItem->GetItem(0), 5.0);
  EXPECT_THROW(real->GetCustom(1), ERangeError);
  EXPECT_THROW(real->GetCustom(-1), ERangeError);
}

}  // namespace
}  // namespace nx
