// Complex-arithmetic primitives: every dispatched routine against its scalar
// twin (bit-exact, sizes 1..1000 and a large one, unaligned pointers, special
// values, canary-guarded destinations), the argument checks of every routine,
// and the cases whose results are known in closed form.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
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

[[maybe_unused]] void PrintTo(const Ipp64fc& c, std::ostream* os) { *os << std::hexfloat << "(" << c.re << ", " << c.im << ")" << std::defaultfloat; }
[[maybe_unused]] void PrintTo(const Ipp32fc& c, std::ostream* os) { *os << std::hexfloat << "(" << c.re << ", " << c.im << ")" << std::defaultfloat; }

// Values equal bit for bit, any NaN matching any NaN.
bool SameValue(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return std::memcmp(&a, &b, sizeof a) == 0;
}
bool SameValue(float a, float b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return std::memcmp(&a, &b, sizeof a) == 0;
}
bool SameValue(Ipp64fc a, Ipp64fc b) { return SameValue(a.re, b.re) && SameValue(a.im, b.im); }
bool SameValue(Ipp32fc a, Ipp32fc b) { return SameValue(a.re, b.re) && SameValue(a.im, b.im); }

class Filler {
 public:
  explicit Filler(unsigned seed) : rng_(seed) {}
  double Real(bool special) {
    static const double kSpecial[] = {kNaN, kInf, -kInf, 0.0, -0.0, 4.9e-324, -2.5e-310, 1e300, -1e-300, 1e-170};
    if (special && Uniform(0, 1) < 0.15) return kSpecial[Index(std::size(kSpecial))];
    return Uniform(-100, 100);
  }
  void Fill(double* p, int n, bool special) {
    for (int i = 0; i < n; ++i) p[i] = Real(special);
  }
  void Fill(float* p, int n, bool special) {
    for (int i = 0; i < n; ++i) p[i] = static_cast<float>(Real(special));
  }
  void Fill(Ipp64fc* p, int n, bool special) {
    for (int i = 0; i < n; ++i) {
      p[i] = {Real(special), Real(special)};
      if (special && Uniform(0, 1) < 0.05) p[i] = {Uniform(0, 1) < 0.5 ? 0.0 : -0.0, 0.0};  // zero divisors
    }
  }
  void Fill(Ipp32fc* p, int n, bool special) {
    for (int i = 0; i < n; ++i) p[i] = {static_cast<float>(Real(special)), static_cast<float>(Real(special))};
  }
  double Uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng_); }
  size_t Index(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng_); }

 private:
  std::mt19937_64 rng_;
};

// Two source and two destination vectors; a slot named in nullMask hands out null.
template <typename TA, typename TX>
struct Bufs {
  Guarded<TA> a, b;
  Guarded<TX> x, y;
  unsigned nullMask = 0;
  Bufs(int len, int off) : a(len, off), b(len, off), x(len, off), y(len, off) {}
  TA* A() { return nullMask & 1 ? nullptr : a.data(); }
  TA* B() { return nullMask & 2 ? nullptr : b.data(); }
  TX* X() { return nullMask & 4 ? nullptr : x.data(); }
  TX* Y() { return nullMask & 8 ? nullptr : y.data(); }
};
enum : unsigned { kA = 1, kB = 2, kX = 4, kY = 8 };

template <typename TA, typename TX>
struct Case {
  const char* name;
  unsigned required;  // the slots that must not be null
  std::function<IppStatus(bool ref, Bufs<TA, TX>& b, int len)> call;
};

// The sizes of the twin comparison: all of 1..40, a spread up to 1000 and one
// large size.
std::vector<int> Sizes() {
  std::vector<int> sizes;
  for (int n = 1; n <= 40; ++n) sizes.push_back(n);
  for (int n : {63, 64, 65, 127, 128, 129, 255, 333, 512, 777, 1000, 100003}) sizes.push_back(n);
  return sizes;
}

template <typename TA, typename TX>
void Prepare(Bufs<TA, TX>& b, int len, Filler& f, bool special) {
  f.Fill(b.a.data(), len, special);
  f.Fill(b.b.data(), len, special);
  f.Fill(b.x.data(), len, special);  // in-place routines read the destination
  f.Fill(b.y.data(), len, special);
}

