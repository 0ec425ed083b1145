// NXBasicDispatcher: fills its dispatch pointers at start-up.
#include "vector/NXBasicDispatcher.h"
#include "runtime/NXPackage.h"

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

void* NXMallocLineAligned(std::uint64_t size) {
  if (size < 1) return nullptr;
  if (size > 0x7FFFFFFFu - 32u) return size > 0x7FFFFFFFu ? nullptr : _ippMalloc(static_cast<Ipp32s>(size));
  auto* p = static_cast<std::uint8_t*>(_ippMalloc(static_cast<Ipp32s>(size + 32u)));
  if (p == nullptr || (reinterpret_cast<std::uintptr_t>(p) & 63u) == 0) return p;
  std::uint8_t* q = p + 32;
  reinterpret_cast<void**>(q)[-1] = reinterpret_cast<void**>(p)[-1];
  return q;
}

void UnitInitialize() {
  // The vendor threading runtime must not pin its threads to cores.
  ::setenv("KMP_AFFINITY", "disabled", 1);
  FillPointers();
}

// The pointers are not cleared: nothing may call a primitive after finalization.
void UnitFinalize() {}

}  // namespace nx::NXBasicDispatcher

NX_PACKAGE_UNIT(NXBasicDispatcher, &nx::NXBasicDispatcher::UnitInitialize, &nx::NXBasicDispatcher::UnitFinalize)
