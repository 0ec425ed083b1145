// Correlation, convolution, FIR and IIR against exact long-double sums and the scalar twins.
#include <complex>
#include <numeric>

#include "vector/KernelTables.h"

namespace nx {
namespace {

using LD = long double;
using CLD = std::complex<LD>;
using namespace nxtest;
constexpr double kEps = std::numeric_limits<double>::epsilon();

CLD ToC(Ipp64fc v) { return {v.re, v.im}; }
CLD ToC(Ipp64f v) { return {v, 0.0L}; }
LD Mag(CLD v) { return std::abs(v.real()) + std::abs(v.imag()); }

// An exact value with the sum of |terms|, which bounds the rounding of any summation order.
struct Exact {
  CLD value{};
  LD scale = 0;
  int terms = 0;
  void Add(CLD a, CLD b) { value += a * b, scale += Mag(a) * Mag(b), ++terms; }
};

// `global` widens the bound for a transform method's outputs (TransformTol).
template <typename T>
::testing::AssertionResult Near(T got, const Exact& e, LD global = 0) {
  const LD tol = 4 * (e.terms + 4) * kEps * e.scale + global + 1e-300L;
  const CLD g = ToC(got);
  if (std::abs(g.real() - e.value.real()) <= tol && std::abs(g.imag() - e.value.imag()) <= tol)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "(" << static_cast<double>(g.real()) << ", " << static_cast<double>(g.imag())
                                       << ") vs (" << static_cast<double>(e.value.real()) << ", "
                                       << static_cast<double>(e.value.imag()) << ")";
}

template <typename T>
LD Norm2(const std::vector<T>& v) {
  LD s = 0;
  for (const auto& x : v) s += std::norm(ToC(x));
  return std::sqrt(s);
}

// Rounding bound of an FFT-based correlation through transforms of at most n points.
LD TransformTol(LD norm1, LD norm2, std::size_t n) {
  return 16 * std::log2(static_cast<LD>(n) + 2) * kEps * norm1 * norm2;
}

// dst[n] = sum_m conj(s1[m]) s2[m + n + lag] (conjugation only for complex data).
template <typename T>
std::vector<Exact> ExactCross(const std::vector<T>& s1, const std::vector<T>& s2, int dstLen, int lag) {
  std::vector<Exact> r(dstLen);
  for (int n = 0; n < dstLen; ++n)
    for (int m = 0; m < static_cast<int>(s1.size()); ++m) {
      const long k = static_cast<long>(m) + n + lag;
      if (k >= 0 && k < static_cast<long>(s2.size())) r[n].Add(std::conj(ToC(s1[m])), ToC(s2[k]));
    }
  return r;
}

// Same value up to rounding, with NaN and infinities in the same places.
bool SameClass(double a, double b, double scale) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  if (std::isinf(a) || std::isinf(b)) return a == b;
  return std::abs(a - b) <= 1e-12 * scale + 1e-300;
}

// One FIR run from delay line `dly` (null: zeros), dispatched or through the twins.
std::vector<Ipp64f> RunFIR(bool twin, const Ipp64f* taps, int M, const Ipp64f* dly, const Ipp64f* x, int n) {
  IppsFIRState_64f* st = nullptr;
  std::vector<Ipp64f> y(n);
  EXPECT_EQ(NX_PICK(twin, ippsFIRInitAlloc_64f)(&st, taps, M, dly), ippStsNoErr);
  EXPECT_EQ(NX_PICK(twin, ippsFIR_64f)(x, y.data(), n, st), ippStsNoErr);
  EXPECT_EQ(NX_PICK(twin, ippsFIRFree_64f)(st), ippStsNoErr);
  return y;
}

enum class Norm { None, A, B };

template <typename T>
using AutoFn = IppStatus (*)(const T*, int, T*, int);

template <typename T>
void CheckAutoCorr(AutoFn<T> ours, AutoFn<T> twin, Norm norm, int srcLen, int dstLen, std::uint64_t seed) {
  SCOPED_TRACE(::testing::Message() << "srcLen " << srcLen << " dstLen " << dstLen << " norm " << int(norm));
  const auto src = Random<T>(srcLen, seed);
  auto exact = ExactCross(src, src, std::min(srcLen, dstLen), 0);
  TGuarded<T> dst(dstLen), ref(dstLen);
  ASSERT_EQ(ours(src.data(), srcLen, dst.data(), dstLen), ippStsNoErr);
  ASSERT_EQ(twin(src.data(), srcLen, ref.data(), dstLen), ippStsNoErr);
  EXPECT_TRUE(dst.GuardsIntact());
  // From 600 lags on the transform method is used.
  const bool fft = std::min(srcLen, dstLen) >= 600;
  const LD n2 = Norm2(src);
  for (int k = 0; k < dstLen; ++k) {
    if (k >= static_cast<int>(exact.size())) {
      ASSERT_EQ(ToC(dst[k]), CLD{}) << "lag " << k;
      continue;
    }
    const LD f = norm == Norm::A ? 1.0L / srcLen : norm == Norm::B ? 1.0L / (srcLen - k) : 1.0L;
    exact[k].value *= f;
    exact[k].scale *= f;
    exact[k].terms += 2;
    ASSERT_TRUE(Near(dst[k], exact[k], fft ? f * TransformTol(n2, n2, 2 * srcLen) : 0)) << "lag " << k;
    ASSERT_TRUE(Near(ref[k], exact[k])) << "twin, lag " << k;
  }
}

NX_SIMD_SUITE(Correlation);
NX_SIMD_SUITE(Convolution);
NX_SIMD_SUITE(FIRFilter);
NX_SIMD_SUITE(IIRFilter);

TEST_P(Correlation, AutoCorrMatchesExactSums) {
  const std::pair<int, int> sizes[] = {{1, 1},      {1, 6},     {7, 3},     {8, 8},     {33, 40},   {100, 100},
                                       {257, 64},   {599, 599}, {600, 600}, {5000, 599}, {599, 5000}, {600, 5000},
                                       {5000, 600}, {999, 1000}, {4500, 4200}};
  const AutoFn<Ipp64f> real[][2] = {{ippsAutoCorr_64f, reference::ippsAutoCorr_64f},
                                    {ippsAutoCorr_NormA_64f, reference::ippsAutoCorr_NormA_64f},
                                    {ippsAutoCorr_NormB_64f, reference::ippsAutoCorr_NormB_64f}};
  const AutoFn<Ipp64fc> cplx[][2] = {{ippsAutoCorr_64fc, reference::ippsAutoCorr_64fc},
                                     {ippsAutoCorr_NormA_64fc, reference::ippsAutoCorr_NormA_64fc},
                                     {ippsAutoCorr_NormB_64fc, reference::ippsAutoCorr_NormB_64fc}};
  std::uint64_t seed = 1;
  for (auto [srcLen, dstLen] : sizes)
    for (int n = 0; n < 3; ++n) {
      CheckAutoCorr<Ipp64f>(real[n][0], real[n][1], Norm(n), srcLen, dstLen, ++seed);
      CheckAutoCorr<Ipp64fc>(cplx[n][0], cplx[n][1], Norm(n), srcLen, dstLen, ++seed);
    }
}

struct CrossCase { int len1, len2, dstLen, lowLag; };
const CrossCase kCrossCases[] = {
    {1, 1, 1, 0},         {5, 9, 13, -4},     {9, 5, 13, -8},       {10, 10, 5, 20},  // all past the end
    {10, 10, 5, -30},     {3, 100, 50, -10},  {100, 3, 20, -110},   {64, 64, 200, -100},
    {300, 4200, 5000, -299}, {4500, 37, 4200, -4400}, {17, 1000, 1000, 3},
    // Either side of dstLen * shorter / longer > 511, where the transform takes over.
    {600, 600, 511, -300},   {600, 600, 512, -300},   {300, 600, 1022, -400},
    {300, 600, 1023, -400},  {600, 300, 1022, -700},  {600, 300, 1023, -700},
    {5000, 3000, 6000, -4000}, {2000, 9000, 1500, 500},
};

bool CrossCorrUsesTransform(const CrossCase& c) {
  return static_cast<long>(c.dstLen) * std::min(c.len1, c.len2) > 511L * std::max(c.len1, c.len2);
}

template <typename T, typename Fn>
void CheckCrossCorr(Fn ours, Fn twin, const CrossCase& c, std::uint64_t seed) {
  SCOPED_TRACE(::testing::Message() << "len1 " << c.len1 << " len2 " << c.len2 << " dstLen " << c.dstLen << " lowLag "
                                    << c.lowLag);
  const auto s1 = Random<T>(c.len1, seed), s2 = Random<T>(c.len2, seed + 100);
  const auto exact = ExactCross(s1, s2, c.dstLen, c.lowLag);
  TGuarded<T> dst(c.dstLen), ref(c.dstLen);
  ASSERT_EQ(ours(s1.data(), c.len1, s2.data(), c.len2, dst.data(), c.dstLen, c.lowLag), ippStsNoErr);
  ASSERT_EQ(twin(s1.data(), c.len1, s2.data(), c.len2, ref.data(), c.dstLen, c.lowLag), ippStsNoErr);
  EXPECT_TRUE(dst.GuardsIntact());
  const LD global = CrossCorrUsesTransform(c) ? TransformTol(Norm2(s1), Norm2(s2), c.len1 + c.len2 + c.dstLen) : 0;
  for (int n = 0; n < c.dstLen; ++n) {
    if (exact[n].terms == 0) {
      ASSERT_EQ(ToC(dst[n]), CLD{}) << "lag " << n + c.lowLag << " has no overlap";
    } else {
      ASSERT_TRUE(Near(dst[n], exact[n], global)) << "output " << n;
      ASSERT_TRUE(Near(ref[n], exact[n])) << "twin, output " << n;
    }
  }
}

TEST_P(Correlation, CrossCorrMatchesExactSumsForAnyLagRange) {
  std::uint64_t seed = 50;
  for (const auto& c : kCrossCases) {
    CheckCrossCorr<Ipp64f>(ippsCrossCorr_64f, reference::ippsCrossCorr_64f, c, ++seed);
    CheckCrossCorr<Ipp64fc>(ippsCrossCorr_64fc, reference::ippsCrossCorr_64fc, c, ++seed);
  }
}

TEST_P(Convolution, MatchesExactSumsAcrossBlocksAndOperandOrder) {
  // Both sides of the direct/transform thresholds (total 150, shorter operand 32), long operands.
  const std::pair<int, int> sizes[] = {
      {1, 1},      {5, 3},       {3, 5},      {4095, 7},  {4096, 1},   {4096, 31},  {4097, 31}, {31, 4097},
      {10000, 5},  {10000, 100}, {100, 10000}, {600, 600}, {8192, 4096}, {100, 49},   {100, 50},  {51, 100},
      {117, 32},   {118, 32},    {32, 119},   {5000, 31}, {5000, 32},  {32, 5000},  {20000, 700}};
  std::uint64_t seed = 300;
  for (auto [len1, len2] : sizes) {
    SCOPED_TRACE(::testing::Message() << "len1 " << len1 << " len2 " << len2);
    const auto a = RandomReal(len1, ++seed), b = RandomReal(len2, ++seed);
    const int total = len1 + len2 - 1;
    std::vector<Exact> exact(total);
    for (int n = 0; n < total; ++n)
      for (int k = std::max(0, n - len1 + 1); k < std::min(len2, n + 1); ++k) exact[n].Add(a[n - k], b[k]);
    const bool fft = total >= 150 && std::min(len1, len2) >= 32;
    const LD global = fft ? TransformTol(Norm2(a), Norm2(b), 16 * std::min(len1, len2) + 1024) : 0;
    TGuarded<Ipp64f> dst(total), swapped(total), ref(total);
    ASSERT_EQ(ippsConv_64f(a.data(), len1, b.data(), len2, dst.data()), ippStsNoErr);
    ASSERT_EQ(ippsConv_64f(b.data(), len2, a.data(), len1, swapped.data()), ippStsNoErr);
    ASSERT_EQ(reference::ippsConv_64f(a.data(), len1, b.data(), len2, ref.data()), ippStsNoErr);
    EXPECT_TRUE(dst.GuardsIntact() && swapped.GuardsIntact());
    for (int n = 0; n < total; ++n) {
      ASSERT_TRUE(Near(dst[n], exact[n], global)) << "output " << n;
      ASSERT_TRUE(Near(ref[n], exact[n])) << "twin, output " << n;
      // Operands of different lengths are ordered internally: the same sums.
      if (len1 != len2) {
        ASSERT_EQ(dst[n], swapped[n]) << "output " << n;
      } else {
        ASSERT_TRUE(Near(swapped[n], exact[n], global)) << "swapped operands, output " << n;
      }
    }
  }
}

// Direct sums omit terms outside the data: a special sample reaches only its outputs.
TEST_P(Correlation, SpecialValuesReachTheSameOutputsAsTheDefinition) {
  const double specials[] = {kNaN, kInf, -kInf, -0.0, 4.9e-324, 2.2e-308};
  for (int len : {3, 40, 517}) {
    auto a = RandomReal(len, 900 + len), b = RandomReal(std::min(len / 2 + 1, 31), 901 + len);
    for (std::size_t i = 0; i < std::size(specials); ++i) a[(i * 7) % len] = specials[i];
    b[0] = kInf;
    const int la = len, lb = static_cast<int>(b.size());
    std::vector<Ipp64f> o(2 * la + 2 * lb), r(o.size());
    const auto compare = [&](const char* what, int n) {
      for (int k = 0; k < n; ++k) ASSERT_TRUE(SameClass(o[k], r[k], la)) << what << " " << k << ": " << o[k] << " vs " << r[k];
    };
    for (bool twin : {false, true})
      ASSERT_EQ(NX_PICK(twin, ippsConv_64f)(a.data(), la, b.data(), lb, (twin ? r : o).data()), ippStsNoErr);
    compare("conv", la + lb - 1);
    for (bool twin : {false, true}) {
      auto* dst = (twin ? r : o).data();
      ASSERT_EQ(NX_PICK(twin, ippsCrossCorr_64f)(b.data(), lb, a.data(), la, dst, la + lb, -lb), ippStsNoErr);
    }
    compare("crosscorr", la + lb);
    for (bool twin : {false, true})
      ASSERT_EQ(NX_PICK(twin, ippsAutoCorr_64f)(a.data(), la, (twin ? r : o).data(), la), ippStsNoErr);
    compare("autocorr", la);
    std::vector<Ipp64fc> ca(la), co(la), cr(la);
    for (int k = 0; k < la; ++k) ca[k] = {a[k], a[(k + 3) % la]};
    ASSERT_EQ(ippsAutoCorr_64fc(ca.data(), la, co.data(), la), ippStsNoErr);
    ASSERT_EQ(reference::ippsAutoCorr_64fc(ca.data(), la, cr.data(), la), ippStsNoErr);
    for (int k = 0; k < la; ++k)
      ASSERT_TRUE(SameClass(co[k].re, cr[k].re, la) && SameClass(co[k].im, cr[k].im, la)) << "complex autocorr " << k;
  }
}

// The result never depends on where the destination lies; refused calls write nothing.
TEST_P(Correlation, DestinationOverlappingASourceAndStatusChecks) {
  const auto x = RandomReal(700, 77);
  std::vector<Ipp64f> expect(700), buf = x;
  ASSERT_EQ(ippsAutoCorr_64f(x.data(), 700, expect.data(), 700), ippStsNoErr);
  ASSERT_EQ(ippsAutoCorr_64f(buf.data(), 700, buf.data(), 700), ippStsNoErr);
  EXPECT_EQ(buf, expect);
  // Short kernels by direct sums, long ones through the transform.
  for (int M : {9, 40, 700}) {
    SCOPED_TRACE(::testing::Message() << "kernel " << M);
    const auto h = RandomReal(M, 78);
    std::vector<Ipp64f> conv(700 + M - 1), inplace(700 + M - 1);
    ASSERT_EQ(ippsConv_64f(x.data(), 700, h.data(), M, conv.data()), ippStsNoErr);
    std::copy(x.begin(), x.end(), inplace.begin() + (M - 1));  // the source sits inside the destination
    ASSERT_EQ(ippsConv_64f(inplace.data() + (M - 1), 700, h.data(), M, inplace.data()), ippStsNoErr);
    EXPECT_EQ(inplace, conv);
    std::vector<Ipp64f> cc(700), cc2 = x;
    ASSERT_EQ(ippsCrossCorr_64f(h.data(), M, x.data(), 700, cc.data(), 700, -4), ippStsNoErr);
    ASSERT_EQ(ippsCrossCorr_64f(h.data(), M, cc2.data(), 700, cc2.data(), 700, -4), ippStsNoErr);
    EXPECT_EQ(cc2, cc);
  }
  // Status checks write nothing.
  const auto c = Random<Ipp64fc>(8, 6);
  TGuarded<Ipp64f> d(16);
  TGuarded<Ipp64fc> dc(16);
  const double* p = x.data();  // its first 8 values
  const std::pair<IppStatus, IppStatus> got[] = {  // the status and the one expected
      {ippsAutoCorr_64f(nullptr, 0, d.data(), 8), ippStsNullPtrErr},  // null pointers are checked first
      {ippsAutoCorr_NormA_64f(p, 8, nullptr, 8), ippStsNullPtrErr},
      {ippsAutoCorr_NormB_64f(p, 8, d.data(), 0), ippStsSizeErr},
      {ippsAutoCorr_64fc(c.data(), -3, dc.data(), 8), ippStsSizeErr},
      {ippsAutoCorr_NormB_64fc(nullptr, 8, dc.data(), 8), ippStsNullPtrErr},
      {ippsCrossCorr_64f(p, 8, nullptr, 8, d.data(), 8, 0), ippStsNullPtrErr},
      {ippsCrossCorr_64f(p, 8, p, 0, d.data(), 8, 0), ippStsSizeErr},
      {ippsCrossCorr_64f(p, 8, p, 8, d.data(), 0, 0), ippStsSizeErr},
      {ippsCrossCorr_64fc(nullptr, 8, c.data(), 8, dc.data(), 8, 0), ippStsNullPtrErr},
      {ippsCrossCorr_64fc(c.data(), 8, c.data(), 8, dc.data(), -1, 0), ippStsSizeErr},
      {ippsConv_64f(p, 8, p, 8, nullptr), ippStsNullPtrErr},
      {ippsConv_64f(p, 8, p, -2, d.data()), ippStsSizeErr},
  };
  for (std::size_t i = 0; i < std::size(got); ++i) EXPECT_EQ(got[i].first, got[i].second) << i;
  EXPECT_TRUE(d.AllCanary() && dc.AllCanary());
}

// One call over x, the same input split into `blocks`, and the split calls in place.
template <typename State>
std::array<std::vector<Ipp64f>, 3> RunSplit(IppStatus (*run)(const Ipp64f*, Ipp64f*, int, State*),
                                            const std::vector<Ipp64f>& x, const std::vector<int>& blocks,
                                            State* whole, State* split, State* inplace) {
  TGuarded<Ipp64f> g(x.size());
  EXPECT_EQ(run(x.data(), g.data(), static_cast<int>(x.size()), whole), ippStsNoErr);
  EXPECT_TRUE(g.GuardsIntact());
  std::vector<Ipp64f> ys(x.size()), yi = x;
  int at = 0;
  for (int b : blocks) {
    EXPECT_EQ(run(x.data() + at, ys.data() + at, b, split), ippStsNoErr);
    EXPECT_EQ(run(yi.data() + at, yi.data() + at, b, inplace), ippStsNoErr);
    at += b;
  }
  return {Vec(g.data(), x.size()), ys, yi};
}

// y[n] = sum_k taps[k] x[n - k] over the history dly (oldest first) followed by x.
std::vector<Exact> ExactFIR(const std::vector<Ipp64f>& taps, const std::vector<Ipp64f>& dly,
                            const std::vector<Ipp64f>& x) {
  std::vector<Ipp64f> xx = dly;
  xx.insert(xx.end(), x.begin(), x.end());
  const long M = static_cast<long>(taps.size()), D = static_cast<long>(dly.size());
  std::vector<Exact> y(x.size());
  for (long n = 0; n < static_cast<long>(x.size()); ++n)
    for (long k = 0; k < M; ++k) y[n].Add(taps[k], xx[D + n - k]);
  return y;
}

struct FIR {
  IppsFIRState_64f* st = nullptr;
  FIR(const std::vector<Ipp64f>& taps, const Ipp64f* dly) {
    EXPECT_EQ(ippsFIRInitAlloc_64f(&st, taps.data(), static_cast<int>(taps.size()), dly), ippStsNoErr);
  }
  ~FIR() { EXPECT_EQ(ippsFIRFree_64f(st), ippStsNoErr); }
  Ipp32u& Word() { return *reinterpret_cast<Ipp32u*>(st); }
};

// Against exact sums, any block split and in place, taps and blocks around the transform thresholds; statuses.
TEST_P(FIRFilter, MatchesExactSumsAcrossBlocksAndInPlaceCallsAndStatusChecks) {
  const std::vector<int> blocks = {1, 7, 511, 512, 513, 4096, 3, 1, 600};
  const int total = std::accumulate(blocks.begin(), blocks.end(), 0);
  for (int M : {1, 2, 3, 5, 16, 31, 32, 33, 100, 256, 700, 1000}) {
    for (bool withDly : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "tapsLen " << M << (withDly ? " with delay line" : ""));
      const auto taps = RandomReal(M, 10 + M), x = RandomReal(total, 30 + M);
      const auto dly = withDly ? RandomReal(M, 20 + M) : std::vector<Ipp64f>(M, 0.0);
      const Ipp64f* initial = withDly ? dly.data() : nullptr;
      const auto exact = ExactFIR(taps, dly, x);
      FIR whole(taps, initial), split(taps, initial), inplace(taps, initial);
      const auto [y, ys, yi] = RunSplit(ippsFIR_64f, x, blocks, whole.st, split.st, inplace.st);
      const auto r = RunFIR(true, taps.data(), M, initial, x.data(), total);
      for (int n = 0; n < total; ++n) {
        ASSERT_TRUE(Near(y[n], exact[n])) << n;
        ASSERT_TRUE(Near(ys[n], exact[n])) << "split, " << n;
        ASSERT_TRUE(Near(yi[n], exact[n])) << "in place, " << n;
        ASSERT_TRUE(Near(r[n], exact[n])) << "twin, " << n;
      }
    }
  }
  // Status checks.
  const auto taps = RandomReal(8, 1), x = RandomReal(64, 2);
  IppsFIRState_64f* const sentinel = reinterpret_cast<IppsFIRState_64f*>(std::uintptr_t{0x1230});
  IppsFIRState_64f* st = sentinel;
  EXPECT_EQ(ippsFIRInitAlloc_64f(nullptr, taps.data(), 8, nullptr), ippStsNullPtrErr);
  EXPECT_EQ(ippsFIRInitAlloc_64f(&st, nullptr, 8, nullptr), ippStsNullPtrErr);
  EXPECT_EQ(ippsFIRInitAlloc_64f(&st, taps.data(), 0, nullptr), ippStsFIRLenErr);
  EXPECT_EQ(st, sentinel);
  FIR f(taps, nullptr);
  TGuarded<Ipp64f> y(64);
  EXPECT_EQ(ippsFIR_64f(x.data(), nullptr, 64, f.st), ippStsNullPtrErr);
  EXPECT_EQ(ippsFIR_64f(x.data(), y.data(), 64, nullptr), ippStsNullPtrErr);
  EXPECT_EQ(ippsFIR_64f(x.data(), y.data(), 0, f.st), ippStsSizeErr);
  // A wrong identification word is refused before anything is written.
  const Ipp32u word = f.Word();
  f.Word() = word ^ 0x100;
  EXPECT_EQ(ippsFIR_64f(x.data(), y.data(), 64, f.st), ippStsContextMatchErr);
  EXPECT_EQ(ippsFIRFree_64f(f.st), ippStsContextMatchErr);
  EXPECT_TRUE(y.AllCanary());
  // The multi-rate word is accepted by the run routine.
  f.Word() = 0x46493135;
  ASSERT_EQ(ippsFIR_64f(x.data(), y.data(), 64, f.st), ippStsNoErr);
  f.Word() = word;
  const auto exact = ExactFIR(taps, std::vector<Ipp64f>(8, 0.0), x);
  for (int n = 0; n < 64; ++n) ASSERT_TRUE(Near(y[n], exact[n])) << n;  // the refused call left the delay line as it was
}

