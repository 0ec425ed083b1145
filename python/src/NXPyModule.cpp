// nxruntime._nxruntime: the extension module behind the nxruntime package.
#include "NXPyCommon.h"
#include "NXPyComponent.h"
#include "NXPyGraph.h"
#include "runtime/SysUtils.h"

PYBIND11_MODULE(_nxruntime, m) {
  m.doc() = "The nxruntime signal-processing runtime (buffers, primitives, FFT, filter design, graphs, components in Python)";
  // The library's exceptions reach Python with their own message.
  pybind11::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const nx::Exception& e) {
      PyErr_SetString(PyExc_RuntimeError, e.what());
    }
  });
  nx::py::RegisterBuffers(m);
  nx::py::RegisterPrimitives(m);
  nx::py::RegisterFFT(m);
  nx::py::RegisterDesign(m);
  nx::py::RegisterGraph(m);
  nx::py::RegisterComponents(m);
}
