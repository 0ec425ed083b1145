// Statistics, norms and thresholds: every dispatched routine against its
// scalar twin (element-wise results bit-exact, sums within a rounding bound
// relative to the sum of |terms|, extremes exact including positions), the
// argument checks of every routine, and the cases with known answers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <vector>

#include "nxruntime.h"
#include "vector/GuardedArray.h"
#include "vector/builtin/NXBuiltins.h"
#include "vector/reference/NXReference.h"

namespace nx {
namespace {

using nxtest::Guarded;
using nxtest::kInf;
using nxtest::kNaN;
using nxtest::kPad;

template <typename T>
bool SameValue(T a, T b) {
  if constexpr (std::is_floating_point_v<T>) {
    if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  }
  return std::memcmp(&a, &b, sizeof a) == 0;
}
bool SameValue(Ipp64fc a, Ipp64fc b) { return SameValue(a.re, b.re) && SameValue(a.im, b.im); }

class Filler {
 public:
  explicit Filler(unsigned seed) : rng_(seed) {}
  // With huge = false no value is large enough for a sum to overflow, so sums
  // of special values are NaN or infinite in any order of summation.
  double Real(bool special, bool huge) {
    static const double kSpecial[] = {kNaN, kInf, -kInf, 0.0, -0.0, 4.9e-324, -2.5e-310, 1e-170, 1e300, -1e300};
    const size_t count = std::size(kSpecial) - (huge ? 0 : 2);
    if (special && Uniform(0, 1) < 0.05) return kSpecial[Index(count)];
    return Uniform(-100, 100);
  }
  void Fill(double* p, int n, bool special, bool huge) {
    for (int i = 0; i < n; ++i) p[i] = Real(special, huge);
  }
  void Fill(float* p, int n, bool special, bool huge) {
    for (int i = 0; i < n; ++i) p[i] = static_cast<float>(Real(special, huge));
  }
  void Fill(Ipp64fc* p, int n, bool special, bool huge) {
    for (int i = 0; i < n; ++i) {
      p[i] = {Real(special, huge), Real(special, huge)};
      if (special && Uniform(0, 1) < 0.05) p[i] = {0.0, -0.0};
    }
  }
  void Fill(Ipp32s* p, int n, bool, bool) {
    for (int i = 0; i < n; ++i) p[i] = static_cast<Ipp32s>(Uniform(-3e9, 3e9) / 1.5);
  }
  double Uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng_); }
  size_t Index(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }

 private:
  std::mt19937_64 rng_;
};

template <typename TA, typename TX>
struct Bufs {
  Guarded<TA> a, b;
  Guarded<TX> x;
  unsigned nullMask = 0;
  Bufs(int len, int off) : a(len, off), b(len, off), x(len, off) {}
  TA* A() { return nullMask & 1 ? nullptr : a.data(); }
  TA* B() { return nullMask & 2 ? nullptr : b.data(); }
  TX* X() { return nullMask & 4 ? nullptr : x.data(); }
};
enum : unsigned { kA = 1, kB = 2, kX = 4, kExtra = 8 };

template <typename TA, typename TX>
struct Case {
  const char* name;
  unsigned required;  // slots that must not be null (kExtra: a second output)
  std::function<IppStatus(bool ref, Bufs<TA, TX>& b, int len, bool nullExtra)> call;
  // For reductions: the number of outputs in x and the rounding budget
  // (the sum of |terms| of the inputs); null means element-wise and exact.
  int outputs = 0;
  std::function<double(Bufs<TA, TX>& b, int len)> budget = nullptr;
  int minLen = 1;
};

std::vector<int> Sizes() {
  std::vector<int> sizes;
  for (int n = 1; n <= 40; ++n) sizes.push_back(n);
  for (int n : {63, 64, 65, 127, 128, 129, 255, 333, 512, 777, 1000, 2047, 2049, 100003}) sizes.push_back(n);
  return sizes;
}

template <typename TA, typename TX>
void Prepare(Bufs<TA, TX>& b, int len, Filler& f, bool special, bool huge, bool fillDst = true) {
  f.Fill(b.a.data(), len, special, huge);
  f.Fill(b.b.data(), len, special, huge);
  if (fillDst) f.Fill(b.x.data(), len, special, huge);  // in-place routines read it
}

template <typename T>
bool SameStore(const Guarded<T>& p, const Guarded<T>& q) {
  return std::memcmp(p.store.data(), q.store.data(), p.store.size() * sizeof(T)) == 0;
}

