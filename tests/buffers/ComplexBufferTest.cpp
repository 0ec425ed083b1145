// The complex buffer: construction (also from real and imaginary parts),
// the operations against std::complex arithmetic element by element, the
// real-valued results, and the access kind of each operation on a shared block.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "BufferTestSupport.h"

namespace nx {
namespace {

using namespace nxtest;
using TBuf = TIntfPtr<INXComplexBuffer>;
using TReal = TIntfPtr<INXRealBuffer>;
using TCVec = std::vector<TComplex>;
using cd = std::complex<double>;

cd C(const TComplex& c) { return cd(c.Re, c.Im); }
TComplex T(const cd& c) { return TComplex{c.real(), c.imag()}; }

void ExpectNear(const TCVec& actual, const TCVec& expected, double tol = 1e-12) {
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < actual.size(); ++i) {
    EXPECT_NEAR(actual[i].Re, expected[i].Re, tol * std::max(1.0, std::abs(expected[i].Re))) << "re at " << i;
    EXPECT_NEAR(actual[i].Im, expected[i].Im, tol * std::max(1.0, std::abs(expected[i].Im))) << "im at " << i;
  }
}

const TCVec kX = {{1.5, -2.0}, {-3.0, 0.5}, {0.25, 4.0}, {2.0, 2.0}};
const TCVec kY = {{0.5, 1.0}, {2.0, -1.0}, {-1.5, 0.75}};  // one shorter than kX

TEST(ComplexBufferTest, ConstructionAndSharing) {
  EXPECT_EQ(TNXComplexBuffer::MakeSize(3)->GetByteSize(), 48u);
  EXPECT_EQ(Values(TNXComplexBuffer::MakeData(kX.data(), 2)), TCVec(kX.begin(), kX.begin() + 2));
  EXPECT_EQ(Values(TNXComplexBuffer::MakeValue(1.0, -2.0, 2)), (TCVec{{1.0, -2.0}, {1.0, -2.0}}));
  EXPECT_EQ(Values(TNXComplexBuffer::CreateValue(TComplex{3.0, 4.0}, 1)), (TCVec{{3.0, 4.0}}));

  // From real and imaginary parts of sizes 3 and 5: 5 elements, the missing
  // real parts 0.
  TReal re = TNXRealBuffer::MakeArray({1, 2, 3}), im = TNXRealBuffer::MakeArray({-1, -2, -3, -4, -5});
  const TCVec parts = {{1, -1}, {2, -2}, {3, -3}, {0, -4}, {0, -5}};
  EXPECT_EQ(Values(TNXComplexBuffer::MakeBuffers(re, im)), parts);
  EXPECT_EQ(Values(TNXComplexBuffer::CreateBufferObjects(dynamic_cast<TNXRealBuffer*>(im->GetInstance()),
                                                         dynamic_cast<TNXRealBuffer*>(re->GetInstance()))),
            (TCVec{{-1, 1}, {-2, 2}, {-3, 3}, {-4, 0}, {-5, 0}}));
  EXPECT_THROW(TNXComplexBuffer::MakeBuffers(re, nullptr), EArgumentException);

  // The universal constructor shares any buffer's block: 2 doubles are one
  // complex element.
  TReal pair = TNXRealBuffer::MakeArray({7.0, 8.0});
  TBuf view = TNXComplexBuffer::MakeUniversal(TIntfPtr<INXData>(pair));
  EXPECT_EQ(view->GetSize(), 1);
  EXPECT_EQ(view->GetItem(0), (TComplex{7.0, 8.0}));
  EXPECT_EQ(view->ByteRead(), pair->ByteRead());
  EXPECT_FALSE(view->IsEqual(pair));
  EXPECT_TRUE(view->IsEqual(TNXComplexBuffer::MakeValue(7.0, 8.0, 1)));

  TBuf a = TNXComplexBuffer::MakeArrayList(kX);
  TBuf b = TNXComplexBuffer::MakeCopy(a);
  TComplex out;
  a->GetItemProc(2, out);
  EXPECT_EQ(out, kX[2]);
  a->SetItem(0, TComplex{9, 9});
  EXPECT_EQ(b->GetItem(0), kX[0]) << "SetItem copies a shared block";
  EXPECT_EQ(Values(a)[0], (TComplex{9, 9}));

  TBufferEnumerator<TComplex> e = b->GetEnumerator();
  int n = 0;
  while (e.MoveNext()) EXPECT_EQ(e.GetCurrent(), kX[n++]);
  EXPECT_EQ(n, 4);
}

// In-place and overwriting operations: Self shares its block with a second
// holder, which keeps its values.
TEST(ComplexBufferTest, ElementWiseOperations) {
  const TBuf y = TNXComplexBuffer::MakeArrayList(kY);
  struct TCase {
    const char* Name;
    std::function<void(const TBuf&)> Op;
    std::function<cd(cd, cd)> Expected;  // (x, y); elements beyond kY keep x unless All
    bool All;                            // the operation covers every element of Self
  };
  const cd k(2.0, -0.5);
  const TCase cases[] = {
      {"Add", [&](const TBuf& b) { b->Add(y); }, [](cd x, cd v) { return x + v; }, false},
      {"Subtract", [&](const TBuf& b) { b->Subtract(y); }, [](cd x, cd v) { return x - v; }, false},
      {"Multiply", [&](const TBuf& b) { b->Multiply(y); }, [](cd x, cd v) { return x * v; }, false},
      {"Divide", [&](const TBuf& b) { b->Divide(y); }, [](cd x, cd v) { return x / v; }, false},
      {"AddValue", [&](const TBuf& b) { b->AddValue(2.0, -0.5); }, [&](cd x, cd) { return x + k; }, true},
      {"SubtractValue", [&](const TBuf& b) { b->SubtractValue(2.0, -0.5); }, [&](cd x, cd) { return x - k; }, true},
      {"MultiplyValue", [&](const TBuf& b) { b->MultiplyValue(2.0, -0.5); }, [&](cd x, cd) { return x * k; }, true},
      {"DivideValue", [&](const TBuf& b) { b->DivideValue(2.0, -0.5); }, [&](cd x, cd) { return x / k; }, true},
      {"SetValue", [](const TBuf& b) { b->SetValue(TComplex{1, 2}); }, [](cd, cd) { return cd(1, 2); }, true},
      {"SetValue (parts)", [](const TBuf& b) { b->SetValue(-1, 0.5); }, [](cd, cd) { return cd(-1, 0.5); }, true},
      {"Zero", [](const TBuf& b) { b->Zero(); }, [](cd, cd) { return cd(0, 0); }, true},
      {"Sqr", [](const TBuf& b) { b->Sqr(); }, [](cd x, cd) { return x * x; }, true},
      {"Sqrt", [](const TBuf& b) { b->Sqrt(); }, [](cd x, cd) { return std::sqrt(x); }, true},
      {"SqrFrom", [&](const TBuf& b) { b->SqrFrom(y); }, [](cd, cd v) { return v * v; }, false},
      {"SqrtFrom", [&](const TBuf& b) { b->SqrtFrom(y); }, [](cd, cd v) { return std::sqrt(v); }, false},
      {"NormalizeFrom", [&](const TBuf& b) { b->NormalizeFrom(y, TComplex{1, 1}, 4.0); },
       [](cd, cd v) { return (v - cd(1, 1)) / 4.0; }, false},
      {"Normalize", [](const TBuf& b) { b->Normalize(TComplex{1, 1}, 4.0); },
       [](cd x, cd) { return (x - cd(1, 1)) / 4.0; }, true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TBuf self = TNXComplexBuffer::MakeArrayList(kX);
    TBuf keep = TNXComplexBuffer::MakeCopy(self);
    c.Op(self);
    TCVec want = kX;
    for (std::size_t i = 0; i < want.size(); ++i)
      if (c.All || i < kY.size()) want[i] = T(c.Expected(C(kX[i]), i < kY.size() ? C(kY[i]) : cd()));
    // The ...From operations leave the element beyond the source undefined
    // (write access): compare only what they wrote.
    TCVec got = Values(self);
    if (!c.All && std::string(c.Name).find("From") != std::string::npos) {
      got.resize(kY.size());
      want.resize(kY.size());
    }
    ExpectNear(got, want);
    EXPECT_EQ(Values(keep), kX);
  }
}

TEST(ComplexBufferTest, SetBufferThresholdAndQueries) {
  TBuf b = TNXComplexBuffer::MakeSize(3);
  b->SetBuffer(TNXRealBuffer::MakeArray({1, 2, 3, 4}), TNXRealBuffer::MakeArray({5, 6}));
  TCVec got = Values(b);
  EXPECT_EQ(got[0], (TComplex{1, 5}));
  EXPECT_EQ(got[1], (TComplex{2, 6}));

  // Threshold on the magnitude: the phase stays, the magnitude is clipped.
  TBuf t = TNXComplexBuffer::MakeArray({{3, 4}, {0.3, 0.4}});
  t->Threshold(2.0, ttGreaterThan);
  ExpectNear(Values(t), {{1.2, 1.6}, {0.3, 0.4}});
  TBuf t2 = TNXComplexBuffer::MakeSize(2);
  t2->ThresholdFrom(TNXComplexBuffer::MakeArray({{3, 4}, {0.3, 0.4}}), 1.0, ttLessThan);
  ExpectNear(Values(t2), {{3, 4}, {0.6, 0.8}});
  EXPECT_THROW(t2->ThresholdFrom(TNXComplexBuffer::MakeSize(1), 1.0, ttLessThan), ERangeError);

  TBuf x = TNXComplexBuffer::MakeArrayList(kX);
  cd dot(0, 0);
  for (std::size_t i = 0; i < kY.size(); ++i) dot += C(kX[i]) * C(kY[i]);
  ExpectNear({x->Dot(TNXComplexBuffer::MakeArrayList(kY))}, {T(dot)});

  EXPECT_EQ(TNXComplexBuffer::MakeArray({{-1, 2}, {3, -4}})->Mean(), (TComplex{2, 3}));
  EXPECT_EQ(TNXComplexBuffer::Make()->Mean(), (TComplex{0, 0}));

  EXPECT_TRUE(TNXComplexBuffer::MakeValue(1, 2, 3)->IsEqualToValue(TComplex{1, 2}));
  EXPECT_FALSE(TNXComplexBuffer::MakeValue(1, 2, 3)->IsEqualToValue(TComplex{1, 3}));
  EXPECT_TRUE(TNXComplexBuffer::Make()->IsEqualToValue(TComplex{1, 3}));
}

TEST(ComplexBufferTest, RealValuedResultsAreNewBuffers) {
  TBuf x = TNXComplexBuffer::MakeArrayList(kX);
  struct TCase {
    const char* Name;
    TReal Result;
    std::function<double(cd)> Expected;
  };
  const TCase cases[] = {
      {"GetReal", x->GetReal(), [](cd c) { return c.real(); }},
      {"GetImaginary", x->GetImaginary(), [](cd c) { return c.imag(); }},
      {"Magnitude", x->Magnitude(), [](cd c) { return std::abs(c); }},
      {"Phase", x->Phase(), [](cd c) { return std::arg(c); }},
      {"PowerSpectrum", x->PowerSpectrum(), [](cd c) { return std::norm(c); }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    ASSERT_EQ(c.Result->GetSize(), 4);
    EXPECT_NE(c.Result->ByteRead(), x->ByteRead());
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(c.Result->GetItem(i), c.Expected(C(kX[i])), 1e-12) << i;
  }
  EXPECT_EQ(TNXComplexBuffer::Make()->Magnitude()->GetSize(), 0);
}

TEST(ComplexBufferTest, Correlations) {
  const TBuf src = TNXComplexBuffer::MakeArrayList(kX);
  // Autocorrelation r[k] = sum x[n + k] conj(x[n]) over the 4 samples.
  auto autocorr = [](int k) {
    cd s(0, 0);
    for (std::size_t n = 0; n + k < kX.size(); ++n) s += C(kX[n + k]) * std::conj(C(kX[n]));
    return s;
  };
  TBuf r = TNXComplexBuffer::MakeSize(4);
  r->AutoCorr(src, actNormal);
  ExpectNear(Values(r), {T(autocorr(0)), T(autocorr(1)), T(autocorr(2)), T(autocorr(3))});
  r->AutoCorr(src, actBiased);
  ExpectNear(Values(r), {T(autocorr(0) / 4.0), T(autocorr(1) / 4.0), T(autocorr(2) / 4.0), T(autocorr(3) / 4.0)});
  r->AutoCorr(src, actUnbiased);
  ExpectNear(Values(r), {T(autocorr(0) / 4.0), T(autocorr(1) / 3.0), T(autocorr(2) / 2.0), T(autocorr(3) / 1.0)});

  // Cross-correlation r[k] = sum conj(a[n]) b[n + k], lags -1 .. 1.
  const TBuf b = TNXComplexBuffer::MakeArrayList(kY);
  auto cross = [](int k) {
    cd s(0, 0);
    for (int n = 0; n < static_cast<int>(kX.size()); ++n)
      if (n + k >= 0 && n + k < static_cast<int>(kY.size())) s += std::conj(C(kX[n])) * C(kY[n + k]);
    return s;
  };
  TBuf c = TNXComplexBuffer::MakeSize(3);
  c->CrossCorr(src, b, -1);
  ExpectNear(Values(c), {T(cross(-1)), T(cross(0)), T(cross(1))});
}

}  // namespace
}  // namespace nx