// Stable random biquad sections (b0, b1, b2, a0, a1, a2), a0 not normalised.
std::vector<Ipp64f> RandomBiquads(int numBq, std::uint64_t seed) {
  std::mt19937_64 g(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0), r(0.3, 0.9), a0(0.5, 2.0);
  std::vector<Ipp64f> t;
  for (int s = 0; s < numBq; ++s) {
    const double rad = r(g), ang = 3.0 * std::abs(u(g)), k = a0(g);
    t.insert(t.end(), {k * u(g) + 0.1 * k, k * u(g), k * u(g), k, -2 * rad * std::cos(ang) * k, rad * rad * k});
  }
  return t;
}

// The cascade in long double: y = b0 x + d0; d0 = b1 x + d1 - a1 y; d1 = b2 x - a2 y.
std::vector<LD> ExactCascade(const std::vector<Ipp64f>& taps, std::vector<LD> dly, const std::vector<Ipp64f>& x) {
  std::vector<LD> y(x.size());
  for (std::size_t n = 0; n < x.size(); ++n) {
    LD v = x[n];
    for (std::size_t s = 0; s < taps.size() / 6; ++s) {
      const Ipp64f* t = &taps[6 * s];
      const LD a0 = t[3], out = t[0] / a0 * v + dly[2 * s];
      dly[2 * s] = t[1] / a0 * v + dly[2 * s + 1] - t[4] / a0 * out;
      dly[2 * s + 1] = t[2] / a0 * v - t[5] / a0 * out;
      v = out;
    }
    y[n] = v;
  }
  return y;
}