bool Close(double got, double want, double budget) {
  if (std::isnan(got) || std::isnan(want) || std::isinf(got) || std::isinf(want)) return SameValue(got, want);
  return std::fabs(got - want) <= 1e-12 * budget + 1e-300;
}
bool Close(Ipp64fc got, Ipp64fc want, double budget) {
  return Close(got.re, want.re, budget) && Close(got.im, want.im, budget);
}

template <typename TA, typename TX>
void RunTable(const std::vector<Case<TA, TX>>& cases) {
  Filler f(4242);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (unsigned bit = 1; bit <= 8; bit <<= 1) {
      if (!(c.required & bit)) continue;
      for (bool ref : {false, true}) {
        Bufs<TA, TX> b(16, 0);
        Prepare(b, 16, f, false, true);
        Bufs<TA, TX> before = b;
        b.nullMask = bit & 7;
        EXPECT_EQ(c.call(ref, b, 16, bit == kExtra), ippStsNullPtrErr) << "null slot " << bit << (ref ? " (twin)" : "");
        EXPECT_TRUE(SameStore(b.x, before.x) && SameStore(b.a, before.a));
      }
    }
    for (int len : {c.minLen - 1, -1}) {
      for (bool ref : {false, true}) {
        Bufs<TA, TX> b(4, 0);
        Prepare(b, 4, f, false, true);
        Bufs<TA, TX> before = b;
        EXPECT_EQ(c.call(ref, b, len, false), ippStsSizeErr) << "len " << len << (ref ? " (twin)" : "");
        EXPECT_TRUE(SameStore(b.x, before.x) && SameStore(b.a, before.a));
      }
    }
    for (int len : Sizes()) {
      if (len < c.minLen) continue;
      for (int off : {0, 1}) {
        for (bool special : {false, true}) {
          Bufs<TA, TX> got(len, off);
          Prepare(got, len, f, special, c.budget == nullptr, c.budget == nullptr);
          Bufs<TA, TX> want = got;
          const IppStatus sGot = c.call(false, got, len, false);
          ASSERT_EQ(sGot, c.call(true, want, len, false)) << "len " << len;
          ASSERT_TRUE(SameStore(got.a, want.a)) << "a source was written, len " << len;
          if (c.budget) {
            const double budget = c.budget(got, len);
            for (int k = 0; k < c.outputs; ++k)
              ASSERT_TRUE(Close(got.x.data()[k], want.x.data()[k], budget)) << "len " << len << " output " << k;
            ASSERT_TRUE(got.x.CanariesIntact(c.outputs)) << "len " << len;
          } else {
            for (int k = 0; k < len; ++k)
              ASSERT_TRUE(SameValue(got.x.data()[k], want.x.data()[k])) << "len " << len << " at " << k;
            ASSERT_TRUE(got.x.CanariesIntact(len)) << "len " << len;
          }
        }
      }
    }
  }
}

#define PICK(name) (ref ? &reference::name : NXBasicDispatcher::name)

double SumAbs(const double* p, int n) {
  double s = 0;
  for (int i = 0; i < n; ++i) s += std::fabs(p[i]);
  return s;
}

