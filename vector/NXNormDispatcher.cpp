// NXNormDispatcher: fills its dispatch pointers at start-up.
#include "vector/NXNormDispatcher.h"

#include "vector/NXDispatchFill.h"

namespace nx::NXNormDispatcher {

#define NX_PRIM(L, name, params) TPtr_##name name = nullptr;
#define NX_PRIM_NOFALLBACK NX_PRIM
#include "vector/NXNormDispatcher.inc"
#undef NX_PRIM
#undef NX_PRIM_NOFALLBACK

namespace {
#define NX_PRIM(L, name, params) +1
#define NX_PRIM_NOFALLBACK NX_PRIM
constexpr int kCount = 0
#include "vector/NXNormDispatcher.inc"
    ;
#undef NX_PRIM
#undef NX_PRIM_NOFALLBACK
TNXDispatchEntry gTable[kCount];
}  // namespace

std::span<const TNXDispatchEntry> DispatchTable() { return {gTable, static_cast<std::size_t>(kCount)}; }

void UnitInitialize() {
  int i = 0;
#define NX_PRIM(L, name, params) NX_FILL_PRIM("NXNormDispatcher", L, name, &::nx::builtin::name)
#define NX_PRIM_NOFALLBACK(L, name, params) NX_FILL_PRIM("NXNormDispatcher", L, name, static_cast<TPtr_##name>(nullptr))
#include "vector/NXNormDispatcher.inc"
#undef NX_PRIM
#undef NX_PRIM_NOFALLBACK
}

// The pointers are not cleared: nothing may call a primitive after finalization.
void UnitFinalize() {}

}  // namespace nx::NXNormDispatcher
