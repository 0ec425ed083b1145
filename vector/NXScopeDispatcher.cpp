// NXScopeDispatcher: fills its dispatch pointers at start-up.
#include "vector/NXScopeDispatcher.h"
#include "runtime/NXPackage.h"

#include "vector/NXDispatchFill.h"

namespace nx::NXScopeDispatcher {

#define NX_DISPATCH_UNIT "NXScopeDispatcher"
#define NX_DISPATCH_LIST "vector/NXScopeDispatcher.inc"
#include "vector/NXDispatchUnit.inc"

void UnitInitialize() { FillPointers(); }

// The pointers are not cleared: nothing may call a primitive after finalization.
void UnitFinalize() {}

}  // namespace nx::NXScopeDispatcher

NX_PACKAGE_UNIT(NXScopeDispatcher, &nx::NXScopeDispatcher::UnitInitialize, &nx::NXScopeDispatcher::UnitFinalize)
