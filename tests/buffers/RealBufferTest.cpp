// The real buffer: construction, item access, resizing, comparison, copying
// between buffers, and the vector operations against expectations computed
// here element by element, with the access kind each takes on a shared block
// (read: no copy; write / modify: Self moves to a block of its own and the
// other holder keeps its values).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

#include "BufferTestSupport.h"

namespace nx {
namespace {

using namespace nxtest;
using TBuffer = TIntfPtr<INXRealBuffer>;
using TVec = std::vector<double>;

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

// A data object that is not a buffer.
class TPlainData : public TNXData {
 public:
  TIntfPtr<INXData> GetDataCopy() override { return TIntfPtr<INXData>(static_cast<INXData*>(new TPlainData)); }
};

TEST(RealBufferTest, SharingConstructorsShareTheBlock) {
  TBuffer a = TNXRealBuffer::MakeArray({1.0, 2.0, 3.0});
  a->AddCustom(TNXRealBuffer::MakeValue(5.0, 1));
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
  // A data copy's custom items are copies too; the list checks its index.
  TBuffer copiedItem = Supports<INXRealBuffer>(shares[3]->GetCustom(0));
  EXPECT_FALSE(SameObject(copiedItem, a->GetCustom(0)));
  EXPECT_EQ(copiedItem->GetItem(0), 5.0);
  EXPECT_THROW(shares[3]->GetCustom(1), ERangeError);
  EXPECT_THROW(shares[3]->GetCustom(-1), ERangeError);

  EXPECT_THROW(TNXRealBuffer::MakeCopy(nullptr), EArgumentException);
  EXPECT_THROW(TNXRealBuffer::MakeEx(nullptr), EArgumentException);
  EXPECT_THROW(TNXRealBuffer::MakeUniversal(nullptr), EArgumentException);
  TIntfPtr<INXData> plain(static_cast<INXData*>(new TPlainData));
  EXPECT_THROW(TNXRealBuffer::MakeUniversal(plain), EArgumentException);

  // Any buffer shares its bytes, read as 64-bit floats.
  TIntfPtr<INXLinearDataBuffer> bytes(new TNXLinearMemoryBuffer(16u, 1u));
  const double two[2] = {6.0, -7.0};
  std::memcpy(bytes->ByteWrite(), two, 16);
  TBuffer viaBytes = TNXRealBuffer::MakeUniversal(TIntfPtr<INXData>(bytes));
  EXPECT_EQ(Values(viaBytes), (std::vector<double>{6.0, -7.0}));
  EXPECT_EQ(viaBytes->ByteRead(), bytes->ByteRead());
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
    EXPECT_EQ(RangeMessage([&] { b->GetItem(c.Index); }), c.Message);
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

TEST(RealBufferTest, ResizeCases) {
  // To zero: true, empty, the block stays.
  {
    TBuffer b = TNXRealBuffer::MakeValue(1.0, 4);
    TNXSmartBuffer* block = BlockOf(b);
    EXPECT_TRUE(b->Resize(0, true));
    EXPECT_EQ(b->GetSize(), 0);
    EXPECT_EQ(BlockOf(b), block);
    ExpectInlineAccessInStep(b);
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
    ExpectInlineAccessInStep(b);
    EXPECT_TRUE(b->Resize(5, true));
    EXPECT_EQ(b->Read(), p);
    EXPECT_EQ(b->GetSize(), 5);
    EXPECT_EQ(b->GetItem(0), 1.0);
    EXPECT_EQ(b->GetItem(1), 2.0);
    EXPECT_EQ(Stores(), stores);
    ExpectInlineAccessInStep(b);
    // Beyond the block: a new block of exactly the size asked for, contents kept.
    EXPECT_TRUE(b->Resize(7, true));
    EXPECT_NE(b->Read(), p);
    EXPECT_EQ(BlockOf(b)->GetSize(), 56u);
    EXPECT_EQ(b->GetItem(0), 1.0);
    EXPECT_EQ(b->GetItem(1), 2.0);
    ExpectInlineAccessInStep(b);
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
    b->SetValue(2.5);
    ExpectInlineAccessInStep(b);
  }
  TBuffer b = TNXRealBuffer::MakeSize(1);
  EXPECT_THROW(b->Resize(0x20000000u, false), EIntOverflow);
  EXPECT_EQ(b->GetSize(), 1);
}

// The resizes are checked above; Assign, copy on write and Add move the data too.
TEST(RealBufferTest, InlineAccessFollowsEveryChangeOfTheData) {
  TBuffer b = TNXRealBuffer::MakeArray({1, 2, 3, 4, 5, 6});
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

TBuffer Make(const TVec& v) { return TNXRealBuffer::MakeArrayList(v); }

void ExpectNear(const TVec& actual, const TVec& expected, double relTol = 1e-13) {
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < actual.size(); ++i) {
    if (std::isnan(expected[i])) {
      EXPECT_TRUE(std::isnan(actual[i])) << "at " << i;
    } else if (std::isinf(expected[i])) {
      EXPECT_EQ(actual[i], expected[i]) << "at " << i;
    } else {
      EXPECT_NEAR(actual[i], expected[i], relTol * std::max(1.0, std::fabs(expected[i]))) << "at " << i;
    }
  }
}

const TVec kInput = {0.5, -1.25, 3.0, 4.0, -7.5, 10.0, 2.25, -0.125, 6.0};
const TVec kPositive = {0.5, 1.25, 3.0, 4.0, 7.5, 10.0, 2.25, 0.125, 6.0};

TVec Map(const TVec& v, const std::function<double(double)>& f) {
  TVec out;
  for (double x : v) out.push_back(f(x));
  return out;
}

// In-place and filling operations: applied to a buffer shared with a second
// holder, Self gets the result on a block of its own and the other holder
// keeps the input.
TEST(RealBufferOperationsTest, InPlaceOperations) {
  struct TCase {
    const char* Name;
    std::function<void(const TBuffer&)> Op;
    std::function<double(double)> Expected;
    const TVec* Input;
  };
  const TCase cases[] = {
      {"AddValue", [](const TBuffer& b) { b->AddValue(2.5); }, [](double x) { return x + 2.5; }, &kInput},
      {"SubtractValue", [](const TBuffer& b) { b->SubtractValue(2.5); }, [](double x) { return x - 2.5; }, &kInput},
      {"MultiplyValue", [](const TBuffer& b) { b->MultiplyValue(-3.0); }, [](double x) { return x * -3.0; }, &kInput},
      {"DivideValue", [](const TBuffer& b) { b->DivideValue(4.0); }, [](double x) { return x / 4.0; }, &kInput},
      {"Sqr", [](const TBuffer& b) { b->Sqr(); }, [](double x) { return x * x; }, &kInput},
      {"Sqrt", [](const TBuffer& b) { b->Sqrt(); }, [](double x) { return std::sqrt(x); }, &kPositive},
      {"Abs", [](const TBuffer& b) { b->Abs(); }, [](double x) { return std::fabs(x); }, &kInput},
      {"Exp", [](const TBuffer& b) { b->Exp(); }, [](double x) { return std::exp(x); }, &kInput},
      {"Ln", [](const TBuffer& b) { b->Ln(); }, [](double x) { return std::log(x); }, &kPositive},
      {"ThresholdGreater", [](const TBuffer& b) { b->Threshold(2.0, ttGreaterThan); },
       [](double x) { return x > 2.0 ? 2.0 : x; }, &kInput},
      {"ThresholdLess", [](const TBuffer& b) { b->Threshold(-1.0, ttLessThan); },
       [](double x) { return x < -1.0 ? -1.0 : x; }, &kInput},
      // Write access: the copy need not keep the contents.
      {"SetValue", [](const TBuffer& b) { b->SetValue(-3.5); }, [](double) { return -3.5; }, &kInput},
      {"Zero", [](const TBuffer& b) { b->Zero(); }, [](double) { return 0.0; }, &kInput},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TBuffer a = Make(*c.Input);
    TBuffer other = TNXRealBuffer::MakeCopy(a);
    const int stores = Stores();
    c.Op(a);
    EXPECT_EQ(Stores(), stores + 1);
    ExpectNear(Values(a), Map(*c.Input, c.Expected));
    EXPECT_EQ(Values(other), *c.Input);
    // Unshared now: the next call works in place.
    const double* p = a->Read();
    c.Op(a);
    EXPECT_EQ(a->Read(), p);
  }
}

// Operations that overwrite every element (write access) from a source.
TEST(RealBufferOperationsTest, FromOperationsWriteNElements) {
  struct TCase {
    const char* Name;
    std::function<void(const TBuffer&, const TBuffer&)> Op;
    std::function<double(double)> Expected;
    const TVec* Input;
  };
  const TCase cases[] = {
      {"SqrFrom", [](const TBuffer& d, const TBuffer& s) { d->SqrFrom(s); }, [](double x) { return x * x; }, &kInput},
      {"SqrtFrom", [](const TBuffer& d, const TBuffer& s) { d->SqrtFrom(s); }, [](double x) { return std::sqrt(x); },
       &kPositive},
      {"AbsFrom", [](const TBuffer& d, const TBuffer& s) { d->AbsFrom(s); }, [](double x) { return std::fabs(x); },
       &kInput},
      {"ExpFrom", [](const TBuffer& d, const TBuffer& s) { d->ExpFrom(s); }, [](double x) { return std::exp(x); },
       &kInput},
      {"LnFrom", [](const TBuffer& d, const TBuffer& s) { d->LnFrom(s); }, [](double x) { return std::log(x); },
       &kPositive},
      {"NormalizeFrom", [](const TBuffer& d, const TBuffer& s) { d->NormalizeFrom(s, 1.5, 4.0); },
       [](double x) { return (x - 1.5) / 4.0; }, &kInput},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const TVec& in = *c.Input;
    TBuffer src = Make(in);
    // A longer Self: only the first n elements are written.
    TBuffer self = TNXRealBuffer::MakeValue(42.0, static_cast<std::uint32_t>(in.size() + 3));
    c.Op(self, src);
    TVec expected = Map(in, c.Expected);
    expected.insert(expected.end(), 3, 42.0);
    ExpectNear(Values(self), expected);
    // A shorter Self: reads only its own size from the source.
    TBuffer small = TNXRealBuffer::MakeSize(4);
    c.Op(small, src);
    ExpectNear(Values(small), TVec(expected.begin(), expected.begin() + 4));
    // The source may be a buffer that shares Self's block: Self moves away.
    TBuffer shared = Make(in);
    TBuffer sharer = TNXRealBuffer::MakeCopy(shared);
    c.Op(shared, sharer);
    ExpectNear(Values(shared), Map(in, c.Expected));
    EXPECT_EQ(Values(sharer), in);
  }
}

TEST(RealBufferOperationsTest, BinaryOperationsUseTheShorterLength) {
  struct TCase {
    const char* Name;
    std::function<void(const TBuffer&, const TBuffer&)> Op;
    std::function<double(double, double)> Expected;
  };
  const TCase cases[] = {
      {"Add", [](const TBuffer& a, const TBuffer& b) { a->Add(b); }, [](double x, double y) { return x + y; }},
      {"Subtract", [](const TBuffer& a, const TBuffer& b) { a->Subtract(b); }, [](double x, double y) { return x - y; }},
      {"Multiply", [](const TBuffer& a, const TBuffer& b) { a->Multiply(b); }, [](double x, double y) { return x * y; }},
      {"Divide", [](const TBuffer& a, const TBuffer& b) { a->Divide(b); }, [](double x, double y) { return x / y; }},
  };
  const TVec five = {10.0, -20.0, 30.0, 40.0, 50.0};
  const TVec three = {2.0, 4.0, -8.0};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TBuffer a = Make(five);
    TBuffer other = TNXRealBuffer::MakeCopy(a);
    c.Op(a, Make(three));
    EXPECT_EQ(Values(a), (TVec{c.Expected(10, 2), c.Expected(-20, 4), c.Expected(30, -8), 40.0, 50.0}));
    EXPECT_EQ(Values(other), five);
    // A longer operand is read only up to Self's size.
    TBuffer b = Make(three);
    c.Op(b, Make(five));
    EXPECT_EQ(Values(b), (TVec{c.Expected(2, 10), c.Expected(4, -20), c.Expected(-8, 30)}));
    // With itself as the operand, through a second holder of the block.
    TBuffer s = Make(three);
    TBuffer sCopy = TNXRealBuffer::MakeCopy(s);
    c.Op(s, sCopy);
    EXPECT_EQ(Values(s), (TVec{c.Expected(2, 2), c.Expected(4, 4), c.Expected(-8, -8)}));
    EXPECT_EQ(Values(sCopy), three);
  }
}

TEST(RealBufferOperationsTest, DivideRepairsDivisionByZero) {
  TBuffer a = Make({2.0, -2.0, 0.0});
  a->Divide(Make({0.0, 0.0, 0.0}));
  EXPECT_EQ(Values(a), (TVec{1e15, -1e14, -1e14}));

  const double nan = std::numeric_limits<double>::quiet_NaN();
  TBuffer b = Make({6.0, 1.0, -3.0, nan, 9.0});
  b->Divide(Make({2.0, 0.0, 0.0, 0.0, 3.0}));
  EXPECT_EQ(Values(b), (TVec{3.0, 1e15, -1e14, -1e14, 3.0}));

  // Only elements whose divisor is zero are touched: a genuine infinity stays.
  const double inf = std::numeric_limits<double>::infinity();
  TBuffer c = Make({inf, 1.0});
  c->Divide(Make({1.0, 0.0}));
  EXPECT_EQ(Values(c), (TVec{inf, 1e15}));

  // A buffer divided by itself still finds its zero divisors.
  TBuffer d = Make({4.0, 0.0, -2.0});
  d->Divide(d);
  EXPECT_EQ(Values(d), (TVec{1.0, -1e14, 1.0}));
}

TEST(RealBufferOperationsTest, VectorJaehne) {
  TBuffer j = TNXRealBuffer::MakeSize(16);
  j->VectorJaehne(2.0);
  for (int k = 0; k < 16; ++k) EXPECT_NEAR(j->GetItem(k), 2.0 * std::sin(0.5 * M_PI * k * k / 16.0), 1e-12) << k;
}

TEST(RealBufferOperationsTest, DivideValueByZeroOrOneTouchesNothing) {
  for (double v : {0.0, 1.0}) {
    TBuffer a = Make(kInput);
    TBuffer other = TNXRealBuffer::MakeCopy(a);
    const int stores = Stores();
    a->DivideValue(v);
    EXPECT_EQ(Stores(), stores);
    EXPECT_EQ(a->Read(), other->Read());
    EXPECT_EQ(Values(a), kInput);
  }
}

// Normalize works out of place even on an unshared block.
TEST(RealBufferOperationsTest, NormalizeOnASharedBufferLeavesTheOtherHolder) {
  TBuffer a = Make(kInput);
  TBuffer other = TNXRealBuffer::MakeCopy(a);
  a->Normalize(1.0, 2.0);
  ExpectNear(Values(a), Map(kInput, [](double x) { return (x - 1.0) / 2.0; }));
  EXPECT_EQ(Values(other), kInput);
  TBuffer b = Make(kInput);
  b->Normalize(1.0, 2.0);
  EXPECT_EQ(Values(b), Values(a));
}

TEST(RealBufferOperationsTest, Conversions) {
  TBuffer a = Make({2.5, 3.5, -2.5, -2.7, 2.7, 0.0});
  std::int32_t i32[6] = {};
  a->ToInt(i32, true);
  EXPECT_EQ(std::vector<std::int32_t>(i32, i32 + 6), (std::vector<std::int32_t>{2, 4, -2, -3, 3, 0}));
  a->ToInt(i32, false);
  EXPECT_EQ(std::vector<std::int32_t>(i32, i32 + 6), (std::vector<std::int32_t>{2, 3, -2, -2, 2, 0}));

  std::int16_t i16[6] = {};
  a->ToShort(i16, true);
  EXPECT_EQ(std::vector<std::int16_t>(i16, i16 + 6), (std::vector<std::int16_t>{2, 4, -2, -3, 3, 0}));
  a->ToShort(i16, false);
  EXPECT_EQ(std::vector<std::int16_t>(i16, i16 + 6), (std::vector<std::int16_t>{2, 3, -2, -2, 2, 0}));

  // Out of range: the elements before the bad one are converted.
  std::int16_t out[4] = {9, 9, 9, 9};
  EXPECT_THROW(Make({1.0, -32768.0, 40000.0, 5.0})->ToShort(out, false), ERangeError);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[1], -32768);
  EXPECT_EQ(out[3], 9);
  EXPECT_THROW(Make({32767.5})->ToShort(out, true), ERangeError);  // rounds to 32768
  EXPECT_NO_THROW(Make({32767.5})->ToShort(out, false));
  EXPECT_THROW(Make({std::numeric_limits<double>::quiet_NaN()})->ToShort(out, false), ERangeError);
  EXPECT_NO_THROW(TNXRealBuffer::Make()->ToShort(nullptr, true));

