// NXComponentPackage: component packages. A package is a shared library of
// component classes; it declares them in one line,
//
//   NX_PACKAGE("clipper", "1.0", TClipper)                       // classes named here
//   NX_PACKAGE_LIST("nxexamples", "2.1", nx::examples::AddClasses)  // or filled in by a function
//
// which records the package's name, its version and the runtime ABI version
// it was compiled against, and exports them under one symbol. Nothing runs
// when the library is mapped: LoadComponentPackage opens it, refuses it when
// the ABI versions differ (naming both) or when it declares no package, and
// only then registers its classes. Packages stay loaded until the process
// ends: objects of their classes may live as long as the program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/SysUtils.h"
#include "runtime/Zandor.TypeInfo.h"

// The runtime's binary interface: raised whenever a class layout or virtual
// table of an installed header changes incompatibly. A package compiled
// against one value is refused by a runtime of another.
#define NX_RUNTIME_ABI_VERSION 2

// The persistence of a component class and the usual constructor (an owner;
// the published properties take their defaults). A class with a constructor
// of its own uses NX_PERSISTENT and calls InitProperties(this) there.
#define NX_COMPONENT(Self, Base) \
  NX_PERSISTENT(Self, Base)      \
 public:                         \
  explicit Self(::nx::TComponent* AOwner) : Base(AOwner) { InitProperties(this); }

namespace nx {

NX_DECLARE_EXCEPTION(EPackageError, Exception, "Package error")

// What a package exports (plain data, so that a runtime of another ABI can
// still read the version fields, which come first and never move).
struct TNXPackageInfo {
  std::int32_t AbiVersion;
  const char* Name;
  const char* Version;
  void (*AddClasses)(std::vector<const TClassInfo*>& AList);
};

// The symbol every package exports.
inline constexpr const char* kNXPackageInfoSymbol = "nx_package_info";

// Appends each class's description to AList (in the library, so that a
// package's file instantiates no vector code of its own).
void NXAppendPackageClasses(std::vector<const TClassInfo*>& AList, const TClassInfo& (*const* AClasses)(),
                            std::size_t ACount);

template <class... T>
void NXAddPackageClasses(std::vector<const TClassInfo*>& AList) {
  static const TClassInfo& (*const classes[])() = {&T::StaticClassInfo...};
  NXAppendPackageClasses(AList, classes, sizeof...(T));
}

// A loaded package.
struct TNXLoadedPackage {
  std::string File;  // as opened (canonical)
  std::string Name;
  std::string Version;
  std::vector<const TClassInfo*> Classes;
};

// Loads the package in AFile and registers its classes; a file loaded before
// is not loaded again (its record is returned). EPackageError when the file
// cannot be loaded ("Cannot load package FILE: REASON"), declares no
// package, was built for another ABI ("Package FILE (clipper 1.0) was built
// for runtime ABI 7; this runtime has ABI 1"), or names a class another
// package registered already.
const TNXLoadedPackage& LoadComponentPackage(const std::string& AFile);

}  // namespace nx

// (Variadic so that NX_PACKAGE can hand on a template argument list whose
// commas the preprocessor would otherwise split.)
#define NX_PACKAGE_LIST(AName, AVersion, ...)                                                         \
  extern "C" __attribute__((visibility("default"))) const ::nx::TNXPackageInfo* nx_package_info() { \
    static const ::nx::TNXPackageInfo info{NX_RUNTIME_ABI_VERSION, AName, AVersion, __VA_ARGS__};     \
    return &info;                                                                                     \
  }

#define NX_PACKAGE(AName, AVersion, ...) NX_PACKAGE_LIST(AName, AVersion, ::nx::NXAddPackageClasses<__VA_ARGS__>)