template <typename T>
bool SameStore(const Guarded<T>& p, const Guarded<T>& q) {
  return std::memcmp(p.store.data(), q.store.data(), p.store.size() * sizeof(T)) == 0;
}

template <typename T>
::testing::AssertionResult SameElements(Guarded<T>& got, Guarded<T>& want, int len) {
  for (int i = 0; i < len; ++i)
    if (!SameValue(got.data()[i], want.data()[i]))
      return ::testing::AssertionFailure() << "first difference at " << i << ": " << ::testing::PrintToString(got.data()[i])
                                           << " vs " << ::testing::PrintToString(want.data()[i]);
  if (!got.CanariesIntact(len)) return ::testing::AssertionFailure() << "write outside the destination";
  return ::testing::AssertionSuccess();
}

template <typename TA, typename TX>
void RunTable(const std::vector<Case<TA, TX>>& cases) {
  Filler f(12345);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Argument checks: each required pointer null, then lengths 0 and -1;
    // nothing may be written.
    for (unsigned bit = 1; bit <= 8; bit <<= 1) {
      if (!(c.required & bit)) continue;
      for (bool ref : {false, true}) {
        Bufs<TA, TX> b(16, 0);
        Prepare(b, 16, f, false);
        Bufs<TA, TX> before = b;
        b.nullMask = bit;
        EXPECT_EQ(c.call(ref, b, 16), ippStsNullPtrErr) << "null slot " << bit << (ref ? " (twin)" : "");
        EXPECT_TRUE(SameStore(b.x, before.x) && SameStore(b.y, before.y));
      }
    }
    for (int len : {0, -1}) {
      for (bool ref : {false, true}) {
        Bufs<TA, TX> b(4, 0);
        Prepare(b, 4, f, false);
        Bufs<TA, TX> before = b;
        EXPECT_EQ(c.call(ref, b, len), ippStsSizeErr) << "len " << len << (ref ? " (twin)" : "");
        EXPECT_TRUE(SameStore(b.x, before.x) && SameStore(b.y, before.y));
      }
    }
    // Results: the dispatched routine against the twin, bit for bit.
    for (int len : Sizes()) {
      for (int off : {0, 1}) {
        for (bool special : {false, true}) {
          Bufs<TA, TX> got(len, off);
          Prepare(got, len, f, special);
          Bufs<TA, TX> want = got;
          const IppStatus sGot = c.call(false, got, len);
          const IppStatus sWant = c.call(true, want, len);
          ASSERT_EQ(sGot, sWant) << "len " << len;
          ASSERT_TRUE(SameElements(got.x, want.x, len)) << "len " << len << " off " << off << " special " << special;
          ASSERT_TRUE(SameElements(got.y, want.y, len)) << "len " << len << " off " << off << " special " << special;
        }
      }
    }
  }
}

// Picks the dispatched routine or its twin.
#define PICK(name) (ref ? &reference::name : NXBasicDispatcher::name)

const Ipp64fc kC = {1.75, -0.5};