  float f[3] = {};
  Make({0.5, -1.0, 0.1})->ToSingle(f);
  EXPECT_EQ(f[0], 0.5f);
  EXPECT_EQ(f[1], -1.0f);
  EXPECT_EQ(f[2], 0.1f);

  TBuffer d = TNXRealBuffer::MakeValue(7.0, 3);
  TBuffer dOther = TNXRealBuffer::MakeCopy(d);
  const std::int32_t ints[3] = {-5, 0, 2147483647};
  d->FromInt(ints);
  EXPECT_EQ(Values(d), (TVec{-5.0, 0.0, 2147483647.0}));
  EXPECT_EQ(Values(dOther), TVec(3, 7.0));
  const std::int16_t shorts[3] = {-32768, 1, 32767};
  d->FromShort(shorts);
  EXPECT_EQ(Values(d), (TVec{-32768.0, 1.0, 32767.0}));
  const float singles[3] = {0.25f, -8.0f, 3.5f};
  d->FromSingle(singles);
  EXPECT_EQ(Values(d), (TVec{0.25, -8.0, 3.5}));
}

TEST(RealBufferOperationsTest, ReductionsReadWithoutCopying) {
  TBuffer a = Make(kInput);
  TBuffer other = TNXRealBuffer::MakeCopy(a);
  const int stores = Stores();
  double sum = 0, sq = 0;
  for (double x : kInput) sum += x;
  const double mean = sum / kInput.size();
  for (double x : kInput) sq += (x - mean) * (x - mean);
  EXPECT_NEAR(a->Mean(), mean, 1e-13);
  EXPECT_NEAR(a->StdDev(), std::sqrt(sq / (kInput.size() - 1)), 1e-12);

  const TVec w = {1.0, 2.0, 3.0};
  EXPECT_DOUBLE_EQ(a->Dot(Make(w)), 0.5 * 1 - 1.25 * 2 + 3.0 * 3);  // n = 3

  const TVec b = Map(kInput, [](double x) { return x * 0.5 + 1.0; });
  double l1 = 0, l2 = 0, linf = 0;
  for (std::size_t i = 0; i < b.size(); ++i) {
    const double d = std::fabs(kInput[i] - b[i]);
    l1 += d;
    l2 += d * d;
    linf = std::max(linf, d);
  }
  EXPECT_NEAR(a->Norm(Make(b), ntL1Norm), l1, 1e-12);
  EXPECT_NEAR(a->Norm(Make(b), ntL2Norm), std::sqrt(l2), 1e-12);
  EXPECT_EQ(a->Norm(Make(b), ntCNorm), linf);
  EXPECT_THROW(a->Norm(Make({1.0}), ntL1Norm), ERangeError);

  EXPECT_EQ(a->GetMinValue(), -7.5);
  EXPECT_EQ(a->GetMaxValue(), 10.0);
  std::int32_t idx = -1;
  EXPECT_EQ(a->GetMinIndex(idx), -7.5);
  EXPECT_EQ(idx, 4);
  EXPECT_EQ(a->GetMaxIndex(idx), 10.0);
  EXPECT_EQ(idx, 5);
  EXPECT_TRUE(Make({2.0, 2.0})->IsEqualToValue(2.0));
  EXPECT_FALSE(Make({2.0, 2.0000001})->IsEqualToValue(2.0));
  EXPECT_TRUE(TNXRealBuffer::Make()->IsEqualToValue(5.0));

  EXPECT_EQ(Stores(), stores + 0) << "reads never copy (the temporaries above are released)";
  EXPECT_EQ(a->Read(), other->Read());
}

TEST(RealBufferOperationsTest, MinMaxRanges) {
  TBuffer a = Make({5.0, 1.0, 3.0, 0.0});
  std::int32_t idx = -1;
  EXPECT_EQ(a->GetMinIndexFrom(2, idx), 0.0);
  EXPECT_EQ(idx, 3);
  EXPECT_EQ(a->GetMaxIndexFrom(1, idx), 3.0);
  EXPECT_EQ(idx, 2);
  EXPECT_EQ(a->GetMaxIndexFrom(-4, idx), 5.0);  // negative begin counts as 0
  EXPECT_EQ(idx, 0);
  EXPECT_EQ(a->GetMinIndexFrom(4, idx), 0.0);  // begin past the end
  EXPECT_EQ(idx, 4);
  EXPECT_EQ(Make({7.0, 9.0})->GetMaxIndexFrom(9, idx), 0.0);
  EXPECT_EQ(idx, 9);

  struct TCase {
    std::int32_t Begin, End;
    double Min, Max;
  };
  const TCase cases[] = {
      {1, 3, 1.0, 3.0},     // elements 1 and 2
      {0, 4, 0.0, 5.0},     // all
      {-5, 2, 1.0, 5.0},    // negative begin becomes 0
      {2, 100, 0.0, 3.0},   // end capped at the size
      {9, 100, 0.0, 0.0},   // begin past the end moves to the last element
      {0, 1, 5.0, 5.0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.Begin << ".." << c.End);
    EXPECT_EQ(a->GetMin(c.Begin, c.End), c.Min);
    EXPECT_EQ(a->GetMax(c.Begin, c.End), c.Max);
  }
  // Empty ranges and buffers give 0 and read nothing.
  EXPECT_EQ(a->GetMin(3, 1), 0.0);
  EXPECT_EQ(TNXRealBuffer::Make()->GetMax(0, 5), 0.0);
  EXPECT_EQ(TNXRealBuffer::Make()->GetMinIndex(idx), 0.0);
}

TEST(RealBufferOperationsTest, RestrictedExtremesSkipNonFiniteValues) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double big = 1.7976931348623157e308;
  TBuffer a = Make({inf, 4.0, -2.0, nan});
  EXPECT_EQ(a->GetMinRestricted(0, 3), -2.0);
  EXPECT_EQ(a->GetMaxRestricted(0, 3), 4.0);
  EXPECT_EQ(Make({inf, 4.0, 5.0})->GetMinRestricted(0, 3), 0.0);  // starts at 0 after the infinity
  EXPECT_EQ(Make({-big, -3.0, big})->GetMinRestricted(0, 2), -3.0);  // the limits themselves are excluded
  EXPECT_EQ(Make({-big, -3.0, big})->GetMaxRestricted(0, 2), 0.0);
  EXPECT_EQ(Make({-big, 3.0, big})->GetMaxRestricted(0, 2), 3.0);
  EXPECT_EQ(Make({1.0, 9.0, 2.0, 8.0})->GetMaxRestricted(2, 2), 2.0);  // inclusive end
  EXPECT_EQ(Make({1.0, 9.0, 2.0, 8.0})->GetMaxRestricted(-3, 1), 9.0);
  EXPECT_EQ(Make({1.0, 9.0, 2.0, 8.0})->GetMinRestricted(2, 50), 2.0);
  EXPECT_EQ(Make({1.0, 9.0, 2.0})->GetMinRestricted(2, 1), 0.0);  // begin after end
  EXPECT_EQ(TNXRealBuffer::Make()->GetMaxRestricted(0, 0), 0.0);
}

