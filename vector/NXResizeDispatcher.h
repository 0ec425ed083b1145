// NXResizeDispatcher: dispatch pointers of the named primitives listed in
// NXResizeDispatcher.inc. Each pointer is filled once at package start-up with
// the vendor library's routine of that name when the library supplies it, else
// with the package's own routine; callers call through the pointer.
#pragma once

#include <span>

#include "vector/IPPPTypes.h"

namespace nx::NXResizeDispatcher {

#define NX_PRIM(L, name, params)        \
  using TPtr_##name = IppStatus(*) params; \
  extern TPtr_##name name;
#define NX_PRIM_NOFALLBACK NX_PRIM
#include "vector/NXResizeDispatcher.inc"
#undef NX_PRIM
#undef NX_PRIM_NOFALLBACK

// The table as filled at start-up, in fill order.
std::span<const TNXDispatchEntry> DispatchTable();

// Start-up and finalization sections, run by the package start-up.
void UnitInitialize();
void UnitFinalize();

}  // namespace nx::NXResizeDispatcher

namespace nx {
using namespace NXResizeDispatcher;
}