TEST(StatsKernels, ReductionsMatchTwinsWithinRounding) {
  using B = Bufs<Ipp64f, Ipp64f>;
  auto sumAbsA = [](B& b, int n) { return SumAbs(b.a.data(), n); };
  auto sumAbsDiff = [](B& b, int n) {
    double s = 0;
    for (int i = 0; i < n; ++i) s += std::fabs(b.a.data()[i]) + std::fabs(b.b.data()[i]);
    return s;
  };
  auto sumSqDiff = [](B& b, int n) {
    double s = 0;
    for (int i = 0; i < n; ++i) s += (std::fabs(b.a.data()[i]) + std::fabs(b.b.data()[i])) * (std::fabs(b.a.data()[i]) + std::fabs(b.b.data()[i]));
    return s;
  };
  RunTable(std::vector<Case<Ipp64f, Ipp64f>>{
      {"Sum_64f", kA | kX, [](bool ref, B& b, int n, bool) { return PICK(ippsSum_64f)(b.A(), n, b.X()); }, 1, sumAbsA},
      {"Mean_64f", kA | kX, [](bool ref, B& b, int n, bool) { return PICK(ippsMean_64f)(b.A(), n, b.X()); }, 1,
       [](B& b, int n) { return SumAbs(b.a.data(), n) / n; }},
      {"DotProd_64f", kA | kB | kX, [](bool ref, B& b, int n, bool) { return PICK(ippsDotProd_64f)(b.A(), b.B(), n, b.X()); }, 1,
       [](B& b, int n) {
         double s = 0;
         for (int i = 0; i < n; ++i) s += std::fabs(b.a.data()[i] * b.b.data()[i]);
         return s;
       }},
      {"NormDiff_L1_64f", kA | kB | kX,
       [](bool ref, B& b, int n, bool) { return PICK(ippsNormDiff_L1_64f)(b.A(), b.B(), n, b.X()); }, 1, sumAbsDiff},
      // sqrt halves the relative error: a budget of sqrt(sum) bounds it.
      {"NormDiff_L2_64f", kA | kB | kX,
       [](bool ref, B& b, int n, bool) { return PICK(ippsNormDiff_L2_64f)(b.A(), b.B(), n, b.X()); }, 1,
       [=](B& b, int n) { return std::sqrt(sumSqDiff(b, n)); }},
      {"NormDiff_Inf_64f", kA | kB | kX,
       [](bool ref, B& b, int n, bool) { return PICK(ippsNormDiff_Inf_64f)(b.A(), b.B(), n, b.X()); }, 1,
       [](B&, int) { return 0.0; }},  // a maximum is exact
      // Compared as the variance: its rounding is bounded by sum(x^2) / (len - 1).
      {"StdDev_64f", kA | kX,
       [](bool ref, B& b, int n, bool) {
         const IppStatus st = PICK(ippsStdDev_64f)(b.A(), n, b.X());
         if (st == ippStsNoErr) b.x.data()[0] *= b.x.data()[0];
         return st;
       },
       1,
       [](B& b, int n) {
         double q = 0;
         for (int i = 0; i < n; ++i) q += b.a.data()[i] * b.a.data()[i];
         return 10 * q / (n - 1);
       },
       2},
  });

  using BF = Bufs<Ipp32f, Ipp32f>;
  RunTable(std::vector<Case<Ipp32f, Ipp32f>>{
      {"Mean_32f", kA | kX,
       [](bool ref, BF& b, int n, bool) { return PICK(ippsMean_32f)(b.A(), n, b.X(), ippAlgHintFast); }, 1,
       [](BF& b, int n) {
         double s = 0;
         for (int i = 0; i < n; ++i) s += std::fabs(b.a.data()[i]);
         return s / n + 1e12 * std::fabs(b.x.data()[0]) * 1.2e-7;  // plus half an ulp of the float result
       }},
  });

  using BC = Bufs<Ipp64fc, Ipp64fc>;
  RunTable(std::vector<Case<Ipp64fc, Ipp64fc>>{
      {"DotProd_64fc", kA | kB | kX,
       [](bool ref, BC& b, int n, bool) { return PICK(ippsDotProd_64fc)(b.A(), b.B(), n, b.X()); }, 1,
       [](BC& b, int n) {
         double s = 0;
         for (int i = 0; i < n; ++i)
           s += (std::fabs(b.a.data()[i].re) + std::fabs(b.a.data()[i].im)) * (std::fabs(b.b.data()[i].re) + std::fabs(b.b.data()[i].im));
         return s;
       }},
  });
  using BN = Bufs<Ipp64fc, Ipp64f>;
  RunTable(std::vector<Case<Ipp64fc, Ipp64f>>{
      {"Norm_L2_64fc64f", kA | kX,
       [](bool ref, BN& b, int n, bool) {
         return (ref ? &reference::ippsNorm_L2_64fc64f : NXNormDispatcher::ippsNorm_L2_64fc64f)(b.A(), n, b.X());
       },
       1,
       [](BN& b, int n) {
         double s = 0;
         for (int i = 0; i < n; ++i) s += b.a.data()[i].re * b.a.data()[i].re + b.a.data()[i].im * b.a.data()[i].im;
         return std::sqrt(s);
       }},
  });
}

