// NXNormDispatcher: fills its dispatch pointers at start-up.
#include "vector/NXNormDispatcher.h"
#include "runtime/NXPackage.h"

#include "vector/NXDispatchFill.h"

namespace nx::NXNormDispatcher {

#define NX_DISPATCH_UNIT "NXNormDispatcher"
#define NX_DISPATCH_LIST "vector/NXNormDispatcher.inc"
#include "vector/NXDispatchUnit.inc"

void UnitInitialize() { FillPointers(); }

// The pointers are not cleared: nothing may call a primitive after finalization.
void UnitFinalize() {}

}  // namespace nx::NXNormDispatcher

NX_PACKAGE_UNIT(NXNormDispatcher, &nx::NXNormDispatcher::UnitInitialize, &nx::NXNormDispatcher::UnitFinalize)
