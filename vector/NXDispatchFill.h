// The fill step shared by the dispatchers (internal): look the name up in the
// vendor library (S: signal library, I: image libraries), fall back to the
// built-in routine, and record the outcome in the unit's table.
#pragma once

#include "vector/RGIPPILoader.h"
#include "vector/RGIPPSLoader.h"
#include "vector/builtin/NXBuiltins.h"

#define NX_LOOKUP_S(n) ::nx::RGIPPSLoader::GetIPPSProcAddress(n)
#define NX_LOOKUP_I(n) ::nx::RGIPPILoader::GetIPPIProcAddress(n)

#define NX_FILL_PRIM(unit, L, name, builtinAddr)                                  \
  {                                                                               \
    void* vendor = NX_LOOKUP_##L(#name);                                          \
    const void* own = reinterpret_cast<const void*>(builtinAddr);                 \
    name = vendor ? reinterpret_cast<TPtr_##name>(vendor)                          \
                  : reinterpret_cast<TPtr_##name>(const_cast<void*>(own));        \
    gTable[i++] = TNXDispatchEntry{#name, unit, #L[0],                            \
                                   reinterpret_cast<const void*>(name), own,      \
                                   vendor != nullptr};                            \
  }
