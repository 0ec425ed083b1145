// The built-in FFT: round trips, accuracy (long-double DFT, FFTW), variants, statuses, threads.
#include <memory>
#include <new>
#include <thread>

#include "vector/KernelTables.h"
#include "vector/NXBasicDispatcher.h"
#include "vector/builtin/NXBuiltinFFT.h"

// FFTW is a test-only peer: used when the build defines NX_HAVE_FFTW and links it.
#if defined(NX_HAVE_FFTW) && __has_include(<fftw3.h>)
#include <fftw3.h>
#define NX_TEST_HAVE_FFTW 1
#endif

namespace {

using namespace nx;
namespace b = nx::builtin;
using nxtest::RandomReal;

constexpr double kCanary = -12345.678;

double RelRms(const double* got, const double* want, size_t n) {
  double e = 0, r = 0;
  for (size_t i = 0; i < n; ++i) {
    e += (got[i] - want[i]) * (got[i] - want[i]);
    r += want[i] * want[i];
  }
  return r == 0 ? std::sqrt(e) : std::sqrt(e / r);
}

// Interleaved doubles seen as complex values.
Ipp64fc* C(double* p) { return reinterpret_cast<Ipp64fc*>(p); }
const Ipp64fc* C(const double* p) { return reinterpret_cast<const Ipp64fc*>(p); }

// A complex or real (CCS) spec freed with its holder; signals and spectra as interleaved doubles.
struct TSpec {
  explicit TSpec(bool real) : Real(real) {}
  ~TSpec() {
    if (CP) nx::ippsFFTFree_C_64fc(CP);
    if (RP) nx::ippsFFTFree_R_64f(RP);
  }
  IppStatus Init(int order, int flag, IppHintAlgorithm hint = ippAlgHintNone) {
    const IppStatus st = Real ? nx::ippsFFTInitAlloc_R_64f(&RP, order, flag, hint)
                              : nx::ippsFFTInitAlloc_C_64fc(&CP, order, flag, hint);
    if (st == ippStsNoErr) N = size_t(1) << order;
    return st;
  }
  size_t SignalLen() const { return Real ? N : 2 * N; }
  size_t SpectrumLen() const { return Real ? N + 2 : 2 * N; }
  int BufSize() const {
    int n = -1;
    EXPECT_EQ(Real ? b::ippsFFTGetBufSize_R_64f(RP, &n) : b::ippsFFTGetBufSize_C_64fc(CP, &n), ippStsNoErr);
    return n;
  }
  IppStatus Fwd(const double* s, double* d, Ipp8u* buf = nullptr) const {
    return Real ? nx::ippsFFTFwd_RToCCS_64f(s, d, RP, buf) : nx::ippsFFTFwd_CToC_64fc(C(s), C(d), CP, buf);
  }
  IppStatus Inv(const double* s, double* d, Ipp8u* buf = nullptr) const {
    return Real ? nx::ippsFFTInv_CCSToR_64f(s, d, RP, buf) : nx::ippsFFTInv_CToC_64fc(C(s), C(d), CP, buf);
  }
  const bool Real;
  size_t N = 0;
  IppsFFTSpec_C_64fc* CP = nullptr;
  IppsFFTSpec_R_64f* RP = nullptr;
};

// Forward DFT in long double, O(N^2): the accuracy reference.
std::vector<double> NaiveDft(const std::vector<double>& x) {
  const size_t n = x.size() / 2;
  std::vector<double> y(2 * n);
  const long double pi = 3.141592653589793238462643383279502884L;
  for (size_t k = 0; k < n; ++k) {
    long double re = 0, im = 0;
    for (size_t j = 0; j < n; ++j) {
      const long double a = -2 * pi * (long double)((j * k) % n) / (long double)n;
      const long double c = std::cos(a), s = std::sin(a);
      re += x[2 * j] * c - x[2 * j + 1] * s;
      im += x[2 * j] * s + x[2 * j + 1] * c;
    }
    y[2 * k] = (double)re;
    y[2 * k + 1] = (double)im;
  }
  return y;
}

NX_SIMD_SUITE(FFTRoundTrip);
NX_SIMD_SUITE(FFTAccuracy);
NX_SIMD_SUITE(FFTVariants);
NX_SIMD_SUITE(FFTLargeOrders);
NX_SIMD_SUITE(FFTSpec);

TEST_P(FFTRoundTrip, EveryOrderReturnsTheInput) {
  for (int c = 0; c < 4; ++c) {
    const bool real = c >= 2;
    const int flag = c % 2 ? IPP_FFT_DIV_BY_SQRTN : IPP_FFT_DIV_INV_BY_N;
    SCOPED_TRACE(::testing::Message() << (real ? "real" : "complex") << " flag " << flag);
    for (int order = 0; order <= 20; ++order) {
      SCOPED_TRACE(order);
      const double tol = 2e-15 * (order + 1);
      TSpec spec(real);
      ASSERT_EQ(spec.Init(order, flag), ippStsNoErr);
      const size_t n = spec.N;
      std::vector<Ipp8u> buf(size_t(spec.BufSize()) + 1);
      const std::vector<double> x = RandomReal(spec.SignalLen(), (real ? 200 : 100) + order);
      std::vector<double> X(spec.SpectrumLen()), y(x.size());
      ASSERT_EQ(spec.Fwd(x.data(), X.data(), buf.data()), ippStsNoErr);
      EXPECT_TRUE(!real || (X[1] == 0.0 && (n == 1 || X[n + 1] == 0.0)));
      // The inverse never reads the imaginary slots of X[0] and X[N/2].
      std::vector<double> Xin = X;
      if (real && n > 1) {
        Xin[1] = 7;
        Xin[n + 1] = -3;
      }
      ASSERT_EQ(spec.Inv(Xin.data(), y.data(), buf.data()), ippStsNoErr);
      EXPECT_LE(RelRms(y.data(), x.data(), x.size()), tol);
      if (flag == IPP_FFT_DIV_BY_SQRTN) {
        // Parseval over the full spectrum: a real signal's inner CCS bins count twice.
        long double ex = 0, eX = 0;
        for (double v : x) ex += v * v;
        for (size_t k = 0; k <= (real ? n / 2 : n - 1); ++k)
          eX += (real && k > 0 && 2 * k < n ? 2 : 1) * (X[2 * k] * X[2 * k] + X[2 * k + 1] * X[2 * k + 1]);
        EXPECT_NEAR(double(eX / ex), 1.0, tol);
      }
    }
  }
}

// Against a long-double DFT (orders up to 11 keep the O(N^2) reference quick).
TEST_P(FFTAccuracy, MatchesExtendedPrecisionDft) {
  for (int order = 0; order <= 11; ++order) {
    SCOPED_TRACE(order);
    const double tol = 2e-15 * std::max(1, order);
    for (bool real : {false, true}) {
      TSpec spec(real);
      ASSERT_EQ(spec.Init(order, IPP_FFT_NODIV_BY_ANY), ippStsNoErr);
      const size_t n = spec.N;
      const std::vector<double> x = RandomReal(spec.SignalLen(), (real ? 400 : 300) + order);
      std::vector<double> X(spec.SpectrumLen()), xc = x;
      if (real) {
        xc.assign(2 * n, 0.0);
        for (size_t i = 0; i < n; ++i) xc[2 * i] = x[i];
      }
      ASSERT_EQ(spec.Fwd(x.data(), X.data()), ippStsNoErr);
      // Real: X[0] ... X[N/2].
      EXPECT_LE(RelRms(X.data(), NaiveDft(xc).data(), real ? 2 * (n / 2 + 1) : 2 * n), tol) << real;
      if (real) continue;
      // The inverse alone (a wrong pair would round-trip): conj(forward(conj(x))).
      ASSERT_EQ(spec.Inv(x.data(), X.data()), ippStsNoErr);
      for (size_t i = 1; i < 2 * n; i += 2) xc[i] = -xc[i];
      std::vector<double> want = NaiveDft(xc);
      for (size_t i = 1; i < 2 * n; i += 2) want[i] = -want[i];
      EXPECT_LE(RelRms(X.data(), want.data(), 2 * n), tol) << "inverse";
    }
  }
}

#ifdef NX_TEST_HAVE_FFTW
TEST_P(FFTAccuracy, MatchesFftwUpToOrder20) {
  for (int order = 1; order <= 20; ++order) {
    SCOPED_TRACE(order);
    const int n = 1 << order;
    for (bool real : {false, true}) {
      TSpec spec(real);
      ASSERT_EQ(spec.Init(order, IPP_FFT_NODIV_BY_ANY), ippStsNoErr);
      std::vector<double> x = RandomReal(spec.SignalLen(), (real ? 700 : 600) + order), tmp(x.size());
      std::vector<double> X(spec.SpectrumLen()), F(X.size());
      auto* f = reinterpret_cast<fftw_complex*>(F.data());
      fftw_plan plan = real ? fftw_plan_dft_r2c_1d(n, tmp.data(), f, FFTW_ESTIMATE)
                            : fftw_plan_dft_1d(n, reinterpret_cast<fftw_complex*>(tmp.data()), f, FFTW_FORWARD,
                                               FFTW_ESTIMATE);
      tmp = x;
      fftw_execute(plan);
      fftw_destroy_plan(plan);
      ASSERT_EQ(spec.Fwd(x.data(), X.data()), ippStsNoErr);
      EXPECT_LE(RelRms(X.data(), F.data(), X.size()), 2e-15 * order) << (real ? "real" : "complex");
    }
  }
}
#endif

// In place, no buffer, aligned and unaligned caller buffers: identical results.
TEST_P(FFTVariants, InPlaceAndBuffersGiveIdenticalResults) {
  for (int order = 0; order <= 18; ++order) {
    SCOPED_TRACE(order);
    const size_t n = size_t(1) << order;
    TSpec cs(false), rs(true);
    ASSERT_EQ(cs.Init(order, IPP_FFT_DIV_BY_SQRTN), ippStsNoErr);
    ASSERT_EQ(rs.Init(order, IPP_FFT_DIV_FWD_BY_N), ippStsNoErr);
    std::vector<Ipp8u> cbuf(size_t(cs.BufSize()) + 16), rbuf(size_t(rs.BufSize()) + 16);
    Ipp8u* cUnaligned = cbuf.data() + ((reinterpret_cast<uintptr_t>(cbuf.data()) % 16 == 3) ? 0 : 3);
    const std::vector<double> x = RandomReal(2 * n, 900 + order);
    for (bool inverse : {false, true}) {
      auto run = [&](const double* s, double* d, Ipp8u* buf) { return inverse ? cs.Inv(s, d, buf) : cs.Fwd(s, d, buf); };
      std::vector<double> ref(2 * n), other(2 * n), inplace = x;
      ASSERT_EQ(run(x.data(), ref.data(), nullptr), ippStsNoErr);
      for (Ipp8u* buf : {cbuf.data(), cUnaligned + 16 - 3, cUnaligned}) {
        ASSERT_EQ(run(x.data(), other.data(), buf), ippStsNoErr);
        EXPECT_EQ(other, ref);
      }
      ASSERT_EQ(run(inplace.data(), inplace.data(), cUnaligned), ippStsNoErr);
      EXPECT_EQ(inplace, ref);
    }
    // Real: forward in place needs N + 2 doubles.
    std::vector<double> R(n + 2), rin(n + 2), back(n);
    std::copy(x.begin(), x.begin() + n, rin.begin());
    ASSERT_EQ(rs.Fwd(x.data(), R.data()), ippStsNoErr);
    ASSERT_EQ(rs.Fwd(rin.data(), rin.data(), rbuf.data() + 5), ippStsNoErr);
    EXPECT_EQ(rin, R);
    ASSERT_EQ(rs.Inv(R.data(), back.data()), ippStsNoErr);
    ASSERT_EQ(rs.Inv(rin.data(), rin.data(), rbuf.data() + 1), ippStsNoErr);
    EXPECT_TRUE(std::equal(back.begin(), back.end(), rin.begin()));
  }
}

TEST_P(FFTVariants, SpecSharedByTwoThreads) {
  const int order = 16;
  const size_t n = size_t(1) << order;
  TSpec cs(false), rs(true);
  ASSERT_EQ(cs.Init(order, IPP_FFT_NODIV_BY_ANY), ippStsNoErr);
  ASSERT_EQ(rs.Init(order, IPP_FFT_NODIV_BY_ANY), ippStsNoErr);
  const std::vector<double> x0 = RandomReal(2 * n, 1000), x1 = RandomReal(2 * n, 1001);
  std::vector<double> want0(2 * n), want1(2 * n), wantR(n + 2);
  ASSERT_EQ(cs.Fwd(x0.data(), want0.data()), ippStsNoErr);
  ASSERT_EQ(cs.Fwd(x1.data(), want1.data()), ippStsNoErr);
  ASSERT_EQ(rs.Fwd(x1.data(), wantR.data()), ippStsNoErr);
  bool ok0 = true, ok1 = true;
  auto worker = [&](const std::vector<double>& x, const std::vector<double>& want, bool useBuffer, bool& ok) {
    std::vector<Ipp8u> buf(size_t(cs.BufSize()));
    std::vector<double> out(2 * n), outR(n + 2);
    for (int it = 0; it < 20; ++it) {
      ok &= cs.Fwd(x.data(), out.data(), useBuffer ? buf.data() : nullptr) == ippStsNoErr;
      ok &= out == want;
      ok &= rs.Fwd(x1.data(), outR.data()) == ippStsNoErr;
      ok &= outR == wantR;
    }
  };
  std::thread t0(worker, std::cref(x0), std::cref(want0), true, std::ref(ok0));
  std::thread t1(worker, std::cref(x1), std::cref(want1), false, std::ref(ok1));
  t0.join();
  t1.join();
  EXPECT_TRUE(ok0);
  EXPECT_TRUE(ok1);
}

// Orders past 32-bit sizes (4-5 GiB, best target only): a tone's known spectrum and back.
TEST_P(FFTLargeOrders, ToneSpectrumAndRoundTrip) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the largest orders are not run under the sanitizers";
#endif
  if (const char* t = std::getenv("NX_TEST_SIMD_TARGET"); (t && *t) || GetParam() != nxtest::SimdTargets().front())
    GTEST_SKIP() << "the largest orders run on the best SIMD target only";
  for (auto [real, order] : {std::pair{false, 27}, std::pair{true, 28}}) {
    SCOPED_TRACE(order);
    const size_t n = size_t(1) << order;
    const size_t k0 = n / 8;  // the tone's bin
    TSpec spec(real);
    const IppStatus st = spec.Init(order, IPP_FFT_DIV_INV_BY_N);
    if (st == ippStsMemAllocErr) GTEST_SKIP() << "not enough memory for order " << order;
    ASSERT_EQ(st, ippStsNoErr);
    EXPECT_EQ(spec.BufSize(), 0);
    std::unique_ptr<double[]> data(new (std::nothrow) double[spec.SpectrumLen()]);
    if (!data) GTEST_SKIP() << "not enough memory for order " << order;
    // 0.25 + exp(2 pi i j / 8), its real part only for a real transform.
    const double h = 0.70710678118654752440;
    const double re[8] = {1.25, 0.25 + h, 0.25, 0.25 - h, -0.75, 0.25 - h, 0.25, 0.25 + h};
    const double im[8] = {0, h, 1, h, 0, -h, -1, -h};
    const size_t step = real ? 1 : 2;
    for (size_t j = 0; j < n; ++j) {
      data[step * j] = re[j & 7];
      if (!real) data[2 * j + 1] = im[j & 7];
    }
    const IppStatus fwd = spec.Fwd(data.get(), data.get());
    if (fwd == ippStsMemAllocErr) GTEST_SKIP() << "not enough memory for order " << order;
    ASSERT_EQ(fwd, ippStsNoErr);
    // Complex: X[0] = N/4, X[k0] = N. Real (CCS, bins 0..N/2): X[0] = N/4, X[k0] = N/2.
    const double nd = double(n), peak = real ? nd / 2 : nd;
    const size_t bins = real ? n / 2 + 1 : n;
    double worst = 0;
    for (size_t k = 0; k < bins; ++k) {
      const double want = k == 0 ? nd / 4 : (k == k0 ? peak : 0.0);
      worst = std::max({worst, std::abs(data[2 * k] - want), std::abs(data[2 * k + 1])});
    }
    EXPECT_LE(worst / nd, 1e-12);
    ASSERT_EQ(spec.Inv(data.get(), data.get()), ippStsNoErr);
    double err = 0;
    for (size_t j = 0; j < n; ++j) {
      err = std::max(err, std::abs(data[step * j] - re[j & 7]));
      if (!real) err = std::max(err, std::abs(data[2 * j + 1] - im[j & 7]));
    }
    EXPECT_LE(err, 1e-12);
  }
}

