// NXResizeDispatcher: fills its dispatch pointers at start-up.
#include "vector/NXResizeDispatcher.h"

#include "vector/NXDispatchFill.h"

namespace nx::NXResizeDispatcher {

#define NX_PRIM(L, name, params) TPtr_##name name = nullptr;
#define NX_PRIM_NOFALLBACK NX_PRIM
#include "vector/NXResizeDispatcher.inc"
#undef NX_PRIM
#undef NX_PRIM_NOFALLBACK

namespace {
#define NX_PRIM(L, name, params) +1
#define NX_PRIM_NOFALLBACK NX_PRIM
constexpr int kCount = 0
#include "vector/NXResizeDispatcher.inc"
    ;
#undef NX_PRIM
#undef NX_PRIM_NOFALLBACK
TNXDispatchEntry gTable[kCount];
}  // namespace

std::span<const TNXDispatchEntry> DispatchTable() { return {gTable, static_cast<std::size_t>(kCount)}; }

void UnitInitialize() {
  int i = 0;
#define NX_PRIM(L, name, params) NX_FILL_PRIM("NXResizeDispatcher", L, name, &::nx::builtin::name)
#define NX_PRIM_NOFALLBACK(L, name, params) NX_FILL_PRIM("NXResizeDispatcher", L, name, static_cast<TPtr_##name>(nullptr))
#include "vector/NXResizeDispatcher.inc"
#undef NX_PRIM
#undef NX_PRIM_NOFALLBACK
}

// The pointers are not cleared: nothing may call a primitive after finalization.
void UnitFinalize() {}

}  // namespace nx::NXResizeDispatcher