struct IIR {
  IppsIIRState_64f* st = nullptr;
  IIR(const std::vector<Ipp64f>& taps, int n, const Ipp64f* dly, bool biquad) {
    EXPECT_EQ((biquad ? ippsIIRInitAlloc_BiQuad_64f : ippsIIRInitAlloc_64f)(&st, taps.data(), n, dly), ippStsNoErr);
  }
  ~IIR() { EXPECT_EQ(ippsIIRFree_64f(st), ippStsNoErr); }
  Ipp32u& Word() { return *reinterpret_cast<Ipp32u*>(st); }
};

// Any split of the input, and in-place filtering, reproduce one long call bit for bit.
TEST_P(IIRFilter, BlockSplitsAndInPlaceCallsReproduceOneCall) {
  const std::vector<int> blocks = {1, 7, 511, 512, 4096, 2, 1, 3};
  const auto x = RandomReal(std::accumulate(blocks.begin(), blocks.end(), 0), 9);
  for (bool biquad : {true, false}) {
    for (int n : {1, 2, 3, 4, 5, 8}) {
      SCOPED_TRACE(::testing::Message() << (biquad ? "sections " : "order ") << n);
      std::vector<Ipp64f> taps = biquad ? RandomBiquads(n, 70 + n) : RandomReal(2 * (n + 1), 70 + n);
      if (!biquad) taps[n + 1] = 4.0 + n;  // a dominant a0 keeps the direct form tame
      const auto dly = RandomReal(biquad ? 2 * n : n, 80 + n);
      IIR whole(taps, n, dly.data(), biquad), split(taps, n, dly.data(), biquad), inplace(taps, n, dly.data(), biquad);
      const auto [y, ys, yi] = RunSplit(ippsIIR_64f, x, blocks, whole.st, split.st, inplace.st);
      EXPECT_EQ(ys, y);
      EXPECT_EQ(yi, y);
      if (!biquad) continue;  // the cascade from its initial delays against the recurrence in long double
      const auto exact = ExactCascade(taps, std::vector<LD>(dly.begin(), dly.end()), x);
      for (std::size_t k = 0; k < x.size(); ++k) ASSERT_NEAR(y[k], static_cast<double>(exact[k]), 1e-9) << k;
    }
  }
}

