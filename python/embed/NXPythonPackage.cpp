// The "nxpython" package: Python embedded for a host that does not link it.
//
// A document that names a Python module (NAME.py on the package search path)
// needs an interpreter. nxflow stays free of Python: its package loader loads
// this package, like any other, the first time a document names a module, and
// calls nx_python_import_module. The interpreter starts then, once, and stays
// until the process ends (components of Python classes may live as long as
// the host). It starts without the current folder or a script's folder on
// sys.path and without signal handlers of its own (the host keeps Ctrl-C),
// and releases the GIL: the components take it per call. The nxruntime Python
// package is found on the interpreter's own path (PYTHONPATH, site-packages),
// else in the build tree this package was built in. Inside a Python process
// this package is never asked: the nxruntime module imports modules itself.
#include <Python.h>

#include <cstddef>
#include <cstring>
#include <mutex>
#include <string>

#include "components/NXComponentPackage.h"

namespace {

std::once_flag GStarted;
std::string GStartError;

void Start() {
  if (Py_IsInitialized()) return;
  PyConfig config;
  PyConfig_InitPythonConfig(&config);
  config.install_signal_handlers = 0;
  config.parse_argv = 0;
  config.safe_path = 1;  // no current folder, no script folder on sys.path
  PyStatus status = Py_InitializeFromConfig(&config);
  PyConfig_Clear(&config);
  if (PyStatus_Exception(status)) {
    GStartError = std::string("Python cannot start: ") + (status.err_msg ? status.err_msg : "unknown error");
    return;
  }
  // The build tree's package, after everything the interpreter finds itself.
  PyRun_SimpleString(
      "import sys\n"
      "try:\n"
      "    import nxruntime\n"
      "except ImportError:\n"
      "    sys.path.append(" NX_PYTHON_BUILD_PACKAGE_DIR ")\n");
  PyEval_SaveThread();
}

void Copy(const std::string& AText, char* AOut, std::size_t ASize) {
  if (!AOut || ASize == 0) return;
  const std::size_t n = std::min(AText.size(), ASize - 1);
  std::memcpy(AOut, AText.data(), n);
  AOut[n] = 0;
}

}  // namespace

// Imports the module AName from the file AFile through nxruntime (which
// registers the component classes it declares). 0 on success, else 1 with
// the message (Python's traceback included) in AError.
extern "C" __attribute__((visibility("default"))) int nx_python_import_module(const char* AFile, const char* AName,
                                                                              char* AError, std::size_t AErrorSize) {
  std::call_once(GStarted, Start);
  if (!GStartError.empty()) {
    Copy(GStartError, AError, AErrorSize);
    return 1;
  }
  PyGILState_STATE gil = PyGILState_Ensure();
  std::string error;
  PyObject* module = PyImport_ImportModule("nxruntime.components");
  PyObject* result = nullptr;
  if (module) {
    result = PyObject_CallMethod(module, "_import_module_file", "ss", AName, AFile);
    Py_DECREF(module);
  }
  if (!result) {
    PyObject *type = nullptr, *value = nullptr, *trace = nullptr;
    PyErr_Fetch(&type, &value, &trace);
    PyErr_NormalizeException(&type, &value, &trace);
    error = std::string("Python module ") + AName + " (" + AFile + ") cannot be imported:\n";
    PyObject* tb = PyImport_ImportModule("traceback");
    PyObject* lines = tb && type ? PyObject_CallMethod(tb, "format_exception", "OOO", type, value ? value : Py_None,
                                                       trace ? trace : Py_None)
                                 : nullptr;
    PyObject* empty = PyUnicode_FromString("");
    PyObject* joined = lines && empty ? PyUnicode_Join(empty, lines) : nullptr;
    const char* text = joined ? PyUnicode_AsUTF8(joined) : nullptr;
    error += text ? text : "(no message)";
    while (!error.empty() && error.back() == '\n') error.pop_back();
    PyErr_Clear();
    Py_XDECREF(joined);
    Py_XDECREF(empty);
    Py_XDECREF(lines);
    Py_XDECREF(tb);
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(trace);
  }
  Py_XDECREF(result);
  PyGILState_Release(gil);
  Copy(error, AError, AErrorSize);
  return error.empty() ? 0 : 1;
}

// A package of no component classes of its own: the classes come from the
// modules it imports.
static void NoClasses(std::vector<const nx::TClassInfo*>&) {}
NX_PACKAGE_LIST("nxpython", "1.0", &NoClasses)
