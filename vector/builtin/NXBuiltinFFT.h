// The package's own double-precision FFT: power-of-two complex and real (CCS)
// transforms with the vendor's interface (plan once with InitAlloc, execute
// many times, release with Free). The eight transform routines are dispatch
// primitives and are declared with the others in NXBuiltins.h; this header
// adds the built-in FFT's own helpers.
#pragma once

#include "vector/IPPPTypes.h"
#include "vector/builtin/NXBuiltins.h"

namespace nx::builtin {

// Size in bytes of the work buffer a transform with this spec uses (0 when it
// needs none). A caller's buffer of this size may have any alignment.
IppStatus ippsFFTGetBufSize_R_64f(const IppsFFTSpec_R_64f* pFFTSpec, int* pSize);
IppStatus ippsFFTGetBufSize_C_64fc(const IppsFFTSpec_C_64fc* pFFTSpec, int* pSize);

}  // namespace nx::builtin