TEST(ComplexKernels, MatchTwinsComplexToComplex) {
  using B = Bufs<Ipp64fc, Ipp64fc>;
  std::vector<Case<Ipp64fc, Ipp64fc>> cases = {
      {"Add_64fc", kA | kB | kX, [](bool ref, B& b, int n) { return PICK(ippsAdd_64fc)(b.A(), b.B(), b.X(), n); }},
      {"Add_64fc_I", kA | kX, [](bool ref, B& b, int n) { return PICK(ippsAdd_64fc_I)(b.A(), b.X(), n); }},
      {"Sub_64fc_I", kA | kX, [](bool ref, B& b, int n) { return PICK(ippsSub_64fc_I)(b.A(), b.X(), n); }},
      {"Mul_64fc_I", kA | kX, [](bool ref, B& b, int n) { return PICK(ippsMul_64fc_I)(b.A(), b.X(), n); }},
      {"Div_64fc_I", kA | kX, [](bool ref, B& b, int n) { return PICK(ippsDiv_64fc_I)(b.A(), b.X(), n); }},
      {"AddC_64fc", kA | kX, [](bool ref, B& b, int n) { return PICK(ippsAddC_64fc)(b.A(), kC, b.X(), n); }},
      {"AddC_64fc_I", kX, [](bool ref, B& b, int n) { return PICK(ippsAddC_64fc_I)(kC, b.X(), n); }},
      {"SubC_64fc", kA | kX, [](bool ref, B& b, int n) { return PICK(ippsSubC_64fc)(b.A(), kC, b.X(), n); }},
      {"SubC_64fc_I", kX, [](bool ref, B& b, int n) { return PICK(ippsSubC_64fc_I)(kC, b.X(), n); }},
      {"SubCRev_64fc", kA | kX, [](bool ref, B& b, int n) { return PICK(ippsSubCRev_64fc)(b.A(), kC, b.X(), n); }},
      {"MulC_64fc", kA | kX, [](bool ref, B& b, int n) { return PICK(ippsMulC_64fc)(b.A(), kC, b.X(), n); }},
      {"MulC_64fc_I", kX, [](bool ref, B& b, int n) { return PICK(ippsMulC_64fc_I)(kC, b.X(), n); }},
      {"DivC_64fc", kA | kX, [](bool ref, B& b, int n) { return PICK(ippsDivC_64fc)(b.A(), kC, b.X(), n); }},
      {"DivC_64fc_I", kX, [](bool ref, B& b, int n) { return PICK(ippsDivC_64fc_I)(kC, b.X(), n); }},
      {"Sqr_64fc", kA | kX, [](bool ref, B& b, int n) { return PICK(ippsSqr_64fc)(b.A(), b.X(), n); }},
      {"Sqr_64fc_I", kX, [](bool ref, B& b, int n) { return PICK(ippsSqr_64fc_I)(b.X(), n); }},
      {"Sqrt_64fc", kA | kX, [](bool ref, B& b, int n) { return PICK(ippsSqrt_64fc)(b.A(), b.X(), n); }},
      {"Sqrt_64fc_I", kX, [](bool ref, B& b, int n) { return PICK(ippsSqrt_64fc_I)(b.X(), n); }},
      {"ConjCcs_64fc_I", kX, [](bool ref, B& b, int n) { return PICK(ippsConjCcs_64fc_I)(b.X(), n); }},
  };
  RunTable(cases);
}

TEST(ComplexKernels, MatchTwinsComplexToReal) {
  using B = Bufs<Ipp64fc, Ipp64f>;
  std::vector<Case<Ipp64fc, Ipp64f>> cases = {
      {"Magnitude_64fc", kA | kX, [](bool ref, B& b, int n) { return PICK(ippsMagnitude_64fc)(b.A(), b.X(), n); }},
      {"Phase_64fc", kA | kX, [](bool ref, B& b, int n) { return PICK(ippsPhase_64fc)(b.A(), b.X(), n); }},
      {"PowerSpectr_64fc", kA | kX, [](bool ref, B& b, int n) { return PICK(ippsPowerSpectr_64fc)(b.A(), b.X(), n); }},
      {"Real_64fc", kA | kX, [](bool ref, B& b, int n) { return PICK(ippsReal_64fc)(b.A(), b.X(), n); }},
      {"Imag_64fc", kA | kX, [](bool ref, B& b, int n) { return PICK(ippsImag_64fc)(b.A(), b.X(), n); }},
  };
  RunTable(cases);
}

TEST(ComplexKernels, MatchTwinsPolarAndCartesian) {
  using B64 = Bufs<Ipp64f, Ipp64f>;
  RunTable(std::vector<Case<Ipp64f, Ipp64f>>{
      {"CartToPolar_64f", kA | kB | kX | kY,
       [](bool ref, B64& b, int n) { return PICK(ippsCartToPolar_64f)(b.A(), b.B(), b.X(), b.Y(), n); }},
      {"PolarToCart_64f", kA | kB | kX | kY,
       [](bool ref, B64& b, int n) { return PICK(ippsPolarToCart_64f)(b.A(), b.B(), b.X(), b.Y(), n); }},
  });
  using B32 = Bufs<Ipp32f, Ipp32f>;
  RunTable(std::vector<Case<Ipp32f, Ipp32f>>{
      {"CartToPolar_32f", kA | kB | kX | kY,
       [](bool ref, B32& b, int n) { return PICK(ippsCartToPolar_32f)(b.A(), b.B(), b.X(), b.Y(), n); }},
      {"PolarToCart_32f", kA | kB | kX | kY,
       [](bool ref, B32& b, int n) { return PICK(ippsPolarToCart_32f)(b.A(), b.B(), b.X(), b.Y(), n); }},
  });
}

