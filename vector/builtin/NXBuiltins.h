// The package's own routines behind the dispatch tables, one per primitive
// name, with exactly the vendor's signature. The dispatchers fall back to
// these when the vendor library does not supply a name; they are also called
// directly by tests and benchmarks. Not part of the installed interface.
#pragma once

#include "vector/IPPPTypes.h"

namespace nx::builtin {

#define NX_PRIM(L, name, params) IppStatus name params;
#define NX_PRIM_NOFALLBACK(L, name, params)
#include "vector/NXBasicDispatcher.inc"
#include "vector/NXScopeDispatcher.inc"
#include "vector/NXResizeDispatcher.inc"
#include "vector/NXNormDispatcher.inc"
#undef NX_PRIM
#undef NX_PRIM_NOFALLBACK

// Name of the SIMD target the kernels dispatch to on this machine ("AVX3",
// "AVX2", "SSE4", "EMU128" ...).
const char* SimdTargetName();

}  // namespace nx::builtin