TEST(StatsKernels, ElementWiseRoutinesMatchTwinsExactly) {
  using B = Bufs<Ipp64f, Ipp64f>;
  RunTable(std::vector<Case<Ipp64f, Ipp64f>>{
      {"Normalize_64f", kA | kX,
       [](bool ref, B& b, int n, bool) { return PICK(ippsNormalize_64f)(b.A(), b.X(), n, 3.25, -7.5); }},
      {"Threshold_64f GT", kA | kX,
       [](bool ref, B& b, int n, bool) { return PICK(ippsThreshold_64f)(b.A(), b.X(), n, 12.5, ippCmpGreater); }},
      {"Threshold_64f LT", kA | kX,
       [](bool ref, B& b, int n, bool) { return PICK(ippsThreshold_64f)(b.A(), b.X(), n, -0.0, ippCmpLess); }},
      {"Threshold_64f_I GT", kX,
       [](bool ref, B& b, int n, bool) { return PICK(ippsThreshold_64f_I)(b.X(), n, 0.0, ippCmpGreater); }},
      {"Threshold_64f_I other op", kX,
       [](bool ref, B& b, int n, bool) { return PICK(ippsThreshold_64f_I)(b.X(), n, 40.0, ippCmpEq); }},
  });
  using BF = Bufs<Ipp32f, Ipp32f>;
  RunTable(std::vector<Case<Ipp32f, Ipp32f>>{
      {"Normalize_32f", kA | kX,
       [](bool ref, BF& b, int n, bool) { return PICK(ippsNormalize_32f)(b.A(), b.X(), n, 1.5f, 3.0f); }},
      {"Threshold_32f_I GT", kX,
       [](bool ref, BF& b, int n, bool) { return PICK(ippsThreshold_32f_I)(b.X(), n, -3.5f, ippCmpGreater); }},
      {"Threshold_32f_I LT", kX,
       [](bool ref, BF& b, int n, bool) { return PICK(ippsThreshold_32f_I)(b.X(), n, 3.5f, ippCmpLess); }},
  });
  using BC = Bufs<Ipp64fc, Ipp64fc>;
  RunTable(std::vector<Case<Ipp64fc, Ipp64fc>>{
      {"Normalize_64fc", kA | kX,
       [](bool ref, BC& b, int n, bool) { return PICK(ippsNormalize_64fc)(b.A(), b.X(), n, Ipp64fc{1, -2}, 0.3); }},
      {"Threshold_64fc GT", kA | kX,
       [](bool ref, BC& b, int n, bool) { return PICK(ippsThreshold_64fc)(b.A(), b.X(), n, 60.0, ippCmpGreater); }},
      {"Threshold_64fc LT", kA | kX,
       [](bool ref, BC& b, int n, bool) { return PICK(ippsThreshold_64fc)(b.A(), b.X(), n, 60.0, ippCmpLess); }},
      {"Threshold_64fc_I LT", kX,
       [](bool ref, BC& b, int n, bool) { return PICK(ippsThreshold_64fc_I)(b.X(), n, 1e-200, ippCmpLess); }},
      {"Threshold_64fc_I GT", kX,
       [](bool ref, BC& b, int n, bool) { return PICK(ippsThreshold_64fc_I)(b.X(), n, 0.0, ippCmpGreater); }},
  });
  using BI = Bufs<Ipp32s, Ipp32s>;
  RunTable(std::vector<Case<Ipp32s, Ipp32s>>{
      {"Threshold_LT_32s_I", kX,
       [](bool ref, BI& b, int n, bool) {
         return (ref ? &reference::ippsThreshold_LT_32s_I : NXScopeDispatcher::ippsThreshold_LT_32s_I)(b.X(), n, -12345);
       }},
      {"Threshold_GT_32s_I", kX,
       [](bool ref, BI& b, int n, bool) {
         return (ref ? &reference::ippsThreshold_GT_32s_I : NXScopeDispatcher::ippsThreshold_GT_32s_I)(b.X(), n, 777);
       }},
  });
}

TEST(StatsKernels, ExtremesMatchTwinsExactly) {
  // x[0] min, x[1] max; the positions go to separate ints.
  using B = Bufs<Ipp64f, Ipp64f>;
  struct Result {
    IppStatus st[5];
    double v[6];
    int idx[2];
  };
  auto run = [](bool ref, const double* p, int n) {
    Result r{};
    r.st[0] = PICK(ippsMin_64f)(p, n, &r.v[0]);
    r.st[1] = PICK(ippsMax_64f)(p, n, &r.v[1]);
    r.st[2] = PICK(ippsMinMax_64f)(p, n, &r.v[2], &r.v[3]);
    r.st[3] = PICK(ippsMinIndx_64f)(p, n, &r.v[4], &r.idx[0]);
    r.st[4] = PICK(ippsMaxIndx_64f)(p, n, &r.v[5], &r.idx[1]);
    return r;
  };
  Filler f(99);
  for (int len : Sizes()) {
    for (int variant = 0; variant < 6; ++variant) {
      B b(len, variant & 1);
      double* p = b.a.data();
      f.Fill(p, len, variant >= 2, true);
      if (variant >= 4) {
        // Few distinct values: many ties, including -0 against +0, spread
        // across the kernel's blocks.
        static const double kTies[] = {-0.0, 0.0, 1.0, -1.0};
        for (int i = 0; i < len; ++i) p[i] = kTies[f.Index(4)];
        if (variant == 5 && len > 3) p[f.Index(len)] = kNaN;
      }
      const Result got = run(false, p, len);
      const Result want = run(true, p, len);
      for (int k = 0; k < 5; ++k) ASSERT_EQ(got.st[k], ippStsNoErr);
      for (int k = 0; k < 6; ++k) ASSERT_TRUE(SameValue(got.v[k], want.v[k])) << "len " << len << " variant " << variant << " out " << k;
      ASSERT_EQ(got.idx[0], want.idx[0]) << "len " << len << " variant " << variant;
      ASSERT_EQ(got.idx[1], want.idx[1]) << "len " << len << " variant " << variant;
    }
  }
}