TEST(ComplexKernels, MatchTwinsRealToComplex) {
  // Only the destination is required; each missing part must read as zeros.
  using B64 = Bufs<Ipp64f, Ipp64fc>;
  RunTable(std::vector<Case<Ipp64f, Ipp64fc>>{
      {"RealToCplx_64f", kX, [](bool ref, B64& b, int n) { return PICK(ippsRealToCplx_64f)(b.A(), b.B(), b.X(), n); }},
      {"RealToCplx_64f re only", kX,
       [](bool ref, B64& b, int n) { return PICK(ippsRealToCplx_64f)(b.A(), nullptr, b.X(), n); }},
      {"RealToCplx_64f im only", kX,
       [](bool ref, B64& b, int n) { return PICK(ippsRealToCplx_64f)(nullptr, b.B(), b.X(), n); }},
  });
  using B32 = Bufs<Ipp32f, Ipp32fc>;
  RunTable(std::vector<Case<Ipp32f, Ipp32fc>>{
      {"RealToCplx_32f", kX, [](bool ref, B32& b, int n) { return PICK(ippsRealToCplx_32f)(b.A(), b.B(), b.X(), n); }},
      {"RealToCplx_32f im only", kX,
       [](bool ref, B32& b, int n) { return PICK(ippsRealToCplx_32f)(nullptr, b.B(), b.X(), n); }},
  });

  const Ipp64f re[3] = {1, 2, 3};
  Ipp64fc dst[3];
  ASSERT_EQ(ippsRealToCplx_64f(re, nullptr, dst, 3), ippStsNoErr);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(dst[i].re, re[i]);
    EXPECT_EQ(dst[i].im, 0.0);
  }
  EXPECT_EQ(ippsRealToCplx_64f(nullptr, nullptr, dst, 3), ippStsNoErr);
  EXPECT_EQ(dst[2].re, 0.0);
}

// Results against std::complex on ordinary values, where a closed form exists.
TEST(ComplexKernels, AgreeWithStdComplex) {
  Filler f(7);
  const int n = 257;
  std::vector<Ipp64fc> a(n), b(n), out(n);
  f.Fill(a.data(), n, false);
  f.Fill(b.data(), n, false);
  auto close = [](std::complex<double> got, std::complex<double> want) {
    return std::abs(got - want) <= 1e-14 * (std::abs(want) + 1e-300);
  };
  out = a;
  ASSERT_EQ(ippsMul_64fc_I(b.data(), out.data(), n), ippStsNoErr);
  for (int i = 0; i < n; ++i)
    EXPECT_TRUE(close({out[i].re, out[i].im}, std::complex<double>(a[i].re, a[i].im) * std::complex<double>(b[i].re, b[i].im))) << i;
  out = a;
  ASSERT_EQ(ippsDiv_64fc_I(b.data(), out.data(), n), ippStsNoErr);
  for (int i = 0; i < n; ++i)
    EXPECT_TRUE(close({out[i].re, out[i].im}, std::complex<double>(a[i].re, a[i].im) / std::complex<double>(b[i].re, b[i].im))) << i;
  ASSERT_EQ(ippsSqrt_64fc(a.data(), out.data(), n), ippStsNoErr);
  for (int i = 0; i < n; ++i) EXPECT_TRUE(close({out[i].re, out[i].im}, std::sqrt(std::complex<double>(a[i].re, a[i].im)))) << i;
  ASSERT_EQ(ippsDivC_64fc(a.data(), kC, out.data(), n), ippStsNoErr);
  for (int i = 0; i < n; ++i)
    EXPECT_TRUE(close({out[i].re, out[i].im}, std::complex<double>(a[i].re, a[i].im) / std::complex<double>(kC.re, kC.im))) << i;
}

