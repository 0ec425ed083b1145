// Statistics, norms and thresholds against the twins (sums within a rounding bound) and known answers.
#include "vector/KernelTables.h"

namespace nx {
namespace {

using namespace nxtest;
using E = TElem;

// The sum of f(i) over i < n.
template <typename F>
double SumOf(int n, F f) {
  double s = 0;
  for (int i = 0; i < n; ++i) s += f(i);
  return s;
}

double SumAbs(const double* p, int n) {
  return SumOf(n, [p](int i) { return std::fabs(p[i]); });
}

std::vector<TTwinRow> TwinRows() {
  const auto r = E::F64, f = E::F32, c = E::C64;
  const TRange S = TRange::Small;
  auto sumAbsA = [](const TArgs& a) { return SumAbs(a.F64(0), a.Len); };
  auto sumAbsAB = [](const TArgs& a) { return SumAbs(a.F64(0), a.Len) + SumAbs(a.F64(1), a.Len); };
  return {
      // Reductions: Small values, so that no sum overflows in one order and not in another.
      NX_TWIN(ippsSum_64f, (In(r), Out(r, 1)), a.F64(0), a.Len, a.F64(1)).Range_(S).Budget_(sumAbsA),
      NX_TWIN(ippsMean_64f, (In(r), Out(r, 1)), a.F64(0), a.Len, a.F64(1))
          .Range_(S).Budget_([](const TArgs& a) { return SumAbs(a.F64(0), a.Len) / a.Len; }),
      NX_TWIN(ippsDotProd_64f, (In(r), In(r), Out(r, 1)), a.F64(0), a.F64(1), a.Len, a.F64(2))
          .Range_(S).Budget_([](const TArgs& a) {
            return SumOf(a.Len, [&](int i) { return std::fabs(a.F64(0)[i] * a.F64(1)[i]); });
          }),
      NX_TWIN(ippsNormDiff_L1_64f, (In(r), In(r), Out(r, 1)), a.F64(0), a.F64(1), a.Len, a.F64(2)).Range_(S).Budget_(sumAbsAB),
      // sqrt halves the relative error: a budget of sqrt(sum) bounds it.
      NX_TWIN(ippsNormDiff_L2_64f, (In(r), In(r), Out(r, 1)), a.F64(0), a.F64(1), a.Len, a.F64(2))
          .Range_(S).Budget_([](const TArgs& a) {
            const auto term = [&](int i) { return std::pow(std::fabs(a.F64(0)[i]) + std::fabs(a.F64(1)[i]), 2); };
            return std::sqrt(SumOf(a.Len, term));
          }),
      NX_TWIN(ippsNormDiff_Inf_64f, (In(r), In(r), Out(r, 1)), a.F64(0), a.F64(1), a.Len, a.F64(2))
          .Range_(S).Budget_([](const TArgs&) { return 0.0; }),  // a maximum is exact
      // Compared as the variance: its rounding is bounded by sum(x^2) / (len - 1).
      TTwinRow{"ippsStdDev_64f", {In(r), Out(r, 1)},
               [](bool twin, const TArgs& a) {
                 const IppStatus st = (twin ? &reference::ippsStdDev_64f : NXBasicDispatcher::ippsStdDev_64f)(a.F64(0), a.Len, a.F64(1));
                 if (st == ippStsNoErr) a.F64(1)[0] *= a.F64(1)[0];
                 return st;
               }}
          .Range_(S).Budget_([](const TArgs& a) {
            return 10 * SumOf(a.Len, [&](int i) { return a.F64(0)[i] * a.F64(0)[i]; }) / (a.Len - 1);
          }, 2),
      NX_TWIN(ippsMean_32f, (In(f), Out(f, 1)), a.F32(0), a.Len, a.F32(1), ippAlgHintFast)
          .Range_(S).Budget_([](const TArgs& a) {  // plus half an ulp of the float result
            const double mean = SumOf(a.Len, [&](int i) { return std::fabs(a.F32(0)[i]); }) / a.Len;
            return mean + 1e12 * std::fabs(a.F32(1)[0]) * 1.2e-7;
          }),
      NX_TWIN(ippsDotProd_64fc, (In(c), In(c), Out(c, 1)), a.C64(0), a.C64(1), a.Len, a.C64(2))
          .Range_(S).Budget_([](const TArgs& a) {
            return SumOf(a.Len, [&](int i) { return SumAbs(&a.C64(0)[i].re, 2) * SumAbs(&a.C64(1)[i].re, 2); });
          }),
      NX_TWIN_ROW(NXNormDispatcher, ippsNorm_L2_64fc64f, (In(c), Out(r, 1)), a.C64(0), a.Len, a.F64(1))
          .Range_(S).Budget_([](const TArgs& a) {
            return std::sqrt(SumOf(2 * a.Len, [&](int i) { return std::pow((&a.C64(0)[0].re)[i], 2); }));
          }),
      // Element-wise: bit for bit.
      NX_TWIN(ippsNormalize_64f, (In(r), Out(r)), a.F64(0), a.F64(1), a.Len, 3.25, -7.5),
      NX_TWIN(ippsThreshold_64f, (In(r), Out(r)), a.F64(0), a.F64(1), a.Len, 12.5, ippCmpGreater),
      NX_TWIN(ippsThreshold_64f, (In(r), Out(r)), a.F64(0), a.F64(1), a.Len, -0.0, ippCmpLess),
      NX_TWIN(ippsThreshold_64f_I, (InOut(r)), a.F64(0), a.Len, 0.0, ippCmpGreater),
      NX_TWIN(ippsThreshold_64f_I, (InOut(r)), a.F64(0), a.Len, 40.0, ippCmpEq),
      NX_TWIN(ippsNormalize_32f, (In(f), Out(f)), a.F32(0), a.F32(1), a.Len, 1.5f, 3.0f),
      NX_TWIN(ippsThreshold_32f_I, (InOut(f)), a.F32(0), a.Len, -3.5f, ippCmpGreater),
      NX_TWIN(ippsThreshold_32f_I, (InOut(f)), a.F32(0), a.Len, 3.5f, ippCmpLess),
      NX_TWIN(ippsNormalize_64fc, (In(c), Out(c)), a.C64(0), a.C64(1), a.Len, Ipp64fc{1, -2}, 0.3),
      NX_TWIN(ippsThreshold_64fc, (In(c), Out(c)), a.C64(0), a.C64(1), a.Len, 60.0, ippCmpGreater),
      NX_TWIN(ippsThreshold_64fc, (In(c), Out(c)), a.C64(0), a.C64(1), a.Len, 60.0, ippCmpLess),
      NX_TWIN(ippsThreshold_64fc_I, (InOut(c)), a.C64(0), a.Len, 1e-200, ippCmpLess),
      NX_TWIN(ippsThreshold_64fc_I, (InOut(c)), a.C64(0), a.Len, 0.0, ippCmpGreater),
      NX_TWIN_ROW(NXScopeDispatcher, ippsThreshold_LT_32s_I, (InOut(E::S32)), a.S32(0), a.Len, -12345),
      NX_TWIN_ROW(NXScopeDispatcher, ippsThreshold_GT_32s_I, (InOut(E::S32)), a.S32(0), a.Len, 777),
  };
}

NX_SIMD_SUITE(StatsKernels);

TEST_P(StatsKernels, MatchScalarTwins) { RunTwinTable(TwinRows(), 4242); }

TEST(StatsDispatch, EveryPrimitiveHasATest) { CheckPrimitiveGroups("Stats", {TwinRows()}); }

TEST_P(StatsKernels, ExtremesMatchTwinsExactlyComplexThresholdKeepsPhase) {
  // v[0] min, v[1] max, v[2..3] min and max, v[4..5] with positions.
  struct Result { IppStatus st[5]; double v[6]; int idx[2]; };
  auto run = [](bool ref, const double* p, int n) {
    Result r{};
    r.st[0] = NX_PICK(ref, ippsMin_64f)(p, n, &r.v[0]);
    r.st[1] = NX_PICK(ref, ippsMax_64f)(p, n, &r.v[1]);
    r.st[2] = NX_PICK(ref, ippsMinMax_64f)(p, n, &r.v[2], &r.v[3]);
    r.st[3] = NX_PICK(ref, ippsMinIndx_64f)(p, n, &r.v[4], &r.idx[0]);
    r.st[4] = NX_PICK(ref, ippsMaxIndx_64f)(p, n, &r.v[5], &r.idx[1]);
    return r;
  };
  TFiller f(99);
  for (int len : TwinLengths()) {
    for (int variant = 0; variant < 6; ++variant) {
      std::vector<double> store(len + 1);
      double* p = store.data() + (variant & 1);
      for (int i = 0; i < len; ++i) p[i] = f.Real(TRange::General, variant >= 2);
      if (variant >= 4) {
        // Ties (-0 against +0 included) spread across the kernel's blocks.
        static const double kTies[] = {-0.0, 0.0, 1.0, -1.0};
        for (int i = 0; i < len; ++i) p[i] = kTies[f.Index(4)];
        if (variant == 5 && len > 3) p[f.Index(len)] = kNaN;
      }
      const Result got = run(false, p, len);
      const Result want = run(true, p, len);
      for (int k = 0; k < 5; ++k) ASSERT_EQ(got.st[k], ippStsNoErr);
      for (int k = 0; k < 6; ++k) ASSERT_TRUE(SameValue(got.v[k], want.v[k])) << "len " << len << " variant " << variant << " out " << k;
      ASSERT_TRUE(got.idx[0] == want.idx[0] && got.idx[1] == want.idx[1]) << "len " << len << " variant " << variant;
    }
  }
  // The complex threshold keeps the phase.
  const int n = 301;
  std::vector<Ipp64fc> src(n), dst(n);
  for (auto& c : src) c = {f.Uniform(-100, 100), f.Uniform(-100, 100)};
  src[7] = {0, 0};
  src[8] = {1e-300, -1e-300};  // magnitude far below the level, no underflow to 0
  src[9] = {3e300, 4e300};     // magnitude beyond the squares' range
  for (IppCmpOp op : {ippCmpGreater, ippCmpLess}) {
    const double level = 50;
    ASSERT_EQ(ippsThreshold_64fc(src.data(), dst.data(), n, level, op), ippStsNoErr);
    for (int i = 0; i < n; ++i) {
      const double m0 = std::hypot(src[i].re, src[i].im);
      const double m1 = std::hypot(dst[i].re, dst[i].im);
      const bool clipped = op == ippCmpGreater ? m0 > level : m0 < level;
      if (!clipped) {
        EXPECT_TRUE(SameValue(dst[i], src[i])) << i;
        continue;
      }
      EXPECT_NEAR(m1, level, 1e-13 * level) << i;
      if (m0 == 0) {
        EXPECT_TRUE(dst[i].re == level && dst[i].im == 0.0);
      } else {
        EXPECT_NEAR(std::atan2(dst[i].im, dst[i].re), std::atan2(src[i].im, src[i].re), 1e-14) << i;
      }
    }
  }
}

// Known answers; the first extreme wins across blocks, a NaN wins outright, the index pointer may be null.
TEST_P(StatsKernels, KnownValuesRulesAndErrors) {
  std::vector<double> big(10000, 0.5);
  big[3000] = big[9000] = 7;
  double m = 0;
  int k = -1;
  ASSERT_EQ(ippsMaxIndx_64f(big.data(), 10000, &m, &k), ippStsNoErr);
  EXPECT_EQ(k, 3000);
  big[7777] = kNaN;
  EXPECT_EQ(ippsMinIndx_64f(big.data(), 10000, &m, nullptr), ippStsNoErr);
  EXPECT_TRUE(std::isnan(m));
  // (One sample is a size error: the twin runner's length checks, MinLen 2.)
  double r = -1;
  const double ones[] = {1, 1}, ramp[] = {2, 4, 4, 4, 5, 5, 7, 9};
  ASSERT_EQ(ippsStdDev_64f(ones, 2, &r), ippStsNoErr);
  EXPECT_EQ(r, 0.0);
  ASSERT_EQ(ippsStdDev_64f(ramp, 8, &r), ippStsNoErr);
  EXPECT_NEAR(r, std::sqrt(32.0 / 7.0), 1e-15);
  // The complex dot product conjugates neither operand: (1 + 2i)(3 + 4i) = -5 + 10i.
  const Ipp64fc c1[] = {{1, 2}}, c2[] = {{3, 4}};
  Ipp64fc dp{};
  ASSERT_EQ(ippsDotProd_64fc(c1, c2, 1, &dp), ippStsNoErr);
  EXPECT_TRUE(dp.re == -5.0 && dp.im == 10.0);
  float mean = 0;
  const float fl[] = {1.0f, 2.0f, 4.0f};
  ASSERT_EQ(ippsMean_32f(fl, 3, &mean, ippAlgHintAccurate), ippStsNoErr);
  EXPECT_EQ(mean, 7.0f / 3.0f);
  double src[4] = {1, 2, 3, 4}, dst[4] = {9, 9, 9, 9};
  EXPECT_EQ(ippsNormalize_64f(src, dst, 4, 0, 1e-309), ippStsDivByZeroErr);  // below the smallest normal
  float fsrc[2] = {1, 2}, fdst[2] = {9, 9};
  EXPECT_EQ(ippsNormalize_32f(fsrc, fdst, 2, 0, 0.0f), ippStsDivByZeroErr);
  Ipp64fc csrc[2] = {{1, 1}, {2, 2}}, cdst[2] = {{9, 9}, {9, 9}};
  EXPECT_EQ(ippsNormalize_64fc(csrc, cdst, 2, Ipp64fc{0, 0}, 0.0), ippStsDivByZeroErr);
  EXPECT_EQ(ippsThreshold_64fc(csrc, cdst, 2, -1.0, ippCmpGreater), ippStsThreshNegLevelErr);
  EXPECT_EQ(ippsThreshold_64fc_I(csrc, 2, -1.0, ippCmpLess), ippStsThreshNegLevelErr);
  EXPECT_EQ(ippsThreshold_64fc(nullptr, cdst, 2, -1.0, ippCmpGreater), ippStsNullPtrErr);  // before the level
  EXPECT_EQ(Vec(dst, 4), std::vector<double>(4, 9.0));
  EXPECT_TRUE(fdst[0] == 9.0f && cdst[0].re == 9.0 && csrc[1].re == 2.0);
  EXPECT_EQ(ippsNormalize_64f(src, dst, 4, 0, 2.2250738585072014e-308), ippStsNoErr);  // the smallest accepted
  // Real thresholds are strict; unordered values are never replaced.
  double v[] = {-2, -1, 0, 1, 2, kNaN};
  ASSERT_EQ(ippsThreshold_64f_I(v, 6, 1.0, ippCmpGreater), ippStsNoErr);
  ASSERT_EQ(ippsThreshold_64f_I(v, 6, -1.0, ippCmpLessEq), ippStsNoErr);  // any op but Greater clips from below
  EXPECT_EQ(Vec(v, 5), (std::vector<double>{-1, -1, 0, 1, 1}));
  EXPECT_TRUE(std::isnan(v[5]));
  Ipp32s iv[] = {-5, 0, 5};
  ASSERT_EQ(NXScopeDispatcher::ippsThreshold_LT_32s_I(iv, 3, 0), ippStsNoErr);
  ASSERT_EQ(NXScopeDispatcher::ippsThreshold_GT_32s_I(iv, 3, 1), ippStsNoErr);
  EXPECT_EQ(Vec(iv, 3), (std::vector<Ipp32s>{0, 0, 1}));
}

}  // namespace
}  // namespace nx