TEST(StatsKernels, ExtremesRules) {
  const double v[] = {1, 3, 3};
  double m = 0;
  int k = -1;
  ASSERT_EQ(ippsMaxIndx_64f(v, 3, &m, &k), ippStsNoErr);
  EXPECT_EQ(m, 3.0);
  EXPECT_EQ(k, 1);
  // A null index pointer is allowed.
  EXPECT_EQ(ippsMinIndx_64f(v, 3, &m, nullptr), ippStsNoErr);
  EXPECT_EQ(m, 1.0);

  // The first extreme wins across the kernel's blocks; a NaN wins outright.
  std::vector<double> big(10000, 0.5);
  big[3000] = 7;
  big[9000] = 7;
  big[5000] = -2;
  big[9999] = -2;
  ASSERT_EQ(ippsMaxIndx_64f(big.data(), 10000, &m, &k), ippStsNoErr);
  EXPECT_EQ(k, 3000);
  ASSERT_EQ(ippsMinIndx_64f(big.data(), 10000, &m, &k), ippStsNoErr);
  EXPECT_EQ(k, 5000);
  big[7777] = kNaN;
  ASSERT_EQ(ippsMinIndx_64f(big.data(), 10000, &m, &k), ippStsNoErr);
  EXPECT_TRUE(std::isnan(m));
  EXPECT_EQ(k, 7777);
  double lo = 0, hi = 0;
  ASSERT_EQ(ippsMinMax_64f(big.data(), 10000, &lo, &hi), ippStsNoErr);
  EXPECT_TRUE(std::isnan(lo) && std::isnan(hi));

  // A -0/+0 tie reports the first zero.
  const double zeros[] = {-0.0, 0.0, -1.0};
  ASSERT_EQ(ippsMax_64f(zeros, 3, &m), ippStsNoErr);
  EXPECT_TRUE(m == 0.0 && std::signbit(m));
}

TEST(StatsKernels, KnownValues) {
  double r = -1;
  const double one[] = {5};
  EXPECT_EQ(ippsStdDev_64f(one, 1, &r), ippStsSizeErr);
  EXPECT_EQ(reference::ippsStdDev_64f(one, 1, &r), ippStsSizeErr);
  EXPECT_EQ(r, -1.0);
  const double ones[] = {1, 1};
  ASSERT_EQ(ippsStdDev_64f(ones, 2, &r), ippStsNoErr);
  EXPECT_EQ(r, 0.0);
  const double ramp[] = {2, 4, 4, 4, 5, 5, 7, 9};
  ASSERT_EQ(ippsStdDev_64f(ramp, 8, &r), ippStsNoErr);
  EXPECT_NEAR(r, std::sqrt(32.0 / 7.0), 1e-15);

  const double a[] = {1, -2, 3}, b[] = {0.5, 2, -1};
  ASSERT_EQ(ippsNormDiff_Inf_64f(a, b, 3, &r), ippStsNoErr);
  EXPECT_EQ(r, 4.0);
  ASSERT_EQ(ippsNormDiff_L1_64f(a, b, 3, &r), ippStsNoErr);
  EXPECT_EQ(r, 8.5);

  // The complex dot product conjugates neither operand: (1 + 2i)(3 + 4i) = -5 + 10i.
  const Ipp64fc c1[] = {{1, 2}}, c2[] = {{3, 4}};
  Ipp64fc dp{};
  ASSERT_EQ(ippsDotProd_64fc(c1, c2, 1, &dp), ippStsNoErr);
  EXPECT_EQ(dp.re, -5.0);
  EXPECT_EQ(dp.im, 10.0);

  float mean = 0;
  const float fl[] = {1.0f, 2.0f, 4.0f};
  for (IppHintAlgorithm hint : {ippAlgHintNone, ippAlgHintFast, ippAlgHintAccurate, 77}) {
    ASSERT_EQ(ippsMean_32f(fl, 3, &mean, hint), ippStsNoErr);
    EXPECT_EQ(mean, 7.0f / 3.0f);
  }
}