TEST(ComplexKernels, SqrtPrincipalBranchAndExtremeRange) {
  const Ipp64fc src[] = {{-4, 0}, {-4, -0.0}, {0, 0}, {-0.0, -0.0}, {0, 2}, {1e300, 1e300}, {3e-320, -4e-320}, {5, kInf}, {-kInf, 1}};
  const std::complex<double> want[] = {{0, 2}, {0, -2}, {0, 0}, {0, -0.0}, {1, 1}, std::sqrt(std::complex<double>(1e300, 1e300)),
                                       std::sqrt(std::complex<double>(3e-320, -4e-320)), {kInf, kInf}, {0, kInf}};
  const int n = static_cast<int>(std::size(src));
  Ipp64fc out[std::size(src)];
  ASSERT_EQ(ippsSqrt_64fc(src, out, n), ippStsNoErr);
  auto near = [](double got, double want, double scale) {
    return std::isinf(want) ? got == want : std::abs(got - want) <= 1e-15 * scale;
  };
  for (int i = 0; i < n; ++i) {
    EXPECT_TRUE(near(out[i].re, want[i].real(), std::abs(want[i]))) << i << ": " << out[i].re;
    EXPECT_TRUE(near(out[i].im, want[i].imag(), std::abs(want[i]))) << i << ": " << out[i].im;
    EXPECT_EQ(std::signbit(out[i].im), std::signbit(want[i].imag())) << i;
  }
}

TEST(ComplexKernels, DivisionByZero) {
  // The zero divisor poisons only its own element, and the loop goes on.
  std::vector<Ipp64fc> dividend(37, Ipp64fc{3, 4}), divisor(37, Ipp64fc{0, 2});
  divisor[5] = {0, 0};
  divisor[33] = {-0.0, 0};
  ASSERT_EQ(ippsDiv_64fc_I(divisor.data(), dividend.data(), 37), ippStsDivByZero);
  for (int i = 0; i < 37; ++i) {
    if (i == 5 || i == 33) {
      EXPECT_TRUE(std::isnan(dividend[i].re) && std::isnan(dividend[i].im)) << i;
    } else {
      EXPECT_EQ(dividend[i].re, 2.0) << i;  // (3 + 4i) / 2i = 2 - 1.5i
      EXPECT_EQ(dividend[i].im, -1.5) << i;
    }
  }
  // A zero constant is an error before anything is written.
  Ipp64fc src[4] = {{1, 1}, {2, 2}, {3, 3}, {4, 4}};
  Ipp64fc dst[4] = {{9, 9}, {9, 9}, {9, 9}, {9, 9}};
  EXPECT_EQ(ippsDivC_64fc(src, Ipp64fc{0, -0.0}, dst, 4), ippStsDivByZeroErr);
  EXPECT_EQ(ippsDivC_64fc_I(Ipp64fc{0, 0}, src, 4), ippStsDivByZeroErr);
  EXPECT_EQ(reference::ippsDivC_64fc(src, Ipp64fc{0, 0}, dst, 4), ippStsDivByZeroErr);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(dst[i].re, 9.0);
    EXPECT_EQ(src[i].re, i + 1.0);
  }
}

TEST(ComplexKernels, ConjCcsFillsTheMirrorHalf) {
  for (int len : {1, 2, 3, 4, 7, 8}) {
    std::vector<Ipp64fc> v(len);
    for (int k = 0; k < len; ++k) v[k] = {k <= len / 2 ? k + 1.0 : -99.0, k <= len / 2 ? -(k + 0.5) : -99.0};
    ASSERT_EQ(ippsConjCcs_64fc_I(v.data(), len), ippStsNoErr);
    for (int k = 0; k <= len / 2; ++k) EXPECT_EQ(v[k].re, k + 1.0) << len;  // the spectrum half stays
    for (int k = 1; k < (len + 1) / 2; ++k) {
      EXPECT_EQ(v[len - k].re, v[k].re) << len << " " << k;
      EXPECT_EQ(v[len - k].im, -v[k].im) << len << " " << k;
    }
  }
}

TEST(ComplexKernels, PolarRoundTrip) {
  const Ipp64f re[] = {3, -1, 0, -2}, im[] = {4, 1, -5, -0.0};
  Ipp64f mag[4], ph[4], re2[4], im2[4];
  ASSERT_EQ(ippsCartToPolar_64f(re, im, mag, ph, 4), ippStsNoErr);
  EXPECT_EQ(mag[0], 5.0);
  EXPECT_DOUBLE_EQ(ph[1], 3 * std::atan(1.0));
  EXPECT_EQ(ph[3], -std::acos(-1.0));  // atan2(-0, -2) = -pi
  ASSERT_EQ(ippsPolarToCart_64f(mag, ph, re2, im2, 4), ippStsNoErr);
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(re2[i], re[i], 1e-14);
    EXPECT_NEAR(im2[i], im[i], 1e-14);
  }
}

}  // namespace
}  // namespace nx
