// Real arithmetic primitives: every dispatched routine against its scalar twin
// (the shared table runner), plus the shortcuts, warnings, accuracy and
// argument errors, on every SIMD target.
#include "vector/KernelTables.h"

namespace nx {
namespace {

using namespace nxtest;
using E = TElem;

std::vector<TTwinRow> TwinRows() {
  const TRange M = TRange::Moderate, P = TRange::Positive;
  return {
      NX_TWIN(ippsAdd_64f, (In(E::F64), In(E::F64), Out(E::F64)), a.F64(0), a.F64(1), a.F64(2), a.Len),
      NX_TWIN(ippsAdd_64f_I, (In(E::F64), InOut(E::F64)), a.F64(0), a.F64(1), a.Len),
      NX_TWIN(ippsSub_64f_I, (In(E::F64), InOut(E::F64)), a.F64(0), a.F64(1), a.Len),
      NX_TWIN(ippsMul_64f, (In(E::F64), In(E::F64), Out(E::F64)), a.F64(0), a.F64(1), a.F64(2), a.Len),
      NX_TWIN(ippsMul_64f_I, (In(E::F64), InOut(E::F64)), a.F64(0), a.F64(1), a.Len),
      NX_TWIN(ippsDiv_64f_I, (In(E::F64), InOut(E::F64)), a.F64(0), a.F64(1), a.Len),
      NX_TWIN(ippsAddC_64f, (In(E::F64), Out(E::F64)), a.F64(0), 2.5, a.F64(1), a.Len),
      NX_TWIN(ippsAddC_64f_I, (InOut(E::F64)), -1e-3, a.F64(0), a.Len),
      NX_TWIN(ippsSubC_64f, (In(E::F64), Out(E::F64)), a.F64(0), 7.25, a.F64(1), a.Len),
      NX_TWIN(ippsSubC_64f_I, (InOut(E::F64)), -3.0, a.F64(0), a.Len),
      NX_TWIN(ippsSubCRev_64f, (In(E::F64), Out(E::F64)), a.F64(0), 1e5, a.F64(1), a.Len),
      NX_TWIN_ROW(NXScopeDispatcher, ippsSubCRev_64f_I, (InOut(E::F64)), 0.5, a.F64(0), a.Len),
      NX_TWIN(ippsMulC_64f, (In(E::F64), Out(E::F64)), a.F64(0), -1.0 / 3.0, a.F64(1), a.Len),
      NX_TWIN(ippsMulC_64f_I, (InOut(E::F64)), 1e10, a.F64(0), a.Len),
      NX_TWIN(ippsDivC_64f, (In(E::F64), Out(E::F64)), a.F64(0), 3.0, a.F64(1), a.Len),
      NX_TWIN(ippsDivC_64f_I, (InOut(E::F64)), -1e-7, a.F64(0), a.Len),
      NX_TWIN(ippsAbs_64f, (In(E::F64), Out(E::F64)), a.F64(0), a.F64(1), a.Len),
      NX_TWIN(ippsAbs_64f_I, (InOut(E::F64)), a.F64(0), a.Len),
      NX_TWIN(ippsSqr_64f, (In(E::F64), Out(E::F64)), a.F64(0), a.F64(1), a.Len),
      NX_TWIN(ippsSqr_64f_I, (InOut(E::F64)), a.F64(0), a.Len),
      NX_TWIN(ippsSqrt_64f, (In(E::F64), Out(E::F64)), a.F64(0), a.F64(1), a.Len),
      NX_TWIN(ippsSqrt_64f_I, (InOut(E::F64)), a.F64(0), a.Len).Range_(P),
      NX_TWIN(ippsExp_64f, (In(E::F64), Out(E::F64)), a.F64(0), a.F64(1), a.Len).Range_(M).Ulps_(1),
      NX_TWIN(ippsExp_64f_I, (InOut(E::F64)), a.F64(0), a.Len).Range_(M).Ulps_(1),
      NX_TWIN(ippsLn_64f, (In(E::F64), Out(E::F64)), a.F64(0), a.F64(1), a.Len).Range_(P).Ulps_(1),
      NX_TWIN(ippsLn_64f_I, (InOut(E::F64)), a.F64(0), a.Len).Range_(P).Ulps_(1),
      NX_TWIN(ippsSub_32f_I, (In(E::F32), InOut(E::F32)), a.F32(0), a.F32(1), a.Len),
      NX_TWIN(ippsMul_32f, (In(E::F32), In(E::F32), Out(E::F32)), a.F32(0), a.F32(1), a.F32(2), a.Len),
      NX_TWIN(ippsMul_32f_I, (In(E::F32), InOut(E::F32)), a.F32(0), a.F32(1), a.Len),
      NX_TWIN(ippsMulC_32f_I, (InOut(E::F32)), -0.7f, a.F32(0), a.Len),
      NX_TWIN_ROW(NXScopeDispatcher, ippsSubCRev_32f_I, (InOut(E::F32)), 3.0f, a.F32(0), a.Len),
  };
}

NX_SIMD_SUITE(Arith);

TEST_P(Arith, KernelsMatchScalarTwins) { RunTwinTable(TwinRows(), 1234); }

TEST(ArithDispatch, EveryPrimitiveHasATest) { CheckPrimitiveGroups("Arith", {TwinRows()}); }

std::vector<Ipp64f> SpecialVector() {
  // A signalling-NaN bit pattern shows whether an element was copied bit for bit.
  const Ipp64f sNaN = std::numeric_limits<Ipp64f>::signaling_NaN();
  return {-0.0, kInf, sNaN, -2.5, 1e300, 0.0, -kInf, 4.9e-324, 7.0, -1.0, 3.0, 1e-300};
}

template <typename T>
auto Bits(const T* p, std::size_t n) {
  std::vector<decltype(BitsOf(T{}))> b;
  for (std::size_t i = 0; i < n; ++i) b.push_back(BitsOf(p[i]));
  return b;
}

TEST_P(Arith, ShortcutsCopyingConstantsKeepEveryBit) {
  const auto src = SpecialVector();
  const int n = static_cast<int>(src.size());
  // Adding or subtracting 0, multiplying or dividing by 1: a copy (-0 + 0 would give +0).
  const std::function<IppStatus(Ipp64f*)> calls[] = {
      [&](Ipp64f* d) { return ippsAddC_64f(src.data(), 0.0, d, n); },
      [&](Ipp64f* d) { return ippsSubC_64f(src.data(), 0.0, d, n); },
      [&](Ipp64f* d) { return ippsMulC_64f(src.data(), 1.0, d, n); },
      [&](Ipp64f* d) { return ippsDivC_64f(src.data(), 1.0, d, n); },
      [&](Ipp64f* d) { std::copy(src.begin(), src.end(), d); return ippsMulC_64f_I(1.0, d, n); },
      [&](Ipp64f* d) { std::copy(src.begin(), src.end(), d); return ippsDivC_64f_I(1.0, d, n); },
  };
  for (std::size_t i = 0; i < std::size(calls); ++i) {
    SCOPED_TRACE(i);
    std::vector<Ipp64f> dst(src.size());
    EXPECT_EQ(calls[i](dst.data()), ippStsNoErr);
    EXPECT_EQ(Bits(dst.data(), src.size()), Bits(src.data(), src.size()));
  }
  std::vector<Ipp32f> f = {-0.0f, std::numeric_limits<Ipp32f>::signaling_NaN(), 2.0f};
  const auto fBefore = f;
  EXPECT_EQ(ippsMulC_32f_I(1.0f, f.data(), 3), ippStsNoErr);
  EXPECT_EQ(Bits(f.data(), 3), Bits(fBefore.data(), 3));
}

TEST_P(Arith, ShortcutsMultiplyByZeroWritesPositiveZeros) {
  const auto src = SpecialVector();
  const std::size_t n = src.size();
  const std::vector<std::uint64_t> zeros(n, 0);
  std::vector<Ipp64f> dst(n, 5.0);
  for (Ipp64f zero : {0.0, -0.0}) {
    EXPECT_EQ(ippsMulC_64f(src.data(), zero, dst.data(), static_cast<int>(n)), ippStsNoErr);
    EXPECT_EQ(Bits(dst.data(), n), zeros);
    auto inPlace = src;
    EXPECT_EQ(ippsMulC_64f_I(zero, inPlace.data(), static_cast<int>(n)), ippStsNoErr);
    EXPECT_EQ(Bits(inPlace.data(), n), zeros);
  }
  // Dividing by an infinite constant multiplies by its reciprocal 0.
  EXPECT_EQ(ippsDivC_64f(src.data(), -kInf, dst.data(), static_cast<int>(n)), ippStsNoErr);
  EXPECT_EQ(Bits(dst.data(), n), zeros);
  std::vector<Ipp32f> f = {std::numeric_limits<Ipp32f>::infinity(), std::numeric_limits<Ipp32f>::quiet_NaN(), -3.0f};
  EXPECT_EQ(ippsMulC_32f_I(0.0f, f.data(), 3), ippStsNoErr);
  EXPECT_EQ(Bits(f.data(), 3), std::vector<std::uint32_t>(3, 0));
}

TEST_P(Arith, ShortcutsDivideByConstantUsesTheReciprocal) {
  // Find values where x * (1/3) and x / 3 round differently, so the check has teeth.
  std::vector<Ipp64f> src;
  for (int k = 1; k < 200 && src.size() < 8; ++k)
    if (k * (1.0 / 3.0) != k / 3.0) src.push_back(k);
  ASSERT_FALSE(src.empty());
  const int n = static_cast<int>(src.size());
  std::vector<Ipp64f> dst(src.size()), want;
  for (Ipp64f x : src) want.push_back(x * (1.0 / 3.0));
  ASSERT_EQ(ippsDivC_64f(src.data(), 3.0, dst.data(), n), ippStsNoErr);
  EXPECT_EQ(dst, want);
  ASSERT_EQ(ippsDivC_64f_I(3.0, src.data(), n), ippStsNoErr);
  EXPECT_EQ(src, want);
}

TEST_P(Arith, ErrorsZeroConstantDivisorIsAnErrorBeforeAnyWrite) {
  const std::vector<Ipp64f> src(10, 2.0), untouched(10, 7.0);
  for (Ipp64f zero : {0.0, -0.0}) {
    std::vector<Ipp64f> dst = untouched;
    EXPECT_EQ(ippsDivC_64f(src.data(), zero, dst.data(), 10), ippStsDivByZeroErr);
    EXPECT_EQ(ippsDivC_64f_I(zero, dst.data(), 10), ippStsDivByZeroErr);
    EXPECT_EQ(dst, untouched);
  }
  // Pointer and length checks come first.
  std::vector<Ipp64f> dst = untouched;
  EXPECT_EQ(ippsDivC_64f(nullptr, 0.0, dst.data(), 10), ippStsNullPtrErr);
  EXPECT_EQ(ippsDivC_64f_I(0.0, dst.data(), 0), ippStsSizeErr);
  EXPECT_EQ(dst, untouched);
}

TEST_P(Arith, WarningsDivisionByZeroElementsGoesOn) {
  const Ipp64f divisor[] = {0.0, 0.0, 0.0, -0.0, 2.0};
  Ipp64f srcDst[] = {1.0, 0.0, -1.0, 3.0, 5.0};
  EXPECT_EQ(ippsDiv_64f_I(divisor, srcDst, 5), ippStsDivByZero);
  EXPECT_TRUE(std::isnan(srcDst[1]));
  // The zero's sign does not matter, and the loop went on.
  EXPECT_EQ((std::vector<Ipp64f>{srcDst[0], srcDst[2], srcDst[3], srcDst[4]}),
            (std::vector<Ipp64f>{kInf, -kInf, kInf, 2.5}));
}

TEST_P(Arith, WarningsSquareRootOfNegatives) {
  const Ipp64f src[] = {4.0, -1.0, -0.0, -kInf};
  Ipp64f dst[4];
  EXPECT_EQ(ippsSqrt_64f(src, dst, 4), ippStsSqrtNegArg);
  EXPECT_TRUE(dst[0] == 2.0 && std::isnan(dst[1]) && std::isnan(dst[3]));
  EXPECT_EQ(BitsOf(dst[2]), BitsOf(-0.0));  // -0 is not negative
  EXPECT_EQ(ippsSqrt_64f(src + 2, dst, 1), ippStsNoErr);
}

TEST_P(Arith, WarningsLogarithmReportsTheFirstProblem) {
  Ipp64f dst[4];
  const Ipp64f zeroFirst[] = {0.0, -1.0}, negFirst[] = {-0.0, 0.0}, quiet[] = {kNaN, kInf, 1.0, std::exp(2.0)};
  EXPECT_EQ(ippsLn_64f(zeroFirst, dst, 2), ippStsLnZeroArg);
  EXPECT_TRUE(dst[0] == -kInf && std::isnan(dst[1]));
  EXPECT_EQ(ippsLn_64f(negFirst, dst, 2), ippStsLnNegArg);
  EXPECT_TRUE(std::isnan(dst[0]) && dst[1] == -kInf);
  EXPECT_EQ(ippsLn_64f(quiet, dst, 4), ippStsNoErr);
  EXPECT_TRUE(std::isnan(dst[0]) && dst[1] == kInf && dst[2] == 0.0);
  EXPECT_LE(UlpDistance(dst[3], 2.0), 1u);
  // Problems found in the vector loop keep the first-met rule.
  std::vector<Ipp64f> v(500, 2.0);
  v[300] = -4.0;
  v[301] = 0.0;
  EXPECT_EQ(ippsLn_64f_I(v.data(), 500), ippStsLnNegArg);
  EXPECT_TRUE(std::isnan(v[300]) && v[301] == -kInf);
  EXPECT_LE(UlpDistance(v[0], std::log(2.0)), 1u);
}

TEST_P(Arith, ExpEdgesMatchTheCLibrary) {
  // Values around the overflow and underflow limits, the fast-range bounds and the specials.
  std::vector<Ipp64f> src = {0.0,  -0.0,   1.0,    -1.0, 709.0, 709.78, 709.79, 710.0,      -708.0,     -708.5,
                             -740.0, -745.1, -746.0, 1e-310, kInf, -kInf, kNaN, 1e-20, 0.34657359, -0.34657359};
  // Pad so the specials fall both in the vector loop and in the tail.
  const auto head = src;
  for (int rep = 0; rep < 3; ++rep) src.insert(src.end(), head.begin(), head.end());
  std::vector<Ipp64f> dst(src.size());
  ASSERT_EQ(ippsExp_64f(src.data(), dst.data(), static_cast<int>(src.size())), ippStsNoErr);
  for (std::size_t i = 0; i < src.size(); ++i)
    EXPECT_LE(UlpDistance(dst[i], std::exp(src[i])), 1u) << "exp(" << src[i] << ")";
  EXPECT_TRUE(dst[0] == 1.0 && dst[7] == kInf && dst[12] == 0.0);
}

// Random arguments over each function's whole domain, within 1 ulp of the C library.
TEST_P(Arith, ExpAndLnAccurateAcrossTheWholeRange) {
  std::mt19937 rng(7);
  std::vector<Ipp64f> expSrc(200000), lnSrc(200000);
  std::uniform_real_distribution<double> u(-745.0, 710.0);
  for (auto& x : expSrc) x = u(rng);
  std::uniform_int_distribution<std::uint64_t> bits(1, 0x7FEFFFFFFFFFFFFFull);  // every positive finite double
  for (auto& x : lnSrc) {
    const std::uint64_t b = bits(rng);
    std::memcpy(&x, &b, sizeof x);
  }
  for (int i = 0; i < 1000; ++i) lnSrc[static_cast<std::size_t>(i)] = 1.0 + (i - 500) * 1e-6;  // near 1
  const struct {
    const char* Name;
    const std::vector<Ipp64f>& Src;
    IppStatus (*Fn)(const Ipp64f*, Ipp64f*, int);
    double (*Want)(double);
  } cases[] = {{"exp", expSrc, ippsExp_64f, [](double x) { return std::exp(x); }},
               {"ln", lnSrc, ippsLn_64f, [](double x) { return std::log(x); }}};
  for (const auto& c : cases) {
    std::vector<Ipp64f> dst(c.Src.size());
    ASSERT_EQ(c.Fn(c.Src.data(), dst.data(), static_cast<int>(dst.size())), ippStsNoErr) << c.Name;
    std::uint64_t worst = 0;
    for (std::size_t i = 0; i < dst.size(); ++i) worst = std::max(worst, UlpDistance(dst[i], c.Want(c.Src[i])));
    EXPECT_LE(worst, 1u) << c.Name;
  }
}

}  // namespace
}  // namespace nx
