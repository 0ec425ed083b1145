// Shared pieces of the Python extension (nxruntime._nxruntime): the numpy
// element types of the primitives, errors that name what failed, and the
// registration functions of the parts (buffers, primitives, FFT, design).
#pragma once

#include <pybind11/complex.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <complex>
#include <cstdint>
#include <string>
#include <type_traits>

#include "vector/IPPPTypes.h"

namespace nx::py {

namespace pyb = pybind11;

// The element types a primitive takes arrays of, with their numpy dtype.
template <class T>
struct TElem : std::false_type {};
#define NX_PY_ELEM(T, NP)                                          \
  template <>                                                      \
  struct TElem<T> : std::true_type {                               \
    static pyb::dtype DType() { return pyb::dtype::of<NP>(); }     \
  };
NX_PY_ELEM(Ipp8u, std::uint8_t)
NX_PY_ELEM(Ipp8s, std::int8_t)
NX_PY_ELEM(Ipp16s, std::int16_t)
NX_PY_ELEM(Ipp16u, std::uint16_t)
NX_PY_ELEM(Ipp32s, std::int32_t)
NX_PY_ELEM(Ipp32u, std::uint32_t)
NX_PY_ELEM(Ipp64s, std::int64_t)
NX_PY_ELEM(Ipp64u, std::uint64_t)
NX_PY_ELEM(Ipp32f, float)
NX_PY_ELEM(Ipp64f, double)
NX_PY_ELEM(Ipp32fc, std::complex<float>)
NX_PY_ELEM(Ipp64fc, std::complex<double>)
#undef NX_PY_ELEM

// True when AArray has exactly the element type of ADType in native byte order.
inline bool SameDType(const pyb::array& AArray, const pyb::dtype& ADType) {
  const pyb::dtype d = AArray.dtype();
  return d.num() == ADType.num() && d.byteorder() != '>';
}

// "float64", "complex128" ...: a dtype's name for messages.
inline std::string DTypeName(const pyb::dtype& ADType) { return pyb::str(ADType.attr("name")); }

void RegisterBuffers(pyb::module_& m);
void RegisterPrimitives(pyb::module_& m);
void RegisterFFT(pyb::module_& m);
void RegisterDesign(pyb::module_& m);

}  // namespace nx::py
