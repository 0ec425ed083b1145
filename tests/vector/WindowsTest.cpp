// Windows against closed formulas in all forms, the uniform generators and Jaehne.
#include "vector/KernelTables.h"

namespace nx {
namespace {

const double kPi = 3.14159265358979323846;

struct WindowCase {
  std::string name;
  std::function<double(int k, int n)> weight;  // closed formula
  std::function<IppStatus(const Ipp64f*, Ipp64f*, int)> out;
  std::function<IppStatus(Ipp64f*, int)> inPlace;
  std::function<IppStatus(Ipp64fc*, int)> complex;
  int minLen = 3;
};

double I0Series(double x) {
  double sum = 1, fact = 1;
  for (int j = 1; j <= 9; ++j) {
    fact *= j;
    const double t = std::pow(x / 2, j) / fact;
    sum += t * t;
  }
  return sum;
}

std::vector<WindowCase> WindowCases() {
  std::vector<WindowCase> c;
  c.push_back({"Bartlett", [](int k, int n) { const double N = n - 1; return k <= N / 2 ? 2 * k / N : 2 - 2 * k / N; },
               ippsWinBartlett_64f, ippsWinBartlett_64f_I, ippsWinBartlett_64fc_I});
  c.push_back({"Hann", [](int k, int n) { return 0.5 - 0.5 * std::cos(2 * kPi * k / (n - 1)); }, ippsWinHann_64f,
               ippsWinHann_64f_I, ippsWinHann_64fc_I});
  c.push_back({"Hamming", [](int k, int n) { return 0.54 - 0.46 * std::cos(2 * kPi * k / (n - 1)); }, ippsWinHamming_64f,
               ippsWinHamming_64f_I, ippsWinHamming_64fc_I});
  for (double alpha : {0.16, -0.25}) {
    c.push_back({"Blackman " + std::to_string(alpha),
                 [alpha](int k, int n) {
                   const double x = 2 * kPi * k / (n - 1);
                   return (alpha + 1) / 2 - 0.5 * std::cos(x) - alpha / 2 * std::cos(2 * x);
                 },
                 [alpha](auto s, auto d, int n) { return ippsWinBlackman_64f(s, d, n, alpha); },
                 [alpha](auto d, int n) { return ippsWinBlackman_64f_I(d, n, alpha); },
                 [alpha](auto d, int n) { return ippsWinBlackman_64fc_I(d, n, alpha); }});
  }
  for (float alpha : {0.5f, 8.0f, -1.5f}) {  // Kaiser: against its Bessel series, from one sample
    c.push_back({"Kaiser " + std::to_string(alpha),
                 [a = double(alpha)](int k, int n) {
                   const double M = (n - 1) / 2.0;
                   return I0Series(a * std::sqrt(M * M - (k - M) * (k - M))) / I0Series(a * M);
                 },
                 [alpha](auto s, auto d, int n) { return ippsWinKaiser_64f(s, d, n, alpha); },
                 [alpha](auto d, int n) { return ippsWinKaiser_64f_I(d, n, alpha); },
                 [alpha](auto d, int n) { return ippsWinKaiser_64fc_I(d, n, alpha); }, 1});
  }
  return c;
}

NX_SIMD_SUITE(Windows);
NX_SIMD_SUITE(Generators);

TEST_P(Windows, MatchClosedFormulasInAllFormsShortOrNullWriteNothing) {
  std::uint64_t seed = 77;
  for (const WindowCase& wc : WindowCases()) {
    for (int n : {1, 2, 3, 4, 5, 8, 17, 255, 256, 1001}) {
      if (n < wc.minLen) continue;
      const bool three = n == 3 && wc.minLen == 3;  // only the middle sample stays
      const auto src = nxtest::RandomReal(n, ++seed);
      std::vector<double> dst(n + 2, -777.0);  // one canary either side
      ASSERT_EQ(wc.out(src.data(), dst.data() + 1, n), ippStsNoErr) << wc.name << " " << n;
      std::vector<double> io = src;
      ASSERT_EQ(wc.inPlace(io.data(), n), ippStsNoErr);
      std::vector<Ipp64fc> cx(n);
      for (int k = 0; k < n; ++k) cx[k] = {src[k], -2 * src[k]};
      ASSERT_EQ(wc.complex(cx.data(), n), ippStsNoErr);
      EXPECT_EQ(dst.front(), -777.0);
      EXPECT_EQ(dst.back(), -777.0);
      for (int k = 0; k < n; ++k) {
        const double want = src[k] * (three ? k == 1 : wc.weight(k, n));
        const double tol = 1e-12 * std::fabs(src[k]) + 1e-15;
        ASSERT_NEAR(dst[k + 1], want, tol) << wc.name << " n " << n << " k " << k;
        ASSERT_NEAR(io[k], want, tol) << wc.name << " n " << n << " k " << k;
        ASSERT_NEAR(cx[k].re, want, tol) << wc.name << " n " << n << " k " << k;
        ASSERT_NEAR(cx[k].im, -2 * want, 2 * tol) << wc.name << " n " << n << " k " << k;
      }
      if (n % 2 && wc.minLen == 3) {  // the middle weight is 1: the sample is kept exactly
        EXPECT_EQ(dst[n / 2 + 1], src[n / 2]) << wc.name;
        EXPECT_EQ(io[n / 2], src[n / 2]) << wc.name;
      }
    }
    // Short or null is an error and writes nothing.
    for (int n : {wc.minLen - 1, INT_MIN}) {
      double io[2] = {1.5, 2.5}, out[2] = {7, 7};
      Ipp64fc cx[2] = {{1, 2}, {3, 4}};
      EXPECT_EQ(wc.inPlace(io, n), ippStsSizeErr) << wc.name << " " << n;
      EXPECT_EQ(wc.out(io, out, n), ippStsSizeErr) << wc.name << " " << n;
      EXPECT_EQ(wc.complex(cx, n), ippStsSizeErr) << wc.name << " " << n;
      EXPECT_TRUE(io[0] == 1.5 && io[1] == 2.5 && out[0] == 7.0 && out[1] == 7.0 && cx[1].im == 4.0) << wc.name;
    }
    double v[4] = {};
    EXPECT_EQ(wc.inPlace(nullptr, 4), ippStsNullPtrErr) << wc.name;
    EXPECT_EQ(wc.out(nullptr, v, 4), ippStsNullPtrErr) << wc.name;
    EXPECT_EQ(wc.out(v, nullptr, 2), ippStsNullPtrErr) << wc.name;  // null before size
    EXPECT_EQ(wc.complex(nullptr, 4), ippStsNullPtrErr) << wc.name;
  }
}

// The combined generator written out from its definition.
struct ModelGen {
  std::uint32_t s0, s1, s2, c = 0xFFFFFFFFu, g = 1131199209u;
  explicit ModelGen(std::uint32_t seed) : s0(seed), s1(69069u * seed + 1013904243u), s2(69069u * s1 + 1013904243u) {}
  std::int32_t Next() {
    g = 69069u * g + 1013904243u;
    const std::uint32_t t = s1 - s2 + c, r = t & 0x80000000u ? t - 18 : t;
    c = t & 0x80000000u ? 0xFFFFFFFFu : 0;
    s2 = s1, s1 = s0, s0 = r;
    return static_cast<std::int32_t>(r + g);
  }
};

TEST_P(Generators, RandUniformFollowsTheCombinedGeneratorErrorsAndJaehne) {
  const double K = std::ldexp(1.0, -32) * (1 + 7 * std::ldexp(1.0, -52));
  for (unsigned seed : {0u, 1u, 12345u, 0xFFFFFFFFu}) {
    std::vector<double> a(1000), b(1000);
    unsigned s1 = seed, s2 = seed;
    ASSERT_EQ(ippsRandUniform_Direct_64f(a.data(), 1000, -2.0, 6.0, &s1), ippStsNoErr);
    ASSERT_EQ(ippsRandUniform_Direct_64f(b.data(), 1000, -2.0, 6.0, &s2), ippStsNoErr);
    EXPECT_EQ(a, b);
    EXPECT_EQ(s1, s2);
    ModelGen m(seed);
    for (int i = 0; i < 1000; ++i) {
      const double want = m.Next() * 8.0 * K + 2.0;
      ASSERT_NEAR(a[i], want, 1e-14) << "seed " << seed << " i " << i;
      ASSERT_GE(a[i], -2.0);
      ASSERT_LE(a[i], 6.0);
    }
    EXPECT_EQ(s1, m.s0) << "the seed is advanced to the last value";
    // Continuing from the written-back seed differs from restarting.
    std::vector<double> c(16);
    ASSERT_EQ(ippsRandUniform_Direct_64f(c.data(), 16, -2.0, 6.0, &s1), ippStsNoErr);
    EXPECT_NE(std::vector<double>(a.begin(), a.begin() + 16), c);
  }
  // The 16-bit generator rounds to nearest: the end values have half the weight.
  const int n = 200000;
  std::vector<Ipp16s> w(n), w2(n);
  unsigned s16 = 7, again = 7;
  ASSERT_EQ(ippsRandUniform_Direct_16s(w.data(), n, -3, 3, &s16), ippStsNoErr);
  std::vector<int> hist(7, 0);
  for (Ipp16s x : w) {
    ASSERT_TRUE(x >= -3 && x <= 3) << x;
    ++hist[x + 3];
  }
  for (int k = 0; k < 7; ++k) EXPECT_NEAR(hist[k], k % 6 ? n / 6.0 : n / 12.0, n / 60.0) << k;
  ASSERT_EQ(ippsRandUniform_Direct_16s(w2.data(), n, -3, 3, &again), ippStsNoErr);
  EXPECT_EQ(w, w2);
  EXPECT_TRUE(s16 == again && s16 != 7u);
  // Errors write nothing.
  double d[2] = {1, 1};
  Ipp16s s[2] = {1, 1};
  unsigned seed = 3;
  EXPECT_EQ(ippsRandUniform_Direct_64f(d, 0, 0, 1, &seed), ippStsSizeErr);
  EXPECT_EQ(ippsRandUniform_Direct_64f(d, 2, 0, 1, nullptr), ippStsNullPtrErr);
  EXPECT_EQ(ippsRandUniform_Direct_64f(nullptr, 2, 0, 1, &seed), ippStsNullPtrErr);
  EXPECT_EQ(ippsRandUniform_Direct_16s(s, -1, 0, 1, &seed), ippStsSizeErr);
  EXPECT_EQ(ippsRandUniform_Direct_16s(nullptr, 2, 0, 1, &seed), ippStsNullPtrErr);
  EXPECT_TRUE(seed == 3u && d[0] == 1.0 && s[0] == 1);
  double one = 5;
  ASSERT_EQ(ippsVectorJaehne_64f(&one, 1, 3.0), ippStsNoErr);
  EXPECT_EQ(one, 0.0);
  std::vector<double> v(10);
  ASSERT_EQ(ippsVectorJaehne_64f(v.data(), 10, 2.0), ippStsNoErr);
  for (int k = 0; k < 10; ++k) EXPECT_NEAR(v[k], 2 * std::sin(kPi / 2 * k * k / 10), 1e-13) << k;
  double keep[2] = {4, 4};
  EXPECT_EQ(ippsVectorJaehne_64f(keep, 2, -0.5), ippStsJaehneErr);
  EXPECT_EQ(ippsVectorJaehne_64f(keep, 0, -0.5), ippStsSizeErr);
  EXPECT_EQ(ippsVectorJaehne_64f(nullptr, 2, 1), ippStsNullPtrErr);
  EXPECT_TRUE(keep[0] == 4.0 && keep[1] == 4.0);
}

TEST(WindowsDispatch, EveryPrimitiveHasATest) { nxtest::CheckPrimitiveGroups("Windows"); }

}  // namespace
}  // namespace nx
