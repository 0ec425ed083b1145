// NXNormDispatcher: dispatch pointers of the named primitives listed in
// NXNormDispatcher.inc. Each pointer is filled once at package start-up with
// the vendor library's routine of that name when the library supplies it, else
// with the package's own routine; callers call through the pointer.
#pragma once

#include <span>

#include "vector/IPPPTypes.h"

namespace nx::NXNormDispatcher {

#define NX_DISPATCH_LIST "vector/NXNormDispatcher.inc"
#include "vector/NXDispatchDecl.inc"

}  // namespace nx::NXNormDispatcher

namespace nx {
using namespace NXNormDispatcher;
}
