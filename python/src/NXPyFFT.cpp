// The transforms behind nxruntime.fft: rows of complex or real data through
// the library's FFT primitives (power-of-two lengths, specs planned once per
// order and kept), and Bluestein's algorithm on top of them for every other
// length. Scaling and numpy's conventions are applied by the Python layer.
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <numbers>
#include <vector>

#include "NXPyCommon.h"
#include "runtime/SysUtils.h"
#include "vector/NXBasicDispatcher.h"
#include "vector/builtin/NXBuiltinFFT.h"

namespace nx::py {
namespace {

using cd = std::complex<double>;

bool VendorFFT() {
  static const bool vendor = [] {
    for (const TNXDispatchEntry& e : NXBasicDispatcher::DispatchTable())
      if (std::string(e.Name) == "ippsFFTInitAlloc_C_64fc") return e.FromVendor;
    return false;
  }();
  return vendor;
}

void Check(IppStatus st, const char* what) {
  if (st < 0) throw std::runtime_error(std::string(what) + ": " + StatusName(st));
}

// Specs of each order, made on first use and kept (they are read-only while
// transforms run, so threads share them).
struct TSpecs {
  std::mutex Lock;
  IppsFFTSpec_C_64fc* C[31] = {};
  IppsFFTSpec_R_64f* R[31] = {};
};
TSpecs& Specs() {
  static TSpecs* s = new TSpecs;  // kept for the life of the process
  return *s;
}
IppsFFTSpec_C_64fc* SpecC(int order) {
  TSpecs& s = Specs();
  std::lock_guard g(s.Lock);
  if (!s.C[order]) Check(ippsFFTInitAlloc_C_64fc(&s.C[order], order, IPP_FFT_NODIV_BY_ANY, ippAlgHintAccurate), "FFT plan");
  return s.C[order];
}
IppsFFTSpec_R_64f* SpecR(int order) {
  TSpecs& s = Specs();
  std::lock_guard g(s.Lock);
  if (!s.R[order]) Check(ippsFFTInitAlloc_R_64f(&s.R[order], order, IPP_FFT_NODIV_BY_ANY, ippAlgHintAccurate), "FFT plan");
  return s.R[order];
}

// The thread's work memory for the built-in transforms (null: the routine's own).
Ipp8u* Work(int bytes) {
  if (VendorFFT() || bytes <= 0) return nullptr;
  thread_local std::vector<Ipp8u> work;
  if (static_cast<int>(work.size()) < bytes) work.resize(static_cast<std::size_t>(bytes));
  return work.data();
}
Ipp8u* WorkC(const IppsFFTSpec_C_64fc* s) {
  int n = 0;
  if (!VendorFFT()) builtin::ippsFFTGetBufSize_C_64fc(s, &n);
  return Work(n);
}
Ipp8u* WorkR(const IppsFFTSpec_R_64f* s) {
  int n = 0;
  if (!VendorFFT()) builtin::ippsFFTGetBufSize_R_64f(s, &n);
  return Work(n);
}

int OrderOf(std::int64_t n) {
  if (n <= 0 || (n & (n - 1)) != 0) return -1;
  int o = 0;
  while ((std::int64_t{1} << o) < n) ++o;
  return o;
}

// Power-of-two complex transform, out of place (or in place).
void Pow2C(const cd* src, cd* dst, int order, bool inverse) {
  auto* spec = SpecC(order);
  auto* s = reinterpret_cast<const Ipp64fc*>(src);
  auto* d = reinterpret_cast<Ipp64fc*>(dst);
  Check(inverse ? ippsFFTInv_CToC_64fc(s, d, spec, WorkC(spec)) : ippsFFTFwd_CToC_64fc(s, d, spec, WorkC(spec)), "FFT");
}

// Bluestein's algorithm: a length-n DFT as a convolution of length m = 2^k
// >= 2n - 1. The chirp exp(-i pi k^2 / n) takes k^2 mod 2n in integers, so
// its angle stays exact for any n.
struct TBluestein {
  std::int64_t N = 0, M = 0;
  int Order = 0;
  std::vector<cd> W;   // chirp, n values
  std::vector<cd> FB;  // transform of the conjugate chirp, m values, scaled by 1/m
  explicit TBluestein(std::int64_t n) : N(n) {
    M = 1;
    while (M < 2 * n - 1) M <<= 1;
    Order = OrderOf(M);
    W.resize(static_cast<std::size_t>(n));
    const std::int64_t twoN = 2 * n;
    for (std::int64_t k = 0; k < n; ++k) {
      const std::int64_t k2 = static_cast<std::int64_t>((static_cast<unsigned __int128>(k) * k) % static_cast<unsigned __int128>(twoN));
      const double a = std::numbers::pi * static_cast<double>(k2) / static_cast<double>(n);
      W[static_cast<std::size_t>(k)] = cd(std::cos(a), -std::sin(a));
    }
    std::vector<cd> b(static_cast<std::size_t>(M), cd(0, 0));
    b[0] = std::conj(W[0]);
    for (std::int64_t k = 1; k < n; ++k) b[static_cast<std::size_t>(k)] = b[static_cast<std::size_t>(M - k)] = std::conj(W[static_cast<std::size_t>(k)]);
    FB.resize(static_cast<std::size_t>(M));
    Pow2C(b.data(), FB.data(), Order, false);
    const double s = 1.0 / static_cast<double>(M);
    for (cd& v : FB) v *= s;
  }
  // Forward DFT of n values (inverse: conj in, conj out).
  void Run(const cd* src, cd* dst, bool inverse) const {
    thread_local std::vector<cd> a;
    a.assign(static_cast<std::size_t>(M), cd(0, 0));
    for (std::int64_t k = 0; k < N; ++k) {
      const cd x = inverse ? std::conj(src[k]) : src[k];
      a[static_cast<std::size_t>(k)] = x * W[static_cast<std::size_t>(k)];
    }
    Pow2C(a.data(), a.data(), Order, false);
    for (std::int64_t k = 0; k < M; ++k) a[static_cast<std::size_t>(k)] *= FB[static_cast<std::size_t>(k)];
    Pow2C(a.data(), a.data(), Order, true);
    for (std::int64_t k = 0; k < N; ++k) {
      const cd y = a[static_cast<std::size_t>(k)] * W[static_cast<std::size_t>(k)];
      dst[k] = inverse ? std::conj(y) : y;
    }
  }
};

std::shared_ptr<const TBluestein> BluesteinFor(std::int64_t n) {
  static std::mutex lock;
  static auto* cache = new std::map<std::int64_t, std::shared_ptr<const TBluestein>>;  // kept for the process
  {
    std::lock_guard g(lock);
    auto it = cache->find(n);
    if (it != cache->end()) return it->second;
  }
  auto plan = std::make_shared<const TBluestein>(n);
  std::lock_guard g(lock);
  if (cache->size() >= 32) cache->clear();
  (*cache)[n] = plan;
  return plan;
}

void ComplexRow(const cd* src, cd* dst, std::int64_t n, bool inverse) {
  const int order = OrderOf(n);
  if (order >= 0) Pow2C(src, dst, order, inverse);
  else BluesteinFor(n)->Run(src, dst, inverse);
}

void Scale(cd* p, std::int64_t n, double s) {
  if (s != 1.0) ippsMulC_64f_I(s, reinterpret_cast<double*>(p), static_cast<int>(2 * n));
}
void Scale(double* p, std::int64_t n, double s) {
  if (s != 1.0) ippsMulC_64f_I(s, p, static_cast<int>(n));
}

using CArray = pyb::array_t<cd, pyb::array::c_style>;
using RArray = pyb::array_t<double, pyb::array::c_style>;

void CheckLength(std::int64_t n) {
  if (n < 1) throw pyb::value_error("Invalid number of FFT data points (" + std::to_string(n) + ") specified.");
  if (n > (std::int64_t{1} << 29)) throw pyb::value_error("FFT length above 2**29 points");
}

// x: (rows, n) complex128; y: the transform of each row, times AScale.
CArray C2C(CArray x, bool inverse, double scale) {
  if (x.ndim() != 2) throw pyb::value_error("expected a 2-D array");
  const std::int64_t rows = x.shape(0), n = x.shape(1);
  CheckLength(n);
  CArray y({rows, n});
  const cd* src = x.data();
  cd* dst = y.mutable_data();
  {
    pyb::gil_scoped_release release;
    for (std::int64_t r = 0; r < rows; ++r) {
      ComplexRow(src + r * n, dst + r * n, n, inverse);
      Scale(dst + r * n, n, scale);
    }
  }
  return y;
}

// x: (rows, n) float64; y: (rows, n/2 + 1) complex128.
CArray R2C(RArray x, double scale) {
  if (x.ndim() != 2) throw pyb::value_error("expected a 2-D array");
  const std::int64_t rows = x.shape(0), n = x.shape(1), m = n / 2 + 1;
  CheckLength(n);
  CArray y({rows, m});
  const double* src = x.data();
  cd* dst = y.mutable_data();
  {
    pyb::gil_scoped_release release;
    const int order = OrderOf(n);
    std::vector<cd> tmp(order >= 0 ? 0 : static_cast<std::size_t>(2 * n));
    for (std::int64_t r = 0; r < rows; ++r) {
      const double* s = src + r * n;
      cd* d = dst + r * m;
      if (n == 1) {
        d[0] = cd(s[0], 0);
      } else if (order >= 0) {
        auto* spec = SpecR(order);
        Check(ippsFFTFwd_RToCCS_64f(s, reinterpret_cast<double*>(d), spec, WorkR(spec)), "FFT");
      } else {
        for (std::int64_t k = 0; k < n; ++k) tmp[static_cast<std::size_t>(k)] = cd(s[k], 0);
        BluesteinFor(n)->Run(tmp.data(), tmp.data() + n, false);
        for (std::int64_t k = 0; k < m; ++k) d[k] = tmp[static_cast<std::size_t>(n + k)];
      }
      Scale(d, m, scale);
    }
  }
  return y;
}

// x: (rows, n/2 + 1) complex128 (the Hermitian half); y: (rows, n) float64.
// The imaginary parts of the DC and (even n) Nyquist bins are not used.
RArray C2R(CArray x, std::int64_t n, double scale) {
  if (x.ndim() != 2) throw pyb::value_error("expected a 2-D array");
  CheckLength(n);
  const std::int64_t rows = x.shape(0), m = n / 2 + 1;
  if (x.shape(1) != m) throw pyb::value_error("expected n // 2 + 1 columns");
  RArray y({rows, n});
  const cd* src = x.data();
  double* dst = y.mutable_data();
  {
    pyb::gil_scoped_release release;
    const int order = OrderOf(n);
    std::vector<cd> tmp(static_cast<std::size_t>(order >= 0 ? m : 2 * n));
    for (std::int64_t r = 0; r < rows; ++r) {
      const cd* s = src + r * m;
      double* d = dst + r * n;
      if (n == 1) {
        d[0] = s[0].real();
      } else if (order >= 0) {
        std::copy(s, s + m, tmp.begin());
        tmp[0] = cd(tmp[0].real(), 0);
        tmp[static_cast<std::size_t>(m - 1)] = cd(tmp[static_cast<std::size_t>(m - 1)].real(), 0);
        auto* spec = SpecR(order);
        Check(ippsFFTInv_CCSToR_64f(reinterpret_cast<const double*>(tmp.data()), d, spec, WorkR(spec)), "FFT");
      } else {
        cd* full = tmp.data();
        full[0] = cd(s[0].real(), 0);
        for (std::int64_t k = 1; k < m; ++k) full[k] = s[k];
        if (n % 2 == 0) full[m - 1] = cd(s[m - 1].real(), 0);
        for (std::int64_t k = m; k < n; ++k) full[k] = std::conj(full[n - k]);
        BluesteinFor(n)->Run(full, full + n, true);
        for (std::int64_t k = 0; k < n; ++k) d[k] = full[n + k].real();
      }
      Scale(d, n, scale);
    }
  }
  return y;
}

}  // namespace

void RegisterFFT(pyb::module_& m) {
  m.def("_fft_c2c", &C2C, pyb::arg("x"), pyb::arg("inverse"), pyb::arg("scale"));
  m.def("_fft_r2c", &R2C, pyb::arg("x"), pyb::arg("scale"));
  m.def("_fft_c2r", &C2R, pyb::arg("x"), pyb::arg("n"), pyb::arg("scale"));
}

}  // namespace nx::py
