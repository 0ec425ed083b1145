// NXBasicDispatcher: fills its dispatch pointers at start-up.
#include "vector/NXBasicDispatcher.h"

#include <cstdlib>

#include <cstdint>

#include "vector/NXDispatchFill.h"
#include "vector/RGMalloc.h"

namespace nx::NXBasicDispatcher {

#define NX_DISPATCH_UNIT "NXBasicDispatcher"
#define NX_DISPATCH_LIST "vector/NXBasicDispatcher.inc"
#include "vector/NXDispatchUnit.inc"

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

void UnitInitialize() {
  // The vendor threading runtime must not pin its threads to cores.
  ::setenv("KMP_AFFINITY", "disabled", 1);
  FillPointers();
}

// The pointers are not cleared: nothing may call a primitive after finalization.
void UnitFinalize() {}

}  // namespace nx::NXBasicDispatcher
