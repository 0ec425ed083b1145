// Internal entry points of the built-in Filters family that the dispatch
// table does not name: the direct-sum method of the convolution, whatever the
// operand sizes, so that benchmarks and tests can measure the transform
// method against it. Not part of the installed interface.
#pragma once

#include "vector/IPPPTypes.h"

namespace nx::builtin::detail {

// ippsConv_64f computed by direct sums at every size (same checks and statuses).
IppStatus ConvDirect(const Ipp64f* pSrc1, int src1Len, const Ipp64f* pSrc2, int src2Len, Ipp64f* pDst);

}  // namespace nx::builtin::detail
