// Real arithmetic primitives: every dispatched routine against its scalar twin
// on random data with special values, unaligned pointers and guard regions,
// plus the shortcuts, warnings and argument errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "nxruntime.h"
#include "vector/builtin/NXBuiltins.h"
#include "vector/reference/NXReference.h"

namespace nx {
namespace {

constexpr unsigned char kCanary = 0xA5;

// A destination with guard elements on both sides, all bytes preset to the canary.
template <typename T>
struct Guarded {
  static constexpr int kGuard = 16;
  std::vector<T> raw;
  T* data;
  int len;
  Guarded(int n, int offset) : raw(static_cast<std::size_t>(n + 2 * kGuard + 1)), len(n) {
    std::memset(raw.data(), kCanary, raw.size() * sizeof(T));
    data = raw.data() + kGuard + offset;
  }
  static bool AllCanary(const T* p, std::size_t count) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    for (std::size_t i = 0; i < count * sizeof(T); ++i)
      if (b[i] != kCanary) return false;
    return true;
  }
  bool GuardsIntact() const {
    const std::size_t before = static_cast<std::size_t>(data - raw.data());
    const std::size_t after = raw.size() - before - static_cast<std::size_t>(len);
    return AllCanary(raw.data(), before) && AllCanary(data + len, after);
  }
  bool Untouched() const { return AllCanary(raw.data(), raw.size()); }
};

template <typename T>
using Bits = std::conditional_t<sizeof(T) == 8, std::uint64_t, std::uint32_t>;

template <typename T>
Bits<T> BitsOf(T x) {
  Bits<T> b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

// Distance in units in the last place; NaNs match each other only.
template <typename T>
std::uint64_t UlpDistance(T a, T b) {
  if (std::isnan(a) || std::isnan(b)) return (std::isnan(a) && std::isnan(b)) ? 0 : ~std::uint64_t{0};
  if (a == b) return BitsOf(a) == BitsOf(b) ? 0 : ~std::uint64_t{0};  // +0 vs -0 differ
  if (std::signbit(a) != std::signbit(b)) return ~std::uint64_t{0};
  const auto ba = BitsOf(a), bb = BitsOf(b);
  return ba > bb ? ba - bb : bb - ba;
}

enum class Range { General, Moderate, Positive };

// Random values of the given range with about 3% special values (NaN, +-Inf,
// +-0, denormals, negatives for the positive range) scattered among them.
template <typename T>
std::vector<T> RandomValues(std::mt19937& rng, int n, Range range) {
  std::uniform_real_distribution<double> u(0.0, 1.0);
  const T specials[] = {std::numeric_limits<T>::quiet_NaN(), std::numeric_limits<T>::infinity(),
                        -std::numeric_limits<T>::infinity(), T(0), -T(0),
                        std::numeric_limits<T>::denorm_min(), -std::numeric_limits<T>::denorm_min() * 7,
                        std::numeric_limits<T>::min() / 3, T(-1.5)};
  std::vector<T> v(static_cast<std::size_t>(n));
  for (auto& x : v) {
    if (u(rng) < 0.03) {
      x = specials[static_cast<std::size_t>(u(rng) * std::size(specials)) % std::size(specials)];
      continue;
    }
    switch (range) {
      case Range::General:
        x = static_cast<T>((u(rng) < 0.5 ? -1 : 1) * std::pow(10.0, u(rng) * 40 - 20));
        break;
      case Range::Moderate:
        x = static_cast<T>(u(rng) * 1440.0 - 730.0);
        break;
      case Range::Positive:
        x = static_cast<T>(std::pow(10.0, u(rng) * 600 - 300));
        break;
    }
  }
  return v;
}

// One routine under test. `call` runs either the dispatched routine or the twin
// (ref = true). In-place routines take srcDst in `dst` and their operand in `b`.
template <typename T>
struct Case {
  std::string name;
  bool usesA, usesB, inPlace;
  Range range;
  std::uint64_t ulps;  // allowed difference from the twin
  std::function<IppStatus(bool ref, const T* a, const T* b, T* dst, int len)> call;
};

#define NX_SEL(ref, fn) ((ref) ? &reference::fn : nx::fn)

std::vector<Case<Ipp64f>> Cases64() {
  using T = Ipp64f;
  const Range G = Range::General, M = Range::Moderate, P = Range::Positive;
  return {
      {"Add_64f", true, true, false, G, 0, [](bool r, const T* a, const T* b, T* d, int n) { return NX_SEL(r, ippsAdd_64f)(a, b, d, n); }},
      {"Add_64f_I", false, true, true, G, 0, [](bool r, const T*, const T* b, T* d, int n) { return NX_SEL(r, ippsAdd_64f_I)(b, d, n); }},
      {"Sub_64f_I", false, true, true, G, 0, [](bool r, const T*, const T* b, T* d, int n) { return NX_SEL(r, ippsSub_64f_I)(b, d, n); }},
      {"Mul_64f", true, true, false, G, 0, [](bool r, const T* a, const T* b, T* d, int n) { return NX_SEL(r, ippsMul_64f)(a, b, d, n); }},
      {"Mul_64f_I", false, true, true, G, 0, [](bool r, const T*, const T* b, T* d, int n) { return NX_SEL(r, ippsMul_64f_I)(b, d, n); }},
      {"Div_64f_I", false, true, true, G, 0, [](bool r, const T*, const T* b, T* d, int n) { return NX_SEL(r, ippsDiv_64f_I)(b, d, n); }},
      {"AddC_64f", true, false, false, G, 0, [](bool r, const T* a, const T*, T* d, int n) { return NX_SEL(r, ippsAddC_64f)(a, 2.5, d, n); }},
      {"AddC_64f_I", false, false, true, G, 0, [](bool r, const T*, const T*, T* d, int n) { return NX_SEL(r, ippsAddC_64f_I)(-1e-3, d, n); }},
      {"SubC_64f", true, false, false, G, 0, [](bool r, const T* a, const T*, T* d, int n) { return NX_SEL(r, ippsSubC_64f)(a, 7.25, d, n); }},
      {"SubC_64f_I", false, false, true, G, 0, [](bool r, const T*, const T*, T* d, int n) { return NX_SEL(r, ippsSubC_64f_I)(-3.0, d, n); }},
      {"SubCRev_64f", true, false, false, G, 0, [](bool r, const T* a, const T*, T* d, int n) { return NX_SEL(r, ippsSubCRev_64f)(a, 1e5, d, n); }},
      {"SubCRev_64f_I", false, false, true, G, 0, [](bool r, const T*, const T*, T* d, int n) { return (r ? &reference::ippsSubCRev_64f_I : NXScopeDispatcher::ippsSubCRev_64f_I)(0.5, d, n); }},
      {"MulC_64f", true, false, false, G, 0, [](bool r, const T* a, const T*, T* d, int n) { return NX_SEL(r, ippsMulC_64f)(a, -1.0 / 3.0, d, n); }},
      {"MulC_64f_I", false, false, true, G, 0, [](bool r, const T*, const T*, T* d, int n) { return NX_SEL(r, ippsMulC_64f_I)(1e10, d, n); }},
      {"DivC_64f", true, false, false, G, 0, [](bool r, const T* a, const T*, T* d, int n) { return NX_SEL(r, ippsDivC_64f)(a, 3.0, d, n); }},
      {"DivC_64f_I", false, false, true, G, 0, [](bool r, const T*, const T*, T* d, int n) { return NX_SEL(r, ippsDivC_64f_I)(-1e-7, d, n); }},
      {"Abs_64f", true, false, false, G, 0, [](bool r, const T* a, const T*, T* d, int n) { return NX_SEL(r, ippsAbs_64f)(a, d, n); }},
      {"Abs_64f_I", false, false, true, G, 0, [](bool r, const T*, const T*, T* d, int n) { return NX_SEL(r, ippsAbs_64f_I)(d, n); }},
      {"Sqr_64f", true, false, false, G, 0, [](bool r, const T* a, const T*, T* d, int n) { return NX_SEL(r, ippsSqr_64f)(a, d, n); }},
      {"Sqr_64f_I", false, false, true, G, 0, [](bool r, const T*, const T*, T* d, int n) { return NX_SEL(r, ippsSqr_64f_I)(d, n); }},
      {"Sqrt_64f", true, false, false, G, 0, [](bool r, const T* a, const T*, T* d, int n) { return NX_SEL(r, ippsSqrt_64f)(a, d, n); }},
      {"Sqrt_64f_I", false, false, true, P, 0, [](bool r, const T*, const T*, T* d, int n) { return NX_SEL(r, ippsSqrt_64f_I)(d, n); }},
      {"Exp_64f", true, false, false, M, 1, [](bool r, const T* a, const T*, T* d, int n) { return NX_SEL(r, ippsExp_64f)(a, d, n); }},
      {"Exp_64f_I", false, false, true, M, 1, [](bool r, const T*, const T*, T* d, int n) { return NX_SEL(r, ippsExp_64f_I)(d, n); }},
      {"Ln_64f", true, false, false, P, 1, [](bool r, const T* a, const T*, T* d, int n) { return NX_SEL(r, ippsLn_64f)(a, d, n); }},
      {"Ln_64f_I", false, false, true, P, 1, [](bool r, const T*, const T*, T* d, int n) { return NX_SEL(r, ippsLn_64f_I)(d, n); }},
  };
}

std::vector<Case<Ipp32f>> Cases32() {
  using T = Ipp32f;
  const Range G = Range::General;
  return {
      {"Sub_32f_I", false, true, true, G, 0, [](bool r, const T*, const T* b, T* d, int n) { return NX_SEL(r, ippsSub_32f_I)(b, d, n); }},
      {"Mul_32f", true, true, false, G, 0, [](bool r, const T* a, const T* b, T* d, int n) { return NX_SEL(r, ippsMul_32f)(a, b, d, n); }},
      {"Mul_32f_I", false, true, true, G, 0, [](bool r, const T*, const T* b, T* d, int n) { return NX_SEL(r, ippsMul_32f_I)(b, d, n); }},
      {"MulC_32f_I", false, false, true, G, 0, [](bool r, const T*, const T*, T* d, int n) { return NX_SEL(r, ippsMulC_32f_I)(-0.7f, d, n); }},
      {"SubCRev_32f_I", false, false, true, G, 0, [](bool r, const T*, const T*, T* d, int n) { return (r ? &reference::ippsSubCRev_32f_I : NXScopeDispatcher::ippsSubCRev_32f_I)(3.0f, d, n); }},
  };
}

template <typename T>
void CompareWithTwin(const Case<T>& c, std::mt19937& rng, int n, int offset) {
  SCOPED_TRACE(c.name + " len " + std::to_string(n) + " offset " + std::to_string(offset));
  const auto a = RandomValues<T>(rng, n + 1, c.range);
  const auto b = RandomValues<T>(rng, n + 1, c.range);
  Guarded<T> got(n, offset), want(n, offset);
  if (c.inPlace) {
    std::memcpy(got.data, a.data() + offset, static_cast<std::size_t>(n) * sizeof(T));
    std::memcpy(want.data, a.data() + offset, static_cast<std::size_t>(n) * sizeof(T));
  }
  const IppStatus sGot = c.call(false, a.data() + offset, b.data() + offset, got.data, n);
  const IppStatus sWant = c.call(true, a.data() + offset, b.data() + offset, want.data, n);
  EXPECT_EQ(sGot, sWant);
  EXPECT_TRUE(got.GuardsIntact());
  int bad = 0;
  for (int i = 0; i < n && bad < 5; ++i) {
    if (UlpDistance(got.data[i], want.data[i]) > c.ulps) {
      ADD_FAILURE() << "element " << i << ": got " << got.data[i] << " want " << want.data[i];
      ++bad;
    }
  }
}

template <typename T>
void CheckArgumentErrors(const Case<T>& c) {
  SCOPED_TRACE(c.name);
  const std::vector<T> src(8, T(1));
  Guarded<T> dst(8, 1);
  const T* a = src.data();
  const T* b = src.data();
  if (c.usesA) {
    EXPECT_EQ(c.call(false, nullptr, b, dst.data, 8), ippStsNullPtrErr);
  }
  if (c.usesB) {
    EXPECT_EQ(c.call(false, a, nullptr, dst.data, 8), ippStsNullPtrErr);
  }
  EXPECT_EQ(c.call(false, a, b, nullptr, 8), ippStsNullPtrErr);
  EXPECT_EQ(c.call(false, a, b, nullptr, 0), ippStsNullPtrErr);  // null pointers are checked first
  EXPECT_EQ(c.call(false, a, b, dst.data, 0), ippStsSizeErr);
  EXPECT_EQ(c.call(false, a, b, dst.data, -3), ippStsSizeErr);
  EXPECT_TRUE(dst.Untouched());
  // The twin keeps the same contract.
  EXPECT_EQ(c.call(true, a, b, nullptr, 8), ippStsNullPtrErr);
  EXPECT_EQ(c.call(true, a, b, dst.data, 0), ippStsSizeErr);
  EXPECT_TRUE(dst.Untouched());
}

std::vector<int> TestSizes(std::mt19937& rng) {
  std::vector<int> sizes = {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65, 100003};
  std::uniform_int_distribution<int> u(1, 1000);
  for (int i = 0; i < 25; ++i) sizes.push_back(u(rng));
  return sizes;
}

TEST(ArithKernels, MatchScalarTwins64f) {
  std::mt19937 rng(1234);
  const auto sizes = TestSizes(rng);
  for (const auto& c : Cases64())
    for (int n : sizes)
      for (int offset : {0, 1}) CompareWithTwin(c, rng, n, offset);
}

TEST(ArithKernels, MatchScalarTwins32f) {
  std::mt19937 rng(99);
  const auto sizes = TestSizes(rng);
  for (const auto& c : Cases32())
    for (int n : sizes)
      for (int offset : {0, 1}) CompareWithTwin(c, rng, n, offset);
}

TEST(ArithKernels, NullPointersAndBadLengthsWriteNothing) {
  for (const auto& c : Cases64()) CheckArgumentErrors(c);
  for (const auto& c : Cases32()) CheckArgumentErrors(c);
}

std::vector<Ipp64f> SpecialVector() {
  // A signalling-NaN bit pattern shows whether an element was copied bit for bit.
  const Ipp64f sNaN = std::numeric_limits<Ipp64f>::signaling_NaN();
  return {-0.0, std::numeric_limits<Ipp64f>::infinity(), sNaN, -2.5, 1e300, 0.0, -std::numeric_limits<Ipp64f>::infinity(),
          4.9e-324, 7.0, -1.0, 3.0, 1e-300};
}

void ExpectSameBits(const Ipp64f* got, const std::vector<Ipp64f>& want) {
  for (std::size_t i = 0; i < want.size(); ++i) EXPECT_EQ(BitsOf(got[i]), BitsOf(want[i])) << "element " << i;
}

void ExpectPositiveZeros(const Ipp64f* got, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(BitsOf(got[i]), 0u) << "element " << i;
}

TEST(ArithShortcuts, CopyingConstantsKeepEveryBit) {
  const auto src = SpecialVector();
  const int n = static_cast<int>(src.size());
  std::vector<Ipp64f> dst(src.size());
  EXPECT_EQ(ippsAddC_64f(src.data(), 0.0, dst.data(), n), ippStsNoErr);
  ExpectSameBits(dst.data(), src);  // -0 + 0 would give +0
  EXPECT_EQ(ippsSubC_64f(src.data(), 0.0, dst.data(), n), ippStsNoErr);
  ExpectSameBits(dst.data(), src);
  EXPECT_EQ(ippsMulC_64f(src.data(), 1.0, dst.data(), n), ippStsNoErr);
  ExpectSameBits(dst.data(), src);
  EXPECT_EQ(ippsDivC_64f(src.data(), 1.0, dst.data(), n), ippStsNoErr);
  ExpectSameBits(dst.data(), src);
  auto inPlace = src;
  EXPECT_EQ(ippsMulC_64f_I(1.0, inPlace.data(), n), ippStsNoErr);
  ExpectSameBits(inPlace.data(), src);
  EXPECT_EQ(ippsDivC_64f_I(1.0, inPlace.data(), n), ippStsNoErr);
  ExpectSameBits(inPlace.data(), src);
  std::vector<Ipp32f> f = {-0.0f, std::numeric_limits<Ipp32f>::signaling_NaN(), 2.0f};
  const auto fBefore = f;
  EXPECT_EQ(ippsMulC_32f_I(1.0f, f.data(), 3), ippStsNoErr);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(BitsOf(f[i]), BitsOf(fBefore[i]));
}

TEST(ArithShortcuts, MultiplyByZeroWritesPositiveZeros) {
  const auto src = SpecialVector();
  const std::size_t n = src.size();
  std::vector<Ipp64f> dst(n, 5.0);
  for (Ipp64f zero : {0.0, -0.0}) {
    EXPECT_EQ(ippsMulC_64f(src.data(), zero, dst.data(), static_cast<int>(n)), ippStsNoErr);
    ExpectPositiveZeros(dst.data(), n);
    auto inPlace = src;
    EXPECT_EQ(ippsMulC_64f_I(zero, inPlace.data(), static_cast<int>(n)), ippStsNoErr);
    ExpectPositiveZeros(inPlace.data(), n);
  }
  // Dividing by an infinite constant multiplies by its reciprocal 0.
  EXPECT_EQ(ippsDivC_64f(src.data(), -std::numeric_limits<Ipp64f>::infinity(), dst.data(), static_cast<int>(n)), ippStsNoErr);
  ExpectPositiveZeros(dst.data(), n);
  std::vector<Ipp32f> f = {std::numeric_limits<Ipp32f>::infinity(), std::numeric_limits<Ipp32f>::quiet_NaN(), -3.0f};
  EXPECT_EQ(ippsMulC_32f_I(0.0f, f.data(), 3), ippStsNoErr);
  for (Ipp32f x : f) EXPECT_EQ(BitsOf(x), 0u);
}

TEST(ArithShortcuts, DivideByConstantUsesTheReciprocal) {
  // Find values where x * (1/3) and x / 3 round differently, so the check has teeth.
  std::vector<Ipp64f> src;
  for (int k = 1; k < 200 && src.size() < 8; ++k)
    if (k * (1.0 / 3.0) != k / 3.0) src.push_back(k);
  ASSERT_FALSE(src.empty());
  const int n = static_cast<int>(src.size());
  std::vector<Ipp64f> dst(src.size());
  ASSERT_EQ(ippsDivC_64f(src.data(), 3.0, dst.data(), n), ippStsNoErr);
  for (int i = 0; i < n; ++i) EXPECT_EQ(dst[i], src[i] * (1.0 / 3.0));
  ASSERT_EQ(ippsDivC_64f_I(3.0, src.data(), n), ippStsNoErr);
  for (int i = 0; i < n; ++i) EXPECT_EQ(src[i], dst[i]);
}

TEST(ArithErrors, ZeroConstantDivisorIsAnErrorBeforeAnyWrite) {
  const std::vector<Ipp64f> src(10, 2.0);
  for (Ipp64f zero : {0.0, -0.0}) {
    Guarded<Ipp64f> dst(10, 1);
    EXPECT_EQ(ippsDivC_64f(src.data(), zero, dst.data, 10), ippStsDivByZeroErr);
    EXPECT_EQ(ippsDivC_64f_I(zero, dst.data, 10), ippStsDivByZeroErr);
    EXPECT_TRUE(dst.Untouched());
  }
  // Pointer and length checks come first.
  Guarded<Ipp64f> dst(10, 0);
  EXPECT_EQ(ippsDivC_64f(nullptr, 0.0, dst.data, 10), ippStsNullPtrErr);
  EXPECT_EQ(ippsDivC_64f_I(0.0, dst.data, 0), ippStsSizeErr);
  EXPECT_TRUE(dst.Untouched());
}

TEST(ArithWarnings, DivisionByZeroElementsGoesOn) {
  const Ipp64f divisor[] = {0.0, 0.0, 0.0, -0.0, 2.0};
  Ipp64f srcDst[] = {1.0, 0.0, -1.0, 3.0, 5.0};
  EXPECT_EQ(ippsDiv_64f_I(divisor, srcDst, 5), ippStsDivByZero);
  EXPECT_EQ(srcDst[0], std::numeric_limits<Ipp64f>::infinity());
  EXPECT_TRUE(std::isnan(srcDst[1]));
  EXPECT_EQ(srcDst[2], -std::numeric_limits<Ipp64f>::infinity());
  EXPECT_EQ(srcDst[3], std::numeric_limits<Ipp64f>::infinity());  // the zero's sign does not matter
  EXPECT_EQ(srcDst[4], 2.5);                                      // the loop went on
  // A zero divisor deep inside a long vector (vector loop, not the tail).
  std::vector<Ipp64f> d(1000, 4.0), v(1000, 8.0);
  d[517] = 0.0;
  EXPECT_EQ(ippsDiv_64f_I(d.data(), v.data(), 1000), ippStsDivByZero);
  EXPECT_EQ(v[517], std::numeric_limits<Ipp64f>::infinity());
  EXPECT_EQ(v[516], 2.0);
  d[517] = 1.0;
  EXPECT_EQ(ippsDiv_64f_I(d.data(), v.data(), 1000), ippStsNoErr);
}

TEST(ArithWarnings, SquareRootOfNegatives) {
  const Ipp64f src[] = {4.0, -1.0, -0.0, -std::numeric_limits<Ipp64f>::infinity()};
  Ipp64f dst[4];
  EXPECT_EQ(ippsSqrt_64f(src, dst, 4), ippStsSqrtNegArg);
  EXPECT_EQ(dst[0], 2.0);
  EXPECT_TRUE(std::isnan(dst[1]));
  EXPECT_EQ(BitsOf(dst[2]), BitsOf(-0.0));  // -0 is not negative
  EXPECT_TRUE(std::isnan(dst[3]));
  EXPECT_EQ(ippsSqrt_64f(src + 2, dst, 1), ippStsNoErr);
  std::vector<Ipp64f> big(333, 9.0);
  big[200] = -9.0;
  EXPECT_EQ(ippsSqrt_64f_I(big.data(), 333), ippStsSqrtNegArg);
  EXPECT_EQ(big[199], 3.0);
  EXPECT_TRUE(std::isnan(big[200]));
}

TEST(ArithWarnings, LogarithmReportsTheFirstProblem) {
  const Ipp64f inf = std::numeric_limits<Ipp64f>::infinity();
  Ipp64f dst[4];
  const Ipp64f zeroFirst[] = {0.0, -1.0};
  EXPECT_EQ(ippsLn_64f(zeroFirst, dst, 2), ippStsLnZeroArg);
  EXPECT_EQ(dst[0], -inf);
  EXPECT_TRUE(std::isnan(dst[1]));
  const Ipp64f negFirst[] = {-0.0, 0.0};
  EXPECT_EQ(ippsLn_64f(negFirst, dst, 2), ippStsLnNegArg);
  EXPECT_TRUE(std::isnan(dst[0]));
  EXPECT_EQ(dst[1], -inf);
  const Ipp64f quiet[] = {std::numeric_limits<Ipp64f>::quiet_NaN(), inf, 1.0, std::exp(2.0)};
  EXPECT_EQ(ippsLn_64f(quiet, dst, 4), ippStsNoErr);
  EXPECT_TRUE(std::isnan(dst[0]));
  EXPECT_EQ(dst[1], inf);
  EXPECT_EQ(dst[2], 0.0);
  EXPECT_LE(UlpDistance(dst[3], 2.0), 1u);
  // Problems found in the vector loop keep the first-met rule.
  std::vector<Ipp64f> v(500, 2.0);
  v[300] = -4.0;
  v[301] = 0.0;
  EXPECT_EQ(ippsLn_64f_I(v.data(), 500), ippStsLnNegArg);
  EXPECT_TRUE(std::isnan(v[300]));
  EXPECT_EQ(v[301], -inf);
  EXPECT_LE(UlpDistance(v[0], std::log(2.0)), 1u);
}

TEST(ArithExp, EdgesMatchTheCLibrary) {
  const Ipp64f inf = std::numeric_limits<Ipp64f>::infinity();
  // Values around the overflow and underflow limits, the fast-range bounds and the specials.
  std::vector<Ipp64f> src = {0.0, -0.0, 1.0, -1.0, 709.0, 709.78, 709.79, 710.0, -708.0, -708.5, -740.0, -745.1,
                             -746.0, 1e-310, inf, -inf, std::numeric_limits<Ipp64f>::quiet_NaN(), 1e-20, 0.34657359, -0.34657359};
  // Pad so the specials fall both in the vector loop and in the tail.
  const auto head = src;
  for (int rep = 0; rep < 3; ++rep) src.insert(src.end(), head.begin(), head.end());
  std::vector<Ipp64f> dst(src.size());
  ASSERT_EQ(ippsExp_64f(src.data(), dst.data(), static_cast<int>(src.size())), ippStsNoErr);
  for (std::size_t i = 0; i < src.size(); ++i)
    EXPECT_LE(UlpDistance(dst[i], std::exp(src[i])), 1u) << "exp(" << src[i] << ")";
  EXPECT_EQ(dst[0], 1.0);
  EXPECT_EQ(dst[7], inf);
  EXPECT_EQ(dst[12], 0.0);
}

TEST(ArithExp, AccurateAcrossTheWholeRange) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-745.0, 710.0);
  std::vector<Ipp64f> src(200000);
  for (auto& x : src) x = u(rng);
  std::vector<Ipp64f> dst(src.size());
  ASSERT_EQ(ippsExp_64f(src.data(), dst.data(), static_cast<int>(src.size())), ippStsNoErr);
  std::uint64_t worst = 0;
  for (std::size_t i = 0; i < src.size(); ++i) worst = std::max(worst, UlpDistance(dst[i], std::exp(src[i])));
  EXPECT_LE(worst, 1u);
}