TEST(RealBufferOperationsTest, Correlations) {
  const TVec x = {1.0, -2.0, 3.0, 0.5, 4.0};
  const int n = static_cast<int>(x.size());
  for (TNXAutoCorrType type : {actNormal, actBiased, actUnbiased}) {
    SCOPED_TRACE(static_cast<int>(type));
    TBuffer self = TNXRealBuffer::MakeSize(static_cast<std::uint32_t>(n));
    self->AutoCorr(Make(x), type);
    TVec expected;
    for (int k = 0; k < n; ++k) {
      double s = 0;
      for (int i = 0; i + k < n; ++i) s += x[i] * x[i + k];
      if (type == actBiased) s /= n;
      if (type == actUnbiased) s /= (n - k);
      expected.push_back(s);
    }
    ExpectNear(Values(self), expected);
  }
  EXPECT_THROW(TNXRealBuffer::MakeSize(6)->AutoCorr(Make(x), actNormal), ERangeError);

  const TVec y = {0.5, 1.0, -1.0};
  for (int lag : {-3, 0, 2}) {
    SCOPED_TRACE(lag);
    TBuffer self = TNXRealBuffer::MakeSize(4);
    self->CrossCorr(Make(x), Make(y), lag);
    TVec expected;
    for (int k = 0; k < 4; ++k) {
      double s = 0;
      for (int i = 0; i < n; ++i) {
        const int j = i + k + lag;
        if (j >= 0 && j < static_cast<int>(y.size())) s += x[i] * y[j];
      }
      expected.push_back(s);
    }
    ExpectNear(Values(self), expected);
  }
}

