// Real arithmetic against the scalar twins, shortcuts, warnings, accuracy and errors.
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

template <typename T>
auto Bits(const T* p, std::size_t n) {
  std::vector<decltype(BitsOf(T{}))> b;
  for (std::size_t i = 0; i < n; ++i) b.push_back(BitsOf(p[i]));
  return b;
}

// 0 and 1 constants copy bit for bit or write +0 (also dividing by an infinity); 0 as a divisor is refused.
TEST_P(Arith, ShortcutsForConstantsZeroAndOne) {
  const Ipp64f sNaN = std::numeric_limits<Ipp64f>::signaling_NaN();
  const std::vector<Ipp64f> src = {-0.0, kInf, sNaN, -2.5, 1e300, 0.0, -kInf, 4.9e-324, 7.0};
  const int n = static_cast<int>(src.size());
  const auto copy = Bits(src.data(), src.size());
  const decltype(copy) zeros(src.size(), 0);
  const std::pair<std::function<IppStatus(Ipp64f*)>, const decltype(copy)*> calls[] = {
      {[&](Ipp64f* d) { return ippsAddC_64f(src.data(), 0.0, d, n); }, &copy},
      {[&](Ipp64f* d) { return ippsSubC_64f(src.data(), 0.0, d, n); }, &copy},
      {[&](Ipp64f* d) { return ippsMulC_64f(src.data(), 1.0, d, n); }, &copy},
      {[&](Ipp64f* d) { return ippsMulC_64f_I(1.0, d, n); }, &copy},
      {[&](Ipp64f* d) { return ippsMulC_64f(src.data(), -0.0, d, n); }, &zeros},
      {[&](Ipp64f* d) { return ippsMulC_64f_I(0.0, d, n); }, &zeros},
      {[&](Ipp64f* d) { return ippsDivC_64f(src.data(), -kInf, d, n); }, &zeros},
  };
  for (std::size_t i = 0; i < std::size(calls); ++i) {
    std::vector<Ipp64f> dst = src;
    EXPECT_EQ(calls[i].first(dst.data()), ippStsNoErr) << i;
    EXPECT_EQ(Bits(dst.data(), src.size()), *calls[i].second) << i;
  }
  std::vector<Ipp32f> f = {-0.0f, std::numeric_limits<Ipp32f>::signaling_NaN(), 2.0f};
  const auto fBits = Bits(f.data(), 3);
  EXPECT_EQ(ippsMulC_32f_I(1.0f, f.data(), 3), ippStsNoErr);
  EXPECT_EQ(Bits(f.data(), 3), fBits);
  EXPECT_EQ(ippsMulC_32f_I(0.0f, f.data(), 3), ippStsNoErr);
  EXPECT_EQ(Bits(f.data(), 3), std::vector<std::uint32_t>(3, 0));
  // A zero constant divisor is an error before any write.
  const std::vector<Ipp64f> untouched(10, 7.0);
  std::vector<Ipp64f> dst = untouched;
  EXPECT_EQ(ippsDivC_64f(src.data(), -0.0, dst.data(), n), ippStsDivByZeroErr);
  EXPECT_EQ(ippsDivC_64f_I(0.0, dst.data(), 10), ippStsDivByZeroErr);
  EXPECT_EQ(ippsDivC_64f_I(0.0, dst.data(), 0), ippStsSizeErr);  // the length is checked first
  EXPECT_EQ(dst, untouched);
}

