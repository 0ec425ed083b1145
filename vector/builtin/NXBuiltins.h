// The package's own routines behind the dispatch tables, one per primitive
// name, with exactly the vendor's signature. The dispatchers fall back to
// these when the vendor library does not supply a name; they are also called
// directly by tests and benchmarks. Not part of the installed interface.
#pragma once

#include <cstdint>
#include <vector>

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

// The SIMD targets compiled into the kernels that this machine runs, best
// first, as Highway's target bits (hwy::TargetName names them).
std::vector<std::int64_t> SimdTargets();

// Makes the dispatch choose among the given targets only (a mask of target
// bits; 0 returns to what the machine runs): tests run every kernel on every
// target this way. Not for use while kernels run on other threads.
void SetSimdTargetsForTest(std::int64_t ATargets);

}  // namespace nx::builtin