TEST(ArithLn, AccurateAcrossTheWholeRange) {
  std::mt19937 rng(8);
  std::uniform_int_distribution<std::uint64_t> u(1, 0x7FEFFFFFFFFFFFFFull);  // every positive finite double
  std::vector<Ipp64f> src(200000);
  for (auto& x : src) {
    const std::uint64_t b = u(rng);
    std::memcpy(&x, &b, sizeof x);
  }
  for (int i = 0; i < 1000; ++i) src[static_cast<std::size_t>(i)] = 1.0 + (i - 500) * 1e-6;  // near 1
  std::vector<Ipp64f> dst(src.size());
  ASSERT_EQ(ippsLn_64f(src.data(), dst.data(), static_cast<int>(src.size())), ippStsNoErr);
  std::uint64_t worst = 0;
  for (std::size_t i = 0; i < src.size(); ++i) worst = std::max(worst, UlpDistance(dst[i], std::log(src[i])));
  EXPECT_LE(worst, 1u);
}

TEST(ArithDispatch, ScopeAndBasicPointersHoldTheBuiltins) {
  EXPECT_EQ(reinterpret_cast<const void*>(NXScopeDispatcher::ippsSubCRev_64f_I), reinterpret_cast<const void*>(&builtin::ippsSubCRev_64f_I));
  EXPECT_EQ(reinterpret_cast<const void*>(NXScopeDispatcher::ippsSubCRev_32f_I), reinterpret_cast<const void*>(&builtin::ippsSubCRev_32f_I));
  EXPECT_EQ(reinterpret_cast<const void*>(nx::ippsLn_64f), reinterpret_cast<const void*>(&builtin::ippsLn_64f));
}

}  // namespace
}  // namespace nx