// A fourth-order direct form from a delay line against its long-double recurrence; order 0 a gain.
TEST_P(IIRFilter, DirectFormAgainstTheRecurrence) {
  const auto bq = RandomBiquads(2, 5);
  std::vector<Ipp64f> direct(10, 0.0);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      direct[i + j] += bq[i] * bq[6 + j];              // numerators
      direct[5 + i + j] += bq[3 + i] * bq[6 + 3 + j];  // denominators
    }
  const auto x = RandomReal(2000, 6), dly = RandomReal(4, 7);
  IIR fdd(direct, 4, dly.data(), false), gain({3.0, 4.0}, 0, nullptr, false);
  std::vector<Ipp64f> yd(2000);
  ASSERT_EQ(ippsIIR_64f(x.data(), yd.data(), 2000, fdd.st), ippStsNoErr);
  std::vector<LD> d(dly.begin(), dly.end());
  for (int k = 0; k < 2000; ++k) {
    const LD a0 = direct[5], xv = x[k];
    const LD y = direct[0] / a0 * xv + d[0];
    for (int i = 0; i < 3; ++i) d[i] = direct[i + 1] / a0 * xv - direct[5 + i + 1] / a0 * y + d[i + 1];
    d[3] = direct[4] / a0 * xv - direct[9] / a0 * y;
    ASSERT_NEAR(yd[k], static_cast<double>(y), 1e-10) << k;
  }
  ASSERT_EQ(ippsIIR_64f(x.data(), yd.data(), 2000, gain.st), ippStsNoErr);
  for (int k = 0; k < 2000; ++k) ASSERT_EQ(yd[k], (3.0 / 4.0) * x[k]) << k;
}

