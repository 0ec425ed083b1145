// The real buffer and its vector operations, on shared blocks (reads never copy, writes move Self away).
#include <limits>

#include "BufferTestSupport.h"

namespace nx {
namespace {

using namespace nxtest;
using TBuffer = TIntfPtr<INXRealBuffer>;
using TVec = std::vector<double>;

TBuffer Make(const TVec& v) { return TNXRealBuffer::MakeArrayList(v); }

// A data object that is not a buffer.
class TPlainData : public TNXData {
 public:
  TIntfPtr<INXData> GetDataCopy() override { return TIntfPtr<INXData>(static_cast<INXData*>(new TPlainData)); }
};

// The copying factories: each holds its own copy of the values given.
TEST(RealBufferTest, FactoriesCopyTheirSources) {
  double src[4] = {1.5, -2.0, 3.25, 0.0};
  const float f[3] = {0.5f, -1.25f, 3.0f};
  const std::int64_t s64[3] = {-(std::int64_t{1} << 40), -8, std::int64_t{1} << 53};
  const std::uint8_t u8[3] = {0, 200, 255};
  const TVec list = {9.0, 8.0, 7.0};
  const std::tuple<const char*, TBuffer, TVec> cases[] = {
      {"Data", TNXRealBuffer::MakeData(src, 4), {1.5, -2.0, 3.25, 0.0}},
      {"Value", TNXRealBuffer::MakeValue(2.5, 3), {2.5, 2.5, 2.5}},
      {"ValueEmpty", TNXRealBuffer::MakeValue(1.0, 0), {}},
      {"Single", TNXRealBuffer::MakeSingleData(f, 3), {0.5, -1.25, 3.0}},
      {"ArrayList", TNXRealBuffer::MakeArrayList(list), list},
      {"Span", TNXRealBuffer::MakeArray(std::span<const double>(list)), list},
      // Integer sources: each element converted, then divided unless the divisor is exactly 1.
      {"Int64", TNXRealBuffer::MakeInt64Data(s64, 3), {-1099511627776.0, -8, 9007199254740992.0}},
      {"Byte / 4", TNXRealBuffer::MakeByteData(u8, 3, 4.0), {0, 50, 63.75}},
  };
  src[0] = 100.0;  // the buffers hold copies
  for (const auto& [name, buffer, expected] : cases) EXPECT_EQ(Values(buffer), expected) << name;
  EXPECT_EQ(TNXRealBuffer::MakeData(nullptr, 3)->GetSize(), 3);  // a null source copies nothing
  for (const TBuffer& e : {TNXRealBuffer::MakeWordData(nullptr, 2), TNXRealBuffer::MakeSmallIntData(nullptr, 2),
                           TNXRealBuffer::MakeCardinalData(nullptr, 2), TNXRealBuffer::MakeIntegerData(nullptr, 2),
                           TNXRealBuffer::MakeUInt64Data(nullptr, 2)})
    EXPECT_EQ(e->GetSize(), 2);  // every integer source type has a constructor of its own
  EXPECT_EQ(TNXRealBuffer::Make()->Read(), nullptr);
  // Aligned for vector loads and sized exactly; more elements than 32 bits of bytes hold are refused.
  TBuffer s = TNXRealBuffer::MakeSize(5);
  EXPECT_EQ(std::tuple(reinterpret_cast<std::uintptr_t>(s->Read()) % 32, BlockOf(s)->GetSize()), std::tuple(0u, 40u));
  EXPECT_THROW(TNXRealBuffer::MakeSize(0x20000000u), EIntOverflow);
  TBuffer a = TNXRealBuffer::MakeArray({1.0, 2.0, 3.0});
  a->AddCustom(TNXRealBuffer::MakeValue(5.0, 1));
  const int stores = Stores();
  auto* obj = dynamic_cast<TNXRealBuffer*>(a->GetInstance());
  const TBuffer shares[] = {TNXRealBuffer::MakeEx(obj), TNXRealBuffer::MakeCopy(a),
                            TNXRealBuffer::MakeUniversal(TIntfPtr<INXData>(a)),
                            TNXRealBuffer::MakeUniversal(a->GetDataCopy())};
  EXPECT_EQ(Stores(), stores);
  for (const TBuffer& s : shares)
    EXPECT_EQ(std::tuple(s->Read(), s->GetSize(), s->GetCustomCount()), std::tuple(a->Read(), 3, 1));
  EXPECT_EQ(BlockOf(a)->OwnerCount(), 5);  // a and the four
  // A data copy's custom items are copies too; the list checks its index.
  TBuffer copiedItem = Supports<INXRealBuffer>(shares[3]->GetCustom(0));
  EXPECT_FALSE(SameObject(copiedItem, a->GetCustom(0)));
  EXPECT_EQ(copiedItem->GetItem(0), 5.0);
  EXPECT_THROW(shares[3]->GetCustom(1), ERangeError);
  EXPECT_THROW(TNXRealBuffer::MakeCopy(nullptr), EArgumentException);
  EXPECT_THROW(TNXRealBuffer::MakeEx(nullptr), EArgumentException);
  EXPECT_THROW(TNXRealBuffer::MakeUniversal(nullptr), EArgumentException);
  EXPECT_THROW(TNXRealBuffer::MakeUniversal(TIntfPtr<INXData>(static_cast<INXData*>(new TPlainData))),
               EArgumentException);
  // Any buffer shares its bytes, read as 64-bit floats.
  TIntfPtr<INXLinearDataBuffer> bytes(new TNXLinearMemoryBuffer(16u, 1u));
  const double two[2] = {6.0, -7.0};
  std::memcpy(bytes->ByteWrite(), two, 16);
  TBuffer viaBytes = TNXRealBuffer::MakeUniversal(TIntfPtr<INXData>(bytes));
  EXPECT_EQ(std::tuple(Values(viaBytes), viaBytes->ByteRead()), std::tuple(TVec{6.0, -7.0}, bytes->ByteRead()));
  TBuffer b = TNXRealBuffer::MakeArray({1.0, 2.0, 3.0});
  for (const auto& [index, message] : {std::pair{-1, "Index out of range = 4294967295"}, std::pair{3, "Index out of range = 3"}}) {
    EXPECT_EQ(RangeMessage([&] { b->GetItem(index); }), message);
    EXPECT_THROW(b->SetItem(index, 1.0), ERangeError);
  }
  // A bad index on a shared buffer copies nothing.
  TBuffer other = TNXRealBuffer::MakeCopy(b);
  const int before = Stores();
  EXPECT_THROW(b->SetItem(3, 1.0), ERangeError);
  EXPECT_EQ(std::tuple(Stores(), b->Read()), std::tuple(before, other->Read()));
}

// Item access and Mean are inline on a copy of the data pointer and size, which must stay in step.
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
  // Sizes applied in turn to a ramp 1, 2, ...: the last call's result, whether the block stays, its bytes.
  struct TCase {
    const char* Name; std::uint32_t Start; std::vector<std::uint32_t> Sizes; bool Preserve, Changed, SameBlock;
    std::uint32_t BlockBytes;
  } cases[] = {
      {"to zero keeps the block", 4, {0}, true, true, true, 32},
      {"to the current size", 4, {4}, false, false, true, 32},
      {"shrink, grow back within the block", 6, {2, 5}, true, true, true, 48},
      {"grow beyond the block: exactly the size asked", 6, {2, 5, 7}, true, true, false, 56},
      {"without preservation any change reallocates", 8, {3}, false, true, false, 24},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TBuffer b = Ramp(c.Start, 1.0);
    TNXSmartBuffer* block = BlockOf(b);
    const double* p = b->Read();
    bool changed = false;
    for (std::uint32_t size : c.Sizes) {
      changed = b->Resize(size, c.Preserve);
      ExpectInlineAccessInStep(b);
    }
    EXPECT_EQ(std::tuple(changed, b->GetSize(), BlockOf(b)->GetSize()),
              std::tuple(c.Changed, static_cast<std::int32_t>(c.Sizes.back()), c.BlockBytes));
    EXPECT_EQ(BlockOf(b) == block && (b->GetSize() == 0 || b->Read() == p), c.SameBlock);
    if (c.Preserve && b->GetSize() > 0) {
      EXPECT_EQ(std::tuple(b->GetItem(0), b->GetItem(1)), std::tuple(1.0, 2.0));
    }
  }
  EXPECT_TRUE(TNXRealBuffer::Make()->Resize(0, false));
  // A shared block: shrinking with preservation keeps it; growing copies.
  TBuffer a = TNXRealBuffer::MakeArray({1, 2, 3, 4}), b = TNXRealBuffer::MakeCopy(a);
  EXPECT_TRUE(b->Resize(2, true));
  EXPECT_EQ(b->Read(), a->Read());
  EXPECT_TRUE(b->Resize(3, true));
  EXPECT_NE(b->Read(), a->Read());
  EXPECT_EQ(std::tuple(Values(b)[1], Values(a)), std::tuple(2.0, TVec{1, 2, 3, 4}));
  ExpectInlineAccessInStep(b);
  EXPECT_THROW(b->Resize(0x20000000u, false), EIntOverflow);
  EXPECT_EQ(b->GetSize(), 3);
  b->Assign(a);  // Assign moves the data too
  ExpectInlineAccessInStep(b);
}

TEST(RealBufferTest, IsEqualAndCopyTo) {
  TBuffer a = TNXRealBuffer::MakeArray({1.0, 2.0});
  EXPECT_EQ(std::tuple(a->IsEqual(Make({1.0, 2.0})), a->IsEqual(a), a->IsEqual(Make({1.0, 2.5})), a->IsEqual(Make({1.0})),
                       a->IsEqual(nullptr), TNXRealBuffer::Make()->IsEqual(TNXRealBuffer::Make())),
            std::tuple(true, true, false, false, false, true));
  // Same bytes in a buffer of another class: not equal (the byte buffer compares bytes only).
  TIntfPtr<INXLinearDataBuffer> bytes(new TNXLinearMemoryBuffer(16u, 1u));
  std::memcpy(bytes->ByteWrite(), a->Read(), 16);
  EXPECT_EQ(std::tuple(a->IsEqual(bytes), bytes->IsEqual(a)), std::tuple(false, true));
  // Between real buffers CopyTo counts elements; the target is made unique first.
  TBuffer src = TNXRealBuffer::MakeArray({1, 2, 3, 4, 5}), dst = TNXRealBuffer::MakeValue(0.0, 6);
  TBuffer dstOther = TNXRealBuffer::MakeCopy(dst);
  src->CopyTo(1, dst, 2, 3);
  EXPECT_EQ(std::tuple(Values(dst), Values(dstOther)), std::tuple(TVec{0, 0, 2, 3, 4, 0}, TVec(6, 0.0)));
  // Into a byte buffer the offsets and count are bytes: element 1 to byte offset 4.
  std::memset(bytes->ByteWrite(), 0, 16);
  src->CopyTo(8, bytes, 4, 8);
  double v = 0;
  std::memcpy(&v, bytes->ByteRead() + 4, 8);
  EXPECT_EQ(v, 2.0);
}

const TVec kInput = {0.5, -1.25, 3.0, 4.0, -7.5, 10.0, 2.25, -0.125, 6.0};
const TVec kPositive = {0.5, 1.25, 3.0, 4.0, 7.5, 10.0, 2.25, 0.125, 6.0};

TVec Map(TVec v, const std::function<double(double)>& f) {
  for (double& x : v) x = f(x);
  return v;
}

using TUnary = std::function<void(const TBuffer&)>;
using TFrom = std::function<void(const TBuffer&, const TBuffer&)>;
using TFunc = std::function<double(double)>;

// In place, on a shared block Self copies once and the other holder keeps its values; then it stays.
TEST(RealBufferOperationsTest, InPlaceOperations) {
  const std::tuple<const char*, TUnary, TFunc, const TVec*> cases[] = {
      {"AddValue", [](const TBuffer& b) { b->AddValue(2.5); }, [](double x) { return x + 2.5; }, &kInput},
      {"SubtractValue", [](const TBuffer& b) { b->SubtractValue(2.5); }, [](double x) { return x - 2.5; }, &kInput},
      {"MultiplyValue", [](const TBuffer& b) { b->MultiplyValue(-3.0); }, [](double x) { return x * -3.0; }, &kInput},
      {"DivideValue", [](const TBuffer& b) { b->DivideValue(4.0); }, [](double x) { return x / 4.0; }, &kInput},
      {"Sqr", &INXRealBuffer::Sqr, [](double x) { return x * x; }, &kInput},
      {"Sqrt", &INXRealBuffer::Sqrt, [](double x) { return std::sqrt(x); }, &kPositive},
      {"Abs", &INXRealBuffer::Abs, [](double x) { return std::fabs(x); }, &kInput},
      {"Exp", &INXRealBuffer::Exp, [](double x) { return std::exp(x); }, &kInput},
      {"Ln", &INXRealBuffer::Ln, [](double x) { return std::log(x); }, &kPositive},
      {"ThresholdGreater", [](const TBuffer& b) { b->Threshold(2.0, ttGreaterThan); },
       [](double x) { return x > 2.0 ? 2.0 : x; }, &kInput},
      {"ThresholdLess", [](const TBuffer& b) { b->Threshold(-1.0, ttLessThan); },
       [](double x) { return x < -1.0 ? -1.0 : x; }, &kInput},
      {"SetValue", [](const TBuffer& b) { b->SetValue(-3.5); }, [](double) { return -3.5; }, &kInput},
      {"Zero", &INXRealBuffer::Zero, [](double) { return 0.0; }, &kInput},
  };
  for (const auto& [name, op, expected, input] : cases) {
    SCOPED_TRACE(name);
    TBuffer a = Make(*input), other = TNXRealBuffer::MakeCopy(a);
    op(a);
    ExpectNear(Values(a), Map(*input, expected));
    EXPECT_EQ(Values(other), *input);
    const double* p = a->Read();
    op(a);
    EXPECT_EQ(a->Read(), p);
  }
  // Operations that overwrite Self's elements (write access) from a source.
  const std::tuple<const char*, TFrom, TFunc, const TVec*> fromCases[] = {
      {"SqrFrom", &INXRealBuffer::SqrFrom, [](double x) { return x * x; }, &kInput},
      {"SqrtFrom", &INXRealBuffer::SqrtFrom, [](double x) { return std::sqrt(x); }, &kPositive},
      {"AbsFrom", &INXRealBuffer::AbsFrom, [](double x) { return std::fabs(x); }, &kInput},
      {"ExpFrom", &INXRealBuffer::ExpFrom, [](double x) { return std::exp(x); }, &kInput},
      {"LnFrom", &INXRealBuffer::LnFrom, [](double x) { return std::log(x); }, &kPositive},
      {"NormalizeFrom", [](const TBuffer& d, const TBuffer& s) { d->NormalizeFrom(s, 1.5, 4.0); },
       [](double x) { return (x - 1.5) / 4.0; }, &kInput},
  };
  for (const auto& [name, op, f, input] : fromCases) {
    SCOPED_TRACE(name);
    const TVec& in = *input;
    TBuffer self = TNXRealBuffer::MakeValue(42.0, static_cast<std::uint32_t>(in.size() + 3));  // only n written
    op(self, Make(in));
    TVec expected = Map(in, f);
    expected.insert(expected.end(), 3, 42.0);
    ExpectNear(Values(self), expected);
    TBuffer small = TNXRealBuffer::MakeSize(4);  // a shorter Self reads only its own size
    op(small, Make(in));
    ExpectNear(Values(small), TVec(expected.begin(), expected.begin() + 4));
    TBuffer shared = Make(in);  // the source may share Self's block: Self moves away
    TBuffer sharer = TNXRealBuffer::MakeCopy(shared);
    op(shared, sharer);
    ExpectNear(Values(shared), Map(in, f));
    EXPECT_EQ(Values(sharer), in);
  }
  const std::tuple<const char*, TFrom, std::function<double(double, double)>> binCases[] = {
      {"Add", &INXRealBuffer::Add, std::plus<double>()},
      {"Subtract", &INXRealBuffer::Subtract, std::minus<double>()},
      {"Multiply", &INXRealBuffer::Multiply, std::multiplies<double>()},
      {"Divide", &INXRealBuffer::Divide, std::divides<double>()},
  };
  const TVec five = {10.0, -20.0, 30.0, 40.0, 50.0}, three = {2.0, 4.0, -8.0};
  for (const auto& [name, op, f] : binCases) {
    SCOPED_TRACE(name);
    TBuffer a = Make(five), other = TNXRealBuffer::MakeCopy(a);
    op(a, Make(three));
    EXPECT_EQ(Values(a), (TVec{f(10, 2), f(-20, 4), f(30, -8), 40.0, 50.0}));
    EXPECT_EQ(Values(other), five);
    TBuffer b = Make(three);  // a longer operand is read only up to Self's size
    op(b, Make(five));
    EXPECT_EQ(Values(b), (TVec{f(2, 10), f(4, -20), f(-8, 30)}));
    TBuffer s = Make(three);  // with itself as the operand, through a second holder of the block
    TBuffer sCopy = TNXRealBuffer::MakeCopy(s);
    op(s, sCopy);
    EXPECT_EQ(Values(s), (TVec{f(2, 2), f(4, 4), f(-8, -8)}));
    EXPECT_EQ(Values(sCopy), three);
  }
  // Only elements whose divisor is zero are repaired: a genuine infinity stays.
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  const TVec divisions[][3] = {
      {{2.0, -2.0, 0.0}, {0.0, 0.0, 0.0}, {1e15, -1e14, -1e14}},
      {{6.0, 1.0, -3.0, nan, 9.0}, {2.0, 0.0, 0.0, 0.0, 3.0}, {3.0, 1e15, -1e14, -1e14, 3.0}},
      {{inf, 1.0}, {1.0, 0.0}, {inf, 1e15}},
  };
  for (const auto& c : divisions) {
    TBuffer q = Make(c[0]);
    q->Divide(Make(c[1]));
    EXPECT_EQ(Values(q), c[2]);
  }
  TBuffer d = Make({4.0, 0.0, -2.0});
  d->Divide(d);  // a buffer divided by itself still finds its zero divisors
  EXPECT_EQ(Values(d), (TVec{1.0, -1e14, 1.0}));
}

// VectorJaehne; DivideValue by 0 or 1 takes no access; Normalize on a shared block.
TEST(RealBufferOperationsTest, JaehneDivideValueByZeroOrOneAndNormalize) {
  TBuffer j = TNXRealBuffer::MakeSize(16);
  j->VectorJaehne(2.0);
  for (int k = 0; k < 16; ++k) EXPECT_NEAR(j->GetItem(k), 2.0 * std::sin(0.5 * M_PI * k * k / 16.0), 1e-12) << k;
  for (double v : {0.0, 1.0}) {
    TBuffer a = Make(kInput), other = TNXRealBuffer::MakeCopy(a);
    a->DivideValue(v);
    EXPECT_EQ(a->Read(), other->Read());
  }
  TBuffer a = Make(kInput), other = TNXRealBuffer::MakeCopy(a);
  a->Normalize(1.0, 2.0);
  ExpectNear(Values(a), Map(kInput, [](double x) { return (x - 1.0) / 2.0; }));
  EXPECT_EQ(Values(other), kInput);
  using TIVec = std::vector<std::int32_t>;
  TBuffer r = Make({2.5, 3.5, -2.5, -2.7, 2.7, 0.0});
  for (bool round : {true, false}) {
    SCOPED_TRACE(round);
    const TIVec want = round ? TIVec{2, 4, -2, -3, 3, 0} : TIVec{2, 3, -2, -2, 2, 0};
    std::int32_t i32[6] = {};
    std::int16_t i16[6] = {};
    r->ToInt(i32, round);
    r->ToShort(i16, round);
    EXPECT_EQ(std::tuple(TIVec(i32, i32 + 6), TIVec(i16, i16 + 6)), std::tuple(want, want));
  }
  // Out of range: the elements before the bad one are converted.
  std::int16_t out[4] = {9, 9, 9, 9};
  EXPECT_THROW(Make({1.0, -32768.0, 40000.0, 5.0})->ToShort(out, false), ERangeError);
  EXPECT_EQ(std::vector<std::int16_t>(out, out + 4), (std::vector<std::int16_t>{1, -32768, 9, 9}));
  EXPECT_THROW(Make({32767.5})->ToShort(out, true), ERangeError);  // rounds to 32768
  EXPECT_THROW(Make({std::numeric_limits<double>::quiet_NaN()})->ToShort(out, false), ERangeError);
  EXPECT_NO_THROW(TNXRealBuffer::Make()->ToShort(nullptr, true));
  float f[3] = {};
  Make({0.5, -1.0, 0.1})->ToSingle(f);
  EXPECT_EQ(std::vector<float>(f, f + 3), (std::vector<float>{0.5f, -1.0f, 0.1f}));

  TBuffer d = TNXRealBuffer::MakeValue(7.0, 3), dOther = TNXRealBuffer::MakeCopy(d);
  const std::int32_t ints[3] = {-5, 0, 2147483647};
  d->FromInt(ints);
  EXPECT_EQ(std::tuple(Values(d), Values(dOther)), std::tuple(TVec{-5.0, 0.0, 2147483647.0}, TVec(3, 7.0)));
  const std::int16_t shorts[3] = {-32768, 1, 32767};
  d->FromShort(shorts);
  EXPECT_EQ(Values(d), (TVec{-32768.0, 1.0, 32767.0}));
  const float singles[3] = {0.25f, -8.0f, 3.5f};
  d->FromSingle(singles);
  EXPECT_EQ(Values(d), (TVec{0.25, -8.0, 3.5}));
}

TEST(RealBufferOperationsTest, ReductionsReadWithoutCopying) {
  TBuffer a = Make(kInput), other = TNXRealBuffer::MakeCopy(a);
  const TBuffer b = Make(Map(kInput, [](double x) { return x * 0.5 + 1.0; }));  // |x - b| = |x / 2 - 1|
  const int stores = Stores();
  EXPECT_NEAR(a->Mean(), 1.875, 1e-13);
  EXPECT_NEAR(a->StdDev(), std::sqrt(192.5 / 8), 1e-12);  // the squared deviations sum to 192.5
  EXPECT_DOUBLE_EQ(a->Dot(Make({1.0, 2.0, 3.0})), 0.5 * 1 - 1.25 * 2 + 3.0 * 3);  // n = 3
  EXPECT_EQ(std::tuple(a->Norm(b, ntL1Norm), a->Norm(b, ntCNorm)), std::tuple(15.8125, 4.75));
  EXPECT_NEAR(a->Norm(b, ntL2Norm), std::sqrt(48.16015625), 1e-12);
  EXPECT_THROW(a->Norm(Make({1.0}), ntL1Norm), ERangeError);
  std::int32_t minIdx = -1, maxIdx = -1;
  EXPECT_EQ(std::tuple(a->GetMinValue(), a->GetMaxValue(), a->GetMinIndex(minIdx), a->GetMaxIndex(maxIdx), minIdx, maxIdx),
            std::tuple(-7.5, 10.0, -7.5, 10.0, 4, 5));
  EXPECT_EQ(std::tuple(Make({2.0, 2.0})->IsEqualToValue(2.0), Make({2.0, 2.0000001})->IsEqualToValue(2.0),
                       TNXRealBuffer::Make()->IsEqualToValue(5.0)),
            std::tuple(true, false, true));
  EXPECT_EQ(Stores(), stores) << "reads never copy (the temporaries above are released)";
  EXPECT_EQ(a->Read(), other->Read());
  TBuffer m = Make({5.0, 1.0, 3.0, 0.0});
  // From an index: m negative begin counts as 0, m begin past the end gives 0 at that index.
  const auto fromCases = {std::tuple(false, 2, 0.0, 3), std::tuple(true, 1, 3.0, 2), std::tuple(true, -4, 5.0, 0),
                          std::tuple(false, 4, 0.0, 4)};
  for (const auto& [max, begin, value, index] : fromCases) {
    std::int32_t idx = -1;
    EXPECT_EQ(max ? m->GetMaxIndexFrom(begin, idx) : m->GetMinIndexFrom(begin, idx), value) << begin;
    EXPECT_EQ(idx, index) << begin;
  }
  std::int32_t idx = -1;
  const std::tuple<std::int32_t, std::int32_t, double, double> cases[] = {
      {1, 3, 1.0, 3.0},     // elements 1 and 2
      {0, 4, 0.0, 5.0},     // all
      {-5, 2, 1.0, 5.0},    // negative begin becomes 0
      {2, 100, 0.0, 3.0},   // end capped at the size
      {9, 100, 0.0, 0.0},   // begin past the end moves to the last element
      {0, 1, 5.0, 5.0},
  };
  for (const auto& [begin, end, min, max] : cases)
    EXPECT_EQ(std::tuple(m->GetMin(begin, end), m->GetMax(begin, end)), std::tuple(min, max)) << begin;
  // Empty ranges and buffers give 0 and read nothing.
  EXPECT_EQ(std::tuple(m->GetMin(3, 1), TNXRealBuffer::Make()->GetMax(0, 5), TNXRealBuffer::Make()->GetMinIndex(idx)),
            std::tuple(0.0, 0.0, 0.0));
  // The restricted extremes skip non-finite values.
  const double inf = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
  const double big = 1.7976931348623157e308;
  TBuffer r = Make({inf, 4.0, -2.0, nan});
  EXPECT_EQ(std::tuple(r->GetMinRestricted(0, 3), r->GetMaxRestricted(0, 3)), std::tuple(-2.0, 4.0));
  EXPECT_EQ(Make({inf, 4.0, 5.0})->GetMinRestricted(0, 3), 0.0);  // starts at 0 after the infinity
  const TBuffer lim = Make({-big, -3.0, big}), q = Make({1.0, 9.0, 2.0, 8.0});  // the limits themselves are excluded
  EXPECT_EQ(std::tuple(lim->GetMinRestricted(0, 2), lim->GetMaxRestricted(0, 2)), std::tuple(-3.0, 0.0));
  // An inclusive end, m negative begin, an end beyond the size, m begin after the end.
  EXPECT_EQ(std::tuple(q->GetMaxRestricted(2, 2), q->GetMaxRestricted(-3, 1), q->GetMinRestricted(2, 50), q->GetMinRestricted(2, 1)),
            std::tuple(2.0, 9.0, 2.0, 0.0));
  EXPECT_EQ(TNXRealBuffer::Make()->GetMaxRestricted(0, 0), 0.0);
}

TEST(RealBufferOperationsTest, Correlations) {
  const TVec x = {1.0, -2.0, 3.0, 0.5, 4.0}, y = {0.5, 1.0, -1.0};
  const int n = static_cast<int>(x.size());
  for (TNXAutoCorrType type : {actNormal, actBiased, actUnbiased}) {
    TBuffer self = TNXRealBuffer::MakeSize(static_cast<std::uint32_t>(n));
    self->AutoCorr(Make(x), type);
    TVec expected;
    for (int k = 0; k < n; ++k) {
      double s = 0;
      for (int i = 0; i + k < n; ++i) s += x[i] * x[i + k];
      expected.push_back(type == actBiased ? s / n : type == actUnbiased ? s / (n - k) : s);
    }
    ExpectNear(Values(self), expected);
  }
  EXPECT_THROW(TNXRealBuffer::MakeSize(6)->AutoCorr(Make(x), actNormal), ERangeError);
  for (int lag : {-3, 0, 2}) {
    TBuffer self = TNXRealBuffer::MakeSize(4);
    self->CrossCorr(Make(x), Make(y), lag);
    TVec expected(4, 0.0);
    for (int k = 0; k < 4; ++k)
      for (int i = 0; i < n; ++i)
        if (i + k + lag >= 0 && i + k + lag < static_cast<int>(y.size())) expected[k] += x[i] * y[i + k + lag];
    ExpectNear(Values(self), expected);
  }
  TBuffer self = TNXRealBuffer::MakeSize(4);  // reads Self's size from the source
  self->ThresholdFrom(Make({1.0, 5.0, -3.0, 2.0, 9.0}), 2.0, ttGreaterThan);
  EXPECT_EQ(Values(self), (TVec{1.0, 2.0, -3.0, 2.0}));
  self->ThresholdFrom(Make({1.0, 5.0, -3.0, 2.0}), 0.0, ttLessThan);
  EXPECT_EQ(Values(self), (TVec{1.0, 5.0, 0.0, 2.0}));
  EXPECT_THROW(self->ThresholdFrom(Make({1.0}), 0.0, ttLessThan), ERangeError);

  // Convolve resizes Self; Self may be a source, shared or not.
  const TVec a = {1.0, 2.0, 3.0, 4.0}, b = {0.5, -1.0, 2.0};
  TVec expected(a.size() + b.size() - 1, 0.0);
  for (std::size_t i = 0; i < a.size(); ++i)
    for (std::size_t j = 0; j < b.size(); ++j) expected[i + j] += a[i] * b[j];
  self->Convolve(Make(a), Make(b));
  ExpectNear(Values(self), expected);
  TBuffer s = Make(a), sOther = TNXRealBuffer::MakeCopy(s);
  s->Convolve(s, Make(b));
  ExpectNear(Values(s), expected);
  EXPECT_EQ(Values(sOther), a);
  TBuffer t = Make(a);
  t->Convolve(Make(b), t);
  ExpectNear(Values(t), expected);
  EXPECT_THROW(self->Convolve(TNXRealBuffer::Make(), TNXRealBuffer::Make()), EIntOverflow);
}

}  // namespace
}  // namespace nx
