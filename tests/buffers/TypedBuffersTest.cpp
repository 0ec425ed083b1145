// Integer, complex, Boolean and block buffers and bit sets, mostly on blocks a second holder shares.
#include <complex>
#include <initializer_list>

#include "BufferTestSupport.h"

namespace nx {
namespace {

using namespace nxtest;
using TInt = TIntfPtr<INXIntegerBuffer>;
using TUns = TIntfPtr<INXUnsignedBuffer>;
using TCpx = TIntfPtr<INXComplexBuffer>;
using TReal = TIntfPtr<INXRealBuffer>;
using TBool = TIntfPtr<INXBooleanBuffer>;
using TBlock = TIntfPtr<INXBlockBuffer>;
using TIVec = std::vector<std::int32_t>;
using TUVec = std::vector<std::uint32_t>;
using TCVec = std::vector<TComplex>;
using TBytes = std::vector<std::uint8_t>;
using TBitVec = std::vector<bool>;
using cd = std::complex<double>;

// Runs AOp on a buffer of class F made of AInput that a second holder shares (and must keep); Self's values.
template <class F, class T, class TOp>
std::vector<T> OnShared(const std::vector<T>& AInput, TOp&& AOp) {
  auto self = F::MakeArrayList(AInput);
  auto keep = F::MakeCopy(self);
  AOp(self);
  EXPECT_EQ(Values(keep), AInput) << "the other holder changed";
  return Values(self);
}

// An operation with a second buffer and the value it gives element by element.
template <class I, class T>
struct TOpCase {
  const char* Name;
  void (I::*Op)(const TIntfPtr<I>&);
  T (*Expected)(T, T);
};

// The 3-element operand changes only the first 3 of Self's 4 elements.
template <class I, class F, class T>
void CheckBufferOperations(std::initializer_list<TOpCase<I, T>> ACases, const std::vector<T>& x,
                           const std::vector<T>& y) {
  for (const TOpCase<I, T>& c : ACases) {
    std::vector<T> want = x;
    for (std::size_t i = 0; i < 3; ++i) want[i] = c.Expected(x[i], y[i]);
    EXPECT_EQ(OnShared<F>(x, [&](const TIntfPtr<I>& s) { (s.Get()->*c.Op)(F::MakeArrayList({y[0], y[1], y[2]})); }),
              want) << c.Name;
  }
}

TEST(IntegerBuffersTest, ConstructionSharingAndItemAccess) {
  const std::int32_t raw[3] = {-1, 2, 2147483647};
  EXPECT_EQ(Values(TNXIntegerBuffer::MakeData(raw, 3)), (TIVec{-1, 2, 2147483647}));
  EXPECT_EQ(Values(TNXIntegerBuffer::CreateValue(-9, 2)), (TIVec{-9, -9}));
  EXPECT_EQ(Values(TNXUnsignedBuffer::MakeValue(4294967295u, 1)), (TUVec{4294967295u}));
  EXPECT_THROW(TNXIntegerBuffer::MakeSize(0x40000000u), EIntOverflow);
  EXPECT_THROW(TNXIntegerBuffer::MakeCopy(nullptr), EArgumentException);

  TInt a = TNXIntegerBuffer::MakeArray({4, 5, 6});
  const int stores = Stores();
  auto* obj = dynamic_cast<TNXIntegerBuffer*>(a->GetInstance());
  for (const TInt& s : {TNXIntegerBuffer::MakeEx(obj), TNXIntegerBuffer::CreateCopy(a),
                        TNXIntegerBuffer::MakeUniversal(a->GetDataCopy())})
    EXPECT_EQ(s->Read(), a->Read());
  EXPECT_EQ(Stores(), stores);
  // Any buffer's block is shared and its bytes read as integers: 2 doubles are 4 integers.
  TReal real = TNXRealBuffer::MakeArray({1.0, -2.0});
  TUns view = TNXUnsignedBuffer::MakeUniversal(TIntfPtr<INXData>(real));
  EXPECT_EQ(std::tuple(view->GetSize(), view->ByteRead(), view->GetItem(1)),
            std::tuple(4, real->ByteRead(), 0x3FF00000u));  // the high word of 1.0
  TUns u = TNXUnsignedBuffer::MakeArray({4, 5, 6});  // same bytes, other class: not equal
  EXPECT_EQ(std::tuple(a->IsEqual(TNXIntegerBuffer::MakeArray({4, 5, 6})), a->IsEqual(u), u->IsEqual(a)),
            std::tuple(true, false, false));

  TInt other = TNXIntegerBuffer::MakeCopy(a);
  a->SetItem(1, -50);  // copies the shared block first
  EXPECT_EQ(std::tuple(Values(a), Values(other)), std::tuple(TIVec{4, -50, 6}, TIVec{4, 5, 6}));
  TBufferEnumerator<std::int32_t> e = other->GetEnumerator();
  EXPECT_TRUE(e.MoveNext() && e.GetCurrent() == 4 && e.MoveNext() && e.GetCurrent() == 5);
  // Elements are counted between two integer buffers, bytes otherwise.
  TInt dst = TNXIntegerBuffer::MakeValue(0, 4);
  a->CopyTo(1, dst, 2, 2);
  EXPECT_EQ(Values(dst), (TIVec{0, 0, -50, 6}));
  TBlock bytes = TNXBlockBuffer::MakeValue(4, 0);
  a->CopyTo(0, bytes, 0, 4);
  EXPECT_EQ(Values(bytes), (TBytes{4, 0, 0, 0}));
  using B = INXIntegerBuffer;
  using I = std::int32_t;
  using U = std::uint32_t;
  CheckBufferOperations<B, TNXIntegerBuffer, I>(
      {{"Add", &B::Add, [](I a, I b) { return a + b; }},
       {"Subtract", &B::Subtract, [](I a, I b) { return a - b; }},
       {"Multiply", &B::Multiply, [](I a, I b) { return a * b; }},
       {"Divide", &B::Divide, [](I a, I b) { return I(std::lround(double(a) / b)); }},  // 100 / -9 = -11
       {"ModBuffer", &B::ModBuffer, [](I a, I b) { return a % b; }},
       {"AndBuffer", &B::AndBuffer, [](I a, I b) { return a & b; }},
       {"OrBuffer", &B::OrBuffer, [](I a, I b) { return a | b; }},
       {"XorBuffer", &B::XorBuffer, [](I a, I b) { return a ^ b; }},
       {"LShift", &B::LShift, [](I a, I b) { return static_cast<I>(static_cast<U>(a) << (b & 31)); }},
       {"RShift", &B::RShift, [](I a, I b) { return static_cast<I>(static_cast<U>(a) >> (b & 31)); }}},
      {-7, 100, -8, 12345}, {3, -9, 33, 1});
  using N = INXUnsignedBuffer;
  CheckBufferOperations<N, TNXUnsignedBuffer, U>(
      {{"Subtract", &N::Subtract, [](U a, U b) { return a - b; }},
       {"Divide", &N::Divide, [](U a, U b) { return a / b; }},
       {"ModBuffer", &N::ModBuffer, [](U a, U b) { return a % b; }},
       {"AndBuffer", &N::AndBuffer, [](U a, U b) { return a & b; }},
       {"OrBuffer", &N::OrBuffer, [](U a, U b) { return a | b; }},
       {"XorBuffer", &N::XorBuffer, [](U a, U b) { return a ^ b; }},
       {"RShift", &N::RShift, [](U a, U b) { return a >> (b & 31); }}},
      {70, 4000000000u, 0xF0F0F0F0u, 5}, {3, 7, 36, 1});
  // Operands whose results fit (the unsigned arithmetic refuses to wrap).
  CheckBufferOperations<N, TNXUnsignedBuffer, U>({{"Add", &N::Add, [](U a, U b) { return a + b; }},
                                                  {"Multiply", &N::Multiply, [](U a, U b) { return a * b; }},
                                                  {"LShift", &N::LShift, [](U a, U b) { return a << (b & 31); }}},
                                                 {2, 3, 1u << 30, 9}, {5, 6, 3, 1});
  EXPECT_EQ(TNXUnsignedBuffer::MakeArray({3, 4})->Dot(TNXUnsignedBuffer::MakeArray({5, 6, 7})), 39u);
  const std::tuple<const char*, TIVec, std::function<void(const TInt&)>, TIVec> cases[] = {
      {"RShift shifts in zero bits", {-8}, [](const TInt& b) { b->RShift(TNXIntegerBuffer::MakeArray({1})); },
       {2147483644}},
      {"RShiftValue keeps the sign", {-8}, [](const TInt& b) { b->RShiftValue(1); }, {-4}},
      {"LShift takes the count modulo 32", {3, 3}, [](const TInt& b) { b->LShift(TNXIntegerBuffer::MakeArray({33, -1})); },
       {6, INT32_MIN}},
      {"ModBuffer by -1", {-7, 7, INT32_MIN}, [](const TInt& b) { b->ModBuffer(TNXIntegerBuffer::MakeArray({3, -3, -1})); },
       {-1, 1, 0}},
      {"ModValue by -1", {-7, INT32_MIN}, [](const TInt& b) { b->ModValue(-1); }, {0, 0}},
  };
  for (const auto& [name, x, op, expected] : cases) {
    TInt b = TNXIntegerBuffer::MakeArrayList(x);
    op(b);
    EXPECT_EQ(Values(b), expected) << name;
  }
  // A zero divisor in the own loops raises; the elements before it are done.
  TInt z = TNXIntegerBuffer::MakeArray({7, 8});
  EXPECT_THROW(z->ModBuffer(TNXIntegerBuffer::MakeArray({2, 0})), EDivByZero);
  EXPECT_EQ(z->GetItem(0), 1);
  EXPECT_THROW(TNXUnsignedBuffer::MakeArray({1})->ModValue(0), EDivByZero);
  TNXIntegerBuffer::Make()->ModValue(0);  // nothing to do on an empty buffer
  // The unsigned arithmetic refuses to wrap and leaves the buffer as it was.
  TUns full = TNXUnsignedBuffer::MakeArray({1, 4294967295u});
  EXPECT_THROW(full->Add(TNXUnsignedBuffer::MakeArray({1, 1})), EIntOverflow);
  EXPECT_THROW(full->SubtractValue(2), EIntOverflow);
  EXPECT_THROW(full->Divide(TNXUnsignedBuffer::MakeArray({1, 0})), EDivByZero);
  EXPECT_EQ(Values(full), (TUVec{1, 4294967295u}));
}

TEST(IntegerBuffersTest, ValueOperationsAndQueries) {
  const TIVec x = {-6, 0, 9, 1 << 20};
  const std::tuple<const char*, std::function<void(const TInt&)>, TIVec> cases[] = {
      {"SetValue", [](const TInt& b) { b->SetValue(-3); }, {-3, -3, -3, -3}},
      {"Zero", &INXIntegerBuffer::Zero, {0, 0, 0, 0}},
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
  for (const auto& [name, op, expected] : cases) EXPECT_EQ(OnShared<TNXIntegerBuffer>(x, op), expected) << name;

  TUns u = TNXUnsignedBuffer::MakeArray({0xFFFF0000u, 7});
  u->RShiftValue(16);
  EXPECT_EQ(Values(u), (TUVec{0xFFFF, 0}));
  TInt q = TNXIntegerBuffer::MakeArray({4, -9, 2});
  EXPECT_EQ(std::tuple(q->GetMinValue(), q->GetMaxValue(), q->Dot(TNXIntegerBuffer::MakeArray({1, 2}))),
            std::tuple(-9, 4, -14));
  EXPECT_EQ(std::tuple(q->IsEqualToValue(4), TNXIntegerBuffer::MakeValue(5, 3)->IsEqualToValue(5),
                       TNXIntegerBuffer::Make()->IsEqualToValue(5)),
            std::tuple(false, true, true));
  EXPECT_EQ(std::tuple(TNXIntegerBuffer::Make()->GetMinValue(), TNXUnsignedBuffer::Make()->GetMaxValue()), std::tuple(0, 0u));
  TUns big = TNXUnsignedBuffer::MakeArray({9, 2, 4000000000u});
  EXPECT_EQ(std::tuple(big->GetMaxValue(), big->GetMinValue()), std::tuple(4000000000u, 2u));
  // Shared, DivideValue reads through a sharing copy and writes the quotients into a fresh block.
  TInt single = TNXIntegerBuffer::MakeArray({10, -20});
  const std::int32_t* p = single->Read();
  single->DivideValue(-5);
  EXPECT_EQ(std::tuple(single->Read(), Values(single)), std::tuple(p, TIVec{-2, 4}));  // in place
  TInt a = TNXIntegerBuffer::MakeArray({10, 21, -30}), b = TNXIntegerBuffer::MakeCopy(a);
  const int stores = Stores();
  a->DivideValue(10);
  EXPECT_EQ(Stores(), stores + 1);
  EXPECT_EQ(std::tuple(Values(a), Values(b)), std::tuple(TIVec{1, 2, -3}, TIVec{10, 21, -30}));
  EXPECT_EQ(OnShared<TNXUnsignedBuffer>(TUVec{4000000000u, 9}, [](const TUns& u) { u->DivideValue(2); }),
            (TUVec{2000000000u, 4}));
  // The quotient that does not fit raises, and the shared samples stay.
  TInt m = TNXIntegerBuffer::MakeArray({5, INT32_MIN}), mk = TNXIntegerBuffer::MakeCopy(m);
  EXPECT_THROW(m->DivideValue(-1), EIntOverflow);
  EXPECT_EQ(Values(m), (TIVec{5, INT32_MIN}));
  EXPECT_EQ(BlockOf(m), BlockOf(mk));
}

cd C(const TComplex& c) { return cd(c.Re, c.Im); }
TComplex T(const cd& c) { return TComplex{c.real(), c.imag()}; }

const TCVec kX = {{1.5, -2.0}, {-3.0, 0.5}, {0.25, 4.0}, {2.0, 2.0}};
const TCVec kY = {{0.5, 1.0}, {2.0, -1.0}, {-1.5, 0.75}};  // one shorter than kX

TEST(ComplexBufferTest, ConstructionAndSharing) {
  EXPECT_EQ(Values(TNXComplexBuffer::MakeData(kX.data(), 2)), TCVec(kX.begin(), kX.begin() + 2));
  EXPECT_EQ(Values(TNXComplexBuffer::MakeValue(1.0, -2.0, 1)), (TCVec{{1.0, -2.0}}));
  EXPECT_EQ(Values(TNXComplexBuffer::CreateValue(TComplex{3.0, 4.0}, 1)), (TCVec{{3.0, 4.0}}));
  // From real and imaginary parts of sizes 3 and 5: 5 elements, the missing real parts 0.
  TReal re = TNXRealBuffer::MakeArray({1, 2, 3}), im = TNXRealBuffer::MakeArray({-1, -2, -3, -4, -5});
  EXPECT_EQ(Values(TNXComplexBuffer::MakeBuffers(re, im)), (TCVec{{1, -1}, {2, -2}, {3, -3}, {0, -4}, {0, -5}}));
  EXPECT_EQ(Values(TNXComplexBuffer::CreateBufferObjects(dynamic_cast<TNXRealBuffer*>(im->GetInstance()),
                                                         dynamic_cast<TNXRealBuffer*>(re->GetInstance()))),
            (TCVec{{-1, 1}, {-2, 2}, {-3, 3}, {-4, 0}, {-5, 0}}));
  EXPECT_THROW(TNXComplexBuffer::MakeBuffers(re, nullptr), EArgumentException);
  // The universal constructor shares any buffer's block: 2 doubles are one complex element.
  TReal pair = TNXRealBuffer::MakeArray({7.0, 8.0});
  TCpx view = TNXComplexBuffer::MakeUniversal(TIntfPtr<INXData>(pair));
  EXPECT_EQ(std::tuple(view->GetSize(), view->GetItem(0), view->ByteRead()),
            std::tuple(1, TComplex{7.0, 8.0}, pair->ByteRead()));
  EXPECT_EQ(std::tuple(view->IsEqual(pair), view->IsEqual(TNXComplexBuffer::MakeValue(7.0, 8.0, 1))), std::tuple(false, true));

  TCpx a = TNXComplexBuffer::MakeArrayList(kX), b = TNXComplexBuffer::MakeCopy(a);
  TComplex out;
  a->GetItemProc(2, out);
  a->SetItem(0, TComplex{9, 9});  // copies the shared block
  EXPECT_EQ(std::tuple(out, Values(a)[0], b->GetItem(0)), std::tuple(kX[2], TComplex{9, 9}, kX[0]));
  TBufferEnumerator<TComplex> e = b->GetEnumerator();
  EXPECT_TRUE(e.MoveNext() && e.GetCurrent() == kX[0]);
  // Elements beyond kY keep x unless the operation covers all of Self.
  const TCpx y = TNXComplexBuffer::MakeArrayList(kY);
  struct TCase { const char* Name; std::function<void(const TCpx&)> Op; std::function<cd(cd, cd)> Expected; bool All; };
  const cd k(2.0, -0.5);
  const TCase cases[] = {
      {"Add", [&](const TCpx& b) { b->Add(y); }, [](cd x, cd v) { return x + v; }, false},
      {"Subtract", [&](const TCpx& b) { b->Subtract(y); }, [](cd x, cd v) { return x - v; }, false},
      {"Multiply", [&](const TCpx& b) { b->Multiply(y); }, [](cd x, cd v) { return x * v; }, false},
      {"Divide", [&](const TCpx& b) { b->Divide(y); }, [](cd x, cd v) { return x / v; }, false},
      {"AddValue", [&](const TCpx& b) { b->AddValue(2.0, -0.5); }, [&](cd x, cd) { return x + k; }, true},
      {"SubtractValue", [&](const TCpx& b) { b->SubtractValue(2.0, -0.5); }, [&](cd x, cd) { return x - k; }, true},
      {"MultiplyValue", [&](const TCpx& b) { b->MultiplyValue(2.0, -0.5); }, [&](cd x, cd) { return x * k; }, true},
      {"DivideValue", [&](const TCpx& b) { b->DivideValue(2.0, -0.5); }, [&](cd x, cd) { return x / k; }, true},
      {"SetValue", [](const TCpx& b) { b->SetValue(TComplex{1, 2}); }, [](cd, cd) { return cd(1, 2); }, true},
      {"SetValue (parts)", [](const TCpx& b) { b->SetValue(-1, 0.5); }, [](cd, cd) { return cd(-1, 0.5); }, true},
      {"Zero", &INXComplexBuffer::Zero, [](cd, cd) { return cd(0, 0); }, true},
      {"Sqr", &INXComplexBuffer::Sqr, [](cd x, cd) { return x * x; }, true},
      {"Sqrt", &INXComplexBuffer::Sqrt, [](cd x, cd) { return std::sqrt(x); }, true},
      {"SqrFrom", [&](const TCpx& b) { b->SqrFrom(y); }, [](cd, cd v) { return v * v; }, false},
      {"SqrtFrom", [&](const TCpx& b) { b->SqrtFrom(y); }, [](cd, cd v) { return std::sqrt(v); }, false},
      {"NormalizeFrom", [&](const TCpx& b) { b->NormalizeFrom(y, TComplex{1, 1}, 4.0); },
       [](cd, cd v) { return (v - cd(1, 1)) / 4.0; }, false},
      {"Normalize", [](const TCpx& b) { b->Normalize(TComplex{1, 1}, 4.0); },
       [](cd x, cd) { return (x - cd(1, 1)) / 4.0; }, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TCVec got = OnShared<TNXComplexBuffer>(kX, c.Op), want = kX;
    for (std::size_t i = 0; i < want.size(); ++i)
      if (c.All || i < kY.size()) want[i] = T(c.Expected(C(kX[i]), i < kY.size() ? C(kY[i]) : cd()));
    // The ...From operations leave the element beyond the source undefined (write access).
    if (!c.All && std::string(c.Name).find("From") != std::string::npos) {
      got.resize(kY.size());
      want.resize(kY.size());
    }
    ExpectNear(got, want);
  }
}

TEST(ComplexBufferTest, SetBufferThresholdAndQueries) {
  TCpx b = TNXComplexBuffer::MakeSize(3);
  b->SetBuffer(TNXRealBuffer::MakeArray({1, 2, 3, 4}), TNXRealBuffer::MakeArray({5, 6}));
  EXPECT_EQ(std::tuple(b->GetItem(0), b->GetItem(1)), std::tuple(TComplex{1, 5}, TComplex{2, 6}));
  // Threshold on the magnitude: the phase stays, the magnitude is clipped.
  TCpx t = TNXComplexBuffer::MakeArray({{3, 4}, {0.3, 0.4}});
  t->Threshold(2.0, ttGreaterThan);
  ExpectNear(Values(t), {{1.2, 1.6}, {0.3, 0.4}});
  t->ThresholdFrom(TNXComplexBuffer::MakeArray({{3, 4}, {0.3, 0.4}}), 1.0, ttLessThan);
  ExpectNear(Values(t), {{3, 4}, {0.6, 0.8}});
  EXPECT_THROW(t->ThresholdFrom(TNXComplexBuffer::MakeSize(1), 1.0, ttLessThan), ERangeError);
  cd dot(0, 0);
  for (std::size_t i = 0; i < kY.size(); ++i) dot += C(kX[i]) * C(kY[i]);
  ExpectNear(TCVec{TNXComplexBuffer::MakeArrayList(kX)->Dot(TNXComplexBuffer::MakeArrayList(kY))}, TCVec{T(dot)});
  EXPECT_EQ(std::tuple(TNXComplexBuffer::MakeArray({{-1, 2}, {3, -4}})->Mean(), TNXComplexBuffer::Make()->Mean()),
            std::tuple(TComplex{2, 3}, TComplex{0, 0}));
  const TCpx v = TNXComplexBuffer::MakeValue(1, 2, 3);
  EXPECT_EQ(std::tuple(v->IsEqualToValue({1, 2}), v->IsEqualToValue({1, 3}), TNXComplexBuffer::Make()->IsEqualToValue({1, 3})),
            std::tuple(true, false, true));
  // The real-valued results are new buffers.
  TCpx x = TNXComplexBuffer::MakeArrayList(kX);
  const std::tuple<const char*, TReal, double (*)(cd)> parts[] = {
      {"GetReal", x->GetReal(), [](cd c) { return c.real(); }},
      {"GetImaginary", x->GetImaginary(), [](cd c) { return c.imag(); }},
      {"Magnitude", x->Magnitude(), [](cd c) { return std::abs(c); }},
      {"Phase", x->Phase(), [](cd c) { return std::arg(c); }},
      {"PowerSpectrum", x->PowerSpectrum(), [](cd c) { return std::norm(c); }},
  };
  for (const auto& [name, result, f] : parts) {
    SCOPED_TRACE(name);
    EXPECT_NE(result->ByteRead(), x->ByteRead());
    ExpectNear(Values(result), {f(C(kX[0])), f(C(kX[1])), f(C(kX[2])), f(C(kX[3]))});
  }
  EXPECT_EQ(TNXComplexBuffer::Make()->Magnitude()->GetSize(), 0);
  const TCpx src = TNXComplexBuffer::MakeArrayList(kX);
  // Autocorrelation r[k] = sum x[n + k] conj(x[n]) over the 4 samples.
  const int n = static_cast<int>(kX.size());
  for (TNXAutoCorrType type : {actNormal, actBiased, actUnbiased}) {
    TCVec want;
    for (int k = 0; k < n; ++k) {
      cd s(0, 0);
      for (int i = 0; i + k < n; ++i) s += C(kX[i + k]) * std::conj(C(kX[i]));
      want.push_back(T(type == actBiased ? s / 4.0 : type == actUnbiased ? s / double(n - k) : s));
    }
    TCpx r = TNXComplexBuffer::MakeSize(4);
    r->AutoCorr(src, type);
    ExpectNear(Values(r), want);
  }
  // Cross-correlation r[k] = sum conj(a[n]) b[n + k], lags -1 .. 1.
  TCVec want;
  for (int k = -1; k <= 1; ++k) {
    cd s(0, 0);
    for (int i = 0; i < n; ++i)
      if (i + k >= 0 && i + k < static_cast<int>(kY.size())) s += std::conj(C(kX[i])) * C(kY[i + k]);
    want.push_back(T(s));
  }
  TCpx c = TNXComplexBuffer::MakeSize(3);
  c->CrossCorr(src, TNXComplexBuffer::MakeArrayList(kY), -1);
  ExpectNear(Values(c), want);
}

TBitVec BitValues(const TBool& b) {
  TBitVec out(b->GetSize());
  for (std::int32_t i = 0; i < b->GetSize(); ++i) out[i] = b->GetItem(i);
  return out;
}

// A pseudo-random bit pattern (a fixed linear congruential sequence).
TBitVec Pattern(std::size_t n, std::uint32_t seed) {
  TBitVec v;
  for (std::size_t i = 0; i < n; ++i) v.push_back(((seed = seed * 1664525u + 1013904223u) >> 17) & 1u);
  return v;
}

// Item access of the Boolean, block and bit-set classes: the range error names the index.
TEST(BooleanBufferTest, ItemAccessChecksTheIndex) {
  TBool b = TNXBooleanBuffer::MakeSize(10);
  TBlock k = TNXBlockBuffer::MakeArray({5, 6, 7});
  auto set = TRGBits::MakeSize(12);
  const std::tuple<const char*, std::function<void()>, const char*> cases[] = {
      {"Boolean GetItem", [&] { b->GetItem(10); }, "Index out of range = 10"},
      {"Boolean SetItem", [&] { b->SetItem(10, true); }, "Index out of range = 10"},
      {"Boolean InvertBit", [&] { b->InvertBit(12); }, "Index out of range = 12"},
      {"Block GetItem", [&] { k->GetItem(3); }, "Index out of range = 3"},
      {"Block SetItem negative", [&] { k->SetItem(-2, 1); }, "Index out of range = 4294967294"},
      {"Bits SetBit", [&] { set->SetBit(12, true); }, "Index out of range = 12"},
      {"Bits GetBit", [&] { set->GetBit(12); }, "Index out of range = 12"},
      {"Bits GetBits no count", [&] { set->GetBits(0, 0); }, "Count must be bigger than zero"},
      {"Bits GetBits past the end", [&] { set->GetBits(10, 4); }, "Index out of range = 10"},
  };
  for (const auto& [name, call, message] : cases) EXPECT_EQ(RangeMessage(call), message) << name;
}

TEST(BooleanBufferTest, PackingAndSharing) {
  TBool fromArray = TNXBooleanBuffer::MakeArray({true, false, true, true, false, false, false, false, false, true});
  EXPECT_EQ(std::tuple(fromArray->GetByteSize(), fromArray->Read()[0], fromArray->Read()[1] & 0x03),
            std::tuple(2u, 0x0D, 0x02));
  EXPECT_EQ(BitValues(TNXBooleanBuffer::MakeArrayList(TBitVec{false, true, true})), (TBitVec{false, true, true}));
  const std::uint8_t packed[2] = {0x81, 0x01};
  EXPECT_EQ(BitValues(TNXBooleanBuffer::MakeData(packed, 9)),
            (TBitVec{true, false, false, false, false, false, false, true, true}));
  EXPECT_TRUE(TNXBooleanBuffer::CreateValue(13, false)->IsEqualToValue(false));
  EXPECT_THROW(TNXBooleanBuffer::MakeSize(0x80000000u), EIntOverflow);
  EXPECT_THROW(TNXBooleanBuffer::MakeUniversal(nullptr), EArgumentException);

  // SetItem and InvertBit copy a shared block first.
  TBool other = TNXBooleanBuffer::MakeCopy(fromArray);
  fromArray->SetItem(1, true);
  fromArray->InvertBit(0);
  EXPECT_EQ(std::tuple(fromArray->GetItem(0), fromArray->GetItem(1), other->GetItem(0), other->GetItem(1)),
            std::tuple(false, true, true, false));
  TBooleanBufferEnumerator e = other->GetEnumerator();
  TBitVec seen;
  while (e.MoveNext()) seen.push_back(e.GetCurrent());
  EXPECT_EQ(seen, BitValues(other));

  // The universal constructor shares a Boolean buffer's block and copies any other's bytes.
  TBool a = TNXBooleanBuffer::MakeArrayList(Pattern(13, 3)), shared = TNXBooleanBuffer::MakeUniversal(a->GetDataCopy());
  EXPECT_EQ(std::tuple(shared->Read(), shared->GetSize()), std::tuple(a->Read(), 13));
  TBlock bytes = TNXBlockBuffer::MakeArray({0x0F, 0xF0});
  bytes->AddCustom(TNXBlockBuffer::MakeSize(1));
  TBool copied = TNXBooleanBuffer::MakeUniversal(TIntfPtr<INXData>(bytes));
  EXPECT_NE(copied->Read(), bytes->Read());
  EXPECT_EQ(std::tuple(copied->GetSize(), copied->GetCustomCount(), copied->GetItem(3), copied->GetItem(4)),
            std::tuple(16, 1, true, false));
  // Assign takes the bit count with the block.
  TBool target = TNXBooleanBuffer::MakeSize(3);
  target->Assign(a);
  EXPECT_EQ(target->GetSize(), 13);
  target->Assign(bytes);
  EXPECT_EQ(std::tuple(target->GetSize(), target->Read()), std::tuple(16, bytes->Read()));
  // The bits beyond the count in the last byte carry no meaning.
  TBool b = TNXBooleanBuffer::MakeValue(10, true);
  b->Modify()[1] = 0x03;
  EXPECT_TRUE(b->IsEqualToValue(true));
  b->SetItem(9, false);
  EXPECT_FALSE(b->IsEqualToValue(true));
  // Exactly 8 values: all 8 compared; long buffers through the word loop.
  TBool eight = TNXBooleanBuffer::MakeValue(8, false);
  eight->SetItem(7, true);
  TBool many = TNXBooleanBuffer::MakeValue(1000, false);
  EXPECT_TRUE(many->IsEqualToValue(false));
  many->SetItem(517, true);
  EXPECT_EQ(std::tuple(eight->IsEqualToValue(false), many->IsEqualToValue(false), TNXBooleanBuffer::Make()->IsEqualToValue(true)),
            std::tuple(false, false, true));
  // IsEqual: same class, same bit count, same values; unused bits ignored.
  TBool x = TNXBooleanBuffer::MakeValue(10, true), y = TNXBooleanBuffer::MakeValue(10, true);
  y->Modify()[1] = 0x83;
  EXPECT_EQ(std::tuple(x->IsEqual(y), x->IsEqual(TNXBooleanBuffer::MakeValue(11, true)), x->IsEqual(TNXBlockBuffer::MakeValue(2, 0xFF))),
            std::tuple(true, false, false));
}

// The byte-wise operations against a bit-by-bit model, on sizes with a word part and a byte tail.
TEST(BooleanBufferTest, BufferAndValueOperations) {
  const std::size_t n = 173, m = 101;  // the other operand covers 13 of Self's 22 bytes
  const std::size_t covered = ((m + 7) / 8) * 8;  // whole bytes of the other operand take part
  const TBitVec x = Pattern(n, 1);
  TBitVec y = Pattern(m, 2);
  y.resize(covered, true);  // give its bits beyond the count known values
  using TOp = std::function<TBool(const TBool&, const TBool&)>;
  using TBit = std::function<bool(bool, bool)>;
  const std::tuple<const char*, TOp, TBit, bool> cases[] = {  // the last: only the covered bits change
      {"AndBuffer", [](const TBool& a, const TBool& b) { return a->AndBuffer(b); }, std::logical_and<>(), true},
      {"OrBuffer", [](const TBool& a, const TBool& b) { return a->OrBuffer(b); }, std::logical_or<>(), true},
      {"XorBuffer", [](const TBool& a, const TBool& b) { return a->XorBuffer(b); }, std::not_equal_to<>(), true},
      {"AndValue(false)", [](auto& a, auto&) { return a->AndValue(false); }, [](bool, bool) { return false; }, false},
      {"OrValue(true)", [](auto& a, auto&) { return a->OrValue(true); }, [](bool, bool) { return true; }, false},
      {"XorValue(true)", [](auto& a, auto&) { return a->XorValue(true); }, [](bool a, bool) { return !a; }, false},
      {"Invert", [](auto& a, auto&) { return a->Invert(); }, [](bool a, bool) { return !a; }, false},
      {"SetValue(true)", [](auto& a, auto&) { return a->SetValue(true); }, [](bool, bool) { return true; }, false},
      {"Zero", [](auto& a, auto&) { return a->Zero(); }, [](bool, bool) { return false; }, false},
  };
  for (const auto& [name, op, bit, coveredOnly] : cases) {
    SCOPED_TRACE(name);
    TBool self = TNXBooleanBuffer::MakeArrayList(x), keep = TNXBooleanBuffer::MakeCopy(self);
    TBool other = TNXBooleanBuffer::MakeArrayList(y);
    other->Resize(static_cast<std::uint32_t>(m), true);
    EXPECT_TRUE(SameObject(op(self, other), self)) << "chained calls continue on the same buffer";
    TBitVec want = x;
    for (std::size_t i = 0; i < n; ++i)
      if (!coveredOnly || i < covered) want[i] = bit(x[i], i < covered ? y[i] : false);
    EXPECT_EQ(BitValues(self), want);
    EXPECT_EQ(BitValues(keep), x);
  }
  // The no-op values touch nothing: a shared block stays shared.
  TBool a = TNXBooleanBuffer::MakeArrayList(x), b = TNXBooleanBuffer::MakeCopy(a);
  a->AndValue(true)->OrValue(false)->XorValue(false);
  EXPECT_EQ(a->Read(), b->Read());
  TBool r = TNXBooleanBuffer::MakeArray({true, false, true, true, false, true, false, true, true, false});
  const std::uint8_t* p = r->Read();
  EXPECT_TRUE(r->Resize(12, true));  // within the second byte: same block
  EXPECT_EQ(std::tuple(r->GetSize(), r->GetByteSize(), r->Read()), std::tuple(12, 2u, p));
  EXPECT_FALSE(r->Resize(12, true));
  EXPECT_TRUE(r->Resize(20, true));
  EXPECT_EQ(std::tuple(r->GetByteSize(), r->GetItem(8), r->GetItem(9)), std::tuple(3u, true, false));
  EXPECT_TRUE(r->Resize(0, false));
  EXPECT_EQ(r->GetByteSize(), 0u);
  // Between Boolean buffers CopyTo counts values, at any bit position, also overlapping in one buffer.
  TBool src = TNXBooleanBuffer::MakeArrayList(Pattern(40, 7)), dst = TNXBooleanBuffer::MakeValue(40, false);
  TBool dstKeep = TNXBooleanBuffer::MakeCopy(dst);
  src->CopyTo(3, dst, 11, 20);
  const TBitVec s = BitValues(src);
  TBitVec want(40, false), shifted = s;
  for (int i = 0; i < 20; ++i) want[11 + i] = s[3 + i];
  EXPECT_EQ(BitValues(dst), want);
  EXPECT_TRUE(dstKeep->IsEqualToValue(false));
  src->CopyTo(0, src, 5, 30);
  for (int i = 0; i < 30; ++i) shifted[5 + i] = s[i];
  EXPECT_EQ(BitValues(src), shifted);
}

TEST(BlockBufferTest, ConstructionAndUniversal) {
  const std::uint8_t raw[3] = {1, 2, 3};
  EXPECT_EQ(Values(TNXBlockBuffer::MakeData(raw, 3, true)), (TBytes{1, 2, 3}));
  EXPECT_EQ(Values(TNXBlockBuffer::CreateValue(2, 0xAB)), (TBytes{0xAB, 0xAB}));
  EXPECT_EQ(OnShared<TNXBlockBuffer>(TBytes{5, 6, 7}, [](const TBlock& b) { b->SetItem(0, 50); }), (TBytes{50, 6, 7}));
  // A real buffer of 2 elements gives 16 bytes, a copy; a block buffer is shared.
  TReal real = TNXRealBuffer::MakeArray({1.0, 2.0});
  TBlock copy = TNXBlockBuffer::MakeUniversal(TIntfPtr<INXData>(real));
  EXPECT_EQ(std::tuple(copy->GetSize(), copy->Read() != real->ByteRead(), std::memcmp(copy->Read(), real->ByteRead(), 16)),
            std::tuple(16, true, 0));
  TBlock b = TNXBlockBuffer::MakeArray({5, 6, 7});
  EXPECT_EQ(TNXBlockBuffer::MakeUniversal(b->GetDataCopy())->Read(), b->Read());
  EXPECT_EQ(std::tuple(copy->IsEqual(real), copy->IsEqual(TNXBlockBuffer::MakeUniversal(TIntfPtr<INXData>(real)))),
            std::tuple(false, true));
  const TBytes x = {200, 10, 7, 255};
  const TBlock y = TNXBlockBuffer::MakeArray({100, 20, 2});
  const std::tuple<const char*, std::function<void(const TBlock&)>, TBytes> cases[] = {
      {"Add", [&](const TBlock& a) { a->Add(y); }, {255, 30, 9, 255}},
      {"Subtract", [&](const TBlock& a) { a->Subtract(y); }, {100, 0, 5, 255}},
      {"Multiply", [&](const TBlock& a) { a->Multiply(y); }, {255, 200, 14, 255}},
      {"Divide", [&](const TBlock& a) { a->Divide(y); }, {2, 0, 3, 255}},
      {"SetValue", [](const TBlock& a) { a->SetValue(4); }, {4, 4, 4, 4}},
      {"Zero", &INXBlockBuffer::Zero, {0, 0, 0, 0}},
      {"Append", [](const TBlock& a) { a->Append(TNXBlockBuffer::MakeArray({3})); a->Append(a); },
       {200, 10, 7, 255, 3, 200, 10, 7, 255, 3}},
      {"Append any buffer's bytes", [](const TBlock& a) { a->Append(TNXIntegerBuffer::MakeArray({0x01020304})); },
       {200, 10, 7, 255, 4, 3, 2, 1}},
  };
  for (const auto& [name, op, expected] : cases) EXPECT_EQ(OnShared<TNXBlockBuffer>(x, op), expected) << name;
  TBlock z = TNXBlockBuffer::MakeArray({8, 9});
  EXPECT_THROW(z->Divide(TNXBlockBuffer::MakeArray({2, 0})), EDivByZero);
  EXPECT_EQ(z->GetItem(0), 4);
  EXPECT_THROW(z->Append(nullptr), EArgumentException);
  EXPECT_EQ(std::tuple(TNXBlockBuffer::MakeValue(5, 3)->IsEqualToValue(3), TNXBlockBuffer::MakeArray({3, 4})->IsEqualToValue(3),
                       TNXBlockBuffer::Make()->IsEqualToValue(3)),
            std::tuple(true, false, true));
  const std::tuple<std::int32_t, std::int32_t, TBytes> removals[] = {
      {2, 10, {1, 2}}, {0, 2, {3, 4, 5}}, {1, 3, {1, 5}}, {5, 1, {1, 2, 3, 4, 5}}, {0, 5, {}}, {3, 0, {1, 2, 3, 4, 5}},
  };
  for (const auto& [index, count, expected] : removals)
    EXPECT_EQ(OnShared<TNXBlockBuffer>(TBytes{1, 2, 3, 4, 5}, [&](const TBlock& r) { r->Remove(index, count); }),
              expected) << index << ", " << count;
  TBlock r = TNXBlockBuffer::MakeArray({1, 2, 3});
  for (auto [index, count] : {std::pair{-1, 1}, std::pair{4, 1}, std::pair{0, -1}}) {
    const std::string message = MessageOf<EAssertionFailed>([&] { r->Remove(index, count); });
    EXPECT_EQ(message.rfind("Assertion failure (NXSimpleDataBuffer, line ", 0), 0u) << index << ": " << message;
  }
  EXPECT_EQ(Values(r), (TBytes{1, 2, 3}));
}

TBitVec BitsOf(const IRGBits::TBits& ABits) {
  TBitVec out(ABits->GetCount());
  for (std::int32_t i = 0; i < ABits->GetCount(); ++i) out[i] = ABits->GetBit(i);
  return out;
}

TEST(Bits, ConstructionCopiesAndBitAccess) {
  auto set = TRGBits::MakeSize(12, true);
  EXPECT_EQ(std::tuple(set->GetCount(), set->GetArray().size(), set->ToInteger()), std::tuple(12, 2u, 4095));
  EXPECT_EQ(std::tuple(TRGBits::MakeSize(-5, true)->GetCount(), TRGBits::MakeSize(-5)->GetArray().empty()), std::tuple(0, true));
  const std::uint8_t raw[3] = {0xA5, 0x0F, 0xFF};
  auto fromPtr = TRGBits::MakeData(raw, 12);  // copies two bytes
  EXPECT_EQ(std::tuple(fromPtr->GetArray(), TRGBits::Make({0x01}, 20)->GetArray(), TRGBits::Make({1, 2, 3, 4}, 9)->GetArray().size()),
            std::tuple(TBytes{0xA5, 0x0F}, TBytes{0x01, 0, 0}, 2u));  // zero-extended, cut
  EXPECT_EQ(BitsOf(TRGBits::MakeBit(true)), TBitVec{true});
  // Copies are real copies: changing one leaves the original alone.
  auto copy = TRGBits::MakeCopy(fromPtr);
  copy->SetBit(0, false);
  auto dataCopy = Supports<IRGBits>(fromPtr->GetDataCopy().Get());
  dataCopy->Invert();
  EXPECT_EQ(std::tuple(fromPtr->GetBit(0), copy->GetBit(0), dataCopy->EqualsBits(fromPtr)), std::tuple(true, false, false));

  auto bits = TRGBits::MakeSize(12);
  bits->SetBit(3, true)->SetBit(11, true)->InvertBit(0)->InvertBit(3);
  EXPECT_EQ(std::tuple(bits->ToInteger(), BitsOf(bits->GetBits(9, 3))), std::tuple(1 | (1 << 11), TBitVec{false, false, true}));
  // SetBits writes bit by bit and stops with the error at the first position outside.
  auto target = TRGBits::MakeSize(4);
  EXPECT_EQ(RangeMessage([&] { target->SetBits(2, TRGBits::MakeSize(3, true)); }), "Index out of range = 4");
  target->SetBits(0, target);  // from itself
  EXPECT_EQ(BitsOf(target), (TBitVec{false, false, true, true}));
  EXPECT_EQ(target->XorBy(target)->ToInteger(), 0);  // combined with itself
  auto ten = TRGBits::MakeSize(10);
  EXPECT_EQ(ten->SetValue(true)->XorBy(false)->AndBy(true)->OrBy(false)->ToInteger(), 1023);  // neutral forms
  EXPECT_EQ(ten->Invert()->ToInteger(), 0);
  EXPECT_EQ(ten->XorBy(true)->ToInteger(), 1023);
  EXPECT_EQ(ten->AndBy(false)->ToInteger(), 0);
  EXPECT_EQ(ten->SetValue(true)->SetValue(false)->ToInteger(), 0);
  // "Filled" sets are 0xFF beyond their count too: such bits neither leak in nor survive growth.
  enum TCombine { Or, And, Xor };
  const struct {  // OtherBit: one more bit set in the other (-1: none)
    const char* Name; TCombine Op; std::int32_t Count; bool Filled; std::int32_t OtherCount; bool OtherFilled;
    std::int32_t OtherBit, ExpectCount; std::uint64_t Expect;
  } cases[] = {
      {"LongerGrows", Or, 8, true, 20, false, 19, 20, 0xFFu | (1u << 19)},
      {"GrowthClearsBeyondOldCount", Or, 9, true, 20, false, -1, 20, 0x1FF},
      {"SameBytesKeepsCount", Or, 6, false, 8, true, -1, 6, 0x3F},  // 6 bits in 8
      {"AndSameBytesKeepsCount", And, 6, true, 8, false, 0, 6, 0x01},
      {"ShorterDoesNotLeak", Or, 16, false, 3, true, -1, 16, 0x7},
      {"AndShorterKeepsUncovered", And, 16, true, 3, true, -1, 16, 0xFFFF},
      {"XorShorter", Xor, 16, true, 3, true, -1, 16, 0xFFF8},
  };
  for (const auto& c : cases) {
    auto self = TRGBits::MakeSize(c.Count);
    if (c.Filled) self->OrBy(true);
    auto other = TRGBits::MakeSize(c.OtherCount);
    if (c.OtherFilled) other->OrBy(true);
    if (c.OtherBit >= 0) other->SetBit(c.OtherBit, true);
    c.Op == Or ? self->OrBy(other) : c.Op == And ? self->AndBy(other) : self->XorBy(other);
    EXPECT_EQ(std::tuple(self->GetCount(), self->ToUInt64()), std::tuple(c.ExpectCount, c.Expect)) << c.Name;
  }
  auto a = TRGBits::MakeSize(12);
  EXPECT_FALSE(a->EqualsBits(TRGBits::MakeSize(13)));  // another count, even with equal common bits
  EXPECT_FALSE(a->EqualsBits(IRGBits::TBits()));
  auto c = TRGBits::MakeSize(12);
  c->OrBy(true)->SetBits(0, TRGBits::MakeSize(12));  // clears the 12 bits, leaves the rest of byte 1
  EXPECT_TRUE(a->EqualsBits(c));
  a->Resize(0);
  EXPECT_EQ(std::tuple(a->GetCount(), a->GetArray().size(), a->ToInteger()), std::tuple(0, 1u, 0));
  c->Resize(16);  // the uncovered bits 12..15 start clear
  EXPECT_EQ(std::tuple(c->GetCount(), c->ToInteger()), std::tuple(16, 0));
  c->Resize(-3);
  EXPECT_EQ(c->GetCount(), 0);
  auto src = TRGBits::MakeSize(12, true);
  EXPECT_EQ(std::tuple(src->GetCopySize(5)->GetCount(), src->GetCopySize(5)->ToInteger(), src->GetCopySize(20)->ToInteger()),
            std::tuple(5, 31, 4095));
  EXPECT_TRUE(TRGBits::MakeSize(3)->Assign(TIntfPtr<INXData>(src))->EqualsBits(src));
  auto wide = TRGBits::MakeSize(0)->FromInteger(5, true);
  EXPECT_EQ(std::tuple(wide->GetCount(), wide->ToUInt64()), std::tuple(32, 5u));
  auto small = TRGBits::MakeSize(4)->FromInteger(0x3F, false);  // without resizing only the bits the set has
  EXPECT_EQ(small->ToInteger(), 0xF);
  small->FromUInt64(0x8000000000000001ull, true);
  EXPECT_EQ(std::tuple(small->GetCount(), small->ToUInt64()), std::tuple(64, 0x8000000000000001ull));
  EXPECT_THROW(small->ToInteger(), EIntOverflow);
  auto negative = TRGBits::MakeSize(0)->FromInteger(-1, true);
  EXPECT_EQ(negative->ToUInt64(), 0xFFFFFFFFull);
  EXPECT_THROW(negative->ToInteger(), EIntOverflow);  // beyond the signed range
  EXPECT_THROW(TRGBits::MakeSize(72)->SetBit(64, true)->ToUInt64(), EIntOverflow);
  auto bytes = TRGBits::MakeSize(1)->SetByteData(TBytes{0x34, 0x12, 0xFF}, 16);
  EXPECT_EQ(std::tuple(bytes->GetCount(), bytes->ToInteger()), std::tuple(16, 0x1234));
  const std::uint8_t ff[2] = {0xFF, 0xFF};
  bytes->SetByteData(ff, 9);
  EXPECT_EQ(std::tuple(bytes->GetArray().size(), bytes->ToInteger()), std::tuple(2u, 0x1FF));
}

}  // namespace
}  // namespace nx