TEST_P(IIRFilter, StatusChecks) {
  IppsIIRState_64f* const sentinel = reinterpret_cast<IppsIIRState_64f*>(std::uintptr_t{0x4560});
  IppsIIRState_64f* st = sentinel;
  auto bq = RandomBiquads(3, 11);
  const std::vector<Ipp64f> direct = {1.0, 0.5, 0.25, 0.0, 0.1, 0.2};  // a0 = 0
  EXPECT_EQ(ippsIIRInitAlloc_64f(&st, direct.data(), 2, nullptr), ippStsDivByZeroErr);
  EXPECT_EQ(ippsIIRInitAlloc_64f(&st, direct.data(), -1, nullptr), ippStsIIROrderErr);
  EXPECT_EQ(ippsIIRInitAlloc_64f(nullptr, direct.data(), 2, nullptr), ippStsNullPtrErr);
  EXPECT_EQ(ippsIIRInitAlloc_64f(&st, nullptr, 2, nullptr), ippStsNullPtrErr);
  EXPECT_EQ(ippsIIRInitAlloc_BiQuad_64f(&st, bq.data(), 0, nullptr), ippStsIIROrderErr);
  EXPECT_EQ(ippsIIRInitAlloc_BiQuad_64f(&st, nullptr, 3, nullptr), ippStsNullPtrErr);
  // A zero a0 or b0 in the second section: no state left behind (the leak checker sees one).
  for (int which : {3, 0}) {
    auto bad = bq;
    bad[6 + which] = 0.0;
    EXPECT_EQ(ippsIIRInitAlloc_BiQuad_64f(&st, bad.data(), 3, nullptr), ippStsDivByZeroErr);
  }
  EXPECT_EQ(st, sentinel);
  const auto x = RandomReal(32, 12);
  IIR f(bq, 3, nullptr, true);
  TGuarded<Ipp64f> y(32);
  EXPECT_EQ(ippsIIR_64f(nullptr, y.data(), 32, f.st), ippStsNullPtrErr);
  EXPECT_EQ(ippsIIR_64f(x.data(), y.data(), 32, nullptr), ippStsNullPtrErr);
  EXPECT_EQ(ippsIIR_64f(x.data(), y.data(), 0, f.st), ippStsSizeErr);
  const Ipp32u word = f.Word();
  f.Word() = 0x46493133;  // a FIR word is not an IIR state
  EXPECT_EQ(ippsIIR_64f(x.data(), y.data(), 32, f.st), ippStsContextMatchErr);
  EXPECT_EQ(ippsIIRFree_64f(f.st), ippStsContextMatchErr);
  EXPECT_TRUE(y.AllCanary());
  f.Word() = word;
  ASSERT_EQ(ippsIIR_64f(x.data(), y.data(), 32, f.st), ippStsNoErr);
  const auto exact = ExactCascade(bq, std::vector<LD>(6, 0.0L), x);
  for (int k = 0; k < 32; ++k) ASSERT_NEAR(y[k], static_cast<double>(exact[k]), 1e-12) << k;
}

TEST(FiltersDispatch, EveryPrimitiveHasATest) { CheckPrimitiveGroups("Filters"); }

}  // namespace
}  // namespace nx
