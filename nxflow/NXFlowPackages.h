// NXFlowPackages: component packages for the nxflow host. A component package
// is a shared library that declares its component classes with NX_PACKAGE;
// the library's LoadComponentPackage checks it and registers them. The host finds packages by name on a search path: the folders
// given on the command line, then those of NXFLOW_PACKAGE_PATH
// (colon-separated), then the folders beside the host program
// ("../packages" in a build tree, "../lib/nxflow" once installed).
//
// A package may also be a Python module: NAME.py in a folder of the search
// path, for a NAME that is a Python identifier (no dots, no folder). Its
// component classes are Python classes (nxruntime.component). Loading one
// imports exactly that file: never through sys.path, never from the current
// folder. The host itself does not link Python: the first module loaded
// loads the package "nxpython" (found on the search path like any other),
// which embeds the interpreter; inside a Python process the nxruntime module
// installs its own importer instead (SetPythonModuleImporter).
//
// Packages stay loaded until the process ends: the classes they registered
// may be referenced by objects that live as long as the host.
#pragma once

#include <string>
#include <vector>

#include "components/NXComponentPackage.h"
#include "runtime/SysUtils.h"

namespace nx::flow {

using nx::EPackageError;

class TPackageLoader {
 public:
  // AExtraDirs come first on the search path; AProgramPath (argv[0] or
  // /proc/self/exe) gives the folders beside the program.
  TPackageLoader(std::vector<std::string> AExtraDirs, const std::string& AProgramPath);

  const std::vector<std::string>& SearchPath() const noexcept { return FSearchPath; }
  // Loads the package ANameOrPath: a path (it contains '/') or a name looked
  // up as libNAME.so, then NAME.so, then NAME.py (a Python module, see
  // above), in each folder of the search path.
  // Loading a package again does nothing. EPackageError naming what was
  // tried, or the loader's message, when it cannot be loaded.
  std::string Load(const std::string& ANameOrPath);
  // Loads every *.so of every folder on the search path (folders that do not
  // exist are skipped); returns how many were newly loaded.
  int LoadAll();
  // The files loaded so far, in load order.
  const std::vector<std::string>& Loaded() const noexcept { return FLoaded; }

 private:
  std::string Resolve(const std::string& AName) const;
  bool LoadFile(const std::string& APath);
  bool ImportPythonModule(const std::string& APath, const std::string& AName);

  std::vector<std::string> FSearchPath;
  std::vector<std::string> FLoaded;
};

// Imports the Python module AName from the file AFile and registers its
// component classes; throws EPackageError with Python's message otherwise.
using TPythonModuleImporter = void (*)(const std::string& AFile, const std::string& AName);
// Installed by the nxruntime Python module (a host that runs inside Python);
// without one, the loader embeds Python through the "nxpython" package.
void SetPythonModuleImporter(TPythonModuleImporter AImporter);

// Whether AName may name a Python module file of the search path: a Python
// identifier (letters, digits and '_', not starting with a digit).
bool IsPythonModuleName(const std::string& AName);

// Splits a list written with separators (',' or ':' or ' ') into its
// non-empty entries.
std::vector<std::string> SplitList(const std::string& AText, const char* ASeparators);

}  // namespace nx::flow
