// NXResizeDispatcher: fills its dispatch pointers at start-up.
#include "vector/NXResizeDispatcher.h"
#include "runtime/NXPackage.h"

#include "vector/NXDispatchFill.h"

namespace nx::NXResizeDispatcher {

#define NX_DISPATCH_UNIT "NXResizeDispatcher"
#define NX_DISPATCH_LIST "vector/NXResizeDispatcher.inc"
#include "vector/NXDispatchUnit.inc"

void UnitInitialize() { FillPointers(); }

// The pointers are not cleared: nothing may call a primitive after finalization.
void UnitFinalize() {}

}  // namespace nx::NXResizeDispatcher

NX_PACKAGE_UNIT(NXResizeDispatcher, &nx::NXResizeDispatcher::UnitInitialize, &nx::NXResizeDispatcher::UnitFinalize)
