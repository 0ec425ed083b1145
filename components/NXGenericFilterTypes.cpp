// NXGenericFilterTypes: the unit has no work at start-up; it keeps its place
// in the start-up order so that the units after it may rely on it.
#include "components/NXGenericFilterTypes.h"

#include "runtime/NXPackage.h"

NX_PACKAGE_UNIT(NXGenericFilterTypes, nullptr, nullptr)
