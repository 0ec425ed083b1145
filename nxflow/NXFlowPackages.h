// NXFlowPackages: component packages for the nxflow host. A component package
// is a shared library that declares its component classes with NX_PACKAGE;
// the library's LoadComponentPackage checks it and registers them. The host finds packages by name on a search path: the folders
// given on the command line, then those of NXFLOW_PACKAGE_PATH
// (colon-separated), then the folders beside the host program
// ("../packages" in a build tree, "../lib/nxflow" once installed).
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
  // up as libNAME.so, then NAME.so, in each folder of the search path.
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

  std::vector<std::string> FSearchPath;
  std::vector<std::string> FLoaded;
};

// Splits a list written with separators (',' or ':' or ' ') into its
// non-empty entries.
std::vector<std::string> SplitList(const std::string& AText, const char* ASeparators);

}  // namespace nx::flow
