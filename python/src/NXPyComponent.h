// Component classes written in Python (NXPyComponent.cpp): the native half
// of nxruntime.component (components.py).
#pragma once

#include "NXPyCommon.h"

namespace nx::py {

// _register_component, and the package loader's importer of Python modules.
void RegisterComponents(pyb::module_& m);

}  // namespace nx::py