TEST(RealBufferOperationsTest, ThresholdFromReadsSelfsSize) {
  TBuffer self = TNXRealBuffer::MakeSize(4);
  self->ThresholdFrom(Make({1.0, 5.0, -3.0, 2.0, 9.0}), 2.0, ttGreaterThan);
  EXPECT_EQ(Values(self), (TVec{1.0, 2.0, -3.0, 2.0}));
  self->ThresholdFrom(Make({1.0, 5.0, -3.0, 2.0}), 0.0, ttLessThan);
  EXPECT_EQ(Values(self), (TVec{1.0, 5.0, 0.0, 2.0}));
  EXPECT_THROW(self->ThresholdFrom(Make({1.0}), 0.0, ttLessThan), ERangeError);
}

TEST(RealBufferOperationsTest, ConvolveResizesSelf) {
  const TVec a = {1.0, 2.0, 3.0, 4.0}, b = {0.5, -1.0, 2.0};
  TVec expected(a.size() + b.size() - 1, 0.0);
  for (std::size_t i = 0; i < a.size(); ++i)
    for (std::size_t j = 0; j < b.size(); ++j) expected[i + j] += a[i] * b[j];

  TBuffer self = TNXRealBuffer::MakeSize(1);
  self->Convolve(Make(a), Make(b));
  EXPECT_EQ(self->GetSize(), 6);
  ExpectNear(Values(self), expected);

  // Self as a source, shared with another holder.
  TBuffer s = Make(a);
  TBuffer sOther = TNXRealBuffer::MakeCopy(s);
  s->Convolve(s, Make(b));
  ExpectNear(Values(s), expected);
  EXPECT_EQ(Values(sOther), a);
  // Self as a source, not shared.
  TBuffer t = Make(a);
  t->Convolve(Make(b), t);
  ExpectNear(Values(t), expected);

  EXPECT_THROW(self->Convolve(TNXRealBuffer::Make(), TNXRealBuffer::Make()), EIntOverflow);
}

}  // namespace
}  // namespace nx
