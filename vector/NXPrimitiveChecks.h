// Argument checks shared by the built-in routines and their scalar twins
// (internal to the vector layer). Both sides must refuse the same arguments
// with the same status, so the rules live here once.
#pragma once

#include "vector/IPPPTypes.h"

namespace nx::primchecks {

// Null pointers first, then the length: a length below 1 is a size error.
template <typename... P>
inline IppStatus CheckLenPtrs(int len, const P*... ptrs) {
  if ((... || !ptrs)) return ippStsNullPtrErr;
  return len < 1 ? ippStsSizeErr : ippStsNoErr;
}

// The smallest normal double: divisors of smaller magnitude are refused.
inline constexpr double kMinDivisor = 2.2250738585072014e-308;

}  // namespace nx::primchecks
