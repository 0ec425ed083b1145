// Graph documents from Python (NXPyGraph.cpp): nxruntime._nxruntime._Graph,
// wrapped by nxruntime.Graph (graph.py).
#pragma once

#include <pybind11/pybind11.h>

namespace nx::py {

void RegisterGraph(pybind11::module_& m);

}  // namespace nx::py