TEST_P(FFTSpec, BlockFieldsFollowTheFlagAndRefusedCallsWriteNothing) {
  struct TCase { int Flag, Fwd, Inv; double Scale; };
  const TCase cases[] = {{IPP_FFT_DIV_FWD_BY_N, 1, 0, 1.0 / 32}, {IPP_FFT_DIV_INV_BY_N, 0, 1, 1.0 / 32},
                         {IPP_FFT_DIV_BY_SQRTN, 1, 1, 1.0 / std::sqrt(32.0)}};
  for (const TCase& c : cases) {
    TSpec cs(false), rs(true);
    ASSERT_EQ(cs.Init(5, c.Flag, ippAlgHintAccurate), ippStsNoErr);
    ASSERT_EQ(rs.Init(5, c.Flag, ippAlgHintFast), ippStsNoErr);
    const auto* cw = reinterpret_cast<const int32_t*>(cs.CP);
    const auto* rw = reinterpret_cast<const int32_t*>(rs.RP);
    EXPECT_EQ((std::vector<int32_t>{cw[0], cw[1], cw[2], cw[3], cw[6], cw[7], cw[8], rw[0], rw[6]}),
              (std::vector<int32_t>{7, 5, c.Fwd, c.Inv, ippAlgHintAccurate, cs.BufSize(), 1, 9, ippAlgHintFast}));
    double scale;
    std::memcpy(&scale, reinterpret_cast<const char*>(cs.CP) + 16, sizeof scale);
    EXPECT_DOUBLE_EQ(scale, c.Scale);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(cs.CP) % 32, 0u);
  }
  // Small orders need no work buffer.
  TSpec small(false);
  ASSERT_EQ(small.Init(3, IPP_FFT_NODIV_BY_ANY), ippStsNoErr);
  EXPECT_EQ(small.BufSize(), 0);
  // Refused calls write nothing: not the spec pointer, not the destination.
  const int order = 12;
  const size_t n = size_t(1) << order;
  TSpec cs(false), rs(true);
  ASSERT_EQ(cs.Init(order, IPP_FFT_NODIV_BY_ANY), ippStsNoErr);
  ASSERT_EQ(rs.Init(order, IPP_FFT_NODIV_BY_ANY), ippStsNoErr);
  const std::vector<double> x = RandomReal(2 * n, 1100);
  std::vector<double> dst(2 * n + 4, kCanary);
  const auto* xc = C(x.data());
  auto* dc = C(dst.data());
  auto* wrongC = reinterpret_cast<IppsFFTSpec_C_64fc*>(rs.RP);
  auto* wrongR = reinterpret_cast<IppsFFTSpec_R_64f*>(cs.CP);
  auto* const sentinelC = reinterpret_cast<IppsFFTSpec_C_64fc*>(uintptr_t(0x1000));
  auto* const sentinelR = reinterpret_cast<IppsFFTSpec_R_64f*>(uintptr_t(0x1000));
  IppsFFTSpec_C_64fc* pc = sentinelC;
  IppsFFTSpec_R_64f* pr = sentinelR;
  int size = 0;
  const std::pair<IppStatus, IppStatus> got[] = {  // the status and the one expected
      {nx::ippsFFTInitAlloc_C_64fc(&pc, 31, IPP_FFT_NODIV_BY_ANY, ippAlgHintNone), ippStsFftOrderErr},
      {nx::ippsFFTInitAlloc_R_64f(&pr, -1, IPP_FFT_NODIV_BY_ANY, ippAlgHintNone), ippStsFftOrderErr},
      {nx::ippsFFTInitAlloc_C_64fc(&pc, 4, 3, ippAlgHintNone), ippStsFftFlagErr},
      {nx::ippsFFTInitAlloc_R_64f(&pr, 31, 0, ippAlgHintNone), ippStsFftOrderErr},  // the order first
      {nx::ippsFFTInitAlloc_C_64fc(nullptr, 4, IPP_FFT_NODIV_BY_ANY, ippAlgHintNone), ippStsNullPtrErr},
      {nx::ippsFFTInitAlloc_R_64f(nullptr, 4, IPP_FFT_NODIV_BY_ANY, ippAlgHintNone), ippStsNullPtrErr},
      {nx::ippsFFTFree_R_64f(wrongR), ippStsContextMatchErr},
      {nx::ippsFFTFree_C_64fc(wrongC), ippStsContextMatchErr},
      {nx::ippsFFTFree_C_64fc(nullptr), ippStsNullPtrErr},
      {nx::ippsFFTFwd_CToC_64fc(xc, dc, nullptr, nullptr), ippStsContextMatchErr},
      {nx::ippsFFTInv_CToC_64fc(xc, dc, wrongC, nullptr), ippStsContextMatchErr},
      {nx::ippsFFTFwd_CToC_64fc(nullptr, dc, cs.CP, nullptr), ippStsNullPtrErr},
      {nx::ippsFFTFwd_RToCCS_64f(x.data(), dst.data(), wrongR, nullptr), ippStsContextMatchErr},
      {nx::ippsFFTInv_CCSToR_64f(nullptr, dst.data(), rs.RP, nullptr), ippStsNullPtrErr},
      {b::ippsFFTGetBufSize_C_64fc(wrongC, &size), ippStsContextMatchErr},
      {b::ippsFFTGetBufSize_C_64fc(cs.CP, nullptr), ippStsNullPtrErr},
  };
  for (size_t i = 0; i < std::size(got); ++i) EXPECT_EQ(got[i].first, got[i].second) << i;
  EXPECT_TRUE(pc == sentinelC && pr == sentinelR);
  for (double v : dst) ASSERT_EQ(v, kCanary);
  // A successful transform writes exactly 2N (complex), N + 2 (to CCS) or N (from CCS) values.
  const struct { std::function<IppStatus()> Run; size_t Written; } runs[] = {{[&] { return cs.Fwd(x.data(), dst.data()); }, 2 * n},
              {[&] { return rs.Fwd(x.data(), dst.data()); }, n + 2},
              {[&] { return rs.Inv(x.data(), dst.data()); }, n}};
  for (const auto& r : runs) {
    std::fill(dst.begin(), dst.end(), kCanary);
    ASSERT_EQ(r.Run(), ippStsNoErr);
    for (size_t i = r.Written; i < dst.size(); ++i) EXPECT_EQ(dst[i], kCanary) << r.Written;
  }
}

TEST(FFTDispatch, EveryPrimitiveHasATest) { nxtest::CheckPrimitiveGroups("FFT"); }

}  // namespace