// Warnings: the loop goes on and the first problem met is reported.
TEST_P(Arith, WarningsForZeroDivisorsNegativeRootsAndLogarithmsAndExpLnAccuracy) {
  const Ipp64f divisor[] = {0.0, 0.0, 0.0, -0.0, 2.0};
  Ipp64f srcDst[] = {1.0, 0.0, -1.0, 3.0, 5.0};
  EXPECT_EQ(ippsDiv_64f_I(divisor, srcDst, 5), ippStsDivByZero);
  EXPECT_TRUE(std::isnan(srcDst[1]));
  EXPECT_EQ((std::vector<Ipp64f>{srcDst[0], srcDst[2], srcDst[3], srcDst[4]}), (std::vector<Ipp64f>{kInf, -kInf, kInf, 2.5}));
  const Ipp64f roots[] = {4.0, -1.0, -0.0, -kInf};
  Ipp64f dst[4];
  EXPECT_EQ(ippsSqrt_64f(roots, dst, 4), ippStsSqrtNegArg);
  EXPECT_TRUE(dst[0] == 2.0 && std::isnan(dst[1]) && std::isnan(dst[3]));
  EXPECT_EQ(ippsSqrt_64f(roots + 2, dst, 1), ippStsNoErr);  // -0 is not negative
  EXPECT_EQ(BitsOf(dst[0]), BitsOf(-0.0));
  const Ipp64f zeroFirst[] = {0.0, -1.0}, negFirst[] = {-0.0, 0.0}, quiet[] = {kNaN, kInf, 1.0};
  EXPECT_EQ(ippsLn_64f(zeroFirst, dst, 2), ippStsLnZeroArg);
  EXPECT_TRUE(dst[0] == -kInf && std::isnan(dst[1]));
  EXPECT_EQ(ippsLn_64f(negFirst, dst, 2), ippStsLnNegArg);
  EXPECT_EQ(ippsLn_64f(quiet, dst, 3), ippStsNoErr);
  EXPECT_TRUE(std::isnan(dst[0]) && dst[1] == kInf && dst[2] == 0.0);
  std::vector<Ipp64f> v(500, 2.0);  // met in the vector loop
  v[300] = -4.0;
  v[301] = 0.0;
  EXPECT_EQ(ippsLn_64f_I(v.data(), 500), ippStsLnNegArg);
  EXPECT_TRUE(std::isnan(v[300]) && v[301] == -kInf);
  // Within 1 ulp of the C library over the whole domain, exp also at its limits and specials.
  std::mt19937 rng(7);
  std::vector<Ipp64f> expSrc(200000), lnSrc(200000);
  std::uniform_real_distribution<double> u(-745.0, 710.0);
  for (auto& x : expSrc) x = u(rng);
  const Ipp64f edges[] = {0.0,    -0.0,   1.0,    -1.0, 709.0, 709.78, 709.79, 710.0, -708.0,     -708.5,
                          -740.0, -745.1, -746.0, 1e-310, kInf, -kInf, kNaN,  1e-20, 0.34657359, -0.34657359};
  for (std::size_t i = 0; i < 4 * std::size(edges) + 3; ++i) expSrc[i] = edges[i % std::size(edges)];
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
    for (std::size_t i = 0; i < dst.size(); ++i) ASSERT_LE(UlpDistance(dst[i], c.Want(c.Src[i])), 1u) << c.Name << "(" << c.Src[i] << ")";
  }
}

// The dispatch's own reading of the processor agrees with the compiler's
// (libgcc's, which also asks the operating system which register states it
// saves): the best target is the best one whose features are all present,
// and a forced target is used until the force is lifted. A program run on
// one target (NX_TEST_SIMD_TARGET) offers that target alone.
TEST(ArithDispatch, ChoosesTheBestTargetTheProcessorRuns) {
  if (const char* forced = std::getenv("NX_TEST_SIMD_TARGET"); forced != nullptr && *forced != 0) {
    const std::vector<std::int64_t> only = builtin::SimdTargets();
    ASSERT_EQ(only.size(), 1u);
    EXPECT_STREQ(hwy::TargetName(only.front()), forced);
    EXPECT_STREQ(builtin::SimdTargetName(), forced);
    return;
  }
  const bool sse4 = __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("sse4.2") &&
                    __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("aes");
  const bool avx2 = sse4 && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") &&
                    __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("f16c");
  const bool avx3 = avx2 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
                    __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512bw");
  const char* best = avx3 ? "AVX3" : avx2 ? "AVX2" : sse4 ? "SSE4" : nullptr;
  const std::vector<std::int64_t> targets = builtin::SimdTargets();
  ASSERT_FALSE(targets.empty());
  if (best != nullptr) {
    EXPECT_STREQ(hwy::TargetName(targets.front()), best);
  }
  EXPECT_STREQ(builtin::SimdTargetName(), hwy::TargetName(targets.front()));
  // Best first, each target once; the portable one comes last.
  for (size_t i = 1; i < targets.size(); ++i) EXPECT_LT(targets[i - 1], targets[i]);
  builtin::SetSimdTargetsForTest(targets.back());
  EXPECT_STREQ(builtin::SimdTargetName(), hwy::TargetName(targets.back()));
  builtin::SetSimdTargetsForTest(0);
  EXPECT_STREQ(builtin::SimdTargetName(), hwy::TargetName(targets.front()));
}

}  // namespace
}  // namespace nx
