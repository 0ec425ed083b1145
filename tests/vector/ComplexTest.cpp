// Complex arithmetic against the scalar twins and the cases known in closed form.
#include <complex>

#include "vector/KernelTables.h"

namespace nx {
namespace {

using namespace nxtest;
using E = TElem;

const Ipp64fc kC = {1.75, -0.5};

std::vector<TTwinRow> TwinRows() {
  const auto c = E::C64, r = E::F64, f = E::F32;
  return {
      NX_TWIN(ippsAdd_64fc, (In(c), In(c), Out(c)), a.C64(0), a.C64(1), a.C64(2), a.Len),
      NX_TWIN(ippsAdd_64fc_I, (In(c), InOut(c)), a.C64(0), a.C64(1), a.Len),
      NX_TWIN(ippsSub_64fc_I, (In(c), InOut(c)), a.C64(0), a.C64(1), a.Len),
      NX_TWIN(ippsMul_64fc_I, (In(c), InOut(c)), a.C64(0), a.C64(1), a.Len),
      NX_TWIN(ippsDiv_64fc_I, (In(c), InOut(c)), a.C64(0), a.C64(1), a.Len),
      NX_TWIN(ippsAddC_64fc, (In(c), Out(c)), a.C64(0), kC, a.C64(1), a.Len),
      NX_TWIN(ippsAddC_64fc_I, (InOut(c)), kC, a.C64(0), a.Len),
      NX_TWIN(ippsSubC_64fc, (In(c), Out(c)), a.C64(0), kC, a.C64(1), a.Len),
      NX_TWIN(ippsSubC_64fc_I, (InOut(c)), kC, a.C64(0), a.Len),
      NX_TWIN(ippsSubCRev_64fc, (In(c), Out(c)), a.C64(0), kC, a.C64(1), a.Len),
      NX_TWIN(ippsMulC_64fc, (In(c), Out(c)), a.C64(0), kC, a.C64(1), a.Len),
      NX_TWIN(ippsMulC_64fc_I, (InOut(c)), kC, a.C64(0), a.Len),
      NX_TWIN(ippsDivC_64fc, (In(c), Out(c)), a.C64(0), kC, a.C64(1), a.Len),
      NX_TWIN(ippsDivC_64fc_I, (InOut(c)), kC, a.C64(0), a.Len),
      NX_TWIN(ippsSqr_64fc, (In(c), Out(c)), a.C64(0), a.C64(1), a.Len),
      NX_TWIN(ippsSqr_64fc_I, (InOut(c)), a.C64(0), a.Len),
      NX_TWIN(ippsSqrt_64fc, (In(c), Out(c)), a.C64(0), a.C64(1), a.Len),
      NX_TWIN(ippsSqrt_64fc_I, (InOut(c)), a.C64(0), a.Len),
      NX_TWIN(ippsConjCcs_64fc_I, (InOut(c)), a.C64(0), a.Len),
      NX_TWIN(ippsMagnitude_64fc, (In(c), Out(r)), a.C64(0), a.F64(1), a.Len),
      NX_TWIN(ippsPhase_64fc, (In(c), Out(r)), a.C64(0), a.F64(1), a.Len),
      NX_TWIN(ippsPowerSpectr_64fc, (In(c), Out(r)), a.C64(0), a.F64(1), a.Len),
      NX_TWIN(ippsReal_64fc, (In(c), Out(r)), a.C64(0), a.F64(1), a.Len),
      NX_TWIN(ippsImag_64fc, (In(c), Out(r)), a.C64(0), a.F64(1), a.Len),
      NX_TWIN(ippsCartToPolar_64f, (In(r), In(r), Out(r), Out(r)), a.F64(0), a.F64(1), a.F64(2), a.F64(3), a.Len),
      NX_TWIN(ippsPolarToCart_64f, (In(r), In(r), Out(r), Out(r)), a.F64(0), a.F64(1), a.F64(2), a.F64(3), a.Len),
      NX_TWIN(ippsCartToPolar_32f, (In(f), In(f), Out(f), Out(f)), a.F32(0), a.F32(1), a.F32(2), a.F32(3), a.Len),
      NX_TWIN(ippsPolarToCart_32f, (In(f), In(f), Out(f), Out(f)), a.F32(0), a.F32(1), a.F32(2), a.F32(3), a.Len),
      // Only the destination is required; a missing part reads as zeros.
      NX_TWIN(ippsRealToCplx_64f, (Optional(In(r)), Optional(In(r)), Out(c)), a.F64(0), a.F64(1), a.C64(2), a.Len),
      NX_TWIN(ippsRealToCplx_64f, (Optional(In(r)), Out(c)), a.F64(0), nullptr, a.C64(1), a.Len),
      NX_TWIN(ippsRealToCplx_64f, (Optional(In(r)), Out(c)), nullptr, a.F64(0), a.C64(1), a.Len),
      NX_TWIN(ippsRealToCplx_64f, (Out(c)), nullptr, nullptr, a.C64(0), a.Len),
      NX_TWIN(ippsRealToCplx_32f, (Optional(In(f)), Optional(In(f)), Out(E::C32)), a.F32(0), a.F32(1), a.C32(2), a.Len),
      NX_TWIN(ippsRealToCplx_32f, (Optional(In(f)), Out(E::C32)), nullptr, a.F32(0), a.C32(1), a.Len),
  };
}

NX_SIMD_SUITE(ComplexKernels);

TEST_P(ComplexKernels, MatchScalarTwins) { RunTwinTable(TwinRows(), 12345); }

TEST(ComplexDispatch, EveryPrimitiveHasATest) { CheckPrimitiveGroups("Complex", {TwinRows()}); }

// Results against std::complex on ordinary values, where a closed form exists; the square root also at its edges.
TEST_P(ComplexKernels, AgreeWithStdComplex) {
  TFiller f(7);
  const int n = 257;
  std::vector<Ipp64fc> a(n), b(n), out(n);
  for (int i = 0; i < n; ++i) {
    a[i] = {f.Uniform(-100, 100), f.Uniform(-100, 100)};
    b[i] = {f.Uniform(-100, 100), f.Uniform(-100, 100)};
  }
  using Cx = std::complex<double>;
  const Cx k(kC.re, kC.im);
  const struct { const char* Name; std::function<IppStatus(Ipp64fc*)> Run; std::function<Cx(Cx, Cx)> Want; } cases[] = {
      {"mul", [&](Ipp64fc* d) { return ippsMul_64fc_I(b.data(), d, n); }, [](Cx x, Cx y) { return x * y; }},
      {"div", [&](Ipp64fc* d) { return ippsDiv_64fc_I(b.data(), d, n); }, [](Cx x, Cx y) { return x / y; }},
      {"divc", [&](Ipp64fc* d) { return ippsDivC_64fc(a.data(), kC, d, n); }, [&k](Cx x, Cx) { return x / k; }},
  };
  for (const auto& c : cases) {
    out = a;
    ASSERT_EQ(c.Run(out.data()), ippStsNoErr) << c.Name;
    for (int i = 0; i < n; ++i) {
      const Cx want = c.Want({a[i].re, a[i].im}, {b[i].re, b[i].im});
      EXPECT_LE(std::abs(Cx(out[i].re, out[i].im) - want), 1e-14 * (std::abs(want) + 1e-300)) << c.Name << " " << i;
    }
  }
  // The square root: the principal branch, signed zeros, the extreme range.
  const Ipp64fc src[] = {{-4, 0}, {-4, -0.0}, {0, 0}, {-0.0, -0.0}, {0, 2}, {1e300, 1e300}, {3e-320, -4e-320}, {5, kInf}, {-kInf, 1}};
  const std::complex<double> want[] = {{0, 2}, {0, -2}, {0, 0}, {0, -0.0}, {1, 1}, std::sqrt(std::complex<double>(1e300, 1e300)),
                                       std::sqrt(std::complex<double>(3e-320, -4e-320)), {kInf, kInf}, {0, kInf}};
  Ipp64fc sq[std::size(src)];
  ASSERT_EQ(ippsSqrt_64fc(src, sq, static_cast<int>(std::size(src))), ippStsNoErr);
  auto near = [](double got, double want, double scale) {
    return std::isinf(want) ? got == want : std::abs(got - want) <= 1e-15 * scale;
  };
  for (std::size_t i = 0; i < std::size(src); ++i) {
    EXPECT_TRUE(near(sq[i].re, want[i].real(), std::abs(want[i]))) << i << ": " << sq[i].re;
    EXPECT_TRUE(near(sq[i].im, want[i].imag(), std::abs(want[i]))) << i << ": " << sq[i].im;
    EXPECT_EQ(std::signbit(sq[i].im), std::signbit(want[i].imag())) << i;
  }
}

// A zero divisor poisons only its element; a zero constant is an error before any write. ConjCcs.
TEST_P(ComplexKernels, DivisionByZeroAndConjCcs) {
  std::vector<Ipp64fc> dividend(37, Ipp64fc{3, 4}), divisor(37, Ipp64fc{0, 2});
  divisor[33] = {-0.0, 0};
  ASSERT_EQ(ippsDiv_64fc_I(divisor.data(), dividend.data(), 37), ippStsDivByZero);
  EXPECT_TRUE(std::isnan(dividend[33].re) && std::isnan(dividend[33].im));
  EXPECT_TRUE(dividend[32].re == 2.0 && dividend[32].im == -1.5 && dividend[34].re == 2.0);  // (3 + 4i) / 2i
  Ipp64fc src[2] = {{1, 1}, {2, 2}}, dst[2] = {{9, 9}, {9, 9}};
  EXPECT_EQ(ippsDivC_64fc(src, Ipp64fc{0, -0.0}, dst, 2), ippStsDivByZeroErr);
  EXPECT_EQ(ippsDivC_64fc_I(Ipp64fc{0, 0}, src, 2), ippStsDivByZeroErr);
  EXPECT_EQ(Vec(&dst[0].re, 4), std::vector<double>(4, 9.0));
  EXPECT_EQ(Vec(&src[0].re, 4), (std::vector<double>{1, 1, 2, 2}));
  // ConjCcs fills the mirror half.
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

}  // namespace
}  // namespace nx
