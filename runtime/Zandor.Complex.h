// Zandor.Complex: the complex number of the runtime, two 64-bit floats, the
// real part first and then the imaginary part. The layout is fixed (16 bytes,
// no padding) because buffers of complex samples hand their memory as an
// array of TComplex to the vector primitives, which read the same layout.
#pragma once

#include <cstddef>
#include <type_traits>

namespace nx {

struct TComplex {
  double Re = 0.0;
  double Im = 0.0;

  friend constexpr bool operator==(const TComplex&, const TComplex&) = default;
};

static_assert(sizeof(TComplex) == 16, "TComplex must be two packed doubles");
static_assert(offsetof(TComplex, Re) == 0 && offsetof(TComplex, Im) == 8, "real part first, then imaginary");
static_assert(std::is_standard_layout_v<TComplex> && std::is_trivially_copyable_v<TComplex>,
              "TComplex arrays are copied as bytes");

}  // namespace nx
