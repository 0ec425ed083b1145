// Plain scalar twins of the built-in routines: the same contract (statuses,
// checks, special values) written as simple loops and compiled without
// auto-vectorisation. Tests compare every dispatched routine with its twin;
// benchmarks use the twins as the scalar baseline.
#pragma once

#include "vector/IPPPTypes.h"

namespace nx::reference {

#define NX_PRIM(L, name, params) IppStatus name params;
#define NX_PRIM_NOFALLBACK(L, name, params)
#include "vector/NXBasicDispatcher.inc"
#include "vector/NXScopeDispatcher.inc"
#include "vector/NXResizeDispatcher.inc"
#include "vector/NXNormDispatcher.inc"
#undef NX_PRIM
#undef NX_PRIM_NOFALLBACK

}  // namespace nx::reference
