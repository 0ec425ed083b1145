// NXBasicDispatcher: fills its dispatch pointers at start-up.
#include "vector/NXBasicDispatcher.h"

#include <cstdlib>

#include <cstdint>

#include "vector/NXDispatchFill.h"
#include "vector/RGMalloc.h"

namespace nx::NXBasicDispatcher {

#define NX_PRIM(L, name, params) TPtr_##name name = nullptr;
#define NX_PRIM_NOFALLBACK NX_PRIM
#include "vector/NXBasicDispatcher.inc"
#undef NX_PRIM
#undef NX_PRIM_NOFALLBACK

namespace {
#define NX_PRIM(L, name, params) +1
#define NX_PRIM_NOFALLBACK NX_PRIM
constexpr int kCount = 0
#include "vector/NXBasicDispatcher.inc"
    ;
#undef NX_PRIM
#undef NX_PRIM_NOFALLBACK
TNXDispatchEntry gTable[kCount];
}  // namespace

void* _ippMalloc(Ipp32s size) {
  if (size < 1) return nullptr;
  // 36 extra bytes leave room for rounding up to 32 and for the raw address
  // stored in the pointer-sized word below the aligned block (malloc's blocks
  // are 16-byte aligned, so at least 16 bytes lie below the result).
  const std::uint32_t total = static_cast<std::uint32_t>(size) + 36u;
  void* raw = RGMalloc::_malloc(total);
  if (!raw) return nullptr;
  const std::uintptr_t aligned = (reinterpret_cast<std::uintptr_t>(raw) + 35u) & ~std::uintptr_t{31};
  reinterpret_cast<void**>(aligned)[-1] = raw;
  return reinterpret_cast<void*>(aligned);
}

void _ippFree(void* p) {
  if (!p) return;
  RGMalloc::_free(static_cast<void**>(p)[-1]);
}

std::span<const TNXDispatchEntry> DispatchTable() { return {gTable, static_cast<std::size_t>(kCount)}; }

void UnitInitialize() {
  // The vendor threading runtime must not pin its threads to cores.
  ::setenv("KMP_AFFINITY", "disabled", 1);
  int i = 0;
#define NX_PRIM(L, name, params) NX_FILL_PRIM("NXBasicDispatcher", L, name, &::nx::builtin::name)
#define NX_PRIM_NOFALLBACK(L, name, params) NX_FILL_PRIM("NXBasicDispatcher", L, name, static_cast<TPtr_##name>(nullptr))
#include "vector/NXBasicDispatcher.inc"
#undef NX_PRIM
#undef NX_PRIM_NOFALLBACK
}

// The pointers are not cleared: nothing may call a primitive after finalization.
void UnitFinalize() {}

}  // namespace nx::NXBasicDispatcher