TEST(StatsKernels, ArgumentErrorsWriteNothing) {
  double src[4] = {1, 2, 3, 4}, dst[4] = {9, 9, 9, 9};
  EXPECT_EQ(ippsNormalize_64f(src, dst, 4, 0, 1e-309), ippStsDivByZeroErr);
  EXPECT_EQ(ippsNormalize_64f(src, dst, 4, 0, -0.0), ippStsDivByZeroErr);
  EXPECT_EQ(reference::ippsNormalize_64f(src, dst, 4, 0, 2e-308), ippStsDivByZeroErr);
  float fsrc[2] = {1, 2}, fdst[2] = {9, 9};
  EXPECT_EQ(ippsNormalize_32f(fsrc, fdst, 2, 0, 0.0f), ippStsDivByZeroErr);
  Ipp64fc csrc[2] = {{1, 1}, {2, 2}}, cdst[2] = {{9, 9}, {9, 9}};
  EXPECT_EQ(ippsNormalize_64fc(csrc, cdst, 2, Ipp64fc{0, 0}, 0.0), ippStsDivByZeroErr);
  EXPECT_EQ(ippsThreshold_64fc(csrc, cdst, 2, -1.0, ippCmpGreater), ippStsThreshNegLevelErr);
  EXPECT_EQ(ippsThreshold_64fc_I(csrc, 2, -1.0, ippCmpLess), ippStsThreshNegLevelErr);
  EXPECT_EQ(reference::ippsThreshold_64fc(csrc, cdst, 2, -1.0, ippCmpGreater), ippStsThreshNegLevelErr);
  // A null pointer is reported before a bad level.
  EXPECT_EQ(ippsThreshold_64fc(nullptr, cdst, 2, -1.0, ippCmpGreater), ippStsNullPtrErr);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(dst[i], 9.0);
  EXPECT_EQ(fdst[0], 9.0f);
  EXPECT_EQ(cdst[0].re, 9.0);
  EXPECT_EQ(csrc[1].re, 2.0);
  // Normalize at the smallest accepted divisor still runs.
  EXPECT_EQ(ippsNormalize_64f(src, dst, 4, 0, 2.2250738585072014e-308), ippStsNoErr);
}

TEST(StatsKernels, ComplexThresholdKeepsPhase) {
  Filler f(5);
  const int n = 301;
  std::vector<Ipp64fc> src(n), dst(n);
  f.Fill(src.data(), n, false, false);
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
        EXPECT_EQ(dst[i].re, level);
        EXPECT_EQ(dst[i].im, 0.0);
      } else {
        EXPECT_NEAR(std::atan2(dst[i].im, dst[i].re), std::atan2(src[i].im, src[i].re), 1e-14) << i;
      }
    }
  }
}

TEST(StatsKernels, RealThresholdsAreStrict) {
  double v[] = {-2, -1, 0, 1, 2, kNaN};
  ASSERT_EQ(ippsThreshold_64f_I(v, 6, 1.0, ippCmpGreater), ippStsNoErr);
  EXPECT_EQ(v[4], 1.0);
  EXPECT_EQ(v[3], 1.0);
  EXPECT_TRUE(std::isnan(v[5]));  // unordered: never replaced
  ASSERT_EQ(ippsThreshold_64f_I(v, 6, -1.0, ippCmpLessEq), ippStsNoErr);  // any op but Greater clips from below
  EXPECT_EQ(v[0], -1.0);
  EXPECT_EQ(v[2], 0.0);
  Ipp32s iv[] = {-5, 0, 5};
  ASSERT_EQ(NXScopeDispatcher::ippsThreshold_LT_32s_I(iv, 3, 0), ippStsNoErr);
  EXPECT_EQ(iv[0], 0);
  ASSERT_EQ(NXScopeDispatcher::ippsThreshold_GT_32s_I(iv, 3, 1), ippStsNoErr);
  EXPECT_EQ(iv[2], 1);
  EXPECT_EQ(iv[1], 0);
}

}  // namespace
}  // namespace nx
