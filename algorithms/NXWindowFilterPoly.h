// Polynomial helpers shared by the IIR designers and the filter descriptions
// of NXWindowFilter (internal to that unit): evaluation of coefficient arrays
// in powers of z^-1, their group delay and a stability test.
#pragma once

#include <cmath>
#include <complex>
#include <cstddef>
#include <limits>
#include <numbers>

namespace nx::windowfilter {

using TCLong = std::complex<long double>;

// sum c[k] z^-k for k = 0 .. n-1, by Horner's rule in z^-1, in the
// precision of zinv (extended for the designers; double where many points
// are wanted and little precision, as in the design report).
template <class T>
std::complex<T> PolyAt(const double* c, std::size_t n, std::complex<T> zinv) {
  std::complex<T> r = 0;
  for (std::size_t k = n; k-- > 0;) r = r * zinv + static_cast<T>(c[k]);
  return r;
}

// The point e^{j 2 pi f} of the unit circle, as z^-1.
template <class T = long double>
std::complex<T> UnitInverse(double f) {
  const T w = 2 * std::numbers::pi_v<T> * f;
  return std::complex<T>(std::cos(w), -std::sin(w));
}

// The group delay contribution Re[sum k c_k z^-k / sum c_k z^-k] of one
// polynomial at z^-1 (a numerator adds it, a denominator subtracts it).
inline long double PolyDelay(const double* c, std::size_t n, TCLong zinv) {
  TCLong num = 0, den = 0, zk = 1;
  long double size = 0;
  for (std::size_t k = 0; k < n; ++k) {
    size += std::fabs(static_cast<long double>(c[k]));
    den += static_cast<long double>(c[k]) * zk;
    num += static_cast<long double>(k) * static_cast<long double>(c[k]) * zk;
    zk *= zinv;
  }
  // A root on the unit circle at this frequency leaves no defined delay.
  if (std::abs(den) <= 1e-12L * size) return std::numeric_limits<long double>::quiet_NaN();
  return (num / den).real();
}

// True when every root of sum a[k] z^-k (a polynomial of degree n - 1 in z)
// lies strictly inside the unit circle: the step-down (Schur-Cohn) recursion
// finds every reflection coefficient below 1 in magnitude.
bool RootsInsideUnitCircle(const double* a, std::size_t n);

}  // namespace nx::windowfilter
